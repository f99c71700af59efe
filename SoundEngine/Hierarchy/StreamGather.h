// What a node tree can stream for one game object: the sources of the current switch and state
// values, those of the other values, and the groups the choice between them follows. Read by the
// stream-cache pinning of events.
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnRegisteredObj;

struct SnGatheredGroup {
  uint32_t type;  // 0 a switch group, 1 a state group
  uint32_t groupId;
};

struct SnStreamGather {
  CSnRegisteredObj* gameObject = nullptr;  // null: the values of every object
  // A value that has just changed and may not be stored yet: it wins over the stored one.
  uint32_t changedGroup = 0;
  uint32_t changedValue = 0;
  // Copies that share any owned block of the nodes' descriptors; they live no longer than the walk.
  SnArray<CSnSourceDesc> current;
  SnArray<CSnSourceDesc> others;
  SnArray<SnGatheredGroup> groups;
};

}  // namespace SN
