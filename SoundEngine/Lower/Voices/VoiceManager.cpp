// The voice manager's active instances, limiter lists, limiter pass and deferred instance commands.
#include "SoundEngine/Lower/Voices/VoiceManager.h"

#include <algorithm>
#include <cmath>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/ExternalSources.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/NodeLimiter.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoicePipeline.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/PlaybackInstanceParams.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN::VoiceManager {
namespace {

constexpr float kChooseLowest = 101.0f;
constexpr uint8_t kStopReasonNodeLimit = 1;
constexpr uint8_t kStopReasonGlobalLimit = 2;
constexpr uint8_t kStopReasonMemory = 3;
constexpr uint32_t kExternalSourceType = 0x0008;
constexpr uint32_t kReasonInaudible = 41;

struct SnInstanceCommand {
  CSnPlaybackInstance* instance;
  uint32_t kind;
  uint32_t parameter;
  float time;
};

struct ManagerState {
  CSnPlaybackInstance* activeHead = nullptr;
  CSnPlaybackInstance* activeTail = nullptr;
  uint32_t activeCount = 0;
  uint32_t excludedCount = 0;
  CSnPlaybackLimiter globalLimiter{kDefaultMaxVoices, true, true};
  CSnPlaybackLimiter* activeKind1 = nullptr;
  CSnPlaybackLimiter* activeKind2 = nullptr;
  SnPooledList<SnInstanceCommand> commands;
};

ManagerState& Manager() {
  static ManagerState state;
  return state;
}

void Push(CSnPlaybackLimiter*& head, CSnPlaybackLimiter* limiter) {
  ORV_ASSERT(limiter);
  limiter->m_pNextActive = head;
  head = limiter;
}

void Unlink(CSnPlaybackLimiter*& head, CSnPlaybackLimiter* limiter) {
  for (CSnPlaybackLimiter** link = &head; *link; link = &(*link)->m_pNextActive) {
    if (*link != limiter) continue;
    *link = limiter->m_pNextActive;
    limiter->m_pNextActive = nullptr;
    return;
  }
}

// Out of the active list (the tail fixed when it was last); false when it was not there.
bool UnlinkActive(CSnPlaybackInstance* instance) {
  ManagerState& state = Manager();
  CSnPlaybackInstance* previous = instance->m_pPreviousActive;
  if (!previous && state.activeHead != instance) return false;
  CSnPlaybackInstance* next = instance->m_pNextActive;
  (previous ? previous->m_pNextActive : state.activeHead) = next;
  (next ? next->m_pPreviousActive : state.activeTail) = previous;
  instance->m_pNextActive = instance->m_pPreviousActive = nullptr;
  --state.activeCount;
  // A virtual instance that goes takes its exclusion with it, or admissions stay short forever.
  if (instance->m_excluded && state.excludedCount) --state.excludedCount;
  return true;
}

// Everything the instance holds goes; its memory goes by Destroy().
void Release(CSnPlaybackInstance* instance) {
  if (instance->Voice()) LowerEngine::RemoveQueuedVoiceCommands(instance->Voice());
  instance->Term(0);
}

void Retire(CSnPlaybackInstance* instance) {
  Release(instance);
  instance->Destroy();
}

}  // namespace

SNRESULT InitInstanceBookkeeping() {
  ManagerState& state = Manager();
  state.activeHead = state.activeTail = nullptr;
  state.activeCount = state.excludedCount = 0;
  state.activeKind1 = state.activeKind2 = nullptr;
  state.commands.Term();
  // Each run starts without the last run's limit, as the game's limit level does.
  state.globalLimiter.SetMaximum(kDefaultMaxVoices);
  // A hook put in place by someone else (a test's recorder) stays where it is.
  if (!LowerEngine::InstalledInstanceValueOwnerHook())
    LowerEngine::InstallInstanceValueOwnerHook(&LowerEngine::RecordInstanceValueOwner);
  if (!LowerEngine::VoicePipelineFactory()) LowerEngine::SetVoicePipelineFactory(&LowerEngine::RealVoicePipelineFactory());
  if (!VoiceSourceFactory()) VoiceSourceFactory() = &StageVoiceSourceFactory();
  if (!state.commands.Init(kPooledInstanceCommands, SnPooledList<SnInstanceCommand>::kUnlimited, g_DefaultPoolId,
                           kKeptInstanceCommands)) {
    // The queue stays empty; nodes will come one by one from the default pool.
    state.commands.Init(0, SnPooledList<SnInstanceCommand>::kUnlimited, g_DefaultPoolId);
    return SN_InsufficientMemory;
  }
  return SN_Success;
}

