// The bus meter measured offline against small double-precision models: sample peak, RMS, the
// four-phase true peak (also across the joint of two frames), K-weighted power and its filters.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Lower/Mixing/BusMeter.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MallocMemory.h"

namespace {

using OutputTest::kPi;
constexpr double kScale = 1.0009619;

double Db(double ratio) { return 20.0 * std::log10(ratio); }

// A planar frame that owns its samples.
struct Frame {
  Frame(SN::SnChannelConfig config, uint16_t frames) : samples(size_t(SN::ChannelCount(config)) * frames) {
    buffer.channelConfig = config;
    buffer.maxFrames = frames;
    buffer.validFrames = frames;
    buffer.samples = samples.data();
  }
  float* Channel(uint32_t c) { return samples.data() + size_t(c) * buffer.maxFrames; }
  std::vector<float> samples;
  SN::SnMixBuffer buffer;
};

// The meter's pool, made fresh for each test and put back afterwards.
class BusMeterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousPool_ = SN::g_LEngineDefaultPoolId;
    ASSERT_TRUE(memory_.Initialized());
    UsePool(1 << 20);
  }
  void TearDown() override {
    if (SN::g_LEngineDefaultPoolId != SN::kInvalidPoolId) SN::MemoryMgr::DestroyPool(SN::g_LEngineDefaultPoolId);
    SN::g_LEngineDefaultPoolId = previousPool_;
  }
  void UsePool(uint32_t bytes) {
    if (SN::g_LEngineDefaultPoolId != SN::kInvalidPoolId && SN::g_LEngineDefaultPoolId != previousPool_)
      SN::MemoryMgr::DestroyPool(SN::g_LEngineDefaultPoolId);
    SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, bytes, 16, SN::SnMemPool_AllocHook, 0);
    ASSERT_NE(SN::g_LEngineDefaultPoolId, SN::kInvalidPoolId);
  }
  SN::CSnBusMeter* Make(uint32_t channels, uint32_t flags, uint32_t rate = 48000) {
    SN::CSnBusMeter* meter = SN::CSnBusMeter::New();
    EXPECT_NE(meter, nullptr);
    if (meter) {
      EXPECT_EQ(meter->Create(channels, rate, flags), SN::SN_Success);
    }
    return meter;
  }

  OrvTest::MallocMemory memory_{4};
  OrvTest::LogCapture log_;
  SN::SnMemPoolId previousPool_ = SN::kInvalidPoolId;
};

// Deterministic noise in [-0.5, 0.5).
struct Noise {
  uint32_t state = 12345;
  float Next() {
    state = state * 1664525u + 1013904223u;
    return float(state >> 8) / float(1u << 24) - 0.5f;
  }
};

// --- Peak and RMS ---------------------------------------------------------------------------

TEST_F(BusMeterTest, PeakAndRmsPerChannelWithGain) {
  SN::CSnBusMeter* meter = Make(3, SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_RMS);
  EXPECT_EQ(meter->GetTruePeakValues(), nullptr);
  EXPECT_EQ(meter->GetFlags(), uint32_t(SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_RMS));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(meter->GetRMSValues()) % 16, 0u);
  // 10 frames: two full lanes and a tail, so the tail's peak must be seen too.
  Frame frame(SN::AnonymousConfig(3), 10);
  for (int i = 0; i < 10; ++i) {
    frame.Channel(0)[i] = 1.0f;
    frame.Channel(1)[i] = (i % 2) ? 0.5f : -0.5f;
    frame.Channel(2)[i] = 0.0f;
  }
  frame.Channel(2)[9] = -0.75f;  // the lowest, in the tail
  meter->Compute(1.0f, frame.buffer);
  EXPECT_FLOAT_EQ(meter->GetPeakValues()[0], 1.0009619f);
  EXPECT_FLOAT_EQ(meter->GetRMSValues()[0], 1.0009619f);
  EXPECT_FLOAT_EQ(meter->GetPeakValues()[1], 0.5f * 1.0009619f);
  EXPECT_FLOAT_EQ(meter->GetRMSValues()[1], 0.5f * 1.0009619f);
  EXPECT_FLOAT_EQ(meter->GetPeakValues()[2], 0.75f * 1.0009619f);
  EXPECT_NEAR(meter->GetRMSValues()[2], std::sqrt(0.5625 / 10.0) * kScale, 1e-6);

  // Every measure scales by the gain; all frames of the buffer count, not only the valid ones.
  frame.buffer.validFrames = 3;
  meter->Compute(0.25f, frame.buffer);
  EXPECT_FLOAT_EQ(meter->GetPeakValues()[2], 0.75f * 0.25f * 1.0009619f);
  EXPECT_NEAR(meter->GetRMSValues()[2], std::sqrt(0.5625 / 10.0) * 0.25 * kScale, 1e-6);
  SN::CSnBusMeter::Delete(meter);
}

