// Appending little-endian values to a byte vector, the one way the writers lay out their files.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace ContentWriters {

// Grown then copied into: a range insert of a few bytes into a fresh vector trips the optimiser's
// overflow warnings in the release build.
inline void PutBytes(std::vector<uint8_t>& out, const void* bytes, size_t count) {
  if (count == 0) return;
  const size_t at = out.size();
  out.resize(at + count);
  std::memcpy(out.data() + at, bytes, count);
}

template <class T>
void Put(std::vector<uint8_t>& out, const T& value) {
  PutBytes(out, &value, sizeof(T));
}

template <class T>
void PutAll(std::vector<uint8_t>& out, const std::vector<T>& values) {
  PutBytes(out, values.data(), values.size() * sizeof(T));
}

}  // namespace ContentWriters
