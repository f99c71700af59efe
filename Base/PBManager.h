// Paged pools of fixed-size blocks, with optional debug fills, guard bytes and headers that catch misuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Base/Assert.h"
#include "Base/PoisonRegion.h"

namespace Base {

// Raised only inside PBManager and caught there; callers see a logged message and a null block.
class MMException {
 public:
  enum Code : uint32_t { Code_OutOfSystemMemory = 0, Code_OutOfPages = 1 };

  MMException(uint32_t code, std::string message) : code(code), message(std::move(message)) {}
  virtual ~MMException() = default;
  virtual const char* what() const { return message.c_str(); }

  uint32_t code;
  std::string message;
};

// Hands out blocks of one size from pages of `objectsPerPage` blocks. A page is laid out as: the page
// link word, the left alignment bytes, then per block (from the second on) the inter alignment bytes,
// the header, the leading pad, the block, the trailing pad. Nothing else lives between the blocks, so
// a 32-byte block without header, pads or alignment takes 32 bytes of its page.
//
// The alignment bytes make every block start on a multiple of the alignment: left = a - ((header +
// link + pad) mod a), inter = a - ((header + 2 x pad + object) mod a), a zero remainder giving a full
// alignment of bytes. Pools that hold C++ objects must configure an alignment of at least the objects'
// alignof; the pool cannot know the type, so it keeps the configured value as given.
//
// Free blocks are linked through their first word, last given back first handed out. The pool's own
// bookkeeping stays out of the block layout: after the laid-out bytes of each page come its entries.
// An entry is a block's free mark and its place in the list of blocks handed out: while handed out,
// it links to the entries of the blocks handed out just before and after it (a ring through the
// pool's head entry, in allocation order); while free, its older link is null. Pages start on a
// power-of-two boundary larger than the page and its entries, so a block's page is its address with
// the low bits cleared, and its entry is the one of slot (offset in page) >> (highest bit of the
// stride): distinct blocks get distinct slots without a division.
//
// Free accepts an address only when its page is one of this pool's (the page of the last free, or
// the pool's set of pages), its offset starts a block and the block's entry is not free, reading
// nothing at or near the address before the page is known. Stray addresses, blocks of other pools,
// addresses inside a block and second frees are logged and left alone in every build.
//
// Allocate and Free of a pool without debug and without headers are a few loads and stores, inline;
// debug, headers, plain new and frees on another page than the last take the out-of-line path.
class PBManager {
 public:
  enum HeaderKind : uint32_t { Header_None = 0, Header_Basic = 1, Header_External = 2 };

  // Basic header: the allocation number, then the in-use byte.
  static constexpr uint32_t kBasicHeaderSize = sizeof(uint32_t) + 1;
  // External header: a pointer to an ExternalHeader record on the heap.
  static constexpr uint32_t kExternalHeaderSize = sizeof(void*);
  // The word at the start of each page that links it to the next.
  static constexpr uint32_t kPageLinkSize = sizeof(void*);

  struct ExternalHeader {
    uint8_t inUse;
    char* label;  // copied text, or null
    uint32_t allocationNumber;
  };

  struct Config {
    bool plainNew = false;  // every block from the general heap, no pages
    uint32_t objectsPerPage = 0;
    uint32_t maxPages = 0;  // 0 allows no page at all
    bool debug = true;      // fill patterns, header clearing, pad checks
    uint32_t padBytes = 0;  // guard bytes on each side of every block
    uint32_t headerKind = Header_Basic;
    uint32_t headerSize = kBasicHeaderSize;  // follows headerKind; set by the layout computation
    uint32_t headerAdditionalBytes = 0;      // carried, not part of the layout
    uint32_t alignment = 0;                  // 0 or 1: none
    uint32_t leftAlignmentBytes = 0;         // computed
    uint32_t interAlignmentBytes = 0;        // computed
  };

  // No object size and no pages: cannot allocate until Init.
  PBManager();
  PBManager(uint32_t objectSize, const Config& config);
  ~PBManager();

  // Pages belong to exactly one manager.
  PBManager(const PBManager&) = delete;
  PBManager& operator=(const PBManager&) = delete;
  PBManager(PBManager&& other) noexcept;
  PBManager& operator=(PBManager&& other) noexcept;

  // Lays the pool out anew and builds its first page. Pages held from an earlier configuration are
  // released first; the counters of allocations and deallocations are kept.
  void Init(uint32_t objectSize, const Config& config);

  // A block, or null (logged) when no page can be added. `label` is kept only by external headers.
  void* Allocate(const char* label = nullptr);
  // Returns a block. Null is ignored; an address that is not a handed-out block of this pool is
  // logged and left alone.
  void Free(void* block);
  // Frees every block handed out, the most recent first.
  void FreeAll();

