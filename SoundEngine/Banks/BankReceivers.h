// What the queued bank messages ask of the bank records and of the stream-cache pinning of events.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnLoadedBank;

class ISnBankRecordReceiver {
 public:
  virtual ~ISnBankRecordReceiver() = default;
  // Once no voice uses the bank's data any more: the record's own end.
  virtual void FinishBankRecord(CSnLoadedBank* bank) = 0;
  // The message was never read: the record's load reference goes without its callback.
  virtual void DropBankRecord(CSnLoadedBank*) {}
  // An audio pass has ended on this thread, which holds the audio lock no more: what bank calls
  // made inside it left to be done outside it is done now.
  virtual void AfterPass() {}
};

class ISnStreamCachePinMgr {
 public:
  virtual ~ISnStreamCachePinMgr() = default;
  virtual void PinEvent(CSnIndexedObject* event, uint32_t gameObject, uint8_t activePriority,
                        uint8_t inactivePriority) = 0;
  virtual void UnpinEvent(CSnIndexedObject* event, uint32_t gameObject) = 0;
  // Any thread, with the event referenced for the call: how much of its pinned streams is buffered.
  virtual SNRESULT GetBufferStatus(CSnIndexedObject* event, float& percentBuffered, bool& cachePinnedMemoryFull) = 0;
  // The event goes: every pin of it, whatever its game object, goes as an unpin would take it.
  virtual void RemoveEventPins(CSnIndexedObject*) {}
};

inline ISnBankRecordReceiver*& BankRecordReceiver() { return ServiceSlot<ISnBankRecordReceiver>(); }
inline ISnStreamCachePinMgr*& StreamCachePinMgr() { return ServiceSlot<ISnStreamCachePinMgr>(); }

}  // namespace SN
