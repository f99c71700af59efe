// Writes MIDI clip media byte for byte: running status drops a repeated channel status; system
// exclusive and meta events keep their own and leave the running one as it was.
#include "tools/SoundBank/MidiClipWriter.h"

#include <cstring>

namespace Tools {

void PutMidiQuantity(std::vector<uint8_t>& out, uint32_t value) {
  value &= 0x0FFFFFFFu;
  uint8_t groups[4];
  int count = 0;
  do {
    groups[count++] = uint8_t(value & 0x7F);
    value >>= 7;
  } while (value && count < 4);
  while (count-- > 0) out.push_back(uint8_t(groups[count] | (count ? 0x80 : 0)));
}

void AddMidiNote(MidiClipMedia& clip, uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity,
                 uint32_t length, bool offAsZeroVelocity) {
  const uint8_t on = uint8_t(0x90 | (channel & 0x0F));
  clip.events.push_back({delta, {on, note, velocity}});
  if (offAsZeroVelocity)
    clip.events.push_back({length, {on, note, 0}});
  else
    clip.events.push_back({length, {uint8_t(0x80 | (channel & 0x0F)), note, 64}});
}

MidiClipEvent MidiSysEx(uint32_t delta, const std::vector<uint8_t>& data) {
  MidiClipEvent event{delta, {0xF0}};
  PutMidiQuantity(event.bytes, uint32_t(data.size()));
  event.bytes.insert(event.bytes.end(), data.begin(), data.end());
  return event;
}

MidiClipEvent MidiMeta(uint32_t delta, uint8_t type, const std::vector<uint8_t>& data) {
  MidiClipEvent event{delta, {0xFF, type}};
  PutMidiQuantity(event.bytes, uint32_t(data.size()));
  event.bytes.insert(event.bytes.end(), data.begin(), data.end());
  return event;
}

std::vector<uint8_t> WriteMidiClip(const MidiClipMedia& clip) {
  std::vector<uint8_t> out(6);
  out[0] = uint8_t(clip.ticksPerQuarter >> 8);
  out[1] = uint8_t(clip.ticksPerQuarter & 0xFF);
  memcpy(out.data() + 2, &clip.tempo, sizeof clip.tempo);
  uint8_t running = 0;
  for (const MidiClipEvent& event : clip.events) {
    PutMidiQuantity(out, event.delta);
    if (event.bytes.empty()) continue;
    const uint8_t status = event.bytes[0];
    const bool channel = status >= 0x80 && status < 0xF0;
    const size_t from = clip.runningStatus && channel && status == running ? 1 : 0;
    if (channel) running = status;
    out.insert(out.end(), event.bytes.begin() + long(from), event.bytes.end());
  }
  return out;
}

}  // namespace Tools
