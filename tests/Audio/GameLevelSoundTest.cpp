// The game's levels heard as a player goes through them: the engine's systems and the game's own
// scripts over the levels of the content tree, keys pressed on a test keyboard, and the sound system
// on its audio thread over the game's banks, the null output following a clock moved a frame at a
// time. Each level plays one tune at its level, whatever was played before it, and answers the sound
// keys.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Audio/SoundSystem.h"
#include "Base/Input/InputEvent.h"
#include "Core/Engine.h"
#include "Core/InputManager.h"
#include "Core/SkyNet.h"
#include "GameSoundCapture.h"
#include "Gameplay/GameLogic.h"
#include "Physics/PhysicsSystem.h"
#include "SoundTestTree.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/TestInput.h"
#include "tests/Support/ToneAnalysis.h"

namespace {

using AudioTest::kCaptureFrame;

class GameLevelSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path root = std::filesystem::current_path();
    Platform::SetTickSource(&AudioTest::CaptureNow);
    tree_ = std::make_unique<AudioTest::ScratchTree>(true);
    std::filesystem::create_directory_symlink(root / "content", "content");
    engine_->AddSystem(new Core::InputManager(&keys_));
    engine_->AddSystem(new Core::SkyNet());
    engine_->AddSystem(new Gameplay::GameLogic());
    engine_->AddSystem(new Physics::PhysicsSystem());
    engine_->AddSystem(new Audio::SoundSystem());
    engine_->Init();
    ASSERT_TRUE(SN::SoundEngine::IsInitialized());
    ASSERT_EQ(SN::SoundEngine::StartOutputCapture(u"capture.wav"), SN::SN_Success);
  }
  void TearDown() override {
    engine_->Teardown();
    engine_.reset();
    Platform::SetTickSource(nullptr);
    tree_.reset();
    const std::string log = log_.Take();
    EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
  }

  // One frame of the game, then one of the sound's clock.
  void Frames(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      engine_->FrameStep(1.0f / 60.0f);
      keys_.keyboard.Update();
      if (!AudioTest::RenderOneFrame([] { SN::SoundEngine::RenderAudio(); })) return;
      ++frame_;
    }
  }
  // A key down for one frame, then `after` frames more; the frame it was pressed in.
  size_t Press(Base::Keys key, size_t after) {
    const size_t at = frame_;
    keys_.keyboard.OnEvent(Base::InputEvent::Key(Base::KeyEvent_Down, uint32_t(key)));
    Frames(1);
    keys_.keyboard.OnEvent(Base::InputEvent::Key(Base::KeyEvent_Up, uint32_t(key)));
    Frames(after);
    return at;
  }
  std::vector<double> Capture() {
    EXPECT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
    Frames(1);
    return AudioTest::CapturedLeft("Sound/Banks/capture.wav");
  }

  OrvTest::LogCapture log_;
  std::unique_ptr<AudioTest::ScratchTree> tree_;
  OrvTest::TestInput keys_;
  std::unique_ptr<Core::Engine> engine_ = std::make_unique<Core::Engine>();
  size_t frame_ = 0;
};

bool Silent(const std::vector<double>& left, size_t firstFrame, size_t lastFrame) {
  for (size_t t = firstFrame * kCaptureFrame; t < lastFrame * kCaptureFrame; ++t)
    if (left.at(t) != 0.0) return false;
  return true;
}

// A suite (and a CTest entry) of its own for the sound keys, apart from the round trips.
class GameLevelKeysTest : public GameLevelSoundTest {};

