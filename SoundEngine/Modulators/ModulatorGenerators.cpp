// Oscillator and envelope generation. Both write runs over which their formula does not change, so
// the inner loops stay free of branches.
#include "SoundEngine/Modulators/ModulatorGenerators.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace SN {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kHalfPi = 0.5 * kPi;
// The sine's phase wraps at 2 pi rounded to a float, as its increments were set up.
constexpr double kSinePeriod = double(6.2831855f);
constexpr double kMinIncrement = 1e-8;

// The odd polynomial of sin(x) on [-pi/2, pi/2].
inline float SinePoly(float x) {
  const float x2 = x * x;
  return ((((0.008306325f - 0.00018363654f * x2) * x2) - 0.16664828f) * x2 + 0.9999966f) * x;
}

// The phase one increment on, kept inside [0, period) however large the increment.
inline double Advance(double phase, double increment, double period) {
  phase += increment;
  if (phase >= period) phase = std::fmod(phase, period);
  return phase;
}

// The first point above `phase` where the waveform's formula changes.
inline double NextBoundary(uint32_t waveform, double phase, float pulseWidth, double period) {
  switch (waveform) {
    case SnWaveform_Sine:
      if (phase < kHalfPi) return kHalfPi;
      if (phase < kPi) return kPi;
      if (phase < 3.0 * kHalfPi) return 3.0 * kHalfPi;
      return period;
    case SnWaveform_Triangle: return phase < 0.5 ? 0.5 : period;
    case SnWaveform_Square: return phase < double(pulseWidth) ? double(pulseWidth) : period;
    default: return period;
  }
}

// Writes samples from `phase` (already advanced for the first one) while the phase stays below
// `boundary`; every call writes at least one. Returns the count and leaves `phase` at the last.
// Sample k of the frame has depth start + (k + 1) x step: by index, so no error piles up.
template <typename Shape>
uint32_t Run(double& phase, double increment, double boundary, float startDepth, float depthStep, uint32_t first,
             float* out, uint32_t left, Shape shape) {
  uint32_t written = 0;
  double p = phase;
  for (;;) {
    const float depth = startDepth + float(first + written + 1) * depthStep;
    out[written++] = shape(p, depth);
    phase = p;
    if (written == left) break;
    p += increment;
    if (p >= boundary) break;
  }
  return written;
}

// One sample of the waveform at phase `p` and depth `d`, the smoothing filter included.
inline float Sample(uint32_t waveform, double p, float d, float pulseWidth, SnOscillatorState& state) {
  float x;
  switch (waveform) {
    case SnWaveform_Sine: {
      float s;
      if (p < kHalfPi) s = SinePoly(float(p));
      else if (p < kPi) s = SinePoly(float(kPi - p));
      else if (p < 3.0 * kHalfPi) s = -SinePoly(float(p - kPi));
      else s = -SinePoly(float(kTwoPi - p));
      return (1.0f + s) * 0.5f * d;
    }
    case SnWaveform_Triangle: x = p < 0.5 ? float(2.0 * p) : float(2.0 * (1.0 - p)); break;
    case SnWaveform_Square: x = p < double(pulseWidth) ? 1.0f : 0.0f; break;
    case SnWaveform_RisingRamp: x = float(p); break;
    case SnWaveform_FallingRamp: x = float(1.0 - p); break;
    default: return 0.0f;
  }
  state.previous = state.a * (x * d) - state.b * state.previous;
  return state.previous;
}

void WriteOscillator(SnOscillatorState& state, uint32_t waveform, float pulseWidth, float depth, float depthStep,
                     float* out, uint32_t n) {
  const double period = OscillatorPeriod(waveform);
  const double increment = state.increment;
  const float a = state.a, b = state.b;
  double phase = state.phase;
  float y = state.previous;
  uint32_t i = 0;
  while (i < n) {
    double p = Advance(phase, increment, period);
    const double boundary = NextBoundary(waveform, p, pulseWidth, period);
    phase = p;
    float* at = out + i;
    const uint32_t left = n - i;
    switch (waveform) {
      case SnWaveform_Sine:
        if (p < kHalfPi)
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                   [](double q, float d) { return (1.0f + SinePoly(float(q))) * 0.5f * d; });
        else if (p < kPi)
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                   [](double q, float d) { return (1.0f + SinePoly(float(kPi - q))) * 0.5f * d; });
        else if (p < 3.0 * kHalfPi)
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                   [](double q, float d) { return (1.0f - SinePoly(float(q - kPi))) * 0.5f * d; });
        else
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                   [](double q, float d) { return (1.0f - SinePoly(float(kTwoPi - q))) * 0.5f * d; });
        y = out[i - 1];
        break;
      case SnWaveform_Triangle:
        if (p < 0.5)
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left, [&](double q, float d) {
            return y = a * (float(2.0 * q) * d) - b * y;
          });
        else
          i += Run(phase, increment, boundary, depth, depthStep, i, at, left, [&](double q, float d) {
            return y = a * (float(2.0 * (1.0 - q)) * d) - b * y;
          });
        break;
      case SnWaveform_Square: {
        const float x = p < double(pulseWidth) ? 1.0f : 0.0f;
        i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                 [&](double, float d) { return y = a * (x * d) - b * y; });
        break;
      }
      case SnWaveform_RisingRamp:
        i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                 [&](double q, float d) { return y = a * (float(q) * d) - b * y; });
        break;
      case SnWaveform_FallingRamp:
        i += Run(phase, increment, boundary, depth, depthStep, i, at, left,
                 [&](double q, float d) { return y = a * (float(1.0 - q) * d) - b * y; });
        break;
      default:
        // An unknown waveform is silent rather than leaving whatever the slice held before.
        std::fill(at, out + n, 0.0f);
        y = 0.0f;
        i = n;
        phase = Advance(phase, increment * double(n - 1), period);
        break;
    }
  }
  state.phase = phase;
  state.previous = y;
}

