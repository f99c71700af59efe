// Output devices driven through rendered frames: a tone handed to the main device reaches a memory
// sink with the device and master ramps, silence when nothing is passed, layouts other than the
// sink's, secondary outputs, the main device that stays, speaker angles, a lost device with its
// retries and recovery, and the silent sink's clock.
#include "OutputTestSupport.h"

#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;
using OutputTest::SinkLog;
using OutputTest::Tone;

class OutputDeviceTest : public OutputFixture {};

using OutputTest::StereoTone;
float PlaneIndexTone(uint32_t channel, uint32_t t) { return float(channel * 1000 + t); }

TEST_F(OutputDeviceTest, AToneReachesTheSinkWithTheMasterRampThenSteady) {
  InitWithMemorySink();
  EXPECT_EQ(SinkLog().plays, 1);
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  LowerEngine::SetMasterVolume(0.5f);
  Render();
  ASSERT_EQ(SinkLog().frames.size(), 1u);
  const std::vector<float>& first = SinkLog().frames[0];
  ASSERT_EQ(first.size(), 2048u);
  // Gain runs from 1 to 0.5 over the frame: 1 - t / 2048 at frame t (exact in binary).
  EXPECT_EQ(first[0], 0.5f);
  EXPECT_EQ(first[1], -0.25f);
  EXPECT_EQ(first[2 * 512], 0.375f);
  EXPECT_EQ(first[2 * 512 + 1], -0.1875f);
  EXPECT_EQ(first[2 * 1023], 0.5f * (1.0f - 1023.0f / 2048.0f));
  // The next frame starts where the ramp ended and stays there.
  Render();
  ASSERT_EQ(SinkLog().frames.size(), 2u);
  for (uint32_t t = 0; t < 1024; t += 97) {
    EXPECT_EQ(SinkLog().frames[1][2 * t], 0.25f);
    EXPECT_EQ(SinkLog().frames[1][2 * t + 1], -0.125f);
  }
  EXPECT_EQ(SinkLog().silentFrames, 0);
  // Nothing handed over: the sink writes silence instead.
  Tone().enabled = false;
  Render(2);
  EXPECT_EQ(SinkLog().silentFrames, 2);
  EXPECT_EQ(SinkLog().frames.size(), 2u);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 4u);
}

// The tone handed to the secondary device (8, 1) as well.
void PassToneToSecondary(bool lastCall) {
  CSnOutputDevice* device = LowerEngine::FindOutputDevice(8, 1);
  if (lastCall || !device || !Tone().enabled) return;
  SnMixBuffer mix = Tone().buffer;
  mix.samples = Tone().storage.data();
  mix.previousGain = mix.nextGain = 1.0f;
  device->PassData(mix);
}

TEST_F(OutputDeviceTest, ADeviceVolumeRampsOverOneFrameTogetherWithTheMasterVolume) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassToneToSecondary), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(1, 8, 0), SN_Success);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"ramp.wav"), SN_Success);
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  EXPECT_EQ(SoundEngine::SetSecondaryOutputVolume(0, 32, 0.5f), SN_Failure);  // the main device has none
  ASSERT_EQ(SoundEngine::SetSecondaryOutputVolume(1, 8, 0.5f), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::SetSecondaryOutputVolume(1, 8, 0.25f), SN_Success);
  LowerEngine::SetMasterVolume(0.5f);
  Render();
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  SoundEngine::RemoveBehavioralExtension(&PassToneToSecondary);
  const std::vector<uint8_t> file = OutputTest::ReadFileBytes(Path("ramp1.wav"));
  ASSERT_EQ(file.size(), 46u + 3 * 4096);
  auto left = [&](uint32_t frame, uint32_t t) {
    const size_t at = 46 + (size_t(frame) * 1024 + t) * 4;
    return int16_t(file[at] | file[at + 1] << 8);
  };
  // Gains worked out by hand, within one step of rounding: frame 0 from 1 to 0.5 (the device),
  // frame 1 from 0.5 to 0.25 x 0.5 (device and master), frame 2 steady at 0.125.
  auto expected = [](double gain) { return int(std::lrint(0.5 * gain * 32767.0)); };
  for (uint32_t t : {0u, 1u, 512u, 1023u}) {
    EXPECT_NEAR(left(0, t), expected(1.0 - 0.5 * t / 1024.0), 1) << t;
    EXPECT_NEAR(left(1, t), expected(0.5 - 0.375 * t / 1024.0), 1) << t;
    EXPECT_NEAR(left(2, t), expected(0.125), 1) << t;
  }
  // The main device kept its volume: only the master ramp reached it.
  EXPECT_EQ(SinkLog().frames[0][2 * 512], 0.5f);
}

