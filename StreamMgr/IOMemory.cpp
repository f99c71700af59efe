// Buddy blocks and the stream cache of a device's I/O memory. Callers hold the device lock.
#include "StreamMgr/IOMemory.h"

#include <cstring>

#include "Base/Assert.h"
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

uint8_t* NextOf(uint8_t* block) {
  uint8_t* next;
  memcpy(&next, block, sizeof next);
  return next;
}

void SetNext(uint8_t* block, uint8_t* next) {
  memcpy(block, &next, sizeof next);
  memcpy(block + sizeof next, &kFreeMarker, sizeof kFreeMarker);
}

}  // namespace

SNRESULT CSnBuddyAllocator::Init(uint8_t* base, uint32_t size, uint32_t largestBlock, uint32_t smallestBlock) {
  *this = CSnBuddyAllocator();
  if (!IsPowerOfTwo(largestBlock) || !IsPowerOfTwo(smallestBlock) || smallestBlock > largestBlock) return SN_Failure;
  if (smallestBlock < sizeof(uint8_t*) + sizeof(uint32_t)) return SN_Failure;
  const uint32_t orders = Log2(largestBlock) - Log2(smallestBlock) + 1;
  if (orders > 32) return SN_Failure;
  base_ = base;
  largest_ = largestBlock;
  smallest_ = smallestBlock;
  smallestOrder_ = Log2(smallestBlock);
  orders_ = orders;
  usable_ = size / largestBlock * largestBlock;
  if (usable_ == 0) return SN_Failure;
  for (uint32_t offset = 0; offset < usable_; offset += largestBlock) Insert(orders_ - 1, base_ + offset);
  return SN_Success;
}

void CSnBuddyAllocator::Term() { *this = CSnBuddyAllocator(); }

uint32_t CSnBuddyAllocator::OrderOf(uint32_t blockSize) const { return Log2(blockSize) - smallestOrder_; }

uint32_t CSnBuddyAllocator::FreeBytes() const {
  uint32_t bytes = 0;
  for (uint32_t order = 0; order < orders_; ++order) bytes += lists_[order].count * (smallest_ << order);
  return bytes;
}

void CSnBuddyAllocator::Insert(uint32_t order, uint8_t* block) {
  FreeList& list = lists_[order];
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
  FreeList& list = lists_[order];
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
  FreeList& list = lists_[order];
  uint8_t* block = list.head;
  if (!block) return nullptr;
  list.head = NextOf(block);
  if (!list.head) list.tail = nullptr;
  --list.count;
  return block;
}

uint8_t* CSnBuddyAllocator::Allocate(uint32_t size) {
  if (size == 0 || size > largest_) return nullptr;
  size = RoundToSmallest(size);
  uint32_t order = 0;
  while ((smallest_ << order) < size) ++order;
  for (; order < orders_; ++order) {
    uint8_t* block = PopHead(order);
    if (!block) continue;
    const uint32_t blockSize = smallest_ << order;
    if (blockSize > size) Free(block + size, blockSize - size);
    return block;
  }
  return nullptr;
}

void CSnBuddyAllocator::Free(uint8_t* address, uint32_t size) {
  size = RoundToSmallest(size);
  uint32_t offset = uint32_t(address - base_);
  const uint32_t end = offset + size;
  while (offset < end) {
    // The largest aligned power of two that starts here and fits.
    uint32_t piece = largest_;
    while (piece > smallest_ && ((offset & (piece - 1)) || offset + piece > end)) piece >>= 1;
    const uint32_t next = offset + piece;
    uint32_t at = offset;
    uint32_t order = OrderOf(piece);
    while (order + 1 < orders_) {
      const uint32_t buddy = at ^ (smallest_ << order);
      if (buddy + (smallest_ << order) > usable_ || !Remove(order, base_ + buddy)) break;
      at = at < buddy ? at : buddy;
      ++order;
    }
    Insert(order, base_ + at);
    offset = next;
  }
}

