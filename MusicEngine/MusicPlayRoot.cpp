// The play root: the play's clock advanced a frame at a time at its speed, the stingers triggers
// launch at their sync points, the sync callbacks of each frame's window, held state changes placed
// on the chain item where their sync point lies, and the segment information of the play.
#include "MusicEngine/MusicPlayRoot.h"

#include <cmath>

#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicSegmentChain.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/ExternalSources.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kSpeedProperty = 54;
constexpr uint32_t kSpeedParameter = 41;
constexpr uint32_t kSpeedContextParameter = 54;

bool IsMusicNode(const CSnHierarchyNode* node) {
  const uint32_t category = node->NodeCategory();
  return category >= kMusicCategorySegment && category <= kMusicCategorySwitch;
}
}  // namespace

CSnMusicPlayRoot::CSnMusicPlayRoot(CSnMatrixAwareContext* top, const CSnPlayParams& params,
                                   CSnRegisteredObj* gameObject)
    : m_top(top),
      m_params(params),
      m_gameObject(gameObject),
      m_speedLink(this, SnRTPCKey::ForObject(gameObject)),
      m_midi(EngineMidiPlayback()) {
  if (auto* sources = static_cast<CSnExternalSourceList*>(m_params.externalSources)) sources->AddRef();
  if (m_gameObject) m_gameObject->AddRef();
  if (g_pStateMgr && g_pStateMgr->AddTriggerSubscriber(this, m_gameObject) == SN_Success) m_subscribed = true;
  if (CSnHierarchyNode* node = top->GetNode()) m_speedLink.Attach(node);
}

void CSnMusicPlayRoot::SpeedLink::SetParamValue(uint32_t parameterId, float, float) {
  if (parameterId == kSpeedParameter) m_root->RequestReset(0);
}

uint64_t CSnMusicPlayRoot::SpeedLink::WantedMask() const { return uint64_t(1) << kSpeedParameter; }

CSnMusicPlayRoot::~CSnMusicPlayRoot() {
  ClearStingers();
  if (m_speedLink.Target()) m_speedLink.Detach();
  if (m_subscribed && g_pStateMgr) g_pStateMgr->RemoveTriggerSubscriber(this);
  if (m_gameObject) m_gameObject->Release();
  if (auto* sources = static_cast<CSnExternalSourceList*>(m_params.externalSources)) sources->Release();
}

bool CSnMusicPlayRoot::IsPlayingUnpaused() const {
  return (m_top->State() == CSnMusicContext::Playing || m_top->State() == CSnMusicContext::Stopping) &&
         !m_top->IsPaused();
}

// ---- the clock ----

CSnHierarchyNode* CSnMusicPlayRoot::CurrentNode() {
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  if (!iterator.Item()) return nullptr;
  CSnHierarchyNode* fallback = nullptr;
  if (CSnMusicSegmentNode* segment = iterator.GetCurrentSegmentNode(&fallback)) return segment;
  return fallback;
}

void CSnMusicPlayRoot::UpdateSpeed(uint32_t frameSamples, CSnHierarchyNode* node) {
  const float old = m_speed;
  if (m_resetPending) m_top->OnReset();
  const SnRTPCKey key = SnRTPCKey::ForObject(m_gameObject);
  double speed = 1.0;
  for (CSnHierarchyNode* at = node; at && IsMusicNode(at); at = at->Parent()) {
    speed *= at->FloatProperty(kSpeedProperty);
    if (at->HasCurve(kSpeedParameter)) speed *= at->RTPCValue(kSpeedParameter, key);
  }
  // A speed that is no number would pass the clamp and make no whole frame: it counts as 1.
  if (!std::isfinite(speed)) speed = 1.0;
  if (speed < kMinSpeed) speed = kMinSpeed;
  if (speed > kMaxSpeed) speed = kMaxSpeed;
  const float exact = float(frameSamples) * float(speed);
  const uint32_t samples = uint32_t(exact + 0.5f);
  m_speed = float(samples) / float(frameSamples);
  if (m_speed != old) m_top->SetParam(kSpeedContextParameter, m_speed);
  m_speedUpToDate = true;
  m_resetPending = 0;
}

void CSnMusicPlayRoot::AdvanceFrame(uint32_t samples) {
  CSnMatrixAwareContext* top = m_top;
  top->AddRef();
  if (IsPlayingUnpaused()) {
    CSnHierarchyNode* node = CurrentNode();
    if (!m_speedUpToDate && node) UpdateSpeed(samples, node);
    const float exact = float(samples) * m_speed;
    const int64_t length = int64_t(exact + 0.5f);
    SnMusicCutWindow out;
    top->ProcessFrame(m_time, length, out);
    m_midi.AdvanceFrame(uint32_t(length), m_speed);
    m_time = MusicTimeAdd(m_time, length);
    top->OnFrameEnd();
    if (CurrentNode() != node) m_speedUpToDate = false;
  }
  // May end the play, and this play root with it.
  top->Release();
}

