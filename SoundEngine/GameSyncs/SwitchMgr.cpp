// The switch manager: values per game object, groups that follow a game parameter through a curve,
// and subscriptions that may change while their subscribers are being told.
#include "SoundEngine/GameSyncs/SwitchMgr.h"

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnSwitchMgr* g_pSwitchMgr = nullptr;

bool CSnSwitchGroup::SetSwitch(uint32_t switchId, CSnRegisteredObj* object) {
  const SnRTPCKey key = SnRTPCKey::ForObject(object);
  if (!m_values.Set(key, switchId)) return false;
  if (!FollowsParameter()) TellSubscribers(switchId, key, nullptr);
  return true;
}

void CSnSwitchGroup::TellSubscribers(uint32_t switchId, const SnRTPCKey& key, const void* filter) {
  if (!g_pSwitchMgr) return;
  CSnSwitchNotifyGuard guard(*g_pSwitchMgr);
  // Subscriptions made during the pass wait for its end, so the array only shrinks by deferral.
  for (uint32_t i = 0; i < m_subscribers.Count(); ++i)
    if (m_subscribers[i]->active) m_subscribers[i]->subscriber->SwitchChanged(switchId, key, filter);
}

SNRESULT CSnSwitchMgr::Init() {
  m_groups.Init(g_DefaultPoolId);
  for (auto*& head : m_subscriptions) head = nullptr;
  m_deferred.Term();
  m_passDepth = 0;
  return SN_Success;
}

void CSnSwitchMgr::Term() {
  for (auto it = m_groups.Begin(); !it.AtEnd(); m_groups.Next(it)) {
    CSnSwitchGroup* group = it.node->value;
    group->m_values.Clear();
    StopFollowing(*group);
    group->m_subscribers.Term();
    PoolDelete(g_DefaultPoolId, group);
  }
  m_groups.Term();
  for (auto*& head : m_subscriptions) {
    while (auto* subscription = head) {
      head = subscription->next;
      PoolDelete(g_DefaultPoolId, subscription);
    }
  }
  m_deferred.Term();
}

CSnSwitchGroup* CSnSwitchMgr::GetOrCreateSwitchGroup(uint32_t groupId) {
  if (CSnSwitchGroup** found = m_groups.Find(groupId)) return *found;
  CSnSwitchGroup* group = PoolNew<CSnSwitchGroup>(g_DefaultPoolId);
  if (!group) return nullptr;
  group->m_groupId = groupId;
  CSnSwitchGroup** slot = m_groups.FindOrInsert(groupId);
  if (!slot) {
    PoolDelete(g_DefaultPoolId, group);
    return nullptr;
  }
  *slot = group;
  return group;
}

void CSnSwitchMgr::StopFollowing(CSnSwitchGroup& group) {
  if (group.m_parameterId && g_pRTPCMgr) g_pRTPCMgr->RemoveSubscription(&group, kCrossfadeProperty);
  group.m_parameterId = 0;
  group.m_parameterType = 0;
  group.m_switchList.Term();
}

SNRESULT CSnSwitchMgr::SetGroupRTPCCurve(uint32_t groupId, uint32_t parameterId, uint32_t parameterType,
                                         const SnSwitchGraphPoint* points, uint32_t count) {
  CSnSwitchGroup* group = GetOrCreateSwitchGroup(groupId);
  if (!group) return SN_InsufficientMemory;
  StopFollowing(*group);
  if (count == 0 || !points) return SN_Success;
  SnArray<SnRTPCGraphPoint> curve;
  if (!curve.GrowBy(count) || !group->m_switchList.GrowBy(count)) {
    StopFollowing(*group);
    return SN_InsufficientMemory;
  }
  for (uint32_t i = 0; i < count; ++i) {
    curve.Add({points[i].parameterValue, float(i), points[i].shape});
    group->m_switchList.Add(points[i].switchId);
  }
  group->m_parameterId = parameterId;
  group->m_parameterType = parameterType;
  SNRESULT result = g_pRTPCMgr ? g_pRTPCMgr->AddCurveSubscription(group, parameterId, parameterType, 0,
                                                                  kCrossfadeProperty, 0, SnCurveScaling_None,
                                                                  curve.begin(), count, SnRTPCKey{},
                                                                  SnSubscription_SwitchGroup, true)
                               : SN_Failure;
  if (result != SN_Success) {
    StopFollowing(*group);
    return result == SN_Failure ? SN_InsufficientMemory : result;
  }
  return SN_Success;
}

