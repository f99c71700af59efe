// Creation, release and the two bindings of render targets, for one and four targets.
#include "Graphics/RenderTarget.h"

#include "Graphics/DepthBuffer.h"
#include "Graphics/Device.h"
#include "Graphics/Log.h"

namespace Graphics::Renderer {

template <uint32_t N>
RenderTarget<N>::RenderTarget(uint32_t format, uint32_t width, uint32_t height) {
  m_size = {float(width), float(height)};
  for (uint32_t& f : m_formats) f = format;
  Create();
}

template <uint32_t N>
RenderTarget<N>::~RenderTarget() {
  Release();
}

template <uint32_t N>
void RenderTarget<N>::Create() {
  const int width = int(m_size.x), height = int(m_size.y);
  GFX_LOG(Verbose, "Initializing RenderTarget %i x %i", width, height);
  Platform::GpuDevice* device = GetDevice()->m_device;
  bool failed = device == nullptr;
  for (uint32_t i = 0; i < N && device; ++i) {
    Platform::GpuTexture2DDesc desc;
    desc.width = uint32_t(width);
    desc.height = uint32_t(height);
    desc.mipLevels = 1;
    desc.arraySize = 1;
    desc.format = Platform::GpuFormat(m_formats[i]);
    desc.usage = Platform::GpuUsage::Default;
    desc.bindFlags = Platform::GpuBind_RenderTarget | Platform::GpuBind_ShaderResource;
    failed |= Platform::GpuFailed(device->CreateTexture2D(desc, nullptr, &m_textures[i]));
    failed |= Platform::GpuFailed(device->CreateRenderTargetView(m_textures[i], nullptr, &m_renderTargetViews[i]));
    failed |=
        Platform::GpuFailed(device->CreateShaderResourceView(m_textures[i], nullptr, &m_shaderResourceViews[i]));
  }
  // A target that could not be made binds as null views, which unbind their slots.
  if (failed) GFX_LOG(Error, "Failed to create RenderTarget %i x %i", width, height);
}

template <uint32_t N>
void RenderTarget<N>::Release() {
  auto drop = [](auto*& object) {
    if (object) object->Release();
    object = nullptr;
  };
  for (uint32_t i = 0; i < N; ++i) {
    drop(m_shaderResourceViews[i]);
    drop(m_renderTargetViews[i]);
    drop(m_textures[i]);
  }
}

template <uint32_t N>
void RenderTarget<N>::BindAsRenderTargets(DepthBuffer* depth) {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!context) return;
  if (m_boundAsTexture) {
    Platform::GpuShaderResourceView* none[N] = {};
    context->SetShaderResources(Platform::GpuShaderStage::Pixel, m_textureSlot, N, none);
  }
  m_boundAsTexture = false;
  context->SetRenderTargets(N, m_renderTargetViews, depth ? depth->GetView() : nullptr);
}

template <uint32_t N>
void RenderTarget<N>::BindAsShaderResources(uint32_t slot) {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!context) return;
  if (!m_boundAsTexture) context->SetRenderTargets(0, nullptr, nullptr);
  m_textureSlot = slot;
  m_boundAsTexture = true;
  context->SetShaderResources(Platform::GpuShaderStage::Pixel, slot, N, m_shaderResourceViews);
}

template <uint32_t N>
void RenderTarget<N>::Resize(uint32_t width, uint32_t height) {
  m_size = {float(width), float(height)};
  Release();
  Create();
}

template class RenderTarget<1>;
template class RenderTarget<4>;

GBuffer::GBuffer(uint32_t format, uint32_t width, uint32_t height) : RenderTarget<4>(format, width, height) {
  GFX_LOG(Info, "Creating GBuffer");
}

void GBuffer::Clear() {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!context) return;
  const float black[4] = {0, 0, 0, 1};
  for (uint32_t i : {2u, 0u, 1u, 3u})
    if (m_renderTargetViews[i]) context->ClearRenderTargetView(m_renderTargetViews[i], black);
}

}  // namespace Graphics::Renderer
