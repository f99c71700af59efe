// Container layers: their payload, the children they attach to and the crossfade gains they give.
#include "SoundEngine/Hierarchy/ContainerLayer.h"

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Log.h"

namespace SN {

CSnContainerLayer::~CSnContainerLayer() {
  if (g_pRTPCMgr) {
    for (uint32_t bit = 0; bit < 64; ++bit)
      if (m_mask & (uint64_t(1) << bit)) g_pRTPCMgr->RemoveSubscription(Subscriber(), bit);
    if (m_crossfadeId) g_pRTPCMgr->RemoveSubscription(Subscriber(), kCrossfadeProperty);
  }
  for (Entry& entry : m_entries) {
    Detach(entry);
    FreeCurve(entry);
  }
}

SNRESULT CSnContainerLayer::SetInitialValues(SnBankCursor& in) {
  uint16_t curves = 0;
  if (!in.Take(curves)) return SN_Failure;
  for (uint32_t c = 0; c < curves; ++c) {
    uint32_t rtpcId = 0, curveId = 0;
    uint8_t type = 0, accumulation = 0, parameterId = 0, scaling = 0;
    uint16_t pointCount = 0;
    if (!in.Take(rtpcId) || !in.Take(type) || !in.Take(accumulation) || !in.Take(parameterId) || !in.Take(curveId) ||
        !in.Take(scaling) || !in.Take(pointCount))
      return SN_Failure;
    const uint8_t* bytes = in.TakeBytes(uint32_t(pointCount) * uint32_t(sizeof(SnRTPCGraphPoint)));
    if (!bytes) return SN_Failure;
    if (parameterId >= 64) {
      SOUND_LOG(Error, "Layer %u: curve for parameter %u, beyond the 64 a layer follows", m_id, unsigned(parameterId));
      return SN_InvalidParameter;
    }
    SnArray<SnRTPCGraphPoint> points;
    if (pointCount && !points.GrowBy(pointCount)) return SN_InsufficientMemory;
    if (pointCount) memcpy(static_cast<void*>(points.begin()), bytes, sizeof(SnRTPCGraphPoint) * pointCount);
    if (!g_pRTPCMgr) return SN_Failure;
    const SNRESULT added = g_pRTPCMgr->AddCurveSubscription(Subscriber(), rtpcId, type, accumulation, parameterId,
                                                            curveId, scaling, points.begin(), pointCount, SnRTPCKey{},
                                                            SnSubscription_Layer, true);
    if (added != SN_Success) return added;
    m_mask |= uint64_t(1) << parameterId;
  }
  uint32_t crossfadeId = 0, children = 0;
  uint8_t crossfadeType = 0;
  if (!in.Take(crossfadeId) || !in.Take(crossfadeType) || !in.Take(children)) return SN_Failure;
  SetCrossfadeRTPC(crossfadeId, crossfadeType);
  if (uint64_t(children) * 8 > in.Left()) return SN_Failure;
  if (children && !m_entries.GrowBy(children)) return SN_InsufficientMemory;
  for (uint32_t i = 0; i < children; ++i) {
    uint32_t childId = 0, pointCount = 0;
    if (!in.Take(childId) || !in.Take(pointCount) || uint64_t(pointCount) * sizeof(SnRTPCGraphPoint) > in.Left())
      return SN_Failure;
    const uint8_t* bytes = in.TakeBytes(pointCount * uint32_t(sizeof(SnRTPCGraphPoint)));
    SnArray<SnRTPCGraphPoint> points;
    if (pointCount && !points.GrowBy(pointCount)) return SN_InsufficientMemory;
    if (pointCount) memcpy(static_cast<void*>(points.begin()), bytes, sizeof(SnRTPCGraphPoint) * pointCount);
    const SNRESULT set = SetChildCurve(childId, pointCount ? points.begin() : nullptr, pointCount);
    if (set != SN_Success) {
      SOUND_LOG(Error, "Layer %u: child %u cannot be attached (%d)", m_id, childId, int(set));
      return set;
    }
  }
  return SN_Success;
}

CSnContainerLayer::Entry* CSnContainerLayer::FindEntry(uint32_t childId) const {
  for (Entry& entry : const_cast<SnArray<Entry>&>(m_entries))
    if (entry.childId == childId) return &entry;
  return nullptr;
}

CSnHierarchyNode* CSnContainerLayer::AttachedChild(uint32_t childId) const {
  const Entry* entry = FindEntry(childId);
  return entry ? entry->child : nullptr;
}

SNRESULT CSnContainerLayer::Attach(Entry& entry, CSnHierarchyNode* joining) {
  if (entry.child) return SN_Success;
  // A child joining as it loads is not in the index yet: it comes by pointer.
  CSnHierarchyNode* child = joining;
  if (child)
    child->AddRef();
  else if (g_pObjectIndex)
    child = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(entry.childId, false));
  // Not loaded yet: it attaches when its owner takes it.
  if (!child) return SN_Success;
  const CSnHierarchyNode* parent = child->Parent();
  // The attachment holds no reference: the child holds one on the owner, which owns the layer, and
  // a child that goes leaves its owner first, which detaches it.
  child->Release();
  if (!m_owner || !parent) return SN_Success;
  if (parent != m_owner) return SN_Failure;
  entry.child = child;
  child->ValuesChanged();
  return SN_Success;
}

