// What the tests that listen to the output capture share: their own reader of a RIFF WAVE file's
// 16-bit samples (the capture's, or a media file's as the bank tool writes it), and the gains every
// voice meets on its way out, worked by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace OrvTest {

// A mono voice on a front pair, unpanned.
constexpr double kCentreToPair = 0.70710678118654752;
// The engine's fast power of ten at 0 dB: its polynomial at mantissa 1 and exponent 0.
constexpr double kFastUnity = 0.32518977 + 0.020805772 + 0.65304345;
// A voice at 0 dB into the master bus meets it three times: for its volume, its output's and the bus's.
constexpr double kVoiceUnity = kFastUnity * kFastUnity * kFastUnity;

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
