// Run-time property values of a node or playing object: per property id a value and the transition
// that moves it, for all game objects or for one.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/GameSyncs/ValueChange.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"

namespace SN {

class CSnRegisteredObj;

// The object a value set belongs to. Audio thread only.
class ISnPropTransitionOwner {
 public:
  // A property now has a run-time value: the parameter it follows is overridden here.
  virtual void PropertyOverridden(uint32_t parameterId) = 0;
  // Property 10 is the owner's own gain factor; `gameObject` is null for the set of all objects.
  virtual void SetGainFactorTarget(CSnRegisteredObj* gameObject, float target, const TransParamsBase& params) = 0;
  // The value the owner hears moved to `value` by `change`: a step of a running transition toward the
  // stored target, or the whole way at once.
  virtual void PropertyTransitionStep(CSnRegisteredObj* gameObject, uint32_t propertyId, uint32_t parameterId,
                                      float value, float change) = 0;

 protected:
  ~ISnPropTransitionOwner() = default;
};

class CSnPropTransitionSet final : public ISnTransitionTarget {
 public:
  struct Value {
    float value;
    CSnTransition* transition;
  };
  using Blob = SnPropertyBlob<sizeof(Value::value) + sizeof(Value::transition)>;

  CSnPropTransitionSet(ISnPropTransitionOwner* owner, CSnRegisteredObj* gameObject)
      : m_owner(owner), m_gameObject(gameObject) {}
  ~CSnPropTransitionSet();
  CSnPropTransitionSet(const CSnPropTransitionSet&) = delete;
  CSnPropTransitionSet& operator=(const CSnPropTransitionSet&) = delete;

  // The id's slot: a present id keeps its value; a new one takes {value, no transition} and the owner
  // is told its parameter is overridden. Null when out of memory or the set is full.
  uint8_t* SetValue(uint8_t id, float value);
  // Moves a present property toward `target`: SN_Failure for an absent id. The stored value becomes
  // the target at once; the owner hears the steps. `clear` forgets the transition: the owner hears the
  // rest of the way at once.
  SNRESULT SetWithTransition(uint8_t id, float target, bool clear, const TransParamsBase& params);

  bool Has(uint32_t id) const { return m_blob.Has(id); }
  float ValueOr(uint32_t id, float fallback) const;
  Value ValueAt(uint32_t index) const;
  // What the owner hears of the index's value now: where its running transition stands, else the
  // stored value. A voice that starts during a fade begins here.
  float HeardAt(uint32_t index) const;
  // The id's value as the owner hears it now (HeardAt), or `fallback` when it has none.
  float HeardOr(uint32_t id, float fallback) const;
  uint32_t Count() const { return m_blob.Count(); }
  uint8_t IdAt(uint32_t index) const { return m_blob.IdAt(index); }
  const Blob& Values() const { return m_blob; }
  CSnRegisteredObj* GameObject() const { return m_gameObject; }

  // Holds (or lets go on) every value's running transition where it stands.
  void PauseTransitions(bool pause);

  void TransitionUpdate(uint32_t kind, float value, bool done) override;

 private:
  void StoreAt(uint32_t index, const Value& value);

  ISnPropTransitionOwner* m_owner;
  CSnRegisteredObj* m_gameObject;
  Blob m_blob;
};

}  // namespace SN
