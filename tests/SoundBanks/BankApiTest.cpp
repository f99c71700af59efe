// The sound engine's bank calls over the real bank manager, with and without the bank thread: every
// load form, unloads giving their pool, preparation with ids bare or owned, clears, cookies, media,
// pins, and SN_Failure from every call while no engine runs.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using BankTest::Build;
using BankTest::Id;
namespace SE = SN::SoundEngine;

// Completions, waited for on the real condition.
struct Completions {
  struct Call {
    uint32_t id;
    SN::SNRESULT result;
    int32_t pool;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> calls;
  static void Record(uint32_t id, const void*, SN::SNRESULT result, int32_t pool, void* cookie) {
    auto* self = static_cast<Completions*>(cookie);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->calls.push_back({id, result, pool});
    self->changed.notify_all();
  }
  Call WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!OrvTest::WaitUntil(changed, lock, [&] { return calls.size() >= count; }, [&] {
          return std::to_string(count) + " completions (" + std::to_string(calls.size()) + ")";
        }))
      return Call{};
    return calls[count - 1];
  }
};

class RecordingPins final : public SN::ISnStreamCachePinMgr {
 public:
  std::vector<std::pair<uint32_t, int>> calls;  // event, priority or -1 for an unpin
  void PinEvent(SN::CSnIndexedObject* event, uint32_t, uint8_t active, uint8_t) override {
    calls.push_back({event->ID(), active});
  }
  void UnpinEvent(SN::CSnIndexedObject* event, uint32_t) override { calls.push_back({event->ID(), -1}); }
  SN::SNRESULT GetBufferStatus(SN::CSnIndexedObject*, float& percent, bool& full) override {
    percent = 25.0f;
    full = true;
    return SN::SN_Success;
  }
};

uint32_t DefaultPoolUsed() {
  SN::MemoryMgr::PoolMemInfo info{};
  SN::MemoryMgr::GetPoolMemoryUsed(SN::g_DefaultPoolId, info);
  return info.usedBytes;
}

class BankApiTest : public BankTest::BankFixture, public ::testing::WithParamInterface<int> {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.useBankThread = uint8_t(GetParam()); }
  void TearDown() override {
    SN::StreamCachePinMgr() = nullptr;
    BankFixture::TearDown();
  }
  bool Threaded() const { return GetParam() != 0; }
  SN::CSnThreadedSoundBankManager& Thread() { return static_cast<SN::CSnThreadedSoundBankManager&>(*SN::g_pBankManager); }
  uint32_t Banks() { return SN::g_pBankManager->BankCount(); }
};

const char kMainText[] = "platform Linux\nevent Play_Hit\nevent Play_Miss\nevent Play_Far\ntone HitTone 48000 1 10 440\n";

TEST_P(BankApiTest, EveryLoadFormLoadsAndEveryUnloadFormUnloads) {
  const std::vector<uint8_t> bank = Build(kMainText, "Main");
  WriteBankFile("Main.bnk", bank);
  WriteBankFile(std::to_string(Id("Main")) + ".bnk", bank);
  uint32_t id = 0;
  ASSERT_EQ(SE::LoadBank("Main.bnk", -1, id), SN::SN_Success);
  EXPECT_EQ(id, Id("Main"));
  EXPECT_EQ(SE::LoadBank(u"Main.bnk", -1, id), SN::SN_BankAlreadyLoaded);
  int32_t pool = 7;
  EXPECT_EQ(SE::UnloadBank(u"Main.bnk", nullptr, &pool), SN::SN_Success);
  EXPECT_EQ(pool, -1);
  EXPECT_EQ(SE::LoadBank(Id("Main"), -1), SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank("Main", nullptr, &pool), SN::SN_Success);

  // Images: in place without a pool, copied into the caller's pool, which the unload gives back.
  alignas(16) static uint8_t image[8192];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  EXPECT_EQ(SE::LoadBank(image, uint32_t(bank.size()), id), SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank(id, image, &pool), SN::SN_Success);
  const SN::SnMemPoolId mediaPool = SN::MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SN::SnMemPool_AllocHook, 0);
  EXPECT_EQ(SE::LoadBank(image, uint32_t(bank.size()), mediaPool, id), SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank(id, nullptr, &pool), SN::SN_Success);
  EXPECT_EQ(pool, mediaPool);

  // The callback forms report the same outcomes.
  Completions done;
  EXPECT_EQ(SE::LoadBank("Main.bnk", &Completions::Record, &done, -1, id), SN::SN_Success);
  EXPECT_EQ(done.WaitFor(1).result, SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank(u"Main", nullptr, &Completions::Record, &done), SN::SN_Success);
  EXPECT_EQ(done.WaitFor(2).id, Id("Main"));
  EXPECT_EQ(SE::LoadBank(image, uint32_t(bank.size()), &Completions::Record, &done, id), SN::SN_Success);
  EXPECT_EQ(done.WaitFor(3).result, SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank(id, image, &Completions::Record, &done), SN::SN_Success);
  done.WaitFor(4);
  EXPECT_EQ(SE::UnloadBank(id, nullptr, &Completions::Record, &done), Threaded() ? SN::SN_Success : SN::SN_BankNotLoaded);
  EXPECT_EQ(done.WaitFor(5).result, SN::SN_BankNotLoaded);
  EXPECT_EQ(Banks(), 0u);
  SN::MemoryMgr::DestroyPool(mediaPool);
}

