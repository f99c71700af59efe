// The stop signals' handlers and the answer the program gives a stop once it has shut down.
#include "Platform/ProgramStop.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <utility>

namespace Platform {

namespace {

// Written by the signal handlers, read by the main loop and the X library's handlers on other threads.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler writes it");

void OnStopSignal(int signal) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, signal);
}

}  // namespace

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Calls that were waiting go on; the handler gives way to the default after its first signal.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

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
  const int signal = g_stopSignal;
  if (!signal) return;
  std::fflush(nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signal, &standard, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

}  // namespace Platform
