// Interactive music heard end to end: random/sequence containers walking their playlists segment
// after segment at their rules' sync points, captured on the null output and read back sample by
// sample against levels worked out here. Segments are 120 bpm 4/4 at 48 kHz (a bar of 96,000
// samples), each a DC level of its own, without pre-entry or post-exit parts.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "MusicEngine/MusicTransitionRule.h"
#include "MusicEngine/MusicTypes.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tests/MusicEngine/MusicRandomModel.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;
using namespace MusicCapture;

constexpr int64_t kBar = 96000;

// What a test's bank holds: segments (name, DC level, bars), a playlist over some of them, its rules.
struct SegmentSpec {
  std::string name;
  double level;
  uint32_t bars = 1;
  bool userCue = false;  // a cue "Cue" at 3,250 ms (156,000 samples)
  bool ramp = false;  // a ramp that tells every sample apart instead of the DC level
  double preEntryMs = 0.0;  // the clip begins this long before the entry cue
};

// A switch container "Mood" over the values of its groups; a path lists one value per group, then
// the child.
struct SwitchSpec {
  std::vector<std::pair<std::string, uint8_t>> groups;  // name, type (1 state, 0 switch)
  std::vector<std::vector<std::string>> paths;
  std::vector<Tools::BankMusicRule> rules;
  uint8_t continuePlaying = 1;
  std::vector<Tools::BankMusicStinger> stingers;
};

struct MusicDescription {
  std::vector<SegmentSpec> segments;
  std::vector<Tools::BankPlaylistRecord> playlist;  // the root group first
  std::vector<Tools::BankMusicRule> rules;
  std::vector<SwitchSpec> switches;  // the first plays; the others are its children, by name "Mood<i>"
  std::vector<Tools::BankMusicStinger> stingers;  // the container's
};

// Rule 0 of a container: from any to any at the sync type.
Tools::BankMusicRule AnyRule(uint32_t syncType) {
  Tools::BankMusicRule rule;
  rule.sources = {kMusicAnyId};
  rule.destinations = {kMusicAnyId};
  rule.syncType = syncType;
  return rule;
}

// The decision tree of the paths: one level per group, values in path order.
std::vector<Tools::BankSwitchTreeNode> TreeOf(const std::vector<std::vector<std::string>>& paths, size_t depth) {
  struct Level {
    std::string value;
    std::vector<std::vector<std::string>> rest;
  };
  std::vector<Tools::BankSwitchTreeNode> tree(1);
  tree[0].leaf = false;
  // Breadth first: every node's children side by side.
  std::vector<std::pair<size_t, std::vector<std::vector<std::string>>>> open = {{0, paths}};
  for (size_t level = 0; level < depth; ++level) {
    std::vector<std::pair<size_t, std::vector<std::vector<std::string>>>> next;
    for (auto& [index, group] : open) {
      std::vector<Level> children;
      for (const auto& path : group) {
        auto found = std::find_if(children.begin(), children.end(), [&](const Level& l) { return l.value == path[level]; });
        if (found == children.end()) children.push_back({path[level], {}}), found = children.end() - 1;
        found->rest.push_back(path);
      }
      tree[index].firstChild = uint16_t(tree.size());
      tree[index].childCount = uint16_t(children.size());
      for (const Level& child : children) {
        Tools::BankSwitchTreeNode node;
        node.key = child.value == "*" ? 0 : Id(child.value.c_str());
        node.leaf = level + 1 == depth;
        if (node.leaf) node.childId = child.rest[0].empty() ? 0 : Id(child.rest[0][depth].c_str());
        tree.push_back(node);
        if (!node.leaf) next.push_back({tree.size() - 1, child.rest});
      }
    }
    open = next;
  }
  return tree;
}

