// The game-parameter manager: value storage by scope, ramps through the transition manager, the
// notification pass by subscriber kind, curve subscriptions and the clean-up by owner.
#include "SoundEngine/GameSyncs/RTPCMgr.h"

#include <cmath>
#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Effects/PluginParamTarget.h"
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/PlaybackInstanceParams.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnRTPCMgr* g_pRTPCMgr = nullptr;

namespace {

constexpr uint32_t kLocalCopy = 128;

bool IsGainProperty(uint32_t propertyId) { return propertyId == 0 || propertyId == 36; }
constexpr uint32_t kPitchProperty = 2;
constexpr uint32_t kPriorityProperty = 8;

// What a curve of a subscriber's property may give. A plug-in's parameters mean what the plug-in says
// and a modulator's are held by the modulator; of everything else the decibel gains are levels, the
// pitch a pitch and the priority a priority.
SnValueRange RangeOfProperty(uint32_t kind, uint32_t propertyId) {
  if (kind == SnSubscription_PluginParam || kind == SnSubscription_Modulator) return kAnyFiniteValue;
  if (IsGainProperty(propertyId)) return kDecibelRange;
  if (propertyId == kPitchProperty) return kPitchRange;
  if (propertyId == kPriorityProperty) return kPriorityRange;
  return kAnyFiniteValue;
}

// Sorted by address, so membership is a binary search.
uint32_t LowerBound(const SnArray<CSnRTPCMgr::Subscription*>& list, const CSnRTPCMgr::Subscription* value) {
  uint32_t lo = 0, hi = list.Count();
  while (lo < hi) {
    const uint32_t mid = (lo + hi) / 2;
    if (list[mid] < value) lo = mid + 1; else hi = mid;
  }
  return lo;
}
bool Contains(const SnArray<CSnRTPCMgr::Subscription*>& list, const CSnRTPCMgr::Subscription* value) {
  const uint32_t index = LowerBound(list, value);
  return index < list.Count() && list[index] == value;
}
bool InsertSorted(SnArray<CSnRTPCMgr::Subscription*>& list, CSnRTPCMgr::Subscription* value) {
  const uint32_t index = LowerBound(list, value);
  if (index < list.Count() && list[index] == value) return true;
  return list.InsertAt(index, value) != nullptr;
}
void RemoveSorted(SnArray<CSnRTPCMgr::Subscription*>& list, const CSnRTPCMgr::Subscription* value) {
  const uint32_t index = LowerBound(list, value);
  if (index < list.Count() && list[index] == value) list.RemoveAt(index);
}

}  // namespace

SNRESULT CSnRTPCMgr::Init() {
  m_parameters.Init(g_DefaultPoolId);
  for (Subscription*& head : m_subscriptions) head = nullptr;
  for (SnArray<uint32_t>& slot : m_builtIns) slot.Term();
  m_notifyDepth = 0;
  return SetDefaultValue(kReservedParameterId, 64.0f) == SN_Success ? SN_Success : SN_InsufficientMemory;
}

void CSnRTPCMgr::Term() {
  for (Subscription*& head : m_subscriptions) {
    while (Subscription* subscription = head) {
      head = subscription->next;
      for (Curve& curve : subscription->curves) FreeCurve(curve);
      subscription->curves.Term();
      PoolDelete(g_DefaultPoolId, subscription);
    }
  }
  for (Subscription* subscription : m_removedDuringPass) PoolDelete(g_DefaultPoolId, subscription);
  m_removedDuringPass.Term();
  for (auto it = m_parameters.Begin(); !it.AtEnd(); m_parameters.Next(it)) DestroyParameter(it.node->value);
  m_parameters.Term();
  for (SnArray<uint32_t>& slot : m_builtIns) slot.Term();
}

CSnRTPCMgr::Parameter* CSnRTPCMgr::FindParameter(uint32_t id) {
  Parameter** found = m_parameters.Find(id);
  return found ? *found : nullptr;
}

CSnRTPCMgr::Parameter* CSnRTPCMgr::GetOrCreateParameter(uint32_t id) {
  if (Parameter* found = FindParameter(id)) return found;
  Parameter* parameter = PoolNew<Parameter>(g_DefaultPoolId);
  if (!parameter) return nullptr;
  parameter->id = id;
  Parameter** slot = m_parameters.FindOrInsert(id);
  if (!slot) {
    PoolDelete(g_DefaultPoolId, parameter);
    return nullptr;
  }
  *slot = parameter;
  return parameter;
}

