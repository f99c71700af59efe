// The conversions every output plays through: a frame holding NaNs, infinities and values far past
// full scale comes out as silence where it was not a number and full scale where it was too loud, as
// 16-bit or float frames, in the mix's own layout and remapped into another. (The sinks and the
// capture meet the same frames in their own tests.)
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/FrameConvert.h"
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

TEST(FullScaleOutput, SixteenBitFramesOfTheMixLayoutOrAnotherHoldNoNaNAsDCAndNoWrap) {
  // The fused pass of a stereo mix into stereo, as the looping platform sink and the capture take it.
  const Mix stereo(StandardConfig(kMaskStereo));
  std::vector<float> scratch(size_t(kMaxFrameChannels) * BrokenFrames::kFrame);
  std::vector<int16_t> out(size_t(BrokenFrames::kFrame) * 2);
  ASSERT_TRUE(FrameConvert::MixToInt16(stereo.mix, BrokenFrames::kFrame, 1.0f, 1.0f, StandardConfig(kMaskStereo), scratch.data(),
                                       out.data()));
  BrokenFrames::ExpectPlayedStereo16(out, BrokenFrames::kFrame);

  // Five-one remapped into stereo: the fronts fold the centre and surrounds in at 0.707 before the
  // limit, so a NaN anywhere in the fold silences its side and any infinity takes it to full scale.
  // Planes: front left, front right, centre, left and right surround, LFE.
  auto quiet = [](uint32_t c, uint32_t t) { return c == 2 && t == 1 ? kNaN : (c == 3 && t == 2 ? kInf : 0.25f); };
  const Mix wide(StandardConfig(kMask51), quiet);
  ASSERT_TRUE(FrameConvert::MixToInt16(wide.mix, BrokenFrames::kFrame, 1.0f, 1.0f, StandardConfig(kMaskStereo), scratch.data(),
                                       out.data()));
  // 0.25 + 0.707 x (0.25 + 0.25) = 0.6035 on each side: 19775.3 gives 19775.
  EXPECT_EQ(out[0], 19775);
  EXPECT_EQ(out[1], 19775);
  EXPECT_EQ(out[2], 0) << "a NaN centre silences the left it folds into";
  EXPECT_EQ(out[3], 0) << "and the right";
  EXPECT_EQ(out[4], 32767) << "an infinite left surround takes the left to full scale";
  EXPECT_EQ(out[5], 19775);
}

TEST(FullScaleOutput, RemappedFloatFramesAreHeldAfterTheFoldAsTheyAreWithoutIt) {
  // Five-one interleaved (front left, front right, centre, LFE, surrounds) into stereo: a loud fold
  // sums past full scale, and a broken speaker the output lacks reaches the fronts through it.
  const std::vector<float> in = {0.5f, -0.5f, 0.9f, 0.3f, 0.9f, -0.9f,   // 0.5 + 1.2726: past full scale
                                 0.1f, 0.2f,  kNaN, 0.0f, 0.0f, 0.0f,    // a NaN centre
                                 0.1f, 0.2f,  0.0f, kInf, 0.0f, -kInf};  // the LFE is dropped
  std::vector<float> out(6, 9.0f);
  FrameConvert::InterleavedToFloat(in.data(), StandardConfig(kMask51), out.data(), StandardConfig(kMaskStereo), 3);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_FLOAT_EQ(out[1], -0.5f + 0.707f * 0.9f - 0.707f * 0.9f);
  EXPECT_EQ(out[2], 0.0f);
  EXPECT_EQ(out[3], 0.0f);
  EXPECT_EQ(out[4], 0.1f);
  EXPECT_EQ(out[5], -1.0f);
}

}  // namespace
