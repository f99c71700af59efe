// Preparation: banks read for their structure or their media ahead of use, events whose play actions
// load their banks and their nodes' media, game-sync values, and the media nodes ask for, staged while
// a command runs so that each is loaded once. A failing step undoes every earlier step of its command.
#include <cstdio>
#include <cstring>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/NodePreparation.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

// Events being walked, innermost last: a play-event action naming one of them closes a cycle.
constexpr uint32_t kMaxEventDepth = 32;
struct EventWalk {
  const CSnIndexedObject* events[kMaxEventDepth];
  uint32_t depth = 0;
  bool Contains(const CSnIndexedObject* event) const {
    for (uint32_t i = 0; i < depth; ++i)
      if (events[i] == event) return true;
    return false;
  }
};
thread_local EventWalk t_walk;

// The ids of a command: its one id, or the array it owns.
const uint32_t* CommandIds(uintptr_t word, uint32_t count, uint32_t& single) {
  if (count == 1) {
    single = uint32_t(word);
    return &single;
  }
  return reinterpret_cast<const uint32_t*>(word);
}

}  // namespace

uintptr_t CSnSoundBankManager::CommandIdsWord(const uint32_t* ids, uint32_t count, bool& failed) {
  failed = false;
  if (count == 1) return ids[0];
  if (count == 0) return 0;
  auto* copy = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(uint32_t) * count));
  if (!copy) {
    failed = true;
    return 0;
  }
  memcpy(copy, ids, sizeof(uint32_t) * count);
  return reinterpret_cast<uintptr_t>(copy);
}

void CSnSoundBankManager::FreeCommand(const SnBankCommand& command) {
  switch (command.type) {
    case SnBankCommand_PrepareEvents:
    case SnBankCommand_UnprepareEvents:
      if (command.bankId > 1 && command.poolId) MemoryMgr::Free(g_DefaultPoolId, reinterpret_cast<void*>(command.poolId));
      break;
    case SnBankCommand_PrepareGameSyncs:
      if (command.imageSize > 1 && command.extra) MemoryMgr::Free(g_DefaultPoolId, command.extra);
      break;
    case SnBankCommand_Unload: FreeAnswer(command); break;
    default: break;
  }
}

// ---- banks ----

void CSnSoundBankManager::ReleaseRecordReference(CSnBankRecord* record) {
  if (record->m_refCount.fetch_sub(1) != 1) return;
  if (record->m_bankFlags & CSnBankRecord::kFlagMediaPrepared) {
    for (uint32_t i = 0; i < record->m_indexHandled; ++i) {
      const uint32_t mediaId = record->IndexEntry(i).mediaId;
      if (mediaId) ReleaseMedia(mediaId, nullptr);
    }
    record->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagMediaPrepared);
    record->m_indexHandled = 0;
  }
  {
    Platform::ReentrantGuard list(BankListLock());
    if (record->IsLoaded() || record->IsUnloading()) return;  // the load's own end frees it
    m_banks.Remove(record);
  }
  DestroyRecord(record);
}

SNRESULT CSnSoundBankManager::PrepareBankCommand(uint32_t bankId, bool withMedia, bool explicitPreparation) {
  CSnBankRecord* record = nullptr;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, nullptr);
    if (record) {
      record->m_refCount.fetch_add(1);
      if (explicitPreparation) ++record->m_preparationCount;
    }
  }
  const bool created = !record;
  SnBankLoadMode mode = SnBankLoad_PreparedMedia;
  if (record) {
    if (!withMedia || (record->m_bankFlags & CSnBankRecord::kFlagMediaPrepared)) return SN_Success;
  } else {
    record = PoolNew<CSnBankRecord>(g_DefaultPoolId, *this, bankId, nullptr);
    if (!record) return SN_InsufficientMemory;
    record->m_refCount = 1;
    record->m_preparationCount = explicitPreparation ? 1 : 0;
    mode = withMedia ? SnBankLoad_MediaOnly : SnBankLoad_StructureOnly;
  }
  record->m_sourceKind = SnBankSource_Name;
  record->m_dataSeen = false;
  record->m_indexSeen = false;
  memset(record->m_typesSaid, 0, sizeof record->m_typesSaid);
  record->m_mastersCleared = false;
  SnBankCommand open;
  open.sourceKind = SnBankSource_Name;
  SNRESULT result = OpenBank(*record, open);
  if (result == SN_Success) {
    SnBankHeader header{};
    result = ReadBankChunks(m_reader, *record, mode, header);
    m_reader.Close();
    NoteMotionFlag(header);
    if (result == SN_Success && mode != SnBankLoad_StructureOnly && record->m_indexCount && !record->m_dataSeen) {
      SOUND_LOG(Error, "Bank %u has a media index but no DATA", bankId);
      result = SN_InvalidFile;
    }
  } else {
    SOUND_LOG(Error, "Bank %u could not be opened to be prepared (result %d)", bankId, int(result));
  }
  if (result != SN_Success) {
    // Media read before the failure go again; so does the reference this command took.
    for (uint32_t i = 0; i < record->m_indexHandled; ++i) {
      const uint32_t mediaId = record->IndexEntry(i).mediaId;
      if (mediaId) ReleaseMedia(mediaId, nullptr);
    }
    record->m_indexHandled = 0;
    record->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagMediaPrepared);
    if (created) {
      DestroyRecord(record);
    } else {
      if (explicitPreparation) --record->m_preparationCount;
      ReleaseRecordReference(record);
    }
    return result;
  }
  if (created) {
    Platform::ReentrantGuard list(BankListLock());
    m_banks.Insert(record);
  }
  return SN_Success;
}

