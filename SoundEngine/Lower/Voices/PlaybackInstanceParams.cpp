// The parameter side of the playback instance: driven parameter changes, the parameter block, gain
// factors, audibility, priority, aux sends and effect bypass; and the seam through which the game
// parameters learn which values are keyed by an instance.
#include "SoundEngine/Lower/Voices/PlaybackInstanceParams.h"

#include <cmath>

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/NodeLimiter.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Messages.h"

namespace SN {
namespace {

constexpr float kInaudibleLevel = 1.52587890625e-05f;  // 2^-16
constexpr float kSilentSendDb = -96.3f;
constexpr uint32_t kGainFactorKind = 0x80000000u;
constexpr uint32_t kGainFactorKeep = 2;

SnInstanceValueOwnerHook& InstanceOwnerHook() {
  static SnInstanceValueOwnerHook hook = nullptr;
  return hook;
}

// The ids the instance reacts to: 0, 2-5, 8, 10-15, 19-21, 24-31, 35-38, 41, 56-63.
constexpr uint64_t SupportedParams() {
  uint64_t mask = 0;
  for (uint32_t id : {0u, 2u, 3u, 4u, 5u, 8u, 10u, 11u, 12u, 13u, 14u, 15u, 19u, 20u, 21u, 24u, 25u, 26u, 27u, 28u,
                      29u, 30u, 31u, 35u, 36u, 37u, 38u, 41u, 56u, 57u, 58u, 59u, 60u, 61u, 62u, 63u})
    mask |= uint64_t(1) << id;
  return mask;
}

bool KeyFieldMatches(uint64_t filter, uint64_t own, uint64_t any) { return filter == any || filter == own; }

}  // namespace

namespace LowerEngine {

void InstallInstanceValueOwnerHook(SnInstanceValueOwnerHook hook) { InstanceOwnerHook() = hook; }
SnInstanceValueOwnerHook InstalledInstanceValueOwnerHook() { return InstanceOwnerHook(); }
bool RegisterInstanceValueOwner(CSnPlaybackInstance* instance, uint32_t id, bool modulator) {
  return InstanceOwnerHook() ? InstanceOwnerHook()(instance, id, modulator) : true;
}
bool RecordInstanceValueOwner(CSnPlaybackInstance* instance, uint32_t id, bool modulator) {
  return instance && instance->AddOwnedValueId(id, modulator);
}

}  // namespace LowerEngine

uint64_t CSnPlaybackInstance::GetSupportedParams() { return SupportedParams(); }

bool CSnPlaybackInstance::AddOwnedValueId(uint32_t id, bool modulator) {
  SnArray<uint32_t>& ids = m_ownedValueIds[modulator ? 1 : 0];
  return ids.IndexOf(id) >= 0 || ids.Add(id) != nullptr;
}

void CSnPlaybackInstance::RemoveOwnedValues() {
  if (g_pRTPCMgr)
    for (uint32_t id : m_ownedValueIds[0]) g_pRTPCMgr->RemoveValuesOfOwner(id, Key());
  for (SnArray<uint32_t>& ids : m_ownedValueIds) ids.Term();
}

void CSnPlaybackInstance::SetRTPCProperty(uint32_t propertyId, float value) {
  // The attenuation's curves drive the cone values and the distance values.
  if (propertyId >= 13 && propertyId <= 15)
    SetRTPCParam13To15(propertyId, value);
  else
    SetParamById(value, propertyId);
}

void CSnPlaybackInstance::ParamChanged(uint32_t paramId, float value, float delta) {
  switch (paramId) {
    case 0:
      m_baseVolume += delta;
      m_block.volume = m_baseVolume + m_volumeOffset;
      m_gainDirty = true;
      break;
    case 2: m_block.params[0] += delta; break;
    case 3:
    case 4: {
      const uint32_t i = paramId - 3;
      m_baseParam[i] += delta;
      m_block.params[1 + i] = m_rtpcDelta[i] + m_baseParam[i];
      break;
    }
    case 5:
    case 60: m_block.SecondVolume() += delta; break;
    case 8: {
      if (!std::isfinite(value)) {
        SOUND_LOG(Error, "Priority of playing id %u: the value is not a number and is ignored", m_playingId);
        break;
      }
      SetPriority(m_priorityRecord.basePriority + value - m_priority);
      m_priorityRecord.basePriority = value;
      break;
    }
    case 19: m_block.gameSendVolume += delta; break;
    case 24:
    case 25:
    case 26:
    case 27: {
      const uint32_t bit = 1u << (paramId - 24);
      if (m_pipeline) SetEffectBypass(value != 0.0f ? bit : 0, bit);
      break;
    }
    case 28: m_bypassAllEffects = value != 0.0f; break;
    case 29:
    case 30:
      if (!m_motionContext) break;
      m_motionContext->levels[paramId == 29 ? SnMotionContext::Level_Volume : SnMotionContext::Level_Second] += delta;
      // A motion voice's first level is part of its volume (a sound's scales its feed to the devices).
      if (paramId == 29 && m_isMotion) {
        m_baseVolume += delta;
        m_block.volume = m_baseVolume + m_volumeOffset;
        m_gainDirty = true;
      }
      break;
    case 31:
      if (m_isMotion) m_block.params[0] += delta;
      break;
    case 35: m_block.further[3] += delta; break;
    case 36: m_block.further[1] += delta; break;
    case 61: m_block.further[7] += delta; break;
    case 62: m_block.further[6] += delta; break;
    case 56:
    case 57:
    case 58:
    case 59: m_block.userSendLevels[paramId - 56] += delta; break;
    default: SetParamById(value, paramId); break;
  }
}

void CSnPlaybackInstance::SetParamById(float value, uint32_t paramId) {
  switch (paramId) {
    case 10: {
      const uint8_t mode = uint8_t(int32_t(value)) & 3;
      if (mode == m_positioningMode) break;
      m_positioningMode = mode;
      if (mode == 1 && !m_positioning && !CreatePositioning()) m_positioningMode = 0;
      break;
    }
    case 37:
    case 38: {
      if (!m_positioning) break;
      const SnAttenuationSettings* attenuation = m_positioning->attenuation;
      const CSnCurveGraph* curve = attenuation ? attenuation->shape.curves[SnAttenuationCurve_Volume] : nullptr;
      m_positioning->distanceValues[paramId - 37] =
          curve && curve->pointCount ? value * curve->points[curve->pointCount - 1].x * 0.01f : value;
      break;
    }
    case 65:
    case 66:
      if (m_positioning) {
        const uint8_t flag = paramId == 65 ? SnPositioning_GameObjectRays : SnPositioning_PathLooping;
        m_positioning->flags = uint8_t(value != 0.0f ? m_positioning->flags | flag : m_positioning->flags & ~flag);
      }
      break;
    case 67:
      if (m_positioning) m_positioning->pathMode = uint32_t(int32_t(value));
      break;
    case 68:
      if (m_positioning) m_positioning->setting = int32_t(value);
      break;
    case 11: m_panCentre = value; break;
    case 20: m_panLeftRight = value; break;
    case 21: m_panFrontRear = value; break;
    case 64: m_pannerEnabled = value > 0.0f; break;
    default: break;  // positioning records, paths and rays come with 3D positioning
  }
}

void CSnPlaybackInstance::ResetParamFlags(bool clearAll) {
  m_paramsComputed = false;
  if (clearAll) m_modulatorsInstantiated = false;
}

namespace {
// A motion play's voice is mixed in its motion bus, no output bus: the motion buses' volume (property
// 0 along their chain) and their mutes are its own as an output bus's are a sound's.
struct MotionBusLevel {
  float volume = 0.0f;
  float gain = 1.0f;
  uint32_t busId = 0;
};
MotionBusLevel MotionBusLevelOf(const CSnPropertyNode* node) {
  MotionBusLevel level;
  CSnBusNode* bus = CSnBusNode::MotionBusFor(node);
  if (!bus) return level;
  level.volume = bus->GetEffectiveProperty(0, true);
  level.busId = bus->ID();
  for (const CSnHierarchyNode* above = bus; above && above->IsBus(); above = above->Parent())
    level.gain *= static_cast<const CSnBusNode*>(above)->RuntimeGain();
  bus->Release();
  return level;
}
}  // namespace

void CSnPlaybackInstance::ComputeParameters() {
  m_block = SnInstanceParamBlock{};
  for (uint32_t i = 0; i < m_gainFactors.Count();) {
    if (m_gainFactors[i].flags & kGainFactorKeep) {
      ++i;
      continue;
    }
    m_gainFactors[i] = m_gainFactors[m_gainFactors.Count() - 1];
    m_gainFactors.RemoveAt(m_gainFactors.Count() - 1);
  }
  if (m_node) {
    SnSoundParams params;
    const uint32_t mask = SnParamGroup_Volume | SnParamGroup_Pitch | SnParamGroup_LowPass | SnParamGroup_HighPass |
                          SnParamGroup_State5 | SnParamGroup_Group32;
    m_node->GetSoundParams(params, mask, Key(), nullptr, false, true);
    m_block.volume = params.volume;
    if (m_isMotion) {
      const MotionBusLevel bus = MotionBusLevelOf(m_node);
      m_block.volume += bus.volume;
      // Keyed by the bus: the factor of the nodes above the voice's own leaf is another entry.
      if (bus.gain != 1.0f) SetGainFactorEntry(bus.gain, bus.busId, false);
      CreateMotionContext();
      if (m_motionContext) m_block.volume += m_motionContext->levels[SnMotionContext::Level_Volume];
    } else if (m_motionContext) {
      m_motionContext->busGain = MotionBusLevelOf(m_node).gain;
    }
    m_block.params[0] = params.pitch;
    m_block.params[1] = params.lowPass;
    m_block.params[2] = params.highPass;
    m_block.SecondVolume() = params.secondGain + params.stateValue;
    // A bus that does not mix itself has its voices carry its bus volume.
    const CSnHierarchyNode* routed = m_node;
    while (routed && !routed->OutputBus()) routed = routed->Parent();
    if (routed && !m_isMotion)
      m_block.SecondVolume() += static_cast<const CSnBusNode*>(routed->OutputBus())->VoiceCarriedBusVolume();
    for (uint32_t i = 0; i < 4; ++i) {
      m_block.userSendLevels[i] = params.userSends[i];
      m_block.userSendBusIds[i] = params.auxBusIds[i];
    }
    m_block.gameSendVolume = params.gameSend;
    m_block.useGameSends = params.sendFlags & 1;
    float base = 50.0f, offset = 0.0f;
    m_node->GetPriority(Key(), base, offset);
    if (base != m_priorityRecord.basePriority || offset != m_priorityRecord.offsetAtMaxDistance) {
      if (std::isfinite(base)) m_priorityRecord.basePriority = base;
      if (std::isfinite(offset)) m_priorityRecord.offsetAtMaxDistance = offset;
      SetPriority(base);
    }
  }
  m_block.params[0] += m_paramOffsets[0];
  for (uint32_t i = 0; i < 2; ++i) {
    m_baseParam[i] = m_block.params[1 + i] + m_paramOffsets[1 + i];
    m_block.params[1 + i] = m_baseParam[i] + m_rtpcDelta[i];
  }
  m_baseVolume = m_block.volume;
  RecomputeGain();
  m_paramsComputed = true;
  m_modulatorsInstantiated = true;
}

bool CSnPlaybackInstance::CreateMotionContext() {
  if (m_motionContext || !m_node) return false;
  CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!motion || !(m_isMotion || CSnBusNode::HasMotionOutput(m_node))) return false;
  m_motionContext = motion->CreateContext(m_channelConfig, m_positioningMode, m_threeDType);
  if (!m_motionContext) return false;
  // Later changes of these values come as deltas of parameters 29 and 30: they start from the values now.
  CSnPropertyNode::SecondaryOutputValues values;
  m_node->AccumulateSecondaryOutput(values, Key());
  // A motion source playing into the default motion bus names no motion bus: its own values are still
  // its path's.
  if (m_isMotion && !m_node->SecondaryOutput()) {
    values.first += m_node->SecondaryFirstValue(Key());
    values.second += m_node->SecondarySecondValue(Key());
  }
  // A sound's feed meets its motion bus's volume here (a motion voice reads it with its own volume);
  // the bus's later changes come as deltas of parameter 29.
  if (!m_isMotion) {
    const MotionBusLevel bus = MotionBusLevelOf(m_node);
    values.first += bus.volume;
    m_motionContext->busGain = bus.gain;
  }
  m_motionContext->levels[SnMotionContext::Level_Volume] = values.first;
  m_motionContext->levels[SnMotionContext::Level_BusVolume] = values.busVolume;
  m_motionContext->levels[SnMotionContext::Level_Second] = values.second;
  return true;
}

