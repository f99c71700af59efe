// Music tracks read from the bank writer's banks by the real bank manager: clips in samples worked
// out by hand, automation that follows its clip, sub-track choice, streaming look-ahead, switch data,
// and a track read again by a second bank.
#include <cmath>

#include "MusicEngine/MusicTrack.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using SN::CSnMusicTrackNode;
using Tools::BankMusicClip;
using Tools::BankMusicSource;

BankMusicSource Media(uint32_t id, uint8_t kind = 0, uint8_t flags = 0, uint32_t codec = 0x00010000) {
  BankMusicSource source;
  source.codecId = codec;
  source.kind = kind;
  source.sourceId = id;
  source.sizeOrFileId = 4096;
  source.flags = flags;
  return source;
}

BankMusicSource Plugin(uint32_t id) {
  BankMusicSource source = Media(id, 2, 0, 0x00650002);
  source.pluginParameters = {1, 2, 3};
  return source;
}

class MusicTrackTest : public MusicTest::MusicFixture {
 protected:
  SN::SNRESULT LoadTrack(const Tools::BankMusicTrack& track, uint32_t bankId = 0) {
    return LoadBank({{Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)}}, bankId);
  }
};

TEST_F(MusicTrackTest, ClipsBecomeSamplesAndAutomationFollowsItsBankClip) {
  Tools::BankMusicTrack track;
  track.id = 50;
  track.sources = {Media(1)};
  track.clips = {
      {0, 1, 1000.0, 250.0, -250.0, 2000.0},  // 60,000 for 72,000 samples, from 12,000 into the source
      {0, 1, 0.0, 0.0, -2000.0, 2000.0},      // no length: dropped
      {1, 1, 0.0, 2500.0, 1000.0, 2000.0},    // trimmed past its source: 120,000 mod 96,000
      {0, 1, 0.0, 0.0, 500.0, 0.0},           // a source of no length: dropped
      {0, 1, 100.0, -100.0, 0.0, 2000.0},     // a negative trim wraps to 91,200
  };
  track.subTrackCount = 2;
  track.automation = {
      {0, 1, {{0.5f, 0.25f, 4}, {1.0f, 1.0f, 4}}},
      {1, 2, {{0.0f, 1.0f, 4}}},  // on a dropped clip
      {2, 3, {{0.25f, 0.5f, 4}}},  // on the clip now stored second
      {9, 4, {{0.0f, 0.0f, 4}}},   // past the clips
      {4, 0, {}},                  // no points
  };
  ASSERT_EQ(LoadTrack(track), SN::SN_Success);
  const auto* loaded = Find<CSnMusicTrackNode>(50);
  ASSERT_NE(loaded, nullptr);
  ASSERT_EQ(loaded->ClipCount(), 3u);
  const SN::SnMusicTrackClip& a = loaded->Clip(0);
  EXPECT_EQ(a.begin, 60000);
  EXPECT_EQ(a.length, 72000u);
  EXPECT_EQ(a.sourceDuration, 96000);
  EXPECT_EQ(a.sourceOffset, 12000);
  EXPECT_EQ(loaded->Clip(1).sourceOffset, 24000);
  EXPECT_EQ(loaded->Clip(1).subTrack, 1u);
  EXPECT_EQ(loaded->Clip(2).begin, 0);
  EXPECT_EQ(loaded->Clip(2).sourceOffset, 91200);
  ASSERT_EQ(loaded->AutomationCount(), 2u);
  EXPECT_EQ(loaded->Automation(0).clipIndex, 0u);
  EXPECT_EQ(loaded->Automation(0).points[0].time, 24000.0f);
  EXPECT_EQ(loaded->Automation(0).points[1].time, 48000.0f);
  EXPECT_EQ(loaded->Automation(1).clipIndex, 1u);
  EXPECT_EQ(loaded->Automation(1).type, 3u);
  EXPECT_EQ(loaded->Automation(1).points[0].time, 12000.0f);
  EXPECT_EQ(loaded->SubTrackCount(), 2u);
}

