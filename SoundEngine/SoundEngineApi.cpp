// The name hash, and the game-object, event, position, listener and output calls: checked on the
// caller's thread, queued for the audio thread, or read directly where they only look.
#include "SoundEngine/SoundEngineApi.h"

#include <cstring>
#include <string>

#include "Platform/TextNarrowing.h"
#include "SoundEngine/ApiQueue.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/ExternalSources.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/SnMath.h"
#include "SoundEngine/ThreadPlace.h"

namespace SN {

std::atomic<uint32_t> g_PlayingID{0};

namespace SoundEngine {

namespace {

constexpr uint32_t kAllObjects = 0xFFFFFFFFu;
// Narrow names count up to 259 bytes, 16-bit ones up to 258 code units (the copy is 260 bytes).
constexpr size_t kNarrowNameCut = 259;
constexpr size_t kWideNameCut = 258;

uint32_t HashLowered(const char* name, size_t maxChars) {
  // The length first, so the hash loop has one exit and the lowering stays off its chain.
  const size_t length = strnlen(name, maxChars);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name);
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t byte = bytes[i];
    hash = (hash * 16777619u) ^ (byte - 'A' < 26u ? byte + 32u : byte);
  }
  return hash;
}

template <typename Char>
char16_t* CopyWide(const Char* text, size_t length) {
  char16_t* copy =
      static_cast<char16_t*>(MemoryMgr::Malign(g_DefaultPoolId, (length + 1) * sizeof(char16_t), alignof(char16_t)));
  if (!copy) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = char16_t(text[i]);
  copy[length] = 0;
  return copy;
}

SNRESULT SeekOnEventImpl(uint32_t eventId, uint32_t gameObject, int32_t milliseconds, float fraction,
                         bool isFraction, bool nearestMarker, uint32_t playingId) {
  return ApiQueue::PostOnEvent<SnMsgSeekOnEvent>(SnMsg_SeekOnEvent, eventId, "SeekOnEvent", [&](SnMsgSeekOnEvent& m) {
    m.gameObject = gameObject;
    if (isFraction)
      m.position.fraction = fraction;
    else
      m.position.milliseconds = milliseconds;
    m.playingId = playingId;
    m.isFraction = isFraction;
    m.seekToNearestMarker = nearestMarker;
  });
}

// Posts a registration or an unregistration in the registry's post order: `fill` notes it there and
// answers 1 to keep its message.
template <typename Message, typename Fill>
SNRESULT PostInRegistryOrder(uint16_t type, const char* caller, Fill&& fill) {
  CSnRegistryMgr* registry = ApiQueue::Running(caller) ? g_pRegistryMgr : nullptr;
  if (!registry) return SN_Failure;
  return ApiQueue::PostInOrder<Message>(type, caller, &registry->PostOrder(),
                                        [&](Message& m) { return fill(*registry, m); });
}

SNRESULT PostUnregistration(uint32_t gameObject, const char* caller) {
  return PostInRegistryOrder<SnMsgUnregisterGameObj>(SnMsg_UnregisterGameObj, caller,
                                                     [&](CSnRegistryMgr& registry, SnMsgUnregisterGameObj& m) {
                                                       registry.NoteUnregistration(gameObject);
                                                       m.gameObject = gameObject;
                                                       return SN_Success;
                                                     });
}

ISnOutputServices* DeviceReader(const char* caller) {
  ISnOutputServices* services = OutputServices();
  if (!services) SOUND_LOG(Warning, "%s: the voice pipeline's outputs are not available", caller);
  return services;
}

}  // namespace

uint32_t GetIDFromString(const char* name) { return name ? HashLowered(name, kNarrowNameCut) : 0; }

uint32_t GetIDFromString(const char16_t* name) {
  if (!name) return 0;
  char16_t cut[kWideNameCut + 1];
  size_t length = 0;
  while (length < kWideNameCut && name[length]) {
    cut[length] = name[length];
    ++length;
  }
  cut[length] = 0;
  const std::string narrow = Platform::NarrowText(cut);
  return HashLowered(narrow.c_str(), kNarrowNameCut);
}

