// Modulator objects: the bank payload, property resolution, triggering and the per-key instances.
#include "SoundEngine/Modulators/ModulatorObject.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Base/MathUtil.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/PlaybackInstanceParams.h"
#include "SoundEngine/Modulators/ModulatorProcessor.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {

constexpr uint32_t kFirstParameter = 42;
constexpr uint32_t kMaskedParameters = 32;
constexpr float kLargestTime = 3.4028235e38f;

struct PropertyInfo {
  float fallback;
  bool integer;
  bool limited;
  float min, max;
};

// By property id: the default, whether the bank stores an integer, and the limits of a ranged value.
constexpr PropertyInfo kProperties[] = {
    {0.0f, true, false, 0.0f, 0.0f},              // 0 scope
    {1.0f, true, false, 0.0f, 0.0f},              // 1 stop what it drives
    {1.0f, false, true, 0.0f, 100.0f},            // 2 depth, percent
    {1.0f, false, false, 0.0f, 0.0f},             // 3 fade-in, seconds
    {1.0f, false, true, 0.0f, 20000.0f},          // 4 frequency
    {0.0f, true, false, 0.0f, 0.0f},              // 5 waveform
    {0.0f, false, true, 0.0f, 100.0f},            // 6 smoothing, percent
    {0.0f, false, true, 0.0f, 100.0f},            // 7 pulse width, percent
    {0.0f, false, true, -180.0f, 180.0f},         // 8 initial phase, degrees
    {100.0f, false, true, 0.0f, kLargestTime},    // 9 attack, seconds
    {0.5f, false, true, 0.0f, 100.0f},            // 10 curve, percent
    {200.0f, false, true, 0.0f, kLargestTime},    // 11 decay, seconds
    {0.3f, false, true, 0.0f, 100.0f},            // 12 sustain, percent
    {-1.0f, false, true, 0.0f, kLargestTime},     // 13 sustain time, seconds (negative: held)
    {1000.0f, false, true, 0.0f, kLargestTime},   // 14 release, seconds
    {1.0f, true, false, 0.0f, 0.0f},              // 15 trigger mode
};
constexpr uint32_t kPropertyCount = sizeof(kProperties) / sizeof(kProperties[0]);

// The property a curve-driven parameter of the kind sets, or kPropertyCount for none.
uint32_t PropertyOfParameter(uint32_t kind, uint32_t parameterId) {
  const uint32_t first = kind == SnModulator_Oscillator ? 40 : 41;
  const uint32_t propertyId = parameterId >= first + 2 ? parameterId - first : kPropertyCount;
  return propertyId <= 14 && ModulatorParameterOfProperty(kind, propertyId) == parameterId ? propertyId
                                                                                           : kPropertyCount;
}

template <typename T>
bool ReadValue(const uint8_t*& cursor, const uint8_t* end, T& value) {
  if (uint64_t(end - cursor) < sizeof value) return false;
  memcpy(&value, cursor, sizeof value);
  cursor += sizeof value;
  return true;
}

bool IsNoteStatus(uint8_t status) {
  return status == kMidiNoteOn || status == kMidiNoteOff || status == kMidiKeyPressure;
}

// Where the reduced key's values are owned, so that the owner's end drops them.
bool RegisterWithOwner(uint32_t modulatorId, const SnRTPCKey& key) {
  if (key.playbackInstance) return LowerEngine::RegisterInstanceValueOwner(key.playbackInstance, modulatorId, true);
  if (key.playingId)
    return g_pPlayingIDCallbackMgr && g_pPlayingIDCallbackMgr->RegisterValueOwner(key.playingId, modulatorId, true);
  if (key.gameObject) return key.gameObject->ModulatorIds().Add(modulatorId);
  return true;
}

}  // namespace

SnValueRange ModulatorPropertyLimits(uint32_t propertyId) {
  if (propertyId >= kPropertyCount || !kProperties[propertyId].limited) return kAnyFiniteValue;
  return SnValueRange{kProperties[propertyId].min, kProperties[propertyId].max};
}

// A depth far past 100 percent would carry the modulator's value, and every gain it drives, with it.
float HoldModulatorProperty(uint32_t propertyId, float value) {
  if (propertyId >= kPropertyCount) return value;
  if (std::isnan(value)) return kProperties[propertyId].fallback;
  if (propertyId == SnModProp_SustainTime && value < 0.0f) return value;
  return ModulatorPropertyLimits(propertyId).Hold(value);
}

