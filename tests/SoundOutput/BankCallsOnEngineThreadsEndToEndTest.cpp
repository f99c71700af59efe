// Bank calls made inside an audio pass (a play's callback), and calls about a bank whose unload is
// under way: none waits for what may be waiting for the pass, none answers before its bank has
// ended, and one that answers success does all of its work.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

// A play's first callback runs `inside`, in the audio pass that calls it back.
struct InsidePass {
  std::function<void()> inside;
  std::atomic<int> calls{0};
  std::atomic<bool> done{false};
  static void Callback(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<InsidePass*>(info->cookie);
    if (self->calls.fetch_add(1) != 0) return;
    self->inside();
    self->done = true;
  }
};

class BankCallsTest : public SoundEndToEndTest {
 public:
  void BeforeInit() override {
    settings_.useAudioThread = audioThread_;
    settings_.useBankThread = bankThread_;
  }
  // A bank of the test's own, loaded in place: its id.
  uint32_t Load(const std::vector<uint8_t>& image) {
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success) << log_.Take();
    return id;
  }
  // The event posted with `callback` for its calls, and rendered until the first has come.
  void Play(const char* event, InsidePass& callback) {
    ASSERT_NE(SoundEngine::PostEvent(event, kObject, SnCallback_Duration, &InsidePass::Callback, &callback), 0u);
    if (!audioThread_) {
      Frames(1);
      return;
    }
    // The frame closed and one frame of the clock let go: the audio thread renders it.
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
    ASSERT_TRUE(Await([&] { return callback.calls.load() != 0; }, "the play's callback"));
  }
  // Waits for `done`, waking the audio thread meanwhile.
  template <typename Done>
  static bool Await(Done&& done, const char* what) {
    return OrvTest::WaitUntil([&] { return done() || (LowerEngine::WakeAudioThread(), false); }, what);
  }

  uint8_t audioThread_ = 1;
  uint8_t bankThread_ = 0;
};

// The audio thread is held inside its pass while an unload of a bank is under way: a clear, and a
// second unload of that bank, answer only once it has ended. With and without the bank thread.
class EndingBankTest : public BankCallsTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override {
    bankThread_ = GetParam() ? 1 : 0;
    BankCallsTest::BeforeInit();
  }
};

