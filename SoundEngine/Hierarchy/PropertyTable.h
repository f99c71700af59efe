// The node properties: their ids, table defaults and the game parameter each one follows.
#pragma once

#include <cstdint>

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"

namespace SN {

enum SnPropertyId : uint8_t {
  SnProp_Volume = 0,
  SnProp_Pitch = 2,
  SnProp_LowPass = 3,
  SnProp_HighPass = 4,
  SnProp_StateValue = 5,
  SnProp_Priority = 6,
  SnProp_PriorityDistanceOffset = 7,
  SnProp_SecondaryFirst = 8,
  SnProp_SecondarySecond = 9,
  SnProp_GainFactor = 10,
  SnProp_PositionA = 11,
  SnProp_PositionB = 12,
  SnProp_PositionC = 13,
  SnProp_UserSend0 = 18,
  SnProp_GameSend = 22,
  SnProp_OutputBus0 = 23,
  SnProp_OutputBus1 = 24,
  SnProp_OutputBus2 = 25,
  SnProp_Group32 = 32,
  SnProp_SecondGain = 33,
  SnProp_MidiTrackingRoot = 45,
  SnProp_MidiPlayMode = 46,
  SnProp_MidiTranspose = 47,
  SnProp_MidiVelocityOffset = 48,
  SnProp_MidiKeyMin = 49,
  SnProp_MidiKeyMax = 50,
  SnProp_MidiVelocityMin = 51,
  SnProp_MidiVelocityMax = 52,
  SnProp_MidiChannelMask = 53,
  SnProp_AttachedMixer = 57,
  SnProp_LoopCount = 58,
  SnProp_InitialDelay = 59,
  SnProp_TableCount = 60,
};

// The parameter a property follows; kNoParameter for none.
constexpr uint32_t kNoParameter = 64;
uint32_t ParameterOfProperty(uint32_t propertyId);

// Table defaults: as float for the float properties, as integer for the integer ones. The float
// table is read at every voice's start: in place, where a constant id folds it away.
constexpr float FloatPropertyDefault(uint32_t propertyId) {
  switch (propertyId) {
    case 6: return 50.0f;
    case 7: return -10.0f;
    case 10: return 1.0f;
    case 16: return 100.0f;
    case 26: return 96.0f;
    case 27: return 16.0f;
    case 28: return 1.0f;
    case 31: return 200.0f;
    case 32: return 12.0f;
    case 54: return 1.0f;
    default: return 0.0f;
  }
}

int32_t IntPropertyDefault(uint32_t propertyId);
// True for the properties stored as integers (40-53 and 57).
bool IsIntProperty(uint32_t propertyId);

// The values a float property may take: the levels (volumes, sends, the second gain, the bus and
// output-bus volumes, the secondary-output levels) in decibels, the pitch in cents, the two filter
// values as far as any bank's own (the voice clamps their sum), any finite value for the rest. Each
// node adds its value to the path's sum, so a value outside these could only carry the sum where no
// sound can follow.
SnValueRange PropertyRange(uint32_t propertyId);
// The bounds of what adds to a node's own value (a state's value, a run-time value, a random
// offset): wide enough to carry a value across the range, narrow enough that a sum of two stays finite.
SnValueRange PropertyOffsetRange(uint32_t propertyId);
using SnPropertyRangeOf = SnValueRange (*)(uint32_t propertyId);
// The value held to `rangeOf` the property; a value that is not a number is the table default.
float HoldPropertyValue(uint32_t propertyId, float value, SnPropertyRangeOf rangeOf);

// Hold every level and filter value of a property block (and both ends of every range of a ranged
// block) read from a bank, one logged error for each value held, naming `owner` ("Node", "Bus", ...)
// and `id`.
void HoldBankProperties(SnPropertyBlob4& values, const char* owner, uint32_t id, SnPropertyRangeOf rangeOf);
void HoldBankRanges(SnPropertyBlob8& ranges, const char* owner, uint32_t id);

}  // namespace SN
