// Buses: reading, children, the effective properties, ducking and recovery, the master buses and
// background music.
#include "SoundEngine/Hierarchy/BusNode.h"

#include <bit>
#include <cstring>

#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/BusMixCommands.h"
#include "SoundEngine/Hierarchy/NodeIdList.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

constexpr uint32_t kStandardConfigType = 1;
constexpr uint32_t kStandardMaskKept = 0x3FF3F;
constexpr float kDuckedThreshold = -0.01f;
// A bus's property 5 is its own volume, applied where the bus mixes.
constexpr uint8_t kBusVolume = 5;

struct MasterBuses {
  CSnBusNode* master = nullptr;
  CSnBusNode* secondary = nullptr;
};
MasterBuses& Masters() {
  static MasterBuses masters;
  return masters;
}
Platform::ReentrantLock& BusListLock() { return g_pObjectIndex->GetNodeList(true).Lock(); }

struct BackgroundMusic {
  Platform::ReentrantLock lock;
  SnArray<CSnBusNode*> buses;
  bool muted = false;
};
BackgroundMusic& Music() {
  static BackgroundMusic music;
  return music;
}

// The owner of every bus's recovery action: it finds the bus by id when the action runs, so that a
// bus unloaded meanwhile is no dangling target.
class CSnBusRecoveries final : public ISnDuckRecoveryOwner {
 public:
  void DuckRecoveryOver(CSnEventAction* action) override {
    if (!g_pObjectIndex) return;
    auto* bus = static_cast<CSnBusNode*>(g_pObjectIndex->FindNodeAndAddRef(action->TargetId(), true));
    if (!bus) return;
    bus->RecoveryDone(action);
    bus->Release();
  }
};
CSnBusRecoveries& Recoveries() {
  static CSnBusRecoveries recoveries;
  return recoveries;
}

uint32_t DuckList(uint32_t property) { return property == kBusVolume ? 1 : 0; }

}  // namespace

// ---- the duck entry's transition target ----

SNRESULT CSnBusParamTransitionTarget::Init(CSnBusNode* owner) {
  bus = owner;
  transition = nullptr;
  value = 0.0f;
  return SN_Success;
}

SNRESULT CSnBusParamTransitionTarget::Detach() {
  if (transition) transition->RemoveTarget(this);
  transition = nullptr;
  return SN_Success;
}

void CSnBusParamTransitionTarget::TransitionUpdate(uint32_t kind, float newValue, bool done) {
  if (kind != 0 && kind != kBusVolume) return;
  const float before = bus->GetDuckedValue(kind);
  value = newValue;
  if (done) transition = nullptr;
  bus->RefreshDuckSum(kind);
  const float after = bus->GetDuckedValue(kind);
  if (after != before) bus->DuckedValueChanged(kind, after, after - before);
}

// ---- lifetime ----

CSnBusNode::CSnBusNode(uint32_t id, uint32_t category) : CSnPropertyNode(id, true), m_category(category) {
  RefreshOwnMixStage();
}

CSnBusNode::~CSnBusNode() {
  for (SnArray<SnDuckEntry*>& list : m_ducks) {
    for (SnDuckEntry* entry : list) {
      entry->target.Detach();
      PoolDelete(g_DefaultPoolId, entry);
    }
    list.Term();
  }
  m_duckTargets.Term();
  m_children.Term();
  m_childBuses.Term();
  if (m_mixer) MemoryMgr::Free(g_DefaultPoolId, m_mixer);
}

void CSnBusNode::BeforeDestroy() {
  LeaveBackgroundMusic();
  if (IsMotionBus()) LeaveDefaultMotionBus();
  if (m_recovery) {
    if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsOfAction(m_recovery);
    m_recovery->Release();
    m_recovery = nullptr;
  }
  {
    Platform::ReentrantGuard guard(BusListLock());
    MasterBuses& masters = Masters();
    if (masters.master == this) masters.master = nullptr;
    if (masters.secondary == this) masters.secondary = nullptr;
  }
  // The child buses lose their parent as this one goes; the routed nodes drop their output bus
  // themselves before they go, and this bus goes only after them (each holds a reference).
  CSnPropertyNode::BeforeDestroy();
}

SNRESULT CSnBusNode::PlayNode(CSnPlayParams&) {
  SOUND_LOG(Error, "Bus %u: a play reached a bus; buses are routed to, not played", ID());
  return SN_Failure;
}

// ---- reading ----

