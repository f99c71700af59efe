// Curve shapes, the fast power-of-ten and logarithm approximations, and the point graphs that map a
// game parameter's value to a property value. Every value change over time goes through these.
#pragma once

#include <cstdint>

namespace SN {

enum SnCurveInterpolation : uint32_t {
  SnCurve_Log3 = 0,
  SnCurve_Sine = 1,
  SnCurve_Log1 = 2,
  SnCurve_InvSCurve = 3,
  SnCurve_Linear = 4,
  SnCurve_SCurve = 5,
  SnCurve_Exp1 = 6,
  SnCurve_SineRecip = 7,
  SnCurve_Exp3 = 8,
  SnCurve_Constant = 9,
};

enum SnCurveScaling : uint32_t {
  SnCurveScaling_None = 0,
  SnCurveScaling_Unsupported = 1,
  SnCurveScaling_dB = 2,
  SnCurveScaling_Log = 3,
  SnCurveScaling_dBToLin = 4,
};

namespace SnFastMath {

// 10^e from the float's exponent and a quadratic on its mantissa, within 0.23 percent; 0 below e = -37
// and for not a number, 10^38 at most.
float Pow10(float e);
// log10 and 20 log10 from the float's exponent and a short series on its mantissa; 0 gives about -764 dB.
float Log10(float x);
inline float LinearToDb(float linear) { return 20.0f * Log10(linear); }
inline float DbToLinear(float dB) { return Pow10(dB * 0.05f); }

// Polynomials of the curve shapes, valid over [0, pi].
float Sin(float x);
float HalfSin(float x);
float HalfOneMinusCos(float x);
float Cos(float x);

}  // namespace SnFastMath

// The value of shape `shape` at t in [0, 1] from a to b; 0 for a shape outside 0-8.
float InterpolateShape(uint32_t shape, float t, float a, float b);

// A falling move mirrors its shape so that a fade out is the reverse of the fade in.
inline uint32_t MirroredShape(uint32_t shape) {
  return shape == SnCurve_InvSCurve || shape == SnCurve_SCurve || shape > SnCurve_Exp3 ? shape : 8 - shape;
}

// The values a quantity may take where it enters the engine (a bank, a curve, an API call) and
// again where it is used: whatever comes from outside is held to it.
struct SnValueRange {
  float min;
  float max;

  bool Holds(float value) const { return value >= min && value <= max; }
  // The value held to the range; a NaN is 0 held to it.
  float Hold(float value) const {
    if (value != value) value = 0.0f;
    return value < min ? min : (value > max ? max : value);
  }
};

// Any finite value: what a curve gives when nothing narrower is known of what it drives.
inline constexpr SnValueRange kAnyFiniteValue{-3.4028235e38f, 3.4028235e38f};
// A level in decibels (a volume, a curve on one, a gain effect's level). Below the curve rules'
// silence of -4096 dB nothing is heard; above +24 dB (about 16 times) a voice at full scale is
// clipped however it is mixed, and levels of 10^37 would overflow the mix into infinities.
inline constexpr SnValueRange kDecibelRange{-4096.0f, 24.0f};
// A pitch in cents as a node, a curve or a run-time value gives it: two octaves either way, as far as
// a voice's summed pitch may go and still be heard as the sound it is.
inline constexpr SnValueRange kPitchRange{-2400.0f, 2400.0f};
// A play's priority, highest 100.
inline constexpr SnValueRange kPriorityRange{0.0f, 100.0f};
// A linear volume the game sets: silence to +24 dB, 10^(24/20).
inline constexpr SnValueRange kLinearVolumeRange{0.0f, 15.848932f};

struct SnRTPCGraphPoint {
  float x;
  float y;
  uint32_t interpolation;
};

// Points sorted by x, as banks store them. The graph does not own its points.
struct CSnCurveGraph {
  SnRTPCGraphPoint* points = nullptr;
  uint32_t pointCount = 0;
  uint32_t scaling = SnCurveScaling_None;
  // What the driven quantity may take: every value the graph gives is held to it.
  SnValueRange range = kAnyFiniteValue;

  // The value at x after scaling, held to the range; `segment`, when given, receives the index of
  // the segment used.
  float Evaluate(float x, uint32_t* segment = nullptr) const;
  // Takes `range` for what the curve drives. Points of an unscaled curve outside it are held to it,
  // and points that are not finite become 0 whatever the scaling: false when any point was moved.
  bool HoldPointsTo(SnValueRange range);
};

float ApplyCurveScaling(uint32_t scaling, float y);

}  // namespace SN
