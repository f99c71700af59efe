// What a bank load asks of the bus hierarchy: the default motion bus is set aside while a bank is read
// (a bank that brings a default motion bus of its own keeps it), and the master buses are let go before
// a bank makes a new one.
#pragma once

#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnIndexedObject;

class ISnBusDefaults {
 public:
  virtual ~ISnBusDefaults() = default;
  // The default motion bus with a reference of its own, its global left empty; null when none.
  virtual CSnIndexedObject* TakeDefaultMotionBus() = 0;
  // The global becomes `bus` when it is empty and `bus` is not null; the caller's reference stays its own.
  virtual void RestoreDefaultMotionBus(CSnIndexedObject* bus) = 0;
  // Both master-bus globals are cleared.
  virtual void ClearMasterBuses() = 0;
};

inline ISnBusDefaults*& BusDefaults() { return ServiceSlot<ISnBusDefaults>(); }

}  // namespace SN