TEST_F(MusicTrackTest, SubTracksLookAheadAndSwitchAssociations) {
  Tools::BankMusicTrack track;
  track.id = 51;
  // A prefetched streamed source, a streamed one, bank media and a MIDI source.
  track.sources = {Media(1, 1, 2), Media(2, 1, 0), Media(3), Media(4, 1, 0, 0x00100000)};
  track.clips = {{0, 1, 1000.0, 0.0, 0.0, 1000.0}, {0, 2, 1000.0, 0.0, 0.0, 1000.0}, {0, 3, 0.0, 0.0, 0.0, 500.0}};
  track.type = SN::SnMusicTrack_Switch;
  track.subTrackCount = 3;
  track.groupType = 1;
  track.groupId = 77;
  track.defaultSwitch = 5;
  track.switchIds = {5, 6};
  track.transition[2] = uint32_t(-10);  // fade-out offset, signed ms
  track.transition[3] = 0xE2;           // sync type: low five bits
  track.transition[7] = 10;
  track.lookAheadMs = 100;
  ASSERT_EQ(LoadTrack(track), SN::SN_Success);
  auto* loaded = Find<CSnMusicTrackNode>(51);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->LookAhead(), 4800);
  EXPECT_EQ(loaded->FindSource(1)->lookAhead, 4800u);
  EXPECT_EQ(loaded->FindSource(4)->lookAhead, 0u);
  EXPECT_EQ(loaded->FindSource(9), nullptr);
  // The prefetched clip ahead of the position, from its start, needs nothing; under way, all of it.
  // The other streamed clip needs what is left of its look-ahead: 4,800 - 2,000.
  EXPECT_EQ(loaded->GetMaxLookAhead(46000), 2800);
  EXPECT_EQ(loaded->GetMaxLookAhead(0), 0);
  EXPECT_EQ(loaded->GetMaxLookAhead(50000), 4800);

  const SN::SnMusicTrackSwitchParams* params = loaded->SwitchParams();
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->groupId, 77u);
  EXPECT_EQ(params->fadeOutOffset, -480);
  EXPECT_EQ(params->fadeInOffset, 480);
  EXPECT_EQ(params->syncType, 2u);
  EXPECT_EQ(loaded->SwitchOfSubTrack(1), 6u);
  // The bank gave the third sub-track no switch: it matches none.
  EXPECT_EQ(loaded->SwitchOfSubTrack(2), CSnMusicTrackNode::kNoSwitch);
  EXPECT_EQ(loaded->SelectSubTrack(), 0u);

  Tools::BankMusicTrack sequence;
  sequence.id = 52;
  sequence.type = SN::SnMusicTrack_Sequence;
  sequence.subTrackCount = 3;
  ASSERT_EQ(LoadTrack(sequence), SN::SN_Success);
  auto* cycling = Find<CSnMusicTrackNode>(52);
  for (uint16_t expected : {0, 1, 2, 0, 1}) EXPECT_EQ(cycling->SelectSubTrack(), expected);
  Tools::BankMusicTrack random;
  random.id = 53;
  random.type = SN::SnMusicTrack_Random;
  random.subTrackCount = 0;
  ASSERT_EQ(LoadTrack(random), SN::SN_Success);
  EXPECT_EQ(Find<CSnMusicTrackNode>(53)->SelectSubTrack(), 0u);
}

TEST_F(MusicTrackTest, ATrackWithoutBankMediaIsReadAgainAndPlayingClipsStay) {
  Tools::BankMusicTrack first;
  first.id = 60;
  first.sources = {Plugin(1)};
  first.clips = {{0, 1, 0.0, 0.0, 0.0, 1000.0}};
  ASSERT_EQ(LoadTrack(first, 5001), SN::SN_Success);
  auto* track = Find<CSnMusicTrackNode>(60);
  ASSERT_NE(track, nullptr);
  EXPECT_FALSE(track->HasProvidedMedia());

  Tools::BankMusicTrack second = first;
  second.sources = {Plugin(2), Media(3)};
  second.clips = {{0, 3, 0.0, 0.0, 0.0, 500.0}, {0, 2, 0.0, 0.0, 0.0, 250.0}};
  second.lookAheadMs = 999;  // not read again
  ASSERT_EQ(LoadTrack(second, 5002), SN::SN_Success);
  EXPECT_EQ(Find<CSnMusicTrackNode>(60), track);
  EXPECT_EQ(track->SourceCount(), 3u);
  ASSERT_EQ(track->ClipCount(), 2u);
  EXPECT_EQ(track->Clip(0).length, 24000u);
  EXPECT_EQ(track->LookAhead(), 0);
  EXPECT_TRUE(track->HasProvidedMedia());

  // With bank media it is not read again.
  Tools::BankMusicTrack third = first;
  third.sources = {Media(4)};
  ASSERT_EQ(LoadTrack(third, 5003), SN::SN_Success);
  EXPECT_EQ(track->FindSource(4), nullptr);
  EXPECT_EQ(track->RefCount(), 3u);

  // Read again while a context plays it: sources it lacks join, its clips stay.
  Tools::BankMusicTrack playing;
  playing.id = 61;
  playing.sources = {Plugin(1)};
  playing.clips = {{0, 1, 0.0, 0.0, 0.0, 1000.0}};
  ASSERT_EQ(LoadTrack(playing, 5004), SN::SN_Success);
  auto* held = Find<CSnMusicTrackNode>(61);
  held->AddContext();
  const SN::SnMusicTrackClip* clips = &held->Clip(0);
  playing.sources = {Plugin(5)};
  playing.clips = {{0, 5, 0.0, 0.0, 0.0, 300.0}, {0, 5, 0.0, 0.0, 0.0, 300.0}};
  ASSERT_EQ(LoadTrack(playing, 5005), SN::SN_Success);
  EXPECT_NE(held->FindSource(5), nullptr);
  ASSERT_EQ(held->ClipCount(), 1u);
  EXPECT_EQ(&held->Clip(0), clips);
  EXPECT_EQ(held->Clip(0).length, 48000u);
  held->RemoveContext();
}

