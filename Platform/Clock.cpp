// Monotonic tick clock behind a replaceable source.
#include "Platform/Clock.h"

#include <chrono>

namespace Platform {
namespace {

int64_t SteadyTicks() {
  using Tick = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
  return std::chrono::duration_cast<Tick>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TickSource& Source() {
  static TickSource source = &SteadyTicks;
  return source;
}

}  // namespace

int64_t TicksNow() { return Source()(); }

void SetTickSource(TickSource source) { Source() = source ? source : &SteadyTicks; }

}  // namespace Platform
