// Bus nodes as the mixing graph finds and reads them: the parent chain, which output a bus mixes
// into, its volume, and the directory that finds a loaded bus by id. Audio thread, under
// GlobalAudioLock().
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {
namespace {

constexpr uint32_t kBusVolume = 5;

CSnBusNode* ParentBusOf(const CSnBusNode& bus) {
  CSnHierarchyNode* parent = bus.Parent();
  return parent && CSnHierarchyNode::IsBusCategory(parent->NodeCategory()) ? static_cast<CSnBusNode*>(parent)
                                                                             : nullptr;
}

// A bus without a mix stage of its own mixes in the nearest bus above it that has one: the graph
// makes mix buses of those only, and a bus's effective volume counts the stageless ones below it.
CSnBusNode* MixingBusOf(CSnBusNode* bus) {
  while (bus && !bus->HasOwnMixStage()) bus = ParentBusOf(*bus);
  return bus;
}

class CSnBusDirectory final : public ISnBusNodeDirectory {
 public:
  ISnMixBusNode* FindBusNode(uint32_t busId) override {
    if (!g_pObjectIndex) return nullptr;
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(busId, true);
    // The bus list holds hierarchy nodes only; a bus category names the one class of buses.
    auto* node = static_cast<CSnHierarchyNode*>(found);
    CSnBusNode* bus = MixingBusOf(node && CSnHierarchyNode::IsBusCategory(node->NodeCategory())
                                      ? static_cast<CSnBusNode*>(node)
                                      : nullptr);
    if (bus) bus->AddRef();  // the caller's reference
    if (found) found->Release();
    return bus ? &bus->MixNode() : nullptr;
  }
  ISnMixBusNode* FindMotionBus(const CSnHierarchyNode* node) override {
    return CSnBusNode::MotionMixNodeFor(node, *this);
  }
  bool HasMotionOutput(const CSnHierarchyNode* node) override { return CSnBusNode::HasMotionOutput(node); }
};

}  // namespace

ISnBusNodeDirectory& CSnBusNode::Directory() {
  static CSnBusDirectory directory;
  return directory;
}

ISnMixBusNode* CSnBusNode::CMixNode::ParentBus() const {
  CSnBusNode* parent = MixingBusOf(ParentBusOf(m_bus));
  return parent ? &parent->MixNode() : nullptr;
}

bool CSnBusNode::CMixNode::IsMainOutputBus() const {
  // Everything under the secondary master mixes into the secondary outputs; the rest (the master's
  // tree, and buses under neither) into the main one.
  const CSnBusNode* top = &m_bus;
  while (const CSnBusNode* parent = ParentBusOf(*top)) top = parent;
  CSnBusNode* secondary = CSnBusNode::SecondaryMasterBus();
  const bool main = top != secondary;
  if (secondary) secondary->Release();
  return main;
}

float CSnBusNode::CMixNode::EffectiveVolume() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  m_bus.m_state |= kVolumePushed;
  return m_bus.GetEffectiveProperty(kBusVolume, false);
}

ISnEffectDefinition* CSnBusNode::CMixNode::Effect(uint32_t slot, bool& bypass) {
  bypass = m_bus.IsEffectBypassed(slot);
  const SnNodeFxSlots* fx = m_bus.FxSlots();
  if (!fx || slot > 3 || !fx->slots[slot].effectId) return nullptr;
  CSnEffectDefinition* definition = FindEffectDefinition(fx->slots[slot].effectId, fx->slots[slot].shared);
  return definition ? definition->MixEffect() : nullptr;
}

ISnEffectDefinition* CSnBusNode::CMixNode::Mixer() {
  const SnBusMixer* mixer = m_bus.Mixer();
  CSnEffectDefinition* definition = mixer ? FindEffectDefinition(mixer->pluginId, mixer->shared) : nullptr;
  return definition ? definition->MixEffect() : nullptr;
}

uint32_t CSnBusNode::CMixNode::MediaId(uint32_t slot, uint32_t index) const {
  const SnNodeFxSlots* fx = m_bus.FxSlots();
  const SnBusMixer* mixer = m_bus.Mixer();
  uint32_t id = 0;
  bool shared = false;
  if (slot < 4 && fx) {
    id = fx->slots[slot].effectId;
    shared = fx->slots[slot].shared;
  } else if (slot == 4 && mixer) {
    id = mixer->pluginId;
    shared = mixer->shared;
  }
  CSnEffectDefinition* definition = FindEffectDefinition(id, shared);
  if (!definition) return kNoPlugin;
  const uint32_t media = definition->MediaId(index);
  definition->Release();
  return media;
}

}  // namespace SN
