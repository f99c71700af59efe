// What each queued message does on the audio thread, under the global audio lock. A message for a
// game object that is not registered is dropped without a word; whatever a message holds (events,
// sequences, copied names and arrays, a registration's memory) is given back here. Work that finds no
// memory here is said in a folded Error line naming the call and its object: the call answered 1.
#include "SoundEngine/MessageHandlers.h"

#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankMediaHolder.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/DynamicSequence/SequenceReceiver.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/NodeReceiver.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/SoundEngine.h"

namespace SN::SoundEngine {

namespace {

constexpr uint32_t kAllObjects = 0xFFFFFFFFu;

// A registered game object held for the length of a handler.
class HeldObject {
 public:
  explicit HeldObject(uint32_t id) : m_object(g_pRegistryMgr ? g_pRegistryMgr->GetObjAndAddref(id) : nullptr) {}
  ~HeldObject() {
    if (m_object) m_object->Release();
  }
  HeldObject(const HeldObject&) = delete;
  HeldObject& operator=(const HeldObject&) = delete;
  CSnRegisteredObj* get() const { return m_object; }
  explicit operator bool() const { return m_object != nullptr; }

 private:
  CSnRegisteredObj* m_object;
};

TransParamsBase Transition(const SnTransitionRecord* record) {
  TransParamsBase params;  // {0, linear, no bypass} without a record
  if (record) {
    params.durationMs = record->durationMs;
    params.shape = SnCurveInterpolation(record->curve);
    params.bypassRamping = record->bypassInternalInterpolation;
  }
  return params;
}

template <typename Message, void (*Handle)(const Message&)>
void Thunk(CSnAudioMgr&, const SnMsgHeader& header) {
  Handle(reinterpret_cast<const Message&>(header));
}

void OnPostEvent(const SnMsgPostEvent& m) {
  HeldObject object(m.gameObject);
  if (ISnEventReceiver* events = EventReceiver()) events->ScheduleEventActions(m.event, object.get(), m);
  // The post's own hold on its playing id: the id ends once its actions and voices are done.
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->ReleasePendingActionRef(m.playingId);
  if (m.event) m.event->Release();
  if (m.externalSources) m.externalSources->Release();
}

void SetRTPC(const SnMsgSetRTPC& m, const SnTransitionRecord* record) {
  if (!g_pRTPCMgr) return;
  SNRESULT result = SN_Success;
  if (m.gameObject == kAllObjects) {
    result = g_pRTPCMgr->SetRTPCInternal(m.paramId, m.value, SnRTPCKey{}, Transition(record), SnValueMeaning_Absolute);
  } else if (HeldObject object(m.gameObject); object) {
    result = g_pRTPCMgr->SetRTPCInternal(m.paramId, m.value, object.get(), m.playingId, Transition(record),
                                         SnValueMeaning_Absolute);
  }
  if (result == SN_InsufficientMemory)
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject, "%s: no memory to set game parameter %u on game object %u",
                              m.playingId ? "SetRTPCValueByPlayingID" : "SetRTPCValue", m.paramId, m.gameObject);
}
void OnSetRTPC(const SnMsgSetRTPC& m) { SetRTPC(m, nullptr); }
void OnSetRTPCWithTransition(const SnMsgSetRTPCWithTransition& m) { SetRTPC(m.base, &m.transition); }

void ResetRTPC(const SnMsgResetRTPC& m, const SnTransitionRecord* record) {
  if (!g_pRTPCMgr) return;
  if (m.gameObject == kAllObjects) {
    g_pRTPCMgr->ResetRTPCInternal(m.paramId, SnRTPCKey{}, Transition(record));
    return;
  }
  HeldObject object(m.gameObject);
  if (object) g_pRTPCMgr->ResetRTPCInternal(m.paramId, object.get(), m.playingId, Transition(record));
}
void OnResetRTPC(const SnMsgResetRTPC& m) { ResetRTPC(m, nullptr); }
void OnResetRTPCWithTransition(const SnMsgResetRTPCWithTransition& m) { ResetRTPC(m.base, &m.transition); }

void OnSetState(const SnMsgSetState& m) {
  if (g_pStateMgr) g_pStateMgr->SetState(m.group, m.state, m.skipTransition, m.skipNotification);
}

void OnSetSwitch(const SnMsgSetSwitch& m) {
  HeldObject object(m.gameObject);
  if (!object || !g_pSwitchMgr) return;
  CSnSwitchGroup* group = g_pSwitchMgr->GetOrCreateSwitchGroup(m.group);
  if (!group || !group->SetSwitch(m.state, object.get()))
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject, "SetSwitch: no memory to set switch group %u on game object %u",
                              m.group, m.gameObject);
}

