// Registered game objects and their registry: set-up, the per-object setters the command dispatcher
// calls, the positioning update and the clean-up when the last holder lets an object go.
#include "SoundEngine/GameSyncs/RegistryMgr.h"

#include <bit>

#include "Base/Assert.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnRegistryMgr* g_pRegistryMgr = nullptr;

namespace {

constexpr float kRadiansToDegrees = 57.295776f;
constexpr uint32_t kUnregisteredGrowth = 32;
constexpr uint32_t kAllObjects = 0xFFFFFFFFu;

// Obstruction and occlusion arrive as 0..1 from the game; anything else is held to that range
// before it becomes a byte.
uint8_t ToByte(float value) {
  if (!(value > 0.0f)) return 0;  // negatives and NaN
  if (value >= 1.0f) return 255;
  return uint8_t(value * 255.0f);
}

}  // namespace

CSnRegisteredObj::~CSnRegisteredObj() {
  if (m_pModifiedNodes) {
    for (auto* item = m_pModifiedNodes->Head(); item; item = item->next) {
      if (!g_pObjectIndex) break;
      CSnIndexedObject* node = g_pObjectIndex->FindNodeByKeyAndAddRef(item->payload);
      if (!node) continue;
      if (auto* holder = dynamic_cast<ISnGameObjectValueHolder*>(node)) holder->DropGameObjectValues(this);
      node->Release();
    }
    PoolDelete(g_DefaultPoolId, m_pModifiedNodes);
    m_pModifiedNodes = nullptr;
  }
  if (g_pSwitchMgr) g_pSwitchMgr->RemoveGameObjectValues(this);

  const SnRTPCKey key = SnRTPCKey::ForObject(this);
  for (uint32_t i = 0; i < m_modulators.Count(); ++i) ModulatorObjects::DropContexts(m_modulators[i], key);
  if (g_pRTPCMgr)
    for (uint32_t i = 0; i < m_parameters.Count(); ++i) g_pRTPCMgr->RemoveValuesOfOwner(m_parameters[i], key);
  m_modulators.Term();
  m_parameters.Term();

  m_switchStates.Term();
  m_rays.Term();
  if (g_pRegistryMgr) g_pRegistryMgr->ForgetUnregistered(this);
  FreePositionBlock(m_positions);
}

void CSnRegisteredObj::Release() {
  const uint32_t count = (m_flags - 1) & kRefMask;
  m_flags = (m_flags & ~kRefMask) | count;
  if (count == 0) PoolDelete(g_DefaultPoolId, this);
}

SnSwitchPair CSnRegisteredObj::GetNodeSwitchState(uint32_t nodeId) const {
  for (uint32_t i = 0; i < m_switchStates.Count(); ++i)
    if (m_switchStates[i].nodeId == nodeId) return {m_switchStates[i].switchId, m_switchStates[i].extra};
  return {0, 0};
}

SNRESULT CSnRegisteredObj::SetNodeSwitchState(uint32_t nodeId, SnSwitchPair pair) {
  for (SnNodeSwitchState& state : m_switchStates) {
    if (state.nodeId == nodeId) {
      state.switchId = pair.switchId;
      state.extra = pair.extra;
      return SN_Success;
    }
  }
  return m_switchStates.Add({nodeId, pair.switchId, pair.extra}) ? SN_Success : SN_Failure;
}

void CSnRegisteredObj::ClearNodeSwitchState(uint32_t nodeId) {
  for (uint32_t i = 0; i < m_switchStates.Count(); ++i) {
    if (m_switchStates[i].nodeId == nodeId) {
      m_switchStates.RemoveAt(i);
      return;
    }
  }
}

SNRESULT CSnRegisteredObj::AddModifiedNode(const SnNodeKey& node) {
  if (!m_pModifiedNodes) {
    m_pModifiedNodes = PoolNew<SnPooledList<SnNodeKey>>(g_DefaultPoolId);
    if (!m_pModifiedNodes) return SN_Failure;
    m_pModifiedNodes->Init(0, SnPooledList<SnNodeKey>::kUnlimited);
  }
  for (auto* item = m_pModifiedNodes->Head(); item; item = item->next)
    if (item->payload.nodeId == node.nodeId && item->payload.isBus == node.isBus) return SN_Success;
  return m_pModifiedNodes->Append(node) ? SN_Success : SN_Failure;
}

