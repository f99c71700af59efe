// MIDI messages as the sound engine stores them (four bytes), the timed queue nodes that carry them
// to a playback context, and the outward calls a context makes to play, stop and drive parameters.
#pragma once

#include <cstdint>

#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Midi/MidiMessage.h"

namespace SN {

class CSnIndexedObject;
class CSnMidiEventTarget;
class CSnMidiNoteState;
struct SnMidiNoteEntry;

enum SnMidiType : uint8_t {
  SnMidi_NoteOff = 0x80,
  SnMidi_NoteOn = 0x90,
  SnMidi_KeyPressure = 0xA0,
  SnMidi_ControlChange = 0xB0,
  SnMidi_PitchBend = 0xE0,
};

enum SnMidiController : uint8_t {
  SnMidiCC_Sustain = 64,
  SnMidiCC_AllSoundOff = 120,
  SnMidiCC_ResetAllControllers = 121,
  SnMidiCC_AllNotesOff = 123,
};

// Parameter ids the controllers drive: controller n is n + 1; pitch bend has its own.
constexpr uint32_t kMidiPitchBendParameter = 131;
constexpr uint32_t kMidiLastParameter = 133;


// A timed message on its way to a context. Bits 0-29 of `word` hold a value, bit 30 flag A, bit 31
// flag B.
struct SnMidiEventNode {
  CSnMidiEventTarget* target;
  SnMidiEvent event;
  uint32_t frameOffset;
  uint32_t word;
  SnMidiEventNode* next;

  static constexpr uint32_t kFlagA = 1u << 30;
  static constexpr uint32_t kFlagB = 1u << 31;
  bool FlagA() const { return (word & kFlagA) != 0; }
  bool FlagB() const { return (word & kFlagB) != 0; }
};

struct SnMidiEventQueue {
  SnMidiEventNode* tail = nullptr;
  SnMidiEventNode* head = nullptr;
};

// What a playback context asks of the nodes, the voices, the pending actions, the callbacks and the
// game parameters. Voices and actions are the ones a note state recorded.
class ISnMidiPlayback {
 public:
  virtual ~ISnMidiPlayback() = default;
  // The node's category: busses (0) and category 12 take control changes only.
  virtual uint32_t NodeCategory(CSnIndexedObject* node) = 0;
  // True when the node does not play notes itself (its answer 11).
  virtual bool NodeDeclinesNotes(CSnIndexedObject*) { return false; }
  // Plays the target's node for the note at `frameOffset`; the voices it makes join `note`.
  virtual void PlayNote(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset,
                        CSnMidiNoteState& note) = 0;
  // At a note's end, a node the note began that plays on note-offs plays for the entry's channel and note.
  virtual void PlayNoteEntry(CSnMidiEventTarget&, const SnMidiNoteEntry&, const SnMidiEvent& /*noteOff*/,
                             uint32_t /*frameOffset*/) {}
  virtual void ExecuteNoteAction(void* action, CSnMidiEventTarget&, const SnMidiEvent&, uint32_t, CSnMidiNoteState&) {
    (void)action;
  }
  // A released voice plays its note-off at the offset; a stopped one ends at once, without a fade.
  virtual void ReleaseVoice(CSnPlaybackInstance* voice, uint32_t frameOffset) = 0;
  virtual void StopVoice(CSnPlaybackInstance* voice) = 0;
  // A note-off `frameOffset` samples into the frame: the voice ends at that sample where it can.
  virtual void StopVoiceAt(CSnPlaybackInstance* voice, uint32_t /*frameOffset*/) { StopVoice(voice); }
  virtual void PauseVoice(CSnPlaybackInstance*) {}
  virtual void ResumeVoice(CSnPlaybackInstance*) {}
  virtual void StopAction(void*, CSnMidiEventTarget&, uint32_t) {}
  virtual void PauseAction(void*, CSnMidiEventTarget&) {}
  virtual void ResumeAction(void*, CSnMidiEventTarget&) {}
  virtual void SetParameter(uint32_t parameterId, float value, const SnRTPCKey& key) = 0;
  virtual void ResetParameter(uint32_t parameterId, const SnRTPCKey& key) = 0;
  // Every scheduled event of a target posted with a playing id.
  virtual void MidiCallback(uint32_t, const SnMidiEvent&) {}
};

}  // namespace SN
