// The sound system: the sound engine's life inside the game, the window's pause, the end of a level's
// sounds and the shared mutes.
#include "Audio/SoundSystem.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Audio/Bank.h"
#include "Audio/FilePackageLowLevelIO.h"
#include "Audio/Log.h"
#include "Audio/LogText.h"
#include "Audio/SoundEmitter.h"
#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"
#include "Base/Reflection/Registration.h"
#include "Base/ResourceCollection.h"
#include "Core/Engine.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/InputManager.h"
#include "MemoryMgr/MemoryMgr.h"
#include "MusicEngine/MusicEngine.h"
#include "Platform/AudioDevices.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace Audio {

namespace {

SoundSystem* g_instance = nullptr;

void* VirtualReserve(size_t bytes) { return Platform::VirtualAllocate(bytes); }
void VirtualFree(void* address, size_t bytes) { Platform::VirtualRelease(address, bytes); }

constexpr SN::SnMemoryHooks kProgramMemoryHooks{&malloc, &free, &VirtualReserve, &VirtualFree};

template <auto Method>
void Listen(Core::Engine& engine, SoundSystem* system, const char* hook, const char* name) {
  const Base::Function function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
  engine.GetHooks().AddSystemListener(hook, system, function);
}

}  // namespace

CSnFilePackageLowLevelIOBlocking& LowLevelIO() {
  static CSnFilePackageLowLevelIOBlocking io;
  return io;
}

SoundSystem::SoundSystem() { g_instance = this; }

SoundSystem::~SoundSystem() {
  if (g_instance == this) g_instance = nullptr;
}

SoundSystem* SoundSystem::GetInstance() { return g_instance; }

void SoundSystem::Initialize(Core::Engine* engine) {
  // Every part is taken already: a second start would only fail at each, and hook the frame step twice.
  if (SN::SoundEngine::IsInitialized()) {
    AUDIO_LOG(Error, "The sound engine already runs: a second Initialize is ignored.");
    return;
  }
  if (!SN::GetMemoryHooks().alloc) {
    SN::SetMemoryHooks(kProgramMemoryHooks);
    m_installedMemoryHooks = true;
  }
  SN::SnMemSettings memorySettings;
  memorySettings.maxNumPools = 20;
  if (SN::MemoryMgr::Init(&memorySettings) != SN::SN_Success)
    AUDIO_LOG(Error, "Could not create Sound Memory Manager.");

  SN::SnStreamMgrSettings streamSettings;
  SN::StreamMgr::GetDefaultSettings(streamSettings);
  if (!SN::StreamMgr::Create(streamSettings)) AUDIO_LOG(Error, "Could not create Sound Streaming Manager.");

  SN::SnDeviceSettings deviceSettings;
  SN::StreamMgr::GetDefaultDeviceSettings(deviceSettings);
  if (LowLevelIO().Init(deviceSettings, false) != SN::SN_Success)
    AUDIO_LOG(Error, "Could not create Sound Low Level I/O system.");

  SN::SnInitSettings initSettings;
  SN::SnPlatformInitSettings platformSettings;
  SN::SoundEngine::GetDefaultInitSettings(initSettings);
  SN::SoundEngine::GetDefaultPlatformInitSettings(platformSettings);
  // The looping buffer (kind 2): 16-bit frames that every SDL driver plays as they are.
  initSettings.mainOutputKind = 2;
  if (SN::SoundEngine::Init(&initSettings, &platformSettings) != SN::SN_Success)
    AUDIO_LOG(Error, "Could not create Sound Sound Engine.");
  else
    AddRumbleDevice();
  // SDL falls back on no driver of its own, and a driver without a device plays nothing: without these
  // lines the game would be silent unexplained. (A device that would not open is the output's own warning.)
  const std::string driverFailure = Platform::AudioDriverFailure();
  const std::string noDevice = Platform::AudioNoDeviceReason();
  if (!driverFailure.empty())
    AUDIO_LOG(Warning, "SDL's audio did not start (%s): the game plays on without sound.",
              LogSafe(driverFailure).c_str());
  else if (!noDevice.empty())
    AUDIO_LOG(Warning, "No sound device opened (%s): the game plays on without sound.", LogSafe(noDevice).c_str());

  SN::SnMusicSettings musicSettings;
  SN::MusicEngine::GetDefaultInitSettings(musicSettings);
  if (SN::MusicEngine::Init(&musicSettings) != SN::SN_Success) AUDIO_LOG(Error, "Could not create Sound Music Engine.");

  LowLevelIO().SetBaseFolder(u"Sound\\Banks\\");  // a missing folder shows when the bank does not load

  if (engine) {
    Listen<&SoundSystem::FrameStep>(*engine, this, "FrameStep", "SoundSystem::FrameStep");
    Listen<&SoundSystem::OnGameSpaceDeleted>(*engine, this, "GameSpaceDeleted", "SoundSystem::OnGameSpaceDeleted");
    Listen<&SoundSystem::OnWindowMinimize>(*engine, this, "GameWindowMinimize", "SoundSystem::OnWindowMinimize");
    Listen<&SoundSystem::OnWindowFocus>(*engine, this, "GameWindowRestore", "SoundSystem::OnWindowFocus");
  }

  Base::Resources<Bank>::Instance().GetResourceByName("GeneralBank.bnk");
}

