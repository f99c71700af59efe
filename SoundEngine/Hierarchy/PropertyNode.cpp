// The parameter node: accumulation, run-time values, the play road and instance counting.
#include "SoundEngine/Hierarchy/PropertyNode.h"

#include <cmath>

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/DelayedPlay.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

int32_t RoundToInt(float value) {
  if (value != value) return 0;
  const double rounded = value >= 0.0f ? std::floor(double(value) + 0.5) : std::ceil(double(value) - 0.5);
  if (rounded >= double(INT32_MAX)) return INT32_MAX;
  if (rounded <= double(INT32_MIN)) return INT32_MIN;
  return int32_t(rounded);
}

int32_t SecondsToSamples(float seconds) { return RoundToInt(float(double(seconds) * LowerEngine::SampleRate())); }

// ---- positioning ----

SnPositioningParams::~SnPositioningParams() { FreePath(); }

void SnPositioningParams::FreePath() {
  if (vertices) MemoryMgr::Free(g_DefaultPoolId, vertices);
  if (items) MemoryMgr::Free(g_DefaultPoolId, items);
  vertices = nullptr;
  items = nullptr;
  vertexCount = itemCount = 0;
  ResetPathState(pathState);
}

SNRESULT SnPositioningParams::SetPath(const SnPathVertex* source, uint32_t count, const uint32_t* itemRanges,
                                      const float* itemRandom, uint32_t items_, uint32_t transitionMs) {
  if (!source || !count || !itemRanges || !items_) return SN_InvalidParameter;
  // Every item lies wholly inside the vertices: its last vertex too, counted in 64 bits.
  for (uint32_t i = 0; i < items_; ++i)
    if (itemRanges[2 * i] >= count || uint64_t(itemRanges[2 * i]) + itemRanges[2 * i + 1] > count) return SN_Failure;
  auto* copied = static_cast<SnPathVertex*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnPathVertex) * count));
  auto* built = static_cast<SnPathListItem*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnPathListItem) * items_));
  if (!copied || !built) {
    if (copied) MemoryMgr::Free(g_DefaultPoolId, copied);
    if (built) MemoryMgr::Free(g_DefaultPoolId, built);
    return SN_InsufficientMemory;
  }
  FreePath();
  memcpy(copied, source, sizeof(SnPathVertex) * count);
  for (uint32_t i = 0; i < items_; ++i) {
    SnPathListItem& item = built[i];
    SnPathVertex* first = copied + itemRanges[2 * i];
    item.vertices = first;
    item.vertexCount = itemRanges[2 * i + 1];
    for (uint32_t r = 0; r < 3; ++r) item.ranges[r] = itemRandom ? itemRandom[3 * i + r] : 0.0f;
    if (item.vertexCount) first[item.vertexCount - 1].durationMs = transitionMs;
  }
  vertices = copied;
  vertexCount = count;
  items = built;
  itemCount = items_;
  return SN_Success;
}

// ---- lifetime ----

CSnPropertyNode::~CSnPropertyNode() {
  for (ObjectValues& entry : m_objectValues) PoolDelete(g_DefaultPoolId, entry.values);
  m_objectValues.Term();
  if (m_positioning) PoolDelete(g_DefaultPoolId, m_positioning);
  if (m_auxBusIds) MemoryMgr::Free(g_DefaultPoolId, m_auxBusIds);
}

// ---- the play road ----

SNRESULT CSnPropertyNode::Play(CSnPlayParams& params) {
  if (params.midiEvent.IsNoteOn()) {
    const SNRESULT filtered = FilterMidiEvent(params.midiEvent, params);
    if (filtered != SN_Success) return filtered;
  }
  const SNRESULT delay = ComputeInitialDelay(params);
  if (delay == SN_PlayDelayed) return SN_Success;
  if (delay != SN_Success) return delay;
  return PlayNode(params);
}

