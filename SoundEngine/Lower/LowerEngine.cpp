// Forwarding to the installed voice-pipeline back end: the real lower engine unless a test put its
// own in first; with none (outside Init and Term), passes render nothing.
#include "SoundEngine/Lower/LowerEngine.h"

#include "Platform/Threading.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngineCore.h"

namespace SN {
namespace {

ISnLowerEngine*& BackEnd() {
  static ISnLowerEngine* backEnd = nullptr;
  return backEnd;
}

}  // namespace

namespace LowerEngine {

void Install(ISnLowerEngine* backEnd) { BackEnd() = backEnd; }
ISnLowerEngine* Installed() { return BackEnd(); }

void GetDefaultOutputSettings(SnOutputSettings& settings) { settings = SnOutputSettings{0, 0, nullptr}; }
uint32_t CheckOutputDevices() { return BackEnd() ? BackEnd()->CheckOutputDevices() : 0; }
SnSuspendState SuspendState() { return BackEnd() ? BackEnd()->SuspendState() : SnSuspendState{}; }
SNRESULT EnterSuspendedMode(bool render) { return BackEnd() ? BackEnd()->EnterSuspendedMode(render) : SN_Failure; }
SNRESULT Suspend(bool render) { return BackEnd() ? BackEnd()->Suspend(render) : SN_Failure; }
SNRESULT WakeupFromSuspend() { return BackEnd() ? BackEnd()->WakeupFromSuspend() : SN_Failure; }
void ApplyMessageSideEffects() {
  if (BackEnd()) BackEnd()->ApplyMessageSideEffects();
}
bool WantsDeferredDeviceWork() { return BackEnd() && BackEnd()->WantsDeferredDeviceWork(); }
void DoDeferredDeviceWork() {
  if (BackEnd()) BackEnd()->DoDeferredDeviceWork();
}
void PrepareFrame() {
  if (BackEnd()) BackEnd()->PrepareFrame();
}
void Perform() {
  if (BackEnd()) BackEnd()->Perform();
}
void RenderAfterPass() {
  if (BackEnd()) BackEnd()->RenderAfterPass();
}
void BeginOutputSinks() {
  if (BackEnd()) BackEnd()->BeginOutputSinks();
}
const void* MainOutputDevice() { return BackEnd() ? BackEnd()->MainOutputDevice() : nullptr; }
uint32_t MainOutputWaitMs() { return BackEnd() ? BackEnd()->MainOutputWaitMs() : Platform::kWaitForever; }
void TermMotionEngine() {
  if (BackEnd()) BackEnd()->TermMotionEngine();
}
void DestroyAllVoicePipelines() {
  if (BackEnd()) BackEnd()->DestroyAllVoicePipelines();
}

}  // namespace LowerEngine

namespace VoiceManager {

SNRESULT Init() {
  // Tests install their own back ends first; otherwise the real lower engine takes the slots.
  LowerEngine::InstallIntoEmptySlots();
  return BackEnd()->InitVoiceManager();
}
void Term() {
  if (BackEnd()) BackEnd()->TermVoiceManager();
  LowerEngine::UninstallOwnSlots();
}
void UpdateLimiters() {
  if (BackEnd()) BackEnd()->UpdateLimiters();
}
void ProcessQueuedInstanceCommands() {
  if (BackEnd()) BackEnd()->ProcessQueuedInstanceCommands();
}

void SetMaxNumVoicesLimit(uint16_t count) {
  if (BackEnd()) BackEnd()->SetMaxNumVoicesLimit(count);
}

}  // namespace VoiceManager
}  // namespace SN
