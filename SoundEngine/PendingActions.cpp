// Delayed actions: records sorted by due frame, run when their frame comes, paused into a second
// list and resumed shifted by the time they spent there. Audio thread only, under the global lock.
#include <new>

#include "Base/Assert.h"
#include "SoundEngine/Actions/ContinuePlaybackAction.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIdCounts.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

ISnPlayingIdPendingCounts* g_pPlayingIdPendingCounts = nullptr;

namespace {

void DropPlayingIdCount(uint32_t playingId) {
  if (playingId && g_pPlayingIdPendingCounts) g_pPlayingIdPendingCounts->RemovePendingAction(playingId);
}

bool FollowsPendingState(const CSnEventAction* action) {
  return action->ActionType() == SnAction_Play || action->ActionType() == SnAction_ContinuePlayback;
}

// Records of one action, of one playing id or of any (0).
auto OfAction(const CSnEventAction* action, uint32_t playingId) {
  return [=](const CSnPendingActionItem* record) {
    return record->action == action && (playingId == 0 || record->playingId == playingId);
  };
}

// Records of a playing id, except the ducking recoveries that pauses never touch.
auto OfPlayingId(uint32_t playingId) {
  return [=](const CSnPendingActionItem* record) {
    return record->playingId == playingId && record->action->ActionType() != SnAction_DuckRecovery;
  };
}

// Records of an object and a playing id (each 0 = any), ducking recoveries never, resume actions
// only when asked.
bool OfObject(const CSnPendingActionItem* record, CSnRegisteredObj* object, uint32_t playingId, bool withResumes) {
  const uint16_t type = record->action->ActionType();
  if (type == SnAction_DuckRecovery) return false;
  if (!withResumes && (type >> 8) == 0x03) return false;
  return (!object || record->gameObject == object) && (playingId == 0 || record->playingId == playingId);
}

CSnHierarchyNode* TargetOf(const CSnEventAction* action) {
  if (!g_pObjectIndex) return nullptr;
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(action->TargetId(), action->TargetIsBus());
  if (found) found->Release();  // the pending record's action keeps the id alive, not the node: look only
  return static_cast<CSnHierarchyNode*>(found);
}

// Calls `visit` on the target, its parents, then the output bus of the nearest of them that has one
// and that bus's parents, until it answers true.
template <typename Visit>
bool AnyOnRoad(CSnHierarchyNode* target, Visit&& visit) {
  CSnHierarchyNode* bus = nullptr;
  for (CSnHierarchyNode* node = target; node; node = node->Parent()) {
    if (visit(node)) return true;
    if (!bus) bus = node->OutputBus();
  }
  for (; bus; bus = bus->Parent())
    if (visit(bus)) return true;
  return false;
}

// An object with no record in the lists: a selection of its records finds none.
bool NothingPendingFor(const CSnRegisteredObj* object) { return object && object->PendingActionCount() == 0; }

}  // namespace

CSnPendingActionItem::~CSnPendingActionItem() {
  if (externalSources) externalSources->Release();
  if (holdsGameObject && gameObject) gameObject->Release();
}

void CSnPendingActionItem::HoldGameObject(CSnRegisteredObj* object) {
  if (holdsGameObject && gameObject) gameObject->Release();
  gameObject = object;
  holdsGameObject = object != nullptr;
  if (object) object->AddRef();
}

void CSnPendingActionItem::TransitionNotification(uint32_t kind, bool finished) {
  if (!finished || !action || action->ActionType() != SnAction_ContinuePlayback) return;
  switch (kind) {
    case Notice_PlayStopDone:
      action->ClearTransitionRef(false);
      break;
    case Notice_PlayStopRemoves:
      action->ClearTransitionRef(false);
      if (g_pAudioMgr) g_pAudioMgr->RemovePendingAction(this);
      break;
    case Notice_PauseDone:
      action->ClearTransitionRef(true);
      action->ClearPauseState();
      break;
    case Notice_PausePauses:
      action->ClearTransitionRef(true);
      if (g_pAudioMgr) g_pAudioMgr->PausePendingRecord(this);
      action->ClearPauseState();
      break;
    default:
      break;
  }
}

