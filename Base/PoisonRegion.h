// Marks pool memory that no object owns (free or kept blocks, the gaps between blocks) as
// unaddressable under AddressSanitizer, so that a read or write through a stale pointer into a pool
// is reported like one into the system heap. Without AddressSanitizer these cost nothing.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define ORV_POOL_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_POOL_POISONING 1
#endif
#endif

#ifdef ORV_POOL_POISONING
#include <sanitizer/asan_interface.h>
#endif

namespace Base {

#ifdef ORV_POOL_POISONING
constexpr bool kPoolPoisoning = true;
inline void PoisonRegion(const void* begin, size_t bytes) { ASAN_POISON_MEMORY_REGION(begin, bytes); }
inline void UnpoisonRegion(const void* begin, size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(begin, bytes); }
#else
constexpr bool kPoolPoisoning = false;
inline void PoisonRegion(const void*, size_t) {}
inline void UnpoisonRegion(const void*, size_t) {}
#endif

}  // namespace Base
