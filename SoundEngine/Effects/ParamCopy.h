// A plug-in's own copy of its definition's parameters: made with the plug-in allocator, driven by the
// definition's curves while it lives, and undone in the reverse order. Every effect and mixer slot
// (a bus's, a voice's, the voice information's input mixer) makes and drops its copy here.
#pragma once

#include "SoundEngine/Lower/Mixing/MixBusNode.h"

namespace SN {

// Null when the definition has no parameters or the allocator no room. The copy follows the curves
// for the key's objects; their modulators join `modulators` when given.
ISnPluginParam* MakeParamCopy(ISnEffectDefinition& definition, const SnRTPCKey& key = SnRTPCKey{},
                              CSnModulatorInstanceList* modulators = nullptr);
// Its subscription ends and it is terminated; `copy` is cleared. Nothing for a null copy.
void DropParamCopy(ISnEffectDefinition* definition, ISnPluginParam*& copy);

}  // namespace SN
