// The bank thread: its command queue, its loop and the callbacks of queued commands.
#include "SoundEngine/Banks/ThreadedBankManager.h"

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/StartNamedThread.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnThreadedSoundBankManager::~CSnThreadedSoundBankManager() { Term(); }

SNRESULT CSnThreadedSoundBankManager::Init() {
  SNRESULT result = CSnSoundBankManager::Init();
  if (result != SN_Success) return result;
  if (!m_block) {
    m_block = static_cast<Node*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node) * kBlockNodes));
    if (!m_block) return SN_InsufficientMemory;
    for (uint32_t i = 0; i < kBlockNodes; ++i) m_block[i].next = i + 1 < kBlockNodes ? &m_block[i + 1] : nullptr;
    m_free = m_block;
    // Free nodes stay poisoned until taken.
    Base::PoisonRegion(m_block, sizeof(Node) * kBlockNodes);
  }
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
  DropQueue();
  if (m_block) MemoryMgr::Free(g_DefaultPoolId, m_block);
  m_block = nullptr;
  m_free = nullptr;
  CSnSoundBankManager::Term();
}

bool CSnThreadedSoundBankManager::IsBankThread() const {
  return m_threadId.load() != 0 && m_threadId.load() == Platform::CurrentThreadId();
}

void CSnThreadedSoundBankManager::FreeNode(Node* node) {
  if (node >= m_block && node < m_block + kBlockNodes) {
    node->next = m_free;
    m_free = node;
    Base::PoisonRegion(node, sizeof *node);
  } else {
    MemoryMgr::Free(g_DefaultPoolId, node);
  }
  --m_nodeCount;
}

SNRESULT CSnThreadedSoundBankManager::QueueCommand(const SnBankCommand& call) {
  SnBankCommand command = call;
  Platform::ReentrantGuard guard(m_queueLock);
  if (!m_thread || m_stop.load()) {
    SOUND_LOG(Error, "Bank command %u: the bank thread does not run", command.type);
    FreeCommand(command);
    return SN_Failure;
  }
  if (CountsCallback(command)) {
    const SNRESULT added = m_cookies.AddPending(command.cookie, command.callId);
    if (added != SN_Success) {
      FreeCommand(command);
      return added;
    }
  }
  Node* node = m_free;
  if (node) {
    Base::UnpoisonRegion(node, sizeof *node);
    m_free = node->next;
  } else {
    node = static_cast<Node*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node)));
  }
  if (!node) {
    // The call's entry goes again: its callback never comes.
    if (CountsCallback(command)) m_cookies.RemovePending(command.callId);
    FreeCommand(command);
    return SN_InsufficientMemory;
  }
  node->next = nullptr;
  node->command = command;
  if (m_tail)
    m_tail->next = node;
  else
    m_head = node;
  m_tail = node;
  ++m_nodeCount;
  m_wake.Set();
  return SN_Success;
}

void CSnThreadedSoundBankManager::HoldThread() { m_hold.Clear(); }
void CSnThreadedSoundBankManager::ReleaseThread() { m_hold.Set(); }

uint32_t CSnThreadedSoundBankManager::ThreadMain(void* context) {
  static_cast<CSnThreadedSoundBankManager*>(context)->Run();
  return 0;
}

void CSnThreadedSoundBankManager::Run() {
  m_threadId = Platform::CurrentThreadId();
  for (;;) {
    m_wake.Wait(Platform::kWaitForever);
    m_hold.Wait(Platform::kWaitForever);
    if (m_stop.load()) break;
    m_queueLock.lock();
    while (m_head && !m_stop.load()) {
      Node* node = m_head;
      const SnBankCommand command = node->command;
      m_head = node->next;
      if (!m_head) m_tail = nullptr;
      FreeNode(node);
      // The command runs without the queue lock: the game may queue while a bank loads.
      m_queueLock.unlock();
      ExecuteCommand(command);
      m_queueLock.lock();
    }
    m_queueLock.unlock();
  }
  m_threadId = 0;
}

void CSnThreadedSoundBankManager::StopThread() {
  Platform::Thread* thread = nullptr;
  {
    // From here on the queue refuses commands.
    Platform::ReentrantGuard guard(m_queueLock);
    thread = m_thread;
    m_stop = 1;
  }
  if (thread) {
    m_wake.Set();
    m_hold.Set();
    Platform::JoinThread(thread);
    Platform::ReentrantGuard guard(m_queueLock);
    m_thread = nullptr;
  }
  DropQueue();
}

void CSnThreadedSoundBankManager::DropQueue() {
  for (;;) {
    SnBankCommand command;
    {
      Platform::ReentrantGuard guard(m_queueLock);
      Node* node = m_head;
      if (!node) return;
      command = node->command;
      m_head = node->next;
      if (!m_head) m_tail = nullptr;
      FreeNode(node);
    }
    // What a run would have freed goes too.
    FreeCommand(command);
    if (!command.callback) continue;
    if (IsWaitingCallback(command.callback)) {
      // A caller blocked on this command is told it will not run.
      CallCallback(command, command.bankId, SN_Failure, -1);
    } else {
      m_cookies.RemovePending(command.callId);
    }
  }
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