void CSnPlaybackInstance::UpdateMotion(uint32_t players, uint32_t listenerMask) {
  // A motion voice's first level is in its volume: the parameters are computed again with it.
  if (CreateMotionContext() && m_isMotion) m_paramsComputed = false;
  // The players a sound's motion reaches are handed a frame every frame from now on, not only while
  // a motion voice plays for them.
  CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!m_isMotion && m_motionContext && motion && (players & motion->DeviceMask())) motion->AttachPlayers(listenerMask);
}

void CSnPlaybackInstance::ReleaseMotionContext() {
  CSnMotionDeviceMgr::DestroyContext(m_motionContext);
  m_motionContext = nullptr;
}

bool CSnPlaybackInstance::SetGainFactorEntry(float value, uint32_t key, bool replace, bool keep) {
  const uint32_t id = key & ~kGainFactorKind;
  const uint32_t kind = (key & kGainFactorKind) ? 1 : 0;
  auto find = [this](uint32_t wantedId, uint32_t wantedKind) -> int32_t {
    for (uint32_t i = 0; i < m_gainFactors.Count(); ++i)
      if (m_gainFactors[i].key == wantedId && (m_gainFactors[i].flags & 1) == wantedKind) return int32_t(i);
    return -1;
  };
  if (replace) {
    const int32_t opposite = find(id, kind ^ 1);
    if (opposite >= 0) {
      if (kind == 1) return true;
      m_gainFactors.RemoveAt(uint32_t(opposite));
    }
  }
  const int32_t own = find(id, kind);
  bool stored = true;
  if (value == 1.0f && !(replace && kind == 0)) {
    if (own >= 0) m_gainFactors.RemoveAt(uint32_t(own));
  } else if (own >= 0) {
    m_gainFactors[uint32_t(own)].factor = value;
    if (keep) m_gainFactors[uint32_t(own)].flags |= kGainFactorKeep;
  } else {
    stored = m_gainFactors.Add(GainFactor{id, kind | (keep ? kGainFactorKeep : 0u), value}) != nullptr;
    if (!stored) SOUND_LOG(Error, "Gain factor %u of playing id %u: no memory; the gain is unchanged", id, m_playingId);
  }
  RecomputeGain();
  return stored;
}

