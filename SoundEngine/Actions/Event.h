// An event as banks bring it: an id and the ordered chain of its actions, each holding a reference
// the event gives back when it goes.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

struct SnStreamGather;

class CSnEvent final : public CSnIndexedObject {
 public:
  // A new event with one reference from the default pool, not yet in the index; null without memory.
  static CSnEvent* CreateEvent(uint32_t id);
  explicit CSnEvent(uint32_t id) : CSnIndexedObject(id, SnIndex_Events) {}

  // Chains the actions of `ids` in play order, each looked up in the action list. SN_ZeroActionId for
  // an id of 0, SN_Failure for an action not loaded or chained by another event (whose chain stays as
  // it is); on failure the event keeps no action.
  SNRESULT SetActions(const uint32_t* ids, uint32_t count);
  CSnEventAction* FirstAction() const { return m_pFirstAction; }
  static CSnEventAction* NextAction(const CSnEventAction* action) { return action->m_pNextInEvent; }

  // What the targets of the play actions can stream, all reached as current. Under GlobalAudioLock().
  void ForEachPlayAction(SnStreamGather& gather) const;

  // Times the event was prepared and not yet unprepared.
  uint32_t m_preparationCount = 0;

 private:
  // Any thread: the last reference may be a lookup's on the game's thread once the bank went.
  void BeforeDestroy() override;
  void ReleaseActions();

  CSnEventAction* m_pFirstAction = nullptr;
};

// The bank loader of events (HIRC type 4): id, action count, the action ids.
SNRESULT ReadEventPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& event);

}  // namespace SN
