// The base of every node of the sound hierarchy: id-indexed and reference counted, linked by id to a
// parent, an output bus and a secondary output; holds the constant property bundle, the effect
// slots, the activity record, the state-group links and the game-parameter targets it serves.
//
// Threads: references are taken and dropped on any thread under the node's index-list lock. Nodes
// are built on the bank thread under GlobalAudioLock(); everything else is the audio thread's.
// Lock order: GlobalAudioLock(), then an index-list lock; Release takes no lock while it tears down.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Hierarchy/NodeLimiter.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class ISnEffectDefinition;

class CSnHierarchyNode;
class CSnLeafNode;
class CSnPropTransitionSet;
class CSnStateGroupLink;
class SnTargetCopy;
struct SnStreamGather;

// What stop, pause, resume, break and seek hand a node.
struct SnActionParams {
  // A break lets what plays end and stops the looping and continuing of the levels at or under `node`.
  enum Kind : uint32_t { Stop = 0, Pause = 1, Resume = 2, Break = 3, Seek = 4 };
  uint32_t kind = Stop;
  CSnRegisteredObj* gameObject = nullptr;  // null: all
  uint32_t playingId = 0;                  // 0: all
  int32_t transitionMs = 0;
  uint32_t fadeCurve = 0;
  uint8_t flag = 0;
  uint16_t word = 0;
  // The nodes the record reaches also hold (a pause) or let go on (a stop or resume) their own running
  // property transitions, and a parent hands it to every child, playing or not: set by the actions on
  // everything.
  uint8_t ownTransitions = 0;
  uint32_t extra = 0;
  union {
    int32_t ms;
    float fraction;
  } seek = {0};
  uint8_t seekFlags = 0;  // bit 0 by fraction, bit 1 to the nearest marker
  const CSnHierarchyNode* node = nullptr;  // a break's: the node it was sent to
};

// A parameter change told to the playing objects below a node.
struct SnParamChange {
  uint32_t parameterId;
  SnRTPCKey key;
  uint8_t flag;
  uint8_t extraFlag;
  float value;
};

// Game objects whose instances a request passes over (none when null or empty).
struct SnInstanceExclusions {
  CSnRegisteredObj* const* gameObjects = nullptr;
  uint32_t count = 0;
  bool Excludes(const CSnRegisteredObj* gameObject) const {
    for (uint32_t i = 0; i < count; ++i)
      if (gameObjects[i] == gameObject) return true;
    return false;
  }
};

class ISnLeafInstance;
// Called for each playing instance a key selects; `context` is the caller's.
using SnLeafInstanceVisitor = void (*)(ISnLeafInstance& instance, void* context);

struct SnNodeFxSlots {
  struct Slot {
    uint32_t effectId;
    uint8_t rendered;
    uint8_t shared;
  };
  int32_t overrideLevel = 0;
  Slot slots[4] = {};
  uint8_t bypass = 0;
};

// Made when a node becomes active, ended when nothing below or in it plays any more (its room stays
// with the node for the next).
struct SnNodeActivity {
  struct ObjectEntry {
    CSnRegisteredObj* gameObject;
    CSnNodeLimiter* limiter;
    uint16_t instances;
    uint16_t virtualInstances;
  };
  SnNodeActivity(CSnHierarchyNode* node, uint16_t maximum, bool oldestFirst, bool goVirtual, bool globalLimit)
      : limiter(node, maximum, oldestFirst, goVirtual, LimiterKindOf(node)), limitsGlobally(globalLimit) {}
  // A bus's limiters are of the bus kind.
  static CSnNodeLimiter::Kind LimiterKindOf(const CSnHierarchyNode* node);
  ~SnNodeActivity();
  bool Empty() const {
    return playing == 0 && activeChildren == 0 && globalCount == 0 && globalVirtual == 0 && objects.Count() == 0 &&
           children.Count() == 0;
  }
  ObjectEntry* FindObject(CSnRegisteredObj* gameObject);
  const ObjectEntry* FindObject(CSnRegisteredObj* gameObject) const {
    return const_cast<SnNodeActivity*>(this)->FindObject(gameObject);
  }

  CSnNodeLimiter limiter;
  SnArray<ObjectEntry> objects;
  // Registered as active below; a record comes and goes with its node's first and last play, and most
  // have a child or two: they take no allocation.
  SnInlineArray<CSnHierarchyNode*, 4> children;
  int16_t playing = 0;
  int16_t activeChildren = 0;
  int16_t globalCount = 0;
  int16_t globalVirtual = 0;
  bool limitsGlobally;  // fixed at creation
};

