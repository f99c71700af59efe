// The game's music as the bank descriptions give it, read by the real bank manager with the music
// engine joined, and the music directives refusing descriptions out of order or a look-ahead longer
// than its segment.
#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicTrack.h"
#include "tests/MusicEngine/MusicTestSupport.h"
#include "tools/SoundBank/ActionWriter.h"

namespace {

using BankTest::Id;

class MusicContentTest : public MusicTest::MusicFixture {};

TEST_F(MusicContentTest, TheGeneralBankPlaysA120BpmSegmentByTheMoodOfInit) {
  for (const char* name : {"Init", "GeneralBank"}) {
    images_.push_back(BankTest::ContentBank(name));
    uint32_t bankId = 0;
    ASSERT_EQ(SN::g_pBankManager->LoadBankImageWait(images_.back().data(), uint32_t(images_.back().size()), true, -1,
                                                    &bankId),
              SN::SN_Success)
        << name << ": " << log_.Take();
    loaded_.push_back(bankId);
  }
  const auto* calm = Find<SN::CSnMusicSegmentNode>(Id("MusicCalm"));
  ASSERT_NE(calm, nullptr);
  EXPECT_EQ(calm->GetMeter().beat, 24000u);
  EXPECT_EQ(calm->GetMeter().bar, 96000u);
  EXPECT_EQ(calm->GetActiveDuration(), 192000);
  uint32_t cue = 0;
  int32_t at = 0;
  ASSERT_EQ(calm->FindSyncPoint(1, SN::SnMusicSync_NextCue, 0, false, cue, at), SN::SN_Success);
  EXPECT_EQ(at, 96000);
  EXPECT_EQ(cue, Id("Turn"));
  ASSERT_EQ(calm->ChildCount(), 1u);
  const auto* track = static_cast<const SN::CSnMusicTrackNode*>(calm->Child(0));
  EXPECT_EQ(track->ID(), Id("CalmTones"));
  ASSERT_EQ(track->ClipCount(), 1u);
  EXPECT_EQ(track->Clip(0).length, 12000u);  // the hum's 250 ms
  EXPECT_NE(track->FindSource(Id("Hum")), nullptr);

  const auto* mood = Find<SN::CSnMusicSwitchContainer>(Id("MusicByMood"));
  ASSERT_NE(mood, nullptr);
  EXPECT_EQ(mood->ArgumentGroup(0), Id("Music_Mood"));
  EXPECT_EQ(mood->ResolveSingleArgument(0), Id("MusicPlaylist"));
  EXPECT_EQ(mood->ResolveSingleArgument(Id("Calm")), Id("MusicPlaylist"));
  EXPECT_EQ(mood->ResolveSingleArgument(Id("Tense")), Id("TensePlaylist"));
  EXPECT_EQ(Find(Id("MusicPlaylist"))->Parent(), mood);
  EXPECT_EQ(Find<SN::CSnMusicPlaylistContainer>(Id("MusicPlaylist"))->Playlist().ChildCount(), 1u);
  EXPECT_FALSE(Logged("Could not create Sound Music Engine."));
}

TEST_F(MusicContentTest, MusicDirectivesNameOnlyObjectsDescribedBefore) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"segment S 120 4 4 1000 0 1000 track:T\n", "\"T\" is not a music object"},
      {"tone Hum 48000 1 250 110\nmusictrack T Hum\nplaylist P 0 T\n", "\"T\" is not a music object"},
      {"musicswitch W G default:S\nsegment S 120 4 4 1000 0 1000\n", "\"S\" is not a music object"},
      {"segment S 120 4 4 1000 0 2000\n", "inside the segment"},
      {"segment S 120 4 4 1000 500 900 cue:C@200\n", "from the entry to the exit"},
      {"segment S 0 4 4 1000 0 1000\n", "tempo is above 0"},
      // A bar the engine could not count in samples would be refused with the whole bank: at 1.3 bpm a
      // 255/1 bar is 2,259,692,445 samples at 48000 Hz, past two to the 31.
      {"segment S 1e-30 4 4 1000 0 1000\n", "segment \"S\": a bar at 1e-30 bpm is longer than the engine counts"},
      {"segment S 1.3 255 1 1000 0 1000\n", "a bar at 1.3 bpm is longer"},
      {"musictrack T Nothing\n", "tone \"Nothing\" is not declared"},
      {"tone Hum 48000 1 250 110 loose\nmusictrack T Hum 100\n", "line 2: \"100\" is no music track option"},
      {"tone Hum 48000 1 250 110 loose\nmusictrack T Hum lookahead -5\n", "\"-5\" is not a time"},
      {"segment S 120 4 4 1000 0 1000 bar:2\n", "neither track"},
      {"segment S 120 4 4 1000 0 1000\nmusicswitch W G rule:*:*:2:fade:25 default:S\n", "is not rule:"},
      {"segment S 120 4 4 1000 0 1000\nmusicswitch W G rule:*:*:2:fade:70000:0 default:S\n", "at most a minute"},
  };
  // An event of one play action on the switch, after it.
  Tools::BankDescription played;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("musicswitch W G\nmusicevent Play_W W\n", "Music", played, error) == false);
  ASSERT_TRUE(Tools::ParseBankText("tone Hum 48000 1 250 110\nsegment S 120 4 4 1000 0 1000\n"
                                   "musicswitch W G default:S\nmusicevent Play_W W\n",
                                   "Music", played, error))
      << error;
  ASSERT_EQ(played.objects.size(), 4u);
  EXPECT_EQ(played.objects[2].type, 3u);
  // A whole play action, as the engine reads one, naming the bank.
  Tools::BankAction expected;
  expected.id = Id("Play_W.Play");
  expected.type = 0x0403;
  expected.target = Id("W");
  expected.bankId = Id("Music");
  EXPECT_EQ(played.objects[2].payload, Tools::ActionPayload(expected));
  ASSERT_GE(played.objects[2].payload.size(), 10u);
  uint32_t target = 0;
  memcpy(&target, played.objects[2].payload.data() + 6, 4);
  EXPECT_EQ(target, Id("W"));
  EXPECT_EQ(played.objects[3].type, 4u);
  for (const Case& c : cases) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_FALSE(Tools::ParseBankText(c.text, "Music", bank, error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

// A segment of a second holding a streamed track that looks ahead `ms`.
std::string LookingAhead(const std::string& ms) {
  return "tone Hum 48000 1 250 110 loose\nmusictrack T Hum lookahead " + ms +
         "\nsegment S 120 4 4 1000 0 1000 track:T\n";
}

// The engine starts a segment one look-ahead before it: the builder refuses one longer than the
// segment and takes the segment's own length.
TEST_F(MusicContentTest, TheBuilderRefusesALookAheadLongerThanItsSegment) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_FALSE(Tools::ParseBankText(LookingAhead("4000000000"), "Music", bank, error));
  EXPECT_NE(error.find("segment \"S\": track \"T\" looks ahead 4000000000 ms, longer than the segment's 1000 ms"),
            std::string::npos)
      << error;
  EXPECT_FALSE(Tools::ParseBankText(LookingAhead("1000.5"), "Music", bank, error));
  EXPECT_NE(error.find("looks ahead 1000.5 ms"), std::string::npos) << error;
  EXPECT_TRUE(Tools::ParseBankText(LookingAhead("1000"), "Music", bank, error)) << error;
}

// A look-ahead the builder took, made longer than its segment by the game's look-ahead ratio, is said
// once as the bank is read; the same at the ratio of 1 is not.
TEST_F(MusicContentTest, ALookAheadPastItsSegmentIsSaidAtLoad) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(LookingAhead("600"), "Music", bank, error)) << error;
  ASSERT_EQ(LoadBank(bank.objects), SN::SN_Success) << log_.Take();
  EXPECT_FALSE(Logged("looks ahead"));
  ASSERT_EQ(Unload(2000), SN::SN_Success);
  SN::SnMusicSettings settings;
  settings.streamingLookAheadRatio = 2.0f;
  ASSERT_EQ(SN::MusicEngine::Init(&settings), SN::SN_Success);
  ASSERT_EQ(LoadBank(bank.objects), SN::SN_Success) << log_.Take();
  const std::string said = "[Warning][Audio] Segment " + std::to_string(Id("S")) + ": track " +
                           std::to_string(Id("T")) + " looks ahead 57600 samples, longer than the segment's 48000\n";
  EXPECT_EQ(log_.Take(), said);
}

}  // namespace
