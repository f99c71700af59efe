// Motion devices of up to four players through the output services the motion messages reach: a
// recording device registered as the game registers one, its player's listener and volume, the
// listener-to-player table, the player's motion output on its motion sink, the capture name and the
// per-frame, per-pass and termination relays.
#include "OutputTestSupport.h"

#include <new>

#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Motion/MotionSink.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

// Everything the engine told the devices, by player.
struct MotionLog {
  int made = 0;
  int terms = 0;
  int stops[kMotionPlayers] = {};
  int endFrames = 0;
  int endPasses = 0;
  std::vector<float> volumes;
  std::vector<std::u16string> captures;
  int captureStops = 0;
  std::vector<std::vector<float>> frames;  // each frame written to the motion output
  void* apiDevice = nullptr;
};
MotionLog& Log() {
  static MotionLog log;
  return log;
}

struct RecordingDevice final : OutputTest::TestMotionDevice<RecordingDevice> {
  void Terminated() { ++Log().terms; }
  SNRESULT Init(ISnPluginMemAlloc*, const void*, uint32_t playerIndex, void* device) override {
    player = playerIndex;
    Log().apiDevice = device;
    return SN_Success;
  }
  void WriteFrame(const SnMixBuffer& frame) override {
    Log().frames.emplace_back(frame.samples, frame.samples + frame.validFrames);
  }
  void EndFrame() override { ++Log().endFrames; }
  void EndPass() override { ++Log().endPasses; }
  void Stop() override { ++Log().stops[player]; }
  void SetVolume(float gain) override { Log().volumes.push_back(gain); }
  void StartCapture(const char16_t* name) override { Log().captures.emplace_back(name); }
  void StopCapture() override { ++Log().captureStops; }
  uint32_t player = 0;
};

ISnMotionDevicePlugin* MakeRecording(ISnPluginMemAlloc* allocator) {
  ++Log().made;
  return RecordingDevice::Make(allocator);
}

// What the motion bus of player 1 hands its output each frame: 16 frames of a ramp.
void PassMotionFrame(bool lastCall) {
  if (lastCall) return;
  CSnOutputDevice* output = LowerEngine::FindOutputDevice(SnOutput_Motion, 1);
  if (!output) return;
  static float samples[16];
  for (int t = 0; t < 16; ++t) samples[t] = 0.01f * float(t);
  SnMixBuffer mix;
  mix.samples = samples;
  mix.channelConfig = StandardConfig(kSpeakerCenter);
  mix.maxFrames = mix.validFrames = 16;
  output->PassData(mix);
}

class MotionDeviceTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    Log() = MotionLog{};
    InitWithMemorySink();
    MotionEngine::RegisterMotionDevice(0, kMotionDevicePluginId, &MakeRecording);
  }
  void TearDown() override {
    SoundEngine::RemoveBehavioralExtension(&PassMotionFrame);
    OutputFixture::TearDown();
  }
  // The motion messages' back ends run on the audio thread under the audio lock.
  template <typename Call>
  static void OnAudioThread(Call call) {
    std::lock_guard<Platform::ReentrantLock> lock(GlobalAudioLock());
    call(*OutputServices());
  }
  static CSnMotionDeviceMgr& Motion() { return *CSnMotionDeviceMgr::Get(); }
  int pad_ = 0;  // the game's device the API hands over
};

TEST_F(MotionDeviceTest, PlayersGetOneDeviceEachAndPlayersOrListenersPastTheTablesAreIgnored) {
  EXPECT_EQ(CSnMotionDeviceMgr::Get(), nullptr);
  EXPECT_EQ(LowerEngine::MotionPlayersOfListener(0), 0);
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(1, &pad_, 0);
    out.AddPlayerMotionDevice(1, nullptr, 0);  // the first device stays
    out.AddPlayerMotionDevice(4, &pad_, 0);
  });
  EXPECT_EQ(Log().made, 1);
  EXPECT_EQ(Log().apiDevice, &pad_);
  EXPECT_EQ(Motion().DeviceMask(), 0x2);
  EXPECT_EQ(Motion().PlayerCount(), 2);
  EXPECT_EQ(Motion().PlayersOfListener(0), 0x0F);
  OnAudioThread([](ISnOutputServices& out) { out.SetPlayerListener(1, 2); });
  EXPECT_EQ(Motion().PlayersOfListener(0), 0x0D);
  EXPECT_EQ(Motion().PlayersOfListener(2), 0x02);
  EXPECT_EQ(Motion().PlayerListener(1), 2u);
  EXPECT_EQ(LowerEngine::MotionListenerMask(), 0x4u);
  EXPECT_EQ(LowerEngine::MotionPlayersOfListener(2), 0x02);
  EXPECT_EQ(LowerEngine::MotionPlayersOfListener(9), 0);
  EXPECT_EQ(LowerEngine::ActiveMotionPlayers(), 0x02);
  // The voices' feedback gains read the same table, limited to the players with a device.
  ASSERT_NE(LowerEngine::ListenerPlayerMap(), nullptr);
  EXPECT_EQ(LowerEngine::ListenerPlayerMap()->PlayersOfListener(2), 0x02u);
  EXPECT_EQ(LowerEngine::ListenerPlayerMap()->PlayersOfListener(0), 0x00u) << "players 0, 2 and 3 have no device";
  // Player 5 and listener 9 lie past the tables: nothing changes.
  OnAudioThread([](ISnOutputServices& out) {
    out.SetPlayerListener(5, 1);
    out.SetPlayerListener(1, 9);
  });
  EXPECT_EQ(Motion().PlayersOfListener(0), 0x0D);
  EXPECT_EQ(Motion().PlayersOfListener(2), 0x02);
  EXPECT_EQ(Motion().PlayersOfListener(1), 0x00);
  EXPECT_EQ(LowerEngine::MotionListenerMask(), 0x4u);
  EXPECT_NE(log_.Take().find("out of range"), std::string::npos);
}