SNRESULT CSnPropertyNode::ComputeInitialDelay(CSnPlayParams& params) {
  if (params.IsDelayed()) {
    params.flags &= uint8_t(~CSnPlayParams::kFlagDelayed);
    return SN_Success;
  }
  const SnRTPCKey key = SnRTPCKey::ForObjectAndPlayingId(params.gameObject, params.playingId);
  const float delay = FloatProperty(SnProp_InitialDelay) + RTPCValue(6, key) + RandomOffset(SnProp_InitialDelay);
  if (!(delay > 0.0f)) return SN_Success;
  const int32_t samples = SecondsToSamples(delay);
  if (params.ContinuesInstance()) {
    const int64_t offset = int64_t(params.frameOffset) + samples;
    params.frameOffset = int32_t(offset > INT32_MAX ? INT32_MAX : offset);
    return SN_Success;
  }
  ISnDelayedPlayScheduler* scheduler = DelayedPlayScheduler();
  if (!scheduler) {
    SOUND_LOG(Error, "Node %u: a delayed play cannot be queued: nothing carries delayed plays", ID());
    return SN_Failure;
  }
  const SNRESULT result = scheduler->ScheduleDelayedPlay(this, params, samples);
  return result == SN_Success ? SN_PlayDelayed : result;
}

SNRESULT CSnPropertyNode::FilterMidiEvent(SnMidiEvent& event, const CSnPlayParams& params) {
  if (auto* parent = static_cast<CSnPropertyNode*>(Parent()); parent && !parent->IsBus()) {
    const SNRESULT up = parent->FilterMidiEvent(event, params);
    if (up != SN_Success) return up;
  }
  const uint32_t channels = uint32_t(IntProperty(SnProp_MidiChannelMask));
  if (event.channel >= 16 || !(channels & (1u << event.channel))) return SN_MidiFiltered;
  SnRTPCKey key = SnRTPCKey::ForObjectAndPlayingId(params.gameObject, params.playingId);
  key.midiChannel = event.channel;
  key.midiNote = event.CarriesNote() ? event.note : 255;
  auto clamp = [](int64_t value, int64_t low, int64_t high) { return value < low ? low : value > high ? high : value; };
  const int64_t note =
      clamp(int64_t(event.note) + IntProperty(SnProp_MidiTranspose) + RoundToInt(RTPCValue(39, key)), 0, 127);
  if (note < IntProperty(SnProp_MidiKeyMin) || note > IntProperty(SnProp_MidiKeyMax)) return SN_MidiFiltered;
  const int64_t velocity =
      clamp(int64_t(event.velocity) + IntProperty(SnProp_MidiVelocityOffset) + RoundToInt(RTPCValue(40, key)), 1, 127);
  if (velocity < IntProperty(SnProp_MidiVelocityMin) || velocity > IntProperty(SnProp_MidiVelocityMax))
    return SN_MidiFiltered;
  event.note = uint8_t(note);
  event.velocity = uint8_t(velocity);
  return SN_Success;
}

// ---- accumulation ----

float CSnPropertyNode::RandomOffset(uint32_t id) const {
  SnPropertyRange range;
  if (!m_ranges.Get(id, range)) return 0.0f;
  const float span = range.max - range.min;
  if (span == 0.0f) return range.min;
  return range.min + float(Base::Rand15()) * 3.051851e-05f * span;
}

SNRESULT CSnPropertyNode::SetRange(uint8_t id, float min, float max) {
  return m_ranges.Set(id, SnPropertyRange{min, max});
}

float CSnPropertyNode::SecondaryFirstValue(const SnRTPCKey& key) const {
  const float value = HasCurve(29) ? RTPCValue(29, key) : FloatProperty(SnProp_SecondaryFirst);
  return value + RandomOffset(SnProp_SecondaryFirst);
}

float CSnPropertyNode::SecondarySecondValue(const SnRTPCKey& key) const {
  return FloatProperty(SnProp_SecondarySecond) + RTPCValue(30, key) + RandomOffset(SnProp_SecondarySecond);
}

void CSnPropertyNode::AddOwnValues(SnSoundParams& params, uint32_t mask, const CSnPropTransitionSet* set) {
  if (!set) return;
  // One pass over the set: its ids are few and unsorted.
  float gain = 1.0f;
  for (uint32_t i = 0; i < set->Count(); ++i) {
    const float value = set->HeardAt(i);
    switch (set->IdAt(i)) {
      case SnProp_Volume:
        if (mask & SnParamGroup_Volume) params.volume += value;
        break;
      case SnProp_Pitch:
        if (mask & SnParamGroup_Pitch) params.pitch += value;
        break;
      case SnProp_LowPass:
        if (mask & SnParamGroup_LowPass) params.lowPass += value;
        break;
      case SnProp_HighPass:
        if (mask & SnParamGroup_HighPass) params.highPass += value;
        break;
      case SnProp_GainFactor: gain = value; break;
      default: break;
    }
  }
  // Exactly 1 is no factor at all.
  if (gain != 1.0f) ApplyGainFactor(set->GameObject(), gain);
}

