// Locked lookups and reference counts of indexed objects.
#include "SoundEngine/ObjectIndex.h"

#include <atomic>
#include <vector>

#include "Base/Assert.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnObjectIndex* g_pObjectIndex = nullptr;

// The count is changed atomically everywhere; only its step to zero takes the list's lock, which
// lookups hold while they add their reference, so a lookup never revives an object on its way out.
// The others need no lock: a caller of AddRef holds a reference, and a release that leaves one
// behind cannot be the last.
uint32_t CSnIndexedObject::AddRef() {
  ORV_ASSERT(g_pObjectIndex);
  return std::atomic_ref<uint32_t>(m_refCount).fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CSnIndexedObject::Release() {
  ORV_ASSERT(g_pObjectIndex);
  std::atomic_ref<uint32_t> refs(m_refCount);
  for (uint32_t seen = refs.load(std::memory_order_relaxed); seen > 1;)
    if (refs.compare_exchange_weak(seen, seen - 1, std::memory_order_release, std::memory_order_relaxed))
      return seen - 1;
  CSnObjectIndexList& list = g_pObjectIndex->List(m_list);
  uint32_t count;
  {
    Platform::ReentrantGuard guard(list.Lock());
    ORV_ASSERT(refs.load(std::memory_order_relaxed) > 0);
    count = refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    // Out of the bucket before anything else, while the lookups are held off.
    if (count == 0) list.RemoveItem(this);
  }
  if (count == 0) {
    BeforeDestroy();
    PoolDelete(g_DefaultPoolId, this);
  }
  return count;
}

CSnIndexedObject* CSnObjectIndexList::FindAndAddRef(uint32_t id) {
  Platform::ReentrantGuard guard(m_lock);
  for (CSnIndexedObject* object = m_buckets[BucketOf(id)]; object; object = object->m_pNextInBucket) {
    if (object->m_id == id) {
      std::atomic_ref<uint32_t>(object->m_refCount).fetch_add(1, std::memory_order_relaxed);
      return object;
    }
  }
  return nullptr;
}

void CSnObjectIndexList::Insert(CSnIndexedObject* object) {
  Platform::ReentrantGuard guard(m_lock);
  CSnIndexedObject*& head = m_buckets[BucketOf(object->m_id)];
  object->m_pNextInBucket = head;
  head = object;
  ++m_count;
}

void CSnObjectIndexList::RemoveItem(CSnIndexedObject* object) {
  for (CSnIndexedObject** link = &m_buckets[BucketOf(object->m_id)]; *link; link = &(*link)->m_pNextInBucket) {
    if (*link == object) {
      *link = (*link)->m_pNextInBucket;
      --m_count;
      return;
    }
  }
}

void CSnObjectIndex::ReleaseRuntimeObjects() {
  // Collected first: each Release may remove its object from the list being walked.
  auto releaseWhere = [this](SnIndexList which, bool runtimeOnly) {
    std::vector<CSnIndexedObject*> found;
    List(which).ForEach([&](CSnIndexedObject* object) {
      if (!runtimeOnly || (object->ID() & 0x80000000u)) found.push_back(object);
    });
    for (CSnIndexedObject* object : found) object->ReleaseAtTerm();
  };
  releaseWhere(SnIndex_DynamicSequences, false);
  releaseWhere(SnIndex_Nodes, true);
  releaseWhere(SnIndex_SourcePluginDefinitions, true);
}

}  // namespace SN
