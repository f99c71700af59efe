// Motion sources heard end to end: the game's banks as the build writes them, a recording motion
// device added for player 0 as the game adds its rumble, the rumble event posted by name, and every
// motion frame the device is handed checked against the tone's media and the engine's unity gains.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

#include "OutputTestSupport.h"
#include "tests/Support/WaveSamples.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

constexpr uint32_t kMotionObject = 7;
constexpr uint32_t kMotionFrame = 8;  // samples of a motion frame
// A motion voice at 0 dB meets the engine's fast unity three times: its volume, its path's volume and
// its motion bus's.
constexpr double kMotionUnity = OrvTest::kFastUnity * OrvTest::kFastUnity * OrvTest::kFastUnity;

// What the engine hands player 0's device.
struct DeviceLog {
  struct Voice {
    std::vector<float> samples;  // the first channel's valid frames
    float gain;
  };
  std::vector<std::vector<float>> frames;
  std::vector<Voice> voices;
  int stops = 0;
  size_t otherPlayersFrames = 0;
  float otherPlayersPeak = 0.0f;
};
DeviceLog& DeviceRecord() {
  static DeviceLog log;
  return log;
}

struct PlayerDevice final : OutputTest::TestMotionDevice<PlayerDevice> {
  SNRESULT Init(ISnPluginMemAlloc*, const void*, uint32_t player, void*) override {
    player_ = player;
    return SN_Success;
  }
  void WriteFrame(const SnMixBuffer& frame) override {
    // Another player's frames are only counted.
    if (player_ != 0) {
      ++DeviceRecord().otherPlayersFrames;
      for (uint32_t t = 0; t < frame.validFrames; ++t)
        DeviceRecord().otherPlayersPeak = std::max(DeviceRecord().otherPlayersPeak, std::fabs(frame.samples[t]));
      return;
    }
    DeviceRecord().frames.emplace_back(frame.samples, frame.samples + frame.validFrames);
  }
  void MixVoice(const SnMixBuffer& voice, float gain) override {
    DeviceRecord().voices.push_back({std::vector<float>(voice.samples, voice.samples + voice.validFrames), gain});
  }
  void Stop() override { ++DeviceRecord().stops; }
  uint32_t player_ = 0;
};

class MotionEndToEndTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    DeviceRecord() = DeviceLog{};
    for (const char* name : {"Init", "GeneralBank"})
      std::filesystem::copy_file(std::string("Sound/Banks/") + name + ".bnk", Path(std::string(name) + ".bnk"));
    wave_ = OrvTest::ToneSamples("content/banks/GeneralBank.txt", "RumbleWave");
    ASSERT_EQ(wave_.size(), 150u) << "400 ms at the motion rate";
    InitWithMemorySink();
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kMotionObject), SN_Success);
  }
  void AddDevice() {
    MotionEngine::RegisterMotionDevice(0, kMotionDevicePluginId, &PlayerDevice::Make);
    ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(0, 0, kMotionDevicePluginId, &pad_), SN_Success);
  }
  // Every sample of frames [first, first + count) against the own bank's tone at `gain`, good to
  // the engine's fast decibel conversion (0.2%).
  void ExpectOwnTone(size_t first, size_t count, double gain) {
    ASSERT_GE(DeviceRecord().frames.size(), first + count);
    for (size_t f = first; f < first + count; ++f)
      for (size_t t = 0; t < kMotionFrame; ++t) {
        const size_t n = f * kMotionFrame + t;
        const double model = n < ownMedia_.size() ? ownMedia_[n] * gain : 0.0;
        ASSERT_NEAR(DeviceRecord().frames[f][t], model, std::fabs(model) * 2e-3 + 1e-6) << f << ", " << t;
      }
  }
  uint32_t Post(const char* event) {
    return SoundEngine::PostEvent(event, kMotionObject, 0, nullptr, nullptr, 0, nullptr, 0);
  }
  // Motion frames the device was handed with sound in them, each checked against the tone from
  // `first` on: the tone's samples at the unity gains, to within float rounding.
  void ExpectTone(size_t firstFrame, size_t frames, size_t fromSample) {
    ASSERT_GE(DeviceRecord().frames.size(), firstFrame + frames);
    for (size_t f = 0; f < frames; ++f) {
      const std::vector<float>& frame = DeviceRecord().frames[firstFrame + f];
      for (size_t t = 0; t < frame.size(); ++t) {
        const size_t n = fromSample + f * kMotionFrame + t;
        const double model = n < wave_.size() ? wave_[n] * kMotionUnity : 0.0;
        ASSERT_NEAR(frame[t], model, 1e-6) << "frame " << firstFrame + f << " sample " << t;
      }
    }
  }
  // A sound's level on the main output: its last frame's peak against the same frame of the voice
  // as the devices are fed it, before its buses.
  static double MainLevelAgainstFeed() {
    float main = 0.0f, voice = 0.0f;
    for (float sample : OutputTest::SinkLog().frames.back()) main = std::max(main, std::fabs(sample));
    for (float sample : DeviceRecord().voices.back().samples) voice = std::max(voice, std::fabs(sample));
    return double(main) / voice;
  }
  static bool Silent(const std::vector<float>& frame) {
    for (float sample : frame)
      if (sample != 0.0f) return false;
    return true;
  }

  // A bank of the test's own beside the game's, from bank text, loaded from memory it keeps; the
  // samples of its tone.
  void LoadOwnBank(const std::string& text, const char* name, const char* tone) {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(text, name, bank, error)) << error;
    ownMedia_ = OrvTest::ToneSamples(bank, tone);
    own_ = Tools::WriteBank(bank);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(own_.data(), uint32_t(own_.size()), id), SN_Success);
  }

  // A bank of a 375-sample tone's motion source with the lines given before and after it, its motion
  // played for player 0's device with `parameter` at 50: half way along each curve, where the ones
  // the tests give put -6 dB, which its first two frames are checked for.
  void StartShakerAtHalf(const std::string& before, const std::string& after, const char* parameter) {
    LoadOwnBank("tone Wave 375 1 1000 25\n" + before + "motionsource Shaker_Source Wave\n" + after +
                    "action Play_Shake_Act 0x0403 Shaker_Source\n"
                    "event Play_Shake Play_Shake_Act\n",
                "ShakerBank", "Wave");
    AddDevice();
    ASSERT_EQ(SoundEngine::SetRTPCValue(parameter, 50.0f), SN_Success);
    ASSERT_NE(Post("Play_Shake"), 0u);
    Render(2);
    ExpectOwnTone(0, 2, kMotionUnity * std::pow(10.0, -6.0 / 20.0));
  }

  std::vector<double> wave_;
  std::vector<double> ownMedia_;
  std::vector<uint8_t> own_;
  int pad_ = 0;
};

TEST_F(MotionEndToEndTest, ARumbleEventReachesPlayer0sDeviceSampleBySampleAndThenStillness) {
  AddDevice();
  ASSERT_NE(Post("Play_Rumble"), 0u);
  Render();
  // The voice starts in the frame the event is posted: the motion output is made for it.
  ASSERT_EQ(DeviceRecord().frames.size(), 1u);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 0), nullptr);
  // Its motion bus mixes on the motion output only: the main output never hears it.
  EXPECT_NE(LowerEngine::FindMixBus(SoundEngine::GetIDFromString("Rumble"), SnOutput_Motion, 0), nullptr);
  EXPECT_EQ(LowerEngine::FindMixBus(SoundEngine::GetIDFromString("Rumble"), SnOutput_Main, 0), nullptr);
  Render(20);
  // 150 samples are 18 whole motion frames and 6 samples; every frame of the voice is 8 long.
  ExpectTone(0, 19, 0);
  for (size_t f = 0; f < 19; ++f) EXPECT_EQ(DeviceRecord().frames[f].size(), kMotionFrame) << f;
  // Once the voice is over the device is handed still frames: its motors stop.
  ASSERT_GT(DeviceRecord().frames.size(), 20u);
  EXPECT_TRUE(Silent(DeviceRecord().frames.back()));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

