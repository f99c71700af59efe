// Buddy blocks and the stream cache of a device's I/O memory. Callers hold the device lock.
#include "StreamMgr/IOMemory.h"

#include <cstddef>
#include <cstring>

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"
#include "StreamMgr/StreamDevice.h"

namespace SN {

namespace {

constexpr uint32_t kFreeMarker = 0xBBBBBBBBu;
constexpr uint32_t kMinAlignment = 512;

bool IsPowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

uint32_t Log2(uint32_t value) {
  uint32_t log = 0;
  while (value > 1) {
    value >>= 1;
    ++log;
  }
  return log;
}

// A free block's two header words, poisoned like the rest of the free block between these accesses
// (rounded to the sanitizer's 8-byte granule so that poisoning covers them whole).
constexpr size_t kHeaderBytes = (sizeof(uint8_t*) + sizeof(uint32_t) + 7) / 8 * 8;

uint8_t* NextOf(uint8_t* block) {
  uint8_t* next;
  Base::UnpoisonRegion(block, kHeaderBytes);
  memcpy(&next, block, sizeof next);
  Base::PoisonRegion(block, kHeaderBytes);
  return next;
}

void SetNext(uint8_t* block, uint8_t* next) {
  Base::UnpoisonRegion(block, kHeaderBytes);
  memcpy(block, &next, sizeof next);
  memcpy(block + sizeof next, &kFreeMarker, sizeof kFreeMarker);
  Base::PoisonRegion(block, kHeaderBytes);
}

// A block of I/O memory that is free, or released and only kept for the cache, is poisoned: a
// reader still holding its address after releasing it is reported.
void PoisonBlock(const SnIOBlock* block) { Base::PoisonRegion(block->address, block->blockSize); }
void UnpoisonBlock(const SnIOBlock* block) { Base::UnpoisonRegion(block->address, block->blockSize); }

// A spare record keeps only its link, the last field, addressable.
static_assert(offsetof(SnIOBlock, nextReleased) + sizeof(SnIOBlock*) == sizeof(SnIOBlock));
void PoisonSpareRecord(SnIOBlock* record) { Base::PoisonRegion(record, offsetof(SnIOBlock, nextReleased)); }

}  // namespace

SNRESULT CSnBuddyAllocator::Init(uint8_t* base, uint32_t size, uint32_t largestBlock, uint32_t smallestBlock) {
  *this = CSnBuddyAllocator();
  if (!IsPowerOfTwo(largestBlock) || !IsPowerOfTwo(smallestBlock) || smallestBlock > largestBlock) return SN_Failure;
  if (smallestBlock < sizeof(uint8_t*) + sizeof(uint32_t)) return SN_Failure;
  const uint32_t orders = Log2(largestBlock) - Log2(smallestBlock) + 1;
  if (orders > 32) return SN_Failure;
  m_base = base;
  m_largest = largestBlock;
  m_smallest = smallestBlock;
  m_smallestOrder = Log2(smallestBlock);
  m_orders = orders;
  m_usable = size / largestBlock * largestBlock;
  if (m_usable == 0) return SN_Failure;
  // Nothing is handed out yet, and the bytes past the last whole largest block never are.
  m_region = size;
  Base::PoisonRegion(m_base, m_region);
  for (uint32_t offset = 0; offset < m_usable; offset += largestBlock) Insert(m_orders - 1, m_base + offset);
  return SN_Success;
}

void CSnBuddyAllocator::Term() {
  if (m_base) Base::UnpoisonRegion(m_base, m_region);
  *this = CSnBuddyAllocator();
}

uint32_t CSnBuddyAllocator::OrderOf(uint32_t blockSize) const { return Log2(blockSize) - m_smallestOrder; }

uint32_t CSnBuddyAllocator::FreeBytes() const {
  uint32_t bytes = 0;
  for (uint32_t order = 0; order < m_orders; ++order) bytes += m_lists[order].count * (m_smallest << order);
  return bytes;
}

void CSnBuddyAllocator::Insert(uint32_t order, uint8_t* block) {
  FreeList& list = m_lists[order];
  if (!list.head || block < list.head) {
    SetNext(block, list.head);
    list.head = block;
    if (!list.tail) list.tail = block;
  } else if (block > list.tail) {
    SetNext(list.tail, block);
    SetNext(block, nullptr);
    list.tail = block;
  } else {
    uint8_t* at = list.head;
    while (NextOf(at) && NextOf(at) < block) at = NextOf(at);
    SetNext(block, NextOf(at));
    SetNext(at, block);
  }
  ++list.count;
}

bool CSnBuddyAllocator::Remove(uint32_t order, uint8_t* block) {
  FreeList& list = m_lists[order];
  uint8_t* previous = nullptr;
  for (uint8_t* at = list.head; at && at <= block; previous = at, at = NextOf(at)) {
    if (at != block) continue;
    uint8_t* next = NextOf(at);
    if (previous)
      SetNext(previous, next);
    else
      list.head = next;
    if (list.tail == at) list.tail = previous;
    --list.count;
    return true;
  }
  return false;
}

uint8_t* CSnBuddyAllocator::PopHead(uint32_t order) {
  FreeList& list = m_lists[order];
  uint8_t* block = list.head;
  if (!block) return nullptr;
  list.head = NextOf(block);
  if (!list.head) list.tail = nullptr;
  --list.count;
  return block;
}

uint8_t* CSnBuddyAllocator::Allocate(uint32_t size) {
  if (size == 0 || size > m_largest) return nullptr;
  const uint32_t rounded = RoundToSmallest(size);
  uint32_t order = 0;
  while ((m_smallest << order) < rounded) ++order;
  for (; order < m_orders; ++order) {
    uint8_t* block = PopHead(order);
    if (!block) continue;
    const uint32_t blockSize = m_smallest << order;
    if (blockSize > rounded) Free(block + rounded, blockSize - rounded);
    // The bytes up to the next smallest block stay poisoned: a red zone.
    Base::UnpoisonRegion(block, size);
    return block;
  }
  return nullptr;
}

void CSnBuddyAllocator::Free(uint8_t* address, uint32_t size) {
  size = RoundToSmallest(size);
  Base::PoisonRegion(address, size);
  uint32_t offset = uint32_t(address - m_base);
  const uint32_t end = offset + size;
  while (offset < end) {
    // The largest aligned power of two that starts here and fits.
    uint32_t piece = m_largest;
    while (piece > m_smallest && ((offset & (piece - 1)) || offset + piece > end)) piece >>= 1;
    const uint32_t next = offset + piece;
    uint32_t at = offset;
    uint32_t order = OrderOf(piece);
    while (order + 1 < m_orders) {
      const uint32_t buddy = at ^ (m_smallest << order);
      if (buddy + (m_smallest << order) > m_usable || !Remove(order, m_base + buddy)) break;
      at = at < buddy ? at : buddy;
      ++order;
    }
    Insert(order, m_base + at);
    offset = next;
  }
}

SNRESULT CSnIOMemoryManager::Init(const SnDeviceSettings& settings, CSnIOSchedulerThread* device) {
  m_device = device;
  m_useCache = false;
  if (settings.granularity == 0) return SN_InvalidParameter;
  const uint32_t blocks = settings.ioMemorySize / settings.granularity;
  const uint32_t region = blocks * settings.granularity;
  if (region != 0) {
    uint32_t alignment = kMinAlignment;
    while (alignment < settings.ioMemoryAlignment && alignment < 0x80000000u) alignment <<= 1;
    uint64_t largest = alignment;
    while (largest < settings.granularity) largest <<= 1;
    if (largest > 0x80000000u) return SN_Failure;
    uint8_t* memory = static_cast<uint8_t*>(settings.ioMemory);
    if (Log2(uint32_t(largest)) - Log2(alignment) + 1 > 32) return SN_Failure;
    m_pool = MemoryMgr::CreatePool(memory, region, region, settings.poolAttributes | SnMemPool_FixedBlocks, alignment);
    if (m_pool == kInvalidPoolId) return SN_Failure;
    MemoryMgr::SetPoolName(m_pool, "Stream I/O");
    uint8_t* base = static_cast<uint8_t*>(MemoryMgr::GetBlock(m_pool));
    if (!base || m_buddy.Init(base, region, uint32_t(largest), alignment) != SN_Success) {
      Term();
      return SN_Failure;
    }
  }
  if (m_pool == kInvalidPoolId) return settings.ioMemorySize == 0 ? SN_Success : SN_Failure;
  const SnMemPoolId records = StreamMgr::GetPoolID();
  if (blocks) {
    m_blockArray = static_cast<SnIOBlock**>(MemoryMgr::Malloc(records, blocks * sizeof(SnIOBlock*)));
    if (!m_blockArray) {
      Term();
      return SN_Failure;
    }
    memset(m_blockArray, 0, blocks * sizeof(SnIOBlock*));
  }
  m_useCache = settings.useStreamCache;
  return SN_Success;
}

void CSnIOMemoryManager::Term() {
  const SnMemPoolId records = StreamMgr::GetPoolID();
  while (m_releasedHead) {
    SnIOBlock* block = m_releasedHead;
    m_releasedHead = block->nextReleased;
    MemoryMgr::Free(records, block);
  }
  m_releasedTail = nullptr;
  m_releasedCount = m_releasedBytes = 0;
  while (m_spareRecords) {
    SnIOBlock* record = m_spareRecords;
    m_spareRecords = record->nextReleased;
    MemoryMgr::Free(records, record);
  }
  if (m_index) MemoryMgr::Free(records, m_index);
  m_index = nullptr;
  m_indexCount = m_indexCapacity = 0;
  if (m_blockArray) MemoryMgr::Free(records, m_blockArray);
  m_blockArray = nullptr;
  m_buddy.Term();
  if (m_pool != kInvalidPoolId) MemoryMgr::DestroyPool(m_pool);
  m_pool = kInvalidPoolId;
  m_handedOut = 0;
}

void CSnIOMemoryManager::HoldBack() {
  if (m_device) m_device->HoldBackAutomaticStreams();
}

void CSnIOMemoryManager::LetGo() {
  if (m_device) m_device->ReleaseAutomaticStreams();
}

SnIOBlock* CSnIOMemoryManager::AllocateBlock(uint32_t size) {
  uint8_t* address = m_buddy.Allocate(size);
  if (!address) return nullptr;
  SnIOBlock* record = m_spareRecords;
  if (record) {
    m_spareRecords = record->nextReleased;
    Base::UnpoisonRegion(record, sizeof *record);
  } else
    record = static_cast<SnIOBlock*>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), sizeof(SnIOBlock)));
  if (!record) {
    m_buddy.Free(address, size);
    return nullptr;
  }
  *record = SnIOBlock{0, address, 0, size, -1, 0, nullptr};
  m_handedOut += m_buddy.RoundToSmallest(size);
  return record;
}

