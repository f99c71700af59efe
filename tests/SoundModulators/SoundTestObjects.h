// Stand-ins the modulator and MIDI tests hand to the code under test: a node as far as something
// holds a reference to it, and voices that are only addresses.
#pragma once

#include <cstdint>

#include "SoundEngine/ObjectIndex.h"

namespace ModulationTest {

// A reference-counted object of the node list, made with PoolNew (its last Release frees it).
struct HeldNode final : SN::CSnIndexedObject {
  explicit HeldNode(uint32_t id) : CSnIndexedObject(id, SN::SnIndex_Nodes) {}
};

inline SN::CSnPlaybackInstance* FakeVoice(uintptr_t n) { return reinterpret_cast<SN::CSnPlaybackInstance*>(n * 64); }

}  // namespace ModulationTest
