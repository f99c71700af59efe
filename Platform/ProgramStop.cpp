// The stop signals' handlers and the answer the program gives a stop once it has shut down.
#include "Platform/ProgramStop.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "Platform/PreparedLine.h"
#include "Platform/Threading.h"

namespace Platform {

namespace {

// Written by the signal handlers, read by the main loop and the X library's handlers on other threads.
// The first signal's handler claims the stop (g_received), says its line, then notes it (g_stopSignal),
// so that the main loop, seeing the stop, knows whether it was said.
std::atomic<int> g_received{0};
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler writes it");
std::atomic<bool> g_stopSaid{false};
// How long a next stop waits for the first one's line, said on another thread, before it ends the process.
constexpr int kWaitForFirstLineMs = 1000;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
PreparedLine g_receivedLines[std::size(kStopSignals)];
PreparedLine g_stuckLines[std::size(kStopSignals)];

// The watch on a stop's end: posted by the first stop's handler. Its thread lives as long as the process.
sem_t g_stopCame;
std::atomic<bool> g_watching{false};
Thread* g_watch = nullptr;
// The main thread's processor time.
clockid_t g_mainThreadClock = CLOCK_THREAD_CPUTIME_ID;
// Bumped by the main thread as it moves (MarkProgress), read by the watch.
std::atomic<unsigned> g_progress{0};

void Sleep(long milliseconds) {
  const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

void OnStopSignal(int signal) {
  int none = 0;
  if (!g_received.compare_exchange_strong(none, signal)) {
    // A next stop: the first one's line said (its handler may run on another thread), it ends the process.
    for (int waited = 0; waited < kWaitForFirstLineMs && g_stopSignal.load() == 0; ++waited) Sleep(1);
    EndBySignal(signal);
  }
  if (g_watching.load()) sem_post(&g_stopCame);
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    if (kStopSignals[i] == signal && g_receivedLines[i].Write()) g_stopSaid.store(true);
  g_stopSignal.store(signal);
}

long long MainThreadRunningNs() {
  timespec now{};
  return clock_gettime(g_mainThreadClock, &now) == 0 ? now.tv_sec * 1000000000ll + now.tv_nsec : 0;
}

// Waits for a stop, then watches the program's progress until it ends by it; ends the process, its
// stuck line said, once the program is stuck (see InstallStopSignalHandlers).
uint32_t WatchStop(void*) {
  while (sem_wait(&g_stopCame) != 0) {
  }
  using Clock = std::chrono::steady_clock;
  DIR* const tasks = opendir("/proc/self/task");
  const long watch = long(syscall(SYS_gettid));
  Clock::time_point last = Clock::now(), moved = last;
  unsigned progress = g_progress.load(std::memory_order_relaxed);
  long long waited = 0, ranFrom = MainThreadRunningNs();
  while (waited < kStuckWaitMs * 1000000ll && MainThreadRunningNs() - ranFrom < kStuckBusyMs * 1000000ll) {
    Sleep(20);
    const Clock::time_point now = Clock::now();
    const bool working = tasks && AnyThreadAtWork(tasks, watch);
    if (const unsigned marked = g_progress.load(std::memory_order_relaxed); marked != progress) {
      progress = marked;
      moved = now;
      waited = 0;
      ranFrom = MainThreadRunningNs();
    } else if (!working) {
      waited += std::chrono::duration_cast<std::chrono::nanoseconds>(now - last).count();
    }
    last = now;
  }
  // Said without the log (the stuck thread may hold it): the line made ahead, its time put in here.
  const long long tenths = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - moved).count() / 100;
  char stuckFor[32];
  std::snprintf(stuckFor, sizeof stuckFor, "%lld.%lld s", tenths / 10, tenths % 10);
  const int signal = g_received.load();
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    if (kStopSignals[i] == signal) g_stuckLines[i].Write(stuckFor);
  EndBySignal(signal);
}

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

bool AnyThreadAtWork(DIR* tasks, long except) {
  rewinddir(tasks);
  while (const dirent* entry = readdir(tasks)) {
    const long tid = std::strtol(entry->d_name, nullptr, 10);
    if (tid <= 0 || tid == except) continue;
    char path[48], text[512];
    std::snprintf(path, sizeof path, "%ld/stat", tid);
    const int file = openat(dirfd(tasks), path, O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    const ssize_t got = read(file, text, sizeof text - 1);
    close(file);
    if (got <= 0) continue;
    text[got] = '\0';
    // The state follows the thread's name, which is in brackets and may hold any character.
    const char* named = std::strrchr(text, ')');
    if (named && (named[2] == 'R' || named[2] == 'D')) return true;
  }
  return false;
}

void InstallStopSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  pthread_getcpuclockid(pthread_self(), &g_mainThreadClock);
  // A thread of the program's like any other: the stop signals blocked, a fault on it said and dumped.
  if (sem_init(&g_stopCame, 0, 0) == 0) {
    g_watch = StartThread(&WatchStop, nullptr, {}, "StopWatch");
    g_watching.store(g_watch != nullptr);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // Calls that were waiting go on. The handler stays: a next stop ends the process (above), and one
  // arriving while the first is said waits for it.
  action.sa_mask = StopSignalSet();
  action.sa_flags = SA_RESTART;
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

StopSignalsBlocked::StopSignalsBlocked() {
  const sigset_t stops = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &stops, &m_previous);
}

StopSignalsBlocked::~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }

void MarkProgress() { g_progress.fetch_add(1, std::memory_order_relaxed); }

void SetStopSignalLines(FixedLineMaker received, StuckLineMaker stuck) {
  const char slot[] = {PreparedLine::kSlot, '\0'};
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    const char* name = StopSignalName(kStopSignals[i]);
    g_receivedLines[i].Set(received ? received(name) : FixedLine());
    g_stuckLines[i].Set(stuck ? stuck(name, slot) : FixedLine());
  }
}

bool StopSignalSaid() { return g_stopSaid.load(); }

StopRequest PendingStop() {
  StopRequest stop;
  if (const int signal = g_stopSignal) {
    stop.kind = StopRequest::Signal;
    stop.signal = signal;
  } else if (std::string display = LostDisplayName(); !display.empty()) {
    stop.kind = StopRequest::DisplayLost;
    stop.display = std::move(display);
  }
  return stop;
}

const char* StopSignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
  }
}

void EndAsStopSignalAsks() {
  if (!g_received.load()) return;
  std::fflush(nullptr);
  EndAsStopSignalAsksNow();
}

void EndAsStopSignalAsksNow() {
  if (const int signal = g_received.load()) EndBySignal(signal);
}

void EndBySignal(int signal) {
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signal, &standard, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace Platform