TEST_F(BusMeterTest, ZeroValidFramesReportZerosAndKeepTheTruePeakHistory) {
  const uint32_t all = SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_RMS | SN::SnMeteringFlags_TruePeak |
                       SN::SnMeteringFlags_KPower;
  const SN::SnChannelConfig stereo = SN::StandardConfig(SN::kMaskStereo);
  Noise noise;
  Frame first(stereo, 64), middle(stereo, 64), last(stereo, 64);
  for (float& s : first.samples) s = noise.Next();
  for (float& s : middle.samples) s = noise.Next();
  for (float& s : last.samples) s = noise.Next();
  last.Channel(0)[0] = 0.9f;  // a step at the joint, which the history shapes

  SN::CSnBusMeter* silent = Make(2, all);    // first, middle with no valid frames, last
  SN::CSnBusMeter* skipping = Make(2, all);  // first, last: the true-peak history it should match
  SN::CSnBusMeter* sounding = Make(2, all);  // first, middle, last: the K states it should match
  silent->Compute(1.0f, first.buffer);
  skipping->Compute(1.0f, first.buffer);
  sounding->Compute(1.0f, first.buffer);
  middle.buffer.validFrames = 0;
  silent->Compute(1.0f, middle.buffer);
  for (uint32_t c = 0; c < 2; ++c) {
    EXPECT_EQ(silent->GetPeakValues()[c], 0.0f);
    EXPECT_EQ(silent->GetRMSValues()[c], 0.0f);
    EXPECT_EQ(silent->GetTruePeakValues()[c], 0.0f);
  }
  EXPECT_EQ(silent->GetKWeightedPower(), 0.0f);
  middle.buffer.validFrames = 64;
  sounding->Compute(1.0f, middle.buffer);

  silent->Compute(1.0f, last.buffer);
  skipping->Compute(1.0f, last.buffer);
  sounding->Compute(1.0f, last.buffer);
  for (uint32_t c = 0; c < 2; ++c) EXPECT_EQ(silent->GetTruePeakValues()[c], skipping->GetTruePeakValues()[c]);
  EXPECT_EQ(silent->GetKWeightedPower(), sounding->GetKWeightedPower());
  EXPECT_NE(silent->GetKWeightedPower(), skipping->GetKWeightedPower());
  // A buffer claiming valid frames in no room at all reads as zeros too, not as the lanes' start.
  SN::SnMixBuffer roomless = last.buffer;
  roomless.maxFrames = 0;
  silent->Compute(1.0f, roomless);
  for (uint32_t c = 0; c < 2; ++c) {
    EXPECT_EQ(silent->GetPeakValues()[c], 0.0f);
    EXPECT_EQ(silent->GetTruePeakValues()[c], 0.0f);
  }
  EXPECT_EQ(silent->GetKWeightedPower(), 0.0f);
  SN::CSnBusMeter::Delete(silent);
  SN::CSnBusMeter::Delete(skipping);
  SN::CSnBusMeter::Delete(sounding);
}

// --- True peak -------------------------------------------------------------------------------

// The interpolator's table: phase 0 the sample itself, unit DC gain, phases 1 and 3 mirrored.
TEST_F(BusMeterTest, TruePeakTableShape) {
  const auto& table = SN::BusMeter::TruePeakCoefficients();
  for (int phase = 0; phase < 4; ++phase) {
    double sum = 0.0;
    for (int tap = 0; tap < 12; ++tap) sum += table[tap][phase];
    EXPECT_NEAR(sum, 1.0, 1e-6) << phase;
  }
  for (int tap = 0; tap < 12; ++tap) {
    EXPECT_NEAR(table[tap][0], tap == 5 ? 1.0 : 0.0, 1e-7) << tap;
    EXPECT_NEAR(table[tap][1], table[11 - tap][3], 1e-7) << tap;
    EXPECT_NEAR(table[tap][2], table[11 - tap][2], 1e-7) << tap;
  }
}

