// What the bus callbacks tell the bus graph: which buses want volume and metering callbacks.
// The lower engine's Init installs the graph as the receiver when none is; until then the words go
// nowhere. The setters run under GlobalAudioLock(), never under the callback registry's lock.
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
ISnBusCallbackFlags* InstalledBusCallbackFlags();
void SetBusVolumeCallbackFlag(uint32_t busId, bool hasCallback);
void SetBusMeteringFlags(uint32_t busId, uint32_t flags);
}  // namespace LowerEngine
}  // namespace SN
