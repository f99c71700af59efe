// The shared endpoint sink over null queue devices that keep what they are given: the main output
// and a secondary one naming the same device summed into one frame, a device at 44100 Hz given the
// engine's tone resampled, a device that settles on six channels, a device that will not start, and
// broken frames (alone, summed, resampled) handed over held to full scale.
#include "OutputTestSupport.h"

#include <algorithm>
#include <cmath>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "SoundEngine/Lower/Output/Platform/AudioEndpoints.h"
#include "SoundEngine/Lower/Output/Platform/SharedEndpointSink.h"
#include "tests/SoundOutput/BrokenFrames.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using OutputTest::Tone;

constexpr uint32_t kSinkFrame = 1024;
const std::string kDefaultName = "Speakers A";
const std::string kOtherName = "Speakers B";

// What the secondary output plays each frame: a constant, or nothing when 0.
float& SecondaryLevel() {
  static float level = 0.0f;
  return level;
}

void PassLevelToSecondary(bool lastCall) {
  if (lastCall || SecondaryLevel() == 0.0f) return;
  CSnOutputDevice* device = LowerEngine::FindOutputDevice(SnOutput_SecondaryPlatform, DeviceIdOfName(kDefaultName));
  if (!device) return;
  static std::vector<float> planes;
  planes.assign(2 * kSinkFrame, SecondaryLevel());
  SnMixBuffer mix;
  mix.samples = planes.data();
  mix.channelConfig = StandardConfig(kMaskStereo);
  mix.maxFrames = mix.validFrames = kSinkFrame;
  device->PassData(mix);
}

// A 1 kHz sine at the engine's rate, its phase carried from frame to frame.
uint64_t& SineFrames() {
  static uint64_t frames = 0;
  return frames;
}

void PassSineToMain(bool lastCall) {
  if (lastCall) return;
  CSnOutputDevice* main = LowerEngine::MainDevice();
  if (!main) return;
  static std::vector<float> plane;
  plane.resize(kSinkFrame);
  for (uint32_t t = 0; t < kSinkFrame; ++t)
    plane[t] = 0.5f * float(std::sin(2.0 * M_PI * 1000.0 * double(SineFrames() * kSinkFrame + t) / 48000.0));
  ++SineFrames();
  SnMixBuffer mix;
  mix.samples = plane.data();
  mix.channelConfig = StandardConfig(kSpeakerCenter);
  mix.maxFrames = mix.validFrames = kSinkFrame;
  main->PassData(mix);
}

class SharedEndpointSinkTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    rememberedKinds_ = SinkFactory::RememberedKinds();
    SinkFactory::SetRememberedKinds(SnSinkKind_Endpoint);
    Platform::SetAudioPlaybackDeviceNamesForTests({kDefaultName, kOtherName});
    SecondaryLevel() = 0.0f;
    SineFrames() = 0;
  }
  void TearDown() override {
    SoundEngine::RemoveBehavioralExtension(&PassLevelToSecondary);
    SoundEngine::RemoveBehavioralExtension(&PassSineToMain);
    OutputFixture::TearDown();
    Platform::SetNullAudioQueueOutputs(false);
    Platform::SetAudioPlaybackDeviceNamesForTests({});
    SinkFactory::SetRememberedKinds(rememberedKinds_);
  }
  // The main output on the default device through this sink kind alone.
  void InitEndpoint(uint32_t deviceRate = 0, uint32_t deviceChannels = 0, bool startFails = false) {
    Platform::SetNullAudioQueueOutputs(true, deviceRate, deviceChannels, startFails);
    settings_.mainOutputKind = SnSinkKind_Endpoint;
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    ASSERT_NE(Sink(), nullptr);
  }
  static CSnSharedEndpointSink* Sink() {
    CSnOutputDevice* main = LowerEngine::MainDevice();
    return main && main->Sink() && main->Sink()->Kind() == SnSinkKind_Endpoint
               ? static_cast<CSnSharedEndpointSink*>(main->Sink())
               : nullptr;
  }
  // One pass; what the device was given in it, interleaved.
  static std::vector<float> RenderAndTake() {
    EXPECT_EQ(SoundEngine::RenderAudio(), SN_Success);
    std::vector<float> taken;
    if (Sink()) Sink()->Output()->TakeQueued(taken);
    return taken;
  }
  static void ExpectFrames(const std::vector<float>& samples, uint32_t frames, float value, const char* what) {
    ASSERT_EQ(samples.size(), size_t(frames) * kSinkFrame * 2) << what;
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], value) << what << " sample " << i;
  }
  // One frame passed by each of `mixes` (the outputs sharing the sink), written once: what the device got.
  static std::vector<float> WriteShares(std::initializer_list<const SnMixBuffer*> mixes) {
    for (const SnMixBuffer* mix : mixes) Sink()->PassData(*mix, 1.0f, 1.0f);
    Sink()->WriteFrame();
    std::vector<float> taken;
    Sink()->Output()->TakeQueued(taken);
    return taken;
  }
  uint32_t rememberedKinds_ = 0;
};

