// The records the API writes into the command queue: one header, then a payload per message type.
// Payload fields keep their order; pointers take their natural width, so every size comes from
// sizeof, rounded up to the queue's 8-byte step.
#pragma once

#include <algorithm>
#include <cstdint>

#include "SoundEngine/ObjectIndex.h"

namespace SN {

// Events and dynamic sequences travel as their index entries, with the reference the writer took;
// external sources as their reference-counted list.
class CSnLoadedBank;

enum SnMsgType : uint16_t {
  SnMsg_EndOfFrame = 0,
  SnMsg_PostEvent = 1,
  SnMsg_SetRTPC = 2,
  SnMsg_SetRTPCWithTransition = 3,
  SnMsg_ResetRTPC = 5,
  SnMsg_ResetRTPCWithTransition = 6,
  SnMsg_SetState = 7,
  SnMsg_SetSwitch = 8,
  SnMsg_PostTrigger = 10,
  SnMsg_RegisterGameObj = 11,
  SnMsg_UnregisterGameObj = 12,
  SnMsg_SetPosition = 13,
  SnMsg_SetActiveListeners = 14,
  SnMsg_SetListenerPosition = 16,
  SnMsg_SetListenerSpatialization = 17,
  SnMsg_SetAuxSendValues = 18,
  SnMsg_SetOutputBusVolume = 19,
  SnMsg_SetObstructionOcclusion = 20,
  SnMsg_SetSecondaryOutputVolume = 21,
  SnMsg_OpenDynamicSequence = 22,
  SnMsg_DynamicSequenceCommand = 23,
  SnMsg_StopBankVoices = 24,
  SnMsg_StopAll = 25,
  SnMsg_SetListenerPipeline = 26,
  SnMsg_SecondaryOutput = 27,
  SnMsg_SetPlayerListener = 28,
  SnMsg_SetPlayerVolume = 29,
  SnMsg_StopPlayingID = 30,
  SnMsg_ExecuteActionOnEvent = 31,
  SnMsg_PinEvent = 32,
  SnMsg_SetAttenuationScaling = 33,
  SnMsg_SetMultiplePositions = 34,
  SnMsg_SetListenerScaling = 35,
  SnMsg_SeekOnEvent = 36,
  SnMsg_SourcePlugin = 37,
  SnMsg_OutputCapture = 38,
  SnMsg_OutputCaptureMarker = 39,
  SnMsg_SetEffect = 40,
  SnMsg_SetMixer = 41,
  SnMsg_SetPanningRule = 42,
  SnMsg_SetSpeakerAngles = 43,
  SnMsg_SetRandomSeed = 46,
  SnMsg_MuteBackgroundMusic = 47,
  SnMsg_WrapMarker = 48,
  SnMsg_Cancelled = 49,
  SnMsg_TypeCount = 48,  // types a handler may serve: 1 to 47
};

struct SnMsgHeader {
  uint16_t size;  // whole message, header included
  uint16_t type;
  uint32_t unused;
};

struct SnTransitionRecord {
  int32_t durationMs;
  uint32_t curve;
  uint8_t bypassInternalInterpolation;
  uint8_t unused[3];
};

struct SnSoundPosition {
  float position[3];
  float orientation[3];
};

struct SnAuxSendValue {
  uint32_t auxBusId;
  float controlValue;
};

struct SnMsgEndOfFrame { SnMsgHeader header; };
struct SnMsgPostEvent {
  SnMsgHeader header;
  uint32_t gameObject, playingId, lastArgument, unused;
  uint32_t playParams[3];
  CSnRefCountedObject* externalSources;
  CSnIndexedObject* event;
};
struct SnMsgSetRTPC { SnMsgHeader header; uint32_t paramId; float value; uint32_t gameObject, playingId; };
struct SnMsgSetRTPCWithTransition { SnMsgSetRTPC base; SnTransitionRecord transition; };
struct SnMsgResetRTPC { SnMsgHeader header; uint32_t paramId, gameObject, playingId; };
struct SnMsgResetRTPCWithTransition { SnMsgResetRTPC base; SnTransitionRecord transition; };
struct SnMsgSetState { SnMsgHeader header; uint32_t group, state; uint8_t skipTransition, skipNotification; };
struct SnMsgSetSwitch { SnMsgHeader header; uint32_t gameObject, group, state; };
struct SnMsgPostTrigger { SnMsgHeader header; uint32_t gameObject, trigger; };
// The object and its registry entry come made by the caller (SnObjectMemory), so that the pass
// cannot drop the registration for memory.
struct SnMsgRegisterGameObj {
  SnMsgHeader header;
  uint32_t gameObject, listenerMask;
  void* objectMemory;
  void* entryMemory;
};
struct SnMsgUnregisterGameObj { SnMsgHeader header; uint32_t gameObject; };
struct SnMsgSetPosition { SnMsgHeader header; uint32_t gameObject; SnSoundPosition position; };
struct SnMsgSetActiveListeners { SnMsgHeader header; uint32_t gameObject, listenerMask; };
struct SnMsgSetListenerPosition { SnMsgHeader header; uint32_t listener; float front[3], top[3], position[3]; };
struct SnMsgSetListenerSpatialization {
  SnMsgHeader header;
  uint32_t listener;
  float* volumeOffsets;
  uint32_t channelConfig;
  uint8_t spatialized, hasVolumeOffsets;
};
struct SnMsgSetAuxSendValues { SnMsgHeader header; uint32_t gameObject, count; SnAuxSendValue sends[4]; };
struct SnMsgSetOutputBusVolume { SnMsgHeader header; uint32_t gameObject; float volume; };
struct SnMsgSetObstructionOcclusion { SnMsgHeader header; uint32_t gameObject, listener; float obstruction, occlusion; };
struct SnMsgSetSecondaryOutputVolume { SnMsgHeader header; uint32_t outputType, deviceId; float volume; };
struct SnMsgOpenDynamicSequence {
  SnMsgHeader header;
  uint32_t gameObject, playingId, unused;
  uint32_t zero[4];
  CSnIndexedObject* sequence;
};
struct SnMsgDynamicSequenceCommand {
  SnMsgHeader header;
  CSnIndexedObject* sequence;
  uint32_t command;
  int32_t transitionMs;
  uint32_t curve;
};
struct SnMsgStopBankVoices { SnMsgHeader header; CSnLoadedBank* bank; };
struct SnMsgStopAll { SnMsgHeader header; uint32_t gameObject; };
struct SnMsgSetListenerPipeline { SnMsgHeader header; uint32_t listener; uint8_t audio, motion; };
struct SnMsgSecondaryOutput {
  SnMsgHeader header;
  uint32_t listenerMask;
  void* device;
  uint32_t outputType, deviceId;
  uint8_t add;
};
// The output type of message 27 that selects a player's motion device.
constexpr uint32_t kMotionOutputType = 406;
struct SnMsgSetPlayerListener { SnMsgHeader header; uint8_t player, listener; };
struct SnMsgSetPlayerVolume { SnMsgHeader header; float volume; uint32_t player; };
struct SnMsgStopPlayingID { SnMsgHeader header; uint32_t playingId; int32_t transitionMs; uint32_t curve; };
struct SnMsgExecuteActionOnEvent {
  SnMsgHeader header;
  CSnIndexedObject* event;
  uint32_t gameObject, actionType;
  int32_t transitionMs;
  uint32_t curve, playingId;
};
struct SnMsgPinEvent {
  SnMsgHeader header;
  CSnIndexedObject* event;
  uint32_t unused;
  uint8_t activePriority, inactivePriority, pin;
};
struct SnMsgSetAttenuationScaling { SnMsgHeader header; uint32_t gameObject; float factor; };
struct SnMsgSetMultiplePositions {
  SnMsgHeader header;
  uint32_t gameObject;
  uint16_t count, unused;
  uint32_t multiPositionType;
  // `count` SnSoundPosition records follow
};
struct SnMsgSetListenerScaling { SnMsgHeader header; uint32_t listener; float factor; };
struct SnMsgSeekOnEvent {
  SnMsgHeader header;
  CSnIndexedObject* event;
  uint32_t gameObject;
  union {
    int32_t milliseconds;
    float fraction;
  } position;
  uint32_t playingId;
  uint8_t isFraction, seekToNearestMarker;
};
struct SnMsgSourcePlugin {
  SnMsgHeader header;
  uint32_t gameObject, playingId, unused[2];
  uint32_t zero[4];
  uint32_t pluginId, companyId, stop;
};
struct SnMsgOutputCapture { SnMsgHeader header; char16_t* fileName; uint32_t unused; };
struct SnMsgOutputCaptureMarker { SnMsgHeader header; char* text; };
struct SnMsgSetEffect { SnMsgHeader header; uint32_t nodeId, slot, effectId, isBus; };
struct SnMsgSetMixer { SnMsgHeader header; uint32_t busId, unused, mixerId, isBus; };
struct SnMsgSetPanningRule { SnMsgHeader header; uint32_t deviceId, outputType, rule; };
struct SnMsgSetSpeakerAngles {
  SnMsgHeader header;
  float* angles;
  uint32_t count;
  float height;
  uint32_t outputType, deviceId;
};
struct SnMsgSetRandomSeed { SnMsgHeader header; uint32_t seed; };
struct SnMsgMuteBackgroundMusic { SnMsgHeader header; uint8_t mute; };
struct SnMsgWrapMarker { SnMsgHeader header; };

// The queue's step: every message starts on an 8-byte boundary.
constexpr uint32_t kMessageAlign = 8;
constexpr uint32_t RoundMessageSize(uint32_t bytes) { return (bytes + kMessageAlign - 1) & ~(kMessageAlign - 1); }

// The total size of a fixed-size message.
template <typename Message>
constexpr uint32_t MessageSize() {
  return RoundMessageSize(uint32_t(sizeof(Message)));
}
constexpr uint32_t MultiplePositionsSize(uint32_t count) {
  return RoundMessageSize(uint32_t(sizeof(SnMsgSetMultiplePositions) + sizeof(SnSoundPosition) * count));
}

constexpr uint32_t kLargestFixedMessage = std::max({
    MessageSize<SnMsgPostEvent>(), MessageSize<SnMsgSetRTPCWithTransition>(),
    MessageSize<SnMsgResetRTPCWithTransition>(), MessageSize<SnMsgSetState>(), MessageSize<SnMsgSetSwitch>(),
    MessageSize<SnMsgRegisterGameObj>(), MessageSize<SnMsgSetPosition>(), MessageSize<SnMsgSetListenerPosition>(),
    MessageSize<SnMsgSetListenerSpatialization>(), MessageSize<SnMsgSetAuxSendValues>(),
    MessageSize<SnMsgSetObstructionOcclusion>(), MessageSize<SnMsgOpenDynamicSequence>(),
    MessageSize<SnMsgDynamicSequenceCommand>(), MessageSize<SnMsgSecondaryOutput>(),
    MessageSize<SnMsgExecuteActionOnEvent>(), MessageSize<SnMsgPinEvent>(), MessageSize<SnMsgSeekOnEvent>(),
    MessageSize<SnMsgSourcePlugin>(), MessageSize<SnMsgOutputCapture>(), MessageSize<SnMsgSetEffect>(),
    MessageSize<SnMsgSetMixer>(), MessageSize<SnMsgSetSpeakerAngles>(), MessageSize<SnMsgStopPlayingID>(),
});

}  // namespace SN
