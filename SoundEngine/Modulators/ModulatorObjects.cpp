// The seam to the modulator objects: answers as for an absent modulator until they install.
#include "SoundEngine/Modulators/ModulatorObjects.h"

namespace SN::ModulatorObjects {
namespace {
ISnModulatorObjects*& Slot() {
  static ISnModulatorObjects* objects = nullptr;
  return objects;
}
}  // namespace

void Install(ISnModulatorObjects* objects) { Slot() = objects; }
ISnModulatorObjects* Installed() { return Slot(); }
bool Exists(uint32_t modulatorId) { return Installed() && Installed()->Exists(modulatorId); }
float ValueForKey(uint32_t modulatorId, const SnRTPCKey& key) {
  return Installed() ? Installed()->ValueForKey(modulatorId, key) : 0.0f;
}
void* GetOrCreateContext(uint32_t modulatorId, const SnRTPCKey& key) {
  return Installed() ? Installed()->GetOrCreateContext(modulatorId, key) : nullptr;
}
void DropContexts(uint32_t modulatorId, const SnRTPCKey& key) {
  if (Installed()) Installed()->DropContexts(modulatorId, key);
}
void ProcessFrame() {
  if (Installed()) Installed()->ProcessFrame();
}
void TermContents() {
  if (Installed()) Installed()->TermContents();
}
void LinkSubscription(uint32_t modulatorId, void* subscription, bool linked) {
  if (Installed()) Installed()->LinkSubscription(modulatorId, subscription, linked);
}

}  // namespace SN::ModulatorObjects
