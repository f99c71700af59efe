// Transitions that drive several targets: every target told in the order it joined, targets that
// leave before or while they are told, and the transition ending when its last target leaves.
#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;
using SoundTest::RecordingTarget;

// Leaves the transition the first time it is told.
struct LeavingTarget : RecordingTarget {
  void TransitionUpdate(uint32_t kind, float value, bool done) override {
    RecordingTarget::TransitionUpdate(kind, value, done);
    if (transition) transition->RemoveTarget(this);
    transition = nullptr;
  }
  CSnTransition* transition = nullptr;
};

class SoundTransitionTargetTest : public SoundTest::GameSyncFixture {};

TEST_F(SoundTransitionTargetTest, EveryTargetIsToldInOrderWhileOthersLeave) {
  Start();
  RecordingTarget a, b, c;
  LeavingTarget leaving;
  CSnTransition* t = g_pTransitionMgr->AddTransition({&a, 7, 0.0f, 4.0f, 84, SnCurve_Linear, 0, 0, 0}, true, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->AddTarget(&a), SN_Failure);
  EXPECT_EQ(t->AddTarget(nullptr), SN_Failure);
  ASSERT_EQ(t->AddTarget(&leaving), SN_Success);
  ASSERT_EQ(t->AddTarget(&b), SN_Success);
  ASSERT_EQ(t->AddTarget(&c), SN_Success);
  leaving.transition = t;
  EXPECT_EQ(t->TargetCount(), 4u);

  // The leaving target goes while told; the ones after it are still told in the same step.
  Frames(1);
  EXPECT_EQ(t->TargetCount(), 3u);
  for (RecordingTarget* target : {&a, &b, &c}) EXPECT_EQ(target->values, std::vector<float>{1.0f});
  EXPECT_EQ(leaving.values, std::vector<float>{1.0f});

  // The first target leaving hands the first place to the next; the remaining ones keep being told.
  EXPECT_EQ(t->RemoveTarget(&a), SN_Success);
  EXPECT_EQ(int(t->RemoveTarget(&a)), 29);
  Frames(1);
  EXPECT_EQ(a.values.size(), 1u);
  EXPECT_EQ(b.values, (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(c.values, (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(t->AddTarget(&a), SN_Success);  // joins again, now last
  EXPECT_EQ(t->TargetCount(), 3u);

  EXPECT_EQ(t->RemoveTarget(&b), SN_Success);
  EXPECT_EQ(t->RemoveTarget(&c), SN_Success);
  EXPECT_EQ(t->State(), uint32_t(SnTransitionState_Running));
  EXPECT_EQ(t->RemoveTarget(&a), SN_Success);
  EXPECT_EQ(t->State(), uint32_t(SnTransitionState_ToRemove));
  Frames(1);
  EXPECT_EQ(g_pTransitionMgr->OrdinaryCount(), 0u);
  EXPECT_EQ(b.values.size() + c.values.size() + a.values.size(), 5u);
  SN::SoundEngine::Term();
}

}  // namespace
