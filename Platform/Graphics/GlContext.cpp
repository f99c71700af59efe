// SDL window and OpenGL context creation, headless through SDL's offscreen driver.
#include "Platform/Graphics/GlContext.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <dlfcn.h>
#include <link.h>

#include <cstring>

namespace Platform {

thread_local GlContext* GlContext::current_ = nullptr;

namespace {

// Software rendering is SDL's offscreen driver; it can only be had while no other video
// driver is running (the game window would be torn down by a re-initialisation).
bool InitVideo(GpuDriverType type, std::string* error) {
  if (type == GpuDriverType::Software) {
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
      const char* running = SDL_GetCurrentVideoDriver();
      if (!running || std::strcmp(running, "offscreen") != 0) {
        *error = "the software driver needs the offscreen video driver, but another one is running";
        return false;
      }
    } else {
      SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    }
  }
  int failed = SDL_InitSubSystem(SDL_INIT_VIDEO);
  if (type == GpuDriverType::Software) SDL_ResetHint(SDL_HINT_VIDEODRIVER);
  if (failed != 0) {
    *error = std::string("video initialisation failed: ") + SDL_GetError();
    return false;
  }
  return true;
}

// Keeps every library loaded so far (the GL driver stack that SDL and the driver loaded for
// the context) resident until exit. Unloading a driver when video shuts down would leave its
// live allocations and late destructors pointing into unmapped code.
void KeepDriverLoaded() {
  static bool done = false;
  if (done) return;
  done = true;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        if (info->dlpi_name && info->dlpi_name[0]) dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

}  // namespace

GlContext* GlContext::Create(GpuDriverType type, std::string* error) {
  if (!InitVideo(type, error)) return nullptr;
  SetWindowAttributes();

  auto* gl = new GlContext;
  gl->hidden_ = SDL_CreateWindow("gpu", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (gl->hidden_) gl->context_ = SDL_GL_CreateContext(gl->hidden_);
  if (!gl->context_) {
    *error = std::string("no OpenGL 4.5 core context: ") + SDL_GetError();
    delete gl;
    return nullptr;
  }
  gl->drawable_ = gl->hidden_;
  current_ = gl;
  KeepDriverLoaded();
  if (epoxy_gl_version() < 45 || !epoxy_is_desktop_gl()) {
    *error = "the OpenGL context is older than 4.5";
    delete gl;
    return nullptr;
  }
  return gl;
}

void GlContext::SetWindowAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);  // all drawing goes to our own targets
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

GlContext::~GlContext() {
  // After a global SDL_Quit the context and windows are gone already.
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    if (context_) {
      SDL_GL_MakeCurrent(hidden_, nullptr);
      SDL_GL_DeleteContext(context_);
    }
    if (hidden_) SDL_DestroyWindow(hidden_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  if (current_ == this) current_ = nullptr;
}

void GlContext::MakeCurrent() {
  SDL_GL_MakeCurrent(drawable_, context_);
  current_ = this;
}

bool GlContext::MakeCurrentOn(SDL_Window* window) {
  if (current_ == this && drawable_ == window) return true;
  if (SDL_GL_MakeCurrent(window, context_) != 0) {
    MakeCurrent();
    return false;
  }
  drawable_ = window;
  current_ = this;
  return true;
}

void GlContext::ForgetWindow(SDL_Window* window) {
  if (drawable_ != window) return;
  drawable_ = hidden_;
  MakeCurrent();
}

void GlContext::SwapWindow(SDL_Window* window) { SDL_GL_SwapWindow(window); }

}  // namespace Platform
