// The seam through which playback instances learn which game parameters hold values keyed by them.
#include "SoundEngine/Lower/PlaybackInstanceParams.h"

namespace SN::LowerEngine {
namespace {
SnInstanceValueOwnerHook& InstanceOwnerHook() {
  static SnInstanceValueOwnerHook hook = nullptr;
  return hook;
}
}  // namespace

void InstallInstanceValueOwnerHook(SnInstanceValueOwnerHook hook) { InstanceOwnerHook() = hook; }
bool RegisterInstanceValueOwner(CSnPlaybackInstance* instance, uint32_t id, bool modulator) {
  return InstanceOwnerHook() ? InstanceOwnerHook()(instance, id, modulator) : true;
}

}  // namespace SN::LowerEngine
