// Switch containers: their payload, the plays of a value's children and the fades of a value change.
#include "SoundEngine/Hierarchy/SwitchContainer.h"

#include <functional>

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnSwitchContainer::~CSnSwitchContainer() {
  // A preparation holds a reference on the container: only the engine's end comes here prepared.
  if (m_preparations && g_pStateMgr)
    g_pStateMgr->RemovePreparedListener(SnGameSyncGroupType(m_groupType), m_groupId, this);
  UnsubscribeGroup();
}

void CSnSwitchContainer::BeforeDestroy() {
  // While the links up still hold: each record lowers the activity it raised on the way up.
  DropRecords(nullptr, 0);
  UnsubscribeGroup();
  CSnMultiChildContainer::BeforeDestroy();
}

// ---- payload ----

SNRESULT CSnSwitchContainer::SetInitialValues(const uint8_t* data, uint32_t size) {
  const SNRESULT read = ReadPayload(data, size);
  if (read != SN_Success) DropChildren();
  return read;
}

SNRESULT CSnSwitchContainer::ReadPayload(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const uint8_t* end = data + size;
  const SNRESULT base = ReadBaseParams(cursor, end, false);
  if (base != SN_Success) return base;
  SnBankCursor in(cursor, uint32_t(end - cursor));
  uint8_t type = 0, continuous = 0;
  uint32_t groupId = 0;
  if (!in.Take(type) || !in.Take(groupId) || !in.Take(m_defaultSwitch) || !in.Take(continuous)) {
    SOUND_LOG(Error, "Switch container %u: its group runs past the end of the object", ID());
    return SN_Failure;
  }
  m_continuous = continuous != 0;
  if (type != m_groupType || groupId != m_groupId || !m_subscribed) {
    const SNRESULT subscribed = SubscribeGroup(groupId, type);
    if (subscribed != SN_Success) {
      SOUND_LOG(Error, "Switch container %u: group %u of type %u cannot be followed", ID(), groupId, unsigned(type));
      return subscribed;
    }
  }
  cursor = end - in.Left();
  const SNRESULT children = ReadChildren(cursor, end);
  if (children != SN_Success) return children;
  in = SnBankCursor(cursor, uint32_t(end - cursor));

  // Every count is checked against the bytes left before anything is made for it.
  uint32_t lists = 0;
  if (!in.Take(lists) || uint64_t(lists) * 8 > in.Left()) {
    SOUND_LOG(Error, "Switch container %u: its switch lists run past the end of the object", ID());
    return SN_Failure;
  }
  if (lists && !m_lists.GrowBy(lists)) return SN_Failure;
  for (uint32_t i = 0; i < lists; ++i) {
    uint32_t value = 0, count = 0;
    in.Take(value);
    in.Take(count);
    if (uint64_t(count) * 4 > in.Left()) {
      SOUND_LOG(Error, "Switch container %u: the list of value %u runs past the end of the object", ID(), value);
      return SN_Failure;
    }
    const uint32_t first = m_listIds.Count();
    if (count && !m_listIds.GrowBy(count)) return SN_Failure;
    for (uint32_t c = 0; c < count; ++c) {
      uint32_t childId = 0;
      in.Take(childId);
      for (uint32_t k = first; k < m_listIds.Count(); ++k) {
        if (m_listIds[k] != childId) continue;
        SOUND_LOG(Error, "Switch container %u: child %u is listed twice for value %u", ID(), childId, value);
        return SN_ListedTwice;
      }
      m_listIds.Add(childId);
    }
    m_lists.Add(List{value, first, count});
  }

  uint32_t settings = 0;
  if (!in.Take(settings) || uint64_t(settings) * 14 > in.Left()) {
    SOUND_LOG(Error, "Switch container %u: its child settings run past the end of the object", ID());
    return SN_Failure;
  }
  if (settings && !m_settings.GrowBy(settings)) return SN_Failure;
  for (uint32_t i = 0; i < settings; ++i) {
    ChildSettings entry{};
    uint8_t flagBits = 0, mode = 0;
    in.Take(entry.childId);
    in.Take(flagBits);
    in.Take(mode);
    in.Take(entry.fadeOutMs);
    in.Take(entry.fadeInMs);
    entry.flags = uint8_t(((flagBits & 3) << 3) | (mode & kOnSwitchModeMask));
    if (auto* listed = const_cast<ChildSettings*>(SettingsOf(entry.childId))) {
      listed->fadeOutMs = entry.fadeOutMs;
      listed->fadeInMs = entry.fadeInMs;
    } else {
      m_settings.Add(entry);
    }
  }
  return SN_Success;
}

