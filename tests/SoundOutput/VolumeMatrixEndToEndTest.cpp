// The game's speaker-volume-matrix callback heard end to end: a post that asks for it sees each
// output path's matrices and the mixer context of the path's bus every frame, and what it writes into
// the matrices is what is mixed; a post that does not ask is never called.
#include <cmath>

#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class VolumeMatrixEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

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
TEST_F(VolumeMatrixEndToEndTest, TheSpeakerMatrixCallbackReshapesWhatIsMixedForThePostsThatAskForIt) {
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

struct MixerWatch {
  int calls = 0;
  int withoutContext = 0;
  uint32_t busId = 0;
  uint32_t busKind = ~0u;
  bool panning = false;
};

void ReadMixerContext(uint32_t type, SnCallbackInfo* info) {
  if (type != SnCallback_SpeakerVolumeMatrix) return;
  auto* watch = static_cast<MixerWatch*>(info->cookie);
  auto* record = static_cast<SnSpeakerVolumeMatrixRecord*>(
      static_cast<SnSpeakerVolumeMatrixCallbackInfo*>(info)->volumeMatrix);
  ++watch->calls;
  ISnMixerPluginContext* mixer = record->mixerPluginData;
  if (!mixer) {
    ++watch->withoutContext;
    return;
  }
  watch->busId = mixer->GetBusId();
  watch->busKind = mixer->GetBusKind();
  watch->panning = mixer->GetPanning() != nullptr;
}

// Each frame's record hands the game the mixer context of the bus its path feeds, with the panning
// services onto that bus's speakers: a voice into Voices (a mix stage of its own) meets that ordinary
// bus, one into Effects (none of its own) the master bus that mixes it.
TEST_F(VolumeMatrixEndToEndTest, TheSpeakerMatrixCallbackIsHandedTheMixerContextOfThePathsBus) {
  LoadOwnBank("platform Linux\n"
              "tone VmTone 48000 1 60 1000\n"
              "sound VmVoice VmTone Voices\n"
              "sound VmEffect VmTone Effects\n"
              "action Play_VmVoice_Act 0x0403 VmVoice\n"
              "action Play_VmEffect_Act 0x0403 VmEffect\n"
              "event Play_VmVoice Play_VmVoice_Act\n"
              "event Play_VmEffect Play_VmEffect_Act\n");
  MixerWatch voice, effect;
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_VmVoice", kObject, SnCallback_SpeakerVolumeMatrix, ReadMixerContext, &voice),
            0u);
  ASSERT_NE(
      SoundEngine::PostEvent("Play_VmEffect", kObject, SnCallback_SpeakerVolumeMatrix, ReadMixerContext, &effect), 0u);
  Frames(6);
  for (const MixerWatch* watch : {&voice, &effect}) {
    EXPECT_EQ(watch->calls, 3);
    EXPECT_EQ(watch->withoutContext, 0);
    EXPECT_TRUE(watch->panning);
  }
  EXPECT_EQ(voice.busId, SoundEngine::GetIDFromString("Voices"));
  EXPECT_EQ(voice.busKind, 0u);
  EXPECT_EQ(effect.busId, SoundEngine::GetIDFromString("MasterBus"));
  EXPECT_EQ(effect.busKind, 1u);
}

}  // namespace
