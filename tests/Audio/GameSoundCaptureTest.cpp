// The game's sound heard: the sound system brought up over the game's banks with its audio thread,
// the null output following a clock the test moves a frame at a time, the system's frame step and
// window hooks driving it, and the output capture read back sample by sample against a model of the
// banks' tones and gains: the effects ducking the tune, minimising pausing it, the two mutes, the
// level music across its loop points and mood changes, the Playground's bell, the banks' tones and
// the sounds of a space that goes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "Audio/SoundEmitter.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Platform/Clock.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/Output/AudioThread.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "GameSoundCapture.h"
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

class GameSoundCaptureTest : public AudioTest::SoundSystemFixture {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Tools::ReadBankTextFile("content/banks/GeneralBank.txt", general_, error)) << error;
    Platform::SetTickSource(&AudioTest::CaptureNow);
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
    std::vector<Core::GameSpace*> spaces;
    for (uint32_t i = 0; i < count; ++i)
      if (!AudioTest::RenderOneFrame([&] { engine_.GetHooks().Call("FrameStep", 0.016f, &spaces); })) return;
  }
  // Ends the capture and reads it back: the left plane.
  std::vector<double> Capture() {
    EXPECT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
    Frames(1);
    return AudioTest::CapturedLeft("Sound/Banks/capture.wav");
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

// Suites of one fixture, so that no CTest entry runs long: the game's sound, its level music, and the
// level music over its loops.
class GameMusicCaptureTest : public GameSoundCaptureTest {};
class GameMusicLoopCaptureTest : public GameSoundCaptureTest {};

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
TEST_F(GameMusicCaptureTest, TheLevelMusicPlaysOnTheAudioThreadAndTurnsTenseAtTheNextBar) {
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
TEST_F(GameMusicCaptureTest, TheMusicMuteSilencesTheLevelMusic) {
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

namespace {

// The largest step from one sample to the next in [first, last).
double LargestStep(const std::vector<double>& left, size_t first, size_t last) {
  double step = 0.0;
  for (size_t t = first + 1; t < last && t < left.size(); ++t) step = std::max(step, std::fabs(left[t] - left[t - 1]));
  return step;
}

// The level music calm for 400 frames, through its loop point at 8 s (music time 384,000), tense from
// the next bar (480,000) through the tense segment's loop point at 14 s (672,000), calm again from
// the bar at 16 s (768,000). Each tune repeats itself whole periods on, to the sample, across its
// loop point (220 Hz every 2,400 samples, 330 Hz every 1,600): no tail over the next pass, no step.
// The moods fade into each other at the bar, the one left before it, the next from it (25 ms each,
// which the engine takes in two frames); both play on the music bus at one level, and no sample moves
// further from the last than the louder tone's own slope allows.
TEST_F(GameMusicLoopCaptureTest, TheLevelMusicHoldsItsLevelAcrossLoopsAndItsMoodsFadeAtTheBar) {
  Post("Play_Tune");
  Frames(400);
  ASSERT_EQ(SN::SoundEngine::SetState("Music_Mood", "Tense"), SN::SN_Success);
  Frames(300);
  ASSERT_EQ(SN::SoundEngine::SetState("Music_Mood", "Calm"), SN::SN_Success);
  Frames(100);
  const std::vector<double> left = Capture();
  ASSERT_GE(left.size(), 800u * kFrame);
  for (const auto& [loop, period] : {std::pair<size_t, size_t>{384000, 2400}, {672000, 1600}})
    for (size_t t = loop - 24000; t < loop + 24000; ++t)
      ASSERT_NEAR(left[t], left[t - period], 1.0) << "loop at " << loop << ", sample " << t;

  const OrvTest::SineFit calm = OrvTest::FitSine(left, 420000, 478000, 220.0);
  const OrvTest::SineFit tense = OrvTest::FitSine(left, 482400, 540000, 330.0);
  const OrvTest::SineFit calmAgain = OrvTest::FitSine(left, 770400, 800000, 220.0);
  const double full = calm.Amplitude();
  EXPECT_GT(full, 5000.0);
  EXPECT_NEAR(tense.Amplitude(), full, 0.01 * full) << "the tense tune on the music bus";
  EXPECT_NEAR(calmAgain.Amplitude(), full, 0.01 * full);
  for (const auto& [fit, first, last] : {std::tuple<OrvTest::SineFit, size_t, size_t>{calm, 420000, 478000},
                                         {tense, 482400, 540000}, {calmAgain, 770400, 800000}})
    EXPECT_LT(fit.Residual(left, first, last), 0.01 * fit.Amplitude()) << "the tone alone from " << first;
  // At each bar the mood left fades out before it and the next fades in from it, starting at rest:
  // the engine moves a fade a frame at a time, so 25 ms take two frames of 1,024 samples.
  auto peak = [&](size_t first) {
    double most = 0.0;
    for (size_t t = first; t < first + 240; ++t) most = std::max(most, std::fabs(left[t]));
    return most;
  };
  for (size_t bar : {480000, 768000}) {
    EXPECT_LT(std::fabs(left[bar]), 0.05 * full) << "at rest at the bar " << bar;
    for (size_t first = bar - 2400; first + 240 < bar; first += 240)
      EXPECT_LE(peak(first + 240), peak(first) + 0.02 * full) << "fading out at " << first;
    EXPECT_LT(peak(bar - 240), 0.25 * full) << "faded out by the bar " << bar;
    EXPECT_LT(peak(bar), 0.6 * full) << "fading in from the bar " << bar;
    for (size_t first = bar; first + 240 < bar + 2400; first += 240)
      EXPECT_GE(peak(first + 240), peak(first) - 0.02 * full) << "fading in at " << first;
  }
  const double slope = 2.0 * OrvTest::kPi * 330.0 / 48000.0 * full * 1.05 + 2.0;
  EXPECT_LE(LargestStep(left, 0, left.size()), slope);
}

// Playground's B rings the chimes' bell: 784 Hz on the effects bus, 6 dB down, as the bank's tone
// gives it for its first 100 ms; then it fades out over 250 ms, never stepping further than its own
// slope, and is silent from then on.
TEST_F(GameSoundCaptureTest, ThePlaygroundsBellIsAnEffectOfItsOwnThatFadesOut) {
  Post("Play_Bell");
  Frames(24);
  const std::vector<double> left = Capture();
  static const std::vector<double> bell = Media("Bell");
  const double gain = std::pow(10.0, -6.0 / 20.0) * kVoiceUnity * kCentreToPair;
  ExpectFrames(left, 0, 4, 0.0025, [&](size_t t) { return bell[t] * gain; });
  EXPECT_GT(PowerAt(left, 0, 4800, 784.0), 1e4 * PowerAt(left, 0, 4800, 220.0)) << "not the music's 220 Hz";
  const double peak = 16383.0 * gain;
  EXPECT_LE(LargestStep(left, 0, left.size()), 2.0 * OrvTest::kPi * 784.0 / 48000.0 * peak * 1.01 + 2.0);
  // Fading: each 10 ms from 120 ms to 340 ms no louder than the one before, and well down by the end.
  auto loudest = [&](size_t first) {
    double most = 0.0;
    for (size_t t = first; t < first + 480; ++t) most = std::max(most, std::fabs(left[t]));
    return most;
  };
  for (size_t first = 5760; first + 960 <= 16320; first += 480)
    EXPECT_LE(loudest(first + 480), loudest(first) + 2.0) << "sample " << first;
  EXPECT_LT(loudest(15840), 0.1 * peak);
  ExpectFrames(left, 18, 24, 0.0, [](size_t) { return 0.0; });
}

// Every tone of the game's banks starts at zero and ends at zero or ramped down to it: its last
// sample of each channel is no further from zero than the tone's largest step.
TEST(GameSoundTones, EveryToneOfTheGamesBanksStartsAndEndsAtRest) {
  for (const char* path : {"content/banks/GeneralBank.txt", "content/banks/Init.txt"}) {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ReadBankTextFile(path, bank, error)) << error;
    for (const auto& media : bank.media) {
      ASSERT_GE(media.bytes.size(), 24u);
      const size_t channels = media.bytes[22] | media.bytes[23] << 8;  // the format record leads
      const std::vector<int16_t> samples = OrvTest::WaveDataSamples(media.bytes);
      ASSERT_GT(channels, 0u);
      ASSERT_GE(samples.size(), 2 * channels) << media.id;
      for (size_t c = 0; c < channels; ++c) {
        int step = 0;
        for (size_t i = channels + c; i < samples.size(); i += channels)
          step = std::max(step, std::abs(samples[i] - samples[i - channels]));
        EXPECT_EQ(samples[c], 0) << "media " << media.id << " channel " << c;
        EXPECT_LE(std::abs(samples[samples.size() - channels + c]), step) << "media " << media.id << " channel " << c;
      }
    }
  }
}

}  // namespace

namespace {

// A space that goes takes its emitters' sounds with it: the drone on a speaker of a space plays at
// its level until the space is deleted at the end of frame 12; the 100 ms fade takes five frames of
// the engine's, the drone's level falling frame by frame, and the space's voices are gone after it.
TEST_F(GameSoundCaptureTest, ASpaceThatGoesFadesOutWhatItsEmittersPlay) {
  Core::GameSpace* space = engine_.NewGameSpace("Stage");
  ASSERT_NE(space, nullptr);
  Core::GameObject* speaker = space->CreateObject();
  auto* emitter = static_cast<Audio::SoundEmitter*>(space->CreateComponent(Core::ComponentType_SoundEmitter));
  ASSERT_NE(emitter, nullptr);
  speaker->AttachComponent(emitter);
  space->InitializeObjects();
  emitter->PostEvent("Play_Drone");
  Frames(12);
  engine_.DeleteGameSpace(space);
  Frames(12);
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> left = Capture();
  ExpectFrames(left, 10, 12, 0.0025, [&](size_t t) { return Tune(t); });
  double last = 1.0;
  for (size_t frame = 12; frame < 17; ++frame) {
    const OrvTest::SineFit fit = OrvTest::FitSine(left, frame * kFrame, (frame + 1) * kFrame, 220.0);
    const double level = fit.Amplitude() / (kMusic * 16383.0);
    EXPECT_LT(level, last) << "frame " << frame;
    last = level;
  }
  EXPECT_LE(LargestStep(left, 0, left.size()), 2.0 * OrvTest::kPi * 220.0 / 48000.0 * kMusic * 16383.0 * 1.01 + 2.0);
  ExpectFrames(left, 18, 24, 0.0, [](size_t) { return 0.0; });
}

// The audio thread's outputs take their starting point on the clock when the thread first runs; a
// scheduler on a busy machine may run it late. Init returns only once they have: the first move of
// the clock after it is a frame played, however long the thread was held back.
std::atomic<bool> g_holdAudioThread{false}, g_audioThreadReadTheClock{false};
int64_t ClockHoldingTheAudioThreadBack() {
  if (SN::AudioThread::ThreadId() == Platform::CurrentThreadId() && g_holdAudioThread.exchange(false)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_audioThreadReadTheClock = true;
  }
  return AudioTest::CaptureNow();
}

class AudioThreadStartTest : public AudioTest::SoundSystemFixture {
 protected:
  void TearDown() override {
    Stop();
    Platform::SetTickSource(nullptr);
  }
};

TEST_F(AudioThreadStartTest, InitReturnsOnceTheOutputsHaveTakenTheClock) {
  ScratchTree tree(true);
  g_holdAudioThread = true;
  g_audioThreadReadTheClock = false;
  Platform::SetTickSource(&ClockHoldingTheAudioThreadBack);
  Start();
  ASSERT_TRUE(SN::SoundEngine::IsInitialized());
  EXPECT_TRUE(g_audioThreadReadTheClock);
  EXPECT_TRUE(AudioTest::RenderOneFrame([] { SN::SoundEngine::RenderAudio(); }));
}

}  // namespace
