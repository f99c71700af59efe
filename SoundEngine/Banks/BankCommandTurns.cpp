// Who runs the head of the queue of bank commands, and when, and on which thread each callback is
// called.
#include "SoundEngine/Banks/BankCommandTurns.h"

#include "Base/Assert.h"

namespace SN {

namespace {
// Commands this thread is running: a pass's end inside one leaves the kept commands for later.
thread_local uint32_t t_running = 0;
}  // namespace

thread_local CSnBankCommandTurns::Caller* CSnBankCommandTurns::t_chain = nullptr;
thread_local CSnBankCommandTurns::Node* CSnBankCommandTurns::t_handing = nullptr;

void CSnBankCommandTurns::Close() {
  {
    Platform::ReentrantGuard guard(m_lock);
    m_open = false;
  }
  // The bank thread drops what is queued, calling back on its own thread.
  m_unheld.Set();
  m_queued.Set();
}

bool CSnBankCommandTurns::DropHead(bool passesGoOn) {
  SnBankCommand command;
  {
    Platform::ReentrantGuard guard(m_lock);
    Node* node = m_open ? nullptr : TakeHead();
    if (!node) return false;
    NotePassWork();
    node->done = node->dropped = true;
    Caller* const caller = node->caller;
    // A game thread's call tells itself, on its own thread, inside its call; a kept one is told at a
    // pass's end, where the passes' answers come.
    if (caller && (caller != &m_passes || passesGoOn)) {
      --caller->pending;
      if (node->from != Node::Stack) HandTo(*caller, node);
      caller->wake.Set();
      return true;
    }
    command = node->command;
    FreeNode(node);
  }
  m_runner.DropCommand(command);
  return true;
}

void CSnBankCommandTurns::Drop(bool passesGoOn) {
  while (DropHead(passesGoOn)) {
  }
  // The answers the passes' ends have not called yet are called here, once no pass will.
  if (!passesGoOn) CallPassAnswers();
  Platform::ReentrantGuard guard(m_lock);
  FreeBlockIfUnused();
}

void CSnBankCommandTurns::NotePassWork() {
  m_passWork.store(m_passes.queued + (m_passes.answers ? 1 : 0), std::memory_order_relaxed);
}

void CSnBankCommandTurns::HandTo(Caller& caller, Node* node) {
  node->next = nullptr;
  (caller.answersTail ? caller.answersTail->next : caller.answers) = node;
  caller.answersTail = node;
  NotePassWork();
}

CSnBankCommandTurns::Node* CSnBankCommandTurns::TakeAnswer(Caller& caller) {
  Node* node = caller.answers;
  if (!node) return nullptr;
  caller.answers = node->next;
  if (!caller.answers) caller.answersTail = nullptr;
  return node;
}

template <typename Wanted>
bool CSnBankCommandTurns::RunHead(Wanted&& wanted) {
  Node* node = nullptr;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_head || !wanted(*m_head)) return false;
    node = TakeHead();
    NotePassWork();
  }
  // Run without the queue lock: calls are queued meanwhile, from passes among them. Never inside
  // another command of this thread: what runs one here never makes a call that loops.
  ORV_ASSERT(!t_handing);
  ++t_running;
  t_handing = m_bankThread ? nullptr : node;
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
  // The answer goes back to the place that began the chain, whichever thread ran the command.
  if (node->answered)
    HandTo(*node->caller, node);
  else
    FreeNode(node);
  return true;
}

bool CSnBankCommandTurns::HandOver(const SnBankCommand& command, const SnBankAnswer& answer) {
  Node* node = t_handing;
  // Written by the thread running the command; its caller reads it once the run is done.
  if (!node || node->answered || !command.callId || node->command.callId != command.callId) return false;
  node->answer = answer;
  node->answered = true;
  return true;
}

void CSnBankCommandTurns::Deliver(Node* node) {
  // The node goes however the callback ends.
  struct Frees {
    CSnBankCommandTurns& turns;
    Node* node;
    ~Frees() {
      Platform::ReentrantGuard guard(turns.m_lock);
      turns.FreeNode(node);
    }
  } frees{*this, node};
  if (node->dropped)
    m_runner.DropCommand(node->command);
  else
    m_runner.CallBack(node->command, node->answer);
}

void CSnBankCommandTurns::LetTurnGo() {
  Platform::ReentrantGuard guard(m_lock);
  m_turnTaken = false;
  for (Caller* caller = m_callers; caller; caller = caller->next) caller->wake.Set();
}

void CSnBankCommandTurns::Serve(Caller& caller, Node* waited) {
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
      while (RunHead([&](const Node&) { return ownQueued() && (waited || !caller.answers); })) {
      }
      LetTurnGo();
    } else {
      // Another thread holds the turn: it may run this caller's commands too, and hands the answers back.
      caller.wake.Wait(Platform::kWaitForever);
    }
  }
}

