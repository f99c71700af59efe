// Test helper: the one way a test waits for another thread. Every wait ends by a deadline on the
// steady clock and, when it passes, fails the test naming what it waited for, so a test that cannot
// finish says why within seconds instead of running into CTest's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "Platform/Threading.h"

namespace OrvTest {

// Long enough for a sanitized build on a busy 2-CPU machine, short beside CTest's 300 s.
constexpr std::chrono::seconds kWaitLimit{30};

namespace WaitDetail {

// `what` is a text or a callable giving one (evaluated only at the deadline, when it may read the
// state that never came).
template <typename What>
std::string Describe(const What& what) {
  if constexpr (std::is_invocable_v<const What&>) {
    std::ostringstream text;
    text << what();
    return text.str();
  } else {
    return std::string(what);
  }
}

inline std::string Seconds(std::chrono::steady_clock::duration limit) {
  std::ostringstream text;
  text << std::chrono::duration_cast<std::chrono::milliseconds>(limit).count() / 1000.0 << " s";
  return text.str();
}

}  // namespace WaitDetail

// Polls `done` until it holds; false (and a failure saying "Waited <limit> for <what>") once `limit`
// has passed. The first polls only yield; later ones sleep `pause`, so that a long wait leaves the
// CPU to the threads it waits for on a machine with few of them.
template <typename Done, typename What>
bool WaitUntil(Done&& done, const What& what, std::chrono::steady_clock::duration limit = kWaitLimit,
               std::chrono::steady_clock::duration pause = std::chrono::microseconds(100)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (uint32_t polls = 0; !done(); ++polls) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "Waited " << WaitDetail::Seconds(limit) << " for " << WaitDetail::Describe(what);
      return false;
    }
    if (polls < 1000)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(pause);
  }
  return true;
}

// A condition variable's wait for `done` under `lock`, with the same deadline and failure.
template <typename Lock, typename Done, typename What>
bool WaitUntil(std::condition_variable& changed, Lock& lock, Done&& done, const What& what,
               std::chrono::steady_clock::duration limit = kWaitLimit) {
  if (changed.wait_until(lock, std::chrono::steady_clock::now() + limit, done)) return true;
  ADD_FAILURE() << "Waited " << WaitDetail::Seconds(limit) << " for " << WaitDetail::Describe(what);
  return false;
}

// An event another thread sets, with the same deadline and failure.
template <typename What>
bool WaitUntilSet(Platform::Event& event, const What& what, std::chrono::steady_clock::duration limit = kWaitLimit) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
  if (event.Wait(uint32_t(ms)) == Platform::WaitResult::Signalled) return true;
  ADD_FAILURE() << "Waited " << WaitDetail::Seconds(limit) << " for " << WaitDetail::Describe(what);
  return false;
}

// A thread of the test, joined within a deadline. A thread that has not ended by then still runs on
// the test's state (a wait of its own that never ends, or an answer that never comes), so the test
// cannot go on and the binary must not hang on it: the failure names what was waited for, and the
// process aborts at once rather than at CTest's time-out.
class WaitedThread {
 public:
  template <typename Body>
  explicit WaitedThread(Body body)
      : ended_(std::make_shared<Platform::Event>(Platform::Event::Reset::Manual)),
        thread_([ended = ended_, body = std::move(body)]() mutable {
          body();
          ended->Set();
        }) {}
  WaitedThread(WaitedThread&&) = default;
  WaitedThread& operator=(WaitedThread&&) = delete;
  ~WaitedThread() {
    if (thread_.joinable()) Join("a thread of the test to end");
  }

  template <typename What>
  void Join(const What& what, std::chrono::steady_clock::duration limit = kWaitLimit) {
    if (!WaitUntilSet(*ended_, what, limit)) {
      std::fprintf(stderr, "A thread of the test still runs after %s for %s: the test cannot go on.\n",
                   WaitDetail::Seconds(limit).c_str(), WaitDetail::Describe(what).c_str());
      std::fflush(nullptr);
      std::abort();
    }
    thread_.join();
  }

 private:
  std::shared_ptr<Platform::Event> ended_;
  std::thread thread_;
};

}  // namespace OrvTest
