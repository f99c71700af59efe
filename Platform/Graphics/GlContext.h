// The OpenGL 4.5 core context behind a graphics device: SDL makes the window and the context.
#pragma once

#include "Platform/Graphics/GpuTypes.h"

#include <string>

struct SDL_Window;

namespace Platform {

class GlContext {
 public:
  // Null with `error` filled when the driver type cannot give a 4.5 core context.
  static GlContext* Create(GpuDriverType type, std::string* error);
  // The surface every window presented into must have: set before an SDL window is made.
  static void SetWindowAttributes();
  // Contexts not yet destroyed: each holds the driver, and with it the driver's threads.
  static int LiveCount();
  ~GlContext();

  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;

  // Every GL call of a device goes through here first; the common case is one compare.
  void Ensure() {
    if (m_current != this) MakeCurrent();
  }
  // Makes the context current on `window` (a present target); false when SDL refuses.
  bool MakeCurrentOn(SDL_Window* window);
  // A window that goes away must stop being the context's drawable.
  void ForgetWindow(SDL_Window* window);
  void SwapWindow(SDL_Window* window);

 private:
  GlContext() = default;
  void MakeCurrent();

  SDL_Window* m_hidden = nullptr;    // the drawable while no window is presented to
  SDL_Window* m_drawable = nullptr;
  void* m_context = nullptr;
  static thread_local GlContext* m_current;
};

}  // namespace Platform
