// The base of every event action: what the pending-action scheduler needs of an action. The action
// classes, their property blocks and their bank parameters build on it.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnEvent;
class CSnPendingActionItem;

// Action types the scheduler treats apart (high byte class, low byte scope).
enum SnActionType : uint16_t {
  SnAction_StopAll = 0x0104,
  SnAction_StopAllOfObject = 0x0105,
  SnAction_Play = 0x0403,
  SnAction_ContinuePlayback = 0x0503,
  SnAction_DuckRecovery = 0x1820,
  SnAction_PlayEvent = 0x2103,
};

class CSnEventAction : public CSnIndexedObject {
 public:
  CSnEventAction(uint32_t id, uint16_t actionType) : CSnIndexedObject(id, SnIndex_Actions), m_actionType(actionType) {}

  virtual void SetActionType(uint16_t actionType) { m_actionType = actionType; }
  virtual void SetTarget(uint32_t targetId, bool isBus) {
    m_targetId = targetId;
    m_flags = isBus ? uint8_t(m_flags | kTargetIsBus) : uint8_t(m_flags & ~kTargetIsBus);
  }
  // Runs the action for the pending record's game object and playing id.
  virtual SNRESULT Execute(CSnPendingActionItem& record) = 0;
  // The delay before the action runs, in samples (randomised where the action has a range).
  virtual uint32_t DelaySamples() = 0;
  // Play and continue-playback actions follow their pending state: told when they become or stop
  // being due, and when a pending record of theirs ends without running.
  virtual void NotifyPending(const CSnPendingActionItem&) {}
  virtual void NotifyPendingEnded(const CSnPendingActionItem&) {}
  // A continue-playback action's own check of whether it wants the pending notification.
  virtual bool WantsPendingNotification() { return false; }
  // What preparing the action's event prepares besides its target: the bank a play action names
  // and the event a play-event action names (0: none).
  virtual uint32_t NamedBankId() const { return 0; }
  virtual uint32_t NamedEventId() const { return 0; }

  uint16_t ActionType() const { return m_actionType; }
  uint32_t TargetId() const { return m_targetId; }
  bool TargetIsBus() const { return m_flags & kTargetIsBus; }

 protected:
  friend class CSnEvent;  // chains its actions through m_pNextInEvent
  static constexpr uint8_t kTargetIsBus = 0x40;

  CSnEventAction* m_pNextInEvent = nullptr;
  void* m_pProperties = nullptr;
  void* m_pRangedProperties = nullptr;
  uint32_t m_targetId = 0;
  uint16_t m_actionType;
  uint8_t m_flags = 0x04;
  // The event whose chain holds the action: an action has one next link, so one event at most.
  const CSnEvent* m_pChainOwner = nullptr;
};

}  // namespace SN