// Rounds a sample count to the nearest multiple of four, ties upwards.
inline int64_t Round4(int64_t samples) { return (samples + 2) & ~int64_t(3); }

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::max();

// The envelope's segments on the instance's time axis.
struct EnvelopeShape {
  int64_t start;        // o: before it the start level holds
  int64_t attackStart;  // o less the restart's jump
  int64_t half;         // h
  int64_t decay;        // D
  int64_t release;      // R
  int64_t releaseAt;    // E, or kNoTime
  float curve, sustain, startLevel;

  EnvelopeShape(const SnEnvelopeParams& p, uint32_t releaseStart) {
    start = int64_t(p.startOffset) & ~int64_t(3);
    half = Round4(int64_t(p.attackSamples) / 2);
    decay = Round4(int64_t(p.decaySamples));
    release = Round4(int64_t(p.releaseSamples));
    releaseAt = releaseStart == kModulatorNever ? kNoTime : Round4(int64_t(releaseStart)) + start;
    curve = std::clamp(p.curve, 0.0f, 1.0f);
    sustain = std::clamp(p.sustain, 0.0f, 1.0f);
    startLevel = std::clamp(p.levelScale, 0.0f, 1.0f);
    attackStart = start - RestartJump();
  }

  // Where on the attack the start level lies: a restart carries on from the level it had.
  int64_t RestartJump() const {
    if (!(startLevel > 0.0f)) return 0;
    const double h = double(half);
    if (curve > startLevel) return int64_t(double(startLevel) / double(curve) * h);
    // At or above a curve of 1 the first half already ends at full level.
    if (curve >= 1.0f) return 2 * half;
    return half + int64_t(double(startLevel - curve) / double(1.0f - curve) * h);
  }

  struct Piece {
    float level;  // at the piece's first sample
    float slope;  // per sample
    int64_t end;  // first sample after the piece
  };

  // The straight piece that holds sample `t`, release aside.
  Piece Held(int64_t t) const {
    if (t < start) return {startLevel, 0.0f, start};
    const int64_t u = t - attackStart;
    if (u < half) {
      const float k = curve / float(half);
      return {float(u) * k, k, attackStart + half};
    }
    if (u < 2 * half) {
      const float k = (1.0f - curve) / float(half);
      return {curve + float(u - half) * k, k, attackStart + 2 * half};
    }
    if (u < 2 * half + decay) {
      const float k = (sustain - 1.0f) / float(decay);
      return {1.0f + float(u - 2 * half) * k, k, attackStart + 2 * half + decay};
    }
    return {sustain, 0.0f, kNoTime};
  }

  Piece At(int64_t t) const {
    if (t >= releaseAt) {
      if (t - releaseAt >= release) return {0.0f, 0.0f, kNoTime};
      // Released before the decay ended: the fall starts from the level reached.
      const float from = Held(releaseAt).level;
      const float k = -from / float(release);
      return {from + float(t - releaseAt) * k, k, releaseAt + release};
    }
    Piece piece = Held(t);
    piece.end = std::min(piece.end, releaseAt);
    return piece;
  }

  bool Ended(int64_t t) const { return releaseAt != kNoTime && t >= releaseAt + release; }
};

}  // namespace

double OscillatorPeriod(uint32_t waveform) { return waveform == SnWaveform_Sine ? kSinePeriod : 1.0; }

