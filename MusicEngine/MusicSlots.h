// Room inside a music context for the few small records it makes and frees most often (chain items,
// scheduled actions): a switch or a track change makes them by the handful, and from here they cost
// no trip to the pool. Past the room they come from the default pool as before.
//
// Threads: those of the owner; the owner frees every record it made before it goes.
#pragma once

#include <bit>
#include <cstdint>
#include <new>
#include <utility>

#include "Base/Assert.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

template <typename T, uint32_t N>
class SnMusicSlots {
  static_assert(N >= 1 && N <= 32, "a slot's use is one bit of a word");

 public:
  SnMusicSlots() = default;
  SnMusicSlots(const SnMusicSlots&) = delete;
  SnMusicSlots& operator=(const SnMusicSlots&) = delete;
  ~SnMusicSlots() { ORV_ASSERT(m_used == 0); }

  // Null when the room is full and the pool has none.
  template <typename... Args>
  T* New(Args&&... args) {
    if (m_used == kAll) return PoolNew<T>(g_DefaultPoolId, std::forward<Args>(args)...);
    const uint32_t slot = uint32_t(std::countr_one(m_used));
    m_used |= 1u << slot;
    return new (m_room[slot]) T(std::forward<Args>(args)...);
  }

  void Delete(T* object) {
    if (!object) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(object);
    const uintptr_t first = reinterpret_cast<uintptr_t>(m_room[0]);
    if (at < first || at >= first + sizeof(m_room)) {
      PoolDelete(g_DefaultPoolId, object);
      return;
    }
    const uint32_t slot = uint32_t((at - first) / sizeof(T));
    ORV_ASSERT(m_used & (1u << slot));
    object->~T();
    m_used &= ~(1u << slot);
  }

 private:
  static constexpr uint32_t kAll = N == 32 ? ~0u : (1u << N) - 1;
  alignas(T) unsigned char m_room[N][sizeof(T)];
  uint32_t m_used = 0;
};

}  // namespace SN
