// The random/sequence and switch containers read from banks the bank writer makes: playlist trees,
// decision trees, the bounds a damaged block meets, and the switch container's preparation of the
// children its prepared values select.
#include "MusicEngine/MusicContainers.h"
#include "SoundEngine/PoolObject.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using MusicTest::Segment120;
using MusicTest::CountingSegment;
using Tools::BankPlaylistRecord;

using MusicTest::Group;
using MusicTest::Item;

class MusicContainerTest : public MusicTest::MusicFixture {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.gameSyncPreparation = true; }

  SN::SNRESULT LoadPlaylist(const Tools::BankMusicPlaylist& playlist) {
    return LoadBank({{Tools::kBankMusicPlaylistType, Tools::MusicPlaylistPayload(playlist, false)}});
  }
  SN::SNRESULT LoadSwitch(const Tools::BankMusicSwitch& container) {
    return LoadBank({{Tools::kBankMusicSwitchType, Tools::MusicSwitchPayload(container, false)}});
  }
  // One state group argument: value 0 (default) -> 81, 5 -> 82, 6 -> 83.
  static Tools::BankMusicSwitch StateSwitch(uint32_t id, uint32_t group, uint32_t sixChild = 83) {
    Tools::BankMusicSwitch container;
    container.id = id;
    container.groupIds = {group};
    container.groupTypes = {1};
    Tools::BankSwitchTreeNode root;
    root.leaf = false;
    root.firstChild = 1;
    root.childCount = 3;
    Tools::BankSwitchTreeNode a, b, c;
    a.key = 0, a.childId = 81;
    b.key = 5, b.childId = 82;
    c.key = 6, c.childId = sixChild;
    container.tree = {root, a, b, c};
    return container;
  }
};

TEST_F(MusicContainerTest, APlaylistTreeIsBuiltDepthFirstWithWeightsAndSegmentMarks) {
  ASSERT_EQ(LoadBank({SegmentObject(Segment120(10)), SegmentObject(Segment120(11))}), SN::SN_Success);
  Tools::BankMusicPlaylist playlist;
  playlist.id = 300;
  playlist.node.children = {10, 11};
  BankPlaylistRecord root = Group(1, 3, SN::SnMusicPlaylist_StepRandom);
  root.avoidRepeatCount = 2;
  root.shuffle = 1;
  BankPlaylistRecord looped = Item(2, 10);
  looped.loopCount = 3;
  looped.loopMinOffset = -1;
  looped.loopMaxOffset = -1;
  playlist.records = {root, looped, Group(3, 1), Item(4, 11, 20000), Group(5, 0)};
  ASSERT_EQ(LoadPlaylist(playlist), SN::SN_Success);
  const auto* container = Find<SN::CSnMusicPlaylistContainer>(300);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container->ChildCount(), 2u);
  const SN::CSnMusicPlaylistGroup& tree = container->Playlist();
  EXPECT_EQ(tree.itemId, 1u);
  EXPECT_EQ(tree.playMode, uint32_t(SN::SnMusicPlaylist_StepRandom));
  EXPECT_EQ(tree.avoidRepeatCount, 2u);
  EXPECT_TRUE(tree.shuffle);
  EXPECT_TRUE(tree.hasSegment);
  EXPECT_FALSE(tree.usesWeights);
  ASSERT_EQ(tree.ChildCount(), 3u);
  ASSERT_TRUE(tree.Child(0)->IsSegmentItem());
  EXPECT_EQ(static_cast<const SN::CSnMusicPlaylistItem*>(tree.Child(0))->segmentId, 10u);
  EXPECT_EQ(tree.Child(0)->loopMinOffset, -1);
  const auto* inner = static_cast<const SN::CSnMusicPlaylistGroup*>(tree.Child(1));
  ASSERT_FALSE(inner->IsSegmentItem());
  EXPECT_EQ(inner->parent, &tree);
  EXPECT_TRUE(inner->usesWeights);
  EXPECT_TRUE(inner->hasSegment);
  const auto* empty = static_cast<const SN::CSnMusicPlaylistGroup*>(tree.Child(2));
  EXPECT_EQ(empty->ChildCount(), 0u);
  EXPECT_FALSE(empty->hasSegment);
  // A playlist of no records loads empty.
  Tools::BankMusicPlaylist none;
  none.id = 301;
  EXPECT_EQ(LoadPlaylist(none), SN::SN_Success);
  EXPECT_EQ(Find<SN::CSnMusicPlaylistContainer>(301)->Playlist().ChildCount(), 0u);
}

