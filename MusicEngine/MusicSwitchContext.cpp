// The switch container's playing context: followers of its groups, the children it switches between
// at their rules' sync points, and the frame that plays, stops and releases them on their samples.
#include "MusicEngine/MusicSwitchContext.h"

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicPlayRoot.h"
#include "MusicEngine/MusicSegment.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

// ---- followers ----

CSnMusicSwitchFollower::~CSnMusicSwitchFollower() {
  if (!m_subscribed) return;
  if (IsState()) {
    if (g_pStateMgr) g_pStateMgr->RemoveStateSubscriber(this);
  } else if (g_pSwitchMgr) {
    g_pSwitchMgr->UnsubscribeSwitches(this);
  }
}

bool CSnMusicSwitchFollower::IsState() const {
  return static_cast<const CSnMusicSwitchContainer*>(m_owner->GetNode())->ArgumentGroupType(argument) == 1;
}

bool CSnMusicSwitchFollower::Init(CSnMusicSwitchContext* owner, uint32_t index) {
  m_owner = owner;
  argument = index;
  const uint32_t group = static_cast<const CSnMusicSwitchContainer*>(owner->GetNode())->ArgumentGroup(index);
  uint32_t value = 0;
  if (IsState()) {
    if (!g_pStateMgr || g_pStateMgr->AddStateSubscriber(this, group) != SN_Success) return false;
    value = g_pStateMgr->GetCurrentState(group);
  } else {
    if (!g_pSwitchMgr || g_pSwitchMgr->SubscribeSwitch(this, group) != SN_Success) return false;
    value = g_pSwitchMgr->GetCurrentSwitch(group, SnRTPCKey::ForObject(owner->GameObject()));
  }
  m_subscribed = true;
  current = value ? value : kNoValue;
  return true;
}

void CSnMusicSwitchFollower::SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void*) {
  m_owner->OnValueChanged(*this, switchId, key);
}

void CSnMusicSwitchFollower::StateChanged(uint32_t stateId, const SnRTPCKey& key, const void*) {
  m_owner->OnValueChanged(*this, stateId, key);
}

// ---- the context ----

CSnMusicSwitchContext* CSnMusicSwitchContext::Create(CSnMusicSwitchContainer* container, CSnMusicContext* parent,
                                                     CSnRegisteredObj* gameObject, const CSnPlayParams& params) {
  auto* context = PoolNew<CSnMusicSwitchContext>(g_DefaultPoolId, container, parent, params);
  if (!context) return nullptr;
  context->AddRef();  // the creator's
  context->m_params.gameObject = gameObject;
  if (context->Init(gameObject, params) != SN_Success) {
    context->Release();
    return nullptr;
  }
  const uint32_t count = container->ArgumentCount();
  if (count) {
    context->m_followers = PoolNewArray<CSnMusicSwitchFollower>(g_DefaultPoolId, count);
    if (!context->m_followers) {
      SOUND_LOG(Error, "Music switch %u: no memory to follow its groups", container->ID());
      context->StopNow();
      context->Release();
      return nullptr;
    }
    context->m_followerCount = count;
    for (uint32_t i = 0; i < count; ++i) {
      if (context->m_followers[i].Init(context, i)) continue;
      SOUND_LOG(Error, "Music switch %u cannot follow group %u", container->ID(), container->ArgumentGroup(i));
      context->StopNow();
      context->Release();
      return nullptr;
    }
  }
  if (context->SetUpFirstChild() != SN_Success) {
    context->StopNow();
    context->Release();
    return nullptr;
  }
  return context;
}

CSnMusicSwitchContext::CSnMusicSwitchContext(CSnMusicSwitchContainer* container, CSnMusicContext* parent,
                                             const CSnPlayParams& params)
    : CSnMatrixAwareContext(parent), m_container(container), m_params(params) {
  m_container->AddRef();
}

