// The bank modulators behind the game syncs' seam: objects found in the object index, their
// instances made per key, and the frame step (generation, end-of-frame checks, release).
#pragma once

#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/Modulators/ModulatorProcessor.h"

namespace SN {

class CSnModulatorObject;
class CSnModulatorInstanceList;

class CSnModulatorService final : public ISnModulatorObjects {
 public:
  bool Exists(uint32_t modulatorId) override;
  float ValueForKey(uint32_t modulatorId, const SnRTPCKey& key) override;
  // The key's instance (a CSnModulatorInstance), made as for a voice without a MIDI event.
  void* GetOrCreateContext(uint32_t modulatorId, const SnRTPCKey& key) override;
  void DropContexts(uint32_t modulatorId, const SnRTPCKey& key) override;
  // Takes the modulator list's lock only for the end-of-frame checks: what the release stops runs
  // outside it.
  void ProcessFrame() override;
  void TermContents() override;
  void LinkSubscription(uint32_t modulatorId, void* subscription, bool linked) override;

  CSnModulatorProcessor& List() { return m_list; }

 private:
  CSnModulatorProcessor m_list;
};

CSnModulatorService& DefaultModulatorObjects();
// The engine's Init: the bank modulators, and what their ending envelopes stop, unless others are
// installed.
void InstallDefaultModulatorObjects();
// The engine's Term: uninstalls both if they are what is installed.
void UninstallDefaultModulatorObjects();
// The modulator object of the index with a reference added, or null.
CSnModulatorObject* FindModulatorAndAddRef(uint32_t modulatorId);
// The modulators whose values drive the parameters of modulator `modulatorId`, and those driving
// theirs in turn, made for `key` and held by `list` (a voice's) as long as it holds the modulator they
// drive: they map onto nothing of the voice. Audio thread only.
void AttachModulatorDrivers(uint32_t modulatorId, const SnRTPCKey& key, CSnModulatorInstanceList& list);

}  // namespace SN
