// The one conversion of content names into the paths the engine opens: names written with '\' by
// files, scripts and the sound engine become '/' paths relative to the working directory.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

// The name with every '\' turned into '/'.
std::string ToContentPath(std::string_view name);

// A 16-bit name (stops at the first zero; null gives "") in UTF-8, with every '\' turned into '/'.
std::string ToContentPath(const char16_t* name);

}  // namespace Platform
