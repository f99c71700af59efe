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
  if (m_head.newer != &m_head) BASE_LOG(Warning, "Reinitialising PBManager while memory is still allocated.");
  Release();
  ComputeLayout(objectSize, config);
  if (m_config.plainNew) return;
  try {
    NewPage();
  } catch (const MMException& e) {
    BASE_LOG(Error, "%s", e.what());
  }
}

void PBManager::ComputeLayout(uint32_t objectSize, const Config& config) {
  m_config = config;
  switch (m_config.headerKind) {
    case Header_None: m_config.headerSize = 0; break;
    case Header_Basic: m_config.headerSize = kBasicHeaderSize; break;
    case Header_External: m_config.headerSize = kExternalHeaderSize; break;
    default:
      BASE_LOG(Warning, "PBManager: unknown header kind %u, using none", m_config.headerKind);
      m_config.headerKind = Header_None;
      m_config.headerSize = 0;
  }
  // The free list lives in the blocks' first word, so a block is at least a pointer wide.
  m_objectSize = std::max<uint32_t>(objectSize, sizeof(void*));

  const uint64_t header = m_config.headerSize;
  const uint64_t pad = m_config.padBytes;
  const uint64_t align = m_config.alignment;
  if (align < 2) {
    m_config.leftAlignmentBytes = m_config.interAlignmentBytes = 0;
  } else {
    // A zero remainder still gives a full alignment of bytes: the layout is fixed by this formula.
    m_config.leftAlignmentBytes = uint32_t(align - (header + kPageLinkSize + pad) % align);
    m_config.interAlignmentBytes = uint32_t(align - (header + 2 * pad + m_objectSize) % align);
  }
  const uint64_t left = m_config.leftAlignmentBytes;
  const uint64_t inter = m_config.interAlignmentBytes;
  const uint64_t perPage = m_config.objectsPerPage;
  const uint64_t stride = inter + m_objectSize + 2 * pad + header;

  m_pageSize = size_t(kPageLinkSize + left + perPage * (header + m_objectSize + 2 * pad) +
                     (perPage ? perPage - 1 : 0) * inter);
  m_firstOffset = uint32_t(kPageLinkSize + left + header + pad);
  m_stride = uint32_t(std::min<uint64_t>(stride, UINT32_MAX));
  m_fast = !m_config.plainNew && !m_config.debug && m_config.headerKind == Header_None;

  // Pages too large for 32-bit offsets are refused by NewPage; the numbers below only need to fit.
  const uint64_t span = perPage ? (perPage - 1) * stride + 1 : 0;
  m_blocksSpan = uint32_t(std::min<uint64_t>(span, UINT32_MAX));
  m_strideReciprocal = UINT64_MAX / m_stride + 1;  // the stride is at least a pointer wide
  m_slotShift = uint8_t(std::bit_width(m_stride) - 1);
  m_slotCount = perPage ? uint32_t(((m_firstOffset + (perPage - 1) * stride) >> m_slotShift) + 1) : 0;
  // The entries follow the laid-out bytes; the page boundary is the first power of two past them both.
  m_entriesOffset =
      uint32_t(std::min<uint64_t>((m_pageSize + sizeof(Entry) - 1) & ~uint64_t(sizeof(Entry) - 1), UINT32_MAX));
  const uint64_t extent = uint64_t(m_entriesOffset) + uint64_t(m_slotCount) * sizeof(Entry);
  m_pageAlignment = alignof(std::max_align_t);
  while (m_pageAlignment < extent && m_pageAlignment < (size_t(1) << 40)) m_pageAlignment <<= 1;
  if (std::has_single_bit(m_config.alignment) && m_config.alignment > m_pageAlignment)
    m_pageAlignment = m_config.alignment;
  m_pageShift = uint8_t(std::countr_zero(m_pageAlignment));
  m_pageMask = ~uintptr_t(m_pageAlignment - 1);
}

