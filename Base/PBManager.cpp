// Page layout, block hand-out and the debug checks that catch double frees, overruns and bad addresses.
#include "Base/PBManager.h"

#include <algorithm>
#include <atomic>
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

// A different key per pool, so a block of one pool does not pass as a block of another.
uint32_t NextPoolKey(const void* pool) {
  static std::atomic<uint32_t> counter{0};
  uint64_t x = counter.fetch_add(1, std::memory_order_relaxed) ^ reinterpret_cast<uintptr_t>(pool);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return uint32_t(x ^ (x >> 31));
}

}  // namespace

PBManager::PBManager() { ResetHead(); }

PBManager::PBManager(uint32_t objectSize, const Config& config) : PBManager() { Init(objectSize, config); }

PBManager::~PBManager() {
  if (GetObjectsInUse() > 0)
    LogBase(TraceLevel_Warning, "Trying to destruct PBManager but memory still allocated.");
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
  if (Link(Head(), kNewer) != Head())
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

  // The prefix travels with the header: everything in front of the leading pad.
  const uint64_t header = config_.headerSize + kBlockPrefixSize;
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
  blockOffset_ = uint32_t(header + pad);
  key_ = NextPoolKey(this);
  fast_ = !config_.plainNew && !config_.debug && config_.headerKind == Header_None;
  pageAlignment_ = alignof(std::max_align_t);
  if (IsPowerOfTwo(config_.alignment) && config_.alignment > pageAlignment_) pageAlignment_ = config_.alignment;
}

void PBManager::NewPage() {
  if (pagesInUse_ >= config_.maxPages) throw MMException(MMException::Code_OutOfPages, kMaxPagesMessage);
  const uint32_t perPage = config_.objectsPerPage;
  if (perPage == 0)
    throw MMException(MMException::Code_OutOfPages, "Can't Allocate New Page: Pages hold no objects");
  // Offsets inside a page and the counts are 32-bit.
  if (pageSize_ > UINT32_MAX || uint64_t(capacity_) + perPage > UINT32_MAX)
    throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);

  auto* base = static_cast<char*>(::operator new(pageSize_, std::align_val_t(pageAlignment_), std::nothrow));
  if (!base) throw MMException(MMException::Code_OutOfSystemMemory, kNoPageMemoryMessage);
  try {
    pages_.insert(std::upper_bound(pages_.begin(), pages_.end(), base), base);
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
    char* node = object - blockOffset_;
    if (config_.debug) {
      if (i > 0) std::memset(node - inter, kAlignFill, inter);
      std::memset(object - pad - header, 0, header);
      std::memset(object - pad, kPadFill, pad);
      std::memset(object, kNewPageFill, objectSize_);
      std::memset(object + objectSize_, kPadFill, pad);
    }
    const uint32_t check = CheckOf(object);
    std::memcpy(node + kCheck, &check, sizeof(check));
    SetLink(node, kOlder, nullptr);  // free
    SetLink(node, kNewer, nullptr);
  }
  // Handed out from the last block down.
  untouched_ = base + firstOffset_ + size_t(perPage - 1) * stride_ - blockOffset_;
  untouchedCount_ = perPage;
  capacity_ += perPage;
}

void* PBManager::AllocateSlow(const char* label) {
  if (config_.plainNew) return AllocatePlain();
  ExternalHeader* record = nullptr;
  if (!PrepareAllocation(label, record)) return nullptr;
  char* node = freeHead_;
  ++allocations_;
  if (node) {
    freeHead_ = Link(node, kNewer);
  } else {
    // Every block handed out before is in use again: the count reaches a new high.
    node = untouched_;
    untouched_ = --untouchedCount_ ? node - stride_ : nullptr;
    peakObjectsInUse_ = std::max(peakObjectsInUse_, GetObjectsInUse());
  }
  char* object = Append(node);
  if (config_.debug) std::memset(object, kAllocatedFill, objectSize_);
  WriteHeader(object, record);
  return object;
}

