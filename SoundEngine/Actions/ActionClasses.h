// The event action classes, chosen by the high byte of the action type: what each reads from a bank
// and what it does to nodes, pending actions and game syncs when it runs.
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnHierarchyNode;
class CSnRegisteredObj;
class SnNodeRefList;
struct SnActionParams;

// ---- actions with an exception list ----

class CSnActionExcept : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  // The u32 count and {u32 id, u8 is-bus} entries that end the parameters.
  SNRESULT ReadExceptions(SnBankCursor& cursor);
  SNRESULT AddException(uint32_t id, bool isBus);
  const SnActionException* Exceptions() const { return m_exceptions.Data(); }
  uint32_t ExceptionCount() const { return m_exceptions.Count(); }
  // The node is listed itself (same id, same is-bus flag).
  bool IsException(const CSnHierarchyNode* node) const;
  // The node, one of its parents or one of its buses is listed.
  bool IsSpared(const CSnHierarchyNode* node) const;

 protected:
  // The game object of the scope: the posting one for odd scopes, none (all) for even ones.
  CSnRegisteredObj* ScopedObject(const CSnPendingActionItem& record) const;
  bool ScopeHasExceptions() const { return (Scope() & ~1u) == SnScope_AllExcept; }
  // The fewest nodes whose subtrees hold every node the scope reaches: the roots for "all", and for
  // "all but" the nodes beside the spared ones. Each comes with a reference the caller gives back.
  // `parents`, when given, takes the nodes the scope reaches that are left out of the roots for a
  // spared node below them: they hear the record themselves, but not through their children.
  void CollectScopeRoots(SnNodeRefList& roots, SnNodeRefList* parents = nullptr) const;
  // Every node and bus the scope reaches one by one, referenced.
  void CollectScopeNodes(SnNodeRefList& nodes, bool withBuses) const;

  SnArray<SnActionException> m_exceptions;
};

// Stop, pause, resume, node command and play-list reset: a record for the target or the scope.
class CSnActionActive : public CSnActionExcept {
 public:
  using CSnActionExcept::CSnActionExcept;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;

 protected:
  // The record the class hands its nodes, and what it does to the pending actions of the scope.
  virtual void FillParams(SnActionParams& params) const = 0;
  virtual void ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) = 0;
  // Sends the params to the scope's nodes; SN_IdNotFound for a missing target.
  SNRESULT SendToScope(const SnActionParams& params, const CSnPendingActionItem& record);
};

class CSnActionStop final : public CSnActionActive {
 public:
  using CSnActionActive::CSnActionActive;

 protected:
  void FillParams(SnActionParams& params) const override;
  void ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) override;
};

class CSnActionPause final : public CSnActionActive {
 public:
  using CSnActionActive::CSnActionActive;
  SNRESULT ReadExtraParameters(SnBankCursor& cursor) override;
  uint8_t m_pendingFlag = 0;  // resume actions pause too

 protected:
  void FillParams(SnActionParams& params) const override;
  void ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) override;
};

class CSnActionResume final : public CSnActionActive {
 public:
  using CSnActionActive::CSnActionActive;
  SNRESULT ReadExtraParameters(SnBankCursor& cursor) override;
  uint8_t m_resumeFlag = 0;

 protected:
  void FillParams(SnActionParams& params) const override;
  void ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) override;
};

// A record of kind 5 for the target: what it means is the node's.
class CSnActionNodeCommand final : public CSnActionActive {
 public:
  static constexpr uint32_t kNodeCommandKind = 5;
  using CSnActionActive::CSnActionActive;
  SNRESULT ReadParameters(SnBankCursor&) override { return SN_Success; }
  SNRESULT Execute(CSnPendingActionItem& record) override;

 protected:
  void FillParams(SnActionParams& params) const override;
  void ActOnPending(CSnHierarchyNode*, CSnRegisteredObj*) override {}
};

// Resets the target random/sequence container's step play-list, for the posting game object or for all.
class CSnActionResetPlaylist final : public CSnActionActive {
 public:
  using CSnActionActive::CSnActionActive;
  SNRESULT Execute(CSnPendingActionItem& record) override;

 protected:
  void FillParams(SnActionParams&) const override {}
  void ActOnPending(CSnHierarchyNode*, CSnRegisteredObj*) override {}
};

class CSnActionSeek final : public CSnActionExcept {
 public:
  using CSnActionExcept::CSnActionExcept;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;

  uint8_t m_seekMode = 0;  // bit 0: the value is a fraction of the sound's length
  float m_value = 0.0f, m_min = 0.0f, m_max = 0.0f;
  uint8_t m_seekFlag = 0;  // to the nearest marker
};

class CSnActionBypassEffect final : public CSnActionExcept {
 public:
  using CSnActionExcept::CSnActionExcept;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;

  uint8_t m_bypass = 0;
  uint8_t m_mask = 0;
};

// ---- set and reset ----

