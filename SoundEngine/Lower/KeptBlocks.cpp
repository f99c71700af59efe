// The kept blocks of the voices' objects and the list of their kinds the lower engine empties.
#include "SoundEngine/Lower/KeptBlocks.h"

#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/OutputServices.h"

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

CSnKeptBlocks::CSnKeptBlocks(size_t size, uint32_t alignment)
    : m_size(size < sizeof(Link) ? sizeof(Link) : size), m_alignment(alignment), m_nextKind(Kinds()) {
  Kinds() = this;
}

void* CSnKeptBlocks::Take() {
  if (Link* kept = m_head) {
    m_head = kept->next;
    --m_count;
    return kept;
  }
  return MemoryMgr::Malign(g_LEngineDefaultPoolId, m_size, m_alignment);
}

void CSnKeptBlocks::Keep(void* block) {
  if (!block) return;
  if (m_count == kMostKept || !Keeping()) {
    MemoryMgr::Free(g_LEngineDefaultPoolId, block);
    return;
  }
  m_head = new (block) Link{m_head};
  ++m_count;
}

void CSnKeptBlocks::Release() {
  while (Link* kept = m_head) {
    m_head = kept->next;
    MemoryMgr::Free(g_LEngineDefaultPoolId, kept);
  }
  m_count = 0;
}

void CSnKeptBlocks::BeginKeeping() { Keeping() = true; }

void CSnKeptBlocks::EndKeeping() {
  Keeping() = false;
  for (CSnKeptBlocks* kind = Kinds(); kind; kind = kind->m_nextKind) kind->Release();
}

}  // namespace SN
