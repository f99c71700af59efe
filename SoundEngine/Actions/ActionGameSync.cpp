// Actions on states, switches, triggers, state-driven values, pending plays and ducking recoveries.
#include "SoundEngine/Actions/ActionClasses.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/PendingAction.h"

namespace SN {

SNRESULT CSnActionUseState::Execute(CSnPendingActionItem&) {
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(TargetId(), TargetIsBus());
  if (!found) return SN_IdNotFound;
  CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(found);
  node->SetFlagB(CSnHierarchyNode::kStateValuesApply, ActionType() == 0x1002);
  node->RefreshStateValues();
  found->Release();
  return SN_Success;
}

SNRESULT CSnActionSetState::ReadParameters(SnBankCursor& cursor) {
  return cursor.Take(m_groupId) && cursor.Take(m_stateId) ? SN_Success : SN_Failure;
}

SNRESULT CSnActionSetState::Execute(CSnPendingActionItem&) {
  if (g_pStateMgr) g_pStateMgr->SetState(m_groupId, m_stateId, false, false);
  return SN_Success;
}

SNRESULT CSnActionSetSwitch::ReadParameters(SnBankCursor& cursor) {
  return cursor.Take(m_groupId) && cursor.Take(m_switchId) ? SN_Success : SN_Failure;
}

SNRESULT CSnActionSetSwitch::Execute(CSnPendingActionItem& record) {
  if (!g_pSwitchMgr || !record.gameObject) return SN_Success;
  CSnSwitchNotifyGuard pass(*g_pSwitchMgr);
  if (CSnSwitchGroup* group = g_pSwitchMgr->GetOrCreateSwitchGroup(m_groupId))
    group->SetSwitch(m_switchId, record.gameObject);
  return SN_Success;
}

SNRESULT CSnActionTrigger::Execute(CSnPendingActionItem& record) {
  if (g_pStateMgr) g_pStateMgr->Trigger(TargetId(), record.gameObject);
  return SN_Success;
}

SNRESULT CSnActionStopPendingPlays::Execute(CSnPendingActionItem&) {
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(TargetId(), TargetIsBus());
  if (!found) return SN_IdNotFound;
  if (g_pAudioMgr) g_pAudioMgr->RemovePendingPlaysUnderNode(static_cast<CSnHierarchyNode*>(found));
  found->Release();
  return SN_Success;
}

SNRESULT CSnActionDuckRecovery::Execute(CSnPendingActionItem&) {
  if (m_owner) m_owner->DuckRecoveryOver(this);
  return SN_Success;
}

}  // namespace SN
