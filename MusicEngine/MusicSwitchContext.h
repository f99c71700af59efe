// A switch container playing: it follows each argument group of the container, resolves the child to
// play from their values, and on every change builds the child's context and places the switch at the
// sync point of what plays that the matching rule names. A nested switch defers a change while a
// switch above it is between two children.
//
// Threads: audio thread only, inside the music frame; group notifications arrive on the same thread.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicSlots.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/PlayParams.h"

namespace SN {

class CSnMusicSwitchContainer;
class CSnMusicSwitchContext;

// Follows one argument group of a switch context.
class CSnMusicSwitchFollower final : public ISnSwitchSubscriber, public ISnGameSyncSubscriber {
 public:
  // What a group without a value holds.
  static constexpr uint32_t kNoValue = 0x2CA33BDB;

  CSnMusicSwitchFollower() = default;
  ~CSnMusicSwitchFollower();
  CSnMusicSwitchFollower(const CSnMusicSwitchFollower&) = delete;
  CSnMusicSwitchFollower& operator=(const CSnMusicSwitchFollower&) = delete;
  // Subscribes to the argument's group and takes its current value; false when it cannot subscribe.
  bool Init(CSnMusicSwitchContext* owner, uint32_t argument);
  void SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void* filter) override;
  void TriggerReceived(uint32_t) override {}
  void StateChanged(uint32_t stateId, const SnRTPCKey& key, const void* filter) override;

  uint32_t current = kNoValue;
  uint32_t argument = 0;

 private:
  bool IsState() const;
  CSnMusicSwitchContext* m_owner = nullptr;
  bool m_subscribed = false;
};

class CSnMusicSwitchContext final : public CSnMatrixAwareContext {
 public:
  // Rounds of a sync search that asks to look further before it gives up.
  static constexpr uint32_t kMaxSearchRounds = 64;
  // Callback flag of the moment a switch takes place.
  static constexpr uint32_t kSyncPointFlag = 0x4000;

  // Under `parent` (null: a play's root), referenced once for the caller, its followers subscribed
  // and its first child set up; null when out of memory or when no follower can subscribe.
  static CSnMusicSwitchContext* Create(CSnMusicSwitchContainer* container, CSnMusicContext* parent,
                                       CSnRegisteredObj* gameObject, const CSnPlayParams& params);
  ~CSnMusicSwitchContext() override;

  CSnHierarchyNode* GetNode() const override;
  void ProcessFrame(int64_t time, int64_t length, SnMusicCutWindow& out) override;
  void StepIterator(CSnMusicChainIterator& iterator, bool noExtend) override;
  // Past the chains of the child followed, those of the child scheduled after it.
  void StepPastChild(CSnMusicChainIterator& iterator, CSnMatrixAwareContext* child) override;
  void GetPlayWindow(int64_t& begin, int64_t& end) const override;
  bool CanBeCut() const override { return false; }
  void CutAt(int64_t) override {}
  SNRESULT PrepareAsChild(const SnMusicRuleDestination*, int64_t& preRoll) override;
  // A play's switch (not a nested one, nor one stopping) restarts the child it follows at the
  // position: milliseconds from its first segment's entry, or a fraction of that segment's active
  // part, moved to the nearest marker when asked. What was scheduled after it is called off.
  // SN_Failure, the music unchanged, when refused.
  SNRESULT SeekTime(int32_t ms, bool snapToMarker) override;
  SNRESULT SeekPercent(float fraction, bool snapToMarker) override;
  void OnStopComplete() override;

  // A follower's group has a new value.
  void OnValueChanged(CSnMusicSwitchFollower& follower, uint32_t value, const SnRTPCKey& key);
  // The child the followers' values resolve to; 0 for none.
  uint32_t ResolveChildId() const;
  // Whether a child is scheduled after the current one: a switch is under way.
  bool IsSwitching() const;
  CSnRegisteredObj* GameObject() const { return m_params.gameObject; }

 private:
  template <typename T, typename... Args>
  friend T* PoolNew(SnMemPoolId, Args&&...);

  struct Item {
    static constexpr uint8_t kPlayPending = 0x1;
    static constexpr uint8_t kStopPending = 0x2;
    Item* next = nullptr;
    CSnMatrixAwareContext* child = nullptr;  // referenced; null: silence
    uint32_t childId = 0;
    int64_t origin = 0;  // its sync point, in this context's time
    int64_t playAt = 0;
    int64_t stopAt = 0;
    SnMusicFade fadeIn{0, 4, 0};
    SnMusicFade fadeOut{0, 4, 0};
    uint8_t flags = 0;
  };

  CSnMusicSwitchContext(CSnMusicSwitchContainer* container, CSnMusicContext* parent, const CSnPlayParams& params);
  // The child context for the id (prepared for `rule`, its pre-roll reported); null for silence.
  // A rule that jumps to a playlist item jumps there when the child is a playlist.
  CSnMatrixAwareContext* MakeChild(uint32_t childId, const SnMusicRuleDestination* rule, int64_t& preRoll);
  CSnMatrixAwareContext* MakeChild(uint32_t childId, const SnMusicRuleDestination* rule, SnMusicSeek& seek,
                                   int64_t& preRoll);
  // The same for the child's node, already looked up (null: the id names nothing loaded).
  CSnMatrixAwareContext* MakeChildOf(CSnHierarchyNode* node, uint32_t childId, const SnMusicRuleDestination* rule,
                                     SnMusicSeek& seek, int64_t& preRoll);
  SNRESULT SeekChild(SnMusicSeek seek);
  // The first child plays from this context's time 0.
  SNRESULT SetUpFirstChild();
  // The switch to the resolved child, placed at its rule's sync point.
  void SwitchTo(uint32_t childId);
  // The item's child begins (its entry) at `syncAt`, playing its pre-roll before, with the entry's fade.
  void Place(Item* item, int64_t syncAt, int64_t preRoll, const SnMusicRuleDestination& entry);
  // Where the rule's sync point lies after `from` (this context's time) in what plays; `iterator`
  // stands at what plays now (it moves on).
  bool FindSwitchPoint(int64_t from, const SnMusicTransitionRule& rule, CSnMusicChainIterator& iterator,
                       int64_t& syncAt);
  // Children scheduled after the current one, and the current one's stop, are called off.
  void CancelScheduled();
  void BecomeCurrent(Item* item);
  // The child followed stops (a switch or a seek): what the play root placed on its chains past
  // `cutAt` (this context's time, where the next child begins) goes back to the play root.
  void HandOverActions(int64_t cutAt);
  void Append(Item* item);
  void FreeItem(Item* item);
  bool AnySwitchAboveIsSwitching() const;

  CSnMusicSwitchContainer* m_container;
  CSnPlayParams m_params;
  CSnMusicSwitchFollower* m_followers = nullptr;
  uint32_t m_followerCount = 0;
  Item* m_head = nullptr;
  Item* m_current = nullptr;
  int64_t m_preRoll = 0;
  bool m_pending = false;  // a change arrived while a switch above was under way
  // The child followed, the one switched to and a transition segment between them.
  SnMusicSlots<Item, 3> m_itemRoom;
};

}  // namespace SN
