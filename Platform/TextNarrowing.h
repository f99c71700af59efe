// The narrowings of 16-bit text to single bytes, for names that a 16-bit file or API format carries.
#pragma once

#include <string>

namespace Platform {

// Characters up to U+00FF keep their value (Latin-1); anything else becomes '?'. Stops at the first
// zero; a null text gives an empty string.
std::string NarrowText(const char16_t* text);
std::string NarrowText(const std::u16string& text);
// UTF-8 of 16-bit text, surrogate pairs joined; a lone half of a pair cannot be spelt in UTF-8 and
// becomes U+FFFD. Stops at the first zero; a null text gives an empty string.
std::string Utf8Text(const char16_t* text);
// The reverse: each byte becomes the 16-bit character of the same value.
std::u16string WidenText(const char* text);

}  // namespace Platform
