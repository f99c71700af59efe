// Continuous sequences heard end to end with sources that tell their end ahead: crossfades overlap
// their items by the fade time on their curves, and sample-accurate items join mid-frame.
#include <functional>
#include <numbers>

#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class ContinuousCrossfadeEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// Two 400 ms tones crossfaded over 100 ms. The first tells its end as it begins, 400 ms ahead, so
// the whole fade fits: the second is heard from 100 ms before the first ends. Both fades run from the
// frame the hand-on runs in (the engine's look-ahead before the second's first frame) over whole
// frames of the transition clock, each frame's gain ramped from its start value to its end value.
void ExpectCrossfade(const std::array<std::vector<double>, 2>& planes, const std::vector<double>& first,
                     const std::vector<double>& second, double (*fadeIn)(double), double (*fadeOut)(double)) {
  constexpr size_t kFadeMs = 100;
  const size_t secondAt = kFrame + first.size() - kFadeMs * 48;
  const size_t handOnFrame = secondAt / kFrame - SoundEngine::Settings().lookAheadFrames;
  ASSERT_GE(planes[0].size(), secondAt + second.size());
  SoundEndToEndTest::ExpectModel(planes, 0, [&](size_t t) {
    const double a =
        t >= kFrame ? SoundEndToEndTest::At(first, t - kFrame) * SteppedFade(t, handOnFrame, FadeFrames(kFadeMs), fadeOut)
                    : 0.0;
    const double b = t >= secondAt ? SoundEndToEndTest::At(second, t - secondAt) *
                                         SteppedFade(t, handOnFrame, FadeFrames(kFadeMs), fadeIn, secondAt / kFrame)
                                   : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  });
}

TEST_F(ContinuousCrossfadeEndToEndTest, ACrossfadeSequenceOverlapsItsItemsByTheFadeTime) {
  const auto planes = PlaySequence("transition 1 100", 36, 400, 400);
  ExpectCrossfade(planes, OwnMedia("SeqA"), OwnMedia("SeqB"), Rising, Falling);
}

TEST_F(ContinuousCrossfadeEndToEndTest, APowerCrossfadeSequenceKeepsItsItemsPowerOnQuarterSines) {
  const auto planes = PlaySequence("transition 2 100", 36, 400, 400);
  ExpectCrossfade(planes, OwnMedia("SeqA"), OwnMedia("SeqB"),
                  [](double u) { return std::sin(u * std::numbers::pi / 2.0); },
                  [](double u) { return std::cos(u * std::numbers::pi / 2.0); });
}

// Sample accurate, looped twice, items of 50 and 30 ms (2400 and 1440 samples, no whole number of
// frames): each begins on the sample after the one before it ends, inside a frame, A B A B.
TEST_F(ContinuousCrossfadeEndToEndTest, ASampleAccurateSequenceJoinsItemsMidFrame) {
  const auto planes = PlaySequence("loop 2 transition 4 0", 12, 50, 30);
  const std::vector<double> first = OwnMedia("SeqA"), second = OwnMedia("SeqB");
  ASSERT_EQ(first.size(), 2400u);
  ASSERT_EQ(second.size(), 1440u);
  const size_t pair = first.size() + second.size();
  ASSERT_GE(planes[0].size(), kFrame + 2 * pair + kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < kFrame || t >= kFrame + 2 * pair) return 0.0;
    const size_t at = (t - kFrame) % pair;
    return (at < first.size() ? first[at] : second[at - first.size()]) * kVoiceUnity * kCentreToPair;
  });
}

// Two voices at full level sum the small errors of their own gains: half an LSB more room.
constexpr double kTwoVoicesLsb = 1.5;

// A trigger rate of 100 ms over 200 ms items: the first tells its end as it begins, so the second is
// heard exactly 100 ms after the first began, the two sounding together until the first ends.
TEST_F(ContinuousCrossfadeEndToEndTest, ATriggerRateSequenceStartsItsItemsAtTheRate) {
  const auto planes = PlaySequence("transition 5 100", 18, 200, 200);
  const std::vector<double> first = OwnMedia("SeqA"), second = OwnMedia("SeqB");
  const size_t secondAt = kFrame + 100 * 48;
  ASSERT_GE(planes[0].size(), secondAt + second.size());
  ExpectModel(planes, 0, [&](size_t t) {
    const double a = t >= kFrame ? At(first, t - kFrame) : 0.0;
    const double b = t >= secondAt ? At(second, t - secondAt) : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  }, kTwoVoicesLsb);
}

}  // namespace