void CSnPropertyNode::GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key,
                                     SnRandomOffsets* random, bool computeRandom, bool firstCall) {
  // 1. State values.
  if (FlagsB() & kStateValuesApply) {
    for (CSnStateGroupLink* link = StateLinks(); link; link = link->m_pNextLink) {
      if (mask & SnParamGroup_Volume) params.volume += link->Value(0);
      if (mask & SnParamGroup_Pitch) params.pitch += link->Value(2);
      if (mask & SnParamGroup_LowPass) params.lowPass += link->Value(3);
      if (mask & SnParamGroup_HighPass) params.highPass += link->Value(4);
      if (mask & SnParamGroup_State5) params.stateValue += link->Value(5);
    }
  }
  // 2. Own constant and curve values; the additive properties all default to 0, so one pass over
  // the bundle finds those the node has.
  const SnPropertyBlob4& bundle = Properties();
  for (uint32_t i = 0; i < bundle.Count(); ++i) {
    float value;
    switch (bundle.IdAt(i)) {
      case SnProp_Volume:
        if (mask & SnParamGroup_Volume) params.volume += (memcpy(&value, bundle.ValueAt(i), 4), value);
        break;
      case SnProp_SecondGain:
        if (mask & SnParamGroup_Volume) params.secondGain += (memcpy(&value, bundle.ValueAt(i), 4), value);
        break;
      case SnProp_Pitch:
        if (mask & SnParamGroup_Pitch) params.pitch += (memcpy(&value, bundle.ValueAt(i), 4), value);
        break;
      case SnProp_LowPass:
        if (mask & SnParamGroup_LowPass) params.lowPass += (memcpy(&value, bundle.ValueAt(i), 4), value);
        break;
      case SnProp_HighPass:
        if (mask & SnParamGroup_HighPass) params.highPass += (memcpy(&value, bundle.ValueAt(i), 4), value);
        break;
      default: break;
    }
  }
  if (mask & SnParamGroup_Volume) {
    params.volume += RTPCValue(0, key);
    if (!(params.outputFlags & 1) && ((m_outputFlags & kOverridesOutputSettings) || !Parent()))
      params.outputFlags = uint8_t(1 | (m_outputFlags & 2));
    params.secondGain += RTPCValue(36, key);
  }
  if (mask & SnParamGroup_Pitch) params.pitch += RTPCValue(2, key);
  if (mask & SnParamGroup_LowPass) params.lowPass += RTPCValue(3, key);
  if (mask & SnParamGroup_HighPass) params.highPass += RTPCValue(4, key);
  // 3. Property 32 from the first node that decides it.
  if ((mask & SnParamGroup_Group32) && !(params.group32Flags & 1) && ((m_sendFlags & kOverridesGroup32) || !Parent())) {
    params.group32 = HasCurve(35) ? RTPCValue(35, key) : FloatProperty(SnProp_Group32);
    params.group32Flags |= 1;
  }
  // 4. Random offsets.
  if (computeRandom && random && m_ranges.Count()) {
    random->volume += RandomOffset(SnProp_Volume);
    random->secondGain += RandomOffset(SnProp_SecondGain);
    random->pitch += RandomOffset(SnProp_Pitch);
    random->lowPass += RandomOffset(SnProp_LowPass);
    random->highPass += RandomOffset(SnProp_HighPass);
  }
  // 5. Run-time values, for all game objects and for the key's.
  AddOwnValues(params, mask, GlobalValueSet());
  if (key.gameObject) AddOwnValues(params, mask, FindValueSet(key.gameObject));
  // 6. Sends from the first node that decides them.
  if (!params.userSendsTaken && ((m_sendFlags & kOverridesUserSends) || !Parent())) {
    params.userSendsTaken = 1;
    if (m_auxBusIds) {
      for (uint32_t i = 0; i < 4; ++i) {
        params.userSends[i] += FloatProperty(uint32_t(SnProp_UserSend0) + i) + RTPCValue(56 + i, key);
        params.auxBusIds[i] = m_auxBusIds[i];
      }
    }
  }
  if (!params.gameSendTaken && ((m_sendFlags & kOverridesGameSend) || !Parent())) {
    params.gameSendTaken = 1;
    params.gameSend += FloatProperty(SnProp_GameSend) + RTPCValue(19, key);
    params.sendFlags = m_sendFlags;
  }
  // 7. Up the parents, and at the first call once into the output bus.
  auto* parent = static_cast<CSnPropertyNode*>(Parent());
  auto* bus = static_cast<CSnPropertyNode*>(OutputBus());
  if (firstCall && bus) {
    params.outputBus[0] += FloatProperty(SnProp_OutputBus0) + RTPCValue(60, key);
    params.outputBus[1] += FloatProperty(SnProp_OutputBus2) + RTPCValue(62, key);
    params.outputBus[2] += FloatProperty(SnProp_OutputBus1) + RTPCValue(61, key);
    if (parent) parent->GetSoundParams(params, mask, key, random, computeRandom, false);
    bus->GetSoundParams(params, mask, key, random, computeRandom, false);
  } else if (parent) {
    parent->GetSoundParams(params, mask, key, random, computeRandom, firstCall);
  }
  // 8. The curves of the layers that list this node: a voice that starts after their value was set
  // hears it from its first frame.
  if (parent) parent->AddLayerValues(*this, params, mask, key);
}

