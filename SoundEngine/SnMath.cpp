// Distance, clamped interpolation, normalisation and angle conversions.
#include "SoundEngine/SnMath.h"

#include <cmath>
#include <numbers>

namespace SN {

float Distance(const float a[3], const float b[3]) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  return float(std::sqrt(sum));
}

float InterpolateClamped(float x0, float y0, float x1, float y1, float x) {
  if (x <= x0) return y0;
  if (x >= x1) return y1;
  return y0 + (x - x0) / (x1 - x0) * (y1 - y0);
}

void Normalize(float vector[3]) {
  const float length = std::sqrt(vector[0] * vector[0] + vector[1] * vector[1] + vector[2] * vector[2]);
  if (!(length > 0.0f)) return;  // zero or not a number
  for (int i = 0; i < 3; ++i) vector[i] /= length;
}

float DegreesToRadians(float degrees) {
  const float reduced = degrees - std::trunc(degrees / 360.0f) * 360.0f;
  return reduced * std::numbers::pi_v<float> / 180.0f;
}

float RadiansToDegrees(float radians) {
  constexpr float kTurn = 2.0f * std::numbers::pi_v<float>;
  const float reduced = radians - std::trunc(radians / kTurn) * kTurn;
  return reduced * 180.0f / std::numbers::pi_v<float>;
}

}  // namespace SN