TEST_P(EndingBankTest, CallsAboutABankBeingUnloadedAnswerOnceItHasEnded) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Ending", 330), "Ending");
  Platform::Event goOn{Platform::Event::Reset::Manual};
  InsidePass held;
  held.inside = [&] { OrvTest::WaitUntilSet(goOn, "the test letting the audio pass go on"); };
  const uint32_t id = Load(image);
  Play("Play_Ending", held);
  BankAnswers first, clear, second, never;
  ASSERT_EQ(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &first), SN_Success);
  // The game's banks go as well: the clear has none of its own to take out.
  for (const char* name : {"Init.bnk", "GeneralBank.bnk"})
    ASSERT_EQ(SoundEngine::UnloadBank(name, nullptr, nullptr, nullptr), SN_Success);
  ASSERT_EQ(g_pBankManager->ClearBanks(&BankAnswers::Record, &clear), SN_Success);
  EXPECT_EQ(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &second), SN_Success);
  // Commands run in their order: an unload of a bank never loaded, made last, answers once they ran.
  SoundEngine::UnloadBank(12345u, nullptr, &BankAnswers::Record, &never);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return never.count.load() == 1; }, "the unload of a bank never loaded"));
  EXPECT_EQ(never.result.load(), int(SN_BankNotLoaded));
  EXPECT_EQ(clear.count.load(), 0) << "the clear answered while a bank was being unloaded";
  EXPECT_EQ(second.count.load(), 0) << "the second unload answered while its bank was being unloaded";
  goOn.Set();
  ASSERT_TRUE(Await([&] { return first.count + clear.count + second.count == 3; }, "the answers of the bank's end"));
  for (BankAnswers* answers : {&first, &clear, &second}) EXPECT_EQ(answers->result.load(), int(SN_Success));
  EXPECT_EQ(g_pBankManager->BankCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BankThread, EndingBankTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

// Without the bank thread: a play's callback unloads a bank while a game thread loads another, the
// load holding the bank commands' turn and waiting for the audio lock that the pass holds.
TEST_F(BankCallsTest, ABankCallFromAPlayCallbackNeverWaitsForAGameThreadsLoad) {
  const std::vector<uint8_t>& playing = BankImage(LoopingBankText("Crossing", 330), "Crossing");
  const std::vector<uint8_t>& loading = BankImage(LoopingBankText("Loading", 440), "Loading");
  std::atomic<bool> loadBegun{false};
  std::atomic<int> made{0};
  BankAnswers unloaded;
  const uint32_t id = Load(playing);
  InsidePass crossing;
  crossing.inside = [&] {
    OrvTest::WaitUntil([&] { return loadBegun.load() && SnAudioLockTurn::Wanted(); },
                       "the game thread's load to wait for the audio lock");
    made = int(SoundEngine::UnloadBank(id, playing.data(), &BankAnswers::Record, &unloaded));
  };
  Play("Play_Crossing", crossing);
  // No turn of the loads above is taken for one of the load below.
  ASSERT_TRUE(OrvTest::WaitUntil([] { return !SnAudioLockTurn::Wanted(); }, "the loads above to be over"));
  SNRESULT loaded = SN_Failure;
  std::thread game([&] {
    uint32_t loadingId = 0;
    loadBegun = true;
    loaded = SoundEngine::LoadBank(loading.data(), uint32_t(loading.size()), loadingId);
  });
  if (!OrvTest::WaitUntil([&] { return crossing.done.load(); }, "the unload made in the play's callback")) {
    // The audio thread and the game thread wait for each other: nothing can end them.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  game.join();
  EXPECT_EQ(loaded, SN_Success);
  EXPECT_EQ(made.load(), int(SN_Success));
  ASSERT_TRUE(Await([&] { return unloaded.count.load() == 1; }, "the unload's answer"));
  EXPECT_EQ(unloaded.result.load(), int(SN_Success));
}

// Without the bank thread, an unload made in a play's callback ends its bank with no further call
// of the game: the audio thread renders what the unload posted.
TEST_F(BankCallsTest, AnUnloadFromAPlayCallbackEndsItsBankWithNoCallOfTheGame) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Unloaded", 330), "Unloaded");
  std::atomic<int> made{0};
  BankAnswers unloaded;
  const uint32_t id = Load(image);
  InsidePass unload;
  unload.inside = [&] { made = int(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &unloaded)); };
  Play("Play_Unloaded", unload);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return unloaded.count.load() == 1; }, "the answer, with no call of the game"));
  EXPECT_EQ(made.load(), int(SN_Success));
  EXPECT_EQ(unloaded.result.load(), int(SN_Success));
}

// Without the bank thread a bank callback runs on the game thread that made the call (here the 54
// answer of an unload of a bank never loaded). A cancel made there returns only once the callback it
// cancels, held running on the audio thread, has returned: a play's duration callback (by playing id
// and by cookie), and an unload's callback (by its bank cookie).
struct CancelInBankCallback {
  enum Call { CancelEventCallback, CancelEventCallbackCookie, CancelBankCallbackCookie, kCalls };
  Call call = CancelEventCallback;
  uint32_t playingId = 0;
  InsidePass* held = nullptr;  // the cancelled callback's cookie
  Platform::Event begun{Platform::Event::Reset::Manual}, returned{Platform::Event::Reset::Manual};
  std::atomic<bool> heldHadReturned{false};
  static void Bank(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<CancelInBankCallback*>(cookie);
    self->begun.Set();
    switch (self->call) {
      case CancelEventCallback: SoundEngine::CancelEventCallback(self->playingId); break;
      case CancelEventCallbackCookie: SoundEngine::CancelEventCallbackCookie(self->held); break;
      default: SoundEngine::CancelBankCallbackCookie(self->held); break;
    }
    self->heldHadReturned = self->held->done.load();
    self->returned.Set();
  }
  static void HeldUnload(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto* held = static_cast<InsidePass*>(cookie);
    held->calls.fetch_add(1);
    held->inside();
    held->done = true;
  }
};