// ---- Game objects ----

SNRESULT RegisterGameObj(uint32_t gameObject, uint32_t listenerMask) {
  SN_CALL_IN_FLIGHT("RegisterGameObj", SN_Failure);
  if (gameObject == 0 || gameObject == kAllObjects || listenerMask > 0xFF) {
    SOUND_LOG(Error, "RegisterGameObj: game object %u with listener mask 0x%X is refused", gameObject, listenerMask);
    return SN_InvalidParameter;
  }
  // Looked for and posted in one step, in the order the pass handles registrations and
  // unregistrations: an object registered by the time its message is handled needs no memory, the
  // message only sets the new listener mask. A new one's memory is taken here, so that a registration
  // answered 1 is one the pass cannot drop for memory.
  bool noMemory = false;
  const SNRESULT result = PostInRegistryOrder<SnMsgRegisterGameObj>(
      SnMsg_RegisterGameObj, "RegisterGameObj", [&](CSnRegistryMgr& registry, SnMsgRegisterGameObj& m) {
        SnObjectMemory memory;
        noMemory = !registry.NoteRegistration(gameObject, memory);
        if (noMemory) return SN_InsufficientMemory;
        m.gameObject = gameObject;
        m.listenerMask = listenerMask;
        m.objectMemory = memory.object;
        m.entryMemory = memory.entry;
        return SN_Success;
      });
  if (noMemory)
    SOUND_LOG_REPEATING_ABOUT(Error, gameObject, "RegisterGameObj: no memory to register game object %u", gameObject);
  return result;
}

SNRESULT RegisterGameObj(uint32_t gameObject, const char*, uint32_t listenerMask) {
  return RegisterGameObj(gameObject, listenerMask);
}

SNRESULT UnregisterGameObj(uint32_t gameObject) {
  SN_CALL_IN_FLIGHT("UnregisterGameObj", SN_Failure);
  if (gameObject == 0) return SN_Failure;
  return PostUnregistration(gameObject, "UnregisterGameObj");
}

SNRESULT UnregisterAllGameObj() {
  SN_CALL_IN_FLIGHT("UnregisterAllGameObj", SN_Failure);
  return PostUnregistration(kAllObjects, "UnregisterAllGameObj");
}

SNRESULT SetPositionInternal(uint32_t gameObject, const SnSoundPosition& position) {
  SN_CALL_IN_FLIGHT("SetPosition", SN_Failure);
  return ApiQueue::Post<SnMsgSetPosition>(SnMsg_SetPosition, "SetPosition", [&](auto& m) {
    m.gameObject = gameObject;
    m.position = position;
  });
}

SNRESULT SetPosition(uint32_t gameObject, const SnSoundPosition& position) {
  if (gameObject == 0) return SN_Failure;
  return SetPositionInternal(gameObject, position);
}

SNRESULT SetMultiplePositions(uint32_t gameObject, const SnSoundPosition* positions, uint16_t count,
                              uint32_t multiPositionType) {
  SN_CALL_IN_FLIGHT("SetMultiplePositions", SN_Failure);
  if (multiPositionType > 2 || (count > 0 && !positions) || count > kMaxMultiplePositions) {
    SOUND_LOG(Error, "SetMultiplePositions: %u positions of type %u (array %s) are refused", unsigned(count),
              multiPositionType, positions ? "given" : "null");
    return SN_InvalidParameter;
  }
  CSnAudioMgr* manager = ApiQueue::Running("SetMultiplePositions");
  if (!manager) return SN_Failure;
  const uint32_t bytes = MultiplePositionsSize(count);
  if (bytes > manager->RingBytes()) {
    SOUND_LOG(Error, "SetMultiplePositions: %u positions do not fit the command queue", unsigned(count));
    return SN_InvalidParameter;
  }
  auto* m = ApiQueue::Reserve<SnMsgSetMultiplePositions>(*manager, SnMsg_SetMultiplePositions,
                                                         "SetMultiplePositions", bytes);
  if (!m) return SN_InvalidParameter;
  m->gameObject = gameObject;
  m->count = count;
  m->multiPositionType = multiPositionType;
  if (count) std::memcpy(m + 1, positions, sizeof(SnSoundPosition) * count);
  manager->FinishMessage();
  return SN_Success;
}

