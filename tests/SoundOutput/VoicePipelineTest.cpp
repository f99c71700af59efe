// Voice pipelines rendered to the memory sink against a double-precision model of each sample: a
// mono source of known samples panned into the stereo master bus with the instance's volumes, gain
// factors and a ramp on a volume change; insert effects in place, out of place with a tail, changing
// the layout, bypassed by parameter and replaced while playing; stops ending the voice and leaving
// nothing behind; the frame's vector padding kept inside its buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <vector>

#include "SoundEngine/Lower/Mixing/MixBus.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoiceInsertEffect.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Lower/Pipeline/VoicePipeline.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundOutput/BusGraphFakes.h"
#include "tests/SoundOutput/MonoTestSource.h"
#include "tests/SoundOutput/OutputTestSupport.h"

namespace {

using namespace SN;
using BusTest::FakeDefinition;

constexpr uint32_t kPipelineFrames = 256;
constexpr double kDbTolerance = 0.003;  // the fast decibel conversion is within 0.23 percent

double SourceSample(uint64_t t) { return 0.25 + 0.001 * double(t % 97); }
double DbToLinear(double dB) { return std::pow(10.0, dB / 20.0); }

// Planar mono float of known samples, `length` frames long; at `starveAt` it has nothing for one frame.
class FakeSource final : public OutputTest::MonoTestSource {
 public:
  FakeSource(uint64_t length, uint32_t notReadyFor, uint64_t starveAt)
      : m_length(length), m_notReady(notReadyFor), m_starveAt(starveAt) {}
  SNRESULT Prepare() override {
    if (m_notReady) {
      --m_notReady;
      return SN_NotReadyYet;
    }
    return SN_Success;
  }
  SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) override {
    if (m_position == m_starveAt && !m_starved) {
      m_starved = true;
      return SNRESULT(SnVoice_NoMoreDataForNow);
    }
    const uint64_t left = m_length - m_position;
    const uint32_t n = uint32_t(std::min<uint64_t>(frames, left));
    float* samples = Hand(buffer, frames, n);
    for (uint32_t t = 0; t < n; ++t) samples[t] = float(SourceSample(m_position + t));
    m_position += n;
    return SNRESULT(m_position >= m_length ? SnVoice_DataReadyFinished : SnVoice_DataReady);
  }
  SNRESULT SkipFrames(uint32_t frames) override {
    m_position = std::min(m_length, m_position + frames);
    return SNRESULT(m_position >= m_length ? SnVoice_DataReadyFinished : SnVoice_DataReady);
  }

 private:
  uint64_t m_length;
  uint32_t m_notReady;
  uint64_t m_starveAt;
  bool m_starved = false;
};

class FakeSources final : public ISnVoiceSourceFactory {
 public:
  ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance&, uint32_t) override {
    ++made;
    const uint64_t madeLength = made <= int(lengths.size()) ? lengths[size_t(made - 1)] : length;
    return refuse ? nullptr : new FakeSource(madeLength, notReadyFor, starveAt);
  }
  uint64_t length = 1u << 30;
  std::vector<uint64_t> lengths;  // of the first sources made, in turn; `length` after them
  uint64_t starveAt = ~uint64_t(0);
  uint32_t notReadyFor = 0;
  bool refuse = false;
  int made = 0;
};

// Delays the input by `kDelay` frames out of place; its tail sounds after the input ended.
// The stereo variant writes the delayed mono into both channels.
template <bool Stereo>
class DelayEffect final : public ISnOutOfPlaceEffectPlugin {
 public:
  static constexpr uint32_t kDelay = 100;
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    BusTest::PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Effect, 0, 0};
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext*, ISnPluginParam*, SnAudioFormat& format) override {
    if (Stereo) format.channelConfig = StandardConfig(kMaskStereo);
    return SN_Success;
  }
  bool ProcessOutOfPlace(const SnMixBuffer& input, bool inputEnded, SnMixBuffer& output) override {
    for (uint32_t t = 0; t < input.validFrames; ++t) m_line.push_back(input.samples[t]);
    const uint32_t keep = inputEnded ? 0 : kDelay;
    uint32_t n = 0;
    while (m_line.size() > keep && n < output.maxFrames) {
      for (uint32_t c = 0; c < ChannelCount(output.channelConfig); ++c)
        output.samples[size_t(c) * output.maxFrames + n] = m_line.front();
      m_line.pop_front();
      ++n;
    }
    output.validFrames = uint16_t(n);
    return inputEnded && m_line.empty();
  }
  static ISnPlugin* Make(ISnPluginMemAlloc* allocator) { return PluginNew<DelayEffect>(allocator); }

 private:
  std::deque<float> m_line{std::deque<float>(kDelay, 0.0f)};
};

