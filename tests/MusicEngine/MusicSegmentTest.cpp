// Music segments loaded from banks by the real bank manager: the timing questions in exact samples
// against values worked out by hand, the meter and stingers a segment inherits, and the loads a
// damaged segment fails.
#include <cmath>
#include <limits>

#include "MusicEngine/MusicTransitionNode.h"
#include "SoundEngine/PoolObject.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using MusicTest::Segment120;
using SN::CSnMusicSegmentNode;

class MusicSegmentTest : public MusicTest::MusicFixture {
 protected:
  const CSnMusicSegmentNode* LoadSegment120() {
    EXPECT_EQ(LoadBank({SegmentObject(Segment120(10))}), SN::SN_Success);
    return Find<CSnMusicSegmentNode>(10);
  }
  static int32_t Sync(const CSnMusicSegmentNode& segment, int32_t position, uint32_t type, bool exclusive = false,
                      uint32_t* cue = nullptr, uint32_t filter = 0) {
    uint32_t cueId = 0xDEAD;
    int32_t at = -1;
    if (segment.FindSyncPoint(position, type, filter, exclusive, cueId, at) != SN::SN_Success) return -2;
    if (cue) *cue = cueId;
    return at;
  }
};

// A container of the tests that takes segments: gives a segment a parent with its own meter.
class MeterParent : public SN::CSnMusicTransitionAwareNode {
 public:
  explicit MeterParent(uint32_t id) : CSnMusicTransitionAwareNode(id) {}
  uint32_t NodeCategory() const override { return SN::kMusicCategoryPlaylist; }
  SN::SNRESULT Read(const std::vector<uint8_t>& bytes) {
    SN::SnMusicReader in(ID(), bytes.data(), uint32_t(bytes.size()));
    return ReadTransitionParams(in);
  }

 protected:
  bool TakesChildCategory(uint32_t category) const override { return category == SN::kMusicCategorySegment; }
};