void CSnPlaybackInstance::RecomputeGain() {
  float gain = 1.0f;
  for (const GainFactor& entry : m_gainFactors) gain *= entry.factor;
  gain *= m_playStopFactor * m_pauseResumeFactor;
  m_block.gain = gain > 0.0f ? gain : 0.0f;
  m_block.volume = m_baseVolume + m_volumeOffset;
  m_gainDirty = false;
}

bool CSnPlaybackInstance::IsInaudible() {
  if (!m_paramsComputed) ComputeParameters();
  if (m_gainDirty) RecomputeGain();
  const float level = m_block.gain * VoiceParams::FastDbToLinear(m_block.volume) * VoiceParams::FastDbToLinear(m_block.SecondVolume());
  return level <= kInaudibleLevel;
}

SNRESULT CSnPlaybackInstance::PrepareForPlay(float initialValue, bool skipAudibilityTest, uint32_t* outReason) {
  m_initialValue = initialValue;
  const SnPositioningParams* settings = PositioningSettings();
  const uint8_t bits = PositioningBits();
  m_positioningMode = settings ? PositioningModeOf(bits) : 0;
  m_threeDType = ThreeDTypeOf(bits);
  if (settings && !m_positioning && !CreatePositioning()) return SN_InsufficientMemory;
  if (m_positioning) {
    const SNRESULT attenuation = ResolveAttenuation();
    if (attenuation != SN_Success) return attenuation;
    const SNRESULT path = SetupPath();
    if (path != SN_Success) return path;
  }
  if (!skipAudibilityTest && IsInaudible()) {
    if (outReason) *outReason = 41;
    return SN_NothingChanged;
  }
  return SN_Success;
}