// An object's motion voice stops with its stop-all, and at once when the game lets the object go
// (its sounds play on, holding it); another object's rumble is left alone until its own stop.
TEST_F(MotionEndToEndTest, AGameObjectsMotionVoiceStopsWithItsStopAllAndWhenItIsLetGo) {
  constexpr uint32_t kOther = 8, kThird = 9;
  for (uint32_t object : {kOther, kThird}) ASSERT_EQ(SoundEngine::RegisterGameObj(object), SN_Success);
  auto post = [](const char* event, uint32_t object) {
    return SoundEngine::PostEvent(event, object, 0, nullptr, nullptr, 0, nullptr, 0);
  };
  AddDevice();
  ASSERT_NE(post("Play_Rumble", kMotionObject), 0u);
  Render(2);
  ASSERT_NE(post("Play_Rumble", kOther), 0u);
  ASSERT_NE(post("Play_Rumble", kThird), 0u);
  ASSERT_NE(post("Play_HumLoop", kThird), 0u);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 4u);
  ASSERT_EQ(SoundEngine::StopAll(kMotionObject), SN_Success);
  ASSERT_EQ(SoundEngine::UnregisterGameObj(kThird), SN_Success);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u) << "the other object's rumble and the hum";
  const size_t alone = DeviceRecord().frames.size();
  Render(2);
  ExpectTone(alone, 2, 2 * kMotionFrame);
  ASSERT_NE(post("Stop_Rumble", kOther), 0u);
  Render(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_TRUE(Silent(DeviceRecord().frames.back()));
  // Every object let go at once takes every rumble.
  ASSERT_NE(post("Play_Rumble", kOther), 0u);
  Render();
  ASSERT_EQ(SoundEngine::UnregisterAllGameObj(), SN_Success);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
}

// A bank bringing its own motion bus makes it the default; its volume is its motion voices' own, as an
// output bus's volume is its sounds'.
TEST_F(MotionEndToEndTest, AMotionBussVolumeIsItsMotionVoicesVolume) {
  LoadOwnBank("tone Wave 375 1 100 25\n"
              "motionbus Quiet - volume -6\n"
              "motionsource Quiet_Source Wave\n"
              "action Play_Quiet_Act 0x0403 Quiet_Source\n"
              "event Play_Quiet Play_Quiet_Act\n",
              "QuietBank", "Wave");
  AddDevice();
  ASSERT_NE(Post("Play_Quiet"), 0u);
  Render(4);
  EXPECT_NE(LowerEngine::FindMixBus(SoundEngine::GetIDFromString("Quiet"), SnOutput_Motion, 0), nullptr);
  EXPECT_EQ(LowerEngine::FindMixBus(SoundEngine::GetIDFromString("Rumble"), SnOutput_Motion, 0), nullptr);
  // -6 dB through the engine's fast conversion, good to 0.2%.
  const double gain = kMotionUnity * std::pow(10.0, -6.0 / 20.0);
  ASSERT_EQ(DeviceRecord().frames.size(), 4u);
  ExpectOwnTone(0, 4, gain);
}