TEST_F(MusicContainerTest, DeepOrMiscountedPlaylistsFailTheLoad) {
  // 64 nested groups load; 65 do not.
  for (uint32_t depth : {64u, 65u}) {
    Tools::BankMusicPlaylist playlist;
    playlist.id = 400 + depth;
    playlist.records.push_back(Group(1, 1));
    for (uint32_t level = 1; level < depth; ++level) playlist.records.push_back(Group(level + 1, 1));
    playlist.records.push_back(Item(999, 10));
    playlist.records.back().childCount = 0;
    ASSERT_EQ(LoadBank({SegmentObject(Segment120(10))}, 4000 + depth), SN::SN_Success);
    EXPECT_EQ(LoadPlaylist(playlist), depth == 64 ? SN::SN_Success : SN::SN_Failure) << depth;
    EXPECT_EQ(Find(playlist.id) != nullptr, depth == 64);
    EXPECT_EQ(Unload(4000 + depth), SN::SN_Success);
  }
  EXPECT_TRUE(Logged("groups nest deeper than 64 levels"));
  // A group counting more children than records follow it.
  Tools::BankMusicPlaylist miscounted;
  miscounted.id = 500;
  miscounted.records = {Group(1, 1), Group(2, 7)};
  EXPECT_EQ(LoadPlaylist(miscounted), SN::SN_Failure);
  EXPECT_TRUE(Logged("7 children but 0 records left"));
  // A record count the object cannot hold.
  std::vector<uint8_t> bytes = Tools::MusicPlaylistPayload(miscounted, false);
  const uint32_t huge = 0x08000000u;
  memcpy(bytes.data() + bytes.size() - 2 * 30 - 4, &huge, sizeof huge);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicPlaylistType, bytes}}), SN::SN_Failure);
  EXPECT_TRUE(Logged("playlist records cannot fit"));
  EXPECT_EQ(Find(500), nullptr);
}

TEST_F(MusicContainerTest, ASwitchKeepsItsArgumentsAndRefusesTreesThatLoopOrRunPastTheirNodes) {
  Tools::BankMusicSwitch container = StateSwitch(600, 31);
  container.continuePlaying = 0;
  container.treeMode = 1;
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  const auto* loaded = Find<SN::CSnMusicSwitchContainer>(600);
  ASSERT_NE(loaded, nullptr);
  EXPECT_FALSE(loaded->ContinuePlaying());
  EXPECT_EQ(loaded->ArgumentCount(), 1u);
  EXPECT_EQ(loaded->ArgumentGroup(0), 31u);
  EXPECT_EQ(loaded->ArgumentGroupType(0), 1u);
  EXPECT_EQ(loaded->TreeMode(), 1u);
  EXPECT_EQ(loaded->ResolveSingleArgument(5), 82u);
  EXPECT_EQ(loaded->ResolveSingleArgument(7), 0u);
  container.id = 601;
  container.continuePlaying = 7;
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  EXPECT_TRUE(Find<SN::CSnMusicSwitchContainer>(601)->ContinuePlaying());

  struct Case {
    const char* what;
    void (*damage)(Tools::BankMusicSwitch&);
  };
  const Case cases[] = {
      {"children before their parent", [](Tools::BankMusicSwitch& c) { c.tree[0].firstChild = 0; }},
      {"children past the nodes", [](Tools::BankMusicSwitch& c) { c.tree[0].childCount = 4; }},
      {"a node of two parents",
       [](Tools::BankMusicSwitch& c) {
         c.groupIds = {31, 32};
         c.groupTypes = {1, 0};
         c.tree[1].leaf = c.tree[2].leaf = false;
         c.tree[1].firstChild = c.tree[2].firstChild = 3;
         c.tree[1].childCount = c.tree[2].childCount = 1;
       }},
  };
  uint32_t id = 610;
  for (const Case& c : cases) {
    Tools::BankMusicSwitch damaged = StateSwitch(id, 31);
    c.damage(damaged);
    EXPECT_EQ(LoadSwitch(damaged), SN::SN_Failure) << c.what;
    EXPECT_EQ(Find(id++), nullptr) << c.what;
  }
  // An argument count past the bytes; a tree of a part of a node.
  std::vector<uint8_t> bytes = Tools::MusicSwitchPayload(StateSwitch(620, 31), false);
  const size_t countAt = bytes.size() - 4 * 12 - 1 - 4 - 1 - 4 - 4;
  const uint32_t huge = 0x20000000u;
  std::vector<uint8_t> counted = bytes;
  memcpy(counted.data() + countAt, &huge, sizeof huge);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicSwitchType, counted}}), SN::SN_Failure);
  EXPECT_TRUE(Logged("arguments cannot fit"));
  std::vector<uint8_t> partial = bytes;
  const uint32_t odd = 4 * 12 - 2;
  memcpy(partial.data() + bytes.size() - 4 * 12 - 1 - 4, &odd, sizeof odd);
  EXPECT_EQ(LoadBank({{Tools::kBankMusicSwitchType, partial}}), SN::SN_Failure);
  EXPECT_EQ(Find(620), nullptr);
}

