// A segment played by itself: the chain of one item holding the segment's context, played from the
// beginning of its pre-entry part and stopped at the end of its post-exit part, with an empty item at
// its exit cue; it seeks by time and by percent of the active part.
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "SoundEngine/PoolObject.h"
#include "MusicEngine/MusicChain.h"

namespace SN {

class CSnMusicSegmentNode;
struct SnMusicRuleDestination;

class CSnMusicSegmentChain final : public CSnMusicChainContext {
 public:
  // Under `parent` (null: a play's root); null without markers or memory.
  static CSnMusicSegmentChain* Create(CSnMusicSegmentNode* segment, CSnMusicContext* parent,
                                      CSnRegisteredObj* gameObject, const CSnPlayParams& params);
  ~CSnMusicSegmentChain() override;

  CSnHierarchyNode* GetNode() const override;
  // Before it plays (made for a switch or a stinger that waits for its sync point) nothing below it
  // plays either: a chain plays its segments from its own frames only. Its frame's end has nothing to do.
  void OnFrameEnd() override {
    if (State() != Idle) CSnMusicChainContext::OnFrameEnd();
  }
  bool HasNoSyncPoints() const override { return false; }
  // Makes the chain ready from the entry position the rule gives (or from the seek value without a
  // rule); the pre-roll it needs before that position. 1 ready, 0 refused.
  SNRESULT PrepareForPlay(const SnMusicRuleDestination* rule, int64_t seekSamples, int64_t& preRoll);
  SNRESULT PrepareAsChild(const SnMusicRuleDestination* rule, int64_t& preRoll) override {
    return PrepareForPlay(rule, 0, preRoll);
  }
  // A position past the end of the post-exit part is refused.
  SNRESULT PrepareAtSeek(const SnMusicRuleDestination* rule, SnMusicSeek& seek, int64_t& preRoll) override;
  SNRESULT SeekPercent(float fraction, bool snapToMarker) override;
  SNRESULT SeekTime(int32_t ms, bool snapToMarker) override;
  // What the last seek applied once snapped: the fraction of the active part, the milliseconds.
  float AppliedFraction() const { return m_appliedFraction; }
  int32_t AppliedMs() const { return m_appliedMs; }

 private:
  template <typename T, typename... Args>
  friend T* NewMusicContext(Args&&...);
  void DeleteSelf() override;
  CSnMusicSegmentChain(CSnMusicSegmentNode* segment, CSnMusicContext* parent);
  // Restarts the segment at `position` (from the entry cue).
  SNRESULT SeekTo(int64_t position);
  CSnMusicSegmentNode* m_segment;
  CSnRegisteredObj* m_gameObject = nullptr;
  uint32_t m_playingId = 0;
  float m_appliedFraction = 0.0f;
  int32_t m_appliedMs = 0;
};

}  // namespace SN