TEST_P(BankApiTest, BadImagesAndNamesAreRefusedBeforeTheManagerSeesThem) {
  EXPECT_EQ(SE::BankIdOfName("Init.bnk"), SE::BankIdOfName("Init"));
  EXPECT_EQ(SE::BankIdOfName(u"Init.bnk"), Id("Init"));
  alignas(16) static uint8_t image[64] = {};
  uint32_t id = 5;
  EXPECT_EQ(SE::LoadBank(image + 1, 40, id), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::LoadBank(image, 27, 0, id), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::LoadBank(nullptr, 40, &Completions::Record, nullptr, id), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::LoadBank(static_cast<const char*>(nullptr), -1, id), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::UnloadBank(static_cast<const char16_t*>(nullptr), nullptr), SN::SN_InvalidParameter);
  EXPECT_EQ(id, 5u);
  EXPECT_EQ(Banks(), 0u);
}

TEST_P(BankApiTest, FileFaultsAndASecondPlatformGiveTheManagersCodes) {
  WriteBankFile("Main.bnk", Build(kMainText, "Main"));
  WriteBankFile("Other.bnk", Build("platform Elsewhere\n", "Other"));
  uint32_t id = 0;
  ASSERT_EQ(SE::LoadBank("Main.bnk", -1, id), SN::SN_Success);
  EXPECT_EQ(SE::LoadBank("Other.bnk", -1, id), SN::SN_PlatformMismatch);
  for (const BankTest::CorpusEntry& entry : BankTest::Corpus()) {
    if (entry.name != "version-112" && entry.name != "truncated") continue;
    WriteBankFile(entry.name + ".bnk", Build(entry.text, entry.name));
    EXPECT_EQ(SE::LoadBank((entry.name + ".bnk").c_str(), -1, id), entry.expected) << entry.name;
  }
  EXPECT_EQ(Banks(), 1u);
}

TEST_P(BankApiTest, PreparationPassesOneIdBareAndMoreAsACopyTheCommandOwns) {
  WriteBankFile("Main.bnk", Build(kMainText, "Main"));
  uint32_t id = 0;
  ASSERT_EQ(SE::LoadBank("Main.bnk", -1, id), SN::SN_Success);
  const uint32_t one[] = {Id("Play_Hit")};
  const uint32_t three[] = {Id("Play_Hit"), Id("Play_Miss"), Id("Play_Far")};
  const uint32_t before = DefaultPoolUsed();
  if (Threaded()) Thread().HoldThread();
  Completions done;
  ASSERT_EQ(SE::PrepareEvent(SN::SnPreparation_Load, one, 1, &Completions::Record, &done), SN::SN_Success);
  const uint32_t afterOne = DefaultPoolUsed();
  ASSERT_EQ(SE::PrepareEvent(SN::SnPreparation_Load, three, 3, &Completions::Record, &done), SN::SN_Success);
  const uint32_t afterThree = DefaultPoolUsed();
  if (Threaded()) {
    Thread().ReleaseThread();
    EXPECT_EQ(afterOne, before);  // nothing copied for one id
    EXPECT_GT(afterThree, before);
  }
  EXPECT_EQ(done.WaitFor(2).result, SN::SN_Success);
  EXPECT_EQ(SN::g_pBankManager->EventPreparationCount(Id("Play_Hit")), 2u);
  const char* names[] = {"Play_Hit", "Play_Miss", "Play_Far"};
  EXPECT_EQ(SE::PrepareEvent(SN::SnPreparation_Unload, names, 3), SN::SN_Success);
  EXPECT_EQ(SE::PrepareEvent(SN::SnPreparation_Unload, one, 1), SN::SN_Success);
  EXPECT_EQ(SN::g_pBankManager->EventPreparationCount(Id("Play_Hit")), 0u);
  EXPECT_EQ(DefaultPoolUsed(), before);

  EXPECT_EQ(SE::PrepareEvent(SN::SnPreparation_Load, one, 0), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::PrepareEvent(SN::SnPreparation_Load, static_cast<const uint32_t*>(nullptr), 2), SN::SN_InvalidParameter);
  const char16_t* holed[] = {u"Play_Hit", nullptr};
  EXPECT_EQ(SE::PrepareEvent(SN::SnPreparation_Load, holed, 2), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::PrepareGameSyncs(SN::SnPreparation_Load, SN::SnGroupType_State, 1u, nullptr, 1), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::PrepareGameSyncs(SN::SnPreparation_Load, SN::SnGroupType_State, 1u, one, 0), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::PrepareGameSyncs(SN::SnPreparation_Load, SN::SnGroupType_State, static_cast<const char*>(nullptr),
                                 names, 1),
            SN::SN_InvalidParameter);
  EXPECT_EQ(DefaultPoolUsed(), before);

  EXPECT_EQ(SE::PrepareBank(SN::SnPreparation_Load, "Main.bnk", SN::SnBankContent_StructureOnly), SN::SN_Success);
  EXPECT_EQ(SE::PrepareBank(SN::SnPreparation_Unload, u"Main"), SN::SN_Success);
  EXPECT_EQ(SE::ClearPreparedEvents(), SN::SN_Success);
  EXPECT_EQ(SE::ClearBanks(), SN::SN_Success);
  EXPECT_EQ(Banks(), 0u);
}

