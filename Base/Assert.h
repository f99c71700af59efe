// Debug-build checks of the engine's own invariants (handle kinds, pool slots, list walks).
// Outside input is never asserted: it is logged and given a safe default. Release builds compile the
// checks away entirely, so a condition must have no side effects.
#pragma once

namespace Base {
[[noreturn]] void AssertFailed(const char* condition, const char* file, int line);
}  // namespace Base

#ifdef NDEBUG
#define ORV_ASSERT(condition) ((void)0)
#else
#define ORV_ASSERT(condition) \
  ((condition) ? (void)0 : ::Base::AssertFailed(#condition, __FILE__, __LINE__))
#endif
