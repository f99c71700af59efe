// The platform sink under SDL's dummy driver, that is over the null output: a frame for every frame
// of clock, rings of whole frames, a device that reports loss and comes back, and the conversion
// of frames of one layout into another.
#include "OutputTestSupport.h"

#include "Platform/AudioOutput.h"
#include "SoundEngine/Lower/Output/Platform/LoopBufferSink.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;

class LoopBufferSinkTest : public OutputFixture {
 protected:
  void TearDown() override {
    Platform::SetNullAudioOutputsLost(false);
    Platform::SetNullAudioOutputMaxChannels(0);
    OutputFixture::TearDown();
  }
  CSnLoopBufferSink* MainSink() {
    CSnOutputDevice* main = LowerEngine::MainDevice();
    return main ? dynamic_cast<CSnLoopBufferSink*>(main->Sink()) : nullptr;
  }
  // Moves the clock by `frames` frames of `samples` at `rate`, rounded up to a whole tick.
  static void AdvanceFrames(uint32_t frames, uint32_t samples, uint32_t rate) {
    const int64_t ticks = (int64_t(frames) * samples * Platform::kTicksPerSecond + rate - 1) / rate;
    ManualClock::AdvanceTicks(ticks);
  }
};

TEST_F(LoopBufferSinkTest, TheMainDeviceRendersAFrameForEveryFrameOfClock) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  CSnLoopBufferSink* sink = MainSink();
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink->Kind(), uint32_t(SnSinkKind_LoopBuffer));
  EXPECT_EQ(sink->ChannelConfig(), StandardConfig(kMaskStereo));  // the null output's own count
  EXPECT_EQ(sink->RingBytes(), 4u * 2 * 2048);                    // four buffers of 2048 bytes a channel
  EXPECT_EQ(sink->GetWaitTime(), 5u);
  EXPECT_EQ(LowerEngine::MainOutputWaitMs(), 5u);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 0u);  // nothing played yet
  for (uint32_t frame = 1; frame <= 100; ++frame) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    ASSERT_EQ(g_pAudioMgr->CurrentFrame(), frame);
  }
  EXPECT_EQ(sink->WriteOffset(), 100u * 4096 % 16384);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
  // Three frames of clock at once give three frames.
  AdvanceFrames(3, 1024, 48000);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 103u);
}

TEST_F(LoopBufferSinkTest, At24kHzAnd2048SamplesAnOddBufferCountKeepsWholeFrames) {
  platform_.sampleRateMode = 1;
  platform_.sinkBufferCount = 5;
  settings_.samplesPerFrame = 2048;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::SampleRate(), 24000u);
  EXPECT_EQ(LowerEngine::RateFactor(), 64u);
  CSnLoopBufferSink* sink = MainSink();
  ASSERT_NE(sink, nullptr);
  // 5 x 2 x 2048 = 20480 bytes asked: two and a half frames of 8192, rounded up to three.
  EXPECT_EQ(sink->RingBytes(), 24576u);
  EXPECT_EQ(sink->GetWaitTime(), 21u);  // a quarter of 85.3 ms
  for (uint32_t frame = 1; frame <= 50; ++frame) {
    AdvanceFrames(1, 2048, 24000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    ASSERT_EQ(g_pAudioMgr->CurrentFrame(), frame);
  }
  EXPECT_EQ(sink->WriteOffset(), 50u * 8192 % 24576);
}

TEST_F(LoopBufferSinkTest, ALostOutputFallsToTheClockAndIsPlayedAgainWhenBack) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  for (int i = 0; i < 5; ++i) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  Platform::SetNullAudioOutputsLost(true);
  AdvanceFrames(1, 1024, 48000);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_TRUE(LowerEngine::IsSuspendedModeActive());
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  // Frames go on by the clock.
  const uint32_t before = g_pAudioMgr->CurrentFrame();
  AdvanceFrames(2, 1024, 48000);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), before + 2);

  Platform::SetNullAudioOutputsLost(false);
  for (int pass = 0; pass < 40 && LowerEngine::IsSuspendedModeActive(); ++pass) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  ASSERT_NE(MainSink(), nullptr);
  // Back on its sink only on a frame that allows a new one: 32 to 35.
  EXPECT_GE(g_pAudioMgr->CurrentFrame(), 32u);
  EXPECT_LE(g_pAudioMgr->CurrentFrame(), 37u);
}

