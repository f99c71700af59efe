// The property table of the hierarchy nodes.
#include "SoundEngine/Hierarchy/PropertyTable.h"

#include <algorithm>
#include <cstring>

#include "SoundEngine/Log.h"

namespace SN {

uint32_t ParameterOfProperty(uint32_t propertyId) {
  switch (propertyId) {
    case 0: return 0;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    case 6: return 8;
    case 8: return 29;
    case 9: return 30;
    case 11: return 20;
    case 12: return 21;
    case 13: return 11;
    case 18: case 19: case 20: case 21: return 56 + (propertyId - 18);
    case 22: return 19;
    case 23: return 60;
    case 24: return 61;
    case 25: return 62;
    case 32: return 35;
    case 33: return 36;
    case 47: return 39;
    case 48: return 40;
    case 59: return 6;
    default: return kNoParameter;
  }
}

int32_t IntPropertyDefault(uint32_t propertyId) {
  switch (propertyId) {
    case 40: case 41: case 43: return 1;
    case 44: return 7;
    case 45: return 60;
    case 46: return 1;
    case 50: case 52: return 127;
    case 53: return 65535;
    case 57: return -1;
    case 58: return 1;
    default: return 0;
  }
}

bool IsIntProperty(uint32_t propertyId) { return (propertyId >= 40 && propertyId <= 53) || propertyId == 57 || propertyId == 58; }

namespace {
// A node's own filter value (properties 3 and 4) adds to its path's sum, which the voice clamps to 0
// (everything through) to 100 (filters most): a child's negative value lowers its parent's. No bank
// means a value near these bounds; they keep a path's sum finite and exact.
constexpr SnValueRange kFilterValueRange{-1.0e6f, 1.0e6f};

// The value at `at` held to `range`; true when it changed. Values lie only 4-aligned in a block.
bool HoldStored(uint8_t* at, SnValueRange range, float fallback, float& stored, float& held) {
  memcpy(&stored, at, sizeof stored);
  held = stored != stored ? fallback : range.Hold(stored);
  if (held == stored) return false;
  memcpy(at, &held, sizeof held);
  return true;
}
}  // namespace

SnValueRange PropertyRange(uint32_t propertyId) {
  switch (propertyId) {
    case SnProp_Volume: case SnProp_StateValue: case SnProp_SecondaryFirst: case SnProp_SecondarySecond:
    case 18: case 19: case 20: case 21: case SnProp_GameSend: case SnProp_OutputBus0: case SnProp_SecondGain:
      return kDecibelRange;
    case SnProp_LowPass: case SnProp_HighPass:
      return kFilterValueRange;
    case SnProp_Pitch:
      return kPitchRange;
    default:
      return kAnyFiniteValue;
  }
}

SnValueRange PropertyOffsetRange(uint32_t propertyId) {
  const SnValueRange range = PropertyRange(propertyId);
  const float width = std::min(range.max - range.min, kAnyFiniteValue.max * 0.5f);
  return {-width, std::min(range.max, width)};
}

float HoldPropertyValue(uint32_t propertyId, float value, SnPropertyRangeOf rangeOf) {
  return value != value ? FloatPropertyDefault(propertyId) : rangeOf(propertyId).Hold(value);
}

void HoldBankProperties(SnPropertyBlob4& values, const char* owner, uint32_t id, SnPropertyRangeOf rangeOf) {
  for (uint32_t i = 0; i < values.Count(); ++i) {
    // Only the properties known to be levels or filter values: the 4 bytes of another may be a
    // whole number that reads as a float not a number.
    const uint32_t propertyId = values.IdAt(i);
    if (PropertyRange(propertyId).max == kAnyFiniteValue.max) continue;
    const SnValueRange range = rangeOf(propertyId);
    float stored, held;
    if (HoldStored(values.ValueAt(i), range, FloatPropertyDefault(propertyId), stored, held))
      SOUND_LOG(Error, "%s %u: property %u of %g is outside %g to %g; %g is used", owner, id, propertyId,
                double(stored), double(range.min), double(range.max), double(held));
  }
}

void HoldBankRanges(SnPropertyBlob8& ranges, const char* owner, uint32_t id) {
  for (uint32_t i = 0; i < ranges.Count(); ++i) {
    const uint32_t propertyId = ranges.IdAt(i);
    const SnValueRange range = PropertyOffsetRange(propertyId);
    float stored[2], held[2];
    const bool low = HoldStored(ranges.ValueAt(i), range, 0.0f, stored[0], held[0]);
    const bool high = HoldStored(ranges.ValueAt(i) + sizeof(float), range, 0.0f, stored[1], held[1]);
    if (low || high)
      SOUND_LOG(Error, "%s %u: the random range %g to %g of property %u is outside %g to %g; %g to %g is used",
                owner, id, double(stored[0]), double(stored[1]), propertyId, double(range.min), double(range.max),
                double(held[0]), double(held[1]));
  }
}

}  // namespace SN
