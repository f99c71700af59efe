// The lower engine's Init and Term, its frame, suspended mode and the output messages' back ends.
#include "SoundEngine/Lower/LowerEngineCore.h"

#include <xmmintrin.h>

#include <atomic>

#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"  // the time its voices' positions are reported at
#include "SoundEngine/Hierarchy/BusMixCommands.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Output/Platform/AudioEndpoints.h"
#include "SoundEngine/Lower/Output/Sink.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/PositionPathMotion.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/StartNamedThread.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/Sources/ResampleKernels.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN::LowerEngine {
namespace {

constexpr uint32_t kFlushToZero = 0x8000;
constexpr uint32_t kDefaultPoolBytes = 0x1000000;
constexpr uint32_t kPoolBlockSize = 64;
constexpr uint32_t kPoolAlignment = 16;
constexpr uint32_t kAllListeners = 255;
constexpr uint32_t kNoFrame = 0xFFFFFFFFu;
constexpr uint32_t kStarvationNoteFrames = 8;

struct CoreState {
  // Written on the thread that holds the global audio lock; the timer thread reads only `modeActive`.
  std::atomic<bool> suspended{false};
  std::atomic<bool> renderWhileSuspended{false};
  std::atomic<bool> modeActive{false};
  Platform::Thread* timerThread = nullptr;
  Platform::Event timerStop{Platform::Event::Reset::Auto};
  bool createdPool = false;
  uint32_t lastStarvationFrame = kNoFrame;
};

CoreState& Core() {
  static CoreState state;
  return state;
}

// Wakes the audio thread once a frame duration while suspended mode renders by elapsed time.
uint32_t SuspendTimerMain(void*) {
  CoreState& core = Core();
  do {
    core.timerStop.Wait(FrameDurationMs());
    if (g_pAudioMgr) g_pAudioMgr->WakeThread();
  } while (core.modeActive.load(std::memory_order_acquire));
  return 0;
}

void StopSuspendTimer() {
  CoreState& core = Core();
  core.modeActive = false;
  if (!core.timerThread) return;
  core.timerStop.Set();
  Platform::JoinThread(core.timerThread);
  core.timerThread = nullptr;
  core.timerStop.Clear();
}

SNRESULT SuspendSwitch(bool suspend, bool render);

// The real back end the front end calls: one object for both interfaces.
class CSnLowerEngine final : public ISnLowerEngine, public ISnOutputServices {
 public:
  // ISnLowerEngine
  SNRESULT InitVoiceManager() override {
    const SNRESULT result = VoiceManager::InitInstanceBookkeeping();
    return result == SN_Success ? LowerEngine::Init() : result;
  }
  void TermVoiceManager() override {
    LowerEngine::Term();
    VoiceManager::TermInstanceBookkeeping();
  }
  void UpdateLimiters() override { VoiceManager::ApplyLimiters(); }
  void ProcessQueuedInstanceCommands() override { VoiceManager::RunQueuedInstanceCommands(); }
  void SetMaxNumVoicesLimit(uint16_t count) override { VoiceManager::SetGlobalMaximum(count); }
  uint32_t CheckOutputDevices() override { return CheckOutputDeviceList(); }
  SnSuspendState SuspendState() override {
    const CoreState& core = Core();
    return SnSuspendState{core.suspended, core.renderWhileSuspended, core.modeActive};
  }
  SNRESULT EnterSuspendedMode(bool render) override { return EnterSuspendedModeNow(render); }
  SNRESULT Suspend(bool render) override { return SuspendSwitch(true, render); }
  SNRESULT WakeupFromSuspend() override { return SuspendSwitch(false, true); }
  // After a frame's messages: the objects that hear a changed listener are positioned again.
  // After a frame's messages: the objects that hear a changed listener are positioned again, and
  // the voices those messages began are launched.
  void ApplyMessageSideEffects() override {
    ListenerTable().Flush();
    LaunchQueuedVoices();
  }
  bool WantsDeferredDeviceWork() override { return false; }
  void DoDeferredDeviceWork() override {}
  void PrepareFrame() override { BeginQueuedVoices(); }
  void Perform() override { PerformFrame(); }
  void RenderAfterPass() override {
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->EndPass();
  }
  void BeginOutputSinks() override { BeginDeviceSinks(); }
  const void* MainOutputDevice() override { return MainDevice(); }
  uint32_t MainOutputWaitMs() override {
    CSnOutputDevice* main = MainDevice();
    return main && main->Sink() ? main->Sink()->GetWaitTime() : Platform::kWaitForever;
  }
  void TermMotionEngine() override {
    // Term stops the motion devices while the audio thread may still be ending a frame on them.
    Platform::ReentrantGuard guard(GlobalAudioLock());
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->StopAll();
  }
  void DestroyAllVoicePipelines() override { DestroyAllPipelines(&DestroyAllMixBuses); }