SNRESULT SetActiveListeners(uint32_t gameObject, uint32_t listenerMask) {
  SN_CALL_IN_FLIGHT("SetActiveListeners", SN_Failure);
  if (listenerMask > 0xFF) {
    SOUND_LOG(Error, "SetActiveListeners: listener mask 0x%X is over 8 listeners", listenerMask);
    return SN_InvalidParameter;
  }
  return ApiQueue::Post<SnMsgSetActiveListeners>(SnMsg_SetActiveListeners, "SetActiveListeners", [&](auto& m) {
    m.gameObject = gameObject;
    m.listenerMask = listenerMask;
  });
}

SNRESULT SetAttenuationScalingFactor(uint32_t gameObject, float factor) {
  SN_CALL_IN_FLIGHT("SetAttenuationScalingFactor", SN_Failure);
  if (!(factor > 0.0f)) {
    SOUND_LOG(Error, "SetAttenuationScalingFactor: factor %g is not above 0", double(factor));
    return SN_InvalidParameter;
  }
  return ApiQueue::Post<SnMsgSetAttenuationScaling>(SnMsg_SetAttenuationScaling, "SetAttenuationScalingFactor",
                                                    [&](auto& m) {
                                                      m.gameObject = gameObject;
                                                      m.factor = factor;
                                                    });
}

// ---- Events ----

uint32_t PostEvent(uint32_t eventId, uint32_t gameObject, uint32_t callbackFlags, SnCallbackFunc callback,
                   void* cookie, uint32_t externalCount, const SnExternalSourceInfo* externalSources,
                   uint32_t extraArgument) {
  SN_CALL_IN_FLIGHT("PostEvent", 0);
  CSnAudioMgr* manager = ApiQueue::Running("PostEvent");
  if (!manager) return 0;
  CSnExternalSourceList* sources = nullptr;
  if (externalCount && externalSources) {
    sources = CSnExternalSourceList::Copy(externalSources, externalCount);
    if (!sources) {
      SOUND_LOG(Error, "PostEvent: no memory to copy %u external sources of event %u", externalCount, eventId);
      return 0;
    }
  }
  // Every way out below gives back what was taken so far.
  auto fail = [&](CSnIndexedObject* event) -> uint32_t {
    if (event) event->Release();
    if (sources) sources->Release();
    return 0;
  };
  CSnIndexedObject* event = ApiQueue::FindEvent(eventId, "PostEvent");
  if (!event) return fail(nullptr);
  auto* m = ApiQueue::Reserve<SnMsgPostEvent>(*manager, SnMsg_PostEvent, "PostEvent");
  if (!m) return fail(event);
  m->event = event;
  m->externalSources = sources;
  const uint32_t playingId = ApiQueue::NextPlayingId();
  m->playingId = playingId;
  m->lastArgument = extraArgument;
  m->gameObject = gameObject;

  if (!ApiQueue::RegisterPlayingId(gameObject, playingId, sources, callback, cookie, callbackFlags, eventId,
                                   "PostEvent")) {
    m->header.type = SnMsg_Cancelled;
    m->event = nullptr;
    m->externalSources = nullptr;
    manager->FinishMessage();
    return fail(event);
  }
  manager->FinishMessage();
  return playingId;
}

uint32_t PostEvent(const char* eventName, uint32_t gameObject, uint32_t callbackFlags, SnCallbackFunc callback,
                   void* cookie, uint32_t externalCount, const SnExternalSourceInfo* externalSources,
                   uint32_t extraArgument) {
  return PostEvent(GetIDFromString(eventName), gameObject, callbackFlags, callback, cookie, externalCount,
                   externalSources, extraArgument);
}

