// The built-in gain effect: its parameter object and the in-place plug-in that reads it each frame.
#include "SoundEngine/Lower/Plugins/GainEffect.h"

#include <cmath>
#include <cstring>

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"

namespace SN {
namespace {

static_assert(kGainEffectKey == PluginKey(SnPluginType_Effect, kBuiltInCompanyId, kGainEffectPluginId));

class GainParams final : public ISnPluginParam {
 public:
  explicit GainParams(float dB = 0.0f) { SetLevel(dB); }
  ISnPluginParam* Clone(ISnPluginMemAlloc* allocator) override { return PluginNew<GainParams>(allocator, m_dB); }
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, const void* block, uint32_t size) override {
    if (size == 0) return SN_Success;
    if (size != sizeof(float) || !block) {
      SOUND_LOG(Error, "Gain effect: a parameter block of %u bytes; it takes one f32 level in dB", size);
      return SN_InvalidParameter;
    }
    float dB = 0.0f;
    memcpy(&dB, block, sizeof dB);
    if (!kDecibelRange.Holds(dB))
      SOUND_LOG(Error, "Gain effect: level %g dB is outside %g to %g dB and is held to it", double(dB),
                double(kDecibelRange.min), double(kDecibelRange.max));
    return SetLevel(dB);
  }
  SNRESULT SetParam(uint32_t paramId, const void* value, uint32_t size) override {
    if (paramId != kGainEffectLevelParam || size != sizeof(float) || !value) return SN_InvalidParameter;
    float dB = 0.0f;
    memcpy(&dB, value, sizeof dB);
    return SetLevel(dB);
  }
  float Linear() const { return m_linear; }

 private:
  // A level that is not a number leaves the gain as it was: one bad value must not silence or blow up
  // every frame after it. A finite one is held to the levels a volume may take, as a curve driving it
  // may go anywhere: 10^(3e38 / 20) would be an infinite gain.
  SNRESULT SetLevel(float dB) {
    if (!std::isfinite(dB)) {
      SOUND_LOG(Error, "Gain effect: level %f dB is not a number", double(dB));
      return SN_InvalidParameter;
    }
    m_dB = kDecibelRange.Hold(dB);
    m_linear = std::pow(10.0f, m_dB / 20.0f);
    return SN_Success;
  }

  float m_dB = 0.0f;
  float m_linear = 1.0f;
};

class GainEffect final : public ISnEffectPlugin {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext*, ISnPluginParam* params, SnAudioFormat&) override {
    m_params = static_cast<GainParams*>(params);
    return SN_Success;
  }
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Effect, 1, 0};
    return SN_Success;
  }
  void ProcessInPlace(SnMixBuffer& buffer) override {
    const float gain = m_params ? m_params->Linear() : 1.0f;
    for (uint32_t c = 0; c < ChannelCount(buffer.channelConfig); ++c) {
      float* samples = buffer.samples + size_t(c) * buffer.maxFrames;
      for (uint32_t t = 0; t < buffer.validFrames; ++t) samples[t] *= gain;
    }
  }

 private:
  const GainParams* m_params = nullptr;
};

ISnPlugin* MakeGainEffect(ISnPluginMemAlloc* allocator) { return PluginNew<GainEffect>(allocator); }
ISnPluginParam* MakeGainParams(ISnPluginMemAlloc* allocator) { return PluginNew<GainParams>(allocator); }

}  // namespace

SNRESULT RegisterBuiltInPlugins() {
  if (CSnPluginFactoryTable::HasPlugin(kGainEffectKey)) return SN_Success;
  return CSnPluginFactoryTable::AddPlugin(SnPluginType_Effect, kBuiltInCompanyId, kGainEffectPluginId,
                                          &MakeGainEffect, &MakeGainParams);
}

}  // namespace SN
