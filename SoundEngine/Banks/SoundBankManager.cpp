// Loading and unloading banks: the record of a bank, its objects and media, the loaded-bank list, the
// media table and the bank-name table.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/DynamicDialogue/DialogueEvent.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Output/AudioThread.h"
#include "SoundEngine/Messages.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN {

CSnSoundBankManager* g_pBankManager = nullptr;

namespace {

constexpr uint32_t kMediaAlignment = 16;
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

// The record of a waiting call, on its caller's stack: result, event, pool id.
struct SyncCall {
  SNRESULT result = SN_Failure;
  Platform::Event done{Platform::Event::Reset::Auto};
  int32_t poolId = kInvalidPoolId;
};

void SyncCallback(uint32_t, const void*, SNRESULT result, int32_t poolId, void* cookie) {
  SyncCall* call = static_cast<SyncCall*>(cookie);
  call->result = result;
  call->poolId = poolId;
  call->done.Set();
}

// Bank callbacks this thread is running: the code under one (a command, an unload's end, the cookie
// set) goes on using the manager when it returns.
thread_local uint32_t t_bankCallbacks = 0;

}  // namespace

bool IsWaitingCallback(SnBankCallback callback) { return callback == &SyncCallback; }

SnBankCallbackScope::SnBankCallbackScope() { ++t_bankCallbacks; }
SnBankCallbackScope::~SnBankCallbackScope() { --t_bankCallbacks; }
bool SnBankCallbackScope::InCallbackOnThisThread() { return t_bankCallbacks != 0; }

const SnHircKind* SetHircKind(uint8_t type, const SnHircKind* kind) {
  const SnHircKind* previous = KindSlot(type);
  KindSlot(type) = kind;
  return previous;
}

Platform::ReentrantLock& BankListLock() {
  static Platform::ReentrantLock lock;
  return lock;
}

// ---- the bank record ----

