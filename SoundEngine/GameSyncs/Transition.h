// Values that move over time: one transition steps once per audio frame from its initial value to
// its end along a curve shape and tells its targets; the manager owns, steps, pauses and recycles them.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/ValueChange.h"

namespace SN {

// What a transition drives. The first virtual operation receives every new value.
class ISnTransitionTarget {
 public:
  virtual void TransitionUpdate(uint32_t kind, float value, bool done) = 0;

 protected:
  ~ISnTransitionTarget() = default;
};

enum SnTransitionKind : uint32_t {
  SnTransitionKind_PlayFadeIn = 0x1000000,
  SnTransitionKind_StopFadeOut = 0x2000000,
  SnTransitionKind_PauseFadeOut = 0x4000000,
  SnTransitionKind_ResumeFadeIn = 0x8000000,
  SnTransitionKind_RTPC = 0x10000000,
  SnTransitionKind_Reset = 0x20000000,
};

enum SnTransitionState : uint32_t {
  SnTransitionState_Idle = 0,
  SnTransitionState_Running = 1,
  SnTransitionState_PauseRequested = 2,
  SnTransitionState_Paused = 3,
  SnTransitionState_ResumeRequested = 4,
  SnTransitionState_ToRemove = 6,
};

struct SnTransitionParams {
  ISnTransitionTarget* target = nullptr;
  uint32_t kind = 0;
  float initial = 0.0f;
  float end = 0.0f;
  uint32_t timeMs = 0;
  uint32_t curve = SnCurve_Linear;
  uint8_t dB = 0;
  uint8_t mirror = 0;       // a falling move mirrors its curve
  uint8_t exponential = 0;  // close on the end by a constant factor per frame
};

class CSnTransition {
 public:
  enum Flags : uint8_t { Flag_dB = 1, Flag_Stepped = 2, Flag_Exponential = 4 };

  CSnTransition() { Reset(); }
  ~CSnTransition() { FreeTargetArray(); }
  CSnTransition(const CSnTransition&) = delete;
  CSnTransition& operator=(const CSnTransition&) = delete;

  void Reset();
  SNRESULT Init(const SnTransitionParams& params, uint32_t frame);
  // True when the end was reached in this step.
  bool Update(uint32_t frame);
  // Returns the new duration in frames.
  uint32_t Retarget(uint32_t kind, float target, uint32_t durationMs, uint32_t shape, SnValueMeaning meaning);
  void UpdateExponentialTime(uint32_t timeMs);
  // Moves the transition on (or back) by `frames` as if they had passed before `now`, the manager's
  // frame; never before its beginning, nor before the engine's first frame.
  void AddElapsedFrames(int32_t frames, uint32_t now);

  void Pause();
  void Resume();
  // 2 when present, null or out of memory.
  SNRESULT AddTarget(ISnTransitionTarget* target);
  // 29 when absent; the last target leaving marks the transition for removal.
  SNRESULT RemoveTarget(ISnTransitionTarget* target);
  void FreeTargetArray() {
    m_firstTarget = nullptr;
    m_moreTargets.Term();
  }

  bool IsFadeOutKind() const { return m_kind == SnTransitionKind_StopFadeOut || m_kind == SnTransitionKind_PauseFadeOut; }
  uint32_t Kind() const { return m_kind; }
  float InitialValue() const { return m_initial; }
  float TargetValue() const { return m_end; }
  float CurrentValue() const { return m_current; }
  // What the targets were told before the latest step: a target that adds changes takes the
  // difference from here.
  float PreviousValue() const { return m_previous; }
  uint32_t FirstFrame() const { return m_firstFrame; }
  uint32_t DurationFrames() const { return m_duration; }
  float Progress() const { return m_progress; }
  uint32_t Curve() const { return m_curve; }
  uint32_t State() const { return m_state; }
  uint8_t FlagBits() const { return m_flags; }
  float ExponentialFactor() const { return m_factor; }
  uint32_t TargetCount() const { return (m_firstTarget ? 1u : 0u) + m_moreTargets.Count(); }

 private:
  friend class CSnTransitionMgr;

  ISnTransitionTarget* TargetAt(uint32_t index) const {
    return index == 0 ? m_firstTarget : m_moreTargets[index - 1];
  }
  int32_t IndexOfTarget(ISnTransitionTarget* target) const;
  void TellSeveralTargets(float value, bool done);

  uint32_t m_kind;
  float m_initial;
  float m_end;
  float m_current;
  uint32_t m_firstFrame;
  uint32_t m_duration;
  uint32_t m_advance;  // frames counted as passed before the first frame (a fade started late)
  float m_progress;
  uint32_t m_pauseFrame;
  // The targets in order: nearly every transition drives one, kept here so a step reads no other
  // block; the rest follow in the array. The array is empty while the first slot is.
  ISnTransitionTarget* m_firstTarget = nullptr;
  SnArray<ISnTransitionTarget*> m_moreTargets;
  uint32_t m_curve;
  uint32_t m_state;
  uint8_t m_flags;
  float m_factor;
  float m_previous;
};

// Whole frames a duration takes at the engine's frame length (a part frame counts as one).
uint32_t FramesForMs(uint32_t ms);

class CSnTransitionMgr {
 public:
  enum ListSelector : uint32_t { List_Ordinary = 0, List_State = 1 };

  SNRESULT Init(uint32_t maximum);
  void Term();

  // Null when no transition could be had; the owner then has the end value already.
  CSnTransition* AddTransition(const SnTransitionParams& params, bool runNow, uint32_t selector);
  void ProcessFrame(uint32_t frame);
  void PauseAllStateTransitions();
  void ResumeAllStateTransitions();

  // The frame of the last step: transitions begin and retarget from it.
  uint32_t Now() const { return m_now; }
  uint32_t Maximum() const { return m_maximum; }
  uint32_t OrdinaryCount() const { return m_ordinary.Count(); }
  uint32_t StateCount() const { return m_state.Count(); }

 private:
  void StepList(SnArray<CSnTransition*>& list, uint32_t frame);
  CSnTransition* Recycle(SnArray<CSnTransition*>& list);

  uint32_t m_maximum = 0;
  SnArray<CSnTransition*> m_ordinary;
  SnArray<CSnTransition*> m_state;
  uint8_t m_recyclingAllowed = 1;
  uint32_t m_now = 0;
};

// Null while the sound engine is not initialised.
extern CSnTransitionMgr* g_pTransitionMgr;

// The audio frame of the last step (0 before the first): what transitions and paths start from.
inline uint32_t CurrentAudioFrame() { return g_pTransitionMgr ? g_pTransitionMgr->Now() : 0; }

}  // namespace SN
