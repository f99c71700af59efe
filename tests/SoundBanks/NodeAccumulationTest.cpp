// The sound parameters a play gathers from its node up the parents and once into the output bus:
// state values, curves, seeded random ranges, run-time values and the gain factor, sends and
// output-bus values, each under the groups the caller asks for.
#include "Base/MathUtil.h"
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::SnParamGroup_HighPass;
using SN::SnParamGroup_LowPass;
using SN::SnParamGroup_Pitch;
using SN::SnParamGroup_State5;
using SN::SnParamGroup_Volume;
using SN::SnSoundParams;

constexpr uint32_t kAll = 0x3F;

// The engine's 15-bit generator, worked out apart: what the n-th draw after a seed gives.
int Draw(uint32_t seed, int n) {
  uint32_t state = seed;
  for (int i = 0; i < n; ++i) state = state * 214013u + 2531011u;
  return int((state >> 16) & 0x7FFF);
}

class SoundNodeAccumulationTest : public NodeFixture {
 protected:
  void TearDown() override {
    Base::SeedRand15(1);
    NodeFixture::TearDown();
  }
  SnSoundParams Gather(TestNode* node, uint32_t mask = kAll, SN::CSnRegisteredObj* object = nullptr,
                       SN::SnRandomOffsets* random = nullptr) {
    SnSoundParams params;
    node->GetSoundParams(params, mask, SN::SnRTPCKey::ForObject(object), random, random != nullptr, true);
    return params;
  }
};

TEST_F(SoundNodeAccumulationTest, ConstantsAndStateValuesSumUpTheParentsAndAStateWithoutASetGivesZero) {
  Tools::BankSettings settings;
  settings.stateGroups = {{5, 0, {}}};
  Tools::BankNodeParams root;
  root.properties = {Tools::BankNodeProperty::Float(0, -1.0f), Tools::BankNodeProperty::Float(2, 100.0f)};
  root.stateGroups = {{5, 0, {{10, 400}}}};
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  leaf.properties = {Tools::BankNodeProperty::Float(0, -2.0f), Tools::BankNodeProperty::Float(3, 10.0f),
                     Tools::BankNodeProperty::Float(4, 5.0f), Tools::BankNodeProperty::Float(33, -3.0f)};
  const auto stateSet = Tools::StatePropertiesPayload(
      400, {Tools::BankNodeProperty::Float(0, -4.0f), Tools::BankNodeProperty::Float(2, 50.0f),
            Tools::BankNodeProperty::Float(5, 7.0f)});
  ASSERT_EQ(LoadBank({{kParentType, 60, root}, {kLeafType, 70, leaf}}, 0, {{1, stateSet}}, &settings), SN::SN_Success);
  TestNode* node = Node(70);
  SnSoundParams params = Gather(node);
  EXPECT_EQ(params.volume, -3.0f);
  EXPECT_EQ(params.pitch, 100.0f);
  EXPECT_EQ(params.lowPass, 10.0f);
  EXPECT_EQ(params.highPass, 5.0f);
  EXPECT_EQ(params.secondGain, -3.0f);
  EXPECT_EQ(params.group32, 12.0f);  // the root's default decides
  EXPECT_EQ(params.outputFlags & 1, 1);

  // The state manager moves the values through its (decibel) transitions, within their rounding.
  SN::g_pStateMgr->SetState(5, 10, true, false);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  params = Gather(node);
  EXPECT_NEAR(params.volume, -7.0f, 0.03f);
  EXPECT_NEAR(params.stateValue, 7.0f, 0.03f);
  // A refresh sets the current state's values exactly.
  Node(60)->RefreshStateValues();
  params = Gather(node);
  EXPECT_EQ(params.volume, -7.0f);
  EXPECT_EQ(params.pitch, 150.0f);
  EXPECT_EQ(params.stateValue, 7.0f);
  // Only the groups asked for.
  params = Gather(node, SnParamGroup_Pitch | SnParamGroup_State5);
  EXPECT_EQ(params.volume, 0.0f);
  EXPECT_EQ(params.lowPass, 0.0f);
  EXPECT_EQ(params.pitch, 150.0f);
  // A state the node maps to no set drives the state values to 0.
  SN::g_pStateMgr->SetState(5, 11, true, false);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  EXPECT_NEAR(Gather(node).volume, -3.0f, 0.03f);
  Node(60)->RefreshStateValues();
  params = Gather(node);
  EXPECT_EQ(params.volume, -3.0f);
  EXPECT_EQ(params.stateValue, 0.0f);
  // Refreshing after a mapping change reads the current state's set at once.
  SN::g_pStateMgr->SetState(5, 10, true, false);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  Node(60)->RefreshStateValues();
  EXPECT_EQ(Gather(node).volume, -7.0f);
  EXPECT_EQ(Node(60)->SetStatePropertySet(5, 999, 10, true), SN::SN_StatePropertiesNotFound);
  params = Gather(node);
  EXPECT_EQ(params.volume, -3.0f);
}

