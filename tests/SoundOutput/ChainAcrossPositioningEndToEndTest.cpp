// Sample-accurate chains whose items are placed otherwise: a 3D item into a plain one and back, into
// one of another attenuation, and a plain one into one on another bus. The join stays sample-exact;
// the frame it falls in is mixed as that frame began (as the item before the join is placed), the
// frame after moves over to the next item's placing in one ramp, and every frame after is the next
// item's own.
#include <cmath>
#include <numbers>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;
namespace Seq = SN::SoundEngine::DynamicSequence;

// Two tones (30 ms at 1 kHz, 100 ms at 500 Hz), each as a plain sound (sA, sB), placed by a flat 0 dB
// attenuation (vA, vB) or a flat -12 dB one (qB), and B on a bus of its own mix 12 dB down (oB); and
// each plain and placed at a volume of -12 dB (hA, hB; wA, wB), which a plain voice's gain carries and
// a placed voice's rays; and a pair of B's tone, plain at -12 dB (hP).
constexpr const char* kPlacedBank =
    "platform Linux\n"
    "tone ToneA 48000 1 30 1000\n"
    "tone ToneB 48000 1 100 500\n"
    "tone PairB 48000 2 100 500\n"
    "attenuation Flat\nattuse Flat 0 0\nattcurve Flat 0 0\nattpoint Flat 0 0 0 4\nattpoint Flat 0 100 0 4\n"
    "attenuation Low\nattuse Low 0 0\nattcurve Low 0 0\nattpoint Low 0 0 -12 4\nattpoint Low 0 100 -12 4\n"
    "bus Quiet Effects ownmix busvolume -12\n"
    "sound sA ToneA Effects\nsound vA ToneA Effects 3d Flat inaudible virtual\n"
    "sound sB ToneB Effects\nsound vB ToneB Effects 3d Flat inaudible virtual\n"
    "sound qB ToneB Effects 3d Low\nsound oB ToneB Quiet\n"
    "sound hA ToneA Effects volume -12\nsound wA ToneA Effects volume -12 3d Flat\n"
    "sound hB ToneB Effects volume -12\nsound wB ToneB Effects volume -12 3d Flat\n"
    "sound hP PairB Effects volume -12\n";

// One item of a chain as heard: its media (interleaved when it is a pair) and the gains its placing
// gives it on the left and right.
struct Placed {
  std::vector<double> samples;
  std::array<double, 2> gain;
  size_t channels = 1;
  size_t Frames() const { return samples.size() / channels; }
  double At(size_t i, int c) const { return samples[i * channels + (channels == 2 ? size_t(c) : 0)]; }
};

// Items played back to back from `start` (one of another layout than the item before from the frame
// after that one's end): every frame is mixed as the item playing at its first sample is placed; a
// frame whose item differs from the frame before's moves from the one gain to the other (each sample
// lies between the two, 1 LSB of room); every other sample is exact to 1 LSB.
void ExpectPlacedChain(const std::array<std::vector<double>, 2>& planes, size_t start, const std::vector<Placed>& items) {
  std::vector<size_t> begins;
  size_t end = start;
  for (size_t k = 0; k < items.size(); ++k) {
    if (k && items[k].channels != items[k - 1].channels) end = (end + kFrame - 1) / kFrame * kFrame;
    begins.push_back(end);
    end += items[k].Frames();
  }
  // The item sounding at `t`, or the one before it in a gap.
  auto itemAt = [&](size_t t) {
    size_t k = 0;
    while (k + 1 < items.size() && t >= begins[k + 1]) ++k;
    return k;
  };
  ASSERT_GE(planes[0].size(), end + kFrame);
  for (int c = 0; c < 2; ++c)
    for (size_t t = 0; t < planes[c].size(); ++t) {
      const double heard = planes[c][t];
      const size_t k = itemAt(t);
      if (t < start || t >= begins[k] + items[k].Frames()) {
        ASSERT_NEAR(heard, 0.0, 1.0) << "channel " << c << " sample " << t;
        continue;
      }
      const double sample = items[k].At(t - begins[k], c) * 32768.0;
      const size_t frame = t - t % kFrame;
      const size_t placing = itemAt(std::max(frame, start));
      const size_t before = frame >= kFrame + start ? itemAt(frame - kFrame) : placing;
      if (placing == before) {
        ASSERT_NEAR(heard, sample * items[placing].gain[c], 1.0) << "channel " << c << " sample " << t;
      } else {
        const double a = sample * items[before].gain[c], b = sample * items[placing].gain[c];
        ASSERT_GE(heard, std::min(a, b) - 1.0) << "channel " << c << " sample " << t;
        ASSERT_LE(heard, std::max(a, b) + 1.0) << "channel " << c << " sample " << t;
      }
    }
}