void OnPostTrigger(const SnMsgPostTrigger& m) {
  if (!g_pStateMgr) return;
  if (m.gameObject == kAllObjects) {
    g_pStateMgr->Trigger(m.trigger, nullptr);
    return;
  }
  HeldObject object(m.gameObject);
  if (object) g_pStateMgr->Trigger(m.trigger, object.get());
}

void OnRegisterGameObj(const SnMsgRegisterGameObj& m) {
  const SnObjectMemory memory{m.objectMemory, m.entryMemory};
  if (!g_pRegistryMgr)
    CSnRegistryMgr::FreeObjectMemory(memory);
  else if (!g_pRegistryMgr->RegisterGameObj(m.gameObject, m.listenerMask, memory))
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject, "RegisterGameObj: no memory to register game object %u",
                              m.gameObject);
}

void OnUnregisterGameObj(const SnMsgUnregisterGameObj& m) {
  if (!g_pRegistryMgr) return;
  if (m.gameObject == kAllObjects) {
    VoiceManager::StopMotionOfGameObject(nullptr);
    g_pRegistryMgr->UnregisterAllGameObj();
  } else {
    if (const CSnRegisteredObj* object = g_pRegistryMgr->Find(m.gameObject)) VoiceManager::StopMotionOfGameObject(object);
    g_pRegistryMgr->UnregisterGameObj(m.gameObject);
  }
}

void OnSetPosition(const SnMsgSetPosition& m) {
  if (g_pRegistryMgr && g_pRegistryMgr->SetPosition(m.gameObject, m.position) == SN_InsufficientMemory)
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject, "SetPosition: no memory for the position of game object %u",
                              m.gameObject);
}

void OnSetMultiplePositions(const SnMsgSetMultiplePositions& m) {
  if (g_pRegistryMgr &&
      g_pRegistryMgr->SetMultiplePositions(m.gameObject, reinterpret_cast<const SnSoundPosition*>(&m + 1), m.count,
                                           uint8_t(m.multiPositionType)) == SN_InsufficientMemory)
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject,
                              "SetMultiplePositions: no memory for the %u positions of game object %u",
                              unsigned(m.count), m.gameObject);
}

void OnSetActiveListeners(const SnMsgSetActiveListeners& m) {
  if (g_pRegistryMgr) g_pRegistryMgr->SetActiveListeners(m.gameObject, m.listenerMask);
}

void OnSetAuxSendValues(const SnMsgSetAuxSendValues& m) {
  if (g_pRegistryMgr) g_pRegistryMgr->SetGameObjectAuxSendValues(m.gameObject, m.sends, m.count);
}

void OnSetOutputBusVolume(const SnMsgSetOutputBusVolume& m) {
  if (g_pRegistryMgr) g_pRegistryMgr->SetGameObjectOutputBusVolume(m.gameObject, m.volume);
}

void OnSetObstructionOcclusion(const SnMsgSetObstructionOcclusion& m) {
  if (g_pRegistryMgr)
    g_pRegistryMgr->SetObjectObstructionAndOcclusion(m.gameObject, m.listener, m.obstruction, m.occlusion);
}