CSnMusicSwitchContext::~CSnMusicSwitchContext() {
  while (Item* item = m_head) {
    m_head = item->next;
    FreeItem(item);
  }
  if (m_followers) PoolDeleteArray(g_DefaultPoolId, m_followers, m_followerCount);
  m_container->Release();
}

CSnHierarchyNode* CSnMusicSwitchContext::GetNode() const { return m_container; }

uint32_t CSnMusicSwitchContext::ResolveChildId() const {
  constexpr uint32_t kLocal = 16;
  uint32_t values[kLocal];
  if (m_followerCount > kLocal) return 0;
  for (uint32_t i = 0; i < m_followerCount; ++i) values[i] = m_followers[i].current;
  return m_container->ResolvePath(values, m_followerCount, true);
}

CSnMatrixAwareContext* CSnMusicSwitchContext::MakeChild(uint32_t childId, const SnMusicRuleDestination* rule,
                                                        int64_t& preRoll) {
  SnMusicSeek seek;
  return MakeChild(childId, rule, seek, preRoll);
}

CSnMatrixAwareContext* CSnMusicSwitchContext::MakeChild(uint32_t childId, const SnMusicRuleDestination* rule,
                                                        SnMusicSeek& seek, int64_t& preRoll) {
  preRoll = 0;
  if (!childId || !g_pObjectIndex) return nullptr;
  auto* node = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(childId, false));
  CSnMatrixAwareContext* child = MakeChildOf(node, childId, rule, seek, preRoll);
  if (node) node->Release();
  return child;
}

CSnMatrixAwareContext* CSnMusicSwitchContext::MakeChildOf(CSnHierarchyNode* node, uint32_t childId,
                                                          const SnMusicRuleDestination* rule, SnMusicSeek& seek,
                                                          int64_t& preRoll) {
  preRoll = 0;
  if (!childId || !node) return nullptr;
  CSnMatrixAwareContext* child = nullptr;
  const uint32_t category = node->NodeCategory();
  if (category >= kMusicCategorySegment && category <= kMusicCategorySwitch)
    child = static_cast<CSnMusicHierarchyNode*>(node)->CreateContext(this, m_params.gameObject, m_params);
  if (rule && rule->jumpToItem && category == kMusicCategoryPlaylist) seek.playlistItemId = rule->jumpToItem;
  const bool seeking = seek.IsPosition();
  if (child && child->PrepareAtSeek(rule, seek, preRoll) != SN_Success) {
    child->StopNow();
    child->Release();
    child = nullptr;
  }
  // What cannot play is silence in its place; a seek that cannot be made is its caller's to tell.
  if (!child && !seeking)
    SOUND_LOG(Error, "Music switch %u: child %u cannot play; silence instead", m_container->ID(), childId);
  return child;
}

SNRESULT CSnMusicSwitchContext::SetUpFirstChild() {
  auto* item = m_itemRoom.New();
  if (!item) return SN_Failure;
  item->childId = ResolveChildId();
  SnMusicRuleDestination entry;
  entry.flags = SnMusicRuleDestination::kEntryCue | SnMusicRuleDestination::kPlayPreEntry;
  item->child = MakeChild(item->childId, &entry, m_preRoll);
  item->playAt = -m_preRoll;
  item->flags = Item::kPlayPending;
  Append(item);
  m_current = item;
  return SN_Success;
}

SNRESULT CSnMusicSwitchContext::PrepareAsChild(const SnMusicRuleDestination*, int64_t& preRoll) {
  preRoll = m_preRoll;
  return SN_Success;
}

SNRESULT CSnMusicSwitchContext::SeekTime(int32_t ms, bool snapToMarker) {
  SnMusicSeek seek;
  seek.snapToMarker = snapToMarker;
  seek.value = MusicRateMs(MusicSampleRate(), ms);
  if (seek.value < 0) seek.value = 0;
  return SeekChild(seek);
}

