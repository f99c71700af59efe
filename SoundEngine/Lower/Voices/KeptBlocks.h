// Blocks of one size from one pool, kept when the objects a voice or a switch makes and ends (voice
// pipelines, sources, music contexts) end, instead of going back to the pool: once they have come and
// gone, a start and an end allocate nothing and find memory that was in use a moment ago.
//
// While the lower engine runs, blocks come in runs of 64 taken from the pool in one piece, and the
// lowest free block is always the one handed out. The live objects of a kind so stay packed together
// in address order however voices come and go, and the frame's walks over them stay cheap. A run
// that empties is kept as long as it is the only empty one; the lower engine gives the empty runs
// back before the pools go, and a run still in use then goes back with its last block. Audio thread,
// under the global audio lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"

namespace SN {

class CSnKeptBlocks {
 public:
  // A kind of block of the pool `pool` names when it is taken (an engine's pool id, which a new
  // engine sets anew); lives as long as the program (a function-local static of its user).
  CSnKeptBlocks(size_t size, uint32_t alignment, const SnMemPoolId& pool);
  CSnKeptBlocks(const CSnKeptBlocks&) = delete;
  CSnKeptBlocks& operator=(const CSnKeptBlocks&) = delete;

  // The lowest free block of the runs, else a new one (in a new run while keeping); null when the
  // pool has no room.
  void* Take();
  // The block's object has been destroyed: free again in its run, or back to the pool.
  void Keep(void* block);

  // Blocks are kept only between these: from the lower engine's start, until its end, when every
  // kind's empty runs go back to the pool before the pool goes. Outside them (a pool a test made and
  // will destroy) blocks come from the pool and go back to it one by one. A run still in use when
  // the next engine starts is forgotten (logged): its pool is gone.
  static void BeginKeeping();
  static void EndKeeping();

  static constexpr uint32_t kBlocksPerRun = 64;
  static constexpr uint32_t kMostRuns = 16;

 private:
  struct Run {
    char* base;
    uint64_t free;  // a set bit for each free block
    SnMemPoolId pool;
  };
  static constexpr uint64_t kAllFree = ~uint64_t(0);

  Run* FindRun(const void* block);
  bool AddRun();
  void ReleaseRun(uint32_t index);
  void ReleaseEmptyRuns();

  size_t m_size;
  size_t m_stride;
  uint32_t m_alignment;
  const SnMemPoolId& m_pool;
  // In address order.
  Run m_runs[kMostRuns];
  uint32_t m_runCount = 0;
  CSnKeptBlocks* m_nextKind = nullptr;
};

}  // namespace SN
