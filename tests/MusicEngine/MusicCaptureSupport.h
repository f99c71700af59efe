// Music heard end to end: the engine and the music engine on the null output next to the game's Init
// bank, frames rendered on the test's thread, and the output capture read back by the test's own
// reader. Music time 0 is the capture's first non-zero sample c0, on a frame boundary.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "MusicEngine/MusicEngine.h"
#include "Platform/Clock.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tests/Support/WaitFor.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace MusicCapture {

constexpr uint32_t kObject = 7;
constexpr uint32_t kFrame = 1024;
constexpr double kCentreToPair = 0.70710678118654752;
// The engine's fast power of ten at 0 dB, worked by hand; a voice on the effects bus meets it three
// times (its volume, its output's and the bus's).
constexpr double kFastUnity = 0.32518977 + 0.020805772 + 0.65304345;
constexpr double kVoiceUnity = kFastUnity * kFastUnity * kFastUnity;

// Frames rendered since the fixture began (callbacks note the frame they came in).
inline uint32_t g_frame = 0;

// The ramp the builder writes into a source, at source sample `at`, full scale 1.
inline double Ramp(int64_t at) { return double(int16_t(uint16_t(uint32_t(at) * 37u))) / 32768.0; }

using BankTest::Id;

// A node's playback speed (parameter 41) following PlayerSpeed one for one.
inline Tools::BankNodeCurve PlayerSpeedCurve() {
  Tools::BankNodeCurve curve;
  curve.rtpcId = Id("PlayerSpeed");
  curve.parameterId = 41;
  curve.curveId = 1;
  curve.points = {{0.0f, 0.0f, 4}, {10.0f, 10.0f, 4}};
  return curve;
}

class CaptureFixture : public OutputTest::OutputFixture {
 public:
  void SetUp() override {
    OutputFixture::SetUp();
    g_frame = 0;
    std::filesystem::copy_file("Sound/Banks/Init.bnk", Path("Init.bnk"));
    BeforeInit();
    ASSERT_EQ(SN::SoundEngine::Init(&settings_, &platform_), SN::SN_Success);
    ASSERT_EQ(SN::MusicEngine::Init(nullptr), SN::SN_Success);
    uint32_t id = 0;
    ASSERT_EQ(SN::SoundEngine::LoadBank("Init.bnk", -1, id), SN::SN_Success);
    ASSERT_EQ(SN::SoundEngine::RegisterGameObj(kObject), SN::SN_Success);
    ASSERT_EQ(SN::SoundEngine::StartOutputCapture(u"capture.wav"), SN::SN_Success);
  }

  // A fixture's changes to the settings the engine starts with.
  virtual void BeforeInit() {}

  // With the audio thread, each frame's messages are closed first and the null output's clock then
  // lets the thread render that one frame, waited for by its count: the same frames as without it.
  void Frames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if (!settings_.useAudioThread) {
        ASSERT_EQ(OutputTest::RenderNullFrame(), SN::SN_Success);
      } else {
        const uint32_t rendered = RenderedFrames();
        ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
        OutputTest::ManualClock::AdvanceTicks((int64_t(1024) * Platform::kTicksPerSecond + 47999) / 48000);
        ASSERT_TRUE(OrvTest::WaitUntil(
            [&] {
              SN::LowerEngine::WakeAudioThread();
              return RenderedFrames() != rendered;
            },
            [&] {
              return "frame " + std::to_string(rendered + 1) + " to be rendered (clock at " +
                     std::to_string(Platform::TicksNow()) + " ticks, CurrentFrame() " +
                     std::to_string(RenderedFrames()) + ")";
            }));
      }
      ++g_frame;
    }
  }
  static uint32_t RenderedFrames() {
    Platform::ReentrantGuard guard(SN::GlobalAudioLock());
    return SN::g_pAudioMgr->CurrentFrame();
  }
  // The capture's left plane (both planes carry the same centred music).
  std::vector<double> Capture() {
    EXPECT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
    Frames(1);
    const std::vector<int16_t> samples = OutputTest::DataSamples(OutputTest::ReadFileBytes(Path("capture.wav")));
    std::vector<double> left;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
      EXPECT_EQ(samples[i], samples[i + 1]) << i / 2;
      left.push_back(samples[i]);
    }
    return left;
  }
  static size_t FirstSound(const std::vector<double>& plane) {
    for (size_t i = 0; i < plane.size(); ++i)
      if (plane[i] != 0.0) return i;
    return plane.size();
  }
  // Every sample from c0 on against the level `model` gives for music time t (DC, full scale 1).
  // Within a 16-bit step, or `room` steps for media that use the whole range.
  static void ExpectLevels(const std::vector<double>& plane, size_t c0, size_t count,
                           const std::function<double(int64_t)>& model, double room = 1.0) {
    ASSERT_GE(plane.size(), c0 + count);
    for (size_t t = 0; t < count; ++t)
      ASSERT_NEAR(plane[c0 + t], model(int64_t(t)) * kVoiceUnity * kCentreToPair * 32768.0, room) << "music time " << t;
  }
  // The builder's bank, kept alive while loaded.
  void LoadBankImage(const Tools::BankDescription& bank) {
    image_ = Tools::WriteBank(bank);
    ASSERT_EQ(SN::SoundEngine::LoadBank(image_.data(), uint32_t(image_.size()), bankId_), SN::SN_Success)
        << log_.Take();
  }

 protected:
  std::vector<uint8_t> image_;
  uint32_t bankId_ = 0;
};

}  // namespace MusicCapture
