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

// The largest block size a package is written with: a bigger block only pads every file further,
// and a stream refuses a block size its device's granularity is not a multiple of.
constexpr uint32_t kMaxPackageBlockSize = 65536;

// Why the contents would make a package the game cannot read as meant, or "" when they would not:
// a block size that is not a power of two up to kMaxPackageBlockSize, a language id of 0 or past 16
// bits, a language named twice or an id given twice, a file of a language the map lacks (when there
// is a map), two files of one kind under the same id (or external name hash) and language, a file
// past 4 GB, a package whose blocks cannot be counted in 32 bits.
std::string ContentsProblem(const PackageContents& contents);

// The package's bytes. Tables are sorted as readers search them.
std::vector<uint8_t> WritePackage(const PackageContents& contents);
bool WritePackageFile(const std::string& path, const PackageContents& contents);
bool WriteBytesFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace Tools
