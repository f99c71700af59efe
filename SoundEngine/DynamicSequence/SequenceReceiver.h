// What the queued dynamic-sequence messages ask of the sequences: binding one to its game object,
// and its playback commands.
#pragma once

#include <cstdint>

#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnRegisteredObj;

enum SnSequenceCommand : uint32_t {
  SnSequence_Play = 0,
  SnSequence_Pause = 1,
  SnSequence_Resume = 2,
  SnSequence_Close = 3,
  SnSequence_Stop = 4,
  SnSequence_Break = 5,
  SnSequence_WakeUpAfterUnlock = 6,
};

class ISnSequenceReceiver {
 public:
  virtual ~ISnSequenceReceiver() = default;
  virtual void BindSequence(CSnIndexedObject* sequence, CSnRegisteredObj* object, uint32_t playingId) = 0;
  virtual void RunSequenceCommand(CSnIndexedObject* sequence, SnSequenceCommand command, int32_t transitionMs,
                                  uint32_t curve) = 0;
};

inline ISnSequenceReceiver*& SequenceReceiver() { return ServiceSlot<ISnSequenceReceiver>(); }

}  // namespace SN
