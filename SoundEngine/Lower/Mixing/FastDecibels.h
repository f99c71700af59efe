// The lower engine's fast decibel-to-linear conversion: the exponent written straight into the bits
// of a float and a quadratic on its mantissa. Any thread.
#pragma once

namespace SN::VoiceParams {

// 10^(dB / 20) to within 0.23 percent (0.02 dB); 0 when dB x 0.05 is below -37 or not a number, and
// no more than about 10^38 however loud.
float FastDbToLinear(float dB);

}  // namespace SN::VoiceParams
