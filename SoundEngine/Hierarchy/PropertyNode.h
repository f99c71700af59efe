// The parameter node between the hierarchy node base and every playable kind: run-time values per
// game object, ranged properties, positioning, auxiliary sends, the accumulation of sound
// parameters, the play road (MIDI filter and initial delay), instance counting against limits and
// the common node parameters of a bank payload. Threads as the node base.
#pragma once

#include <cstdint>
#include <utility>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/PropTransitionSet.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

// The parameters accumulated from a sound up to the root.
struct SnSoundParams {
  float volume = 0.0f;
  float unused = 0.0f;
  float pitch = 0.0f;
  float lowPass = 0.0f;
  float highPass = 0.0f;
  float stateValue = 0.0f;
  float secondGain = 0.0f;
  uint8_t outputFlags = 0;  // bit 0: output-bus settings taken
  float group32 = 0.0f;
  uint8_t group32Flags = 0;  // bit 0: taken
  float outputBus[3] = {};   // properties 23, 25, 24
  float userSends[4] = {};
  uint32_t auxBusIds[4] = {};
  float gameSend = 0.0f;
  uint8_t sendFlags = 0;
  uint8_t gameSendTaken = 0;
  uint8_t userSendsTaken = 0;
};

struct SnRandomOffsets {
  float volume = 0.0f;
  float secondGain = 0.0f;
  float pitch = 0.0f;
  float lowPass = 0.0f;
  float highPass = 0.0f;
};

// Groups of the accumulation mask.
enum SnParamGroup : uint32_t {
  SnParamGroup_Volume = 0x01,
  SnParamGroup_Pitch = 0x02,
  SnParamGroup_LowPass = 0x04,
  SnParamGroup_HighPass = 0x08,
  SnParamGroup_State5 = 0x10,
  SnParamGroup_Group32 = 0x20,
};

// A play counted against the limits on its way up: by the first node above it that decides its own
// limit and by the first such bus, each once, whichever roads lead to them.
struct SnCountRecord {
  static constexpr uint8_t kCountedByNode = 0x01;
  static constexpr uint8_t kCountedByBus = 0x02;
  float priority = 50.0f;
  CSnRegisteredObj* gameObject = nullptr;
  CSnNodeLimiter* limiter = nullptr;        // out: the node's limiter that counted it
  CSnNodeLimiter* busLimiter = nullptr;     // out: the bus's limiter that counted it
  CSnPlaybackInstance* giveWay = nullptr;  // out: the instance a limit chose to make room
  uint16_t pathMask = 3;                  // bit 0 output bus, bit 1 secondary output
  uint16_t enforced = 0;
  uint8_t counted = 0;  // kCountedBy... of the limits that took it
  // False for a play that already plays, counted again on new roads: the frame's limit pass weighs it.
  bool enforce = true;
};

struct SnPositioningParams {
  uint32_t attenuationId = 0;
  uint32_t pathMode = 0;
  uint32_t pathTransitionMs = 0;
  SnPathVertex* vertices = nullptr;
  uint32_t vertexCount = 0;
  SnPathListItem* items = nullptr;
  uint32_t itemCount = 0;
  uint8_t flags = 0;
  // Where the last play's path left off: not a setting but the node's own state, which plays change.
  mutable SnPathSavedState pathState;
  ~SnPositioningParams();
  // Copies the vertices and builds the items: SN_InvalidParameter for an empty array or count,
  // SN_Failure when an item runs past the vertices, SN_InsufficientMemory.
  SNRESULT SetPath(const SnPathVertex* vertices, uint32_t vertexCount, const uint32_t* itemRanges /* first, count */,
                   const float* itemRandom /* three per item */, uint32_t itemCount, uint32_t transitionMs);
  void FreePath();
};

constexpr SNRESULT SN_MidiFiltered = SNRESULT(82);
constexpr SNRESULT SN_PlayDelayed = SN_NothingChanged;

class CSnModulatorInstanceList;
struct SnModulatorInstantiationParams;

class CSnPropertyNode : public CSnHierarchyNode, public ISnPropTransitionOwner {
 public:
  // Send and position flags
  static constexpr uint8_t kOverridesGameSend = 0x10;
  static constexpr uint8_t kGameSendOption = 0x20;
  static constexpr uint8_t kOverridesUserSends = 0x40;
  static constexpr uint8_t kOverridesGroup32 = 0x80;
  // Output flags
  static constexpr uint8_t kOverridesOutputSettings = 0x01;

  CSnPropertyNode(uint32_t id, bool isBus) : CSnHierarchyNode(id, isBus) {}
  ~CSnPropertyNode() override;

