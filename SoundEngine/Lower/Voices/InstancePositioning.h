// The positioning of a playback instance: the record it takes from its sound's settings before it
// plays (attenuation, path, flags, the listener-relative position a path writes), the attenuations
// that 3D voices read by id, and the listener data that plug-ins ask a voice for. Audio thread,
// under the global audio lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

struct CSnCurveGraph;
class CSnRefCountedObject;

// A game-parameter curve of an attenuation: it drives one positioning value of every voice using it.
struct SnAttenuationParamCurve {
  uint32_t rtpcId;
  uint32_t parameterId;  // 13 to 15: the cone's three values; 37, 38: the two distance values
  uint32_t curveId;
  const CSnCurveGraph* curve;
};

// An attenuation as the voices read it.
struct SnAttenuationSettings {
  SnAttenuation shape;  // the seven curves and the cone's angles
  float coneOutsideDb = 0.0f;
  float coneLowPass = 0.0f;
  float coneHighPass = 0.0f;
  const SnAttenuationParamCurve* paramCurves = nullptr;
  uint32_t paramCurveCount = 0;
};

// Where voices find attenuations by id; the hierarchy installs it. Without one none is found.
class ISnAttenuationDirectory {
 public:
  // Null when none of that id is loaded. The settings stay valid while their bank is loaded.
  virtual const SnAttenuationSettings* FindAttenuation(uint32_t id) = 0;
  // The same, with a reference on the object the settings live in (null for settings that live as
  // long as the directory): a voice plays on with its attenuation when the bank that brought it goes.
  virtual const SnAttenuationSettings* HoldAttenuation(uint32_t id, CSnRefCountedObject*& holder) {
    holder = nullptr;
    return FindAttenuation(id);
  }

 protected:
  ~ISnAttenuationDirectory() = default;
};
inline ISnAttenuationDirectory*& AttenuationDirectory() { return ServiceSlot<ISnAttenuationDirectory>(); }
// The x of the last point of the attenuation's distance curve: its greatest distance. False without
// an attenuation or without points.
bool AttenuationMaxDistance(const SnAttenuationSettings* attenuation, float& maxDistance);

enum SnPositioningFlag : uint8_t {
  SnPositioning_Spatialize = 0x01,
  SnPositioning_FrozenPosition = 0x04,   // a path does not move it
  SnPositioning_GameObjectRays = 0x08,   // the game object's own rays, not copied positions
  SnPositioning_WorldPath = 0x10,        // the path does not keep the listener's launch orientation
  SnPositioning_PathLooping = 0x20,
};

// Bits of a positioning settings' path mode.
enum SnPathModeBits : uint32_t { SnPathModeBits_Flags = 0x3, SnPathModeBits_Relaunch = 0x4 };

// What an instance plays with in 3D; it keeps its own copy of the sound's settings.
struct SnInstancePositioning {
  uint32_t attenuationId = 0;
  const SnAttenuationSettings* attenuation = nullptr;  // resolved once
  CSnRefCountedObject* attenuationHolder = nullptr;     // its reference, given back with the record
  float attenuationValues[3] = {};  // cone outside volume (dB), cone low-pass, cone high-pass
  float distanceValues[2] = {};
  int32_t setting = 0;
  uint32_t pathMode = 0;
  uint8_t flags = 0;  // SnPositioningFlag
  float relative[3] = {};  // the position a path writes, relative to the listener
};

// The first words of a listener record, as a plug-in asks for them.
struct SnListenerData {
  SnListenerPosition position;
  float scalingFactor;
  bool spatialized;
};

// Positioning mode (bits 0-1: 0 is 2D) and 3D type (bits 2-3: 1 takes the game object's positions).
constexpr uint8_t PositioningModeOf(uint8_t bits) { return bits & 3; }
constexpr uint8_t ThreeDTypeOf(uint8_t bits) { return (bits >> 2) & 3; }

}  // namespace SN
