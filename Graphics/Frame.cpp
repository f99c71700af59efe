// Frames: clear and present pairing, resizing, and the letter-boxed viewport.
#include "Graphics/Frame.h"

#include "Graphics/DepthBuffer.h"
#include "Graphics/Device.h"

namespace Graphics {

namespace {

constexpr float kWideAspect = 1.7777778f;  // 16:9

Platform::GpuContext* Context() { return GetDevice()->m_context; }

}  // namespace

Frame::Frame(Platform::Window* window, uint32_t width, uint32_t height)
    : m_viewportSize(float(width), float(height)), m_size(float(width), float(height)) {
  m_swapChain = GetDevice()->CreateSwapChain(window, width, height);
  CreateRenderTargetView();
  m_depthBuffer = new DepthBuffer(Platform::GpuFormat_D24_UNorm_S8_UInt, width, height);
  UpdateViewports();
}

Frame::~Frame() {
  if (m_swapChain) {
    m_swapChain->SetFullscreenState(false);
    m_swapChain->Release();
  }
  if (m_renderTargetView) m_renderTargetView->Release();
  delete m_depthBuffer;
}

void Frame::CreateRenderTargetView() {
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (!m_swapChain || !device) return;
  Platform::GpuTexture2D* back = nullptr;
  if (Platform::GpuFailed(m_swapChain->GetBuffer(0, &back))) return;
  device->CreateRenderTargetView(back, nullptr, &m_renderTargetView);
  back->Release();
}

void Frame::Clear(Base::Vec4 colour) {
  if (m_pendingPresent == 0) {
    m_clearColour = colour;
    ClearTo(colour.x, colour.y, colour.z, colour.w);
  }
  ++m_pendingPresent;
}

void Frame::ClearTo(float r, float g, float b, float a) {
  const float colour[4] = {r, g, b, a};
  if (m_renderTargetView && Context()) Context()->ClearRenderTargetView(m_renderTargetView, colour);
}

void Frame::Present() {
  if (m_pendingPresent != 0) PresentNow();
  m_pendingPresent = 0;
}

void Frame::PresentNow() {
  if (m_swapChain) m_swapChain->Present(0, 0);
}

void Frame::BindTarget() {
  if (Context()) Context()->SetRenderTargets(1, &m_renderTargetView, m_depthBuffer->GetView());
}

void Frame::SetViewport() {
  if (Context()) Context()->SetViewports(1, m_letterBox ? &m_letterBoxViewport : &m_fullViewport);
}

void Frame::SetFullViewport() {
  if (Context()) Context()->SetViewports(1, &m_fullViewport);
}

void Frame::SetFullScreen(bool fullScreen) {
  m_fullScreen = fullScreen;
  if (m_swapChain) m_swapChain->SetFullscreenState(fullScreen);
}

void Frame::Resize(uint32_t width, uint32_t height) {
  if (width == 0 && height == 0) return;
  if (float(width) == m_size.x && float(height) == m_size.y) return;
  m_size = {float(width), float(height)};
  // The back buffer can only be resized once nothing refers to it.
  if (Context()) Context()->SetRenderTargets(0, nullptr, nullptr);
  if (m_renderTargetView) m_renderTargetView->Release();
  m_renderTargetView = nullptr;
  m_depthBuffer->Resize(width, height);
  if (m_swapChain) m_swapChain->ResizeBuffers(0, width, height, Platform::GpuFormat_Unknown, 0);
  CreateRenderTargetView();
  UpdateViewports();
}

void Frame::UpdateViewports() {
  const float width = m_size.x, height = m_size.y;
  m_fullViewport = {0, 0, width, height, 0, 1};
  float w = width, h = width / kWideAspect;
  if (h > height) {
    h = height;
    w = height * kWideAspect;
  }
  m_viewportSize = {w, h};
  m_viewportOffset = {(width - w) * 0.5f, (height - h) * 0.5f};
  m_letterBoxViewport = {m_viewportOffset.x, m_viewportOffset.y, w, h, 0, 1};
}

}  // namespace Graphics