TEST_F(MotionDeviceTest, APlayersVolumeReachesItsDeviceAsALinearGain) {
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(0, &pad_, 0);
    out.SetPlayerVolume(0, 0.0f);
    out.SetPlayerVolume(0, -6.0206f);
    out.SetPlayerVolume(0, -1000.0f);
    out.SetPlayerVolume(0, 800.0f);
    out.SetPlayerVolume(2, 0.0f);  // no device
    out.SetPlayerVolume(5, 0.0f);  // no such player
  });
  ASSERT_EQ(Log().volumes.size(), 4u);
  EXPECT_NEAR(Log().volumes[0], 1.0f, 1e-3f);
  EXPECT_NEAR(Log().volumes[1], 0.5f, 1e-3f);
  EXPECT_EQ(Log().volumes[2], 0.0f);
  EXPECT_EQ(Log().volumes[3], 65535.0f);
}

TEST_F(MotionDeviceTest, APlayersMotionOutputHandsEveryFrameToItsDevice) {
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(1, &pad_, 0);
    out.SetPlayerListener(1, 2);
  });
  // A motion voice of listener 0 makes no output for player 1; one of listener 2 does.
  OnAudioThread([](ISnOutputServices&) { Motion().AttachPlayers(0x1); });
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  OnAudioThread([](ISnOutputServices&) { Motion().AttachPlayers(0x4); });
  CSnOutputDevice* output = LowerEngine::FindOutputDevice(SnOutput_Motion, 1);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->ChannelConfig(), StandardConfig(kSpeakerCenter));
  ASSERT_NE(dynamic_cast<CSnMotionSink*>(output->Sink()), nullptr);
  EXPECT_EQ(static_cast<CSnMotionSink*>(output->Sink())->Device(), Motion().Device(1));
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassMotionFrame), SN_Success);
  const int passesBefore = Log().endPasses;
  for (int i = 0; i < 5; ++i) Render();
  ASSERT_EQ(Log().frames.size(), 5u);
  for (const std::vector<float>& frame : Log().frames) {
    ASSERT_EQ(frame.size(), 16u);
    for (int t = 0; t < 16; ++t) ASSERT_FLOAT_EQ(frame[t], 0.01f * float(t));
  }
  EXPECT_EQ(Log().endFrames, 5);
  EXPECT_EQ(Log().endPasses - passesBefore, 5);
  // The motion output never sets the pace: five passes of one frame each.
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 5u);
  // The player goes: its output with it, its device stopped and terminated.
  OnAudioThread([](ISnOutputServices& out) { out.RemovePlayerMotionDevice(1); });
  EXPECT_EQ(LowerEngine::FindOutputDevice(SnOutput_Motion, 1), nullptr);
  EXPECT_EQ(Log().stops[1], 1);
  EXPECT_EQ(Log().terms, 1);
  EXPECT_FALSE(Motion().HasDevices());
  Render();
  EXPECT_EQ(Log().frames.size(), 5u);
}

TEST_F(MotionDeviceTest, ADeviceAddedDuringACaptureCapturesUnderTheGamesName) {
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(0, &pad_, 0);
    out.StartOutputCapture(OutputTest::Wide(Path("motion.wav")).c_str());
    out.AddPlayerMotionDevice(2, &pad_, 0);
  });
  // The device there before the capture is not told; the new one gets the name as given.
  ASSERT_EQ(Log().captures.size(), 1u);
  EXPECT_EQ(Log().captures[0], OutputTest::Wide(Path("motion.wav")));
  OnAudioThread([](ISnOutputServices& out) { out.StopOutputCapture(); });
  EXPECT_EQ(Log().captureStops, 2);
}

TEST_F(MotionDeviceTest, TerminationStopsAndTerminatesEveryDevice) {
  OnAudioThread([&](ISnOutputServices& out) {
    out.AddPlayerMotionDevice(0, &pad_, 0);
    out.AddPlayerMotionDevice(3, &pad_, 0);
  });
  SoundEngine::Term();
  EXPECT_EQ(Log().stops[0], 1);
  EXPECT_EQ(Log().stops[3], 1);
  EXPECT_EQ(Log().terms, 2);
  EXPECT_EQ(CSnMotionDeviceMgr::Get(), nullptr);
  EXPECT_EQ(LowerEngine::MotionListenerMask(), 0u);
  EXPECT_EQ(LowerEngine::ListenerPlayerMap(), nullptr);
}

}  // namespace
