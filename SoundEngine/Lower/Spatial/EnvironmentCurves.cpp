// The environment curves: owned copies of the bank's points, freed at Term or when replaced.
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnEnvironmentCurves* g_pEnvironmentCurves = nullptr;

SNRESULT CSnEnvironmentCurves::Init() {
  memset(m_enabled, 0, sizeof m_enabled);
  return SN_Success;
}

void CSnEnvironmentCurves::Term() {
  for (CSnCurveGraph& graph : m_curves) {
    if (graph.points) MemoryMgr::Falign(g_DefaultPoolId, graph.points);
    graph = CSnCurveGraph{};
  }
}

SNRESULT CSnEnvironmentCurves::SetCurve(uint32_t group, uint32_t curve, uint32_t count, const void* points,
                                        uint32_t scaling) {
  if (group >= kGroups || curve >= kCurvesPerGroup || count == 0 || !points) return SN_InvalidParameter;
  auto* copy = static_cast<SnRTPCGraphPoint*>(
      MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * count, alignof(SnRTPCGraphPoint)));
  if (!copy) return SN_InsufficientMemory;
  memcpy(copy, points, sizeof(SnRTPCGraphPoint) * count);
  CSnCurveGraph& graph = m_curves[group * kCurvesPerGroup + curve];
  if (graph.points) MemoryMgr::Falign(g_DefaultPoolId, graph.points);
  graph.points = copy;
  graph.pointCount = count;
  graph.scaling = scaling;
  if (curve == 0) AdjustVolumeCurve(group, graph);
  return SN_Success;
}

void CSnEnvironmentCurves::AdjustVolumeCurve(uint32_t group, CSnCurveGraph& graph) {
  if (graph.scaling == SnCurveScaling_None) {
    graph.scaling = SnCurveScaling_dBToLin;
  } else if (graph.scaling == SnCurveScaling_dB) {
    // Such a curve holds gains less one: below -1 it would turn the voice over and amplify it.
    for (uint32_t i = 0; i < graph.pointCount; ++i) {
      float& y = graph.points[i].y;
      if (y < -1.0f) {
        SOUND_LOG(Error, "Environment volume curve of group %u: point %u (%g) lies below silence; it is silent",
                  group, i, double(y));
        y = -1.0f;
      }
      y += 1.0f;
    }
    graph.scaling = SnCurveScaling_None;
  }
}

void CSnEnvironmentCurves::SetCurveEnabled(uint32_t group, uint32_t curve, bool enabled) {
  if (group < kGroups && curve < kCurvesPerGroup) m_enabled[group * kCurvesPerGroup + curve] = enabled ? 1 : 0;
}

bool CSnEnvironmentCurves::IsCurveEnabled(uint32_t group, uint32_t curve) const {
  return group < kGroups && curve < kCurvesPerGroup && m_enabled[group * kCurvesPerGroup + curve] != 0;
}

const CSnCurveGraph* CSnEnvironmentCurves::Curve(uint32_t group, uint32_t curve) const {
  return group < kGroups && curve < kCurvesPerGroup ? &m_curves[group * kCurvesPerGroup + curve] : nullptr;
}

}  // namespace SN
