// The common node parameters of a bank payload, read after each kind's leading fields. Every block
// is checked against the end of the object's payload: a field that would cross it fails the node
// with SN_Failure and leaves what was already applied.
#include <cstring>

#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
class PayloadCursor {
 public:
  PayloadCursor(const uint8_t*& at, const uint8_t* end) : m_at(at), m_end(end) {}
  bool Has(uint64_t bytes) const { return m_at <= m_end && uint64_t(m_end - m_at) >= bytes; }
  template <typename T>
  bool Read(T& value) {
    if (!Has(sizeof(T))) return false;
    memcpy(&value, m_at, sizeof(T));
    m_at += sizeof(T);
    return true;
  }
  const uint8_t* Take(uint64_t bytes) {
    if (!Has(bytes)) return nullptr;
    const uint8_t* taken = m_at;
    m_at += bytes;
    return taken;
  }

 private:
  const uint8_t*& m_at;
  const uint8_t* m_end;
};

#define READ_OR_FAIL(cursor, value, what)                                             \
  do {                                                                                \
    if (!(cursor).Read(value)) {                                                      \
      SOUND_LOG(Error, "Node %u: the %s run past the end of the object", ID(), what); \
      return SN_Failure;                                                              \
    }                                                                                 \
  } while (0)
}  // namespace

