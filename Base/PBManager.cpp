// Page layout, block hand-out and the debug checks that catch double frees, overruns and bad addresses.
#include "Base/PBManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "Base/Log.h"

namespace Base {
namespace {

constexpr uint8_t kNewPageFill = 0xAA;
constexpr uint8_t kAllocatedFill = 0xBB;
constexpr uint8_t kFreedFill = 0xCC;
constexpr uint8_t kPadFill = 0xDD;
constexpr uint8_t kAlignFill = 0xEE;

const char* const kMaxPagesMessage = "Can't Allocate New Page: Max logical pages has been reached";
const char* const kNoPageMemoryMessage = "Can't Allocate New Page: No system memory available";

// Heap record of an external header, with its own copy of the label.
PBManager::ExternalHeader* NewExternalHeader(const char* label) {
  auto* record = new (std::nothrow) PBManager::ExternalHeader{1, nullptr, 0};
  if (!record)
    throw MMException(MMException::Code_OutOfSystemMemory,
                      "Can't Allocate New Memory for External Head: Insufficient System Memory");
  if (label) {
    const size_t length = std::strlen(label) + 1;
    record->label = new (std::nothrow) char[length];
    if (!record->label) {
      delete record;
      throw MMException(MMException::Code_OutOfSystemMemory,
                        "Can't Allocate New Memory for Header's Label: Insufficient System Memory");
    }
    std::memcpy(record->label, label, length);
  }
  return record;
}

void DeleteExternalHeader(PBManager::ExternalHeader* record) {
  if (!record) return;
  delete[] record->label;
  delete record;
}

}  // namespace

const uintptr_t PBManager::kEmptyPageSet[1] = {PBManager::kNoPage};

PBManager::PBManager() = default;

PBManager::PBManager(uint32_t objectSize, const Config& config) : PBManager() { Init(objectSize, config); }

PBManager::~PBManager() {
  if (GetObjectsInUse() > 0) BASE_LOG(Warning, "Trying to destruct PBManager but memory still allocated.");
  Release();
}

PBManager::PBManager(PBManager&& other) noexcept : PBManager() { Swap(other); }

PBManager& PBManager::operator=(PBManager&& other) noexcept {
  if (this != &other) {
    PBManager taken(std::move(other));
    Swap(taken);
  }
  return *this;
}

void PBManager::Init(uint32_t objectSize, const Config& config) {
  if (head_.newer != &head_) BASE_LOG(Warning, "Reinitialising PBManager while memory is still allocated.");
  Release();
  ComputeLayout(objectSize, config);
  if (config_.plainNew) return;
  try {
    NewPage();
  } catch (const MMException& e) {
    BASE_LOG(Error, "%s", e.what());
  }
}

void PBManager::ComputeLayout(uint32_t objectSize, const Config& config) {
  config_ = config;
  switch (config_.headerKind) {
    case Header_None: config_.headerSize = 0; break;
    case Header_Basic: config_.headerSize = kBasicHeaderSize; break;
    case Header_External: config_.headerSize = kExternalHeaderSize; break;
    default:
      BASE_LOG(Warning, "PBManager: unknown header kind %u, using none", config_.headerKind);
      config_.headerKind = Header_None;
      config_.headerSize = 0;
  }
  // The free list lives in the blocks' first word, so a block is at least a pointer wide.
  objectSize_ = std::max<uint32_t>(objectSize, sizeof(void*));

  const uint64_t header = config_.headerSize;
  const uint64_t pad = config_.padBytes;
  const uint64_t align = config_.alignment;
  if (align < 2) {
    config_.leftAlignmentBytes = config_.interAlignmentBytes = 0;
  } else {
    // A zero remainder still gives a full alignment of bytes: the layout is fixed by this formula.
    config_.leftAlignmentBytes = uint32_t(align - (header + kPageLinkSize + pad) % align);
    config_.interAlignmentBytes = uint32_t(align - (header + 2 * pad + objectSize_) % align);
  }
  const uint64_t left = config_.leftAlignmentBytes;
  const uint64_t inter = config_.interAlignmentBytes;
  const uint64_t perPage = config_.objectsPerPage;
  const uint64_t stride = inter + objectSize_ + 2 * pad + header;

  pageSize_ = size_t(kPageLinkSize + left + perPage * (header + objectSize_ + 2 * pad) +
                     (perPage ? perPage - 1 : 0) * inter);
  firstOffset_ = uint32_t(kPageLinkSize + left + header + pad);
  stride_ = uint32_t(std::min<uint64_t>(stride, UINT32_MAX));
  fast_ = !config_.plainNew && !config_.debug && config_.headerKind == Header_None;

  // Pages too large for 32-bit offsets are refused by NewPage; the numbers below only need to fit.
  const uint64_t span = perPage ? (perPage - 1) * stride + 1 : 0;
  blocksSpan_ = uint32_t(std::min<uint64_t>(span, UINT32_MAX));
  strideReciprocal_ = UINT64_MAX / stride_ + 1;  // the stride is at least a pointer wide
  slotShift_ = uint8_t(std::bit_width(stride_) - 1);
  slotCount_ = perPage ? uint32_t(((firstOffset_ + (perPage - 1) * stride) >> slotShift_) + 1) : 0;
  // The entries follow the laid-out bytes; the page boundary is the first power of two past them both.
  entriesOffset_ = uint32_t(std::min<uint64_t>((pageSize_ + sizeof(Entry) - 1) & ~uint64_t(sizeof(Entry) - 1), UINT32_MAX));
  const uint64_t extent = uint64_t(entriesOffset_) + uint64_t(slotCount_) * sizeof(Entry);
  pageAlignment_ = alignof(std::max_align_t);
  while (pageAlignment_ < extent && pageAlignment_ < (size_t(1) << 40)) pageAlignment_ <<= 1;
  if (std::has_single_bit(config_.alignment) && config_.alignment > pageAlignment_) pageAlignment_ = config_.alignment;
  pageShift_ = uint8_t(std::countr_zero(pageAlignment_));
  pageMask_ = ~uintptr_t(pageAlignment_ - 1);
}

void PBManager::NewPage() {
  if (pagesInUse_ >= config_.maxPages) throw MMException(MMException::Code_OutOfPages, kMaxPagesMessage);
  const uint32_t perPage = config_.objectsPerPage;
  if (perPage == 0)
    throw MMException(MMException::Code_OutOfPages, "Can't Allocate New Page: Pages hold no objects");
  // Offsets inside a page are 32-bit.
  if (pageSize_ > UINT32_MAX / 2 || uint64_t(capacity_) + perPage > UINT32_MAX)
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);

