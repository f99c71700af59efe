// The renderer's plays and its held state changes: a state change waits for the nearest sync point
// of the playing music, then is applied by the state message without asking the hook again.
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicTopContext.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN {

// ---- plays ----

SNRESULT CSnMusicRenderer::AddTopLevelContext(CSnMusicTopContext* context, uint32_t playingId,
                                              uint32_t callbackFlags) {
  context->m_nextTop = m_topHead;
  m_topHead = context;
  if (!m_topTail) m_topTail = context;
  context->m_playingId = playingId;
  if (!playingId) return SN_Failure;
  // Without an entry the play runs without segment information.
  if ((callbackFlags & CSnMusicTopContext::kWantsSegmentInfo) &&
      SegmentInfoRepository::CreateEntry(playingId) != SN_Success)
    callbackFlags &= ~CSnMusicTopContext::kWantsSegmentInfo;
  context->m_callbackFlags = callbackFlags;
  return SN_Success;
}

void CSnMusicRenderer::RemoveTopLevelContext(CSnMusicTopContext* context) {
  CSnMusicTopContext* previous = nullptr;
  for (CSnMusicTopContext* at = m_topHead; at; previous = at, at = at->m_nextTop) {
    if (at != context) continue;
    (previous ? previous->m_nextTop : m_topHead) = at->m_nextTop;
    if (m_topTail == at) m_topTail = previous;
    break;
  }
  context->m_nextTop = nullptr;
  if (context->m_playingId && (context->m_callbackFlags & CSnMusicTopContext::kWantsSegmentInfo))
    SegmentInfoRepository::EraseEntry(context->m_playingId);
}

void CSnMusicRenderer::RenderFrame() {
  ++m_frames;
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  if (m_resetPending) {
    for (CSnMusicTopContext* context = m_topHead; context; context = context->m_nextTop)
      context->RequestReset(m_resetValue);
    m_resetPending = false;
    m_resetValue = 0;
  }
  for (CSnMusicTopContext* context = m_topHead; context;) {
    // A play may end, and leave the list, while it runs.
    CSnMusicTopContext* next = context->m_nextTop;
    SnSegmentInfo info{};
    if ((context->m_callbackFlags & CSnMusicTopContext::kWantsSegmentInfo) &&
        context->GetSegmentInfo(info) == SN_Success)
      SegmentInfoRepository::UpdateEntry(context->m_playingId, info);
    context->AdvanceFrame(samples);
    context = next;
  }
}

// ---- held state changes ----

bool CSnMusicRenderer::OnStateChange(uint32_t groupId, uint32_t stateId) {
  CSnMusicRenderer* renderer = Instance();
  return renderer && renderer->HoldStateChange(groupId, stateId);
}

int64_t CSnMusicRenderer::GetDelayToStateSync(uint32_t groupId, CSnMusicTopContext*& context) const {
  context = nullptr;
  int64_t nearest = 0;
  for (CSnMusicTopContext* at = m_topHead; at; at = at->m_nextTop) {
    int64_t delay = 0;
    if (!at->IsPlayingUnpaused() || !at->StateSyncDelay(groupId, delay)) continue;
    // The most recent play wins a tie: it comes first.
    if (!context || delay < nearest) {
      context = at;
      nearest = delay;
    }
  }
  return nearest - int64_t(LowerEngine::SamplesPerFrame());
}

bool CSnMusicRenderer::HoldStateChange(uint32_t groupId, uint32_t stateId) {
  CSnMusicTopContext* context = nullptr;
  const int64_t delay = GetDelayToStateSync(groupId, context);
  if (delay <= 0 || !context) return false;
  auto* item = PoolNew<SnMusicPendingState>(g_DefaultPoolId);
  if (!item) {
    // Applied now: older held changes of the group must not undo it later.
    MarkGroupObsolete(groupId);
    return false;
  }
  *item = SnMusicPendingState{m_pending, groupId, stateId, SnMusicPendingState::kWaiting};
  m_pending = item;
  ++m_pendingCount;
  if (!context->ScheduleStateSync(item, delay + int64_t(LowerEngine::SamplesPerFrame()))) {
    m_pending = item->next;
    --m_pendingCount;
    PoolDelete(g_DefaultPoolId, item);
    return false;
  }
  return true;
}

void CSnMusicRenderer::MarkOlderObsolete(SnMusicPendingState* item) {
  for (SnMusicPendingState* older = item->next; older; older = older->next)
    if (older->groupId == item->groupId) older->flags |= SnMusicPendingState::kObsolete;
}

void CSnMusicRenderer::MarkGroupObsolete(uint32_t groupId) {
  for (SnMusicPendingState* item = m_pending; item; item = item->next)
    if (item->groupId == groupId) item->flags |= SnMusicPendingState::kObsolete;
}

void CSnMusicRenderer::ApplyNow(SnMusicPendingState* item) {
  item->flags = (item->flags | SnMusicPendingState::kObsolete) & ~SnMusicPendingState::kWaiting;
  if (SoundEngine::QueueStateChange(item->groupId, item->stateId, false, true) != SN_Success)
    SOUND_LOG(Error, "Music: the held state %u of group %u could not be queued", item->stateId, item->groupId);
  MarkOlderObsolete(item);
  PurgePendingStates();
}

void CSnMusicRenderer::OnStateSyncReached(SnMusicPendingState* item) {
  item->flags &= ~SnMusicPendingState::kWaiting;
  if (item->flags & SnMusicPendingState::kObsolete) {
    PurgePendingStates();
    return;
  }
  ApplyNow(item);
}

void CSnMusicRenderer::RescheduleStateChange(SnMusicPendingState* item) {
  if (item->flags & SnMusicPendingState::kObsolete) {
    item->flags &= ~SnMusicPendingState::kWaiting;
    PurgePendingStates();
    return;
  }
  CSnMusicTopContext* context = nullptr;
  const int64_t delay = GetDelayToStateSync(item->groupId, context);
  if (delay <= 0 || !context ||
      !context->ScheduleStateSync(item, delay + int64_t(LowerEngine::SamplesPerFrame())))
    ApplyNow(item);
}

void CSnMusicRenderer::PurgePendingStates() {
  for (SnMusicPendingState** link = &m_pending; *link;) {
    SnMusicPendingState* item = *link;
    if (item->flags & SnMusicPendingState::kWaiting) {
      link = &item->next;
      continue;
    }
    *link = item->next;
    --m_pendingCount;
    PoolDelete(g_DefaultPoolId, item);
  }
}

void CSnMusicRenderer::FreePendingStates() {
  while (SnMusicPendingState* item = m_pending) {
    m_pending = item->next;
    PoolDelete(g_DefaultPoolId, item);
  }
  m_pendingCount = 0;
}

}  // namespace SN
