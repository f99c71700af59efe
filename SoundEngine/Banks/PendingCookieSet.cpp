// Counting, calling back and cancelling the callbacks of queued bank commands.
#include "SoundEngine/Banks/PendingCookieSet.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

// Callbacks of this set running on the calling thread: a cancel inside one must not wait for itself.
thread_local uint32_t t_callbacksRunning = 0;

}  // namespace

CSnPendingCookieSet::~CSnPendingCookieSet() {
  if (m_entries != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_entries);
}

int32_t CSnPendingCookieSet::FindLocked(void* cookie) const {
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_entries[i].cookie == cookie) return int32_t(i);
  return -1;
}

void CSnPendingCookieSet::RemoveLocked(int32_t index) {
  memmove(m_entries + index, m_entries + index + 1, sizeof(Entry) * (m_count - uint32_t(index) - 1));
  if (--m_count || m_entries == m_inline) return;
  // No callback to come: the set holds no memory of the pool.
  MemoryMgr::Free(g_DefaultPoolId, m_entries);
  m_entries = m_inline;
  m_capacity = kInlineEntries;
}

SNRESULT CSnPendingCookieSet::AddPending(void* cookie) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t found = FindLocked(cookie);
  if (found >= 0) {
    ++m_entries[found].pending;
    return SN_Success;
  }
  if (m_count == m_capacity) {
    auto* grown = static_cast<Entry*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry) * size_t(m_capacity) * 2));
    if (!grown) return SN_InsufficientMemory;
    memcpy(grown, m_entries, sizeof(Entry) * m_count);
    if (m_entries != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_entries);
    m_entries = grown;
    m_capacity *= 2;
  }
  m_entries[m_count++] = Entry{cookie, 1, 0};
  return SN_Success;
}

void CSnPendingCookieSet::WaitForCallbacks(bool ownThread) {
  // Inside an audio pass (a play's or a bus callback) the pass holds the audio lock, which a running
  // bank callback may be waiting for: the cancel returns at once, and only the callbacks already
  // running on other threads may still end after it.
  if (ownThread || t_callbacksRunning || CSnAudioMgr::InAudioPassOnThisThread()) return;
  m_idle.Wait(Platform::kWaitForever);
}

void CSnPendingCookieSet::CancelAndWait(void* cookie, bool ownThread) {
  {
    Platform::ReentrantGuard guard(m_lock);
    const int32_t found = FindLocked(cookie);
    if (found >= 0) m_entries[found].cancelled = m_entries[found].pending;
  }
  WaitForCallbacks(ownThread);
}

void CSnPendingCookieSet::DoCallback(SnBankCallback callback, uint32_t id, const void* image, SNRESULT result,
                                     int32_t poolId, void* cookie) {
  if (!callback) return;
  bool cancelled;
  {
    Platform::ReentrantGuard guard(m_lock);
    const int32_t found = FindLocked(cookie);
    if (found < 0) return;
    Entry& entry = m_entries[found];
    cancelled = entry.cancelled != 0;
    if (entry.pending > 1) {
      --entry.pending;
      if (cancelled) --entry.cancelled;
    } else {
      RemoveLocked(found);
    }
    if (cancelled) return;
    // Counted before the lock goes: a canceller that takes it next sees this callback running.
    if (m_running++ == 0) m_idle.Clear();
  }
  ++t_callbacksRunning;
  callback(id, image, result, poolId, cookie);
  --t_callbacksRunning;
  Platform::ReentrantGuard guard(m_lock);
  if (--m_running == 0) m_idle.Set();
}

void CSnPendingCookieSet::RemovePending(void* cookie) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t found = FindLocked(cookie);
  if (found < 0) return;
  Entry& entry = m_entries[found];
  if (entry.pending > 1) {
    --entry.pending;
    if (entry.cancelled) --entry.cancelled;
  } else {
    RemoveLocked(found);
  }
}

void CSnPendingCookieSet::RemovePendingAndWait(void* cookie, bool ownThread) {
  RemovePending(cookie);
  WaitForCallbacks(ownThread);
}

uint32_t CSnPendingCookieSet::PendingCount(void* cookie) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t found = FindLocked(cookie);
  return found < 0 ? 0 : m_entries[found].pending;
}

}  // namespace SN
