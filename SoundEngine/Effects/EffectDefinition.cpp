// Effect definitions, their loader, and the subscriptions of the parameter clones made from them.
#include "SoundEngine/Effects/EffectDefinition.h"

#include <cstring>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

// The bytes of one curve header and of one point as the bank stores them.
constexpr uint32_t kCurveHeaderBytes = 14;
constexpr uint32_t kPointBytes = 12;
constexpr uint32_t kMediaBytes = 5;
constexpr uint32_t kPropertyBytes = 5;

void FreePoints(CSnCurveGraph& curve) {
  if (curve.points) MemoryMgr::Free(g_DefaultPoolId, curve.points);
  curve = CSnCurveGraph{};
}

}  // namespace

CSnEffectDefinition::CSnEffectDefinition(uint32_t id, bool shared)
    : CSnIndexedObject(id, shared ? SnIndex_EffectDefinitions : SnIndex_SourcePluginDefinitions) {}

CSnEffectDefinition::~CSnEffectDefinition() {
  SetPluginParams(m_pluginId, nullptr);
  for (Curve& curve : m_curves) FreePoints(curve.curve);
  // A clone still subscribed belongs to a graph that outlived its reference: its targets go with us.
  for (Binding* binding : m_bindings) {
    if (g_pRTPCMgr)
      for (const Curve& curve : m_curves) g_pRTPCMgr->RemoveSubscription(binding, curve.pluginParamId);
    PoolDelete(g_DefaultPoolId, binding);
  }
}

SNRESULT CSnEffectDefinition::SetInitialValues(const uint8_t* data, uint32_t size) {
  SnBankCursor in(data, size);
  auto past = [this](const char* what) {
    SOUND_LOG(Error, "Effect %u: the %s run past the end of the object", ID(), what);
    return SN_Failure;
  };
  uint32_t pluginId = 0, blockSize = 0;
  if (!in.Take(pluginId) || !in.Take(blockSize)) return past("plug-in fields");
  const uint8_t* block = in.TakeBytes(blockSize);
  if (!block) return past("parameter block");
  if (pluginId != kNoPlugin) {
    ISnPluginParam* params = nullptr;
    if (CSnPluginFactoryTable::CreatePluginParam(&PluginAllocator(), pluginId, params) != SN_Success || !params) {
      // A plug-in the game did not register: the definition keeps what it had.
      SOUND_LOG(Warning, "Effect %u: plug-in %u is not registered; its parameters are not made", ID(), pluginId);
    } else {
      const SNRESULT init = params->Init(&PluginAllocator(), block, blockSize);
      if (init != SN_Success) {
        SOUND_LOG(Error, "Effect %u: plug-in %u refuses its parameter block", ID(), pluginId);
        params->Term(&PluginAllocator());
        return init;
      }
      SetPluginParams(pluginId, params);
    }
  }

  uint8_t mediaCount = 0;
  if (!in.Take(mediaCount)) return past("media count");
  if (uint32_t(mediaCount) * kMediaBytes > in.Left()) return past("media");
  const uint32_t mediaNeeded = m_media.Count() + mediaCount;
  if (m_media.Capacity() < mediaNeeded) m_media.GrowBy(mediaNeeded - m_media.Capacity());
  for (uint32_t i = 0; i < mediaCount; ++i) {
    Media media{};
    if (!in.Take(media.index) || !in.Take(media.mediaId)) return past("media");
    if (!m_media.Add(media)) SOUND_LOG(Error, "Effect %u: no memory for media %u", ID(), media.mediaId);
  }

  uint16_t curveCount = 0;
  if (!in.Take(curveCount)) return past("curve count");
  if (uint32_t(curveCount) * kCurveHeaderBytes > in.Left()) return past("curves");
  for (uint32_t i = 0; i < curveCount; ++i) {
    uint32_t parameterId = 0, curveId = 0;
    uint8_t kind = 0, extra = 0, pluginParamId = 0, scaling = 0;
    uint16_t points = 0;
    if (!in.Take(parameterId) || !in.Take(kind) || !in.Take(extra) || !in.Take(pluginParamId) || !in.Take(curveId) ||
        !in.Take(scaling) || !in.Take(points))
      return past("curves");
    const uint8_t* bytes = in.TakeBytes(uint32_t(points) * kPointBytes);
    if (!bytes) return past("curve points");
    static_assert(sizeof(SnRTPCGraphPoint) == kPointBytes, "bank points are copied as they lie");
    Curve curve{parameterId, kind, extra, curveId, pluginParamId, CSnCurveGraph{nullptr, points, scaling}};
    if (SetCurve(curve, reinterpret_cast<const SnRTPCGraphPoint*>(bytes)) != SN_Success)
      SOUND_LOG(Error, "Effect %u: no memory for curve %u", ID(), curveId);
  }

  uint16_t propertyCount = 0;
  if (!in.Take(propertyCount)) return past("property count");
  if (uint32_t(propertyCount) * kPropertyBytes > in.Left()) return past("properties");
  for (uint32_t i = 0; i < propertyCount; ++i) {
    uint8_t id = 0;
    float value = 0.0f;
    if (!in.Take(id) || !in.Take(value)) return past("properties");
    Property* existing = nullptr;
    for (Property& property : m_properties)
      if (property.id == id) existing = &property;
    if (existing) {
      existing->value = value;
    } else if (!m_properties.Add(Property{id, value}, 2)) {
      SOUND_LOG(Error, "Effect %u: no memory for property %u", ID(), unsigned(id));
    }
  }
  return SN_Success;
}