void CSnPlaybackInstance::SetPriority(float priority) {
  // A curve's priority far past its range would reach the voice list as a count no float converts to.
  if (!std::isfinite(priority)) return;
  priority = kPriorityRange.Hold(priority);
  if (priority == m_priority) return;
  // The limiters re-sort by the stored priority, so it changes before they are told.
  m_priority = priority;
  if (!m_inLimiters) return;
  for (CSnNodeLimiter* limiter : m_limiters)
    if (limiter) limiter->Limiter().PriorityChanged(this);
  VoiceManager::GlobalLimiter().PriorityChanged(this);
}

uint8_t CSnPlaybackInstance::GetVoiceBehaviour(uint8_t* extra) {
  if (!m_behaviourCached) {
    uint8_t extraValue = 0;
    if (m_node) m_cachedBehaviour = m_node->GetVoiceBehaviour(extraValue);
    m_cachedBehaviourExtra = extraValue;
    m_behaviourCached = true;
    m_virtualBehaviour = m_cachedBehaviour;
  }
  if (extra) *extra = m_cachedBehaviourExtra;
  return m_cachedBehaviour;
}

void CSnPlaybackInstance::ApplyIfKeyMatches(const SnInstanceParamFilter& filter) {
  const SnRTPCKey& own = Key();
  const SnRTPCKey& wanted = filter.key;
  if (!KeyFieldMatches(reinterpret_cast<uintptr_t>(wanted.gameObject), reinterpret_cast<uintptr_t>(own.gameObject), 0) ||
      !KeyFieldMatches(wanted.playingId, own.playingId, 0) ||
      !KeyFieldMatches(wanted.midiTargetId, own.midiTargetId, 0) ||
      !KeyFieldMatches(wanted.midiChannel, own.midiChannel, 255) ||
      !KeyFieldMatches(wanted.midiNote, own.midiNote, 255) ||
      !KeyFieldMatches(reinterpret_cast<uintptr_t>(wanted.playbackInstance), reinterpret_cast<uintptr_t>(this), 0))
    return;
  ParamChanged(filter.parameterId, filter.value, filter.value);
}

