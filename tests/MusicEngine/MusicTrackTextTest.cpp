// The track words of the bank text read back through the engine's own music tracks: clips with their
// trims and sub-tracks, automation over a clip, how a play picks its sub-track and a switch track's
// switches and moves; and the values the builder refuses, each naming its line, both ends of each range
// taken.
#include <string>
#include <utility>

#include "MusicEngine/MusicTrack.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using BankTest::Id;

class MusicTrackTextTest : public MusicTest::MusicFixture {
 protected:
  const SN::CSnMusicTrackNode* Track(const char* name) { return Find<SN::CSnMusicTrackNode>(Id(name)); }
  // Milliseconds at the engine's rate, rounded as the engine rounds them.
  static int32_t Samples(double ms) { return int32_t(double(SN::MusicSampleRate()) * ms / 1000.0 + 0.5); }
};

constexpr const char* kTones = "tone Hum 48000 1 250 110\ntone Buzz 48000 1 500 220\n";

TEST_F(MusicTrackTextTest, ClipsPlaceTheirTonesOnSubTracksWithTheirTrims) {
  ASSERT_EQ(LoadText(std::string(kTones) +
                     "musictrack T Hum clip:0:Hum:100:50:-25 clip:2:Buzz:-20:-100:300 subtracks:4 sequence\n"
                     "musictrack Pick Hum random clip:1:Hum:0:0:0\n"
                     "musictrack Plain Hum\n"),
            SN::SN_Success)
      << log_.Take();
  const SN::CSnMusicTrackNode* track = Track("T");
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->SourceCount(), 2u);
  EXPECT_NE(track->FindSource(Id("Buzz")), nullptr);
  ASSERT_EQ(track->ClipCount(), 2u);
  // Hum from 150 ms for 250 - 50 - 25 ms, 50 ms into the tone.
  const SN::SnMusicTrackClip& first = track->Clip(0);
  EXPECT_EQ(first.subTrack, 0u);
  EXPECT_EQ(first.sourceId, Id("Hum"));
  EXPECT_EQ(first.begin, Samples(150));
  EXPECT_EQ(first.length, uint32_t(Samples(175)));
  EXPECT_EQ(first.sourceDuration, Samples(250));
  EXPECT_EQ(first.sourceOffset, Samples(50));
  // Buzz repeated: it starts 100 ms before its own start, at -120 ms, for 500 + 100 + 300 ms, 400 ms in.
  const SN::SnMusicTrackClip& second = track->Clip(1);
  EXPECT_EQ(second.subTrack, 2u);
  EXPECT_EQ(second.begin, -Samples(120));
  EXPECT_EQ(second.length, uint32_t(Samples(900)));
  EXPECT_EQ(second.sourceOffset, Samples(400));
  EXPECT_EQ(track->SubTrackCount(), 4u);
  ASSERT_EQ(track->TrackType(), SN::SnMusicTrack_Sequence);
  auto* sequence = const_cast<SN::CSnMusicTrackNode*>(track);
  for (uint16_t expected : {0, 1, 2, 3, 0}) EXPECT_EQ(sequence->SelectSubTrack(), expected);
  // Sub-tracks up to the highest clip's by default.
  ASSERT_NE(Track("Pick"), nullptr);
  EXPECT_EQ(Track("Pick")->TrackType(), SN::SnMusicTrack_Random);
  EXPECT_EQ(Track("Pick")->SubTrackCount(), 2u);
  ASSERT_NE(Track("Plain"), nullptr);
  EXPECT_EQ(Track("Plain")->TrackType(), SN::SnMusicTrack_Normal);
  EXPECT_EQ(Track("Plain")->SubTrackCount(), 1u);
  ASSERT_EQ(Track("Plain")->ClipCount(), 1u);
  EXPECT_EQ(Track("Plain")->Clip(0).length, uint32_t(Samples(250)));
}

