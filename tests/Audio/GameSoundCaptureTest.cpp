// The game's sound heard: the sound system brought up over the game's banks with its audio thread,
// the null output following a clock the test moves a frame at a time, the system's frame step and
// window hooks driving it, and the output capture read back sample by sample against a model of the
// banks' tones and gains: the effects ducking the tune, minimising pausing it, the two mutes.
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

#include "Platform/Clock.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/VoiceManager.h"
#include "SoundTestTree.h"
#include "tests/Support/CaptureModel.h"
#include "tests/Support/ToneAnalysis.h"
#include "tools/SoundBank/BankText.h"

namespace {

using AudioTest::ScratchTree;

constexpr uint32_t kObject = 42;
constexpr uint32_t kFrame = 1024;
using OrvTest::kCentreToPair;
using OrvTest::kVoiceUnity;
using OrvTest::PowerAt;
// Init's music bus is 3 dB down; the effects duck it by 8 dB over 200 ms, of which a 100 ms beep
// leaves half.
const double kMusic = std::pow(10.0, -3.0 / 20.0) * kVoiceUnity * kCentreToPair;
const double kHeldDuck = std::pow(10.0, -4.0 / 20.0);

std::atomic<int64_t>& Ticks() {
  static std::atomic<int64_t> ticks{1000};
  return ticks;
}
int64_t Now() { return Ticks().load(); }

class GameSoundCaptureTest : public AudioTest::SoundSystemFixture {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Tools::ReadBankTextFile("content/banks/GeneralBank.txt", general_, error)) << error;
    Platform::SetTickSource(&Now);
    tree_ = std::make_unique<ScratchTree>(true);
    Start();
    ASSERT_TRUE(SN::SoundEngine::IsInitialized());
    ASSERT_EQ(SN::SoundEngine::RegisterGameObj(kObject, "Player"), SN::SN_Success);
    ASSERT_EQ(SN::SoundEngine::StartOutputCapture(u"capture.wav"), SN::SN_Success);
  }
  void TearDown() override {
    Stop();
    Platform::SetTickSource(nullptr);
    tree_.reset();
  }

  // Frames of the clock, each rendered by the audio thread woken by the system's frame step.
  void Frames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t before = 0;
      Rendered([&] { return before = SN::g_pAudioMgr->CurrentFrame(), true; });
      Ticks() += (int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000;
      Rendered([&] { return SN::g_pAudioMgr->CurrentFrame() > before; });
    }
  }
  template <typename Done>
  void Rendered(Done done) {
    std::vector<Core::GameSpace*> spaces;
    for (;;) {
      engine_.GetHooks().Call("FrameStep", 0.016f, &spaces);
      {
        Platform::ReentrantGuard guard(SN::GlobalAudioLock());
        if (done()) return;
      }
      std::this_thread::yield();
    }
  }
  // Ends the capture and reads it back: the left plane (the voices here are centred: the right is the same).
  std::vector<double> Capture() {
    EXPECT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
    Frames(1);
    std::ifstream in("Sound/Banks/capture.wav", std::ios::binary);
    const std::vector<int16_t> samples = OrvTest::WaveDataSamples(
        std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    std::vector<double> left;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
      EXPECT_EQ(samples[i], samples[i + 1]) << "sample " << i / 2;
      left.push_back(samples[i]);
    }
    return left;
  }
  std::vector<double> Media(const char* tone) const {
    std::vector<double> samples;
    for (const auto& media : general_.media)
      if (media.id == SN::SoundEngine::GetIDFromString(tone))
        for (int16_t sample : OrvTest::WaveDataSamples(media.bytes)) samples.push_back(sample / 32768.0);
    EXPECT_FALSE(samples.empty()) << tone;
    return samples;
  }
  // The looping drone `from` samples into its play, at the music bus's gain.
  double Tune(size_t from) const {
    static const std::vector<double> tune = Media("Drone");
    return tune[from % tune.size()] * kMusic;
  }
  double Beep(size_t from) const {
    static const std::vector<double> beep = Media("Beep");
    return from < beep.size() ? beep[from] * kVoiceUnity * kCentreToPair : 0.0;
  }
  // Samples [first, last) of frames against `model` in 16-bit units: `room` LSB (1, or 2 for a model
  // made of captured samples, themselves rounded) and `share` of the model's size (the fast
  // conversion's 0.25 percent for a gain of a bus's dB).
  static void ExpectFrames(const std::vector<double>& left, size_t firstFrame, size_t lastFrame, double share,
                           const std::function<double(size_t)>& model, double room = 1.0) {
    ASSERT_GE(left.size(), lastFrame * kFrame);
    for (size_t t = firstFrame * kFrame; t < lastFrame * kFrame; ++t) {
      const double expected = model(t) * 32768.0;
      ASSERT_NEAR(left[t], expected, std::fabs(expected) * share + room) << "sample " << t;
    }
  }
  void Post(const char* event) { system_.PostNamedEvent(event, kObject); }
  void Window(const char* hook) { engine_.GetHooks().Call(hook); }

  Tools::BankDescription general_;
  std::unique_ptr<ScratchTree> tree_;
};