SNRESULT CSnBusNode::SetInitialValues(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const uint8_t* end = data + size;
  uint32_t parentId = 0;
  if (size < sizeof parentId) {
    SOUND_LOG(Error, "Bus %u: the parent id runs past the end of the object", ID());
    return SN_Failure;
  }
  memcpy(&parentId, cursor, sizeof parentId);
  cursor += sizeof parentId;
  if (IsMotionBus()) BecomeDefaultMotionBus();
  SNRESULT result = SetParentBus(parentId);
  if (result == SN_Success) result = ReadBusParams(cursor, end);
  if (result == SN_Success) result = ReadDucking(cursor, end);
  if (result == SN_Success) result = ReadBusEffects(cursor, end);
  if (result != SN_Success) return result;
  if (cursor >= end) {
    SOUND_LOG(Error, "Bus %u: the flag byte runs past the end of the object", ID());
    return SN_Failure;
  }
  ++cursor;  // one node flag, nothing reads it
  result = ReadCurves(cursor, end);
  if (result == SN_Success) result = ReadStateGroups(cursor, end);
  if (result == SN_Success && end - cursor >= 4) cursor += 4;  // a motion bank's secondary output: buses have none
  return result;
}

SNRESULT CSnBusNode::SetParentBus(uint32_t parentId) {
  // A parentless motion bus is no master: the masters are where sound ends.
  if (parentId == 0 && IsMotionBus()) return SN_Success;
  if (parentId == 0) {
    Platform::ReentrantGuard guard(BusListLock());
    MasterBuses& masters = Masters();
    if (!masters.master) {
      masters.master = this;
      m_state |= kPrimaryMaster;
    } else if (!masters.secondary && masters.master != this) {
      masters.secondary = this;
      m_state &= uint8_t(~kPrimaryMaster);
    }
    return SN_Success;
  }
  auto* parent = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(parentId, true));
  if (!parent) {
    SOUND_LOG(Error, "Bus %u: parent bus %u is not loaded", ID(), parentId);
    return SN_Failure;
  }
  const SNRESULT result = parent->AddChild(this);
  parent->Release();
  return result;
}

SNRESULT CSnBusNode::ReadBusParams(const uint8_t*& cursor, const uint8_t* end) {
  if (MutableProperties().ReadFromBank(cursor, end) != SN_Success) {
    SOUND_LOG(Error, "Bus %u: the property block runs past the end of the object", ID());
    return SN_Failure;
  }
  HoldBankProperties(MutableProperties(), "Bus", ID(), PropertyRange);
  struct {
    uint8_t mixStage, voice;
    uint16_t maxInstances;
    uint32_t channelConfig;
    uint8_t state;
  } fields;
  constexpr uint32_t kBytes = 1 + 1 + 2 + 4 + 1;
  if (end - cursor < kBytes) {
    SOUND_LOG(Error, "Bus %u: the bus parameters run past the end of the object", ID());
    return SN_Failure;
  }
  fields.mixStage = cursor[0];
  fields.voice = cursor[1];
  memcpy(&fields.maxInstances, cursor + 2, 2);
  memcpy(&fields.channelConfig, cursor + 4, 4);
  fields.state = cursor[8];
  cursor += kBytes;
  m_mixStageOverrides = fields.mixStage & 0x03;  // SetChannelConfig below refreshes the mix stage
  SetFlagA(kLimiterOldestFirst, fields.voice & 0x01);
  SetFlagA(kLimiterGoVirtual, fields.voice & 0x02);
  SetFlagA(kEnforcesOwnLimit, fields.voice & 0x04);
  SetMaxInstances(fields.maxInstances & kMaxInstancesMask);
  SetChannelConfig(fields.channelConfig);
  m_state = uint8_t(fields.state ? m_state | kFromBank : m_state & ~kFromBank);
  SetFlagB(kStateValuesApply, true);
  if (fields.voice & 0x08) JoinBackgroundMusic();
  return SN_Success;
}

// A ducked value is a level added to the bus's volume: held to the levels, as the bus's own volume is.
float CSnBusNode::HeldDuckLevel(float dB, const char* what) const {
  const float held = kDecibelRange.Hold(dB);
  if (held != dB)
    SOUND_LOG(Error, "Bus %u: %s of %g dB is outside %g to %g dB; %g is used", ID(), what, double(dB),
              double(kDecibelRange.min), double(kDecibelRange.max), double(held));
  return held;
}

SNRESULT CSnBusNode::ReadDucking(const uint8_t*& cursor, const uint8_t* end) {
  SnBankCursor in(cursor, uint32_t(end - cursor));
  uint32_t recoveryMs = 0, count = 0;
  if (!in.Take(recoveryMs) || !in.Take(m_maxDuckVolume) || !in.Take(count)) {
    SOUND_LOG(Error, "Bus %u: the ducking fields run past the end of the object", ID());
    return SN_Failure;
  }
  m_maxDuckVolume = HeldDuckLevel(m_maxDuckVolume, "max duck volume");
  // In 64 bits and saturated: a huge recovery time is a long one, not a short one.
  const uint64_t samples = uint64_t(LowerEngine::SampleRate() / 1000) * recoveryMs;
  const uint32_t saturated = samples > UINT32_MAX ? UINT32_MAX : uint32_t(samples);
  m_recoverySamples = saturated > LowerEngine::SamplesPerFrame() ? saturated : 0;
  for (uint32_t i = 0; i < count; ++i) {
    SnDuckTarget duck{};
    uint8_t curve = 0, property = 0;
    if (!in.Take(duck.targetBusId) || !in.Take(duck.volume) || !in.Take(duck.fadeOutMs) || !in.Take(duck.fadeInMs) ||
        !in.Take(curve) || !in.Take(property)) {
      SOUND_LOG(Error, "Bus %u: duck %u runs past the end of the object", ID(), i);
      return SN_Failure;
    }
    duck.volume = HeldDuckLevel(duck.volume, "duck volume");
    const SNRESULT added = AddDuck(duck.targetBusId, duck.volume, duck.fadeOutMs, duck.fadeInMs, curve, property);
    if (added != SN_Success) return added;
  }
  cursor = end - in.Left();
  return SN_Success;
}

