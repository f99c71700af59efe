// Speaker angles of an output device: the default layout of a speaker configuration and the
// conversions between degrees and the panner's units (512ths of a full circle). Any thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/MixBuffer.h"

namespace SN {

constexpr uint32_t kAngleUnitsPerCircle = 512;
// Front, side or back, rear: one side of the listener.
constexpr uint32_t kDefaultSpeakerAngleCount = 3;

class CSnSpeakerPan {
 public:
  // Three angles in degrees ascending from the front and the height angle.
  static void DefaultSpeakerAngles(SnChannelConfig config, float* degrees, float& heightDegrees);
  // 1; `SN_InvalidParameter` when an angle is NaN; 2 when an angle is half a circle or more, the first is a quarter or more, or the angles
  // do not strictly increase. `minSpacing` is the smallest gap between neighbouring speakers.
  static SNRESULT DegreesToAngles(const float* degrees, uint32_t count, uint32_t* units, uint32_t& minSpacing);
  static void AnglesToDegrees(const uint32_t* units, uint32_t count, float* degrees);
};

}  // namespace SN