// A sound whose node names a motion bus for its second output feeds the players' devices its own
// frames, at the gain its listener gives each player, once the listener feeds the motion pipeline.
TEST_F(MotionEndToEndTest, ASoundWithAMotionOutputFeedsThePlayersOnItsListenerAtItsLevel) {
  LoadOwnBank("motion 1\n"
              "tone Buzz 48000 1 100 50\n"
              "motionbus Shaker -\n"
              "sound Buzz_Sound Buzz MasterBus motion Shaker\n"
              "action Play_Buzz_Act 0x0403 Buzz_Sound\n"
              "event Play_Buzz Play_Buzz_Act\n",
              "BuzzBank", "Buzz");
  ASSERT_EQ(ownMedia_.size(), 4800u);
  AddDevice();
  // Player 0 has no listener yet: nothing is fed.
  ASSERT_NE(Post("Play_Buzz"), 0u);
  Render(2);
  EXPECT_TRUE(DeviceRecord().voices.empty());
  // Listener 0 feeds player 0, but not yet the motion pipeline: the voice is fed at no gain.
  MotionEngine::SetPlayerListener(0, 0);
  Render();
  ASSERT_EQ(DeviceRecord().voices.size(), 1u);
  EXPECT_EQ(DeviceRecord().voices[0].gain, 0.0f);
  // Fed: each frame of the voice, as it is before its buses, at its level (volume and path volume at
  // 0 dB) times the player's share (the full-range conversion of 0 dB).
  ASSERT_EQ(SoundEngine::SetListenerPipeline(0, true, true), SN_Success);
  Render(2);
  ASSERT_EQ(DeviceRecord().voices.size(), 3u);
  for (size_t i = 1; i < 3; ++i) {
    const DeviceLog::Voice& voice = DeviceRecord().voices[i];
    EXPECT_NEAR(voice.gain, kMotionUnity, 1e-6) << i;
    ASSERT_EQ(voice.samples.size(), 1024u);
    const size_t first = (2 + i) * 1024;
    for (size_t t = 0; t < voice.samples.size(); ++t)
      ASSERT_NEAR(voice.samples[t], first + t < ownMedia_.size() ? ownMedia_[first + t] : 0.0, 1e-6) << i << ", " << t;
  }
  // Nothing of it goes through a motion bus: the motion output made for player 0 when it started
  // hands the device still frames only.
  EXPECT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 0), nullptr);
  EXPECT_GE(DeviceRecord().frames.size(), 4u);
  for (const std::vector<float>& frame : DeviceRecord().frames) EXPECT_TRUE(Silent(frame));

  // A sound without a motion output feeds nothing.
  const size_t fed = DeviceRecord().voices.size();
  SoundEngine::StopAll();
  Render(2);
  const size_t afterStop = DeviceRecord().voices.size();
  ASSERT_NE(Post("Play_Beep"), 0u);
  Render(2);
  EXPECT_EQ(DeviceRecord().voices.size(), afterStop);
  EXPECT_LE(afterStop, fed + 1);
}

// Run-time changes of a motion bus reach the motion voices already playing in it, as an output bus's
// reach its sounds: its volume set by an action, its mute and its unmute. Each change is heard from
// the frame after the one it comes in (that one ramps).
TEST_F(MotionEndToEndTest, AMotionBussRunTimeVolumeAndMuteReachItsPlayingMotionVoices) {
  LoadOwnBank("tone Wave 375 1 1000 25\n"
              "motionbus Shaker -\n"
              "motionsource Shaker_Source Wave\n"
              "action Play_Shake_Act 0x0403 Shaker_Source\n"
              "action Lower_Shaker_Act 0x0A02 Shaker bus value -6 0 0\n"
              "action Mute_Shaker_Act 0x0602 Shaker bus\n"
              "action Unmute_Shaker_Act 0x0702 Shaker bus\n"
              "event Play_Shake Play_Shake_Act\n"
              "event Lower_Shaker Lower_Shaker_Act\n"
              "event Mute_Shaker Mute_Shaker_Act\n"
              "event Unmute_Shaker Unmute_Shaker_Act\n",
              "ShakerBank", "Wave");
  ASSERT_EQ(ownMedia_.size(), 375u);
  AddDevice();
  ASSERT_NE(Post("Play_Shake"), 0u);
  Render(2);
  ExpectOwnTone(0, 2, kMotionUnity);
  ASSERT_NE(Post("Lower_Shaker"), 0u);
  Render(3);
  ExpectOwnTone(3, 2, kMotionUnity * std::pow(10.0, -6.0 / 20.0));
  ASSERT_NE(Post("Mute_Shaker"), 0u);
  Render(3);
  ASSERT_EQ(DeviceRecord().frames.size(), 8u);
  EXPECT_TRUE(Silent(DeviceRecord().frames[6]));
  EXPECT_TRUE(Silent(DeviceRecord().frames[7]));
  ASSERT_NE(Post("Unmute_Shaker"), 0u);
  Render(3);
  ExpectOwnTone(9, 2, kMotionUnity * std::pow(10.0, -6.0 / 20.0));
}

