// A mix bus's plug-ins, callbacks and meter on the real lower engine: registered test effects made on
// the first input, bypass resetting once, the bus-wide bypass, idle buses skipping effects, a mixer
// plug-in mixing through its context, the volume and metering callbacks, and the callback registry
// telling the bus graph only under the global audio lock.
#include "BusGraphFakes.h"

#include <cmath>
#include <thread>

#include "SoundEngine/Callbacks/BusCallbackMgr.h"
#include "SoundEngine/Lower/Mixing/BusCallbackFlags.h"

namespace BusTest {
namespace {

using Lines = std::vector<std::string>;

class MixBusPluginTest : public BusFixture {
 protected:
  void SetUp() override {
    BusFixture::SetUp();
    RegisterTestPlugins();
  }
  void TearDown() override {
    CSnBusCallbackMgr::Get().Clear();
    BusFixture::TearDown();
  }
  // Every sample of the last frame against the voice's at `gain`.
  void ExpectOutputTimes(double gain, uint32_t frame) {
    for (uint32_t c = 0; c < 2; ++c) {
      const std::vector<float> out = LastOutput(c);
      for (uint32_t t = 0; t < N; ++t)
        ASSERT_NEAR(out[t], FakeVoice::Sample(c, frame * N + t) * gain, 1e-6) << "channel " << c << " t " << t;
    }
  }

  // A voice through a bus with a mixer plug-in into a plain bus and one straight into the plain bus,
  // both sounding frames `unwritten` to `heard` of each frame only, beside one sounding whole at
  // `wholeGain` (none at 0): two frames, every sample against what sounds.
  void ExpectOnlySoundingFramesHeard(uint32_t unwritten, uint32_t heard, float wholeGain) {
    FakeDefinition& mixer = Definition(200, SnPluginType_Mixer, kMixerId, 1.0f);
    FakeBusNode& plain = Node(1);
    FakeBusNode& mixed = Node(2, &plain);
    mixed.mixer = &mixer;
    FakeVoice& throughMixer = Voice(&mixed);
    FakeVoice& throughBus = Voice(&plain);
    throughMixer.gain = 0.25f;
    throughBus.gain = 0.5f;
    for (FakeVoice* voice : {&throughMixer, &throughBus}) {
      voice->unwritten = unwritten;
      voice->heard = heard;
    }
    if (wholeGain > 0.0f) {
      FakeVoice& whole = Voice(&plain);
      whole.gain = wholeGain;
      Play({&throughMixer, &throughBus, &whole});
    } else {
      Play({&throughMixer, &throughBus});
    }
    for (uint32_t frame = 0; frame < 2; ++frame) {
      Render();
      for (uint32_t c = 0; c < 2; ++c) {
        const std::vector<float> out = LastOutput(c);
        for (uint32_t t = 0; t < N; ++t) {
          const double sample = FakeVoice::Sample(c, frame * N + t);
          // The plug-in's bus mixes into the plain one: its voice passes two buses' gains.
          const double partial = 0.5 * sample * kUnity + 0.25 * sample * kUnity * kUnity;
          const double expected = (t >= unwritten && t < heard ? partial : 0.0) + wholeGain * sample * kUnity;
          ASSERT_NEAR(out[t], expected, 1e-6) << "frame " << frame << " channel " << c << " t " << t;
        }
      }
    }
  }

