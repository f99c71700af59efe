// A voice effect's information about its voice's attenuation: the spread and focus curves read at the
// distance of each of its rays.
#include <cmath>
#include <memory>

#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class VoiceInfoCurvesEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// Spread rises 0 to 50 over 100 m and focus falls 100 to 0: at 10 m ahead on the ground the effect
// reads 5 and 90, and past its one ray nothing. The plain beep has no attenuation: 0.
TEST_F(VoiceInfoCurvesEndToEndTest, AVoicesInformationReadsItsAttenuationsSpreadAndFocusAtItsRay) {
  LoadOwnBank("platform Linux\n"
              "tone WideTone 48000 1 500 880\n"
              "attenuation Wide3D\n"
              "attuse Wide3D 5 0\n"
              "attuse Wide3D 6 1\n"
              "attcurve Wide3D 0 0\n"
              "attpoint Wide3D 0 0 0 4\n"
              "attpoint Wide3D 0 100 50 4\n"
              "attcurve Wide3D 1 0\n"
              "attpoint Wide3D 1 0 100 4\n"
              "attpoint Wide3D 1 100 0 4\n"
              "sound WideTone WideTone Effects 3d Wide3D\n"
              "action Play_Wide_Act 0x0403 WideTone\n"
              "event Play_Wide Play_Wide_Act\n");
  const CSnOutputDevice* device = LowerEngine::FirstOutputDevice();
  ASSERT_NE(device, nullptr);
  CSnPlaybackInstance* placed = PlayTenMetresAhead("Play_Wide");
  ASSERT_NE(placed, nullptr);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnVoiceInfoProvider info(placed->Pipeline(), device->OutputType(), device->DeviceId(), 0);
    ASSERT_EQ(info.GetRayCount(), 1u);
    SnEmitterListenerRay ray{};
    ASSERT_EQ(info.GetRay(0, ray), SN_Success);
    const double ground = ray.distance * std::cos(ray.elevation);
    EXPECT_NEAR(ground, 10.0, 1e-4);
    EXPECT_NEAR(info.GetCurveValueB(0), ground * 50.0 / 100.0, 1e-4);
    EXPECT_NEAR(info.GetCurveValueA(0), 100.0 - ground * 100.0 / 100.0, 1e-4);
    EXPECT_EQ(info.GetCurveValueB(1), 0.0f);
    EXPECT_EQ(info.GetCurveValueA(1), 0.0f);
  }
  ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(2);
  CSnPlaybackInstance* plain = VoiceManager::FirstActiveInstance();
  ASSERT_NE(plain, nullptr);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnVoiceInfoProvider info(plain->Pipeline(), device->OutputType(), device->DeviceId(), 0);
  EXPECT_EQ(info.GetCurveValueB(0), 0.0f);
  EXPECT_EQ(info.GetCurveValueA(0), 0.0f);
}

// A placed beep heard by listeners 0 and 1: a mask naming both has no one listener's data to give
// (the plug-in must ask for one), each alone has; a 3D voice has no 2D panning to tell; its
// positioning type is 3D, spatialised; the object's one position, no second.
TEST_F(VoiceInfoCurvesEndToEndTest, AVoicesInformationAnswersOneListenerAtATimeAndNoPanningIn3D) {
  const CSnOutputDevice* device = LowerEngine::FirstOutputDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->ListenerMask() & 0x3u, 0x3u);
  ASSERT_EQ(SoundEngine::SetActiveListeners(kObject, 0x3), SN_Success);
  CSnPlaybackInstance* placed = PlayTenMetresAhead("Play_Spot_Beep");
  ASSERT_NE(placed, nullptr);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnVoiceInfoProvider info(placed->Pipeline(), device->OutputType(), device->DeviceId(), 0);
  EXPECT_EQ(info.GetListenerMask(), 0x3u);
  SnListenerData data{};
  EXPECT_EQ(info.GetListenerData(0x3, data), SN_Failure);
  EXPECT_EQ(info.GetListenerData(0x1, data), SN_Success);
  EXPECT_EQ(info.GetListenerData(0x2, data), SN_Success);
  float pan[3] = {9.0f, 9.0f, 9.0f};
  info.GetPanning(pan);
  EXPECT_EQ(pan[0], 0.0f);
  EXPECT_EQ(pan[1], 0.0f);
  EXPECT_EQ(pan[2], 0.0f);
  EXPECT_EQ(info.GetPositioningType(), 1u | 4u);
  EXPECT_EQ(info.GetNumGameObjectPositions(), 1u);
  SnSoundPosition emitter{};
  ASSERT_EQ(info.GetGameObjectPosition(0, emitter), SN_Success);
  EXPECT_EQ(emitter.position[2], 10.0f);
  EXPECT_EQ(info.GetGameObjectPosition(1, emitter), SN_Failure);
  // A provider over no voice answers with nothing rather than failing.
  CSnVoiceInfoProvider none;
  EXPECT_EQ(none.GetInputMixerParams(), nullptr);
  EXPECT_EQ(none.GetPlayingId(), 0u);
  EXPECT_EQ(none.GetNumGameObjectPositions(), 0u);
  EXPECT_EQ(none.GetGameObjectPosition(0, emitter), SN_Failure);
  EXPECT_EQ(none.GetVolumeMatrixFloats(), 0u);
}

}  // namespace
