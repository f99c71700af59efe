// The game-sync managers' share of sound-engine start-up and shut-down, in the engine's fixed order.
#pragma once

#include "MemoryMgr/SnResult.h"

namespace SN {

struct SnInitSettings;

// Creates each manager whose global is still null and runs its Init; stops at the first failure.
SNRESULT CreateGameSyncManagers(const SnInitSettings& settings);
// Before the voices go: the modulator links are dropped.
void TermModulatorContents();
// Paths, transitions, registry, callbacks, positions, environment curves, then switches, states,
// parameters and links.
void TermGameSyncManagers();

// Once per audio frame, with the frame being rendered.
void ProcessGameSyncFrame(uint32_t frame);
// After a frame's messages: the positioning of registered objects.
void UpdateGameObjectPositioning();

}  // namespace SN
