// Property stores: the compact blob's layout as it grows, its bank form, and the run-time value set
// with its transitions driven by the real transition manager.
#include <cmath>

#include "SoundEngine/Hierarchy/PropTransitionSet.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;

struct RecordingOwner : ISnPropTransitionOwner {
  void PropertyOverridden(uint32_t parameter) override { overridden.push_back(parameter); }
  void SetGainFactorTarget(CSnRegisteredObj* object, float target, const TransParamsBase&) override {
    gainObjects.push_back(object);
    gains.push_back(target);
  }
  void PropertyTransitionStep(CSnRegisteredObj*, uint32_t property, uint32_t parameter, float value, float) override {
    steps.push_back({property, parameter, value});
  }
  struct Step {
    uint32_t property, parameter;
    float value;
  };
  std::vector<uint32_t> overridden;
  std::vector<CSnRegisteredObj*> gainObjects;
  std::vector<float> gains;
  std::vector<Step> steps;
};

class SoundPropertyValueSetTest : public SoundTest::GameSyncFixture {};

TEST_F(SoundPropertyValueSetTest, BlobValuesMoveToTheNextWordWithTheFourthProperty) {
  Start();
  SnPropertyBlob8 blob;
  for (uint8_t id = 0; id < 3; ++id)
    ASSERT_EQ(blob.Set(uint8_t(10 + id), SnPropertyRange{float(id), float(id) + 0.5f}), SN_Success);
  EXPECT_EQ(SnPropertyBlob8::ValueOffset(3), 4u);
  float first = 0;
  memcpy(&first, blob.Block() + 4, sizeof first);
  EXPECT_EQ(first, 0.0f);
  ASSERT_EQ(blob.Set(uint8_t(13), SnPropertyRange{3.0f, 3.5f}), SN_Success);
  // Count byte, four ids, then the values from offset 8.
  const uint8_t* block = blob.Block();
  EXPECT_EQ(block[0], 4);
  EXPECT_EQ(block[1], 10);
  EXPECT_EQ(block[4], 13);
  for (uint32_t i = 0; i < 4; ++i) {
    SnPropertyRange range{};
    memcpy(&range, block + 8 + 8 * i, sizeof range);
    EXPECT_EQ(range.min, float(i));
    EXPECT_EQ(range.max, float(i) + 0.5f);
  }
  SnPropertyRange found{};
  EXPECT_TRUE(blob.Get(12, found));
  EXPECT_EQ(found.max, 2.5f);
  EXPECT_FALSE(blob.Get(14, found));
}

TEST_F(SoundPropertyValueSetTest, TheOneByteCountRefusesTheTwoHundredAndFiftySixthProperty) {
  Start();
  CSnPropTransitionSet set(nullptr, nullptr);
  for (uint32_t id = 0; id < 255; ++id) ASSERT_NE(set.SetValue(uint8_t(id), float(id)), nullptr) << id;
  EXPECT_EQ(set.SetValue(255, 1.0f), nullptr);
  EXPECT_EQ(set.Count(), 255u);
  // Values written before the refusal are intact, read across the unaligned pointer halves.
  for (uint32_t id = 0; id < 255; ++id) EXPECT_EQ(set.ValueOr(id, -1.0f), float(id));
  EXPECT_EQ(set.ValueAt(254).transition, nullptr);
}

TEST_F(SoundPropertyValueSetTest, BankFormIsReadUnpaddedAndRefusedWhenItRunsPastTheEnd) {
  Start();
  const uint8_t bytes[] = {2, 0, 6, 0, 0, 0x20, 0xC1, 0, 0, 0x48, 0x42, 0xEE};
  SnPropertyBlob4 blob;
  const uint8_t* cursor = bytes;
  ASSERT_EQ(blob.ReadFromBank(cursor, bytes + sizeof bytes), SN_Success);
  EXPECT_EQ(cursor, bytes + 11);
  EXPECT_EQ(blob.GetOr(0, 0.0f), -10.0f);
  EXPECT_EQ(blob.GetOr(6, 0.0f), 50.0f);
  cursor = bytes;
  SnPropertyBlob4 shortBlob;
  EXPECT_EQ(shortBlob.ReadFromBank(cursor, bytes + 10), SN_Failure);
  EXPECT_EQ(cursor, bytes);
  EXPECT_EQ(shortBlob.Count(), 0u);
}

