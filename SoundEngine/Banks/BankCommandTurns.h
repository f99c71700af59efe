// Who runs the head of the queue of bank commands (BankCommandQueue.h), and on which thread each
// callback is called: the run turn, the callers' loops and the hand-over of answers. The bank thread
// runs every command when there is one. Without it one thread at a time holds the run turn and runs
// the head: a game thread's call, in a loop of its own (never nested on a callback's stack), runs the
// commands ahead of its own, then its own, and no later one; a thread whose pass has ended runs the
// commands kept in passes while one stands at the head. Each command carries the place that began its
// chain (a game thread's loop, or the passes' ends for a call made in a pass or on the audio thread),
// and its answer goes back there whichever thread ran it: a game thread calls its callbacks inside its
// own call, and a pass's end calls the passes', where a call made in one is kept again.
#pragma once

#include <atomic>
#include <cstdint>

#include "SoundEngine/Banks/BankCommandQueue.h"

namespace SN {

class CSnBankCommandTurns final : public CSnBankCommandQueue {
 public:
  // `bankThread`: the bank thread runs every command, and the calls only queue them.
  CSnBankCommandTurns(ISnBankCommandRunner& runner, bool bankThread) : m_runner(runner), m_bankThread(bankThread) {}
  ~CSnBankCommandTurns() {
    Close();
    Drop();
  }
  // Refuses calls from now on (SN_Failure), and wakes the bank thread (held or not), whose RunNext
  // drops what is queued from then on.
  void Close();
  // What is queued goes unrun, in order: a game thread's call is told on its own thread, inside its
  // call; a command kept in a pass where the passes' answers come, at a pass's end when
  // `passesGoOn` (the audio thread runs passes still), else here with the answers handed to the
  // passes and not yet called; the bank thread's here (see ISnBankCommandRunner::DropCommand). The
  // block goes with the last node.
  void Drop(bool passesGoOn = false);
  bool HasBankThread() const { return m_bankThread; }

  // Without the bank thread, a game thread's call made outside a pass. The thread's first bank call
  // queues its command and loops until it has run and its callback has been called: it runs the
  // commands ahead of its own while no other thread runs commands, waits while one does (which may
  // run its command too), and calls the callbacks handed to it, of its own commands only (a kept
  // command it runs answers to the passes). A call made inside such a callback never loops there: one
  // with a callback (`waits` false) is queued, 1, and the loop below reaches it; a waited one runs the
  // commands up to its own and leaves every callback to the loop. Inside a callback a pass's end calls,
  // one with a callback is kept, and a waited one is this thread's own loop. What bounds the call: the
  // commands queued before it and those its callbacks queue; it never runs, nor waits for, one queued
  // after them. `result` is the command's own (1 for a call queued only).
  // SN_Failure when the queue is closed, 52 when no node can be had: then nothing is queued.
  SNRESULT Call(const SnBankCommand& command, bool waits, SNRESULT& result);
  // Any other call: queued for the bank thread, or kept (made inside a pass, or on the audio thread)
  // for a pass's end or a game thread's call made after it. 52 when no node can be had, SN_Failure
  // when the queue is closed.
  SNRESULT Keep(const SnBankCommand& command);
  // A pass has ended on this thread, which holds its audio lock no more. Never waits for the run turn:
  // when it has it, runs the kept commands while one stands at the head, up to those queued now (a
  // game thread's command at the head is left to that thread), then lets the turn go and calls the
  // answers handed to the passes, theirs and those of kept commands a game thread's loop ran: a call
  // made in one is kept for a later pass's end, so a chain runs a link a pass and a callback that
  // always calls again cannot hold the thread here. Not in the middle of a command of this thread.
  void AfterPass();
  // Inside the command this thread runs without the bank thread: its answer, kept for the place that
  // began its chain to call back with. False for any other callback, to be called now.
  bool HandOver(const SnBankCommand& command, const SnBankAnswer& answer);

  // The bank thread: waits until a command was queued and the thread is not held (or the queue
  // closed); RunNext runs the head, or once the queue is closed drops it, calling back on this thread;
  // false when there is none.
  void WaitForCommands() {
    m_queued.Wait(Platform::kWaitForever);
    m_unheld.Wait(Platform::kWaitForever);
  }
  bool RunNext();
  // For tests: the bank thread waits before its next command until released, or until the queue closes.
  void Hold() { m_unheld.Clear(); }
  void Release() { m_unheld.Set(); }

 private:
  // Once closed: the head, out of the list unrun, told to its caller as Drop says; false when there
  // is none (or the queue is open).
  bool DropHead(bool passesGoOn);
  // A node of `chain` (null: the bank thread's) at the tail; 52 without one, SN_Failure once closed.
  SNRESULT Queue(const SnBankCommand& command, Caller* chain);
  // With the run turn: runs the head when `wanted` holds for it; false when it does not (or there is
  // none). Its answer goes back to the place that began its chain.
  template <typename Wanted>
  bool RunHead(Wanted&& wanted);
  // The answers handed to the passes, called on this thread unless another calls them now.
  void CallPassAnswers();
  // Under the queue lock: what a pass's end finds to do, for it to read without the lock.
  void NotePassWork();
  // The loop of a call: until `waited` has run (null: every command of the caller has run and every
  // answer handed to it is called).
  void Serve(Caller& caller, Node* waited);
  // Under the queue lock: the answer handed to the caller, after those handed before; the next one, or null.
  void HandTo(Caller& caller, Node* node);
  Node* TakeAnswer(Caller& caller);
  // Calls back with the node's answer (or tells its caller that it was dropped), then frees it.
  void Deliver(Node* node);
  void LetTurnGo();
  // The chain whose callback this thread calls: its loop (the caller of its first bank call), or the
  // passes'; and the command it runs whose answer is handed over.
  static thread_local Caller* t_chain;
  static thread_local Node* t_handing;

  ISnBankCommandRunner& m_runner;
  const bool m_bankThread;
  // Without the bank thread: a thread runs commands (the run turn; never inside a pass, and only tried
  // after one), and the game threads' calls in their loops, woken when the turn goes.
  bool m_turnTaken = false;
  Caller* m_callers = nullptr;
  // The chains begun in passes or on the audio thread: their commands (kept) and the answers a pass's
  // end calls, one thread at a time.
  Caller m_passes;
  bool m_passesCalling = false;
  // Kept commands queued, or answers handed to the passes. Written under the queue lock, read at a
  // pass's end without it: see AfterPass.
  std::atomic<uint32_t> m_passWork{0};
  Platform::Event m_queued{Platform::Event::Reset::Auto};
  // Cleared while a test holds the bank thread; set again when the queue closes.
  Platform::Event m_unheld{Platform::Event::Reset::Manual, true};
};

}  // namespace SN
