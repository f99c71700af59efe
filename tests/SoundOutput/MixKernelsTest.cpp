// The mix and output kernels against double-precision models of their formulas, their vector and
// plain forms bit for bit, the channel map, the 16-bit limits, and the filter cutoff mapping.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"

namespace {

using namespace SN;

// Planes of random samples in -1..1 for a layout, `frames` a plane.
struct Planes {
  std::vector<float> samples;
  SnMixBuffer buffer;
  Planes(SnChannelConfig config, uint16_t frames, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    samples.resize(size_t(ChannelCount(config)) * frames);
    for (float& s : samples) s = value(random);
    buffer.samples = samples.data();
    buffer.channelConfig = config;
    buffer.maxFrames = frames;
    buffer.validFrames = frames;
  }
};

// Where each interleaved channel's plane is, worked out from the layouts by hand.
std::vector<uint32_t> ExpectedPlaneOrder(SnChannelConfig config) {
  switch (ChannelMask(config)) {
    case kMask51: return {0, 1, 2, 5, 3, 4};
    case kMask71: return {0, 1, 2, 7, 3, 4, 5, 6};
    case 0x3F: return {0, 1, 2, 5, 3, 4};
    case 0xB: return {0, 1, 2};  // FL FR LFE: the LFE is the last plane and third channel either way
    default: {
      std::vector<uint32_t> order(ChannelCount(config));
      for (uint32_t k = 0; k < order.size(); ++k) order[k] = k;
      return order;
    }
  }
}

const SnChannelConfig kLayouts[] = {StandardConfig(kMaskStereo), StandardConfig(kSpeakerCenter),
                                    StandardConfig(kMask51),     StandardConfig(kMask71),
                                    StandardConfig(0x3F),        StandardConfig(0xB),
                                    AnonymousConfig(3),          AnonymousConfig(5)};

TEST(MixKernels, InterleavingMatchesTheRampAndChannelMapOfEveryLayout) {
  for (SnChannelConfig config : kLayouts) {
    Planes in(config, 1024, config);
    const uint32_t channels = ChannelCount(config);
    std::vector<float> fast(size_t(channels) * 1024), plain(fast.size());
    const SnGainRamp ramp{1024, 1.0f / 1024.0f};
    MixKernels::InterleaveWithRamp(ramp, in.buffer, fast.data(), 0.25f, 0.75f);
    MixKernels::InterleaveWithRampPlain(ramp, in.buffer, plain.data(), 0.25f, 0.75f);
    EXPECT_EQ(fast, plain) << std::hex << config;
    // At unity all along, and with frames left over after the groups of four.
    std::vector<float> unityFast(fast.size(), -2.0f), unityPlain(fast.size(), -2.0f);
    const SnGainRamp unity{1021, 1.0f / 1021.0f};
    MixKernels::InterleaveWithRamp(unity, in.buffer, unityFast.data(), 1.0f, 1.0f);
    MixKernels::InterleaveWithRampPlain(unity, in.buffer, unityPlain.data(), 1.0f, 1.0f);
    EXPECT_EQ(unityFast, unityPlain) << std::hex << config;
    // A ramp over frames that are no whole number of groups of eight, nor of four.
    std::vector<float> oddFast(fast.size(), -2.0f), oddPlain(fast.size(), -2.0f);
    const SnGainRamp odd{1013, 1.0f / 1013.0f};
    MixKernels::InterleaveWithRamp(odd, in.buffer, oddFast.data(), 0.9f, 0.1f);
    MixKernels::InterleaveWithRampPlain(odd, in.buffer, oddPlain.data(), 0.9f, 0.1f);
    EXPECT_EQ(oddFast, oddPlain) << std::hex << config;
    const std::vector<uint32_t> order = ExpectedPlaneOrder(config);
    for (uint32_t t = 0; t < 1024; t += 31)
      for (uint32_t c = 0; c < channels; ++c) {
        const double gain = 0.25 + double(t) * 0.5 / 1024.0;
        const double expected = double(in.samples[order[c] * 1024 + t]) * gain;
        EXPECT_NEAR(fast[t * channels + c], expected, 1e-6) << std::hex << config << std::dec << " " << t << " " << c;
      }
  }
}

TEST(MixKernels, ARampFromSilenceGivesFrameTItsShareOfTheFrame) {
  std::vector<float> ones(2 * 1024, 1.0f);
  SnMixBuffer in;
  in.samples = ones.data();
  in.channelConfig = StandardConfig(kMaskStereo);
  in.maxFrames = in.validFrames = 1024;
  std::vector<float> out(2 * 1024);
  MixKernels::InterleaveWithRamp(SnGainRamp{1024, 1.0f / 1024.0f}, in, out.data(), 0.0f, 1.0f);
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[2 * 512 + 1], 0.5f);
  EXPECT_EQ(out[2 * 1023], 1023.0f / 1024.0f);
}

