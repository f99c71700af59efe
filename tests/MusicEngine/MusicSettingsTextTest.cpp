// The music words of the bank text read back through the engine's own music nodes: stingers, a
// node's own meter and grid, a playlist group's loop offsets and a switch that restarts its path; and
// the values the builder refuses, each naming its line.
#include <string>

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicSegment.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using BankTest::Id;

using MusicSettingsTextTest = MusicTest::MusicFixture;

constexpr const char* kSegments =
    "tone Hum 48000 1 250 110\nmusictrack T Hum\nsegment S 120 4 4 1000 0 1000 track:T grid:500:250\n"
    "segment Hit 120 4 4 1000 0 1000\n";

TEST_F(MusicSettingsTextTest, StingersMetersAndGridsAreTheNodesOwn) {
  ASSERT_EQ(LoadText(std::string(kSegments) +
                     "playlist P 0 meter:90:3:4 grid:1000:0 stinger:Boom:Hit:2 stinger:Cue:Hit:5:Drop S\n"
                     "musicswitch W Mood stinger:Boom:Hit:7 restart default:P\n"
                     "musicswitch Plain Mood default:Hit\n"),
            SN::SN_Success)
      << log_.Take();
  const uint32_t rate = SN::MusicSampleRate();
  auto* segment = Find<SN::CSnMusicHierarchyNode>(Id("S"));
  auto* playlist = Find<SN::CSnMusicHierarchyNode>(Id("P"));
  auto* music = Find<SN::CSnMusicSwitchContainer>(Id("W"));
  ASSERT_NE(segment, nullptr);
  ASSERT_NE(playlist, nullptr);
  ASSERT_NE(music, nullptr);
  // 120 bpm in 4/4 with a grid of half a second from a quarter of a second.
  EXPECT_EQ(segment->GetMeter().gridPeriod, rate / 2);
  EXPECT_EQ(segment->GetMeter().gridOffset, rate / 4);
  // The playlist's own meter: 90 bpm in 3/4, a beat of two thirds of a second, a grid of one second.
  EXPECT_EQ(playlist->GetMeter().tempo, 90.0f);
  EXPECT_EQ(playlist->GetMeter().beat, rate * 2 / 3);
  EXPECT_EQ(playlist->GetMeter().bar, rate * 2);
  EXPECT_EQ(playlist->GetMeter().gridPeriod, rate);
  const SN::SnMusicStinger* boom = playlist->FindStinger(Id("Boom"));
  ASSERT_NE(boom, nullptr);
  EXPECT_EQ(boom->segmentId, Id("Hit"));
  EXPECT_EQ(boom->syncType, SN::SnMusicSync_NextBar);
  const SN::SnMusicStinger* cue = playlist->FindStinger(Id("Cue"));
  ASSERT_NE(cue, nullptr);
  EXPECT_EQ(cue->syncType, SN::SnMusicSync_NextUserCue);
  EXPECT_EQ(cue->cueFilter, Id("Drop"));
  EXPECT_EQ(music->FindStinger(Id("Boom"))->syncType, SN::SnMusicSync_ExitCue);
  EXPECT_FALSE(music->ContinuePlaying());
  ASSERT_NE(Find<SN::CSnMusicSwitchContainer>(Id("Plain")), nullptr);
  EXPECT_TRUE(Find<SN::CSnMusicSwitchContainer>(Id("Plain"))->ContinuePlaying());
}

TEST_F(MusicSettingsTextTest, APlaylistGroupCarriesItsLoopOffsets) {
  ASSERT_EQ(LoadText(std::string(kSegments) +
                     "playlist P 0 loop:3 looprange:-32768:32767 { 1 loop:2 looprange:-1:2 S Hit }\n"),
            SN::SN_Success)
      << log_.Take();
  auto* playlist = Find<SN::CSnMusicPlaylistContainer>(Id("P"));
  ASSERT_NE(playlist, nullptr);
  const SN::CSnMusicPlaylistGroup& root = playlist->Playlist();
  EXPECT_EQ(root.loopMinOffset, -32768);
  EXPECT_EQ(root.loopMaxOffset, 32767);
  ASSERT_EQ(root.ChildCount(), 1u);
  EXPECT_EQ(root.Child(0)->loopMinOffset, -1);
  EXPECT_EQ(root.Child(0)->loopMaxOffset, 2);
}

