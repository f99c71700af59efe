// Switch containers read from banks: the children of the current switch or state value play, the
// default switch's when the value has none; first-play-only children; and in continuous mode a
// value change fades the old value's children out and the new value's in.
#include "SoundEngine/Hierarchy/SwitchContainer.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/ContainerWriter.h"

namespace {

using namespace HierarchyTest;
using SN::CSnSwitchContainer;

constexpr uint32_t kSwitchContainer = 60;
constexpr uint32_t kGroup = 30;

// An instance that keeps the actions it hears with their fades.
struct FadeInstance : FakeInstance {
  using FakeInstance::FakeInstance;
  void ApplyAction(const SN::SnActionParams& params) override {
    FakeInstance::ApplyAction(params);
    fades.push_back(params.transitionMs);
  }
  std::vector<int32_t> fades;
};

class SwitchContainerTest : public HierarchyFixture {
 protected:
  // Sounds 11-14 (media 101-104); value 1 lists 11 and 12, value 2 lists 13 and 12, value 4 lists 14.
  // Sounds of no media size keep nothing in the media table: preparing them holds only the node.
  SN::SNRESULT LoadSwitch(Tools::BankSwitch container, uint32_t mediaSize = 64) {
    std::vector<Tools::BankObject> objects;
    for (uint32_t i = 0; i < 4; ++i) {
      objects.push_back(SoundObject(11 + i, MemorySource(101 + i, mediaSize)));
      container.children.push_back(11 + i);
    }
    if (container.lists.empty()) container.lists = {{1, {11, 12}}, {2, {13, 12}}, {4, {14}}};
    objects.push_back({Tools::kBankSwitchType, Tools::SwitchPayload(kSwitchContainer, {}, container)});
    return Load(objects);
  }
  Tools::BankSwitch Switch(uint32_t defaultSwitch, bool continuous) {
    Tools::BankSwitch container;
    container.groupId = kGroup;
    container.defaultSwitch = defaultSwitch;
    container.continuous = continuous;
    return container;
  }
  CSnSwitchContainer* Container() { return Find<CSnSwitchContainer>(kSwitchContainer, false); }
  void SetSwitch(uint32_t value, SN::CSnRegisteredObj* object) {
    ASSERT_TRUE(SN::g_pSwitchMgr->GetOrCreateSwitchGroup(kGroup)->SetSwitch(value, object));
  }
  // The media ids of the leaf plays since the last call.
  std::vector<uint32_t> Played() {
    std::vector<uint32_t> media;
    for (size_t i = seen_; i < player_.plays.size(); ++i) media.push_back(player_.plays[i].sourceId);
    seen_ = player_.plays.size();
    return media;
  }
  SN::SNRESULT Play(SN::CSnRegisteredObj* object) {
    SN::CSnPlayParams params;
    params.gameObject = object;
    params.playingId = 77;
    return Container()->Play(params);
  }
  size_t seen_ = 0;
};

TEST_F(SwitchContainerTest, StepPlaysTheValuesListOrTheDefaultSwitchs) {
  ASSERT_EQ(LoadSwitch(Switch(4, false)), SN::SN_Success);
  EXPECT_EQ(Container()->NodeCategory(), 4u);
  SN::CSnRegisteredObj* object = GameObject(5);
  SetSwitch(2, object);
  EXPECT_EQ(Play(object), SN::SN_Success);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{103, 102}));
  SetSwitch(9, object);
  EXPECT_EQ(Play(object), SN::SN_Success);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{104}));
}

TEST_F(SwitchContainerTest, NoListAndNoDefaultListPlaysNothingAndSucceeds) {
  ASSERT_EQ(LoadSwitch(Switch(8, false)), SN::SN_Success);
  SN::CSnRegisteredObj* object = GameObject(5);
  SetSwitch(9, object);
  EXPECT_EQ(Play(object), SN::SN_Success);
  EXPECT_TRUE(Played().empty());
}

