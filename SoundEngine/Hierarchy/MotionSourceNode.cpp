// Motion sources: their bank payload, their plays into the motion devices and their source values.
#include "SoundEngine/Hierarchy/MotionSourceNode.h"

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Banks/SourceRecord.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

// The fewest bytes one source takes: two values, the initial value and a source record's fields.
constexpr uint32_t kLeastSourceBytes = 2 + 2 + 4 + 4 + 1 + 4 + 4 + 1;
// A motion instance's parameter 2 follows its source's value.
constexpr uint32_t kMotionSourceValueParameter = 31;

}  // namespace

CSnMotionSourceNode::~CSnMotionSourceNode() {
  for (SnMotionSource& source : m_sources) {
    source.desc->Clear();
    PoolDelete(g_DefaultPoolId, source.desc);
  }
  m_sources.Term();
}

SnMotionSource* CSnMotionSourceNode::FindSource(uint32_t sourceId) {
  for (SnMotionSource& source : m_sources)
    if (source.sourceId == sourceId) return &source;
  return nullptr;
}

SNRESULT CSnMotionSourceNode::ReadSources(SnBankCursor& cursor) {
  uint32_t count = 0;
  if (!cursor.Take(count)) {
    SOUND_LOG(Error, "Motion source %u: the source count runs past the end of the object", ID());
    return SN_Failure;
  }
  // The count is checked against what is left before anything is made for it.
  if (count > cursor.Left() / kLeastSourceBytes) {
    SOUND_LOG(Error, "Motion source %u: %u sources cannot fit in the %u bytes left", ID(), count, cursor.Left());
    return SN_Failure;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t first = 0, second = 0;
    float value = 0.0f;
    SnSourceRecord record;
    if (!cursor.Take(first) || !cursor.Take(second) || !cursor.Take(value)) {
      SOUND_LOG(Error, "Motion source %u: source %u runs past the end of the object", ID(), i);
      return SN_Failure;
    }
    const SNRESULT read = BankParse::ReadSourceRecord(cursor, record);
    if (read != SN_Success) {
      SOUND_LOG(Error, "Motion source %u: source %u cannot be read", ID(), i);
      return read;
    }
    SnMotionSource* source = FindSource(record.sourceId);
    if (!source) {
      auto* desc = PoolNew<CSnSourceDesc>(g_DefaultPoolId);
      if (!desc) return SN_InsufficientMemory;
      record.Describe(*desc);
      source = m_sources.Add(SnMotionSource{record.sourceId, desc, first, second, 0.0f});
      if (!source) {
        desc->Clear();
        PoolDelete(g_DefaultPoolId, desc);
        return SN_InsufficientMemory;
      }
    }
    SetSourceValue(record.sourceId, value);
  }
  return SN_Success;
}

SNRESULT CSnMotionSourceNode::SetInitialValues(const uint8_t* data, uint32_t size) {
  SnBankCursor cursor(data, size);
  const SNRESULT read = ReadSources(cursor);
  if (read != SN_Success) return read;
  const uint8_t* params = data + (size - cursor.Left());
  return ReadBaseParams(params, data + size, false);
}

SNRESULT CSnMotionSourceNode::PlayNode(CSnPlayParams& params) {
  params.flags |= CSnPlayParams::kFlagMotion;
  // Without a motion device there is nothing to drive: the play is no failure.
  if (!CSnMotionDeviceMgr::Get()) return SN_Success;
  for (const SnMotionSource& source : m_sources) VoiceManager::PlayLeafNode(this, source.desc, params);
  return SN_Success;
}

SNRESULT CSnMotionSourceNode::PrepareData() {
  SNRESULT result = SN_Success;
  for (const SnMotionSource& source : m_sources) {
    const CSnSourceDesc& desc = *source.desc;
    if (desc.StorageType() == CSnSourceDesc::Storage_Plugin || !desc.IsTableMedia()) continue;
    const SNRESULT prepared = desc.PrepareMedia();
    if (prepared != SN_Success) result = prepared;
  }
  return result;
}

void CSnMotionSourceNode::UnprepareData() {
  for (const SnMotionSource& source : m_sources) {
    const CSnSourceDesc& desc = *source.desc;
    if (desc.StorageType() != CSnSourceDesc::Storage_Plugin && desc.IsTableMedia()) desc.ReleaseBankMedia();
  }
}

SNRESULT CSnMotionSourceNode::SetSourceValue(uint32_t sourceId, float value) {
  SnMotionSource* source = FindSource(sourceId);
  if (!source) return SN_IdNotFound;
  if (value == source->value) return SN_Success;
  SnParamChange change{};
  change.parameterId = kMotionSourceValueParameter;
  change.value = value - source->value;
  for (ISnLeafInstance* instance = FirstInstance(); instance; instance = instance->m_pNextOfLeaf)
    if (instance->InstanceSource() == source->desc) instance->ParameterChanged(change);
  source->value = value;
  return SN_Success;
}

namespace {

const SnHircKind kMotionSourceKind = {SnIndex_Nodes, CreateFromPayload<CSnMotionSourceNode>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircMotionSourceType, &kMotionSourceKind), true);

}  // namespace
}  // namespace SN
