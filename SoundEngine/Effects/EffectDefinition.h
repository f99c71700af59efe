// Effect definitions as banks deliver them: the plug-in, its parameter object, its media and the
// game-parameter curves that drive its parameters. Read on the bank thread under GlobalAudioLock();
// the mixing graph references them from the audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Effects/PluginParamTarget.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

constexpr uint8_t kHircSharedEffectType = 18;
constexpr uint8_t kHircNodeEffectType = 19;
constexpr uint32_t kNoPlugin = 0xFFFFFFFFu;

class CSnEffectDefinition : public CSnIndexedObject {
 public:
  struct Media {
    uint8_t index;
    uint32_t mediaId;
  };
  struct Curve {
    uint32_t parameterId;  // the game parameter
    uint32_t kind;         // kParameterTypeModulator: a modulator drives it
    uint32_t extra;
    uint32_t curveId;
    uint32_t pluginParamId;
    CSnCurveGraph curve;  // its points are the definition's
  };
  struct Property {
    uint32_t id;
    float value;
  };

  CSnEffectDefinition(uint32_t id, bool shared);
  ~CSnEffectDefinition() override;

  bool IsShared() const { return List() == SnIndex_EffectDefinitions; }

  // The payload after the id. The parameter object's Init result when the plug-in refuses its block;
  // SN_Failure for a field past the end.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // Every curve drives `target`'s parameters for the key's objects.
  void SubscribeRTPCs(ISnPluginParamTarget* target, const SnRTPCKey& key);
  void UnsubscribeRTPCs(ISnPluginParamTarget* target);
  // The modulators of kind-2 curves make their contexts for the key; each joins `modulators` when
  // given (it maps onto none of the voice's own parameters: the curve drives the plug-in's).
  void InstantiateModulators(const SnRTPCKey& key, CSnModulatorInstanceList* modulators = nullptr);

  uint32_t GetCurveExtra(uint32_t pluginParamId) const;
  float GetPropertyValue(uint32_t propertyId) const;
  // Takes `params` (null clears); the object it replaces is terminated.
  void SetPluginParams(uint32_t pluginId, ISnPluginParam* params);
  void RemoveCurve(uint32_t pluginParamId, uint32_t curveId);

  uint32_t PluginId() const { return m_pluginId; }
  ISnPluginParam* Params() const { return m_params; }
  uint32_t MediaCount() const { return m_media.Count(); }
  const Media& MediaAt(uint32_t i) const { return m_media[i]; }
  // The media id stored for an index; kNoPlugin when none.
  uint32_t MediaId(uint32_t index) const;
  uint32_t CurveCount() const { return m_curves.Count(); }
  const Curve& CurveAt(uint32_t i) const { return m_curves[i]; }

  // What the mixing graph holds: the reference it takes is this definition's.
  ISnEffectDefinition* MixEffect() { return &m_mixEffect; }

 private:
  // The parameter target a subscribed clone is driven through.
  class Binding final : public ISnPluginParamTarget {
   public:
    Binding(CSnEffectDefinition& definition, ISnPluginParam* clone) : m_definition(definition), m_clone(clone) {}
    float GetParamBaseValue(uint32_t propertyId) override { return m_definition.GetPropertyValue(propertyId); }
    void SetParam(uint32_t propertyId, const void* value, uint32_t size) override {
      m_clone->SetParam(propertyId, value, size);
    }
    ISnPluginParam* Clone() const { return m_clone; }

   private:
    CSnEffectDefinition& m_definition;
    ISnPluginParam* m_clone;
  };

  class MixEffectView final : public ISnEffectDefinition {
   public:
    explicit MixEffectView(CSnEffectDefinition& definition) : m_definition(definition) {}
    void AddRef() override { m_definition.AddRef(); }
    void Release() override { m_definition.Release(); }
    uint32_t EffectId() const override { return m_definition.ID(); }
    uint32_t PluginKey() const override { return m_definition.m_pluginId; }
    ISnPluginParam* Params() override { return m_definition.m_params; }
    void SubscribeParams(ISnPluginParam* clone, const SnRTPCKey& key, CSnModulatorInstanceList* modulators) override;
    void UnsubscribeParams(ISnPluginParam* clone) override;
    const void* BankData() const override { return nullptr; }
    uint32_t MediaId(uint32_t index) const override { return m_definition.MediaId(index); }

   private:
    CSnEffectDefinition& m_definition;
  };

  SNRESULT SetCurve(const Curve& curve, const SnRTPCGraphPoint* points);

  uint32_t m_pluginId = kNoPlugin;
  ISnPluginParam* m_params = nullptr;
  SnArray<Media> m_media;
  SnArray<Curve> m_curves;
  SnArray<Property> m_properties;
  SnArray<Binding*> m_bindings;  // the clones the mixing graph subscribed
  MixEffectView m_mixEffect{*this};
};

// The loaded definition of an id, with a reference for the caller; null when none is loaded.
CSnEffectDefinition* FindEffectDefinition(uint32_t id, bool shared);

// Terminates the parameter objects of every loaded definition, which keep their plug-in ids: the
// engine's Term, before the plug-in allocator's pool goes.
void TermEffectParams();

}  // namespace SN
