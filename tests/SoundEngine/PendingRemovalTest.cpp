// Taking pending actions out: under a node and its buses, except listed targets, by action id; the
// ducking recoveries no filter touches; the end notice before the playing id's end; removals
// re-entered from that end; a record's transition notices; resumed continuations; the game object a
// record keeps alive and positions before it runs.
#include <functional>
#include <map>
#include <string>

#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/PoolObject.h"
#include "SoundTestSupport.h"

namespace {

using namespace SN;

class PlainNode : public CSnHierarchyNode {
 public:
  PlainNode(uint32_t id, bool isBus) : CSnHierarchyNode(id, isBus) {}
  uint32_t NodeCategory() const override { return IsBus() ? Category_Bus : Category_Sound; }
  void ExecuteAction(const SnActionParams&) override {}
  void DeliverParameterChange(const SnParamChange&) override {}
};

using Log = std::vector<std::string>;

class LoggingAction : public CSnEventAction {
 public:
  LoggingAction(uint32_t id, uint16_t type, uint32_t target, uint32_t delay, Log* log)
      : CSnEventAction(id, type), delay_(delay), log_(log) {
    SetTarget(target, false);
  }
  SNRESULT Execute(CSnPendingActionItem& record) override {
    log_->push_back("run " + std::to_string(ID()) +
                    (record.gameObject && record.gameObject->IsDirty() ? " dirty" : ""));
    return SN_Success;
  }
  uint32_t DelaySamples() override { return delay_; }
  void NotifyPendingEnded(const CSnPendingActionItem&) override { log_->push_back("ended " + std::to_string(ID())); }
  void NotifyResumed(const CSnPendingActionItem&) override { log_->push_back("resumed " + std::to_string(ID())); }
  void ClearOwnerRef(const void* owner) override {
    if (owner == this->owner) this->owner = nullptr;
  }
  void ClearTransitionRef(bool pause) override { log_->push_back(pause ? "pause ref" : "play ref"); }
  void ClearPauseState() override { log_->push_back("pause state"); }
  const void* owner = nullptr;

 private:
  uint32_t delay_;
  Log* log_;
};

// Counts pending actions per playing id and says when one ends, with a hook that runs then.
class LoggingCounts : public ISnPlayingIdPendingCounts {
 public:
  explicit LoggingCounts(Log* log) : log_(log) {}
  void AddPendingAction(uint32_t id) override { ++pending[id]; }
  void RemovePendingAction(uint32_t id) override {
    if (--pending[id] != 0) return;
    log_->push_back("id " + std::to_string(id) + " ends");
    if (onEnd) onEnd(id);
  }
  std::map<uint32_t, int> pending;
  std::function<void(uint32_t)> onEnd;

 private:
  Log* log_;
};

constexpr uint32_t kFrame = 1024;

class PendingRemovalTest : public SoundTest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    InitSynchronous();
    g_pPlayingIdPendingCounts = &counts_;
  }
  void TearDown() override {
    {
      Platform::ReentrantGuard guard(GlobalAudioLock());
      g_pAudioMgr->CancelAllPending();
    }
    g_pPlayingIdPendingCounts = nullptr;
    for (CSnIndexedObject* object : owned_) object->Release();
    EngineFixture::TearDown();
  }
  PlainNode* Node(uint32_t id, bool isBus = false) {
    PlainNode* node = PoolNew<PlainNode>(g_DefaultPoolId, id, isBus);
    g_pObjectIndex->GetNodeList(isBus).Insert(node);
    owned_.push_back(node);
    return node;
  }
  LoggingAction* Action(uint32_t id, uint32_t target, uint32_t delay = 4 * kFrame, uint16_t type = SnAction_Play) {
    LoggingAction* action = PoolNew<LoggingAction>(g_DefaultPoolId, id, type, target, delay, &log_);
    g_pObjectIndex->List(SnIndex_Actions).Insert(action);
    // Actions go before the nodes that their records look up.
    owned_.insert(owned_.begin(), action);
    return action;
  }
  CSnPendingActionItem* Schedule(CSnEventAction* action, uint32_t playingId, CSnRegisteredObj* object = nullptr) {
    CSnPendingActionItem* record = PoolNew<CSnPendingActionItem>(g_DefaultPoolId, action, playingId);
    record->HoldGameObject(object);
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->ScheduleAction(record);
    return record;
  }
  template <typename Call>
  void Locked(Call&& call) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    call(*g_pAudioMgr);
  }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) SoundEngine::RenderAudio();
  }

  Log log_;
  LoggingCounts counts_{&log_};
  std::vector<CSnIndexedObject*> owned_;
};

