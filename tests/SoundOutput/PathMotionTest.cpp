// Path motion through the path manager's paths: segments timed in whole frames, strayed vertices,
// step and continuous play in order and at random, pauses, a later list without vertices, late
// frames, and the listener orientation a path keeps.
#include "OutputTestSupport.h"

#include "Base/MathUtil.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/PathMotion.h"
#include "SoundEngine/Lower/Spatial/PositionPathMotion.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

struct RecordingTarget final : ISnPathTarget {
  void SetPathPosition(const float position[3]) override {
    std::memcpy(last, position, sizeof last);
    ++calls;
  }
  bool IsPathPositionFrozen() const override { return frozen; }
  float last[3] = {};
  int calls = 0;
  bool frozen = false;
};

class PathMotionTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    InitWithMemorySink();
    Base::SeedRand15(7);
  }
  void TearDown() override {
    lock_.reset();
    OutputFixture::TearDown();
    Base::SeedRand15(1);  // the generator's start-up state
  }
  CSnPositionPath* Play(const SnPathListItem* lists, uint32_t count, uint32_t mode, uint8_t flags, uint32_t frame) {
    if (!lock_) lock_.emplace(GlobalAudioLock());
    CSnPositionPath* path = g_pPathMgr->CreatePath();
    EXPECT_NE(path, nullptr);
    EXPECT_EQ(g_pPathMgr->AddPathUser(path, 1), SN_Success);
    EXPECT_EQ(path->SetPlayList(lists, count, mode, flags, nullptr), SN_Success);
    EXPECT_EQ(motion().AddTarget(*path, &target_), SN_Success);
    motion().Launch(*path, frame);
    return path;
  }
  static CSnPathMotion& motion() { return LowerEngine::PositionPathMotion(); }
  void ExpectAt(float x, float y, float z) {
    EXPECT_FLOAT_EQ(target_.last[0], x);
    EXPECT_FLOAT_EQ(target_.last[1], y);
    EXPECT_FLOAT_EQ(target_.last[2], z);
  }

  RecordingTarget target_;
  std::optional<Platform::ReentrantGuard> lock_;
};

// 21 ms frames: 42 ms is two frames, 63 three, 0 one.
const SnPathVertex kLine[3] = {{{0, 0, 0}, 42}, {{2, 0, 4}, 63}, {{2, 6, 4}, 0}};

TEST_F(PathMotionTest, ALineMovesFrameByFrameAndAStepPlayEndsWithItsList) {
  EXPECT_EQ(LowerEngine::PathMotion(), &motion());
  const SnPathListItem lists[2] = {{kLine, 3, {}}, {kLine, 2, {}}};
  CSnPositionPath* path = Play(lists, 2, 0, 0, 100);
  EXPECT_EQ(motion().LaunchResult(*path), SN_Success);
  ExpectAt(0, 0, 0);
  motion().Advance(*path, 101);
  ExpectAt(1, 0, 2);
  motion().Advance(*path, 102);  // the segment's end: on to the next vertex, three frames long
  ExpectAt(2, 0, 4);
  motion().Advance(*path, 103);
  ExpectAt(2, 2, 4);
  motion().Advance(*path, 104);
  EXPECT_EQ(path->State(), uint32_t(SnPathState_Playing));
  motion().Advance(*path, 105);  // the last vertex reached: the list is done
  ExpectAt(2, 6, 4);
  EXPECT_EQ(path->State(), uint32_t(SnPathState_Idle));
  EXPECT_EQ(path->ListIndex(), 1u);  // a step play still moves the list on
  EXPECT_EQ(path->CurrentList(), &lists[0]);
}

TEST_F(PathMotionTest, LateFramesKeepTheirPrecision) {
  const SnPathListItem list = {kLine, 3, {}};
  CSnPositionPath* early = Play(&list, 1, 0, 0, 0);
  motion().Advance(*early, 0);
  motion().Advance(*early, 1);
  const float atOne[3] = {target_.last[0], target_.last[1], target_.last[2]};
  motion().Advance(*early, 2);
  motion().Advance(*early, 3);
  const float atThree[3] = {target_.last[0], target_.last[1], target_.last[2]};
  const uint32_t late = 1u << 26;
  CSnPositionPath* other = Play(&list, 1, 0, 0, late);
  motion().Advance(*other, late + 1);
  EXPECT_EQ(std::memcmp(target_.last, atOne, sizeof atOne), 0);
  motion().Advance(*other, late + 2);
  motion().Advance(*other, late + 3);
  EXPECT_EQ(std::memcmp(target_.last, atThree, sizeof atThree), 0);
  EXPECT_FLOAT_EQ(atThree[1], 2.0f);  // a third of the way up the second segment
}