  const size_t bytes = entriesOffset_ + size_t(slotCount_) * sizeof(Entry);
  auto* page = static_cast<char*>(::operator new(bytes, std::align_val_t(pageAlignment_), std::nothrow));
  if (!page) throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  try {
    pages_.push_back(page);
    AddToPageSet(reinterpret_cast<uintptr_t>(page));
  } catch (const std::bad_alloc&) {
    if (!pages_.empty() && pages_.back() == page) pages_.pop_back();
    ::operator delete(page, std::align_val_t(pageAlignment_));
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  }
  ++pagesInUse_;
  std::memcpy(page, &pageList_, kPageLinkSize);
  pageList_ = page;
  // Every entry starts free.
  std::memset(page + entriesOffset_, 0, size_t(slotCount_) * sizeof(Entry));

  if (config_.debug) {
    const uint32_t header = config_.headerSize;
    const uint32_t pad = config_.padBytes;
    const uint32_t inter = config_.interAlignmentBytes;
    std::memset(page + kPageLinkSize, kAlignFill, config_.leftAlignmentBytes);
    for (uint32_t i = 0; i < perPage; ++i) {
      char* const object = page + firstOffset_ + size_t(i) * stride_;
      if (i > 0) std::memset(object - pad - header - inter, kAlignFill, inter);
      std::memset(object - pad - header, 0, header);
      std::memset(object - pad, kPadFill, pad);
      std::memset(object, kNewPageFill, objectSize_);
      std::memset(object + objectSize_, kPadFill, pad);
    }
  }
  // Pushed on the free list in address order, so handed out from the last block down; their first
  // words are written as they go out rather than all now, which would touch the whole page at once.
  untouched_ = page + firstOffset_ + size_t(perPage - 1) * stride_;
  untouchedCount_ = perPage;
  capacity_ += perPage;
}

// Adds a page start to the open-addressed set, which stays at most half full.
void PBManager::AddToPageSet(uintptr_t page) {
  if (2 * (pages_.size()) > pageSetStorage_.size()) {
    std::vector<uintptr_t> grown(std::max<size_t>(4, 2 * pageSetStorage_.size()), kNoPage);
    pageSetStorage_.swap(grown);
    pageSet_ = pageSetStorage_.data();
    pageSetMask_ = pageSetStorage_.size() - 1;
    for (char* known : pages_)
      if (reinterpret_cast<uintptr_t>(known) != page) AddToPageSet(reinterpret_cast<uintptr_t>(known));
  }
  size_t i = PageSetIndex(page);
  while (pageSetStorage_[i] != kNoPage) i = (i + 1) & pageSetMask_;
  pageSetStorage_[i] = page;
}

