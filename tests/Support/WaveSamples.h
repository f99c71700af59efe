// Test helper: the samples of a bank description's tones, read by the tests' own WAVE reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SoundEngine/SoundEngineApi.h"
#include "tests/Support/CaptureModel.h"
#include "tools/SoundBank/BankText.h"

namespace OrvTest {

// A tone's media in a bank description as the bank holds it, as floats in -1..1; empty when the
// description has no such tone.
inline std::vector<double> ToneSamples(const Tools::BankDescription& bank, const char* tone) {
  std::vector<double> samples;
  // The first media of the id is the whole tone; a prefetched tone's first bytes follow it.
  for (const Tools::BankMedia& media : bank.media) {
    if (media.id != SN::SoundEngine::GetIDFromString(tone)) continue;
    for (int16_t sample : WaveDataSamples(media.bytes)) samples.push_back(sample / 32768.0);
    break;
  }
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
