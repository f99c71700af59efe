// The pieces of music playback on their own: music time that saturates instead of wrapping, a
// chain item's stop before its play, the iterator's nesting bound, a music voice's stop inside a
// frame at its speed, and held state changes applied when their item goes.
#include <cmath>

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicPlaybackInstance.h"
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicSegmentChain.h"
#include "MusicEngine/MusicTopContext.h"
#include "SoundEngine/PlayParams.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using namespace SN;

class MusicPlaybackTest : public MusicTest::MusicFixture {};

// "No time" is the largest time and stays it; no sum, difference or product of milliseconds leaves
// the range, and a 32-bit field takes the nearest value it holds.
TEST(MusicTimeTest, MusicTimeSaturatesAndNoTimeStaysNoTime) {
  EXPECT_EQ(MusicTimeAdd(kMusicNoTime, -5), kMusicNoTime);
  EXPECT_EQ(MusicTimeAdd(-5, kMusicNoTime), kMusicNoTime);
  EXPECT_EQ(MusicTimeSub(kMusicNoTime, 1000), kMusicNoTime);
  EXPECT_EQ(MusicTimeAdd(INT64_MAX - 1, 10), INT64_MAX);
  EXPECT_EQ(MusicTimeAdd(INT64_MIN + 1, -10), INT64_MIN);
  EXPECT_EQ(MusicTimeSub(INT64_MIN + 1, 10), INT64_MIN);
  EXPECT_EQ(MusicTimeSub(10, INT64_MIN), INT64_MAX);
  EXPECT_EQ(MusicTimeAdd(100, -30), 70);
  EXPECT_EQ(MusicTimeToS32(int64_t(1) << 40), INT32_MAX);
  EXPECT_EQ(MusicTimeToS32(-(int64_t(1) << 40)), INT32_MIN);
  // 48 samples a millisecond times the longest 32-bit time: past 32 bits, exact in 64.
  EXPECT_EQ(MusicRateMs(48000, INT32_MAX), int64_t(48) * INT32_MAX);
  EXPECT_EQ(MusicRateMs(48000, INT64_MAX / 2), INT64_MAX);
  EXPECT_EQ(MusicSamplesToMs(24000, 48000), 500);
  EXPECT_EQ(MusicSamplesToMs(-24, 48000), -1) << "half away from zero";
  EXPECT_EQ(MusicSamplesToMs(INT64_MAX, 48000), INT32_MAX);
}

// A stop asked before the item plays waits for the play, its fade shorter by the time between.
TEST(MusicChainItemTest, AStopBeforeThePlayStopsAtThePlayWithAShorterFade) {
  CSnMusicChainItem item(0, nullptr);
  item.playAt = 48000;
  item.ScheduleStop(2000, 4, 0);
  EXPECT_EQ(item.stopAt, 48000);
  EXPECT_EQ(item.fadeOut.timeMs, 1000);
  EXPECT_TRUE(item.flags & CSnMusicChainItem::kStopPending);
  item.ScheduleStop(500, 4, 0);
  EXPECT_EQ(item.fadeOut.timeMs, 0) << "never below no fade";
  // An empty item with nothing left is finished.
  item.flags = 0;
  EXPECT_TRUE(item.IsFinished());
}

// The iterator holds 32 nested contexts; a deeper push is refused, the iterator is left without a
// current item, and the refusal is said once.
TEST_F(MusicPlaybackTest, TheIteratorRefusesAContextPastItsDepthAndHasNoItem) {
  MusicTest::CountingSegment* segment = Counting(501);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  CSnPlayParams params;
  params.playingId = 77;
  CSnMusicSegmentChain* chain = CSnMusicSegmentChain::Create(segment, nullptr, nullptr, params);
  ASSERT_NE(chain, nullptr);
  CSnMusicChainIterator iterator;
  iterator.Init(chain, false);
  ASSERT_NE(iterator.Item(), nullptr);
  EXPECT_EQ(iterator.Item()->segmentId, 501u);
  // The empty item at the exit cue bounds the segment's: sync points are searched to its exit.
  EXPECT_FALSE(iterator.IsUnbounded());
  EXPECT_EQ(iterator.Limit(), segment->GetActiveDuration());
  for (uint32_t depth = 1; depth < CSnMusicChainIterator::kMaxDepth; ++depth) ASSERT_TRUE(iterator.PushContext(chain));
  EXPECT_FALSE(iterator.PushContext(chain));
  EXPECT_EQ(iterator.Item(), nullptr);
  EXPECT_EQ(iterator.GetCurrentItemBegin(), kMusicNoTime);
  uint32_t cue = 0;
  int64_t at = 0;
  EXPECT_EQ(iterator.FindSyncPoint(0, SnMusicSync_NextBar, cue, true, at), CSnMusicChainIterator::NotFound);
  EXPECT_TRUE(Logged("contexts nest deeper than 32"));
  logged_.clear();
  EXPECT_FALSE(iterator.PushContext(chain));
  EXPECT_FALSE(Logged("nest deeper"));
  chain->StopNow();
  chain->Release();
  EXPECT_EQ(CSnMusicRenderer::Instance()->FirstTopLevelContext(), nullptr) << "the play left the renderer";
}