void CSnRTPCMgr::DestroyParameter(Parameter* parameter) {
  while (parameter->transitions) DropTransition(*parameter, parameter->transitions, true);
  PoolDelete(g_DefaultPoolId, parameter);
}

float CSnRTPCMgr::BaseValue(Parameter& parameter, const SnRTPCKey& key) {
  if (float* exact = parameter.values.FindExact(key)) return *exact;
  if (float* inherited = parameter.values.FindInherited(key)) return *inherited;
  return parameter.defaultValue;
}

float CSnRTPCMgr::CurrentTarget(Parameter& parameter, const SnRTPCKey& key) {
  if (ParamTransition* entry = FindTransition(parameter, key)) return entry->transition->TargetValue();
  return BaseValue(parameter, key);
}

CSnRTPCMgr::ParamTransition* CSnRTPCMgr::FindTransition(Parameter& parameter, const SnRTPCKey& key) {
  for (ParamTransition* entry = parameter.transitions; entry; entry = entry->next)
    if (entry->key == key) return entry;
  return nullptr;
}

void CSnRTPCMgr::DropTransition(Parameter& parameter, ParamTransition* entry, bool detach) {
  for (ParamTransition** link = &parameter.transitions; *link; link = &(*link)->next) {
    if (*link == entry) {
      *link = entry->next;
      break;
    }
  }
  if (detach && entry->transition) entry->transition->RemoveTarget(entry);
  PoolDelete(g_DefaultPoolId, entry);
}

bool CSnRTPCMgr::RegisterOwner(uint32_t parameterId, const SnRTPCKey& key) {
  if (key.playbackInstance) return LowerEngine::RegisterInstanceValueOwner(key.playbackInstance, parameterId, false);
  if (key.playingId)
    return g_pPlayingIDCallbackMgr && g_pPlayingIDCallbackMgr->RegisterValueOwner(key.playingId, parameterId, false);
  if (key.gameObject) return key.gameObject->ParameterIds().Add(parameterId);
  return true;
}

SNRESULT CSnRTPCMgr::SetRTPCInternal(uint32_t parameterId, float value, const SnRTPCKey& key,
                                     const TransParamsBase& params, SnValueMeaning meaning) {
  Parameter* parameter = GetOrCreateParameter(parameterId);
  if (!parameter) return SN_InsufficientMemory;
  const float target = meaning == SnValueMeaning_Offset ? CurrentTarget(*parameter, key) + value : value;
  return Apply(*parameter, key, target, params, false);
}

SNRESULT CSnRTPCMgr::SetRTPCInternal(uint32_t parameterId, float value, CSnRegisteredObj* object, uint32_t playingId,
                                     const TransParamsBase& params, SnValueMeaning meaning) {
  return SetRTPCInternal(parameterId, value, SnRTPCKey::ForObjectAndPlayingId(object, playingId), params, meaning);
}

SNRESULT CSnRTPCMgr::SetRTPCImmediate(uint32_t parameterId, float value, const SnRTPCKey& key) {
  return SetRTPCInternal(parameterId, value, key, TransParamsBase{}, SnValueMeaning_Absolute);
}

void CSnRTPCMgr::ResetRTPCInternal(uint32_t parameterId, const SnRTPCKey& key, const TransParamsBase& params) {
  Parameter* parameter = FindParameter(parameterId);
  if (!parameter) return;
  const float* inherited = parameter->values.FindInherited(key);
  Apply(*parameter, key, inherited ? *inherited : parameter->defaultValue, params, true);
}

void CSnRTPCMgr::ResetRTPCInternal(uint32_t parameterId, CSnRegisteredObj* object, uint32_t playingId,
                                   const TransParamsBase& params) {
  ResetRTPCInternal(parameterId, SnRTPCKey::ForObjectAndPlayingId(object, playingId), params);
}