void TermInstanceBookkeeping() {
  // Plays still going at Term leave their limiters as a frame's end would, under the same lock.
  Platform::ReentrantGuard audio(GlobalAudioLock());
  ManagerState& state = Manager();
  while (CSnPlaybackInstance* instance = state.activeHead) {
    UnlinkActive(instance);
    if (!instance->m_stopping) {
      instance->m_stopping = true;
      instance->StopNow();
    }
    Retire(instance);
  }
  state.activeTail = nullptr;
  state.activeCount = state.excludedCount = 0;
  state.commands.Term();
  state.globalLimiter.Term();
  state.activeKind1 = state.activeKind2 = nullptr;
  if (LowerEngine::InstalledInstanceValueOwnerHook() == &LowerEngine::RecordInstanceValueOwner)
    LowerEngine::InstallInstanceValueOwnerHook(nullptr);
  if (LowerEngine::VoicePipelineFactory() == &LowerEngine::RealVoicePipelineFactory())
    LowerEngine::SetVoicePipelineFactory(nullptr);
  if (VoiceSourceFactory() == &StageVoiceSourceFactory()) VoiceSourceFactory() = nullptr;
}

void AddActiveInstance(CSnPlaybackInstance* instance) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  instance->m_pNextActive = nullptr;
  instance->m_pPreviousActive = state.activeTail;
  (state.activeTail ? state.activeTail->m_pNextActive : state.activeHead) = instance;
  state.activeTail = instance;
  ++state.activeCount;
}

CSnPlaybackInstance* FirstActiveInstance() { return Manager().activeHead; }

uint32_t ActiveInstanceCount() { return Manager().activeCount; }
uint32_t ExcludedInstanceCount() { return Manager().excludedCount; }

void ExcludeInstance() { ++Manager().excludedCount; }

void RecountInstance(bool enforce) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  if (state.excludedCount) --state.excludedCount;
  CSnPlaybackLimiter& global = state.globalLimiter;
  if (enforce && state.activeCount - state.excludedCount > global.Maximum()) {
    CSnPlaybackInstance* givesWay = nullptr;
    global.EnforceForNewInstance(global.Maximum(), kChooseLowest, nullptr, true, true, &givesWay,
                                 kStopReasonGlobalLimit);
  }
}

CSnPlaybackLimiter& GlobalLimiter() { return Manager().globalLimiter; }
void SetGlobalMaximum(uint16_t maximum) { Manager().globalLimiter.SetMaximum(maximum); }

void LinkActiveLimiterKind1(CSnPlaybackLimiter* limiter) { Push(Manager().activeKind1, limiter); }
void LinkActiveLimiterKind2(CSnPlaybackLimiter* limiter) { Push(Manager().activeKind2, limiter); }
void UnlinkActiveLimiterKind1(CSnPlaybackLimiter* limiter) { Unlink(Manager().activeKind1, limiter); }
void UnlinkActiveLimiterKind2(CSnPlaybackLimiter* limiter) { Unlink(Manager().activeKind2, limiter); }
CSnPlaybackLimiter* FirstActiveLimiterKind1() { return Manager().activeKind1; }
CSnPlaybackLimiter* FirstActiveLimiterKind2() { return Manager().activeKind2; }

void ApplyLimiters() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  CSnPlaybackLimiter::NewLimitPass();
  for (CSnPlaybackInstance* i = state.activeHead; i; i = i->m_pNextActive) {
    i->m_limitedLastFrame = i->m_limitedThisFrame;
    i->m_limitedThisFrame = false;
  }
  for (CSnPlaybackLimiter* l = state.activeKind1; l; l = l->m_pNextActive) l->ApplyLimit(kStopReasonNodeLimit);
  for (CSnPlaybackLimiter* l = state.activeKind2; l; l = l->m_pNextActive) l->ApplyLimit(kStopReasonNodeLimit);
  state.globalLimiter.ApplyLimit(kStopReasonGlobalLimit, true);
}

SNRESULT QueueInstanceCommand(CSnPlaybackInstance* instance, uint32_t kind, uint32_t parameter, float time) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!instance) {
    SOUND_LOG(Error, "QueueInstanceCommand: a command of kind %u for no instance", kind);
    return SN_InvalidParameter;
  }
  SnPooledList<SnInstanceCommand>& commands = Manager().commands;
  const SnInstanceCommand command{instance, kind, parameter, time};
  if (commands.Append(command)) {
    ++instance->m_queuedCommands;
    return SN_Success;
  }
  RunQueuedInstanceCommands();
  if (commands.Append(command)) {
    ++instance->m_queuedCommands;
    return SN_Success;
  }
  SOUND_LOG(Error, "QueueInstanceCommand: no memory for a command of kind %u", kind);
  return SN_InsufficientMemory;
}

