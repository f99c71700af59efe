// Sound-engine start-up and shut-down: settings checked, the default pool, the managers created in
// their fixed order (a failure tears down all that exists), and the audio manager with its thread.
#include "SoundEngine/SoundEngine.h"

#include "SoundEngine/Actions/DelayedPlay.h"
#include "SoundEngine/Actions/EventScheduler.h"
#include "SoundEngine/Effects/EffectDefinition.h"

#include <atomic>
#include <cstring>

#include "Platform/Clock.h"
#include "SoundEngine/Actions/DelayedPlay.h"
#include "SoundEngine/Actions/EventScheduler.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/StreamCachePinMgr.h"
#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/GameSyncs/FrontEndManagers.h"
#include "SoundEngine/Hierarchy/NodeReceiver.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/Messages.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/ThreadPlace.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

SnMemPoolId g_DefaultPoolId = kInvalidPoolId;
SnAssertHook g_pAssertHook = nullptr;

namespace {

constexpr uint32_t kDefaultPoolBytes = 16 * 1024 * 1024;
constexpr uint32_t kDefaultPoolBlockSize = 64;
// Below this the command queue could not take a fixed message even after draining to half.
constexpr uint32_t kMinCommandQueueBytes = 4 * (kLargestFixedMessage + 4);

struct EngineState {
  SnInitSettings settings{};
  // Read by the audio thread's device check while Init, still running, may yet set it.
  std::atomic<bool> initialized{false};
  double ticksPerMs = double(Platform::kTicksPerSecond) / 1000.0;
  char* firstBankPlatform = nullptr;  // owned, terminated copy; the first bank loaded fills it
  uint32_t firstBankPlatformLength = 0;
  SnArray<SnBehavioralExtension> extensions;
  // The entry the frame's pass is calling, -1 outside a pass: a removal below it moves it down.
  int32_t extensionCalled = -1;
};

EngineState& State() {
  static EngineState state;
  return state;
}

bool ValidSamplesPerFrame(uint32_t samples) {
  return samples == 256 || samples == 512 || samples == 1024 || samples == 2048;
}

SNRESULT CreateManagers() {
  EngineState& state = State();
  state.ticksPerMs = double(Platform::kTicksPerSecond) / 1000.0;
  if (!ValidSamplesPerFrame(state.settings.samplesPerFrame)) {
    SOUND_LOG(Error, "SoundEngine::Init: samplesPerFrame %u is not 256, 512, 1024 or 2048",
              state.settings.samplesPerFrame);
    return SN_InvalidParameter;
  }
  if (state.settings.commandQueueBytes <= kMinCommandQueueBytes) {
    SOUND_LOG(Error, "SoundEngine::Init: commandQueueBytes %u must be above %u", state.settings.commandQueueBytes,
              kMinCommandQueueBytes);
    return SN_InvalidParameter;
  }
  if (!g_pObjectIndex) {
    g_pObjectIndex = PoolNew<CSnObjectIndex>(g_DefaultPoolId);
    if (!g_pObjectIndex) return SN_InsufficientMemory;
  }
  InstallHierarchyReceivers();
  return CreateGameSyncManagers(state.settings);
}

void FreeExtensions() { State().extensions.Term(); }

// Term's steps; `destroyPool` is false when Init unwinds over a default pool it did not create.
void TermSteps(bool destroyPool) {
  EngineState& state = State();
  state.initialized = false;
  LowerEngine::TermMotionEngine();
  if (g_pAudioMgr) g_pAudioMgr->StopThread();
  StopBankManager();
  TermModulatorContents();
  LowerEngine::DestroyAllVoicePipelines();
  {
    // An extension told of the end may still call the engine; no callback Term answers may.
    const CallsInFlight::OwnSteps steps;
    SoundEngine::CallBehavioralExtensions(true);
  }
  FreeExtensions();
  // Unread messages give back what they own while the lower engine's pool still exists.
  if (g_pAudioMgr) g_pAudioMgr->Term();
  if (EventReceiver() == &CSnEventScheduler::Instance()) EventReceiver() = nullptr;
  if (DelayedPlayScheduler() == &EngineDelayedPlayScheduler()) DelayedPlayScheduler() = nullptr;
  // Pins give back their files and game objects while the registry and the stream manager exist.
  if (StreamCachePinMgr() == &CSnStreamCachePinMgr::Instance()) {
    CSnStreamCachePinMgr::Instance().RemoveAll();
    StreamCachePinMgr() = nullptr;
  }
  // Banks still loaded go below, after the lower engine's pool that their parameter objects live in.
  TermEffectParams();
  VoiceManager::Term();
  MidiNoteEntryPool().Term();
  // Also when another back end ran the frame: the tables live in the default pool, going below.
  CSnPluginFactoryTable::Term();
  if (g_pAudioMgr) {
    PoolDelete(g_DefaultPoolId, g_pAudioMgr);
    g_pAudioMgr = nullptr;
  }
  DestroyBankManager();
  if (g_pObjectIndex) g_pObjectIndex->ReleaseRuntimeObjects();
  RemoveSequenceReceiver();
  RemoveDynamicSequencePlayback();
  if (state.firstBankPlatform) {
    MemoryMgr::Free(g_DefaultPoolId, state.firstBankPlatform);
    state.firstBankPlatform = nullptr;
  }
  state.firstBankPlatformLength = 0;
  TermGameSyncManagers();
  if (g_pObjectIndex) {
    PoolDelete(g_DefaultPoolId, g_pObjectIndex);
    g_pObjectIndex = nullptr;
  }
  FreeExtensions();
  UninstallHierarchyReceivers();
  UninstallDefaultModulatorObjects();
  if (destroyPool && g_DefaultPoolId != kInvalidPoolId) {
    MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_DefaultPoolId = kInvalidPoolId;
  }
  // The counts of lines still repeating are said before the engine goes; without frames, the next
  // line of another kind says them.
  Base::TraceRepeats::GetInstance().Stop();
}

// Init's steps, the gate closed.
SNRESULT InitSteps(SnInitSettings* settings, SnPlatformInitSettings* platformSettings) {
  EngineState& state = State();
  // What was counted while the engine was down is said before it starts.
  Base::TraceRepeats::GetInstance().Start();
  SoundEngine::ResetApiState();
  state.firstBankPlatform = nullptr;
  state.firstBankPlatformLength = 0;
  if (!CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_SSE)) return SN_NoSSE;
  if (!MemoryMgr::IsInitialized()) return SN_MemoryMgrNotInitialized;
  if (!ISnStreamMgr::m_pStreamMgr) return SN_StreamMgrNotInitialized;

