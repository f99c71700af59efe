// Playing objects that follow a node's game parameters through target links: which keys hear a
// change, re-registration when a node gains a parameter (for every link still alive, whatever order
// the others left in), the manager's active list following the targets, and the parameters that
// only the deciding node serves.
#include <memory>

#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;

struct RecordingLink : SN::CSnTargetLink {
  RecordingLink(const SN::SnRTPCKey& key, uint64_t wanted) : CSnTargetLink(key), wanted(wanted) {}
  void SetParamValue(uint32_t parameter, float value, float delta) override {
    told.push_back({parameter, value, delta});
    if (onTold) onTold();
  }
  uint64_t WantedMask() const override {
    ++asked;
    return wanted;
  }
  struct Told {
    uint32_t parameter;
    float value, delta;
  };
  uint64_t wanted;
  mutable int asked = 0;
  std::vector<Told> told;
  std::function<void()> onTold;
};

class SoundNodeSubscriptionTest : public NodeFixture {};

TEST_F(SoundNodeSubscriptionTest, ATargetOfOneGameObjectHearsItsObjectAndTheEmptyKeyOnly) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -10.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::CSnRegisteredObj* eight = GameObject(8);
  RecordingLink link(SN::SnRTPCKey::ForObject(seven), SN::ParameterBit(0));
  RecordingLink other(SN::SnRTPCKey::ForObject(eight), SN::ParameterBit(2));  // wants what the node lacks
  link.Attach(Node(70));
  other.Attach(Node(70));
  ASSERT_EQ(Node(70)->Targets()->Count(), 1u);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 50.0f, SN::SnRTPCKey::ForObject(seven));
  ASSERT_EQ(link.told.size(), 1u);
  EXPECT_EQ(link.told[0].parameter, 0u);
  EXPECT_FLOAT_EQ(link.told[0].value, -5.0f);
  EXPECT_FLOAT_EQ(link.told[0].delta, -5.0f);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 20.0f, SN::SnRTPCKey::ForObject(eight));
  EXPECT_EQ(link.told.size(), 1u);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 100.0f, SN::SnRTPCKey{});
  EXPECT_EQ(link.told.size(), 2u);
  EXPECT_TRUE(other.told.empty());
  link.Detach();
  other.Detach();
}

TEST_F(SoundNodeSubscriptionTest, OnlyANewParameterMakesTheLinksRegisterAgain) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -10.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  TestNode* node = Node(70);
  RecordingLink link(SN::SnRTPCKey{}, SN::ParameterBit(0) | SN::ParameterBit(2));
  link.Attach(node);
  EXPECT_EQ(link.asked, 1);
  const SN::SnRTPCGraphPoint points[] = {{0.0f, 0.0f, SN::SnCurve_Linear}, {1.0f, 1.0f, SN::SnCurve_Linear}};
  ASSERT_EQ(node->AddCurve(9, 0, 0, 0, 2, 0, points, 2), SN::SN_Success);  // a second curve of parameter 0
  EXPECT_EQ(link.asked, 1);
  ASSERT_EQ(node->AddCurve(9, 0, 0, 2, 3, 0, points, 2), SN::SN_Success);  // parameter 2 is new
  EXPECT_EQ(link.asked, 2);
  EXPECT_EQ(node->Targets()->Count(), 1u);
  EXPECT_EQ((*node->Targets())[0].mask, SN::ParameterBit(0) | SN::ParameterBit(2));
  node->RemoveCurve(2);
  EXPECT_EQ(link.asked, 3);
  EXPECT_EQ((*node->Targets())[0].mask, SN::ParameterBit(0));
  EXPECT_EQ(node->AddCurve(9, 0, 0, 64, 4, 0, points, 2), SN::SN_InvalidParameter);
  link.Detach();
}

TEST_F(SoundNodeSubscriptionTest, LinksLeavingInAnyOrderLeaveTheOthersToRegisterAgain) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -10.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  TestNode* node = Node(70);
  auto listed = [] {
    std::vector<const SN::CSnTargetLink*> links;
    for (const SN::CSnTargetLink* link = SN::CSnTargetLink::First(); link; link = link->Next()) links.push_back(link);
    return links;
  };
  const size_t before = listed().size();
  std::vector<std::unique_ptr<RecordingLink>> links;
  for (int i = 0; i < 5; ++i) {
    links.push_back(std::make_unique<RecordingLink>(SN::SnRTPCKey{}, SN::ParameterBit(0) | SN::ParameterBit(2)));
    links.back()->Attach(node);
  }
  ASSERT_EQ(listed().size(), before + 5);
  // The newest (first on the list), one in the middle and the oldest of the five go.
  for (size_t gone : {size_t(4), size_t(2), size_t(0)}) links[gone].reset();
  const std::vector<const SN::CSnTargetLink*> left = listed();
  ASSERT_EQ(left.size(), before + 2);
  for (size_t kept : {size_t(1), size_t(3)}) {
    EXPECT_NE(std::find(left.begin(), left.end(), links[kept].get()), left.end());
    EXPECT_EQ(links[kept]->asked, 1);
  }
  const SN::SnRTPCGraphPoint points[] = {{0.0f, 0.0f, SN::SnCurve_Linear}, {1.0f, 1.0f, SN::SnCurve_Linear}};
  ASSERT_EQ(node->AddCurve(9, 0, 0, 2, 3, 0, points, 2), SN::SN_Success);
  for (size_t kept : {size_t(1), size_t(3)}) EXPECT_EQ(links[kept]->asked, 2);
  EXPECT_EQ(node->Targets()->Count(), 2u);
  links.clear();
  EXPECT_EQ(listed().size(), before);
}

