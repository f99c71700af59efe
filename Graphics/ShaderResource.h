// What loaded textures and render targets share: N shader views of one size, read by later draws.
// Both families use one template; render targets also answer to the names their passes use
// (GetShaderResource, ReleaseViews), which forward to the shared operations.
#pragma once

#include "Base/Vector.h"
#include "Platform/Graphics/GpuResources.h"

#include <cstdint>

namespace Graphics {

template <uint32_t N>
class ShaderResource {
 public:
  virtual ~ShaderResource() = default;

  // The GPU resource behind view i, where the family keeps one.
  virtual Platform::GpuResource* GetResource(uint32_t i) { return (void)i, nullptr; }
  virtual Base::Vec2 GetSize() const = 0;
  virtual Platform::GpuShaderResourceView* GetShaderResourceView(uint32_t i) const = 0;
  // Gives back every view and what it reads.
  virtual void Release() = 0;

  Platform::GpuShaderResourceView* GetShaderResource(uint32_t i) const { return GetShaderResourceView(i); }
  void ReleaseViews() { Release(); }
};

}  // namespace Graphics