TEST_F(MusicTrackTest, DamagedTracksFailTheLoadAndSegmentsTakeOnlyTracks) {
  struct Case {
    const char* what;
    void (*damage)(Tools::BankMusicTrack&);
  };
  const Case cases[] = {
      {"play-at NaN", [](Tools::BankMusicTrack& t) { t.clips[0].playAtMs = std::nan(""); }},
      {"play-at huge", [](Tools::BankMusicTrack& t) { t.clips[0].playAtMs = 1e13; }},
      {"source kind unknown", [](Tools::BankMusicTrack& t) { t.sources[0].kind = 7; }},
      {"automation at no time",
       [](Tools::BankMusicTrack& t) { t.automation = {{0, 0, {{INFINITY, 0.0f, 0}}}}; }},
      {"track type unknown", [](Tools::BankMusicTrack& t) { t.type = 9; }},
      {"switch offset huge",
       [](Tools::BankMusicTrack& t) {
         t.type = 3;
         t.transition[2] = 0x7FFFFFFF;
       }},
  };
  for (const Case& c : cases) {
    Tools::BankMusicTrack track;
    track.id = 70;
    track.sources = {Media(1)};
    track.clips = {{0, 1, 0.0, 0.0, 0.0, 1000.0}};
    c.damage(track);
    EXPECT_EQ(LoadTrack(track), SN::SN_Failure) << c.what;
    EXPECT_EQ(Find(70), nullptr) << c.what;
  }
  // Counts past the bytes: sources, clips.
  Tools::BankMusicTrack plain;
  plain.id = 71;
  std::vector<uint8_t> bytes = Tools::MusicTrackPayload(plain, false);
  const uint32_t huge = 0x10000000u;
  for (size_t at : {size_t(5), size_t(9)}) {
    std::vector<uint8_t> counted = bytes;
    memcpy(counted.data() + at, &huge, sizeof huge);
    EXPECT_EQ(LoadBank({{Tools::kBankMusicTrackType, counted}}), SN::SN_Failure) << at;
  }
  EXPECT_TRUE(Logged("sources cannot fit"));
  EXPECT_TRUE(Logged("clips cannot fit"));
  EXPECT_EQ(Find(71), nullptr);

  // A segment takes tracks; a segment below a segment is refused with SN_WrongChildKind.
  Tools::BankMusicTrack child;
  child.id = 72;
  ASSERT_EQ(LoadTrack(child), SN::SN_Success);
  Tools::BankMusicSegment segment = MusicTest::Segment120(73);
  segment.node.children = {72};
  ASSERT_EQ(LoadBank({SegmentObject(segment)}), SN::SN_Success);
  EXPECT_EQ(Find(72)->Parent(), Find(73));
  Tools::BankMusicSegment nested = MusicTest::Segment120(74);
  nested.node.children = {73};
  EXPECT_EQ(LoadBank({SegmentObject(nested)}), SN::SN_WrongChildKind);
  EXPECT_TRUE(Logged("child 73 is turned away (4)"));
}

}  // namespace
