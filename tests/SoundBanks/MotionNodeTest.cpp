// Motion buses and motion sources as banks the bank writer builds make them: the first motion bus is
// the default and no master, a motion bus is the second output of the nodes it takes, and a motion
// source reads its sources before its node parameters, plays only where motion devices can be, and
// hands a changed source value to the plays of that source.
#include <gtest/gtest.h>

#include "SoundEngine/Hierarchy/MotionSourceNode.h"
#include "SoundEngine/PlayParams.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/BankText.h"

namespace {

using namespace HierarchyTest;

constexpr uint32_t kMaster = 100, kRumble = 101, kSecondRumble = 102, kSound = 200, kSource = 300;

Tools::BankObject MotionBusObject(uint32_t id, uint32_t parent = 0) {
  Tools::BankBusParams params;
  params.parentId = parent;
  return BusObject(id, params, Tools::kBankMotionBusType);
}

Tools::BankMotionSource MotionSource(uint32_t mediaId, uint16_t first, uint16_t second, float value) {
  Tools::BankMotionSource source;
  source.firstValue = first;
  source.secondValue = second;
  source.value = value;
  source.source = MemorySource(mediaId, 64);
  return source;
}

Tools::BankObject MotionSourceObject(uint32_t id, const std::vector<Tools::BankMotionSource>& sources,
                                     const Tools::BankNodeParams& params = {}) {
  return {Tools::kBankMotionSourceType, Tools::MotionSourcePayload(id, sources, params, false)};
}

// A play of one source of a motion source, as the voice pipeline attaches it.
struct SourceInstance final : FakeInstance {
  explicit SourceInstance(const SN::CSnSourceDesc* source) : FakeInstance(nullptr, 1), source(source) {}
  const SN::CSnSourceDesc* InstanceSource() const override { return source; }
  void ParameterChanged(const SN::SnParamChange& change) override { changes.push_back(change); }
  const SN::CSnSourceDesc* source;
  std::vector<SN::SnParamChange> changes;
};

class MotionNodeTest : public HierarchyFixture {
 protected:
  SN::CSnMotionSourceNode* Source(uint32_t id) { return Find<SN::CSnMotionSourceNode>(id, false); }
  // The default motion bus's id, 0 for none.
  static uint32_t DefaultId() {
    SN::CSnBusNode* bus = SN::CSnBusNode::DefaultMotionBus();
    const uint32_t id = bus ? bus->ID() : 0;
    if (bus) bus->Release();
    return id;
  }
};

TEST_F(MotionNodeTest, TheFirstMotionBusIsTheDefaultTakesNoMasterPlaceAndClearsTheDefaultAsItGoes) {
  EXPECT_EQ(DefaultId(), 0u);
  ASSERT_EQ(Load({MotionBusObject(kRumble), BusObject(kMaster), MotionBusObject(kSecondRumble)}), SN::SN_Success);
  EXPECT_EQ(DefaultId(), kRumble);
  EXPECT_EQ(Bus(kRumble)->NodeCategory(), SN::CSnHierarchyNode::Category_BusKind10);
  // Loaded first, the motion bus still leaves the master to the sound bus, and no secondary master.
  SN::CSnBusNode* master = SN::CSnBusNode::MasterBus();
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->ID(), kMaster);
  master->Release();
  EXPECT_EQ(SN::CSnBusNode::SecondaryMasterBus(), nullptr);

  // A bank without a motion bus gives the default back as it was.
  ASSERT_EQ(Load({SoundObject(kSound, MemorySource(7, 64))}), SN::SN_Success);
  EXPECT_EQ(DefaultId(), kRumble);
  // The bank manager sets the default aside and puts it back around a load.
  SN::CSnBusNode* taken = SN::CSnBusNode::TakeDefaultMotionBus();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(DefaultId(), 0u);
  SN::CSnBusNode::RestoreDefaultMotionBus(nullptr);
  EXPECT_EQ(DefaultId(), 0u);
  SN::CSnBusNode::RestoreDefaultMotionBus(taken);
  SN::CSnBusNode::RestoreDefaultMotionBus(Bus(kSecondRumble));  // one is there: it stays
  EXPECT_EQ(DefaultId(), kRumble);
  taken->Release();