SNRESULT CSnSoundBankManager::UnprepareBankCommand(uint32_t bankId, bool explicitPreparation) {
  CSnBankRecord* record = nullptr;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, nullptr);
    if (!record || record->m_refCount.load() == 0) return SN_BankNotLoaded;
    if (explicitPreparation) {
      if (record->m_preparationCount == 0) return SN_Failure;
      --record->m_preparationCount;
    }
  }
  ReleaseRecordReference(record);
  return SN_Success;
}

// ---- events ----

SNRESULT CSnSoundBankManager::PrepareEvent(CSnEvent* event, UndoLog& undo) {
  const bool first = event->m_preparationCount == 0;
  if (first) event->AddRef();  // kept while the event is prepared
  ++event->m_preparationCount;
  if (!undo.Add(UndoStep{UndoStep::Event, event->ID(), event})) {
    if (--event->m_preparationCount == 0) event->Release();
    return SN_InsufficientMemory;
  }
  if (!first) return SN_Success;
  if (t_walk.depth == kMaxEventDepth) {
    SOUND_LOG(Error, "Prepare events: event %u lies more than %u play-event actions deep", event->ID(), kMaxEventDepth);
    return SN_Failure;
  }
  t_walk.events[t_walk.depth++] = event;
  SNRESULT result = SN_Success;
  for (CSnEventAction* action = event->FirstAction(); action && result == SN_Success;
       action = CSnEvent::NextAction(action)) {
    if (action->ActionType() == SnAction_Play) {
      if (const uint32_t bankId = action->NamedBankId()) {
        result = PrepareBankCommand(bankId, false, false);
        if (result == SN_Success && !undo.Add(UndoStep{UndoStep::Bank, bankId, nullptr})) {
          UnprepareBankCommand(bankId, false);
          result = SN_InsufficientMemory;
        }
      }
      if (result == SN_Success && NodePreparation()) {
        result = NodePreparation()->PrepareNodeData(action->TargetId());
        if (result == SN_Success && !undo.Add(UndoStep{UndoStep::Node, action->TargetId(), nullptr})) {
          NodePreparation()->UnprepareNodeData(action->TargetId());
          result = SN_InsufficientMemory;
        }
      }
    } else if (action->ActionType() == SnAction_PlayEvent) {
      CSnIndexedObject* named = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(action->NamedEventId());
      if (!named) {
        SOUND_LOG(Error, "Prepare events: event %u plays event %u, which is not loaded", event->ID(),
                  action->NamedEventId());
        result = SN_IdNotFound;
      } else {
        // An event already being walked closes a cycle: it is prepared once.
        if (!t_walk.Contains(named)) result = PrepareEvent(static_cast<CSnEvent*>(named), undo);
        named->Release();
      }
    }
  }
  --t_walk.depth;
  return result;
}

