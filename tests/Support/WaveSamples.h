// Test helper: the samples of RIFF WAVE files (captures, a bank's tone media) read by a reader of the
// tests' own, and the engine's fast unity gain that every model of a played tone multiplies in.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankText.h"

namespace OrvTest {

// The engine's fast power of ten at 0 dB: its polynomial at mantissa 1 and exponent 0, worked by hand.
constexpr double kFastUnity = 0.32518977 + 0.020805772 + 0.65304345;

// The 16-bit samples of a RIFF WAVE file's "data" chunk, in file order; empty when it has none.
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

// A tone's media in a bank description as the bank holds it, as floats in -1..1; empty when the
// description has no such tone.
inline std::vector<double> ToneSamples(const Tools::BankDescription& bank, const char* tone) {
  std::vector<double> samples;
  for (const Tools::BankMedia& media : bank.media)
    if (media.id == SN::SoundEngine::GetIDFromString(tone))
      for (int16_t sample : WaveDataSamples(media.bytes)) samples.push_back(sample / 32768.0);
  return samples;
}

// The same from a description file (the game's, under content/banks/).
inline std::vector<double> ToneSamples(const std::string& descriptionPath, const char* tone) {
  Tools::BankDescription bank;
  std::string error;
  if (!Tools::ReadBankTextFile(descriptionPath, bank, error)) return {};
  return ToneSamples(bank, tone);
}

}  // namespace OrvTest