// A waiting call on the bank thread would wait for itself: it is refused, and the ids it copied go.
TEST_P(BankApiTest, AWaitingCallRefusedOnTheBankThreadFreesItsIds) {
  if (!Threaded()) GTEST_SKIP() << "the plain manager has no bank thread";
  struct Inside {
    uint32_t before = 0, after = 0;
    SN::SNRESULT result = SN::SN_Success;
    Completions done;
  } inside;
  auto callback = [](uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
    auto* in = static_cast<Inside*>(cookie);
    const uint32_t ids[] = {1, 2, 3};
    in->before = DefaultPoolUsed();
    in->result = SE::PrepareEvent(SN::SnPreparation_Load, ids, 3);
    in->after = DefaultPoolUsed();
    Completions::Record(0, nullptr, SN::SN_Success, -1, &in->done);
  };
  ASSERT_EQ(SE::ClearPreparedEvents(), SN::SN_Success);
  SN::SnBankCommand command;
  command.type = SN::SnBankCommand_ClearPreparedEvents;
  command.callback = callback;
  command.cookie = &inside;
  ASSERT_EQ(SN::g_pBankManager->QueueCommand(command), SN::SN_Success);
  inside.done.WaitFor(1);
  EXPECT_EQ(inside.result, SN::SN_Failure);
  EXPECT_EQ(inside.after, inside.before);
}

TEST_P(BankApiTest, ACookieCancelledInsideItsCallbackHearsNothingMore) {
  WriteBankFile("Main.bnk", Build(kMainText, "Main"));
  auto cancel = [](uint32_t id, const void* image, SN::SNRESULT result, int32_t pool, void* cookie) {
    Completions::Record(id, image, result, pool, cookie);
    EXPECT_EQ(SE::CancelBankCallbackCookie(cookie), SN::SN_Success);
  };
  Completions done;
  if (Threaded()) Thread().HoldThread();
  uint32_t id = 0;
  ASSERT_EQ(SE::LoadBank("Main.bnk", cancel, &done, -1, id), SN::SN_Success);
  EXPECT_EQ(SE::UnloadBank(id, nullptr, cancel, &done), SN::SN_Success);
  if (Threaded()) Thread().ReleaseThread();
  // Queued after both: once it is back, the unload ran, its callback withdrawn on the bank thread.
  // The plain manager ran each command inside its call, callbacks and all.
  EXPECT_EQ(SE::LoadBank("Main.bnk", -1, id), SN::SN_Success);
  std::lock_guard<std::mutex> lock(done.mutex);
  EXPECT_EQ(done.calls.size(), Threaded() ? 1u : 2u);
}