CSnBankRecord::~CSnBankRecord() {
  ReleaseObjects();
  if (m_objects) MemoryMgr::Free(g_DefaultPoolId, m_objects);
  FreeMedia();
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
      Platform::ReentrantGuard audio(GlobalAudioLock());
      result = kind->readAgain(object, payload, size);
    }
  } else {
    Platform::ReentrantGuard audio(GlobalAudioLock());
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
      Platform::ReentrantGuard audio(GlobalAudioLock());
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

// ---- the manager ----

CSnSoundBankManager::CSnSoundBankManager() = default;

CSnSoundBankManager::~CSnSoundBankManager() { Term(); }

SNRESULT CSnSoundBankManager::Init() {
  if (m_initialized) return SN_Success;
  m_media.Init(g_DefaultPoolId);
  m_names.Init(g_DefaultPoolId);
  SNRESULT result = m_reader.Init();
  if (result != SN_Success) return result;
  if (!BankRecordReceiver()) {
    BankRecordReceiver() = this;
    m_installedReceiver = true;
  }
  m_initialized = true;
  return SN_Success;
}

void CSnSoundBankManager::Term() {
  if (!m_initialized) return;
  // Prepared events give back the references they keep, before the banks let their objects go.
  if (g_pObjectIndex) ClearPreparedEventsCommand();
  // Every record still here goes without a callback: its objects, its media and its sources.
  for (;;) {
    CSnBankRecord* record = nullptr;
    {
      Platform::ReentrantGuard list(BankListLock());
      m_banks.ForEach([&](CSnBankRecord* r) {
        if (!record) record = r;
      });
      if (record) m_banks.Remove(record);
    }
    if (!record) break;
    DestroyRecord(record);
  }
  // Unloads still waiting for their last media reference end here, without their callbacks.
  for (;;) {
    CSnBankRecord* record = nullptr;
    {
      Platform::ReentrantGuard list(BankListLock());
      record = m_unloading;
      if (record) m_unloading = record->m_pNextInBucket;
    }
    if (!record) break;
    DestroyRecord(record);
  }
  {
    Platform::ReentrantGuard guard(m_bankLock);
    for (auto it = m_media.Begin(); !it.AtEnd();) {
      MediaEntry& entry = it.node->value;
      if (entry.ownData) MemoryMgr::Falign(SoundEngine::Settings().preparedDataPoolId, entry.ownData);
      if (entry.sources) MemoryMgr::Free(g_DefaultPoolId, entry.sources);
      it = m_media.Erase(it);
    }
    m_media.Term();
    for (auto it = m_names.Begin(); !it.AtEnd();) {
      MemoryMgr::Free(g_DefaultPoolId, it.node->value);
      it = m_names.Erase(it);
    }
    m_names.Term();
  }
  m_reader.Term();
  if (m_installedReceiver && BankRecordReceiver() == this) BankRecordReceiver() = nullptr;
  m_installedReceiver = false;
  m_initialized = false;
}

SNRESULT CSnSoundBankManager::QueueCommand(const SnBankCommand& command) {
  // Callers on several threads take turns: a command uses the one reader and the staging of the
  // manager. Re-entrant, since a callback may hand on a command of its own.
  Platform::ReentrantGuard turn(m_commandLock);
  return ExecuteCommand(command);
}

void CSnSoundBankManager::CallCallback(const SnBankCommand& command, uint32_t id, SNRESULT result, int32_t poolId) {
  SnBankCallbackScope scope;
  if (command.callback)
    command.callback(id, command.sourceKind == SnBankSource_InPlace ? command.image : nullptr, result, poolId,
                     command.cookie);
}

SNRESULT CSnSoundBankManager::ExecuteCommand(const SnBankCommand& command) {
  SNRESULT result = SN_Success;
  switch (command.type) {
    case SnBankCommand_Load: result = LoadBankCommand(command); break;
    case SnBankCommand_Unload: result = UnloadBankCommand(command); break;
    case SnBankCommand_ClearBanks:
      result = ClearBanksCommand();
      CallCallback(command, 0, result, -1);
      break;
    case SnBankCommand_PrepareEvents:
    case SnBankCommand_UnprepareEvents:
      result = command.type == SnBankCommand_PrepareEvents ? PrepareEventsCommand(command)
                                                           : UnprepareEventsCommand(command);
      CallCallback(command, command.bankId == 1 ? uint32_t(command.poolId) : 0, result, -1);
      FreeCommand(command);
      break;
    case SnBankCommand_PrepareGameSyncs:
      result = PrepareGameSyncsCommand(command);
      CallCallback(command, 0, result, -1);
      FreeCommand(command);
      break;
    case SnBankCommand_ClearPreparedEvents:
      result = ClearPreparedEventsCommand();
      CallCallback(command, 0, result, -1);
      break;
    case SnBankCommand_PrepareBank:
      result = PrepareBankCommand(command.bankId, command.sourceKind == 1, true);
      CallCallback(command, command.bankId, result, -1);
      break;
    case SnBankCommand_UnprepareBank:
      result = UnprepareBankCommand(command.bankId, true);
      CallCallback(command, command.bankId, result, -1);
      break;
    case SnBankCommand_ReleaseMedia:
      result = ReleaseMediaCommand(command.bankId);
      CallCallback(command, command.bankId, result, -1);
      break;
    default: CallCallback(command, 0, SN_Success, -1); break;  // a command this manager does not know does nothing
  }
  m_lastResult = result;
  return result;
}

void CSnSoundBankManager::NoteMotionFlag(const SnBankHeader& header) {
  // Whatever the result and whatever the version, 0 included; a header never read is all zeros.
  m_motionFlag = header.motionFlag;
}

SNRESULT CSnSoundBankManager::OpenBank(CSnBankRecord& record, const SnBankCommand& command) {
  switch (command.sourceKind) {
    case SnBankSource_InPlace:
    case SnBankSource_Copied: return m_reader.SetMemory(command.image, command.imageSize);
    case SnBankSource_Name:
      if (const char* name = BankFileName(record.m_bankId)) return m_reader.OpenByName(name, 0, true);
      return m_reader.OpenByID(record.m_bankId, 0, 0, nullptr, true);
    default: return m_reader.OpenByID(record.m_bankId, 0, 0, nullptr, true);
  }
}

SNRESULT CSnSoundBankManager::LoadBankCommand(const SnBankCommand& command) {
  const bool fromImage = command.sourceKind == SnBankSource_InPlace || command.sourceKind == SnBankSource_Copied;
  const uint32_t bankId = fromImage ? BankIdOfImage(command.image, command.imageSize) : command.bankId;
  const void* key = command.sourceKind == SnBankSource_InPlace ? command.image : nullptr;
  const int32_t poolId = int32_t(command.poolId);
  CSnBankRecord* record = nullptr;
  bool loadedAlready = false;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, key);
    loadedAlready = record && record->IsLoaded();
    if (record && !loadedAlready) m_banks.Remove(record);  // a prepared record; back in the list once loaded
  }
  // Callbacks run with no lock of the manager held: one may call anything of the engine.
  if (loadedAlready) {
    SOUND_LOG(Warning, "Bank %u is loaded already", bankId);
    CallCallback(command, bankId, SN_BankAlreadyLoaded, poolId);
    return SN_Success;
  }
  const bool created = !record;
  if (created) record = PoolNew<CSnBankRecord>(g_DefaultPoolId, *this, bankId, key);
  SNRESULT result = record ? SN_Success : SN_InsufficientMemory;
  if (record) {
    record->m_sourceKind = uint8_t(command.sourceKind);
    record->m_poolId = poolId;
    record->m_dataSeen = false;
    record->m_indexSeen = false;
    memset(record->m_typesSaid, 0, sizeof record->m_typesSaid);
    record->m_mastersCleared = false;
    result = OpenBank(*record, command);
  }
  const uint32_t objectsBefore = record ? record->m_objectCount : 0;
  if (result == SN_Success) {
    // The default motion bus is set aside while the bank is read: a bank bringing its own keeps
    // that one, else the one set aside is put back.
    CSnIndexedObject* motionBus = nullptr;
    if (!m_keepBuses && BusDefaults()) motionBus = BusDefaults()->TakeDefaultMotionBus();
    SnBankHeader header{};
    result = ReadBankChunks(m_reader, *record, SnBankLoad_Normal, header);
    m_reader.Close();
    if (motionBus) {
      Platform::ReentrantGuard audio(GlobalAudioLock());
      BusDefaults()->RestoreDefaultMotionBus(motionBus);
      motionBus->Release();
    }
    NoteMotionFlag(header);
    // A media index without its DATA would hand out bytes beyond the bank.
    if (result == SN_Success && !record->m_dataSeen && record->m_indexCount) {
      for (uint32_t i = 0; i < record->m_indexCount && result == SN_Success; ++i)
        if (record->IndexEntry(i).mediaId != 0) result = SN_InvalidFile;
      if (result != SN_Success) SOUND_LOG(Error, "Bank %u has a media index but no DATA", bankId);
    }
    if (result == SN_Success) {
      // The load's own use is held before any of its media can be found: a thread taking and giving
      // back one of them must not drop the last use of a bank still being loaded. A failed
      // publication is undone under the one bank lock, so no one saw it.
      record->m_useCount.fetch_add(1);
      result = AddBankMediaSources(*record);
      if (result != SN_Success) record->m_useCount.fetch_sub(1);
    }
  } else if (record) {
    SOUND_LOG(Error, "Bank %u could not be opened (result %d)", bankId, int(result));
  }
  if (result != SN_Success) {
    if (record) {
      if (created) {
        DestroyRecord(record);
      } else {
        // The prepared record keeps what its preparation brought; what this load added goes.
        Platform::ReentrantGuard audio(GlobalAudioLock());
        while (record->m_objectCount > objectsBefore) record->m_objects[--record->m_objectCount]->Release();
        Platform::ReentrantGuard list(BankListLock());
        m_banks.Insert(record);
      }
    }
    CallCallback(command, bankId, result, poolId);
    return result;
  }
  record->m_bankFlags |= CSnBankRecord::kFlagLoaded;
  {
    Platform::ReentrantGuard list(BankListLock());
    m_banks.Insert(record);
  }
  CallCallback(command, bankId, SN_Success, poolId);
  return SN_Success;
}

