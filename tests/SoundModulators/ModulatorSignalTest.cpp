// Oscillator and envelope signals, frame by frame, against small double-precision models written
// from the formulas: waveforms, smoothing, fade-in, pulse width, the envelope's segments, releases,
// restarts, and the inputs that once hung the audio thread or left stale or NaN samples.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Modulators/ModulatorGenerators.h"

namespace {

using namespace SN;

constexpr double kRate = 48000.0;
constexpr uint32_t kFrame = 1024;

// The oscillator as the formulas give it, in double precision, one sample at a time.
struct OscillatorModel {
  uint32_t waveform;
  double frequency, depth, smoothing, pulseWidth, fadeIn;
  double phase = 0.0, y = 0.0, a = 1.0, b = 0.0;
  uint64_t t = 0;

  OscillatorModel(uint32_t w, double f, double d, double s, double pw, double degrees, double fade = 0.0)
      : waveform(w), frequency(f), depth(d), smoothing(s), pulseWidth(pw), fadeIn(fade) {
    const double period = w == SnWaveform_Sine ? 2.0 * M_PI : 1.0;
    phase = period * degrees / 360.0 + (w == SnWaveform_Triangle ? 0.25 : w == SnWaveform_RisingRamp ? 0.5 : 0.0);
    phase = std::fmod(phase, period);
    if (phase < 0.0) phase += period;
    if (s > 0.0) {
      const double fc = kRate / 2.0 * std::pow(2.0 * f / kRate, s);
      const double c = 2.0 - std::cos(2.0 * M_PI * fc / kRate);
      const double k = c - std::sqrt(c * c - 1.0);
      a = 1.0 - k;
      b = -k;
    }
  }
  double Next() {
    ++t;
    const double d = fadeIn > 0.0 ? depth * std::min(1.0, double(t) / fadeIn) : depth;
    if (waveform == SnWaveform_Sine) {
      phase += 2.0 * M_PI * frequency / kRate;
      if (phase >= 2.0 * M_PI) phase -= 2.0 * M_PI;
      return (1.0 + std::sin(phase)) / 2.0 * d;
    }
    phase += frequency / kRate;
    if (phase >= 1.0) phase -= 1.0;
    double x = 0.0;
    switch (waveform) {
      case SnWaveform_Triangle: x = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase); break;
      case SnWaveform_Square: x = phase < pulseWidth ? 1.0 : 0.0; break;
      case SnWaveform_RisingRamp: x = phase; break;
      default: x = 1.0 - phase; break;
    }
    y = a * x * d - b * y;
    return y;
  }
};

struct Oscillator {
  SnOscillatorState state;
  SnOscillatorParams params;
  uint64_t elapsed = 0;

  Oscillator(uint32_t waveform, float frequency, float depth, float smoothing = 0.0f, float pulseWidth = 0.0f,
             float degrees = 0.0f, uint32_t fadeIn = 0) {
    params.waveform = waveform;
    params.frequency = frequency;
    params.depth = depth;
    params.smoothing = smoothing;
    params.pulseWidth = pulseWidth;
    params.fadeInSamples = fadeIn;
    SetupOscillator(state, waveform, frequency, smoothing, &degrees);
  }
  // A frame into `out` (resized); the record's value.
  float Frame(std::vector<float>& out, uint32_t n = kFrame) {
    out.assign(n, 7.0f);  // not what any waveform writes
    elapsed += n;
    SnModulatorOutput output;
    GenerateOscillator(state, params, elapsed, n, out.data(), output);
    return output.value;
  }
  float ValueOnly(uint32_t n = kFrame) {
    elapsed += n;
    SnModulatorOutput output;
    GenerateOscillator(state, params, elapsed, n, nullptr, output);
    return output.value;
  }
};