uint32_t PostEvent(const char16_t* eventName, uint32_t gameObject, uint32_t callbackFlags, SnCallbackFunc callback,
                   void* cookie, uint32_t externalCount, const SnExternalSourceInfo* externalSources,
                   uint32_t extraArgument) {
  return PostEvent(GetIDFromString(eventName), gameObject, callbackFlags, callback, cookie, externalCount,
                   externalSources, extraArgument);
}

SNRESULT ExecuteActionOnEvent(uint32_t eventId, uint32_t actionType, uint32_t gameObject, int32_t durationMs,
                              SnCurveInterpolation curve, uint32_t playingId) {
  SN_CALL_IN_FLIGHT("ExecuteActionOnEvent", SN_Failure);
  return ApiQueue::PostOnEvent<SnMsgExecuteActionOnEvent>(SnMsg_ExecuteActionOnEvent, eventId, "ExecuteActionOnEvent",
                                                [&](SnMsgExecuteActionOnEvent& m) {
                                                  m.gameObject = gameObject;
                                                  m.actionType = actionType;
                                                  m.transitionMs = durationMs;
                                                  m.curve = curve;
                                                  m.playingId = playingId;
                                                });
}
SNRESULT ExecuteActionOnEvent(const char* eventName, uint32_t actionType, uint32_t gameObject, int32_t durationMs,
                              SnCurveInterpolation curve, uint32_t playingId) {
  return ExecuteActionOnEvent(GetIDFromString(eventName), actionType, gameObject, durationMs, curve, playingId);
}
SNRESULT ExecuteActionOnEvent(const char16_t* eventName, uint32_t actionType, uint32_t gameObject,
                              int32_t durationMs, SnCurveInterpolation curve, uint32_t playingId) {
  return ExecuteActionOnEvent(GetIDFromString(eventName), actionType, gameObject, durationMs, curve, playingId);
}

SNRESULT SeekOnEvent(uint32_t eventId, uint32_t gameObject, int32_t positionMs, bool nearestMarker,
                     uint32_t playingId) {
  SN_CALL_IN_FLIGHT("SeekOnEvent", SN_Failure);
  return SeekOnEventImpl(eventId, gameObject, positionMs, 0.0f, false, nearestMarker, playingId);
}
SNRESULT SeekOnEvent(const char* eventName, uint32_t gameObject, int32_t positionMs, bool nearestMarker,
                     uint32_t playingId) {
  return SeekOnEvent(GetIDFromString(eventName), gameObject, positionMs, nearestMarker, playingId);
}
SNRESULT SeekOnEvent(const char16_t* eventName, uint32_t gameObject, int32_t positionMs, bool nearestMarker,
                     uint32_t playingId) {
  return SeekOnEvent(GetIDFromString(eventName), gameObject, positionMs, nearestMarker, playingId);
}
SNRESULT SeekOnEvent(uint32_t eventId, uint32_t gameObject, float fraction, bool nearestMarker, uint32_t playingId) {
  SN_CALL_IN_FLIGHT("SeekOnEvent", SN_Failure);
  return SeekOnEventImpl(eventId, gameObject, 0, fraction, true, nearestMarker, playingId);
}
SNRESULT SeekOnEvent(const char* eventName, uint32_t gameObject, float fraction, bool nearestMarker,
                     uint32_t playingId) {
  return SeekOnEvent(GetIDFromString(eventName), gameObject, fraction, nearestMarker, playingId);
}
SNRESULT SeekOnEvent(const char16_t* eventName, uint32_t gameObject, float fraction, bool nearestMarker,
                     uint32_t playingId) {
  return SeekOnEvent(GetIDFromString(eventName), gameObject, fraction, nearestMarker, playingId);
}

void StopPlayingID(uint32_t playingId, int32_t durationMs, SnCurveInterpolation curve) {
  SN_CALL_IN_FLIGHT("StopPlayingID");
  if (playingId == 0) return;
  ApiQueue::Post<SnMsgStopPlayingID>(SnMsg_StopPlayingID, "StopPlayingID", [&](auto& m) {
    m.playingId = playingId;
    m.transitionMs = durationMs;
    m.curve = curve;
  });
}

