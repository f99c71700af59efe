// A modulator of a bank (object types 21 and 22): its properties and their ranges, the curves that
// drive its parameters, and its per-key instances reduced to the modulator's scope.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"
#include "SoundEngine/Modulators/ModulatorInstance.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnModulatorProcessor;

// The bank's HIRC types of oscillators (kind 0) and envelopes (kind 1).
constexpr uint8_t kHircOscillatorType = 21;
constexpr uint8_t kHircEnvelopeType = 22;

// Property ids of the bank payload.
enum SnModulatorProperty : uint32_t {
  SnModProp_Scope = 0,
  SnModProp_StopDriven = 1,
  SnModProp_Depth = 2,
  SnModProp_FadeIn = 3,
  SnModProp_Frequency = 4,
  SnModProp_Waveform = 5,
  SnModProp_Smoothing = 6,
  SnModProp_PulseWidth = 7,
  SnModProp_InitialPhase = 8,
  SnModProp_Attack = 9,
  SnModProp_Curve = 10,
  SnModProp_Decay = 11,
  SnModProp_Sustain = 12,
  SnModProp_SustainTime = 13,
  SnModProp_Release = 14,
  SnModProp_TriggerMode = 15,
};

// The RTPC parameter that drives a property (0 for the properties no curve drives).
uint32_t ModulatorParameterOfProperty(uint32_t kind, uint32_t propertyId);
// The limits a real property's value is held to, whether a bank, a range or a curve gives it (any
// finite value for the properties without limits), and the value as held: a NaN becomes the
// property's default and a negative sustain time stays held. The bank builder refuses what moves.
SnValueRange ModulatorPropertyLimits(uint32_t propertyId);
float HoldModulatorProperty(uint32_t propertyId, float value);

class CSnModulatorObject final : public CSnIndexedObject, public ISnModulatorParamTarget {
 public:
  // Null for a kind other than 0 and 1, or without memory. Not in the index yet: the bank loader
  // enters it once its payload is read.
  static CSnModulatorObject* Create(uint32_t id, uint32_t kind);
  // The payload after the id: property values, property ranges, then the curves on its parameters.
  SNRESULT SetInitValues(const uint8_t* data, uint32_t size);

  uint32_t Kind() const { return m_kind; }
  uint32_t Scope() const;
  // Whether an ending instance stops what it drives (envelopes whose property 1 is not 0).
  bool StopsDrivenOnEnd() const;
  uint32_t ParameterMask() const { return m_parameterMask; }

  // A property for a new instance of `key`: blob or default, the curve's value when one drives it,
  // a random offset inside its range, held to its limits (ranged or not).
  float ResolveProperty(uint32_t propertyId, const SnRTPCKey& key) const;
  void DeriveOscillator(const SnRTPCKey& key, SnOscillatorParams& params, float& initialPhase) const;
  void DeriveEnvelope(const SnRTPCKey& key, SnEnvelopeParams& params, uint32_t& releaseStart) const;

  bool CanRetrigger() const { return m_kind == SnModulator_Envelope; }
  bool ShouldTrigger(const SnModulatorInstantiationParams& params) const;
  // The key's instance: restarted, kept or newly made; null when none may be had.
  CSnModulatorInstance* GetOrCreateInstance(CSnModulatorInstance* existing, const SnModulatorInstantiationParams& params,
                                            bool& created);
  // Gets or creates the instance of the params' key; a new one joins `list`. SN_Success with the
  // instance in `instance`; SN_Failure when none could be had.
  SNRESULT Instantiate(const SnModulatorInstantiationParams& params, CSnModulatorProcessor& list,
                       CSnModulatorInstance** instance = nullptr);

  // Reads of the instance stored at exactly the reduced key; the key is rewritten to it.
  bool GetCurrentValue(SnRTPCKey& key, float& value);
  bool GetLastValue(SnRTPCKey& key, float& value);
  // The curve-driven parameter, given to every instance the reduced key covers.
  void SetModulatorParam(uint32_t parameterId, float value, const SnRTPCKey& key) override;
  // Every instance the key (as given) covers leaves the tree, finished.
  bool RemoveInstancesForKey(const SnRTPCKey& key);
  // The game-parameter subscriptions whose curves read this modulator (kept by the modulator
  // registry). Audio thread only.
  void AddSubscription(void* subscription);
  void RemoveSubscription(void* subscription);
  uint32_t SubscriptionCount() const { return m_subscriptions.Count(); }
  // The frame's end: every subscription is told each instance's value, then the instances found
  // inactive leave the tree. Audio thread only, under the modulator list's lock.
  void NotifyInstances();
  uint32_t InstanceCount();
  // An instance binds to this modulator or lets it go (CSnModulatorInstance's Init and end).
  void LinkBound(CSnModulatorInstance* instance);
  void UnlinkBound(CSnModulatorInstance* instance);

  static SnRTPCKey KeyOf(const SnModulatorInstantiationParams& params);
  static SnRTPCKey ReduceKey(SnRTPCKey key, uint32_t scope);

  CSnModulatorObject(uint32_t id, uint32_t kind) : CSnIndexedObject(id, SnIndex_Modulators), m_kind(kind) {}
  ~CSnModulatorObject() override;

 protected:
  void BeforeDestroy() override;

 private:
  SNRESULT ReadCurves(const uint8_t*& cursor, const uint8_t* end);
  // The bank's values of limited properties held to their limits, each one held said once.
  void HoldStoredValues();
  // Every instance matching `pattern` leaves the tree, finished (`unbind`: stopped), and loses the
  // tree's reference.
  void DropMatching(const SnRTPCKey& pattern, bool unbind = false);

  uint32_t m_kind;
  SnPropertyBlob4 m_values;
  SnPropertyBlob8 m_ranges;
  uint32_t m_parameterMask = 0;  // bit n: a curve drives parameter 42 + n
  SnArray<uint32_t> m_curveParameters;  // every parameter a curve drives, for the unsubscribing
  SnArray<uint32_t> m_drivers;  // the modulators its curves read, as the modulator registry links them
  SnRTPCKeyTree<CSnModulatorInstance*> m_instances;
  SnArray<void*> m_subscriptions;  // sorted by address, no duplicates
  SnArray<void*> m_told;  // the subscriptions of the frame's notification; its room kept between frames
  CSnModulatorInstance* m_pBound = nullptr;  // every instance bound to this one, linked through them
};

}  // namespace SN
