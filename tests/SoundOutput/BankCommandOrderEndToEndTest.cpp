// Without the bank thread, bank calls run in the order they were made, whoever runs them: a call kept
// in a play's callback comes before a game thread's call made after it, whose answer is the state
// after it; and a game thread's waited call runs the commands ahead of its own, then its own, none
// kept after it, and returns while callbacks go on making calls.
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

// The frame closed, then one frame of the clock let go: the audio thread renders its posts in one pass.
void LetFrameGo() {
  SoundEngine::RenderAudio();
  OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
}

// A play posted twice: the first voice's callback makes a bank call and returns; the second, in the
// same pass, holds the pass until `release` holds.
struct HeldPass {
  std::function<void()> call;
  std::function<bool()> release;
  std::atomic<int> calls{0};
  std::atomic<bool> wentOn{false};  // the second callback returned: the pass reads nothing of the test's
  static void Callback(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<HeldPass*>(info->cookie);
    const int call = self->calls.fetch_add(1);
    if (call == 0) self->call();
    if (call == 1) {
      OrvTest::WaitUntil(self->release, "the game thread's call to be made");
      self->wentOn = true;
    }
  }
};

// Bank calls from callbacks that never stop: each kept unload's callback makes the next kept unload,
// called at a pass's end whichever thread ran the unload (a link a pass), until the chain is stopped.
struct Chain {
  std::atomic<std::thread::id> game{};
  std::atomic<bool> on{true};
  std::atomic<bool> started{false};
  std::atomic<int> made{0};
  static void Make(Chain& chain) {
    SoundEngine::UnloadBank(12345u, nullptr, &Chain::Kept, &chain);
    chain.made.fetch_add(1);
  }
  static void Kept(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& chain = *static_cast<Chain*>(cookie);
    EXPECT_NE(std::this_thread::get_id(), chain.game.load()) << "the game thread called a kept call's callback";
    chain.started = true;
    if (chain.on) Make(chain);
  }
};

// A play's callback that holds its pass until a game thread's load waits for the audio lock, then
// keeps a load of the bank file `kKeptFile`, queued after that load: which thread its callback comes
// on (the file hook tells which thread ran it).
struct KeptBehind {
  static constexpr const char* kKeptFile = "KeptBehind.bnk";
  std::atomic<bool> holding{false};
  std::atomic<bool> made{false};
  std::atomic<int> answers{0}, result{-1};
  std::atomic<std::thread::id> answeredOn{};
  static void Played(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<KeptBehind*>(info->cookie);
    if (self->holding.exchange(true)) return;
    EXPECT_TRUE(
        OrvTest::WaitUntil([] { return SnAudioLockTurn::Wanted(); }, "the game thread's load to wait for the pass"));
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(kKeptFile, &Answered, self, -1, id), SN_Success);
    self->made = true;
  }
  static void Answered(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto* self = static_cast<KeptBehind*>(cookie);
    self->answeredOn = std::this_thread::get_id();
    self->result = int(result);
    self->answers.fetch_add(1);
  }
};

// An unload whose callback keeps a load of the same image, whose callback unloads it again and waits,
// all on one game thread that holds the audio lock until then: no pass runs but that thread's own.
struct UnloadThenLoad {
  const std::vector<uint8_t>* image = nullptr;
  uint32_t id = 0;
  bool locked = false;  // the game thread's own hold of the audio lock
  std::atomic<bool> ended{false};
  std::atomic<int> loaded{-1};
  std::atomic<int> unloaded{-1};
  void Unlock() {
    if (std::exchange(locked, false)) GlobalAudioLock().unlock();
  }
  static void Ended(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& self = *static_cast<UnloadThenLoad*>(cookie);
    uint32_t made = 0;
    EXPECT_TRUE(CSnAudioMgr::InAudioPassOnThisThread()) << "the unload ended outside the drain";
    EXPECT_EQ(SoundEngine::LoadBank(self.image->data(), uint32_t(self.image->size()), &Loaded, &self, made),
              SN_Success);
    self.ended = true;
  }
  static void Loaded(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto& self = *static_cast<UnloadThenLoad*>(cookie);
    self.loaded = int(result);
    self.Unlock();  // the audio thread's passes end the bank
    self.unloaded = int(SoundEngine::UnloadBank(self.id, self.image->data()));
  }
};

