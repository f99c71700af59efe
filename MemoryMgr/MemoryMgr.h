// The sound engine's memory: a fixed table of pools, each a TLSF heap or a set of equal blocks on a
// free list, over memory from the caller or from the game's memory hooks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

using SnMemPoolId = int32_t;
constexpr SnMemPoolId kInvalidPoolId = -1;

// Bits 0-1 of the attributes: where a pool's memory comes from.
enum SnMemPoolAttributes : uint32_t {
  SnMemPool_CallerMemory = 0,
  SnMemPool_AllocHook = 1,
  SnMemPool_VirtualHook = 2,
  SnMemPool_KindMask = 3,
  SnMemPool_FixedBlocks = 8,
};

// Supplied by the game before the memory manager is initialised: plain allocation and committed,
// read-write virtual memory (the virtual free is given the size the allocation asked for).
struct SnMemoryHooks {
  void* (*alloc)(size_t bytes) = nullptr;
  void (*free)(void* pointer) = nullptr;
  void* (*virtualAlloc)(size_t bytes) = nullptr;
  void (*virtualFree)(void* pointer, size_t bytes) = nullptr;
};
void SetMemoryHooks(const SnMemoryHooks& hooks);
const SnMemoryHooks& GetMemoryHooks();

struct SnMemSettings {
  uint32_t maxNumPools = 0;
};

namespace MemoryMgr {

struct PoolMemInfo {
  uint32_t totalBytes = 0;
  uint32_t usedBytes = 0;
};
struct PoolStats {
  uint32_t totalBytes = 0;
  uint32_t usedBytes = 0;
  uint32_t unused[3] = {};
};

SNRESULT Init(const SnMemSettings* settings);
bool IsInitialized();
void Term();

SnMemPoolId CreatePool(void* memory, uint32_t size, uint32_t blockSize, uint32_t attributes, uint32_t blockAlign);
SNRESULT DestroyPool(SnMemPoolId id);
SNRESULT CheckPoolId(SnMemPoolId id);

// Null for size 0, an invalid pool or exhaustion.
void* Malloc(SnMemPoolId id, size_t size);
void* Malign(SnMemPoolId id, size_t size, uint32_t alignment);
// Null is accepted (1); an invalid pool gives 14, a pointer outside the pool 2.
SNRESULT Free(SnMemPoolId id, void* pointer);
SNRESULT Falign(SnMemPoolId id, void* pointer);

// Fixed-block pools; one thread at a time per pool.
void* GetBlock(SnMemPoolId id);
SNRESULT ReleaseBlock(SnMemPoolId id, void* block);

uint32_t GetBlockSize(SnMemPoolId id);
int32_t GetMaxPools();
int32_t GetNumPools();
uint32_t GetPoolAttributes(SnMemPoolId id);
SNRESULT GetPoolMemoryUsed(SnMemPoolId id, PoolMemInfo& info);
SNRESULT GetPoolStats(SnMemPoolId id, PoolStats& stats);

// Names and profiling are not kept.
SNRESULT SetPoolName(SnMemPoolId id, const char* name);
SNRESULT SetPoolName(SnMemPoolId id, const char16_t* name);
const char* GetPoolName(SnMemPoolId id);
void StartProfileThreadUsage();
uint64_t StopProfileThreadUsage();
SNRESULT SetMonitoring(SnMemPoolId id, bool enable);

}  // namespace MemoryMgr
}  // namespace SN
