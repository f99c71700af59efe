// The kept blocks of the voices' and the music's objects and the list of their kinds the lower engine empties.
#include "SoundEngine/Lower/KeptBlocks.h"

#include <new>

#include "MemoryMgr/MemoryMgr.h"

namespace SN {
namespace {

CSnKeptBlocks*& Kinds() {
  static CSnKeptBlocks* first = nullptr;
  return first;
}

bool& Keeping() {
  static bool keeping = false;
  return keeping;
}

}  // namespace

CSnKeptBlocks::CSnKeptBlocks(size_t size, uint32_t alignment, const SnMemPoolId& pool, uint32_t mostKept)
    : m_size(size < sizeof(Link) ? sizeof(Link) : size),
      m_alignment(alignment),
      m_pool(pool),
      m_mostKept(mostKept),
      m_nextKind(Kinds()) {
  Kinds() = this;
}

void* CSnKeptBlocks::Take() {
  if (Link* kept = m_head) {
    m_head = kept->next;
    --m_count;
    return kept;
  }
  return MemoryMgr::Malign(m_pool, m_size, m_alignment);
}

void CSnKeptBlocks::Keep(void* block) {
  if (!block) return;
  if (m_count == m_mostKept || !Keeping()) {
    MemoryMgr::Free(m_pool, block);
    return;
  }
  m_head = new (block) Link{m_head};
  ++m_count;
}

void CSnKeptBlocks::Release() {
  while (Link* kept = m_head) {
    m_head = kept->next;
    MemoryMgr::Free(m_pool, kept);
  }
  m_count = 0;
}

void CSnKeptBlocks::BeginKeeping() { Keeping() = true; }

void CSnKeptBlocks::EndKeeping() {
  Keeping() = false;
  for (CSnKeptBlocks* kind = Kinds(); kind; kind = kind->m_nextKind) kind->Release();
}

}  // namespace SN
