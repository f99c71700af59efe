// Two-level segregated fit: free blocks sit in lists by size class (a power-of-two first level cut
// into 32 linear second-level steps), two bitmaps find the smallest non-empty class at or above a
// request in constant time, and freed blocks merge with free neighbours at once.
#include "MemoryMgr/Tlsf.h"

#include <cstddef>
#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/Log.h"

namespace SN::Tlsf {
namespace {

static_assert(sizeof(Control) % kGranularity == 0, "the pool begins right after the control block");
static_assert(kMinBlockBytes == 3 * sizeof(void*), "a free block holds its size and two links");

constexpr size_t kFreeBit = 1;
constexpr size_t kPrevFreeBit = 2;
constexpr size_t kPayloadOffset = offsetof(BlockHeader, size) + sizeof(size_t);

int HighBit(size_t value) { return 63 - __builtin_clzll(value); }
int LowBit(uint32_t value) { return __builtin_ctz(value); }

size_t SizeOf(const BlockHeader* block) { return block->size & ~(kFreeBit | kPrevFreeBit); }
void SetSize(BlockHeader* block, size_t size) {
  block->size = size | (block->size & (kFreeBit | kPrevFreeBit));
}
bool IsLast(const BlockHeader* block) { return SizeOf(block) == 0; }
bool IsFree(const BlockHeader* block) { return block->size & kFreeBit; }
bool IsPrevFree(const BlockHeader* block) { return block->size & kPrevFreeBit; }
void SetFreeBit(BlockHeader* block, bool on) { block->size = on ? block->size | kFreeBit : block->size & ~kFreeBit; }
void SetPrevFreeBit(BlockHeader* block, bool on) {
  block->size = on ? block->size | kPrevFreeBit : block->size & ~kPrevFreeBit;
}

char* Payload(BlockHeader* block) { return reinterpret_cast<char*>(block) + kPayloadOffset; }
BlockHeader* FromPayload(const void* pointer) {
  return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(pointer)) - kPayloadOffset);
}
BlockHeader* AtOffset(void* base, ptrdiff_t offset) {
  return reinterpret_cast<BlockHeader*>(static_cast<char*>(base) + offset);
}
// The next block's header overlaps this block's last word (its prevPhys field).
BlockHeader* NextPhys(BlockHeader* block) {
  return AtOffset(Payload(block), ptrdiff_t(SizeOf(block)) - ptrdiff_t(kBlockHeaderBytes));
}
BlockHeader* LinkNext(BlockHeader* block) {
  BlockHeader* next = NextPhys(block);
  next->prevPhys = block;
  return next;
}
void MarkFree(BlockHeader* block) {
  BlockHeader* next = LinkNext(block);
  SetPrevFreeBit(next, true);
  SetFreeBit(block, true);
}
void MarkUsed(BlockHeader* block) {
  SetPrevFreeBit(NextPhys(block), false);
  SetFreeBit(block, false);
}

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }
size_t AlignDown(size_t value, size_t alignment) { return value & ~(alignment - 1); }
char* AlignPointer(char* pointer, size_t alignment) {
  return reinterpret_cast<char*>(AlignUp(reinterpret_cast<uintptr_t>(pointer), alignment));
}

// 0 for a request the heap never serves.
size_t AdjustRequest(size_t bytes, size_t alignment) {
  if (bytes == 0) return 0;
  const size_t aligned = AlignUp(bytes, alignment);
  if (aligned >= kMaxRequestBytes) return 0;
  return aligned < kMinBlockBytes ? kMinBlockBytes : aligned;
}

void MappingInsert(size_t size, int* firstLevel, int* secondLevel) {
  if (size < kSmallBlockBytes) {
    *firstLevel = 0;
    *secondLevel = int(size / (kSmallBlockBytes / kSecondLevelCount));
  } else {
    const int high = HighBit(size);
    *secondLevel = int(size >> (high - kSecondLevelLog2)) ^ kSecondLevelCount;
    *firstLevel = high - (kFirstLevelShift - 1);
  }
}

// Rounds the request up to the next list boundary so any block found there is large enough.
void MappingSearch(size_t size, int* firstLevel, int* secondLevel) {
  if (size >= kSmallBlockBytes) size += (size_t(1) << (HighBit(size) - kSecondLevelLog2)) - 1;
  MappingInsert(size, firstLevel, secondLevel);
}

BlockHeader* FindSuitable(Control* control, int* firstLevel, int* secondLevel) {
  int fl = *firstLevel;
  if (fl >= kFirstLevelCount) return nullptr;
  uint32_t secondMap = control->secondLevelMap[fl] & (~0u << *secondLevel);
  if (!secondMap) {
    const uint32_t firstMap = fl + 1 >= 32 ? 0 : control->firstLevelMap & (~0u << (fl + 1));
    if (!firstMap) return nullptr;
    fl = LowBit(firstMap);
    secondMap = control->secondLevelMap[fl];
  }
  const int sl = LowBit(secondMap);
  *firstLevel = fl;
  *secondLevel = sl;
  return control->blocks[fl][sl];
}