void PBManager::NewPage() {
  if (m_pagesInUse >= m_config.maxPages) throw MMException(MMException::Code_OutOfPages, kMaxPagesMessage);
  const uint32_t perPage = m_config.objectsPerPage;
  if (perPage == 0)
    throw MMException(MMException::Code_OutOfPages, "Can't Allocate New Page: Pages hold no objects");
  // Offsets inside a page are 32-bit.
  if (m_pageSize > UINT32_MAX / 2 || uint64_t(m_capacity) + perPage > UINT32_MAX)
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);

  const size_t bytes = m_entriesOffset + size_t(m_slotCount) * sizeof(Entry);
  auto* page = static_cast<char*>(::operator new(bytes, std::align_val_t(m_pageAlignment), std::nothrow));
  if (!page) throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  try {
    m_pages.push_back(page);
    AddToPageSet(reinterpret_cast<uintptr_t>(page));
  } catch (const std::bad_alloc&) {
    if (!m_pages.empty() && m_pages.back() == page) m_pages.pop_back();
    ::operator delete(page, std::align_val_t(m_pageAlignment));
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  }
  ++m_pagesInUse;
  std::memcpy(page, &m_pageList, kPageLinkSize);
  m_pageList = page;
  // Every entry starts free.
  std::memset(page + m_entriesOffset, 0, size_t(m_slotCount) * sizeof(Entry));

  if (m_config.debug) {
    const uint32_t header = m_config.headerSize;
    const uint32_t pad = m_config.padBytes;
    const uint32_t inter = m_config.interAlignmentBytes;
    std::memset(page + kPageLinkSize, kAlignFill, m_config.leftAlignmentBytes);
    for (uint32_t i = 0; i < perPage; ++i) {
      char* const object = page + m_firstOffset + size_t(i) * m_stride;
      if (i > 0) std::memset(object - pad - header - inter, kAlignFill, inter);
      std::memset(object - pad - header, 0, header);
      std::memset(object - pad, kPadFill, pad);
      std::memset(object, kNewPageFill, m_objectSize);
      std::memset(object + m_objectSize, kPadFill, pad);
    }
  }
  for (uint32_t i = 0; i < perPage; ++i) PoisonRegion(page + m_firstOffset + size_t(i) * m_stride, m_objectSize);
  // Pushed on the free list in address order, so handed out from the last block down; their first
  // words are written as they go out rather than all now, which would touch the whole page at once.
  m_untouched = page + m_firstOffset + size_t(perPage - 1) * m_stride;
  m_untouchedCount = perPage;
  m_capacity += perPage;
}

// Adds a page start to the open-addressed set, which stays at most half full.
void PBManager::AddToPageSet(uintptr_t page) {
  if (2 * (m_pages.size()) > m_pageSetStorage.size()) {
    std::vector<uintptr_t> grown(std::max<size_t>(4, 2 * m_pageSetStorage.size()), kNoPage);
    m_pageSetStorage.swap(grown);
    m_pageSet = m_pageSetStorage.data();
    m_pageSetMask = m_pageSetStorage.size() - 1;
    for (char* known : m_pages)
      if (reinterpret_cast<uintptr_t>(known) != page) AddToPageSet(reinterpret_cast<uintptr_t>(known));
  }
  size_t i = PageSetIndex(page);
  while (m_pageSetStorage[i] != kNoPage) i = (i + 1) & m_pageSetMask;
  m_pageSetStorage[i] = page;
}

bool PBManager::IsPage(uintptr_t page) const {
  for (size_t i = PageSetIndex(page);; i = (i + 1) & m_pageSetMask) {
    if (m_pageSet[i] == page) return true;
    if (m_pageSet[i] == kNoPage) return false;
  }
}

