// The bank manager through its commands, with and without the bank thread: loads by name, id and
// image, unloads through the audio thread's message, media handed out and given back, refused loads
// leaving the object index as it was, and the faults of bank input it stops.
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/Output/AudioThread.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundBanks/MemoryFileHook.h"
#include "tests/SoundEngine/SoundApiFakes.h"
#include "tests/Support/WaitFor.h"

namespace {

using BankTest::Build;
using BankTest::Id;

// A test action: payload id, u16 action type, u32 target.
class TestAction final : public SN::CSnEventAction {
 public:
  TestAction(uint32_t id, uint16_t type) : CSnEventAction(id, type) {}
  SN::SNRESULT Execute(SN::CSnPendingActionItem&) override { return SN::SN_Success; }
  uint32_t DelaySamples() override { return 0; }
};

SN::SNRESULT CreateTestAction(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object) {
  uint32_t id = 0, target = 0;
  uint16_t type = 0;
  SN::SnBankCursor cursor(payload, size);
  if (!cursor.Take(id) || !cursor.Take(type) || !cursor.Take(target)) return SN::SN_Failure;
  auto* action = SN::PoolNew<TestAction>(SN::g_DefaultPoolId, id, type);
  if (!action) return SN::SN_InsufficientMemory;
  action->SetTarget(target, false);
  object = action;
  return SN::SN_Success;
}
const SN::SnHircKind kActionKind{SN::SnIndex_Actions, &CreateTestAction, nullptr, nullptr};

// Objects of this kind always fail to be made.
SN::SNRESULT RefuseObject(const uint8_t*, uint32_t, SN::CSnIndexedObject*&) { return SN::SN_Failure; }
const SN::SnHircKind kFailingKind{SN::SnIndex_Nodes, &RefuseObject, nullptr, nullptr};

// "object 3 <name> <type lo> <type hi> <target 4 bytes>"
std::string Action(const char* name, uint16_t type, uint32_t target = 0) {
  char line[160];
  snprintf(line, sizeof line, "object 3 %s %02x %02x %02x %02x %02x %02x\n", name, type & 0xFF, type >> 8, target & 0xFF,
           (target >> 8) & 0xFF, (target >> 16) & 0xFF, target >> 24);
  return line;
}

struct CallbackLog {
  struct Call {
    uint32_t id;
    const void* image;
    SN::SNRESULT result;
    int32_t pool;
  };
  std::mutex mutex;
  std::vector<Call> calls;
  static void Record(uint32_t id, const void* image, SN::SNRESULT result, int32_t pool, void* cookie) {
    auto* log = static_cast<CallbackLog*>(cookie);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->calls.push_back({id, image, result, pool});
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.size();
  }
};

bool ThreadSleeps(uint64_t tid);

class BankManagerTest : public BankTest::BankFixture, public ::testing::WithParamInterface<int> {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.useBankThread = uint8_t(GetParam()); }
  void SetUp() override {
    BankFixture::SetUp();
    previousAction_ = SN::SetHircKind(3, &kActionKind);
    // The actor-mixer's kind as it was (one test replaces it): put back as found, not left empty.
    previousMixer_ = SN::SetHircKind(7, nullptr);
    SN::SetHircKind(7, previousMixer_);
    SN::OutputServices() = &outputs_;
    ASSERT_NE(SN::g_pBankManager, nullptr);
  }
  void TearDown() override {
    SN::SetHircKind(3, previousAction_);
    SN::SetHircKind(7, previousMixer_);
    BankFixture::TearDown();
    SN::OutputServices() = nullptr;
  }
  SN::CSnSoundBankManager& Banks() { return *SN::g_pBankManager; }
  uint32_t Objects(SN::SnIndexList list) { return SN::g_pObjectIndex->List(list).Count(); }
  bool HasEvent(const char* name) {
    SN::CSnIndexedObject* event = SN::g_pObjectIndex->List(SN::SnIndex_Events).FindAndAddRef(Id(name));
    if (event) event->Release();
    return event != nullptr;
  }
  // The media bytes a bank holds, as the chunk loop hands them out.
  std::vector<uint8_t> MediaOf(const std::vector<uint8_t>& bank, const char* tone) {
    BankTest::RecordingBank recorded;
    EXPECT_EQ(LoadImage(bank, recorded), SN::SN_Success);
    return recorded.Media(Id(tone));
  }

  SN::SnMediaRef UnloadHoldingMedia(CallbackLog& log);

  SN::ISnOutputServices* previousOutputs_ = nullptr;
  SoundTest::FakeOutputs outputs_;
  const SN::SnHircKind* previousAction_ = nullptr;
  const SN::SnHircKind* previousMixer_ = nullptr;
};

const std::string kMainBank = Action("Hit", 0x0403, 77) + Action("Chain", 0x2103) +
                              "event Play_Hit Hit Chain\ntone HitTone 48000 1 10 440\n";

TEST_P(BankManagerTest, ABankLoadsByNameOnceAndOneUnloadUnloadsIt) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  WriteBankFile("Main.bnk", bank);
  uint32_t bankId = 0;
  EXPECT_EQ(Banks().LoadBankWait("Main.bnk", -1, &bankId), SN::SN_Success);
  EXPECT_EQ(bankId, Id("Main"));
  EXPECT_TRUE(HasEvent("Play_Hit"));
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 2u);
  EXPECT_STREQ(Banks().BankFileName(bankId), "Main.bnk");

  // Handed out bytes for bytes as the bank holds them.
  const SN::SnMediaRef media = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(media.data, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(media.data, media.data + media.size), MediaOf(bank, "HitTone"));
  Banks().ReleaseMedia(Id("HitTone"), media.bank);

  EXPECT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_BankAlreadyLoaded);
  EXPECT_EQ(Banks().UnloadBankWait(bankId, nullptr), SN::SN_Success);
  EXPECT_FALSE(HasEvent("Play_Hit"));
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 0u);
  EXPECT_EQ(Banks().GetMedia(Id("HitTone")).data, nullptr);
  EXPECT_EQ(Banks().UnloadBankWait(bankId, nullptr), SN::SN_BankNotLoaded);
}