class MusicInteractiveTest : public CaptureFixture {
 public:
  // The segments, their tracks and media, the container "List" over the playlist's segments, and
  // the event "Play_List".
  void LoadMusic(const MusicDescription& music) {
    std::string text;
    for (const SegmentSpec& segment : music.segments)
      text += "tone " + segment.name + "Tone 48000 1 " + std::to_string(int(segment.preEntryMs) + segment.bars * 2000) + " " +
              (segment.ramp ? "0 ramp\r\n" : std::to_string(segment.level) + " dc\r\n");
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(text, "InteractiveBank", bank, error)) << error;
    for (const SegmentSpec& spec : music.segments) {
      const uint32_t tone = Id((spec.name + "Tone").c_str());
      Tools::BankMusicTrack track;
      track.id = Id((spec.name + "Track").c_str());
      for (const auto& media : bank.media)
        if (media.id == tone) track.sources.push_back({0x00010000, 0, media.id, uint32_t(media.bytes.size()), 0, {}});
      track.clips = {{0, tone, 0.0, 0.0, 0.0, spec.preEntryMs + spec.bars * 2000.0}};
      bank.objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)});
      Tools::BankMusicSegment segment;
      segment.id = Id(spec.name.c_str());
      segment.node.tempo = 120.0f;
      segment.node.gridPeriodMs = 250.0;
      segment.node.gridOffsetMs = 100.0;
      segment.node.overridesMeter = 1;
      segment.node.children = {track.id};
      segment.node.params.outputBusId = Id("Effects");
      segment.durationMs = spec.preEntryMs + spec.bars * 2000.0;
      segment.markers = {{1, spec.preEntryMs, ""}, {2, spec.preEntryMs + spec.bars * 2000.0, ""}};
      if (spec.userCue)
        segment.markers.insert(segment.markers.begin() + 1, {Id("Cue"), spec.preEntryMs + 3250.0, "Cue"});
      bank.objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)});
    }
    Tools::BankMusicPlaylist list;
    list.id = Id("List");
    for (const Tools::BankPlaylistRecord& record : music.playlist)
      if (record.segmentId && std::find(list.node.children.begin(), list.node.children.end(), record.segmentId) ==
                                  list.node.children.end())
        list.node.children.push_back(record.segmentId);
    for (const Tools::BankMusicRule& rule : music.rules)
      if (rule.hasSegment) list.node.children.push_back(rule.segmentId);
    std::sort(list.node.children.begin(), list.node.children.end());
    list.rules = music.rules;
    list.records = music.playlist;
    list.node.stingers = music.stingers;
    if (!music.playlist.empty())
      bank.objects.push_back({Tools::kBankMusicPlaylistType, Tools::MusicPlaylistPayload(list, false)});
    uint32_t target = Id("List");
    for (size_t i = music.switches.size(); i-- > 0;) {
      const SwitchSpec& spec = music.switches[i];
      Tools::BankMusicSwitch container;
      container.id = Id(i ? ("Mood" + std::to_string(i)).c_str() : "Mood");
      container.rules = spec.rules;
      container.continuePlaying = spec.continuePlaying;
      container.node.stingers = spec.stingers;
      for (const auto& [group, type] : spec.groups) {
        container.groupIds.push_back(Id(group.c_str()));
        container.groupTypes.push_back(type);
      }
      container.tree = TreeOf(spec.paths, spec.groups.size());
      for (const auto& path : spec.paths)
        if (std::find(container.node.children.begin(), container.node.children.end(), Id(path.back().c_str())) ==
            container.node.children.end())
          container.node.children.push_back(Id(path.back().c_str()));
      std::sort(container.node.children.begin(), container.node.children.end());
      bank.objects.push_back({Tools::kBankMusicSwitchType, Tools::MusicSwitchPayload(container, false)});
      target = container.id;
    }
    Tools::BankAction play;
    play.id = Id("Play_List.Play");
    play.type = 0x0403;
    play.target = target;
    play.bankId = bank.bankId;
    bank.objects.push_back({3, Tools::ActionPayload(play)});
    bank.objects.push_back({4, Tools::EventPayload(Id("Play_List"), {Id("Play_List.Play")})});
    if (std::none_of(bank.order.begin(), bank.order.end(),
                     [](const Tools::BankChunkRef& ref) { return ref.kind == Tools::BankChunkKind::Hierarchy; }))
      bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    LoadBankImage(bank);
  }

  uint32_t PlayList(uint32_t flags = 0, SnCallbackFunc callback = nullptr) {
    const uint32_t playingId = SoundEngine::PostEvent("Play_List", kObject, flags, callback);
    EXPECT_NE(playingId, 0u);
    return playingId;
  }

  // `body` for each case, each after the first in a fresh engine.
  template <typename Cases, typename Body>
  void ForEachFresh(const Cases& cases, Body&& body) {
    bool first = true;
    for (const auto& c : cases) {
      if (!first) {
        TearDown();
        SetUp();
      }
      first = false;
      body(c);
    }
  }

  // A switch inside a switch played: MusicMood turned Tense after 70 frames when asked, Surface set
  // to Run 10 frames later, `frames` rendered in all; the capture from its first sound (c0).
  void PlayNestedChanges(const MusicDescription& music, bool tense, uint32_t frames, std::vector<double>& plane,
                         size_t& c0) {
    LoadMusic(music);
    PlayList();
    Frames(70);
    if (tense) {
      ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
    }
    Frames(10);
    ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Run", kObject), SN_Success);
    Frames(frames - 80);
    plane = Capture();
    c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
  }
};

// A group record and its segment items, each of one loop.
std::vector<Tools::BankPlaylistRecord> Group(uint32_t mode, uint16_t loops, const std::vector<std::string>& segments) {
  std::vector<Tools::BankPlaylistRecord> records(1);
  records[0].itemId = 1;
  records[0].childCount = uint32_t(segments.size());
  records[0].playMode = mode;
  records[0].loopCount = loops;
  for (size_t i = 0; i < segments.size(); ++i) {
    Tools::BankPlaylistRecord item;
    item.segmentId = Id(segments[i].c_str());
    item.itemId = uint32_t(10 + i);
    records.push_back(item);
  }
  return records;
}

MusicDescription FourBars() {
  MusicDescription music;
  music.segments = {{"S1", 0.1}, {"S2", 0.2}, {"S3", 0.3}, {"S4", 0.4}};
  return music;
}

// One fixture, a suite for each kind of play (each its own CTest entry, so that no entry runs long):
// playlists, their rules' sync points and fades, random playlists, shuffled and weighted ones,
// switches, changes of a switch, switches by their rules and nested, stingers, stingers whose segment
// a switch cuts (a nested switch, or one that fades them, apart), seeks, and seeks over a playlist.
class MusicPlaylistPlayTest : public MusicInteractiveTest {};
class MusicPlaylistRulePlayTest : public MusicInteractiveTest {};
class MusicRandomPlayTest : public MusicInteractiveTest {
 protected:
  void ExpectTheModelsOrder(bool shuffle, uint16_t avoid, const std::vector<uint32_t>& weights);
};
class MusicShufflePlayTest : public MusicRandomPlayTest {};
class MusicWeightedPlayTest : public MusicRandomPlayTest {};
class MusicSwitchPlayTest : public MusicInteractiveTest {};
class MusicSwitchChangePlayTest : public MusicInteractiveTest {};
class MusicSwitchRulePlayTest : public MusicInteractiveTest {};
class MusicStingerPlayTest : public MusicInteractiveTest {};
class MusicStingerCutPlayTest : public MusicInteractiveTest {};
class MusicStingerNestedPlayTest : public MusicInteractiveTest {};
class MusicSeekPlayTest : public MusicInteractiveTest {};
class MusicSeekPlaylistPlayTest : public MusicInteractiveTest {};

// At the exit cue, the default rule, a continuous sequence played twice: each segment starts on the
// sample its predecessor ends, the eighth ends the play and silence follows.
TEST_F(MusicPlaylistPlayTest, ASequenceOfFourSegmentsPlaysTwiceBackToBackThenEnds) {
  MusicDescription music = FourBars();
  music.playlist = Group(0, 2, {"S1", "S2", "S3", "S4"});
  LoadMusic(music);
  PlayList();
  Frames(uint32_t(8 * kBar / kFrame) + 6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "the play ended with its last segment";
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(8 * kBar + 4 * kFrame),
               [](int64_t t) { return t < 8 * kBar ? 0.1 * double(1 + (t / kBar) % 4) : 0.0; });
}