SNRESULT CSnEffectDefinition::SetCurve(const Curve& curve, const SnRTPCGraphPoint* points) {
  RemoveCurve(curve.pluginParamId, curve.curveId);
  Curve* entry = m_curves.Add(Curve{curve.parameterId, curve.kind, curve.extra, curve.curveId, curve.pluginParamId,
                                    CSnCurveGraph{nullptr, 0, curve.curve.scaling}},
                              2);
  if (!entry) return SN_InsufficientMemory;
  const uint32_t count = curve.curve.pointCount;
  if (!count) return SN_Success;
  const size_t bytes = sizeof(SnRTPCGraphPoint) * count;
  entry->curve.points = static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, bytes));
  if (!entry->curve.points) {
    m_curves.RemoveAt(m_curves.Count() - 1);
    return SN_InsufficientMemory;
  }
  memcpy(static_cast<void*>(entry->curve.points), points, bytes);
  entry->curve.pointCount = count;
  return SN_Success;
}

void CSnEffectDefinition::RemoveCurve(uint32_t pluginParamId, uint32_t curveId) {
  for (uint32_t i = 0; i < m_curves.Count(); ++i) {
    if (m_curves[i].pluginParamId != pluginParamId || m_curves[i].curveId != curveId) continue;
    FreePoints(m_curves[i].curve);
    m_curves[i] = m_curves[m_curves.Count() - 1];
    m_curves.RemoveAt(m_curves.Count() - 1);
    return;
  }
}

void CSnEffectDefinition::SubscribeRTPCs(ISnPluginParamTarget* target, const SnRTPCKey& key) {
  if (!g_pRTPCMgr) return;
  for (const Curve& c : m_curves) {
    const SNRESULT added = g_pRTPCMgr->AddCurveSubscription(target, c.parameterId, c.kind, c.extra, c.pluginParamId,
                                                            c.curveId, c.curve.scaling, c.curve.points,
                                                            c.curve.pointCount, key, SnSubscription_PluginParam, true);
    if (added != SN_Success) SOUND_LOG(Error, "Effect %u: curve %u could not be subscribed", ID(), c.curveId);
  }
}

void CSnEffectDefinition::UnsubscribeRTPCs(ISnPluginParamTarget* target) {
  if (!g_pRTPCMgr) return;
  for (const Curve& curve : m_curves) g_pRTPCMgr->RemoveSubscription(target, curve.pluginParamId);
}

void CSnEffectDefinition::InstantiateModulators(const SnRTPCKey& key, CSnModulatorInstanceList* modulators) {
  for (const Curve& curve : m_curves) {
    if (curve.kind != kParameterTypeModulator) continue;
    void* context = ModulatorObjects::GetOrCreateContext(curve.parameterId, key);
    // Only the bank modulators' contexts are instances a voice's list can hold.
    if (!modulators || !context || ModulatorObjects::Installed() != &DefaultModulatorObjects()) continue;
    // No mapping owner: the list only holds the instance for the voice; its value reaches the
    // plug-in's parameter through the curve's subscription.
    const SnModulatorMappingRequest request{nullptr, SnModulatorMapping_Effect, SnParamMask{}};
    if (modulators->AttachInstance(static_cast<CSnModulatorInstance*>(context), request) != SN_Success)
      SOUND_LOG(Error, "Effect %u: modulator %u could not join the voice", ID(), curve.parameterId);
    else
      AttachModulatorDrivers(curve.parameterId, key, *modulators);
  }
}