// ---- stingers ----

uint32_t CSnMusicPlayRoot::StingerCount() const {
  uint32_t count = 0;
  for (const Stinger* stinger = m_stingers; stinger; stinger = stinger->next) count += stinger->context ? 1 : 0;
  return count;
}

void CSnMusicPlayRoot::ClearStingers() {
  while (Stinger* stinger = m_stingers) {
    m_stingers = stinger->next;
    if (CSnMatrixAwareContext* context = stinger->context) {
      stinger->context = nullptr;
      context->StopNow();
      context->Release();
    }
    PoolDelete(g_DefaultPoolId, stinger);
  }
}

CSnMatrixAwareContext* CSnMusicPlayRoot::CreateStingerContext(const SnMusicStinger& stinger, int64_t& preRoll) {
  preRoll = 0;
  if (!stinger.segmentId || !g_pObjectIndex) return nullptr;
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(stinger.segmentId, false);
  if (!found) return nullptr;
  auto* node = static_cast<CSnHierarchyNode*>(found);
  CSnMusicSegmentChain* chain = nullptr;
  if (node->NodeCategory() == kMusicCategorySegment) {
    chain = CSnMusicSegmentChain::Create(static_cast<CSnMusicSegmentNode*>(node), m_top, m_gameObject, m_params);
    SnMusicRuleDestination entry;
    entry.flags = SnMusicRuleDestination::kEntryCue | SnMusicRuleDestination::kPlayPreEntry;
    if (chain && chain->PrepareForPlay(&entry, 0, preRoll) != SN_Success) {
      chain->StopNow();
      chain->Release();
      chain = nullptr;
    }
  }
  found->Release();
  return chain;
}

bool CSnMusicPlayRoot::Repeats(uint32_t triggerId, const Stinger* retrying) const {
  // Sync times are kept on the play's clock (the iterator adds the top context's offset), so the
  // play's current time is the one to compare.
  for (const Stinger* record = m_stingers; record; record = record->next)
    if (record != retrying && record->blocksRepeats && record->triggerId == triggerId && record->repeatsUntil > m_time)
      return true;
  return false;
}

bool CSnMusicPlayRoot::ScheduleStinger(uint32_t triggerId, bool tryNextSegment, const Stinger* retrying,
                                       const CSnMatrixAwareContext* ended) {
  // A repeat schedules nothing wherever the walk below would lead; with no chain that grows, the
  // walk changes nothing on its way either and is left out.
  if (!CSnMusicChainContext::GrowingChainCount() && Repeats(triggerId, retrying)) return false;
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  if (!iterator.Item()) return false;
  bool stepped = false;
  if (tryNextSegment) {
    // What is left of a context that ends is no next segment: the steps go past it.
    uint32_t steps = 0;
    do {
      iterator.Step();
    } while (iterator.Item() && ended && Holds(iterator, ended) && ++steps < kMaxRetrySteps);
    if (!iterator.Item() || (ended && Holds(iterator, ended))) return false;
    stepped = true;
  }
  bool scheduled = false;
  for (;;) {
    CSnHierarchyNode* fallback = nullptr;
    CSnHierarchyNode* node = iterator.GetCurrentSegmentNode(&fallback);
    if (!node) node = fallback;
    if (!node || !IsMusicNode(node)) break;
    const SnMusicStinger* stinger = static_cast<CSnMusicHierarchyNode*>(node)->FindStinger(triggerId);
    if (!stinger) break;
    if (Repeats(triggerId, retrying)) break;
    int64_t preRoll = 0;
    CSnMatrixAwareContext* context = CreateStingerContext(*stinger, preRoll);
    if (!context && stinger->segmentId) break;
    uint32_t cue = stinger->cueFilter;
    int64_t syncTime = 0;
    const auto found = iterator.FindSyncPoint(MusicTimeAdd(m_time, preRoll), stinger->syncType, cue, false, syncTime);
    if (found == CSnMusicChainIterator::Found) {
      scheduled = ScheduleStingerRecord(iterator, context, *stinger, syncTime, preRoll, !stepped) == SN_Success;
      break;
    }
    if (context) {
      context->StopNow();
      context->Release();
    }
    if (iterator.IsUnbounded() || stinger->lookAheadSegments != 1 || stepped) break;
    iterator.Step();
    if (!iterator.Item()) break;
    stepped = true;
  }
  return scheduled;
}

