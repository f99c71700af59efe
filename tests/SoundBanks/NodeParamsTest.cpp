// The common node parameters read from builder banks: positioning with its path, sends, advanced
// settings, state groups and curves; payloads whose counts run past their end; and the look-ups that
// walk up to the nearest node that overrides a setting.
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::CSnHierarchyNode;
using SN::CSnPropertyNode;

class SoundNodeParamsTest : public NodeFixture {};

Tools::BankNodeParams WithPath(std::vector<Tools::BankPathItem> items, uint32_t vertexCount) {
  Tools::BankNodeParams params;
  params.positioning.bits = 0x01 | 0x08 | 0x10 | 0x20;
  params.positioning.type = 2;
  params.positioning.attenuationId = 88;
  params.positioning.pathMode = 3;
  params.positioning.pathTransitionMs = 250;
  for (uint32_t i = 0; i < vertexCount; ++i) params.positioning.vertices.push_back({float(i), 0.0f, 1.0f, 10});
  params.positioning.items = std::move(items);
  return params;
}

TEST_F(SoundNodeParamsTest, APathIsCopiedWithItsItemsAndTheLastVertexTakesTheTransitionTime) {
  ASSERT_EQ(LoadBank({{kLeafType, 70, WithPath({{0, 2, {1, 2, 3}}, {1, 3, {4, 5, 6}}}, 4)}}), SN::SN_Success);
  const SN::SnPositioningParams* positioning = Node(70)->Positioning();
  ASSERT_NE(positioning, nullptr);
  EXPECT_EQ(positioning->attenuationId, 88u);
  EXPECT_EQ(positioning->pathMode, 3u);
  EXPECT_EQ(positioning->flags & 0x21, 0x21);
  ASSERT_EQ(positioning->itemCount, 2u);
  EXPECT_EQ(positioning->items[1].vertices, positioning->vertices + 1);
  EXPECT_EQ(positioning->items[1].ranges[2], 6.0f);
  EXPECT_EQ(positioning->vertices[1].durationMs, 250);  // last of the first item
  EXPECT_EQ(positioning->vertices[3].durationMs, 250);
  EXPECT_EQ(positioning->vertices[2].durationMs, 10);
  EXPECT_EQ(Node(70)->SendFlags() & 0x0F, 0x01 | (2 << 2));
}

TEST_F(SoundNodeParamsTest, APathItemRunningPastTheLastVertexFailsTheNode) {
  // Its first vertex lies inside; its last would be read beyond the copied array.
  EXPECT_EQ(LoadBank({{kLeafType, 70, WithPath({{2, 3, {}}}, 4)}}), SN::SN_Failure);
  EXPECT_EQ(Node(70), nullptr);
  EXPECT_TRUE(Logged("path items do not lie within its 4 vertices"));
  // A count so large that first + count wraps 32 bits.
  EXPECT_EQ(LoadBank({{kLeafType, 71, WithPath({{1, 0xFFFFFFFFu, {}}}, 4)}}), SN::SN_Failure);
  // Empty arrays are no path at all.
  ASSERT_EQ(LoadBank({{kLeafType, 72, WithPath({}, 4)}}), SN::SN_Success);
  EXPECT_EQ(Node(72)->Positioning()->itemCount, 0u);
}

TEST_F(SoundNodeParamsTest, CountsThatRunPastThePayloadFailTheNodeAndKeepWhatWasApplied) {
  Tools::BankNodeParams params;
  params.effects = {{0, 900, 0, 0}};
  params.properties = {Tools::BankNodeProperty::Float(0, -3.0f)};
  params.stateGroups = {{5, 1, {{1, 2}}}};
  params.curves = {LinearCurve(7, 0, 0.0f, 1.0f)};
  std::vector<uint8_t> whole;
  Tools::PutNodeParams(whole, params, false);
  // Every cut short of the whole payload fails; none reads past the end (the sanitizers watch).
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    auto* node = SN::PoolNew<TestNode>(SN::g_DefaultPoolId, 900 + uint32_t(cut), 11);
    ASSERT_NE(node, nullptr);
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
    const uint8_t* cursor = bytes.data();
    EXPECT_EQ(node->ReadBaseParams(cursor, bytes.data() + bytes.size(), false), SN::SN_Failure) << cut;
    EXPECT_LE(cursor, bytes.data() + bytes.size());
    if (cut > 10) {
      EXPECT_EQ(node->FxSlots()->slots[0].effectId, 900u) << "applied before the cut stays";
    }
    node->Release();
  }
  // Counts that promise more than the payload holds: states, curve points, properties.
  const size_t statesAt = whole.size() - 2 - (4 + 3 + 4 + 1 + 2 + 24) - (4 + 4 + 1 + 2 + 8);
  std::vector<uint8_t> bigStates = whole;
  bigStates[statesAt + 4 + 4 + 1] = 0xFF;  // the group's state count
  std::vector<uint8_t> bigPoints = whole;
  bigPoints[whole.size() - 24 - 2] = 0xFF;  // the curve's point count
  for (const std::vector<uint8_t>& bytes : {bigStates, bigPoints}) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    auto* node = SN::PoolNew<TestNode>(SN::g_DefaultPoolId, 990, 11);
    const uint8_t* cursor = bytes.data();
    EXPECT_EQ(node->ReadBaseParams(cursor, bytes.data() + bytes.size(), false), SN::SN_Failure);
    EXPECT_EQ(node->FloatProperty(0), -3.0f);
    node->Release();
  }
  EXPECT_TRUE(Logged("states of group 5 run past the end of the object"));
  EXPECT_TRUE(Logged("points of curve 1 run past the end of the object"));
}

