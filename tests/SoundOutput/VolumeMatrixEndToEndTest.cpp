// The game's speaker-volume-matrix callback heard end to end: a post that asks for it sees every
// output path's matrices each frame and what it writes into them is what is mixed; a post that does
// not ask is never called.
#include <cmath>

#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Lower/VoiceParams.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

struct MatrixWatch {
  int calls = 0;
  uint32_t inputConfig = 0;
  uint32_t outputConfig = 0;
  float scale = 1.0f;  // applied to the left column of every row
};

void ScaleLeft(uint32_t type, SnCallbackInfo* info) {
  if (type != SnCallback_SpeakerVolumeMatrix) return;
  auto* watch = static_cast<MatrixWatch*>(info->cookie);
  auto* record = static_cast<SnSpeakerVolumeMatrixRecord*>(static_cast<SnSpeakerVolumeMatrixCallbackInfo*>(info)->volumeMatrix);
  ++watch->calls;
  watch->inputConfig = record->inputConfig;
  watch->outputConfig = record->outputConfig;
  record->currentGains[0] *= watch->scale;  // one mono row: left, right, ...
}

class VolumeMatrixTest : public SoundEndToEndTest {
 protected:
  void LoadTone() {
    LoadOwnBank("platform Linux\n"
                "tone VmTone 48000 1 60 1000\n"
                "sound VmTone VmTone Effects\n"
                "action Play_Vm_Act 0x0403 VmTone\n"
                "event Play_Vm Play_Vm_Act\n");
  }
};

// The callback halves the left column: the left plane is heard at half the right's level from the
// first sample, the right as a plain voice; it is called once per frame of the voice, for a mono
// voice on a stereo path.
TEST_F(VolumeMatrixTest, ThePostsCallbackReshapesTheMatrixThatIsMixed) {
  LoadTone();
  MatrixWatch watch;
  watch.scale = 0.5f;
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Vm", kObject, SnCallback_SpeakerVolumeMatrix, ScaleLeft, &watch), 0u);
  Frames(5);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  EXPECT_EQ(watch.calls, 3);  // 60 ms: three frames of 1024 samples
  EXPECT_EQ(watch.inputConfig, StandardConfig(kSpeakerCenter));
  EXPECT_EQ(watch.outputConfig, StandardConfig(kMaskStereo));
  const std::vector<double> tone = OwnMedia("VmTone");
  ASSERT_GE(planes[0].size(), kFrame + tone.size());
  for (size_t t = 0; t < planes[0].size(); ++t) {
    const double plain = t >= kFrame ? At(tone, t - kFrame) * kVoiceUnity * kCentreToPair * 32768.0 : 0.0;
    ASSERT_NEAR(planes[0][t], plain * 0.5, 1.0) << "left sample " << t;
    ASSERT_NEAR(planes[1][t], plain, 1.0) << "right sample " << t;
  }
}

// A post without the flag is never called back; a callback that writes no number mixes silence
// there, not noise.
TEST_F(VolumeMatrixTest, OnlyAskingPostsAreCalledAndAGainThatIsNoNumberIsSilence) {
  LoadTone();
  MatrixWatch quiet, broken;
  broken.scale = std::nanf("");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Vm", kObject, SnCallback_EndOfEvent, ScaleLeft, &quiet), 0u);
  Frames(5);
  ASSERT_NE(SoundEngine::PostEvent("Play_Vm", kObject, SnCallback_SpeakerVolumeMatrix, ScaleLeft, &broken), 0u);
  Frames(5);
  const auto planes = Capture();
  EXPECT_EQ(quiet.calls, 0);
  EXPECT_EQ(broken.calls, 3);
  const std::vector<double> tone = OwnMedia("VmTone");
  const size_t secondAt = 6 * kFrame;
  ASSERT_GE(planes[0].size(), secondAt + tone.size());
  for (size_t t = 0; t < planes[0].size(); ++t) {
    const double first = t >= kFrame ? At(tone, t - kFrame) : 0.0;
    const double second = t >= secondAt ? At(tone, t - secondAt) : 0.0;
    ASSERT_NEAR(planes[0][t], first * kVoiceUnity * kCentreToPair * 32768.0, 1.0) << "left sample " << t;
    ASSERT_NEAR(planes[1][t], (first + second) * kVoiceUnity * kCentreToPair * 32768.0, 1.0) << "right sample " << t;
  }
}

}  // namespace
