// What the game syncs ask of modulator objects: whether one exists, its value for a key, its
// per-key contexts, its parameters (subscription kind 5) and its frame processing. The engine's Init
// installs the bank modulators when nothing else is; until then no modulator exists and every value
// reads 0.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"

namespace SN {

class ISnModulatorParamTarget {
 public:
  virtual void SetModulatorParam(uint32_t propertyId, float value, const SnRTPCKey& key) = 0;

 protected:
  ~ISnModulatorParamTarget() = default;
};

class ISnModulatorObjects {
 public:
  virtual ~ISnModulatorObjects() = default;
  virtual bool Exists(uint32_t modulatorId) = 0;
  virtual float ValueForKey(uint32_t modulatorId, const SnRTPCKey& key) = 0;
  // The modulator's context for the key, created when absent; null when it cannot be made.
  virtual void* GetOrCreateContext(uint32_t modulatorId, const SnRTPCKey& key) = 0;
  virtual void DropContexts(uint32_t modulatorId, const SnRTPCKey& key) = 0;
  virtual void ProcessFrame() = 0;
  // The engine's Term, before the voices go: every instance stops and is let go.
  virtual void TermContents() {}
  // A game-parameter subscription whose curve names the modulator starts (`linked`) or stops
  // following it: the modulator tells it of its instances' values each frame.
  virtual void LinkSubscription(uint32_t /*modulatorId*/, void* /*subscription*/, bool /*linked*/) {}
};

namespace ModulatorObjects {

// Null uninstalls.
void Install(ISnModulatorObjects* objects);
// Null while none is installed.
ISnModulatorObjects* Installed();
bool Exists(uint32_t modulatorId);
float ValueForKey(uint32_t modulatorId, const SnRTPCKey& key);
void* GetOrCreateContext(uint32_t modulatorId, const SnRTPCKey& key);
void DropContexts(uint32_t modulatorId, const SnRTPCKey& key);
void ProcessFrame();
void TermContents();
void LinkSubscription(uint32_t modulatorId, void* subscription, bool linked);

}  // namespace ModulatorObjects
}  // namespace SN
