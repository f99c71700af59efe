// Fast decibel-to-linear conversion.
#include "SoundEngine/Lower/FastDecibels.h"

#include <cstdint>
#include <cstring>

namespace SN::VoiceParams {

float FastDbToLinear(float dB) {
  const float x = dB * 0.05f;
  if (x < -37.0f) return 0.0f;
  // log2(10) x 2^23 and 127 x 2^23: the exponent and mantissa bits of 10^x, before the correction.
  const int64_t bits = int64_t(double(x) * 27866352.0 + 1065353216.0);
  const uint32_t word = uint32_t(bits);
  const uint32_t exponentBits = word & ~0x7FFFFFu;
  const uint32_t mantissaBits = (word & 0x7FFFFFu) + 0x3F800000u;
  float exponent, mantissa;
  std::memcpy(&exponent, &exponentBits, sizeof exponent);
  std::memcpy(&mantissa, &mantissaBits, sizeof mantissa);
  return ((mantissa * 0.32518977f + 0.020805772f) * mantissa + 0.65304345f) * exponent;
}

}  // namespace SN::VoiceParams
