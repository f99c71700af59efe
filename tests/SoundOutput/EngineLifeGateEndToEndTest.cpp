// The engine's life behind one gate, from Init's first step to Term's last: Term frees no playlist a
// game thread holds and ends a lock waiting behind the holder; calls and a Term made while Init
// runs on another thread neither read nor free what Init builds, nor do those of game code Init itself
// runs (a custom sink's factory); a second Term returns once the first has freed the engine; and the
// calls of the callbacks Term answers are refused, as every call made once Term has begun.
#include <atomic>
#include <string>
#include <thread>

#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;
namespace Seq = SoundEngine::DynamicSequence;

// A call made now is refused: Term has closed the gate (or the engine is down).
bool GateClosed() {
  static int cookie;
  return SoundEngine::CancelBankCallbackCookie(&cookie) == SN_Failure;
}

// Term on a thread of its own; `returned` once it has, and whether the engine was down by then.
struct TermThread {
  Platform::Event returned{Platform::Event::Reset::Manual};
  std::atomic<bool> engineDown{false};
  OrvTest::WaitedThread thread{[this] {
    SoundEngine::Term();
    engineDown = !SoundEngine::IsInitialized() && g_pAudioMgr == nullptr;
    returned.Set();
  }};
  // Gives it `ms` to return, which it must not do.
  bool ReturnsWithin(uint32_t ms) { return returned.Wait(ms) == Platform::WaitResult::Signalled; }
};

// Bank thread, audio thread.
class EngineLifeGateTest : public SoundEndToEndTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {
 public:
  void BeforeInit() override {
    settings_.useBankThread = BankThread() ? 1 : 0;
    settings_.useAudioThread = std::get<1>(GetParam()) ? 1 : 0;
  }
  static bool BankThread() { return std::get<0>(GetParam()); }
};

// A game thread holding a sequence's playlist: it locks it, lets Term begin, gives Term 300 ms to
// return (which it must not do while the playlist is held), then edits it and unlocks it.
struct PlaylistHolder {
  uint32_t id;
  Platform::Event held{Platform::Event::Reset::Manual};
  std::atomic<bool> edited{false}, termReturnedWhileHeld{false};
  std::atomic<int> unlockResult{-1};
  Platform::Event termReturned{Platform::Event::Reset::Manual};
  OrvTest::WaitedThread thread{[this] {
    Seq::Playlist* playlist = Seq::LockPlaylist(id);
    EXPECT_NE(playlist, nullptr);
    if (!playlist) return;
    held.Set();
    OrvTest::WaitUntil(GateClosed, "Term to begin");
    termReturnedWhileHeld = termReturned.Wait(300) == Platform::WaitResult::Signalled;
    edited = playlist->Enqueue(SoundEngine::GetIDFromString("Held"), 0) && playlist->Remove(0) &&
             playlist->Enqueue(SoundEngine::GetIDFromString("Held"), 0);
    unlockResult = int(Seq::UnlockPlaylist(id));
  }};
  explicit PlaylistHolder(uint32_t sequence) : id(sequence) {}
  void ExpectHeldThroughTerm() {
    EXPECT_FALSE(termReturnedWhileHeld.load()) << "Term returned while a game thread held a playlist";
    EXPECT_TRUE(edited.load());
    EXPECT_EQ(unlockResult.load(), int(SN_Success)) << "the unlock of a playlist held was refused";
  }
};

TEST_P(EngineLifeGateTest, TermFreesNoPlaylistAGameThreadHolds) {
  const uint32_t id = Seq::Open(kObject);
  ASSERT_NE(id, 0u);
  PlaylistHolder holder(id);
  ASSERT_TRUE(OrvTest::WaitUntilSet(holder.held, "the playlist held"));
  SoundEngine::Term();
  EXPECT_TRUE(holder.edited.load()) << "Term returned before the holder's edits and unlock";
  holder.termReturned.Set();
  holder.thread.Join("the holder's edits and unlock");
  holder.ExpectHeldThroughTerm();
}