void CSnSoundBankManager::UnprepareEventActions(CSnEvent* event) {
  if (t_walk.depth == kMaxEventDepth) return;
  t_walk.events[t_walk.depth++] = event;
  for (CSnEventAction* action = event->FirstAction(); action; action = CSnEvent::NextAction(action)) {
    if (action->ActionType() == SnAction_Play) {
      if (NodePreparation()) NodePreparation()->UnprepareNodeData(action->TargetId());
      if (const uint32_t bankId = action->NamedBankId()) UnprepareBankCommand(bankId, false);
    } else if (action->ActionType() == SnAction_PlayEvent) {
      CSnIndexedObject* named = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(action->NamedEventId());
      if (!named) continue;
      auto* inner = static_cast<CSnEvent*>(named);
      if (!t_walk.Contains(inner) && inner->m_preparationCount && --inner->m_preparationCount == 0) {
        UnprepareEventActions(inner);
        inner->Release();
      }
      named->Release();
    }
  }
  --t_walk.depth;
}

void CSnSoundBankManager::Undo(UndoLog& undo) {
  m_undoing = true;
  for (uint32_t i = undo.Count(); i-- > 0;) {
    const UndoStep& step = undo[i];
    switch (step.kind) {
      case UndoStep::Event: {
        auto* event = static_cast<CSnEvent*>(step.event);
        // The steps of its actions lie after it and were undone first.
        if (event->m_preparationCount && --event->m_preparationCount == 0) event->Release();
        break;
      }
      case UndoStep::Node:
        if (NodePreparation()) NodePreparation()->UnprepareNodeData(step.id);
        break;
      case UndoStep::Bank: UnprepareBankCommand(step.id, false); break;
      case UndoStep::Media: ReleaseMedia(step.id, nullptr); break;
      case UndoStep::GameSync: break;
    }
  }
  m_undoing = false;
  undo.Term();
}

SNRESULT CSnSoundBankManager::PrepareEventsCommand(const SnBankCommand& command) {
  uint32_t single = 0;
  const uint32_t count = command.bankId;
  const uint32_t* ids = CommandIds(uintptr_t(command.poolId), count, single);
  UndoLog undo;
  m_staging = true;
  SNRESULT result = SN_Success;
  for (uint32_t i = 0; i < count && result == SN_Success; ++i) {
    CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(ids[i]);
    if (!found) {
      SOUND_LOG(Error, "Prepare events: event %u is not loaded", ids[i]);
      result = SN_IdNotFound;
      break;
    }
    result = PrepareEvent(static_cast<CSnEvent*>(found), undo);
    found->Release();
  }
  m_staging = false;
  if (result == SN_Success) result = LoadStagedMedia(undo);
  m_staged.Term();
  if (result != SN_Success) Undo(undo);
  return result;
}

SNRESULT CSnSoundBankManager::UnprepareEventsCommand(const SnBankCommand& command) {
  uint32_t single = 0;
  const uint32_t count = command.bankId;
  const uint32_t* ids = CommandIds(uintptr_t(command.poolId), count, single);
  for (uint32_t i = 0; i < count; ++i) {
    CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(ids[i]);
    if (!found) {
      SOUND_LOG(Error, "Unprepare events: event %u is not loaded", ids[i]);
      return SN_IdNotFound;
    }
    auto* event = static_cast<CSnEvent*>(found);
    if (event->m_preparationCount && --event->m_preparationCount == 0) {
      UnprepareEventActions(event);
      event->Release();
    }
    found->Release();
  }
  return SN_Success;
}

SNRESULT CSnSoundBankManager::ClearPreparedEventsCommand() {
  SnArray<CSnIndexedObject*> prepared;
  bool complete = true;
  g_pObjectIndex->List(SnIndex_Events).ForEach([&](CSnIndexedObject* object) {
    if (static_cast<CSnEvent*>(object)->m_preparationCount == 0) return;
    if (prepared.Add(object)) object->AddRef(); else complete = false;
  });
  for (CSnIndexedObject* object : prepared) {
    auto* event = static_cast<CSnEvent*>(object);
    if (event->m_preparationCount) {
      event->m_preparationCount = 0;
      UnprepareEventActions(event);
      event->Release();
    }
    object->Release();
  }
  return complete ? SN_Success : SN_InsufficientMemory;
}

uint32_t CSnSoundBankManager::EventPreparationCount(uint32_t eventId) {
  CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(eventId);
  if (!found) return 0;
  const uint32_t count = static_cast<CSnEvent*>(found)->m_preparationCount;
  found->Release();
  return count;
}

// ---- game syncs ----

