// A window of our own over SDL: what the game window and the swap chains need of one, so that
// nothing above Platform names the windowing library.
#pragma once

#include <cstdint>
#include <string>

struct SDL_Window;

namespace Platform {

// One message of the window system, already in the engine's terms: keys as virtual-key numbers,
// mouse buttons 0 left, 1 right, 2 middle, wheel in whole notches (forward positive).
struct WindowEvent {
  enum Kind : uint32_t {
    None,          // nothing for this window (another window's message, or one the game ignores)
    CloseRequest,  // the user asked to close the window
    FocusGained,
    FocusLost,
    Resized,       // x, y: the new client size
    Minimized,     // the window system minimised the window
    Restored,      // ... or brought it back
    KeyDown,       // key: virtual-key number (a held key repeats)
    KeyUp,
    MouseMove,     // x, y: client coordinates
    ButtonDown,    // x, y, button
    ButtonUp,
    Wheel,         // wheel: notches
    MouseEnter,
    MouseLeave,
  };
  Kind kind = None;
  int32_t x = 0;
  int32_t y = 0;
  int32_t key = 0;
  int32_t button = 0;
  int32_t wheel = 0;
};

class Window {
 public:
  enum Flags : uint32_t {
    Hidden = 1u << 0,      // not shown (tests, and windows shown once they are laid out)
    Resizable = 1u << 1,   // the user may drag its borders
    Borderless = 1u << 2,  // no frame or title bar
    MessagesOnly = 1u << 3,  // no swap chain presents into it and no GL driver is loaded for it
  };

  // Every window but a messages-only one can be presented into by a swap chain. Null, with `error` filled, when the
  // video system or the window cannot be had.
  static Window* Create(const char* title, int width, int height, uint32_t flags, std::string* error);
  // Whether a window made here can be shown: the video system starts on a display, or on a driver
  // without one (SDL's offscreen driver) that was asked for by name. False, with `error` filled, when
  // there is no display, where SDL itself would fall back to drawing offscreen unseen. When true, the
  // video system stays up, its connection to the display open, until ReleaseDisplayHold: an X server
  // that resets when its last client leaves (Xvfb as xvfb-run starts it) would otherwise reset between
  // this check and the window, and drop the window's connection made meanwhile or end. Create takes the
  // hold over: its window holds the video system, or, refused, leaves it down as before the check.
  static bool DisplayAvailable(std::string* error);
  // Lets go of the hold DisplayAvailable took, if any; windows made since keep their own.
  static void ReleaseDisplayHold();
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // The client area.
  void GetSize(int* width, int* height) const;
  // The whole window, borders included where the window system draws them.
  void GetOuterSize(int* width, int* height) const;
  void SetSize(int width, int height);
  // The top-left corner of the client area on the desktop.
  void GetPosition(int* x, int* y) const;
  void SetPosition(int x, int y);
  // False when the window system refuses the switch. Full screen is the desktop's own mode.
  bool SetFullScreen(bool fullScreen);
  bool IsFullScreen() const;
  void SetTitle(const char* title);
  void Show();
  void Minimize();
  void Restore();
  bool HasInputFocus() const;
  // The id the window system tags this window's events with.
  uint32_t GetId() const;

  // Takes at most one message from the queue of the calling thread. False when the queue was
  // empty; true with kind None for a message that is not this window's or that the game ignores.
  bool PollEvent(WindowEvent& event);

  // The pointer is shared by every window of the program.
  static void ShowCursor(bool show);
  // In desktop coordinates.
  static void GetCursorPosition(int* x, int* y);
  static void SetCursorPosition(int x, int y);
  // The size of the desktop the first display shows; false (0 x 0) without a video system.
  static bool GetDesktopSize(int* width, int* height);

  // For the platform layers only (swap chains, events).
  SDL_Window* Native() const { return m_window; }

 private:
  explicit Window(SDL_Window* window) : m_window(window) {}
  SDL_Window* m_window;
};

// The virtual-key number of a window-system key code, 0 for a key that has none. Both shift keys
// give the one shift number, likewise control and alt, as key messages name them.
int32_t VirtualKeyFromKeyCode(int32_t keyCode);

}  // namespace Platform
