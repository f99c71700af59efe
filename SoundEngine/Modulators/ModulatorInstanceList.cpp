// The per-voice modulator list: its shared record and node pool, attaching with mappings, pause,
// release and let-go, and the factor, buffers and ramps a parameter reads.
#include "SoundEngine/Modulators/ModulatorInstanceList.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Modulators/ModulatorInstance.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {

bool HasBuffer(const CSnModulatorInstance& instance) {
  const SnModulatorOutput* output = instance.Output();
  return output && output->samples;
}

// Every mapping of the array goes, its curve's points with it; the array keeps its room.
void ClearMappingArray(SnArray<SnModulatorMapping>& mappings) {
  for (SnModulatorMapping& mapping : mappings) mapping.FreeCurve();
  mappings.Clear();
}

}  // namespace

float SnModulatorMapping::Map(float value) const {
  if (!curve.points) return base + slope * std::clamp(value, low, high);
  const float y = curve.Evaluate(value);
  const float mapped = decibels ? float(std::pow(10.0, double(y) / 20.0)) : y;
  // A curve that overflows (a scaling of 10^y far up) leaves the parameter as it is.
  if (std::isfinite(mapped)) return mapped;
  return decibels ? 1.0f : 0.0f;
}

void SnModulatorMapping::FreeCurve() {
  if (curve.points) MemoryMgr::Free(g_DefaultPoolId, curve.points);
  curve = CSnCurveGraph{};
}

CSnModulatorInstanceList::Record* CSnModulatorInstanceList::CreateRecord() {
  Record* record = PoolNew<Record>(g_DefaultPoolId);
  if (!record) return nullptr;
  if (InitPool(*record, kPoolCapacity) != SN_Success) {
    PoolDelete(g_DefaultPoolId, record);
    return nullptr;
  }
  return record;
}

SNRESULT CSnModulatorInstanceList::InitPool(Record& record, uint32_t capacity) {
  if (!capacity) return SN_Success;
  void* memory = MemoryMgr::Malign(g_DefaultPoolId, sizeof(Node) * capacity, alignof(Node));
  if (!memory) return SN_InsufficientMemory;
  Node* nodes = static_cast<Node*>(memory);
  for (uint32_t i = 0; i < capacity; ++i) {
    new (&nodes[i]) Node();
    nodes[i].next = record.freeNodes;
    record.freeNodes = &nodes[i];
  }
  record.pool = nodes;
  record.poolCapacity = capacity;
  return SN_Success;
}

void CSnModulatorInstanceList::ReleaseRecord(Record* record) {
  if (!record) return;
  if (record->refCount > 1) {
    --record->refCount;
    return;
  }
  Node* const poolBegin = record->pool;
  Node* const poolEnd = record->pool + record->poolCapacity;
  for (Node* node = record->first; node;) {
    Node* next = node->next;
    node->instance->RemoveUser();
    node->instance->Release();
    ClearMappingArray(node->mappings);
    node->mappings.Term();
    if (node >= poolBegin && node < poolEnd) node->~Node();
    else PoolDelete(g_DefaultPoolId, node);
    node = next;
  }
  for (Node* node = record->freeNodes; node; node = node->next) node->mappings.Term();
  if (record->pool) MemoryMgr::Free(g_DefaultPoolId, record->pool);
  PoolDelete(g_DefaultPoolId, record);
}

SNRESULT CSnModulatorInstanceList::AttachInstance(CSnModulatorInstance* instance,
                                                  const SnModulatorMappingRequest& request) {
  if (!instance) {
    SOUND_LOG(Error, "Modulator list: no instance to attach");
    return SN_InvalidParameter;
  }
  if (!m_record) {
    m_record = CreateRecord();
    if (!m_record) return SN_Failure;
  }
  Node* node = m_record->first;
  while (node && node->instance != instance) node = node->next;
  if (!node) {
    if (m_record->nodeCount >= m_record->maxNodes) return SN_Failure;
    if (m_record->freeNodes) {
      node = m_record->freeNodes;
      m_record->freeNodes = node->next;
      node->next = nullptr;
    } else {
      node = PoolNew<Node>(g_DefaultPoolId);
      if (!node) return SN_Failure;
    }
    node->instance = instance;
    instance->AddRef();
    instance->AddUser();
    if (m_record->last) m_record->last->next = node;
    else m_record->first = node;
    m_record->last = node;
    ++m_record->nodeCount;
  }
  const bool mapped = request.kind == SnModulatorMapping_Node || request.kind == SnModulatorMapping_Effect;
  if (mapped && request.owner && instance->Owner())
    request.owner->AppendModulatorMappings(instance->Owner()->ID(), request.filter, node->mappings);
  return SN_Success;
}

