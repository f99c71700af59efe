// A pause of everything holds the fades of values as it holds the voices: a state change's fade on a
// sound stands still while everything (or everything but another sound) is paused, and goes on from
// where it stood once it resumes; so does a parent's own fade when a sound below it is spared. A
// game object's pause holds that object's own fades alone.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture; one
// of them is outside the file's anonymous namespace, and so is the fixture.
namespace EndToEnd {
class EverythingPausedEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// A steady level of 0.5 (a DC tone) looping; its state "Hushed" lowers it 20 dB over 420 ms.
const std::string kSteadyBank =
    "stategroup Hush 420\n"
    "stateprops Hushed volume=-20\n"
    "tone Steady 48000 1 100 0.5 dc\n"
    "sound Steady Steady Effects loop 0\n"
    "statemap Steady Hush Hushed=Hushed\n"
    "sound Other Steady Effects\n"
    "action Play_Steady_Act 0x0403 Steady bank TimingBank\n"
    "event Play_Steady Play_Steady_Act\n"
    "action Pause_But_Other_Act 0x0208 0 except Other\n"
    "event Pause_But_Other Pause_But_Other_Act\n"
    "action Resume_But_Other_Act 0x0308 0 except Other\n"
    "event Resume_But_Other Resume_But_Other_Act\n";

// 420 ms is 20 frames of the transition clock.
constexpr size_t kFadeFrames = 20;
constexpr size_t kBefore = 6;   // frames the fade runs before the pause
constexpr size_t kPaused = 30;  // longer than the whole fade

// Plays the steady level, sets the state, pauses with `pause` `kBefore` frames later and resumes with
// `resume` `kPaused` frames after that: the loudest sample of each frame of the capture.
std::vector<double> HeldStateFade(SoundEndToEndTest& test, const char* pause, const char* resume) {
  test.LoadOwnBank(kSteadyBank);
  EXPECT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  test.Frames(2);
  EXPECT_EQ(SoundEngine::SetState("Hush", "Hushed"), SN_Success);
  test.Frames(kBefore);
  EXPECT_NE(SoundEngine::PostEvent(pause, kObject), 0u);
  test.Frames(kPaused);
  EXPECT_NE(SoundEngine::PostEvent(resume, kObject), 0u);
  test.Frames(kFadeFrames + 6);
  return FramePeaks(test.Capture()[0]);
}

// The fade moves the gain in a straight line from 1 to 0.1, one step a frame from frame 2; each frame's
// loudest sample is its first. Paused frames are silent and take no step. Within half a percent: the
// engine's fast power of ten.
void ExpectHeldThenResumed(const std::vector<double>& peaks) {
  const double full = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
  const double lowered = std::pow(10.0, -20.0 / 20.0);
  const size_t pause = 2 + kBefore, resume = pause + kPaused;
  ASSERT_GE(peaks.size(), resume + kFadeFrames);
  for (size_t f = 0; f < peaks.size(); ++f) {
    if (f >= pause && f < resume) {
      ASSERT_EQ(peaks[f], 0.0) << "paused frame " << f;
      continue;
    }
    const size_t steps = std::min(kFadeFrames, f < pause ? (f > 2 ? f - 2 : 0) : f - kPaused - 2);
    const double gain = 1.0 + (lowered - 1.0) * double(steps) / double(kFadeFrames);
    ASSERT_NEAR(peaks[f], full * gain, 0.005 * full) << "frame " << f;
  }
}

TEST_F(EverythingPausedEndToEndTest, PausingEverythingHoldsAStateChangesFade) {
  ExpectHeldThenResumed(HeldStateFade(*this, "Pause_All", "Resume_All"));
}

// The fade is the sound's own: a pause that reaches the sound holds it, though other sounds play on.
TEST_F(EverythingPausedEndToEndTest, PausingEverythingButAnotherSoundHoldsTheSoundsStateFade) {
  ExpectHeldThenResumed(HeldStateFade(*this, "Pause_But_Other", "Resume_But_Other"));
}

}  // namespace