TEST_F(OutputDeviceTest, AFiveOneMixOnAStereoSinkKeepsItsLayoutWithTheLfeFourth) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMask51), 1024, &PlaneIndexTone);
  Render();
  ASSERT_EQ(SinkLog().frames.size(), 1u);
  EXPECT_EQ(SinkLog().layouts[0], StandardConfig(kMask51));
  const std::vector<float>& frame = SinkLog().frames[0];
  ASSERT_EQ(frame.size(), 6u * 1024);
  // Planes FL FR FC SL SR LFE become frames FL FR FC LFE SL SR.
  const float expected[6] = {0, 1000, 2000, 5000, 3000, 4000};
  for (uint32_t t : {0u, 7u, 1023u})
    for (uint32_t c = 0; c < 6; ++c) EXPECT_EQ(frame[t * 6 + c], expected[c] + float(t)) << t << " " << c;
}

TEST_F(OutputDeviceTest, AMixWiderThanAFrameIsNotPlayedAndSaidOnce) {
  InitWithMemorySink();
  Tone().Set(AnonymousConfig(10), 1024, &PlaneIndexTone);
  log_.Take();
  Render(3);
  // Each such frame is silence, never a frame skipped.
  EXPECT_EQ(SinkLog().frames.size(), 0u);
  EXPECT_EQ(SinkLog().silentFrames, 3);
  const std::string said = log_.Take();
  const size_t first = said.find("wider than a frame");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(said.find("wider than a frame", first + 1), std::string::npos);
}

TEST_F(OutputDeviceTest, SecondaryOutputsOfTypeEightRunSilentAndTheMainDeviceStays) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(5, 8, 0x2), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(6, 16, 0), SN_Success);
  EXPECT_EQ(SoundEngine::RemoveSecondaryOutput(0, 32), SN_Failure);
  Render();
  ASSERT_EQ(LowerEngine::OutputDeviceCount(), 3u);
  CSnOutputDevice* secondary = LowerEngine::FindOutputDevice(8, 5);
  ASSERT_NE(secondary, nullptr);
  ASSERT_NE(secondary->Sink(), nullptr);
  EXPECT_EQ(secondary->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  EXPECT_EQ(secondary->State(), SnDeviceState::Silent);
  EXPECT_EQ(secondary->ListenerMask(), 0x2u);
  EXPECT_EQ(LowerEngine::MainDevice()->ListenerMask(), 0xFDu);  // gave listener 1 away
  ASSERT_NE(LowerEngine::FindOutputDevice(16, 6), nullptr);
  // The main sink is a plug-in: the silent sinks take stereo.
  EXPECT_EQ(SoundEngine::GetSpeakerConfiguration(8, 5), 0x3102u);
  EXPECT_EQ(SoundEngine::GetSpeakerConfiguration(8, 99), 0u);
  // Still paced by the main device alone.
  Render(3);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 4u);

  ASSERT_EQ(SoundEngine::RemoveSecondaryOutput(5, 8), SN_Success);
  Render();
  EXPECT_EQ(LowerEngine::FindOutputDevice(8, 5), nullptr);
  EXPECT_EQ(LowerEngine::OutputDeviceCount(), 2u);
  EXPECT_NE(LowerEngine::MainDevice(), nullptr);
}

TEST_F(OutputDeviceTest, SpeakerAnglesHaveTheirDefaultsAndTakeNewOnes) {
  InitWithMemorySink(StandardConfig(kMask51));
  uint32_t count = 0;
  float height = 0.0f;
  ASSERT_EQ(SoundEngine::GetSpeakerAngles(nullptr, count, height, 32, 0), SN_Success);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(height, 45.0f);
  // 30, 110 and 142.5 degrees in 512ths of a circle: 43, 156 and 203 (rounded), read back.
  float angles[3] = {};
  count = 3;
  ASSERT_EQ(SoundEngine::GetSpeakerAngles(angles, count, height, 32, 0), SN_Success);
  EXPECT_EQ(angles[0], 43.0f * 360.0f / 512.0f);
  EXPECT_EQ(angles[1], 156.0f * 360.0f / 512.0f);
  EXPECT_EQ(angles[2], 203.0f * 360.0f / 512.0f);
  uint32_t rule = 7;
  EXPECT_EQ(SoundEngine::GetPanningRule(rule, 32, 0), SN_Success);
  EXPECT_EQ(rule, 0u);
  EXPECT_EQ(SoundEngine::GetPanningRule(rule, 64, 3), SN_Failure);

  CSnOutputDevice* main = LowerEngine::MainDevice();
  const float four[4] = {20.0f, 60.0f, 100.0f, 170.0f};
  EXPECT_EQ(main->SetSpeakerAngles(four, 4, 90.5f), SN_InvalidParameter);
  EXPECT_EQ(main->SetSpeakerAngles(four, 4, 90.0f), SN_Success);
  // A NaN angle is refused as a wrong argument and the angles stay.
  const float notANumber[3] = {20.0f, std::nanf(""), 100.0f};
  EXPECT_EQ(main->SetSpeakerAngles(notANumber, 3, 0.0f), SN_InvalidParameter);
  uint32_t units[1];
  uint32_t spacing = 0;
  EXPECT_EQ(CSnSpeakerPan::DegreesToAngles(notANumber + 1, 1, units, spacing), SN_InvalidParameter);
  const float backwards[2] = {60.0f, 20.0f};
  EXPECT_EQ(main->SetSpeakerAngles(backwards, 2, 0.0f), SN_Failure);
  count = 1;
  ASSERT_EQ(SoundEngine::GetSpeakerAngles(angles, count, height, 32, 0), SN_Success);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(angles[0], 28.0f * 360.0f / 512.0f);  // 20 degrees: 28.44 + 0.5 units
  EXPECT_EQ(height, 90.0f);
}

