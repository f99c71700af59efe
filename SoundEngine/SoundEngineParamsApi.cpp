// Game parameters, switches, states, triggers, sends and obstruction (queued), and the engine-wide
// voice limit and volume threshold (applied at once, under a precedence shared with the banks).
#include <cmath>

#include "SoundEngine/ApiQueue.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/MessageHandlers.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineBankApi.h"

namespace SN::SoundEngine {

namespace {

constexpr uint32_t kAllObjects = 0xFFFFFFFFu;
constexpr uint32_t kNoneStateId = 0x2CA33BDBu;  // the hash of "none"
constexpr uint32_t kApiLevel = 0;
constexpr uint32_t kStartLevel = 3;
constexpr float kInitialThresholdDB = -96.3f;
constexpr float kInitialThresholdLinear = 1.0f / 65536.0f;

struct Limits {
  std::atomic<uint32_t> voiceLevel{kStartLevel};
  std::atomic<uint32_t> thresholdLevel{kStartLevel};
  std::atomic<uint16_t> voiceLimit{0};
  std::atomic<float> thresholdDB{kInitialThresholdDB};
  std::atomic<float> thresholdLinear{kInitialThresholdLinear};
};

Limits& TheLimits() {
  static Limits limits;
  return limits;
}

// By-name forms: a name hashing to 0 is refused with 15.
bool NameIdOk(uint32_t id, const char* caller) {
  if (id != 0) return true;
  SOUND_LOG(Error, "%s: the name hashes to 0", caller);
  return false;
}

SNRESULT QueueRTPC(uint32_t parameterId, float value, uint32_t gameObject, uint32_t playingId, int32_t durationMs,
                   SnCurveInterpolation curve, bool bypass, const char* caller) {
  // Curves hold what they map to the ranges of what they drive, but a value that is not a number
  // would still be stored and ramped from: it is refused here.
  if (!HoldGameValue(value, kAnyFiniteValue, caller, "game parameter value")) return SN_InvalidParameter;
  auto fill = [&](SnMsgSetRTPC& m) {
    m.paramId = parameterId;
    m.value = value;
    m.gameObject = gameObject;
    m.playingId = playingId;
  };
  if (durationMs == 0 && !bypass) return ApiQueue::Post<SnMsgSetRTPC>(SnMsg_SetRTPC, caller, fill);
  return ApiQueue::Post<SnMsgSetRTPCWithTransition>(SnMsg_SetRTPCWithTransition, caller, [&](auto& m) {
    fill(m.base);
    m.transition.durationMs = durationMs;
    m.transition.curve = curve;
    m.transition.bypassInternalInterpolation = bypass;
  });
}

SNRESULT QueueState(uint32_t groupId, uint32_t stateId, bool skipTransition, bool skipNotification,
                    const char* caller) {
  return ApiQueue::Post<SnMsgSetState>(SnMsg_SetState, caller, [&](auto& m) {
    m.group = groupId;
    m.state = stateId == kNoneStateId ? 0 : stateId;
    m.skipTransition = skipTransition;
    m.skipNotification = skipNotification;
  });
}

SNRESULT QueueEffect(uint32_t nodeId, uint32_t slot, uint32_t effectId, bool isBus, const char* caller) {
  return ApiQueue::Post<SnMsgSetEffect>(SnMsg_SetEffect, caller, [&](auto& m) {
    m.nodeId = nodeId;
    m.slot = slot;
    m.effectId = effectId;
    m.isBus = isBus;
  });
}

}  // namespace

SNRESULT SetRTPCValue(uint32_t parameterId, float value, uint32_t gameObject, int32_t durationMs,
                      SnCurveInterpolation curve, bool bypass) {
  SN_CALL_IN_FLIGHT("SetRTPCValue", SN_Failure);
  return QueueRTPC(parameterId, value, gameObject, 0, durationMs, curve, bypass, "SetRTPCValue");
}
SNRESULT SetRTPCValue(const char* name, float value, uint32_t gameObject, int32_t durationMs,
                      SnCurveInterpolation curve, bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "SetRTPCValue") ? SetRTPCValue(id, value, gameObject, durationMs, curve, bypass) : SN_IdNotFound;
}
SNRESULT SetRTPCValue(const char16_t* name, float value, uint32_t gameObject, int32_t durationMs,
                      SnCurveInterpolation curve, bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "SetRTPCValue") ? SetRTPCValue(id, value, gameObject, durationMs, curve, bypass) : SN_IdNotFound;
}

