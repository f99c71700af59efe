// Millisecond conversion of music bank values, checked so that no position wraps.
#include "MusicEngine/MusicTypes.h"

#include <cmath>
#include <cstdint>

namespace SN {

bool MusicMsToSamples(double ms, uint32_t rate, int32_t& samples) {
  const double exact = double(rate) * ms * 0.001;
  if (!std::isfinite(exact)) return false;
  const double rounded = exact > 0.0 ? exact + 0.5 : exact - 0.5;
  // Truncation toward zero keeps the half-away-from-zero rounding.
  if (rounded >= 2147483648.0 || rounded <= -2147483649.0) return false;
  samples = int32_t(rounded);
  return true;
}

bool MusicOffsetToSamples(int32_t ms, uint32_t rate, int32_t& samples) {
  const int64_t exact = int64_t(rate / 1000) * ms;
  if (exact > INT32_MAX || exact < INT32_MIN) return false;
  samples = int32_t(exact);
  return true;
}

}  // namespace SN
