// The curve arithmetic of the sound engine: approximations on the float's bits and polynomials that
// stand in for the power, logarithm and trigonometric functions, so every platform computes the same.
#include "SoundEngine/GameSyncs/Curves.h"

#include <bit>

namespace SN {
namespace SnFastMath {

float Pow10(float e) {
  if (!(e >= -37.0f)) return 0.0f;  // also not a number, which no integer conversion may take
  if (e > 38.0f) e = 38.0f;         // beyond a float's range the bits would wrap
  const int32_t bits = int32_t(27866352.0f * e + 1065353216.0f);
  const float power = std::bit_cast<float>(uint32_t(bits) & 0x7F800000u);
  const float m = std::bit_cast<float>((uint32_t(bits) & 0x007FFFFFu) | 0x3F800000u);
  return power * ((0.32518977f * m + 0.020805772f) * m + 0.65304345f);
}

float Log10(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const int32_t exponent = int32_t((bits >> 23) & 0xFFu) - 127;
  const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
  const float z = (m - 1.0f) / (m + 1.0f);
  const float ln = 2.0f * z * (1.0f + z * z * (1.0f / 3.0f)) + float(exponent) * 0.6931472f;
  return ln * 0.4342945f;
}

float Sin(float x) {
  const float x2 = x * x;
  return x * (0.9999966f + x2 * (-0.16664828f + x2 * (0.008306325f - x2 * 0.00018363654f)));
}
float HalfSin(float x) {
  const float x2 = x * x;
  return x * (0.4999983f + x2 * (-0.08332414f + x2 * (0.0041531627f - x2 * 0.00009181827f)));
}
float HalfOneMinusCos(float x) {
  const float x2 = x * x;
  return 0.00069670216f + x2 * (0.2476748f + x2 * (-0.01961384f + x2 * 0.000484834f));
}
float Cos(float x) {
  const float x2 = x * x;
  return 0.9999933f + x2 * (-0.49991244f + x2 * (0.04148775f - x2 * 0.0012712094f));
}

}  // namespace SnFastMath

float InterpolateShape(uint32_t shape, float t, float a, float b) {
  using namespace SnFastMath;
  constexpr float kHalfPi = 1.57079633f;
  constexpr float kPi = 3.14159265f;
  const float d = b - a;
  switch (shape) {
    case SnCurve_Log3: {
      const float u = 1.0f - t;
      return b - d * u * u * u;
    }
    case SnCurve_Sine: return a + d * Sin(t * kHalfPi);
    case SnCurve_Log1: return a + d * t * (3.0f - t) * 0.5f;
    case SnCurve_InvSCurve:
      return t <= 0.5f ? a + d * HalfSin(kPi * t) : a + d * (1.0f - HalfSin(kPi - kPi * t));
    case SnCurve_Linear: return a + d * t;
    case SnCurve_SCurve: return a + d * HalfOneMinusCos(kPi * t);
    case SnCurve_Exp1: return a + d * t * (1.0f + t) * 0.5f;
    case SnCurve_SineRecip: return b - d * Cos(t * kHalfPi);
    case SnCurve_Exp3: return a + d * t * t * t;
    default: return 0.0f;
  }
}

float ApplyCurveScaling(uint32_t scaling, float y) {
  switch (scaling) {
    case SnCurveScaling_dB:
      if (y <= -1.0f) return -4096.0f;
      if (y >= 1.0f) return 4096.0f;
      return y < 0.0f ? 20.0f * SnFastMath::Log10(1.0f + y) : -20.0f * SnFastMath::Log10(1.0f - y);
    case SnCurveScaling_Log: return SnFastMath::Pow10(y);
    case SnCurveScaling_dBToLin: return SnFastMath::Pow10(y * 0.05f);
    default: return y;
  }
}

float CSnCurveGraph::Evaluate(float x, uint32_t* segment) const {
  if (pointCount == 0) return 0.0f;
  const uint32_t last = pointCount - 1;
  float y = points[last].y;
  uint32_t used = last;
  for (uint32_t i = 0; i < last; ++i) {
    const SnRTPCGraphPoint& p = points[i];
    if (p.x >= x) {
      y = p.y;
      used = i;
      break;
    }
    const SnRTPCGraphPoint& q = points[i + 1];
    if (q.x > x) {
      const float t = (x - p.x) / (q.x - p.x);
      used = i;
      if (p.interpolation == SnCurve_Linear)
        y = p.y + t * (q.y - p.y);
      else if (p.interpolation == SnCurve_Constant)
        y = p.y;
      else
        y = InterpolateShape(p.interpolation, t, p.y, q.y);
      break;
    }
  }
  if (segment) *segment = used;
  return range.Hold(ApplyCurveScaling(scaling, y));
}

bool CSnCurveGraph::HoldPointsTo(SnValueRange driven) {
  range = driven;
  // A scaled curve's points are in the scaling's own units: only its result can be held.
  const bool unscaled = scaling == SnCurveScaling_None || scaling == SnCurveScaling_Unsupported;
  const SnValueRange pointRange = unscaled ? driven : kAnyFiniteValue;
  bool kept = true;
  for (uint32_t i = 0; i < pointCount; ++i) {
    const float held = pointRange.Hold(points[i].y);
    kept = kept && held == points[i].y;
    points[i].y = held;
  }
  return kept;
}

}  // namespace SN