// A player whose device arrives while a motion voice plays gets its frames from the next frame on,
// not from the next motion voice; the player already there keeps its own.
TEST_F(MotionEndToEndTest, APlayerDeviceAddedWhileAMotionVoicePlaysIsRoutedAtOnce) {
  MotionEngine::RegisterMotionDevice(0, kMotionDevicePluginId, &PlayerDevice::Make);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(1, 0, kMotionDevicePluginId, &pad_), SN_Success);
  ASSERT_NE(Post("Play_Rumble"), 0u);
  Render(2);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, 2u);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(0, 0, kMotionDevicePluginId, &pad_), SN_Success);
  Render(2);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 0), nullptr) << "made when the device came";
  ASSERT_EQ(DeviceRecord().frames.size(), 2u);
  ExpectTone(0, 2, 2 * kMotionFrame);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, 4u);
}

// A player moved to another listener leaves the voices of its old one; the other players keep theirs.
TEST_F(MotionEndToEndTest, APlayerMovedToAnotherListenerLeavesTheOthersRoutesAlone) {
  AddDevice();
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(1, 0, kMotionDevicePluginId, &pad_), SN_Success);
  ASSERT_NE(Post("Play_Rumble"), 0u);
  Render(2);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, 2u);
  MotionEngine::SetPlayerListener(1, 1);
  Render(2);
  ExpectTone(0, 4, 0);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, 4u) << "player 1's output stays, handed still frames";
}

// A player moved to another listener takes its motion output along: a game object then heard by the
// new listener alone keeps its motion voice on the player's device.
TEST_F(MotionEndToEndTest, AMotionOutputFollowsItsPlayersListenerWhenAVoicesListenersChange) {
  AddDevice();
  ASSERT_NE(Post("Play_Rumble"), 0u);
  Render(2);
  const CSnOutputDevice* output = LowerEngine::FindOutputDevice(SnOutput_Motion, 0);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->ListenerMask(), 0x1u) << "player 0 hears listener 0";
  // The main output keeps listener 0: the motion output hears it beside it.
  EXPECT_EQ(LowerEngine::MainDevice()->ListenerMask() & 0x1u, 0x1u);
  MotionEngine::SetPlayerListener(0, 1);
  ASSERT_EQ(SoundEngine::SetActiveListeners(kMotionObject, 0x2), SN_Success);
  Render(2);
  EXPECT_EQ(output->ListenerMask(), 0x2u);
  ExpectTone(0, 4, 0);
  // Heard by neither of them, it leaves the device still.
  ASSERT_EQ(SoundEngine::SetActiveListeners(kMotionObject, 0x4), SN_Success);
  Render(2);
  EXPECT_TRUE(Silent(DeviceRecord().frames.back()));
}

// A motion voice whose game object comes to be heard by another player's listener reaches that
// player's device from then on.
TEST_F(MotionEndToEndTest, AMotionVoiceReachesAPlayerWhoseListenerItsObjectComesToBeHeardBy) {
  MotionEngine::RegisterMotionDevice(0, kMotionDevicePluginId, &PlayerDevice::Make);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(1, 0, kMotionDevicePluginId, &pad_), SN_Success);
  MotionEngine::SetPlayerListener(1, 1);
  ASSERT_NE(Post("Play_Rumble"), 0u);
  Render(2);
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  ASSERT_EQ(SoundEngine::SetActiveListeners(kMotionObject, 0x3), SN_Success);
  Render(2);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, 2u);
  EXPECT_GT(DeviceRecord().otherPlayersPeak, 0.01f);
}

