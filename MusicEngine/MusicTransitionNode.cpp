// Transition rules of the music containers: their bank block, their look-ups and the default rule.
#include "MusicEngine/MusicTransitionNode.h"

#include <algorithm>
#include <new>

#include "SoundEngine/Log.h"

namespace SN {

namespace {
// A rule's fixed fields after its two id lists, and the transition segment's fields, as stored.
constexpr uint32_t kRuleFixedBytes = 21 + 20 + 5;
constexpr uint32_t kRuleMinimumBytes = 4 + 4 + kRuleFixedBytes;
constexpr uint32_t kTransitionSegmentBytes = 4 + 12 + 12 + 1 + 1;
static_assert(kTransitionSegmentBytes == 30, "a transition segment is thirty bytes in a bank");

bool Listed(const SnArray<uint32_t>& ids, uint32_t id) {
  if (!ids.Count()) return false;
  const uint32_t* first = &ids[0];
  return std::binary_search(first, first + ids.Count(), id);
}

bool AnyOrListed(const SnArray<uint32_t>& ids, uint32_t id) { return ids[0] == kMusicAnyId || Listed(ids, id); }

// The first ancestor of `node` below `owner` whose id is listed, or null.
const CSnHierarchyNode* ListedAncestor(const SnArray<uint32_t>& ids, const CSnHierarchyNode* node,
                                       const CSnHierarchyNode* owner) {
  for (const CSnHierarchyNode* up = node ? node->Parent() : nullptr; up && up != owner; up = up->Parent())
    if (Listed(ids, up->ID())) return up;
  return nullptr;
}

SnMusicTransitionRule& DefaultRule() {
  static SnMusicTransitionRule rule;
  return rule;
}
}  // namespace

void SnMusicTransitionRule::Term() {
  if (segment) MemoryMgr::Free(g_DefaultPoolId, segment);
  segment = nullptr;
  sources.Term();
  destinations.Term();
}

CSnMusicTransitionAwareNode::~CSnMusicTransitionAwareNode() { FreeRules(); }

void CSnMusicTransitionAwareNode::FreeRules() {
  for (uint32_t i = 0; i < m_ruleCount; ++i) m_rules[i].~SnMusicTransitionRule();
  if (m_rules) MemoryMgr::Free(g_DefaultPoolId, m_rules);
  m_rules = nullptr;
  m_ruleCount = 0;
}

// ---- loading ----

SNRESULT CSnMusicTransitionAwareNode::ReadTransitionParams(SnMusicReader& in) {
  SNRESULT result = ReadMusicParams(in);
  if (result != SN_Success) return result;
  FreeRules();
  uint32_t count = 0;
  if (!in.Read(count, "rule count")) return SN_Failure;
  if (!count) return SN_Success;
  if (!in.Holds(count, kRuleMinimumBytes, "transition rules")) return SN_Failure;
  m_rules = static_cast<SnMusicTransitionRule*>(
      MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnMusicTransitionRule) * count, alignof(SnMusicTransitionRule)));
  if (!m_rules) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    SnMusicTransitionRule* rule = new (&m_rules[i]) SnMusicTransitionRule();
    ++m_ruleCount;
    rule->index = i;
    result = ReadRule(in, *rule);
    if (result != SN_Success) return result;
  }
  return SN_Success;
}

SNRESULT CSnMusicTransitionAwareNode::ReadRule(SnMusicReader& in, SnMusicTransitionRule& rule) {
  for (SnArray<uint32_t>* ids : {&rule.sources, &rule.destinations}) {
    uint32_t count = 0;
    if (!in.Read(count, "rule id count")) return SN_Failure;
    if (!in.Holds(count, sizeof(uint32_t), "rule ids")) return SN_Failure;
    if (count && !ids->GrowBy(count)) return SN_Failure;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t id = 0;
      in.Read(id, "rule id");
      ids->Add(id, 16);
    }
  }
  // Offsets are stored in milliseconds and kept in whole samples per millisecond.
  const uint32_t rate = MusicSampleRate();
  bool offsetsFit = true;
  auto offsetOf = [&](int32_t ms) {
    int32_t samples = 0;
    offsetsFit = MusicOffsetToSamples(ms, rate, samples) && offsetsFit;
    return samples;
  };
  int32_t outOffset = 0, inOffset = 0;
  uint8_t postExit = 0, preEntry = 0, matchName = 0, hasSegment = 0;
  uint16_t entryKind = 0;
  SnMusicRuleSource& source = rule.source;
  SnMusicRuleDestination& destination = rule.destination;
  if (!in.Read(source.fadeTimeMs, "fade-out time") || !in.Read(source.fadeCurve, "fade-out curve") ||
      !in.Read(outOffset, "fade-out offset") || !in.Read(source.flags, "sync type") ||
      !in.Read(source.cueFilter, "source cue filter") || !in.Read(postExit, "play post-exit") ||
      !in.Read(destination.fadeTimeMs, "fade-in time") || !in.Read(destination.fadeCurve, "fade-in curve") ||
      !in.Read(inOffset, "fade-in offset") || !in.Read(destination.cueFilter, "destination cue filter") ||
      !in.Read(destination.jumpToItem, "jump-to item") || !in.Read(entryKind, "entry kind") ||
      !in.Read(preEntry, "play pre-entry") || !in.Read(matchName, "cue name match") ||
      !in.Read(hasSegment, "transition segment flag"))
    return SN_Failure;
  source.fadeOffset = offsetOf(outOffset);
  source.flags = (source.flags & SnMusicRuleSource::kSyncTypeMask) | ((postExit & 1) ? SnMusicRuleSource::kPlayPostExit : 0);
  destination.fadeOffset = offsetOf(inOffset);
  destination.flags = uint16_t((entryKind & SnMusicRuleDestination::kEntryKindMask) |
                               ((preEntry & 1) ? SnMusicRuleDestination::kPlayPreEntry : 0) |
                               ((matchName & 1) ? SnMusicRuleDestination::kMatchSourceCueName : 0));
  if (hasSegment) {
    const uint8_t* bytes = in.Take(kTransitionSegmentBytes, "transition segment");
    if (!bytes) return SN_Failure;
    SnBankCursor fields(bytes, kTransitionSegmentBytes);
    SnMusicTransitionSegment segment{};
    uint8_t segmentPreEntry = 0, segmentPostExit = 0;
    int32_t fadeInOffset = 0, fadeOutOffset = 0;
    fields.Take(segment.segmentId);
    fields.Take(segment.fadeIn.timeMs);
    fields.Take(segment.fadeIn.curve);
    fields.Take(fadeInOffset);
    fields.Take(segment.fadeOut.timeMs);
    fields.Take(segment.fadeOut.curve);
    fields.Take(fadeOutOffset);
    fields.Take(segmentPreEntry);
    fields.Take(segmentPostExit);
    segment.fadeIn.offset = offsetOf(fadeInOffset);
    segment.fadeOut.offset = offsetOf(fadeOutOffset);
    segment.flags = uint8_t(((segmentPreEntry & 1) ? SnMusicTransitionSegment::kPlayPreEntry : 0) |
                            ((segmentPostExit & 1) ? SnMusicTransitionSegment::kPlayPostExit : 0));
    // Out of memory leaves the rule without its segment, as a rule may stand without one.
    rule.segment = static_cast<SnMusicTransitionSegment*>(
        MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnMusicTransitionSegment), alignof(SnMusicTransitionSegment)));
    if (rule.segment) *rule.segment = segment;
  }
  if (!offsetsFit) {
    SOUND_LOG(Error, "Music node %u: rule %u has an offset beyond a sample count", ID(), rule.index);
    return SN_Failure;
  }
  return SN_Success;
}

