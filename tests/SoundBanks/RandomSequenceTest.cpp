// Random/sequence containers read from banks and played through the real play road into a
// recording leaf player: weighted draws, the avoid-repeat history, shuffle cycles, sequences and
// ping-pong, scopes, settings that stop a played container, and the loop and transition offsets.
// Draws are checked pick by pick against a small second model of the engine's 15-bit generator.
#include <algorithm>
#include <cmath>
#include <set>

#include "Base/MathUtil.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/ContainerWriter.h"

namespace {

using namespace HierarchyTest;
using SN::CSnRandomSequenceContainer;

constexpr uint32_t kRandomContainer = 50;

class RandomSequenceTest : public HierarchyFixture {
 protected:
  void SetUp() override {
    HierarchyFixture::SetUp();
    Base::SeedRand15(1234);
  }
  void TearDown() override {
    HierarchyFixture::TearDown();
    Base::SeedRand15(1);
  }
  // Sounds 11.. (media 101..) under container 50 with the weights given, one play-list entry each.
  SN::SNRESULT LoadContainer(Tools::BankRandomSequence container, const std::vector<uint32_t>& weights,
                             const Tools::BankNodeParams& params = {}) {
    std::vector<Tools::BankObject> objects;
    for (uint32_t i = 0; i < weights.size(); ++i) {
      objects.push_back(SoundObject(11 + i, MemorySource(101 + i, 64)));
      container.children.push_back(11 + i);
      container.playlist.push_back({11 + i, weights[i]});
    }
    objects.push_back(
        {Tools::kBankRandomSequenceType, Tools::RandomSequencePayload(kRandomContainer, params, container)});
    return Load(objects);
  }
  CSnRandomSequenceContainer* Container() { return Find<CSnRandomSequenceContainer>(kRandomContainer, false); }
  // The item index of each of `count` plays.
  std::vector<int> Plays(uint32_t count, SN::CSnRegisteredObj* object = nullptr, SN::SNRESULT expected = SN::SN_Success) {
    std::vector<int> picks;
    for (uint32_t i = 0; i < count; ++i) {
      SN::CSnPlayParams params;
      params.gameObject = object;
      const size_t before = player_.plays.size();
      EXPECT_EQ(Container()->Play(params), expected);
      if (player_.plays.size() > before) picks.push_back(int(player_.plays.back().sourceId) - 101);
    }
    return picks;
  }
};

Tools::BankRandomSequence Random(uint16_t avoid = 0, uint8_t randomType = 0) {
  Tools::BankRandomSequence container;
  container.avoidRepeat = avoid;
  container.randomType = randomType;
  return container;
}

Tools::BankRandomSequence Sequence(bool pingPong) {
  Tools::BankRandomSequence container;
  container.playMode = 1;
  container.flags = uint8_t(0x12 | (pingPong ? 0x04 : 0));
  return container;
}

TEST_F(RandomSequenceTest, SequencesWrapOrTurnBack) {
  ASSERT_EQ(LoadContainer(Sequence(true), {50000, 50000, 50000}), SN::SN_Success);
  EXPECT_EQ(Plays(7), (std::vector<int>{0, 1, 2, 1, 0, 1, 2}));
  Container()->SetPingPong(false);
  EXPECT_EQ(Plays(6), (std::vector<int>{0, 1, 2, 0, 1, 2}));

  // Ping-pong over one item repeats it rather than stepping before the list.
  SN::CSnSequencePlaylistState single;
  uint16_t index = 7;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(single.Select(1, true, nullptr, index));
    EXPECT_EQ(index, 0u);
  }
}

TEST_F(RandomSequenceTest, OneItemPlaysWithoutAnyState) {
  ASSERT_EQ(LoadContainer(Random(3), {50000}), SN::SN_Success);
  EXPECT_EQ(Plays(3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Container()->StateOf(nullptr), nullptr);
}

TEST_F(RandomSequenceTest, AvoidRepeatKeepsItsHistory) {
  ASSERT_EQ(LoadContainer(Random(3), {50000, 50000, 50000, 50000}), SN::SN_Success);
  const std::vector<int> picks = Plays(10000);
  ASSERT_EQ(picks.size(), 10000u);
  for (size_t i = 3; i < picks.size(); ++i) {
    const std::set<int> window(picks.begin() + long(i) - 3, picks.begin() + long(i) + 1);
    ASSERT_EQ(window.size(), 4u) << i;
  }
}

TEST_F(RandomSequenceTest, TwoItemsHoldAHistoryOfOne) {
  ASSERT_EQ(LoadContainer(Random(3), {50000, 50000}), SN::SN_Success);
  const std::vector<int> picks = Plays(100);
  for (size_t i = 1; i < picks.size(); ++i) ASSERT_NE(picks[i], picks[i - 1]) << i;
  const auto* state = static_cast<const SN::CSnRandomPlaylistState*>(Container()->StateOf(nullptr));
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->HistoryLength(), 1u);
}