// A snapped seek keeps what it applied: the marker's fraction of the active part, or its time; a
// segment whose active part is empty gives the fraction 0, not a division by zero.
TEST_F(MusicPlaybackTest, ASnappedSeekKeepsTheMarkersFractionAndZeroForNoActivePart) {
  MusicTest::CountingSegment* segment = Counting(502);
  Tools::BankMusicSegment emptyActive = MusicTest::Segment120(503);
  emptyActive.markers = {{1, 500.0, ""}, {2, 500.0, ""}};
  const std::vector<uint8_t> bytes = Tools::MusicSegmentPayload(emptyActive, false);
  auto* empty = PoolNew<CSnMusicSegmentNode>(g_DefaultPoolId, 503u);
  made_.push_back(empty);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  ASSERT_EQ(empty->ReadBankData(bytes.data(), uint32_t(bytes.size())), SN_Success);
  ASSERT_EQ(empty->GetActiveDuration(), 0);
  CSnPlayParams params;
  params.playingId = 78;
  CSnMusicSegmentChain* chain = CSnMusicSegmentChain::Create(segment, nullptr, nullptr, params);
  ASSERT_NE(chain, nullptr);
  // Half of 384,000 is nearest the cue at 156,000; 2 s (96,000) too.
  EXPECT_EQ(chain->SeekPercent(0.5f, true), SN_Success);
  EXPECT_FLOAT_EQ(chain->AppliedFraction(), 156000.0f / 384000.0f);
  EXPECT_EQ(chain->SeekTime(2000, true), SN_Success);
  EXPECT_EQ(chain->AppliedMs(), 3250);
  EXPECT_EQ(chain->SeekTime(2000, false), SN_Success);
  EXPECT_EQ(chain->AppliedMs(), 2000);
  chain->StopNow();
  chain->Release();

  chain = CSnMusicSegmentChain::Create(empty, nullptr, nullptr, params);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->SeekPercent(0.5f, true), SN_Success);
  EXPECT_EQ(chain->AppliedFraction(), 0.0f);
  chain->StopNow();
  chain->Release();
}

// A music voice told to stop 512 samples of music into the frame at speed 2 stops 256 output
// samples in; the smaller of two stops holds, and a stop "now" records none.
TEST_F(MusicPlaybackTest, AMusicVoiceStopsInsideTheFrameAtItsSpeed) {
  Platform::ReentrantGuard audio(GlobalAudioLock());
  auto* voice = PoolNew<CSnMusicPlaybackInstance>(g_DefaultPoolId, CSnPlaybackInstance::Args{}, nullptr, nullptr, 2.0f);
  ASSERT_NE(voice, nullptr);
  voice->OnStopped(512);
  EXPECT_EQ(voice->StopOffset(), 256);
  EXPECT_FALSE(voice->IsStoppedWithoutOffset()) << "it still gives the samples before its stop";
  voice->OnStopped(100);
  EXPECT_EQ(voice->StopOffset(), 50);
  voice->OnStopped(900);
  EXPECT_EQ(voice->StopOffset(), 50);
  voice->Term(0);
  voice->Destroy();

  voice = PoolNew<CSnMusicPlaybackInstance>(g_DefaultPoolId, CSnPlaybackInstance::Args{}, nullptr, nullptr, 1.0f);
  voice->OnStopped(CSnMusicContext::kNoStopOffset);
  EXPECT_EQ(voice->StopOffset(), -1);
  EXPECT_TRUE(voice->IsStoppedWithoutOffset());
  voice->Term(0);
  voice->Destroy();
}

// A held state change on an item that goes before its time is applied as the item goes.
TEST_F(MusicPlaybackTest, AHeldStateOnAClearedItemIsAppliedWhenTheItemGoes) {
  Platform::ReentrantGuard audio(GlobalAudioLock());
  SnMusicPendingState held{nullptr, 11, 22, SnMusicPendingState::kWaiting};
  CSnMusicChainItem item(0, nullptr);
  auto* action = PoolNew<SnMusicScheduledAction>(g_DefaultPoolId);
  ASSERT_NE(action, nullptr);
  *action = SnMusicScheduledAction{96000, SnMusicScheduledAction::HeldState, &held, nullptr};
  item.AddAction(action);
  EXPECT_FALSE(item.IsFinished());
  item.ClearItem();
  EXPECT_EQ(held.flags & SnMusicPendingState::kWaiting, 0u);
  EXPECT_NE(held.flags & SnMusicPendingState::kObsolete, 0u) << "applied";
  EXPECT_TRUE(item.IsFinished());
}

}  // namespace