SNRESULT CSnRTPCMgr::Apply(Parameter& parameter, const SnRTPCKey& key, float value, const TransParamsBase& params,
                           bool reset) {
  const float* exact = parameter.values.FindExact(key);
  if (exact && *exact == value && !reset) return SN_Success;
  const float initial = BaseValue(parameter, key);

  int32_t duration = params.durationMs;
  const bool rising = value > initial;
  if (parameter.rampMode && !params.bypassRamping) {
    const float rate = rising ? parameter.rampUp : parameter.rampDown;
    if (parameter.rampMode == 1 && rate != 0.0f && std::isfinite(rate)) {
      const float ms = (rising ? value - initial : initial - value) / rate * 1000.0f;
      if (ms > float(duration)) duration = ms < 2.0e9f ? int32_t(ms) : 2000000000;
    } else if (parameter.rampMode == 2) {
      const float ms = rate * 1000.0f;
      if (ms > float(duration)) duration = ms < 2.0e9f ? int32_t(ms) : 2000000000;
    }
  }

  if (duration > 0 && value != initial && g_pTransitionMgr) {
    if (exact || RegisterOwner(parameter.id, key)) {
      if (ParamTransition* running = FindTransition(parameter, key)) {
        running->reset = reset;
        running->transition->Retarget(SnTransitionKind_RTPC, value, uint32_t(duration), params.shape,
                                      SnValueMeaning_Absolute);
        return SN_Success;
      }
      ParamTransition* entry = PoolNew<ParamTransition>(g_DefaultPoolId);
      if (entry) {
        entry->manager = this;
        entry->parameter = &parameter;
        entry->key = key;
        entry->transition = nullptr;
        entry->reset = reset;
        entry->next = parameter.transitions;
        parameter.transitions = entry;
        SnTransitionParams request;
        request.target = entry;
        request.kind = SnTransitionKind_RTPC;
        request.initial = initial;
        request.end = value;
        const bool exponential = parameter.rampMode == 2 && !params.bypassRamping;
        request.timeMs = exponential ? uint32_t((rising ? parameter.rampUp : parameter.rampDown) * 1000.0f)
                                     : uint32_t(duration);
        request.curve = params.shape;
        request.exponential = exponential;
        // Without a transition the manager has already told the entry the end value, which set it
        // and let the entry go.
        if (CSnTransition* transition = g_pTransitionMgr->AddTransition(request, true, CSnTransitionMgr::List_Ordinary))
          entry->transition = transition;
        return SN_Success;
      }
    }
  }
  if (ParamTransition* running = FindTransition(parameter, key)) DropTransition(parameter, running, true);
  return SetNow(parameter, key, value, reset);
}

SNRESULT CSnRTPCMgr::SetNow(Parameter& parameter, const SnRTPCKey& key, float value, bool reset) {
  float* exact = parameter.values.FindExact(key);
  const float old = exact ? *exact : BaseValue(parameter, key);
  Notify(parameter, key, old, value, nullptr);
  exact = parameter.values.FindExact(key);  // subscribers may have changed the tree
  if (reset) {
    if (exact) parameter.values.Erase(key);
    return SN_Success;
  }
  if (exact) {
    *exact = value;
    return SN_Success;
  }
  // A playing id's owner may be refused for having ended; every other refusal is for memory.
  if (!RegisterOwner(parameter.id, key))
    return key.playingId && !key.playbackInstance ? SN_Failure : SN_InsufficientMemory;
  return parameter.values.Set(key, value) ? SN_Success : SN_InsufficientMemory;
}

void CSnRTPCMgr::ParamTransition::TransitionUpdate(uint32_t, float value, bool done) {
  manager->OnTransitionStep(this, value, done);
}

void CSnRTPCMgr::OnTransitionStep(ParamTransition* entry, float value, bool done) {
  Parameter& parameter = *entry->parameter;
  const SnRTPCKey key = entry->key;
  const bool reset = done && entry->reset;
  // The entry goes before the value is set, so that a subscriber setting this key again starts afresh.
  if (done) DropTransition(parameter, entry, false);
  SetNow(parameter, key, value, reset);
}

float CSnRTPCMgr::GetDefaultValue(uint32_t parameterId, bool* found) {
  Parameter* parameter = FindParameter(parameterId);
  if (found) *found = parameter != nullptr;
  return parameter ? parameter->defaultValue : 0.0f;
}

SNRESULT CSnRTPCMgr::SetDefaultValue(uint32_t parameterId, float value) {
  Parameter* parameter = GetOrCreateParameter(parameterId);
  if (!parameter) return SN_InsufficientMemory;
  parameter->defaultValue = value;
  return SN_Success;
}