TEST_F(MusicTrackTextTest, AutomationFollowsItsClipInSamples) {
  ASSERT_EQ(LoadText(std::string(kTones) +
                     "musictrack T Hum clip:0:Hum:0:0:0 clip:0:Buzz:250:0:0 automation:1:fadein:0@0:0.5@1@9 "
                     "automation:0:lowpass:0@-100:0.25@100 automation:0:volume:0@-1:0.1@1\n"),
            SN::SN_Success)
      << log_.Take();
  const SN::CSnMusicTrackNode* track = Track("T");
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->AutomationCount(), 3u);
  const SN::SnMusicClipAutomation& fade = track->Automation(0);
  EXPECT_EQ(fade.clipIndex, 1u);
  EXPECT_EQ(fade.type, 3u);
  ASSERT_EQ(fade.pointCount, 2u);
  EXPECT_EQ(fade.points[0].time, 0.0f);
  EXPECT_EQ(fade.points[0].value, 0.0f);
  EXPECT_EQ(fade.points[0].interpolation, 4u);
  EXPECT_EQ(fade.points[1].time, float(Samples(500)));
  EXPECT_EQ(fade.points[1].value, 1.0f);
  EXPECT_EQ(fade.points[1].interpolation, 9u);
  const SN::SnMusicClipAutomation& lowPass = track->Automation(1);
  EXPECT_EQ(lowPass.clipIndex, 0u);
  EXPECT_EQ(lowPass.type, 1u);
  EXPECT_EQ(lowPass.points[0].value, -100.0f);
  EXPECT_EQ(lowPass.points[1].value, 100.0f);
  EXPECT_EQ(track->Automation(2).type, 0u);
  EXPECT_EQ(track->Automation(2).points[0].value, -1.0f);
  EXPECT_EQ(track->Automation(2).points[1].value, 1.0f);
}

TEST_F(MusicTrackTextTest, ASwitchTrackKeepsItsSwitchesAndItsMoves) {
  ASSERT_EQ(LoadText(std::string(kTones) +
                     "musictrack T Hum clip:0:Hum:0:0:0 clip:1:Buzz:0:0:0 state:Mood:Calm:Calm:Angry "
                     "switchfade:200:9:-44739242:0:0:44739242 switchsync:5:Drop\n"
                     "musictrack W Hum switch:Surface:Grass:Grass\n"),
            SN::SN_Success)
      << log_.Take();
  ASSERT_NE(Track("T"), nullptr);
  EXPECT_EQ(Track("T")->TrackType(), SN::SnMusicTrack_Switch);
  const SN::SnMusicTrackSwitchParams* params = Track("T")->SwitchParams();
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->groupType, 1u);
  EXPECT_EQ(params->groupId, Id("Mood"));
  EXPECT_EQ(params->defaultSwitch, Id("Calm"));
  EXPECT_EQ(Track("T")->SwitchOfSubTrack(0), Id("Calm"));
  EXPECT_EQ(Track("T")->SwitchOfSubTrack(1), Id("Angry"));
  EXPECT_EQ(params->fadeOutMs, 200u);
  EXPECT_EQ(params->fadeOutCurve, 9u);
  const int32_t perMs = int32_t(SN::MusicSampleRate() / 1000);
  EXPECT_EQ(params->fadeOutOffset, -44739242 * perMs);
  EXPECT_EQ(params->fadeInMs, 0u);
  EXPECT_EQ(params->fadeInCurve, 0u);
  EXPECT_EQ(params->fadeInOffset, 44739242 * perMs);
  EXPECT_EQ(params->syncType, SN::SnMusicSync_NextUserCue);
  EXPECT_EQ(params->cueFilter, Id("Drop"));
  ASSERT_NE(Track("W"), nullptr);
  ASSERT_NE(Track("W")->SwitchParams(), nullptr);
  EXPECT_EQ(Track("W")->SwitchParams()->groupType, 0u);
  EXPECT_EQ(Track("W")->SwitchParams()->groupId, Id("Surface"));
  EXPECT_EQ(Track("W")->SwitchParams()->syncType, SN::SnMusicSync_Immediate);
}

