// Instance limits of nodes with recording playback instances: counting globally and per game
// object, the limiter's choice of who gives way, the voice manager's list of active limiters, the
// maximum following parameter 9, and the frame's limit that stops or sends to the virtual voice.
#include <memory>
#include <vector>

#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::CSnPlaybackLimiter;
using SN::SnCountRecord;

struct LimitedInstance final : SN::CSnPlaybackInstance {
  LimitedInstance(float priority, uint32_t sequence, SN::CSnRegisteredObj* object = nullptr,
                  uint8_t behaviour = SN::SnVirtual_Kill) {
    m_priority = priority;
    m_sequenceNumber = sequence;
    m_pGameObject = object;
    m_virtualBehaviour = behaviour;
  }
  void StopNow() override { ++stops; }
  void OnInstanceCommand(uint32_t, uint32_t, float) override {}
  void Term(uint32_t) override {}
  void Destroy() override {}
  int stops = 0;
};

// The admission rule as a model, over the array in its order: what EnforceForNewInstance answers and
// which instance it names to give way.
std::pair<SN::SNRESULT, const SN::CSnPlaybackInstance*> ModelAdmission(const CSnPlaybackLimiter& limiter,
                                                                       uint16_t maximum, float newPriority,
                                                                       const SN::CSnRegisteredObj* object,
                                                                       bool losesTies, bool useVirtual) {
  uint32_t eligible = 0;
  bool besides = false;
  int32_t last = -1;
  for (uint32_t i = 0; i < limiter.Count(); ++i) {
    const SN::CSnPlaybackInstance* p = limiter.At(i);
    if ((object && p->m_pGameObject != object) || p->m_stopping || p->m_limitedThisFrame || p->m_excluded) continue;
    ++eligible;
    if (p->m_priority > newPriority) continue;
    if (useVirtual && p->m_virtualBehaviour == SN::SnVirtual_ContinueToPlay) {
      besides = besides || eligible <= maximum;
      continue;
    }
    last = int32_t(i);
  }
  if (eligible + 1 <= maximum) return {SN::SN_Success, nullptr};
  const float lowest = last >= 0 ? limiter.At(uint32_t(last))->m_priority : 101.0f;
  if (last < 0 || lowest > newPriority || (losesTies && lowest == newPriority))
    return {besides ? SN::SN_Success : (useVirtual ? SN::SN_PlayAsVirtual : SN::SN_Failure), nullptr};
  return {SN::SN_Success, limiter.At(uint32_t(last))};
}

class SoundNodeLimitTest : public NodeFixture {
 protected:
  // Counts the play from the leaf up; the instance joins the limiter that counted it when it may play.
  SN::SNRESULT Start(TestNode* leaf, LimitedInstance& instance, SnCountRecord* out = nullptr) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    SnCountRecord record;
    record.priority = instance.m_priority;
    record.gameObject = instance.m_pGameObject;
    const SN::SNRESULT result = leaf->CountInstance(record);
    if (result == SN::SN_Success && record.limiter) record.limiter->Add(&instance);
    if (out) *out = record;
    return result;
  }
  void End(TestNode* leaf, SN::CSnRegisteredObj* object = nullptr) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    SnCountRecord record;
    record.gameObject = object;
    leaf->UncountInstance(record);
  }
  Tools::BankNodeParams Limited(uint16_t maximum, uint8_t flags, uint32_t parent = 0) {
    Tools::BankNodeParams params;
    params.maxInstances = maximum;
    params.advancedFlags = flags;
    params.parentId = parent;
    return params;
  }
};

