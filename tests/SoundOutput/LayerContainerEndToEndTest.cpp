// A layer container heard end to end: the curves of its layer reach the children the layer lists
// from their first sample, and leave the others alone.
#include "SoundEngine/Lower/FastDecibels.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// The layer's volume curve goes from 0 dB at 0 to -12 dB at 100; the parameter is set to 50 before
// the play, so the listed tone starts at -6 dB while the unlisted one plays at 0 dB beside it.
TEST_F(SoundEndToEndTest, ALayersVolumeCurveLowersTheChildrenItListsFromTheirFirstSample) {
  LoadOwnBank("platform Linux\n"
              "tone LyListed 48000 1 60 1000\n"
              "tone LyOther 48000 1 60 500\n"
              "sound LyListed LyListed Effects\n"
              "sound LyOther LyOther Effects\n"
              "layers Ly Effects LyFade LyListed=0:1:100:1 LyOther\n"
              "rtpc Ly volume LyLevel 0:0 100:-12\n"
              "action Play_Ly_Act 0x0403 Ly\n"
              "event Play_Ly Play_Ly_Act\n");
  ASSERT_EQ(SoundEngine::SetRTPCValue("LyLevel", 50.0f), SN_Success);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Ly", kObject), 0u);
  Frames(5);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> listed = OwnMedia("LyListed"), other = OwnMedia("LyOther");
  const double lowered = double(VoiceParams::FastDbToLinear(-6.0f)) * kFastUnity * kFastUnity;
  ASSERT_GE(planes[0].size(), kFrame + listed.size());
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < kFrame) return 0.0;
    return (At(listed, t - kFrame) * lowered + At(other, t - kFrame) * kVoiceUnity) * kCentreToPair;
  }, 1.5);
}

}  // namespace
