// What is set on a parent node reaches the sounds below it while they play, heard end to end.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class ParentNodeEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// An actor-mixer lends its 6 dB gain effect to its sound. Bypassing the mixer's effect while the sound
// plays reaches the sound's voice: from the frame after the bypass the tone is heard at full level.
TEST_F(ParentNodeEndToEndTest, AnEffectBypassSetOnAnActorMixerReachesTheSoundBelowIt) {
  LoadOwnBank("platform Linux\n"
              "tone MixTone 48000 1 200 1000\n"
              "effect MixHalf gain -6\n"
              "sound MixTone MixTone Effects\n"
              "mixer Mixed Effects MixTone effect MixHalf\n"
              "action Play_MixTone_Act 0x0403 MixTone\n"
              "event Play_MixTone Play_MixTone_Act\n"
              "action Bypass_Mixed_Act 0x1A02 Mixed bypass 1 1\n"
              "event Bypass_Mixed Bypass_Mixed_Act\n");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_MixTone", kObject), 0u);
  Frames(3);
  ASSERT_NE(SoundEngine::PostEvent("Bypass_Mixed", kObject), 0u);
  Frames(9);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("MixTone");
  ASSERT_EQ(tone.size(), 9600u);
  ASSERT_GE(planes[0].size(), kFrame + tone.size());
  const double half = std::pow(10.0, -6.0 / 20.0);
  const size_t bypassedFrom = 4 * kFrame;
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < kFrame) return 0.0;
    return At(tone, t - kFrame) * (t < bypassedFrom ? half : 1.0) * kVoiceUnity * kCentreToPair;
  });
}

}  // namespace
