// Global state groups with their users and transition times, the objects that follow a state group
// or a trigger, and the prepared game-sync lists shared with the bank thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"

namespace SN {

class CSnRegisteredObj;
class CSnStateUser;

// A follower of state groups and triggers (music contexts): first operation a trigger, second a
// state change.
class ISnGameSyncSubscriber {
 public:
  virtual void TriggerReceived(uint32_t triggerId) = 0;
  virtual void StateChanged(uint32_t stateId, const SnRTPCKey& key, const void* filter) = 0;

 protected:
  ~ISnGameSyncSubscriber() = default;
};

// Told when a value of its prepared group is prepared or unprepared.
class ISnPreparedGameSyncListener {
 public:
  virtual SNRESULT PrepareGameSyncValue(uint32_t valueId, bool prepare) = 0;

 protected:
  ~ISnPreparedGameSyncListener() = default;
};

enum SnGameSyncGroupType : uint32_t { SnGameSyncGroup_Switch = 0, SnGameSyncGroup_State = 1 };

constexpr SNRESULT SN_StateGroupNotFound = SNRESULT(20);

class CSnStateMgr {
 public:
  struct PreparedGroup {
    PreparedGroup* next;
    SnArray<uint32_t> values;
    uint32_t groupId;
    struct Listener {
      ISnPreparedGameSyncListener* listener;
      Listener* next;
    }* listeners;
  };

  SNRESULT Init();
  void Term();

  SNRESULT AddStateGroup(uint32_t groupId);
  SNRESULT SetDefaultTransitionTime(uint32_t groupId, uint32_t ms);
  SNRESULT AddStateTransition(uint32_t groupId, uint32_t from, uint32_t to, uint32_t ms, bool bothWays);
  SNRESULT RegisterStateUser(uint32_t groupId, CSnStateUser* user);
  SNRESULT UnregisterStateUser(uint32_t groupId, CSnStateUser* user);
  uint32_t GetCurrentState(uint32_t groupId);
  void SetState(uint32_t groupId, uint32_t stateId, bool skipTransition, bool skipNotification);
  void RemoveStateGroups(bool onlyUnused);
  uint32_t StateGroupCount() const { return m_groups.Count(); }

  SNRESULT AddStateSubscriber(ISnGameSyncSubscriber* subscriber, uint32_t groupId);
  void RemoveStateSubscriber(ISnGameSyncSubscriber* subscriber);
  SNRESULT AddTriggerSubscriber(ISnGameSyncSubscriber* subscriber, CSnRegisteredObj* object);
  SNRESULT RemoveTriggerSubscriber(ISnGameSyncSubscriber* subscriber);
  void Trigger(uint32_t triggerId, CSnRegisteredObj* object);

  // Any thread. The record stays until Term; its values are read and changed under the lock only.
  PreparedGroup* GetPreparedGameSyncGroup(uint32_t groupId, uint32_t groupType);
  SNRESULT PrepareGameSyncValue(uint32_t groupType, uint32_t groupId, uint32_t valueId, bool prepare);
  bool IsGameSyncValuePrepared(uint32_t groupType, uint32_t groupId, uint32_t valueId);
  // Copies up to `capacity` prepared values; returns how many there are.
  uint32_t CopyPreparedValues(uint32_t groupType, uint32_t groupId, uint32_t* out, uint32_t capacity);
  SNRESULT AddPreparedListener(uint32_t groupType, uint32_t groupId, ISnPreparedGameSyncListener* listener);
  void RemovePreparedListener(uint32_t groupType, uint32_t groupId, ISnPreparedGameSyncListener* listener);

 private:
  struct Transition {
    uint32_t from;
    uint32_t to;
    uint32_t ms;
  };
  struct StateGroup {
    uint32_t defaultTimeMs = 0;
    uint32_t currentState = 0;
    CSnStateUser* users = nullptr;
    SnArray<Transition> transitions;
  };
  struct GroupEntry {
    uint32_t groupId;
    StateGroup* group;
  };
  struct StateSubscription {
    ISnGameSyncSubscriber* subscriber;
    uint32_t groupId;
  };
  struct TriggerSubscription {
    ISnGameSyncSubscriber* subscriber;
    uint32_t triggerId;
    CSnRegisteredObj* object;
  };

  StateGroup* FindGroup(uint32_t groupId);
  SNRESULT StoreTransition(StateGroup& group, uint32_t from, uint32_t to, uint32_t ms);
  void NotifyStateSubscribers(uint32_t groupId, uint32_t oldState, uint32_t newState);
  void MoveUser(CSnStateUser& user, uint32_t stateId, uint32_t timeMs);
  PreparedGroup* FindPreparedLocked(uint32_t groupId, uint32_t groupType);
  void FreePreparedList(PreparedGroup*& head);

  SnArray<GroupEntry> m_groups;
  SnPooledList<StateSubscription> m_stateSubscriptions;
  uint8_t m_inNotification = 0;
  uint8_t m_removalPending = 0;
  SnPooledList<TriggerSubscription> m_triggerSubscriptions;
  Platform::ReentrantLock m_preparedLock;
  PreparedGroup* m_preparedStates = nullptr;
  PreparedGroup* m_preparedSwitches = nullptr;
};

// Null while the sound engine is not initialised.
extern CSnStateMgr* g_pStateMgr;

}  // namespace SN
