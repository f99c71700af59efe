// Fast decibel-to-linear conversion: the curves' power of ten, so the voice and the game syncs agree.
#include "SoundEngine/Lower/Mixing/FastDecibels.h"

#include "SoundEngine/GameSyncs/Curves.h"

namespace SN::VoiceParams {

float FastDbToLinear(float dB) { return SnFastMath::Pow10(dB * 0.05f); }

}  // namespace SN::VoiceParams
