// The source plug-in host with a test sine generator registered as a game registers one: it plays
// (also through the source stage), its layouts are accepted or refused, and a missing plug-in, node
// or frame count is answered without calling through.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/Sources/PluginSource.h"
#include "SoundEngine/Sources/VoiceSource.h"
#include "SoundEngine/Sources/VoiceSourceStage.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/EffectWriter.h"

namespace {

using SourceTest::FakeInstance;

constexpr uint32_t kCompany = 64;
constexpr uint32_t kSinePlugin = 7;
constexpr double kPi = 3.14159265358979323846;

struct SineLog {
  int executes = 0;
  int terms = 0;
  uint32_t mask = 0x4;  // the layout the generator asks for
  float seekMs = -1.0f;
};
SineLog& Log() {
  static SineLog log;
  return log;
}

// A 1 kHz sine at half scale on every channel, planar float at the rate it is offered.
class SineGenerator final : public SN::ISnSourcePlugin {
 public:
  SN::SNRESULT Term(SN::ISnPluginMemAlloc* allocator) override {
    ++Log().terms;
    this->~SineGenerator();
    allocator->Free(this);
    return SN::SN_Success;
  }
  SN::SNRESULT Reset() override { return SN::SN_Success; }
  SN::SNRESULT QueryInfo(SN::SnPluginInfo& info) override {
    info = SN::SnPluginInfo{SN::SnPluginType_Source, 0, 0};
    return SN::SN_Success;
  }
  SN::SNRESULT QueryFormat(SN::SnMediaFormat& format) override {
    format.channelConfig = SN::StandardConfig(Log().mask);
    return SN::SN_Success;
  }
  SN::SNRESULT Init(SN::ISnPluginMemAlloc*, SN::ISnSourcePluginContext*, SN::ISnPluginParam*,
                    SN::SnMediaFormat& format) override {
    m_rate = format.sampleRate;
    m_channels = SN::ChannelCount(format.channelConfig);
    return SN::SN_Success;
  }
  void Execute(SN::SnVoiceBuffer& buffer) override {
    ++Log().executes;
    for (uint32_t i = 0; i < buffer.maxFrames; ++i, ++m_frame)
      for (uint32_t c = 0; c < m_channels; ++c)
        buffer.Plane(c)[i] = float(0.5 * std::sin(2.0 * kPi * 1000.0 * double(m_frame) / m_rate));
    buffer.validFrames = buffer.maxFrames;
    buffer.state = m_frame >= m_rate ? 17 : 45;  // one second
  }
  float GetDuration() const override { return 1000.0f; }
  SN::SNRESULT StopLooping() override { return SN::SN_Success; }
  SN::SNRESULT TimeSkip(uint32_t&) override { return SN::SNRESULT(0); }
  SN::SNRESULT Seek(float ms) override {
    Log().seekMs = ms;
    m_frame = uint64_t(ms * 0.001 * m_rate);
    return SN::SN_Success;
  }
  float GetEnvelope() const override { return 0.5f; }

