// Instance limits: the playing objects a node (or a game object below it, or the whole engine)
// allows at once, ordered by priority, and the choice of the one that gives way. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"

namespace SN {

class CSnRegisteredObj;
class CSnHierarchyNode;

// What a limiter needs of a playing object (the playback instance answers it).
class ISnLimitedPlayback {
 public:
  virtual float Priority() const = 0;
  virtual uint32_t SequenceNumber() const = 0;
  virtual CSnRegisteredObj* GameObject() const = 0;
  // Whether it takes a place under the limit (a virtual or stopping voice does not).
  virtual bool CountsAgainstLimit() const = 0;
  virtual bool IsStopping() const = 0;
  // Reason 1: a node or per-object limit; 2: the engine-wide limit.
  virtual void StopForLimit(uint32_t reason) = 0;
  virtual void GoVirtualForLimit() = 0;

 protected:
  ~ISnLimitedPlayback() = default;
};

// The result of a limit check that refused the new play.
constexpr SNRESULT SN_LimitReached = SNRESULT(80);
constexpr float kCountingPriority = 101.0f;

class CSnPlaybackLimiter {
 public:
  enum Kind : uint8_t { Kind_Node = 1, Kind_Bus = 2, Kind_EngineWide = 3 };

  // `node` may be null (the engine-wide limiter). With a non-zero maximum and a node that decides its
  // own limit, the limiter follows parameter 9 of the node as its maximum.
  CSnPlaybackLimiter(CSnHierarchyNode* node, uint16_t maximum, bool oldestFirst, bool goVirtual, Kind kind);
  ~CSnPlaybackLimiter();
  CSnPlaybackLimiter(const CSnPlaybackLimiter&) = delete;
  CSnPlaybackLimiter& operator=(const CSnPlaybackLimiter&) = delete;

  bool Add(ISnLimitedPlayback* instance);
  void Remove(ISnLimitedPlayback* instance);
  void PriorityChanged(ISnLimitedPlayback* instance) { m_instances.Move(instance); }
  void SetOldestFirst(bool oldestFirst) { m_instances.SetOldestFirst(oldestFirst); }
  void SetGoVirtual(bool goVirtual) { m_goVirtual = goVirtual; }
  void SetMaximum(uint16_t maximum) { m_maximum = maximum; }

  // Once per audio frame: the instances past the maximum stop or go virtual.
  void ApplyLimit();

  // Whether one more play of `priority` may start under `maximum`: SN_Success, with `giveWay` the
  // instance to stop (or null when the new play may simply start), or SN_LimitReached when the new
  // play is the one that loses.
  static SNRESULT EnforceForNewInstance(const SnPriorityArray<ISnLimitedPlayback>& instances, uint16_t maximum,
                                        float priority, CSnRegisteredObj* gameObject, bool oldestFirst, bool goVirtual,
                                        ISnLimitedPlayback*& giveWay);
  SNRESULT EnforceForNewInstance(float priority, CSnRegisteredObj* gameObject, ISnLimitedPlayback*& giveWay) const {
    return EnforceForNewInstance(m_instances, m_maximum, priority, gameObject, m_instances.OldestFirst(), m_goVirtual,
                                 giveWay);
  }

  uint16_t Maximum() const { return m_maximum; }
  bool GoesVirtual() const { return m_goVirtual; }
  bool OldestFirst() const { return m_instances.OldestFirst(); }
  Kind LimiterKind() const { return m_kind; }
  const SnPriorityArray<ISnLimitedPlayback>& Instances() const { return m_instances; }
  bool FollowsParameter() const { return m_link.Target() != nullptr; }

 private:
  class MaximumLink final : public CSnTargetLink {
   public:
    explicit MaximumLink(CSnPlaybackLimiter* owner) : CSnTargetLink(SnRTPCKey{}), m_owner(owner) {}
    void SetParamValue(uint32_t parameterId, float value, float delta) override;
    uint64_t WantedMask() const override { return ParameterBit(9); }

   private:
    CSnPlaybackLimiter* m_owner;
  };

  MaximumLink m_link;
  SnPriorityArray<ISnLimitedPlayback> m_instances;
  uint16_t m_maximum;
  uint8_t m_goVirtual;
  Kind m_kind;
};

// The voice manager's lists of limiters that hold instances, walked once per frame. Until the voice
// manager keeps them, a linked limiter is only counted.
namespace LimiterLists {
void Link(CSnPlaybackLimiter* limiter);
void Unlink(CSnPlaybackLimiter* limiter);
uint32_t LinkedCount(CSnPlaybackLimiter::Kind kind);
}  // namespace LimiterLists

}  // namespace SN
