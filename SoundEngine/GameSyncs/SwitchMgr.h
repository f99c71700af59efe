// Switch groups: a switch per game object, or one picked by a curve from a followed game parameter,
// and the switch containers that are told when it changes. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/IdHashTable.h"

namespace SN {

class CSnRegisteredObj;

// A switch container or music switch context: the second operation reports a switch change.
class ISnSwitchSubscriber {
 public:
  virtual void SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void* filter) = 0;

 protected:
  ~ISnSwitchSubscriber() = default;
};

struct SnSwitchGraphPoint {
  float parameterValue;
  uint32_t switchId;
  uint32_t shape;
};

class CSnSwitchMgr;

class CSnSwitchGroup {
 public:
  struct Subscription {
    ISnSwitchSubscriber* subscriber;
    Subscription* next;
    uint32_t groupId;
    uint8_t active;
  };

  // Whether the value could be stored; a group that does not follow a parameter tells its subscribers.
  bool SetSwitch(uint32_t switchId, CSnRegisteredObj* object);
  bool FollowsParameter() const { return m_parameterId != 0; }
  uint32_t GroupId() const { return m_groupId; }

 private:
  friend class CSnSwitchMgr;
  void TellSubscribers(uint32_t switchId, const SnRTPCKey& key, const void* filter);

  uint32_t m_groupId = 0;
  SnArray<uint32_t> m_switchList;
  uint32_t m_parameterId = 0;
  uint32_t m_parameterType = 0;
  SnArray<Subscription*> m_subscribers;
  SnRTPCKeyTree<uint32_t> m_values;
};

class CSnSwitchMgr {
 public:
  SNRESULT Init();
  void Term();

  CSnSwitchGroup* GetOrCreateSwitchGroup(uint32_t groupId);
  SNRESULT SetGroupRTPCCurve(uint32_t groupId, uint32_t parameterId, uint32_t parameterType,
                             const SnSwitchGraphPoint* points, uint32_t count);
  uint32_t GetCurrentSwitch(uint32_t groupId, const SnRTPCKey& key);
  SNRESULT SubscribeSwitch(ISnSwitchSubscriber* subscriber, uint32_t groupId);
  void UnsubscribeSwitches(ISnSwitchSubscriber* subscriber);
  // From the game-parameter manager: a followed parameter's curve gave a new index.
  void OnFollowedParameterChange(CSnSwitchGroup* group, const SnRTPCKey& key, float curveValue, const void* filter);
  void RemoveGameObjectValues(CSnRegisteredObj* object);

  uint32_t GroupCount() const { return m_groups.Count(); }

 private:
  friend class CSnSwitchGroup;
  friend class CSnSwitchNotifyGuard;
  struct Deferred {
    uint32_t kind;  // 0 subscribe, 1 unsubscribe
    ISnSwitchSubscriber* subscriber;
    uint32_t groupId;
  };

  CSnSwitchGroup::Subscription* FindSubscription(ISnSwitchSubscriber* subscriber);
  static uint32_t BucketOfSubscriber(const ISnSwitchSubscriber* subscriber) {
    return uint32_t(uint64_t(reinterpret_cast<uintptr_t>(subscriber)) % kIndexBuckets);
  }
  void UnlinkSubscription(CSnSwitchGroup::Subscription* subscription);
  void DetachFromGroup(CSnSwitchGroup::Subscription* subscription);
  void StopFollowing(CSnSwitchGroup& group);
  void EndPass();

  SnIdHashTable193<CSnSwitchGroup*> m_groups;
  CSnSwitchGroup::Subscription* m_subscriptions[kIndexBuckets] = {};
  SnArray<Deferred> m_deferred;
  uint32_t m_passDepth = 0;
};

// Counts a notification pass; the pass that ends last applies the deferred subscription changes.
class CSnSwitchNotifyGuard {
 public:
  explicit CSnSwitchNotifyGuard(CSnSwitchMgr& manager) : m_manager(manager) { ++m_manager.m_passDepth; }
  ~CSnSwitchNotifyGuard() { m_manager.EndPass(); }
  CSnSwitchNotifyGuard(const CSnSwitchNotifyGuard&) = delete;
  CSnSwitchNotifyGuard& operator=(const CSnSwitchNotifyGuard&) = delete;

 private:
  CSnSwitchMgr& m_manager;
};

// Null while the sound engine is not initialised.
extern CSnSwitchMgr* g_pSwitchMgr;

}  // namespace SN
