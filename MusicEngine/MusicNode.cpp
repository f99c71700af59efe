// The music node base: its block of a bank object, its children, its meter and its stingers.
#include "MusicEngine/MusicNode.h"

#include <atomic>
#include <cmath>

#include "MusicEngine/MusicRenderer.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"

namespace SN {

uint32_t MusicSampleRate() { return LowerEngine::SampleRate(); }

bool SnMusicReader::Holds(uint64_t count, uint64_t bytes, const char* what) const {
  if (count * bytes <= m_cursor.Left()) return true;
  SOUND_LOG(Error, "Music object %u: %llu %s cannot fit in the %u bytes left", m_id,
            static_cast<unsigned long long>(count), what, m_cursor.Left());
  return false;
}

void SnMusicReader::Short(const char* what) const {
  SOUND_LOG(Error, "Music object %u: the %s run past the end of the object", m_id, what);
}

CSnMusicHierarchyNode::~CSnMusicHierarchyNode() = default;

// ---- children ----

SNRESULT CSnMusicHierarchyNode::MayAddChild(const CSnHierarchyNode* child) const {
  if (m_children.Count() >= kMaxChildren) return SN_TooManyChildren;
  if (!TakesChildCategory(child->NodeCategory())) return SN_WrongChildKind;
  if (child->Parent()) return SN_ChildHasParent;
  for (uint32_t i = 0; i < m_children.Count(); ++i)
    if (m_children[i]->ID() == child->ID()) return SN_AlreadyAChild;
  if (child->ID() == ID()) return SN_ChildIsItself;
  return SN_Success;
}

SNRESULT CSnMusicHierarchyNode::AddChild(CSnHierarchyNode* child) {
  const SNRESULT allowed = MayAddChild(child);
  if (allowed != SN_Success) {
    SOUND_LOG(Error, "Music node %u: child %u is turned away (%d)", ID(), child->ID(), int(allowed));
    return allowed;
  }
  uint32_t at = 0;
  while (at < m_children.Count() && m_children[at]->ID() < child->ID()) ++at;
  if (!m_children.InsertAt(at, child)) return SN_Failure;
  child->SetParent(this);
  return SN_Success;
}

void CSnMusicHierarchyNode::RemoveChild(CSnHierarchyNode* child) {
  const int32_t at = m_children.IndexOf(child);
  if (at >= 0) m_children.RemoveAt(uint32_t(at));
}

// ---- the bank block ----

SNRESULT CSnMusicHierarchyNode::ReadMusicParams(SnMusicReader& in) {
  uint32_t id = 0;
  uint8_t flags = 0;
  if (!in.Read(id, "object id") || !in.Read(flags, "music flags")) return SN_Failure;
  m_musicFlags = uint8_t((m_musicFlags & kMusicOverridesMeter) | ((flags >> 1) & kMusicOverridesEvents) |
                         ((flags >> 1) & kMusicOverridesTracking) | (flags & kMusicMidiOption));
  const uint8_t* begin = in.Here();
  const uint8_t* cursor = begin;
  const SNRESULT params = ReadBaseParams(cursor, begin + in.Left(), false);
  if (params != SN_Success) return params;
  in.Advance(uint32_t(cursor - begin));
  SNRESULT result = ReadChildren(in);
  if (result == SN_Success) result = ReadMeter(in);
  if (result == SN_Success) result = ReadStingers(in);
  return result;
}

SNRESULT CSnMusicHierarchyNode::ReadChildren(SnMusicReader& in) {
  uint32_t count = 0;
  if (!in.Read(count, "child count")) return SN_Failure;
  if (!in.Holds(count, sizeof(uint32_t), "child ids")) return SN_Failure;
  if (count > kMaxChildren) {
    SOUND_LOG(Error, "Music node %u: %u children are more than a node holds", ID(), count);
    return SN_TooManyChildren;
  }
  if (count > m_children.Capacity() - m_children.Count() && !m_children.GrowBy(count)) return SN_InsufficientMemory;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t childId = 0;
    in.Read(childId, "child id");
    const SNRESULT result = AddChildById(childId);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Music node %u: child %u could not be added (%d)", ID(), childId, int(result));
      return result;
    }
  }
  return SN_Success;
}

