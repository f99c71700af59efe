// One shared object per key (a device or a context) for as long as somebody holds it.
#pragma once

#include <map>
#include <memory>
#include <mutex>

namespace DirectX {

// The pool holds only weak references; holders keep objects alive. Every object carries a
// strong reference to the map, so the map outlives the objects even when the pool itself is
// destroyed first at exit.
template <typename Key, typename T>
class SharedResourcePool {
 public:
  SharedResourcePool() : m_map(std::make_shared<ResourceMap>()) {}
  SharedResourcePool(const SharedResourcePool&) = delete;
  SharedResourcePool& operator=(const SharedResourcePool&) = delete;

  // The live object for `key`, or a new one made from the key. The map's mutex is held while
  // a new object is constructed, so construction may take other pools' mutexes (never this one).
  std::shared_ptr<T> Acquire(Key key) {
    std::lock_guard<std::mutex> lock(m_map->mutex);
    auto it = m_map->entries.find(key);
    if (it != m_map->entries.end()) {
      if (std::shared_ptr<T> live = it->second.lock()) return live;
      m_map->entries.erase(it);
    }
    auto created = std::make_shared<WrappedData>(key, m_map);
    m_map->entries.emplace(key, created);
    return created;
  }

  // Live objects in the pool (for tests).
  size_t LiveCount() const {
    std::lock_guard<std::mutex> lock(m_map->mutex);
    size_t n = 0;
    for (const auto& [key, weak] : m_map->entries) n += weak.expired() ? 0 : 1;
    return n;
  }

 private:
  struct ResourceMap {
    std::map<Key, std::weak_ptr<T>> entries;
    mutable std::mutex mutex;
  };

  struct WrappedData : T {
    WrappedData(Key key, const std::shared_ptr<ResourceMap>& map) : T(key), m_key(key), m_map(map) {}
    // Runs before T's destructor: the entry goes (unless a newer object took the key) and the
    // mutex is dropped before T is destroyed.
    ~WrappedData() {
      std::lock_guard<std::mutex> lock(m_map->mutex);
      auto it = m_map->entries.find(m_key);
      if (it != m_map->entries.end() && it->second.expired()) m_map->entries.erase(it);
    }
    Key m_key;
    std::shared_ptr<ResourceMap> m_map;
  };

  std::shared_ptr<ResourceMap> m_map;
};

}  // namespace DirectX