void CSnIOMemoryManager::FreeBlock(SnIOBlock* block) {
  m_buddy.Free(block->address, block->blockSize);
  m_handedOut -= m_buddy.RoundToSmallest(block->blockSize);
  block->nextReleased = m_spareRecords;
  m_spareRecords = block;
  PoisonSpareRecord(block);
}

SnIOBlock* CSnIOMemoryManager::AcquireTransferBlock(uint32_t size, uint32_t granularity) {
  if (granularity) size = (size + granularity - 1) / granularity * granularity;
  for (;;) {
    if (SnIOBlock* block = AllocateBlock(size)) {
      block->useCount = 1;
      return block;
    }
    SnIOBlock* recycled = m_releasedHead;
    if (!recycled) {
      HoldBack();
      return nullptr;
    }
    UnlinkReleased(recycled);
    RemoveFromCache(recycled);
    if (recycled->blockSize == size) {
      UnpoisonBlock(recycled);
      recycled->dataSize = 0;
      recycled->useCount = 1;
      return recycled;
    }
    FreeBlock(recycled);
    LetGo();
  }
}

void CSnIOMemoryManager::ReleaseBlock(SnIOBlock* block) {
  if (!block) return;
  ORV_ASSERT(block->useCount > 0);
  if (--block->useCount == 0) {
    if (m_useCache && block->cacheId != -1) {
      block->nextReleased = nullptr;
      if (m_releasedTail)
        m_releasedTail->nextReleased = block;
      else
        m_releasedHead = block;
      m_releasedTail = block;
      ++m_releasedCount;
      m_releasedBytes += block->blockSize;
      PoisonBlock(block);
    } else {
      FreeBlock(block);
    }
  }
  LetGo();
}