// ---- the group ----

SNRESULT CSnSwitchContainer::SubscribeGroup(uint32_t groupId, uint8_t type) {
  UnsubscribeGroup();
  if (type != Group_Switch && type != Group_State) return SN_InvalidParameter;
  m_groupId = groupId;
  m_groupType = type;
  if (groupId == 0) return SN_Success;
  SNRESULT result = SN_Failure;
  if (type == Group_Switch && g_pSwitchMgr)
    result = g_pSwitchMgr->SubscribeSwitch(static_cast<ISnSwitchSubscriber*>(this), groupId);
  else if (type == Group_State && g_pStateMgr)
    result = g_pStateMgr->AddStateSubscriber(static_cast<ISnGameSyncSubscriber*>(this), groupId);
  m_subscribed = result == SN_Success;
  return result;
}

void CSnSwitchContainer::UnsubscribeGroup() {
  if (!m_subscribed) return;
  if (g_pSwitchMgr) g_pSwitchMgr->UnsubscribeSwitches(static_cast<ISnSwitchSubscriber*>(this));
  if (g_pStateMgr) g_pStateMgr->RemoveStateSubscriber(static_cast<ISnGameSyncSubscriber*>(this));
  m_subscribed = false;
}

uint32_t CSnSwitchContainer::CurrentValue(const SnRTPCKey& key) const {
  if (m_groupType == Group_State) return g_pStateMgr ? g_pStateMgr->GetCurrentState(m_groupId) : 0;
  return g_pSwitchMgr ? g_pSwitchMgr->GetCurrentSwitch(m_groupId, key) : 0;
}

const uint32_t* CSnSwitchContainer::ListOf(uint32_t value, uint32_t& count) const {
  for (const List& list : const_cast<SnArray<List>&>(m_lists)) {
    if (list.value != value) continue;
    count = list.count;
    return m_listIds.Data() + list.first;
  }
  count = 0;
  return nullptr;
}

const uint32_t* CSnSwitchContainer::ListOrDefault(uint32_t value, uint32_t& count) const {
  const uint32_t* list = ListOf(value, count);
  return list ? list : ListOf(m_defaultSwitch, count);
}

const CSnSwitchContainer::ChildSettings* CSnSwitchContainer::SettingsOf(uint32_t childId) const {
  for (const ChildSettings& entry : const_cast<SnArray<ChildSettings>&>(m_settings))
    if (entry.childId == childId) return &entry;
  return nullptr;
}

// ---- play ----

SNRESULT CSnSwitchContainer::PlayNode(CSnPlayParams& params) {
  SnRTPCKey key;
  key.gameObject = params.gameObject;
  const bool midi = params.midiEvent.CarriesNote();
  if (midi) {
    key.midiChannel = params.midiEvent.channel;
    key.midiNote = params.midiEvent.note;
  }
  const uint32_t value = CurrentValue(key);
  if (m_continuous && !midi) {
    const bool registered =
        !params.gameObject || params.gameObject->AddModifiedNode(SnNodeKey{ID(), IsBus()}) == SN_Success;
    if (!registered || !ActivityUp(3)) {
      if (registered && m_activity) ActivityDown(3);
      return SN_Failure;
    }
    // A change of value plays the children on their own: the performance and the creator of its
    // instances belong to this play only.
    Record record{params, 0};
    record.params.continuousPlaylist = nullptr;
    record.params.instanceCreator = nullptr;
    if (!m_records.InsertAt(RecordsOf(params.gameObject).end, record)) {
      ActivityDown(3);
      return SN_Failure;
    }
    if (params.gameObject) params.gameObject->AddRef();
    // The event lives while the record can still start children under its playing id.
    if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->AddPendingActionRef(params.playingId);
  }
  CSnContinuousPlaylist* playlist = AddPlaylistUse(params);
  const uint32_t useKey = UseKeyOf(playlist);
  uint32_t count = 0;
  const uint32_t* list = ListOrDefault(value, count);
  bool first = true;
  if (CSnRegisteredObj* object = params.gameObject) {
    const SnSwitchPair stored = object->GetNodeSwitchState(ID());
    const uint32_t plays = stored.switchId == value ? stored.extra + 1 : 1;
    first = plays == 1;
    object->SetNodeSwitchState(ID(), SnSwitchPair{value, plays});
  }
  SNRESULT result = SN_Success;
  uint32_t played = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const ChildSettings* settings = SettingsOf(list[i]);
    if (settings && (settings->flags & kFirstPlayOnly) && !first) continue;
    const SNRESULT one = PlayChild(params, useKey, [&](CSnPlayParams& copy) { return PlayNodeOfId(list[i], copy); });
    if (one == SN_Success)
      ++played;
    else if (one != SN_IdNotFound)
      result = one;
  }
  return EndContinuousPlay(params, playlist, played, played ? SN_Success : result);
}