void OnSetAttenuationScaling(const SnMsgSetAttenuationScaling& m) {
  if (g_pRegistryMgr) g_pRegistryMgr->SetAttenuationScalingFactor(m.gameObject, m.factor);
}

// ---- Listeners, outputs, capture, motion (the voice pipeline) ----

void OnSetListenerPosition(const SnMsgSetListenerPosition& m) {
  SnListenerPosition position;
  for (int i = 0; i < 3; ++i) {
    position.front[i] = m.front[i];
    position.top[i] = m.top[i];
    position.position[i] = m.position[i];
  }
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetListenerPosition(m.listener, position);
}

void OnSetListenerSpatialization(const SnMsgSetListenerSpatialization& m) {
  if (ISnOutputServices* outputs = OutputServices())
    outputs->SetListenerSpatialization(m.listener, m.spatialized, m.channelConfig,
                                       m.hasVolumeOffsets ? m.volumeOffsets : nullptr);
  if (m.volumeOffsets) MemoryMgr::Falign(g_LEngineDefaultPoolId, m.volumeOffsets);
}

void OnSetListenerPipeline(const SnMsgSetListenerPipeline& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetListenerPipeline(m.listener, m.audio, m.motion);
}

void OnSetListenerScaling(const SnMsgSetListenerScaling& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetListenerScalingFactor(m.listener, m.factor);
}

void OnSetSecondaryOutputVolume(const SnMsgSetSecondaryOutputVolume& m) {
  if (ISnOutputServices* outputs = OutputServices())
    outputs->SetSecondaryOutputVolume(m.outputType, m.deviceId, m.volume);
}

void OnSecondaryOutput(const SnMsgSecondaryOutput& m) {
  ISnOutputServices* outputs = OutputServices();
  if (!outputs) return;
  if (m.outputType == kMotionOutputType) {
    if (m.add)
      outputs->AddPlayerMotionDevice(m.deviceId, m.device, m.listenerMask);
    else
      outputs->RemovePlayerMotionDevice(m.deviceId);
  } else if (m.add) {
    outputs->AddSecondaryOutput(m.outputType, m.deviceId, m.listenerMask);
  } else {
    outputs->RemoveSecondaryOutput(m.outputType, m.deviceId);
  }
}

void OnSetPlayerListener(const SnMsgSetPlayerListener& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetPlayerListener(m.player, m.listener);
}

void OnSetPlayerVolume(const SnMsgSetPlayerVolume& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetPlayerVolume(m.player, m.volume);
}

void OnOutputCapture(const SnMsgOutputCapture& m) {
  if (ISnOutputServices* outputs = OutputServices()) {
    if (m.fileName)
      outputs->StartOutputCapture(m.fileName);
    else
      outputs->StopOutputCapture();
  }
  if (m.fileName) MemoryMgr::Free(g_DefaultPoolId, m.fileName);
}

void OnOutputCaptureMarker(const SnMsgOutputCaptureMarker& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->AddOutputCaptureMarker(m.text);
  MemoryMgr::Free(g_DefaultPoolId, m.text);
}

void OnSetPanningRule(const SnMsgSetPanningRule& m) {
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetPanningRule(m.outputType, m.deviceId, m.rule);
}

void OnSetSpeakerAngles(const SnMsgSetSpeakerAngles& m) {
  if (ISnOutputServices* outputs = OutputServices())
    outputs->SetSpeakerAngles(m.outputType, m.deviceId, m.angles, m.count, m.height);
  MemoryMgr::Free(g_DefaultPoolId, m.angles);
}

void OnSetRandomSeed(const SnMsgSetRandomSeed& m) { LowerEngine::SeedRandom(m.seed); }

