// Back buffers and presenting them into SDL windows.
#include "Platform/Graphics/GpuSwapChain.h"

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
    if (desc_.outputWindow) d->Gl().ForgetWindow(desc_.outputWindow->Native());
  }
}

GpuResult GpuSwapChain::CreateBackBuffer() {
  GpuDevice* d = LiveDevice();
  if (!d) return kGpuFail;
  GpuTexture2DDesc t;
  t.width = desc_.width;
  t.height = desc_.height;
  t.format = desc_.format;
  t.bindFlags = GpuBind_RenderTarget | GpuBind_ShaderResource;
  return d->CreateTexture2D(t, nullptr, backBuffer_.GetAddressOf());
}

void GpuSwapChain::DropReadFramebuffer() {
  if (readFbo_) glDeleteFramebuffers(1, &readFbo_);
  readFbo_ = 0;
}

GpuResult GpuSwapChain::GetBuffer(uint32_t index, GpuTexture2D** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (index != 0 || !backBuffer_) return kGpuInvalidArg;
  backBuffer_->AddRef();
  *out = backBuffer_.Get();
  return kGpuOk;
}

GpuResult GpuSwapChain::Present(uint32_t syncInterval, uint32_t) {
  GpuDevice* d = LiveDevice();
  if (!d || !backBuffer_) return kGpuFail;
  SDL_Window* window = desc_.outputWindow ? desc_.outputWindow->Native() : nullptr;
  if (window) {
    GlContext& gl = d->Gl();
    if (!gl.MakeCurrentOn(window)) return kGpuFail;
    if (syncInterval_ != int(syncInterval)) {
      SDL_GL_SetSwapInterval(syncInterval ? 1 : 0);
      syncInterval_ = int(syncInterval);
    }
    if (!readFbo_) {
      glCreateFramebuffers(1, &readFbo_);
      glNamedFramebufferTexture(readFbo_, GL_COLOR_ATTACHMENT0, backBuffer_->name_, 0);
      glNamedFramebufferReadBuffer(readFbo_, GL_COLOR_ATTACHMENT0);
    }
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    GpuContext& context = *d->context_;
    context.BeginRawWrite();
    glDisable(GL_FRAMEBUFFER_SRGB);  // the back buffer's bytes go to the window as they are
    // Back-buffer row 0 is the top of the picture; the window's row 0 is its bottom.
    glBlitNamedFramebuffer(readFbo_, 0, 0, 0, GLint(desc_.width), GLint(desc_.height), 0, h, w, 0,
                           GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glEnable(GL_FRAMEBUFFER_SRGB);
    context.EndRawWrite();
    gl.SwapWindow(window);
  }
  ++d->stats_.presents;
  return kGpuOk;
}

GpuResult GpuSwapChain::ResizeBuffers(uint32_t count, uint32_t width, uint32_t height, GpuFormat format,
                                      uint32_t) {
  GpuDevice* d = LiveDevice();
  if (!d) return kGpuFail;
  if (backBuffer_) {
    backBuffer_->AddRef();
    if (backBuffer_->Release() > 1) return kGpuInvalidCall;  // a view or caller still holds it
  }
  if (desc_.outputWindow && (width == 0 || height == 0)) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(desc_.outputWindow->Native(), &w, &h);
    if (width == 0) width = uint32_t(w);
    if (height == 0) height = uint32_t(h);
  }
  if (width == 0 || height == 0) return kGpuInvalidArg;
  d->Gl().Ensure();
  DropReadFramebuffer();
  backBuffer_.Reset();
  if (count) desc_.bufferCount = count;
  if (format != GpuFormat_Unknown) desc_.format = format;
  desc_.width = width;
  desc_.height = height;
  return CreateBackBuffer();
}

GpuResult GpuSwapChain::SetFullscreenState(bool fullscreen) {
  if (desc_.outputWindow && !desc_.outputWindow->SetFullScreen(fullscreen)) return kGpuFail;
  fullscreen_ = fullscreen;
  return kGpuOk;
}

}  // namespace Platform
