// Gamepad device: turns raw pad readings into scaled states and keeps the previous frame's.
#include "Base/Input/Gamepad.h"

#include <algorithm>

#include "Base/Log.h"

namespace Base {

namespace {

// Controller button mask of each GamepadButton, in button order.
constexpr uint16_t kButtonMasks[GamepadButton_Count] = {
    0x1000, 0x2000, 0x4000, 0x8000,  // A B X Y
    0x0001, 0x0002, 0x0004, 0x0008,  // pad up, down, left, right
    0x0100, 0x0200,                  // shoulders
    0x0040, 0x0080,                  // thumbs
    0x0010, 0x0020,                  // menu, back
};

GamepadSource* NoPads() {
  static NullGamepadSource none;
  return &none;
}

bool PadInRange(int pad) {
  if (pad >= 0 && pad < Gamepad::kPadCount) return true;
  BASE_LOG(Warning, "Gamepad index %d is out of range (0..%d)", pad, Gamepad::kPadCount - 1);
  return false;
}

bool ButtonInRange(GamepadButton button) {
  if (button >= 0 && button < GamepadButton_Count) return true;
  BASE_LOG(Warning, "Gamepad button %d is out of range (0..%d)", int(button), GamepadButton_Count - 1);
  return false;
}

bool Bit(const GamepadState& state, GamepadButton button) {
  return size_t(button) < state.buttonStates.size() && state.buttonStates[button];
}

float Trigger(uint8_t raw) {
  return raw > Gamepad::kTriggerThreshold ? std::clamp(raw / 255.0f, 0.0f, 1.0f) : 0.0f;
}

float Axis(int16_t raw, int deadzone) {
  if (raw >= -deadzone && raw <= deadzone) return 0.0f;
  return std::clamp(raw / 32767.0f, -1.0f, 1.0f);
}

// Motor value 0..1 as a motor speed; anything else a script stored is clamped, never overflowed.
uint16_t MotorSpeed(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return 65535;
  return static_cast<uint16_t>(value * 65535.0f);
}

void ClearButtonsAndSticks(GamepadState& state) {
  state.buttonStates.assign(GamepadButton_Count, false);
  state.leftStick = Vec2{0.0f, 0.0f};
  state.rightStick = Vec2{0.0f, 0.0f};
}

}  // namespace

Gamepad::Gamepad(GamepadSource* source) : m_source(source ? source : NoPads()) { Reset(); }

void Gamepad::Poll() {
  for (int pad = 0; pad < kPadCount; ++pad) {
    m_previous[pad] = m_current[pad];
    GamepadState& state = m_current[pad];
    GamepadReading reading;
    if (!m_source->Read(pad, reading)) {
      // Only on the way out: a pad that was never there keeps what scripts set with SetState.
      if (state.connected) {
        ClearButtonsAndSticks(state);
        state.leftTrigger = 0.0f;
        state.rightTrigger = 0.0f;
        state.connected = false;
      }
      continue;
    }
    state.connected = true;
    state.buttonStates.resize(GamepadButton_Count);
    for (int b = 0; b < GamepadButton_Count; ++b)
      state.buttonStates[b] = (kButtonMasks[b] & reading.buttons) != 0;
    state.leftTrigger = Trigger(reading.leftTrigger);
    state.rightTrigger = Trigger(reading.rightTrigger);
    state.leftStick = Vec2{Axis(reading.leftStickX, kLeftStickDeadzone),
                           Axis(reading.leftStickY, kLeftStickDeadzone)};
    state.rightStick = Vec2{Axis(reading.rightStickX, kRightStickDeadzone),
                            Axis(reading.rightStickY, kRightStickDeadzone)};
  }
}

void Gamepad::Reset() {
  for (int pad = 0; pad < kPadCount; ++pad) {
    ClearButtonsAndSticks(m_current[pad]);
    ClearButtonsAndSticks(m_previous[pad]);
  }
  for (int pad = 0; pad < kPadCount; ++pad) m_source->SetVibration(pad, 0, 0);
}

void Gamepad::ApplyVibration(int pad, float left, float right) {
  if (!PadInRange(pad)) return;
  GamepadState& state = m_current[pad];
  if (left > 0.0f) state.leftMotor = std::min(left, 1.0f);
  if (right > 0.0f) state.rightMotor = std::min(right, 1.0f);
  m_source->SetVibration(pad, MotorSpeed(state.leftMotor), MotorSpeed(state.rightMotor));
}

bool Gamepad::IsConnected(int pad) const { return PadInRange(pad) && m_previous[pad].connected; }

bool Gamepad::IsButtonDown(int pad, GamepadButton button) const {
  return PadInRange(pad) && ButtonInRange(button) && Bit(m_current[pad], button);
}

bool Gamepad::IsButtonPressed(int pad, GamepadButton button) const {
  return PadInRange(pad) && ButtonInRange(button) && Bit(m_current[pad], button) &&
         !Bit(m_previous[pad], button);
}

bool Gamepad::IsButtonReleased(int pad, GamepadButton button) const {
  return PadInRange(pad) && ButtonInRange(button) && !Bit(m_current[pad], button) &&
         Bit(m_previous[pad], button);
}

Vec2 Gamepad::LeftStick(int pad) const {
  return PadInRange(pad) ? m_current[pad].leftStick : Vec2{0.0f, 0.0f};
}

Vec2 Gamepad::RightStick(int pad) const {
  return PadInRange(pad) ? m_current[pad].rightStick : Vec2{0.0f, 0.0f};
}

float Gamepad::LeftTrigger(int pad) const {
  return PadInRange(pad) ? m_current[pad].leftTrigger : 0.0f;
}

float Gamepad::RightTrigger(int pad) const {
  return PadInRange(pad) ? m_current[pad].rightTrigger : 0.0f;
}

Vec2 Gamepad::GetVibration(int pad) const {
  if (!PadInRange(pad)) return Vec2{0.0f, 0.0f};
  return Vec2{m_current[pad].leftMotor, m_current[pad].rightMotor};
}

void Gamepad::SetVibration(int pad, Vec2 motors) { ApplyVibration(pad, motors.x, motors.y); }

GamepadState Gamepad::GetState(int pad) const {
  return PadInRange(pad) ? m_current[pad] : GamepadState{};
}

void Gamepad::SetState(int pad, const GamepadState& state) {
  if (!PadInRange(pad)) return;
  const bool connected = m_current[pad].connected;
  m_current[pad] = state;
  m_current[pad].connected = connected;
  // A script's table may carry any number of button bits; keep exactly one per button.
  m_current[pad].buttonStates.resize(GamepadButton_Count);
}

}  // namespace Base