class BankCommandOrderTest : public SoundEndToEndTest {
 public:
  void BeforeInit() override {
    settings_.useAudioThread = 1;
    settings_.useBankThread = 0;
  }
  template <typename Done>
  static bool Await(Done&& done, const char* what) {
    return OrvTest::WaitUntil([&] { return done() || (LowerEngine::WakeAudioThread(), false); }, what);
  }
  // A bank of one tone played by "Play_<name>", loaded in place from an image the fixture keeps.
  std::vector<uint8_t>& Image(const std::string& name) {
    return BankImage("platform Linux\ntone " + name + " 48000 1 200 330\nsound " + name + " " + name +
                         " Effects\naction Play_" + name + "_Act 0x0403 " + name + "\nevent Play_" + name +
                         " Play_" + name + "_Act\n",
                     name.c_str());
  }
  // `call` on a game thread of its own while the audio thread holds the pass in which `kept` was
  // made; the pass goes on once the call has returned or `waits` (the game thread waits for it).
  SNRESULT WhileHeld(const std::function<void()>& kept, const std::function<SNRESULT()>& call,
                     const std::function<bool()>& waits) {
    std::atomic<bool> returned{false};
    std::atomic<int> answer{-1};
    HeldPass held;
    held.call = kept;
    held.release = [&] { return returned.load() || waits(); };
    EXPECT_TRUE(OrvTest::WaitUntil([] { return !SnAudioLockTurn::Wanted(); }, "the loads before to be over"));
    for (int i = 0; i < 2; ++i)
      EXPECT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &HeldPass::Callback, &held), 0u);
    LetFrameGo();
    EXPECT_TRUE(Await([&] { return held.calls.load() == 2; }, "the pass to hold in the second voice's callback"));
    OrvTest::WaitedThread game([&] {
      chain_.game = std::this_thread::get_id();
      answer = int(call());
      returned = true;
    });
    EXPECT_TRUE(OrvTest::WaitUntil([&] { return returned.load(); }, "the game thread's call to return",
                                   std::chrono::seconds(10)));
    chain_.on = false;  // a call that waits for the callbacks' calls to stop returns now
    game.Join("the game thread's call, once the callbacks stopped making calls");
    EXPECT_TRUE(Await([&] { return held.wentOn.load(); }, "the held pass to go on"));
    return SNRESULT(answer.load());
  }

  Chain chain_;  // outlives the engine: a kept call's callback may come until Term
};

// A kept load, then the game's waited unload of the same image: the unload unloads what the load
// loaded, and nothing is loaded after its answer.
TEST_F(BankCommandOrderTest, AGameThreadsUnloadComesAfterALoadKeptBeforeIt) {
  const std::vector<uint8_t>& image = Image("Kept");
  const uint32_t id = BankIdOfImage(image.data(), uint32_t(image.size()));
  BankAnswers loaded;
  const SNRESULT unloaded = WhileHeld(
      [&] {
        uint32_t made = 0;
        EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), &BankAnswers::Record, &loaded, made),
                  SN_Success);
      },
      [&] { return SoundEngine::UnloadBank(id, image.data()); },
      // The load takes the audio lock for the objects it makes.
      [] { return SnAudioLockTurn::Wanted(); });
  EXPECT_EQ(unloaded, SN_Success) << log_.Take();
  ASSERT_TRUE(Await([&] { return loaded.count.load() == 1; }, "the kept load's answer"));
  EXPECT_EQ(loaded.result.load(), int(SN_Success));
  EXPECT_EQ(g_pBankManager->FindBank(id, image.data()), nullptr) << "the bank is loaded after the unload's answer";
}

// A kept unload, then the game's waited load of the same image: the load loads it again, and the
// bank is loaded after its answer.
TEST_F(BankCommandOrderTest, AGameThreadsLoadComesAfterAnUnloadKeptBeforeIt) {
  const std::vector<uint8_t>& image = Image("Gone");
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success);
  BankAnswers unloaded;
  const SNRESULT loaded = WhileHeld(
      [&] { EXPECT_EQ(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &unloaded), SN_Success); },
      [&] {
        uint32_t again = 0;
        return SoundEngine::LoadBank(image.data(), uint32_t(image.size()), again);
      },
      // Once the unload ran, the load waits for the audio lock.
      [&] { return g_pBankManager->FindBank(id, image.data()) == nullptr; });
  EXPECT_EQ(loaded, SN_Success) << log_.Take();
  ASSERT_TRUE(Await([&] { return unloaded.count.load() == 1; }, "the kept unload's answer"));
  EXPECT_EQ(unloaded.result.load(), int(SN_Success));
  CSnBankRecord* record = g_pBankManager->FindBank(id, image.data());
  EXPECT_TRUE(record && record->IsLoaded()) << "the bank the load answered for is gone";
}

// Callbacks keep making bank calls, each kept call's callback making the next one: a game thread's
// waited load runs the calls kept before it and its own, and returns.
TEST_F(BankCommandOrderTest, AGameThreadsWaitedCallReturnsWhileCallbacksKeepMakingCalls) {
  uint32_t id = 0;
  const SNRESULT loaded = WhileHeld([&] { Chain::Make(chain_); },
                                    [&] {
                                      const SNRESULT result = SoundEngine::LoadBank("GeneralBank.bnk", -1, id);
                                      EXPECT_EQ(g_pBankManager->QueuedCount(), 0u)
                                          << "the waited load ran no call kept before it";
                                      return result;
                                    },
                                    [&] { return chain_.started.load(); });
  EXPECT_EQ(loaded, SN_BankAlreadyLoaded);
  EXPECT_TRUE(Await([&] { return chain_.started.load(); }, "the kept call's answer"));
}