SNRESULT CSnPropertyNode::ReadBaseParams(const uint8_t*& cursor, const uint8_t* end, bool effectsOnly) {
  SNRESULT result = ReadEffects(cursor, end, effectsOnly);
  if (result != SN_Success || effectsOnly) return result;
  PayloadCursor in(cursor, end);

  uint8_t attachment = 0;
  READ_OR_FAIL(in, attachment, "attachment flags");
  SetFlagA(kOverridesAttachment, attachment & 1);

  uint32_t busId = 0, parentId = 0;
  READ_OR_FAIL(in, busId, "output bus id");
  if (busId) {
    auto* bus =
        g_pObjectIndex ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(busId, true)) : nullptr;
    if (!bus) {
      SOUND_LOG(Error, "Node %u: output bus %u is not loaded", ID(), busId);
      return SN_Failure;
    }
    SetOutputBus(bus);
    bus->AddChild(this);
    bus->Release();
  }
  READ_OR_FAIL(in, parentId, "parent id");
  if (parentId) {
    // A parent not loaded (yet) is no fault: it adds its children by id as it loads.
    if (auto* parent = g_pObjectIndex
                           ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(parentId, IsBus()))
                           : nullptr) {
      // A loop or a tree too deep fails the node (logged); any other refusal leaves it without a parent.
      const SNRESULT placed = parent->CheckDepthBelow(this);
      if (placed == SN_Success && parent->AddChild(this) == SN_Success) SetParent(parent);
      parent->Release();
      if (placed != SN_Success) return placed;
    }
  }

  uint8_t priorityBits = 0;
  READ_OR_FAIL(in, priorityBits, "priority flags");
  const uint8_t oldPriority = FlagsA() & (kOverridesPriority | kPriorityDistance);
  SetFlagA(kOverridesPriority, priorityBits & 1);
  SetFlagA(kPriorityDistance, priorityBits & 2);
  SetMidiFlags(uint8_t((priorityBits >> 2) & 0x0F));
  if (oldPriority != (FlagsA() & (kOverridesPriority | kPriorityDistance))) ValuesChanged();

  for (auto reader :
       {&CSnPropertyNode::ReadProperties, &CSnPropertyNode::ReadPositioning, &CSnPropertyNode::ReadAuxSends,
        &CSnPropertyNode::ReadAdvanced, &CSnPropertyNode::ReadStateGroups, &CSnPropertyNode::ReadCurves}) {
    result = (this->*reader)(cursor, end);
    if (result != SN_Success) return result;
  }

  if (LoadingBankMotionFlag()) {
    uint32_t secondaryId = 0;
    READ_OR_FAIL(in, secondaryId, "secondary output id");
    if (secondaryId) {
      auto* output = g_pObjectIndex
                         ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(secondaryId, true))
                         : nullptr;
      if (!output) {
        SOUND_LOG(Error, "Node %u: secondary output %u is not loaded", ID(), secondaryId);
        return SN_Failure;
      }
      SetSecondaryOutput(output);
      output->AddChild(this);
      output->Release();
    }
  }
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadEffects(const uint8_t*& cursor, const uint8_t* end, bool effectsOnly) {
  PayloadCursor in(cursor, end);
  uint8_t overrides, count, bypass = 0;
  READ_OR_FAIL(in, overrides, "effect flags");
  READ_OR_FAIL(in, count, "effect count");
  if (count == 0) {
    if (!effectsOnly) SetFlagB(kOverridesEffects, overrides);
    return SN_Success;
  }
  READ_OR_FAIL(in, bypass, "effect bypass bits");
  if (!in.Has(uint64_t(count) * 7)) {
    SOUND_LOG(Error, "Node %u: the %u effect records run past the end of the object", ID(), unsigned(count));
    return SN_Failure;
  }
  if (!effectsOnly) SetFlagB(kOverridesEffects, overrides);
  for (uint32_t i = 0; i < count; ++i) {
    // Room for every record was checked above.
    uint8_t slot = 0, shared = 0, rendered = 0;
    uint32_t effectId = 0;
    in.Read(slot);
    in.Read(effectId);
    in.Read(shared);
    in.Read(rendered);
    if (slot > 3) {
      SOUND_LOG(Error, "Node %u: effect slot %u, beyond the four a node has", ID(), unsigned(slot));
      return SN_InvalidParameter;
    }
    SNRESULT result = MarkSlotRendered(slot, rendered);
    if (result == SN_Success && !effectsOnly && !rendered && effectId)
      result = SetEffectSlot(slot, effectId, shared, 0);
    if (result != SN_Success) return result;
  }
  if (!effectsOnly) SetBypassBits(bypass, 0xFF);
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadProperties(const uint8_t*& cursor, const uint8_t* end) {
  if (MutableProperties().ReadFromBank(cursor, end) != SN_Success || m_ranges.ReadFromBank(cursor, end) != SN_Success) {
    SOUND_LOG(Error, "Node %u: a property block runs past the end of the object", ID());
    return SN_Failure;
  }
  HoldBankProperties(MutableProperties(), "Node", ID(), PropertyRange);
  HoldBankRanges(m_ranges, "Node", ID());
  SetFlagB(kStateValuesApply, true);
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadPositioning(const uint8_t*& cursor, const uint8_t* end) {
  PayloadCursor in(cursor, end);
  uint8_t bits = 0;
  READ_OR_FAIL(in, bits, "positioning flags");
  SetFlagB(kHasPositioning, bits & 0x01);
  if (!(bits & 0x01)) return SN_Success;
  if (bits & 0x02) {
    m_sendFlags &= uint8_t(~0x03);
    SetFlagB(kPositionOption, bits & 0x04);
  }
  if (!(bits & 0x08)) return SN_Success;
  if (!m_positioning && !(m_positioning = PoolNew<SnPositioningParams>(g_DefaultPoolId))) return SN_InsufficientMemory;
  m_sendFlags = uint8_t((m_sendFlags & ~0x03) | 1);
  uint8_t type = 0;
  READ_OR_FAIL(in, type, "3D positioning type");
  m_sendFlags = uint8_t((m_sendFlags & ~0x0C) | ((type & 0x03) << 2));
  READ_OR_FAIL(in, m_positioning->attenuationId, "attenuation id");
  m_positioning->flags = uint8_t((m_positioning->flags & ~0x01) | ((bits >> 4) & 1));
  if ((type & 0x03) == 1) {
    m_positioning->flags = uint8_t((m_positioning->flags & ~0x08) | (((bits >> 6) & 1) << 3));
    return SN_Success;
  }
  uint8_t pathMode = 0;
  READ_OR_FAIL(in, pathMode, "path mode");
  m_positioning->pathMode = pathMode;
  m_positioning->flags = uint8_t((m_positioning->flags & ~0x20) | (((bits >> 5) & 1) << 5));
  READ_OR_FAIL(in, m_positioning->pathTransitionMs, "path transition time");
  m_positioning->flags = uint8_t((m_positioning->flags & ~0x10) | (((bits >> 7) & 1) << 4));
  uint32_t vertexCount = 0, itemCount = 0;
  READ_OR_FAIL(in, vertexCount, "path vertex count");
  const uint8_t* vertexBytes = in.Take(uint64_t(vertexCount) * sizeof(SnPathVertex));
  if (!vertexBytes) {
    SOUND_LOG(Error, "Node %u: %u path vertices run past the end of the object", ID(), vertexCount);
    return SN_Failure;
  }
  READ_OR_FAIL(in, itemCount, "path item count");
  const uint8_t* itemBytes = in.Take(uint64_t(itemCount) * 8);
  const uint8_t* randomBytes = itemBytes ? in.Take(uint64_t(itemCount) * 12) : nullptr;
  if (!itemBytes || !randomBytes) {
    SOUND_LOG(Error, "Node %u: %u path items run past the end of the object", ID(), itemCount);
    return SN_Failure;
  }
  if (!vertexCount || !itemCount) return SN_Success;
  // Copied out of the payload: it is only byte-aligned.
  SnArray<SnPathVertex> vertices;
  SnArray<uint32_t> ranges;
  SnArray<float> random;
  if (!vertices.GrowBy(vertexCount) || !ranges.GrowBy(2 * itemCount) || !random.GrowBy(3 * itemCount))
    return SN_InsufficientMemory;
  memcpy(static_cast<void*>(vertices.begin()), vertexBytes, sizeof(SnPathVertex) * vertexCount);
  memcpy(ranges.begin(), itemBytes, 8 * size_t(itemCount));
  memcpy(random.begin(), randomBytes, 12 * size_t(itemCount));
  const SNRESULT result = m_positioning->SetPath(vertices.begin(), vertexCount, ranges.begin(), random.begin(),
                                                 itemCount, m_positioning->pathTransitionMs);
  if (result != SN_Success)
    SOUND_LOG(Error, "Node %u: its path items do not lie within its %u vertices", ID(), vertexCount);
  return result;
}

SNRESULT CSnPropertyNode::ReadAuxSends(const uint8_t*& cursor, const uint8_t* end) {
  PayloadCursor in(cursor, end);
  uint8_t bits = 0;
  READ_OR_FAIL(in, bits, "send flags");
  m_sendFlags = uint8_t((m_sendFlags & ~0x70) | ((bits & 0x07) << 4));
  if (!(bits & 0x08)) return SN_Success;
  for (uint32_t i = 0; i < 4; ++i) {
    uint32_t busId = 0;
    READ_OR_FAIL(in, busId, "auxiliary bus ids");
    const SNRESULT result = SetAuxBusId(i, busId);
    if (result != SN_Success) return result;
  }
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadAdvanced(const uint8_t*& cursor, const uint8_t* end) {
  PayloadCursor in(cursor, end);
  uint8_t bits = 0, virtualBehaviour = 0, behaviour = 0, extra = 0;
  uint16_t maximum = 0;
  READ_OR_FAIL(in, bits, "advanced settings");
  READ_OR_FAIL(in, virtualBehaviour, "advanced settings");
  READ_OR_FAIL(in, maximum, "advanced settings");
  READ_OR_FAIL(in, behaviour, "advanced settings");
  READ_OR_FAIL(in, extra, "advanced settings");
  SetFlagA(kLimiterOldestFirst, bits & 0x01);
  SetFlagA(kLimiterGoVirtual, bits & 0x02);
  SetFlagA(kLimitsGlobally, bits & 0x04);
  SetFlagA(kEnforcesOwnLimit, bits & 0x08);
  SetFlagA(kOverridesVoiceBehaviour, bits & 0x10);
  m_voiceSettings = uint8_t((m_voiceSettings & 0x80) | (virtualBehaviour & 0x07) | ((behaviour & 0x0F) << 3));
  SetMaxInstances(maximum);
  m_sendFlags = uint8_t((m_sendFlags & 0x7F) | ((extra & 1) << 7));
  m_outputFlags = uint8_t((m_outputFlags & ~0x07) | ((extra >> 1) & 0x07));
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadStateGroups(const uint8_t*& cursor, const uint8_t* end) {
  PayloadCursor in(cursor, end);
  uint32_t groups = 0;
  READ_OR_FAIL(in, groups, "state group count");
  for (uint32_t g = 0; g < groups; ++g) {
    uint32_t groupId = 0;
    uint8_t syncType = 0;
    uint16_t states = 0;
    READ_OR_FAIL(in, groupId, "state groups");
    READ_OR_FAIL(in, syncType, "state groups");
    READ_OR_FAIL(in, states, "state groups");
    const uint8_t* mapping = in.Take(uint64_t(states) * 8);
    if (!mapping) {
      SOUND_LOG(Error, "Node %u: the %u states of group %u run past the end of the object", ID(), unsigned(states),
                groupId);
      return SN_Failure;
    }
    CSnStateGroupLink* link = AddStateGroupLink(groupId, syncType, false);
    if (!link) continue;  // logged; the node plays without the group
    link->SetSyncType(syncType);
    for (uint32_t s = 0; s < states; ++s) {
      uint32_t stateId = 0, setId = 0;
      memcpy(&stateId, mapping + 8 * s, 4);
      memcpy(&setId, mapping + 8 * s + 4, 4);
      link->SetStateProperties(setId, stateId);
    }
  }
  if (groups) RefreshStateValues();
  return SN_Success;
}

SNRESULT CSnPropertyNode::ReadCurves(const uint8_t*& cursor, const uint8_t* end) {
  PayloadCursor in(cursor, end);
  uint16_t count = 0;
  READ_OR_FAIL(in, count, "curve count");
  for (uint32_t c = 0; c < count; ++c) {
    uint32_t rtpcId = 0, curveId = 0;
    uint8_t type = 0, accumulation = 0, parameterId = 0, scaling = 0;
    uint16_t pointCount = 0;
    READ_OR_FAIL(in, rtpcId, "curves");
    READ_OR_FAIL(in, type, "curves");
    READ_OR_FAIL(in, accumulation, "curves");
    READ_OR_FAIL(in, parameterId, "curves");
    READ_OR_FAIL(in, curveId, "curves");
    READ_OR_FAIL(in, scaling, "curves");
    READ_OR_FAIL(in, pointCount, "curves");
    const uint8_t* pointBytes = in.Take(uint64_t(pointCount) * sizeof(SnRTPCGraphPoint));
    if (!pointBytes) {
      SOUND_LOG(Error, "Node %u: the %u points of curve %u run past the end of the object", ID(), unsigned(pointCount),
                curveId);
      return SN_Failure;
    }
    SnArray<SnRTPCGraphPoint> points;
    if (pointCount && !points.GrowBy(pointCount)) return SN_InsufficientMemory;
    if (pointCount) memcpy(static_cast<void*>(points.begin()), pointBytes, sizeof(SnRTPCGraphPoint) * pointCount);
    const SNRESULT result =
        AddCurve(rtpcId, type, accumulation, parameterId, curveId, scaling, points.begin(), pointCount);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Node %u: curve %u of game parameter %u could not be followed", ID(), curveId, rtpcId);
      return result;
    }
    CurveAdded(parameterId);
  }
  return SN_Success;
}

}  // namespace SN
