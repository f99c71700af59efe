// The cookies of bank commands whose completion callbacks are still to come: counted when a command
// is queued, called back through here, and cancelled so that no callback of a cookie runs once its
// cancellation has returned.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"

namespace SN {

using SnBankCallback = void (*)(uint32_t id, const void* image, SNRESULT result, int32_t poolId, void* cookie);

class CSnPendingCookieSet {
 public:
  CSnPendingCookieSet() = default;
  ~CSnPendingCookieSet();
  CSnPendingCookieSet(const CSnPendingCookieSet&) = delete;
  CSnPendingCookieSet& operator=(const CSnPendingCookieSet&) = delete;

  // One more callback to come for the cookie; SN_InsufficientMemory when the set cannot grow.
  SNRESULT AddPending(void* cookie);
  // Every callback still to come for the cookie is cancelled; then waits until no callback runs,
  // except on `ownThread` (the bank thread), on a thread that is running a callback itself, and
  // inside an audio pass.
  void CancelAndWait(void* cookie, bool ownThread);
  // Any thread: the callback of one completed command, unless its cookie was cancelled. A cookie
  // without an entry calls nothing.
  void DoCallback(SnBankCallback callback, uint32_t id, const void* image, SNRESULT result, int32_t poolId,
                  void* cookie);
  // A counted callback that will not come (its command was dropped); waits as CancelAndWait does.
  void RemovePendingAndWait(void* cookie, bool ownThread);
  // The same without waiting, for the thread that drops commands.
  void RemovePending(void* cookie);
  uint32_t PendingCount(void* cookie);

 private:
  struct Entry {
    void* cookie;
    uint32_t pending;
    uint32_t cancelled;
  };
  int32_t FindLocked(void* cookie) const;
  void RemoveLocked(int32_t index);
  void WaitForCallbacks(bool ownThread);

  // A few cookies are kept without memory of the pool; more grow an array of it.
  static constexpr uint32_t kInlineEntries = 4;
  Entry m_inline[kInlineEntries] = {};
  Entry* m_entries = m_inline;
  uint32_t m_count = 0;
  uint32_t m_capacity = kInlineEntries;
  Platform::ReentrantLock m_lock;
  // Open while no callback runs: raised with the running count under the lock, so that a canceller
  // taking the lock after a callback was counted always waits for it.
  Platform::Event m_idle{Platform::Event::Reset::Manual, true};
  uint32_t m_running = 0;
};

}  // namespace SN