SNRESULT StopAll(uint32_t gameObject) {
  SN_CALL_IN_FLIGHT("StopAll", SN_Failure);
  return ApiQueue::Post<SnMsgStopAll>(SnMsg_StopAll, "StopAll", [&](auto& m) { m.gameObject = gameObject; });
}

uint32_t PlaySourcePlugin(uint32_t pluginId, uint32_t companyId, uint32_t gameObject) {
  SN_CALL_IN_FLIGHT("PlaySourcePlugin", 0);
  uint32_t playingId = 0;
  ApiQueue::Post<SnMsgSourcePlugin>(SnMsg_SourcePlugin, "PlaySourcePlugin", [&](auto& m) {
    playingId = ApiQueue::NextPlayingId();
    m.gameObject = gameObject;
    m.playingId = playingId;
    m.pluginId = pluginId;
    m.companyId = companyId;
    m.stop = 0;
  });
  return playingId;
}

SNRESULT StopSourcePlugin(uint32_t pluginId, uint32_t companyId, uint32_t playingId) {
  SN_CALL_IN_FLIGHT("StopSourcePlugin", SN_Failure);
  return ApiQueue::Post<SnMsgSourcePlugin>(SnMsg_SourcePlugin, "StopSourcePlugin", [&](auto& m) {
    m.gameObject = kAllObjects;
    m.playingId = playingId;
    m.pluginId = pluginId;
    m.companyId = companyId;
    m.stop = 1;
  });
}

// Inside an audio pass a cancel waits for no callback running elsewhere (that may be a bank callback
// waiting for the pass): it returns at once, and one already running elsewhere may end after it; nor
// on the audio thread outside a pass (the play callbacks are its own). Anywhere else, the bank thread
// and a bank callback on a game thread included, it waits: a play's callback runs in a pass, which
// never waits for a bank callback or for the thread running one.

void CancelEventCallback(uint32_t playingId) {
  SN_CALL_IN_FLIGHT("CancelEventCallback");
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->CancelEventCallback(playingId, ThisThread::WaitsForPlayCallbacks());
}

void CancelEventCallbackCookie(void* cookie) {
  SN_CALL_IN_FLIGHT("CancelEventCallbackCookie");
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->CancelEventCallbackCookie(cookie, ThisThread::WaitsForPlayCallbacks());
}

SNRESULT GetSourcePlayPosition(uint32_t playingId, uint32_t* positionMs, bool extrapolate) {
  SN_CALL_IN_FLIGHT("GetSourcePlayPosition", SN_Failure);
  if (!positionMs) return SN_InvalidParameter;
  if (!g_pPlayPositionStore) return SN_Failure;
  return g_pPlayPositionStore->GetSourcePlayPosition(playingId, *positionMs, extrapolate);
}

SNRESULT GetSourceStreamBuffering(uint32_t playingId, int32_t& bufferingMs, bool& isBuffering) {
  SN_CALL_IN_FLIGHT("GetSourceStreamBuffering", SN_Failure);
  int32_t value = 0;
  uint32_t status = 0;
  const SNRESULT result =
      g_pPlayPositionStore ? g_pPlayPositionStore->GetSourceStreamBuffering(playingId, value, status) : SN_Failure;
  bufferingMs = result == SN_Success ? value : 0;
  isBuffering = result == SN_Success && status == SnBuffering_Filling;
  return result;
}

// ---- Listeners and outputs ----

SNRESULT SetListenerPosition(const SnListenerPosition& position, uint32_t listener) {
  SN_CALL_IN_FLIGHT("SetListenerPosition", SN_Failure);
  SnListenerPosition p = position;
  // The front vector loses its part along the (unit) top vector, so the two are at right angles.
  Normalize(p.top);
  const float along = p.top[0] * p.front[0] + p.top[1] * p.front[1] + p.top[2] * p.front[2];
  for (int i = 0; i < 3; ++i) p.front[i] -= p.top[i] * along;
  Normalize(p.front);
  return ApiQueue::Post<SnMsgSetListenerPosition>(SnMsg_SetListenerPosition, "SetListenerPosition", [&](auto& m) {
    m.listener = listener;
    std::memcpy(m.front, p.front, sizeof p.front);
    std::memcpy(m.top, p.top, sizeof p.top);
    std::memcpy(m.position, p.position, sizeof p.position);
  });
}

