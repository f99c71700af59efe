// The engine's built-in gain effect as a bank's definition makes it: registered by Init unless the
// game took its key, its level block read and refused, driven by its parameter, applied in place.
#include <cmath>
#include <cstring>
#include <vector>

#include "OutputTestSupport.h"

#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

class GainEffectTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    InitWithMemorySink();
  }
  // Parameters made as a bank's definition makes them; null when the block is refused.
  static ISnPluginParam* Params(const void* block, uint32_t size) {
    ISnPluginParam* params = nullptr;
    EXPECT_EQ(CSnPluginFactoryTable::CreatePluginParam(&PluginAllocator(), kGainEffectKey, params), SN_Success);
    if (!params) return nullptr;
    if (params->Init(&PluginAllocator(), block, size) != SN_Success) {
      params->Term(&PluginAllocator());
      return nullptr;
    }
    return params;
  }
};

TEST_F(GainEffectTest, ABanksLevelScalesEveryChannelInPlaceAndAParameterDrivesIt) {
  const float dB = -6.0f;
  ISnPluginParam* params = Params(&dB, sizeof dB);
  ASSERT_NE(params, nullptr);
  ISnPlugin* plugin = nullptr;
  ASSERT_EQ(CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), kGainEffectKey, plugin), SN_Success);
  SnPluginInfo info{};
  ASSERT_EQ(plugin->QueryInfo(info), SN_Success);
  EXPECT_EQ(info.type, uint32_t(SnPluginType_Effect));
  EXPECT_EQ(info.inPlace, 1);
  auto* effect = static_cast<ISnEffectPlugin*>(plugin);
  SnAudioFormat format{};
  ASSERT_EQ(effect->Init(&PluginAllocator(), nullptr, params, format), SN_Success);

  // Two channels of 8 frames, 5 valid: the rest is left alone.
  std::vector<float> samples(16);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i) - 7.5f;
  const std::vector<float> before = samples;
  SnMixBuffer buffer;
  buffer.samples = samples.data();
  buffer.channelConfig = StandardConfig(kMaskStereo);
  buffer.maxFrames = 8;
  buffer.validFrames = 5;
  effect->ProcessInPlace(buffer);
  const double half = std::pow(10.0, -6.0 / 20.0);
  for (size_t c = 0; c < 2; ++c)
    for (size_t t = 0; t < 8; ++t) {
      const size_t i = c * 8 + t;
      EXPECT_NEAR(samples[i], t < 5 ? before[i] * half : before[i], 1e-6) << i;
    }

  // A game parameter sets the level; a level that is no number is refused and changes nothing.
  const float unity = 0.0f, nan = std::nanf("");
  EXPECT_EQ(params->SetParam(kGainEffectLevelParam, &unity, sizeof unity), SN_Success);
  EXPECT_EQ(params->SetParam(kGainEffectLevelParam, &nan, sizeof nan), SN_InvalidParameter);
  EXPECT_EQ(params->SetParam(kGainEffectLevelParam + 1, &unity, sizeof unity), SN_InvalidParameter);
  const std::vector<float> kept = samples;
  effect->ProcessInPlace(buffer);
  EXPECT_EQ(samples, kept);
  plugin->Term(&PluginAllocator());
  params->Term(&PluginAllocator());
}

TEST_F(GainEffectTest, BlocksOfAnotherSizeOrNoNumberAreRefusedAndNoneIsUnity) {
  const uint8_t three[3] = {};
  EXPECT_EQ(Params(three, sizeof three), nullptr);
  const float inf = INFINITY;
  EXPECT_EQ(Params(&inf, sizeof inf), nullptr);
  ISnPluginParam* none = Params(nullptr, 0);
  ASSERT_NE(none, nullptr);
  ISnPluginParam* clone = none->Clone(&PluginAllocator());
  ASSERT_NE(clone, nullptr);
  none->Term(&PluginAllocator());
  clone->Term(&PluginAllocator());
}

// A game that registered its own plug-in under the key keeps it across Init.
TEST_F(GainEffectTest, TheGamesOwnPluginUnderTheKeyStays) {
  static int made;
  made = 0;  // counted afresh each time the test runs
  auto make = [](ISnPluginMemAlloc*) -> ISnPlugin* {
    ++made;
    return nullptr;
  };
  CSnPluginFactoryTable::Term();
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, kBuiltInCompanyId, kGainEffectPluginId, make,
                                        [](ISnPluginMemAlloc*) -> ISnPluginParam* { return nullptr; }),
            SN_Success);
  EXPECT_EQ(RegisterBuiltInPlugins(), SN_Success);
  ISnPlugin* plugin = nullptr;
  EXPECT_EQ(CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), kGainEffectKey, plugin), SN_Failure);
  EXPECT_EQ(made, 1);
}

}  // namespace
