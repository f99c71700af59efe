// The listener table's side of a game object's listeners changing: its voices follow them.
#include "SoundEngine/Lower/ListenerTable.h"
#include "SoundEngine/Lower/MixBusGraph.h"

namespace SN {

void CSnListenerTable::SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask) {
  if (oldMask != newMask) LowerEngine::RouteGameObjectVoices(object, newMask);
}

}  // namespace SN
