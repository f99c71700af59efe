// The game's low-level I/O: loaded file packages in front of a file hook. Opens look in the
// packages, newest first, before the hook's own folders; package tables follow the current language.
#pragma once

#include <cstdint>
#include <cstdio>

#include "Audio/DefaultIOHookBlocking.h"
#include "Audio/FilePackage.h"
#include "Base/Assert.h"
#include "SoundEngine/SoundEngineApi.h"

namespace Audio {

template <typename Hook, typename Package>
class CSnFilePackageLowLevelIO : public Hook {
 public:
  SN::SNRESULT OpenById(uint32_t fileId, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags, bool& syncOpen,
                        SN::SnFileDescriptor& descriptor) override {
    if (flags && flags->companyId == 0 && mode == SN::SnOpenMode_Read) {
      for (Package* package = m_head; package; package = Next(package)) {
        const uint32_t language = flags->languageSpecific ? package->m_lut.CurrentLanguageId() : 0;
        const uint8_t* entry = flags->codecId == 0 && package->m_lut.BankCount()
                                   ? package->m_lut.LookupBank(fileId, language)
                                   : package->m_lut.LookupStreamedFile(fileId, language);
        if (entry) return Found(package, CSnFilePackageLUT::ReadFileEntry(entry), syncOpen, descriptor);
      }
    } else if (flags && flags->companyId == 1) {
      char text[16];
      snprintf(text, sizeof text, "%u.snm", fileId);
      char16_t wide[16] = {};
      for (int i = 0; text[i]; ++i) wide[i] = char16_t(text[i]);
      if (const SN::SNRESULT result = OpenExternal(wide, flags, syncOpen, descriptor); result == SN::SN_Success)
        return result;
    }
    return Hook::OpenById(fileId, mode, flags, syncOpen, descriptor);
  }

  SN::SNRESULT OpenByName(const char16_t* name, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags, bool& syncOpen,
                          SN::SnFileDescriptor& descriptor) override {
    if (name && flags && mode == SN::SnOpenMode_Read) {
      if (flags->companyId == 0 && flags->codecId == 0) {
        const uint32_t fileId = BankIdOf(name);
        for (Package* package = m_head; package; package = Next(package)) {
          const uint32_t language = flags->languageSpecific ? package->m_lut.CurrentLanguageId() : 0;
          if (const uint8_t* entry = package->m_lut.LookupBank(fileId, language))
            return Found(package, CSnFilePackageLUT::ReadFileEntry(entry), syncOpen, descriptor);
        }
      } else if (flags->companyId == 1) {
        if (const SN::SNRESULT result = OpenExternal(name, flags, syncOpen, descriptor); result == SN::SN_Success)
          return result;
      }
    }
    return Hook::OpenByName(name, mode, flags, syncOpen, descriptor);
  }

  // A file inside a package shares the package's handle and leaves it open. Its package block size
  // is what tells it apart, which is why the package refuses entries of block size 0 as it loads.
  SN::SNRESULT Close(SN::SnFileDescriptor& descriptor) override {
    return descriptor.packageBlockSize ? SN::SN_Success : Hook::Close(descriptor);
  }

  uint32_t GetFileBlockSize(SN::SnFileDescriptor& descriptor) override {
    return descriptor.packageBlockSize ? descriptor.packageBlockSize : Hook::GetFileBlockSize(descriptor);
  }

  // 1, or 22 when the package has several languages and none is the current one (it is loaded all
  // the same); any other result leaves no package.
  virtual SN::SNRESULT LoadPackage(const char16_t* fileName, uint32_t& packageId, SN::SnMemPoolId poolId) {
    Package* package = nullptr;
    SN::SNRESULT result = Package::Load(fileName, poolId, package);
    if (result != SN::SN_Success) return result;
    if (!m_joinedObservers) {
      if (SN::StreamMgr::AddLanguageChangeObserver(&OnLanguageChange, this) != SN::SN_Success) {
        package->Destroy();
        return SN::SN_Failure;
      }
      m_joinedObservers = true;
    }
    result = package->m_lut.SetCurrentLanguage(SN::StreamMgr::GetCurrentLanguage());
    package->pNextItem = m_head;
    m_head = package;
    if (!m_tail) m_tail = package;
    ++m_count;
    packageId = package->m_packageId;
    return result;
  }