 private:
  uint64_t m_frame = 0;
  uint32_t m_rate = 48000;
  uint32_t m_channels = 1;
};

SN::ISnPlugin* CreateSine(SN::ISnPluginMemAlloc* allocator) {
  void* memory = allocator->Malloc(sizeof(SineGenerator));
  return memory ? new (memory) SineGenerator() : nullptr;
}
// The generator takes no parameters: its parameter object only comes and goes.
class NoParams final : public SN::ISnPluginParam {
 public:
  SN::ISnPluginParam* Clone(SN::ISnPluginMemAlloc* allocator) override { return SN::PluginNew<NoParams>(allocator); }
  SN::SNRESULT Term(SN::ISnPluginMemAlloc* allocator) override {
    SN::PluginDelete(allocator, this);
    return SN::SN_Success;
  }
};
SN::ISnPluginParam* CreateNoParams(SN::ISnPluginMemAlloc* allocator) { return SN::PluginNew<NoParams>(allocator); }

class PluginSourceTest : public SourceTest::PoolFixture {
 protected:
  void SetUp() override {
    PoolFixture::SetUp();
    Log() = SineLog{};
    previousIndex_ = SN::g_pObjectIndex;
    SN::g_pObjectIndex = &index_;
    ASSERT_EQ(SN::SoundEngine::RegisterPlugin(SN::SnPluginType_Source, kCompany, kSinePlugin, &CreateSine,
                                              &CreateNoParams),
              SN::SN_Success);
    // The sine's parameter node as a bank's per-node effect definition gives it.
    Tools::BankEffect sine;
    sine.pluginId = SN::PluginKey(SN::SnPluginType_Source, kCompany, kSinePlugin);
    const std::vector<uint8_t> payload = Tools::EffectPayload(77u, sine);
    node_ = SN::PoolNew<SN::CSnEffectDefinition>(SN::g_DefaultPoolId, 77u, false);
    ASSERT_EQ(node_->SetInitialValues(payload.data() + 4, uint32_t(payload.size() - 4)), SN::SN_Success);
    index_.List(SN::SnIndex_SourcePluginDefinitions).Insert(node_);
  }
  void TearDown() override {
    node_->Release();  // taken out of the index with its last reference
    SN::g_pObjectIndex = previousIndex_;
    SN::CSnPluginFactoryTable::Term();
    PoolFixture::TearDown();
  }
  static FakeInstance PluginInstance() { return FakeInstance({}, 0, SN::CSnSourceDesc::Storage_Plugin); }

  SN::CSnObjectIndex index_;
  SN::CSnObjectIndex* previousIndex_ = nullptr;
  SN::CSnEffectDefinition* node_ = nullptr;
};

TEST_F(PluginSourceTest, ARegisteredSinePlays) {
  FakeInstance instance = PluginInstance();
  SN::CSnVoiceSource* source = SN::CreateVoiceSource(&instance);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->PrepareSource(), SN::SN_Success);
  EXPECT_EQ(instance.format.sampleRate, 48000u);
  EXPECT_EQ(instance.format.channelConfig, SN::StandardConfig(0x4));
  EXPECT_TRUE(instance.format.IsPlanar());
  EXPECT_EQ(instance.format.BitsPerSample(), 32u);
  EXPECT_FLOAT_EQ(source->GetDuration(), 1000.0f);
  EXPECT_NEAR(source->GetEnvelopeDb(0), 20.0 * std::log10(0.5), 0.01);

  SN::CSnVoiceSourceStage stage;
  ASSERT_EQ(stage.Init(source, instance.format, &instance, 48000), SN::SN_Success);
  std::vector<float> got;
  SN::SNRESULT result = SN::SN_DataReady;
  for (int frame = 0; frame < 100 && result == SN::SN_DataReady; ++frame) {
    SN::SnVoiceBuffer out;
    out.maxFrames = 1024;
    result = stage.RunFrame(out);
    got.insert(got.end(), out.Plane(0), out.Plane(0) + out.validFrames);
  }
  EXPECT_EQ(result, SN::SN_NoMoreData);
  ASSERT_EQ(got.size(), 47u * 1024u);  // the frame that passes one second is its last
  for (size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], float(0.5 * std::sin(2.0 * kPi * 1000.0 * double(i) / 48000.0))) << i;
  stage.Stop();
  stage.Release();
  EXPECT_EQ(Log().terms, 1);
  source->Destroy();
}

