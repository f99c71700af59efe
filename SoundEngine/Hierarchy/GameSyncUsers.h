// What the game syncs ask of hierarchy nodes and layers: game-parameter updates, the values a node
// keeps per game object, and the state users that move a node's six state properties.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/GameSyncs/Transition.h"

namespace SN {

class CSnRegisteredObj;

// A node following a game parameter (subscription kind 2): told the new curve sum and its change.
class ISnNodeRTPCSubscriber {
 public:
  virtual void UpdateRTPC(uint32_t propertyId, const SnRTPCKey& key, float newValue, float delta,
                          const void* filter) = 0;

 protected:
  ~ISnNodeRTPCSubscriber() = default;
};

// A layer of a layer container (subscription kind 3); property 64 is the crossfade parameter.
class ISnLayerRTPCSubscriber {
 public:
  virtual bool AcceptsRTPCUpdate() = 0;  // the owner has playing instances and takes the update
  virtual void SetCrossfadeValue(const SnRTPCKey& key, float value) = 0;
  virtual void UpdateInstanceProperty(uint32_t propertyId, uint32_t parameterId, float value, const SnRTPCKey& key,
                                      const void* filter) = 0;

 protected:
  ~ISnLayerRTPCSubscriber() = default;
};

// A node that keeps values for particular game objects drops them when the object goes.
class ISnGameObjectValueHolder {
 public:
  virtual void DropGameObjectValues(CSnRegisteredObj* object) = 0;

 protected:
  ~ISnGameObjectValueHolder() = default;
};

// The values a node gives its state properties in one state.
struct SnStatePropertySet {
  struct Entry {
    uint8_t index;
    float value;
  };
  uint32_t count = 0;
  Entry entries[6] = {};
  // 0 when the set does not name the index.
  float ValueOf(uint32_t index) const {
    for (uint32_t i = 0; i < count; ++i)
      if (entries[i].index == index) return entries[i].value;
    return 0.0f;
  }
};

class ISnStateNode {
 public:
  // Null when the node has no set for the state.
  virtual const SnStatePropertySet* FindStatePropertySet(uint32_t stateId) = 0;
  // The node became active on its output paths (mask 3: both).
  virtual SNRESULT ActivityUp(uint32_t mask) = 0;
  virtual void NotifyStatePropertiesChanged() = 0;

 protected:
  ~ISnStateNode() = default;
};

// A node's holder of its state properties, linked into its state group's user list. Transitions
// drive it with the property index as their kind.
class CSnStateUser : public ISnTransitionTarget {
 public:
  static constexpr uint32_t kPropertyCount = 6;
  struct Entry {
    bool present = false;
    float value = 0.0f;
    CSnTransition* transition = nullptr;
  };

  explicit CSnStateUser(ISnStateNode* node) : m_pNode(node) {}

  // Stores the value of property `kind` (0 to 5) and forgets a finished transition.
  void TransitionUpdate(uint32_t kind, float value, bool done) override {
    if (kind >= kPropertyCount) return;
    Entry& entry = m_entries[kind];
    entry.present = true;
    entry.value = value;
    if (done) entry.transition = nullptr;
    ApplyStateProperty(kind, value);
  }

  ISnStateNode* Node() const { return m_pNode; }
  uint32_t CurrentState() const { return m_currentState; }
  void SetCurrentState(uint32_t state) { m_currentState = state; }
  Entry& EntryAt(uint32_t index) { return m_entries[index]; }

  CSnStateUser* m_pNextUser = nullptr;

 protected:
  ~CSnStateUser() = default;
  // The node's side of a new property value.
  virtual void ApplyStateProperty(uint32_t index, float value) = 0;

 private:
  ISnStateNode* m_pNode;
  uint32_t m_currentState = 0;
  Entry m_entries[kPropertyCount];
};

}  // namespace SN
