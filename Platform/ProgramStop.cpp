// The stop signals' handlers and the answer the program gives a stop once it has shut down.
#include "Platform/ProgramStop.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <utility>

#include "Platform/PreparedLine.h"

namespace Platform {

namespace {

// Written by the signal handlers, read by the main loop and the X library's handlers on other threads.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler writes it");
// The first signal's handler owns the stop from here; it says its line before the stop is noted, so
// that the main loop, seeing the stop, knows whether it was said.
std::atomic<bool> g_stopArrived{false};
std::atomic<bool> g_stopSaid{false};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
PreparedLine g_receivedLines[std::size(kStopSignals)];

void OnStopSignal(int signal) {
  bool arrived = false;
  if (!g_stopArrived.compare_exchange_strong(arrived, true)) return;
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    if (kStopSignals[i] == signal && g_receivedLines[i].Write()) g_stopSaid.store(true);
  g_stopSignal.store(signal);
}

}  // namespace

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Calls that were waiting go on; the handler gives way to the default after its first signal.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

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
