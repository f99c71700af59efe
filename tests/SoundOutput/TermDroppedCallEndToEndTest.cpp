// Term drops the bank calls still queued, and each dropped call's callback comes on the thread its
// place's callbacks come on: the bank thread, or without it a pass's end on the audio thread. So a
// playlist locked in one bank callback is unlocked in the callback of the next call, which Term drops,
// by its holder, and Term returns.
#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;
namespace Seq = SoundEngine::DynamicSequence;

// A call made now is refused: Term has closed the gate.
bool TermHasBegun() {
  static int cookie;
  return SoundEngine::CancelBankCallbackCookie(&cookie) == SN_Failure;
}

// Bank thread, audio thread.
class TermDroppedCallTest : public SoundEndToEndTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {
 public:
  void BeforeInit() override {
    settings_.useBankThread = BankThread() ? 1 : 0;
    settings_.useAudioThread = std::get<1>(GetParam()) ? 1 : 0;
  }
  static bool BankThread() { return std::get<0>(GetParam()); }
};

// A playlist locked in one bank call's callback and unlocked in the callback of the next call, which
// Term drops: where each callback came, and what the unlock answered. The first callback holds its
// thread until Term has begun, so that the next call is still queued then.
struct LockedAcrossBankCallbacks {
  static constexpr uint32_t kNeverLoaded = 12345;
  uint32_t sequence = 0;
  bool keepsNext = false;  // the first callback makes the next call (kept for a pass's end)
  Platform::Event locked{Platform::Event::Reset::Manual};
  std::atomic<bool> gotPlaylist{false};
  std::atomic<std::thread::id> lockedOn{}, droppedOn{};
  std::atomic<int> droppedResult{-1}, unlockResult{-1};
  std::atomic<uint32_t> postedThere{~0u};  // a post in the dropped call's callback: refused, 0
  static void Locking(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto& self = *static_cast<LockedAcrossBankCallbacks*>(cookie);
    self.lockedOn = std::this_thread::get_id();
    self.gotPlaylist = Seq::LockPlaylist(self.sequence) != nullptr;
    if (self.keepsNext) {
      EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &Unlocking, &self), SN_Success);
    }
    self.locked.Set();
    OrvTest::WaitUntil(TermHasBegun, "Term to begin");
  }
  static void Unlocking(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto& self = *static_cast<LockedAcrossBankCallbacks*>(cookie);
    self.droppedOn = std::this_thread::get_id();
    self.droppedResult = int(result);
    self.postedThere = SoundEngine::PostEvent("Play_Beep", kObject);
    self.unlockResult = int(Seq::UnlockPlaylist(self.sequence));
  }
  // A play's first duration callback, in a pass, keeps the call whose callback locks.
  static void Played(uint32_t, SnCallbackInfo* info) {
    auto& self = *static_cast<LockedAcrossBankCallbacks*>(info->cookie);
    if (!std::exchange(self.keepsNext, true)) {
      EXPECT_EQ(SoundEngine::UnloadBank(kNeverLoaded, nullptr, &Locking, &self), SN_Success);
    }
  }
};

// With the bank thread, the game's next load is dropped by Term and its callback comes on the bank
// thread, where the playlist is held; without it, with the audio thread, a chain kept in passes is
// dropped and answered at a pass's end on the audio thread. Either way the unlock is the holder's.
TEST_P(TermDroppedCallTest, ItsCallbackComesWhereItsPlaceCallsBackSoItsUnlockEndsTheHold) {
  const bool audioThread = std::get<1>(GetParam());
  if (!BankThread() && !audioThread)
    GTEST_SKIP() << "without the engine's threads a kept call's answer comes on Term's thread";
  LockedAcrossBankCallbacks calls;
  calls.sequence = Seq::Open(kObject);
  ASSERT_NE(calls.sequence, 0u);
  if (BankThread()) {
    const std::vector<uint8_t>& first = BankImage(LoopingBankText("Locking", 330), "Locking");
    const std::vector<uint8_t>& next = BankImage(LoopingBankText("Unlocking", 440), "Unlocking");
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(first.data(), uint32_t(first.size()), &LockedAcrossBankCallbacks::Locking,
                                    &calls, id),
              SN_Success);
    ASSERT_TRUE(OrvTest::WaitUntilSet(calls.locked, "the first load's callback to lock the playlist"));
    ASSERT_EQ(SoundEngine::LoadBank(next.data(), uint32_t(next.size()), &LockedAcrossBankCallbacks::Unlocking,
                                    &calls, id),
              SN_Success);
  } else {
    ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject, SnCallback_Duration, &LockedAcrossBankCallbacks::Played,
                                     &calls),
              0u);
    ASSERT_TRUE(OrvTest::WaitUntil(
        [&] {
          return calls.locked.Wait(0) == Platform::WaitResult::Signalled || (OutputTest::RenderNullFrame(), false);
        },
        "the kept call's callback to lock the playlist at a pass's end"));
  }
  EXPECT_NE(calls.lockedOn.load(), std::this_thread::get_id());
  std::atomic<bool> engineDown{false};
  OrvTest::WaitedThread term([&] {
    SoundEngine::Term();
    engineDown = !SoundEngine::IsInitialized();
  });
  term.Join("Term, once the callback of the call it dropped has unlocked the playlist on its holder's thread",
            std::chrono::seconds(10));
  EXPECT_TRUE(calls.gotPlaylist.load());
  EXPECT_EQ(calls.droppedResult.load(), int(SN_Failure));
  EXPECT_EQ(calls.droppedOn.load(), calls.lockedOn.load())
      << "the dropped call's callback came elsewhere than the " << (BankThread() ? "bank" : "audio") << " thread";
  EXPECT_EQ(calls.unlockResult.load(), int(SN_Success)) << "the holder's unlock was refused";
  EXPECT_EQ(calls.postedThere.load(), 0u) << "a call other than the unlock was admitted once Term had begun";
  EXPECT_TRUE(engineDown.load());
}

INSTANTIATE_TEST_SUITE_P(Threads, TermDroppedCallTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "BankThread" : "NoBankThread") +
                                  (std::get<1>(info.param) ? "AudioThread" : "NoAudioThread");
                         });

}  // namespace
