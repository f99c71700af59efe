// The base of every event action: its target, its randomisable properties (delay, fade, probability),
// its bank parameters and what the pending-action scheduler needs of it.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnEvent;
class CSnPendingActionItem;
class SnBankCursor;

// Action types the scheduler treats apart (high byte class, low byte scope).
enum SnActionType : uint16_t {
  SnAction_StopAll = 0x0104,
  SnAction_StopAllOfObject = 0x0105,
  SnAction_Play = 0x0403,
  SnAction_ContinuePlayback = 0x0503,
  SnAction_DuckRecovery = 0x1820,
  SnAction_PlayEvent = 0x2103,
};

// The low byte of an action type: which nodes or objects it acts on.
enum SnActionScope : uint8_t {
  SnScope_Target = 2,
  SnScope_TargetOfObject = 3,
  SnScope_All = 4,
  SnScope_AllOfObject = 5,
  SnScope_AllExcept = 8,
  SnScope_AllExceptOfObject = 9,
};

// Properties of actions.
enum SnActionProperty : uint8_t {
  SnActionProp_Delay = 14,        // samples once loaded (milliseconds in the bank)
  SnActionProp_FadeTime = 15,     // milliseconds
  SnActionProp_Probability = 16,  // percent, f32
};

// An entry of an action's exception list: a node or bus the action spares.
struct SnActionException {
  uint32_t id;
  uint8_t isBus;
};

// Delays are stored in samples of this rate whatever the output runs at.
constexpr int32_t kActionDelayRate = 48000;

class CSnEventAction : public CSnIndexedObject {
 public:
  CSnEventAction(uint32_t id, uint16_t actionType) : CSnIndexedObject(id, SnIndex_Actions), m_actionType(actionType) {}

  virtual void SetActionType(uint16_t actionType) { m_actionType = actionType; }
  virtual void SetTarget(uint32_t targetId, bool isBus) {
    m_targetId = targetId;
    m_flags = isBus ? uint8_t(m_flags | kTargetIsBus) : uint8_t(m_flags & ~kTargetIsBus);
  }
  // Stores the value when it differs from the property's default (0, or 100 for the probability),
  // and the range when it is not empty or the property had one.
  virtual void SetPropertyValue(uint8_t id, int32_t value, int32_t min, int32_t max);
  virtual void SetPropertyValueF32(uint8_t id, float value, float min, float max);
  // Runs the action for the pending record's game object and playing id.
  virtual SNRESULT Execute(CSnPendingActionItem& record) = 0;
  // The class's own bank parameters after the property blocks; SN_Failure when they cross the
  // object's end.
  virtual SNRESULT ReadParameters(SnBankCursor& cursor) { return ReadExtraParameters(cursor); }
  virtual SNRESULT ReadExtraParameters(SnBankCursor&) { return SN_Success; }
  // The delay before the action runs, in samples (randomised where the action has a range).
  virtual uint32_t DelaySamples();
  // Play and continue-playback actions follow their pending state: told when they become or stop
  // being due, and when a pending record of theirs ends without running.
  virtual void NotifyPending(const CSnPendingActionItem&) {}
  virtual void NotifyPendingEnded(const CSnPendingActionItem&) {}
  // A due continue-playback record whose selection was just resumed.
  virtual void NotifyResumed(const CSnPendingActionItem&) {}
  // A continue-playback action lets go of its reference to a playback instance that goes.
  virtual void ClearOwnerRef(const void*) {}
  // A continue-playback action forgets the transition it joined (play/stop, or pause/resume) and
  // its pause state.
  virtual void ClearTransitionRef(bool /*pauseTransition*/) {}
  virtual void ClearPauseState() {}
  // A continue-playback action's own check of whether it wants the pending notification.
  virtual bool WantsPendingNotification() { return false; }
  // What preparing the action's event prepares besides its target: the bank a play action names
  // and the event a play-event action names (0: none).
  virtual uint32_t NamedBankId() const { return 0; }
  virtual uint32_t NamedEventId() const { return 0; }

  // The id, type, target and both property blocks of a bank payload; the cursor stops before the
  // class parameters. SN_Failure when a block crosses the object's end.
  SNRESULT ReadCommon(SnBankCursor& cursor);
  // The delay and its range, read in milliseconds, become samples.
  void ConvertDelayToSamples();
  bool ParametersRead() const { return m_flags & kParametersRead; }
  void MarkParametersRead() { m_flags |= kParametersRead; }

  // Integer property with its range applied: value + min + r (max - min), rounded.
  int32_t RandomisedInt(uint8_t id) const;
  bool HasProperty(uint8_t id) const { return m_properties.Has(id); }
  float FloatProperty(uint8_t id, float fallback) const { return m_properties.GetOr(id, fallback); }
  int32_t FadeTimeMs() const { return RandomisedInt(SnActionProp_FadeTime); }
  uint8_t FadeCurve() const { return m_fadeCurve; }
  void SetFadeCurve(uint8_t curve) { m_fadeCurve = uint8_t(curve & 0x1F); }

  uint16_t ActionType() const { return m_actionType; }
  uint8_t Scope() const { return uint8_t(m_actionType & 0xFF); }
  uint32_t TargetId() const { return m_targetId; }
  bool TargetIsBus() const { return m_flags & kTargetIsBus; }

 protected:
  friend class CSnEvent;  // chains its actions through m_pNextInEvent
  static constexpr uint8_t kParametersRead = 0x20;
  static constexpr uint8_t kTargetIsBus = 0x40;

  CSnEventAction* m_pNextInEvent = nullptr;
  SnPropertyBlob4 m_properties;
  SnPropertyBlob8 m_ranges;  // {min, max}: i32 pairs for integer properties, f32 pairs otherwise
  uint32_t m_targetId = 0;
  uint16_t m_actionType;
  uint8_t m_flags = 0x04;
  uint8_t m_fadeCurve = 0;
  // The event whose chain holds the action: an action has one next link, so one event at most.
  const CSnEvent* m_pChainOwner = nullptr;
};

// A draw in [0, 1] from the engine's 15-bit generator, as r / 32767.
float RandomUnit();
// value + min + r (max - min).
float RandomisedValue(float value, float min, float max);

}  // namespace SN
