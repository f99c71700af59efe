// The single-segment chain: the segment's context played from its pre-entry to the end of its
// post-exit, and restarted where a seek by time or by percent puts it.
#include "MusicEngine/MusicSegmentChain.h"

#include "MusicEngine/MusicPlayRoot.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "MusicEngine/MusicContextBlocks.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnMusicSegmentChain* CSnMusicSegmentChain::Create(CSnMusicSegmentNode* segment, CSnMusicContext* parent,
                                                   CSnRegisteredObj* gameObject, const CSnPlayParams& params) {
  if (segment->MarkerCount() < 2) return nullptr;
  auto* chain = NewMusicContext<CSnMusicSegmentChain>(segment, parent);
  if (!chain) return nullptr;
  chain->AddRef();  // the creator's
  chain->m_gameObject = gameObject;
  chain->m_playingId = params.playingId;
  if (chain->Init(gameObject, params) != SN_Success) {
    chain->Release();
    return nullptr;
  }
  CSnMusicSegmentContext* context = CSnMusicSegmentContext::Create(segment, chain, gameObject, params.playingId);
  CSnMusicChainItem* item = context ? chain->AppendItem(0, context) : nullptr;
  if (context) context->Release();  // the item holds it now
  // An empty item at the exit cue: what follows the segment.
  if (!item || !chain->AppendItem(segment->GetActiveDuration(), nullptr)) {
    chain->Release();
    return nullptr;
  }
  return chain;
}

CSnMusicSegmentChain::CSnMusicSegmentChain(CSnMusicSegmentNode* segment, CSnMusicContext* parent)
    : CSnMusicChainContext(parent), m_segment(segment) {
  m_segment->AddRef();
}

CSnMusicSegmentChain::~CSnMusicSegmentChain() {
  ClearItems();
  m_segment->Release();
}

CSnHierarchyNode* CSnMusicSegmentChain::GetNode() const { return m_segment; }

void CSnMusicSegmentChain::DeleteSelf() { DeleteMusicContext(this); }

SNRESULT CSnMusicSegmentChain::PrepareForPlay(const SnMusicRuleDestination* rule, int64_t seekSamples,
                                              int64_t& preRoll) {
  CSnMusicChainItem* item = Head();
  preRoll = 0;
  if (!item || !item->segment) return SN_Failure;
  const int64_t active = m_segment->GetActiveDuration();
  int64_t position = seekSamples;
  bool preEntry = true;
  if (rule) {
    uint32_t cue = 0;
    position = m_segment->ResolveDestinationCue(*rule, MusicTimeToS32(seekSamples > 0 ? seekSamples : 0), 0, cue);
    preEntry = (rule->flags & SnMusicRuleDestination::kPlayPreEntry) &&
               (rule->flags & SnMusicRuleDestination::kEntryKindMask) != SnMusicRuleDestination::kSameTime;
  }
  if (position > active) position = active;
  int64_t playAt = position;
  if (preEntry && position == 0) playAt = -int64_t(m_segment->GetPreEntryDuration());
  if (position < 0) playAt = position;  // a seek into the pre-entry part
  preRoll = item->SetPlayAt(playAt, position);
  SetChainOrigin(MusicTimeAdd(position, item->begin));
  OnChainTime(ChainOrigin());
  for (CSnMusicChainItem* i = Head(); i; i = i->next) {
    const int64_t need = MusicTimeSub(MusicTimeSub(ChainOrigin(), i->playAt), i->begin);
    if (i->segment && need > preRoll) preRoll = need;
  }
  item->fadeOut = SnMusicFade{0, 4, 0};
  item->SetStopAtEnd(true);
  item->flags |= CSnMusicChainItem::kStopPending;
  return SN_Success;
}

SNRESULT CSnMusicSegmentChain::PrepareAtSeek(const SnMusicRuleDestination* rule, SnMusicSeek& seek,
                                             int64_t& preRoll) {
  seek.playlistItemId = 0;
  preRoll = 0;
  if (!seek.IsPosition()) return PrepareForPlay(rule, 0, preRoll);
  const int64_t active = m_segment->GetActiveDuration();
  int64_t position = seek.percent ? int64_t(double(seek.fraction) * double(active)) : seek.value;
  const bool snap = seek.snapToMarker;
  seek = SnMusicSeek{};
  if (position < 0) position = 0;
  if (position >= active + m_segment->GetPostExitDuration()) return SN_Failure;
  if (snap) position = m_segment->SnapToNearestMarker(int32_t(position));
  // A seek lands where it says: the entry the rule would choose does not apply.
  return PrepareForPlay(nullptr, position, preRoll);
}

SNRESULT CSnMusicSegmentChain::SeekTo(int64_t position) {
  const int64_t end = int64_t(m_segment->GetActiveDuration()) + m_segment->GetPostExitDuration();
  if (State() > Playing || position >= end || !PlayRoot()) return SN_Failure;
  AddRef();
  // The segment playing now ends here; a new context of it begins at the position.
  for (CSnMusicChainItem* item = Head(); item; item = item->next)
    if (item->segment) item->segment->StopNow();
  ClearItems();
  SNRESULT result = SN_Failure;
  CSnMusicSegmentContext* context = CSnMusicSegmentContext::Create(m_segment, this, m_gameObject, m_playingId);
  CSnMusicChainItem* item = context ? AppendItem(0, context) : nullptr;
  if (context) context->Release();
  int64_t preRoll = 0;
  if (item && AppendItem(m_segment->GetActiveDuration(), nullptr) && PrepareForPlay(nullptr, position, preRoll) == SN_Success) {
    // Its first sample is the play's next: the chain's time 0 moves there, less the pre-roll.
    const int64_t parentTime = Parent() ? MusicTimeSub(PlayRoot()->CurrentTime(), static_cast<CSnMatrixAwareContext*>(Parent())->GetGlobalOffset())
                                        : PlayRoot()->CurrentTime();
    SetTimeOffset(MusicTimeAdd(parentTime, preRoll));
    result = SN_Success;
  }
  Release();
  return result;
}

SNRESULT CSnMusicSegmentChain::SeekTime(int32_t ms, bool snapToMarker) {
  int64_t position = MusicRateMs(MusicSampleRate(), ms);
  const int64_t earliest = -int64_t(m_segment->GetPreEntryDuration());
  if (position < earliest) position = earliest;
  if (snapToMarker && position >= INT32_MIN && position <= INT32_MAX)
    position = m_segment->SnapToNearestMarker(int32_t(position));
  m_appliedMs = snapToMarker ? MusicSamplesToMs(position, MusicSampleRate()) : ms;
  return SeekTo(position);
}

SNRESULT CSnMusicSegmentChain::SeekPercent(float fraction, bool snapToMarker) {
  if (!(fraction >= 0.0f)) fraction = 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  const int64_t active = m_segment->GetActiveDuration();
  int64_t position = int64_t(double(fraction) * double(active));
  m_appliedFraction = fraction;
  if (snapToMarker) {
    position = m_segment->SnapToNearestMarker(int32_t(position));
    // A segment with no active part has no fraction of it: 0 rather than a division by zero.
    m_appliedFraction = active > 0 ? float(double(position) / double(active)) : 0.0f;
  }
  return SeekTo(position);
}

}  // namespace SN
