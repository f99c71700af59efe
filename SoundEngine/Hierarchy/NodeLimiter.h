// A node's playback limiter: the voice manager's limiter of its instances, linked into the voice
// manager's active list of its kind while it holds any, and following parameter 9 of the node that
// decides its maximum. Audio thread, or the bank thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"

namespace SN {

class CSnHierarchyNode;

// Instances are not counted for it: the priority that takes any place freed by a virtual voice.
constexpr float kCountingPriority = 101.0f;
constexpr uint8_t kStopReasonNodeLimit = 1;

class CSnNodeLimiter {
 public:
  enum Kind : uint8_t { Kind_Node = 1, Kind_Bus = 2 };

  // With a non-zero maximum and a node that decides its own limit (it enforces it, has no parent, or
  // is a bus below no bus), the maximum follows the node's parameter 9.
  CSnNodeLimiter(CSnHierarchyNode* node, uint16_t maximum, bool olderFirst, bool useVirtualBehaviour, Kind kind);
  // Whether a limiter made now for the node with this maximum would follow the node's parameter 9.
  static bool WouldFollow(const CSnHierarchyNode* node, uint16_t maximum);
  ~CSnNodeLimiter();
  CSnNodeLimiter(const CSnNodeLimiter&) = delete;
  CSnNodeLimiter& operator=(const CSnNodeLimiter&) = delete;

  // The first instance links the limiter into the voice manager's list, the last one out unlinks it.
  bool Add(CSnPlaybackInstance* instance);
  void Remove(CSnPlaybackInstance* instance);

  CSnPlaybackLimiter& Limiter() { return m_limiter; }
  const CSnPlaybackLimiter& Limiter() const { return m_limiter; }
  Kind LimiterKind() const { return m_kind; }
  bool FollowsParameter() const { return m_link.Target() != nullptr; }

 private:
  class MaximumLink final : public CSnTargetLink {
   public:
    explicit MaximumLink(CSnPlaybackLimiter* limiter) : CSnTargetLink(SnRTPCKey{}), m_limiter(limiter) {}
    void SetParamValue(uint32_t parameterId, float value, float delta) override;
    uint64_t WantedMask() const override { return ParameterBit(9); }

   private:
    CSnPlaybackLimiter* m_limiter;
  };
  void Link();
  void Unlink();

  CSnPlaybackLimiter m_limiter;
  MaximumLink m_link;
  Kind m_kind;
};

}  // namespace SN
