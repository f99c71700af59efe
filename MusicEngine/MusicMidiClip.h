// A music track's MIDI clip as it plays: its media read frame by frame into timed messages queued to
// the clip's MIDI target, note-ons held back once the clip stops, and the play's speed applied to
// the queued offsets. The clip context of the music tree drives it. Audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "MusicEngine/MusicMidiClipParser.h"
#include "SoundEngine/Midi/MidiEvent.h"

namespace SN {

class CSnMidiEventTarget;

class CSnMusicMidiClipPlayer {
 public:
  static constexpr uint32_t kNoStop = 0xFFFFFFFFu;

  // Opens the media at the tempo of the clip's music meter, from `beginMs` into the clip:
  // SN_Failure when the media cannot be read or the begin lies past its last event.
  SNRESULT Open(const uint8_t* media, uint32_t size, float bpm, double beginMs, bool loops);
  // The part of the next frame before the clip begins.
  void SetFrameOffset(uint32_t frames) { m_frameOffset = frames; }

  // Queues this frame's messages to `target`. True the first time the clip ends (stopped in an earlier
  // frame), when its owner gives back the reference it held for the clip's playing.
  bool GenerateFrame(CSnMidiEventTarget& target, SnMidiEventQueue& queue, uint32_t frameLength, uint32_t sampleRate);
  // Stops at `offset` into the current frame, or at once (kNoStop); true the first time a stop at
  // once ends the clip (its reference is given back then).
  bool Stop(uint32_t offset);
  void SetPaused(bool paused) { m_paused = paused; }
  // A muted clip begins no notes; what ends notes or moves controllers still goes out.
  void SetMuted(bool muted) { m_muted = muted; }

  bool Ended() const { return m_ended; }
  bool StoppedAtOnce() const { return m_stoppedAtOnce; }
  bool Paused() const { return m_paused; }
  uint32_t StopOffset() const { return m_stopOffset; }
  SnMidiClipParser& Parser() { return m_parser; }

 private:
  SnMidiClipParser m_parser;
  uint32_t m_frameOffset = 0;
  uint32_t m_stopOffset = kNoStop;
  bool m_paused = false;
  bool m_muted = false;
  bool m_ended = false;
  bool m_firstFrame = true;
  bool m_stoppedAtOnce = false;
};

// Music frames run at the play's speed: a message `n` samples into the music frame is `n / speed`
// samples into the output frame (rounded half away from zero). A speed not finite or not above 0
// leaves the offsets.
void ScaleMidiOffsetsBySpeed(SnMidiEventQueue& queue, float speed);

}  // namespace SN