  // ---- the play road ----
  // MIDI filter for a note-on, then the initial delay, then the kind's own play.
  SNRESULT Play(CSnPlayParams& params);
  virtual SNRESULT PlayNode(CSnPlayParams& params) = 0;
  // SN_Success to go on now, SN_PlayDelayed when a delayed continuation was queued, or its failure.
  SNRESULT ComputeInitialDelay(CSnPlayParams& params);
  // Ancestors first; SN_MidiFiltered when the event is turned away. The event's note and velocity
  // are replaced on success.
  SNRESULT FilterMidiEvent(SnMidiEvent& event, const CSnPlayParams& params);

  // The modulators this node's curves and its parents' name, instantiated for the voice and attached
  // with the curves' mappings (NodeModulators.cpp).
  void InstantiateVoiceModulators(const CSnPlayParams& play, CSnPlaybackInstance& voice);
  // The same into `list` for what plays many voices in turn (a music track's context); each voice
  // then shares the list. `playingId` only names the play in errors.
  void InstantiateModulators(const SnModulatorInstantiationParams& params, CSnModulatorInstanceList& list,
                             uint32_t playingId);

  // ---- accumulation ----
  virtual void GetSoundParams(SnSoundParams& params, uint32_t mask, const SnRTPCKey& key, SnRandomOffsets* random,
                              bool computeRandom, bool firstCall);
  // What this node's layers add to a child that they list (volume, pitch and the filters of `mask`).
  virtual void AddLayerValues(const CSnHierarchyNode&, SnSoundParams&, uint32_t, const SnRTPCKey&) const {}
  // A run-time gain factor other than 1 applies to the node for the key's game object (or all).
  virtual void ApplyGainFactor(CSnRegisteredObj*, float) {}
  // Offset of the property's range: min + r (max - min), drawing only when the range is not empty.
  float RandomOffset(uint32_t id) const;
  float SecondaryFirstValue(const SnRTPCKey& key) const;
  float SecondarySecondValue(const SnRTPCKey& key) const;
  SNRESULT SetRange(uint8_t id, float min, float max);
  const SnPropertyBlob8& Ranges() const { return m_ranges; }

  // ---- run-time values ----
  // The value set of a game object (null: of all), made on demand; null when out of memory.
  CSnPropTransitionSet* GetValueSet(CSnRegisteredObj* gameObject);
  CSnPropTransitionSet* FindValueSet(CSnRegisteredObj* gameObject) const;
  virtual SNRESULT SetRuntimeValue(CSnRegisteredObj* gameObject, uint8_t id, float value,
                                   const TransParamsBase& params);
  virtual SNRESULT Mute(CSnRegisteredObj* gameObject, const TransParamsBase& params);
  virtual SNRESULT Unmute(CSnRegisteredObj* gameObject, const TransParamsBase& params);
  // Unmutes all game objects: the set of all, then every object's set whose factor is not 1.
  void UnmuteAll(const TransParamsBase& params);
  // Every object's non-zero value of the property goes to 0 at once, then the value of all objects
  // through the transition.
  void ResetRuntimeValues(uint8_t id, const TransParamsBase& params);
  void DropGameObjectValues(CSnRegisteredObj* gameObject) override;
  // Those of the game objects' values too.
  void PauseOwnTransitions(CSnRegisteredObj* gameObject, bool pause) override;

  // The values a play sends to the secondary output, gathered up the parents.
  struct SecondaryOutputValues {
    float first = 0.0f;
    float second = 0.0f;
    float busVolume = 0.0f;  // the volumes of the buses above, up to one with effects
    CSnHierarchyNode* target = nullptr;
  };
  virtual void AccumulateSecondaryOutput(SecondaryOutputValues& values, const SnRTPCKey& key);

  // ---- properties and parameters ----
  SNRESULT SetFloatProperty(uint8_t id, float value) override;
  // A node that positions its sounds itself hands the new value to what plays below it.
  virtual void PositioningParameterUpdate(float value, uint32_t parameterId) {
    if (FlagsB() & kHasPositioning) DeliverPositioningParameter(value, parameterId, nullptr, nullptr);
  }
  // A node with its own effects tells what plays below it of its slots' new bypass bits; one that
  // takes its parent's effects plays the parent's slots, and its own bits bypass nothing.
  void BypassChanged() override;
  // The positioning values a removed curve decided fall back to the node's own.
  void CurveRemoved(uint32_t parameterId) override;
  uint64_t OverrideMask() const override;
  uint64_t SupportedMask() const override { return 0xE000005Full | (uint64_t(0x10) << 32); }
  bool HandlesParameter(uint32_t parameterId) const override;