TEST_P(BankManagerTest, ABankLoadsByIdAndFromImagesInPlaceAndCopied) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  WriteBankFile(std::to_string(Id("Main")) + ".bnk", bank);
  EXPECT_EQ(Banks().LoadBankWait(Id("Main"), -1), SN::SN_Success);
  EXPECT_TRUE(HasEvent("Play_Hit"));
  // The same bank from an image is a bank of its own key; its objects are shared.
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  uint32_t imageId = 0;
  EXPECT_EQ(Banks().LoadBankImageWait(image, uint32_t(bank.size()), false, -1, &imageId), SN::SN_Success);
  EXPECT_EQ(imageId, Id("Main"));
  EXPECT_EQ(Banks().BankCount(), 2u);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);
  EXPECT_TRUE(HasEvent("Play_Hit"));  // the image bank still holds it

  // In place, the media are handed out from the image itself.
  const SN::SnMediaRef inPlace = Banks().GetMedia(Id("HitTone"));
  EXPECT_GE(inPlace.data, image);
  EXPECT_LT(inPlace.data, image + bank.size());
  Banks().ReleaseMedia(Id("HitTone"), inPlace.bank);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), image), SN::SN_Success);
  EXPECT_FALSE(HasEvent("Play_Hit"));

  // Copied, they live in memory of their own with the same bytes.
  EXPECT_EQ(Banks().LoadBankImageWait(image, uint32_t(bank.size()), true, -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef copied = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(copied.data, nullptr);
  EXPECT_TRUE(copied.data < image || copied.data >= image + bank.size());
  EXPECT_EQ(std::vector<uint8_t>(copied.data, copied.data + copied.size), MediaOf(bank, "HitTone"));
  Banks().ReleaseMedia(Id("HitTone"), copied.bank);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

TEST_P(BankManagerTest, CallbacksGiveTheBankTheResultAndTheCookie) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  CallbackLog log;
  uint32_t bankId = 0;
  EXPECT_EQ(Banks().LoadBank("Main.bnk", &CallbackLog::Record, &log, -1, &bankId), SN::SN_Success);
  EXPECT_EQ(Banks().LoadBank("Main.bnk", &CallbackLog::Record, &log, -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBank(bankId, nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  // Run at once, the command gives its own result; queued, the callback alone has it.
  EXPECT_EQ(Banks().UnloadBank(Id("Other"), nullptr, &CallbackLog::Record, &log),
            GetParam() ? SN::SN_Success : SN::SN_BankNotLoaded);
  // A waiting call behind them sees them all done.
  EXPECT_EQ(Banks().UnloadBankWait(Id("Other"), nullptr), SN::SN_BankNotLoaded);
  ASSERT_EQ(log.Count(), 4u);
  EXPECT_EQ(log.calls[0].id, bankId);
  EXPECT_EQ(log.calls[0].result, SN::SN_Success);
  EXPECT_EQ(log.calls[1].result, SN::SN_BankAlreadyLoaded);
  EXPECT_EQ(log.calls[2].result, SN::SN_Success);
  EXPECT_EQ(log.calls[3].id, Id("Other"));
  EXPECT_EQ(log.calls[3].result, SN::SN_BankNotLoaded);
  EXPECT_EQ(log.calls[0].image, nullptr);
}

TEST_P(BankManagerTest, RefusedLoadsLeaveTheObjectIndexAsItWas) {
  SN::SetHircKind(7, &kFailingKind);
  const std::string actions = Action("Kept", 0x0403);
  WriteBankFile("Zero.bnk", Build(actions + "event Play_Zero Kept @0\n", "Zero"));
  WriteBankFile("Missing.bnk", Build(actions + "event Play_Missing Kept Elsewhere\n", "Missing"));
  WriteBankFile("Failing.bnk", Build(actions + "event Play_Fine Kept\nobject 7 Broken 00\n", "Failing"));
  // The count claims more ids than the object holds.
  WriteBankFile("Count.bnk", Build(actions + "object 4 Play_Long 09 00 00 00\n", "Count"));
  EXPECT_EQ(Banks().LoadBankWait("Zero.bnk", -1, nullptr), SN::SN_ZeroActionId);
  EXPECT_EQ(Banks().LoadBankWait("Missing.bnk", -1, nullptr), SN::SN_Failure);
  EXPECT_EQ(Banks().LoadBankWait("Failing.bnk", -1, nullptr), SN::SN_Failure);
  EXPECT_EQ(Banks().LoadBankWait("Count.bnk", -1, nullptr), SN::SN_Failure);
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 0u);
  EXPECT_EQ(Objects(SN::SnIndex_Events), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);
  EXPECT_EQ(Banks().LoadBankWait("Unknown.bnk", -1, nullptr), SN::SN_FileNotFound);
}

TEST_P(BankManagerTest, ObjectsOfTwoBanksSurviveTheFirstUnload) {
  // Both banks carry the shared event with its action; each has an event of its own.
  const std::string shared = Action("Shared", 0x0403) + "event Play_Shared Shared\n";
  WriteBankFile("A.bnk", Build(shared + Action("OnlyA", 0x0403) + "event Play_A OnlyA\n", "A"));
  WriteBankFile("B.bnk", Build(shared + Action("OnlyB", 0x0403) + "event Play_B OnlyB\n", "B"));
  EXPECT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().LoadBankWait("B.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("A"), nullptr), SN::SN_Success);
  EXPECT_FALSE(HasEvent("Play_A"));
  EXPECT_TRUE(HasEvent("Play_B"));
  EXPECT_TRUE(HasEvent("Play_Shared"));
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 2u);
  EXPECT_EQ(Banks().UnloadBankWait(Id("B"), nullptr), SN::SN_Success);
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 0u);
}

// An action has one link to the next of its event: a second event naming it is refused, and the
// first event's chain stays as it was. Listed twice by one event, it keeps its first place.
TEST_P(BankManagerTest, AnActionChainedByOneEventIsRefusedForAnother) {
  WriteBankFile("A.bnk", Build(Action("Shared", 0x0403) + "event Play_A Shared Shared\n", "A"));
  WriteBankFile("B.bnk", Build(Action("Shared", 0x0403) + Action("Own", 0x0403) + "event Play_B Shared Own\n", "B"));
  ASSERT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  log_.Take();
  EXPECT_EQ(Banks().LoadBankWait("B.bnk", -1, nullptr), SN::SN_Failure);
  EXPECT_NE(log_.Take().find("uses action " + std::to_string(Id("Shared")) + ", which event"), std::string::npos);
  EXPECT_FALSE(HasEvent("Play_B"));
  auto* event = static_cast<SN::CSnEvent*>(SN::g_pObjectIndex->List(SN::SnIndex_Events).FindAndAddRef(Id("Play_A")));
  ASSERT_NE(event, nullptr);
  std::vector<uint32_t> chain;
  for (SN::CSnEventAction* action = event->FirstAction(); action && chain.size() < 4;
       action = SN::CSnEvent::NextAction(action))
    chain.push_back(action->ID());
  event->Release();
  EXPECT_EQ(chain, std::vector<uint32_t>{Id("Shared")});
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 1u);
  EXPECT_EQ(Banks().UnloadBankWait(Id("A"), nullptr), SN::SN_Success);
  EXPECT_EQ(Objects(SN::SnIndex_Actions), 0u);
}

// Main loaded, one reference to its media taken, and its unload with a callback run: the bank ends
// once that reference goes.
SN::SnMediaRef BankManagerTest::UnloadHoldingMedia(CallbackLog& log) {
  SN::CSnSoundBankManager& banks = Banks();
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  EXPECT_EQ(banks.LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef held = banks.GetMedia(Id("HitTone"));
  EXPECT_NE(held.bank, nullptr);
  EXPECT_EQ(banks.UnloadBank(Id("Main"), nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  // The unload's message reaches the audio pass (run here by the bank thread or the caller); a
  // waiting call behind it makes sure the command ran. Not about Main: a waiting call about a bank
  // being unloaded answers once it has ended, which this thread's media reference holds up.
  EXPECT_EQ(banks.UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  return held;
}

TEST_P(BankManagerTest, AnUnloadCallsBackAfterTheVoicesStopAndTheLastMediaReferenceGoes) {
  CallbackLog log;
  const SN::SnMediaRef held = UnloadHoldingMedia(log);
  ASSERT_NE(held.bank, nullptr);
  EXPECT_EQ(outputs_.log.lines, std::vector<std::string>{"StopBankVoices"});
  EXPECT_EQ(log.Count(), 0u);
  // An unloading bank's media are not handed out any more.
  EXPECT_EQ(Banks().GetMedia(Id("HitTone")).data, nullptr);
  Banks().ReleaseMedia(Id("HitTone"), held.bank);
  ASSERT_EQ(log.Count(), 1u);
  EXPECT_EQ(log.calls[0].result, SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
}

// With or without the bank thread, once the cookie's cancel has returned its unload's callback never
// comes, though the bank ends after it.
TEST_P(BankManagerTest, ACancelledCookiesUnloadCallbackNeverComes) {
  CallbackLog log;
  const SN::SnMediaRef held = UnloadHoldingMedia(log);
  ASSERT_NE(held.bank, nullptr);
  EXPECT_EQ(SN::SoundEngine::CancelBankCallbackCookie(&log), SN::SN_Success);
  Banks().ReleaseMedia(Id("HitTone"), held.bank);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
  EXPECT_EQ(log.Count(), 0u) << "the unload's callback came after its cookie was cancelled";
}

// A cookie used again after its cancel, while the cancelled unload's callback is still to come: the
// load made after the cancel calls back, the unload never does.
TEST_P(BankManagerTest, ACookieUsedAgainAfterItsCancelCallsBackTheNewCallOnly) {
  CallbackLog log;
  const SN::SnMediaRef held = UnloadHoldingMedia(log);
  ASSERT_NE(held.bank, nullptr);
  EXPECT_EQ(SN::SoundEngine::CancelBankCallbackCookie(&log), SN::SN_Success);
  WriteBankFile("B.bnk", Build(Action("One", 0x0403) + "event Play_B One\n", "B"));
  uint32_t loaded = 0;
  ASSERT_EQ(SN::SoundEngine::LoadBank("B.bnk", &CallbackLog::Record, &log, -1, loaded), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);  // behind the load
  EXPECT_EQ(log.Count(), 1u) << "the load made after the cancel did not call back";
  Banks().ReleaseMedia(Id("HitTone"), held.bank);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  ASSERT_EQ(log.Count(), 1u) << "the cancelled unload called back";
  EXPECT_EQ(log.calls[0].id, loaded);
  EXPECT_EQ(log.calls[0].result, SN::SN_Success);
}

TEST_P(BankManagerTest, MediaIndexEntriesPastTheirDataFailTheLoad) {
  // One entry of 100 bytes at offset 0 over a DATA of 16 bytes; then an index without DATA.
  const std::string entry = "chunk DIDX 01 00 00 00 00 00 00 00 64 00 00 00\n";
  WriteBankFile("Past.bnk", Build(entry + "chunk DATA 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n", "Past"));
  WriteBankFile("NoData.bnk", Build(entry, "NoData"));
  EXPECT_EQ(Banks().LoadBankWait("Past.bnk", -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(Banks().LoadBankWait("NoData.bnk", -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(Banks().MediaReferences(1), 0u);
  EXPECT_EQ(Banks().GetMedia(1).data, nullptr);
}

// Term from inside a bank callback would free the manager that runs the callback, on whichever
// thread it runs: refused.
void TermInside(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
  SN::SoundEngine::Term();
  *static_cast<std::atomic<bool>*>(cookie) = SN::g_pBankManager != nullptr;
}

TEST_P(BankManagerTest, TermInsideABankCallbackIsRefused) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  std::atomic<bool> kept{false};
  ASSERT_EQ(Banks().LoadBank("Main.bnk", &TermInside, &kept, -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);  // behind the load
  EXPECT_TRUE(kept.load());
  EXPECT_FALSE(HasEvent("Play_Hit"));
}

// A bank of the fuzz seeds, as the bank writer wrote it.
std::vector<uint8_t> Seed(const std::string& name) {
  std::ifstream in("tests/fuzz/corpus/sound_bank/" + name + ".bnk", std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An image copy aligned as an in-place load needs it.
struct AlignedImage {
  explicit AlignedImage(const std::vector<uint8_t>& bytes) : size(uint32_t(bytes.size())) {
    EXPECT_LE(bytes.size(), sizeof data);
    memcpy(data, bytes.data(), std::min(bytes.size(), sizeof data));
  }
  alignas(16) uint8_t data[4096];
  uint32_t size;
};

// The index checked against DATA whichever comes second: loaded in place, copied or from a file.
TEST_P(BankManagerTest, AMediaIndexAfterItsDataIsCheckedToo) {
  const std::vector<uint8_t> bank = Seed("media-index-after-data");
  AlignedImage image(bank);
  WriteBankFile("After.bnk", bank);
  EXPECT_EQ(Banks().LoadBankImageWait(image.data, image.size, false, -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(Banks().LoadBankImageWait(image.data, image.size, true, -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(Banks().LoadBankWait("After.bnk", -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(Banks().GetMedia(1).data, nullptr);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

// A DATA chunk claiming 4 GiB in a 40-byte image: refused before any memory is asked for it.
TEST_P(BankManagerTest, ADataSizePastTheImageIsRefusedBeforeAnythingIsAllocated) {
  AlignedImage image(Seed("data-size-4-gib"));
  const int32_t pools = SN::MemoryMgr::GetNumPools();
  const int allocations = SoundTest::Counts().allocs.load();
  for (bool copied : {false, true})
    EXPECT_EQ(Banks().LoadBankImageWait(image.data, image.size, copied, -1, nullptr), SN::SN_InvalidFile) << copied;
  EXPECT_EQ(SoundTest::Counts().allocs.load(), allocations);
  EXPECT_EQ(SN::MemoryMgr::GetNumPools(), pools);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

// Banks whose sizes claim 4 GiB in a few bytes, from an image and as files by name and by id: through
// the game's hook (blocks of 1 byte) and a device of 2048-byte or 1-byte blocks. Every way refuses them
// alike, before any memory is asked for what the sizes claim.
TEST_P(BankManagerTest, SizesPastTheFileAreRefusedBeforeAnythingIsAllocated) {
  BankTest::MemoryFileHook device;
  SN::SnDeviceSettings settings;
  SN::StreamMgr::GetDefaultDeviceSettings(settings);
  device.deviceId = SN::StreamMgr::CreateDevice(settings, &device);
  ASSERT_NE(device.deviceId, SN::kInvalidDeviceId);
  for (const char* seed : {"data-size-4-gib", "data-size-4-gib-after-index", "hierarchy-count-past-end",
                           "media-index-past-end"}) {
    const std::vector<uint8_t> bank = Seed(seed);
    ASSERT_GE(bank.size(), 16u) << seed;
    uint32_t bankId = 0;
    memcpy(&bankId, bank.data() + 12, sizeof bankId);
    WriteBankFile("Claims.bnk", bank);
    WriteBankFile(std::to_string(bankId) + ".bnk", bank);
    device.file = bank;
    AlignedImage image(bank);
    const int32_t pools = SN::MemoryMgr::GetNumPools();
    const int allocations = SoundTest::Counts().allocs.load();
    for (bool copied : {false, true})
      EXPECT_EQ(Banks().LoadBankImageWait(image.data, image.size, copied, -1, nullptr), SN::SN_InvalidFile) << seed;
    EXPECT_EQ(Banks().LoadBankWait("Claims.bnk", -1, nullptr), SN::SN_InvalidFile) << seed;
    EXPECT_EQ(Banks().LoadBankWait(bankId, -1), SN::SN_InvalidFile) << seed;
    SN::StreamMgr::SetFileLocationResolver(&device);
    for (uint32_t block : {2048u, 1u}) {
      device.blockSize = block;
      const std::string way = std::string(seed) + ", blocks of " + std::to_string(block);
      EXPECT_EQ(Banks().LoadBankWait("Claims.bnk", -1, nullptr), SN::SN_InvalidFile) << way;
      EXPECT_EQ(Banks().LoadBankWait(bankId, -1), SN::SN_InvalidFile) << way;
    }
    SN::StreamMgr::SetFileLocationResolver(&io_);
    EXPECT_EQ(SoundTest::Counts().allocs.load(), allocations) << seed;
    EXPECT_EQ(SN::MemoryMgr::GetNumPools(), pools) << seed;
    EXPECT_EQ(Banks().BankCount(), 0u);
  }
  SN::StreamMgr::DestroyDevice(device.deviceId);
}

// Each callback asks another thread to take the bank-list lock: a callback run inside the lock
// would keep that thread out (and a call of its own taking the audio lock could deadlock).
struct LockProbe {
  std::mutex mutex;
  std::vector<std::pair<SN::SNRESULT, bool>> calls;
  static void Run(uint32_t, const void*, SN::SNRESULT result, int32_t, void* cookie) {
    bool free = false;
    std::thread other([&] {
      if (!SN::BankListLock().try_lock()) return;
      free = true;
      SN::BankListLock().unlock();
    });
    other.join();
    auto* self = static_cast<LockProbe*>(cookie);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->calls.push_back({result, free});
  }
};

TEST_P(BankManagerTest, CallbacksRunWithNoLockOfTheManagerHeld) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  WriteBankFile(std::to_string(Id("Prepared")) + ".bnk", Build("event Play_Prepared\n", "Prepared"));
  LockProbe probe;
  ASSERT_EQ(Banks().LoadBank("Main.bnk", &LockProbe::Run, &probe, -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBank("Main.bnk", &LockProbe::Run, &probe, -1, nullptr), SN::SN_Success);
  Banks().UnloadBank(Id("Other"), nullptr, &LockProbe::Run, &probe);
  ASSERT_EQ(Banks().PrepareBank(Id("Prepared"), false, &LockProbe::Run, &probe), SN::SN_Success);
  Banks().UnloadBank(Id("Prepared"), nullptr, &LockProbe::Run, &probe);
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), nullptr, &LockProbe::Run, &probe), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_BankNotLoaded);  // all ran before it
  const std::vector<std::pair<SN::SNRESULT, bool>> expected{
      {SN::SN_Success, true},         {SN::SN_BankAlreadyLoaded, true}, {SN::SN_BankNotLoaded, true},
      {SN::SN_Success, true},         {SN::SN_Failure, true},           {SN::SN_Success, true}};
  EXPECT_EQ(probe.calls, expected);
  ASSERT_EQ(Banks().UnprepareBank(Id("Prepared"), nullptr, nullptr), SN::SN_Success);
}

// A bank names other banks by plain file names only: a path would steer a later open anywhere.
TEST_P(BankManagerTest, NamesFromBanksArePlainFileNames) {
  const std::vector<uint8_t> outside = Build("event Play_Outside\n", "../Outside");
  ASSERT_TRUE(Tools::WriteBytesFile(root_ + "/Sound/Outside.bnk", outside));
  WriteBankFile("Names.bnk", Seed("bank-name-with-path"));
  log_.Take();
  ASSERT_EQ(Banks().LoadBankWait("Names.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_NE(log_.Take().find("is not a plain file name"), std::string::npos);
  EXPECT_EQ(Banks().BankFileName(Id("../Outside")), nullptr);
  EXPECT_EQ(Banks().BankFileName(Id("..\\Outside")), nullptr);
  EXPECT_STREQ(Banks().BankFileName(Id("Plain")), "Plain.bnk");
  // Prepared by id, the bank is looked for in the banks' folder alone.
  SN::SnBankCommand prepare;
  prepare.type = SN::SnBankCommand_PrepareBank;
  prepare.bankId = Id("../Outside");
  EXPECT_EQ(Banks().QueueAndWait(prepare), SN::SN_FileNotFound);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Names"), nullptr), SN::SN_Success);
  EXPECT_FALSE(HasEvent("Play_Outside"));
}

// The motion flag of a bank's header is recorded whatever the load's result.
TEST_P(BankManagerTest, ABankOfAnotherVersionStillRecordsItsMotionFlag) {
  WriteBankFile("Old.bnk", Build("version 112\nmotion 1\nevent Play_Old\n", "Old"));
  EXPECT_EQ(Banks().LoadBankWait("Old.bnk", -1, nullptr), SN::SN_WrongBankVersion);
  EXPECT_EQ(Banks().MotionFlag(), 1);
  WriteBankFile("New.bnk", Build("motion 0\nevent Play_New\n", "New"));
  EXPECT_EQ(Banks().LoadBankWait("New.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().MotionFlag(), 0);
  EXPECT_EQ(Banks().UnloadBankWait(Id("New"), nullptr), SN::SN_Success);
}

// Version 0 is a version like any other: its header's flag is recorded too.
TEST_P(BankManagerTest, ABankOfVersionZeroRecordsItsMotionFlag) {
  WriteBankFile("Moving.bnk", Build("motion 1\nevent Play_Moving\n", "Moving"));
  EXPECT_EQ(Banks().LoadBankWait("Moving.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().MotionFlag(), 1);
  WriteBankFile("Zero.bnk", Build("version 0\nmotion 0\nevent Play_Zero\n", "Zero"));
  EXPECT_EQ(Banks().LoadBankWait("Zero.bnk", -1, nullptr), SN::SN_WrongBankVersion);
  EXPECT_EQ(Banks().MotionFlag(), 0);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Moving"), nullptr), SN::SN_Success);
}

// The synchronous unload gives the pool the bank's DATA lay in, once the bank ended: also when this
// thread took a media of it, which another thread gives back while it waits.
TEST_P(BankManagerTest, ASynchronousUnloadGivesItsPool) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  const SN::SnMemPoolId pool = SN::MemoryMgr::CreatePool(nullptr, 8192, 8192, SN::SnMemPool_AllocHook | SN::SnMemPool_FixedBlocks, 16);
  ASSERT_NE(pool, SN::kInvalidPoolId);
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", pool, nullptr), SN::SN_Success);
  int32_t unloadedFrom = -5;
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr, &unloadedFrom), SN::SN_Success);
  EXPECT_EQ(unloadedFrom, pool);
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr, &unloadedFrom), SN::SN_Success);
  EXPECT_EQ(unloadedFrom, -1);  // a pool of its own
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr, &unloadedFrom), SN::SN_BankNotLoaded);
  EXPECT_EQ(unloadedFrom, -1);
  {
    ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
    const SN::SnMediaRef held = Banks().GetMedia(Id("HitTone"));
    ASSERT_NE(held.bank, nullptr);
    OrvTest::WaitedThread giver([&] {
      OrvTest::WaitUntil([&] { return held.bank->UseCount() == 1; }, "the bank's end handled, the media its last use");
      Banks().ReleaseMedia(Id("HitTone"), held.bank);
    });
    EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);
    EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
    giver.Join("the thread giving back the media");
  }
  EXPECT_EQ(SN::MemoryMgr::DestroyPool(pool), SN::SN_Success);
}

TEST_P(BankManagerTest, APoolOfBlocksSmallerThanTheDataRefusesTheLoad) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  WriteBankFile("Main.bnk", bank);
  const SN::SnMemPoolId small = SN::MemoryMgr::CreatePool(nullptr, 256, 64, SN::SnMemPool_AllocHook | SN::SnMemPool_FixedBlocks, 16);
  ASSERT_NE(small, SN::kInvalidPoolId);
  EXPECT_EQ(Banks().LoadBankWait("Main.bnk", small, nullptr), SN::SN_InsufficientMemory);
  EXPECT_FALSE(HasEvent("Play_Hit"));
  // A pool of one block large enough takes the DATA.
  const SN::SnMemPoolId large = SN::MemoryMgr::CreatePool(nullptr, 8192, 8192, SN::SnMemPool_AllocHook | SN::SnMemPool_FixedBlocks, 16);
  ASSERT_NE(large, SN::kInvalidPoolId);
  EXPECT_EQ(Banks().LoadBankWait("Main.bnk", large, nullptr), SN::SN_Success);
  const SN::SnMediaRef media = Banks().GetMedia(Id("HitTone"));
  EXPECT_EQ(std::vector<uint8_t>(media.data, media.data + media.size), MediaOf(bank, "HitTone"));
  Banks().ReleaseMedia(Id("HitTone"), media.bank);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);
  EXPECT_EQ(SN::MemoryMgr::DestroyPool(small), SN::SN_Success);
  EXPECT_EQ(SN::MemoryMgr::DestroyPool(large), SN::SN_Success);
}

TEST_P(BankManagerTest, SetMediaWithANullItemLeavesNoTrace) {
  static const uint8_t bytes[4] = {1, 2, 3, 4};
  const SN::SnMediaItem items[2] = {{500, bytes, 4}, {501, nullptr, 4}};
  EXPECT_EQ(Banks().SetMedia(items, 2), SN::SN_Failure);
  EXPECT_EQ(Banks().MediaReferences(500), 0u);
  EXPECT_EQ(Banks().SetMedia(nullptr, 1), SN::SN_Failure);
  EXPECT_EQ(Banks().SetMedia(items, 1), SN::SN_Success);
  const SN::SnMediaRef media = Banks().GetMedia(500);
  EXPECT_EQ(media.data, bytes);
  EXPECT_EQ(media.size, 4u);
  Banks().ReleaseMedia(500, media.bank);
  EXPECT_EQ(Banks().UnsetMedia(items, 1), SN::SN_Success);
  EXPECT_EQ(Banks().GetMedia(500).data, nullptr);
}

TEST_P(BankManagerTest, AFailedSetMediaTakesBackOnlyTheCopiesItSet) {
  static const uint8_t bytes[4] = {1, 2, 3, 4};
  const SN::SnMediaItem items[2] = {{502, bytes, 4}, {503, nullptr, 4}};
  ASSERT_EQ(Banks().SetMedia(items, 1), SN::SN_Success);
  const SN::SnMediaRef held = Banks().GetMedia(502);
  // The same bytes set again in a call that fails: the copy set before, read meanwhile, stays.
  EXPECT_EQ(Banks().SetMedia(items, 2), SN::SN_Failure);
  EXPECT_EQ(Banks().MediaReferences(502), 2u);
  Banks().ReleaseMedia(502, held.bank);
  EXPECT_EQ(Banks().UnsetMedia(items, 1), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(502), 0u);
}

TEST_P(BankManagerTest, ClearBanksUnloadsEveryLoadedBank) {
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "event Play_A One\n", "A"));
  WriteBankFile("B.bnk", Build(Action("Two", 0x0403) + "event Play_B Two\n", "B"));
  EXPECT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().LoadBankWait("B.bnk", -1, nullptr), SN::SN_Success);
  CallbackLog log;
  EXPECT_EQ(Banks().ClearBanks(&CallbackLog::Record, &log), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("A"), nullptr), SN::SN_BankNotLoaded);
  EXPECT_EQ(log.Count(), 1u);
  EXPECT_EQ(Objects(SN::SnIndex_Events), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

TEST_P(BankManagerTest, TermWithBanksLoadedAndUnloadingLetsEverythingGo) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "tone ATone 48000 1 5 220\nevent Play_A One\n", "A"));
  const int32_t poolsBefore = SN::MemoryMgr::GetNumPools();
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(SN::MemoryMgr::GetNumPools(), poolsBefore + 2);  // a DATA pool of each bank's own
  const SN::SnMediaRef held = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(held.data, nullptr);
  CallbackLog log;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  SN::SoundEngine::Term();
  // Term answers the unload it accepted, its bank ended with the engine; the banks' pools and the
  // default pool are gone.
  ASSERT_EQ(log.Count(), 1u);
  EXPECT_EQ(log.calls[0].result, SN::SN_Success);
  EXPECT_EQ(SN::MemoryMgr::GetNumPools(), poolsBefore - 1);
  EXPECT_EQ(SN::g_pBankManager, nullptr);
}

uint32_t CheckedDefaultPoolUsed() {
  SN::MemoryMgr::PoolMemInfo info;
  EXPECT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(SN::g_DefaultPoolId, info), SN::SN_Success);
  return info.usedBytes;
}

TEST_P(BankManagerTest, ASourceDescriptorTakesItsMediaFromTheBankAndGivesItBack) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  WriteBankFile("Main.bnk", bank);
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  const std::vector<uint8_t> expected = MediaOf(bank, "HitTone");
  SN::CSnSourceDesc source;
  source.SetMediaSource(0x10000, Id("HitTone"), 0xFFFFFFFFu, uint32_t(expected.size()), 0x0C);
  EXPECT_EQ(source.flags, 0x8Cu);  // in memory, provided by a bank
  EXPECT_EQ(source.StorageType(), SN::CSnSourceDesc::Storage_InMemory);
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  SN::CSnBankRecord* holder = nullptr;
  ASSERT_TRUE(source.GetMedia(bytes, size, holder));
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + size), expected);
  EXPECT_EQ(holder, Banks().FindBank(Id("Main")));
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 2u);  // the bank's source and the descriptor's
  // The bank waits for the descriptor's media before it calls back.
  CallbackLog log;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  EXPECT_EQ(log.Count(), 0u);
  const uint8_t* again = nullptr;
  SN::CSnBankRecord* none = nullptr;
  EXPECT_FALSE(source.GetMedia(again, size, none));
  EXPECT_EQ(again, nullptr);
  source.ReleaseMedia(holder);
  EXPECT_EQ(log.Count(), 1u);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
  source.Clear();
}

TEST_P(BankManagerTest, ASourceDescriptorFreesOnlyTheBlockItOwns) {
  const uint32_t before = CheckedDefaultPoolUsed();
  // Bytes the caller keeps, in the storage bits of a streamed file (flags & 0x7C == 4): not the
  // descriptor's to free, and handed out without a reference of the media table.
  auto* callers = static_cast<uint8_t*>(SN::MemoryMgr::Malign(SN::g_DefaultPoolId, 64, 16));
  ASSERT_NE(callers, nullptr);
  memset(callers, 0x5A, 64);
  SN::CSnSourceDesc source;
  source.SetMediaSource(0x20000, 900, 900, 64, 0x04, callers);
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  SN::CSnBankRecord* holder = nullptr;
  ASSERT_TRUE(source.GetMedia(bytes, size, holder));
  EXPECT_EQ(bytes, callers);
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(Banks().MediaReferences(900), 0u);
  EXPECT_EQ(source.PrepareMedia(), SN::SN_Success);  // nothing to load for bytes it carries
  EXPECT_EQ(Banks().MediaReferences(900), 0u);
  const uint32_t withCallers = CheckedDefaultPoolUsed();
  source.Clear();
  EXPECT_EQ(CheckedDefaultPoolUsed(), withCallers);
  EXPECT_EQ(callers[63], 0x5A);
  EXPECT_EQ(source.data, nullptr);
  EXPECT_EQ(source.fileId, 0xFFFFFFFFu);
  EXPECT_EQ(source.codecId, 0xFFFFFFFFu);
  EXPECT_EQ(source.flags, 0u);
  SN::MemoryMgr::Free(SN::g_DefaultPoolId, callers);
  EXPECT_EQ(CheckedDefaultPoolUsed(), before);

  // An external source owns a copy of its name; a clone owns one of its own.
  char16_t name[] = u"Voice.snm";
  EXPECT_EQ(source.SetExternalSource(0x30000, name, 7, 8, true, false), SN::SN_Success);
  EXPECT_EQ(source.flags, 0x584u);  // external by name, provided, streamed, no file of its own
  EXPECT_TRUE(source.owned);
  ASSERT_NE(source.data, nullptr);
  EXPECT_NE(source.data, reinterpret_cast<const uint8_t*>(name));
  name[0] = u'X';
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(source.data)), u"Voice.snm");
  SN::CSnSourceDesc* clone = source.Clone();
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone->data, source.data);
  EXPECT_EQ(clone->sourceId, 7u);
  EXPECT_EQ(clone->fileId, 8u);
  source.Clear();
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(clone->data)), u"Voice.snm");
  SN::CSnSourceDesc::Destroy(clone);
  EXPECT_EQ(CheckedDefaultPoolUsed(), before);
  EXPECT_EQ(source.SetExternalSource(0x30000, nullptr, 7, 8, false, false), SN::SN_InvalidParameter);
  EXPECT_FALSE(source.owned);
}

