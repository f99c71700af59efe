// SDL windows made ready for the graphics layer's OpenGL context, and their messages turned into
// the engine's window events.
#include "Platform/Window.h"

#include "Platform/AudioDevices.h"
#include "Platform/Graphics/GlContext.h"
#include "Platform/ProgramStop.h"

#include <SDL2/SDL.h>

namespace Platform {

namespace {

bool IsFor(uint32_t windowId, const SDL_Window* window) {
  // Input reaches a window of ours with id 0 when no window has the keyboard focus.
  return windowId == 0 || windowId == SDL_GetWindowID(const_cast<SDL_Window*>(window));
}

// SDL numbers buttons from 1 (left, middle, right, then the side buttons); the engine takes left,
// right, middle as 0, 1, 2. The side buttons have no message of their own: -1.
int32_t ButtonNumber(uint8_t sdlButton) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      return 0;
    case SDL_BUTTON_RIGHT:
      return 1;
    case SDL_BUTTON_MIDDLE:
      return 2;
    default:
      return -1;
  }
}

void Translate(const SDL_Event& in, SDL_Window* window, WindowEvent& out) {
  out = WindowEvent();
  switch (in.type) {
    case SDL_WINDOWEVENT:
      if (in.window.windowID != SDL_GetWindowID(window)) return;
      switch (in.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          out.kind = WindowEvent::CloseRequest;
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          out.kind = WindowEvent::FocusGained;
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          out.kind = WindowEvent::FocusLost;
          break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          out.kind = WindowEvent::Resized;
          out.x = in.window.data1;
          out.y = in.window.data2;
          break;
        case SDL_WINDOWEVENT_MINIMIZED:
          out.kind = WindowEvent::Minimized;
          break;
        case SDL_WINDOWEVENT_RESTORED:
          out.kind = WindowEvent::Restored;
          break;
        case SDL_WINDOWEVENT_ENTER:
          out.kind = WindowEvent::MouseEnter;
          break;
        case SDL_WINDOWEVENT_LEAVE:
          out.kind = WindowEvent::MouseLeave;
          break;
        default:
          break;
      }
      return;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      if (!IsFor(in.key.windowID, window)) return;
      out.kind = in.type == SDL_KEYDOWN ? WindowEvent::KeyDown : WindowEvent::KeyUp;
      out.key = VirtualKeyFromKeyCode(in.key.keysym.sym);
      return;
    case SDL_MOUSEMOTION:
      if (!IsFor(in.motion.windowID, window)) return;
      out.kind = WindowEvent::MouseMove;
      out.x = in.motion.x;
      out.y = in.motion.y;
      return;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (!IsFor(in.button.windowID, window) || ButtonNumber(in.button.button) < 0) return;
      out.kind = in.type == SDL_MOUSEBUTTONDOWN ? WindowEvent::ButtonDown : WindowEvent::ButtonUp;
      out.x = in.button.x;
      out.y = in.button.y;
      out.button = ButtonNumber(in.button.button);
      return;
    case SDL_AUDIODEVICEADDED:
      // Not the window's: the sound output hears of it here, as the pump is where SDL says so.
      HandAudioDeviceAdded(in.adevice.iscapture != 0);
      return;
    case SDL_MOUSEWHEEL:
      if (!IsFor(in.wheel.windowID, window) || in.wheel.y == 0) return;
      out.kind = WindowEvent::Wheel;
      out.wheel = in.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -in.wheel.y : in.wheel.y;
      return;
    default:
      return;
  }
}

}  // namespace

namespace {

bool g_displayHeld = false;

}  // namespace

bool Window::DisplayAvailable(std::string* error) {
  ReleaseDisplayHold();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  PrepareDisplayWatch();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = SDL_GetError();
    EndDisplayWatch();
    return false;
  }
  NoteDisplayConnections();
  // The drivers without a screen are SDL's last resort: taken unasked, they mean there is no display.
  const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
  const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);  // the variable SDL_VIDEODRIVER as well
  const bool headless = driver == "offscreen" || driver == "dummy";
  const bool asked = requested && SDL_strcasestr(requested, driver.c_str()) != nullptr;
  if (!headless || asked) {
    g_displayHeld = true;
    return true;
  }
  ReleaseVideo();
  if (error) *error = "no display was found, only SDL's " + driver + " driver";
  return false;
}

void Window::ReleaseDisplayHold() {
  if (!g_displayHeld) return;
  g_displayHeld = false;
  ReleaseVideo();
}