SNRESULT CSnSoundBankManager::UnloadBankCommand(const SnBankCommand& command, int32_t* poolOut) {
  const uint32_t bankId = command.bankId;
  const int32_t poolId = int32_t(command.poolId);
  CSnBankRecord* record = nullptr;
  SNRESULT refused = SN_Success;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, command.image);
    if (!record)
      refused = SN_BankNotLoaded;
    else if (!record->IsLoaded())
      refused = SN_Failure;  // only prepared
    if (refused == SN_Success) {
      if (poolOut) *poolOut = record->CallerPoolId();
      m_banks.Remove(record);
      {
        // GetMedia reads the flag under the bank lock alone.
        Platform::ReentrantGuard guard(m_bankLock);
        record->m_stateFlags |= CSnBankRecord::kStateUnloading;
      }
      record->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagLoaded);
      record->m_callback = command.callback;
      record->m_cookie = command.cookie;
      record->m_pNextInBucket = m_unloading;
      m_unloading = record;
    }
  }
  if (refused != SN_Success) {
    if (refused == SN_BankNotLoaded)
      SOUND_LOG(Warning, "Bank %u is not loaded: nothing to unload", bankId);
    else
      SOUND_LOG(Warning, "Bank %u is only prepared: an unload does not unload it", bankId);
    CallCallback(command, bankId, refused, poolId);
    return refused;
  }
  record->ReleaseObjects();
  PostUnload(record);
  return SN_Success;
}