TEST_P(EngineLifeGateTest, TermEndsALockWaitingForTheHolderOnceItUnlocks) {
  const uint32_t id = Seq::Open(kObject);
  ASSERT_NE(id, 0u);
  std::unique_ptr<TermThread> term;
  PlaylistHolder holder(id);
  ASSERT_TRUE(OrvTest::WaitUntilSet(holder.held, "the playlist held"));
  std::atomic<bool> waiterGotNone{false};
  OrvTest::WaitedThread waiter([&] {
    Seq::Playlist* playlist = Seq::LockPlaylist(id);
    waiterGotNone = playlist == nullptr;
    if (playlist) Seq::UnlockPlaylist(id);
  });
  // The waiter is inside LockPlaylist, waiting for the holder, by then on any machine; were it not,
  // it would be refused at once, and the test hold all the same.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  term = std::make_unique<TermThread>();
  ASSERT_TRUE(OrvTest::WaitUntil(GateClosed, "Term to begin"));
  holder.thread.Join("the holder's edits and unlock");
  waiter.Join("the lock waiting behind the holder", std::chrono::seconds(10));
  term->thread.Join("Term, once the holder has unlocked", std::chrono::seconds(10));
  EXPECT_TRUE(waiterGotNone.load()) << "a lock got once Term had begun";
  holder.ExpectHeldThroughTerm();
  EXPECT_TRUE(term->engineDown.load());
}

// Init on a thread of its own, held inside the making of its output device (its managers made)
// until `letGo` is set.
struct InitThread {
  static InitThread*& Current() {
    static InitThread* current = nullptr;
    return current;
  }
  static CSnSink* Make(int32_t pool) {
    InitThread& self = *Current();
    self.inside.Set();
    OrvTest::WaitUntilSet(self.letGo, "the test to let Init go");
    return OutputTest::MemorySink::Make(pool);
  }
  Platform::Event inside{Platform::Event::Reset::Manual}, letGo{Platform::Event::Reset::Manual};
  std::atomic<int> result{-1};
  SnInitSettings settings;
  SnPlatformInitSettings platform;
  std::unique_ptr<OrvTest::WaitedThread> thread;
  InitThread(const SnInitSettings& base, const SnPlatformInitSettings& basePlatform)
      : settings(base), platform(basePlatform) {
    Current() = this;
    settings.mainOutputSettings.customSinkFactory = &Make;
    thread = std::make_unique<OrvTest::WaitedThread>([this] { result = int(SoundEngine::Init(&settings, &platform)); });
  }
  ~InitThread() { Current() = nullptr; }
};

TEST_P(EngineLifeGateTest, TermMadeWhileInitRunsWaitsForIt) {
  SoundEngine::Term();
  InitThread init(settings_, platform_);
  ASSERT_TRUE(OrvTest::WaitUntilSet(init.inside, "Init making its output device"));
  TermThread term;
  EXPECT_FALSE(term.ReturnsWithin(300)) << "Term returned while Init ran";
  init.letGo.Set();
  init.thread->Join("Init");
  term.thread.Join("Term, once Init has returned");
  EXPECT_EQ(init.result.load(), int(SN_Success));
  EXPECT_TRUE(term.engineDown.load());
}

TEST_P(EngineLifeGateTest, CallsMadeWhileInitRunsMeetAnEngineDown) {
  SoundEngine::Term();
  std::atomic<bool> initRuns{false};
  std::atomic<int> calls{0}, answeredUp{0};
  // Calls before, while and after Init makes its managers, until its output device is being made.
  OrvTest::WaitedThread caller([&] {
    static int cookie;
    while (!initRuns) {
      uint32_t position = 0;
      SoundEngine::CancelEventCallbackCookie(&cookie);
      if (SoundEngine::GetSourcePlayPosition(1, &position) != SN_Failure) ++answeredUp;
      if (SoundEngine::GetSpeakerConfiguration() != 0) ++answeredUp;
      ++calls;
    }
  });
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return calls.load() > 10; }, "the calls before Init"));
  InitThread init(settings_, platform_);
  ASSERT_TRUE(OrvTest::WaitUntilSet(init.inside, "Init making its output device"));
  initRuns = true;
  caller.Join("the calls made while Init ran");
  EXPECT_EQ(answeredUp.load(), 0);
  EXPECT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Failure);
  EXPECT_EQ(Seq::Open(kObject), 0u);
  EXPECT_EQ(SoundEngine::Suspend(false), SN_Failure);
  init.letGo.Set();
  init.thread->Join("Init");
  EXPECT_EQ(init.result.load(), int(SN_Success));
  EXPECT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Success);
}

