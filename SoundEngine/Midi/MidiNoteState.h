// What one sounding note set going: its voices and its actions, so that its note-off reaches them.
// Reference counted by the note's events and by its voices.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Midi/MidiEvent.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"

namespace SN {

class CSnMidiNoteState {
 public:
  // How the voice answers the note's end.
  enum VoiceKind : uint8_t { Voice_Release = 2, Voice_Stop = 3 };
  struct Voice {
    CSnPlaybackInstance* voice;
    uint32_t stopOffset;  // where the note-off reached it
    uint8_t kind;
    bool ignoresNoteOff;  // its node plays on past the note's end
  };

  CSnMidiNoteState(const SnMidiEvent& noteOn, uint32_t targetId);
  CSnMidiNoteState(const CSnMidiNoteState&) = delete;
  CSnMidiNoteState& operator=(const CSnMidiNoteState&) = delete;
  // From the default pool with one reference; null without memory.
  static CSnMidiNoteState* Create(const SnMidiEvent& noteOn, uint32_t targetId);

  void AddRef() { ++m_refCount; }
  void Release();

  // The voice pipeline adds a voice as the note plays and removes it when the voice ends.
  bool AddVoice(CSnPlaybackInstance* voice, VoiceKind kind, bool ignoresNoteOff = false);
  void RemoveVoice(CSnPlaybackInstance* voice);
  bool AddAction(void* action);
  void RemoveAction(void* action);

  // A sound the note began keeps its entry here; the entries go back to their pool with the state.
  void AddEntry(SnMidiNoteEntry* entry);
  const SnMidiNoteEntry* Entries() const { return m_entries; }

  const SnMidiEvent& NoteOn() const { return m_noteOn; }
  uint32_t TargetId() const { return m_targetId; }
  SnInlineArray<Voice, 4>& Voices() { return m_voices; }
  SnInlineArray<void*, 4>& Actions() { return m_actions; }
  bool Silent() const { return m_voices.Count() == 0 && m_actions.Count() == 0; }

 private:
  ~CSnMidiNoteState();

  uint32_t m_refCount = 1;
  SnMidiEvent m_noteOn;
  uint32_t m_targetId;
  // Four slots in place, as most notes have few voices; they grow past that.
  SnInlineArray<Voice, 4> m_voices;
  SnInlineArray<void*, 4> m_actions;
  SnMidiNoteEntry* m_entries = nullptr;
};

}  // namespace SN