// A rule from S1 to S2 through the transition segment T: T fills the bar between them.
TEST_F(MusicPlaylistPlayTest, ATransitionSegmentPlaysBetweenTheTwoSegmentsOfItsRule) {
  MusicDescription music = FourBars();
  music.segments.push_back({"T", 0.5});
  music.playlist = Group(0, 1, {"S1", "S2"});
  Tools::BankMusicRule rule;
  rule.sources = {Id("S1")};
  rule.destinations = {Id("S2")};
  rule.syncType = SnMusicSync_ExitCue;
  rule.hasSegment = true;
  rule.segmentId = Id("T");
  // Rule 0 is every container's default, from any to any.
  Tools::BankMusicRule any;
  any.sources = {kMusicAnyId};
  any.destinations = {kMusicAnyId};
  any.syncType = SnMusicSync_ExitCue;
  music.rules = {any, rule};
  LoadMusic(music);
  PlayList();
  Frames(uint32_t(3 * kBar / kFrame) + 6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(3 * kBar + 4 * kFrame), [](int64_t t) {
    return t < kBar ? 0.1 : t < 2 * kBar ? 0.5 : t < 3 * kBar ? 0.2 : 0.0;
  });
}

// A rule at the next bar of a 2-bar S1: S2 starts at the first bar line past S1's entry, and S1 stops
// there rather than playing on beneath it. A rule asking for a user cue S1 lacks leaves at its exit cue.
TEST_F(MusicPlaylistRulePlayTest, TheNextSegmentStartsAtItsRulesSyncPointOrAtTheExitWhenThereIsNone) {
  for (const uint32_t sync : {uint32_t(SnMusicSync_NextBar), uint32_t(SnMusicSync_NextUserCue)}) {
    SCOPED_TRACE(sync);
    if (sync != SnMusicSync_NextBar) {
      TearDown();
      SetUp();
    }
    MusicDescription music;
    music.segments = {{"S1", 0.1, 2}, {"S2", 0.2}};
    music.playlist = Group(0, 1, {"S1", "S2"});
    Tools::BankMusicRule rule;
    rule.sources = {kMusicAnyId};
    rule.destinations = {kMusicAnyId};
    rule.syncType = sync;
    music.rules = {rule};
    LoadMusic(music);
    PlayList();
    Frames(uint32_t(3 * kBar / kFrame) + 6);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    const int64_t leave = sync == SnMusicSync_NextBar ? kBar : 2 * kBar;
    ExpectLevels(plane, c0, size_t(leave + kBar + 4 * kFrame),
                 [&](int64_t t) { return t < leave ? 0.1 : t < leave + kBar ? 0.2 : 0.0; });
  }
}

// A fade-out longer than the source has played since its entry begins at the entry, shortened to end
// at the sync point as it would have: falling from full to nothing over the first bar.
TEST_F(MusicPlaylistRulePlayTest, AFadeOutThatWouldBeginBeforeTheEntryIsShortened) {
  MusicDescription music = FourBars();
  music.playlist = Group(0, 1, {"S1", "S2"});
  Tools::BankMusicRule rule;
  rule.sources = {kMusicAnyId};
  rule.destinations = {kMusicAnyId};
  rule.syncType = SnMusicSync_ExitCue;
  rule.fadeOut = {3000, SnCurve_Linear, 0};
  music.rules = {rule};
  LoadMusic(music);
  PlayList();
  Frames(uint32_t(2 * kBar / kFrame) + 6);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  const double full = 0.1 * kVoiceUnity * kCentreToPair * 32768.0;
  EXPECT_NEAR(plane[c0], full, 0.02 * full);
  for (int64_t t = 1; t < kBar; ++t) ASSERT_LE(plane[c0 + t], plane[c0 + t - 1] + 1.0) << t;
  // Halfway through the bar, halfway down: the fade lasts the bar, not the 3 s asked for.
  EXPECT_NEAR(plane[c0 + kBar / 2], full / 2, 0.03 * full);
  EXPECT_LT(plane[c0 + kBar - 1], 0.03 * full);
  ExpectLevels(plane, c0 + kBar, size_t(kBar), [](int64_t) { return 0.2; });
}

// A trigger in the first segment whose stinger waits for a user cue, which only the second segment
// has: with a look-ahead of one segment the stinger sounds from the second segment's cue, on its
// sample; without, the trigger does nothing.
TEST_F(MusicStingerPlayTest, AStingerWithoutItsSyncPointInTheSegmentLandsInTheNextOne) {
  for (const uint32_t lookAhead : {1u, 0u}) {
    SCOPED_TRACE(lookAhead);
    if (lookAhead == 0) {
      TearDown();
      SetUp();
    }
    MusicDescription music;
    music.segments = {{"S1", 0.1}, {"S2", 0.2, 3, true}, {"Sting", 0.125}};
    music.playlist = Group(0, 1, {"S1", "S2"});
    music.stingers = {{Id("Hit"), Id("Sting"), SnMusicSync_NextUserCue, 0, 1000, lookAhead}};
    LoadMusic(music);
    PlayList();
    Frames(70);
    ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
    Frames(uint32_t(4 * kBar / kFrame) + 6 - 70);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    // The cue is 156,000 into S2, which begins at the bar.
    const int64_t sting = kBar + 156000;
    ExpectLevels(plane, c0, size_t(4 * kBar + 4 * kFrame), [&](int64_t t) {
      const double level = t < kBar ? 0.1 : t < 4 * kBar ? 0.2 : 0.0;
      return level + (lookAhead && t >= sting && t < sting + kBar ? 0.125 : 0.0);
    });
  }
}

// Step sequence: each play plays the next child; the order chosen by one play is kept for the next.
TEST_F(MusicPlaylistPlayTest, AStepSequenceGoesOnFromOnePlayToTheNext) {
  MusicDescription music = FourBars();
  music.playlist = Group(1, 1, {"S1", "S2", "S3", "S4"});
  LoadMusic(music);
  for (int play = 0; play < 3; ++play) {
    PlayList();
    Frames(uint32_t(kBar / kFrame) + 4);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "one segment per play";
  }
  const std::vector<double> plane = Capture();
  // Each play's level is its segment's.
  std::vector<double> levels;
  for (size_t i = 0; i < plane.size(); ++i)
    if (plane[i] != 0.0 && (i == 0 || plane[i - 1] == 0.0)) levels.push_back(plane[i + 1000]);
  ASSERT_EQ(levels.size(), 3u);
  for (size_t k = 0; k < 3; ++k)
    EXPECT_NEAR(levels[k], 0.1 * double(k + 1) * kVoiceUnity * kCentreToPair * 32768.0, 1.0) << k;
}

// ---- switch containers ----

std::vector<uint32_t> g_syncPoints;  // frames of the switch notifications

