// Speaker angles of an output device: the units of the panner's circle; the default layout of a speaker
// configuration and the conversions between degrees and units are the panner's (SpeakerPan.h).
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Spatial/SpeakerPan.h"

namespace SN {

constexpr uint32_t kAngleUnitsPerCircle = 512;
// Front, side or back, rear: one side of the listener.
constexpr uint32_t kDefaultSpeakerAngleCount = 3;

}  // namespace SN
