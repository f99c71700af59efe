// What a bus node tells the mixing graph about itself: its volume, its parameter changes, its effect
// slots and their bypass, each by bus id. The voice pipeline installs the receiver; without one the
// bus keeps its state to itself. Audio thread, under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/ServiceSlot.h"

namespace SN {

class ISnBusMixCommands {
 public:
  virtual ~ISnBusMixCommands() = default;
  virtual void SetBusVolume(uint32_t busId, float dB) = 0;
  virtual void SetBusParam(uint32_t busId, uint32_t parameterId, float value, float delta) = 0;
  virtual void SetBusBypassFX(uint32_t busId, uint32_t bits, uint32_t mask) = 0;
  // Slot 0 to 3; a larger value: every slot and the mixer.
  virtual void UpdateBusEffect(uint32_t busId, uint32_t slot) = 0;
};

inline ISnBusMixCommands*& BusMixCommands() { return ServiceSlot<ISnBusMixCommands>(); }

}  // namespace SN
