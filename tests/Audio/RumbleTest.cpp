// The game's rumble: the sound system gives player 0 a rumble device over the pads, and the general
// bank's rumble event runs the pad's motors at each motion frame's peak until it stops.
#include <cmath>
#include <string>
#include <vector>

#include "Base/Input/GamepadSource.h"
#include "SoundEngine/Lower/MotionDeviceMgr.h"
#include "SoundTestTree.h"
#include "tests/Support/WaveSamples.h"

namespace {

using AudioTest::ScratchTree;
using AudioTest::SoundSystemFixture;

// A motion voice meets the engine's fast unity for its volume, its path and its motion bus.
constexpr double kMotionUnity = OrvTest::kFastUnity * OrvTest::kFastUnity * OrvTest::kFastUnity;
constexpr size_t kMotionFrame = 8;

// The pads as the input system holds them, keeping every motor speed they are sent. Written on the
// audio thread under the audio lock, read by the test under it.
struct RecordingPads final : Base::GamepadSource {
  bool Read(int, Base::GamepadReading&) override { return false; }
  void SetVibration(int pad, uint16_t left, uint16_t right) override { sent.push_back({pad, left, right}); }
  struct Sent {
    int pad;
    uint16_t left, right;
  };
  std::vector<Sent> sent;
};

TEST_F(SoundSystemFixture, TheRumbleEventRunsPlayer0sPadMotorsFrameByFrameUntilItEnds) {
  // Each motion frame's motor speed: its peak at the voice's unity gains, over the motors' range.
  const std::vector<double> wave = OrvTest::ToneSamples("content/banks/GeneralBank.txt", "RumbleWave");
  ASSERT_EQ(wave.size(), 150u);
  std::vector<long> speeds;
  for (size_t first = 0; first < wave.size(); first += kMotionFrame) {
    double peak = 0.0;
    for (size_t n = first; n < first + kMotionFrame && n < wave.size(); ++n) peak = std::fmax(peak, std::fabs(wave[n]));
    speeds.push_back(std::lrint(peak * kMotionUnity * 65535.0));
  }

  ScratchTree tree(true);
  RecordingPads pads;
  system_.SetRumblePads(&pads);
  Start();
  EXPECT_EQ(TakeLines(), "");
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(42, "Player"), SN::SN_Success);
  system_.PostNamedEvent("Play_Rumble", 42);
  // The tone is over when the motors are told to stop after running.
  ASSERT_TRUE(AudioTest::AudioThreadReaches([&] { return pads.sent.size() > 1 && pads.sent.back().left == 0; }));
  std::vector<RecordingPads::Sent> sent;
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    sent = pads.sent;
  }
  // Only changes are sent: the speeds follow the frames' in order, the first frame's first.
  ASSERT_GE(sent.size(), 2u);
  EXPECT_NEAR(sent.front().left, speeds.front(), 1);
  size_t frame = 0;
  for (size_t i = 0; i + 1 < sent.size(); ++i) {
    EXPECT_EQ(sent[i].pad, 0);
    EXPECT_EQ(sent[i].right, sent[i].left);
    while (frame < speeds.size() && std::abs(long(sent[i].left) - speeds[frame]) > 1) ++frame;
    ASSERT_LT(frame, speeds.size()) << "speed " << sent[i].left << " of send " << i << " is no frame's";
  }
  EXPECT_EQ(sent.back().right, 0);

  // The device goes with the sound engine, the motors stopped once more.
  Stop();
  EXPECT_EQ(pads.sent.back().left, 0);
  EXPECT_EQ(TakeLines(), "");
}

TEST_F(SoundSystemFixture, WithoutPadsTheRumbleEventRunsNothing) {
  ScratchTree tree(true);
  Start();
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(42, "Player"), SN::SN_Success);
  uint32_t before = 0;
  AudioTest::AudioThreadReaches([&] { return before = SN::g_pAudioMgr->ExecutedActionCount(), true; });
  system_.PostNamedEvent("Play_Rumble", 42);
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return SN::g_pAudioMgr->ExecutedActionCount() > before; }));
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  EXPECT_EQ(SN::CSnMotionDeviceMgr::Get(), nullptr);
  EXPECT_EQ(TakeLines(), "");
}

}  // namespace