TEST_F(SoundNodeSubscriptionTest, LinksMadeWhileNoNodeHasCurvesJoinTheFirstCurveOnTheirRoad) {
  Tools::BankNodeParams root;
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  ASSERT_EQ(LoadBank({{kParentType, 60, root}, {kLeafType, 70, leaf}}), SN::SN_Success);
  ASSERT_EQ(Node(60)->Targets(), nullptr);
  ASSERT_EQ(Node(70)->Targets(), nullptr);
  RecordingLink link(SN::SnRTPCKey{}, SN::ParameterBit(0));
  RecordingLink gone(SN::SnRTPCKey{}, SN::ParameterBit(0));
  link.Attach(Node(70));
  gone.Attach(Node(70));
  gone.Detach();
  // The parent's first curve: the link still attached hears it, the one that left does not.
  const SN::SnRTPCGraphPoint points[] = {{0.0f, 0.0f, SN::SnCurve_Linear}, {100.0f, -10.0f, SN::SnCurve_Linear}};
  ASSERT_EQ(Node(60)->AddCurve(7, 0, 0, 0, 2, 0, points, 2), SN::SN_Success);
  ASSERT_EQ(Node(60)->Targets()->Count(), 1u);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 50.0f, SN::SnRTPCKey{});
  ASSERT_EQ(link.told.size(), 1u);
  EXPECT_FLOAT_EQ(link.told[0].value, -5.0f);
  EXPECT_TRUE(gone.told.empty());
  link.Detach();
  EXPECT_EQ(Node(60)->Targets()->Count(), 0u);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 10.0f, SN::SnRTPCKey{});
  EXPECT_EQ(link.told.size(), 1u);
}

TEST_F(SoundNodeSubscriptionTest, TheLastTargetLeavingMovesTheSubscriptionsToTheInactiveList) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -10.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  EXPECT_EQ(SN::g_pRTPCMgr->ActiveSubscriptionCount(7), 0u);
  {
    RecordingLink first(SN::SnRTPCKey{}, SN::ParameterBit(0));
    RecordingLink second(SN::SnRTPCKey::ForObject(GameObject(7)), SN::ParameterBit(0));
    first.Attach(Node(70));
    second.Attach(Node(70));
    EXPECT_EQ(SN::g_pRTPCMgr->ActiveSubscriptionCount(7), 1u);
    first.Detach();
    EXPECT_EQ(SN::g_pRTPCMgr->ActiveSubscriptionCount(7), 1u);
  }  // the second detaches as it goes
  EXPECT_EQ(SN::g_pRTPCMgr->ActiveSubscriptionCount(7), 0u);
  EXPECT_EQ(Node(70)->Targets()->Count(), 0u);
}

TEST_F(SoundNodeSubscriptionTest, DecidedParametersAreServedByTheDecidingNodeAndAddedOnesByAll) {
  Tools::BankNodeParams root;
  root.curves = {LinearCurve(7, 0, 0.0f, -10.0f), LinearCurve(8, 8, 0.0f, 100.0f, 2)};
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -20.0f), LinearCurve(8, 8, 0.0f, 10.0f, 2)};
  ASSERT_EQ(LoadBank({{kParentType, 60, root}, {kLeafType, 70, leaf}}), SN::SN_Success);
  RecordingLink link(SN::SnRTPCKey{}, SN::ParameterBit(0) | SN::ParameterBit(8));
  link.Attach(Node(70));
  // Volume adds at every node; priority is decided by the root alone.
  ASSERT_EQ(Node(70)->Targets()->Count(), 1u);
  EXPECT_EQ((*Node(70)->Targets())[0].mask, SN::ParameterBit(0));
  ASSERT_EQ(Node(60)->Targets()->Count(), 1u);
  EXPECT_EQ((*Node(60)->Targets())[0].mask, SN::ParameterBit(0) | SN::ParameterBit(8));
  SN::g_pRTPCMgr->SetRTPCImmediate(8, 50.0f, SN::SnRTPCKey{});
  ASSERT_EQ(link.told.size(), 1u);
  EXPECT_FLOAT_EQ(link.told[0].value, 50.0f);
  // A link that goes while another is told (its playing object ended) is not told, nor read after.
  auto* leaving = new RecordingLink(SN::SnRTPCKey{}, SN::ParameterBit(0));
  leaving->Attach(Node(70));
  link.onTold = [&] {
    delete leaving;
    leaving = nullptr;
  };
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 10.0f, SN::SnRTPCKey{});
  EXPECT_EQ(leaving, nullptr);
  link.onTold = nullptr;
  link.Detach();
  EXPECT_EQ(Node(60)->Targets()->Count(), 0u);
}

}  // namespace
