// Voice filters against a second model in double precision: the block form against the recursion,
// a sine at the cutoff, the eight-step ramp, the four-frame tail, the bypassed memories, and
// channels filtered alone at any width.
#include "OutputTestSupport.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceFilter.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

using OutputTest::kPi;

// The Butterworth low-pass by the bilinear transform, worked out here from the cutoff alone.
struct Section {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  static Section LowPass(double hz, double rate) {
    const double k = 1.0 / std::tan(kPi * hz / rate), n = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    return Section{n, 2 * n, n, 2 * (1 - k * k) * n, (1 - std::sqrt(2.0) * k + k * k) * n};
  }
  double Run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }
};

float Signal(uint32_t t) {
  return float(0.5 * std::sin(2 * kPi * 440.0 * t / 48000.0) + 0.3 * std::sin(2 * kPi * 9000.0 * t / 48000.0) +
               0.1 * std::sin(2 * kPi * 17.0 * t / 48000.0));
}

class VoiceFilterTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    InitWithMemorySink();
  }
  // One aligned plane per channel.
  struct Planes {
    explicit Planes(uint32_t channels, uint32_t frames) : frames(frames), data(size_t(channels) * frames + 4) {}
    float* At(uint32_t channel) { return Base() + size_t(channel) * frames; }
    float* Base() {
      auto address = reinterpret_cast<uintptr_t>(data.data());
      return data.data() + ((16 - (address & 15)) & 15) / 4;
    }
    uint32_t frames;
    std::vector<float> data;
  };
};

TEST_F(VoiceFilterTest, TheVectorAndPlainFormsAgreeAndTheBlockFormIsTheRecursion) {
  for (float value : {0.0f, 20.0f, 50.0f, 90.0f}) {
    CSnBiquadRecord record;
    record.Init();
    CSnVoiceFilter::DesignLowPass(record, value, false);
    Planes block(1, 1030), plain(1, 1030);
    for (uint32_t offset : {0u, 1u, 3u}) {
      for (uint32_t t = 0; t < 1030; ++t) block.At(0)[t] = plain.At(0)[t] = Signal(t);
      SnBiquadMemory a{0.1f, -0.2f, 0.05f, 0.3f}, b = a;
      CSnVoiceFilter::FilterRun(record, a, block.At(0) + offset, 1027 - offset);
      CSnVoiceFilter::FilterRunPlain(record, b, plain.At(0) + offset, 1027 - offset);
      for (uint32_t t = 0; t < 1030; ++t) ASSERT_NEAR(block.At(0)[t], plain.At(0)[t], 1e-6) << value << " " << t;
      EXPECT_NEAR(a.y1, b.y1, 1e-6);
      EXPECT_NEAR(a.y2, b.y2, 1e-6);
      EXPECT_EQ(a.x1, b.x1);
    }
    // Against the recursion in double over a whole frame: float state drifts most where the poles
    // sit close to 1, at the lowest cutoffs.
    Section model{record.b0, record.b1, record.b2, -double(record.negA1), -double(record.negA2)};
    SnBiquadMemory memory{};
    for (uint32_t t = 0; t < 1024; ++t) block.At(0)[t] = Signal(t);
    CSnVoiceFilter::FilterRun(record, memory, block.At(0), 1024);
    const double tolerance = value >= 90.0f ? 5e-4 : 1e-4;
    for (uint32_t t = 0; t < 1024; ++t)
      ASSERT_NEAR(block.At(0)[t], model.Run(Signal(t)), tolerance) << value << " " << t;
    // One block of four from its past, against the recursion in double with the same coefficients.
    const double x[4] = {0.7, -0.2, 0.4, 1.0}, past[4] = {0.3, -0.6, 0.25, 0.5};  // x1 x2 y1 y2
    double y[6] = {past[3], past[2]}, xs[6] = {past[1], past[0], x[0], x[1], x[2], x[3]};
    for (int k = 2; k < 6; ++k)
      y[k] = record.b0 * xs[k] + record.b1 * xs[k - 1] + record.b2 * xs[k - 2] + record.negA1 * y[k - 1] +
             record.negA2 * y[k - 2];
    const double inputs[8] = {x[0], x[1], x[2], x[3], past[0], past[1], past[2], past[3]};
    for (int i = 0; i < 4; ++i) {
      double out = 0;
      for (int j = 0; j < 8; ++j) out += record.blockForm[4 * j + i] * inputs[j];
      EXPECT_NEAR(out, y[2 + i], 1e-5 * std::max(1.0, std::fabs(y[2 + i]))) << value << " " << i;
    }
  }
}