bool PBManager::IsPage(uintptr_t page) const {
  for (size_t i = PageSetIndex(page);; i = (i + 1) & pageSetMask_) {
    if (pageSet_[i] == page) return true;
    if (pageSet_[i] == kNoPage) return false;
  }
}

void* PBManager::AllocateSlow(const char* label) {
  if (config_.plainNew) return AllocatePlain();
  ExternalHeader* record = nullptr;
  if (!PrepareAllocation(label, record)) return nullptr;
  char*& freeList = FreeList();
  char* block = freeList;
  ++allocations_;
  if (block) {
    freeList = static_cast<char*>(NextFree(block));
  } else {
    // Every block handed out before is in use again: the count reaches a new high.
    block = untouched_;
    untouched_ = --untouchedCount_ ? block - stride_ : nullptr;
    peakObjectsInUse_ = std::max(peakObjectsInUse_, GetObjectsInUse());
  }
  Hand(block);
  if (config_.debug) std::memset(block, kAllocatedFill, objectSize_);
  WriteHeader(block, record);
  return block;
}

bool PBManager::PrepareAllocation(const char* label, ExternalHeader*& record) {
  try {
    if (!FreeList() && !untouchedCount_) NewPage();
    // Made before the block leaves the free list, so a failure loses nothing.
    if (config_.headerKind == Header_External) record = NewExternalHeader(label);
    return true;
  } catch (const MMException& e) {
    BASE_LOG(Error, "%s", e.what());
    return false;
  }
}

void* PBManager::AllocatePlain() {
  void* block = ::operator new(objectSize_, std::align_val_t(pageAlignment_), std::nothrow);
  if (!block) {
    BASE_LOG(Error, "Can't Allocate New Memory Using New: Insufficient System Memory");
    return nullptr;
  }
  ++allocations_;
  ++pooledOffset_;  // not from a page
  peakObjectsInUse_ = std::max(peakObjectsInUse_, GetObjectsInUse());
  return block;
}

// The entry of the block at `block` when the address starts a block of one of this pool's pages;
// nothing at or near the address is read before that is known.
PBManager::Entry* PBManager::CheckedEntryOf(const void* block) const {
  const auto address = reinterpret_cast<uintptr_t>(block);
  const uintptr_t page = PageOf(address);
  return IsPage(page) ? EntryOf(address, page) : nullptr;
}

void PBManager::FreeSlow(void* block) {
  if (!block) return;
  if (config_.plainNew) {
    FreePlain(block);
    return;
  }
  Entry* const entry = CheckedEntryOf(block);
  auto* const object = static_cast<char*>(block);
  if (!AcceptFree(object, entry)) return;
  // Later frees on the same page of a pool without checks take the inline path.
  if (fast_) hotPage_ = PageOf(reinterpret_cast<uintptr_t>(block));
  TakeBack(object, entry, FreeList());
}

// The checks of a free, in order: a block start of this pool, not free already, pads intact. A block
// that passes has its debug fill and header cleared, ready to go back.
bool PBManager::AcceptFree(char* object, const Entry* entry) {
  if (!entry) {
    BASE_LOG(Warning, "Block is improperly aligned or a bad address");
    return false;
  }
  if (!entry->older) {
    BASE_LOG(Warning, "Block has already been deallocated");
    return false;
  }
  if (config_.debug) {
    if (!PadsIntact(object)) {
      BASE_LOG(Error, "Block is corrputed due to overflow/underflow");
      return false;
    }
    std::memset(object, kFreedFill, objectSize_);
  }
  if (config_.headerKind != Header_None) ClearHeader(object);
  return true;
}

void PBManager::FreePlain(void* block) {
  ::operator delete(block, std::align_val_t(pageAlignment_));
  // The in-use count stays at zero when more blocks come back than were counted out.
  if (GetObjectsInUse() == 0) --inUseOffset_;
  ++deallocations_;
  --pooledOffset_;
}

void PBManager::FreeAll() {
  // Newest first. A block that refuses to go (corrupt) stays in the ring and is passed over.
  for (Entry* entry = head_.older; entry != &head_;) {
    Entry* const older = entry->older;
    Free(BlockOf(entry));
    entry = older;
  }
}

std::vector<void*> PBManager::GetBlocks() const {
  std::vector<void*> blocks;
  blocks.reserve(GetObjectsInUse());
  ForEachBlock([&](void* block) { blocks.push_back(block); });
  return blocks;
}

