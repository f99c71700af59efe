// External-source copies, from the default pool.
#include "SoundEngine/ExternalSources.h"

#include <cstring>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

namespace {

constexpr size_t EntriesOffset() {
  return (sizeof(CSnExternalSourceList) + alignof(SnExternalSourceInfo) - 1) & ~(alignof(SnExternalSourceInfo) - 1);
}

char16_t* CopyName(const char16_t* name) {
  size_t length = 0;
  while (name[length]) ++length;
  const size_t bytes = (length + 1) * sizeof(char16_t);
  char16_t* copy = static_cast<char16_t*>(MemoryMgr::Malign(g_DefaultPoolId, bytes, alignof(char16_t)));
  if (copy) std::memcpy(copy, name, bytes);
  return copy;
}

}  // namespace

SnExternalSourceInfo* CSnExternalSourceList::Entries() const {
  return reinterpret_cast<SnExternalSourceInfo*>(
      reinterpret_cast<uint8_t*>(const_cast<CSnExternalSourceList*>(this)) + EntriesOffset());
}

CSnExternalSourceList* CSnExternalSourceList::Copy(const SnExternalSourceInfo* sources, uint32_t count) {
  void* memory = MemoryMgr::Malign(g_DefaultPoolId, EntriesOffset() + sizeof(SnExternalSourceInfo) * count,
                                   alignof(std::max_align_t));
  if (!memory) return nullptr;
  CSnExternalSourceList* list = new (memory) CSnExternalSourceList(count);
  SnExternalSourceInfo* entries = list->Entries();
  for (uint32_t i = 0; i < count; ++i) {
    entries[i] = sources[i];
    if (!sources[i].fileName) continue;
    entries[i].fileName = CopyName(sources[i].fileName);
    if (!entries[i].fileName) {
      list->FreeNames(i);
      list->~CSnExternalSourceList();
      MemoryMgr::Free(g_DefaultPoolId, memory);
      return nullptr;
    }
  }
  return list;
}

void CSnExternalSourceList::FreeNames(uint32_t upTo) {
  SnExternalSourceInfo* entries = Entries();
  for (uint32_t i = 0; i < upTo; ++i) MemoryMgr::Free(g_DefaultPoolId, const_cast<char16_t*>(entries[i].fileName));
}

uint32_t CSnExternalSourceList::AddRef() { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t CSnExternalSourceList::Release() {
  const uint32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) {
    FreeNames(m_count);
    this->~CSnExternalSourceList();
    MemoryMgr::Free(g_DefaultPoolId, this);
  }
  return count;
}

}  // namespace SN
