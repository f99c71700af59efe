// Curve arithmetic and transitions: pinned values of the fast approximations, curve edge cases,
// fade lengths at several frame sizes, retargeting, pause and resume, and recycling of full lists.
#include <cmath>

#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;
using SoundTest::RecordingTarget;

TEST(SoundCurveTest, FastMathAndShapesStayCloseToTheExactFunctions) {
  // Scaling modes 2, 3 and 4.
  EXPECT_NEAR(ApplyCurveScaling(SnCurveScaling_dB, 0.5f), -20.0f * std::log10(0.5f), 0.01f);
  EXPECT_NEAR(ApplyCurveScaling(SnCurveScaling_dB, -0.5f), 20.0f * std::log10(0.5f), 0.01f);
  EXPECT_EQ(ApplyCurveScaling(SnCurveScaling_dB, -1.0f), -4096.0f);
  EXPECT_EQ(ApplyCurveScaling(SnCurveScaling_dB, 1.5f), 4096.0f);
  EXPECT_NEAR(ApplyCurveScaling(SnCurveScaling_Log, 2.0f), 100.22384f, 1e-3f);  // the quadratic's own error
  EXPECT_NEAR(ApplyCurveScaling(SnCurveScaling_dBToLin, -6.0f), std::pow(10.0f, -0.3f), 0.002f);
  EXPECT_EQ(ApplyCurveScaling(SnCurveScaling_dBToLin, -800.0f), 0.0f);
  EXPECT_NEAR(SnFastMath::LinearToDb(0.0f), -764.6f, 0.5f);

  // Shapes 1, 3, 5 and 7 from 0 to 1.
  for (float t : {0.1f, 0.3f, 0.5f, 0.8f}) {
    const double pi = 3.14159265358979;
    EXPECT_NEAR(InterpolateShape(SnCurve_Sine, t, 0, 1), std::sin(t * pi / 2), 1e-4);
    const double inv = t <= 0.5 ? std::sin(pi * t) / 2 : 1 - std::sin(pi - pi * t) / 2;
    EXPECT_NEAR(InterpolateShape(SnCurve_InvSCurve, t, 0, 1), inv, 1e-4);
    EXPECT_NEAR(InterpolateShape(SnCurve_SCurve, t, 0, 1), (1 - std::cos(pi * t)) / 2, 1e-3);
    EXPECT_NEAR(InterpolateShape(SnCurve_SineRecip, t, 0, 1), 1 - std::cos(t * pi / 2), 1e-4);
  }
  EXPECT_EQ(InterpolateShape(12, 0.5f, 0, 1), 0.0f);
}

TEST(SoundCurveTest, GraphsAnswerAtTheirEdgesAndPerSegmentShape) {
  SnRTPCGraphPoint one[] = {{5.0f, 7.0f, SnCurve_Linear}};
  CSnCurveGraph single{one, 1, SnCurveScaling_None};
  EXPECT_EQ(single.Evaluate(-100.0f), 7.0f);
  EXPECT_EQ(single.Evaluate(100.0f), 7.0f);

  SnRTPCGraphPoint points[] = {{0, 0, SnCurve_Constant}, {10, 10, SnCurve_Linear}, {20, 30, SnCurve_Linear}};
  CSnCurveGraph graph{points, 3, SnCurveScaling_None};
  uint32_t segment = 99;
  EXPECT_EQ(graph.Evaluate(-5.0f, &segment), 0.0f);
  EXPECT_EQ(graph.Evaluate(9.9f, &segment), 0.0f);  // constant over its segment
  EXPECT_EQ(segment, 0u);
  EXPECT_FLOAT_EQ(graph.Evaluate(15.0f, &segment), 20.0f);
  EXPECT_EQ(segment, 1u);
  EXPECT_EQ(graph.Evaluate(50.0f), 30.0f);
}

class SoundTransitionTest : public SoundTest::GameSyncFixture {
 protected:
  CSnTransition* Add(RecordingTarget& target, float from, float to, uint32_t ms, uint32_t curve = SnCurve_Linear,
                     uint32_t kind = 7, bool dB = false, bool mirror = false) {
    SnTransitionParams params;
    params.target = &target;
    params.kind = kind;
    params.initial = from;
    params.end = to;
    params.timeMs = ms;
    params.curve = curve;
    params.dB = dB;
    params.mirror = mirror;
    return g_pTransitionMgr->AddTransition(params, true, CSnTransitionMgr::List_Ordinary);
  }
};

