// Creation, map-discard refills, growth and binding of the renderer's dynamic buffers.
#include "Graphics/GPUBuffer.h"

#include "Graphics/Device.h"
#include "Graphics/Log.h"

#include <cstring>

namespace Graphics {

namespace {

const char* const kCreateLines[3] = {
    "Creating Vertex Buffer, (Size: %i, Stride: %i, Slot: %i, Offset: %i)",
    "Creating Index Buffer, (Size: %i, Stride: %i, Slot: %i, Offset: %i)",
    "Creating Constant Buffer, (Size: %i, Stride: %i, Slot: %i, Offset: %i)",
};

const uint32_t kBindFlags[3] = {Platform::GpuBind_VertexBuffer, Platform::GpuBind_IndexBuffer,
                                Platform::GpuBind_ConstantBuffer};

}  // namespace

GPUBuffer::GPUBuffer(Kind kind, const void* data, uint32_t size, uint32_t stride, uint32_t slot, uint32_t offset)
    : m_kind(kind), m_slot(slot), m_stride(stride), m_offset(offset), m_data(data), m_size(size), m_capacity(size) {
  Create();
}

GPUBuffer::~GPUBuffer() { Release(); }

void GPUBuffer::Create() {
  GFX_LOG(Verbose, kCreateLines[m_kind], int(m_capacity), int(m_stride), int(m_slot), int(m_offset));
  Device* device = GetDevice();
  if (!device->m_device) return;
  Platform::GpuBufferDesc desc;
  desc.byteWidth = m_capacity;
  desc.usage = Platform::GpuUsage::Dynamic;
  desc.bindFlags = kBindFlags[m_kind];
  desc.cpuAccessFlags = Platform::GpuCpuAccess_Write;
  device->m_device->CreateBuffer(desc, nullptr, &m_buffer);
  if (m_data) Upload();
}

void GPUBuffer::Upload() {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!m_buffer || !context) return;
  Platform::GpuMappedSubresource mapped;
  if (Platform::GpuFailed(context->Map(m_buffer, 0, Platform::GpuMap::WriteDiscard, 0, &mapped))) return;
  if (m_size) std::memcpy(mapped.data, m_data, m_size);
  context->Unmap(m_buffer, 0);
}

void GPUBuffer::Release() {
  if (m_buffer) {
    m_buffer->Release();
    m_buffer = nullptr;
  }
  m_data = nullptr;
  m_size = 0;
  m_capacity = 0;
}

void GPUBuffer::Update(const void* data, uint32_t size, uint32_t stride, uint32_t slot, uint32_t offset) {
  m_data = data;
  m_size = size;
  m_stride = stride;
  m_slot = slot;
  m_offset = offset;
  if (size > m_capacity) {
    // Grown buffers are made anew at exactly the new size; they never shrink.
    if (m_buffer) m_buffer->Release();
    m_buffer = nullptr;
    m_capacity = size;
    Create();
  } else if (m_buffer && data) {
    Upload();
  }
}

void GPUBuffer::Bind(bool toVertexStage) {
  // A buffer whose creation failed binds as nothing, unbinding the slot.
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!context) return;
  switch (m_kind) {
    case Vertex:
      context->SetVertexBuffers(m_slot, 1, &m_buffer, &m_stride, &m_offset);
      break;
    case Index:
      context->SetIndexBuffer(m_buffer, Platform::GpuFormat_R32_UInt, 0);
      break;
    case Constant:
      context->SetConstantBuffers(toVertexStage ? Platform::GpuShaderStage::Vertex : Platform::GpuShaderStage::Pixel,
                                  m_slot, 1, &m_buffer);
      break;
  }
}

}  // namespace Graphics
