// Growable arrays and pooled lists of the sound engine. They allocate from the default pool, report
// failure with a null or false result and keep their contents when they cannot grow.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "MemoryMgr/MemoryMgr.h"
#include "Base/PoisonRegion.h"

namespace SN {

extern SnMemPoolId g_DefaultPoolId;

namespace ArrayItems {
// Later entries move down, keeping their order.
template <typename T>
void RemoveAt(T* items, uint32_t& count, uint32_t index) {
  if (index >= count) return;
  // The last entry goes without a call: lists used as stacks and queues take it often.
  if (index + 1 < count) memmove(static_cast<void*>(items + index), items + index + 1, sizeof(T) * (count - index - 1));
  --count;
}
template <typename T>
int32_t IndexOf(const T* items, uint32_t count, const T& value) {
  for (uint32_t i = 0; i < count; ++i)
    if (memcmp(&items[i], &value, sizeof(T)) == 0) return int32_t(i);
  return -1;
}
}  // namespace ArrayItems

// Plain entries (pointers, ids, small records) with a count and a capacity.
template <typename T>
class SnArray {
  static_assert(std::is_trivially_copyable_v<T>, "entries move by copying their bytes");

 public:
  SnArray() = default;
  SnArray(const SnArray&) = delete;
  SnArray& operator=(const SnArray&) = delete;
  ~SnArray() { Term(); }

  // Room for `extra` more entries than the capacity.
  bool GrowBy(uint32_t extra) {
    const uint32_t capacity = m_capacity + extra;
    T* items = static_cast<T*>(MemoryMgr::Malign(g_DefaultPoolId, sizeof(T) * capacity, alignof(T)));
    if (!items) return false;
    if (m_count) memcpy(static_cast<void*>(items), m_items, sizeof(T) * m_count);
    MemoryMgr::Free(g_DefaultPoolId, m_items);
    m_items = items;
    m_capacity = capacity;
    return true;
  }
  T* Add(const T& value, uint32_t growth = 1) {
    if (m_count == m_capacity && !GrowBy(growth)) return nullptr;
    m_items[m_count] = value;
    return &m_items[m_count++];
  }
  T* InsertAt(uint32_t index, const T& value) {
    if (index > m_count) return nullptr;
    if (m_count == m_capacity && !GrowBy(1)) return nullptr;
    memmove(static_cast<void*>(m_items + index + 1), m_items + index, sizeof(T) * (m_count - index));
    m_items[index] = value;
    ++m_count;
    return &m_items[index];
  }
  // Later entries move down, keeping their order.
  void RemoveAt(uint32_t index) { ArrayItems::RemoveAt(m_items, m_count, index); }
  int32_t IndexOf(const T& value) const { return ArrayItems::IndexOf(m_items, m_count, value); }
  // Empty, keeping the room for the next fill.
  void Clear() { m_count = 0; }
  void Term() {
    if (m_items) MemoryMgr::Free(g_DefaultPoolId, m_items);
    m_items = nullptr;
    m_count = m_capacity = 0;
  }

  T& operator[](uint32_t index) { return m_items[index]; }
  const T& operator[](uint32_t index) const { return m_items[index]; }
  uint32_t Count() const { return m_count; }
  const T* Data() const { return m_items; }
  uint32_t Capacity() const { return m_capacity; }
  T* begin() { return m_items; }
  T* end() { return m_items + m_count; }
  const T* begin() const { return m_items; }
  const T* end() const { return m_items + m_count; }

 private:
  T* m_items = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
};

// Up to N entries in place, more in the default pool: small lists that are made and dropped often
// cost no allocation. Entries move by copying their bytes.
template <typename T, uint32_t N>
class SnInlineArray {
  static_assert(std::is_trivially_copyable_v<T>, "entries move by copying their bytes");

 public:
  SnInlineArray() = default;
  SnInlineArray(const SnInlineArray&) = delete;
  SnInlineArray& operator=(const SnInlineArray&) = delete;
  ~SnInlineArray() {
    if (m_items != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_items);
  }
  T* Add(const T& value) {
    if (m_count == m_capacity) {
      const uint32_t capacity = m_capacity * 2;
      T* items = static_cast<T*>(MemoryMgr::Malign(g_DefaultPoolId, sizeof(T) * capacity, alignof(T)));
      if (!items) return nullptr;
      memcpy(static_cast<void*>(items), m_items, sizeof(T) * m_count);
      if (m_items != m_inline) MemoryMgr::Free(g_DefaultPoolId, m_items);
      m_items = items;
      m_capacity = capacity;
    }
    m_items[m_count] = value;
    return &m_items[m_count++];
  }
  void RemoveAt(uint32_t index) { ArrayItems::RemoveAt(m_items, m_count, index); }
  int32_t IndexOf(const T& value) const { return ArrayItems::IndexOf(m_items, m_count, value); }
  void Clear() { m_count = 0; }
  const T& operator[](uint32_t index) const { return m_items[index]; }
  T& operator[](uint32_t index) { return m_items[index]; }
  uint32_t Count() const { return m_count; }
  T* begin() { return m_items; }
  T* end() { return m_items + m_count; }