// Largest difference over `frames` frames between the oscillator and its model.
double Deviation(Oscillator& oscillator, OscillatorModel& model, int frames) {
  double worst = 0.0;
  std::vector<float> out;
  for (int f = 0; f < frames; ++f) {
    const float value = oscillator.Frame(out);
    for (float sample : out) worst = std::max(worst, std::abs(double(sample) - model.Next()));
    EXPECT_EQ(value, out.back());
  }
  return worst;
}

TEST(ModulatorOscillator, TwoHertzTriangleOfHalfDepthFollowsTheModel) {
  Oscillator triangle(SnWaveform_Triangle, 2.0f, 0.5f);
  OscillatorModel model(SnWaveform_Triangle, 2.0, 0.5, 0.0, 0.0, 0.0);
  // 47 frames: past a whole second, through both halves of four cycles.
  EXPECT_LT(Deviation(triangle, model, 47), 1e-5);
}

TEST(ModulatorOscillator, SineOfFullDepthStartsAtAHalfAndPeaksAtAQuarterPeriod) {
  // 46.875 Hz: a quarter period is exactly 256 samples.
  Oscillator sine(SnWaveform_Sine, 46.875f, 1.0f);
  OscillatorModel model(SnWaveform_Sine, 46.875, 1.0, 0.0, 0.0, 0.0);
  std::vector<float> out;
  sine.Frame(out);
  std::vector<double> expected(kFrame);
  for (double& e : expected) e = model.Next();
  EXPECT_NEAR(out[0], 0.5, 0.01);
  EXPECT_NEAR(out[255], 1.0, 1e-5);
  EXPECT_LT(out[0], out[100]);
  for (uint32_t i = 0; i < kFrame; ++i) ASSERT_NEAR(out[i], expected[i], 2e-5) << i;
  OscillatorModel more(SnWaveform_Sine, 46.875, 1.0, 0.0, 0.0, 0.0);
  for (uint32_t i = 0; i < kFrame; ++i) more.Next();
  EXPECT_LT(Deviation(sine, more, 30), 2e-5);
}

TEST(ModulatorOscillator, SquareWithAQuarterPulseIsFullDepthForTheFirstQuarterOfEachCycle) {
  // 93.75 Hz: 512 samples a cycle.
  Oscillator square(SnWaveform_Square, 93.75f, 0.8f, 0.0f, 0.25f);
  std::vector<float> out;
  for (int f = 0; f < 4; ++f) {
    square.Frame(out);
    for (uint32_t i = 0; i < kFrame; ++i) {
      // Sample i of the frame has advanced i + 1 increments of 1/512.
      const uint32_t step = (f * kFrame + i + 1) % 512;
      ASSERT_FLOAT_EQ(out[i], step < 128 ? 0.8f : 0.0f) << f << " " << i;
    }
  }
}

TEST(ModulatorOscillator, SmoothedRampsAndInitialPhaseFollowTheModel) {
  Oscillator rising(SnWaveform_RisingRamp, 5.0f, 1.0f, 0.3f, 0.0f, 90.0f);
  OscillatorModel risingModel(SnWaveform_RisingRamp, 5.0, 1.0, 0.3, 0.0, 90.0);
  EXPECT_LT(Deviation(rising, risingModel, 20), 1e-4);
  Oscillator falling(SnWaveform_FallingRamp, 300.0f, 0.25f, 0.3f, 0.0f, -45.0f);
  OscillatorModel fallingModel(SnWaveform_FallingRamp, 300.0, 0.25, 0.3, 0.0, -45.0);
  EXPECT_LT(Deviation(falling, fallingModel, 20), 1e-4);
}

TEST(ModulatorOscillator, FadeInRaisesTheDepthLinearlyOverItsSamples) {
  // Three frames: the depth moves linearly across a frame, so a fade of whole frames is linear per sample.
  Oscillator faded(SnWaveform_Triangle, 3.0f, 1.0f, 0.0f, 0.0f, 0.0f, 3 * kFrame);
  OscillatorModel model(SnWaveform_Triangle, 3.0, 1.0, 0.0, 0.0, 0.0, 3.0 * kFrame);
  EXPECT_LT(Deviation(faded, model, 8), 1e-5);
}

