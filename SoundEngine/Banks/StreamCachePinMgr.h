// Keeps the streamed files of chosen events pinned in the stream manager's cache, following the
// switch and state groups that decide which files an event can play.
// Lock order: GlobalAudioLock(), then the pin lock. Pin, unpin and the watchers run on the audio
// thread under the audio lock; the buffer-status query runs on the caller's thread.
#pragma once

#include <cstdint>

#include "Platform/Threading.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnRegisteredObj;

constexpr uint32_t kPinAllObjects = 0xFFFFFFFFu;

class CSnStreamCachePinMgr final : public ISnStreamCachePinMgr {
 public:
  static CSnStreamCachePinMgr& Instance();

  // A pin that exists already takes the new priorities and pins nothing new; for kPinAllObjects
  // the values of no object in particular decide.
  void PinEvent(CSnIndexedObject* event, uint32_t gameObject, uint8_t activePriority,
                uint8_t inactivePriority) override;
  void UnpinEvent(CSnIndexedObject* event, uint32_t gameObject) override;
  // The pin made for every object: the least buffered share of its files. SN_Failure when the event
  // is not pinned or none of its files answers.
  SNRESULT GetBufferStatus(CSnIndexedObject* event, float& percentBuffered, bool& cachePinnedMemoryFull) override;
  void RemoveEventPins(CSnIndexedObject* event) override;
  // Every pin goes, before the registry and the stream manager do.
  void RemoveAll();

  uint32_t PinCount();
  // The files of the pin in the first or the second priority, sorted; for tests and tools.
  uint32_t FileCount(CSnIndexedObject* event, uint32_t gameObject, bool first);
  uint32_t FileAt(CSnIndexedObject* event, uint32_t gameObject, bool first, uint32_t index);

  // A watched group changed for a game object (null: the global value).
  void GroupChanged(CSnIndexedObject* event, CSnRegisteredObj* pinObject, uint32_t groupId, uint32_t value);

 private:
  struct Watcher;
  struct Record {
    SnArray<Watcher*> watchers;
    // Two generations of the two sets: a gather fills the other one, then lets the old one go.
    SnArray<uint32_t> files[2][2];
    uint8_t live = 0;
    uint8_t firstPriority = 0;
    uint8_t secondPriority = 0;
  };
  struct Entry {
    CSnRegisteredObj* gameObject;  // null: every object
    CSnIndexedObject* event;
    Record* record;
  };

  // The first entry not ordered before (object id, event); `found` when it is that pin.
  uint32_t LowerBound(uint32_t objectId, const CSnIndexedObject* event, bool& found) const;
  Record* FindRecord(CSnIndexedObject* event, uint32_t gameObject);
  void Gather(Record& record, CSnIndexedObject* event, CSnRegisteredObj* object, uint32_t changedGroup,
              uint32_t changedValue);
  void Watch(Record& record, CSnIndexedObject* event, CSnRegisteredObj* object, uint32_t type, uint32_t groupId);
  // Unpins, unwatches, frees and removes the entry at `index`.
  void Remove(uint32_t index);

  Platform::ReentrantLock m_lock;
  SnArray<Entry> m_entries;
};

}  // namespace SN