class CSnHierarchyNode : public CSnIndexedObject, public ISnNodeRTPCSubscriber, public ISnGameObjectValueHolder {
 public:
  // Flags A
  static constexpr uint8_t kLimiterOldestFirst = 0x01;
  static constexpr uint8_t kLimiterGoVirtual = 0x02;
  static constexpr uint8_t kOverridesVoiceBehaviour = 0x04;
  static constexpr uint8_t kEnforcesOwnLimit = 0x08;
  static constexpr uint8_t kOverridesAttachment = 0x10;
  static constexpr uint8_t kLimitsGlobally = 0x20;
  static constexpr uint8_t kPriorityDistance = 0x40;
  static constexpr uint8_t kOverridesPriority = 0x80;
  // Flags B
  static constexpr uint8_t kStateValuesApply = 0x01;
  static constexpr uint8_t kDestroyed = 0x02;
  static constexpr uint8_t kIsBus = 0x04;
  static constexpr uint8_t kDerivedOverride = 0x10;
  static constexpr uint8_t kHasPositioning = 0x20;
  static constexpr uint8_t kPositionOption = 0x40;
  static constexpr uint8_t kOverridesEffects = 0x80;
  // MIDI flags
  static constexpr uint8_t kMidiOverridesEvents = 0x01;
  static constexpr uint8_t kMidiOverridesTracking = 0x02;
  static constexpr uint8_t kMidiTracking = 0x04;
  static constexpr uint8_t kMidiOption = 0x08;

  static constexpr uint16_t kMaxInstancesMask = 0x03FF;

  enum Category : uint32_t {
    Category_Bus = 0,
    Category_ActorMixer = 1,
    Category_RandomSequence = 2,
    Category_Sound = 3,
    Category_Switch = 4,
    Category_Layer = 5,
    Category_BusKind10 = 10,
    Category_Leaf = 11,
    Category_BusKind12 = 12,
  };
  static bool IsBusCategory(uint32_t category) { return category == 0 || category == 10 || category == 12; }

  CSnHierarchyNode(uint32_t id, bool isBus);
  ~CSnHierarchyNode() override;

  virtual uint32_t MonitorType() const { return 0; }
  virtual uint32_t NodeCategory() const = 0;
  // A sound or other leaf of media, else null: asked at every voice start, cheaper than a cast.
  virtual CSnLeafNode* AsLeaf() { return nullptr; }
  const CSnLeafNode* AsLeaf() const { return const_cast<CSnHierarchyNode*>(this)->AsLeaf(); }

  // ---- links ----
  // The node holds one reference on its parent, its output bus and its secondary output.
  virtual void SetParent(CSnHierarchyNode* parent);
  virtual void SetOutputBus(CSnHierarchyNode* bus);
  // The base takes no children: SN_Failure.
  virtual SNRESULT AddChild(CSnHierarchyNode* child);
  // SN_InvalidPoolId for id 0 (nothing to add), SN_IdNotFound when no node has the id.
  SNRESULT AddChildById(uint32_t childId);
  virtual void RemoveChild(CSnHierarchyNode*) {}
  // Parent links nest at most this deep below a top node: the walks up the parents on a play (activity,
  // properties) recurse once a level, on the audio thread's stack.
  static constexpr uint32_t kMaxDepth = 64;
  // SN_Success when `child` may hang below this node by its parent link; SN_Failure, logged with the
  // nodes named, when that would close a loop or put a node more than kMaxDepth levels deep.
  SNRESULT CheckDepthBelow(const CSnHierarchyNode* child) const;
  // The nodes whose parent link is this node, for walks down the tree that do not recurse.
  virtual uint32_t LinkedChildCount() const { return 0; }
  virtual const CSnHierarchyNode* LinkedChild(uint32_t) const { return nullptr; }
  void SetSecondaryOutput(CSnHierarchyNode* output);
  // Before a link above changes: the plays counted through this node leave their counts (true when
  // any did), to join them again on the new roads.
  bool LeaveCountsAbove() const;
  CSnHierarchyNode* Parent() const { return m_parent; }
  CSnHierarchyNode* OutputBus() const { return m_outputBus; }
  CSnHierarchyNode* SecondaryOutput() const { return m_secondaryOutput ? *m_secondaryOutput : nullptr; }

  // ---- actions ----
  virtual void ExecuteAction(const SnActionParams& params) = 0;
  void Stop(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t transitionMs, uint32_t curve);
  void Pause(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t transitionMs, uint32_t curve);
  void Resume(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t transitionMs, uint32_t curve);
  // Holds (or lets go on) the transitions of the node's values where they stand: those `gameObject`
  // set on it, or with none, all of them (its run-time and state values and every object's).
  virtual void PauseOwnTransitions(CSnRegisteredObj* gameObject, bool pause);
  // What a record that asks for it does to those transitions: a pause holds them, a stop or a resume
  // lets them go on; a record of one game object reaches that object's values alone.
  void ApplyToOwnTransitions(const SnActionParams& params);

