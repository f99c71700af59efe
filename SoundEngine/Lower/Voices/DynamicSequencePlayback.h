// What a dynamic sequence asks of the voice pipeline's dynamic-sequence playback instances: play one
// item's node as a continuous performance of the sequence, and pause, resume, stop or end the plays
// of an item's node. The instance asks the sequence for its next item (GetNextToPlay) as its item
// ends and reports the end through the playing id's callbacks. Init fills the slot when it is empty.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnDynamicSequence;
class CSnIndexedObject;
class CSnRegisteredObj;

// One item to play: the node (referenced for the call), and the play parameters the sequence fills.
struct SnSequenceItemPlay {
  CSnDynamicSequence* sequence;  // the owner of the performance (play kind 2)
  CSnIndexedObject* node;
  CSnRegisteredObj* gameObject;
  uint32_t playingId;
  int32_t fadeMs;
  uint32_t curve;
  uint32_t delaySamples;  // (sample rate / 1000) x the item's delay in milliseconds
  uint32_t continuityId;
  void* customInfo;
};

enum SnSequenceItemAction : uint32_t {
  SnSequenceItem_Pause = 0,
  SnSequenceItem_Resume = 1,
  SnSequenceItem_Stop = 2,   // with the fade
  SnSequenceItem_Break = 3,  // the node ends after its current play, without a fade
};

// Audio thread, under GlobalAudioLock().
class ISnDynamicSequencePlayback {
 public:
  virtual ~ISnDynamicSequencePlayback() = default;
  virtual SNRESULT PlayItem(const SnSequenceItemPlay& play) = 0;
  virtual void ActOnItem(uint32_t nodeId, SnSequenceItemAction action, CSnRegisteredObj* gameObject,
                         uint32_t playingId, int32_t fadeMs, uint32_t curve) = 0;
};

inline ISnDynamicSequencePlayback*& DynamicSequencePlayback() { return ServiceSlot<ISnDynamicSequencePlayback>(); }

// The engine's playback, put in the slot by Init when it is empty and taken out by Term.
void InstallDynamicSequencePlayback();
void RemoveDynamicSequencePlayback();

}  // namespace SN
