// A typed pool over the base library's paged allocator: a fixed number of objects of one type per
// space, iterated in the order they were handed out.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "Base/PBManager.h"

namespace ZarnPhys {

template <typename T>
class ObjectPool {
 public:
  static constexpr uint32_t kObjectsPerPage = 150;
  static constexpr uint32_t kMaxPages = 15;
  static constexpr uint32_t kCapacity = kObjectsPerPage * kMaxPages;

  ObjectPool() {
    Base::PBManager::Config config;
    config.objectsPerPage = kObjectsPerPage;
    config.maxPages = kMaxPages;
    config.debug = false;
    config.headerKind = Base::PBManager::Header_None;
    config.headerSize = 0;
    config.alignment = alignof(T);
    m_pool.Init(sizeof(T), config);
  }
  ~ObjectPool() { DestroyAll(); }
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;

  // Null when the pool is full; the full pool is checked first so the allocator is never asked
  // for a page it may not add.
  template <typename... Args>
  T* Create(Args&&... args) {
    if (Full()) return nullptr;
    void* block = m_pool.Allocate();
    return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
  }
  void Destroy(T* object) {
    if (!object) return;
    object->~T();
    m_pool.Free(object);
  }
  void DestroyAll() {
    m_pool.ForEachBlock([this](void* block) { Destroy(static_cast<T*>(block)); });
  }
  bool Full() const { return m_pool.GetObjectsInUse() >= kCapacity; }
  uint32_t Count() const { return m_pool.GetObjectsInUse(); }
  // f(T*) for every live object in hand-out order; f may destroy the object it is given only.
  template <typename F>
  void ForEach(F&& f) const {
    m_pool.ForEachBlock([&f](void* block) { f(static_cast<T*>(block)); });
  }

 private:
  Base::PBManager m_pool;
};

}  // namespace ZarnPhys