uint32_t CSnRegisteredObj::CountEmitterListenerRays(uint32_t mask) const {
  const uint32_t listeners = uint32_t(std::popcount(uint32_t(m_positions.listenerMask & mask)));
  return m_positions.multiPositionType ? listeners * m_positions.count : listeners;
}

void CSnRegisteredObj::UpdatePositioning() {
  if (!IsDirty()) return;
  while (m_rays.Count()) m_rays.RemoveAt(m_rays.Count() - 1);
  const uint32_t positions = m_positions.multiPositionType ? m_positions.count : (m_positions.count ? 1u : 0u);
  int32_t nearest = -1;
  float nearestDistance = 1e10f;
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
    if (!(m_positions.listenerMask & (1u << listener))) continue;
    for (uint32_t p = 0; p < positions; ++p) {
      SnEmitterListenerRay ray{};
      ray.factors[0] = ray.factors[1] = ray.factors[2] = 1.0f;
      ray.listenerBit = uint8_t(listener);
      const float distance = LowerEngine::ComputeEmitterRay(listener, m_positions.positions[p], m_attenuationScaling, ray);
      if (!m_rays.Add(ray)) break;
      if (distance < nearestDistance) {
        nearestDistance = distance;
        nearest = int32_t(m_rays.Count() - 1);
      }
    }
  }
  if (nearest >= 0 && g_pRTPCMgr) {
    const SnEmitterListenerRay& ray = m_rays[uint32_t(nearest)];
    const SnRTPCKey key = SnRTPCKey::ForObject(this);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_Distance, key, ray.distance);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_Azimuth, key, ray.azimuth * kRadiansToDegrees);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_Elevation, key, ray.elevation * kRadiansToDegrees);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_EmitterAngle, key, ray.emitterAngle * kRadiansToDegrees);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_Obstruction, key, float(m_obstruction[ray.listenerBit]) * (1.0f / 255.0f) * 100.0f);
    g_pRTPCMgr->PublishBuiltInValue(SnBuiltIn_Occlusion, key, float(m_occlusion[ray.listenerBit]) * (1.0f / 255.0f) * 100.0f);
  }
  m_flags &= ~kDirtyBit;
}

SNRESULT CSnRegistryMgr::Init() {
  m_posted.Init(g_DefaultPoolId);
  if (!m_modifiedNodes.Init(8, SnPooledList<SnNodeKey>::kUnlimited)) return SN_InsufficientMemory;
  m_objects.Init(g_DefaultPoolId);
  CSnRegisteredObj* global = RegisterGameObj(0, 0xFF);
  if (!global) return SN_InsufficientMemory;
  const SnSoundPosition origin{};
  return CopyPositionBlock(global->m_positions, &origin, 1, 0) == SN_Success ? SN_Success : SN_InsufficientMemory;
}

void CSnRegistryMgr::Term() {
  m_unregisteredReferenced.Term();
  UnregisterGameObj(0);
  for (auto it = m_objects.Begin(); !it.AtEnd();) {
    CSnRegisteredObj* object = it.node->value;
    it = m_objects.Erase(it);
    object->Release();
  }
  m_objects.Term();
  m_modifiedNodes.Term();
  m_posted.Term();
}

SnObjectMemory CSnRegistryMgr::ReserveObjectMemory() {
  const SnObjectMemory memory{MemoryMgr::Malign(g_DefaultPoolId, sizeof(CSnRegisteredObj), alignof(CSnRegisteredObj)),
                              SnIdHashTable193<CSnRegisteredObj*>::NodeMemory(g_DefaultPoolId)};
  if (memory.object && memory.entry) return memory;
  FreeObjectMemory(memory);
  return {};
}

void CSnRegistryMgr::FreeObjectMemory(const SnObjectMemory& memory) {
  MemoryMgr::Free(g_DefaultPoolId, memory.object);
  MemoryMgr::Free(g_DefaultPoolId, memory.entry);
}