void CSnIOMemoryManager::UnlinkReleased(SnIOBlock* block) {
  SnIOBlock* previous = nullptr;
  for (SnIOBlock* at = m_releasedHead; at; previous = at, at = at->nextReleased) {
    if (at != block) continue;
    if (previous)
      previous->nextReleased = at->nextReleased;
    else
      m_releasedHead = at->nextReleased;
    if (m_releasedTail == at) m_releasedTail = previous;
    --m_releasedCount;
    m_releasedBytes -= at->blockSize;
    at->nextReleased = nullptr;
    return;
  }
}

int32_t CSnIOMemoryManager::IndexSearch(int32_t cacheId, uint64_t position, uint32_t dataSize, bool& found) const {
  uint32_t low = 0, high = m_indexCount;
  found = false;
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    const SnIOBlock* at = m_index[mid];
    const bool less = at->cacheId != cacheId         ? at->cacheId < cacheId
                      : at->filePosition != position ? at->filePosition < position
                                                     : at->dataSize < dataSize;
    if (less)
      low = mid + 1;
    else
      high = mid;
  }
  if (low < m_indexCount && m_index[low]->cacheId == cacheId && m_index[low]->filePosition == position &&
      m_index[low]->dataSize == dataSize)
    found = true;
  return int32_t(low);
}