// The stream value at time t by a long Kaiser-windowed sinc over the samples (double precision).
double LongSinc(const std::vector<double>& x, double t) {
  constexpr int kHalf = 256;
  constexpr double kBeta = 9.0;
  auto i0 = [](double v) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 80; ++k) {
      term *= (v / (2.0 * k)) * (v / (2.0 * k));
      sum += term;
    }
    return sum;
  };
  // The points fall on quarter samples, so the kernel takes few distinct values: keep them.
  static std::vector<double> kernel(size_t(8 * kHalf + 9), std::nan(""));
  auto weight = [&](double d) {
    double& kept = kernel[size_t(std::lround(d * 4.0) + 4 * kHalf + 4)];
    if (!std::isnan(kept)) return kept;
    const double r = d / kHalf;
    const double sinc = d == 0.0 ? 1.0 : std::sin(kPi * d) / (kPi * d);
    const double value = sinc * i0(kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0(kBeta);
    return kept = value;
  };
  double acc = 0.0;
  const int centre = int(std::floor(t));
  for (int n = centre - kHalf + 1; n <= centre + kHalf; ++n) {
    if (n < 0 || n >= int(x.size())) continue;
    const double d = t - n;
    acc += x[size_t(n)] * weight(d);
  }
  return acc;
}

TEST_F(BusMeterTest, TruePeakOfSinesMatchesALongSincReference) {
  constexpr uint16_t kFrames = 256;
  // The frames sit well inside a longer stream so the reference sees whole sinc tails.
  constexpr int kLead = 512;
  for (double cycles : {0.01, 0.1, 0.2, 0.25, 0.3, 0.35}) {
    for (double phase : {0.1, 0.77, 1.9}) {
      std::vector<double> x(kLead + 2 * kFrames + 512);
      for (size_t n = 0; n < x.size(); ++n) x[n] = 0.6 * std::sin(2.0 * kPi * cycles * double(n) + phase);
      SN::CSnBusMeter* meter = Make(1, SN::SnMeteringFlags_TruePeak);
      Frame frame(SN::AnonymousConfig(1), kFrames);
      // Two frames before, so the measured frame's joint history is real signal.
      for (int f = 0; f < 3; ++f) {
        for (int i = 0; i < kFrames; ++i) frame.Channel(0)[i] = float(x[size_t(kLead - kFrames + f * kFrames + i)]);
        meter->Compute(1.0f, frame.buffer);
      }
      // The third frame starts at kLead + kFrames; its quarter points run from 7 samples before it.
      const double start = kLead + kFrames;
      double reference = 0.0;
      for (double t = start - 7.0; t <= start + kFrames - 7.25 + 1e-9; t += 0.25)
        reference = std::max(reference, std::fabs(LongSinc(x, t)));
      const double measured = meter->GetTruePeakValues()[0] / kScale;
      EXPECT_NEAR(Db(measured / reference), 0.0, 0.1) << cycles << " " << phase;
      SN::CSnBusMeter::Delete(meter);
    }
  }
}

TEST_F(BusMeterTest, QuarterRateSineAt45DegreesReadsItsAmplitude) {
  SN::CSnBusMeter* meter = Make(1, SN::SnMeteringFlags_TruePeak | SN::SnMeteringFlags_Peak);
  Frame frame(SN::AnonymousConfig(1), 128);
  for (int f = 0; f < 2; ++f) {
    for (int i = 0; i < 128; ++i) frame.Channel(0)[i] = float(std::sin(kPi / 2.0 * (f * 128 + i) + kPi / 4.0));
    meter->Compute(1.0f, frame.buffer);
  }
  EXPECT_NEAR(meter->GetPeakValues()[0], 0.70710678 * kScale, 1e-6);
  EXPECT_NEAR(Db(meter->GetTruePeakValues()[0] / kScale), 0.0, 0.1);
  SN::CSnBusMeter::Delete(meter);
}

