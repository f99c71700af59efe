// Continuous sequences at a trigger rate heard end to end: every item begins one rate after the one
// before it, to the sample, also when the rate is no whole number of frames and items begin mid-frame.
#include <cmath>
#include <string>
#include <vector>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

class TriggerRateTest : public SoundEndToEndTest {
 protected:
  // A continuous sequence of `count` sounds at a trigger rate of `rateMs`, each playing a tone of
  // `toneMs` of its own (a steady level of 0.5 when `steady`, else a sine of its own frequency) shifted
  // by `cents`, posted after one frame and rendered until the last has played out: the capture's planes.
  std::array<std::vector<double>, 2> PlayAtRate(uint32_t rateMs, uint32_t count, uint32_t toneMs, bool steady,
                                                int cents = 0) {
    std::string text = "platform Linux\n", children;
    for (uint32_t i = 0; i < count; ++i) {
      const std::string n = std::to_string(i), shift = std::to_string(cents);
      text += "tone T" + n + " 48000 1 " + std::to_string(toneMs) + " " +
              (steady ? "0.5 dc" : std::to_string(400 + 100 * i)) + "\nsound S" + n + " T" + n + " Effects\n";
      // A flat curve: the same shift whatever the game parameter holds.
      if (cents) text += "rtpc S" + n + " pitch Bend 0:" + shift + " 100:" + shift + "\n";
      children += " S" + n;
    }
    LoadOwnBank(text + "sequence Trig Effects" + children + " continuous transition 5 " + std::to_string(rateMs) +
                "\naction Play_Trig_Act 0x0403 Trig\nevent Play_Trig Play_Trig_Act\n");
    Frames(1);
    EXPECT_NE(SoundEngine::PostEvent("Play_Trig", kObject), 0u);
    Frames(uint32_t((size_t(std::max(rateMs, 22u)) * count + toneMs) * 48 / kFrame + 4));
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
  }

  // Where each item should begin: the first on the frame after the post's, each next `step` on.
  static std::vector<size_t> Every(size_t step, size_t count) {
    std::vector<size_t> at;
    for (size_t n = 0; n < count; ++n) at.push_back(kFrame + n * step);
    return at;
  }

  // The stretches in which the plane is not silent: {first sample, length}.
  static std::vector<std::pair<size_t, size_t>> Sounding(const std::vector<double>& plane) {
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t t = 0; t < plane.size(); ++t) {
      if (plane[t] == 0.0) continue;
      if (t == 0 || plane[t - 1] == 0.0) runs.push_back({t, 0});
      ++runs.back().second;
    }
    return runs;
  }
  static std::vector<size_t> Onsets(const std::vector<double>& plane) {
    std::vector<size_t> onsets;
    for (const auto& run : Sounding(plane)) onsets.push_back(run.first);
    return onsets;
  }

  // Every sample of the capture against the items' own media begun at `at`.
  void ExpectItemsAt(const std::array<std::vector<double>, 2>& planes, const std::vector<size_t>& at,
                     double lsb = 1.0) {
    std::vector<std::vector<double>> items;
    for (size_t n = 0; n < at.size(); ++n) items.push_back(OwnMedia(("T" + std::to_string(n)).c_str()));
    ASSERT_GE(planes[0].size(), at.back() + items.back().size());
    ExpectModel(planes, 0, [&](size_t t) {
      double sum = 0.0;
      for (size_t n = 0; n < at.size(); ++n) sum += t >= at[n] ? At(items[n], t - at[n]) : 0.0;
      return sum * kVoiceUnity * kCentreToPair;
    }, lsb);
  }
};

// Steady items of 10 ms (480 samples) lie apart from one another: each item's onset is the first
// sample after silence, and lands on the sample one rate after the one before it.
TEST_F(TriggerRateTest, ItemsBeginOneRateApartWhenTheRateIsNoWholeNumberOfFrames) {
  // 50 ms is 2400 samples, two frames and 352 samples.
  auto planes = PlayAtRate(50, 6, 10, true);
  EXPECT_EQ(Onsets(planes[0]), Every(2400, 6));
  ExpectItemsAt(planes, Every(2400, 6));
}

TEST_F(TriggerRateTest, ItemsBeginOneRateApartWhenTheRateIsShorterThanTwoFrames) {
  // 37 ms is 1776 samples: within the engine's look-ahead, each next item is made at once.
  auto planes = PlayAtRate(37, 6, 10, true);
  EXPECT_EQ(Onsets(planes[0]), Every(1776, 6));
  ExpectItemsAt(planes, Every(1776, 6));
}

TEST_F(TriggerRateTest, ARateOfNothingBeginsEachItemOneFrameAfterTheOneBefore) {
  auto planes = PlayAtRate(0, 5, 10, true);
  EXPECT_EQ(Onsets(planes[0]), Every(kFrame, 5));
  ExpectItemsAt(planes, Every(kFrame, 5));
}

// Tones of 60 ms every 37 ms: each item still sounds as the next begins, and every item begins 1776
// samples after the one before it, however far into its frame that falls.
TEST_F(TriggerRateTest, OverlappingItemsBeginOneRateApart) {
  auto planes = PlayAtRate(37, 7, 60, false);
  // Two voices at full level sum the small errors of their own gains: half an LSB more room.
  ExpectItemsAt(planes, Every(1776, 7), 1.5);
}

// Shifted up 700 cents the items play faster, but time between their onsets is the output's: they
// still begin 2400 samples apart. Each lasts its 480 samples over the pitch ratio, within the sample
// the resampler's last step may add or leave; that last step leads from the item's last frame into the
// silence after it, so it may sound anywhere between the two.
TEST_F(TriggerRateTest, PitchedItemsBeginOneRateApart) {
  auto planes = PlayAtRate(50, 6, 10, true, 700);
  const double length = 480.0 / std::pow(2.0, 700.0 / 1200.0);
  const double level = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
  const auto runs = Sounding(planes[0]);
  EXPECT_EQ(Onsets(planes[0]), Every(2400, 6));
  for (const auto& [at, samples] : runs) {
    EXPECT_NEAR(double(samples), length, 1.0) << "item at " << at;
    for (size_t t = at; t + 1 < at + samples; ++t) ASSERT_NEAR(planes[0][t], level, 1.0) << "sample " << t;
    EXPECT_GT(planes[0][at + samples - 1], 0.0) << "item at " << at;
    EXPECT_LE(planes[0][at + samples - 1], level + 1.0) << "item at " << at;
  }
}

}  // namespace
