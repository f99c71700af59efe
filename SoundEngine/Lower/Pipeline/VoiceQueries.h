// What a voice tells the plug-ins on it about its play, beside what the voice information reads of
// its placement and rays: the voice pipeline answers from its playback instance and its game object.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

struct SnSoundPosition;

class ISnVoiceQueries {
 public:
  // 0 for a voice without a game object.
  virtual uint32_t GetGameObjectId() = 0;
  // The object's positions (one when it has a single position or none, the default one).
  virtual uint32_t GetNumGameObjectPositions() = 0;
  // SN_Failure past the last.
  virtual SNRESULT GetGameObjectPosition(uint32_t index, SnSoundPosition& position) = 0;
  // Bits 0-1 the positioning mode, bit 2 set when the voice is spatialised in 3D.
  virtual uint8_t GetPositioningType() = 0;
  virtual uint32_t GetPlayingId() = 0;
  // The game object's scaling of its attenuation distances (1.0 without an object).
  virtual float GetAttenuationScaling() = 0;
  // The game object's output-bus volume as a linear factor (1.0 without an object).
  virtual float GetOutputBusVolume() = 0;
  // The voice's priority were its emitter that far from the listener.
  virtual int32_t GetPriorityAtDistance(float distance) = 0;
  // 0 continue to play, 1 kill, 2 become virtual, as the nodes above the sound decide.
  virtual uint8_t GetVoiceBehaviour() = 0;

 protected:
  ~ISnVoiceQueries() = default;
};

}  // namespace SN