constexpr uint32_t kDelayId = 10, kWidenId = 11;

class Effects final : public ISnVoiceEffectProvider {
 public:
  ISnEffectDefinition* VoiceEffect(CSnPropertyNode*, uint32_t slot, bool& bypass) override {
    bypass = false;
    if (slot >= 4 || !slots[slot]) return nullptr;
    slots[slot]->AddRef();
    return slots[slot];
  }
  FakeDefinition* slots[4] = {};
};

class VoicePipelineTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    BusTest::Plugins() = BusTest::PluginLog{};
    VoiceSourceFactory() = &sources_;
    VoiceEffectProvider() = &effects_;
    settings_.samplesPerFrame = kPipelineFrames;
    InitWithMemorySink();
    BusTest::RegisterTestPlugins();
    ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, BusTest::kCompany, kDelayId, &DelayEffect<false>::Make,
                                          &BusTest::GainEffect::MakeParam),
              SN_Success);
    ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, BusTest::kCompany, kWidenId, &DelayEffect<true>::Make,
                                          &BusTest::GainEffect::MakeParam),
              SN_Success);
  }
  void TearDown() override {
    OutputFixture::TearDown();
    VoiceSourceFactory() = nullptr;
    VoiceEffectProvider() = nullptr;
  }
  // A playing instance (no node) admitted and queued to begin with the next frame.
  CSnPlaybackInstance* Start(uint32_t playingId = 7, float priority = 50.0f,
                             uint8_t behaviour = SnVirtual_ContinueToPlay) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnPlaybackInstance::Args args;
    args.playingId = playingId;
    args.priority.priority = priority;
    args.voiceBehaviour = behaviour;
    auto* instance = PoolNew<CSnPlaybackInstance>(g_DefaultPoolId, args);
    EXPECT_EQ(instance->Init(nullptr, nullptr), SN_Success);
    instance->ParamChanged(64, 1.0f, 1.0f);   // speaker panning on
    instance->ParamChanged(20, -50.0f, -50.0f);  // x = 0.25
    instance->ParamChanged(21, 100.0f, 100.0f);  // at the front
    EXPECT_EQ(instance->Play(TransParamsBase{}, false, true), SN_Success);
    VoiceManager::AddActiveInstance(instance);
    return instance;
  }
  // Nothing but silence reached the sink after its first `frames` frames (an idle bus sends none).
  static bool SilentSince(size_t frames) {
    const auto& all = OutputTest::SinkLog().frames;
    for (size_t f = frames; f < all.size(); ++f)
      for (float v : all[f])
        if (v != 0.0f) return false;
    return true;
  }
  // The last frame's channel c as doubles.
  std::vector<double> Channel(uint32_t c) const {
    const std::vector<float>& frame = OutputTest::SinkLog().frames.back();
    std::vector<double> out;
    for (size_t i = c; i < frame.size(); i += 2) out.push_back(frame[i]);
    return out;
  }
  // Lives past TearDown: voices still playing at Term release theirs then.
  FakeDefinition& Definition(uint32_t effectId, uint32_t pluginId, float gain = 1.0f) {
    return definitions_.emplace_back(effectId, PluginKey(SnPluginType_Effect, BusTest::kCompany, pluginId), gain);
  }

  std::deque<FakeDefinition> definitions_;
  BusTest::ToneBanks banks_;
  FakeSources sources_;
  Effects effects_;
};