// ---- run-time values ----

CSnPropTransitionSet* CSnPropertyNode::FindValueSet(CSnRegisteredObj* gameObject) const {
  if (!gameObject) return GlobalValueSet();
  for (const ObjectValues& entry : const_cast<SnArray<ObjectValues>&>(m_objectValues))
    if (entry.gameObject == gameObject) return entry.values;
  return nullptr;
}

CSnPropTransitionSet* CSnPropertyNode::GetValueSet(CSnRegisteredObj* gameObject) {
  if (!gameObject) return EnsureGlobalValueSet(this);
  if (CSnPropTransitionSet* found = FindValueSet(gameObject)) return found;
  auto* set = PoolNew<CSnPropTransitionSet>(g_DefaultPoolId, this, gameObject);
  if (!set) return nullptr;
  // The game object learns of the node, so that its values go with it.
  if (!m_objectValues.Add(ObjectValues{gameObject, set}, 4) ||
      gameObject->AddModifiedNode(SnNodeKey{ID(), IsBus()}) != SN_Success) {
    const int32_t index = m_objectValues.Count() ? int32_t(m_objectValues.Count() - 1) : -1;
    if (index >= 0 && m_objectValues[uint32_t(index)].values == set) m_objectValues.RemoveAt(uint32_t(index));
    PoolDelete(g_DefaultPoolId, set);
    return nullptr;
  }
  return set;
}

void CSnPropertyNode::DropGameObjectValues(CSnRegisteredObj* gameObject) {
  for (uint32_t i = 0; i < m_objectValues.Count(); ++i) {
    if (m_objectValues[i].gameObject != gameObject) continue;
    PoolDelete(g_DefaultPoolId, m_objectValues[i].values);
    m_objectValues.RemoveAt(i);
    return;
  }
}

void CSnPropertyNode::PauseOwnTransitions(CSnRegisteredObj* gameObject, bool pause) {
  CSnHierarchyNode::PauseOwnTransitions(gameObject, pause);
  for (const ObjectValues& entry : m_objectValues)
    if (!gameObject || entry.gameObject == gameObject) entry.values->PauseTransitions(pause);
}

SNRESULT CSnPropertyNode::SetRuntimeValue(CSnRegisteredObj* gameObject, uint8_t id, float value,
                                          const TransParamsBase& params) {
  // A set-value action's value (or its offset summed with the last) adds to the node's own: the
  // same range holds it.
  const float held = HoldPropertyValue(id, value, PropertyOffsetRange);
  if (held != value) {
    const SnValueRange range = PropertyOffsetRange(id);
    SOUND_LOG(Error, "Node %u: run-time value %g of property %u is outside %g to %g; %g is used", ID(), double(value),
              unsigned(id), double(range.min), double(range.max), double(held));
    value = held;
  }
  CSnPropTransitionSet* set = GetValueSet(gameObject);
  if (!set) return SN_InsufficientMemory;
  const float start = id == SnProp_GainFactor ? 1.0f : 0.0f;
  if (!set->SetValue(id, start)) return SN_InsufficientMemory;
  return set->SetWithTransition(id, value, false, params);
}

