// MIDI clip media for music tracks: ticks per quarter (big-endian), tempo (little-endian float), then
// delta-timed events, written with running status where the description asks for it.
#pragma once

#include <cstdint>
#include <vector>

namespace Tools {

struct MidiClipEvent {
  uint32_t delta = 0;          // ticks after the event before
  std::vector<uint8_t> bytes;  // the status byte and what follows it, as a file stores them
};

struct MidiClipMedia {
  uint16_t ticksPerQuarter = 480;
  float tempo = 120.0f;
  std::vector<MidiClipEvent> events;
  // A channel message repeating the status before it is written without it.
  bool runningStatus = true;
};

// The events of a note: on at `delta`, off `length` ticks later (as a note-on of velocity 0 when
// `offAsZeroVelocity`).
void AddMidiNote(MidiClipMedia& clip, uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity,
                 uint32_t length, bool offAsZeroVelocity = false);
// A system exclusive event (0xF0, its length, the data) or a meta event (0xFF, type, length, data).
MidiClipEvent MidiSysEx(uint32_t delta, const std::vector<uint8_t>& data);
MidiClipEvent MidiMeta(uint32_t delta, uint8_t type, const std::vector<uint8_t>& data);
// A variable-length quantity of up to four bytes.
void PutMidiQuantity(std::vector<uint8_t>& out, uint32_t value);
std::vector<uint8_t> WriteMidiClip(const MidiClipMedia& clip);

}  // namespace Tools
