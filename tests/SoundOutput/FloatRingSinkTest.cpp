// The float ring sink over null pull devices whose consumer is the test (or a thread of its own):
// the factory's order, rings paced together, a new ring queued as deep as the main one, starvation,
// a lost device made again, a ring as deep as the buffers asked, and broken frames played held to
// full scale.
#include "OutputTestSupport.h"

#include "Platform/AudioOutput.h"
#include "SoundEngine/Lower/Output/Platform/FloatRingSink.h"
#include "tests/SoundOutput/BrokenFrames.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;

constexpr uint32_t kRingFrame = 1024;

class FloatRingSinkTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    rememberedKinds_ = SinkFactory::RememberedKinds();
    SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
    Platform::SetNullAudioPullOutputs(true);
  }
  void TearDown() override {
    Platform::SetNullAudioPullOutputs(false);
    Platform::SetNullAudioOutputsLost(false);
    OutputFixture::TearDown();
    SinkFactory::SetRememberedKinds(rememberedKinds_);
  }
  void InitRing(uint32_t sinkBuffers = 4) {
    settings_.mainOutputKind = SnSinkKind_Engine;
    platform_.sinkBufferCount = sinkBuffers;
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  }
  static CSnFloatRingSink* RingOf(uint32_t type, uint32_t id) {
    CSnOutputDevice* device = LowerEngine::FindOutputDevice(type, id);
    return device && device->Sink() && device->Sink()->Kind() == SnSinkKind_Engine
               ? static_cast<CSnFloatRingSink*>(device->Sink())
               : nullptr;
  }
  static CSnFloatRingSink* MainRing() { return RingOf(SnOutput_Main, 0); }
  // The platform's thread, played by the test: `count` frames of stereo.
  static std::vector<float> Pull(CSnFloatRingSink* sink, uint32_t count) {
    std::vector<float> out(size_t(count) * kRingFrame * 2, -9.0f);
    for (uint32_t i = 0; i < count; ++i) sink->Output()->Pull(out.data() + size_t(i) * kRingFrame * 2, kRingFrame);
    return out;
  }
  // One stereo frame of `value` straight into the sink, as an output device hands it over.
  static void WriteValue(CSnSink* sink, float value) {
    std::vector<float> planes(2 * kRingFrame, value);
    SnMixBuffer mix;
    mix.samples = planes.data();
    mix.channelConfig = StandardConfig(kMaskStereo);
    mix.maxFrames = mix.validFrames = kRingFrame;
    sink->PassData(mix, 1.0f, 1.0f);
    sink->EndFrame();
  }
  static uint32_t FramesNeeded(CSnSink* sink) {
    uint32_t frames = 0;
    EXPECT_EQ(sink->IsDataNeeded(frames), SN_Success);
    return frames;
  }
  void AddSecondary(uint32_t id) {
    ASSERT_EQ(SoundEngine::AddSecondaryOutput(id, SnOutput_SecondaryPlatform, 0), SN_Success);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  uint32_t rememberedKinds_ = 0;
};

TEST_F(FloatRingSinkTest, AWordNamingTheRingTriesItFirstAndWordZeroTheLoopingBuffer) {
  settings_.mainOutputKind = 0;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_LoopBuffer));
  SoundEngine::Term();
  SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
  settings_.mainOutputKind = 7;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  CSnFloatRingSink* ring = MainRing();
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(SinkFactory::RememberedKinds(), uint32_t(SnSinkKind_Engine));
  EXPECT_EQ(ring->ChannelConfig(), StandardConfig(kMaskStereo));
  EXPECT_EQ(ring->SlotCount(), 8u);
  EXPECT_EQ(ring->GetWaitTime(), 42u);
  SoundEngine::Term();
  // Without a pull device the ring is passed over for the next kinds.
  Platform::SetNullAudioPullOutputs(false);
  SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_LoopBuffer));
}

TEST_F(FloatRingSinkTest, EveryRingRendersInStepWithTheFullestAndPlaysWhatWasWritten) {
  InitRing();
  CSnFloatRingSink* main = MainRing();
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(main->Play(), SN_Success);
  AddSecondary(77);
  CSnFloatRingSink* second = RingOf(SnOutput_SecondaryPlatform, 77);
  ASSERT_NE(second, nullptr);
  // Four buffers: both rings fill to four and ask for nothing more.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(main->FilledSlots(), 4u);
  EXPECT_EQ(second->FilledSlots(), 4u);
  EXPECT_EQ(FramesNeeded(main), 0u);
  // The main ring plays two frames: the second ring is still full, so neither asks.
  Pull(main, 2);
  EXPECT_EQ(main->FilledSlots(), 2u);
  EXPECT_EQ(FramesNeeded(main), 0u);
  EXPECT_EQ(FramesNeeded(second), 0u);
  Pull(second, 1);
  EXPECT_EQ(FramesNeeded(main), 1u);
  EXPECT_EQ(FramesNeeded(second), 1u);
  const uint32_t before = g_pAudioMgr->CurrentFrame();
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), before + 1);
  EXPECT_FALSE(main->IsStarved());
}

