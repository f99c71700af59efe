// Attenuations: the cone, the seven distance curves and the game-parameter curves that 3D
// positioning reads by id. Built on the bank thread under GlobalAudioLock(); read on the audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

constexpr uint8_t kHircAttenuationType = 14;

class CSnAttenuation final : public CSnIndexedObject {
 public:
  static constexpr uint32_t kCurveCount = 7;
  static constexpr uint8_t kNoCurve = 255;
  // The uses whose curves are volumes (distance, game-defined send, user-defined send).
  static constexpr uint32_t kVolumeUses = 3;
  static constexpr uint8_t kConeEnabled = 0x01;

  struct RTPCCurve {
    uint32_t rtpcId;
    uint8_t firstKind;
    uint8_t secondKind;
    uint32_t parameterId;
    uint32_t curveId;
    CSnCurveGraph curve;  // its points are the attenuation's
  };

  explicit CSnAttenuation(uint32_t id);
  ~CSnAttenuation() override;

  // The payload after the id. SN_Failure for a curve count of 0 or above seven, a use naming a curve
  // beyond the seven, or a field past the end; SN_InsufficientMemory.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);
  // Replaces the entry of the same parameter and curve id. SN_Failure when the array cannot grow.
  SNRESULT SetRTPC(uint32_t rtpcId, uint8_t firstKind, uint8_t secondKind, uint32_t parameterId, uint32_t curveId,
                   uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t count);
  void ClearRTPCs();

  bool ConeEnabled() const { return m_flags & kConeEnabled; }
  float InsideHalfAngle() const { return m_insideHalfAngle; }
  float OutsideHalfAngle() const { return m_outsideHalfAngle; }
  float OutsideVolume() const { return m_outsideVolume; }
  float ConeLowPass() const { return m_coneLowPass; }
  float ConeHighPass() const { return m_coneHighPass; }
  uint8_t CurveUse(uint32_t use) const { return use < kCurveCount ? m_curveUses[use] : kNoCurve; }
  const CSnCurveGraph& Curve(uint32_t index) const { return m_curves[index < kCurveCount ? index : 0]; }
  // The curve serving a use; null when none does.
  const CSnCurveGraph* CurveForUse(uint32_t use) const;
  uint32_t RTPCCount() const { return m_rtpcs.Count(); }
  const RTPCCurve& RTPCAt(uint32_t index) const { return m_rtpcs[index]; }

  // The attenuation as 3D voices read it; remade whenever the curves change, so it points into them.
  const SnAttenuationSettings& Settings() const { return m_settings; }
  // Finds loaded attenuations by id for the voices; the hierarchy installs it at Init.
  static ISnAttenuationDirectory& Directory();

 private:
  SNRESULT ReadInitialValues(const uint8_t* data, uint32_t size);
  SNRESULT AddRTPC(uint32_t rtpcId, uint8_t firstKind, uint8_t secondKind, uint32_t parameterId, uint32_t curveId,
                   uint32_t scaling, const SnRTPCGraphPoint* points, uint32_t count);
  void RefreshSettings();


  float m_insideHalfAngle = 0.0f;
  float m_outsideHalfAngle = 0.0f;
  float m_outsideVolume = 0.0f;
  float m_coneLowPass = 0.0f;
  float m_coneHighPass = 0.0f;
  CSnCurveGraph m_curves[kCurveCount];
  uint8_t m_curveUses[kCurveCount];
  uint8_t m_flags = 0;
  SnArray<RTPCCurve> m_rtpcs;
  SnArray<SnAttenuationParamCurve> m_paramCurves;
  SnAttenuationSettings m_settings;
};

}  // namespace SN
