// The audio manager: the command queue any thread writes without a lock and the audio thread drains
// frame by frame, the pass that renders audio frames, and the scheduler of pending actions.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Base/Assert.h"
#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/Output/AudioThread.h"
#include "SoundEngine/Messages.h"

namespace SN {

class CSnAudioMgr;
class CSnEventAction;
class CSnHierarchyNode;
class CSnPendingActionItem;
class CSnRegisteredObj;
struct SnActionException;

// The lock that serialises the audio manager's pass with the API calls that touch live state.
Platform::ReentrantLock& GlobalAudioLock();
// Debug builds: the calling thread holds the global audio lock.
#define SN_ASSERT_AUDIO_LOCK_HELD() ORV_ASSERT(::SN::GlobalAudioLock().IsHeldByCurrentThread())

// The global audio lock taken for a turn ahead of the passes: the bank thread takes it once per
// object of a load, a few microseconds apart, and the lock is not fair, so a pass that follows a pass
// and the writers draining a full ring would keep a load out for as long as the game posts. While a
// turn waits, or one ended a moment ago (the load goes on), each pass lets it go first for up to a
// quarter of a frame, and a writer finding the ring full waits about as long for room before it
// drains the ring itself (it may hold the lock, the turn waiting for it). Re-entrant like the lock.
class SnAudioLockTurn {
 public:
  SnAudioLockTurn();
  ~SnAudioLockTurn();
  SnAudioLockTurn(const SnAudioLockTurn&) = delete;
  SnAudioLockTurn& operator=(const SnAudioLockTurn&) = delete;
  // Whether a turn waits for the lock, or one ended so shortly before that the next is coming.
  static bool Wanted();
};

// Applies one decoded message on the audio thread; the message is a copy, valid during the call.
using SnMessageHandler = void (*)(CSnAudioMgr& manager, const SnMsgHeader& message);
// Installs the handler of a message type (1 to 47); returns the one it replaces. A type without a
// handler is skipped.
SnMessageHandler SetMessageHandler(uint16_t type, SnMessageHandler handler);

class CSnAudioMgr {
 public:
  CSnAudioMgr();
  ~CSnAudioMgr();
  CSnAudioMgr(const CSnAudioMgr&) = delete;
  CSnAudioMgr& operator=(const CSnAudioMgr&) = delete;

  SNRESULT Init();
  void Term();

  // A message of `size` bytes (rounded up to 8) with its header written, or null when the message
  // is over 65535 bytes or a quarter of the ring or more. The caller writes the payload, then calls
  // FinishMessage on the same thread. When the ring is full the writer drains part of it itself,
  // unless it is inside an audio pass (a handler, a callback): there a drain would run handlers and
  // callbacks that post again inside its own post, and so on down the stack. The pass's post waits
  // aside instead, behind any of its posts already waiting, until the reader reaches the ring's write
  // position where it found no room; a later pass takes it there, in order. What waits aside holds at
  // most AsideBound() bytes; past that (or without memory) a pass's post into the full ring is
  // refused: null, said once. A frame's end is never set aside: it is refused as well.
  // With `order`, each attempt is made holding it, never a wait for room: a message reserved returns
  // with `order` held for the caller to let go, so the posts reserved under one such lock reach the
  // pass in the order they took it.
  SnMsgHeader* ReserveMessage(uint16_t type, uint32_t size, std::mutex* order = nullptr);
  void FinishMessage();
  template <typename Message>
  Message* Reserve(uint16_t type) {
    return reinterpret_cast<Message*>(ReserveMessage(type, MessageSize<Message>()));
  }
  // The largest message ReserveMessage accepts.
  uint32_t MaxMessageBytes() const;

  // Closes the frame of messages and has it rendered: without the audio thread and when
  // `allowSynchronous`, by a pass on the calling thread, else by waking the audio thread. A pass never
  // starts inside another (a handler, a play's or a bus callback): there the frame is closed for the
  // next pass, and the audio thread woken. With `onlyIfFree` (a bank callback's call) the pass runs only
  // when the audio lock is free at once: the pass holding it may be waiting for the caller. Always 1.
  SNRESULT RenderAudio(bool allowSynchronous, bool onlyIfFree = false);
  void Perform();
  bool ProcessMessages(bool makeRoom);
  // Any thread: whether it is inside an audio pass (a frame, or a drain that makes room in the
  // ring), where message handlers and what they call run under GlobalAudioLock().
  static bool InAudioPassOnThisThread();

  SNRESULT LaunchThread();
  void StopThread();
  void WakeThread() { m_thread.Wake(); }