void CSnSoundBankManager::PostUnload(CSnBankRecord* record) {
  // The reservation is made with no bank lock held: a full ring makes this thread run handlers.
  if (g_pAudioMgr) {
    if (auto* message = g_pAudioMgr->Reserve<SnMsgStopBankVoices>(SnMsg_StopBankVoices)) {
      message->bank = record;
      g_pAudioMgr->FinishMessage();
      g_pAudioMgr->RenderAudio(true);
      return;
    }
  }
  FinishBankRecord(record);
}

void CSnSoundBankManager::FinishBankRecord(CSnLoadedBank* bank) { DropUse(static_cast<CSnBankRecord*>(bank)); }

void CSnSoundBankManager::DropBankRecord(CSnLoadedBank* bank) {
  auto* record = static_cast<CSnBankRecord*>(bank);
  record->m_callback = nullptr;
  DropUse(record);
}

void CSnSoundBankManager::DropUse(CSnBankRecord* record) {
  if (record->m_useCount.fetch_sub(1) == 1) EndRecord(record);
}

void CSnSoundBankManager::EndRecord(CSnBankRecord* record) {
  RemoveBankMediaSources(*record);
  SnBankCommand done;
  done.callback = record->m_callback;
  done.cookie = record->m_cookie;
  done.sourceKind = record->m_sourceKind;
  done.image = record->m_image;
  const uint32_t bankId = record->m_bankId;
  const int32_t poolId = record->CallerPoolId();
  record->m_callback = nullptr;
  bool destroy = false;
  {
    Platform::ReentrantGuard list(BankListLock());
    for (CSnBankRecord** link = &m_unloading; *link; link = &(*link)->m_pNextInBucket) {
      if (*link != record) continue;
      *link = record->m_pNextInBucket;
      record->m_pNextInBucket = nullptr;
      break;
    }
    record->FreeData();
    record->m_stateFlags &= uint8_t(~CSnBankRecord::kStateUnloading);
    // Preparations still hold it: back in the list as a prepared bank.
    destroy = record->m_refCount.load() == 0;
    if (!destroy) m_banks.Insert(record);
  }
  if (destroy) DestroyRecord(record);
  CallCallback(done, bankId, SN_Success, poolId);
}

void CSnSoundBankManager::DestroyRecord(CSnBankRecord* record) {
  RemoveBankMediaSources(*record);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  Platform::ReentrantGuard list(BankListLock());
  PoolDelete(g_DefaultPoolId, record);
}

