// The value words of a bank description, read one way for every directive.
#include "tools/SoundBank/TextValues.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "SoundEngine/SoundEngineApi.h"

namespace Tools {

bool TextValues::Number(const std::string& word, uint32_t& value) {
  bool whole = !word.empty() && (word[0] != '0' || word.size() == 1);
  uint64_t number = 0;
  for (size_t i = 0; whole && i < word.size(); ++i) {
    whole = word[i] >= '0' && word[i] <= '9';
    number = number * 10 + uint64_t(word[i] - '0');
    whole = whole && number <= 0xFFFFFFFFull;
  }
  if (!whole) return Fail("\"" + word + "\" is not a whole number");
  value = uint32_t(number);
  return true;
}

bool TextValues::Real(const std::string& word, float& value) {
  const bool decimal = !word.empty() && word.find_first_not_of("0123456789.eE+-") == std::string::npos;
  char* end = nullptr;
  value = decimal ? strtof(word.c_str(), &end) : 0.0f;
  if (!decimal || *end || !std::isfinite(value)) return Fail("\"" + word + "\" is not a number");
  return true;
}

bool TextValues::Id(const std::string& word, uint32_t& id) {
  if (word.size() > 1 && word[0] == '@') return Number(word.substr(1), id);
  id = SN::SoundEngine::GetIDFromString(word.c_str());
  return true;
}

bool TextValues::Within(const std::string& word, SN::SnValueRange range, const std::string& what, float& value) {
  if (!Real(word, value)) return false;
  return range.Holds(value) ||
         Fail("\"" + word + "\" is outside " + what + " of " + Shown(range.min) + " to " + Shown(range.max));
}

bool TextValues::TransitionMs(const std::string& word, bool offset, float& ms) {
  if (!Real(word, ms)) return false;
  const std::string most = std::to_string(kMostDelayMs);
  const float bound = float(kMostDelayMs);
  if (ms <= bound && ms >= (offset ? -bound : 0.0f)) return true;
  return Fail("\"" + word + "\" is outside the transition " + (offset ? "offsets of -" + most : "times of 0") + " to " +
              most + " ms");
}

bool TextValues::Small(const std::string& word, uint32_t most, const std::string& tooLarge, uint32_t& value) {
  if (!Number(word, value)) return false;
  return value <= most || Fail("\"" + word + "\" " + tooLarge);
}

bool TextValues::Byte(const std::string& word, uint8_t& value) {
  uint32_t number = 0;
  if (!Small(word, 0xFF, "does not fit in a byte", number)) return false;
  value = uint8_t(number);
  return true;
}

bool TextValues::Hex(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>& out) {
  for (size_t i = first; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() % 2) return Fail("\"" + word + "\" is not whole hex bytes");
    if (word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return Fail("\"" + word + "\" is not hex");
    for (size_t j = 0; j < word.size(); j += 2)
      out.push_back(uint8_t(strtoul(word.substr(j, 2).c_str(), nullptr, 16)));
  }
  return true;
}

bool TextValues::Fits(size_t count, size_t most, const std::string& holder, const std::string& things) {
  return count <= most || Fail(holder + " holds at most " + std::to_string(most) + " " + things);
}

std::string TextValues::Shown(float value) {
  char text[32];
  snprintf(text, sizeof text, "%g", double(value));
  return text;
}

}  // namespace Tools