  // ---- parameter changes ----
  virtual void DeliverParameterChange(const SnParamChange& change) = 0;
  // Tells the playing objects below when this node handles the parameter.
  void ParameterChanged(uint32_t parameterId, const SnRTPCKey& key, float value, bool extraFlag);
  virtual bool HandlesParameter(uint32_t) const { return true; }
  virtual void CurveAdded(uint32_t) {}
  virtual void CurveRemoved(uint32_t) {}
  virtual void ValuesChanged() {}
  virtual void EffectSlotChanged(uint32_t) {}
  virtual void BypassChanged() {}

  // ---- requests for the playing instances (the leaves hold them) ----
  // Null game objects and playing id 0 match any.
  virtual void StopLooping(CSnRegisteredObj*, uint32_t /*playingId*/) {}
  // Gain factor `entryKey` of the object's instances becomes `value` (1 removes it).
  virtual void SetInstanceGainEntry(CSnRegisteredObj*, float /*value*/, uint32_t /*entryKey*/) {}
  // A positioning parameter's new value, for a node that positions its own sounds.
  virtual void DeliverPositioningParameter(float /*value*/, uint32_t /*parameterId*/, CSnRegisteredObj*,
                                           const SnInstanceExclusions*) {}
  // Every instance whose key matches: 0, null and 255 fields of `key` match any.
  virtual void ForEachInstance(const SnRTPCKey&, SnLeafInstanceVisitor, void*) {}
  // Mask bits 0-3 set the bypass of the effect slots, bit 4 of all effects, from `values`.
  virtual void DeliverEffectBypass(CSnRegisteredObj*, uint32_t /*values*/, uint32_t /*mask*/,
                                   const SnInstanceExclusions*) {}

  // ---- activity ----
  // Bit 0 goes up the output-bus road, bit 1 the secondary output's; false when a record could not
  // be made somewhere.
  virtual bool ActivityUp(uint32_t mask);
  virtual void ActivityDown(uint32_t mask);
  const SnNodeActivity* Activity() const { return m_activity; }

  // ---- properties ----
  float FloatProperty(uint32_t id) const { return m_properties.GetOr(id, FloatPropertyDefault(id)); }
  int32_t IntProperty(uint32_t id) const;
  bool HasProperty(uint32_t id) const { return m_properties.Has(id); }
  // SN_Success (changed or not); SN_Failure when the bundle cannot grow.
  virtual SNRESULT SetIntProperty(uint8_t id, int32_t value);
  virtual SNRESULT SetFloatProperty(uint8_t id, float value);
  // The value slot of property (index + 60), null when absent.
  const uint8_t* ExtendedPropertySlot(uint32_t index) const;
  const SnPropertyBlob4& Properties() const { return m_properties; }
  // The mixer definition attached to the nearest node up the parent road that names one, with a
  // reference for the caller (as the effect slots would hand it to a mixing graph); null when none
  // does or the named one is not loaded.
  ISnEffectDefinition* GetMixerPlugin() const;

  // ---- game parameters ----
  // The parameters this node decides (bit n = parameter n) and those every node on a road adds.
  virtual uint64_t OverrideMask() const;
  virtual uint64_t SupportedMask() const { return 0; }
  SNRESULT AddCurve(uint32_t rtpcId, uint32_t rtpcType, uint32_t accumulation, uint32_t parameterId, uint32_t curveId,
                    uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t pointCount);
  void RemoveCurve(uint32_t parameterId);
  // Asked many times at every voice's start, of nodes that mostly have no curve: answered in place.
  bool HasCurve(uint32_t parameterId) const { return ParameterMask() & ParameterBit(parameterId); }
  uint64_t ParameterMask() const { return m_targets ? m_targets->ParameterMask() : 0; }
  // The curves' value for the key; 0 without a curve.
  float RTPCValue(uint32_t parameterId, const SnRTPCKey& key) const {
    return HasCurve(parameterId) ? CurveValue(parameterId, key) : 0.0f;
  }
  void AddTarget(CSnTargetLink* link, uint64_t wanted, uint64_t provided, bool forward);
  void RemoveTarget(CSnTargetLink* link, bool forward);
  void UpdateRTPC(uint32_t parameterId, const SnRTPCKey& key, float value, float delta, const void* filter) override;
  void CallEveryTarget();
  const CSnRTPCTargetSet* Targets() const { return m_targets; }
  void* RTPCSubscriber() { return static_cast<ISnNodeRTPCSubscriber*>(this); }