uint32_t CSnSwitchMgr::GetCurrentSwitch(uint32_t groupId, const SnRTPCKey& key) {
  CSnSwitchGroup** found = m_groups.Find(groupId);
  if (!found) return 0;
  CSnSwitchGroup* group = *found;
  if (group->FollowsParameter()) {
    if (!g_pRTPCMgr) return 0;
    const float value = g_pRTPCMgr->EvaluateSubscription(group, kCrossfadeProperty, key);
    const uint32_t index = uint32_t(int64_t(value));
    return index < group->m_switchList.Count() ? group->m_switchList[index] : 0;
  }
  SnRTPCKey scope = key;
  const uint32_t* value = group->m_values.FindBest(scope);
  return value ? *value : 0;
}

CSnSwitchGroup::Subscription* CSnSwitchMgr::FindSubscription(ISnSwitchSubscriber* subscriber) {
  for (auto* s = m_subscriptions[BucketOfSubscriber(subscriber)]; s; s = s->next)
    if (s->subscriber == subscriber) return s;
  return nullptr;
}

void CSnSwitchMgr::DetachFromGroup(CSnSwitchGroup::Subscription* subscription) {
  CSnSwitchGroup** group = m_groups.Find(subscription->groupId);
  if (!group) return;
  const int32_t index = (*group)->m_subscribers.IndexOf(subscription);
  if (index >= 0) (*group)->m_subscribers.RemoveAt(uint32_t(index));
}

void CSnSwitchMgr::UnlinkSubscription(CSnSwitchGroup::Subscription* subscription) {
  for (auto** link = &m_subscriptions[BucketOfSubscriber(subscription->subscriber)]; *link; link = &(*link)->next) {
    if (*link == subscription) {
      *link = subscription->next;
      return;
    }
  }
}

SNRESULT CSnSwitchMgr::SubscribeSwitch(ISnSwitchSubscriber* subscriber, uint32_t groupId) {
  if (m_passDepth) return m_deferred.Add({0, subscriber, groupId}) ? SN_Success : SN_Failure;
  if (!subscriber) return SN_InsufficientMemory;
  CSnSwitchGroup::Subscription* subscription = FindSubscription(subscriber);
  if (subscription) {
    DetachFromGroup(subscription);
  } else {
    subscription = PoolNew<CSnSwitchGroup::Subscription>(g_DefaultPoolId);
    if (!subscription) return SN_InsufficientMemory;
    subscription->subscriber = subscriber;
    auto*& head = m_subscriptions[BucketOfSubscriber(subscriber)];
    subscription->next = head;
    head = subscription;
  }
  subscription->groupId = groupId;
  subscription->active = 1;
  CSnSwitchGroup* group = GetOrCreateSwitchGroup(groupId);
  if (!group || !group->m_subscribers.Add(subscription)) {
    UnlinkSubscription(subscription);
    PoolDelete(g_DefaultPoolId, subscription);
    return SN_InsufficientMemory;
  }
  return SN_Success;
}

void CSnSwitchMgr::UnsubscribeSwitches(ISnSwitchSubscriber* subscriber) {
  CSnSwitchGroup::Subscription* subscription = FindSubscription(subscriber);
  if (m_passDepth) {
    if (subscription) subscription->active = 0;
    m_deferred.Add({1, subscriber, 0});
    return;
  }
  if (!subscription) return;
  UnlinkSubscription(subscription);
  DetachFromGroup(subscription);
  PoolDelete(g_DefaultPoolId, subscription);
}

void CSnSwitchMgr::EndPass() {
  if (--m_passDepth) return;
  // Applying may not start another pass, but keep the array stable while walking it.
  for (uint32_t i = 0; i < m_deferred.Count(); ++i) {
    const Deferred deferred = m_deferred[i];
    if (deferred.kind == 0)
      SubscribeSwitch(deferred.subscriber, deferred.groupId);
    else
      UnsubscribeSwitches(deferred.subscriber);
  }
  m_deferred.Term();
}

void CSnSwitchMgr::OnFollowedParameterChange(CSnSwitchGroup* group, const SnRTPCKey& key, float curveValue,
                                             const void* filter) {
  CSnSwitchNotifyGuard guard(*this);
  const uint64_t index = uint64_t(int64_t(curveValue));
  if (index >= group->m_switchList.Count()) return;
  const uint32_t switchId = group->m_switchList[uint32_t(index)];
  const SnRTPCKey objectKey = SnRTPCKey::ForObject(key.gameObject);
  for (uint32_t i = 0; i < group->m_subscribers.Count(); ++i)
    if (group->m_subscribers[i]->active) group->m_subscribers[i]->subscriber->SwitchChanged(switchId, objectKey, filter);
}

void CSnSwitchMgr::RemoveGameObjectValues(CSnRegisteredObj* object) {
  if (!object) return;
  const SnRTPCKey pattern = SnRTPCKey::ForObject(object);
  for (auto it = m_groups.Begin(); !it.AtEnd(); m_groups.Next(it)) it.node->value->m_values.EraseMatching(pattern);
}

}  // namespace SN