SNRESULT CSnBusNode::ReadBusEffects(const uint8_t*& cursor, const uint8_t* end) {
  SnBankCursor in(cursor, uint32_t(end - cursor));
  uint8_t count = 0, bypass = 0;
  if (!in.Take(count) || (count && !in.Take(bypass))) {
    SOUND_LOG(Error, "Bus %u: the effect block runs past the end of the object", ID());
    return SN_Failure;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t slot = 0, shared = 0, rendered = 0;
    uint32_t effectId = 0;
    if (!in.Take(slot) || !in.Take(effectId) || !in.Take(shared) || !in.Take(rendered)) {
      SOUND_LOG(Error, "Bus %u: effect %u runs past the end of the object", ID(), i);
      return SN_Failure;
    }
    if (slot > 3) {
      SOUND_LOG(Error, "Bus %u: effect slot %u, beyond the four a bus has", ID(), unsigned(slot));
      return SN_Failure;
    }
    if (!effectId) continue;
    const SNRESULT set = SetEffectSlot(slot, effectId, shared, 0);
    if (set != SN_Success) return set;
  }
  if (count) SetBypassBits(bypass, 0x1F);
  uint32_t mixerId = 0;
  uint8_t mixerShared = 0;
  if (!in.Take(mixerId) || !in.Take(mixerShared)) {
    SOUND_LOG(Error, "Bus %u: the mixer runs past the end of the object", ID());
    return SN_Failure;
  }
  cursor = end - in.Left();
  return SetMixerPlugin(mixerId, mixerShared, 0);
}

// ---- children ----

SNRESULT CSnBusNode::CanAddChild(CSnHierarchyNode* child) const {
  if (IsMotionBus()) return CanAddMotionChild(child);
  if (child == this) return SN_CannotAddItself;
  const CSnHierarchyNode* owner = child->IsBus() ? child->Parent() : child->OutputBus();
  if (owner && owner != this) return SN_ChildAlreadyHasAParent;
  if (child->IsBus() ? m_childBuses.IndexOf(static_cast<CSnBusNode*>(child)) >= 0 : m_children.IndexOf(child) >= 0)
    return SN_AlreadyListed;
  return child->IsBus() ? CheckDepthBelow(child) : SN_Success;
}

const CSnHierarchyNode* CSnBusNode::LinkedChild(uint32_t index) const { return m_childBuses[index]; }

SNRESULT CSnBusNode::AddChild(CSnHierarchyNode* child) {
  if (!child) return SN_InvalidParameter;
  const SNRESULT check = CanAddChild(child);
  if (check != SN_Success) return check;
  if (IsMotionBus() && !child->IsBus()) return AddMotionChild(child);
  const SNRESULT inserted = child->IsBus() ? InsertById(m_childBuses, static_cast<CSnBusNode*>(child))
                                           : InsertById(m_children, child);
  if (inserted != SN_Success) return inserted;
  // The child's link holds the reference on this bus.
  if (child->IsBus())
    child->SetParent(this);
  else
    child->SetOutputBus(this);
  return SN_Success;
}

void CSnBusNode::RemoveChild(CSnHierarchyNode* child) {
  if (IsMotionBus() && !child->IsBus()) return RemoveMotionChild(child);
  if (child->IsBus() ? child->Parent() != this : child->OutputBus() != this) return;
  if (child->IsBus())
    RemoveFrom(m_childBuses, child);
  else
    RemoveFrom(m_children, child);
}

// ---- mix properties ----

void CSnBusNode::SetChannelConfig(uint32_t config) {
  if (((config >> 8) & 0xF) == kStandardConfigType) {
    const uint32_t mask = (config >> 12) & kStandardMaskKept;
    config = (mask << 12) | (kStandardConfigType << 8) | uint32_t(std::popcount(mask));
  }
  m_channelConfig = config;
  RefreshOwnMixStage();
}

void CSnBusNode::RefreshOwnMixStage() {
  const SnNodeFxSlots* fx = FxSlots();
  const bool effects =
      fx && (fx->slots[0].effectId || fx->slots[1].effectId || fx->slots[2].effectId || fx->slots[3].effectId);
  m_ownMixStage = effects || m_category == Category_BusKind12 || m_channelConfig || m_mixStageOverrides || !Parent() ||
                  (m_mixer && m_mixer->pluginId);
}

