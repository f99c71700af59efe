// Where gamepad readings come from: the platform's pad API, nothing, or a test's hand.
#pragma once

#include <cstdint>

namespace Base {

// Raw readings in the controller's own ranges; the gamepad applies deadzones and scaling.
struct GamepadReading {
  uint16_t buttons = 0;  // button mask bits (A 0x1000, B 0x2000, X 0x4000, Y 0x8000, ...)
  uint8_t leftTrigger = 0;
  uint8_t rightTrigger = 0;
  int16_t leftStickX = 0;
  int16_t leftStickY = 0;
  int16_t rightStickX = 0;
  int16_t rightStickY = 0;
};

class GamepadSource {
 public:
  virtual ~GamepadSource() = default;
  // False when no pad is connected in that slot (0..3).
  virtual bool Read(int pad, GamepadReading& reading) = 0;
  // Motor speeds 0..65535.
  virtual void SetVibration(int pad, uint16_t left, uint16_t right) = 0;
};

// For machines without pads: nothing is ever connected and vibration goes nowhere.
class NullGamepadSource final : public GamepadSource {
 public:
  bool Read(int, GamepadReading&) override { return false; }
  void SetVibration(int, uint16_t, uint16_t) override {}
};

}  // namespace Base
