// Off-screen colour targets of the deferred renderer: N textures of one size, drawn into together
// and read back in later passes, never bound both ways at once. The G-buffer is the four-target one.
//
// One family answers to two sets of names; the operations here are called:
//   GetShaderResource       (also known as GetShaderResourceView)
//   ReleaseViews            (also known as Release)
//   BindAsRenderTargets     (also known as BindAsRenderTarget)
//   BindAsShaderResources   (also known as BindAsTexture)
// GetFormat, GetSize and Resize are the same under both.
#pragma once

#include "Base/Vector.h"
#include "Platform/Graphics/GpuResources.h"

#include <cstdint>

namespace Graphics {

class DepthBuffer;

// What render targets share with loaded textures: per-texture formats and shader views, one size.
template <uint32_t N>
class ShaderResource {
 public:
  virtual ~ShaderResource() = default;

  virtual uint32_t GetFormat(uint32_t i) const = 0;
  virtual Base::Vec2 GetSize() const = 0;
  virtual Platform::GpuShaderResourceView* GetShaderResource(uint32_t i) const = 0;
  virtual void ReleaseViews() = 0;

 protected:
  uint32_t m_formats[N] = {};
  Base::Vec2 m_size;
  Platform::GpuShaderResourceView* m_shaderResourceViews[N] = {};
};

namespace Renderer {

template <uint32_t N>
class RenderTarget : public ShaderResource<N> {
 public:
  // Every texture gets `format`; the textures are created at once.
  RenderTarget(uint32_t format, uint32_t width, uint32_t height);
  ~RenderTarget() override;
  RenderTarget(const RenderTarget&) = delete;
  RenderTarget& operator=(const RenderTarget&) = delete;

  uint32_t GetFormat(uint32_t i) const override { return this->m_formats[i]; }
  Base::Vec2 GetSize() const override { return this->m_size; }
  Platform::GpuShaderResourceView* GetShaderResource(uint32_t i) const override {
    return this->m_shaderResourceViews[i];
  }
  // Gives back every view and texture; the binding state is kept.
  void ReleaseViews() override;
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
