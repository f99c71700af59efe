// Loading and unloading banks: the bank thread's commands, and the game's calls that queue them and
// may wait for them.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"

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

// Until the waiting call's callback has come.
void WaitForAnswer(SyncCall& call) { call.done.Wait(Platform::kWaitForever); }

// The pass that ends what an unload posted, on this thread when there is no audio thread.
void RenderEnds() {
  if (g_pAudioMgr && !CSnAudioMgr::InAudioPassOnThisThread()) g_pAudioMgr->RenderAudio(true);
}

}  // namespace

bool IsWaitingCallback(SnBankCallback callback) { return callback == &SyncCallback; }

bool CountsCallback(const SnBankCommand& command) {
  return command.callback && !IsWaitingCallback(command.callback);
}

SNRESULT CSnSoundBankManager::QueueCommand(const SnBankCommand& command) {
  if (CountsCallback(command)) {
    const SNRESULT added = m_cookies.AddPending(command.cookie);
    if (added != SN_Success) {
      SOUND_LOG(Error, "Bank command %u is refused: no memory to count its callback", command.type);
      FreeCommand(command);
      return added;
    }
  }
  // Without the bank thread a call made outside a pass runs the commands ahead of it, then itself;
  // one made inside a pass is kept for the pass's end, since a thread running commands may be
  // waiting for this pass's audio lock.
  SNRESULT result = SN_Success;
  SNRESULT queued = SN_Success;
  if (!m_queue.HasBankThread() && !CSnAudioMgr::InAudioPassOnThisThread())
    queued = m_queue.RunInTurn(command, result) ? SN_Success : SN_Failure;
  else
    queued = m_queue.Keep(command);
  if (queued != SN_Success) {
    SOUND_LOG(Error, "Bank command %u is refused: %s", command.type,
              queued == SN_InsufficientMemory ? "no memory to keep it" : "the engine stops");
    // The cookie's entry goes again: a later cancel must not wait for a callback that never comes.
    if (CountsCallback(command)) m_cookies.RemovePending(command.cookie);
    FreeCommand(command);
    return queued;
  }
  return result;
}

void CSnSoundBankManager::DropCommand(const SnBankCommand& command) {
  // What a run would have freed goes too.
  FreeCommand(command);
  if (!command.callback) return;
  if (IsWaitingCallback(command.callback)) {
    // A caller blocked on this command is told it will not run.
    CallCallback(command, command.bankId, SN_Failure, -1);
  } else {
    m_cookies.RemovePending(command.cookie);
  }
}

void CSnSoundBankManager::CallCallback(const SnBankCommand& command, uint32_t id, SNRESULT result, int32_t poolId) {
  SnBankCallbackScope scope;
  const void* image = command.sourceKind == SnBankSource_InPlace ? command.image : nullptr;
  // A waiting caller's cookie is its own, never counted nor cancelled.
  if (IsWaitingCallback(command.callback))
    command.callback(id, image, result, poolId, command.cookie);
  else
    m_cookies.DoCallback(command.callback, id, image, result, poolId, command.cookie);
}

void CSnSoundBankManager::CancelCookie(void* cookie) { m_cookies.CancelAndWait(cookie, IsBankThread()); }