uint32_t ModulatorParameterOfProperty(uint32_t kind, uint32_t propertyId) {
  if (propertyId < 2 || propertyId > 14) return 0;
  return kind == SnModulator_Oscillator ? propertyId + 40 : propertyId + 41;
}

CSnModulatorObject* CSnModulatorObject::Create(uint32_t id, uint32_t kind) {
  if (kind >= SnModulator_KindCount) {
    SOUND_LOG(Error, "Modulator %u: kind %u is neither an oscillator nor an envelope", id, kind);
    return nullptr;
  }
  return PoolNew<CSnModulatorObject>(g_DefaultPoolId, id, kind);
}

CSnModulatorObject::~CSnModulatorObject() = default;

SNRESULT CSnModulatorObject::SetInitValues(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const uint8_t* end = data + size;
  if (m_values.ReadFromBank(cursor, end) != SN_Success || m_ranges.ReadFromBank(cursor, end) != SN_Success) {
    SOUND_LOG(Error, "Modulator %u: its property blocks run past the object", ID());
    return SN_Failure;
  }
  HoldStoredValues();
  return ReadCurves(cursor, end);
}

void CSnModulatorObject::HoldStoredValues() {
  for (uint32_t i = 0; i < m_values.Count(); ++i) {
    const uint32_t propertyId = m_values.IdAt(i);
    if (propertyId >= kPropertyCount || kProperties[propertyId].integer) continue;
    float stored;
    memcpy(&stored, m_values.ValueAt(i), sizeof stored);
    const float held = HoldModulatorProperty(propertyId, stored);
    if (held == stored) continue;
    const SnValueRange limits = ModulatorPropertyLimits(propertyId);
    SOUND_LOG(Error, "Modulator %u: property %u of %g is outside %g to %g; %g is used", ID(), propertyId,
              double(stored), double(limits.min), double(limits.max), double(held));
    memcpy(m_values.ValueAt(i), &held, sizeof held);
  }
}

SNRESULT CSnModulatorObject::ReadCurves(const uint8_t*& cursor, const uint8_t* end) {
  uint16_t count = 0;
  if (!ReadValue(cursor, end, count)) {
    SOUND_LOG(Error, "Modulator %u: its curve count lies past the object", ID());
    return SN_Failure;
  }
  for (uint32_t c = 0; c < count; ++c) {
    uint32_t rtpcId = 0, curveId = 0;
    uint8_t type = 0, accumulation = 0, parameterId = 0, scaling = 0;
    uint16_t pointCount = 0;
    if (!ReadValue(cursor, end, rtpcId) || !ReadValue(cursor, end, type) || !ReadValue(cursor, end, accumulation) ||
        !ReadValue(cursor, end, parameterId) || !ReadValue(cursor, end, curveId) || !ReadValue(cursor, end, scaling) ||
        !ReadValue(cursor, end, pointCount) || uint64_t(end - cursor) < uint64_t(pointCount) * sizeof(SnRTPCGraphPoint)) {
      SOUND_LOG(Error, "Modulator %u: curve %u of %u runs past the object", ID(), c, unsigned(count));
      return SN_Failure;
    }
    SnArray<SnRTPCGraphPoint> points;
    if (pointCount && !points.GrowBy(pointCount)) return SN_InsufficientMemory;
    if (pointCount) memcpy(static_cast<void*>(points.begin()), cursor, sizeof(SnRTPCGraphPoint) * pointCount);
    cursor += sizeof(SnRTPCGraphPoint) * pointCount;
    if (!g_pRTPCMgr) continue;
    if (m_curveParameters.IndexOf(parameterId) < 0 && !m_curveParameters.Add(parameterId)) return SN_InsufficientMemory;
    const SNRESULT result = g_pRTPCMgr->AddCurveSubscription(
        static_cast<ISnModulatorParamTarget*>(this), rtpcId, type, accumulation, parameterId, curveId, scaling,
        points.begin(), pointCount, SnRTPCKey{}, SnSubscription_Modulator, true);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Modulator %u: curve %u of game parameter %u could not be followed", ID(), curveId, rtpcId);
      return result;
    }
    if (parameterId >= kFirstParameter && parameterId < kFirstParameter + kMaskedParameters)
      m_parameterMask |= 1u << (parameterId - kFirstParameter);
    // A modulator driven by another: whatever makes this one for a key makes its driver with it.
    if (type == kParameterTypeModulator && g_pModulatorRegistry && m_drivers.IndexOf(rtpcId) < 0) {
      if (!m_drivers.Add(rtpcId)) return SN_InsufficientMemory;
      if (g_pModulatorRegistry->Attach(CSnModulatorRegistry::TargetOfModulator(ID()), rtpcId) != SN_Success) {
        m_drivers.RemoveAt(m_drivers.Count() - 1);
        SOUND_LOG(Error, "Modulator %u: no memory to follow modulator %u that drives it", ID(), rtpcId);
        return SN_InsufficientMemory;
      }
    }
  }
  // Subscriptions made before this modulator was loaded read it from now on.
  if (g_pModulatorRegistry)
    g_pModulatorRegistry->ForEachSubscriptionOf(ID(), [this](void* subscription) { AddSubscription(subscription); });
  return SN_Success;
}

