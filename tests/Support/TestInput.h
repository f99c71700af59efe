// Test helper: an input backend of plain devices, which tests press keys on through their events.
#pragma once

#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/Mouse.h"

namespace OrvTest {

class TestInput : public Base::InputBackend {
 public:
  Base::Keyboard* GetKeyboard() override { return &keyboard; }
  Base::Mouse* GetMouse() override { return &mouse; }
  Base::Gamepad* GetGamepad() override { return &gamepad; }
  Base::Keyboard keyboard;
  Base::Mouse mouse;
  Base::Gamepad gamepad;
};

}  // namespace OrvTest