bool CSnAudioMgr::IsUnderNode(const CSnEventAction* action, const CSnHierarchyNode* node) {
  if (!node) return true;
  CSnHierarchyNode* target = TargetOf(action);
  return target && AnyOnRoad(target, [node](const CSnHierarchyNode* on) { return on == node; });
}

bool CSnAudioMgr::IsInExceptionList(const CSnEventAction* action, const SnActionException* exceptions,
                                    uint32_t count) {
  if (count == 0) return false;
  auto listed = [=](const CSnHierarchyNode* on) {
    for (uint32_t i = 0; i < count; ++i)
      if (exceptions[i].id == on->ID() && (exceptions[i].isBus != 0) == on->IsBus()) return true;
    return false;
  };
  CSnHierarchyNode* target = TargetOf(action);
  if (!target) {
    // An unloaded target is known only by its id.
    for (uint32_t i = 0; i < count; ++i)
      if (exceptions[i].id == action->TargetId() && (exceptions[i].isBus != 0) == action->TargetIsBus()) return true;
    return false;
  }
  return AnyOnRoad(target, listed);
}

CSnPendingActionItem* CSnAudioMgr::NewRecord(CSnEventAction* action, uint32_t playingId) {
  void* memory = m_recycledRecords;
  if (memory) {
    m_recycledRecords = *static_cast<void**>(memory);
    --m_recycledCount;
  } else {
    memory = MemoryMgr::Malign(g_DefaultPoolId, sizeof(CSnPendingActionItem), alignof(CSnPendingActionItem));
    if (!memory) return nullptr;
  }
  return new (memory) CSnPendingActionItem(action, playingId);
}

void CSnAudioMgr::DestroyRecord(CSnPendingActionItem* record) {
  record->~CSnPendingActionItem();
  if (m_recycledCount >= kKeptRecords) {
    MemoryMgr::Free(g_DefaultPoolId, record);
    return;
  }
  void* memory = record;
  *static_cast<void**>(memory) = m_recycledRecords;
  m_recycledRecords = memory;
  ++m_recycledCount;
}

void CSnAudioMgr::FreeRecycledRecords() {
  while (void* memory = m_recycledRecords) {
    m_recycledRecords = *static_cast<void**>(memory);
    MemoryMgr::Free(g_DefaultPoolId, memory);
  }
  m_recycledCount = 0;
}

// A record that ends without running: its action hears of it, its playing id is counted down.
void CSnAudioMgr::CancelRecord(CSnPendingActionItem* record) {
  if (FollowsPendingState(record->action)) record->action->NotifyPendingEnded(*record);
  DropPlayingIdCount(record->playingId);
  record->action->Release();
  DestroyRecord(record);
}

bool CSnAudioMgr::InsertSorted(PendingList& list, uint32_t key, CSnPendingActionItem* record) {
  PendingList::Item* prev = nullptr;
  // Most records go after everything pending (a frame's posts share their delays): no walk then.
  if (list.Tail() && list.Tail()->payload.key <= key)
    prev = list.Tail();
  else
    for (PendingList::Item* item = list.Head(); item && item->payload.key <= key; item = item->next) prev = item;
  if (!list.Insert(prev, PendingNode{key, record})) return false;
  if (record->gameObject) record->gameObject->CountPendingAction(true);
  return true;
}

void CSnAudioMgr::Unlink(PendingList& list, PendingList::Item* prev, PendingList::Item* item) {
  CSnPendingActionItem* record = item->payload.record;
  list.Remove(prev, item);
  if (record->gameObject) record->gameObject->CountPendingAction(false);
}