  // The hot paths count only allocations and deallocations; the other counts follow from them.
  uint32_t GetObjectsInUse() const { return m_allocations - m_deallocations - m_inUseOffset; }
  uint32_t GetFreeObjects() const { return m_capacity - (m_allocations - m_deallocations - m_pooledOffset); }
  uint32_t GetPagesInUse() const { return m_pagesInUse; }
  uint32_t GetPeakObjectsInUse() const { return m_peakObjectsInUse; }
  uint32_t GetAllocations() const { return m_allocations; }
  uint32_t GetDeallocations() const { return m_deallocations; }
  uint32_t GetObjectSize() const { return m_objectSize; }
  size_t GetPageSize() const { return m_pageSize; }
  uint32_t GetFirstObjectOffset() const { return m_firstOffset; }
  uint32_t GetStride() const { return m_stride; }
  const Config& GetConfig() const { return m_config; }

  // Calls f(void* block) for every block handed out, in allocation order. f may free the block it
  // is given, but no other, and allocates nothing.
  template <typename F>
  void ForEachBlock(F&& f) const {
    for (const Entry* entry = m_head.newer; entry != &m_head;) {
      const Entry* const newer = entry->newer;  // read first: f may free the block
      f(BlockOf(entry));
      entry = newer;
    }
  }
  // The blocks handed out, in allocation order (a copy, safe to keep while freeing).
  std::vector<void*> GetBlocks() const;

 private:
  // A block's bookkeeping, after its page's laid-out bytes. While the block is handed out, `older` and
  // `newer` link it into the ring of blocks handed out; a free block has a null `older`.
  struct Entry {
    Entry* older;
    Entry* newer;
  };
  static constexpr uint32_t kEntryShift = 4;
  static_assert(sizeof(Entry) == size_t(1) << kEntryShift, "entries are found by shifting the slot");
  // An empty entry of the page set: odd, so never a page start.
  static constexpr uintptr_t kNoPage = 1;
  static const uintptr_t kEmptyPageSet[1];

  static void* NextFree(const char* block) {
    void* next;
    std::memcpy(&next, block, sizeof(next));
    return next;
  }
  static void SetNextFree(char* block, void* next) { std::memcpy(block, &next, sizeof(next)); }

  uintptr_t PageOf(uintptr_t address) const { return address & m_pageMask; }
  size_t PageSetIndex(uintptr_t page) const { return (page >> m_pageShift) & m_pageSetMask; }
  bool IsPage(uintptr_t page) const;
  // The entry of the slot holding `address` of `page`.
  Entry* SlotEntry(uintptr_t address, uintptr_t page) const {
    return reinterpret_cast<Entry*>(page + m_entriesOffset) + ((address - page) >> m_slotShift);
  }
  // The entry of the block starting at `address` of `page`, or null when no block starts there. An
  // offset below 2^32 times ceil(2^64 / stride) is below the multiplier (mod 2^64) exactly when the
  // offset is a whole number of strides.
  Entry* EntryOf(uintptr_t address, uintptr_t page) const {
    const uintptr_t offset = address - page - m_firstOffset;
    if (offset >= m_blocksSpan || m_strideReciprocal * uint32_t(offset) >= m_strideReciprocal) return nullptr;
    return SlotEntry(address, page);
  }
  Entry* EntryOfBlock(const char* block) const {
    const auto address = reinterpret_cast<uintptr_t>(block);
    return SlotEntry(address, PageOf(address));
  }
  // The block of a slot starts in it: the first block start at or after the slot's first byte, a
  // rounded-up division done as the high half of a multiplication by ceil(2^64 / stride).
  void* BlockOf(const Entry* entry) const {
    const auto address = reinterpret_cast<uintptr_t>(entry);
    const uintptr_t page = PageOf(address);
    const uintptr_t slot = (address - page - m_entriesOffset) >> kEntryShift;
    const auto upTo = uint32_t((slot << m_slotShift) + m_stride - 1 - m_firstOffset);
    uint64_t index;
#if defined(__SIZEOF_INT128__)
    index = uint64_t((static_cast<unsigned __int128>(m_strideReciprocal) * upTo) >> 64);
#else
    index = upTo / m_stride;
#endif
    return reinterpret_cast<void*>(page + m_firstOffset + index * m_stride);
  }

  void Hand(char* block);
  void TakeBack(char* block, Entry* entry, char*& freeList);
  char*& FreeList() { return m_fast ? m_freeHead : m_slowFreeHead; }
  void* AllocateSlow(const char* label);
  void FreeSlow(void* block);
  void ComputeLayout(uint32_t objectSize, const Config& config);
  void NewPage();
  void AddToPageSet(uintptr_t page);
  bool PrepareAllocation(const char* label, ExternalHeader*& record);
  Entry* CheckedEntryOf(const void* block) const;
  bool AcceptFree(char* block, const Entry* entry);
  void* AllocatePlain();
  void FreePlain(void* block);
  bool PadsIntact(const char* object) const;
  void WriteHeader(char* object, ExternalHeader* record);
  void ClearHeader(char* object);
  void Release();
  void ResetHead();
  void Swap(PBManager& other) noexcept;

