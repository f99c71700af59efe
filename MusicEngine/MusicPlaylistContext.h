// A random/sequence container playing: a chain of segment items the playlist iterator chooses, each
// placed at the sync point its transition rule names in the item before it, through the rule's
// transition segment when it has one. The chain is kept three items ahead of what plays.
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicPlaylistIterator.h"

namespace SN {

class CSnMusicPlaylistContainer;
struct SnMusicRuleSource;
struct SnMusicRuleDestination;

class CSnMusicPlaylistContext final : public CSnMusicChainContext {
 public:
  // Items scheduled after the one playing.
  static constexpr uint32_t kItemsAhead = 3;
  // Scheduling steps one call may take before the play is ended.
  static constexpr uint32_t kMaxSchedulingSteps = 64;

  // Under `parent` (null: a play's root), referenced once for the caller, its first segment
  // scheduled and the chain filled ahead; null when the playlist yields no segment or out of memory.
  static CSnMusicPlaylistContext* Create(CSnMusicPlaylistContainer* container, CSnMusicContext* parent,
                                         CSnRegisteredObj* gameObject, const CSnPlayParams& params);
  ~CSnMusicPlaylistContext() override;

  CSnHierarchyNode* GetNode() const override;
  // Until it first plays, what its chain holds is only planned: no sync point is offered from it.
  bool HasNoSyncPoints() const override { return m_firstPlay; }
  void SetPlaying() override;
  bool ExtendChain() override { return ScheduleNext() != nullptr; }
  void OnChainTime(int64_t chainTime) override { EnsureScheduled(chainTime); }
  void OnStopComplete() override;

  // The pre-roll the chain needs before its first segment's entry, its look-ahead and pre-entry part
  // included. SN_Failure without a first item.
  SNRESULT PrepareForPlay(int64_t& preRoll);
  SNRESULT PrepareAsChild(const SnMusicRuleDestination*, int64_t& preRoll) override { return PrepareForPlay(preRoll); }
  // The jump first, then the position: segments the position lies past are let go, and the chain
  // begins in the one it falls in. SN_Failure for an item the playlist lacks or nothing to play.
  SNRESULT PrepareAtSeek(const SnMusicRuleDestination* rule, SnMusicSeek& seek, int64_t& preRoll) override;
  // The step-mode choices made so far become final.
  void Commit() { m_iterator.Commit(); }
  // The walk goes on from the playlist item with the id, the chain scheduled again from it when the
  // context has not played yet; SN_Failure when nothing can be scheduled.
  SNRESULT JumpToItem(uint32_t playlistItemId);

 private:
  template <typename T, typename... Args>
  friend T* PoolNew(SnMemPoolId, Args&&...);
  CSnMusicPlaylistContext(CSnMusicPlaylistContainer* container, CSnMusicContext* parent);

  CSnMusicChainItem* Tail() const;
  // The next segment of the iterator after the chain's last item; null when stopping, when the
  // playlist is done, or when the play had to end.
  CSnMusicChainItem* ScheduleNext();
  CSnMusicChainItem* CreateItemWithRule(const SnMusicRuleSource& source, const SnMusicRuleDestination& destination,
                                        CSnMusicChainItem* previous, uint32_t segmentId, uint32_t playlistItemId);
  // The item playing at `position` has kItemsAhead items after it.
  void EnsureScheduled(int64_t position);
  // Ends the play: nothing more can be scheduled as it should be.
  void End();

  CSnMusicPlaylistContainer* m_container;
  CSnMusicPlaylistIterator m_iterator;
  CSnRegisteredObj* m_gameObject = nullptr;
  uint32_t m_playingId = 0;
  bool m_scheduling = false;
  bool m_firstPlay = true;
};

}  // namespace SN
