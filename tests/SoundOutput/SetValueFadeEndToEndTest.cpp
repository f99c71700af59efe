// Volumes set by actions on a playing sound, heard: a fade moves the voices once along its way and
// rests at the value set, a voice begun during the fade starts where it stands, and a value set at
// once replaces the one before.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class SetValueFadeEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// A steady level of 0.5 (a DC tone) looping, and volumes set on it for the posting object, straight
// in decibels: -20 dB over 420 ms (20 frames), -6 dB at once, -12 dB at once.
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
    "event Down_Twelve Down_Twelve_Act\n";

double Gain(double dB) { return std::pow(10.0, dB / 20.0); }

// Set two frames into the play, the fade takes the voice down one step a frame in a straight line of
// decibels to -20 dB, where it stays. A second play ten frames in begins at -10 dB and goes down
// beside the first; its first frame has its end level throughout, each other frame is loudest as it
// begins.
TEST_F(SetValueFadeEndToEndTest, AFadedVolumeRestsAtTheValueSetAndAVoiceBegunDuringItStartsWhereItStands) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Fade_Down", kObject), 0u);
  Frames(10);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(24);
  const auto dBAt = [](size_t f) { return -20.0 * double(std::min<size_t>(20, f > 2 ? f - 2 : 0)) / 20.0; };
  ExpectPeaks(*this, 36, [&](size_t f) { return Gain(dBAt(f)) + (f < 12 ? 0.0 : Gain(dBAt(f == 12 ? 13 : f))); }, 0.01);
}

// -6 dB, then -12 dB three frames later: -12 dB, not -18 dB. A change's frame ramps down from before.
TEST_F(SetValueFadeEndToEndTest, AVolumeSetAtOnceReplacesTheOneBefore) {
  LoadOwnBank(kSetBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Down_Six", kObject), 0u);
  Frames(3);
  ASSERT_NE(SoundEngine::PostEvent("Down_Twelve", kObject), 0u);
  Frames(4);
  ExpectPeaks(*this, 9, [](size_t f) { return Gain(f <= 2 ? 0.0 : f <= 5 ? -6.0 : -12.0); }, 0.005);
}

}  // namespace
