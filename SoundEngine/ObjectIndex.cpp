// Locked lookups and reference counts of indexed objects.
#include "SoundEngine/ObjectIndex.h"

#include <vector>

#include "Base/Assert.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnObjectIndex* g_pObjectIndex = nullptr;

uint32_t CSnIndexedObject::AddRef() {
  ORV_ASSERT(g_pObjectIndex);
  Platform::ReentrantGuard guard(g_pObjectIndex->List(m_list).Lock());
  return ++m_refCount;
}

uint32_t CSnIndexedObject::Release() {
  ORV_ASSERT(g_pObjectIndex);
  CSnObjectIndexList& list = g_pObjectIndex->List(m_list);
  uint32_t count;
  {
    Platform::ReentrantGuard guard(list.Lock());
    ORV_ASSERT(m_refCount > 0);
    count = --m_refCount;
    if (count == 0) {
      // Out of the bucket before anything else, while the lookups are held off.
      Platform::ReentrantGuard again(list.Lock());
      list.RemoveItem(this);
    }
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
      ++object->m_refCount;
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