SNRESULT SetListenerScalingFactor(uint32_t listener, float factor) {
  SN_CALL_IN_FLIGHT("SetListenerScalingFactor", SN_Failure);
  if (!(factor > 0.0f)) {
    SOUND_LOG(Error, "SetListenerScalingFactor: factor %g is not above 0", double(factor));
    return SN_InvalidParameter;
  }
  return ApiQueue::Post<SnMsgSetListenerScaling>(SnMsg_SetListenerScaling, "SetListenerScalingFactor", [&](auto& m) {
    m.listener = listener;
    m.factor = factor;
  });
}

SNRESULT SetListenerSpatialization(uint32_t listener, bool spatialized, uint32_t channelConfig,
                                   const float* volumeOffsets) {
  SN_CALL_IN_FLIGHT("SetListenerSpatialization", SN_Failure);
  CSnAudioMgr* manager = ApiQueue::Running("SetListenerSpatialization");
  if (!manager) return SN_Failure;
  auto* m =
      ApiQueue::Reserve<SnMsgSetListenerSpatialization>(*manager, SnMsg_SetListenerSpatialization,
                                                        "SetListenerSpatialization");
  if (!m) return SN_InvalidParameter;
  m->listener = listener;
  m->channelConfig = channelConfig;
  m->spatialized = spatialized;
  // One offset per channel; a configuration without a channel count has none to carry.
  const uint32_t channels = channelConfig & 0xFF;
  if (volumeOffsets && channels) {
    // 16 bytes for every 4 channels, 16-byte aligned, as the mixer reads them.
    const uint32_t bytes = ((channels + 3) / 4) * 16;
    float* block = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
    if (!block) {
      SOUND_LOG(Error, "SetListenerSpatialization: no memory for the volume offsets of %u channels", channels);
      m->header.type = SnMsg_Cancelled;
      manager->FinishMessage();
      return SN_InsufficientMemory;
    }
    std::memset(block, 0, bytes);
    std::memcpy(block, volumeOffsets, channels * sizeof(float));
    m->volumeOffsets = block;
    m->hasVolumeOffsets = 1;
  }
  manager->FinishMessage();
  return SN_Success;
}

SNRESULT SetListenerPipeline(uint32_t listener, bool audio, bool motion) {
  SN_CALL_IN_FLIGHT("SetListenerPipeline", SN_Failure);
  return ApiQueue::Post<SnMsgSetListenerPipeline>(SnMsg_SetListenerPipeline, "SetListenerPipeline", [&](auto& m) {
    m.listener = listener;
    m.audio = audio;
    m.motion = motion;
  });
}

SNRESULT AddSecondaryOutput(uint32_t deviceId, uint32_t outputType, uint32_t listenerMask) {
  SN_CALL_IN_FLIGHT("AddSecondaryOutput", SN_Failure);
  if (outputType == 32 || listenerMask > 0xFF || (outputType != 8 && outputType != 16 && outputType != 64)) {
    SOUND_LOG(Error, "AddSecondaryOutput: output type %u with listener mask 0x%X is refused", outputType,
              listenerMask);
    return SN_InvalidParameter;
  }
  return ApiQueue::Post<SnMsgSecondaryOutput>(SnMsg_SecondaryOutput, "AddSecondaryOutput", [&](auto& m) {
    m.listenerMask = listenerMask;
    m.outputType = outputType;
    m.deviceId = deviceId;
    m.add = 1;
  });
}

SNRESULT RemoveSecondaryOutput(uint32_t deviceId, uint32_t outputType) {
  SN_CALL_IN_FLIGHT("RemoveSecondaryOutput", SN_Failure);
  // The main device renders the master bus and paces the frames: it stays.
  if (outputType == 32 && deviceId == 0) return SN_Failure;
  return ApiQueue::Post<SnMsgSecondaryOutput>(SnMsg_SecondaryOutput, "RemoveSecondaryOutput", [&](auto& m) {
    m.outputType = outputType;
    m.deviceId = deviceId;
    m.add = 0;
  });
}