void CSnAudioMgr::NotifyPendingIfWanted(CSnPendingActionItem* record) {
  CSnEventAction* action = record->action;
  if (action->ActionType() == SnAction_Play ||
      (action->ActionType() == SnAction_ContinuePlayback && action->WantsPendingNotification()))
    action->NotifyPending(*record);
}

void CSnAudioMgr::ScheduleAction(CSnPendingActionItem* record) {
  ORV_ASSERT(record && record->action);
  if (record->playingId && g_pPlayingIdPendingCounts) g_pPlayingIdPendingCounts->AddPendingAction(record->playingId);
  record->action->AddRef();

  const uint32_t samplesPerFrame = LowerEngine::SamplesPerFrame();
  const uint32_t delay = record->action->DelaySamples();
  uint32_t frames = delay / samplesPerFrame;
  record->dueFrame = m_frame;
  record->sampleOffset = delay - frames * samplesPerFrame;
  if (frames == 0) {
    ExecuteRecord(record, false);
    return;
  }
  if (record->action->ActionType() == SnAction_ContinuePlayback) {
    const uint32_t lookAhead = SoundEngine::Settings().lookAheadFrames;
    frames -= frames < lookAhead ? frames : lookAhead;
    record->sampleOffset = delay - frames * samplesPerFrame;
    if (frames == 0) {
      ExecuteRecord(record, false);
      return;
    }
  }
  record->dueFrame += frames;
  if (InsertSorted(m_dueActions, record->dueFrame, record)) {
    NotifyPendingIfWanted(record);
    return;
  }
  // Refused by the list: the playing id must still hear that this action is gone.
  DropPlayingIdCount(record->playingId);
  record->action->Release();
  DestroyRecord(record);
}

void CSnAudioMgr::ExecuteRecord(CSnPendingActionItem* record, bool fromDueList) {
  if (fromDueList && record->action->ActionType() == SnAction_Play) NotifyPendingIfWanted(record);
  // A play positions its sound from where the object is now, not where it was last frame.
  if (record->gameObject && record->gameObject->IsDirty()) record->gameObject->UpdatePositioning();
  record->action->Execute(*record);
  DropPlayingIdCount(record->playingId);
  record->action->Release();
  DestroyRecord(record);
  ++m_executedActions;
  LowerEngine::IncrementVoiceGroupKey();
}

void CSnAudioMgr::ProcessDueActions() {
  while (PendingList::Item* head = m_dueActions.Head()) {
    if (int32_t(head->payload.key - m_frame) > 0) break;
    CSnPendingActionItem* record = head->payload.record;
    Unlink(m_dueActions, nullptr, head);
    ExecuteRecord(record, true);
  }
}

// The record is unlinked before anything hears of it; what the end notice or the playing id's
// callback does to the lists (another removal, a make-room drain) leaves no stale link behind, as
// the walk starts again from the head after every removal.
template <typename Match>
void CSnAudioMgr::CancelWhere(PendingList& list, Match&& match) {
  bool removed = true;
  while (removed) {
    removed = false;
    PendingList::Item* prev = nullptr;
    for (PendingList::Item* item = list.Head(); item; prev = item, item = item->next) {
      CSnPendingActionItem* record = item->payload.record;
      if (!match(record)) continue;
      Unlink(list, prev, item);
      CancelRecord(record);
      removed = true;
      break;
    }
  }
}

