// Latin-1 narrowing: the single-byte code page whose characters map one to one onto U+0000-U+00FF.
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

std::u16string WidenText(const char* text) {
  std::u16string wide;
  if (!text) return wide;
  for (; *text; ++text) wide += char16_t(uint8_t(*text));
  return wide;
}

}  // namespace Platform