void CSnBusNode::SetParent(CSnHierarchyNode* parent) {
  CSnPropertyNode::SetParent(parent);
  RefreshOwnMixStage();
}

float CSnBusNode::OwnEffectiveValue(const EffectiveQuery& query) const {
  float value = Properties().GetOr(query.property, 0.0f);
  if (query.stated && (FlagsB() & kStateValuesApply))
    for (CSnStateGroupLink* link = StateLinks(); link; link = link->m_pNextLink) value += link->Value(query.property);
  if (m_targets && (m_targets->ParameterMask() & query.curveBit)) value += RTPCValue(query.parameter, SnRTPCKey{});
  // Where a fade stands, not where it is going: the voices and the mix are told each of its steps.
  if (const CSnPropTransitionSet* global = GlobalValueSet()) value += global->HeardOr(query.property, 0.0f);
  if (query.ducked) value += GetDuckedValue(query.property);
  return value;
}

CSnBusNode::EffectiveQuery CSnBusNode::QueryFor(uint32_t propertyId) {
  // Which parts apply to the property is decided once for a whole walk.
  EffectiveQuery query;
  query.property = propertyId;
  query.parameter = propertyId == kBusVolume ? kBusVolume : ParameterOfProperty(propertyId);
  query.curveBit = ParameterBit(query.parameter);
  query.stated = propertyId <= kBusVolume;
  query.ducked = propertyId == SnProp_Volume || propertyId == kBusVolume;
  return query;
}

float CSnBusNode::GetEffectiveProperty(uint32_t propertyId, bool wholeChain) const {
  const EffectiveQuery query = QueryFor(propertyId);
  float value = 0.0f;
  for (const CSnBusNode* bus = this; bus;
       bus = wholeChain || !bus->m_ownMixStage ? static_cast<const CSnBusNode*>(bus->Parent()) : nullptr)
    value += bus->OwnEffectiveValue(query);
  return value;
}

float CSnBusNode::VoiceCarriedBusVolume() const {
  const EffectiveQuery query = QueryFor(kBusVolume);
  float value = 0.0f;
  for (const CSnBusNode* bus = this; bus && !bus->m_ownMixStage; bus = static_cast<const CSnBusNode*>(bus->Parent()))
    value += bus->OwnEffectiveValue(query);
  return value;
}

void CSnBusNode::GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key, SnRandomOffsets* random,
                                bool computeRandom, bool) {
  static constexpr struct {
    uint32_t group;
    uint8_t property;
    float SnSoundParams::*field;
  } kSummed[] = {{SnParamGroup_Volume, SnProp_Volume, &SnSoundParams::volume},
                 {SnParamGroup_Pitch, SnProp_Pitch, &SnSoundParams::pitch},
                 {SnParamGroup_LowPass, SnProp_LowPass, &SnSoundParams::lowPass},
                 {SnParamGroup_HighPass, SnProp_HighPass, &SnSoundParams::highPass}};
  // One pass over the bank values and one over the run-time values: each holds few ids, unsorted.
  const auto add = [&params, mask](uint32_t id, float value) {
    for (const auto& summed : kSummed)
      if (summed.property == id && (mask & summed.group)) params.*summed.field += value;
  };
  const SnPropertyBlob4& bank = Properties();
  for (uint32_t i = 0; i < bank.Count(); ++i) {
    float value;
    memcpy(&value, bank.ValueAt(i), sizeof value);
    add(bank.IdAt(i), value);
  }
  if (const CSnPropTransitionSet* global = GlobalValueSet())
    for (uint32_t i = 0; i < global->Count(); ++i) add(global->IdAt(i), global->HeardAt(i));
  if (const uint64_t curves = ParameterMask(); curves & 0x1D)
    for (const auto& summed : kSummed)
      if ((mask & summed.group) && (curves & ParameterBit(summed.property)))
        params.*summed.field += RTPCValue(summed.property, key);
  if (mask & SnParamGroup_Volume) params.volume += GetDuckedValue(SnProp_Volume);
  // A mute of this bus (or the background-music mute) reaches the voices that start under it, as a
  // node's own mute does, and not only those already playing when it came.
  if (mask & SnParamGroup_Volume) {
    bool musicMuted = false;
    if (m_state & kBackgroundMusic) {
      Platform::ReentrantGuard guard(Music().lock);
      musicMuted = Music().muted;
    }
    if (const float gain = RuntimeGain(); gain != 1.0f || musicMuted) ApplyGainFactor(nullptr, gain);
  }
  if (auto* parent = static_cast<CSnPropertyNode*>(Parent()))
    parent->GetSoundParams(params, mask, key, random, computeRandom, false);
}

