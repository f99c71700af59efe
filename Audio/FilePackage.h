// Loaded sound file packages: the checked lookup tables of one package, and the disk package that
// keeps the package file open through a standard stream so that files found in it share its handle.
#pragma once

#include <cstdint>

#include "Audio/FilePackageFormat.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace Audio {

// The language map and file tables of one package header, checked before anything is looked up.
class CSnFilePackageLUT {
 public:
  // False when the header breaks the format: version 0, H + 8 beyond the file or below the fixed
  // header plus the tables, a table too small for its count, or a language name (with its
  // terminator) outside the map. `header` holds `headerBytes` (H + 8) bytes.
  // An entry whose data cannot be served (block size 0 or not a power of two, first block inside
  // the header, data past the end of the file) is refused alone, with an error naming
  // `packageName`: lookups never find it, and the rest of the package stays usable.
  bool Setup(const uint8_t* header, uint64_t headerBytes, uint64_t fileBytes, const char* packageName = "");
  // The current language id becomes 0, then the id of `language` (lower-cased A-Z) when the map
  // has it. 22 when it does not and the map holds several languages; else 1.
  SN::SNRESULT SetCurrentLanguage(const char16_t* language);
  uint16_t CurrentLanguageId() const { return m_currentLanguageId; }

  // Null when absent. `languageId` is the current one for language-specific files, else 0.
  const uint8_t* LookupBank(uint32_t fileId, uint32_t languageId) const;
  const uint8_t* LookupStreamedFile(uint32_t fileId, uint32_t languageId) const;
  const uint8_t* LookupExternal(uint64_t key, uint32_t languageId) const;
  uint32_t BankCount() const { return m_banks.count; }

  // The fields of a found entry (bank and streamed entries; external entries start 4 bytes on).
  static PackageFormat::FileEntry ReadFileEntry(const uint8_t* entry);
  static PackageFormat::FileEntry ReadExternalEntry(const uint8_t* entry);

 private:
  struct Table {
    const uint8_t* entries = nullptr;
    uint32_t count = 0;
  };
  static const uint8_t* Search(const Table& table, uint32_t entryBytes, uint64_t key, uint32_t languageId, bool wideKey);
  // Why the entry's data cannot be served, or null when it can.
  const char* RefusalOf(const PackageFormat::FileEntry& entry) const;
  // The found entry, or null when it is refused.
  const uint8_t* Served(const uint8_t* entry, bool external) const;

  uint16_t m_currentLanguageId = 0;
  const uint8_t* m_languageMap = nullptr;
  uint32_t m_languageMapBytes = 0;
  uint64_t m_headerBytes = 0;
  uint64_t m_fileBytes = 0;
  Table m_languages;
  Table m_banks;
  Table m_streamedFiles;
  Table m_externals;
};

class CSnFilePackage {
 public:
  virtual void Destroy();
  virtual ~CSnFilePackage() = default;

  CSnFilePackage* pNextItem = nullptr;  // the loaded-package list
  uint32_t m_packageId = 0;
  uint32_t m_headerSize = 0;
  SN::SnMemPoolId m_poolId = SN::kInvalidPoolId;
  void* m_headerMemory = nullptr;
  bool m_ownsPool = false;
  CSnFilePackageLUT m_lut;
};

class CSnDiskPackage : public CSnFilePackage {
 public:
  // Opens, reads and checks the package file `name`. 1 or 22 (no language of several matches the
  // current one) with the package; otherwise the failure, with no package and no stream left.
  static SN::SNRESULT Load(const char16_t* name, SN::SnMemPoolId poolId, CSnDiskPackage*& package);
  void Destroy() override;
  int64_t FileHandle() const { return m_fileHandle; }

 private:
  static CSnDiskPackage* Create(const char16_t* name, SN::SnMemPoolId poolId, uint32_t headerBytes,
                                uint32_t blockSize);

  SN::ISnStandardStream* m_stream = nullptr;
  uint32_t m_blockSize = 1;
  int64_t m_fileHandle = -1;
};

}  // namespace Audio
