// What a mix bus asks of the hierarchy objects behind it: its bus node (volume, positioning, effect
// slots, mixer, dynamic-range window, media ids), the effect definitions in the node's slots, and the
// directory that finds a bus node by id. The hierarchy implements these and installs the directory;
// until then a voice's buses are the ones its pipeline names. Audio thread, under the global audio
// lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnHierarchyNode;
class CSnModulatorInstanceList;

// An effect or mixer definition as a bank loaded it: the plug-in's registry key and its parameters.
class ISnEffectDefinition {
 public:
  virtual void AddRef() = 0;
  virtual void Release() = 0;
  virtual uint32_t EffectId() const = 0;
  virtual uint32_t PluginKey() const = 0;
  // The bank's parameter object; the bus clones it for its own slot. Null when the bank gave none.
  virtual ISnPluginParam* Params() = 0;
  // The clone follows the definition's game parameters and modulators while subscribed: their values
  // for the key's objects (a bus's copy: the global ones). The modulators made for it join
  // `modulators` when given, so that a voice's pause and release reach them.
  virtual void SubscribeParams(ISnPluginParam* clone, const SnRTPCKey& key, CSnModulatorInstanceList* modulators) = 0;
  virtual void UnsubscribeParams(ISnPluginParam* clone) = 0;
  // Media of this definition's bank: lets a bank that goes find the buses still using it.
  virtual const void* BankData() const = 0;
  // The media id the definition gives its plug-in under `index`; 0xFFFFFFFF when none.
  virtual uint32_t MediaId(uint32_t index) const {
    (void)index;
    return 0xFFFFFFFFu;
  }

 protected:
  ~ISnEffectDefinition() = default;
};

// The bus's positioning: percent pans and centre, the 3D flag, whether the node enables it.
struct SnBusPositioning {
  bool enabled = false;
  float panLeftRight = 0.5f;
  float panFrontRear = 1.0f;
  float centrePercent = 100.0f;
  bool threeD = false;
};

// One read of a window setting: the value and whether it changed since the last read.
struct SnBusWindowRead {
  float value;
  bool changed;
};

class ISnMixBusNode {
 public:
  virtual void AddRef() = 0;
  virtual void Release() = 0;
  virtual uint32_t BusId() const = 0;
  // The parent bus node, or null for a top bus. No reference is taken.
  virtual ISnMixBusNode* ParentBus() const = 0;
  // Set: mixes into the main output; clear: a device-specific bus.
  virtual bool IsMainOutputBus() const = 0;
  // The node's own channel configuration, 0 when it takes its parent's.
  virtual SnChannelConfig ChannelConfig() const = 0;
  // A mix bus is made (true) or goes (false) for this node; false to the first refuses it.
  virtual bool AcceptMixBus(bool made) = 0;
  // The node as a target of its game parameters; null for objects that have none.
  virtual CSnHierarchyNode* TargetNode() = 0;

  // The node's effective volume in dB; reading it marks the node's volume as taken.
  virtual float EffectiveVolume() = 0;
  virtual bool BypassAllEffects() const = 0;
  virtual SnBusPositioning Positioning() const = 0;
  // The effect of slot 0 to 3 with a reference for the caller and its bypass bit; null for none.
  virtual ISnEffectDefinition* Effect(uint32_t slot, bool& bypass) = 0;
  // The mixer plug-in's definition with a reference for the caller; null for none.
  virtual ISnEffectDefinition* Mixer() = 0;
  // Media id of (slot, index) among the node's effects (slot 4: the mixer); 0xFFFFFFFF for none.
  virtual uint32_t MediaId(uint32_t slot, uint32_t index) const = 0;
  // The node's category (12: buses whose effects are told so) and flag byte (0x40 second hierarchy).
  virtual uint32_t Category() const = 0;
  virtual uint32_t Flags() const = 0;
  virtual bool IsMasterBus() const = 0;

  // Dynamic-range window: the threshold (dB), ratio and release time (s) with the dB-domain bit.
  virtual bool HasDynamicRangeWindow() const = 0;
  virtual SnBusWindowRead ReadWindowThreshold() = 0;
  virtual SnBusWindowRead ReadWindowRatio() = 0;
  virtual SnBusWindowRead ReadWindowRelease(bool& dbDomain) = 0;
  // The window's top (dB, absolute) for this frame.
  virtual void WindowMoved(float topDb) = 0;

 protected:
  ~ISnMixBusNode() = default;
};

// Finds a bus node by id with a reference for the caller; null when no such bus is loaded.
class ISnBusNodeDirectory {
 public:
  virtual ~ISnBusNodeDirectory() = default;
  virtual ISnMixBusNode* FindBusNode(uint32_t busId) = 0;
  // The mix node of the bus a node's motion voices mix in (its nearest motion output, else the
  // default one), with a reference the caller releases; null when there is none.
  virtual ISnMixBusNode* FindMotionBus(const CSnHierarchyNode* node) = 0;
  // Whether the node or one above it sends to a motion bus as well.
  virtual bool HasMotionOutput(const CSnHierarchyNode* node) = 0;
};
inline ISnBusNodeDirectory*& BusNodeDirectory() { return ServiceSlot<ISnBusNodeDirectory>(); }

}  // namespace SN