TEST_F(SoundPropertyValueSetTest, SetValueKeepsAPresentValueAndTellsTheOwnerOnce) {
  Start();
  RecordingOwner owner;
  CSnPropTransitionSet set(&owner, nullptr);
  ASSERT_NE(set.SetValue(SnProp_Priority, 70.0f), nullptr);
  ASSERT_NE(set.SetValue(SnProp_Priority, 10.0f), nullptr);
  EXPECT_EQ(set.ValueOr(SnProp_Priority, 0.0f), 70.0f);
  ASSERT_NE(set.SetValue(1, 3.0f), nullptr);  // follows no parameter
  EXPECT_EQ(owner.overridden, std::vector<uint32_t>{8});
}

TEST_F(SoundPropertyValueSetTest, TransitionsMoveTheOwnerWhileTheStoredValueIsTheTarget) {
  Start();
  RecordingOwner owner;
  TransParamsBase fade;
  fade.durationMs = 100;
  {
    CSnPropTransitionSet set(&owner, nullptr);
    EXPECT_EQ(set.SetWithTransition(SnProp_Volume, -6.0f, false, fade), SN_Failure);  // absent id
    ASSERT_NE(set.SetValue(SnProp_Volume, 0.0f), nullptr);
    EXPECT_EQ(set.SetWithTransition(SnProp_Volume, -6.0f, false, fade), SN_Success);
    EXPECT_EQ(set.ValueOr(SnProp_Volume, 1.0f), -6.0f);
    ASSERT_NE(set.ValueAt(0).transition, nullptr);
    EXPECT_EQ(g_pTransitionMgr->OrdinaryCount(), 1u);
    Frames(1);
    ASSERT_EQ(owner.steps.size(), 1u);
    EXPECT_EQ(owner.steps[0].parameter, 0u);
    EXPECT_LT(owner.steps[0].value, 0.0f);
    EXPECT_GT(owner.steps[0].value, -6.0f);
    // Property 10 is the owner's own gain operation, with the set's game object.
    ASSERT_NE(set.SetValue(SnProp_GainFactor, 1.0f), nullptr);
    EXPECT_EQ(set.SetWithTransition(SnProp_GainFactor, 0.0f, false, fade), SN_Success);
    EXPECT_EQ(owner.gains, std::vector<float>{0.0f});
    EXPECT_EQ(set.ValueOr(SnProp_GainFactor, 1.0f), 0.0f);
  }
  // The set left its running transition as it went: the next frames tell nobody.
  const size_t steps = owner.steps.size();
  Frames(10);
  EXPECT_EQ(owner.steps.size(), steps);
  EXPECT_EQ(g_pTransitionMgr->OrdinaryCount(), 0u);
}

TEST_F(SoundPropertyValueSetTest, TheClearFlagAndAnInstantChangeLeaveNoTransition) {
  Start();
  RecordingOwner owner;
  CSnPropTransitionSet set(&owner, nullptr);
  ASSERT_NE(set.SetValue(SnProp_Pitch, 0.0f), nullptr);
  TransParamsBase fade;
  fade.durationMs = 200;
  EXPECT_EQ(set.SetWithTransition(SnProp_Pitch, 1200.0f, true, fade), SN_Success);
  EXPECT_EQ(set.ValueAt(0).transition, nullptr);
  EXPECT_EQ(set.ValueOr(SnProp_Pitch, 0.0f), 1200.0f);
  EXPECT_EQ(set.SetWithTransition(SnProp_Pitch, 100.0f, false, TransParamsBase{}), SN_Success);
  ASSERT_FALSE(owner.steps.empty());
  EXPECT_EQ(owner.steps.back().value, 100.0f);
  EXPECT_EQ(owner.steps.back().parameter, 2u);
}

TEST(SoundPropertyTable, DefaultsAndParametersOfTheTable) {
  EXPECT_EQ(FloatPropertyDefault(SnProp_Priority), 50.0f);
  EXPECT_EQ(FloatPropertyDefault(SnProp_PriorityDistanceOffset), -10.0f);
  EXPECT_EQ(FloatPropertyDefault(SnProp_GainFactor), 1.0f);
  EXPECT_EQ(FloatPropertyDefault(SnProp_Group32), 12.0f);
  EXPECT_EQ(IntPropertyDefault(SnProp_MidiChannelMask), 65535);
  EXPECT_EQ(IntPropertyDefault(SnProp_MidiKeyMax), 127);
  EXPECT_EQ(uint32_t(IntPropertyDefault(SnProp_AttachedMixer)), 0xFFFFFFFFu);
  EXPECT_EQ(ParameterOfProperty(SnProp_SecondaryFirst), 29u);
  EXPECT_EQ(ParameterOfProperty(21), 59u);
  EXPECT_EQ(ParameterOfProperty(SnProp_OutputBus1), 61u);
  EXPECT_EQ(ParameterOfProperty(SnProp_StateValue), kNoParameter);
}

}  // namespace