SNRESULT SetRTPCValueByPlayingID(uint32_t parameterId, float value, uint32_t playingId, int32_t durationMs,
                                 SnCurveInterpolation curve, bool bypass) {
  SN_CALL_IN_FLIGHT("SetRTPCValueByPlayingID", SN_Failure);
  const uint32_t gameObject = g_pPlayingIDCallbackMgr && playingId
                                  ? g_pPlayingIDCallbackMgr->GetGameObjectFromPlayingID(playingId)
                                  : kInvalidGameObjectId;
  if (gameObject == kInvalidGameObjectId) {
    SOUND_LOG(Error, "SetRTPCValueByPlayingID: playing id %u has no game object", playingId);
    return SN_InvalidParameter;
  }
  return QueueRTPC(parameterId, value, gameObject, playingId, durationMs, curve, bypass, "SetRTPCValueByPlayingID");
}
SNRESULT SetRTPCValueByPlayingID(const char* name, float value, uint32_t playingId, int32_t durationMs,
                                 SnCurveInterpolation curve, bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "SetRTPCValueByPlayingID")
             ? SetRTPCValueByPlayingID(id, value, playingId, durationMs, curve, bypass)
             : SN_IdNotFound;
}
SNRESULT SetRTPCValueByPlayingID(const char16_t* name, float value, uint32_t playingId, int32_t durationMs,
                                 SnCurveInterpolation curve, bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "SetRTPCValueByPlayingID")
             ? SetRTPCValueByPlayingID(id, value, playingId, durationMs, curve, bypass)
             : SN_IdNotFound;
}

SNRESULT ResetRTPCValue(uint32_t parameterId, uint32_t gameObject, int32_t durationMs, SnCurveInterpolation curve,
                        bool bypass) {
  SN_CALL_IN_FLIGHT("ResetRTPCValue", SN_Failure);
  auto fill = [&](SnMsgResetRTPC& m) {
    m.paramId = parameterId;
    m.gameObject = gameObject;
    m.playingId = 0;
  };
  if (durationMs == 0 && !bypass) return ApiQueue::Post<SnMsgResetRTPC>(SnMsg_ResetRTPC, "ResetRTPCValue", fill);
  return ApiQueue::Post<SnMsgResetRTPCWithTransition>(SnMsg_ResetRTPCWithTransition, "ResetRTPCValue", [&](auto& m) {
    fill(m.base);
    m.transition.durationMs = durationMs;
    m.transition.curve = curve;
    m.transition.bypassInternalInterpolation = bypass;
  });
}
SNRESULT ResetRTPCValue(const char* name, uint32_t gameObject, int32_t durationMs, SnCurveInterpolation curve,
                        bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "ResetRTPCValue") ? ResetRTPCValue(id, gameObject, durationMs, curve, bypass) : SN_IdNotFound;
}
SNRESULT ResetRTPCValue(const char16_t* name, uint32_t gameObject, int32_t durationMs, SnCurveInterpolation curve,
                        bool bypass) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "ResetRTPCValue") ? ResetRTPCValue(id, gameObject, durationMs, curve, bypass) : SN_IdNotFound;
}

SNRESULT SetSwitch(uint32_t groupId, uint32_t stateId, uint32_t gameObject) {
  SN_CALL_IN_FLIGHT("SetSwitch", SN_Failure);
  return ApiQueue::Post<SnMsgSetSwitch>(SnMsg_SetSwitch, "SetSwitch", [&](auto& m) {
    m.gameObject = gameObject;
    m.group = groupId;
    m.state = stateId;
  });
}
SNRESULT SetSwitch(const char* groupName, const char* stateName, uint32_t gameObject) {
  const uint32_t group = GetIDFromString(groupName), state = GetIDFromString(stateName);
  return NameIdOk(group, "SetSwitch") && NameIdOk(state, "SetSwitch") ? SetSwitch(group, state, gameObject)
                                                                      : SN_IdNotFound;
}
SNRESULT SetSwitch(const char16_t* groupName, const char16_t* stateName, uint32_t gameObject) {
  const uint32_t group = GetIDFromString(groupName), state = GetIDFromString(stateName);
  return NameIdOk(group, "SetSwitch") && NameIdOk(state, "SetSwitch") ? SetSwitch(group, state, gameObject)
                                                                      : SN_IdNotFound;
}