SNRESULT CSnIOMemoryManager::Init(const SnDeviceSettings& settings, CSnIOSchedulerThread* device) {
  device_ = device;
  useCache_ = false;
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
    pool_ = MemoryMgr::CreatePool(memory, region, region, settings.poolAttributes | SnMemPool_FixedBlocks, alignment);
    if (pool_ == kInvalidPoolId) return SN_Failure;
    MemoryMgr::SetPoolName(pool_, "Stream I/O");
    uint8_t* base = static_cast<uint8_t*>(MemoryMgr::GetBlock(pool_));
    if (!base || buddy_.Init(base, region, uint32_t(largest), alignment) != SN_Success) {
      Term();
      return SN_Failure;
    }
  }
  if (pool_ == kInvalidPoolId) return settings.ioMemorySize == 0 ? SN_Success : SN_Failure;
  const SnMemPoolId records = StreamMgr::GetPoolID();
  if (blocks) {
    blockArray_ = static_cast<SnIOBlock**>(MemoryMgr::Malloc(records, blocks * sizeof(SnIOBlock*)));
    if (!blockArray_) {
      Term();
      return SN_Failure;
    }
    memset(blockArray_, 0, blocks * sizeof(SnIOBlock*));
  }
  useCache_ = settings.useStreamCache;
  return SN_Success;
}

void CSnIOMemoryManager::Term() {
  const SnMemPoolId records = StreamMgr::GetPoolID();
  while (releasedHead_) {
    SnIOBlock* block = releasedHead_;
    releasedHead_ = block->nextReleased;
    MemoryMgr::Free(records, block);
  }
  releasedTail_ = nullptr;
  releasedCount_ = releasedBytes_ = 0;
  while (spareRecords_) {
    SnIOBlock* record = spareRecords_;
    spareRecords_ = record->nextReleased;
    MemoryMgr::Free(records, record);
  }
  if (index_) MemoryMgr::Free(records, index_);
  index_ = nullptr;
  indexCount_ = indexCapacity_ = 0;
  if (blockArray_) MemoryMgr::Free(records, blockArray_);
  blockArray_ = nullptr;
  buddy_.Term();
  if (pool_ != kInvalidPoolId) MemoryMgr::DestroyPool(pool_);
  pool_ = kInvalidPoolId;
  handedOut_ = 0;
}

void CSnIOMemoryManager::HoldBack() {
  if (device_) device_->HoldBackAutomaticStreams();
}

void CSnIOMemoryManager::LetGo() {
  if (device_) device_->ReleaseAutomaticStreams();
}

SnIOBlock* CSnIOMemoryManager::AllocateBlock(uint32_t size) {
  uint8_t* address = buddy_.Allocate(size);
  if (!address) return nullptr;
  SnIOBlock* record = spareRecords_;
  if (record)
    spareRecords_ = record->nextReleased;
  else
    record = static_cast<SnIOBlock*>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), sizeof(SnIOBlock)));
  if (!record) {
    buddy_.Free(address, size);
    return nullptr;
  }
  *record = SnIOBlock{0, address, 0, size, -1, 0, nullptr};
  handedOut_ += buddy_.RoundToSmallest(size);
  return record;
}

void CSnIOMemoryManager::FreeBlock(SnIOBlock* block) {
  buddy_.Free(block->address, block->blockSize);
  handedOut_ -= buddy_.RoundToSmallest(block->blockSize);
  block->nextReleased = spareRecords_;
  spareRecords_ = block;
}

