// Sample-accurate chains heard end to end: a sequence's items of other rates and pitches going on one
// into the next through one resampler, the step between their samples taken across the join, against
// a double-precision model of the interpolation; and a dynamic sequence's delayed item heard from the
// very sample its delay after the item before it ends.
#include <cmath>

#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;
namespace Seq = SN::SoundEngine::DynamicSequence;

// One item of a chain as the resampler steps over it: its samples and its 16.16 step, 2^(cents / 1200)
// x media rate / output rate, in single precision as the engine states it.
struct Item {
  std::vector<double> samples;
  uint32_t step;
};
uint32_t Step(float cents, uint32_t mediaRate) {
  const float ratio = float(mediaRate) / 48000.0f;
  return uint32_t(double(std::pow(2.0f, cents * 0.00083333335f)) * ratio * 65536.0 + 0.5);
}

// The outputs of items played one into the next: linear interpolation at 16.16 positions, position 1.0
// on an item's first sample; an item copied at its own rate gives its samples as they are. The
// position and the last sample carry over each join: the last 16-bit sample goes through float
// (x / 32768, then x 32767 rounded); the last item steps down to the silence after it.
std::vector<double> ChainModel(const std::vector<Item>& items) {
  std::vector<double> out;
  double previous = 0.0;
  uint64_t p = 0x10000;
  for (size_t k = 0; k < items.size(); ++k) {
    std::vector<double> x = items[k].samples;
    if (k + 1 == items.size()) x.push_back(0.0);
    const uint64_t s = items[k].step;
    if (s == 0x10000) {
      out.insert(out.end(), x.begin(), x.end() - (k + 1 == items.size() ? 1 : 0));
    } else {
      for (; (p >> 16) < x.size(); p += s) {
        const uint64_t i = p >> 16;
        const double a = i == 0 ? previous : x[i - 1];
        out.push_back(a + (x[i] - a) * double(p & 0xFFFF) / 65536.0);
      }
      p -= uint64_t(x.size()) << 16;
    }
    previous = std::round(float(float(x.back() * 32768.0) / 32768.0f) * 32767.0f) / 32768.0;
  }
  return out;
}

class SampleAccurateChainTest : public SoundEndToEndTest {
 protected:
  // A sample-accurate sequence of `tones` lines' sounds (with their options), posted after one frame
  // and rendered for `frames` more: the capture's planes.
  std::array<std::vector<double>, 2> PlayChain(const std::vector<std::pair<std::string, std::string>>& tones,
                                               uint32_t frames) {
    std::string text = "platform Linux\n", children;
    for (const auto& [tone, options] : tones) {
      const std::string name = tone.substr(0, tone.find(' '));
      text += "tone " + tone + "\nsound " + name + " " + name + " Effects " + options + "\n";
      children += " " + name;
    }
    LoadOwnBank(text + "sequence Chain Effects" + children + " continuous transition 4 0\n" +
                "action Play_Chain_Act 0x0403 Chain\nevent Play_Chain Play_Chain_Act\n");
    Frames(1);
    EXPECT_NE(SoundEngine::PostEvent("Play_Chain", kObject), 0u);
    Frames(frames);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
  }
};

// Two 24 kHz items of a constant level: the level holds across the join, the second item going on
// from the first's last sample, then steps down to silence over the last two outputs.
TEST_F(SampleAccurateChainTest, TwoConstantItemsAt24kHzKeepTheirLevelAcrossTheJoin) {
  const auto planes = PlayChain({{"LevelA 24000 1 50 0.5 dc", ""}, {"LevelB 24000 1 30 0.5 dc", ""}}, 6);
  const double level = OwnMedia("LevelA")[0];
  ASSERT_EQ(OwnMedia("LevelB")[0], level);
  // 1200 + 720 samples at half the output rate: 3840 outputs, the last of them half way down.
  ExpectModel(planes, 0, [&](size_t t) {
    const double gain = kVoiceUnity * kCentreToPair;
    if (t < kFrame || t >= kFrame + 3840) return 0.0;
    return (t == kFrame + 3839 ? level / 2 : level) * gain;
  });
}

