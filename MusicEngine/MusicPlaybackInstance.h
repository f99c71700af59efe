// A music voice: the playback instance of one clip's source, and at the same time a leaf of the music
// context tree, so that the tree's fades, pauses, stops and speed reach it, and its track context
// can stop it at an exact sample of a frame.
//
// Threads: audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicContext.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

namespace SN {

class CSnMusicTrackContext;
struct SnMusicTrackClip;

class CSnMusicPlaybackInstance final : public CSnPlaybackInstance, public CSnChildContext {
 public:
  static constexpr uint32_t kDetached = 0x1;         // stopped by its owner: it need not leave the track
  static constexpr uint32_t kEndsWithFadeOut = 0x2;  // a fade-out automation ends it

  CSnMusicPlaybackInstance(const Args& args, CSnMusicTrackContext* owner, const SnMusicTrackClip* clip, float speed);

  // ---- the playback instance ----
  // Joins the track context, then registers as any play does.
  SNRESULT Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB) override;
  void Term(uint32_t flags) override;
  void Destroy() override;
  void StopNow(uint8_t reason, bool flag) override;
  using CSnPlaybackInstance::StopNow;
  // The node's parameters, then the speed as pitch: 1200 x log2(speed) cents.
  void ComputeParameters() override;
  // Heard again after being virtual: the seek and frame offset its track context gives, where the
  // music is now; SN_Failure when the track refuses (stopping, or the clip over by then).
  SNRESULT SyncSeekFromOwner() override;
  void OnInstanceCommand(uint32_t kind, uint32_t parameter, float time) override;
  bool IsStoppedWithoutOffset() const override { return m_stoppedNow && m_stopOffset < 0; }
  int32_t StopOffset() const override { return m_stopOffset; }

  // ---- the music context tree ----
  void StopFromOwner(uint32_t offset) override;
  void OnFrameEnd() override {}
  // Stops at a sample of the frame (music samples, taken at the voice's speed); 0xFFFFFFFF: now.
  void OnStopped(uint32_t offset) override;
  void OnPaused() override;
  void OnResumed() override;
  void SetGainFactor(const void* key, float value) override;
  using CSnPlaybackInstance::SetGainFactor;
  // Parameter 54: the playback speed.
  void SetParam(uint32_t parameterId, float value) override;
  void OnReset() override {}
  void AddRef() override {}
  void Release() override {}

  // A gain of the automation of `type`, under a key of its own.
  void SetAutomationGain(uint32_t type, float value);
  // The low-pass (0) or high-pass (1) automation's value, added to the filter's own: kept through
  // the parameters being computed again.
  void SetAutomationFilter(uint32_t filter, float value);
  void SetFlag(uint32_t flag) { m_musicFlags |= flag; }
  uint32_t MusicFlags() const { return m_musicFlags; }
  const SnMusicTrackClip* Clip() const { return m_clip; }
  float Speed() const { return m_playbackSpeed; }
  // The seek and frame offset a fade-in aligns to the frame grid.
  int32_t SeekSamples() const { return int32_t(m_sourceSeek.outputFrames); }
  int32_t FrameOffset() const { return m_pendingOffset; }
  void MoveEntry(int32_t samples);

 private:
  CSnMusicTrackContext* Owner() const;
  const SnMusicTrackClip* m_clip;
  uint32_t m_musicFlags = 0;
  int32_t m_stopOffset = -1;  // output frames into the frame of the stop
};

// A key for a gain factor of the voices from the identity of what holds it.
uint32_t MusicGainKey(const void* holder);

}  // namespace SN