TEST_F(RandomSequenceTest, ShuffleCyclesAreWholeAndNeverRepeatAcrossTheirBoundary) {
  ASSERT_EQ(LoadContainer(Random(0, 1), {50000, 50000, 50000}), SN::SN_Success);
  const std::vector<int> picks = Plays(3000);
  ASSERT_EQ(picks.size(), 3000u);
  for (size_t i = 1; i < picks.size(); ++i) ASSERT_NE(picks[i], picks[i - 1]) << i;
  for (size_t cycle = 0; cycle < picks.size(); cycle += 3)
    ASSERT_EQ(std::set<int>(picks.begin() + long(cycle), picks.begin() + long(cycle) + 3).size(), 3u) << cycle;
}

TEST_F(RandomSequenceTest, DrawsFollowTheGeneratorPickByPick) {
  // Equal weights never take the weighted draw: one draw modulo the count.
  ASSERT_EQ(LoadContainer(Random(), {50000, 50000, 50000}), SN::SN_Success);
  EXPECT_FALSE(Container()->Modes() & CSnRandomSequenceContainer::kWeightsInUse);
  Base::SeedRand15(99);
  const std::vector<int> picks = Plays(200);
  Base::SeedRand15(99);
  for (size_t i = 0; i < picks.size(); ++i) ASSERT_EQ(picks[i], Base::Rand15() % 3) << i;
}

TEST_F(RandomSequenceTest, WeightedDrawsFollowTheGeneratorAndTheirShares) {
  ASSERT_EQ(LoadContainer(Random(), {1, 1, 2}), SN::SN_Success);
  EXPECT_TRUE(Container()->Modes() & CSnRandomSequenceContainer::kWeightsInUse);
  Base::SeedRand15(7);
  const std::vector<int> picks = Plays(30000);
  ASSERT_EQ(picks.size(), 30000u);
  Base::SeedRand15(7);
  int counts[3] = {};
  for (size_t i = 0; i < picks.size(); ++i) {
    const uint64_t high = uint64_t(Base::Rand15());
    const uint64_t r = ((high << 15) + uint64_t(Base::Rand15())) % 4;
    ASSERT_EQ(picks[i], r < 1 ? 0 : r < 2 ? 1 : 2) << i;
    ++counts[picks[i]];
  }
  // Within three standard deviations of the binomial share of each item.
  const double n = 30000.0;
  for (int item = 0; item < 3; ++item) {
    const double p = item == 2 ? 0.5 : 0.25;
    EXPECT_NEAR(counts[item], n * p, 3.0 * std::sqrt(n * p * (1.0 - p))) << item;
  }
}

TEST_F(RandomSequenceTest, NothingToDrawPlaysNothing) {
  // Every item weighing nothing: no pick, no division by zero.
  ASSERT_EQ(LoadContainer(Random(), {0, 0, 0}), SN::SN_Success);
  EXPECT_TRUE(Plays(3, nullptr, SN::SN_Failure).empty());
  // A random list takes an id once.
  EXPECT_EQ(Container()->AddPlaylistItem(11, 5), SN::SN_AlreadyInPlaylist);
}

TEST_F(RandomSequenceTest, AVeryHeavyListSumsWithoutWrapping) {
  // Summed in 32 bits these would weigh nothing together.
  ASSERT_EQ(LoadContainer(Random(), {0x80000000u, 0x80000000u}), SN::SN_Success);
  EXPECT_EQ(Container()->Playlist()->TotalWeight(), uint64_t(1) << 32);
  // Every draw (below 2^30) falls within the first item's weight.
  EXPECT_EQ(Plays(100), std::vector<int>(100, 0));
}

TEST_F(RandomSequenceTest, ScopesKeepOneStateOrOnePerGameObject) {
  Tools::BankRandomSequence perObject = Sequence(false);
  perObject.flags = 0x02;
  ASSERT_EQ(LoadContainer(perObject, {50000, 50000, 50000}), SN::SN_Success);
  SN::CSnRegisteredObj* a = GameObject(1);
  SN::CSnRegisteredObj* b = GameObject(2);
  EXPECT_EQ(Plays(2, a), (std::vector<int>{0, 1}));
  EXPECT_EQ(Plays(1, b), (std::vector<int>{0}));
  EXPECT_EQ(Plays(1, a), (std::vector<int>{2}));
  // A reset forgets one object's place.
  Container()->ResetPlaylist(b);
  EXPECT_EQ(Container()->StateOf(b), nullptr);
  EXPECT_EQ(Plays(1, b), (std::vector<int>{0}));

  Container()->SetGlobalScope(true);
  EXPECT_EQ(Plays(1, a), (std::vector<int>{0}));
  EXPECT_EQ(Plays(1, b), (std::vector<int>{1}));
}

