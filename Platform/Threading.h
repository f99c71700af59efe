// Threads, re-entrant locks and wake-up events of our own over the C++ standard library, shaped as
// the sound engine's threads use them: named threads with settings, events with timed waits and a
// wait on any of a few events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform {

// A lock its owner may take again: callbacks run under a lock re-enter code that takes it too.
class ReentrantLock {
 public:
  void lock() {
    m_mutex.lock();
    NoteEntered();
  }
  bool try_lock() {
    if (!m_mutex.try_lock()) return false;
    NoteEntered();
    return true;
  }
  void unlock() {
    NoteLeaving();
    m_mutex.unlock();
  }
  // For debug-build asserts of functions that expect the lock held; release builds answer true.
  bool IsHeldByCurrentThread() const {
#ifdef NDEBUG
    return true;
#else
    return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
#endif
  }

 private:
#ifdef NDEBUG
  void NoteEntered() {}
  void NoteLeaving() {}
#else
  // Only the holder writes these, while it holds the lock.
  void NoteEntered() {
    if (m_depth++ == 0) m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void NoteLeaving() {
    if (--m_depth == 0) m_owner.store(std::thread::id(), std::memory_order_relaxed);
  }
  std::atomic<std::thread::id> m_owner{};
  uint32_t m_depth = 0;
#endif
  std::recursive_mutex m_mutex;
};

using ReentrantGuard = std::lock_guard<ReentrantLock>;

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitResult { Signalled, TimedOut };

// A signal one thread raises and another waits for. An auto-reset event lets one wait through per
// Set and closes again; a manual-reset event stays open until Reset.
class Event {
 public:
  enum class Reset { Auto, Manual };
  explicit Event(Reset mode, bool initiallySet = false) : m_manual(mode == Reset::Manual), m_set(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Clear();
  WaitResult Wait(uint32_t timeoutMs);

 private:
  friend int WaitAny(Event* const* events, int count, uint32_t timeoutMs);
  struct AnyWaiter;
  // True when the event is open; an auto-reset event closes as it is taken. Caller holds m_mutex.
  bool TakeLocked();
  bool Take();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<AnyWaiter*> m_anyWaiters;
  const bool m_manual;
  bool m_set;
};

constexpr int kMaxWaitAny = 3;
// Waits until one of `count` (1 to kMaxWaitAny) events is set. Returns the index of the event taken
// (the lowest index when several are open), -1 on time-out, -2 for a bad count.
int WaitAny(Event* const* events, int count, uint32_t timeoutMs);

struct ThreadOptions {
  int32_t priority = 0;       // 0 normal; above 0 asks for more time where the system grants it
  uint64_t affinityMask = 0;  // 0 leaves the thread free to run on any processor
  uint32_t stackBytes = 0;    // raised to a floor that instrumented builds survive
};

using ThreadRoutine = uint32_t (*)(void* context);
class Thread;

// Starts `routine(context)` on a new thread named `name` (cut to what the system keeps). Null when
// no thread could be made. Priority is best effort; affinity is applied only when not 0.
Thread* StartThread(ThreadRoutine routine, void* context, const ThreadOptions& options, const char* name);
// Waits for the thread to end and frees its handle; returns the routine's result.
uint32_t JoinThread(Thread* thread);
uint64_t CurrentThreadId();
// The name the system keeps for the calling thread.
void CurrentThreadName(char* out, size_t size);

constexpr uint32_t kMinThreadStackBytes = 1u << 20;

}  // namespace Platform
