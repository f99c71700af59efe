// How sounds, parents and switch containers tell what they can stream (the pinning of events' files).
#include "SoundEngine/Hierarchy/StreamGather.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/ParentNode.h"
#include "SoundEngine/Hierarchy/SoundNode.h"
#include "SoundEngine/Hierarchy/SwitchContainer.h"

namespace SN {

void CSnSoundNode::GatherStreamedSources(SnStreamGather& gather, bool current) const {
  if (m_source.StorageType() != CSnSourceDesc::Storage_Streamed) return;
  (current ? gather.current : gather.others).Add(m_source);
}

void CSnParentNode::GatherStreamedSources(SnStreamGather& gather, bool current) const {
  SN_ASSERT_AUDIO_LOCK_HELD();
  for (const CSnHierarchyNode* child : m_children) child->GatherStreamedSources(gather, current);
}

void CSnSwitchContainer::GatherStreamedSources(SnStreamGather& gather, bool current) const {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!m_lists.Count()) return;
  // A change of the group seen from an unrelated branch (flag already cleared) need not be followed.
  if (current && m_groupId != 0) gather.groups.Add(SnGatheredGroup{m_groupType, m_groupId});
  const uint32_t value = m_groupId != 0 && gather.changedGroup == m_groupId
                             ? gather.changedValue
                             : CurrentValue(SnRTPCKey::ForObject(gather.gameObject));
  uint32_t count = 0;
  const uint32_t* chosen = ListOrDefault(value, count);
  for (const List& list : m_lists) {
    const uint32_t* ids = m_listIds.Data() + list.first;
    const bool isChosen = ids == chosen;
    for (uint32_t i = 0; i < list.count; ++i)
      if (const CSnHierarchyNode* child = FindChild(ids[i])) child->GatherStreamedSources(gather, current && isChosen);
  }
}

}  // namespace SN
