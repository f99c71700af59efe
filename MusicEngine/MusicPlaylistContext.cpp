// The random/sequence container's playing context: the iterator's segments scheduled one after the
// other at their rules' sync points, through transition segments, kept a few items ahead.
#include "MusicEngine/MusicPlaylistContext.h"

#include <atomic>

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
// The segment node with the id, referenced; null when the id names no segment.
CSnMusicSegmentNode* FindSegmentAndAddRef(uint32_t segmentId) {
  if (!segmentId || !g_pObjectIndex) return nullptr;
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(segmentId, false);
  if (!found) return nullptr;
  auto* node = static_cast<CSnHierarchyNode*>(found);
  if (node->NodeCategory() != kMusicCategorySegment) {
    found->Release();
    return nullptr;
  }
  return static_cast<CSnMusicSegmentNode*>(node);
}

const SnMusicTransitionRule& RuleBetween(const CSnMusicPlaylistContainer& container, uint32_t from, uint32_t to) {
  const SnMusicTransitionRule* rule = container.FindRuleByIds(from, to);
  return rule ? *rule : CSnMusicTransitionAwareNode::GetDefaultRule();
}
}  // namespace

CSnMusicPlaylistContext* CSnMusicPlaylistContext::Create(CSnMusicPlaylistContainer* container,
                                                         CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                                         const CSnPlayParams& params) {
  auto* context = PoolNew<CSnMusicPlaylistContext>(g_DefaultPoolId, container, parent);
  if (!context) return nullptr;
  context->AddRef();  // the creator's
  context->m_gameObject = gameObject;
  context->m_playingId = params.playingId;
  if (context->Init(gameObject, params) != SN_Success) {
    context->Release();
    return nullptr;
  }
  context->m_iterator.Init(*container);
  if (context->m_iterator.First(params.playingId) != SN_Success || !context->ScheduleNext()) {
    SOUND_LOG(Error, "Music container %u: its playlist has no segment to play", container->ID());
    context->StopNow();
    context->Release();
    return nullptr;
  }
  // The look-ahead: the items after the first are chosen now, so a commit makes them final.
  context->EnsureScheduled(0);
  return context;
}

CSnMusicPlaylistContext::CSnMusicPlaylistContext(CSnMusicPlaylistContainer* container, CSnMusicContext* parent)
    : CSnMusicChainContext(parent), m_container(container) {
  m_container->AddRef();
  CountGrowingChain(+1);
}

CSnMusicPlaylistContext::~CSnMusicPlaylistContext() {
  CountGrowingChain(-1);
  ClearItems();
  m_iterator.Term();
  m_container->Release();
}

CSnHierarchyNode* CSnMusicPlaylistContext::GetNode() const { return m_container; }

void CSnMusicPlaylistContext::OnStopComplete() {
  AddRef();
  m_iterator.Term();
  CSnMusicChainContext::OnStopComplete();
  Release();
}

SNRESULT CSnMusicPlaylistContext::PrepareForPlay(int64_t& preRoll) {
  preRoll = 0;
  CSnMusicChainItem* first = Head();
  if (!first || !first->segment) return SN_Failure;
  // The chain's time 0 is the first segment's entry; the pre-roll reaches the earliest play.
  for (CSnMusicChainItem* item = first; item; item = item->next) {
    if (!item->segment) continue;
    const int64_t need = MusicTimeSub(0, MusicTimeAdd(item->begin, item->playAt));
    if (need > preRoll) preRoll = need;
  }
  return SN_Success;
}

SNRESULT CSnMusicPlaylistContext::JumpToItem(uint32_t playlistItemId) {
  // Before the play nothing planned has been heard: the jump replaces it.
  if (State() == Idle) ClearItems();
  if (m_iterator.JumpTo(playlistItemId) != SN_Success || !ScheduleNext()) return SN_Failure;
  if (State() == Idle) EnsureScheduled(0);
  return SN_Success;
}

void CSnMusicPlaylistContext::SetPlaying() {
  m_firstPlay = false;
  CSnMusicChainContext::SetPlaying();
}