// Under the mixer Mix, a steady level of 0.5 looping (Spared, excepted from the pause) beside another
// sound; Mix's own volume fades down 20 dB over 420 ms, a straight line of decibels.
const std::string kSteadyUnderMix =
    "tone Steady 48000 1 100 0.5 dc\n"
    "sound Spared Steady Effects loop 0\n"
    "sound Paused Steady Effects loop 0\n"
    "mixer Mix Effects Spared Paused\n"
    "action Play_Spared_Act 0x0403 Spared\n"
    "event Play_Spared Play_Spared_Act\n";
const std::string kMixerBank =
    kSteadyUnderMix +
    "action Fade_Mix_Act 0x0A02 Mix value -20 0 0 fade 420 curve 4\n"
    "event Fade_Mix Fade_Mix_Act\n"
    "action Pause_But_Spared_Act 0x0208 0 except Spared\n"
    "event Pause_But_Spared Pause_But_Spared_Act\n"
    "action Resume_But_Spared_Act 0x0308 0 except Spared\n"
    "event Resume_But_Spared Resume_But_Spared_Act\n";

// The pause reaches Mix, though a child of it is spared: Mix's own fade stands where it was (7 dB
// down) while Spared plays on through the pause, and goes on from there once Mix resumes. Left
// running it would hold Spared at -20 dB from the pause's thirteenth frame on.
TEST_F(EverythingPausedEndToEndTest, PausingEverythingButASoundHoldsItsParentsOwnFade) {
  LoadOwnBank(kMixerBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Spared", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Mix", kObject), 0u);
  Frames(7);
  ASSERT_NE(SoundEngine::PostEvent("Pause_But_Spared", kObject), 0u);
  Frames(kPaused);
  ASSERT_NE(SoundEngine::PostEvent("Resume_But_Spared", kObject), 0u);
  Frames(kFadeFrames);
  // One step of -1 dB a frame from frame 3; none while paused. Each frame is loudest as it begins.
  const size_t pause = 9, resume = pause + kPaused;
  ExpectPeaks(*this, resume + kFadeFrames, [&](size_t f) {
    const size_t moving = f < pause ? f : f < resume ? pause : f - kPaused;
    const double steps = double(std::min<size_t>(kFadeFrames, moving > 2 ? moving - 2 : 0));
    return std::pow(10.0, -steps / 20.0);
  }, 0.005);
}