void NoteSyncPoint(uint32_t type, SnCallbackInfo*) {
  if (type == 0x4000) g_syncPoints.push_back(g_frame);
}

// "Mood" on the state group MusicMood: Calm plays A, Tense plays B; rule 0 at `syncType`.
MusicDescription MoodSwitch(uint32_t syncType) {
  MusicDescription music;
  music.segments = {{"A", 0.25, 4, true}, {"B", 0.5, 4, true}};
  SwitchSpec mood;
  mood.groups = {{"MusicMood", 1}};
  mood.paths = {{"Calm", "A"}, {"Tense", "B"}};
  mood.rules = {AnyRule(syncType)};
  music.switches = {mood};
  return music;
}

// "Mood" on MusicMood over `outer` at the next bar, with its child "Mood1" on the object's Surface
// switch over `inner` at `innerSync`.
void AddNestedSwitches(MusicDescription& music, std::vector<std::vector<std::string>> outer,
                       std::vector<std::vector<std::string>> inner, uint32_t innerSync) {
  SwitchSpec mood;
  mood.groups = {{"MusicMood", 1}};
  mood.paths = std::move(outer);
  mood.rules = {AnyRule(SnMusicSync_NextBar)};
  SwitchSpec surface;
  surface.groups = {{"Surface", 0}};
  surface.paths = std::move(inner);
  surface.rules = {AnyRule(innerSync)};
  music.switches = {mood, surface};
}

// "Tense" set after 70 frames (71,680 samples) switches A to B on the sample of the rule's sync point
// in A: the next bar, beat, grid point (every 12,000 from 4,800), user cue or the exit cue; the
// switch's notification comes in the frame of that sample.
TEST_F(MusicSwitchPlayTest, ASwitchContainerChangesChildAtTheSampleOfItsSyncPoint) {
  const std::pair<uint32_t, int64_t> cases[] = {{SnMusicSync_NextBar, 96000},   {SnMusicSync_NextBeat, 72000},
                                                {SnMusicSync_NextGrid, 76800},  {SnMusicSync_NextUserCue, 156000},
                                                {SnMusicSync_ExitCue, 384000}};
  bool first = true;
  for (const auto& [sync, at] : cases) {
    SCOPED_TRACE(sync);
    if (!first) {
      TearDown();
      SetUp();
    }
    first = false;
    g_syncPoints.clear();
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    LoadMusic(MoodSwitch(sync));
    PlayList(0x4000, &NoteSyncPoint);
    const uint32_t start = g_frame;
    Frames(70);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
    Frames(uint32_t((at + kBar) / kFrame) - 70);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    ExpectLevels(plane, c0, size_t(at + kBar / 2), [&](int64_t t) { return t < at ? 0.25 : 0.5; });
    ASSERT_EQ(g_syncPoints.size(), 1u);
    EXPECT_EQ(g_syncPoints[0] - start, uint32_t(at / kFrame));
  }
}

// Ten changes, one every 30 frames, each at the next beat of the child playing: every child plays
// from its entry on the sample of its switch, and once the room of the contexts a switch makes and
// frees is settled, a switch takes no memory for good.
TEST_F(MusicSwitchChangePlayTest, SwitchAfterSwitchPlaysEachChildFromItsBeatAndKeepsNoMemory) {
  constexpr int64_t kBeat = 24000;
  constexpr uint32_t kChanges = 10;
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  LoadMusic(MoodSwitch(SnMusicSync_NextBeat));
  PlayList();
  std::vector<int64_t> switches;  // music time of each switch
  std::vector<uint32_t> used(kChanges);
  int64_t entered = 0;  // where the child playing began
  uint32_t frames = 0;
  for (uint32_t k = 0; k < kChanges; ++k) {
    const uint32_t at = 70 + 30 * k;
    Frames(at - frames);
    frames = at;
    MemoryMgr::PoolStats stats;
    ASSERT_EQ(MemoryMgr::GetPoolStats(g_DefaultPoolId, stats), SN_Success);
    used[k] = stats.usedBytes;
    ASSERT_EQ(SoundEngine::SetState("MusicMood", k % 2 ? "Calm" : "Tense"), SN_Success);
    const int64_t since = int64_t(at) * kFrame - entered;
    ASSERT_NE(since % kBeat, 0) << "a change on a beat would leave the model unsure";
    entered += (since / kBeat + 1) * kBeat;
    switches.push_back(entered);
  }
  Frames(uint32_t(switches.back() / kFrame) + 10 - frames);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(switches.back() + 5 * kFrame), [&](int64_t t) {
    uint32_t made = 0;
    while (made < kChanges && switches[made] <= t) ++made;
    return made % 2 ? 0.5 : 0.25;
  });
  // Before changes 4 and 8 the same child plays, the one before it gone: the same memory in use.
  EXPECT_EQ(used[8], used[4]);
  EXPECT_EQ(used[6], used[4]);
}

// Calm again before the sync point keeps A; continue-playing to the child playing changes nothing.
TEST_F(MusicSwitchChangePlayTest, AChangeSetBackBeforeItsSyncPointKeepsTheChildPlaying) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  LoadMusic(MoodSwitch(SnMusicSync_NextBar));
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(10);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  Frames(uint32_t(2 * kBar / kFrame) - 80);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(2 * kBar - 2 * kFrame), [](int64_t) { return 0.25; });
}

// A value that leads nowhere is silence, and the next that leads somewhere plays again.
TEST_F(MusicSwitchChangePlayTest, AValueThatResolvesToNothingIsSilence) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  LoadMusic(MoodSwitch(SnMusicSync_NextBar));
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Nowhere"), SN_Success);
  Frames(uint32_t(2 * kBar / kFrame) - 70);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(2 * kBar - 2 * kFrame), [](int64_t t) { return t < kBar ? 0.25 : 0.0; });
}