SNRESULT SetState(uint32_t groupId, uint32_t stateId) {
  SN_CALL_IN_FLIGHT("SetState", SN_Failure);
  return QueueState(groupId, stateId, false, false, "SetState");
}
SNRESULT SetState(const char* groupName, const char* stateName) {
  const uint32_t group = GetIDFromString(groupName), state = GetIDFromString(stateName);
  return NameIdOk(group, "SetState") && NameIdOk(state, "SetState") ? SetState(group, state) : SN_IdNotFound;
}
SNRESULT SetState(const char16_t* groupName, const char16_t* stateName) {
  const uint32_t group = GetIDFromString(groupName), state = GetIDFromString(stateName);
  return NameIdOk(group, "SetState") && NameIdOk(state, "SetState") ? SetState(group, state) : SN_IdNotFound;
}
SNRESULT QueueStateChange(uint32_t groupId, uint32_t stateId, bool skipTransition, bool skipNotification) {
  SN_CALL_IN_FLIGHT("QueueStateChange", SN_Failure);
  return QueueState(groupId, stateId, skipTransition, skipNotification, "QueueStateChange");
}

SNRESULT PostTrigger(uint32_t triggerId, uint32_t gameObject) {
  SN_CALL_IN_FLIGHT("PostTrigger", SN_Failure);
  return ApiQueue::Post<SnMsgPostTrigger>(SnMsg_PostTrigger, "PostTrigger", [&](auto& m) {
    m.gameObject = gameObject;
    m.trigger = triggerId;
  });
}
SNRESULT PostTrigger(const char* name, uint32_t gameObject) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "PostTrigger") ? PostTrigger(id, gameObject) : SN_IdNotFound;
}
SNRESULT PostTrigger(const char16_t* name, uint32_t gameObject) {
  const uint32_t id = GetIDFromString(name);
  return NameIdOk(id, "PostTrigger") ? PostTrigger(id, gameObject) : SN_IdNotFound;
}

SNRESULT SetGameObjectAuxSendValues(uint32_t gameObject, const SnAuxSendValue* sends, uint32_t count) {
  SN_CALL_IN_FLIGHT("SetGameObjectAuxSendValues", SN_Failure);
  if (count > 4 || (count > 0 && !sends)) {
    SOUND_LOG(Error, "SetGameObjectAuxSendValues: %u sends (array %s) are refused; at most 4", count,
              sends ? "given" : "null");
    return SN_InvalidParameter;
  }
  return ApiQueue::Post<SnMsgSetAuxSendValues>(SnMsg_SetAuxSendValues, "SetGameObjectAuxSendValues", [&](auto& m) {
    m.gameObject = gameObject;
    m.count = count;
    for (uint32_t i = 0; i < count; ++i) m.sends[i] = sends[i];
  });
}

bool HoldGameValue(float& value, SnValueRange range, const char* caller, const char* what) {
  if (!std::isfinite(value)) {
    SOUND_LOG(Error, "%s: %s %f is %s", caller, what, double(value),
              std::isnan(value) ? "not a number" : "not finite");
    return false;
  }
  if (!range.Holds(value)) {
    const float held = range.Hold(value);
    SOUND_LOG(Warning, "%s: %s %g is held to %g (%g to %g)", caller, what, double(value), double(held),
              double(range.min), double(range.max));
    value = held;
  }
  return true;
}

SNRESULT SetGameObjectOutputBusVolume(uint32_t gameObject, float volume) {
  SN_CALL_IN_FLIGHT("SetGameObjectOutputBusVolume", SN_Failure);
  if (!HoldLinearVolume(volume, "SetGameObjectOutputBusVolume")) return SN_InvalidParameter;
  return ApiQueue::Post<SnMsgSetOutputBusVolume>(SnMsg_SetOutputBusVolume, "SetGameObjectOutputBusVolume",
                                                 [&](auto& m) {
                                                   m.gameObject = gameObject;
                                                   m.volume = volume;
                                                 });
}

SNRESULT SetObjectObstructionAndOcclusion(uint32_t gameObject, uint32_t listener, float obstruction,
                                          float occlusion) {
  SN_CALL_IN_FLIGHT("SetObjectObstructionAndOcclusion", SN_Failure);
  return ApiQueue::Post<SnMsgSetObstructionOcclusion>(SnMsg_SetObstructionOcclusion,
                                                      "SetObjectObstructionAndOcclusion", [&](auto& m) {
                                                        m.gameObject = gameObject;
                                                        m.listener = listener;
                                                        m.obstruction = obstruction;
                                                        m.occlusion = occlusion;
                                                      });
}