SNRESULT CSnMusicHierarchyNode::ReadMeter(SnMusicReader& in) {
  double gridPeriodMs = 0.0, gridOffsetMs = 0.0;
  float tempo = 0.0f;
  uint8_t beatsPerBar = 0, beatValue = 0, overrides = 0;
  if (!in.Read(gridPeriodMs, "grid period") || !in.Read(gridOffsetMs, "grid offset") || !in.Read(tempo, "tempo") ||
      !in.Read(beatsPerBar, "time signature") || !in.Read(beatValue, "time signature") ||
      !in.Read(overrides, "meter flag"))
    return SN_Failure;
  if (!overrides) return SN_Success;
  const uint32_t rate = MusicSampleRate();
  int32_t gridPeriod = 0, gridOffset = 0;
  uint32_t beat = 0, bar = 0;
  if (!MusicMeterSamples(tempo, beatsPerBar, beatValue, rate, beat, bar) ||
      !MusicMsToSamples(gridPeriodMs, rate, gridPeriod) || !MusicMsToSamples(gridOffsetMs, rate, gridOffset) ||
      gridPeriod < 0 || gridOffset < 0) {
    SOUND_LOG(Error, "Music node %u: the meter (%g bpm, %u/%u, grid %g ms at %g ms) gives no usable sample counts", ID(),
              double(tempo), unsigned(beatsPerBar), unsigned(beatValue), gridPeriodMs, gridOffsetMs);
    return SN_Failure;
  }
  m_meter.tempo = tempo;
  m_meter.beat = beat;
  m_meter.bar = bar;
  m_meter.gridPeriod = uint32_t(gridPeriod);
  m_meter.gridOffset = uint32_t(gridOffset);
  m_musicFlags |= kMusicOverridesMeter;
  return SN_Success;
}

SNRESULT CSnMusicHierarchyNode::ReadStingers(SnMusicReader& in) {
  uint32_t count = 0;
  if (!in.Read(count, "stinger count")) return SN_Failure;
  if (!in.Holds(count, sizeof(SnMusicStinger), "stingers")) return SN_Failure;
  m_stingers.Term();
  if (count && !m_stingers.GrowBy(count)) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    SnMusicStinger stinger;
    in.Read(stinger, "stinger");
    m_stingers.Add(stinger);
  }
  return SN_Success;
}

// ---- musical time ----

const CSnMusicHierarchyNode* CSnMusicHierarchyNode::MusicParent() const {
  const CSnHierarchyNode* parent = Parent();
  if (!parent) return nullptr;
  const uint32_t category = parent->NodeCategory();
  if (category < kMusicCategorySegment || category > kMusicCategorySwitch) return nullptr;
  return static_cast<const CSnMusicHierarchyNode*>(parent);
}

const SnMusicMeter& CSnMusicHierarchyNode::GetMeter() const {
  const CSnMusicHierarchyNode* node = this;
  while (!(node->m_musicFlags & kMusicOverridesMeter)) {
    const CSnMusicHierarchyNode* parent = node->MusicParent();
    if (!parent) break;
    node = parent;
  }
  return node->m_meter;
}

const SnMusicStinger* CSnMusicHierarchyNode::FindStinger(uint32_t triggerId) const {
  // The nearest node's last stinger of the trigger replaces every other.
  for (const CSnMusicHierarchyNode* node = this; node; node = node->MusicParent())
    for (uint32_t s = node->m_stingers.Count(); s-- > 0;)
      if (node->m_stingers[s].triggerId == triggerId) return &node->m_stingers[s];
  return nullptr;
}

// ---- the hierarchy's calls ----

void CSnMusicHierarchyNode::ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) {
  // Only a child that counts activity has anything playing to tell.
  const SnNodeActivity* activity = Activity();
  if (!activity) return;
  for (CSnHierarchyNode* child : m_children)
    if (activity->children.IndexOf(child) >= 0) static_cast<CSnPropertyNode*>(child)->ApplyGainFactor(gameObject, gain);
}