SNRESULT CSnRTPCMgr::SetRampingSettings(uint32_t parameterId, uint32_t mode, float up, float down) {
  Parameter* parameter = GetOrCreateParameter(parameterId);
  if (!parameter) return SN_InsufficientMemory;
  parameter->rampMode = mode <= 2 ? mode : 0;
  parameter->rampUp = up;
  parameter->rampDown = down;
  return SN_Success;
}

SNRESULT CSnRTPCMgr::AddBuiltInParamBinding(uint32_t slot, uint32_t parameterId) {
  if (slot >= SnBuiltIn_SlotCount) {
    SOUND_LOG(Error, "Built-in parameter slot %u does not exist", slot);
    return SN_InvalidParameter;
  }
  for (SnArray<uint32_t>& list : m_builtIns) {
    const int32_t index = list.IndexOf(parameterId);
    if (index >= 0) list.RemoveAt(uint32_t(index));
  }
  return m_builtIns[slot].Add(parameterId) ? SN_Success : SN_InsufficientMemory;
}

void CSnRTPCMgr::PublishBuiltInValue(uint32_t slot, const SnRTPCKey& key, float value) {
  if (slot == SnBuiltIn_None || slot >= SnBuiltIn_SlotCount) return;
  TransParamsBase immediate;
  immediate.bypassRamping = 1;
  for (uint32_t i = 0; i < m_builtIns[slot].Count(); ++i)
    if (Parameter* parameter = GetOrCreateParameter(m_builtIns[slot][i])) Apply(*parameter, key, value, immediate, false);
}

bool CSnRTPCMgr::GetValue(uint32_t parameterId, const SnRTPCKey& key, float& value) {
  Parameter* parameter = FindParameter(parameterId);
  if (!parameter) return false;
  SnRTPCKey scope = key;
  const float* found = parameter->values.FindBest(scope);
  value = found ? *found : parameter->defaultValue;
  return true;
}

bool CSnRTPCMgr::HasExactValue(uint32_t parameterId, const SnRTPCKey& key) {
  Parameter* parameter = FindParameter(parameterId);
  return parameter && parameter->values.FindExact(key);
}

uint32_t CSnRTPCMgr::ActiveSubscriptionCount(uint32_t parameterId) {
  Parameter* parameter = FindParameter(parameterId);
  return parameter ? parameter->active.Count() : 0;
}

uint32_t CSnRTPCMgr::RunningTransitionCount(uint32_t parameterId) {
  Parameter* parameter = FindParameter(parameterId);
  uint32_t count = 0;
  if (parameter)
    for (ParamTransition* entry = parameter->transitions; entry; entry = entry->next) ++count;
  return count;
}

float CSnRTPCMgr::CurveSum(const Subscription& subscription, uint32_t parameterId, bool fromModulator,
                           float x) const {
  float sum = 0.0f;
  for (uint32_t i = 0; i < subscription.curves.Count(); ++i) {
    const Curve& curve = subscription.curves[i];
    if (curve.parameterId == parameterId && (curve.parameterType == kParameterTypeModulator) == fromModulator)
      sum += curve.graph.Evaluate(x);
  }
  return sum;
}

float CSnRTPCMgr::ParameterValueForCurve(const Subscription& subscription, const Curve& curve, const SnRTPCKey& key,
                                         bool& skip) {
  skip = false;
  if (curve.parameterType != kParameterTypeModulator) {
    if (Parameter* parameter = FindParameter(curve.parameterId)) {
      SnRTPCKey scope = key;
      const float* found = parameter->values.FindBest(scope);
      return found ? *found : parameter->defaultValue;
    }
    if (subscription.kind != SnSubscription_PluginParam && IsGainProperty(subscription.propertyId)) {
      skip = true;
      return 0.0f;
    }
  }
  // A voice carries the modulators of its nodes' volume, pitch and filter curves itself and reads
  // them every frame: read here too, they would apply twice, the second time frozen at the play.
  if (subscription.kind == SnSubscription_Node && VoiceModulatesParameter(subscription.propertyId)) {
    skip = true;
    return 0.0f;
  }
  return ModulatorObjects::Exists(curve.parameterId) ? ModulatorObjects::ValueForKey(curve.parameterId, key) : 0.0f;
}