TEST_F(PluginSourceTest, LayoutsAreAcceptedOrRefused) {
  Log().mask = 0x60F;
  FakeInstance five = PluginInstance();
  SN::CSnPluginSource accepted(&five);
  EXPECT_EQ(accepted.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(SN::ChannelCount(five.format.channelConfig), 6u);
  accepted.StopStream();

  Log() = SineLog{};
  Log().mask = 0x3F;
  FakeInstance back = PluginInstance();
  SN::CSnPluginSource refused(&back);
  EXPECT_EQ(refused.PrepareSource(), SN::SN_Failure);
  EXPECT_EQ(Log().terms, 1);  // stopped at once
  EXPECT_EQ(back.formatsSet, 0);
  SN::SnVoiceBuffer b;
  b.maxFrames = 64;
  refused.GetBuffer(b);
  EXPECT_EQ(b.result, SN::SN_Failure);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(refused.StopLooping(), SN::SN_Failure);
  EXPECT_EQ(refused.GetDuration(), 0.0f);
}

TEST_F(PluginSourceTest, ZeroFramesSeeksAndSkips) {
  FakeInstance instance = PluginInstance();
  SN::CSnPluginSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  SN::SnVoiceBuffer none;
  none.maxFrames = 0;
  source.GetBuffer(none);
  EXPECT_EQ(none.result, SN::SN_NoMoreData);
  EXPECT_EQ(Log().executes, 0);

  instance.seek = SN::SnSeekRequest{true, true, false, 0.25f, 0, 0};
  EXPECT_EQ(source.Seek(), SN::SN_Success);
  EXPECT_FLOAT_EQ(Log().seekMs, 250.0f);
  EXPECT_FALSE(instance.seek.pending);

  uint32_t frames = 512;  // declined by the generator: made and dropped
  EXPECT_EQ(source.SkipFrames(frames), SN::SN_DataReady);
  EXPECT_EQ(frames, 512u);
  EXPECT_EQ(Log().executes, 1);
  source.StopStream();
}

TEST_F(PluginSourceTest, MissingPluginsAndNodesFail) {
  FakeInstance noNode = PluginInstance();
  noNode.desc.sourceId = 12345;
  SN::CSnPluginSource withoutNode(&noNode);
  EXPECT_EQ(withoutNode.PrepareSource(), SN::SN_Failure);

  SN::CSnPluginFactoryTable::Term();  // nothing registered
  FakeInstance instance = PluginInstance();
  SN::CSnPluginSource withoutPlugin(&instance);
  EXPECT_EQ(withoutPlugin.PrepareSource(), SN::SN_Failure);
}

TEST_F(PluginSourceTest, TheFactoryRefusesWhatIsNotThereAndDetaches) {
  FakeInstance none({}, 0x10000, SN::CSnSourceDesc::Storage_None);
  EXPECT_EQ(SN::CreateVoiceSource(&none), nullptr);
  EXPECT_EQ(none.detached, 1);
  FakeInstance badCodec({}, 0x0FFF, SN::CSnSourceDesc::Storage_InMemory);
  EXPECT_EQ(SN::CreateVoiceSource(&badCodec), nullptr);
  FakeInstance unregistered({}, 0x70000, SN::CSnSourceDesc::Storage_InMemory);
  EXPECT_EQ(SN::CreateVoiceSource(&unregistered), nullptr);
  EXPECT_EQ(unregistered.detached, 1);
  FakeInstance pcm({}, 0x10000, SN::CSnSourceDesc::Storage_InMemory);
  SN::CSnVoiceSource* memory = SN::CreateVoiceSource(&pcm);
  ASSERT_NE(memory, nullptr);
  EXPECT_TRUE(memory->IsMediaSource());
  EXPECT_EQ(memory->PrepareSource(), SN::SN_Failure);  // no media in the instance
  memory->Destroy();
  FakeInstance streamed({}, 0x20000, SN::CSnSourceDesc::Storage_Streamed);
  SN::CSnVoiceSource* stream = SN::CreateVoiceSource(&streamed);
  ASSERT_NE(stream, nullptr);
  stream->Destroy();
}

TEST(FastLinearToDb, FollowsTwentyLogTen) {
  for (float x : {1.0f, 0.5f, 0.1f, 2.0f, 1e-3f, 0.75f, 31.6f})
    EXPECT_NEAR(SN::FastLinearToDb(x), 20.0 * std::log10(x), 0.05) << x;
  EXPECT_LT(SN::FastLinearToDb(0.0f), -700.0f);
}

}  // namespace