  ToneBanks banks_;
};

TEST_F(MixBusPluginTest, EffectsAreMadeOnTheFirstInputAndBypassResetsThemOnce) {
  FakeDefinition& half = Definition(100, SnPluginType_Effect, kGainId, 0.5f);
  FakeDefinition& unit = Definition(101, SnPluginType_Effect, kGainId, 1.0f);
  FakeDefinition& refused = Definition(102, SnPluginType_Effect, kRefusedId, 1.0f);
  FakeBusNode& node = Node(1);
  node.effects[0] = &half;
  node.effects[1] = &unit;
  node.effects[2] = &refused;
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnMixBus* bus = LowerEngine::CreateMixBus(&node, SnOutput_Main, 0, nullptr, false);
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(bus->EffectPlugin(0), nullptr);
  }
  FakeVoice& voice = Voice(&node);
  Play({&voice});
  Render();
  CSnMixBus* bus = Bus(1);
  ASSERT_NE(bus->EffectPlugin(0), nullptr);
  ASSERT_NE(bus->EffectPlugin(1), nullptr);
  // The plug-in with the second information flag is made, refused and terminated.
  EXPECT_EQ(bus->EffectPlugin(2), nullptr);
  EXPECT_EQ(Plugins().made, 3);
  EXPECT_EQ(Plugins().terms, 1);
  EXPECT_EQ(refused.refs, 0);
  EXPECT_EQ(Plugins().resets, 2);
  // The format is 32-bit float, two channels of four bytes, sample type 1, interleaved.
  auto* effect = static_cast<GainEffect*>(bus->EffectPlugin(0));
  EXPECT_EQ(effect->formatBits, 32u | (8u << 6) | (1u << 16) | (1u << 18));
  uint32_t deviceId = 9, deviceType = 9;
  EXPECT_EQ(effect->context->GetOutputDevice(deviceId, deviceType), SN_Success);
  EXPECT_EQ(deviceType, uint32_t(SnOutput_Main));
  EXPECT_FALSE(effect->context->IsOnBusOfKind12());
  ExpectOutputTimes(0.5 * kUnity, 0);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    std::vector<ISnPlugin*> found;
    LowerEngine::ForEachEffectInstance(
        100, [](ISnPlugin* plugin, void* cookie) { static_cast<std::vector<ISnPlugin*>*>(cookie)->push_back(plugin); },
        &found);
    EXPECT_EQ(found, std::vector<ISnPlugin*>{bus->EffectPlugin(0)});
    // The node's slot 1 now holds nothing: updating it clears the bus's.
    node.effects[1] = nullptr;
    LowerEngine::UpdateBusEffect(1, 1);
    EXPECT_EQ(bus->EffectPlugin(1), nullptr);
    EXPECT_EQ(unit.refs, 0);
    EXPECT_EQ(unit.subscribed, 0);
  }

  auto command = [](uint32_t value, uint32_t mask) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    LowerEngine::SetBusBypassFX(1, value, mask);
  };
  command(1, 1);
  Render();
  EXPECT_EQ(Plugins().resets, 3);
  ExpectOutputTimes(kUnity, 1);
  Render();
  EXPECT_EQ(Plugins().resets, 3);
  command(0, 1);
  Render();
  EXPECT_EQ(Plugins().resets, 3);
  ExpectOutputTimes(0.5 * kUnity, 3);
  // The bus-wide bypass resets every effect left (slot 0 alone now), once.
  command(0x10, 0x10);
  Render();
  Render();
  EXPECT_EQ(Plugins().resets, 4);
  ExpectOutputTimes(kUnity, 5);
  command(0, 0x10);

  // With no input the bus turns idle at the end of the frame, and an idle bus runs no effect.
  voice.silent = true;
  Render();
  const int processed = Plugins().processed;
  Render();
  Render();
  EXPECT_EQ(Plugins().processed, processed);
  EXPECT_EQ(bus->m_state, uint32_t(SnMixBus_Idle));
  voice.silent = false;
  Render();
  EXPECT_EQ(bus->m_state, uint32_t(SnMixBus_Active));
  EXPECT_GT(Plugins().processed, processed);
}

// Voices that end 100 frames into a frame leave whatever their buffers hold after that unheard,
// through a plain bus and through a mixer plug-in that takes each input whole; a voice that sounds
// the whole frame beside them is heard whole.
TEST_F(MixBusPluginTest, WhatAVoiceHoldsPastItsEndIsNeverHeard) { ExpectOnlySoundingFramesHeard(0, 100, 0.125f); }

// Voices begun 300 frames into each frame leave their buffers unwritten before that: through a plain
// bus and through a mixer plug-in alike, nothing of it is heard, and the rest is heard whole.
TEST_F(MixBusPluginTest, WhatAVoiceLeftUnwrittenBeforeItsStartIsNeverHeard) {
  ExpectOnlySoundingFramesHeard(300, N, 0.0f);
}