void RunQueuedInstanceCommands() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnPooledList<SnInstanceCommand>& commands = Manager().commands;
  // Handlers may queue further commands: they run in this same walk, after the ones before them.
  while (auto* item = commands.Head()) {
    const SnInstanceCommand command = item->payload;
    CSnPlaybackInstance* instance = command.instance;
    commands.Remove(nullptr, item);
    --instance->m_queuedCommands;
    // Nothing reaches an instance once it is gone, not even a command queued after its going: those
    // are passed over as the walk meets them, and the last of them frees its memory. The walk ends
    // with an empty queue, so none is left waiting.
    if (instance->m_detachedPending) {
      if (!instance->m_queuedCommands) instance->Destroy();
      continue;
    }
    instance->OnInstanceCommand(command.kind, command.parameter, command.time);
    if (command.kind != SnInstanceCommand_ContextDetached) continue;
    UnlinkActive(instance);
    if (!instance->m_queuedCommands) {
      Retire(instance);
      continue;
    }
    Release(instance);
    instance->m_detachedPending = true;
  }
}

uint32_t QueuedInstanceCommandCount() { return Manager().commands.Count(); }

// ---- admission ----

namespace {

bool PoolOverThreshold(SnMemPoolId pool, float threshold) {
  if (!(threshold < 1.0f)) return false;
  MemoryMgr::PoolMemInfo info;
  if (MemoryMgr::GetPoolMemoryUsed(pool, info) != SN_Success || info.totalBytes == 0) return false;
  return double(info.usedBytes) / double(info.totalBytes) > double(threshold);
}

// A copy of the source set from the play's external-source entry of the same cookie; null when the
// play carries none (logged).
CSnSourceDesc* ResolveExternalSource(const CSnSourceDesc* source, const CSnPlayParams& params) {
  const auto* list = static_cast<const CSnExternalSourceList*>(params.externalSources);
  const SnExternalSourceInfo* entry = nullptr;
  for (uint32_t i = 0; list && i < list->Count(); ++i)
    if ((*list)[i].cookie == source->sourceId) entry = &(*list)[i];
  if (!entry) {
    SOUND_LOG(Error, "External source %u is not in the posted event's list; the sound does not play", source->sourceId);
    return nullptr;
  }
  CSnSourceDesc* copy = source->Clone();
  if (!copy) return nullptr;
  SNRESULT result = SN_Success;
  if (entry->fileName) {
    result = copy->SetExternalSource((entry->codecId << 16) | 1, entry->fileName, source->sourceId, entry->fileId,
                                     false, false);
  } else if (entry->inMemory && entry->inMemorySize) {
    copy->SetMediaSource(entry->codecId << 16, source->sourceId, 0xFFFFFFFFu, entry->inMemorySize, 0,
                         static_cast<const uint8_t*>(entry->inMemory));
  } else if (entry->fileId) {
    copy->SetMediaSource(entry->codecId << 16, source->sourceId, entry->fileId, 0,
                         CSnSourceDesc::Storage_Streamed << CSnSourceDesc::kStorageShift);
  } else {
    result = SN_Failure;
  }
  if (result != SN_Success) {
    SOUND_LOG(Error, "External source %u names no file, memory or file id; the sound does not play", source->sourceId);
    CSnSourceDesc::Destroy(copy);
    return nullptr;
  }
  return copy;
}

}  // namespace

