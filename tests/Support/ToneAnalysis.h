// What the tests that listen for tones share: the power of one frequency over a stretch of samples
// (Goertzel's recurrence), and the sinusoid of a known frequency that fits a stretch best (least
// squares), to carry a tone past the stretch and find the sample where it stops.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace OrvTest {

constexpr double kPi = 3.14159265358979323846;

// The power of `hz` over [first, last) of a plane at `rate`, per sample. A stretch holding whole
// cycles of two tones gives each tone's power with none of the other's.
inline double PowerAt(const std::vector<double>& plane, size_t first, size_t last, double hz, double rate = 48000.0) {
  const double k = 2.0 * std::cos(2.0 * kPi * hz / rate);
  double s1 = 0.0, s2 = 0.0;
  for (size_t t = first; t < last && t < plane.size(); ++t) {
    const double s0 = plane[t] + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - k * s1 * s2) / double(last - first);
}

// a sin(wt) + b cos(wt), t counted in samples of the plane.
struct SineFit {
  double w = 0.0;
  double a = 0.0;
  double b = 0.0;
  double At(size_t t) const { return a * std::sin(w * double(t)) + b * std::cos(w * double(t)); }
  double Amplitude() const { return std::hypot(a, b); }
  // The root mean square of what the sinusoid leaves of [first, last).
  double Residual(const std::vector<double>& plane, size_t first, size_t last) const {
    double sum = 0.0;
    for (size_t t = first; t < last; ++t) sum += (plane[t] - At(t)) * (plane[t] - At(t));
    return std::sqrt(sum / double(last - first));
  }
};

// The sinusoid of `hz` closest to [first, last) of the plane (which must hold it).
inline SineFit FitSine(const std::vector<double>& plane, size_t first, size_t last, double hz, double rate = 48000.0) {
  SineFit fit;
  fit.w = 2.0 * kPi * hz / rate;
  double ss = 0.0, cc = 0.0, sc = 0.0, xs = 0.0, xc = 0.0;
  for (size_t t = first; t < last; ++t) {
    const double s = std::sin(fit.w * double(t)), c = std::cos(fit.w * double(t));
    ss += s * s;
    cc += c * c;
    sc += s * c;
    xs += plane[t] * s;
    xc += plane[t] * c;
  }
  const double det = ss * cc - sc * sc;
  if (det == 0.0) return fit;
  fit.a = (xs * cc - xc * sc) / det;
  fit.b = (xc * ss - xs * sc) / det;
  return fit;
}

// The sample in [first, last) where `before` gives way to `after`: the split that leaves the least
// of the plane unexplained, `before` up to it and `after` from it on.
inline size_t FindCut(const std::vector<double>& plane, size_t first, size_t last, const SineFit& before,
                      const SineFit& after) {
  double rest = 0.0;  // what `after` leaves of [cut, last)
  for (size_t t = first; t < last; ++t) rest += (plane[t] - after.At(t)) * (plane[t] - after.At(t));
  double head = 0.0, best = rest;
  size_t cut = first;
  for (size_t t = first; t < last; ++t) {
    head += (plane[t] - before.At(t)) * (plane[t] - before.At(t));
    rest -= (plane[t] - after.At(t)) * (plane[t] - after.At(t));
    if (head + rest < best) {
      best = head + rest;
      cut = t + 1;
    }
  }
  return cut;
}

}  // namespace OrvTest
