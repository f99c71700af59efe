// Blob list growth, pointer-bump allocation and the per-frame reset/consolidate cycle.
#include "Base/BlobAllocator.h"

#include <new>
#include <utility>

#include "Base/Log.h"

namespace Base {
namespace {

constexpr uint32_t kSmallestBlob = 32;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

BlobAllocator::BlobAllocator(uint32_t blobSize) : m_blobSize(blobSize) {}

BlobAllocator::~BlobAllocator() { ReleaseBlobs(); }

BlobAllocator::BlobAllocator(BlobAllocator&& other) noexcept : m_blobSize(0) { Swap(other); }

BlobAllocator& BlobAllocator::operator=(BlobAllocator&& other) noexcept {
  if (this != &other) {
    BlobAllocator taken(std::move(other));
    Swap(taken);
  }
  return *this;
}

bool BlobAllocator::AddBlob() {
  char* base = nullptr;
  while (!(base = new (std::nothrow) char[m_blobSize])) {
    m_blobSize /= 2;
    if (m_blobSize < kSmallestBlob) {
      BASE_LOG(Error, "Blob allocator failed to allocate blob of size %u", m_blobSize);
      return false;
    }
  }
  try {
    m_blobs.push_back(Blob{base, base, m_blobSize});
  } catch (const std::bad_alloc&) {
    delete[] base;
    return false;
  }
  m_totalCapacity += m_blobSize;
  return true;
}

void* BlobAllocator::TakeFrom(Blob& blob, uint32_t bytes, uint32_t alignment) {
  const auto fill = reinterpret_cast<uintptr_t>(blob.fill);
  const uintptr_t start = (fill + alignment - 1) & ~uintptr_t(alignment - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(blob.base) + blob.size;
  if (start > end || end - start < bytes) return nullptr;
  blob.fill = blob.base + (start - reinterpret_cast<uintptr_t>(blob.base)) + bytes;
  m_bytesUsed += uint32_t(start - fill) + bytes;
  return blob.base + (start - reinterpret_cast<uintptr_t>(blob.base));
}

void* BlobAllocator::Allocate(uint32_t bytes, uint32_t alignment) {
  if (!IsPowerOfTwo(alignment) || alignment > kDefaultAlignment) alignment = kDefaultAlignment;
  if (bytes > m_blobSize) m_blobSize = bytes;

  // Blobs kept from before a Reset are used in turn before a new one is requested.
  while (m_current < m_blobs.size()) {
    if (void* block = TakeFrom(m_blobs[m_current], bytes, alignment)) return block;
    if (m_current + 1 == m_blobs.size()) break;
    ++m_current;
  }
  if (AddBlob()) {
    m_current = uint32_t(m_blobs.size() - 1);
    // A fresh blob starts on the heap's own alignment, so a request up to its size fits.
    if (void* block = TakeFrom(m_blobs[m_current], bytes, alignment)) return block;
  }
  BASE_LOG(Error, "BlobAllocator: System out of memory!");
  return nullptr;
}

void BlobAllocator::Reset() {
  m_bytesUsed = 0;
  m_current = 0;
  for (Blob& blob : m_blobs) blob.fill = blob.base;
}

void BlobAllocator::Consolidate() {
  if (m_totalCapacity <= m_blobSize) return;
  m_blobSize = m_totalCapacity;
  ReleaseBlobs();
  AddBlob();
}

void BlobAllocator::ReleaseBlobs() {
  for (Blob& blob : m_blobs) delete[] blob.base;
  m_blobs.clear();
  m_bytesUsed = 0;
  m_totalCapacity = 0;
  m_current = 0;
}

void BlobAllocator::Swap(BlobAllocator& other) noexcept {
  m_blobs.swap(other.m_blobs);
  std::swap(m_blobSize, other.m_blobSize);
  std::swap(m_bytesUsed, other.m_bytesUsed);
  std::swap(m_totalCapacity, other.m_totalCapacity);
  std::swap(m_current, other.m_current);
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
