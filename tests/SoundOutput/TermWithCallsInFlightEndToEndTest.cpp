// Term while other threads are inside the engine's calls: it frees nothing until they have returned.
// A bank call queued behind a running one gets SN_Failure, the command running ends with its
// callback, a waited unload of a bank being ended is answered once it has ended, a cancel waiting
// for a play's callback returns once that callback has, and a call made once Term has begun is
// refused with SN_Failure and an Error line.
#include <atomic>
#include <functional>
#include <string>

#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

// A callback of the game's that is running when Term is called: it waits until Term has begun (a
// call of its own is refused from then on), then gives Term 300 ms to return while it still runs,
// which Term must not do, nor begin to take the engine down.
struct RunningAtTerm {
  Platform::Event begun{Platform::Event::Reset::Manual};
  Platform::Event termReturned{Platform::Event::Reset::Manual};
  std::atomic<int> calls{0};
  std::atomic<int> result{-1};       // the bank callback's result
  std::atomic<int> refusedWith{-1};  // what a call made inside it once Term had begun answered
  std::atomic<bool> termHadReturned{false};
  std::atomic<bool> engineWholeAtTerm{false};  // Term had not begun to take the engine down
  std::atomic<bool> returned{false};
  std::function<void()> atTerm;  // what it does once Term has begun

  void Run() {
    begun.Set();
    // A cancel of a cookie no call was made with: 1 while the engine runs.
    OrvTest::WaitUntil([&] { return SoundEngine::CancelBankCallbackCookie(&refusedWith) == SN_Failure; },
                       "Term to begin");
    refusedWith = int(SoundEngine::CancelBankCallbackCookie(&refusedWith));
    if (atTerm) atTerm();
    termHadReturned = termReturned.Wait(300) == Platform::WaitResult::Signalled;
    // Looked at last: a Term that does not wait has had the time to begin taking the engine down.
    engineWholeAtTerm = SoundEngine::IsInitialized();
    returned = true;
  }
  static void Bank(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto* self = static_cast<RunningAtTerm*>(cookie);
    self->result = int(result);
    if (self->calls.fetch_add(1) == 0) self->Run();
  }
  static void Play(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<RunningAtTerm*>(info->cookie);
    if (self->calls.fetch_add(1) == 0) self->Run();
  }
};

class TermWithCallsTest : public SoundEndToEndTest {
 public:
  void BeforeInit() override {
    settings_.useAudioThread = audioThread_;
    settings_.useBankThread = bankThread_;
  }
  // Term on this thread; the callback running learns when it has returned.
  void TermWhile(RunningAtTerm& running) {
    SoundEngine::Term();
    EXPECT_TRUE(running.returned.load()) << "Term returned while a call inside the engine still ran";
    running.termReturned.Set();
  }
  // `waitedFor`: a call waited for the callback (on the bank thread none does: Term stops that
  // thread, and the callback with it, before it frees anything).
  void ExpectTermWaited(RunningAtTerm& running, bool waitedFor = true) {
    EXPECT_FALSE(running.termHadReturned.load());
    if (waitedFor) {
      EXPECT_TRUE(running.engineWholeAtTerm.load()) << "Term took the engine down under a call inside it";
    }
    EXPECT_EQ(running.refusedWith.load(), int(SN_Failure));
    const std::string said = log_.Take();
    EXPECT_NE(said.find("refused, the sound engine is being terminated"), std::string::npos) << said;
  }

  uint8_t audioThread_ = 1;
  uint8_t bankThread_ = 0;
};

// Bank thread, audio thread.
class TermWhileLoadingTest : public TermWithCallsTest,
                             public ::testing::WithParamInterface<std::tuple<bool, bool>> {
 public:
  void BeforeInit() override {
    bankThread_ = std::get<0>(GetParam()) ? 1 : 0;
    audioThread_ = std::get<1>(GetParam()) ? 1 : 0;
    TermWithCallsTest::BeforeInit();
  }
};