SNRESULT CSnSoundBankManager::ClearBanksCommand() {
  CSnBankRecord* loaded[64];
  for (;;) {
    uint32_t count = 0;
    {
      Platform::ReentrantGuard list(BankListLock());
      m_banks.ForEach([&](CSnBankRecord* record) {
        if (record->IsLoaded() && count < 64) loaded[count++] = record;
      });
      for (uint32_t i = 0; i < count; ++i) {
        m_banks.Remove(loaded[i]);
        Platform::ReentrantGuard guard(m_bankLock);
        loaded[i]->m_stateFlags |= CSnBankRecord::kStateUnloading;
        loaded[i]->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagLoaded);
        loaded[i]->m_callback = nullptr;
        loaded[i]->m_pNextInBucket = m_unloading;
        m_unloading = loaded[i];
      }
    }
    if (!count) return SN_Success;
    while (count) {
      CSnBankRecord* record = loaded[--count];
      record->ReleaseObjects();
      PostUnload(record);
    }
  }
}

SNRESULT CSnSoundBankManager::ReleaseMediaCommand(uint32_t mediaId) {
  uint32_t left = 0;
  {
    Platform::ReentrantGuard guard(m_bankLock);
    if (!m_media.Find(mediaId)) return SN_IdNotFound;
  }
  ReleaseMedia(mediaId, nullptr);
  left = MediaReferences(mediaId);
  return left ? SN_Failure : SN_Success;
}

// ---- media ----

SNRESULT CSnSoundBankManager::AddMediaSource(uint32_t mediaId, CSnBankRecord* bank, const uint8_t* data, uint32_t size) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  MediaEntry* entry = m_media.FindOrInsert(mediaId);
  if (!entry) return SN_InsufficientMemory;
  auto* grown = static_cast<MediaSource*>(
      MemoryMgr::Malloc(g_DefaultPoolId, sizeof(MediaSource) * (size_t(entry->sourceCount) + 1)));
  if (!grown) {
    if (entry->refCount == 0 && !entry->sourceCount) m_media.Erase(m_media.FindWithPrev(mediaId));
    return SN_InsufficientMemory;
  }
  if (entry->sourceCount) memcpy(grown, entry->sources, sizeof(MediaSource) * entry->sourceCount);
  if (entry->sources) MemoryMgr::Free(g_DefaultPoolId, entry->sources);
  entry->sources = grown;
  entry->sources[entry->sourceCount++] = MediaSource{bank, data, size};
  ++entry->refCount;
  return SN_Success;
}

void CSnSoundBankManager::RemoveMediaSource(uint32_t mediaId, CSnBankRecord* bank, const uint8_t* data) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  auto it = m_media.FindWithPrev(mediaId);
  if (it.AtEnd()) return;
  MediaEntry& entry = it.node->value;
  for (uint32_t i = 0; i < entry.sourceCount; ++i) {
    const MediaSource& source = entry.sources[i];
    if (source.bank != bank || (!bank && source.data != data)) continue;
    // Order kept: GetMedia hands out the first source.
    memmove(entry.sources + i, entry.sources + i + 1, sizeof(MediaSource) * (entry.sourceCount - i - 1));
    --entry.sourceCount;
    DropMediaReference(it);
    return;
  }
}

void CSnSoundBankManager::DropMediaReference(const SnIdHashTable193<MediaEntry>::Iterator& it) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  MediaEntry& entry = it.node->value;
  ORV_ASSERT(entry.refCount > 0);
  if (--entry.refCount != 0) return;
  if (entry.ownData) MemoryMgr::Falign(SoundEngine::Settings().preparedDataPoolId, entry.ownData);
  if (entry.sources) MemoryMgr::Free(g_DefaultPoolId, entry.sources);
  m_media.Erase(it);
}

SNRESULT CSnSoundBankManager::AddBankMediaSources(CSnBankRecord& record) {
  if (!record.m_pData) return SN_Success;
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < record.m_indexCount; ++i) {
    const SnMediaIndexEntry entry = record.IndexEntry(i);
    if (entry.mediaId == 0) continue;
    if (AddMediaSource(entry.mediaId, &record, record.m_pData + entry.offset, entry.size) != SN_Success) {
      for (uint32_t j = 0; j < i; ++j) {
        const SnMediaIndexEntry undo = record.IndexEntry(j);
        if (undo.mediaId) RemoveMediaSource(undo.mediaId, &record, nullptr);
      }
      return SN_InsufficientMemory;
    }
  }
  return SN_Success;
}