SNRESULT CSnMusicSwitchContext::SeekPercent(float fraction, bool snapToMarker) {
  SnMusicSeek seek;
  seek.snapToMarker = snapToMarker;
  seek.percent = true;
  seek.fraction = fraction >= 0.0f ? (fraction > 1.0f ? 1.0f : fraction) : 0.0f;  // NaN: 0
  return SeekChild(seek);
}

SNRESULT CSnMusicSwitchContext::SeekChild(SnMusicSeek seek) {
  if (Parent() || State() >= Stopping || !PlayRoot() || !m_current || !m_current->child) return SN_Failure;
  auto* item = m_itemRoom.New();
  if (!item) return SN_Failure;
  // The child the groups name: in the middle of a switch, the one being switched to.
  item->childId = ResolveChildId();
  int64_t preRoll = 0;
  item->child = MakeChild(item->childId, nullptr, seek, preRoll);
  if (!item->child) {
    SOUND_LOG(Error, "Music switch %u: child %u cannot be sought there; the music plays on", m_container->ID(),
              item->childId);
    FreeItem(item);
    return SN_Failure;
  }
  // The child followed ends here, with any switch scheduled after it; the new one is heard from the
  // play's next sample, its position there.
  CancelScheduled();
  const int64_t now = MusicTimeSub(PlayRoot()->CurrentTime(), GetGlobalOffset());
  const SnMusicRuleDestination entry;
  Place(item, MusicTimeAdd(now, preRoll), preRoll, entry);
  Append(item);
  HandOverActions(now);
  m_current->child->StopNow();
  m_current = item;
  return SN_Success;
}

void CSnMusicSwitchContext::Append(Item* item) {
  Item** link = &m_head;
  while (*link) link = &(*link)->next;
  *link = item;
}

void CSnMusicSwitchContext::FreeItem(Item* item) {
  if (CSnMatrixAwareContext* child = item->child) {
    item->child = nullptr;
    if (child->State() != Stopped) child->StopNow();
    child->Release();
  }
  m_itemRoom.Delete(item);
}

bool CSnMusicSwitchContext::IsSwitching() const { return m_current && m_current->next; }

bool CSnMusicSwitchContext::AnySwitchAboveIsSwitching() const {
  for (CSnMusicContext* above = Parent(); above; above = above->Parent()) {
    auto* context = static_cast<CSnMatrixAwareContext*>(above);
    if (context->GetNode() && context->GetNode()->NodeCategory() == kMusicCategorySwitch &&
        static_cast<CSnMusicSwitchContext*>(context)->IsSwitching())
      return true;
  }
  return false;
}

void CSnMusicSwitchContext::OnValueChanged(CSnMusicSwitchFollower& follower, uint32_t value, const SnRTPCKey& key) {
  // Another object's switch is not this play's; a state is everyone's.
  if (key.gameObject && key.gameObject != m_params.gameObject) return;
  if (!value) value = CSnMusicSwitchFollower::kNoValue;
  if (value == follower.current) return;
  follower.current = value;
  if (State() >= Stopping) return;
  if (AnySwitchAboveIsSwitching()) {
    m_pending = true;  // replayed on the next frame
    return;
  }
  SwitchTo(ResolveChildId());
}

void CSnMusicSwitchContext::CancelScheduled() {
  if (!m_current) return;
  while (Item* item = m_current->next) {
    m_current->next = item->next;
    FreeItem(item);
  }
  m_current->flags &= uint8_t(~Item::kStopPending);
}

