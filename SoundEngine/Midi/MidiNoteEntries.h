// The notes the sounds began, kept with the note state that began them: a node that plays at the
// note's end is played again from its entry then. Entries come from one bounded pool that keeps the
// entries it gave back for the next notes. Audio thread only.
#pragma once

#include <cstdint>

namespace SN {

class CSnIndexedObject;

// The play mode of a node whose notes sound from their note-off.
constexpr uint32_t kMidiPlayOnNoteOff = 1;

struct SnMidiNoteEntry {
  SnMidiNoteEntry* next;
  uint32_t playMode;        // the node's MIDI play mode: 1 plays at the note-off
  CSnIndexedObject* node;   // one reference, given back with the entry
  uint16_t channelAndNote;  // channel << 8 | note; 0xFFFF unset

  static constexpr uint16_t kUnset = 0xFFFF;
  uint8_t Channel() const { return uint8_t(channelAndNote >> 8); }
  uint8_t Note() const { return uint8_t(channelAndNote); }
};

class CSnMidiNoteEntryPool {
 public:
  explicit CSnMidiNoteEntryPool(uint32_t maximum) : m_maximum(maximum) {}
  CSnMidiNoteEntryPool(const CSnMidiNoteEntryPool&) = delete;
  CSnMidiNoteEntryPool& operator=(const CSnMidiNoteEntryPool&) = delete;
  ~CSnMidiNoteEntryPool() { Term(); }

  // A kept entry first, else a new one while fewer than the maximum are out; null when neither,
  // logged once until entries come back. The entry holds a reference on `node`.
  SnMidiNoteEntry* Take(uint32_t playMode, CSnIndexedObject* node, uint8_t channel, uint8_t note);
  // Releases the entry's node and keeps the entry.
  void Give(SnMidiNoteEntry* entry);
  // Frees the kept entries (before the default pool goes); entries still out are the holders' own.
  void Term();

  uint32_t Maximum() const { return m_maximum; }
  uint32_t OutCount() const { return m_out; }
  uint32_t KeptCount() const { return m_keptCount; }

 private:
  uint32_t m_maximum;
  uint32_t m_out = 0;
  SnMidiNoteEntry* m_kept = nullptr;
  uint32_t m_keptCount = 0;
  bool m_exhaustionLogged = false;
};

// The engine's pool: room for the notes of a busy keyboard and then some.
constexpr uint32_t kMaxMidiNoteEntries = 256;
CSnMidiNoteEntryPool& MidiNoteEntryPool();

}  // namespace SN
