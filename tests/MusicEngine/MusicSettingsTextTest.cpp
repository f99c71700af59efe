// The music words of the bank text read back through the engine's own music nodes: stingers, a
// node's own meter and grid, a playlist group's loop offsets and a switch that restarts its path; and
// the values the builder refuses, each naming its line.
#include <string>

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicMidiClipContext.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/ObjectIndex.h"
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

// A playlist of four items (the group counted) and two segments of no parent yet.
constexpr const char* kRuleNodes =
    "playlist P 0 S Hit { 1 S }\nsegment A 120 4 4 1000 0 1000\nsegment Jingle 120 4 4 1000 0 1000\n";

// Every part of a transition rule: both fades with their curves and offsets, the cue the sync looks for
// and the one entered at, the playlist item jumped to, the kind of entry, the pre-entry and post-exit
// parts, the cue-name match and the transition segment's own fades and parts.
TEST_F(MusicSettingsTextTest, ARuleKeepsEveryPartOfItsTransition) {
  ASSERT_EQ(LoadText(std::string(kSegments) + kRuleNodes +
                     "musicswitch W Mood rule:A:P:5:Jingle:fadeout:200:9:-44739242:fadein:60000:0:44739242:sourcecue:Drop"
                     ":destcue:Rise:jump:4:entry:3:preentry:postexit:matchcue:segfadein:10:1:-5:segfadeout:20:2:5"
                     ":segpreentry:segpostexit rule:*:P:2:fade:25:50:jump:1 default:A Calm:P\n"),
            SN::SN_Success)
      << log_.Take();
  auto* music = Find<SN::CSnMusicSwitchContainer>(Id("W"));
  ASSERT_NE(music, nullptr);
  ASSERT_EQ(music->RuleCount(), 2u);
  const int32_t perMs = int32_t(SN::MusicSampleRate() / 1000);
  const SN::SnMusicTransitionRule& full = music->Rule(0);
  EXPECT_EQ(full.source.fadeTimeMs, 200);
  EXPECT_EQ(full.source.fadeCurve, 9u);
  EXPECT_EQ(full.source.fadeOffset, -44739242 * perMs);
  EXPECT_EQ(full.source.SyncType(), SN::SnMusicSync_NextUserCue);
  EXPECT_EQ(full.source.cueFilter, Id("Drop"));
  EXPECT_TRUE(full.source.flags & SN::SnMusicRuleSource::kPlayPostExit);
  EXPECT_EQ(full.destination.fadeTimeMs, 60000);
  EXPECT_EQ(full.destination.fadeCurve, 0u);
  EXPECT_EQ(full.destination.fadeOffset, 44739242 * perMs);
  EXPECT_EQ(full.destination.cueFilter, Id("Rise"));
  EXPECT_EQ(full.destination.jumpToItem, 4u);
  EXPECT_EQ(full.destination.flags, SN::SnMusicRuleDestination::kRandomCueNotEntry |
                                        SN::SnMusicRuleDestination::kPlayPreEntry |
                                        SN::SnMusicRuleDestination::kMatchSourceCueName);
  ASSERT_NE(full.segment, nullptr);
  EXPECT_EQ(full.segment->segmentId, Id("Jingle"));
  EXPECT_EQ(full.segment->fadeIn.timeMs, 10);
  EXPECT_EQ(full.segment->fadeIn.curve, 1u);
  EXPECT_EQ(full.segment->fadeIn.offset, -5 * perMs);
  EXPECT_EQ(full.segment->fadeOut.timeMs, 20);
  EXPECT_EQ(full.segment->fadeOut.curve, 2u);
  EXPECT_EQ(full.segment->fadeOut.offset, 5 * perMs);
  EXPECT_EQ(full.segment->flags,
            SN::SnMusicTransitionSegment::kPlayPreEntry | SN::SnMusicTransitionSegment::kPlayPostExit);
  // Straight fades and nothing else.
  const SN::SnMusicTransitionRule& plain = music->Rule(1);
  EXPECT_EQ(plain.source.fadeTimeMs, 25);
  EXPECT_EQ(plain.source.fadeCurve, 4u);
  EXPECT_EQ(plain.destination.fadeTimeMs, 50);
  EXPECT_EQ(plain.destination.jumpToItem, 1u);
  EXPECT_EQ(plain.source.flags, uint32_t(SN::SnMusicSync_NextBar));
  EXPECT_EQ(plain.destination.flags, 0u);
  EXPECT_EQ(plain.segment, nullptr);
}