bool CSnMusicSwitchContext::FindSwitchPoint(int64_t from, const SnMusicTransitionRule& rule,
                                            CSnMusicChainIterator& iterator, int64_t& syncAt) {
  syncAt = from;
  if (!m_current || !m_current->child || !PlayRoot()) return true;  // silence switches at once
  const int64_t global = GetGlobalOffset();
  const int64_t base = MusicTimeSub(global, TimeOffset());  // this context's time 0 in the play
  const int64_t origin = MusicTimeAdd(from, global);
  for (uint32_t syncType : {rule.source.SyncType(), uint32_t(SnMusicSync_ExitCue)}) {
    for (uint32_t round = 0; round < kMaxSearchRounds && iterator.Item(); ++round) {
      uint32_t cue = rule.source.cueFilter;
      int64_t found = 0;
      const CSnMusicChainIterator::SyncResult result = iterator.FindSyncPoint(origin, syncType, cue, true, found);
      if (result == CSnMusicChainIterator::Found) {
        syncAt = MusicTimeSub(MusicTimeSub(found, base), TimeOffset());
        return true;
      }
      if (result == CSnMusicChainIterator::NotFound) break;
      iterator.Step();  // past the item: the chain grows and the search goes on in the next one
    }
    // A sync type what plays does not offer leaves at the exit cue, as the rules' own default does.
    iterator.Init(this, false);
  }
  return false;
}

void CSnMusicSwitchContext::SwitchTo(uint32_t childId) {
  CancelScheduled();
  if (!m_current) return;
  if (m_container->ContinuePlaying() && childId == m_current->childId) return;
  // The rule from what plays to the new child.
  CSnMusicChainIterator iterator;
  iterator.Init(this, false);
  CSnHierarchyNode* fallback = nullptr;
  const CSnHierarchyNode* source = iterator.GetCurrentSegmentNode(&fallback);
  if (!source) source = fallback;
  CSnHierarchyNode* destination = nullptr;
  if (childId && g_pObjectIndex)
    destination = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(childId, false));
  bool throughPlaylist = false;
  const SnMusicTransitionRule* found = m_container->GetTransitionRule(
      m_container, source ? source->ID() : 0, source, childId, destination, throughPlaylist);
  const SnMusicTransitionRule& rule = found ? *found : CSnMusicTransitionAwareNode::GetDefaultRule();

  auto* item = m_itemRoom.New();
  if (!item) {
    if (destination) destination->Release();
    SOUND_LOG(Error, "Music switch %u: no memory for a switch; it keeps playing", m_container->ID());
    return;
  }
  item->childId = childId;
  int64_t preRoll = 0;
  SnMusicSeek seek;
  item->child = MakeChildOf(destination, childId, &rule.destination, seek, preRoll);  // the node the rule was found for
  if (destination) destination->Release();
  const uint32_t rate = MusicSampleRate();
  const int64_t now = PlayRoot() ? MusicTimeSub(PlayRoot()->CurrentTime(), GetGlobalOffset()) : 0;
  int64_t lead = MusicTimeSub(MusicRateMs(rate, rule.destination.fadeTimeMs), rule.destination.fadeOffset);
  if (lead < preRoll) lead = preRoll;
  int64_t syncAt = 0;
  if (!FindSwitchPoint(MusicTimeAdd(now, lead), rule, iterator, syncAt)) {
    SOUND_LOG(Error, "Music switch %u: no sync point to switch at; it keeps playing", m_container->ID());
    FreeItem(item);
    return;
  }
  // The item left stops at the sync point, its fade ending there.
  Item* leaving = m_current;
  int64_t stopAt = syncAt;
  if (rule.source.fadeTimeMs >= 1 && leaving->child)
    stopAt = MusicTimeSub(syncAt, MusicTimeSub(MusicRateMs(rate, rule.source.fadeTimeMs), rule.source.fadeOffset));
  leaving->stopAt = stopAt;
  leaving->fadeOut = SnMusicFade{rule.source.fadeTimeMs, rule.source.fadeCurve, 0};
  leaving->flags |= Item::kStopPending;
  int64_t destinationAt = syncAt;
  if (rule.segment) {
    // Through the transition segment: entered with its own fade-in, left at its exit cue. When it
    // cannot play the destination follows at once.
    const SnMusicTransitionSegment& through = *rule.segment;
    const SnMusicRuleDestination enter = through.Entry();
    int64_t bridgePreRoll = 0;
    auto* bridge = m_itemRoom.New();
    if (bridge) bridge->child = MakeChild(through.segmentId, &enter, bridgePreRoll);
    if (bridge && bridge->child) {
      const auto* segment = static_cast<const CSnMusicSegmentNode*>(bridge->child->GetNode());
      bridge->childId = through.segmentId;
      Place(bridge, syncAt, bridgePreRoll, enter);
      destinationAt = MusicTimeAdd(syncAt, segment->GetActiveDuration());
      const bool postExit = (through.flags & SnMusicTransitionSegment::kPlayPostExit) && through.fadeOut.timeMs < 1;
      bridge->stopAt = MusicTimeSub(
          destinationAt, MusicTimeSub(MusicRateMs(rate, through.fadeOut.timeMs), through.fadeOut.offset));
      if (postExit) bridge->stopAt = MusicTimeAdd(destinationAt, segment->GetPostExitDuration());
      bridge->fadeOut = SnMusicFade{through.fadeOut.timeMs, through.fadeOut.curve, 0};
      bridge->flags |= Item::kStopPending;
      Append(bridge);
    } else if (bridge) {
      FreeItem(bridge);
    }
  }
  Place(item, destinationAt, preRoll, rule.destination);
  Append(item);
}