// The first `calls` of CancelInBankCallback's, each made in the bank callback of an unload of a bank
// never loaded while the callback it cancels is held on the audio thread.
void ExpectCancelsInABankCallbackToWait(BankCallsTest& test, int calls) {
  test.Load(test.BankImage(LoopingBankText("Held", 330), "Held"));
  for (int call = 0; call < calls; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    CancelInBankCallback cancel;
    cancel.call = CancelInBankCallback::Call(call);
    Platform::Event release{Platform::Event::Reset::Manual};
    InsidePass held;
    held.inside = [&] { OrvTest::WaitUntilSet(release, "the test letting the held callback return"); };
    cancel.held = &held;
    if (cancel.call == CancelInBankCallback::CancelBankCallbackCookie) {
      const std::vector<uint8_t>& image = test.BankImage(LoopingBankText("Ending", 440), "Ending");
      ASSERT_EQ(SoundEngine::UnloadBank(test.Load(image), image.data(), &CancelInBankCallback::HeldUnload, &held),
                SN_Success);
    } else {
      cancel.playingId =
          SoundEngine::PostEvent("Play_Held", kObject, SnCallback_Duration, &InsidePass::Callback, &held);
      ASSERT_NE(cancel.playingId, 0u);
      ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
      OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
    }
    ASSERT_TRUE(BankCallsTest::Await([&] { return held.calls.load() != 0; }, "the callback held on the audio thread"));
    OrvTest::WaitedThread releaser([&] {
      OrvTest::WaitUntilSet(cancel.begun, "the bank callback's cancel to begin");
      // The cancel has this long to return wrongly, while the callback it cancels still runs.
      cancel.returned.Wait(200);
      release.Set();
    });
    SoundEngine::UnloadBank(12345u, nullptr, &CancelInBankCallback::Bank, &cancel);
    releaser.Join("the thread letting the held callback return");
    ASSERT_TRUE(OrvTest::WaitUntilSet(cancel.returned, "the bank callback's cancel to return"));
    EXPECT_TRUE(cancel.heldHadReturned.load()) << "the cancel returned while the callback it cancels still ran";
    ASSERT_TRUE(BankCallsTest::Await([&] { return held.done.load(); }, "the held callback's end"));
  }
}

TEST_F(BankCallsTest, ACancelInABankCallbackOnAGameThreadWaitsForTheCallbackItCancels) {
  ExpectCancelsInABankCallbackToWait(*this, CancelInBankCallback::kCalls);
}

// With the bank thread, a cancel of play callbacks made in a bank callback there waits as well: a
// pass never waits for a bank callback or for the bank thread. (A cancel of bank callbacks there
// does not wait: a bank callback running elsewhere may wait for the bank thread.)
class BankCallsOnBankThreadTest : public BankCallsTest {
 public:
  void BeforeInit() override {
    bankThread_ = 1;
    BankCallsTest::BeforeInit();
  }
};

TEST_F(BankCallsOnBankThreadTest, ACancelInABankCallbackOnTheBankThreadWaitsForThePlayCallbackItCancels) {
  ExpectCancelsInABankCallbackToWait(*this, CancelInBankCallback::CancelBankCallbackCookie);
}

// Without the bank thread and the audio thread: a play's callback fills the command queue and what
// may wait aside for it, then unloads the bank with a callback. The unload accepted is done whole:
// its voices end and it answers.
class BankCallsWithoutThreadsTest : public BankCallsTest {
 public:
  void BeforeInit() override {
    audioThread_ = 0;
    BankCallsTest::BeforeInit();
    settings_.commandQueueBytes = 32768;
  }
};

TEST_F(BankCallsWithoutThreadsTest, AnUnloadFromACallbackFindingTheQueueFullIsDoneWhole) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Full", 330), "Full");
  std::atomic<int> made{0};
  int refusedAt = -1;
  BankAnswers unloaded;
  const uint32_t id = Load(image);
  InsidePass unload;
  unload.inside = [&] {
    // Posts as small as the unload's own, until one is refused.
    for (int i = 0; i < 100000 && refusedAt < 0; ++i)
      if (SoundEngine::PostTrigger(4242u, kObject) == SN_InsufficientMemory) refusedAt = i;
    made = int(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &unloaded));
  };
  Play("Play_Full", unload);
  ASSERT_GE(refusedAt, 0) << "the posts never filled what waits aside";
  for (int frame = 0; frame < 8 && (!unloaded.count.load() || VoiceManager::ActiveInstanceCount()); ++frame)
    Frames(1);
  EXPECT_EQ(made.load(), int(SN_Success));
  EXPECT_EQ(unloaded.count.load(), 1);
  EXPECT_EQ(unloaded.result.load(), int(SN_Success));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

}  // namespace
