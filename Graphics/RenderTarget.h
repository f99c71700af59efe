// Off-screen colour targets of the deferred renderer: N textures of one size, drawn into together
// and read back in later passes, never bound both ways at once. The G-buffer is the four-target one.
//
// One family answers to two sets of names; the operations here are called:
//   GetShaderResourceView   (also GetShaderResource, shared with loaded textures)
//   Release                 (also ReleaseViews, shared with loaded textures)
//   BindAsRenderTargets     (also known as BindAsRenderTarget)
//   BindAsShaderResources   (also known as BindAsTexture)
// GetFormat, GetSize and Resize are the same under both.
#pragma once

#include "Base/Vector.h"
#include "Graphics/ShaderResource.h"
#include "Platform/Graphics/GpuResources.h"

#include <cstdint>

namespace Graphics {

class DepthBuffer;

namespace Renderer {

template <uint32_t N>
class RenderTarget : public ShaderResource<N> {
 public:
  // Every texture gets `format`; the textures are created at once.
  RenderTarget(uint32_t format, uint32_t width, uint32_t height);
  ~RenderTarget() override;
  RenderTarget(const RenderTarget&) = delete;
  RenderTarget& operator=(const RenderTarget&) = delete;

  uint32_t GetFormat(uint32_t i) const { return m_formats[i]; }
  Base::Vec2 GetSize() const override { return m_size; }
  Platform::GpuShaderResourceView* GetShaderResourceView(uint32_t i) const override {
    return m_shaderResourceViews[i];
  }
  // Gives back every view and texture; the binding state is kept.
  void Release() override;
  // The N targets as the output, with the depth buffer's view or none. Views last bound for
  // reading are unbound from the pixel shader first.
  virtual void BindAsRenderTargets(DepthBuffer* depth);
  // The N views to pixel-shader slots from `slot` on. When last bound as the output, every
  // output is unbound first.
  virtual void BindAsShaderResources(uint32_t slot);
  // Re-creates every texture at the new size (also the same size); the new views start unbound.
  virtual void Resize(uint32_t width, uint32_t height);

  Platform::GpuRenderTargetView* GetRenderTargetView(uint32_t i) const { return m_renderTargetViews[i]; }
  Platform::GpuTexture2D* GetTexture(uint32_t i) const { return m_textures[i]; }
  bool IsBoundAsShaderResources() const { return m_boundAsTexture; }

 protected:
  void Create();

  uint32_t m_formats[N] = {};
  Base::Vec2 m_size;
  Platform::GpuShaderResourceView* m_shaderResourceViews[N] = {};

  Platform::GpuRenderTargetView* m_renderTargetViews[N] = {};
  Platform::GpuTexture2D* m_textures[N] = {};
  // True while the views count as bound for reading; after construction they count as bound at slot 0.
  bool m_boundAsTexture = true;
  uint32_t m_textureSlot = 0;
};

extern template class RenderTarget<1>;
extern template class RenderTarget<4>;

// The four targets the geometry pass writes and the light passes read.
class GBuffer : public RenderTarget<4> {
 public:
  GBuffer(uint32_t format, uint32_t width, uint32_t height);
  // Opaque black into every target.
  void Clear();
};

}  // namespace Renderer
}  // namespace Graphics
