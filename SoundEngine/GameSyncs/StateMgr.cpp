// State groups and triggers: a state change moves every user's six state properties through state
// transitions, followers hear of it, and prepared game syncs are counted for the bank thread.
#include "SoundEngine/GameSyncs/StateMgr.h"

#include "Base/Assert.h"
#include "SoundEngine/GameSyncHooks.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnStateMgr* g_pStateMgr = nullptr;

namespace {
constexpr uint32_t kPreparedGrowth = 4;
bool IsDecibelProperty(uint32_t index) { return index == 0 || index == 1 || index == 5; }
}  // namespace

SNRESULT CSnStateMgr::Init() {
  if (!m_stateSubscriptions.Init(8, SnPooledList<StateSubscription>::kUnlimited) ||
      !m_triggerSubscriptions.Init(8, SnPooledList<TriggerSubscription>::kUnlimited))
    return SN_InsufficientMemory;
  return SN_Success;
}

void CSnStateMgr::Term() {
  RemoveStateGroups(false);
  m_groups.Term();
  m_stateSubscriptions.Term();
  m_triggerSubscriptions.Term();
  Platform::ReentrantGuard guard(m_preparedLock);
  FreePreparedList(m_preparedStates);
  FreePreparedList(m_preparedSwitches);
}

CSnStateMgr::StateGroup* CSnStateMgr::FindGroup(uint32_t groupId) {
  for (GroupEntry& entry : m_groups)
    if (entry.groupId == groupId) return entry.group;
  return nullptr;
}

