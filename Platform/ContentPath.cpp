// Content names to paths: separators and the UTF-8 that the file system takes.
#include "Platform/ContentPath.h"

#include <algorithm>
#include <cstdint>

#include "Platform/TextNarrowing.h"

namespace Platform {

std::string ToContentPath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ToContentPath(const char16_t* name) { return ToContentPath(std::string_view(Utf8Text(name))); }

}  // namespace Platform