  // ---- states ----
  // The link for the group, made and registered with the state manager when absent; null when that fails.
  CSnStateGroupLink* AddStateGroupLink(uint32_t groupId, uint8_t syncType, bool refresh);
  SNRESULT SetStatePropertySet(uint32_t groupId, uint32_t propertySetId, uint32_t stateId, bool refresh);
  void RefreshStateValues();
  void EndStateTransitions();
  CSnStateGroupLink* StateLinks() const { return m_stateLinks; }
  // Sync types of `groupId` along the node, its bus chain and its parents; true when a 0 ended it.
  bool CollectSyncTypes(uint32_t groupId, SnArray<uint32_t>& types);

  // ---- effects ----
  SNRESULT SetEffectSlot(uint32_t slot, uint32_t effectId, bool shared, int32_t level);
  SNRESULT MarkSlotRendered(uint32_t slot, bool rendered);
  void SetBypassBits(uint8_t bits, uint8_t mask);
  const SnNodeFxSlots* FxSlots() const { return m_fx; }

  // ---- flags ----
  uint8_t FlagsA() const { return m_flagsA; }
  uint8_t FlagsB() const { return m_flagsB; }
  uint8_t MidiFlags() const { return m_midiFlags; }
  uint16_t MaxInstances() const { return m_limits & kMaxInstancesMask; }
  bool IsBus() const { return m_flagsB & kIsBus; }
  void SetFlagA(uint8_t bit, bool on);
  void SetFlagB(uint8_t bit, bool on) { m_flagsB = uint8_t(on ? m_flagsB | bit : m_flagsB & ~bit); }
  void SetMidiFlags(uint8_t bits) { m_midiFlags = uint8_t((m_midiFlags & 0xF0) | (bits & 0x0F)); }
  virtual void SetMaxInstances(uint16_t maximum);

  // The node that hands this one its run-time values for all game objects (made on demand).
  CSnPropTransitionSet* GlobalValueSet() const { return m_globalValues; }

  void DropGameObjectValues(CSnRegisteredObj*) override {}

  // Loads or unloads the media of the node of `id`; SN_Failure when no node has it.
  static SNRESULT PrepareNodeData(uint32_t id);
  static void UnprepareNodeData(uint32_t id);
  virtual SNRESULT PrepareData() { return SN_Success; }
  virtual void UnprepareData() {}
  // Appends what this subtree can stream: to the current list while `current` holds (the node is
  // reached through the current switch or state values), else to the other list. Under
  // GlobalAudioLock().
  virtual void GatherStreamedSources(SnStreamGather&, bool /*current*/) const {}

 protected:
  void BeforeDestroy() override;
  SnNodeActivity* EnsureActivity();
  void FreeActivityIfEmpty();
  bool AddActiveChild(CSnHierarchyNode* child);
  void RemoveActiveChild(CSnHierarchyNode* child);
  CSnPropTransitionSet* EnsureGlobalValueSet(class ISnPropTransitionOwner* owner);
  SnNodeActivity* ActivityRecord() { return m_activity; }
  SnPropertyBlob4& MutableProperties() { return m_properties; }

  CSnRTPCTargetSet* m_targets = nullptr;
  CSnStateGroupLink* m_stateLinks = nullptr;
  CSnPropTransitionSet* m_globalValues = nullptr;
  SnNodeFxSlots* m_fx = nullptr;
  SnNodeActivity* m_activity = nullptr;
  // The last record kept for the next, or its room: most nodes that played once play again.
  void* m_spareActivity = nullptr;
  // A link up goes to another node, the plays counted through this one following it.
  void Relink(CSnHierarchyNode*& link, CSnHierarchyNode* to);

  CSnHierarchyNode* m_parent = nullptr;
  CSnHierarchyNode* m_outputBus = nullptr;
  SnPropertyBlob4 m_properties;
  uint16_t m_limits = 0;
  uint8_t m_flagsA = kLimitsGlobally;
  uint8_t m_flagsB = kStateValuesApply;
  uint8_t m_midiFlags = 0;
  // A parent, output bus or secondary output changed while the node was active: the node it left may
  // still list it as an active child.
  bool m_movedWhileActive = false;
  // The spare is a record still made (its limiter empty and following no parameter), not bare room.
  bool m_spareIsRecord = false;
  CSnHierarchyNode** m_secondaryOutput = nullptr;

 private:
  // The value of a curve the node has, from the game-parameter manager.
  float CurveValue(uint32_t parameterId, const SnRTPCKey& key) const;
  SNRESULT NotifyActionKind(uint32_t kind, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms,
                            uint32_t curve);
  void ReregisterLinks();
  template <typename Tell>
  void TellCopied(const SnTargetCopy& copy, Tell&& tell);
};

}  // namespace SN
