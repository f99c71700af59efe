// Transition rules read from the bank writer's bytes by a container kind of the tests: their fields
// and offsets, the look-up from the last rule to the first with ancestor walks, the default rule,
// and the transition segments prepared with the container and undone on a failure.
#include "MusicEngine/MusicTransitionNode.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PoolObject.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using SN::CSnMusicTransitionAwareNode;
using SN::kMusicAnyId;

// A container of the tests: one music node block and rules, any music child, a chosen category.
class RuleNode : public CSnMusicTransitionAwareNode {
 public:
  RuleNode(uint32_t id, uint32_t category) : CSnMusicTransitionAwareNode(id), m_category(category) {}
  uint32_t NodeCategory() const override { return m_category; }
  SN::SNRESULT Read(const std::vector<uint8_t>& bytes) {
    SN::SnMusicReader in(ID(), bytes.data(), uint32_t(bytes.size()));
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    return ReadTransitionParams(in);
  }

 protected:
  bool TakesChildCategory(uint32_t category) const override { return category >= SN::kMusicCategorySegment; }

 private:
  uint32_t m_category;
};

Tools::BankMusicRule Rule(std::vector<uint32_t> sources, std::vector<uint32_t> destinations, uint32_t sync = 0) {
  Tools::BankMusicRule rule;
  rule.sources = std::move(sources);
  rule.destinations = std::move(destinations);
  rule.syncType = sync;
  return rule;
}

class MusicRulesTest : public MusicTest::MusicFixture {
 protected:
  // A rule container (entered in the node list) whose children are the given loaded nodes.
  RuleNode* Container(uint32_t id, uint32_t category, const std::vector<Tools::BankMusicRule>& rules,
                      std::vector<uint32_t> children = {}) {
    Tools::BankMusicNode block;
    block.children = std::move(children);
    std::vector<uint8_t> bytes;
    Tools::PutMusicNode(bytes, id, block, false);
    Tools::PutMusicRules(bytes, rules);
    auto* node = SN::PoolNew<RuleNode>(SN::g_DefaultPoolId, id, category);
    EXPECT_EQ(node->Read(bytes), SN::SN_Success);
    SN::g_pObjectIndex->GetNodeList(false).Insert(node);
    made_.push_back(node);
    return node;
  }
};

TEST_F(MusicRulesTest, RulesKeepTheirFieldsAndOffsetsBecomeWholeSamplesPerMillisecond) {
  Tools::BankMusicRule rule = Rule({3, 9}, {kMusicAnyId}, 0x22);
  rule.fadeOut = {1500, 4, 10};
  rule.sourceCueFilter = 8;
  rule.playPostExit = 3;
  rule.fadeIn = {250, 1, -10};
  rule.destinationCueFilter = 6;
  rule.jumpToItem = 44;
  rule.entryKind = 0xFFFB;
  rule.playPreEntry = 1;
  rule.matchSourceCueName = 2;
  rule.hasSegment = true;
  rule.segmentId = 71;
  rule.segmentFadeIn = {100, 2, 10};
  rule.segmentFadeOut = {200, 3, 20};
  rule.segmentPlayPreEntry = 0;
  rule.segmentPlayPostExit = 1;
  const RuleNode* node = Container(300, SN::kMusicCategoryPlaylist, {rule});
  ASSERT_EQ(node->RuleCount(), 1u);
  const SN::SnMusicTransitionRule& read = node->Rule(0);
  EXPECT_EQ(read.sources.Count(), 2u);
  EXPECT_EQ(read.source.fadeTimeMs, 1500);
  EXPECT_EQ(read.source.fadeCurve, 4u);
  EXPECT_EQ(read.source.fadeOffset, 480);  // 48 x 10
  EXPECT_EQ(read.source.SyncType(), 2u);   // low five bits
  EXPECT_EQ(read.source.flags, 2u | SN::SnMusicRuleSource::kPlayPostExit);
  EXPECT_EQ(read.source.cueFilter, 8u);
  EXPECT_EQ(read.destination.fadeOffset, -480);
  EXPECT_EQ(read.destination.jumpToItem, 44u);
  EXPECT_EQ(read.destination.flags, 3u | SN::SnMusicRuleDestination::kPlayPreEntry);
  ASSERT_NE(read.segment, nullptr);
  EXPECT_EQ(read.segment->segmentId, 71u);
  EXPECT_EQ(read.segment->fadeIn.offset, 480);
  EXPECT_EQ(read.segment->fadeOut.offset, 960);
  EXPECT_EQ(read.segment->fadeOut.curve, 3u);
  EXPECT_EQ(read.segment->flags, SN::SnMusicTransitionSegment::kPlayPostExit);

  // At 22,050 Hz a millisecond is 22 whole samples.
  SN::LowerEngine::SetSampleRate(22050);
  const RuleNode* slow = Container(301, SN::kMusicCategoryPlaylist, {rule});
  SN::LowerEngine::SetSampleRate(48000);
  EXPECT_EQ(slow->Rule(0).source.fadeOffset, 220);

  // An offset past a sample count, and a rule count the bytes cannot hold, fail the read.
  Tools::BankMusicRule far = rule;
  far.fadeOut.offsetMs = 0x7FFFFFFF;
  for (const auto& rules : {std::vector<Tools::BankMusicRule>{far}}) {
    Tools::BankMusicNode block;
    std::vector<uint8_t> bytes;
    Tools::PutMusicNode(bytes, 302, block, false);
    const size_t countAt = bytes.size();
    Tools::PutMusicRules(bytes, rules);
    RuleNode node(302, SN::kMusicCategoryPlaylist);
    EXPECT_EQ(node.Read(bytes), SN::SN_Failure);
    const uint32_t many = 0x10000000u;
    memcpy(bytes.data() + countAt, &many, sizeof many);
    RuleNode counted(303, SN::kMusicCategoryPlaylist);
    EXPECT_EQ(counted.Read(bytes), SN::SN_Failure);
    EXPECT_EQ(counted.RuleCount(), 0u);
  }
  EXPECT_TRUE(Logged("transition rules cannot fit"));
}

