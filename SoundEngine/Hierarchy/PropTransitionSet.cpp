// Run-time property values with their transitions.
#include "SoundEngine/Hierarchy/PropTransitionSet.h"

#include "SoundEngine/Hierarchy/PropertyTable.h"

namespace SN {

// The value is {f32, pointer} without padding: the fields are copied one by one.
CSnPropTransitionSet::Value CSnPropTransitionSet::ValueAt(uint32_t index) const {
  Value out;
  const uint8_t* slot = m_blob.ValueAt(index);
  memcpy(&out.value, slot, sizeof out.value);
  memcpy(&out.transition, slot + sizeof out.value, sizeof out.transition);
  return out;
}

void CSnPropTransitionSet::StoreAt(uint32_t index, const Value& value) {
  uint8_t* slot = m_blob.ValueAt(index);
  memcpy(slot, &value.value, sizeof value.value);
  memcpy(slot + sizeof value.value, &value.transition, sizeof value.transition);
}

CSnPropTransitionSet::~CSnPropTransitionSet() {
  for (uint32_t i = 0; i < m_blob.Count(); ++i) {
    const Value value = ValueAt(i);
    if (value.transition) value.transition->RemoveTarget(this);
  }
}

float CSnPropTransitionSet::ValueOr(uint32_t id, float fallback) const {
  const int32_t index = m_blob.Find(id);
  return index < 0 ? fallback : ValueAt(uint32_t(index)).value;
}

float CSnPropTransitionSet::HeardOr(uint32_t id, float fallback) const {
  const int32_t index = m_blob.Find(id);
  return index < 0 ? fallback : HeardAt(uint32_t(index));
}

uint8_t* CSnPropTransitionSet::SetValue(uint8_t id, float value) {
  const int32_t index = m_blob.Find(id);
  if (index >= 0) return m_blob.ValueAt(uint32_t(index));
  uint8_t* slot = m_blob.AddProperty(id);
  if (!slot) return nullptr;
  StoreAt(m_blob.Count() - 1, {value, nullptr});
  const uint32_t parameter = ParameterOfProperty(id);
  if (parameter != kNoParameter && m_owner) m_owner->PropertyOverridden(parameter);
  return slot;
}

float CSnPropTransitionSet::HeardAt(uint32_t index) const {
  const Value value = ValueAt(index);
  return value.transition ? value.transition->CurrentValue() : value.value;
}

SNRESULT CSnPropTransitionSet::SetWithTransition(uint8_t id, float target, bool clear, const TransParamsBase& params) {
  const int32_t found = m_blob.Find(id);
  if (found < 0) return SN_Failure;
  const uint32_t index = uint32_t(found);
  Value value = ValueAt(index);
  // The owner adds what it is told to what it has heard: every move starts from there, not from the
  // stored target.
  const float heard = HeardAt(index);
  SNRESULT result = SN_Success;
  bool atOnce = false;
  if (id == SnProp_GainFactor) {
    if (m_owner) m_owner->SetGainFactorTarget(m_gameObject, target, params);
  } else if (value.transition && !clear) {
    value.transition->Retarget(id, target, uint32_t(params.durationMs > 0 ? params.durationMs : 0), params.shape,
                               SnValueMeaning_Absolute);
  } else if (!clear && params.durationMs > 0 && g_pTransitionMgr && target != heard) {
    SnTransitionParams request;
    request.target = this;
    request.kind = id;
    request.initial = heard;
    request.end = target;
    request.timeMs = uint32_t(params.durationMs);
    request.curve = params.shape;
    // Without a transition to be had the manager hands the end value over at once.
    value.transition = g_pTransitionMgr->AddTransition(request, true, CSnTransitionMgr::List_Ordinary);
    if (!value.transition) result = SN_InsufficientMemory;
  } else {
    atOnce = true;
  }
  value.value = target;
  if (clear && value.transition) {
    value.transition->RemoveTarget(this);
    value.transition = nullptr;
  }
  StoreAt(index, value);
  // An owner that reads its values back as it hears the step finds the new one there.
  if (atOnce && m_owner)
    m_owner->PropertyTransitionStep(m_gameObject, id, ParameterOfProperty(id), target, target - heard);
  return result;
}

void CSnPropTransitionSet::PauseTransitions(bool pause) {
  for (uint32_t i = 0; i < m_blob.Count(); ++i)
    if (CSnTransition* transition = ValueAt(i).transition) pause ? transition->Pause() : transition->Resume();
}

void CSnPropTransitionSet::TransitionUpdate(uint32_t kind, float value, bool done) {
  const int32_t index = m_blob.Find(kind);
  if (index < 0) return;
  Value stored = ValueAt(uint32_t(index));
  // A transition the manager could not run hands its end over before the set holds it: the owner
  // heard the stored value until then.
  const float heard = stored.transition ? stored.transition->PreviousValue() : stored.value;
  if (done) {
    stored.transition = nullptr;
    StoreAt(uint32_t(index), stored);
  }
  if (m_owner) m_owner->PropertyTransitionStep(m_gameObject, kind, ParameterOfProperty(kind), value, value - heard);
}

}  // namespace SN