TEST(MixKernels, SixteenBitConversionLimitsRoundsAndFitsTheChannelCount) {
  // Planes FL FR FC SL SR LFE of 4 frames.
  const float planes[6 * 4] = {1.5f, -1.5f, 0.5f, -0.5f,          // FL
                               0.25f, -0.25f, 0.0f, 1.0f,         // FR
                               0.1f, 0.1f, 0.1f, 0.1f,            // FC
                               0.2f, 0.2f, 0.2f, 0.2f,            // SL
                               0.3f, 0.3f, 0.3f, 0.3f,            // SR
                               -1.0f, -1.0f, -1.0f, -1.0f};       // LFE
  int16_t six[6 * 4], plain[6 * 4];
  MixKernels::ToInt16WithRamp(planes, 4, six, 4, StandardConfig(kMask51), 6, 1.0f, 1.0f);
  MixKernels::ToInt16WithRampPlain(planes, 4, plain, 4, StandardConfig(kMask51), 6, 1.0f, 1.0f);
  EXPECT_TRUE(std::equal(six, six + 24, plain));
  EXPECT_EQ(six[0], 32767);            // 1.5 limited
  EXPECT_EQ(six[6], -32768);           // -1.5 limited
  EXPECT_EQ(six[12], 16384);           // 16383.5 to even
  EXPECT_EQ(six[18], -16384);
  EXPECT_EQ(six[1], 8192);             // 8191.75
  EXPECT_EQ(six[3], -32767);           // LFE fourth
  EXPECT_EQ(six[4], 6553);             // 6553.4
  // Into two channels the rest is dropped; into eight the missing two are silent.
  int16_t two[2 * 4], eight[8 * 4];
  MixKernels::ToInt16WithRamp(planes, 4, two, 4, StandardConfig(kMask51), 2, 1.0f, 1.0f);
  MixKernels::ToInt16WithRamp(planes, 4, eight, 4, StandardConfig(kMask51), 8, 1.0f, 1.0f);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(two[2 * t], six[6 * t]);
    EXPECT_EQ(two[2 * t + 1], six[6 * t + 1]);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(eight[8 * t + c], six[6 * t + c]);
    EXPECT_EQ(eight[8 * t + 6], 0);
    EXPECT_EQ(eight[8 * t + 7], 0);
  }
}

TEST(MixKernels, SixteenBitRampsMatchTheModelAndThePlainForm) {
  for (SnChannelConfig config : kLayouts) {
    Planes in(config, 512, config + 7);
    const uint32_t channels = ChannelCount(config);
    std::vector<int16_t> fast(channels * 512), plain(channels * 512);
    MixKernels::ToInt16WithRamp(in.samples.data(), 512, fast.data(), 512, config, channels, 1.0f, 0.5f);
    MixKernels::ToInt16WithRampPlain(in.samples.data(), 512, plain.data(), 512, config, channels, 1.0f, 0.5f);
    EXPECT_EQ(fast, plain) << std::hex << config;
    const std::vector<uint32_t> order = ExpectedPlaneOrder(config);
    for (uint32_t t = 0; t < 512; t += 17)
      for (uint32_t c = 0; c < channels; ++c) {
        const double value = double(in.samples[order[c] * 512 + t]) * (1.0 - 0.5 * t / 512.0) * 32767.0;
        EXPECT_NEAR(fast[t * channels + c], value, 0.51);
      }
  }
}