SNRESULT CSnStateMgr::AddStateGroup(uint32_t groupId) {
  if (FindGroup(groupId)) return SN_Success;
  StateGroup* group = PoolNew<StateGroup>(g_DefaultPoolId);
  if (!group) return SN_Failure;
  if (!m_groups.Add({groupId, group})) {
    PoolDelete(g_DefaultPoolId, group);
    return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnStateMgr::SetDefaultTransitionTime(uint32_t groupId, uint32_t ms) {
  StateGroup* group = FindGroup(groupId);
  if (!group) return SN_StateGroupNotFound;
  group->defaultTimeMs = ms;
  return SN_Success;
}

SNRESULT CSnStateMgr::StoreTransition(StateGroup& group, uint32_t from, uint32_t to, uint32_t ms) {
  for (Transition& transition : group.transitions) {
    if (transition.from == from && transition.to == to) {
      transition.ms = ms;
      return SN_Success;
    }
  }
  return group.transitions.Add({from, to, ms}) ? SN_Success : SN_Failure;
}

SNRESULT CSnStateMgr::AddStateTransition(uint32_t groupId, uint32_t from, uint32_t to, uint32_t ms, bool bothWays) {
  StateGroup* group = FindGroup(groupId);
  if (!group) return SN_StateGroupNotFound;
  SNRESULT result = StoreTransition(*group, from, to, ms);
  if (result == SN_Success && bothWays) result = StoreTransition(*group, to, from, ms);
  return result;
}

SNRESULT CSnStateMgr::RegisterStateUser(uint32_t groupId, CSnStateUser* user) {
  StateGroup* group = FindGroup(groupId);
  if (!group) return SN_StateGroupNotFound;
  user->m_pNextUser = group->users;
  group->users = user;
  return SN_Success;
}

SNRESULT CSnStateMgr::UnregisterStateUser(uint32_t groupId, CSnStateUser* user) {
  StateGroup* group = FindGroup(groupId);
  if (!group) return SN_StateGroupNotFound;
  for (CSnStateUser** link = &group->users; *link; link = &(*link)->m_pNextUser) {
    if (*link == user) {
      *link = user->m_pNextUser;
      user->m_pNextUser = nullptr;
      break;
    }
  }
  return SN_Success;
}

uint32_t CSnStateMgr::GetCurrentState(uint32_t groupId) {
  StateGroup* group = FindGroup(groupId);
  return group ? group->currentState : 0;
}

void CSnStateMgr::SetState(uint32_t groupId, uint32_t stateId, bool skipTransition, bool skipNotification) {
  StateGroup* group = FindGroup(groupId);
  if (!group) return;
  if (!skipNotification) {
    NotifyStateSubscribers(groupId, group->currentState, stateId);
    SnStateChangeHook hook = SoundEngine::StateChangeHook();
    if (hook && !skipTransition && hook(groupId, stateId)) return;
    group = FindGroup(groupId);  // a follower may have unloaded groups
    if (!group) return;
  }
  uint32_t timeMs = 0;
  if (!skipTransition) {
    if (group->currentState == stateId) return;
    timeMs = group->defaultTimeMs;
    for (const Transition& transition : group->transitions)
      if (transition.from == group->currentState && transition.to == stateId) timeMs = transition.ms;
  }
  for (CSnStateUser* user = group->users; user; user = user->m_pNextUser) MoveUser(*user, stateId, timeMs);
  group->currentState = stateId;
}

void CSnStateMgr::MoveUser(CSnStateUser& user, uint32_t stateId, uint32_t timeMs) {
  user.SetCurrentState(stateId);
  ISnStateNode* node = user.Node();
  const SnStatePropertySet* set = node ? node->FindStatePropertySet(stateId) : nullptr;
  const SnStatePropertySet empty;
  if (!set) set = &empty;
  bool notify = false;
  for (uint32_t index = 0; index < CSnStateUser::kPropertyCount; ++index) {
    const float target = set->ValueOf(index);
    CSnStateUser::Entry& entry = user.EntryAt(index);
    if (entry.transition) {
      entry.transition->Retarget(index, target, timeMs, SnCurve_Linear, SnValueMeaning_Absolute);
      continue;
    }
    if (entry.value == target) continue;
    SnTransitionParams request;
    request.target = &user;
    request.kind = index;
    request.initial = entry.value;
    request.end = target;
    request.timeMs = timeMs;
    request.curve = SnCurve_Linear;
    request.dB = IsDecibelProperty(index);
    request.mirror = 1;
    entry.present = true;
    CSnTransition* transition =
        g_pTransitionMgr ? g_pTransitionMgr->AddTransition(request, true, CSnTransitionMgr::List_State) : nullptr;
    if (!transition) {
      // The manager (or, without one, this) hands the end value over at once.
      if (!g_pTransitionMgr) user.TransitionUpdate(index, target, true);
      notify = true;
      continue;
    }
    entry.transition = transition;
    if (!node || node->ActivityUp(3) != SN_Success) {
      transition->RemoveTarget(&user);
      entry.transition = nullptr;
      user.TransitionUpdate(index, target, true);
    }
  }
  if (notify && node) node->NotifyStatePropertiesChanged();
}

void CSnStateMgr::RemoveStateGroups(bool onlyUnused) {
  for (uint32_t i = m_groups.Count(); i-- > 0;) {
    StateGroup* group = m_groups[i].group;
    if (onlyUnused && group->users) continue;
    group->transitions.Term();
    PoolDelete(g_DefaultPoolId, group);
    m_groups.RemoveAt(i);
  }
}

SNRESULT CSnStateMgr::AddStateSubscriber(ISnGameSyncSubscriber* subscriber, uint32_t groupId) {
  if (!subscriber) return SN_InvalidParameter;
  return m_stateSubscriptions.Append({subscriber, groupId}) ? SN_Success : SN_Failure;
}

void CSnStateMgr::RemoveStateSubscriber(ISnGameSyncSubscriber* subscriber) {
  using Item = SnPooledList<StateSubscription>::Item;
  Item* prev = nullptr;
  for (Item* item = m_stateSubscriptions.Head(); item;) {
    Item* next = item->next;
    if (item->payload.subscriber == subscriber) {
      if (m_inNotification) {
        item->payload.subscriber = nullptr;
        m_removalPending = 1;
      } else {
        m_stateSubscriptions.Remove(prev, item);
        item = next;
        continue;
      }
    }
    prev = item;
    item = next;
  }
}

void CSnStateMgr::NotifyStateSubscribers(uint32_t groupId, uint32_t oldState, uint32_t newState) {
  if (oldState == newState) return;
  m_inNotification = 1;
  const SnRTPCKey any;
  for (auto* item = m_stateSubscriptions.Head(); item; item = item->next)
    if (item->payload.subscriber && item->payload.groupId == groupId)
      item->payload.subscriber->StateChanged(newState, any, nullptr);
  if (m_removalPending) {
    m_inNotification = 0;
    RemoveStateSubscriber(nullptr);
  }
  m_inNotification = 0;
  m_removalPending = 0;
}

SNRESULT CSnStateMgr::AddTriggerSubscriber(ISnGameSyncSubscriber* subscriber, CSnRegisteredObj* object) {
  return m_triggerSubscriptions.Append({subscriber, 0, object}) ? SN_Success : SN_Failure;
}

SNRESULT CSnStateMgr::RemoveTriggerSubscriber(ISnGameSyncSubscriber* subscriber) {
  using Item = SnPooledList<TriggerSubscription>::Item;
  Item* prev = nullptr;
  for (Item* item = m_triggerSubscriptions.Head(); item;) {
    Item* next = item->next;
    if (item->payload.subscriber == subscriber)
      m_triggerSubscriptions.Remove(prev, item);
    else
      prev = item;
    item = next;
  }
  return SN_Success;
}

void CSnStateMgr::Trigger(uint32_t triggerId, CSnRegisteredObj* object) {
  for (auto* item = m_triggerSubscriptions.Head(); item;) {
    auto* next = item->next;  // a subscriber may leave while it is told
    const TriggerSubscription& entry = item->payload;
    if ((entry.triggerId == 0 || entry.triggerId == triggerId) && (!object || entry.object == object))
      entry.subscriber->TriggerReceived(triggerId);
    item = next;
  }
}

CSnStateMgr::PreparedGroup* CSnStateMgr::FindPreparedLocked(uint32_t groupId, uint32_t groupType) {
  for (PreparedGroup* group = groupType == SnGameSyncGroup_State ? m_preparedStates : m_preparedSwitches; group;
       group = group->next)
    if (group->groupId == groupId) return group;
  return nullptr;
}

CSnStateMgr::PreparedGroup* CSnStateMgr::GetPreparedGameSyncGroup(uint32_t groupId, uint32_t groupType) {
  Platform::ReentrantGuard guard(m_preparedLock);
  if (PreparedGroup* found = FindPreparedLocked(groupId, groupType)) return found;
  PreparedGroup* group = PoolNew<PreparedGroup>(g_DefaultPoolId);
  if (!group) return nullptr;
  group->groupId = groupId;
  group->listeners = nullptr;
  PreparedGroup*& head = groupType == SnGameSyncGroup_State ? m_preparedStates : m_preparedSwitches;
  group->next = head;
  head = group;
  return group;
}

SNRESULT CSnStateMgr::PrepareGameSyncValue(uint32_t groupType, uint32_t groupId, uint32_t valueId, bool prepare) {
  PreparedGroup* group = GetPreparedGameSyncGroup(groupId, groupType);
  if (!group) return prepare ? SN_InsufficientMemory : SN_Success;

  // The value array is read by other threads: change it under the lock, tell listeners without it.
  constexpr uint32_t kMaxListeners = 64;
  ISnPreparedGameSyncListener* listeners[kMaxListeners];
  uint32_t listenerCount = 0;
  {
    Platform::ReentrantGuard guard(m_preparedLock);
    const int32_t index = group->values.IndexOf(valueId);
    if (prepare) {
      if (index >= 0) return SN_Success;
      if (!group->values.Add(valueId, kPreparedGrowth)) return SN_InsufficientMemory;
    } else {
      if (index < 0) return SN_Success;
      const uint32_t last = group->values.Count() - 1;
      group->values[uint32_t(index)] = group->values[last];
      group->values.RemoveAt(last);
    }
    for (auto* l = group->listeners; l && listenerCount < kMaxListeners; l = l->next)
      listeners[listenerCount++] = l->listener;
  }
  SNRESULT result = SN_Success;
  uint32_t told = 0;
  for (; told < listenerCount; ++told) {
    result = listeners[told]->PrepareGameSyncValue(valueId, prepare);
    if (result != SN_Success) break;
  }
  if (result == SN_Success) return SN_Success;
  if (prepare)
    for (uint32_t i = 0; i < told; ++i) listeners[i]->PrepareGameSyncValue(valueId, false);
  Platform::ReentrantGuard guard(m_preparedLock);
  if (prepare) {
    const int32_t index = group->values.IndexOf(valueId);
    if (index >= 0) group->values.RemoveAt(uint32_t(index));
  } else {
    group->values.Add(valueId, kPreparedGrowth);
  }
  return result;
}

bool CSnStateMgr::IsGameSyncValuePrepared(uint32_t groupType, uint32_t groupId, uint32_t valueId) {
  Platform::ReentrantGuard guard(m_preparedLock);
  PreparedGroup* group = FindPreparedLocked(groupId, groupType);
  return group && group->values.IndexOf(valueId) >= 0;
}

uint32_t CSnStateMgr::CopyPreparedValues(uint32_t groupType, uint32_t groupId, uint32_t* out, uint32_t capacity) {
  Platform::ReentrantGuard guard(m_preparedLock);
  PreparedGroup* group = FindPreparedLocked(groupId, groupType);
  if (!group) return 0;
  for (uint32_t i = 0; i < group->values.Count() && i < capacity; ++i) out[i] = group->values[i];
  return group->values.Count();
}

SNRESULT CSnStateMgr::AddPreparedListener(uint32_t groupType, uint32_t groupId, ISnPreparedGameSyncListener* listener) {
  PreparedGroup* group = GetPreparedGameSyncGroup(groupId, groupType);
  if (!group) return SN_InsufficientMemory;
  auto* item = PoolNew<PreparedGroup::Listener>(g_DefaultPoolId);
  if (!item) return SN_InsufficientMemory;
  Platform::ReentrantGuard guard(m_preparedLock);
  item->listener = listener;
  item->next = nullptr;
  auto** link = &group->listeners;
  while (*link) link = &(*link)->next;
  *link = item;
  return SN_Success;
}

void CSnStateMgr::RemovePreparedListener(uint32_t groupType, uint32_t groupId, ISnPreparedGameSyncListener* listener) {
  Platform::ReentrantGuard guard(m_preparedLock);
  PreparedGroup* group = FindPreparedLocked(groupId, groupType);
  if (!group) return;
  for (auto** link = &group->listeners; *link; link = &(*link)->next) {
    if ((*link)->listener == listener) {
      auto* item = *link;
      *link = item->next;
      PoolDelete(g_DefaultPoolId, item);
      return;
    }
  }
}

void CSnStateMgr::FreePreparedList(PreparedGroup*& head) {
  while (PreparedGroup* group = head) {
    head = group->next;
    while (auto* listener = group->listeners) {
      group->listeners = listener->next;
      PoolDelete(g_DefaultPoolId, listener);
    }
    group->values.Term();
    PoolDelete(g_DefaultPoolId, group);
  }
}

}  // namespace SN