// A sound feeding motion has the motion outputs made of the players its listeners reach, when it
// starts, when a player's device comes or a player moves to one of its listeners, and when its game
// object comes to be heard by a player's listener; each such device is handed a frame every frame.
TEST_F(MotionEndToEndTest, ASoundFeedingMotionHasTheOutputsMadeOfThePlayersItReaches) {
  LoadOwnBank("motion 1\n"
              "tone Buzz 48000 1 1000 50\n"
              "motionbus Shaker -\n"
              "sound Buzz_Sound Buzz MasterBus motion Shaker\n"
              "action Play_Buzz_Act 0x0403 Buzz_Sound\n"
              "event Play_Buzz Play_Buzz_Act\n",
              "BuzzBank", "Buzz");
  MotionEngine::RegisterMotionDevice(0, kMotionDevicePluginId, &PlayerDevice::Make);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(1, 0, kMotionDevicePluginId, &pad_), SN_Success);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(2, 0, kMotionDevicePluginId, &pad_), SN_Success);
  ASSERT_EQ(MotionEngine::AddPlayerMotionDevice(3, 0, kMotionDevicePluginId, &pad_), SN_Success);
  MotionEngine::SetPlayerListener(2, 1);
  MotionEngine::SetPlayerListener(3, 2);
  // A sound without a motion output makes none.
  ASSERT_NE(Post("Play_Beep"), 0u);
  Render(2);
  for (uint32_t player = 0; player < kMotionPlayers; ++player)
    EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, player), nullptr) << player;
  // Heard by listener 0: player 1's output is made with its first frame, handed every frame after.
  ASSERT_NE(Post("Play_Buzz"), 0u);
  Render(2);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 2), nullptr) << "listener 1 does not hear it";
  const size_t handed = DeviceRecord().otherPlayersFrames;
  EXPECT_GE(handed, 1u);
  Render(3);
  EXPECT_EQ(DeviceRecord().otherPlayersFrames, handed + 3);
  // Player 0's device comes while it plays: its output is made with it, handed the frame it comes in.
  AddDevice();
  Render(2);
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 0), nullptr);
  EXPECT_EQ(DeviceRecord().frames.size(), 2u);
  // Player 3 moves to listener 0: its output is made.
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 3), nullptr);
  MotionEngine::SetPlayerListener(3, 0);
  Render();
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 3), nullptr);
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 3)->ListenerMask(), 0x1u);
  // Its game object comes to be heard by listener 1 too: player 2's output.
  ASSERT_EQ(SoundEngine::SetActiveListeners(kMotionObject, 0x3), SN_Success);
  Render();
  ASSERT_NE(LowerEngine::FindOutputDevice(SnOutput_Motion, 2), nullptr);
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 2)->ListenerMask(), 0x2u);
  // Its frames reach the devices through their players' feeds alone: still frames on the outputs.
  EXPECT_EQ(DeviceRecord().frames.size(), 4u);
  for (const std::vector<float>& frame : DeviceRecord().frames) EXPECT_TRUE(Silent(frame));
}

}  // namespace