// Two arguments, a state and the game object's switch: each change resolves the whole tuple again; a
// switch set on another object is not heard.
TEST_F(MusicSwitchChangePlayTest, TwoArgumentsResolveTheirTupleAgainOnEachChange) {
  constexpr uint32_t kOther = 8;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kOther), SN_Success);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Walk", kObject), SN_Success);
  MusicDescription music;
  music.segments = {{"A", 0.25, 4}, {"B", 0.5, 4}, {"C", 0.125, 4}};
  SwitchSpec mood;
  mood.groups = {{"MusicMood", 1}, {"Surface", 0}};
  mood.paths = {{"Calm", "Walk", "A"}, {"Calm", "Run", "C"}, {"Tense", "*", "B"}};
  mood.rules = {AnyRule(SnMusicSync_NextBar)};
  music.switches = {mood};
  LoadMusic(music);
  PlayList();
  Frames(20);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Run", kOther), SN_Success);
  Frames(50);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Run", kObject), SN_Success);
  Frames(100);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(uint32_t(3 * kBar / kFrame) - 170);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  // Run at 71,680 takes the bar at 96,000 to C; Tense at 174,080 the bar at 192,000 to B (any surface).
  ExpectLevels(plane, c0, size_t(3 * kBar - 2 * kFrame),
               [](int64_t t) { return t < kBar ? 0.25 : t < 2 * kBar ? 0.125 : 0.5; });
}

// A switch inside a switch: while the outer one is between A's switch and B, a change of the inner
// one waits; the outer switch then leaves the inner one, which never switched.
TEST_F(MusicSwitchRulePlayTest, ANestedSwitchDefersItsChangeWhileItsParentSwitches) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Walk", kObject), SN_Success);
  MusicDescription music;
  music.segments = {{"A", 0.25, 4}, {"B", 0.5, 4}, {"C", 0.125, 4}};
  AddNestedSwitches(music, {{"Calm", "Mood1"}, {"Tense", "B"}}, {{"Walk", "A"}, {"Run", "C"}}, SnMusicSync_NextGrid);
  for (const bool outerSwitching : {true, false}) {
    SCOPED_TRACE(outerSwitching);
    if (!outerSwitching) {
      TearDown();
      SetUp();
      ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
      ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Walk", kObject), SN_Success);
    }
    std::vector<double> plane;
    size_t c0 = 0;
    PlayNestedChanges(music, outerSwitching, uint32_t(2 * kBar / kFrame), plane, c0);
    if (HasFatalFailure()) return;
    // Run at 81,920: the inner switch's next grid point is 88,800.
    ExpectLevels(plane, c0, size_t(2 * kBar - 2 * kFrame), [&](int64_t t) {
      if (outerSwitching) return t < kBar ? 0.25 : 0.5;
      return t < 88800 ? 0.25 : 0.125;
    });
  }
}

// ---- the game's music ----

// The game's tune plays the level music's playlist under the switch on Music_Mood; turned tense, it
// switches to the tense segment at the next bar of the level music, 96,000 samples after its entry.
TEST_F(MusicSwitchPlayTest, TheGamesTuneTurnsTenseAtTheNextBar) {
  std::filesystem::copy_file("Sound/Banks/GeneralBank.bnk", Path("GeneralBank.bnk"));
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success) << log_.Take();
  ASSERT_EQ(SoundEngine::SetState("Music_Mood", "Calm"), SN_Success);
  g_syncPoints.clear();
  ASSERT_NE(SoundEngine::PostEvent("Play_Tune", kObject, 0x4000, &NoteSyncPoint), 0u);
  const uint32_t start = g_frame;
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("Music_Mood", "Tense"), SN_Success);
  Frames(40);
  ASSERT_EQ(g_syncPoints.size(), 1u);
  EXPECT_EQ(g_syncPoints[0] - start, uint32_t(kBar / kFrame));
  ASSERT_NE(SoundEngine::PostEvent("Stop_Tune", kObject), 0u);
  Frames(30);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::string logged = log_.Take();
  EXPECT_EQ(logged.find("[ Error ]"), std::string::npos) << logged;
}

// ---- random playlists ----

// Continuous random (avoid-repeat 1), shuffle and weighted (one weight 0) groups of S1-S4 looping 4
// times play 16 segments after SetRandomSeed(7): in the order a second model of the draws gives, each
// a bar long, never the same twice running, each shuffle pass a permutation, the 0 weight never heard.
void MusicRandomPlayTest::ExpectTheModelsOrder(bool shuffle, uint16_t avoid, const std::vector<uint32_t>& weights) {
  MusicDescription music = FourBars();
  music.playlist = Group(2, 4, {"S1", "S2", "S3", "S4"});
  music.playlist[0].shuffle = shuffle;
  music.playlist[0].avoidRepeatCount = avoid;
  for (size_t i = 0; i < 4; ++i) music.playlist[i + 1].weight = weights[i];
  LoadMusic(music);
  ASSERT_EQ(SoundEngine::SetRandomSeed(7), SN_Success);
  PlayList();
  Frames(uint32_t(16 * kBar / kFrame) + 4);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());

  MusicModel::ModelRand rng{7};
  MusicModel::ModelRandomGroup model({weights.begin(), weights.end()}, weights[0] != 50000, shuffle, avoid);
  std::vector<size_t> order;
  for (int i = 0; i < 16; ++i) order.push_back(model.Pick(rng));
  ExpectLevels(plane, c0, size_t(16 * kBar), [&](int64_t t) { return 0.1 * double(order[size_t(t / kBar)] + 1); });
  for (size_t i = 1; i < order.size(); ++i) EXPECT_NE(order[i], order[i - 1]) << i;
  for (size_t i : order) EXPECT_NE(weights[i], 0u);
  if (shuffle)
    for (size_t pass = 0; pass < 16; pass += 4) {
      std::vector<size_t> one(order.begin() + long(pass), order.begin() + long(pass) + 4);
      std::sort(one.begin(), one.end());
      EXPECT_EQ(one, (std::vector<size_t>{0, 1, 2, 3})) << pass;
    }
}

TEST_F(MusicRandomPlayTest, RandomPlaylistsPlayTheOrderAModelOfTheDrawsGives) {
  ExpectTheModelsOrder(false, 1, {50000, 50000, 50000, 50000});
}

TEST_F(MusicShufflePlayTest, ShuffledPlaylistsPlayTheOrderAModelOfTheDrawsGives) {
  ExpectTheModelsOrder(true, 0, {50000, 50000, 50000, 50000});
}

TEST_F(MusicWeightedPlayTest, WeightedPlaylistsPlayTheOrderAModelOfTheDrawsGives) {
  ExpectTheModelsOrder(false, 1, {20000, 0, 30000, 70000});
}

