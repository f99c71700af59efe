// Paged pools of fixed-size blocks, with optional debug fills, guard bytes and headers that catch misuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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
// the block prefix, the header, the leading pad, the block, the trailing pad.
//
// The block prefix (kBlockPrefixSize bytes) is the pool's own bookkeeping, kept next to the block so
// Allocate and Free touch no other table. It also carries the free list, so a freed block keeps its
// debug fill whole:
//   - older (pointer): while handed out, the prefix of the block handed out before it (or the list
//     head); null while the block is free;
//   - newer (pointer): while handed out, the prefix of the block handed out after it (or the list
//     head); while free, the next free prefix (the free list);
//   - check (4 bytes): the block's address mixed with a per-pool key, written with the page. Without
//     debug, Free accepts an address only when the check word of its would-be prefix names it, so
//     stray addresses, blocks of other pools and prefixes clobbered by an underrun (the check word
//     is the nearest to the block) are refused rather than followed.
// The alignment bytes count the prefix with the header: left = a - ((prefix + header + link + pad)
// mod a), inter = a - ((prefix + header + 2 x pad + object) mod a), a zero remainder giving a full
// alignment of bytes.
//
// Alignment: blocks land on multiples of `alignment` (pages start on at least that boundary). Pools
// that hold C++ objects must configure an alignment of at least the objects' alignof; the pool cannot
// know the type, so it keeps the configured value as given.
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
  // The word at the start of each page reserved for the page link.
  static constexpr uint32_t kPageLinkSize = sizeof(void*);
  // The pool's own words before each block's header: two list links and the check word.
  static constexpr uint32_t kBlockPrefixSize = 2 * sizeof(void*) + sizeof(uint32_t);

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
  // Without debug the prefix words just before the address are read to tell, so it must at least be
  // readable memory.
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
  // is given, but no other.
  template <typename F>
  void ForEachBlock(F&& f) const {
    const char* const head = Head();
    for (char* node = Link(head, kNewer); node != head;) {
      char* const newer = Link(node, kNewer);
      f(static_cast<void*>(node + blockOffset_));
      node = newer;
    }
  }
  // The blocks handed out, in allocation order (a copy, safe to keep while freeing).
  std::vector<void*> GetBlocks() const;

 private:
  // Offsets of the prefix words.
  static constexpr size_t kOlder = 0;
  static constexpr size_t kNewer = sizeof(void*);
  static constexpr size_t kCheck = 2 * sizeof(void*);

  // Prefixes sit wherever the layout puts them, so their words are read and written bytewise.
  static char* Link(const char* node, size_t word) {
    char* value;
    std::memcpy(&value, node + word, sizeof(value));
    return value;
  }
  static void SetLink(char* node, size_t word, char* value) { std::memcpy(node + word, &value, sizeof(value)); }
  uint32_t CheckOf(const void* block) const { return uint32_t(reinterpret_cast<uintptr_t>(block)) ^ key_; }
  // The head of the circular list of blocks handed out: newer is the oldest block, older the newest.
  char* Head() { return reinterpret_cast<char*>(head_); }
  const char* Head() const { return reinterpret_cast<const char*>(head_); }

  char* Append(char* node);
  void TakeBack(char* node);
  void* AllocateSlow(const char* label);
  void FreeSlow(void* block);
  void ComputeLayout(uint32_t objectSize, const Config& config);
  void NewPage();
  bool PrepareAllocation(const char* label, ExternalHeader*& record);
  bool AcceptFree(char* node);
  void* AllocatePlain();
  void FreePlain(void* block);
  char* PageNodeOf(const void* block) const;
  char* CheckedNodeOf(const void* block) const;
  bool PadsIntact(const char* object) const;
  void WriteHeader(char* object, ExternalHeader* record);
  void ClearHeader(char* object);
  void Release();
  void ResetHead();
  void Swap(PBManager& other) noexcept;

  Config config_;
  bool fast_ = false;  // pooled, no debug, no header: Allocate and Free stay inline
  uint32_t objectSize_ = 0;
  size_t pageSize_ = 0;
  uint32_t capacity_ = 0;  // blocks in all pages
  uint32_t pagesInUse_ = 0;
  uint32_t peakObjectsInUse_ = 0;
  uint32_t allocations_ = 0;
  uint32_t deallocations_ = 0;
  // Objects in use = allocations - deallocations - inUseOffset_; blocks handed out from the pages =
  // allocations - deallocations - pooledOffset_ (plain-new blocks and dropped pages account for both).
  uint32_t inUseOffset_ = 0;
  uint32_t pooledOffset_ = 0;
  std::vector<char*> pages_;  // sorted by address, for the debug address check
  // Free blocks: those given back (a stack through the newer words, most recent on top), then the
  // never handed out rest of the newest page, from its last block down. A page is added only when
  // both are empty, so this is the one free list "last given back, first handed out".
  char* freeHead_ = nullptr;
  char* untouched_ = nullptr;
  uint32_t untouchedCount_ = 0;
  char* head_[2] = {};  // list head: older, newer words, as in a prefix
  uint32_t key_ = 0;    // mixed into every check word
  uint32_t firstOffset_ = 0;
  uint32_t stride_ = 0;
  uint32_t blockOffset_ = 0;       // from a block's prefix to the block
  uint64_t strideReciprocal_ = 0;  // ceil(2^64 / stride)
  size_t pageAlignment_ = alignof(std::max_align_t);
};

// Appends the block to the blocks handed out.
inline char* PBManager::Append(char* node) {
  char* const head = Head();
  char* const newest = Link(head, kOlder);
  SetLink(newest, kNewer, node);
  SetLink(node, kOlder, newest);
  SetLink(head, kOlder, node);
  SetLink(node, kNewer, head);
  return node + blockOffset_;
}

// Unlinks a handed-out block and pushes it on the free list.
inline void PBManager::TakeBack(char* node) {
  char* const older = Link(node, kOlder);
  char* const newer = Link(node, kNewer);
  char* const nextFree = freeHead_;
  freeHead_ = node;
  ++deallocations_;
  SetLink(older, kNewer, newer);
  SetLink(newer, kOlder, older);
  SetLink(node, kOlder, nullptr);
  SetLink(node, kNewer, nextFree);
}

inline void* PBManager::Allocate(const char* label) {
  // No peak to raise here: a block never handed out is used only once all the others are in use, so
  // the count peaks exactly when one of those goes out, which the slow path records.
  char* const node = freeHead_;
  if (!fast_ || !node) [[unlikely]]
    return AllocateSlow(label);
  freeHead_ = Link(node, kNewer);
  ++allocations_;
  return Append(node);
}

inline void PBManager::Free(void* block) {
  if (!fast_ || !block) [[unlikely]] {
    FreeSlow(block);
    return;
  }
  // A handed-out block of this pool has its check word and a non-null older link; anything else
  // (a stray address, a second free) takes the slow way, which logs it.
  char* const node = static_cast<char*>(block) - blockOffset_;
  uint32_t check;
  std::memcpy(&check, node + kCheck, sizeof(check));
  if (check != CheckOf(block) || !Link(node, kOlder)) [[unlikely]] {
    FreeSlow(block);
    return;
  }
  TakeBack(node);
}

}  // namespace Base
