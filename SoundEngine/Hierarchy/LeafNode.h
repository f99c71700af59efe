// The base of the nodes that make sound themselves (sounds, motion sources, music tracks): the chain
// of playback instances playing the node, and what is handed down it. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/PropertyNode.h"

namespace SN {

class CSnSourceDesc;

// A playing instance as its leaf sees it; the voice pipeline's instances implement it and join
// their leaf's chain while they play.
class ISnLeafInstance {
 public:
  virtual CSnRegisteredObj* InstanceGameObject() const = 0;
  virtual uint32_t InstancePlayingId() const = 0;
  // {game object, playing id, MIDI target, channel, note, instance}, as game parameters key it.
  virtual const SnRTPCKey& InstanceKey() const = 0;
  virtual void StopLooping() = 0;
  // One gain factor a node sets on the instance, by key (1 removes it); false when it could not be stored.
  virtual bool SetNodeGainEntry(float value, uint32_t entryKey) = 0;
  virtual void SetPositioningParameter(float value, uint32_t parameterId) = 0;
  virtual void SetEffectBypass(uint32_t values, uint32_t mask) = 0;
  // The node's values changed: the instance computes its parameters again.
  virtual void NodeValuesChanged() = 0;
  // The effect of one of the node's slots changed: the voice makes that insert again.
  virtual void NodeEffectChanged(uint32_t slot) = 0;
  // Stop, pause and resume: the instance matches the request's object and playing id itself.
  virtual void ApplyAction(const SnActionParams& params) = 0;
  virtual void SeekToTime(int32_t milliseconds, bool toNearestMarker) = 0;
  virtual void SeekToFraction(float fraction, bool toNearestMarker) = 0;
  virtual void ParameterChanged(const SnParamChange& change) = 0;
  // The run-time gain of the nodes above (a muted bus, background music), 1 for none.
  virtual void SetGainFactor(float gain) = 0;
  // The source the instance plays, when its leaf has several (motion sources); null when unknown.
  virtual const CSnSourceDesc* InstanceSource() const { return nullptr; }

  // The leaf's chain links both ways: a voice that ends leaves it without a walk over the others.
  ISnLeafInstance* m_pNextOfLeaf = nullptr;
  ISnLeafInstance* m_pPreviousOfLeaf = nullptr;

 protected:
  ~ISnLeafInstance() = default;
};

class CSnLeafNode : public CSnPropertyNode {
 public:
  CSnLeafNode(uint32_t id) : CSnPropertyNode(id, false) {}
  ~CSnLeafNode() override;
  CSnLeafNode* AsLeaf() final { return this; }

  // The loop count (property 58) with its random offset, rounded to the nearest whole count.
  uint16_t GetLoopCount() const;

  // The instance chain; an instance leaves before it is destroyed.
  void AttachInstance(ISnLeafInstance* instance);
  void DetachInstance(ISnLeafInstance* instance);
  ISnLeafInstance* FirstInstance() const { return m_instances; }

  // Stop, pause and resume go to every instance; a seek to those of its object and playing id.
  void ExecuteAction(const SnActionParams& params) override;
  void DeliverParameterChange(const SnParamChange& change) override;
  // The instances of the game object (null: all) take the gain.
  void ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) override;
  void StopLooping(CSnRegisteredObj* gameObject, uint32_t playingId) override;
  void SetInstanceGainEntry(CSnRegisteredObj* gameObject, float value, uint32_t entryKey) override;
  void DeliverPositioningParameter(float value, uint32_t parameterId, CSnRegisteredObj* gameObject,
                                   const SnInstanceExclusions* exclusions) override;
  void ForEachInstance(const SnRTPCKey& key, SnLeafInstanceVisitor visit, void* context) override;
  void DeliverEffectBypass(CSnRegisteredObj* gameObject, uint32_t values, uint32_t mask,
                           const SnInstanceExclusions* exclusions) override;
  void ValuesChanged() override;
  void EffectSlotChanged(uint32_t slot) override;

 private:
  // Calls `tell` for each instance of the object (null: any) and playing id (0: any) that the
  // exclusions let through; an instance may leave the chain while it is told.
  template <typename Tell>
  void ForMatching(CSnRegisteredObj* gameObject, uint32_t playingId, const SnInstanceExclusions* exclusions,
                   Tell&& tell);

  ISnLeafInstance* m_instances = nullptr;
};

}  // namespace SN
