// Without the bank thread the bank commands run in a loop, never nested on a callback's stack: a
// chain of bank calls from bank callbacks costs the stack of one link, on a game thread and on the
// audio thread. A game thread's bank callback comes on that thread, inside its own call, whichever
// thread ran the command; neither another game thread nor the audio thread calls it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kNeverLoaded = 12345;
// Far below what a nested chain of the lengths below takes (thousands of bytes a link), far above one
// link's frames.
constexpr uintptr_t kOneLinkOfStack = 64 * 1024;

// Unloads of a bank never loaded, each answer making the next call, until `links` answers have come:
// where each came, and how deep its stack went.
struct CallChain {
  int links = 0;
  std::atomic<int> answers{0}, refused{0};
  std::atomic<uintptr_t> lowest{UINTPTR_MAX}, highest{0};
  std::mutex threadsLock;
  std::thread::id firstThread{};
  bool oneThread = true;
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& chain = *static_cast<CallChain*>(cookie);
    volatile char frame = 0;
    const auto at = reinterpret_cast<uintptr_t>(&frame);
    chain.lowest = std::min(chain.lowest.load(), at);
    chain.highest = std::max(chain.highest.load(), at);
    {
      std::lock_guard<std::mutex> lock(chain.threadsLock);
      if (chain.firstThread == std::thread::id{}) chain.firstThread = std::this_thread::get_id();
      chain.oneThread = chain.oneThread && chain.firstThread == std::this_thread::get_id();
    }
    if (chain.answers.fetch_add(1) + 1 < chain.links) {
      const SNRESULT made = SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CallChain::Answer, &chain);
      if (made == SN_Failure || made == SN_InsufficientMemory) chain.refused.fetch_add(1);
    }
  }
  // Each link accepted, all answered on one thread (this one or another), at one depth.
  void ExpectTheStackOfOneLink(bool onThisThread) {
    EXPECT_EQ(refused.load(), 0);
    EXPECT_TRUE(oneThread);
    EXPECT_EQ(firstThread == std::this_thread::get_id(), onThisThread);
    EXPECT_LT(highest.load() - lowest.load(), kOneLinkOfStack) << "the chain nested its calls on the stack";
  }
};

// A play's first duration callback, in a pass, makes a kept bank call answered to `answer`.
struct KeptFromPass {
  SnBankCallback answer = nullptr;
  void* cookie = nullptr;
  std::atomic<int> calls{0};
  static void Played(uint32_t, SnCallbackInfo* info) {
    auto& self = *static_cast<KeptFromPass*>(info->cookie);
    if (self.calls.fetch_add(1) == 0) {
      EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, self.answer, self.cookie), SN_Success);
    }
  }
};

// A play posted twice: the first voice's callback begins the chain, the second holds the pass until
// `released`, with the chain's first command kept ahead of any call made meanwhile.
struct ChainBeforeHeldPass {
  CallChain* chain = nullptr;
  std::atomic<bool> released{false};
  std::atomic<int> calls{0};
  static void Played(uint32_t, SnCallbackInfo* info) {
    auto& self = *static_cast<ChainBeforeHeldPass*>(info->cookie);
    const int call = self.calls.fetch_add(1);
    if (call == 0) {
      EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CallChain::Answer, self.chain), SN_Success);
    }
    if (call == 1) OrvTest::WaitUntil([&] { return self.released.load(); }, "the game thread's waited load");
  }
};

// A game thread's waited load, made while a chain begun in a pass goes on: the links of the chain
// answered inside it.
int ChainLinksInsideAWaitedLoad(const CallChain& chain) {
  int inside = -1;
  OrvTest::WaitedThread game([&] {
    const int before = chain.answers.load();
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_BankAlreadyLoaded);
    inside = chain.answers.load() - before;
  });
  game.Join("the game thread's waited load");
  return inside;
}