namespace {

using namespace SN;

// The motion context of the one voice playing.
const SnMotionContext* PlayingMotionContext() {
  const CSnPlaybackInstance* instance = VoiceManager::FirstActiveInstance();
  return instance ? instance->MotionContext() : nullptr;
}

// A motion source's curves over game parameters: its motion level (29) set before the play is heard
// from the first frame and a change from the frame after the one it comes in (that one ramps); its
// second level (30) is kept and changes nothing heard; its pitch (31) an octave up reads every other
// sample of its tone.
TEST_F(MotionEndToEndTest, GameParametersMoveAMotionVoicesLevelAndPitchThroughItsCurves) {
  StartShakerAtHalf("",
                    "rtpc Shaker_Source 29 Knob 0:0 100:-12\n"
                    "rtpc Shaker_Source 30 Knob 0:0 100:40\n"
                    "rtpc Shaker_Source 31 Speed 0:0 100:1200\n",
                    "Knob");
  const SnMotionContext* context = PlayingMotionContext();
  ASSERT_NE(context, nullptr);
  EXPECT_FLOAT_EQ(context->levels[SnMotionContext::Level_Second], 20.0f);

  ASSERT_EQ(SoundEngine::SetRTPCValue("Knob", 100.0f), SN_Success);
  Render(3);
  ExpectOwnTone(3, 2, kMotionUnity * std::pow(10.0, -12.0 / 20.0));
  EXPECT_FLOAT_EQ(context->levels[SnMotionContext::Level_Volume], -12.0f);
  EXPECT_FLOAT_EQ(context->levels[SnMotionContext::Level_Second], 40.0f);

  // An octave up: in the frame it comes in the step through the tone grows from 1 to 2 sample by
  // sample, then stays at 2; between samples the tone is read on the straight line joining them.
  ASSERT_EQ(SoundEngine::SetRTPCValue("Speed", 100.0f), SN_Success);
  Render(3);
  const double gain = kMotionUnity * std::pow(10.0, -12.0 / 20.0);
  ASSERT_EQ(DeviceRecord().frames.size(), 8u);
  double position = 5.0 * kMotionFrame;
  for (size_t f = 5; f < 8; ++f)
    for (size_t t = 0; t < kMotionFrame; ++t) {
      const size_t whole = size_t(position);
      const double fraction = position - double(whole);
      const double model = (ownMedia_[whole] * (1.0 - fraction) + ownMedia_[whole + 1] * fraction) * gain;
      ASSERT_NEAR(DeviceRecord().frames[f][t], model, std::fabs(model) * 2e-3 + 1e-6) << f << ", " << t;
      position += f == 5 ? 1.0 + double(t + 1) / kMotionFrame : 2.0;
    }
}

// A sound feeding the players through its motion bus: its own motion level (29) and its motion bus's
// volume, each over a game parameter, scale what it gives the devices, set before the play as after
// (one fast decibel conversion of their sum: within 0.3%).
TEST_F(MotionEndToEndTest, ASoundsMotionLevelAndItsMotionBussVolumeCurveScaleItsFeed) {
  LoadOwnBank("motion 1\n"
              "tone Buzz 48000 1 200 50\n"
              "motionbus Shaker -\n"
              "rtpc Shaker volume Drive 0:0 100:-10\n"
              "sound Buzz_Sound Buzz MasterBus motion Shaker\n"
              "rtpc Buzz_Sound 29 Knob 0:0 100:-12\n"
              "action Play_Buzz_Act 0x0403 Buzz_Sound\n"
              "action Lower_Shaker_Act 0x0A02 Shaker bus value -6 0 0\n"
              "event Play_Buzz Play_Buzz_Act\n"
              "event Lower_Shaker Lower_Shaker_Act\n",
              "BuzzBank", "Buzz");
  AddDevice();
  MotionEngine::SetPlayerListener(0, 0);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(0, true, true), SN_Success);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Knob", 50.0f), SN_Success);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Drive", 50.0f), SN_Success);
  ASSERT_NE(Post("Play_Buzz"), 0u);
  Render(2);
  auto expectGain = [](size_t voice, double dB) {
    ASSERT_GT(DeviceRecord().voices.size(), voice);
    const double expected = kMotionUnity * std::pow(10.0, dB / 20.0);
    EXPECT_NEAR(DeviceRecord().voices[voice].gain, expected, expected * 3e-3) << voice;
  };
  ASSERT_EQ(DeviceRecord().voices.size(), 2u);
  expectGain(0, -11.0);
  expectGain(1, -11.0);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Knob", 100.0f), SN_Success);
  Render();
  expectGain(2, -17.0);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Drive", 0.0f), SN_Success);
  Render();
  expectGain(3, -12.0);
  // The motion bus's volume is the feed's, not the sound's: its samples are the tone's as before.
  for (size_t t = 0; t < DeviceRecord().voices[3].samples.size(); ++t)
    ASSERT_NEAR(DeviceRecord().voices[3].samples[t], ownMedia_[3 * 1024 + t], 1e-6) << t;

  // A run-time volume of the motion bus (an action) is the feed's as well, and the sound's level on
  // the main output (its last frame's peak against its voice's) stays as it was.
  const double before = MainLevelAgainstFeed();
  ASSERT_GT(before, 0.1);
  ASSERT_NE(Post("Lower_Shaker"), 0u);
  Render(2);
  expectGain(5, -18.0);
  EXPECT_NEAR(MainLevelAgainstFeed(), before, before * 1e-3);
}