TEST_F(SharedEndpointSinkTest, TwoOutputsOnOneDeviceShareASinkThatPlaysTheirSumOncePerFrame) {
  InitEndpoint();
  EXPECT_EQ(Sink()->EndpointId(), DeviceIdOfName(kDefaultName));
  EXPECT_FALSE(Sink()->IsResampling());
  EXPECT_EQ(Sink()->ChannelConfig(), StandardConfig(kMaskStereo));
  EXPECT_EQ(Sink()->GetWaitTime(), 42u);
  Tone().Set(StandardConfig(kMaskStereo), kSinkFrame, [](uint32_t, uint32_t) { return 0.5f; });
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&OutputTest::PassToneToMainDevice), SN_Success);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassLevelToSecondary), SN_Success);
  SecondaryLevel() = 0.25f;
  // The first pass plays the four frames an empty queue has room for.
  ExpectFrames(RenderAndTake(), 4, 0.5f, "main alone");
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(DeviceIdOfName(kDefaultName), SnOutput_SecondaryPlatform, 0), SN_Success);
  ExpectFrames(RenderAndTake(), 4, 0.75f, "both");
  EXPECT_EQ(Sink()->ShareCount(), 2u);
  CSnOutputDevice* secondary = LowerEngine::FindOutputDevice(SnOutput_SecondaryPlatform, DeviceIdOfName(kDefaultName));
  ASSERT_NE(secondary, nullptr);
  EXPECT_EQ(secondary->Sink(), Sink());
  // The secondary leaves: the next frames are the main output's alone, none skipped or doubled.
  ASSERT_EQ(SoundEngine::RemoveSecondaryOutput(DeviceIdOfName(kDefaultName), SnOutput_SecondaryPlatform), SN_Success);
  ExpectFrames(RenderAndTake(), 4, 0.5f, "main again");
  EXPECT_EQ(Sink()->ShareCount(), 1u);
  ExpectFrames(RenderAndTake(), 4, 0.5f, "main still");
}

TEST_F(SharedEndpointSinkTest, AnOutputLeavingBetweenTheEndsOfFrameOfTwoSharersSkipsNoFrame) {
  InitEndpoint();
  Tone().Set(StandardConfig(kMaskStereo), kSinkFrame, [](uint32_t, uint32_t) { return 0.5f; });
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&OutputTest::PassToneToMainDevice), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(DeviceIdOfName(kDefaultName), SnOutput_SecondaryPlatform, 0), SN_Success);
  RenderAndTake();
  ASSERT_EQ(Sink()->ShareCount(), 2u);
  // The first sharer's end of frame wrote (a silent frame); the second leaves before its own.
  Sink()->EndFrame();
  std::vector<float> silent;
  Sink()->Output()->TakeQueued(silent);
  ExpectFrames(silent, 1, 0.0f, "the first sharer's frame");
  ASSERT_EQ(SoundEngine::RemoveSecondaryOutput(DeviceIdOfName(kDefaultName), SnOutput_SecondaryPlatform), SN_Success);
  ExpectFrames(RenderAndTake(), 4, 0.5f, "after the leave");
}