  // The default goes with its bank; nothing dangles.
  SN::g_pBankManager->UnloadBankWait(loaded_.front(), nullptr);
  loaded_.erase(loaded_.begin());
  EXPECT_EQ(DefaultId(), 0u);
}

TEST_F(MotionNodeTest, AMotionBusIsTheSecondOutputOfTheNodesItTakes) {
  Tools::BankNodeParams routed;
  routed.outputBusId = kMaster;
  ASSERT_EQ(Load({BusObject(kMaster), MotionBusObject(kRumble), MotionBusObject(kSecondRumble, kRumble),
                  SoundObject(kSound, MemorySource(7, 64), routed), SoundObject(kSound + 1, MemorySource(8, 64))}),
            SN::SN_Success);
  SN::CSnBusNode* rumble = Bus(kRumble);
  SN::CSnSoundNode* sound = Sound(kSound);
  // A motion bus under a motion bus is its child bus as any bus is.
  EXPECT_EQ(Bus(kSecondRumble)->Parent(), rumble);
  EXPECT_EQ(rumble->ChildBusCount(), 1u);

  // The node keeps its output bus; the motion bus becomes its second output.
  EXPECT_EQ(rumble->AddChild(sound), SN::SN_Success);
  EXPECT_EQ(sound->OutputBus(), Bus(kMaster));
  EXPECT_EQ(sound->SecondaryOutput(), rumble);
  EXPECT_EQ(rumble->ChildCount(), 1u);
  EXPECT_EQ(rumble->AddChild(sound), SN::SN_AlreadyListed);
  EXPECT_EQ(rumble->AddChild(rumble), SN::SN_CannotAddItself);
  EXPECT_EQ(rumble->AddChild(Bus(kSecondRumble)), SN::SN_AlreadyListed);

  // Motion plays of a node go to its second output, else to the default one.
  Bus(kSecondRumble)->AddChild(Sound(kSound + 1));
  SN::CSnBusNode* found = SN::CSnBusNode::MotionBusFor(sound);
  EXPECT_EQ(found, rumble);
  found->Release();
  found = SN::CSnBusNode::MotionBusFor(Sound(kSound + 1));
  EXPECT_EQ(found, Bus(kSecondRumble));
  found->Release();
  found = SN::CSnBusNode::MotionBusFor(Bus(kMaster));
  EXPECT_EQ(found, rumble) << "the default";
  found->Release();

  // Only the motion bus that is the node's second output lets it go.
  Bus(kSecondRumble)->RemoveChild(sound);
  EXPECT_EQ(rumble->ChildCount(), 1u);
  rumble->RemoveChild(sound);
  EXPECT_EQ(rumble->ChildCount(), 0u);
}

TEST_F(MotionNodeTest, AMotionSourceReadsItsSourcesThenItsNodeParameters) {
  Tools::BankNodeParams params;
  params.properties.push_back(Tools::BankNodeProperty::Float(0, -3.0f));
  const Tools::BankObject whole =
      MotionSourceObject(kSource, {MotionSource(501, 3, 4, 0.5f), MotionSource(502, 5, 6, 0.0f)}, params);
  ASSERT_EQ(Load({whole}), SN::SN_Success);
  SN::CSnMotionSourceNode* node = Source(kSource);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->NodeCategory(), SN::CSnHierarchyNode::Category_Leaf);
  ASSERT_EQ(node->SourceCount(), 2u);
  EXPECT_EQ(node->Source(0).sourceId, 501u);
  EXPECT_EQ(node->Source(0).firstValue, 3u);
  EXPECT_EQ(node->Source(0).secondValue, 4u);
  EXPECT_EQ(node->Source(0).value, 0.5f);
  EXPECT_EQ(node->Source(0).desc->sourceId, 501u);
  EXPECT_EQ(node->Source(1).sourceId, 502u);
  EXPECT_EQ(node->Source(1).firstValue, 5u);
  EXPECT_EQ(node->FloatProperty(0), -3.0f);
  SN::g_pBankManager->UnloadBankWait(loaded_.back(), nullptr);
  loaded_.pop_back();

  // Cut short anywhere, the source is not made.
  ExpectEveryCutFails(whole, [&] { return Source(kSource) == nullptr; });
}