// An outside loader (as the music engine's) that makes two objects of each object it is given,
// though the bank made room for one.
class LoaderNode final : public SN::CSnIndexedObject {
 public:
  explicit LoaderNode(uint32_t id) : CSnIndexedObject(id, SN::SnIndex_Nodes) {}
};
SN::SNRESULT TwoObjectsEach(const SN::SnHircObjectHeader& header, SN::CSnLoadedBank* bank, uint32_t) {
  SN::CSnSoundBankReader* reader = bank->LoadingReader();
  const uint8_t* payload = reader->GetData(header.size);
  if (!payload) return SN::SN_Failure;
  uint32_t id = 0;
  memcpy(&id, payload, sizeof id);
  reader->ReleaseData();
  for (uint32_t i = 0; i < 2; ++i) {
    auto* node = SN::PoolNew<LoaderNode>(SN::g_DefaultPoolId, id + i);
    if (!node) return SN::SN_InsufficientMemory;
    SN::g_pObjectIndex->List(SN::SnIndex_Nodes).Insert(node);
    bank->AddObject(node);
  }
  return SN::SN_Success;
}

TEST_P(BankManagerTest, AnObjectFindingTheObjectListFullIsLetGo) {
  SN::SoundEngine::SetExtraHircObjectLoader(&TwoObjectsEach);
  WriteBankFile("Music.bnk", Build("object 11 @600 00\n", "Music"));
  ASSERT_EQ(Banks().LoadBankWait("Music.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Objects(SN::SnIndex_Nodes), 1u);  // the one the bank had room for
  EXPECT_EQ(Banks().UnloadBankWait(Id("Music"), nullptr), SN::SN_Success);
  EXPECT_EQ(Objects(SN::SnIndex_Nodes), 0u);
}

TEST_P(BankManagerTest, LoadsAndUnloadsRunWhileAnotherThreadTakesTheirMedia) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  WriteBankFile("Main.bnk", bank);
  const std::vector<uint8_t> expected = MediaOf(bank, "HitTone");
  std::atomic<bool> done{false};
  std::atomic<uint32_t> wrong{0};
  std::thread voice([&] {
    while (!done.load()) {
      const SN::SnMediaRef media = Banks().GetMedia(Id("HitTone"));
      if (media.data && std::vector<uint8_t>(media.data, media.data + media.size) != expected) ++wrong;
      if (media.data) Banks().ReleaseMedia(Id("HitTone"), media.bank);
      std::this_thread::yield();
    }
  });
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
    ASSERT_EQ(Banks().UnloadBankWait(Id("Main"), nullptr), SN::SN_Success);
  }
  done = true;
  voice.join();
  EXPECT_EQ(wrong.load(), 0u);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

// The race of a load with voices, made frequent: images load in place (no file to read), and two
// threads take and give back a media as fast as they can, so that one of them often takes it in
// the moment between the media appearing and the load's own hold on its bank.
TEST_P(BankManagerTest, ABankIsHeldBeforeAnotherThreadCanTakeItsMedia) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  std::atomic<bool> done{false};
  std::atomic<uint32_t> taken{0};
  auto voice = [&] {
    while (!done.load(std::memory_order_relaxed)) {
      const SN::SnMediaRef media = Banks().GetMedia(Id("HitTone"));
      if (!media.data) continue;
      taken.fetch_add(1, std::memory_order_relaxed);
      Banks().ReleaseMedia(Id("HitTone"), media.bank);
    }
  };
  std::thread first(voice), second(voice);
  // At least until a voice took the media once.
  bool failed = false;
  for (int round = 0; !failed && (round < 400 || taken.load() == 0); ++round)
    failed = Banks().LoadBankImageWait(image, uint32_t(bank.size()), false, -1, nullptr) != SN::SN_Success ||
             Banks().UnloadBankWait(Id("Main"), image) != SN::SN_Success;
  done = true;
  first.join();
  second.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);
}

