// The MIDI clock of one music play: each frame the play's MIDI clips read their messages for the
// frame into one queue, placed at their output samples by the play's speed, and the notes play. A
// clip that plays again on a node takes over from the ended clips of that node there.
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"

namespace SN {

class CSnMusicMidiClipContext;

class CSnMusicMidiPlaybackContext final : public CSnMidiPlaybackContext {
 public:
  explicit CSnMusicMidiPlaybackContext(ISnMidiPlayback& playback) : CSnMidiPlaybackContext(playback) {}
  ~CSnMusicMidiPlaybackContext() override;

  // The clips that feed it; false when it cannot hold one more (the clip plays nothing).
  bool Register(CSnMusicMidiClipContext* clip);
  void Unregister(CSnMusicMidiClipContext* clip);
  // One music frame of `frameLength` samples played at `speed`.
  void AdvanceFrame(uint32_t frameLength, float speed);
  // The play is over: every clip ends at once with its notes.
  void EndClips();
  uint32_t ClipCount() const;

 private:
  void OnFlaggedQueueNode(const SnMidiEventNode& node, SnMidiEventQueue& rest) override;
  CSnMusicMidiClipContext* FindClip(const CSnMidiEventTarget* target) const;
  // The messages of `clip` still in `queue` go.
  static void DropQueued(SnMidiEventQueue& queue, const CSnMusicMidiClipContext* clip);
  // Calls `visit` for every clip, each held for the call: a clip may leave while it is visited.
  template <typename Visit>
  void ForEachClip(Visit&& visit);
  void Compact();

  SnArray<CSnMusicMidiClipContext*> m_clips;
  uint32_t m_walks = 0;
};

}  // namespace SN
