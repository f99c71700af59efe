// Gamepad device: up to four pads polled once per frame, with deadzones, triggers and vibration.
#pragma once

#include "Base/Input/GamepadSource.h"
#include "Base/Input/GamepadState.h"
#include "Base/Input/InputDevice.h"

namespace Base {

class Gamepad : public InputDevice {
 public:
  static constexpr int kPadCount = 4;
  // Raw stick values within these limits read as 0 (sticks rest slightly off centre).
  static constexpr int kLeftStickDeadzone = 7849;
  static constexpr int kRightStickDeadzone = 8689;
  static constexpr int kTriggerThreshold = 30;

  // `source` must outlive the gamepad; null means a machine without pads.
  explicit Gamepad(GamepadSource* source = nullptr);

  void Update() override { Poll(); }
  void OnEvent(const InputEvent&) override {}  // pads are polled, never fed events

  void Poll();
  // Clears buttons and sticks of every state and stops every pad's motors.
  void Reset();
  // A value above 0 (clamped to 1) replaces the stored motor value; 0 or below keeps it.
  void ApplyVibration(int pad, float left, float right);

  // Script accessors. Pads outside 0..3 and buttons outside 0..13 are warned about and read as
  // false, zero or an empty state; writes to them are ignored.
  bool IsConnected(int pad) const;  // as of the previous poll
  bool IsButtonDown(int pad, GamepadButton button) const;
  bool IsButtonPressed(int pad, GamepadButton button) const;
  bool IsButtonReleased(int pad, GamepadButton button) const;
  Vec2 LeftStick(int pad) const;
  Vec2 RightStick(int pad) const;
  float LeftTrigger(int pad) const;
  float RightTrigger(int pad) const;
  Vec2 GetVibration(int pad) const;  // (left, right)
  void SetVibration(int pad, Vec2 motors);
  GamepadState GetState(int pad) const;
  // Replaces the current state but keeps its connected flag.
  void SetState(int pad, const GamepadState& state);
  // Where readings come from and motor speeds go; never null.
  GamepadSource* Source() const { return m_source; }

 private:
  GamepadState m_current[kPadCount];
  GamepadState m_previous[kPadCount];
  GamepadSource* m_source;
};

}  // namespace Base
