// The music track: sources, clips, automation and switch data from the bank; the sub-track a play
// takes and the streaming time its clips need.
#include "MusicEngine/MusicTrack.h"

#include <cmath>
#include <cstring>

#include "Base/MathUtil.h"
#include "MusicEngine/MusicMidiClipContext.h"
#include "MusicEngine/MusicPlaybackInstance.h"
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "MusicEngine/MusicTrackContext.h"
#include "SoundEngine/Hierarchy/PropTransitionSet.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kDropped = 0xFFFFFFFFu;
constexpr uint32_t kMidiCodec = 16;

bool IsMidi(const CSnSourceDesc& desc) { return ((desc.codecId >> 16) & 0xFF) == kMidiCodec; }
bool IsStreamed(const CSnSourceDesc& desc) { return desc.StorageType() == CSnSourceDesc::Storage_Streamed; }

float LookAheadRatio() {
  const CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  return renderer ? renderer->Settings().streamingLookAheadRatio : 1.0f;
}
}  // namespace

SNRESULT ReadMusicSourceRecord(SnMusicReader& in, SnMusicSourceRecord& record) {
  if (!in.Read(record.codecId, "source codec") || !in.Read(record.kind, "source kind") ||
      !in.Read(record.sourceId, "source id") || !in.Read(record.sizeOrFileId, "source size") ||
      !in.Read(record.flags, "source flags"))
    return SN_Failure;
  if (record.kind > SnMusicSourceRecord::kKindPlugin) {
    SOUND_LOG(Error, "Music object %u: source %u is of unknown kind %u", in.ObjectId(), record.sourceId,
              unsigned(record.kind));
    return SN_Failure;
  }
  if (record.kind == SnMusicSourceRecord::kKindPlugin) {
    uint32_t parameterBytes = 0;
    if (!in.Read(parameterBytes, "plug-in parameter size") || !in.Take(parameterBytes, "plug-in parameters"))
      return SN_Failure;
  }
  return SN_Success;
}

CSnMusicTrackNode::~CSnMusicTrackNode() {
  for (Source& source : m_sources) CSnSourceDesc::Destroy(source.desc);
  m_sources.Term();
  ClearClips();
  ClearAutomation();
  ClearSwitch();
  m_midiClips.Term();
  m_playing.Term();
}

void CSnMusicTrackNode::ClearClips() { m_clips.Term(); }

bool CSnMusicTrackNode::AddMidiClip(CSnMusicMidiClipContext* clip) { return m_midiClips.Add(clip, 4) != nullptr; }

void CSnMusicTrackNode::RemoveMidiClip(CSnMusicMidiClipContext* clip) {
  const int32_t index = m_midiClips.IndexOf(clip);
  if (index >= 0) m_midiClips.RemoveAt(uint32_t(index));
}

void CSnMusicTrackNode::OnMidiClipAdded(CSnMusicMidiClipContext& clip) {
  float gain = 1.0f;
  for (const CSnHierarchyNode* node = this; node && !node->IsBus(); node = node->Parent()) {
    const auto* own = static_cast<const CSnPropertyNode*>(node);
    if (const CSnPropTransitionSet* all = own->FindValueSet(nullptr)) gain *= all->ValueOr(SnProp_GainFactor, 1.0f);
    if (clip.GameObject())
      if (const CSnPropTransitionSet* set = own->FindValueSet(clip.GameObject()))
        gain *= set->ValueOr(SnProp_GainFactor, 1.0f);
  }
  clip.SetGainFactor(ID(), gain);
}

void CSnMusicTrackNode::ListContext(CSnMusicTrackContext* context) {
  if (!m_playing.Add(context, 4))
    SOUND_LOG(Error, "Music track %u: no memory to list a playing context; its gain will not follow the track", ID());
}

void CSnMusicTrackNode::UnlistContext(CSnMusicTrackContext* context) {
  const int32_t index = m_playing.IndexOf(context);
  if (index >= 0) m_playing.RemoveAt(uint32_t(index));
}

