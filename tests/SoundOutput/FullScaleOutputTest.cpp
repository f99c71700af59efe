// The conversions every output plays through: samples holding NaNs, infinities and values far past
// full scale come out as silence where they were not a number and full scale where they were too
// loud. (The sinks and the capture meet the same frames in their own tests.)
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "tests/SoundOutput/BrokenFrames.h"

namespace {

using namespace SN;
using BrokenFrames::kInf;
using BrokenFrames::kNaN;
using BrokenFrames::Mix;

TEST(FullScaleOutput, TheClipTakesNaNAsSilenceAndHoldsEverythingElseToFullScaleInPlaceOrNot) {
  // Thirteen samples: three past the last whole step of four.
  const std::vector<float> in = {kNaN,  -kNaN, kInf,        -kInf, 3e37f,  -3e37f, 1.0000001f,
                                 -1.0f, 0.5f,  -0.0f, 33.0f, -2.0f, 0.999f};
  const std::vector<float> expected = {0.0f, 0.0f, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f,
                                       -1.0f, 0.5f, -0.0f, 1.0f, -1.0f, 0.999f};
  std::vector<float> out(in.size(), 9.0f);
  FrameConvert::ClipToFullScale(in.data(), out.data(), in.size());
  EXPECT_EQ(out, expected);
  std::vector<float> same = in;
  FrameConvert::ClipToFullScale(same.data(), same.data(), same.size());
  EXPECT_EQ(same, expected);
}

// What a source gives its voice: not finite is silence, past +24 dB (10^(24/20)) is +24 dB, and the
// pass tells whether it changed anything, in the steps of four and in the samples after them.
TEST(FullScaleOutput, ASourcesSamplesTakeNaNAndInfinityAsSilenceAndSayWhetherAnyWasHeld) {
  constexpr float kPlus24 = 15.848932f;
  const float past = std::nextafter(kPlus24, 20.0f);
  std::vector<float> samples = {kNaN,  -kNaN, kInf,  -kInf,  3e37f, -3e37f, past,
                                -1.0f, 0.5f,  -0.0f, 33.0f, -2.0f, -past};
  const std::vector<float> expected = {0.0f,  0.0f, 0.0f,  0.0f,    kPlus24, -kPlus24, kPlus24,
                                       -1.0f, 0.5f, -0.0f, kPlus24, -2.0f,   -kPlus24};
  EXPECT_TRUE(FrameConvert::HoldSourceSamples(samples.data(), samples.size()));
  EXPECT_EQ(samples, expected);
  // Within +24 dB, the steps of four and the tail alike: nothing held.
  std::vector<float> within = {kPlus24, -kPlus24, 1.0000001f, 2.0f, -0.0f, std::nextafter(kPlus24, 0.0f), -1.5f};
  const std::vector<float> before = within;
  EXPECT_FALSE(FrameConvert::HoldSourceSamples(within.data(), within.size()));
  EXPECT_EQ(within, before);
  for (size_t at : {size_t(1), size_t(5)}) {
    std::vector<float> one = before;
    one[at] = kInf;
    EXPECT_TRUE(FrameConvert::HoldSourceSamples(one.data(), one.size())) << at;
    EXPECT_EQ(one[at], 0.0f);
  }
}

// The fused pass the looping platform sink plays, into the mix's own layout (the capture's test meets
// a remapped one).
TEST(FullScaleOutput, SixteenBitFramesHoldNoNaNAsDCAndNothingPastFullScale) {
  const Mix stereo(StandardConfig(kMaskStereo));
  std::vector<float> scratch(size_t(kMaxFrameChannels) * BrokenFrames::kFrame);
  std::vector<int16_t> out(size_t(BrokenFrames::kFrame) * 2);
  ASSERT_TRUE(FrameConvert::MixToInt16(stereo.mix, BrokenFrames::kFrame, 1.0f, 1.0f, StandardConfig(kMaskStereo),
                                       scratch.data(), out.data()));
  BrokenFrames::ExpectPlayedStereo16(out, BrokenFrames::kFrame);
}

}  // namespace
