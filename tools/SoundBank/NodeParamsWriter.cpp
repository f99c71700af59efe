// The common node parameters, field by field, little-endian and unpadded.
#include "tools/SoundBank/NodeParamsWriter.h"

#include <cstring>

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

BankNodeProperty BankNodeProperty::Float(uint8_t id, float value) {
  BankNodeProperty property;
  property.id = id;
  memcpy(&property.bits, &value, sizeof value);
  return property;
}

BankNodeProperty BankNodeProperty::Int(uint8_t id, int32_t value) {
  BankNodeProperty property;
  property.id = id;
  memcpy(&property.bits, &value, sizeof value);
  return property;
}

void PutProperties(std::vector<uint8_t>& out, const std::vector<BankNodeProperty>& properties) {
  Put(out, uint8_t(properties.size()));
  for (const BankNodeProperty& property : properties) Put(out, property.id);
  for (const BankNodeProperty& property : properties) Put(out, property.bits);
}

void PutEffects(std::vector<uint8_t>& out, const std::vector<BankNodeEffect>& effects, uint8_t bypassBits) {
  Put(out, uint8_t(effects.size()));
  if (effects.empty()) return;
  Put(out, bypassBits);
  for (const BankNodeEffect& effect : effects) {
    Put(out, effect.slot);
    Put(out, effect.effectId);
    Put(out, effect.shared);
    Put(out, effect.rendered);
  }
}

void PutStateGroups(std::vector<uint8_t>& out, const std::vector<BankNodeStateGroup>& groups) {
  Put(out, uint32_t(groups.size()));
  for (const BankNodeStateGroup& group : groups) {
    Put(out, group.id);
    Put(out, group.syncType);
    Put(out, uint16_t(group.states.size()));
    for (const auto& [state, set] : group.states) {
      Put(out, state);
      Put(out, set);
    }
  }
}

static void PutRanges(std::vector<uint8_t>& out, const std::vector<BankNodeRange>& ranges) {
  Put(out, uint8_t(ranges.size()));
  for (const BankNodeRange& range : ranges) Put(out, range.id);
  for (const BankNodeRange& range : ranges) {
    Put(out, range.min);
    Put(out, range.max);
  }
}

void PutNodeCurves(std::vector<uint8_t>& out, const std::vector<BankNodeCurve>& curves) {
  Put(out, uint16_t(curves.size()));
  for (const BankNodeCurve& curve : curves) {
    Put(out, curve.rtpcId);
    Put(out, curve.rtpcType);
    Put(out, curve.accumulation);
    Put(out, curve.parameterId);
    Put(out, curve.curveId);
    Put(out, curve.scaling);
    PutCurvePoints(out, curve.points);
  }
}

namespace {

void PutPositioning(std::vector<uint8_t>& out, const BankNodePositioning& positioning) {
  Put(out, positioning.bits);
  if (!(positioning.bits & 0x01) || !(positioning.bits & 0x08)) return;
  Put(out, positioning.type);
  Put(out, positioning.attenuationId);
  if ((positioning.type & 0x03) == 1) return;
  Put(out, positioning.pathMode);
  Put(out, positioning.pathTransitionMs);
  Put(out, uint32_t(positioning.vertices.size()));
  for (const BankPathVertex& vertex : positioning.vertices) {
    Put(out, vertex.x);
    Put(out, vertex.y);
    Put(out, vertex.z);
    Put(out, vertex.durationMs);
  }
  Put(out, uint32_t(positioning.items.size()));
  for (const BankPathItem& item : positioning.items) {
    Put(out, item.firstVertex);
    Put(out, item.vertexCount);
  }
  for (const BankPathItem& item : positioning.items)
    for (float range : item.ranges) Put(out, range);
}
}  // namespace

void PutNodeParams(std::vector<uint8_t>& out, const BankNodeParams& params, bool motionFlag) {
  Put(out, params.overridesEffects);
  PutEffects(out, params.effects, params.bypassBits);
  Put(out, params.attachmentFlags);
  Put(out, params.outputBusId);
  Put(out, params.parentId);
  Put(out, params.priorityFlags);
  PutProperties(out, params.properties);
  PutRanges(out, params.ranges);
  PutPositioning(out, params.positioning);
  Put(out, params.sendFlags);
  if (params.sendFlags & 0x08)
    for (uint32_t id : params.auxBusIds) Put(out, id);
  Put(out, params.advancedFlags);
  Put(out, params.virtualBehaviour);
  Put(out, params.maxInstances);
  Put(out, params.behaviour);
  Put(out, params.outputFlags);
  PutStateGroups(out, params.stateGroups);
  PutNodeCurves(out, params.curves);
  if (motionFlag) Put(out, params.secondaryOutputId);
}

std::vector<uint8_t> NodePayload(uint32_t id, const std::vector<uint8_t>& leading, const BankNodeParams& params,
                                 bool motionFlag) {
  std::vector<uint8_t> out;
  Put(out, id);
  ContentWriters::PutBytes(out, leading.data(), leading.size());
  PutNodeParams(out, params, motionFlag);
  return out;
}

std::vector<uint8_t> StatePropertiesPayload(uint32_t id, const std::vector<BankNodeProperty>& properties) {
  std::vector<uint8_t> out;
  Put(out, id);
  PutProperties(out, properties);
  return out;
}

std::vector<uint8_t> ModulatorPayload(const BankModulator& modulator) {
  std::vector<uint8_t> out;
  Put(out, modulator.id);
  PutProperties(out, modulator.properties);
  PutRanges(out, modulator.ranges);
  PutNodeCurves(out, modulator.curves);
  return out;
}

}  // namespace Tools
