// Compact property stores of nodes and playing objects: a count, one-byte property ids, then the
// values at the first 4-aligned offset after the ids. One block from the default pool, grown by one
// property at a time. Values sit only 4-aligned, so they are read and written with memcpy.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "MemoryMgr/MemoryMgr.h"
#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

template <uint32_t kValueSize>
class SnPropertyBlob {
 public:
  static constexpr uint32_t kValueBytes = kValueSize;
  // The count is one byte.
  static constexpr uint32_t kMaxProperties = 255;

  SnPropertyBlob() = default;
  SnPropertyBlob(const SnPropertyBlob&) = delete;
  SnPropertyBlob& operator=(const SnPropertyBlob&) = delete;
  ~SnPropertyBlob() { Term(); }

  static constexpr uint32_t ValueOffset(uint32_t count) { return (count + 4) & ~3u; }
  static constexpr uint32_t BlockSize(uint32_t count) { return ValueOffset(count) + kValueSize * count; }

  uint32_t Count() const { return m_block ? m_block[0] : 0; }
  uint8_t IdAt(uint32_t index) const { return m_block[1 + index]; }
  // The index of `id`, or -1.
  int32_t Find(uint32_t id) const {
    const uint32_t count = Count();
    for (uint32_t i = 0; i < count; ++i)
      if (m_block[1 + i] == id) return int32_t(i);
    return -1;
  }
  bool Has(uint32_t id) const { return Find(id) >= 0; }
  uint8_t* ValueAt(uint32_t index) { return m_block + ValueOffset(Count()) + kValueSize * index; }
  const uint8_t* ValueAt(uint32_t index) const { return m_block + ValueOffset(Count()) + kValueSize * index; }
  // The whole block as it lies in memory (null while empty).
  const uint8_t* Block() const { return m_block; }

  // A new value slot for `id` (contents not set); null when out of memory or when the one-byte count
  // would wrap. The set is unchanged on failure.
  uint8_t* AddProperty(uint8_t id) {
    const uint32_t count = Count();
    if (count >= kMaxProperties) return nullptr;
    uint8_t* block = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, BlockSize(count + 1), 4));
    if (!block) return nullptr;
    memset(block, 0, ValueOffset(count + 1));
    if (count) {
      memcpy(block + 1, m_block + 1, count);
      memcpy(block + ValueOffset(count + 1), m_block + ValueOffset(count), kValueSize * count);
      MemoryMgr::Free(g_DefaultPoolId, m_block);
    }
    block[0] = uint8_t(count + 1);
    block[1 + count] = id;
    m_block = block;
    return ValueAt(count);
  }

  template <typename T>
  bool Get(uint32_t id, T& out) const {
    static_assert(sizeof(T) <= kValueSize && std::is_trivially_copyable_v<T>);
    const int32_t index = Find(id);
    if (index < 0) return false;
    memcpy(&out, ValueAt(uint32_t(index)), sizeof(T));
    return true;
  }
  template <typename T>
  T GetOr(uint32_t id, T fallback) const {
    Get(id, fallback);
    return fallback;
  }
  // Writes the value, adding the id when absent: SN_Failure when the block cannot grow.
  template <typename T>
  SNRESULT Set(uint8_t id, const T& value) {
    static_assert(sizeof(T) <= kValueSize && std::is_trivially_copyable_v<T>);
    const int32_t index = Find(id);
    uint8_t* slot = index >= 0 ? ValueAt(uint32_t(index)) : AddProperty(id);
    if (!slot) return SN_Failure;
    memcpy(slot, &value, sizeof(T));
    return SN_Success;
  }

  // The bank form, unpadded: {u8 count N, N ids, N values}. Replaces the contents; SN_Failure when the
  // block crosses `end` (nothing is kept then) or cannot be allocated.
  SNRESULT ReadFromBank(const uint8_t*& cursor, const uint8_t* end) {
    if (cursor >= end) return SN_Failure;
    const uint32_t count = cursor[0];
    if (uint64_t(end - cursor) < 1 + uint64_t(count) * (1 + kValueSize)) return SN_Failure;
    Term();
    if (count) {
      uint8_t* block = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, BlockSize(count), 4));
      if (!block) return SN_Failure;
      memset(block, 0, ValueOffset(count));
      memcpy(block, cursor, 1 + count);
      memcpy(block + ValueOffset(count), cursor + 1 + count, kValueSize * count);
      m_block = block;
    }
    cursor += 1 + count * (1 + kValueSize);
    return SN_Success;
  }

  void Term() {
    if (m_block) MemoryMgr::Free(g_DefaultPoolId, m_block);
    m_block = nullptr;
  }

 private:
  uint8_t* m_block = nullptr;
};

// Constant values of 4 bytes (f32, or u32/i32 by property): a node's property bundle.
using SnPropertyBlob4 = SnPropertyBlob<4>;
// {f32 minimum, f32 maximum} offsets: a node's ranged bundle.
using SnPropertyBlob8 = SnPropertyBlob<8>;

struct SnPropertyRange {
  float min;
  float max;
};

}  // namespace SN
