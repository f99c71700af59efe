// Writes the common node parameters every hierarchy object of a bank carries after its own leading
// fields, and the payloads of state-property objects and modulators.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tools/SoundBank/BankWriter.h"

namespace Tools {

struct BankNodeEffect {
  uint8_t slot = 0;
  uint32_t effectId = 0;
  uint8_t shared = 0;
  uint8_t rendered = 0;
};
// A property value as its 4 bytes (f32, or u32/i32 by property).
struct BankNodeProperty {
  uint8_t id = 0;
  uint32_t bits = 0;
  static BankNodeProperty Float(uint8_t id, float value);
  static BankNodeProperty Int(uint8_t id, int32_t value);
};
struct BankNodeRange {
  uint8_t id = 0;
  float min = 0.0f, max = 0.0f;
};
struct BankPathVertex {
  float x = 0.0f, y = 0.0f, z = 0.0f;
  int32_t durationMs = 0;
};
struct BankPathItem {
  uint32_t firstVertex = 0, vertexCount = 0;
  float ranges[3] = {};
};
struct BankNodePositioning {
  uint8_t bits = 0;  // bit 0: own positioning; bit 3: 3D, and the fields below follow
  uint8_t type = 0;  // 1: no path fields
  uint32_t attenuationId = 0;
  uint8_t pathMode = 0;
  uint32_t pathTransitionMs = 0;
  std::vector<BankPathVertex> vertices;
  std::vector<BankPathItem> items;
};
struct BankNodeStateGroup {
  uint32_t id = 0;
  uint8_t syncType = 0;
  std::vector<std::pair<uint32_t, uint32_t>> states;  // {state id, state-property object id}
};
struct BankNodeCurve {
  uint32_t rtpcId = 0;
  uint8_t rtpcType = 0;
  uint8_t accumulation = 0;
  uint8_t parameterId = 0;
  uint32_t curveId = 0;
  uint8_t scaling = 0;
  std::vector<BankCurvePoint> points;
};

struct BankNodeParams {
  uint8_t overridesEffects = 0;
  uint8_t bypassBits = 0;  // written only with effects
  std::vector<BankNodeEffect> effects;
  uint8_t attachmentFlags = 0;
  uint32_t outputBusId = 0;
  uint32_t parentId = 0;
  uint8_t priorityFlags = 0;  // bits 0-1 priority, bits 2-5 MIDI
  std::vector<BankNodeProperty> properties;
  std::vector<BankNodeRange> ranges;
  BankNodePositioning positioning;
  uint8_t sendFlags = 0;  // bit 3: the four auxiliary bus ids follow
  uint32_t auxBusIds[4] = {};
  uint8_t advancedFlags = 0;
  uint8_t virtualBehaviour = 0;
  uint16_t maxInstances = 0;
  uint8_t behaviour = 0;
  uint8_t outputFlags = 0;
  std::vector<BankNodeStateGroup> stateGroups;
  std::vector<BankNodeCurve> curves;
  uint32_t secondaryOutputId = 0;  // written only into a bank whose header has the motion flag
};

// A property block: u8 count, the ids, then the 4-byte values.
void PutProperties(std::vector<uint8_t>& out, const std::vector<BankNodeProperty>& properties);
void PutNodeParams(std::vector<uint8_t>& out, const BankNodeParams& params, bool motionFlag);
// The blocks the other object kinds share: a property block, the state groups, the game-parameter curves.
void PutProperties(std::vector<uint8_t>& out, const std::vector<BankNodeProperty>& properties);
// The effect count, and with effects the bypass bits and each effect's slot, id, shared and rendered flags.
void PutEffects(std::vector<uint8_t>& out, const std::vector<BankNodeEffect>& effects, uint8_t bypassBits);
void PutStateGroups(std::vector<uint8_t>& out, const std::vector<BankNodeStateGroup>& groups);
void PutNodeCurves(std::vector<uint8_t>& out, const std::vector<BankNodeCurve>& curves);
// A hierarchy object's payload: its id, the kind's leading bytes, then the common parameters.
std::vector<uint8_t> NodePayload(uint32_t id, const std::vector<uint8_t>& leading, const BankNodeParams& params,
                                 bool motionFlag);
// A state-property object (HIRC type 1): its id and one property block.
constexpr uint8_t kBankStatePropertiesType = 1;
std::vector<uint8_t> StatePropertiesPayload(uint32_t id, const std::vector<BankNodeProperty>& properties);

// An oscillator (type 21) or envelope (type 22): property values, their ranges, then the curves
// that drive its parameters.
struct BankModulator {
  uint32_t id = 0;
  std::vector<BankNodeProperty> properties;
  std::vector<BankNodeRange> ranges;
  std::vector<BankNodeCurve> curves;
};
std::vector<uint8_t> ModulatorPayload(const BankModulator& modulator);

}  // namespace Tools