void CSnContainerLayer::Detach(Entry& entry) {
  if (!entry.child) return;
  CSnHierarchyNode* child = entry.child;
  entry.child = nullptr;
  child->ValuesChanged();
}

void CSnContainerLayer::FreeCurve(Entry& entry) {
  if (entry.curve.points) MemoryMgr::Free(g_DefaultPoolId, entry.curve.points);
  entry.curve.points = nullptr;
  entry.curve.pointCount = 0;
}

void CSnContainerLayer::SetOwner(CSnParentNode* owner) {
  for (Entry& entry : m_entries) Detach(entry);
  m_owner = owner;
  if (!owner) return;
  for (Entry& entry : m_entries) Attach(entry);
}

SNRESULT CSnContainerLayer::SetChildCurve(uint32_t childId, const SnRTPCGraphPoint* points, uint32_t count) {
  Entry* entry = FindEntry(childId);
  if (!entry) {
    entry = m_entries.Add(Entry{childId, nullptr, {}}, 4);
    if (!entry) return SN_InsufficientMemory;
    const SNRESULT attached = Attach(*entry);
    if (attached != SN_Success) {
      m_entries.RemoveAt(m_entries.Count() - 1);
      return attached;
    }
  }
  FreeCurve(*entry);
  if (points && count) {
    auto* copy = static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * count));
    if (!copy) return SN_InsufficientMemory;
    memcpy(static_cast<void*>(copy), points, sizeof(SnRTPCGraphPoint) * count);
    entry->curve.points = copy;
    entry->curve.pointCount = count;
  }
  if (entry->child) entry->child->ValuesChanged();
  return SN_Success;
}

SNRESULT CSnContainerLayer::RemoveChild(uint32_t childId) {
  for (uint32_t i = 0; i < m_entries.Count(); ++i) {
    if (m_entries[i].childId != childId) continue;
    Detach(m_entries[i]);
    FreeCurve(m_entries[i]);
    m_entries.RemoveAt(i);
    return SN_Success;
  }
  return SN_IdNotFound;
}

void CSnContainerLayer::ChildJoined(CSnHierarchyNode* child) {
  if (Entry* entry = FindEntry(child->ID())) Attach(*entry, child);
}

void CSnContainerLayer::ChildLeft(uint32_t childId) {
  if (Entry* entry = FindEntry(childId)) Detach(*entry);
}

