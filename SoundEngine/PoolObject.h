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

// `count` default-constructed objects side by side; null when the pool has no room.
template <typename T>
T* PoolNewArray(SnMemPoolId pool, size_t count) {
  void* memory = MemoryMgr::Malign(pool, sizeof(T) * count, alignof(T));
  if (!memory) return nullptr;
  T* objects = static_cast<T*>(memory);
  for (size_t i = 0; i < count; ++i) new (objects + i) T();
  return objects;
}

template <typename T>
void PoolDeleteArray(SnMemPoolId pool, T* objects, size_t count) {
  if (!objects) return;
  for (size_t i = count; i-- > 0;) objects[i].~T();
  MemoryMgr::Free(pool, objects);
}

}  // namespace SN