void CSnModulatorObject::BeforeDestroy() {
  // Every curve is let go, also those on parameters the mask has no bit for.
  if (g_pRTPCMgr)
    for (uint32_t parameterId : m_curveParameters)
      g_pRTPCMgr->RemoveSubscription(static_cast<ISnModulatorParamTarget*>(this), parameterId);
  m_parameterMask = 0;
  m_curveParameters.Term();
  if (g_pModulatorRegistry)
    for (uint32_t driver : m_drivers)
      g_pModulatorRegistry->Detach(CSnModulatorRegistry::TargetOfModulator(ID()), driver);
  m_drivers.Term();
  // Every instance still bound to this one is unbound, stopped, as it goes: wherever it is held (the
  // tree, a processing list, a voice), it may outlive this object. Reached through their own links, so
  // that an end without memory (a flood of plays filled the pool) still reaches each of them.
  while (CSnModulatorInstance* bound = m_pBound) bound->StopTarget();
  m_instances.ForEach([](const SnRTPCKey&, CSnModulatorInstance*& instance) {
    CSnModulatorInstance* held = instance;
    instance = nullptr;
    if (held) held->Release();
  });
  m_instances.Clear();
  if (CSnModulatorProcessor* list = ModulatorProcessingList()) list->ReleaseInactive();
  m_subscriptions.Term();
  m_told.Term();
  m_values.Term();
  m_ranges.Term();
}

uint32_t CSnModulatorObject::Scope() const {
  const uint32_t scope = m_values.GetOr<uint32_t>(SnModProp_Scope, 0);
  return scope <= SnModulatorScope_Global ? scope : SnModulatorScope_Global;
}

bool CSnModulatorObject::StopsDrivenOnEnd() const {
  return m_kind == SnModulator_Envelope && m_values.GetOr<uint32_t>(SnModProp_StopDriven, 1) != 0;
}

float CSnModulatorObject::ResolveProperty(uint32_t propertyId, const SnRTPCKey& key) const {
  if (propertyId >= kPropertyCount) return 0.0f;
  const PropertyInfo& info = kProperties[propertyId];
  float value = info.fallback;
  if (info.integer) {
    int32_t stored;
    if (m_values.Get(propertyId, stored)) value = float(stored);
  } else {
    m_values.Get(propertyId, value);
  }
  const uint32_t parameterId = ModulatorParameterOfProperty(m_kind, propertyId);
  if (parameterId >= kFirstParameter && (m_parameterMask >> (parameterId - kFirstParameter) & 1u) && g_pRTPCMgr)
    value = g_pRTPCMgr->EvaluateSubscription(
        const_cast<ISnModulatorParamTarget*>(static_cast<const ISnModulatorParamTarget*>(this)), parameterId, key);
  SnPropertyRange range;
  if (m_ranges.Get(propertyId, range)) {
    const float r = range.max - range.min;
    const float offset = r != 0.0f ? float(Base::Rand15()) * (1.0f / float(Base::kRand15Max)) * r : 0.0f;
    value = range.min + offset + value;
  }
  return HoldModulatorProperty(propertyId, value);
}

void CSnModulatorObject::DeriveOscillator(const SnRTPCKey& key, SnOscillatorParams& params,
                                          float& initialPhase) const {
  params.depth = ResolveProperty(SnModProp_Depth, key) * 0.01f;
  params.fadeInSamples = ModulatorSecondsToSamples(ResolveProperty(SnModProp_FadeIn, key));
  const float waveform = ResolveProperty(SnModProp_Waveform, key);
  params.waveform = waveform >= 0.0f && waveform < 5.0f ? uint32_t(waveform) : 5u;
  params.frequency = ResolveProperty(SnModProp_Frequency, key);
  params.smoothing = ResolveProperty(SnModProp_Smoothing, key) * 0.01f;
  params.pulseWidth = ResolveProperty(SnModProp_PulseWidth, key) * 0.01f;
  initialPhase = ResolveProperty(SnModProp_InitialPhase, key);
}

