// The bank manager with a thread of its own, "SN::BankManager": commands run there one at a time in
// the order they were queued, so that a load never blocks the game or the audio thread.
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
  static constexpr uint32_t kBlockNodes = 10;

  CSnThreadedSoundBankManager() = default;
  ~CSnThreadedSoundBankManager() override;

  // The base, the queue's node block, then the thread (none: SN_Failure).
  SNRESULT Init() override;
  // Drops what is still queued, then the base.
  void Term() override;
  // Any thread: 1 once queued; the outcome goes to the callback.
  SNRESULT QueueCommand(const SnBankCommand& command) override;
  // Ends the thread; commands still queued are dropped (see DropQueue).
  void StopThread() override;

  // For tests: holds the thread before its first command, so that commands pile up.
  void HoldThread();
  void ReleaseThread();
  bool IsBankThread() const override;
  uint32_t QueuedCount() {
    Platform::ReentrantGuard guard(m_queueLock);
    return m_nodeCount;
  }

 protected:
  bool RunsCommandsOnThisThread() const override {
    return IsBankThread() || CSnSoundBankManager::RunsCommandsOnThisThread();
  }
  // Queued with the waiting completion: returns once the audio thread ended the bank.
  SNRESULT UnloadBankSync(const SnBankCommand& command, int32_t* poolId) override {
    return QueueAndWait(command, poolId);
  }

 private:
  struct Node {
    Node* next;
    SnBankCommand command;
  };
  static uint32_t ThreadMain(void* context);
  void Run();
  void FreeNode(Node* node);
  // Queued commands are dropped without running: game callbacks stay uncalled and their cookies
  // are withdrawn; callers waiting for a dropped command are released with SN_Failure.
  void DropQueue();

  Platform::Event m_wake{Platform::Event::Reset::Auto};
  std::atomic<uint32_t> m_stop{0};
  Platform::ReentrantLock m_queueLock;
  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  Node* m_free = nullptr;
  Node* m_block = nullptr;
  uint32_t m_nodeCount = 0;
  Platform::Thread* m_thread = nullptr;
  std::atomic<uint64_t> m_threadId{0};
  Platform::Event m_hold{Platform::Event::Reset::Manual, true};
};

// The manager Init makes (threaded when `useBankThread` is set); null pointers when there is none.
SNRESULT CreateBankManager(bool useBankThread);
// Term steps: the thread ends (after the audio thread), then the manager goes (after the audio manager).
void StopBankManager();
void DestroyBankManager();

}  // namespace SN
