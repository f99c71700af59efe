// Actions that set or reset run-time values: mutes, node property values and game parameters, on a
// target, on every node, or on every node but the exceptions.
#include "SoundEngine/Actions/ActionClasses.h"

#include "SoundEngine/Actions/NodeRefList.h"

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PendingAction.h"

namespace SN {

namespace {

CSnPropertyNode* AsPropertyNode(CSnHierarchyNode* node) { return dynamic_cast<CSnPropertyNode*>(node); }

TransParamsBase FadeOf(const CSnEventAction& action) {
  TransParamsBase params;
  params.durationMs = action.FadeTimeMs();
  params.shape = SnCurveInterpolation(action.FadeCurve());
  return params;
}

}  // namespace

SNRESULT CSnActionSetReset::ReadParameters(SnBankCursor& cursor) {
  uint8_t curve = 0;
  if (!cursor.Take(curve)) return SN_Failure;
  SetFadeCurve(curve);
  if (ReadExtraParameters(cursor) != SN_Success) return SN_Failure;
  return ReadExceptions(cursor);
}

SNRESULT CSnActionSetReset::Execute(CSnPendingActionItem& record) {
  CSnRegisteredObj* object = ScopedObject(record);
  const uint8_t scope = uint8_t(Scope() & ~1u);
  if (scope == SnScope_Target) {
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(TargetId(), TargetIsBus());
    if (!found) return SN_IdNotFound;
    CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(found);
    if (Sets())
      SetOn(node, object);
    else
      ResetOn(node, object);
    node->Release();
    return SN_Success;
  }
  if (scope != SnScope_All && scope != SnScope_AllExcept) {
    SOUND_LOG(Error, "Action %u: type 0x%04X has no scope its class serves", ID(), unsigned(ActionType()));
    return SN_Failure;
  }
  if (Sets()) return SN_Failure;  // setting applies to a target only
  SnNodeRefList nodes;
  CollectScopeNodes(nodes, true);
  for (uint32_t i = 0; i < nodes.Count(); ++i) {
    if (object)
      ResetOn(nodes.At(i), object);
    else
      ResetOnAll(nodes.At(i));
  }
  return SN_Success;
}

// ---- mute ----

void CSnActionSetFlag::SetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) {
  if (CSnPropertyNode* target = AsPropertyNode(node)) target->Mute(object, FadeOf(*this));
}

void CSnActionSetFlag::ResetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) {
  if (CSnPropertyNode* target = AsPropertyNode(node)) target->Unmute(object, FadeOf(*this));
}

void CSnActionSetFlag::ResetOnAll(CSnHierarchyNode* node) {
  if (CSnPropertyNode* target = AsPropertyNode(node)) target->UnmuteAll(FadeOf(*this));
}

// ---- property values ----

uint8_t CSnActionSetValue::PropertyOfType(uint16_t actionType) {
  switch (actionType >> 8) {
    case 0x08: case 0x09: return 2;
    case 0x0A: case 0x0B: return 0;
    case 0x0C: case 0x0D: return 5;
    case 0x0E: case 0x0F: return 3;
    default: return 4;  // 0x20 and 0x30
  }
}

SNRESULT CSnActionSetValue::ReadExtraParameters(SnBankCursor& cursor) {
  return cursor.Take(m_meaning) && cursor.Take(m_value) && cursor.Take(m_min) && cursor.Take(m_max) ? SN_Success
                                                                                                   : SN_Failure;
}

void CSnActionSetValue::SetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) {
  CSnPropertyNode* target = AsPropertyNode(node);
  if (!target) return;
  const uint8_t id = PropertyOfType(ActionType());
  float value = RandomisedValue(m_value, m_min, m_max);
  if (m_meaning == SnValueMeaning_Offset) {
    const CSnPropTransitionSet* set = target->FindValueSet(object);
    value += set ? set->ValueOr(id, 0.0f) : 0.0f;
  }
  target->SetRuntimeValue(object, id, value, FadeOf(*this));
}

void CSnActionSetValue::ResetOn(CSnHierarchyNode* node, CSnRegisteredObj* object) {
  CSnPropertyNode* target = AsPropertyNode(node);
  if (!target) return;
  const uint8_t id = PropertyOfType(ActionType());
  if (object) {
    if (target->FindValueSet(object)) target->SetRuntimeValue(object, id, 0.0f, FadeOf(*this));
    return;
  }
  target->SetRuntimeValue(nullptr, id, 0.0f, FadeOf(*this));
}

void CSnActionSetValue::ResetOnAll(CSnHierarchyNode* node) {
  if (CSnPropertyNode* target = AsPropertyNode(node)) target->ResetRuntimeValues(PropertyOfType(ActionType()), FadeOf(*this));
}

// ---- game parameters ----

SNRESULT CSnActionSetGameParameter::ReadExtraParameters(SnBankCursor& cursor) {
  return cursor.Take(m_transitionFlag) && cursor.Take(m_meaning) && cursor.Take(m_value) && cursor.Take(m_min) &&
                 cursor.Take(m_max)
             ? SN_Success
             : SN_Failure;
}

SNRESULT CSnActionSetGameParameter::Execute(CSnPendingActionItem& record) {
  if (!g_pRTPCMgr) return SN_Failure;
  TransParamsBase params = FadeOf(*this);
  params.bypassRamping = m_transitionFlag;
  CSnRegisteredObj* object = ScopedObject(record);
  const bool sets = (ActionType() >> 8) == 0x13;
  if (sets) {
    const float value = RandomisedValue(m_value, m_min, m_max);
    const SnValueMeaning meaning = m_meaning == SnValueMeaning_Offset ? SnValueMeaning_Offset : SnValueMeaning_Absolute;
    if (object) return g_pRTPCMgr->SetRTPCInternal(TargetId(), value, object, 0, params, meaning);
    return g_pRTPCMgr->SetRTPCInternal(TargetId(), value, SnRTPCKey{}, params, meaning);
  }
  if (object)
    g_pRTPCMgr->ResetRTPCInternal(TargetId(), object, 0, params);
  else
    g_pRTPCMgr->ResetRTPCInternal(TargetId(), SnRTPCKey{}, params);
  return SN_Success;
}

}  // namespace SN
