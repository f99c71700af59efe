// Named threads over pthreads (stack size, name, affinity and priority need its attributes), events
// over a mutex and condition variable.
#include "Platform/Threading.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Platform/CrashDump.h"
#include "Platform/ProgramStop.h"

namespace Platform {

// One wait-any in progress: the events it watches poke it when they are set.
struct Event::AnyWaiter {
  std::mutex mutex;
  std::condition_variable poked;
  bool signalled = false;
};

void Event::Set() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_set = true;
  if (m_manual)
    m_changed.notify_all();
  else
    m_changed.notify_one();
  for (AnyWaiter* waiter : m_anyWaiters) {
    std::lock_guard<std::mutex> waiterLock(waiter->mutex);
    waiter->signalled = true;
    waiter->poked.notify_one();
  }
}

void Event::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_set = false;
}

bool Event::TakeLocked() {
  if (!m_set) return false;
  if (!m_manual) m_set = false;
  return true;
}

bool Event::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return TakeLocked();
}

WaitResult Event::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (timeoutMs == kWaitForever) {
    m_changed.wait(lock, [this] { return m_set; });
  } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; })) {
    return WaitResult::TimedOut;
  }
  TakeLocked();
  return WaitResult::Signalled;
}

int WaitAny(Event* const* events, int count, uint32_t timeoutMs) {
  if (count < 1 || count > kMaxWaitAny) return -2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  Event::AnyWaiter waiter;
  for (int i = 0; i < count; ++i) {
    std::lock_guard<std::mutex> lock(events[i]->m_mutex);
    events[i]->m_anyWaiters.push_back(&waiter);
  }
  int taken = -1;
  for (;;) {
    {
      // Cleared before the events are looked at, so a Set after the look still wakes the wait.
      std::lock_guard<std::mutex> lock(waiter.mutex);
      waiter.signalled = false;
    }
    for (int i = 0; i < count && taken < 0; ++i)
      if (events[i]->Take()) taken = i;
    if (taken >= 0) break;
    std::unique_lock<std::mutex> lock(waiter.mutex);
    if (timeoutMs == kWaitForever) {
      waiter.poked.wait(lock, [&] { return waiter.signalled; });
    } else if (!waiter.poked.wait_until(lock, deadline, [&] { return waiter.signalled; })) {
      break;
    }
  }
  for (int i = 0; i < count; ++i) {
    std::lock_guard<std::mutex> lock(events[i]->m_mutex);
    auto& list = events[i]->m_anyWaiters;
    list.erase(std::find(list.begin(), list.end(), &waiter));
  }
  return taken;
}

class Thread {
 public:
  pthread_t handle{};
  ThreadRoutine routine = nullptr;
  void* context = nullptr;
  char name[16] = {};
  uint32_t result = 0;
};

namespace {

void* ThreadMain(void* argument) {
  // Its faults are said from the start, before it is even named.
  const ThreadCrashStack crashStack;
  Thread* thread = static_cast<Thread*>(argument);
  pthread_setname_np(pthread_self(), thread->name);
  thread->result = thread->routine(thread->context);
  return nullptr;
}

}  // namespace

Thread* StartThread(ThreadRoutine routine, void* context, const ThreadOptions& options, const char* name) {
  if (!routine) return nullptr;
  Thread* thread = new Thread;
  thread->routine = routine;
  thread->context = context;
  // The system keeps 15 characters and the terminator.
  if (name) strncpy(thread->name, name, sizeof thread->name - 1);

  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete thread;
    return nullptr;
  }
  const size_t stack = std::max<size_t>(options.stackBytes, kMinThreadStackBytes);
  pthread_attr_setstacksize(&attributes, stack);
  bool created = false;
  {
    // The stop signals are the main thread's to take: the new thread starts with them blocked.
    const StopSignalsBlocked blocked;
    created = pthread_create(&thread->handle, &attributes, &ThreadMain, thread) == 0;
  }
  pthread_attr_destroy(&attributes);
  if (!created) {
    delete thread;
    return nullptr;
  }
  if (options.affinityMask != 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64 && cpu < CPU_SETSIZE; ++cpu)
      if (options.affinityMask & (uint64_t(1) << cpu)) CPU_SET(cpu, &set);
    pthread_setaffinity_np(thread->handle, sizeof set, &set);  // best effort, like the priority
  }
  if (options.priority > 0) {
    // Real-time scheduling needs a privilege most users lack; the thread then runs as it is.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_setschedparam(thread->handle, SCHED_RR, &param);
  }
  return thread;
}

uint32_t JoinThread(Thread* thread) {
  if (!thread) return 0;
  pthread_join(thread->handle, nullptr);
  const uint32_t result = thread->result;
  delete thread;
  return result;
}

uint64_t CurrentThreadId() { return uint64_t(syscall(SYS_gettid)); }

void CurrentThreadName(char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) == 0) {
    strncpy(out, name, size - 1);
    out[size - 1] = '\0';
  }
}

}  // namespace Platform
