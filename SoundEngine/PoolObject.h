// Construction and destruction of engine objects inside a memory pool: the allocate-then-construct
// and destroy-then-free pairs every sound-engine manager uses.
#pragma once

#include <new>
#include <utility>

#include "MemoryMgr/MemoryMgr.h"

namespace SN {

// Null when the pool has no room.
template <typename T, typename... Args>
T* PoolNew(SnMemPoolId pool, Args&&... args) {
  void* memory = MemoryMgr::Malign(pool, sizeof(T), alignof(T));
  return memory ? new (memory) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T>
void PoolDelete(SnMemPoolId pool, T* object) {
  if (!object) return;
  object->~T();
  MemoryMgr::Free(pool, object);
}

}  // namespace SN
