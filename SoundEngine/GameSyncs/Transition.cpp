// Transitions and their manager: set-up from a request, one step per audio frame, retargeting from
// the current value, pause and resume measured in whole frames, and recycling when a list is full.
#include "SoundEngine/GameSyncs/Transition.h"

#include <cmath>
#include <new>

#include "Base/Assert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnTransitionMgr* g_pTransitionMgr = nullptr;

namespace {

constexpr uint32_t kDefaultMaximum = 255;
constexpr uint32_t kTargetGrowth = 8;
constexpr uint32_t kFadeKindBits = 0x0F000000u;

float ExponentialFactorFor(uint32_t timeMs) {
  const double samples = double(LowerEngine::SamplesPerFrame());
  return float(std::exp(-samples / (double(timeMs) * 0.2 * 0.001 * 48000.0)));
}

void SwapRemove(SnArray<CSnTransition*>& list, uint32_t index) {
  const uint32_t last = list.Count() - 1;
  list[index] = list[last];
  list.RemoveAt(last);
}

}  // namespace

uint32_t FramesForMs(uint32_t ms) {
  const uint32_t frameMs = LowerEngine::FrameDurationMs();
  if (ms == 0 || frameMs == 0) return 0;
  return uint32_t((uint64_t(ms) + frameMs - 1) / frameMs);
}

void CSnTransition::Reset() {
  m_kind = SnTransitionKind_Reset;
  m_initial = m_end = m_current = m_previous = 0.0f;
  m_firstFrame = m_duration = m_advance = 0;
  m_progress = 0.0f;
  m_pauseFrame = 0;
  m_curve = SnCurve_Linear;
  m_state = SnTransitionState_Idle;
  m_flags = 0;
  m_factor = 0.0f;
}

SNRESULT CSnTransition::Init(const SnTransitionParams& params, uint32_t frame) {
  m_kind = params.kind;
  m_flags = uint8_t((params.dB ? Flag_dB : 0) | (params.exponential ? Flag_Exponential : 0));
  float begin = params.initial;
  float end = params.end;
  if (params.dB) {
    begin = SnFastMath::DbToLinear(begin);
    end = SnFastMath::DbToLinear(end);
  }
  m_initial = m_current = m_previous = begin;
  m_end = end;
  m_curve = params.mirror && !(end > begin) ? MirroredShape(params.curve) : params.curve;
  m_firstFrame = frame;
  m_advance = 0;
  m_duration = FramesForMs(params.timeMs);
  m_progress = 0.0f;
  if (params.exponential && params.timeMs) m_factor = ExponentialFactorFor(params.timeMs);
  if (params.target && IndexOfTarget(params.target) < 0 && AddTarget(params.target) != SN_Success) return SN_Failure;
  return SN_Success;
}

void CSnTransition::AddElapsedFrames(int32_t frames, uint32_t now) {
  int64_t elapsed = (now > m_firstFrame ? int64_t(now - m_firstFrame) : 0) + m_advance + frames;
  if (elapsed < 0) elapsed = 0;
  if (elapsed > int64_t(m_duration)) elapsed = m_duration;
  if (now > m_firstFrame) m_firstFrame = now;
  m_advance = uint32_t(elapsed);
}

bool CSnTransition::Update(uint32_t frame) {
  float value;
  const uint64_t reached = uint64_t(frame) + m_advance;
  const bool done = reached >= uint64_t(m_firstFrame) + m_duration;
  if (done) {
    value = m_end;
    m_progress = 1.0f;
  } else if ((m_flags & Flag_Exponential) && m_factor != 0.0f) {
    // The current value is kept in decibels for dB transitions; the approach runs in linear gain.
    const float current = (m_flags & Flag_dB) ? SnFastMath::DbToLinear(m_current) : m_current;
    value = m_end + (current - m_end) * m_factor;
  } else {
    m_progress = reached > m_firstFrame ? float(reached - m_firstFrame) / float(m_duration) : 0.0f;
    value = InterpolateShape(m_curve, m_progress, m_initial, m_end);
  }
  if (m_flags & Flag_dB) value = SnFastMath::LinearToDb(value);
  m_previous = m_current;
  m_current = value;
  m_flags |= Flag_Stepped;
  if (m_moreTargets.Count() != 0)
    TellSeveralTargets(value, done);
  else if (m_firstTarget)
    m_firstTarget->TransitionUpdate(m_kind, value, done);
  return done;
}

