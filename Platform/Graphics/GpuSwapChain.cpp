// Back buffers and presenting them into SDL windows.
#include "Platform/Graphics/GpuSwapChain.h"
#include "Platform/ProgramStop.h"

#include "Platform/Graphics/GlContext.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Window.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

namespace Platform {

GpuSwapChain::~GpuSwapChain() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    DropReadFramebuffer();
    if (m_desc.outputWindow) d->Gl().ForgetWindow(m_desc.outputWindow->Native());
  }
}

GpuResult GpuSwapChain::CreateBackBuffer() {
  GpuDevice* d = LiveDevice();
  if (!d) return kGpuFail;
  GpuTexture2DDesc t;
  t.width = m_desc.width;
  t.height = m_desc.height;
  t.format = m_desc.format;
  t.bindFlags = GpuBind_RenderTarget | GpuBind_ShaderResource;
  return d->CreateTexture2D(t, nullptr, m_backBuffer.GetAddressOf());
}

void GpuSwapChain::DropReadFramebuffer() {
  if (m_readFbo) glDeleteFramebuffers(1, &m_readFbo);
  m_readFbo = 0;
}

GpuResult GpuSwapChain::GetBuffer(uint32_t index, GpuTexture2D** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (index != 0 || !m_backBuffer) return kGpuInvalidArg;
  m_backBuffer->AddRef();
  *out = m_backBuffer.Get();
  return kGpuOk;
}

GpuResult GpuSwapChain::Present(uint32_t syncInterval, uint32_t) {
  const WindowSystemCall call;
  GpuDevice* d = LiveDevice();
  if (!d || !m_backBuffer) return kGpuFail;
  d->m_context->ResolveClears(m_backBuffer.Get());
  SDL_Window* window = m_desc.outputWindow ? m_desc.outputWindow->Native() : nullptr;
  if (window) {
    GlContext& gl = d->Gl();
    if (!gl.MakeCurrentOn(window)) return kGpuFail;
    if (m_syncInterval != int(syncInterval)) {
      SDL_GL_SetSwapInterval(syncInterval ? 1 : 0);
      m_syncInterval = int(syncInterval);
    }
    if (!m_readFbo) {
      glCreateFramebuffers(1, &m_readFbo);
      glNamedFramebufferTexture(m_readFbo, GL_COLOR_ATTACHMENT0, m_backBuffer->m_name, 0);
      glNamedFramebufferReadBuffer(m_readFbo, GL_COLOR_ATTACHMENT0);
    }
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    GpuContext& context = *d->m_context;
    context.BeginRawWrite();
    glDisable(GL_FRAMEBUFFER_SRGB);  // the back buffer's bytes go to the window as they are
    // Back-buffer row 0 is the top of the picture; the window's row 0 is its bottom.
    glBlitNamedFramebuffer(m_readFbo, 0, 0, 0, GLint(m_desc.width), GLint(m_desc.height), 0, h, w, 0,
                           GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glEnable(GL_FRAMEBUFFER_SRGB);
    context.EndRawWrite();
    gl.SwapWindow(window);
  }
  ++d->m_stats.presents;
  return kGpuOk;
}

GpuResult GpuSwapChain::ResizeBuffers(uint32_t count, uint32_t width, uint32_t height, GpuFormat format,
                                      uint32_t) {
  GpuDevice* d = LiveDevice();
  if (!d) return kGpuFail;
  if (m_backBuffer) {
    m_backBuffer->AddRef();
    if (m_backBuffer->Release() > 1) return kGpuInvalidCall;  // a view or caller still holds it
  }
  if (m_desc.outputWindow && (width == 0 || height == 0)) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(m_desc.outputWindow->Native(), &w, &h);
    if (width == 0) width = uint32_t(w);
    if (height == 0) height = uint32_t(h);
  }
  if (width == 0 || height == 0) return kGpuInvalidArg;
  d->Gl().Ensure();
  DropReadFramebuffer();
  m_backBuffer.Reset();
  if (count) m_desc.bufferCount = count;
  if (format != GpuFormat_Unknown) m_desc.format = format;
  m_desc.width = width;
  m_desc.height = height;
  return CreateBackBuffer();
}

GpuResult GpuSwapChain::SetFullscreenState(bool fullscreen) {
  if (m_desc.outputWindow && !m_desc.outputWindow->SetFullScreen(fullscreen)) return kGpuFail;
  m_fullscreen = fullscreen;
  return kGpuOk;
}

}  // namespace Platform
