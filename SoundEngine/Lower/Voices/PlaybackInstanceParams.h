// What the game syncs ask of a playback instance (subscription kind 4): the setter of a property
// that follows a game parameter.
#pragma once

#include <cstdint>

namespace SN {

class ISnPlaybackInstanceParams {
 public:
  virtual void SetRTPCProperty(uint32_t propertyId, float value) = 0;

 protected:
  ~ISnPlaybackInstanceParams() = default;
};

}  // namespace SN

namespace SN {

class CSnPlaybackInstance;

// A playback instance keeps the ids of the game parameters (or modulators) holding values keyed by
// it, so that they go with it. The voice manager's Init installs `RecordInstanceValueOwner` when no
// other hook is in place; without a hook the registration succeeds and nothing is kept.
using SnInstanceValueOwnerHook = bool (*)(CSnPlaybackInstance* instance, uint32_t id, bool modulator);

namespace LowerEngine {
void InstallInstanceValueOwnerHook(SnInstanceValueOwnerHook hook);
SnInstanceValueOwnerHook InstalledInstanceValueOwnerHook();
// The real hook: the instance keeps the id and removes its keyed values when it ends.
bool RecordInstanceValueOwner(CSnPlaybackInstance* instance, uint32_t id, bool modulator);
bool RegisterInstanceValueOwner(CSnPlaybackInstance* instance, uint32_t id, bool modulator);
}  // namespace LowerEngine

}  // namespace SN
