// A bank record: its objects by HIRC kind, its media index and DATA block, its bank names.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/DynamicDialogue/DialogueEvent.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

namespace {

constexpr uint32_t kOwnDataPoolAttributes = SnMemPool_AllocHook | SnMemPool_FixedBlocks;

const SnHircKind kEventKind{SnIndex_Events, &ReadEventPayload, nullptr, nullptr};
const SnHircKind kDialogueEventKind{SnIndex_DialogueEvents, &ReadDialogueEventPayload, nullptr, nullptr};
const SnHircKind kActionKind{SnIndex_Actions, &ReadActionPayload, &ActionReadsAgain, &ReadActionAgain};

const SnHircKind*& KindSlot(uint8_t type) {
  static const SnHircKind* kinds[256] = {};
  static bool filled = [] {
    kinds[3] = &kActionKind;
    kinds[4] = &kEventKind;
    kinds[kHircDialogueEventType] = &kDialogueEventKind;
    return true;
  }();
  (void)filled;
  return kinds[type];
}

}  // namespace

const SnHircKind* SetHircKind(uint8_t type, const SnHircKind* kind) {
  const SnHircKind* previous = KindSlot(type);
  KindSlot(type) = kind;
  return previous;
}

CSnBankRecord::~CSnBankRecord() {
  // Its sources have left the media table, and it holds nothing of the game's.
  ORV_ASSERT(m_sourcesInTable == 0 && !m_hold.Held());
  ReleaseObjects();
  if (m_objects) MemoryMgr::Free(g_DefaultPoolId, m_objects);
  FreeMedia();
  PoolDelete(g_DefaultPoolId, m_unloadAnswer);
}

SNRESULT CSnBankRecord::ReserveObjects(uint32_t count) {
  if (count > UINT32_MAX - m_objectCount) return SN_Failure;
  const uint32_t need = m_objectCount + count;
  if (need <= m_objectCapacity) return SN_Success;
  auto** grown = static_cast<CSnIndexedObject**>(MemoryMgr::Malloc(g_DefaultPoolId, size_t(need) * sizeof(void*)));
  if (!grown) return SN_Failure;
  if (m_objectCount) memcpy(grown, m_objects, size_t(m_objectCount) * sizeof(void*));
  if (m_objects) MemoryMgr::Free(g_DefaultPoolId, m_objects);
  m_objects = grown;
  m_objectCapacity = need;
  return SN_Success;
}

void CSnBankRecord::AddObject(CSnIndexedObject* object) {
  if (!object) return;
  if (m_objectCount < m_objectCapacity) {
    m_objects[m_objectCount++] = object;
    return;
  }
  // No room: the bank could never give the reference back, so it goes now.
  SOUND_LOG(Error, "Bank %u: object %u finds the object list full and is let go", m_bankId, object->ID());
  Platform::ReentrantGuard audio(GlobalAudioLock());
  object->Release();
}

SNRESULT CSnBankRecord::LoadObject(uint8_t type, uint32_t size, CSnSoundBankReader& reader) {
  const SnHircKind* kind = KindSlot(type);
  if (!kind) {
    uint32_t& word = m_typesSaid[type / 32];
    const uint32_t bit = 1u << (type % 32);
    if (!(word & bit)) {
      word |= bit;
      SOUND_LOG(Warning, "Bank %u: objects of type %u are passed over: nothing loads them", m_bankId, unsigned(type));
    }
    return SN_Success;
  }
  const uint8_t* payload = reader.GetData(size);
  if (!payload) {
    SOUND_LOG(Error, "Bank %u: an object of type %u could not be read whole", m_bankId, unsigned(type));
    return SN_InvalidFile;
  }
  uint32_t id = 0;
  memcpy(&id, payload, sizeof id);
  CSnObjectIndexList& list = g_pObjectIndex->List(kind->list);
  CSnIndexedObject* object = list.FindAndAddRef(id);
  SNRESULT result = SN_Success;
  if (object) {
    if (kind->readsAgain && kind->readAgain && kind->readsAgain(object)) {
      SnAudioLockTurn audio;
      result = kind->readAgain(object, payload, size);
    }
  } else {
    // A turn: the lock is taken once per object, against passes and posters under a flood.
    SnAudioLockTurn audio;
    // A bank's master bus replaces the ones loaded before it, unless the game keeps its buses. Once
    // per load, before its first new parentless bus: cleared before every bus, the bank's own master
    // would be lost as soon as a child bus followed it, and no second parentless bus could be the
    // secondary.
    if (type == kHircMasterBusType && !m_mastersCleared && !m_manager->m_keepBuses && BusDefaults()) {
      uint32_t parentId = 0;
      if (size >= 2 * sizeof(uint32_t)) memcpy(&parentId, payload + sizeof(uint32_t), sizeof parentId);
      if (parentId == 0) {
        BusDefaults()->ClearMasterBuses();
        m_mastersCleared = true;
      }
    }
    result = kind->create(payload, size, object);
    // Entered only once whole: a lookup never finds an object half read.
    if (result == SN_Success && object) list.Insert(object);
  }
  reader.ReleaseData();
  if (result != SN_Success || !object) {
    if (object) {
      SnAudioLockTurn audio;
      object->Release();
    }
    return result != SN_Success ? result : SN_Failure;
  }
  AddObject(object);
  return SN_Success;
}

