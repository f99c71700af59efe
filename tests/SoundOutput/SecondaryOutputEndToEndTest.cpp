// Secondary outputs in rendered frames: the listeners one takes from the main device come back to it
// when the output goes, with the voices playing for them.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

class SecondaryOutputEndToEndTest : public SoundEndToEndTest {};

TEST_F(SecondaryOutputEndToEndTest, AListenerTakenByARemovedSecondaryOutputIsHeardOnTheMainDeviceAgain) {
  LoadOwnBank("tone SecondaryHum 48000 1 100 440\n"
              "sound SecondaryHum SecondaryHum Effects loop 0\n"
              "action Play_SecondaryHum_Act 0x0403 SecondaryHum bank TimingBank\n"
              "event Play_SecondaryHum Play_SecondaryHum_Act\n");
  // Listener 0, the object's, goes to the secondary output: the main device renders nothing of it.
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(1, SnOutput_Secondary, 0x1), SN_Success);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_SecondaryHum", kObject), 0u);
  Frames(3);
  ASSERT_EQ(SoundEngine::RemoveSecondaryOutput(1, SnOutput_Secondary), SN_Success);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), 7u);
  for (size_t frame = 0; frame < 4; ++frame) EXPECT_EQ(peaks[frame], 0.0) << "frame " << frame;
  // The frames after the removal's: the hum plays on the main device.
  for (size_t frame = 5; frame < 7; ++frame) EXPECT_GT(peaks[frame], 1000.0) << "frame " << frame;
}

}  // namespace