void CSnPlaybackInstance::SetEffectBypass(uint32_t values, uint32_t mask) {
  if ((mask & 0x0F) && m_pipeline) m_pipeline->SetEffectBypass(values & 0x0F, mask & 0x0F);
  if (mask & 0x10) m_bypassAllEffects = (values & 0x10) != 0;
}

uint32_t CSnPlaybackInstance::ComputeAuxSends(SnInstanceAuxSend (&sends)[kMaxInstanceAuxSends]) const {
  uint32_t count = 0;
  if (m_block.useGameSends && m_pGameObject) {
    const float volume = VoiceParams::FastDbToLinear(m_block.gameSendVolume);
    for (uint32_t i = 0; i < 4 && count < kMaxInstanceAuxSends; ++i) {
      const SnAuxSendValue& send = m_pGameObject->AuxSend(i);
      if (send.auxBusId == 0) break;
      const float level = send.controlValue * volume;
      if (level > kInaudibleLevel) sends[count++] = SnInstanceAuxSend{send.auxBusId, level, 1};
    }
  }
  for (uint32_t i = 0; i < 4 && count < kMaxInstanceAuxSends; ++i) {
    if (m_block.userSendBusIds[i] == 0 || !(m_block.userSendLevels[i] > kSilentSendDb)) continue;
    sends[count++] = SnInstanceAuxSend{m_block.userSendBusIds[i], VoiceParams::FastDbToLinear(m_block.userSendLevels[i]), 2};
  }
  if (count < kMaxInstanceAuxSends) sends[count] = SnInstanceAuxSend{};
  return count;
}

bool CSnPlaybackInstance::HasAuxSends() const {
  if (m_block.useGameSends) return true;
  for (uint32_t id : m_block.userSendBusIds)
    if (id) return true;
  return false;
}

}  // namespace SN
