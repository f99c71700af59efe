// Stand-ins the modulator and MIDI tests hand to the code under test: a node as far as something
// holds a reference to it, and voices that are only addresses.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "SoundEngine/Banks/SoundBankManager.h"

#include "SoundEngine/ObjectIndex.h"

namespace ModulationTest {

// A reference-counted object of the node list, made with PoolNew (its last Release frees it).
struct HeldNode final : SN::CSnIndexedObject {
  explicit HeldNode(uint32_t id) : CSnIndexedObject(id, SN::SnIndex_Nodes) {}
};

// Loads a bank image the test keeps alive in `images`; a loaded bank's id joins `loaded` for the unloading.
inline SN::SNRESULT LoadKeptImage(std::vector<std::vector<uint8_t>>& images, std::vector<uint32_t>& loaded,
                                  std::vector<uint8_t> image) {
  images.push_back(std::move(image));
  uint32_t id = 0;
  const SN::SNRESULT result =
      SN::g_pBankManager->LoadBankImageWait(images.back().data(), uint32_t(images.back().size()), true, -1, &id);
  if (result == SN::SN_Success) loaded.push_back(id);
  return result;
}

inline SN::CSnPlaybackInstance* FakeVoice(uintptr_t n) { return reinterpret_cast<SN::CSnPlaybackInstance*>(n * 64); }

}  // namespace ModulationTest