TEST_F(SharedEndpointSinkTest, ASecondaryOutputFindsItsDeviceByIdOrGetsTheSilentSink) {
  InitEndpoint();
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(DeviceIdOfName(kOtherName), SnOutput_SecondaryPlatform, 0), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(0x1234u, SnOutput_SecondaryPlatform, 0), SN_Success);
  RenderAndTake();
  CSnOutputDevice* other = LowerEngine::FindOutputDevice(SnOutput_SecondaryPlatform, DeviceIdOfName(kOtherName));
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(other->Sink()->Kind(), uint32_t(SnSinkKind_Endpoint));
  EXPECT_NE(other->Sink(), Sink());
  EXPECT_EQ(static_cast<CSnSharedEndpointSink*>(other->Sink())->EndpointId(), DeviceIdOfName(kOtherName));
  CSnOutputDevice* unknown = LowerEngine::FindOutputDevice(SnOutput_SecondaryPlatform, 0x1234u);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
}

TEST_F(SharedEndpointSinkTest, ADeviceAt44100HzGetsItsShareOfTheFramesAndTheToneKeepsItsPitch) {
  InitEndpoint(44100);
  EXPECT_TRUE(Sink()->IsResampling());
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassSineToMain), SN_Success);
  SnMemPoolId pool = g_LEngineDefaultPoolId;
  MemoryMgr::PoolStats before;
  std::vector<float> played;
  for (int pass = 0; pass < 40 || SineFrames() < 100; ++pass) {
    if (pass == 2) {
      ASSERT_EQ(MemoryMgr::GetPoolStats(pool, before), SN_Success);
    }
    const std::vector<float> taken = RenderAndTake();
    played.insert(played.end(), taken.begin(), taken.end());
    if (SineFrames() >= 100) break;
  }
  ASSERT_EQ(SineFrames(), 100u);
  // Nothing taken from the pool frame by frame.
  MemoryMgr::PoolStats after;
  ASSERT_EQ(MemoryMgr::GetPoolStats(pool, after), SN_Success);
  EXPECT_EQ(after.usedBytes, before.usedBytes);
  // 100 frames of 1024 at 48000 Hz are 94080 frames at 44100 Hz.
  const size_t frames = played.size() / 2;
  EXPECT_NEAR(double(frames), 100.0 * kSinkFrame * 44100.0 / 48000.0, 1.0);
  // The centre speaker folds into both sides alike; count the left side's sign changes.
  int crossings = 0;
  for (size_t t = 1; t < frames; ++t)
    if ((played[2 * (t - 1)] < 0.0f) != (played[2 * t] < 0.0f)) ++crossings;
  // 1000 Hz crosses zero 2000 times a second: 2000 x 94080 / 44100 = 4266.7.
  EXPECT_NEAR(crossings, 2000.0 * double(frames) / 44100.0, 2.0);
}

// At 44100 Hz the device gets the sources' fixed-step linear interpolation of the engine's frames:
// output k lies at k x 71332 in 16.16 input frames (48000 / 44100 x 65536, rounded), across frame
// boundaries. A 750 Hz sine fills each frame of 1024 with whole periods, so one frame handed over
// every pass is one unbroken tone; every sample against the interpolation worked in double.
TEST_F(SharedEndpointSinkTest, ADeviceAt44100HzGetsTheSourcesLinearInterpolationAcrossFrames) {
  InitEndpoint(44100);
  auto sine = [](double n) { return 0.5 * std::sin(2.0 * M_PI * 16.0 * n / 1024.0); };
  Tone().Set(StandardConfig(kMaskStereo), kSinkFrame, [](uint32_t, uint32_t t) {
    return float(0.5 * std::sin(2.0 * M_PI * 16.0 * double(t) / 1024.0));
  });
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&OutputTest::PassToneToMainDevice), SN_Success);
  std::vector<float> played;
  for (int pass = 0; pass < 10; ++pass) {
    const std::vector<float> taken = RenderAndTake();
    played.insert(played.end(), taken.begin(), taken.end());
  }
  ASSERT_GT(played.size(), size_t(2) * 30000);
  constexpr uint64_t kStep = 71332;
  for (size_t k = 0; 2 * k + 1 < played.size(); ++k) {
    const uint64_t p = k * kStep;
    const double a = double(float(sine(double(p >> 16)))), b = double(float(sine(double((p >> 16) + 1))));
    const double expected = a + (b - a) * double(p & 0xFFFF) / 65536.0;
    ASSERT_NEAR(played[2 * k], expected, 1e-6) << k;
    ASSERT_EQ(played[2 * k + 1], played[2 * k]) << k;
  }
}