// ---- value changes ----

void CSnSwitchContainer::SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void*) {
  ValueChanged(switchId, key);
}

void CSnSwitchContainer::StateChanged(uint32_t stateId, const SnRTPCKey& key, const void*) {
  ValueChanged(stateId, key);
}

void CSnSwitchContainer::ValueChanged(uint32_t value, const SnRTPCKey& key) {
  if (!m_continuous) return;
  // The plays below may drop the last other reference.
  AddRef();
  if (key.gameObject) {
    ApplyValue(value, key.gameObject);
  } else if (m_records.Count() == 0) {
    if (g_pRegistryMgr) g_pRegistryMgr->ClearNodeSwitchState(ID(), nullptr);
  } else {
    // Records of one object lie together: each object is told once. The lists are looked up once
    // for all of them: the new value's is the same for every object, the old one mostly is.
    ResolvedList newList, oldList;
    Resolve(value, newList);
    for (uint32_t i = 0; i < m_records.Count();) {
      CSnRegisteredObj* object = m_records[i].params.gameObject;
      RecordRange range{i, i};
      while (range.end < m_records.Count() && m_records[range.end].params.gameObject == object) ++range.end;
      // Stops and plays of children leave this container's records as they are.
      if (object) ApplyValue(value, object, &newList, &oldList, &range);
      while (i < m_records.Count() && m_records[i].params.gameObject == object) ++i;
    }
  }
  Release();
}

void CSnSwitchContainer::Resolve(uint32_t value, ResolvedList& out) const {
  out.value = value;
  out.resolved = true;
  out.ids = ListOrDefault(value, out.count);
  out.entries.Clear();
  for (uint32_t i = 0; i < out.count; ++i)
    if (!out.entries.Add(ResolvedEntry{FindChild(out.ids[i]), SettingsOf(out.ids[i])})) break;
}

void CSnSwitchContainer::StopListed(const ResolvedList& list, uint32_t i, CSnRegisteredObj* gameObject) const {
  const ChildSettings* settings = i < list.entries.Count() ? list.entries[i].settings : SettingsOf(list.ids[i]);
  const int32_t fadeMs = settings ? int32_t(settings->fadeOutMs) : 0;
  if (i < list.entries.Count() && list.entries[i].child)
    list.entries[i].child->Stop(gameObject, 0, fadeMs, SnCurve_Linear);
  else
    StopNodeOfId(list.ids[i], gameObject, fadeMs);
}

