// Delayed actions: records sorted by due frame, run when their frame comes, paused into a second
// list and resumed shifted by the time they spent there. Audio thread only, under the global lock.
#include "Base/Assert.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIdCounts.h"
#include "SoundEngine/Lower/FrameFormat.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/Lower/VoiceCommands.h"

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

}  // namespace

CSnPendingActionItem::~CSnPendingActionItem() {
  if (externalSources) externalSources->Release();
}

void CSnAudioMgr::DestroyRecord(CSnPendingActionItem* record) { PoolDelete(g_DefaultPoolId, record); }

// A record that ends without running: its action hears of it, its playing id is counted down.
void CSnAudioMgr::CancelRecord(CSnPendingActionItem* record) {
  if (FollowsPendingState(record->action)) record->action->NotifyPendingEnded(*record);
  DropPlayingIdCount(record->playingId);
  record->action->Release();
  DestroyRecord(record);
}

bool CSnAudioMgr::InsertSorted(PendingList& list, uint32_t key, CSnPendingActionItem* record) {
  PendingList::Item* prev = nullptr;
  for (PendingList::Item* item = list.Head(); item && item->payload.key <= key; item = item->next) prev = item;
  return list.Insert(prev, PendingNode{key, record}) != nullptr;
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
    m_dueActions.Remove(nullptr, head);
    ExecuteRecord(record, true);
  }
}

template <typename Match>
void CSnAudioMgr::CancelWhere(PendingList& list, Match&& match) {
  PendingList::Item* prev = nullptr;
  for (PendingList::Item* item = list.Head(); item;) {
    PendingList::Item* next = item->next;
    if (match(item->payload.record)) {
      CSnPendingActionItem* record = item->payload.record;
      list.Remove(prev, item);
      CancelRecord(record);
    } else {
      prev = item;
    }
    item = next;
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
  CancelWhere(m_dueActions, [action](const CSnPendingActionItem* record) { return record->action == action; });
}

void CSnAudioMgr::Pause(PendingList::Item* prev, PendingList::Item* item) {
  CSnPendingActionItem* record = item->payload.record;
  m_dueActions.Remove(prev, item);
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
      m_pausedActions.Remove(prev, item);
      record->dueFrame += m_frame - record->pausedAtFrame;
      if (!InsertSorted(m_dueActions, record->dueFrame, record)) CancelRecord(record);
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

}  // namespace SN