// A loader thread's load whose callback runs when the game's main thread calls Term; a third
// thread's waited load is queued behind it while the bank thread runs the callback.
TEST_P(TermWhileLoadingTest, TermWaitsForALoadAndItsCallbackAndRefusesTheLoadQueuedBehind) {
  const std::vector<uint8_t>& loading = BankImage(LoopingBankText("Loading", 330), "Loading");
  const std::vector<uint8_t>& behind = BankImage(LoopingBankText("Behind", 440), "Behind");
  RunningAtTerm running;
  std::atomic<int> loaded{-1}, waited{-1};
  OrvTest::WaitedThread loader([&] {
    uint32_t id = 0;
    loaded = int(SoundEngine::LoadBank(loading.data(), uint32_t(loading.size()), &RunningAtTerm::Bank, &running, id));
  });
  ASSERT_TRUE(OrvTest::WaitUntilSet(running.begun, "the load's callback"));
  OrvTest::WaitedThread waiter([&] {
    uint32_t id = 0;
    waited = int(SoundEngine::LoadBank(behind.data(), uint32_t(behind.size()), id));
  });
  // The bank thread is inside the callback, and the waited load stays queued behind it. Without the
  // bank thread the callback runs on the loader thread once its command has run, holding no turn of
  // the queue: the waited load runs in its own turn.
  if (bankThread_)
    ASSERT_TRUE(OrvTest::WaitUntil([] { return g_pBankManager->QueuedCount() == 1; }, "the waited load's turn"));
  else
    waiter.Join("the waited load, which no callback holds back");
  TermWhile(running);
  loader.Join("the loader thread");
  if (bankThread_) waiter.Join("the thread of the waited load");
  EXPECT_EQ(loaded.load(), int(SN_Success));
  EXPECT_EQ(running.result.load(), int(SN_Success));
  EXPECT_EQ(waited.load(), int(bankThread_ ? SN_Failure : SN_Success));
  ExpectTermWaited(running, !std::get<0>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Threads, TermWhileLoadingTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "BankThread" : "NoBankThread") +
                                  (std::get<1>(info.param) ? "AudioThread" : "NoAudioThread");
                         });

// With and without the audio thread: a game thread's cancel waits for a play's callback running
// elsewhere when the main thread calls Term. With the bank thread too: Term's wait for the calls
// inside keeps the engine whole under them, not its stop of the bank thread.
class TermWhileCancellingTest : public TermWithCallsTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override {
    audioThread_ = GetParam() ? 1 : 0;
    TermWithCallsTest::BeforeInit();
  }
  void TermWhileACancelWaits() {
    const std::vector<uint8_t>& image = BankImage(LoopingBankText("Cancelled", 330), "Cancelled");
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success);
    RunningAtTerm running;
    ASSERT_NE(SoundEngine::PostEvent("Play_Cancelled", kObject, SnCallback_Duration, &RunningAtTerm::Play, &running),
              0u);
    // The callback comes in the audio thread's pass (the frame closed, then one frame of the clock let
    // go), or in a pass a game thread renders.
    OrvTest::WaitedThread renderer([&] {
      if (audioThread_)
        ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
      else
        OutputTest::RenderNullFrame();
    });
    if (audioThread_) {
      renderer.Join("the frame closed");
      OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
    }
    ASSERT_TRUE(OrvTest::WaitUntil(
        [&] {
          return running.begun.Wait(0) == Platform::WaitResult::Signalled || (LowerEngine::WakeAudioThread(), false);
        },
        "the play's callback"));
    std::atomic<bool> cancelled{false}, callbackHadReturned{false};
    OrvTest::WaitedThread canceller([&] {
      SoundEngine::CancelEventCallbackCookie(&running);
      callbackHadReturned = running.returned.load();
      cancelled = true;
    });
    ASSERT_TRUE(OrvTest::WaitUntil([] { return g_pPlayingIDCallbackMgr->WaitingCancels() == 1; }, "the cancel's wait"));
    TermWhile(running);
    canceller.Join("the cancelling thread");
    if (!audioThread_) renderer.Join("the rendering thread");
    EXPECT_TRUE(cancelled.load()) << "Term returned before the cancel did";
    EXPECT_TRUE(callbackHadReturned.load()) << "the cancel returned while the callback it cancels still ran";
    ExpectTermWaited(running);
  }
};
class TermWhileCancellingOnBankThreadTest : public TermWhileCancellingTest {
 public:
  void BeforeInit() override {
    bankThread_ = 1;
    TermWhileCancellingTest::BeforeInit();
  }
};

