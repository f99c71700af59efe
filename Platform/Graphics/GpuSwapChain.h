// A swap chain: the back buffer a window shows, or an offscreen one when there is no window.
#pragma once

#include "Platform/Graphics/GpuResources.h"

namespace Platform {

class GpuSwapChain final : public GpuObject {
 public:
  // Shows the back buffer (flipped into the window's bottom-up framebuffer) and counts the
  // present. `syncInterval` 0 presents at once.
  GpuResult Present(uint32_t syncInterval, uint32_t flags);
  // Only buffer 0 exists. Adds a reference.
  GpuResult GetBuffer(uint32_t index, GpuTexture2D** out);
  // Count 0 and format Unknown keep what is there. Fails while the back buffer is still
  // referenced from outside (a view or a GetBuffer reference).
  GpuResult ResizeBuffers(uint32_t count, uint32_t width, uint32_t height, GpuFormat format, uint32_t flags);
  GpuResult SetFullscreenState(bool fullscreen);
  bool GetFullscreenState() const { return m_fullscreen; }
  const GpuSwapChainDesc& GetDesc() const { return m_desc; }

 private:
  friend class GpuDevice;
  GpuSwapChain(GpuDeviceLink* link, const GpuSwapChainDesc& desc) : GpuObject(link), m_desc(desc) {}
  ~GpuSwapChain() override;
  GpuResult CreateBackBuffer();
  void DropReadFramebuffer();

  GpuSwapChainDesc m_desc;
  GpuRef<GpuTexture2D> m_backBuffer;
  GlName m_readFbo = 0;
  bool m_fullscreen = false;
  int m_syncInterval = -1;
};

}  // namespace Platform
