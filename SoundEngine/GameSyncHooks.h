// The two slots through which the music engine joins the sound engine: a loader for the bank object
// types it owns, and a hook asked before every state change.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnLoadedBank;

struct SnHircObjectHeader {
  uint8_t type;
  uint32_t size;
};

// 3 for a type the loader does not take.
using SnExtraHircObjectLoader = SNRESULT (*)(const SnHircObjectHeader& header, CSnLoadedBank* bank, uint32_t bankId);
// True: the hook takes the change over and applies it later.
using SnStateChangeHook = bool (*)(uint32_t stateGroupId, uint32_t stateId);

namespace SoundEngine {

void SetExtraHircObjectLoader(SnExtraHircObjectLoader loader);
SnExtraHircObjectLoader ExtraHircObjectLoader();
void SetStateChangeHook(SnStateChangeHook hook);
SnStateChangeHook StateChangeHook();

}  // namespace SoundEngine
}  // namespace SN