SNRESULT CSnSoundBankManager::PrepareGameSyncsCommand(const SnBankCommand& command) {
  if (!g_pStateMgr) return SN_Failure;
  const bool prepare = command.image != nullptr;
  uint32_t single = 0;
  const uint32_t count = command.imageSize;
  const uint32_t* ids = CommandIds(reinterpret_cast<uintptr_t>(command.extra), count, single);
  // The values' listeners, switch containers prepared by them, walk the tree the audio thread plays.
  auto tell = [&](uint32_t value, bool on) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    return g_pStateMgr->PrepareGameSyncValue(command.sourceKind, command.bankId, value, on);
  };
  UndoLog undo;
  m_staging = prepare;
  SNRESULT result = SN_Success;
  uint32_t done = 0;
  for (; done < count; ++done) {
    result = tell(ids[done], prepare);
    if (result != SN_Success) break;
  }
  m_staging = false;
  if (result == SN_Success && prepare) result = LoadStagedMedia(undo);
  m_staged.Term();
  if (result != SN_Success && prepare) {
    Undo(undo);
    m_undoing = true;
    while (done) tell(ids[--done], false);
    m_undoing = false;
  }
  return result;
}

// ---- media ----

SNRESULT CSnSoundBankManager::PrepareMedia(const CSnSourceDesc& request) {
  if (!m_staging) return LoadMediaNow(request);
  // One request per media id, in id order.
  uint32_t at = 0;
  while (at < m_staged.Count() && m_staged[at].request.sourceId < request.sourceId) ++at;
  if (at < m_staged.Count() && m_staged[at].request.sourceId == request.sourceId) {
    ++m_staged[at].requests;
    return SN_Success;
  }
  return m_staged.InsertAt(at, StagedMedia{request.MediaOnly(), 1}) ? SN_Success : SN_InsufficientMemory;
}

void CSnSoundBankManager::UnprepareMedia(uint32_t mediaId) {
  if (m_undoing) return;
  if (m_staging)
    for (StagedMedia& staged : m_staged)
      if (staged.request.sourceId == mediaId && staged.requests) {
        --staged.requests;  // none left: LoadStagedMedia loads it no more
        return;
      }
  ReleaseMedia(mediaId, nullptr);
}

SNRESULT CSnSoundBankManager::LoadStagedMedia(UndoLog& undo) {
  // Loaded once; every further request of the same media takes a reference of its own.
  for (const StagedMedia& staged : m_staged) {
    for (uint32_t i = 0; i < staged.requests; ++i) {
      const SNRESULT result = LoadMediaNow(staged.request);
      if (result != SN_Success) return result;
      if (!undo.Add(UndoStep{UndoStep::Media, staged.request.sourceId, nullptr})) {
        ReleaseMedia(staged.request.sourceId, nullptr);
        return SN_InsufficientMemory;
      }
    }
  }
  return SN_Success;
}