void CSnBankRecord::ReleaseObjects() {
  if (!m_objectCount) return;
  Platform::ReentrantGuard audio(GlobalAudioLock());
  // Newest first: an event goes before the actions it chains.
  while (m_objectCount) m_objects[--m_objectCount]->Release();
}

SnMediaIndexEntry CSnBankRecord::IndexEntry(uint32_t i) const { return SnMediaIndexView{m_pIndex, m_indexCount}[i]; }

SNRESULT CSnBankRecord::LoadMediaIndex(const SnMediaIndexView& index) {
  if (m_indexSeen) {
    SOUND_LOG(Error, "Bank %u holds a second media index", m_bankId);
    return SN_InvalidFile;
  }
  m_indexSeen = true;
  // A record read again (loaded after a preparation, or the reverse) keeps the index it has, and
  // the count of entries whose prepared media it holds: they are given back by that count.
  if (m_pIndex) {
    if (index.count != m_indexCount) return SN_InvalidFile;
    return m_dataSeen ? CheckIndexAgainstData() : SN_Success;
  }
  m_indexHandled = 0;
  m_indexCount = index.count;
  if (!index.count) return SN_Success;
  if (m_sourceKind == SnBankSource_InPlace) {
    m_pIndex = index.bytes;  // the image outlives the bank
    return m_dataSeen ? CheckIndexAgainstData() : SN_Success;
  }
  const size_t bytes = size_t(index.count) * sizeof(SnMediaIndexEntry);
  auto* copy = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, bytes));
  if (!copy) {
    m_indexCount = 0;
    return SN_InsufficientMemory;
  }
  memcpy(copy, index.bytes, bytes);
  m_pIndex = copy;
  m_bankFlags |= kFlagOwnsIndex;
  // An index after its DATA is checked here, one before it when the DATA comes.
  return m_dataSeen ? CheckIndexAgainstData() : SN_Success;
}

SNRESULT CSnBankRecord::CheckIndexAgainstData() const {
  // Every entry must lie inside DATA before any byte is handed out.
  for (uint32_t i = 0; i < m_indexCount; ++i) {
    const SnMediaIndexEntry entry = IndexEntry(i);
    if (uint64_t(entry.offset) + entry.size > m_dataSize) {
      SOUND_LOG(Error, "Bank %u: media %u at %u with %u bytes lies past its DATA of %u bytes", m_bankId, entry.mediaId,
                entry.offset, entry.size, m_dataSize);
      return SN_InvalidFile;
    }
  }
  return SN_Success;
}

SNRESULT CSnBankRecord::LoadMediaData(CSnSoundBankReader& reader, uint32_t size, SnBankLoadMode mode) {
  if (m_dataSeen) {
    SOUND_LOG(Error, "Bank %u holds a second DATA chunk", m_bankId);
    return SN_InvalidFile;
  }
  m_dataSeen = true;
  m_dataSize = size;
  // A size the source cannot hold is refused before anything is allocated for it.
  if (size > reader.BytesLeft()) {
    SOUND_LOG(Error, "Bank %u: its DATA of %u bytes runs past the end of the bank", m_bankId, size);
    return SN_InvalidFile;
  }
  const SNRESULT checked = CheckIndexAgainstData();
  if (checked != SN_Success) return checked;
  if (mode != SnBankLoad_Normal) return ReadMediaEntries(reader, size);
  if (size == 0) return SN_Success;
  if (m_sourceKind == SnBankSource_InPlace && m_image) {
    const uint64_t at = reader.Position();
    uint32_t skipped = 0;
    if (reader.Skip(size, skipped) != SN_Success || skipped != size) return SN_InvalidFile;
    m_pData = const_cast<uint8_t*>(static_cast<const uint8_t*>(m_image) + at);
    return SN_Success;
  }
  if (m_poolId == kInvalidPoolId) {
    const SnMemPoolId pool = MemoryMgr::CreatePool(nullptr, size, size, kOwnDataPoolAttributes, kMediaAlignment);
    if (pool == kInvalidPoolId) return SN_InsufficientMemory;
    m_poolId = pool;
    m_ownPool = 1;
  }
  if (MemoryMgr::GetPoolAttributes(m_poolId) & SnMemPool_FixedBlocks) {
    if (MemoryMgr::GetBlockSize(m_poolId) < size) {
      SOUND_LOG(Error, "Bank %u: the blocks of pool %d are smaller than its DATA of %u bytes", m_bankId, m_poolId, size);
      return SN_InsufficientMemory;
    }
    m_pData = static_cast<uint8_t*>(MemoryMgr::GetBlock(m_poolId));
  } else {
    m_pData = static_cast<uint8_t*>(MemoryMgr::Malign(m_poolId, size, kMediaAlignment));
  }
  if (!m_pData) return SN_InsufficientMemory;
  return reader.ReadExact(m_pData, size);
}

