// Paged pools of fixed-size blocks, with optional debug fills, guard bytes and headers that catch misuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Base/Assert.h"

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
// bookkeeping stays out of the block layout: after the laid-out bytes of each page come its words,
// one per block, holding the block's free bit or, while it is handed out, its place in the list of
// blocks handed out. Pages start on a power-of-two boundary larger than the page and its words, so a
// block's page is its address with the low bits cleared. Free looks that page up in the pool's own
// set of pages before reading anything, and accepts the address only when its word names a list
// entry holding exactly that address, so stray addresses, blocks of other pools, addresses inside a
// block and second frees are logged and left alone in every build.
//
// Allocate and Free of a pool without debug and without headers are a few loads and stores, inline;
// debug, headers and plain new take the out-of-line path.
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
  uint32_t GetObjectsInUse() const { return allocations_ - deallocations_ - inUseOffset_; }
  uint32_t GetFreeObjects() const { return capacity_ - (allocations_ - deallocations_ - pooledOffset_); }
  uint32_t GetPagesInUse() const { return pagesInUse_; }
  uint32_t GetPeakObjectsInUse() const { return peakObjectsInUse_; }
  uint32_t GetAllocations() const { return allocations_; }
  uint32_t GetDeallocations() const { return deallocations_; }
  uint32_t GetObjectSize() const { return objectSize_; }
  size_t GetPageSize() const { return pageSize_; }
  uint32_t GetFirstObjectOffset() const { return firstOffset_; }
  uint32_t GetStride() const { return stride_; }
  const Config& GetConfig() const { return config_; }

  // Calls f(void* block) for every block handed out, in allocation order. f may free the block it
  // is given, but no other, and allocates nothing.
  template <typename F>
  void ForEachBlock(F&& f) const {
    for (uint32_t i = 0; i < listSize_; ++i)
      if (void* const block = list_[i]) f(block);
  }
  // The blocks handed out, in allocation order (a copy, safe to keep while freeing).
  std::vector<void*> GetBlocks() const;

 private:
  // A block's bookkeeping word: the free bit, or its place in the list of blocks handed out. The free
  // bit is above every place, so "place < list size" also says "not free".
  static constexpr uint32_t kFreeBit = 0x80000000u;
  static constexpr uint32_t kMaxPlace = kFreeBit - 1;
  // An empty entry of the page set: odd, so never a page start.
  static constexpr uintptr_t kNoPage = 1;
  static const uintptr_t kEmptyPageSet[1];

  static void* NextFree(const char* block) {
    void* next;
    std::memcpy(&next, block, sizeof(next));
    return next;
  }
  static void SetNextFree(char* block, void* next) { std::memcpy(block, &next, sizeof(next)); }

  // Each block owns the word of slot (offset - first offset) >> slotShift_, the shift being the
  // stride's highest bit: distinct blocks get distinct slots without a division, and an address that
  // lands on a block's slot without starting it is caught by the list entry, which holds the block.
  uint32_t* WordOf(uintptr_t address, uintptr_t page) const {
    return reinterpret_cast<uint32_t*>(page + wordsOffset_) + ((address - page - firstOffset_) >> slotShift_);
  }
  uintptr_t PageOf(uintptr_t address) const { return address & pageMask_; }
  size_t PageSetIndex(uintptr_t page) const { return (page >> pageShift_) & pageSetMask_; }
  bool IsPage(uintptr_t page) const;

  void Hand(char* block);
  void TakeBack(char* block, uint32_t* word, uint32_t place);
  void MakeRoom();
  void* AllocateSlow(const char* label);
  void FreeSlow(void* block);
  void ComputeLayout(uint32_t objectSize, const Config& config);
  void NewPage();
  void AddToPageSet(uintptr_t page);
  bool PrepareAllocation(const char* label, ExternalHeader*& record);
  uint32_t* CheckedWordOf(const void* block) const;
  bool AcceptFree(char* block, const uint32_t* word);
  void* AllocatePlain();
  void FreePlain(void* block);
  bool PadsIntact(const char* object) const;
  void WriteHeader(char* object, ExternalHeader* record);
  void ClearHeader(char* object);
  void Release();
  void Swap(PBManager& other) noexcept;

  // Read by the inline paths.
  char* freeHead_ = nullptr;
  void** list_ = nullptr;  // list storage: handedOut_.data()
  uint32_t listSize_ = 0;
  uint32_t listRoom_ = 0;
  uint32_t allocations_ = 0;
  uint32_t deallocations_ = 0;
  const uintptr_t* pageSet_ = kEmptyPageSet;  // pageSetStorage_.data(), or the empty set
  size_t pageSetMask_ = 0;
  uintptr_t pageMask_ = 0;    // clears the low bits of an address inside a page
  uint32_t firstOffset_ = 0;
  uint32_t blocksSpan_ = 0;   // from the first block's start to past the last block's start
  uint32_t wordsOffset_ = 0;  // from a page's start to its bookkeeping words
  uint8_t pageShift_ = 0;     // log2 of the page boundary
  uint8_t slotShift_ = 0;
  bool fast_ = false;  // pooled, no debug, no header: Allocate and Free stay inline

  Config config_;
  uint32_t objectSize_ = 0;
  size_t pageSize_ = 0;
  uint32_t capacity_ = 0;  // blocks in all pages
  uint32_t pagesInUse_ = 0;
  uint32_t peakObjectsInUse_ = 0;
  // Objects in use = allocations - deallocations - inUseOffset_; blocks handed out from the pages =
  // allocations - deallocations - pooledOffset_ (plain-new blocks and dropped pages account for both).
  uint32_t inUseOffset_ = 0;
  uint32_t pooledOffset_ = 0;
  uint32_t stride_ = 0;
  uint32_t slotCount_ = 0;  // bookkeeping words per page
  size_t pageAlignment_ = alignof(std::max_align_t);  // a power of two above the page and its words
  char* pageList_ = nullptr;  // newest page; each page's link word names the one before it
  std::vector<char*> pages_;  // the same pages, for releasing them
  // Page starts, open-addressed by their high bits: an address is looked up here before anything at
  // or near it is read.
  std::vector<uintptr_t> pageSetStorage_;
  // The blocks handed out, in allocation order, in the first listSize_ entries; a freed block leaves
  // a null behind, squeezed out when the list is full. Its room, twice the blocks of all pages, is
  // made with each page, so a full list is always at least half nulls.
  std::vector<void*> handedOut_;
  // Free blocks: those given back (a stack through their first words, most recent on top), then the
  // never handed out rest of the newest page, from its last block down. A page is added only when
  // both are empty, so this is the one free list "last given back, first handed out".
  char* untouched_ = nullptr;
  uint32_t untouchedCount_ = 0;
};