SNRESULT CSnMusicPlaylistContext::PrepareAtSeek(const SnMusicRuleDestination*, SnMusicSeek& seek, int64_t& preRoll) {
  preRoll = 0;
  if (State() != Idle) return SN_Failure;
  if (const uint32_t jump = seek.playlistItemId) {
    seek.playlistItemId = 0;
    if (JumpToItem(jump) != SN_Success) {
      SOUND_LOG(Error, "Music container %u cannot jump to playlist item %u", m_container->ID(), jump);
      return SN_Failure;
    }
  }
  if (!seek.IsPosition()) return PrepareForPlay(preRoll);
  // The position counts from the first segment's entry cue; each segment it lies past takes its
  // active part off it. The bound keeps a playlist of empty segments from walking for ever.
  int64_t position = seek.value;
  const bool snap = seek.snapToMarker;
  for (uint32_t step = 0;; ++step) {
    CSnMusicChainItem* first = Head();
    if (!first || !first->segment || step == kMaxSchedulingSteps) return SN_Failure;
    const CSnMusicSegmentNode* segment = first->segment->Segment();
    const int64_t active = segment->GetActiveDuration();
    if (seek.percent) position = int64_t(double(seek.fraction) * double(active));
    seek = SnMusicSeek{};
    if (position < 0) position = 0;
    if (position < active) {
      if (snap) position = segment->SnapToNearestMarker(int32_t(position));
      if (position < active) break;
    }
    position -= active;
    OnItemRemoved(first);
    first->ClearItem();
    RemoveHead();
    if (Head()) EnsureScheduled(Head()->begin);
  }
  CSnMusicChainItem* first = Head();
  preRoll = first->SetPlayAt(position, position);
  // The context's time 0 is the position in the first segment.
  SetChainOrigin(MusicTimeAdd(position, first->begin));
  EnsureScheduled(ChainOrigin());
  for (CSnMusicChainItem* item = first; item; item = item->next) {
    if (!item->segment) continue;
    const int64_t need = MusicTimeSub(ChainOrigin(), MusicTimeAdd(item->begin, item->playAt));
    if (need > preRoll) preRoll = need;
  }
  return SN_Success;
}

CSnMusicChainItem* CSnMusicPlaylistContext::Tail() const {
  CSnMusicChainItem* tail = Head();
  while (tail && tail->next) tail = tail->next;
  return tail;
}

void CSnMusicPlaylistContext::End() {
  if (State() == Stopping || State() == Stopped) return;
  Stop(0, 4, kNoStopOffset);
}

CSnMusicChainItem* CSnMusicPlaylistContext::ScheduleNext() {
  if (State() == Stopping || State() == Stopped || !m_iterator.HasItem()) return nullptr;
  const uint32_t segmentId = m_iterator.SegmentId();
  const uint32_t itemId = m_iterator.PlaylistItemId();
  m_iterator.Next();
  CSnMusicChainItem* previous = Tail();
  const SnMusicTransitionRule& rule = RuleBetween(*m_container, previous ? previous->segmentId : 0, segmentId);
  if (!rule.segment) {
    return CreateItemWithRule(rule.source, rule.destination, previous, segmentId, itemId);
  }
  // Through the transition segment: entered with its own fade-in, left at its exit cue.
  const SnMusicTransitionSegment& through = *rule.segment;
  const SnMusicRuleDestination enter = through.Entry();
  CSnMusicChainItem* bridge = CreateItemWithRule(rule.source, enter, previous, through.segmentId, 0);
  if (!bridge || !bridge->segment) {
    SOUND_LOG(Error, "Music container %u: transition segment %u cannot play; the play ends", m_container->ID(),
              through.segmentId);
    End();
    return nullptr;
  }
  SnMusicRuleSource leave;
  leave.fadeTimeMs = through.fadeOut.timeMs;
  leave.fadeCurve = through.fadeOut.curve;
  leave.fadeOffset = through.fadeOut.offset;
  leave.flags = SnMusicSync_ExitCue |
                ((through.flags & SnMusicTransitionSegment::kPlayPostExit) ? SnMusicRuleSource::kPlayPostExit : 0);
  return CreateItemWithRule(leave, rule.destination, bridge, segmentId, itemId);
}

