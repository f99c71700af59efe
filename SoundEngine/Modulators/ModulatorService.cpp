// The bank modulators installed behind the game syncs' seam.
#include "SoundEngine/Modulators/ModulatorService.h"

#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

CSnModulatorService& DefaultModulatorObjects() {
  static CSnModulatorService service;
  return service;
}

CSnModulatorProcessor* ModulatorProcessingList() { return &DefaultModulatorObjects().List(); }

void InstallDefaultModulatorObjects() {
  if (!ModulatorObjects::Installed()) ModulatorObjects::Install(&DefaultModulatorObjects());
  if (!ModulatorDrivenTargets()) ModulatorDrivenTargets() = &EngineModulatorTargets();
}

void UninstallDefaultModulatorObjects() {
  if (ModulatorObjects::Installed() == &DefaultModulatorObjects()) ModulatorObjects::Install(nullptr);
  if (ModulatorDrivenTargets() == &EngineModulatorTargets()) ModulatorDrivenTargets() = nullptr;
}

CSnModulatorObject* FindModulatorAndAddRef(uint32_t modulatorId) {
  if (!g_pObjectIndex) return nullptr;
  return static_cast<CSnModulatorObject*>(g_pObjectIndex->List(SnIndex_Modulators).FindAndAddRef(modulatorId));
}

void AttachModulatorDrivers(uint32_t modulatorId, const SnRTPCKey& key, CSnModulatorInstanceList& list) {
  const uint64_t target = CSnModulatorRegistry::TargetOfModulator(modulatorId);
  // Only the bank modulators' contexts are instances a voice's list can hold.
  if (!g_pModulatorRegistry || !g_pModulatorRegistry->CountAttached(target) ||
      ModulatorObjects::Installed() != &DefaultModulatorObjects())
    return;
  struct Holder {
    CSnModulatorInstanceList* list;
    bool refused;
  } holder{&list, false};
  const SNRESULT made = g_pModulatorRegistry->InstantiateForKey(
      target, key,
      [](void* context, uint32_t, void* cookie) {
        auto* h = static_cast<Holder*>(cookie);
        const SnModulatorMappingRequest request{nullptr, SnModulatorMapping_None, SnParamMask{}};
        if (h->list->AttachInstance(static_cast<CSnModulatorInstance*>(context), request) != SN_Success)
          h->refused = true;
      },
      &holder);
  if (made != SN_Success || holder.refused)
    SOUND_LOG(Error, "Modulator %u: a modulator driving its parameters could not be made for the voice", modulatorId);
}

bool CSnModulatorService::Exists(uint32_t modulatorId) {
  CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
  if (!object) return false;
  object->Release();
  return true;
}

float CSnModulatorService::ValueForKey(uint32_t modulatorId, const SnRTPCKey& key) {
  CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
  if (!object) return 0.0f;
  SnRTPCKey scope = key;
  float value = 0.0f;
  object->GetCurrentValue(scope, value);
  object->Release();
  return value;
}

void* CSnModulatorService::GetOrCreateContext(uint32_t modulatorId, const SnRTPCKey& key) {
  CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
  if (!object) return nullptr;
  SnModulatorInstantiationParams params;
  params.gameObject = key.gameObject;
  params.playingId = key.playingId;
  params.midiTargetId = key.midiTargetId;
  params.playbackInstance = key.playbackInstance;
  if (key.midiNote != 255) {
    params.midi.status = kMidiNoteOn;
    params.midi.channel = uint8_t(key.midiChannel);
    params.midi.note = uint8_t(key.midiNote);
    params.midi.velocity = 127;
  }
  CSnModulatorInstance* instance = nullptr;
  object->Instantiate(params, m_list, &instance);
  object->Release();
  return instance;
}

void CSnModulatorService::DropContexts(uint32_t modulatorId, const SnRTPCKey& key) {
  CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
  if (!object) return;
  object->RemoveInstancesForKey(key);
  object->Release();
}

void CSnModulatorService::ProcessFrame() {
  m_list.ProcessModulators(LowerEngine::SamplesPerFrame());
  if (g_pObjectIndex)
    g_pObjectIndex->List(SnIndex_Modulators).ForEach([](CSnIndexedObject* object) {
      static_cast<CSnModulatorObject*>(object)->NotifyInstances();
    });
  m_list.ReleaseInactive();
}

void CSnModulatorService::TermContents() { m_list.Term(); }

void CSnModulatorService::LinkSubscription(uint32_t modulatorId, void* subscription, bool linked) {
  // A modulator not loaded yet picks up its subscriptions from the registry when it is.
  CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
  if (!object) return;
  if (linked)
    object->AddSubscription(subscription);
  else
    object->RemoveSubscription(subscription);
  object->Release();
}

}  // namespace SN