void SetupOscillator(SnOscillatorState& state, uint32_t waveform, float frequency, float smoothing,
                     const float* initialPhaseDegrees) {
  constexpr double rate = kOscillatorSetupRate;
  // Above half the rate the phase would step past whole periods; below 0 the smoothing would raise
  // a negative base to a fractional power.
  double f = std::isnan(frequency) ? 0.0 : std::clamp(double(frequency), 0.0, rate / 2.0);
  const double s = std::isnan(smoothing) ? 0.0 : std::clamp(double(smoothing), 0.0, 1.0);
  if (s == 0.0) {
    state.a = 1.0f;
    state.b = 0.0f;
  } else {
    const double fc = rate / 2.0 * std::pow(2.0 * f / rate, s);
    const double c = 2.0 - std::cos(kTwoPi * fc / rate);
    const double k = c - std::sqrt(c * c - 1.0);
    state.b = float(-k);
    state.a = float(1.0 - k);
  }
  const bool sine = waveform == SnWaveform_Sine;
  state.increment = sine ? f / rate * kTwoPi : f / rate;
  const double period = OscillatorPeriod(waveform);
  if (initialPhaseDegrees) {
    const double degrees = std::isfinite(*initialPhaseDegrees) ? double(*initialPhaseDegrees) : 0.0;
    double phase = period * degrees / 360.0;
    if (waveform == SnWaveform_Triangle) phase += 0.25;
    if (waveform == SnWaveform_RisingRamp) phase += 0.5;
    phase = std::fmod(phase, period);
    if (phase < 0.0) phase += period;
    state.phase = phase;
  } else if ((state.waveform == SnWaveform_Sine) != sine) {
    state.phase = sine ? state.phase * kTwoPi : state.phase / kTwoPi;
    state.phase = std::fmod(state.phase, period);
  }
  state.waveform = waveform;
}

void GenerateOscillator(SnOscillatorState& state, const SnOscillatorParams& params, uint64_t elapsed,
                        uint32_t frameSamples, float* buffer, SnModulatorOutput& output) {
  const uint32_t n = frameSamples;
  output.samples = buffer;
  if (n == 0) {
    output.value = state.previous;
    return;
  }
  if (state.increment < kMinIncrement) state.increment = kMinIncrement;
  // The fade-in scales the depth by the time it has run, from the frame's start to its end.
  float startDepth = params.depth, endDepth = params.depth;
  if (const uint64_t fade = params.fadeInSamples) {
    const uint64_t before = elapsed > n ? elapsed - n : 0;
    startDepth = float(double(params.depth) * double(std::min(before, fade)) / double(fade));
    endDepth = float(double(params.depth) * double(std::min(elapsed, fade)) / double(fade));
  }
  const float step = (endDepth - startDepth) / float(n);
  const uint32_t waveform = state.waveform;
  if (buffer) {
    WriteOscillator(state, waveform, params.pulseWidth, startDepth, step, buffer, n);
    output.value = buffer[n - 1];
  } else {
    const double period = OscillatorPeriod(waveform);
    state.phase = std::fmod(state.phase + double(n - 1) * state.increment, period);
    state.phase = Advance(state.phase, state.increment, period);
    output.value = Sample(waveform, state.phase, endDepth, params.pulseWidth, state);
    if (waveform == SnWaveform_Sine || waveform > SnWaveform_FallingRamp) state.previous = output.value;
  }
  output.peak = std::max(output.peak, output.value);
}

void GenerateEnvelope(const SnEnvelopeParams& params, uint32_t releaseStart, uint64_t elapsed, uint32_t frameSamples,
                      float* buffer, SnModulatorOutput& output) {
  const EnvelopeShape shape(params, releaseStart);
  const uint32_t n = frameSamples;
  output.samples = buffer;
  output.peak = std::max(output.peak, shape.startLevel);
  if (n == 0) return;
  const int64_t first = int64_t(std::min<uint64_t>(elapsed, uint64_t(kNoTime) / 2)) - int64_t(n);
  const int64_t last = first + n - 1;
  if (buffer) {
    int64_t t = first;
    while (t <= last) {
      const EnvelopeShape::Piece piece = shape.At(t);
      const int64_t count = std::min<int64_t>(piece.end, last + 1) - t;
      float* out = buffer + (t - first);
      for (int64_t j = 0; j < count; ++j) out[j] = piece.level + float(j) * piece.slope;
      output.peak = std::max({output.peak, piece.level, out[count - 1]});
      t += count;
    }
  } else {
    // A straight piece peaks at one of its ends: its start in this frame, or the frame's end.
    for (int64_t t = first; t <= last;) {
      const EnvelopeShape::Piece piece = shape.At(t);
      const int64_t end = std::min<int64_t>(piece.end, last + 1);
      output.peak = std::max({output.peak, piece.level, piece.level + float(end - 1 - t) * piece.slope});
      t = end;
    }
  }
  const EnvelopeShape::Piece at = shape.At(last);
  output.value = std::clamp(at.level, 0.0f, 1.0f);
  if (shape.Ended(last)) {
    output.value = 0.0f;
    output.state = int32_t(SnModulatorState_Finished);
  }
}

}  // namespace SN