TEST_F(OutputDeviceTest, DefaultAnglesFollowTheSpeakers) {
  float degrees[3];
  float height = 0.0f;
  CSnSpeakerPan::DefaultSpeakerAngles(StandardConfig(kMaskStereo), degrees, height);
  EXPECT_EQ(degrees[0], 45.0f);
  EXPECT_EQ(degrees[1], 110.0f);
  CSnSpeakerPan::DefaultSpeakerAngles(StandardConfig(kMask71), degrees, height);
  EXPECT_EQ(degrees[0], 30.0f);
  EXPECT_EQ(degrees[1], 100.0f);
  EXPECT_EQ(degrees[2], 142.5f);
  EXPECT_EQ(height, 45.0f);
  uint32_t units[3];
  uint32_t spacing = 0;
  ASSERT_EQ(CSnSpeakerPan::DegreesToAngles(degrees, 3, units, spacing), SN_Success);
  // 43, 142, 203: gaps 43, 99, 61 and twice 53 to the back.
  EXPECT_EQ(units[1], 142u);
  EXPECT_EQ(spacing, 43u);
  const float quarter[1] = {90.0f};
  EXPECT_EQ(CSnSpeakerPan::DegreesToAngles(quarter, 1, units, spacing), SN_Failure);
}

TEST_F(OutputDeviceTest, ALostDeviceFallsToTheClockRetriesOnFourOfThirtyTwoFramesAndRecovers) {
  InitWithMemorySink();
  Render();
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 1u);
  SinkLog().lost = true;
  SinkLog().refuseInit = true;
  const int madeBefore = SinkLog().made;
  // Frame 1 may recreate: one new sink is tried and refused; the device falls to the silent sink
  // and suspended mode begins.
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(SinkLog().made, madeBefore + 1);
  EXPECT_TRUE(LowerEngine::IsSuspendedModeActive());
  EXPECT_TRUE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_FALSE(LowerEngine::IsSuspendRequested());
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_Silent));

  // One frame of clock per pass, frames 2 to 65: a new sink is tried on frames 0-3 of every 32,
  // that is on 2, 3, 32 to 35, 64 and 65.
  for (int pass = 0; pass < 64; ++pass) {
    const uint32_t frame = g_pAudioMgr->CurrentFrame();
    ManualClock::AdvanceTicks(213334);  // a little over 1024 / 48000 s
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    EXPECT_EQ(g_pAudioMgr->CurrentFrame(), frame + 1) << pass;
  }
  EXPECT_EQ(SinkLog().made, madeBefore + 1 + 8);
  EXPECT_TRUE(LowerEngine::IsSuspendedModeActive());

  // The device is back: the next allowed frame plays it again and suspended mode ends.
  SinkLog().lost = false;
  SinkLog().refuseInit = false;
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  const size_t framesBefore = SinkLog().frames.size();
  for (int pass = 0; pass < 32 && LowerEngine::IsSuspendedModeActive(); ++pass) {
    ManualClock::AdvanceTicks(213334);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  EXPECT_FALSE(LowerEngine::IsSuspendTimerRunning());
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::OwnSink);
  Render();
  EXPECT_GT(SinkLog().frames.size(), framesBefore);
  EXPECT_EQ(SinkLog().frames.back()[0], 0.5f);
}

