// Actions that reach nodes by scope, sparing their exceptions: stop, pause, resume, seek, effect
// bypass, node commands and play-list resets.
#include "SoundEngine/Actions/ActionClasses.h"

#include "SoundEngine/Actions/NodeRefList.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PendingAction.h"

namespace SN {

namespace {

// The target node with a reference, or null.
CSnHierarchyNode* FindTarget(const CSnEventAction& action) {
  return static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(action.TargetId(), action.TargetIsBus()));
}

SNRESULT ReadCommonHead(SnBankCursor& cursor, CSnEventAction& action) {
  uint8_t curve = 0;
  if (!cursor.Take(curve)) return SN_Failure;
  action.SetFadeCurve(curve);
  return SN_Success;
}

}  // namespace

// ---- the exception list ----

SNRESULT CSnActionExcept::ReadExceptions(SnBankCursor& cursor) {
  uint32_t count = 0;
  if (!cursor.Take(count)) return SN_Failure;
  if (count > cursor.Left() / 5) {
    SOUND_LOG(Error, "Action %u lists %u exceptions in %u bytes", ID(), count, cursor.Left());
    return SN_Failure;
  }
  m_exceptions.Term();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = 0;
    uint8_t isBus = 0;
    cursor.Take(id);
    cursor.Take(isBus);
    if (AddException(id, isBus != 0) != SN_Success) return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnActionExcept::AddException(uint32_t id, bool isBus) {
  return m_exceptions.Add(SnActionException{id, uint8_t(isBus ? 1 : 0)}, 4) ? SN_Success : SN_Failure;
}

bool CSnActionExcept::IsException(const CSnHierarchyNode* node) const {
  for (uint32_t i = 0; i < m_exceptions.Count(); ++i)
    if (m_exceptions[i].id == node->ID() && (m_exceptions[i].isBus != 0) == node->IsBus()) return true;
  return false;
}

bool CSnActionExcept::IsSpared(const CSnHierarchyNode* node) const {
  CSnHierarchyNode* bus = nullptr;
  for (const CSnHierarchyNode* on = node; on; on = on->Parent()) {
    if (IsException(on)) return true;
    if (!bus) bus = on->OutputBus();
  }
  for (; bus; bus = bus->Parent())
    if (IsException(bus)) return true;
  return false;
}

CSnRegisteredObj* CSnActionExcept::ScopedObject(const CSnPendingActionItem& record) const {
  return (Scope() & 1) ? record.gameObject : nullptr;
}

void CSnActionExcept::CollectScopeRoots(SnNodeRefList& roots, SnNodeRefList* parents) const {
  CSnObjectIndexList& list = g_pObjectIndex->GetNodeList(false);
  // Under the list's lock the nodes stay: the walks look without taking references.
  Platform::ReentrantGuard guard(list.Lock());
  const bool spares = ScopeHasExceptions() && m_exceptions.Count() > 0;
  // A node with something spared below it cannot take the record: its other children take it.
  SnNodeRefList split(false);
  auto splitAbove = [&split](const CSnHierarchyNode* node) {
    for (CSnHierarchyNode* up = node->Parent(); up && !split.Contains(up); up = up->Parent()) split.Add(up);
  };
  bool sparesBuses = false;
  for (uint32_t i = 0; spares && i < m_exceptions.Count(); ++i) sparesBuses |= m_exceptions[i].isBus != 0;
  if (sparesBuses) {
    // Nodes anywhere may route to a spared bus: each is looked at.
    list.ForEach([&](CSnIndexedObject* object) {
      const CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(object);
      if (IsSpared(node)) splitAbove(node);
    });
  } else if (spares) {
    // What lies below a spared node is spared too: above it, only the spared node's own parents split.
    for (uint32_t i = 0; i < m_exceptions.Count(); ++i)
      list.WithObject(m_exceptions[i].id, [&](CSnIndexedObject* found) { splitAbove(static_cast<CSnHierarchyNode*>(found)); });
  }
  list.ForEach([&](CSnIndexedObject* object) {
    CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(object);
    if (spares && IsSpared(node)) return;
    if (spares && split.Contains(node)) {
      if (parents) parents->Add(node);
      return;
    }
    CSnHierarchyNode* parent = node->Parent();
    if (parent && !split.Contains(parent)) return;
    roots.Add(node);
  });
}

void CSnActionExcept::CollectScopeNodes(SnNodeRefList& nodes, bool withBuses) const {
  for (bool buses : {false, true}) {
    if (buses && !withBuses) break;
    g_pObjectIndex->GetNodeList(buses).ForEach([&](CSnIndexedObject* object) {
      CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(object);
      if (!(ScopeHasExceptions() && IsException(node))) nodes.Add(node);
    });
  }
}

// ---- stop, pause, resume ----

SNRESULT CSnActionActive::ReadParameters(SnBankCursor& cursor) {
  if (ReadCommonHead(cursor, *this) != SN_Success || ReadExtraParameters(cursor) != SN_Success) return SN_Failure;
  return ReadExceptions(cursor);
}

SNRESULT CSnActionActive::SendToScope(const SnActionParams& params, const CSnPendingActionItem& record) {
  CSnRegisteredObj* object = ScopedObject(record);
  const uint8_t scope = uint8_t(Scope() & ~1u);
  if (scope == SnScope_Target) {
    CSnHierarchyNode* target = FindTarget(*this);
    if (!target) return SN_IdNotFound;
    target->ExecuteAction(params);
    ActOnPending(target, object);
    target->Release();
    return SN_Success;
  }
  if (scope != SnScope_All && scope != SnScope_AllExcept) {
    SOUND_LOG(Error, "Action %u: type 0x%04X has no scope its class serves", ID(), unsigned(ActionType()));
    return SN_Failure;
  }
  SnActionParams everything = params;
  // Stop, pause and resume of everything reach every node, playing or not, down its tree from its
  // root, and hold or let go on what each node's own values are moving to: of the scope's game object
  // alone when it has one.
  everything.ownTransitions = params.kind <= SnActionParams::Resume;
  SnNodeRefList roots, parents;
  CollectScopeRoots(roots, &parents);
  for (uint32_t i = 0; i < roots.Count(); ++i) roots.At(i)->ExecuteAction(everything);
  // A parent of a spared node is reached all the same: its own values hold or go on as everything
  // else's, though the record goes past it to its other children only.
  for (uint32_t i = 0; i < parents.Count(); ++i) parents.At(i)->ApplyToOwnTransitions(everything);
  // The buses hold their own values through the master buses, which also hold the state changes'
  // fades while everything is paused.
  if (scope == SnScope_All && everything.ownTransitions) CSnBusNode::ExecuteOnMasterBuses(everything);
  ActOnPending(nullptr, object);
  // Dynamic sequences play outside the node trees: stop, pause and resume of everything reach them
  // too (they are never among a scope's excepted nodes).
  if (params.kind <= SnActionParams::Resume)
    CSnDynamicSequence::ApplyGlobalActionToAll(SnGlobalAction(params.kind), object);
  return SN_Success;
}

SNRESULT CSnActionActive::Execute(CSnPendingActionItem& record) {
  SnActionParams params;
  params.gameObject = ScopedObject(record);
  params.transitionMs = FadeTimeMs();
  params.fadeCurve = FadeCurve();
  FillParams(params);
  return SendToScope(params, record);
}

void CSnActionStop::FillParams(SnActionParams& params) const { params.kind = SnActionParams::Stop; }

void CSnActionStop::ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) {
  if (!g_pAudioMgr) return;
  if (target)
    g_pAudioMgr->RemovePendingActionsUnderNodeForObject(target, object, 0);
  else
    g_pAudioMgr->RemovePendingActionsExcept(object, ScopeHasExceptions() ? Exceptions() : nullptr,
                                            ScopeHasExceptions() ? ExceptionCount() : 0, 0);
}

