// Suspending the output through the API: the switch's results, the "SN Suspended" timer thread,
// frames by the clock while rendering is kept on, none while it is not, and the wake-up.
#include "OutputTestSupport.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;
using OutputTest::SinkLog;
using OutputTest::Tone;

class SuspendTest : public OutputFixture {};

float Half(uint32_t, uint32_t) { return 0.5f; }

TEST_F(SuspendTest, TheSwitchFollowsItsTable) {
  InitWithMemorySink();
  // Running: waking up changes nothing.
  EXPECT_EQ(SoundEngine::WakeupFromSuspend(), SN_NothingChanged);
  EXPECT_FALSE(LowerEngine::IsSuspendRequested());
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());

  // Suspended with rendering: the devices go silent and the timer thread runs.
  EXPECT_EQ(SoundEngine::Suspend(true), SN_Success);
  EXPECT_TRUE(LowerEngine::IsSuspendRequested());
  EXPECT_TRUE(LowerEngine::IsSuspendedModeActive());
  EXPECT_TRUE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::Silent);
  EXPECT_EQ(SoundEngine::Suspend(true), SN_NothingChanged);

  // Asked to stop rendering: suspended again without rendering; the timer runs on until wake-up.
  EXPECT_EQ(SoundEngine::Suspend(false), SN_Success);
  EXPECT_TRUE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_EQ(SoundEngine::Suspend(false), SN_NothingChanged);
  EXPECT_EQ(SoundEngine::Suspend(true), SN_NothingChanged);  // only the wish is kept

  // Waking up plays the device's own sink again and ends the timer.
  const int plays = SinkLog().plays;
  EXPECT_EQ(SoundEngine::WakeupFromSuspend(), SN_Success);
  EXPECT_FALSE(LowerEngine::IsSuspendRequested());
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  EXPECT_FALSE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::OwnSink);
  EXPECT_EQ(SinkLog().plays, plays + 1);
  EXPECT_EQ(SoundEngine::WakeupFromSuspend(), SN_NothingChanged);
}

TEST_F(SuspendTest, WithRenderingFramesComeByTheClockWithoutNoneAreRendered) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMaskStereo), 1024, &Half);
  Render();
  ASSERT_EQ(g_pAudioMgr->CurrentFrame(), 1u);
  ASSERT_EQ(SoundEngine::Suspend(true), SN_Success);
  // 64 ms of clock: three whole frames of 21.333 ms.
  ManualClock::AdvanceMs(64);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 4u);
  // Those frames went to the silent sink, not to the device's own.
  EXPECT_EQ(SinkLog().frames.size(), 1u);

  ASSERT_EQ(SoundEngine::Suspend(false), SN_Success);
  ManualClock::AdvanceMs(64);
  const size_t before = SinkLog().frames.size();
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(SinkLog().frames.size(), before);

  ASSERT_EQ(SoundEngine::WakeupFromSuspend(), SN_Success);
  Render();
  ASSERT_GT(SinkLog().frames.size(), before);
  EXPECT_EQ(SinkLog().frames.back()[0], 0.5f);
}

TEST_F(SuspendTest, TermEndsARunningTimerThread) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::Suspend(true), SN_Success);
  ASSERT_TRUE(LowerEngine::IsSuspendTimerRunning());
  SoundEngine::Term();
  EXPECT_FALSE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  // A new run begins awake.
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_FALSE(LowerEngine::IsSuspendRequested());
  EXPECT_EQ(SoundEngine::WakeupFromSuspend(), SN_NothingChanged);
}

}  // namespace
