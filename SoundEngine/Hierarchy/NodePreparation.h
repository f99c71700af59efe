// What bank preparation asks of hierarchy nodes: loading the media a node plays before it plays,
// and letting them go again.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

// Called by the bank manager's preparation commands, on the thread that runs them.
class ISnNodePreparation {
 public:
  virtual ~ISnNodePreparation() = default;
  // The node of `nodeId` loads its media (through the bank manager's PrepareMedia) and keeps a
  // reference of its own; SN_Failure when no such node is loaded.
  virtual SNRESULT PrepareNodeData(uint32_t nodeId) = 0;
  virtual void UnprepareNodeData(uint32_t nodeId) = 0;
};

inline ISnNodePreparation*& NodePreparation() { return ServiceSlot<ISnNodePreparation>(); }
// What the engine installs at Init: the nodes' own PrepareData and UnprepareData, under
// GlobalAudioLock().
ISnNodePreparation& HierarchyNodePreparation();

}  // namespace SN