// With the audio thread and without it (a game thread of the test renders the pass).
class BankCommandOrderAudioTest : public BankCommandOrderTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override {
    settings_.useAudioThread = GetParam() ? 1 : 0;
    settings_.useBankThread = 0;
  }
};

// A game thread's waited load runs its command while a pass holds the audio lock, and a callback in
// that pass keeps a load after it: the waited load returns without running the kept load, which a
// pass's end runs (not the game thread: the file hook sees it opened elsewhere) and whose callback
// comes at a pass's end too, not inside the waited load on the game thread.
TEST_P(BankCommandOrderAudioTest, AGameThreadsWaitedCallRunsNoCallKeptAfterItsOwn) {
  const std::vector<uint8_t>& image = Image("Before");
  const std::vector<uint8_t>& keptImage = Image("KeptBehind");
  {
    std::ofstream file(Path(KeptBehind::kKeptFile), std::ios::binary);
    file.write(reinterpret_cast<const char*>(keptImage.data()), std::streamsize(keptImage.size()));
    ASSERT_TRUE(file.good()) << Path(KeptBehind::kKeptFile);
  }
  KeptBehind kept;
  ASSERT_TRUE(OrvTest::WaitUntil([] { return !SnAudioLockTurn::Wanted(); }, "the loads before to be over"));
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &KeptBehind::Played, &kept), 0u);
  // Without the audio thread the pass that holds runs on a thread of its own, rendering until it has.
  std::unique_ptr<OrvTest::WaitedThread> renderer;
  if (GetParam()) {
    LetFrameGo();
  } else {
    renderer = std::make_unique<OrvTest::WaitedThread>([&] {
      OrvTest::WaitUntil([&] { return kept.holding.load() || (LetFrameGo(), false); },
                         "a rendered pass to call the play's callback");
    });
  }
  ASSERT_TRUE(Await([&] { return kept.holding.load(); }, "the play's callback to hold its pass"));
  std::atomic<std::thread::id> loader{};
  std::atomic<int> loaded{-1};
  OrvTest::WaitedThread game([&] {
    loader = std::this_thread::get_id();
    uint32_t id = 0;
    loaded = int(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id));
  });
  game.Join("the game thread's waited load");
  if (renderer) renderer->Join("the pass that kept the load");
  EXPECT_EQ(loaded.load(), int(SN_Success)) << log_.Take();
  ASSERT_TRUE(kept.made.load()) << "the play's callback made no call";
  ASSERT_TRUE(Await([&] { return kept.answers.load() == 1 || (LetFrameGo(), false); }, "the kept load's answer"));
  EXPECT_EQ(kept.result.load(), int(SN_Success));
  const std::thread::id opener = io_.OpenedOn(u"KeptBehind");
  EXPECT_NE(opener, std::thread::id{}) << "the kept load read no file";
  EXPECT_NE(opener, loader.load())
      << "the game thread's waited load ran the load kept after its own: it opened the kept bank's file";
  EXPECT_NE(kept.answeredOn.load(), loader.load())
      << "the kept call made after the load's own was answered inside the load, on the game thread";
}

INSTANTIATE_TEST_SUITE_P(Audio, BankCommandOrderAudioTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "AudioThread" : "NoAudioThread");
                         });

// The frame end that drains the full ring runs the load kept there once it has counted its frame: the
// waited unload in the load's callback closes a frame after it, and the audio thread's pass reaches
// the unload's message.
TEST_F(BankCommandOrderTest, AWaitedUnloadInTheCallbackOfALoadRunAfterTheFramesEndReturns) {
  const std::vector<uint8_t>& image = Image("Drained");
  UnloadThenLoad calls;
  calls.image = &image;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), calls.id), SN_Success);
  std::atomic<bool> over{false};
  OrvTest::WaitedThread game([&] {
    GlobalAudioLock().lock();
    calls.locked = true;
    EXPECT_EQ(SoundEngine::UnloadBank(calls.id, image.data(), &UnloadThenLoad::Ended, &calls), SN_Success);
    // Frame ends of 8 bytes until one finds the ring full and drains it here, the unload's message first.
    const uint32_t enough = settings_.commandQueueBytes / 4;
    for (uint32_t ends = 0; ends < enough && !calls.ended; ++ends) SoundEngine::RenderAudio();
    calls.Unlock();
    over = true;
  });
  EXPECT_TRUE(OrvTest::WaitUntil([&] { return over.load(); },
                                 "the waited unload in the callback of the load kept in the drain to return",
                                 std::chrono::seconds(10)));
  game.Join("the game thread's waited unload", std::chrono::seconds(3));
  ASSERT_TRUE(calls.ended) << "no frame end drained the ring and ended the bank";
  EXPECT_EQ(calls.loaded.load(), int(SN_Success));
  EXPECT_EQ(calls.unloaded.load(), int(SN_Success)) << log_.Take();
  EXPECT_EQ(g_pBankManager->FindBank(calls.id, image.data()), nullptr) << "the bank is loaded after the unload";
}

}  // namespace
