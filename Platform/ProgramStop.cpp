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

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "Platform/PreparedLine.h"
#include "Platform/Threading.h"

namespace Platform {

namespace {

// Written by the signal handlers, read by the main loop and the X library's handlers on other threads.
// The first signal's handler claims the stop (g_received), says its line, then notes it (g_stopSignal),
// so that the main loop, seeing the stop, knows whether it was said.
// Once the program has ended without a stop, g_received holds kStopsOver: a signal then says nothing.
std::atomic<int> g_received{0};
constexpr int kStopsOver = -1;
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
// Bumped by the main thread as it moves (MarkProgress), read by the watch.
std::atomic<unsigned> g_progress{0};

void Sleep(long milliseconds) {
  const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

// Waits for the first stop's line, said by its handler on any thread.
void AwaitFirstLine() {
  for (int waited = 0; waited < kWaitForFirstLineMs && g_stopSignal.load() == 0; ++waited) Sleep(1);
}

void OnStopSignal(int signal) {
  int none = 0;
  if (!g_received.compare_exchange_strong(none, signal)) {
    // A next stop ends the process, once the first one's line is said; one after the end, unsaid.
    if (none != kStopsOver) AwaitFirstLine();
    EndBySignal(signal);
  }
  if (g_watching.load()) sem_post(&g_stopCame);
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    if (kStopSignals[i] == signal && g_receivedLines[i].Write()) g_stopSaid.store(true);
  g_stopSignal.store(signal);
}

// How the program's threads stand at a look, the watch's own aside: one running or waiting for a
// processor (work under way, however slowly the machine lets it go), else one waiting for the disk, else
// none; or unseen, when a thread's state could not be read. `atWork`, when given, takes the ids of all
// the threads running, waiting for a processor or for the disk, rather than the look ending at the first.
enum class Look { Runs, Disk, Still, Unseen };

Look LookAtThreads(DIR* tasks, long watch, std::vector<long>* atWork = nullptr) {
  if (!tasks) return Look::Unseen;
  rewinddir(tasks);
  Look look = Look::Still;
  while (const dirent* entry = readdir(tasks)) {
    const long tid = std::strtol(entry->d_name, nullptr, 10);
    if (tid <= 0 || tid == watch) continue;
    char path[48], text[512];
    std::snprintf(path, sizeof path, "%ld/stat", tid);
    const int file = openat(dirfd(tasks), path, O_RDONLY | O_CLOEXEC);
    // A thread that has ended since the folder was read is gone, not unseen.
    if (file < 0 && errno != ENOENT && errno != ESRCH) return Look::Unseen;
    if (file < 0) continue;
    const ssize_t got = read(file, text, sizeof text - 1);
    close(file);
    if (got <= 0) continue;
    text[got] = '\0';
    // The state follows the thread's name, which is in brackets and may hold any character.
    const char* named = std::strrchr(text, ')');
    const char state = named ? named[2] : '\0';
    if (atWork && (state == 'R' || state == 'D')) atWork->push_back(tid);
    if (state == 'R' && !atWork) return Look::Runs;
    if (state == 'R') look = Look::Runs;
    if (state == 'D' && look != Look::Runs) look = Look::Disk;
  }
  return look;
}

long long NsOf(clockid_t clock) {
  timespec now{};
  return clock_gettime(clock, &now) == 0 ? now.tv_sec * 1000000000ll + now.tv_nsec : 0;
}

// The processor time of the program's threads, the watch's own aside (it is the caller).
long long ProgramRunningNs() { return NsOf(CLOCK_PROCESS_CPUTIME_ID) - NsOf(CLOCK_THREAD_CPUTIME_ID); }

// Waits for a stop, then watches the program's progress until it ends by it; ends the process, its
// stuck line said, once the program is stuck (see InstallStopSignalHandlers).
uint32_t WatchStop(void*) {
  while (sem_wait(&g_stopCame) != 0) {
  }
  DIR* const tasks = opendir("/proc/self/task");
  const long watch = long(syscall(SYS_gettid));
  long long last = NsOf(CLOCK_MONOTONIC), moved = last, ranAt = ProgramRunningNs();
  unsigned progress = g_progress.load(std::memory_order_relaxed);
  // Since the last mark: the time in which the program ran, the share of a stillness limit spent, and
  // whether a look could not read the threads' states.
  long long ran = 0;
  double still = 0.0;
  bool unseen = false;
  while (ran < kStuckBusyMs * 1000000ll && still < 1.0) {
    Sleep(20);
    const long long now = NsOf(CLOCK_MONOTONIC), running = ProgramRunningNs();
    // Threads running side by side count once: the time in which any of them ran.
    const long long took = now - last, didRun = std::min(running - ranAt, took);
    last = now;
    ranAt = running;
    if (const unsigned marked = g_progress.load(std::memory_order_relaxed); marked != progress) {
      progress = marked;
      moved = now;
      ran = 0;
      still = 0.0;
      unseen = false;
      continue;
    }
    ran += didRun;
    const Look look = LookAtThreads(tasks, watch);
    unseen = unseen || look == Look::Unseen;
    const long limit = look == Look::Still ? kStuckWaitMs : look == Look::Disk ? kStuckDiskMs
                       : look == Look::Unseen ? kStuckUnseenMs : 0;
    if (limit) still += double(took) / (limit * 1e6);
  }
  // Said without the log (the stuck thread may hold it): the line made ahead, its time put in here.
  const long long tenths = (NsOf(CLOCK_MONOTONIC) - moved) / 100000000;
  char stuckFor[64];
  std::snprintf(stuckFor, sizeof stuckFor, "%lld.%lld s%s", tenths / 10, tenths % 10,
                unseen ? " (its threads unseen)" : "");
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
  const Look look = LookAtThreads(tasks, except);
  return look == Look::Runs || look == Look::Disk;
}

bool ThreadsAtWork(DIR* tasks, long except, std::vector<long>& atWork) {
  atWork.clear();
  return LookAtThreads(tasks, except, &atWork) != Look::Unseen;
}

void InstallStopSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
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
  int none = 0;
  if (g_received.compare_exchange_strong(none, kStopsOver)) return;
  AwaitFirstLine();
  std::fflush(nullptr);
  EndAsStopSignalAsksNow();
}

void EndAsStopSignalAsksNow() {
  if (const int signal = g_received.load(); signal > 0) EndBySignal(signal);
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