TEST(ModulatorOscillator, ValueWithoutABufferIsTheLastSampleOfTheSameFrame) {
  for (uint32_t waveform = 0; waveform < 5; ++waveform) {
    Oscillator written(waveform, 7.0f, 0.9f, 0.0f, 0.4f, 30.0f);
    Oscillator valued(waveform, 7.0f, 0.9f, 0.0f, 0.4f, 30.0f);
    std::vector<float> out;
    for (int f = 0; f < 10; ++f) {
      const float last = written.Frame(out, 512);
      EXPECT_NEAR(valued.ValueOnly(512), last, 1e-5) << waveform << " " << f;
    }
  }
}

TEST(ModulatorOscillator, AFrequencyAboveHalfTheRateEndsEveryFrame) {
  // Unlimited, 30 kHz stepped more than a period a sample and a frame never ended.
  for (uint32_t waveform = 0; waveform < 5; ++waveform) {
    Oscillator fast(waveform, 30000.0f, 1.0f);
    EXPECT_DOUBLE_EQ(fast.state.increment, waveform == SnWaveform_Sine ? M_PI : 0.5);
    std::vector<float> out;
    fast.Frame(out);
    for (float sample : out) ASSERT_TRUE(sample >= 0.0f && sample <= 1.0f) << waveform;
    EXPECT_LT(fast.state.phase, OscillatorPeriod(waveform));
  }
}

TEST(ModulatorOscillator, ANegativeFrequencyWithSmoothingGivesNumbersNotNaN) {
  Oscillator negative(SnWaveform_Triangle, -10.0f, 1.0f, 0.3f);
  EXPECT_FALSE(std::isnan(negative.state.a));
  std::vector<float> out;
  negative.Frame(out);
  for (float sample : out) ASSERT_FALSE(std::isnan(sample));
  Oscillator notANumber(SnWaveform_Square, std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.5f, 0.5f);
  notANumber.Frame(out);
  for (float sample : out) ASSERT_FALSE(std::isnan(sample));
}

TEST(ModulatorOscillator, AWaveformOfFiveOrMoreWritesZeros) {
  for (uint32_t waveform : {5u, 9u, 0xFFFFFFFFu}) {
    Oscillator unknown(waveform, 10.0f, 1.0f);
    std::vector<float> out;
    EXPECT_EQ(unknown.Frame(out), 0.0f);
    for (float sample : out) ASSERT_EQ(sample, 0.0f) << waveform;
    EXPECT_EQ(unknown.ValueOnly(), 0.0f);
  }
}

TEST(ModulatorOscillator, ChangingBetweenSineAndTriangleKeepsThePlaceInTheCycle) {
  SnOscillatorState state;
  const float degrees = 90.0f;
  SetupOscillator(state, SnWaveform_Sine, 4.0f, 0.0f, &degrees);
  // The sine's period is 2 pi rounded to a float.
  EXPECT_NEAR(state.phase, M_PI / 2.0, 1e-7);
  SetupOscillator(state, SnWaveform_Square, 4.0f, 0.0f, nullptr);
  EXPECT_NEAR(state.phase, 0.25, 1e-7);
  EXPECT_NEAR(state.increment, 4.0 / kRate, 1e-15);
  SetupOscillator(state, SnWaveform_Sine, 4.0f, 0.0f, nullptr);
  EXPECT_NEAR(state.phase, M_PI / 2.0, 1e-7);
}

// ---- envelope ----

