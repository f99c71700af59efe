// Name hashing: a 260-byte copy, lowered, hashed with 32-bit FNV-1 (multiply, then XOR the byte).
#include "SoundEngine/SoundEngineApi.h"

#include <string>

#include "Platform/TextNarrowing.h"

namespace SN::SoundEngine {

namespace {

uint32_t HashLowered(const char* name, size_t maxChars) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < maxChars && name[i]; ++i) {
    uint8_t byte = uint8_t(name[i]);
    if (byte >= 'A' && byte <= 'Z') byte = uint8_t(byte - 'A' + 'a');
    hash = (hash * 16777619u) ^ byte;
  }
  return hash;
}

}  // namespace

uint32_t GetIDFromString(const char* name) { return name ? HashLowered(name, 259) : 0; }

uint32_t GetIDFromString(const char16_t* name) {
  if (!name) return 0;
  const std::string narrow = Platform::NarrowText(name);
  return HashLowered(narrow.c_str(), 258);
}

}  // namespace SN::SoundEngine
