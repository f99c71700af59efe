// The process-wide index of id-addressed sound objects: twelve typed lists, each a 193-bucket hash
// table under its own lock. A lookup hands back the object with a reference added.
#pragma once

#include <cstdint>

#include "Platform/Threading.h"

namespace SN {

enum SnIndexList : uint32_t {
  SnIndex_Nodes = 0,
  SnIndex_Busses = 1,
  SnIndex_StateProperties = 2,
  SnIndex_Events = 3,
  SnIndex_Actions = 4,
  SnIndex_Layers = 5,
  SnIndex_Attenuations = 6,
  SnIndex_Modulators = 7,
  SnIndex_DynamicSequences = 8,
  SnIndex_DialogueEvents = 9,
  SnIndex_EffectDefinitions = 10,
  SnIndex_SourcePluginDefinitions = 11,
  SnIndex_ListCount = 12,
};

constexpr uint32_t kIndexBuckets = 193;
constexpr uint32_t BucketOf(uint32_t key) { return key % kIndexBuckets; }
constexpr uint32_t BucketOf(uint32_t first, uint32_t second) { return (first + second) % kIndexBuckets; }

class CSnRefCountedObject {
 public:
  virtual ~CSnRefCountedObject() = default;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
};

// An object kept in one list of the index. Begins with one reference; the last Release takes it out
// of its list before destroying it, so a lookup never returns an object on its way out.
class CSnIndexedObject : public CSnRefCountedObject {
 public:
  CSnIndexedObject(uint32_t id, SnIndexList list) : m_id(id), m_list(list) {}
  uint32_t AddRef() override;
  uint32_t Release() override;

  // Term's release of an object the engine still holds (ReleaseRuntimeObjects).
  virtual void ReleaseAtTerm() { Release(); }

  uint32_t ID() const { return m_id; }
  SnIndexList List() const { return m_list; }
  uint32_t RefCount() const { return m_refCount; }

 protected:
  // The last reference went and the object is out of its list; no list lock is held.
  virtual void BeforeDestroy() {}

 private:
  friend class CSnObjectIndexList;
  CSnIndexedObject* m_pNextInBucket = nullptr;
  uint32_t m_id;
  uint32_t m_refCount = 1;
  SnIndexList m_list;
};

class CSnObjectIndexList {
 public:
  // Null when absent; otherwise the object with one more reference.
  CSnIndexedObject* FindAndAddRef(uint32_t id);
  // Runs `visit` on the object under the list's lock, which keeps it from going meanwhile: one lock
  // instead of the two of a reference taken and given back. False when absent. The visitor may not
  // take another list's lock nor release the object.
  template <typename Visit>
  bool WithObject(uint32_t id, Visit&& visit) {
    Platform::ReentrantGuard guard(m_lock);
    for (CSnIndexedObject* object = m_buckets[BucketOf(id)]; object; object = object->m_pNextInBucket) {
      if (object->m_id != id) continue;
      visit(object);
      return true;
    }
    return false;
  }
  void Insert(CSnIndexedObject* object);
  // Unlinks this object (not merely one with its id, which a newer object may share while the old
  // one is being released); the caller holds the lock.
  void RemoveItem(CSnIndexedObject* object);
  uint32_t Count() const { return m_count; }
  Platform::ReentrantLock& Lock() { return m_lock; }

  // Visits buckets 0 to 192, each newest first. The visitor may not change the list. An empty list
  // (often the dynamic sequences') is told by its count, not by looking at every bucket.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    Platform::ReentrantGuard guard(m_lock);
    if (m_count == 0) return;
    for (CSnIndexedObject* head : m_buckets)
      for (CSnIndexedObject* object = head; object; object = object->m_pNextInBucket) visit(object);
  }

 private:
  friend class CSnObjectIndex;
  Platform::ReentrantLock m_lock;
  CSnIndexedObject* m_buckets[kIndexBuckets] = {};
  uint32_t m_count = 0;
};

struct SnNodeKey {
  uint32_t nodeId;
  bool isBus;
};

class CSnObjectIndex {
 public:
  CSnObjectIndexList& List(SnIndexList list) { return m_lists[list]; }
  CSnObjectIndexList& GetNodeList(bool isBus) { return m_lists[isBus ? SnIndex_Busses : SnIndex_Nodes]; }
  CSnIndexedObject* FindNodeAndAddRef(uint32_t id, bool isBus) { return GetNodeList(isBus).FindAndAddRef(id); }
  CSnIndexedObject* FindNodeByKeyAndAddRef(const SnNodeKey& key) { return FindNodeAndAddRef(key.nodeId, key.isBus); }

  // Before the managers go: releases the objects the engine made at run time (ids with the top bit)
  // of lists 0 and 11, and the dynamic sequences still open.
  void ReleaseRuntimeObjects();

 private:
  CSnObjectIndexList m_lists[SnIndex_ListCount];
};

// Null while the sound engine is not initialised.
extern CSnObjectIndex* g_pObjectIndex;

}  // namespace SN