 private:
  T m_inline[N];
  T* m_items = m_inline;
  uint32_t m_count = 0;
  uint32_t m_capacity = N;
};

// A singly linked list with a block of preallocated items and a free list; items beyond the block
// come from the default pool while the count is below the maximum. A list asked to keep items holds
// up to that many of the pool's on its free list once removed, for a list that fills and empties
// every frame.
template <typename Payload>
class SnPooledList {
 public:
  struct Item {
    Item* next;
    Payload payload;
  };
  static constexpr uint32_t kUnlimited = 0xFFFFFFFFu;

  SnPooledList() = default;
  SnPooledList(const SnPooledList&) = delete;
  SnPooledList& operator=(const SnPooledList&) = delete;
  ~SnPooledList() { Term(); }

  // Items come from `pool`; the default pool when none is named.
  bool Init(uint32_t preallocated, uint32_t maxCount, SnMemPoolId pool = kInvalidPoolId, uint32_t keep = 0) {
    m_pool = pool;
    m_maxCount = maxCount;
    m_keep = keep;
    m_blockCount = preallocated;
    if (preallocated) {
      m_block = static_cast<Item*>(MemoryMgr::Malign(Pool(), sizeof(Item) * preallocated, alignof(Item)));
      if (!m_block) return false;
      for (uint32_t i = 0; i < preallocated; ++i) m_block[i].next = i + 1 < preallocated ? &m_block[i + 1] : nullptr;
      m_free = m_block;
      Base::PoisonRegion(m_block, sizeof(Item) * preallocated);
    }
    return true;
  }
  void Term() {
    while (m_head) Remove(nullptr, m_head);
    // Kept items sit among the block's on the free list.
    for (Item** link = &m_free; m_kept && *link;) {
      Item* item = *link;
      Base::UnpoisonRegion(item, sizeof(Item));
      if (IsPreallocated(item)) {
        link = &item->next;
        continue;
      }
      *link = item->next;
      MemoryMgr::Free(Pool(), item);
      --m_kept;
    }
    m_kept = 0;
    if (m_block) MemoryMgr::Free(Pool(), m_block);
    m_block = nullptr;
    m_free = nullptr;
    m_blockCount = 0;
  }

  // Inserts after `prev` (null: at the head). Null when no item can be had.
  Item* Insert(Item* prev, const Payload& payload) {
    Item* item = m_free;
    if (item) {
      Base::UnpoisonRegion(item, sizeof(Item));
      m_free = item->next;
      if (!IsPreallocated(item)) --m_kept;
    } else {
      if (m_count >= m_maxCount) return nullptr;
      item = static_cast<Item*>(MemoryMgr::Malign(Pool(), sizeof(Item), alignof(Item)));
      if (!item) return nullptr;
    }
    item->payload = payload;
    Item*& link = prev ? prev->next : m_head;
    item->next = link;
    link = item;
    if (m_tail == prev) m_tail = item;
    ++m_count;
    return item;
  }
  Item* Append(const Payload& payload) { return Insert(m_tail, payload); }

  // `prev` is the item before `item` (null when `item` is the head).
  void Remove(Item* prev, Item* item) {
    (prev ? prev->next : m_head) = item->next;
    if (m_tail == item) m_tail = prev;
    --m_count;
    if (IsPreallocated(item) || m_kept < m_keep) {
      if (!IsPreallocated(item)) ++m_kept;
      item->next = m_free;
      m_free = item;
      // Free items stay poisoned until they are handed out again.
      Base::PoisonRegion(item, sizeof(Item));
    } else {
      MemoryMgr::Free(Pool(), item);
    }
  }

  Item* Head() const { return m_head; }
  Item* Tail() const { return m_tail; }
  uint32_t Count() const { return m_count; }
  bool IsPreallocated(const Item* item) const { return item >= m_block && item < m_block + m_blockCount; }

 private:
  SnMemPoolId Pool() const { return m_pool == kInvalidPoolId ? g_DefaultPoolId : m_pool; }

  Item* m_head = nullptr;
  Item* m_tail = nullptr;
  Item* m_free = nullptr;
  uint32_t m_blockCount = 0;
  uint32_t m_maxCount = kUnlimited;
  uint32_t m_count = 0;
  uint32_t m_keep = 0;
  uint32_t m_kept = 0;  // pool items on the free list
  Item* m_block = nullptr;
  SnMemPoolId m_pool = kInvalidPoolId;  // none named: the default pool
};

// Playing objects kept ordered for a limiter: priority descending, then sequence number, oldest
// first (ascending) or newest first by the owner's order flag. `T` answers Priority() (f32) and
// SequenceNumber() (u32); a priority that is not finite sorts as 50.
template <typename T>
class SnPriorityArray {
 public:
  static constexpr uint32_t kGrowth = 8;