TEST_F(SharedEndpointSinkTest, ADeviceThatSettlesOnSixChannelsPlaysFiveOneSizedFromThatFormat) {
  InitEndpoint(0, 6);
  EXPECT_EQ(Sink()->ChannelConfig(), StandardConfig(kMask51));
  EXPECT_EQ(Sink()->Output()->Channels(), 6u);
  EXPECT_EQ(LowerEngine::MainDevice()->ChannelConfig(), StandardConfig(kMask51));
  Tone().Set(StandardConfig(kMaskStereo), kSinkFrame,
             [](uint32_t channel, uint32_t) { return channel ? -0.5f : 0.5f; });
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&OutputTest::PassToneToMainDevice), SN_Success);
  const std::vector<float> taken = RenderAndTake();
  ASSERT_EQ(taken.size(), size_t(4) * kSinkFrame * 6);
  for (size_t t = 0; t < 4 * kSinkFrame; ++t) {
    const float* frame = taken.data() + t * 6;
    ASSERT_EQ(frame[0], 0.5f) << t;
    ASSERT_EQ(frame[1], -0.5f) << t;
    for (int c = 2; c < 6; ++c) ASSERT_EQ(frame[c], 0.0f) << t << " channel " << c;
  }
}

// Frames written straight into the device's ring come out in the order written; a frame of one
// sample is that sample and then silence, not what the slot held a ring ago; with every slot still
// queued a frame is dropped and nothing queued is written over; once the device plays (reading the
// frames or not), frames go through again.
TEST_F(SharedEndpointSinkTest, TheRingKeepsFramesInOrderSilencesShortFramesAndDropsWhenFull) {
  InitEndpoint();
  std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
  CSnSharedEndpointSink* sink = Sink();
  Platform::AudioQueueOutput* output = sink->Output();
  std::vector<float> taken;
  output->TakeQueued(taken);
  std::vector<float> planes(2 * kSinkFrame);
  auto write = [&](float value, uint16_t frames) {
    std::fill(planes.begin(), planes.end(), value);
    SnMixBuffer mix;
    mix.samples = planes.data();
    mix.channelConfig = StandardConfig(kMaskStereo);
    mix.maxFrames = kSinkFrame;
    mix.validFrames = frames;
    sink->PassData(mix, 1.0f, 1.0f);
    sink->WriteFrame();
  };
  const uint32_t slots = output->SlotCount();
  ASSERT_GE(slots, 8u);
  // Each frame marked by its number in 1024ths, inside full scale as every sample the device gets.
  for (uint32_t i = 0; i < slots; ++i) write(float(i + 1) / 1024.0f, kSinkFrame);
  taken.clear();
  output->TakeQueued(taken);
  ASSERT_EQ(taken.size(), size_t(slots) * kSinkFrame * 2);
  for (uint32_t i = 0; i < slots; ++i)
    ASSERT_EQ(taken[size_t(i) * kSinkFrame * 2 + 7], float(i + 1) / 1024.0f) << "frame " << i;

  write(0.25f, 1);
  taken.clear();
  output->TakeQueued(taken);
  ASSERT_EQ(taken.size(), size_t(kSinkFrame) * 2);
  EXPECT_EQ(taken[0], 0.25f);
  EXPECT_EQ(taken[1], 0.25f);
  EXPECT_TRUE(std::all_of(taken.begin() + 2, taken.end(), [](float sample) { return sample == 0.0f; }));

  for (uint32_t i = 0; i < slots; ++i) write(0.5f, kSinkFrame);
  EXPECT_EQ(output->Reserve(), nullptr) << "every slot queued";
  write(0.75f, kSinkFrame);
  EXPECT_EQ(output->QueuedFrames(), slots * kSinkFrame);
  taken.clear();
  output->TakeQueued(taken);
  ASSERT_EQ(taken.size(), size_t(slots) * kSinkFrame * 2);
  EXPECT_TRUE(std::all_of(taken.begin(), taken.end(), [](float sample) { return sample == 0.5f; }));
  write(0.75f, kSinkFrame);
  taken.clear();
  output->TakeQueued(taken);
  ASSERT_EQ(taken.size(), size_t(kSinkFrame) * 2);
  EXPECT_EQ(taken.back(), 0.75f);

  // A device that plays what was queued without it being read frees every slot all the same, and the
  // next frame is the one written after.
  for (uint32_t i = 0; i < slots; ++i) write(0.5f, kSinkFrame);
  output->PlayQueued();
  EXPECT_EQ(output->QueuedFrames(), 0u);
  ASSERT_NE(output->Reserve(), nullptr);
  write(0.125f, kSinkFrame);
  taken.clear();
  output->TakeQueued(taken);
  ASSERT_EQ(taken.size(), size_t(kSinkFrame) * 2);
  EXPECT_TRUE(std::all_of(taken.begin(), taken.end(), [](float sample) { return sample == 0.125f; }));
}