void CSnRTPCMgr::ForEachModulatorCurve(void* subscriber, uint32_t propertyId, ModulatorCurveVisitor visit,
                                       void* cookie) {
  const Subscription* subscription = FindSubscription(subscriber, propertyId);
  if (!subscription || !visit) return;
  for (const Curve& curve : subscription->curves)
    if (curve.parameterType == kParameterTypeModulator) visit(cookie, curve.parameterId, curve.graph);
}

float CSnRTPCMgr::EvaluateSubscription(void* subscriber, uint32_t propertyId, const SnRTPCKey& key) {
  Subscription* subscription = FindSubscription(subscriber, propertyId);
  if (!subscription) return 0.0f;
  const bool multiply = subscription->combination == SnCombination_Multiply;
  float result = multiply ? 1.0f : 0.0f;
  for (const Curve& curve : subscription->curves) {
    bool skip;
    const float x = ParameterValueForCurve(*subscription, curve, key, skip);
    if (skip) continue;
    const float y = curve.graph.Evaluate(x);
    result = multiply ? result * y : result + y;
  }
  return result;
}

void CSnRTPCMgr::Notify(Parameter& parameter, const SnRTPCKey& key, float oldValue, float newValue,
                        const void* filter) {
  const uint32_t count = parameter.active.Count();
  if (count == 0) return;
  // Subscribers may come and go while they are told: walk a copy, skip what left.
  Subscription* local[kLocalCopy];
  Subscription** copy = local;
  if (count > kLocalCopy) {
    copy = static_cast<Subscription**>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Subscription*) * count));
    if (!copy) {
      SOUND_LOG(Error, "Game parameter %u: no memory to notify %u subscriptions", parameter.id, count);
      return;
    }
  }
  memcpy(copy, parameter.active.begin(), sizeof(Subscription*) * count);
  ++m_notifyDepth;
  for (uint32_t i = 0; i < count; ++i) {
    Subscription* subscription = copy[i];
    if (subscription->removed) continue;
    if (parameter.active.Count() != count || i >= count || parameter.active[i] != subscription)
      if (!Contains(parameter.active, subscription)) continue;
    Tell(*subscription, Change{parameter.id, false, key, oldValue, newValue, filter, nullptr});
  }
  EndPass();
  if (copy != local) MemoryMgr::Free(g_DefaultPoolId, copy);
}

void CSnRTPCMgr::EndPass() {
  if (--m_notifyDepth == 0) {
    for (Subscription* removed : m_removedDuringPass) PoolDelete(g_DefaultPoolId, removed);
    m_removedDuringPass.Term();
  }
}

bool CSnRTPCMgr::TakesModulatorNotification(const Subscription& subscription) {
  // The decibel gains of everything but plug-ins, and the volume, pitch and filters of nodes, are
  // read by each voice from its own modulators every frame: told here too, they would apply twice.
  if (subscription.kind != SnSubscription_PluginParam && IsGainProperty(subscription.propertyId)) return false;
  return !(subscription.kind == SnSubscription_Node && VoiceModulatesParameter(subscription.propertyId));
}

void CSnRTPCMgr::NotifyModulatorSubscription(Subscription* subscription, uint32_t modulatorId, float oldValue,
                                             float newValue, const SnRTPCKey& key,
                                             const ISnRTPCTargetFilter* targets) {
  if (!subscription || subscription->removed || !TakesModulatorNotification(*subscription)) return;
  ++m_notifyDepth;
  Tell(*subscription, Change{modulatorId, true, key, oldValue, newValue, nullptr, targets});
  EndPass();
}

