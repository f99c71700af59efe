// Paged pools of fixed-size blocks, with optional debug fills, guard bytes and headers that catch misuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// the header, the leading pad, the block, the trailing pad.
//
// Alignment: blocks land on multiples of `alignment` (pages start on at least that boundary). Pools
// that hold C++ objects must configure an alignment of at least the objects' alignof; the pool cannot
// know the type, so it keeps the configured value as given.
//
// Bookkeeping lives in a side table, one record per block, so Allocate and Free are constant time and
// the blocks handed out can be walked in allocation order (the game spaces' object order).
class PBManager {
 public:
  enum HeaderKind : uint32_t { Header_None = 0, Header_Basic = 1, Header_External = 2 };

  // Basic header: the allocation number, then the in-use byte.
  static constexpr uint32_t kBasicHeaderSize = sizeof(uint32_t) + 1;
  // External header: a pointer to an ExternalHeader record on the heap.
  static constexpr uint32_t kExternalHeaderSize = sizeof(void*);
  // The word at the start of each page reserved for the page link.
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
  // Returns a block. Null is ignored; an address that is not a handed-out block is logged and left alone.
  void Free(void* block);
  // Frees every block handed out, the most recent first.
  void FreeAll();

  uint32_t GetObjectsInUse() const { return objectsInUse_; }
  uint32_t GetFreeObjects() const { return freeObjects_; }
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
  // is given, but no other.
  template <typename F>
  void ForEachBlock(F&& f) const {
    for (uint32_t id = blocksHead_; id != kNoSlot;) {
      const uint32_t next = slots_[id].next;
      f(static_cast<void*>(slots_[id].object));
      id = next;
    }
  }
  // The blocks handed out, in allocation order (a copy, safe to keep while freeing).
  std::vector<void*> GetBlocks() const;

 private:
  static constexpr uint32_t kNoSlot = 0xFFFFFFFFu;

  struct Page {
    char* base;
    uint32_t firstSlot;  // id of the page's first block in slots_
  };
  // One per block of every page. While free, `next` links the free list; while handed out,
  // `prev`/`next` link the blocks in allocation order.
  struct Slot {
    char* object;
    uint32_t prev;
    uint32_t next;
    bool inUse;
  };

  void ComputeLayout(uint32_t objectSize, const Config& config);
  void NewPage();
  bool PrepareAllocation(const char* label, ExternalHeader*& record);
  bool AcceptFree(uint32_t id);
  void* AllocatePlain();
  void FreePlain(void* block);
  uint32_t SlotOf(const void* block) const;
  bool PadsIntact(const char* object) const;
  void WriteHeader(char* object, ExternalHeader* record);
  void ClearHeader(char* object);
  void Release();
  void Swap(PBManager& other) noexcept;

  Config config_;
  uint32_t objectSize_ = 0;
  size_t pageSize_ = 0;
  uint32_t freeObjects_ = 0;
  uint32_t objectsInUse_ = 0;
  uint32_t pagesInUse_ = 0;
  uint32_t peakObjectsInUse_ = 0;
  uint32_t allocations_ = 0;
  uint32_t deallocations_ = 0;
  std::vector<Page> pages_;  // sorted by address, for finding the page of a block
  std::vector<Slot> slots_;
  uint32_t freeHead_ = kNoSlot;
  uint32_t firstOffset_ = 0;
  uint32_t stride_ = 0;
  uint64_t strideReciprocal_ = 0;  // ceil(2^64 / stride)
  uint32_t blocksHead_ = kNoSlot;  // oldest block handed out
  uint32_t blocksTail_ = kNoSlot;  // newest block handed out
  size_t pageAlignment_ = alignof(std::max_align_t);
};

}  // namespace Base