CSnMusicChainItem* CSnMusicPlaylistContext::CreateItemWithRule(const SnMusicRuleSource& source,
                                                               const SnMusicRuleDestination& destination,
                                                               CSnMusicChainItem* previous, uint32_t segmentId,
                                                               uint32_t playlistItemId) {
  const uint32_t rate = MusicSampleRate();
  int64_t syncAt = 0;  // chain time of the sync point in the previous item
  uint32_t sourceCue = 0;
  if (previous) {
    syncAt = previous->begin;
    if (previous->segment) {
      const CSnMusicSegmentNode* before = previous->segment->Segment();
      int32_t p = 0;
      // A sync type the segment does not offer (its entry cue, searched past, or a user cue it lacks)
      // falls back to the exit cue rather than to a position nobody asked for.
      if (before->FindSyncPoint(0, source.SyncType(), source.cueFilter, true, sourceCue, p) != SN_Success) {
        p = before->GetActiveDuration();
        sourceCue = 0;
      }
      int32_t fadeMs = source.fadeTimeMs;
      int64_t lead = MusicTimeSub(source.fadeOffset, MusicRateMs(rate, fadeMs));
      if (lead < -int64_t(p)) {
        // The fade may not begin before the segment's entry: it is shortened instead.
        lead = -int64_t(p);
        fadeMs = MusicSamplesToMs(int64_t(source.fadeOffset) + p, rate);
      }
      if (lead == 0 && fadeMs == 0 && (source.flags & SnMusicRuleSource::kPlayPostExit))
        lead = before->GetPostExitDuration();
      // Stopped from its sync point: a segment left at a bar does not go on under the next one.
      previous->ScheduleStop(fadeMs, source.fadeCurve, MusicTimeAdd(p, lead));
      syncAt = MusicTimeAdd(previous->begin, p);
    }
  }
  CSnMusicSegmentNode* node = FindSegmentAndAddRef(segmentId);
  CSnMusicSegmentContext* segment =
      node ? CSnMusicSegmentContext::Create(node, this, m_gameObject, m_playingId) : nullptr;
  int64_t entry = 0;
  int64_t playFrom = 0;
  if (segment) {
    uint32_t cue = 0;
    entry = node->ResolveDestinationCue(destination, 0, sourceCue, cue);
    playFrom = entry;
    const bool preEntry = destination.flags & SnMusicRuleDestination::kPlayPreEntry;
    if (destination.fadeTimeMs >= 1) {
      playFrom = MusicTimeAdd(playFrom, destination.fadeOffset);
      if (playFrom < 0 && !preEntry) playFrom = 0;
    } else if (preEntry) {
      playFrom = MusicTimeSub(playFrom, node->GetPreEntryDuration());
    }
  }
  // The entry position meets the sync point.
  CSnMusicChainItem* item = AppendItem(MusicTimeSub(syncAt, entry), segment);
  if (segment) segment->Release();  // the item holds it now
  if (!item) {
    if (node) node->Release();
    SOUND_LOG(Error, "Music container %u: no memory for the next segment; the play ends", m_container->ID());
    End();
    return nullptr;
  }
  item->playlistItemId = playlistItemId;
  if (segment) {
    item->SetPlayAt(playFrom, entry);
    item->SchedulePlay(SnMusicFade{destination.fadeTimeMs, destination.fadeCurve, destination.fadeOffset});
    // Until a next item says otherwise, the segment plays to the end of its post-exit part.
    item->ScheduleStop(0, 4, int64_t(node->GetActiveDuration()) + node->GetPostExitDuration());
  }
  if (node) node->Release();
  return item;
}

void CSnMusicPlaylistContext::EnsureScheduled(int64_t position) {
  if (m_scheduling) return;  // scheduling may ask the chain to grow again
  m_scheduling = true;
  uint32_t steps = 0;
  bool ended = false;
  auto step = [&]() {
    if (++steps > kMaxSchedulingSteps) {
      SOUND_LOG(Error, "Music container %u: more than %u segments scheduled at once; the play ends",
                m_container->ID(), kMaxSchedulingSteps);
      End();
      ended = true;
      return false;
    }
    CSnMusicChainItem* tail = Tail();
    CSnMusicChainItem* added = ScheduleNext();
    if (!added || added == tail) {
      ended = true;
      return false;
    }
    return true;
  };
  // The chain reaches the position and goes kItemsAhead items past the item playing there.
  while (!ended) {
    CSnMusicChainItem* current = Head();
    for (CSnMusicChainItem* item = Head(); item; item = item->next)
      if (item->begin <= position) current = item;
    uint32_t after = 0;
    for (CSnMusicChainItem* item = current ? current->next : nullptr; item; item = item->next) ++after;
    if (after >= kItemsAhead || !step()) break;
  }
  m_scheduling = false;
}

}  // namespace SN