void CSnIOMemoryManager::IndexRemoveAt(uint32_t at) {
  memmove(m_index + at, m_index + at + 1, (m_indexCount - at - 1) * sizeof(SnIOBlock*));
  --m_indexCount;
}

SnIOBlock* CSnIOMemoryManager::LookupCache(int32_t cacheId, uint64_t position, uint32_t size) {
  if (!m_useCache || cacheId == -1) return nullptr;
  bool found = false;
  // The first record of (cache id, position); records of the same start are sorted by size.
  for (uint32_t at = uint32_t(IndexSearch(cacheId, position, 0, found)); at < m_indexCount; ++at) {
    SnIOBlock* block = m_index[at];
    if (block->cacheId != cacheId || block->filePosition != position) break;
    if (block->dataSize < size || block->useCount == 0xFF) continue;
    if (block->useCount == 0) {
      UnlinkReleased(block);
      UnpoisonBlock(block);
    }
    ++block->useCount;
    return block;
  }
  return nullptr;
}

void CSnIOMemoryManager::InsertCache(SnIOBlock* block) {
  if (!m_useCache) block->cacheId = -1;
  if (block->cacheId == -1) return;
  bool found = false;
  const int32_t at = IndexSearch(block->cacheId, block->filePosition, block->dataSize, found);
  if (found && m_index[at] == block) return;
  if (m_indexCount == m_indexCapacity) {
    const uint32_t capacity = m_indexCapacity ? m_indexCapacity * 2 : 16;
    auto* grown = static_cast<SnIOBlock**>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), capacity * sizeof(SnIOBlock*)));
    if (!grown) {
      block->cacheId = -1;
      return;
    }
    if (m_index) {
      memcpy(grown, m_index, m_indexCount * sizeof(SnIOBlock*));
      MemoryMgr::Free(StreamMgr::GetPoolID(), m_index);
    }
    m_index = grown;
    m_indexCapacity = capacity;
  }
  memmove(m_index + at + 1, m_index + at, (m_indexCount - uint32_t(at)) * sizeof(SnIOBlock*));
  m_index[at] = block;
  ++m_indexCount;
}

void CSnIOMemoryManager::RemoveFromCache(SnIOBlock* block) {
  if (block->cacheId == -1) return;
  for (uint32_t at = 0; at < m_indexCount; ++at)
    if (m_index[at] == block) {
      IndexRemoveAt(at);
      break;
    }
  block->cacheId = -1;
}

void CSnIOMemoryManager::Flush() {
  if (!m_useCache) return;
  for (uint32_t at = 0; at < m_indexCount; ++at) {
    SnIOBlock* block = m_index[at];
    block->cacheId = -1;
    if (block->useCount == 0) {
      UnlinkReleased(block);
      FreeBlock(block);
      LetGo();
    }
  }
  m_indexCount = 0;
}

}  // namespace SN