TEST_F(SoundNodeAccumulationTest, CurvesFollowTheirGameParameterForTheKey) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 0, 0.0f, -12.0f), LinearCurve(8, 2, 0.0f, 1200.0f, 2)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 50.0f, SN::SnRTPCKey{});
  SN::g_pRTPCMgr->SetRTPCImmediate(7, 25.0f, SN::SnRTPCKey::ForObject(seven));
  SN::g_pRTPCMgr->SetRTPCImmediate(8, 10.0f, SN::SnRTPCKey{});
  EXPECT_FLOAT_EQ(Gather(Node(70)).volume, -6.0f);
  EXPECT_FLOAT_EQ(Gather(Node(70), kAll, seven).volume, -3.0f);
  EXPECT_FLOAT_EQ(Gather(Node(70)).pitch, 120.0f);
}

TEST_F(SoundNodeAccumulationTest, RandomRangesDrawOncePerPropertyAndAnEmptyRangeDrawsNothing) {
  Tools::BankNodeParams leaf;
  leaf.ranges = {{0, -2.0f, 2.0f}, {2, 5.0f, 5.0f}, {33, 0.0f, 1.0f}};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  Base::SeedRand15(1234);
  SN::SnRandomOffsets random;
  SnSoundParams params = Gather(Node(70), kAll, nullptr, &random);
  const float r1 = float(Draw(1234, 1)) * 3.051851e-05f;
  const float r2 = float(Draw(1234, 2)) * 3.051851e-05f;
  EXPECT_FLOAT_EQ(random.volume, -2.0f + r1 * 4.0f);
  EXPECT_FLOAT_EQ(random.secondGain, r2);
  EXPECT_EQ(random.pitch, 5.0f);
  EXPECT_EQ(random.lowPass, 0.0f);
  EXPECT_EQ(params.volume, 0.0f);  // the offsets go to their own record
  // {5, 5} drew nothing: the next draw is the third.
  EXPECT_EQ(Base::Rand15(), Draw(1234, 3));
  // Without the flag nothing is drawn at all.
  Base::SeedRand15(99);
  SN::SnRandomOffsets none;
  SnSoundParams plain;
  Node(70)->GetSoundParams(plain, kAll, {}, &none, false, true);
  EXPECT_EQ(none.volume, 0.0f);
  EXPECT_EQ(Base::Rand15(), Draw(99, 1));
}

TEST_F(SoundNodeAccumulationTest, RunTimeValuesForAllAndForOneObjectAndTheGainFactor) {
  ASSERT_EQ(LoadBank({{kLeafType, 70, {}}}), SN::SN_Success);
  TestNode* node = Node(70);
  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::CSnRegisteredObj* eight = GameObject(8);
  const SN::TransParamsBase now;
  EXPECT_EQ(node->SetRuntimeValue(nullptr, SN::SnProp_Volume, -1.5f, now), SN::SN_Success);
  EXPECT_EQ(node->SetRuntimeValue(seven, SN::SnProp_Volume, -0.5f, now), SN::SN_Success);
  EXPECT_EQ(node->SetRuntimeValue(seven, SN::SnProp_HighPass, 20.0f, now), SN::SN_Success);
  EXPECT_EQ(Gather(node, kAll, seven).volume, -2.0f);
  EXPECT_EQ(Gather(node, kAll, seven).highPass, 20.0f);
  EXPECT_EQ(Gather(node, kAll, eight).volume, -1.5f);
  // A gain factor of exactly 1 applies none; a mute applies 0 for its object only.
  EXPECT_EQ(node->SetRuntimeValue(nullptr, SN::SnProp_GainFactor, 1.0f, now), SN::SN_Success);
  node->gains.clear();
  Gather(node, kAll, eight);
  EXPECT_TRUE(node->gains.empty());
  EXPECT_EQ(node->Mute(seven, now), SN::SN_Success);
  node->gains.clear();
  Gather(node, kAll, seven);
  ASSERT_EQ(node->gains.size(), 1u);
  EXPECT_EQ(node->gains[0].first, seven);
  EXPECT_EQ(node->gains[0].second, 0.0f);
  EXPECT_EQ(node->Unmute(seven, now), SN::SN_Success);
  node->gains.clear();
  Gather(node, kAll, seven);
  EXPECT_TRUE(node->gains.empty());
  // The object's values go with it.
  SN::g_pRegistryMgr->UnregisterGameObj(7);
  EXPECT_EQ(node->FindValueSet(seven), nullptr);
  EXPECT_EQ(Gather(node, kAll, nullptr).volume, -1.5f);
}

