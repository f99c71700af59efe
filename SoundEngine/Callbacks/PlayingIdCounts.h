// The playing-id callback manager's count of pending actions per playing id: a playing id ends, and
// its end callback fires, when its last pending action is done.
#pragma once

#include <cstdint>

namespace SN {

class ISnPlayingIdPendingCounts {
 public:
  virtual ~ISnPlayingIdPendingCounts() = default;
  virtual void AddPendingAction(uint32_t playingId) = 0;
  virtual void RemovePendingAction(uint32_t playingId) = 0;
};

// Null while no callback manager exists: pending actions then count nothing.
extern ISnPlayingIdPendingCounts* g_pPlayingIdPendingCounts;

}  // namespace SN