SNRESULT CSnMusicPlayRoot::ScheduleStingerRecord(CSnMusicChainIterator& iterator, CSnMatrixAwareContext* context,
                                                 const SnMusicStinger& stinger, int64_t syncTime, int64_t preRoll,
                                                 bool mayRetry) {
  auto* record = PoolNew<Stinger>(g_DefaultPoolId);
  auto* action = record ? PoolNew<SnMusicScheduledAction>(g_DefaultPoolId) : nullptr;
  if (!action) {
    if (record) PoolDelete(g_DefaultPoolId, record);
    if (context) {
      context->StopNow();
      context->Release();
    }
    return SN_Failure;
  }
  const int64_t dontRepeat = MusicRateMs(MusicSampleRate(), stinger.dontRepeatTime);
  *record = Stinger{};
  record->triggerId = stinger.triggerId;
  record->segmentId = stinger.segmentId;
  record->syncTime = syncTime;
  record->dontRepeat = dontRepeat > UINT32_MAX ? UINT32_MAX : uint32_t(dontRepeat);
  record->preRoll = preRoll > UINT32_MAX ? UINT32_MAX : preRoll < 0 ? 0 : uint32_t(preRoll);
  record->mayRetry = mayRetry && stinger.lookAheadSegments > 0;
  record->blocksRepeats = true;
  record->repeatsUntil = MusicTimeAdd(syncTime, record->dontRepeat);
  record->playsFrom = MusicTimeSub(syncTime, record->preRoll);
  if (context) {
    // The record keeps the creator's reference; its time 0 is the sync point.
    context->SetTimeOffset(MusicTimeSub(syncTime, m_top->TimeOffset()));
    record->context = context;
    CSnMusicChainIterator inner;
    inner.Init(context, true);
    if (inner.Item() && inner.Item()->segment) {
      const CSnMusicSegmentNode* segment = inner.Item()->segment->Segment();
      record->playingLength = uint32_t(segment->GetActiveDuration()) + uint32_t(segment->GetPostExitDuration());
    }
  }
  record->stopsAt = MusicTimeAdd(syncTime, record->playingLength);
  record->next = m_stingers;
  m_stingers = record;
  *action = SnMusicScheduledAction{iterator.ItemLocalTime(MusicTimeSub(syncTime, iterator.GetAccumulatedOffset())),
                                   SnMusicScheduledAction::Stinger, record, nullptr};
  iterator.Item()->AddAction(action);
  return SN_Success;
}

void CSnMusicPlayRoot::ProcessStingers(int64_t time, int64_t length) {
  const int64_t end = MusicTimeAdd(time, length);
  for (Stinger** link = &m_stingers; *link;) {
    Stinger* record = *link;
    CSnMatrixAwareContext* context = record->context;
    if (!context) {
      if (record->repeatsUntil < time) {
        *link = record->next;
        PoolDelete(g_DefaultPoolId, record);
      } else {
        link = &record->next;
      }
      continue;
    }
    link = &record->next;
    if (record->playsFrom >= end) continue;
    if (record->playsFrom >= time) context->Play(SnMusicFade{0, 0, 0});
    const int64_t stopAt = record->stopsAt;
    if (record->playingLength && stopAt >= time && stopAt < end) context->Stop(0, 4, uint32_t(stopAt - time));
    if ((context->State() == CSnMusicContext::Playing || context->State() == CSnMusicContext::Stopping) &&
        !context->IsPaused()) {
      const int64_t parentTime = MusicTimeSub(time, m_top->TimeOffset());
      SnMusicCutWindow cut{MusicTimeAdd(MusicTimeSub(record->syncTime, m_top->TimeOffset()), 1), true};
      context->ProcessFrame(parentTime, length, cut);
    }
    if (context->State() > CSnMusicContext::Playing) {
      record->context = nullptr;
      context->Release();
    }
  }
}

// ---- each frame's window ----

void CSnMusicPlayRoot::ProcessFrameWindow(int64_t time, int64_t length) {
  ProcessStingers(time, length);
  NotifySyncs(time, length);
}

void SetMeterDurations(const SnMusicMeter& meter, SnSegmentInfo& info) {
  const float rate = float(MusicSampleRate());
  info.beatDuration = float(meter.beat) / rate;
  info.barDuration = float(meter.bar) / rate;
  info.gridDuration = float(meter.gridPeriod) / rate;
  info.gridOffset = float(meter.gridOffset) / rate;
}

