// Hierarchy nodes loaded from builder banks: links to parents and buses by id, the secondary output
// under the motion flag, teardown, activity records, table defaults, effect slots and the common node
// parameters as the builder writes them and the reader takes them.
#include <atomic>
#include <thread>

#include "SoundEngine/AudioMgr.h"
#include "tests/SoundBanks/NodeTestKinds.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace NodeTest;
using SN::CSnHierarchyNode;

class SoundNodeBaseTest : public NodeFixture {};

Tools::BankNodeParams Linked(uint32_t bus, uint32_t parent) {
  Tools::BankNodeParams params;
  params.outputBusId = bus;
  params.parentId = parent;
  return params;
}

TEST_F(SoundNodeBaseTest, NodesLinkToBusesAndParentsByIdAndAnAbsentBusFailsTheLoad) {
  ASSERT_EQ(LoadBank({{kBusType, 50, {}},
                      {kParentType, 60, Linked(50, 0)},
                      {kLeafType, 70, Linked(0, 60)},
                      {kLeafType, 71, Linked(0, 999)}}),
            SN::SN_Success);
  TestNode* bus = Node(50, true);
  TestNode* parent = Node(60);
  TestNode* leaf = Node(70);
  ASSERT_TRUE(bus && parent && leaf);
  EXPECT_TRUE(bus->IsBus());
  EXPECT_EQ(Node(50), nullptr);  // buses are in their own list
  EXPECT_EQ(parent->OutputBus(), bus);
  EXPECT_EQ(bus->children, std::vector<CSnHierarchyNode*>{parent});
  EXPECT_EQ(leaf->Parent(), parent);
  EXPECT_EQ(parent->children, std::vector<CSnHierarchyNode*>{leaf});
  // An absent parent is no fault; an absent bus is.
  ASSERT_NE(Node(71), nullptr);
  EXPECT_EQ(Node(71)->Parent(), nullptr);
  EXPECT_EQ(LoadBank({{kLeafType, 72, Linked(998, 0)}}), SN::SN_Failure);
  EXPECT_EQ(Node(72), nullptr);
  EXPECT_TRUE(Logged("output bus 998 is not loaded"));
}

TEST_F(SoundNodeBaseTest, TheSecondaryOutputIsReadOnlyUnderTheMotionFlag) {
  Tools::BankNodeParams leaf;
  leaf.secondaryOutputId = 50;
  ASSERT_EQ(LoadBank({{kBusType, 50, {}}, {kLeafType, 70, leaf}}, 1), SN::SN_Success);
  EXPECT_EQ(Node(70)->SecondaryOutput(), Node(50, true));
  EXPECT_EQ(Node(50, true)->children.size(), 1u);
  // Without the flag the id is not in the payload (the builder leaves it out) and none is linked.
  ASSERT_EQ(LoadBank({{kLeafType, 71, leaf}}), SN::SN_Success);
  EXPECT_EQ(Node(71)->SecondaryOutput(), nullptr);
  // Under the flag a secondary output that is not loaded fails the node.
  leaf.secondaryOutputId = 77;
  EXPECT_EQ(LoadBank({{kLeafType, 72, leaf}}, 1), SN::SN_Failure);
}

TEST_F(SoundNodeBaseTest, ReleaseTakesTheNodeOutOfTheIndexFirstAndLetsGoOfWhatItLinks) {
  ASSERT_EQ(LoadBank({{kBusType, 50, {}}, {kParentType, 60, {}}, {kLeafType, 70, Linked(50, 60)}}), SN::SN_Success);
  TestNode* leaf = Node(70);
  int destroyed = 0;
  leaf->destroyed = &destroyed;
  // The bank's reference and one more: the last one destroys.
  leaf->AddRef();
  ASSERT_EQ(SN::g_pBankManager->UnloadBankWait(loaded_.back(), nullptr), SN::SN_Success);
  loaded_.pop_back();
  // The unload released the three nodes; the leaf's own reference keeps it, and with it its parent and bus.
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(Node(70), leaf);
  EXPECT_EQ(leaf->Parent(), Node(60));
  ASSERT_NE(Node(50, true), nullptr);
  leaf->Release();
  EXPECT_EQ(destroyed, 1);  // found by nobody while it went
  EXPECT_EQ(Node(60), nullptr);
  EXPECT_EQ(Node(50, true), nullptr);
}

