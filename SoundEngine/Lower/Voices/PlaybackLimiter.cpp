// Playback limiters: the sorted instance array, the admission of a new instance and the frame's
// limit pass.
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"

#include <cmath>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

namespace SN {
namespace {

constexpr float kAbovePriorities = 101.0f;

// Counted by the frame's pass: playing, not limited this frame, not kept out, and either audible or
// made virtual by the limit itself last frame.
bool CountsInLimitPass(const CSnPlaybackInstance* instance) {
  return !instance->m_stopping && !instance->m_limitedThisFrame && !instance->m_keptOutOfLimiting &&
         (!instance->m_excluded || instance->m_limitedLastFrame);
}

}  // namespace

void CSnPlaybackLimiter::Term() {
  m_instances.Term();
  m_run.length = 0;
}

bool CSnPlaybackLimiter::Add(CSnPlaybackInstance* instance) {
  if (!std::isfinite(instance->m_priority)) m_notFinite = true;
  uint32_t at = 0;
  if (!m_instances.Insert(instance, &at)) return false;
  if (at <= m_run.start)
    ++m_run.start;
  else if (at < m_run.start + m_run.length)
    m_run.length = 0;
  return true;
}

bool CSnPlaybackLimiter::Remove(CSnPlaybackInstance* instance) {
  uint32_t at = 0;
  const bool removed = m_instances.Remove(instance, &at);
  if (removed && m_run.length) {
    if (at < m_run.start)
      --m_run.start;
    else if (at < m_run.start + m_run.length)
      --m_run.length;
  }
  if (m_instances.Count() == 0) m_notFinite = false;
  return removed;
}

void CSnPlaybackLimiter::PriorityChanged(CSnPlaybackInstance* instance) {
  if (!std::isfinite(instance->m_priority)) m_notFinite = true;
  m_instances.Move(instance);
  m_run.length = 0;
}

void CSnPlaybackLimiter::SetOlderFirst(bool olderFirst) {
  m_instances.SetOldestFirst(olderFirst);
  m_run.length = 0;
}

bool CSnPlaybackLimiter::OlderFirst() const { return m_instances.OldestFirst(); }

SNRESULT CSnPlaybackLimiter::EnforceForNewInstance(uint16_t maximum, float newPriority,
                                                   const CSnRegisteredObj* gameObject, bool newLosesTies,
                                                   bool useVirtualBehaviour, CSnPlaybackInstance** outGivesWay,
                                                   uint8_t stopReason) {
  uint32_t eligible = 0;
  bool keepsPlaying = false;
  float lowest = kAbovePriorities;
  CSnPlaybackInstance* candidate = nullptr;
  // In descending order the last instance has the lowest priority. When not even it is below the
  // new one (and every priority is finite), any candidate ties with the newcomer, and one that loses
  // ties makes nobody give way: past the maximum nothing further in the array changes the answer.
  const uint32_t count = m_instances.Count();
  const bool noneBelow = newLosesTies && !m_notFinite && count && m_instances[count - 1]->m_priority >= newPriority;
  // The array is sorted: the last candidate is the lowest priority, the last of equals by tie order.
  if (!RunKnown() || m_run.start + m_run.length > count) m_run.length = 0;
  uint32_t runStart = 0, runLength = 0;  // the run of stopping or limited instances being walked over
  for (uint32_t i = 0; i < count && !(noneBelow && eligible >= maximum); ++i) {
    if (m_run.length && i == m_run.start) {
      // None of them counts, whatever the object asked for.
      i += m_run.length - 1;
      continue;
    }
    CSnPlaybackInstance* instance = m_instances[i];
    if (instance->m_stopping || instance->m_limitedThisFrame) {
      if (!runLength) runStart = i;
      ++runLength;
      continue;
    }
    if (runLength > m_run.length) m_run = {runStart, runLength, LimitPassNumber()};
    runLength = 0;
    if (gameObject && instance->m_pGameObject != gameObject) continue;
    if (instance->m_excluded) continue;
    ++eligible;
    if (instance->m_priority > newPriority) continue;
    if (useVirtualBehaviour && instance->m_virtualBehaviour == SnVirtual_ContinueToPlay) {
      // Never made to give way; while within the maximum it lets the new one play beside it. With
      // none below the new one nobody else gives way either: the new one plays, whatever follows.
      if (eligible <= maximum) {
        if (noneBelow) return SN_Success;
        keepsPlaying = true;
      }
      continue;
    }
    candidate = instance;
    lowest = instance->m_priority;
  }
  if (eligible + 1 <= maximum) return SN_Success;
  if (!candidate || lowest > newPriority || (newLosesTies && newPriority == lowest))
    return keepsPlaying ? SN_Success : (useVirtualBehaviour ? SN_PlayAsVirtual : SN_Failure);
  if (outGivesWay) *outGivesWay = candidate;
  // With the virtual-voice behaviour only a "kill" gives way now; the others wait for the frame's pass.
  if (!useVirtualBehaviour || candidate->m_virtualBehaviour == SnVirtual_Kill) candidate->Kill(stopReason);
  return SN_Success;
}

void CSnPlaybackLimiter::ApplyLimit(uint8_t stopReason, bool capsContinuing) {
  if (m_maximum == 0 || m_instances.Count() <= m_maximum) return;
  uint32_t counted = 0;
  for (uint32_t i = 0; i < m_instances.Count();) {
    CSnPlaybackInstance* instance = m_instances[i];
    if (counted < m_maximum) {
      if (CountsInLimitPass(instance)) ++counted;
      ++i;
      continue;
    }
    if (!instance->m_stopping) {
      if (m_useVirtualBehaviour)
        instance->StopForVoiceLimit(stopReason, capsContinuing);
      else
        instance->Kill(stopReason);
    }
    // One that was killed may have left the array: the next is at its place then.
    if (i < m_instances.Count() && m_instances[i] == instance) ++i;
  }
}

}  // namespace SN
