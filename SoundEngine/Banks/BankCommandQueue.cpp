// The one queue of bank commands: who runs its head, and when.
#include "SoundEngine/Banks/BankCommandQueue.h"

#include <new>

#include "Base/PoisonRegion.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"

namespace SN {

namespace {

// Commands this thread is running (one inside another when a callback made a bank call).
thread_local uint32_t t_running = 0;

}  // namespace

struct CSnBankCommandQueue::Node {
  enum From : uint8_t { Block, Pool, Caller };
  Node* next = nullptr;
  SnBankCommand command;
  uint64_t ticket = 0;
  From from = Pool;
  bool madeInPass = false;
  // A caller's own node, on its stack while it waits for its turn: the answer, written by whichever
  // thread ran the command, or `dropped` when none will.
  bool dropped = false;
  SNRESULT result = SN_Failure;
};

SNRESULT CSnBankCommandQueue::Open() {
  Platform::ReentrantGuard guard(m_lock);
  if (!m_block) {
    void* memory = MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node) * kBlockNodes);
    if (!memory) return SN_InsufficientMemory;
    m_block = static_cast<Node*>(memory);
    for (uint32_t i = 0; i < kBlockNodes; ++i) {
      Node* node = new (&m_block[i]) Node;
      node->from = Node::Block;
      node->next = i + 1 < kBlockNodes ? &m_block[i + 1] : nullptr;
    }
    m_free = m_block;
    // Free nodes stay poisoned until taken.
    Base::PoisonRegion(m_block, sizeof(Node) * kBlockNodes);
  }
  m_open = true;
  return SN_Success;
}

void CSnBankCommandQueue::Close() {
  {
    Platform::ReentrantGuard guard(m_lock);
    m_open = false;
  }
  m_queued.Set();
}

void CSnBankCommandQueue::Drop() {
  for (;;) {
    SnBankCommand command;
    {
      Platform::ReentrantGuard guard(m_lock);
      Node* node = TakeHead();
      if (!node) break;
      if (node->from == Node::Caller) {
        // Its caller tells itself, on its own thread, once it finds its turn gone.
        node->dropped = true;
        continue;
      }
      command = node->command;
      FreeNode(node);
    }
    m_runner.DropCommand(command);
  }
  Platform::ReentrantGuard guard(m_lock);
  if (m_block && !m_count) {
    MemoryMgr::Free(g_DefaultPoolId, m_block);
    m_block = nullptr;
    m_free = nullptr;
  }
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::NewNode() {
  Node* node = m_free;
  if (node) {
    Base::UnpoisonRegion(node, sizeof *node);
    m_free = node->next;
    *node = Node{};
    node->from = Node::Block;
    return node;
  }
  void* memory = MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node));
  return memory ? new (memory) Node : nullptr;
}

void CSnBankCommandQueue::FreeNode(Node* node) {
  if (node->from == Node::Block) {
    node->next = m_free;
    m_free = node;
    Base::PoisonRegion(node, sizeof *node);
  } else if (node->from == Node::Pool) {
    MemoryMgr::Free(g_DefaultPoolId, node);
  }
}

void CSnBankCommandQueue::Append(Node* node) {
  node->next = nullptr;
  node->ticket = ++m_lastTicket;
  (m_tail ? m_tail->next : m_head) = node;
  m_tail = node;
  ++m_count;
  if (node->madeInPass) m_madeInPasses.fetch_add(1, std::memory_order_relaxed);
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::TakeHead() {
  Node* node = m_head;
  if (!node) return nullptr;
  m_head = node->next;
  if (!m_head) m_tail = nullptr;
  --m_count;
  if (node->madeInPass) m_madeInPasses.fetch_sub(1, std::memory_order_relaxed);
  return node;
}

template <typename Wanted>
bool CSnBankCommandQueue::RunHead(Wanted&& wanted) {
  Node* caller = nullptr;
  SnBankCommand command;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_head || !wanted(*m_head)) return false;
    Node* node = TakeHead();
    command = node->command;
    if (node->from == Node::Caller)
      caller = node;
    else
      FreeNode(node);
  }
  // Run without the queue lock: calls are queued meanwhile, a callback's among them.
  ++t_running;
  const SNRESULT result = m_runner.ExecuteCommand(command);
  --t_running;
  if (caller) {
    // Its caller waits for the run lock this thread holds, or is this thread further down its stack.
    caller->result = result;
  }
  return true;
}

bool CSnBankCommandQueue::RunInTurn(const SnBankCommand& command, SNRESULT& result) {
  Node own;
  own.command = command;
  own.from = Node::Caller;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return false;
    Append(&own);
  }
  const uint64_t ticket = own.ticket;
  {
    // Another thread may be running the commands ahead, this one's too: it then finds them gone.
    Platform::ReentrantGuard turn(m_runLock);
    while (RunHead([ticket](const Node& head) { return head.ticket <= ticket; })) {
    }
  }
  if (own.dropped) m_runner.DropCommand(command);
  result = own.result;
  return true;
}

SNRESULT CSnBankCommandQueue::Keep(const SnBankCommand& command) {
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return SN_Failure;
    Node* node = NewNode();
    if (!node) return SN_InsufficientMemory;
    node->command = command;
    // Without the bank thread only a call made inside a pass is kept: the end of a pass runs it.
    node->madeInPass = !m_bankThread;
    Append(node);
  }
  if (m_bankThread) m_queued.Set();
  return SN_Success;
}

void CSnBankCommandQueue::AfterPass() {
  // A command made in a pass is queued under the audio lock, which every pass takes: a pass that ends
  // after that one reads its count here, as does the thread that queued it. Nothing lost by not looking.
  if (m_madeInPasses.load(std::memory_order_relaxed) == 0) return;
  // The command this thread runs has yet to end, and what its passes queued comes after it.
  if (t_running) return;
  // Never waits: the thread running commands may be waiting for this thread's pass.
  if (!m_runLock.try_lock()) return;
  uint64_t last = 0;
  {
    Platform::ReentrantGuard guard(m_lock);
    last = m_lastTicket;
  }
  while (RunHead([last](const Node& head) { return head.madeInPass && head.ticket <= last; })) {
  }
  m_runLock.unlock();
}

bool CSnBankCommandQueue::RunNext() {
  return RunHead([](const Node&) { return true; });
}

uint32_t CSnBankCommandQueue::Count() {
  Platform::ReentrantGuard guard(m_lock);
  return m_count;
}

}  // namespace SN
