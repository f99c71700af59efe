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
  CSnPendingActionItem(CSnEventAction* action, uint32_t playingId) : action(action), playingId(playingId) {}
  virtual ~CSnPendingActionItem();

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
};

}  // namespace SN