TEST_F(SwitchContainerTest, AFirstPlayOnlyChildWaitsForAnotherValueBetween) {
  Tools::BankSwitch container = Switch(0, false);
  container.settings = {{12, 0x01, 0, 0, 0}};
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  SN::CSnRegisteredObj* object = GameObject(5);
  SetSwitch(1, object);
  Play(object);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{101, 102}));
  Play(object);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{101}));
  SetSwitch(4, object);
  Play(object);
  SetSwitch(1, object);
  Play(object);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{104, 101, 102}));
}

TEST_F(SwitchContainerTest, ListsAndGroupsThatCannotHoldFailTheLoad) {
  Tools::BankSwitch twice = Switch(0, false);
  twice.lists = {{1, {11, 11}}};
  EXPECT_EQ(LoadSwitch(twice), SN::SN_ListedTwice);
  EXPECT_EQ(Container(), nullptr);
  Tools::BankSwitch badType = Switch(0, false);
  badType.groupType = 2;
  EXPECT_EQ(LoadSwitch(badType), SN::SN_InvalidParameter);
  EXPECT_EQ(Container(), nullptr);
  EXPECT_EQ(Sound(11), nullptr);
}

TEST_F(SwitchContainerTest, EveryCutOfTheObjectFailsTheLoad) {
  ASSERT_EQ(Load({SoundObject(11, MemorySource(101, 64))}), SN::SN_Success);
  Tools::BankSwitch container = Switch(0, false);
  container.children = {11};
  container.lists = {{1, {11}}};
  container.settings = {{11, 0x02, 3, 100, 200}};
  const Tools::BankObject whole = {Tools::kBankSwitchType, Tools::SwitchPayload(kSwitchContainer, {}, container)};
  ExpectEveryCutFails(whole, [&] { return Container() == nullptr && Sound(11)->Parent() == nullptr; });
  ASSERT_EQ(Load({whole}), SN::SN_Success);
  const CSnSwitchContainer::ChildSettings* settings = Container()->SettingsOf(11);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->flags, CSnSwitchContainer::kContinuesAcross | 3);
  EXPECT_EQ(settings->fadeOutMs, 100u);
  EXPECT_EQ(settings->fadeInMs, 200u);
}

TEST_F(SwitchContainerTest, AValueChangeFadesTheOldListOutAndTheNewListIn) {
  Tools::BankSwitch container = Switch(1, true);
  container.settings = {{11, 0, 0, 300, 0}, {12, 0x02, 0, 300, 0}, {13, 0, 0, 0, 150}, {14, 0, 0, 0, 250}};
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  SN::CSnRegisteredObj* object = GameObject(5);
  FadeInstance first(object, 77), second(object, 77);
  Sound(11)->AttachInstance(&first);
  Sound(12)->AttachInstance(&second);

  SetSwitch(1, object);
  ASSERT_EQ(Play(object), SN::SN_Success);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{101, 102}));
  EXPECT_EQ(Container()->RecordCount(), 1u);
  // Child 12 is listed under both values and continues: only 11 fades out, only 13 fades in.
  SetSwitch(2, object);
  EXPECT_EQ(first.kinds, (std::vector<uint32_t>{SN::SnActionParams::Stop}));
  EXPECT_EQ(first.fades, (std::vector<int32_t>{300}));
  EXPECT_TRUE(second.kinds.empty());
  ASSERT_EQ(player_.plays.size(), 3u);
  EXPECT_EQ(player_.plays[2].sourceId, 103u);
  EXPECT_EQ(player_.plays[2].transitionMs, 150);
  EXPECT_EQ(player_.plays[2].playingId, 77u);
  Played();

  // A stop drops the game object's record: later changes play nothing.
  Container()->Stop(object, 0, 0, 0);
  EXPECT_EQ(Container()->RecordCount(), 0u);
  SetSwitch(4, object);
  EXPECT_TRUE(Played().empty());
  Sound(11)->DetachInstance(&first);
  Sound(12)->DetachInstance(&second);
}

