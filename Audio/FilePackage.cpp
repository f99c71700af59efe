// Package headers read through a standard stream and checked in 64-bit arithmetic before their
// tables are trusted; entries found by binary search on (id or key, language), an entry whose data
// cannot be served refused alone.
#include "Audio/FilePackage.h"

#include <cstring>
#include <new>

#include "Audio/Log.h"
#include "SoundEngine/SoundEngineApi.h"

namespace Audio {

using namespace PackageFormat;

namespace {

constexpr uint32_t kHeaderPriority = 50;
// Refused entries named one by one when a package loads; the rest are only counted.
constexpr uint64_t kRefusalsNamed = 8;

uint64_t RoundUp(uint64_t value, uint64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

// The room of the package object after the header memory: at least 64 bytes.
constexpr uint64_t kObjectBytes = sizeof(CSnDiskPackage) > 64 ? (sizeof(CSnDiskPackage) + 15) / 16 * 16 : 64;

}  // namespace

bool CSnFilePackageLUT::Setup(const uint8_t* header, uint64_t headerBytes, uint64_t fileBytes,
                              const char* packageName) {
  *this = CSnFilePackageLUT();
  if (headerBytes < kFixedHeaderBytes || headerBytes > fileBytes) return false;
  m_headerBytes = headerBytes;
  m_fileBytes = fileBytes;
  if (ReadU32(header + 8) < kVersion) return false;
  uint64_t sizes[4];
  uint64_t total = kFixedHeaderBytes;
  for (int i = 0; i < 4; ++i) {
    sizes[i] = ReadU32(header + 12 + 4 * i);
    total += sizes[i];
  }
  if (total > headerBytes) return false;
  const uint32_t entryBytes[4] = {sizeof(LanguageEntry), sizeof(FileEntry), sizeof(FileEntry), sizeof(ExternalEntry)};
  Table* tables[4] = {&m_languages, &m_banks, &m_streamedFiles, &m_externals};
  const uint8_t* at = header + kFixedHeaderBytes;
  for (int i = 0; i < 4; ++i) {
    if (sizes[i] != 0) {
      if (sizes[i] < 4) return false;
      const uint64_t count = ReadU32(at);
      if (4 + count * entryBytes[i] > sizes[i]) return false;
      tables[i]->entries = at + 4;
      tables[i]->count = uint32_t(count);
    }
    if (i == 0) {
      m_languageMap = sizes[0] ? at : nullptr;
      m_languageMapBytes = uint32_t(sizes[0]);
    }
    at += sizes[i];
  }
  // Every language name, terminator included, lies inside the map.
  for (uint32_t i = 0; i < m_languages.count; ++i) {
    const uint64_t offset = ReadU32(m_languages.entries + i * sizeof(LanguageEntry));
    bool terminated = false;
    for (uint64_t at16 = offset; at16 + 2 <= m_languageMapBytes; at16 += 2)
      if (m_languageMap[at16] == 0 && m_languageMap[at16 + 1] == 0) {
        terminated = true;
        break;
      }
    if (!terminated) return false;
  }
  // A refused entry is named once here (a few at most, then their count); lookups skip it.
  const char* name = packageName ? packageName : "";
  const char* kinds[3] = {"bank", "streamed file", "external source"};
  const Table* files[3] = {&m_banks, &m_streamedFiles, &m_externals};
  uint64_t refused = 0;
  for (int i = 0; i < 3; ++i) {
    const bool external = i == 2;
    const uint32_t bytes = external ? sizeof(ExternalEntry) : sizeof(FileEntry);
    for (uint32_t e = 0; e < files[i]->count; ++e) {
      const uint8_t* entry = files[i]->entries + uint64_t(e) * bytes;
      const FileEntry fields = external ? ReadExternalEntry(entry) : ReadFileEntry(entry);
      const char* refusal = RefusalOf(fields);
      if (!refusal || ++refused > kRefusalsNamed) continue;
      AUDIO_LOG(Error, "LoadPackage: \"%s\" refuses %s %llu (language %u): %s", name, kinds[i],
                static_cast<unsigned long long>(external ? ReadU64(entry) : fields.fileId), fields.languageId,
                refusal);
    }
  }
  if (refused > kRefusalsNamed)
    AUDIO_LOG(Error, "LoadPackage: \"%s\" refuses %llu more entries", name,
              static_cast<unsigned long long>(refused - kRefusalsNamed));
  return true;
}

const char* CSnFilePackageLUT::RefusalOf(const FileEntry& entry) const {
  // A block size of 0 would make the file a loose one to the hook: read from the wrong place, and
  // closed on the package's own shared handle.
  if (entry.blockSize == 0 || (entry.blockSize & (entry.blockSize - 1)) != 0)
    return "its block size is not a power of two";
  const uint64_t start = uint64_t(entry.firstBlock) * entry.blockSize;
  if (start < m_headerBytes) return "its data starts inside the header";
  if (start + entry.fileSize > m_fileBytes) return "its data runs past the end of the file";
  return nullptr;
}

const uint8_t* CSnFilePackageLUT::Served(const uint8_t* entry, bool external) const {
  if (!entry) return nullptr;
  return RefusalOf(external ? ReadExternalEntry(entry) : ReadFileEntry(entry)) ? nullptr : entry;
}

SN::SNRESULT CSnFilePackageLUT::SetCurrentLanguage(const char16_t* language) {
  m_currentLanguageId = 0;
  if (!m_languageMap || !language) return SN::SN_Success;
  char16_t lowered[32] = {};
  for (uint32_t i = 0; i < 31 && language[i]; ++i)
    lowered[i] = language[i] >= u'A' && language[i] <= u'Z' ? char16_t(language[i] - u'A' + u'a') : language[i];
  uint32_t low = 0, high = m_languages.count;
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    const uint8_t* entry = m_languages.entries + mid * sizeof(LanguageEntry);
    const uint8_t* name = m_languageMap + ReadU32(entry);
    int order = 0;
    for (uint32_t i = 0;; ++i) {
      const char16_t unit = char16_t(name[2 * i] | name[2 * i + 1] << 8);
      if (unit != lowered[i]) {
        order = unit < lowered[i] ? -1 : 1;
        break;
      }
      if (!unit) break;
    }
    if (order == 0) {
      m_currentLanguageId = uint16_t(ReadU32(entry + 4));
      return SN::SN_Success;
    }
    if (order < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return m_languages.count > 1 ? SN::SN_PartialSuccess : SN::SN_Success;
}

const uint8_t* CSnFilePackageLUT::Search(const Table& table, uint32_t entryBytes, uint64_t key, uint32_t languageId,
                                         bool wideKey) {
  uint32_t low = 0, high = table.count;
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    const uint8_t* entry = table.entries + uint64_t(mid) * entryBytes;
    const uint64_t entryKey = wideKey ? ReadU64(entry) : ReadU32(entry);
    const uint32_t entryLanguage = ReadU32(entry + entryBytes - 4);
    if (entryKey == key && entryLanguage == languageId) return entry;
    if (entryKey < key || (entryKey == key && entryLanguage < languageId))
      low = mid + 1;
    else
      high = mid;
  }
  return nullptr;
}

const uint8_t* CSnFilePackageLUT::LookupBank(uint32_t fileId, uint32_t languageId) const {
  return Served(Search(m_banks, sizeof(FileEntry), fileId, languageId, false), false);
}
const uint8_t* CSnFilePackageLUT::LookupStreamedFile(uint32_t fileId, uint32_t languageId) const {
  return Served(Search(m_streamedFiles, sizeof(FileEntry), fileId, languageId, false), false);
}
const uint8_t* CSnFilePackageLUT::LookupExternal(uint64_t key, uint32_t languageId) const {
  return Served(Search(m_externals, sizeof(ExternalEntry), key, languageId, true), true);
}

FileEntry CSnFilePackageLUT::ReadFileEntry(const uint8_t* entry) {
  return FileEntry{ReadU32(entry), ReadU32(entry + 4), ReadU32(entry + 8), ReadU32(entry + 12), ReadU32(entry + 16)};
}
FileEntry CSnFilePackageLUT::ReadExternalEntry(const uint8_t* entry) {
  return FileEntry{0, ReadU32(entry + 8), ReadU32(entry + 12), ReadU32(entry + 16), ReadU32(entry + 20)};
}

void CSnFilePackage::Destroy() {
  const SN::SnMemPoolId pool = m_poolId;
  void* memory = m_headerMemory;
  const bool ownsPool = m_ownsPool;
  this->~CSnFilePackage();
  if (ownsPool) {
    SN::MemoryMgr::ReleaseBlock(pool, memory);
    SN::MemoryMgr::DestroyPool(pool);
  } else if (SN::MemoryMgr::GetPoolAttributes(pool) & SN::SnMemPool_FixedBlocks) {
    SN::MemoryMgr::ReleaseBlock(pool, memory);
  } else {
    SN::MemoryMgr::Free(pool, memory);
  }
}

void CSnDiskPackage::Destroy() {
  if (m_stream) m_stream->Destroy();
  m_stream = nullptr;
  CSnFilePackage::Destroy();
}

CSnDiskPackage* CSnDiskPackage::Create(const char16_t* name, SN::SnMemPoolId poolId, uint32_t headerBytes,
                                       uint32_t blockSize) {
  // Rounded on to 16 so that the object behind the header is aligned.
  const uint64_t reserved = RoundUp(RoundUp(headerBytes, blockSize), 16);
  const uint64_t total = reserved + kObjectBytes;
  if (total > 0xFFFFFFFFu) return nullptr;
  void* block = nullptr;
  bool ownsPool = false;
  if (poolId == SN::kInvalidPoolId) {
    const uint32_t align = blockSize & (blockSize - 1) ? 16 : (blockSize < 16 ? 16 : blockSize);
    poolId = SN::MemoryMgr::CreatePool(nullptr, uint32_t(total), uint32_t(total),
                                       SN::SnMemPool_AllocHook | SN::SnMemPool_FixedBlocks, align);
    if (poolId == SN::kInvalidPoolId) return nullptr;
    SN::MemoryMgr::SetPoolName(poolId, name);
    block = SN::MemoryMgr::GetBlock(poolId);
    if (!block) {
      SN::MemoryMgr::DestroyPool(poolId);
      return nullptr;
    }
    ownsPool = true;
  } else if (SN::MemoryMgr::CheckPoolId(poolId) != SN::SN_Success) {
    return nullptr;
  } else if (SN::MemoryMgr::GetPoolAttributes(poolId) & SN::SnMemPool_FixedBlocks) {
    if (SN::MemoryMgr::GetBlockSize(poolId) < total) return nullptr;
    block = SN::MemoryMgr::GetBlock(poolId);
  } else {
    block = SN::MemoryMgr::Malloc(poolId, size_t(total));
  }
  if (!block) return nullptr;
  auto* package = new (static_cast<uint8_t*>(block) + reserved) CSnDiskPackage();
  package->m_packageId = SN::SoundEngine::GetIDFromString(name);
  package->m_headerSize = headerBytes;
  package->m_poolId = poolId;
  package->m_headerMemory = block;
  package->m_ownsPool = ownsPool;
  package->m_blockSize = blockSize;
  return package;
}

SN::SNRESULT CSnDiskPackage::Load(const char16_t* name, SN::SnMemPoolId poolId, CSnDiskPackage*& package) {
  package = nullptr;
  SN::ISnStreamMgr* manager = SN::ISnStreamMgr::m_pStreamMgr;
  if (!manager || !name) return SN::SN_Failure;
  SN::SnFileLookupFlags flags{0, 11, 0, nullptr, false, false, -1};
  SN::ISnStandardStream* stream = nullptr;
  const SN::SNRESULT opened = manager->OpenStandardStream(name, &flags, SN::SnOpenMode_Read, stream, true);
  if (opened != SN::SN_Success) return opened;
  stream->SetName(name);
  const uint32_t blockSize = stream->GetBlockSize();
  const uint64_t fileBytes = uint64_t(stream->GetFileDescriptor()->fileSize);

  // The first read: 8 bytes when the block size divides 8, else one block at a block-aligned address.
  const uint32_t firstBytes = 8 % blockSize == 0 ? 8 : blockSize;
  auto* first = static_cast<uint8_t*>(::operator new(firstBytes, std::align_val_t(16), std::nothrow));
  uint32_t got = 0;
  const SN::SNRESULT read = first ? stream->Read(first, firstBytes, true, kHeaderPriority, 0.0f, got) : SN::SN_Failure;
  const bool tagged = read == SN::SN_Success && got >= 8 && ReadU32(first) == ReadU32(kTag) && ReadU32(first + 4) != 0;
  const uint64_t headerBytes = tagged ? uint64_t(ReadU32(first + 4)) + 8 : 0;
  if (!tagged || headerBytes > fileBytes) {
    AUDIO_LOG(Warning, "LoadPackage: \"%s\" is no sound file package", Platform::NarrowText(name).c_str());
    ::operator delete(first, std::align_val_t(16));
    stream->Destroy();
    return SN::SN_Failure;
  }
  CSnDiskPackage* created = Create(name, poolId, uint32_t(headerBytes), blockSize);
  if (!created) {
    ::operator delete(first, std::align_val_t(16));
    stream->Destroy();
    return SN::SN_Failure;
  }
  created->m_stream = stream;
  created->m_fileHandle = stream->GetFileDescriptor()->osHandle;
  auto* header = static_cast<uint8_t*>(created->m_headerMemory);
  const uint32_t h = uint32_t(headerBytes - 8);
  const uint32_t copied = got - 8 < h ? got - 8 : h;
  memcpy(header, first, 8);
  memcpy(header + 8, first + 8, copied);
  ::operator delete(first, std::align_val_t(16));
  if (copied < h) {
    const uint32_t missing = got == 8 ? h : uint32_t(RoundUp(h - copied, blockSize));
    uint32_t more = 0;
    if (stream->Read(header + 8 + copied, missing, true, kHeaderPriority, 0.0f, more) != SN::SN_Success ||
        more < h - copied) {
      AUDIO_LOG(Warning, "LoadPackage: the header of \"%s\" is cut short", Platform::NarrowText(name).c_str());
      created->Destroy();
      return SN::SN_Failure;
    }
  }
  if (!created->m_lut.Setup(header, headerBytes, fileBytes, Platform::NarrowText(name).c_str())) {
    AUDIO_LOG(Warning, "LoadPackage: the tables of \"%s\" do not fit its header", Platform::NarrowText(name).c_str());
    created->Destroy();
    return SN::SN_Failure;
  }
  package = created;
  return SN::SN_Success;
}

}  // namespace Audio