TEST_F(MusicSegmentTest, A120BpmSegmentAnswersEverySyncTypeInSamples) {
  const CSnMusicSegmentNode* segment = LoadSegment120();
  ASSERT_NE(segment, nullptr);
  EXPECT_EQ(segment->GetPreEntryDuration(), 24000);
  EXPECT_EQ(segment->GetActiveDuration(), 384000);
  EXPECT_EQ(segment->GetPostExitDuration(), 24000);
  EXPECT_EQ(segment->GetMeter().beat, 24000u);
  EXPECT_EQ(segment->GetMeter().bar, 96000u);
  EXPECT_EQ(segment->GetMeter().gridPeriod, 12000u);
  EXPECT_EQ(segment->GetMeter().gridOffset, 4800u);
  EXPECT_STREQ(segment->Marker(1).name, "Chorus");
  EXPECT_EQ(segment->Marker(2).name, nullptr);

  uint32_t cue = 0;
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_Immediate), 47680);
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_NextBeat), 48000);
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_NextBar), 96000);
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_NextGrid), 52800);
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_NextCue, false, &cue), 156000);
  EXPECT_EQ(cue, 77u);
  EXPECT_EQ(Sync(*segment, 47680, SN::SnMusicSync_NextUserCue, false, &cue), 156000);
  EXPECT_EQ(cue, 77u);
  // On a bar: that bar, or the next one when the search is exclusive.
  EXPECT_EQ(Sync(*segment, 96000, SN::SnMusicSync_NextBar), 96000);
  EXPECT_EQ(Sync(*segment, 96000, SN::SnMusicSync_NextBar, true), 192000);
  EXPECT_EQ(Sync(*segment, 384000, SN::SnMusicSync_NextBar), 384000);
  // Later than the exit cue, or asked from past it.
  EXPECT_EQ(Sync(*segment, 384000, SN::SnMusicSync_NextBar, true), -2);
  EXPECT_EQ(Sync(*segment, 384001, SN::SnMusicSync_Immediate), -2);
  EXPECT_EQ(Sync(*segment, 384001, SN::SnMusicSync_ExitCue), -2);
  EXPECT_EQ(Sync(*segment, 0, SN::SnMusicSync_Count), -2);
  // The entry cue only from 0, not exclusively.
  EXPECT_EQ(Sync(*segment, 0, SN::SnMusicSync_EntryCue, false, &cue), 0);
  EXPECT_EQ(cue, 1u);
  EXPECT_EQ(Sync(*segment, 1, SN::SnMusicSync_EntryCue), -2);
  EXPECT_EQ(Sync(*segment, 0, SN::SnMusicSync_EntryCue, true), -2);
  EXPECT_EQ(Sync(*segment, 1000, SN::SnMusicSync_ExitCue, false, &cue), 384000);
  EXPECT_EQ(cue, 2u);
  // Past the last user cue the next cue is the exit cue; there is no next user cue.
  EXPECT_EQ(Sync(*segment, 200000, SN::SnMusicSync_NextCue, false, &cue), 384000);
  EXPECT_EQ(cue, 2u);
  EXPECT_EQ(Sync(*segment, 200000, SN::SnMusicSync_NextUserCue), -2);
  // A cue filter naming no marker leaves the exit cue.
  EXPECT_EQ(Sync(*segment, 0, SN::SnMusicSync_NextCue, false, &cue, 999), 384000);

  uint32_t bars = 0, beats = 0, grids = 0;
  segment->CountMusicalEvents(0, 384000, bars, beats, grids);
  EXPECT_EQ(bars, 4u);
  EXPECT_EQ(beats, 16u);
  EXPECT_EQ(grids, 32u);
  // Clipped at both ends: [-1000, 48000) is [0, 47000): the bar and beat at 0, grid points at 4,800,
  // 16,800, 28,800 and 40,800.
  segment->CountMusicalEvents(-1000, 48000, bars, beats, grids);
  EXPECT_EQ(bars, 1u);
  EXPECT_EQ(beats, 2u);
  EXPECT_EQ(grids, 4u);
  // [370,000, 384,000) after clipping: no bar or beat (360,000 and 384,000 lie outside), the grid
  // point 4,800 + 31 x 12,000 = 376,800.
  segment->CountMusicalEvents(370000, 100000, bars, beats, grids);
  EXPECT_EQ(bars, 0u);
  EXPECT_EQ(beats, 0u);
  EXPECT_EQ(grids, 1u);
  segment->CountMusicalEvents(384000, 10, bars, beats, grids);
  EXPECT_EQ(bars + beats + grids, 0u);
  segment->CountMusicalEvents(-20, 10, bars, beats, grids);
  EXPECT_EQ(bars + beats + grids, 0u);
}

TEST_F(MusicSegmentTest, MarkersSnapAndRandomCuesFallBackToTheEntryCue) {
  const CSnMusicSegmentNode* segment = LoadSegment120();
  ASSERT_NE(segment, nullptr);
  EXPECT_EQ(segment->SnapToNearestMarker(50000), 0);
  EXPECT_EQ(segment->SnapToNearestMarker(150000), 156000);
  // The exit cue is never a snap target; equal distances keep the first marker.
  EXPECT_EQ(segment->SnapToNearestMarker(383000), 156000);
  EXPECT_EQ(segment->SnapToNearestMarker(78000), 0);

  uint32_t cue = 0;
  EXPECT_EQ(segment->PickRandomCue(1000, 555, false, cue), 0);
  EXPECT_EQ(cue, 1u);
  // Past the last user cue only that cue is left.
  EXPECT_EQ(segment->PickRandomCue(200000, 0, false, cue), 156000);
  EXPECT_EQ(cue, 77u);
  EXPECT_EQ(segment->PickRandomCue(100, 77, true, cue), 156000);

  SN::SnMusicRuleDestination rule;
  rule.flags = SN::SnMusicRuleDestination::kEntryCue;
  cue = 0;
  EXPECT_EQ(segment->ResolveDestinationCue(rule, 0, 0, cue), 0);
  EXPECT_EQ(cue, 1u);
  rule.flags = SN::SnMusicRuleDestination::kSameTime;
  EXPECT_EQ(segment->ResolveDestinationCue(rule, 5000, 0, cue), 5000);
  // Matching the source's cue name: the source's cue is the filter.
  rule.flags = SN::SnMusicRuleDestination::kRandomCueNotEntry | SN::SnMusicRuleDestination::kMatchSourceCueName;
  rule.cueFilter = 555;
  EXPECT_EQ(segment->ResolveDestinationCue(rule, 100, 77, cue), 156000);
  EXPECT_EQ(cue, 77u);
}

