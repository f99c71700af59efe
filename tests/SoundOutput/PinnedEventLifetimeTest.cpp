// An event whose bank went while the game held it: the game's lookup gives back the last reference on
// the game's thread, and the event's pins and actions go under the audio lock while frames render.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "SoundEngine/Banks/StreamCachePinMgr.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tests/Support/WaitFor.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

namespace {

using namespace SN;

// The engine's pin manager with a moment of the test's own inside the buffer query, and a note of
// whether each event's pins went with the audio lock held.
class WatchedPins final : public ISnStreamCachePinMgr {
 public:
  void PinEvent(CSnIndexedObject* event, uint32_t gameObject, uint8_t active, uint8_t inactive) override {
    Real().PinEvent(event, gameObject, active, inactive);
  }
  void UnpinEvent(CSnIndexedObject* event, uint32_t gameObject) override { Real().UnpinEvent(event, gameObject); }
  SNRESULT GetBufferStatus(CSnIndexedObject* event, float& percent, bool& full) override {
    if (duringQuery) duringQuery();
    return Real().GetBufferStatus(event, percent, full);
  }
  void RemoveEventPins(CSnIndexedObject* event) override {
    removedUnderAudioLock.push_back(GlobalAudioLock().IsHeldByCurrentThread());
    Real().RemoveEventPins(event);
  }
  static CSnStreamCachePinMgr& Real() { return CSnStreamCachePinMgr::Instance(); }

  std::function<void()> duringQuery;
  std::vector<bool> removedUnderAudioLock;
};

class PinnedEventLifetimeTest : public OutputTest::OutputFixture {
 protected:
  void TearDown() override {
    // The engine's own manager again, so that Term takes every pin left.
    if (StreamCachePinMgr() == &pins_) StreamCachePinMgr() = &WatchedPins::Real();
    OutputFixture::TearDown();
  }
  WatchedPins pins_;
};

TEST_F(PinnedEventLifetimeTest, AnEventLastHeldByTheGameGoesUnderTheAudioLock) {
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  ASSERT_EQ(StreamCachePinMgr(), &WatchedPins::Real());
  StreamCachePinMgr() = &pins_;
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("platform Linux\n"
                                   "bus Master -\n"
                                   "tone Pinned 48000 1 64 1000\n"
                                   "sound Pinned Pinned Master\n"
                                   "action Play_Pinned_Act 0x0403 Pinned\n"
                                   "event Play_Pinned Play_Pinned_Act\n",
                                   "PinnedBank", bank, error))
      << error;
  const std::vector<uint8_t> image = Tools::WriteBank(bank);
  uint32_t bankId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), bankId), SN_Success);
  ASSERT_EQ(SoundEngine::PinEventInStreamCache("Play_Pinned", 10, 5), SN_Success);
  ASSERT_EQ(OutputTest::RenderNullFrame(), SN_Success);
  ASSERT_EQ(WatchedPins::Real().PinCount(), 1u);

  // The bank goes while the game's query holds the event: the query's release is the last.
  SNRESULT unloaded = SN_Failure;
  pins_.duringQuery = [&] { unloaded = SoundEngine::UnloadBank(bankId, image.data()); };
  std::atomic<bool> queried{false};
  std::thread game([&] {
    float percent = -1.0f;
    bool full = true;
    SoundEngine::GetBufferStatusForPinnedEvent("Play_Pinned", percent, full);
    queried = true;
  });
  EXPECT_TRUE(OrvTest::WaitUntil(
      [&] {
        if (queried) return true;
        EXPECT_EQ(OutputTest::RenderNullFrame(), SN_Success) << "a frame failed while the game's query ran";
        return false;
      },
      "the game's query on its thread"));
  game.join();
  pins_.duringQuery = nullptr;

  EXPECT_EQ(unloaded, SN_Success);
  EXPECT_EQ(pins_.removedUnderAudioLock, std::vector<bool>{true});
  EXPECT_EQ(WatchedPins::Real().PinCount(), 0u);
  float percent = -1.0f;
  bool full = true;
  EXPECT_EQ(SoundEngine::GetBufferStatusForPinnedEvent("Play_Pinned", percent, full), SN_Failure);
  ASSERT_EQ(OutputTest::RenderNullFrame(), SN_Success);
}

}  // namespace
