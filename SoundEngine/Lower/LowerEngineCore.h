// The lower engine itself: frame format and pool at Init, the output devices, the per-frame pass
// (flush-to-zero, starvation check, device output), suspended mode with its "SN Suspended" timer
// thread, and the back ends of the output, capture and suspend messages. `VoiceManager::Init`
// installs it wherever no other back end (a test's) was installed.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class ISnLowerEngine;
class ISnOutputServices;

namespace LowerEngine {

ISnLowerEngine& RealLowerEngine();
ISnOutputServices& RealOutputServices();
// With no back end installed, puts the real one into its slot and into every service slot still
// empty; Term's counterpart empties only those.
void InstallIntoEmptySlots();
void UninstallOwnSlots();

// Steps of Init and Term, also run by the real back end's voice-manager calls.
SNRESULT Init();
void Term();
// One lower-engine frame; under the global audio lock.
void PerformFrame();

// Suspend state: as the application asked, and whether the outputs are in suspended mode.
bool IsSuspendRequested();
bool IsSuspendedModeActive();
// Suspended mode itself; the suspend switch behind `LowerEngine::Suspend` and `WakeupFromSuspend`
// gives 3 when nothing changes, 1, or 2 (devices or timer thread failed).
SNRESULT EnterSuspendedModeNow(bool render);
SNRESULT LeaveSuspendedMode();
bool IsSuspendTimerRunning();

// Any thread: wakes the audio thread when the audio manager exists.
void WakeAudioThread();

// The audio manager's frame number of the last starvation taken note of (0xFFFFFFFF: none yet).
uint32_t LastStarvationFrame();

}  // namespace LowerEngine
}  // namespace SN
