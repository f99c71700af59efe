// What a voice source asks of the playback instance that owns it: its source descriptor and media,
// its loop count, pitch and seek request, and where its format, markers, position and buffering
// status go. The playback instance implements it; tests use a plain stand-in. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/VoiceBuffer.h"

namespace SN {

class CSnModulatorInstanceList;
class CSnSourceDesc;
struct SnRTPCKey;

// A seek the instance holds for its source: a fraction of the duration, or output-rate frames.
struct SnSeekRequest {
  bool pending = false;
  bool isFraction = false;
  bool snapToMarker = false;
  float fraction = 0.0f;
  uint64_t outputFrames = 0;
  uint32_t framesToDrop = 0;  // what a block-aligned seek left for the source stage to drop
};

class ISnSourceInstance {
 public:
  virtual ~ISnSourceInstance() = default;

  virtual const CSnSourceDesc& SourceDesc() const = 0;
  // The media bytes in memory (a bank's or a prepared copy), or null.
  virtual const uint8_t* MediaData() const = 0;
  virtual uint32_t MediaSize() const = 0;
  // The first bytes of a streamed sound, kept in its bank; null when none.
  virtual const uint8_t* PrefetchData() const { return nullptr; }
  virtual uint32_t PrefetchSize() const { return 0; }
  // 0 loop forever, 1 play once, n passes.
  virtual uint16_t LoopCount() const = 0;
  // The scope a source plug-in's parameter curves follow for this play (null: every object), and the
  // list their modulators join so that the voice's pause and release reach them (null: none).
  virtual const SnRTPCKey* ParamKey() const { return nullptr; }
  virtual CSnModulatorInstanceList* VoiceModulators() { return nullptr; }
  virtual float PitchCents() const = 0;
  virtual float Priority() const { return 50.0f; }
  // Its pipeline runs 8 frames per audio frame at the reduced rate.
  virtual bool IsMotion() const { return false; }
  // Pitch changes take effect at once rather than over a ramp.
  virtual bool PitchImmediate() const { return false; }

  virtual SnSeekRequest& Seek() = 0;

  // The format is known: the instance sets up its pipeline for it.
  virtual void SetMediaFormat(const SnMediaFormat& format) = 0;

  virtual bool WantsMarkers() const { return false; }
  virtual void PostMarker(const SnMediaMarker&) {}
  // When a source begins: its duration (ms, 0 for ever or not known) and the same at the voice's pitch.
  virtual void PostDuration(float duration, float estimated) {
    (void)duration;
    (void)estimated;
  }
  virtual bool TracksPlayPosition() const { return false; }
  virtual void UpdatePlayPosition(uint32_t /*position*/, float /*rate*/, uint32_t /*total*/) {}
  // A tracked source that begins holds its playing id's position until it ends, unless another
  // voice of the playing id holds it already; the positions of a voice that does not hold it are
  // not kept.
  virtual void AddPlayPositionEntry() {}
  virtual void RemovePlayPositionEntry() {}
  // A streamed source waits for its stream to fill before its first buffer, and tells each check of
  // its stream: SN_NoDataReady while it waits, SN_DataReady once it holds enough, SN_Failure when the
  // stream could not say; `bufferedMs` is the media it holds ahead of what it has played.
  virtual bool WaitsForBuffering() const { return false; }
  virtual void PostBufferingStatus(SNRESULT /*result*/, uint32_t /*bufferedMs*/) {}
  // A play that begins inside its first frame: the stage opens that frame with
  // round((F x RateFactor + InitialOffset) / RateFactor) frames of silence, F the frames of a frame.
  virtual bool HasInitialOffset() const { return false; }
  virtual int32_t InitialOffset() const { return 0; }
  virtual float RateFactor() const { return 1.0f; }
  // A successor that waits before it begins has its wait shortened by the part of the frame its
  // predecessor left unwritten (in its own samples, RateFactor of them to an output frame).
  virtual void SetInitialOffset(int32_t samples) { (void)samples; }
  // A play stopped part-way into the current frame: the output frames it still gives in this frame
  // before it ends; -1 when it is not stopping inside the frame.
  virtual int32_t StopOffset() const { return -1; }
  // The source could not be made: the instance lets go of its voice.
  virtual void DetachVoice() {}
};

}  // namespace SN