void CSnRTPCMgr::Tell(Subscription& subscription, const Change& change) {
  const SnRTPCKey& key = change.key;
  const bool keyApplies = subscription.key.Matches(key);
  const bool filterApplies = (!change.filter || change.filter == subscription.subscriber) &&
                             (!change.targets || change.targets->Accepts(subscription.key));
  auto sum = [&](float x) { return CurveSum(subscription, change.parameterId, change.fromModulator, x); };
  switch (subscription.kind) {
    case SnSubscription_PluginParam: {
      if (!keyApplies || !filterApplies) return;
      auto* target = static_cast<ISnPluginParamTarget*>(subscription.subscriber);
      float value;
      if (subscription.combination == SnCombination_Alone) {
        value = sum(change.newValue);
      } else {
        const bool multiply = subscription.combination == SnCombination_Multiply;
        value = target->GetParamBaseValue(subscription.propertyId);
        for (const Curve& curve : subscription.curves) {
          bool skip = false;
          const bool changed = curve.parameterId == change.parameterId &&
                               (curve.parameterType == kParameterTypeModulator) == change.fromModulator;
          const float x = changed ? change.newValue : ParameterValueForCurve(subscription, curve, key, skip);
          if (skip) continue;
          const float y = curve.graph.Evaluate(x);
          value = multiply ? value * y : value + y;
        }
      }
      target->SetParam(subscription.propertyId, &value, sizeof(float));
      return;
    }
    case SnSubscription_Node: {
      const float newSum = sum(change.newValue);
      const float oldSum = sum(change.oldValue);
      static_cast<ISnNodeRTPCSubscriber*>(subscription.subscriber)
          ->UpdateRTPC(subscription.propertyId, key, newSum, newSum - oldSum, change.filter);
      return;
    }
    case SnSubscription_Instance:
      if (!keyApplies || !filterApplies) return;
      static_cast<ISnPlaybackInstanceParams*>(subscription.subscriber)
          ->SetRTPCProperty(subscription.propertyId, sum(change.newValue));
      return;
    case SnSubscription_Modulator:
      static_cast<ISnModulatorParamTarget*>(subscription.subscriber)
          ->SetModulatorParam(subscription.propertyId, sum(change.newValue), key);
      return;
    case SnSubscription_SwitchGroup: {
      const float newIndex = sum(change.newValue);
      const float oldIndex = sum(change.oldValue);
      if (newIndex != oldIndex && g_pSwitchMgr)
        g_pSwitchMgr->OnFollowedParameterChange(static_cast<CSnSwitchGroup*>(subscription.subscriber), key, newIndex,
                                                change.filter);
      return;
    }
    default: {
      auto* layer = static_cast<ISnLayerRTPCSubscriber*>(subscription.subscriber);
      if (!layer->AcceptsRTPCUpdate()) return;
      const float value = sum(change.newValue);
      if (subscription.propertyId == kCrossfadeProperty)
        layer->SetCrossfadeValue(key, value);
      else
        layer->UpdateInstanceProperty(subscription.propertyId, change.parameterId, value, key, change.filter);
      return;
    }
  }
}

CSnRTPCMgr::Subscription* CSnRTPCMgr::FindSubscription(void* subscriber, uint32_t propertyId) {
  for (Subscription* s = m_subscriptions[SubscriptionBucket(subscriber, propertyId)]; s; s = s->next)
    if (s->subscriber == subscriber && s->propertyId == propertyId) return s;
  return nullptr;
}

void CSnRTPCMgr::FreeCurve(Curve& curve) {
  if (curve.graph.points) MemoryMgr::Free(g_DefaultPoolId, curve.graph.points);
  curve.graph.points = nullptr;
  curve.graph.pointCount = 0;
}

void CSnRTPCMgr::Hook(Subscription& subscription, Curve& curve, bool active, SNRESULT& result) {
  if (curve.parameterType == kParameterTypeModulator) {
    if (!g_pModulatorRegistry) return;
    result = g_pModulatorRegistry->Attach(CSnModulatorRegistry::TargetOfSubscription(&subscription), curve.parameterId);
    return;
  }
  Parameter* parameter = GetOrCreateParameter(curve.parameterId);
  if (!parameter) {
    result = SN_InsufficientMemory;
    return;
  }
  if (Contains(parameter->active, &subscription) || Contains(parameter->inactive, &subscription)) return;
  // Room in both arrays, so activation never needs memory.
  const uint32_t needed = parameter->active.Count() + parameter->inactive.Count() + 1;
  if ((parameter->active.Capacity() < needed && !parameter->active.GrowBy(needed - parameter->active.Capacity())) ||
      (parameter->inactive.Capacity() < needed &&
       !parameter->inactive.GrowBy(needed - parameter->inactive.Capacity()))) {
    result = SN_InsufficientMemory;
    return;
  }
  InsertSorted(active ? parameter->active : parameter->inactive, &subscription);
}

void CSnRTPCMgr::Unhook(Subscription& subscription, const Curve& curve) {
  if (curve.parameterType == kParameterTypeModulator) {
    if (g_pModulatorRegistry)
      g_pModulatorRegistry->Detach(CSnModulatorRegistry::TargetOfSubscription(&subscription), curve.parameterId);
    return;
  }
  // Another curve of the same subscription may read the same parameter.
  for (const Curve& other : subscription.curves)
    if (&other != &curve && other.parameterId == curve.parameterId && other.parameterType == curve.parameterType) return;
  if (Parameter* parameter = FindParameter(curve.parameterId)) {
    RemoveSorted(parameter->active, &subscription);
    RemoveSorted(parameter->inactive, &subscription);
  }
}