  // ISnOutputServices
  void SetListenerPosition(uint32_t listener, const SnListenerPosition& position) override {
    ListenerTable().SetPosition(listener, position);
  }
  void SetListenerSpatialization(uint32_t listener, bool spatialized, uint32_t config,
                                 const float* volumesDb) override {
    if (ListenerTable().SetSpatialization(listener, spatialized, config, volumesDb) == SN_InsufficientMemory)
      SOUND_LOG_REPEATING_ABOUT(Error, listener, "SetListenerSpatialization: no memory for the volumes of listener %u",
                                listener);
  }
  void SetListenerPipeline(uint32_t listener, bool audio, bool motion) override {
    ListenerTable().SetPipeline(listener, audio, motion);
  }
  void SetListenerScalingFactor(uint32_t listener, float factor) override {
    ListenerTable().SetScalingFactor(listener, factor);
  }

  void SetSecondaryOutputVolume(uint32_t outputType, uint32_t deviceId, float volume) override {
    if (CSnOutputDevice* device = FindOutputDevice(outputType, deviceId)) device->SetVolume(volume);
  }
  void AddSecondaryOutput(uint32_t outputType, uint32_t deviceId, uint32_t listenerMask) override {
    SnOutputSettings settings;
    GetDefaultOutputSettings(settings);
    const SNRESULT added = AddOutputDeviceIfAbsent(settings, outputType, deviceId, listenerMask);
    if (added == SN_InsufficientMemory)
      SOUND_LOG_REPEATING_ABOUT(Error, deviceId, "AddSecondaryOutput: no memory for output %u of type %u", deviceId,
                                outputType);
    if (added != SN_Success) return;
    CSnOutputDevice* device = FindOutputDevice(outputType == SnOutput_SecondaryAlias ? outputType : outputType, deviceId);
    if (device && device->Sink()) device->Sink()->Play();
  }
  void RemoveSecondaryOutput(uint32_t outputType, uint32_t deviceId) override {
    if (outputType == SnOutput_Main && deviceId == 0) {
      // The main device stays: the frame count and the master bus hang on it.
      SOUND_LOG(Warning, "RemoveSecondaryOutput: the main output cannot be removed");
      return;
    }
    RemoveOutputDevice(outputType, deviceId);
  }
  void SetPanningRule(uint32_t outputType, uint32_t deviceId, uint32_t rule) override {
    CSnOutputDevice* device = FindOutputDevice(outputType, deviceId);
    if (!device) return;
    device->SetPanningRule(rule);
    ListenerTable().RefreshAllMatrices();
  }
  void SetSpeakerAngles(uint32_t outputType, uint32_t deviceId, const float* angles, uint32_t count,
                        float heightAngle) override {
    CSnOutputDevice* device = FindOutputDevice(outputType, deviceId);
    if (device && angles && ConfigType(device->ChannelConfig()) == kConfigTypeStandard &&
        device->SetSpeakerAngles(angles, count, heightAngle) == SN_InsufficientMemory)
      SOUND_LOG_REPEATING_ABOUT(Error, deviceId, "SetSpeakerAngles: no memory for the angles of output %u of type %u",
                                deviceId, outputType);
  }
  bool GetPanningRule(uint32_t outputType, uint32_t deviceId, uint32_t& rule) override {
    CSnOutputDevice* device = FindOutputDevice(outputType, deviceId);
    if (!device) return false;
    rule = device->PanningRule();
    return true;
  }
  bool GetSpeakerAngles(uint32_t outputType, uint32_t deviceId, float* angles, uint32_t& count,
                        float& heightAngle) override {
    CSnOutputDevice* device = FindOutputDevice(outputType, deviceId);
    return device && device->GetSpeakerAngles(angles, count, heightAngle) == SN_Success;
  }
  uint32_t GetSpeakerConfiguration(uint32_t outputType, uint32_t deviceId) override {
    CSnOutputDevice* device = FindOutputDevice(outputType, deviceId);
    return device && device->Sink() ? device->ChannelConfig() : 0;
  }