SNRESULT SetSecondaryOutputVolume(uint32_t deviceId, uint32_t outputType, float volume) {
  SN_CALL_IN_FLIGHT("SetSecondaryOutputVolume", SN_Failure);
  if (outputType == 32 && deviceId == 0) return SN_Failure;
  if (!HoldLinearVolume(volume, "SetSecondaryOutputVolume")) return SN_InvalidParameter;
  return ApiQueue::Post<SnMsgSetSecondaryOutputVolume>(SnMsg_SetSecondaryOutputVolume, "SetSecondaryOutputVolume",
                                                       [&](auto& m) {
                                                         m.outputType = outputType;
                                                         m.deviceId = deviceId;
                                                         m.volume = volume;
                                                       });
}

SNRESULT SetPanningRule(uint32_t rule, uint32_t outputType, uint32_t deviceId) {
  SN_CALL_IN_FLIGHT("SetPanningRule", SN_Failure);
  return ApiQueue::Post<SnMsgSetPanningRule>(SnMsg_SetPanningRule, "SetPanningRule", [&](auto& m) {
    m.deviceId = deviceId;
    m.outputType = outputType;
    m.rule = rule;
  });
}

SNRESULT SetSpeakerAngles(const float* angles, uint32_t count, float heightAngle, uint32_t outputType,
                          uint32_t deviceId) {
  SN_CALL_IN_FLIGHT("SetSpeakerAngles", SN_Failure);
  // Half of the six speakers of the widest layout the angles describe.
  if (!angles || count < 3) {
    SOUND_LOG(Error, "SetSpeakerAngles: %u angles (array %s) are refused", count, angles ? "given" : "null");
    return SN_InvalidParameter;
  }
  CSnAudioMgr* manager = ApiQueue::Running("SetSpeakerAngles");
  if (!manager) return SN_Failure;
  auto* m = ApiQueue::Reserve<SnMsgSetSpeakerAngles>(*manager, SnMsg_SetSpeakerAngles, "SetSpeakerAngles");
  if (!m) return SN_InvalidParameter;
  float* copy = static_cast<float*>(MemoryMgr::Malign(g_DefaultPoolId, sizeof(float) * count, alignof(float)));
  if (!copy) {
    SOUND_LOG(Error, "SetSpeakerAngles: no memory to copy %u angles", count);
    m->header.type = SnMsg_Cancelled;
    manager->FinishMessage();
    return SN_InsufficientMemory;
  }
  std::memcpy(copy, angles, sizeof(float) * count);
  m->angles = copy;
  m->count = count;
  m->height = heightAngle;
  m->outputType = outputType;
  m->deviceId = deviceId;
  manager->FinishMessage();
  return SN_Success;
}

SNRESULT GetPanningRule(uint32_t& rule, uint32_t outputType, uint32_t deviceId) {
  SN_CALL_IN_FLIGHT("GetPanningRule", SN_Failure);
  // The audio thread adds and frees devices under this lock.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  ISnOutputServices* services = DeviceReader("GetPanningRule");
  return services && services->GetPanningRule(outputType, deviceId, rule) ? SN_Success : SN_Failure;
}

SNRESULT GetSpeakerAngles(float* angles, uint32_t& count, float& heightAngle, uint32_t outputType,
                          uint32_t deviceId) {
  SN_CALL_IN_FLIGHT("GetSpeakerAngles", SN_Failure);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  ISnOutputServices* services = DeviceReader("GetSpeakerAngles");
  return services && services->GetSpeakerAngles(outputType, deviceId, angles, count, heightAngle) ? SN_Success
                                                                                                   : SN_Failure;
}