SNRESULT CSnBankCommandTurns::Call(const SnBankCommand& command, bool waits, SNRESULT& result) {
  Caller* const chain = t_chain;
  // A call inside a callback of a chain: the chain's own, which its place reaches (the loop, or a
  // later pass's end).
  if (chain && !waits) return Queue(command, chain);
  // A waited call inside a game thread's callback runs in that thread's loop; anywhere else it is a
  // loop of its own (inside a callback of the passes' chain too: it is this thread's call).
  Caller* const loop = chain == &m_passes ? nullptr : chain;
  // A loop of its own: its caller entry is listed, and the thread's chain, for as long as it runs.
  struct Mine {
    CSnBankCommandTurns& turns;
    Caller* const outer;
    Caller caller;
    bool listed = false;
    ~Mine() {
      if (!listed) return;
      t_chain = outer;
      Platform::ReentrantGuard guard(turns.m_lock);
      Caller** link = &turns.m_callers;
      while (*link != &caller) link = &(*link)->next;
      *link = caller.next;
    }
  } mine{*this, chain, {}};
  Caller& caller = loop ? *loop : mine.caller;
  Node own;
  own.command = command;
  own.from = Node::Stack;
  own.caller = &caller;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!m_open) return SN_Failure;
    Append(&own);
    if (!loop) {
      mine.caller.next = m_callers;
      m_callers = &mine.caller;
      mine.listed = true;
    }
  }
  if (!loop) t_chain = &mine.caller;
  Serve(caller, loop ? &own : nullptr);
  if (own.dropped) m_runner.DropCommand(command);
  result = own.result;
  return SN_Success;
}

SNRESULT CSnBankCommandTurns::Queue(const SnBankCommand& command, Caller* chain) {
  Platform::ReentrantGuard guard(m_lock);
  if (!m_open) return SN_Failure;
  Node* node = NewNode();
  if (!node) return SN_InsufficientMemory;
  node->command = command;
  node->caller = chain;
  Append(node);
  NotePassWork();
  return SN_Success;
}

SNRESULT CSnBankCommandTurns::Keep(const SnBankCommand& command) {
  // Without the bank thread only a call made inside a pass or on the audio thread is kept: it begins
  // a chain of the passes, whose ends run it.
  const SNRESULT queued = Queue(command, m_bankThread ? nullptr : &m_passes);
  if (queued == SN_Success && m_bankThread) m_queued.Set();
  return queued;
}

void CSnBankCommandTurns::AfterPass() {
  // A command is kept under the audio lock, which every pass takes, or on the audio thread itself: a
  // pass that ends after that reads its count here, as does the thread that kept it. An answer handed
  // to the passes by a game thread's loop is seen by a later pass's end. Nothing lost by not looking.
  if (m_passWork.load(std::memory_order_relaxed) == 0) return;
  // The command this thread runs has yet to end, and what its passes kept comes after it.
  if (t_running) return;
  bool run = false;
  uint64_t last = 0;
  {
    // Never waits: the thread running commands may be waiting for this thread's pass.
    Platform::ReentrantGuard guard(m_lock);
    if (!m_turnTaken && m_passes.queued) {
      run = m_turnTaken = true;
      last = m_lastTicket;
    }
  }
  if (run) {
    while (RunHead([&](const Node& head) { return head.caller == &m_passes && head.ticket <= last; })) {
    }
    LetTurnGo();
  }
  CallPassAnswers();
}

void CSnBankCommandTurns::CallPassAnswers() {
  // The answers handed to the passes so far, with no turn held, by one thread at a time (another
  // leaves them to a later pass's end): a call made in one is the chain's, kept for a later pass's
  // end, so a callback that always calls again cannot hold the thread here.
  Node* answers = nullptr;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (m_passesCalling || !m_passes.answers) return;
    m_passesCalling = true;
    answers = m_passes.answers;
    m_passes.answers = m_passes.answersTail = nullptr;
    NotePassWork();
  }
  // This thread calls them, in the passes' chain, until it has called the last.
  struct Calling {
    CSnBankCommandTurns& turns;
    Caller* const outer = t_chain;
    ~Calling() {
      t_chain = outer;
      Platform::ReentrantGuard guard(turns.m_lock);
      turns.m_passesCalling = false;
    }
  } calling{*this};
  t_chain = &m_passes;
  while (Node* node = answers) {
    answers = node->next;
    Deliver(node);
  }
}

bool CSnBankCommandTurns::RunNext() {
  // Once the queue is closed the bank thread answers what is queued, in order, on its own thread.
  return RunHead([this](const Node&) { return m_open; }) || DropHead(false);
}

}  // namespace SN
