// Node levels a bank gives far past what a sound can mean (which the builder's text refuses, so the
// bank writer is handed them directly) are held as they load: each with one logged error, the node's
// own values to their ranges, a state's values and the random ranges to what may add to them, and a
// set-value action's run-time value likewise.
#include <limits>

#include "Base/MathUtil.h"
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::SnSoundParams;
using Tools::BankNodeProperty;

constexpr uint32_t kEveryGroup = 0x3F;

class NodeLevelsTest : public NodeFixture {
 protected:
  void TearDown() override {
    Base::SeedRand15(1);
    NodeFixture::TearDown();
  }
  SnSoundParams Gather(TestNode* node, SN::SnRandomOffsets* random = nullptr) {
    SnSoundParams params;
    node->GetSoundParams(params, kEveryGroup, SN::SnRTPCKey{}, random, random != nullptr, true);
    return params;
  }
};

TEST_F(NodeLevelsTest, ANodesOwnItsStatesAndItsRunTimeLevelsAreHeld) {
  Tools::BankSettings settings;
  settings.stateGroups = {{5, 0, {}}};
  Tools::BankNodeParams root;
  root.stateGroups = {{5, 0, {{10, 400}}}};
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  leaf.properties = {BankNodeProperty::Float(0, 3e38f), BankNodeProperty::Float(33, -3e38f),
                     BankNodeProperty::Float(3, 250.0f), BankNodeProperty::Float(2, 4800.0f)};
  leaf.ranges = {{0, -3e38f, 3e38f}};
  const auto stateSet = Tools::StatePropertiesPayload(
      400, {BankNodeProperty::Float(0, 3e38f), BankNodeProperty::Float(3, -300.0f),
            BankNodeProperty::Float(5, std::numeric_limits<float>::quiet_NaN())});
  ASSERT_EQ(LoadBank({{kParentType, 60, root}, {kLeafType, 70, leaf}}, 0, {{1, stateSet}}, &settings), SN::SN_Success);
  EXPECT_TRUE(Logged("Node 70: property 0 of 3e+38 is outside -4096 to 24; 24 is used"));
  EXPECT_FALSE(Logged("property 3 ")) << "a node's filter value adds to its path's, which the voice clamps";
  EXPECT_TRUE(Logged("Node 70: the random range -3e+38 to 3e+38 of property 0 is outside -4120 to 24; -4120 to 24 "
                     "is used"));
  EXPECT_TRUE(Logged("State properties 400: property 5 of nan is outside -4120 to 24; 0 is used"));
  EXPECT_TRUE(Logged("Node 70: property 2 of 4800 is outside -2400 to 2400; 2400 is used"));
  TestNode* node = Node(70);
  SnSoundParams params = Gather(node);
  EXPECT_EQ(params.volume, 24.0f);
  EXPECT_EQ(params.secondGain, -4096.0f);
  EXPECT_EQ(params.lowPass, 250.0f);
  EXPECT_EQ(params.pitch, 2400.0f);

  // The state's values add to the leaf's: its filter value may lower the leaf's, its volume adds; so
  // does a run-time value.
  SN::g_pStateMgr->SetState(5, 10, true, false);
  ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  Node(60)->RefreshStateValues();
  EXPECT_EQ(node->SetRuntimeValue(nullptr, SN::SnProp_Volume, 3e38f, SN::TransParamsBase{}), SN::SN_Success);
  EXPECT_TRUE(Logged("Node 70: run-time value 3e+38 of property 0 is outside -4120 to 24; 24 is used"));
  params = Gather(node);
  EXPECT_EQ(params.volume, 72.0f);
  EXPECT_EQ(params.lowPass, -50.0f);
  EXPECT_EQ(params.stateValue, 0.0f) << "a value that is not a number is the table default";

  // The random range of the volume is drawn across -4120 to 24 dB.
  Base::SeedRand15(1234);
  SN::SnRandomOffsets random;
  Gather(node, &random);
  Base::SeedRand15(1234);
  EXPECT_EQ(random.volume, -4120.0f + float(Base::Rand15()) * 3.051851e-05f * 4144.0f);
}

}  // namespace
