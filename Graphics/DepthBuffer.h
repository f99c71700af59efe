// A depth-stencil texture and its view, used by frames and by the shadow passes of lights.
#pragma once

#include "Base/Vector.h"
#include "Platform/Graphics/GpuResources.h"

#include <cstdint>

namespace Graphics {

class DepthBuffer {
 public:
  DepthBuffer(uint32_t format, uint32_t width, uint32_t height);
  ~DepthBuffer();
  DepthBuffer(const DepthBuffer&) = delete;
  DepthBuffer& operator=(const DepthBuffer&) = delete;

  void Create();
  // Gives back the texture and the view (logged); Create makes them again.
  void Release();
  // The same format at a new size.
  void Resize(uint32_t width, uint32_t height);
  // Depth 1 and stencil 0; with `rect`, in that part alone (texels from the top-left corner).
  void Clear(const Platform::GpuRect* rect = nullptr);
  // Entry `index` (0 to 3) of the render state set's depth-stencil table; 0 is the device default.
  void SetDepthState(int index);

  Platform::GpuDepthStencilView* GetView() const { return m_depthStencilView; }
  Platform::GpuTexture2D* GetTexture() const { return m_texture; }
  uint32_t GetFormat() const { return m_format; }
  Base::Vec2 GetSize() const { return m_size; }

 private:
  void Drop();

  Platform::GpuDepthStencilView* m_depthStencilView = nullptr;
  Platform::GpuTexture2D* m_texture = nullptr;
  uint32_t m_format;
  Base::Vec2 m_size;
  Platform::GpuDepthStencilState* const* m_depthStates = nullptr;
};

}  // namespace Graphics
