// SDL window and OpenGL context creation, headless through SDL's offscreen driver.
#include "Platform/Graphics/GlContext.h"
#include "Platform/ProgramStop.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cstring>

namespace Platform {

thread_local GlContext* GlContext::m_current = nullptr;

namespace {

std::atomic<int> g_liveContexts{0};

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
  ++g_liveContexts;
  {
    const WindowSystemCall call;
    gl->m_hidden = SDL_CreateWindow("gpu", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (gl->m_hidden) gl->m_context = SDL_GL_CreateContext(gl->m_hidden);
  }
  if (!gl->m_context) {
    *error = std::string("no OpenGL 4.5 core context: ") + SDL_GetError();
    delete gl;
    return nullptr;
  }
  gl->m_drawable = gl->m_hidden;
  m_current = gl;
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

int GlContext::LiveCount() { return g_liveContexts.load(); }

GlContext::~GlContext() {
  --g_liveContexts;
  // After a global SDL_Quit the context and windows are gone already.
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    if (m_context) {
      SDL_GL_MakeCurrent(m_hidden, nullptr);
      SDL_GL_DeleteContext(m_context);
    }
    if (m_hidden) SDL_DestroyWindow(m_hidden);
    ReleaseVideo();
  }
  if (m_current == this) m_current = nullptr;
}

void GlContext::MakeCurrent() {
  const WindowSystemCall call;
  SDL_GL_MakeCurrent(m_drawable, m_context);
  m_current = this;
}

bool GlContext::MakeCurrentOn(SDL_Window* window) {
  if (m_current == this && m_drawable == window) return true;
  const WindowSystemCall call;
  if (SDL_GL_MakeCurrent(window, m_context) != 0) {
    MakeCurrent();
    return false;
  }
  m_drawable = window;
  m_current = this;
  return true;
}

void GlContext::ForgetWindow(SDL_Window* window) {
  if (m_drawable != window) return;
  m_drawable = m_hidden;
  MakeCurrent();
}

void GlContext::SwapWindow(SDL_Window* window) {
  const WindowSystemCall call;
  SDL_GL_SwapWindow(window);
}

}  // namespace Platform