SNRESULT CSnBankRecord::ReadMediaEntries(CSnSoundBankReader& reader, uint32_t size) {
  // Entry by entry, in the order they lie; media already resident gain a reference instead.
  const SnMemPoolId pool = SoundEngine::Settings().preparedDataPoolId;
  uint64_t at = 0;
  for (; m_indexHandled < m_indexCount; ++m_indexHandled) {
    const SnMediaIndexEntry entry = IndexEntry(m_indexHandled);
    if (entry.mediaId == 0) continue;
    {
      Platform::ReentrantGuard guard(m_manager->m_bankLock);
      CSnSoundBankManager::MediaEntry* media = m_manager->m_media.Find(entry.mediaId);
      if (media && media->ownData) {
        ++media->refCount;
        continue;
      }
    }
    if (pool == kInvalidPoolId) {
      SOUND_LOG(Error, "Bank %u: media are prepared without a pool for them", m_bankId);
      return SN_InsufficientMemory;
    }
    if (entry.offset < at) {
      SOUND_LOG(Error, "Bank %u: media %u lies before the one read last", m_bankId, entry.mediaId);
      return SN_InvalidFile;
    }
    uint32_t skipped = 0;
    const uint32_t gap = uint32_t(entry.offset - at);
    if (gap && (reader.Skip(gap, skipped) != SN_Success || skipped != gap)) return SN_InvalidFile;
    auto* bytes = static_cast<uint8_t*>(MemoryMgr::Malign(pool, entry.size ? entry.size : 1, kMediaAlignment));
    if (!bytes) return SN_InsufficientMemory;
    SNRESULT result = entry.size ? reader.ReadExact(bytes, entry.size) : SN_Success;
    if (result == SN_Success) {
      Platform::ReentrantGuard guard(m_manager->m_bankLock);
      CSnSoundBankManager::MediaEntry* media = m_manager->m_media.FindOrInsert(entry.mediaId);
      if (!media) {
        result = SN_InsufficientMemory;
      } else {
        media->ownData = bytes;
        media->ownSize = entry.size;
        ++media->refCount;
      }
    }
    if (result != SN_Success) {
      MemoryMgr::Falign(pool, bytes);
      return result;
    }
    at = uint64_t(entry.offset) + entry.size;
  }
  (void)size;
  m_bankFlags |= kFlagMediaPrepared;
  return SN_Success;
}

SNRESULT CSnBankRecord::AddBankName(uint32_t bankId, const char* name, uint32_t length) {
  // A bank names other banks by plain file name: a path could steer a later open anywhere.
  bool plain = length != 0;
  for (uint32_t i = 0; i < length && plain; ++i)
    plain = name[i] != '/' && name[i] != '\\' && name[i] != '\0';
  for (uint32_t i = 0; i + 1 < length && plain; ++i) plain = !(name[i] == '.' && name[i + 1] == '.');
  if (!plain) {
    SOUND_LOG(Warning, "Bank %u: the name of bank %u is not a plain file name; it is ignored", m_bankId, bankId);
    return SN_Success;
  }
  return m_manager->AddBankFileName(bankId, name, length);
}

void CSnBankRecord::FreeMedia() {
  FreeData();
  if (m_bankFlags & kFlagOwnsIndex) MemoryMgr::Free(g_DefaultPoolId, const_cast<uint8_t*>(m_pIndex));
  m_bankFlags &= uint8_t(~kFlagOwnsIndex);
  m_pIndex = nullptr;
  m_indexCount = 0;
}

void CSnBankRecord::FreeData() {
  if (m_pData && m_poolId != kInvalidPoolId) {
    if (MemoryMgr::GetPoolAttributes(m_poolId) & SnMemPool_FixedBlocks)
      MemoryMgr::ReleaseBlock(m_poolId, m_pData);
    else
      MemoryMgr::Falign(m_poolId, m_pData);
  }
  m_pData = nullptr;
  if (m_ownPool) MemoryMgr::DestroyPool(m_poolId);
  m_ownPool = 0;
  m_dataSize = 0;
}

}  // namespace SN