TEST_F(SoundNodeBaseTest, AddingAChildByIdAndActivityRecords) {
  ASSERT_EQ(LoadBank({{kBusType, 50, {}}, {kParentType, 60, {}}, {kLeafType, 70, Linked(0, 60)}, {kLeafType, 71, {}}}),
            SN::SN_Success);
  TestNode* parent = Node(60);
  TestNode* leaf = Node(70);
  EXPECT_EQ(parent->AddChildById(0), SN::SN_InvalidPoolId);
  EXPECT_EQ(parent->AddChildById(12345), SN::SN_IdNotFound);
  EXPECT_EQ(parent->AddChildById(71), SN::SN_Success);
  EXPECT_EQ(parent->children.size(), 2u);
  EXPECT_EQ(leaf->AddChildById(71), SN::SN_Failure);  // a leaf takes none

  // Bit 0 without an output bus goes to the parent unchanged.
  ASSERT_TRUE(leaf->ActivityUp(1));
  ASSERT_NE(leaf->Activity(), nullptr);
  ASSERT_NE(parent->Activity(), nullptr);
  EXPECT_EQ(parent->Activity()->activeChildren, 1);
  EXPECT_EQ(parent->Activity()->children.Count(), 1u);  // the leaf registered as active
  EXPECT_EQ(Node(50, true)->Activity(), nullptr);
  leaf->ActivityDown(1);
  // All four counters at zero: both records are gone, and the next activity makes fresh ones.
  EXPECT_EQ(leaf->Activity(), nullptr);
  EXPECT_EQ(parent->Activity(), nullptr);
  ASSERT_TRUE(leaf->ActivityUp(3));
  EXPECT_EQ(leaf->Activity()->activeChildren, 1);
  leaf->ActivityDown(3);
  EXPECT_EQ(leaf->Activity(), nullptr);
  // A down without an up is logged and changes nothing.
  leaf->ActivityDown(3);
  EXPECT_TRUE(Logged("activity down without activity"));
}

TEST_F(SoundNodeBaseTest, ActivityThroughTheBusPathsTakesThemWithBothBits) {
  Tools::BankNodeParams leaf = Linked(50, 60);
  leaf.secondaryOutputId = 51;
  ASSERT_EQ(LoadBank({{kBusType, 50, {}}, {kBusType, 51, {}}, {kParentType, 60, {}}, {kLeafType, 70, leaf}}, 1),
            SN::SN_Success);
  ASSERT_TRUE(Node(70)->ActivityUp(3));
  EXPECT_EQ(Node(50, true)->Activity()->activeChildren, 1);
  EXPECT_EQ(Node(51, true)->Activity()->activeChildren, 1);
  EXPECT_EQ(Node(60)->Activity()->activeChildren, 1);
  Node(70)->ActivityDown(3);
  for (TestNode* node : {Node(50, true), Node(51, true), Node(60), Node(70)}) EXPECT_EQ(node->Activity(), nullptr);
}

TEST_F(SoundNodeBaseTest, AnActiveNodeIsListedOnceByEachNodeAbove) {
  // The secondary output is the output bus too: one entry there, gone with the activity.
  Tools::BankNodeParams twice = Linked(50, 60);
  twice.secondaryOutputId = 50;
  ASSERT_EQ(LoadBank({{kBusType, 50, {}}, {kParentType, 60, {}}, {kParentType, 61, {}}, {kLeafType, 70, twice}}, 1),
            SN::SN_Success);
  TestNode* leaf = Node(70);
  TestNode* first = Node(60);
  ASSERT_EQ(leaf->SecondaryOutput(), leaf->OutputBus());
  ASSERT_TRUE(leaf->ActivityUp(1));
  EXPECT_EQ(Node(50, true)->Activity()->children.Count(), 1u);
  EXPECT_EQ(first->Activity()->children.Count(), 1u);
  // The parent changes while the leaf plays: the old parent keeps its entry, and the leaf's next
  // activity under it again does not list it twice.
  leaf->SetParent(Node(61));
  leaf->ActivityDown(1);
  EXPECT_EQ(leaf->Activity(), nullptr);
  EXPECT_EQ(Node(50, true)->Activity(), nullptr);
  ASSERT_NE(first->Activity(), nullptr);
  EXPECT_EQ(first->Activity()->children.Count(), 1u);
  leaf->SetParent(first);
  ASSERT_TRUE(leaf->ActivityUp(1));
  EXPECT_EQ(first->Activity()->children.Count(), 1u);
  EXPECT_EQ(first->Activity()->activeChildren, 2);
  leaf->ActivityDown(1);
  EXPECT_EQ(first->Activity()->children.Count(), 0u);
}