// The meter's interpolation in double precision over the stream, quarter points t = n + 5 + p/4.
double TablePoint(const std::vector<double>& x, long position, int phase) {
  const auto& table = SN::BusMeter::TruePeakCoefficients();
  double acc = 0.0;
  for (int tap = 0; tap < 12; ++tap) {
    const long n = position + tap;
    if (n >= 0 && n < long(x.size())) acc += x[size_t(n)] * double(table[tap][phase]);
  }
  return acc;
}

TEST_F(BusMeterTest, TruePeakSeesTheJointBetweenFrames) {
  constexpr uint16_t kFrames = 32;
  // Two full-scale samples of one sign on either side of the joint: the point between overshoots.
  std::vector<double> stream(2 * kFrames, 0.0);
  stream[kFrames - 1] = 1.0;
  stream[kFrames] = 1.0;
  stream[kFrames + 1] = -0.5;
  // The second frame covers positions from 12 before it to 12 before its end.
  double expected = 0.0;
  for (long position = kFrames - 12; position < 2 * kFrames - 12; ++position)
    for (int phase = 0; phase < 4; ++phase) expected = std::max(expected, std::fabs(TablePoint(stream, position, phase)));
  ASSERT_GT(expected, 1.1);

  SN::CSnBusMeter* meter = Make(1, SN::SnMeteringFlags_TruePeak | SN::SnMeteringFlags_Peak);
  SN::CSnBusMeter* fresh = Make(1, SN::SnMeteringFlags_TruePeak);
  Frame frame(SN::AnonymousConfig(1), kFrames);
  for (int i = 0; i < kFrames; ++i) frame.Channel(0)[i] = float(stream[size_t(i)]);
  meter->Compute(1.0f, frame.buffer);
  for (int i = 0; i < kFrames; ++i) frame.Channel(0)[i] = float(stream[size_t(kFrames + i)]);
  meter->Compute(0.5f, frame.buffer);
  fresh->Compute(0.5f, frame.buffer);
  EXPECT_NEAR(meter->GetTruePeakValues()[0], expected * 0.5 * kScale, 1e-5);
  EXPECT_GT(meter->GetTruePeakValues()[0], meter->GetPeakValues()[0]);
  // Without the last frame's tail (a zero history) the overshoot is smaller.
  EXPECT_LT(fresh->GetTruePeakValues()[0], meter->GetTruePeakValues()[0] - 0.05f);
  SN::CSnBusMeter::Delete(meter);
  SN::CSnBusMeter::Delete(fresh);
}

TEST_F(BusMeterTest, TruePeakOfFramesShorterThanTheHistory) {
  // Frames of 5 samples fed one by one meter the same points as the stream metered at once.
  Noise noise;
  std::vector<double> stream(40);
  for (double& s : stream) s = noise.Next();
  SN::CSnBusMeter* meter = Make(1, SN::SnMeteringFlags_TruePeak);
  Frame frame(SN::AnonymousConfig(1), 5);
  std::vector<double> history(12, 0.0);
  for (int f = 0; f < 8; ++f) {
    std::vector<double> work = history;
    for (int i = 0; i < 5; ++i) {
      frame.Channel(0)[i] = float(stream[size_t(f * 5 + i)]);
      work.push_back(stream[size_t(f * 5 + i)]);
    }
    meter->Compute(1.0f, frame.buffer);
    double expected = 0.0;
    for (long position = 0; position < 5; ++position)
      for (int phase = 0; phase < 4; ++phase) expected = std::max(expected, std::fabs(TablePoint(work, position, phase)));
    EXPECT_NEAR(meter->GetTruePeakValues()[0], expected * kScale, 1e-5) << f;
    history.assign(work.end() - 12, work.end());
  }
  SN::CSnBusMeter::Delete(meter);
}

// --- K-weighting -----------------------------------------------------------------------------

