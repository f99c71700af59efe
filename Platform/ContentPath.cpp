// Content names to paths: separators and the UTF-8 that the file system takes.
#include "Platform/ContentPath.h"

#include <algorithm>
#include <cstdint>

namespace Platform {

std::string ToContentPath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ToContentPath(const char16_t* name) {
  std::string path;
  if (!name) return path;
  for (const char16_t* c = name; *c; ++c) {
    uint32_t code = *c;
    // A lone half of a surrogate pair cannot be spelt in UTF-8: it becomes U+FFFD.
    if (code >= 0xD800 && code <= 0xDBFF && c[1] >= 0xDC00 && c[1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (c[1] - 0xDC00);
      ++c;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code == '\\') code = '/';
    if (code < 0x80) {
      path += char(code);
    } else if (code < 0x800) {
      path += char(0xC0 | (code >> 6));
      path += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      path += char(0xE0 | (code >> 12));
      path += char(0x80 | ((code >> 6) & 0x3F));
      path += char(0x80 | (code & 0x3F));
    } else {
      path += char(0xF0 | (code >> 18));
      path += char(0x80 | ((code >> 12) & 0x3F));
      path += char(0x80 | ((code >> 6) & 0x3F));
      path += char(0x80 | (code & 0x3F));
    }
  }
  return path;
}

}  // namespace Platform
