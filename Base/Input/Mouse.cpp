// Mouse device: events move the current state; Update makes it the previous one.
#include "Base/Input/Mouse.h"

#include "Base/Log.h"

namespace Base {

namespace {

void Notify(const InputCallbackList& callbacks, const InputEvent& event) {
  for (const InputCallback& callback : callbacks) callback(event);
}

bool ButtonInRange(int button) {
  if (button >= 0 && button < kMouseButtonCount) return true;
  BASE_LOG(Warning, "Mouse button %d is out of range (0..%d)", button, kMouseButtonCount - 1);
  return false;
}

}  // namespace

void Mouse::Update() {
  // The wheel counts notches per frame, so it starts again from zero.
  m_previous = m_current;
  m_current.wheel = 0;
}

void Mouse::OnEvent(const InputEvent& event) {
  if (event.device != InputDevice_Mouse) return;
  switch (event.kind) {
    case MouseEvent_Wheel:
      Notify(m_wheelCallbacks, event);
      m_current.wheel += event.wheel;
      break;
    case MouseEvent_Move:
      m_current.x = event.move.x;
      m_current.y = event.move.y;
      Notify(m_moveCallbacks, event);
      break;
    case MouseEvent_RelativeMove: {
      // Listeners get the event completed with the step and the mouse it moved.
      InputEvent filled = event;
      filled.relative.dx = static_cast<int16_t>(m_current.x - event.relative.x);
      filled.relative.dy = static_cast<int16_t>(m_current.y - event.relative.y);
      filled.relative.mouse = &m_current;
      m_current.x = event.relative.x;
      m_current.y = event.relative.y;
      Notify(m_relativeMoveCallbacks, filled);
      break;
    }
    case MouseEvent_ButtonDown:
    case MouseEvent_ButtonUp: {
      const bool down = event.kind == MouseEvent_ButtonDown;
      m_current.x = event.button.x;
      m_current.y = event.button.y;
      // Further buttons still reach the listeners; only 0..4 have a flag.
      if (event.button.button < kMouseButtonCount) m_current.buttons[event.button.button] = down;
      Notify(down ? m_buttonDownCallbacks : m_buttonUpCallbacks, event);
      break;
    }
    default:  // hover and leave change nothing
      break;
  }
}

bool Mouse::IsButtonDown(int button) const {
  return ButtonInRange(button) && m_current.buttons[button];
}

bool Mouse::IsButtonPressed(int button) const {
  return ButtonInRange(button) && m_current.buttons[button] && !m_previous.buttons[button];
}

bool Mouse::IsButtonReleased(int button) const {
  return ButtonInRange(button) && !m_current.buttons[button] && m_previous.buttons[button];
}

}  // namespace Base
