// A voice effect's information about its voice's attenuation: the spread and focus curves read at the
// distance of each of its rays.
#include <cmath>
#include <memory>

#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/OutputDevice.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// Spread rises 0 to 50 over 100 m and focus falls 100 to 0: at 10 m ahead on the ground the effect
// reads 5 and 90, and past its one ray nothing. The plain beep has no attenuation: 0.
TEST_F(SoundEndToEndTest, AVoicesInformationReadsItsAttenuationsSpreadAndFocusAtItsRay) {
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
  const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Wide", kObject), 0u);
  Frames(2);
  CSnPlaybackInstance* placed = VoiceManager::FirstActiveInstance();
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

}  // namespace