bool PBManager::PadsIntact(const char* object) const {
  const uint32_t pad = config_.padBytes;
  for (uint32_t i = 0; i < pad; ++i) {
    if (uint8_t(object[-1 - int64_t(i)]) != kPadFill || uint8_t(object[objectSize_ + i]) != kPadFill)
      return false;
  }
  return true;
}

void PBManager::WriteHeader(char* object, ExternalHeader* record) {
  if (config_.headerKind == Header_None) return;
  char* header = object - config_.padBytes - config_.headerSize;
  if (config_.headerKind == Header_Basic) {
    std::memcpy(header, &allocations_, sizeof(uint32_t));
    header[sizeof(uint32_t)] = 1;
  } else if (config_.headerKind == Header_External) {
    record->allocationNumber = allocations_;
    std::memcpy(header, &record, sizeof(record));
  }
}

void PBManager::ClearHeader(char* object) {
  char* header = object - config_.padBytes - config_.headerSize;
  if (config_.headerKind == Header_External) {
    ExternalHeader* record = nullptr;
    std::memcpy(&record, header, sizeof(record));
    DeleteExternalHeader(record);
  }
  std::memset(header, 0, config_.headerSize);
}

void PBManager::Release() {
  uint32_t handedOut = 0;
  ForEachBlock([&](void* block) {
    if (config_.headerKind == Header_External) ClearHeader(static_cast<char*>(block));
    ++handedOut;
  });
  // The blocks still handed out go with their pages: no longer in use, not deallocated either.
  inUseOffset_ += std::min(handedOut, GetObjectsInUse());
  pooledOffset_ += handedOut;
  // The array, not the link words: a block's underrun may have clobbered the first page's link.
  for (char* page : pages_) ::operator delete(page, std::align_val_t(pageAlignment_));
  std::vector<char*>().swap(pages_);
  std::vector<uintptr_t>().swap(pageSetStorage_);
  pageSet_ = kEmptyPageSet;
  pageSetMask_ = 0;
  hotPage_ = kNoPage;
  ResetHead();
  pageList_ = nullptr;
  freeHead_ = slowFreeHead_ = untouched_ = nullptr;
  untouchedCount_ = 0;
  capacity_ = 0;
  pagesInUse_ = 0;
}

void PBManager::ResetHead() { head_.older = head_.newer = &head_; }

void PBManager::Swap(PBManager& other) noexcept {
  // The rings run through the head entries, which stay where they are: each ring's end blocks are
  // pointed at the head that takes it.
  const Entry mine = head_, theirs = other.head_;
  const bool mineEmpty = mine.newer == &head_, theirsEmpty = theirs.newer == &other.head_;
  const auto adopt = [](Entry& head, const Entry& ring, bool empty) {
    head = empty ? Entry{&head, &head} : ring;
    head.newer->older = &head;
    head.older->newer = &head;
  };
  adopt(head_, theirs, theirsEmpty);
  adopt(other.head_, mine, mineEmpty);
  std::swap(freeHead_, other.freeHead_);
  std::swap(slowFreeHead_, other.slowFreeHead_);
  std::swap(hotPage_, other.hotPage_);
  std::swap(pageMask_, other.pageMask_);
  std::swap(strideReciprocal_, other.strideReciprocal_);
  std::swap(entriesOffset_, other.entriesOffset_);
  std::swap(slotShift_, other.slotShift_);
  std::swap(blocksSpan_, other.blocksSpan_);
  std::swap(firstOffset_, other.firstOffset_);
  std::swap(allocations_, other.allocations_);
  std::swap(deallocations_, other.deallocations_);
  std::swap(stride_, other.stride_);
  std::swap(fast_, other.fast_);
  std::swap(pageShift_, other.pageShift_);
  std::swap(config_, other.config_);
  std::swap(objectSize_, other.objectSize_);
  std::swap(pageSize_, other.pageSize_);
  std::swap(capacity_, other.capacity_);
  std::swap(pagesInUse_, other.pagesInUse_);
  std::swap(peakObjectsInUse_, other.peakObjectsInUse_);
  std::swap(inUseOffset_, other.inUseOffset_);
  std::swap(pooledOffset_, other.pooledOffset_);
  std::swap(slotCount_, other.slotCount_);
  std::swap(pageAlignment_, other.pageAlignment_);
  std::swap(pageList_, other.pageList_);
  pages_.swap(other.pages_);
  pageSetStorage_.swap(other.pageSetStorage_);
  std::swap(pageSet_, other.pageSet_);
  std::swap(pageSetMask_, other.pageSetMask_);
  std::swap(untouched_, other.untouched_);
  std::swap(untouchedCount_, other.untouchedCount_);
}

}  // namespace Base
