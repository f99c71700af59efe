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
// on an item's first sample. An item at the output's own rate whose position falls on its first
// sample gives its samples as they are; after a resampled item it steps from where that one left
// off, the interpolation from its last sample included, as any other. The position and the last
// sample carry over each join: the last 16-bit sample goes through float (x / 32768, then x 32767
// rounded); the last item steps down to the silence after it.
std::vector<double> ChainModel(const std::vector<Item>& items) {
  std::vector<double> out;
  double previous = 0.0;
  uint64_t p = 0x10000;
  for (size_t k = 0; k < items.size(); ++k) {
    std::vector<double> x = items[k].samples;
    if (k + 1 == items.size()) x.push_back(0.0);
    const uint64_t s = items[k].step;
    if (s == 0x10000 && p == 0x10000) {
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

// Two items whose voices may go virtual, and do while the game parameter Cull is at 100 (-200 dB).
std::string CulledItemsBank() {
  std::string text = "platform Linux\ntone FirstA 48000 1 50 600\ntone NextB 48000 1 100 900\n";
  for (const char* name : {"FirstA", "NextB"})
    text += std::string("sound ") + name + " " + name + " Effects inaudible virtual\nrtpc " + name +
            " volume Cull 0:0 100:-200\n";
  return text;
}

// A sample-accurate dynamic sequence on the test object playing `first`, then `next` after `delayMs`:
// its id, 0 when it could not be set going.
uint32_t PlayDynamicPair(const char* first, const char* next, uint32_t delayMs) {
  return PlayDynamicSequence(kObject, {{first, 0}, {next, delayMs}});
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

  // The chain's model heard from the capture's second frame on, silence before and after it.
  void ExpectChainAfterOneFrame(const std::array<std::vector<double>, 2>& planes, const std::vector<double>& model) {
    ASSERT_GE(planes[0].size(), kFrame + model.size() + kFrame);
    ExpectModel(planes, 0, [&](size_t t) {
      return t >= kFrame && t < kFrame + model.size() ? model[t - kFrame] * kVoiceUnity * kCentreToPair : 0.0;
    });
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
  ExpectChainAfterOneFrame(planes, model);
}

// The other way round and on: a resampled item into one copied at the output rate, a pitched one into
// an unpitched one at the same rate (the join then falls between two output samples, and the rest
// is stepped at that phase), and a resampled one into another of another ratio.
TEST_F(SampleAccurateChainTest, ResampledItemsGoOnIntoCopiedOnesWithoutASkip) {
  const auto planes = PlayChain({{"SlowA 24000 1 45 700", ""},
                                 {"CopyB 48000 1 30 1000", ""},
                                 {"HighC 48000 1 30 300", "pitch 300"},
                                 {"PlainD 48000 1 30 500", ""},
                                 {"OddE 32000 1 20 400", ""}},
                                10);
  const std::vector<double> model = ChainModel({{OwnMedia("SlowA"), Step(0.0f, 24000)},
                                                {OwnMedia("CopyB"), Step(0.0f, 48000)},
                                                {OwnMedia("HighC"), Step(300.0f, 48000)},
                                                {OwnMedia("PlainD"), Step(0.0f, 48000)},
                                                {OwnMedia("OddE"), Step(0.0f, 32000)}});
  ExpectChainAfterOneFrame(planes, model);
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

// A sample-accurate sequence whose voice goes virtual (culled by a -200 dB curve, as its bank says it
// may) over the end of its first item: the second goes on in the silence, and is heard again on the
// very samples an uninterrupted play has there.
TEST_F(SampleAccurateChainTest, TheNextItemGoesOnWhileTheVoiceIsVirtual) {
  LoadOwnBank(CulledItemsBank() + "sequence Chain Effects FirstA NextB continuous transition 4 0\n" +
              "action Play_Chain_Act 0x0403 Chain\nevent Play_Chain Play_Chain_Act\n");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Chain", kObject), 0u);
  // Heard for two frames, culled for the two the first item ends in (3424, 352 samples into the
  // first of them), then heard again.
  for (uint32_t frame = 1; frame < 11; ++frame) {
    const bool culled = frame == 3 || frame == 4;
    ASSERT_EQ(SoundEngine::SetRTPCValue("Cull", culled ? 100.0f : 0.0f, kObject), SN_Success);
    Frames(1);
    CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
    if (frame < 8) {
      ASSERT_NE(voice, nullptr) << "frame " << frame;
      EXPECT_EQ(voice->IsVirtual(), culled) << "frame " << frame;
    }
  }
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> first = OwnMedia("FirstA"), next = OwnMedia("NextB");
  ASSERT_EQ(first.size(), 2400u);
  ASSERT_EQ(next.size(), 4800u);
  ASSERT_GE(planes[0].size(), 11u * kFrame);
  const size_t second = kFrame + first.size();
  double loudest = 0.0;
  ExpectModel(planes, 0, [&](size_t t) {
    double sample = 0.0;
    if (t >= 3 * kFrame && t < 5 * kFrame) return 0.0;
    if (t >= kFrame && t < second) sample = first[t - kFrame];
    if (t >= second && t < second + next.size()) sample = next[t - second];
    if (t >= 5 * kFrame) loudest = std::max(loudest, std::fabs(sample));
    return sample * kVoiceUnity * kCentreToPair;
  });
  EXPECT_GT(loudest, 0.1);
}

// The same in a sample-accurate dynamic sequence whose second item waits after the first: its wait
// counts on in the silence, whether it ends in the rest of the frame the first ended in (5 ms), in
// the next, also culled (20 ms), or once the voice is heard again (40 ms), or there is none.
class VirtualWaitTest : public SoundEndToEndTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(VirtualWaitTest, TheWaitingItemIsHeardItsWaitAfterTheOneBefore) {
  const uint32_t delayMs = GetParam();
  LoadOwnBank(CulledItemsBank());
  Frames(1);
  const uint32_t id = PlayDynamicPair("FirstA", "NextB", delayMs);
  ASSERT_NE(id, 0u);
  // Heard for two frames of the first item, culled for the two it ends in, then heard again.
  size_t start = SIZE_MAX;
  for (uint32_t frame = 1; frame < 13; ++frame) {
    const bool culled = start != SIZE_MAX && (frame == start / kFrame + 2 || frame == start / kFrame + 3);
    ASSERT_EQ(SoundEngine::SetRTPCValue("Cull", culled ? 100.0f : 0.0f, kObject), SN_Success);
    Frames(1);
    if (start == SIZE_MAX && VoiceManager::ActiveInstanceCount() != 0) start = size_t(frame) * kFrame;
  }
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Seq::Close(id), SN_Success);
  const auto planes = Capture();
  ASSERT_NE(start, SIZE_MAX);
  const std::vector<double> first = OwnMedia("FirstA"), next = OwnMedia("NextB");
  ASSERT_EQ(first.size(), 2400u);
  const size_t culledFrom = start + 2 * kFrame, heardFrom = start + 4 * kFrame;
  const size_t second = start + first.size() + 48 * delayMs;
  ASSERT_GE(planes[0].size(), second + next.size());
  double loudest = 0.0;
  ExpectModel(planes, 0, [&](size_t t) {
    if (t >= culledFrom && t < heardFrom) return 0.0;
    const double sample = (t >= start ? At(first, t - start) : 0.0) + (t >= second ? At(next, t - second) : 0.0);
    if (t >= heardFrom) loudest = std::max(loudest, std::fabs(sample));
    return sample * kVoiceUnity * kCentreToPair;
  });
  EXPECT_GT(loudest, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Waits, VirtualWaitTest, ::testing::Values(0u, 5u, 20u, 40u));

// A sample-accurate dynamic sequence of the game's beep twice, the second after a wait: it is heard
// from the sample its wait after the first beep's end, whether that falls in a later frame (23 ms)
// or in the rest of the frame the first ended in (1 ms; the beep ends 704 samples into its fifth).
class DelayedDynamicItemTest : public SoundEndToEndTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(DelayedDynamicItemTest, TheDelayedItemIsHeardItsDelayAfterTheOneBefore) {
  const uint32_t delayMs = GetParam();
  Frames(1);
  const uint32_t id = PlayDynamicPair("Beep", "Beep", delayMs);
  ASSERT_NE(id, 0u);
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