void CSnAudioMgr::RemovePendingActionsOfPlayingId(uint32_t playingId) {
  auto match = [playingId](const CSnPendingActionItem* record) { return record->playingId == playingId; };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::CancelAllPending() {
  auto all = [](const CSnPendingActionItem*) { return true; };
  CancelWhere(m_pausedActions, all);
  CancelWhere(m_dueActions, all);
}

void CSnAudioMgr::RemovePendingActionsOfAction(CSnEventAction* action) {
  // A held execution is as pending as a due one: the end of what began it takes both back.
  auto match = [action](const CSnPendingActionItem* record) { return record->action == action; };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::Pause(PendingList::Item* prev, PendingList::Item* item) {
  CSnPendingActionItem* record = item->payload.record;
  Unlink(m_dueActions, prev, item);
  record->pauseCount = 0;
  record->pausedAtFrame = m_frame;
  if (!InsertSorted(m_pausedActions, record->action->TargetId(), record)) CancelRecord(record);
}

template <typename Match>
void CSnAudioMgr::PauseWhere(Match&& match) {
  for (PendingList::Item* item = m_pausedActions.Head(); item; item = item->next)
    if (match(item->payload.record)) ++item->payload.record->pauseCount;
  PendingList::Item* prev = nullptr;
  for (PendingList::Item* item = m_dueActions.Head(); item;) {
    PendingList::Item* next = item->next;
    if (match(item->payload.record))
      Pause(prev, item);
    else
      prev = item;
    item = next;
  }
}

template <typename Match>
void CSnAudioMgr::ResumeWhere(Match&& match) {
  PendingList::Item* prev = nullptr;
  for (PendingList::Item* item = m_pausedActions.Head(); item;) {
    PendingList::Item* next = item->next;
    CSnPendingActionItem* record = item->payload.record;
    if (!match(record)) {
      prev = item;
    } else if (record->pauseCount > 0) {
      --record->pauseCount;
      prev = item;
    } else {
      Unlink(m_pausedActions, prev, item);
      ResumePausedAction(record);
    }
    item = next;
  }
}

void CSnAudioMgr::PausePendingRecord(CSnPendingActionItem* target) {
  for (PendingList::Item* item = m_pausedActions.Head(); item; item = item->next) {
    if (item->payload.record == target) {
      ++target->pauseCount;
      return;
    }
  }
  PendingList::Item* prev = nullptr;
  for (PendingList::Item* item = m_dueActions.Head(); item; prev = item, item = item->next) {
    if (item->payload.record == target) {
      Pause(prev, item);
      return;
    }
  }
}

void CSnAudioMgr::PausePendingActionsOfAction(CSnEventAction* action, uint32_t playingId) {
  PauseWhere(OfAction(action, playingId));
}

void CSnAudioMgr::PausePendingActionsOfPlayingId(uint32_t playingId) { PauseWhere(OfPlayingId(playingId)); }

void CSnAudioMgr::ResumePendingActionsOfAction(CSnEventAction* action, uint32_t playingId) {
  ResumeWhere(OfAction(action, playingId));
}

void CSnAudioMgr::ResumePendingActionsOfPlayingId(uint32_t playingId) { ResumeWhere(OfPlayingId(playingId)); }

template <typename Match>
void CSnAudioMgr::TellResumedContinuations(Match&& match) {
  for (PendingList::Item* item = m_dueActions.Head(); item; item = item->next) {
    CSnPendingActionItem* record = item->payload.record;
    if (record->action->ActionType() == SnAction_ContinuePlayback && match(record))
      record->action->NotifyResumed(*record);
  }
}

void CSnAudioMgr::RemovePendingActionsUnderNodeForObject(CSnHierarchyNode* node, CSnRegisteredObj* object,
                                                         uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  CancelWhere(m_dueActions, [=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, true) && IsUnderNode(record->action, node);
  });
}

void CSnAudioMgr::RemovePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions,
                                             uint32_t count, uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  auto match = [=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, true) && !IsInExceptionList(record->action, exceptions, count);
  };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::RemovePendingPlaysUnderNode(CSnHierarchyNode* node) {
  auto match = [=](const CSnPendingActionItem* record) {
    return FollowsPendingState(record->action) && IsUnderNode(record->action, node);
  };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::BreakPendingPlaysUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  // A hand-on already past the node is not reached again: the walk's restarts after a removal do not
  // move it on twice.
  auto match = [=](const CSnPendingActionItem* record) {
    if (!FollowsPendingState(record->action) || !OfObject(record, object, playingId, false)) return false;
    auto* continuation = dynamic_cast<CSnContinuePlaybackAction*>(record->action);
    if (!continuation) return IsUnderNode(record->action, node);
    return continuation->AdvancePastNode(node, record->gameObject);
  };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::RemovePendingActionsByActionID(uint32_t actionId, uint32_t playingId) {
  auto match = [=](const CSnPendingActionItem* record) {
    return record->action->ID() == actionId && (playingId == 0 || record->playingId == playingId);
  };
  CancelWhere(m_dueActions, match);
  CancelWhere(m_pausedActions, match);
}

void CSnAudioMgr::RemovePendingAction(CSnPendingActionItem* target) {
  if (!target) return;
  auto match = [target](const CSnPendingActionItem* record) { return record == target; };
  for (PendingList::Item* item = m_pausedActions.Head(); item; item = item->next) {
    if (item->payload.record == target) {
      CancelWhere(m_pausedActions, match);
      return;
    }
  }
  CancelWhere(m_dueActions, match);
}

void CSnAudioMgr::PausePendingActionsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId,
                                               bool withResumes) {
  if (NothingPendingFor(object)) return;
  PauseWhere([=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, withResumes) && IsUnderNode(record->action, node);
  });
}

