// A bus's bus volume heard by the voices routed to it: its value from the bank, a state's and one
// set by an action, whether the bus mixes itself or leaves its voices to carry it.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class BusStateEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// A steady level of 0.5 (a DC tone) looping on bus B under the game's Effects bus; B with `options`
// and, in state "Hushed" of group Hush, its bus volume `hushed` dB.
std::string BusBank(const std::string& options, const std::string& hushed) {
  return "stategroup Hush 0\n"
         "stateprops Hushed busvolume=" + hushed + "\n"
         "tone Steady 48000 1 100 0.5 dc\n"
         "bus B Effects " + options + "\n"
         "statemap B Hush Hushed=Hushed\n"
         "sound Steady Steady B loop 0\n"
         "action Play_Steady_Act 0x0403 Steady bank TimingBank\n"
         "event Play_Steady Play_Steady_Act\n";
}

// Plays the level, sets the state after three frames and plays it a second time four frames later:
// each frame's loudest sample against the bus's gain `before` and `after` the state, within half a
// percent (the engine's fast power of ten). The frame the state comes in ramps down from `before`.
void ExpectHushed(SoundEndToEndTest& test, const std::string& options, const std::string& hushed, double before,
                  double after) {
  test.LoadOwnBank(BusBank(options, hushed));
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  test.Frames(3);
  ASSERT_EQ(SoundEngine::SetState("Hush", "Hushed"), SN_Success);
  test.Frames(4);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  test.Frames(4);
  const std::vector<double> peaks = FramePeaks(test.Capture()[0]);
  ASSERT_GE(peaks.size(), 11u);
  const double full = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
  for (size_t f = 0; f < 11; ++f) {
    const double gain = f <= 3 ? before : f < 7 ? after : 2.0 * after;
    ASSERT_NEAR(peaks[f], full * gain, 0.005 * full) << "frame " << f;
  }
}

// B leaves its voices to the Effects bus's mix: they carry its bus volume themselves.
TEST_F(BusStateEndToEndTest, AStatesBusVolumeReachesTheVoicesOfABusThatDoesNotMixItself) {
  ExpectHushed(*this, "", "-20", 1.0, 0.1);
}

TEST_F(BusStateEndToEndTest, AStatesBusVolumeReachesTheMixOfABusThatMixesItself) {
  ExpectHushed(*this, "ownmix", "-20", 1.0, 0.1);
}

// The bank's bus volume of such a bus is heard from the first frame, and a state's adds to it.
TEST_F(BusStateEndToEndTest, TheBankBusVolumeOfABusThatDoesNotMixItselfIsHeard) {
  ExpectHushed(*this, "busvolume -6", "-14", std::pow(10.0, -6.0 / 20.0), 0.1);
}

}  // namespace

// The level playing on B with `options`, B's bus volume set by actions (to -20 dB over 420 ms, 20
// frames in a straight line of decibels; to -6 dB at once; back), `first` posted two frames into the
// play and `second` `after` frames later, and `last` frames more.
void PlayOnSetBus(SoundEndToEndTest& test, const std::string& options, const char* first, uint32_t after,
                  const char* second, uint32_t last) {
  test.LoadOwnBank("tone Steady 48000 1 100 0.5 dc\nbus B Effects " + options +
                   "\nsound Steady Steady B loop 0\n"
                   "action Play_Steady_Act 0x0403 Steady\nevent Play_Steady Play_Steady_Act\n"
                   "action Fade_Bus_Act 0x0C02 B bus value -20 0 0 fade 420 curve 4\nevent Fade_Bus Fade_Bus_Act\n"
                   "action Lower_Bus_Act 0x0C02 B bus value -6 0 0\nevent Lower_Bus Lower_Bus_Act\n"
                   "action Reset_Bus_Act 0x0D02 B bus\nevent Reset_Bus Reset_Bus_Act\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  test.Frames(2);
  ASSERT_NE(SoundEngine::PostEvent(first, kObject), 0u);
  test.Frames(after);
  ASSERT_NE(SoundEngine::PostEvent(second, kObject), 0u);
  test.Frames(last);
}

// The fade, and the level played again ten frames later: the voices already playing follow it one
// step a frame and rest at its end, and the one begun during it starts where it stands. A frame going
// down is loudest as it begins. A voice that carries the bus volume holds its first frame at the level
// after that frame's step; a bus that mixes itself takes it down with the rest.
void ExpectBusFade(SoundEndToEndTest& test, const std::string& options) {
  PlayOnSetBus(test, options, "Fade_Bus", 10, "Play_Steady", 24);
  const auto gainAt = [](size_t f) { return std::pow(10.0, -double(std::min<size_t>(20, f > 2 ? f - 2 : 0)) / 20.0); };
  const size_t secondFirst = options == "ownmix" ? 12 : 13;
  ExpectPeaks(test, 36, [&](size_t f) { return gainAt(f) + (f < 12 ? 0.0 : gainAt(f == 12 ? secondFirst : f)); }, 0.01);
}

// -6 dB at once and back three frames later. A frame going up is loudest as it ends.
void ExpectBusSetAndReset(SoundEndToEndTest& test, const std::string& options) {
  PlayOnSetBus(test, options, "Lower_Bus", 3, "Reset_Bus", 3);
  ExpectPeaks(test, 8, [](size_t f) { return f <= 2 || f >= 5 ? 1.0 : std::pow(10.0, -6.0 / 20.0); }, 0.005);
}

TEST_F(BusStateEndToEndTest, ABusVolumeFadeIsFollowedByTheVoicesOfABusThatDoesNotMixItself) {
  ExpectBusFade(*this, "");
}

TEST_F(BusStateEndToEndTest, ABusVolumeFadeIsFollowedByTheMixOfABusThatMixesItself) { ExpectBusFade(*this, "ownmix"); }

TEST_F(BusStateEndToEndTest, ABusVolumeSetAtOnceAndResetReachesTheVoicesOfABusThatDoesNotMixItself) {
  ExpectBusSetAndReset(*this, "");
}

TEST_F(BusStateEndToEndTest, ABusVolumeSetAtOnceAndResetReachesTheMixOfABusThatMixesItself) {
  ExpectBusSetAndReset(*this, "ownmix");
}