void CSnMusicTrackNode::ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) {
  // Setting a factor ends notes and changes gains but ends no context or clip: the lists hold still.
  for (CSnMusicTrackContext* context : m_playing) {
    const CSnMusicSegmentContext* segment = context->Segment();
    if (!gameObject || (segment && segment->GameObject() == gameObject)) context->SetGainFactor(this, gain);
  }
  for (CSnMusicMidiClipContext* clip : m_midiClips)
    if (!gameObject || clip->GameObject() == gameObject) clip->SetGainFactor(ID(), gain);
}

void CSnMusicTrackNode::DeliverParameterChange(const SnParamChange& change) {
  // A voice takes the change as its own parameters; none leaves its context for it.
  for (CSnMusicTrackContext* context : m_playing)
    for (CSnChildContext* child = context->FirstChild(); child; child = child->NextSibling())
      if (auto* voice = dynamic_cast<CSnMusicPlaybackInstance*>(child)) voice->ParameterChanged(change);
}

void CSnMusicTrackNode::ClearAutomation() {
  for (SnMusicClipAutomation& automation : m_automation)
    if (automation.points) MemoryMgr::Free(g_DefaultPoolId, automation.points);
  m_automation.Term();
}

void CSnMusicTrackNode::ClearSwitch() {
  if (!m_switch) return;
  if (m_switch->switchIds) MemoryMgr::Free(g_DefaultPoolId, m_switch->switchIds);
  PoolDelete(g_DefaultPoolId, m_switch);
  m_switch = nullptr;
}

CSnMusicTrackNode::ClipMap::~ClipMap() {
  if (m_entries != m_local) MemoryMgr::Free(g_DefaultPoolId, m_entries);
}

bool CSnMusicTrackNode::ClipMap::Reserve(uint32_t count) {
  if (count <= kLocal) return true;
  m_entries = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(uint32_t) * count));
  if (m_entries) return true;
  m_entries = m_local;
  return false;
}

// ---- sources ----

uint32_t CSnMusicTrackNode::SourceLookAhead(const CSnSourceDesc& desc) const {
  return IsMidi(desc) ? 0 : uint32_t(m_lookAhead);
}

SNRESULT CSnMusicTrackNode::AddSource(uint32_t sourceId, const CSnSourceDesc& desc) {
  uint32_t at = 0;
  while (at < m_sources.Count() && m_sources[at].sourceId < sourceId) ++at;
  if (at < m_sources.Count() && m_sources[at].sourceId == sourceId) return SN_Success;
  CSnSourceDesc* copy = desc.Clone();
  if (!copy) return SN_Failure;
  copy->lookAhead = SourceLookAhead(*copy);
  if (!m_sources.InsertAt(at, Source{sourceId, copy})) {
    CSnSourceDesc::Destroy(copy);
    return SN_Failure;
  }
  if (IsStreamed(*copy)) m_anyStreamed = true;
  return SN_Success;
}

SNRESULT CSnMusicTrackNode::AddMediaSource(uint32_t sourceId, uint32_t codecId, uint32_t fileId, uint32_t size,
                                           uint32_t flags) {
  CSnSourceDesc desc;
  desc.SetMediaSource(codecId, sourceId, fileId, size, flags);
  return AddSource(sourceId, desc);
}

SNRESULT CSnMusicTrackNode::AddPluginSource(uint32_t sourceId) {
  CSnSourceDesc desc;
  desc.SetPluginSource(sourceId);
  return AddSource(sourceId, desc);
}

const CSnSourceDesc* CSnMusicTrackNode::FindSource(uint32_t sourceId) const {
  uint32_t low = 0, high = m_sources.Count();
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    if (m_sources[mid].sourceId < sourceId)
      low = mid + 1;
    else
      high = mid;
  }
  return low < m_sources.Count() && m_sources[low].sourceId == sourceId ? m_sources[low].desc : nullptr;
}

bool CSnMusicTrackNode::HasProvidedMedia() const {
  for (uint32_t i = 0; i < m_sources.Count(); ++i)
    if (m_sources[i].desc->flags & CSnSourceDesc::kProvidedMedia) return true;
  return false;
}

// ---- loading ----