TEST_F(SoundNodeBaseTest, PropertiesReadTheirTableDefaultsAndChangesAreTold) {
  Tools::BankNodeParams params;
  params.properties = {Tools::BankNodeProperty::Float(0, -6.0f), Tools::BankNodeProperty::Int(46, 2)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, params}, {kLeafType, 71, {}}}), SN::SN_Success);
  TestNode* plain = Node(71);
  EXPECT_EQ(plain->FloatProperty(SN::SnProp_Priority), 50.0f);
  EXPECT_EQ(plain->FloatProperty(SN::SnProp_PriorityDistanceOffset), -10.0f);
  EXPECT_EQ(plain->FloatProperty(SN::SnProp_GainFactor), 1.0f);
  EXPECT_EQ(plain->IntProperty(SN::SnProp_MidiKeyMax), 127);
  EXPECT_EQ(plain->IntProperty(SN::SnProp_LoopCount), 1);
  EXPECT_EQ(uint32_t(plain->IntProperty(SN::SnProp_AttachedMixer)), 0xFFFFFFFFu);
  EXPECT_EQ(plain->ExtendedPropertySlot(0), nullptr);
  TestNode* leaf = Node(70);
  EXPECT_EQ(leaf->FloatProperty(SN::SnProp_Volume), -6.0f);
  EXPECT_EQ(leaf->MidiPlayMode(), 2u);
  EXPECT_NE(leaf->FlagsB() & CSnHierarchyNode::kStateValuesApply, 0);
  const int before = leaf->valuesChanged;
  EXPECT_EQ(leaf->SetFloatProperty(SN::SnProp_Volume, -6.0f), SN::SN_Success);
  EXPECT_EQ(leaf->valuesChanged, before);
  EXPECT_EQ(leaf->SetFloatProperty(SN::SnProp_Pitch, 100.0f), SN::SN_Success);
  EXPECT_EQ(leaf->SetIntProperty(SN::SnProp_MidiTranspose, 3), SN::SN_Success);
  EXPECT_EQ(leaf->valuesChanged, before + 2);
  EXPECT_EQ(leaf->FloatProperty(SN::SnProp_Pitch), 100.0f);
  // A NaN never equals the stored value: it is a change.
  EXPECT_EQ(leaf->SetFloatProperty(SN::SnProp_Pitch, NAN), SN::SN_Success);
  EXPECT_EQ(leaf->valuesChanged, before + 3);
}