TEST_F(SoundTransitionTest, FadesKeepTheirLengthAtEveryFrameSize) {
  // At 48 kHz a frame lasts 5.33, 21.33 and 42.67 ms, counted as 5, 21 and 42 whole ms; a fade of
  // 100 ms takes the frames that cover it: 20, 5 (105 ms) and 3 (126 ms).
  const std::pair<uint32_t, uint32_t> sizes[] = {{256, 20}, {1024, 5}, {2048, 3}};
  for (const auto& [samples, expected] : sizes) {
    SN::SoundEngine::Term();
    Start(samples);
    ASSERT_EQ(SN::LowerEngine::SampleRate(), 48000u);
    RecordingTarget target;
    CSnTransition* fade = Add(target, 0.0f, 1.0f, 100);
    ASSERT_NE(fade, nullptr);
    EXPECT_EQ(fade->DurationFrames(), expected) << samples;
    uint32_t frames = 0;
    while (!target.finished && frames < 1000) {
      Frames(1);
      ++frames;
    }
    EXPECT_EQ(frames, expected) << samples;
    EXPECT_EQ(target.values.back(), 1.0f);
    EXPECT_EQ(g_pTransitionMgr->OrdinaryCount(), 0u);
  }
  EXPECT_EQ(FramesForMs(0), 0u);
}

TEST_F(SoundTransitionTest, StepsRetargetsPausesAndMirrors) {
  Start();
  RecordingTarget target;
  CSnTransition* fade = Add(target, 0.0f, 10.0f, 100);  // 5 frames
  ASSERT_EQ(fade->DurationFrames(), 5u);
  Frames(2);
  EXPECT_FLOAT_EQ(target.values.back(), 4.0f);

  // Retargeted after stepping: starts from the current value, over the new time.
  fade->Retarget(7, 0.0f, 42, SnCurve_Log3, SnValueMeaning_Absolute);
  EXPECT_EQ(fade->InitialValue(), 4.0f);
  EXPECT_EQ(fade->Curve(), uint32_t(SnCurve_Exp3));  // falling: mirrored
  Frames(1);
  EXPECT_NEAR(target.values.back(), 4.0f - 4.0f * 0.125f, 1e-5);

  // Pause and resume in one frame leaves it running in place.
  const uint32_t first = fade->FirstFrame();
  fade->Pause();
  fade->Resume();
  EXPECT_EQ(fade->FirstFrame(), first);
  // Its last step: it ends in this frame, and is freed with it.
  Frames(1);
  EXPECT_EQ(target.finished, 1);

  // A pause of three frames moves the first frame by three.
  RecordingTarget second;
  CSnTransition* other = Add(second, 0.0f, 1.0f, 210);
  Frames(1);
  other->Pause();
  Frames(3);
  const size_t told = second.values.size();
  other->Resume();
  Frames(1);
  EXPECT_EQ(other->FirstFrame(), 4u + 3u);  // added at frame 4, paused from 6 to 9
  EXPECT_EQ(second.values.size(), told + 1);

  // Falling linear keeps its shape; with the mirror flag shape 1 becomes 7, 3 and 5 stay.
  RecordingTarget third;
  EXPECT_EQ(Add(third, 1.0f, 0.0f, 50, SnCurve_Linear, 7, false, true)->Curve(), uint32_t(SnCurve_Linear));
  EXPECT_EQ(Add(third, 1.0f, 0.0f, 50, SnCurve_Sine, 7, false, true)->Curve(), uint32_t(SnCurve_SineRecip));
  EXPECT_EQ(Add(third, 1.0f, 0.0f, 50, SnCurve_SCurve, 7, false, true)->Curve(), uint32_t(SnCurve_SCurve));
  SN::SoundEngine::Term();  // the targets go with this scope
  EXPECT_EQ(third.finished, 3);
}

TEST_F(SoundTransitionTest, FadeOutRetargetNeverOutlastsItsRemainingTime) {
  Start();
  RecordingTarget target;
  CSnTransition* fade = Add(target, 1.0f, 0.0f, 210, SnCurve_Linear, SnTransitionKind_StopFadeOut);  // 10 frames
  Frames(4);
  EXPECT_EQ(fade->Retarget(SnTransitionKind_StopFadeOut, 0.0f, 1000, SnCurve_Linear, SnValueMeaning_Absolute), 6u);
  EXPECT_EQ(fade->Retarget(SnTransitionKind_PauseFadeOut, 0.0f, 1000, SnCurve_Linear, SnValueMeaning_Absolute), 48u);
  SN::SoundEngine::Term();
}