TEST_F(RandomSequenceTest, ASetterStopsAPlayedContainer) {
  ASSERT_EQ(LoadContainer(Random(), {50000, 50000}), SN::SN_Success);
  FakeInstance instance(nullptr, 9);
  Sound(11)->AttachInstance(&instance);
  ASSERT_TRUE(Sound(11)->ActivityUp(0));
  // Not played yet: nothing stops.
  Container()->SetRandomType(1);
  EXPECT_TRUE(instance.kinds.empty());
  Plays(1);
  ASSERT_NE(Container()->StateOf(nullptr), nullptr);
  Container()->SetRandomType(0);
  EXPECT_EQ(instance.kinds, (std::vector<uint32_t>{SN::SnActionParams::Stop}));
  EXPECT_EQ(Container()->StateOf(nullptr), nullptr);
  Sound(11)->ActivityDown(0);
  Sound(11)->DetachInstance(&instance);
}

TEST_F(RandomSequenceTest, ContinuousSequencesCountTheirLoops) {
  Tools::BankRandomSequence twice = Sequence(false);
  twice.loopCount = 2;
  ASSERT_EQ(LoadContainer(twice, {50000, 50000, 50000}), SN::SN_Success);
  SN::SnLoopRecord loop = Container()->BeginLoop();
  SN::CSnPlaylistState* state = nullptr;
  std::vector<int> picks;
  uint16_t index = 0;
  for (int i = 0; i < 10; ++i) {
    SN::CSnHierarchyNode* child = Container()->GetNextToPlayContinuous(nullptr, state, loop, index);
    if (!child) break;
    child->Release();
    picks.push_back(index);
  }
  EXPECT_EQ(picks, (std::vector<int>{0, 1, 2, 0, 1, 2}));
  SN::PoolDelete(SN::g_DefaultPoolId, state);
}

TEST_F(RandomSequenceTest, LoopAndTransitionOffsets) {
  Tools::BankRandomSequence container = Sequence(false);
  container.loopCount = 3;
  container.loopMin = 1;
  container.loopMax = 1;
  container.transitionMs = 200.0f;
  Tools::BankNodeParams params;
  // Property 7 follows game parameter 900 one to one, in seconds.
  params.curves = {{900, 0, 0, 7, 1, 0, {{0.0f, 0.0f, 4}, {10.0f, 10.0f, 4}}}};
  ASSERT_EQ(LoadContainer(container, {50000, 50000}, params), SN::SN_Success);
  EXPECT_EQ(Container()->ComputeLoopCount(), 4);
  SN::SnRTPCKey all;
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(900, 0.25f, all), SN::SN_Success);
  EXPECT_FLOAT_EQ(Container()->GetTransitionDuration(nullptr), 450.0f);
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(900, 0.0f, all), SN::SN_Success);
  // A random offset lands between its bounds, rounded to whole loops.
  Container()->SetLoop(2, 0, 2);
  Base::SeedRand15(5);
  const int drawn = Container()->ComputeLoopCount();
  Base::SeedRand15(5);
  EXPECT_EQ(drawn, 2 + int(std::lround(double(Base::Rand15()) / 32767.0 * 2.0)));
}

TEST_F(RandomSequenceTest, APlayListCutOrCountedPastTheObjectFailsTheLoad) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64))}), SN::SN_Success);
  Tools::BankRandomSequence container = Random();
  container.children = {11};
  container.playlist = {{11, 50000}};
  const Tools::BankObject whole = {Tools::kBankRandomSequenceType,
                                   Tools::RandomSequencePayload(kRandomContainer, {}, container)};
  ExpectEveryCutFails(whole, [&] { return Container() == nullptr && Sound(11)->Parent() == nullptr; });
  Tools::BankObject huge = whole;
  // The item count (u16) before the one item's 8 bytes.
  const size_t countAt = huge.payload.size() - 10;
  huge.payload[countAt] = huge.payload[countAt + 1] = 0xFF;
  EXPECT_NE(Load({huge}), SN::SN_Success);
  EXPECT_TRUE(Logged("its play-list runs past the end of the object"));
  EXPECT_EQ(Sound(11)->Parent(), nullptr);
}

}  // namespace