TEST_F(SoundNodeBaseTest, EffectSlotsKeepLevelsAndMergeBypassBits) {
  Tools::BankNodeParams params;
  params.overridesEffects = 1;
  params.bypassBits = 0x05;
  params.effects = {{0, 900, 1, 0}, {2, 901, 0, 1}};
  ASSERT_EQ(LoadBank({{kLeafType, 70, params}}), SN::SN_Success);
  TestNode* leaf = Node(70);
  ASSERT_NE(leaf->FxSlots(), nullptr);
  EXPECT_NE(leaf->FlagsB() & CSnHierarchyNode::kOverridesEffects, 0);
  EXPECT_EQ(leaf->FxSlots()->slots[0].effectId, 900u);
  EXPECT_EQ(leaf->FxSlots()->slots[0].shared, 1);
  EXPECT_EQ(leaf->FxSlots()->slots[2].effectId, 0u);  // rendered: no effect applied
  EXPECT_EQ(leaf->FxSlots()->slots[2].rendered, 1);
  EXPECT_EQ(leaf->FxSlots()->bypass, 0x05);
  EXPECT_EQ(leaf->SetEffectSlot(4, 1, false, 0), SN::SN_InvalidParameter);
  leaf->effectSlots.clear();
  EXPECT_EQ(leaf->SetEffectSlot(1, 902, false, 5), SN::SN_Success);
  EXPECT_EQ(leaf->SetEffectSlot(1, 903, false, 4), SN::SN_Success);  // a lower level is not applied
  EXPECT_EQ(leaf->FxSlots()->slots[1].effectId, 902u);
  EXPECT_EQ(leaf->effectSlots, std::vector<uint32_t>{1});
  // Rendering a slot that holds an effect clears it and tells the node.
  EXPECT_EQ(leaf->MarkSlotRendered(1, true), SN::SN_Success);
  EXPECT_EQ(leaf->FxSlots()->slots[1].effectId, 0u);
  EXPECT_EQ(leaf->effectSlots, (std::vector<uint32_t>{1, 1}));
  leaf->SetBypassBits(0x0A, 0x0C);
  EXPECT_EQ(leaf->FxSlots()->bypass, 0x09);  // (0x05 & ~0x0C) | (0x0A & 0x0C)
  // A node loaded again asks for the effect block only: rendered marks apply, ids and bypass do not.
  std::vector<uint8_t> effects;
  Tools::BankNodeParams again;
  again.effects = {{0, 950, 0, 0}, {3, 0, 0, 1}};
  again.bypassBits = 0xFF;
  Tools::PutNodeParams(effects, again, false);
  const uint8_t* cursor = effects.data();
  EXPECT_EQ(leaf->ReadBaseParams(cursor, effects.data() + effects.size(), true), SN::SN_Success);
  EXPECT_EQ(cursor, effects.data() + 2 + 1 + 14);
  EXPECT_EQ(leaf->FxSlots()->slots[0].effectId, 900u);
  EXPECT_EQ(leaf->FxSlots()->slots[3].rendered, 1);
  EXPECT_EQ(leaf->FxSlots()->bypass, 0x09);
}

TEST_F(SoundNodeBaseTest, TheBuilderWritesTheCommonParametersByteForByte) {
  Tools::BankNodeParams params;
  params.overridesEffects = 1;
  params.bypassBits = 0x02;
  params.effects = {{1, 0x11223344, 1, 0}};
  params.attachmentFlags = 1;
  params.outputBusId = 0x50;
  params.parentId = 0x60;
  params.priorityFlags = 0x07;
  params.properties = {Tools::BankNodeProperty::Float(6, 80.0f)};
  params.ranges = {{0, -3.0f, 3.0f}};
  params.positioning.bits = 0x09;
  params.positioning.type = 1;
  params.positioning.attenuationId = 0x77;
  params.sendFlags = 0x08;
  params.auxBusIds[2] = 0x99;
  params.advancedFlags = 0x09;
  params.virtualBehaviour = 2;
  params.maxInstances = 4;
  params.behaviour = 1;
  params.outputFlags = 0x03;
  params.stateGroups = {{0xAB, 1, {{0x10, 0x20}}}};
  params.curves = {LinearCurve(0x33, 2, 0.0f, 1.0f, 0x44)};
  params.curves[0].points.resize(1);
  params.secondaryOutputId = 0x51;
  const std::vector<uint8_t> expected = {
      0x01, 0x01, 0x02, 0x01, 0x44, 0x33, 0x22, 0x11, 0x01, 0x00,  // effects
      0x01, 0x50, 0,    0,    0,    0x60, 0,    0,    0,    0x07,  // attachment, bus, parent, priority
      0x01, 0x06, 0x00, 0x00, 0xA0, 0x42,                          // properties {6: 80.0}
      0x01, 0x00, 0x00, 0x00, 0x40, 0xC0, 0x00, 0x00, 0x40, 0x40,  // ranges {0: -3, 3}
      0x09, 0x01, 0x77, 0,    0,    0,                             // positioning: 3D, type 1
      0x08, 0,    0,    0,    0,    0,    0,    0,    0,    0x99, 0,    0,    0, 0,    0,    0,    0,        // sends
      0x09, 0x02, 0x04, 0x00, 0x01, 0x03,                                                                    // advanced
      0x01, 0,    0,    0,    0xAB, 0,    0,    0,    0x01, 0x01, 0x00, 0x10, 0, 0,    0,    0x20, 0, 0, 0,  // states
      0x01, 0x00, 0x33, 0,    0,    0,    0x00, 0x00, 0x02, 0x44, 0,    0,    0, 0x00, 0x01, 0x00,  // curve header
      0,    0,    0,    0,    0,    0,    0,    0,    0x04, 0,    0,    0,                          // its point
      0x51, 0,    0,    0};                                                                         // secondary output
  std::vector<uint8_t> written;
  Tools::PutNodeParams(written, params, true);
  EXPECT_EQ(written, expected);
  std::vector<uint8_t> withoutMotion;
  Tools::PutNodeParams(withoutMotion, params, false);
  EXPECT_EQ(withoutMotion, std::vector<uint8_t>(expected.begin(), expected.end() - 4));
}

