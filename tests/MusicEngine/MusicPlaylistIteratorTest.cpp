// The playlist iterator over playlists the bank writer makes: sequences and their loops, random,
// shuffle and weighted draws checked against a second model of the draws, step modes carried from
// one play to the next and rolled back before a commit, nesting, and walks that find no segment.

#include "Base/MathUtil.h"
#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicMidiClipParser.h"
#include "MusicEngine/MusicPlaylistIterator.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "tests/MusicEngine/MusicRandomModel.h"
#include "tests/MusicEngine/MusicTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MidiClipWriter.h"

namespace {

using MusicTest::Segment120;
using Tools::BankPlaylistRecord;
using MusicModel::ModelRand;
using MusicModel::ModelRandomGroup;

using MusicTest::Group;
using MusicTest::Item;

class MusicPlaylistIteratorTest : public MusicTest::MusicFixture {
 protected:
  void SetUp() override {
    MusicFixture::SetUp();
    savedRand_ = Base::Rand15State();
    std::vector<Tools::BankObject> segments;
    for (uint32_t id = 10; id <= 15; ++id) segments.push_back(SegmentObject(Segment120(id)));
    ASSERT_EQ(LoadBank(segments), SN::SN_Success);
  }
  void TearDown() override {
    Base::SeedRand15(savedRand_);
    MusicFixture::TearDown();
  }

  SN::CSnMusicPlaylistContainer* Load(std::vector<BankPlaylistRecord> records) {
    Tools::BankMusicPlaylist playlist;
    playlist.id = nextId_++;
    // The segments stay unparented: every test loads several containers over the same ids.
    playlist.records = std::move(records);
    EXPECT_EQ(LoadBank({{Tools::kBankMusicPlaylistType, Tools::MusicPlaylistPayload(playlist, false)}}),
              SN::SN_Success);
    return Find<SN::CSnMusicPlaylistContainer>(playlist.id);
  }
  // The segments of one play: First, then Next until the playlist ends or `most` are heard.
  static std::vector<uint32_t> Play(SN::CSnMusicPlaylistIterator& it, size_t most) {
    std::vector<uint32_t> heard;
    SN::SNRESULT result = it.First(0);
    while (result == SN::SN_Success && heard.size() < most) {
      EXPECT_TRUE(it.HasItem());
      heard.push_back(it.SegmentId());
      if (heard.size() < most) result = it.Next();
    }
    if (result != SN::SN_Success) {
      EXPECT_FALSE(it.HasItem());
    }
    return heard;
  }

