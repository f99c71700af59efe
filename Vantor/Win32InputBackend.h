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
  explicit Win32InputBackend(Base::GamepadSource* gamepads = nullptr) : gamepad_(gamepads) {}

  Base::Keyboard* GetKeyboard() override { return &keyboard_; }
  Base::Mouse* GetMouse() override { return &mouse_; }
  Base::Gamepad* GetGamepad() override { return &gamepad_; }

  // A key went down or up. Keys without an engine code are logged and dropped.
  void KeyEvent(int32_t virtualKey, bool down);
  void MouseEvent(const Base::InputEvent& event) { mouse_.OnEvent(event); }

  // Virtual-key code to Base::Keys code, or kNoKey (with a warning).
  static int32_t ConvertKeyCode(int32_t virtualKey);

 private:
  Base::Keyboard keyboard_;
  Base::Mouse mouse_;
  Base::Gamepad gamepad_;
};

}  // namespace Vantor