  if (settings)
    state.settings = *settings;
  else
    SoundEngine::GetDefaultInitSettings(state.settings);
  g_pAssertHook = state.settings.assertHook;
  LowerEngine::ApplyPlatformSettings(platformSettings);

  const bool poolExisted = g_DefaultPoolId != kInvalidPoolId;
  SNRESULT result = SN_Success;
  if (!poolExisted) {
    const uint32_t bytes = state.settings.defaultPoolBytes > 64 ? state.settings.defaultPoolBytes : kDefaultPoolBytes;
    g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, bytes, kDefaultPoolBlockSize, SnMemPool_AllocHook, 0);
    if (g_DefaultPoolId == kInvalidPoolId) result = SN_InsufficientMemory;
  }
  if (result == SN_Success) {
    InstallDefaultModulatorObjects();
    result = CreateManagers();
    if (result == SN_Success) result = RegisterBuiltInPlugins();
    if (result == SN_Success) {
      result = VoiceManager::Init();
      if (result == SN_Success && !g_pAudioMgr) {
        g_pAudioMgr = PoolNew<CSnAudioMgr>(g_DefaultPoolId);
        result = g_pAudioMgr ? g_pAudioMgr->Init() : SN_InsufficientMemory;
        if (result == SN_Success) result = g_pAudioMgr->LaunchThread();
      }
      if (result == SN_Success) {
        state.initialized = true;
        // A receiver put in place by someone else (a test's recorder, a tool) stays where it is.
        if (!EventReceiver()) EventReceiver() = &CSnEventScheduler::Instance();
        if (!DelayedPlayScheduler()) DelayedPlayScheduler() = &EngineDelayedPlayScheduler();
        if (!StreamCachePinMgr()) StreamCachePinMgr() = &CSnStreamCachePinMgr::Instance();
      }
    }
    if (!state.initialized) TermSteps(!poolExisted);
  }
  if (!state.initialized && !poolExisted && g_DefaultPoolId != kInvalidPoolId) {
    MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_DefaultPoolId = kInvalidPoolId;
  }
  if (settings) *settings = state.settings;
  return result;
}

}  // namespace

