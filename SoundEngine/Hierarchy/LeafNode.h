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
  // Stop, pause and resume: the instance matches the request's object and playing id itself.
  virtual void ApplyAction(const SnActionParams& params) = 0;
  virtual void SeekToTime(int32_t milliseconds, bool toNearestMarker) = 0;
  virtual void SeekToFraction(float fraction, bool toNearestMarker) = 0;
  virtual void ParameterChanged(const SnParamChange& change) = 0;
  // The run-time gain of the nodes above (a muted bus, background music), 1 for none.
  virtual void SetGainFactor(float gain) = 0;
  // The source the instance plays, when its leaf has several (motion sources); null when unknown.
  virtual const CSnSourceDesc* InstanceSource() const { return nullptr; }

  ISnLeafInstance* m_pNextOfLeaf = nullptr;

 protected:
  ~ISnLeafInstance() = default;
};

class CSnLeafNode : public CSnPropertyNode {
 public:
  CSnLeafNode(uint32_t id) : CSnPropertyNode(id, false) {}
  ~CSnLeafNode() override;

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

 private:
  ISnLeafInstance* m_instances = nullptr;
};

}  // namespace SN
