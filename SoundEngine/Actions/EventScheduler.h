// The engine's receiver of event messages: schedules the actions of posted and nested events, acts
// on and seeks what an event plays, and makes the actions a stop-all runs. Audio thread only.
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/EventReceiver.h"

namespace SN {

class CSnEvent;
class CSnPendingActionItem;

class CSnEventScheduler final : public ISnEventReceiver {
 public:
  static CSnEventScheduler& Instance();

  void ScheduleEventActions(CSnIndexedObject* event, CSnRegisteredObj* object, const SnMsgPostEvent& message) override;
  void ExecuteActionOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object, SnActionOnEvent action,
                            const TransParamsBase& transition, uint32_t playingId) override;
  void SeekOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object, const SnSeekPosition& position,
                   uint32_t playingId) override;
  CSnEventAction* CreateAction(uint16_t actionType, uint32_t actionId) override;

  // A nested play: the actions of the event of `eventId` for the record's object, playing id and play
  // parameters. SN_IdNotFound when the event is not loaded; SN_Failure when the event is already
  // being scheduled further up this chain (a cycle).
  SNRESULT ScheduleEventById(uint32_t eventId, const CSnPendingActionItem& from);

 private:
  struct PostedWith {
    const char* caller;  // for the log: the call or action that asks
    CSnRegisteredObj* object;
    uint32_t playingId;
    uint32_t lastArgument;
    const uint32_t* playParams;
    CSnRefCountedObject* externalSources;
  };
  SNRESULT Schedule(CSnEvent& event, const PostedWith& post);
  // Enters the event in the chain being followed; false (and one log line per chain) for a cycle.
  bool Enter(const CSnEvent& event);
  void Leave();
  template <typename Visit>
  void ForEachPlayTarget(CSnEvent& event, Visit&& visit);

  static constexpr uint32_t kMaxChain = 64;
  const CSnEvent* m_chain[kMaxChain] = {};
  uint32_t m_depth = 0;
  bool m_cycleLogged = false;
};

}  // namespace SN