TEST_F(VoicePipelineTest, AMonoVoiceIsPannedWithItsVolumesAndRampsOnAChange) {
  CSnPlaybackInstance* instance = Start();
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->ComputeParameters();
    instance->ParamChanged(0, -6.0f, -6.0f);  // volume
    instance->ParamChanged(5, -3.0f, -3.0f);  // second volume
    instance->SetGainFactorEntry(0.5f, 1, false);
  }
  Render();
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  // First frame: no ramp. Gain = 0.5 x -6 dB x -3 dB; mono at x = 0.25 takes (sqrt 0.75, 0.5).
  const double gain = 0.5 * DbToLinear(-6.0) * DbToLinear(-3.0);
  std::vector<double> left = Channel(0), right = Channel(1);
  ASSERT_EQ(left.size(), kPipelineFrames);
  for (uint32_t t = 0; t < kPipelineFrames; ++t) {
    EXPECT_NEAR(left[t], SourceSample(t) * gain * std::sqrt(0.75), SourceSample(t) * gain * kDbTolerance) << t;
    EXPECT_NEAR(right[t], SourceSample(t) * gain * 0.5, SourceSample(t) * gain * kDbTolerance) << t;
  }
  // The voice's level reached its bus for the dynamic-range window.
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnMixBus* master = LowerEngine::FindMixBus(kMasterBusId, 32, 0);
    ASSERT_NE(master, nullptr);
    EXPECT_NEAR(master->m_window.peakDb, 20.0 * std::log10(gain), 0.05);
  }
  // The volume rises 6 dB: the next frame ramps from the old gain to the new across its samples.
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->ParamChanged(0, 0.0f, 6.0f);
  }
  Render();
  const double next = 0.5 * DbToLinear(-3.0);
  right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t) {
    const double ramp = gain + (next - gain) * double(t) / kPipelineFrames;
    EXPECT_NEAR(right[t], SourceSample(kPipelineFrames + t) * ramp * 0.5, SourceSample(kPipelineFrames + t) * next * kDbTolerance)
        << t;
  }
}

// Voices one after another, each ending inside its second frame: the first quieter and low-passed,
// the next ones neither. Each later voice sounds as a voice that never followed another (no ramp
// from the last one's gain, no filter memory), and once one voice has come and gone the next
// ones take no more of the lower engine's pool.
TEST_F(VoicePipelineTest, AVoiceAfterAnEndedOneSoundsAsAFirstOneAndTakesNoMoreMemory) {
  sources_.length = kPipelineFrames + 50;
  auto poolUsed = [] {
    MemoryMgr::PoolMemInfo info;
    EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info), SN_Success);
    return info.usedBytes;
  };
  uint32_t usedAfterFirst = 0;
  for (uint32_t round = 0; round < 3; ++round) {
    CSnPlaybackInstance* instance = Start(7 + round);
    if (round == 0) {
      Platform::ReentrantGuard audio(GlobalAudioLock());
      instance->ComputeParameters();
      instance->ParamChanged(0, -6.0f, -6.0f);  // volume
      instance->ParamChanged(3, 60.0f, 60.0f);  // low-pass
    }
    Render();
    ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
    const std::vector<double> left = Channel(0), right = Channel(1);
    ASSERT_EQ(left.size(), kPipelineFrames);
    // Mono at x = 0.25 takes (sqrt 0.75, 0.5) of the voice's gain.
    bool filtered = false;
    for (uint32_t t = 0; t < kPipelineFrames; ++t) {
      if (round == 0) {
        filtered = filtered || std::fabs(left[t] - SourceSample(t) * DbToLinear(-6.0) * std::sqrt(0.75)) > 0.01;
        continue;
      }
      EXPECT_NEAR(left[t], SourceSample(t) * std::sqrt(0.75), SourceSample(t) * kDbTolerance) << round << " " << t;
      EXPECT_NEAR(right[t], SourceSample(t) * 0.5, SourceSample(t) * kDbTolerance) << round << " " << t;
    }
    EXPECT_TRUE(filtered || round > 0);
    Render();
    EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    const uint32_t used = poolUsed();
    if (round == 0)
      usedAfterFirst = used;
    else
      EXPECT_EQ(used, usedAfterFirst) << round;
  }
}

TEST_F(VoicePipelineTest, InsertsRunInPlaceOutOfPlaceWithATailAndChangeTheLayout) {
  FakeDefinition& gain = Definition(1, BusTest::kGainId, 0.5f);
  FakeDefinition& delay = Definition(2, kDelayId);
  effects_.slots[0] = &gain;
  effects_.slots[2] = &delay;
  sources_.length = kPipelineFrames + 50;  // ends early in the second frame
  Start();
  Render();
  // Right at x = 0.25 takes 0.5; the gain halves, the delay shifts by 100 (the voice's 0 dB is the
  // fast conversion's, within its tolerance).
  std::vector<double> right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t) {
    const double in = t < DelayEffect<false>::kDelay ? 0.0 : SourceSample(t - DelayEffect<false>::kDelay);
    EXPECT_NEAR(right[t], in * 0.5 * 0.5, 0.25 * kDbTolerance) << t;
  }
  // The source ends in frame 2; the delay's tail sounds out in frame 2 and the voice then ends.
  Render();
  right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t) {
    const uint32_t source = kPipelineFrames + t - DelayEffect<false>::kDelay;
    const double in = source < kPipelineFrames + 50 ? SourceSample(source) : 0.0;
    EXPECT_NEAR(right[t], in * 0.25, 0.25 * kDbTolerance) << t;
  }
  Render();
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(gain.refs, 0);
  EXPECT_EQ(delay.subscribed, 0);
}