TEST_F(MusicSegmentTest, ASegmentTakesTheMeterAndStingersOfItsNearestAncestors) {
  Tools::BankMusicSegment child = Segment120(10);
  child.node.overridesMeter = 0;
  child.node.stingers = {{5, 200, SN::SnMusicSync_NextBar, 0, 0, 0}};
  ASSERT_EQ(LoadBank({SegmentObject(child)}), SN::SN_Success);
  auto* segment = Find<CSnMusicSegmentNode>(10);
  ASSERT_NE(segment, nullptr);

  // 90 bpm in 3/8: a beat of (4/8)(60/90) 48,000 = 16,000 samples, a bar of 48,000.
  Tools::BankMusicNode meter = MusicTest::Meter120();
  meter.tempo = 90.0f;
  meter.beatsPerBar = 3;
  meter.beatValue = 8;
  meter.children = {10};
  meter.stingers = {{5, 100, 0, 0, 0, 0}, {6, 101, 0, 0, 0, 0}};
  std::vector<uint8_t> bytes;
  Tools::PutMusicNode(bytes, 500, meter, false);
  Tools::PutMusicRules(bytes, {});
  auto* parent = SN::PoolNew<MeterParent>(SN::g_DefaultPoolId, 500u);
  ASSERT_NE(parent, nullptr);
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    ASSERT_EQ(parent->Read(bytes), SN::SN_Success);
  }
  ASSERT_EQ(segment->Parent(), parent);
  EXPECT_EQ(segment->GetMeter().beat, 16000u);
  EXPECT_EQ(segment->GetMeter().bar, 48000u);
  uint32_t cue = 0;
  int32_t at = 0;
  ASSERT_EQ(segment->FindSyncPoint(47680, SN::SnMusicSync_NextBar, 0, false, cue, at), SN::SN_Success);
  EXPECT_EQ(at, 48000);

  // A trigger finds one stinger: the segment's own before its parent's, the parent's where it has none.
  const SN::SnMusicStinger* own = segment->FindStinger(5);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->segmentId, 200u);
  const SN::SnMusicStinger* inherited = segment->FindStinger(6);
  ASSERT_NE(inherited, nullptr);
  EXPECT_EQ(inherited->segmentId, 101u);
  EXPECT_EQ(segment->FindStinger(7), nullptr);
  // The segment holds the only other reference: it goes with the bank.
  parent->Release();
}

