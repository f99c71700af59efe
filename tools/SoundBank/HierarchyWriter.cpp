// Sound, motion source, bus and attenuation payloads, field by field, little-endian and unpadded.
#include "tools/SoundBank/HierarchyWriter.h"

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

void PutSource(std::vector<uint8_t>& out, const BankSource& source) {
  Put(out, source.classId);
  Put(out, source.streamType);
  Put(out, source.sourceId);
  Put(out, source.sizeOrFileId);
  Put(out, source.flags);
  if ((source.classId & 0xF) != 2) return;
  Put(out, uint32_t(source.pluginParams.size()));
  ContentWriters::PutBytes(out, source.pluginParams.data(), source.pluginParams.size());
}

std::vector<uint8_t> SoundPayload(uint32_t id, const BankSource& source, const BankNodeParams& params,
                                  bool motionFlag) {
  std::vector<uint8_t> leading;
  PutSource(leading, source);
  return NodePayload(id, leading, params, motionFlag);
}

std::vector<uint8_t> MotionSourcePayload(uint32_t id, const std::vector<BankMotionSource>& sources,
                                         const BankNodeParams& params, bool motionFlag) {
  std::vector<uint8_t> leading;
  Put(leading, uint32_t(sources.size()));
  for (const BankMotionSource& source : sources) {
    Put(leading, source.firstValue);
    Put(leading, source.secondValue);
    Put(leading, source.value);
    PutSource(leading, source.source);
  }
  return NodePayload(id, leading, params, motionFlag);
}

std::vector<uint8_t> BusPayload(uint32_t id, const BankBusParams& bus) {
  std::vector<uint8_t> out;
  Put(out, id);
  Put(out, bus.parentId);
  PutProperties(out, bus.properties);
  Put(out, bus.mixStageFlags);
  Put(out, bus.voiceFlags);
  Put(out, bus.maxInstances);
  Put(out, bus.channelConfig);
  Put(out, bus.stateFlag);
  Put(out, bus.recoveryMs);
  Put(out, bus.maxDuckVolume);
  Put(out, uint32_t(bus.ducks.size()));
  for (const BankDuck& duck : bus.ducks) {
    Put(out, duck.targetBusId);
    Put(out, duck.volume);
    Put(out, duck.fadeOutMs);
    Put(out, duck.fadeInMs);
    Put(out, duck.curve);
    Put(out, duck.property);
  }
  PutEffects(out, bus.effects, bus.bypassBits);
  Put(out, bus.mixerId);
  Put(out, bus.mixerShared);
  Put(out, bus.lastFlag);
  PutNodeCurves(out, bus.curves);
  PutStateGroups(out, bus.stateGroups);
  return out;
}

std::vector<uint8_t> AttenuationPayload(uint32_t id, const BankAttenuation& attenuation) {
  std::vector<uint8_t> out;
  Put(out, id);
  Put(out, attenuation.coneEnabled);
  if (attenuation.coneEnabled) {
    Put(out, attenuation.insideDegrees);
    Put(out, attenuation.outsideDegrees);
    for (float value : attenuation.coneValues) Put(out, value);
  }
  for (uint8_t use : attenuation.curveUses) Put(out, use);
  Put(out, uint8_t(attenuation.curves.size()));
  for (const BankAttenuationCurve& curve : attenuation.curves) {
    Put(out, curve.scaling);
    PutCurvePoints(out, curve.points);
  }
  Put(out, uint16_t(attenuation.rtpcs.size()));
  for (const BankAttenuationRTPC& rtpc : attenuation.rtpcs) {
    Put(out, rtpc.rtpcId);
    Put(out, rtpc.firstKind);
    Put(out, rtpc.secondKind);
    Put(out, rtpc.parameterId);
    Put(out, rtpc.curveId);
    Put(out, rtpc.scaling);
    PutCurvePoints(out, rtpc.points);
  }
  return out;
}

}  // namespace Tools