TEST(MixKernels, MatrixAddRampsEveryGainAndKeepsTheLfeApart) {
  // 5.1 into stereo and into 5.1; stereo into stereo. Matrices with rows of four gains.
  struct Case {
    SnChannelConfig in, out;
  } cases[] = {{StandardConfig(kMask51), StandardConfig(kMaskStereo)},
               {StandardConfig(kMaskStereo), StandardConfig(kMaskStereo)},
               {StandardConfig(kMask51), StandardConfig(kMask51)}};
  for (const Case& c : cases) {
    Planes in(c.in, 256, 3), out(c.out, 256, 4);
    const std::vector<float> before = out.samples;
    const uint32_t inN = ChannelCount(c.in), outN = ChannelCount(c.out);
    const uint32_t stride = (outN + 3) / 4 * 4;
    std::vector<float> previous(inN * stride), next(inN * stride);
    for (uint32_t i = 0; i < previous.size(); ++i) {
      previous[i] = 0.1f * float(i % 7);
      next[i] = 0.05f * float(i % 5);
    }
    MixKernels::AddWithMatrix(out.buffer, in.buffer, previous.data(), next.data(), 0.5f, 2.0f, 256);
    EXPECT_EQ(out.buffer.validFrames, 256);
    const bool lfe = HasLfe(c.in) && HasLfe(c.out);
    for (uint32_t o = 0; o < outN; ++o)
      for (uint32_t t = 0; t < 256; t += 13) {
        double expected = before[o * 256 + t];
        for (uint32_t i = 0; i < inN; ++i) {
          const bool inIsLfe = HasLfe(c.in) && i == inN - 1;
          const bool outIsLfe = HasLfe(c.out) && o == outN - 1;
          if (inIsLfe != outIsLfe || (inIsLfe && !lfe)) continue;
          const double g0 = double(previous[i * stride + o]) * 0.5;
          const double g1 = double(next[i * stride + o]) * 2.0;
          expected += double(in.samples[i * 256 + t]) * (g0 + t * (g1 - g0) / 256.0);
        }
        EXPECT_NEAR(out.samples[o * 256 + t], expected, 1e-5) << o << " " << t;
      }
  }
}

TEST(MixKernels, RampedAddMatchesItsPlainFormBitForBitAtEveryLengthAndStoresAsIfCleared) {
  // Lengths around the eight-frame vectors and the 32-frame unrolled step, gains falling and rising.
  for (uint32_t frames : {0u, 1u, 7u, 8u, 9u, 31u, 32u, 33u, 45u, 1024u, 1031u}) {
    Planes in(AnonymousConfig(1), uint16_t(frames + 1), frames), base(AnonymousConfig(1), uint16_t(frames + 1), 99);
    for (const float g0 : {0.75f, -0.3f}) {
      const float step = frames ? (0.2f - g0) / float(frames) : 0.0f;
      std::vector<float> wide = base.samples, plain = base.samples;
      MixKernels::AddRamped(in.samples.data(), wide.data(), g0, step, frames);
      MixKernels::AddRampedPlain(in.samples.data(), plain.data(), g0, step, frames);
      for (uint32_t t = 0; t <= frames; ++t) ASSERT_EQ(wide[t], plain[t]) << frames << " " << t;
      EXPECT_EQ(wide[frames], base.samples[frames]) << "past the frames nothing is touched";
      std::vector<float> stored = base.samples, cleared(frames + 1, 0.0f);
      MixKernels::SetRamped(in.samples.data(), stored.data(), g0, step, frames);
      MixKernels::AddRampedPlain(in.samples.data(), cleared.data(), g0, step, frames);
      for (uint32_t t = 0; t < frames; ++t) ASSERT_EQ(stored[t], cleared[t]) << frames << " " << t;
    }
  }
}

TEST(MixKernels, OverwritingMatrixAddEqualsClearingFirstAndClearsPlanesNoPairReaches) {
  // Stereo into 5.1 through a matrix reaching only the front pair, over planes longer than the frames
  // and full of old samples: everything the add would have seen as zero comes out zero.
  const SnChannelConfig in51 = StandardConfig(kMask51);
  Planes in(StandardConfig(kMaskStereo), 300, 5), stale(in51, 300, 6);
  Planes cleared(in51, 300, 7);
  std::fill(cleared.samples.begin(), cleared.samples.end(), 0.0f);
  float previous[16] = {}, next[16] = {};  // rows of eight gains for six outputs
  previous[0] = 0.5f, next[0] = 1.0f;  // left to left, ramping up
  previous[9] = 0.0f, next[9] = 0.8f;  // right to right, in from silence
  previous[8] = 0.3f, next[8] = 0.3f;  // right to left: the left plane's second pair adds
  MixKernels::AddWithMatrix(stale.buffer, in.buffer, previous, next, 0.9f, 1.1f, 256, true);
  MixKernels::AddWithMatrix(cleared.buffer, in.buffer, previous, next, 0.9f, 1.1f, 256);
  EXPECT_EQ(stale.buffer.validFrames, 256);
  for (size_t k = 0; k < stale.samples.size(); ++k) ASSERT_EQ(stale.samples[k], cleared.samples[k]) << k;
  EXPECT_NE(stale.samples[10], 0.0f);
  EXPECT_NE(stale.samples[300 + 10], 0.0f);
}

