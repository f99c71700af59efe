// The MIDI clip reader: a bounded walk over delta-timed events with running status, skipping system
// exclusive and meta events, and windows of ticks that turn the channel messages into timed records.
#include "MusicEngine/MusicMidiClipParser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SoundEngine/Log.h"
#include "SoundEngine/Midi/MidiEvent.h"

namespace SN {

namespace {

// Passes of a looping clip a single window plays out before skipping the rest of it whole: a tiny
// loop at a high tempo would otherwise repeat its events millions of times a frame.
constexpr uint64_t kPassesPerWindow = 64;
// Ticks beyond this are no position a clip reaches; seeks and windows stop there.
constexpr double kMaxTicks = 4.0e18;

// Reads a quantity from the bytes up to `end`; null when it runs past them or is longer than a
// quantity may be.
[[gnu::always_inline]] inline const uint8_t* ReadQuantity(const uint8_t* at, const uint8_t* end, uint32_t& value) {
  value = 0;
  for (uint32_t i = 0; i < SnMidiClipParser::kMaxQuantityBytes; ++i) {
    if (at == end) return nullptr;
    const uint8_t byte = *at++;
    value = (value << 7) | (byte & 0x7Fu);
    if (!(byte & 0x80)) return at;
  }
  return nullptr;
}

bool HasOneDataByte(uint8_t status) { return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0; }

bool IsChannelMessage(uint8_t status) { return status >= 0x80 && status < 0xF0; }

}  // namespace

SNRESULT SnMidiClipParser::Open(const uint8_t* data, uint32_t size) {
  Forget();
  if (!data || size < kHeaderBytes) {
    SOUND_LOG(Error, "MIDI clip of %u bytes has no header", data ? size : 0);
    return SN_Failure;
  }
  const uint16_t ticksPerQuarter = uint16_t((data[0] << 8) | data[1]);
  float tempo;
  memcpy(&tempo, data + 2, sizeof tempo);
  if (ticksPerQuarter == 0 || !std::isfinite(tempo) || tempo <= 0.0f) {
    SOUND_LOG(Error, "MIDI clip: %u ticks per quarter at %g bpm", ticksPerQuarter, double(tempo));
    return SN_Failure;
  }
  m_data = data;
  m_size = size;
  m_ticksPerQuarter = ticksPerQuarter;
  m_tempo = tempo;
  ComputeRates();
  Rewind();
  if (!m_state.hasEvent) {
    SOUND_LOG(Error, "MIDI clip has no readable first event");
    Forget();
    return SN_Failure;
  }
  return SN_Success;
}

void SnMidiClipParser::Forget() {
  m_data = nullptr;
  m_size = 0;
  m_ticksPerQuarter = 0;
  m_tempo = 0.0f;
  m_msPerTick = m_ticksPerMs = 0.0;
  m_state = State{};
  m_warnedCrowded = false;
}

void SnMidiClipParser::ComputeRates() {
  m_msPerTick = 60000.0 / (double(m_ticksPerQuarter) * double(m_tempo));
  m_ticksPerMs = double(m_tempo) * double(m_ticksPerQuarter) / 60000.0;
}

void SnMidiClipParser::SetTempo(float bpm) {
  // A tempo is divided by: none that is 0, negative or not a number.
  if (!std::isfinite(bpm) || bpm <= 0.0f) return;
  m_tempo = bpm;
  if (m_ticksPerQuarter) ComputeRates();
}

void SnMidiClipParser::SetLooping(bool loops) { m_loops = loops; }

// Every byte is checked against the end of the data as a bounded cursor would, on a bare pointer:
// the walk reads a few bytes an event, and a cursor's own bookkeeping there cost a tenth of a frame's
// reading.
[[gnu::always_inline]] inline bool SnMidiClipParser::ReadEvent(State& state, uint32_t position) const {
  if (position >= m_size) return false;
  const uint8_t* at = m_data + position;
  const uint8_t* const end = m_data + m_size;
  uint32_t delta;
  if (!(at = ReadQuantity(at, end, delta)) || at == end) return false;
  uint8_t status = *at++;
  uint8_t running = state.runningStatus;
  uint8_t data1 = 0, data2 = 0;
  if (status < 0x80) {
    // A data byte where a status belongs repeats the last channel status; before any there is none.
    if (!IsChannelMessage(running)) return false;
    data1 = status;
    status = running;
    if (!HasOneDataByte(status)) {
      if (at == end) return false;
      data2 = *at++;
    }
  } else if (IsChannelMessage(status)) {
    running = status;
    const uint32_t size = HasOneDataByte(status) ? 1 : 2;
    if (uint32_t(end - at) < size) return false;
    data1 = at[0];
    if (size == 2) data2 = at[1];
    at += size;
  } else if (status == 0xF0 || status == 0xF7 || status == 0xFF) {
    if (status == 0xFF) {  // the meta event's type
      if (at == end) return false;
      ++at;
    }
    uint32_t length;
    if (!(at = ReadQuantity(at, end, length)) || uint32_t(end - at) < length) return false;
    at += length;
  } else {
    return false;
  }
  state.position = position;
  state.next = uint32_t(at - m_data);
  state.delta = delta;
  state.status = status;
  state.data1 = uint8_t(data1 & 0x7F);
  state.data2 = uint8_t(data2 & 0x7F);
  state.runningStatus = running;
  return true;
}

void SnMidiClipParser::Rewind() {
  m_state = State{};
  if (!m_data || !ReadEvent(m_state, kHeaderBytes)) return;
  m_state.hasEvent = true;
  m_state.tick = m_state.passStart = m_state.delta;
}

[[gnu::always_inline]] inline bool SnMidiClipParser::StepEvent(State& state) {
  if (ReadEvent(state, state.next)) [[likely]] {
    state.tick += state.delta;
    ++state.eventIndex;
    return true;
  }
  // Bytes that are no event end the events; only the end of the data goes round.
  if (state.next != m_size || !m_loops) {
    state.hasEvent = false;
    return false;
  }
  const uint64_t last = state.tick;
  const uint64_t passStart = state.passStart;
  state.runningStatus = 0;
  if (!ReadEvent(state, kHeaderBytes)) {
    state.hasEvent = false;
    return false;
  }
  const uint64_t first = last + state.delta;
  const double passMs = double(first - passStart) * m_msPerTick;
  if (passMs < kMinLoopMs) {
    // A pass that takes no time would go round for ever, one of a few ticks thousands of times a
    // frame: the clip plays once.
    SOUND_LOG(Error, "MIDI clip loops every %g ms, under %g ms: it plays once", passMs, kMinLoopMs);
    m_loops = false;
    state.hasEvent = false;
    return false;
  }
  state.tick = state.passStart = first;
  state.eventIndex = 0;
  return true;
}

void SnMidiClipParser::ControllersBefore(uint32_t eventIndex, SnArray<SnMidiClipMessage>& out) {
  out.Clear();
  if (!m_data) return;
  const State saved = m_state;
  const bool loops = m_loops;
  m_loops = false;
  // Where each channel's controller sits in `out`, plus one; 0: not yet set.
  uint16_t slots[16][128] = {};
  for (Rewind(); m_state.hasEvent && m_state.eventIndex < eventIndex; StepEvent(m_state)) {
    if ((m_state.status & 0xF0) != SnMidi_ControlChange) continue;
    const SnMidiClipMessage message{SnMidi_ControlChange, uint8_t(m_state.status & 0x0F), m_state.data1, m_state.data2,
                                    0.0f, m_state.eventIndex};
    uint16_t& slot = slots[message.channel][message.data1];
    if (slot) {
      out[slot - 1u] = message;
    } else if (out.Add(message, 16)) {
      slot = uint16_t(out.Count());
    }
  }
  m_state = saved;
  m_loops = loops;
}

SNRESULT SnMidiClipParser::SeekMs(double ms) {
  if (!m_data) return SN_Failure;
  Rewind();
  if (!m_state.hasEvent) return SN_Failure;
  double target = std::isfinite(ms) && ms > 0.0 ? ms * m_ticksPerMs : 0.0;
  if (target > kMaxTicks) target = kMaxTicks;
  const uint64_t whole = uint64_t(target);
  const double fraction = target - double(whole);
  while (m_state.hasEvent && Before(whole, fraction)) {
    const uint64_t passStart = m_state.passStart;
    if (!StepEvent(m_state)) break;
    if (m_state.passStart == passStart) continue;
    // Every pass is the same: go on from the last one before the target.
    const uint64_t length = m_state.passStart - passStart;
    if (m_state.tick < whole) {
      const uint64_t skip = (whole - m_state.tick) / length * length;
      m_state.tick += skip;
      m_state.passStart += skip;
    }
  }
  m_state.windowEnd = whole;
  m_state.fraction = fraction;
  // A begin past the last event of a clip that does not loop leaves nothing to play.
  return m_state.hasEvent ? SN_Success : SN_Failure;
}

void SnMidiClipParser::WarnCrowded(uint32_t limit, const char* what) {
  if (m_warnedCrowded) return;
  m_warnedCrowded = true;
  SOUND_LOG(Warning, "MIDI clip has more than %u %s in a frame: the rest are dropped", limit, what);
}

void SnMidiClipParser::Advance(double ms) {
  m_messages.Clear();
  if (!m_data || !std::isfinite(ms) || ms <= 0.0) return;
  // The walk runs on a copy kept in registers; records written through memory cannot touch it.
  State state = m_state;
  double ticks = m_ticksPerMs * ms + state.fraction;
  if (ticks > kMaxTicks) ticks = kMaxTicks;
  const uint64_t whole = uint64_t(ticks);
  // Messages are timed from the window's exact beginning, fraction of a tick included: timing them
  // from its whole tick would move each up to a tick early.
  const double beginWhole = double(state.windowEnd);
  const double beginFraction = state.fraction;
  // The first tick of this window: an event before it was left behind by a cut walk.
  const uint64_t begin = state.windowEnd + (state.fraction > 0.0 ? 1 : 0);
  state.fraction = ticks - double(whole);
  state.windowEnd += whole;
  // An event on the window's last whole tick lies inside it when a fraction of a tick follows.
  const uint64_t end = state.windowEnd + (state.fraction > 0.0 ? 1 : 0);
  const double msPerTick = m_msPerTick;
  uint32_t walked = 0;
  while (state.hasEvent && state.tick < end) {
    if (walked++ == kMaxEventsPerWindow) [[unlikely]] {
      WarnCrowded(kMaxEventsPerWindow, "events");
      break;
    }
    if (IsChannelMessage(state.status) && state.tick >= begin) [[likely]] {
      uint8_t type = uint8_t(state.status & 0xF0);
      if (type == SnMidi_NoteOn && state.data2 == 0) type = SnMidi_NoteOff;
      const double sinceBegin = double(state.tick) - beginWhole - beginFraction;
      const float timeMs = float(std::max(0.0, sinceBegin) * msPerTick);
      const SnMidiClipMessage message{type,        uint8_t(state.status & 0x0F), state.data1, state.data2, timeMs,
                                      state.eventIndex};
      // A record that cannot be had is one message lost, not the clip.
      if (m_messages.Count() < kMaxMessagesPerWindow) [[likely]]
        m_messages.Add(message, 16);
      else
        WarnCrowded(kMaxMessagesPerWindow, "messages");
    }
    const uint64_t passStart = state.passStart;
    if (!StepEvent(state) || state.passStart == passStart) [[likely]] continue;
    const uint64_t length = state.passStart - passStart;
    const uint64_t passes = state.tick < state.windowEnd ? (state.windowEnd - state.tick) / length : 0;
    if (passes > kPassesPerWindow) {
      const uint64_t skip = (passes - kPassesPerWindow) * length;
      state.tick += skip;
      state.passStart += skip;
    }
  }
  m_state = state;
}

}  // namespace SN
