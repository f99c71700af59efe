// The first node of a voice pipeline: it pulls buffers from the voice's source, resamples them to
// planar float at the output rate with the voice's pitch, moves their markers and position along,
// puts the voice's volume modulators on each frame, skips while the voice is virtual, and chains a
// successor source without a gap. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/PitchResampler.h"
#include "SoundEngine/Sources/VoiceSource.h"

namespace SN {

class CSnModulatorInstanceList;

class CSnVoiceSourceStage {
 public:
  CSnVoiceSourceStage() = default;
  ~CSnVoiceSourceStage() { Release(); }
  CSnVoiceSourceStage(const CSnVoiceSourceStage&) = delete;
  CSnVoiceSourceStage& operator=(const CSnVoiceSourceStage&) = delete;

  // A prepared source and its instance. The stage does not own the source: the pipeline destroys it.
  SNRESULT Init(CSnVoiceSource* source, const SnMediaFormat& format, ISnSourceInstance* instance,
                uint32_t outputRate);

  // Per frame, before the source is asked: 43 when the pipeline must fetch a source buffer (at most
  // FramesPerBuffer frames) and hand it to Fetch, else the frame's result in `out`.
  SNRESULT UpdatePitchAndFetch(SnVoiceBuffer& out);
  // Takes `input` over when the stage holds no frames (null: carry on with what it holds) and fills
  // `out`: 45 ready, 43 more input needed, 17 the source ended, 2 failure.
  SNRESULT Fetch(SnVoiceBuffer* input, SnVoiceBuffer& out);
  // The pipeline's side of one frame: the pair above until the output is decided; 46 when the source
  // has nothing yet (the voice is silent this frame).
  SNRESULT RunFrame(SnVoiceBuffer& out);
  // After each frame RunFrame delivered: the frame in `out` x the volume modulators of `set` (null:
  // the voice has none). Those that give a signal a sample scale it sample by sample; the others
  // ramp from the value they ended the last frame on to this frame's, except in the voice's first
  // frame (and its first after being virtual), which takes this frame's value throughout.
  void ApplyModulatorGain(const CSnModulatorInstanceList* set, SnVoiceBuffer& out);
  // While the voice is virtual: `frames` output frames in, the frames it stood for out (the silence
  // before the first sample of a play begun inside the frame counted). 45 or 17.
  SNRESULT SkipWhileVirtual(uint32_t& frames);

  // The output frames its source and the input it holds will still give at the current pitch, or -1
  // when the source cannot tell.
  int64_t FramesLeft() const;
  // The frames of initial silence the last frame began with: the start of a voice begun inside it.
  uint32_t LeadingSilence() const { return m_leadingSilence; }
  // Whether what reads the stage's frames reads them only where they sound. Then the silence a voice
  // begun inside its frame opens with is left unwritten (LeadingSilence tells its length), and the
  // frames after a stop inside the frame are taken from the source without being converted.
  void SetSoundingPartOnly(bool only) { m_soundingPartOnly = only; }
  // When a source begins: its duration as prepared, and as the pitch makes it last.
  void NotifyDuration();
  void VirtualOn(uint32_t mode);
  void VirtualOff(uint32_t mode);
  void Seek();
  // The media its source reads moved from `oldBase` to `newBase` (`size` bytes, the same bytes): the
  // buffer it holds follows when it lies in the moved block. The source moves its own pointers.
  void RelocateInput(const uint8_t* newBase, const uint8_t* oldBase, uint32_t size);
  // The successor of a continuous playlist, taken over at the end of the current source in the same
  // output and through the same resampler. One that waits, is not ready then or has another channel
  // layout is let go instead when the source's last output is written (NextSource turns null).
  // The room the hand-over may need to reorder the frame is made here, before the audio pass.
  void AttachNext(CSnVoiceSource* source, ISnSourceInstance* instance);
  CSnVoiceSource* Source() const { return m_pSource; }
  CSnVoiceSource* NextSource() const { return m_pNextSource; }
  // A successor that waits counts its wait from its predecessor's end: the `frames` output frames
  // after that end in the same frame are part of it. True while it still waits past them.
  static bool CountWaitFrom(ISnSourceInstance& next, uint32_t frames);
  // The source a chain moved on from, stopped, for its maker to destroy; null when none.
  CSnVoiceSource* TakeFinishedSource() {
    CSnVoiceSource* finished = m_pFinishedSource;
    m_pFinishedSource = nullptr;
    return finished;
  }
  ISnSourceInstance* Instance() const { return m_pInstance; }
  CSnPitchResampler& Resampler() { return m_resampler; }
  uint32_t FramesPerBuffer() const;
  void ReleaseInput();
  void Stop();
  void Release();