void CSnModulatorObject::DeriveEnvelope(const SnRTPCKey& key, SnEnvelopeParams& params, uint32_t& releaseStart) const {
  params.attackSamples = ModulatorSecondsToSamples(ResolveProperty(SnModProp_Attack, key));
  params.decaySamples = ModulatorSecondsToSamples(ResolveProperty(SnModProp_Decay, key));
  params.releaseSamples = ModulatorSecondsToSamples(ResolveProperty(SnModProp_Release, key));
  params.curve = ResolveProperty(SnModProp_Curve, key) * 0.01f;
  params.sustain = ResolveProperty(SnModProp_Sustain, key) * 0.01f;
  const float sustainTime = ResolveProperty(SnModProp_SustainTime, key);
  releaseStart = sustainTime < 0.0f ? kModulatorNever
                                    : ModulatorSampleSum(ModulatorSecondsToSamples(sustainTime), params.decaySamples,
                                                         params.attackSamples);
}

bool CSnModulatorObject::ShouldTrigger(const SnModulatorInstantiationParams& params) const {
  const uint8_t status = params.midi.status;
  const bool noteOn = status == kMidiNoteOn && params.midi.velocity > 0;
  if (m_kind == SnModulator_Oscillator) return status == 0 || noteOn;
  if (m_kind != SnModulator_Envelope) return false;
  const uint32_t mode = m_values.GetOr<uint32_t>(SnModProp_TriggerMode, 1);
  if (status == 0) return mode == 1;
  if (mode == 1) return params.mode != 3;
  if (mode == 2) return status == kMidiNoteOff || (status == kMidiNoteOn && params.midi.velocity == 0);
  return false;
}

CSnModulatorInstance* CSnModulatorObject::GetOrCreateInstance(CSnModulatorInstance* existing,
                                                              const SnModulatorInstantiationParams& params,
                                                              bool& created) {
  created = false;
  if (!ShouldTrigger(params)) return nullptr;
  if (existing) {
    if (CanRetrigger() && (params.mode == 1 || params.mode == 3)) existing->Init(this, params);
    return existing;
  }
  if (Scope() != SnModulatorScope_PlaybackInstance && params.mode == 0) return nullptr;
  CSnModulatorInstance* instance = nullptr;
  if (m_kind == SnModulator_Oscillator)
    instance = PoolNew<CSnOscillatorInstance>(g_DefaultPoolId);
  else if (m_kind == SnModulator_Envelope)
    instance = PoolNew<CSnEnvelopeInstance>(g_DefaultPoolId);
  if (!instance) return nullptr;
  instance->Init(this, params);
  created = true;
  return instance;
}

SNRESULT CSnModulatorObject::Instantiate(const SnModulatorInstantiationParams& params, CSnModulatorProcessor& list,
                                         CSnModulatorInstance** out) {
  if (out) *out = nullptr;
  const SnRTPCKey key = ReduceKey(KeyOf(params), Scope());
  CSnModulatorInstance** slot = m_instances.FindExact(key);
  CSnModulatorInstance* existing = slot ? *slot : nullptr;
  bool created = false;
  CSnModulatorInstance* instance = GetOrCreateInstance(existing, params, created);
  if (!instance) return SN_Failure;
  if (created) {
    // The tree's reference, taken as the slot takes the instance.
    instance->AddRef();
    if (!m_instances.Set(key, instance)) {
      instance->MarkFinished();
      instance->Release();
      return SN_Failure;
    }
    if (!RegisterWithOwner(ID(), key)) {
      SOUND_LOG(Error, "Modulator %u: the owner of a new instance could not keep it", ID());
      DropMatching(key);
      return SN_Success;
    }
    list.Append(instance);
  }
  if (out) *out = instance;
  return SN_Success;
}