SnIOBlock* CSnIOMemoryManager::AcquireTransferBlock(uint32_t size, uint32_t granularity) {
  if (granularity) size = (size + granularity - 1) / granularity * granularity;
  for (;;) {
    if (SnIOBlock* block = AllocateBlock(size)) {
      block->useCount = 1;
      return block;
    }
    SnIOBlock* recycled = releasedHead_;
    if (!recycled) {
      HoldBack();
      return nullptr;
    }
    UnlinkReleased(recycled);
    RemoveFromCache(recycled);
    if (recycled->blockSize == size) {
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
    if (useCache_ && block->cacheId != -1) {
      block->nextReleased = nullptr;
      if (releasedTail_)
        releasedTail_->nextReleased = block;
      else
        releasedHead_ = block;
      releasedTail_ = block;
      ++releasedCount_;
      releasedBytes_ += block->blockSize;
    } else {
      FreeBlock(block);
    }
  }
  LetGo();
}

void CSnIOMemoryManager::UnlinkReleased(SnIOBlock* block) {
  SnIOBlock* previous = nullptr;
  for (SnIOBlock* at = releasedHead_; at; previous = at, at = at->nextReleased) {
    if (at != block) continue;
    if (previous)
      previous->nextReleased = at->nextReleased;
    else
      releasedHead_ = at->nextReleased;
    if (releasedTail_ == at) releasedTail_ = previous;
    --releasedCount_;
    releasedBytes_ -= at->blockSize;
    at->nextReleased = nullptr;
    return;
  }
}

int32_t CSnIOMemoryManager::IndexSearch(int32_t cacheId, uint64_t position, uint32_t dataSize, bool& found) const {
  uint32_t low = 0, high = indexCount_;
  found = false;
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    const SnIOBlock* at = index_[mid];
    const bool less = at->cacheId != cacheId         ? at->cacheId < cacheId
                      : at->filePosition != position ? at->filePosition < position
                                                     : at->dataSize < dataSize;
    if (less)
      low = mid + 1;
    else
      high = mid;
  }
  if (low < indexCount_ && index_[low]->cacheId == cacheId && index_[low]->filePosition == position &&
      index_[low]->dataSize == dataSize)
    found = true;
  return int32_t(low);
}

void CSnIOMemoryManager::IndexRemoveAt(uint32_t at) {
  memmove(index_ + at, index_ + at + 1, (indexCount_ - at - 1) * sizeof(SnIOBlock*));
  --indexCount_;
}

SnIOBlock* CSnIOMemoryManager::LookupCache(int32_t cacheId, uint64_t position, uint32_t size) {
  if (!useCache_ || cacheId == -1) return nullptr;
  bool found = false;
  // The first record of (cache id, position); records of the same start are sorted by size.
  for (uint32_t at = uint32_t(IndexSearch(cacheId, position, 0, found)); at < indexCount_; ++at) {
    SnIOBlock* block = index_[at];
    if (block->cacheId != cacheId || block->filePosition != position) break;
    if (block->dataSize < size || block->useCount == 0xFF) continue;
    if (block->useCount == 0) UnlinkReleased(block);
    ++block->useCount;
    return block;
  }
  return nullptr;
}

void CSnIOMemoryManager::InsertCache(SnIOBlock* block) {
  if (!useCache_) block->cacheId = -1;
  if (block->cacheId == -1) return;
  bool found = false;
  const int32_t at = IndexSearch(block->cacheId, block->filePosition, block->dataSize, found);
  if (found && index_[at] == block) return;
  if (indexCount_ == indexCapacity_) {
    const uint32_t capacity = indexCapacity_ ? indexCapacity_ * 2 : 16;
    auto* grown = static_cast<SnIOBlock**>(MemoryMgr::Malloc(StreamMgr::GetPoolID(), capacity * sizeof(SnIOBlock*)));
    if (!grown) {
      block->cacheId = -1;
      return;
    }
    if (index_) {
      memcpy(grown, index_, indexCount_ * sizeof(SnIOBlock*));
      MemoryMgr::Free(StreamMgr::GetPoolID(), index_);
    }
    index_ = grown;
    indexCapacity_ = capacity;
  }
  memmove(index_ + at + 1, index_ + at, (indexCount_ - uint32_t(at)) * sizeof(SnIOBlock*));
  index_[at] = block;
  ++indexCount_;
}

void CSnIOMemoryManager::RemoveFromCache(SnIOBlock* block) {
  if (block->cacheId == -1) return;
  for (uint32_t at = 0; at < indexCount_; ++at)
    if (index_[at] == block) {
      IndexRemoveAt(at);
      break;
    }
  block->cacheId = -1;
}

void CSnIOMemoryManager::Flush() {
  if (!useCache_) return;
  for (uint32_t at = 0; at < indexCount_; ++at) {
    SnIOBlock* block = index_[at];
    block->cacheId = -1;
    if (block->useCount == 0) {
      UnlinkReleased(block);
      FreeBlock(block);
      LetGo();
    }
  }
  indexCount_ = 0;
}

}  // namespace SN
