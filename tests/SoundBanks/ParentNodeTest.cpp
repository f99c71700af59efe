// Parent nodes read from banks: the actor-mixer and the container base keep their children in id
// order, refuse the children they may not hold, list their subtree, and pass stop, pause and
// resume down from the highest id only while something plays below.
#include "SoundEngine/Hierarchy/ParentNode.h"
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/ContainerWriter.h"

namespace {

using namespace HierarchyTest;
using SN::CSnActorMixer;
using SN::CSnParentNode;

Tools::BankObject MixerObject(uint32_t id, const std::vector<uint32_t>& children) {
  return {Tools::kBankActorMixerType, Tools::ActorMixerPayload(id, {}, children)};
}

Tools::BankObject SequenceObject(uint32_t id, const std::vector<uint32_t>& children) {
  Tools::BankRandomSequence container;
  container.playMode = 1;
  container.children = children;
  for (uint32_t child : children) container.playlist.push_back({child});
  return {Tools::kBankRandomSequenceType, Tools::RandomSequencePayload(id, {}, container)};
}

class ParentNodeTest : public HierarchyFixture {
 protected:
  CSnParentNode* Parent(uint32_t id) { return Find<CSnParentNode>(id, false); }
};

TEST_F(ParentNodeTest, ChildrenJoinInIdOrderAndTheMixerPlaysNothing) {
  ASSERT_EQ(Load({SoundObject(13, MemorySource(3, 64)), SoundObject(11, MemorySource(1, 64)),
                  SoundObject(12, MemorySource(2, 64)), MixerObject(50, {13, 11, 12})}),
            SN::SN_Success);
  CSnParentNode* mixer = Parent(50);
  ASSERT_NE(mixer, nullptr);
  EXPECT_EQ(mixer->NodeCategory(), 1u);
  ASSERT_EQ(mixer->ChildCount(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(mixer->ChildAt(i)->ID(), 11u + i);
  EXPECT_EQ(Sound(12)->Parent(), mixer);
  EXPECT_EQ(mixer->FindChild(13), Sound(13));
  EXPECT_EQ(mixer->FindChild(14), nullptr);

  SN::CSnPlayParams params;
  EXPECT_EQ(mixer->Play(params), SN::SNRESULT(0));
  EXPECT_TRUE(player_.plays.empty());
}

TEST_F(ParentNodeTest, MayAddRulesOfTheMixerAndOfContainers) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(1, 64)), SoundObject(12, MemorySource(2, 64)), MixerObject(50, {11}),
                  SequenceObject(60, {}), MixerObject(70, {})}),
            SN::SN_Success);
  CSnParentNode* mixer = Parent(50);
  CSnParentNode* container = Parent(60);
  EXPECT_EQ(mixer->AddChildById(11), SN::SN_ChildAlreadyHasAParent);
  EXPECT_EQ(mixer->AddChild(mixer), SN::SN_CannotAddItself);
  EXPECT_EQ(mixer->AddChildById(0), SN::SN_InvalidPoolId);
  EXPECT_EQ(mixer->AddChildById(99), SN::SN_IdNotFound);
  // A container holds sounds and containers, never an actor-mixer.
  EXPECT_EQ(container->AddChildById(70), SN::SN_WrongChildKind);
  EXPECT_EQ(container->AddChildById(12), SN::SN_Success);
  EXPECT_EQ(Sound(12)->Parent(), container);

  // Removing through a node that is not the parent does nothing.
  mixer->RemoveChild(Sound(12));
  EXPECT_EQ(Sound(12)->Parent(), container);
  container->RemoveChildById(12);
  EXPECT_EQ(Sound(12)->Parent(), nullptr);
  EXPECT_EQ(container->ChildCount(), 0u);
  // Once free it may join again; a second time it is listed already.
  EXPECT_EQ(mixer->AddChildById(12), SN::SN_Success);
  Sound(12)->SetParent(nullptr);
  EXPECT_EQ(mixer->AddChildById(12), SN::SN_AlreadyListed);
  Sound(12)->SetParent(mixer);
}

