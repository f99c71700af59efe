// Monotonic tick clock behind a replaceable source.
#include "Platform/Clock.h"

#include <atomic>
#include <chrono>

namespace Platform {
namespace {

int64_t SteadyTicks() {
  using Tick = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
  return std::chrono::duration_cast<Tick>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Atomic: the sound engine's threads read the clock while a test may replace it.
std::atomic<TickSource>& Source() {
  static std::atomic<TickSource> source{&SteadyTicks};
  return source;
}

}  // namespace

int64_t TicksNow() { return Source().load(std::memory_order_acquire)(); }

void SetTickSource(TickSource source) { Source().store(source ? source : &SteadyTicks, std::memory_order_release); }

}  // namespace Platform