TEST_F(VoicePipelineTest, AnInsertChangesTheVoicesLayoutIsBypassedAndReplacedWhilePlaying) {
  FakeDefinition& widen = Definition(3, kWidenId);
  FakeDefinition& gain = Definition(1, BusTest::kGainId, 0.25f);
  effects_.slots[1] = &widen;
  CSnPlaybackInstance* instance = Start();
  Render();
  Render();
  auto* pipeline = static_cast<CSnVoicePipeline*>(instance->Pipeline());
  ASSERT_NE(pipeline, nullptr);
  EXPECT_EQ(pipeline->OutputFormat(), StandardConfig(kMaskStereo));
  // Stereo into stereo with panning at x = 0.25: the left channel keeps its own side.
  const std::vector<double> left = Channel(0);
  EXPECT_NEAR(left[kPipelineFrames - 1], SourceSample(2 * kPipelineFrames - 1 - DelayEffect<true>::kDelay), 0.05);
  // Slot 0 gains a gain effect while playing; bypassed through parameter 24, then active.
  effects_.slots[0] = &gain;
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    pipeline->ReplaceEffect(0);
    instance->ParamChanged(24, 1.0f, 1.0f);
  }
  ASSERT_NE(pipeline->Insert(0), nullptr);
  EXPECT_TRUE(pipeline->Insert(0)->m_bypassed);
  const uint32_t processed = BusTest::Plugins().processed;
  Render();
  EXPECT_EQ(BusTest::Plugins().processed, processed);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->ParamChanged(24, 0.0f, -1.0f);
  }
  Render();
  EXPECT_EQ(BusTest::Plugins().processed, processed + 1);
  EXPECT_EQ(pipeline->OutputFormat(), StandardConfig(kMaskStereo));
}

TEST_F(VoicePipelineTest, StopsEndTheVoiceAndRefusedSourcesEndThePlay) {
  Start(7);
  Render();
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  // The API's zero-duration stop ends a voice that would otherwise play forever.
  SoundEngine::StopPlayingID(7);
  Render();
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(VoiceManager::GlobalLimiter().Count(), 0u);
  // A source not ready waits; one refused ends its play with the log.
  sources_.notReadyFor = 2;
  Start(8);
  Render();
  EXPECT_EQ(LowerEngine::WaitingPipelineCount(), 1u);
  Render();
  Render();
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  sources_.refuse = true;
  Start(9);
  Render();
  EXPECT_NE(log_.Take().find("Playing id 9: no source could be made for the voice"), std::string::npos);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
}

TEST_F(VoicePipelineTest, APausedVoiceHoldsItsSourceAndGoesOnWhereItStopped) {
  CSnPlaybackInstance* instance = Start();
  Render();
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->Pause(TransParamsBase{});
    instance->Pause(TransParamsBase{});
  }
  const size_t before = OutputTest::SinkLog().frames.size();
  Render();
  Render();
  EXPECT_TRUE(SilentSince(before));
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->Resume(TransParamsBase{}, false);
  }
  Render();
  EXPECT_TRUE(SilentSince(before));  // one pause still holds it
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    instance->Resume(TransParamsBase{}, false);
  }
  Render();
  const std::vector<double> right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t)
    EXPECT_NEAR(right[t], SourceSample(kPipelineFrames + t) * 0.5, SourceSample(kPipelineFrames + t) * 0.5 * kDbTolerance) << t;
}

TEST_F(VoicePipelineTest, AVirtualVoiceSkipsItsSourceAndReturnsAtTheRightSample) {
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    VoiceManager::SetGlobalMaximum(1);
  }
  Start(7, 60.0f, SnVirtual_BecomeVirtual);
  CSnPlaybackInstance* low = Start(8, 40.0f, SnVirtual_BecomeVirtual);
  Render();
  Render();
  EXPECT_TRUE(low->IsVirtual());
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 1u);
  // Only the louder voice sounds: its right channel is the source at 0.5.
  std::vector<double> right = Channel(1);
  EXPECT_NEAR(right[10], SourceSample(kPipelineFrames + 10) * 0.5, kDbTolerance);
  SoundEngine::StopPlayingID(7);
  Render();  // the first voice ends
  Render();  // the second returns in frame 4, where its source has reached 3 frames
  EXPECT_FALSE(low->IsVirtual());
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 0u);
  right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t)
    EXPECT_NEAR(right[t], SourceSample(3 * kPipelineFrames + t) * 0.5, SourceSample(3 * kPipelineFrames + t) * 0.5 * kDbTolerance)
        << t;
  Platform::ReentrantGuard audio(GlobalAudioLock());
  VoiceManager::SetGlobalMaximum(VoiceManager::kDefaultMaxVoices);
}

