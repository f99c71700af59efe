// The game's rumble: the sound system gives player 0 a rumble device over the pads, and the general
// bank's rumble event runs the pad's motors at each motion frame's peak until it stops.
#include <cmath>
#include <string>
#include <vector>

#include "Audio/RumbleMotionDevice.h"
#include "Base/Input/GamepadSource.h"
#include "Base/Input/ManualGamepadSource.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundTestTree.h"
#include "tests/Support/WaveSamples.h"

namespace {

using AudioTest::ScratchTree;
using AudioTest::SoundSystemFixture;

// A motion voice meets the engine's fast unity for its volume, its path and its motion bus.
constexpr double kMotionUnity = OrvTest::kFastUnity * OrvTest::kFastUnity * OrvTest::kFastUnity;
constexpr size_t kMotionFrame = 8;

// The pads as the input system holds them, keeping every motor speed they are sent (by the frame
// step, on the test's thread).
struct RecordingPads final : Base::GamepadSource {
  bool Read(int, Base::GamepadReading&) override { return false; }
  void SetVibration(int pad, uint16_t left, uint16_t right) override { sent.push_back({pad, left, right}); }
  struct Sent {
    int pad;
    uint16_t left, right;
  };
  std::vector<Sent> sent;
};

TEST_F(SoundSystemFixture, TheRumbleEventRunsPlayer0sPadMotorsAtItsFramesPeaksUntilItEnds) {
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
  // The game's frames, until the motors are told to stop after running: the tone is over. (Before it
  // the pad may be told its motors stand still.)
  std::vector<Core::GameSpace*> spaces;
  auto ran = [&] {
    for (const RecordingPads::Sent& one : pads.sent)
      if (one.left) return true;
    return false;
  };
  ASSERT_TRUE(OrvTest::WaitUntil(
      [&] {
        engine_.GetHooks().Call("FrameStep", 0.016f, &spaces);
        return ran() && pads.sent.back().left == 0;
      },
      [&] {
        return "the motors to run and stop (" + std::to_string(pads.sent.size()) + " sends, CurrentFrame() " +
               std::to_string(SN::g_pAudioMgr->CurrentFrame()) + ")";
      }));
  // Each frame step hands on the latest speeds the audio thread set: each a frame's, in frame order.
  std::vector<RecordingPads::Sent> sent = pads.sent;
  while (sent.front().left == 0) sent.erase(sent.begin());
  ASSERT_GE(sent.size(), 2u);
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

TEST(GamepadRumble, SpeedsReachThePadsOnlyWhenAppliedTheLatestOfEachChangedSlot) {
  Base::ManualGamepadSource pads;
  Audio::GamepadRumble rumble;
  rumble.SetVibration(0, 10, 20);  // no pads yet: dropped at the next apply
  rumble.Apply();
  rumble.SetPads(&pads);
  rumble.SetVibration(1, 100, 200);
  rumble.SetVibration(1, 300, 400);
  rumble.SetVibration(4, 1, 1);   // no such slot
  rumble.SetVibration(-1, 1, 1);
  EXPECT_EQ(pads.SentVibration(1).sends, 0) << "nothing before the pads' thread applies it";
  rumble.Apply();
  EXPECT_EQ(pads.SentVibration(1).sends, 1);
  EXPECT_EQ(pads.SentVibration(1).left, 300);
  EXPECT_EQ(pads.SentVibration(1).right, 400);
  for (int slot : {0, 2, 3}) EXPECT_EQ(pads.SentVibration(slot).sends, 0) << slot;
  rumble.Apply();
  EXPECT_EQ(pads.SentVibration(1).sends, 1) << "an unchanged slot is not sent again";
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
