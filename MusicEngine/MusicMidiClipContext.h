// A MIDI clip of a music track as it plays: the track context makes one in place of a voice. It is
// the MIDI target of the clip's notes (the node the track aims its MIDI at) and a leaf of the music
// context tree, so the tree's stops and pauses reach it; each frame it reads its media into timed
// messages for the play's MIDI clock. It lives until the clip has ended and nothing of it is left
// pending (its outstanding count, which the tree's references share, reaches 0).
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicContext.h"
#include "MusicEngine/MusicMidiClip.h"
#include "SoundEngine/Banks/BankMediaHolder.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Midi/MidiEventTarget.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

class CSnBankRecord;
class CSnMusicMidiPlaybackContext;
class CSnMusicTrackContext;
class CSnMusicTrackNode;
class CSnSourceDesc;
struct SnMusicTrackClip;

class CSnMusicMidiClipContext final : public CSnMidiEventTarget, public CSnChildContext, public CSnBankMediaHolder {
 public:
  // What the track context plays: the clip, where in its source it begins (samples), and the part
  // of the current frame before it begins.
  struct Start {
    const CSnSourceDesc* source = nullptr;
    const SnMusicTrackClip* clip = nullptr;
    CSnRegisteredObj* gameObject = nullptr;
    uint32_t playingId = 0;
    uint32_t frameOffset = 0;
    int32_t sourceOffset = 0;
  };
  static constexpr SNRESULT SN_NoSource = SNRESULT(31);

  // A clip context under `track`, fed to `playback`: SN_NoSource without a source, SN_Failure (the
  // context gone, logged) when its media cannot play; on success `out` holds it, with the
  // reference its playing holds until it ends.
  static SNRESULT Create(CSnMusicTrackContext* track, CSnMusicMidiPlaybackContext* playback, const Start& start,
                         CSnMusicMidiClipContext*& out);
  ~CSnMusicMidiClipContext() override;

  // This frame's messages into `queue`, `frameLength` music samples long.
  void GenerateFrame(SnMidiEventQueue& queue, uint32_t frameLength);
  // At once, its notes ended with it: the play is over.
  void EndNow() { OnStopped(CSnMusicContext::kNoStopOffset); }

  // ---- the music context tree ----
  // The track context's stop at the clip's end: it need not be told again.
  void StopFromOwner(uint32_t offset) override;
  void OnFrameEnd() override {}
  // From `offset` in this frame no note begins; its note-offs and controllers still come at their
  // times. kNoStopOffset: at once, its notes with it.
  void OnStopped(uint32_t offset) override;
  void OnPaused() override;
  void OnResumed() override;
  // The tree's fades and speed do not reach MIDI notes: the speed moves the messages instead.
  void SetGainFactor(const void*, float) override {}
  // The gain its track node gives it, known by `key` (1 removes the factor). While the product of
  // its factors is 0 the clip is muted: its sounding notes end and it begins no new ones, as a
  // muted voice would be heard no more; its note-offs and controllers still go out.
  void SetGainFactor(uint32_t key, float value);
  bool Muted() const { return m_muted; }
  void SetParam(uint32_t, float) override {}
  void OnReset() override {}
  void AddRef() override { IncrementPendingCount(); }
  void Release() override { CSnMidiEventTarget::Release(); }

  // ---- the unload of the bank its media lie in ----
  bool HoldsBankMedia(const CSnLoadedBank* bank) const override;
  // Reads on from another copy of its media where one is loaded; else ends at once with its notes
  // and gives the media back.
  void LetGoOfBankMedia(const CSnLoadedBank* bank) override;

  bool Ended() const { return m_player.Ended(); }
  bool StoppedAtOnce() const { return m_player.StoppedAtOnce(); }
  bool Detached() const { return m_detached; }
  CSnMusicMidiClipPlayer& Player() { return m_player; }
  const SnMusicTrackClip* Clip() const { return m_clip; }
  // True once, when the clip has ended and its media has no event left.
  bool TakeExhausted() {
    if (m_exhausted || !Ended() || m_player.Parser().HasEvent()) return false;
    return m_exhausted = true;
  }

 private:
  template <typename T, typename... Args>
  friend T* PoolNew(SnMemPoolId, Args&&...);
  CSnMusicMidiClipContext(CSnMusicTrackContext* track, CSnMusicMidiPlaybackContext* playback, const Start& start,
                          CSnIndexedObject* node);
  SNRESULT Init(CSnMusicTrackNode& trackNode, const Start& start);
  void Destroy() override;
  // Follows the playback speed (41) of its track node for the clip's game object and playing id, as
  // a voice of the track would; the speed reaches the clip through the play's MIDI clock.
  class SpeedLink final : public CSnTargetLink {
   public:
    using CSnTargetLink::CSnTargetLink;
    void SetParamValue(uint32_t, float, float) override {}
    uint64_t WantedMask() const override { return ParameterBit(41); }
  };
  struct GainFactor {
    uint32_t key;
    uint32_t flags;
    float factor;
  };
  // The reference the clip's playing held goes, once.
  void EndPlaying();
  void ReleaseMediaHeld();

  CSnMusicMidiPlaybackContext* m_playback;
  const CSnSourceDesc* m_source;
  const SnMusicTrackClip* m_clip;
  const uint8_t* m_media = nullptr;
  uint32_t m_mediaSize = 0;
  CSnBankRecord* m_mediaBank = nullptr;
  CSnMusicMidiClipPlayer m_player;
  SnArray<GainFactor> m_gainFactors;
  CSnMusicTrackNode* m_trackNode = nullptr;
  SpeedLink m_link;
  bool m_mediaHeld = false;
  bool m_registered = false;
  bool m_connected = false;
  bool m_detached = false;
  bool m_playingReleased = false;
  bool m_exhausted = false;
  bool m_activityTaken = false;
  bool m_listed = false;
  bool m_muted = false;
};

// The node a music track aims its MIDI at: its own when it says so, else that of the nearest music
// ancestor that does; referenced for the caller, null for none or one not loaded.
CSnIndexedObject* FindMusicMidiTarget(const CSnMusicTrackNode& track);

}  // namespace SN