TEST_F(MusicSettingsTextTest, RuleValuesPastTheirRangesAreRefusedWithTheirLine) {
  ExpectRefused(std::string(kSegments) + kRuleNodes, {  // seven lines
      {"musicswitch W Mood rule:S:P:8 default:S", "line 8: a sync type is 0 to 7"},
      {"musicswitch W Mood rule:S:P:0:jump:5 default:S", "line 8: playlist \"P\" has items 1 to 4"},
      {"musicswitch W Mood rule:S:P:0:jump:0 default:S", "line 8: playlist \"P\" has items 1 to 4"},
      {"musicswitch W Mood rule:S:Hit:0:jump:1 default:S", "line 8: a rule jumps only into a playlist it goes to"},
      {"musicswitch W Mood rule:S:P:0:entry:4 default:S",
       "line 8: an entry is 0 (entry cue) to 3 (a random cue but the entry)"},
      {"musicswitch W Mood rule:S:P:0:fadeout:60001:0:0 default:S", "line 8: a fade is 0 to 60000 ms"},
      {"musicswitch W Mood rule:S:P:0:fadein:0:10:0 default:S", "line 8: a curve's shape is 0 to 9"},
      {"musicswitch W Mood rule:S:P:0:fadein:0:0:44739243 default:S",
       "line 8: a fade's offset is -44739242 to 44739242 ms"},
      {"musicswitch W Mood rule:S:P:0:segfadein:0:0:0 default:S",
       "line 8: \"segfadein\" is a transition segment's: give the rule one"},
      {"musicswitch W Mood rule:S:P:0:segpostexit default:S",
       "line 8: \"segpostexit\" is a transition segment's: give the rule one"},
      {"musicswitch W Mood rule:S:P:0:fadeout:1:2 default:S",
       "line 8: \"rule:S:P:0:fadeout:1:2\" is not rule:<from>:<to>:<sync>[:<segment>][:<option>...]"},
  });
}

// A switch over a state group and a switch group: each path names a value of both, "default" the branch
// of any other value; the tree's mode is the switch's own.
TEST_F(MusicSettingsTextTest, AMusicSwitchFollowsSeveralGroups) {
  ASSERT_EQ(LoadText(std::string(kSegments) +
                     "segment A 120 4 4 1000 0 1000\nsegment B 120 4 4 1000 0 1000\n"
                     "musicswitch W Mood+switch:Surface treemode:255 Calm/Grass:S:100:0 Calm/default:Hit "
                     "default/default:A:0:100\n"
                     "musicswitch Plain Mood treemode:0 default:B\n"),
            SN::SN_Success)
      << log_.Take();
  auto* music = Find<SN::CSnMusicSwitchContainer>(Id("W"));
  ASSERT_NE(music, nullptr);
  ASSERT_EQ(music->ArgumentCount(), 2u);
  EXPECT_EQ(music->ArgumentGroup(0), Id("Mood"));
  EXPECT_EQ(music->ArgumentGroupType(0), 1u);
  EXPECT_EQ(music->ArgumentGroup(1), Id("Surface"));
  EXPECT_EQ(music->ArgumentGroupType(1), 0u);
  EXPECT_EQ(music->TreeMode(), 255u);
  const uint32_t calmGrass[] = {Id("Calm"), Id("Grass")}, calmStone[] = {Id("Calm"), Id("Stone")},
                 angryGrass[] = {Id("Angry"), Id("Grass")};
  EXPECT_EQ(music->ResolvePath(calmGrass, 2, true), Id("S"));
  EXPECT_EQ(music->ResolvePath(calmStone, 2, true), Id("Hit"));
  EXPECT_EQ(music->ResolvePath(angryGrass, 2, true), Id("A"));
  ASSERT_NE(Find<SN::CSnMusicSwitchContainer>(Id("Plain")), nullptr);
  EXPECT_EQ(Find<SN::CSnMusicSwitchContainer>(Id("Plain"))->TreeMode(), 0u);
}

