// The values a bank description's words hold (whole numbers, reals within their ranges, levels, ids,
// hex bytes), read alike by every directive; a word that is none of what it should be fails, naming
// its line through the parser's Fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SoundEngine/Hierarchy/PropertyTable.h"

namespace Tools {

// The widths of the counts a bank's fields are written with: a count past its field's would wrap.
constexpr size_t kByteCount = 0xFF;
constexpr size_t kShortCount = 0xFFFF;
// The longest delay of a play or an action, in ms: the engine counts it in samples at 48000 Hz in a
// signed 32-bit count.
constexpr uint32_t kMostDelayMs = 0x7FFFFFFF / 48;

class TextValues {
 public:
  // "line N: <message>"; always false.
  virtual bool Fail(const std::string& message) = 0;
  // Plain decimal digits: no sign, no base prefix and no leading zero (once read as octal).
  bool Number(const std::string& word, uint32_t& value);
  // A finite decimal number ("-12", "0.5", "1e3"): not "nan", "inf" or hexadecimal.
  bool Real(const std::string& word, float& value);
  // "@123" is the id 123; any other word is hashed as the engine hashes names.
  bool Id(const std::string& word, uint32_t& id);
  // A finite number inside `range`; `what` names the range when it is not.
  bool Within(const std::string& word, SN::SnValueRange range, const std::string& what, float& value);
  // A level in decibels (a volume, a duck, a gain effect), as the engine holds them.
  bool Level(const std::string& word, float& dB) { return Within(word, SN::kDecibelRange, "the levels", dB); }
  bool Small(const std::string& word, uint32_t most, const std::string& tooLarge, uint32_t& value);
  bool DelayMs(const std::string& word, uint32_t& ms) {
    return Small(word, kMostDelayMs, "is outside the delays of 0 to " + std::to_string(kMostDelayMs) + " ms", ms);
  }
  // A random or sequence container's transition time, or (`offset`) an offset of it drawn at each play:
  // the engine counts the time in samples as it counts a delay.
  bool TransitionMs(const std::string& word, bool offset, float& ms);
  bool Byte(const std::string& word, uint8_t& value);
  // The words from `first` on as hex bytes.
  bool Hex(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>& out);
  // A count of `count` things in a field that holds at most `most`: "<holder> holds at most <most> <things>".
  bool Fits(size_t count, size_t most, const std::string& holder, const std::string& things);
  static std::string Shown(float value);

 protected:
  ~TextValues() = default;
};

}  // namespace Tools
