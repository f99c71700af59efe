// Fuzz target of the sound file package reader: a package header checked and, when accepted, its
// language map and tables searched, all within the header's own bytes; every entry a lookup finds
// must be one whose data the package can serve.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Audio/FilePackage.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

namespace {

// A found entry of block size 0 would be taken for a loose file and close the package's handle; one
// outside the file's data would hand out header bytes or fail every read.
void RequireServable(const Audio::PackageFormat::FileEntry& entry, uint64_t headerBytes, uint64_t fileBytes) {
  const uint64_t start = uint64_t(entry.firstBlock) * entry.blockSize;
  if (entry.blockSize == 0 || (entry.blockSize & (entry.blockSize - 1)) != 0 || start < headerBytes ||
      start + entry.fileSize > fileBytes)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  // The reader holds exactly the H + 8 header bytes it read, so overreads land outside them.
  const uint64_t headerBytes = uint64_t(Audio::PackageFormat::ReadU32(data + 4)) + 8;
  if (headerBytes > size) return 0;
  std::vector<uint8_t> header(data, data + headerBytes);
  Audio::CSnFilePackageLUT lut;
  if (!lut.Setup(header.data(), headerBytes, size)) return 0;
  for (const char16_t* language : {u"english", u"French", u"", u"zz"}) lut.SetCurrentLanguage(language);
  const uint32_t ids[] = {0, 1, 500, 0xFFFFFFFFu, Audio::PackageFormat::ReadU32(data + size - 4)};
  for (uint32_t id : ids) {
    for (uint32_t language = 0; language < 3; ++language) {
      if (const uint8_t* entry = lut.LookupBank(id, language))
        RequireServable(Audio::CSnFilePackageLUT::ReadFileEntry(entry), headerBytes, size);
      if (const uint8_t* entry = lut.LookupStreamedFile(id, language))
        RequireServable(Audio::CSnFilePackageLUT::ReadFileEntry(entry), headerBytes, size);
      if (const uint8_t* entry = lut.LookupExternal(id, language))
        RequireServable(Audio::CSnFilePackageLUT::ReadExternalEntry(entry), headerBytes, size);
    }
  }
  return 0;
}
