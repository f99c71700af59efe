// The modulators with the engine's own threads: instances made and read on the audio thread while
// the bank thread loads and then unloads the modulator they belong to.
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/NodeParamsWriter.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;

constexpr uint32_t kLfo = 77;

// Runs before every audio frame, on the audio thread: makes the global instance once while the
// modulator exists, then reads its value as the game-parameter manager would.
struct PassReader {
  static PassReader*& Current() {
    static PassReader* current = nullptr;
    return current;
  }
  static void Extension(bool lastCall) {
    PassReader* reader = Current();
    if (!reader || lastCall) return;
    std::lock_guard<std::mutex> lock(reader->lock);
    if (!reader->made) reader->made = ModulatorObjects::GetOrCreateContext(kLfo, SnRTPCKey{}) != nullptr;
    if (reader->made) reader->values.push_back(ModulatorObjects::ValueForKey(kLfo, SnRTPCKey{}));
    reader->pass.Set();
  }
  // Wakes the audio thread with a message and waits for a frame (the thread may run others too).
  void Pass() {
    ASSERT_EQ(SoundEngine::SetRTPCValue(9u, 1.0f), SN_Success);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    OrvTest::WaitUntilSet(pass, "pass to be set");
  }
  std::vector<float> Values() {
    std::lock_guard<std::mutex> guard(lock);
    return values;
  }
  std::mutex lock;
  Platform::Event pass{Platform::Event::Reset::Auto};
  bool made = false;
  std::vector<float> values;
};

class ModulatorAudioThreadTest : public BankTest::BankFixture {
 protected:
  void AdjustSettings(SnInitSettings& settings) override {
    settings.useBankThread = 1;
    settings.useAudioThread = 1;
  }
  void SetUp() override {
    BankFixture::SetUp();
    PassReader::Current() = &reader_;
    ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassReader::Extension), SN_Success);
  }
  void TearDown() override {
    SoundEngine::RemoveBehavioralExtension(&PassReader::Extension);
    PassReader::Current() = nullptr;
    BankFixture::TearDown();
  }
  // Passes until the reader holds `count` values.
  bool ReadUntil(size_t count) {
    return OrvTest::WaitUntil(
        [&] {
          if (reader_.Values().size() >= count) return true;
          reader_.Pass();
          return false;
        },
        [&] { return std::to_string(count) + " values read on the audio thread"; });
  }
  PassReader reader_;
};

TEST_F(ModulatorAudioThreadTest, AnLfoRunsOnTheAudioThreadUntilItsBankIsUnloaded) {
  // A global 93.75 Hz rising ramp at full depth, without fade-in.
  Tools::BankModulator lfo;
  lfo.id = kLfo;
  lfo.properties = {Tools::BankNodeProperty::Int(0, 3), Tools::BankNodeProperty::Float(2, 100.0f),
                    Tools::BankNodeProperty::Float(3, 0.0f), Tools::BankNodeProperty::Float(4, 93.75f),
                    Tools::BankNodeProperty::Int(5, 3)};
  Tools::BankDescription bank;
  bank.bankId = 4000;
  bank.objects.push_back({21, Tools::ModulatorPayload(lfo)});
  bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
  const std::vector<uint8_t> image = Tools::WriteBank(bank);
  uint32_t bankId = 0;
  ASSERT_EQ(g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &bankId), SN_Success);
  // Read before each frame: nothing before the first, then the ramp's last sample of each frame
  // (512 samples a cycle, starting at phase 0.5: every frame ends at 0.5).
  ASSERT_TRUE(ReadUntil(4));
  const std::vector<float> loaded = reader_.Values();
  EXPECT_EQ(loaded[0], 0.0f);
  for (size_t i = 1; i < loaded.size(); ++i) EXPECT_EQ(loaded[i], 0.5f) << i;
  ASSERT_EQ(g_pBankManager->UnloadBankWait(bankId, nullptr), SN_Success);
  EXPECT_FALSE(ModulatorObjects::Exists(kLfo));
  const size_t before = reader_.Values().size();
  ASSERT_TRUE(ReadUntil(before + 2));
  EXPECT_EQ(reader_.Values().back(), 0.0f);
}

}  // namespace