SNRESULT CSnSoundBankManager::LoadMediaNow(const CSnSourceDesc& request) {
  const SnMemPoolId pool = SoundEngine::Settings().preparedDataPoolId;
  {
    Platform::ReentrantGuard list(BankListLock());
    Platform::ReentrantGuard guard(m_bankLock);
    MediaEntry* entry = m_media.Find(request.sourceId);
    if (entry && entry->ownData) {
      ++entry->refCount;
      return SN_Success;
    }
    if (entry) {
      for (uint32_t i = 0; i < entry->sourceCount; ++i) {
        const MediaSource& source = entry->sources[i];
        if (source.bank && source.bank->IsUnloading()) continue;
        if (pool == kInvalidPoolId) break;
        auto* copy = static_cast<uint8_t*>(MemoryMgr::Malign(pool, source.size ? source.size : 1, kMediaAlignment));
        if (!copy) return SN_InsufficientMemory;
        memcpy(copy, source.data, source.size);
        entry->ownData = copy;
        entry->ownSize = source.size;
        ++entry->refCount;
        return SN_Success;
      }
    }
  }
  if (pool == kInvalidPoolId) {
    // Said for every media of a preparation, which may be thousands.
    SOUND_LOG_REPEATING_ABOUT(Error, request.sourceId, "Media %u cannot be prepared: no pool is set for prepared media",
                              request.sourceId);
    return SN_InsufficientMemory;
  }
  CSnSoundBankReader reader;
  SNRESULT result = reader.Init();
  const bool language = request.flags & CSnSourceDesc::kLanguageFile;
  // Media a sound holds in memory has no file id of its own: outside a bank it is the loose file
  // of its media id.
  const uint32_t fileId = request.fileId != CSnSourceDesc::kNoFile ? request.fileId : request.sourceId;
  if (result == SN_Success) {
    const char* name = (request.codecId >> 16) ? nullptr : BankFileName(fileId);
    result = name ? reader.OpenByName(name, 0, language) : reader.OpenByID(fileId, 0, request.codecId, nullptr, language);
    if (result != SN_Success) {
      char number[16];
      snprintf(number, sizeof number, "%u", fileId);
      SOUND_LOG_REPEATING_ABOUT(Error, fileId, "Media %u cannot be prepared: its file %s could not be opened (result %d)",
                                request.sourceId, name ? name : number, int(result));
    }
  }
  uint8_t* bytes = nullptr;
  // A size the file cannot hold is refused before the pool is asked for it.
  bool whole = result != SN_Success || request.mediaSize <= reader.BytesLeft();
  if (result == SN_Success && whole) {
    const uint32_t size = request.mediaSize ? request.mediaSize : 1;
    bytes = static_cast<uint8_t*>(MemoryMgr::Malign(pool, size, kMediaAlignment));
    result = bytes ? SN_Success : SN_InsufficientMemory;
    if (bytes && request.mediaSize) whole = reader.ReadExact(bytes, request.mediaSize) == SN_Success;
  }
  if (!whole) {
    SOUND_LOG(Error, "Media %u: its file %u holds fewer than %u bytes", request.sourceId, fileId, request.mediaSize);
    result = SN_Failure;
  }
  reader.Close();
  reader.Term();
  if (result == SN_Success) {
    Platform::ReentrantGuard guard(m_bankLock);
    MediaEntry* entry = m_media.FindOrInsert(request.sourceId);
    if (!entry) {
      result = SN_InsufficientMemory;
    } else if (entry->ownData) {
      MemoryMgr::Falign(pool, bytes);  // loaded meanwhile from elsewhere
      ++entry->refCount;
      return SN_Success;
    } else {
      entry->ownData = bytes;
      entry->ownSize = request.mediaSize;
      ++entry->refCount;
      return SN_Success;
    }
  }
  if (bytes) MemoryMgr::Falign(pool, bytes);
  return result;
}

// ---- the game's calls ----

SNRESULT CSnSoundBankManager::PrepareBank(uint32_t bankId, bool withMedia, SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_PrepareBank;
  command.callback = callback;
  command.cookie = cookie;
  command.sourceKind = withMedia ? 1 : 0;
  command.bankId = bankId;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::UnprepareBank(uint32_t bankId, SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_UnprepareBank;
  command.callback = callback;
  command.cookie = cookie;
  command.bankId = bankId;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::PrepareEvents(bool prepare, const uint32_t* ids, uint32_t count, SnBankCallback callback,
                                            void* cookie) {
  if (count && !ids) return SN_InvalidParameter;
  bool failed = false;
  SnBankCommand command;
  command.type = prepare ? SnBankCommand_PrepareEvents : SnBankCommand_UnprepareEvents;
  command.callback = callback;
  command.cookie = cookie;
  command.bankId = count;
  command.poolId = intptr_t(CommandIdsWord(ids, count, failed));
  if (failed) return SN_InsufficientMemory;
  const SNRESULT result = QueueCommand(command);
  return result;
}

SNRESULT CSnSoundBankManager::PrepareGameSyncs(bool prepare, uint32_t groupType, uint32_t groupId, const uint32_t* ids,
                                               uint32_t count, SnBankCallback callback, void* cookie) {
  if (count && !ids) return SN_InvalidParameter;
  bool failed = false;
  SnBankCommand command;
  command.type = SnBankCommand_PrepareGameSyncs;
  command.callback = callback;
  command.cookie = cookie;
  command.sourceKind = groupType;
  command.bankId = groupId;
  command.image = prepare ? this : nullptr;
  command.imageSize = count;
  command.extra = reinterpret_cast<void*>(CommandIdsWord(ids, count, failed));
  if (failed) return SN_InsufficientMemory;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::ClearPreparedEvents(SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_ClearPreparedEvents;
  command.callback = callback;
  command.cookie = cookie;
  return QueueCommand(command);
}

SNRESULT CSnSoundBankManager::ReleaseMediaReference(uint32_t mediaId, SnBankCallback callback, void* cookie) {
  SnBankCommand command;
  command.type = SnBankCommand_ReleaseMedia;
  command.callback = callback;
  command.cookie = cookie;
  command.bankId = mediaId;
  return QueueCommand(command);
}

}  // namespace SN
