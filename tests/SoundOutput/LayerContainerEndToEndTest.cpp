// A layer container heard end to end: the curves of its layer reach the children the layer lists
// from their first sample and follow their parameter while they play, and leave the others alone.
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// Two 200 ms tones under one layer container; the layer lists the first and lowers it from 0 dB at 0
// to -12 dB at 100 of its parameter.
class LayerCurveTest : public SoundEndToEndTest {
 protected:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    LoadOwnBank("platform Linux\n"
                "tone LyListed 48000 1 200 1000\n"
                "tone LyOther 48000 1 200 500\n"
                "sound LyListed LyListed Effects\n"
                "sound LyOther LyOther Effects\n"
                "layers Ly Effects LyFade LyListed=0:1:100:1 LyOther\n"
                "rtpc Ly volume LyLevel 0:0 100:-12\n"
                "action Play_Ly_Act 0x0403 Ly\n"
                "event Play_Ly Play_Ly_Act\n");
  }
  // The parameter at 50 (-6 dB) before the play, posted after one frame; `during` runs once the
  // tones began, then the rest of the tones is rendered.
  void PlayAtHalf(const std::function<void()>& during) {
    ASSERT_EQ(SoundEngine::SetRTPCValue("LyLevel", 50.0f), SN_Success);
    Frames(1);
    ASSERT_NE(SoundEngine::PostEvent("Play_Ly", kObject), 0u);
    during();
    Frames(12);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  }
  // Both tones from the frame after the post: the listed one at the level each frame ends at, each
  // frame ramping to it from the one before; the other at 0 dB.
  void ExpectLevels(const std::function<double(size_t frame)>& listedFrameEnd) {
    const auto planes = Capture();
    const std::vector<double> listed = OwnMedia("LyListed"), other = OwnMedia("LyOther");
    ASSERT_GE(planes[0].size(), kFrame + listed.size());
    ExpectModel(planes, 0, [&](size_t t) {
      if (t < kFrame) return 0.0;
      const size_t frame = t / kFrame;
      const double from = listedFrameEnd(frame - 1), to = listedFrameEnd(frame);
      const double level = from + (to - from) * double(t % kFrame) / double(kFrame);
      return (At(listed, t - kFrame) * level + At(other, t - kFrame) * kVoiceUnity) * kCentreToPair;
    }, 1.5);
  }
  static double Gain(float dB) { return double(VoiceParams::FastDbToLinear(dB)) * kFastUnity * kFastUnity; }
};

TEST_F(LayerCurveTest, ALayersVolumeCurveLowersTheChildrenItListsFromTheirFirstSample) {
  PlayAtHalf([] {});
  ExpectLevels([](size_t) { return Gain(-6.0f); });
}

// The parameter goes to 100 (-12 dB) in the fourth frame and to 0 (0 dB) in the seventh: each value
// holds from that frame on, as often as it changes.
TEST_F(LayerCurveTest, ALayersCurveFollowsItsParameterWhileTheChildPlays) {
  PlayAtHalf([this] {
    Frames(3);
    ASSERT_EQ(SoundEngine::SetRTPCValue("LyLevel", 100.0f), SN_Success);
    Frames(3);
    ASSERT_EQ(SoundEngine::SetRTPCValue("LyLevel", 0.0f), SN_Success);
  });
  ExpectLevels([](size_t frame) { return frame < 4 ? Gain(-6.0f) : frame < 7 ? Gain(-12.0f) : Gain(0.0f); });
}

}  // namespace