// The K-weighting filters published for 48 kHz, against which the design at 48 kHz is checked.
// The gain in dB at `hz` of the cascade of two biquads {b0 b1 b2 a0 a1 a2}.
double CascadeDb(const SN::BusMeter::BiquadDesign& first, const SN::BusMeter::BiquadDesign& second, double hz, double rate) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * hz / rate);
  auto gain = [&](const SN::BusMeter::BiquadDesign& d) {
    return std::abs((d.b0 + d.b1 * z1 + d.b2 * z1 * z1) / (d.a0 + d.a1 * z1 + d.a2 * z1 * z1));
  };
  return Db(gain(first) * gain(second));
}
double DesignResponseDb(double hz, double rate) {
  return CascadeDb(SN::BusMeter::DesignStageA(rate), SN::BusMeter::DesignStageB(rate), hz, rate);
}
// The K-weighting filters published for 48 kHz, against which the design at 48 kHz is checked.
double PublishedResponseDb(double hz) {
  const SN::BusMeter::BiquadDesign shelf{1.53512485958697, -2.69169618940638, 1.19839281085285, 1.0, -1.69065929318241, 0.73248077421585};
  const SN::BusMeter::BiquadDesign pass{1.0, -2.0, 1.0, 1.0, -1.99004745483398, 0.99007225036621};
  return CascadeDb(shelf, pass, hz, 48000.0);
}

TEST_F(BusMeterTest, KWeightingDesignFollowsThePublishedCurve) {
  for (double hz : {20.0, 38.0, 100.0, 500.0, 997.0, 1500.0, 3000.0, 8000.0, 16000.0})
    EXPECT_NEAR(DesignResponseDb(hz, 48000.0), PublishedResponseDb(hz), 0.1) << hz;
  // The curve is the same in hertz at another rate, away from Nyquist.
  for (double hz : {38.0, 997.0, 4000.0}) EXPECT_NEAR(DesignResponseDb(hz, 44100.0), DesignResponseDb(hz, 48000.0), 0.05) << hz;
}

// The K power in double precision: the design's biquads, states kept across frames.
struct KModel {
  struct Stage {
    double b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double Run(double x) {
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
      return y;
    }
  };
  static Stage Make(const SN::BusMeter::BiquadDesign& d) {
    return {d.b0 / d.a0, d.b1 / d.a0, d.b2 / d.a0, d.a1 / d.a0, d.a2 / d.a0};
  }
  KModel(uint32_t channels, double rate) {
    for (uint32_t c = 0; c < channels; ++c) {
      a.push_back(Make(SN::BusMeter::DesignStageA(rate)));
      b.push_back(Make(SN::BusMeter::DesignStageB(rate)));
    }
  }
  double Power(Frame& frame, uint32_t front, uint32_t surround, double gain) {
    double sums[2] = {0, 0};
    for (uint32_t c = 0; c < front + surround; ++c)
      for (uint32_t i = 0; i < frame.buffer.maxFrames; ++i) {
        const double y = b[c].Run(a[c].Run(frame.Channel(c)[i]));
        sums[c < front ? 0 : 1] += y * y;
      }
    return gain * gain * kScale * kScale * (sums[0] + std::pow(10.0, 0.15) * sums[1]) / frame.buffer.maxFrames;
  }
  std::vector<Stage> a, b;
};

TEST_F(BusMeterTest, KPowerMatchesADoublePrecisionModel) {
  struct Case {
    uint32_t mask;
    uint32_t front, surround;
  };
  for (const Case& layout : {Case{0x4, 1, 0}, Case{SN::kMaskStereo, 2, 0}, Case{SN::kMask51, 3, 2}, Case{SN::kMask71, 3, 4}}) {
    const SN::SnChannelConfig config = SN::StandardConfig(layout.mask);
    const uint32_t channels = SN::ChannelCount(config);
    SN::CSnBusMeter* meter = Make(channels, SN::SnMeteringFlags_KPower);
    KModel model(channels, 48000.0);
    Noise noise;
    Frame frame(config, 512);
    for (int f = 0; f < 3; ++f) {
      for (float& s : frame.samples) s = noise.Next();
      meter->Compute(0.8f, frame.buffer);
      const double expected = model.Power(frame, layout.front, layout.surround, 0.8);
      EXPECT_NEAR(meter->GetKWeightedPower() / expected, 1.0, 1e-4) << layout.mask << " frame " << f;
    }
    // The LFE (stored last) never counts.
    if (SN::HasLfe(config)) {
      SN::CSnBusMeter* again = Make(channels, SN::SnMeteringFlags_KPower);
      for (float& s : frame.samples) s = noise.Next();
      again->Compute(1.0f, frame.buffer);
      const float before = again->GetKWeightedPower();
      SN::CSnBusMeter* loud = Make(channels, SN::SnMeteringFlags_KPower);
      for (uint32_t i = 0; i < 512; ++i) frame.Channel(channels - 1)[i] = 1.0f;
      loud->Compute(1.0f, frame.buffer);
      EXPECT_EQ(loud->GetKWeightedPower(), before);
      SN::CSnBusMeter::Delete(again);
      SN::CSnBusMeter::Delete(loud);
    }
    SN::CSnBusMeter::Delete(meter);
  }
}

