// A game callback that throws leaves the engine as it was. On a game thread the exception reaches the
// public call that ran the callback, once its work is done: a bank call without the bank thread, a
// RenderAudio without the audio thread. On the engine's own threads it is said and the engine goes on.
#include <atomic>
#include <stdexcept>
#include <string>

#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kBankNeverLoaded = 23456;

struct ThrowingBankCallback {
  std::atomic<int> calls{0};
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    ++static_cast<ThrowingBankCallback*>(cookie)->calls;
    throw std::runtime_error("the game's bank callback threw");
  }
};

struct CountingBankCallback {
  std::atomic<int> calls{0};
  static void Answer(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    ++static_cast<CountingBankCallback*>(cookie)->calls;
  }
};

// A play's duration callback that throws, or only counts.
struct PlayCallbackCount {
  std::atomic<int> calls{0};
  bool throws = false;
  static void Played(uint32_t, SnCallbackInfo* info) {
    auto& self = *static_cast<PlayCallbackCount*>(info->cookie);
    ++self.calls;
    if (self.throws) throw std::runtime_error("the game's play callback threw");
  }
};

// Bank thread, audio thread.
class ThrowingCallbackTest : public SoundEndToEndTest {
 public:
  void BeforeInit() override {
    settings_.useBankThread = bankThread_;
    settings_.useAudioThread = audioThread_;
  }
  uint8_t bankThread_ = 0;
  uint8_t audioThread_ = 0;
};

class ThrowingCallbackThreadsTest : public ThrowingCallbackTest {
 public:
  ThrowingCallbackThreadsTest() { bankThread_ = audioThread_ = 1; }
};

TEST_F(ThrowingCallbackTest, ABankCallbackThatThrowsReachesTheGamesCallAndTheLoopGoesOn) {
  ThrowingBankCallback throwing;
  try {
    SoundEngine::UnloadBank(kBankNeverLoaded, nullptr, &ThrowingBankCallback::Answer, &throwing);
    ADD_FAILURE() << "the bank call returned without the callback's exception";
  } catch (const std::runtime_error& thrown) {
    EXPECT_EQ(std::string(thrown.what()), "the game's bank callback threw");
  }
  EXPECT_EQ(throwing.calls.load(), 1);
  // This thread's next call with a callback is a loop of its own again, and calls back inside it.
  CountingBankCallback counting;
  EXPECT_EQ(SoundEngine::UnloadBank(kBankNeverLoaded, nullptr, &CountingBankCallback::Answer, &counting),
            SN_BankNotLoaded);
  EXPECT_EQ(counting.calls.load(), 1) << "the call after the throw never called back";
  // Another thread's waited call runs the queue and returns.
  std::atomic<int> waited{-1};
  OrvTest::WaitedThread other([&] {
    uint32_t id = 0;
    waited = int(SoundEngine::LoadBank("GeneralBank.bnk", -1, id));
  });
  other.Join("another game thread's waited load", std::chrono::seconds(10));
  EXPECT_EQ(waited.load(), int(SN_BankAlreadyLoaded));
}

TEST_F(ThrowingCallbackTest, APlayCallbackThatThrowsReachesRenderAudioAfterItsPass) {
  PlayCallbackCount throwing, counting;
  throwing.throws = true;
  const uint32_t thrower =
      SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &PlayCallbackCount::Played, &throwing);
  ASSERT_NE(thrower, 0u);
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &PlayCallbackCount::Played, &counting),
            0u);
  int throws = 0;
  for (int frame = 0; frame < 8 && throwing.calls.load() == 0; ++frame) {
    try {
      OutputTest::RenderNullFrame();
    } catch (const std::runtime_error& thrown) {
      EXPECT_EQ(std::string(thrown.what()), "the game's play callback threw");
      ++throws;
    }
  }
  ASSERT_EQ(throwing.calls.load(), 1) << "the throwing callback never came";
  EXPECT_EQ(throws, 1) << "RenderAudio did not throw what its pass's callback threw";
  // The pass ran whole: the other play's callback came in it, and the next passes run.
  EXPECT_EQ(counting.calls.load(), 1);
  Frames(2);
  const uint32_t later =
      SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &PlayCallbackCount::Played, &counting);
  ASSERT_NE(later, 0u);
  for (int frame = 0; frame < 8 && counting.calls.load() < 2; ++frame) Frames(1);
  EXPECT_EQ(counting.calls.load(), 2) << "no callback came after the throw";
  // No callback counted as running is left behind: a cancel on another thread returns.
  OrvTest::WaitedThread cancel([&] { SoundEngine::CancelEventCallback(thrower); });
  cancel.Join("a cancel of the throwing play's callbacks", std::chrono::seconds(10));
}

// On the engine's threads nothing of the game's is around the callback: an Error line names it.
TEST_F(ThrowingCallbackThreadsTest, ACallbackThatThrowsOnTheEnginesThreadsIsSaidAndTheEngineGoesOn) {
  ThrowingBankCallback bank;
  ASSERT_EQ(SoundEngine::UnloadBank(kBankNeverLoaded, nullptr, &ThrowingBankCallback::Answer, &bank), SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return bank.calls.load() == 1; }, "the bank callback on the bank thread"));
  uint32_t id = 0;
  EXPECT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_BankAlreadyLoaded);
  PlayCallbackCount play;
  play.throws = true;
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &PlayCallbackCount::Played, &play), 0u);
  std::string said;
  // The audio thread's lines are written by the game's next renders.
  EXPECT_TRUE(OrvTest::WaitUntil(
      [&] {
        EXPECT_EQ(OutputTest::RenderNullFrame(), SN_Success);
        said += log_.Take();
        return said.find("A play callback threw outside any call of the game") != std::string::npos;
      },
      "the Error line of the play callback on the audio thread"))
      << said;
  EXPECT_EQ(play.calls.load(), 1);
  EXPECT_NE(said.find("A bank callback threw outside any call of the game"), std::string::npos) << said;
}

}  // namespace
