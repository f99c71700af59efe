// The bank commands in the order the calls were made. Every bank call takes its place here when it is
// made (its ticket, increasing) and the commands run in ticket order whoever runs them: the bank
// thread when there is one; without it the game thread of a call made outside an audio pass, which
// runs the commands ahead of its own, then its own, and no later one; and a thread whose pass has
// ended, which runs the commands made in passes while one stands at the head.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Banks/PendingBankCallbacks.h"

namespace SN {

// One bank command, in the order of its words; the words that may hold pointers are pointer-wide.
struct SnBankCommand {
  uint32_t type = 0;
  SnBankCallback callback = nullptr;
  void* cookie = nullptr;
  uint32_t sourceKind = 0;
  uint32_t bankId = 0;     // or the media id of a release
  intptr_t poolId = -1;    // the DATA pool of a load (-1: a pool of its own)
  const void* image = nullptr;
  uint32_t imageSize = 0;
  void* extra = nullptr;
  uint64_t callId = 0;     // the call's entry among the callbacks to come (0: a callback not counted)
};

// What the queue hands its commands to: the bank manager.
class ISnBankCommandRunner {
 public:
  // Runs one command on the calling thread.
  virtual SNRESULT ExecuteCommand(const SnBankCommand& command) = 0;
  // A command that will not run (the engine stops): what it owns goes, and its caller is told.
  virtual void DropCommand(const SnBankCommand& command) = 0;
  virtual ~ISnBankCommandRunner() = default;
};

class CSnBankCommandQueue {
 public:
  static constexpr uint32_t kBlockNodes = 10;

  // `bankThread`: the bank thread runs every command, and the calls only queue them.
  CSnBankCommandQueue(ISnBankCommandRunner& runner, bool bankThread) : m_runner(runner), m_bankThread(bankThread) {}
  ~CSnBankCommandQueue() { Drop(); }
  CSnBankCommandQueue(const CSnBankCommandQueue&) = delete;
  CSnBankCommandQueue& operator=(const CSnBankCommandQueue&) = delete;

  // Takes calls from now on, its block of nodes made (52 without memory).
  SNRESULT Open();
  // Refuses calls from now on (SN_Failure), and wakes the bank thread.
  void Close();
  // What is queued goes unrun (see ISnBankCommandRunner::DropCommand); the block goes with the last node.
  void Drop();
  bool HasBankThread() const { return m_bankThread; }

  // Without the bank thread, a call made outside a pass: queued, then run with the commands ahead of it
  // on this thread, which waits for the run lock while another thread runs commands. `result` is the
  // command's own, also when another thread ran it meanwhile. False when the queue is closed.
  bool RunInTurn(const SnBankCommand& command, SNRESULT& result);
  // Any other call: queued for the bank thread, or (made inside a pass) for a pass's end. 52 when
  // no node can be had, SN_Failure when the queue is closed.
  SNRESULT Keep(const SnBankCommand& command);
  // A pass has ended on this thread, which holds its audio lock no more. Never waits for the run lock:
  // when it has it, runs the commands made in passes while one stands at the head, up to those queued
  // now (a callback that always calls again cannot hold the thread here); a game thread's command at
  // the head is left to that thread. Not in the middle of a command of this thread.
  void AfterPass();

  // The bank thread: waits until a command was queued (or the queue closed); RunNext runs the head,
  // false when there is none.
  void WaitForCommands() { m_queued.Wait(Platform::kWaitForever); }
  bool RunNext();
  uint32_t Count();

 private:
  struct Node;
  Node* NewNode();
  void FreeNode(Node* node);
  // Under the queue lock: the head, out of the list, or null.
  Node* TakeHead();
  // Under the queue lock: the node takes the next ticket at the tail.
  void Append(Node* node);
  // Runs the head when `wanted` holds for it; false when it does not (or there is none).
  template <typename Wanted>
  bool RunHead(Wanted&& wanted);

  ISnBankCommandRunner& m_runner;
  const bool m_bankThread;
  // Taken by whoever runs commands without the bank thread, one at a time; re-entrant, since a
  // command's callback may make a bank call, which runs the queue up to itself. Taken before
  // GlobalAudioLock(); never inside a pass, and only tried after one.
  Platform::ReentrantLock m_runLock;
  // The queue's own: the list, the tickets, the block and the open state.
  Platform::ReentrantLock m_lock;
  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  Node* m_free = nullptr;
  Node* m_block = nullptr;
  uint32_t m_count = 0;
  uint64_t m_lastTicket = 0;
  bool m_open = false;
  // The commands made in passes still queued. Written under the queue lock, read at a pass's end
  // without it: see AfterPass.
  std::atomic<uint32_t> m_madeInPasses{0};
  Platform::Event m_queued{Platform::Event::Reset::Auto};
};

}  // namespace SN
