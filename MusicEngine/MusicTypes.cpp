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

}  // namespace SN