float MinListenerDistance(const CSnRegisteredObj* gameObject) {
  // Where an emitter is that was never placed.
  static const SnSoundPosition kDefaultEmitter{{0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
  float nearest = 1e10f;
  if (!gameObject) return nearest;
  const SnPositionBlock& block = gameObject->Positions();
  const bool placed = block.count && block.positions;
  const uint32_t count = placed ? ((block.multiPositionType & 7) ? block.count : 1u) : 1u;
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
    if (!(block.listenerMask & (1u << listener))) continue;
    for (uint32_t p = 0; p < count; ++p) {
      SnEmitterListenerRay ray{};
      // Scaled by the listener alone: the game object's scaling stretches the maximum distance instead.
      nearest = std::min(nearest, LowerEngine::ComputeEmitterRay(listener, placed ? block.positions[p] : kDefaultEmitter,
                                                                 1.0f, ray));
    }
  }
  return nearest;
}

void ComputePlayPriority(SnPriorityRecord& record, const CSnPropertyNode* node, CSnRegisteredObj* gameObject,
                         float* outMaxDistance) {
  record.priority = 50.0f;
  record.offsetAtMaxDistance = 0.0f;
  if (outMaxDistance) *outMaxDistance = 0.0f;
  float priority = 50.0f, offset = 0.0f;
  if (node) node->GetPriority(SnRTPCKey::ForObject(gameObject), priority, offset);
  if (std::isfinite(priority)) record.priority = kPriorityRange.Hold(priority);
  record.basePriority = record.priority;
  if (std::isfinite(offset)) record.offsetAtMaxDistance = offset;
  float maxDistance = 0.0f;
  if (!node || !node->GetAttenuationMaxDistance(maxDistance)) return;
  maxDistance *= gameObject ? gameObject->AttenuationScaling() : 1.0f;
  if (outMaxDistance) *outMaxDistance = maxDistance;
  if (record.offsetAtMaxDistance == 0.0f) return;
  const float atDistance = record.AtDistance(MinListenerDistance(gameObject), maxDistance);
  if (std::isfinite(atDistance)) record.priority = atDistance;
}

bool MemoryThresholdAllowsPlay(float priority) {
  const bool over = PoolOverThreshold(g_DefaultPoolId, SoundEngine::Settings().memoryThresholdRatio) ||
                    PoolOverThreshold(g_LEngineDefaultPoolId, LowerEngine::PlatformSettings().memoryThresholdRatio);
  if (!over) return true;
  CSnPlaybackInstance* lowest = nullptr;
  float lowestPriority = kChooseLowest;
  for (CSnPlaybackInstance* i = Manager().activeHead; i; i = i->m_pNextActive) {
    if (i->m_stopping || i->m_limitedThisFrame || i->m_excluded) continue;
    if (i->m_priority <= lowestPriority) {
      lowestPriority = i->m_priority;
      lowest = i;
    }
  }
  if (!lowest || lowestPriority >= priority) return false;
  lowest->Kill(kStopReasonMemory);
  return true;
}

SNRESULT CheckGlobalVoiceLimit(float priority) {
  if (!MemoryThresholdAllowsPlay(priority)) return SN_Failure;
  ManagerState& state = Manager();
  CSnPlaybackLimiter& global = state.globalLimiter;
  if (state.activeCount - state.excludedCount + 1 <= global.Maximum()) return SN_Success;
  return global.EnforceForNewInstance(global.Maximum(), priority, nullptr, true, true, nullptr, kStopReasonGlobalLimit);
}

void StopPlayingID(uint32_t playingId, int32_t transitionMs, uint32_t curve) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (playingId == 0) return;
  TransParamsBase fade;
  fade.durationMs = transitionMs;
  fade.shape = curve <= SnCurve_Exp3 ? SnCurveInterpolation(curve) : SnCurve_Linear;
  for (CSnPlaybackInstance* i = Manager().activeHead; i; i = i->m_pNextActive)
    if (i->PlayingId() == playingId && !i->IsStoppedNow()) i->Stop(fade, false);
}

void StopMotionOfGameObject(const CSnRegisteredObj* gameObject) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  const TransParamsBase now;
  for (CSnPlaybackInstance* i = Manager().activeHead; i; i = i->m_pNextActive) {
    const CSnRegisteredObj* object = i->m_pGameObject;
    const bool its = gameObject ? object == gameObject : object && object->ID() != 0;
    if (its && i->IsMotion() && !i->IsStoppedNow()) i->Stop(now, false);
  }
}

namespace {

// Whether a count from `from` passes `node`: a count takes every road up, buses and parents.
bool CountsThrough(const CSnHierarchyNode* from, const CSnHierarchyNode* node) {
  if (!from) return false;
  if (from == node) return true;
  return CountsThrough(from->OutputBus(), node) || CountsThrough(from->SecondaryOutput(), node) ||
         CountsThrough(from->Parent(), node);
}

}  // namespace

bool LeaveCountsThrough(const CSnHierarchyNode* node) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  bool any = false;
  for (CSnPlaybackInstance* i = Manager().activeHead; i; i = i->m_pNextActive) {
    if (!CountsThrough(i->Node(), node) || !i->LeaveNodeCount()) continue;
    i->m_rejoinsCount = true;
    any = true;
  }
  return any;
}