  uint32_t savedRand_ = 0;
  uint32_t nextId_ = 300;
};

TEST_F(MusicPlaylistIteratorTest, SequencesLoopTheirGroupsAndItemsThenEnd) {
  auto* container = Load({Group(1, 4, SN::SnMusicPlaylist_ContinuousSequence, 2), Item(2, 10), Item(3, 11),
                          Item(4, 12), Item(5, 13)});
  ASSERT_NE(container, nullptr);
  SN::CSnMusicPlaylistIterator it;
  it.Init(*container);
  EXPECT_EQ(Play(it, 100), (std::vector<uint32_t>{10, 11, 12, 13, 10, 11, 12, 13}));
  EXPECT_EQ(it.Next(), SN::SN_Failure);

  // Nested: an item looping twice, a group looping twice inside the root's single pass.
  container = Load({Group(1, 3, SN::SnMusicPlaylist_ContinuousSequence), Item(2, 10, 50000, 2),
                    Group(3, 2, SN::SnMusicPlaylist_ContinuousSequence, 2), Item(4, 11), Item(5, 12), Item(6, 13)});
  it.Init(*container);
  EXPECT_EQ(Play(it, 100), (std::vector<uint32_t>{10, 10, 11, 12, 11, 12, 13}));
  EXPECT_EQ(it.PlaylistItemId(), 0u);

  // An item looping forever stays; so does a group looping forever.
  container = Load({Group(1, 2, SN::SnMusicPlaylist_ContinuousSequence, 0), Item(2, 10), Item(3, 11)});
  it.Init(*container);
  EXPECT_EQ(Play(it, 7), (std::vector<uint32_t>{10, 11, 10, 11, 10, 11, 10}));
  container = Load({Group(1, 2, SN::SnMusicPlaylist_ContinuousSequence), Item(2, 10), Item(3, 11, 50000, 0)});
  it.Init(*container);
  EXPECT_EQ(Play(it, 4), (std::vector<uint32_t>{10, 11, 11, 11}));
  EXPECT_EQ(it.ItemLoopsLeft(), 0u);
}

TEST_F(MusicPlaylistIteratorTest, RandomDrawsMatchAModelOfTheSelectionRules) {
  struct Case {
    const char* name;
    bool shuffle;
    uint16_t avoid;
    std::vector<uint32_t> weights;
  };
  const std::vector<Case> cases = {
      {"random, avoid-repeat 1", false, 1, {50000, 50000, 50000, 50000}},
      {"random, avoid-repeat 0", false, 0, {50000, 50000, 50000, 50000}},
      {"shuffle, avoid-repeat 0", true, 0, {50000, 50000, 50000, 50000}},
      {"shuffle, avoid-repeat 2", true, 2, {50000, 50000, 50000, 50000}},
      {"weighted, one weight 0", false, 1, {10, 0, 30000, 70000}},
      {"weighted shuffle, first weight 0", true, 0, {0, 100, 200, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BankPlaylistRecord root = Group(1, 4, SN::SnMusicPlaylist_ContinuousRandom, 0);
    root.shuffle = c.shuffle;
    root.avoidRepeatCount = c.avoid;
    std::vector<BankPlaylistRecord> records{root};
    for (uint32_t i = 0; i < 4; ++i) records.push_back(Item(2 + i, 10 + i, c.weights[i]));
    auto* container = Load(records);
    ASSERT_NE(container, nullptr);
    const bool weighted = container->Playlist().usesWeights;
    EXPECT_EQ(weighted, c.weights[0] != 50000);

    Base::SeedRand15(7);
    SN::CSnMusicPlaylistIterator it;
    it.Init(*container);
    const std::vector<uint32_t> heard = Play(it, 40);

    ModelRand rng{7};
    ModelRandomGroup model({c.weights.begin(), c.weights.end()}, weighted, c.shuffle, c.avoid);
    std::vector<uint32_t> expected;
    for (size_t i = 0; i < 40; ++i) expected.push_back(10 + uint32_t(model.Pick(rng)));
    EXPECT_EQ(heard, expected);

    for (size_t i = 0; i < heard.size(); ++i) {
      if ((c.avoid || c.shuffle) && i) {
        EXPECT_NE(heard[i], heard[i - 1]) << i;
      }
      EXPECT_NE(c.weights[heard[i] - 10], 0u) << i;
    }
    if (c.shuffle && !weighted)
      for (size_t pass = 0; pass + 4 <= heard.size(); pass += 4) {
        std::vector<uint32_t> order(heard.begin() + long(pass), heard.begin() + long(pass) + 4);
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, (std::vector<uint32_t>{10, 11, 12, 13})) << "pass from " << pass;
      }
  }
}

TEST_F(MusicPlaylistIteratorTest, StepModesCarryOnFromTheLastCommittedPlay) {
  auto* step = Load({Group(1, 3, SN::SnMusicPlaylist_StepSequence), Item(2, 10), Item(3, 11), Item(4, 12)});
  auto* continuous =
      Load({Group(1, 3, SN::SnMusicPlaylist_ContinuousSequence), Item(2, 10), Item(3, 11), Item(4, 12)});
  ASSERT_TRUE(step && continuous);
  std::vector<uint32_t> stepHeard, continuousHeard;
  for (int play = 0; play < 4; ++play) {
    SN::CSnMusicPlaylistIterator it;
    it.Init(*step);
    ASSERT_EQ(it.First(0), SN::SN_Success);
    it.Commit();
    stepHeard.push_back(it.SegmentId());
    // A step group plays one child a play.
    EXPECT_EQ(it.Next(), SN::SN_Failure);
    it.Init(*continuous);
    ASSERT_EQ(it.First(0), SN::SN_Success);
    continuousHeard.push_back(it.SegmentId());
  }
  EXPECT_EQ(stepHeard, (std::vector<uint32_t>{10, 11, 12, 10}));
  EXPECT_EQ(continuousHeard, (std::vector<uint32_t>{10, 10, 10, 10}));

  // Looking ahead into one step group and jumping into another puts the first back as it was.
  auto* nested = Load({Group(1, 2, SN::SnMusicPlaylist_ContinuousSequence), Group(2, 2, SN::SnMusicPlaylist_StepSequence),
                       Item(3, 10), Item(4, 11), Group(5, 2, SN::SnMusicPlaylist_StepSequence), Item(6, 12),
                       Item(7, 13)});
  ASSERT_NE(nested, nullptr);
  SN::CSnMusicPlaylistIterator it;
  it.Init(*nested);
  ASSERT_EQ(it.First(0), SN::SN_Success);
  EXPECT_EQ(it.SegmentId(), 10u);
  ASSERT_EQ(it.JumpTo(7), SN::SN_Success);
  EXPECT_EQ(it.SegmentId(), 13u);
  EXPECT_EQ(it.PlaylistItemId(), 7u);
  it.Commit();
  EXPECT_EQ(it.Next(), SN::SN_Failure);
  // The next play hears the first group's first child again and the second group past item 7.
  EXPECT_EQ(Play(it, 10), (std::vector<uint32_t>{10, 12}));
  EXPECT_EQ(it.JumpTo(99), SN::SN_Failure);
  EXPECT_TRUE(Logged("has no item 99"));
  // The failed jump put back what that play changed: item 7 was the last of its group.
  // Jumping to a group chooses in it.
  ASSERT_EQ(it.JumpTo(5), SN::SN_Success);
  EXPECT_EQ(it.SegmentId(), 12u);
}

TEST_F(MusicPlaylistIteratorTest, LoopCountsDrawBetweenTheirOffsetsWithinSixteenBits) {
  SN::CSnMusicPlaylistItem item;
  auto loops = [&](uint16_t count, int16_t low, int16_t high) {
    item.loopCount = count;
    item.loopMinOffset = low;
    item.loopMaxOffset = high;
    return SN::ResolveLoopCount(item);
  };
  EXPECT_EQ(loops(0, -3, 4), 0u);
  EXPECT_EQ(loops(5, 0, 0), 5u);
  EXPECT_EQ(loops(3, -1, -1), 3u);
  // An upper bound below the lower one gives the lower, never a draw modulo nothing.
  EXPECT_EQ(loops(1, -5, -3), 1u);
  EXPECT_EQ(loops(10, 2, -4), 12u);
  // Past 65535 the count saturates instead of wrapping to forever.
  EXPECT_EQ(loops(65535, 0, 5), 65535u);
  EXPECT_EQ(loops(65530, 10, 20), 65535u);
  Base::SeedRand15(99);
  ModelRand rng{99};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(loops(4, -2, 3), 2 + rng.Next() % 6) << i;
}

TEST_F(MusicPlaylistIteratorTest, WalksThatReachNoSegmentEnd) {
  SN::CSnMusicPlaylistIterator it;
  // Only a group, and it has no segment.
  auto* empty = Load({Group(1, 1, SN::SnMusicPlaylist_ContinuousSequence), Group(2, 0, 0)});
  ASSERT_NE(empty, nullptr);
  it.Init(*empty);
  EXPECT_EQ(it.First(0), SN::SN_Failure);
  EXPECT_FALSE(it.HasItem());

  // A weighted group that only ever draws its segment-less child.
  auto* stuck = Load({Group(1, 2, SN::SnMusicPlaylist_ContinuousRandom, 0), Group(2, 0, 0), Item(3, 10, 0)});
  ASSERT_NE(stuck, nullptr);
  it.Init(*stuck);
  EXPECT_EQ(it.First(0), SN::SN_Failure);
  EXPECT_FALSE(it.HasItem());
  EXPECT_TRUE(Logged("Music playlist 301: 256 choices reached no segment; the playlist ends"));

  // A segment-less group beside a segment is passed over.
  auto* skipping = Load({Group(1, 3, SN::SnMusicPlaylist_ContinuousSequence), Group(2, 0, 0), Item(3, 10),
                         Group(4, 1, SN::SnMusicPlaylist_ContinuousSequence), Group(5, 0, 0)});
  it.Init(*skipping);
  EXPECT_EQ(Play(it, 10), (std::vector<uint32_t>{10}));

  // A play mode the iterator does not know.
  auto* unknown = Load({Group(1, 1, 7), Item(2, 10)});
  ASSERT_NE(unknown, nullptr);
  it.Init(*unknown);
  EXPECT_EQ(it.First(0), SN::SN_Failure);
  EXPECT_TRUE(Logged("play mode 7"));
}

// What the game's playlist-select callback answers: a replacement index, or ending the group.
struct SelectAnswer {
  uint32_t selection = 0xFFFFFFFFu;  // at or above the count: the draw stands
  bool endGroup = false;
  std::vector<uint32_t> asked;  // group item ids
};

void AnswerSelect(uint32_t type, SN::SnCallbackInfo* info) {
  if (type != SN::SnCallback_MusicPlaylistSelect) return;
  auto* select = static_cast<SN::SnMusicPlaylistCallbackInfo*>(info);
  auto* answer = static_cast<SelectAnswer*>(select->cookie);
  answer->asked.push_back(select->playlistId);
  select->playlistSelection = answer->selection;
  select->playlistItemDone = answer->endGroup;
}

TEST_F(MusicPlaylistIteratorTest, ThePlaylistSelectCallbackReplacesTheChoiceOrEndsTheGroup) {
  auto* container = Load({Group(1, 3, SN::SnMusicPlaylist_ContinuousSequence), Item(2, 10), Item(3, 11),
                          Group(4, 0, 0)});
  ASSERT_NE(container, nullptr);
  SelectAnswer answer;
  SN::SnPlayingIdParams params;
  params.playingId = 4242;
  ASSERT_EQ(SN::g_pPlayingIDCallbackMgr->AddPlayingID(params, AnswerSelect, &answer, SN::SnCallback_MusicPlaylistSelect, 1),
            SN::SN_Success);
  SN::CSnMusicPlaylistIterator it;
  it.Init(*container);
  answer.selection = 1;
  ASSERT_EQ(it.First(4242), SN::SN_Success);
  EXPECT_EQ(it.SegmentId(), 11u);
  EXPECT_EQ(answer.asked, (std::vector<uint32_t>{1}));
  // An index past the children leaves the draw.
  answer.selection = 3;
  ASSERT_EQ(it.Next(), SN::SN_Success);
  EXPECT_EQ(it.SegmentId(), 11u);
  answer.endGroup = true;
  EXPECT_EQ(it.Next(), SN::SN_Failure);
  EXPECT_FALSE(it.HasItem());
  // A callback that keeps choosing the group without segments: the walk gives up.
  auto* endless = Load({Group(1, 2, SN::SnMusicPlaylist_ContinuousSequence, 0), Item(2, 10), Group(3, 0, 0)});
  ASSERT_NE(endless, nullptr);
  it.Init(*endless);
  answer.endGroup = false;
  answer.selection = 1;
  EXPECT_EQ(it.First(4242), SN::SN_Failure);
  EXPECT_TRUE(Logged("256 choices reached no segment"));
  SN::g_pPlayingIDCallbackMgr->CancelEventCallback(4242);
  SN::g_pPlayingIDCallbackMgr->ReleasePendingActionRef(4242);
}

// The builder's directives: a playlist of nested groups, weights, loops and a transition segment, and
// a track of MIDI clip media, read by the bank manager and walked by the iterator.
TEST_F(MusicPlaylistIteratorTest, TheBuilderWritesNestedPlaylistsAndMidiTracks) {
  const char* text =
      "segment S1 120 4 4 2000 0 2000\n"
      "segment S2 120 4 4 2000 0 2000\n"
      "segment S3 120 4 4 2000 0 2000\n"
      "segment T 120 4 4 2000 0 2000\n"
      "miditrack Bass 480 120 2000 cc:0:3:7:100 meta:0:3:62617373 note:960:3:60:100:480 sysex:0:7E7F0901F7\n"
      "segment M 120 4 4 2000 0 2000 track:Bass\n"
      "playlist P 0 loop:2 rule:S1:*:7:T S1 { 0 loop:2 S2 S3 } S2:50000:3 { 2 avoid:1 shuffle weight:7 S1:0 S3 }\n";
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(text, "Directives", bank, error)) << error;
  images_.push_back(Tools::WriteBank(bank));
  uint32_t bankId = 0;
  ASSERT_EQ(SN::g_pBankManager->LoadBankImageWait(images_.back().data(), uint32_t(images_.back().size()), true, -1,
                                                  &bankId),
            SN::SN_Success)
      << log_.Take();
  loaded_.push_back(bankId);

  auto* playlist = Find<SN::CSnMusicPlaylistContainer>(BankTest::Id("P"));
  ASSERT_NE(playlist, nullptr);
  // The transition segment is a child beside the played ones.
  EXPECT_EQ(playlist->ChildCount(), 4u);
  const SN::CSnMusicPlaylistGroup& tree = playlist->Playlist();
  ASSERT_EQ(tree.ChildCount(), 4u);
  const auto* random = static_cast<const SN::CSnMusicPlaylistGroup*>(tree.Child(3));
  EXPECT_EQ(random->playMode, uint32_t(SN::SnMusicPlaylist_ContinuousRandom));
  EXPECT_TRUE(random->usesWeights && random->shuffle);
  EXPECT_EQ(random->avoidRepeatCount, 1u);
  EXPECT_EQ(random->weight, 7u);
  EXPECT_TRUE(tree.usesWeights);

  SN::CSnMusicPlaylistIterator it;
  it.Init(*playlist);
  const uint32_t s1 = BankTest::Id("S1"), s2 = BankTest::Id("S2"), s3 = BankTest::Id("S3");
  // The weighted group never draws S1 (weight 0): it plays S3 once a pass.
  const std::vector<uint32_t> pass = {s1, s2, s3, s2, s3, s2, s2, s2, s3};
  std::vector<uint32_t> twice = pass;
  twice.insert(twice.end(), pass.begin(), pass.end());
  EXPECT_EQ(Play(it, 100), twice);

  // The MIDI track's source is its own clip media in the bank, played as MIDI.
  const auto* track = Find<SN::CSnMusicTrackNode>(BankTest::Id("Bass"));
  ASSERT_NE(track, nullptr);
  const SN::CSnSourceDesc* source = track->FindSource(BankTest::Id("Bass"));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ((source->codecId >> 16) & 0xFF, 16u);
  Tools::MidiClipMedia clip;
  clip.events = {{0, {0xB3, 7, 100}}, Tools::MidiMeta(0, 3, {'b', 'a', 's', 's'})};
  Tools::AddMidiNote(clip, 960, 3, 60, 100, 480);
  clip.events.push_back(Tools::MidiSysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  const std::vector<uint8_t> media = Tools::WriteMidiClip(clip);
  ASSERT_EQ(bank.media.size(), 1u);
  EXPECT_EQ(bank.media[0].bytes, media);
  SN::SnMidiClipParser parser;
  ASSERT_EQ(parser.Open(media.data(), uint32_t(media.size())), SN::SN_Success);
  parser.Advance(2000.0);
  ASSERT_EQ(parser.Messages().Count(), 3u);
  EXPECT_EQ(parser.Messages()[1].type, 0x90);
  EXPECT_FLOAT_EQ(parser.Messages()[1].timeMs, 1000.0f);
  EXPECT_FLOAT_EQ(parser.Messages()[2].timeMs, 1500.0f);

  for (const char* bad : {"miditrack B 0 120 100 on:0:0:1:1\n", "miditrack B 480 120 100 on:0:16:1:1\n",
                          "miditrack B 480 120 100 sysex:0:7G\n", "segment S 120 4 4 1000 0 1000\nplaylist P 0 { 0 S\n",
                          "segment S 120 4 4 1000 0 1000\nplaylist P 0 S }\n"}) {
    Tools::BankDescription refused;
    EXPECT_FALSE(Tools::ParseBankText(bad, "Directives", refused, error)) << bad;
  }
}

}  // namespace
