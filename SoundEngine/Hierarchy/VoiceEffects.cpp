// The voice effect provider over the hierarchy's effect slots.
#include "SoundEngine/Hierarchy/VoiceEffects.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"

namespace SN {

CSnNodeVoiceEffects& CSnNodeVoiceEffects::Instance() {
  static CSnNodeVoiceEffects provider;
  return provider;
}

namespace {
// The effect slots of the nearest node that overrides effects, or of the root of the node's tree.
const SnNodeFxSlots* HolderSlots(const CSnHierarchyNode* node) {
  while (!(node->FlagsB() & CSnHierarchyNode::kOverridesEffects) && node->Parent()) node = node->Parent();
  return node->FxSlots();
}
}  // namespace

uint32_t CSnNodeVoiceEffects::EffectSlots(CSnPropertyNode* node) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  const SnNodeFxSlots* fx = node ? HolderSlots(node) : nullptr;
  uint32_t slots = 0;
  for (uint32_t slot = 0; fx && slot < 4; ++slot)
    if (fx->slots[slot].effectId) slots |= 1u << slot;
  return slots;
}

ISnEffectDefinition* CSnNodeVoiceEffects::VoiceEffect(CSnPropertyNode* node, uint32_t slot, bool& bypass) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  bypass = false;
  if (!node || slot > 3) return nullptr;
  const SnNodeFxSlots* fx = HolderSlots(node);
  if (!fx || !fx->slots[slot].effectId) return nullptr;
  CSnEffectDefinition* definition = FindEffectDefinition(fx->slots[slot].effectId, fx->slots[slot].shared);
  if (!definition) return nullptr;
  bypass = (fx->bypass & (1u << slot)) || (fx->bypass & 0x10);
  return definition->MixEffect();  // the reference the look-up took
}

}  // namespace SN
