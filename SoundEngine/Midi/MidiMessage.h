// One MIDI message as the sound engine stores it everywhere (four bytes): what a play request
// carries down the hierarchy and what the playback contexts schedule.
#pragma once

#include <cstdint>

namespace SN {

struct SnMidiEvent {
  // Each byte has two names: its wire role, as the playback contexts and the clip readers name it,
  // and its note role, as plays and the hierarchy name it.
  union {
    uint8_t type = 0;  // the message type; below 0x80: none
    uint8_t status;
  };
  uint8_t channel = 0xFF;  // 0-15
  union {
    uint8_t data1 = 0xFF;  // the note, or the controller of a control change
    uint8_t note;
  };
  union {
    uint8_t data2 = 0xFF;  // the velocity, or the controller's value
    uint8_t velocity;
  };

  static constexpr uint8_t kNoteOff = 0x80;
  static constexpr uint8_t kNoteOn = 0x90;
  static constexpr uint8_t kAftertouch = 0xA0;
  static constexpr uint8_t kControlChange = 0xB0;

  // The velocity reads as a signed byte: only 1-127 begins a note, and a note-on of velocity 0 (or a
  // negative one) is a note-off everywhere.
  bool IsNoteOn() const { return status == kNoteOn && int8_t(velocity) > 0; }
  bool IsNoteOff() const { return status == kNoteOff || (status == kNoteOn && int8_t(velocity) <= 0); }
  bool IsNote() const { return status == kNoteOn || status == kNoteOff; }
  // The events that name a note (others match any note).
  bool CarriesNote() const { return status == kNoteOff || status == kNoteOn || status == kAftertouch; }
  bool IsControlChange(uint8_t controller) const { return status == kControlChange && note == controller; }
};
static_assert(sizeof(SnMidiEvent) == 4, "MIDI events are stored as four bytes");

}  // namespace SN
