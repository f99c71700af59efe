// The game's motion device: a player's motion output and the voices feeding motion drive the two
// motors of a game pad, both at the frame's peak times the player's volume. Registered as the motion device the motion messages
// name; the device handed over with a player is the pad, the player its slot.
#pragma once

#include <cstdint>

namespace Base {
class GamepadSource;
}

namespace Audio {

// What the rumble device drives: a pad's two motors by slot, 0..65535 each.
class IRumblePad {
 public:
  virtual ~IRumblePad() = default;
  virtual void SetVibration(int slot, uint16_t left, uint16_t right) = 0;
};

// The game's gamepads as a rumble pad: the motors of the pad source the input system reads.
class GamepadRumble final : public IRumblePad {
 public:
  explicit GamepadRumble(Base::GamepadSource* pads) : m_pads(pads) {}
  void SetVibration(int slot, uint16_t left, uint16_t right) override;

 private:
  Base::GamepadSource* m_pads;
};

// Registers the rumble device with the sound engine's motion engine (company 0, device 406).
void RegisterRumbleMotionDevice();

}  // namespace Audio
