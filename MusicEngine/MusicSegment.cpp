// The music segment: its markers from the bank and the timing questions transitions ask of it.
#include "MusicEngine/MusicSegment.h"

#include "MusicEngine/MusicSegmentChain.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/PlayParams.h"

#include <cstdlib>
#include <cstring>

#include "Base/MathUtil.h"
#include "MusicEngine/MusicTransitionRule.h"
#include "SoundEngine/Log.h"

namespace SN {

namespace {
// The smallest k with offset + k * period >= from; periods and offsets are non-negative.
int64_t NextPoint(int64_t from, int64_t period, int64_t offset) {
  if (offset >= from) return offset;
  const int64_t steps = (from - offset + period - 1) / period;
  return offset + steps * period;
}

// A non-negative remainder: windows may begin before a grid's offset.
int64_t Modulo(int64_t value, int64_t period) {
  const int64_t r = value % period;
  return r < 0 ? r + period : r;
}

// Points of period T in a window of `length` whose beginning lies r after a point.
uint32_t PointsIn(int64_t r, int64_t length, int64_t period) {
  if (period <= 0) return 0;
  const int64_t base = period - 1 + r;
  return uint32_t(((base + length) / period) - (base / period));
}
}  // namespace

CSnMusicSegmentNode::~CSnMusicSegmentNode() { FreeMarkers(); }

void CSnMusicSegmentNode::FreeMarkers() {
  for (SnMusicMarker& marker : m_markers)
    if (marker.name) MemoryMgr::Free(g_DefaultPoolId, marker.name);
  m_markers.Term();
  m_active = m_entry = 0;
}

// ---- loading ----

SNRESULT CSnMusicSegmentNode::ReadBankData(const uint8_t* data, uint32_t size) {
  SnMusicReader in(ID(), data, size);
  SNRESULT result = ReadMusicParams(in);
  if (result != SN_Success) return result;
  result = ReadMarkers(in);
  if (result == SN_Success) SayLookAheadsPastTheEnd();
  return result;
}

void CSnMusicSegmentNode::SayLookAheadsPastTheEnd() const {
  // A segment plays one look-ahead before its position: one longer than the segment holds it back
  // past its own end, a voice counted and nothing heard. It plays as the bank says; its author learns.
  for (uint32_t i = 0; i < ChildCount(); ++i) {
    const auto* track = static_cast<const CSnMusicTrackNode*>(Child(i));
    const int32_t ahead = track->GetMaxLookAhead(0);
    if (ahead > int64_t(m_duration))
      SOUND_LOG(Warning, "Segment %u: track %u looks ahead %d samples, longer than the segment's %u", ID(), track->ID(),
                ahead, m_duration);
  }
}

SNRESULT CSnMusicSegmentNode::ReadMarkers(SnMusicReader& in) {
  double durationMs = 0.0;
  uint32_t count = 0;
  if (!in.Read(durationMs, "duration") || !in.Read(count, "marker count")) return SN_Failure;
  const uint32_t rate = MusicSampleRate();
  int32_t duration = 0;
  if (!MusicMsToSamples(durationMs, rate, duration) || duration < 0) {
    SOUND_LOG(Error, "Segment %u: a duration of %g ms is not a sample count", ID(), durationMs);
    return SN_Failure;
  }
  // Every query counts on an entry cue and an exit cue.
  if (count < 2) {
    SOUND_LOG(Error, "Segment %u: %u markers are fewer than an entry and an exit cue", ID(), count);
    return SN_Failure;
  }
  // A marker is at least its id, position and name length.
  if (!in.Holds(count, 16, "markers")) return SN_Failure;
  FreeMarkers();
  m_duration = uint32_t(duration);
  if (!m_markers.GrowBy(count)) return SN_InsufficientMemory;
  int32_t previous = 0;
  for (uint32_t i = 0; i < count; ++i) {
    SnMusicMarker marker{0, 0, nullptr};
    double positionMs = 0.0;
    uint32_t nameLength = 0;
    if (!in.Read(marker.id, "marker id") || !in.Read(positionMs, "marker position") ||
        !in.Read(nameLength, "marker name length"))
      return SN_Failure;
    int32_t position = 0;
    if (!MusicMsToSamples(positionMs, rate, position) || position < previous || position > duration) {
      SOUND_LOG(Error, "Segment %u: marker %u at %g ms is out of order or outside the segment", ID(), i, positionMs);
      return SN_Failure;
    }
    previous = position;
    marker.position = uint32_t(position);
    if (nameLength) {
      const uint8_t* name = in.Take(nameLength, "marker name");
      if (!name) return SN_Failure;
      marker.name = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, size_t(nameLength) + 1));
      if (!marker.name) return SN_Failure;
      memcpy(marker.name, name, nameLength);
      marker.name[nameLength] = '\0';
    }
    m_markers.Add(marker);
  }
  m_entry = int32_t(EntryCue().position);
  m_active = int32_t(ExitCue().position) - m_entry;
  return SN_Success;
}