  void AddPlayerMotionDevice(uint32_t player, void* device, uint32_t) override {
    CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::GetOrCreate();
    if (!motion) {
      SOUND_LOG_REPEATING_ABOUT(Error, player, "AddPlayerMotionDevice: no memory for the motion device of player %u",
                                player);
      return;
    }
    motion->AddPlayerDevice(player, 0, kMotionDevicePluginId, device);
  }
  void RemovePlayerMotionDevice(uint32_t player) override {
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->RemovePlayerDevice(player);
  }
  void SetPlayerListener(uint8_t player, uint8_t listener) override {
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->SetPlayerListener(player, listener);
  }
  void SetPlayerVolume(uint32_t player, float volume) override {
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->SetPlayerVolume(player, volume);
  }

  void StartOutputCapture(const char16_t* fileName) override { LowerEngine::StartOutputCapture(fileName); }
  void StopOutputCapture() override {
    LowerEngine::StopOutputCapture();
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->StopCapture();
  }
  void AddOutputCaptureMarker(const char* text) override { LowerEngine::AddOutputCaptureMarker(text); }

  // The background-music buses silence their own children: nothing is left to the outputs.
  void SetBackgroundMusicMuted(bool) override {}

  void StopPlayingID(uint32_t playingId, int32_t ms, uint32_t curve) override {
    VoiceManager::StopPlayingID(playingId, ms, curve);
  }
  // Runs before the bank's data (or the game's copy) is freed: voices reading it move to another copy
  // of their media or end now; bus effects holding it move or let it go.
  void StopVoicesUsingBankData(CSnLoadedBank* bank) override {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    uint32_t moved = 0;
    if (const uint32_t ended = LowerEngine::DestroyPipelinesUsingBankData(bank, &moved))
      SOUND_LOG(Warning, "Media went from under %u playing voices (their bank unloaded or the game's copy unset): "
                "they stop", ended);
    if (moved)
      SOUND_LOG(Info, "Media went from under %u playing voices (their bank unloaded or the game's copy unset): "
                "they read another copy", moved);
    ReleaseBusEffectsUsingBankData(bank);
  }
  void MoveVoicesOffBankData(CSnLoadedBank* bank) override {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    LowerEngine::DestroyPipelinesUsingBankData(bank, nullptr, false);
    ReleaseBusEffectsUsingBankData(bank, false);
  }
};

CSnLowerEngine& Engine() {
  static CSnLowerEngine engine;
  return engine;
}

// What the bus nodes tell the mixing graph, handed to every mix bus of the bus's id.
class CSnBusCommands final : public ISnBusMixCommands {
 public:
  void SetBusVolume(uint32_t busId, float dB) override { LowerEngine::SetBusVolume(busId, dB); }
  void SetBusParam(uint32_t busId, uint32_t parameterId, float value, float delta) override {
    LowerEngine::SetBusParam(busId, parameterId, value, delta);
  }
  void SetBusBypassFX(uint32_t busId, uint32_t bits, uint32_t mask) override {
    LowerEngine::SetBusBypassFX(busId, bits, mask);
  }
  void UpdateBusEffect(uint32_t busId, uint32_t slot) override { LowerEngine::UpdateBusEffect(busId, slot); }
};
CSnBusCommands& BusCommands() {
  static CSnBusCommands commands;
  return commands;
}

// Slots this engine filled itself at Init, emptied again at Term.
struct InstalledSlots {
  bool lower = false;
  bool outputs = false;
  bool listeners = false;
  bool pathMotion = false;
  bool busCommands = false;
};
InstalledSlots& OwnSlots() {
  static InstalledSlots slots;
  return slots;
}

}  // namespace

