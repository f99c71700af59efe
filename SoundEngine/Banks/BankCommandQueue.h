// The bank commands in the order the calls were made: every bank call takes its place here when it is
// made (its ticket, increasing), and the commands run in ticket order whoever runs them
// (BankCommandTurns.h). Each command carries the place that began its chain, whose callbacks its
// answer goes back to.
#pragma once

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

// What a command's callback is told, besides its cookie.
struct SnBankAnswer {
  uint32_t id = 0;
  const void* image = nullptr;
  SNRESULT result = SN_Failure;
  int32_t poolId = -1;
};

// What the queue hands its commands to: the bank manager.
class ISnBankCommandRunner {
 public:
  // Runs one command on the calling thread.
  virtual SNRESULT ExecuteCommand(const SnBankCommand& command) = 0;
  // A command that will not run (the engine stops): what it owns goes, and its caller is told.
  virtual void DropCommand(const SnBankCommand& command) = 0;
  // Calls the command's callback with the answer its run handed over (see HandOver).
  virtual void CallBack(const SnBankCommand& command, const SnBankAnswer& answer) = 0;
  virtual ~ISnBankCommandRunner() = default;
};

class CSnBankCommandQueue {
 public:
  static constexpr uint32_t kBlockNodes = 10;

  CSnBankCommandQueue() = default;
  CSnBankCommandQueue(const CSnBankCommandQueue&) = delete;
  CSnBankCommandQueue& operator=(const CSnBankCommandQueue&) = delete;

  // Takes calls from now on, its block of nodes made (52 without memory).
  SNRESULT Open();
  // The commands queued and not yet begun.
  uint32_t Count();

 protected:
  struct Node;
  // The place that began a chain: a game thread's loop, on the stack of its first bank call; or the
  // passes' ends, whose chains run a link a pass.
  struct Caller {
    uint32_t queued = 0;   // its commands still in the list
    uint32_t pending = 0;  // its commands not yet run or dropped
    // The commands run whose callbacks it calls, in the order they ran.
    Node* answers = nullptr;
    Node* answersTail = nullptr;
    Caller* next = nullptr;  // among the loops, which the run turn's end wakes
    Platform::Event wake{Platform::Event::Reset::Auto};
  };
  struct Node {
    enum From : uint8_t { Block, Pool, Stack };
    Node* next = nullptr;
    SnBankCommand command;
    uint64_t ticket = 0;
    // The place that began its chain, whose callbacks its answer goes back to: a game thread's loop, or
    // the passes' ends for a command kept; null for the bank thread's.
    Caller* caller = nullptr;
    From from = Pool;
    bool taken = false;     // out of the list: running, run or dropped
    bool done = false;      // run or dropped
    bool dropped = false;
    bool answered = false;  // its run handed `answer` over
    SNRESULT result = SN_Failure;
    SnBankAnswer answer;
  };

  // Under the queue lock: a node of the block, else of the pool; null without memory.
  Node* NewNode();
  void FreeNode(Node* node);
  // Under the queue lock: the head, out of the list, or null.
  Node* TakeHead();
  // Under the queue lock: the node takes the next ticket at the tail.
  void Append(Node* node);
  // Under the queue lock: the block goes once the queue is closed and none of its nodes is out.
  void FreeBlockIfUnused();

  // The list, the tickets, the block and the open state; the turns' state beside them.
  Platform::ReentrantLock m_lock;
  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  Node* m_free = nullptr;
  Node* m_block = nullptr;
  uint32_t m_count = 0;
  // Nodes out of the list not yet freed: running, or their answers waiting for their callers.
  uint32_t m_out = 0;
  uint64_t m_lastTicket = 0;
  bool m_open = false;
};

}  // namespace SN
