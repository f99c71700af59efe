// The position block copy and the seam to the voice pipeline's listener table.
#include "SoundEngine/Lower/Spatial/Listeners.h"

#include <cstring>

#include "SoundEngine/Containers.h"

namespace SN {

SNRESULT CopyPositionBlock(SnPositionBlock& block, const SnSoundPosition* positions, uint16_t count, uint8_t type) {
  if (!positions || count == 0) return SN_InvalidParameter;
  if (count != block.count || !block.positions) {
    auto* copy = static_cast<SnSoundPosition*>(
        MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnSoundPosition) * count, alignof(SnSoundPosition)));
    if (!copy) return SN_InsufficientMemory;
    if (block.positions) MemoryMgr::Free(g_DefaultPoolId, block.positions);
    block.positions = copy;
  }
  memcpy(block.positions, positions, sizeof(SnSoundPosition) * count);
  block.count = count;
  block.multiPositionType = uint8_t(type & 7);
  return SN_Success;
}

void FreePositionBlock(SnPositionBlock& block) {
  if (block.positions) MemoryMgr::Free(g_DefaultPoolId, block.positions);
  block.positions = nullptr;
  block.count = 0;
}

namespace LowerEngine {
namespace {
ISnListenerServices*& Installed() {
  static ISnListenerServices* services = nullptr;
  return services;
}
}  // namespace

void InstallListenerServices(ISnListenerServices* services) { Installed() = services; }
ISnListenerServices* InstalledListenerServices() { return Installed(); }

float ComputeEmitterRay(uint32_t listener, const SnSoundPosition& emitter, float scaling, SnEmitterListenerRay& ray) {
  if (ISnListenerServices* services = Installed()) return services->ComputeEmitterRay(listener, emitter, scaling, ray);
  ray.distance = ray.azimuth = ray.elevation = ray.emitterAngle = 0.0f;
  return 0.0f;
}

void SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask) {
  if (ISnListenerServices* services = Installed()) services->SetGameObjectActiveListeners(object, oldMask, newMask);
}

}  // namespace LowerEngine
}  // namespace SN