void CSnBusNode::ForEachActiveChild(bool lastFirst, void (*visit)(CSnHierarchyNode*, const void*),
                                    const void* context) {
  // A child may leave the array while it is told (a stop without a fade): indices are checked anew.
  for (uint32_t n = 0; Activity() && n < Activity()->children.Count(); ++n) {
    const uint32_t count = Activity()->children.Count();
    const uint32_t at = lastFirst ? count - 1 - n : n;
    visit(ActivityRecord()->children[at], context);
  }
}

void CSnBusNode::ExecuteAction(const SnActionParams& params) {
  if (params.ownTransitions) {
    // A record for everything reaches the other nodes from their trees' roots: through the buses it
    // goes bus to bus only, so that no voice hears it twice.
    ApplyToOwnTransitions(params);
    for (uint32_t i = m_childBuses.Count(); i-- > 0;)
      if (i < m_childBuses.Count()) m_childBuses[i]->ExecuteAction(params);
    return;
  }
  ForEachActiveChild(params.kind != SnActionParams::Seek,
                     [](CSnHierarchyNode* child, const void* p) {
                       child->ExecuteAction(*static_cast<const SnActionParams*>(p));
                     },
                     &params);
}

void CSnBusNode::DeliverParameterChange(const SnParamChange& change) {
  // The nodes a motion bus is the second output of take its volume and pitch as their motion's
  // (parameters 29 and 31), not as their sound's.
  SnParamChange delivered = change;
  if (IsMotionBus() && change.parameterId == 0) delivered.parameterId = 29;
  if (IsMotionBus() && change.parameterId == 2) delivered.parameterId = 31;
  ForEachActiveChild(false,
                     [](CSnHierarchyNode* child, const void* c) {
                       child->DeliverParameterChange(*static_cast<const SnParamChange*>(c));
                     },
                     &delivered);
  if (IsMotionBus()) TellMotionVoices();
  if (change.parameterId == kBusVolume) PushVolume();
}

void CSnBusNode::ValuesChanged() {
  PushVolume();
  ForEachActiveChild(false, [](CSnHierarchyNode* child, const void*) { child->ValuesChanged(); }, nullptr);
}

void CSnBusNode::PropertyTransitionStep(CSnRegisteredObj* gameObject, uint32_t propertyId, uint32_t parameterId,
                                        float value, float change) {
  // The bus volume drives no game parameter: the mix and the voices that carry it read it anew.
  if (propertyId == kBusVolume) return ValuesChanged();
  CSnPropertyNode::PropertyTransitionStep(gameObject, propertyId, parameterId, value, change);
}

void CSnBusNode::PushVolume() {
  if (!HasOwnMixStage()) return;
  m_state |= kVolumePushed;
  if (ISnBusMixCommands* mix = BusMixCommands()) mix->SetBusVolume(ID(), GetEffectiveProperty(kBusVolume, false));
}

float CSnBusNode::RuntimeGain() const {
  const CSnPropTransitionSet* global = GlobalValueSet();
  return global ? global->ValueOr(SnProp_GainFactor, 1.0f) : 1.0f;
}

void CSnBusNode::ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) {
  // A motion bus's mute and gain factor are its children's motion's, read along the motion bus
  // chain: a sound naming it for its second output stays heard on its own output.
  if (IsMotionBus()) {
    TellMotionVoices();
    return;
  }
  if (m_state & kBackgroundMusic) {
    Platform::ReentrantGuard guard(Music().lock);
    if (Music().muted) gain = 0.0f;
  }
  struct Gain {
    CSnRegisteredObj* object;
    float gain;
  } context{gameObject, gain};
  ForEachActiveChild(false,
                     [](CSnHierarchyNode* child, const void* c) {
                       const Gain& g = *static_cast<const Gain*>(c);
                       static_cast<CSnPropertyNode*>(child)->ApplyGainFactor(g.object, g.gain);
                     },
                     &context);
}

SNRESULT CSnBusNode::SetRuntimeValue(CSnRegisteredObj*, uint8_t id, float value, const TransParamsBase& params) {
  return CSnPropertyNode::SetRuntimeValue(nullptr, id, value, params);
}
SNRESULT CSnBusNode::Mute(CSnRegisteredObj*, const TransParamsBase& params) {
  return CSnPropertyNode::Mute(nullptr, params);
}
SNRESULT CSnBusNode::Unmute(CSnRegisteredObj*, const TransParamsBase& params) {
  return CSnPropertyNode::Unmute(nullptr, params);
}

// ---- effects ----

bool CSnBusNode::IsEffectBypassed(uint32_t slot) const {
  if (slot > 3) return false;
  const SnNodeFxSlots* fx = FxSlots();
  if (fx && fx->slots[slot].effectId && HasCurve(24 + slot)) return RTPCValue(24 + slot, SnRTPCKey{}) != 0.0f;
  return fx && (fx->bypass & (1u << slot));
}

bool CSnBusNode::AreAllEffectsBypassed() const {
  if (HasCurve(28)) return RTPCValue(28, SnRTPCKey{}) != 0.0f;
  const SnNodeFxSlots* fx = FxSlots();
  return fx && (fx->bypass & 0x10);
}