TEST_F(MusicSettingsTextTest, SwitchValuesPastTheirRangesAreRefusedWithTheirLine) {
  ExpectRefused(kSegments, {
      {"musicswitch W Mood treemode:256 default:S", "line 5: a tree mode is 0 to 255"},
      {"musicswitch W Mood Calm:S:101", "line 5: a path's weight and probability are 0 to 100"},
      {"musicswitch W Mood Calm:S:0:101", "line 5: a path's weight and probability are 0 to 100"},
      {"musicswitch W Mood+switch:Surface Calm:S", "line 5: \"Calm:S\" names 1 values for 2 groups"},
      {"musicswitch W Mood Calm/Grass:S", "line 5: \"Calm/Grass:S\" names 2 values for 1 groups"},
      {"musicswitch W Mood Calm:S Calm:Hit", "line 5: music switch \"W\": two paths lead to one leaf"},
      {"musicswitch W Mood Calm:S:1:2:3",
       "line 5: \"Calm:S:1:2:3\" is not <value>[/<value>...]:<node>[:<weight>[:<probability>]]"},
  });
}

// Where the MIDI of a track plays: a music node's own node or bus over its parents', a track's own over
// its segment's.
TEST_F(MusicSettingsTextTest, MusicNodesAimTheirTracksMidi) {
  ASSERT_EQ(LoadText("tone Hum 48000 1 250 110\nbus Drums -\nsound Kick Hum Drums\n"
                     "miditrack M 480 120 1000 on:0:0:60:100\nmiditrack OnBus 480 120 1000 targetbus:Drums on:0:0:60:100\n"
                     "miditrack N 480 120 1000 on:0:0:60:100\n"
                     "segment S 120 4 4 1000 0 1000 track:M miditarget:Kick\n"
                     "segment B 120 4 4 1000 0 1000 track:N track:OnBus\n"
                     "playlist P 0 miditargetbus:Drums B\n"),
            SN::SN_Success)
      << log_.Take();
  // The node each track's MIDI reaches, the reference the look-up takes given back.
  auto target = [&](const char* track) {
    auto* node = Find<SN::CSnMusicTrackNode>(Id(track));
    SN::CSnIndexedObject* found = node ? SN::FindMusicMidiTarget(*node) : nullptr;
    if (found) found->Release();
    return found;
  };
  ASSERT_NE(Find<SN::CSnMusicHierarchyNode>(Id("S")), nullptr);
  EXPECT_EQ(Find<SN::CSnMusicHierarchyNode>(Id("S"))->MusicFlags() & SN::CSnMusicHierarchyNode::kMusicMidiOption, 0);
  EXPECT_EQ(target("M"), Find(Id("Kick")));
  SN::CSnIndexedObject* bus = SN::g_pObjectIndex->FindNodeAndAddRef(Id("Drums"), true);
  ASSERT_NE(bus, nullptr);
  bus->Release();
  EXPECT_EQ(target("N"), bus);
  EXPECT_EQ(target("OnBus"), bus);
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
      {"playlist P 0 miditarget:S miditargetbus:Master S", "line 5: the MIDI target is given twice"},
      {"miditrack M 96 120 1000 loop target:S loop on:0:0:60:100", "line 5: \"loop\" is given twice"},
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
