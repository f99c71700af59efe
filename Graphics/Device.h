// The renderer's one graphics device and its immediate context; also makes window swap chains.
#pragma once

#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/Graphics/GpuSwapChain.h"
#include "Platform/Window.h"

namespace Graphics {

class Device {
 public:
  // Creates the device at once (see CreateDevice).
  Device();

  // Tries the driver types in order and keeps the first device that comes up. When none does,
  // the failure is logged and the failure handler stops the program.
  void CreateDevice();

  // A swap chain for `window` (sized as its outer rectangle), or, with no window, an offscreen
  // back buffer of width x height. Null on failure, which is logged; a null swap chain never
  // presents. The caller owns the returned reference.
  Platform::GpuSwapChain* CreateSwapChain(Platform::Window* window, uint32_t width = 0, uint32_t height = 0);

  // Releases the context, then the device; harmless when already released.
  void Release();

  // What happens when no device can be created. The default logs and exits the process in
  // order (static destructors run); tests install their own.
  using FailureHandler = void (*)();
  static void SetFailureHandler(FailureHandler handler);

  Platform::GpuDevice* m_device = nullptr;
  Platform::GpuContext* m_context = nullptr;
};

// The program-wide device, created on first use: a GL context needs the window system, which
// is not ready before main.
Device* GetDevice();
// The device if it exists, without creating one.
Device* PeekDevice();
// Releases and deletes the device object; the global becomes null.
void DestroyDevice();

}  // namespace Graphics