// The game's motion sources rumble player 0's pad: the rumble device is registered and given the
// pads. A machine without an input system or pads has no device and plays motion sources silently.
void SoundSystem::AddRumbleDevice() {
  Base::GamepadSource* pads = m_rumblePads;
  if (!pads && Core::InputManager::GetInstance())
    if (Base::InputBackend* input = Core::InputManager::GetInstance()->GetBackend())
      if (Base::Gamepad* gamepad = input->GetGamepad()) pads = gamepad->Source();
  if (!pads) return;
  m_rumble.SetPads(pads);
  RegisterRumbleMotionDevice();
  if (SN::MotionEngine::AddPlayerMotionDevice(kRumblePlayer, 0, SN::kMotionDevicePluginId, &m_rumble) != SN::SN_Success) {
    AUDIO_LOG(Error, "Could not add the rumble device of player %u.", unsigned(kRumblePlayer));
    return;
  }
  // The player feels what the game's one listener hears: sounds with a motion output shake the pad.
  SN::MotionEngine::SetPlayerListener(kRumblePlayer, 0);
  SN::SoundEngine::SetListenerPipeline(0, true, true);
}

void SoundSystem::Shutdown(Core::Engine* engine) {
  // Off the engine's hooks first: a space deleted after this must not reach a system that has gone.
  if (engine)
    for (const char* hook : {"FrameStep", "GameSpaceDeleted", "GameWindowMinimize", "GameWindowRestore"})
      engine->GetHooks().RemoveSystemListener(hook, this);
  SN::MusicEngine::Term();
  SN::SoundEngine::Term();
  m_rumble.Apply();  // the device's stop reaches the motors
  m_rumble.SetPads(nullptr);
  // The bank resources name banks of the engine just stopped: a new start loads them again.
  Base::Resources<Bank>::Instance().Clear();
  CSnFilePackageLowLevelIOBlocking& io = LowLevelIO();
  io.UnloadAllPackages();
  io.LeaveLanguageObservers();
  if (io.DeviceId() != SN::kInvalidDeviceId) io.Term();
  if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
  SN::MemoryMgr::Term();
  if (m_installedMemoryHooks) {
    SN::SetMemoryHooks({});
    m_installedMemoryHooks = false;
  }
}

// The engine's own failure answers a render before or after a failed start.
void SoundSystem::FrameStep(float, Core::SpaceList*) {
  SN::SoundEngine::RenderAudio();
  // The motors take what the audio thread asked for, on the thread that reads the pads.
  m_rumble.Apply();
}

// Unregistering an emitter's game object leaves its sounds playing (the voices hold the object), so
// they are stopped first; the stop's message comes before the unregistration that the space's end
// queues. The copies of one archetype share a game object: it is stopped once.
void SoundSystem::OnGameSpaceDeleted(Core::GameSpace* space) {
  if (!space) return;
  std::vector<uint32_t> stopped;
  for (const Core::GameObject* object : space->GetObjects()) {
    const SoundEmitter* emitter = object->GetComponent<SoundEmitter>();
    if (!emitter || std::find(stopped.begin(), stopped.end(), emitter->GetGameObjectId()) != stopped.end()) continue;
    stopped.push_back(emitter->GetGameObjectId());
    PostNamedEvent("Stop_Object_Sounds", emitter->GetGameObjectId());
  }
}

void SoundSystem::OnWindowMinimize() {
  PostNamedEvent("Pause_All", kGlobalGameObject);
  SN::SoundEngine::RenderAudio();
}

void SoundSystem::OnWindowFocus() {
  if (m_audioMuted)
    m_resumeOwed = true;
  else
    PostNamedEvent("Resume_All", kGlobalGameObject);
  SN::SoundEngine::RenderAudio();
}

void SoundSystem::SetAudioMuted(bool muted) {
  m_audioMuted = muted;
  PostNamedEvent(muted ? "Mute_Master_Audio_Bus" : "UnMute_Master_Audio_Bus", kGlobalGameObject);
  if (!muted && m_resumeOwed) {
    m_resumeOwed = false;
    PostNamedEvent("Resume_All", kGlobalGameObject);
  }
}

void SoundSystem::SetBGMMuted(bool muted) {
  m_bgmMuted = muted;
  PostNamedEvent(muted ? "Mute_BGM_Bus" : "UnMute_BGM_Bus", kGlobalGameObject);
}

void SoundSystem::PostNamedEvent(const std::string& name, uint32_t gameObject) {
  if (SN::SoundEngine::PostEvent(name.c_str(), gameObject, 0, nullptr, nullptr, 0, nullptr, 0) == 0)
    AUDIO_LOG(Error, "Sound Event \"%s\" post failure.", LogSafe(name).c_str());
}

}  // namespace Audio

// The low-level I/O object exists before main, as the stream manager's resolver may be asked for it
// from the first initialisation on.
ORV_ON_LOAD { Audio::LowLevelIO(); }

ORV_REFLECT_CLASS(Audio::SoundSystem) {}