// ---- look-ups ----

const SnMusicTransitionRule* CSnMusicTransitionAwareNode::GetTransitionRule(
    const CSnHierarchyNode* owner, uint32_t sourceId, const CSnHierarchyNode* sourceNode, uint32_t destinationId,
    const CSnHierarchyNode* destinationNode, bool& throughPlaylist) const {
  throughPlaylist = false;
  for (uint32_t i = m_ruleCount; i-- > 0;) {
    const SnMusicTransitionRule& rule = m_rules[i];
    if (!rule.sources.Count() || !rule.destinations.Count()) continue;
    if (!AnyOrListed(rule.sources, sourceId) && !ListedAncestor(rule.sources, sourceNode, owner)) continue;
    if (AnyOrListed(rule.destinations, destinationId)) return &rule;
    if (const CSnHierarchyNode* listed = ListedAncestor(rule.destinations, destinationNode, owner)) {
      throughPlaylist = listed->NodeCategory() == kMusicCategoryPlaylist;
      return &rule;
    }
  }
  return m_ruleCount ? &m_rules[0] : nullptr;
}

const SnMusicTransitionRule* CSnMusicTransitionAwareNode::FindRuleByIds(uint32_t sourceId,
                                                                        uint32_t destinationId) const {
  for (uint32_t i = m_ruleCount; i-- > 0;) {
    const SnMusicTransitionRule& rule = m_rules[i];
    if (!rule.sources.Count() || !rule.destinations.Count()) continue;
    if (AnyOrListed(rule.sources, sourceId) && AnyOrListed(rule.destinations, destinationId)) return &rule;
  }
  return m_ruleCount ? &m_rules[0] : nullptr;
}

const SnMusicTransitionRule& CSnMusicTransitionAwareNode::GetDefaultRule() {
  SnMusicTransitionRule& rule = DefaultRule();
  if (!rule.sources.Count()) rule.sources.Add(kMusicAnyId, 16);
  if (!rule.destinations.Count()) rule.destinations.Add(kMusicAnyId, 16);
  rule.source = SnMusicRuleSource{};
  rule.source.flags = SnMusicSync_ExitCue | SnMusicRuleSource::kPlayPostExit;
  rule.destination = SnMusicRuleDestination{};
  rule.index = 0;
  return rule;
}

void CSnMusicTransitionAwareNode::FreeDefaultRule() { DefaultRule().Term(); }

// ---- media ----

SNRESULT CSnMusicTransitionAwareNode::PrepareMusicDependencies() {
  SNRESULT result = CSnMusicHierarchyNode::PrepareMusicDependencies();
  if (result != SN_Success) return result;
  for (uint32_t i = 0; i < m_ruleCount; ++i) {
    if (!m_rules[i].segment) continue;
    result = PrepareNodeData(m_rules[i].segment->segmentId);
    if (result != SN_Success) {
      while (i--)
        if (m_rules[i].segment) UnprepareNodeData(m_rules[i].segment->segmentId);
      CSnMusicHierarchyNode::UnprepareMusicDependencies();
      return result;
    }
  }
  return SN_Success;
}

void CSnMusicTransitionAwareNode::UnprepareMusicDependencies() {
  for (uint32_t i = 0; i < m_ruleCount; ++i)
    if (m_rules[i].segment) UnprepareNodeData(m_rules[i].segment->segmentId);
  CSnMusicHierarchyNode::UnprepareMusicDependencies();
}

}  // namespace SN
