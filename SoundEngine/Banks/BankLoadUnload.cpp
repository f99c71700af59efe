// Loading and unloading banks: the bank thread's commands, and the game's calls that queue them and
// may wait for them.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>
#include <utility>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/ThreadPlace.h"

namespace SN {

namespace {

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

// The pass that ends what an unload posted, on this thread when there is no audio thread.
void RenderEnds() {
  if (g_pAudioMgr && !CSnAudioMgr::InAudioPassOnThisThread()) g_pAudioMgr->RenderAudio(true);
}

}  // namespace

bool IsWaitingCallback(SnBankCallback callback) { return callback == &SyncCallback; }

uint32_t CallbackId(const SnBankCommand& command) {
  switch (command.type) {
    case SnBankCommand_PrepareEvents:
    case SnBankCommand_UnprepareEvents: return command.bankId == 1 ? uint32_t(command.poolId) : 0;
    case SnBankCommand_Load:
    case SnBankCommand_Unload:
    case SnBankCommand_PrepareBank:
    case SnBankCommand_UnprepareBank:
    case SnBankCommand_ReleaseMedia: return command.bankId;
    default: return 0;
  }
}

int32_t CallbackPoolId(const SnBankCommand& command) {
  return command.type == SnBankCommand_Load || command.type == SnBankCommand_Unload ? int32_t(command.poolId) : -1;
}

bool CountsCallback(const SnBankCommand& command) {
  return command.callback && !IsWaitingCallback(command.callback);
}

// A command's answer about lent memory, run by the holds once the memory is free.
struct CSnSoundBankManager::MemoryAnswer final : CSnLentMemoryHolds::Answer {
  CSnSoundBankManager* manager = nullptr;
  SnBankCommand command;
  uint32_t id = 0;
  int32_t poolId = kInvalidPoolId;
  // A waiting caller's, on its stack: never freed, and not read once it has answered.
  bool onStack = false;
  // What it answers: the command as queued (its call id among it), without the answer it carried.
  void Set(CSnSoundBankManager* banks, const SnBankCommand& call, uint32_t bankId, int32_t pool) {
    manager = banks;
    command = call;
    command.extra = nullptr;
    id = bankId;
    poolId = pool;
  }
  void Run() override {
    CSnSoundBankManager* const banks = manager;
    const SnBankCommand told = command;
    const uint32_t toldId = id;
    const int32_t toldPool = poolId;
    if (!onStack) PoolDelete(g_DefaultPoolId, this);
    banks->CallCallback(told, toldId, SN_Success, toldPool);
  }
};

SNRESULT CSnSoundBankManager::QueueCommand(const SnBankCommand& call) {
  SnBankCommand command = call;
  // An unload that answers carries its answer from the call on: one that finds its bank being ended by
  // another call answers once that bank is free, and never lacks the memory to wait for it. A waiting
  // caller's lies on its stack (QueueAndWait); a callback's is the one its loaded bank keeps, unless
  // another unload has claimed that, and else of the pool.
  if (command.type == SnBankCommand_Unload && command.callback && !IsWaitingCallback(command.callback)) {
    command.extra = ClaimAnswer(command);
    if (!command.extra) {
      SOUND_LOG(Error, "UnloadBank of bank %u is refused: no memory for its answer", command.bankId);
      return SN_InsufficientMemory;
    }
  }
  if (CountsCallback(command)) {
    const SNRESULT added = m_cookies.AddPending(command.cookie, command.callId);
    if (added != SN_Success) {
      SOUND_LOG(Error, "Bank command %u is refused: no memory to count its callback", command.type);
      FreeCommand(command);
      return added;
    }
  }
  // Without the bank thread a game thread's call runs in that thread's loop (BankCommandTurns.h); one
  // made inside a pass or on the audio thread is kept for a pass's end, since a thread running
  // commands may be waiting for the pass's audio lock, and the audio thread runs no game thread's call.
  SNRESULT result = SN_Success;
  const SNRESULT queued = m_queue.HasBankThread() || ThisThread::KeepsBankCalls()
                              ? m_queue.Keep(command)
                              : m_queue.Call(command, IsWaitingCallback(command.callback), result);
  if (queued != SN_Success) {
    SOUND_LOG(Error, "Bank command %u is refused: %s", command.type,
              queued == SN_InsufficientMemory ? "no memory to keep it" : "the engine stops");
    // The cookie's entry goes again: a later cancel must not wait for a callback that never comes.
    if (CountsCallback(command)) m_cookies.RemovePending(command.callId);
    FreeCommand(command);
    return queued;
  }
  return result;
}

void CSnSoundBankManager::DropCommand(const SnBankCommand& command) {
  // What a run would have freed goes too.
  FreeCommand(command);
  // Every accepted call is answered once: a caller blocked on the command, or its callback, with
  // SN_Failure (a cancel made before withdraws the callback).
  if (command.callback) CallCallback(command, CallbackId(command), SN_Failure, CallbackPoolId(command));
}

void CSnSoundBankManager::CallCallback(const SnBankCommand& command, uint32_t id, SNRESULT result, int32_t poolId) {
  const SnBankAnswer answer{id, command.sourceKind == SnBankSource_InPlace ? command.image : nullptr, result, poolId};
  // A game thread's callback is called on that thread, inside its call, and a kept command's at a
  // pass's end, whichever thread runs the command: the answer is handed over to that place.
  if (CountsCallback(command) && m_queue.HandOver(command, answer)) return;
  CallBack(command, answer);
}

void CSnSoundBankManager::CallBack(const SnBankCommand& command, const SnBankAnswer& answer) {
  SnBankCallbackScope scope;
  // A waiting caller's cookie is its own, never counted nor cancelled.
  if (IsWaitingCallback(command.callback))
    command.callback(answer.id, answer.image, answer.result, answer.poolId, command.cookie);
  else
    m_cookies.DoCallback(command.callId, command.callback, answer.id, answer.image, answer.result, answer.poolId,
                         command.cookie);
}

void CSnSoundBankManager::CancelCookie(void* cookie) {
  // Inside a pass, or on the audio or the bank thread, a callback running elsewhere may wait for this
  // thread; a game thread waits, also inside a bank callback.
  m_cookies.CancelAndWait(cookie, !ThisThread::KeepsBankCalls());
}

SNRESULT CSnSoundBankManager::ExecuteCommand(const SnBankCommand& command) {
  SNRESULT result = SN_Success;
  switch (command.type) {
    case SnBankCommand_Load: result = LoadBankCommand(command); break;
    case SnBankCommand_Unload: result = UnloadBankCommand(command); break;
    case SnBankCommand_ClearBanks: result = ClearBanksCommand(command); break;
    case SnBankCommand_PrepareEvents:
    case SnBankCommand_UnprepareEvents:
      result = command.type == SnBankCommand_PrepareEvents ? PrepareEventsCommand(command)
                                                           : UnprepareEventsCommand(command);
      CallCallback(command, CallbackId(command), result, -1);
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
  // The answer its unload will give is kept from the load on: an unload never lacks memory to answer.
  if (record && !record->m_unloadAnswer) record->m_unloadAnswer = PoolNew<MemoryAnswer>(g_DefaultPoolId);
  SNRESULT result = record && record->m_unloadAnswer ? SN_Success : SN_InsufficientMemory;
  if (result == SN_Success) {
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
  } else if (record && !record->m_unloadAnswer) {
    SOUND_LOG(Error, "Bank %u is not loaded: no memory for the answer of its unload", bankId);
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

CSnSoundBankManager::MemoryAnswer* CSnSoundBankManager::NewAnswer(const SnBankCommand& command, uint32_t id,
                                                                  int32_t poolId) {
  auto* answer = PoolNew<MemoryAnswer>(g_DefaultPoolId);
  if (answer) answer->Set(this, command, id, poolId);
  return answer;
}

CSnSoundBankManager::MemoryAnswer* CSnSoundBankManager::ClaimAnswer(const SnBankCommand& command) {
  {
    Platform::ReentrantGuard list(BankListLock());
    CSnBankRecord* record = m_banks.Find(command.bankId, command.image);
    if (record && record->IsLoaded() && record->m_unloadAnswer) {
      auto* kept = static_cast<MemoryAnswer*>(std::exchange(record->m_unloadAnswer, nullptr));
      kept->Set(this, command, command.bankId, kInvalidPoolId);
      return kept;
    }
  }
  return NewAnswer(command, command.bankId, kInvalidPoolId);
}

void CSnSoundBankManager::FreeAnswer(const SnBankCommand& command) {
  auto* answer = static_cast<MemoryAnswer*>(command.extra);
  if (!answer || answer->onStack) return;
  {
    // Kept again by its bank when that is loaded without one: a claim that came to nothing.
    Platform::ReentrantGuard list(BankListLock());
    CSnBankRecord* record = m_banks.Find(command.bankId, command.image);
    if (record && record->IsLoaded() && !record->m_unloadAnswer) {
      record->m_unloadAnswer = answer;
      return;
    }
  }
  PoolDelete(g_DefaultPoolId, answer);
}

const void* CSnSoundBankManager::LentKey(const CSnBankRecord* record) {
  return record->m_image ? record->m_image : record;
}

namespace {
// The caller waiting for a command's answer, or null.
const void* WaiterOf(const SnBankCommand& command) {
  return IsWaitingCallback(command.callback) ? command.cookie : nullptr;
}
}  // namespace

SNRESULT CSnSoundBankManager::UnloadBankCommand(const SnBankCommand& command) {
  const uint32_t bankId = command.bankId;
  CSnBankRecord* record = nullptr;
  bool prepared = false;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, command.image);
    prepared = record && !record->IsLoaded();
    if (record && !prepared) TakeOut(record);
  }
  if (!record) return JoinEnding(command);
  if (prepared) {
    FreeAnswer(command);
    SOUND_LOG(Warning, "Bank %u is only prepared: an unload does not unload it", bankId);
    CallCallback(command, bankId, SN_Failure, int32_t(command.poolId));
    return SN_Failure;
  }
  // The record lives at least until its end is posted. The answer the command carries waits for its
  // memory, and for the earlier records of its image still ending; the record keeps its own.
  if (command.callback) {
    auto* answer = static_cast<MemoryAnswer*>(command.extra);
    ORV_ASSERT(answer);
    answer->Set(this, command, bankId, record->CallerPoolId());
    m_holds.AnswerForKey(answer, LentKey(record), WaiterOf(command));
  }
  // Its objects go once its voices are stopped (EndRecord): a voice may read them until then.
  PostUnload(record);
  return SN_Success;
}

SNRESULT CSnSoundBankManager::JoinEnding(const SnBankCommand& command) {
  const uint32_t bankId = command.bankId;
  int32_t poolId = kInvalidPoolId;
  // A bank being unloaded already is not "not loaded": its caller may free the image as soon as the
  // call answers, as the one that took it out may.
  auto* answer = static_cast<MemoryAnswer*>(command.extra);
  if (!m_holds.AnswerForBank(nullptr, bankId, command.image, nullptr, &poolId)) {
    FreeAnswer(command);
    SOUND_LOG(Warning, "Bank %u is not loaded: nothing to unload", bankId);
    CallCallback(command, bankId, SN_BankNotLoaded, int32_t(command.poolId));
    return SN_BankNotLoaded;
  }
  if (answer) {
    answer->Set(this, command, bankId, poolId);
    // Ended meanwhile: answered now.
    if (!m_holds.AnswerForBank(answer, bankId, command.image, WaiterOf(command), nullptr)) answer->Run();
  }
  SOUND_LOG(Info, "Bank %u is being unloaded already: this unload answers once it has ended", bankId);
  RenderEnds();
  return SN_Success;
}

void CSnSoundBankManager::TakeOut(CSnBankRecord* record) {
  m_banks.Remove(record);
  {
    // GetMedia reads the flag under the bank lock alone.
    Platform::ReentrantGuard guard(m_bankLock);
    record->m_stateFlags |= CSnBankRecord::kStateUnloading;
  }
  record->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagLoaded);
  m_holds.Begin(record->m_hold, record, LentKey(record), record->m_bankId, record->m_image, record->CallerPoolId());
}

void CSnSoundBankManager::PostUnload(CSnBankRecord* record) {
  // The reservation is made with no bank lock held: a full ring makes this thread run handlers.
  // Never inside a pass (the game's calls made there run their commands after it), where a full
  // ring could refuse the message.
  if (g_pAudioMgr) {
    if (auto* message = g_pAudioMgr->Reserve<SnMsgStopBankVoices>(SnMsg_StopBankVoices)) {
      message->bank = record;
      g_pAudioMgr->FinishMessage();
      RenderEnds();
      return;
    }
  }
  // The engine stops: nothing plays.
  FinishBankRecord(record);
}

SNRESULT CSnSoundBankManager::ClearBanksCommand(const SnBankCommand& command) {
  // A waiting caller's answer lies on its stack.
  auto* answer = IsWaitingCallback(command.callback) ? static_cast<MemoryAnswer*>(command.extra) : nullptr;
  if (answer)
    answer->Set(this, command, 0, kInvalidPoolId);
  else if (command.callback)
    answer = NewAnswer(command, 0, kInvalidPoolId);
  if (command.callback && !answer) {
    SOUND_LOG(Error, "ClearBanks: no memory to answer once its banks have ended; no bank is unloaded");
    CallCallback(command, 0, SN_InsufficientMemory, -1);
    return SN_InsufficientMemory;
  }
  // The banks being unloaded already are the clear's too: the pass that ends them.
  if (m_holds.AnyHolder()) RenderEnds();
  CSnBankRecord* loaded[64];
  for (;;) {
    uint32_t count = 0;
    {
      Platform::ReentrantGuard list(BankListLock());
      m_banks.ForEach([&](CSnBankRecord* record) {
        if (record->IsLoaded() && count < 64) loaded[count++] = record;
      });
      for (uint32_t i = 0; i < count; ++i) TakeOut(loaded[i]);
    }
    if (!count) break;
    while (count) PostUnload(loaded[--count]);
  }
  // Once every bank it took out, and every bank ending before it, is free: its caller may free their
  // images and pools.
  m_holds.AnswerForAll(answer, WaiterOf(command));
  return SN_Success;
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

SNRESULT CSnSoundBankManager::QueueAndWait(SnBankCommand command, int32_t* poolId) {
  if (poolId) *poolId = kInvalidPoolId;
  // Inside an audio pass this thread holds GlobalAudioLock(), which a load takes to make objects,
  // and unload callbacks run there; the audio thread runs passes, and the commands kept in them.
  if (ThisThread::KeepsBankCalls()) {
    SOUND_LOG(Error, "A waiting bank call on the thread that runs the bank commands or an audio pass would wait for itself");
    FreeCommand(command);
    return SN_Failure;
  }
  SyncCall call;
  command.callback = &SyncCallback;
  command.cookie = &call;
  // The answer of a call that gives memory back lies here: it takes none of the pool.
  MemoryAnswer answer;
  answer.onStack = true;
  if (command.type == SnBankCommand_Unload || command.type == SnBankCommand_ClearBanks) command.extra = &answer;
  // Anything but success is the command's own result (run at once) or a refusal to queue it.
  const SNRESULT queued = QueueCommand(command);
  if (queued != SN_Success) return queued;
  WaitForAnswer(call.done, &call);
  if (poolId) *poolId = call.poolId;
  return call.result;
}

void CSnSoundBankManager::WaitForAnswer(Platform::Event& done, const void* waiter) {
  const bool audioThread = SoundEngine::Settings().useAudioThread != 0;
  for (;;) {
    const bool endPending = m_holds.EndPending(waiter);
    // Inside a bank callback a pass runs only while the audio lock is free: the pass holding it may
    // be waiting for this callback.
    if (endPending && !audioThread && g_pAudioMgr)
      g_pAudioMgr->RenderAudio(true, ThisThread::OnlyTriesGameLocks());
    // The last hold's answer wakes it; an end handled without one is looked at again a moment later.
    if (done.Wait(endPending ? 1 : 5) == Platform::WaitResult::Signalled) return;
  }
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
  SnBankCommand command;
  command.type = SnBankCommand_Unload;
  command.sourceKind = image ? SnBankSource_InPlace : SnBankSource_Id;
  command.bankId = bankId;
  command.image = image;
  return QueueAndWait(command, poolId);
}

}  // namespace SN