void CSnSoundBankManager::RemoveBankMediaSources(CSnBankRecord& record) {
  if (!record.m_pData) return;
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < record.m_indexCount; ++i) {
    const SnMediaIndexEntry entry = record.IndexEntry(i);
    if (entry.mediaId) RemoveMediaSource(entry.mediaId, &record, nullptr);
  }
}

SnMediaRef CSnSoundBankManager::GetMedia(uint32_t mediaId) {
  // The bank lock alone: a bank's unloading flag is raised under it, and a bank's sources leave the
  // table under it before the bank goes, so a source found here belongs to a live bank.
  SnMediaRef ref;
  Platform::ReentrantGuard guard(m_bankLock);
  MediaEntry* entry = m_media.Find(mediaId);
  if (!entry) return ref;
  if (entry->ownData) {
    ++entry->refCount;
    ref.data = entry->ownData;
    ref.size = entry->ownSize;
    return ref;
  }
  for (uint32_t i = 0; i < entry->sourceCount; ++i) {
    const MediaSource& source = entry->sources[i];
    // An unloading bank's bytes are on their way out.
    if (source.bank && source.bank->IsUnloading()) continue;
    ++entry->refCount;
    // The bank stays until the last of its media handed out comes back.
    if (source.bank) source.bank->m_useCount.fetch_add(1);
    ref.data = source.data;
    ref.size = source.size;
    ref.bank = source.bank;
    return ref;
  }
  return ref;
}

void CSnSoundBankManager::ReleaseMedia(uint32_t mediaId, CSnBankRecord* bank) {
  {
    Platform::ReentrantGuard guard(m_bankLock);
    auto it = m_media.FindWithPrev(mediaId);
    if (!it.AtEnd()) DropMediaReference(it);
  }
  if (bank) DropUse(bank);
}

uint32_t CSnSoundBankManager::MediaReferences(uint32_t mediaId) {
  Platform::ReentrantGuard guard(m_bankLock);
  const MediaEntry* entry = m_media.Find(mediaId);
  return entry ? entry->refCount : 0;
}

SNRESULT CSnSoundBankManager::SetMedia(const SnMediaItem* items, uint32_t count) {
  if (count == 0) return SN_Success;
  if (!items) {
    SOUND_LOG(Error, "SetMedia: no media array");
    return SN_Failure;
  }
  Platform::ReentrantGuard guard(m_bankLock);
  uint32_t done = 0;
  SNRESULT result = SN_Success;
  for (; done < count; ++done) {
    const SnMediaItem& item = items[done];
    if (!item.data || item.size == 0) {
      SOUND_LOG(Error, "SetMedia: media %u has no bytes", item.mediaId);
      result = SN_Failure;
      break;
    }
    result = AddMediaSource(item.mediaId, nullptr, static_cast<const uint8_t*>(item.data), item.size);
    if (result != SN_Success) break;
  }
  if (result != SN_Success)
    while (done) {
      const SnMediaItem& item = items[--done];
      RemoveMediaSource(item.mediaId, nullptr, static_cast<const uint8_t*>(item.data));
    }
  return result;
}

SNRESULT CSnSoundBankManager::UnsetMedia(const SnMediaItem* items, uint32_t count) {
  if (count == 0) return SN_Success;
  if (!items) return SN_Failure;
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < count; ++i)
    RemoveMediaSource(items[i].mediaId, nullptr, static_cast<const uint8_t*>(items[i].data));
  return SN_Success;
}

// ---- bank names and the list ----

SNRESULT CSnSoundBankManager::AddBankFileName(uint32_t bankId, const char* name, uint32_t length) {
  Platform::ReentrantGuard guard(m_bankLock);
  if (m_names.Find(bankId)) return SN_Success;  // the first name recorded stays
  const bool hasExtension = length >= 4 && memcmp(name + length - 4, ".bnk", 4) == 0;
  const uint32_t total = length + (hasExtension ? 0 : 4);
  auto* copy = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, size_t(total) + 1));
  if (!copy) return SN_InsufficientMemory;
  memcpy(copy, name, length);
  if (!hasExtension) memcpy(copy + length, ".bnk", 4);
  copy[total] = '\0';
  char** slot = m_names.FindOrInsert(bankId);
  if (!slot) {
    MemoryMgr::Free(g_DefaultPoolId, copy);
    return SN_InsufficientMemory;
  }
  *slot = copy;
  return SN_Success;
}

