// Target links and the sorted target set of a node.
#include "SoundEngine/Hierarchy/NodeTargets.h"

#include "SoundEngine/Hierarchy/HierarchyNode.h"

namespace SN {

namespace {
CSnTargetLink*& LinkListHead() {
  static CSnTargetLink* head = nullptr;
  return head;
}

uint64_t SortField(const SnRTPCKey& key, uint32_t level) {
  const uint64_t field = key.Field(level);
  if (level == 3) return (field + 1) % 32;
  if (level == 4) return (field + 1) % 256;
  return field;
}
}  // namespace

CSnTargetLink::CSnTargetLink(const SnRTPCKey& key) : m_key(key) {
  CSnTargetLink*& head = LinkListHead();
  m_next = head;
  if (m_next) m_next->m_link = &m_next;
  m_link = &head;
  head = this;
}

CSnTargetLink::~CSnTargetLink() {
  Detach();
  // Every playing voice holds a link: leaving must not walk the others.
  *m_link = m_next;
  if (m_next) m_next->m_link = m_link;
}

CSnTargetLink* CSnTargetLink::First() { return LinkListHead(); }

void CSnTargetLink::Attach(CSnHierarchyNode* node) {
  if (!node || m_target) return;
  m_target = node;
  if (!CSnRTPCTargetSet::NoneLive()) node->AddTarget(this, WantedMask(), 0, true);
}

void CSnTargetLink::Detach() {
  if (m_motionBus) {
    if (!CSnRTPCTargetSet::NoneLive()) m_motionBus->RemoveTarget(this, true);
    m_motionBus->Release();
    m_motionBus = nullptr;
  }
  if (!m_target) return;
  if (!CSnRTPCTargetSet::NoneLive()) m_target->RemoveTarget(this, true);
  m_target = nullptr;
}

void CSnTargetLink::Reattach() {
  CSnHierarchyNode* node = m_target;
  CSnHierarchyNode* bus = m_motionBus;
  if (bus) bus->AddRef();  // Detach lets its own go
  Detach();
  Attach(node);
  if (bus) {
    AttachMotionBus(bus, m_motionParameters);
    bus->Release();
  }
}

void CSnTargetLink::AttachMotionBus(CSnHierarchyNode* bus, bool asMotionParameters) {
  if (!bus || m_motionBus) return;
  bus->AddRef();
  m_motionBus = bus;
  m_motionParameters = asMotionParameters;
  if (!CSnRTPCTargetSet::NoneLive()) bus->AddTarget(this, WantedMask(), 0, true);
}

uint32_t CSnTargetLink::ParameterFrom(const CSnHierarchyNode& node, uint32_t parameterId) const {
  // Motion buses are on no sound's own road: a change there is the sound's motion.
  if (!m_motionParameters || node.NodeCategory() != CSnHierarchyNode::Category_BusKind10) return parameterId;
  if (parameterId == 0) return 29;
  if (parameterId == 2) return 31;
  return parameterId;
}

bool CSnRTPCTargetSet::KeyLess(const SnRTPCKey& a, const SnRTPCKey& b) {
  for (uint32_t level = 0; level < SnRTPCKey::kLevels; ++level) {
    const uint64_t fa = SortField(a, level), fb = SortField(b, level);
    if (fa != fb) return fa < fb;
  }
  return false;
}

bool CSnRTPCTargetSet::HasEntry(const CSnTargetLink* link) const {
  // The link may be gone already: only its address is compared.
  for (uint32_t i = 0; i < m_entries.Count(); ++i)
    if (m_entries[i].link == link) return true;
  return false;
}

int32_t CSnRTPCTargetSet::IndexOf(const CSnTargetLink* link) const {
  // Among the entries of its key, found by the order: a voice that leaves does not walk the others.
  for (uint32_t i = LowerBound(link->Key()); i < m_entries.Count() && !KeyLess(link->Key(), m_entries[i].key); ++i)
    if (m_entries[i].link == link) return int32_t(i);
  return -1;
}

uint32_t CSnRTPCTargetSet::LowerBound(const SnRTPCKey& key) const {
  uint32_t low = 0, high = m_entries.Count();
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    if (KeyLess(m_entries[mid].key, key))
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

uint64_t CSnRTPCTargetSet::CommonMask() const {
  uint64_t common = ~uint64_t(0);
  for (uint32_t i = 0; i < m_entries.Count(); ++i) common &= m_entries[i].mask;
  return common;
}

bool CSnRTPCTargetSet::SetEntry(CSnTargetLink* link, uint64_t mask) {
  const int32_t index = IndexOf(link);
  if (index >= 0) {
    m_entries[uint32_t(index)].mask = mask;
  } else {
    uint32_t at = LowerBound(link->Key());
    while (at < m_entries.Count() && !KeyLess(link->Key(), m_entries[at].key)) ++at;
    if (!m_entries.InsertAt(at, Entry{link->Key(), mask, link})) return false;
    ++m_changes;
  }
  return true;
}

bool CSnRTPCTargetSet::RemoveEntry(CSnTargetLink* link) {
  const int32_t index = IndexOf(link);
  if (index < 0) return false;
  m_entries.RemoveAt(uint32_t(index));
  ++m_changes;
  return true;
}

}  // namespace SN