// Without the audio thread the caller of a waited unload renders until its bank's end was handled.
// Here another renderer's frame end stands ahead of the unload's message, reserved and not yet counted
// (its RenderAudio waits for the writers before it): the unload's own pass stops there.
TEST_P(BankManagerTest, AWaitedUnloadAnswersOnceItsBanksEndWasHandled) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  ASSERT_EQ(Banks().LoadBankImageWait(image, uint32_t(bank.size()), false, -1, nullptr), SN::SN_Success);
  ASSERT_NE(SN::g_pAudioMgr->ReserveMessage(SN::SnMsg_EndOfFrame, 8), nullptr);
  SN::g_pAudioMgr->FinishMessage();
  std::atomic<bool> answered{false};
  SN::SNRESULT unloaded = SN::SN_Failure;
  uint32_t referencesAtAnswer = 99;
  std::thread game([&] {
    unloaded = Banks().UnloadBankWait(Id("Main"), image);
    referencesAtAnswer = Banks().MediaReferences(Id("HitTone"));
    answered = true;
  });
  // Should it wait for a pass nobody else renders, a frame lets it go before the failure is told.
  if (!OrvTest::WaitUntil([&] { return answered.load(); }, "the waited unload to render the pass that ends its bank"))
    SN::SoundEngine::RenderAudio();
  game.join();
  EXPECT_EQ(unloaded, SN::SN_Success);
  EXPECT_EQ(referencesAtAnswer, 0u) << "the unload answered while the bank's sources still read the image";
}

