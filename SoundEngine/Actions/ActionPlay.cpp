// Play actions: the probability draw, the play of the target node and the nested play of an event.
#include "SoundEngine/Actions/ActionClasses.h"

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/EventScheduler.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PendingAction.h"

namespace SN {

bool CSnActionPlay::DrawPasses(float probability) {
  // Two 15-bit draws make 30 bits, scaled to 0..99 in 64-bit arithmetic. A play goes on when the
  // draw falls below the probability, so that p percent of the draws pass.
  const uint64_t bits = uint64_t(Base::Rand15()) * 32768u + uint64_t(Base::Rand15());
  const uint64_t draw = (bits * 100u) >> 30;
  return float(draw) < probability;
}

SNRESULT CSnActionPlay::ReadParameters(SnBankCursor& cursor) {
  uint8_t curve = 0;
  if (!cursor.Take(curve) || !cursor.Take(m_bankId)) return SN_Failure;
  SetFadeCurve(curve);
  return SN_Success;
}

SNRESULT CSnActionPlay::Execute(CSnPendingActionItem& record) {
  if (HasProperty(SnActionProp_Probability)) {
    const float probability = FloatProperty(SnActionProp_Probability, 100.0f);
    if (probability <= 0.0f || !DrawPasses(probability)) return SN_Success;
  }
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(TargetId(), TargetIsBus());
  if (!found) {
    SOUND_LOG_REPEATING_ABOUT(Error, TargetId(), "Play action %u: node %u is not loaded", ID(), TargetId());
    return SN_IdNotFound;
  }
  CSnPropertyNode* node = dynamic_cast<CSnPropertyNode*>(static_cast<CSnHierarchyNode*>(found));
  SNRESULT result = SN_Failure;
  if (node) {
    CSnPlayParams params;
    params.gameObject = record.gameObject;
    params.playingId = record.playingId;
    params.playWord = record.playParams[0];
    params.externalSources = record.externalSources;
    params.frameOffset = int32_t(record.sampleOffset);
    params.transition.durationMs = FadeTimeMs();
    params.transition.shape = SnCurveInterpolation(FadeCurve());
    result = node->Play(params);
  } else {
    SOUND_LOG(Error, "Play action %u: object %u cannot be played", ID(), TargetId());
  }
  found->Release();
  return result;
}

SNRESULT CSnActionPlayEvent::Execute(CSnPendingActionItem& record) {
  return CSnEventScheduler::Instance().ScheduleEventById(TargetId(), record);
}

}  // namespace SN