SNRESULT CSnMusicTrackNode::ReadBankData(const uint8_t* data, uint32_t size, bool again) {
  SnMusicReader in(ID(), data, size);
  uint32_t id = 0;
  uint8_t flags = 0;
  if (!in.Read(id, "object id") || !in.Read(flags, "track flags")) return SN_Failure;
  m_trackFlags = uint8_t(((flags >> 2) & 1) * kTrackMidiOverridesEvents | ((flags >> 1) & 1) * kTrackMidiOverridesTracking |
                         ((flags >> 3) & 1) * kTrackMidiOption);
  SNRESULT result = ReadSources(in);
  if (result != SN_Success) return result;

  // Track contexts point into the clips and automation: while any plays, a second bank only brings
  // the sources it lacks.
  const bool keepTimeline = again && m_contexts > 0;
  ClipMap map;
  if (!keepTimeline) {
    ClearAutomation();
    ClearClips();
  }
  uint32_t subTracks = 0;
  result = ReadClips(in, map, !keepTimeline);
  if (result == SN_Success && !in.Read(subTracks, "sub-track count")) result = SN_Failure;
  if (result == SN_Success) result = ReadAutomation(in, map, !keepTimeline);
  if (result == SN_Success && !keepTimeline) m_subTracks = subTracks;
  if (result != SN_Success) return result;

  const uint8_t* begin = in.Here();
  const uint8_t* cursor = begin;
  result = ReadBaseParams(cursor, begin + in.Left(), again);
  if (result != SN_Success || again) return result;
  in.Advance(uint32_t(cursor - begin));

  uint8_t type = 0;
  if (!in.Read(type, "track type")) return SN_Failure;
  if (type > SnMusicTrack_Switch) {
    SOUND_LOG(Error, "Music track %u: track type %u is unknown", ID(), unsigned(type));
    return SN_Failure;
  }
  m_type = SnMusicTrackType(type);
  ClearSwitch();
  if (m_type == SnMusicTrack_Switch) {
    result = ReadSwitch(in);
    if (result != SN_Success) return result;
  }
  uint32_t lookAheadMs = 0;
  if (!in.Read(lookAheadMs, "look-ahead time")) return SN_Failure;
  SetLookAhead(lookAheadMs);
  return SN_Success;
}

SNRESULT CSnMusicTrackNode::ReadSources(SnMusicReader& in) {
  uint32_t count = 0;
  if (!in.Read(count, "source count")) return SN_Failure;
  // A record is at least its fourteen fixed bytes.
  if (!in.Holds(count, 14, "sources")) return SN_Failure;
  if (count > m_sources.Capacity() - m_sources.Count() && !m_sources.GrowBy(count)) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    SnMusicSourceRecord record{};
    SNRESULT result = ReadMusicSourceRecord(in, record);
    if (result != SN_Success) return result;
    const uint32_t storage = record.kind == SnMusicSourceRecord::kKindStreamed ? CSnSourceDesc::Storage_Streamed
                                                                               : CSnSourceDesc::Storage_InMemory;
    const uint32_t flags = (record.flags & (CSnSourceDesc::kLanguageFile | CSnSourceDesc::kPrefetched)) |
                           (storage << CSnSourceDesc::kStorageShift);
    result = record.kind == SnMusicSourceRecord::kKindPlugin
                 ? AddPluginSource(record.sourceId)
                 : AddMediaSource(record.sourceId, record.codecId,
                                  record.kind == SnMusicSourceRecord::kKindStreamed ? record.sizeOrFileId : 0xFFFFFFFFu,
                                  record.kind == SnMusicSourceRecord::kKindStreamed ? 0 : record.sizeOrFileId, flags);
    if (result != SN_Success) return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnMusicTrackNode::ReadClips(SnMusicReader& in, ClipMap& map, bool store) {
  uint32_t count = 0;
  if (!in.Read(count, "clip count")) return SN_Failure;
  if (!in.Holds(count, kMusicBankClipBytes, "clips")) return SN_Failure;
  if (!map.Reserve(count) || (store && count && !m_clips.GrowBy(count))) return SN_InsufficientMemory;
  uint32_t kept = 0;
  const uint32_t rate = MusicSampleRate();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t subTrack = 0, sourceId = 0;
    double playAt = 0, beginTrim = 0, endTrim = 0, sourceMs = 0;
    in.Read(subTrack, "clip");
    in.Read(sourceId, "clip");
    in.Read(playAt, "clip");
    in.Read(beginTrim, "clip");
    in.Read(endTrim, "clip");
    in.Read(sourceMs, "clip");
    const double lengthMs = endTrim + sourceMs - beginTrim;
    if (lengthMs <= 0.0) {
      map.Add(kDropped);
      continue;
    }
    int32_t begin = 0, length = 0, duration = 0, trim = 0;
    if (!MusicMsToSamples(playAt + beginTrim, rate, begin) || !MusicMsToSamples(lengthMs, rate, length) ||
        !MusicMsToSamples(sourceMs, rate, duration) || !MusicMsToSamples(beginTrim, rate, trim)) {
      SOUND_LOG(Error, "Music track %u: clip %u has times beyond a sample count", ID(), i);
      return SN_Failure;
    }
    // A source of no length has no offset to wrap into: the clip plays nothing.
    if (duration <= 0) {
      SOUND_LOG(Warning, "Music track %u: clip %u of a source of no length is dropped", ID(), i);
      map.Add(kDropped);
      continue;
    }
    int32_t offset = trim % duration;
    if (offset < 0) offset += duration;
    map.Add(kept++);
    if (store) m_clips.Add({subTrack, sourceId, begin, uint32_t(length), duration, offset});
  }
  return SN_Success;
}

