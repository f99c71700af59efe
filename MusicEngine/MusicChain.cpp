// Chains of segments: the root-capable context and its play root, chain items playing and stopping
// their segment contexts at exact samples, and the iterator that finds the current item, its bounds
// and the next sync point.
#include "MusicEngine/MusicChain.h"

#include <atomic>

#include "MusicEngine/MusicPlayRoot.h"
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kPlayActivity = 3;

uint32_t& ItemActions() {
  static uint32_t count = 0;
  return count;
}

uint32_t& GrowingChains() {
  static uint32_t count = 0;
  return count;
}

void FreeActionList(SnMusicScheduledAction* action, bool applyHeldStates) {
  while (action) {
    SnMusicScheduledAction* next = action->next;
    if (applyHeldStates && action->kind == SnMusicScheduledAction::HeldState)
      if (CSnMusicRenderer* renderer = CSnMusicRenderer::Instance())
        renderer->OnStateSyncReached(static_cast<SnMusicPendingState*>(action->payload));
    PoolDelete(g_DefaultPoolId, action);
    action = next;
  }
}
}  // namespace

// ---- the root-capable context ----

SNRESULT CSnMatrixAwareContext::Init(CSnRegisteredObj* gameObject, const CSnPlayParams& params) {
  if (Parent()) {
    Connect();
    m_playRoot = static_cast<CSnMatrixAwareContext*>(Parent())->m_playRoot;
    return SN_Success;
  }
  CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  if (!renderer) return SN_Failure;
  auto* root = PoolNew<CSnMusicPlayRoot>(g_DefaultPoolId, this, params, gameObject);
  if (!root) {
    SOUND_LOG(Error, "Music: no memory for the play of playing id %u", params.playingId);
    return SN_Failure;
  }
  m_playRoot = root;
  // The node and its parents count the play: their game-parameter curves follow it from here.
  CSnHierarchyNode* node = GetNode();
  if (node && !node->ActivityUp(kPlayActivity)) {
    node->ActivityDown(kPlayActivity);
    m_playRoot = nullptr;
    PoolDelete(g_DefaultPoolId, root);
    return SN_Failure;
  }
  m_activityTaken = node != nullptr;
  uint32_t flags = 0;
  if (params.playingId && g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->AddPlaybackRef(params.playingId, &flags);
  const SNRESULT result = renderer->AddTopLevelContext(root, params.playingId, flags);
  if (result != SN_Success) return result;
  if (g_pPlayingIDCallbackMgr) {
    SnEventCallbackInfo info{};
    g_pPlayingIDCallbackMgr->NotifyEvent(SnCallback_MusicPlayStarted, params.playingId, info);
  }
  return SN_Success;
}

void CSnMatrixAwareContext::LeaveWithoutParent() {
  CSnMusicPlayRoot* root = m_playRoot;
  if (!root) return;
  m_playRoot = nullptr;
  if (CSnMusicRenderer* renderer = CSnMusicRenderer::Instance()) renderer->RemoveTopLevelContext(root);
  if (root->PlayingId() && g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->ReleasePlaybackRef(root->PlayingId());
  if (m_activityTaken) GetNode()->ActivityDown(kPlayActivity);
  m_activityTaken = false;
  PoolDelete(g_DefaultPoolId, root);
}

void CSnMatrixAwareContext::OnStopComplete() {
  AddRef();
  CSnMusicContext::OnStopComplete();
  if (!Parent() && m_playRoot) {
    m_playRoot->ClearStingers();
    // Notes still waiting for their note-offs end with the play.
    m_playRoot->MidiContext().EndClips();
  }
  if (m_heldUntilStopped) {
    m_heldUntilStopped = false;
    Release();
  }
  Release();
}

SNRESULT CSnMatrixAwareContext::PrepareAtSeek(const SnMusicRuleDestination* rule, SnMusicSeek& seek,
                                             int64_t& preRoll) {
  preRoll = 0;
  if (seek.IsPosition()) return SN_Failure;
  seek.playlistItemId = 0;  // only a playlist has items to jump to
  return PrepareAsChild(rule, preRoll);
}

SNRESULT CSnMatrixAwareContext::SeekPercent(float, bool) { return SN_Failure; }
SNRESULT CSnMatrixAwareContext::SeekTime(int32_t, bool) { return SN_Failure; }

int64_t CSnMatrixAwareContext::GetGlobalOffset() const {
  int64_t offset = m_timeOffset;
  for (const CSnMusicContext* parent = Parent(); parent; parent = parent->Parent())
    offset = MusicTimeAdd(offset, static_cast<const CSnMatrixAwareContext*>(parent)->m_timeOffset);
  return offset;
}

uint32_t CSnMatrixAwareContext::GetPlayWindowLength() const {
  int64_t begin = 0, end = 0;
  GetPlayWindow(begin, end);
  const int64_t length = MusicTimeSub(end, begin);
  return length < 0 ? 0 : length > UINT32_MAX ? UINT32_MAX : uint32_t(length);
}

void CSnMatrixAwareContext::EndFrame(int64_t time, int64_t length) {
  if (!Parent() && m_playRoot) m_playRoot->ProcessFrameWindow(time, length);
  Release();
}

SNRESULT CSnMatrixAwareContext::GetSegmentInfo(SnSegmentInfo& out) {
  if (!m_playRoot) return SN_Failure;
  CSnMusicChainIterator iterator;
  iterator.Init(this, false);
  if (!iterator.Item()) return SN_Failure;
  if (!iterator.Item()->segment) return m_playRoot->FillSegmentInfo(nullptr, 0, out);
  const int64_t position = iterator.ItemLocalTime(MusicTimeSub(m_playRoot->CurrentTime(), iterator.GetAccumulatedOffset()));
  return m_playRoot->FillSegmentInfo(iterator.Item(), position, out);
}

// ---- chain items ----

CSnMusicChainItem::CSnMusicChainItem(int64_t beginTime, CSnMusicSegmentContext* segmentContext)
    : begin(beginTime), segment(segmentContext) {
  if (!segment) return;
  segment->AddRef();
  segment->SetItem(this);
  segmentId = segment->Segment()->ID();
}

CSnMusicChainItem::~CSnMusicChainItem() { ClearItem(); }

int64_t CSnMusicChainItem::SetPlayAt(int64_t syncTime, int64_t position) {
  if (!segment) return 0;
  const int64_t lookAhead = segment->GetLookAhead(syncTime);
  playAt = MusicTimeToS32(MusicTimeSub(syncTime, lookAhead));
  fadeIn = SnMusicFade{0, 4, 0};
  flags |= kPlayPending;
  return MusicTimeAdd(lookAhead, MusicTimeSub(position, syncTime));
}

void CSnMusicChainItem::SchedulePlay(const SnMusicFade& fade) {
  fadeIn = fade;
  flags |= kPlayPending;
}

void CSnMusicChainItem::ScheduleStop(int32_t fadeTimeMs, uint32_t curve, int64_t at) {
  if (at < playAt) {
    // Before it plays: the stop waits for the play and its fade is shorter by the difference.
    const int32_t shorter = MusicSamplesToMs(int64_t(playAt) - at, MusicSampleRate());
    fadeTimeMs = fadeTimeMs > shorter ? fadeTimeMs - shorter : 0;
    at = playAt;
  }
  stopAt = MusicTimeToS32(at);
  fadeOut = SnMusicFade{fadeTimeMs, curve, 0};
  flags |= kStopPending;
}

void CSnMusicChainItem::SetStopAtEnd(bool includePostExit) {
  if (!segment || fadeOut.timeMs != 0) return;
  const CSnMusicSegmentNode* node = segment->Segment();
  stopAt = node->GetActiveDuration() + (includePostExit ? node->GetPostExitDuration() : 0);
}

void CSnMusicChainItem::ClearItem() {
  flags &= uint16_t(~(kPlayPending | kStopPending));
  SnMusicScheduledAction* list = actions;
  actions = nullptr;
  for (const SnMusicScheduledAction* action = list; action; action = action->next) --ItemActions();
  FreeActionList(list, true);
  if (CSnMusicSegmentContext* context = segment) {
    segment = nullptr;
    context->SetItem(nullptr);
    context->Release();
  }
}

void CSnMusicChainItem::SegmentEnded() {
  if (CSnMusicSegmentContext* context = segment) {
    segment = nullptr;
    context->Release();
  }
}

void CSnMusicChainItem::CutSegment(int64_t position) {
  const int64_t played = position - segment->BeginReference();
  const int32_t ms = MusicSamplesToMs(played > 0 ? played : 0, MusicSampleRate());
  segment->Stop(ms, 4, CSnMusicContext::kNoStopOffset);
}

void CSnMusicChainItem::ProcessFrame(int64_t chainTime, int64_t length, float speed, bool cut) {
  const int64_t p = MusicTimeSub(chainTime, begin);
  const int64_t end = MusicTimeAdd(p, length);
  if (segment) {
    if ((flags & kPlayPending) && playAt < end) {
      flags &= uint16_t(~kPlayPending);
      if (cut) {
        flags |= kStopped;
      } else {
        segment->SetPosition(playAt);
        segment->Play(fadeIn);
      }
    } else if (cut && !(flags & kStopped) && segment->State() == CSnMusicContext::Playing) {
      CutSegment(p);
      flags |= kStopped;
    }
  }
  if (segment && (flags & kStopPending) && stopAt < end) {
    flags &= uint16_t(~kStopPending);
    const int64_t offset = stopAt - p;
    segment->Stop(fadeOut.timeMs, fadeOut.curve, uint32_t(offset > 0 ? offset : 0));
  }
  if (segment && (segment->State() == CSnMusicContext::Playing || segment->State() == CSnMusicContext::Stopping) &&
      !segment->IsPaused())
    segment->Perform(p, length, speed);
  // Due actions: held state changes are applied; a stinger's only marks how long it belongs here.
  SnMusicScheduledAction* due = nullptr;
  for (SnMusicScheduledAction** link = &actions; *link;) {
    SnMusicScheduledAction* action = *link;
    if (action->time < end) {
      *link = action->next;
      action->next = due;
      due = action;
      --ItemActions();
    } else {
      link = &action->next;
    }
  }
  FreeActionList(due, true);
}

bool CSnMusicChainItem::IsFinished() const { return !segment && !(flags & kStopPending) && !actions; }

void CSnMusicChainItem::FlushStateActions() {
  for (SnMusicScheduledAction** link = &actions; *link;) {
    SnMusicScheduledAction* action = *link;
    if (action->kind != SnMusicScheduledAction::HeldState) {
      link = &action->next;
      continue;
    }
    *link = action->next;
    action->next = nullptr;
    --ItemActions();
    FreeActionList(action, true);
  }
}

void CSnMusicChainItem::TakeActionsAfter(int64_t time, SnMusicScheduledAction*& list) {
  for (SnMusicScheduledAction** link = &actions; *link;) {
    SnMusicScheduledAction* action = *link;
    if (action->time > time || (action->time == time && action->kind == SnMusicScheduledAction::Stinger)) {
      *link = action->next;
      action->next = list;
      list = action;
      --ItemActions();
    } else {
      link = &action->next;
    }
  }
}

void CSnMusicChainItem::AddAction(SnMusicScheduledAction* action) {
  action->next = actions;
  actions = action;
  ++ItemActions();
}

uint32_t CSnMusicChainItem::ActionCount() { return ItemActions(); }

uint32_t CSnMusicChainContext::GrowingChainCount() { return GrowingChains(); }

void CSnMusicChainContext::CountGrowingChain(int32_t delta) { GrowingChains() += uint32_t(delta); }

// ---- the chain context ----

CSnMusicChainContext::~CSnMusicChainContext() {
  while (m_head) RemoveHead();
}

CSnMusicChainItem* CSnMusicChainContext::AppendItem(int64_t beginTime, CSnMusicSegmentContext* segment) {
  auto* item = m_itemRoom.New(beginTime, segment);
  if (!item) return nullptr;
  (m_tail ? m_tail->next : m_head) = item;
  m_tail = item;
  return item;
}

void CSnMusicChainContext::RemoveHead() {
  CSnMusicChainItem* item = m_head;
  if (!item) return;
  m_head = item->next;
  if (!m_head) m_tail = nullptr;
  m_itemRoom.Delete(item);
}

void CSnMusicChainContext::ClearItems() {
  while (CSnMusicChainItem* item = m_head) {
    OnItemRemoved(item);
    item->ClearItem();
    RemoveHead();
  }
}

SNRESULT CSnMatrixAwareContext::PlayAsRoot(const SnMusicRuleDestination* rule, const CSnPlayParams& params) {
  int64_t preRoll = 0;
  if (PrepareAsChild(rule, preRoll) != SN_Success) {
    SOUND_LOG(Error, "Music node %u cannot be played", GetNode() ? GetNode()->ID() : 0);
    StopNow();
    Release();
    return SN_Failure;
  }
  SetTimeOffset(preRoll);
  HoldUntilStopped();
  Play(SnMusicFade{params.transition.durationMs, uint32_t(params.transition.shape), 0});
  Release();
  return SN_Success;
}

void CSnMatrixAwareContext::HoldUntilStopped() {
  if (m_heldUntilStopped) return;
  m_heldUntilStopped = true;
  AddRef();
}

void CSnMusicChainContext::OnStopComplete() {
  AddRef();
  ClearItems();
  CSnMatrixAwareContext::OnStopComplete();
  Release();
}

void CSnMusicChainContext::ProcessFrame(int64_t time, int64_t length, SnMusicCutWindow& out) {
  const int64_t local = MusicTimeSub(time, TimeOffset());
  out.time = MusicTimeSub(out.time, TimeOffset());
  AddRef();
  if (State() == Stopping && StopOffset() != kNoStopOffset) length = StopOffset();
  const int64_t chainTime = MusicTimeAdd(local, m_origin);
  OnChainTime(chainTime);
  const float speed = PlayRoot() ? PlayRoot()->Speed() : 1.0f;
  bool removing = true;
  for (CSnMusicChainItem* item = m_head; item;) {
    CSnMusicChainItem* next = item->next;
    if (chainTime <= item->begin && item->begin < MusicTimeAdd(local, length)) OnItemBegins(item);
    item->ProcessFrame(chainTime, length, speed, out.cut && item->begin >= MusicTimeAdd(out.time, m_origin));
    // Finished items go once the next has begun; the first that stays ends the removal.
    if (removing && item == m_head && item->IsFinished() && next && next->begin < chainTime) {
      OnItemRemoved(item);
      RemoveHead();
    } else {
      removing = false;
    }
    item = next;
  }
  // Every item done: the chain has nothing more to play.
  bool finished = State() == Playing;
  for (CSnMusicChainItem* item = m_head; item && finished; item = item->next)
    finished = item->IsFinished() && !(item->flags & CSnMusicChainItem::kPlayPending);
  if (finished && !Parent() && PlayRoot() && PlayRoot()->StingerCount()) finished = false;
  if (finished) OnStopped(kNoStopOffset);
  EndFrame(time, length);
}

void CSnMusicChainContext::SetIteratorLimit(CSnMusicChainIterator& iterator, CSnMusicChainItem* item, bool noExtend) {
  auto beginOf = [&](const CSnMusicChainItem* i) {
    const int64_t at = MusicTimeSub(i->begin, m_origin);
    return at > 0 ? at : 0;
  };
  // The last item of a chain that does not grow reaches as far as it plays.
  if (!item->next && !noExtend) ExtendChain();
  if (!item->next) {
    iterator.SetLimit(0, true);
    return;
  }
  iterator.SetLimit(MusicTimeSub(beginOf(item->next), beginOf(item)), false);
}

void CSnMusicChainContext::StepIterator(CSnMusicChainIterator& iterator, bool noExtend) {
  CSnMusicChainItem* item = nullptr;
  if (iterator.Item()) {
    item = iterator.Item()->next;
    if (!item) {
      iterator.SetCurrent(nullptr, this);
      return;
    }
  } else if (m_head) {
    item = m_head;
    if (!iterator.IsNested() && PlayRoot()) {
      const int64_t local = MusicTimeSub(PlayRoot()->CurrentTime(), GetGlobalOffset());
      for (CSnMusicChainItem* i = m_head; i; i = i->next)
        if (MusicTimeSub(i->begin, m_origin) < local) item = i;
    }
  } else {
    iterator.SetCurrent(nullptr, this);
    iterator.SetLimit(0, true);
    return;
  }
  iterator.SetCurrent(item, this);
  SetIteratorLimit(iterator, item, noExtend);
}

void CSnMusicChainContext::GetPlayWindow(int64_t& begin, int64_t& end) const {
  begin = end = 0;
  bool any = false;
  for (const CSnMusicChainItem* item = m_head; item; item = item->next) {
    if (!item->segment) continue;
    const int64_t first = MusicTimeAdd(item->begin, item->playAt);
    const int64_t last = MusicTimeAdd(item->begin, item->segment->BeginReference());
    if (!any || first < begin) begin = first;
    if (!any || last > end) end = last;
    any = true;
  }
  if (!any) return;
  begin = MusicTimeSub(begin, m_origin);
  end = MusicTimeSub(end, m_origin);
}

bool CSnMusicChainContext::CanBeCut() const {
  if (State() != Playing && State() != Idle) return false;
  for (const CSnMusicChainItem* item = m_head; item; item = item->next)
    if (item->flags & CSnMusicChainItem::kStopped) return false;
  return true;
}

void CSnMusicChainContext::CutAt(int64_t time) {
  const int64_t chainTime = MusicTimeAdd(time, m_origin);
  for (CSnMusicChainItem* item = m_head; item; item = item->next) {
    if (!item->segment || item->segment->State() != Playing || (item->flags & CSnMusicChainItem::kStopped)) {
      item->ClearItem();
      continue;
    }
    const int64_t played = MusicTimeSub(MusicTimeSub(chainTime, item->begin), item->segment->BeginReference());
    item->segment->Stop(MusicSamplesToMs(played > 0 ? played : 0, MusicSampleRate()), 4, kNoStopOffset);
    item->flags |= CSnMusicChainItem::kStopped;
  }
}

// ---- the iterator ----

void CSnMusicChainIterator::Init(CSnMatrixAwareContext* context, bool nested) {
  m_count = 0;
  m_item = nullptr;
  m_chain = nullptr;
  m_limit = 0;
  m_unbounded = true;
  m_done = false;
  m_nested = nested;
  if (!PushContext(context)) return;
  context->StepIterator(*this, false);
  m_done = !nested;
}

bool CSnMusicChainIterator::PushContext(CSnMatrixAwareContext* context) {
  if (m_count == kMaxDepth) {
    CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
    if (!renderer || renderer->FirstToSay(CSnMusicRenderer::kSaidDepth))
      SOUND_LOG(Error, "Music: contexts nest deeper than %u; the play has no current segment", kMaxDepth);
    m_item = nullptr;
    m_chain = nullptr;
    m_done = true;
    return false;
  }
  m_stack[m_count++] = context;
  return true;
}

void CSnMusicChainIterator::SetCurrent(CSnMusicChainItem* item, CSnMusicChainContext* chain) {
  m_item = item;
  m_chain = chain;
  m_noSync = chain && chain->HasNoSyncPoints();
}

void CSnMusicChainIterator::Step() {
  if (!m_count) return;
  m_stack[m_count - 1]->StepIterator(*this, false);
  while (!m_item && m_count > 1) {
    CSnMatrixAwareContext* ended = m_stack[--m_count];
    m_stack[m_count - 1]->StepPastChild(*this, ended);
  }
}

int64_t CSnMusicChainIterator::GetAccumulatedOffset(uint32_t) const { return m_chain ? m_chain->GetGlobalOffset() : 0; }

int64_t CSnMusicChainIterator::ItemLocalTime(int64_t chainTime) const {
  if (!m_item) return chainTime;
  return MusicTimeSub(chainTime, MusicTimeSub(m_item->begin, m_chain->ChainOrigin()));
}

int64_t CSnMusicChainIterator::ChainTime(int64_t localTime) const {
  if (!m_item) return localTime;
  return MusicTimeAdd(localTime, MusicTimeSub(m_item->begin, m_chain->ChainOrigin()));
}

int64_t CSnMusicChainIterator::ItemBegin() const {
  if (!m_item) return 0;
  const int64_t at = MusicTimeSub(m_item->begin, m_chain->ChainOrigin());
  return at > 0 ? at : 0;
}

int64_t CSnMusicChainIterator::GetCurrentItemBegin() const {
  if (!m_item) return kMusicNoTime;
  return MusicTimeAdd(GetAccumulatedOffset(), ItemBegin());
}

CSnMusicSegmentNode* CSnMusicChainIterator::GetCurrentSegmentNode(CSnHierarchyNode** fallback) const {
  if (m_item && m_item->segment) return m_item->segment->Segment();
  if (fallback) {
    *fallback = m_chain ? m_chain->GetNode() : nullptr;
    if (!*fallback && m_chain && m_chain->Parent())
      *fallback = static_cast<CSnMatrixAwareContext*>(m_chain->Parent())->GetNode();
  }
  return nullptr;
}

bool CSnMusicChainIterator::IsAtExitCue(int64_t time) const {
  if (!m_item || !m_item->segment) return false;
  return ItemLocalTime(MusicTimeSub(time, GetAccumulatedOffset())) == m_item->segment->Segment()->GetActiveDuration();
}

CSnMusicChainIterator::SyncResult CSnMusicChainIterator::FindSyncPoint(int64_t fromTime, uint32_t syncType,
                                                                         uint32_t& cueFilter, bool allowWithoutSegment,
                                                                         int64_t& syncTime) const {
  if (!m_item) return NotFound;
  // The chain's place in the play, walked up to once.
  const int64_t offset = GetAccumulatedOffset();
  const int64_t begin = MusicTimeAdd(offset, ItemBegin());
  const int64_t from = fromTime > begin ? fromTime : begin;
  const int64_t position = ItemLocalTime(MusicTimeSub(from, offset));
  int64_t found = position;
  if (m_item->segment && !m_noSync) {
    if (position > INT32_MAX || position < INT32_MIN) return NotFound;
    uint32_t cue = 0;
    int32_t at = 0;
    if (m_item->segment->Segment()->FindSyncPoint(int32_t(position), syncType, cueFilter, false, cue, at) != SN_Success)
      return NotFound;
    cueFilter = cue;
    found = at;
  } else {
    cueFilter = 0;
    if (!allowWithoutSegment && syncType != SnMusicSync_Immediate) return NotFound;
  }
  syncTime = MusicTimeAdd(ChainTime(found), offset);
  if (m_unbounded) return Found;
  if (syncTime > MusicTimeAdd(begin, m_limit)) return BeyondItem;
  return Found;
}

void CSnMusicChainIterator::TakeActionsAfter(int64_t time, SnMusicScheduledAction*& list) const {
  if (!m_item) return;
  const int64_t chainTime = MusicTimeAdd(MusicTimeSub(time, GetAccumulatedOffset()), m_chain->ChainOrigin());
  for (CSnMusicChainItem* item = m_item; item; item = item->next)
    item->TakeActionsAfter(MusicTimeSub(chainTime, item->begin), list);
}

}  // namespace SN
