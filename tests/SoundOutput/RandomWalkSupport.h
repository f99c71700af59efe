// What the seeded random walks over the sound engine share: the seed and the length a run is given
// (ORV_FUZZ_SEED picks another walk, ORV_RANDOM_STEPS makes it longer), and the last steps kept for
// the report of a failure, which names the seed and the step.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

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

}  // namespace RandomWalk