SNRESULT CSnMusicTrackNode::ReadAutomation(SnMusicReader& in, const ClipMap& map, bool store) {
  uint32_t count = 0;
  if (!in.Read(count, "automation count")) return SN_Failure;
  if (!in.Holds(count, 12, "automation curves")) return SN_Failure;
  if (store && count && !m_automation.GrowBy(count)) return SN_Failure;
  const double rate = MusicSampleRate();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bankClip = 0, type = 0, pointCount = 0;
    if (!in.Read(bankClip, "automation clip") || !in.Read(type, "automation type") ||
        !in.Read(pointCount, "automation point count"))
      return SN_Failure;
    if (!in.Holds(pointCount, sizeof(SnMusicAutomationPoint), "automation points")) return SN_Failure;
    const uint8_t* bytes = in.Take(pointCount * uint32_t(sizeof(SnMusicAutomationPoint)), "automation points");
    // A curve follows its bank clip: one on a dropped clip, past the clips or of no points is dropped.
    const uint32_t clip = bankClip < map.Count() ? map[bankClip] : kDropped;
    if (clip == kDropped || pointCount == 0 || !store) continue;
    auto* points = static_cast<SnMusicAutomationPoint*>(
        MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnMusicAutomationPoint) * pointCount, alignof(SnMusicAutomationPoint)));
    if (!points) return SN_Failure;
    memcpy(points, bytes, sizeof(SnMusicAutomationPoint) * pointCount);
    for (uint32_t p = 0; p < pointCount; ++p) {
      const double samples = double(points[p].time) * rate;
      if (!std::isfinite(samples)) {
        MemoryMgr::Free(g_DefaultPoolId, points);
        SOUND_LOG(Error, "Music track %u: automation point %u is at no time", ID(), p);
        return SN_Failure;
      }
      points[p].time = float(std::trunc(samples > 0 ? samples + 0.5 : samples - 0.5));
    }
    if (!m_automation.Add({clip, type, points, pointCount})) {
      MemoryMgr::Free(g_DefaultPoolId, points);
      return SN_Failure;
    }
  }
  return SN_Success;
}

