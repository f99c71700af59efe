// The sound memory manager over malloc and free for one test; the hooks it found come back after it.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "MemoryMgr/MemoryMgr.h"

namespace OrvTest {

class MallocMemory {
 public:
  explicit MallocMemory(uint32_t maxPools) : previous_(SN::GetMemoryHooks()) {
    SN::SnMemoryHooks hooks;
    hooks.alloc = &malloc;
    hooks.free = &free;
    SN::SetMemoryHooks(hooks);
    SN::SnMemSettings memory{maxPools};
    initialized_ = SN::MemoryMgr::Init(&memory) == SN::SN_Success;
  }
  ~MallocMemory() {
    SN::MemoryMgr::Term();
    SN::SetMemoryHooks(previous_);
  }
  MallocMemory(const MallocMemory&) = delete;
  MallocMemory& operator=(const MallocMemory&) = delete;

  bool Initialized() const { return initialized_; }

  // The bytes `pool` has handed out.
  static uint32_t Used(SN::SnMemPoolId pool) {
    SN::MemoryMgr::PoolMemInfo info;
    SN::MemoryMgr::GetPoolMemoryUsed(pool, info);
    return info.usedBytes;
  }

 private:
  SN::SnMemoryHooks previous_;
  bool initialized_ = false;
};

}  // namespace OrvTest