// A motion bus's mute silences what the sounds naming it give the devices and nothing of their sound:
// the main output hears them as before, and the unmute gives the devices their feed again.
TEST_F(MotionEndToEndTest, AMutedMotionBusSilencesASoundsFeedAndNotItsSound) {
  LoadOwnBank("motion 1\n"
              "tone Buzz 48000 1 1000 50\n"
              "motionbus Shaker -\n"
              "sound Buzz_Sound Buzz MasterBus motion Shaker\n"
              "action Play_Buzz_Act 0x0403 Buzz_Sound\n"
              "action Mute_Shaker_Act 0x0602 Shaker bus\n"
              "action Unmute_Shaker_Act 0x0702 Shaker bus\n"
              "event Play_Buzz Play_Buzz_Act\n"
              "event Mute_Shaker Mute_Shaker_Act\n"
              "event Unmute_Shaker Unmute_Shaker_Act\n",
              "BuzzBank", "Buzz");
  AddDevice();
  MotionEngine::SetPlayerListener(0, 0);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(0, true, true), SN_Success);
  ASSERT_NE(Post("Play_Buzz"), 0u);
  Render(2);
  const double before = MainLevelAgainstFeed();
  ASSERT_GT(before, 0.1);
  EXPECT_NEAR(DeviceRecord().voices.back().gain, kMotionUnity, 1e-6);
  ASSERT_NE(Post("Mute_Shaker"), 0u);
  Render(2);
  EXPECT_EQ(DeviceRecord().voices.back().gain, 0.0f);
  EXPECT_NEAR(MainLevelAgainstFeed(), before, before * 1e-3) << "the sound is still heard";
  ASSERT_NE(Post("Unmute_Shaker"), 0u);
  Render(2);
  EXPECT_NEAR(DeviceRecord().voices.back().gain, kMotionUnity, 1e-6);
  EXPECT_NEAR(MainLevelAgainstFeed(), before, before * 1e-3);
}

// A motion bus's volume over a game parameter is its motion voices' volume, set before the play as
// after (the frame a change comes in ramps).
TEST_F(MotionEndToEndTest, AMotionBussVolumeCurveIsItsMotionVoicesVolume) {
  StartShakerAtHalf("motionbus Shaker -\nrtpc Shaker volume Drive 0:0 100:-12\n", "", "Drive");
  ASSERT_EQ(SoundEngine::SetRTPCValue("Drive", 100.0f), SN_Success);
  Render(3);
  ExpectOwnTone(3, 2, kMotionUnity * std::pow(10.0, -12.0 / 20.0));
  ASSERT_EQ(SoundEngine::SetRTPCValue("Drive", 0.0f), SN_Success);
  Render(3);
  ExpectOwnTone(6, 2, kMotionUnity);
}

// A motion bus's volume faded to -20 dB over 420 ms (20 frames, a straight line of decibels) two
// frames into the play: its motion voice follows it one step a frame, each frame ramping sample by
// sample from where the last left off, and rests at its end; good to the engine's fast decibel
// conversion (0.5%).
TEST_F(MotionEndToEndTest, AMotionBussFadeIsFollowedByItsMotionVoicesStepByStep) {
  LoadOwnBank("tone Wave 375 1 1000 25\nmotionbus Shaker -\nmotionsource Shaker_Source Wave\n"
              "action Play_Shake_Act 0x0403 Shaker_Source\nevent Play_Shake Play_Shake_Act\n"
              "action Fade_Shaker_Act 0x0A02 Shaker bus value -20 0 0 fade 420 curve 4\n"
              "event Fade_Shaker Fade_Shaker_Act\n",
              "ShakerBank", "Wave");
  AddDevice();
  ASSERT_NE(Post("Play_Shake"), 0u);
  Render(2);
  ASSERT_NE(Post("Fade_Shaker"), 0u);
  Render(24);
  const auto levelAt = [](size_t f) { return std::pow(10.0, -double(std::min<size_t>(20, f > 2 ? f - 2 : 0)) / 20.0); };
  ASSERT_EQ(DeviceRecord().frames.size(), 26u);
  for (size_t f = 0; f < 26; ++f)
    for (size_t t = 0; t < kMotionFrame; ++t) {
      const double gain = levelAt(f) + (levelAt(f + 1) - levelAt(f)) * double(t) / kMotionFrame;
      const double model = ownMedia_[f * kMotionFrame + t] * kMotionUnity * gain;
      ASSERT_NEAR(DeviceRecord().frames[f][t], model, std::fabs(model) * 5e-3 + 1e-6) << f << ", " << t;
    }
}

}  // namespace