// Records a block as handed out: its word takes its place at the end of the list.
inline void PBManager::Hand(char* block) {
  const auto address = reinterpret_cast<uintptr_t>(block);
  uint32_t* const word = WordOf(address, PageOf(address));
  ORV_ASSERT(*word == kFreeBit);  // the free list holds free blocks only
  ORV_ASSERT(listSize_ < listRoom_);
  *word = listSize_;
  list_[listSize_++] = block;
}

// Takes a handed-out block off the list (a null stays in its place unless it was the last) and
// pushes it on the free list.
inline void PBManager::TakeBack(char* block, uint32_t* word, uint32_t place) {
  ORV_ASSERT(place < listSize_ && list_[place] == block);
  list_[place] = nullptr;
  if (place + 1 == listSize_) listSize_ = place;
  *word = kFreeBit;
  SetNextFree(block, freeHead_);
  freeHead_ = block;
  ++deallocations_;
}

inline void* PBManager::Allocate(const char* label) {
  // No peak to raise here: a block never handed out is used only once all the others are in use, so
  // the count peaks exactly when one of those goes out, which the slow path records.
  char* const block = freeHead_;
  if (!fast_ || !block || listSize_ == listRoom_) [[unlikely]]
    return AllocateSlow(label);
  freeHead_ = static_cast<char*>(NextFree(block));
  ++allocations_;
  Hand(block);
  return block;
}

inline void PBManager::Free(void* block) {
  // The list entries are exactly the blocks handed out, so finding the block there proves it one of
  // this pool's, handed out: first at the end of the list, where the newest block is, then at the
  // place its word names, once its page is known to be one of this pool's. The slow path tells the
  // other cases apart and logs them.
  const auto address = reinterpret_cast<uintptr_t>(block);
  const uintptr_t page = PageOf(address);
  if (fast_) [[likely]] {
    const uint32_t last = listSize_ - 1;
    if (last < listSize_ && list_[last] == block) {
      TakeBack(static_cast<char*>(block), WordOf(address, page), last);
      return;
    }
    if (pageSet_[PageSetIndex(page)] == page && address - page - firstOffset_ < blocksSpan_) {
      uint32_t* const word = WordOf(address, page);
      const uint32_t place = *word;
      if (place < listSize_ && list_[place] == block) [[likely]] {
        TakeBack(static_cast<char*>(block), word, place);
        return;
      }
    }
  }
  FreeSlow(block);
}

}  // namespace Base
