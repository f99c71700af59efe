// Depth buffers: creation at a size, clearing, and the fixed depth-stencil states.
#include "Graphics/DepthBuffer.h"

#include "Graphics/Device.h"
#include "Graphics/Log.h"
#include "Graphics/RenderStateSet.h"

namespace Graphics {

DepthBuffer::DepthBuffer(uint32_t format, uint32_t width, uint32_t height)
    : m_format(format), m_size(float(width), float(height)) {
  GFX_LOG(Verbose, "Initializing DepthBuffer %i x %i", int(width), int(height));
  Create();
  m_depthStates = RenderStateSet::GetInstance().m_depthStencilStates;
}

DepthBuffer::~DepthBuffer() { Release(); }

void DepthBuffer::Create() {
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (!device) return;
  Platform::GpuTexture2DDesc desc;
  desc.width = uint32_t(m_size.x);
  desc.height = uint32_t(m_size.y);
  desc.mipLevels = 1;
  desc.arraySize = 1;
  desc.format = Platform::GpuFormat(m_format);
  desc.usage = Platform::GpuUsage::Default;
  desc.bindFlags = Platform::GpuBind_DepthStencil;
  device->CreateTexture2D(desc, nullptr, &m_texture);
  Platform::GpuDepthStencilViewDesc view;
  view.format = Platform::GpuFormat(m_format);
  view.dimension = Platform::GpuViewDimension::Texture2D;
  view.mipSlice = 0;
  if (m_texture) device->CreateDepthStencilView(m_texture, &view, &m_depthStencilView);
}

void DepthBuffer::Drop() {
  if (m_texture) m_texture->Release();
  m_texture = nullptr;
  if (m_depthStencilView) m_depthStencilView->Release();
  m_depthStencilView = nullptr;
}

void DepthBuffer::Release() {
  GFX_LOG(Verbose, "Releasing DepthBuffer");
  Drop();
}

void DepthBuffer::Resize(uint32_t width, uint32_t height) {
  Drop();
  m_size = {float(width), float(height)};
  Create();
}

void DepthBuffer::Clear(const Platform::GpuRect* rect) {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (context && m_depthStencilView)
    context->ClearDepthStencilView(m_depthStencilView, Platform::GpuClear_Depth | Platform::GpuClear_Stencil, 1.0f, 0,
                                   rect);
}

void DepthBuffer::SetDepthState(int index) {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (index < 0 || index >= RenderStateSet::kDepthStencilCount) {
    GFX_LOG(Warning, "Depth state %d does not exist, the state is unchanged", index);
    return;
  }
  if (context) context->SetDepthStencilState(m_depthStates[index], 0);
}

}  // namespace Graphics