TEST_F(MotionNodeTest, WithoutMotionDevicesAMotionSourcePlaysNothingAndSucceeds) {
  ASSERT_EQ(Load({MotionSourceObject(kSource, {MotionSource(501, 0, 0, 0.0f)})}), SN::SN_Success);
  SN::CSnPlayParams params;
  EXPECT_EQ(Source(kSource)->PlayNode(params), SN::SN_Success);
  EXPECT_TRUE(player_.plays.empty());
  EXPECT_TRUE(params.flags & SN::CSnPlayParams::kFlagMotion);
}

TEST_F(MotionNodeTest, AChangedSourceValueReachesThePlaysOfThatSourceAsItsDifference) {
  ASSERT_EQ(Load({MotionSourceObject(kSource, {MotionSource(501, 0, 0, 0.5f), MotionSource(502, 0, 0, 0.0f)})}),
            SN::SN_Success);
  SN::CSnMotionSourceNode* node = Source(kSource);
  SourceInstance first(node->Source(0).desc), second(node->Source(1).desc);
  node->AttachInstance(&first);
  node->AttachInstance(&second);
  // The value it has tells nobody.
  EXPECT_EQ(node->SetSourceValue(501, 0.5f), SN::SN_Success);
  EXPECT_TRUE(first.changes.empty());
  EXPECT_EQ(node->SetSourceValue(501, 0.75f), SN::SN_Success);
  ASSERT_EQ(first.changes.size(), 1u);
  EXPECT_EQ(first.changes[0].parameterId, 31u);
  EXPECT_EQ(first.changes[0].value, 0.25f);
  EXPECT_TRUE(second.changes.empty());
  EXPECT_EQ(node->Source(0).value, 0.75f);
  EXPECT_EQ(node->SetSourceValue(999, 1.0f), SN::SN_IdNotFound);
  node->DetachInstance(&first);
  node->DetachInstance(&second);
}

// The device values and the starting value of a motion source's tone as the node keeps them; both ends
// of the device values taken, past them refused with the line.
TEST_F(MotionNodeTest, AMotionSourceKeepsItsDeviceValuesAndStartingValue) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone R 8000 1 1 1000\nmotionsource @2 R device 0 65535 start -2.5 volume -3\n"
                                   "motionsource @3 R\n",
                                   "B", bank, error))
      << error;
  ASSERT_EQ(Load(bank.objects), SN::SN_Success);
  ASSERT_NE(Source(2), nullptr);
  ASSERT_EQ(Source(2)->SourceCount(), 1u);
  const SN::SnMotionSource& given = Source(2)->Source(0);
  EXPECT_EQ(given.sourceId, BankTest::Id("R"));
  EXPECT_EQ(given.firstValue, 0u);
  EXPECT_EQ(given.secondValue, 65535u);
  EXPECT_EQ(given.value, -2.5f);
  const SN::SnMotionSource& plain = Source(3)->Source(0);
  EXPECT_EQ(plain.secondValue, 0u);
  EXPECT_EQ(plain.value, 0.0f);
  EXPECT_FALSE(Tools::ParseBankText("tone R 8000 1 1 1000\nmotionsource @2 R device 65536 0", "B", bank, error));
  EXPECT_EQ(error, "line 2: \"65536\" is not a device value of 0 to 65535");
  EXPECT_FALSE(Tools::ParseBankText("tone R 8000 1 1 1000\nmotionsource @2 R start inf", "B", bank, error));
  EXPECT_EQ(error, "line 2: \"inf\" is not a number");
  EXPECT_FALSE(Tools::ParseBankText("tone R 8000 1 1 1000\nmotionsource @2 R device 0 -1", "B", bank, error));
  EXPECT_EQ(error, "line 2: \"-1\" is not a whole number");
}

