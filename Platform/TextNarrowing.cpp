// Latin-1 narrowing (the single-byte code page whose characters map one to one onto U+0000-U+00FF)
// and UTF-8.
#include "Platform/TextNarrowing.h"

#include <cstdint>

namespace Platform {

std::string NarrowText(const char16_t* text) {
  std::string narrow;
  if (!text) return narrow;
  for (; *text; ++text) narrow += *text <= 0xFF ? char(*text) : '?';
  return narrow;
}

std::string NarrowText(const std::u16string& text) { return NarrowText(text.c_str()); }

std::string Utf8Text(const char16_t* text) {
  std::string out;
  if (!text) return out;
  for (const char16_t* c = text; *c; ++c) {
    uint32_t code = *c;
    if (code >= 0xD800 && code <= 0xDBFF && c[1] >= 0xDC00 && c[1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (c[1] - 0xDC00);
      ++c;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | (code >> 6));
      out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | (code >> 12));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | (code >> 18));
      out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::u16string WidenText(const char* text) {
  std::u16string wide;
  if (!text) return wide;
  for (; *text; ++text) wide += char16_t(uint8_t(*text));
  return wide;
}

}  // namespace Platform
