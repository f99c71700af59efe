// The bank manager with a thread of its own, "SN::BankManager": it runs the queue's commands one at a
// time in the order they were queued, so that a load never blocks the game or the audio thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "SoundEngine/Banks/SoundBankManager.h"

namespace Platform {
class Thread;
}

namespace SN {

class CSnThreadedSoundBankManager final : public CSnSoundBankManager {
 public:
  CSnThreadedSoundBankManager() : CSnSoundBankManager(true) {}
  ~CSnThreadedSoundBankManager() override;

  // The base (the queue's node block with it), then the thread (none: SN_Failure).
  SNRESULT Init() override;
  // The thread stops, then the base.
  void Term() override;
  // Ends the thread; the queue refuses commands from then on, and those still queued are dropped:
  // each is answered with SN_Failure, callers waiting for one released, callbacks called on the bank
  // thread while it runs (once the queue has closed), those it left on this thread (a cancel made
  // before withdraws them).
  void StopThread() override;

  // For tests: holds the thread before its next command, so that commands pile up; the queue's
  // close lets it go.
  void HoldThread();
  void ReleaseThread();
  bool IsBankThread() const override;

 private:
  static uint32_t ThreadMain(void* context);
  void Run();

  std::atomic<uint32_t> m_stop{0};
  Platform::Thread* m_thread = nullptr;
  std::atomic<uint64_t> m_threadId{0};
};

// The manager Init makes (threaded when `useBankThread` is set); null pointers when there is none.
SNRESULT CreateBankManager(bool useBankThread);
// Term steps: the thread ends (after the audio thread), then the manager goes (after the audio manager).
void StopBankManager();
void DestroyBankManager();

}  // namespace SN