// A 48 kHz item copied as it is, then a 24 kHz one resampled, then the same rate a fifth up: each
// join falls inside a frame, and every output follows the chain's model.
TEST_F(SampleAccurateChainTest, ItemsOfOtherRatesAndPitchesGoOnOneIntoTheNext) {
  const auto planes = PlayChain({{"CopyA 48000 1 30 1000", ""},
                                 {"SlowB 24000 1 45 700", ""},
                                 {"HighC 24000 1 40 300", "pitch 700"}},
                                8);
  const std::vector<double> model = ChainModel({{OwnMedia("CopyA"), Step(0.0f, 48000)},
                                                {OwnMedia("SlowB"), Step(0.0f, 24000)},
                                                {OwnMedia("HighC"), Step(700.0f, 24000)}});
  // 1440 outputs of the first, then the second's and the third's: both joins lie inside frames.
  ASSERT_GE(planes[0].size(), kFrame + model.size() + kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    return t >= kFrame && t < kFrame + model.size() ? model[t - kFrame] * kVoiceUnity * kCentreToPair : 0.0;
  });
}

// A mono item, then a stereo one: the voice cannot go on into another layout inside a frame, so the
// first ends 416 samples into a frame and the second begins with the next frame, on its own pair.
TEST_F(SampleAccurateChainTest, AnItemOfAnotherLayoutBeginsWithTheFrameAfterTheOneBeforeEnds) {
  const auto planes = PlayChain({{"MonoA 48000 1 30 1000", ""}, {"PairB 48000 2 30 500", ""}}, 6);
  const std::vector<double> mono = OwnMedia("MonoA"), pair = OwnMedia("PairB");
  ASSERT_EQ(mono.size(), 1440u);
  ASSERT_EQ(pair.size(), 2u * 1440u);
  const size_t second = 3 * kFrame;
  for (int c = 0; c < 2; ++c)
    for (size_t t = 0; t < planes[c].size(); ++t) {
      double expected = 0.0;
      if (t >= kFrame && t < kFrame + mono.size()) expected = mono[t - kFrame] * kVoiceUnity * kCentreToPair;
      if (t >= second && t < second + 1440) expected = pair[2 * (t - second) + size_t(c)] * kVoiceUnity;
      ASSERT_NEAR(planes[c][t], expected * 32768.0, 1.0) << "channel " << c << " sample " << t;
    }
}

// A sample-accurate dynamic sequence of the game's beep twice, the second after a wait: it is heard
// from the sample its wait after the first beep's end, whether that falls in a later frame (23 ms)
// or in the rest of the frame the first ended in (1 ms; the beep ends 704 samples into its fifth).
class DelayedDynamicItemTest : public SoundEndToEndTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(DelayedDynamicItemTest, TheDelayedItemIsHeardItsDelayAfterTheOneBefore) {
  const uint32_t delayMs = GetParam();
  Frames(1);
  const uint32_t id = Seq::Open(kObject);
  ASSERT_NE(id, 0u);
  ASSERT_EQ(Seq::Play(id), SN_Success);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  ASSERT_NE(playlist, nullptr);
  const uint32_t beepId = SoundEngine::GetIDFromString("Beep");
  ASSERT_TRUE(playlist->Enqueue(beepId, 0));
  ASSERT_TRUE(playlist->Enqueue(beepId, delayMs));
  ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  Frames(16);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Seq::Close(id), SN_Success);
  const auto planes = Capture();
  const std::vector<double> beep = Media("Beep");
  ASSERT_EQ(beep.size(), 4800u);
  // The first beep begins with a frame; find which from the capture.
  size_t start = 0;
  while (start < planes[0].size() && planes[0][start] == 0.0 && planes[0][start + 1] == 0.0) ++start;
  start -= start % kFrame;
  ASSERT_GE(planes[0].size(), start + 4800 + 48 * delayMs + 4800);
  const size_t second = start + 4800 + 48 * delayMs;
  ExpectModel(planes, 0, [&](size_t t) {
    const double first = t >= start ? At(beep, t - start) : 0.0;
    const double next = t >= second ? At(beep, t - second) : 0.0;
    return (first + next) * kVoiceUnity * kCentreToPair;
  });
}

INSTANTIATE_TEST_SUITE_P(Waits, DelayedDynamicItemTest, ::testing::Values(1u, 6u, 7u, 23u, 50u));

}  // namespace