SNRESULT CSnRTPCMgr::AddCurveSubscription(void* subscriber, uint32_t parameterId, uint32_t parameterType,
                                          uint32_t combination, uint32_t propertyId, uint32_t curveId,
                                          uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t pointCount,
                                          const SnRTPCKey& key, uint32_t kind, bool active) {
  if (!subscriber) return SN_InvalidParameter;
  Subscription* subscription = FindSubscription(subscriber, propertyId);
  if (!subscription) {
    subscription = PoolNew<Subscription>(g_DefaultPoolId);
    if (!subscription) return SN_InsufficientMemory;
    subscription->subscriber = subscriber;
    subscription->propertyId = propertyId;
    subscription->removed = false;
    Subscription*& head = m_subscriptions[SubscriptionBucket(subscriber, propertyId)];
    subscription->next = head;
    head = subscription;
  }
  subscription->key = key;
  subscription->kind = kind;
  subscription->combination = combination;

  for (uint32_t i = 0; i < subscription->curves.Count(); ++i) {
    if (subscription->curves[i].curveId != curveId) continue;
    Unhook(*subscription, subscription->curves[i]);
    FreeCurve(subscription->curves[i]);
    subscription->curves.RemoveAt(i);
    break;
  }
  if (!points || pointCount == 0) {
    if (kind == SnSubscription_Layer && propertyId == kCrossfadeProperty) return SN_Success;
    if (subscription->curves.Count() == 0) RemoveSubscription(subscriber, propertyId);
    return SN_InvalidParameter;
  }
  auto* copy = static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * pointCount));
  Curve* curve = nullptr;
  if (copy) {
    memcpy(copy, points, sizeof(SnRTPCGraphPoint) * pointCount);
    curve = subscription->curves.Add(Curve{curveId, parameterId, parameterType, CSnCurveGraph{copy, pointCount, scaling}});
    if (!curve) MemoryMgr::Free(g_DefaultPoolId, copy);
  }
  if (!curve) {
    if (subscription->curves.Count() == 0) RemoveSubscription(subscriber, propertyId);
    return SN_InsufficientMemory;
  }
  const SnValueRange range = RangeOfProperty(kind, propertyId);
  if (!curve->graph.HoldPointsTo(range))
    SOUND_LOG(Error, "Curve %u of game parameter %u on property %u: points outside %g to %g are held to it", curveId,
              parameterId, propertyId, double(range.min), double(range.max));
  SNRESULT result = SN_Success;
  Hook(*subscription, *curve, active, result);
  if (result != SN_Success) {
    RemoveSubscriptionCurve(subscriber, propertyId, curveId);
    return result;
  }
  if (parameterType != kParameterTypeModulator && active) {
    // The subscriber learns the value it follows now.
    Parameter* parameter = FindParameter(parameterId);
    SnRTPCKey scope = key;
    const float* found = parameter->values.FindBest(scope);
    const float value = found ? *found : parameter->defaultValue;
    if (kind != SnSubscription_SwitchGroup) {
      ++m_notifyDepth;
      Tell(*subscription, Change{parameterId, false, key, value, value, nullptr, nullptr});
      EndPass();
    }
  }
  return SN_Success;
}

void CSnRTPCMgr::DestroySubscription(Subscription* subscription) {
  for (uint32_t i = subscription->curves.Count(); i-- > 0;) {
    Unhook(*subscription, subscription->curves[i]);
    FreeCurve(subscription->curves[i]);
    subscription->curves.RemoveAt(i);
  }
  subscription->curves.Term();
  for (Subscription** link = &m_subscriptions[SubscriptionBucket(subscription->subscriber, subscription->propertyId)];
       *link; link = &(*link)->next) {
    if (*link == subscription) {
      *link = subscription->next;
      break;
    }
  }
  subscription->removed = true;
  if (m_notifyDepth && m_removedDuringPass.Add(subscription)) return;
  PoolDelete(g_DefaultPoolId, subscription);
}

