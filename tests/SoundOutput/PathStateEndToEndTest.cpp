// Where a sound's path leaves off: a step path's next play takes the next item, a continuous path's
// next play goes on from the item it reached until a stop begins it anew, and the items of a
// performance go on along one path. Heard on the front pair, every sample against the pan of the
// path's position worked out by hand.
#include <functional>
#include <numbers>
#include <set>

#include "Base/MathUtil.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

using Gains = std::array<double, 2>;

// The front pair's gains for a source at (x, 0, z): its azimuth rounded to 512ths of a circle between
// the pair at 45 degrees each side (sin(45 - a) left, sin(45 + a) right).
Gains PairGains(double x, double z) {
  const double units = std::atan2(x, z) * 512.0 / (2.0 * std::numbers::pi);
  // Rounded to whole units: no position of these paths lies near a half.
  EXPECT_GT(std::fabs(units - std::floor(units) - 0.5), 0.01) << x << ", " << z;
  const double a = std::floor(units + 0.5) * 2.0 * std::numbers::pi / 512.0;
  return {std::sin(std::numbers::pi / 4.0 - a), std::sin(std::numbers::pi / 4.0 + a)};
}

const Gains kLeftFront = PairGains(-10.0, 10.0);
const Gains kRightFront = PairGains(10.0, 10.0);
const Gains kAhead = PairGains(0.0, 10.0);

// The three points, one item each; `mode` the path's options.
std::string PointsPath(const std::string& mode) {
  return "path Points " + mode + "\n"
         "pathitem Points\npathvertex Points -10 0 10 0\n"
         "pathitem Points\npathvertex Points 10 0 10 0\n"
         "pathitem Points\npathvertex Points 0 0 10 0\n";
}

// The x of a sweep from the left front to the right front over 29 frames (600 ms of 21 ms frames), 10 m
// ahead, `steps` frames after it began, worked in float as the path steps it: begin + delta x t.
Gains SweepAt(size_t steps) {
  const float t = std::min(1.0f, float(steps) * (1.0f / 29.0f));
  return PairGains(double(-10.0f + 20.0f * t), 10.0);
}

class PathStateTest : public SoundEndToEndTest {
 public:
  // A level of 0.5 for three whole frames (a DC tone), with `more` bank text.
  void Load(const std::string& more) {
    LoadOwnBank("platform Linux\ntone Level 48000 1 64 0.5 dc\n" + more);
    Frames(1);
  }
  void Post(const char* event, uint32_t framesAfter) {
    ASSERT_NE(SoundEngine::PostEvent(event, kObject), 0u);
    Frames(framesAfter);
  }
  // Every sample of frames `first` to `last` of both channels: the level at the pair's gains of the
  // frame, `heard(frame)`, ramped across each frame from the frame before's, but held through the
  // first frame of a voice (`starts`). 1 LSB of room.
  void ExpectPan(const std::array<std::vector<double>, 2>& planes, size_t first, size_t last,
                 const std::function<Gains(size_t)>& heard, const std::set<size_t>& starts) {
    const double level = OwnMedia("Level")[0];
    ASSERT_GE(planes[0].size(), (last + 1) * kFrame);
    for (size_t frame = first; frame <= last; ++frame) {
      const Gains to = heard(frame), from = starts.count(frame) ? to : heard(frame - 1);
      for (int c = 0; c < 2; ++c)
        for (size_t i = 0; i < kFrame; ++i) {
          const double gain = from[c] + (to[c] - from[c]) * double(i) / double(kFrame);
          ASSERT_NEAR(planes[c][frame * kFrame + i], level * kVoiceUnity * gain * 32768.0, 1.0)
              << "channel " << c << " frame " << frame << " sample " << i;
        }
    }
  }
};

// Each play of a sound on a step path takes the item after the one its last play took, the first
// again after the last.
TEST_F(PathStateTest, AStepPathsNextPlayTakesTheNextItem) {
  Load(PointsPath("") + "sound Stepper Level Effects path Points\n"
                        "action Play_Stepper_Act 0x0403 Stepper\nevent Play_Stepper Play_Stepper_Act\n");
  for (int play = 0; play < 4; ++play) Post("Play_Stepper", 5);
  const Gains items[4] = {kLeftFront, kRightFront, kAhead, kLeftFront};
  for (size_t play = 0; play < 4; ++play)
    ExpectPan(Capture(), 1 + 5 * play, 3 + 5 * play, [&](size_t) { return items[play]; }, {1 + 5 * play});
}