void CSnBusNode::CurveAdded(uint32_t parameterId) {
  ISnBusMixCommands* mix = BusMixCommands();
  if (!mix) return;
  if (parameterId >= 24 && parameterId <= 27) {
    const uint32_t slot = parameterId - 24;
    mix->SetBusBypassFX(ID(), IsEffectBypassed(slot) ? 1u << slot : 0u, 1u << slot);
  } else if (parameterId == 28) {
    mix->SetBusBypassFX(ID(), AreAllEffectsBypassed() ? 0x10u : 0u, 0x10u);
  }
}

void CSnBusNode::EffectSlotChanged(uint32_t slot) {
  RefreshOwnMixStage();
  if (ISnBusMixCommands* mix = BusMixCommands()) mix->UpdateBusEffect(ID(), slot);
}

void CSnBusNode::BypassChanged() {
  ISnBusMixCommands* mix = BusMixCommands();
  if (!mix) return;
  uint32_t bits = AreAllEffectsBypassed() ? 0x10u : 0u;
  for (uint32_t slot = 0; slot < 4; ++slot)
    if (IsEffectBypassed(slot)) bits |= 1u << slot;
  mix->SetBusBypassFX(ID(), bits, 0x1F);
}

SNRESULT CSnBusNode::SetMixerPlugin(uint32_t pluginId, bool shared, uint32_t priority) {
  if (!m_mixer) {
    if (!pluginId) return SN_Success;
    m_mixer = static_cast<SnBusMixer*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnBusMixer)));
    if (!m_mixer) return SN_Failure;
    *m_mixer = SnBusMixer{0, 0, 0, 0};
  }
  if (priority < m_mixer->priority) return SN_Success;
  m_mixer->priority = priority;
  if (m_mixer->pluginId == pluginId && bool(m_mixer->shared) == shared) return SN_Success;
  m_mixer->pluginId = pluginId;
  m_mixer->shared = shared;
  // The mixing graph makes the bus anew around the new mixer.
  if (ISnBusMixCommands* mix = BusMixCommands()) mix->UpdateBusEffect(ID(), 4);
  if (!pluginId) {
    MemoryMgr::Free(g_DefaultPoolId, m_mixer);
    m_mixer = nullptr;
  }
  RefreshOwnMixStage();
  return SN_Success;
}

// ---- counting and ducking ----

SNRESULT CSnBusNode::CountInstance(SnCountRecord& record) {
  const SNRESULT result = CSnPropertyNode::CountInstance(record);
  if (result != SN_InsufficientMemory && Activity() && Activity()->playing == 1 && DuckingState() != Duck_Ducking)
    BeginDucking();
  return result;
}

void CSnBusNode::UncountInstance(SnCountRecord& record) {
  CSnPropertyNode::UncountInstance(record);
  if ((!Activity() || Activity()->playing == 0) && DuckingState() == Duck_Ducking) EndDucking();
}

SNRESULT CSnBusNode::AddDuck(uint32_t targetBusId, float volume, int32_t fadeOutMs, int32_t fadeInMs, uint32_t curve,
                             uint32_t property) {
  const SnDuckTarget duck{targetBusId, volume, fadeOutMs, fadeInMs, curve, property};
  for (SnDuckTarget& existing : m_duckTargets) {
    if (existing.targetBusId != targetBusId) continue;
    existing = duck;
    return SN_Success;
  }
  if (m_duckTargets.Count() >= kMaxDucks || !m_duckTargets.Add(duck, 4)) {
    SOUND_LOG(Error, "Bus %u: no room for a duck of bus %u", ID(), targetBusId);
    return SN_Failure;
  }
  return SN_Success;
}

template <typename Visit>
void CSnBusNode::ForEachDuckTarget(Visit&& visit) {
  // Copied first: a target told to move may be this very bus.
  for (uint32_t i = 0; i < m_duckTargets.Count(); ++i) {
    const SnDuckTarget duck = m_duckTargets[i];
    auto* target = static_cast<CSnBusNode*>(g_pObjectIndex->FindNodeAndAddRef(duck.targetBusId, true));
    if (!target) continue;  // takes effect when the target is loaded and ducking begins again
    visit(*target, duck);
    target->Release();
  }
}

void CSnBusNode::BeginDucking() {
  // A recovery still waiting would otherwise end this new ducking early.
  if (m_recovery) {
    if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsOfAction(m_recovery);
    m_recovery->Release();
    m_recovery = nullptr;
  }
  m_state = uint8_t((m_state & ~kDuckStateMask) | Duck_Ducking);
  ForEachDuckTarget([this](CSnBusNode& target, const SnDuckTarget& duck) {
    target.Duck(ID(), duck.volume, duck.fadeOutMs, duck.curve, duck.property);
  });
}