uint32_t GetSpeakerConfiguration(uint32_t outputType, uint32_t deviceId) {
  SN_CALL_IN_FLIGHT("GetSpeakerConfiguration", 0);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  ISnOutputServices* services = DeviceReader("GetSpeakerConfiguration");
  return services ? services->GetSpeakerConfiguration(outputType, deviceId) : 0;
}

SNRESULT StartOutputCapture(const char16_t* fileName) {
  SN_CALL_IN_FLIGHT("StartOutputCapture", SN_Failure);
  if (!fileName) {
    SOUND_LOG(Error, "StartOutputCapture: no file name");
    return SN_InvalidParameter;
  }
  CSnAudioMgr* manager = ApiQueue::Running("StartOutputCapture");
  if (!manager) return SN_Failure;
  size_t length = 0;
  while (fileName[length]) ++length;
  char16_t* copy = CopyWide(fileName, length);
  if (!copy) {
    SOUND_LOG(Error, "StartOutputCapture: no memory to copy the file name");
    return SN_InsufficientMemory;
  }
  auto* m = ApiQueue::Reserve<SnMsgOutputCapture>(*manager, SnMsg_OutputCapture, "StartOutputCapture");
  if (!m) {
    MemoryMgr::Free(g_DefaultPoolId, copy);
    return SN_InvalidParameter;
  }
  m->fileName = copy;
  manager->FinishMessage();
  return SN_Success;
}

SNRESULT StopOutputCapture() {
  SN_CALL_IN_FLIGHT("StopOutputCapture", SN_Failure);
  return ApiQueue::Post<SnMsgOutputCapture>(SnMsg_OutputCapture, "StopOutputCapture", [](auto&) {});
}

SNRESULT AddOutputCaptureMarker(const char* text) {
  SN_CALL_IN_FLIGHT("AddOutputCaptureMarker", SN_Failure);
  CSnAudioMgr* manager = ApiQueue::Running("AddOutputCaptureMarker");
  if (!manager) return SN_Failure;
  if (!text || !*text) {
    SOUND_LOG(Error, "AddOutputCaptureMarker: empty marker text");
    return SN_InvalidParameter;
  }
  const size_t bytes = std::strlen(text) + 1;
  char* copy = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, bytes));
  if (!copy) {
    SOUND_LOG(Error, "AddOutputCaptureMarker: no memory to copy the marker text");
    return SN_InsufficientMemory;
  }
  std::memcpy(copy, text, bytes);
  auto* m = ApiQueue::Reserve<SnMsgOutputCaptureMarker>(*manager, SnMsg_OutputCaptureMarker, "AddOutputCaptureMarker");
  if (!m) {
    MemoryMgr::Free(g_DefaultPoolId, copy);
    return SN_InvalidParameter;
  }
  m->text = copy;
  manager->FinishMessage();
  return SN_Success;
}

SNRESULT SetRandomSeed(uint32_t seed) {
  SN_CALL_IN_FLIGHT("SetRandomSeed", SN_Failure);
  return ApiQueue::Post<SnMsgSetRandomSeed>(SnMsg_SetRandomSeed, "SetRandomSeed", [&](auto& m) { m.seed = seed; });
}

SNRESULT MuteBackgroundMusic(bool mute) {
  SN_CALL_IN_FLIGHT("MuteBackgroundMusic", SN_Failure);
  return ApiQueue::Post<SnMsgMuteBackgroundMusic>(SnMsg_MuteBackgroundMusic, "MuteBackgroundMusic",
                                                  [&](auto& m) { m.mute = mute; });
}

SNRESULT Suspend(bool renderAnyway) {
  SN_CALL_IN_FLIGHT("Suspend", SN_Failure);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  return LowerEngine::Suspend(renderAnyway);
}

SNRESULT WakeupFromSuspend() {
  SN_CALL_IN_FLIGHT("WakeupFromSuspend", SN_Failure);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  return LowerEngine::WakeupFromSuspend();
}

}  // namespace SoundEngine

uint32_t ApiQueue::NextPlayingId() {
  uint32_t id;
  do id = g_PlayingID.fetch_add(1, std::memory_order_relaxed) + 1;
  while (id == 0);
  return id;
}

}  // namespace SN
