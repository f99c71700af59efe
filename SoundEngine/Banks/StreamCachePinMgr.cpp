// The pinned-event table: each pin's files in two priorities, gathered again when a followed switch
// or state changes, and the buffering of a pinned event's files.
#include "SoundEngine/Banks/StreamCachePinMgr.h"

#include <algorithm>
#include <cfloat>
#include <mutex>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/StreamGather.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

// One followed group of one pin: a change of its value for the pin's object gathers the files again.
struct CSnStreamCachePinMgr::Watcher final : ISnSwitchSubscriber, ISnGameSyncSubscriber {
  Watcher(CSnIndexedObject* e, CSnRegisteredObj* o, uint32_t t, uint32_t g) : event(e), object(o), type(t), groupId(g) {}
  void SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void*) override {
    if (key.gameObject == object) Instance().GroupChanged(event, object, groupId, switchId);
  }
  void StateChanged(uint32_t stateId, const SnRTPCKey&, const void*) override {
    Instance().GroupChanged(event, object, groupId, stateId);
  }
  void TriggerReceived(uint32_t) override {}
  void Unsubscribe() {
    if (type == 0 && g_pSwitchMgr) g_pSwitchMgr->UnsubscribeSwitches(this);
    if (type == 1 && g_pStateMgr) g_pStateMgr->RemoveStateSubscriber(this);
  }

  CSnIndexedObject* event;
  CSnRegisteredObj* object;
  uint32_t type;
  uint32_t groupId;
};

namespace {

uint32_t ObjectId(const CSnRegisteredObj* object) { return object ? object->ID() : kPinAllObjects; }

ISnStreamMgr* Streams() { return ISnStreamMgr::m_pStreamMgr; }

bool Contains(const SnArray<uint32_t>& ids, uint32_t id) { return std::binary_search(ids.begin(), ids.end(), id); }

// A source pinned by file id; sources without a file of their own are not cached by it.
bool HasOwnFile(const CSnSourceDesc& desc) {
  return desc.fileId != 0xFFFFFFFFu &&
         !(desc.flags & (CSnSourceDesc::kNoOwnFile | CSnSourceDesc::kNoOwnFileAlt | CSnSourceDesc::kExternalByName));
}

// The id joins the sorted set only when the stream manager pinned it: an id in the set is one pin
// to give back, and a pin never taken must not take away somebody else's.
void PinInto(SnArray<uint32_t>& set, const CSnSourceDesc& desc, uint8_t priority) {
  ISnStreamMgr* streams = Streams();
  if (!streams) return;
  const uint32_t* at = std::lower_bound(set.begin(), set.end(), desc.fileId);
  const uint32_t index = uint32_t(at - set.begin());
  if (!set.InsertAt(index, desc.fileId)) return;
  SnFileLookupFlags flags{0,
                          desc.codecId >> 16,
                          0,
                          nullptr,
                          (desc.flags & CSnSourceDesc::kLanguageFile) != 0,
                          (desc.flags & CSnSourceDesc::kStreamOption) != 0,
                          (desc.flags & (CSnSourceDesc::kNoOwnFile | CSnSourceDesc::kNoOwnFileAlt))
                              ? -1
                              : int32_t(desc.fileId)};
  if (streams->PinFileInCache(desc.fileId, &flags, int8_t(priority)) != SN_Success) {
    SOUND_LOG(Warning, "Stream-cache pin: file %u could not be pinned", desc.fileId);
    set.RemoveAt(index);
  }
}

void UnpinAll(SnArray<uint32_t>& set, uint8_t priority) {
  if (ISnStreamMgr* streams = Streams())
    for (uint32_t id : set) streams->UnpinFileFromCache(id, int8_t(priority));
  set.Term();
}

}  // namespace

CSnStreamCachePinMgr& CSnStreamCachePinMgr::Instance() {
  static CSnStreamCachePinMgr manager;
  return manager;
}