TEST(VoiceInsertEffect, PaddingToWholeVectorsStaysInsideTheBuffer) {
  // A motion voice's 8-frame buffer: clearing to 16 frames would run past it.
  std::vector<float> storage(2 * 8 + 4, 7.0f);
  SnMixBuffer buffer;
  buffer.samples = storage.data();
  buffer.channelConfig = StandardConfig(kMaskStereo);
  buffer.maxFrames = 8;
  buffer.validFrames = 3;
  CSnVoiceInsertEffect::ClearToVectorEnd(buffer);
  for (uint32_t c = 0; c < 2; ++c)
    for (uint32_t t = 0; t < 8; ++t) EXPECT_EQ(storage[c * 8 + t], t < 3 ? 7.0f : 0.0f) << c << "," << t;
  for (size_t i = 16; i < storage.size(); ++i) EXPECT_EQ(storage[i], 7.0f);
}

// A virtual voice whose source runs out while it is skipped ends there, and its play with it.
TEST_F(VoicePipelineTest, AVirtualVoiceWhoseSourceEndsWhileSkippedEnds) {
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    VoiceManager::SetGlobalMaximum(1);
  }
  sources_.lengths = {uint64_t(1) << 30, 3 * kPipelineFrames};
  Start(7, 60.0f, SnVirtual_BecomeVirtual);
  CSnPlaybackInstance* low = Start(8, 40.0f, SnVirtual_BecomeVirtual);
  Render();
  Render();
  EXPECT_TRUE(low->IsVirtual());
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 2u);
  for (int i = 0; i < 3; ++i) Render();
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 0u);
  SoundEngine::StopPlayingID(7);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  VoiceManager::SetGlobalMaximum(VoiceManager::kDefaultMaxVoices);
}

// A source with nothing for a frame (a stream behind) leaves that frame silent and goes on after it
// from where it was: the voice does not end.
TEST_F(VoicePipelineTest, AStarvedSourceIsSilentForAFrameAndGoesOn) {
  sources_.starveAt = kPipelineFrames;
  Start();
  Render();
  Render();
  Render();
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  Render();
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  // Four frames, the second starved: the bus, idle in it, sent three, and the last is the source's
  // third frame at x = 0.25 (right 0.5).
  EXPECT_EQ(OutputTest::SinkLog().frames.size(), 3u);
  const std::vector<double> right = Channel(1);
  for (uint32_t t = 0; t < kPipelineFrames; ++t)
    EXPECT_NEAR(right[t], SourceSample(2 * kPipelineFrames + t) * 0.5, SourceSample(2 * kPipelineFrames + t) * 0.5 * kDbTolerance)
        << t;
  SoundEngine::StopPlayingID(7);
  Render();
}

// An insert's plug-in reads media its definition names, held by three banks. The bank it reads from
// goes: the plug-in is moved onto the next bank's copy (the old bytes overwritten, it reads the same
// bytes on) and the voice plays on. The next goes while the plug-in cannot follow: the voice stops
// before the bytes go.
TEST_F(VoicePipelineTest, AnInsertsMediaMoveToAnotherBanksCopyOrTheVoiceStops) {
  using BusTest::MediaReader;
  const uint32_t first = banks_.Load("TableA"), second = banks_.Load("TableB");
  banks_.Load("TableC");
  FakeDefinition& reader = Definition(30, BusTest::kMediaReaderId);
  reader.media = banks_.MediaId();
  effects_.slots[0] = &reader;
  Start();
  Render(3);
  ASSERT_EQ(SoundEngine::UnloadBank(first, banks_.images[0].data()), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  EXPECT_EQ(MediaReader::Heard().moves, 1);
  std::fill(banks_.images[0].begin(), banks_.images[0].end(), uint8_t(0x5A));
  Render(3);
  EXPECT_EQ(MediaReader::Heard().reads.size(), 1u);
  EXPECT_TRUE(MediaReader::Heard().ReadInOrder(banks_.media, 6));

  MediaReader::Heard().follows = false;
  ASSERT_EQ(SoundEngine::UnloadBank(second, banks_.images[1].data()), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(MediaReader::Heard().moves, 1);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

}  // namespace
