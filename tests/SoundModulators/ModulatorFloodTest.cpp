// A modulated bank unloaded and reloaded under a flood of plays from four threads, the audio and bank
// threads on, in a default pool the flood fills: no instance left on the modulators' processing list
// reaches its freed modulator. Before, the modulator's end, finding no memory to gather its instances,
// left them bound, and the processing list's release called the freed modulator (UBSan, every run).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

namespace {

using namespace SN;

// Five 3D sounds; the looping two go virtual past a few voices, the fifth under a fast LFO on its
// volume, one per voice.
constexpr const char* kFloodBank =
    "platform Linux\r\n"
    "tone FloodBeep 48000 1 60 880\r\n"
    "tone FloodHum 48000 1 200 220\r\n"
    "loop FloodHum 0 9599\r\n"
    "attenuation FloodNear cone 90 240 -12 30 0\r\n"
    "attuse FloodNear 0 0\r\n"
    "attcurve FloodNear 0 0\r\n"
    "attpoint FloodNear 0 0 0 4\r\n"
    "attpoint FloodNear 0 100 -40 4\r\n"
    "sound FloodA FloodBeep Effects 3d FloodNear\r\n"
    "sound FloodB FloodHum Effects 3d FloodNear\r\n"
    "sound FloodC FloodBeep Effects 3d FloodNear volume -6\r\n"
    "sound FloodD FloodHum Effects 3d FloodNear loop 0 inaudible virtual maxvoices 3 virtual\r\n"
    "sound FloodE FloodHum Effects 3d FloodNear loop 0 inaudible virtual maxvoices 4 virtual\r\n"
    "modulator lfo FloodLfo 0=0 2=50 3=0 4=30 5=1\r\n"
    "rtpc FloodE volume modulator FloodLfo 0:0 1:-12\r\n"
    "action Play_FloodA_Act 0x0403 FloodA\r\n"
    "action Play_FloodB_Act 0x0403 FloodB\r\n"
    "action Play_FloodC_Act 0x0403 FloodC\r\n"
    "action Play_FloodD_Act 0x0403 FloodD\r\n"
    "action Play_FloodE_Act 0x0403 FloodE\r\n"
    "event Play_FloodA Play_FloodA_Act\r\n"
    "event Play_FloodB Play_FloodB_Act\r\n"
    "event Play_FloodC Play_FloodC_Act\r\n"
    "event Play_FloodD Play_FloodD_Act\r\n"
    "event Play_FloodE Play_FloodE_Act\r\n";

class ModulatorFloodTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    // The audio thread runs on the real clock.
    Platform::SetTickSource(nullptr);
    settings_.useAudioThread = 1;
    settings_.useBankThread = 1;
    // A default pool the flood fills: the modulators end while their instances find no memory.
    settings_.defaultPoolBytes = 1024 * 1024;
    std::filesystem::copy_file("Sound/Banks/Init.bnk", Path("Init.bnk"));
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success) << log_.Take();
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(kFloodBank, "FloodBank", bank, error)) << error;
    image_ = Tools::WriteBank(bank);
  }
  std::vector<uint8_t> image_;
};

// ORV_FLOOD_ROUNDS sets the unloads: 8 by default, which showed the fault in every run; 20 for a long
// run. ThreadSanitizer, slower many times over, looks for races, which a few rounds reach.
#if defined(__SANITIZE_THREAD__)
constexpr int kFloodRounds = 3;
#else
constexpr int kFloodRounds = 8;
#endif

TEST_F(ModulatorFloodTest, AModulatedBankReloadedUnderAFloodOfPlaysFreesNoModulatorInUse) {
  const char* rounds = std::getenv("ORV_FLOOD_ROUNDS");
  const int reloads = rounds ? std::atoi(rounds) : kFloodRounds;
  uint32_t bankId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image_.data(), uint32_t(image_.size()), bankId), SN_Success) << log_.Take();
  const char* events[] = {"Play_FloodA", "Play_FloodB", "Play_FloodC", "Play_FloodD", "Play_FloodE"};
  std::atomic<bool> done{false};
  // A waited load that the flood starves (a fault of its own) stops the flood here, and the test fails.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::vector<std::thread> posters;
  // Joined however the loop below ends.
  struct Joiner {
    std::atomic<bool>& done;
    std::vector<std::thread>& threads;
    ~Joiner() {
      done = true;
      for (std::thread& thread : threads)
        if (thread.joinable()) thread.join();
    }
  } joiner{done, posters};
  for (uint32_t t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      std::mt19937 random(1234 + t);
      const uint32_t first = 100 + t * 8;
      for (uint32_t o = 0; o < 8; ++o) SoundEngine::RegisterGameObj(first + o);
      std::vector<uint32_t> playing;
      while (!done.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < deadline) {
        const uint32_t object = first + random() % 8;
        std::uniform_real_distribution<float> place(-40.0f, 40.0f);
        const SnSoundPosition position{{place(random), place(random), place(random)}, {0.0f, 0.0f, 1.0f}};
        SoundEngine::SetPosition(object, position);
        const char* event = events[random() % 5];
        switch (random() % 16) {
          case 0: SoundEngine::ExecuteActionOnEvent(event, SnActionOnEvent_Pause, object); break;
          case 1: SoundEngine::ExecuteActionOnEvent(event, SnActionOnEvent_Resume, object); break;
          case 2: SoundEngine::ExecuteActionOnEvent(event, SnActionOnEvent_Stop, object); break;
          case 3:
            if (!playing.empty()) SoundEngine::StopPlayingID(playing[random() % playing.size()]);
            break;
          case 4:
            if (random() % 8 == 0) SoundEngine::StopAll();
            break;
          default:
            if (const uint32_t id = SoundEngine::PostEvent(event, object)) {
              if (playing.size() < 64) playing.push_back(id); else playing[random() % 64] = id;
            }
        }
        // Paced: a waited load is not starved by the posts (the flood still fills the pools).
        if (random() % 32 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      for (uint32_t o = 0; o < 8; ++o) SoundEngine::UnregisterGameObj(first + o);
    });
  }
  // A reload may find the pool full: the bank is loaded again at the next round.
  bool loaded = true;
  int reloaded = 0;
  for (int i = 0; i < reloads; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (loaded) {
      ASSERT_EQ(SoundEngine::UnloadBank(bankId, image_.data()), SN_Success) << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    loaded = SoundEngine::LoadBank(image_.data(), uint32_t(image_.size()), bankId) == SN_Success;
    reloaded += loaded ? 1 : 0;
  }
  EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "the reloads under the flood took over 60 s";
  done = true;
  for (std::thread& poster : posters) poster.join();
  EXPECT_GT(reloaded, 0) << log_.Take();
  if (loaded) {
    EXPECT_EQ(SoundEngine::UnloadBank(bankId, image_.data()), SN_Success);
  }
  log_.Take();
}

}  // namespace
