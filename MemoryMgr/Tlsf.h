// A two-level segregated-fit heap inside one caller-given region: constant-time allocation and
// freeing with immediate coalescing, the general-purpose allocator behind the sound engine's pools.
#pragma once

#include <cstddef>
#include <cstdint>

namespace SN::Tlsf {

constexpr int kGranularityLog2 = 3;
constexpr size_t kGranularity = size_t(1) << kGranularityLog2;  // sizes are multiples of this
constexpr int kSecondLevelLog2 = 5;
constexpr int kSecondLevelCount = 1 << kSecondLevelLog2;
// Below this size all blocks share first-level class 0, in granularity steps.
constexpr int kFirstLevelShift = kSecondLevelLog2 + kGranularityLog2;
constexpr size_t kSmallBlockBytes = size_t(1) << kFirstLevelShift;
// Requests of this size or more fail. An empty pool of the largest size is one free block of
// exactly this size, hence the one class above the last one a request can map to.
constexpr int kMaxRequestLog2 = 30;
constexpr size_t kMaxRequestBytes = size_t(1) << kMaxRequestLog2;
constexpr int kFirstLevelCount = kMaxRequestLog2 - kFirstLevelShift + 2;

// A block's header as it sits in the pool. Only `size` is kept for a used block; `prevPhys` is the
// tail word of the previous block and the free links overlap the payload.
struct BlockHeader {
  BlockHeader* prevPhys;
  size_t size;  // payload bytes; bit 0 = this block is free, bit 1 = the previous block is free
  BlockHeader* nextFree;
  BlockHeader* prevFree;
};

struct Control {
  BlockHeader nullBlock;  // the end of every free list
  uint32_t firstLevelMap;
  uint32_t secondLevelMap[kFirstLevelCount];
  BlockHeader* blocks[kFirstLevelCount][kSecondLevelCount];
};

constexpr size_t kBlockHeaderBytes = sizeof(size_t);  // what a used block costs on top of its size
constexpr size_t kMinBlockBytes = sizeof(BlockHeader) - sizeof(BlockHeader*);
constexpr size_t kPoolOverheadBytes = 2 * kBlockHeaderBytes;  // the first header and the sentinel
constexpr size_t kOverheadBytes = sizeof(Control) + kPoolOverheadBytes;
constexpr size_t kMinRegionBytes = kOverheadBytes + kMinBlockBytes;
constexpr size_t kMaxRegionBytes = kOverheadBytes + kMaxRequestBytes;

using Heap = Control*;

// Builds a heap over [memory, memory + bytes); `memory` must be aligned to kGranularity. Null, with
// the size message logged, when the region is smaller or larger than the limits above.
Heap Create(void* memory, size_t bytes);
void* Malloc(Heap heap, size_t bytes);
void* Memalign(Heap heap, size_t alignment, size_t bytes);
void Free(Heap heap, void* pointer);
// Payload bytes of a used block (at least the rounded request).
size_t BlockSize(const void* pointer);

// A walk over every block of the heap's region, for checks: false when the chain of blocks or the
// free lists are inconsistent.
struct WalkTotals {
  size_t usedBlocks = 0, usedBytes = 0, freeBlocks = 0, freeBytes = 0;
};
bool Walk(Heap heap, WalkTotals* totals);

}  // namespace SN::Tlsf
