// Instance limits of nodes with recording playing objects: counting globally and per game object,
// the limiter's choice of who gives way, the maximum following parameter 9, and the per-frame limit
// that stops or sends to the virtual-voice behaviour.
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::CSnPlaybackLimiter;
using SN::SnCountRecord;

struct FakeInstance final : SN::ISnLimitedPlayback {
  FakeInstance(float priority, uint32_t sequence, SN::CSnRegisteredObj* object = nullptr)
      : priority(priority), sequence(sequence), object(object) {}
  float Priority() const override { return priority; }
  uint32_t SequenceNumber() const override { return sequence; }
  SN::CSnRegisteredObj* GameObject() const override { return object; }
  bool CountsAgainstLimit() const override { return !isVirtual; }
  bool IsStopping() const override { return stopReason != 0; }
  void StopForLimit(uint32_t reason) override { stopReason = reason; }
  void GoVirtualForLimit() override { isVirtual = true; }
  float priority;
  uint32_t sequence;
  SN::CSnRegisteredObj* object;
  uint32_t stopReason = 0;
  bool isVirtual = false;
};

class SoundNodeLimitTest : public NodeFixture {
 protected:
  // Counts the play from the leaf up; the instance joins the limiter that counted it when it may play.
  SN::SNRESULT Start(TestNode* leaf, FakeInstance& instance, SnCountRecord* out = nullptr) {
    SnCountRecord record;
    record.priority = instance.priority;
    record.gameObject = instance.object;
    const SN::SNRESULT result = leaf->CountInstance(record);
    if (result == SN::SN_Success && record.limiter) record.limiter->Add(&instance);
    if (out) *out = record;
    return result;
  }
  Tools::BankNodeParams Limited(uint16_t maximum, uint8_t flags) {
    Tools::BankNodeParams params;
    params.maxInstances = maximum;
    params.advancedFlags = flags;
    return params;
  }
};

