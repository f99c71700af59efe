// What the queued mixing messages ask of hierarchy nodes and buses: effects in slots, mixers, and
// the sound node made around a source plug-in.
#pragma once

#include <cstdint>

#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnRegisteredObj;

class ISnNodeReceiver {
 public:
  virtual ~ISnNodeReceiver() = default;
  // Nodes that carry no effects ignore it.
  virtual void SetNodeEffect(CSnIndexedObject* node, uint32_t slot, uint32_t effectId) = 0;
  virtual void SetBusMixer(CSnIndexedObject* bus, uint32_t mixerId) = 0;
  // Plays (once built) the sound node whose source is the plug-in of `classId`; its node id is the
  // class id with bit 31 set.
  virtual void PlaySourcePlugin(uint32_t classId, CSnRegisteredObj* object, uint32_t playingId) = 0;
  virtual void StopSourcePlugin(uint32_t classId, uint32_t playingId) = 0;
};

inline ISnNodeReceiver*& NodeReceiver() { return ServiceSlot<ISnNodeReceiver>(); }

// The hierarchy's own node receiver, bus defaults, directories and node preparation go into the
// slots that are empty at Init, and leave them at Term.
void InstallHierarchyReceivers();
void UninstallHierarchyReceivers();

}  // namespace SN