void CSnSwitchContainer::ApplyValue(uint32_t value, CSnRegisteredObj* gameObject, ResolvedList* newCache,
                                    ResolvedList* oldCache, const RecordRange* known) {
  const SnSwitchPair stored = gameObject->GetNodeSwitchState(ID());
  if (stored.switchId == value) return;
  // The old value without a list played the default switch's children: those are the ones to stop.
  // Nothing stored ({0, 0}): nothing of this container plays for the object. A play stores a count of
  // at least 1, even for the value 0 of a group never set.
  const bool playedBefore = stored.switchId != 0 || stored.extra != 0;
  ResolvedList ownNew, ownOld;
  ResolvedList& newList = newCache ? *newCache : ownNew;
  ResolvedList& oldList = oldCache ? *oldCache : ownOld;
  if (!newList.resolved || newList.value != value) Resolve(value, newList);
  if (!playedBefore) {
    oldList.resolved = false;
  } else if (!oldList.resolved || oldList.value != stored.switchId) {
    Resolve(stored.switchId, oldList);
  }
  const uint32_t* oldIds = playedBefore ? oldList.ids : nullptr;
  const uint32_t oldCount = playedBefore ? oldList.count : 0;
  auto listed = [](const uint32_t* list, uint32_t count, uint32_t id) {
    for (uint32_t i = 0; i < count; ++i)
      if (list[i] == id) return true;
    return false;
  };
  auto settingsOf = [&](const ResolvedList& list, uint32_t i) {
    return i < list.entries.Count() ? list.entries[i].settings : SettingsOf(list.ids[i]);
  };
  for (uint32_t i = 0; i < oldCount; ++i) {
    const ChildSettings* settings = settingsOf(oldList, i);
    if (settings && (settings->flags & kContinuesAcross) && listed(newList.ids, newList.count, oldIds[i])) continue;
    StopListed(oldList, i, gameObject);
  }
  gameObject->ClearNodeSwitchState(ID());
  const RecordRange range = known ? *known : RecordsOf(gameObject);
  for (uint32_t r = range.begin; r < range.end; ++r) {
    for (uint32_t i = 0; i < newList.count; ++i) {
      const ChildSettings* settings = settingsOf(newList, i);
      if (settings && (settings->flags & kContinuesAcross) && listed(oldIds, oldCount, newList.ids[i])) continue;
      CSnPlayParams copy = m_records[r].params;
      copy.transition.durationMs = settings ? int32_t(settings->fadeInMs) : 0;
      copy.transition.shape = SnCurve_Linear;
      // A listed child stays listed under the audio lock the change holds: played without a look-up.
      CSnHierarchyNode* child = i < newList.entries.Count() ? newList.entries[i].child : nullptr;
      const SNRESULT played =
          child ? static_cast<CSnPropertyNode*>(child)->Play(copy) : PlayNodeOfId(newList.ids[i], copy);
      if (played == SN_IdNotFound)
        SOUND_LOG(Error, "Switch container %u: child %u is not loaded", ID(), newList.ids[i]);
    }
  }
  gameObject->SetNodeSwitchState(ID(), SnSwitchPair{value, range.end - range.begin});
}

// ---- actions and game objects ----

CSnSwitchContainer::RecordRange CSnSwitchContainer::RecordsOf(const CSnRegisteredObj* gameObject) const {
  uint32_t low = 0, high = m_records.Count();
  while (low < high) {
    const uint32_t middle = (low + high) / 2;
    if (std::less<>()(m_records[middle].params.gameObject, gameObject))
      low = middle + 1;
    else
      high = middle;
  }
  uint32_t end = low;
  while (end < m_records.Count() && m_records[end].params.gameObject == gameObject) ++end;
  return {low, end};
}

void CSnSwitchContainer::DropRecords(CSnRegisteredObj* gameObject, uint32_t playingId) {
  for (uint32_t i = m_records.Count(); i-- > 0;) {
    const CSnPlayParams& params = m_records[i].params;
    if ((gameObject && params.gameObject != gameObject) || (playingId && params.playingId != playingId)) continue;
    CSnRegisteredObj* object = params.gameObject;
    const uint32_t recordPlayingId = params.playingId;
    m_records.RemoveAt(i);
    ActivityDown(3);
    if (object) object->Release();
    if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->ReleasePendingActionRef(recordPlayingId);
  }
}

void CSnSwitchContainer::ExecuteAction(const SnActionParams& params) {
  if (params.kind == SnActionParams::Stop || params.kind == SnActionParams::Break) {
    DropRecords(params.gameObject, params.playingId);
  } else if (params.kind == SnActionParams::Pause || params.kind == SnActionParams::Resume) {
    for (Record& record : m_records)
      if ((!params.gameObject || record.params.gameObject == params.gameObject) &&
          (!params.playingId || record.params.playingId == params.playingId))
        record.paused = params.kind == SnActionParams::Pause;
  }
  CSnMultiChildContainer::ExecuteAction(params);
}