void RemoveFree(Control* control, BlockHeader* block, int fl, int sl) {
  BlockHeader* prev = block->prevFree;
  BlockHeader* next = block->nextFree;
  next->prevFree = prev;
  prev->nextFree = next;
  if (control->blocks[fl][sl] == block) {
    control->blocks[fl][sl] = next;
    if (next == &control->nullBlock) {
      control->secondLevelMap[fl] &= ~(1u << sl);
      if (!control->secondLevelMap[fl]) control->firstLevelMap &= ~(1u << fl);
    }
  }
}

void InsertFree(Control* control, BlockHeader* block, int fl, int sl) {
  BlockHeader* current = control->blocks[fl][sl];
  block->nextFree = current;
  block->prevFree = &control->nullBlock;
  current->prevFree = block;
  control->blocks[fl][sl] = block;
  control->firstLevelMap |= 1u << fl;
  control->secondLevelMap[fl] |= 1u << sl;
}

void Remove(Control* control, BlockHeader* block) {
  int fl, sl;
  MappingInsert(SizeOf(block), &fl, &sl);
  RemoveFree(control, block, fl, sl);
}

void Insert(Control* control, BlockHeader* block) {
  int fl, sl;
  MappingInsert(SizeOf(block), &fl, &sl);
  InsertFree(control, block, fl, sl);
}

bool CanSplit(BlockHeader* block, size_t size) { return SizeOf(block) >= sizeof(BlockHeader) + size; }

// Cuts `block` to `size`; the rest becomes a free block that is returned (not yet in a list).
BlockHeader* Split(BlockHeader* block, size_t size) {
  BlockHeader* rest = AtOffset(Payload(block), ptrdiff_t(size) - ptrdiff_t(kBlockHeaderBytes));
  const size_t restSize = SizeOf(block) - (size + kBlockHeaderBytes);
  ORV_ASSERT(restSize >= kMinBlockBytes);
  rest->size = 0;
  SetSize(rest, restSize);
  SetSize(block, size);
  MarkFree(rest);
  return rest;
}

// `next` follows `prev` physically and both are out of the lists.
BlockHeader* Absorb(BlockHeader* prev, BlockHeader* next) {
  prev->size += SizeOf(next) + kBlockHeaderBytes;
  LinkNext(prev);
  return prev;
}

BlockHeader* MergePrev(Control* control, BlockHeader* block) {
  if (!IsPrevFree(block)) return block;
  BlockHeader* prev = block->prevPhys;
  Remove(control, prev);
  return Absorb(prev, block);
}

BlockHeader* MergeNext(Control* control, BlockHeader* block) {
  BlockHeader* next = NextPhys(block);
  if (!IsFree(next)) return block;
  Remove(control, next);
  return Absorb(block, next);
}

void TrimFree(Control* control, BlockHeader* block, size_t size) {
  if (!CanSplit(block, size)) return;
  BlockHeader* rest = Split(block, size);
  LinkNext(block);
  SetPrevFreeBit(rest, true);
  Insert(control, rest);
}

BlockHeader* TrimFreeLeading(Control* control, BlockHeader* block, size_t leading) {
  if (!CanSplit(block, leading)) return block;
  BlockHeader* rest = Split(block, leading - kBlockHeaderBytes);
  SetPrevFreeBit(rest, true);
  LinkNext(block);
  Insert(control, block);
  return rest;
}

BlockHeader* LocateFree(Control* control, size_t size) {
  int fl = 0, sl = 0;
  if (!size) return nullptr;
  MappingSearch(size, &fl, &sl);
  if (fl >= kFirstLevelCount) return nullptr;
  BlockHeader* block = FindSuitable(control, &fl, &sl);
  if (!block || block == &control->nullBlock) return nullptr;
  ORV_ASSERT(SizeOf(block) >= size);
  RemoveFree(control, block, fl, sl);
  return block;
}

void* PrepareUsed(Control* control, BlockHeader* block, size_t size) {
  if (!block) return nullptr;
  TrimFree(control, block, size);
  MarkUsed(block);
  return Payload(block);
}

BlockHeader* FirstBlock(Control* control) {
  return AtOffset(reinterpret_cast<char*>(control) + sizeof(Control), -ptrdiff_t(kBlockHeaderBytes));
}

}  // namespace

