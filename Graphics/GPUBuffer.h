// A dynamic, CPU-written vertex, index or constant buffer, refilled whole and grown by re-creation.
#pragma once

#include "Platform/Graphics/GpuResources.h"

#include <cstdint>

namespace Graphics {

class GPUBuffer {
 public:
  enum Kind : int32_t { Vertex = 0, Index = 1, Constant = 2 };

  // Capacity is `size`; the buffer is filled from `data` when it is not null.
  GPUBuffer(Kind kind, const void* data, uint32_t size, uint32_t stride, uint32_t slot, uint32_t offset);
  ~GPUBuffer();
  GPUBuffer(const GPUBuffer&) = delete;
  GPUBuffer& operator=(const GPUBuffer&) = delete;

  void Create();
  // Gives the device buffer back; data, size and capacity become 0.
  void Release();
  // Stores the arguments and uploads; an update larger than the capacity re-creates the buffer.
  void Update(const void* data, uint32_t size, uint32_t stride, uint32_t slot, uint32_t offset);
  // The flag picks the stage of a constant buffer (vertex when true, else pixel).
  void Bind(bool toVertexStage);

  Kind GetKind() const { return m_kind; }
  Platform::GpuBuffer* GetBuffer() const { return m_buffer; }
  uint32_t GetSize() const { return m_size; }
  uint32_t GetCapacity() const { return m_capacity; }

 private:
  void Upload();

  Kind m_kind;
  Platform::GpuBuffer* m_buffer = nullptr;
  uint32_t m_slot;
  uint32_t m_stride;
  uint32_t m_offset;
  const void* m_data;  // source of the last upload, not owned
  uint32_t m_size;
  uint32_t m_capacity;
};

}  // namespace Graphics