TEST_P(BankApiTest, MediaAndPinsWithAndWithoutThePinManager) {
  alignas(16) static uint8_t bytes[32] = {1, 2, 3};
  const SN::SnMediaItem item{99, bytes, sizeof bytes};
  EXPECT_EQ(SE::SetMedia(nullptr, 1), SN::SN_InvalidParameter);
  EXPECT_EQ(SE::SetMedia(&item, 0), SN::SN_Success);
  EXPECT_EQ(SE::SetMedia(&item, 1), SN::SN_Success);
  EXPECT_EQ(SN::g_pBankManager->MediaReferences(99), 1u);
  EXPECT_EQ(SE::UnsetMedia(&item, 1), SN::SN_Success);
  EXPECT_EQ(SN::g_pBankManager->MediaReferences(99), 0u);
  EXPECT_EQ(SE::SetBankLoadIOSettings(100.0f, 50), SN::SN_Success);

  WriteBankFile("Main.bnk", Build(kMainText, "Main"));
  uint32_t id = 0;
  ASSERT_EQ(SE::LoadBank("Main.bnk", -1, id), SN::SN_Success);
  float percent = -1.0f;
  bool full = true;
  // Without a pin manager (the engine's own taken away) the calls refuse and queue nothing.
  SN::StreamCachePinMgr() = nullptr;
  EXPECT_EQ(SE::PinEventInStreamCache("Play_Hit", 3, 1), SN::SN_Failure);
  EXPECT_EQ(SE::GetBufferStatusForPinnedEvent("Play_Hit", percent, full), SN::SN_Failure);
  EXPECT_EQ(percent, 0.0f);
  RecordingPins pins;
  SN::StreamCachePinMgr() = &pins;
  EXPECT_EQ(SE::PinEventInStreamCache(u"Play_Hit", 3, 1), SN::SN_Success);
  EXPECT_EQ(SE::UnpinEventInStreamCache(Id("Play_Hit")), SN::SN_Success);
  EXPECT_EQ(SE::UnpinEventInStreamCache("NotLoaded"), SN::SN_Failure);
  EXPECT_EQ(SE::GetBufferStatusForPinnedEvent(Id("Play_Hit"), percent, full), SN::SN_Success);
  EXPECT_EQ(percent, 25.0f);
  ASSERT_EQ(SE::RenderAudio(), SN::SN_Success);
  EXPECT_EQ(pins.calls, (std::vector<std::pair<uint32_t, int>>{{Id("Play_Hit"), 3}, {Id("Play_Hit"), -1}}));
}

// Banks loaded and unloaded from several threads at once, each waiting for its own outcome.
TEST_P(BankApiTest, SeveralThreadsLoadAndUnloadAtOnce) {
  const char* names[] = {"One", "Two", "Three", "Four"};
  for (const char* name : names) WriteBankFile(std::string(name) + ".bnk", Build("platform Linux\n", name));
  std::vector<OrvTest::WaitedThread> threads;
  std::atomic<int> failures{0};
  for (const char* name : names)
    threads.emplace_back([&, name] {
      for (int round = 0; round < 5; ++round) {
        uint32_t id = 0;
        if (SE::LoadBank((std::string(name) + ".bnk").c_str(), -1, id) != SN::SN_Success) ++failures;
        if (SE::UnloadBank(id, nullptr) != SN::SN_Success) ++failures;
      }
    });
  for (OrvTest::WaitedThread& thread : threads) thread.Join("a thread's waited loads and unloads");
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Banks(), 0u);
}

TEST_P(BankApiTest, EveryCallGivesFailureOnceTheEngineStopped) {
  SN::SoundEngine::Term();
  uint32_t id = 0;
  int32_t pool = 0;
  const uint32_t ids[] = {1};
  const char* names[] = {"A"};
  float percent = 0.0f;
  bool full = false;
  const SN::SnMediaItem item{1, &id, 4};
  for (SN::SNRESULT result :
       {SE::LoadBank("Main.bnk", -1, id), SE::LoadBank(1u, -1), SE::LoadBank(u"Main", &Completions::Record, nullptr, -1, id),
        SE::UnloadBank(1u, nullptr, &pool), SE::UnloadBank("Main", nullptr, &Completions::Record, nullptr),
        SE::PrepareEvent(SN::SnPreparation_Load, ids, 1), SE::PrepareEvent(SN::SnPreparation_Load, names, 1),
        SE::PrepareGameSyncs(SN::SnPreparation_Load, SN::SnGroupType_Switch, 1u, ids, 1),
        SE::PrepareBank(SN::SnPreparation_Load, 1u), SE::ClearPreparedEvents(), SE::ClearBanks(),
        SE::CancelBankCallbackCookie(nullptr), SE::SetBankLoadIOSettings(1.0f, 1), SE::SetMedia(&item, 1),
        SE::UnsetMedia(&item, 1), SE::PinEventInStreamCache(1u, 1, 1), SE::UnpinEventInStreamCache(1u),
        SE::GetBufferStatusForPinnedEvent(1u, percent, full)})
    EXPECT_EQ(result, SN::SN_Failure);
  EXPECT_EQ(pool, -1);
}

INSTANTIATE_TEST_SUITE_P(BankThread, BankApiTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Threaded" : "Plain"; });

}  // namespace