ISnLowerEngine& RealLowerEngine() { return Engine(); }
ISnOutputServices& RealOutputServices() { return Engine(); }

void InstallIntoEmptySlots() {
  // Another back end runs the frame: its own services (or none) go with it.
  if (LowerEngine::Installed()) return;
  LowerEngine::Install(&Engine());
  OwnSlots().lower = true;
  if (!OutputServices()) {
    OutputServices() = &Engine();
    OwnSlots().outputs = true;
  }
  if (!InstalledListenerServices()) {
    InstallListenerServices(&ListenerTable());
    OwnSlots().listeners = true;
  }
  if (!PathMotion()) {
    InstallPathMotion(&PositionPathMotion());
    OwnSlots().pathMotion = true;
  }
  if (!BusMixCommands()) {
    BusMixCommands() = &BusCommands();
    OwnSlots().busCommands = true;
  }
}

void UninstallOwnSlots() {
  if (OwnSlots().lower && LowerEngine::Installed() == &Engine()) LowerEngine::Install(nullptr);
  if (OwnSlots().outputs && OutputServices() == &Engine()) OutputServices() = nullptr;
  if (OwnSlots().listeners && InstalledListenerServices() == &ListenerTable()) InstallListenerServices(nullptr);
  if (OwnSlots().pathMotion && PathMotion() == &PositionPathMotion()) {
    InstallPathMotion(nullptr);
    PositionPathMotion().Term();
  }
  if (OwnSlots().busCommands && BusMixCommands() == &BusCommands()) BusMixCommands() = nullptr;
  OwnSlots() = InstalledSlots{};
}

SNRESULT Init() {
  const SnPlatformInitSettings& platform = PlatformSettings();
  SetSampleRate(platform.sampleRateMode == 1 ? 24000 : 48000);
  SetSamplesPerFrame(SoundEngine::Settings().samplesPerFrame);
  CoreState& core = Core();
  core.suspended = core.renderWhileSuspended = core.modeActive = false;
  SelectVectorKernels();  // the source stage's copies take their SSE2 forms where the processor has them
  core.timerThread = nullptr;
  core.lastStarvationFrame = kNoFrame;
  if (!MemoryMgr::IsInitialized() || !ISnStreamMgr::m_pStreamMgr) return SN_Failure;
  if (g_LEngineDefaultPoolId == kInvalidPoolId) {
    const uint32_t bytes = platform.lowerEnginePoolBytes > 64 ? platform.lowerEnginePoolBytes : kDefaultPoolBytes;
    g_LEngineDefaultPoolId = MemoryMgr::CreatePool(nullptr, bytes, kPoolBlockSize, SnMemPool_AllocHook, kPoolAlignment);
    if (g_LEngineDefaultPoolId == kInvalidPoolId) return SN_InsufficientMemory;
    core.createdPool = true;
  }
  ListenerTable().Init();
  CSnSpeakerPan::InitHeadphoneTable();
  const SnInitSettings& settings = SoundEngine::Settings();
  if (AddMainOutputDevice(settings.mainOutputSettings, settings.mainOutputKind, kAllListeners) != SN_Success) {
    SOUND_LOG(Error, "LowerEngine::Init: the main output device could not be made");
    return SN_Failure;
  }
  SoundEngine::SetMainOutputChannelConfig(MainDevice()->ChannelConfig());
  SNRESULT result = InitVoiceCommands();
  if (result == SN_Success) result = InitBusGraph();
  if (result == SN_Success) SetUpDeviceNotifications();
  // Ended voices' blocks are kept from here until Term gives them back to the pool.
  if (result == SN_Success) CSnKeptBlocks::BeginKeeping();
  return result;
}

