// The voice pipeline's pool id and the generator seeding shared by the audio thread's start and the
// game's seed message.
#include "SoundEngine/Lower/OutputServices.h"

#include "Base/MathUtil.h"
#include "Platform/Clock.h"

namespace SN {

SnMemPoolId g_LEngineDefaultPoolId = kInvalidPoolId;

namespace LowerEngine {

void SeedRandom(uint32_t seed) { Base::SeedRand15(seed ? seed : uint32_t(Platform::TicksNow())); }

}  // namespace LowerEngine
}  // namespace SN
