// Events' streamed files pinned in the stream cache through the engine's calls, over builder banks
// with loose tones and the real stream manager: the files of the current state or switch value in
// the first priority, the others in the second, moved when the value changes, given back on unpin,
// on unload and at the end.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/StreamCachePinMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tests/Support/WaitFor.h"

namespace {

using BankTest::Id;
namespace SE = SN::SoundEngine;

// Two state values and two switch values choose among three streamed tones; StreamA is listed by
// both containers (one file, one pin), InMemory is never pinned, and Missing has no file: a pin the
// stream manager refuses is not counted, so no unpin later takes away somebody else's.
const char kPinText[] =
    "platform Linux\n"
    "stategroup Mood 0\n"
    "bus Master -\n"
    "tone StreamA 48000 1 50 440 loose\n"
    "tone StreamB 48000 1 50 660 loose\n"
    "tone StreamC 48000 1 50 880 loose\n"
    "tone InMemory 48000 1 10 220\n"
    "tone Missing 48000 1 10 330 loose\n"
    "sound CalmA StreamA Master\n"
    "sound CalmM InMemory Master\n"
    "sound TenseB StreamB Master\n"
    "sound TenseC StreamC Master\n"
    "sound CalmMissing Missing Master\n"
    "switch ByMood Master state Mood Calm Calm=CalmA+CalmM+CalmMissing Tense=TenseB+TenseC\n"
    "sound GrassA StreamA Master\n"
    "sound StoneB StreamB Master\n"
    "switch ByGround Master switch Ground Grass Grass=GrassA Stone=StoneB\n"
    "action Play_Mood_Act 0x0403 ByMood\n"
    "event Play_Mood Play_Mood_Act\n"
    "action Play_Ground_Act 0x0403 ByGround\n"
    "event Play_Ground Play_Ground_Act\n";

class StreamCachePinTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(kPinText, "Pins", bank, error)) << error;
    for (const Tools::BankMedia& media : bank.media) {
      if (!media.loose || media.id == Id("Missing")) continue;
      ASSERT_TRUE(Tools::WriteBytesFile(banks_ + std::to_string(media.id) + ".snm", media.bytes));
    }
    WriteBankFile("Pins.bnk", Tools::WriteBank(bank));
    uint32_t id = 0;
    ASSERT_EQ(SE::LoadBank("Pins.bnk", -1, id), SN::SN_Success) << log_.Take();
    ASSERT_EQ(SN::StreamCachePinMgr(), &Pins());
  }
  static SN::CSnStreamCachePinMgr& Pins() { return SN::CSnStreamCachePinMgr::Instance(); }
  static SN::CSnIndexedObject* Event(const char* name) {
    SN::CSnIndexedObject* event = SN::g_pObjectIndex->List(SN::SnIndex_Events).FindAndAddRef(Id(name));
    if (event) event->Release();  // the bank's reference keeps it
    return event;
  }
  static std::vector<uint32_t> Files(SN::CSnIndexedObject* event, uint32_t object, bool first) {
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < Pins().FileCount(event, object, first); ++i) ids.push_back(Pins().FileAt(event, object, first, i));
    return ids;
  }
  static std::vector<uint32_t> Sorted(std::vector<uint32_t> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  static bool Pinned(uint32_t fileId) {
    float percent = 0.0f;
    bool full = false;
    return SN::ISnStreamMgr::m_pStreamMgr->GetPinnedFileBufferStatus(fileId, percent, full) == SN::SN_Success;
  }
};

