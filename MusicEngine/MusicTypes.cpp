// Millisecond conversion of music bank values, checked so that no position wraps.
#include "MusicEngine/MusicTypes.h"

#include <cmath>
#include <cstdint>

namespace SN {

bool MusicOffsetToSamples(int32_t ms, uint32_t rate, int32_t& samples) {
  const int64_t exact = int64_t(rate / 1000) * ms;
  if (exact > INT32_MAX || exact < INT32_MIN) return false;
  samples = int32_t(exact);
  return true;
}

int32_t MusicTimeToS32(int64_t t) { return t > INT32_MAX ? INT32_MAX : t < INT32_MIN ? INT32_MIN : int32_t(t); }

int64_t MusicRateMs(uint32_t rate, int64_t ms) {
  int64_t product = 0;
  if (__builtin_mul_overflow(int64_t(rate / 1000), ms, &product)) return ms < 0 ? INT64_MIN : INT64_MAX;
  return product;
}

int32_t MusicSamplesToMs(int64_t samples, uint32_t rate) {
  if (!rate) return 0;
  const double ms = double(samples) * 1000.0 / double(rate);
  const double rounded = ms > 0.0 ? ms + 0.5 : ms - 0.5;
  if (rounded >= 2147483647.0) return INT32_MAX;
  if (rounded <= -2147483648.0) return INT32_MIN;
  return int32_t(rounded);
}

}  // namespace SN
