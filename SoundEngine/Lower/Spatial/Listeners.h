// What the game-object registry asks of the voice pipeline's listeners: the emitter-listener ray of
// one position, and the word that an object's active listeners changed. The position block and its
// copy routine are shared with the 3D positioning of the voices and live here.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Messages.h"

namespace SN {

class CSnRegisteredObj;

constexpr uint32_t kMaxListeners = 8;

struct SnPositionBlock {
  SnSoundPosition* positions = nullptr;
  uint16_t count = 0;
  uint8_t listenerMask = 1;
  uint8_t multiPositionType = 0;  // low 3 bits; 0 is a single position
};

// Replaces the block's positions with a copy of `count` positions (keeping the old ones on failure).
SNRESULT CopyPositionBlock(SnPositionBlock& block, const SnSoundPosition* positions, uint16_t count, uint8_t type);
void FreePositionBlock(SnPositionBlock& block);

struct SnEmitterListenerRay {
  float distance;
  float azimuth;    // radians
  float elevation;  // radians
  float emitterAngle;
  float factors[3];    // dry, game-defined send and user-defined send gains
  uint8_t listenerBit;  // the listener's index
  float coneFactor;     // 0 inside the cone's inner angle to 1 outside its outer one
};

class ISnListenerServices {
 public:
  virtual ~ISnListenerServices() = default;
  // Fills the ray from the listener's data and returns its distance.
  virtual float ComputeEmitterRay(uint32_t listener, const SnSoundPosition& emitter, float scaling,
                                  SnEmitterListenerRay& ray) = 0;
  virtual void SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask) = 0;
};

namespace LowerEngine {

// Null uninstalls. Without listeners every ray has distance 0 and straight-ahead angles.
void InstallListenerServices(ISnListenerServices* services);
ISnListenerServices* InstalledListenerServices();
float ComputeEmitterRay(uint32_t listener, const SnSoundPosition& emitter, float scaling, SnEmitterListenerRay& ray);
void SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask);

}  // namespace LowerEngine
}  // namespace SN