TEST_F(OutputDeviceTest, FramesRunWithFlushToZeroAndGiveTheCallersSettingBack) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  const uint32_t saved = _mm_getcsr();
  _mm_setcsr(saved & ~0x8000u);
  Render();
  EXPECT_EQ(_mm_getcsr() & 0x8000u, 0u);
  // The caller's other bits (here round toward zero) are left as they are.
  _mm_setcsr((saved | 0x8000u | 0x6000u));
  Render();
  const uint32_t after = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_EQ(after & 0xE000u, 0xE000u);
  ASSERT_EQ(SinkLog().flushToZeroWhileWriting.size(), 2u);
  EXPECT_EQ(SinkLog().flushToZeroWhileWriting[0], 0x8000u);
  EXPECT_EQ(SinkLog().flushToZeroWhileWriting[1], 0x8000u);
}

TEST_F(OutputDeviceTest, ADeviceChangeMakesTheMainSinkAgainOnAnAllowedFrame) {
  InitWithMemorySink();
  Render(2);
  const int made = SinkLog().made;
  LowerEngine::NotifyDeviceChanged();
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::OwnSink);  // seen at the next check
  Render();  // frame 2: a new sink may be made
  EXPECT_EQ(SinkLog().made, made + 1);
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::OwnSink);
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  Render(40);
  EXPECT_EQ(SinkLog().made, made + 1);  // once only
}

TEST_F(OutputDeviceTest, AStarvedSinkIsAcknowledgedAndNotedAtMostOnceInEightFrames) {
  InitWithMemorySink();
  Render(5);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
  SinkLog().starved = true;
  Render();  // frame 5
  EXPECT_FALSE(SinkLog().starved);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 5u);
  Render();
  SinkLog().starved = true;
  Render();  // frame 7: acknowledged, not noted
  EXPECT_FALSE(SinkLog().starved);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 5u);
  Render(5);
  SinkLog().starved = true;
  Render();  // frame 13: eight frames on
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 13u);
}

TEST_F(OutputDeviceTest, TheSilentSinkCountsWholeFramesWithoutDrift) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  CSnSinkDummy sink(StandardConfig(kMaskStereo));
  uint32_t frames = 99;
  ASSERT_EQ(sink.IsDataNeeded(frames), SN_Success);
  EXPECT_EQ(frames, 0u);
  ManualClock::AdvanceMs(21);
  sink.IsDataNeeded(frames);
  EXPECT_EQ(frames, 0u);  // a frame is 21.333 ms
  ManualClock::AdvanceMs(1);
  sink.IsDataNeeded(frames);
  EXPECT_EQ(frames, 1u);
  // A thousand steps of 21 ms, each rounding away 0.333 ms of a frame that must not be lost.
  uint64_t total = 1;
  for (int i = 0; i < 1000; ++i) {
    ManualClock::AdvanceMs(21);
    sink.IsDataNeeded(frames);
    total += frames;
  }
  // 21.022 s at 46.875 frames a second: 985.4 frames, 985 of them whole.
  EXPECT_EQ(total, 985u);
  // Ten hours on: (36000 + 21.022) s x 46.875 = 1688485.4 frames due since creation.
  ManualClock::AdvanceTicks(int64_t(36000) * Platform::kTicksPerSecond);
  sink.IsDataNeeded(frames);
  total += frames;
  EXPECT_EQ(total, 1688485u);
  EXPECT_EQ(sink.GetWaitTime(), 5u);
}

}  // namespace

namespace {

using namespace SN;

class DeviceReaderTest : public OutputTest::OutputFixture {};

// Game threads read the device list while the audio thread adds and frees devices.
TEST_F(DeviceReaderTest, ReadersOnAnotherThreadMeetOnlyWholeDevices) {
  InitWithMemorySink();
  std::atomic<bool> done{false};
  std::atomic<uint32_t> seen{0};
  std::thread reader([&] {
    while (!done.load()) {
      uint32_t count = 0;
      float height = 0.0f;
      if (SoundEngine::GetSpeakerConfiguration(8, 3) == 0x3102u) ++seen;
      if (SoundEngine::GetSpeakerAngles(nullptr, count, height, 8, 3) == SN_Success && count == 3) ++seen;
      uint32_t rule = 0;
      SoundEngine::GetPanningRule(rule, 8, 3);
    }
  });
  for (int cycle = 0; cycle < 50; ++cycle) {
    ASSERT_EQ(SoundEngine::AddSecondaryOutput(3, 8, 0), SN_Success);
    Render();
    ASSERT_EQ(SoundEngine::RemoveSecondaryOutput(3, 8), SN_Success);
    Render();
  }
  done = true;
  reader.join();
  EXPECT_EQ(LowerEngine::FindOutputDevice(8, 3), nullptr);
  EXPECT_EQ(LowerEngine::OutputDeviceCount(), 1u);
}

}  // namespace