void OnMuteBackgroundMusic(const SnMsgMuteBackgroundMusic& m) {
  const bool mute = m.mute != 0;
  if (mute == CSnBusNode::BackgroundMusicMuted()) return;
  // The buses silence their own children; the voice pipeline hears of it too.
  CSnBusNode::SetBackgroundMusicMuted(mute);
  if (ISnOutputServices* outputs = OutputServices()) outputs->SetBackgroundMusicMuted(mute);
  const SnInitSettings& settings = Settings();
  if (settings.backgroundMusicCallback)
    GameCode::Call(GameCode::Kind::BackgroundMusicCallback,
                   [&] { settings.backgroundMusicCallback(mute, settings.backgroundMusicCookie); });
}

// ---- Playing sounds, events, nodes, sequences, banks ----

void OnStopPlayingID(CSnAudioMgr& manager, const SnMsgHeader& header) {
  const auto& m = reinterpret_cast<const SnMsgStopPlayingID&>(header);
  manager.RemovePendingActionsOfPlayingId(m.playingId);
  if (ISnOutputServices* outputs = OutputServices()) outputs->StopPlayingID(m.playingId, m.transitionMs, m.curve);
}

void OnStopAll(const SnMsgStopAll& m) {
  const bool oneObject = m.gameObject != kAllObjects;
  HeldObject object(oneObject ? m.gameObject : 0);
  if (oneObject && !object) return;
  ISnEventReceiver* events = EventReceiver();
  if (!events) return;
  CSnEventAction* action = events->CreateAction(oneObject ? SnAction_StopAllOfObject : SnAction_StopAll, 0);
  if (!action) {
    SOUND_LOG_REPEATING_ABOUT(Error, m.gameObject, "StopAll: no memory for the stop action of game object %u",
                              m.gameObject);
    return;
  }
  // A record of its own, for this one run; the action's reference is given back here, not by it.
  // The record holds its object like any pending record, so it borrows nothing.
  CSnPendingActionItem record(action, 0);
  record.HoldGameObject(object.get());
  action->Execute(record);
  action->Release();
}

void OnExecuteActionOnEvent(const SnMsgExecuteActionOnEvent& m) {
  ISnEventReceiver* events = EventReceiver();
  if (events && m.actionType <= SnActionOnEvent_Break) {
    if (m.gameObject == kAllObjects) {
      events->ExecuteActionOnEvent(m.event, nullptr, SnActionOnEvent(m.actionType),
                                   {m.transitionMs, SnCurveInterpolation(m.curve), 0}, m.playingId);
    } else if (HeldObject object(m.gameObject); object) {
      events->ExecuteActionOnEvent(m.event, object.get(), SnActionOnEvent(m.actionType),
                                   {m.transitionMs, SnCurveInterpolation(m.curve), 0}, m.playingId);
    }
  }
  if (m.event) m.event->Release();
}

void OnSeekOnEvent(const SnMsgSeekOnEvent& m) {
  if (ISnEventReceiver* events = EventReceiver()) {
    const SnSeekPosition position{m.isFraction ? 0 : m.position.milliseconds,
                                  m.isFraction ? m.position.fraction : 0.0f, m.isFraction != 0,
                                  m.seekToNearestMarker != 0};
    if (m.gameObject == kAllObjects) {
      events->SeekOnEvent(m.event, nullptr, position, m.playingId);
    } else if (HeldObject object(m.gameObject); object) {
      events->SeekOnEvent(m.event, object.get(), position, m.playingId);
    }
  }
  if (m.event) m.event->Release();
}

void OnPinEvent(const SnMsgPinEvent& m) {
  if (ISnStreamCachePinMgr* pins = StreamCachePinMgr()) {
    if (m.pin)
      pins->PinEvent(m.event, m.unused, m.activePriority, m.inactivePriority);
    else
      pins->UnpinEvent(m.event, m.unused);
  }
  if (m.event) m.event->Release();
}

void OnSourcePlugin(const SnMsgSourcePlugin& m) {
  ISnNodeReceiver* nodes = NodeReceiver();
  if (!nodes) return;
  const uint32_t classId = (m.pluginId << 16) | (m.companyId << 4) | 2u;
  if (m.stop) {
    nodes->StopSourcePlugin(classId, m.playingId);
  } else if (HeldObject object(m.gameObject); object) {
    nodes->PlaySourcePlugin(classId, object.get(), m.playingId);
  }
}