// Six round trips, Splash -> Playground -> Sandbox -> Playground -> Splash, 20 frames a level: every
// level arrived at starts its tune a fixed time after it opens, and from its 12th frame on (the last
// level's tune faded out in 100 ms, its own faded in in 200) it sounds to the sample as the first
// Splash did, with no copy of an earlier tune beside it.
TEST_F(GameLevelSoundTest, SixRoundTripsLeaveOneTuneAtItsLevelInEveryLevel) {
  engine_->ChangeLevel("Splash");
  std::vector<size_t> arrivals{frame_};
  Frames(40);
  for (int trip = 0; trip < 6; ++trip)
    for (Base::Keys key : {Base::Key_Space, Base::Key_Space, Base::Key_Backspace, Base::Key_Backspace})
      arrivals.push_back(Press(key, 20));
  const std::vector<double> left = Capture();
  ASSERT_GE(left.size(), (arrivals.back() + 20) * kCaptureFrame);
  const size_t first = arrivals[0] * kCaptureFrame;
  EXPECT_GT(OrvTest::PowerAt(left, first + 12 * kCaptureFrame, first + 20 * kCaptureFrame, 220.0), 1e6);
  double loudest = 0.0;
  for (size_t t = first; t < first + 40 * kCaptureFrame; ++t) loudest = std::max(loudest, std::fabs(left[t]));
  for (size_t visit = 1; visit < arrivals.size(); ++visit) {
    const size_t at = arrivals[visit] * kCaptureFrame;
    for (size_t k = 12 * kCaptureFrame; k < 20 * kCaptureFrame; ++k)
      ASSERT_NEAR(left[at + k], left[first + k], 1.0) << "level " << visit << ", sample " << k << " of it";
  }
  for (size_t t = first; t < left.size(); ++t) ASSERT_LE(std::fabs(left[t]), loudest * 1.05) << "sample " << t;
}

// In each level in turn: T stops the tune (300 ms of fade) and starts it again, M takes the music
// away and back, N all sound, B plays the level's effect (the beep, or the Playground's bell), and C
// turns the tune tense at its next bar (within two seconds).
TEST_F(GameLevelKeysTest, EveryLevelAnswersTheSoundKeys) {
  struct Keyed {
    size_t stop, play, music, all, effect, mood;  // the frames the keys were pressed in
  };
  std::vector<Keyed> levels;
  engine_->ChangeLevel("Splash");
  Frames(20);
  for (int level = 0; level < 3; ++level) {
    if (level > 0) Press(Base::Key_Space, 20);  // on to the next level
    Keyed keyed{};
    keyed.stop = Press(Base::Key_T, 19);
    keyed.play = Press(Base::Key_T, 19);
    keyed.music = Press(Base::Key_M, 9);
    Press(Base::Key_M, 9);
    keyed.all = Press(Base::Key_N, 9);
    Press(Base::Key_N, 19);
    keyed.effect = Press(Base::Key_B, 9);
    keyed.mood = Press(Base::Key_C, 109);
    Press(Base::Key_C, 0);
    levels.push_back(keyed);
  }
  const std::vector<double> left = Capture();
  const char* names[] = {"Splash", "Playground", "Sandbox"};
  const double effectHz[] = {880.0, 784.0, 880.0};
  for (size_t i = 0; i < levels.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const Keyed& k = levels[i];
    EXPECT_TRUE(Silent(left, k.stop + 16, k.stop + 20)) << "T stopped the tune";
    EXPECT_GT(OrvTest::PowerAt(left, (k.play + 12) * kCaptureFrame, (k.play + 20) * kCaptureFrame, 220.0), 1e6);
    EXPECT_TRUE(Silent(left, k.music + 2, k.music + 10)) << "M took the music away";
    EXPECT_TRUE(Silent(left, k.all + 2, k.all + 10)) << "N took all sound away";
    const size_t from = (k.effect + 1) * kCaptureFrame;
    EXPECT_GT(OrvTest::PowerAt(left, from, from + 2 * kCaptureFrame, effectHz[i]), 1e5) << "B played an effect";
    const size_t tense = (k.mood + 100) * kCaptureFrame;
    EXPECT_GT(OrvTest::PowerAt(left, tense, tense + 9 * kCaptureFrame, 330.0),
              1e3 * OrvTest::PowerAt(left, tense, tense + 9 * kCaptureFrame, 220.0))
        << "C turned the tune tense";
  }
}

}  // namespace
