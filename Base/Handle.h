// Generational handles: 32-bit names for pooled objects that stop resolving once the object is removed.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace Base {

// Slot index in bits 0-15, generation in bits 16-31. A type of its own rather than a bare integer so
// that reflection gives handles their own record (null by default, their own text form) apart from
// "unsigned"; it converts to and from uint32_t so that masks, shifts and comparisons read as before.
struct Handle {
  uint32_t value;

  constexpr Handle(uint32_t bits = 0xFFFFFFFFu) : value(bits) {}
  constexpr operator uint32_t() const { return value; }
};
static_assert(sizeof(Handle) == 4);
static_assert(std::is_trivially_copyable_v<Handle>);

// The one value that means "no object" everywhere a handle can be absent.
constexpr Handle kNullHandle = 0xFFFFFFFFu;

constexpr uint16_t HandleIndex(Handle handle) { return uint16_t(handle & 0xFFFFu); }
constexpr uint16_t HandleGeneration(Handle handle) { return uint16_t(handle >> 16); }
constexpr Handle MakeHandle(uint16_t index, uint16_t generation) { return Handle(index) | (Handle(generation) << 16); }

// A flat table of slots, embedded in its owner (one per game space). Add, Remove and Resolve are
// constant time and never allocate. Released slots are reused last-in first-out; their generation
// advances on release so that old handles to them stop resolving.
class HandleManager {
 public:
  static constexpr uint32_t kSlotCount = 16384;
  // The last slot terminates the free list for the table's whole life, so one fewer can be live.
  static constexpr uint32_t kUsableSlots = kSlotCount - 1;

  HandleManager();

  // Takes a free slot for `data`; logs and returns kNullHandle when the table is full.
  Handle Add(void* data);
  // Releases the slot `handle` names. A handle that is not live (stale generation, free slot, out of
  // range, null) is reported and changes nothing, so a stale handle can never release a newcomer.
  void Remove(Handle handle);

  // The object `handle` stands for, or null when it is null, out of range, free or stale.
  void* Resolve(Handle handle) const {
    const uint32_t index = HandleIndex(handle);
    if (index >= kSlotCount) return nullptr;  // also catches kNullHandle
    const Slot& slot = m_slots[index];
    if (slot.generation != HandleGeneration(handle) || !(slot.flags & kInUse)) return nullptr;
    return slot.data;
  }

  uint32_t GetFreeCount() const { return m_freeCount; }

 private:
  static constexpr uint32_t kEndOfList = 1u << 0;
  static constexpr uint32_t kInUse = 1u << 1;

  struct Slot {
    uint16_t nextFree;    // meaningful while the slot is free
    uint16_t generation;  // wraps modulo 65536
    uint32_t flags;       // kEndOfList, kInUse
    void* data;
  };

  uint32_t m_freeCount;
  uint32_t m_firstFree;
  Slot m_slots[kSlotCount];
};

// What owners that keep a table call: a typed pointer for `handle`, or null.
template <typename T>
inline T* ResolveHandle(const HandleManager& table, Handle handle) {
  return static_cast<T*>(table.Resolve(handle));
}

// The engine's string hash: MurmurHash2 (multiplier 0x5BD1E995, shift 24); 0 for a null or empty key.
uint32_t MurmurHash2(const void* key, uint32_t length, uint32_t seed);

// Key of a name in the engine's name maps: seed 0, over the characters and the terminating zero.
inline uint32_t HashName(const char* name) {
  return name ? MurmurHash2(name, uint32_t(std::strlen(name) + 1), 0) : 0;
}

}  // namespace Base