void Term() {
  RemoveDeviceNotifications();
  StopSuspendTimer();
  TermVoiceCommands();
  TermBusGraph();
  CSnPluginFactoryTable::Term();
  TermOutputDevices();
  CSnMotionDeviceMgr::Term();
  ListenerTable().Term();
  CSnKeptBlocks::EndKeeping();
  CoreState& core = Core();
  core.suspended = core.renderWhileSuspended = false;
  if (core.createdPool && g_LEngineDefaultPoolId != kInvalidPoolId) {
    MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
    g_LEngineDefaultPoolId = kInvalidPoolId;
  }
  core.createdPool = false;
}

void PerformFrame() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  const uint32_t savedCsr = _mm_getcsr();
  _mm_setcsr(savedCsr | kFlushToZero);
  CoreState& core = Core();
  // The positions this frame's voices report are of its render: the game carries them forward from now.
  if (g_pPlayPositionStore && g_pPlayPositionStore->HasPositionEntries())
    g_pPlayPositionStore->RefreshRenderTimestamp();
  // Starved sinks are acknowledged; one is taken note of at most once every few frames.
  const uint32_t frame = g_pAudioMgr ? g_pAudioMgr->CurrentFrame() : 0;
  for (CSnOutputDevice* d = FirstOutputDevice(); d; d = d->Next()) {
    CSnSink* sink = d->Sink();
    if (!sink || !sink->IsStarved()) continue;
    sink->ResetStarved();
    if (core.lastStarvationFrame == kNoFrame || frame - core.lastStarvationFrame >= kStarvationNoteFrames) {
      core.lastStarvationFrame = frame;
      break;
    }
  }
  CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (motion && motion->HasDevices()) motion->BeginFrame(frame);
  const bool render = !core.suspended || core.renderWhileSuspended;
  AdvanceWaitingPipelines();
  ComputeFrameGains();
  RunActivePipelines(render);
  if (render) {
    MixBusesDown();
    EndOutputFrame();
  }
  EndMasterVolumeFrame();
  if (motion && motion->HasDevices()) motion->EndFrame();
  RemoveIdleMixBuses();
  _mm_setcsr((_mm_getcsr() & ~kFlushToZero) | (savedCsr & kFlushToZero));
}

bool IsSuspendRequested() { return Core().suspended; }
bool IsSuspendedModeActive() { return Core().modeActive; }
bool IsSuspendTimerRunning() { return Core().timerThread != nullptr; }
uint32_t LastStarvationFrame() { return Core().lastStarvationFrame; }

void WakeAudioThread() {
  if (g_pAudioMgr) g_pAudioMgr->WakeThread();
}

SNRESULT EnterSuspendedModeNow(bool render) {
  CoreState& core = Core();
  const bool wasActive = core.modeActive;
  if (render && !core.timerThread) {
    core.modeActive = true;
    StartNamedThread(&SuspendTimerMain, nullptr, PlatformSettings().audioThread, &core.timerThread, "SN Suspended");
    if (!core.timerThread) {
      SOUND_LOG(Error, "The timer thread \"SN Suspended\" could not be created");
      return SN_Failure;
    }
  }
  if (wasActive) return SN_Success;
  const SNRESULT result = SwitchDevicesToDummySinks();
  core.modeActive = result == SN_Success;
  if (result == SN_Success && SoundEngine::IsInitialized()) WakeAudioThread();
  return result;
}

SNRESULT LeaveSuspendedMode() {
  if (RestoreDeviceSinks() != SN_Success) return SN_Failure;
  Core().modeActive = false;
  WakeAudioThread();
  StopSuspendTimer();
  return SN_Success;
}

namespace {

SNRESULT SuspendSwitch(bool suspend, bool render) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  CoreState& core = Core();
  if (suspend == core.suspended) {
    if (!core.suspended || !core.renderWhileSuspended || render) {
      core.renderWhileSuspended = render;
      return SN_NothingChanged;
    }
  }
  core.renderWhileSuspended = render;
  core.suspended = suspend;
  return suspend ? EnterSuspendedModeNow(render) : LeaveSuspendedMode();
}

}  // namespace


}  // namespace SN::LowerEngine
