// The presentable surface of one window (or of none): its swap chain, the back buffer's view, a
// depth buffer of its size, and a full and a centred 16:9 letter-boxed viewport.
#pragma once

#include "Base/Vector.h"
#include "Platform/Graphics/GpuSwapChain.h"
#include "Platform/Window.h"

#include <cstdint>

namespace Graphics {

class DepthBuffer;

class Frame {
 public:
  // With no window the back buffer is offscreen, width x height.
  Frame(Platform::Window* window, uint32_t width, uint32_t height);
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  void CreateRenderTargetView();
  // Clears the back buffer on the first call since the last present only; each call is counted.
  void Clear(Base::Vec4 colour);
  // Clears at once, with no counting.
  void ClearTo(float r, float g, float b, float a);
  // Presents, without waiting for the vertical blank, only when cleared since the last present.
  void Present();
  void PresentNow();
  // The back buffer with the frame's depth buffer as the output.
  void BindTarget();
  // The letter-boxed viewport when letter-boxing, else the full one.
  void SetViewport();
  void SetFullViewport();
  void SetLetterBox(bool letterBox) { m_letterBox = letterBox; }
  void SetFullScreen(bool fullScreen);
  // Nothing happens for 0 x 0 or for the current size.
  void Resize(uint32_t width, uint32_t height);

  Base::Vec2 GetViewportSize() const { return m_viewportSize; }
  Base::Vec2 GetViewportOffset() const { return m_viewportOffset; }
  Base::Vec2 GetSize() const { return m_size; }
  bool IsLetterBox() const { return m_letterBox; }
  bool IsFullScreen() const { return m_fullScreen; }
  DepthBuffer* GetDepthBuffer() const { return m_depthBuffer; }
  Platform::GpuSwapChain* GetSwapChain() const { return m_swapChain; }
  Platform::GpuRenderTargetView* GetRenderTargetView() const { return m_renderTargetView; }
  const Platform::GpuViewport& GetFullViewport() const { return m_fullViewport; }
  const Platform::GpuViewport& GetLetterBoxViewport() const { return m_letterBoxViewport; }
  Base::Vec4 GetClearColour() const { return m_clearColour; }
  uint32_t GetPendingPresents() const { return m_pendingPresent; }
  uint32_t GetID() const { return m_frameId; }

 private:
  friend class GraphicsMaster;  // writes the id it hands out

  void UpdateViewports();

  Base::Vec4 m_clearColour{0, 0, 0, 1};
  uint32_t m_frameId = 0;
  Platform::GpuSwapChain* m_swapChain = nullptr;
  Platform::GpuRenderTargetView* m_renderTargetView = nullptr;
  Platform::GpuViewport m_fullViewport;
  Platform::GpuViewport m_letterBoxViewport;
  DepthBuffer* m_depthBuffer = nullptr;
  uint32_t m_pendingPresent = 0;
  Base::Vec2 m_viewportSize;
  Base::Vec2 m_viewportOffset;
  Base::Vec2 m_size;
  bool m_letterBox = false;
  bool m_fullScreen = false;
};

}  // namespace Graphics