void CSnBusNode::EndDucking() {
  if (m_recoverySamples && m_duckTargets.Count() && g_pAudioMgr) {
    auto* action = PoolNew<CSnActionDuckRecovery>(g_DefaultPoolId, 0u, SnAction_DuckRecovery);
    if (action) {
      action->SetTarget(ID(), true);
      action->SetDelaySamples(m_recoverySamples);
      action->SetOwner(&Recoveries());
    }
    auto* record = action ? g_pAudioMgr->NewRecord(action, 0u) : nullptr;
    if (record) {
      // A recovery is always a frame or more away: it waits in the due list, or the list refused it.
      const uint32_t due = g_pAudioMgr->DuePendingCount();
      g_pAudioMgr->ScheduleAction(record);
      if (g_pAudioMgr->DuePendingCount() > due) {
        m_recovery = action;
        m_state = uint8_t((m_state & ~kDuckStateMask) | Duck_Recovering);
        ForEachDuckTarget([this](CSnBusNode& target, const SnDuckTarget& duck) { target.HoldDuck(ID(), duck.property); });
        return;
      }
    }
    SOUND_LOG(Error, "Bus %u: no recovery could be queued; its targets recover at once", ID());
    if (action) action->Release();
  }
  UnduckTargets();
}

void CSnBusNode::UnduckTargets() {
  m_state = uint8_t((m_state & ~kDuckStateMask) | Duck_Idle);
  ForEachDuckTarget([this](CSnBusNode& target, const SnDuckTarget& duck) {
    target.Unduck(ID(), duck.fadeInMs, duck.curve, duck.property);
  });
}

void CSnBusNode::RecoveryDone(const CSnEventAction* recovery) {
  if (recovery != m_recovery) return;
  m_recovery->Release();  // the pending record holds its own while it runs
  m_recovery = nullptr;
  if (DuckingState() == Duck_Recovering) UnduckTargets();
}

SnDuckEntry* CSnBusNode::FindDuckEntry(uint32_t duckingBusId, uint32_t property) const {
  for (SnDuckEntry* entry : const_cast<SnArray<SnDuckEntry*>&>(m_ducks[DuckList(property)]))
    if (entry->duckingBusId == duckingBusId) return entry;
  return nullptr;
}

SNRESULT CSnBusNode::Duck(uint32_t duckingBusId, float volume, int32_t fadeMs, uint32_t curve, uint32_t property) {
  if (property != SnProp_Volume && property != kBusVolume) {
    SOUND_LOG(Error, "Bus %u: bus %u ducks property %u; only 0 and 5 duck", ID(), duckingBusId, property);
    return SN_InvalidParameter;
  }
  SnDuckEntry* entry = FindDuckEntry(duckingBusId, property);
  if (!entry) {
    SnArray<SnDuckEntry*>& list = m_ducks[DuckList(property)];
    if (list.Count() >= kMaxDucks) return SN_Failure;
    entry = PoolNew<SnDuckEntry>(g_DefaultPoolId);
    if (!entry) return SN_Failure;
    entry->duckingBusId = duckingBusId;
    entry->target.Init(this);
    if (!list.Add(entry, 4)) {
      PoolDelete(g_DefaultPoolId, entry);
      return SN_Failure;
    }
  }
  MoveDuckEntry(*entry, property, volume, fadeMs, curve);
  return SN_Success;
}

SNRESULT CSnBusNode::Unduck(uint32_t duckingBusId, int32_t fadeMs, uint32_t curve, uint32_t property) {
  if (SnDuckEntry* entry = FindDuckEntry(duckingBusId, property)) MoveDuckEntry(*entry, property, 0.0f, fadeMs, curve);
  return SN_Success;
}

void CSnBusNode::HoldDuck(uint32_t duckingBusId, uint32_t property) {
  if (SnDuckEntry* entry = FindDuckEntry(duckingBusId, property)) entry->target.Detach();
}

void CSnBusNode::MoveDuckEntry(SnDuckEntry& entry, uint32_t property, float goal, int32_t fadeMs, uint32_t curve) {
  CSnBusParamTransitionTarget& target = entry.target;
  const uint32_t ms = fadeMs > 0 ? uint32_t(fadeMs) : 0;
  if (target.transition) {
    target.transition->Retarget(property, goal, ms, curve, SnValueMeaning_Absolute);
    return;
  }
  if (goal != target.value && ms && g_pTransitionMgr) {
    SnTransitionParams params;
    params.target = &target;
    params.kind = property;
    params.initial = target.value;
    params.end = goal;
    params.timeMs = ms;
    params.curve = curve;
    // Without a transition the manager has told the target its end value already.
    target.transition = g_pTransitionMgr->AddTransition(params, true, CSnTransitionMgr::List_Ordinary);
    return;
  }
  target.TransitionUpdate(property, goal, true);
}

float CSnBusNode::GetDuckedValue(uint32_t property) const {
  const float sum = m_duckSums[DuckList(property)];
  return sum < m_maxDuckVolume ? m_maxDuckVolume : sum;
}