SNRESULT CSnActionPause::ReadExtraParameters(SnBankCursor& cursor) {
  return cursor.Take(m_pendingFlag) ? SN_Success : SN_Failure;
}

void CSnActionPause::FillParams(SnActionParams& params) const {
  params.kind = SnActionParams::Pause;
  params.flag = m_pendingFlag;
}

void CSnActionPause::ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) {
  if (!g_pAudioMgr) return;
  if (target)
    g_pAudioMgr->PausePendingActionsUnderNode(target, object, 0, m_pendingFlag != 0);
  else
    g_pAudioMgr->PausePendingActionsExcept(object, ScopeHasExceptions() ? Exceptions() : nullptr,
                                           ScopeHasExceptions() ? ExceptionCount() : 0, 0, m_pendingFlag != 0);
}

SNRESULT CSnActionResume::ReadExtraParameters(SnBankCursor& cursor) {
  return cursor.Take(m_resumeFlag) ? SN_Success : SN_Failure;
}

void CSnActionResume::FillParams(SnActionParams& params) const {
  params.kind = SnActionParams::Resume;
  params.flag = m_resumeFlag;
}

void CSnActionResume::ActOnPending(CSnHierarchyNode* target, CSnRegisteredObj* object) {
  if (!g_pAudioMgr) return;
  if (target)
    g_pAudioMgr->ResumePendingActionsUnderNode(target, object, 0);
  else
    g_pAudioMgr->ResumePendingActionsExcept(object, ScopeHasExceptions() ? Exceptions() : nullptr,
                                            ScopeHasExceptions() ? ExceptionCount() : 0, 0);
}