// A switch whose rule has a transition segment: T plays the bar from the sync point, B follows at T's
// exit cue.
TEST_F(MusicSwitchRulePlayTest, ASwitchPlaysTheTransitionSegmentOfItsRuleBetweenTheChildren) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  MusicDescription music = MoodSwitch(SnMusicSync_NextBar);
  music.segments.push_back({"T", 0.125});
  Tools::BankMusicRule through = AnyRule(SnMusicSync_NextBar);
  through.sources = {Id("A")};
  through.destinations = {Id("B")};
  through.hasSegment = true;
  through.segmentId = Id("T");
  music.switches[0].rules.push_back(through);
  music.switches[0].paths.push_back({"Through", "T"});  // T is the switch's child too
  LoadMusic(music);
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(uint32_t(3 * kBar / kFrame) - 70);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(3 * kBar - 2 * kFrame),
               [](int64_t t) { return t < kBar ? 0.25 : t < 2 * kBar ? 0.125 : 0.5; });
}

// A trigger at 71,680 waits for A's cue (156,000) with the stinger Sting (a bar of 0.125); Tense set in
// the same frame switches to B at the bar (96,000), before the cue. With a look-ahead of one segment
// the stinger moves to B's cue (96,000 + 156,000), on its sample; without, it is not heard. Calm again
// before the bar keeps A, and the stinger at A's cue. A stinger for the very bar of the switch is
// B's from its first sample.
TEST_F(MusicStingerCutPlayTest, AStingerWhoseSegmentASwitchCutsMovesToTheNextChildOrGoes) {
  struct Case {
    const char* name;
    uint32_t lookAhead;
    bool setBack;
    int64_t sting;  // -1: none
    uint32_t sync = SnMusicSync_NextUserCue;
  };
  const Case cases[] = {{"moved to B's cue", 1, false, kBar + 156000},
                        {"no look-ahead: gone", 0, false, -1},
                        {"switch called off: at A's cue", 1, true, 156000},
                        {"at the switch's own bar: B's first", 1, false, kBar, SnMusicSync_NextBar}};
  ForEachFresh(cases, [&](const Case& c) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    MusicDescription music = MoodSwitch(SnMusicSync_NextBar);
    music.segments.push_back({"Sting", 0.125});
    music.switches[0].stingers = {{Id("Hit"), Id("Sting"), c.sync, 0, 1000, c.lookAhead}};
    LoadMusic(music);
    PlayList();
    Frames(70);
    ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
    Frames(10);
    if (c.setBack) {
      ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    }
    Frames(uint32_t(4 * kBar / kFrame) - 80);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    ExpectLevels(plane, c0, size_t(4 * kBar - 2 * kFrame), [&](int64_t t) {
      const double level = c.setBack || t < kBar ? 0.25 : 0.5;
      return level + (c.sting >= 0 && t >= c.sting && t < c.sting + kBar ? 0.125 : 0.0);
    });
  });
}

// The same inside a switch inside a switch: Run switches the inner one from A to C at the bar, and the
// stinger the outer one gives for A's cue moves to C's.
TEST_F(MusicStingerNestedPlayTest, AStingerCutByANestedSwitchMovesToItsNextChild) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Walk", kObject), SN_Success);
  MusicDescription music;
  music.segments = {{"A", 0.25, 4, true}, {"B", 0.5, 4}, {"C", 0.125, 4, true}, {"Sting", 0.0625}};
  AddNestedSwitches(music, {{"Calm", "Mood1"}, {"Tense", "B"}}, {{"Walk", "A"}, {"Run", "C"}}, SnMusicSync_NextBar);
  music.switches[0].stingers = {{Id("Hit"), Id("Sting"), SnMusicSync_NextUserCue, 0, 1000, 1}};
  LoadMusic(music);
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
  ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Run", kObject), SN_Success);
  Frames(uint32_t(4 * kBar / kFrame) - 70);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  constexpr int64_t kSting = kBar + 156000;
  ExpectLevels(plane, c0, size_t(4 * kBar - 2 * kFrame), [](int64_t t) {
    return (t < kBar ? 0.25 : 0.125) + (t >= kSting && t < kSting + kBar ? 0.0625 : 0.0);
  });
}

// The mood switch at `syncType` with a stinger "Hit" at `stingerSync`, not again within a second,
// whose segment has 500 ms before its entry.
MusicDescription MoodSwitchWithPreEntryStinger(uint32_t syncType, uint32_t stingerSync) {
  MusicDescription music = MoodSwitch(syncType);
  SegmentSpec sting{"Sting", 0.125};
  sting.preEntryMs = 500.0;
  music.segments.push_back(sting);
  music.switches[0].stingers = {{Id("Hit"), Id("Sting"), stingerSync, 0, 1000, 0}};
  return music;
}

// The stinger's segment has 500 ms before its entry: for A's cue (156,000) it sounds from 132,000.
// Tense at 133,120 switches at the next beat (144,000), in the frame from 143,360: the stinger, cut
// while sounding, fades out over as long as it has sounded (11,360 samples, 237 ms) and B plays on.
TEST_F(MusicStingerNestedPlayTest, AStingerSoundingWhenASwitchCutsItsSegmentFadesOverTheTimeItPlayed) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  LoadMusic(MoodSwitchWithPreEntryStinger(SnMusicSync_NextBeat, SnMusicSync_NextUserCue));
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
  Frames(60);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(uint32_t(3 * kBar / kFrame) - 130);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u) << "B's voice alone: the stinger's has gone";
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  constexpr int64_t kSwitch = 144000, kCutFrame = 143360, kFade = 11360;
  const auto base = [](int64_t t) { return t < kSwitch ? 0.25 : 0.5; };
  ExpectLevels(plane, c0, size_t(kCutFrame), [&](int64_t t) { return base(t) + (t >= 132000 ? 0.125 : 0.0); });
  // The fade, a frame's steps at most late, never rises; then B alone.
  const double unit = kVoiceUnity * kCentreToPair * 32768.0;
  const int64_t faded = kCutFrame + kFade + 2 * kFrame;
  double previous = 0.125 * unit;
  for (int64_t t = kCutFrame; t < faded; ++t) {
    const double sting = plane[c0 + size_t(t)] - base(t) * unit;
    ASSERT_GE(sting, -1.0) << t;
    ASSERT_LE(sting, previous + 1.0) << t;
    previous = sting;
  }
  EXPECT_GT(plane[c0 + kCutFrame + kFade / 2] - 0.5 * unit, 0.02 * unit) << "still fading halfway";
  for (int64_t t = faded; t < 3 * kBar - 2 * kFrame; ++t)
    ASSERT_NEAR(plane[c0 + size_t(t)], 0.5 * unit, 1.0) << "music time " << t;
}