bool PBManager::PrepareAllocation(const char* label, ExternalHeader*& record) {
  try {
    if (!freeHead_ && !untouchedCount_) NewPage();
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
  ++pooledOffset_;  // not from a page
  peakObjectsInUse_ = std::max(peakObjectsInUse_, GetObjectsInUse());
  return block;
}

// The prefix of the block at `block`, proven against the pages: inside one, at a block start.
char* PBManager::PageNodeOf(const void* block) const {
  const auto address = reinterpret_cast<uintptr_t>(block);
  const auto after = std::upper_bound(pages_.begin(), pages_.end(), address, [](uintptr_t a, const char* page) {
    return a < reinterpret_cast<uintptr_t>(page);
  });
  if (after == pages_.begin()) return nullptr;
  char* const page = *(after - 1);
  const uintptr_t offset = address - reinterpret_cast<uintptr_t>(page);
  if (offset < firstOffset_ || offset >= pageSize_) return nullptr;
  // Division by the stride through its 64-bit reciprocal: exact for 32-bit offsets.
  const auto relative = uint32_t(offset - firstOffset_);
  const auto index = uint32_t((unsigned __int128)strideReciprocal_ * relative >> 64);
  const bool startsBlock = strideReciprocal_ * relative <= strideReciprocal_ - 1;
  if (!startsBlock || index >= config_.objectsPerPage) return nullptr;
  return page + offset - blockOffset_;
}

// The prefix of the block at `block` when its check word names it; the address itself is trusted to
// be readable.
char* PBManager::CheckedNodeOf(const void* block) const {
  const char* node = static_cast<const char*>(block) - blockOffset_;
  uint32_t check;
  std::memcpy(&check, node + kCheck, sizeof(check));
  return check == CheckOf(block) ? const_cast<char*>(node) : nullptr;
}

void PBManager::FreeSlow(void* block) {
  if (!block) return;
  if (config_.plainNew) {
    FreePlain(block);
    return;
  }
  // Debug proves the address against the pages before reading anything near it.
  char* const node = config_.debug ? PageNodeOf(block) : CheckedNodeOf(block);
  if (!AcceptFree(node)) return;
  TakeBack(node);
}

bool PBManager::AcceptFree(char* node) {
  if (!node) {
    LogBase(TraceLevel_Warning, "Block is improperly aligned or a bad address");
    return false;
  }
  if (!Link(node, kOlder)) {
    LogBase(TraceLevel_Warning, "Block has already been deallocated");
    return false;
  }
  char* const object = node + blockOffset_;
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
  // The in-use count stays at zero when more blocks come back than were counted out.
  if (GetObjectsInUse() == 0) --inUseOffset_;
  ++deallocations_;
  --pooledOffset_;
}

void PBManager::FreeAll() {
  // Walks by the link taken before each Free, so a block that refuses to go (corrupt) is passed over.
  char* const head = Head();
  for (char* node = Link(head, kOlder); node != head;) {
    char* const older = Link(node, kOlder);
    Free(node + blockOffset_);
    node = older;
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
  for (char* page : pages_) ::operator delete(page, std::align_val_t(pageAlignment_));
  pages_.clear();
  freeHead_ = untouched_ = nullptr;
  untouchedCount_ = 0;
  ResetHead();
  capacity_ = 0;
  pagesInUse_ = 0;
}

void PBManager::ResetHead() {
  SetLink(Head(), kOlder, Head());
  SetLink(Head(), kNewer, Head());
}

void PBManager::Swap(PBManager& other) noexcept {
  std::swap(config_, other.config_);
  std::swap(fast_, other.fast_);
  std::swap(objectSize_, other.objectSize_);
  std::swap(pageSize_, other.pageSize_);
  std::swap(capacity_, other.capacity_);
  std::swap(pagesInUse_, other.pagesInUse_);
  std::swap(peakObjectsInUse_, other.peakObjectsInUse_);
  std::swap(allocations_, other.allocations_);
  std::swap(deallocations_, other.deallocations_);
  std::swap(inUseOffset_, other.inUseOffset_);
  std::swap(pooledOffset_, other.pooledOffset_);
  pages_.swap(other.pages_);
  std::swap(freeHead_, other.freeHead_);
  std::swap(untouched_, other.untouched_);
  std::swap(untouchedCount_, other.untouchedCount_);
  std::swap(key_, other.key_);
  std::swap(firstOffset_, other.firstOffset_);
  std::swap(stride_, other.stride_);
  std::swap(blockOffset_, other.blockOffset_);
  std::swap(strideReciprocal_, other.strideReciprocal_);
  std::swap(pageAlignment_, other.pageAlignment_);
  // The list heads live in the managers, so the end blocks of each list are pointed at their new head.
  std::swap(head_, other.head_);
  for (PBManager* pool : {this, &other}) {
    char* const head = pool->Head();
    char* const stale = pool == this ? other.Head() : Head();
    if (Link(head, kNewer) == stale) {
      pool->ResetHead();
    } else {
      SetLink(Link(head, kNewer), kOlder, head);
      SetLink(Link(head, kOlder), kNewer, head);
    }
  }
}

}  // namespace Base
