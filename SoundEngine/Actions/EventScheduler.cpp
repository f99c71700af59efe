// Scheduling the actions of events, following nested plays once per chain, and the event-wide
// stop, pause, resume and seek of what they play.
#include "SoundEngine/Actions/EventScheduler.h"

#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnEventScheduler& CSnEventScheduler::Instance() {
  static CSnEventScheduler scheduler;
  return scheduler;
}

bool CSnEventScheduler::Enter(const CSnEvent& event) {
  for (uint32_t i = 0; i < m_depth; ++i) {
    if (m_chain[i] != &event) continue;
    if (!m_cycleLogged) {
      m_cycleLogged = true;
      SOUND_LOG(Error, "Event %u plays itself again through its own actions; the repeat is not followed",
                event.ID());
    }
    return false;
  }
  if (m_depth == kMaxChain) {
    if (!m_cycleLogged) {
      m_cycleLogged = true;
      SOUND_LOG(Error, "Event %u: events nested more than %u deep are not followed", event.ID(), kMaxChain);
    }
    return false;
  }
  m_chain[m_depth++] = &event;
  return true;
}

void CSnEventScheduler::Leave() {
  if (--m_depth == 0) m_cycleLogged = false;
}

SNRESULT CSnEventScheduler::Schedule(CSnEvent& event, const PostedWith& post) {
  if (!g_pAudioMgr) return SN_Failure;
  if (!Enter(event)) return SN_Failure;
  event.AddRef();  // an action of the chain may unload it
  for (CSnEventAction* action = event.FirstAction(); action; action = CSnEvent::NextAction(action)) {
    // Without a registered object only the actions that are not the object's own run.
    if (!post.object && (action->Scope() & 1)) continue;
    CSnPendingActionItem* record = g_pAudioMgr->NewRecord(action, post.playingId);
    if (!record) {
      const uint32_t objectId = post.object ? post.object->ID() : 0;
      SOUND_LOG_REPEATING_ABOUT(Error, objectId, "%s: no memory for action %u of event %u on game object %u",
                                post.caller, action->ID(), event.ID(), objectId);
      continue;
    }
    record->HoldGameObject(post.object);
    record->lastArgument = post.lastArgument;
    if (post.playParams) memcpy(record->playParams, post.playParams, sizeof record->playParams);
    if (post.externalSources) {
      post.externalSources->AddRef();
      record->externalSources = post.externalSources;
    }
    g_pAudioMgr->ScheduleAction(record);
  }
  event.Release();
  Leave();
  return SN_Success;
}

void CSnEventScheduler::ScheduleEventActions(CSnIndexedObject* event, CSnRegisteredObj* object,
                                             const SnMsgPostEvent& message) {
  if (!event || event->List() != SnIndex_Events) return;
  Schedule(*static_cast<CSnEvent*>(event),
           {"PostEvent", object, message.playingId, message.lastArgument, message.playParams,
            message.externalSources});
}

SNRESULT CSnEventScheduler::ScheduleEventById(uint32_t eventId, const CSnPendingActionItem& from) {
  CSnIndexedObject* found = g_pObjectIndex ? g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(eventId) : nullptr;
  if (!found) {
    SOUND_LOG(Error, "A play-event action names event %u, which is not loaded", eventId);
    return SN_IdNotFound;
  }
  const SNRESULT result = Schedule(*static_cast<CSnEvent*>(found),
                                   {"A play-event action", from.gameObject, from.playingId, from.lastArgument,
                                    from.playParams, from.externalSources});
  found->Release();
  return result;
}

// Visits the play actions of the event and of the events it plays, each event once per walk.
template <typename Visit>
void CSnEventScheduler::ForEachPlayTarget(CSnEvent& event, Visit&& visit) {
  if (!Enter(event)) return;
  for (CSnEventAction* action = event.FirstAction(); action; action = CSnEvent::NextAction(action)) {
    if ((action->ActionType() >> 8) == 0x04) {
      visit(action);
    } else if ((action->ActionType() >> 8) == 0x21 && g_pObjectIndex) {
      if (CSnIndexedObject* nested = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(action->TargetId())) {
        ForEachPlayTarget(*static_cast<CSnEvent*>(nested), visit);
        nested->Release();
      }
    }
  }
  Leave();
}

void CSnEventScheduler::ExecuteActionOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object,
                                             SnActionOnEvent what, const TransParamsBase& transition,
                                             uint32_t playingId) {
  if (!event || event->List() != SnIndex_Events) return;
  ForEachPlayTarget(*static_cast<CSnEvent*>(event), [&](CSnEventAction* action) {
    if (g_pAudioMgr) {
      if (what == SnActionOnEvent_Stop || what == SnActionOnEvent_Break)
        g_pAudioMgr->RemovePendingActionsByActionID(action->ID(), playingId);
      else if (what == SnActionOnEvent_Pause)
        g_pAudioMgr->PausePendingActionsOfAction(action, playingId);
      else
        g_pAudioMgr->ResumePendingActionsOfAction(action, playingId);
    }
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(action->TargetId(), action->TargetIsBus());
    if (!found) return;
    CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(found);
    // A continuous performance's next item waits for a hand-on of its own, on the frame clock: it
    // holds while the items playing hold, or it would come in early by the time paused.
    if (what == SnActionOnEvent_Stop) {
      // A stop ends the performances under the node, waiting hand-ons and all, as a stop action does.
      if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsUnderNodeForObject(node, object, playingId);
      node->Stop(object, playingId, transition.durationMs, transition.shape);
    } else if (what == SnActionOnEvent_Break) {
      // What plays ends as it would; the levels of the performances at or under the node stop
      // continuing, the ones above them go on.
      if (g_pAudioMgr) g_pAudioMgr->BreakPendingPlaysUnderNode(node, object, playingId);
      SnActionParams params;
      params.kind = SnActionParams::Break;
      params.gameObject = object;
      params.playingId = playingId;
      params.node = node;
      node->ExecuteAction(params);
    } else if (what == SnActionOnEvent_Pause) {
      if (g_pAudioMgr) g_pAudioMgr->PausePendingContinuationsUnderNode(node, object, playingId);
      node->Pause(object, playingId, transition.durationMs, transition.shape);
    } else {
      if (g_pAudioMgr) g_pAudioMgr->ResumePendingContinuationsUnderNode(node, object, playingId);
      node->Resume(object, playingId, transition.durationMs, transition.shape);
    }
    found->Release();
  });
}

void CSnEventScheduler::SeekOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object, const SnSeekPosition& position,
                                    uint32_t playingId) {
  if (!event || event->List() != SnIndex_Events) return;
  SnActionParams params;
  params.kind = SnActionParams::Seek;
  params.gameObject = object;
  params.playingId = playingId;
  if (position.isFraction)
    params.seek.fraction = position.fraction;
  else
    params.seek.ms = position.milliseconds;
  params.seekFlags = uint8_t((position.isFraction ? 1 : 0) | (position.seekToNearestMarker ? 2 : 0));
  ForEachPlayTarget(*static_cast<CSnEvent*>(event), [&](CSnEventAction* action) {
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(action->TargetId(), action->TargetIsBus());
    if (!found) return;
    static_cast<CSnHierarchyNode*>(found)->ExecuteAction(params);
    found->Release();
  });
}

CSnEventAction* CSnEventScheduler::CreateAction(uint16_t actionType, uint32_t actionId) {
  return SN::CreateActionObject(actionType, actionId);
}

}  // namespace SN
