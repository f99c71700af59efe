// Attenuations and their loader.
#include "SoundEngine/Hierarchy/Attenuation.h"

#include <cstring>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SnMath.h"

namespace SN {
namespace {

// A copy of the points in the default pool; null for none or without memory.
SnRTPCGraphPoint* CopyPoints(const SnRTPCGraphPoint* points, uint32_t count) {
  if (!count) return nullptr;
  auto* copy = static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * count));
  if (copy) memcpy(static_cast<void*>(copy), points, sizeof(SnRTPCGraphPoint) * count);
  return copy;
}

void FreePoints(CSnCurveGraph& curve) {
  if (curve.points) MemoryMgr::Free(g_DefaultPoolId, curve.points);
  curve = CSnCurveGraph{};
}

// The curve's points as the bank stores them, unaligned: copied out point by point.
SNRESULT TakeCurve(SnBankCursor& in, uint16_t count, CSnCurveGraph& curve, uint32_t scaling) {
  const uint8_t* bytes = in.TakeBytes(uint32_t(count) * sizeof(SnRTPCGraphPoint));
  if (!bytes) return SN_Failure;
  FreePoints(curve);
  curve.scaling = scaling;
  if (!count) return SN_Success;
  curve.points = static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * count));
  if (!curve.points) return SN_InsufficientMemory;
  memcpy(static_cast<void*>(curve.points), bytes, sizeof(SnRTPCGraphPoint) * count);
  curve.pointCount = count;
  return SN_Success;
}

}  // namespace

CSnAttenuation::CSnAttenuation(uint32_t id) : CSnIndexedObject(id, SnIndex_Attenuations) {
  memset(m_curveUses, kNoCurve, sizeof m_curveUses);
}

CSnAttenuation::~CSnAttenuation() {
  ClearRTPCs();
  m_paramCurves.Term();
  for (CSnCurveGraph& curve : m_curves) FreePoints(curve);
}

const CSnCurveGraph* CSnAttenuation::CurveForUse(uint32_t use) const {
  const uint8_t index = CurveUse(use);
  return index < kCurveCount ? &m_curves[index] : nullptr;
}

SNRESULT CSnAttenuation::SetInitialValues(const uint8_t* data, uint32_t size) {
  const SNRESULT result = ReadInitialValues(data, size);
  RefreshSettings();
  return result;
}

SNRESULT CSnAttenuation::ReadInitialValues(const uint8_t* data, uint32_t size) {
  SnBankCursor in(data, size);
  auto past = [this](const char* what) {
    SOUND_LOG(Error, "Attenuation %u: the %s run past the end of the object", ID(), what);
    return SN_Failure;
  };
  uint8_t cone = 0;
  if (!in.Take(cone)) return past("cone flag");
  m_flags = uint8_t(cone ? m_flags | kConeEnabled : m_flags & ~kConeEnabled);
  if (cone) {
    float inside = 0.0f, outside = 0.0f;
    if (!in.Take(inside) || !in.Take(outside) || !in.Take(m_outsideVolume) || !in.Take(m_coneLowPass) ||
        !in.Take(m_coneHighPass))
      return past("cone values");
    m_insideHalfAngle = DegreesToRadians(inside) * 0.5f;
    m_outsideHalfAngle = DegreesToRadians(outside) * 0.5f;
  }
  for (uint8_t& use : m_curveUses)
    if (!in.Take(use)) return past("curve uses");
  for (uint32_t use = 0; use < kCurveCount; ++use) {
    if (m_curveUses[use] != kNoCurve && m_curveUses[use] >= kCurveCount) {
      SOUND_LOG(Error, "Attenuation %u: use %u names curve %u of the seven", ID(), use, unsigned(m_curveUses[use]));
      return SN_Failure;
    }
  }
  uint8_t curves = 0;
  if (!in.Take(curves)) return past("curve count");
  if (curves == 0 || curves > kCurveCount) {
    SOUND_LOG(Error, "Attenuation %u: %u curves, where one to seven are kept", ID(), unsigned(curves));
    return SN_Failure;
  }
  for (uint32_t i = 0; i < curves; ++i) {
    uint8_t scaling = 0;
    uint16_t count = 0;
    if (!in.Take(scaling) || !in.Take(count)) return past("curves");
    const SNRESULT taken = TakeCurve(in, count, m_curves[i], scaling);
    if (taken == SN_Failure) return past("curve points");
    if (taken != SN_Success) return taken;
    // The volume uses evaluate their curves in one form: plain values are read as decibels to a
    // linear gain, offsets from full volume (scaling 2) are moved up by one and read plain.
    const bool volume = m_curveUses[0] == i || m_curveUses[1] == i || m_curveUses[2] == i;
    if (!volume) continue;
    if (m_curves[i].scaling == SnCurveScaling_None) {
      m_curves[i].scaling = SnCurveScaling_dBToLin;
    } else if (m_curves[i].scaling == SnCurveScaling_dB) {
      for (uint32_t p = 0; p < m_curves[i].pointCount; ++p) m_curves[i].points[p].y += 1.0f;
      m_curves[i].scaling = SnCurveScaling_None;
    }
  }
  uint16_t rtpcs = 0;
  if (!in.Take(rtpcs)) return past("curve list");
  for (uint32_t r = 0; r < rtpcs; ++r) {
    uint32_t rtpcId = 0, curveId = 0;
    uint8_t first = 0, second = 0, parameter = 0, scaling = 0;
    uint16_t count = 0;
    if (!in.Take(rtpcId) || !in.Take(first) || !in.Take(second) || !in.Take(parameter) || !in.Take(curveId) ||
        !in.Take(scaling) || !in.Take(count))
      return past("game-parameter curves");
    CSnCurveGraph curve;
    const SNRESULT taken = TakeCurve(in, count, curve, scaling);
    if (taken == SN_Failure) return past("game-parameter curve points");
    if (taken != SN_Success) return taken;
    const SNRESULT set = AddRTPC(rtpcId, first, second, parameter, curveId, scaling, curve.points, curve.pointCount);
    FreePoints(curve);
    if (set != SN_Success) return set;
  }
  return SN_Success;
}