// In random order the first play of a sound takes the first item and picks its index at random; each
// item's end picks the next play's item: index = rand() modulo 3. The generator worked alongside: each
// play draws three times to stray its point (by nothing) and once at its item's end.
TEST_F(PathStateTest, ARandomStepPathsNextPlayTakesTheItemItsLastPlayPicked) {
  Load(PointsPath("random") + "sound Picker Level Effects path Points\n"
                              "action Play_Picker_Act 0x0403 Picker\nevent Play_Picker Play_Picker_Act\n");
  const uint32_t before = Base::Rand15State();
  const uint32_t seed = 11;
  Base::SeedRand15(seed);
  for (int play = 0; play < 5; ++play) Post("Play_Picker", 5);
  Base::SeedRand15(before);
  uint32_t state = seed;
  auto draw = [&state] {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  };
  std::vector<uint32_t> items = {0};
  draw();  // the first pick, into the index only
  for (int play = 1; play < 5; ++play) {
    for (int i = 0; i < 3; ++i) draw();
    items.push_back(draw() % 3);
  }
  // Not one item throughout: the seed shows the picks.
  EXPECT_NE(std::set<uint32_t>(items.begin() + 1, items.end()).size(), 1u);
  const Gains points[3] = {kLeftFront, kRightFront, kAhead};
  const auto planes = Capture();
  for (size_t play = 0; play < 5; ++play)
    ExpectPan(planes, 1 + 5 * play, 3 + 5 * play, [&](size_t) { return points[items[play]]; }, {1 + 5 * play});
}

// A continuous path of two items: one frame at the left front, then at the right front for a second.
// A play that ends in the second item leaves the next play to begin there; a play stopped there
// leaves it to begin with the first again.
TEST_F(PathStateTest, AContinuousPathGoesOnFromTheItemItReachedUntilAPlayIsStopped) {
  Load("path Tour continuous\n"
       "pathitem Tour\npathvertex Tour -10 0 10 21\npathvertex Tour -10 0 10 0\n"
       "pathitem Tour\npathvertex Tour 10 0 10 1000\npathvertex Tour 10 0 10 0\n"
       "sound Tourer Level Effects path Tour\n"
       "action Play_Tourer_Act 0x0403 Tourer\nevent Play_Tourer Play_Tourer_Act\n"
       "action Stop_Tourer_Act 0x0103 Tourer\nevent Stop_Tourer Stop_Tourer_Act\n");
  Post("Play_Tourer", 5);   // frames 1-3
  Post("Play_Tourer", 2);   // frames 6-7, then stopped
  Post("Stop_Tourer", 3);   // frame 8 fades it out
  Post("Play_Tourer", 5);   // frames 11-13
  const auto planes = Capture();
  // The first item lasts one frame: frame k of a play from the first item hears step k + 1.
  ExpectPan(planes, 1, 3, [](size_t frame) { return frame == 1 ? kLeftFront : kRightFront; }, {1});
  ExpectPan(planes, 6, 7, [](size_t) { return kRightFront; }, {6});
  for (size_t frame = 9; frame < 11; ++frame)
    for (int c = 0; c < 2; ++c) ASSERT_EQ(planes[c][frame * kFrame], 0.0) << frame;
  ExpectPan(planes, 11, 13, [](size_t frame) { return frame == 11 ? kLeftFront : kRightFront; }, {11});
}

// Continuous sequences of two sounds of the level (three frames each, the second at once after the
// first) whose container carries the sweep: Kept's second item goes on along it from where the first
// left it; Renewed's, on a sweep made anew for each item, hears it from its beginning.
TEST_F(PathStateTest, AContinuousSequencesItemsGoOnAlongTheirContainersPath) {
  std::string bank;
  for (const std::string name : {"Kept", "Renewed"})
    bank += "path " + name + "Sweep" + (name == "Renewed" ? " relaunch" : "") + "\npathitem " + name +
            "Sweep\npathvertex " + name + "Sweep -10 0 10 600\npathvertex " + name + "Sweep 10 0 10 0\n"
            "sound " + name + "A Level Effects\nsound " + name + "B Level Effects\n"
            "sequence " + name + " Effects " + name + "A " + name + "B continuous transition 3 0 path " + name +
            "Sweep\naction Play_" + name + "_Act 0x0403 " + name + "\nevent Play_" + name + " Play_" + name +
            "_Act\n";
  Load(bank);
  Post("Play_Kept", 10);     // frames 1-6
  Post("Play_Renewed", 8);   // frames 11-16
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ExpectPan(planes, 1, 6, SweepAt, {1, 4});
  ExpectPan(planes, 11, 16, [](size_t frame) { return SweepAt(frame < 14 ? frame - 10 : frame - 13); }, {11, 14});
}

// The same of a sequence of three on a step path of the three points: the path has ended its item by
// the time the next sound comes, which begins it again at the item after.
TEST_F(PathStateTest, AContinuousSequencesItemsTakeTheNextItemsOfAStepPath) {
  Load(PointsPath("") + "sound First Level Effects\nsound Second Level Effects\nsound Third Level Effects\n"
                        "sequence Seq Effects First Second Third continuous transition 3 0 path Points\n"
                        "action Play_Seq_Act 0x0403 Seq\nevent Play_Seq Play_Seq_Act\n");
  Post("Play_Seq", 11);
  const Gains items[3] = {kLeftFront, kRightFront, kAhead};
  ExpectPan(Capture(), 1, 9, [&](size_t frame) { return items[(frame - 1) / 3]; }, {1, 4, 7});
}

