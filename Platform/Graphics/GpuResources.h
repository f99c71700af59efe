// The objects a graphics device creates: buffers, textures, views, shaders, layouts, states.
#pragma once

#include "Platform/Graphics/GpuObject.h"
#include "Platform/Graphics/GpuTypes.h"
#include "Platform/Graphics/ShaderContainer.h"

#include <string>
#include <vector>

namespace Platform {

struct GlFormatInfo;
using GlName = uint32_t;  // a GL object name; kept out of this header's includes
using GlEnum = uint32_t;

enum class GpuResourceKind : uint32_t { Buffer, Texture1D, Texture2D, Texture3D };

class GpuResource : public GpuObject {
 public:
  GpuResourceKind Kind() const { return m_kind; }

 protected:
  GpuResource(GpuDeviceLink* link, GpuResourceKind kind) : GpuObject(link), m_kind(kind) {}

 private:
  GpuResourceKind m_kind;
};

class GpuBuffer final : public GpuResource {
 public:
  const GpuBufferDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  GpuBuffer(GpuDeviceLink* link, const GpuBufferDesc& desc)
      : GpuResource(link, GpuResourceKind::Buffer), m_desc(desc) {}
  ~GpuBuffer() override;

  GpuBufferDesc m_desc;
  GlName m_name = 0;
  bool m_mapped = false;
};

// The extent every texture kind reduces to, with how it may be bound: a one-dimensional texture is
// one texel high, a volume has one array item, a cube counts its faces as items.
struct GpuTextureShape {
  uint32_t width = 1;
  uint32_t height = 1;
  uint32_t depth = 1;
  uint32_t mipLevels = 1;  // the real count, also when 0 (the full chain) was asked for
  uint32_t arraySize = 1;
  uint32_t bindFlags = 0;
};

// What the three texture kinds share: GL storage of one format and its shape. Subresource i is
// mip level i % mipLevels of array item i / mipLevels, as for every kind.
class GpuTexture : public GpuResource {
 public:
  const GpuTextureShape& Shape() const { return m_shape; }

 protected:
  GpuTexture(GpuDeviceLink* link, GpuResourceKind kind) : GpuResource(link, kind) {}
  ~GpuTexture() override;

 private:
  friend class GpuDevice;
  friend class GpuContext;
  friend class GpuSwapChain;

  GpuTextureShape m_shape;
  const GlFormatInfo* m_info = nullptr;
  GlName m_name = 0;
  GlEnum m_target = 0;
  uint32_t m_pendingClears = 0;  // views of it whose clear the context has not issued yet
};

class GpuTexture1D final : public GpuTexture {
 public:
  const GpuTexture1DDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  GpuTexture1D(GpuDeviceLink* link, const GpuTexture1DDesc& desc)
      : GpuTexture(link, GpuResourceKind::Texture1D), m_desc(desc) {}
  ~GpuTexture1D() override = default;

  GpuTexture1DDesc m_desc;  // mipLevels holds the real count, also when 0 was asked for
};

class GpuTexture2D final : public GpuTexture {
 public:
  const GpuTexture2DDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  friend class GpuSwapChain;
  GpuTexture2D(GpuDeviceLink* link, const GpuTexture2DDesc& desc)
      : GpuTexture(link, GpuResourceKind::Texture2D), m_desc(desc) {}
  ~GpuTexture2D() override = default;

  GpuTexture2DDesc m_desc;  // mipLevels holds the real count, also when 0 was asked for
};

class GpuTexture3D final : public GpuTexture {
 public:
  const GpuTexture3DDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  GpuTexture3D(GpuDeviceLink* link, const GpuTexture3DDesc& desc)
      : GpuTexture(link, GpuResourceKind::Texture3D), m_desc(desc) {}
  ~GpuTexture3D() override = default;

  GpuTexture3DDesc m_desc;  // mipLevels holds the real count, also when 0 was asked for
};

// The texture behind a resource of any kind, or null for a buffer.
inline GpuTexture* AsTexture(GpuResource* resource) {
  return resource && resource->Kind() != GpuResourceKind::Buffer ? static_cast<GpuTexture*>(resource) : nullptr;
}
// The texture behind a resource when it is of that kind, else null.
inline GpuTexture1D* AsTexture1D(GpuResource* resource) {
  return resource && resource->Kind() == GpuResourceKind::Texture1D ? static_cast<GpuTexture1D*>(resource) : nullptr;
}
inline GpuTexture2D* AsTexture2D(GpuResource* resource) {
  return resource && resource->Kind() == GpuResourceKind::Texture2D ? static_cast<GpuTexture2D*>(resource) : nullptr;
}
inline GpuTexture3D* AsTexture3D(GpuResource* resource) {
  return resource && resource->Kind() == GpuResourceKind::Texture3D ? static_cast<GpuTexture3D*>(resource) : nullptr;
}

class GpuShaderResourceView final : public GpuObject {
 public:
  // Adds a reference, as every out-pointer of the layer does.
  void GetResource(GpuResource** out) const;
  const GpuShaderResourceViewDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  explicit GpuShaderResourceView(GpuDeviceLink* link) : GpuObject(link) {}
  ~GpuShaderResourceView() override;

