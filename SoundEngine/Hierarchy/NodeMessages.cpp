// What the queued node messages do to the hierarchy (effects in slots, mixers, the sounds made around
// source plug-ins) and what a bank load asks of the buses.
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/Attenuation.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/NodePreparation.h"
#include "SoundEngine/Hierarchy/NodeReceiver.h"
#include "SoundEngine/Hierarchy/SoundNode.h"
#include "SoundEngine/Hierarchy/VoiceEffects.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

constexpr uint32_t kRuntimeNodeBit = 0x80000000u;
// A mixer the game sets outranks the bank's.
constexpr uint32_t kApiMixerPriority = 1;

class CSnNodeMessages final : public ISnNodeReceiver, public ISnBusDefaults {
 public:
  void SetNodeEffect(CSnIndexedObject* object, uint32_t slot, uint32_t effectId) override {
    auto* node = static_cast<CSnHierarchyNode*>(object);
    // Every kind up to 12 carries effects, the plain bus (category 0) too: SetBusEffect is for it.
    if (node->NodeCategory() > 12) return;
    if (node->SetEffectSlot(slot, effectId, false, 0) != SN_Success)
      SOUND_LOG(Error, "SetEffect: node %u keeps its effect slot %u", node->ID(), slot);
  }

  void SetBusMixer(CSnIndexedObject* object, uint32_t mixerId) override {
    auto* node = static_cast<CSnHierarchyNode*>(object);
    if (!node->IsBus()) return;
    if (static_cast<CSnBusNode*>(node)->SetMixerPlugin(mixerId, false, kApiMixerPriority) != SN_Success)
      SOUND_LOG(Error, "SetMixer: bus %u keeps its mixer", node->ID());
  }

  void PlaySourcePlugin(uint32_t classId, CSnRegisteredObj* object, uint32_t playingId) override {
    CSnSoundNode* sound = FindOrMakeSound(classId);
    if (!sound) return;
    CSnPlayParams params;
    params.gameObject = object;
    params.playingId = playingId;
    params.playMode = 1;
    sound->Play(params);
    sound->Release();
  }

  void StopSourcePlugin(uint32_t classId, uint32_t playingId) override {
    auto* sound = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(classId | kRuntimeNodeBit, false));
    if (!sound) return;
    sound->Stop(nullptr, playingId, 0, 0);
    sound->Release();
  }

  CSnIndexedObject* TakeDefaultMotionBus() override { return CSnBusNode::TakeDefaultMotionBus(); }
  void RestoreDefaultMotionBus(CSnIndexedObject* bus) override {
    auto* node = static_cast<CSnHierarchyNode*>(bus);
    if (node && node->IsBus()) CSnBusNode::RestoreDefaultMotionBus(static_cast<CSnBusNode*>(node));
  }
  void ClearMasterBuses() override { CSnBusNode::ClearMasterBuses(); }

 private:
  // The sound of the plug-in with a reference for the caller; the index keeps one until Term.
  static CSnSoundNode* FindOrMakeSound(uint32_t classId) {
    const uint32_t id = classId | kRuntimeNodeBit;
    if (auto* found = static_cast<CSnSoundNode*>(g_pObjectIndex->FindNodeAndAddRef(id, false))) return found;
    auto* sound = PoolNew<CSnSoundNode>(g_DefaultPoolId, id);
    if (!sound) {
      SOUND_LOG(Error, "PlaySourcePlugin: no memory for the sound of plug-in 0x%08x", classId);
      return nullptr;
    }
    sound->MakePluginSource(classId);
    g_pObjectIndex->GetNodeList(false).Insert(sound);
    sound->AddRef();
    return sound;
  }
};

CSnNodeMessages& Messages() {
  static CSnNodeMessages messages;
  return messages;
}

struct Filled {
  bool nodes = false;
  bool buses = false;
  bool directory = false;
  bool attenuations = false;
  bool voiceEffects = false;
  bool preparation = false;
};
Filled& OwnSlots() {
  static Filled filled;
  return filled;
}

}  // namespace

void InstallHierarchyReceivers() {
  if (!NodeReceiver()) {
    NodeReceiver() = &Messages();
    OwnSlots().nodes = true;
  }
  if (!BusDefaults()) {
    BusDefaults() = &Messages();
    OwnSlots().buses = true;
  }
  if (!BusNodeDirectory()) {
    BusNodeDirectory() = &CSnBusNode::Directory();
    OwnSlots().directory = true;
  }
  if (!AttenuationDirectory()) {
    AttenuationDirectory() = &CSnAttenuation::Directory();
    OwnSlots().attenuations = true;
  }
  if (!VoiceEffectProvider()) {
    VoiceEffectProvider() = &CSnNodeVoiceEffects::Instance();
    OwnSlots().voiceEffects = true;
  }
  if (!NodePreparation()) {
    NodePreparation() = &HierarchyNodePreparation();
    OwnSlots().preparation = true;
  }
}

void UninstallHierarchyReceivers() {
  if (OwnSlots().nodes && NodeReceiver() == &Messages()) NodeReceiver() = nullptr;
  if (OwnSlots().buses && BusDefaults() == &Messages()) BusDefaults() = nullptr;
  if (OwnSlots().directory && BusNodeDirectory() == &CSnBusNode::Directory()) BusNodeDirectory() = nullptr;
  if (OwnSlots().attenuations && AttenuationDirectory() == &CSnAttenuation::Directory())
    AttenuationDirectory() = nullptr;
  if (OwnSlots().voiceEffects && VoiceEffectProvider() == &CSnNodeVoiceEffects::Instance())
    VoiceEffectProvider() = nullptr;
  if (OwnSlots().preparation && NodePreparation() == &HierarchyNodePreparation()) NodePreparation() = nullptr;
  OwnSlots() = Filled{};
}

}  // namespace SN