TEST_F(ParentNodeTest, TheSubtreeIsListedDepthFirstUpToTheCapacity) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(1, 64)), SoundObject(12, MemorySource(2, 64)),
                  SoundObject(13, MemorySource(3, 64)), SequenceObject(40, {11, 12}), MixerObject(50, {40, 13})}),
            SN::SN_Success);
  SN::SnSubtreeEntry entries[8];
  uint32_t count = 0;
  Parent(50)->ListSubtree(entries, 8, count);
  ASSERT_EQ(count, 4u);
  const uint32_t expected[4][3] = {{13, 50, 0}, {40, 50, 0}, {11, 40, 1}, {12, 40, 1}};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(entries[i].childId, expected[i][0]) << i;
    EXPECT_EQ(entries[i].parentId, expected[i][1]) << i;
    EXPECT_EQ(entries[i].depth, expected[i][2]) << i;
  }
  count = 0;
  Parent(50)->ListSubtree(entries, 3, count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(entries[2].childId, 11u);
}

TEST_F(ParentNodeTest, ActionsGoFromTheHighestIdDownOnlyWhileSomethingPlaysBelow) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(1, 64)), SoundObject(12, MemorySource(2, 64)),
                  SoundObject(13, MemorySource(3, 64)), MixerObject(50, {11, 12, 13})}),
            SN::SN_Success);
  std::vector<uint32_t> order;
  FakeInstance first(nullptr, 1), second(nullptr, 2), third(nullptr, 3);
  FakeInstance* instances[] = {&first, &second, &third};
  for (uint32_t i = 0; i < 3; ++i) {
    instances[i]->order = &order;
    Sound(11 + i)->AttachInstance(instances[i]);
  }
  CSnParentNode* mixer = Parent(50);
  mixer->Stop(nullptr, 0, 0, 0);
  EXPECT_TRUE(order.empty());

  ASSERT_TRUE(Sound(12)->ActivityUp(0));
  mixer->Pause(nullptr, 0, 0, 0);
  mixer->Resume(nullptr, 0, 0, 0);
  EXPECT_EQ(order, (std::vector<uint32_t>{3, 2, 1, 3, 2, 1}));
  EXPECT_EQ(first.kinds, (std::vector<uint32_t>{SN::SnActionParams::Pause, SN::SnActionParams::Resume}));

  // Parameter changes reach only the child that plays.
  mixer->DeliverParameterChange(SN::SnParamChange{0, {}, 0, 0, 1.0f});
  EXPECT_TRUE(first.parameters.empty());
  EXPECT_EQ(second.parameters.size(), 1u);

  Sound(12)->ActivityDown(0);
  EXPECT_EQ(mixer->Activity(), nullptr);
  for (uint32_t i = 0; i < 3; ++i) Sound(11 + i)->DetachInstance(instances[i]);
}

// Parent links nest at most 64 levels. In a chain of 3,000 actor-mixers over a sound the one that would
// put the sound 65 deep is refused, naming both nodes, and the bank with it; 64 levels load, and the
// sound's activity climbs to the top and leaves again. A node that names a parent that deep, a bus
// chain as deep, and a node that would go below its own child are refused alike.
TEST_F(ParentNodeTest, ChainsDeeperThanSixtyFourLevelsAndLoopsAreRefused) {
  std::vector<Tools::BankObject> chain = {SoundObject(1, MemorySource(1, 64))};
  for (uint32_t id = 2; id <= 3001; ++id) chain.push_back(MixerObject(id, {id - 1}));
  EXPECT_NE(Load(chain), SN::SN_Success);
  EXPECT_TRUE(Logged("Node 65: below node 66 its nodes would nest more than 64 levels deep"));
  chain.resize(65);
  ASSERT_EQ(Load(chain), SN::SN_Success);
  ASSERT_TRUE(Sound(1)->ActivityUp(0));
  EXPECT_NE(Parent(65)->Activity(), nullptr);
  Sound(1)->ActivityDown(0);
  EXPECT_EQ(Parent(65)->Activity(), nullptr);

  // Mixer 2 is 63 deep: a mixer may hang below it, a sound below that may not.
  Tools::BankNodeParams below2, below200;
  below2.parentId = 2;
  below200.parentId = 200;
  EXPECT_NE(Load({{Tools::kBankActorMixerType, Tools::ActorMixerPayload(200, below2, {})},
                  SoundObject(300, MemorySource(3, 64), below200)}),
            SN::SN_Success);
  EXPECT_TRUE(Logged("Node 300: below node 200 its nodes would nest more than 64 levels deep"));
  EXPECT_EQ(Sound(300), nullptr);

  std::vector<Tools::BankObject> buses;
  for (uint32_t id = 1001; id <= 1066; ++id) {
    Tools::BankBusParams bus;
    bus.parentId = id == 1001 ? 0 : id - 1;
    buses.push_back(BusObject(id, bus));
  }
  EXPECT_NE(Load(buses), SN::SN_Success);
  EXPECT_TRUE(Logged("Node 1066: below node 1065 its nodes would nest more than 64 levels deep"));

  EXPECT_EQ(Parent(2)->AddChildById(65), SN::SN_Failure);
  EXPECT_TRUE(Logged("Node 65: it cannot go below node 2, which lies below it"));
  EXPECT_EQ(Parent(65)->Parent(), nullptr);
}

