// Reads a music MIDI clip's media: ticks per quarter, tempo, then delta-timed MIDI events, turned
// into the channel messages of each time window as the clip plays, looping when asked. Audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

// One channel message of a window, timed from the window's beginning. Plain bytes: the clip's
// readers need not see the MIDI target's records.
struct SnMidiClipMessage {
  uint8_t type;  // the status's upper half; a note-on of velocity 0 is a note-off (0x80)
  uint8_t channel;
  uint8_t data1;
  uint8_t data2;
  float timeMs;
  uint32_t eventIndex;  // the event's place in the clip, counted from its first
};

class SnMidiClipParser {
 public:
  static constexpr uint32_t kHeaderBytes = 6;
  // A variable-length quantity has at most this many bytes.
  static constexpr uint32_t kMaxQuantityBytes = 4;
  // What one window may cost the audio thread, far above any clip meant to be heard: the channel
  // messages it gives, and the events it walks. Past either the rest of the window is dropped, with
  // one warning for the clip; events a cut walk leaves behind are dropped by the windows after.
  static constexpr uint32_t kMaxMessagesPerWindow = 512;
  static constexpr uint32_t kMaxEventsPerWindow = 8192;
  // A looping pass shorter than this would repeat many times in one frame: the clip plays once.
  static constexpr double kMinLoopMs = 1.0;

  SnMidiClipParser() = default;
  SnMidiClipParser(const SnMidiClipParser&) = delete;
  SnMidiClipParser& operator=(const SnMidiClipParser&) = delete;
  ~SnMidiClipParser() { m_messages.Term(); }

  // Reads the header and the first event; SN_Failure (and the data forgotten) for no data, no ticks
  // per quarter, a tempo not finite or not above 0, or no readable first event. The bytes stay the
  // caller's and must outlive the parser's use of them.
  SNRESULT Open(const uint8_t* data, uint32_t size);
  // A bpm of 0, not finite or below keeps the tempo.
  void SetTempo(float bpm);
  void SetLooping(bool loops);
  // Skips the events before `ms`; SN_Failure without events.
  SNRESULT SeekMs(double ms);
  // The channel messages of the next `ms`, in `Messages()` until the next call.
  void Advance(double ms);
  const SnArray<SnMidiClipMessage>& Messages() const { return m_messages; }
  // Back to the first event, at the clip's start.
  void Rewind();
  // The last control change of each channel and controller among the clip's events before
  // `eventIndex` (one pass, from its start), in `out` in the order they were first set; the parser
  // is left where it was. A clip that plays again brings its controllers up to date with them.
  void ControllersBefore(uint32_t eventIndex, SnArray<SnMidiClipMessage>& out);

  struct State {
    uint32_t position;   // where the current event begins
    uint32_t next;       // where the event after it begins
    uint32_t delta;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    uint8_t runningStatus;
    uint64_t tick;        // the current event's
    uint64_t passStart;   // the tick of the first event of this pass
    uint64_t windowEnd;   // whole ticks; with `fraction` the window's exact end
    uint32_t eventIndex;
    double fraction;
    bool hasEvent;
  };
  State SaveState() const { return m_state; }
  void RestoreState(const State& state) { m_state = state; }

  bool IsOpen() const { return m_data != nullptr; }
  // The same bytes, now found at `data` (another copy of the media): reading goes on there.
  void Rebase(const uint8_t* data) {
    if (m_data && data) m_data = data;
  }
  // Reads nothing more: the bytes may go. Nothing is left to come.
  void Close() { Forget(); }
  bool HasEvent() const { return m_state.hasEvent; }
  uint16_t TicksPerQuarter() const { return m_ticksPerQuarter; }
  float Tempo() const { return m_tempo; }
  double MsPerTick() const { return m_msPerTick; }
  double TicksPerMs() const { return m_ticksPerMs; }
  uint64_t CurrentTick() const { return m_state.tick; }
  const State& Current() const { return m_state; }

 private:
  // Reads the event at `position` into `state` (its delta not yet added); false at the end of the
  // data, past it, or at bytes that are no event. The walks pass a state of their own, which the
  // compiler keeps in registers through a window's events.
  bool ReadEvent(State& state, uint32_t position) const;
  // Steps `state` to the event after its current one, going round when looping; false when none is
  // left.
  bool StepEvent(State& state);
  void ComputeRates();
  // The current event lies before the exact tick `whole` + `fraction`.
  bool Before(uint64_t whole, double fraction) const {
    return m_state.tick < whole || (m_state.tick == whole && fraction > 0.0);
  }
  void Forget();
  // Logs, once for the clip, that a window had more than `limit` of `what`.
  void WarnCrowded(uint32_t limit, const char* what);

  const uint8_t* m_data = nullptr;
  uint32_t m_size = 0;
  uint16_t m_ticksPerQuarter = 0;
  float m_tempo = 0.0f;
  double m_msPerTick = 0.0;
  double m_ticksPerMs = 0.0;
  State m_state{};
  bool m_loops = false;
  bool m_warnedCrowded = false;
  SnArray<SnMidiClipMessage> m_messages;
};

}  // namespace SN
