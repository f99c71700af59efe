// SDL windows made ready for the graphics layer's OpenGL context.
#include "Platform/Window.h"

#include "Platform/Graphics/GlContext.h"

#include <SDL2/SDL.h>

namespace Platform {

Window* Window::Create(const char* title, int width, int height, uint32_t flags, std::string* error) {
  // The video subsystem is counted: each window holds it, as the graphics context does.
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = std::string("video initialisation failed: ") + SDL_GetError();
    return nullptr;
  }
  // A window's surface is chosen when it is made; it must suit the context that will draw into it.
  GlContext::SetWindowAttributes();
  uint32_t sdlFlags = SDL_WINDOW_OPENGL;
  if (flags & Hidden) sdlFlags |= SDL_WINDOW_HIDDEN;
  if (flags & Resizable) sdlFlags |= SDL_WINDOW_RESIZABLE;
  SDL_Window* window =
      SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, sdlFlags);
  if (!window) {
    if (error) *error = std::string("window creation failed: ") + SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  return new Window(window);
}

Window::~Window() {
  // After a global SDL_Quit the window is gone already.
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
}

void Window::GetSize(int* width, int* height) const { SDL_GetWindowSize(window_, width, height); }

void Window::GetOuterSize(int* width, int* height) const {
  int w = 0, h = 0, top = 0, left = 0, bottom = 0, right = 0;
  SDL_GetWindowSize(window_, &w, &h);
  if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
  if (width) *width = w + left + right;
  if (height) *height = h + top + bottom;
}

void Window::SetSize(int width, int height) { SDL_SetWindowSize(window_, width, height); }

bool Window::SetFullScreen(bool fullScreen) {
  return SDL_SetWindowFullscreen(window_, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0;
}

bool Window::IsFullScreen() const { return (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0; }

uint32_t Window::GetId() const { return SDL_GetWindowID(window_); }

}  // namespace Platform