SNRESULT CSnAttenuation::SetRTPC(uint32_t rtpcId, uint8_t firstKind, uint8_t secondKind, uint32_t parameterId,
                                 uint32_t curveId, uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t count) {
  const SNRESULT result = AddRTPC(rtpcId, firstKind, secondKind, parameterId, curveId, scaling, points, count);
  RefreshSettings();
  return result;
}

SNRESULT CSnAttenuation::AddRTPC(uint32_t rtpcId, uint8_t firstKind, uint8_t secondKind, uint32_t parameterId,
                                 uint32_t curveId, uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t count) {
  for (uint32_t i = 0; i < m_rtpcs.Count(); ++i) {
    if (m_rtpcs[i].parameterId != parameterId || m_rtpcs[i].curveId != curveId) continue;
    FreePoints(m_rtpcs[i].curve);
    m_rtpcs.RemoveAt(i);
    break;
  }
  RTPCCurve* entry = m_rtpcs.Add(RTPCCurve{rtpcId, firstKind, secondKind, parameterId, curveId, CSnCurveGraph{}}, 2);
  if (!entry) return SN_Failure;
  entry->curve.scaling = scaling;
  if (!count || !points) return SN_Success;
  entry->curve.points = CopyPoints(points, count);
  if (!entry->curve.points) {
    m_rtpcs.RemoveAt(m_rtpcs.Count() - 1);
    return SN_InsufficientMemory;
  }
  entry->curve.pointCount = count;
  return SN_Success;
}

void CSnAttenuation::ClearRTPCs() {
  for (uint32_t i = 0; i < m_rtpcs.Count(); ++i) FreePoints(m_rtpcs[i].curve);
  m_rtpcs.Term();
  RefreshSettings();
}

void CSnAttenuation::RefreshSettings() {
  SnAttenuationSettings settings;
  for (uint32_t use = 0; use < SnAttenuationCurve_Count; ++use) settings.shape.curves[use] = CurveForUse(use);
  settings.shape.coneEnabled = ConeEnabled();
  settings.shape.coneInner = m_insideHalfAngle;
  settings.shape.coneOuter = m_outsideHalfAngle;
  settings.coneOutsideDb = m_outsideVolume;
  settings.coneLowPass = m_coneLowPass;
  settings.coneHighPass = m_coneHighPass;
  // The list is remade whole: its entries point into the curves, which move as the array grows.
  m_paramCurves.Term();
  if (m_rtpcs.Count() && !m_paramCurves.GrowBy(m_rtpcs.Count()))
    SOUND_LOG(Error, "Attenuation %u: no memory for its %u game-parameter curves; voices play without them", ID(),
              m_rtpcs.Count());
  else
    for (uint32_t i = 0; i < m_rtpcs.Count(); ++i) {
      const RTPCCurve& entry = m_rtpcs[i];
      m_paramCurves.Add(SnAttenuationParamCurve{entry.rtpcId, entry.parameterId, entry.curveId, &entry.curve});
    }
  settings.paramCurves = m_paramCurves.Count() ? &m_paramCurves[0] : nullptr;
  settings.paramCurveCount = m_paramCurves.Count();
  m_settings = settings;
}

namespace {

class LoadedAttenuations final : public ISnAttenuationDirectory {
 public:
  const SnAttenuationSettings* FindAttenuation(uint32_t id) override {
    if (!g_pObjectIndex) return nullptr;
    const SnAttenuationSettings* found = nullptr;
    g_pObjectIndex->List(SnIndex_Attenuations).WithObject(id, [&](CSnIndexedObject* object) {
      found = &static_cast<CSnAttenuation*>(object)->Settings();
    });
    return found;
  }
  const SnAttenuationSettings* HoldAttenuation(uint32_t id, CSnRefCountedObject*& holder) override {
    CSnIndexedObject* object = g_pObjectIndex ? g_pObjectIndex->List(SnIndex_Attenuations).FindAndAddRef(id) : nullptr;
    holder = object;
    return object ? &static_cast<CSnAttenuation*>(object)->Settings() : nullptr;
  }
};

const SnHircKind kAttenuationKind = {SnIndex_Attenuations, CreateFromPayload<CSnAttenuation>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircAttenuationType, &kAttenuationKind), true);

}  // namespace

ISnAttenuationDirectory& CSnAttenuation::Directory() {
  static LoadedAttenuations directory;
  return directory;
}

}  // namespace SN