void CSnRTPCMgr::RemoveSubscription(void* subscriber, uint32_t propertyId) {
  if (Subscription* subscription = FindSubscription(subscriber, propertyId)) DestroySubscription(subscription);
}

bool CSnRTPCMgr::RemoveSubscriptionCurve(void* subscriber, uint32_t propertyId, uint32_t curveId) {
  Subscription* subscription = FindSubscription(subscriber, propertyId);
  if (!subscription || subscription->curves.Count() == 0) return false;
  for (uint32_t i = 0; i < subscription->curves.Count(); ++i) {
    if (subscription->curves[i].curveId != curveId) continue;
    Unhook(*subscription, subscription->curves[i]);
    FreeCurve(subscription->curves[i]);
    subscription->curves.RemoveAt(i);
    break;
  }
  if (subscription->curves.Count() == 0) DestroySubscription(subscription);
  return true;
}

void CSnRTPCMgr::MoveSubscription(Subscription& subscription, bool activate) {
  for (const Curve& curve : subscription.curves) {
    if (curve.parameterType == kParameterTypeModulator) continue;
    Parameter* parameter = FindParameter(curve.parameterId);
    if (!parameter) continue;
    SnArray<Subscription*>& from = activate ? parameter->inactive : parameter->active;
    SnArray<Subscription*>& to = activate ? parameter->active : parameter->inactive;
    if (!Contains(from, &subscription)) continue;
    RemoveSorted(from, &subscription);
    InsertSorted(to, &subscription);
  }
}

void CSnRTPCMgr::ActivateSubscriptions(void* subscriber, uint64_t propertyMask) {
  for (uint32_t bit = 0; bit < 64; ++bit)
    if (propertyMask & (uint64_t(1) << bit))
      if (Subscription* subscription = FindSubscription(subscriber, bit)) MoveSubscription(*subscription, true);
}

void CSnRTPCMgr::DeactivateSubscriptions(void* subscriber, uint64_t propertyMask) {
  for (uint32_t bit = 0; bit < 64; ++bit)
    if (propertyMask & (uint64_t(1) << bit))
      if (Subscription* subscription = FindSubscription(subscriber, bit)) MoveSubscription(*subscription, false);
}

bool CSnRTPCMgr::GetLinearGainCurve(void* subscriber, uint32_t propertyId, uint32_t parameterId, float& slope,
                                    float& offset) {
  if (!IsGainProperty(propertyId)) return false;
  Subscription* subscription = FindSubscription(subscriber, propertyId);
  if (!subscription || subscription->kind == SnSubscription_PluginParam) return false;
  for (const Curve& curve : subscription->curves) {
    if (curve.parameterId != parameterId || curve.graph.pointCount != 2) continue;
    auto gain = [&](float dB) { return dB < -740.0f ? 0.0f : float(std::pow(10.0, double(dB) / 20.0)); };
    const SnRTPCGraphPoint& first = curve.graph.points[0];
    const SnRTPCGraphPoint& last = curve.graph.points[1];
    const float g0 = gain(curve.graph.range.Hold(ApplyCurveScaling(curve.graph.scaling, first.y)));
    const float g1 = gain(curve.graph.range.Hold(ApplyCurveScaling(curve.graph.scaling, last.y)));
    // The line meets the curve at both its points, wherever they stand; drawn from 0 to 1 its slope
    // is the difference of their gains.
    slope = last.x > first.x ? (g1 - g0) / (last.x - first.x) : 0.0f;
    offset = g0 - slope * first.x;
    return true;
  }
  return false;
}

void CSnRTPCMgr::RemoveValuesOfOwner(uint32_t parameterId, const SnRTPCKey& ownerKey) {
  Parameter* parameter = FindParameter(parameterId);
  if (!parameter) return;
  for (ParamTransition* entry = parameter->transitions; entry;) {
    ParamTransition* next = entry->next;
    if (entry->key.Matches(ownerKey)) DropTransition(*parameter, entry, true);
    entry = next;
  }
  parameter->values.EraseMatching(ownerKey);
  for (SnArray<Subscription*>* list : {&parameter->active, &parameter->inactive}) {
    for (uint32_t i = list->Count(); i-- > 0;) {
      if (i >= list->Count()) continue;
      Subscription* subscription = (*list)[i];
      if (subscription->key == ownerKey) DestroySubscription(subscription);
    }
  }
}

}  // namespace SN
