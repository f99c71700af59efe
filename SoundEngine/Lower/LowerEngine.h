// What the front end asks of the voice pipeline: the calls of the lower engine and of the voice
// manager, through one installed back end. The voice manager's initialisation installs the real
// lower engine when nothing else was installed.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnSink;
// A device's own sink maker (tests, tools); it gets the pool of plug-in allocations.
using SnCustomSinkFactory = CSnSink* (*)(int32_t pluginPool);

struct SnOutputSettings {
  uint32_t panningRule;           // 0 speakers, 1 headphones
  uint32_t channelConfig;         // low byte: channel count, 0 for the device's own
  SnCustomSinkFactory customSinkFactory;  // null: a platform sink
};

struct SnSuspendState {
  bool suspended = false;             // as the application last asked
  bool renderWhileSuspended = false;  // as the application last asked
  bool suspendedModeActive = false;   // the outputs are in suspended mode
};

class ISnLowerEngine {
 public:
  virtual ~ISnLowerEngine() = default;

  // Voice manager.
  virtual SNRESULT InitVoiceManager() = 0;
  virtual void TermVoiceManager() = 0;
  virtual void UpdateLimiters() = 0;
  virtual void ProcessQueuedInstanceCommands() = 0;
  // The engine-wide maximum number of voices.
  virtual void SetMaxNumVoicesLimit(uint16_t) {}

  // Lower engine, once per audio-manager pass.
  virtual uint32_t CheckOutputDevices() = 0;
  virtual SnSuspendState SuspendState() = 0;
  virtual SNRESULT EnterSuspendedMode(bool render) = 0;
  // The application's suspend and wake-up, under the global audio lock: 3 when nothing changes.
  virtual SNRESULT Suspend(bool) { return SN_Failure; }
  virtual SNRESULT WakeupFromSuspend() { return SN_Failure; }
  virtual void ApplyMessageSideEffects() = 0;
  virtual bool WantsDeferredDeviceWork() = 0;
  virtual void DoDeferredDeviceWork() = 0;
  // Once per rendered frame, before and as the frame.
  virtual void PrepareFrame() = 0;
  virtual void Perform() = 0;
  // After the pass: the motion or secondary-output engine, when one exists.
  virtual void RenderAfterPass() = 0;

  // The audio thread's pacing: the main output and how long to wait for it.
  virtual void BeginOutputSinks() = 0;
  virtual const void* MainOutputDevice() = 0;
  virtual uint32_t MainOutputWaitMs() = 0;  // Platform::kWaitForever with no main output

  // Termination.
  virtual void TermMotionEngine() = 0;
  virtual void DestroyAllVoicePipelines() = 0;
};

namespace LowerEngine {

// Null uninstalls. The sound engine must not be initialised while the back end changes.
void Install(ISnLowerEngine* backEnd);
ISnLowerEngine* Installed();

void GetDefaultOutputSettings(SnOutputSettings& settings);
uint32_t CheckOutputDevices();
SnSuspendState SuspendState();
SNRESULT EnterSuspendedMode(bool render);
// 2 while no back end is installed.
SNRESULT Suspend(bool renderWhileSuspended);
SNRESULT WakeupFromSuspend();
void ApplyMessageSideEffects();
bool WantsDeferredDeviceWork();
void DoDeferredDeviceWork();
void PrepareFrame();
void Perform();
void RenderAfterPass();
void BeginOutputSinks();
const void* MainOutputDevice();
uint32_t MainOutputWaitMs();
void TermMotionEngine();
void DestroyAllVoicePipelines();

}  // namespace LowerEngine

namespace VoiceManager {

SNRESULT Init();
void Term();
void UpdateLimiters();
void ProcessQueuedInstanceCommands();
void SetMaxNumVoicesLimit(uint16_t count);

}  // namespace VoiceManager
}  // namespace SN