// A stinger with 500 ms before its entry, at the next beat, not again within a second: a trigger
// after 70 frames sounds it from 72,000 (its entry at 96,000) to the end of its bar (192,000); one
// after 100 frames is a repeat (until 144,000) and adds nothing; one after 150 frames sounds it again
// from 168,000 (its entry at 192,000), over the end of the first.
TEST_F(MusicStingerPlayTest, AStingerWithAPreEntrySoundsFromItAndRepeatsOnlyAfterItsTime) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  LoadMusic(MoodSwitchWithPreEntryStinger(SnMusicSync_NextBar, SnMusicSync_NextBeat));
  PlayList();
  uint32_t done = 0;
  for (const uint32_t at : {70u, 100u, 150u}) {
    Frames(at - done);
    done = at;
    ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
  }
  Frames(uint32_t(3 * kBar / kFrame) - done);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  ExpectLevels(plane, c0, size_t(3 * kBar - 2 * kFrame), [](int64_t t) {
    const int stings = int(t >= 72000 && t < 192000) + int(t >= 168000 && t < 288000);
    return 0.25 + 0.125 * stings;
  });
}

// ---- seeks and jumps on a switch ----

struct HeardCallback {
  uint32_t type;
  uint32_t frame;
};
std::vector<HeardCallback> g_callbacks;

void NoteCallback(uint32_t type, SnCallbackInfo*) { g_callbacks.push_back({type, g_frame}); }

// A seek of the play by time or by fraction, and where it lands in what plays (-1: refused).
struct SeekCase {
  const char* name;
  bool percent;
  int32_t ms;
  float fraction;
  int64_t lands;
  bool snap = false;
};

void SeekList(const SeekCase& c) {
  if (c.percent) {
    ASSERT_EQ(SoundEngine::SeekOnEvent("Play_List", kObject, c.fraction, c.snap), SN_Success);
  } else {
    ASSERT_EQ(SoundEngine::SeekOnEvent("Play_List", kObject, c.ms, c.snap), SN_Success);
  }
}

// A seek on the switch's play restarts the child it follows at the position, from the play's next
// sample: by time (2,000 ms, the second bar), by fraction of the active part (a half, the third bar,
// or with snapping the nearest marker, the cue); the cue's callback comes where the seek puts the
// cue. A seek past the child's end, or a negative
// one (which counts as 0), is no fault: the first leaves the music as it was, the second restarts A.
TEST_F(MusicSeekPlayTest, ASeekOnASwitchPlayRestartsItsChildWhereItSays) {
  const SeekCase cases[] = {{"2000 ms", false, 2000, 0.0f, kBar},
                        {"half", true, 0, 0.5f, 2 * kBar},
                        {"half, to the nearest marker: the cue", true, 0, 0.5f, 156000, true},
                        {"past the end", false, INT32_MAX, 0.0f, -1},
                        {"negative", false, -500, 0.0f, 0}};
  ForEachFresh(cases, [&](const SeekCase& c) {
    SCOPED_TRACE(c.name);
    g_callbacks.clear();
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    MusicDescription music = MoodSwitch(SnMusicSync_NextBar);
    music.segments[0].ramp = true;
    LoadMusic(music);
    PlayList(SnCallback_MusicSyncUserCue | SnCallback_MusicPlayStarted, &NoteCallback);
    const uint32_t start = g_frame;
    Frames(70);
    SeekList(c);
    Frames(200);
    std::vector<double> plane = Capture();
    size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    c0 -= c0 % kFrame;  // the ramp's first sample is 0
    const int64_t seekAt = 70 * kFrame;
    const int64_t lands = c.lands < 0 ? seekAt : c.lands;
    // A is 4 bars long: after its end the switch ends too.
    ExpectLevels(plane, c0, size_t(190 * kFrame), [&](int64_t t) {
      const int64_t at = t < seekAt ? t : lands + (t - seekAt);
      return at < 4 * kBar ? Ramp(at) : 0.0;
    }, 1.5);
    // A refusal is told as such, not as a child that cannot play.
    const std::string logged = log_.Take();
    EXPECT_EQ(logged.find("cannot be sought there") != std::string::npos, c.lands < 0) << logged;
    EXPECT_EQ(logged.find("silence instead"), std::string::npos) << logged;
    // The play began, began again where a seek was taken, and met the cue where the play then was
    // (a seek past the cue never meets it).
    std::vector<HeardCallback> expected = {{SnCallback_MusicPlayStarted, start}};
    if (c.lands >= 0) expected.push_back({SnCallback_MusicPlayStarted, start + 70});
    if (lands <= 156000) {
      const int64_t cueAt = c.lands < 0 ? 156000 : seekAt + 156000 - lands;
      expected.push_back({SnCallback_MusicSyncUserCue, start + uint32_t(cueAt / kFrame)});
    }
    ASSERT_EQ(g_callbacks.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(g_callbacks[i].type, expected[i].type) << i;
      EXPECT_EQ(g_callbacks[i].frame, expected[i].frame) << i;
    }
  });
}

// A trigger at 71,680 waits for A's cue (156,000 on the play's clock) with the look-ahead of one
// segment; a seek in the same frame restarts A 2,000 ms in, which puts the cue at 71,680 + 60,000:
// the stinger follows the cue of the A that plays.
TEST_F(MusicSeekPlayTest, AStingerPendingWhenASeekRestartsTheChildComesAtTheCueOfTheNewOne) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  MusicDescription music = MoodSwitch(SnMusicSync_NextBar);
  music.segments.push_back({"Sting", 0.125});
  music.switches[0].stingers = {{Id("Hit"), Id("Sting"), SnMusicSync_NextUserCue, 0, 1000, 1}};
  LoadMusic(music);
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
  SeekList({"2000 ms", false, 2000, 0.0f, kBar});
  Frames(uint32_t(3 * kBar / kFrame) - 70);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  constexpr int64_t kSting = 70 * kFrame + 60000;
  ExpectLevels(plane, c0, size_t(3 * kBar - 2 * kFrame),
               [&](int64_t t) { return 0.25 + (t >= kSting && t < kSting + kBar ? 0.125 : 0.0); });
}