void CSnMusicSwitchContext::Place(Item* item, int64_t syncAt, int64_t preRoll, const SnMusicRuleDestination& entry) {
  item->origin = syncAt;
  item->playAt = MusicTimeSub(syncAt, preRoll);
  if (item->child) {
    item->child->SetTimeOffset(syncAt);
    item->fadeIn = SnMusicFade{entry.fadeTimeMs, entry.fadeCurve, entry.fadeOffset};
  }
  item->flags = Item::kPlayPending;
}

void CSnMusicSwitchContext::BecomeCurrent(Item* item) {
  // What came before it goes once stopped; the new item is the one the switch follows from now.
  m_current = item;
  CSnMusicPlayRoot* root = PlayRoot();
  if (!root || !(root->CallbackFlags() & kSyncPointFlag) || !root->PlayingId() || !g_pPlayingIDCallbackMgr) return;
  SnMusicSyncCallbackInfo info{};
  info.syncType = kSyncPointFlag;
  CSnMusicChainIterator iterator;
  iterator.Init(this, false);
  if (CSnMusicSegmentNode* segment = iterator.GetCurrentSegmentNode(nullptr))
    SetMeterDurations(segment->GetMeter(), info.segmentInfo);
  g_pPlayingIDCallbackMgr->NotifyEvent(kSyncPointFlag, root->PlayingId(), info);
}

