// Counting, calling back and cancelling the callbacks of queued bank calls, one entry per call.
#include "SoundEngine/Banks/PendingBankCallbacks.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

namespace {
const std::thread::id kNotRunning{};
}  // namespace

CSnPendingBankCallbacks::~CSnPendingBankCallbacks() {
  if (m_entries != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_entries);
}

int32_t CSnPendingBankCallbacks::FindLocked(uint64_t callId) const {
  uint32_t low = 0, high = m_count;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (m_entries[middle].callId < callId)
      low = middle + 1;
    else
      high = middle;
  }
  return low < m_count && m_entries[low].callId == callId ? int32_t(low) : -1;
}

void CSnPendingBankCallbacks::ShrinkLocked(uint32_t kept) {
  m_count = kept;
  if (m_count || m_entries == m_inline) return;
  // No callback to come: the set holds no memory of the pool.
  MemoryMgr::Free(g_DefaultPoolId, m_entries);
  m_entries = m_inline;
  m_capacity = kInlineEntries;
}

void CSnPendingBankCallbacks::RemoveLocked(int32_t index) {
  memmove(m_entries + index, m_entries + index + 1, sizeof(Entry) * (m_count - uint32_t(index) - 1));
  ShrinkLocked(m_count - 1);
}

SNRESULT CSnPendingBankCallbacks::AddPending(void* cookie, uint64_t& callId) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_count == m_capacity) {
    auto* grown = static_cast<Entry*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry) * size_t(m_capacity) * 2));
    if (!grown) return SN_InsufficientMemory;
    memcpy(grown, m_entries, sizeof(Entry) * m_count);
    if (m_entries != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_entries);
    m_entries = grown;
    m_capacity *= 2;
  }
  callId = ++m_lastId;
  m_entries[m_count++] = Entry{callId, cookie, kNotRunning};
  return SN_Success;
}

void CSnPendingBankCallbacks::CancelAndWait(void* cookie, bool mayWait) {
  std::unique_lock<std::mutex> lock(m_lock);
  // The calls made up to here; a callback already running is the last of its call and only waited for.
  const uint64_t upTo = m_lastId;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_entries[i].cookie != cookie || m_entries[i].runningOn != kNotRunning) m_entries[kept++] = m_entries[i];
  ShrinkLocked(kept);
  if (!mayWait) return;
  Waiter self{std::this_thread::get_id(), cookie, upTo, m_waiters};
  m_waiters = &self;
  ++m_waiterCount;
  m_callbackEnded.wait(lock, [&] {
    for (uint32_t i = 0; i < m_count && m_entries[i].callId <= upTo; ++i) {
      const Entry& entry = m_entries[i];
      if (entry.cookie != cookie || entry.runningOn == kNotRunning || entry.runningOn == self.thread) continue;
      if (!WaitsForLocked(entry.runningOn, self.thread, m_waiterCount)) return false;
    }
    return true;
  });
  // Left under the lock the last look took: a cancel waiting for this thread sees it gone.
  Waiter** link = &m_waiters;
  while (*link != &self) link = &(*link)->next;
  *link = self.next;
  --m_waiterCount;
}

bool CSnPendingBankCallbacks::WaitsForLocked(std::thread::id thread, std::thread::id target, uint32_t depth) const {
  if (depth == 0) return false;
  for (const Waiter* waiter = m_waiters; waiter; waiter = waiter->next) {
    if (waiter->thread != thread) continue;
    for (uint32_t i = 0; i < m_count && m_entries[i].callId <= waiter->upTo; ++i) {
      const Entry& entry = m_entries[i];
      if (entry.cookie != waiter->cookie || entry.runningOn == kNotRunning || entry.runningOn == thread) continue;
      if (entry.runningOn == target || WaitsForLocked(entry.runningOn, target, depth - 1)) return true;
    }
  }
  return false;
}

void CSnPendingBankCallbacks::DoCallback(uint64_t callId, SnBankCallback callback, uint32_t id, const void* image,
                                         SNRESULT result, int32_t poolId, void* cookie) {
  if (!callback) return;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    const int32_t found = FindLocked(callId);
    if (found < 0 || m_entries[found].runningOn != kNotRunning) return;
    // Marked before the lock goes: a cancel that takes it next waits for this callback.
    m_entries[found].runningOn = std::this_thread::get_id();
  }
  // The entry goes however the callback ends.
  struct Ends {
    CSnPendingBankCallbacks& set;
    uint64_t callId;
    ~Ends() {
      {
        std::lock_guard<std::mutex> guard(set.m_lock);
        const int32_t found = set.FindLocked(callId);
        if (found >= 0) set.RemoveLocked(found);
      }
      set.m_callbackEnded.notify_all();
    }
  } ends{*this, callId};
  GameCode::Call(GameCode::Kind::BankCallback, [&] { callback(id, image, result, poolId, cookie); });
}

void CSnPendingBankCallbacks::RemovePending(uint64_t callId) {
  std::lock_guard<std::mutex> guard(m_lock);
  const int32_t found = FindLocked(callId);
  if (found >= 0 && m_entries[found].runningOn == kNotRunning) RemoveLocked(found);
}

uint32_t CSnPendingBankCallbacks::PendingCount(void* cookie) {
  std::lock_guard<std::mutex> guard(m_lock);
  uint32_t count = 0;
  for (uint32_t i = 0; i < m_count; ++i) count += m_entries[i].cookie == cookie;
  return count;
}

}  // namespace SN