void CSnMusicPlayRoot::NotifySyncs(int64_t time, int64_t length) {
  const uint32_t flags = CallbackFlags() & kSyncCallbacks;
  if (!flags || !g_pPlayingIDCallbackMgr || !PlayingId()) return;
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  const int64_t end = MusicTimeAdd(time, length);
  while (CSnMusicChainItem* item = iterator.Item()) {
    if (item->segment) {
      const CSnMusicSegmentNode* segment = item->segment->Segment();
      const int64_t position = iterator.ItemLocalTime(MusicTimeSub(time, iterator.GetAccumulatedOffset()));
      SnMusicSyncCallbackInfo info{};
      FillSegmentInfo(item, position, info.segmentInfo);
      SetMeterDurations(segment->GetMeter(), info.segmentInfo);
      auto post = [&](uint32_t type, uint32_t count, uint32_t cueId) {
        if (!(flags & type)) return;
        for (uint32_t i = 0; i < count; ++i) {
          SnMusicSyncCallbackInfo copy = info;
          copy.syncType = type;
          copy.userCueId = cueId;
          g_pPlayingIDCallbackMgr->NotifyEvent(type, PlayingId(), copy);
        }
      };
      const int32_t from = MusicTimeToS32(position);
      const int32_t span = MusicTimeToS32(length);
      if (flags & SnCallback_MusicSyncUserCue)
        for (uint32_t m = 1; m + 1 < segment->MarkerCount(); ++m) {
          const int64_t at = int64_t(segment->Marker(m).position) - segment->GetPreEntryDuration();
          if (at >= position && at < position + length) post(SnCallback_MusicSyncUserCue, 1, segment->Marker(m).id);
        }
      if (position <= 0 && 0 < position + length) post(SnCallback_MusicSyncEntry, 1, 0);
      uint32_t bars = 0, beats = 0, grids = 0;
      segment->CountMusicalEvents(from, span, bars, beats, grids);
      post(SnCallback_MusicSyncBar, bars, 0);
      post(SnCallback_MusicSyncBeat, beats, 0);
      post(SnCallback_MusicSyncGrid, grids, 0);
      const int64_t active = segment->GetActiveDuration();
      if (active >= position && active < position + length) post(SnCallback_MusicSyncExit, 1, 0);
    }
    if (iterator.IsUnbounded() || !item->next) break;
    if (MusicTimeAdd(iterator.GetAccumulatedOffset(), MusicTimeSub(item->next->begin, iterator.Chain()->ChainOrigin())) >= end)
      break;
    iterator.Step();
  }
}

SNRESULT CSnMusicPlayRoot::FillSegmentInfo(const CSnMusicChainItem* item, int64_t position, SnSegmentInfo& out) const {
  out = SnSegmentInfo{};
  if (!item || !item->segment) return SN_Success;
  const CSnMusicSegmentNode* segment = item->segment->Segment();
  const uint32_t rate = MusicSampleRate();
  out.currentPosition = MusicSamplesToMs(position, rate);
  out.preEntryDuration = MusicSamplesToMs(segment->GetPreEntryDuration(), rate);
  out.activeDuration = MusicSamplesToMs(segment->GetActiveDuration(), rate);
  out.postExitDuration = MusicSamplesToMs(segment->GetPostExitDuration(), rate);
  const int64_t ahead = MusicTimeSub(item->segment->BeginReference(), position);
  out.remainingLookAheadTime = ahead >= 1 ? MusicSamplesToMs(ahead, rate) : 0;
  return SN_Success;
}

// ---- held state changes ----

CSnMusicPlayRoot::StateSync CSnMusicPlayRoot::FindStateSync(CSnMusicChainIterator& iterator, uint32_t groupId,
                                                            int64_t localTime, int64_t& syncTime) {
  CSnMusicSegmentNode* segment = iterator.Item()->segment->Segment();
  SnArray<uint32_t> types;
  bool immediate = false;
  // The tracks with their buses, then the segment with its bus and its ancestors.
  for (uint32_t i = 0; i < segment->ChildCount() && !immediate; ++i)
    immediate = segment->Child(i)->CollectSyncTypes(groupId, types);
  if (!immediate) immediate = segment->CollectSyncTypes(groupId, types);
  if (immediate || (types.Count() && types[0] == 0)) return SyncImmediate;
  if (!types.Count()) return SyncNoRules;
  bool found = false;
  for (uint32_t type : types) {
    uint32_t cue = 0;
    int64_t at = 0;
    if (iterator.FindSyncPoint(localTime, type, cue, false, at) != CSnMusicChainIterator::Found) continue;
    if (!found || at < syncTime) syncTime = at;
    found = true;
  }
  return found ? SyncFound : SyncNotFound;
}