SNRESULT CSnPropertyNode::Mute(CSnRegisteredObj* gameObject, const TransParamsBase& params) {
  return SetRuntimeValue(gameObject, SnProp_GainFactor, 0.0f, params);
}

SNRESULT CSnPropertyNode::Unmute(CSnRegisteredObj* gameObject, const TransParamsBase& params) {
  CSnPropTransitionSet* set = FindValueSet(gameObject);
  if (!set || set->ValueOr(SnProp_GainFactor, 1.0f) == 1.0f) return SN_Success;
  return set->SetWithTransition(SnProp_GainFactor, 1.0f, false, params);
}

void CSnPropertyNode::UnmuteAll(const TransParamsBase& params) {
  Unmute(nullptr, params);
  for (uint32_t i = 0; i < m_objectValues.Count(); ++i) Unmute(m_objectValues[i].gameObject, params);
}

void CSnPropertyNode::ResetRuntimeValues(uint8_t id, const TransParamsBase& params) {
  const float neutral = id == SnProp_GainFactor ? 1.0f : 0.0f;
  for (uint32_t i = 0; i < m_objectValues.Count(); ++i) {
    CSnPropTransitionSet* set = m_objectValues[i].values;
    if (set->Has(id) && set->ValueOr(id, neutral) != neutral) set->SetWithTransition(id, neutral, true, TransParamsBase{});
  }
  if (CSnPropTransitionSet* global = GlobalValueSet(); global && global->ValueOr(id, neutral) != neutral)
    global->SetWithTransition(id, neutral, false, params);
}

void CSnPropertyNode::AccumulateSecondaryOutput(SecondaryOutputValues& values, const SnRTPCKey& key) {
  if (CSnHierarchyNode* secondary = SecondaryOutput()) {
    values.first += SecondaryFirstValue(key);
    values.second += SecondarySecondValue(key);
    if (!values.target) {
      values.target = secondary;
      static_cast<CSnPropertyNode*>(secondary)->AccumulateSecondaryOutput(values, key);
    }
    const CSnHierarchyNode* node = this;
    while (node && !node->OutputBus()) node = node->Parent();
    for (const CSnHierarchyNode* bus = node ? node->OutputBus() : nullptr; bus; bus = bus->Parent()) {
      values.busVolume += bus->FloatProperty(SnProp_Volume);
      const SnNodeFxSlots* fx = bus->FxSlots();
      if (fx && (fx->slots[0].effectId || fx->slots[1].effectId || fx->slots[2].effectId || fx->slots[3].effectId))
        break;
    }
  }
  if (const CSnPropTransitionSet* global = GlobalValueSet()) values.first += global->ValueOr(SnProp_SecondaryFirst, 0.0f);
  if (key.gameObject)
    if (const CSnPropTransitionSet* own = FindValueSet(key.gameObject))
      values.first += own->ValueOr(SnProp_SecondaryFirst, 0.0f);
  if (auto* parent = static_cast<CSnPropertyNode*>(Parent())) parent->AccumulateSecondaryOutput(values, key);
}

void CSnPropertyNode::BypassChanged() {
  if (Parent() && !(FlagsB() & kOverridesEffects)) return;
  if (const SnNodeFxSlots* fx = FxSlots()) DeliverEffectBypass(nullptr, fx->bypass, 0x1F, nullptr);
}

void CSnPropertyNode::CurveRemoved(uint32_t parameterId) {
  if (parameterId == 20 || parameterId == 21)
    PositioningParameterUpdate(FloatProperty(parameterId == 20 ? SnProp_PositionA : SnProp_PositionB), parameterId);
  else if (parameterId == 37 || parameterId == 38)
    PositioningParameterUpdate(0.0f, parameterId);
}

void CSnPropertyNode::SetGainFactorTarget(CSnRegisteredObj* gameObject, float target, const TransParamsBase&) {
  ApplyGainFactor(gameObject, target);
}

void CSnPropertyNode::PropertyTransitionStep(CSnRegisteredObj* gameObject, uint32_t, uint32_t parameterId, float,
                                             float change) {
  // The voices add changes to the values they began with.
  if (parameterId == kNoParameter) return;
  ParameterChanged(parameterId, SnRTPCKey::ForObject(gameObject), change, false);
}