TEST_F(SwitchContainerTest, AChangeFromAValueWithoutAListStopsTheDefaultChildrenItPlayed) {
  Tools::BankSwitch container = Switch(1, true);
  container.settings = {{11, 0, 0, 400, 0}, {14, 0, 0, 0, 250}};
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  SN::CSnRegisteredObj* object = GameObject(5);
  FadeInstance defaultChild(object, 77);
  Sound(11)->AttachInstance(&defaultChild);
  SetSwitch(9, object);
  ASSERT_EQ(Play(object), SN::SN_Success);
  EXPECT_EQ(Played(), (std::vector<uint32_t>{101, 102}));
  SetSwitch(4, object);
  // The default switch's children played for the value without a list: they stop now.
  EXPECT_EQ(defaultChild.kinds, (std::vector<uint32_t>{SN::SnActionParams::Stop}));
  EXPECT_EQ(defaultChild.fades, (std::vector<int32_t>{400}));
  EXPECT_EQ(Played(), (std::vector<uint32_t>{104}));
  Sound(11)->DetachInstance(&defaultChild);
}

TEST_F(SwitchContainerTest, MidiPlaysAreNotKeptAndStateGroupsAreFollowed) {
  Tools::BankSwitch container = Switch(0, true);
  ASSERT_EQ(LoadSwitch(container), SN::SN_Success);
  SN::CSnPlayParams params;
  params.gameObject = GameObject(5);
  params.midiEvent = {SN::SnMidiEvent::kNoteOn, 0, 60, 100};
  SetSwitch(4, params.gameObject);
  Container()->Play(params);
  EXPECT_EQ(Container()->RecordCount(), 0u);

  Tools::BankSwitch states = Switch(0, false);
  states.groupType = 1;
  states.groupId = 40;
  ASSERT_EQ(Load({{Tools::kBankSwitchType, Tools::SwitchPayload(61, {}, states)}}), SN::SN_Success);
  auto* byState = Find<CSnSwitchContainer>(61, false);
  EXPECT_EQ(byState->GroupTypeOf(), CSnSwitchContainer::Group_State);
  EXPECT_EQ(byState->CurrentValue({}), SN::g_pStateMgr->GetCurrentState(40));
}

TEST_F(SwitchContainerTest, TheGeneralBanksFootstepsFadeFromWalkToRun) {
  ASSERT_EQ(Load(BankTest::ContentBank("Init")), SN::SN_Success) << log_.Take();
  ASSERT_EQ(Load(BankTest::ContentBank("GeneralBank")), SN::SN_Success) << log_.Take();
  using BankTest::Id;
  auto* footsteps = Find<CSnSwitchContainer>(Id("Footsteps"), false);
  ASSERT_NE(footsteps, nullptr);
  EXPECT_TRUE(footsteps->IsContinuous());
  EXPECT_EQ(footsteps->GroupId(), Id("FootstepSurface"));
  EXPECT_EQ(footsteps->DefaultSwitch(), Id("Walk"));

  // Below the run threshold the player walks.
  SN::CSnRegisteredObj* object = GameObject(5);
  SN::CSnPlayParams params;
  params.gameObject = object;
  ASSERT_EQ(footsteps->Play(params), SN::SN_Success);
  ASSERT_EQ(player_.plays.size(), 1u);
  EXPECT_EQ(player_.plays[0].node->ID(), Id("Walk_Step"));
  FadeInstance walking(object, 0);
  Sound(Id("Walk_Step"))->AttachInstance(&walking);
  footsteps->SwitchChanged(Id("Run"), SN::SnRTPCKey::ForObject(object), nullptr);
  EXPECT_EQ(walking.fades, (std::vector<int32_t>{200}));
  ASSERT_EQ(player_.plays.size(), 2u);
  EXPECT_EQ(player_.plays[1].node->ID(), Id("Run_Step"));
  EXPECT_EQ(player_.plays[1].transitionMs, 100);
  Sound(Id("Walk_Step"))->DetachInstance(&walking);
}