TEST_F(MusicTrackTextTest, TrackValuesPastTheirRangesAreRefusedWithTheirLine) {
  const std::string head = kTones;  // two lines
  ExpectRefused(head, {
      {"musictrack T Hum clip:0:Hum:0:250:0", "line 3: \"clip:0:Hum:0:250:0\": its trims leave nothing of the clip"},
      {"musictrack T Hum clip:0:Hum:44739243:0:0",
       "line 3: \"clip:0:Hum:44739243:0:0\": its times are beyond the engine's sample counts"},
      {"musictrack T Hum clip:0:Gone:0:0:0", "line 3: tone \"Gone\" is not declared"},
      {"musictrack T Hum clip:0:Hum:0:0", "line 3: \"clip:0:Hum:0:0\" is not clip:<sub-track>:<tone>:<play-at ms>:"
                                          "<begin trim ms>:<end trim ms>"},
      {"musictrack T Hum clip:65536:Hum:0:0:0", "line 3: a track has 1 to 65536 sub-tracks"},
      {"musictrack T Hum subtracks:0", "line 3: a track has 1 to 65536 sub-tracks"},
      {"musictrack T Hum subtracks:65537", "line 3: a track has 1 to 65536 sub-tracks"},
      {"musictrack T Hum clip:2:Hum:0:0:0 subtracks:2",
       "line 3: track \"T\" has 2 sub-tracks: its clips and switches name no other"},
      {"musictrack T Hum switch:G:A:A:B", "line 3: track \"T\" has 1 sub-tracks: its clips and switches name no other"},
      {"musictrack T Hum automation:1:fadein:0@0", "line 3: automation of clip 1: the track has 1 clips"},
      {"musictrack T Hum automation:0:fadein:0@1.5", "line 3: \"0@1.5\": fadein automation is 0 to 1"},
      {"musictrack T Hum automation:0:volume:0@-1.5", "line 3: \"0@-1.5\": volume automation is -1 to 1"},
      {"musictrack T Hum automation:0:highpass:0@101", "line 3: \"0@101\": highpass automation is -100 to 100"},
      {"musictrack T Hum automation:0:fadein:1@0:0.5@1",
       "line 3: \"0.5@1\": automation points go on in time from 0 to 44739 seconds"},
      {"musictrack T Hum automation:0:fadein:44740@0",
       "line 3: \"44740@0\": automation points go on in time from 0 to 44739 seconds"},
      {"musictrack T Hum automation:0:fadein:0@0@10", "line 3: a curve's shape is 0 to 9"},
      {"musictrack T Hum automation:0:pitch:0@0",
       "line 3: \"automation:0:pitch:0@0\" is not automation:<clip>:<volume|lowpass|highpass|fadein|fadeout>:"
       "<seconds>@<value>[@<shape 0-9>]..."},
      {"musictrack T Hum switchsync:1", "line 3: switchfade: and switchsync: are a switch track's: give switch: or state:"},
      {"musictrack T Hum switch:G:A switchsync:8", "line 3: a sync type is 0 to 7"},
      {"musictrack T Hum switch:G:A switchfade:0:10:0:0:0:0", "line 3: a curve's shape is 0 to 9"},
      {"musictrack T Hum switch:G:A switchfade:44739243:0:0:0:0:0", "line 3: a fade is 0 to 44739242 ms"},
      {"musictrack T Hum switch:G:A switchfade:0:0:0:0:0:-44739243",
       "line 3: a fade's offset is -44739242 to 44739242 ms"},
      {"musictrack T Hum switch:G:A switchfade:0:0:0:0:0",
       "line 3: \"switchfade:0:0:0:0:0\" is not switchfade:<out ms>:<out curve>:<out offset ms>:<in ms>:<in curve>:"
       "<in offset ms>"},
      {"musictrack T Hum switch:G", "line 3: \"switch:G\" is not switch|state:<group>:<default>:<value>..."},
      {"musictrack T Hum volme -3", "line 3: \"volme\" is no music track option"},
      {"musictrack T Hum lookahead", "line 3: \"lookahead\" takes 1 value"},
      // Each option once, and one way of picking the sub-track.
      {"musictrack T Hum lookahead 5 lookahead 6", "line 3: \"lookahead\" is given twice"},
      {"musictrack T Hum subtracks:2 subtracks:3", "line 3: \"subtracks:\" is given twice"},
      {"musictrack T Hum random random", "line 3: \"random\" is given twice"},
      {"musictrack T Hum random sequence",
       "line 3: a track picks its sub-track one way: \"random\" and \"sequence\" are both given"},
      {"musictrack T Hum switch:G:A state:H:B", "line 3: a track picks its sub-track one way: \"switch:\" and \"state:\" "
                                                "are both given"},
      {"musictrack T Hum switch:G:A switchsync:1 switchsync:2", "line 3: \"switchsync:\" is given twice"},
  });
  // Just inside: the longest sub-track index, the latest clip start and automation point.
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(Tools::ParseBankText(head + "musictrack T Hum clip:65535:Hum:0:0:0 clip:0:Hum:44739000:0:0 subtracks:65536 "
                                          "automation:0:fadeout:0@1:44739@0\n",
                                   "Music", bank, error))
      << error;
}

}  // namespace
