// Pool table, pool creation over the game's hooks, and locked heap operations with exact counts of
// the bytes in use; small freed blocks are kept by size for the next request of that size.
#include "MemoryMgr/MemoryMgr.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"
#include "MemoryMgr/Tlsf.h"
#include "SoundEngine/Log.h"

namespace SN {
namespace {

constexpr uint32_t kOwnsMemory = 1;
// What a used heap block costs besides its payload, counted in the pool's used bytes.
constexpr uint32_t kUsedHeaderBytes = uint32_t(Tlsf::kBlockHeaderBytes);
// Objects of the same few sizes come and go all the time (a voice, its pipeline and buffers, music
// contexts and their schedules, often dozens in one frame): a freed block waits for the next
// request of its size, which then costs no heap search, split or merge. Blocks of up to
// kKeptSmallBytes have a list for each size; larger ones, up to kKeptLargeBytes, share
// kKeptLargeSizes lists, each holding one size while it holds blocks. Each list holds at most its
// budget of bytes. Kept blocks count as free; a request the heap cannot meet gives them all back to
// it and tries again.
constexpr size_t kKeptSmallBytes = 512;
constexpr size_t kKeptSmallBudget = 16384;
constexpr uint32_t kKeptSmallSizes = uint32_t(kKeptSmallBytes / Tlsf::kGranularity) + 1;
constexpr size_t kKeptLargeBytes = 16384;
constexpr size_t kKeptLargeBudget = 131072;
constexpr uint32_t kKeptLargeSizes = 8;

struct KeptList {
  void* head = nullptr;
  uint32_t count = 0;
  size_t blockBytes = 0;  // a large list's size while it holds blocks
};

struct KeptBlocks {
  KeptList small[kKeptSmallSizes];
  KeptList large[kKeptLargeSizes];
};

// A lock of one word: taking it when free is one compare-exchange, giving it back one exchange; a
// thread that finds it held sleeps on the word (0 free, 1 held, 2 held with sleepers maybe). A voice
// start or end takes a pool's lock dozens of times, nearly always free.
class PoolLock {
 public:
  void lock() {
    uint32_t expected = 0;
    if (m_state.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
    while (m_state.exchange(2, std::memory_order_acquire) != 0) m_state.wait(2, std::memory_order_relaxed);
  }
  void unlock() {
    if (m_state.exchange(0, std::memory_order_release) == 2) m_state.notify_one();
  }

 private:
  std::atomic<uint32_t> m_state{0};
};

struct PoolEntry {
  uint32_t blockCount = 0;  // 0 marks a free entry
  uint32_t blockSize = 0;
  char* allocatedBase = nullptr;
  char* usableBase = nullptr;
  void* freeTail = nullptr;
  void* freeHead = nullptr;
  uint32_t attributes = SnMemPool_AllocHook;
  uint32_t flags = 0;
  // Nothing done under it calls back into the pools: a plain lock, cheaper than a re-entrant one
  // for the many small allocations of a frame.
  PoolLock lock;
#ifndef NDEBUG
  std::atomic<std::thread::id> holder{};  // for asserts that the lock is held
#endif
  Tlsf::Heap heap = nullptr;
  uint32_t blockAlign = 0;
  uint32_t usedBytes = 0;
  uint32_t totalBytes = 0;
  size_t allocatedBytes = 0;  // what the hook was asked for, for the virtual free
  size_t regionBytes = 0;     // the usable region, for checking pointers handed back
  KeptBlocks kept;
};

// Holds an entry's lock for a scope.
class EntryGuard {
 public:
  explicit EntryGuard(PoolEntry& entry) : m_entry(entry) {
    entry.lock.lock();
#ifndef NDEBUG
    entry.holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
  }
  ~EntryGuard() {
#ifndef NDEBUG
    m_entry.holder.store(std::thread::id(), std::memory_order_relaxed);
#endif
    m_entry.lock.unlock();
  }
  EntryGuard(const EntryGuard&) = delete;
  EntryGuard& operator=(const EntryGuard&) = delete;