void CSnSwitchContainer::RemoveChild(CSnHierarchyNode* child) {
  if (child && child->Parent() == this) {
    for (uint32_t i = 0; i < m_settings.Count(); ++i)
      if (m_settings[i].childId == child->ID()) m_settings.RemoveAt(i--);
  }
  CSnMultiChildContainer::RemoveChild(child);
}

void CSnSwitchContainer::DropGameObjectValues(CSnRegisteredObj* gameObject) {
  CSnMultiChildContainer::DropGameObjectValues(gameObject);
  DropRecords(gameObject, 0);
}

// ---- preparation ----

bool CSnSwitchContainer::PreparesBySync() const {
  return SoundEngine::IsInitialized() && SoundEngine::Settings().gameSyncPreparation && g_pStateMgr;
}

SNRESULT CSnSwitchContainer::PrepareList(uint32_t value) {
  uint32_t count = 0;
  const uint32_t* ids = ListOf(value, count);
  for (uint32_t i = 0; i < count; ++i) {
    const SNRESULT result = PrepareNodeData(ids[i]);
    if (result == SN_Success) continue;
    SOUND_LOG(Error, "Switch container %u: child %u of value %u cannot be prepared (%d)", ID(), ids[i], value,
              int(result));
    while (i--) UnprepareNodeData(ids[i]);
    return result;
  }
  return SN_Success;
}

void CSnSwitchContainer::UnprepareList(uint32_t value) {
  uint32_t count = 0;
  const uint32_t* ids = ListOf(value, count);
  for (uint32_t i = 0; i < count; ++i) UnprepareNodeData(ids[i]);
}

void CSnSwitchContainer::UnprepareLists(uint32_t count) {
  for (uint32_t i = 0; i < count && i < m_lists.Count(); ++i)
    if (g_pStateMgr->IsGameSyncValuePrepared(SnGameSyncGroupType(m_groupType), m_groupId, m_lists[i].value))
      UnprepareList(m_lists[i].value);
}

SNRESULT CSnSwitchContainer::PrepareData() {
  if (!PreparesBySync()) return CSnMultiChildContainer::PrepareData();
  if (m_preparations) {
    ++m_preparations;
    return SN_Success;
  }
  const auto type = SnGameSyncGroupType(m_groupType);
  // Without a record of the group nothing can say which values are prepared.
  if (!g_pStateMgr->GetPreparedGameSyncGroup(m_groupId, type)) return SN_InsufficientMemory;
  SNRESULT result = SN_Success;
  uint32_t looked = 0;
  for (; looked < m_lists.Count(); ++looked) {
    const uint32_t value = m_lists[looked].value;
    if (!g_pStateMgr->IsGameSyncValuePrepared(type, m_groupId, value)) continue;
    result = PrepareList(value);
    if (result != SN_Success) break;
  }
  if (result == SN_Success) result = g_pStateMgr->AddPreparedListener(type, m_groupId, this);
  if (result != SN_Success) {
    // The list that failed undid itself; those before it go again.
    UnprepareLists(looked);
    return result;
  }
  m_preparations = 1;
  return SN_Success;
}

void CSnSwitchContainer::UnprepareData() {
  // Prepared by its game-sync values, it lets go by them too, also at Term, where the engine no
  // longer counts as initialised. While the values drive preparation, one never prepared holds nothing.
  if (!m_preparations) {
    if (!PreparesBySync()) CSnMultiChildContainer::UnprepareData();
    return;
  }
  if (--m_preparations) return;
  g_pStateMgr->RemovePreparedListener(SnGameSyncGroupType(m_groupType), m_groupId, this);
  UnprepareLists(m_lists.Count());
}

SNRESULT CSnSwitchContainer::PrepareGameSyncValue(uint32_t valueId, bool prepare) {
  if (!m_preparations) return SN_Success;
  if (!prepare) {
    UnprepareList(valueId);
    return SN_Success;
  }
  return PrepareList(valueId);
}

namespace {

const SnHircKind kSwitchKind = {SnIndex_Nodes, CreateFromPayload<CSnSwitchContainer>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircSwitchType, &kSwitchKind), true);

}  // namespace
}  // namespace SN
