// The kept blocks of the voices' and the music's objects, in runs, and the list of their kinds the
// lower engine empties.
#include "SoundEngine/Lower/Voices/KeptBlocks.h"

#include <algorithm>
#include <bit>

#include "Base/PoisonRegion.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Log.h"

namespace SN {
namespace {

// Runs begin on a cache line, so that no two kinds share one.
constexpr uint32_t kRunAlignment = 64;

CSnKeptBlocks*& Kinds() {
  static CSnKeptBlocks* first = nullptr;
  return first;
}

bool& Keeping() {
  static bool keeping = false;
  return keeping;
}

}  // namespace

CSnKeptBlocks::CSnKeptBlocks(size_t size, uint32_t alignment, const SnMemPoolId& pool)
    : m_size(size ? size : 1),
      m_stride((m_size + alignment - 1) / alignment * alignment),
      m_alignment(alignment),
      m_pool(pool),
      m_nextKind(Kinds()) {
  Kinds() = this;
}

void* CSnKeptBlocks::Take() {
  if (Keeping()) {
    for (bool added = false;; added = true) {
      for (uint32_t i = 0; i < m_runCount; ++i) {
        Run& run = m_runs[i];
        if (!run.free) continue;
        const auto slot = uint32_t(std::countr_zero(run.free));
        run.free &= run.free - 1;
        char* block = run.base + size_t(slot) * m_stride;
        Base::UnpoisonRegion(block, m_size);
        return block;
      }
      if (added || !AddRun()) break;
    }
  }
  return MemoryMgr::Malign(m_pool, m_size, m_alignment);
}

void CSnKeptBlocks::Keep(void* block) {
  if (!block) return;
  Run* run = FindRun(block);
  if (!run) {
    MemoryMgr::Free(m_pool, block);
    return;
  }
  const size_t slot = size_t(static_cast<char*>(block) - run->base) / m_stride;
  run->free |= uint64_t(1) << slot;
  Base::PoisonRegion(block, m_stride);
  if (run->free != kAllFree) return;
  const auto index = uint32_t(run - m_runs);
  if (!Keeping()) {
    ReleaseRun(index);
    return;
  }
  // One empty run stays for the next voices; of two, the higher goes.
  for (uint32_t other = 0; other < m_runCount; ++other) {
    if (other == index || m_runs[other].free != kAllFree) continue;
    ReleaseRun(std::max(index, other));
    return;
  }
}

CSnKeptBlocks::Run* CSnKeptBlocks::FindRun(const void* block) {
  const auto* at = static_cast<const char*>(block);
  for (uint32_t i = 0; i < m_runCount; ++i)
    if (at >= m_runs[i].base && at < m_runs[i].base + m_stride * kBlocksPerRun) return &m_runs[i];
  return nullptr;
}

bool CSnKeptBlocks::AddRun() {
  if (m_runCount == kMostRuns) return false;
  const SnMemPoolId pool = m_pool;
  auto* base = static_cast<char*>(
      MemoryMgr::Malign(pool, m_stride * kBlocksPerRun, std::max(m_alignment, kRunAlignment)));
  if (!base) return false;
  // Free blocks stay poisoned, and so do the bytes between one block's object and the next block.
  Base::PoisonRegion(base, m_stride * kBlocksPerRun);
  uint32_t at = m_runCount;
  while (at > 0 && m_runs[at - 1].base > base) {
    m_runs[at] = m_runs[at - 1];
    --at;
  }
  m_runs[at] = Run{base, kAllFree, pool};
  ++m_runCount;
  return true;
}

void CSnKeptBlocks::ReleaseRun(uint32_t index) {
  MemoryMgr::Free(m_runs[index].pool, m_runs[index].base);
  std::copy(m_runs + index + 1, m_runs + m_runCount, m_runs + index);
  --m_runCount;
}

void CSnKeptBlocks::ReleaseEmptyRuns() {
  for (uint32_t i = m_runCount; i-- > 0;)
    if (m_runs[i].free == kAllFree) ReleaseRun(i);
}

void CSnKeptBlocks::BeginKeeping() {
  Keeping() = true;
  // Runs an earlier engine left in use belong to its pools: a new engine hands out none of them.
  for (CSnKeptBlocks* kind = Kinds(); kind; kind = kind->m_nextKind)
    if (kind->m_runCount) {
      SOUND_LOG(Error, "Objects of %zu bytes outlived the last sound engine; their blocks are not reused",
                kind->m_size);
      kind->m_runCount = 0;
    }
}

void CSnKeptBlocks::EndKeeping() {
  Keeping() = false;
  for (CSnKeptBlocks* kind = Kinds(); kind; kind = kind->m_nextKind) kind->ReleaseEmptyRuns();
}

}  // namespace SN