// A stereo voice sounding from frame `silent` to frame `heard` of a 512-frame frame, silence around:
// mixed only where it sounds, with the ramp over the whole frame, adding and overwriting, it gives
// the samples of mixing the whole frame.
void ExpectMixingWhereItSoundsEqualsMixingTheWholeFrame(uint32_t silent, uint32_t heard) {
  const SnChannelConfig stereo = StandardConfig(kMaskStereo);
  float previous[16] = {}, next[16] = {};
  previous[0] = 0.5f, next[0] = 1.0f;
  previous[4] = 0.25f, next[4] = 0.0f;
  previous[1] = 0.1f, next[1] = 0.7f;
  previous[5] = 0.6f, next[5] = 0.6f;
  Planes in(stereo, 512, 11 + silent);
  for (uint32_t c = 0; c < 2; ++c) {
    std::fill(in.samples.begin() + c * 512, in.samples.begin() + c * 512 + std::min(silent, 512u), 0.0f);
    std::fill(in.samples.begin() + c * 512 + std::min(heard, 512u), in.samples.begin() + (c + 1) * 512, 0.0f);
  }
  for (const bool overwrite : {false, true}) {
    Planes whole(stereo, 512, 12), part(stereo, 512, 12);
    MixKernels::AddWithMatrix(whole.buffer, in.buffer, previous, next, 0.9f, 1.1f, 512, overwrite);
    MixKernels::AddWithMatrix(part.buffer, in.buffer, previous, next, 0.9f, 1.1f, 512, overwrite, heard, silent);
    EXPECT_EQ(part.buffer.validFrames, 512);
    for (size_t k = 0; k < whole.samples.size(); ++k)
      ASSERT_EQ(part.samples[k], whole.samples[k]) << silent << " " << heard << " " << overwrite << " " << k;
  }
}

// A voice that ends inside the frame, at ends on and off the vector steps; an input with no frames
// heard leaves an added bus untouched.
TEST(MixKernels, MixingOnlyTheFramesHeardEqualsMixingTheSilentTailToo) {
  for (const uint32_t heard : {0u, 1u, 7u, 8u, 31u, 33u, 300u, 511u, 512u})
    ExpectMixingWhereItSoundsEqualsMixingTheWholeFrame(0, heard);
}

// A voice that starts inside the frame, perhaps ending in it too, at starts on and off the vector
// steps, each frame's gain where the whole frame's ramp puts it (and past its end: nothing mixed).
TEST(MixKernels, MixingFromTheFirstSoundingFrameEqualsMixingTheSilentStartToo) {
  for (const uint32_t heard : {512u, 301u})
    for (const uint32_t silent : {0u, 1u, 7u, 8u, 9u, 31u, 33u, 300u, 302u, 511u, 512u})
      ExpectMixingWhereItSoundsEqualsMixingTheWholeFrame(silent, heard);
}

class FilterCutoffTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LowerEngine::SetSampleRate(48000);
    LowerEngine::SetSamplesPerFrame(1024);
  }
};

TEST_F(FilterCutoffTest, ValuesMapOntoTheCurveAndItsLimits) {
  LowerEngine::SetSampleRate(48000);
  LowerEngine::SetSamplesPerFrame(1024);
  EXPECT_NEAR(FilterCutoff(0.0f, false), 20000.0f, 0.01f);
  EXPECT_NEAR(FilterCutoff(15.0f, false), 7000.0 + 15 * 433.3333, 0.01);
  // From 30 on: 16.797443 x 2^(0.12432813 x (100 - value)), the power taken by a quadratic.
  for (float value : {30.0f, 45.0f, 60.0f, 77.5f, 90.0f, 100.0f}) {
    const double exact = 16.797443 * std::exp2(0.12432813 * (100.0 - value));
    EXPECT_NEAR(FilterCutoff(value, false), exact, exact * 0.006) << value;
  }
  // Motion voices: half of 375 Hz at 0, 1 Hz at 100.
  EXPECT_FLOAT_EQ(FilterCutoff(0.0f, true), 187.5f);
  EXPECT_FLOAT_EQ(FilterCutoff(100.0f, true), 1.0f);
  EXPECT_FLOAT_EQ(FilterCutoff(50.0f, true), 187.5f - 186.5f * 0.5f);
  // At 24 kHz the top is 0.45 x 24000.
  LowerEngine::SetSampleRate(24000);
  EXPECT_FLOAT_EQ(FilterCutoff(0.0f, false), 10800.0f);
  EXPECT_NEAR(FilterCutoff(100.0f, false), 16.8f, 0.1f);
}

}  // namespace