TEST_P(TermWhileCancellingTest, TermWaitsForACancelWaitingForAPlayCallback) { TermWhileACancelWaits(); }
TEST_P(TermWhileCancellingOnBankThreadTest, TermWaitsForACancelWaitingForAPlayCallback) { TermWhileACancelWaits(); }

const auto kAudioThreadName = [](const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "AudioThread" : "NoAudioThread";
};
INSTANTIATE_TEST_SUITE_P(AudioThread, TermWhileCancellingTest, ::testing::Bool(), kAudioThreadName);
INSTANTIATE_TEST_SUITE_P(AudioThread, TermWhileCancellingOnBankThreadTest, ::testing::Bool(), kAudioThreadName);

// Without the bank thread and the audio thread: an unload is ending a bank whose media a thread still
// holds, and a waited unload of the same bank, on another thread, renders a pass to end it. The main
// thread calls Term while a play's callback in that pass runs, which lets the media go.
class TermWhileUnloadRendersTest : public TermWithCallsTest {
 public:
  void BeforeInit() override {
    audioThread_ = 0;
    TermWithCallsTest::BeforeInit();
  }
};

TEST_F(TermWhileUnloadRendersTest, TermWaitsForAWaitedUnloadRenderingTheEndOfItsBank) {
  const std::vector<uint8_t>& image = BankImage(LoopingBankText("Ending", 330), "Ending");
  const std::vector<uint8_t>& other = BankImage(LoopingBankText("Starting", 440), "Starting");
  uint32_t id = 0, otherId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success);
  ASSERT_EQ(SoundEngine::LoadBank(other.data(), uint32_t(other.size()), otherId), SN_Success);
  const uint32_t mediaId = SoundEngine::GetIDFromString("Ending");
  const SnMediaRef media = g_pBankManager->GetMedia(mediaId);
  ASSERT_NE(media.data, nullptr);
  BankAnswers first;
  ASSERT_EQ(SoundEngine::UnloadBank(id, image.data(), &BankAnswers::Record, &first), SN_Success);
  ASSERT_EQ(first.count.load(), 0) << "the bank ended while its media were held";
  RunningAtTerm running;
  running.atTerm = [&] { g_pBankManager->ReleaseMedia(mediaId, media.bank); };
  // Its voice begins in the pass the waited unload renders, and calls back there.
  ASSERT_NE(SoundEngine::PostEvent("Play_Starting", kObject, SnCallback_Duration, &RunningAtTerm::Play, &running), 0u);
  OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
  std::atomic<int> waited{-1};
  OrvTest::WaitedThread unloader([&] { waited = int(SoundEngine::UnloadBank(id, image.data(), nullptr)); });
  ASSERT_TRUE(OrvTest::WaitUntilSet(running.begun, "the play's callback in the pass the waited unload renders"));
  TermWhile(running);
  unloader.Join("the thread of the waited unload");
  EXPECT_EQ(waited.load(), int(SN_Success));
  EXPECT_EQ(first.count.load(), 1);
  EXPECT_EQ(first.result.load(), int(SN_Success));
  ExpectTermWaited(running);
}

}  // namespace