TEST_F(SoundNodeAccumulationTest, SendsComeFromTheDecidingNodeAndOnlyTheFirstBusLevelAddsItsValues) {
  Tools::BankNodeParams master;
  master.properties = {Tools::BankNodeProperty::Float(0, -0.25f), Tools::BankNodeProperty::Float(23, 100.0f)};
  Tools::BankNodeParams bus;
  bus.parentId = 51;
  bus.properties = {Tools::BankNodeProperty::Float(0, -1.0f), Tools::BankNodeProperty::Float(23, 50.0f)};
  Tools::BankNodeParams root;
  root.sendFlags = 0x08;
  root.auxBusIds[0] = 31;
  root.auxBusIds[3] = 33;
  root.properties = {Tools::BankNodeProperty::Float(18, -6.0f), Tools::BankNodeProperty::Float(21, -9.0f),
                     Tools::BankNodeProperty::Float(22, -2.0f)};
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  leaf.outputBusId = 50;
  leaf.properties = {Tools::BankNodeProperty::Float(23, 2.0f), Tools::BankNodeProperty::Float(24, 4.0f),
                     Tools::BankNodeProperty::Float(25, 3.0f), Tools::BankNodeProperty::Float(18, -100.0f)};
  ASSERT_EQ(LoadBank({{kBusType, 51, master}, {kBusType, 50, bus}, {kParentType, 60, root}, {kLeafType, 70, leaf}}),
            SN::SN_Success);
  const SnSoundParams params = Gather(Node(70));
  EXPECT_EQ(params.volume, -1.25f);  // the leaf's bus and that bus's parent
  EXPECT_EQ(params.outputBus[0], 2.0f);
  EXPECT_EQ(params.outputBus[1], 3.0f);
  EXPECT_EQ(params.outputBus[2], 4.0f);
  EXPECT_EQ(params.userSends[0], -6.0f);  // the root decides, the leaf's own value is not its
  EXPECT_EQ(params.userSends[3], -9.0f);
  EXPECT_EQ(params.auxBusIds[0], 31u);
  EXPECT_EQ(params.auxBusIds[3], 33u);
  EXPECT_EQ(params.gameSend, -2.0f);
  EXPECT_EQ(params.userSendsTaken, 1);
  EXPECT_EQ(params.gameSendTaken, 1);
}

TEST_F(SoundNodeAccumulationTest, SecondaryOutputValuesResetsAndRemovedPositioningCurves) {
  Tools::BankNodeParams bus;
  bus.properties = {Tools::BankNodeProperty::Float(0, -1.0f)};
  Tools::BankNodeParams leaf;
  leaf.outputBusId = 50;
  leaf.secondaryOutputId = 51;
  leaf.properties = {Tools::BankNodeProperty::Float(8, 2.0f), Tools::BankNodeProperty::Float(9, 1.0f),
                     Tools::BankNodeProperty::Float(11, 7.0f)};
  leaf.curves = {LinearCurve(7, 20, 0.0f, 1.0f), LinearCurve(8, 38, 0.0f, 1.0f, 2)};
  ASSERT_EQ(LoadBank({{kBusType, 50, bus}, {kBusType, 51, {}}, {kLeafType, 70, leaf}}, 1), SN::SN_Success);
  TestNode* node = Node(70);
  SN::CSnRegisteredObj* seven = GameObject(7);
  const SN::TransParamsBase now;
  ASSERT_EQ(node->SetRuntimeValue(nullptr, SN::SnProp_SecondaryFirst, 0.5f, now), SN::SN_Success);
  ASSERT_EQ(node->SetRuntimeValue(seven, SN::SnProp_SecondaryFirst, 0.25f, now), SN::SN_Success);
  SN::CSnPropertyNode::SecondaryOutputValues values;
  node->AccumulateSecondaryOutput(values, SN::SnRTPCKey::ForObject(seven));
  EXPECT_EQ(values.target, Node(51, true));
  EXPECT_EQ(values.first, 2.75f);
  EXPECT_EQ(values.second, 1.0f);
  EXPECT_EQ(values.busVolume, -1.0f);

  // Every object's value goes to 0, and the value of all.
  ASSERT_EQ(node->SetRuntimeValue(seven, SN::SnProp_Volume, -3.0f, now), SN::SN_Success);
  ASSERT_EQ(node->SetRuntimeValue(nullptr, SN::SnProp_Volume, -2.0f, now), SN::SN_Success);
  node->ResetRuntimeValues(SN::SnProp_Volume, now);
  EXPECT_EQ(Gather(node, kAll, seven).volume, -1.0f);  // the output bus's own
  ASSERT_EQ(node->Mute(nullptr, now), SN::SN_Success);
  ASSERT_EQ(node->Mute(seven, now), SN::SN_Success);
  node->UnmuteAll(now);
  node->gains.clear();
  Gather(node, kAll, seven);
  EXPECT_TRUE(node->gains.empty());

  // A removed positioning curve gives the node's own value back, or 0 for the distance-scaled ones.
  node->RemoveCurve(20);
  node->RemoveCurve(38);
  ASSERT_EQ(node->positioning.size(), 2u);
  EXPECT_EQ(node->positioning[0], (std::pair<uint32_t, float>{20, 7.0f}));
  EXPECT_EQ(node->positioning[1], (std::pair<uint32_t, float>{38, 0.0f}));
}

}  // namespace