namespace {

using namespace EndToEnd;

// The game bank's chimes: 400 ms each, 200 ms crossfades. Paused in the middle of the first
// crossfade, both chimes fall silent from the frame of the pause and nothing moves on (neither their
// samples nor their fades); resumed, both go on from where they were, sample for sample as had the
// pause never been, three frames later. Compared up to the hand-on to the third chime.
void ExpectChimesHeldMidCrossfade(SoundEndToEndTest& test, const std::function<void()>& pause,
                                  const std::function<void()>& resume) {
  constexpr size_t kFadeMs = 200;
  constexpr size_t kPauseFrame = 14, kPausedFrames = 3;
  test.Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Chimes", kObject), 0u);
  test.Frames(kPauseFrame - 1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 2u);  // mid-crossfade: both chimes sound
  pause();
  test.Frames(kPausedFrames);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  resume();
  test.Frames(12);
  EXPECT_GE(VoiceManager::ActiveInstanceCount(), 1u);  // the performance goes on to the third chime
  const auto planes = test.Capture();

  const std::vector<double> first = test.Media("ChimeLow"), second = test.Media("ChimeMid");
  ASSERT_EQ(first.size(), 19200u);
  const size_t secondAt = kFrame + first.size() - kFadeMs * 48;
  const size_t handOnFrame = secondAt / kFrame - SoundEngine::Settings().lookAheadFrames;
  ASSERT_LT(handOnFrame, kPauseFrame);
  ASSERT_GT(handOnFrame + FadeFrames(kFadeMs), kPauseFrame);
  const size_t fadeFrames = FadeFrames(kFadeMs);
  auto unpaused = [&](size_t t) {
    using Test = SoundEndToEndTest;
    const double a = t >= kFrame ? Test::At(first, t - kFrame) * SteppedFade(t, handOnFrame, fadeFrames, Falling) : 0.0;
    const double b = t >= secondAt ? Test::At(second, t - secondAt) *
                                         SteppedFade(t, handOnFrame, fadeFrames, Rising, secondAt / kFrame)
                                   : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  };
  const size_t pauseAt = kPauseFrame * kFrame, resumeAt = pauseAt + kPausedFrames * kFrame;
  // The hand-on to the third chime begins the second's fade out: the model ends there.
  const size_t thirdAt = secondAt + second.size() - kFadeMs * 48;
  const size_t thirdHandOn = thirdAt / kFrame - SoundEngine::Settings().lookAheadFrames;
  const size_t end = (thirdHandOn + kPausedFrames) * kFrame;
  ASSERT_GT(end, resumeAt + 3 * kFrame);
  ASSERT_GE(planes[0].size(), end);
  for (int c = 0; c < 2; ++c)
    for (size_t t = 0; t < end; ++t) {
      const double model = t < pauseAt ? unpaused(t) : t < resumeAt ? 0.0 : unpaused(t - kPausedFrames * kFrame);
      // Two voices at full level: half an LSB more room than one.
      ASSERT_NEAR(planes[c][t], model * 32768.0, 1.5) << "channel " << c << " sample " << t;
    }
}

TEST_F(ContinuousCrossfadeEndToEndTest, PausingMidCrossfadeHoldsBothItemsAndResumesThem) {
  ExpectChimesHeldMidCrossfade(
      *this,
      [] { ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Chimes", SnActionOnEvent_Pause, kObject), SN_Success); },
      [] { ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Chimes", SnActionOnEvent_Resume, kObject), SN_Success); });
}

// The same through the game's pause and resume of everything (actions on every object).
TEST_F(ContinuousCrossfadeEndToEndTest, PausingEverythingMidCrossfadeHoldsBothItemsAndResumesThem) {
  ExpectChimesHeldMidCrossfade(
      *this, [] { ASSERT_NE(SoundEngine::PostEvent("Pause_All", 3), 0u); },
      [] { ASSERT_NE(SoundEngine::PostEvent("Resume_All", 3), 0u); });
}

}  // namespace