// The settings every node takes, on music nodes as on the others.
TEST_F(MusicSettingsTextTest, MusicNodesTakeTheSettingsOfEveryNode) {
  ASSERT_EQ(LoadText(std::string(kSegments) +
                     "playlist P 0 priority 70 maxvoices 2 global S\n"
                     "musicswitch W Mood distanceoffset -20 property 33 -3 default:Hit\n"),
            SN::SN_Success)
      << log_.Take();
  auto* segment = Find<SN::CSnMusicHierarchyNode>(Id("S"));
  auto* music = Find<SN::CSnMusicHierarchyNode>(Id("W"));
  ASSERT_NE(segment, nullptr);
  ASSERT_NE(music, nullptr);
  float priority = 0.0f, offset = 0.0f;
  segment->GetPriority(SN::SnRTPCKey{}, priority, offset);
  EXPECT_EQ(priority, 70.0f);
  EXPECT_EQ(Find<SN::CSnMusicHierarchyNode>(Id("P"))->MaxInstances(), 2);
  music->GetPriority(SN::SnRTPCKey{}, priority, offset);
  EXPECT_EQ(priority, 50.0f);
  EXPECT_EQ(offset, -20.0f);
  EXPECT_EQ(music->FloatProperty(33), -3.0f);
}

TEST_F(MusicSettingsTextTest, ValuesPastTheirRangesAreRefusedWithTheirLine) {
  const std::string head = kSegments;  // four lines
  ExpectRefused(head, {
      {"playlist P 0 stinger:Boom:Hit:8 S", "line 5: a sync type is 0 to 7"},
      {"playlist P 0 stinger:Boom:Gone:2 S",
       "line 5: \"Gone\" is not a music object of the right kind described on an earlier line"},
      {"playlist P 0 stinger:Boom:Hit S",
       "line 5: \"stinger:Boom:Hit\" is not stinger:<trigger>:<segment>:<sync 0-7>[:<cue>]"},
      {"playlist P 0 stinger:Boom:Hit:1 stinger:Boom:S:1 S", "line 5: trigger \"Boom\" has two stingers"},
      {"playlist P 0 grid:100:0 S", "line 5: a grid is part of a meter: give meter: first"},
      {"playlist P 0 meter:0:4:4 S",
       "line 5: a meter's tempo is above 0, its bar within the engine's counts, and its time signature two numbers "
       "of 1 to 255"},
      {"playlist P 0 meter:120:256:4 S",
       "line 5: a meter's tempo is above 0, its bar within the engine's counts, and its time signature two numbers "
       "of 1 to 255"},
      {"playlist P 0 looprange:-32769:0 S",
       "line 5: a loop range is two offsets of -32768 to 32767, the lower first"},
      {"playlist P 0 loop:2 looprange:2:1 S",
       "line 5: a loop range is two offsets of -32768 to 32767, the lower first"},
      {"playlist P 0 looprange:0:1 S", "line 5: an endless loop (loop:0) has no loop range"},
      {"segment X 120 4 4 1000 0 1000 priority 101", "line 5: \"101\" is outside the priorities of 0 to 100"},
      {"playlist P 0 maxvoices 1024 S", "line 5: \"1024\" is not a voice limit of 1 to 1023"},
      {"musicswitch W Mood meter:120:4 default:S",
       "line 5: \"meter:120:4\" is not meter:<bpm>:<beats per bar>:<beat value>"},
  });
}

}  // namespace
