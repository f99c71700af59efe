// The game's speaker-volume-matrix callback heard end to end: a post that asks for it sees each
// output path's matrices every frame and what it writes into them is what is mixed; a post that does
// not ask is never called.
#include <cmath>

#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

struct MatrixWatch {
  float scale;  // applied to the left column of the voice's one row
  int calls = 0;
  uint32_t inputConfig = 0;
  uint32_t outputConfig = 0;
};

void ScaleLeft(uint32_t type, SnCallbackInfo* info) {
  if (type != SnCallback_SpeakerVolumeMatrix) return;
  auto* watch = static_cast<MatrixWatch*>(info->cookie);
  auto* matrixInfo = static_cast<SnSpeakerVolumeMatrixCallbackInfo*>(info);
  auto* record = static_cast<SnSpeakerVolumeMatrixRecord*>(matrixInfo->volumeMatrix);
  ++watch->calls;
  watch->inputConfig = record->inputConfig;
  watch->outputConfig = record->outputConfig;
  record->currentGains[0] *= watch->scale;
}

// Three posts of a 60 ms tone, six frames apart: without the flag (never called), halving the left
// column (the left plane at half the right's level from the first sample) and writing no number
// there (silence on the left, not noise). An asking post is called once for each of its three frames,
// for a mono voice on a stereo path.
TEST_F(SoundEndToEndTest, TheSpeakerMatrixCallbackReshapesWhatIsMixedForThePostsThatAskForIt) {
  LoadOwnBank("platform Linux\n"
              "tone VmTone 48000 1 60 1000\n"
              "sound VmTone VmTone Effects\n"
              "action Play_Vm_Act 0x0403 VmTone\n"
              "event Play_Vm Play_Vm_Act\n");
  MatrixWatch quiet{0.0f}, half{0.5f}, broken{std::nanf("")};
  const uint32_t flags[] = {SnCallback_EndOfEvent, SnCallback_SpeakerVolumeMatrix, SnCallback_SpeakerVolumeMatrix};
  MatrixWatch* watches[] = {&quiet, &half, &broken};
  Frames(1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Vm", kObject, flags[i], ScaleLeft, watches[i]), 0u);
    Frames(6);
  }
  const auto planes = Capture();
  EXPECT_EQ(quiet.calls, 0);
  EXPECT_EQ(half.calls, 3);
  EXPECT_EQ(broken.calls, 3);
  EXPECT_EQ(half.inputConfig, StandardConfig(kSpeakerCenter));
  EXPECT_EQ(half.outputConfig, StandardConfig(kMaskStereo));
  const std::vector<double> tone = OwnMedia("VmTone");
  ASSERT_GE(planes[0].size(), 13 * kFrame + tone.size());
  const double leftShare[] = {1.0, 0.5, 0.0};
  for (size_t t = 0; t < planes[0].size(); ++t) {
    const size_t post = t < kFrame ? 3 : (t - kFrame) / (6 * kFrame);
    const double plain =
        post < 3 ? At(tone, t - kFrame - post * 6 * kFrame) * kVoiceUnity * kCentreToPair * 32768.0 : 0.0;
    ASSERT_NEAR(planes[0][t], plain * (post < 3 ? leftShare[post] : 0.0), 1.0) << "left sample " << t;
    ASSERT_NEAR(planes[1][t], plain, 1.0) << "right sample " << t;
  }
}

}  // namespace