// A lock of the game's own: its holder takes it again at once, another thread once it is let go.
struct GameLock {
  std::atomic<std::thread::id> holder{};
  // True once this thread has it, within `limit`.
  bool TakeWithin(std::chrono::steady_clock::duration limit) {
    const std::thread::id self = std::this_thread::get_id();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::thread::id none{};
      if (holder.load() == self || holder.compare_exchange_strong(none, self)) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

// Where a game thread's bank callback came: its thread, inside its call or not, and whether it took
// the lock its thread holds across the call.
struct OwnCallback {
  GameLock lock;
  std::atomic<std::thread::id> caller{};
  std::atomic<bool> inCall{false};
  std::atomic<int> calls{0};
  std::atomic<bool> onCaller{false}, duringCall{false}, tookLock{false};
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& self = *static_cast<OwnCallback*>(cookie);
    self.onCaller = std::this_thread::get_id() == self.caller.load();
    self.duringCall = self.inCall.load();
    // Fine on the caller's own thread; another thread would wait for the caller, which may be waiting
    // for it: a deadline, well past a callback's time, ends that wait.
    self.tookLock = self.lock.TakeWithin(std::chrono::seconds(3));
    self.calls.fetch_add(1);
  }
  // The call, on this thread, holding the lock across it.
  void Call() {
    caller = std::this_thread::get_id();
    ASSERT_TRUE(lock.TakeWithin(std::chrono::seconds(0)));
    inCall = true;
    EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &OwnCallback::Answer, this), SN_BankNotLoaded);
    inCall = false;
    lock.holder = std::thread::id{};
  }
  void Expect() {
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(onCaller.load()) << "a game thread's callback came on another thread";
    EXPECT_TRUE(duringCall.load()) << "a game thread's callback came outside its call";
    EXPECT_TRUE(tookLock.load()) << "the callback could not take the lock its thread holds across the call";
  }
};

// A bank callback that, once the other thread's call is queued behind its command (or was run
// already), makes another bank call: kept on the audio thread, queued behind on a game thread.
struct CallOnceReady {
  const OwnCallback* other = nullptr;
  std::atomic<bool> begun{false};
  std::atomic<int> made{-1};
  std::atomic<int> answers{0};
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& self = *static_cast<CallOnceReady*>(cookie);
    if (self.answers.fetch_add(1) != 0) return;
    self.begun = true;
    OrvTest::WaitUntil([&] { return g_pBankManager->QueuedCount() != 0 || self.other->calls.load() != 0; },
                       "the other thread's call to be queued");
    self.made = int(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CallOnceReady::Answer, &self));
  }
};

// Bank callbacks on two game threads, each cancelling the other's cookie once both run.
struct CrossCancel {
  CrossCancel* other = nullptr;
  std::atomic<bool> entered{false}, returned{false};
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& self = *static_cast<CrossCancel*>(cookie);
    self.entered = true;
    OrvTest::WaitUntil([&] { return self.other->entered.load(); }, "the other game thread's callback",
                       std::chrono::seconds(5));
    EXPECT_EQ(SoundEngine::CancelBankCallbackCookie(self.other), SN_Success);
    self.returned = true;
  }
};

class BankCallbackLoopTest : public SoundEndToEndTest {
 public:
  void BeforeInit() override {
    settings_.useAudioThread = audioThread_;
    settings_.useBankThread = 0;
  }
  template <typename Done>
  static bool Await(Done&& done, const char* what) {
    return OrvTest::WaitUntil([&] { return done() || (LowerEngine::WakeAudioThread(), false); }, what);
  }
  uint8_t audioThread_ = 0;
};

class BankCallbackLoopAudioThreadTest : public BankCallbackLoopTest {
 public:
  BankCallbackLoopAudioThreadTest() { audioThread_ = 1; }
  // A play whose first duration callback, on the audio thread, makes the kept call.
  void PlayCalling(KeptFromPass& kept) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &KeptFromPass::Played, &kept), 0u);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
  }
};

// A thousand links of a chain made on a game thread: each answer comes on that thread, inside its
// first call, at the depth of the first.
TEST_F(BankCallbackLoopTest, AChainOfCallsFromCallbacksOnAGameThreadTakesTheStackOfOne) {
  CallChain chain;
  chain.links = 1000;
  EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CallChain::Answer, &chain), SN_BankNotLoaded);
  EXPECT_EQ(chain.answers.load(), chain.links) << "the first call returned before its chain had ended";
  chain.ExpectTheStackOfOneLink(true);
  log_.Take();
}

// A chain begun in a play's callback: a link's call, made on the audio thread, is kept for the end of
// a later pass, at the depth of the first.
TEST_F(BankCallbackLoopAudioThreadTest, AChainOfCallsFromCallbacksOnTheAudioThreadTakesTheStackOfOne) {
  CallChain chain;
  chain.links = 150;
  KeptFromPass start{&CallChain::Answer, &chain};
  PlayCalling(start);
  ASSERT_TRUE(Await([&] { return chain.answers.load() == chain.links; }, "the chain's last answer"));
  chain.ExpectTheStackOfOneLink(false);
  log_.Take();
}

