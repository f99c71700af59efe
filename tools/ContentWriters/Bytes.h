// Appending little-endian values to a byte vector, the one way the writers lay out their files.
#pragma once

#include <cstdint>
#include <vector>

namespace ContentWriters {

template <class T>
void Put(std::vector<uint8_t>& out, const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

template <class T>
void PutAll(std::vector<uint8_t>& out, const std::vector<T>& values) {
  if (values.empty()) return;
  const auto* p = reinterpret_cast<const uint8_t*>(values.data());
  out.insert(out.end(), p, p + values.size() * sizeof(T));
}

}  // namespace ContentWriters