// ---- node command and play-list reset ----

void CSnActionNodeCommand::FillParams(SnActionParams& params) const {
  params.kind = SnActionParams::Kind(kNodeCommandKind);
}

SNRESULT CSnActionNodeCommand::Execute(CSnPendingActionItem& record) {
  if ((Scope() & ~1u) != SnScope_Target) {
    SOUND_LOG(Error, "Action %u: a node command of type 0x%04X has no target", ID(), unsigned(ActionType()));
    return SN_Failure;
  }
  SnActionParams params;
  params.gameObject = ScopedObject(record);
  params.playingId = record.playingId;
  FillParams(params);
  return SendToScope(params, record);
}

SNRESULT CSnActionResetPlaylist::Execute(CSnPendingActionItem& record) {
  CSnHierarchyNode* target = FindTarget(*this);
  if (!target) return SN_IdNotFound;
  SNRESULT result = SN_Success;
  if (target->NodeCategory() == CSnHierarchyNode::Category_RandomSequence) {
    static_cast<CSnRandomSequenceContainer*>(target)->ResetPlaylist(ScopedObject(record));
  } else {
    SOUND_LOG(Error, "Action %u: node %u has no play-list to reset", ID(), TargetId());
    result = SN_InvalidParameter;
  }
  target->Release();
  return result;
}

// ---- seek ----

SNRESULT CSnActionSeek::ReadParameters(SnBankCursor& cursor) {
  if (ReadCommonHead(cursor, *this) != SN_Success || !cursor.Take(m_seekMode) || !cursor.Take(m_value) ||
      !cursor.Take(m_min) || !cursor.Take(m_max) || !cursor.Take(m_seekFlag))
    return SN_Failure;
  return ReadExceptions(cursor);
}

SNRESULT CSnActionSeek::Execute(CSnPendingActionItem& record) {
  SnActionParams params;
  params.kind = SnActionParams::Seek;
  params.gameObject = ScopedObject(record);
  const float value = RandomisedValue(m_value, m_min, m_max);
  if (m_seekMode & 1)
    params.seek.fraction = value;
  else
    params.seek.ms = int32_t(value);
  params.seekFlags = uint8_t((m_seekMode & 1) | (m_seekFlag ? 2 : 0));
  const uint8_t scope = uint8_t(Scope() & ~1u);
  if (scope == SnScope_Target) {
    CSnHierarchyNode* target = FindTarget(*this);
    if (!target) return SN_IdNotFound;
    target->ExecuteAction(params);
    target->Release();
    return SN_Success;
  }
  if (scope != SnScope_All && scope != SnScope_AllExcept) return SN_Failure;
  SnNodeRefList roots;
  CollectScopeRoots(roots);
  for (uint32_t i = 0; i < roots.Count(); ++i) roots.At(i)->ExecuteAction(params);
  return SN_Success;
}

// ---- effect bypass ----

SNRESULT CSnActionBypassEffect::ReadParameters(SnBankCursor& cursor) {
  if (!cursor.Take(m_bypass) || !cursor.Take(m_mask)) return SN_Failure;
  return ReadExceptions(cursor);
}

SNRESULT CSnActionBypassEffect::Execute(CSnPendingActionItem&) {
  const bool sets = (ActionType() >> 8) == 0x1A;
  const uint8_t scope = uint8_t(Scope() & ~1u);
  if (scope == SnScope_Target) {
    CSnHierarchyNode* target = FindTarget(*this);
    if (!target) return SN_IdNotFound;
    if (sets)
      target->SetBypassBits(m_bypass ? m_mask : 0, m_mask);
    else
      target->SetBypassBits(0, 0xFF);
    target->Release();
    return SN_Success;
  }
  if (sets || (scope != SnScope_All && scope != SnScope_AllExcept)) return SN_Failure;
  SnNodeRefList nodes;
  CollectScopeNodes(nodes, true);
  for (uint32_t i = 0; i < nodes.Count(); ++i) nodes.At(i)->SetBypassBits(0, 0xFF);
  return SN_Success;
}

}  // namespace SN