void OnSetEffect(const SnMsgSetEffect& m) {
  ISnNodeReceiver* nodes = NodeReceiver();
  if (!nodes || !g_pObjectIndex) return;
  if (CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(m.nodeId, m.isBus != 0)) {
    nodes->SetNodeEffect(node, m.slot, m.effectId);
    node->Release();
  }
}

void OnSetMixer(const SnMsgSetMixer& m) {
  ISnNodeReceiver* nodes = NodeReceiver();
  if (!nodes || !g_pObjectIndex) return;
  if (CSnIndexedObject* bus = g_pObjectIndex->FindNodeAndAddRef(m.busId, true)) {
    nodes->SetBusMixer(bus, m.mixerId);
    bus->Release();
  }
}

void OnOpenDynamicSequence(const SnMsgOpenDynamicSequence& m) {
  HeldObject object(m.gameObject);
  if (!object) return;
  if (ISnSequenceReceiver* sequences = SequenceReceiver()) sequences->BindSequence(m.sequence, object.get(), m.playingId);
}

void OnDynamicSequenceCommand(const SnMsgDynamicSequenceCommand& m) {
  if (ISnSequenceReceiver* sequences = SequenceReceiver())
    sequences->RunSequenceCommand(m.sequence, SnSequenceCommand(m.command), m.transitionMs, m.curve);
  if (m.sequence) m.sequence->Release();
}

void OnStopBankVoices(const SnMsgStopBankVoices& m) {
  CSnBankMediaHolder::BankDataGoing(m.bank);
  if (ISnBankRecordReceiver* banks = BankRecordReceiver()) banks->FinishBankRecord(m.bank);
}

}  // namespace

