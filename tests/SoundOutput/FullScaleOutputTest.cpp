// The conversions every output plays through: samples holding NaNs, infinities and values far past
// full scale come out as silence where they were not a number and full scale where they were too
// loud. (The sinks and the capture meet the same frames in their own tests.)
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
