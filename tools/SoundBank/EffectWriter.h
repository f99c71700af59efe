// Writes the payloads of effect definitions: the shared kind (type 18) and the per-node kind (type 19).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/SoundBank/BankWriter.h"

namespace Tools {

constexpr uint8_t kBankSharedEffectType = 18;
constexpr uint8_t kBankNodeEffectType = 19;

struct BankEffectMedia {
  uint8_t index = 0;
  uint32_t mediaId = 0;
};
struct BankEffectCurve {
  uint32_t parameterId = 0;  // the game parameter
  uint8_t kind = 0;          // 2: a modulator drives it
  uint8_t extra = 0;
  uint8_t pluginParamId = 0;
  uint32_t curveId = 0;
  uint8_t scaling = 0;
  std::vector<BankCurvePoint> points;
};
struct BankEffectProperty {
  uint8_t id = 0;
  float value = 0.0f;
};
struct BankEffect {
  uint32_t pluginId = 0xFFFFFFFFu;  // the registry key; all ones for none
  std::vector<uint8_t> params;      // the plug-in's own parameter block
  std::vector<BankEffectMedia> media;
  std::vector<BankEffectCurve> curves;
  std::vector<BankEffectProperty> properties;
};
std::vector<uint8_t> EffectPayload(uint32_t id, const BankEffect& effect);

}  // namespace Tools
