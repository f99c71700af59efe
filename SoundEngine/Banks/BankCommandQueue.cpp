// The one queue of bank commands: who runs its head, and when, and on which thread each callback is
// called.
#include "SoundEngine/Banks/BankCommandQueue.h"

#include <new>

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"

namespace SN {

struct CSnBankCommandQueue::Node {
  enum From : uint8_t { Block, Pool, Stack };
  Node* next = nullptr;
  SnBankCommand command;
  uint64_t ticket = 0;
  // The loop of the game thread whose call it is; null for a kept command and the bank thread's.
  Caller* caller = nullptr;
  From from = Pool;
  bool kept = false;
  bool taken = false;     // out of the list: running, run or dropped
  bool done = false;      // run or dropped
  bool dropped = false;
  bool answered = false;  // its run handed `answer` over
  SNRESULT result = SN_Failure;
  SnBankAnswer answer;
};

// A game thread's loop, on the stack of its first bank call; a pass's end has one of its own for the
// answers of the kept commands it runs.
struct CSnBankCommandQueue::Caller {
  uint32_t queued = 0;   // its commands still in the list
  uint32_t pending = 0;  // its commands not yet run or dropped
  // The commands run whose callbacks it calls, in the order they ran.
  Node* answers = nullptr;
  Node* answersTail = nullptr;
  Caller* next = nullptr;  // among the loops, which the run turn's end wakes
  Platform::Event wake{Platform::Event::Reset::Auto};
};

namespace {
// Commands this thread is running: a pass's end inside one leaves the kept commands for later.
thread_local uint32_t t_running = 0;
}  // namespace

thread_local CSnBankCommandQueue::Caller* CSnBankCommandQueue::t_loop = nullptr;
thread_local CSnBankCommandQueue::Node* CSnBankCommandQueue::t_handing = nullptr;

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
      node->done = node->dropped = true;
      if (Caller* caller = node->caller) {
        // Its caller tells itself, on its own thread, inside its call.
        --caller->pending;
        if (node->from != Node::Stack) HandTo(*caller, node);
        caller->wake.Set();
        continue;
      }
      command = node->command;
      FreeNode(node);
    }
    m_runner.DropCommand(command);
  }
  Platform::ReentrantGuard guard(m_lock);
  FreeBlockIfUnused();
}

void CSnBankCommandQueue::FreeBlockIfUnused() {
  if (!m_block || m_open || m_count || m_out) return;
  MemoryMgr::Free(g_DefaultPoolId, m_block);
  m_block = nullptr;
  m_free = nullptr;
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
  if (node->from == Node::Stack) return;
  --m_out;
  if (node->from == Node::Block) {
    node->next = m_free;
    m_free = node;
    Base::PoisonRegion(node, sizeof *node);
  } else {
    MemoryMgr::Free(g_DefaultPoolId, node);
  }
  FreeBlockIfUnused();
}

void CSnBankCommandQueue::Append(Node* node) {
  node->next = nullptr;
  node->ticket = ++m_lastTicket;
  (m_tail ? m_tail->next : m_head) = node;
  m_tail = node;
  ++m_count;
  if (node->kept) m_kept.fetch_add(1, std::memory_order_relaxed);
  if (node->caller) {
    ++node->caller->queued;
    ++node->caller->pending;
  }
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::TakeHead() {
  Node* node = m_head;
  if (!node) return nullptr;
  m_head = node->next;
  if (!m_head) m_tail = nullptr;
  --m_count;
  if (node->kept) m_kept.fetch_sub(1, std::memory_order_relaxed);
  if (node->caller) --node->caller->queued;
  if (node->from != Node::Stack) ++m_out;
  node->taken = true;
  return node;
}

void CSnBankCommandQueue::HandTo(Caller& caller, Node* node) {
  node->next = nullptr;
  (caller.answersTail ? caller.answersTail->next : caller.answers) = node;
  caller.answersTail = node;
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::TakeAnswer(Caller& caller) {
  Node* node = caller.answers;
  if (!node) return nullptr;
  caller.answers = node->next;
  if (!caller.answers) caller.answersTail = nullptr;
  return node;
}

template <typename Wanted>
bool CSnBankCommandQueue::RunHead(Wanted&& wanted, Caller* here) {
  Node* node = nullptr;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_head || !wanted(*m_head)) return false;
    node = TakeHead();
  }
  // Run without the queue lock: calls are queued meanwhile, from passes among them. Never inside
  // another command of this thread: what runs one here never makes a call that loops.
  ORV_ASSERT(!t_handing);
  ++t_running;
  t_handing = here ? node : nullptr;
  const SNRESULT result = m_runner.ExecuteCommand(node->command);
  t_handing = nullptr;
  --t_running;
  Platform::ReentrantGuard guard(m_lock);
  node->result = result;
  node->done = true;
  if (Caller* caller = node->caller) {
    --caller->pending;
    caller->wake.Set();
  }
  if (node->answered)
    HandTo(node->caller ? *node->caller : *here, node);
  else
    FreeNode(node);
  return true;
}