  // ---- limits ----
  // SN_Success; the first refusal of a limit on the way up (SN_PlayAsVirtual: only as a virtual voice,
  // SN_Failure: not at all), the play counted all the same; SN_InsufficientMemory when a record on one
  // of the roads could not be made: then the play is counted nowhere, and nothing is to be given back.
  virtual SNRESULT CountInstance(SnCountRecord& record);
  virtual void UncountInstance(SnCountRecord& record);
  virtual void CountVirtual(SnCountRecord& record);
  virtual SNRESULT UncountVirtual(SnCountRecord& record);
  uint16_t EffectiveMaximum() const;
  // Whether this node's limit takes the play: it decides its own limit and no node of its kind (node
  // or bus) took the play before it. Marks the record when it does.
  bool TakesCount(SnCountRecord& record) const;
  // This node's own share of a play's count given back (its roads up are the caller's).
  void GiveBackOwnCount(SnNodeActivity& activity, SnCountRecord& record);

  // ---- inherited look-ups ----
  // Priority of the nearest node that overrides it, with its distance offset (0 when not applied).
  void GetPriority(const SnRTPCKey& key, float& priority, float& distanceOffset) const;
  // The 4-bit behaviour and the 3-bit virtual-voice behaviour of the nearest overriding node.
  uint8_t GetVoiceBehaviour(uint8_t& virtualBehaviour) const;
  const CSnPropertyNode* MidiSettingsNode(uint8_t overrideBit) const;
  const CSnPropertyNode* PositioningNode() const;
  CSnPropertyNode* PositioningNode() { return const_cast<CSnPropertyNode*>(std::as_const(*this).PositioningNode()); }
  // The greatest distance of the attenuation the node's voices take (the last point of its distance
  // curve); false when they take none.
  bool GetAttenuationMaxDistance(float& maxDistance) const;
  uint32_t MidiPlayMode() const { return uint32_t(MidiSettingsNode(kMidiOverridesEvents)->IntProperty(46)); }

  // ---- bank payload ----
  // The common node parameters at `cursor` (advanced past them); `end` ends the object's payload.
  // `effectsOnly` reads the effect block of a node loaded before and stops.
  SNRESULT ReadBaseParams(const uint8_t*& cursor, const uint8_t* end, bool effectsOnly);

  uint8_t VoiceSettings() const { return m_voiceSettings; }
  uint8_t SendFlags() const { return m_sendFlags; }
  uint8_t OutputFlags() const { return m_outputFlags; }
  const uint32_t* AuxBusIds() const { return m_auxBusIds; }
  const SnPositioningParams* Positioning() const { return m_positioning; }

  // ISnPropTransitionOwner
  void PropertyOverridden(uint32_t) override {}
  void SetGainFactorTarget(CSnRegisteredObj* gameObject, float target, const TransParamsBase&) override;
  void PropertyTransitionStep(CSnRegisteredObj* gameObject, uint32_t propertyId, uint32_t parameterId, float value,
                              float change) override;

 protected:
  SNRESULT ReadEffects(const uint8_t*& cursor, const uint8_t* end, bool effectsOnly);
  SNRESULT ReadProperties(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadPositioning(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadAuxSends(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadAdvanced(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadStateGroups(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT ReadCurves(const uint8_t*& cursor, const uint8_t* end);
  SNRESULT SetAuxBusId(uint32_t index, uint32_t busId);

 private:
  struct ObjectValues {
    CSnRegisteredObj* gameObject;
    CSnPropTransitionSet* values;
  };
  void AddOwnValues(SnSoundParams& params, uint32_t mask, const CSnPropTransitionSet* set);

  SnArray<ObjectValues> m_objectValues;
  SnPositioningParams* m_positioning = nullptr;
  SnPropertyBlob8 m_ranges;
  uint32_t* m_auxBusIds = nullptr;
  uint8_t m_voiceSettings = 0;
  uint8_t m_sendFlags = 4;
  uint8_t m_outputFlags = 0;
};

// The creation function of a kind whose payload is its id then the common node parameters: made in
// the default pool and read under GlobalAudioLock(), not yet in the index (the bank loader enters it).
// On failure `object` still holds what was made, for the loader to release.
template <typename Node, typename... Args>
SNRESULT CreateNodeFromPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object, Args&&... args) {
  object = nullptr;
  if (size < sizeof(uint32_t)) return SN_Failure;
  uint32_t id;
  memcpy(&id, payload, sizeof id);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  Node* node = PoolNew<Node>(g_DefaultPoolId, id, std::forward<Args>(args)...);
  if (!node) return SN_InsufficientMemory;
  object = node;
  const uint8_t* cursor = payload + sizeof id;
  return node->ReadBaseParams(cursor, payload + size, false);
}

// Seconds to samples at the output rate, rounded half away from zero; saturated, NaN as 0.
int32_t SecondsToSamples(float seconds);
// Half away from zero, saturated to i32; NaN as 0.
int32_t RoundToInt(float value);

}  // namespace SN