SNRESULT CSnContainerLayer::SetCrossfadeRTPC(uint32_t rtpcId, uint8_t rtpcType) {
  if (rtpcId == m_crossfadeId && rtpcType == m_crossfadeType) return SN_Success;
  if (m_crossfadeId && g_pRTPCMgr) g_pRTPCMgr->RemoveSubscription(Subscriber(), kCrossfadeProperty);
  m_crossfadeId = rtpcId;
  m_crossfadeType = rtpcType;
  SNRESULT result = SN_Success;
  if (rtpcId) {
    // The crossfade value reaches the layer through a curve that gives it back as it is.
    static const SnRTPCGraphPoint kIdentity[] = {
        {-1.0e7f, -1.0e7f, SnCurve_Linear}, {0.0f, 0.0f, SnCurve_Linear}, {1.0e7f, 1.0e7f, SnCurve_Linear}};
    result = g_pRTPCMgr ? g_pRTPCMgr->AddCurveSubscription(Subscriber(), rtpcId, rtpcType, 0, kCrossfadeProperty, 0, 0,
                                                           kIdentity, 3, SnRTPCKey{}, SnSubscription_Layer, true)
                        : SN_Failure;
    if (result != SN_Success) m_crossfadeId = 0;
  }
  for (Entry& entry : m_entries)
    if (entry.child) entry.child->ValuesChanged();
  return result;
}

bool CSnContainerLayer::CrossfadeGain(uint32_t childId, const SnRTPCKey& key, float& gain) const {
  const Entry* entry = FindEntry(childId);
  if (!m_crossfadeId || !entry || !entry->curve.points || !g_pRTPCMgr) return false;
  float value = 0.0f;
  bool objectValue = false;
  if (key.gameObject && g_pRTPCMgr->HasExactValue(m_crossfadeId, SnRTPCKey::ForObject(key.gameObject))) {
    objectValue = g_pRTPCMgr->GetValue(m_crossfadeId, SnRTPCKey::ForObject(key.gameObject), value);
  } else {
    g_pRTPCMgr->GetValue(m_crossfadeId, SnRTPCKey{}, value);
  }
  gain = entry->curve.Evaluate(value);
  return gain != 1.0f || objectValue;
}

void CSnContainerLayer::ApplyToParams(const CSnHierarchyNode& child, SnSoundParams& params, uint32_t mask,
                                      const SnRTPCKey& key) const {
  if (!m_mask || !g_pRTPCMgr || AttachedChild(child.ID()) != &child) return;
  void* subscriber = const_cast<CSnContainerLayer*>(this)->Subscriber();
  auto value = [&](uint32_t parameter) {
    return (m_mask & (uint64_t(1) << parameter)) ? g_pRTPCMgr->EvaluateSubscription(subscriber, parameter, key) : 0.0f;
  };
  // The game parameters of a node's volume, pitch, low-pass and high-pass.
  if (mask & SnParamGroup_Volume) params.volume += value(0);
  if (mask & SnParamGroup_Pitch) params.pitch += value(2);
  if (mask & SnParamGroup_LowPass) params.lowPass += value(3);
  if (mask & SnParamGroup_HighPass) params.highPass += value(4);
}

bool CSnContainerLayer::AcceptsRTPCUpdate() {
  const SnNodeActivity* activity = m_owner ? m_owner->Activity() : nullptr;
  return activity && (activity->playing > 0 || activity->activeChildren > 0);
}

void CSnContainerLayer::SetCrossfadeValue(const SnRTPCKey& key, float value) {
  for (Entry& entry : m_entries) {
    if (!entry.child || !entry.curve.points) continue;
    const float gain = entry.curve.Evaluate(value);
    if (gain == 1.0f && !key.gameObject) continue;
    static_cast<CSnPropertyNode*>(entry.child)->ApplyGainFactor(key.gameObject, gain);
  }
}

void CSnContainerLayer::UpdateInstanceProperty(uint32_t, uint32_t, float, const SnRTPCKey&, const void*) {
  // The curve's value enters a voice's parameters as they are gathered (ApplyToParams); a change
  // comes as the new value, not as a step from the old, so the playing voices gather theirs again.
  for (Entry& entry : m_entries)
    if (entry.child && entry.child->Activity()) entry.child->ValuesChanged();
}

}  // namespace SN