void CSnModulatorInstanceList::ClearMappings() {
  if (!m_record) return;
  for (Node* node = m_record->first; node; node = node->next) ClearMappingArray(node->mappings);
}

void CSnModulatorInstanceList::Pause() {
  if (!m_record) return;
  for (Node* node = m_record->first; node; node = node->next) {
    CSnModulatorInstance& instance = *node->instance;
    instance.PauseUser();
    if (!instance.IsLive() && instance.State() != SnModulatorState_Finished) instance.FreezeOutput();
  }
}

void CSnModulatorInstanceList::Resume() {
  if (!m_record) return;
  for (Node* node = m_record->first; node; node = node->next) node->instance->ResumeUser();
}

void CSnModulatorInstanceList::Release(uint32_t offset) {
  if (!m_record) return;
  for (Node* node = m_record->first; node; node = node->next) node->instance->ScheduleRelease(offset);
}

void CSnModulatorInstanceList::Detach() {
  if (!m_record) return;
  for (Node* node = m_record->first; node; node = node->next) node->instance->ForgetDrivenVoice();
  Record* record = m_record;
  m_record = nullptr;
  ReleaseRecord(record);
}

void CSnModulatorInstanceList::ShareWith(CSnModulatorInstanceList& other) {
  if (&other == this || other.m_record == m_record) return;
  other.Detach();
  if (!m_record) return;
  ++m_record->refCount;
  other.m_record = m_record;
}

template <typename Visit>
void CSnModulatorInstanceList::ForEachMapping(const SnParamMask& mask, Visit visit) const {
  if (!m_record) return;
  for (const Node* node = m_record->first; node; node = node->next)
    for (const SnModulatorMapping& mapping : node->mappings)
      if (mask.Has(mapping.parameterId)) visit(*node->instance, mapping);
}

float CSnModulatorInstanceList::GetFactor(const SnParamMask& mask) const {
  float factor = 1.0f;
  ForEachMapping(mask, [&](const CSnModulatorInstance& instance, const SnModulatorMapping& mapping) {
    factor *= mapping.Map(instance.CurrentValue());
  });
  return factor;
}

float CSnModulatorInstanceList::GetFactorWithBuffers(const SnParamMask& mask) const {
  // A buffered instance's current value is its buffer's end value; the rest read the value they keep.
  return GetFactor(mask);
}

float CSnModulatorInstanceList::GetOffset(const SnParamMask& mask) const {
  float offset = 0.0f;
  ForEachMapping(mask, [&](const CSnModulatorInstance& instance, const SnModulatorMapping& mapping) {
    offset += mapping.Map(instance.CurrentValue());
  });
  return offset;
}

void CSnModulatorInstanceList::CountModulations(const SnParamMask& mask, uint32_t& buffered,
                                                uint32_t& scalar) const {
  buffered = scalar = 0;
  ForEachMapping(mask, [&](const CSnModulatorInstance& instance, const SnModulatorMapping&) {
    ++(HasBuffer(instance) ? buffered : scalar);
  });
}

void CSnModulatorInstanceList::CollectModulations(const SnParamMask& mask, SnModulatorBuffer* buffers,
                                                  uint32_t& bufferCount, SnModulatorRamp* ramps,
                                                  uint32_t& rampCount) const {
  const uint32_t bufferRoom = buffers ? bufferCount : 0;
  const uint32_t rampRoom = ramps ? rampCount : 0;
  bufferCount = rampCount = 0;
  ForEachMapping(mask, [&](const CSnModulatorInstance& instance, const SnModulatorMapping& mapping) {
    if (HasBuffer(instance)) {
      if (bufferCount < bufferRoom)
        // As long as the frame the pass wrote it for, whatever a parameter changed since.
        buffers[bufferCount++] = {instance.Output()->samples, LowerEngine::SamplesPerFrame(), mapping.base,
                                  mapping.slope, &mapping};
    } else if (rampCount < rampRoom) {
      // From the value the last frame ended on to this frame's.
      ramps[rampCount++] = {mapping.Map(instance.LastValue()), mapping.Map(instance.CurrentValue())};
    }
  });
}

}  // namespace SN
