// The listener table's side of a game object's listeners changing: its voices follow them.
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"

namespace SN {

void CSnListenerTable::SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask) {
  if (oldMask == newMask) return;
  // The motion outputs its voices reach on the new listeners are there before they are routed.
  LowerEngine::AttachMotionPlayersOf(object, newMask);
  LowerEngine::RouteGameObjectVoices(object, newMask);
}

}  // namespace SN