TEST(MotionBankText, AMotionBusAndAMotionSourceOfAToneAgainstBytesLaidOutByHand) {
  const uint32_t toneId = BankTest::Id("R");
  const BankTest::Bytes bus = BankTest::Bytes()
                                  .U32(1).U32(0)          // id, no parent
                                  .U8(0)                  // no properties
                                  .U8(0).U8(0).U16(0)     // mix-stage overrides, voice flags, maximum
                                  .U32(0).U8(0)           // channel configuration, state flag
                                  .U32(0).U32(0xC2C0999A).U32(0)  // recovery, max duck -96.3, no ducks
                                  .U8(0).U32(0).U8(0)     // no effects, no mixer
                                  .U8(0).U16(0).U32(0);   // flag, no curves, no state groups
  const BankTest::Bytes source = BankTest::Bytes()
                                     .U32(2)
                                     .U32(1)                                   // one source
                                     .U16(0).U16(0).U32(0)                     // its values, initial 0
                                     .U32(0x00010001).U8(0).U32(toneId).U32(84).U8(0)  // PCM in memory
                                     .U8(0).U8(0)                              // no effects
                                     .U8(0).U32(0).U32(0)                      // no output bus, no parent
                                     .U8(0).U8(1).U8(0).U32(0xC0400000).U8(0)  // volume -3
                                     .U8(0).U8(0).U8(0).U8(0).U16(0).U8(0).U8(0)
                                     .U32(0).U16(0);
  const std::vector<uint8_t> bank = BankTest::Build("tone R 8000 1 1 1000\nmotionbus @1 -\nmotionsource @2 R volume -3\n");
  const BankTest::Bytes expected = BankTest::Bytes()
                                       .Tag("HIRC").U32(4 + 5 + uint32_t(bus.b.size()) + 5 + uint32_t(source.b.size()))
                                       .U32(2)
                                       .U8(16).U32(uint32_t(bus.b.size())).Append(bus.b)
                                       .U8(17).U32(uint32_t(source.b.size())).Append(source.b);
  ASSERT_GE(bank.size(), expected.b.size());
  EXPECT_EQ(std::vector<uint8_t>(bank.end() - long(expected.b.size()), bank.end()), expected.b);

  Tools::BankDescription refused;
  std::string error;
  EXPECT_FALSE(Tools::ParseBankText("tone R 375 1 100 25\nmotionsource @2 R loud 3", "B", refused, error));
  EXPECT_EQ(error, "line 2: only \"volume <dB>\", \"device <first> <second>\" and \"start <value>\" may follow a "
                   "motion source's tone");
  EXPECT_FALSE(Tools::ParseBankText("motionbus @1 - ownmix", "B", refused, error));
  EXPECT_EQ(error, "line 1: \"ownmix\" is no bus option");
  EXPECT_FALSE(Tools::ParseBankText("tone R 8000 1 1 1000\nsound @1 R @2 motion @3", "B", refused, error));
  EXPECT_EQ(error, "line 2: a sound's motion bus needs the bank's motion flag (\"motion 1\")");
  EXPECT_FALSE(Tools::ParseBankText("tone R 99 1 100 25", "B", refused, error));
  EXPECT_EQ(error, "line 1: a tone's rate is 100 to 192000");
}

}  // namespace