SNRESULT CSnSoundBankManager::ExecuteCommand(const SnBankCommand& command, int32_t* poolOut) {
  SNRESULT result = SN_Success;
  switch (command.type) {
    case SnBankCommand_Load: result = LoadBankCommand(command); break;
    case SnBankCommand_Unload: result = UnloadBankCommand(command, poolOut); break;
    case SnBankCommand_ClearBanks: result = ClearBanksCommand(command); break;
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
  bool joined = false;
  {
    Platform::ReentrantGuard list(BankListLock());
    record = m_banks.Find(bankId, command.image);
    if (!record) {
      // A bank being unloaded already is not "not loaded": the call answers once it has ended, as
      // the one that took it out does, since its caller may free the image as soon as it answers.
      EndWatch watch;
      watch.upTo = m_takenOut;
      watch.answer = command;
      CSnBankRecord* ending = Ending(watch);
      joined = ending != nullptr;
      if (!ending) {
        refused = SN_BankNotLoaded;
      } else {
        watch.poolId = ending->CallerPoolId();
        if (poolOut) *poolOut = watch.poolId;
        EndWatch* kept = command.callback ? PoolNew<EndWatch>(g_DefaultPoolId, watch) : nullptr;
        if (kept) {
          kept->next = m_endWatches;
          m_endWatches = kept;
        } else if (command.callback) {
          refused = SN_InsufficientMemory;
        }
      }
    } else if (!record->IsLoaded()) {
      refused = SN_Failure;  // only prepared
    } else {
      if (poolOut) *poolOut = record->CallerPoolId();
      TakeOut(record, command.callback, command.cookie);
    }
  }
  if (refused != SN_Success) {
    if (refused == SN_BankNotLoaded)
      SOUND_LOG(Warning, "Bank %u is not loaded: nothing to unload", bankId);
    else if (refused == SN_InsufficientMemory)
      SOUND_LOG(Error, "Bank %u is being unloaded: no memory to answer this unload once it has ended", bankId);
    else
      SOUND_LOG(Warning, "Bank %u is only prepared: an unload does not unload it", bankId);
    CallCallback(command, bankId, refused, poolId);
    return refused;
  }
  if (joined) {
    SOUND_LOG(Info, "Bank %u is being unloaded already: this unload answers once it has ended", bankId);
    RenderEnds();
    return SN_Success;
  }
  // Its objects go once its voices are stopped (EndRecord): a voice may read them until then.
  PostUnload(record);
  return SN_Success;
}

void CSnSoundBankManager::TakeOut(CSnBankRecord* record, SnBankCallback callback, void* cookie) {
  m_banks.Remove(record);
  {
    // GetMedia reads the flag under the bank lock alone.
    Platform::ReentrantGuard guard(m_bankLock);
    record->m_stateFlags |= CSnBankRecord::kStateUnloading;
  }
  record->m_bankFlags &= uint8_t(~CSnBankRecord::kFlagLoaded);
  record->m_callback = callback;
  record->m_cookie = cookie;
  record->m_takenOutAt = ++m_takenOut;
  record->m_pNextInBucket = m_unloading;
  m_unloading = record;
}

CSnBankRecord* CSnSoundBankManager::Ending(const EndWatch& watch) const {
  for (CSnBankRecord* record = m_unloading; record; record = record->m_pNextInBucket)
    if (record->m_takenOutAt <= watch.upTo &&
        (watch.anyBank || (record->m_bankId == watch.answer.bankId && record->m_image == watch.answer.image)))
      return record;
  return nullptr;
}

CSnSoundBankManager::EndWatch* CSnSoundBankManager::EndedWatches(bool all) {
  EndWatch* ended = nullptr;
  for (EndWatch** link = &m_endWatches; *link;) {
    EndWatch* watch = *link;
    if (!all && Ending(*watch)) {
      link = &watch->next;
      continue;
    }
    *link = watch->next;
    watch->next = ended;
    ended = watch;
  }
  return ended;
}

void CSnSoundBankManager::AnswerWatches(EndWatch* watches, bool answer) {
  while (EndWatch* watch = watches) {
    watches = watch->next;
    if (watch->clear) {
      FinishClear(watch->clear, answer);  // the clear's own watch goes with it
      continue;
    }
    if (answer || IsWaitingCallback(watch->answer.callback))
      CallCallback(watch->answer, watch->answer.bankId, SN_Success, watch->poolId);
    PoolDelete(g_DefaultPoolId, watch);
  }
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

// The clear's answer waits for the end of every bank it took out: the game may free the images of
// banks it loaded from its memory as soon as a waiting clear returns, and until a record has ended
// the audio thread reads its index and DATA. The command holds one count of its own while it posts.
struct CSnSoundBankManager::ClearInProgress {
  SnBankCommand command;
  std::atomic<uint32_t> left{1};
  EndWatch watch;  // the banks that were being unloaded already
};

void CSnSoundBankManager::ClearedBankEnded(uint32_t, const void*, SNRESULT, int32_t, void*) {}

void CSnSoundBankManager::FinishClear(ClearInProgress* clear, bool answer) {
  if (clear->left.fetch_sub(1) != 1) return;
  const SnBankCommand command = clear->command;
  PoolDelete(g_DefaultPoolId, clear);
  // At Term only a caller that waits hears of it: nothing else of the clear is left to tell.
  if (answer || IsWaitingCallback(command.callback)) CallCallback(command, 0, SN_Success, -1);
}

SNRESULT CSnSoundBankManager::ClearBanksCommand(const SnBankCommand& command) {
  auto* clear = PoolNew<ClearInProgress>(g_DefaultPoolId);
  if (!clear) {
    CallCallback(command, 0, SN_InsufficientMemory, -1);
    return SN_InsufficientMemory;
  }
  clear->command = command;
  bool joined = false;
  {
    // The banks whose unload is under way are the clear's too: its caller may free their images.
    Platform::ReentrantGuard list(BankListLock());
    clear->watch.upTo = m_takenOut;
    clear->watch.anyBank = true;
    clear->watch.clear = clear;
    joined = Ending(clear->watch) != nullptr;
    if (joined) {
      clear->left.fetch_add(1);
      clear->watch.next = m_endWatches;
      m_endWatches = &clear->watch;
    }
  }
  if (joined) RenderEnds();
  CSnBankRecord* loaded[64];
  for (;;) {
    uint32_t count = 0;
    {
      Platform::ReentrantGuard list(BankListLock());
      m_banks.ForEach([&](CSnBankRecord* record) {
        if (record->IsLoaded() && count < 64) loaded[count++] = record;
      });
      for (uint32_t i = 0; i < count; ++i) {
        clear->left.fetch_add(1);
        TakeOut(loaded[i], &ClearedBankEnded, clear);
      }
    }
    if (!count) break;
    while (count) {
      PostUnload(loaded[--count]);
    }
  }
  FinishClear(clear, true);
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

bool CSnSoundBankManager::RunsCommandsOnThisThread() const {
  // Inside an audio pass this thread holds GlobalAudioLock(), which a load takes to make objects,
  // and unload callbacks run there; the audio thread runs passes, and the commands kept in them.
  const uint64_t audio = AudioThread::ThreadId();
  return IsBankThread() || CSnAudioMgr::InAudioPassOnThisThread() ||
         (audio != 0 && audio == Platform::CurrentThreadId());
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
  WaitForAnswer(call);
  if (poolId) *poolId = call.poolId;
  return call.result;
}

SNRESULT CSnSoundBankManager::UnloadBankSync(const SnBankCommand& command, int32_t* poolId) {
  // In its turn among the bank commands. With the bank thread or the audio thread, the caller waits
  // for the record's end: the game may free an image it lent as soon as the unload returns. Without
  // either, the unload renders the pass that ends the bank, and runs without a callback: its end may
  // wait for media this very thread holds.
  if (m_queue.HasBankThread() || SoundEngine::Settings().useAudioThread) return QueueAndWait(command, poolId);
  SNRESULT result = SN_Failure;
  if (!m_queue.RunInTurn(command, result, poolId)) SOUND_LOG(Error, "UnloadBank is refused: the engine stops");
  return result;
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