 private:
  // The frame as RunFrame tells it, before a frame left unfinished is kept.
  SNRESULT FillFrame(SnVoiceBuffer& out);
  // Points the output at the block this frame is written in: the shared one, or the stage's own while
  // a frame carried over from the last is unfinished or when the shared one is too small.
  SNRESULT PlaceOutput();
  // A frame the source left unfinished goes on in the next frame, after other voices have written the
  // shared block: it moves to a block of the stage's own. False when there is no memory for it.
  bool KeepCarriedOutput();
  void FreeOwnOutput();
  SNRESULT Deliver(SNRESULT result, SnVoiceBuffer& out);
  // A copy that ends at the stop `stopAt` frames into the frame; the input after it is passed over.
  [[gnu::noinline]] SNRESULT CopyToStop(uint32_t stopAt);
  // Zeros in the output's first `frames` frames, in the order the output is written in.
  void WriteSilence(uint32_t frames);
  // The silence a voice begun inside its first frame opens with, in output frames.
  uint32_t InitialSilence(uint32_t requested) const;
  // The source frames to ask for next: at the output's own rate just those the frame still lacks, so
  // that a voice begun inside a frame holds nothing over and is copied in one run a frame, not two.
  uint32_t FramesToAsk() const;
  // At the source's end: the attached successor taken over, 43 or 45; SN_NoMoreData when it is not
  // (it waits, is not ready yet, or has another channel layout), SN_Failure when it cannot be prepared.
  SNRESULT ChainNextSource();
  // After the last output of a source that did not hand on: the successor is let go, its wait
  // shortened by the frames this output did not fill.
  void LetNextGo();
  // At the source's end: the outputs still due between its last frame and the silence after it.
  // SN_DataReady while the output filled before they were all written, SN_NoMoreData once they are.
  SNRESULT PlayOutLastFrame();
  void MoveMarkers(uint32_t inputBefore, uint32_t outputBefore, uint32_t positionBefore);
  void CapturePosition();
  // The interleaved-copy block with room for `floats` samples (lower engine's pool); null without memory.
  float* Scratch(size_t floats);
  bool NeedsDeinterleave() const {
    return !m_resampler.IsFloat() && m_resampler.m_channels >= 3 && m_resampler.m_state == SnResample_None;
  }

  CSnVoiceSource* m_pSource = nullptr;
  CSnPitchResampler m_resampler;
  SnVoiceBuffer m_input;
  SnVoiceBuffer m_output;  // its data in the shared frame block or in m_pOwnOutput
  float* m_pOwnOutput = nullptr;
  ISnSourceInstance* m_pInstance = nullptr;
  uint8_t m_endReached = 0;
  uint8_t m_lastFramePlayed = 0;  // the outputs after the source's last frame are all written
  uint8_t m_nextRefused = 0;      // the successor is not to be taken over: it is let go at the end
  uint8_t m_positionCaptured = 0;
  uint8_t m_initialOffsetPending = 0;
  uint8_t m_soundingPartOnly = 0;
  uint16_t m_leadingSilence = 0;
  uint32_t m_outputRate = 48000;
  SnMediaFormat m_format;
  float* m_pScratch = nullptr;  // the interleaved copy a de-interleave reads from
  size_t m_scratchFloats = 0;
  uint8_t m_frameDelivered = 0;  // since the start, or since the voice was last virtual
  SnBufferPosition m_position;
  SnMarkerNotification* m_pMarkers = nullptr;
  uint16_t m_markerCount = 0;
  uint32_t m_skipHeld = 0;
  CSnVoiceSource* m_pNextSource = nullptr;
  ISnSourceInstance* m_pNextInstance = nullptr;
  CSnVoiceSource* m_pFinishedSource = nullptr;
};

}  // namespace SN
