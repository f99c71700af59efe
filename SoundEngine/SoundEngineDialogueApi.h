// The game's resolution of dialogue events: argument values (ids, or names hashed as every by-name
// call hashes them) to the audio node the event's decision tree chooses. Runs on the caller's thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN::SoundEngine::DynamicDialogue {

// 0 when the event is not loaded, the engine is not running, the count is not the tree's depth or
// the tree chooses nothing. `idSequence` is the caller's own mark and is not used.
uint32_t ResolveDialogueEvent(uint32_t eventId, const uint32_t* argumentValueIds, uint32_t count,
                              uint32_t idSequence = 0);
// Empty names stand for the default value (0); a null name is refused (0).
uint32_t ResolveDialogueEvent(const char* eventName, const char* const* argumentValueNames, uint32_t count,
                              uint32_t idSequence = 0);
uint32_t ResolveDialogueEvent(const char16_t* eventName, const char16_t* const* argumentValueNames, uint32_t count,
                              uint32_t idSequence = 0);

}  // namespace SN::SoundEngine::DynamicDialogue