// ---- properties and parameters ----

SNRESULT CSnPropertyNode::SetFloatProperty(uint8_t id, float value) {
  const float old = FloatProperty(id);
  if (Activity()) {
    const uint32_t parameter = ParameterOfProperty(id);
    if ((id <= 5 || id == 8 || id == 9 || (id >= 18 && id <= 25)) && parameter != kNoParameter)
      ParameterChanged(parameter, SnRTPCKey{}, value - old, false);
    else if (id >= 11 && id <= 13)
      PositioningParameterUpdate(value, ParameterOfProperty(id));
  }
  return CSnHierarchyNode::SetFloatProperty(id, value);
}

uint64_t CSnPropertyNode::OverrideMask() const {
  uint64_t mask = CSnHierarchyNode::OverrideMask();
  const bool root = !Parent();
  if ((m_sendFlags & kOverridesUserSends) || root) mask |= uint64_t(0xF) << 56;
  if (OutputBus()) mask |= uint64_t(0x7) << 60;
  if ((m_sendFlags & kOverridesGameSend) || root) mask |= ParameterBit(19);
  if ((FlagsA() & kEnforcesOwnLimit) || root) mask |= ParameterBit(9);
  return mask;
}

bool CSnPropertyNode::HandlesParameter(uint32_t parameterId) const {
  if (!Parent()) return true;
  if (parameterId == 19) return m_sendFlags & kOverridesGameSend;
  if (parameterId >= 56 && parameterId <= 59) return m_sendFlags & kOverridesUserSends;
  if (parameterId >= 60 && parameterId <= 62) return OutputBus() != nullptr;
  return true;
}

SNRESULT CSnPropertyNode::SetAuxBusId(uint32_t index, uint32_t busId) {
  if (index >= 4) return SN_InvalidParameter;
  if (!m_auxBusIds) {
    if (!busId) return SN_Success;
    m_auxBusIds = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, 4 * sizeof(uint32_t)));
    if (!m_auxBusIds) return SN_InsufficientMemory;
    memset(m_auxBusIds, 0, 4 * sizeof(uint32_t));
  }
  m_auxBusIds[index] = busId;
  ValuesChanged();
  return SN_Success;
}

// ---- limits ----

uint16_t CSnPropertyNode::EffectiveMaximum() const {
  if (!HasCurve(9)) return MaxInstances();
  const int32_t value = RoundToInt(RTPCValue(9, SnRTPCKey{}));
  return uint16_t(value < 0 ? 0 : value > kMaxInstancesMask ? kMaxInstancesMask : value);
}

bool CSnPropertyNode::TakesCount(SnCountRecord& record) const {
  if (!(FlagsA() & kEnforcesOwnLimit) && Parent()) return false;
  const uint8_t kind = IsBus() ? SnCountRecord::kCountedByBus : SnCountRecord::kCountedByNode;
  if (record.counted & kind) return false;
  record.counted |= kind;
  return true;
}