TEST_F(PendingRemovalTest, PausedAt100DueAt120AndResumedAt150IsDueAt170) {
  Node(10);
  CSnPendingActionItem* record = Schedule(Action(1, 10, 120 * kFrame), 0);
  EXPECT_EQ(record->dueFrame, 120u);
  Frames(100);
  Locked([&](CSnAudioMgr& m) { m.PausePendingActionsUnderNode(nullptr, nullptr, 0, false); });
  EXPECT_EQ(record->pausedAtFrame, 100u);
  Frames(50);
  Locked([&](CSnAudioMgr& m) { m.ResumePendingActionsUnderNode(nullptr, nullptr, 0); });
  EXPECT_EQ(record->dueFrame, 170u);
}

TEST_F(PendingRemovalTest, RemovalByActionIdTakesEveryPlayingIdFromBothLists) {
  Node(10);
  LoggingAction* action = Action(1, 10);
  Schedule(action, 5);
  Schedule(action, 6);
  Schedule(Action(2, 10), 7);
  Locked([&](CSnAudioMgr& m) { m.PausePendingActionsOfPlayingId(5); });
  Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsByActionID(1, 0); });
  EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 0u);
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
  EXPECT_EQ(action->RefCount(), 1u);
}

TEST_F(PendingRemovalTest, ADuckingRecoverySurvivesEveryFilter) {
  Node(10, true);
  Schedule(Action(1, 10, 4 * kFrame, SnAction_DuckRecovery), 0);
  const SnActionException none[1] = {{99, 0}};
  Locked([&](CSnAudioMgr& m) {
    m.RemovePendingActionsUnderNodeForObject(nullptr, nullptr, 0);
    m.RemovePendingActionsExcept(nullptr, none, 1, 0);
    m.PausePendingActionsUnderNode(nullptr, nullptr, 0, true);
    m.PausePendingActionsExcept(nullptr, nullptr, 0, 0, true);
  });
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
  EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 0u);
}

TEST_F(PendingRemovalTest, ATargetIsUnderItsParentsItsBusAndTheBusesAboveIt) {
  PlainNode* master = Node(1, true);
  PlainNode* music = Node(2, true);
  PlainNode* other = Node(3, true);
  music->SetParent(master);
  PlainNode* parent = Node(20);
  PlainNode* leaf = Node(21);
  leaf->SetParent(parent);
  parent->SetOutputBus(music);  // the leaf takes its parent's bus
  LoggingAction* play = Action(1, 21);
  for (PlainNode* node : {static_cast<PlainNode*>(other), leaf, parent, music, master}) {
    Schedule(play, 0);
    Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsUnderNodeForObject(node, nullptr, 0); });
    EXPECT_EQ(g_pAudioMgr->DuePendingCount(), node == other ? 1u : 0u) << "under node " << node->ID();
    Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsByActionID(1, 0); });
  }
  // Exceptions spare the same road: the bus above the leaf's bus spares it; another bus does not.
  Schedule(play, 0);
  const SnActionException spareMaster[1] = {{1, 1}}, spareOther[1] = {{3, 1}};
  Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsExcept(nullptr, spareMaster, 1, 0); });
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
  Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsExcept(nullptr, spareOther, 1, 0); });
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 0u);
  leaf->SetParent(nullptr);
  parent->SetOutputBus(nullptr);
  music->SetParent(nullptr);
}

