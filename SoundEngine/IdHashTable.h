// The 193-bucket id-keyed hash table the sound engine's managers keep their records in; nodes come
// from the table's own memory pool. No lock of its own: the owner says what guards it.
#pragma once

#include <cstdint>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

template <typename T>
class SnIdHashTable193 {
 public:
  struct Node {
    Node* next;
    uint32_t key;
    T value;
  };
  struct Iterator {
    Node** buckets = nullptr;
    uint32_t bucket = 0;
    Node* node = nullptr;
    Node* prev = nullptr;
    bool AtEnd() const { return node == nullptr; }
  };

  void Init(SnMemPoolId pool) {
    m_pool = pool;
    for (Node*& head : m_buckets) head = nullptr;
    m_count = 0;
  }
  void Term() {
    RemoveAll();
    m_pool = kInvalidPoolId;
  }
  bool IsInitialized() const { return m_pool != kInvalidPoolId; }
  uint32_t Count() const { return m_count; }

  T* Find(uint32_t key) {
    for (Node* node = m_buckets[BucketOf(key)]; node; node = node->next)
      if (node->key == key) return &node->value;
    return nullptr;
  }

  // The value of the key, inserted zeroed when absent; null when the pool is exhausted.
  T* FindOrInsert(uint32_t key) {
    if (T* found = Find(key)) return found;
    void* memory = NodeMemory(m_pool);
    return memory ? Insert(memory, key) : nullptr;
  }

  // Memory for one node of a table of `pool`, taken ahead of its insertion on any thread (the pools
  // lock themselves); given to Insert, or back to the pool.
  static void* NodeMemory(SnMemPoolId pool) { return MemoryMgr::Malign(pool, sizeof(Node), alignof(Node)); }
  // The zeroed value of an absent key, in node memory from NodeMemory of this table's pool.
  T* Insert(void* memory, uint32_t key) {
    Node* node = new (memory) Node{nullptr, key, T{}};
    Node*& head = m_buckets[BucketOf(key)];
    node->next = head;
    head = node;
    ++m_count;
    return &node->value;
  }

  Iterator FindWithPrev(uint32_t key) {
    Iterator it{m_buckets, BucketOf(key), nullptr, nullptr};
    for (Node* node = m_buckets[it.bucket]; node; it.prev = node, node = node->next) {
      if (node->key == key) {
        it.node = node;
        return it;
      }
    }
    it.prev = nullptr;
    return it;
  }

  Iterator Begin() {
    Iterator it{m_buckets, 0, nullptr, nullptr};
    SkipEmpty(it);
    return it;
  }

  void Next(Iterator& it) {
    it.prev = it.node;
    it.node = it.node->next;
    if (!it.node) {
      ++it.bucket;
      it.prev = nullptr;
      SkipEmpty(it);
    }
  }

  // Unlinks and frees the node; the iterator moves on to the next node.
  Iterator Erase(Iterator it) {
    Node* node = it.node;
    Node* next = node->next;
    if (it.prev)
      it.prev->next = next;
    else
      m_buckets[it.bucket] = next;
    node->~Node();
    MemoryMgr::Free(m_pool, node);
    --m_count;
    it.node = next;
    if (!next) {
      ++it.bucket;
      it.prev = nullptr;
      SkipEmpty(it);
    }
    return it;
  }

  void RemoveAll() {
    for (Node*& head : m_buckets) {
      while (Node* node = head) {
        head = node->next;
        node->~Node();
        MemoryMgr::Free(m_pool, node);
      }
    }
    m_count = 0;
  }

 private:
  void SkipEmpty(Iterator& it) {
    while (it.bucket < kIndexBuckets && !m_buckets[it.bucket]) ++it.bucket;
    it.node = it.bucket < kIndexBuckets ? m_buckets[it.bucket] : nullptr;
  }

  SnMemPoolId m_pool = kInvalidPoolId;
  Node* m_buckets[kIndexBuckets] = {};
  uint32_t m_count = 0;
};

// The 193-bucket table keyed by an id and a pointer together (a bank loaded from a file and the same
// bank loaded from an image are two records). Intrusive: a record carries its own link, so lookups
// and removals allocate nothing; T exposes `PairId()`, `PairPointer()` and `NextInBucket()`. No lock
// of its own.
template <typename T>
class SnIdPairHashTable193 {
 public:
  // Pointer-wide sum, reduced in 64 bits.
  static uint32_t BucketOfPair(uint32_t id, const void* pointer) {
    return uint32_t((uint64_t(id) + uint64_t(reinterpret_cast<uintptr_t>(pointer))) % kIndexBuckets);
  }

  T* Find(uint32_t id, const void* pointer) const {
    for (T* item = m_buckets[BucketOfPair(id, pointer)]; item; item = item->NextInBucket())
      if (item->PairId() == id && item->PairPointer() == pointer) return item;
    return nullptr;
  }
  void Insert(T* item) {
    T*& head = m_buckets[BucketOfPair(item->PairId(), item->PairPointer())];
    item->NextInBucket() = head;
    head = item;
    ++m_count;
  }
  // False when this item is not in the table.
  bool Remove(T* item) {
    for (T** link = &m_buckets[BucketOfPair(item->PairId(), item->PairPointer())]; *link;
         link = &(*link)->NextInBucket()) {
      if (*link != item) continue;
      *link = item->NextInBucket();
      item->NextInBucket() = nullptr;
      --m_count;
      return true;
    }
    return false;
  }
  uint32_t Count() const { return m_count; }
  // Buckets 0 to 192, each newest first; the visitor may not change the table.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (T* head : m_buckets)
      for (T* item = head; item; item = item->NextInBucket()) visit(item);
  }

 private:
  T* m_buckets[kIndexBuckets] = {};
  uint32_t m_count = 0;
};

}  // namespace SN