const char* CSnSoundBankManager::BankFileName(uint32_t bankId) {
  Platform::ReentrantGuard guard(m_bankLock);
  char** name = m_names.Find(bankId);
  return name ? *name : nullptr;
}

CSnBankRecord* CSnSoundBankManager::FindBank(uint32_t bankId, const void* image) {
  Platform::ReentrantGuard list(BankListLock());
  return m_banks.Find(bankId, image);
}

uint32_t CSnSoundBankManager::BankCount() {
  Platform::ReentrantGuard list(BankListLock());
  return m_banks.Count();
}

SNRESULT CSnSoundBankManager::SetBankLoadIOSettings(float throughputBytesPerMs, uint8_t priority) {
  return m_reader.SetIOSettings(throughputBytesPerMs, priority);
}

// ---- the game's calls ----

// A bank named by file: its id is the hash of the name without extension, and the name is kept for opening it.
SNRESULT CSnSoundBankManager::NameLoadCommand(const char* caller, const char* name, int32_t poolId, uint32_t* bankId,
                                              SnBankCommand& command) {
  if (!name || !*name) {
    SOUND_LOG(Error, "%s: no bank name", caller);
    return SN_InvalidParameter;
  }
  const char* dot = strrchr(name, '.');
  const uint32_t stem = dot ? uint32_t(dot - name) : uint32_t(strlen(name));
  char buffer[256];
  if (stem >= sizeof buffer) {
    SOUND_LOG(Error, "%s: the bank name %s is too long", caller, name);
    return SN_InvalidParameter;
  }
  memcpy(buffer, name, stem);
  buffer[stem] = '\0';
  const uint32_t id = SoundEngine::GetIDFromString(buffer);
  if (bankId) *bankId = id;
  const SNRESULT named = AddBankFileName(id, buffer, stem);
  if (named != SN_Success) return named;
  command.type = SnBankCommand_Load;
  command.sourceKind = SnBankSource_Name;
  command.bankId = id;
  command.poolId = poolId;
  return SN_Success;
}

