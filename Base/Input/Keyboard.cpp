// Keyboard device: key events set the current states; Update makes them the previous ones.
#include "Base/Input/Keyboard.h"

#include <cstring>

#include "Base/Log.h"

namespace Base {

namespace {

bool KeyInRange(int64_t key) {
  if (key >= 0 && key < Key_Count) return true;
  BASE_LOG(Warning, "Key code %lld is out of range (0..%d)", static_cast<long long>(key), Key_Count - 1);
  return false;
}

void Notify(const InputCallbackList& callbacks, const InputEvent& event) {
  for (const InputCallback& callback : callbacks) callback(event);
}

}  // namespace

void Keyboard::Update() { std::memcpy(m_previous, m_current, sizeof(m_previous)); }

void Keyboard::OnEvent(const InputEvent& event) {
  if (event.device != InputDevice_Keyboard) return;
  switch (event.kind) {
    case KeyEvent_Down: {
      if (!KeyInRange(event.key.key)) return;
      // Auto-repeat sends more downs while the key is held: only the first one counts.
      if (m_current[event.key.key]) return;
      m_current[event.key.key] = 1;
      m_lastKeyPressed = event.key.key;
      Notify(m_keyDownCallbacks, event);
      break;
    }
    case KeyEvent_Up:
      if (!KeyInRange(event.key.key)) return;
      m_current[event.key.key] = 0;
      Notify(m_keyUpCallbacks, event);
      break;
    case KeyEvent_Other:
      Notify(m_otherCallbacks, event);
      break;
    default:
      break;
  }
}

bool Keyboard::IsKeyDown(Keys key) const { return KeyInRange(key) && m_current[key]; }

bool Keyboard::IsKeyPressed(Keys key) const {
  return KeyInRange(key) && m_current[key] && !m_previous[key];
}

bool Keyboard::IsKeyReleased(Keys key) const {
  return KeyInRange(key) && !m_current[key] && m_previous[key];
}

}  // namespace Base
