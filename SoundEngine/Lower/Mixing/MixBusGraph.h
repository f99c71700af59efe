// The lower engine's mix buses: the array of them (one per bus and output device, the main device's
// master bus first), creation on demand up the bus tree, the bus commands of the front end, the
// frame's bus steps (gains, dynamic-range windows, mixing down to the devices, idle removal) and the
// voices' connections and sends. Audio thread, under the global audio lock, unless said otherwise.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"

namespace SN {

class CSnLoadedBank;
class CSnMixBus;
class ISnMixBusNode;
class ISnPlugin;

constexpr uint32_t kMasterBusId = 0xFFFFFFFFu;

namespace LowerEngine {

// Lower-engine Init and Term: the graph takes the bus-callback words when no one else does.
SNRESULT InitBusGraph();
void TermBusGraph();

uint32_t MixBusCount();
CSnMixBus* MixBusAt(uint32_t index);
// The first bus with that id and device not being removed, or null.
CSnMixBus* FindMixBus(uint32_t busId, uint32_t deviceType, uint32_t deviceId);
CSnMixBus* GetOrCreateMasterBus();
// The node's bus on the device, its ancestors made first; null when any could not be made.
CSnMixBus* GetOrCreateMixBus(ISnMixBusNode* node, uint32_t deviceType, uint32_t deviceId, bool motion);
CSnMixBus* CreateMixBus(ISnMixBusNode* node, uint32_t deviceType, uint32_t deviceId, CSnMixBus* parent,
                        bool motion);
// From the last bus to the first: each detached, destroyed and freed.
void DestroyAllMixBuses();

// Bus commands: every bus of the id on every device.
void SetBusVolume(uint32_t busId, float dB);
void AddBusVolumeDelta(uint32_t busId, float dB);
void SetBusBypassFX(uint32_t busId, uint32_t value, uint32_t mask);
void SetBusParam(uint32_t busId, uint32_t parameterId, float value, float delta);
// Slot 0 to 3, or every slot and the mixer for a larger value.
void UpdateBusEffect(uint32_t busId, uint32_t slot);
// Bus effects reading the bank's data move to another copy; those that cannot are made again without
// it, unless `remake` is false (inside a frame, which may be running them).
void ReleaseBusEffectsUsingBankData(const CSnLoadedBank* bank, bool remake = true);
void ForEachEffectInstance(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie);
// A device went (mask 0) or its listeners changed: voices follow.
void UpdateDeviceRouting(uint32_t deviceType, uint32_t deviceId, uint32_t listenerMask);
// A player's motion device arrived or its listener changed: the motion voices already playing on
// its listener reach its motion output, made for them when it is not there yet.
void RouteMotionVoicesToPlayer(uint32_t player);
// The voices of a game object follow its new listener mask (behind the listeners' SetGameObjectActiveListeners).
void RouteGameObjectVoices(CSnRegisteredObj* gameObject, uint32_t newMask);

// The frame's bus steps, in frame order.
// Before the voices run: voice gains around every bus's total volume, then the windows.
void ComputeFrameGains();
// After the voices: each bus (last to first) processed and handed to its parent or device.
void MixBusesDown();
// After the devices' output: idle buses removed, last to first.
void RemoveIdleMixBuses();

// The window's sums for one bus; exposed for the window's tests.
float UpdateBusWindow(CSnMixBus& bus);

}  // namespace LowerEngine
}  // namespace SN