// A custom sink factory, game code Init runs, calling the engine: what each call answered.
struct CallingSinkFactory {
  static CallingSinkFactory*& Current() {
    static CallingSinkFactory* current = nullptr;
    return current;
  }
  static void Extension(bool) { ++Current()->extensionCalls; }
  static void Bank(uint32_t, const void*, SNRESULT, int32_t, void*) { ++Current()->bankCallbacks; }
  static CSnSink* Make(int32_t pool) {
    CallingSinkFactory& self = *Current();
    if (self.made++ == 0) {
      self.rtpc = int(SoundEngine::SetRTPCValue(1234u, 1.0f, kObject));
      self.playingId = SoundEngine::PostEvent("Play_Beep", kObject);
      uint32_t id = 0;
      self.load = int(SoundEngine::LoadBank(self.image->data(), uint32_t(self.image->size()), &Bank, nullptr, id));
      self.suspend = int(SoundEngine::Suspend(true));
      self.extension = int(SoundEngine::AddBehavioralExtension(&Extension));
    }
    return OutputTest::MemorySink::Make(pool);
  }
  const std::vector<uint8_t>* image = nullptr;
  int made = 0;
  std::atomic<int> extensionCalls{0}, bankCallbacks{0};
  int rtpc = -1, load = -1, suspend = -1, extension = -1, suspendInSinkInit = -1;
  uint32_t playingId = ~0u;
  explicit CallingSinkFactory(const std::vector<uint8_t>& bank) : image(&bank) { Current() = this; }
  ~CallingSinkFactory() { Current() = nullptr; }
};

// A suite of its own, beside the gate's longer one.
class EngineLifeGameCodeTest : public EngineLifeGateTest {};

TEST_P(EngineLifeGameCodeTest, GameCodeInitRunsMeetsTheEngineDown) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Factory", 330), "Factory");
  SoundEngine::Term();
  log_.Take();
  CallingSinkFactory factory(image);
  SnInitSettings settings = settings_;
  SnPlatformInitSettings platform = platform_;
  settings.mainOutputSettings.customSinkFactory = &CallingSinkFactory::Make;
  // The sink the factory makes is the game's code too.
  OutputTest::SinkLog().onInit = [] {
    if (CallingSinkFactory::Current()->suspendInSinkInit == -1)
      CallingSinkFactory::Current()->suspendInSinkInit = int(SoundEngine::Suspend(true));
  };
  const SNRESULT started = SoundEngine::Init(&settings, &platform);
  OutputTest::SinkLog().onInit = nullptr;
  ASSERT_EQ(started, SN_Success);
  ASSERT_NE(factory.made, 0) << "Init made no sink";
  EXPECT_EQ(factory.suspendInSinkInit, int(SN_Failure)) << "a suspend made in the sink's Init, inside Init, was taken";
  EXPECT_EQ(factory.rtpc, int(SN_Failure));
  EXPECT_EQ(factory.playingId, 0u);
  EXPECT_EQ(factory.load, int(SN_Failure));
  EXPECT_EQ(factory.suspend, int(SN_Failure)) << "a suspend made inside Init was taken";
  EXPECT_EQ(factory.extension, int(SN_Failure)) << "an extension added inside Init was taken";
  EXPECT_NE(log_.Take().find("refused, the sound engine is being initialised"), std::string::npos);
  // The new life runs no extension added there, and calls back no bank call refused there.
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_EQ(OutputTest::RenderNullFrame(), SN_Success);
  }
  EXPECT_EQ(factory.extensionCalls.load(), 0);
  EXPECT_EQ(factory.bankCallbacks.load(), 0);
  SoundEngine::Term();
  EXPECT_EQ(factory.extensionCalls.load(), 0) << "Term told an extension added inside Init of the end";
}

