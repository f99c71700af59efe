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

ISnEffectDefinition* CSnNodeVoiceEffects::VoiceEffect(CSnPropertyNode* node, uint32_t slot, bool& bypass) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  bypass = false;
  if (!node || slot > 3) return nullptr;
  const CSnHierarchyNode* holder = node;
  while (!(holder->FlagsB() & CSnHierarchyNode::kOverridesEffects) && holder->Parent()) holder = holder->Parent();
  const SnNodeFxSlots* fx = holder->FxSlots();
  if (!fx || !fx->slots[slot].effectId) return nullptr;
  CSnEffectDefinition* definition = FindEffectDefinition(fx->slots[slot].effectId, fx->slots[slot].shared);
  if (!definition) return nullptr;
  bypass = (fx->bypass & (1u << slot)) || (fx->bypass & 0x10);
  return definition->MixEffect();  // the reference the look-up took
}

}  // namespace SN
