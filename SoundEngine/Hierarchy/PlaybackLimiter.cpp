// Playback limiters: ordered instances, the per-frame limit and the choice of who gives way.
#include "SoundEngine/Hierarchy/PlaybackLimiter.h"

#include "SoundEngine/Hierarchy/HierarchyNode.h"

namespace SN {

void CSnPlaybackLimiter::MaximumLink::SetParamValue(uint32_t parameterId, float value, float) {
  if (parameterId != 9) return;
  // A count: saturated to the 10 bits a node keeps, NaN and negatives as 0 (no limit).
  const float clamped = value > 0.0f ? (value < 1023.0f ? value : 1023.0f) : 0.0f;
  m_owner->SetMaximum(uint16_t(clamped + 0.5f));
}

CSnPlaybackLimiter::CSnPlaybackLimiter(CSnHierarchyNode* node, uint16_t maximum, bool oldestFirst, bool goVirtual,
                                       Kind kind)
    : m_link(this), m_instances(oldestFirst), m_maximum(maximum), m_goVirtual(goVirtual), m_kind(kind) {
  if (!node || maximum == 0) return;
  const bool decides = (node->FlagsA() & CSnHierarchyNode::kEnforcesOwnLimit) || !node->Parent() ||
                       (node->IsBus() && !node->Parent()->IsBus());
  if (decides) m_link.Attach(node);
}

CSnPlaybackLimiter::~CSnPlaybackLimiter() {
  if (m_instances.Count()) LimiterLists::Unlink(this);
  m_instances.Term();
}

bool CSnPlaybackLimiter::Add(ISnLimitedPlayback* instance) {
  if (!m_instances.Insert(instance)) return false;
  if (m_instances.Count() == 1) LimiterLists::Link(this);
  return true;
}

void CSnPlaybackLimiter::Remove(ISnLimitedPlayback* instance) {
  if (m_instances.Remove(instance) && m_instances.Count() == 0) LimiterLists::Unlink(this);
}

void CSnPlaybackLimiter::ApplyLimit() {
  if (m_maximum == 0 || m_instances.Count() <= m_maximum) return;
  uint32_t counted = 0;
  const uint32_t reason = m_kind == Kind_EngineWide ? 2 : 1;
  for (uint32_t i = 0; i < m_instances.Count(); ++i) {
    ISnLimitedPlayback* instance = m_instances[i];
    if (!instance->CountsAgainstLimit() || instance->IsStopping()) continue;
    if (counted < m_maximum) {
      ++counted;
      continue;
    }
    if (m_goVirtual)
      instance->GoVirtualForLimit();
    else
      instance->StopForLimit(reason);
  }
}

SNRESULT CSnPlaybackLimiter::EnforceForNewInstance(const SnPriorityArray<ISnLimitedPlayback>& instances,
                                                   uint16_t maximum, float priority, CSnRegisteredObj* gameObject,
                                                   bool oldestFirst, bool, ISnLimitedPlayback*& giveWay) {
  giveWay = nullptr;
  if (maximum == 0) return SN_Success;
  // The last instance in the limiter's order that still takes a place is the one that would go.
  ISnLimitedPlayback* candidate = nullptr;
  for (uint32_t i = instances.Count(); i-- > 0 && !candidate;) {
    ISnLimitedPlayback* instance = instances[i];
    if (gameObject && instance->GameObject() != gameObject) continue;
    if (instance->CountsAgainstLimit() && !instance->IsStopping()) candidate = instance;
  }
  if (!candidate) return SN_LimitReached;
  if (priority != priority) priority = 50.0f;
  const float held = SnPriorityArray<ISnLimitedPlayback>::SortPriority(candidate);
  // Equal priorities: the newest loses when the oldest come first, else the oldest gives way.
  if (priority < held || (priority == held && oldestFirst)) return SN_LimitReached;
  giveWay = candidate;
  return SN_Success;
}

namespace LimiterLists {
namespace {
SnArray<CSnPlaybackLimiter*>& ListOf(CSnPlaybackLimiter::Kind kind) {
  static SnArray<CSnPlaybackLimiter*> lists[3];
  return lists[kind == CSnPlaybackLimiter::Kind_Bus ? 1 : kind == CSnPlaybackLimiter::Kind_Node ? 0 : 2];
}
}  // namespace

void Link(CSnPlaybackLimiter* limiter) { ListOf(limiter->LimiterKind()).Add(limiter, 8); }

void Unlink(CSnPlaybackLimiter* limiter) {
  SnArray<CSnPlaybackLimiter*>& list = ListOf(limiter->LimiterKind());
  const int32_t index = list.IndexOf(limiter);
  if (index >= 0) list.RemoveAt(uint32_t(index));
  if (list.Count() == 0) list.Term();
}

uint32_t LinkedCount(CSnPlaybackLimiter::Kind kind) { return ListOf(kind).Count(); }
}  // namespace LimiterLists

}  // namespace SN
