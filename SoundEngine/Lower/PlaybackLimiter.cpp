// Playback limiters: the sorted instance array, the admission of a new instance and the frame's
// limit pass.
#include "SoundEngine/Lower/PlaybackLimiter.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/PlaybackInstance.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

constexpr uint32_t kFirstCapacity = 4;
constexpr float kAbovePriorities = 101.0f;

// Whether `a` sorts before `b`: higher priority first; among equals the older one first when
// `olderFirst`, else the newer one.
bool SortsBefore(const CSnPlaybackInstance* a, const CSnPlaybackInstance* b, bool olderFirst) {
  if (a->m_priority != b->m_priority) return a->m_priority > b->m_priority;
  return olderFirst ? a->m_sequenceNumber < b->m_sequenceNumber : a->m_sequenceNumber > b->m_sequenceNumber;
}

// Counted by the frame's pass: playing, not limited this frame, not kept out, and either audible or
// made virtual by the limit itself last frame.
bool CountsInLimitPass(const CSnPlaybackInstance* instance) {
  return !instance->m_stopping && !instance->m_limitedThisFrame && !instance->m_keptOutOfLimiting &&
         (!instance->m_excluded || instance->m_limitedLastFrame);
}

}  // namespace

void CSnPlaybackLimiter::Term() {
  if (m_instances) MemoryMgr::Free(g_DefaultPoolId, m_instances);
  m_instances = nullptr;
  m_count = m_capacity = 0;
}

bool CSnPlaybackLimiter::Add(CSnPlaybackInstance* instance) {
  if (m_count == m_capacity) {
    const uint32_t capacity = m_capacity ? m_capacity * 2 : kFirstCapacity;
    auto* grown = static_cast<CSnPlaybackInstance**>(
        MemoryMgr::Malloc(g_DefaultPoolId, capacity * sizeof(CSnPlaybackInstance*)));
    if (!grown) return false;
    if (m_count) std::memcpy(grown, m_instances, m_count * sizeof(CSnPlaybackInstance*));
    if (m_instances) MemoryMgr::Free(g_DefaultPoolId, m_instances);
    m_instances = grown;
    m_capacity = capacity;
  }
  uint32_t at = 0;
  while (at < m_count && !SortsBefore(instance, m_instances[at], m_tieOrder != 0)) ++at;
  std::memmove(m_instances + at + 1, m_instances + at, (m_count - at) * sizeof(CSnPlaybackInstance*));
  m_instances[at] = instance;
  ++m_count;
  return true;
}

bool CSnPlaybackLimiter::Remove(CSnPlaybackInstance* instance) {
  for (uint32_t i = 0; i < m_count; ++i) {
    if (m_instances[i] != instance) continue;
    std::memmove(m_instances + i, m_instances + i + 1, (m_count - i - 1) * sizeof(CSnPlaybackInstance*));
    --m_count;
    return true;
  }
  return false;
}

SNRESULT CSnPlaybackLimiter::EnforceForNewInstance(uint16_t maximum, float newPriority,
                                                   const CSnRegisteredObj* gameObject, bool newLosesTies,
                                                   bool useVirtualBehaviour, CSnPlaybackInstance** outGivesWay,
                                                   uint8_t stopReason) {
  uint32_t eligible = 0;
  bool keepsPlaying = false;
  float lowest = kAbovePriorities;
  CSnPlaybackInstance* candidate = nullptr;
  // The array is sorted: the last candidate is the lowest priority, the last of equals by tie order.
  for (uint32_t i = 0; i < m_count; ++i) {
    CSnPlaybackInstance* instance = m_instances[i];
    if (gameObject && instance->m_pGameObject != gameObject) continue;
    if (instance->m_stopping || instance->m_limitedThisFrame || instance->m_excluded) continue;
    ++eligible;
    if (instance->m_priority > newPriority) continue;
    if (useVirtualBehaviour && instance->m_virtualBehaviour == SnVirtual_ContinueToPlay) {
      // Never made to give way; while within the maximum it lets the new one play beside it.
      if (eligible <= maximum) keepsPlaying = true;
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

void CSnPlaybackLimiter::ApplyLimit(uint8_t stopReason) {
  if (m_maximum == 0 || m_count <= m_maximum) return;
  uint32_t counted = 0;
  for (uint32_t i = 0; i < m_count; ++i) {
    CSnPlaybackInstance* instance = m_instances[i];
    if (counted < m_maximum) {
      if (CountsInLimitPass(instance)) ++counted;
      continue;
    }
    if (instance->m_stopping) continue;
    if (m_useVirtualBehaviour)
      instance->StopForVoiceLimit(stopReason);
    else
      instance->Kill(stopReason);
  }
}

}  // namespace SN
