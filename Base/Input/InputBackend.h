// The set of input devices a platform provides: one keyboard, one mouse and the gamepads.
#pragma once

namespace Base {

class Keyboard;
class Mouse;
class Gamepad;

class InputBackend {
 public:
  virtual ~InputBackend() = default;
  virtual Keyboard* GetKeyboard() = 0;
  virtual Mouse* GetMouse() = 0;
  virtual Gamepad* GetGamepad() = 0;
};

}  // namespace Base