// The envelope by the formulas, in double precision: attack halves of h, decay D, sustain to E,
// release R; times rounded to multiples of four as the generator does.
struct EnvelopeModel {
  double h, D, R, E, c, S, L, jump;
  EnvelopeModel(uint32_t attack, uint32_t decay, uint32_t release, uint32_t releaseStart, double curve, double sustain,
                double level = 0.0)
      : c(curve), S(sustain), L(level) {
    auto round4 = [](double x) { return double((int64_t(x) + 2) / 4 * 4); };
    h = round4(attack / 2);
    D = round4(decay);
    R = round4(release);
    E = releaseStart == kModulatorNever ? 1e300 : round4(releaseStart);
    jump = L <= 0.0 ? 0.0 : c > L ? std::floor(L / c * h) : c >= 1.0 ? 2 * h : h + std::floor((L - c) / (1 - c) * h);
  }
  double Held(double t) const {
    const double u = t + jump;
    if (u < h) return c * u / h;
    if (u < 2 * h) return c + (1 - c) * (u - h) / h;
    if (u < 2 * h + D) return 1 + (S - 1) * (u - 2 * h) / D;
    return S;
  }
  double At(double t) const {
    if (t < E) return Held(t);
    if (t >= E + R) return 0.0;
    return Held(E) * (1.0 - (t - E) / R);
  }
};

struct Envelope {
  SnEnvelopeParams params;
  uint32_t releaseStart;
  uint64_t elapsed = 0;
  Envelope(uint32_t attack, uint32_t decay, uint32_t release, uint32_t start, float curve, float sustain,
           float level = 0.0f)
      : releaseStart(start) {
    params.attackSamples = attack;
    params.decaySamples = decay;
    params.releaseSamples = release;
    params.curve = curve;
    params.sustain = sustain;
    params.levelScale = level;
  }
  SnModulatorOutput Frame(std::vector<float>* out, uint32_t n = kFrame) {
    elapsed += n;
    SnModulatorOutput output;
    if (out) out->assign(n, 7.0f);
    GenerateEnvelope(params, releaseStart, elapsed, n, out ? out->data() : nullptr, output);
    return output;
  }
};

TEST(ModulatorEnvelope, SegmentsFollowTheModelAndTheReleaseEndsInsideAFrame) {
  Envelope envelope(1000, 2000, 1500, 4000, 0.3f, 0.6f);
  const EnvelopeModel model(1000, 2000, 1500, 4000, 0.3, 0.6);
  std::vector<float> out;
  for (int f = 0; f < 5; ++f) {
    const SnModulatorOutput output = envelope.Frame(&out);
    for (uint32_t i = 0; i < kFrame; ++i) ASSERT_NEAR(out[i], model.At(f * kFrame + i), 1e-5) << f << " " << i;
    EXPECT_EQ(output.state, -1) << f;
  }
  // E + R = 5500 lies in frame 5: the rest of the slice is 0, the record says finished.
  const SnModulatorOutput last = envelope.Frame(&out);
  for (uint32_t i = 5500 - 5 * kFrame; i < kFrame; ++i) ASSERT_EQ(out[i], 0.0f);
  EXPECT_EQ(last.state, int32_t(SnModulatorState_Finished));
  EXPECT_EQ(last.value, 0.0f);
  EXPECT_NEAR(last.peak, model.At(5 * kFrame), 1e-5);
}

TEST(ModulatorEnvelope, ValueAndPeakWithoutABufferMatchTheWrittenFrame) {
  Envelope written(3000, 800, 2000, 3500, 0.7f, 0.2f);
  Envelope valued(3000, 800, 2000, 3500, 0.7f, 0.2f);
  std::vector<float> out;
  for (int f = 0; f < 7; ++f) {
    const SnModulatorOutput a = written.Frame(&out);
    const SnModulatorOutput b = valued.Frame(nullptr);
    EXPECT_NEAR(a.value, b.value, 1e-5) << f;
    EXPECT_NEAR(a.peak, b.peak, 1e-5) << f;
    EXPECT_EQ(a.state, b.state) << f;
  }
}