TEST_F(ParentNodeTest, AChildListCutOrCountedPastTheObjectFailsTheLoad) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(1, 64))}), SN::SN_Success);
  ExpectEveryCutFails(MixerObject(50, {11}), [&] { return Parent(50) == nullptr && Sound(11)->Parent() == nullptr; });
  // A count far beyond the bytes left is refused before anything is allocated.
  Tools::BankObject huge = MixerObject(51, {11});
  const size_t countAt = huge.payload.size() - 8;
  // 0x40000000, little-endian.
  huge.payload[countAt] = huge.payload[countAt + 1] = huge.payload[countAt + 2] = 0;
  huge.payload[countAt + 3] = 0x40;
  EXPECT_NE(Load({huge}), SN::SN_Success);
  EXPECT_TRUE(Logged("1073741824 children run past the end of the object"));
  EXPECT_EQ(Sound(11)->Parent(), nullptr);
}

TEST_F(ParentNodeTest, TheGeneralBankGroupsItsContainersUnderAnActorMixer) {
  ASSERT_EQ(Load(BankTest::ContentBank("Init")), SN::SN_Success) << log_.Take();
  ASSERT_EQ(Load(BankTest::ContentBank("GeneralBank")), SN::SN_Success) << log_.Take();
  using BankTest::Id;
  CSnParentNode* mixer = Parent(Id("Containers"));
  ASSERT_NE(mixer, nullptr);
  ASSERT_EQ(mixer->ChildCount(), 2u);
  auto* picks = Find<SN::CSnRandomSequenceContainer>(Id("Picks"), false);
  auto* steps = Find<SN::CSnRandomSequenceContainer>(Id("Steps"), false);
  EXPECT_EQ(picks->Parent(), mixer);
  EXPECT_EQ(steps->Parent(), mixer);
  EXPECT_EQ(picks->PlayMode(), SN::CSnRandomSequenceContainer::Mode_Random);
  EXPECT_EQ(picks->AvoidRepeatCount(), 1u);
  EXPECT_EQ(picks->Playlist()->TotalWeight(), 4u);
  EXPECT_TRUE(steps->Modes() & SN::CSnRandomSequenceContainer::kPingPong);
  EXPECT_EQ(Sound(Id("Step_Hum"))->Parent(), steps);

  // The sequence's event plays its tones forth and back.
  SN::CSnRegisteredObj* object = GameObject(3);
  for (int i = 0; i < 4; ++i)
    ASSERT_NE(SN::SoundEngine::PostEvent(Id("Play_Steps"), 3), 0u);
  SN::SoundEngine::RenderAudio();
  ASSERT_EQ(player_.plays.size(), 4u);
  const uint32_t expected[] = {Id("Step_Beep"), Id("Step_Chord"), Id("Step_Hum"), Id("Step_Chord")};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(player_.plays[i].node->ID(), expected[i]) << i;
  EXPECT_EQ(player_.plays[0].gameObject, object);
}

}  // namespace
