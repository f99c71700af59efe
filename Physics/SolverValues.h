// What the solver can take from scripts and level files: finite values small enough that the products
// it forms from them (masses from sizes, squared speeds, impulses over masses) stay finite in float.
#pragma once

#include <cmath>
#include <initializer_list>

#include "Base/Vector.h"

namespace Physics {

// 1e18 squared is 1e36, still under the float limit of 3.4e38; a value of 1e38 is finite yet its
// square is not, and one infinite product turns a body's pose into NaN.
inline constexpr float kLargestSolverValue = 1e18f;

enum class ValueFit { Fit, Unfit, TooLarge };

// Unfit unless `acceptable` (the caller's own test: finite, above 0, ...); then TooLarge when any of
// `values` is beyond kLargestSolverValue in magnitude.
inline ValueFit FitOf(bool acceptable, std::initializer_list<float> values) {
  if (!acceptable) return ValueFit::Unfit;
  for (float v : values)
    if (!(std::fabs(v) <= kLargestSolverValue)) return ValueFit::TooLarge;
  return ValueFit::Fit;
}

inline bool IsFinite(const Base::Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

inline ValueFit FitOf(const Base::Vec3& v) { return FitOf(IsFinite(v), {v.x, v.y, v.z}); }
inline ValueFit FitOf(float v) { return FitOf(std::isfinite(v), {v}); }

}  // namespace Physics
