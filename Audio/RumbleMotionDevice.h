// The game's motion device: a player's motion output and the voices feeding motion drive the two
// motors of a game pad, both at the frame's peak times the player's volume. Registered as the motion
// device the motion messages name; the device handed over with a player is the pad, the player its slot.
#pragma once

#include <atomic>
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

// The game's gamepads as a rumble pad. The device sets speeds on the audio thread; the pads are
// touched only by the thread that reads them (the frame step), which hands the latest speeds on.
class GamepadRumble final : public IRumblePad {
 public:
  static constexpr int kSlots = 4;

  // The pad thread's, before the device is added.
  void SetPads(Base::GamepadSource* pads) { m_pads = pads; }
  // Any thread: kept until Apply. A slot outside 0..3 is ignored.
  void SetVibration(int slot, uint16_t left, uint16_t right) override;
  // The pads' thread: each slot's speeds set since the last call reach the pads.
  void Apply();

 private:
  Base::GamepadSource* m_pads = nullptr;
  std::atomic<uint32_t> m_speeds[kSlots] = {};  // left << 16 | right
  std::atomic<uint32_t> m_changed{0};            // one bit per slot
};

// Registers the rumble device with the sound engine's motion engine (company 0, device 406).
void RegisterRumbleMotionDevice();

}  // namespace Audio