void InstallMessageHandlers() {
  CSnBusNode::SetBackgroundMusicMuted(false);
  // A handler put in place by someone else (a test's recorder, a tool) stays where it is.
  auto Install = [](uint16_t type, SnMessageHandler handler) {
    const SnMessageHandler previous = SetMessageHandler(type, handler);
    if (previous && previous != handler) SetMessageHandler(type, previous);
  };
  Install(SnMsg_PostEvent, &Thunk<SnMsgPostEvent, OnPostEvent>);
  Install(SnMsg_SetRTPC, &Thunk<SnMsgSetRTPC, OnSetRTPC>);
  Install(SnMsg_SetRTPCWithTransition, &Thunk<SnMsgSetRTPCWithTransition, OnSetRTPCWithTransition>);
  Install(SnMsg_ResetRTPC, &Thunk<SnMsgResetRTPC, OnResetRTPC>);
  Install(SnMsg_ResetRTPCWithTransition, &Thunk<SnMsgResetRTPCWithTransition, OnResetRTPCWithTransition>);
  Install(SnMsg_SetState, &Thunk<SnMsgSetState, OnSetState>);
  Install(SnMsg_SetSwitch, &Thunk<SnMsgSetSwitch, OnSetSwitch>);
  Install(SnMsg_PostTrigger, &Thunk<SnMsgPostTrigger, OnPostTrigger>);
  Install(SnMsg_RegisterGameObj, &Thunk<SnMsgRegisterGameObj, OnRegisterGameObj>);
  Install(SnMsg_UnregisterGameObj, &Thunk<SnMsgUnregisterGameObj, OnUnregisterGameObj>);
  Install(SnMsg_SetPosition, &Thunk<SnMsgSetPosition, OnSetPosition>);
  Install(SnMsg_SetActiveListeners, &Thunk<SnMsgSetActiveListeners, OnSetActiveListeners>);
  Install(SnMsg_SetListenerPosition, &Thunk<SnMsgSetListenerPosition, OnSetListenerPosition>);
  Install(SnMsg_SetListenerSpatialization,
                    &Thunk<SnMsgSetListenerSpatialization, OnSetListenerSpatialization>);
  Install(SnMsg_SetAuxSendValues, &Thunk<SnMsgSetAuxSendValues, OnSetAuxSendValues>);
  Install(SnMsg_SetOutputBusVolume, &Thunk<SnMsgSetOutputBusVolume, OnSetOutputBusVolume>);
  Install(SnMsg_SetObstructionOcclusion, &Thunk<SnMsgSetObstructionOcclusion, OnSetObstructionOcclusion>);
  Install(SnMsg_SetSecondaryOutputVolume,
                    &Thunk<SnMsgSetSecondaryOutputVolume, OnSetSecondaryOutputVolume>);
  Install(SnMsg_OpenDynamicSequence, &Thunk<SnMsgOpenDynamicSequence, OnOpenDynamicSequence>);
  Install(SnMsg_DynamicSequenceCommand, &Thunk<SnMsgDynamicSequenceCommand, OnDynamicSequenceCommand>);
  Install(SnMsg_StopBankVoices, &Thunk<SnMsgStopBankVoices, OnStopBankVoices>);
  Install(SnMsg_StopAll, &Thunk<SnMsgStopAll, OnStopAll>);
  Install(SnMsg_SetListenerPipeline, &Thunk<SnMsgSetListenerPipeline, OnSetListenerPipeline>);
  Install(SnMsg_SecondaryOutput, &Thunk<SnMsgSecondaryOutput, OnSecondaryOutput>);
  Install(SnMsg_SetPlayerListener, &Thunk<SnMsgSetPlayerListener, OnSetPlayerListener>);
  Install(SnMsg_SetPlayerVolume, &Thunk<SnMsgSetPlayerVolume, OnSetPlayerVolume>);
  Install(SnMsg_StopPlayingID, &OnStopPlayingID);
  Install(SnMsg_ExecuteActionOnEvent, &Thunk<SnMsgExecuteActionOnEvent, OnExecuteActionOnEvent>);
  Install(SnMsg_PinEvent, &Thunk<SnMsgPinEvent, OnPinEvent>);
  Install(SnMsg_SetAttenuationScaling, &Thunk<SnMsgSetAttenuationScaling, OnSetAttenuationScaling>);
  Install(SnMsg_SetMultiplePositions, &Thunk<SnMsgSetMultiplePositions, OnSetMultiplePositions>);
  Install(SnMsg_SetListenerScaling, &Thunk<SnMsgSetListenerScaling, OnSetListenerScaling>);
  Install(SnMsg_SeekOnEvent, &Thunk<SnMsgSeekOnEvent, OnSeekOnEvent>);
  Install(SnMsg_SourcePlugin, &Thunk<SnMsgSourcePlugin, OnSourcePlugin>);
  Install(SnMsg_OutputCapture, &Thunk<SnMsgOutputCapture, OnOutputCapture>);
  Install(SnMsg_OutputCaptureMarker, &Thunk<SnMsgOutputCaptureMarker, OnOutputCaptureMarker>);
  Install(SnMsg_SetEffect, &Thunk<SnMsgSetEffect, OnSetEffect>);
  Install(SnMsg_SetMixer, &Thunk<SnMsgSetMixer, OnSetMixer>);
  Install(SnMsg_SetPanningRule, &Thunk<SnMsgSetPanningRule, OnSetPanningRule>);
  Install(SnMsg_SetSpeakerAngles, &Thunk<SnMsgSetSpeakerAngles, OnSetSpeakerAngles>);
  Install(SnMsg_SetRandomSeed, &Thunk<SnMsgSetRandomSeed, OnSetRandomSeed>);
  Install(SnMsg_MuteBackgroundMusic, &Thunk<SnMsgMuteBackgroundMusic, OnMuteBackgroundMusic>);
}

}  // namespace SN::SoundEngine