  GpuRef<GpuTexture> m_texture;
  GpuShaderResourceViewDesc m_desc;
  GlName m_name = 0;      // the texture's own name, or a texture view of it
  GlEnum m_target = 0;
  bool m_ownsName = false;
};

class GpuRenderTargetView final : public GpuObject {
 public:
  void GetResource(GpuResource** out) const;
  const GpuRenderTargetViewDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  friend class GpuSwapChain;
  explicit GpuRenderTargetView(GpuDeviceLink* link) : GpuObject(link) {}
  ~GpuRenderTargetView() override;

  GpuRef<GpuTexture2D> m_texture;
  GpuRenderTargetViewDesc m_desc;
  GlName m_clearFbo = 0;  // this view alone, made on the first clear issued on its own
  bool m_clearPending = false;
  float m_clearColour[4] = {};
  GpuRect m_clearRect;  // what the waiting clear covers, when not the whole view
  bool m_clearWhole = true;
};

class GpuDepthStencilView final : public GpuObject {
 public:
  void GetResource(GpuResource** out) const;
  const GpuDepthStencilViewDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  explicit GpuDepthStencilView(GpuDeviceLink* link) : GpuObject(link) {}
  ~GpuDepthStencilView() override;

  GpuRef<GpuTexture2D> m_texture;
  GpuDepthStencilViewDesc m_desc;
  GlName m_clearFbo = 0;
  uint32_t m_clearFlags = 0;  // GpuClear_Depth and GpuClear_Stencil not issued yet
  float m_clearDepth = 1.0f;
  uint8_t m_clearStencil = 0;
  GpuRect m_clearRect;
  bool m_clearWhole = true;
};

class GpuShader : public GpuObject {
 public:
  GpuShaderStage Stage() const { return m_stage; }
  const std::vector<ShaderInputParameter>& Inputs() const { return m_inputs; }

 protected:
  friend class GpuDevice;
  friend class GpuContext;
  GpuShader(GpuDeviceLink* link, GpuShaderStage stage) : GpuObject(link), m_stage(stage) {}
  ~GpuShader() override;

  GpuShaderStage m_stage;
  std::vector<ShaderInputParameter> m_inputs;
  GlName m_name = 0;
};

class GpuVertexShader final : public GpuShader {
 private:
  friend class GpuDevice;
  explicit GpuVertexShader(GpuDeviceLink* link) : GpuShader(link, GpuShaderStage::Vertex) {}
};

class GpuPixelShader final : public GpuShader {
 private:
  friend class GpuDevice;
  explicit GpuPixelShader(GpuDeviceLink* link) : GpuShader(link, GpuShaderStage::Pixel) {}
};

constexpr uint32_t kGpuVertexSlots = 16;

class GpuInputLayout final : public GpuObject {
 private:
  friend class GpuDevice;
  friend class GpuContext;
  explicit GpuInputLayout(GpuDeviceLink* link) : GpuObject(link) {}
  ~GpuInputLayout() override;

  GlName m_vao = 0;
  uint32_t m_slotMask = 0;  // input slots the layout reads
  // What the vertex array currently points at, so unchanged slots cost nothing.
  uint64_t m_boundSerial[kGpuVertexSlots] = {};
  uint32_t m_boundOffset[kGpuVertexSlots] = {};
  uint32_t m_boundStride[kGpuVertexSlots] = {};
  uint64_t m_boundIndexSerial = 0;
};

// State objects are plain descriptions (no GL object), so creating them is thread-safe; a
// sampler gets its GL object on first use by the context.
class GpuBlendState final : public GpuObject {
 public:
  const GpuBlendDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  GpuBlendState(GpuDeviceLink* link, const GpuBlendDesc& desc) : GpuObject(link), m_desc(desc) {}
  GpuBlendDesc m_desc;
};

class GpuRasterizerState final : public GpuObject {
 public:
  const GpuRasterizerDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  GpuRasterizerState(GpuDeviceLink* link, const GpuRasterizerDesc& desc) : GpuObject(link), m_desc(desc) {}
  GpuRasterizerDesc m_desc;
};

class GpuDepthStencilState final : public GpuObject {
 public:
  const GpuDepthStencilDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  GpuDepthStencilState(GpuDeviceLink* link, const GpuDepthStencilDesc& desc) : GpuObject(link), m_desc(desc) {}
  GpuDepthStencilDesc m_desc;
};

class GpuSamplerState final : public GpuObject {
 public:
  const GpuSamplerDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  friend class GpuContext;
  GpuSamplerState(GpuDeviceLink* link, const GpuSamplerDesc& desc) : GpuObject(link), m_desc(desc) {}
  ~GpuSamplerState() override;
  GpuSamplerDesc m_desc;
  GlName m_name = 0;
};

}  // namespace Platform
