// The small linear resampler against values worked out by hand, across the boundary of two calls.
#include <gtest/gtest.h>

#include <vector>

#include "SoundEngine/Lower/LinearResampler.h"

namespace {

using SN::CSnLinearResampler;

TEST(LinearResampler, UpsamplingByTwoPutsMidpointsBetweenFramesAndAcrossCalls) {
  CSnLinearResampler resampler;
  ASSERT_TRUE(resampler.Init(1, 2, 1));
  const float first[] = {0.0f, 1.0f, 3.0f};
  const float second[] = {5.0f, 5.0f};
  std::vector<float> out(resampler.MaxOutputFrames(3));
  // Positions 0, 0.5, 1, 1.5, 2 of the first call; 2.5 waits for the next frame.
  ASSERT_EQ(resampler.Process(first, 3, out.data(), uint32_t(out.size())), 5u);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 5), (std::vector<float>{0.0f, 0.5f, 1.0f, 2.0f, 3.0f}));
  ASSERT_EQ(resampler.Process(second, 2, out.data(), uint32_t(out.size())), 4u);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 4), (std::vector<float>{4.0f, 5.0f, 5.0f, 5.0f}));
}

TEST(LinearResampler, DownsamplingKeepsEveryOtherFrameOfEachChannelAndRefusesBadFormats) {
  CSnLinearResampler resampler;
  ASSERT_TRUE(resampler.Init(2, 1, 2));
  const float in[] = {1.0f, -1.0f, 2.0f, -2.0f, 3.0f, -3.0f, 4.0f, -4.0f};
  std::vector<float> out(2 * resampler.MaxOutputFrames(4));
  ASSERT_EQ(resampler.Process(in, 4, out.data(), uint32_t(out.size() / 2)), 2u);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 4), (std::vector<float>{1.0f, -1.0f, 3.0f, -3.0f}));
  EXPECT_FALSE(resampler.Init(0, 44100, 2));
  EXPECT_FALSE(resampler.Init(48000, 44100, 0));
  EXPECT_FALSE(resampler.Init(48000, 44100, CSnLinearResampler::kMaxChannels + 1));
}

TEST(LinearResampler, ALongRunGivesExactlyItsShareOfFrames) {
  CSnLinearResampler resampler;
  ASSERT_TRUE(resampler.Init(48000, 44100, 1));
  std::vector<float> in(1024, 0.0f), out(resampler.MaxOutputFrames(1024));
  uint64_t made = 0;
  for (int frame = 0; frame < 375; ++frame) made += resampler.Process(in.data(), 1024, out.data(), uint32_t(out.size()));
  // 375 frames of 1024 are 8 s at 48000 Hz: 352800 frames at 44100 Hz.
  EXPECT_EQ(made, 352800u);
}

}  // namespace
