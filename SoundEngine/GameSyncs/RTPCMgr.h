// Game parameters: values per scope with ramps and transitions, the built-in parameters the engine
// computes itself, and the subscriptions that follow parameters through curves. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/GameSyncs/ValueChange.h"
#include "SoundEngine/IdHashTable.h"

namespace SN {

enum SnBuiltInSlot : uint32_t {
  SnBuiltIn_None = 0,
  SnBuiltIn_Distance = 1,
  SnBuiltIn_Azimuth = 2,
  SnBuiltIn_Elevation = 3,
  SnBuiltIn_EmitterAngle = 4,
  SnBuiltIn_Obstruction = 5,
  SnBuiltIn_Occlusion = 6,
  SnBuiltIn_SlotCount = 7,
};

// How a subscriber is told of a change; the subscriber pointer is of the kind's interface.
enum SnSubscriptionKind : uint32_t {
  SnSubscription_PluginParam = 0,  // ISnPluginParamTarget
  SnSubscription_Node = 2,         // ISnNodeRTPCSubscriber
  SnSubscription_Layer = 3,        // ISnLayerRTPCSubscriber
  SnSubscription_Instance = 4,     // ISnPlaybackInstanceParams
  SnSubscription_Modulator = 5,    // ISnModulatorParamTarget
  SnSubscription_SwitchGroup = 6,  // CSnSwitchGroup
};

enum SnCombination : uint32_t { SnCombination_Alone = 0, SnCombination_Add = 1, SnCombination_Multiply = 2 };

constexpr uint32_t kParameterTypeModulator = 2;
constexpr uint32_t kCrossfadeProperty = 64;
constexpr uint32_t kReservedParameterId = 131;

// Which keyed targets (plug-in parameters, playback instances) one change may reach, by their key.
class ISnRTPCTargetFilter {
 public:
  virtual bool Accepts(const SnRTPCKey& targetKey) const = 0;

 protected:
  ~ISnRTPCTargetFilter() = default;
};

class CSnRTPCMgr {
 public:
  struct Curve {
    uint32_t curveId;
    uint32_t parameterId;
    uint32_t parameterType;
    CSnCurveGraph graph;  // owns its points
  };
  struct Subscription {
    void* subscriber;
    uint32_t propertyId;
    Subscription* next;
    SnRTPCKey key;
    uint32_t kind;
    uint32_t combination;
    SnArray<Curve> curves;
    bool removed;  // freed when the notification pass ends
  };

  SNRESULT Init();
  void Term();

  // 52 when the value could not be kept for memory; 2 when the playing id of the key has ended.
  SNRESULT SetRTPCInternal(uint32_t parameterId, float value, const SnRTPCKey& key, const TransParamsBase& params,
                           SnValueMeaning meaning);
  SNRESULT SetRTPCInternal(uint32_t parameterId, float value, CSnRegisteredObj* object, uint32_t playingId,
                           const TransParamsBase& params, SnValueMeaning meaning);
  SNRESULT SetRTPCImmediate(uint32_t parameterId, float value, const SnRTPCKey& key);
  void ResetRTPCInternal(uint32_t parameterId, const SnRTPCKey& key, const TransParamsBase& params);
  void ResetRTPCInternal(uint32_t parameterId, CSnRegisteredObj* object, uint32_t playingId,
                         const TransParamsBase& params);

  float GetDefaultValue(uint32_t parameterId, bool* found = nullptr);
  SNRESULT SetDefaultValue(uint32_t parameterId, float value);
  SNRESULT SetRampingSettings(uint32_t parameterId, uint32_t mode, float up, float down);
  SNRESULT AddBuiltInParamBinding(uint32_t slot, uint32_t parameterId);
  void PublishBuiltInValue(uint32_t slot, const SnRTPCKey& key, float value);

  // The value the parameter has for the key (best match, else the default); false without a record.
  bool GetValue(uint32_t parameterId, const SnRTPCKey& key, float& value);

  SNRESULT AddCurveSubscription(void* subscriber, uint32_t parameterId, uint32_t parameterType, uint32_t combination,
                                uint32_t propertyId, uint32_t curveId, uint32_t scaling,
                                const SnRTPCGraphPoint* points, uint32_t pointCount, const SnRTPCKey& key,
                                uint32_t kind, bool active);
  void RemoveSubscription(void* subscriber, uint32_t propertyId);
  bool RemoveSubscriptionCurve(void* subscriber, uint32_t propertyId, uint32_t curveId);
  void ActivateSubscriptions(void* subscriber, uint64_t propertyMask);
  void DeactivateSubscriptions(void* subscriber, uint64_t propertyMask);
  float EvaluateSubscription(void* subscriber, uint32_t propertyId, const SnRTPCKey& key);
  // Each curve of the subscriber's property that a modulator drives: (cookie, modulator id, curve).
  using ModulatorCurveVisitor = void (*)(void* cookie, uint32_t modulatorId, const CSnCurveGraph& graph);
  void ForEachModulatorCurve(void* subscriber, uint32_t propertyId, ModulatorCurveVisitor visit, void* cookie);
  bool GetLinearGainCurve(void* subscriber, uint32_t propertyId, uint32_t parameterId, float& slope, float& offset);