  explicit SnPriorityArray(bool oldestFirst = false) : m_oldestFirst(oldestFirst) {}

  // False when the array cannot grow; it is unchanged then. `at`, when given, receives the index.
  bool Insert(T* item, uint32_t* at = nullptr) {
    // A new play of no other priority goes to one end, as the tie order says: a comparison tells.
    const uint32_t count = m_items.Count();
    uint32_t index = count;
    if (count && Before(item, m_items[count - 1])) index = Before(item, m_items[0]) ? 0 : PlaceOf(item, 1, count - 1);
    if (m_items.Count() == m_items.Capacity() && !m_items.GrowBy(kGrowth)) return false;
    if (at) *at = index;
    return m_items.InsertAt(index, item) != nullptr;
  }
  // `at`, when given, receives the index the item had.
  bool Remove(T* item, uint32_t* at = nullptr) {
    // Plays mostly end oldest first, found at one end as the tie order says; else a search by its
    // order meets the entry (often before its last step): no walk over the array. One whose
    // priority changed without a move is looked for entry by entry.
    const uint32_t count = m_items.Count();
    int32_t index = -1;
    if (count && m_items[0] == item) {
      index = 0;
    } else if (count && m_items[count - 1] == item) {
      index = int32_t(count - 1);
    } else {
      index = Find(item);
      if (index < 0) index = m_items.IndexOf(item);
    }
    if (index < 0) return false;
    if (at) *at = uint32_t(index);
    m_items.RemoveAt(uint32_t(index));
    return true;
  }
  // Every entry inserted again, after many priorities changed or the order flag did.
  void Resort() {
    const uint32_t count = m_items.Count();
    for (uint32_t i = 1; i < count; ++i) {
      T* item = m_items[i];
      const uint32_t place = PlaceOf(item, 0, i);
      memmove(static_cast<void*>(&m_items[place + 1]), &m_items[place], sizeof(T*) * (i - place));
      m_items[place] = item;
    }
  }
  // One entry whose priority changed moves up or down to its place.
  void Move(T* item) {
    const int32_t found = m_items.IndexOf(item);
    if (found < 0) return;
    uint32_t index = uint32_t(found);
    while (index > 0 && Before(item, m_items[index - 1])) {
      m_items[index] = m_items[index - 1];
      --index;
    }
    while (index + 1 < m_items.Count() && Before(m_items[index + 1], item)) {
      m_items[index] = m_items[index + 1];
      ++index;
    }
    m_items[index] = item;
  }
  void SetOldestFirst(bool oldestFirst) {
    if (oldestFirst == m_oldestFirst) return;
    m_oldestFirst = oldestFirst;
    Resort();
  }
  bool OldestFirst() const { return m_oldestFirst; }

  uint32_t Count() const { return m_items.Count(); }
  T* operator[](uint32_t index) const { return m_items[index]; }
  void Term() { m_items.Term(); }

  static float SortPriority(const T* item) {
    const float priority = item->Priority();
    return priority - priority == 0.0f ? priority : 50.0f;
  }
  // `a` belongs before `b`.
  bool Before(const T* a, const T* b) const {
    return Before(SortPriority(a), a->SequenceNumber(), b);
  }
  // An entry of priority `pa` and number `sa` belongs before `b`.
  template <typename Sequence>
  bool Before(float pa, Sequence sa, const T* b) const {
    const float pb = SortPriority(b);
    if (pa != pb) return pa > pb;
    return m_oldestFirst ? sa < b->SequenceNumber() : sa > b->SequenceNumber();
  }

 private:
  // The entry of `item` by its order, stopping where the search meets it; -1 when it is not where
  // its priority and number place it.
  int32_t Find(const T* item) const {
    const float priority = SortPriority(item);
    const auto sequence = item->SequenceNumber();
    uint32_t low = 0, high = m_items.Count();
    while (low < high) {
      const uint32_t mid = low + (high - low) / 2;
      if (m_items[mid] == item) return int32_t(mid);
      if (Before(priority, sequence, m_items[mid]))
        high = mid;
      else
        low = mid + 1;
    }
    return -1;
  }
  // The first place in [low, high) whose entry `item` goes before: after every equal entry.
  // The item's own priority and number are read once, not at every step of the search.
  uint32_t PlaceOf(const T* item, uint32_t low, uint32_t high) const {
    const float priority = SortPriority(item);
    const auto sequence = item->SequenceNumber();
    while (low < high) {
      const uint32_t mid = low + (high - low) / 2;
      if (Before(priority, sequence, m_items[mid]))
        high = mid;
      else
        low = mid + 1;
    }
    return low;
  }

  SnArray<T*> m_items;
  bool m_oldestFirst;
};

}  // namespace SN