// The game changes an image it lent while its bank is loaded: the bank's index names none of its media
// any more, and still none of its media-table sources outlives the record.
TEST_P(BankManagerTest, ABanksSourcesGoWithItEvenWhenTheGameChangedItsImage) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  ASSERT_EQ(Banks().LoadBankImageWait(image, uint32_t(bank.size()), false, -1, nullptr), SN::SN_Success);
  memset(image, 0, bank.size());
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), image), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u) << "a source of the bank stayed in the media table";
}

// An image unloaded with a callback while a media of it is held, then loaded again: the waited
// unload of the second record answers only once the first has let the image go too.
TEST_P(BankManagerTest, AWaitedUnloadOfAnImageLoadedAgainWaitsForTheEarlierRecord) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  const uint32_t size = uint32_t(bank.size());
  ASSERT_EQ(Banks().LoadBankImageWait(image, size, false, -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef first = Banks().GetMedia(Id("HitTone"));
  CallbackLog log;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), image, &CallbackLog::Record, &log), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBankImageWait(image, size, false, -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef second = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(first.bank, nullptr);
  ASSERT_NE(second.bank, first.bank);
  std::atomic<uint64_t> waiter{0};
  std::atomic<bool> answered{false};
  std::thread game([&] {
    waiter = Platform::CurrentThreadId();
    EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), image), SN::SN_Success);
    answered = true;
  });
  // The second record's end handled, this thread's media its last reader: it ends as that goes.
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return second.bank->UseCount() == 1; }, "the second record's end"));
  Banks().ReleaseMedia(Id("HitTone"), second.bank);
  OrvTest::WaitUntil([&] { return answered.load() || (waiter.load() && ThreadSleeps(waiter.load())); },
                     "the waited unload to answer or sleep");
  EXPECT_FALSE(answered.load()) << "the unload answered while the first record still read the image";
  Banks().ReleaseMedia(Id("HitTone"), first.bank);
  game.join();
  EXPECT_EQ(log.Count(), 1u);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
}