  // One subscription told of a modulator instance's change (old -> new for the instance's key), as a
  // game parameter's change is told: the curves the modulator drives give the value. Subscriptions
  // whose property a voice reads from its own modulators are left to the voice. Audio thread only.
  void NotifyModulatorSubscription(Subscription* subscription, uint32_t modulatorId, float oldValue, float newValue,
                                   const SnRTPCKey& key, const ISnRTPCTargetFilter* targets);
  // Whether the subscription reads a modulator through the notification above.
  static bool TakesModulatorNotification(const Subscription& subscription);

  // The owner's key as a pattern: its values and transitions go, and the subscriptions keyed by it.
  void RemoveValuesOfOwner(uint32_t parameterId, const SnRTPCKey& ownerKey);

  uint32_t ActiveSubscriptionCount(uint32_t parameterId);
  uint32_t RunningTransitionCount(uint32_t parameterId);
  bool HasExactValue(uint32_t parameterId, const SnRTPCKey& key);

 private:
  struct Parameter;
  struct ParamTransition final : ISnTransitionTarget {
    void TransitionUpdate(uint32_t kind, float value, bool done) override;
    CSnRTPCMgr* manager;
    Parameter* parameter;
    SnRTPCKey key;
    CSnTransition* transition;
    bool reset;
    ParamTransition* next;
  };
  struct Parameter {
    uint32_t id;
    float defaultValue = 0.0f;
    uint32_t rampMode = 0;
    float rampUp = 0.0f;
    float rampDown = 0.0f;
    SnRTPCKeyTree<float> values;
    ParamTransition* transitions = nullptr;
    SnArray<Subscription*> active;
    SnArray<Subscription*> inactive;
  };

  Parameter* FindParameter(uint32_t id);
  Parameter* GetOrCreateParameter(uint32_t id);
  void DestroyParameter(Parameter* parameter);
  float BaseValue(Parameter& parameter, const SnRTPCKey& key);
  float CurrentTarget(Parameter& parameter, const SnRTPCKey& key);
  ParamTransition* FindTransition(Parameter& parameter, const SnRTPCKey& key);
  void DropTransition(Parameter& parameter, ParamTransition* entry, bool detach);
  SNRESULT Apply(Parameter& parameter, const SnRTPCKey& key, float value, const TransParamsBase& params, bool reset);
  SNRESULT SetNow(Parameter& parameter, const SnRTPCKey& key, float value, bool reset);
  void OnTransitionStep(ParamTransition* entry, float value, bool done);
  bool RegisterOwner(uint32_t parameterId, const SnRTPCKey& key);
  void Notify(Parameter& parameter, const SnRTPCKey& key, float oldValue, float newValue, const void* filter);
  // A change of a game parameter, or of a modulator's value (`fromModulator`), for a key.
  struct Change {
    uint32_t parameterId;
    bool fromModulator;
    const SnRTPCKey& key;
    float oldValue, newValue;
    const void* filter;
    const ISnRTPCTargetFilter* targets;
  };
  void Tell(Subscription& subscription, const Change& change);
  void EndPass();
  float CurveSum(const Subscription& subscription, uint32_t parameterId, bool fromModulator, float x) const;
  float ParameterValueForCurve(const Subscription& subscription, const Curve& curve, const SnRTPCKey& key, bool& skip);

  Subscription* FindSubscription(void* subscriber, uint32_t propertyId);
  static uint32_t SubscriptionBucket(void* subscriber, uint32_t propertyId) {
    return uint32_t((uint64_t(reinterpret_cast<uintptr_t>(subscriber)) + propertyId) % kIndexBuckets);
  }
  void Hook(Subscription& subscription, Curve& curve, bool active, SNRESULT& result);
  void Unhook(Subscription& subscription, const Curve& curve);
  void FreeCurve(Curve& curve);
  void DestroySubscription(Subscription* subscription);
  void MoveSubscription(Subscription& subscription, bool activate);

  SnIdHashTable193<Parameter*> m_parameters;
  Subscription* m_subscriptions[kIndexBuckets] = {};
  SnArray<uint32_t> m_builtIns[SnBuiltIn_SlotCount];
  uint32_t m_notifyDepth = 0;
  SnArray<Subscription*> m_removedDuringPass;
};

// Null while the sound engine is not initialised.
extern CSnRTPCMgr* g_pRTPCMgr;

}  // namespace SN
