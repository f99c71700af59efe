// The bank writer's music objects byte for byte against layouts written out by hand, and the music
// seeds of the bank fuzz target, which are the writer's banks as committed.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes NodeParams() {
  Bytes out;
  Tools::PutNodeParams(out, Tools::BankNodeParams{}, false);
  return out;
}

TEST(MusicBankBytes, SegmentsAndRulesAreWrittenFieldByField) {
  Tools::BankMusicSegment segment;
  segment.id = 0x11223344;
  segment.node.flags = 0x0E;
  segment.node.children = {7};
  segment.node.gridPeriodMs = 250.0;  // 0x406F400000000000
  segment.node.gridOffsetMs = 0.0;
  segment.node.tempo = 120.0f;  // 0x42F00000
  segment.node.overridesMeter = 1;
  segment.node.stingers = {{1, 2, 3, 4, 5, 6}};
  segment.durationMs = 1000.0;  // 0x408F400000000000
  segment.markers = {{9, 0.0, "In"}, {10, 500.0, ""}};  // 500.0 = 0x407F400000000000
  const Bytes expected = Cat({
      {0x44, 0x33, 0x22, 0x11, 0x0E},
      NodeParams(),
      {1, 0, 0, 0, 7, 0, 0, 0},
      {0, 0, 0, 0, 0, 0x40, 0x6F, 0x40, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0xF0, 0x42, 4, 4, 1},
      {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0},
      {0, 0, 0, 0, 0, 0x40, 0x8F, 0x40, 2, 0, 0, 0},
      {9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'I', 'n'},
      {10, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x7F, 0x40, 0, 0, 0, 0},
  });
  EXPECT_EQ(Tools::MusicSegmentPayload(segment, false), expected);

  Tools::BankMusicRule rule;
  rule.sources = {0xFFFFFFFF};
  rule.destinations = {3, 4};
  rule.fadeOut = {100, 1, -2};
  rule.syncType = 2;
  rule.sourceCueFilter = 5;
  rule.playPostExit = 1;
  rule.fadeIn = {6, 7, 8};
  rule.destinationCueFilter = 9;
  rule.jumpToItem = 10;
  rule.entryKind = 0x0203;
  rule.playPreEntry = 1;
  rule.matchSourceCueName = 0;
  rule.hasSegment = true;
  rule.segmentId = 11;
  rule.segmentFadeIn = {12, 13, 14};
  rule.segmentFadeOut = {15, 16, 17};
  rule.segmentPlayPreEntry = 1;
  rule.segmentPlayPostExit = 0;
  Bytes rules;
  Tools::PutMusicRules(rules, {rule});
  const Bytes expectedRules = {
      1, 0, 0, 0,                                                        // one rule
      1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,                                // any source
      2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0,                                // destinations 3, 4
      100, 0, 0, 0, 1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,                  // fade-out
      2, 0, 0, 0, 5, 0, 0, 0, 1,                                         // sync, cue, post-exit
      6, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0,       // fade-in, cue, jump
      3, 2, 1, 0, 1,                                                     // entry, pre-entry, match, segment
      11, 0, 0, 0, 12, 0, 0, 0, 13, 0, 0, 0, 14, 0, 0, 0,                // transition segment, fade-in
      15, 0, 0, 0, 16, 0, 0, 0, 17, 0, 0, 0, 1, 0,                       // fade-out, flags
  };
  EXPECT_EQ(rules, expectedRules);
}