void CSnMusicSwitchContext::ProcessFrame(int64_t time, int64_t length, SnMusicCutWindow& out) {
  AddRef();
  if (m_pending && State() == Playing && !AnySwitchAboveIsSwitching()) {
    m_pending = false;
    SwitchTo(ResolveChildId());
  }
  const int64_t local = MusicTimeSub(time, TimeOffset());
  if (State() == Stopping && StopOffset() != kNoStopOffset) length = StopOffset();
  const int64_t end = MusicTimeAdd(local, length);
  SnMusicCutWindow window{MusicTimeSub(out.time, TimeOffset()), out.cut};
  for (Item* item = m_head; item; item = item->next) {
    if (item != m_current) {
      // Waiting to play after this frame with nothing else to do: its child does not play yet.
      if (item->flags == Item::kPlayPending && item->playAt >= end && item->origin >= end) continue;
      if (item->origin >= local && item->origin < end) BecomeCurrent(item);
    }
    CSnMatrixAwareContext* child = item->child;
    if ((item->flags & Item::kPlayPending) && item->playAt < end) {
      item->flags &= uint8_t(~Item::kPlayPending);
      if (child) child->Play(item->fadeIn);
    }
    if ((item->flags & Item::kStopPending) && item->stopAt < end) {
      item->flags &= uint8_t(~Item::kStopPending);
      if (item == m_current && child && item->next) HandOverActions(item->next->origin);
      const int64_t offset = MusicTimeSub(item->stopAt, local);
      if (child) child->Stop(item->fadeOut.timeMs, item->fadeOut.curve, uint32_t(offset > 0 ? offset : 0));
    }
    if (child && (child->State() == Playing || child->State() == Stopping) && !child->IsPaused())
      child->ProcessFrame(local, length, window);
  }
  // Items done with go: not waiting, not playing and not the one followed.
  for (Item** link = &m_head; *link;) {
    Item* item = *link;
    const bool waiting = item->flags & (Item::kPlayPending | Item::kStopPending);
    const bool playing = item->child && item->child->State() != Stopped && item->child->State() != Idle;
    if (item != m_current && !waiting && !playing) {
      *link = item->next;
      FreeItem(item);
    } else {
      link = &item->next;
    }
  }
  // The child followed ended by itself: so does the switch.
  if (State() == Playing && m_current && m_current->child && m_current->child->State() == Stopped && !m_current->next)
    OnStopped(kNoStopOffset);
  EndFrame(time, length);
}

void CSnMusicSwitchContext::StepIterator(CSnMusicChainIterator& iterator, bool noExtend) {
  // The chains of a switch are those of the child it follows.
  CSnMatrixAwareContext* child = m_current ? m_current->child : nullptr;
  if (!child) {
    iterator.SetCurrent(nullptr, nullptr);
    iterator.SetLimit(0, true);
    return;
  }
  if (iterator.PushContext(child)) child->StepIterator(iterator, noExtend);
}

void CSnMusicSwitchContext::StepPastChild(CSnMusicChainIterator& iterator, CSnMatrixAwareContext* child) {
  Item* item = m_head;
  while (item && item->child != child) item = item->next;
  CSnMatrixAwareContext* after = item && item->next ? item->next->child : nullptr;
  if (!after) {
    iterator.SetCurrent(nullptr, nullptr);
    iterator.SetLimit(0, true);
    return;
  }
  if (iterator.PushContext(after)) after->StepIterator(iterator, false);
}

void CSnMusicSwitchContext::HandOverActions(int64_t cutAt) {
  CSnMusicPlayRoot* root = PlayRoot();
  if (!root || !m_current) return;
  // No action on any chain: none to move, and with no chain that grows the walk changes nothing.
  if (!CSnMusicChainItem::ActionCount() && !CSnMusicChainContext::GrowingChainCount()) return;
  CSnMusicChainIterator iterator;
  iterator.Init(this, false);
  SnMusicScheduledAction* actions = nullptr;
  iterator.TakeActionsAfter(MusicTimeAdd(cutAt, GetGlobalOffset()), actions);
  // Stingers cut off here may sound in the next child: it is scheduled after the one followed.
  root->RehomeActions(actions, m_current->child);
}

void CSnMusicSwitchContext::GetPlayWindow(int64_t& begin, int64_t& end) const {
  begin = end = 0;
  if (!m_current || !m_current->child) return;
  m_current->child->GetPlayWindow(begin, end);
  begin = MusicTimeAdd(begin, m_current->child->TimeOffset());
  end = MusicTimeAdd(end, m_current->child->TimeOffset());
}

void CSnMusicSwitchContext::OnStopComplete() {
  AddRef();
  if (m_followers) {
    PoolDeleteArray(g_DefaultPoolId, m_followers, m_followerCount);
    m_followers = nullptr;
    m_followerCount = 0;
  }
  m_current = nullptr;
  while (Item* item = m_head) {
    m_head = item->next;
    FreeItem(item);
  }
  CSnMatrixAwareContext::OnStopComplete();
  Release();
}

}  // namespace SN