// Continue-playback records under the node, of the object and playing id (each 0 = any).
static auto ContinuationsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object, uint32_t playingId) {
  return [=](const CSnPendingActionItem* record) {
    return record->action->ActionType() == SnAction_ContinuePlayback && OfObject(record, object, playingId, false) &&
           CSnAudioMgr::IsUnderNode(record->action, node);
  };
}

void CSnAudioMgr::PausePendingContinuationsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object,
                                                     uint32_t playingId) {
  if (!NothingPendingFor(object)) PauseWhere(ContinuationsUnderNode(node, object, playingId));
}

void CSnAudioMgr::ResumePendingContinuationsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object,
                                                      uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  ResumeWhere(ContinuationsUnderNode(node, object, playingId));
  TellResumedContinuations(ContinuationsUnderNode(node, object, playingId));
}

void CSnAudioMgr::PausePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions,
                                            uint32_t count, uint32_t playingId, bool withResumes) {
  if (NothingPendingFor(object)) return;
  PauseWhere([=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, withResumes) && !IsInExceptionList(record->action, exceptions, count);
  });
}

void CSnAudioMgr::ResumePendingActionsUnderNode(CSnHierarchyNode* node, CSnRegisteredObj* object,
                                                uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  auto match = [=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, true) && IsUnderNode(record->action, node);
  };
  ResumeWhere(match);
  TellResumedContinuations(match);
}

void CSnAudioMgr::ResumePendingActionsExcept(CSnRegisteredObj* object, const SnActionException* exceptions,
                                             uint32_t count, uint32_t playingId) {
  if (NothingPendingFor(object)) return;
  auto match = [=](const CSnPendingActionItem* record) {
    return OfObject(record, object, playingId, true) && !IsInExceptionList(record->action, exceptions, count);
  };
  ResumeWhere(match);
  TellResumedContinuations(match);
}

SNRESULT CSnAudioMgr::ResumePausedAction(CSnPendingActionItem* record) {
  record->dueFrame += m_frame - record->pausedAtFrame;
  if (InsertSorted(m_dueActions, record->dueFrame, record)) return SN_Success;
  CancelRecord(record);
  return SN_Failure;
}

void CSnAudioMgr::ClearContinuationOwnerRefs(const void* owner) {
  for (PendingList* list : {&m_dueActions, &m_pausedActions})
    for (PendingList::Item* item = list->Head(); item; item = item->next)
      if (item->payload.record->action->ActionType() == SnAction_ContinuePlayback)
        item->payload.record->action->ClearOwnerRef(owner);
}

}  // namespace SN
