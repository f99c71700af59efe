// The lower engine's fast decibel-to-linear conversion: the exponent written straight into the bits
// of a float and a quadratic on its mantissa. Any thread.
#pragma once

namespace SN::VoiceParams {

// 10^(dB / 20) to within a few tenths of a percent; 0 when dB x 0.05 is below -37.
float FastDbToLinear(float dB);

}  // namespace SN::VoiceParams
