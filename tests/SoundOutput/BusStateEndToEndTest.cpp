// A bus's bus volume heard by the voices routed to it: its value from the bank, and a state's,
// whether the bus mixes itself or leaves its voices to carry it.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

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
TEST_F(SoundEndToEndTest, AStatesBusVolumeReachesTheVoicesOfABusThatDoesNotMixItself) {
  ExpectHushed(*this, "", "-20", 1.0, 0.1);
}

TEST_F(SoundEndToEndTest, AStatesBusVolumeReachesTheMixOfABusThatMixesItself) {
  ExpectHushed(*this, "ownmix", "-20", 1.0, 0.1);
}

// The bank's bus volume of such a bus is heard from the first frame, and a state's adds to it.
TEST_F(SoundEndToEndTest, TheBankBusVolumeOfABusThatDoesNotMixItselfIsHeard) {
  ExpectHushed(*this, "busvolume -6", "-14", std::pow(10.0, -6.0 / 20.0), 0.1);
}

}  // namespace
