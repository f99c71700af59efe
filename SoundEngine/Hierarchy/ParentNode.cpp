// Parent nodes: the child array, what passes down it, and the actor-mixer's payload.
#include "SoundEngine/Hierarchy/ParentNode.h"

#include "Base/Assert.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Log.h"

namespace SN {

CSnParentNode::~CSnParentNode() {
  // Every child holds a reference on its parent: none can be left.
  ORV_ASSERT(m_children.Count() == 0);
}

SNRESULT CSnParentNode::MayAddChild(const CSnHierarchyNode* child) const {
  if (child->Parent()) return SN_ChildAlreadyHasAParent;
  if (FindChild(child->ID())) return SN_AlreadyListed;
  if (child->ID() == ID()) return SN_CannotAddItself;
  return CheckDepthBelow(child);
}

SNRESULT CSnContainerNode::MayAddChild(const CSnHierarchyNode* child) const {
  if (m_children.Count() >= 0xFFFF) return SN_TooManyChildren;
  switch (child->NodeCategory()) {
    case Category_Sound:
    case Category_Leaf:
    case Category_RandomSequence:
    case Category_Switch:
    case Category_Layer:
      break;
    default:
      return SN_WrongChildKind;
  }
  return CSnParentNode::MayAddChild(child);
}

SNRESULT CSnParentNode::AddChild(CSnHierarchyNode* child) {
  if (!child) return SN_InvalidParameter;
  const SNRESULT allowed = MayAddChild(child);
  if (allowed != SN_Success) return allowed;
  const uint32_t at = LowerBound(child->ID());
  if (!m_childIds.InsertAt(at, child->ID())) return SN_Failure;
  if (!m_children.InsertAt(at, child)) {
    m_childIds.RemoveAt(at);
    return SN_Failure;
  }
  child->SetParent(this);
  return SN_Success;
}

void CSnParentNode::RemoveChild(CSnHierarchyNode* child) {
  if (!child || child->Parent() != this) return;
  const int32_t index = m_children.IndexOf(child);
  if (index >= 0) {
    m_children.RemoveAt(uint32_t(index));
    m_childIds.RemoveAt(uint32_t(index));
  }
  // Drops the child's reference on this node: last, as it may be the last one.
  child->SetParent(nullptr);
}

void CSnParentNode::RemoveChildById(uint32_t childId) {
  if (CSnHierarchyNode* child = FindChild(childId)) RemoveChild(child);
}

uint32_t CSnParentNode::LowerBound(uint32_t childId) const {
  ORV_ASSERT(m_childIds.Count() == m_children.Count());
  // Every play of a container looks its pick up here: halves taken without a branch to mispredict.
  const uint32_t* ids = m_childIds.Data();
  uint32_t count = m_childIds.Count();
  if (count == 0) return 0;
  uint32_t base = 0;
  while (count > 1) {
    const uint32_t half = count / 2;
    base = ids[base + half] < childId ? base + half : base;
    count -= half;
  }
  return base + (ids[base] < childId ? 1u : 0u);
}

CSnHierarchyNode* CSnParentNode::FindChild(uint32_t childId) const {
  const uint32_t at = LowerBound(childId);
  return at < m_childIds.Count() && m_childIds[at] == childId ? m_children[at] : nullptr;
}

CSnHierarchyNode* CSnParentNode::FindNodeAndAddRef(uint32_t id) const {
  if (CSnHierarchyNode* child = FindChild(id)) {
    child->AddRef();
    return child;
  }
  return g_pObjectIndex ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(id, false)) : nullptr;
}

bool CSnParentNode::NodeLoaded(uint32_t id) const {
  if (FindChild(id)) return true;
  CSnHierarchyNode* node = FindNodeAndAddRef(id);
  if (node) node->Release();
  return node != nullptr;
}

SNRESULT CSnParentNode::PlayNodeOfId(uint32_t id, CSnPlayParams& params) const {
  if (CSnHierarchyNode* child = FindChild(id)) return static_cast<CSnPropertyNode*>(child)->Play(params);
  CSnHierarchyNode* node = FindNodeAndAddRef(id);
  if (!node) return SN_IdNotFound;
  const SNRESULT played = static_cast<CSnPropertyNode*>(node)->Play(params);
  node->Release();
  return played;
}

SNRESULT CSnParentNode::StopNodeOfId(uint32_t id, CSnRegisteredObj* gameObject, int32_t fadeMs) const {
  if (CSnHierarchyNode* child = FindChild(id)) {
    child->Stop(gameObject, 0, fadeMs, SnCurve_Linear);
    return SN_Success;
  }
  CSnHierarchyNode* node = FindNodeAndAddRef(id);
  if (!node) return SN_IdNotFound;
  node->Stop(gameObject, 0, fadeMs, SnCurve_Linear);
  node->Release();
  return SN_Success;
}

void CSnParentNode::ListSubtree(SnSubtreeEntry* out, uint32_t capacity, uint32_t& count, uint32_t depth) const {
  for (uint32_t i = 0; i < m_children.Count() && count < capacity; ++i) {
    CSnHierarchyNode* child = m_children[i];
    out[count++] = {child->ID(), ID(), depth};
    if (auto* parent = dynamic_cast<const CSnParentNode*>(child)) parent->ListSubtree(out, capacity, count, depth + 1);
  }
}

