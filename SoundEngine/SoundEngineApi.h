// The sound engine's game-facing calls: the name hash that every by-name call and the file packages
// use, game objects, events, positions, listeners and outputs, game parameters, switches, states,
// triggers and mixing. Queued calls check their arguments on the caller's thread, write one message
// and return; the change happens on the next audio pass. Before Init and after Term they return 2
// (playing id 0) and queue nothing.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Messages.h"

namespace SN {

// The last playing id handed out; the next is one more. 0 is never a valid playing id.
extern std::atomic<uint32_t> g_PlayingID;

// One external source of a posted event; the engine copies the array and each file name.
struct SnExternalSourceInfo {
  uint32_t cookie;
  uint32_t codecId;
  const char16_t* fileName;
  void* inMemory;
  uint32_t inMemorySize;
  uint32_t fileId;
};

// Positions a SetMultiplePositions message can hold (its size is a 16-bit field).
constexpr uint32_t kMaxMultiplePositions = 2729;

namespace SoundEngine {

// Null gives 0. At most the first 259 characters of a narrow name count (258 of a 16-bit name,
// narrowed as the sound engine narrows all 16-bit text); A-Z count as a-z. 32-bit FNV-1.
uint32_t GetIDFromString(const char* name);
uint32_t GetIDFromString(const char16_t* name);

// Game objects.
SNRESULT RegisterGameObj(uint32_t gameObject, uint32_t listenerMask = 1);
SNRESULT RegisterGameObj(uint32_t gameObject, const char* name, uint32_t listenerMask = 1);
SNRESULT UnregisterGameObj(uint32_t gameObject);
SNRESULT UnregisterAllGameObj();
SNRESULT SetPosition(uint32_t gameObject, const SnSoundPosition& position);
SNRESULT SetPositionInternal(uint32_t gameObject, const SnSoundPosition& position);
SNRESULT SetMultiplePositions(uint32_t gameObject, const SnSoundPosition* positions, uint16_t count,
                              uint32_t multiPositionType);
SNRESULT SetActiveListeners(uint32_t gameObject, uint32_t listenerMask);
SNRESULT SetAttenuationScalingFactor(uint32_t gameObject, float factor);

// Events and playing sounds. PostEvent gives the new playing id, or 0.
uint32_t PostEvent(uint32_t eventId, uint32_t gameObject, uint32_t callbackFlags = 0, SnCallbackFunc callback = nullptr,
                   void* cookie = nullptr, uint32_t externalCount = 0,
                   const SnExternalSourceInfo* externalSources = nullptr, uint32_t extraArgument = 0);
uint32_t PostEvent(const char* eventName, uint32_t gameObject, uint32_t callbackFlags = 0,
                   SnCallbackFunc callback = nullptr, void* cookie = nullptr, uint32_t externalCount = 0,
                   const SnExternalSourceInfo* externalSources = nullptr, uint32_t extraArgument = 0);
uint32_t PostEvent(const char16_t* eventName, uint32_t gameObject, uint32_t callbackFlags = 0,
                   SnCallbackFunc callback = nullptr, void* cookie = nullptr, uint32_t externalCount = 0,
                   const SnExternalSourceInfo* externalSources = nullptr, uint32_t extraArgument = 0);
SNRESULT ExecuteActionOnEvent(uint32_t eventId, uint32_t actionType, uint32_t gameObject = 0xFFFFFFFFu,
                              int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear,
                              uint32_t playingId = 0);
SNRESULT ExecuteActionOnEvent(const char* eventName, uint32_t actionType, uint32_t gameObject = 0xFFFFFFFFu,
                              int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear,
                              uint32_t playingId = 0);
SNRESULT ExecuteActionOnEvent(const char16_t* eventName, uint32_t actionType, uint32_t gameObject = 0xFFFFFFFFu,
                              int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear,
                              uint32_t playingId = 0);
SNRESULT SeekOnEvent(uint32_t eventId, uint32_t gameObject, int32_t positionMs, bool seekToNearestMarker = false,
                     uint32_t playingId = 0);
SNRESULT SeekOnEvent(const char* eventName, uint32_t gameObject, int32_t positionMs,
                     bool seekToNearestMarker = false, uint32_t playingId = 0);
SNRESULT SeekOnEvent(const char16_t* eventName, uint32_t gameObject, int32_t positionMs,
                     bool seekToNearestMarker = false, uint32_t playingId = 0);
SNRESULT SeekOnEvent(uint32_t eventId, uint32_t gameObject, float fraction, bool seekToNearestMarker = false,
                     uint32_t playingId = 0);
SNRESULT SeekOnEvent(const char* eventName, uint32_t gameObject, float fraction, bool seekToNearestMarker = false,
                     uint32_t playingId = 0);
SNRESULT SeekOnEvent(const char16_t* eventName, uint32_t gameObject, float fraction,
                     bool seekToNearestMarker = false, uint32_t playingId = 0);
void StopPlayingID(uint32_t playingId, int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear);
SNRESULT StopAll(uint32_t gameObject = 0xFFFFFFFFu);
uint32_t PlaySourcePlugin(uint32_t pluginId, uint32_t companyId, uint32_t gameObject);
SNRESULT StopSourcePlugin(uint32_t pluginId, uint32_t companyId, uint32_t playingId);
void CancelEventCallback(uint32_t playingId);
void CancelEventCallbackCookie(void* cookie);
SNRESULT GetSourcePlayPosition(uint32_t playingId, uint32_t* positionMs, bool extrapolate = true);
SNRESULT GetSourceStreamBuffering(uint32_t playingId, int32_t& bufferingMs, bool& isBuffering);

// Listeners and outputs.
SNRESULT SetListenerPosition(const SnListenerPosition& position, uint32_t listener = 0);
SNRESULT SetListenerScalingFactor(uint32_t listener, float factor);
SNRESULT SetListenerSpatialization(uint32_t listener, bool spatialized, uint32_t channelConfig,
                                   const float* volumeOffsets = nullptr);
SNRESULT SetListenerPipeline(uint32_t listener, bool audio, bool motion);
SNRESULT AddSecondaryOutput(uint32_t deviceId, uint32_t outputType, uint32_t listenerMask);
SNRESULT RemoveSecondaryOutput(uint32_t deviceId, uint32_t outputType);
SNRESULT SetSecondaryOutputVolume(uint32_t deviceId, uint32_t outputType, float volume);
SNRESULT SetPanningRule(uint32_t rule, uint32_t outputType = 0, uint32_t deviceId = 0);
SNRESULT SetSpeakerAngles(const float* angles, uint32_t count, float heightAngle, uint32_t outputType = 0,
                          uint32_t deviceId = 0);
SNRESULT GetPanningRule(uint32_t& rule, uint32_t outputType = 0, uint32_t deviceId = 0);
SNRESULT GetSpeakerAngles(float* angles, uint32_t& count, float& heightAngle, uint32_t outputType = 0,
                          uint32_t deviceId = 0);
uint32_t GetSpeakerConfiguration(uint32_t outputType = 0, uint32_t deviceId = 0);
SNRESULT StartOutputCapture(const char16_t* fileName);
SNRESULT StopOutputCapture();
SNRESULT AddOutputCaptureMarker(const char* text);
SNRESULT SetRandomSeed(uint32_t seed);
SNRESULT MuteBackgroundMusic(bool mute);
SNRESULT Suspend(bool renderAnyway = false);
SNRESULT WakeupFromSuspend();

// Game parameters, switches, states and triggers. By-name forms give 15 for a name hashing to 0.
SNRESULT SetRTPCValue(uint32_t parameterId, float value, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                      SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetRTPCValue(const char* name, float value, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                      SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetRTPCValue(const char16_t* name, float value, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                      SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetRTPCValueByPlayingID(uint32_t parameterId, float value, uint32_t playingId, int32_t durationMs = 0,
                                 SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetRTPCValueByPlayingID(const char* name, float value, uint32_t playingId, int32_t durationMs = 0,
                                 SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetRTPCValueByPlayingID(const char16_t* name, float value, uint32_t playingId, int32_t durationMs = 0,
                                 SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT ResetRTPCValue(uint32_t parameterId, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                        SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT ResetRTPCValue(const char* name, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                        SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT ResetRTPCValue(const char16_t* name, uint32_t gameObject = 0xFFFFFFFFu, int32_t durationMs = 0,
                        SnCurveInterpolation curve = SnCurve_Linear, bool bypassInternalInterpolation = false);
SNRESULT SetSwitch(uint32_t groupId, uint32_t stateId, uint32_t gameObject);
SNRESULT SetSwitch(const char* groupName, const char* stateName, uint32_t gameObject);
SNRESULT SetSwitch(const char16_t* groupName, const char16_t* stateName, uint32_t gameObject);
SNRESULT SetState(uint32_t groupId, uint32_t stateId);
SNRESULT SetState(const char* groupName, const char* stateName);
SNRESULT SetState(const char16_t* groupName, const char16_t* stateName);
SNRESULT QueueStateChange(uint32_t groupId, uint32_t stateId, bool skipTransition, bool skipNotification);
SNRESULT PostTrigger(uint32_t triggerId, uint32_t gameObject);
SNRESULT PostTrigger(const char* name, uint32_t gameObject);
SNRESULT PostTrigger(const char16_t* name, uint32_t gameObject);

// Mixing.
SNRESULT SetGameObjectAuxSendValues(uint32_t gameObject, const SnAuxSendValue* sends, uint32_t count);
SNRESULT SetGameObjectOutputBusVolume(uint32_t gameObject, float volume);
SNRESULT SetObjectObstructionAndOcclusion(uint32_t gameObject, uint32_t listener, float obstruction,
                                          float occlusion);
SNRESULT SetBusEffect(uint32_t busId, uint32_t slot, uint32_t effectId);
SNRESULT SetBusEffect(const char* busName, uint32_t slot, uint32_t effectId);
SNRESULT SetBusEffect(const char16_t* busName, uint32_t slot, uint32_t effectId);
SNRESULT SetActorMixerEffect(uint32_t nodeId, uint32_t slot, uint32_t effectId);
SNRESULT SetMixer(uint32_t busId, uint32_t mixerId);
SNRESULT SetMixer(const char* busName, uint32_t mixerId);
SNRESULT SetMixer(const char16_t* busName, uint32_t mixerId);

// Engine-wide limits, applied at once. A setting is kept only when its precedence level is not
// above the stored one: the API uses 0, bank settings 2, and Init starts from 3.
SNRESULT SetMaxNumVoicesLimit(uint16_t count);
SNRESULT SetVolumeThreshold(float decibels);
SNRESULT ApplyMaxNumVoicesLimit(uint16_t count, uint32_t level);
SNRESULT ApplyVolumeThreshold(float decibels, uint32_t level);
uint16_t MaxNumVoicesLimit();  // 0 until one is applied
float VolumeThresholdDB();
float VolumeThresholdLinear();

// A value passed by the game (`what` names it in the log): false (logged under `caller`) when it is
// not finite, else held to `range` (said when it was moved).
bool HoldGameValue(float& value, SnValueRange range, const char* caller, const char* what);
// A linear volume, as the volume setters take it: held to silence..+24 dB.
inline bool HoldLinearVolume(float& volume, const char* caller) {
  return HoldGameValue(volume, kLinearVolumeRange, caller, "volume");
}

// Init's part of the API: the message handlers installed, the limits and their levels back to
// their starting values.
void ResetApiState();

}  // namespace SoundEngine
}  // namespace SN