  // Read by the inline paths. Pools that take the out-of-line path keep m_freeHead null and m_hotPage
  // empty, so the inline paths test nothing else.
  char* m_freeHead = nullptr;
  Entry m_head = {&m_head, &m_head};  // older: the newest block handed out; newer: the oldest
  uintptr_t m_hotPage = kNoPage;    // the page of the last free, known to be one of this pool's
  uintptr_t m_pageMask = 0;         // clears the low bits of an address inside a page
  uint64_t m_strideReciprocal = 0;  // ceil(2^64 / stride)
  uint32_t m_firstOffset = 0;
  uint32_t m_blocksSpan = 0;     // from the first block's start to past the last block's start
  uint32_t m_entriesOffset = 0;  // from a page's start to its entries
  uint32_t m_allocations = 0;
  uint32_t m_deallocations = 0;
  uint32_t m_stride = 0;
  uint8_t m_slotShift = 0;
  uint8_t m_pageShift = 0;  // log2 of the page boundary
  bool m_fast = false;      // pooled, no debug, no header: Allocate and Free stay inline
  char* m_slowFreeHead = nullptr;  // the free list of the other pools

  Config m_config;
  uint32_t m_objectSize = 0;
  size_t m_pageSize = 0;
  uint32_t m_capacity = 0;     // blocks in all pages
  uint32_t m_pagesInUse = 0;
  uint32_t m_peakObjectsInUse = 0;
  // Objects in use = allocations - deallocations - m_inUseOffset; blocks handed out from the pages =
  // allocations - deallocations - m_pooledOffset (plain-new blocks and dropped pages account for both).
  uint32_t m_inUseOffset = 0;
  uint32_t m_pooledOffset = 0;
  uint32_t m_slotCount = 0;  // entries per page
  size_t m_pageAlignment = alignof(std::max_align_t);  // a power of two above the page and its entries
  char* m_pageList = nullptr;  // newest page; each page's link word names the one before it
  std::vector<char*> m_pages;  // the same pages, for releasing them
  // Page starts, open-addressed by their high bits: an address is looked up here before anything at
  // or near it is read.
  std::vector<uintptr_t> m_pageSetStorage;
  const uintptr_t* m_pageSet = kEmptyPageSet;  // m_pageSetStorage.data(), or the empty set
  size_t m_pageSetMask = 0;
  // Free blocks: those given back (a stack through their first words, most recent on top), then the
  // never handed out rest of the newest page, from its last block down. A page is added only when
  // both are empty, so this is the one free list "last given back, first handed out".
  char* m_untouched = nullptr;
  uint32_t m_untouchedCount = 0;
};

// Records a block as handed out: its entry becomes the newest of the ring.
inline void PBManager::Hand(char* block) {
  Entry* const entry = EntryOfBlock(block);
  ORV_ASSERT(!entry->older);  // the free list holds free blocks only
  Entry* const newest = m_head.older;
  newest->newer = entry;
  entry->older = newest;
  entry->newer = &m_head;
  m_head.older = entry;
}

// Takes a handed-out block out of the ring and pushes it on the free list.
inline void PBManager::TakeBack(char* block, Entry* entry, char*& freeList) {
  Entry* const older = entry->older;
  Entry* const newer = entry->newer;
  ORV_ASSERT(older->newer == entry && newer->older == entry);
  older->newer = newer;
  newer->older = older;
  entry->older = nullptr;
  SetNextFree(block, freeList);
  freeList = block;
  ++m_deallocations;
  // Free blocks stay poisoned until handed out again (under AddressSanitizer).
  PoisonRegion(block, m_objectSize);
}

inline void* PBManager::Allocate(const char* label) {
  // No peak to raise here: a block never handed out is used only once all the others are in use, so
  // the count peaks exactly when one of those goes out, which the slow path records.
  char* const block = m_freeHead;
  if (!block) [[unlikely]]
    return AllocateSlow(label);
  UnpoisonRegion(block, m_objectSize);
  m_freeHead = static_cast<char*>(NextFree(block));
  ++m_allocations;
  Hand(block);
  return block;
}

inline void PBManager::Free(void* block) {
  // On the page of the last free, a block start whose entry is not free is a handed-out block of this
  // pool. The slow path looks other pages up and logs what is refused.
  const auto address = reinterpret_cast<uintptr_t>(block);
  const uintptr_t page = PageOf(address);
  if (page == m_hotPage) [[likely]] {
    Entry* const entry = EntryOf(address, page);
    if (entry && entry->older) [[likely]] {
      TakeBack(static_cast<char*>(block), entry, m_freeHead);
      return;
    }
  }
  FreeSlow(block);
}

}  // namespace Base