TEST_F(MusicSegmentTest, DamagedTimesMetersAndCountsFailTheLoadAndLeaveNothingIndexed) {
  struct Case {
    const char* what;
    void (*damage)(Tools::BankMusicSegment&);
  };
  const Case cases[] = {
      {"one marker", [](Tools::BankMusicSegment& s) { s.markers.resize(1); }},
      {"no markers", [](Tools::BankMusicSegment& s) { s.markers.clear(); }},
      {"markers out of order", [](Tools::BankMusicSegment& s) { s.markers[1].positionMs = 400.0; }},
      {"exit past the end", [](Tools::BankMusicSegment& s) { s.markers[2].positionMs = 9500.0; }},
      {"negative entry", [](Tools::BankMusicSegment& s) { s.markers[0].positionMs = -10.0; }},
      {"marker NaN", [](Tools::BankMusicSegment& s) { s.markers[1].positionMs = std::nan(""); }},
      {"huge duration", [](Tools::BankMusicSegment& s) { s.durationMs = 1e12; }},
      {"NaN duration", [](Tools::BankMusicSegment& s) { s.durationMs = std::nan(""); }},
      {"tempo 0", [](Tools::BankMusicSegment& s) { s.node.tempo = 0.0f; }},
      {"tempo negative", [](Tools::BankMusicSegment& s) { s.node.tempo = -120.0f; }},
      {"tempo NaN", [](Tools::BankMusicSegment& s) { s.node.tempo = std::nanf(""); }},
      {"tempo infinite", [](Tools::BankMusicSegment& s) { s.node.tempo = INFINITY; }},
      {"beat value 0", [](Tools::BankMusicSegment& s) { s.node.beatValue = 0; }},
      {"no beats per bar", [](Tools::BankMusicSegment& s) { s.node.beatsPerBar = 0; }},
      {"beat too long", [](Tools::BankMusicSegment& s) { s.node.tempo = 0.001f; }},
      {"bar too long", [](Tools::BankMusicSegment& s) { s.node.tempo = 0.2f, s.node.beatsPerBar = 255; }},
      {"grid too long", [](Tools::BankMusicSegment& s) { s.node.gridPeriodMs = 5e7; }},
      {"grid offset NaN", [](Tools::BankMusicSegment& s) { s.node.gridOffsetMs = std::nan(""); }},
  };
  for (const Case& c : cases) {
    Tools::BankMusicSegment segment = Segment120(10);
    c.damage(segment);
    EXPECT_EQ(LoadBank({SegmentObject(segment)}), SN::SN_Failure) << c.what;
    EXPECT_EQ(Find(10), nullptr) << c.what;
  }
  // A child no bank has loaded ends the child list with its own result.
  Tools::BankMusicSegment orphan = Segment120(10);
  orphan.node.children = {4242};
  EXPECT_NE(LoadBank({SegmentObject(orphan)}), SN::SN_Success);
  EXPECT_EQ(Find(10), nullptr);

  // Counts larger than the bytes left fail before anything is allocated for them.
  const std::vector<uint8_t> whole = Tools::MusicSegmentPayload(Segment120(10), false);
  const size_t markerCountAt = whole.size() - (4 + 8 + 4 + 5) - (4 + 8 + 4 + 6) - (4 + 8 + 4) - 4;
  std::vector<uint8_t> counted = whole;
  const uint32_t huge = 0x40000000u;
  memcpy(counted.data() + markerCountAt, &huge, sizeof huge);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicSegmentType, counted}}), SN::SN_Failure);
  EXPECT_TRUE(Logged("markers cannot fit"));
  Tools::BankMusicSegment stingers = Segment120(10);
  stingers.node.stingers = {{5, 0, 0, 0, 0, 0}};
  std::vector<uint8_t> stingerBytes = Tools::MusicSegmentPayload(stingers, false);
  const size_t stingerCountAt = whole.size() - (8 + 4) - (4 + 8 + 4 + 5) - (4 + 8 + 4 + 6) - (4 + 8 + 4) - 4;
  memcpy(stingerBytes.data() + stingerCountAt, &huge, sizeof huge);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicSegmentType, stingerBytes}}), SN::SN_Failure);
  EXPECT_TRUE(Logged("stingers cannot fit"));
  EXPECT_EQ(Find(10), nullptr);
  // Without the override flag a broken meter is never used, and the load succeeds.
  Tools::BankMusicSegment unused = Segment120(10);
  unused.node.overridesMeter = 0;
  unused.node.tempo = 0.0f;
  EXPECT_EQ(LoadBank({SegmentObject(unused)}), SN::SN_Success);
}

}  // namespace
