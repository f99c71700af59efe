// The game window: one platform window with a canvas of the Graphics Master, full-screen switching,
// focus handling, and the window procedure that turns the window system's messages into key and mouse
// events for the input backend and into window events on both event channels (the engine hooks and
// the scripts' "Hook:Call"). Closing the window only raises "GameWindowClose": scripts decide.
#pragma once

#include <memory>
#include <string>

#include "Platform/Window.h"
#include "Base/Window.h"

namespace Vantor {

class Win32InputBackend;

class Window32 : public Base::Window {
 public:
  // Makes the platform window (framed, or borderless for mode 8) and its canvas, shows it at the
  // desktop's top-left corner, and switches to full screen for mode 16. A window the platform cannot
  // make is logged ("Window failed to create") and the rest goes on with an offscreen canvas.
  Window32(const Base::WindowSettings& settings, Win32InputBackend* input);
  // The destroy path: a full-screen window leaves full screen on its canvas, while the canvas is still
  // there, then the close callbacks run. The canvas's frame presents into the platform window, so the
  // Graphics Master must let go of it before the window is gone (the game shuts the master down first).
  ~Window32() override;

  // Runs the pump callbacks, then takes at most one message from the queue and handles it.
  void PumpMessages() override;
  // Restores (true) or minimises (false) the window, and raises "GameWindowRestore" or
  // "GameWindowMinimize".
  void Show(bool show) override;
  void SetTitle(const std::string& title) override;
  void ShowCursor(bool show) override;
  bool IsCursorShown() const override { return m_cursorShown; }
  // In desktop coordinates.
  Base::Vec2 GetCursorPosition() const override;
  void SetFullscreen(bool fullscreen) override;
  bool IsFullscreen() const override { return m_fullscreen; }
  void SetCursorPosition(int x, int y) override;
  bool HasFocus() const override;
  Base::InputBackend* GetInputBackend() override;

  // Ignored unless both are non-zero and the window is not full screen; the corner stays where it is.
  void Resize(uint32_t width, uint32_t height);
  Base::Vec2 GetDesktopSize() const;

  // The window procedure: one message of the window system.
  void HandleEvent(const Platform::WindowEvent& event);

  bool IsMinimized() const { return m_minimized; }
  int GetCanvasId() const { return m_canvasId; }
  Base::Vec2 GetLastClickPosition() const { return m_lastClick; }
  Platform::Window* GetPlatformWindow() const { return m_window.get(); }
  // Why the platform refused the window, in its own words (empty when the window was made).
  const std::string& GetCreationError() const { return m_creationError; }

 private:
  void OnFocusChange(bool focused);
  // Resizes the canvas to the desktop; false (logged) when the canvas is missing.
  bool ResizeCanvasToDesktop();
  // Tells the canvas to enter or leave full screen; false (logged) when it is missing.
  bool SetCanvasFullscreen(bool fullscreen);
  void Raise(const char* event);

  // Fields in this order.
  std::unique_ptr<Platform::Window> m_window;
  int m_canvasId = -1;
  bool m_cursorShown = true;
  Win32InputBackend* m_input;
  bool m_fullscreen = false;
  bool m_mouseTracking = false;
  Base::Vec2 m_lastClick{0.0f, 0.0f};
  bool m_minimized = false;
  std::string m_creationError;
};

}  // namespace Vantor