SNRESULT CSnMusicTrackNode::ReadSwitch(SnMusicReader& in) {
  m_switch = PoolNew<SnMusicTrackSwitchParams>(g_DefaultPoolId);
  if (!m_switch) return SN_InsufficientMemory;
  SnMusicTrackSwitchParams& params = *m_switch;
  uint32_t count = 0;
  if (!in.Read(params.groupType, "switch group type") || !in.Read(params.groupId, "switch group") ||
      !in.Read(params.defaultSwitch, "default switch") || !in.Read(count, "switch association count"))
    return SN_Failure;
  if (!in.Holds(count, sizeof(uint32_t), "switch associations")) return SN_Failure;
  if (count) {
    params.switchIds = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(uint32_t) * count));
    if (!params.switchIds) return SN_Failure;
    memcpy(params.switchIds, in.Take(sizeof(uint32_t) * count, "switch associations"), sizeof(uint32_t) * count);
    params.switchCount = count;
  }
  int32_t fadeOutOffset = 0, fadeInOffset = 0;
  if (!in.Read(params.fadeOutMs, "switch transition") || !in.Read(params.fadeOutCurve, "switch transition") ||
      !in.Read(fadeOutOffset, "switch transition") || !in.Read(params.syncType, "switch transition") ||
      !in.Read(params.cueFilter, "switch transition") || !in.Read(params.fadeInMs, "switch transition") ||
      !in.Read(params.fadeInCurve, "switch transition") || !in.Read(fadeInOffset, "switch transition"))
    return SN_Failure;
  params.syncType &= 0x1F;
  // Offsets are signed, converted as the containers' rules convert theirs.
  const uint32_t rate = MusicSampleRate();
  if (!MusicOffsetToSamples(fadeOutOffset, rate, params.fadeOutOffset) ||
      !MusicOffsetToSamples(fadeInOffset, rate, params.fadeInOffset)) {
    SOUND_LOG(Error, "Music track %u: a switch offset is beyond a sample count", ID());
    return SN_Failure;
  }
  return SN_Success;
}

// ---- timeline ----

uint32_t CSnMusicTrackNode::SwitchOfSubTrack(uint32_t subTrack) const {
  if (!m_switch || subTrack >= m_switch->switchCount) return kNoSwitch;
  return m_switch->switchIds[subTrack];
}

uint16_t CSnMusicTrackNode::SelectSubTrack() {
  if (m_type == SnMusicTrack_Random) return m_subTracks ? uint16_t(uint32_t(Base::Rand15()) % m_subTracks) : 0;
  if (m_type == SnMusicTrack_Sequence) {
    uint32_t next = m_sequencePosition + 1;
    if (next >= m_subTracks) next = 0;
    m_sequencePosition = next;
    return uint16_t(next);
  }
  return 0;
}

int32_t CSnMusicTrackNode::GetMaxLookAhead(int32_t position) const {
  if (!m_anyStreamed) return 0;
  int64_t most = 0;
  for (uint32_t i = 0; i < m_clips.Count(); ++i) {
    const SnMusicTrackClip& clip = m_clips[i];
    const CSnSourceDesc* source = FindSource(clip.sourceId);
    if (!source) continue;
    const int64_t ahead = int64_t(clip.begin) - position;
    int64_t need = source->lookAhead;
    if (!IsStreamed(*source) ||
        ((source->flags & CSnSourceDesc::kPrefetched) && ahead >= 0 && clip.sourceOffset == 0))
      need = 0;
    const int64_t value = need - (ahead > 0 ? ahead : 0);
    if (value > most) most = value;
  }
  return int32_t(most);
}

void CSnMusicTrackNode::SetLookAhead(uint32_t ms) {
  const double samples = double(ms) * double(LookAheadRatio()) * MusicSampleRate() * 0.001 + 0.5;
  m_lookAhead = samples >= 2147483647.0 ? INT32_MAX : int32_t(samples);
  for (Source& source : m_sources) source.desc->lookAhead = SourceLookAhead(*source.desc);
}

// ---- the hierarchy's calls ----

SNRESULT CSnMusicTrackNode::PlayNode(CSnPlayParams&) { return MusicCannotPlayYet(ID()); }

SNRESULT CSnMusicTrackNode::PrepareData() {
  for (uint32_t i = 0; i < m_sources.Count(); ++i) {
    const SNRESULT result = m_sources[i].desc->PrepareMedia();
    if (result != SN_Success) {
      while (i--) m_sources[i].desc->ReleaseBankMedia();
      return result;
    }
  }
  return SN_Success;
}

void CSnMusicTrackNode::UnprepareData() {
  for (Source& source : m_sources) source.desc->ReleaseBankMedia();
}

}  // namespace SN
