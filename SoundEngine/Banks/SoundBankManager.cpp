// The bank manager's life: Init and Term, the end of each bank record, the loaded-bank list and the
// bank-name table.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnSoundBankManager* g_pBankManager = nullptr;

namespace {

// Bank callbacks this thread is running: the code under one (a command, an unload's end, the cookie
// set) goes on using the manager when it returns.
thread_local uint32_t t_bankCallbacks = 0;

}  // namespace

SnBankCallbackScope::SnBankCallbackScope() { ++t_bankCallbacks; }
SnBankCallbackScope::~SnBankCallbackScope() { --t_bankCallbacks; }
bool SnBankCallbackScope::InCallbackOnThisThread() { return t_bankCallbacks != 0; }

Platform::ReentrantLock& BankListLock() {
  static Platform::ReentrantLock lock;
  return lock;
}

// ---- the manager ----

CSnSoundBankManager::CSnSoundBankManager(bool bankThread) : m_queue(*this, bankThread) {}

CSnSoundBankManager::~CSnSoundBankManager() { Term(); }

SNRESULT CSnSoundBankManager::Init() {
  if (m_initialized) return SN_Success;
  m_media.Init(g_DefaultPoolId);
  m_names.Init(g_DefaultPoolId);
  SNRESULT result = m_reader.Init();
  if (result == SN_Success) result = m_queue.Open();
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
  m_queue.Close();
  m_queue.Drop();
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
    ClearInProgress* clear =
        record->m_callback == &ClearedBankEnded ? static_cast<ClearInProgress*>(record->m_cookie) : nullptr;
    SnBankCommand waiting;
    if (IsWaitingCallback(record->m_callback)) {
      waiting.callback = record->m_callback;
      waiting.cookie = record->m_cookie;
    }
    const uint32_t bankId = record->m_bankId;
    DestroyRecord(record);
    if (clear) FinishClear(clear, false);
    if (waiting.callback) CallCallback(waiting, bankId, SN_Success, -1);
  }
  EndWatch* watches = nullptr;
  {
    Platform::ReentrantGuard list(BankListLock());
    watches = EndedWatches(true);
  }
  AnswerWatches(watches, false);
  {
    Platform::ReentrantGuard guard(m_bankLock);
    for (auto it = m_media.Begin(); !it.AtEnd();) {
      MediaEntry& entry = it.node->value;
      if (entry.ownData) MemoryMgr::Falign(SoundEngine::Settings().preparedDataPoolId, entry.ownData);
      // The banks have ended; the owners of the game's copies go with the table.
      for (uint32_t i = 0; i < entry.sourceCount; ++i)
        if (entry.sources[i].bank && entry.sources[i].bank->IsGameMedia())
          PoolDelete(g_DefaultPoolId, entry.sources[i].bank);
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

void CSnSoundBankManager::FinishBankRecord(CSnLoadedBank* bank) { DropUse(static_cast<CSnBankRecord*>(bank)); }

void CSnSoundBankManager::DropBankRecord(CSnLoadedBank* bank) {
  auto* record = static_cast<CSnBankRecord*>(bank);
  // A cleared bank still counts for its clear, and a waiting unload is answered: their callers may be
  // waiting.
  if (record->m_callback != &ClearedBankEnded && !IsWaitingCallback(record->m_callback)) record->m_callback = nullptr;
  DropUse(record, false);
}

void CSnSoundBankManager::DropUse(CSnBankRecord* record, bool answer) {
  if (record->m_useCount.fetch_sub(1) != 1) return;
  if (record->IsGameMedia())
    PoolDelete(g_DefaultPoolId, record);
  else
    EndRecord(record, answer);
}

void CSnSoundBankManager::EndRecord(CSnBankRecord* record, bool answer) {
  // The voices that read the bank's objects or its media have stopped or hold what they still play with.
  record->ReleaseObjects();
  RemoveBankMediaSources(*record);
  SnBankCommand done;
  done.callback = record->m_callback;
  done.cookie = record->m_cookie;
  done.sourceKind = record->m_sourceKind;
  done.image = record->m_image;
  const uint32_t bankId = record->m_bankId;
  const int32_t poolId = record->CallerPoolId();
  record->m_callback = nullptr;
  ClearInProgress* clear = done.callback == &ClearedBankEnded ? static_cast<ClearInProgress*>(done.cookie) : nullptr;
  bool destroy = false;
  EndWatch* watches = nullptr;
  {
    Platform::ReentrantGuard list(BankListLock());
    for (CSnBankRecord** link = &m_unloading; *link; link = &(*link)->m_pNextInBucket) {
      if (*link != record) continue;
      *link = record->m_pNextInBucket;
      record->m_pNextInBucket = nullptr;
      break;
    }
    // The calls waiting for the end of banks being unloaded before them, this one the last.
    if (m_endWatches) watches = EndedWatches(false);
    record->FreeData();
    record->m_stateFlags &= uint8_t(~CSnBankRecord::kStateUnloading);
    // Preparations still hold it: back in the list as a prepared bank.
    destroy = record->m_refCount.load() == 0;
    if (!destroy) m_banks.Insert(record);
  }
  if (destroy) DestroyRecord(record);
  if (clear)
    FinishClear(clear, true);
  else
    CallCallback(done, bankId, SN_Success, poolId);
  AnswerWatches(watches, answer);
}

void CSnSoundBankManager::DestroyRecord(CSnBankRecord* record) {
  RemoveBankMediaSources(*record);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  Platform::ReentrantGuard list(BankListLock());
  PoolDelete(g_DefaultPoolId, record);
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

}  // namespace SN