TEST_F(SoundNodeBaseTest, ShortFormsOfTheBlocksAndTheTenBitMaximum) {
  Tools::BankNodeParams params;
  params.maxInstances = 1024;
  params.sendFlags = 0x05;         // no ids follow
  params.positioning.bits = 0x02;  // bit 0 clear: a single byte
  ASSERT_EQ(LoadBank({{kLeafType, 70, params}}), SN::SN_Success);
  TestNode* leaf = Node(70);
  EXPECT_EQ(leaf->MaxInstances(), 0);
  EXPECT_EQ(leaf->AuxBusIds(), nullptr);
  EXPECT_EQ(leaf->SendFlags() & 0x70, 0x50);
  EXPECT_EQ(leaf->FlagsB() & CSnHierarchyNode::kHasPositioning, 0);
  EXPECT_EQ(leaf->Positioning(), nullptr);
  EXPECT_EQ(leaf->FxSlots(), nullptr);  // count 0: no bypass byte, nothing made
  std::vector<uint8_t> bytes;
  Tools::PutNodeParams(bytes, params, false);
  EXPECT_EQ(bytes.size(), 2u + 1 + 8 + 1 + 2 + 1 + 1 + 6 + 4 + 2);
}

}  // namespace

namespace {

using namespace NodeTest;

class SoundNodeBaseMoreTest : public NodeFixture {
 protected:
  // Groups 5 and 6; the bus 50 waits on 6 for sync 3, the parent 60 on 5 for none, the leaf 70 on 5
  // for 2 and on 6 for 1.
  SN::SNRESULT LoadStateGroupNodes() {
    Tools::BankSettings settings;
    settings.stateGroups = {{5, 0, {}}, {6, 0, {}}};
    Tools::BankNodeParams bus;
    bus.stateGroups = {{6, 3, {}}};
    Tools::BankNodeParams root;
    root.stateGroups = {{5, 0, {}}};
    Tools::BankNodeParams leaf = Linked(50, 60);
    leaf.stateGroups = {{5, 2, {}}, {6, 1, {}}};
    return LoadBank({{kBusType, 50, bus}, {kParentType, 60, root}, {kLeafType, 70, leaf}}, 0, {}, &settings);
  }
};

TEST_F(SoundNodeBaseMoreTest, ReferencesComeAndGoOnSeveralThreadsAndTheLastTearsDown) {
  ASSERT_EQ(LoadBank({{kParentType, 60, {}}, {kLeafType, 70, Linked(0, 60)}}), SN::SN_Success);
  TestNode* leaf = Node(70);
  int destroyed = 0;
  leaf->destroyed = &destroyed;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      // Each holds a reference across its loop, so the node lives until the last one lets go.
      leaf->AddRef();
      ++ready;
      OrvTest::WaitUntil([&] { return go.load(); }, "the test's go");
      for (int i = 0; i < 2000; ++i) {
        if (SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(70, false)) found->Release();
        leaf->AddRef();
        leaf->Release();
      }
      if (t != 0) leaf->Release();
    });
  }
  OrvTest::WaitUntil([&] { return ready.load() >= 3; }, "the three threads to hold the node");
  // The bank lets go while the threads run; thread 0 keeps its reference to the end.
  go = true;
  ASSERT_EQ(SN::g_pBankManager->UnloadBankWait(loaded_.back(), nullptr), SN::SN_Success);
  loaded_.pop_back();
  for (size_t t = 1; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(destroyed, 0);
  threads[0].join();
  leaf->Release();  // thread 0's, given back here
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(Node(60), nullptr);
}