SnRTPCKey CSnModulatorObject::KeyOf(const SnModulatorInstantiationParams& params) {
  SnRTPCKey key;
  key.gameObject = params.gameObject;
  key.playingId = params.playingId;
  key.midiTargetId = params.midiTargetId;
  if (params.midi.status) key.midiChannel = params.midi.channel;
  key.midiNote = IsNoteStatus(params.midi.status) ? params.midi.note : 255;
  key.playbackInstance = params.playbackInstance;
  return key;
}

SnRTPCKey CSnModulatorObject::ReduceKey(SnRTPCKey key, uint32_t scope) {
  if (scope >= SnModulatorScope_Note) {
    key.playbackInstance = nullptr;
    if (key.midiNote != 255) key.playingId = 0;
  }
  if (scope >= SnModulatorScope_GameObject) {
    key.midiNote = 255;
    key.midiChannel = 255;
    key.midiTargetId = 0;
    key.playingId = 0;
  }
  if (scope >= SnModulatorScope_Global) key.gameObject = nullptr;
  return key;
}

bool CSnModulatorObject::GetCurrentValue(SnRTPCKey& key, float& value) {
  const SnRTPCKey reduced = ReduceKey(key, Scope());
  CSnModulatorInstance** slot = m_instances.FindExact(reduced);
  if (!slot || !*slot) return false;
  key = reduced;
  value = (*slot)->CurrentValue();
  return true;
}

bool CSnModulatorObject::GetLastValue(SnRTPCKey& key, float& value) {
  const SnRTPCKey reduced = ReduceKey(key, Scope());
  CSnModulatorInstance** slot = m_instances.FindExact(reduced);
  if (!slot || !*slot) return false;
  key = reduced;
  value = (*slot)->LastValue();
  return true;
}

void CSnModulatorObject::SetModulatorParam(uint32_t parameterId, float value, const SnRTPCKey& key) {
  value = HoldModulatorProperty(PropertyOfParameter(m_kind, parameterId), value);
  const SnRTPCKey pattern = ReduceKey(key, Scope());
  m_instances.ForEach([&](const SnRTPCKey& stored, CSnModulatorInstance*& instance) {
    if (instance && stored.Matches(pattern)) instance->SetParam(parameterId, value);
  });
}

bool CSnModulatorObject::RemoveInstancesForKey(const SnRTPCKey& key) {
  DropMatching(key);
  return true;
}

void CSnModulatorObject::DropMatching(const SnRTPCKey& pattern, bool unbind) {
  // Gathered first: the tree does not change under its own walk.
  SnArray<SnRTPCKey> keys;
  bool gathered = true;
  m_instances.ForEach([&](const SnRTPCKey& stored, CSnModulatorInstance*&) {
    if (stored.Matches(pattern) && !keys.Add(stored, 8)) gathered = false;
  });
  for (const SnRTPCKey& stored : keys) {
    CSnModulatorInstance** slot = m_instances.FindExact(stored);
    CSnModulatorInstance* instance = slot ? *slot : nullptr;
    m_instances.Erase(stored);
    if (!instance) continue;
    if (unbind) {
      instance->StopTarget();
    } else {
      instance->MarkFinished();
      instance->HoldOwner();
    }
    instance->Release();
  }
  // Without memory to gather them, the instances stay in the tree, which still holds them.
  if (gathered && keys.Count() == 0 && pattern.IsGlobal()) m_instances.Clear();
}

void CSnModulatorObject::LinkBound(CSnModulatorInstance* instance) {
  instance->m_pPrevBound = nullptr;
  instance->m_pNextBound = m_pBound;
  if (m_pBound) m_pBound->m_pPrevBound = instance;
  m_pBound = instance;
}

void CSnModulatorObject::UnlinkBound(CSnModulatorInstance* instance) {
  if (instance->m_pPrevBound) instance->m_pPrevBound->m_pNextBound = instance->m_pNextBound;
  else if (m_pBound == instance) m_pBound = instance->m_pNextBound;
  if (instance->m_pNextBound) instance->m_pNextBound->m_pPrevBound = instance->m_pPrevBound;
  instance->m_pPrevBound = nullptr;
  instance->m_pNextBound = nullptr;
}

void CSnModulatorObject::AddSubscription(void* subscription) {
  void** at = std::lower_bound(m_subscriptions.begin(), m_subscriptions.end(), subscription);
  if (at != m_subscriptions.end() && *at == subscription) return;
  if (!m_subscriptions.InsertAt(uint32_t(at - m_subscriptions.begin()), subscription))
    SOUND_LOG(Error, "Modulator %u: no memory to follow one more of its curves", ID());
}

