// The action base: property storage with ranges, randomised values and the common bank payload.
#include "SoundEngine/Actions/EventAction.h"

#include <cmath>

#include "Base/MathUtil.h"
#include "SoundEngine/Banks/BankFormat.h"

namespace SN {

float RandomUnit() { return float(Base::Rand15()) / float(Base::kRand15Max); }

float RandomisedValue(float value, float min, float max) { return value + min + RandomUnit() * (max - min); }

namespace {

bool DefaultValue(uint8_t id, int32_t value) { return value == 0 && id != SnActionProp_Probability; }

}  // namespace

void CSnEventAction::SetPropertyValue(uint8_t id, int32_t value, int32_t min, int32_t max) {
  if (!DefaultValue(id, value) || m_properties.Has(id)) m_properties.Set(id, value);
  if (min != 0 || max != 0 || m_ranges.Has(id)) {
    const int32_t range[2] = {min, max};
    uint64_t packed;
    memcpy(&packed, range, sizeof packed);
    m_ranges.Set(id, packed);
  }
}

void CSnEventAction::SetPropertyValueF32(uint8_t id, float value, float min, float max) {
  const float fallback = id == SnActionProp_Probability ? 100.0f : 0.0f;
  if (value != fallback || m_properties.Has(id)) m_properties.Set(id, value);
  if (min != 0.0f || max != 0.0f || m_ranges.Has(id)) m_ranges.Set(id, SnPropertyRange{min, max});
}

int32_t CSnEventAction::RandomisedInt(uint8_t id) const {
  const int32_t value = m_properties.GetOr(id, int32_t(0));
  int32_t range[2] = {0, 0};
  if (!m_ranges.Get(id, range) || (range[0] == 0 && range[1] == 0)) return value;
  const double drawn = double(value) + range[0] + double(RandomUnit()) * (double(range[1]) - range[0]);
  // Adding a half and truncating rounds the positive values the properties hold.
  return int32_t(drawn + 0.5);
}

uint32_t CSnEventAction::DelaySamples() {
  const int32_t delay = RandomisedInt(SnActionProp_Delay);
  return delay > 0 ? uint32_t(delay) : 0u;
}

SNRESULT CSnEventAction::ReadCommon(SnBankCursor& cursor) {
  uint32_t id = 0, target = 0;
  uint16_t type = 0;
  uint8_t isBus = 0;
  if (!cursor.Take(id) || !cursor.Take(type) || !cursor.Take(target) || !cursor.Take(isBus)) return SN_Failure;
  SetTarget(target, isBus != 0);
  const uint8_t* at = cursor.Position();
  if (m_properties.ReadFromBank(at, cursor.End()) != SN_Success) return SN_Failure;
  if (m_ranges.ReadFromBank(at, cursor.End()) != SN_Success) return SN_Failure;
  cursor.MoveTo(at);
  return SN_Success;
}

void CSnEventAction::ConvertDelayToSamples() {
  constexpr int64_t kPerMs = kActionDelayRate / 1000;
  auto toSamples = [](int64_t ms) {
    const int64_t samples = ms * kPerMs;
    return int32_t(samples > INT32_MAX ? INT32_MAX : samples < INT32_MIN ? INT32_MIN : samples);
  };
  int32_t delay;
  if (m_properties.Get(SnActionProp_Delay, delay)) m_properties.Set(SnActionProp_Delay, toSamples(delay));
  int32_t range[2];
  if (m_ranges.Get(SnActionProp_Delay, range)) {
    const int32_t converted[2] = {toSamples(range[0]), toSamples(range[1])};
    uint64_t packed;
    memcpy(&packed, converted, sizeof packed);
    m_ranges.Set(SnActionProp_Delay, packed);
  }
}

}  // namespace SN
