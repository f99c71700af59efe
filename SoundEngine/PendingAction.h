// A scheduled action waiting for its frame: the action with the game object, playing id and play
// parameters of the event post that scheduled it.
#pragma once

#include <cstdint>

namespace SN {

class CSnEventAction;
class CSnRefCountedObject;
class CSnRegisteredObj;

class CSnPendingActionItem {
 public:
  // What a transition tells the record of a continue-playback action it drives.
  enum TransitionNotice : uint32_t {
    Notice_PlayStopDone = 0x1000000,
    Notice_PlayStopRemoves = 0x2000000,
    Notice_PauseDone = 0x8000000,
    Notice_PausePauses = 0x4000000,
  };

  CSnPendingActionItem(CSnEventAction* action, uint32_t playingId) : action(action), playingId(playingId) {}
  // Slot 0: a transition of the record's action reached an end (only continue-playback actions listen).
  virtual void TransitionNotification(uint32_t kind, bool finished);
  virtual ~CSnPendingActionItem();

  // The record holds a reference on the object until it goes; a record on the stack may borrow one
  // by setting the field directly.
  void HoldGameObject(CSnRegisteredObj* object);

  CSnEventAction* action;  // referenced while pending
  uint32_t dueFrame = 0;
  uint32_t sampleOffset = 0;  // inside the due frame
  uint32_t pausedAtFrame = 0;
  uint32_t unused0 = 0;
  uint32_t playParams[3] = {};
  CSnRefCountedObject* externalSources = nullptr;  // one reference, released with the record
  uint32_t playingId;
  uint32_t unused1 = 0;
  uint32_t pauseCount = 0;  // pauses received while already paused
  uint32_t lastArgument = 0;
  CSnRegisteredObj* gameObject = nullptr;  // null for actions that are not object-scoped
  bool holdsGameObject = false;
};

}  // namespace SN
