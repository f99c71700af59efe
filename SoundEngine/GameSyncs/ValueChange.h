// How a value change is asked for: over what time and curve, and whether it replaces the value or
// adds to it.
#pragma once

#include <cstdint>

#include "SoundEngine/GameSyncs/Curves.h"

namespace SN {

enum SnValueMeaning : uint32_t {
  SnValueMeaning_Absolute = 1,
  SnValueMeaning_Offset = 2,
};

struct TransParamsBase {
  int32_t durationMs = 0;
  SnCurveInterpolation shape = SnCurve_Linear;
  uint8_t bypassRamping = 0;
};

}  // namespace SN
