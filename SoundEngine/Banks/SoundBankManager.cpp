// The bank manager's life: Init and Term, the end of each bank record, the loaded-bank list and the
// bank-name table.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/ThreadPlace.h"

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

void CSnSoundBankManager::AfterPass() {
  if (ThisThread::RunsPassesWork()) m_queue.AfterPass();
}

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
  // Records still ending (a reader kept their media past the engine's threads) end now, first: a
  // prepared one goes back to the list. Whatever waits for them is answered, callbacks too, with the
  // result they have: an accepted unload always calls back.
  while (auto* record = static_cast<CSnBankRecord*>(m_holds.AnyHolder())) EndRecord(record);
  // Every record in the list goes without a callback: its objects, its media and its sources.
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
  {
    Platform::ReentrantGuard guard(m_bankLock);
    for (auto it = m_media.Begin(); !it.AtEnd();) {
      MediaEntry& entry = it.node->value;
      if (entry.ownData) MemoryMgr::Falign(SoundEngine::Settings().preparedDataPoolId, entry.ownData);
      // The banks have ended; the owners of the game's copies go with the table.
      for (uint32_t i = 0; i < entry.sourceCount; ++i)
        if (entry.sources[i].bank && entry.sources[i].bank->IsGameMedia()) {
          entry.sources[i].bank->m_sourcesInTable = 0;
          PoolDelete(g_DefaultPoolId, entry.sources[i].bank);
        }
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

void CSnSoundBankManager::CloseQueue() {
  // A dropped command's callback comes where its place's callbacks come: the bank thread drops what
  // is queued itself (it is woken, held or not). Without it a game thread's call is told inside its
  // call, and a command kept in a pass at a pass's end: on the audio thread, woken for it, while
  // there is one; else here.
  m_queue.Close();
  if (m_queue.HasBankThread()) return;
  const bool audioThread = g_pAudioMgr && SoundEngine::Settings().useAudioThread != 0;
  m_queue.Drop(audioThread);
  if (audioThread) g_pAudioMgr->WakeThread();
}

void CSnSoundBankManager::FinishBankRecord(CSnLoadedBank* bank) {
  auto* record = static_cast<CSnBankRecord*>(bank);
  // Before the use goes, which may end the record.
  m_holds.EndHandled(record->m_hold);
  DropUse(record);
}

void CSnSoundBankManager::DropUse(CSnBankRecord* record) {
  if (record->m_useCount.fetch_sub(1) != 1) return;
  if (record->IsGameMedia())
    PoolDelete(g_DefaultPoolId, record);
  else
    EndRecord(record);
}

void CSnSoundBankManager::EndRecord(CSnBankRecord* record) {
  // The voices that read the bank's objects or its media have stopped or hold what they still play with.
  record->ReleaseObjects();
  RemoveBankMediaSources(*record);
  CSnLentMemoryHolds::Answer* due = nullptr;
  bool destroy = false;
  {
    Platform::ReentrantGuard list(BankListLock());
    record->FreeData();
    record->m_stateFlags &= uint8_t(~CSnBankRecord::kStateUnloading);
    // Before it can be found again: a prepared record may be loaded and unloaded anew.
    due = m_holds.Release(record->m_hold);
    // Preparations still hold it: back in the list as a prepared bank.
    destroy = record->m_refCount.load() == 0;
    if (!destroy) m_banks.Insert(record);
  }
  if (destroy) DestroyRecord(record);
  CSnLentMemoryHolds::RunAll(due);
}

void CSnSoundBankManager::DestroyRecord(CSnBankRecord* record) {
  ORV_ASSERT(!record->m_hold.Held());
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
