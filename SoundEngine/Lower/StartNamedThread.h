// The one way the sound engine starts its threads: with a name and the settings of its block in the
// platform settings.
#pragma once

#include "Platform/Threading.h"
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN {

// `handle` is null when no thread could be made.
void StartNamedThread(Platform::ThreadRoutine routine, void* context, const SnThreadSettings& settings,
                      Platform::Thread** handle, const char* name);

}  // namespace SN
