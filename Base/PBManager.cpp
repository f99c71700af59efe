// Page layout, block hand-out and the debug checks that catch double frees, overruns and bad addresses.
#include "Base/PBManager.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "Base/TraceLog.h"

namespace Base {
namespace {

constexpr uint8_t kNewPageFill = 0xAA;
constexpr uint8_t kAllocatedFill = 0xBB;
constexpr uint8_t kFreedFill = 0xCC;
constexpr uint8_t kPadFill = 0xDD;
constexpr uint8_t kAlignFill = 0xEE;

const char* const kMaxPagesMessage = "Can't Allocate New Page: Max logical pages has been reached";
const char* const kNoPageMemoryMessage = "Can't Allocate New Page: No system memory available";

[[gnu::cold, gnu::noinline]] void LogBase(TraceLevel level, const char* text) {
  TraceLog::GetInstance().Print(level, TraceModule_Base, "%s", text);
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

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

PBManager::PBManager() = default;

PBManager::PBManager(uint32_t objectSize, const Config& config) { Init(objectSize, config); }

PBManager::~PBManager() {
  if (objectsInUse_ > 0)
    LogBase(TraceLevel_Warning, "Trying to destruct PBManager but memory still allocated.");
  Release();
}

PBManager::PBManager(PBManager&& other) noexcept { Swap(other); }

PBManager& PBManager::operator=(PBManager&& other) noexcept {
  if (this != &other) {
    PBManager taken(std::move(other));
    Swap(taken);
  }
  return *this;
}

void PBManager::Init(uint32_t objectSize, const Config& config) {
  if (blocksHead_ != kNoSlot)
    LogBase(TraceLevel_Warning, "Reinitialising PBManager while memory is still allocated.");
  Release();
  ComputeLayout(objectSize, config);
  if (config_.plainNew) return;
  try {
    NewPage();
  } catch (const MMException& e) {
    LogBase(TraceLevel_Error, e.what());
  }
}

void PBManager::ComputeLayout(uint32_t objectSize, const Config& config) {
  config_ = config;
  switch (config_.headerKind) {
    case Header_None: config_.headerSize = 0; break;
    case Header_Basic: config_.headerSize = kBasicHeaderSize; break;
    case Header_External: config_.headerSize = kExternalHeaderSize; break;
    default:
      TraceLog::GetInstance().Print(TraceLevel_Warning, TraceModule_Base,
                                    "PBManager: unknown header kind %u, using none", config_.headerKind);
      config_.headerKind = Header_None;
      config_.headerSize = 0;
  }
  // Blocks are at least a pointer wide, so the stride is never 1 (its reciprocal would not fit).
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
  strideReciprocal_ = UINT64_MAX / stride_ + 1;
  pageAlignment_ = alignof(std::max_align_t);
  if (IsPowerOfTwo(config_.alignment) && config_.alignment > pageAlignment_) pageAlignment_ = config_.alignment;
}

void PBManager::NewPage() {
  if (pagesInUse_ >= config_.maxPages) throw MMException(MMException::Code_OutOfPages, kMaxPagesMessage);
  const uint32_t perPage = config_.objectsPerPage;
  if (perPage == 0)
    throw MMException(MMException::Code_OutOfPages, "Can't Allocate New Page: Pages hold no objects");
  // Offsets inside a page and block ids are 32-bit.
  if (pageSize_ > UINT32_MAX || slots_.size() + perPage >= kNoSlot)
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);

  auto* base = static_cast<char*>(::operator new(pageSize_, std::align_val_t(pageAlignment_), std::nothrow));
  if (!base) throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  const auto firstSlot = uint32_t(slots_.size());
  try {
    slots_.reserve(slots_.size() + perPage);
    const auto at = std::upper_bound(pages_.begin(), pages_.end(), base,
                                     [](const char* b, const Page& p) { return b < p.base; });
    pages_.insert(at, Page{base, firstSlot});
  } catch (const std::bad_alloc&) {
    ::operator delete(base, std::align_val_t(pageAlignment_));
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  }
  ++pagesInUse_;

  // The link word keeps its place in the layout; the pages themselves are listed in pages_.
  std::memset(base, 0, kPageLinkSize);
  const uint32_t header = config_.headerSize;
  const uint32_t pad = config_.padBytes;
  const uint32_t inter = config_.interAlignmentBytes;
  if (config_.debug) std::memset(base + kPageLinkSize, kAlignFill, config_.leftAlignmentBytes);
  for (uint32_t i = 0; i < perPage; ++i) {
    char* object = base + firstOffset_ + size_t(i) * stride_;
    if (config_.debug) {
      if (i > 0) std::memset(object - pad - header - inter, kAlignFill, inter);
      std::memset(object - pad - header, 0, header);
      std::memset(object - pad, kPadFill, pad);
      std::memset(object, kNewPageFill, objectSize_);
      std::memset(object + objectSize_, kPadFill, pad);
    }
    // Pushed in address order, so the last block of the page is handed out first.
    slots_.push_back(Slot{object, kNoSlot, freeHead_, false});
    freeHead_ = firstSlot + i;
    ++freeObjects_;
  }
}

void* PBManager::Allocate(const char* label) {
  if (config_.plainNew) return AllocatePlain();
  ExternalHeader* record = nullptr;
  if (freeHead_ == kNoSlot || config_.headerKind == Header_External) [[unlikely]] {
    if (!PrepareAllocation(label, record)) return nullptr;
  }
  const uint32_t id = freeHead_;
  Slot& slot = slots_[id];
  freeHead_ = slot.next;
  ++allocations_;
  --freeObjects_;
  ++objectsInUse_;
  peakObjectsInUse_ = std::max(peakObjectsInUse_, objectsInUse_);
  if (config_.debug || config_.headerKind != Header_None) [[unlikely]] {
    if (config_.debug) std::memset(slot.object, kAllocatedFill, objectSize_);
    WriteHeader(slot.object, record);
  }

  slot.inUse = true;
  slot.prev = blocksTail_;
  slot.next = kNoSlot;
  if (blocksTail_ != kNoSlot)
    slots_[blocksTail_].next = id;
  else
    blocksHead_ = id;
  blocksTail_ = id;
  return slot.object;
}

bool PBManager::PrepareAllocation(const char* label, ExternalHeader*& record) {
  try {
    if (freeHead_ == kNoSlot) NewPage();
    // Made before the block leaves the free list, so a failure loses nothing.
    if (config_.headerKind == Header_External) record = NewExternalHeader(label);
    return true;
  } catch (const MMException& e) {
    LogBase(TraceLevel_Error, e.what());
    return false;
  }
}

void* PBManager::AllocatePlain() {
  void* block = ::operator new(objectSize_, std::align_val_t(pageAlignment_), std::nothrow);
  if (!block) {
    LogBase(TraceLevel_Error, "Can't Allocate New Memory Using New: Insufficient System Memory");
    return nullptr;
  }
  ++allocations_;
  ++objectsInUse_;
  peakObjectsInUse_ = std::max(peakObjectsInUse_, objectsInUse_);
  return block;
}

inline uint32_t PBManager::SlotOf(const void* block) const {
  const auto address = reinterpret_cast<uintptr_t>(block);
  const auto after = std::upper_bound(pages_.begin(), pages_.end(), address, [](uintptr_t a, const Page& p) {
    return a < reinterpret_cast<uintptr_t>(p.base);
  });
  if (after == pages_.begin()) return kNoSlot;
  const Page& page = *(after - 1);
  const uintptr_t offset = address - reinterpret_cast<uintptr_t>(page.base);
  if (offset < firstOffset_ || offset >= pageSize_) return kNoSlot;
  // Division by the stride through its 64-bit reciprocal: exact for 32-bit offsets, and Free stays
  // clear of a hardware divide.
  const auto relative = uint32_t(offset - firstOffset_);
  const auto index = uint32_t((unsigned __int128)strideReciprocal_ * relative >> 64);
  const bool startsBlock = strideReciprocal_ * relative <= strideReciprocal_ - 1;
  if (!startsBlock || index >= config_.objectsPerPage) return kNoSlot;
  return page.firstSlot + index;
}

void PBManager::Free(void* block) {
  if (!block) return;
  if (config_.plainNew) {
    FreePlain(block);
    return;
  }
  // Finding the block's record already proves the address and tells whether it is handed out;
  // both checks keep the side table sound, so they run with and without debug.
  const uint32_t id = SlotOf(block);
  if (id == kNoSlot || !slots_[id].inUse || config_.debug || config_.headerKind != Header_None) [[unlikely]] {
    if (!AcceptFree(id)) return;
  }
  Slot& slot = slots_[id];
  if (slot.prev != kNoSlot)
    slots_[slot.prev].next = slot.next;
  else
    blocksHead_ = slot.next;
  if (slot.next != kNoSlot)
    slots_[slot.next].prev = slot.prev;
  else
    blocksTail_ = slot.prev;

  slot.inUse = false;
  slot.prev = kNoSlot;
  slot.next = freeHead_;
  freeHead_ = id;
  ++freeObjects_;
  ++deallocations_;
  --objectsInUse_;
}

bool PBManager::AcceptFree(uint32_t id) {
  if (id == kNoSlot) {
    LogBase(TraceLevel_Warning, "Block is improperly aligned or a bad address");
    return false;
  }
  char* object = slots_[id].object;
  if (!slots_[id].inUse) {
    LogBase(TraceLevel_Warning, "Block has already been deallocated");
    return false;
  }
  if (config_.debug) {
    if (!PadsIntact(object)) {
      LogBase(TraceLevel_Error, "Block is corrputed due to overflow/underflow");
      return false;
    }
    std::memset(object, kFreedFill, objectSize_);
  }
  if (config_.headerKind != Header_None) ClearHeader(object);
  return true;
}

void PBManager::FreePlain(void* block) {
  ::operator delete(block, std::align_val_t(pageAlignment_));
  ++deallocations_;
  if (objectsInUse_ > 0) --objectsInUse_;
}

void PBManager::FreeAll() {
  // Walks by the link taken before each Free, so a block that refuses to go (corrupt) is passed over.
  for (uint32_t id = blocksTail_; id != kNoSlot;) {
    const uint32_t prev = slots_[id].prev;
    Free(slots_[id].object);
    id = prev;
  }
}

std::vector<void*> PBManager::GetBlocks() const {
  std::vector<void*> blocks;
  blocks.reserve(objectsInUse_);
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
  objectsInUse_ -= std::min(handedOut, objectsInUse_);
  for (const Page& page : pages_) ::operator delete(page.base, std::align_val_t(pageAlignment_));
  pages_.clear();
  slots_.clear();
  freeHead_ = blocksHead_ = blocksTail_ = kNoSlot;
  freeObjects_ = 0;
  pagesInUse_ = 0;
}

void PBManager::Swap(PBManager& other) noexcept {
  std::swap(config_, other.config_);
  std::swap(objectSize_, other.objectSize_);
  std::swap(pageSize_, other.pageSize_);
  std::swap(freeObjects_, other.freeObjects_);
  std::swap(objectsInUse_, other.objectsInUse_);
  std::swap(pagesInUse_, other.pagesInUse_);
  std::swap(peakObjectsInUse_, other.peakObjectsInUse_);
  std::swap(allocations_, other.allocations_);
  std::swap(deallocations_, other.deallocations_);
  pages_.swap(other.pages_);
  slots_.swap(other.slots_);
  std::swap(freeHead_, other.freeHead_);
  std::swap(firstOffset_, other.firstOffset_);
  std::swap(stride_, other.stride_);
  std::swap(strideReciprocal_, other.strideReciprocal_);
  std::swap(blocksHead_, other.blocksHead_);
  std::swap(blocksTail_, other.blocksTail_);
  std::swap(pageAlignment_, other.pageAlignment_);
}

}  // namespace Base