// With game-sync preparation on, a prepared container holds only the children of the group's
// prepared values (each with the reference its preparation keeps) and follows the values as they
// come and go; later prepares only count.
class SwitchPreparationTest : public SwitchContainerTest {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.gameSyncPreparation = true; }
  // The references each of sounds 11-14 holds beyond those it had when loaded.
  std::vector<uint32_t> Held() {
    std::vector<uint32_t> held;
    for (uint32_t i = 0; i < 4; ++i) held.push_back(Sound(11 + i)->RefCount() - loadedRefs_[i]);
    return held;
  }
  void KeepLoadedRefs() {
    for (uint32_t i = 0; i < 4; ++i) loadedRefs_[i] = Sound(11 + i)->RefCount();
  }
  static SN::SNRESULT PrepareValue(uint32_t value, bool prepare) {
    return SN::g_pStateMgr->PrepareGameSyncValue(SN::SnGameSyncGroup_Switch, kGroup, value, prepare);
  }
  uint32_t loadedRefs_[4] = {};
};

TEST_F(SwitchPreparationTest, OnlyTheChildrenOfPreparedValuesArePreparedAndTheyFollowTheValues) {
  ASSERT_EQ(LoadSwitch(Switch(4, false), 0), SN::SN_Success);
  KeepLoadedRefs();
  ASSERT_EQ(PrepareValue(1, true), SN::SN_Success);
  ASSERT_EQ(Container()->PrepareData(), SN::SN_Success);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{1, 1, 0, 0}));
  // Prepared later, value 2 brings its children in; 12 is held once for each value that lists it.
  ASSERT_EQ(PrepareValue(2, true), SN::SN_Success);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{1, 2, 1, 0}));
  ASSERT_EQ(Container()->PrepareData(), SN::SN_Success);
  EXPECT_EQ(Container()->PreparationCount(), 2u);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{1, 2, 1, 0}));
  ASSERT_EQ(PrepareValue(1, false), SN::SN_Success);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{0, 1, 1, 0}));
  Container()->UnprepareData();
  EXPECT_EQ(Held(), (std::vector<uint32_t>{0, 1, 1, 0}));
  Container()->UnprepareData();
  EXPECT_EQ(Held(), (std::vector<uint32_t>{0, 0, 0, 0}));
  // No longer prepared, the container hears no more of the values.
  ASSERT_EQ(PrepareValue(4, true), SN::SN_Success);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{0, 0, 0, 0}));
  ASSERT_EQ(PrepareValue(2, false), SN::SN_Success);
  ASSERT_EQ(PrepareValue(4, false), SN::SN_Success);
}

TEST_F(SwitchPreparationTest, AChildThatCannotBePreparedUndoesTheWholePreparation) {
  Tools::BankSwitch container = Switch(0, false);
  container.lists = {{1, {11, 12}}, {4, {14, 99}}};  // 99 is not loaded
  ASSERT_EQ(LoadSwitch(container, 0), SN::SN_Success);
  KeepLoadedRefs();
  ASSERT_EQ(PrepareValue(1, true), SN::SN_Success);
  ASSERT_EQ(PrepareValue(4, true), SN::SN_Success);
  EXPECT_NE(Container()->PrepareData(), SN::SN_Success);
  EXPECT_EQ(Container()->PreparationCount(), 0u);
  EXPECT_EQ(Held(), (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_TRUE(Logged("child 99 of value 4 cannot be prepared"));
  ASSERT_EQ(PrepareValue(1, false), SN::SN_Success);
  ASSERT_EQ(PrepareValue(4, false), SN::SN_Success);
}

}  // namespace
