// Escaping and cutting outside text for the sound log.
#include "Audio/LogText.h"

#include <cstdint>
#include <cstdio>

namespace Audio {

namespace {

// The length of the well-formed UTF-8 sequence at `at` (2 to 4 bytes), 0 when there is none: overlong
// forms, surrogates and code points past U+10FFFF are not UTF-8.
size_t Utf8Sequence(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, point = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    point = point << 6 | (byte(at + i) & 0x3F);
  }
  const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
  const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
  return overlong || surrogate || point > 0x10FFFF ? 0 : length;
}

void AppendByteEscape(std::string& out, uint8_t byte) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02X", byte);
  out += escape;
}

}  // namespace

std::string LogSafe(std::string_view text) {
  std::string out;
  size_t at = 0;
  while (at < text.size() && at < kLoggedNameBytes) {
    const uint8_t byte = uint8_t(text[at]);
    if (byte >= 0x80) {
      const size_t length = Utf8Sequence(text, at);
      if (length == 0) {
        AppendByteEscape(out, byte);
        ++at;
        continue;
      }
      // A character that would cross the cut is cut whole.
      if (at + length > kLoggedNameBytes) break;
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    switch (byte) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (byte < 0x20 || byte == 0x7F)
          AppendByteEscape(out, byte);
        else
          out += char(byte);
    }
    ++at;
  }
  if (at < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

}  // namespace Audio
