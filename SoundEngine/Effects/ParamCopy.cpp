// Parameter copies of effect and mixer definitions.
#include "SoundEngine/Effects/ParamCopy.h"

#include "SoundEngine/Effects/PluginMemAlloc.h"

namespace SN {

ISnPluginParam* MakeParamCopy(ISnEffectDefinition& definition, const SnRTPCKey& key,
                              CSnModulatorInstanceList* modulators) {
  ISnPluginParam* source = definition.Params();
  ISnPluginParam* copy = source ? source->Clone(&PluginAllocator()) : nullptr;
  if (copy) definition.SubscribeParams(copy, key, modulators);
  return copy;
}

void DropParamCopy(ISnEffectDefinition* definition, ISnPluginParam*& copy) {
  if (!copy) return;
  if (definition) definition->UnsubscribeParams(copy);
  copy->Term(&PluginAllocator());
  copy = nullptr;
}

}  // namespace SN
