// Node limiters: the voice manager's list membership and the maximum that follows parameter 9.
#include "SoundEngine/Hierarchy/NodeLimiter.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"

namespace SN {

void CSnNodeLimiter::MaximumLink::SetParamValue(uint32_t parameterId, float value, float) {
  if (parameterId != 9) return;
  // A count: saturated to the 10 bits a node keeps, NaN and negatives as 0 (no limit).
  const float clamped = value > 0.0f ? (value < 1023.0f ? value : 1023.0f) : 0.0f;
  m_limiter->SetMaximum(uint16_t(clamped + 0.5f));
}

CSnNodeLimiter::CSnNodeLimiter(CSnHierarchyNode* node, uint16_t maximum, bool olderFirst, bool useVirtualBehaviour,
                               Kind kind)
    : m_limiter(maximum, olderFirst, useVirtualBehaviour), m_link(&m_limiter), m_kind(kind) {
  if (WouldFollow(node, maximum)) m_link.Attach(node);
}

bool CSnNodeLimiter::WouldFollow(const CSnHierarchyNode* node, uint16_t maximum) {
  if (!node || maximum == 0) return false;
  return (node->FlagsA() & CSnHierarchyNode::kEnforcesOwnLimit) || !node->Parent() ||
         (node->IsBus() && !node->Parent()->IsBus());
}

CSnNodeLimiter::~CSnNodeLimiter() {
  if (m_limiter.Count()) Unlink();
}

void CSnNodeLimiter::Link() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (m_kind == Kind_Bus)
    VoiceManager::LinkActiveLimiterKind2(&m_limiter);
  else
    VoiceManager::LinkActiveLimiterKind1(&m_limiter);
}

void CSnNodeLimiter::Unlink() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (m_kind == Kind_Bus)
    VoiceManager::UnlinkActiveLimiterKind2(&m_limiter);
  else
    VoiceManager::UnlinkActiveLimiterKind1(&m_limiter);
}

bool CSnNodeLimiter::Add(CSnPlaybackInstance* instance) {
  if (!m_limiter.Add(instance)) return false;
  if (m_limiter.Count() == 1) Link();
  return true;
}

void CSnNodeLimiter::Remove(CSnPlaybackInstance* instance) {
  if (m_limiter.Remove(instance) && m_limiter.Count() == 0) Unlink();
}

}  // namespace SN
