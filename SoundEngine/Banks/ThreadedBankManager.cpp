// The bank thread: its loop over the queue of bank commands, its start and its stop.
#include "SoundEngine/Banks/ThreadedBankManager.h"

#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/StartNamedThread.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/ThreadPlace.h"

namespace SN {

CSnThreadedSoundBankManager::~CSnThreadedSoundBankManager() { Term(); }

SNRESULT CSnThreadedSoundBankManager::Init() {
  SNRESULT result = CSnSoundBankManager::Init();
  if (result != SN_Success) return result;
  if (m_thread) {
    SOUND_LOG(Error, "The bank thread runs already");
    return SN_Failure;
  }
  m_stop = 0;
  StartNamedThread(&ThreadMain, this, LowerEngine::PlatformSettings().bankThread, &m_thread, "SN::BankManager");
  return m_thread ? SN_Success : SN_Failure;
}

void CSnThreadedSoundBankManager::Term() {
  StopThread();
  CSnSoundBankManager::Term();
}

bool CSnThreadedSoundBankManager::IsBankThread() const {
  return m_threadId.load() != 0 && m_threadId.load() == Platform::CurrentThreadId();
}

void CSnThreadedSoundBankManager::HoldThread() { m_queue.Hold(); }
void CSnThreadedSoundBankManager::ReleaseThread() { m_queue.Release(); }

uint32_t CSnThreadedSoundBankManager::ThreadMain(void* context) {
  static_cast<CSnThreadedSoundBankManager*>(context)->Run();
  return 0;
}

void CSnThreadedSoundBankManager::Run() {
  const ThisThread::BankThreadScope place;
  m_threadId = Platform::CurrentThreadId();
  for (;;) {
    m_queue.WaitForCommands();
    if (m_stop.load()) break;
    // Each command runs without the queue lock: the game may queue while a bank loads. Once Term has
    // closed the queue, what is queued is dropped here, each callback called on this thread.
    while (!m_stop.load() && m_queue.RunNext()) {
    }
  }
  m_threadId = 0;
}

void CSnThreadedSoundBankManager::StopThread() {
  // From here on the queue refuses commands.
  m_stop = 1;
  m_queue.Close();
  if (m_thread) {
    Platform::JoinThread(m_thread);
    m_thread = nullptr;
  }
  // What the thread left: dropped here.
  m_queue.Drop();
}

// ---- the engine's manager ----

SNRESULT CreateBankManager(bool useBankThread) {
  if (g_pBankManager) return SN_Success;
  if (useBankThread)
    g_pBankManager = PoolNew<CSnThreadedSoundBankManager>(g_DefaultPoolId);
  else
    g_pBankManager = PoolNew<CSnSoundBankManager>(g_DefaultPoolId);
  if (!g_pBankManager) return SN_InsufficientMemory;
  return g_pBankManager->Init();
}

void StopBankManager() {
  if (g_pBankManager) g_pBankManager->StopThread();
}

void DestroyBankManager() {
  if (!g_pBankManager) return;
  g_pBankManager->Term();
  PoolDelete(g_DefaultPoolId, g_pBankManager);
  g_pBankManager = nullptr;
}

}  // namespace SN
