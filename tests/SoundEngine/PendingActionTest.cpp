// Delayed actions: run in their frame with the rest as a sample offset, in insertion order, paused
// twice and resumed shifted by the pause, removed by playing id, and a record the full due list
// refuses still ends its playing id.
#include "SoundEngine/PoolObject.h"
#include "SoundTestSupport.h"

namespace {

using namespace SN;
using SoundTest::FakeAction;

class PendingActionTest : public SoundTest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    InitSynchronous();
    g_pPlayingIdPendingCounts = &counts_;
  }
  void TearDown() override {
    {
      // What is still pending ends while the fakes exist; they live in the default pool.
      Platform::ReentrantGuard guard(GlobalAudioLock());
      g_pAudioMgr->CancelAllPending();
    }
    for (FakeAction* action : actions_) action->Release();
    EngineFixture::TearDown();
  }
  FakeAction* Action(uint32_t id, uint32_t delaySamples, uint16_t type = SnAction_Play) {
    FakeAction* action = PoolNew<FakeAction>(g_DefaultPoolId, id, type, delaySamples, &ran_);
    g_pObjectIndex->List(SnIndex_Actions).Insert(action);
    actions_.push_back(action);
    return action;
  }
  CSnPendingActionItem* Schedule(FakeAction* action, uint32_t playingId) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnPendingActionItem* record = g_pAudioMgr->NewRecord(action, playingId);
    g_pAudioMgr->ScheduleAction(record);
    return record;
  }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) SoundEngine::RenderAudio();
  }

  SoundTest::FakeCounts counts_;
  std::vector<uint32_t> ran_;
  std::vector<FakeAction*> actions_;
};

TEST_F(PendingActionTest, DelaysBecomeFramesAndAnOffsetAndEqualFramesKeepTheirOrder) {
  FakeAction* now = Action(1, 100);
  Schedule(now, 7);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1}));  // under a frame: at once
  EXPECT_EQ(now->lastOffset, 100u);
  EXPECT_EQ(counts_.ended, (std::vector<uint32_t>{7}));

  Schedule(Action(2, 2 * 1024 + 5), 8);
  Schedule(Action(3, 2 * 1024 + 9), 8);
  Schedule(Action(4, 1024), 0);
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 3u);
  Frames(1);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1, 4}));
  Frames(1);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1, 4, 2, 3}));
  EXPECT_EQ(actions_[2]->lastOffset, 9u);
  EXPECT_EQ(counts_.pending[8], 0);
  EXPECT_EQ(g_pAudioMgr->ExecutedActionCount(), 4u);
}

TEST_F(PendingActionTest, ContinuePlaybackRunsOneFrameOfLookAheadEarly) {
  // One frame and 100 samples away: the frame of look-ahead leaves none, so it runs now and starts
  // 1124 samples into the frame instead of 100 into the next.
  FakeAction* soon = Action(1, 1024 + 100, SnAction_ContinuePlayback);
  Schedule(soon, 0);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1}));
  EXPECT_EQ(soon->lastOffset, 1124u);
  EXPECT_EQ(soon->executedAtFrame, 0u);

  // Three frames and 7 samples away: due after two frames, 1031 samples into the frame.
  FakeAction* later = Action(2, 3 * 1024 + 7, SnAction_ContinuePlayback);
  Schedule(later, 0);
  Frames(1);
  EXPECT_EQ(ran_.size(), 1u);
  Frames(1);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(later->lastOffset, 1031u);
  EXPECT_EQ(later->executedAtFrame, 2u);

  // A plain play of the same delay keeps its frames: it waits for the third.
  FakeAction* play = Action(3, 3 * 1024 + 7);
  Schedule(play, 0);
  Frames(2);
  EXPECT_EQ(ran_.size(), 2u);
  Frames(1);
  EXPECT_EQ(play->lastOffset, 7u);
  EXPECT_EQ(play->executedAtFrame, 5u);
}

TEST_F(PendingActionTest, PausedTwiceNeedsTwoResumesAndIsShiftedByThePause) {
  FakeAction* action = Action(1, 3 * 1024);
  Schedule(action, 9);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->PausePendingActionsOfPlayingId(9);
    g_pAudioMgr->PausePendingActionsOfAction(action, 0);
  }
  EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 1u);
  Frames(5);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->ResumePendingActionsOfPlayingId(9);
  }
  EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 1u);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->ResumePendingActionsOfAction(action, 9);
  }
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
  Frames(2);
  EXPECT_TRUE(ran_.empty());
  Frames(1);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{1}));
  EXPECT_EQ(action->executedAtFrame, 3u + 5u);
}

TEST_F(PendingActionTest, RemovalByPlayingIdEndsTheRecordsWithoutRunningThem) {
  FakeAction* a = Action(1, 4096);
  FakeAction* b = Action(2, 4096);
  Schedule(a, 5);
  Schedule(b, 6);
  Schedule(a, 5);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->PausePendingActionsOfAction(a, 5);
    g_pAudioMgr->RemovePendingActionsOfPlayingId(5);
  }
  EXPECT_EQ(a->endedWithoutRunning, 2);
  EXPECT_EQ(counts_.ended, (std::vector<uint32_t>{5}));
  EXPECT_EQ(a->RefCount(), 1u);  // the records' references are back
  Frames(4);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{2}));
}

TEST_F(PendingActionTest, ARecordTheDueListRefusesStillEndsItsPlayingId) {
  FakeAction* action = Action(1, 4096);
  for (int i = 0; i < 32; ++i) Schedule(action, 100);  // the preallocated nodes
  CSnPendingActionItem* record = PoolNew<CSnPendingActionItem>(g_DefaultPoolId, action, 200u);
  // Exhaust the default pool so the 33rd node cannot be had.
  std::vector<void*> hog;
  for (size_t size = 1 << 20; size >= 8; size /= 2)
    while (void* p = MemoryMgr::Malloc(g_DefaultPoolId, size)) hog.push_back(p);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->ScheduleAction(record);
  }
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 32u);
  EXPECT_EQ(counts_.ended, (std::vector<uint32_t>{200}));
  EXPECT_EQ(action->RefCount(), 33u);
  for (void* p : hog) MemoryMgr::Free(g_DefaultPoolId, p);
}

// An ended record's memory serves the next one: no pool traffic for it.
TEST_F(PendingActionTest, AnEndedRecordIsReusedForTheNext) {
  auto used = [] {
    MemoryMgr::PoolMemInfo info;
    MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
    return info.usedBytes;
  };
  FakeAction* action = Action(9, 2 * 1024);
  const CSnPendingActionItem* first = Schedule(action, 0);
  Frames(2);
  EXPECT_EQ(ran_, (std::vector<uint32_t>{9}));
  const uint32_t before = used();
  EXPECT_EQ(Schedule(action, 0), first);
  EXPECT_EQ(used(), before);
  EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
}

}  // namespace