TEST_F(LoopBufferSinkTest, AFiveOneMaskIsKeptAndOthersBecomeStereo) {
  settings_.mainOutputSettings.channelConfig = StandardConfig(kMask51);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_NE(MainSink(), nullptr);
  EXPECT_EQ(MainSink()->ChannelConfig(), StandardConfig(kMask51));
  EXPECT_EQ(SoundEngine::Settings().mainOutputSettings.channelConfig, StandardConfig(kMask51));
  EXPECT_EQ(MainSink()->RingBytes(), 4u * 6 * 2048);
  SoundEngine::Term();
  settings_.mainOutputSettings.channelConfig = StandardConfig(0x7);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_NE(MainSink(), nullptr);
  EXPECT_EQ(MainSink()->ChannelConfig(), StandardConfig(kMaskStereo));
}

TEST_F(LoopBufferSinkTest, AStallLongerThanTheRingIsNotedAndTheNextFramesGoJustAheadOfThePlatform) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  CSnLoopBufferSink* sink = MainSink();
  ASSERT_NE(sink, nullptr);
  for (uint32_t frame = 1; frame <= 10; ++frame) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  ASSERT_EQ(g_pAudioMgr->CurrentFrame(), 10u);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
  // The ring holds four frames; 120 ms is 5.6 frames: the platform played 15 frames against the
  // 14 written (the ring's silent lead-in counts as four).
  ManualClock::AdvanceMs(120);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 10u);
  EXPECT_FALSE(sink->IsStarved());  // acknowledged by the frame
  // The platform reads frame 15 now; frame 16 on is free: three frames, the write offset at
  // frame 19 of the stream.
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 13u);
  EXPECT_EQ(sink->WriteOffset(), 19u * 4096 % 16384);
  // Steady again: a frame for every frame of clock, nothing more noted.
  for (uint32_t frame = 14; frame <= 30; ++frame) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    ASSERT_EQ(g_pAudioMgr->CurrentFrame(), frame);
  }
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 10u);
  // 400 ms: 18.75 frames.
  ManualClock::AdvanceMs(400);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 30u);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 33u);
}

TEST_F(LoopBufferSinkTest, AMixWiderThanAFrameIsPlayedAsSilenceWithoutSkippingTheFrame) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&OutputTest::PassToneToMainDevice), SN_Success);
  OutputTest::Tone().Set(AnonymousConfig(10), 1024, [](uint32_t, uint32_t) { return 0.5f; });
  CSnLoopBufferSink* sink = MainSink();
  ASSERT_NE(sink, nullptr);
  for (uint32_t frame = 1; frame <= 3; ++frame) {
    AdvanceFrames(1, 1024, 48000);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 3u);
  EXPECT_EQ(sink->WriteOffset(), 3u * 4096);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
}

TEST_F(LoopBufferSinkTest, AddingAnOutputThatExistsKeepsItsPlayCursor) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(1, 64, 0), SN_Success);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  CSnOutputDevice* secondary = LowerEngine::FindOutputDevice(64, 1);
  ASSERT_NE(secondary, nullptr);
  auto* sink = dynamic_cast<CSnLoopBufferSink*>(secondary->Sink());
  ASSERT_NE(sink, nullptr);
  AdvanceFrames(2, 1024, 48000);
  uint32_t play = 0, write = 0;
  ASSERT_TRUE(sink->Output()->GetCursors(play, write));
  EXPECT_EQ(play, 2u * 4096);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(1, 64, 0), SN_Success);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  ASSERT_EQ(LowerEngine::FindOutputDevice(64, 1), secondary);
  ASSERT_TRUE(sink->Output()->GetCursors(play, write));
  EXPECT_EQ(play, 2u * 4096);
}

TEST_F(LoopBufferSinkTest, SevenOneFallsBackToFiveOneThenStereoThenTheSilentSink) {
  settings_.mainOutputSettings.channelConfig = StandardConfig(kMask71);
  Platform::SetNullAudioOutputMaxChannels(6);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_NE(MainSink(), nullptr);
  EXPECT_EQ(MainSink()->ChannelConfig(), StandardConfig(kMask51));
  EXPECT_EQ(MainSink()->RingBytes(), 4u * 6 * 2048);
  SoundEngine::Term();
  Platform::SetNullAudioOutputMaxChannels(2);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_NE(MainSink(), nullptr);
  EXPECT_EQ(MainSink()->ChannelConfig(), StandardConfig(kMaskStereo));
  SoundEngine::Term();
  // Nothing opens: the main device runs on the silent sink in the layout asked for.
  Platform::SetNullAudioOutputMaxChannels(1);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(MainSink(), nullptr);
  ASSERT_NE(LowerEngine::MainDevice()->Sink(), nullptr);
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  EXPECT_EQ(LowerEngine::MainDevice()->ChannelConfig(), StandardConfig(kMaskStereo));  // the silent sink's own
}