uint32_t CSnStreamCachePinMgr::LowerBound(uint32_t objectId, const CSnIndexedObject* event, bool& found) const {
  auto before = [](const Entry& entry, std::pair<uint32_t, const CSnIndexedObject*> key) {
    const uint32_t id = ObjectId(entry.gameObject);
    return id != key.first ? id < key.first : std::less<const CSnIndexedObject*>()(entry.event, key.second);
  };
  const Entry* at = std::lower_bound(m_entries.begin(), m_entries.end(), std::make_pair(objectId, event), before);
  found = at != m_entries.end() && ObjectId(at->gameObject) == objectId && at->event == event;
  return uint32_t(at - m_entries.begin());
}

CSnStreamCachePinMgr::Record* CSnStreamCachePinMgr::FindRecord(CSnIndexedObject* event, uint32_t gameObject) {
  bool found = false;
  const uint32_t at = LowerBound(gameObject, event, found);
  return found ? m_entries[at].record : nullptr;
}

void CSnStreamCachePinMgr::PinEvent(CSnIndexedObject* event, uint32_t gameObject, uint8_t activePriority,
                                    uint8_t inactivePriority) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!event) return;
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  CSnRegisteredObj* object = nullptr;
  if (gameObject != kPinAllObjects) {
    object = g_pRegistryMgr ? g_pRegistryMgr->Find(gameObject) : nullptr;
    if (!object) {
      SOUND_LOG(Error, "PinEventInStreamCache: game object %u is not registered", gameObject);
      return;
    }
  }
  bool found = false;
  const uint32_t at = LowerBound(gameObject, event, found);
  if (found) {
    Record& record = *m_entries[at].record;
    if (record.firstPriority == activePriority && record.secondPriority == inactivePriority) return;
    if (ISnStreamMgr* streams = Streams()) {
      for (uint32_t id : record.files[record.live][0])
        streams->UpdatePinPriority(id, int8_t(activePriority), int8_t(record.firstPriority));
      for (uint32_t id : record.files[record.live][1])
        streams->UpdatePinPriority(id, int8_t(inactivePriority), int8_t(record.secondPriority));
    }
    record.firstPriority = activePriority;
    record.secondPriority = inactivePriority;
    return;
  }
  Record* record = PoolNew<Record>(g_DefaultPoolId);
  if (!record) return;
  if (!m_entries.InsertAt(at, Entry{object, event, record})) {
    PoolDelete(g_DefaultPoolId, record);
    return;
  }
  if (object) object->AddRef();
  record->firstPriority = activePriority;
  record->secondPriority = inactivePriority;
  Gather(*record, event, object, 0, 0);
}

void CSnStreamCachePinMgr::Gather(Record& record, CSnIndexedObject* event, CSnRegisteredObj* object,
                                  uint32_t changedGroup, uint32_t changedValue) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnStreamGather gather;
  gather.gameObject = object;
  gather.changedGroup = changedGroup;
  gather.changedValue = changedValue;
  static_cast<const CSnEvent*>(event)->ForEachPlayAction(gather);

  // Files still wanted are pinned once more before the old sets let go of theirs.
  const uint8_t next = record.live ^ 1;
  SnArray<uint32_t>& first = record.files[next][0];
  SnArray<uint32_t>& second = record.files[next][1];
  for (const CSnSourceDesc& desc : gather.current)
    if (HasOwnFile(desc) && !Contains(first, desc.fileId)) PinInto(first, desc, record.firstPriority);
  for (const CSnSourceDesc& desc : gather.others)
    if (HasOwnFile(desc) && !Contains(first, desc.fileId) && !Contains(second, desc.fileId))
      PinInto(second, desc, record.secondPriority);
  UnpinAll(record.files[record.live][0], record.firstPriority);
  UnpinAll(record.files[record.live][1], record.secondPriority);
  record.live = next;
  for (const SnGatheredGroup& group : gather.groups) Watch(record, event, object, group.type, group.groupId);
}