TEST_F(VoiceFilterTest, ASineAtTheCutoffLeavesAtHalfItsPower) {
  for (bool highPass : {false, true}) {
    CSnVoiceFilter filter;
    ASSERT_EQ(filter.Init(2, false), SN_Success);
    const float value = 40.0f;
    const double hz = FilterCutoff(highPass ? 100.0f - value : value, false);
    highPass ? filter.SetHighPass(value) : filter.SetLowPass(value);
    Planes planes(2, 1024);
    double peak = 0.0;
    for (uint32_t frame = 0, t = 0; frame < 20; ++frame) {
      for (uint32_t i = 0; i < 1024; ++i, ++t)
        planes.At(0)[i] = planes.At(1)[i] = float(std::sin(2 * kPi * hz * t / 48000.0));
      filter.Process(planes.Base(), 1024, 1024);
      if (frame >= 15)
        for (uint32_t i = 0; i < 1024; ++i) peak = std::max(peak, double(std::fabs(planes.At(1)[i])));
    }
    EXPECT_NEAR(peak, 0.70710677, 0.005) << (highPass ? "high-pass at " : "low-pass at ") << hz;
    EXPECT_FALSE(highPass ? filter.HighPassState().bypassed : filter.LowPassState().bypassed);
    filter.Term();
  }
}

TEST_F(VoiceFilterTest, AChangeRampsInEightSubBlocksAndZeroRingsOutForFourFrames) {
  CSnVoiceFilter filter;
  ASSERT_EQ(filter.Init(1, false), SN_Success);
  Planes planes(1, 1024);
  auto fill = [&](uint32_t from) {
    for (uint32_t i = 0; i < 1024; ++i) planes.At(0)[i] = Signal(from + i);
  };
  // No value yet: bypassed, the memories following the signal.
  fill(0);
  filter.Process(planes.Base(), 1024, 1024);
  EXPECT_TRUE(filter.LowPassState().bypassed);
  EXPECT_EQ(planes.At(0)[1023], Signal(1023));
  EXPECT_EQ(filter.LowPassMemory()[0].y1, Signal(1023));
  EXPECT_EQ(filter.LowPassMemory()[0].x2, Signal(1022));

  // 0 to 50: eight sections of 128 samples, each at one more eighth of the way, from those memories.
  filter.SetLowPass(50.0f);
  fill(1024);
  filter.Process(planes.Base(), 1024, 1024);
  Section model{};
  model.x1 = model.y1 = Signal(1023), model.x2 = model.y2 = Signal(1022);
  double worst = 0.0;
  for (uint32_t step = 1, t = 0; step <= 8; ++step) {
    const Section design = Section::LowPass(FilterCutoff(50.0f * step * 0.125f, false), 48000.0);
    model.b0 = design.b0, model.b1 = design.b1, model.b2 = design.b2, model.a1 = design.a1, model.a2 = design.a2;
    for (uint32_t i = 0; i < 128; ++i, ++t)
      worst = std::max(worst, std::fabs(model.Run(Signal(1024 + t)) - planes.At(0)[t]));
  }
  EXPECT_LT(worst, 2e-4);
  EXPECT_EQ(filter.LowPassState().rampStep, 8);
  EXPECT_EQ(filter.LowPassState().current, 50.0f);

  // Back to 0: one frame of ramp, then four frames ringing out, then bypassed.
  filter.SetLowPass(0.0f);
  for (int frame = 0; frame < 5; ++frame) {
    fill(2048 + 1024 * frame);
    filter.Process(planes.Base(), 1024, 1024);
    EXPECT_EQ(filter.LowPassState().bypassed, frame == 4) << frame;
    EXPECT_NE(planes.At(0)[500], Signal(2048 + 1024 * frame + 500)) << frame;
  }
  fill(7168);
  filter.Process(planes.Base(), 1024, 1024);
  EXPECT_TRUE(filter.LowPassState().bypassed);
  EXPECT_EQ(planes.At(0)[500], Signal(7168 + 500));

  // A single frame leaves a bypassed stage's memories as they were.
  const SnBiquadMemory before = filter.LowPassMemory()[0];
  filter.Process(planes.Base(), 1024, 1);
  EXPECT_EQ(std::memcmp(&before, &filter.LowPassMemory()[0], sizeof before), 0);
  filter.Term();
}