bool CSnRegistryMgr::NoteRegistration(uint32_t id, SnObjectMemory& memory) {
  memory = {};
  if (m_posted.Find(id)) return true;
  void* note = SnIdHashTable193<bool>::NodeMemory(g_DefaultPoolId);
  if (note) memory = ReserveObjectMemory();
  if (!memory.object) {
    MemoryMgr::Free(g_DefaultPoolId, note);
    return false;
  }
  m_posted.Insert(note, id);
  return true;
}

void CSnRegistryMgr::NoteUnregistration(uint32_t id) {
  if (id == kAllObjects) {
    m_posted.RemoveAll();
    return;
  }
  auto it = m_posted.FindWithPrev(id);
  if (!it.AtEnd()) m_posted.Erase(it);
}

CSnRegisteredObj* CSnRegistryMgr::RegisterGameObj(uint32_t id, uint32_t listenerMask, SnObjectMemory memory) {
  if (CSnRegisteredObj** found = m_objects.Find(id)) {
    FreeObjectMemory(memory);
    (*found)->m_positions.listenerMask = uint8_t(listenerMask);
    (*found)->SetDirty();
    return *found;
  }
  if (!memory.object) memory = ReserveObjectMemory();
  if (!memory.object) return nullptr;
  auto* object = new (memory.object) CSnRegisteredObj(id);
  *m_objects.Insert(memory.entry, id) = object;
  object->m_positions.listenerMask = uint8_t(listenerMask);
  return object;
}

void CSnRegistryMgr::KeepWhileHeld(CSnRegisteredObj* object, const char* caller) {
  if (object->RefCount() > 1 && !m_unregisteredReferenced.Add(object, kUnregisteredGrowth))
    SOUND_LOG_REPEATING_ABOUT(Error, object->ID(),
                              "%s: no memory to keep game object %u, still in use, for its position updates", caller,
                              object->ID());
}

void CSnRegistryMgr::Unregister(SnIdHashTable193<CSnRegisteredObj*>::Iterator it) {
  CSnRegisteredObj* object = it.node->value;
  m_objects.Erase(it);
  KeepWhileHeld(object, "UnregisterGameObj");
  object->Release();
}

void CSnRegistryMgr::UnregisterGameObj(uint32_t id) {
  auto it = m_objects.FindWithPrev(id);
  if (!it.AtEnd()) Unregister(it);
}

void CSnRegistryMgr::UnregisterAllGameObj() {
  for (auto it = m_objects.Begin(); !it.AtEnd();) {
    if (it.node->key == 0) {
      m_objects.Next(it);
      continue;
    }
    CSnRegisteredObj* object = it.node->value;
    it = m_objects.Erase(it);
    KeepWhileHeld(object, "UnregisterAllGameObj");
    object->Release();
  }
}

void CSnRegistryMgr::ForgetUnregistered(CSnRegisteredObj* object) {
  const int32_t index = m_unregisteredReferenced.IndexOf(object);
  if (index < 0) return;
  const uint32_t last = m_unregisteredReferenced.Count() - 1;
  m_unregisteredReferenced[uint32_t(index)] = m_unregisteredReferenced[last];
  m_unregisteredReferenced.RemoveAt(last);
}

CSnRegisteredObj* CSnRegistryMgr::Find(uint32_t id) {
  CSnRegisteredObj** found = m_objects.Find(id);
  return found ? *found : nullptr;
}

SNRESULT CSnRegistryMgr::SetActiveListeners(uint32_t id, uint32_t mask) {
  CSnRegisteredObj* object = Find(id);
  if (!object) return SN_Failure;
  LowerEngine::SetGameObjectActiveListeners(object, object->m_positions.listenerMask, mask);
  object->m_positions.listenerMask = uint8_t(mask);
  object->SetDirty();
  return SN_Success;
}

SNRESULT CSnRegistryMgr::SetPosition(uint32_t id, const SnSoundPosition& position) {
  return SetMultiplePositions(id, &position, 1, 0);
}

