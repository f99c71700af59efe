// The window interface's construction and its callback lists.
#include "Base/Window.h"

#include "Base/Log.h"

namespace Base {

Window::Window(const WindowSettings& settings)
    : m_width(settings.width),
      m_height(settings.height),
      m_title(settings.title),
      m_nativeHandle(settings.nativeHandle),
      m_mode(settings.mode) {
  BASE_LOG(Info, "Created new window (size: %ux%u title: %s)", m_width, m_height, m_title.c_str());
}

// By index: a callback may add callbacks, which run from the next time.
void Window::RunPumpCallbacks() {
  for (size_t i = 0, n = m_pumpCallbacks.size(); i < n; ++i) m_pumpCallbacks[i]();
}

void Window::RunResizeCallbacks(uint32_t width, uint32_t height) {
  for (size_t i = 0, n = m_resizeCallbacks.size(); i < n; ++i) m_resizeCallbacks[i](width, height);
}

void Window::RunCloseCallbacks() {
  for (size_t i = 0, n = m_closeCallbacks.size(); i < n; ++i) m_closeCallbacks[i]();
}

void Window::RunFocusCallbacks(bool focused) {
  for (size_t i = 0, n = m_focusCallbacks.size(); i < n; ++i) m_focusCallbacks[i](focused);
}

}  // namespace Base
