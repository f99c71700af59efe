// The bank calls whose callbacks are still to come, one entry per call: taken when the call's command
// is queued, called back through here, and cancelled by cookie. A cancel covers the calls made with
// the cookie before it; a call made after it calls back as any other.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "MemoryMgr/SnResult.h"

namespace SN {

using SnBankCallback = void (*)(uint32_t id, const void* image, SNRESULT result, int32_t poolId, void* cookie);

class CSnPendingBankCallbacks {
 public:
  CSnPendingBankCallbacks() = default;
  ~CSnPendingBankCallbacks();
  CSnPendingBankCallbacks(const CSnPendingBankCallbacks&) = delete;
  CSnPendingBankCallbacks& operator=(const CSnPendingBankCallbacks&) = delete;

  // One callback to come, of a call made with the cookie: `callId` names the call (never 0) from then
  // on. SN_InsufficientMemory when the set cannot grow.
  SNRESULT AddPending(void* cookie, uint64_t& callId);
  // The calls made with the cookie so far call back no more. With `mayWait`, it then waits until none
  // of their callbacks runs on another thread; one running on this thread (the cancel is made inside
  // it) goes on, as does one whose thread waits in a cancel, itself or through others, for a callback
  // running on this one (two callbacks cancelling each other's cookies): the cancel that would close
  // that circle does not wait for it.
  void CancelAndWait(void* cookie, bool mayWait);
  // Any thread: the one callback of the call, unless it was cancelled. An id without an entry (never
  // counted, cancelled, or called already) calls nothing.
  void DoCallback(uint64_t callId, SnBankCallback callback, uint32_t id, const void* image, SNRESULT result,
                  int32_t poolId, void* cookie);
  // The call will not call back (its command was dropped).
  void RemovePending(uint64_t callId);
  // Calls of the cookie whose callbacks are still to come or running.
  uint32_t PendingCount(void* cookie);

 private:
  struct Entry {
    uint64_t callId;
    void* cookie;
    std::thread::id runningOn;  // the thread running its callback; none while it is still to come
  };
  // A cancel waiting for callbacks on other threads, on its stack.
  struct Waiter {
    std::thread::id thread;
    void* cookie;
    uint64_t upTo;  // the calls it covers
    Waiter* next;
  };
  // With the lock held: whether the cancel waiting on `thread` waits, itself or through the cancels
  // it waits for (at most `depth` of them), for a callback running on `target`.
  bool WaitsForLocked(std::thread::id thread, std::thread::id target, uint32_t depth) const;
  // With the lock held: the entry's index (entries keep the order of their ids), or -1.
  int32_t FindLocked(uint64_t callId) const;
  // With the lock held: the set without its entries from `kept` on.
  void ShrinkLocked(uint32_t kept);
  void RemoveLocked(int32_t index);

  // A few calls are kept without memory of the pool; more grow an array of it, given back when empty.
  static constexpr uint32_t kInlineEntries = 4;
  Entry m_inline[kInlineEntries] = {};
  Entry* m_entries = m_inline;
  uint32_t m_count = 0;
  uint32_t m_capacity = kInlineEntries;
  uint64_t m_lastId = 0;
  Waiter* m_waiters = nullptr;
  uint32_t m_waiterCount = 0;
  std::mutex m_lock;
  std::condition_variable m_callbackEnded;
};

}  // namespace SN