SNRESULT CSnRegistryMgr::SetMultiplePositions(uint32_t id, const SnSoundPosition* positions, uint16_t count,
                                              uint8_t type) {
  CSnRegisteredObj* object = Find(id);
  if (!object) return SN_Failure;
  const SNRESULT result = CopyPositionBlock(object->m_positions, positions, count, type);
  if (result == SN_Success) object->SetDirty();
  return result;
}

SNRESULT CSnRegistryMgr::SetGameObjectAuxSendValues(uint32_t id, const SnAuxSendValue* values, uint32_t count) {
  CSnRegisteredObj* object = Find(id);
  if (!object || count > kMaxGameObjectAuxSends || (count && !values)) return SN_Failure;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i)
    if (values[i].auxBusId != 0 && values[i].controlValue > 0.0f) object->m_auxSends[kept++] = values[i];
  for (; kept < kMaxGameObjectAuxSends; ++kept) object->m_auxSends[kept] = SnAuxSendValue{0, 0.0f};
  return SN_Success;
}

SNRESULT CSnRegistryMgr::SetObjectObstructionAndOcclusion(uint32_t id, uint32_t listener, float obstruction,
                                                          float occlusion) {
  CSnRegisteredObj* object = Find(id);
  if (!object || listener >= kMaxListeners) return SN_Failure;
  if (!(obstruction >= 0.0f && obstruction <= 1.0f) || !(occlusion >= 0.0f && occlusion <= 1.0f))
    SOUND_LOG(Warning, "Obstruction %g and occlusion %g of game object %u are held to 0..1", double(obstruction),
              double(occlusion), id);
  object->m_obstruction[listener] = ToByte(obstruction);
  object->m_occlusion[listener] = ToByte(occlusion);
  object->SetDirty();
  return SN_Success;
}

SNRESULT CSnRegistryMgr::SetGameObjectOutputBusVolume(uint32_t id, float volume) {
  CSnRegisteredObj* object = Find(id);
  if (!object) return SN_Failure;
  object->m_outputBusVolume = volume;
  return SN_Success;
}

SNRESULT CSnRegistryMgr::SetAttenuationScalingFactor(uint32_t id, float factor) {
  CSnRegisteredObj* object = Find(id);
  if (!object) return SN_Failure;
  object->m_attenuationScaling = factor;
  object->SetDirty();
  return SN_Success;
}

CSnRegisteredObj* CSnRegistryMgr::GetObjAndAddref(uint32_t id) {
  CSnRegisteredObj* object = Find(id);
  if (object) object->AddRef();
  return object;
}

void CSnRegistryMgr::FlagObjectsForListeners(uint32_t mask) {
  for (auto it = m_objects.Begin(); !it.AtEnd(); m_objects.Next(it))
    if (it.node->value->m_positions.listenerMask & mask) it.node->value->SetDirty();
  for (CSnRegisteredObj* object : m_unregisteredReferenced)
    if (object->m_positions.listenerMask & mask) object->SetDirty();
}

SnPooledList<SnNodeKey>::Item* CSnRegistryMgr::AddModifiedNode(const SnNodeKey& node) {
  for (auto* item = m_modifiedNodes.Head(); item; item = item->next)
    if (item->payload.nodeId == node.nodeId && item->payload.isBus == node.isBus) return item;
  return m_modifiedNodes.Append(node);
}

void CSnRegistryMgr::ClearNodeSwitchState(uint32_t nodeId, CSnRegisteredObj* object) {
  if (object) {
    object->ClearNodeSwitchState(nodeId);
    return;
  }
  for (auto it = m_objects.Begin(); !it.AtEnd(); m_objects.Next(it)) it.node->value->ClearNodeSwitchState(nodeId);
}

void CSnRegistryMgr::UpdateFrame() {
  for (auto it = m_objects.Begin(); !it.AtEnd(); m_objects.Next(it))
    if (it.node->value->RefCount() > 1) it.node->value->UpdatePositioning();
  for (uint32_t i = 0; i < m_unregisteredReferenced.Count(); ++i) m_unregisteredReferenced[i]->UpdatePositioning();
}

}  // namespace SN
