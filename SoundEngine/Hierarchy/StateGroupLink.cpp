// A node's state-group link: state-to-property-set mapping, refresh and transitions.
#include "SoundEngine/Hierarchy/StateGroupLink.h"

#include <atomic>

#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/StateProperties.h"
#include "SoundEngine/Log.h"

namespace SN {

namespace {
// Links come and go as banks load and unload, on the audio thread or the bank thread.
std::atomic<uint32_t>& SyncedLinks() {
  static std::atomic<uint32_t> count{0};
  return count;
}
}  // namespace

CSnStateGroupLink::CSnStateGroupLink(CSnHierarchyNode* owner, uint32_t groupId, uint8_t syncType)
    : CSnStateUser(this), m_owner(owner), m_groupId(groupId), m_syncType(syncType) {
  if (m_syncType) SyncedLinks().fetch_add(1, std::memory_order_relaxed);
}

CSnStateGroupLink::~CSnStateGroupLink() {
  if (m_syncType) SyncedLinks().fetch_sub(1, std::memory_order_relaxed);
  for (Mapping& mapping : m_mappings) mapping.properties->Release();
}

void CSnStateGroupLink::SetSyncType(uint8_t type) {
  if (bool(type) != bool(m_syncType)) {
    if (type)
      SyncedLinks().fetch_add(1, std::memory_order_relaxed);
    else
      SyncedLinks().fetch_sub(1, std::memory_order_relaxed);
  }
  m_syncType = type;
}

uint32_t CSnStateGroupLink::SyncedCount() { return SyncedLinks().load(std::memory_order_relaxed); }

SNRESULT CSnStateGroupLink::SetStateProperties(uint32_t propertySetId, uint32_t stateId) {
  CSnIndexedObject* found =
      g_pObjectIndex ? g_pObjectIndex->List(SnIndex_StateProperties).FindAndAddRef(propertySetId) : nullptr;
  auto* properties = static_cast<CSnStateProperties*>(found);
  for (uint32_t i = 0; i < m_mappings.Count(); ++i) {
    if (m_mappings[i].stateId != stateId) continue;
    if (m_mappings[i].properties == properties) {
      properties->Release();  // the mapping holds its own
      return SN_Success;
    }
    m_mappings[i].properties->Release();
    m_mappings.RemoveAt(i);
    break;
  }
  if (!properties) {
    SOUND_LOG(Error, "Node %u: state %u of group %u names state properties %u, which are not loaded", m_owner->ID(),
              stateId, m_groupId, propertySetId);
    return SN_StatePropertiesNotFound;
  }
  if (!m_mappings.Add(Mapping{stateId, properties})) {
    properties->Release();
    return SN_InsufficientMemory;
  }
  return SN_Success;
}

const SnStatePropertySet* CSnStateGroupLink::FindStatePropertySet(uint32_t stateId) {
  for (const Mapping& mapping : m_mappings) {
    if (mapping.stateId != stateId) continue;
    mapping.properties->FillStateSet(m_scratch);
    return &m_scratch;
  }
  return nullptr;
}

void CSnStateGroupLink::Refresh() {
  const SnStatePropertySet* set = FindStatePropertySet(CurrentState());
  if (!set) {
    // A state without a set drives every value to 0.
    EndTransitions();
    for (uint32_t index = 0; index < kPropertyCount; ++index) EntryAt(index).value = 0.0f;
    return;
  }
  for (uint32_t i = 0; i < set->count; ++i) {
    const uint32_t index = set->entries[i].index;
    Entry& entry = EntryAt(index);
    if (entry.transition) {
      entry.transition->Retarget(index, set->entries[i].value, 0, SnCurve_Linear, SnValueMeaning_Absolute);
      continue;
    }
    entry.present = true;
    entry.value = set->entries[i].value;
  }
}

void CSnStateGroupLink::EndTransitions() {
  for (uint32_t index = 0; index < kPropertyCount; ++index) {
    Entry& entry = EntryAt(index);
    if (!entry.transition) continue;
    CSnTransition* transition = entry.transition;
    entry.transition = nullptr;
    transition->RemoveTarget(this);
    m_owner->ActivityDown(3);
  }
}

void CSnStateGroupLink::PauseTransitions(bool pause) {
  for (uint32_t index = 0; index < kPropertyCount; ++index)
    if (CSnTransition* transition = EntryAt(index).transition) pause ? transition->Pause() : transition->Resume();
}

SNRESULT CSnStateGroupLink::ActivityUp(uint32_t mask) { return m_owner->ActivityUp(mask) ? SN_Success : SN_Failure; }

void CSnStateGroupLink::NotifyStatePropertiesChanged() { m_owner->ValuesChanged(); }

void CSnStateGroupLink::TransitionUpdate(uint32_t kind, float value, bool done) {
  const bool running = kind < kPropertyCount && EntryAt(kind).transition;
  CSnStateUser::TransitionUpdate(kind, value, done);
  m_owner->ValuesChanged();
  // A running transition counted as one activity of the node.
  if (done && running) m_owner->ActivityDown(3);
}

}  // namespace SN
