// The engine's side of the MIDI playback contexts: a note plays its target's node down the hierarchy
// to real voices that end with the note, controllers and pitch bend drive the game parameters, and
// the events reach the poster's MIDI callback. Audio thread, under the global audio lock.
#pragma once

#include "SoundEngine/Midi/MidiEvent.h"

namespace SN {

class CSnEngineMidiPlayback final : public ISnMidiPlayback {
 public:
  uint32_t NodeCategory(CSnIndexedObject* node) override;
  void PlayNote(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset,
                CSnMidiNoteState& note) override;
  void PlayNoteEntry(CSnMidiEventTarget& target, const SnMidiNoteEntry& entry, const SnMidiEvent& noteOff,
                     uint32_t frameOffset) override;
  // A voice's note-off releases its modulators (an envelope's tail); the voice itself plays on.
  void ReleaseVoice(CSnPlaybackInstance* voice, uint32_t frameOffset) override;
  void StopVoice(CSnPlaybackInstance* voice) override;
  // Sample exact: the voice plays up to the note-off's sample of this frame.
  void StopVoiceAt(CSnPlaybackInstance* voice, uint32_t frameOffset) override;
  void PauseVoice(CSnPlaybackInstance* voice) override;
  void ResumeVoice(CSnPlaybackInstance* voice) override;
  // A note's actions are the delayed plays it began, waiting with the audio manager: its end takes
  // them out, its pause holds them.
  void StopAction(void* action, CSnMidiEventTarget& target, uint32_t frameOffset) override;
  void PauseAction(void* action, CSnMidiEventTarget& target) override;
  void ResumeAction(void* action, CSnMidiEventTarget& target) override;
  void SetParameter(uint32_t parameterId, float value, const SnRTPCKey& key) override;
  void ResetParameter(uint32_t parameterId, const SnRTPCKey& key) override;
  void MidiCallback(uint32_t playingId, const SnMidiEvent& event) override;
};

// The one the engine's contexts play through.
ISnMidiPlayback& EngineMidiPlayback();

}  // namespace SN
