// What the seeded random walks over the sound engine share: the seed and the length a run is given
// (ORV_FUZZ_SEED picks another walk, ORV_RANDOM_STEPS makes it longer), and the last steps kept for
// the report of a failure, which names the seed and the step, and the stacks of the threads a
// watchdog finds stuck.
#pragma once

#include <execinfo.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace RandomWalk {

inline uint32_t Seed() {
  const char* seed = std::getenv("ORV_FUZZ_SEED");
  return seed ? uint32_t(std::strtoul(seed, nullptr, 10)) : 1;
}
// The steps a run takes: `fallback` unless ORV_RANDOM_STEPS says.
inline bool StepsGiven() { return std::getenv("ORV_RANDOM_STEPS") != nullptr; }
inline uint32_t Steps(uint32_t fallback) {
  const char* steps = std::getenv("ORV_RANDOM_STEPS");
  return steps ? uint32_t(std::strtoul(steps, nullptr, 10)) : fallback;
}

// The last steps of a walk, noted from any thread.
class History {
 public:
  void Note(uint32_t step, const std::string& what) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lines[m_at++ % kLines] = "\n  step " + std::to_string(step) + ": " + what;
  }
  // A line of a thread that walks no steps of its own (a callback's).
  void Note(const std::string& what) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lines[m_at++ % kLines] = "\n  " + what;
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::string all;
    for (uint32_t i = m_at > kLines ? m_at - kLines : 0; i < m_at; ++i) all += m_lines[i % kLines];
    return all;
  }

 private:
  static constexpr uint32_t kLines = 32;
  mutable std::mutex m_lock;
  std::string m_lines[kLines];
  uint32_t m_at = 0;
};

// The stacks of the threads a watchdog finds stuck: each thread, sent a signal in turn, takes its own
// stack's return addresses in the handler (what it holds stays held; a watchdog aborts the run right
// after), and the watchdog's thread names them.
inline void* g_frames[64];
inline std::atomic<int> g_frameCount{-1};
inline void TakeOwnStack(int) {
  // Asked for: the frames of the thread before were read by then.
  if (g_frameCount.load() != -1) return;
  const int saved = errno;
  g_frameCount = backtrace(g_frames, 64);
  errno = saved;
}
inline void PrintFrames(void* const* frames, int count) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  for (int i = 0; i < count; ++i) {
    char line[512];
    __sanitizer_symbolize_pc(frames[i], "%p %F %L", line, sizeof line);
    std::fprintf(stderr, "    #%d %s\n", i, line);
  }
#else
  backtrace_symbols_fd(frames, count, 2);
#endif
}
// `threads`: each thread's id (Platform::CurrentThreadId) and name.
inline void PrintStacks(const std::vector<std::pair<uint64_t, std::string>>& threads) {
  void* frame[1];
  backtrace(frame, 1);  // loads the unwinder here rather than in a handler
  struct sigaction action {};
  action.sa_handler = TakeOwnStack;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR2, &action, nullptr);
  for (const auto& [id, name] : threads) {
    std::fprintf(stderr, "the stack of %s (thread %llu):\n", name.c_str(), static_cast<unsigned long long>(id));
    g_frameCount = -1;
    if (syscall(SYS_tgkill, getpid(), pid_t(id), SIGUSR2) != 0) continue;
    // A thread that never reaches the handler (spinning where the thread checker holds signals back)
    // gives none.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_frameCount < 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (g_frameCount < 0)
      std::fprintf(stderr, "    (none within 10 s)\n");
    else
      PrintFrames(g_frames, g_frameCount);
  }
  std::fflush(stderr);
}

}  // namespace RandomWalk
