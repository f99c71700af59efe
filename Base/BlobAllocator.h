// Bump allocation from a list of large blobs, released all at once (frame storage, names, records).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Base {

class BlobAllocator {
 public:
  // Blocks start on this boundary unless the caller asks for less, so any record can be placed.
  static constexpr uint32_t kDefaultAlignment = alignof(std::max_align_t);

  // No blob is requested until AddBlob or the first Allocate.
  explicit BlobAllocator(uint32_t blobSize);
  ~BlobAllocator();

  BlobAllocator(const BlobAllocator&) = delete;
  BlobAllocator& operator=(const BlobAllocator&) = delete;
  BlobAllocator(BlobAllocator&& other) noexcept;
  BlobAllocator& operator=(BlobAllocator&& other) noexcept;

  // Appends a blob of the blob size, halving the size while the heap refuses; false (logged) once the
  // size would drop below 32 bytes.
  bool AddBlob();
  // `bytes` from the current blob, moving on to the next blob (added when needed) when it is full.
  // A request larger than the blob size raises the blob size. Null (logged) when out of memory.
  // `alignment` is a power of two up to kDefaultAlignment.
  void* Allocate(uint32_t bytes, uint32_t alignment = kDefaultAlignment);
  // Forgets every block; the blobs are kept for reuse.
  void Reset();
  // After Reset: replaces several blobs by one that holds them all, so the next round needs one blob.
  void Consolidate();

  uint32_t GetBlobSize() const { return m_blobSize; }
  uint32_t GetBytesUsed() const { return m_bytesUsed; }
  uint32_t GetTotalCapacity() const { return m_totalCapacity; }
  uint32_t GetBlobCount() const { return uint32_t(m_blobs.size()); }

 private:
  struct Blob {
    char* base;
    char* fill;
    uint32_t size;
  };

  void* TakeFrom(Blob& blob, uint32_t bytes, uint32_t alignment);
  void ReleaseBlobs();
  void Swap(BlobAllocator& other) noexcept;

  std::vector<Blob> m_blobs;
  uint32_t m_blobSize;
  uint32_t m_bytesUsed = 0;
  uint32_t m_totalCapacity = 0;
  uint32_t m_current = 0;
};

// The process-wide blob store of reflection member groups and other names that live until exit:
// 512-byte blobs, first blob added on first use.
BlobAllocator& GlobalBlobAllocator();

}  // namespace Base