void CSnMusicHierarchyNode::DeliverParameterChange(const SnParamChange& change) {
  const SnNodeActivity* activity = Activity();
  if (!activity) return;
  for (CSnHierarchyNode* child : m_children)
    if (activity->children.IndexOf(child) >= 0 && child->HandlesParameter(change.parameterId))
      child->DeliverParameterChange(change);
}

void CSnMusicHierarchyNode::ExecuteAction(const SnActionParams& params) {
  ApplyToOwnTransitions(params);
  // A record for everything goes on down: the children hold transitions, and plays, of their own.
  if (params.ownTransitions)
    for (uint32_t i = m_children.Count(); i-- > 0;)
      if (i < m_children.Count()) m_children[i]->ExecuteAction(params);
  CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  if (!renderer) return;
  switch (params.kind) {
    case SnActionParams::Stop:
      renderer->StopNode(this, params.gameObject, params.playingId, params.transitionMs, params.fadeCurve);
      break;
    case SnActionParams::Pause:
      renderer->PauseNode(this, params.gameObject, params.playingId, params.transitionMs, params.fadeCurve);
      break;
    case SnActionParams::Resume:
      renderer->ResumeNode(this, params.gameObject, params.playingId, params.transitionMs, params.fadeCurve,
                           params.flag != 0);
      break;
    case SnActionParams::Seek:
      if (params.seekFlags & 1) {
        // A fraction of the active part, clamped; one that is no number seeks to the beginning.
        float fraction = params.seek.fraction;
        if (!(fraction >= 0.0f)) fraction = 0.0f;
        if (fraction > 1.0f) fraction = 1.0f;
        renderer->SeekNodeByPercent(this, params.gameObject, params.playingId, fraction, params.seekFlags & 2);
      } else {
        renderer->SeekNodeByTime(this, params.gameObject, params.playingId, params.seek.ms, params.seekFlags & 2);
      }
      break;
    default: break;
  }
}

SNRESULT MusicCannotPlayYet(uint32_t nodeId) {
  CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  if (!renderer || renderer->FirstToSay(CSnMusicRenderer::kSaidCannotPlay)) SOUND_LOG(Error, "Music node %u: music cannot be played yet", nodeId);
  return SN_Failure;
}

SNRESULT CSnMusicHierarchyNode::PlayNode(CSnPlayParams&) { return MusicCannotPlayYet(ID()); }

namespace {
constexpr uint8_t kSpeedProperty = 54;
}  // namespace

SNRESULT CSnMusicHierarchyNode::SetFloatProperty(uint8_t id, float value) {
  const bool speedChanged = id == kSpeedProperty && FloatProperty(id) != value;
  const SNRESULT result = CSnPropertyNode::SetFloatProperty(id, value);
  if (speedChanged)
    if (CSnMusicRenderer* renderer = CSnMusicRenderer::Instance()) renderer->SetPendingReset(0);
  return result;
}

SNRESULT CSnMusicHierarchyNode::PrepareMusicDependencies() {
  // A stinger of segment 0 plays nothing and has nothing to prepare.
  for (uint32_t i = 0; i < m_stingers.Count(); ++i) {
    if (!m_stingers[i].segmentId) continue;
    const SNRESULT result = PrepareNodeData(m_stingers[i].segmentId);
    if (result != SN_Success) {
      while (i--)
        if (m_stingers[i].segmentId) UnprepareNodeData(m_stingers[i].segmentId);
      return result;
    }
  }
  return SN_Success;
}

void CSnMusicHierarchyNode::UnprepareMusicDependencies() {
  for (const SnMusicStinger& stinger : m_stingers)
    if (stinger.segmentId) UnprepareNodeData(stinger.segmentId);
}

SNRESULT CSnMusicHierarchyNode::PrepareData() {
  SNRESULT result = PrepareMusicDependencies();
  if (result != SN_Success) return result;
  for (uint32_t i = 0; i < m_children.Count(); ++i) {
    result = m_children[i]->PrepareData();
    if (result != SN_Success) {
      while (i--) m_children[i]->UnprepareData();
      UnprepareMusicDependencies();
      return result;
    }
  }
  return SN_Success;
}

void CSnMusicHierarchyNode::UnprepareData() {
  for (CSnHierarchyNode* child : m_children) child->UnprepareData();
  UnprepareMusicDependencies();
}

}  // namespace SN