// ---- playing ----

CSnMatrixAwareContext* CSnMusicSegmentNode::CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                                          const CSnPlayParams& params) {
  return CSnMusicSegmentChain::Create(this, parent, gameObject, params);
}

SNRESULT CSnMusicSegmentNode::PlayNode(CSnPlayParams& params) {
  CSnMusicSegmentChain* chain = CSnMusicSegmentChain::Create(this, nullptr, params.gameObject, params);
  if (!chain) {
    SOUND_LOG(Error, "Music segment %u cannot be played", ID());
    return SN_Failure;
  }
  SnMusicRuleDestination entry;
  entry.flags = SnMusicRuleDestination::kEntryCue | SnMusicRuleDestination::kPlayPreEntry;
  return chain->PlayAsRoot(&entry, params);
}

// ---- timing ----

SNRESULT CSnMusicSegmentNode::FindSyncPoint(int32_t position, uint32_t syncType, uint32_t cueFilter, bool exclusive,
                                            uint32_t& cueId, int32_t& syncPosition) const {
  const int64_t active = m_active;
  if (!HasCues() || position > active || syncType >= SnMusicSync_Count) return SN_Failure;
  const int64_t entry = m_entry;
  const uint32_t last = m_markers.Count() - 1;
  cueId = 0;
  switch (syncType) {
    case SnMusicSync_Immediate:
      syncPosition = position;
      return SN_Success;
    case SnMusicSync_NextGrid:
    case SnMusicSync_NextBar:
    case SnMusicSync_NextBeat: {
      const SnMusicMeter& meter = GetMeter();
      const int64_t period = syncType == SnMusicSync_NextGrid ? meter.gridPeriod
                             : syncType == SnMusicSync_NextBar ? meter.bar
                                                               : meter.beat;
      const int64_t offset = syncType == SnMusicSync_NextGrid ? meter.gridOffset : 0;
      const int64_t from = int64_t(position) + (exclusive ? 1 : 0);
      const int64_t point = period == 0 ? from + 1 : NextPoint(from, period, offset);
      if (point > active) return SN_Failure;
      syncPosition = int32_t(point);
      return SN_Success;
    }
    case SnMusicSync_NextCue:
      for (uint32_t i = exclusive ? 1 : 0; i <= last; ++i) {
        const SnMusicMarker& marker = m_markers[i];
        if (int64_t(marker.position) >= entry + position && (!cueFilter || marker.id == cueFilter)) {
          cueId = marker.id;
          syncPosition = int32_t(marker.position - entry);
          return SN_Success;
        }
      }
      cueId = ExitCue().id;
      syncPosition = int32_t(active);
      return SN_Success;
    case SnMusicSync_NextUserCue:
      for (uint32_t i = 1; i < last; ++i) {
        const SnMusicMarker& marker = m_markers[i];
        if (int64_t(marker.position) > entry + position && (!cueFilter || marker.id == cueFilter)) {
          cueId = marker.id;
          syncPosition = int32_t(marker.position - entry);
          return SN_Success;
        }
      }
      return SN_Failure;
    case SnMusicSync_EntryCue:
      if (position != 0 || exclusive) return SN_Failure;
      cueId = EntryCue().id;
      syncPosition = 0;
      return SN_Success;
    default:  // exit cue
      cueId = ExitCue().id;
      syncPosition = int32_t(active);
      return SN_Success;
  }
}

