// The game window's construction, full-screen and focus rules, and its window procedure.
#include "Vantor/Window32.h"

#include "Base/Input/InputEvent.h"
#include "Base/Log.h"
#include "Core/EngineLinks.h"
#include "Core/Hooks.h"
#include "Graphics/Canvas.h"
#include "Graphics/GraphicsMaster.h"
#include "Vantor/Win32InputBackend.h"

namespace Vantor {

namespace {

Graphics::Canvas* CanvasOf(int id) { return Graphics::GraphicsMaster::GetInstance().GetCanvas(id); }

void LogMissingCanvas() { BASE_LOG(Error, "Invalid canvas being used with Window32"); }

// The client coordinates the mouse events carry, as the window system's 16-bit words.
uint16_t Word(int32_t value) { return uint16_t(value); }

}  // namespace

Window32::Window32(const Base::WindowSettings& settings, Win32InputBackend* input)
    : Base::Window(settings), m_input(input) {
  uint32_t flags = Platform::Window::Hidden;  // shown once it is placed
  if (m_mode == Base::WindowSettings::kModeBorderless) flags |= Platform::Window::Borderless;
  m_window.reset(Platform::Window::Create(m_title.c_str(), int(m_width), int(m_height), flags, &m_creationError));
  if (!m_window) BASE_LOG(Error, "Window failed to create");
  m_nativeHandle = m_window.get();

  m_canvasId = Graphics::GraphicsMaster::GetInstance().CreateCanvasFramePair(m_window.get(), int(m_width),
                                                                             int(m_height));
  if (m_window) {
    m_window->SetPosition(0, 0);
    m_window->SetSize(int(m_width), int(m_height));
    m_window->Show();
  }

  AddFocusCallback([](bool focused) {
    if (Core::Hooks* hooks = Core::GetEngineHooks()) hooks->Call("WindowFocus", focused);
  });
  AddFocusCallback([](bool focused) { Core::Scripts().Call("Hook:Call", "WindowFocusChange", focused); });
  AddResizeCallback([](uint32_t width, uint32_t height) {
    if (Core::Hooks* hooks = Core::GetEngineHooks()) hooks->Call("GameWindowResize", Base::Vec2(float(width), float(height)));
  });
  AddCloseCallback([] {
    if (Core::Hooks* hooks = Core::GetEngineHooks()) hooks->Call("GameWindowClose");
  });
  AddCloseCallback([] {
    if (Core::Scripts().IsInitialized()) Core::Scripts().Call("Hook:Call", "GameWindowClose");
  });

  if (m_mode == Base::WindowSettings::kModeFullscreen) SetFullscreen(true);
}

// The window's destroy path: a full-screen window gives the desktop back to its canvas first, then the
// close callbacks run as for a close request. At the game's end the Graphics Master has already let go
// of the canvas (its frame presents into this window) and the scripts are closed, so both steps find
// nothing to do there and say nothing.
Window32::~Window32() {
  if (m_fullscreen && CanvasOf(m_canvasId)) {
    ResizeCanvasToDesktop();
    SetCanvasFullscreen(false);
  }
  RunCloseCallbacks();
}

void Window32::PumpMessages() {
  RunPumpCallbacks();
  Platform::WindowEvent event;
  if (m_window && m_window->PollEvent(event)) HandleEvent(event);
}

void Window32::Raise(const char* event) {
  if (Core::Hooks* hooks = Core::GetEngineHooks()) hooks->Call(event);
  if (Core::Scripts().IsInitialized()) Core::Scripts().Call("Hook:Call", event);
}

void Window32::Show(bool show) {
  if (m_window) show ? m_window->Restore() : m_window->Minimize();
  m_minimized = !show;
  Raise(show ? "GameWindowRestore" : "GameWindowMinimize");
}

void Window32::SetTitle(const std::string& title) {
  m_title = title;
  if (m_window) m_window->SetTitle(title.c_str());
}

void Window32::ShowCursor(bool show) {
  if (show == m_cursorShown) return;
  m_cursorShown = show;
  Platform::Window::ShowCursor(show);
}

Base::Vec2 Window32::GetCursorPosition() const {
  int x = 0, y = 0;
  Platform::Window::GetCursorPosition(&x, &y);
  return {float(x), float(y)};
}

void Window32::SetFullscreen(bool fullscreen) {
  m_fullscreen = fullscreen;
  // The canvas switches the window with its swap chain.
  ResizeCanvasToDesktop();
  SetCanvasFullscreen(fullscreen);
  ShowCursor(!fullscreen);
}

void Window32::SetCursorPosition(int x, int y) { Platform::Window::SetCursorPosition(x, y); }

bool Window32::HasFocus() const { return m_window && m_window->HasInputFocus(); }

Base::InputBackend* Window32::GetInputBackend() { return m_input; }

Base::Vec2 Window32::GetDesktopSize() const {
  int width = 0, height = 0;
  Platform::Window::GetDesktopSize(&width, &height);
  return {float(width), float(height)};
}

bool Window32::ResizeCanvasToDesktop() {
  Graphics::Canvas* canvas = CanvasOf(m_canvasId);
  if (!canvas) {
    LogMissingCanvas();
    return false;
  }
  const Base::Vec2 desktop = GetDesktopSize();
  canvas->Resize(uint32_t(desktop.x), uint32_t(desktop.y));
  return true;
}

bool Window32::SetCanvasFullscreen(bool fullscreen) {
  Graphics::Canvas* canvas = CanvasOf(m_canvasId);
  if (!canvas) {
    LogMissingCanvas();
    return false;
  }
  canvas->SetFullScreen(fullscreen);
  return true;
}

void Window32::Resize(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || m_fullscreen) return;
  m_width = width;
  m_height = height;
  RunResizeCallbacks(width, height);
  if (Graphics::Canvas* canvas = CanvasOf(m_canvasId)) canvas->Resize(width, height);
  if (m_window) m_window->SetSize(int(width), int(height));
}