TEST_F(MusicRulesTest, TheLastMatchingRuleWinsThroughAncestorsBelowTheOwner) {
  ASSERT_EQ(LoadBank({SegmentObject(MusicTest::Segment120(10)), SegmentObject(MusicTest::Segment120(11)),
                      SegmentObject(MusicTest::Segment120(12))}),
            SN::SN_Success);
  // 600 (switch) holds 500 (playlist, segments 10 and 11) and 510 (switch, segment 12).
  RuleNode* playlist = Container(500, SN::kMusicCategoryPlaylist, {}, {10, 11});
  RuleNode* inner = Container(510, SN::kMusicCategorySwitch, {}, {12});
  const RuleNode* owner =
      Container(600, SN::kMusicCategorySwitch,
                {Rule({kMusicAnyId}, {kMusicAnyId}, 7), Rule({10}, {11}, 2), Rule({500}, {510}, 3),
                 Rule({11}, {500}, 4), Rule({12, 10}, {11}, 5), Rule({}, {12}, 6), Rule({600}, {12}, 1)},
                {500, 510});
  const SN::CSnHierarchyNode* s10 = Find(10);
  const SN::CSnHierarchyNode* s11 = Find(11);
  const SN::CSnHierarchyNode* s12 = Find(12);
  ASSERT_EQ(s10->Parent(), playlist);
  ASSERT_EQ(s12->Parent(), inner);
  bool throughPlaylist = true;
  // The general rule first in the bank, a specific one later.
  EXPECT_EQ(owner->GetTransitionRule(owner, 10, s10, 11, s11, throughPlaylist)->index, 1u);
  EXPECT_FALSE(throughPlaylist);
  // 11 to 12 through the ancestors 500 and 510; 510 is no playlist.
  EXPECT_EQ(owner->GetTransitionRule(owner, 11, s11, 12, s12, throughPlaylist)->index, 2u);
  EXPECT_FALSE(throughPlaylist);
  // 11 to 10: the destination listed through the playlist 500.
  EXPECT_EQ(owner->GetTransitionRule(owner, 11, s11, 10, s10, throughPlaylist)->index, 3u);
  EXPECT_TRUE(throughPlaylist);
  // The owner 600 is never walked, and an empty source list never matches: rule 0.
  EXPECT_EQ(owner->GetTransitionRule(owner, 12, s12, 12, s12, throughPlaylist)->index, 0u);
  EXPECT_FALSE(throughPlaylist);
  // The ids {12, 10} are out of order: bisection misses 10, and the earlier rule 1 answers.
  EXPECT_EQ(owner->FindRuleByIds(10, 11)->index, 1u);
  EXPECT_EQ(owner->FindRuleByIds(11, 500)->index, 3u);
  EXPECT_EQ(owner->FindRuleByIds(10, 500)->index, 0u);
  // No rules: null, and callers take the default rule.
  EXPECT_EQ(playlist->GetTransitionRule(playlist, 10, s10, 11, s11, throughPlaylist), nullptr);
  EXPECT_EQ(inner->FindRuleByIds(1, 2), nullptr);
  const SN::SnMusicTransitionRule& fallback = CSnMusicTransitionAwareNode::GetDefaultRule();
  EXPECT_EQ(fallback.sources[0], kMusicAnyId);
  EXPECT_EQ(fallback.destinations[0], kMusicAnyId);
  EXPECT_EQ(fallback.source.SyncType(), uint32_t(SN::SnMusicSync_ExitCue));
  EXPECT_TRUE(fallback.source.flags & SN::SnMusicRuleSource::kPlayPostExit);
  EXPECT_EQ(fallback.segment, nullptr);
  // One rule of any to any answers every pair.
  const RuleNode* any = Container(700, SN::kMusicCategoryPlaylist, {Rule({kMusicAnyId}, {kMusicAnyId})});
  EXPECT_EQ(any->GetTransitionRule(any, 10, s10, 12, s12, throughPlaylist), &any->Rule(0));
  EXPECT_EQ(any->FindRuleByIds(99, 98), &any->Rule(0));
}

TEST_F(MusicRulesTest, AFailingTransitionSegmentUndoesThoseBeforeItAndTheStingers) {
  std::vector<MusicTest::CountingSegment*> segments;
  for (uint32_t id : {81u, 82u, 83u}) segments.push_back(Counting(id));
  auto withSegment = [](uint32_t segmentId) {
    Tools::BankMusicRule rule = Rule({kMusicAnyId}, {kMusicAnyId});
    rule.hasSegment = true;
    rule.segmentId = segmentId;
    return rule;
  };
  RuleNode* good = Container(400, SN::kMusicCategoryPlaylist, {withSegment(81), Rule({1}, {2}), withSegment(82)});
  EXPECT_EQ(good->PrepareData(), SN::SN_Success);
  EXPECT_EQ(segments[0]->prepared + segments[1]->prepared, 2);
  good->UnprepareData();
  EXPECT_EQ(segments[0]->prepared + segments[1]->prepared, 0);

  // The third rule names a segment no bank holds.
  RuleNode* bad = Container(401, SN::kMusicCategoryPlaylist, {withSegment(81), withSegment(82), withSegment(99)});
  EXPECT_EQ(bad->PrepareData(), SN::SN_Failure);
  for (const MusicTest::CountingSegment* segment : segments) EXPECT_EQ(segment->prepared, 0);
}

}  // namespace
