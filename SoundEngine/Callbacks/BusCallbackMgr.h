// Volume and metering callbacks registered per bus. A bus callback runs under this registry's lock,
// which is re-entrant so that the callback may register or remove callbacks itself.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"

namespace SN {

using SnBusVolumeCallback = void (*)(void* info);
using SnBusMeteringCallback = void (*)(void* metering, uint32_t channelConfig, uint32_t flags);

class CSnBusCallbackMgr {
 public:
  static CSnBusCallbackMgr& Get();

  // A null callback removes the registration.
  SNRESULT RegisterBusVolumeCallback(uint32_t busId, SnBusVolumeCallback callback);
  // A null callback with flags removes the registration.
  SNRESULT RegisterBusMeteringCallback(uint32_t busId, SnBusMeteringCallback callback, uint32_t flags);
  bool HasVolumeCallback(uint32_t busId);
  uint32_t GetMeteringFlags(uint32_t busId);
  bool DoVolumeCallback(uint32_t busId, void* info);
  bool DoMeteringCallback(uint32_t busId, void* metering, uint32_t channelConfig);
  void Clear();

 private:
  struct Volume {
    uint32_t busId;
    SnBusVolumeCallback callback;
  };
  struct Metering {
    uint32_t busId;
    SnBusMeteringCallback callback;
    uint32_t flags;
  };
  template <typename T>
  static T* Find(SnArray<T>& list, uint32_t busId) {
    for (T& entry : list)
      if (entry.busId == busId) return &entry;
    return nullptr;
  }
  template <typename T>
  static void Remove(SnArray<T>& list, uint32_t busId) {
    for (uint32_t i = 0; i < list.Count(); ++i)
      if (list[i].busId == busId) return list.RemoveAt(i);
  }

  SnArray<Volume> m_volume;
  SnArray<Metering> m_metering;
  Platform::ReentrantLock m_lock;
};

}  // namespace SN
