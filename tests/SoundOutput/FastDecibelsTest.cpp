// The fast decibel-to-linear conversion against the exact power of ten over the levels voices and buses
// use, and at the edges where the float's bits would otherwise wrap or the input is not a number.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"

namespace {

using SN::VoiceParams::FastDbToLinear;

// The quadratic on the mantissa is within 0.23 percent of 2^f over a whole octave; the rest is float
// rounding of the scaled exponent, some parts per million.
constexpr double kRelativeTolerance = 0.0025;

TEST(FastDecibels, FollowsThePowerOfTenFromSilenceToLoud) {
  double worst = 0.0;
  float previous = 0.0f;
  // Volumes, thresholds and bus ramps reach down to -96.3 dB; gains above 0 dB come from the
  // reciprocal of a cut, so the loud side is checked too.
  for (int hundredths = -9630; hundredths <= 2400; ++hundredths) {
    const float dB = float(hundredths) * 0.01f;
    const double exact = std::pow(10.0, double(dB) / 20.0);
    const float fast = FastDbToLinear(dB);
    worst = std::max(worst, std::fabs(fast / exact - 1.0));
    EXPECT_GE(fast, previous) << dB << " dB is quieter than the step below it";
    previous = fast;
  }
  EXPECT_LE(worst, kRelativeTolerance);
  // At 0 dB the correction polynomial at m = 1: 0.32518977 + 0.020805772 + 0.65304345.
  EXPECT_FLOAT_EQ(FastDbToLinear(0.0f), 0.99903899f);
  EXPECT_FLOAT_EQ(FastDbToLinear(-6.0f), SN::SnFastMath::DbToLinear(-6.0f));
}

TEST(FastDecibels, EdgesGiveSilenceOrTheLoudestFloatNeverAWrappedValue) {
  // 20 x -37 dB is the floor: just above it a tiny positive gain, below it silence.
  EXPECT_GT(FastDbToLinear(-739.9f), 0.0f);
  EXPECT_LT(FastDbToLinear(-739.9f), 1e-36f);
  EXPECT_EQ(FastDbToLinear(-740.1f), 0.0f);
  EXPECT_EQ(FastDbToLinear(-std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(FastDbToLinear(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  // Past about 770 dB the exponent would run into the sign bit: a loud request must stay loud.
  const float loud = FastDbToLinear(760.0f);
  EXPECT_GT(loud, 1e37f);
  for (float dB : {780.0f, 800.0f, 1e6f, std::numeric_limits<float>::infinity()}) {
    EXPECT_TRUE(std::isfinite(FastDbToLinear(dB))) << dB;
    EXPECT_GE(FastDbToLinear(dB), loud) << dB;
  }
}

}  // namespace
