// The layout of a sound file package ("SNPK"): header, language map and the three file tables,
// little-endian and packed, shared by the game's package reader and the package writer tool.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "Platform/TextNarrowing.h"

namespace Audio::PackageFormat {

constexpr uint8_t kTag[4] = {'S', 'N', 'P', 'K'};
constexpr uint32_t kFixedHeaderBytes = 28;  // tag, header size, version, four table sizes
constexpr uint32_t kVersion = 1;

struct LanguageEntry {
  uint32_t nameOffset;  // from the start of the language map
  uint32_t languageId;
};
struct FileEntry {
  uint32_t fileId;
  uint32_t blockSize;
  uint32_t fileSize;
  uint32_t firstBlock;
  uint32_t languageId;
};
#pragma pack(push, 4)
struct ExternalEntry {
  uint64_t key;
  uint32_t blockSize;
  uint32_t fileSize;
  uint32_t firstBlock;
  uint32_t languageId;
};
#pragma pack(pop)
static_assert(sizeof(LanguageEntry) == 8);
static_assert(sizeof(FileEntry) == 20);
static_assert(sizeof(ExternalEntry) == 24);

inline uint32_t ReadU32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}
inline uint64_t ReadU64(const uint8_t* bytes) { return ReadU32(bytes) | uint64_t(ReadU32(bytes + 4)) << 32; }
inline void WriteU32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(value >> (8 * i));
}
inline void WriteU64(uint8_t* bytes, uint64_t value) {
  WriteU32(bytes, uint32_t(value));
  WriteU32(bytes + 4, uint32_t(value >> 32));
}

// The key of an external source: its name narrowed as the sound engine narrows 16-bit text, A-Z
// lowered, hashed with 64-bit FNV-1 (multiply, then XOR each byte).
inline uint64_t HashName64(const char16_t* name) {
  const std::string narrow = Platform::NarrowText(name);
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : narrow) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    hash = (hash * 1099511628211ull) ^ byte;
  }
  return hash;
}

}  // namespace Audio::PackageFormat
