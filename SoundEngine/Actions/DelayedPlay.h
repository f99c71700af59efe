// The continue-playback action that carries a play past its initial delay: what a node asks of it.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnHierarchyNode;
struct CSnPlayParams;

class ISnDelayedPlayScheduler {
 public:
  virtual ~ISnDelayedPlayScheduler() = default;
  // Queues the play of `node` to run `delaySamples` from now, with the play's transition, play-list,
  // MIDI play mode, playing id and frame offset.
  virtual SNRESULT ScheduleDelayedPlay(CSnHierarchyNode* node, const CSnPlayParams& params, int32_t delaySamples) = 0;
};

// The engine's carrier: a continue-playback action (id 0) queued as a pending action of the audio
// manager, holding the play's node, transition, play-list (made when the play has none), MIDI event,
// play mode, playing id and frame offset.
ISnDelayedPlayScheduler& EngineDelayedPlayScheduler();

inline ISnDelayedPlayScheduler*& DelayedPlayScheduler() { return ServiceSlot<ISnDelayedPlayScheduler>(); }

}  // namespace SN