// "Tense" leads to the playlist of S1-S4, by a rule that jumps to its third item: S3 is heard from
// the bar at which A is left, on the sample, then S4, and the play ends with the playlist. A rule
// naming an item the playlist lacks is a fault of the bank: logged, and silence in its place.
TEST_F(MusicSwitchRulePlayTest, ASwitchToAPlaylistByAJumpingRuleStartsAtThatItem) {
  const uint32_t items[] = {12, 99};
  ForEachFresh(items, [&](uint32_t item) {
    SCOPED_TRACE(item);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    MusicDescription music = FourBars();
    music.segments.push_back({"A", 0.25, 4});
    music.playlist = Group(0, 1, {"S1", "S2", "S3", "S4"});
    SwitchSpec mood;
    mood.groups = {{"MusicMood", 1}};
    mood.paths = {{"Calm", "A"}, {"Tense", "List"}};
    Tools::BankMusicRule jump = AnyRule(SnMusicSync_NextBar);
    jump.destinations = {Id("List")};
    jump.jumpToItem = item;
    mood.rules = {AnyRule(SnMusicSync_NextBar), jump};
    music.switches = {mood};
    LoadMusic(music);
    PlayList();
    Frames(70);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
    Frames(uint32_t(3 * kBar / kFrame) + 6 - 70);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    const std::string logged = log_.Take();
    EXPECT_EQ(logged.find("has no item 99") != std::string::npos, item == 99) << logged;
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    ExpectLevels(plane, c0, size_t(3 * kBar + 4 * kFrame), [&](int64_t t) {
      if (item == 99) return t < kBar ? 0.25 : 0.0;
      return t < kBar ? 0.25 : t < 2 * kBar ? 0.3 : t < 3 * kBar ? 0.4 : 0.0;
    });
  });
}

// A playlist that has not played yet offers no sync point. The outer switch goes from A to the inner
// one at the bar; the inner one, on its playlist, is told to go to C (at the exit cue) before that
// bar: the change, deferred while the outer switch is under way, comes when the playlist has not been
// heard, and C follows A on the bar rather than after a bar of S1 nobody asked for. Once the playlist
// plays, its cues count again: the same change then waits for S1's exit.
TEST_F(MusicSwitchRulePlayTest, APlaylistThatHasNotPlayedOffersNoSyncPoint) {
  for (const bool heard : {false, true}) {
    SCOPED_TRACE(heard);
    if (heard) {
      TearDown();
      SetUp();
    }
    ASSERT_EQ(SoundEngine::SetState("MusicMood", heard ? "Tense" : "Calm"), SN_Success);
    ASSERT_EQ(SoundEngine::SetSwitch("Surface", "Walk", kObject), SN_Success);
    MusicDescription music = FourBars();
    music.segments.push_back({"A", 0.25, 4});
    music.segments.push_back({"C", 0.125, 4});
    music.playlist = Group(0, 1, {"S1", "S2", "S3", "S4"});
    AddNestedSwitches(music, {{"Calm", "A"}, {"Tense", "Mood1"}}, {{"Walk", "List"}, {"Run", "C"}},
                      SnMusicSync_ExitCue);
    std::vector<double> plane;
    size_t c0 = 0;
    PlayNestedChanges(music, !heard, uint32_t(3 * kBar / kFrame), plane, c0);
    if (HasFatalFailure()) return;
    ExpectLevels(plane, c0, size_t(3 * kBar - 2 * kFrame), [&](int64_t t) {
      if (heard) return t < kBar ? 0.1 : 0.125;
      return t < kBar ? 0.25 : 0.125;
    });
  }
}

// A seek on a switch that plays a playlist counts from the first segment's entry: 3,000 ms lies half
// way into S2, so S1 is let go and S2 is heard from its middle (or, snapped, from its entry), then S3
// and S4 on their bars; a quarter is a fraction of the first segment alone. A seek past everything
// the playlist holds is refused and the playlist plays on.
TEST_F(MusicSeekPlaylistPlayTest, ASeekOnASwitchPlayingAPlaylistLetsGoOfTheSegmentsItLiesPast) {
  const SeekCase cases[] = {{"3000 ms", false, 3000, 0.0f, kBar + kBar / 2},
                        {"a quarter", true, 0, 0.25f, kBar / 4},
                        {"3000 ms, to the nearest marker: S2's entry", false, 3000, 0.0f, kBar, true},
                        {"past the playlist", false, 60000, 0.0f, -1}};
  ForEachFresh(cases, [&](const SeekCase& c) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
    MusicDescription music = FourBars();
    music.playlist = Group(0, 1, {"S1", "S2", "S3", "S4"});
    SwitchSpec mood;
    mood.groups = {{"MusicMood", 1}};
    mood.paths = {{"Calm", "List"}};
    mood.rules = {AnyRule(SnMusicSync_NextBar)};
    music.switches = {mood};
    LoadMusic(music);
    PlayList();
    Frames(20);
    SeekList(c);
    Frames(uint32_t(4 * kBar / kFrame) + 4 - 20);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
    const int64_t seekAt = 20 * kFrame;
    const int64_t lands = c.lands < 0 ? seekAt : c.lands;
    ExpectLevels(plane, c0, size_t(4 * kBar - lands + seekAt + 2 * kFrame), [&](int64_t t) {
      const int64_t at = t < seekAt ? t : lands + (t - seekAt);
      return at < 4 * kBar ? 0.1 * double(1 + at / kBar) : 0.0;
    });
  });
}

// A seek in the middle of a switch restarts the child being switched to: "Tense" asks for B at the
// next bar, and a seek of 2,000 ms before that bar plays B from its second bar at once.
TEST_F(MusicSeekPlayTest, ASeekDuringASwitchRestartsTheChildSwitchedTo) {
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  MusicDescription music = MoodSwitch(SnMusicSync_NextBar);
  music.segments[0].ramp = true;
  LoadMusic(music);
  PlayList();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(10);
  SeekList({"2000 ms", false, 2000, 0.0f, kBar});
  Frames(uint32_t(2 * kBar / kFrame) - 80);
  std::vector<double> plane = Capture();
  size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, plane.size());
  c0 -= c0 % kFrame;  // the ramp's first sample is 0
  const int64_t seekAt = 80 * kFrame;
  ExpectLevels(plane, c0, size_t(2 * kBar - 2 * kFrame), [&](int64_t t) { return t < seekAt ? Ramp(t) : 0.5; }, 1.5);
}

}  // namespace
