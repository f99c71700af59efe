// Buses: the nodes sounds and other buses are routed to. A bus sums its mix properties along its
// parent buses, carries effect slots, a channel configuration, a mixer and a voice limit, ducks other
// buses while it has voices and lets them recover after its last voice; the first two parentless
// buses are the master and secondary master buses, and background-music buses fall silent together.
//
// Threads: read on the bank thread under GlobalAudioLock(); everything else on the audio thread
// under it. The master globals are guarded by the bus list's lock, the background-music list by its
// own. Lock order: GlobalAudioLock(), then the bus list's lock or the background-music lock (never
// both at once).
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/Hierarchy/NodeIdList.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"

namespace SN {

constexpr uint8_t kHircBusType = 8;
constexpr uint8_t kHircOwnMixBusType = 20;
constexpr uint8_t kHircMotionBusType = 16;

constexpr SNRESULT SN_ChildAlreadyHasAParent = SNRESULT(21);
constexpr SNRESULT SN_CannotAddItself = SNRESULT(23);

class CSnBusNode;

// One bus's contribution to another's ducked parameter: a transition drives its value.
class CSnBusParamTransitionTarget final : public ISnTransitionTarget {
 public:
  SNRESULT Init(CSnBusNode* bus);
  // Leaves the running transition, if any; the value stays where it is.
  SNRESULT Detach();
  // Kind 0 or 5, the parameter the entry lowers.
  void TransitionUpdate(uint32_t kind, float value, bool done) override;

  CSnBusNode* bus = nullptr;
  CSnTransition* transition = nullptr;
  float value = 0.0f;  // dB
};

struct SnDuckEntry {
  uint32_t duckingBusId;
  CSnBusParamTransitionTarget target;
};

struct SnDuckTarget {
  uint32_t targetBusId;
  float volume;  // dB
  int32_t fadeOutMs;
  int32_t fadeInMs;
  uint32_t curve;
  uint32_t property;  // 0 or 5
};

struct SnBusMixer {
  uint32_t priority;
  uint32_t pluginId;
  uint8_t reserved;
  uint8_t shared;
};

class CSnBusNode final : public CSnPropertyNode {
 public:
  static constexpr uint32_t kMaxDucks = 100;
  static constexpr float kDefaultMaxDuckVolume = -96.3f;
  // State byte
  static constexpr uint8_t kDuckStateMask = 0x07;
  static constexpr uint8_t kFromBank = 0x08;
  static constexpr uint8_t kVolumePushed = 0x10;
  static constexpr uint8_t kPrimaryMaster = 0x40;
  static constexpr uint8_t kBackgroundMusic = 0x80;
  enum DuckState : uint8_t { Duck_Idle = 0, Duck_Ducking = 1, Duck_Recovering = 2 };

  CSnBusNode(uint32_t id, uint32_t category);
  ~CSnBusNode() override;

  uint32_t NodeCategory() const override { return m_category; }
  // A bus is routed to, never played: SN_Failure.
  SNRESULT PlayNode(CSnPlayParams& params) override;

  // The payload after the id: parent, bus parameters, ducking, effects and mixer, game parameters
  // and states. SN_Failure for a missing parent bus or a field past the end; the add or duck result.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // ---- children ----
  // Buses join the child buses, other nodes the routed children, each in id order.
  SNRESULT AddChild(CSnHierarchyNode* child) override;
  void RemoveChild(CSnHierarchyNode* child) override;
  uint32_t ChildCount() const { return m_children.Count(); }
  uint32_t ChildBusCount() const { return m_childBuses.Count(); }
  uint32_t LinkedChildCount() const override { return m_childBuses.Count(); }
  const CSnHierarchyNode* LinkedChild(uint32_t index) const override;