TEST_F(BusMeterTest, ABufferWiderThanTheMeterIsReadOnTheMetersChannels) {
  SN::CSnBusMeter* meter = Make(2, SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_KPower | SN::SnMeteringFlags_TruePeak);
  SN::CSnBusMeter* stereo = Make(2, SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_KPower | SN::SnMeteringFlags_TruePeak);
  Frame wide(SN::StandardConfig(SN::kMask51), 64);
  Frame narrow(SN::StandardConfig(SN::kMaskStereo), 64);
  Noise noise;
  for (float& s : wide.samples) s = noise.Next();
  std::memcpy(narrow.samples.data(), wide.samples.data(), 2 * 64 * sizeof(float));
  meter->Compute(1.0f, wide.buffer);
  stereo->Compute(1.0f, narrow.buffer);
  EXPECT_EQ(meter->GetPeakValues()[1], stereo->GetPeakValues()[1]);
  EXPECT_EQ(meter->GetTruePeakValues()[1], stereo->GetTruePeakValues()[1]);
  EXPECT_EQ(meter->GetKWeightedPower(), stereo->GetKWeightedPower());
  SN::CSnBusMeter::Delete(meter);
  SN::CSnBusMeter::Delete(stereo);
}

TEST_F(BusMeterTest, KPowerIsZeroForANonStandardConfiguration) {
  SN::CSnBusMeter* meter = Make(2, SN::SnMeteringFlags_KPower);
  Frame frame(SN::AnonymousConfig(2), 64);
  for (float& s : frame.samples) s = 0.5f;
  meter->Compute(1.0f, frame.buffer);
  EXPECT_EQ(meter->GetKWeightedPower(), 0.0f);
  SN::CSnBusMeter::Delete(meter);
}

// --- Creation --------------------------------------------------------------------------------

TEST_F(BusMeterTest, FailedAllocationGivesFailureAndStoresNoFlags) {
  const uint32_t all = SN::SnMeteringFlags_Peak | SN::SnMeteringFlags_RMS | SN::SnMeteringFlags_TruePeak |
                       SN::SnMeteringFlags_KPower;
  UsePool(8192);
  SN::MemoryMgr::PoolMemInfo before;
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(SN::g_LEngineDefaultPoolId, before), SN::SN_Success);
  SN::CSnBusMeter* meter = SN::CSnBusMeter::New();
  ASSERT_NE(meter, nullptr);
  EXPECT_EQ(meter->Create(64, 48000, all), SN::SN_Failure);
  EXPECT_EQ(meter->GetFlags(), 0u);
  // Unusable but harmless: a frame measures nothing.
  Frame frame(SN::StandardConfig(SN::kMask71), 64);
  meter->Compute(1.0f, frame.buffer);
  EXPECT_EQ(meter->GetKWeightedPower(), 0.0f);
  SN::CSnBusMeter::Delete(meter);
  SN::MemoryMgr::PoolMemInfo after;
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(SN::g_LEngineDefaultPoolId, after), SN::SN_Success);
  EXPECT_EQ(after.usedBytes, before.usedBytes);

  SN::CSnBusMeter* empty = SN::CSnBusMeter::New();
  EXPECT_EQ(empty->Create(0, 48000, all), SN::SN_Failure);
  EXPECT_NE(log_.Take().find("cannot be metered"), std::string::npos);
  SN::CSnBusMeter::Delete(empty);
}

}  // namespace