  virtual SN::SNRESULT UnloadPackage(uint32_t packageId) {
    Package* previous = nullptr;
    for (Package* package = m_head; package; previous = package, package = Next(package)) {
      if (package->m_packageId != packageId) continue;
      Unlink(previous, package);
      package->Destroy();
      return SN::SN_Success;
    }
    return SN::SN_Failure;
  }

  virtual SN::SNRESULT UnloadAllPackages() {
    while (m_head) {
      Package* package = m_head;
      Unlink(nullptr, package);
      package->Destroy();
    }
    return SN::SN_Success;
  }

  virtual void InitFileDescriptor(Package*, SN::SnFileDescriptor&) {}

  // Leaves the language observers (the sound system's shutdown).
  void LeaveLanguageObservers() {
    if (!m_joinedObservers) return;
    SN::StreamMgr::RemoveLanguageChangeObserver(this);
    m_joinedObservers = false;
  }
  uint32_t PackageCount() const { return m_count; }

 private:
  static Package* Next(Package* package) { return static_cast<Package*>(package->pNextItem); }

  // The id a bank name stands for: its hash without the last extension.
  static uint32_t BankIdOf(const char16_t* name) {
    char16_t copy[kMaxPathChars] = {};
    uint32_t length = 0, dot = 0xFFFFFFFFu;
    for (; name[length] && length < kMaxPathChars - 1; ++length) {
      copy[length] = name[length];
      if (name[length] == u'.') dot = length;
    }
    if (dot != 0xFFFFFFFFu) copy[dot] = 0;
    return SN::SoundEngine::GetIDFromString(copy);
  }

  SN::SNRESULT OpenExternal(const char16_t* name, SN::SnFileLookupFlags* flags, bool& syncOpen,
                            SN::SnFileDescriptor& descriptor) {
    const uint64_t key = PackageFormat::HashName64(name);
    for (Package* package = m_head; package; package = Next(package)) {
      const uint32_t language = flags->languageSpecific ? package->m_lut.CurrentLanguageId() : 0;
      if (const uint8_t* entry = package->m_lut.LookupExternal(key, language))
        return Found(package, CSnFilePackageLUT::ReadExternalEntry(entry), syncOpen, descriptor);
    }
    return SN::SN_FileNotFound;
  }

  SN::SNRESULT Found(Package* package, const PackageFormat::FileEntry& entry, bool& syncOpen,
                     SN::SnFileDescriptor& descriptor) {
    ORV_ASSERT(entry.blockSize != 0);  // refused as the package loaded: Close would take it for a loose file
    descriptor.fileSize = int64_t(entry.fileSize);
    descriptor.firstBlock = entry.firstBlock;
    descriptor.packageBlockSize = entry.blockSize;
    descriptor.customParam = nullptr;
    descriptor.osHandle = package->FileHandle();
    descriptor.deviceId = this->m_deviceId;
    InitFileDescriptor(package, descriptor);
    syncOpen = true;
    return SN::SN_Success;
  }

  void Unlink(Package* previous, Package* package) {
    if (previous)
      previous->pNextItem = package->pNextItem;
    else
      m_head = Next(package);
    if (m_tail == package) m_tail = previous;
    package->pNextItem = nullptr;
    --m_count;
  }

  static void OnLanguageChange(const char16_t* language, void* cookie) {
    auto* self = static_cast<CSnFilePackageLowLevelIO*>(cookie);
    for (Package* package = self->m_head; package; package = Next(package)) package->m_lut.SetCurrentLanguage(language);
  }

  Package* m_head = nullptr;
  Package* m_tail = nullptr;
  uint32_t m_count = 0;
  bool m_joinedObservers = false;
};

// The game's one low-level I/O object: packages over the blocking hook.
class CSnFilePackageLowLevelIOBlocking : public CSnFilePackageLowLevelIO<CSnDefaultIOHookBlocking, CSnDiskPackage> {};

}  // namespace Audio
