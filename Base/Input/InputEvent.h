// The record a platform feed hands to an input device: which device, what happened, and its data.
#pragma once

#include <cstdint>

namespace Base {

struct MouseState;

enum InputDeviceType : uint32_t {
  InputDevice_Keyboard = 0,
  InputDevice_Mouse = 1,
};

enum KeyEventKind : uint32_t {
  KeyEvent_Down = 0,
  KeyEvent_Up = 1,
  KeyEvent_Other = 2,  // no feed produces it; it reaches the keyboard's third callback list
};

enum MouseEventKind : uint32_t {
  MouseEvent_Wheel = 0,
  MouseEvent_Move = 1,
  MouseEvent_RelativeMove = 2,
  MouseEvent_ButtonDown = 3,
  MouseEvent_ButtonUp = 4,
  MouseEvent_Hover = 5,
  MouseEvent_Leave = 6,
};

struct KeyEventData {
  uint32_t key;           // a Base::Keys code
  uint32_t reserved;      // always 0
  uint8_t modifiers[3];   // no feed fills them yet
};

struct MouseMoveData {
  uint16_t x, y;  // client coordinates
};

// Filled in by the mouse before its relative-move callbacks see the event.
struct MouseRelativeData {
  int16_t x, y;
  int16_t dx, dy;            // previous position minus new position
  const MouseState* mouse;   // the mouse's current state, whose first fields are x and y
};

struct MouseButtonData {
  uint16_t x, y;
  uint32_t button;  // 0 left, 1 right, 2 middle, 3 and 4 further buttons
};

struct InputEvent {
  uint32_t device;  // InputDeviceType
  uint32_t kind;    // KeyEventKind or MouseEventKind
  union {
    KeyEventData key;
    int32_t wheel;  // signed notches
    MouseMoveData move;
    MouseRelativeData relative;
    MouseButtonData button;
  };

  static InputEvent Key(KeyEventKind kind, uint32_t key) {
    InputEvent e = Make(InputDevice_Keyboard, kind);
    e.key = {key, 0, {0, 0, 0}};
    return e;
  }
  static InputEvent Wheel(int32_t notches) {
    InputEvent e = Make(InputDevice_Mouse, MouseEvent_Wheel);
    e.wheel = notches;
    return e;
  }
  static InputEvent Move(uint16_t x, uint16_t y) {
    InputEvent e = Make(InputDevice_Mouse, MouseEvent_Move);
    e.move = {x, y};
    return e;
  }
  static InputEvent RelativeMove(int16_t x, int16_t y) {
    InputEvent e = Make(InputDevice_Mouse, MouseEvent_RelativeMove);
    e.relative = {x, y, 0, 0, nullptr};
    return e;
  }
  static InputEvent Button(bool down, uint16_t x, uint16_t y, uint32_t button) {
    InputEvent e = Make(InputDevice_Mouse, down ? MouseEvent_ButtonDown : MouseEvent_ButtonUp);
    e.button = {x, y, button};
    return e;
  }
  static InputEvent Mouse(MouseEventKind kind) { return Make(InputDevice_Mouse, kind); }

 private:
  // Hover and leave carry no data; the zeroed payload keeps their bytes defined.
  static InputEvent Make(uint32_t device, uint32_t kind) {
    InputEvent e{};
    e.device = device;
    e.kind = kind;
    e.relative = {};
    return e;
  }
};

}  // namespace Base