class CSnActionSetReset : public CSnActionExcept {
 public:
  using CSnActionExcept::CSnActionExcept;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  // Dispatches on the type to the operations below over the scope's nodes.
  SNRESULT Execute(CSnPendingActionItem& record) override;

 protected:
  bool Sets() const { return ((ActionType() >> 8) & 1) == 0; }
  virtual void SetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) = 0;
  virtual void ResetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) = 0;
  virtual void ResetOnAll(CSnHierarchyNode* node) = 0;
};

// 0x06 mutes, 0x07 unmutes.
class CSnActionSetFlag final : public CSnActionSetReset {
 public:
  using CSnActionSetReset::CSnActionSetReset;

 protected:
  void SetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) override;
  void ResetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) override;
  void ResetOnAll(CSnHierarchyNode* node) override;
};

class CSnActionSetValue final : public CSnActionSetReset {
 public:
  using CSnActionSetReset::CSnActionSetReset;
  SNRESULT ReadExtraParameters(SnBankCursor& cursor) override;
  // The property a type's kind names: 0 volume, 2 pitch, 3 and 4 the filters, 5 bus volume.
  static uint8_t PropertyOfType(uint16_t actionType);

  uint8_t m_meaning = SnValueMeaningAbsolute;
  float m_value = 0.0f, m_min = 0.0f, m_max = 0.0f;
  static constexpr uint8_t SnValueMeaningAbsolute = 1;

 protected:
  // Even high bytes set, odd ones reset, whatever the class base assumes.
  void SetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) override;
  void ResetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) override;
  void ResetOnAll(CSnHierarchyNode* node) override;
};

// The target id is a game parameter's: no node is involved.
class CSnActionSetGameParameter final : public CSnActionSetReset {
 public:
  using CSnActionSetReset::CSnActionSetReset;
  SNRESULT ReadExtraParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;

  uint8_t m_transitionFlag = 0;
  uint8_t m_meaning = 1;
  float m_value = 0.0f, m_min = 0.0f, m_max = 0.0f;

 protected:
  void SetOn(CSnHierarchyNode*, CSnRegisteredObj*) override {}
  void ResetOn(CSnHierarchyNode*, CSnRegisteredObj*) override {}
  void ResetOnAll(CSnHierarchyNode*) override {}
};

// ---- play ----

class CSnActionPlay : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;
  uint32_t NamedBankId() const override { return m_bankId; }
  // Whether a play at this probability goes on: a draw uniform in 0..99 from two 15-bit draws.
  static bool DrawPasses(float probability);

  uint32_t m_bankId = 0;
};

// Schedules the actions of the event whose id is the target.
class CSnActionPlayEvent final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT Execute(CSnPendingActionItem& record) override;
  uint32_t NamedEventId() const override { return TargetId(); }
};

// ---- states, switches, game syncs ----

class CSnActionUseState final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT Execute(CSnPendingActionItem& record) override;
};

class CSnActionSetState final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;
  uint32_t m_groupId = 0, m_stateId = 0;
};

class CSnActionSetSwitch final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT ReadParameters(SnBankCursor& cursor) override;
  SNRESULT Execute(CSnPendingActionItem& record) override;
  uint32_t m_groupId = 0, m_switchId = 0;
};

class CSnActionTrigger final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT Execute(CSnPendingActionItem& record) override;
};

class CSnActionStopPendingPlays final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT Execute(CSnPendingActionItem& record) override;
};

// Queued by a ducking bus for the end of its recovery.
class ISnDuckRecoveryOwner {
 public:
  virtual ~ISnDuckRecoveryOwner() = default;
  virtual void DuckRecoveryOver(CSnEventAction* action) = 0;
};

class CSnActionDuckRecovery final : public CSnEventAction {
 public:
  using CSnEventAction::CSnEventAction;
  SNRESULT Execute(CSnPendingActionItem& record) override;
  uint32_t DelaySamples() override { return m_delaySamples; }
  void SetOwner(ISnDuckRecoveryOwner* owner) { m_owner = owner; }
  void SetDelaySamples(uint32_t samples) { m_delaySamples = samples; }

 private:
  ISnDuckRecoveryOwner* m_owner = nullptr;
  uint32_t m_delaySamples = 0;
};

// ---- making actions ----

// A new action of the type's class with one reference, not yet in the index; null for a high byte
// no class serves, or without memory.
CSnEventAction* CreateActionObject(uint16_t actionType, uint32_t id);
// The factory: the action made and entered in the action list.
CSnEventAction* CreateAction(uint16_t actionType, uint32_t id);
// The bank loader of actions (HIRC type 3).
SNRESULT ReadActionPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& action);
// An action already loaded is read again only while it is a play not yet read.
bool ActionReadsAgain(CSnIndexedObject* action);
SNRESULT ReadActionAgain(CSnIndexedObject* action, const uint8_t* payload, uint32_t size);

}  // namespace SN