TEST_F(SoundNodeLimitTest, TheNewestGivesWayOrLosesByTheOrderFlag) {
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  ASSERT_EQ(LoadBank({{kParentType, 60, Limited(2, 0x04)},
                      {kLeafType, 70, leaf},
                      {kParentType, 61, Limited(2, 0x05)},
                      {kLeafType, 71,
                       [] {
                         Tools::BankNodeParams p;
                         p.parentId = 61;
                         return p;
                       }()}}),
            SN::SN_Success);
  FakeInstance a(50, 1), b(50, 2), c(50, 3), d(80, 4);
  SnCountRecord record;
  ASSERT_EQ(Start(Node(70), a), SN::SN_Success);
  ASSERT_EQ(Start(Node(70), b), SN::SN_Success);
  EXPECT_EQ(SN::LimiterLists::LinkedCount(CSnPlaybackLimiter::Kind_Node), 1u);
  // Newest first: the oldest of the lowest priority makes room.
  EXPECT_EQ(Start(Node(70), c, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &a);
  EXPECT_EQ(record.enforced, 1);
  EXPECT_EQ(Node(60)->Activity()->globalCount, 3);
  EXPECT_EQ(Node(60)->Activity()->playing, 3);
  EXPECT_EQ(Node(70)->Activity()->playing, 3);
  // Oldest first: a newcomer of equal priority loses; a higher one takes the place of the newest.
  FakeInstance e(50, 5), f(50, 6), g(50, 7);
  ASSERT_EQ(Start(Node(71), e), SN::SN_Success);
  ASSERT_EQ(Start(Node(71), f), SN::SN_Success);
  EXPECT_EQ(Start(Node(71), g), SN::SN_LimitReached);
  SnCountRecord lost;
  lost.gameObject = nullptr;
  Node(71)->UncountInstance(lost);
  EXPECT_EQ(Start(Node(71), d, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &f);
  // Everything ends: the counts fall back and the records go.
  for (FakeInstance* instance : {&a, &b, &c}) {
    SnCountRecord end;
    Node(70)->UncountInstance(end);
    static_cast<void>(instance);
  }
  for (int i = 0; i < 3; ++i) {
    SnCountRecord end;
    Node(71)->UncountInstance(end);
  }
  EXPECT_EQ(Node(60)->Activity(), nullptr);
  EXPECT_EQ(Node(70)->Activity(), nullptr);
  EXPECT_EQ(SN::LimiterLists::LinkedCount(CSnPlaybackLimiter::Kind_Node), 0u);
}

TEST_F(SoundNodeLimitTest, PerObjectLimitsCountEachGameObjectApart) {
  ASSERT_EQ(LoadBank({{kLeafType, 70, Limited(1, 0x00)}}), SN::SN_Success);
  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::CSnRegisteredObj* eight = GameObject(8);
  FakeInstance a(50, 1, seven), b(50, 2, eight), c(40, 3, seven), d(60, 4, seven);
  ASSERT_EQ(Start(Node(70), a), SN::SN_Success);
  ASSERT_EQ(Start(Node(70), b), SN::SN_Success);
  EXPECT_EQ(Node(70)->Activity()->objects.Count(), 2u);
  EXPECT_EQ(Start(Node(70), c), SN::SN_LimitReached);  // lower priority than the one of 7 playing
  SnCountRecord record;
  EXPECT_EQ(Start(Node(70), d, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &a);
  // A virtual instance frees its place; counting it down may choose who takes it.
  SnCountRecord virtualRecord;
  virtualRecord.gameObject = seven;
  Node(70)->CountVirtual(virtualRecord);
  EXPECT_EQ(Node(70)->Activity()->FindObject(seven)->virtualInstances, 1);
  EXPECT_EQ(Node(70)->UncountVirtual(virtualRecord), SN::SN_Success);
  EXPECT_NE(virtualRecord.giveWay, nullptr);
  // The entry of 8 goes with its last instance.
  SnCountRecord end;
  end.gameObject = eight;
  Node(70)->UncountInstance(end);
  EXPECT_EQ(Node(70)->Activity()->objects.Count(), 1u);
}

TEST_F(SoundNodeLimitTest, ParameterNineChangesTheMaximumAndTheFrameLimitStopsOrGoesVirtual) {
  Tools::BankNodeParams root = Limited(3, 0x04 | 0x08);
  root.curves = {LinearCurve(11, 9, 0.0f, 100.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, root}}), SN::SN_Success);
  SN::g_pRTPCMgr->SetRTPCImmediate(11, 3.0f, SN::SnRTPCKey{});
  FakeInstance a(90, 1), b(70, 2), c(50, 3);
  for (FakeInstance* instance : {&a, &b, &c}) ASSERT_EQ(Start(Node(70), *instance), SN::SN_Success);
  CSnPlaybackLimiter& limiter = const_cast<CSnPlaybackLimiter&>(Node(70)->Activity()->limiter);
  EXPECT_TRUE(limiter.FollowsParameter());
  EXPECT_EQ(Node(70)->EffectiveMaximum(), 3);
  // The game parameter at 2 makes the curve's 2 the maximum: the lowest priority stops.
  SN::g_pRTPCMgr->SetRTPCImmediate(11, 2.0f, SN::SnRTPCKey{});
  EXPECT_EQ(limiter.Maximum(), 2);
  EXPECT_EQ(Node(70)->EffectiveMaximum(), 2);
  limiter.ApplyLimit();
  EXPECT_EQ(c.stopReason, 1u);
  EXPECT_EQ(a.stopReason + b.stopReason, 0u);
  // Sending to virtual instead; a NaN maximum counts as no limit.
  limiter.SetGoVirtual(true);
  SN::g_pRTPCMgr->SetRTPCImmediate(11, 1.0f, SN::SnRTPCKey{});
  limiter.ApplyLimit();
  EXPECT_TRUE(b.isVirtual);
  EXPECT_FALSE(a.isVirtual);
  // A priority change moves the instance; the engine-wide limiter stops with reason 2.
  CSnPlaybackLimiter engine(nullptr, 1, false, false, CSnPlaybackLimiter::Kind_EngineWide);
  FakeInstance x(10, 8), y(20, 9);
  ASSERT_TRUE(engine.Add(&x));
  ASSERT_TRUE(engine.Add(&y));
  x.priority = 30;
  engine.PriorityChanged(&x);
  engine.ApplyLimit();
  EXPECT_EQ(y.stopReason, 2u);
  EXPECT_EQ(x.stopReason, 0u);
  engine.Remove(&x);
  engine.Remove(&y);
  for (FakeInstance* instance : {&a, &b, &c}) limiter.Remove(instance);
}

}  // namespace
