// The sound engine's game-facing calls on ids and names: the name hash that every by-name call and
// the file packages use.
#pragma once

#include <cstdint>

namespace SN::SoundEngine {

// Null gives 0. At most the first 259 characters of a narrow name count (258 of a 16-bit name,
// narrowed as the sound engine narrows all 16-bit text); A-Z count as a-z. 32-bit FNV-1.
uint32_t GetIDFromString(const char* name);
uint32_t GetIDFromString(const char16_t* name);

}  // namespace SN::SoundEngine
