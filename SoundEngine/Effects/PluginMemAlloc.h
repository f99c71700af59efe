// The one allocator every plug-in, cloned parameter object and plug-in release goes through: 16-byte
// aligned blocks of the lower engine's pool. Any thread.
#pragma once

#include "SoundEngine/Effects/Plugin.h"

namespace SN {

class CSnPluginMemAlloc final : public ISnPluginMemAlloc {
 public:
  void* Malloc(size_t size) override;
  void Free(void* pointer) override;
};

// The engine-wide instance.
CSnPluginMemAlloc& PluginAllocator();

}  // namespace SN
