// The 16-bit samples of a RIFF WAVE file's "data" chunk, read by the tests' own reader: the output
// capture's, or a media file's as the bank tool writes it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace OrvTest {

// In file order; empty when the file has no "data" chunk or is no RIFF WAVE file.
inline std::vector<int16_t> WaveDataSamples(const std::vector<uint8_t>& file) {
  auto u32 = [&](size_t at) {
    return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 | uint32_t(file[at + 3]) << 24;
  };
  std::vector<int16_t> samples;
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) || std::memcmp(file.data() + 8, "WAVE", 4)) return samples;
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = u32(at + 4);
    if (at + 8 + size > file.size()) break;
    if (!std::memcmp(&file[at], "data", 4)) {
      for (size_t i = 0; i + 1 < size; i += 2)
        samples.push_back(int16_t(uint16_t(file[at + 8 + i]) | uint16_t(file[at + 9 + i]) << 8));
      break;
    }
    at += 8 + size + (size & 1);
  }
  return samples;
}

}  // namespace OrvTest