TEST_F(SoundNodeParamsTest, SendsAdvancedSettingsStatesAndCurvesAreTaken) {
  Tools::BankSettings settings;
  settings.stateGroups = {{5, 0, {}}};
  Tools::BankNodeParams params;
  params.sendFlags = 0x08 | 0x07;
  params.auxBusIds[1] = 31;
  params.auxBusIds[3] = 33;
  params.advancedFlags = 0x1F;
  params.virtualBehaviour = 0x0D;  // 3 bits kept
  params.behaviour = 0x1A;         // 4 bits kept
  params.maxInstances = 0x0405;    // 10 bits kept
  params.outputFlags = 0x0F;
  params.priorityFlags = 0x3F;
  params.stateGroups = {{5, 2, {{10, 400}}}};
  params.curves = {LinearCurve(7, 0, 0.0f, -12.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, params}}, 0,
                     {{1, Tools::StatePropertiesPayload(400, {Tools::BankNodeProperty::Float(0, -4.0f)})}}, &settings),
            SN::SN_Success);
  TestNode* leaf = Node(70);
  ASSERT_NE(leaf->AuxBusIds(), nullptr);
  EXPECT_EQ(leaf->AuxBusIds()[0], 0u);
  EXPECT_EQ(leaf->AuxBusIds()[1], 31u);
  EXPECT_EQ(leaf->AuxBusIds()[3], 33u);
  EXPECT_EQ(leaf->SendFlags() & 0xF0, 0x70 | 0x80);
  EXPECT_EQ(leaf->FlagsA() & 0x3F, CSnHierarchyNode::kLimiterOldestFirst | CSnHierarchyNode::kLimiterGoVirtual |
                                       CSnHierarchyNode::kLimitsGlobally | CSnHierarchyNode::kEnforcesOwnLimit |
                                       CSnHierarchyNode::kOverridesVoiceBehaviour);
  EXPECT_EQ(leaf->MaxInstances(), 5);
  uint8_t virtualBehaviour = 0;
  EXPECT_EQ(leaf->GetVoiceBehaviour(virtualBehaviour), 0x0A);
  EXPECT_EQ(virtualBehaviour, 0x05);
  EXPECT_EQ(leaf->OutputFlags(), 0x07);
  EXPECT_EQ(leaf->MidiFlags(), 0x0F);
  EXPECT_TRUE(leaf->HasCurve(0));
  ASSERT_NE(leaf->StateLinks(), nullptr);
  EXPECT_EQ(leaf->StateLinks()->GroupId(), 5u);
  EXPECT_EQ(leaf->StateLinks()->SyncType(), 2);
  EXPECT_EQ(leaf->StateLinks()->MappingCount(), 1u);
  // A state whose property object is not loaded is logged; the node keeps loading.
  params.stateGroups = {{5, 0, {{11, 401}}}};
  ASSERT_EQ(LoadBank({{kLeafType, 71, params}}), SN::SN_Success);
  EXPECT_EQ(Node(71)->StateLinks()->MappingCount(), 0u);
  EXPECT_TRUE(Logged("names state properties 401, which are not loaded"));
}

TEST_F(SoundNodeParamsTest, InheritedSettingsComeFromTheNearestNodeThatOverridesThem) {
  Tools::BankNodeParams top;
  top.properties = {Tools::BankNodeProperty::Float(6, 70.0f), Tools::BankNodeProperty::Float(7, -20.0f),
                    Tools::BankNodeProperty::Int(46, 2)};
  top.priorityFlags = 0x02;  // distance offset, but the root decides anyway
  top.virtualBehaviour = 1;
  top.behaviour = 2;
  Tools::BankNodeParams middle;
  middle.parentId = 60;
  middle.priorityFlags = 0x01 | (0x01 << 2);  // overrides priority and the MIDI events
  middle.properties = {Tools::BankNodeProperty::Float(6, 30.0f), Tools::BankNodeProperty::Int(46, 1)};
  middle.positioning.bits = 0x01 | 0x08;
  middle.positioning.type = 1;
  Tools::BankNodeParams leaf;
  leaf.parentId = 61;
  ASSERT_EQ(LoadBank({{kParentType, 60, top}, {kParentType, 61, middle}, {kLeafType, 70, leaf}}), SN::SN_Success);
  float priority = 0, offset = 0;
  Node(70)->GetPriority({}, priority, offset);
  EXPECT_EQ(priority, 30.0f);
  EXPECT_EQ(offset, 0.0f);
  Node(60)->GetPriority({}, priority, offset);
  EXPECT_EQ(priority, 70.0f);
  EXPECT_EQ(offset, -20.0f);
  uint8_t virtualBehaviour = 0;
  EXPECT_EQ(Node(70)->GetVoiceBehaviour(virtualBehaviour), 2);
  EXPECT_EQ(virtualBehaviour, 1);
  EXPECT_EQ(Node(70)->MidiPlayMode(), 1u);
  EXPECT_EQ(Node(70)->MidiSettingsNode(CSnHierarchyNode::kMidiOverridesTracking), Node(60));
  EXPECT_EQ(Node(70)->PositioningNode(), Node(61));
  // The positioning override decides the positioning parameters; the root decides priority.
  EXPECT_NE(Node(61)->OverrideMask() & SN::ParameterBit(10), 0u);
  EXPECT_EQ(Node(70)->OverrideMask() & SN::ParameterBit(8), 0u);
  EXPECT_NE(Node(60)->OverrideMask() & SN::ParameterBit(8), 0u);
}

}  // namespace