// A continuous random container over two sounds of the level on a continuous path of two items: a
// sweep to the right front over three frames, and back over three. The second sound goes on back.
TEST_F(PathStateTest, AContinuousRandomContainersItemsGoOnThroughTheItemsOfItsPath) {
  Load("path Tour continuous\n"
       "pathitem Tour\npathvertex Tour -10 0 10 63\npathvertex Tour 10 0 10 0\n"
       "pathitem Tour\npathvertex Tour 10 0 10 63\npathvertex Tour -10 0 10 0\n"
       "sound One Level Effects\nsound Other Level Effects\n"
       "random Pick Effects One Other continuous transition 3 0 path Tour\n"
       "action Play_Pick_Act 0x0403 Pick\nevent Play_Pick Play_Pick_Act\n");
  Post("Play_Pick", 8);
  // Step s of the path: three steps out, a step of the first item's last vertex, three steps back.
  auto x = [](size_t s) {
    if (s <= 3) return -10.0f + 20.0f * (float(s) * (1.0f / 3.0f));
    if (s <= 4) return 10.0f;
    return 10.0f + -20.0f * (float(std::min<size_t>(s - 4, 3)) * (1.0f / 3.0f));
  };
  ExpectPan(Capture(), 1, 6, [&](size_t frame) { return PairGains(double(x(frame)), 10.0); }, {1, 4});
}

namespace Seq = SN::SoundEngine::DynamicSequence;

// A dynamic sequence of Swept, Swept and Placed, three frames each: the second Swept goes on along the
// sweep its first began; Placed, on a path of its own settings, is ahead from its first frame. Each
// item a voice of its own (`starts`, the first frames of the voices), or one voice throughout.
void ExpectDynamicSequence(PathStateTest& test, Seq::DynamicSequenceType type, const std::set<size_t>& starts) {
  test.Load("path Sweep\npathitem Sweep\npathvertex Sweep -10 0 10 600\npathvertex Sweep 10 0 10 0\n"
            "path Spot\npathitem Spot\npathvertex Spot 0 0 10 0\n"
            "sound Swept Level Effects path Sweep\n"
            "sound Placed Level Effects path Spot\n");
  const uint32_t id = Seq::Open(kObject, 0, nullptr, nullptr, type);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  ASSERT_NE(playlist, nullptr);
  for (const char* sound : {"Swept", "Swept", "Placed"})
    ASSERT_TRUE(playlist->Enqueue(SoundEngine::GetIDFromString(sound)));
  ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  ASSERT_EQ(Seq::Play(id), SN_Success);
  test.Frames(10);
  EXPECT_EQ(Seq::Close(id), SN_Success);
  test.Frames(1);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  // The sweep began with the first item in frame 1: frame k hears step k.
  test.ExpectPan(test.Capture(), 1, 9, [](size_t frame) { return frame < 7 ? SweepAt(frame) : kAhead; }, starts);
}

TEST_F(PathStateTest, ADynamicSequencesItemsGoOnAlongThePathOfTheirSettings) {
  ExpectDynamicSequence(*this, Seq::DynamicSequenceType_NormalTransition, {1, 4, 7});
}

TEST_F(PathStateTest, ASampleAccurateDynamicSequencesItemsGoOnAlongThePathOfTheirSettings) {
  ExpectDynamicSequence(*this, Seq::DynamicSequenceType_SampleAccurate, {1});
}

// Swept, then the game's beep 200 ms after it: the hand-on holds Swept's path while it waits, and the
// bank that brought Swept goes meanwhile. The path, still moving from vertex to vertex, keeps what it
// moves along until it is let go.
TEST_F(PathStateTest, APathHeldPastItsBanksUnloadKeepsTheSettingsItMovesAlong) {
  Load("path Sweep\npathitem Sweep\npathvertex Sweep -10 0 10 105\npathvertex Sweep 10 0 10 105\n"
       "pathvertex Sweep 0 0 10 0\nsound Swept Level Effects path Sweep\n");
  const uint32_t id = Seq::Open(kObject, 0, nullptr, nullptr, Seq::DynamicSequenceType_NormalTransition);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  ASSERT_NE(playlist, nullptr);
  ASSERT_TRUE(playlist->Enqueue(SoundEngine::GetIDFromString("Swept")));
  ASSERT_TRUE(playlist->Enqueue(SoundEngine::GetIDFromString("Beep"), 200));
  ASSERT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  ASSERT_EQ(Seq::Play(id), SN_Success);
  // Swept's three frames; its path goes to its next vertex at the fifth step, after the unload.
  Frames(4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_pPathMgr->Count(), 1u);
  ASSERT_EQ(SoundEngine::UnloadBank(SoundEngine::GetIDFromString("TimingBank"), own_.data()), SN_Success);
  Frames(15);
  EXPECT_EQ(Seq::Close(id), SN_Success);
  Frames(8);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_pPathMgr->Count(), 0u);
  // The beep was heard once its wait was over.
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  EXPECT_GT(*std::max_element(peaks.begin() + 10, peaks.end()), 1000.0);
}

}  // namespace