// Every channel is filtered on its own, whatever the width: a mono or stereo filter keeps its
// memories in itself, a wider one takes them from the lower engine's pool and gives them back; a
// filter made again for another width starts from silence.
TEST_F(VoiceFilterTest, EachChannelRunsAloneAtAnyWidthAndAWideFilterGivesItsMemoryBack) {
  auto used = [] {
    MemoryMgr::PoolStats stats;
    EXPECT_EQ(MemoryMgr::GetPoolStats(g_LEngineDefaultPoolId, stats), SN_Success);
    return stats.usedBytes;
  };
  const uint32_t before = used();
  CSnVoiceFilter filter;
  for (uint32_t channels : {1u, 6u, 2u, 8u, 1u}) {
    ASSERT_EQ(filter.Init(channels, false), SN_Success);
    if (channels <= 2)
      EXPECT_EQ(used(), before) << channels;
    else
      EXPECT_GT(used(), before) << channels;
    filter.SetLowPass(50.0f);
    Planes planes(channels, 512);
    for (uint32_t frame = 0; frame < 3; ++frame) {
      for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < 512; ++i) planes.At(c)[i] = (1.0f + float(c)) * Signal(512 * frame + i);
      filter.Process(planes.Base(), 512, 512);
    }
    // A channel scaled by k comes out as the first channel scaled by k: the stages are linear and the
    // channels share coefficients, not memories.
    for (uint32_t c = 1; c < channels; ++c)
      for (uint32_t i = 0; i < 512; i += 37)
        EXPECT_NEAR(planes.At(c)[i], (1.0f + float(c)) * planes.At(0)[i], 1e-4f * (1.0f + float(c))) << channels;
    filter.Term();
    EXPECT_EQ(used(), before) << channels;
  }
  // From silence each time: the first channel's frames are the same as a new filter's.
  CSnVoiceFilter fresh;
  ASSERT_EQ(fresh.Init(1, false), SN_Success);
  ASSERT_EQ(filter.Init(1, false), SN_Success);
  fresh.SetLowPass(50.0f);
  filter.SetLowPass(50.0f);
  Planes a(1, 512), b(1, 512);
  for (uint32_t i = 0; i < 512; ++i) a.At(0)[i] = b.At(0)[i] = Signal(i);
  fresh.Process(a.Base(), 512, 512);
  filter.Process(b.Base(), 512, 512);
  EXPECT_EQ(std::memcmp(a.At(0), b.At(0), 512 * sizeof(float)), 0);
  fresh.Term();
  filter.Term();
}

// A voice begun 300 frames into its first frame may leave them unwritten (here: 5.0, never silence).
// A running filter hears them as the silence they are; a bypassed one, whose memories follow the
// last two frames, too when the voice sounds for one frame only.
TEST_F(VoiceFilterTest, TheUnwrittenSilenceOfAVoicesStartIsFilteredAsSilence) {
  for (uint32_t valid : {1024u, 301u}) {
    CSnVoiceFilter left, written;
    ASSERT_EQ(left.Init(2, false), SN_Success);
    ASSERT_EQ(written.Init(2, false), SN_Success);
    left.SetLowPass(50.0f);
    written.SetLowPass(50.0f);
    Planes unwritten(2, 1024), zeros(2, 1024);
    for (uint32_t c = 0; c < 2; ++c)
      for (uint32_t i = 0; i < 1024; ++i) {
        unwritten.At(c)[i] = i < 300 ? 5.0f : Signal(i + c);
        zeros.At(c)[i] = i < 300 ? 0.0f : Signal(i + c);
      }
    left.Process(unwritten.Base(), 1024, valid, 300);
    written.Process(zeros.Base(), 1024, valid);
    for (uint32_t c = 0; c < 2; ++c)
      for (uint32_t i = 0; i < valid; ++i) ASSERT_EQ(unwritten.At(c)[i], zeros.At(c)[i]) << valid << " " << c << " " << i;
    left.Term();
    written.Term();
  }
  CSnVoiceFilter bypassed;
  ASSERT_EQ(bypassed.Init(1, false), SN_Success);
  Planes one(1, 1024);
  for (uint32_t i = 0; i < 1024; ++i) one.At(0)[i] = i < 300 ? 5.0f : Signal(i);
  bypassed.Process(one.Base(), 1024, 301, 300);
  EXPECT_TRUE(bypassed.LowPassState().bypassed);
  EXPECT_EQ(bypassed.LowPassMemory()[0].y1, Signal(300));
  EXPECT_EQ(bypassed.LowPassMemory()[0].x2, 0.0f);
  bypassed.Term();
}

TEST_F(VoiceFilterTest, TheFirstValueAppliesAtOnceAndValuesOutOfRangeAreHeld) {
  CSnVoiceFilter filter;
  ASSERT_EQ(filter.Init(1, false), SN_Success);
  filter.SetHighPass(250.0f);
  Planes planes(1, 256);
  filter.Process(planes.Base(), 256, 256);
  EXPECT_EQ(filter.HighPassState().current, 100.0f);
  EXPECT_EQ(filter.HighPassState().rampStep, 8);
  filter.SetHighPass(std::nanf(""));
  filter.Process(planes.Base(), 256, 256);
  EXPECT_EQ(filter.HighPassState().target, 0.0f);
  filter.Term();

  float* pair = VoiceParams::AllocMatrixPair(6, 2);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pair) % 16, 0u);
  for (uint32_t i = 0; i < 2 * 6 * 4; ++i) EXPECT_EQ(pair[i], 0.0f);
  VoiceParams::FreeMatrixPair(pair);
}

}  // namespace
