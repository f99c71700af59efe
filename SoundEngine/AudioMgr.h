// The audio manager: the command queue any thread writes without a lock and the audio thread drains
// frame by frame, the pass that renders audio frames, and the scheduler of pending actions.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/AudioThread.h"
#include "SoundEngine/Messages.h"

namespace SN {

class CSnAudioMgr;
class CSnEventAction;
class CSnPendingActionItem;

// The lock that serialises the audio manager's pass with the API calls that touch live state.
Platform::ReentrantLock& GlobalAudioLock();

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
  // FinishMessage. When the ring is full the writer drains part of it itself.
  SnMsgHeader* ReserveMessage(uint16_t type, uint32_t size);
  void FinishMessage() { m_writers.fetch_sub(1, std::memory_order_release); }
  template <typename Message>
  Message* Reserve(uint16_t type) {
    return reinterpret_cast<Message*>(ReserveMessage(type, MessageSize<Message>()));
  }
  // The largest message ReserveMessage accepts.
  uint32_t MaxMessageBytes() const;

  SNRESULT RenderAudio(bool allowSynchronous);
  void Perform();
  bool ProcessMessages(bool makeRoom);

  SNRESULT LaunchThread();
  void StopThread();
  void WakeThread() { m_thread.Wake(); }

  // Pending actions (audio thread, under the global audio lock).
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
  uint32_t DuePendingCount() const { return m_dueActions.Count(); }
  uint32_t PausedPendingCount() const { return m_pausedActions.Count(); }

  uint32_t CurrentFrame() const { return m_frame; }
  uint32_t RingBytes() const { return m_size; }
  uint32_t ExecutedActionCount() const { return m_executedActions; }
  uint64_t ProcessedMessageCount() const { return m_processedMessages; }

 private:
  struct PendingNode {
    uint32_t key;  // due frame, or the action's target id in the paused list
    CSnPendingActionItem* record;
  };
  using PendingList = SnPooledList<PendingNode>;

  SnMsgHeader* TryReserve(uint32_t size);
  void WaitForWriters() const;
  uint32_t BytesBetween(const uint8_t* from, const uint8_t* to) const;
  void Dispatch(const SnMsgHeader& message);
  void FlushRing();

  void ExecuteRecord(CSnPendingActionItem* record, bool fromDueList);
  void CancelRecord(CSnPendingActionItem* record);
  void DestroyRecord(CSnPendingActionItem* record);
  bool InsertSorted(PendingList& list, uint32_t key, CSnPendingActionItem* record);
  void NotifyPendingIfWanted(CSnPendingActionItem* record);
  template <typename Match>
  void PauseWhere(Match&& match);
  template <typename Match>
  void ResumeWhere(Match&& match);
  template <typename Match>
  void CancelWhere(PendingList& list, Match&& match);
  void Pause(PendingList::Item* prev, PendingList::Item* item);

  // The reader's position and the writers' pair (write position and count of writers, always
  // touched together) sit on cache lines of their own: the two sides never slow each other down.
  alignas(64) std::atomic<uint8_t*> m_pRead{nullptr};
  alignas(64) std::atomic<uint8_t*> m_pWrite{nullptr};
  std::atomic<int32_t> m_writers{0};
  alignas(64) uint8_t* m_pBase = nullptr;
  uint8_t* m_pEnd = nullptr;
  uint32_t m_size = 0;
  PendingList m_dueActions;
  PendingList m_pausedActions;
  uint32_t m_frame = 0;
  std::atomic<int32_t> m_closedFrames{0};
  Platform::Event m_wakeEvent{Platform::Event::Reset::Auto};
  AudioThread m_thread;
  int64_t m_lastRenderTicks = 0;
  uint32_t m_idlePasses = 0;
  float m_carriedFrames = 0.0f;
  // Bumped by every drain, so a drain interrupted by a nested one knows its count is stale.
  uint32_t m_drainGeneration = 0;
  uint32_t m_executedActions = 0;
  uint64_t m_processedMessages = 0;
};

// Null while the sound engine is not initialised.
extern CSnAudioMgr* g_pAudioMgr;

}  // namespace SN