TEST_F(SoundNodeBaseMoreTest, ActionsPreparationSyncTypesAndLiveChanges) {
  ASSERT_EQ(LoadStateGroupNodes(), SN::SN_Success);
  TestNode* node = Node(70);
  SN::CSnRegisteredObj* seven = GameObject(7);
  node->Stop(seven, 12, 300, 4);
  node->Pause(nullptr, 0, 0, 0);
  node->Resume(nullptr, 5, 10, 1);
  ASSERT_EQ(node->actions.size(), 3u);
  EXPECT_EQ(node->actions[0].kind, uint32_t(SN::SnActionParams::Stop));
  EXPECT_EQ(node->actions[0].gameObject, seven);
  EXPECT_EQ(node->actions[0].playingId, 12u);
  EXPECT_EQ(node->actions[0].transitionMs, 300);
  EXPECT_EQ(node->actions[1].kind, uint32_t(SN::SnActionParams::Pause));
  EXPECT_EQ(node->actions[2].kind, uint32_t(SN::SnActionParams::Resume));
  EXPECT_EQ(node->actions[2].extra, 0u);

  // Sync types: the node, then the bus chain once, then the parents; a 0 ends the walk with {0}.
  SN::SnArray<uint32_t> types;
  EXPECT_FALSE(node->CollectSyncTypes(6, types));
  ASSERT_EQ(types.Count(), 2u);
  EXPECT_EQ(types[0], 1u);
  EXPECT_EQ(types[1], 3u);
  types.Term();
  EXPECT_TRUE(node->CollectSyncTypes(5, types));
  ASSERT_EQ(types.Count(), 1u);
  EXPECT_EQ(types[0], 0u);
  types.Term();

  // Preparation keeps the look-up's reference on success; an unknown id fails.
  const uint32_t refs = node->RefCount();
  EXPECT_EQ(SN::CSnHierarchyNode::PrepareNodeData(70), SN::SN_Success);
  EXPECT_EQ(node->RefCount(), refs + 1);
  SN::CSnHierarchyNode::UnprepareNodeData(70);
  EXPECT_EQ(node->RefCount(), refs);
  EXPECT_EQ(SN::CSnHierarchyNode::PrepareNodeData(4321), SN::SN_Failure);

  // With something active, a float change goes to the playing objects as a change of its parameter.
  ASSERT_TRUE(node->ActivityUp(0));
  EXPECT_EQ(node->SetFloatProperty(SN::SnProp_Volume, -4.0f), SN::SN_Success);
  EXPECT_EQ(node->SetFloatProperty(SN::SnProp_OutputBus1, 2.0f), SN::SN_Success);
  ASSERT_EQ(node->changes.size(), 2u);
  EXPECT_EQ(node->changes[0].parameterId, 0u);
  EXPECT_EQ(node->changes[0].value, -4.0f);      // the difference from the default 0
  EXPECT_EQ(node->changes[1].parameterId, 61u);  // handled: the node has an output bus
  node->ActivityDown(0);
}

// The links that wait for a sync point are counted while they live, and a link whose sync type a
// reload changes moves in or out of the count: with none counted, music holds no state change.
TEST_F(SoundNodeBaseMoreTest, StateLinksThatWaitForASyncPointAreCountedAsTheyComeChangeAndGo) {
  const uint32_t before = SN::CSnStateGroupLink::SyncedCount();
  ASSERT_EQ(LoadStateGroupNodes(), SN::SN_Success);
  EXPECT_EQ(SN::CSnStateGroupLink::SyncedCount(), before + 3);
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    // The parent's link was made without a sync type; given one, as a reload of the node does, it counts.
    SN::CSnStateGroupLink* link = Node(60)->AddStateGroupLink(5, 0, false);
    ASSERT_NE(link, nullptr);
    link->SetSyncType(2);
    EXPECT_EQ(SN::CSnStateGroupLink::SyncedCount(), before + 4);
    link->SetSyncType(4);
    EXPECT_EQ(SN::CSnStateGroupLink::SyncedCount(), before + 4);
    link = Node(70)->AddStateGroupLink(6, 0, false);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->SyncType(), 1u) << "the link there is kept as it is";
    link->SetSyncType(0);
    EXPECT_EQ(SN::CSnStateGroupLink::SyncedCount(), before + 3);
  }
  ASSERT_EQ(SN::g_pBankManager->UnloadBankWait(loaded_.back(), nullptr), SN::SN_Success);
  loaded_.pop_back();
  EXPECT_EQ(SN::CSnStateGroupLink::SyncedCount(), before);
}

}  // namespace
