// Byte tests of the text reader: blanks sixteen bytes at a time and short names compared without a call.
// Shared by File.cpp and the first look of File::TakeToken, which is inline in its callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Base::TextBytes {

#if defined(__SSE2__)
// Bit i set when byte i of the sixteen at p is blank: ' ', or '\t' .. '\r' (9 .. 13).
inline unsigned BlankMask16(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
  const __m128i control = _mm_sub_epi8(bytes, _mm_set1_epi8(9));
  const __m128i inControlRange = _mm_cmpeq_epi8(_mm_min_epu8(control, _mm_set1_epi8(4)), control);
  return unsigned(_mm_movemask_epi8(_mm_or_si128(space, inControlRange)));
}
#endif

// memcmp(a, b, size) == 0 for the short names of the text, without a call: two overlapping loads of
// each side cover any length from 4 to 16.
[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t size) {
  const auto same = [](const char* x, const char* y, auto word) {
    decltype(word) u, v;
    std::memcpy(&u, x, sizeof(u));
    std::memcpy(&v, y, sizeof(v));
    return u == v;
  };
  if (size >= 8 && size <= 16)
    return same(a, b, uint64_t()) && same(a + size - 8, b + size - 8, uint64_t());
  if (size >= 4 && size < 8)
    return same(a, b, uint32_t()) && same(a + size - 4, b + size - 4, uint32_t());
  // The first, middle and last bytes are all the bytes of 1 to 3.
  if (size >= 1 && size < 4) return a[0] == b[0] && a[size / 2] == b[size / 2] && a[size - 1] == b[size - 1];
  return std::memcmp(a, b, size) == 0;
}

}  // namespace Base::TextBytes
