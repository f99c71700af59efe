// The engine's built-in gain effect: scales a voice or a bus by a level in decibels that banks set
// and game parameters drive. Registered with the plug-in registry at every Init.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Effects/Plugin.h"

namespace SN {

// Company 0 is the engine's own.
constexpr uint32_t kBuiltInCompanyId = 0;
constexpr uint32_t kGainEffectPluginId = 1;
// The key effect definitions name it by: PluginKey(SnPluginType_Effect, 0, 1).
constexpr uint32_t kGainEffectKey = ((kGainEffectPluginId << 12) + kBuiltInCompanyId) * 16u + SnPluginType_Effect;
// Its one parameter, the level in decibels: the whole bank block (an f32, or nothing for 0 dB) and
// the id a game parameter drives it by.
constexpr uint32_t kGainEffectLevelParam = 0;

// Registers the built-in plug-ins the game has not registered under their keys itself.
SNRESULT RegisterBuiltInPlugins();

}  // namespace SN
