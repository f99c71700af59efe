// The engine-wide environment curves: two groups of three curves, each with its enabled flag, that a
// bank's ENVS chunk fills and the voice pipeline reads.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/Curves.h"

namespace SN {

class CSnEnvironmentCurves {
 public:
  static constexpr uint32_t kGroups = 2;
  static constexpr uint32_t kCurvesPerGroup = 3;
  static constexpr uint32_t kCurveCount = kGroups * kCurvesPerGroup;

  // Clears the enabled flags.
  SNRESULT Init();
  // Frees the points of every curve and clears counts and scaling.
  void Term();

  // Stores a copy of `count` 12-byte points as a bank holds them (any alignment) as curve `curve` of
  // group `group`. SN_InvalidParameter for no points or a curve that does not exist,
  // SN_InsufficientMemory when the copy cannot be made (the curve keeps its old points).
  SNRESULT SetCurve(uint32_t group, uint32_t curve, uint32_t count, const void* points, uint32_t scaling);
  void SetCurveEnabled(uint32_t group, uint32_t curve, bool enabled);

  bool IsCurveEnabled(uint32_t group, uint32_t curve) const;
  // Null for a curve that does not exist.
  const CSnCurveGraph* Curve(uint32_t group, uint32_t curve) const;

 private:
  // The volume curve works in gain: a plain curve becomes dB-to-linear, a dB curve moves to a plain
  // curve of one plus its values.
  void AdjustVolumeCurve(uint32_t group, CSnCurveGraph& graph);

  uint8_t m_enabled[kCurveCount] = {};
  CSnCurveGraph m_curves[kCurveCount];
};

// Null while the sound engine is not initialised.
extern CSnEnvironmentCurves* g_pEnvironmentCurves;

}  // namespace SN