 private:
  PoolEntry& m_entry;
};

[[maybe_unused]] bool HeldHere([[maybe_unused]] const PoolEntry& entry) {
#ifdef NDEBUG
  return true;
#else
  return entry.holder.load(std::memory_order_relaxed) == std::this_thread::get_id();
#endif
}

struct PoolTable {
  PoolEntry* entries = nullptr;
  int32_t maxPools = 0;
  int32_t numPools = 0;
  bool initialized = false;
  std::mutex createLock;  // keeps the live count and the choice of a free entry together
};

PoolTable& Table() {
  static PoolTable table;
  return table;
}

SnMemoryHooks& Hooks() {
  static SnMemoryHooks hooks;
  return hooks;
}

bool InRange(SnMemPoolId id) {
  const PoolTable& table = Table();
  return table.entries && id >= 0 && id < table.maxPools;
}

// The entry of a live pool, or null (logged) for an id outside the table or of a free entry. The
// liveness is checked again under the entry's lock by the callers that need it.
PoolEntry* LiveEntry(SnMemPoolId id, const char* operation) {
  if (!InRange(id) || Table().entries[id].blockCount == 0) {
    SOUND_LOG(Error, "%s: invalid memory pool id %d", operation, id);
    return nullptr;
  }
  return &Table().entries[id];
}

void ReleasePoolMemory(PoolEntry& entry) {
  if (!(entry.flags & kOwnsMemory) || !entry.allocatedBase) return;
  if ((entry.attributes & SnMemPool_KindMask) == SnMemPool_VirtualHook) {
    Hooks().virtualFree(entry.allocatedBase, entry.allocatedBytes);
  } else {
    Hooks().free(entry.allocatedBase);
  }
}

void ClearEntry(PoolEntry& entry) {
  entry.blockCount = 0;
  entry.blockSize = 0;
  entry.allocatedBase = entry.usableBase = nullptr;
  entry.freeTail = entry.freeHead = nullptr;
  entry.attributes = SnMemPool_AllocHook;
  entry.flags = 0;
  entry.heap = nullptr;
  entry.blockAlign = 0;
  entry.usedBytes = entry.totalBytes = 0;
  entry.allocatedBytes = entry.regionBytes = 0;
  entry.kept = KeptBlocks{};
}

// The link word of a free block, which stays poisoned between these accesses.
void* LoadLink(void* block) {
  void* next;
  Base::UnpoisonRegion(block, sizeof next);
  memcpy(&next, block, sizeof next);
  Base::PoisonRegion(block, sizeof next);
  return next;
}
void StoreLink(void* block, void* next) {
  Base::UnpoisonRegion(block, sizeof next);
  memcpy(block, &next, sizeof next);
  Base::PoisonRegion(block, sizeof next);
}

// Everything of a pool's memory but the blocks handed out is poisoned: the heap's control record,
// its block headers (a red zone before every block), the bytes a block has beyond its request, and
// every free or kept block. The heap itself is built without the address checks.
char* PoisonedEnd(const PoolEntry& entry) { return entry.usableBase + entry.regionBytes; }

bool Owns(const PoolEntry& entry, const void* pointer) {
  const char* p = static_cast<const char*>(pointer);
  return p >= entry.usableBase && p < entry.usableBase + entry.regionBytes;
}

// The heap's block size for a request, as the heap rounds it.
size_t HeapBlockBytes(size_t size) {
  const size_t rounded = (size + Tlsf::kGranularity - 1) & ~(Tlsf::kGranularity - 1);
  return rounded < Tlsf::kMinBlockBytes ? Tlsf::kMinBlockBytes : rounded;
}

// The list of blocks of `blockBytes`; with `toKeep`, a free large list takes that size. Null when
// the size is not kept (or, large, has no list).
KeptList* ListOf(KeptBlocks& kept, size_t blockBytes, bool toKeep) {
  if (blockBytes <= kKeptSmallBytes) return &kept.small[blockBytes / Tlsf::kGranularity];
  if (blockBytes > kKeptLargeBytes) return nullptr;
  KeptList* unused = nullptr;
  for (KeptList& list : kept.large) {
    if (list.count && list.blockBytes == blockBytes) return &list;
    if (!list.count && !unused) unused = &list;
  }
  if (!toKeep || !unused) return nullptr;
  unused->blockBytes = blockBytes;
  return unused;
}

// A kept block of exactly the request's size and alignment, or null. Caller holds the entry's lock.
void* TakeKept(PoolEntry& entry, size_t size, uint32_t alignment) {
  ORV_ASSERT(HeldHere(entry));
  if (size > kKeptLargeBytes || alignment > 2 * Tlsf::kGranularity) return nullptr;
  KeptList* list = ListOf(entry.kept, HeapBlockBytes(size), false);
  void* block = list ? list->head : nullptr;
  if (!block || (alignment > 1 && (reinterpret_cast<uintptr_t>(block) & (alignment - 1)) != 0)) return nullptr;
  list->head = LoadLink(block);
  --list->count;
  return block;
}

// Keeps a freed block when its size's list has room. Caller holds the entry's lock.
bool Keep(PoolEntry& entry, void* block, size_t blockBytes) {
  ORV_ASSERT(HeldHere(entry));
  KeptList* list = ListOf(entry.kept, blockBytes, true);
  const size_t budget = blockBytes <= kKeptSmallBytes ? kKeptSmallBudget : kKeptLargeBudget;
  if (!list || (list->count + 1) * blockBytes > budget) return false;
  StoreLink(block, list->head);
  list->head = block;
  ++list->count;
  return true;
}

// Every kept block back to the heap, merging with its free neighbours; false when none was kept.
// Caller holds the entry's lock.
bool ReturnKept(PoolEntry& entry) {
  ORV_ASSERT(HeldHere(entry));
  bool any = false;
  auto drain = [&](KeptList& list) {
    while (void* block = list.head) {
      list.head = LoadLink(block);
      Tlsf::Free(entry.heap, block);
      any = true;
    }
    list.count = 0;
  };
  for (KeptList& list : entry.kept.small) drain(list);
  for (KeptList& list : entry.kept.large) drain(list);
  return any;
}

void* HeapAlloc(SnMemPoolId id, size_t size, uint32_t alignment, const char* operation) {
  if (size == 0) return nullptr;
  PoolEntry* entry = LiveEntry(id, operation);
  if (!entry) return nullptr;
  EntryGuard guard(*entry);
  if (entry->blockCount == 0 || !entry->heap) {
    SOUND_LOG(Error, "%s: memory pool %d is not a heap pool", operation, id);
    return nullptr;
  }
  void* pointer = TakeKept(*entry, size, alignment);
  for (bool retry = true; !pointer; retry = false) {
    pointer = alignment > Tlsf::kGranularity ? Tlsf::Memalign(entry->heap, alignment, size)
                                             : Tlsf::Malloc(entry->heap, size);
    if (pointer || !retry || !ReturnKept(*entry)) break;
  }
  if (pointer) {
    entry->usedBytes += uint32_t(Tlsf::BlockSize(pointer)) + kUsedHeaderBytes;
    Base::UnpoisonRegion(pointer, size);
  }
  return pointer;
}

}  // namespace

void SetMemoryHooks(const SnMemoryHooks& hooks) { Hooks() = hooks; }
const SnMemoryHooks& GetMemoryHooks() { return Hooks(); }

namespace MemoryMgr {

SNRESULT Init(const SnMemSettings* settings) {
  PoolTable& table = Table();
  if (table.initialized) return SN_Success;
  if (!settings) return SN_Failure;
  if (!Hooks().alloc || !Hooks().free) {
    SOUND_LOG(Error, "MemoryMgr::Init: no memory hooks are installed");
    return SN_Failure;
  }
  const size_t bytes = sizeof(PoolEntry) * settings->maxNumPools;
  void* memory = bytes ? Hooks().alloc(bytes) : nullptr;
  if (!memory) return SN_Failure;
  table.entries = static_cast<PoolEntry*>(memory);
  for (uint32_t i = 0; i < settings->maxNumPools; ++i) new (&table.entries[i]) PoolEntry;
  table.maxPools = int32_t(settings->maxNumPools);
  table.numPools = 0;
  table.initialized = true;
  return SN_Success;
}

bool IsInitialized() { return Table().initialized; }

void Term() {
  PoolTable& table = Table();
  if (!table.initialized) return;
  for (int32_t id = 0; id < table.maxPools; ++id)
    if (table.entries[id].blockCount != 0) DestroyPool(id);
  for (int32_t id = 0; id < table.maxPools; ++id) table.entries[id].~PoolEntry();
  // The table came from the allocation hook, so it goes back through the matching free hook.
  Hooks().free(table.entries);
  table.entries = nullptr;
  table.maxPools = 0;
  table.numPools = 0;
  table.initialized = false;
}

SnMemPoolId CreatePool(void* memory, uint32_t size, uint32_t blockSize, uint32_t attributes, uint32_t blockAlign) {
  PoolTable& table = Table();
  if (!table.initialized) return kInvalidPoolId;
  const uint32_t kind = attributes & SnMemPool_KindMask;
  const bool fixedBlocks = attributes & SnMemPool_FixedBlocks;
  if ((kind == SnMemPool_CallerMemory && !memory) || kind == SnMemPool_KindMask) return kInvalidPoolId;
  if (blockSize == 0 || (fixedBlocks && blockSize < sizeof(void*)) || (blockAlign & (blockAlign - 1))) {
    SOUND_LOG(Error, "MemoryMgr::CreatePool: block size %u or alignment %u cannot make a pool", blockSize,
              blockAlign);
    return kInvalidPoolId;
  }
  if ((kind == SnMemPool_AllocHook && !Hooks().alloc) ||
      (kind == SnMemPool_VirtualHook && (!Hooks().virtualAlloc || !Hooks().virtualFree))) {
    SOUND_LOG(Error, "MemoryMgr::CreatePool: no memory hook for allocation kind %u", kind);
    return kInvalidPoolId;
  }

  std::lock_guard<std::mutex> createGuard(table.createLock);
  if (table.maxPools < 1 || table.numPools >= table.maxPools) return kInvalidPoolId;
  SnMemPoolId id = kInvalidPoolId;
  for (int32_t i = 0; i < table.maxPools && id < 0; ++i) {
    EntryGuard guard(table.entries[i]);
    if (table.entries[i].blockCount == 0) id = i;
  }
  if (id < 0) return kInvalidPoolId;
  PoolEntry& entry = table.entries[id];
  EntryGuard guard(entry);

  size_t region = size / blockSize * blockSize;
  // A heap needs its region aligned to its granularity whatever the pool's own alignment.
  const size_t alignment = fixedBlocks ? blockAlign : (blockAlign > Tlsf::kGranularity ? blockAlign : Tlsf::kGranularity);
  if (kind == SnMemPool_CallerMemory) {
    entry.allocatedBase = static_cast<char*>(memory);
    entry.flags = 0;
  } else {
    entry.allocatedBytes = region + alignment;
    void* allocated = kind == SnMemPool_AllocHook ? Hooks().alloc(entry.allocatedBytes)
                                                  : Hooks().virtualAlloc(entry.allocatedBytes);
    if (!allocated) {
      ClearEntry(entry);
      return kInvalidPoolId;
    }
    entry.allocatedBase = static_cast<char*>(allocated);
    entry.flags = kOwnsMemory;
  }
  entry.attributes = attributes;
  entry.usableBase = entry.allocatedBase;
  if (alignment > 1) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(entry.allocatedBase);
    const uintptr_t aligned = (base + alignment - 1) & ~uintptr_t(alignment - 1);
    entry.usableBase = reinterpret_cast<char*>(aligned);
    // Caller's memory has no spare bytes for the shift: the region shrinks instead.
    if (kind == SnMemPool_CallerMemory) {
      const size_t shift = aligned - base;
      region = shift < region ? (region - shift) / blockSize * blockSize : 0;
    }
  }
  entry.regionBytes = region;