namespace SoundEngine {

void GetDefaultInitSettings(SnInitSettings& settings) {
  settings.assertHook = nullptr;
  settings.maxPaths = 255;
  settings.maxTransitions = 255;
  settings.defaultPoolBytes = kDefaultPoolBytes;
  settings.memoryThresholdRatio = 1.0f;
  settings.commandQueueBytes = 262144;
  settings.preparedDataPoolId = kInvalidPoolId;
  settings.gameSyncPreparation = false;
  settings.lookAheadFrames = 1;
  settings.samplesPerFrame = 1024;
  settings.reservedPoolBytesA = 262144;
  settings.reservedPoolBytesB = 65536;
  // Every kind, the float ring (bit 0) tried first; a word without bit 0 tries the looping buffer first.
  settings.mainOutputKind = 7;
  LowerEngine::GetDefaultOutputSettings(settings.mainOutputSettings);
  settings.deviceTimeoutMs = 1000;
  settings.useBankThread = 1;
  settings.useAudioThread = 1;
  settings.backgroundMusicCallback = nullptr;
  settings.backgroundMusicCookie = nullptr;
}

void GetDefaultPlatformInitSettings(SnPlatformInitSettings& settings) {
  LowerEngine::GetDefaultPlatformInitSettings(settings);
}

SNRESULT Init(SnInitSettings* settings, SnPlatformInitSettings* platformSettings) {
  EngineState& state = State();
  // One Init or Term at a time: while another runs the engine is neither up nor down.
  CallsInFlight::LifeTurn turn(CallsInFlight::LifeTurn::Try);
  if (!turn.Taken()) {
    SOUND_LOG(Warning, "SoundEngine::Init: another Init or a Term is under way");
    return SN_Failure;
  }
  // A running engine keeps its settings; the caller learns what they are.
  if (state.initialized) {
    SOUND_LOG(Warning, "SoundEngine::Init: the sound engine is already initialised");
    if (settings) *settings = state.settings;
    if (platformSettings) *platformSettings = LowerEngine::PlatformSettings();
    return SN_Failure;
  }
  // Init would wait for the call it is made in.
  if (SnCallInFlight::InCallOnThisThread()) {
    SOUND_LOG(Error, "SoundEngine::Init: called inside a call of the engine");
    return SN_Failure;
  }
  // The calls made while the engine was down end before anything is built; those made from now on
  // meet its "not initialised" answers.
  turn.Close(true);
  turn.WaitUntilLeft();
  const CallsInFlight::OwnSteps steps;
  const SNRESULT result = InitSteps(settings, platformSettings);
  turn.Open(state.initialized);
  return result;
}

bool IsInitialized() { return State().initialized; }

void Term() {
  // Only a game thread outside the engine's callbacks, calls and holds: on the engine's threads, in a
  // bank callback, inside any public call or holding a playlist, the engine would stop and free what
  // this very thread is running or using.
  const char* refused = nullptr;
  if (ThisThread::InPass())
    refused = "inside an audio pass";
  else if (ThisThread::Where() == ThisThread::Column::BankThread)
    refused = ThisThread::OnBankThread() ? "on the bank thread" : "on the audio thread";
  else if (ThisThread::InBankCallback())
    refused = "inside a bank callback";
  else if (SnCallInFlight::InCallOnThisThread())
    refused = "inside a call of the engine";
  else if (CallsInFlight::HoldsOnThisThread())
    refused = "holding a playlist";
  if (refused) {
    SOUND_LOG(Error, "Term: called %s; the engine keeps running", refused);
    return;
  }
  // Waits for an Init or another Term under way: a second Term returns once the first has freed the
  // engine, and reads nothing it frees.
  CallsInFlight::LifeTurn turn(CallsInFlight::LifeTurn::Waiting);
  if (!turn.Taken()) {
    SOUND_LOG(Error, "Term: called inside Init or Term on this thread; the engine keeps running");
    return;
  }
  turn.Close(false);
  // The calls and holds inside end with the engine whole and its threads running: a bank call
  // queued or waiting for its turn is answered SN_Failure now, a command running ends with its
  // callback, a cancel is answered as the callbacks it waits for return, a waited unload as its bank
  // ends, and a playlist held as its holder unlocks it.
  if (g_pBankManager) g_pBankManager->CloseQueue();
  turn.WaitUntilLeft();
  TermSteps(true);
  turn.Open(false);
}

SNRESULT RenderAudio() {
  SN_CALL_IN_FLIGHT("RenderAudio", SN_Failure);
  if (!State().initialized || !g_pAudioMgr) return SN_Failure;
  // A pass on another thread may hold the audio lock and wait for this one: only tried.
  const SNRESULT result = g_pAudioMgr->RenderAudio(true, ThisThread::OnlyTriesGameLocks());
  // The game's thread writes the counts the audio frames closed: the audio thread never writes the log.
  // Not from inside a pass (a callback's call), which may be the audio thread's.
  if (!ThisThread::InPass()) Base::TraceRepeats::GetInstance().WriteClosed();
  return result;
}

SNRESULT AddBehavioralExtension(SnBehavioralExtension extension) {
  SN_CALL_IN_FLIGHT("AddBehavioralExtension", SN_Failure);
  if (!extension) {
    SOUND_LOG(Error, "AddBehavioralExtension: the function is null");
    return SN_InvalidParameter;
  }
  // The audio thread walks the list every frame, under this same lock.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  return State().extensions.Add(extension) ? SN_Success : SN_InsufficientMemory;
}

SNRESULT RemoveBehavioralExtension(SnBehavioralExtension extension) {
  SN_CALL_IN_FLIGHT("RemoveBehavioralExtension", SN_Failure);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  SnArray<SnBehavioralExtension>& extensions = State().extensions;
  const int32_t index = extensions.IndexOf(extension);
  if (index < 0) return SN_Failure;
  extensions.RemoveAt(uint32_t(index));
  if (index < State().extensionCalled) --State().extensionCalled;
  return SN_Success;
}

SNRESULT RegisterGlobalCallback(SnBehavioralExtension callback) { return AddBehavioralExtension(callback); }
SNRESULT UnregisterGlobalCallback(SnBehavioralExtension callback) { return RemoveBehavioralExtension(callback); }

void CallBehavioralExtensions(bool lastCall) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  EngineState& state = State();
  // An extension may remove itself or any other while it runs: each one left is called once, and
  // one added during the pass waits for the next. The entry called is put back as it was after
  // the walk, whatever its extensions did.
  struct Walk {
    int32_t& called;
    const int32_t outer = called;
    ~Walk() { called = outer; }
  } walk{state.extensionCalled};
  // Those Term tells of the end are its own steps, and may still call the engine.
  const GameCode::Steps steps = lastCall ? GameCode::Steps::TermsOwn : GameCode::Steps::Game;
  int32_t& i = state.extensionCalled;
  for (i = int32_t(state.extensions.Count()); i-- > 0;) {
    if (uint32_t(i) >= state.extensions.Count()) continue;
    const SnBehavioralExtension extension = state.extensions[uint32_t(i)];
    GameCode::Call(GameCode::Kind::Extension, [&] { extension(lastCall); }, steps);
  }
}

SNRESULT MatchBankPlatform(const char* platform, uint32_t length) {
  EngineState& state = State();
  if (!platform) length = 0;
  if (state.firstBankPlatform) {
    if (length == state.firstBankPlatformLength && memcmp(platform, state.firstBankPlatform, length) == 0)
      return SN_Success;
    SOUND_LOG(Error, "The bank's platform \"%.*s\" is not \"%s\", the platform of the first bank loaded",
              int(length), platform ? platform : "", state.firstBankPlatform);
    return SN_PlatformMismatch;
  }
  auto* copy = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, size_t(length) + 1));
  if (!copy) return SN_InsufficientMemory;
  if (length) memcpy(copy, platform, length);
  copy[length] = 0;
  state.firstBankPlatform = copy;
  state.firstBankPlatformLength = length;
  return SN_Success;
}

const SnInitSettings& Settings() { return State().settings; }
void SetMainOutputChannelConfig(uint32_t channelConfig) { State().settings.mainOutputSettings.channelConfig = channelConfig; }
double TicksPerMillisecond() { return State().ticksPerMs; }

}  // namespace SoundEngine
}  // namespace SN