Window* Window::Create(const char* title, int width, int height, uint32_t flags, std::string* error) {
  // After the window's own start of the video system (and after its end, when the window is refused).
  struct HoldRelease {
    ~HoldRelease() { ReleaseDisplayHold(); }
  } holdRelease;
  // Ctrl+C in the terminal is the program's to answer (ProgramStop.h), instead of becoming a message
  // that only the window could answer.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The video subsystem is counted: each window holds it, as the graphics context does.
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = std::string("video initialisation failed: ") + SDL_GetError();
    return nullptr;
  }
  // A window's surface is chosen when it is made; it must suit the context that will draw into it.
  GlContext::SetWindowAttributes();
  uint32_t sdlFlags = (flags & MessagesOnly) ? 0 : SDL_WINDOW_OPENGL;
  if (flags & Hidden) sdlFlags |= SDL_WINDOW_HIDDEN;
  if (flags & Resizable) sdlFlags |= SDL_WINDOW_RESIZABLE;
  if (flags & Borderless) sdlFlags |= SDL_WINDOW_BORDERLESS;
  SDL_Window* window = nullptr;
  {
    const WindowSystemCall call;
    window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                              sdlFlags);
  }
  if (!window) {
    if (error) *error = std::string("window creation failed: ") + SDL_GetError();
    ReleaseVideo();
    return nullptr;
  }
  WatchDisplayConnection(window);
  return new Window(window);
}

Window::~Window() {
  // After a global SDL_Quit the window is gone already; on a display whose server has gone it went with
  // the server, and SDL, hiding it first, would wait forever to hear it hidden.
  if (SDL_WasInit(SDL_INIT_VIDEO) && !DisplayConnectionLost(m_window)) {
    SDL_DestroyWindow(m_window);
    ReleaseVideo();
  }
}

void Window::GetSize(int* width, int* height) const { SDL_GetWindowSize(m_window, width, height); }

void Window::GetOuterSize(int* width, int* height) const {
  int w = 0, h = 0, top = 0, left = 0, bottom = 0, right = 0;
  SDL_GetWindowSize(m_window, &w, &h);
  if (SDL_GetWindowBordersSize(m_window, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
  if (width) *width = w + left + right;
  if (height) *height = h + top + bottom;
}

void Window::SetSize(int width, int height) { SDL_SetWindowSize(m_window, width, height); }

void Window::GetPosition(int* x, int* y) const { SDL_GetWindowPosition(m_window, x, y); }

void Window::SetPosition(int x, int y) { SDL_SetWindowPosition(m_window, x, y); }

bool Window::SetFullScreen(bool fullScreen) {
  return SDL_SetWindowFullscreen(m_window, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0;
}

bool Window::IsFullScreen() const { return (SDL_GetWindowFlags(m_window) & SDL_WINDOW_FULLSCREEN) != 0; }

void Window::SetTitle(const char* title) { SDL_SetWindowTitle(m_window, title ? title : ""); }

void Window::Show() {
  // The window system waits for the server to map the window: one that has gone never answers.
  if (!LostDisplayName().empty()) return;
  const WindowSystemCall call(WindowSystemCall::WaitsForServer);
  SDL_ShowWindow(m_window);
}

void Window::Minimize() { SDL_MinimizeWindow(m_window); }

void Window::Restore() { SDL_RestoreWindow(m_window); }

bool Window::HasInputFocus() const { return (SDL_GetWindowFlags(m_window) & SDL_WINDOW_INPUT_FOCUS) != 0; }

uint32_t Window::GetId() const { return SDL_GetWindowID(m_window); }

bool Window::PollEvent(WindowEvent& event) {
  SDL_Event message;
  if (SDL_PollEvent(&message) == 0) {
    event = WindowEvent();
    return false;
  }
  Translate(message, m_window, event);
  return true;
}

void Window::ShowCursor(bool show) { SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE); }

void Window::GetCursorPosition(int* x, int* y) {
  int cx = 0, cy = 0;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_GetGlobalMouseState(&cx, &cy);
  if (x) *x = cx;
  if (y) *y = cy;
}

void Window::SetCursorPosition(int x, int y) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_WarpMouseGlobal(x, y);
}

bool Window::GetDesktopSize(int* width, int* height) {
  SDL_DisplayMode mode{};
  const bool known = SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetDesktopDisplayMode(0, &mode) == 0;
  if (width) *width = known ? mode.w : 0;
  if (height) *height = known ? mode.h : 0;
  return known;
}

}  // namespace Platform