// A bank callback held until the test lets it go, or until Term has begun: on the bank thread, or
// without it inside its load on the loader's thread.
struct HeldBankCallback {
  Platform::Event begun{Platform::Event::Reset::Manual}, letGo{Platform::Event::Reset::Manual};
  bool untilTerm = false;
  static void Run(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<HeldBankCallback*>(cookie);
    self->begun.Set();
    if (self->untilTerm)
      OrvTest::WaitUntil(GateClosed, "Term to begin");
    else
      OrvTest::WaitUntilSet(self->letGo, "the test to let the callback go");
  }
};

TEST_P(EngineLifeGateTest, ASecondTermReturnsOnceTheFirstHasFreedTheEngine) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Held", 330), "Held");
  HeldBankCallback callback;
  OrvTest::WaitedThread loader([&] {
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), &HeldBankCallback::Run, &callback, id),
              SN_Success);
  });
  ASSERT_TRUE(OrvTest::WaitUntilSet(callback.begun, "the load's callback"));
  TermThread first;
  ASSERT_TRUE(OrvTest::WaitUntil(GateClosed, "the first Term to begin"));
  TermThread second;
  EXPECT_FALSE(second.ReturnsWithin(300)) << "the second Term returned while the first still ran";
  callback.letGo.Set();
  loader.Join("the loader thread");
  first.thread.Join("the first Term");
  second.thread.Join("the second Term");
  EXPECT_TRUE(second.engineDown.load()) << "the second Term returned before the engine was freed";
}

// A bank callback Term answers with 2 (on the bank thread, or on Term's once that has stopped): the
// calls it makes are refused.
struct DroppedCallback {
  std::atomic<int> result{-1}, reg{-1}, rtpc{-1};
  std::atomic<uint32_t> playingId{~0u};
  static void Bank(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto* self = static_cast<DroppedCallback*>(cookie);
    self->result = int(result);
    self->playingId = SoundEngine::PostEvent("Play_Running", kObject);
    self->reg = int(SoundEngine::RegisterGameObj(kObject + 1));
    self->rtpc = int(SoundEngine::SetRTPCValue(1234u, 1.0f, kObject));
  }
};

TEST_P(EngineLifeGateTest, CallsFromCallbacksTermAnswersOnItsThreadAreRefused) {
  if (!BankThread()) GTEST_SKIP() << "without the bank thread a dropped command calls back on its own thread";
  const std::vector<uint8_t>& running = BankImage(LoopingBankText("Running", 330), "Running");
  const std::vector<uint8_t>& dropped = BankImage(LoopingBankText("Dropped", 440), "Dropped");
  uint32_t id = 0;
  // The bank thread runs a load's callback until Term has begun, with a second load queued behind it.
  HeldBankCallback first;
  first.untilTerm = true;
  ASSERT_EQ(SoundEngine::LoadBank(running.data(), uint32_t(running.size()), &HeldBankCallback::Run, &first, id),
            SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntilSet(first.begun, "the load's callback on the bank thread"));
  DroppedCallback answer;
  ASSERT_EQ(SoundEngine::LoadBank(dropped.data(), uint32_t(dropped.size()), &DroppedCallback::Bank, &answer, id),
            SN_Success);
  SoundEngine::Term();
  EXPECT_EQ(answer.result.load(), int(SN_Failure));
  EXPECT_EQ(answer.playingId.load(), 0u);
  EXPECT_EQ(answer.reg.load(), int(SN_Failure));
  EXPECT_EQ(answer.rtpc.load(), int(SN_Failure));
}

std::string LifeGateThreadsName(const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
  return std::string(std::get<0>(info.param) ? "BankThread" : "NoBankThread") +
         (std::get<1>(info.param) ? "AudioThread" : "NoAudioThread");
}

INSTANTIATE_TEST_SUITE_P(Threads, EngineLifeGateTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         LifeGateThreadsName);
INSTANTIATE_TEST_SUITE_P(Threads, EngineLifeGameCodeTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         LifeGateThreadsName);

}  // namespace