SNRESULT CSnPropertyNode::CountInstance(SnCountRecord& record) {
  SnNodeActivity* activity = EnsureActivity();
  if (!activity) return SN_InsufficientMemory;
  const uint8_t countedBefore = record.counted;
  ++activity->playing;
  SNRESULT result = SN_Success;
  if (TakesCount(record)) {
    CSnNodeLimiter* limiter = &activity->limiter;
    int32_t count, virtualCount;
    if (activity->limitsGlobally) {
      count = ++activity->globalCount;
      virtualCount = activity->globalVirtual;
    } else {
      SnNodeActivity::ObjectEntry* entry = activity->FindObject(record.gameObject);
      if (!entry) {
        auto* own = PoolNew<CSnNodeLimiter>(g_DefaultPoolId, this, MaxInstances(), bool(FlagsA() & kLimiterOldestFirst),
                                            bool(FlagsA() & kLimiterGoVirtual), SnNodeActivity::LimiterKindOf(this));
        entry = own ? activity->objects.Add({record.gameObject, own, 0, 0}, 4) : nullptr;
        if (!entry) {
          PoolDelete(g_DefaultPoolId, own);
          --activity->playing;
          record.counted = countedBefore;
          FreeActivityIfEmpty();
          return SN_InsufficientMemory;
        }
      }
      limiter = entry->limiter;
      count = ++entry->instances;
      virtualCount = entry->virtualInstances;
    }
    // The instance joins this limiter: the frame's pass and the next admissions see it there.
    (IsBus() ? record.busLimiter : record.limiter) = limiter;
    const uint16_t maximum = EffectiveMaximum();
    if (record.enforce && maximum && count - virtualCount - int32_t(record.enforced) > maximum) {
      CSnPlaybackInstance* giveWay = nullptr;
      const SNRESULT verdict = limiter->Limiter().EnforceForNewInstance(
          maximum, record.priority, activity->limitsGlobally ? nullptr : record.gameObject,
          FlagsA() & kLimiterOldestFirst, FlagsA() & kLimiterGoVirtual, &giveWay, kStopReasonNodeLimit);
      if (verdict != SN_Success) {
        result = verdict;
      } else if (giveWay) {
        record.giveWay = giveWay;
        ++record.enforced;
      }
    }
  }
  CSnPropertyNode* const roads[] = {(record.pathMask & 1) ? static_cast<CSnPropertyNode*>(OutputBus()) : nullptr,
                                     (record.pathMask & 2) ? static_cast<CSnPropertyNode*>(SecondaryOutput()) : nullptr,
                                     static_cast<CSnPropertyNode*>(Parent())};
  // The bus road first, then the parent's; the first refusal is the answer. A road without memory for
  // its records counted nothing: the roads before it and this node give their counts back, each from
  // the marks it began with, so that the play is counted everywhere or nowhere.
  uint8_t countedAt[3] = {};
  for (uint32_t road = 0; road < 3; ++road) {
    if (!roads[road]) continue;
    countedAt[road] = record.counted;
    const SNRESULT above = roads[road]->CountInstance(record);
    if (above == SN_InsufficientMemory) {
      for (uint32_t back = road; back-- > 0;) {
        if (!roads[back]) continue;
        SnCountRecord undo = record;
        undo.counted = countedAt[back];
        roads[back]->UncountInstance(undo);
      }
      record.counted = countedBefore;
      GiveBackOwnCount(*ActivityRecord(), record);
      record.counted = countedBefore;
      record.limiter = record.busLimiter = nullptr;
      FreeActivityIfEmpty();
      return SN_InsufficientMemory;
    }
    if (above != SN_Success && result == SN_Success) result = above;
  }
  return result;
}

void CSnPropertyNode::GiveBackOwnCount(SnNodeActivity& activity, SnCountRecord& record) {
  --activity.playing;
  if (!TakesCount(record)) return;
  if (activity.limitsGlobally) {
    if (activity.globalCount > 0) --activity.globalCount;
  } else if (SnNodeActivity::ObjectEntry* entry = activity.FindObject(record.gameObject)) {
    if (entry->instances) --entry->instances;
    if (!entry->instances && !entry->virtualInstances) {
      PoolDelete(g_DefaultPoolId, entry->limiter);
      activity.objects.RemoveAt(uint32_t(entry - activity.objects.begin()));
    }
  }
}

void CSnPropertyNode::UncountInstance(SnCountRecord& record) {
  SnNodeActivity* activity = ActivityRecord();
  if (!activity || activity->playing <= 0) {
    SOUND_LOG(Error, "Node %u: an instance ended that was never counted", ID());
    return;
  }
  GiveBackOwnCount(*activity, record);
  auto* bus = (record.pathMask & 1) ? static_cast<CSnPropertyNode*>(OutputBus()) : nullptr;
  auto* secondary = (record.pathMask & 2) ? static_cast<CSnPropertyNode*>(SecondaryOutput()) : nullptr;
  auto* parent = static_cast<CSnPropertyNode*>(Parent());
  FreeActivityIfEmpty();
  if (bus) bus->UncountInstance(record);
  if (secondary) secondary->UncountInstance(record);
  if (parent) parent->UncountInstance(record);
}