TEST_F(MixBusPluginTest, AMixerPluginMixesTheInputsThroughItsContext) {
  FakeDefinition& mixer = Definition(200, SnPluginType_Mixer, kMixerId, 1.0f);
  FakeBusNode& node = Node(1);
  node.mixer = &mixer;
  FakeVoice& voice = Voice(&node);
  voice.gain = 0.25f;
  voice.finishAfterFrame = true;
  Play({&voice});
  Render();
  // The voice ends with its own frame, before the buses run theirs.
  EXPECT_EQ(Plugins().calls, (Lines{"mixer init", "mixer reset", "added", "mix", "removed", "inputs mixed",
                                    "effects processed", "frame end"}));
  ExpectOutputTimes(0.25 * kUnity, 0);
  ISnMixerPluginContext* context = Plugins().mixerContext;
  EXPECT_EQ(context->GetBusId(), 1u);
  EXPECT_EQ(context->GetBusKind(), 0u);
  EXPECT_FLOAT_EQ(context->GetDownstreamGain(), 1.0f);
  EXPECT_EQ(context->GetFrameLength(), N);
  {
    // Its panning services reach the bus's device: a stereo device of two speakers at 45 degrees.
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ISnMixerPanning* panning = context->GetPanning();
    ASSERT_NE(panning, nullptr);
    float angles[3] = {}, height = 0.0f;
    uint32_t count = 3;
    EXPECT_EQ(panning->GetSpeakerAngles(angles, count, height), SN_Success);
    EXPECT_EQ(count, 3u);
    EXPECT_NEAR(angles[0], 45.0f, 0.5f);
    float gains[2] = {};
    EXPECT_EQ(panning->ComputePanning3D(0.0f, 0.0f, StandardConfig(kMaskStereo), gains), SN_Success);
    EXPECT_NEAR(gains[0], 0.70710677f, 1e-6f);
    EXPECT_NEAR(gains[1], 0.70710677f, 1e-6f);
    // A centre channel placed at its speaker's angle, straight ahead: the same split.
    float matrix[4] = {};
    EXPECT_EQ(panning->ComputeDeviceMixMatrix(StandardConfig(kSpeakerCenter), StandardConfig(kMaskStereo), matrix),
              SN_Success);
    EXPECT_NEAR(matrix[0], 0.70710677f, 1e-6f);
    EXPECT_NEAR(matrix[1], 0.70710677f, 1e-6f);
  }
  Plugins().calls.clear();
  Render();
  EXPECT_EQ(Plugins().calls, (Lines{"inputs mixed", "effects processed", "frame end", "mixer term"}));
  EXPECT_EQ(mixer.refs, 0);
  EXPECT_EQ(mixer.subscribed, 0);
}

TEST_F(MixBusPluginTest, TheVolumeCallbackScalesTheBusAndTheMeterReportsItsFrame) {
  struct Seen {
    int volumeCalls = 0;
    int meterCalls = 0;
    float peak[2] = {};
    float rms[2] = {};
    uint32_t config = 0, flags = 0;
  };
  static Seen seen;
  seen = Seen{};
  FakeBusNode& node = Node(1);
  FakeVoice& voice = Voice(&node);
  Play({&voice});
  Render();
  ASSERT_EQ(CSnBusCallbackMgr::Get().RegisterBusVolumeCallback(1, [](void* info) {
    ++seen.volumeCalls;
    *static_cast<SnBusVolumeCallbackInfo*>(info)->callbackGain = 0.5f;
  }), SN_Success);
  ASSERT_EQ(CSnBusCallbackMgr::Get().RegisterBusMeteringCallback(
                1,
                [](void* metering, uint32_t config, uint32_t flags) {
                  auto* meter = static_cast<ISnMetering*>(metering);
                  ++seen.meterCalls;
                  seen.config = config;
                  seen.flags = flags;
                  for (int c = 0; c < 2; ++c) {
                    seen.peak[c] = meter->GetPeakValues()[c];
                    seen.rms[c] = meter->GetRMSValues()[c];
                  }
                },
                SnMeteringFlags_Peak | SnMeteringFlags_RMS),
            SN_Success);
  EXPECT_TRUE(Bus(1)->HasVolumeCallback());
  EXPECT_EQ(Bus(1)->CallbackMeteringFlags(), uint32_t(SnMeteringFlags_Peak | SnMeteringFlags_RMS));
  Render();
  Render();
  EXPECT_EQ(seen.volumeCalls, 2);
  EXPECT_EQ(seen.meterCalls, 2);
  EXPECT_EQ(seen.config, StandardConfig(kMaskStereo));
  EXPECT_EQ(seen.flags, uint32_t(SnMeteringFlags_Peak | SnMeteringFlags_RMS));
  ExpectOutputTimes(0.5 * kUnity, 2);
  // The meter's scale undoes the fast conversion: what it reports is the signal at the callback's half.
  for (uint32_t c = 0; c < 2; ++c) {
    double peak = 0.0, squares = 0.0;
    for (uint32_t t = 0; t < N; ++t) {
      const double x = FakeVoice::Sample(c, 2 * N + t);
      peak = std::max(peak, std::fabs(x));
      squares += x * x;
    }
    EXPECT_NEAR(seen.peak[c], 0.5 * peak, 1e-5);
    EXPECT_NEAR(seen.rms[c], 0.5 * std::sqrt(squares / N), 1e-5);
  }
  // Removing the metering callback leaves the bus without a meter.
  ASSERT_EQ(CSnBusCallbackMgr::Get().RegisterBusMeteringCallback(1, nullptr, 0), SN_Success);
  EXPECT_EQ(Bus(1)->Meter(), nullptr);
}

