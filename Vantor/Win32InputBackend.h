// The engine's input backend: owns keyboard, mouse and gamepad, and turns the window's key and
// mouse messages (virtual-key codes) into device events.
#pragma once

#include <cstdint>

#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/Mouse.h"

namespace Vantor {

class Win32InputBackend : public Base::InputBackend {
 public:
  // Returned by ConvertKeyCode for virtual keys the engine has no key for.
  static constexpr int32_t kNoKey = -1;

  // `gamepads` must outlive the backend; null means no pads.
  explicit Win32InputBackend(Base::GamepadSource* gamepads = nullptr) : m_gamepad(gamepads) {}

  Base::Keyboard* GetKeyboard() override { return &m_keyboard; }
  Base::Mouse* GetMouse() override { return &m_mouse; }
  Base::Gamepad* GetGamepad() override { return &m_gamepad; }

  // A key went down or up. Keys without an engine code are logged and dropped.
  void KeyEvent(int32_t virtualKey, bool down);
  void MouseEvent(const Base::InputEvent& event) { m_mouse.OnEvent(event); }

  // Virtual-key code to Base::Keys code, or kNoKey (with a warning).
  static int32_t ConvertKeyCode(int32_t virtualKey);

 private:
  Base::Keyboard m_keyboard;
  Base::Mouse m_mouse;
  Base::Gamepad m_gamepad;
};

}  // namespace Vantor
