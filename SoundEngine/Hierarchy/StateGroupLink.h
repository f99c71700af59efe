// A node's link to one state group: the property set each state of the group gives the node, and the
// node's current state values moved by the state manager's transitions. Audio thread, or the bank
// thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"

namespace SN {

class CSnHierarchyNode;
class CSnStateProperties;

constexpr SNRESULT SN_StatePropertiesNotFound = SNRESULT(16);

class CSnStateGroupLink final : public CSnStateUser, public ISnStateNode {
 public:
  struct Mapping {
    uint32_t stateId;
    CSnStateProperties* properties;  // one reference held
  };

  CSnStateGroupLink(CSnHierarchyNode* owner, uint32_t groupId, uint8_t syncType);
  ~CSnStateGroupLink();

  // Maps `stateId` to the state-property object `propertySetId` (looked up in the index): an absent
  // object gives SN_StatePropertiesNotFound; out of memory SN_InsufficientMemory.
  SNRESULT SetStateProperties(uint32_t propertySetId, uint32_t stateId);
  // Sets every value at once to what the current state gives (0 without a set), ending transitions.
  void Refresh();
  // Ends the running transitions, each counting as one activity of the node less.
  void EndTransitions();
  // Holds (or lets go on) the running transitions where they stand.
  void PauseTransitions(bool pause);

  uint32_t GroupId() const { return m_groupId; }
  uint8_t SyncType() const { return m_syncType; }
  void SetSyncType(uint8_t type);
  // Links of every node that wait for a sync point (a sync type other than 0): with none, nothing
  // holds a state change.
  static uint32_t SyncedCount();
  uint32_t MappingCount() const { return m_mappings.Count(); }
  // The current value of state property `index` (0 to 5).
  float Value(uint32_t index) { return EntryAt(index).value; }

  // ISnStateNode
  const SnStatePropertySet* FindStatePropertySet(uint32_t stateId) override;
  SNRESULT ActivityUp(uint32_t mask) override;
  void NotifyStatePropertiesChanged() override;

  void TransitionUpdate(uint32_t kind, float value, bool done) override;

  CSnStateGroupLink* m_pNextLink = nullptr;

 protected:
  void ApplyStateProperty(uint32_t, float) override {}

 private:
  CSnHierarchyNode* m_owner;
  SnArray<Mapping> m_mappings;
  SnStatePropertySet m_scratch;
  uint32_t m_groupId;
  uint8_t m_syncType;
};

}  // namespace SN