  if (fixedBlocks) {
    const uint32_t count = uint32_t(region / blockSize);
    if (count == 0) {
      ReleasePoolMemory(entry);
      ClearEntry(entry);
      return kInvalidPoolId;
    }
    for (uint32_t i = 0; i < count; ++i)
      StoreLink(entry.usableBase + size_t(i) * blockSize,
                i + 1 < count ? entry.usableBase + size_t(i + 1) * blockSize : nullptr);
    entry.freeHead = entry.usableBase;
    entry.freeTail = entry.usableBase + size_t(count - 1) * blockSize;
    entry.totalBytes = count * blockSize;
  } else {
    entry.heap = Tlsf::Create(entry.usableBase, region);
    if (!entry.heap) {
      ReleasePoolMemory(entry);
      ClearEntry(entry);
      return kInvalidPoolId;
    }
    entry.totalBytes = uint32_t(region - Tlsf::kOverheadBytes);
  }
  Base::PoisonRegion(entry.allocatedBase, size_t(PoisonedEnd(entry) - entry.allocatedBase));
  entry.blockCount = uint32_t(region / blockSize);
  entry.blockSize = blockSize;
  entry.blockAlign = blockAlign;
  entry.usedBytes = 0;
  ++table.numPools;
  return id;
}

SNRESULT DestroyPool(SnMemPoolId id) {
  PoolTable& table = Table();
  std::lock_guard<std::mutex> createGuard(table.createLock);
  if (!InRange(id)) return SN_InvalidPoolId;
  PoolEntry& entry = table.entries[id];
  EntryGuard guard(entry);
  if (entry.blockCount == 0) return SN_InvalidPoolId;
  Base::UnpoisonRegion(entry.allocatedBase, size_t(PoisonedEnd(entry) - entry.allocatedBase));
  ReleasePoolMemory(entry);
  ClearEntry(entry);
  --table.numPools;
  return SN_Success;
}

SNRESULT CheckPoolId(SnMemPoolId id) {
  return InRange(id) && Table().entries[id].blockCount != 0 ? SN_Success : SN_InvalidPoolId;
}

void* Malloc(SnMemPoolId id, size_t size) {
  if (size == 0) return nullptr;
  const uint32_t alignment = InRange(id) ? Table().entries[id].blockAlign : 0;
  // Alignments below 5 bytes are what the heap gives anyway.
  return HeapAlloc(id, size, alignment >= 5 ? alignment : 0, "MemoryMgr::Malloc");
}

void* Malign(SnMemPoolId id, size_t size, uint32_t alignment) {
  if (alignment & (alignment - 1)) {
    SOUND_LOG(Error, "MemoryMgr::Malign: alignment %u is not a power of two", alignment);
    return nullptr;
  }
  return HeapAlloc(id, size, alignment, "MemoryMgr::Malign");
}

SNRESULT Free(SnMemPoolId id, void* pointer) {
  if (!pointer) return SN_Success;
  PoolEntry* entry = LiveEntry(id, "MemoryMgr::Free");
  if (!entry) return SN_InvalidPoolId;
  EntryGuard guard(*entry);
  if (entry->blockCount == 0) return SN_InvalidPoolId;
  if (!entry->heap || !Owns(*entry, pointer)) {
    SOUND_LOG(Error, "MemoryMgr::Free: %p does not belong to memory pool %d", pointer, id);
    return SN_Failure;
  }
  const size_t blockBytes = Tlsf::BlockSize(pointer);
  entry->usedBytes -= uint32_t(blockBytes) + kUsedHeaderBytes;
  Base::PoisonRegion(pointer, blockBytes);
  if (!Keep(*entry, pointer, blockBytes)) Tlsf::Free(entry->heap, pointer);
  return SN_Success;
}

SNRESULT Falign(SnMemPoolId id, void* pointer) { return Free(id, pointer); }

void* GetBlock(SnMemPoolId id) {
  PoolEntry* entry = LiveEntry(id, "MemoryMgr::GetBlock");
  if (!entry || entry->heap) return nullptr;
  void* block = entry->freeHead;
  if (!block) return nullptr;
  entry->freeHead = LoadLink(block);
  if (!entry->freeHead) entry->freeTail = nullptr;
  entry->usedBytes += entry->blockSize;
  Base::UnpoisonRegion(block, entry->blockSize);
  return block;
}

SNRESULT ReleaseBlock(SnMemPoolId id, void* block) {
  PoolEntry* entry = LiveEntry(id, "MemoryMgr::ReleaseBlock");
  if (!entry) return SN_InvalidPoolId;
  if (!block) return SN_Success;
  if (entry->heap || !Owns(*entry, block)) {
    SOUND_LOG(Error, "MemoryMgr::ReleaseBlock: %p is not a block of memory pool %d", block, id);
    return SN_Failure;
  }
  Base::PoisonRegion(block, entry->blockSize);
  StoreLink(block, nullptr);
  if (entry->freeTail)
    StoreLink(entry->freeTail, block);
  else
    entry->freeHead = block;
  entry->freeTail = block;
  entry->usedBytes -= entry->blockSize;
  return SN_Success;
}

uint32_t GetBlockSize(SnMemPoolId id) { return InRange(id) ? Table().entries[id].blockSize : 0; }
int32_t GetMaxPools() { return Table().maxPools; }
int32_t GetNumPools() { return Table().numPools; }
uint32_t GetPoolAttributes(SnMemPoolId id) { return InRange(id) ? Table().entries[id].attributes : 0; }

SNRESULT GetPoolMemoryUsed(SnMemPoolId id, PoolMemInfo& info) {
  if (!InRange(id)) return SN_Failure;
  PoolEntry& entry = Table().entries[id];
  EntryGuard guard(entry);
  info.totalBytes = entry.totalBytes;
  info.usedBytes = entry.usedBytes;
  return SN_Success;
}

SNRESULT GetPoolStats(SnMemPoolId id, PoolStats& stats) {
  if (!InRange(id)) return SN_Failure;
  PoolEntry& entry = Table().entries[id];
  EntryGuard guard(entry);
  stats = PoolStats{};
  stats.totalBytes = entry.totalBytes;
  stats.usedBytes = entry.usedBytes;
  return SN_Success;
}

SNRESULT SetPoolName(SnMemPoolId, const char*) { return SN_Success; }
SNRESULT SetPoolName(SnMemPoolId, const char16_t*) { return SN_Success; }
const char* GetPoolName(SnMemPoolId) { return nullptr; }
void StartProfileThreadUsage() {}
uint64_t StopProfileThreadUsage() { return 0; }
SNRESULT SetMonitoring(SnMemPoolId, bool) { return SN_Success; }

}  // namespace MemoryMgr
}  // namespace SN