TEST_F(SoundTransitionTest, DecibelFadesInterpolateInGainAndReportDecibels) {
  Start();
  RecordingTarget target;
  CSnTransition* fade = Add(target, -96.0f, 0.0f, 42, SnCurve_Linear, 7, true);  // 2 frames
  Frames(1);
  // Halfway in gain between 10^(-96/20) and 1.
  const double halfway = (std::pow(10.0, -96.0 / 20.0) + 1.0) / 2.0;
  EXPECT_NEAR(target.values.back(), 20.0 * std::log10(halfway), 0.05);
  EXPECT_NEAR(fade->CurrentValue(), target.values.back(), 1e-6);
  Frames(1);
  EXPECT_NEAR(target.values.back(), -0.02379f, 1e-4f);  // 0 dB through both approximations
}

TEST_F(SoundTransitionTest, AFullListFinishesItsMostAdvancedTransition) {
  Start(1024, 2);
  RecordingTarget a, b, c;
  Add(a, 0.0f, 1.0f, 1000);
  Frames(10);
  Add(b, 0.0f, 5.0f, 1000);
  Frames(1);
  ASSERT_NE(Add(c, 0.0f, 2.0f, 1000), nullptr);
  EXPECT_EQ(a.finished, 1);  // the older one was furthest along
  EXPECT_EQ(a.values.back(), 1.0f);
  EXPECT_EQ(b.finished, 0);
  EXPECT_EQ(g_pTransitionMgr->OrdinaryCount(), 2u);
  // A target leaving ends its transition.
  SoundTest::RecordingTarget d;
  CSnTransition* t = g_pTransitionMgr->AddTransition({&d, 1, 0, 1, 100, 4, 0, 0, 0}, true, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(b.finished + c.finished, 1);
  EXPECT_EQ(t->RemoveTarget(&d), SN_Success);
  EXPECT_EQ(t->State(), uint32_t(SnTransitionState_ToRemove));
  EXPECT_EQ(int(t->RemoveTarget(&d)), 29);
  SN::SoundEngine::Term();
}

TEST_F(SoundTransitionTest, PathsKeepUsersHoldersAndPlayedLists) {
  Start();
  CSnPositionPath* path = g_pPathMgr->CreatePath();
  ASSERT_NE(path, nullptr);
  for (uint32_t user = 1; user <= 8; ++user) EXPECT_EQ(g_pPathMgr->AddPathUser(path, user), SN_Success);
  EXPECT_EQ(g_pPathMgr->AddPathUser(path, 9), SN_Failure);
  EXPECT_EQ(path->Pause(), SN_PathNotPlaying);

  SnPathVertex vertices[2] = {{{0, 0, 0}, 100}, {{1, 0, 0}, 100}};
  SnPathListItem lists[2] = {{vertices, 2}, {vertices, 1}};
  EXPECT_EQ(path->SetPlayList(nullptr, 2, 0, 0, nullptr), SN_InvalidParameter);
  SnPathSavedState saved{1, CreatePlayedList(2)};
  ASSERT_EQ(path->SetPlayList(lists, 2, 0, 0, &saved), SN_Success);
  SnPathPlayedList* record = saved.playedList;
  EXPECT_EQ(record->refCount, 2u);  // the saved state and the path
  ASSERT_EQ(path->PlayFromSavedState(&saved), SN_Success);
  EXPECT_EQ(path->CurrentList(), &lists[1]);
  EXPECT_EQ(saved.playedList, record);
  EXPECT_EQ(path->Resume(), SN_PathNotPaused);
  EXPECT_EQ(path->Pause(), SN_Success);
  EXPECT_EQ(path->Resume(), SN_Success);

  path->AddHolder();
  for (uint32_t user = 1; user <= 8; ++user) EXPECT_EQ(g_pPathMgr->RemovePathUser(path, user), SN_Success);
  EXPECT_EQ(g_pPathMgr->Count(), 1u);  // the holder keeps it
  g_pPathMgr->ReleasePathHolder(path);
  EXPECT_EQ(g_pPathMgr->Count(), 0u);
  EXPECT_EQ(record->refCount, 1u);
  ReleasePlayedList(saved.playedList);
}

}  // namespace