TEST_F(LoopBufferSinkTest, OnceAPlatformSinkWorkedOutputsAskingForAnyKindGetIt) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_NE(MainSink(), nullptr);
  EXPECT_EQ(SinkFactory::RememberedKinds(), uint32_t(SnSinkKind_LoopBuffer));
  // Type 64 names no kind: it takes the remembered one. Type 8 asks for the silent sink.
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(1, 64, 0), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(2, 8, 0), SN_Success);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  ASSERT_NE(LowerEngine::FindOutputDevice(64, 1), nullptr);
  EXPECT_EQ(LowerEngine::FindOutputDevice(64, 1)->Sink()->Kind(), uint32_t(SnSinkKind_LoopBuffer));
  EXPECT_EQ(LowerEngine::FindOutputDevice(8, 2)->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  // A platform sink that cannot open leaves what is remembered as it was.
  Platform::SetNullAudioOutputMaxChannels(1);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(3, 64, 0), SN_Success);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(LowerEngine::FindOutputDevice(64, 3)->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  EXPECT_EQ(SinkFactory::RememberedKinds(), uint32_t(SnSinkKind_LoopBuffer));
}

int16_t Scaled(float value) { return int16_t(lrintf(value * 32767.0f)); }

TEST(LoopBufferConvert, FramesOfOneLayoutBecomeFramesOfAnother) {
  // 5.1 frames (FL FR FC LFE SL SR) onto stereo: centre and surrounds at 0.707, LFE dropped.
  const float fiveOne[2 * 6] = {0.1f, 0.2f, 0.3f, 0.9f, 0.4f, 0.5f, 1.0f, -1.0f, 1.0f, 1.0f, 1.0f, -1.0f};
  int16_t stereo[4];
  CSnLoopBufferSink::ConvertFrame(fiveOne, StandardConfig(kMask51), stereo, StandardConfig(kMaskStereo), 2);
  EXPECT_EQ(stereo[0], Scaled(0.1f + 0.707f * 0.3f + 0.707f * 0.4f));
  EXPECT_EQ(stereo[1], Scaled(0.2f + 0.707f * 0.3f + 0.707f * 0.5f));
  EXPECT_EQ(stereo[2], 32767);   // 1 + 0.707 + 0.707, limited
  EXPECT_EQ(stereo[3], -32767);  // -1 + 0.707 - 0.707 = -1

  // A centre-only frame onto stereo: both sides at 0.707.
  const float centre[1] = {0.5f};
  CSnLoopBufferSink::ConvertFrame(centre, StandardConfig(kSpeakerCenter), stereo, StandardConfig(kMaskStereo), 1);
  EXPECT_EQ(stereo[0], Scaled(0.707f * 0.5f));
  EXPECT_EQ(stereo[1], Scaled(0.707f * 0.5f));

  // Stereo onto 5.1: the front pair, the rest silent.
  const float pair[2] = {0.25f, -0.5f};
  int16_t six[6];
  std::fill(six, six + 6, int16_t(1234));
  CSnLoopBufferSink::ConvertFrame(pair, StandardConfig(kMaskStereo), six, StandardConfig(kMask51), 1);
  const int16_t sixExpected[6] = {Scaled(0.25f), Scaled(-0.5f), 0, 0, 0, 0};
  for (int c = 0; c < 6; ++c) EXPECT_EQ(six[c], sixExpected[c]) << c;

  // 7.1 (FL FR FC LFE BL BR SL SR) onto 5.1 (FL FR FC LFE SL SR): the back pair folds into the front.
  const float sevenOne[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.05f, 0.06f, 0.7f, 0.8f};
  CSnLoopBufferSink::ConvertFrame(sevenOne, StandardConfig(kMask71), six, StandardConfig(kMask51), 1);
  EXPECT_EQ(six[0], Scaled(0.1f + 0.707f * 0.05f));
  EXPECT_EQ(six[1], Scaled(0.2f + 0.707f * 0.06f));
  EXPECT_EQ(six[2], Scaled(0.3f));
  EXPECT_EQ(six[3], Scaled(0.4f));
  EXPECT_EQ(six[4], Scaled(0.7f));
  EXPECT_EQ(six[5], Scaled(0.8f));

  // The same layout is copied, limited and rounded: 0.5 x 32767 = 16383.5 rounds to even.
  const float same[2] = {0.5f, -2.0f};
  CSnLoopBufferSink::ConvertFrame(same, StandardConfig(kMaskStereo), stereo, StandardConfig(kMaskStereo), 1);
  EXPECT_EQ(stereo[0], 16384);
  EXPECT_EQ(stereo[1], -32767);
}

}  // namespace