void* PBManager::AllocateSlow(const char* label) {
  if (m_config.plainNew) return AllocatePlain();
  ExternalHeader* record = nullptr;
  if (!PrepareAllocation(label, record)) return nullptr;
  char*& freeList = FreeList();
  char* block = freeList;
  ++m_allocations;
  if (block) {
    UnpoisonRegion(block, m_objectSize);
    freeList = static_cast<char*>(NextFree(block));
  } else {
    // Every block handed out before is in use again: the count reaches a new high.
    block = m_untouched;
    m_untouched = --m_untouchedCount ? block - m_stride : nullptr;
    m_peakObjectsInUse = std::max(m_peakObjectsInUse, GetObjectsInUse());
    UnpoisonRegion(block, m_objectSize);
  }
  Hand(block);
  if (m_config.debug) std::memset(block, kAllocatedFill, m_objectSize);
  WriteHeader(block, record);
  return block;
}

bool PBManager::PrepareAllocation(const char* label, ExternalHeader*& record) {
  try {
    if (!FreeList() && !m_untouchedCount) NewPage();
    // Made before the block leaves the free list, so a failure loses nothing.
    if (m_config.headerKind == Header_External) record = NewExternalHeader(label);
    return true;
  } catch (const MMException& e) {
    BASE_LOG(Error, "%s", e.what());
    return false;
  }
}

void* PBManager::AllocatePlain() {
  void* block = ::operator new(m_objectSize, std::align_val_t(m_pageAlignment), std::nothrow);
  if (!block) {
    BASE_LOG(Error, "Can't Allocate New Memory Using New: Insufficient System Memory");
    return nullptr;
  }
  ++m_allocations;
  ++m_pooledOffset;  // not from a page
  m_peakObjectsInUse = std::max(m_peakObjectsInUse, GetObjectsInUse());
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
  if (m_config.plainNew) {
    FreePlain(block);
    return;
  }
  Entry* const entry = CheckedEntryOf(block);
  auto* const object = static_cast<char*>(block);
  if (!AcceptFree(object, entry)) return;
  // Later frees on the same page of a pool without checks take the inline path.
  if (m_fast) m_hotPage = PageOf(reinterpret_cast<uintptr_t>(block));
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
  if (m_config.debug) {
    if (!PadsIntact(object)) {
      BASE_LOG(Error, "Block is corrputed due to overflow/underflow");
      return false;
    }
    std::memset(object, kFreedFill, m_objectSize);
  }
  if (m_config.headerKind != Header_None) ClearHeader(object);
  return true;
}

void PBManager::FreePlain(void* block) {
  ::operator delete(block, std::align_val_t(m_pageAlignment));
  // The in-use count stays at zero when more blocks come back than were counted out.
  if (GetObjectsInUse() == 0) --m_inUseOffset;
  ++m_deallocations;
  --m_pooledOffset;
}