uint32_t CSnEffectDefinition::GetCurveExtra(uint32_t pluginParamId) const {
  for (const Curve& curve : m_curves)
    if (curve.pluginParamId == pluginParamId) return curve.extra;
  return 0;
}

float CSnEffectDefinition::GetPropertyValue(uint32_t propertyId) const {
  for (const Property& property : m_properties)
    if (property.id == propertyId) return property.value;
  return 0.0f;
}

void CSnEffectDefinition::SetPluginParams(uint32_t pluginId, ISnPluginParam* params) {
  if (m_params && m_params != params) m_params->Term(&PluginAllocator());
  m_pluginId = pluginId;
  m_params = params;
}

uint32_t CSnEffectDefinition::MediaId(uint32_t index) const {
  for (const Media& media : m_media)
    if (media.index == index) return media.mediaId;
  return kNoPlugin;
}

void CSnEffectDefinition::MixEffectView::SubscribeParams(ISnPluginParam* clone, const SnRTPCKey& key,
                                                        CSnModulatorInstanceList* modulators) {
  if (!clone) return;
  Binding* binding = PoolNew<Binding>(g_DefaultPoolId, m_definition, clone);
  if (!binding || !m_definition.m_bindings.Add(binding, 2)) {
    if (binding) PoolDelete(g_DefaultPoolId, binding);
    SOUND_LOG(Error, "Effect %u: no memory to drive a parameter copy", m_definition.ID());
    return;
  }
  m_definition.SubscribeRTPCs(binding, key);
  m_definition.InstantiateModulators(key, modulators);
}

void CSnEffectDefinition::MixEffectView::UnsubscribeParams(ISnPluginParam* clone) {
  SnArray<Binding*>& bindings = m_definition.m_bindings;
  for (uint32_t i = 0; i < bindings.Count(); ++i) {
    if (bindings[i]->Clone() != clone) continue;
    m_definition.UnsubscribeRTPCs(bindings[i]);
    PoolDelete(g_DefaultPoolId, bindings[i]);
    bindings.RemoveAt(i);
    return;
  }
}

CSnEffectDefinition* FindEffectDefinition(uint32_t id, bool shared) {
  if (!g_pObjectIndex || !id) return nullptr;
  CSnObjectIndexList& list = g_pObjectIndex->List(shared ? SnIndex_EffectDefinitions : SnIndex_SourcePluginDefinitions);
  CSnIndexedObject* found = list.FindAndAddRef(id);
  auto* definition = dynamic_cast<CSnEffectDefinition*>(found);
  if (found && !definition) found->Release();  // a source plug-in's node, not an effect
  return definition;
}

void TermEffectParams() {
  if (!g_pObjectIndex) return;
  for (SnIndexList list : {SnIndex_EffectDefinitions, SnIndex_SourcePluginDefinitions}) {
    g_pObjectIndex->List(list).ForEach([](CSnIndexedObject* object) {
      if (auto* definition = dynamic_cast<CSnEffectDefinition*>(object))
        definition->SetPluginParams(definition->PluginId(), nullptr);
    });
  }
}

namespace {

template <bool Shared>
SNRESULT CreateEffect(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object) {
  return CreateFromPayload<CSnEffectDefinition>(payload, size, object, Shared);
}

const SnHircKind kSharedEffectKind = {SnIndex_EffectDefinitions, CreateEffect<true>, nullptr, nullptr};
const SnHircKind kNodeEffectKind = {SnIndex_SourcePluginDefinitions, CreateEffect<false>, nullptr, nullptr};
const bool kRegistered =
    (SetHircKind(kHircSharedEffectType, &kSharedEffectKind), SetHircKind(kHircNodeEffectType, &kNodeEffectKind), true);

}  // namespace
}  // namespace SN
