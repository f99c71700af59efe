// A gamepad source driven by hand: tests plug pads in, set readings, read back vibration.
#pragma once

#include "Base/Input/GamepadSource.h"

namespace Base {

class ManualGamepadSource final : public GamepadSource {
 public:
  static constexpr int kPads = 4;

  struct Motors {
    uint16_t left = 0;
    uint16_t right = 0;
    int sends = 0;  // how many times vibration was sent to this pad
  };

  void Connect(int pad, const GamepadReading& reading = {}) {
    connected_[pad] = true;
    readings_[pad] = reading;
  }
  void Disconnect(int pad) { connected_[pad] = false; }
  GamepadReading& Reading(int pad) { return readings_[pad]; }
  const Motors& SentVibration(int pad) const { return motors_[pad]; }
  int Reads(int pad) const { return reads_[pad]; }

  bool Read(int pad, GamepadReading& reading) override {
    if (pad < 0 || pad >= kPads) return false;
    ++reads_[pad];
    if (!connected_[pad]) return false;
    reading = readings_[pad];
    return true;
  }
  void SetVibration(int pad, uint16_t left, uint16_t right) override {
    if (pad < 0 || pad >= kPads) return;
    motors_[pad] = {left, right, motors_[pad].sends + 1};
  }

 private:
  bool connected_[kPads] = {};
  GamepadReading readings_[kPads];
  Motors motors_[kPads];
  int reads_[kPads] = {};
};

}  // namespace Base