// Game thread B makes a bank call inside its own callback while game thread A's call waits behind:
// A's callback comes on A, inside its call, and takes the lock A holds across the call.
TEST_F(BankCallbackLoopTest, AGameThreadsCallbackComesOnThatThreadWhileAnotherCallsFromItsCallback) {
  OwnCallback a;
  CallOnceReady b;
  b.other = &a;
  OrvTest::WaitedThread threadB([&] {
    EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CallOnceReady::Answer, &b), SN_BankNotLoaded);
  });
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return b.begun.load(); }, "game thread B's callback"));
  OrvTest::WaitedThread threadA([&] { a.Call(); });
  threadA.Join("game thread A's call");
  threadB.Join("game thread B's call");
  a.Expect();
  EXPECT_EQ(b.made.load(), int(SN_Success));
  EXPECT_EQ(b.answers.load(), 2);
  log_.Take();
}

// Two game threads' callbacks, each on its own thread, cancel each other's cookies: the cancel that
// would wait for a callback waiting for it does not, and both return.
TEST_F(BankCallbackLoopTest, CallbacksOnTwoGameThreadsCancellingEachOthersCookiesBothReturn) {
  CrossCancel first, second;
  first.other = &second;
  second.other = &first;
  OrvTest::WaitedThread one([&] { SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CrossCancel::Answer, &first); });
  OrvTest::WaitedThread two([&] { SoundEngine::UnloadBank(kNeverLoaded, nullptr, &CrossCancel::Answer, &second); });
  if (!OrvTest::WaitUntil([&] { return first.returned.load() && second.returned.load(); },
                          "both callbacks' cancels to return", std::chrono::seconds(10))) {
    // The two cancels wait for each other: nothing can end them.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  one.Join("the first game thread's call");
  two.Join("the second game thread's call");
  log_.Take();
}

// A kept call's callback on the audio thread makes another bank call while a game thread's call
// waits behind: the game thread's callback comes on the game thread, and the audio thread's call is
// kept for a later pass's end.
TEST_F(BankCallbackLoopAudioThreadTest, AGameThreadsCallbackNeverComesOnTheAudioThread) {
  OwnCallback game;
  CallOnceReady audio;
  audio.other = &game;
  KeptFromPass kept{&CallOnceReady::Answer, &audio};
  PlayCalling(kept);
  ASSERT_TRUE(Await([&] { return audio.begun.load(); }, "the kept call's callback on the audio thread"));
  OrvTest::WaitedThread gameThread([&] { game.Call(); });
  gameThread.Join("the game thread's call");
  game.Expect();
  ASSERT_TRUE(Await([&] { return audio.answers.load() == 2; }, "the answer of the call made on the audio thread"));
  EXPECT_EQ(audio.made.load(), int(SN_Success));
  log_.Take();
}

// A chain begun in a pass is the passes': the game's next render runs its kept command, and the
// call made in that command's callback is kept for the render after. A game thread's waited load
// made meanwhile runs the kept command ahead of its own and calls none of the chain's callbacks.
TEST_F(BankCallbackLoopTest, AChainBegunInAPassRunsALinkARenderBesideAGameThreadsWaitedLoad) {
  CallChain chain;
  chain.links = 50;
  KeptFromPass start{&CallChain::Answer, &chain};
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &KeptFromPass::Played, &start), 0u);
  for (int render = 0; render < 8 && start.calls.load() == 0; ++render) Frames(1);
  ASSERT_NE(start.calls.load(), 0) << "the play's callback never came";
  EXPECT_EQ(chain.answers.load(), 1) << "the render ran more than one link of the chain";
  EXPECT_EQ(ChainLinksInsideAWaitedLoad(chain), 0) << "the game thread's load ran the chain's callbacks";
  while (chain.answers.load() < chain.links) {
    const int before = chain.answers.load();
    Frames(1);
    ASSERT_EQ(chain.answers.load(), before + 1) << "a render ran other than one link of the chain";
  }
  chain.ExpectTheStackOfOneLink(true);
  log_.Take();
}

// The same with the audio thread, held in the pass that begins the chain: the game thread's waited
// load returns with none of the chain's callbacks called inside it, and the chain goes on there.
TEST_F(BankCallbackLoopAudioThreadTest, AGameThreadsWaitedLoadLeavesAChainBegunInAPassToTheAudioThread) {
  CallChain chain;
  chain.links = 50;
  ChainBeforeHeldPass start;
  start.chain = &chain;
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &ChainBeforeHeldPass::Played, &start),
              0u);
  }
  ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
  ASSERT_TRUE(Await([&] { return start.calls.load() == 2; }, "the pass to hold after the chain's first call"));
  EXPECT_EQ(ChainLinksInsideAWaitedLoad(chain), 0) << "the game thread's load ran the chain's callbacks";
  start.released = true;
  ASSERT_TRUE(Await([&] { return chain.answers.load() == chain.links; }, "the chain's last answer"));
  chain.ExpectTheStackOfOneLink(false);
  log_.Take();
}

}  // namespace
