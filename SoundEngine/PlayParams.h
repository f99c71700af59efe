// The play-parameters record a play request carries down the hierarchy to the voice manager: who
// plays, with what MIDI event, from which frame, continuing what, and with which transition.
#pragma once

#include <cstdint>

#include "SoundEngine/GameSyncs/ValueChange.h"
#include "SoundEngine/Midi/MidiMessage.h"

namespace SN {

class CSnRegisteredObj;
class CSnPlaybackInstance;
class CSnMidiNoteState;


struct CSnPlayParams {
  static constexpr uint8_t kFlagDelayed = 0x01;      // a delayed play coming back: proceeds at once
  static constexpr uint8_t kFlagFirstPlay = 0x02;
  static constexpr uint8_t kFlagModulators = 0x04;   // passed to the modulators
  static constexpr uint8_t kFlagPaused = 0x08;
  static constexpr uint8_t kFlagMotion = 0x10;       // a motion source's play: its voices drive motion devices

  CSnPlayParams() = default;

  // The MIDI target of an event, 0 when the record carries none.
  uint32_t GetMidiTargetID() const { return midiEvent.status ? midiTargetId : 0; }
  bool IsDelayed() const { return flags & kFlagDelayed; }
  // Continues an existing playback instance (a play-list or cross-fade going on).
  bool ContinuesInstance() const { return originContext != nullptr; }

  void* parentContext = nullptr;     // non-null: the play comes from a parent context
  void* instanceCreator = nullptr;
  CSnRegisteredObj* gameObject = nullptr;
  uint32_t playWord = 0;
  void* externalSources = nullptr;
  uint32_t playingId = 0;
  uint32_t playMode = 0;             // 1: from the beginning
  uint32_t modulatorContext = 0;
  SnMidiEvent midiEvent;
  uint32_t midiTargetId = 0;
  uint8_t flags = kFlagFirstPlay;
  int32_t frameOffset = 0;           // samples
  void* continuousPlaylist = nullptr;
  CSnPlaybackInstance* originContext = nullptr;
  TransParamsBase transition;
  // The sounding note a MIDI play belongs to: its voices and note entries join it. Null otherwise.
  CSnMidiNoteState* midiNote = nullptr;
};

}  // namespace SN
