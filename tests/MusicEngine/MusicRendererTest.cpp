// The renderer with plays of the tests standing in for the music playback: state changes held until
// the nearest sync point and re-applied without telling anyone twice, one frame of every play per
// audio frame, and the segment information the game polls.
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicTopContext.h"
#include "Platform/Clock.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using SN::CSnMusicRenderer;
using SN::SnMusicPendingState;

// A play that records what the renderer asks of it.
class RecordingPlay final : public SN::CSnMusicTopContext {
 public:
  bool IsPlayingUnpaused() const override { return playing; }
  bool StateSyncDelay(uint32_t, int64_t& delay) override {
    delay = syncDelay;
    return syncDelay >= 0;
  }
  bool ScheduleStateSync(SnMusicPendingState* item, int64_t delay) override {
    if (!accepts) return false;
    held.push_back({item, delay});
    return true;
  }
  SN::SNRESULT GetSegmentInfo(SN::SnSegmentInfo& out) override {
    out = info;
    return SN::SN_Success;
  }
  void AdvanceFrame(uint32_t samples) override { frames.push_back(samples); }

  bool playing = true;
  bool accepts = true;
  int64_t syncDelay = -1;  // none
  SN::SnSegmentInfo info{};
  std::vector<std::pair<SnMusicPendingState*, int64_t>> held;
  std::vector<uint32_t> frames;
};

// Counts what the state group's subscribers are told.
class StateListener final : public SN::ISnGameSyncSubscriber {
 public:
  void TriggerReceived(uint32_t) override {}
  void StateChanged(uint32_t stateId, const SN::SnRTPCKey&, const void*) override { told.push_back(stateId); }
  std::vector<uint32_t> told;
};

int64_t g_ticks = 0;
int64_t FakeTicks() { return g_ticks; }

class MusicRendererTest : public MusicTest::MusicFixture {
 protected:
  void SetUp() override {
    MusicFixture::SetUp();
    renderer_ = CSnMusicRenderer::Instance();
    ASSERT_EQ(SN::g_pStateMgr->AddStateGroup(kGroup), SN::SN_Success);
    ASSERT_EQ(SN::g_pStateMgr->AddStateSubscriber(&listener_, kGroup), SN::SN_Success);
  }
  void TearDown() override {
    SN::g_pStateMgr->RemoveStateSubscriber(&listener_);
    for (RecordingPlay* play : {&first_, &second_}) renderer_->RemoveTopLevelContext(play);
    Platform::SetTickSource(nullptr);
    MusicFixture::TearDown();
  }
  // A change as the game makes it: through the state message, on the next frame.
  void SetState(uint32_t state) {
    ASSERT_EQ(SN::SoundEngine::SetState(kGroup, state), SN::SN_Success);
    ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  }
  uint32_t State() const { return SN::g_pStateMgr->GetCurrentState(kGroup); }

  static constexpr uint32_t kGroup = 31;
  CSnMusicRenderer* renderer_ = nullptr;
  StateListener listener_;
  RecordingPlay first_, second_;
};

TEST_F(MusicRendererTest, AStateChangeWaitsForTheNearestSyncOfThePlaysAndIsAppliedOnce) {
  const int64_t frame = SN::LowerEngine::SamplesPerFrame();
  // No music: at once.
  SetState(5);
  EXPECT_EQ(State(), 5u);
  // A play whose sync lies within a frame, and a paused one: at once as well.
  ASSERT_EQ(renderer_->AddTopLevelContext(&first_, 11, 0), SN::SN_Success);
  first_.syncDelay = frame;
  SetState(6);
  EXPECT_EQ(State(), 6u);
  first_.syncDelay = 50000;
  first_.playing = false;
  SetState(7);
  EXPECT_EQ(State(), 7u);
  EXPECT_TRUE(first_.held.empty());

  // Two plays: the nearer sync holds the change; subscribers hear it when it is asked for.
  first_.playing = true;
  ASSERT_EQ(renderer_->AddTopLevelContext(&second_, 12, 0), SN::SN_Success);
  second_.syncDelay = 20000;
  listener_.told.clear();
  SetState(8);
  EXPECT_EQ(State(), 7u);
  ASSERT_EQ(second_.held.size(), 1u);
  EXPECT_TRUE(first_.held.empty());
  EXPECT_EQ(second_.held[0].second, 20000);
  EXPECT_EQ(renderer_->PendingStateCount(), 1u);
  EXPECT_EQ(listener_.told, std::vector<uint32_t>{8});
  // The sync comes: applied by the state message, neither the hook nor the subscribers asked again.
  renderer_->OnStateSyncReached(second_.held[0].first);
  EXPECT_EQ(renderer_->PendingStateCount(), 0u);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(State(), 8u);
  EXPECT_EQ(listener_.told, std::vector<uint32_t>{8});
  EXPECT_EQ(second_.held.size(), 1u);
}