TEST(MusicBankBytes, PlaylistRecordsAndSwitchTreesAreWrittenFieldByField) {
  Tools::BankMusicPlaylist playlist;
  playlist.id = 5;
  Tools::BankPlaylistRecord record;
  record.segmentId = 1;
  record.itemId = 2;
  record.childCount = 3;
  record.playMode = 4;
  record.loopCount = 5;
  record.loopMinOffset = -1;
  record.loopMaxOffset = 2;
  record.weight = 50000;  // 0x0000C350
  record.avoidRepeatCount = 6;
  record.unused = 7;
  record.shuffle = 1;
  playlist.records = {record};
  Bytes head;
  Tools::PutMusicNode(head, 5, playlist.node, false);
  Tools::PutMusicRules(head, {});
  EXPECT_EQ(Tools::MusicPlaylistPayload(playlist, false),
            Cat({head,
                 {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0xFF, 0xFF, 2, 0, 0x50, 0xC3, 0, 0,
                  6, 0, 7, 1}}));

  Tools::BankMusicSwitch container;
  container.id = 6;
  container.continuePlaying = 0;
  container.groupIds = {0xAABBCCDD};
  container.groupTypes = {1};
  container.treeMode = 2;
  Tools::BankSwitchTreeNode root;
  root.leaf = false;
  root.firstChild = 1;
  root.childCount = 1;
  Tools::BankSwitchTreeNode leaf;
  leaf.key = 8;
  leaf.childId = 9;
  container.tree = {root, leaf};
  head.clear();
  Tools::PutMusicNode(head, 6, container.node, false);
  Tools::PutMusicRules(head, {});
  EXPECT_EQ(Tools::MusicSwitchPayload(container, false),
            Cat({head,
                 {0, 1, 0, 0, 0, 0xDD, 0xCC, 0xBB, 0xAA, 1, 24, 0, 0, 0, 2},
                 {0, 0, 0, 0, 1, 0, 1, 0, 50, 0, 100, 0},
                 {8, 0, 0, 0, 9, 0, 0, 0, 50, 0, 100, 0}}));
}

// The music banks the fuzz target is seeded with.
std::vector<std::pair<std::string, Bytes>> MusicSeeds() {
  using MusicTest::Segment120;
  auto bank = [](uint32_t id, std::vector<Tools::BankObject> objects) {
    Tools::BankDescription description;
    description.bankId = id;
    description.objects = std::move(objects);
    description.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    return Tools::WriteBank(description);
  };
  Tools::BankMusicSegment stingers = Segment120(10);
  stingers.node.stingers = {{5, 10, 2, 0, 0, 1}};
  Tools::BankMusicPlaylist playlist;
  playlist.id = 20;
  playlist.node.children = {10, 11};
  playlist.rules = {{}};
  playlist.rules[0].sources = {10};
  playlist.rules[0].destinations = {0xFFFFFFFF};
  playlist.rules[0].hasSegment = true;
  playlist.rules[0].segmentId = 11;
  Tools::BankPlaylistRecord root;
  root.childCount = 2;
  Tools::BankPlaylistRecord first;
  first.segmentId = 10;
  Tools::BankPlaylistRecord second;
  second.segmentId = 11;
  second.weight = 100;
  playlist.records = {root, first, second};
  Tools::BankMusicSwitch choice;
  choice.id = 30;
  choice.node.children = {20};
  choice.groupIds = {77};
  choice.groupTypes = {1};
  Tools::BankSwitchTreeNode top;
  top.leaf = false;
  top.firstChild = 1;
  top.childCount = 1;
  Tools::BankSwitchTreeNode path;
  path.childId = 20;
  choice.tree = {top, path};
  Tools::BankMusicTrack track;
  track.id = 40;
  track.sources = {{0x00010000, 0, 7, 4096, 0, {}}, {0x00650002, 2, 8, 0, 0, {1, 2}}};
  track.clips = {{0, 7, 0.0, 10.0, -10.0, 1000.0}};
  track.automation = {{0, 1, {{0.5f, 1.0f, 4}}}};
  track.type = 3;
  track.switchIds = {5};
  track.lookAheadMs = 100;
  Tools::BankMusicSegment withTrack = Segment120(11);
  withTrack.node.children = {40};
  Tools::BankMusicSegment badMeter = Segment120(12);
  badMeter.node.tempo = 0.0f;
  return {
      {"music-containers.bnk",
       bank(900, {{11, Tools::MusicTrackPayload(track, false)},
                  {10, Tools::MusicSegmentPayload(stingers, false)},
                  {10, Tools::MusicSegmentPayload(withTrack, false)},
                  {13, Tools::MusicPlaylistPayload(playlist, false)},
                  {12, Tools::MusicSwitchPayload(choice, false)}})},
      {"music-zero-tempo.bnk", bank(901, {{10, Tools::MusicSegmentPayload(badMeter, false)}})},
  };
}

TEST(MusicBankBytes, TheFuzzSeedsAreTheWritersBanks) {
  BankTest::ExpectCommittedSeeds("sound_bank", MusicSeeds(), "ORV_WRITE_MUSIC_SEEDS");
}

}  // namespace