TEST_F(SoundNodeLimitTest, TheOldestGivesWayOrTheNewcomerLosesByTheOrderFlag) {
  ASSERT_EQ(LoadBank({{kParentType, 60, Limited(2, 0x04)}, {kLeafType, 70, Limited(0, 0x04, 60)},
                      {kParentType, 61, Limited(2, 0x05)}, {kLeafType, 71, Limited(0, 0x04, 61)}}),
            SN::SN_Success);
  LimitedInstance a(50, 1), b(50, 2), c(50, 3), d(80, 4);
  SnCountRecord record;
  ASSERT_EQ(Start(Node(70), a), SN::SN_Success);
  EXPECT_EQ(SN::VoiceManager::FirstActiveLimiterKind1(), &Node(60)->Activity()->limiter.Limiter());
  ASSERT_EQ(Start(Node(70), b), SN::SN_Success);
  // Newest first: the oldest of the lowest priority makes room, stopped for the node's limit.
  EXPECT_EQ(Start(Node(70), c, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &a);
  EXPECT_EQ(record.enforced, 1);
  EXPECT_TRUE(a.m_stopping);
  EXPECT_EQ(a.m_stopReason, 1);
  EXPECT_EQ(Node(60)->Activity()->globalCount, 3);
  EXPECT_EQ(Node(70)->Activity()->playing, 3);
  // Oldest first: a newcomer of equal priority loses; a higher one takes the place of the newest.
  LimitedInstance e(50, 5), f(50, 6), g(50, 7);
  ASSERT_EQ(Start(Node(71), e), SN::SN_Success);
  ASSERT_EQ(Start(Node(71), f), SN::SN_Success);
  EXPECT_EQ(Start(Node(71), g), SN::SN_Failure);
  End(Node(71));  // the refused play gives its count back
  EXPECT_EQ(Start(Node(71), d, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &f);
  // Everything ends: the counts fall back, the records go and their limiters leave the list.
  for (int i = 0; i < 3; ++i) End(Node(70));
  for (int i = 0; i < 3; ++i) End(Node(71));
  EXPECT_EQ(Node(60)->Activity(), nullptr);
  EXPECT_EQ(Node(70)->Activity(), nullptr);
  EXPECT_EQ(SN::VoiceManager::FirstActiveLimiterKind1(), nullptr);
}

TEST_F(SoundNodeLimitTest, ARecordMadeAgainTakesTheNodesLimitsOfThatTime) {
  ASSERT_EQ(LoadBank({{kParentType, 60, Limited(2, 0x04)}, {kLeafType, 70, Limited(0, 0x04, 60)}}), SN::SN_Success);
  LimitedInstance a(50, 1), b(50, 2), c(50, 3), d(50, 4);
  ASSERT_EQ(Start(Node(70), a), SN::SN_Success);
  ASSERT_EQ(Start(Node(70), b), SN::SN_Success);
  End(Node(70));
  End(Node(70));
  ASSERT_EQ(Node(60)->Activity(), nullptr);
  ASSERT_EQ(Node(70)->Activity(), nullptr);
  // While nothing plays the node takes a maximum of 1 and the oldest-first order: the next plays
  // count from nothing under them, the newcomer of equal priority losing.
  Node(60)->SetMaxInstances(1);
  Node(60)->SetFlagA(SN::CSnHierarchyNode::kLimiterOldestFirst, true);
  ASSERT_EQ(Start(Node(70), c), SN::SN_Success);
  EXPECT_EQ(Node(60)->Activity()->globalCount, 1);
  EXPECT_EQ(Node(70)->Activity()->playing, 1);
  EXPECT_EQ(Node(60)->Activity()->limiter.Limiter().Maximum(), 1);
  EXPECT_TRUE(Node(60)->Activity()->limiter.Limiter().OlderFirst());
  EXPECT_EQ(Start(Node(70), d), SN::SN_Failure);
  EXPECT_FALSE(c.m_stopping);
  End(Node(70));
  End(Node(70));
  EXPECT_EQ(Node(60)->Activity(), nullptr);
  EXPECT_EQ(SN::VoiceManager::FirstActiveLimiterKind1(), nullptr);
}

// A node without a maximum of its own that counts its plays itself: whether it counts them for all
// game objects or per object is the node's flag at the time of the play, the last one forgotten.
TEST_F(SoundNodeLimitTest, CountingForAllOrPerObjectFollowsTheFlagOfEachPlay) {
  ASSERT_EQ(LoadBank({{kParentType, 60, {}}, {kLeafType, 70, Limited(0, 0x00, 60)}}), SN::SN_Success);
  TestNode* leaf = Node(70);
  leaf->SetFlagA(SN::CSnHierarchyNode::kEnforcesOwnLimit, true);
  SN::CSnRegisteredObj* seven = GameObject(7);
  for (const bool global : {true, false, true}) {
    leaf->SetFlagA(SN::CSnHierarchyNode::kLimitsGlobally, global);
    LimitedInstance a(50, 1, seven);
    ASSERT_EQ(Start(leaf, a), SN::SN_Success);
    ASSERT_NE(leaf->Activity(), nullptr);
    EXPECT_EQ(leaf->Activity()->globalCount, global ? 1 : 0);
    EXPECT_EQ(leaf->Activity()->objects.Count(), global ? 0u : 1u);
    End(leaf, seven);
    EXPECT_EQ(leaf->Activity(), nullptr);
  }
  // A maximum that the node decides itself now: the next play is limited by it.
  leaf->SetMaxInstances(1);
  LimitedInstance b(50, 2), c(50, 3);
  ASSERT_EQ(Start(leaf, b), SN::SN_Success);
  EXPECT_EQ(leaf->Activity()->limiter.Limiter().Maximum(), 1);
  EXPECT_TRUE(leaf->Activity()->limiter.FollowsParameter());
  SnCountRecord record;
  EXPECT_EQ(Start(leaf, c, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &b);
  End(leaf);
  End(leaf);
}

// The admission of a newcomer against a model of its rule, over many drawn arrays: every instance
// that counts is looked at, the last one that may give way is the lowest (the last of equals), one
// of the virtual-voice behaviour "continue" within the maximum lets the newcomer play beside it.
TEST_F(SoundNodeLimitTest, AdmissionAgreesWithAModelOfItsRule) {
  SN::CSnRegisteredObj* objects[] = {GameObject(7), GameObject(8)};
  uint32_t seed = 12345;
  auto draw = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const float priorities[] = {30.0f, 50.0f, 70.0f};
  const uint8_t behaviours[] = {SN::SnVirtual_Kill, SN::SnVirtual_ContinueToPlay, SN::SnVirtual_BecomeVirtual};
  for (int round = 0; round < 3000; ++round) {
    const uint32_t count = draw(24);
    std::vector<std::unique_ptr<LimitedInstance>> made;
    CSnPlaybackLimiter limiter(0, draw(2) == 0, true);
    // Mostly one priority, as plays of one kind are; some rounds mix them.
    const bool mixed = draw(3) == 0;
    for (uint32_t i = 0; i < count; ++i) {
      const float priority = mixed ? priorities[draw(3)] : 50.0f;
      made.push_back(std::make_unique<LimitedInstance>(priority, i + 1, objects[draw(2)], behaviours[draw(3)]));
      LimitedInstance& instance = *made.back();
      instance.m_stopping = draw(8) == 0;
      instance.m_limitedThisFrame = draw(8) == 0;
      instance.m_excluded = draw(3) == 0;
      ASSERT_TRUE(limiter.Add(&instance));
    }
    const uint16_t maximum = uint16_t(draw(12));
    const float newPriority = priorities[draw(3)];
    const SN::CSnRegisteredObj* object = draw(3) == 0 ? objects[draw(2)] : nullptr;
    const bool losesTies = draw(4) != 0, useVirtual = draw(2) == 0;

    const auto [expected, givesWay] = ModelAdmission(limiter, maximum, newPriority, object, losesTies, useVirtual);
    const bool killed = givesWay && (!useVirtual || givesWay->m_virtualBehaviour == SN::SnVirtual_Kill);

    SN::CSnPlaybackInstance* out = nullptr;
    ASSERT_EQ(limiter.EnforceForNewInstance(maximum, newPriority, object, losesTies, useVirtual, &out, 2), expected)
        << "round " << round;
    ASSERT_EQ(out, givesWay) << "round " << round;
    for (const auto& instance : made)
      ASSERT_EQ(instance->stops, killed && instance.get() == givesWay ? 1 : 0) << "round " << round;
  }
}

// One limiter between limit passes, as plays come and go: admissions after admissions, with stopping
// and limited plays added before, among and after the others, plays removed from anywhere, priorities
// moved, and now and then a new pass that clears the limited marks. Every answer agrees with the model.
TEST_F(SoundNodeLimitTest, AdmissionsBetweenPassesAgreeWithTheModelAsPlaysComeAndGo) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  uint32_t seed = 777;
  auto draw = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  SN::CSnRegisteredObj* objects[] = {GameObject(7), GameObject(8)};
  const float priorities[] = {30.0f, 50.0f, 70.0f};
  std::vector<std::unique_ptr<LimitedInstance>> made;
  std::vector<LimitedInstance*> in;
  CSnPlaybackLimiter limiter(0, true, true);
  uint32_t sequence = 0;
  for (int step = 0; step < 20000; ++step) {
    const uint32_t what = draw(16);
    if (what < 6 || in.size() < 4) {
      // Mostly one priority; long runs of limited or stopping plays, as a flood makes them.
      made.push_back(std::make_unique<LimitedInstance>(draw(4) ? 50.0f : priorities[draw(3)], ++sequence,
                                                       objects[draw(2)], uint8_t(draw(3))));
      LimitedInstance& instance = *made.back();
      instance.m_limitedThisFrame = draw(3) == 0;
      instance.m_stopping = draw(10) == 0;
      instance.m_excluded = draw(6) == 0;
      ASSERT_TRUE(limiter.Add(&instance));
      in.push_back(&instance);
    } else if (what < 9) {
      const uint32_t at = draw(uint32_t(in.size()));
      ASSERT_TRUE(limiter.Remove(in[at]));
      in.erase(in.begin() + at);
    } else if (what == 9) {
      LimitedInstance* moved = in[draw(uint32_t(in.size()))];
      moved->m_priority = priorities[draw(3)];
      limiter.PriorityChanged(moved);
    } else if (what == 10) {
      CSnPlaybackLimiter::NewLimitPass();
      for (LimitedInstance* instance : in) instance->m_limitedThisFrame = draw(4) == 0;
    } else if (what == 11) {
      in[draw(uint32_t(in.size()))]->m_excluded ^= true;
    } else {
      const uint16_t maximum = uint16_t(draw(uint32_t(in.size()) + 2));
      const float newPriority = priorities[draw(3)];
      const SN::CSnRegisteredObj* object = draw(3) == 0 ? objects[draw(2)] : nullptr;
      const bool losesTies = draw(4) != 0, useVirtual = draw(2) == 0;
      const auto [expected, givesWay] = ModelAdmission(limiter, maximum, newPriority, object, losesTies, useVirtual);
      SN::CSnPlaybackInstance* out = nullptr;
      ASSERT_EQ(limiter.EnforceForNewInstance(maximum, newPriority, object, losesTies, useVirtual, &out, 2), expected)
          << "step " << step;
      ASSERT_EQ(out, givesWay) << "step " << step;
    }
  }
  for (LimitedInstance* instance : in) limiter.Remove(instance);
}

TEST_F(SoundNodeLimitTest, PerObjectLimitsCountEachGameObjectApart) {
  ASSERT_EQ(LoadBank({{kLeafType, 70, Limited(1, 0x00)}}), SN::SN_Success);
  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::CSnRegisteredObj* eight = GameObject(8);
  LimitedInstance a(50, 1, seven), b(50, 2, eight), c(40, 3, seven), d(60, 4, seven);
  ASSERT_EQ(Start(Node(70), a), SN::SN_Success);
  ASSERT_EQ(Start(Node(70), b), SN::SN_Success);
  EXPECT_EQ(Node(70)->Activity()->objects.Count(), 2u);
  EXPECT_EQ(Start(Node(70), c), SN::SN_Failure);  // lower than the one of 7 playing
  End(Node(70), seven);
  SnCountRecord record;
  EXPECT_EQ(Start(Node(70), d, &record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &a);
  // A virtual voice back in the count takes a place: the limiter chooses who gives way for it.
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SnCountRecord virtualRecord;
  virtualRecord.gameObject = seven;
  Node(70)->CountVirtual(virtualRecord);
  EXPECT_EQ(Node(70)->Activity()->FindObject(seven)->virtualInstances, 1);
  // Each count goes up or down with a record of its own: a record names the limits that took it.
  SnCountRecord backRecord;
  backRecord.gameObject = seven;
  EXPECT_EQ(Node(70)->UncountVirtual(backRecord), SN::SN_Success);
  EXPECT_EQ(backRecord.giveWay, &d);
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
  LimitedInstance a(90, 1), b(70, 2, nullptr, SN::SnVirtual_BecomeVirtual), c(50, 3);
  for (LimitedInstance* instance : {&a, &b, &c}) ASSERT_EQ(Start(Node(70), *instance), SN::SN_Success);
  auto& limiter = const_cast<SN::CSnNodeLimiter&>(Node(70)->Activity()->limiter);
  EXPECT_TRUE(limiter.FollowsParameter());
  EXPECT_EQ(Node(70)->EffectiveMaximum(), 3);
  // The game parameter at 2 makes the curve's 2 the maximum: the lowest priority stops.
  SN::g_pRTPCMgr->SetRTPCImmediate(11, 2.0f, SN::SnRTPCKey{});
  EXPECT_EQ(limiter.Limiter().Maximum(), 2);
  EXPECT_EQ(Node(70)->EffectiveMaximum(), 2);
  limiter.Limiter().ApplyLimit(SN::kStopReasonNodeLimit);
  EXPECT_EQ(c.stops, 1);
  EXPECT_EQ(a.stops + b.stops, 0);
  // With the virtual-voice behaviour the next one over the limit goes virtual for the frame.
  Node(70)->SetFlagA(SN::CSnHierarchyNode::kLimiterGoVirtual, true);
  SN::g_pRTPCMgr->SetRTPCImmediate(11, 1.0f, SN::SnRTPCKey{});
  limiter.Limiter().ApplyLimit(SN::kStopReasonNodeLimit);
  EXPECT_TRUE(b.m_limitedThisFrame);
  EXPECT_EQ(b.stops, 0);
  // A priority change moves an instance; a priority that is not finite sorts as 50.
  a.m_priority = 10;
  limiter.Limiter().PriorityChanged(&a);
  EXPECT_EQ(limiter.Limiter().At(0), &b);
  EXPECT_EQ(limiter.Limiter().At(2), &a);
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  LimitedInstance e(20, 5);
  ASSERT_TRUE(limiter.Add(&e));
  a.m_priority = NAN;
  limiter.Limiter().PriorityChanged(&a);
  EXPECT_EQ(limiter.Limiter().At(2), &a);  // after the 50 that is newer, before the 20
  EXPECT_EQ(limiter.Limiter().At(3), &e);
  LimitedInstance n(NAN, 6);  // joins as a 50, the newest of them
  ASSERT_TRUE(limiter.Add(&n));
  EXPECT_EQ(limiter.Limiter().At(1), &n);
  for (LimitedInstance* instance : {&a, &b, &c, &e, &n}) limiter.Remove(instance);
  EXPECT_EQ(SN::VoiceManager::FirstActiveLimiterKind1(), nullptr);
}

}  // namespace
