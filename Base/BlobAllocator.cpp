// Blob list growth, pointer-bump allocation and the per-frame reset/consolidate cycle.
#include "Base/BlobAllocator.h"

#include <new>
#include <utility>

#include "Base/TraceLog.h"

namespace Base {
namespace {

constexpr uint32_t kSmallestBlob = 32;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

BlobAllocator::BlobAllocator(uint32_t blobSize) : blobSize_(blobSize) {}

BlobAllocator::~BlobAllocator() { ReleaseBlobs(); }

BlobAllocator::BlobAllocator(BlobAllocator&& other) noexcept : blobSize_(0) { Swap(other); }

BlobAllocator& BlobAllocator::operator=(BlobAllocator&& other) noexcept {
  if (this != &other) {
    BlobAllocator taken(std::move(other));
    Swap(taken);
  }
  return *this;
}

bool BlobAllocator::AddBlob() {
  char* base = nullptr;
  while (!(base = new (std::nothrow) char[blobSize_])) {
    blobSize_ /= 2;
    if (blobSize_ < kSmallestBlob) {
      TraceLog::GetInstance().Print(TraceLevel_Error, TraceModule_Base,
                                    "Blob allocator failed to allocate blob of size %u", blobSize_);
      return false;
    }
  }
  try {
    blobs_.push_back(Blob{base, base, blobSize_});
  } catch (const std::bad_alloc&) {
    delete[] base;
    return false;
  }
  totalCapacity_ += blobSize_;
  return true;
}

void* BlobAllocator::TakeFrom(Blob& blob, uint32_t bytes, uint32_t alignment) {
  const auto fill = reinterpret_cast<uintptr_t>(blob.fill);
  const uintptr_t start = (fill + alignment - 1) & ~uintptr_t(alignment - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(blob.base) + blob.size;
  if (start > end || end - start < bytes) return nullptr;
  blob.fill = blob.base + (start - reinterpret_cast<uintptr_t>(blob.base)) + bytes;
  bytesUsed_ += uint32_t(start - fill) + bytes;
  return blob.base + (start - reinterpret_cast<uintptr_t>(blob.base));
}

void* BlobAllocator::Allocate(uint32_t bytes, uint32_t alignment) {
  if (!IsPowerOfTwo(alignment) || alignment > kDefaultAlignment) alignment = kDefaultAlignment;
  if (bytes > blobSize_) blobSize_ = bytes;

  // Blobs kept from before a Reset are used in turn before a new one is requested.
  while (current_ < blobs_.size()) {
    if (void* block = TakeFrom(blobs_[current_], bytes, alignment)) return block;
    if (current_ + 1 == blobs_.size()) break;
    ++current_;
  }
  if (AddBlob()) {
    current_ = uint32_t(blobs_.size() - 1);
    // A fresh blob starts on the heap's own alignment, so a request up to its size fits.
    if (void* block = TakeFrom(blobs_[current_], bytes, alignment)) return block;
  }
  TraceLog::GetInstance().Print(TraceLevel_Error, TraceModule_Base, "BlobAllocator: System out of memory!");
  return nullptr;
}

void BlobAllocator::Reset() {
  bytesUsed_ = 0;
  current_ = 0;
  for (Blob& blob : blobs_) blob.fill = blob.base;
}

void BlobAllocator::Consolidate() {
  if (totalCapacity_ <= blobSize_) return;
  blobSize_ = totalCapacity_;
  ReleaseBlobs();
  AddBlob();
}

void BlobAllocator::ReleaseBlobs() {
  for (Blob& blob : blobs_) delete[] blob.base;
  blobs_.clear();
  bytesUsed_ = 0;
  totalCapacity_ = 0;
  current_ = 0;
}

void BlobAllocator::Swap(BlobAllocator& other) noexcept {
  blobs_.swap(other.blobs_);
  std::swap(blobSize_, other.blobSize_);
  std::swap(bytesUsed_, other.bytesUsed_);
  std::swap(totalCapacity_, other.totalCapacity_);
  std::swap(current_, other.current_);
}

BlobAllocator& GlobalBlobAllocator() {
  // Never destroyed: what lives in it (member groups, names) must outlast every other static that
  // might still read it during exit.
  static BlobAllocator* const instance = [] {
    auto* blobs = new BlobAllocator(512);
    blobs->AddBlob();
    return blobs;
  }();
  return *instance;
}

}  // namespace Base