class ChainAcrossPositioningTest : public SoundEndToEndTest {
 protected:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    const SnSoundPosition position{{float(2.0 * std::sin(kAngle)), 0.0f, float(2.0 * std::cos(kAngle))},
                                   {0.0f, 0.0f, -1.0f}};
    ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  }
  // The sound's tone and the gains its placing gives it: a plain sound's centred between the front
  // pair; a placed one's its curve's dB through the fast conversion, split by the tangent law between
  // the pair at their default 45 degrees (sin(pi/8) left, sin(3 pi/8) right); a sound on Quiet its bus
  // volume's dB through the fast conversion.
  Placed Item(const std::string& sound) const {
    const char kind = sound[0];
    const std::array<double, 2> centred{kCentreToPair, kCentreToPair};
    const std::array<double, 2> right{std::sin(std::numbers::pi / 4 - kAngle), std::sin(std::numbers::pi / 4 + kAngle)};
    const std::array<double, 2> pan = kind == 's' || kind == 'o' || kind == 'h' ? centred : right;
    const double level = kind == 's' ? 1.0 : kind == 'v' ? kFastUnity : kind == 'h' ? FastDb(-12.0f) / kFastUnity
                                                                                   : FastDb(-12.0f);
    if (sound[1] == 'P') return Placed{OwnMedia("PairB"), {kVoiceUnity * level, kVoiceUnity * level}, 2};
    return Placed{OwnMedia(sound[1] == 'A' ? "ToneA" : "ToneB"), {kVoiceUnity * level * pan[0], kVoiceUnity * level * pan[1]}};
  }
  // The object 2 m away, 22.5 degrees to the right of the listener, facing it.
  static constexpr double kAngle = std::numbers::pi / 8.0;
};

class PlacedPairTest : public ChainAcrossPositioningTest,
                       public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

// Each direction as a sample-accurate sequence posted after one frame and heard for eight.
TEST_P(PlacedPairTest, TheNextItemGoesOnFromTheSampleTheFirstEndsAndIsHeardAsItIsPlaced) {
  const auto [first, second] = GetParam();
  LoadOwnBank(std::string(kPlacedBank) + "sequence Pair Effects " + first + " " + second +
              " continuous transition 4 0\naction Play_Pair_Act 0x0403 Pair\nevent Play_Pair Play_Pair_Act\n");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Pair", kObject), 0u);
  Frames(8);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  ExpectPlacedChain(Capture(), kFrame, {Item(first), Item(second)});
}

INSTANTIATE_TEST_SUITE_P(Directions, PlacedPairTest,
                         ::testing::Values(std::pair{"vA", "sB"}, std::pair{"sA", "vB"}, std::pair{"vA", "qB"},
                                           std::pair{"sA", "oB"}, std::pair{"vA", "oB"}, std::pair{"sA", "sB"},
                                           std::pair{"vA", "vB"}, std::pair{"wA", "hB"}, std::pair{"hA", "wB"},
                                           std::pair{"wA", "hP"}));

// The bank's own words for it: a looping sample-accurate sequence, or a random container that never
// plays a child twice running, of a placed item and a plain one, played by an event. Each item is
// heard from the sample the one before ends, as it is placed; the random's order is read from the
// capture's first item.
struct Loop {
  const char* kind;
  const char* first;
  const char* second;
  const char* options;
};
class PlacedLoopTest : public ChainAcrossPositioningTest, public ::testing::WithParamInterface<Loop> {};

TEST_P(PlacedLoopTest, EveryJoinOfTheLoopIsHeardAsItsItemsArePlaced) {
  const Loop loop = GetParam();
  LoadOwnBank(std::string(kPlacedBank) + loop.kind + " Sq Effects " + loop.first + " " + loop.second + loop.options +
              " continuous loop 2 transition 4 0\naction Play_Sq_Act 0x0403 Sq\nevent Play_Sq Play_Sq_Act\n");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Sq", kObject), 0u);
  Frames(16);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  Placed first = Item(loop.first), second = Item(loop.second);
  if (std::fabs(planes[1][kFrame + 20] - first.samples[20] * first.gain[1] * 32768.0) > 1.0) std::swap(first, second);
  ExpectPlacedChain(planes, kFrame, {first, second, first, second});
}

INSTANTIATE_TEST_SUITE_P(Containers, PlacedLoopTest,
                         ::testing::Values(Loop{"sequence", "vA", "sB", ""}, Loop{"sequence", "sA", "vB", ""},
                                           Loop{"random", "vA", "sB", " avoid 1"}));

// A dynamic sequence (sample-accurate) of the placed A, the plain B and the placed A again.
TEST_F(ChainAcrossPositioningTest, ADynamicSequenceGoesFromAPlacedItemToAPlainOneAndBack) {
  LoadOwnBank(kPlacedBank);
  Frames(1);
  const uint32_t id = PlayDynamicSequence(kObject, {{"vA", 0}, {"sB", 0}, {"vA", 0}});
  ASSERT_NE(id, 0u);
  Frames(12);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Seq::Close(id), SN_Success);
  const auto planes = Capture();
  // The first item begins with a frame; find which from the capture.
  size_t start = 0;
  while (start + 1 < planes[1].size() && planes[1][start] == 0.0 && planes[1][start + 1] == 0.0) ++start;
  start -= start % kFrame;
  ExpectPlacedChain(planes, start, {Item("vA"), Item("sB"), Item("vA")});
}

}  // namespace