void CSnStreamCachePinMgr::Watch(Record& record, CSnIndexedObject* event, CSnRegisteredObj* object, uint32_t type,
                                 uint32_t groupId) {
  for (const Watcher* watcher : record.watchers)
    if (watcher->type == type && watcher->groupId == groupId) return;
  Watcher* watcher = PoolNew<Watcher>(g_DefaultPoolId, event, object, type, groupId);
  if (!watcher) return;
  if (!record.watchers.Add(watcher)) {
    PoolDelete(g_DefaultPoolId, watcher);
    return;
  }
  SNRESULT subscribed = SN_Failure;
  if (type == 0 && g_pSwitchMgr) subscribed = g_pSwitchMgr->SubscribeSwitch(watcher, groupId);
  if (type == 1 && g_pStateMgr) subscribed = g_pStateMgr->AddStateSubscriber(watcher, groupId);
  if (subscribed != SN_Success)
    SOUND_LOG(Warning, "Stream-cache pin of event %u: group %u cannot be followed", event->ID(), groupId);
}

void CSnStreamCachePinMgr::GroupChanged(CSnIndexedObject* event, CSnRegisteredObj* pinObject, uint32_t groupId,
                                        uint32_t value) {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  if (Record* record = FindRecord(event, ObjectId(pinObject))) Gather(*record, event, pinObject, groupId, value);
}

void CSnStreamCachePinMgr::Remove(uint32_t index) {
  const Entry entry = m_entries[index];
  Record& record = *entry.record;
  UnpinAll(record.files[record.live][0], record.firstPriority);
  UnpinAll(record.files[record.live][1], record.secondPriority);
  for (Watcher* watcher : record.watchers) {
    watcher->Unsubscribe();
    PoolDelete(g_DefaultPoolId, watcher);
  }
  PoolDelete(g_DefaultPoolId, entry.record);
  m_entries.RemoveAt(index);
  // Last: the object may go with this reference when it was unregistered meanwhile.
  if (entry.gameObject) entry.gameObject->Release();
}

void CSnStreamCachePinMgr::UnpinEvent(CSnIndexedObject* event, uint32_t gameObject) {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  bool found = false;
  const uint32_t at = LowerBound(gameObject, event, found);
  if (found) Remove(at);
}

void CSnStreamCachePinMgr::RemoveEventPins(CSnIndexedObject* event) {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  for (uint32_t i = m_entries.Count(); i-- > 0;)
    if (m_entries[i].event == event) Remove(i);
}

void CSnStreamCachePinMgr::RemoveAll() {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  while (m_entries.Count()) Remove(m_entries.Count() - 1);
  m_entries.Term();
}

SNRESULT CSnStreamCachePinMgr::GetBufferStatus(CSnIndexedObject* event, float& percentBuffered,
                                               bool& cachePinnedMemoryFull) {
  percentBuffered = 0.0f;
  cachePinnedMemoryFull = false;
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  const Record* record = FindRecord(event, kPinAllObjects);
  ISnStreamMgr* streams = Streams();
  if (!record || !streams) return SN_Failure;
  float least = FLT_MAX;
  bool answered = false;
  for (const SnArray<uint32_t>& set : record->files[record->live])
    for (uint32_t id : set) {
      float percent = 0.0f;
      bool full = false;
      if (streams->GetPinnedFileBufferStatus(id, percent, full) != SN_Success) continue;
      answered = true;
      least = std::min(least, percent);
      if (full) cachePinnedMemoryFull = true;
    }
  if (!answered) return SN_Failure;
  percentBuffered = least;
  return SN_Success;
}

uint32_t CSnStreamCachePinMgr::PinCount() {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  return m_entries.Count();
}

uint32_t CSnStreamCachePinMgr::FileCount(CSnIndexedObject* event, uint32_t gameObject, bool first) {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  const Record* record = FindRecord(event, gameObject);
  return record ? record->files[record->live][first ? 0 : 1].Count() : 0;
}

uint32_t CSnStreamCachePinMgr::FileAt(CSnIndexedObject* event, uint32_t gameObject, bool first, uint32_t index) {
  std::lock_guard<Platform::ReentrantLock> lock(m_lock);
  const Record* record = FindRecord(event, gameObject);
  if (!record) return 0;
  const SnArray<uint32_t>& set = record->files[record->live][first ? 0 : 1];
  return index < set.Count() ? set[index] : 0;
}

}  // namespace SN
