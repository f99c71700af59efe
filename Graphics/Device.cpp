// Device creation with driver fallback, swap-chain creation, and the global device pointer.
#include "Graphics/Device.h"

#include "Graphics/Log.h"
#include "Graphics/RenderStateSet.h"

#include "Base/Reflection/Registration.h"
#include "Platform/Shutdown.h"

#include <cstdlib>

namespace Graphics {

namespace {

Device* g_device = nullptr;

void StopWithoutDevice() {
  GFX_LOG(Error, "Cannot run without a graphics device, stopping");
  std::exit(EXIT_FAILURE);
}

Device::FailureHandler g_onFailure = StopWithoutDevice;

void ForwardLayerMessage(bool isError, const char* text) {
  if (isError)
    GFX_LOG(Error, "%s", text);
  else
    GFX_LOG(Warning, "%s", text);
}

}  // namespace

Device::Device() { CreateDevice(); }

void Device::SetFailureHandler(FailureHandler handler) { g_onFailure = handler ? handler : StopWithoutDevice; }

void Device::CreateDevice() {
  GFX_LOG(Info, "Begin Initializing device");
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
    GFX_LOG(Info, "Device created");
    return;
  }
  // Going on with a null device would fail at every later step, far from the cause.
  GFX_LOG(Error, "Failed to create the graphics device");
  g_onFailure();
}

Platform::GpuSwapChain* Device::CreateSwapChain(Platform::Window* window, uint32_t width, uint32_t height) {
  if (window) {
    // The outer rectangle, borders included, as the window reports its rectangle.
    int w = 0, h = 0;
    window->GetOuterSize(&w, &h);
    width = uint32_t(w);
    height = uint32_t(h);
  }
  GFX_LOG(Info, "Creating new swapchain, %i x %i", int(width), int(height));
  Platform::GpuSwapChainDesc desc;
  desc.width = width;
  desc.height = height;
  desc.format = Platform::GpuFormat_R8G8B8A8_UNorm;
  desc.bufferCount = 1;
  desc.outputWindow = window;
  desc.windowed = true;
  Platform::GpuSwapChain* chain = nullptr;
  if (!m_device || Platform::GpuFailed(m_device->CreateSwapChain(desc, &chain))) {
    GFX_LOG(Error, "Failed to create swapchain, %i x %i", int(width), int(height));
    return nullptr;
  }
  GFX_LOG(Info, "Created swapchain, %i x %i", int(width), int(height));
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
  RenderStateSet::DeviceDestroyed();
  g_device->Release();
  delete g_device;
  g_device = nullptr;
}

}  // namespace Graphics

// The program-wide device lives until the platform shuts down at the end of `main`, not until exit:
// the driver's threads it keeps must be gone before the process ends.
ORV_ON_LOAD { Platform::AddShutdownStep(&Graphics::DestroyDevice); }