void CSnBusNode::RefreshDuckSum(uint32_t property) {
  float sum = 0.0f;
  for (const SnDuckEntry* entry : m_ducks[DuckList(property)]) sum += entry->target.value;
  m_duckSums[DuckList(property)] = sum;
}

bool CSnBusNode::IsDucked() const {
  for (const SnArray<SnDuckEntry*>& list : m_ducks)
    for (const SnDuckEntry* entry : const_cast<SnArray<SnDuckEntry*>&>(list))
      if (entry->target.value < kDuckedThreshold) return true;
  return false;
}

void CSnBusNode::DuckedValueChanged(uint32_t property, float value, float delta) {
  if (ISnBusMixCommands* mix = BusMixCommands()) mix->SetBusParam(ID(), property, value, delta);
  ParameterChanged(property, SnRTPCKey{}, delta, false);
}

// ---- master buses ----

namespace {
// The master or the secondary, with a reference taken under the bus list's lock.
CSnBusNode* HeldMaster(CSnBusNode* MasterBuses::*which) {
  if (!g_pObjectIndex) return nullptr;
  Platform::ReentrantGuard guard(BusListLock());
  CSnBusNode* bus = Masters().*which;
  if (bus) bus->AddRef();
  return bus;
}
}  // namespace

CSnBusNode* CSnBusNode::MasterBus() { return HeldMaster(&MasterBuses::master); }
CSnBusNode* CSnBusNode::SecondaryMasterBus() { return HeldMaster(&MasterBuses::secondary); }

void CSnBusNode::ClearMasterBuses() {
  if (!g_pObjectIndex) return;
  Platform::ReentrantGuard guard(BusListLock());
  Masters() = MasterBuses{};
}

void CSnBusNode::ExecuteOnMasterBuses(const SnActionParams& params) {
  if (g_pTransitionMgr && params.kind == SnActionParams::Pause) g_pTransitionMgr->PauseAllStateTransitions();
  if (g_pTransitionMgr && params.kind == SnActionParams::Resume) g_pTransitionMgr->ResumeAllStateTransitions();
  // The default motion bus is no master's child: it hears the record on its own.
  for (CSnBusNode* bus : {MasterBus(), SecondaryMasterBus(), DefaultMotionBus()}) {
    if (!bus) continue;
    bus->ExecuteAction(params);
    bus->Release();
  }
}

// ---- background music ----

void CSnBusNode::JoinBackgroundMusic() {
  if (m_state & kBackgroundMusic) return;
  BackgroundMusic& music = Music();
  Platform::ReentrantGuard guard(music.lock);
  if (!music.buses.Add(this, 4)) {
    SOUND_LOG(Error, "Bus %u: no room in the background-music list", ID());
    return;
  }
  m_state |= kBackgroundMusic;
  if (music.muted) ApplyGainFactor(nullptr, 0.0f);
}

void CSnBusNode::LeaveBackgroundMusic() {
  if (!(m_state & kBackgroundMusic)) return;
  BackgroundMusic& music = Music();
  Platform::ReentrantGuard guard(music.lock);
  RemoveFrom(music.buses, this);
  m_state &= uint8_t(~kBackgroundMusic);
  if (music.muted) ApplyGainFactor(nullptr, RuntimeGain());
  if (!music.buses.Count()) music.buses.Term();
}

void CSnBusNode::SetBackgroundMusicMuted(bool muted) {
  BackgroundMusic& music = Music();
  Platform::ReentrantGuard guard(music.lock);
  if (music.muted == muted) return;
  music.muted = muted;
  for (CSnBusNode* bus : music.buses) bus->ApplyGainFactor(nullptr, muted ? 0.0f : bus->RuntimeGain());
}

bool CSnBusNode::BackgroundMusicMuted() {
  Platform::ReentrantGuard guard(Music().lock);
  return Music().muted;
}

uint32_t CSnBusNode::BackgroundMusicBusCount() {
  Platform::ReentrantGuard guard(Music().lock);
  return Music().buses.Count();
}

// ---- the loaders ----

namespace {

template <uint32_t Category>
SNRESULT CreateBus(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object) {
  return CreateFromPayload<CSnBusNode>(payload, size, object, Category);
}

const SnHircKind kBusKind = {SnIndex_Busses, CreateBus<CSnHierarchyNode::Category_Bus>, nullptr, nullptr};
const SnHircKind kOwnMixBusKind = {SnIndex_Busses, CreateBus<CSnHierarchyNode::Category_BusKind12>, nullptr, nullptr};
const SnHircKind kMotionBusKind = {SnIndex_Busses, CreateBus<CSnHierarchyNode::Category_BusKind10>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircBusType, &kBusKind), SetHircKind(kHircOwnMixBusType, &kOwnMixBusKind),
                          SetHircKind(kHircMotionBusType, &kMotionBusKind), true);

}  // namespace
}  // namespace SN