namespace {

using namespace EndToEnd;

// Object B (the fixture's) plays Spared under Mix and fades Mix's volume for itself alone down 20 dB
// over 420 ms; object A plays nothing. Each object's scopes, of everything or everything but Spared,
// and those of every object.
const std::string kTwoObjectsBank =
    kSteadyUnderMix +
    "action Fade_Mix_Act 0x0A03 Mix value -20 0 0 fade 420 curve 4\n"
    "event Fade_Mix Fade_Mix_Act\n"
    "action Stop_Own_Act 0x0105 0\nevent Stop_Own Stop_Own_Act\n"
    "action Pause_Own_Act 0x0205 0\nevent Pause_Own Pause_Own_Act\n"
    "action Resume_Own_Act 0x0305 0\nevent Resume_Own Resume_Own_Act\n"
    "action Stop_OwnBut_Act 0x0109 0 except Spared\nevent Stop_OwnBut Stop_OwnBut_Act\n"
    "action Pause_OwnBut_Act 0x0209 0 except Spared\nevent Pause_OwnBut Pause_OwnBut_Act\n"
    "action Resume_OwnBut_Act 0x0309 0 except Spared\nevent Resume_OwnBut Resume_OwnBut_Act\n"
    "action Pause_Everyone_Act 0x0208 0 except Spared\nevent Pause_Everyone Pause_Everyone_Act\n"
    "action Resume_Everyone_Act 0x0308 0 except Spared\nevent Resume_Everyone Resume_Everyone_Act\n";

constexpr uint32_t kObjectA = 8;

class TwoObjectsPauseTest : public SoundEndToEndTest {
 public:
  // B plays Spared and, two frames on, fades Mix.
  void PlayAndFade() {
    LoadOwnBank(kTwoObjectsBank);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kObjectA), SN_Success);
    ASSERT_NE(SoundEngine::PostEvent("Play_Spared", kObject), 0u);
    Frames(2);
    ASSERT_NE(SoundEngine::PostEvent("Fade_Mix", kObject), 0u);
  }
  // Posts each event on `object` and renders `frames` frames after each.
  void Post(std::initializer_list<const char*> events, uint32_t object, uint32_t frames) {
    for (const char* event : events) {
      ASSERT_NE(SoundEngine::PostEvent(event, object), 0u) << event;
      Frames(frames);
    }
  }
  // One step of -1 dB a frame from frame 3, none in the frames [from, to) it is held; each frame is
  // loudest as it begins, and silent when `silent` says so.
  void ExpectFade(size_t frames, size_t from, size_t to, const std::function<bool(size_t)>& silent = nullptr) {
    ExpectPeaks(*this, frames, [&](size_t f) {
      if (silent && silent(f)) return 0.0;
      const size_t moving = f < from ? f : f < to ? from : f - (to - from);
      const double steps = double(std::min<size_t>(kFadeFrames, moving > 2 ? moving - 2 : 0));
      return std::pow(10.0, -steps / 20.0);
    }, 0.005);
  }
};

// A's stops, pauses and resumes of its everything and of its everything but Spared reach nothing of
// B's: B's fade of Mix runs straight down to -20 dB through them all, and Spared is heard throughout.
TEST_F(TwoObjectsPauseTest, AnObjectsScopesOfEverythingLeaveAnotherObjectsFadeRunning) {
  PlayAndFade();
  Frames(4);
  Post({"Pause_Own", "Pause_OwnBut", "Stop_Own", "Stop_OwnBut", "Resume_Own", "Resume_OwnBut"}, kObjectA, 3);
  Frames(8);
  ExpectFade(6 + 6 * 3 + 8, 0, 0);
}

// B's own pause of everything (Spared silent with it) or of everything but Spared holds its fade of
// Mix where it stood; B's resume lets it go on from there.
TEST_F(TwoObjectsPauseTest, AnObjectsPauseOfEverythingHoldsItsOwnFadeUntilItsResume) {
  for (const bool all : {true, false}) {
    SCOPED_TRACE(all ? "all" : "all but Spared");
    TearDown();
    SetUp();
    PlayAndFade();
    Frames(7);
    Post({all ? "Pause_Own" : "Pause_OwnBut"}, kObject, kPaused);
    Post({all ? "Resume_Own" : "Resume_OwnBut"}, kObject, kFadeFrames);
    const size_t pause = 9, resume = pause + kPaused;
    ExpectFade(resume + kFadeFrames, pause, resume, [&](size_t f) { return all && f >= pause && f < resume; });
  }
}

// Every object's pause holds B's fade; A's stops and resumes, of its everything or its everything but
// Spared, let none of it go. Every object's resume does.
TEST_F(TwoObjectsPauseTest, AnotherObjectsStopOrResumeLetsGoOfNoFadeThatEveryObjectsPauseHolds) {
  PlayAndFade();
  Frames(7);
  Post({"Pause_Everyone"}, kObject, 2);
  Post({"Stop_Own", "Stop_OwnBut", "Resume_Own", "Resume_OwnBut"}, kObjectA, 3);
  Post({"Resume_Everyone"}, kObject, kFadeFrames);
  const size_t pause = 9, resume = pause + 2 + 4 * 3;
  ExpectFade(resume + kFadeFrames, pause, resume);
}

}  // namespace
