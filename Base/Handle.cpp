// Handle table bookkeeping and the engine's string hash.
#include "Base/Handle.h"

#include "Base/TraceLog.h"

namespace Base {

HandleManager::HandleManager() : m_freeCount(kSlotCount), m_firstFree(0) {
  for (uint32_t i = 0; i < kSlotCount; ++i) m_slots[i] = Slot{uint16_t(i + 1), 0, 0, nullptr};
  m_slots[kSlotCount - 1] = Slot{0, 0, kEndOfList, nullptr};
}

Handle HandleManager::Add(void* data) {
  Slot& slot = m_slots[m_firstFree & 0xFFFFu];
  if (slot.flags & kEndOfList) {
    TraceLog::GetInstance().PrintGeneral(TraceLevel_Error, "Handle Manager has run out of slots!");
    return kNullHandle;
  }
  if (slot.flags & kInUse) {
    TraceLog::GetInstance().PrintGeneral(TraceLevel_Error, "Internal Handle Manager Error!");
    return kNullHandle;
  }
  const uint16_t index = uint16_t(m_firstFree);
  slot.flags |= kInUse;
  m_firstFree = slot.nextFree;
  slot.data = data;
  --m_freeCount;
  return MakeHandle(index, slot.generation);
}

void HandleManager::Remove(Handle handle) {
  const uint32_t index = HandleIndex(handle);
  if (index >= kSlotCount || !(m_slots[index].flags & kInUse) ||
      m_slots[index].generation != HandleGeneration(handle)) {
    TraceLog::GetInstance().PrintGeneral(TraceLevel_Warning, "Attempted to remove invalid handle!");
    return;
  }
  Slot& slot = m_slots[index];
  ++slot.generation;
  slot.flags &= ~kInUse;
  slot.data = nullptr;
  slot.nextFree = uint16_t(m_firstFree);
  ++m_freeCount;
  m_firstFree = index;
}

uint32_t MurmurHash2(const void* key, uint32_t length, uint32_t seed) {
  if (!key || length == 0) return 0;
  constexpr uint32_t m = 0x5BD1E995u;
  constexpr int r = 24;
  const auto* bytes = static_cast<const unsigned char*>(key);

  uint32_t h = seed ^ length;
  for (; length >= 4; bytes += 4, length -= 4) {
    uint32_t k = uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) |
                 (uint32_t(bytes[3]) << 24);
    k *= m;
    k ^= k >> r;
    k *= m;
    h *= m;
    h ^= k;
  }
  switch (length) {
    case 3:
      h ^= uint32_t(bytes[2]) << 16;
      [[fallthrough]];
    case 2:
      h ^= uint32_t(bytes[1]) << 8;
      [[fallthrough]];
    case 1:
      h ^= uint32_t(bytes[0]);
      h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

}  // namespace Base
