// The plug-in allocator over the lower engine's pool.
#include "SoundEngine/Effects/PluginMemAlloc.h"

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {

void* CSnPluginMemAlloc::Malloc(size_t size) { return MemoryMgr::Malign(g_LEngineDefaultPoolId, size, 16); }

void CSnPluginMemAlloc::Free(void* pointer) {
  if (pointer) MemoryMgr::Falign(g_LEngineDefaultPoolId, pointer);
}

CSnPluginMemAlloc& PluginAllocator() {
  static CSnPluginMemAlloc allocator;
  return allocator;
}

}  // namespace SN