int32_t CSnMusicSegmentNode::ResolveDestinationCue(const SnMusicRuleDestination& rule, int32_t position,
                                                   uint32_t sourceCue, uint32_t& cueId) const {
  const uint32_t filter = (rule.flags & SnMusicRuleDestination::kMatchSourceCueName) ? sourceCue : rule.cueFilter;
  switch (rule.flags & SnMusicRuleDestination::kEntryKindMask) {
    case SnMusicRuleDestination::kEntryCue:
      if (position == 0 && m_markers.Count()) cueId = EntryCue().id;
      return position;
    case SnMusicRuleDestination::kRandomCue:
      return PickRandomCue(position, filter, false, cueId);
    case SnMusicRuleDestination::kRandomCueNotEntry:
      return PickRandomCue(position, filter, true, cueId);
    default:
      return position;
  }
}

int32_t CSnMusicSegmentNode::PickRandomCue(int32_t position, uint32_t cueFilter, bool excludeEntryCue,
                                           uint32_t& cueId) const {
  if (m_markers.Count() < 2) return 0;
  const int64_t entry = EntryCue().position;
  const uint32_t lastCandidate = m_markers.Count() - 2;
  uint32_t first = excludeEntryCue ? 1 : 0;
  while (first < lastCandidate && int64_t(m_markers[first].position) < entry + position) ++first;
  if (first > lastCandidate) first = lastCandidate;
  // The candidates in marker order; the entry cue joins a filtered set only from index 0.
  auto isCandidate = [&](uint32_t i) {
    if (!cueFilter) return i >= first;
    if (i == 0) return first == 0;
    return i >= first && m_markers[i].id == cueFilter;
  };
  uint32_t candidates = 0;
  for (uint32_t i = 0; i <= lastCandidate; ++i) candidates += isCandidate(i) ? 1 : 0;
  if (!candidates) {
    cueId = EntryCue().id;
    return 0;
  }
  uint32_t pick = uint32_t(Base::Rand15()) % candidates;
  for (uint32_t i = 0; i <= lastCandidate; ++i) {
    if (!isCandidate(i)) continue;
    if (pick-- == 0) {
      cueId = m_markers[i].id;
      return int32_t(m_markers[i].position - entry);
    }
  }
  return 0;
}

int32_t CSnMusicSegmentNode::SnapToNearestMarker(int32_t position) const {
  if (m_markers.Count() < 2) return 0;
  const int64_t entry = EntryCue().position;
  const int64_t target = entry + position;
  uint32_t best = 0;
  int64_t bestDistance = INT64_MAX;
  for (uint32_t i = 0; i + 1 < m_markers.Count(); ++i) {
    const int64_t distance = std::llabs(int64_t(m_markers[i].position) - target);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return int32_t(int64_t(m_markers[best].position) - entry);
}

void CSnMusicSegmentNode::CountMusicalEvents(int32_t begin, int32_t length, uint32_t& bars, uint32_t& beats,
                                             uint32_t& grids) const {
  bars = beats = grids = 0;
  if (m_markers.Count() < 2) return;
  int64_t from = begin, span = length;
  const int64_t active = GetActiveDuration();
  if (from < 0) {
    span += from;
    from = 0;
  }
  if (span <= 0 || from >= active) return;
  if (from + span > active) span = active - from;
  const SnMusicMeter& meter = GetMeter();
  if (meter.bar) bars = PointsIn(Modulo(from, meter.bar), span, meter.bar);
  if (meter.beat) beats = PointsIn(Modulo(from, meter.beat), span, meter.beat);
  if (meter.gridPeriod) {
    const int64_t period = meter.gridPeriod;
    grids = PointsIn(Modulo(period - int64_t(meter.gridOffset) + from, period), span, period);
  }
}

}  // namespace SN