  // Pending actions (audio thread, under the global audio lock).
  // A record for ScheduleAction, which owns it from then on; null when out of memory. Records that
  // ended are reused: a frame of posts and the frame that runs them cost no pool traffic.
  CSnPendingActionItem* NewRecord(CSnEventAction* action, uint32_t playingId);
  void ScheduleAction(CSnPendingActionItem* record);
  void ProcessDueActions();
  void RemovePendingActionsOfPlayingId(uint32_t playingId);
  // Paused records first, then due ones; each ends as if cancelled.
  void CancelAllPending();
  void RemovePendingActionsOfAction(CSnEventAction* action);
  void PausePendingRecord(CSnPendingActionItem* record);
  void PausePendingActionsOfAction(CSnEventAction* action, uint32_t playingId);
  void PausePendingActionsOfPlayingId(uint32_t playingId);
  void ResumePendingActionsOfAction(CSnEventAction* action, uint32_t playingId);
  void ResumePendingActionsOfPlayingId(uint32_t playingId);
  // Selections of the stop, pause and resume actions. A null node, object or playing id 0 matches
  // any; ducking recoveries (0x1820) are never touched. Pauses take resume actions (0x03xx) only
  // when `withResumes` is set.
  void RemovePendingActionsUnderNodeForObject(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId);
  void RemovePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions, uint32_t count,
                                  uint32_t playingId);
  // Due and paused play and continue-playback records whose target lies under the node.
  void RemovePendingPlaysUnderNode(CSnHierarchyNode* node);
  // A break of the node, for the object and playing id (null and 0: any): the plays waiting under it
  // go; a waiting hand-on whose performance holds levels at or under it goes on past them with the
  // next item of the level left, and goes when none is left.
  void BreakPendingPlaysUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId);
  void RemovePendingActionsByActionID(uint32_t actionId, uint32_t playingId);
  // The record from the paused list if it is there, else from the due list.
  void RemovePendingAction(CSnPendingActionItem* record);
  void PausePendingActionsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId,
                                    bool withResumes);
  void PausePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions, uint32_t count,
                                 uint32_t playingId, bool withResumes);
  void ResumePendingActionsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId);
  // The hand-ons still to come of the continuous performances under the node: a pause of the event
  // that started them holds them with the performances' voices, and its resume lets them go on.
  void PausePendingContinuationsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId);
  void ResumePendingContinuationsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId);
  void ResumePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions, uint32_t count,
                                  uint32_t playingId);
  // Puts a record that has left the paused list back into the due list, shifted by its pause.
  SNRESULT ResumePausedAction(CSnPendingActionItem* record);
  // Every pending continue-playback action lets go of its reference to `owner`.
  void ClearContinuationOwnerRefs(const void* owner);
  // Whether the action's target lies under the node: the node itself, one of the target's parents,
  // or the output bus of the target (or of its nearest parent that has one) and that bus's parents.
  static bool IsUnderNode(const CSnEventAction* action, const CSnHierarchyNode* node);
  // Whether the action's target, one of its parents or one of its buses is listed.
  static bool IsInExceptionList(const CSnEventAction* action, const SnActionException* exceptions, uint32_t count);
  uint32_t DuePendingCount() const { return m_dueActions.Count(); }
  uint32_t PausedPendingCount() const { return m_pausedActions.Count(); }

  uint32_t CurrentFrame() const { return m_frame; }
  // The lower engine has performed the current frame (its instance commands are being run): a play
  // made now begins in the next frame, while a due record still counts its delay from this one.
  bool CurrentFramePerformed() const { return m_framePerformed; }
  uint32_t RingBytes() const { return m_size; }
  // Writers that found the ring full while another thread held the audio lock and wait for room.
  uint32_t WritersWaitingForRoom() const { return m_roomWanted.load(std::memory_order_acquire); }
  // The bytes of messages an audio pass may keep waiting aside: as many as the ring holds, and at
  // least 64 KiB, so that a small ring still takes a burst of a few hundred posts from callbacks.
  uint32_t AsideBound() const { return m_size > kLeastAsideBytes ? m_size : kLeastAsideBytes; }
  static constexpr uint32_t kLeastAsideBytes = 65536;
  uint32_t ExecutedActionCount() const { return m_executedActions; }
  uint64_t ProcessedMessageCount() const { return m_processedMessages; }

  // Threads that can each own a slot of the writers count (see below).
  static constexpr uint32_t kWriterSlots = 16;

 private:
  struct PendingNode {
    uint32_t key;  // due frame, or the action's target id in the paused list
    CSnPendingActionItem* record;
  };
  using PendingList = SnPooledList<PendingNode>;

  // Ring positions count bytes from the start: the lap in the high word, the offset in the ring in
  // the low one. They only grow, so a writer may hold an old read position: it only under-counts
  // the free space.
  static uint32_t Offset(uint64_t position) { return uint32_t(position); }
  uint64_t Distance(uint64_t from, uint64_t to) const;
  uint64_t Advance(uint64_t position, uint32_t bytes) const;
  static uint64_t NextLap(uint64_t position) { return ((position >> 32) + 1) << 32; }
  // The count of writers between reservation and completion is kept in slots: each writing thread
  // owns one while there are no more threads than slots, and counts itself there with plain
  // stores on a cache line no other thread writes; threads beyond that share the last slot and
  // count with atomic additions. The one shared line a writer touches per message is the write
  // position's.
  // Messages begun and finished in a slot. A thread's own slot writes one message at a time, so a
  // wait needs only the finish of the message begun before it; a writer that goes on posting never
  // holds the wait up. The shared slot is waited for until it is seen empty.
  struct alignas(64) WriterCount {
    std::atomic<uint32_t> begun{0};
    std::atomic<uint32_t> ended{0};
  };
  void CountWriter(int32_t change);
  SnMsgHeader* TryReserve(uint32_t size);
  // TryReserve, unless another thread claims the next room (a pass's post never waits for a claim).
  SnMsgHeader* TryReserveUnclaimed(uint32_t size, bool inPass);
  void WaitForWriters() const;
  // FinishMessage without what follows a writer's own drain: true when that is due (AfterPass).
  bool FinishMessageBeforeAfterPass();
  // One pass under the audio lock (Perform's, which then does what the pass left for after it).
  void PerformPass();
  void Dispatch(const SnMsgHeader& message);
  // The pass, under GlobalAudioLock() held by the caller.
  void PerformLocked();
  void FlushRing();
  // A message posted inside an audio pass while the ring is full, kept until the reader reaches
  // m_asideMark; its bytes follow this record.
  struct alignas(8) AsideMessage {
    AsideMessage* next;
    uint32_t bytes;
    SnMsgHeader* Message() { return reinterpret_cast<SnMsgHeader*>(this + 1); }
  };
  SnMsgHeader* ReserveAside(uint16_t type, uint32_t size);
  // Runs the messages waiting aside once the reader has reached their place in the ring (true then).
  bool TakeAsideIfReached(uint64_t read);
  void DropAside();

  void ExecuteRecord(CSnPendingActionItem* record, bool fromDueList);
  void CancelRecord(CSnPendingActionItem* record);
  void DestroyRecord(CSnPendingActionItem* record);
  void FreeRecycledRecords();
  // Ended records and due-list items kept for reuse: enough for a busy frame's actions.
  static constexpr uint32_t kKeptRecords = 16384;
  // Both keep the per-object counts of records in the lists.
  bool InsertSorted(PendingList& list, uint32_t key, CSnPendingActionItem* record);
  void Unlink(PendingList& list, PendingList::Item* prev, PendingList::Item* item);
  void NotifyPendingIfWanted(CSnPendingActionItem* record);
  template <typename Match>
  void PauseWhere(Match&& match);
  template <typename Match>
  void ResumeWhere(Match&& match);
  template <typename Match>
  void CancelWhere(PendingList& list, Match&& match);
  template <typename Match>
  void TellResumedContinuations(Match&& match);
  void Pause(PendingList::Item* prev, PendingList::Item* item);

  // Each side's hot fields sit on cache lines of their own. The writers' line holds the write
  // position and the read position last seen by a writer, which writers refresh from the reader's
  // line only when it leaves too little room. The reader's position is stored after every message
  // but read by writers about once a lap, so its line stays put.
  alignas(64) std::atomic<uint64_t> m_write{0};
  std::atomic<uint64_t> m_readSeen{0};
  // The writer that has the next room the ring gets (its thread's slot claim), or null: one whose own
  // drain made room, which the others would take as it is handed back, or one that has waited for room
  // longest, which the later ones would win as often as not. The others keep off until it reserved.
  std::atomic<const void*> m_roomClaim{nullptr};
  WriterCount m_writers[kWriterSlots + 1];
  alignas(64) std::atomic<uint64_t> m_read{0};
  std::atomic<int32_t> m_closedFrames{0};
  // Written only by writers stuck on a full ring; the pass reads it between catch-up frames.
  std::atomic<uint32_t> m_roomWanted{0};
  // The pass's messages waiting aside, oldest first, and the ring's write position they wait at
  // (under the global audio lock).
  AsideMessage* m_asideHead = nullptr;
  AsideMessage* m_asideTail = nullptr;
  uint32_t m_asideBytes = 0;
  uint32_t m_asideCount = 0;
  uint64_t m_asideMark = 0;
  // Bumped by every drain, so a drain interrupted by a nested one knows its count is stale.
  uint32_t m_drainGeneration = 0;
  uint64_t m_processedMessages = 0;
  // Set by Init, then only read.
  alignas(64) uint8_t* m_pBase = nullptr;
  uint32_t m_size = 0;
  alignas(64) PendingList m_dueActions;
  PendingList m_pausedActions;
  uint32_t m_frame = 0;
  // Between the lower engine's pass over the current frame and the step to the next one.
  bool m_framePerformed = false;
  Platform::Event m_wakeEvent{Platform::Event::Reset::Auto};
  AudioThread m_thread;
  int64_t m_lastRenderTicks = 0;
  uint32_t m_idlePasses = 0;
  float m_carriedFrames = 0.0f;
  uint32_t m_executedActions = 0;
  // Memory of ended records, each slot's first bytes linking to the next.
  void* m_recycledRecords = nullptr;
  uint32_t m_recycledCount = 0;
};

// Null while the sound engine is not initialised.
extern CSnAudioMgr* g_pAudioMgr;

}  // namespace SN