// An unload that joins a bank another call is ending takes the memory of its answer at the call: with
// none it is refused there, and the game keeps its image; accepted, it answers 1 once the bank is free.
TEST_P(BankManagerTest, AnUnloadJoiningAnEndingBankWithoutMemoryIsRefusedAtTheCall) {
  const std::vector<uint8_t> bank = Build(kMainBank, "Main");
  alignas(16) static uint8_t image[4096];
  ASSERT_LE(bank.size(), sizeof image);
  memcpy(image, bank.data(), bank.size());
  ASSERT_EQ(Banks().LoadBankImageWait(image, uint32_t(bank.size()), false, -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef held = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(held.bank, nullptr);
  CallbackLog first, joined;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), image, &CallbackLog::Record, &first), SN::SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return held.bank->UseCount() == 1; }, "the bank's end handled"));
  std::vector<void*> filler;
  for (uint32_t size = 4096; size >= 8; size /= 2)
    while (void* block = SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, size)) filler.push_back(block);
  const SN::SNRESULT accepted = Banks().UnloadBank(Id("Main"), image, &CallbackLog::Record, &joined);
  for (void* block : filler) SN::MemoryMgr::Free(SN::g_DefaultPoolId, block);
  EXPECT_EQ(accepted, SN::SN_InsufficientMemory);
  EXPECT_EQ(joined.Count(), 0u) << "a refused unload answered through its callback while its bank still read the image";
  Banks().ReleaseMedia(Id("HitTone"), held.bank);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return first.Count() == 1; }, "the first unload's answer"));
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
}

// A bank image the game lends in place and frees the moment an unload answers about it: from the
// default pool, so that a read of it after the answer is reported as one of freed memory.
class LentImage {
 public:
  explicit LentImage(const std::vector<uint8_t>& bank) : size_(uint32_t(bank.size())) {
    bytes_ = static_cast<uint8_t*>(SN::MemoryMgr::Malign(SN::g_DefaultPoolId, size_, 16));
    if (bytes_) memcpy(bytes_, bank.data(), size_);
  }
  ~LentImage() { Free(); }
  LentImage(const LentImage&) = delete;
  LentImage& operator=(const LentImage&) = delete;
  const uint8_t* bytes() const { return bytes_; }
  uint32_t size() const { return size_; }
  void Free() {
    if (bytes_) SN::MemoryMgr::Falign(SN::g_DefaultPoolId, bytes_);
    bytes_ = nullptr;
  }
  // Loaded in place, and one of its media taken by this thread (none when either fails).
  SN::SnMediaRef LoadHoldingMedia(SN::CSnSoundBankManager& banks) const {
    if (!bytes_ || banks.LoadBankImageWait(bytes_, size_, false, -1, nullptr) != SN::SN_Success) return {};
    return banks.GetMedia(Id("HitTone"));
  }

 private:
  uint8_t* bytes_ = nullptr;
  uint32_t size_;
};

// Whether a waiting call answers within a tenth of a second: one that should wait is given the time
// to answer wrongly before what holds it up goes.
bool AnsweredWithin(const std::atomic<bool>& answered) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  while (!answered.load() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return answered.load();
}

// Every use of a bank is waited for, whoever took it and whichever thread gives it back. A media this
// thread took and another thread gave back leaves nothing counted to this thread; the media that
// other thread then holds keeps the waited unload from answering, and the game frees the image only
// after the bank's end has read the last of it.
TEST_P(BankManagerTest, AWaitedUnloadWaitsForTheMediaAnotherThreadHolds) {
  LentImage image(Build(kMainBank, "Main"));
  const SN::SnMediaRef mine = image.LoadHoldingMedia(Banks());
  ASSERT_NE(mine.bank, nullptr);
  std::atomic<bool> taken{false}, answered{false}, answeredWhileHeld{false};
  OrvTest::WaitedThread reader([&] {
    Banks().ReleaseMedia(Id("HitTone"), mine.bank);
    const SN::SnMediaRef held = Banks().GetMedia(Id("HitTone"));
    taken = held.bank != nullptr;
    if (!taken) return;
    OrvTest::WaitUntil([&] { return answered.load() || held.bank->UseCount() == 1; },
                       "the bank's end handled, the media its last use");
    answeredWhileHeld = AnsweredWithin(answered);
    Banks().ReleaseMedia(Id("HitTone"), held.bank);
  });
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return taken.load(); }, "the other thread's media"));
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), image.bytes()), SN::SN_Success);
  answered = true;
  image.Free();
  reader.Join("the thread holding the media");
  EXPECT_FALSE(answeredWhileHeld.load()) << "the unload answered while another thread's media held the bank";
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
}