void Window32::OnFocusChange(bool focused) {
  RunFocusCallbacks(focused);
  if (!m_fullscreen) {
    // Windowed, losing the focus minimises the game and gaining it brings it back.
    Show(focused);
    return;
  }
  if (focused) {
    Show(true);
    SetFullscreen(true);
    ShowCursor(false);
  } else {
    // Full screen is left while another program has the screen.
    ResizeCanvasToDesktop();
    Show(false);
    SetCanvasFullscreen(false);
    ShowCursor(true);
  }
}

void Window32::HandleEvent(const Platform::WindowEvent& event) {
  using Platform::WindowEvent;
  using Base::InputEvent;
  switch (event.kind) {
    case WindowEvent::None:
      return;
    case WindowEvent::CloseRequest:
      // The window stays open: whether the game ends is the scripts' call.
      RunCloseCallbacks();
      return;
    case WindowEvent::FocusGained:
    case WindowEvent::FocusLost:
      OnFocusChange(event.kind == WindowEvent::FocusGained);
      return;
    case WindowEvent::Resized:
      if (event.x <= 0 || event.y <= 0 || m_fullscreen) return;
      m_width = uint32_t(event.x);
      m_height = uint32_t(event.y);
      RunResizeCallbacks(m_width, m_height);
      if (Graphics::Canvas* canvas = CanvasOf(m_canvasId)) canvas->Resize(m_width, m_height);
      return;
    case WindowEvent::Minimized:
    case WindowEvent::Restored: {
      // The window system changed it (a button on the frame): record it and tell both channels, once.
      const bool minimized = event.kind == WindowEvent::Minimized;
      if (minimized == m_minimized) return;
      m_minimized = minimized;
      Raise(minimized ? "GameWindowMinimize" : "GameWindowRestore");
      return;
    }
    case WindowEvent::KeyDown:
    case WindowEvent::KeyUp:
      if (m_input) m_input->KeyEvent(event.key, event.kind == WindowEvent::KeyDown);
      return;
    case WindowEvent::MouseMove:
      m_mouseTracking = true;
      if (m_input) m_input->MouseEvent(InputEvent::Move(Word(event.x), Word(event.y)));
      return;
    case WindowEvent::ButtonDown:
      m_lastClick = {float(event.x), float(event.y)};
      [[fallthrough]];
    case WindowEvent::ButtonUp:
      if (m_input)
        m_input->MouseEvent(InputEvent::Button(event.kind == WindowEvent::ButtonDown, Word(event.x), Word(event.y),
                                               uint32_t(event.button)));
      return;
    case WindowEvent::Wheel:
      if (m_input) m_input->MouseEvent(InputEvent::Wheel(event.wheel));
      return;
    case WindowEvent::MouseEnter:
      if (m_input) m_input->MouseEvent(InputEvent::Mouse(Base::MouseEvent_Hover));
      return;
    case WindowEvent::MouseLeave:
      m_mouseTracking = false;
      if (m_input) m_input->MouseEvent(InputEvent::Mouse(Base::MouseEvent_Leave));
      return;
  }
}

}  // namespace Vantor
