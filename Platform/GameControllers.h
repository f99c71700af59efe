// Game controllers over SDL: up to four pads read by slot, in the ranges and button masks of the
// classic console pad the engine's gamepad device is written for.
#pragma once

#include <cstdint>
#include <string>

struct _SDL_GameController;

namespace Platform {

// Buttons as the pad masks them: pad up 0x0001, down 0x0002, left 0x0004, right 0x0008, menu
// 0x0010, back 0x0020, left thumb 0x0040, right thumb 0x0080, left shoulder 0x0100, right
// shoulder 0x0200, A 0x1000, B 0x2000, X 0x4000, Y 0x8000. Triggers 0..255; sticks -32768..32767
// with y pointing up.
struct ControllerReading {
  uint16_t buttons = 0;
  uint8_t leftTrigger = 0;
  uint8_t rightTrigger = 0;
  int16_t leftStickX = 0;
  int16_t leftStickY = 0;
  int16_t rightStickX = 0;
  int16_t rightStickY = 0;
};

class GameControllers {
 public:
  static constexpr int kSlots = 4;

  // Null, with `error` filled, when the controller subsystem cannot be had.
  static GameControllers* Open(std::string* error);
  ~GameControllers();
  GameControllers(const GameControllers&) = delete;
  GameControllers& operator=(const GameControllers&) = delete;

  // False when no pad is in that slot. Reading slot 0 first takes in pads plugged in since the
  // last read and lets go of the ones pulled out, so slots fill in plug-in order.
  bool Read(int slot, ControllerReading& reading);
  // Motor speeds 0..65535 (left the low-frequency one); they run until set again.
  void SetVibration(int slot, uint16_t left, uint16_t right);

 private:
  GameControllers() = default;
  void Refresh();

  _SDL_GameController* m_pads[kSlots] = {};
};

}  // namespace Platform