bool CSnBankCommandQueue::HandOver(const SnBankCommand& command, const SnBankAnswer& answer) {
  Node* node = t_handing;
  // Written by the thread running the command; its caller reads it once the run is done.
  if (!node || node->answered || !command.callId || node->command.callId != command.callId) return false;
  node->answer = answer;
  node->answered = true;
  return true;
}

void CSnBankCommandQueue::Deliver(Node* node) {
  if (node->dropped)
    m_runner.DropCommand(node->command);
  else
    m_runner.CallBack(node->command, node->answer);
  Platform::ReentrantGuard guard(m_lock);
  FreeNode(node);
}

void CSnBankCommandQueue::LetTurnGo() {
  Platform::ReentrantGuard guard(m_lock);
  m_turnTaken = false;
  for (Caller* caller = m_callers; caller; caller = caller->next) caller->wake.Set();
}

void CSnBankCommandQueue::Serve(Caller& caller, Node* waited) {
  // Only the first call calls back: a waited call inside a callback leaves the answers to it.
  const auto ownQueued = [&] { return waited ? !waited->taken : caller.queued != 0; };
  for (;;) {
    Node* answer = nullptr;
    bool run = false;
    {
      Platform::ReentrantGuard guard(m_lock);
      if (waited ? waited->done : caller.pending == 0 && !caller.answers) return;
      if (!waited) answer = TakeAnswer(caller);
      // The head stands before a command of this caller's still queued: the commands ahead of its
      // own, then its own, never one queued after them.
      if (!answer && !m_turnTaken && ownQueued()) run = m_turnTaken = true;
    }
    if (answer) {
      Deliver(answer);
    } else if (run) {
      // The turn goes once an answer has come for this loop to call: callbacks run with no turn held.
      while (RunHead([&](const Node&) { return ownQueued() && (waited || !caller.answers); }, &caller)) {
      }
      LetTurnGo();
    } else {
      // Another thread holds the turn: it may run this caller's commands too, and hands the answers back.
      caller.wake.Wait(Platform::kWaitForever);
    }
  }
}

SNRESULT CSnBankCommandQueue::Call(const SnBankCommand& command, bool waits, SNRESULT& result) {
  Caller* const loop = t_loop;
  if (loop && !waits) {
    // A call inside a callback this thread's loop calls: the loop reaches it.
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return SN_Failure;
    Node* node = NewNode();
    if (!node) return SN_InsufficientMemory;
    node->command = command;
    node->caller = loop;
    Append(node);
    return SN_Success;
  }
  Caller mine;
  Caller& caller = loop ? *loop : mine;
  Node own;
  own.command = command;
  own.from = Node::Stack;
  own.caller = &caller;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return SN_Failure;
    Append(&own);
    if (!loop) {
      mine.next = m_callers;
      m_callers = &mine;
    }
  }
  if (!loop) t_loop = &mine;
  Serve(caller, loop ? &own : nullptr);
  if (!loop) {
    t_loop = nullptr;
    Platform::ReentrantGuard guard(m_lock);
    Caller** link = &m_callers;
    while (*link != &mine) link = &(*link)->next;
    *link = mine.next;
  }
  if (own.dropped) m_runner.DropCommand(command);
  result = own.result;
  return SN_Success;
}

SNRESULT CSnBankCommandQueue::Keep(const SnBankCommand& command) {
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return SN_Failure;
    Node* node = NewNode();
    if (!node) return SN_InsufficientMemory;
    node->command = command;
    // Without the bank thread only a call made inside a pass or on the audio thread is kept: the end
    // of a pass runs it.
    node->kept = !m_bankThread;
    Append(node);
  }
  if (m_bankThread) m_queued.Set();
  return SN_Success;
}

void CSnBankCommandQueue::AfterPass() {
  // A command is kept under the audio lock, which every pass takes, or on the audio thread itself: a
  // pass that ends after that reads its count here, as does the thread that kept it. Nothing lost by
  // not looking.
  if (m_kept.load(std::memory_order_relaxed) == 0) return;
  // The command this thread runs has yet to end, and what its passes kept comes after it.
  if (t_running) return;
  uint64_t last = 0;
  {
    // Never waits: the thread running commands may be waiting for this thread's pass.
    Platform::ReentrantGuard guard(m_lock);
    if (m_turnTaken) return;
    m_turnTaken = true;
    last = m_lastTicket;
  }
  Caller here;
  while (RunHead([last](const Node& head) { return head.kept && head.ticket <= last; }, &here)) {
  }
  LetTurnGo();
  // The callbacks, with the turn let go: a call made in one on the audio thread is kept for a later
  // pass's end, one on a game thread loops as any game thread's call.
  for (;;) {
    Node* node = nullptr;
    {
      Platform::ReentrantGuard guard(m_lock);
      node = TakeAnswer(here);
    }
    if (!node) break;
    Deliver(node);
  }
}

bool CSnBankCommandQueue::RunNext() {
  return RunHead([](const Node&) { return true; }, nullptr);
}

uint32_t CSnBankCommandQueue::Count() {
  Platform::ReentrantGuard guard(m_lock);
  return m_count;
}

}  // namespace SN