TEST_F(StreamCachePinTest, AnEventsFilesFollowTheStateAndLeaveOnUnpinAndUnload) {
  SN::CSnIndexedObject* mood = Event("Play_Mood");
  ASSERT_NE(mood, nullptr);
  const uint32_t all = SN::kPinAllObjects;
  ASSERT_EQ(SE::PinEventInStreamCache("Play_Mood", 50, 10), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  ASSERT_EQ(Pins().PinCount(), 1u);
  EXPECT_EQ(Files(mood, all, true), std::vector<uint32_t>{Id("StreamA")});
  EXPECT_EQ(Files(mood, all, false), Sorted({Id("StreamB"), Id("StreamC")}));
  EXPECT_FALSE(Pinned(Id("InMemory")));

  // Read in by the device thread: the least buffered file decides.
  float percent = 0.0f;
  bool full = true;
  OrvTest::WaitUntil(
      [&] { return SE::GetBufferStatusForPinnedEvent("Play_Mood", percent, full) == SN::SN_Success && percent >= 100.0f; },
      [&] { return "the pinned event's files read in (" + std::to_string(percent) + " %)"; });
  EXPECT_EQ(percent, 100.0f);
  EXPECT_FALSE(full);

  // A second pin only changes the priorities: one unpin of the stream manager's frees each file.
  ASSERT_EQ(SE::PinEventInStreamCache("Play_Mood", 60, 10), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Pins().PinCount(), 1u);
  EXPECT_EQ(Files(mood, all, true), std::vector<uint32_t>{Id("StreamA")});

  // The state moves the files between the two priorities.
  ASSERT_EQ(SE::SetState("Mood", "Tense"), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Files(mood, all, true), Sorted({Id("StreamB"), Id("StreamC")}));
  EXPECT_EQ(Files(mood, all, false), std::vector<uint32_t>{Id("StreamA")});

  ASSERT_EQ(SE::UnpinEventInStreamCache("Play_Mood"), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Pins().PinCount(), 0u);
  for (const char* tone : {"StreamA", "StreamB", "StreamC"}) EXPECT_FALSE(Pinned(Id(tone))) << tone;
  EXPECT_EQ(SE::GetBufferStatusForPinnedEvent("Play_Mood", percent, full), SN::SN_Failure);
  EXPECT_EQ(percent, 0.0f);

  // The event's end takes its pins with it.
  ASSERT_EQ(SE::PinEventInStreamCache("Play_Mood", 50, 10), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_TRUE(Pinned(Id("StreamB")));
  ASSERT_EQ(SE::UnloadBank("Pins.bnk", nullptr), SN::SN_Success);
  EXPECT_EQ(Pins().PinCount(), 0u);
  for (const char* tone : {"StreamA", "StreamB", "StreamC"}) EXPECT_FALSE(Pinned(Id(tone))) << tone;
}

TEST_F(StreamCachePinTest, AGameObjectsPinFollowsItsSwitchAndHoldsTheObject) {
  SN::CSnIndexedObject* ground = Event("Play_Ground");
  ASSERT_NE(ground, nullptr);
  ASSERT_EQ(SE::RegisterGameObj(7), SN::SN_Success);
  ASSERT_EQ(SE::RegisterGameObj(8), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  SN::CSnRegisteredObj* object = SN::g_pRegistryMgr->Find(7);
  ASSERT_NE(object, nullptr);
  {
    std::lock_guard<Platform::ReentrantLock> lock(SN::GlobalAudioLock());
    Pins().PinEvent(ground, 99, 40, 20);  // never registered: refused
    EXPECT_EQ(Pins().PinCount(), 0u);
    Pins().PinEvent(ground, 7, 40, 20);
  }
  EXPECT_EQ(object->RefCount(), 2u);
  EXPECT_EQ(Files(ground, 7, true), std::vector<uint32_t>{Id("StreamA")});
  EXPECT_EQ(Files(ground, 7, false), std::vector<uint32_t>{Id("StreamB")});

  // Another object's switch is not this pin's.
  ASSERT_EQ(SE::SetSwitch("Ground", "Stone", 8), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Files(ground, 7, true), std::vector<uint32_t>{Id("StreamA")});
  ASSERT_EQ(SE::SetSwitch("Ground", "Stone", 7), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Files(ground, 7, true), std::vector<uint32_t>{Id("StreamB")});
  EXPECT_EQ(Files(ground, 7, false), std::vector<uint32_t>{Id("StreamA")});

  // Unregistered meanwhile, the object lives on for its pin, which still finds it by id.
  ASSERT_EQ(SE::UnregisterGameObj(7), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(object->RefCount(), 1u);
  {
    std::lock_guard<Platform::ReentrantLock> lock(SN::GlobalAudioLock());
    Pins().UnpinEvent(ground, 7);
  }
  EXPECT_EQ(Pins().PinCount(), 0u);
  EXPECT_FALSE(Pinned(Id("StreamA")));
  EXPECT_FALSE(Pinned(Id("StreamB")));
}

// Pins left at the end go with the engine, before the stream manager that holds their files.
TEST_F(StreamCachePinTest, PinsLeftAtTheEndGoWithTheEngine) {
  ASSERT_EQ(SE::PinEventInStreamCache("Play_Ground", 50, 10), SN::SN_Success);
  ASSERT_EQ(SE::PinEventInStreamCache("Play_Mood", 50, 10), SN::SN_Success);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(Pins().PinCount(), 2u);
  EXPECT_TRUE(Pinned(Id("StreamA")));
  SE::Term();
  EXPECT_EQ(Pins().PinCount(), 0u);
  EXPECT_FALSE(Pinned(Id("StreamA")));
  EXPECT_EQ(SN::StreamCachePinMgr(), nullptr);
}

// A game thread asks for the buffering while the messages pin, unpin and re-gather the event on the
// thread that renders: the table is shared under the pin lock.
TEST_F(StreamCachePinTest, TheBufferQueryRacesThePinsOfTheRenderingThread) {
  std::atomic<bool> done{false};
  std::atomic<uint32_t> answers{0};
  std::thread querier([&] {
    while (!done.load()) {
      float percent = 0.0f;
      bool full = false;
      if (SE::GetBufferStatusForPinnedEvent("Play_Mood", percent, full) == SN::SN_Success) {
        EXPECT_GE(percent, 0.0f);
        EXPECT_LE(percent, 100.0f);
        ++answers;
      }
    }
  });
  for (int round = 0; round < 200; ++round) {
    ASSERT_EQ(SE::PinEventInStreamCache("Play_Mood", uint8_t(10 + round % 50), 5), SN::SN_Success);
    const bool unpins = round % 3 == 2;
    ASSERT_EQ(unpins ? SE::UnpinEventInStreamCache("Play_Mood") : SN::SN_Success, SN::SN_Success);
    ASSERT_EQ(SE::SetState("Mood", round % 2 ? "Tense" : "Calm"), SN::SN_Success);
    ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  }
  done = true;
  querier.join();
  EXPECT_EQ(Pins().PinCount(), 1u);  // round 199 pinned after round 198's unpin
}

}  // namespace
