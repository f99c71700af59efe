// A continuous switch container heard end to end: a change of its switch on the game object fades the
// old value's sound out and the new value's in, each over the time the container gives it; its event
// lasts as long as the container keeps its play.
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class SwitchContainerEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// The switch goes from One to Two in the fourth frame. From that frame the first tone fades out over
// its 100 ms and the second, begun in the same frame, fades in over its 60 ms.
TEST_F(SwitchContainerEndToEndTest, ASwitchChangeFadesTheOldSoundOutAndTheNewOneInOverTheirTimes) {
  LoadOwnBank("platform Linux\n"
              "tone SwOne 48000 1 300 1000\n"
              "tone SwTwo 48000 1 300 500\n"
              "sound SwOne SwOne Effects\n"
              "sound SwTwo SwTwo Effects\n"
              "switch Sw Effects switch SwGroup One One=SwOne Two=SwTwo continuous fade SwOne 100 40 "
              "fade SwTwo 80 60\n"
              "action Play_Sw_Act 0x0403 Sw\n"
              "event Play_Sw Play_Sw_Act\n");
  ASSERT_EQ(SoundEngine::SetSwitch("SwGroup", "One", kObject), SN_Success);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Sw", kObject), 0u);
  Frames(3);
  ASSERT_EQ(SoundEngine::SetSwitch("SwGroup", "Two", kObject), SN_Success);
  Frames(18);
  const auto planes = Capture();
  const std::vector<double> one = OwnMedia("SwOne"), two = OwnMedia("SwTwo");
  constexpr size_t kSwitchFrame = 4;
  const size_t twoAt = kSwitchFrame * kFrame;
  ASSERT_GE(planes[0].size(), twoAt + two.size());
  ExpectModel(planes, 0, [&](size_t t) {
    const double a = t >= kFrame ? At(one, t - kFrame) * SteppedFade(t, kSwitchFrame, FadeFrames(100), Falling) : 0.0;
    const double b =
        t >= twoAt ? At(two, t - twoAt) * SteppedFade(t, kSwitchFrame, FadeFrames(60), Rising, kSwitchFrame) : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  });
}

// The event of a continuous switch container lives while the container keeps its play: its first
// tone ends without ending it, a later change of value still plays under it, and only the stop of
// the event ends it. Each tone sounds from the frame of its change.
TEST_F(SwitchContainerEndToEndTest, AContinuousSwitchKeepsItsEventUntilItIsStopped) {
  LoadOwnBank("platform Linux\n"
              "tone SwShortOne 48000 1 20 1000\n"
              "tone SwShortTwo 48000 1 20 500\n"
              "sound SwShortOne SwShortOne Effects\n"
              "sound SwShortTwo SwShortTwo Effects\n"
              "switch SwShort Effects switch SwShortGroup One One=SwShortOne Two=SwShortTwo continuous\n"
              "action Play_SwShort_Act 0x0403 SwShort\n"
              "event Play_SwShort Play_SwShort_Act\n");
  struct Ends {
    int count = 0;
  } ends;
  auto ended = [](uint32_t type, SnCallbackInfo* info) {
    if (type == SnCallback_EndOfEvent) ++static_cast<Ends*>(info->cookie)->count;
  };
  ASSERT_EQ(SoundEngine::SetSwitch("SwShortGroup", "One", kObject), SN_Success);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_SwShort", kObject, SnCallback_EndOfEvent, ended, &ends), 0u);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(ends.count, 0);
  ASSERT_EQ(SoundEngine::SetSwitch("SwShortGroup", "Two", kObject), SN_Success);
  Frames(3);
  EXPECT_EQ(ends.count, 0);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_SwShort", SnActionOnEvent_Stop, kObject), SN_Success);
  Frames(2);
  EXPECT_EQ(ends.count, 1);
  const auto planes = Capture();
  const std::vector<double> one = OwnMedia("SwShortOne"), two = OwnMedia("SwShortTwo");
  constexpr size_t kSwitchFrame = 4;
  ASSERT_GE(planes[0].size(), (kSwitchFrame + 1) * kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    const double a = t >= kFrame ? At(one, t - kFrame) : 0.0;
    const double b = t >= kSwitchFrame * kFrame ? At(two, t - kSwitchFrame * kFrame) : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  });
}

}  // namespace
