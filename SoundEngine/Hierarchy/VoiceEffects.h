// Where a voice finds the insert effects of its sound: the effect slots of the nearest node that
// overrides effects (or the root of the sound's tree), through the loaded effect definitions.
#pragma once

#include "SoundEngine/Lower/Pipeline/VoiceInsertEffect.h"

namespace SN {

class CSnNodeVoiceEffects final : public ISnVoiceEffectProvider {
 public:
  static CSnNodeVoiceEffects& Instance();
  // Audio thread, under GlobalAudioLock(): the definition with a reference, or null for an empty slot
  // or a definition not loaded. `bypass` is the slot's bypass or the node's bypass of all effects.
  ISnEffectDefinition* VoiceEffect(CSnPropertyNode* node, uint32_t slot, bool& bypass) override;
  // The slots of the node's effect holder that name an effect, loaded or not.
  uint32_t EffectSlots(CSnPropertyNode* node) override;
};

}  // namespace SN
