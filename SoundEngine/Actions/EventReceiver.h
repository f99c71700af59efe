// What the queued event messages ask of events and their actions: scheduling a posted event's
// actions, acting on or seeking its playing sounds, and making the one-off actions of a stop-all.
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/GameSyncs/ValueChange.h"
#include "SoundEngine/Messages.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnRegisteredObj;

enum SnActionOnEvent : uint32_t {
  SnActionOnEvent_Stop = 0,
  SnActionOnEvent_Pause = 1,
  SnActionOnEvent_Resume = 2,
  SnActionOnEvent_Break = 3,
};

struct SnSeekPosition {
  int32_t milliseconds;  // when not a fraction
  float fraction;        // of the sound's length
  bool isFraction;
  bool seekToNearestMarker;
};

class ISnEventReceiver {
 public:
  virtual ~ISnEventReceiver() = default;
  // Schedules every action of the event for the object (null when it is not registered) with the
  // message's playing id and play parameters. The event stays the caller's.
  virtual void ScheduleEventActions(CSnIndexedObject* event, CSnRegisteredObj* object,
                                    const SnMsgPostEvent& message) = 0;
  // Object null: all objects; playing id 0: all of them.
  virtual void ExecuteActionOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object, SnActionOnEvent action,
                                    const TransParamsBase& transition, uint32_t playingId) = 0;
  virtual void SeekOnEvent(CSnIndexedObject* event, CSnRegisteredObj* object, const SnSeekPosition& position,
                           uint32_t playingId) = 0;
  // A new action of the type with one reference, from the default pool; null when none can be made.
  virtual CSnEventAction* CreateAction(uint16_t actionType, uint32_t actionId) = 0;
};

inline ISnEventReceiver*& EventReceiver() { return ServiceSlot<ISnEventReceiver>(); }

}  // namespace SN
