// Device creation with driver fallback, swap-chain creation, and the global device pointer.
#include "Graphics/Device.h"

#include "Base/TraceLog.h"

#include <SDL2/SDL.h>

#include <cstdlib>

namespace Graphics {

namespace {

Device* g_device = nullptr;

void StopWithoutDevice() {
  Base::TraceLog::GetInstance().Print(Base::TraceLevel_Error, Base::TraceModule_Graphics,
                                      "Cannot run without a graphics device, stopping");
  std::exit(EXIT_FAILURE);
}

Device::FailureHandler g_onFailure = StopWithoutDevice;

void ForwardLayerMessage(bool isError, const char* text) {
  Base::TraceLog::GetInstance().Print(isError ? Base::TraceLevel_Error : Base::TraceLevel_Warning,
                                      Base::TraceModule_Graphics, "%s", text);
}

}  // namespace

Device::Device() { CreateDevice(); }

void Device::SetFailureHandler(FailureHandler handler) { g_onFailure = handler ? handler : StopWithoutDevice; }

void Device::CreateDevice() {
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  log.Print(Base::TraceLevel_Info, Base::TraceModule_Graphics, "Begin Initializing device");
  Platform::SetGpuMessageSink(ForwardLayerMessage);

  const Platform::GpuDriverType drivers[] = {Platform::GpuDriverType::Hardware, Platform::GpuDriverType::Software};
  const Platform::GpuFeatureLevel levels[] = {Platform::GpuFeatureLevel_11_0, Platform::GpuFeatureLevel_10_1,
                                              Platform::GpuFeatureLevel_10_0};
  Platform::GpuFeatureLevel achieved;
  Platform::GpuResult result = Platform::kGpuFail;
  for (Platform::GpuDriverType driver : drivers) {
    result = Platform::CreateGpuDevice(driver, levels, 3, &m_device, &achieved, &m_context);
    if (!Platform::GpuFailed(result)) break;
  }
  if (result == Platform::kGpuOk) {
    log.Print(Base::TraceLevel_Info, Base::TraceModule_Graphics, "Device created");
    return;
  }
  // Going on with a null device would fail at every later step, far from the cause.
  log.Print(Base::TraceLevel_Error, Base::TraceModule_Graphics, "Failed to create the graphics device");
  g_onFailure();
}

Platform::GpuSwapChain* Device::CreateSwapChain(SDL_Window* window, uint32_t width, uint32_t height) {
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  if (window) {
    // The outer rectangle, borders included, as the window reports its rectangle.
    int w = 0, h = 0, top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowSize(window, &w, &h);
    if (SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
    width = uint32_t(w + left + right);
    height = uint32_t(h + top + bottom);
  }
  log.Print(Base::TraceLevel_Info, Base::TraceModule_Graphics, "Creating new swapchain, %i x %i", int(width),
            int(height));
  Platform::GpuSwapChainDesc desc;
  desc.width = width;
  desc.height = height;
  desc.format = Platform::GpuFormat_R8G8B8A8_UNorm;
  desc.bufferCount = 1;
  desc.outputWindow = window;
  desc.windowed = true;
  Platform::GpuSwapChain* chain = nullptr;
  if (!m_device || Platform::GpuFailed(m_device->CreateSwapChain(desc, &chain))) {
    log.Print(Base::TraceLevel_Error, Base::TraceModule_Graphics, "Failed to create swapchain, %i x %i",
              int(width), int(height));
    return nullptr;
  }
  log.Print(Base::TraceLevel_Info, Base::TraceModule_Graphics, "Created swapchain, %i x %i", int(width),
            int(height));
  return chain;
}

void Device::Release() {
  if (m_context) {
    m_context->Release();
    m_context = nullptr;
  }
  if (m_device) {
    m_device->Release();
    m_device = nullptr;
  }
}

Device* GetDevice() {
  if (!g_device) g_device = new Device;
  return g_device;
}

Device* PeekDevice() { return g_device; }

void DestroyDevice() {
  if (!g_device) return;
  g_device->Release();
  delete g_device;
  g_device = nullptr;
}

}  // namespace Graphics
