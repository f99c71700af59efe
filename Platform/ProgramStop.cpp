// The stop signals' handlers and the answer the program gives a stop once it has shut down.
#include "Platform/ProgramStop.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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

// The watch on a stop's end: posted by the first stop's handler. Its thread lives as long as the process.
sem_t g_stopCame;
std::atomic<bool> g_watching{false};
Thread* g_watch = nullptr;
long g_mainThread = 0;

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

// The main thread's time on a processor or waiting for one, in nanoseconds; -1 where the system does
// not keep it (all its time then counts as waited).
long long MainThreadActiveNs() {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%ld/schedstat", g_mainThread);
  FILE* file = std::fopen(path, "r");
  if (!file) return -1;
  long long running = 0, runnable = 0;
  const bool read = std::fscanf(file, "%lld %lld", &running, &runnable) == 2;
  std::fclose(file);
  return read ? running + runnable : -1;
}

// Waits for a stop, then for the program to end by it; ends the process once it has not in time.
uint32_t WatchStop(void*) {
  while (sem_wait(&g_stopCame) != 0) {
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point came = Clock::now();
  Clock::time_point last = came;
  long long lastActive = MainThreadActiveNs(), waited = 0;
  for (;;) {
    Sleep(20);
    const Clock::time_point now = Clock::now();
    const long long active = MainThreadActiveNs();
    const long long passed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last).count();
    const long long ran = active >= 0 && lastActive >= 0 ? active - lastActive : 0;
    waited += std::max(0ll, passed - ran);
    if (waited >= kStopDeadlineMs * 1000000ll || now - came >= std::chrono::milliseconds(kStopBusyDeadlineMs)) break;
    last = now;
    lastActive = active;
  }
  EndBySignal(g_received.load());
}

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void InstallStopSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  g_mainThread = long(syscall(SYS_gettid));
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

void SetStopSignalLines(FixedLineMaker received) {
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    g_receivedLines[i].Set(received ? received(StopSignalName(kStopSignals[i])) : FixedLine());
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
