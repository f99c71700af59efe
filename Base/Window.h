// The platform-neutral game window: its settings, its size and title, and the callback lists through
// which it reports pumps, resizes, close requests and focus changes. The game's window implements it;
// the graphics system reaches the window through it without naming the program above it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Base/Math.h"

namespace Base {

class InputBackend;

struct WindowSettings {
  // Modes: a borderless window; a window switched to full screen right after it is made. Any other
  // value gives a normal framed window.
  static constexpr uint32_t kModeBorderless = 8;
  static constexpr uint32_t kModeFullscreen = 16;

  uint32_t width = 1280;
  uint32_t height = 720;
  std::string title;
  void* nativeHandle = nullptr;
  uint32_t mode = 0;
};

class Window {
 public:
  using PumpCallback = std::function<void()>;
  using ResizeCallback = std::function<void(uint32_t width, uint32_t height)>;
  using CloseCallback = std::function<void()>;
  using FocusCallback = std::function<void(bool focused)>;

  Window() = default;
  // Copies the settings and logs "Created new window (size: %ux%u title: %s)".
  explicit Window(const WindowSettings& settings);
  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  virtual void PumpMessages() {}
  virtual void Show(bool show) { (void)show; }
  virtual void SetTitle(const std::string& title) { (void)title; }
  virtual void ShowCursor(bool show) { (void)show; }
  virtual bool IsCursorShown() const { return false; }
  virtual Vec2 GetCursorPosition() const { return {0.0f, 0.0f}; }
  virtual void SetFullscreen(bool fullscreen) { (void)fullscreen; }
  virtual bool IsFullscreen() const { return false; }
  virtual void SetCursorPosition(int x, int y) { (void)x, (void)y; }
  virtual bool HasFocus() const { return false; }
  virtual InputBackend* GetInputBackend() { return nullptr; }

  uint32_t GetWidth() const { return m_width; }
  uint32_t GetHeight() const { return m_height; }
  const std::string& GetTitle() const { return m_title; }
  uint32_t GetMode() const { return m_mode; }

  void AddPumpCallback(PumpCallback callback) { m_pumpCallbacks.push_back(std::move(callback)); }
  void AddResizeCallback(ResizeCallback callback) { m_resizeCallbacks.push_back(std::move(callback)); }
  void AddCloseCallback(CloseCallback callback) { m_closeCallbacks.push_back(std::move(callback)); }
  void AddFocusCallback(FocusCallback callback) { m_focusCallbacks.push_back(std::move(callback)); }

 protected:
  void RunPumpCallbacks();
  void RunResizeCallbacks(uint32_t width, uint32_t height);
  void RunCloseCallbacks();
  void RunFocusCallbacks(bool focused);

  // Fields in this order.
  uint32_t m_width = 1280;
  uint32_t m_height = 720;
  std::string m_title;
  void* m_nativeHandle = nullptr;
  uint32_t m_mode = 0;
  std::vector<PumpCallback> m_pumpCallbacks;
  std::vector<ResizeCallback> m_resizeCallbacks;
  std::vector<CloseCallback> m_closeCallbacks;
  std::vector<FocusCallback> m_focusCallbacks;
};

}  // namespace Base
