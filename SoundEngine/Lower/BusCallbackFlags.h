// What the bus callbacks tell the voice pipeline: which buses want volume and metering callbacks.
// The voice pipeline installs the receiver; until then the words go nowhere.
#pragma once

#include <cstdint>

namespace SN {

class ISnBusCallbackFlags {
 public:
  virtual ~ISnBusCallbackFlags() = default;
  virtual void SetBusVolumeCallbackFlag(uint32_t busId, bool hasCallback) = 0;
  virtual void SetBusMeteringFlags(uint32_t busId, uint32_t flags) = 0;
};

namespace LowerEngine {
void InstallBusCallbackFlags(ISnBusCallbackFlags* receiver);
void SetBusVolumeCallbackFlag(uint32_t busId, bool hasCallback);
void SetBusMeteringFlags(uint32_t busId, uint32_t flags);
}  // namespace LowerEngine
}  // namespace SN