  // ---- mix properties ----
  // Bank value, state offsets, game-parameter curve, run-time value and ducking of the property,
  // then the parent's when asked for the whole chain or when this bus has no mix stage of its own.
  float GetEffectiveProperty(uint32_t propertyId, bool wholeChain) const;
  // The bus volume (property 5) a voice routed here carries itself: the effective values of this bus
  // and the buses above it up to the one that mixes them, which applies its own on its mix.
  float VoiceCarriedBusVolume() const;
  bool HasOwnMixStage() const { return m_ownMixStage; }
  void SetParent(CSnHierarchyNode* parent) override;
  uint32_t ChannelConfig() const { return m_channelConfig; }
  void SetChannelConfig(uint32_t config);
  // Stop, pause and resume: the active children, last first (a record for everything: the child
  // buses, after the bus's own transitions). Parameter changes: all of them, and
  // the bus volume to the mixing graph when the bus mixes itself.
  void ExecuteAction(const SnActionParams& params) override;
  void DeliverParameterChange(const SnParamChange& change) override;
  // A state's values changed: the bus volume goes to the mixing graph again, and the voices below
  // read their values anew.
  void ValuesChanged() override;
  // Properties 0, 2, 3 and 4 of the voices routed here: bank value, curve, ducking (volume only)
  // and run-time values, then the parent bus's.
  void GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key, SnRandomOffsets* random,
                      bool computeRandom, bool firstCall) override;
  // The gain aimed at the bus goes to its active children; 0 while background music is muted.
  void ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) override;
  float RuntimeGain() const;

  // Run-time values of a bus are its own, for every game object.
  SNRESULT SetRuntimeValue(CSnRegisteredObj* gameObject, uint8_t id, float value,
                           const TransParamsBase& params) override;
  SNRESULT Mute(CSnRegisteredObj* gameObject, const TransParamsBase& params) override;
  SNRESULT Unmute(CSnRegisteredObj* gameObject, const TransParamsBase& params) override;
  // A step of a run-time bus volume reaches the mix and the voices as a state's does.
  void PropertyTransitionStep(CSnRegisteredObj* gameObject, uint32_t propertyId, uint32_t parameterId, float value,
                              float change) override;

  // ---- effects ----
  bool IsEffectBypassed(uint32_t slot) const;
  bool AreAllEffectsBypassed() const;
  void CurveAdded(uint32_t parameterId) override;
  void EffectSlotChanged(uint32_t slot) override;
  void BypassChanged() override;
  // SN_Failure without memory; a lower priority than the stored one changes nothing.
  SNRESULT SetMixerPlugin(uint32_t pluginId, bool shared, uint32_t priority);
  const SnBusMixer* Mixer() const { return m_mixer; }

  // ---- counting and ducking ----
  SNRESULT CountInstance(SnCountRecord& record) override;
  void UncountInstance(SnCountRecord& record) override;
  // Updates the record for the target or appends one; SN_Failure when the hundred are taken.
  SNRESULT AddDuck(uint32_t targetBusId, float volume, int32_t fadeOutMs, int32_t fadeInMs, uint32_t curve,
                   uint32_t property);
  // On the target: the ducking bus's entry moves to `volume`, or back to 0.
  SNRESULT Duck(uint32_t duckingBusId, float volume, int32_t fadeMs, uint32_t curve, uint32_t property);
  SNRESULT Unduck(uint32_t duckingBusId, int32_t fadeMs, uint32_t curve, uint32_t property);
  // The entry stays at its current value; a running fade stops there.
  void HoldDuck(uint32_t duckingBusId, uint32_t property);
  // The sum of the entries of the property's list, not below the max duck volume.
  float GetDuckedValue(uint32_t property) const;
  bool IsDucked() const;
  // Run by the recovery action this bus queued.
  void RecoveryDone(const CSnEventAction* recovery);
  DuckState DuckingState() const { return DuckState(m_state & kDuckStateMask); }
  uint32_t RecoverySamples() const { return m_recoverySamples; }
  float MaxDuckVolume() const { return m_maxDuckVolume; }
  uint32_t DuckTargetCount() const { return m_duckTargets.Count(); }
  uint8_t StateByte() const { return m_state; }
  // The change of a ducked value, from an entry's transition target.
  void DuckedValueChanged(uint32_t property, float value, float delta);

  // ---- master buses ----
  // Null when none; with a reference for the caller.
  static CSnBusNode* MasterBus();
  static CSnBusNode* SecondaryMasterBus();
  static void ClearMasterBuses();
  // Stop all, pause all (state transitions first) or resume all (them first): master, secondary, then
  // the default motion bus.
  static void ExecuteOnMasterBuses(const SnActionParams& params);

  // ---- motion buses ----
  // A motion bus (category 10) is the secondary output of the nodes it takes as children, and the
  // first one made becomes the default motion bus; it never takes a master bus's place.
  bool IsMotionBus() const { return m_category == Category_BusKind10; }
  // The default motion bus with a reference for the caller, or null.
  static CSnBusNode* DefaultMotionBus();
  // The default with a reference for the caller, the global left empty; null when none.
  static CSnBusNode* TakeDefaultMotionBus();
  // The global becomes `bus` when it is empty; the caller keeps its reference.
  static void RestoreDefaultMotionBus(CSnBusNode* bus);
  // Where a node's motion plays go: the nearest secondary output of the node or an ancestor, else
  // the default motion bus; with a reference for the caller, null when there is none.
  static CSnBusNode* MotionBusFor(const CSnHierarchyNode* node);
  // True when the node or an ancestor names a motion bus for its second output (the default aside).
  static bool HasMotionOutput(const CSnHierarchyNode* node);
  // The mix node `directory` gives for the motion bus of `node`, with the caller's reference; null when
  // there is none.
  static ISnMixBusNode* MotionMixNodeFor(const CSnHierarchyNode* node, ISnBusNodeDirectory& directory);

  // ---- the mixing graph ----
  // The bus as the mixing graph sees it; its references are the bus's.
  ISnMixBusNode& MixNode() { return m_mixNode; }
  // Finds loaded buses for the mixing graph; installed by Init when the slot is empty.
  static ISnBusNodeDirectory& Directory();

  // ---- background music ----
  static void SetBackgroundMusicMuted(bool muted);
  static bool BackgroundMusicMuted();
  static uint32_t BackgroundMusicBusCount();

 protected:
  void BeforeDestroy() override;

 private:
  SNRESULT ReadBusParams(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadDucking(const uint8_t*& cursor, const uint8_t* end);
  float HeldDuckLevel(float dB, const char* what) const;
  SNRESULT ReadBusEffects(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT SetParentBus(uint32_t parentId);
  SNRESULT CanAddChild(CSnHierarchyNode* child) const;
  // A motion bus's own forms of the children's links and the default's life.
  SNRESULT CanAddMotionChild(CSnHierarchyNode* child) const;
  SNRESULT AddMotionChild(CSnHierarchyNode* child);
  void RemoveMotionChild(CSnHierarchyNode* child);
  void BecomeDefaultMotionBus();
  void LeaveDefaultMotionBus();
  // A motion bus's motion voices are no active children of it: each one mixing in it or a child
  // bus computes its parameters again, taking the bus's values and mute at once; so does each sound
  // feeding the devices through it, whose feed takes them.
  void TellMotionVoices();
  void BeginDucking();
  void EndDucking();
  void UnduckTargets();
  // Each duck target's bus, with a reference for the call.
  template <typename Visit>
  void ForEachDuckTarget(Visit&& visit);
  SnDuckEntry* FindDuckEntry(uint32_t duckingBusId, uint32_t property) const;
  void MoveDuckEntry(SnDuckEntry& entry, uint32_t property, float goal, int32_t fadeMs, uint32_t curve);
  void PushVolume();
  void JoinBackgroundMusic();
  void LeaveBackgroundMusic();
  void ForEachActiveChild(bool lastFirst, void (*visit)(CSnHierarchyNode*, const void*), const void* context);
  // This bus's own share of an effective property, without its parents'.
  struct EffectiveQuery {
    uint32_t property;
    uint32_t parameter;  // the game parameter that drives it
    uint64_t curveBit;
    bool stated;  // states offset it
    bool ducked;  // ducking lowers it
  };
  static EffectiveQuery QueryFor(uint32_t propertyId);
  float OwnEffectiveValue(const EffectiveQuery& query) const;
  // Kept as the things that decide it change: read on every effective-property walk.
  void RefreshOwnMixStage();
  friend class CSnBusParamTransitionTarget;
  void RefreshDuckSum(uint32_t property);

  // What the mixing graph asks of a bus: its effects and mixer come from the loaded effect
  // definitions; dynamic-range windows are not carried by bus nodes yet, so it is told there are none.
  class CMixNode final : public ISnMixBusNode {
   public:
    explicit CMixNode(CSnBusNode& bus) : m_bus(bus) {}
    void AddRef() override { m_bus.AddRef(); }
    void Release() override { m_bus.Release(); }
    uint32_t BusId() const override { return m_bus.ID(); }
    ISnMixBusNode* ParentBus() const override;
    bool IsMainOutputBus() const override;
    SnChannelConfig ChannelConfig() const override { return m_bus.ChannelConfig(); }
    bool AcceptMixBus(bool) override { return true; }
    CSnHierarchyNode* TargetNode() override { return &m_bus; }
    float EffectiveVolume() override;
    bool BypassAllEffects() const override { return m_bus.AreAllEffectsBypassed(); }
    SnBusPositioning Positioning() const override { return SnBusPositioning{}; }
    ISnEffectDefinition* Effect(uint32_t slot, bool& bypass) override;
    ISnEffectDefinition* Mixer() override;
    uint32_t MediaId(uint32_t slot, uint32_t index) const override;
    uint32_t Category() const override { return m_bus.NodeCategory(); }
    uint32_t Flags() const override { return 0; }
    bool IsMasterBus() const override { return ParentBus() == nullptr; }
    bool HasDynamicRangeWindow() const override { return false; }
    SnBusWindowRead ReadWindowThreshold() override { return {0.0f, false}; }
    SnBusWindowRead ReadWindowRatio() override { return {1.0f, false}; }
    SnBusWindowRead ReadWindowRelease(bool& dbDomain) override {
      dbDomain = false;
      return {0.0f, false};
    }
    void WindowMoved(float) override {}

   private:
    CSnBusNode& m_bus;
  };

  CMixNode m_mixNode{*this};
  SnArray<CSnHierarchyNode*> m_children;  // routed here, by id
  SnBusMixer* m_mixer = nullptr;
  SnArray<CSnBusNode*> m_childBuses;      // by id
  uint32_t m_recoverySamples = 0;
  uint32_t m_channelConfig = 0;
  SnArray<SnDuckTarget> m_duckTargets;
  float m_maxDuckVolume = kDefaultMaxDuckVolume;
  SnArray<SnDuckEntry*> m_ducks[2];       // property 0, property 5
  float m_duckSums[2] = {};                // of each list's entries, kept as they move
  CSnEventAction* m_recovery = nullptr;   // the recovery this bus queued, referenced
  uint32_t m_category;
  uint8_t m_mixStageOverrides = 0;
  bool m_ownMixStage = true;  // no parent yet
  uint8_t m_state = kVolumePushed | 0x20;
};

}  // namespace SN
