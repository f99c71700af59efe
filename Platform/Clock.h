// The engine's tick clock: 100-ns ticks from a monotonic clock, replaceable by tests.
#pragma once

#include <cstdint>

namespace Platform {

using TickSource = int64_t (*)();

// Ticks of 100 ns since an arbitrary origin; never goes backwards.
int64_t TicksNow();

// Replaces the clock (null restores the monotonic one). For tests that drive time by hand.
void SetTickSource(TickSource source);

constexpr int64_t kTicksPerSecond = 10'000'000;

}  // namespace Platform