void CSnPropertyNode::CountVirtual(SnCountRecord& record) {
  SnNodeActivity* activity = ActivityRecord();
  if (TakesCount(record) && activity) {
    if (activity->limitsGlobally)
      ++activity->globalVirtual;
    else if (SnNodeActivity::ObjectEntry* entry = activity->FindObject(record.gameObject))
      ++entry->virtualInstances;
  }
  for (CSnHierarchyNode* up :
       {(record.pathMask & 1) ? OutputBus() : nullptr, (record.pathMask & 2) ? SecondaryOutput() : nullptr, Parent()})
    if (up) static_cast<CSnPropertyNode*>(up)->CountVirtual(record);
}

SNRESULT CSnPropertyNode::UncountVirtual(SnCountRecord& record) {
  SnNodeActivity* activity = ActivityRecord();
  if (TakesCount(record) && activity) {
    int32_t count = 0, virtualCount = 0;
    CSnNodeLimiter* limiter = &activity->limiter;
    if (activity->limitsGlobally) {
      if (activity->globalVirtual > 0) --activity->globalVirtual;
      count = activity->globalCount;
      virtualCount = activity->globalVirtual;
    } else if (SnNodeActivity::ObjectEntry* entry = activity->FindObject(record.gameObject)) {
      if (entry->virtualInstances) --entry->virtualInstances;
      count = entry->instances;
      virtualCount = entry->virtualInstances;
      limiter = entry->limiter;
    }
    // The freed place: the limiter may choose who takes it.
    const uint16_t maximum = EffectiveMaximum();
    if (maximum && count - virtualCount > maximum) {
      CSnPlaybackInstance* giveWay = nullptr;
      if (limiter->Limiter().EnforceForNewInstance(maximum, kCountingPriority,
                                                   activity->limitsGlobally ? nullptr : record.gameObject,
                                                   FlagsA() & kLimiterOldestFirst, FlagsA() & kLimiterGoVirtual,
                                                   &giveWay, kStopReasonNodeLimit) == SN_Success)
        record.giveWay = giveWay;
    }
  }
  for (CSnHierarchyNode* up :
       {(record.pathMask & 1) ? OutputBus() : nullptr, (record.pathMask & 2) ? SecondaryOutput() : nullptr, Parent()})
    if (up) static_cast<CSnPropertyNode*>(up)->UncountVirtual(record);
  return SN_Success;
}

// ---- inherited look-ups ----

void CSnPropertyNode::GetPriority(const SnRTPCKey& key, float& priority, float& distanceOffset) const {
  const CSnPropertyNode* node = this;
  while (node->Parent() && !(node->FlagsA() & kOverridesPriority))
    node = static_cast<const CSnPropertyNode*>(node->Parent());
  priority = node->HasCurve(8) ? node->RTPCValue(8, key) : node->FloatProperty(SnProp_Priority);
  distanceOffset = (node->FlagsA() & kPriorityDistance) ? node->FloatProperty(SnProp_PriorityDistanceOffset) : 0.0f;
}

uint8_t CSnPropertyNode::GetVoiceBehaviour(uint8_t& virtualBehaviour) const {
  const CSnPropertyNode* node = this;
  while (node->Parent() && !(node->FlagsA() & kOverridesVoiceBehaviour))
    node = static_cast<const CSnPropertyNode*>(node->Parent());
  virtualBehaviour = node->m_voiceSettings & 0x07;
  return uint8_t((node->m_voiceSettings >> 3) & 0x0F);
}

const CSnPropertyNode* CSnPropertyNode::MidiSettingsNode(uint8_t overrideBit) const {
  const CSnPropertyNode* node = this;
  while (node->Parent() && !(node->MidiFlags() & overrideBit))
    node = static_cast<const CSnPropertyNode*>(node->Parent());
  return node;
}

const CSnPropertyNode* CSnPropertyNode::PositioningNode() const {
  const CSnPropertyNode* node = this;
  while (node->Parent() && !(node->FlagsB() & kHasPositioning))
    node = static_cast<const CSnPropertyNode*>(node->Parent());
  return node;
}

bool CSnPropertyNode::GetAttenuationMaxDistance(float& maxDistance) const {
  // Attenuations come with 3D positioning: the positioning the node's voices take names it.
  const SnPositioningParams* positioning = PositioningNode()->Positioning();
  ISnAttenuationDirectory* directory = AttenuationDirectory();
  if (!positioning || !positioning->attenuationId || !directory) return false;
  return AttenuationMaxDistance(directory->FindAttenuation(positioning->attenuationId), maxDistance);
}

}  // namespace SN
