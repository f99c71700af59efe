// The game's rumble device on a pad of the test's: a player's motion output of a tone and the voices
// feeding motion turn both motors to the frame's peak times the player's volume, and removing the
// device stops them.
#include "OutputTestSupport.h"

#include <cmath>
#include <limits>

#include "Audio/RumbleMotionDevice.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/SoundEngineSequenceApi.h"

namespace {

using namespace SN;

struct FakePad final : Audio::IRumblePad {
  void SetVibration(int slot, uint16_t leftSpeed, uint16_t rightSpeed) override {
    lastSlot = slot;
    left = leftSpeed;
    right = rightSpeed;
    ++sets;
  }
  int lastSlot = -1;
  uint16_t left = 0, right = 0;
  int sets = 0;
};

float& TonePeak() {
  static float peak = 0.5f;
  return peak;
}

// Player 2's motion bus: 16 frames of a sine whose peak is TonePeak().
void PassToneToPlayer2(bool lastCall) {
  if (lastCall) return;
  CSnOutputDevice* output = LowerEngine::FindOutputDevice(SnOutput_Motion, 2);
  if (!output) return;
  static float samples[16];
  for (int t = 0; t < 16; ++t) samples[t] = TonePeak() * float(std::sin(2.0 * M_PI * (t + 0.5) / 16.0 + M_PI / 2.0 - M_PI / 16.0));
  SnMixBuffer mix;
  mix.samples = samples;
  mix.channelConfig = StandardConfig(kSpeakerCenter);
  mix.maxFrames = mix.validFrames = 16;
  output->PassData(mix);
}

class RumbleMotionDeviceTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    TonePeak() = 0.5f;
    InitWithMemorySink();
    Audio::RegisterRumbleMotionDevice();
    ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassToneToPlayer2), SN_Success);
  }
  void TearDown() override {
    SoundEngine::RemoveBehavioralExtension(&PassToneToPlayer2);
    OutputFixture::TearDown();
  }
  template <typename Call>
  static void OnAudioThread(Call call) {
    std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
    call(*OutputServices());
  }
  FakePad pad_;
};

TEST_F(RumbleMotionDeviceTest, TheMotorsFollowTheTonesPeakAndStopWithTheDevice) {
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(2, &pad_, 0);
    CSnMotionDeviceMgr::Get()->AttachPlayers(0x1);
  });
  Render();
  EXPECT_EQ(pad_.lastSlot, 2);
  // The sine's samples reach its peak of 0.5 at the first of them: half of 65535.
  EXPECT_NEAR(pad_.left, 32767, 1);
  EXPECT_EQ(pad_.right, pad_.left);
  // The player's volume scales it: -6.02 dB halves it again; a loud one is held at full speed.
  OnAudioThread([](ISnOutputServices& out) { out.SetPlayerVolume(2, -6.0206f); });
  Render();
  EXPECT_NEAR(pad_.left, 16384, 33);  // the engine's fast decibel conversion is good to 0.2%
  OnAudioThread([](ISnOutputServices& out) { out.SetPlayerVolume(2, 40.0f); });
  Render();
  EXPECT_EQ(pad_.left, 65535);
  const int sets = pad_.sets;
  OnAudioThread([](ISnOutputServices& out) { out.RemovePlayerMotionDevice(2); });
  EXPECT_EQ(pad_.sets, sets + 1);
  EXPECT_EQ(pad_.left, 0);
  EXPECT_EQ(pad_.right, 0);
  Render();
  EXPECT_EQ(pad_.sets, sets + 1);
}

// The game's volume for a player: not a number turned the motors off without a word; now it is
// refused with a logged error and the motors keep the volume they had. Every other volume is heard as
// its gain, however loud: +40 dB raises the tone's peak of 0.001 a hundredfold, infinity runs the
// motors at full speed and minus infinity stops them.
TEST_F(RumbleMotionDeviceTest, APlayersVolumeThatIsNotANumberIsRefusedAndAnyOtherHeardAsItsGain) {
  TonePeak() = 0.001f;
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(2, &pad_, 0);
    CSnMotionDeviceMgr::Get()->AttachPlayers(0x1);
  });
  MotionEngine::SetPlayerVolume(2, 40.0f);
  Render();
  // Within the engine's fast power of ten (a few tenths of a percent).
  EXPECT_NEAR(pad_.left, 6554, 20);
  MotionEngine::SetPlayerVolume(2, std::numeric_limits<float>::quiet_NaN());
  Render();
  EXPECT_NEAR(pad_.left, 6554, 20);
  EXPECT_NE(log_.Take().find("MotionEngine::SetPlayerVolume: volume nan is not a number"), std::string::npos);
  MotionEngine::SetPlayerVolume(2, std::numeric_limits<float>::infinity());
  Render();
  EXPECT_EQ(pad_.left, 65535);
  MotionEngine::SetPlayerVolume(2, -std::numeric_limits<float>::infinity());
  Render();
  EXPECT_EQ(pad_.left, 0);
  EXPECT_EQ(log_.Take().find("SetPlayerVolume"), std::string::npos);
  OnAudioThread([](ISnOutputServices& out) { out.RemovePlayerMotionDevice(2); });
}

TEST_F(RumbleMotionDeviceTest, VoicesFeedingMotionRaiseTheFramesPeakOnEveryChannel) {
  SoundEngine::RemoveBehavioralExtension(&PassToneToPlayer2);
  OnAudioThread([&](ISnOutputServices& out) { out.AddPlayerMotionDevice(2, &pad_, 0); });
  ISnMotionDevicePlugin* device = CSnMotionDeviceMgr::Get()->Device(2);
  ASSERT_NE(device, nullptr);
  // Two stereo voices of 4 frames: the louder's right channel peaks at 0.25, fed at gain 2.
  float quiet[8] = {0.1f, -0.1f, 0.1f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  float loud[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.1f, -0.25f, 0.2f, 0.0f};
  auto frame = [](float* samples) {
    SnMixBuffer mix;
    mix.samples = samples;
    mix.channelConfig = StandardConfig(kMaskStereo);
    mix.maxFrames = mix.validFrames = 4;
    return mix;
  };
  OnAudioThread([&](ISnOutputServices&) {
    device->MixVoice(frame(quiet), 1.0f);
    device->MixVoice(frame(loud), 2.0f);
    device->EndFrame();
  });
  EXPECT_NEAR(pad_.left, 32768, 1);
  EXPECT_EQ(pad_.right, pad_.left);
  // A frame without motion stops the motors; a second still frame tells the pad nothing new.
  OnAudioThread([&](ISnOutputServices&) { device->EndFrame(); });
  EXPECT_EQ(pad_.left, 0);
  const int sets = pad_.sets;
  OnAudioThread([&](ISnOutputServices&) { device->EndFrame(); });
  EXPECT_EQ(pad_.sets, sets);
}

TEST_F(RumbleMotionDeviceTest, APlayerWithoutAPadGetsNoDevice) {
  OnAudioThread([](ISnOutputServices& out) { out.AddPlayerMotionDevice(0, nullptr, 0); });
  EXPECT_FALSE(CSnMotionDeviceMgr::Get()->HasDevices());
}

}  // namespace