// An image unloaded while a media of it is held, then loaded again: the waited unload of the image
// answers only once the earlier record's last media has come back, though this thread took it and
// another gives it back, and that record's end reads nothing of the image the game frees then.
TEST_P(BankManagerTest, AWaitedUnloadOfAnImageLoadedAgainWaitsForTheEarlierRecordsLastMedia) {
  LentImage image(Build(kMainBank, "Main"));
  const SN::SnMediaRef first = image.LoadHoldingMedia(Banks());
  ASSERT_NE(first.bank, nullptr);
  CallbackLog log;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), image.bytes(), &CallbackLog::Record, &log), SN::SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return first.bank->UseCount() == 1; }, "the first record's end handled"));
  ASSERT_EQ(Banks().LoadBankImageWait(image.bytes(), image.size(), false, -1, nullptr), SN::SN_Success);
  std::atomic<bool> unloading{false}, answered{false}, answeredWhileHeld{false};
  OrvTest::WaitedThread giver([&] {
    // The second record taken out: the waited unload has begun.
    OrvTest::WaitUntil(
        [&] { return answered.load() || (unloading.load() && !Banks().FindBank(Id("Main"), image.bytes())); },
        "the waited unload to begin");
    answeredWhileHeld = AnsweredWithin(answered);
    Banks().ReleaseMedia(Id("HitTone"), first.bank);
  });
  unloading = true;
  EXPECT_EQ(Banks().UnloadBankWait(Id("Main"), image.bytes()), SN::SN_Success);
  answered = true;
  image.Free();
  giver.Join("the thread giving back the first record's media");
  EXPECT_FALSE(answeredWhileHeld.load()) << "the unload answered while the first record still read the image";
  EXPECT_EQ(log.Count(), 1u);
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")), 0u);
}

// Two unloads with callbacks, each bank's last media given back by a game thread of its own, and each
// callback cancelling the other's cookie once both have begun (or a moment has passed). A bank's end
// comes from a pass, where a cancel does not wait: one callback runs, the other is cancelled before it
// began, and neither thread waits for the other.
struct CrossCancel {
  std::atomic<int>* begun;
  CrossCancel* other;
  std::atomic<int> calls{0};
  static void Unloaded(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<CrossCancel*>(cookie);
    self->begun->fetch_add(1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (self->begun->load() < 2 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SN::SoundEngine::CancelBankCallbackCookie(self->other);
    self->calls.fetch_add(1);
  }
};

TEST_P(BankManagerTest, TwoBankCallbacksCancellingEachOthersCookiesNeverWaitForEachOther) {
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "tone ATone 48000 1 5 220\nevent Play_A One\n", "A"));
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef hit = Banks().GetMedia(Id("HitTone"));
  const SN::SnMediaRef tone = Banks().GetMedia(Id("ATone"));
  ASSERT_TRUE(hit.bank && tone.bank);
  std::atomic<int> begun{0};
  CrossCancel hitUnload{&begun, nullptr}, toneUnload{&begun, &hitUnload};
  hitUnload.other = &toneUnload;
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), nullptr, &CrossCancel::Unloaded, &hitUnload), SN::SN_Success);
  ASSERT_EQ(Banks().UnloadBank(Id("A"), nullptr, &CrossCancel::Unloaded, &toneUnload), SN::SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return hit.bank->UseCount() == 1 && tone.bank->UseCount() == 1; },
                                 "both banks' ends handled"));
  OrvTest::WaitedThread first([&] { Banks().ReleaseMedia(Id("HitTone"), hit.bank); });
  OrvTest::WaitedThread second([&] { Banks().ReleaseMedia(Id("ATone"), tone.bank); });
  first.Join("the first game thread, whose bank's callback cancels the other's cookie");
  second.Join("the second game thread, whose bank's callback cancels the other's cookie");
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);
  EXPECT_EQ(hitUnload.calls.load() + toneUnload.calls.load(), 1) << "a callback came after its cookie was cancelled";
  EXPECT_EQ(Banks().MediaReferences(Id("HitTone")) + Banks().MediaReferences(Id("ATone")), 0u);
}

INSTANTIATE_TEST_SUITE_P(BankThread, BankManagerTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Threaded" : "Caller"; });

}  // namespace

namespace {

// Whether thread `tid` of this process sleeps in the kernel (blocked on a lock or a condition).
// Without /proc it counts as asleep, so that no caller waits for ever on it.
bool ThreadSleeps(uint64_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t name = line.rfind(')');
  return name == std::string::npos || name + 2 >= line.size() || line[name + 2] == 'S';
}

class BankThreadTest : public BankTest::BankFixture {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.useBankThread = 1; }
  SN::CSnThreadedSoundBankManager& Banks() { return *static_cast<SN::CSnThreadedSoundBankManager*>(SN::g_pBankManager); }
  void SetUp() override {
    BankFixture::SetUp();
    previousAction_ = SN::SetHircKind(3, &kActionKind);
  }
  void TearDown() override {
    SN::SetHircKind(3, previousAction_);
    BankFixture::TearDown();
  }
  bool HasEventNamed(const char* name) {
    SN::CSnIndexedObject* event = SN::g_pObjectIndex->List(SN::SnIndex_Events).FindAndAddRef(Id(name));
    if (event) event->Release();
    return event != nullptr;
  }
  const SN::SnHircKind* previousAction_ = nullptr;
};

TEST_F(BankThreadTest, ElevenCommandsQueuedBeforeTheThreadRunsRunInOrder) {
  Banks().HoldThread();
  CallbackLog log;
  for (uint32_t i = 0; i < 11; ++i) ASSERT_EQ(Banks().UnloadBank(100 + i, nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  EXPECT_EQ(Banks().QueuedCount(), 11u);  // ten nodes of the block and one from the pool
  Banks().ReleaseThread();
  EXPECT_EQ(Banks().UnloadBankWait(1, nullptr), SN::SN_BankNotLoaded);
  ASSERT_EQ(log.Count(), 11u);
  for (uint32_t i = 0; i < 11; ++i) EXPECT_EQ(log.calls[i].id, 100 + i);
}

TEST_F(BankThreadTest, AWaitingLoadReturnsTheLoadsOwnResult) {
  WriteBankFile("Old.bnk", Build("version 112\nevent Play_Old\n", "Old"));
  EXPECT_EQ(Banks().LoadBankWait("Old.bnk", -1, nullptr), SN::SN_WrongBankVersion);
}

// Every call accepted is answered once: at the stop, a queued load's and a queued unload's callbacks
// with SN_Failure, as a waiting caller is.
TEST_F(BankThreadTest, StoppingWithCommandsQueuedAnswersEachCallWithFailure) {
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "event Play_A One\n", "A"));
  Banks().HoldThread();
  CallbackLog log;
  ASSERT_EQ(Banks().LoadBank("A.bnk", &CallbackLog::Record, &log, -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().UnloadBank(Id("A"), nullptr, &CallbackLog::Record, &log), SN::SN_Success);
  std::atomic<int> waited{0};
  std::thread waiter([&] { waited = int(Banks().LoadBankWait(Id("A"), -1)); });
  OrvTest::WaitUntil([&] { return Banks().QueuedCount() >= 3; }, "three commands queued");
  Banks().StopThread();
  waiter.join();
  EXPECT_EQ(waited.load(), int(SN::SN_Failure));
  ASSERT_EQ(log.Count(), 2u);
  for (const CallbackLog::Call& call : log.calls) {
    EXPECT_EQ(call.id, Id("A"));
    EXPECT_EQ(call.result, SN::SN_Failure);
  }
  EXPECT_FALSE(HasEventNamed("Play_A"));
  // Each cookie's entry went with its answer: a cancel returns at once.
  Banks().CancelCookie(&log);
  // Nothing runs any more: a command is refused.
  EXPECT_EQ(Banks().LoadBank(Id("A"), &CallbackLog::Record, &log, -1), SN::SN_Failure);
}

struct BlockingCallback {
  Platform::Event entered{Platform::Event::Reset::Manual};
  Platform::Event release{Platform::Event::Reset::Manual};
  std::atomic<bool> finished{false};
  static void Run(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<BlockingCallback*>(cookie);
    self->entered.Set();
    OrvTest::WaitUntilSet(self->release, "self.release to be set");
    self->finished = true;
  }
};

TEST_F(BankThreadTest, ACancelWaitsForARunningCallback) {
  BlockingCallback callback;
  ASSERT_EQ(Banks().UnloadBank(5, nullptr, &BlockingCallback::Run, &callback), SN::SN_Success);
  OrvTest::WaitUntilSet(callback.entered, "callback.entered to be set");
  std::atomic<uint64_t> canceller{0};
  std::atomic<bool> returned{false};
  std::thread game([&] {
    canceller = Platform::CurrentThreadId();
    Banks().CancelCookie(&callback);
    returned = true;
  });
  OrvTest::WaitUntil([&] { return canceller.load() != 0; }, "the cancelling thread to start");
  OrvTest::WaitUntil([&] { return returned.load() || ThreadSleeps(canceller.load()); },
                     "the cancel to return or sleep");
  EXPECT_FALSE(returned.load()) << "the cancel returned while the callback still ran";
  callback.release.Set();
  game.join();
  EXPECT_TRUE(callback.finished.load());
}

// A writer of the audio manager's ring that reserved a message must finish it before the next: with
// the ring full, its second reservation would wait for its own first one.
TEST_F(BankThreadTest, ASecondOpenReservationOnOneThreadStopsADebugBuild) {
#ifdef NDEBUG
  GTEST_SKIP() << "the check is a debug build's";
#else
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        SN::g_pAudioMgr->ReserveMessage(SN::SnMsg_StopBankVoices, sizeof(SN::SnMsgStopBankVoices));
        SN::g_pAudioMgr->ReserveMessage(SN::SnMsg_StopBankVoices, sizeof(SN::SnMsgStopBankVoices));
      },
      "t_openReservations");
  GTEST_FLAG_SET(death_test_style, style);
  // One at a time is the rule, and holds.
  SN::SnMsgHeader* message = SN::g_pAudioMgr->ReserveMessage(SN::SnMsg_EndOfFrame, 8);
  ASSERT_NE(message, nullptr);
  SN::g_pAudioMgr->FinishMessage();