void RejoinCounts() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  for (CSnPlaybackInstance* i = Manager().activeHead; i; i = i->m_pNextActive) {
    if (!i->m_rejoinsCount) continue;
    i->m_rejoinsCount = false;
    i->RejoinNodeCount();
  }
}

SNRESULT InitInstanceWithLimits(CSnPropertyNode& node, CSnPlaybackInstance& instance, float priority,
                                CSnRegisteredObj* gameObject, bool mayGoVirtual, bool& asVirtual) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnCountRecord count;
  count.priority = priority;
  count.gameObject = gameObject;
  const SNRESULT limits = node.CountInstance(count);
  // Without memory for its count the play is counted nowhere, and refused.
  if (limits == SN_InsufficientMemory) return SN_NothingChanged;
  instance.TakeNodeCount();
  if (limits == SN_PlayAsVirtual || asVirtual) {
    if (!mayGoVirtual) return SN_NothingChanged;
    asVirtual = true;
  } else if (limits != SN_Success) {
    return SN_NothingChanged;
  }
  return instance.Init(count.limiter, count.busLimiter);
}

CSnPlaybackInstance* CreateStandardPlaybackInstance(CSnPropertyNode* node, const CSnSourceDesc* source,
                                                    const CSnPlayParams& params, const SnPriorityRecord& priority,
                                                    bool ownsSource) {
  return PoolNew<CSnPlaybackInstance>(g_DefaultPoolId,
                                      CSnPlaybackInstance::ArgsFor(node, source, params, priority, ownsSource));
}

SNRESULT PlayLeafNode(CSnPropertyNode* node, const CSnSourceDesc* source, CSnPlayParams& params) {
  if (!node || !source) {
    SOUND_LOG(Error, "PlayLeafNode: no node or no source to play");
    return SN_InvalidParameter;
  }
  if (ISnLeafPlayer* player = LeafPlayer()) return player->PlayLeafNode(node, *source, params);
  SN_ASSERT_AUDIO_LOCK_HELD();
  uint8_t extra = 0;
  const bool mayGoVirtual = node->GetVoiceBehaviour(extra) != SnVirtual_Kill;

  SnPriorityRecord priority;
  float maxDistance = 0.0f;
  ComputePlayPriority(priority, node, params.gameObject, &maxDistance);
  const SNRESULT global = CheckGlobalVoiceLimit(priority.priority);
  if (global == SN_Failure) return SN_NothingChanged;

  CSnSourceDesc* ownSource = nullptr;
  if ((source->codecId >> 16) & kExternalSourceType) {
    ownSource = ResolveExternalSource(source, params);
    if (!ownSource) return SN_Failure;
    source = ownSource;
  }

  CSnPlaybackInstance* instance = nullptr;
  if (auto* creator = static_cast<ISnPlaybackInstanceCreator*>(params.instanceCreator))
    instance = creator->CreatePlaybackInstance(node, source, params, priority, ownSource != nullptr);
  else
    instance = CreateStandardPlaybackInstance(node, source, params, priority, ownSource != nullptr);
  if (!instance) {
    SOUND_LOG_REPEATING_ABOUT(Error, node->ID(), "PlayLeafNode: no memory for the playback instance of sound %u",
                              node->ID());
    if (ownSource) CSnSourceDesc::Destroy(ownSource);
    return SN_Failure;
  }
  instance->GetVoiceBehaviour();

  bool asVirtual = global == SN_PlayAsVirtual;
  SNRESULT result =
      InitInstanceWithLimits(*node, *instance, priority.priority, params.gameObject, mayGoVirtual, asVirtual);
  if (result == SN_Success) {
    uint32_t reason = 0;
    if (instance->PrepareForPlay(0.0f, false, &reason) != SN_Success) {
      if (reason == kReasonInaudible && mayGoVirtual)
        asVirtual = true;
      else
        result = SN_NothingChanged;
    }
  }
  if (result == SN_Success) {
    node->InstantiateVoiceModulators(params, *instance);
    TransParamsBase fade = params.transition;
    result = instance->Play(fade, (params.flags & CSnPlayParams::kFlagPaused) != 0, false);
  }
  if (result != SN_Success) {
    instance->Term(1);
    instance->Destroy();
    return result;
  }
  AddActiveInstance(instance);
  if (asVirtual) instance->EnterVirtual();
  if (params.midiNote) instance->SetMidiNoteContext(params.midiNote);
  return SN_Success;
}

}  // namespace SN::VoiceManager