SNRESULT CSnSoundBankManager::LoadBank(const char* name, SnBankCallback callback, void* cookie, int32_t poolId,
                                       uint32_t* bankId) {
  SnBankCommand command;
  const SNRESULT made = NameLoadCommand("LoadBank", name, poolId, bankId, command);
  if (made != SN_Success) return made;
  command.callback = callback;
  command.cookie = cookie;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::LoadBank(uint32_t bankId, SnBankCallback callback, void* cookie, int32_t poolId) {
  SnBankCommand command;
  command.type = SnBankCommand_Load;
  command.callback = callback;
  command.cookie = cookie;
  command.sourceKind = SnBankSource_Id;
  command.bankId = bankId;
  command.poolId = poolId;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::LoadBankImage(const void* image, uint32_t size, bool copyMedia, SnBankCallback callback,
                                            void* cookie, int32_t poolId, uint32_t* bankId) {
  // In place, the media are handed out from the image itself: it must be aligned as media are.
  if (!image || size < 28 || (!copyMedia && reinterpret_cast<uintptr_t>(image) % kMediaAlignment != 0)) {
    SOUND_LOG(Error, "LoadBank: a bank image must be non-null, aligned on 16 bytes and longer than 27 bytes");
    return SN_InvalidParameter;
  }
  SnBankCommand command;
  command.type = SnBankCommand_Load;
  command.callback = callback;
  command.cookie = cookie;
  command.sourceKind = copyMedia ? SnBankSource_Copied : SnBankSource_InPlace;
  command.bankId = BankIdOfImage(image, size);
  command.poolId = poolId;
  command.image = image;
  command.imageSize = size;
  if (bankId) *bankId = command.bankId;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::UnloadBank(uint32_t bankId, const void* image, SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_Unload;
  command.callback = callback;
  command.cookie = cookie;
  command.sourceKind = image ? SnBankSource_InPlace : SnBankSource_Id;
  command.bankId = bankId;
  command.image = image;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::ClearBanks(SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_ClearBanks;
  command.callback = callback;
  command.cookie = cookie;
  return QueueCommand(command);
}

bool CSnSoundBankManager::RunsCommandsOnThisThread() const {
  // Inside an audio pass this thread holds GlobalAudioLock(), which a load takes to make objects,
  // and unload callbacks run there; the audio thread itself runs only passes.
  const uint64_t audio = AudioThread::ThreadId();
  return CSnAudioMgr::InAudioPassOnThisThread() || (audio != 0 && audio == Platform::CurrentThreadId());
}

bool CSnSoundBankManager::RefusesWaitingHere() const {
  if (!RunsCommandsOnThisThread()) return false;
  SOUND_LOG(Error, "A waiting bank call on the thread that runs the bank commands or an audio pass would wait for itself");
  return true;
}

SNRESULT CSnSoundBankManager::QueueAndWait(SnBankCommand command, int32_t* poolId) {
  if (poolId) *poolId = kInvalidPoolId;
  if (RefusesWaitingHere()) {
    FreeCommand(command);
    return SN_Failure;
  }
  SyncCall call;
  command.callback = &SyncCallback;
  command.cookie = &call;
  // Anything but success is the command's own result (run at once) or a refusal to queue it.
  const SNRESULT queued = QueueCommand(command);
  if (queued != SN_Success) return queued;
  call.done.Wait(Platform::kWaitForever);
  if (poolId) *poolId = call.poolId;
  return call.result;
}

SNRESULT CSnSoundBankManager::UnloadBankSync(const SnBankCommand& command, int32_t* poolId) {
  // Run now and without a callback: the unload's end may wait for media this very thread holds.
  SnBankCommand run = command;
  run.callback = nullptr;
  run.cookie = nullptr;
  Platform::ReentrantGuard turn(m_commandLock);
  m_lastResult = UnloadBankCommand(run, poolId);
  return m_lastResult;
}

SNRESULT CSnSoundBankManager::LoadBankWait(const char* name, int32_t poolId, uint32_t* bankId) {
  SnBankCommand command;
  const SNRESULT made = NameLoadCommand("LoadBankWait", name, poolId, bankId, command);
  if (made != SN_Success) return made;
  return QueueAndWait(command);
}

SNRESULT CSnSoundBankManager::LoadBankWait(uint32_t bankId, int32_t poolId) {
  SnBankCommand command;
  command.type = SnBankCommand_Load;
  command.sourceKind = SnBankSource_Id;
  command.bankId = bankId;
  command.poolId = poolId;
  return QueueAndWait(command);
}

SNRESULT CSnSoundBankManager::LoadBankImageWait(const void* image, uint32_t size, bool copyMedia, int32_t poolId,
                                                uint32_t* bankId) {
  if (!image || size < 28 || (!copyMedia && reinterpret_cast<uintptr_t>(image) % kMediaAlignment != 0))
    return SN_InvalidParameter;
  SnBankCommand command;
  command.type = SnBankCommand_Load;
  command.sourceKind = copyMedia ? SnBankSource_Copied : SnBankSource_InPlace;
  command.bankId = BankIdOfImage(image, size);
  command.poolId = poolId;
  command.image = image;
  command.imageSize = size;
  if (bankId) *bankId = command.bankId;
  return QueueAndWait(command);
}

SNRESULT CSnSoundBankManager::UnloadBankWait(uint32_t bankId, const void* image, int32_t* poolId) {
  if (poolId) *poolId = kInvalidPoolId;
  if (RefusesWaitingHere()) return SN_Failure;
  SnBankCommand command;
  command.type = SnBankCommand_Unload;
  command.sourceKind = image ? SnBankSource_InPlace : SnBankSource_Id;
  command.bankId = bankId;
  command.image = image;
  return UnloadBankSync(command, poolId);
}

}  // namespace SN
