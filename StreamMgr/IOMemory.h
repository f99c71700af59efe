// A stream device's I/O memory: one region cut into blocks by a binary buddy allocator, and the
// stream cache, an index of released blocks that still hold file data for a later read.
#pragma once

#include <cstdint>

#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

class CSnIOSchedulerThread;

// One block handed to a transfer or held by a stream.
struct SnIOBlock {
  uint64_t filePosition;
  uint8_t* address;
  uint32_t dataSize;
  uint32_t blockSize;
  int32_t cacheId;            // -1: not cached
  uint8_t useCount;
  SnIOBlock* nextReleased;    // link of the released-cached list
};

// Buddy allocator over [base, base + usable): free lists per order in ascending address order, a
// free block starting with {next, 0xBBBBBBBB}. Handed-out sizes are rounded up to the smallest
// block so that free plus handed-out bytes always make the region. Under AddressSanitizer only
// the bytes asked for are addressable while a block is handed out.
class CSnBuddyAllocator {
 public:
  // 2 unless both sizes are powers of two and there are at most 32 orders.
  SNRESULT Init(uint8_t* base, uint32_t size, uint32_t largestBlock, uint32_t smallestBlock);
  void Term();
  // Null when no block of the size is free. Sizes of 0 or above the largest block are refused.
  uint8_t* Allocate(uint32_t size);
  void Free(uint8_t* address, uint32_t size);

  uint32_t UsableSize() const { return m_usable; }
  uint32_t LargestBlock() const { return m_largest; }
  uint32_t SmallestBlock() const { return m_smallest; }
  uint32_t FreeCount(uint32_t order) const { return order < m_orders ? m_lists[order].count : 0; }
  uint32_t Orders() const { return m_orders; }
  uint32_t FreeBytes() const;
  uint32_t RoundToSmallest(uint32_t size) const { return (size + m_smallest - 1) / m_smallest * m_smallest; }

 private:
  struct FreeList {
    uint32_t count;
    uint8_t* tail;
    uint8_t* head;
  };
  uint32_t OrderOf(uint32_t blockSize) const;
  void Insert(uint32_t order, uint8_t* block);
  bool Remove(uint32_t order, uint8_t* block);
  uint8_t* PopHead(uint32_t order);

  uint8_t* m_base = nullptr;
  uint32_t m_region = 0;
  uint32_t m_usable = 0;
  uint32_t m_largest = 0;
  uint32_t m_smallest = 0;
  uint32_t m_smallestOrder = 0;
  uint32_t m_orders = 0;
  FreeList m_lists[32] = {};
};

class CSnIOMemoryManager {
 public:
  virtual ~CSnIOMemoryManager() = default;

  // `device` is told when automatic streams must wait for memory and when they may go on; null
  // serves a memory with no device.
  SNRESULT Init(const SnDeviceSettings& settings, CSnIOSchedulerThread* device);
  void Term();

  // A block of `size` rounded up to a multiple of `granularity`, with a use count of 1; cached
  // blocks released by their streams are recycled before giving up. Null when none can be had
  // (the device's automatic streams are then held back).
  SnIOBlock* AcquireTransferBlock(uint32_t size, uint32_t granularity);
  void ReleaseBlock(SnIOBlock* block);
  // A block of this cache id whose data starts at `position` and holds at least `size` bytes;
  // its use count grows. Null when none is cached (or the cache is off).
  SnIOBlock* LookupCache(int32_t cacheId, uint64_t position, uint32_t size);
  // Files the block's data under its cache id; a block that cannot be indexed stays uncached.
  void InsertCache(SnIOBlock* block);
  // Drops the block from the index (its data is no longer trusted).
  void RemoveFromCache(SnIOBlock* block);
  void Flush();

  bool UsesCache() const { return m_useCache; }
  uint32_t BytesHandedOut() const { return m_handedOut; }
  uint32_t ReleasedCachedBytes() const { return m_releasedBytes; }
  uint32_t CacheCount() const { return m_indexCount; }
  const CSnBuddyAllocator& Allocator() const { return m_buddy; }
  bool HasMemory() const { return m_buddy.UsableSize() != 0; }

 private:
  SnIOBlock* AllocateBlock(uint32_t size);
  void FreeBlock(SnIOBlock* block);
  int32_t IndexSearch(int32_t cacheId, uint64_t position, uint32_t dataSize, bool& found) const;
  void IndexRemoveAt(uint32_t at);
  void UnlinkReleased(SnIOBlock* block);
  void HoldBack();
  void LetGo();

  CSnIOSchedulerThread* m_device = nullptr;
  SnMemPoolId m_pool = kInvalidPoolId;
  SnIOBlock* m_releasedHead = nullptr;
  SnIOBlock* m_releasedTail = nullptr;
  uint32_t m_releasedCount = 0;
  uint32_t m_releasedBytes = 0;
  uint32_t m_handedOut = 0;
  SnIOBlock** m_index = nullptr;
  uint32_t m_indexCount = 0;
  uint32_t m_indexCapacity = 0;
  SnIOBlock** m_blockArray = nullptr;
  SnIOBlock* m_spareRecords = nullptr;  // freed records kept for the next block
  CSnBuddyAllocator m_buddy;
  bool m_useCache = false;
};

}  // namespace SN
