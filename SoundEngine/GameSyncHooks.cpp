// The music engine's two slots in the sound engine; null until the music engine installs them.
#include "SoundEngine/GameSyncHooks.h"

namespace SN::SoundEngine {
namespace {
struct Hooks {
  SnExtraHircObjectLoader loader = nullptr;
  SnStateChangeHook stateChange = nullptr;
};
Hooks& Installed() {
  static Hooks hooks;
  return hooks;
}
}  // namespace

void SetExtraHircObjectLoader(SnExtraHircObjectLoader loader) { Installed().loader = loader; }
SnExtraHircObjectLoader ExtraHircObjectLoader() { return Installed().loader; }
void SetStateChangeHook(SnStateChangeHook hook) { Installed().stateChange = hook; }
SnStateChangeHook StateChangeHook() { return Installed().stateChange; }

}  // namespace SN::SoundEngine