void CSnTransition::TellSeveralTargets(float value, bool done) {
  // A target may leave while it is told; walk a count that shrinks with it.
  for (uint32_t i = 0; i < TargetCount(); ++i) {
    ISnTransitionTarget* target = TargetAt(i);
    target->TransitionUpdate(m_kind, value, done);
    if (i < TargetCount() && TargetAt(i) != target) --i;
  }
}

int32_t CSnTransition::IndexOfTarget(ISnTransitionTarget* target) const {
  if (!m_firstTarget) return -1;
  if (m_firstTarget == target) return 0;
  const int32_t index = m_moreTargets.IndexOf(target);
  return index < 0 ? -1 : index + 1;
}

void CSnTransition::UpdateExponentialTime(uint32_t timeMs) {
  if ((m_flags & Flag_Exponential) && timeMs) m_factor = ExponentialFactorFor(timeMs);
}

uint32_t CSnTransition::Retarget(uint32_t kind, float target, uint32_t durationMs, uint32_t shape,
                                 SnValueMeaning meaning) {
  const uint32_t oldKind = m_kind;
  m_kind = kind;
  UpdateExponentialTime(durationMs);
  const bool fromCurrent = (m_flags & Flag_Stepped) != 0;
  float newTarget;
  if (m_flags & Flag_dB) {
    newTarget = SnFastMath::DbToLinear(target);
    if (fromCurrent) m_initial = SnFastMath::DbToLinear(m_current);
    if (meaning == SnValueMeaning_Offset) newTarget *= m_end;
  } else {
    newTarget = target;
    if (fromCurrent) m_initial = m_current;
    if (meaning == SnValueMeaning_Offset) newTarget += m_end;
  }
  m_end = newTarget;
  m_curve = newTarget > m_initial ? shape : MirroredShape(shape);

  const uint32_t now = CurrentAudioFrame();
  const uint32_t frames = FramesForMs(durationMs);
  if (oldKind == kind && (kind & kFadeKindBits)) {
    const uint32_t end = m_firstFrame + m_duration - (m_advance < m_duration ? m_advance : m_duration);
    const uint32_t remaining = end > now ? end - now : 0;
    m_firstFrame = now;
    m_advance = 0;
    m_duration = frames < remaining ? frames : remaining;
  } else {
    m_firstFrame = now;
    m_advance = 0;
    m_duration = frames;
  }
  return m_duration;
}

void CSnTransition::Pause() {
  if (m_state == SnTransitionState_Running)
    m_state = SnTransitionState_PauseRequested;
  else if (m_state == SnTransitionState_ResumeRequested)
    m_state = SnTransitionState_Paused;
}

void CSnTransition::Resume() {
  if (m_state == SnTransitionState_PauseRequested)
    m_state = SnTransitionState_Running;
  else if (m_state == SnTransitionState_Paused)
    m_state = SnTransitionState_ResumeRequested;
}

SNRESULT CSnTransition::AddTarget(ISnTransitionTarget* target) {
  if (!target || IndexOfTarget(target) >= 0) return SN_Failure;
  if (!m_firstTarget) {
    m_firstTarget = target;
    return SN_Success;
  }
  return m_moreTargets.Add(target, kTargetGrowth) ? SN_Success : SN_Failure;
}

SNRESULT CSnTransition::RemoveTarget(ISnTransitionTarget* target) {
  const int32_t index = IndexOfTarget(target);
  if (index < 0) return SNRESULT(29);
  if (index > 0) {
    m_moreTargets.RemoveAt(uint32_t(index - 1));
  } else if (m_moreTargets.Count()) {
    m_firstTarget = m_moreTargets[0];
    m_moreTargets.RemoveAt(0);
  } else {
    m_firstTarget = nullptr;
  }
  if (TargetCount() == 0) m_state = SnTransitionState_ToRemove;
  return SN_Success;
}

SNRESULT CSnTransitionMgr::Init(uint32_t maximum) {
  m_maximum = maximum ? maximum : kDefaultMaximum;
  m_recyclingAllowed = 1;
  m_now = 0;
  if (!m_ordinary.GrowBy(m_maximum) || !m_state.GrowBy(m_maximum)) {
    m_ordinary.Term();
    m_state.Term();
    return SN_InsufficientMemory;
  }
  return SN_Success;
}