TEST_F(MusicRendererTest, ANewerChangeAppliedMakesTheOlderObsoleteAndAStoppedPlayAppliesItsChange) {
  ASSERT_EQ(renderer_->AddTopLevelContext(&first_, 11, 0), SN::SN_Success);
  first_.syncDelay = 30000;
  SetState(5);
  SetState(6);
  ASSERT_EQ(first_.held.size(), 2u);
  SnMusicPendingState* older = first_.held[0].first;
  SnMusicPendingState* newer = first_.held[1].first;
  renderer_->OnStateSyncReached(newer);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(State(), 6u);
  EXPECT_EQ(renderer_->PendingStateCount(), 1u);
  // The older one's sync point comes later and changes nothing.
  renderer_->OnStateSyncReached(older);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(State(), 6u);
  EXPECT_EQ(renderer_->PendingStateCount(), 0u);

  // The play stops before the sync: no other play holds it, so it applies now.
  SetState(9);
  ASSERT_EQ(first_.held.size(), 3u);
  first_.playing = false;
  renderer_->RescheduleStateChange(first_.held[2].first);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(State(), 9u);
  EXPECT_EQ(renderer_->PendingStateCount(), 0u);
  // A play that cannot schedule leaves the change to apply at once.
  first_.playing = true;
  first_.accepts = false;
  SetState(10);
  EXPECT_EQ(State(), 10u);
}

TEST_F(MusicRendererTest, EveryPlayAdvancesOnceAFrameAndKeepsItsSegmentInformation) {
  // A second Init does not join the frame twice.
  ASSERT_EQ(SN::MusicEngine::Init(nullptr), SN::SN_Success);
  Platform::SetTickSource(&FakeTicks);
  g_ticks = 1000 * Platform::kTicksPerSecond;
  ASSERT_EQ(renderer_->AddTopLevelContext(&first_, 77, RecordingPlay::kWantsSegmentInfo), SN::SN_Success);
  ASSERT_EQ(renderer_->AddTopLevelContext(&second_, 78, 0), SN::SN_Success);
  EXPECT_EQ(renderer_->FirstTopLevelContext(), &second_);
  EXPECT_EQ(renderer_->LastTopLevelContext(), &first_);
  first_.info.currentPosition = -50;
  first_.info.preEntryDuration = 100;
  first_.info.activeDuration = 4000;
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  const uint32_t samples = SN::LowerEngine::SamplesPerFrame();
  EXPECT_EQ(first_.frames, (std::vector<uint32_t>{samples, samples}));
  EXPECT_EQ(second_.frames, (std::vector<uint32_t>{samples, samples}));

  SN::SnSegmentInfo info{};
  EXPECT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(78, info, false), SN::SN_Failure);
  ASSERT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(77, info, false), SN::SN_Success);
  EXPECT_EQ(info.currentPosition, -50);
  EXPECT_EQ(info.activeDuration, 4000);
  // 250 ms later, extrapolated; without a positive duration, as stored; near the end of the range,
  // saturated.
  g_ticks += Platform::kTicksPerSecond / 4;
  ASSERT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(77, info, true), SN::SN_Success);
  EXPECT_EQ(info.currentPosition, 200);
  SN::SnSegmentInfo still{};
  still.currentPosition = 30;
  SN::SegmentInfoRepository::UpdateEntry(77, still);
  g_ticks += Platform::kTicksPerSecond;
  ASSERT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(77, info, true), SN::SN_Success);
  EXPECT_EQ(info.currentPosition, 30);
  SN::SnSegmentInfo late = first_.info;
  late.currentPosition = INT32_MAX - 10;
  SN::SegmentInfoRepository::UpdateEntry(77, late);
  g_ticks += Platform::kTicksPerSecond;
  ASSERT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(77, info, true), SN::SN_Success);
  EXPECT_EQ(info.currentPosition, INT32_MAX);

  // Leaving: the tail moves to its predecessor, the entry goes; the last one empties the list.
  renderer_->RemoveTopLevelContext(&first_);
  EXPECT_EQ(renderer_->LastTopLevelContext(), &second_);
  EXPECT_EQ(SN::MusicEngine::GetPlayingSegmentInfo(77, info, false), SN::SN_Failure);
  renderer_->RemoveTopLevelContext(&second_);
  EXPECT_EQ(renderer_->FirstTopLevelContext(), nullptr);
  EXPECT_EQ(renderer_->LastTopLevelContext(), nullptr);
  // Playing id 0 is listed but refused.
  EXPECT_EQ(renderer_->AddTopLevelContext(&first_, 0, 0), SN::SN_Failure);
  EXPECT_EQ(renderer_->FirstTopLevelContext(), &first_);
}

}  // namespace