TEST_F(PathMotionTest, VerticesStrayWithinTheirRangesAndTwoEqualOnesStayPut) {
  const SnPathVertex same[2] = {{{5, 1, -3}, 42}, {{5, 1, -3}, 42}};
  const SnPathListItem list = {same, 2, {1.0f, 2.0f, 0.5f}};
  CSnPositionPath* path = Play(&list, 1, 0, 0, 10);
  const float start[3] = {target_.last[0], target_.last[1], target_.last[2]};
  EXPECT_NEAR(start[0], 5.0f, 1.0001f);
  EXPECT_NEAR(start[2], -3.0f, 2.0002f);
  EXPECT_NEAR(start[1], 1.0f, 0.50005f);
  EXPECT_NE(start[0], 5.0f);
  motion().Advance(*path, 11);
  EXPECT_EQ(std::memcmp(target_.last, start, sizeof start), 0);
  // A frozen target keeps its own position.
  target_.frozen = true;
  target_.calls = 0;
  motion().Advance(*path, 11);
  EXPECT_EQ(target_.calls, 0);
}

TEST_F(PathMotionTest, ContinuousPlayCyclesWhileLoopingAndEndsWithoutIt) {
  const SnPathListItem lists[2] = {{kLine, 2, {}}, {kLine + 1, 2, {}}};
  for (uint8_t looping : {uint8_t(0), kPathFlagLooping}) {
    CSnPositionPath* path = Play(lists, 2, SnPathMode_Continuous, looping, 0);
    uint32_t frame = 0;
    for (; frame < 60 && path->State() == uint32_t(SnPathState_Playing); ++frame) motion().Advance(*path, frame);
    if (looping) {
      EXPECT_EQ(path->State(), uint32_t(SnPathState_Playing));
    } else {
      // Two frames to vertex 1, three back to list 2's first, one to its last, then the end.
      EXPECT_EQ(path->State(), uint32_t(SnPathState_Idle));
      EXPECT_LT(frame, 12u);
    }
  }
}

TEST_F(PathMotionTest, RandomOrderMarksListsAndStartsOverWhenAllWerePlayed) {
  const SnPathListItem lists[3] = {{kLine, 2, {}}, {kLine, 2, {}}, {kLine, 2, {}}};
  CSnPositionPath* path = Play(lists, 3, SnPathMode_Continuous | SnPathMode_Random, kPathFlagLooping, 0);
  SnPathPlayedList* played = path->PlayedList();
  ASSERT_NE(played, nullptr);
  uint32_t switches = 0, resets = 0;
  for (uint32_t frame = 0; frame < 400; ++frame) {
    const uint16_t index = path->ListIndex();
    uint32_t marked = 0;
    for (uint32_t i = 0; i < 3; ++i) marked += played->played[i];
    motion().Advance(*path, frame);
    uint32_t after = 0;
    for (uint32_t i = 0; i < 3; ++i) after += played->played[i];
    if (path->ListIndex() != index || after != marked) {
      ++switches;
      EXPECT_EQ(played->played[path->ListIndex()], 1);
      if (marked == 3) {
        ++resets;
        EXPECT_EQ(after, 1u);
      }
    }
    EXPECT_EQ(path->CurrentList(), &lists[path->ListIndex()]);
  }
  EXPECT_GT(switches, 10u);
  EXPECT_GT(resets, 0u);
}

TEST_F(PathMotionTest, APauseMovesTheSegmentAndALaterEmptyListEndsThePath) {
  const SnPathVertex none[1] = {};
  const SnPathListItem lists[2] = {{kLine, 2, {}}, {nullptr, 0, {}}};
  CSnPositionPath* path = Play(lists, 2, SnPathMode_Continuous, 0, 0);
  motion().Advance(*path, 1);
  const float paused[3] = {target_.last[0], target_.last[1], target_.last[2]};
  motion().Pause(*path, 1);
  motion().Resume(*path, 101);
  motion().Advance(*path, 101);
  EXPECT_EQ(std::memcmp(target_.last, paused, sizeof paused), 0);
  motion().Advance(*path, 102);
  motion().Advance(*path, 103);
  motion().Advance(*path, 104);
  motion().Advance(*path, 105);
  EXPECT_EQ(path->State(), uint32_t(SnPathState_Idle));

  // A first list without vertices does not begin.
  const SnPathListItem empty = {none, 0, {}};
  CSnPositionPath* never = Play(&empty, 1, 0, 0, 0);
  EXPECT_EQ(motion().LaunchResult(*never), SNRESULT(37));
  EXPECT_EQ(never->State(), uint32_t(SnPathState_Idle));
}

TEST_F(PathMotionTest, APathKeepsTheListenersOrientationAsItWas) {
  ASSERT_EQ(SoundEngine::SetListenerPosition(SnListenerPosition{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 3), SN_Success);
  Render();
  const SnPathListItem list = {kLine, 2, {}};
  CSnPositionPath* path = Play(&list, 1, 0, 0, 0);
  const SnFrozenListenerMatrix* frozen = motion().FreezeListenerMatrix(*path, 3);
  ASSERT_NE(frozen, nullptr);
  const SnListenerRecord& listener = LowerEngine::ListenerTable().Listener(3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(frozen->matrix[r][c], listener.matrix[c][r]);
  EXPECT_EQ(frozen->matrix[2][0], -1.0f);  // side (0, 0, -1) read down its column
  EXPECT_EQ(motion().FreezeListenerMatrix(*path, 8), nullptr);
  // Through the manager: a play from its saved state moves with the frames.
  const uint32_t count = motion().Count();
  EXPECT_EQ(g_pPathMgr->RemovePathUser(path, 1), SN_Success);
  EXPECT_EQ(motion().Count(), count - 1);
}

}  // namespace
