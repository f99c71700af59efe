// One pad's readings as scripts see them: buttons, triggers, sticks, motors and connection.
#pragma once

#include <cstdint>
#include <vector>

#include "Base/Math.h"

namespace Base {

enum GamepadButton : int32_t {
  GamepadButton_A = 0,
  GamepadButton_B,
  GamepadButton_X,
  GamepadButton_Y,
  GamepadButton_DPadUp,
  GamepadButton_DPadDown,
  GamepadButton_DPadLeft,
  GamepadButton_DPadRight,
  GamepadButton_LeftShoulder,
  GamepadButton_RightShoulder,
  GamepadButton_LeftThumb,
  GamepadButton_RightThumb,
  GamepadButton_Menu,
  GamepadButton_Back,

  GamepadButton_Count,
};

struct GamepadState {
  std::vector<bool> buttonStates = std::vector<bool>(GamepadButton_Count);  // one bit per button
  float leftTrigger = 0.0f;   // 0..1
  float rightTrigger = 0.0f;  // 0..1
  Vec2 leftStick{0.0f, 0.0f};   // each axis -1..1
  Vec2 rightStick{0.0f, 0.0f};
  float leftMotor = 0.0f;   // vibration 0..1
  float rightMotor = 0.0f;
  bool connected = false;
};

}  // namespace Base