bool CSnParentNode::PlaysBelow() const {
  return m_activity && (m_activity->playing > 0 || m_activity->activeChildren > 0);
}

bool CSnParentNode::IsActiveChild(const CSnHierarchyNode* child) const {
  return m_activity && m_activity->children.IndexOf(const_cast<CSnHierarchyNode*>(child)) >= 0;
}

void CSnParentNode::ExecuteAction(const SnActionParams& params) {
  ApplyToOwnTransitions(params);
  // Nothing plays below an idle parent, but a child may hold transitions of its own.
  if (!PlaysBelow() && !params.ownTransitions) return;
  // A child may leave the array while it hears the action: walk by index from the end.
  for (uint32_t i = m_children.Count(); i-- > 0;) {
    if (i >= m_children.Count()) continue;
    m_children[i]->ExecuteAction(params);
  }
}

void CSnParentNode::DeliverParameterChange(const SnParamChange& change) {
  for (uint32_t i = 0; i < m_children.Count(); ++i) {
    CSnHierarchyNode* child = m_children[i];
    if (!IsActiveChild(child) || !child->HandlesParameter(change.parameterId)) continue;
    child->DeliverParameterChange(change);
  }
}

void CSnParentNode::ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) {
  for (uint32_t i = 0; i < m_children.Count(); ++i)
    if (IsActiveChild(m_children[i])) static_cast<CSnPropertyNode*>(m_children[i])->ApplyGainFactor(gameObject, gain);
}

void CSnParentNode::DeliverPositioningParameter(float value, uint32_t parameterId, CSnRegisteredObj* gameObject,
                                                const SnInstanceExclusions* exclusions) {
  ForActiveChildren(kHasPositioning, [&](CSnHierarchyNode& child) {
    child.DeliverPositioningParameter(value, parameterId, gameObject, exclusions);
  });
}

void CSnParentNode::DeliverEffectBypass(CSnRegisteredObj* gameObject, uint32_t values, uint32_t mask,
                                        const SnInstanceExclusions* exclusions) {
  ForActiveChildren(kOverridesEffects, [&](CSnHierarchyNode& child) {
    child.DeliverEffectBypass(gameObject, values, mask, exclusions);
  });
}

void CSnParentNode::EffectSlotChanged(uint32_t slot) {
  ForActiveChildren(0, [slot](CSnHierarchyNode& child) { child.EffectSlotChanged(slot); });
}

void CSnParentNode::ValuesChanged() {
  ForActiveChildren(0, [](CSnHierarchyNode& child) { child.ValuesChanged(); });
}

SNRESULT CSnParentNode::PrepareData() {
  for (uint32_t i = 0; i < m_children.Count(); ++i) {
    const SNRESULT result = m_children[i]->PrepareData();
    if (result == SN_Success) continue;
    while (i-- > 0) m_children[i]->UnprepareData();
    return result;
  }
  return SN_Success;
}

void CSnParentNode::UnprepareData() {
  for (uint32_t i = 0; i < m_children.Count(); ++i) m_children[i]->UnprepareData();
}

void CSnParentNode::DropChildren() {
  while (m_children.Count()) RemoveChild(m_children[m_children.Count() - 1]);
}

SNRESULT CSnParentNode::ReadChildren(const uint8_t*& cursor, const uint8_t* end) {
  SnBankCursor in(cursor, uint32_t(end - cursor));
  uint32_t count = 0;
  if (!in.Take(count)) {
    SOUND_LOG(Error, "Node %u: the child count runs past the end of the object", ID());
    return SN_Failure;
  }
  if (uint64_t(count) * sizeof(uint32_t) > in.Left()) {
    SOUND_LOG(Error, "Node %u: %u children run past the end of the object", ID(), count);
    return SN_Failure;
  }
  if (count && !m_children.GrowBy(count)) return SN_InsufficientMemory;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t childId = 0;
    in.Take(childId);
    const SNRESULT added = AddChildById(childId);
    if (added != SN_Success) {
      SOUND_LOG(Error, "Node %u: child %u cannot be added (%d)", ID(), childId, int(added));
      return added;
    }
  }
  cursor = end - in.Left();
  return SN_Success;
}

SNRESULT CSnActorMixer::SetInitialValues(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const SNRESULT read = ReadBaseParams(cursor, data + size, false);
  if (read != SN_Success) return read;
  const SNRESULT children = ReadChildren(cursor, data + size);
  if (children != SN_Success) DropChildren();
  return children;
}

SNRESULT CSnActorMixer::PlayNode(CSnPlayParams& params) {
  // It only groups what it holds: an action that plays it gives a playing id and no sound, which the
  // bank's author learns here.
  SOUND_LOG_REPEATING_ABOUT(Warning, ID(), "Playing id %u: node %u is an actor-mixer, which plays nothing",
                            params.playingId, ID());
  return SNRESULT(0);
}

namespace {

const SnHircKind kActorMixerKind = {SnIndex_Nodes, CreateFromPayload<CSnActorMixer>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircActorMixerType, &kActorMixerKind), true);

}  // namespace
}  // namespace SN
