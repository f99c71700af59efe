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
    m_connected[pad] = true;
    m_readings[pad] = reading;
  }
  void Disconnect(int pad) { m_connected[pad] = false; }
  GamepadReading& Reading(int pad) { return m_readings[pad]; }
  const Motors& SentVibration(int pad) const { return m_motors[pad]; }
  int Reads(int pad) const { return m_reads[pad]; }

  bool Read(int pad, GamepadReading& reading) override {
    if (pad < 0 || pad >= kPads) return false;
    ++m_reads[pad];
    if (!m_connected[pad]) return false;
    reading = m_readings[pad];
    return true;
  }
  void SetVibration(int pad, uint16_t left, uint16_t right) override {
    if (pad < 0 || pad >= kPads) return;
    m_motors[pad] = {left, right, m_motors[pad].sends + 1};
  }

 private:
  bool m_connected[kPads] = {};
  GamepadReading m_readings[kPads];
  Motors m_motors[kPads];
  int m_reads[kPads] = {};
};

}  // namespace Base