// The tune fades in over 200 ms and plays on; a beep on the effects bus ducks it, the duck holding
// half way (-4 dB) once the beep ends, until the bus's half-second recovery has passed and the
// 400 ms fade back has brought it to its level again.
TEST_F(GameSoundCaptureTest, TheEffectsDuckTheTuneAndItComesBack) {
  Post("Play_Drone");
  Frames(12);
  Post("Play_Beep");
  Frames(64);
  const std::vector<double> left = Capture();
  ExpectFrames(left, 10, 12, 0.0025, [&](size_t t) { return Tune(t); });
  // The beep ends 4800 samples into frame 12 (in frame 16); the recovery waits half a second more.
  ExpectFrames(left, 17, 38, 0.01, [&](size_t t) { return Tune(t) * kHeldDuck; });
  ExpectFrames(left, 62, 76, 0.0025, [&](size_t t) { return Tune(t); });
}

// Minimising pauses everything from the frame it came in; restoring resumes the tune from the sample
// where it stopped.
TEST_F(GameSoundCaptureTest, MinimisingSilencesTheGameAndRestoringBringsItBack) {
  Post("Play_Drone");
  Frames(12);
  Window("GameWindowMinimize");
  Frames(4);
  Window("GameWindowRestore");
  Frames(6);
  const std::vector<double> left = Capture();
  ExpectFrames(left, 10, 22, 0.0025, [&](size_t t) {
    return t < 12 * kFrame ? Tune(t) : t < 16 * kFrame ? 0.0 : Tune(t - 4 * kFrame);
  });
}

// The music mute takes the tune away (within its frame) and leaves a beep heard alone; the master
// mute silences everything, a beep posted under it too; each unmute brings back what it took. Each
// beep ducks the tune as it plays, muted or not: the first to -4 dB, where it holds, the second on
// from there by 4 dB more.
TEST_F(GameSoundCaptureTest, TheMusicMuteSilencesTheTuneAndTheMasterMuteEverything) {
  Post("Play_Drone");
  Frames(12);
  system_.SetBGMMuted(true);
  Post("Play_Beep");
  Frames(8);
  system_.SetBGMMuted(false);
  Frames(2);
  system_.SetAudioMuted(true);
  Post("Play_Beep");
  Frames(8);
  system_.SetAudioMuted(false);
  Frames(2);
  const std::vector<double> left = Capture();
  ExpectFrames(left, 10, 12, 0.0025, [&](size_t t) { return Tune(t); });
  // Frame 12 fades the tune out under the beep; from frame 13 the beep alone, then nothing.
  ExpectFrames(left, 13, 20, 0.0025, [&](size_t t) { return Beep(t - 12 * kFrame); });
  // Unmuted in frame 20, which fades the tune in: heard whole, and ducked, in frame 21.
  ExpectFrames(left, 21, 22, 0.01, [&](size_t t) { return Tune(t) * kHeldDuck; });
  // Everything muted from frame 22 on (after its first frame), the new beep too; back in frame 31.
  ExpectFrames(left, 23, 30, 0.0, [](size_t) { return 0.0; });
  ExpectFrames(left, 31, 32, 0.01, [&](size_t t) { return Tune(t) * std::pow(10.0, -6.0 / 20.0); });
}