TEST_F(SharedEndpointSinkTest, ADeviceThatWillNotStartIsAFailure) {
  InitEndpoint(0, 0, true);
  EXPECT_EQ(Sink()->Play(), SN_Failure);
}

TEST_F(SharedEndpointSinkTest, TheAudioThreadQueuesWhileThePlatformPlays) {
  settings_.useAudioThread = 1;
  InitEndpoint();
  Platform::AudioQueueOutput* output = nullptr;
  {
    std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
    output = Sink()->Output();
  }
  // The platform plays what is queued; the audio thread renders as room comes.
  size_t played = 0;
  std::vector<float> taken;
  OrvTest::WaitUntil(
      [&] {
        taken.clear();
        output->TakeQueued(taken);
        played += taken.size();
        LowerEngine::WakeAudioThread();
        return played >= size_t(64) * kSinkFrame * 2;
      },
      [&] { return "64 frames played (" + std::to_string(played) + " samples)"; });
  EXPECT_EQ(played % (kSinkFrame * 2), 0u);
}

TEST_F(SharedEndpointSinkTest, TheDeviceGetsHeldSamplesOfOneMixAndOfTwoSummedPastFullScale) {
  InitEndpoint();
  CSnSharedEndpointSink* sink = Sink();
  ASSERT_FALSE(sink->IsResampling());
  std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
  std::vector<float> taken;
  sink->Output()->TakeQueued(taken);
  const BrokenFrames::Mix broken(StandardConfig(kMaskStereo));
  BrokenFrames::ExpectPlayedStereo(WriteShares({&broken.mix}), kSinkFrame, "one mix");
  // Two outputs on one device, each at 0.75: their sum of 1.5 is played at full scale.
  const BrokenFrames::Mix loud(StandardConfig(kMaskStereo), [](uint32_t, uint32_t) { return 0.75f; });
  taken = WriteShares({&loud.mix, &loud.mix});
  ASSERT_EQ(taken.size(), size_t(kSinkFrame) * 2);
  EXPECT_TRUE(std::all_of(taken.begin(), taken.end(), [](float s) { return s == 1.0f; }));
}

TEST_F(SharedEndpointSinkTest, ADeviceAtAnotherRateGetsTheResampledFrameHeldToo) {
  InitEndpoint(44100);
  CSnSharedEndpointSink* sink = Sink();
  ASSERT_TRUE(sink->IsResampling());
  std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
  std::vector<float> taken;
  sink->Output()->TakeQueued(taken);
  // Past full scale whole frames long: beyond the kernel's first step from the silence before it,
  // every resampled sample is far past full scale, so every one is played at full scale.
  const BrokenFrames::Mix loud(StandardConfig(kMaskStereo), [](uint32_t, uint32_t) { return 3e37f; });
  WriteShares({&loud.mix});
  taken = WriteShares({&loud.mix});
  ASSERT_GE(taken.size(), size_t(2) * 940);  // 1024 frames at 48 kHz are about 941 at 44.1 kHz
  for (size_t i = 0; i < taken.size(); ++i) ASSERT_EQ(taken[i], 1.0f) << i;
  // A frame of NaNs resamples to NaNs: the device gets silence.
  const BrokenFrames::Mix notANumber(StandardConfig(kMaskStereo),
                                     [](uint32_t, uint32_t) { return BrokenFrames::kNaN; });
  WriteShares({&notANumber.mix});
  taken = WriteShares({&notANumber.mix});
  EXPECT_TRUE(std::all_of(taken.begin(), taken.end(), [](float s) { return s == 0.0f; }));
}


}  // namespace
