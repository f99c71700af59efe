// Writes sound file packages ("SNPK"): a language map, bank, streamed-file and external-source
// tables, and the files themselves at whole blocks of the package's block size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tools {

struct PackagedFile {
  uint32_t id = 0;             // bank or media id
  uint32_t languageId = 0;     // 0: no language
  std::vector<uint8_t> bytes;
};

struct PackagedExternal {
  std::u16string name;         // keyed by the 64-bit hash of the name
  uint32_t languageId = 0;
  std::vector<uint8_t> bytes;
};

struct PackageContents {
  uint32_t blockSize = 16;
  std::vector<std::pair<std::u16string, uint32_t>> languages;  // name (stored lower-case), id
  std::vector<PackagedFile> banks;
  std::vector<PackagedFile> streamedFiles;
  std::vector<PackagedExternal> externals;
};

// The package's bytes. Tables are sorted as readers search them.
std::vector<uint8_t> WritePackage(const PackageContents& contents);
bool WritePackageFile(const std::string& path, const PackageContents& contents);
bool WriteBytesFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace Tools