#endif
}

// A callback that makes a waiting call (and, if asked, calls Term) and notes whether it ran on the
// thread it was meant for.
struct InsideCallback {
  explicit InsideCallback(bool (*onThread)(), bool callsTerm = false) : onThread(onThread), callsTerm(callsTerm) {}
  static void Run(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<InsideCallback*>(cookie);
    self->onExpectedThread = self->onThread();
    self->waited = int(SN::g_pBankManager->LoadBankWait(Id("A"), -1));
    if (self->callsTerm) SN::SoundEngine::Term();
    self->done.Set();
  }
  bool (*onThread)();
  bool callsTerm;
  Platform::Event done{Platform::Event::Reset::Manual};
  std::atomic<int> waited{0};
  std::atomic<bool> onExpectedThread{false};
};

// Inside a bank callback, on the bank thread: a waiting call would wait for the thread it runs on,
// and Term would stop and free that thread's own manager. Both are refused; the engine goes on.
TEST_F(BankThreadTest, AWaitingCallAndTermInsideABankCallbackAreRefused) {
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "event Play_A One\n", "A"));
  InsideCallback callback([] { return static_cast<SN::CSnThreadedSoundBankManager*>(SN::g_pBankManager)->IsBankThread(); },
                          true);
  log_.Take();
  ASSERT_EQ(Banks().UnloadBank(Id("A"), nullptr, &InsideCallback::Run, &callback), SN::SN_Success);
  OrvTest::WaitUntilSet(callback.done, "callback.done to be set");
  EXPECT_TRUE(callback.onExpectedThread.load());
  EXPECT_EQ(callback.waited.load(), int(SN::SN_Failure));
  const std::string log = log_.Take();
  EXPECT_NE(log.find("would wait for itself"), std::string::npos);
  EXPECT_NE(log.find("Term: called on the bank thread; the engine keeps running"), std::string::npos);
  // Still running: the bank thread takes the next command.
  ASSERT_NE(SN::g_pBankManager, nullptr);
  EXPECT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_TRUE(HasEventNamed("Play_A"));
}

// Without an audio thread the game renders: an unload's end can then come inside the game thread's
// audio pass, under the audio lock that a load on the bank thread takes. A waiting call there is
// refused instead of waiting for the bank thread that waits for it.
struct PassRelease {
  static PassRelease*& Current() {
    static PassRelease* current = nullptr;
    return current;
  }
  static void Extension(bool lastCall) {
    PassRelease* self = Current();
    // Only in the game thread's pass: the bank thread renders too, after each unload it runs.
    if (lastCall || !self || Platform::CurrentThreadId() != self->game || !self->held.bank) return;
    SN::g_pBankManager->ReleaseMedia(Id("HitTone"), self->held.bank);
    self->held = SN::SnMediaRef{};
  }
  static void Unloaded(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<PassRelease*>(cookie);
    self->inPass = SN::CSnAudioMgr::InAudioPassOnThisThread();
    self->waited = int(SN::g_pBankManager->LoadBankWait(Id("A"), -1));
    self->called = true;
  }
  SN::SnMediaRef held;
  uint64_t game = Platform::CurrentThreadId();
  std::atomic<bool> called{false};
  bool inPass = false;
  int waited = 0;
};

TEST_F(BankThreadTest, AWaitingCallInsideAnAudioPassOfTheGameThreadIsRefused) {
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "event Play_A One\n", "A"));
  WriteBankFile("Main.bnk", Build(kMainBank, "Main"));
  ASSERT_EQ(Banks().LoadBankWait("Main.bnk", -1, nullptr), SN::SN_Success);
  PassRelease release;
  release.held = Banks().GetMedia(Id("HitTone"));
  ASSERT_NE(release.held.bank, nullptr);
  PassRelease::Current() = &release;
  ASSERT_EQ(SN::SoundEngine::AddBehavioralExtension(&PassRelease::Extension), SN::SN_Success);
  ASSERT_EQ(Banks().UnloadBank(Id("Main"), nullptr, &PassRelease::Unloaded, &release), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded);  // the unload ran
  EXPECT_FALSE(release.called.load());  // this thread still holds the media
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_TRUE(release.called.load());
  EXPECT_TRUE(release.inPass);
  EXPECT_EQ(release.waited, int(SN::SN_Failure));
  EXPECT_EQ(SN::SoundEngine::RemoveBehavioralExtension(&PassRelease::Extension), SN::SN_Success);
  PassRelease::Current() = nullptr;
  EXPECT_FALSE(HasEventNamed("Play_A"));
}

// With the real audio thread, which finishes unloads and so runs their callbacks.
class AudioThreadBankTest : public BankThreadTest {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override {
    settings.useBankThread = 1;
    settings.useAudioThread = 1;
  }
};

TEST_F(AudioThreadBankTest, AWaitingCallInsideAnUnloadCallbackOnTheAudioThreadIsRefused) {
  WriteBankFile("A.bnk", Build(Action("One", 0x0403) + "event Play_A One\n", "A"));
  ASSERT_EQ(Banks().LoadBankWait("A.bnk", -1, nullptr), SN::SN_Success);
  InsideCallback callback([] { return Platform::CurrentThreadId() == SN::AudioThread::ThreadId(); });
  ASSERT_EQ(Banks().UnloadBank(Id("A"), nullptr, &InsideCallback::Run, &callback), SN::SN_Success);
  OrvTest::WaitUntilSet(callback.done, "callback.done to be set");
  EXPECT_TRUE(callback.onExpectedThread.load());
  EXPECT_EQ(callback.waited.load(), int(SN::SN_Failure));
}

// The callbacks to come alone, on the test's thread.
class PendingBankCallbacksTest : public BankTest::BankFixture {};

void CancelInside(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie);
struct InsideCancel {
  SN::CSnPendingBankCallbacks* set;
  int calls = 0;
};
void CancelInside(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
  auto* self = static_cast<InsideCancel*>(cookie);
  ++self->calls;
  self->set->CancelAndWait(cookie, true);  // it may wait, yet not for its own callback
}

TEST_F(PendingBankCallbacksTest, CancelledCallsAreNotCalledBackAndACallAfterTheCancelIs) {
  SN::CSnPendingBankCallbacks set;
  InsideCancel inside{&set};
  uint64_t first = 0, second = 0, later = 0;
  ASSERT_EQ(set.AddPending(&inside, first), SN::SN_Success);
  ASSERT_EQ(set.AddPending(&inside, second), SN::SN_Success);
  set.DoCallback(first, &CancelInside, 1, nullptr, SN::SN_Success, -1, &inside);
  EXPECT_EQ(inside.calls, 1);
  // The second was cancelled from inside the first.
  set.DoCallback(second, &CancelInside, 1, nullptr, SN::SN_Success, -1, &inside);
  EXPECT_EQ(inside.calls, 1);
  EXPECT_EQ(set.PendingCount(&inside), 0u);
  // A call made with the cookie after its cancel calls back; once only.
  ASSERT_EQ(set.AddPending(&inside, later), SN::SN_Success);
  set.DoCallback(later, &CancelInside, 1, nullptr, SN::SN_Success, -1, &inside);
  set.DoCallback(later, &CancelInside, 1, nullptr, SN::SN_Success, -1, &inside);
  EXPECT_EQ(inside.calls, 2);
  EXPECT_EQ(set.PendingCount(&inside), 0u);
}

}  // namespace
