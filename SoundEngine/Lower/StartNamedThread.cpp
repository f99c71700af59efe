// Thread settings of the platform record mapped onto the platform's thread options. The name is
// what debuggers and the system's thread list show.
#include "SoundEngine/Lower/StartNamedThread.h"

namespace SN {

void StartNamedThread(Platform::ThreadRoutine routine, void* context, const SnThreadSettings& settings,
                      Platform::Thread** handle, const char* name) {
  if (!handle) return;
  Platform::ThreadOptions options;
  options.priority = settings.priority;
  options.affinityMask = settings.affinityMask;
  options.stackBytes = settings.stackSize;
  *handle = Platform::StartThread(routine, context, options, name);
}

}  // namespace SN
