// Values set by actions on a playing sound, heard: a fade of a set volume moves the voice once along
// its way and rests at the value set, a later set goes on from where the first stands, and a voice
// that starts during a fade begins where the fade is.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// A steady level of 0.5 (a DC tone) looping, and volumes set on it for the posting object, straight
// in decibels: -20 dB over 420 ms, -6 dB at once, -12 dB at once, back to 0 dB over 420 ms.
const std::string kSetBank =
    "tone Steady 48000 1 100 0.5 dc\n"
    "sound Steady Steady Effects loop 0\n"
    "action Play_Steady_Act 0x0403 Steady\n"
    "event Play_Steady Play_Steady_Act\n"
    "action Fade_Down_Act 0x0A03 Steady value -20 0 0 fade 420 curve 4\n"
    "event Fade_Down Fade_Down_Act\n"
    "action Down_Six_Act 0x0A03 Steady value -6 0 0\n"
    "event Down_Six Down_Six_Act\n"
    "action Down_Twelve_Act 0x0A03 Steady value -12 0 0\n"
    "event Down_Twelve Down_Twelve_Act\n"
    "action Fade_Up_Act 0x0A03 Steady value 0 0 0 fade 420 curve 4\n"
    "event Fade_Up Fade_Up_Act\n";

constexpr size_t kFadeFrames = 20;  // 420 ms on the transition clock

double Full() { return 0.5 * kVoiceUnity * kCentreToPair * 32768.0; }
double Gain(double dB) { return std::pow(10.0, dB / 20.0); }

// Each frame's loudest sample against the decibels the voice stands at as the frame begins (a falling
// level is loudest there), within half a percent: the engine's fast power of ten.
void ExpectLevels(const std::vector<double>& peaks, size_t from, const std::function<double(size_t)>& dBAt) {
  for (size_t f = from; f < peaks.size(); ++f)
    ASSERT_NEAR(peaks[f], Full() * Gain(dBAt(f)), 0.005 * Full()) << "frame " << f;
}

// Set two frames into the play, the fade takes the voice down in a straight line of decibels, one
// step a frame, to -20 dB, where it stays.
TEST_F(SoundEndToEndTest, AFadedVolumeSetOnAPlayingSoundRestsAtTheValueSet) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Down", kObject), 0u);
  Frames(kFadeFrames + 8);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), kFadeFrames + 10);
  ExpectLevels(peaks, 0, [](size_t f) {
    const size_t steps = std::min(kFadeFrames, f > 2 ? f - 2 : 0);
    return -20.0 * double(steps) / double(kFadeFrames);
  });
}

// Ten frames into the fade down (at -10 dB), a fade back up turns it from there: 0 dB again twenty
// frames later, never louder.
TEST_F(SoundEndToEndTest, AVolumeSetDuringItsFadeTurnsTheFadeFromWhereItStands) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Down", kObject), 0u);
  Frames(10);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Up", kObject), 0u);
  Frames(kFadeFrames + 6);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), 12 + kFadeFrames + 6);
  // A rising frame is loudest at its end: the level of the frame after.
  ExpectLevels(peaks, 0, [](size_t f) {
    if (f < 12) return -20.0 * double(f > 2 ? f - 2 : 0) / double(kFadeFrames);
    return -10.0 + 10.0 * double(std::min(kFadeFrames, f + 1 - 12)) / double(kFadeFrames);
  });
}

// Volumes set at once replace one another: -6 dB, then -12 dB, not -18 dB.
TEST_F(SoundEndToEndTest, AVolumeSetAtOnceReplacesTheOneBefore) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Down_Six", kObject), 0u);
  Frames(3);
  ASSERT_NE(SoundEngine::PostEvent("Down_Twelve", kObject), 0u);
  Frames(4);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), 9u);
  // The frame of a change ramps down from the level before it.
  ExpectLevels(peaks, 0, [](size_t f) { return f <= 2 ? 0.0 : f <= 5 ? -6.0 : -12.0; });
}

// A second play of the sound halfway through the fade begins at -10 dB and goes down beside the
// first: both rest at -20 dB. Its first frame has its end level throughout.
TEST_F(SoundEndToEndTest, AVoiceStartedDuringAFadeBeginsWhereTheFadeStands) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Down", kObject), 0u);
  Frames(10);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(kFadeFrames);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), 12 + kFadeFrames);
  const auto dBAt = [](size_t f) { return -20.0 * double(std::min(kFadeFrames, f > 2 ? f - 2 : 0)) / double(kFadeFrames); };
  for (size_t f = 0; f < peaks.size(); ++f) {
    const double second = f < 12 ? 0.0 : Gain(dBAt(f == 12 ? f + 1 : f));
    ASSERT_NEAR(peaks[f], Full() * (Gain(dBAt(f)) + second), 0.01 * Full()) << "frame " << f;
  }
}

}  // namespace