void CSnTransitionMgr::Term() {
  m_recyclingAllowed = 0;
  for (SnArray<CSnTransition*>* list : {&m_ordinary, &m_state}) {
    // Finishing tells the targets the end value; a target may start another transition meanwhile.
    while (list->Count()) {
      CSnTransition* transition = (*list)[list->Count() - 1];
      list->RemoveAt(list->Count() - 1);
      if (transition->m_state != SnTransitionState_ToRemove)
        transition->Update(transition->m_firstFrame + transition->m_duration);
      PoolDelete(g_DefaultPoolId, transition);
    }
    list->Term();
  }
  m_recyclingAllowed = 1;
}

CSnTransition* CSnTransitionMgr::Recycle(SnArray<CSnTransition*>& list) {
  int32_t best = -1;
  float bestProgress = -1.0f;
  for (uint32_t i = 0; i < list.Count(); ++i) {
    if (list[i]->m_progress > bestProgress) {
      bestProgress = list[i]->m_progress;
      best = int32_t(i);
    }
  }
  if (best < 0) return nullptr;
  CSnTransition* transition = list[uint32_t(best)];
  SwapRemove(list, uint32_t(best));
  m_recyclingAllowed = 0;
  if (transition->m_state != SnTransitionState_ToRemove)
    transition->Update(transition->m_firstFrame + transition->m_duration);
  m_recyclingAllowed = 1;
  transition->~CSnTransition();
  return new (transition) CSnTransition();
}

CSnTransition* CSnTransitionMgr::AddTransition(const SnTransitionParams& params, bool runNow, uint32_t selector) {
  SnArray<CSnTransition*>& list = selector == List_State ? m_state : m_ordinary;
  CSnTransition* transition = nullptr;
  if (list.Count() < m_maximum) transition = PoolNew<CSnTransition>(g_DefaultPoolId);
  if (!transition && m_recyclingAllowed) transition = Recycle(list);
  if (transition && (transition->Init(params, m_now) != SN_Success || list.Count() >= m_maximum)) {
    PoolDelete(g_DefaultPoolId, transition);
    transition = nullptr;
  }
  if (!transition) {
    if (params.target) params.target->TransitionUpdate(params.kind, params.end, true);
    return nullptr;
  }
  list.Add(transition);
  transition->m_state = runNow ? SnTransitionState_Running : SnTransitionState_Idle;
  return transition;
}

void CSnTransitionMgr::StepList(SnArray<CSnTransition*>& list, uint32_t frame) {
  for (uint32_t i = 0; i < list.Count();) {
    CSnTransition* transition = list[i];
    uint32_t& state = transition->m_state;
    if (state == SnTransitionState_ToRemove) {
      SwapRemove(list, i);
      PoolDelete(g_DefaultPoolId, transition);
      continue;
    }
    if (state == SnTransitionState_PauseRequested) {
      transition->m_pauseFrame = frame;
      state = SnTransitionState_Paused;
    }
    if (state == SnTransitionState_ResumeRequested) {
      transition->m_firstFrame += frame - transition->m_pauseFrame;
      state = SnTransitionState_Running;
    }
    if (state == SnTransitionState_Running && transition->Update(frame)) {
      // Targets told during the step may have appended transitions; this one is still at i or moved.
      // It is looked for only when it moved: many fades ending in one frame walk nothing.
      const int32_t index = list[i] == transition ? int32_t(i) : list.IndexOf(transition);
      ORV_ASSERT(index >= 0);
      SwapRemove(list, uint32_t(index));
      PoolDelete(g_DefaultPoolId, transition);
      if (uint32_t(index) != i) ++i;
      continue;
    }
    ++i;
  }
}

void CSnTransitionMgr::ProcessFrame(uint32_t frame) {
  m_now = frame;
  m_recyclingAllowed = 0;
  StepList(m_ordinary, frame);
  StepList(m_state, frame);
  m_recyclingAllowed = 1;
}

void CSnTransitionMgr::PauseAllStateTransitions() {
  for (CSnTransition* transition : m_state) transition->Pause();
}

void CSnTransitionMgr::ResumeAllStateTransitions() {
  for (CSnTransition* transition : m_state) transition->Resume();
}

}  // namespace SN