TEST(ModulatorEnvelope, AHeldSustainNeverReleasesEvenPastTwoToTheThirtyOneSamples) {
  // Rounding "never" up by 2 once wrapped it negative: a held sustain released at once.
  Envelope held(400, 400, 400, kModulatorNever, 0.5f, 0.4f);
  std::vector<float> out;
  held.Frame(&out);
  held.elapsed = (uint64_t(1) << 31) + 5 * kFrame;
  const SnModulatorOutput late = held.Frame(&out);
  EXPECT_EQ(late.state, -1);
  EXPECT_FLOAT_EQ(late.value, 0.4f);
  for (float sample : out) ASSERT_FLOAT_EQ(sample, 0.4f);
}

TEST(ModulatorEnvelope, HugeTimesSaturateInsteadOfWrapping) {
  Envelope huge(kModulatorMaxSamples, kModulatorMaxSamples, kModulatorMaxSamples, kModulatorMaxSamples, 0.5f, 0.5f);
  std::vector<float> out;
  const SnModulatorOutput first = huge.Frame(&out);
  EXPECT_EQ(first.state, -1);
  EXPECT_GE(out[0], 0.0f);
  EXPECT_LT(out[kFrame - 1], 1e-3f);
}

TEST(ModulatorEnvelope, AReleaseBeforeTheDecayEndsFallsFromTheLevelReached) {
  Envelope early(2000, 4000, 1000, 1500, 0.5f, 0.1f);
  const EnvelopeModel model(2000, 4000, 1000, 1500, 0.5, 0.1);
  std::vector<float> out;
  const SnModulatorOutput output = early.Frame(&out, 4096);
  const double reached = model.Held(1500);
  EXPECT_LT(reached, 1.0);
  EXPECT_GT(reached, 0.1);
  EXPECT_NEAR(out[1500], reached, 1e-5);
  EXPECT_NEAR(out[2000], reached * (1.0 - 500.0 / 1000.0), 1e-5);
  EXPECT_GT(out[2499], 0.0f);
  EXPECT_EQ(out[2500], 0.0f);
  EXPECT_EQ(output.state, int32_t(SnModulatorState_Finished));
}

TEST(ModulatorEnvelope, RestartsBeginAtTheirLevelOnTheAttack) {
  std::vector<float> out;
  for (float curve : {0.6f, 0.2f}) {
    Envelope restarted(4004, 4000, 4000, kModulatorNever, curve, 0.5f, 0.43f);
    const EnvelopeModel model(4004, 4000, 4000, kModulatorNever, curve, 0.5, 0.43);
    const SnModulatorOutput output = restarted.Frame(&out);
    EXPECT_NEAR(out[0], 0.43, 1e-3) << curve;
    for (uint32_t i = 0; i < kFrame; ++i) ASSERT_NEAR(out[i], model.At(i), 1e-5) << curve << " " << i;
    EXPECT_GE(output.peak, 0.43f);
  }
  // A curve of 1 reached by a level of 1 once divided 0 by 0: now the attack is over.
  Envelope full(4000, 4000, 4000, kModulatorNever, 1.0f, 0.5f, 1.0f);
  const EnvelopeModel model(4000, 4000, 4000, kModulatorNever, 1.0, 0.5, 1.0);
  full.Frame(&out);
  for (uint32_t i = 0; i < kFrame; ++i) ASSERT_NEAR(out[i], model.At(i), 1e-5) << i;
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  EXPECT_LT(out[kFrame - 1], 1.0f);
}

TEST(ModulatorEnvelope, ZeroTimesJumpStraightToTheirEnds) {
  Envelope instant(0, 0, 0, 8, 0.5f, 0.25f);
  std::vector<float> out;
  const SnModulatorOutput output = instant.Frame(&out, 256);
  EXPECT_FLOAT_EQ(out[0], 0.25f);
  EXPECT_FLOAT_EQ(out[7], 0.25f);
  EXPECT_EQ(out[8], 0.0f);
  EXPECT_EQ(output.state, int32_t(SnModulatorState_Finished));
}

}  // namespace