namespace {

using namespace SN;

// The played sample worked out in double precision: limited to -1..1, scaled, rounded half to even.
int16_t PlayedModel(double value) {
  value = value < -1.0 ? -1.0 : (value > 1.0 ? 1.0 : value);
  return int16_t(std::nearbyint(value * 32767.0));
}

TEST(MixKernels, FusedInterleaveToSixteenBitsMatchesThePlainFormAndTheModel) {
  const SnChannelConfig layouts[] = {StandardConfig(kMaskStereo), StandardConfig(kMask51), StandardConfig(kMask71),
                                     AnonymousConfig(3)};
  for (SnChannelConfig config : layouts) {
    const uint32_t channels = ChannelCount(config);
    // 1021 frames: the vector loops leave a tail. Samples up to 1.5 reach the limits.
    std::vector<float> samples(size_t(channels) * 1021);
    std::mt19937 random(config);
    std::uniform_real_distribution<float> value(-1.5f, 1.5f);
    for (float& s : samples) s = value(random);
    SnMixBuffer in{};
    in.samples = samples.data();
    in.channelConfig = config;
    in.maxFrames = in.validFrames = 1021;
    const SnGainRamp ramp{1021, 1.0f / 1021.0f};
    std::vector<int16_t> fast(size_t(channels) * 1021), plain(fast.size());
    MixKernels::InterleaveToInt16WithRamp(ramp, in, fast.data(), 0.5f, 1.0f);
    MixKernels::InterleaveToInt16WithRampPlain(ramp, in, plain.data(), 0.5f, 1.0f);
    EXPECT_EQ(fast, plain) << std::hex << config;
    const std::vector<uint32_t> order = ExpectedPlaneOrder(config);
    int differing = 0;
    for (uint32_t t = 0; t < 1021; ++t)
      for (uint32_t c = 0; c < channels; ++c) {
        const double gain = 0.5 + double(t) * 0.5 / 1021.0;
        const int16_t expected = PlayedModel(double(samples[order[c] * 1021 + t]) * gain);
        // Single precision may land a half-way case on the other side: one step at most.
        ASSERT_LE(std::abs(fast[t * channels + c] - expected), 1) << t << " " << c;
        differing += fast[t * channels + c] != expected;
      }
    EXPECT_LT(differing, int(channels) * 1021 / 100) << std::hex << config;
  }
}

TEST(MixKernels, FusedSixteenBitsLimitsAtPlusAndMinus32767AndTakesNaNAsSilence) {
  std::vector<float> samples = {2.0f, -2.0f, 1.0f, -1.0f, std::nanf(""), 0.5f, 0.0f, -0.5f};
  SnMixBuffer in{};
  in.samples = samples.data();
  in.channelConfig = StandardConfig(kMaskStereo);
  in.maxFrames = in.validFrames = 4;
  std::vector<int16_t> fast(8), plain(8);
  MixKernels::InterleaveToInt16WithRamp(SnGainRamp{4, 0.25f}, in, fast.data(), 1.0f, 1.0f);
  MixKernels::InterleaveToInt16WithRampPlain(SnGainRamp{4, 0.25f}, in, plain.data(), 1.0f, 1.0f);
  // Left plane 2, -2, 1, -1; right plane NaN, 0.5, 0, -0.5 (16383.5 rounds to the even 16384). A NaN
  // taken as the low limit would be a full-scale step, and a run of them full-scale DC.
  const std::vector<int16_t> expected = {32767, 0, -32767, 16384, 32767, 0, -32767, -16384};
  EXPECT_EQ(fast, expected);
  EXPECT_EQ(plain, expected);
}

}  // namespace