TEST_F(FloatRingSinkTest, ANewRingQueuesAsDeepAsTheMainOneAndPlaysItsFramesNext) {
  InitRing();
  CSnFloatRingSink* main = MainRing();
  ASSERT_NE(main, nullptr);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  Pull(main, 1);
  ASSERT_EQ(main->FilledSlots(), 3u);
  ASSERT_EQ(main->WriteIndex(), 4u);
  AddSecondary(78);
  CSnFloatRingSink* second = RingOf(SnOutput_SecondaryPlatform, 78);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->QueuedSlots(), 3u);
  // The pass that added it rendered the one frame both rings had room for, after the three queued.
  EXPECT_EQ(second->FilledSlots(), 4u);
  EXPECT_EQ(second->WriteIndex(), 4u);
  ASSERT_EQ(second->Play(), SN_Success);
  WriteValue(second, 0.25f);
  const std::vector<float> played = Pull(second, 5);
  for (size_t i = 0; i < 4 * kRingFrame * 2; ++i) ASSERT_EQ(played[i], 0.0f) << i;
  for (size_t i = 4 * kRingFrame * 2; i < played.size(); ++i) ASSERT_EQ(played[i], 0.25f) << i;
  EXPECT_EQ(second->FilledSlots(), 0u);
}

TEST_F(FloatRingSinkTest, APlatformThatRunsDryAfterPlayingIsStarved) {
  InitRing();
  CSnFloatRingSink* main = MainRing();
  ASSERT_NE(main, nullptr);
  // Nothing played yet: an empty ring is not a starved one.
  Pull(main, 1);
  EXPECT_FALSE(main->IsStarved());
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  ASSERT_EQ(main->FilledSlots(), 4u);
  std::vector<float> played = Pull(main, 5);
  EXPECT_TRUE(main->IsStarved());
  // The fifth pass found nothing: silence, never old slots.
  for (size_t i = 4 * kRingFrame * 2; i < played.size(); ++i) ASSERT_EQ(played[i], 0.0f);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_NE(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
  EXPECT_FALSE(main->IsStarved());
}

TEST_F(FloatRingSinkTest, ALostDeviceIsMadeAgainOnAFrameThatAllowsIt) {
  InitRing();
  CSnFloatRingSink* first = MainRing();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  Platform::SetNullAudioOutputsLost(true);
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::Silent);
  Platform::SetNullAudioOutputsLost(false);
  CSnFloatRingSink* again = nullptr;
  for (int pass = 0; pass < 40 && !again; ++pass) {
    ManualClock::AdvanceMs(22);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    again = MainRing();
  }
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(LowerEngine::MainDevice()->State(), SnDeviceState::OwnSink);
  // Made on one of the four frames out of every 32 that allow it.
  EXPECT_LT((g_pAudioMgr->CurrentFrame() - 1) % 32, 4u);
}

TEST_F(FloatRingSinkTest, MoreBuffersThanEightSlotsGiveADeeperRingAndNoSlotIsWrittenTwice) {
  InitRing(12);
  CSnFloatRingSink* main = MainRing();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->SlotCount(), 12u);
  ASSERT_EQ(main->Play(), SN_Success);
  int written = 0;
  // Each frame marked by its number in 16ths, inside full scale as every sample the ring plays.
  for (uint32_t frames = FramesNeeded(main); frames; frames = FramesNeeded(main))
    WriteValue(main, float(++written) / 16.0f);
  EXPECT_EQ(written, 12);
  const std::vector<float> played = Pull(main, 12);
  for (int frame = 0; frame < 12; ++frame)
    ASSERT_EQ(played[size_t(frame) * kRingFrame * 2], float(frame + 1) / 16.0f) << frame;
}

TEST_F(FloatRingSinkTest, ThePlatformThreadPlaysWhileTheAudioThreadRenders) {
  settings_.useAudioThread = 1;
  InitRing();
  CSnFloatRingSink* main = nullptr;
  {
    std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
    main = MainRing();
  }
  ASSERT_NE(main, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> passes{0};
  // The platform's thread: pulls until the audio thread has rendered a good many frames.
  std::thread consumer([&] {
    std::vector<float> out(kRingFrame * 2);
    while (!stop.load()) {
      main->Output()->Pull(out.data(), kRingFrame);
      ++passes;
      std::this_thread::yield();
    }
  });
  uint32_t frame = 0;
  OrvTest::WaitUntil(
      [&] {
        {
          std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
          frame = g_pAudioMgr->CurrentFrame();
        }
        LowerEngine::WakeAudioThread();
        return frame >= 64;
      },
      [&] { return "frame 64 (CurrentFrame() " + std::to_string(frame) + ")"; });
  stop = true;
  consumer.join();
  EXPECT_GT(passes.load(), 0u);
}

TEST_F(FloatRingSinkTest, TheRingPlaysHeldSamplesOfAStereoMixAndOfAFiveOneMixFolded) {
  InitRing();
  CSnFloatRingSink* ring = MainRing();
  ASSERT_NE(ring, nullptr);
  ASSERT_EQ(ring->ChannelConfig(), StandardConfig(kMaskStereo));
  ASSERT_EQ(ring->Play(), SN_Success);
  CSnSink* sink = ring;
  const BrokenFrames::Mix stereo(StandardConfig(kMaskStereo));
  sink->PassData(stereo.mix, 1.0f, 1.0f);
  sink->EndFrame();
  // Every front speaker of five-one at full scale: left and right fold to 1 + 2 x 0.707, played as 1.
  const BrokenFrames::Mix wide(StandardConfig(kMask51), [](uint32_t, uint32_t) { return 1.0f; });
  sink->PassData(wide.mix, 1.0f, 1.0f);
  sink->EndFrame();
  const std::vector<float> played = Pull(ring, 2);
  BrokenFrames::ExpectPlayedStereo(played, kRingFrame, "stereo");
  EXPECT_TRUE(std::all_of(played.begin() + kRingFrame * 2, played.end(), [](float s) { return s == 1.0f; }));
}


}  // namespace