SNRESULT SetBusEffect(uint32_t busId, uint32_t slot, uint32_t effectId) {
  SN_CALL_IN_FLIGHT("SetBusEffect", SN_Failure);
  return QueueEffect(busId, slot, effectId, true, "SetBusEffect");
}
SNRESULT SetBusEffect(const char* busName, uint32_t slot, uint32_t effectId) {
  const uint32_t id = GetIDFromString(busName);
  return NameIdOk(id, "SetBusEffect") ? SetBusEffect(id, slot, effectId) : SN_IdNotFound;
}
SNRESULT SetBusEffect(const char16_t* busName, uint32_t slot, uint32_t effectId) {
  const uint32_t id = GetIDFromString(busName);
  return NameIdOk(id, "SetBusEffect") ? SetBusEffect(id, slot, effectId) : SN_IdNotFound;
}
SNRESULT SetActorMixerEffect(uint32_t nodeId, uint32_t slot, uint32_t effectId) {
  SN_CALL_IN_FLIGHT("SetActorMixerEffect", SN_Failure);
  return QueueEffect(nodeId, slot, effectId, false, "SetActorMixerEffect");
}

SNRESULT SetMixer(uint32_t busId, uint32_t mixerId) {
  SN_CALL_IN_FLIGHT("SetMixer", SN_Failure);
  return ApiQueue::Post<SnMsgSetMixer>(SnMsg_SetMixer, "SetMixer", [&](auto& m) {
    m.busId = busId;
    m.mixerId = mixerId;
    m.isBus = 1;
  });
}
SNRESULT SetMixer(const char* busName, uint32_t mixerId) {
  const uint32_t id = GetIDFromString(busName);
  return NameIdOk(id, "SetMixer") ? SetMixer(id, mixerId) : SN_IdNotFound;
}
SNRESULT SetMixer(const char16_t* busName, uint32_t mixerId) {
  const uint32_t id = GetIDFromString(busName);
  return NameIdOk(id, "SetMixer") ? SetMixer(id, mixerId) : SN_IdNotFound;
}

SNRESULT ApplyMaxNumVoicesLimit(uint16_t count, uint32_t level) {
  SN_CALL_IN_FLIGHT("ApplyMaxNumVoicesLimit", SN_Failure);
  if (count == 0) {
    SOUND_LOG(Error, "SetMaxNumVoicesLimit: a limit of 0 voices is refused");
    return SN_InvalidParameter;
  }
  // The game's thread and the bank thread may both set it: the level test and the store go together.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  Limits& limits = TheLimits();
  if (level > limits.voiceLevel) return SN_Success;
  limits.voiceLevel = level;
  limits.voiceLimit = count;
  VoiceManager::SetMaxNumVoicesLimit(count);
  return SN_Success;
}

SNRESULT ApplyVolumeThreshold(float decibels, uint32_t level) {
  SN_CALL_IN_FLIGHT("ApplyVolumeThreshold", SN_Failure);
  if (!(decibels >= kInitialThresholdDB && decibels <= 0.0f)) {
    SOUND_LOG(Error, "SetVolumeThreshold: %g dB is outside -96.3 to 0", double(decibels));
    return SN_InvalidParameter;
  }
  Platform::ReentrantGuard guard(GlobalAudioLock());
  Limits& limits = TheLimits();
  if (level > limits.thresholdLevel) return SN_Success;
  limits.thresholdLevel = level;
  const float x = decibels / 20.0f;
  const float exact = std::pow(10.0f, x);
  const float approximate = SnFastMath::Pow10(x);
  limits.thresholdLinear = exact > approximate ? exact : approximate;
  limits.thresholdDB = decibels;
  return SN_Success;
}

SNRESULT SetMaxNumVoicesLimit(uint16_t count) { return ApplyMaxNumVoicesLimit(count, kApiLevel); }
SNRESULT SetVolumeThreshold(float decibels) { return ApplyVolumeThreshold(decibels, kApiLevel); }
uint16_t MaxNumVoicesLimit() { return TheLimits().voiceLimit; }
float VolumeThresholdDB() { return TheLimits().thresholdDB; }
float VolumeThresholdLinear() { return TheLimits().thresholdLinear; }

void ResetApiState() {
  Limits& limits = TheLimits();
  limits.voiceLevel = kStartLevel;
  limits.thresholdLevel = kStartLevel;
  limits.voiceLimit = 0;
  limits.thresholdDB = kInitialThresholdDB;
  limits.thresholdLinear = kInitialThresholdLinear;
  InstallMessageHandlers();
  ResetBankApiState();
  InstallSequenceReceiver();
  InstallDynamicSequencePlayback();
}

}  // namespace SN::SoundEngine
