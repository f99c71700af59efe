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
  bool GetFullscreenState() const { return fullscreen_; }
  const GpuSwapChainDesc& GetDesc() const { return desc_; }

 private:
  friend class GpuDevice;
  GpuSwapChain(GpuDeviceLink* link, const GpuSwapChainDesc& desc) : GpuObject(link), desc_(desc) {}
  ~GpuSwapChain() override;
  GpuResult CreateBackBuffer();
  void DropReadFramebuffer();

  GpuSwapChainDesc desc_;
  GpuRef<GpuTexture2D> backBuffer_;
  GlName readFbo_ = 0;
  bool fullscreen_ = false;
  int syncInterval_ = -1;
};

}  // namespace Platform