TEST_F(PendingRemovalTest, TheEndNoticeComesBeforeThePlayingIdEndsAndAReentryFindsNoStaleLink) {
  Node(10);
  LoggingAction* a = Action(1, 10);
  LoggingAction* b = Action(2, 10);
  Schedule(a, 5);
  Schedule(b, 6);
  Schedule(a, 7);
  // Ending id 5 removes id 6's record from inside the first removal's walk.
  counts_.onEnd = [](uint32_t id) {
    if (id == 5) g_pAudioMgr->RemovePendingActionsOfPlayingId(6);
  };
  log_.clear();
  Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsUnderNodeForObject(nullptr, nullptr, 0); });
  EXPECT_EQ(log_, (Log{"ended 1", "id 5 ends", "ended 2", "id 6 ends", "ended 1", "id 7 ends"}));
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 0u);
}

TEST_F(PendingRemovalTest, ContinuationRecordsFollowTheirTransitionsAndResumes) {
  Node(10);
  LoggingAction* next = Action(1, 10, 8 * kFrame, SnAction_ContinuePlayback);
  CSnPendingActionItem* record = Schedule(next, 0);
  log_.clear();
  record->TransitionNotification(CSnPendingActionItem::Notice_PlayStopDone, false);
  record->TransitionNotification(0x10, true);
  EXPECT_TRUE(log_.empty());
  Locked([&](CSnAudioMgr&) {
    record->TransitionNotification(CSnPendingActionItem::Notice_PlayStopDone, true);
    record->TransitionNotification(CSnPendingActionItem::Notice_PauseDone, true);
    record->TransitionNotification(CSnPendingActionItem::Notice_PausePauses, true);
  });
  EXPECT_EQ(log_, (Log{"play ref", "pause ref", "pause state", "pause ref", "pause state"}));
  EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 1u);

  log_.clear();
  Locked([&](CSnAudioMgr& m) { m.ResumePendingActionsUnderNode(nullptr, nullptr, 0); });
  EXPECT_EQ(log_, (Log{"resumed 1"}));
  next->owner = this;
  Locked([&](CSnAudioMgr& m) { m.ClearContinuationOwnerRefs(this); });
  EXPECT_EQ(next->owner, nullptr);

  Locked([&](CSnAudioMgr&) { record->TransitionNotification(CSnPendingActionItem::Notice_PlayStopRemoves, true); });
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 0u);
  EXPECT_EQ(log_.back(), "ended 1");
  // Other actions do not listen.
  CSnPendingActionItem* play = Schedule(Action(2, 10), 0);
  log_.clear();
  play->TransitionNotification(CSnPendingActionItem::Notice_PlayStopRemoves, true);
  EXPECT_TRUE(log_.empty());
}

TEST_F(PendingRemovalTest, ARecordKeepsItsObjectAliveAndPositionsItBeforeRunning) {
  Node(10);
  CSnRegisteredObj* object = g_pRegistryMgr->RegisterGameObj(44, 1);
  ASSERT_NE(object, nullptr);
  // Run at once, before any frame has positioned the new object.
  ASSERT_TRUE(object->IsDirty());
  Schedule(Action(1, 10, 0), 0, object);
  EXPECT_EQ(log_, (Log{"run 1"}));
  EXPECT_FALSE(object->IsDirty());

  // The object counts its records in the lists, paused or due; a removal for an object with none
  // has nothing to look at.
  Schedule(Action(2, 10, 2 * kFrame), 0, object);
  Schedule(Action(3, 10, 2 * kFrame), 0, object);
  EXPECT_EQ(object->PendingActionCount(), 2u);
  Locked([&](CSnAudioMgr& m) { m.PausePendingActionsUnderNode(nullptr, object, 0, false); });
  EXPECT_EQ(object->PendingActionCount(), 2u);
  Locked([&](CSnAudioMgr& m) { m.ResumePendingActionsUnderNode(nullptr, object, 0); });
  Locked([&](CSnAudioMgr& m) { m.RemovePendingActionsByActionID(3, 0); });
  EXPECT_EQ(object->PendingActionCount(), 1u);
  g_pRegistryMgr->UnregisterGameObj(44);
  EXPECT_EQ(g_pRegistryMgr->UnregisteredReferencedCount(), 1u);
  EXPECT_EQ(object->PendingActionCount(), 1u);
  Frames(2);
  EXPECT_EQ(log_, (Log{"run 1", "ended 3", "run 2"}));
  EXPECT_EQ(g_pRegistryMgr->UnregisteredReferencedCount(), 0u);
}

}  // namespace
