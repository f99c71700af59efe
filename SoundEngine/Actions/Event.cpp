// Events made from bank payloads and the chain of their actions.
#include "SoundEngine/Actions/Event.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/StreamGather.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnEvent* CSnEvent::CreateEvent(uint32_t id) { return PoolNew<CSnEvent>(g_DefaultPoolId, id); }

// Pins hold no reference on their event: its end takes them away. The pins give back their game
// objects and the actions leave what they are subscribed to, all of which the audio thread walks.
void CSnEvent::BeforeDestroy() {
  Platform::ReentrantGuard audio(GlobalAudioLock());
  if (ISnStreamCachePinMgr* pins = StreamCachePinMgr()) pins->RemoveEventPins(this);
  ReleaseActions();
}

void CSnEvent::ForEachPlayAction(SnStreamGather& gather) const {
  for (const CSnEventAction* action = m_pFirstAction; action; action = action->m_pNextInEvent) {
    if (action->ActionType() != SnAction_Play) continue;
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(action->TargetId(), action->TargetIsBus());
    if (!found) continue;
    static_cast<const CSnHierarchyNode*>(found)->GatherStreamedSources(gather, true);
    found->Release();
  }
}

void CSnEvent::ReleaseActions() {
  CSnEventAction* action = m_pFirstAction;
  m_pFirstAction = nullptr;
  while (action) {
    CSnEventAction* next = action->m_pNextInEvent;
    action->m_pNextInEvent = nullptr;
    action->m_pChainOwner = nullptr;
    action->Release();
    action = next;
  }
}

SNRESULT CSnEvent::SetActions(const uint32_t* ids, uint32_t count) {
  ReleaseActions();
  CSnEventAction** tail = &m_pFirstAction;
  for (uint32_t i = 0; i < count; ++i) {
    if (ids[i] == 0) {
      SOUND_LOG(Error, "Event %u lists action id 0", ID());
      ReleaseActions();
      return SN_ZeroActionId;
    }
    CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_Actions).FindAndAddRef(ids[i]);
    if (!found) {
      SOUND_LOG(Error, "Event %u uses action %u, which is not loaded", ID(), ids[i]);
      ReleaseActions();
      return SN_Failure;
    }
    CSnEventAction* action = static_cast<CSnEventAction*>(found);
    // Listed twice, an action keeps its first place: the chain has one link per action.
    if (action->m_pChainOwner == this) {
      action->Release();
      continue;
    }
    // Chained by another event, its one link is taken: relinking it would cut that chain or graft
    // this one onto it.
    if (action->m_pChainOwner) {
      SOUND_LOG(Error, "Event %u uses action %u, which event %u uses already", ID(), ids[i],
                action->m_pChainOwner->ID());
      action->Release();
      ReleaseActions();
      return SN_Failure;
    }
    action->m_pChainOwner = this;
    *tail = action;
    tail = &action->m_pNextInEvent;
  }
  return SN_Success;
}

SNRESULT ReadEventPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& out) {
  out = nullptr;
  SnBankCursor cursor(payload, size);
  uint32_t id = 0, count = 0;
  if (!cursor.Take(id) || !cursor.Take(count)) {
    SOUND_LOG(Error, "Event object of %u bytes has no action count", size);
    return SN_Failure;
  }
  // The count is checked against the bytes the object has before any id is read.
  if (count > cursor.Left() / sizeof(uint32_t)) {
    SOUND_LOG(Error, "Event %u lists %u actions in %u bytes", id, count, cursor.Left());
    return SN_Failure;
  }
  CSnEvent* event = CSnEvent::CreateEvent(id);
  if (!event) return SN_InsufficientMemory;
  const uint8_t* ids = cursor.TakeBytes(count * uint32_t(sizeof(uint32_t)));
  uint32_t stackIds[64];
  uint32_t* words = count <= 64 ? stackIds : static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, count * sizeof(uint32_t)));
  if (!words) {
    event->Release();
    return SN_InsufficientMemory;
  }
  if (count) memcpy(words, ids, count * sizeof(uint32_t));
  const SNRESULT result = event->SetActions(words, count);
  if (words != stackIds) MemoryMgr::Free(g_DefaultPoolId, words);
  if (result != SN_Success) {
    event->Release();
    return result;
  }
  out = event;
  return SN_Success;
}

}  // namespace SN