void PBManager::FreeAll() {
  // Newest first. A block that refuses to go (corrupt) stays in the ring and is passed over.
  for (Entry* entry = m_head.older; entry != &m_head;) {
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
  const uint32_t pad = m_config.padBytes;
  for (uint32_t i = 0; i < pad; ++i) {
    if (uint8_t(object[-1 - int64_t(i)]) != kPadFill || uint8_t(object[m_objectSize + i]) != kPadFill)
      return false;
  }
  return true;
}

void PBManager::WriteHeader(char* object, ExternalHeader* record) {
  if (m_config.headerKind == Header_None) return;
  char* header = object - m_config.padBytes - m_config.headerSize;
  if (m_config.headerKind == Header_Basic) {
    std::memcpy(header, &m_allocations, sizeof(uint32_t));
    header[sizeof(uint32_t)] = 1;
  } else if (m_config.headerKind == Header_External) {
    record->allocationNumber = m_allocations;
    std::memcpy(header, &record, sizeof(record));
  }
}

void PBManager::ClearHeader(char* object) {
  char* header = object - m_config.padBytes - m_config.headerSize;
  if (m_config.headerKind == Header_External) {
    ExternalHeader* record = nullptr;
    std::memcpy(&record, header, sizeof(record));
    DeleteExternalHeader(record);
  }
  std::memset(header, 0, m_config.headerSize);
}

void PBManager::Release() {
  uint32_t handedOut = 0;
  ForEachBlock([&](void* block) {
    if (m_config.headerKind == Header_External) ClearHeader(static_cast<char*>(block));
    ++handedOut;
  });
  // The blocks still handed out go with their pages: no longer in use, not deallocated either.
  m_inUseOffset += std::min(handedOut, GetObjectsInUse());
  m_pooledOffset += handedOut;
  // The array, not the link words: a block's underrun may have clobbered the first page's link.
  for (char* page : m_pages) {
    UnpoisonRegion(page, m_pageSize);
    ::operator delete(page, std::align_val_t(m_pageAlignment));
  }
  std::vector<char*>().swap(m_pages);
  std::vector<uintptr_t>().swap(m_pageSetStorage);
  m_pageSet = kEmptyPageSet;
  m_pageSetMask = 0;
  m_hotPage = kNoPage;
  ResetHead();
  m_pageList = nullptr;
  m_freeHead = m_slowFreeHead = m_untouched = nullptr;
  m_untouchedCount = 0;
  m_capacity = 0;
  m_pagesInUse = 0;
}

void PBManager::ResetHead() { m_head.older = m_head.newer = &m_head; }

void PBManager::Swap(PBManager& other) noexcept {
  // The rings run through the head entries, which stay where they are: each ring's end blocks are
  // pointed at the head that takes it.
  const Entry mine = m_head, theirs = other.m_head;
  const bool mineEmpty = mine.newer == &m_head, theirsEmpty = theirs.newer == &other.m_head;
  const auto adopt = [](Entry& head, const Entry& ring, bool empty) {
    head = empty ? Entry{&head, &head} : ring;
    head.newer->older = &head;
    head.older->newer = &head;
  };
  adopt(m_head, theirs, theirsEmpty);
  adopt(other.m_head, mine, mineEmpty);
  std::swap(m_freeHead, other.m_freeHead);
  std::swap(m_slowFreeHead, other.m_slowFreeHead);
  std::swap(m_hotPage, other.m_hotPage);
  std::swap(m_pageMask, other.m_pageMask);
  std::swap(m_strideReciprocal, other.m_strideReciprocal);
  std::swap(m_entriesOffset, other.m_entriesOffset);
  std::swap(m_slotShift, other.m_slotShift);
  std::swap(m_blocksSpan, other.m_blocksSpan);
  std::swap(m_firstOffset, other.m_firstOffset);
  std::swap(m_allocations, other.m_allocations);
  std::swap(m_deallocations, other.m_deallocations);
  std::swap(m_stride, other.m_stride);
  std::swap(m_fast, other.m_fast);
  std::swap(m_pageShift, other.m_pageShift);
  std::swap(m_config, other.m_config);
  std::swap(m_objectSize, other.m_objectSize);
  std::swap(m_pageSize, other.m_pageSize);
  std::swap(m_capacity, other.m_capacity);
  std::swap(m_pagesInUse, other.m_pagesInUse);
  std::swap(m_peakObjectsInUse, other.m_peakObjectsInUse);
  std::swap(m_inUseOffset, other.m_inUseOffset);
  std::swap(m_pooledOffset, other.m_pooledOffset);
  std::swap(m_slotCount, other.m_slotCount);
  std::swap(m_pageAlignment, other.m_pageAlignment);
  std::swap(m_pageList, other.m_pageList);
  m_pages.swap(other.m_pages);
  m_pageSetStorage.swap(other.m_pageSetStorage);
  std::swap(m_pageSet, other.m_pageSet);
  std::swap(m_pageSetMask, other.m_pageSetMask);
  std::swap(m_untouched, other.m_untouched);
  std::swap(m_untouchedCount, other.m_untouchedCount);
}

}  // namespace Base
