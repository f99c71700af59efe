// A window of our own over SDL: what the game window and the swap chains need of one, so that
// nothing above Platform names the windowing library.
#pragma once

#include <cstdint>
#include <string>

struct SDL_Window;

namespace Platform {

class Window {
 public:
  enum Flags : uint32_t {
    Hidden = 1u << 0,     // not shown (tests, and windows shown once they are laid out)
    Resizable = 1u << 1,  // the user may drag its borders
  };

  // Every window can be presented into by a swap chain. Null, with `error` filled, when the
  // video system or the window cannot be had.
  static Window* Create(const char* title, int width, int height, uint32_t flags, std::string* error);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // The client area.
  void GetSize(int* width, int* height) const;
  // The whole window, borders included where the window system draws them.
  void GetOuterSize(int* width, int* height) const;
  void SetSize(int width, int height);
  // False when the window system refuses the switch.
  bool SetFullScreen(bool fullScreen);
  bool IsFullScreen() const;
  // The id the window system tags this window's events with.
  uint32_t GetId() const;

  // For the platform layers only (swap chains, events).
  SDL_Window* Native() const { return window_; }

 private:
  explicit Window(SDL_Window* window) : window_(window) {}
  SDL_Window* window_;
};

}  // namespace Platform