int64_t CSnMusicPlayRoot::GetStateSyncTime(uint32_t groupId, bool& stepped, int64_t& syncTime) {
  stepped = false;
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  if (!iterator.Item()) return 0;
  StateSync first = SyncNoRules;
  if (iterator.Item()->segment && iterator.Item()->segment->State() == CSnMusicContext::Playing) {
    first = FindStateSync(iterator, groupId, m_time, syncTime);
    if (first == SyncImmediate) return 0;
    if (first == SyncFound) return MusicTimeSub(syncTime, m_time);
  }
  if (iterator.IsUnbounded()) return 0;
  const bool firstPlaying = iterator.Item()->segment != nullptr;
  iterator.Step();
  if (!iterator.Item()) return 0;
  if (iterator.Item()->segment) {
    if (first == SyncNoRules && iterator.Item()->segment->State() != CSnMusicContext::Playing) return 0;
    stepped = true;
    const StateSync next = FindStateSync(iterator, groupId, m_time, syncTime);
    if (next == SyncFound) return MusicTimeSub(syncTime, m_time);
    if (next == SyncNotFound || first == SyncNoRules) return 0;
  } else if (first != SyncNotFound || !firstPlaying) {
    return 0;
  }
  syncTime = iterator.GetCurrentItemBegin();
  return MusicTimeSub(syncTime, m_time);
}

bool CSnMusicPlayRoot::StateSyncDelay(uint32_t groupId, int64_t& delay) {
  // No node anywhere waits for a sync point: every walk would answer 0, and with no chain that grows
  // it would change nothing on its way.
  if (!CSnStateGroupLink::SyncedCount() && !CSnMusicChainContext::GrowingChainCount()) {
    delay = 0;
    return true;
  }
  bool stepped = false;
  int64_t syncTime = 0;
  delay = GetStateSyncTime(groupId, stepped, syncTime);
  return true;
}

bool CSnMusicPlayRoot::ScheduleStateSync(SnMusicPendingState* item, int64_t delay) {
  const int64_t time = MusicTimeAdd(m_time, delay);
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  uint32_t skip = 0;
  // The item whose span holds the sync point.
  while (iterator.Item() && !iterator.IsUnbounded() &&
         time >= MusicTimeAdd(iterator.GetCurrentItemBegin(), iterator.Limit())) {
    iterator.Step();
    ++skip;
  }
  return ScheduleAction(item, skip, time) == SN_Success;
}

SNRESULT CSnMusicPlayRoot::ScheduleAction(void* payload, uint32_t itemsToSkip, int64_t time) {
  CSnMusicChainIterator iterator;
  iterator.Init(m_top, false);
  for (uint32_t i = 0; i < itemsToSkip && iterator.Item(); ++i) iterator.Step();
  if (!iterator.Item()) return SN_Failure;
  auto* action = PoolNew<SnMusicScheduledAction>(g_DefaultPoolId);
  if (!action) return SN_Failure;
  *action = SnMusicScheduledAction{iterator.ItemLocalTime(MusicTimeSub(time, iterator.GetAccumulatedOffset())),
                                   SnMusicScheduledAction::HeldState, payload, nullptr};
  iterator.Item()->AddAction(action);
  return SN_Success;
}

bool CSnMusicPlayRoot::Holds(const CSnMusicChainIterator& iterator, const CSnMatrixAwareContext* context) {
  for (uint32_t level = 0; const CSnMatrixAwareContext* entry = iterator.GetStackEntry(level); ++level)
    if (entry == context) return true;
  return false;
}

void CSnMusicPlayRoot::RehomeActions(SnMusicScheduledAction* actions, const CSnMatrixAwareContext* ended) {
  while (SnMusicScheduledAction* action = actions) {
    actions = action->next;
    if (action->kind == SnMusicScheduledAction::Stinger) {
      auto* record = static_cast<Stinger*>(action->payload);
      if (CSnMatrixAwareContext* context = record->context) {
        // Cut at its own time: one already sounding fades out over as long as it has sounded.
        context->CutAt(MusicTimeSub(m_time, context->GetGlobalOffset()));
        record->context = nullptr;
        context->Release();
      }
      // Its own record is no repeat of it; the new one, when made, holds the don't-repeat time.
      if (record->mayRetry && ScheduleStinger(record->triggerId, true, record, ended)) record->blocksRepeats = false;
    } else if (CSnMusicRenderer* renderer = CSnMusicRenderer::Instance()) {
      renderer->RescheduleStateChange(static_cast<SnMusicPendingState*>(action->payload));
    }
    PoolDelete(g_DefaultPoolId, action);
  }
}

}  // namespace SN
