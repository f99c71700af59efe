// Blocks of one size from one pool, kept when the objects a voice or a switch makes and ends (voice
// pipelines, sources, music contexts) end, instead of going back to the pool: once they have come and
// gone, a start and an end allocate nothing and find memory that was in use a moment ago. A few are
// kept of each kind; the lower engine gives all of them back before the pools go. Audio thread, under
// the global audio lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"

namespace SN {

class CSnKeptBlocks {
 public:
  // A kind of block of the pool `pool` names when it is taken (an engine's pool id, which a new
  // engine sets anew), keeping at most `mostKept`; lives as long as the program (a function-local
  // static of its user).
  CSnKeptBlocks(size_t size, uint32_t alignment, const SnMemPoolId& pool, uint32_t mostKept = 32);
  CSnKeptBlocks(const CSnKeptBlocks&) = delete;
  CSnKeptBlocks& operator=(const CSnKeptBlocks&) = delete;

  // A kept block, else a new one from the pool; null when the pool has no room.
  void* Take();
  // The block's object has been destroyed: kept for the next Take, or given back past the most kept.
  void Keep(void* block);

  // Blocks are kept only between these: from the lower engine's start, until its end, when every
  // kind's kept blocks go back to the pool before the pool goes. Outside them (a pool a test made
  // and will destroy) every block goes back at once.
  static void BeginKeeping();
  static void EndKeeping();

 private:
  struct Link {
    Link* next;
  };
  void Release();

  size_t m_size;
  uint32_t m_alignment;
  const SnMemPoolId& m_pool;
  uint32_t m_mostKept;
  Link* m_head = nullptr;
  uint32_t m_count = 0;
  CSnKeptBlocks* m_nextKind = nullptr;
};

}  // namespace SN