// Records whether the audio lock was held by the registering thread when the words arrived: another
// thread's try_lock fails only then.
class LockProbe final : public ISnBusCallbackFlags {
 public:
  void SetBusVolumeCallbackFlag(uint32_t, bool) override { Probe(); }
  void SetBusMeteringFlags(uint32_t, uint32_t) override { Probe(); }
  void Probe() {
    bool free = false;
    std::thread other([&] {
      free = GlobalAudioLock().try_lock();
      if (free) GlobalAudioLock().unlock();
    });
    other.join();
    heldEveryTime = heldEveryTime && !free;
    ++calls;
  }
  bool heldEveryTime = true;
  int calls = 0;
};

TEST_F(MixBusPluginTest, RegistrationTellsTheBusGraphUnderTheAudioLockOnly) {
  ISnBusCallbackFlags* previous = LowerEngine::InstalledBusCallbackFlags();
  LockProbe probe;
  LowerEngine::InstallBusCallbackFlags(&probe);
  CSnBusCallbackMgr& callbacks = CSnBusCallbackMgr::Get();
  EXPECT_EQ(callbacks.RegisterBusVolumeCallback(3, [](void*) {}), SN_Success);
  EXPECT_EQ(callbacks.RegisterBusMeteringCallback(3, [](void*, uint32_t, uint32_t) {}, SnMeteringFlags_Peak),
            SN_Success);
  LowerEngine::InstallBusCallbackFlags(previous);
  EXPECT_EQ(probe.calls, 2);
  EXPECT_TRUE(probe.heldEveryTime);
}

// A bus effect reads the media its node names, held by three banks. The bank it reads from goes:
// the plug-in is moved onto the next copy and reads the same bytes on (the old ones overwritten),
// not made again. The next goes while the plug-in cannot follow: the bus makes its effects again,
// the new plug-in reading the last copy from its start.
TEST_F(MixBusPluginTest, ABusEffectsMediaMoveToAnotherCopyOrTheEffectIsMadeAgain) {
  const uint32_t first = banks_.Load("TableA"), second = banks_.Load("TableB");
  banks_.Load("TableC");
  FakeBusNode& node = Node(1);
  node.effects[0] = &Definition(110, SnPluginType_Effect, kMediaReaderId, 1.0f);
  node.mediaSlot = 0;
  node.mediaId = ToneBanks::MediaId();
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_NE(LowerEngine::CreateMixBus(&node, SnOutput_Main, 0, nullptr, false), nullptr);
  }
  FakeVoice& voice = Voice(&node);
  Play({&voice});
  Render(3);
  MediaReader::Log& heard = MediaReader::Heard();
  ASSERT_EQ(SoundEngine::UnloadBank(first, banks_.images[0].data()), SN_Success);
  EXPECT_EQ(heard.moves, 1);
  std::fill(banks_.images[0].begin(), banks_.images[0].end(), uint8_t(0x5A));
  Render(3);
  EXPECT_EQ(heard.reads.size(), 1u);
  heard.follows = false;
  ASSERT_EQ(SoundEngine::UnloadBank(second, banks_.images[1].data()), SN_Success);
  EXPECT_EQ(heard.moves, 1);
  Render(2);
  ASSERT_EQ(heard.reads.size(), 2u);
  EXPECT_GE(heard.reads[1].size(), 2u);
  EXPECT_TRUE(heard.ReadInOrder(banks_.media, 6));
}

}  // namespace
}  // namespace BusTest