// Minimised while muted, the game is paused; the restore posts nothing while the mute holds; the
// unmute resumes what the minimise paused, so the tune goes on from where it stopped.
TEST_F(GameSoundCaptureTest, UnmutingAfterAMutedMinimiseResumesTheTune) {
  Post("Play_Drone");
  Frames(12);
  system_.SetAudioMuted(true);
  Window("GameWindowMinimize");
  Frames(2);
  Window("GameWindowRestore");
  Frames(2);
  system_.SetAudioMuted(false);
  Frames(4);
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 1u);
  const std::vector<double> left = Capture();
  ExpectFrames(left, 10, 12, 0.0025, [&](size_t t) { return Tune(t); });
  ExpectFrames(left, 12, 16, 0.0, [](size_t) { return 0.0; });
  // Unmuted and resumed in frame 16: the tune from where it stopped, the unmute's frame fading in.
  ExpectFrames(left, 17, 20, 0.0025, [&](size_t t) { return Tune(t - 4 * kFrame); });
}

// The level's music runs on the audio thread as the game plays it: the tune (a switch on the mood
// over a playlist of the 220 Hz level segment) is heard from the frame it was posted; turned tense in
// frame 40, it changes at the next bar (music time 96,000) to the tense segment's 330 Hz tone, which
// its playlist keeps playing; its stop fades it out and leaves no voice.
TEST_F(GameSoundCaptureTest, TheLevelMusicPlaysOnTheAudioThreadAndTurnsTenseAtTheNextBar) {
  Post("Play_Tune");
  Frames(40);
  ASSERT_EQ(SN::SoundEngine::SetState("Music_Mood", "Tense"), SN::SN_Success);
  Frames(160);
  Post("Stop_Tune");
  Frames(20);
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> left = Capture();
  size_t c0 = 0;
  while (c0 < left.size() && left[c0] == 0.0) ++c0;
  ASSERT_LT(c0, 2 * kFrame) << "the tune starts in the frame it was posted";
  ASSERT_GE(left.size(), c0 + 190000);
  // Calm: the level segment's tone alone; tense from the bar: the tense tone alone, on and on.
  EXPECT_GT(PowerAt(left, c0 + 48000, c0 + 94000, 220.0), 1000.0 * PowerAt(left, c0 + 48000, c0 + 94000, 330.0));
  EXPECT_GT(PowerAt(left, c0 + 98000, c0 + 190000, 330.0), 1000.0 * PowerAt(left, c0 + 98000, c0 + 190000, 220.0));
  for (size_t from : {c0 + 98000, c0 + 140000, c0 + 180000})
    EXPECT_GT(PowerAt(left, from, from + 4800, 330.0), 1000.0) << "music time " << from - c0;
}

}  // namespace

namespace {

// The game's music mute takes the level music away, not only sounds on the music bus: posted in
// frame 0, muted after 20 frames, the tune ramps out across frame 20, is silent from frame 21 to the
// unmute, ramps in across frame 40 and plays on as if never muted (the mute does not hold its
// clock). The tune's 220 Hz at 48 kHz repeats every 2,400 samples (11 periods, its 12 kHz tone taken
// up 4 times), so what it would be at a sample is what it was whole periods before the mute, once
// its 200 ms fade-in is over (frame 10).
TEST_F(GameSoundCaptureTest, TheMusicMuteSilencesTheLevelMusic) {
  Post("Play_Tune");
  Frames(20);
  system_.SetBGMMuted(true);
  Frames(20);
  system_.SetBGMMuted(false);
  Frames(20);
  Post("Stop_Tune");
  Frames(10);
  const std::vector<double> left = Capture();
  ASSERT_GE(left.size(), 60 * kFrame);
  constexpr size_t kPeriod = 2400;
  EXPECT_GT(PowerAt(left, 4 * kFrame, 16 * kFrame, 220.0), 1000.0);
  // Within 1 LSB: the mix rounds the same tone to 16 bits a period apart.
  for (size_t t = 10 * kFrame + kPeriod; t < 20 * kFrame; ++t) ASSERT_NEAR(left[t], left[t - kPeriod], 1.0) << "sample " << t;
  const auto tune = [&](size_t t) {
    while (t >= 20 * kFrame) t -= kPeriod;
    return left[t];
  };
  ExpectFrames(
      left, 20, 21, 0.0, [&](size_t t) { return tune(t) * (1.0 - double(t % kFrame) / kFrame) / 32768.0; }, 2.0);
  ExpectFrames(left, 21, 40, 0.0, [](size_t) { return 0.0; });
  ExpectFrames(left, 40, 41, 0.0, [&](size_t t) { return tune(t) * double(t % kFrame) / kFrame / 32768.0; }, 2.0);
  ExpectFrames(left, 41, 60, 0.0, [&](size_t t) { return tune(t) / 32768.0; }, 2.0);
}

}  // namespace