TEST_F(MusicContainerTest, PreparationFollowsTheDefaultPathAndPreparedValuesAndUndoesAFailure) {
  CountingSegment* byDefault = Counting(81);
  CountingSegment* five = Counting(82);
  CountingSegment* six = Counting(83);
  Tools::BankMusicSwitch container = StateSwitch(700, 31);
  container.node.children = {81, 82, 83};
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  auto* loaded = Find<SN::CSnMusicSwitchContainer>(700);
  ASSERT_NE(loaded, nullptr);

  // No value prepared: the default path only; a second preparation only counts.
  ASSERT_EQ(loaded->PrepareData(), SN::SN_Success);
  ASSERT_EQ(loaded->PrepareData(), SN::SN_Success);
  EXPECT_EQ(loaded->PreparationCount(), 2u);
  EXPECT_EQ(byDefault->prepared, 1);
  EXPECT_EQ(five->prepared, 0);
  // A value prepared later reaches its child through the registry.
  ASSERT_EQ(SN::g_pStateMgr->PrepareGameSyncValue(SN::SnGameSyncGroup_State, 31, 5, true), SN::SN_Success);
  EXPECT_EQ(five->prepared, 1);
  loaded->UnprepareData();
  EXPECT_EQ(byDefault->prepared + five->prepared, 2);
  loaded->UnprepareData();
  EXPECT_EQ(byDefault->prepared + five->prepared + six->prepared, 0);
  // Unprepared once too often: nothing of it is held, nothing goes.
  byDefault->prepared = 7;
  loaded->UnprepareData();
  EXPECT_EQ(byDefault->prepared, 7);
  byDefault->prepared = 0;

  // Value 6 selects a child no bank holds: the default child and value 5's go again.
  Tools::BankMusicSwitch broken = StateSwitch(701, 31, 999);
  broken.node.params.parentId = 0;
  ASSERT_EQ(LoadSwitch(broken), SN::SN_Success);
  ASSERT_EQ(SN::g_pStateMgr->PrepareGameSyncValue(SN::SnGameSyncGroup_State, 31, 6, true), SN::SN_Success);
  auto* failing = Find<SN::CSnMusicSwitchContainer>(701);
  EXPECT_EQ(failing->PrepareData(), SN::SN_Failure);
  EXPECT_EQ(failing->PreparationCount(), 0u);
  EXPECT_EQ(byDefault->prepared + five->prepared + six->prepared, 0);
  ASSERT_EQ(SN::g_pStateMgr->PrepareGameSyncValue(SN::SnGameSyncGroup_State, 31, 5, false), SN::SN_Success);
  ASSERT_EQ(SN::g_pStateMgr->PrepareGameSyncValue(SN::SnGameSyncGroup_State, 31, 6, false), SN::SN_Success);
}

}  // namespace