Heap Create(void* memory, size_t bytes) {
  if (!memory || reinterpret_cast<uintptr_t>(memory) % kGranularity != 0) return nullptr;
  if (bytes < kMinRegionBytes || bytes > kMaxRegionBytes) {
    SOUND_LOG(Error, "tlsf_create: Pool size must be between %u and %u bytes.", unsigned(kMinRegionBytes),
              unsigned(kMaxRegionBytes));
    return nullptr;
  }
  Control* control = static_cast<Control*>(memory);
  control->nullBlock.prevPhys = nullptr;
  control->nullBlock.size = 0;
  control->nullBlock.nextFree = &control->nullBlock;
  control->nullBlock.prevFree = &control->nullBlock;
  control->firstLevelMap = 0;
  for (int fl = 0; fl < kFirstLevelCount; ++fl) {
    control->secondLevelMap[fl] = 0;
    for (int sl = 0; sl < kSecondLevelCount; ++sl) control->blocks[fl][sl] = &control->nullBlock;
  }

  // One free block over the whole pool, closed by a used sentinel of size 0.
  const size_t poolBytes = AlignDown(bytes - sizeof(Control) - kPoolOverheadBytes, kGranularity);
  BlockHeader* block = FirstBlock(control);
  block->size = 0;
  SetSize(block, poolBytes);
  SetFreeBit(block, true);
  SetPrevFreeBit(block, false);
  Insert(control, block);
  BlockHeader* sentinel = LinkNext(block);
  sentinel->size = 0;
  SetFreeBit(sentinel, false);
  SetPrevFreeBit(sentinel, true);
  return control;
}

void* Malloc(Heap heap, size_t bytes) {
  const size_t size = AdjustRequest(bytes, kGranularity);
  if (!size) return nullptr;
  return PrepareUsed(heap, LocateFree(heap, size), size);
}

void* Memalign(Heap heap, size_t alignment, size_t bytes) {
  if (alignment <= kGranularity) return Malloc(heap, bytes);
  if (alignment & (alignment - 1)) return nullptr;
  const size_t size = AdjustRequest(bytes, kGranularity);
  if (!size || alignment >= kMaxRequestBytes) return nullptr;
  // Room for a leading free block in front of the aligned payload, should one be needed.
  const size_t gapMinimum = sizeof(BlockHeader);
  const size_t withGap = AdjustRequest(size + alignment + gapMinimum, alignment);
  if (!withGap) return nullptr;
  BlockHeader* block = LocateFree(heap, withGap);
  if (!block) return nullptr;
  char* payload = Payload(block);
  char* aligned = AlignPointer(payload, alignment);
  size_t gap = size_t(aligned - payload);
  if (gap && gap < gapMinimum) {
    const size_t remain = gapMinimum - gap;
    aligned = AlignPointer(aligned + (remain > alignment ? remain : alignment), alignment);
    gap = size_t(aligned - payload);
  }
  if (gap) block = TrimFreeLeading(heap, block, gap);
  return PrepareUsed(heap, block, size);
}

void Free(Heap heap, void* pointer) {
  if (!pointer) return;
  BlockHeader* block = FromPayload(pointer);
  ORV_ASSERT(!IsFree(block));
  MarkFree(block);
  block = MergePrev(heap, block);
  block = MergeNext(heap, block);
  Insert(heap, block);
}

size_t BlockSize(const void* pointer) { return pointer ? SizeOf(FromPayload(pointer)) : 0; }

bool Walk(Heap heap, WalkTotals* totals) {
  WalkTotals sums;
  bool prevFree = false;
  for (BlockHeader* block = FirstBlock(heap); !IsLast(block); block = NextPhys(block)) {
    if (IsPrevFree(block) != prevFree) return false;
    if (IsFree(block)) {
      if (prevFree) return false;  // two free neighbours should have merged
      if (NextPhys(block)->prevPhys != block) return false;
      ++sums.freeBlocks;
      sums.freeBytes += SizeOf(block);
    } else {
      ++sums.usedBlocks;
      sums.usedBytes += SizeOf(block);
    }
    prevFree = IsFree(block);
  }
  size_t listed = 0;
  for (int fl = 0; fl < kFirstLevelCount; ++fl) {
    for (int sl = 0; sl < kSecondLevelCount; ++sl) {
      const bool mapped = (heap->secondLevelMap[fl] >> sl) & 1u;
      if (mapped != (heap->blocks[fl][sl] != &heap->nullBlock)) return false;
      for (BlockHeader* block = heap->blocks[fl][sl]; block != &heap->nullBlock; block = block->nextFree) {
        int f, s;
        MappingInsert(SizeOf(block), &f, &s);
        if (f != fl || s != sl || !IsFree(block)) return false;
        ++listed;
      }
    }
    if (((heap->firstLevelMap >> fl) & 1u) != (heap->secondLevelMap[fl] != 0)) return false;
  }
  if (listed != sums.freeBlocks) return false;
  if (totals) *totals = sums;
  return true;
}

}  // namespace SN::Tlsf
