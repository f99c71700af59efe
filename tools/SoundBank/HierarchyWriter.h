// Writes the payloads of the hierarchy objects that carry more than the common node parameters:
// sounds and motion sources (their source records first), buses and attenuations.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/SoundBank/NodeParamsWriter.h"

namespace Tools {

constexpr uint8_t kBankSoundType = 2;
constexpr uint8_t kBankBusType = 8;
constexpr uint8_t kBankAttenuationType = 14;
constexpr uint8_t kBankOwnMixBusType = 20;
constexpr uint8_t kBankMotionBusType = 16;
constexpr uint8_t kBankMotionSourceType = 17;

struct BankSource {
  uint32_t classId = 0x00010001;  // low 4 bits: 1 codec (its id in the high 16), 2 source plug-in
  uint8_t streamType = 0;         // 0 in memory, 1 streamed, 2 prefetched
  uint32_t sourceId = 0;          // the media id
  uint32_t sizeOrFileId = 0;      // the media size in memory, else the file id
  uint8_t flags = 0;              // bit 0: the file is a language's
  std::vector<uint8_t> pluginParams;  // written for plug-ins only
};
void PutSource(std::vector<uint8_t>& out, const BankSource& source);
std::vector<uint8_t> SoundPayload(uint32_t id, const BankSource& source, const BankNodeParams& params, bool motionFlag);

// One source of a motion source: its two device values, its initial value and the source record.
struct BankMotionSource {
  uint16_t firstValue = 0;
  uint16_t secondValue = 0;
  float value = 0.0f;
  BankSource source;
};
// The sources come before the common node parameters.
std::vector<uint8_t> MotionSourcePayload(uint32_t id, const std::vector<BankMotionSource>& sources,
                                         const BankNodeParams& params, bool motionFlag);

struct BankDuck {
  uint32_t targetBusId = 0;
  float volume = 0.0f;  // dB
  uint32_t fadeOutMs = 0, fadeInMs = 0;
  uint8_t curve = 0;
  uint8_t property = 0;  // 0 volume, 5 bus volume
};
struct BankBusParams {
  uint32_t parentId = 0;
  std::vector<BankNodeProperty> properties;
  uint8_t mixStageFlags = 0;   // bits 0 and 1: the two mix-stage overrides
  uint8_t voiceFlags = 0;      // bits 0-2 voice limiting, bit 3 background music
  uint16_t maxInstances = 0;
  uint32_t channelConfig = 0;
  uint8_t stateFlag = 0;
  uint32_t recoveryMs = 0;
  float maxDuckVolume = -96.3f;
  std::vector<BankDuck> ducks;
  uint8_t bypassBits = 0;  // written only with effects
  std::vector<BankNodeEffect> effects;
  uint32_t mixerId = 0;
  uint8_t mixerShared = 0;
  uint8_t lastFlag = 0;
  std::vector<BankNodeCurve> curves;
  std::vector<BankNodeStateGroup> stateGroups;
};
std::vector<uint8_t> BusPayload(uint32_t id, const BankBusParams& bus);

struct BankAttenuationCurve {
  uint8_t scaling = 0;
  std::vector<BankCurvePoint> points;
};
struct BankAttenuationRTPC {
  uint32_t rtpcId = 0;
  uint8_t firstKind = 0, secondKind = 0;
  uint8_t parameterId = 0;
  uint32_t curveId = 0;
  uint8_t scaling = 0;
  std::vector<BankCurvePoint> points;
};
struct BankAttenuation {
  uint8_t coneEnabled = 0;
  float insideDegrees = 0.0f, outsideDegrees = 0.0f;
  float coneValues[3] = {};
  uint8_t curveUses[7] = {255, 255, 255, 255, 255, 255, 255};
  std::vector<BankAttenuationCurve> curves;
  std::vector<BankAttenuationRTPC> rtpcs;
};
std::vector<uint8_t> AttenuationPayload(uint32_t id, const BankAttenuation& attenuation);

}  // namespace Tools