void CSnModulatorObject::RemoveSubscription(void* subscription) {
  void** at = std::lower_bound(m_subscriptions.begin(), m_subscriptions.end(), subscription);
  if (at != m_subscriptions.end() && *at == subscription) m_subscriptions.RemoveAt(uint32_t(at - m_subscriptions.begin()));
}

namespace {

// A target whose key is more specific than the changing instance's is left to a more specific
// instance of the same modulator when the tree holds one for it: each target follows one instance.
class InstanceTargetFilter final : public ISnRTPCTargetFilter {
 public:
  InstanceTargetFilter(const SnRTPCKey& key, uint32_t scope, SnRTPCKeyTree<CSnModulatorInstance*>& instances)
      : m_key(key), m_scope(scope), m_instances(instances) {}
  bool Accepts(const SnRTPCKey& target) const override {
    if (target == m_key || !target.Matches(m_key)) return true;
    const SnRTPCKey own = CSnModulatorObject::ReduceKey(target, m_scope);
    if (own == m_key) return true;
    CSnModulatorInstance** slot = m_instances.FindExact(own);
    return !slot || !*slot;
  }

 private:
  const SnRTPCKey& m_key;
  uint32_t m_scope;
  SnRTPCKeyTree<CSnModulatorInstance*>& m_instances;
};

}  // namespace

void CSnModulatorObject::NotifyInstances() {
  SnArray<SnRTPCKey> inactive;
  // The subscriptions told may end others (or themselves) while told: walk a copy and tell only
  // those still following.
  // The copy's room is kept from frame to frame: no allocation once it has held them all.
  m_told.Clear();
  if (g_pRTPCMgr && m_told.Capacity() < m_subscriptions.Count() &&
      !m_told.GrowBy(m_subscriptions.Count() - m_told.Capacity()))
    SOUND_LOG(Error, "Modulator %u: no memory to tell its %u curves", ID(), m_subscriptions.Count());
  for (void* subscription : m_subscriptions)
    if (!m_told.Add(subscription)) break;
  const SnArray<void*>& subscriptions = m_told;
  const uint32_t scope = Scope();
  m_instances.ForEach([&](const SnRTPCKey& stored, CSnModulatorInstance*& instance) {
    if (!instance) return;
    const InstanceTargetFilter filter(stored, scope, m_instances);
    for (void* subscription : subscriptions) {
      if (!std::binary_search(m_subscriptions.begin(), m_subscriptions.end(), subscription)) continue;
      g_pRTPCMgr->NotifyModulatorSubscription(static_cast<CSnRTPCMgr::Subscription*>(subscription), ID(),
                                              instance->LastValue(), instance->CurrentValue(), stored, &filter);
    }
  });
  m_instances.ForEach([&](const SnRTPCKey& stored, CSnModulatorInstance*& instance) {
    if (!instance || instance->IsInactive()) inactive.Add(stored, 8);
  });
  for (const SnRTPCKey& stored : inactive) {
    CSnModulatorInstance** slot = m_instances.FindExact(stored);
    CSnModulatorInstance* instance = slot ? *slot : nullptr;
    m_instances.Erase(stored);
    if (!instance) continue;
    instance->HoldOwner();
    instance->Release();
  }
}

uint32_t CSnModulatorObject::InstanceCount() {
  uint32_t count = 0;
  m_instances.ForEach([&](const SnRTPCKey&, CSnModulatorInstance*& instance) { count += instance ? 1 : 0; });
  return count;
}

namespace {

template <uint32_t kKind>
SNRESULT CreateModulator(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object) {
  object = nullptr;
  if (size < sizeof(uint32_t)) return SN_Failure;
  uint32_t id;
  memcpy(&id, payload, sizeof id);
  CSnModulatorObject* modulator = CSnModulatorObject::Create(id, kKind);
  if (!modulator) return SN_InsufficientMemory;
  object = modulator;
  return modulator->SetInitValues(payload + sizeof id, size - uint32_t(sizeof id));
}

const SnHircKind kOscillatorKind = {SnIndex_Modulators, &CreateModulator<SnModulator_Oscillator>, nullptr, nullptr};
const SnHircKind kEnvelopeKind = {SnIndex_Modulators, &CreateModulator<SnModulator_Envelope>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircOscillatorType, &kOscillatorKind),
                          SetHircKind(kHircEnvelopeType, &kEnvelopeKind), true);

}  // namespace

}  // namespace SN
