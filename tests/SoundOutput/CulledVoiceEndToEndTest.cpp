// Voices that go virtual while they cannot be heard, as a bank says they should: an ADPCM loop culled
// for a frame by a -200 dB curve comes back on the very samples an uninterrupted play has there.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

class CulledVoiceEndToEndTest : public SoundEndToEndTest {};

// 4800 frames of looping ADPCM noise: the culled fifth frame (4096..5119) skips across the loop's end.
TEST_F(CulledVoiceEndToEndTest, AnAdpcmLoopCulledForAFrameComesBackOnItsSamples) {
  LoadOwnBank("tone CulledNoise 48000 1 100 0 adpcm noise\n"
              "sound CulledNoise CulledNoise Effects loop 0 inaudible virtual\n"
              "rtpc CulledNoise volume Cull 0:0 100:-200\n"
              "action Play_CulledNoise_Act 0x0403 CulledNoise bank TimingBank\n"
              "event Play_CulledNoise Play_CulledNoise_Act\n");
  // The same frames twice: once heard throughout, once culled in the fifth.
  auto play = [&](uint32_t culledFrame) {
    ASSERT_NE(SoundEngine::PostEvent("Play_CulledNoise", kObject), 0u);
    for (uint32_t frame = 0; frame < 10; ++frame) {
      ASSERT_EQ(SoundEngine::SetRTPCValue("Cull", frame == culledFrame ? 100.0f : 0.0f, kObject), SN_Success);
      Frames(1);
      CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
      ASSERT_NE(voice, nullptr) << "frame " << frame;
      EXPECT_EQ(voice->IsVirtual(), frame == culledFrame) << "frame " << frame;
    }
    ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
    Frames(2);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  };
  play(10);
  const auto heard = Capture();
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"culled.wav"), SN_Success);
  play(4);
  const auto culled = Capture("culled.wav");

  double loudest = 0.0;
  for (int c = 0; c < 2; ++c) {
    ASSERT_GE(culled[c].size(), 10u * kFrame);
    ASSERT_GE(heard[c].size(), 10u * kFrame);
    for (size_t i = 0; i < 10 * kFrame; ++i) {
      const size_t frame = i / kFrame;
      if (frame == 4) {
        ASSERT_EQ(culled[c][i], 0.0) << "channel " << c << " sample " << i;
      } else {
        ASSERT_EQ(culled[c][i], heard[c][i]) << "channel " << c << " sample " << i;
        loudest = std::max(loudest, std::fabs(culled[c][i]));
      }
    }
  }
  EXPECT_GT(loudest, 1000.0);
}

}  // namespace
