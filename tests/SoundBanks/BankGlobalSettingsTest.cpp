// What the global chunks change in a running engine: the game-sync managers from STMG, the limits at
// the bank's precedence, the environment curves from ENVS and the platform every bank must share.
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;
using BankTest::Build;
using BankTest::RecordingBank;

class BankGlobalSettingsTest : public BankTest::BankFixture {};

const char* const kSettings =
    "threshold -12\nvoices 40\nstategroup @7 300\ntransition @7 @1 @2 150\nstategroup @8 0\n"
    "switchgroup @9 @12 0\nswitchpoint @9 0 @21 9\nswitchpoint @9 10 @22 9\n"
    "parameter @11 5 1 2 3 4\nparameter @12 -1 0 0 0 0\n";

TEST_F(BankGlobalSettingsTest, SettingsReachTheGameSyncManagers) {
  const uint32_t groupsBefore = g_pStateMgr->StateGroupCount();
  RecordingBank bank;
  ASSERT_EQ(LoadImage(Build(kSettings), bank), SN_Success) << log_.Take();
  EXPECT_EQ(g_pStateMgr->StateGroupCount(), groupsBefore + 2);
  EXPECT_EQ(SoundEngine::VolumeThresholdDB(), -12.0f);
  EXPECT_EQ(SoundEngine::MaxNumVoicesLimit(), 40);

  // The switch group follows parameter 12: its points' second words are the switches.
  const SnRTPCKey key;
  g_pRTPCMgr->SetRTPCImmediate(12, 3.0f, key);
  EXPECT_EQ(g_pSwitchMgr->GetCurrentSwitch(9, key), 21u);
  g_pRTPCMgr->SetRTPCImmediate(12, 12.0f, key);
  EXPECT_EQ(g_pSwitchMgr->GetCurrentSwitch(9, key), 22u);
  // Parameter 11 ramps at the bank's rates: a new value is not reached at once.
  g_pRTPCMgr->SetRTPCImmediate(11, 100.0f, key);
  EXPECT_EQ(g_pRTPCMgr->RunningTransitionCount(11), 1u);

  bool found = false;
  EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(11, &found), 5.0f);
  EXPECT_TRUE(found);
  EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(12, &found), -1.0f);
  EXPECT_TRUE(found);
  // Parameter 11 is bound to the engine's value of slot 4; parameter 12 to none.
  g_pRTPCMgr->PublishBuiltInValue(4, key, 0.75f);
  float value = 0.0f;
  ASSERT_TRUE(g_pRTPCMgr->GetValue(11, key, value));
  EXPECT_EQ(value, 0.75f);
  EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(12), -1.0f);
}

// Frames a state change's property moves take, one rendered frame at a time.
int FramesUntilSettled() {
  int frames = 0;
  while (g_pTransitionMgr->StateCount() > 0 && frames < 100) {
    if (SoundEngine::RenderAudio() != SN_Success) return -1;
    ++frames;
  }
  return frames;
}

TEST_F(BankGlobalSettingsTest, StateGroupsTakeTheBanksTransitionTimes) {
  RecordingBank bank;
  ASSERT_EQ(LoadImage(Build("stategroup @7 210\ntransition @7 @1 @2 84\n"), bank), SN_Success);
  SoundTest::FakeStateNode node;
  node.sets[1].count = 1;
  node.sets[1].entries[0] = {0, 1.0f};
  SoundTest::FakeStateUser user(&node);
  ASSERT_EQ(g_pStateMgr->RegisterStateUser(7, &user), SN_Success);
  // Frames of 1024 samples at 48 kHz: 210 ms is 10 frames, 84 ms is 4.
  g_pStateMgr->SetState(7, 1, false, false);  // from none: the group's default time
  EXPECT_EQ(FramesUntilSettled(), 10);
  EXPECT_NEAR(user.applied[0], 1.0f, 0.05f);  // a volume, through the fast decibel conversion
  g_pStateMgr->SetState(7, 2, false, false);  // the bank's transition
  EXPECT_EQ(FramesUntilSettled(), 4);
  g_pStateMgr->SetState(7, 1, false, false);  // stored one way only: the default again
  EXPECT_EQ(FramesUntilSettled(), 10);
  g_pStateMgr->UnregisterStateUser(7, &user);
}

TEST_F(BankGlobalSettingsTest, LimitsSetThroughTheApiFirstWin) {
  ASSERT_EQ(SoundEngine::SetVolumeThreshold(-30.0f), SN_Success);
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(10), SN_Success);
  RecordingBank bank;
  ASSERT_EQ(LoadImage(Build(kSettings), bank), SN_Success);
  EXPECT_EQ(SoundEngine::VolumeThresholdDB(), -30.0f);
  EXPECT_EQ(SoundEngine::MaxNumVoicesLimit(), 10);
}

TEST_F(BankGlobalSettingsTest, EnvironmentCurvesAreFilled) {
  RecordingBank bank;
  ASSERT_EQ(LoadImage(Build("envcurve 0 0 1 2\nenvpoint 0 0 0 0 4\nenvpoint 0 0 1 -12 4\n"
                            "envcurve 0 2 1 3\nenvpoint 0 2 0 5 1\n"
                            "envcurve 1 0 0 0\nenvpoint 1 0 0 -3 4\nenvcurve 1 2 1 0\nenvpoint 1 2 0.5 1 9\n"),
                      bank),
            SN_Success)
      << log_.Take();
  const CSnEnvironmentCurves& curves = *g_pEnvironmentCurves;
  // The volume curve in dB becomes a plain curve of one plus its values, which are gains less one: a
  // value below -1 would be a negative gain, and is held at silence.
  const CSnCurveGraph* volume = curves.Curve(0, 0);
  ASSERT_EQ(volume->pointCount, 2u);
  EXPECT_EQ(volume->scaling, uint32_t(SnCurveScaling_None));
  EXPECT_EQ(volume->points[0].y, 1.0f);
  EXPECT_EQ(volume->points[1].y, 0.0f);
  EXPECT_NE(log_.Take().find("Environment volume curve of group 0: point 1 (-12) lies below silence; it is silent"),
            std::string::npos);
  EXPECT_EQ(volume->points[1].x, 1.0f);
  EXPECT_TRUE(curves.IsCurveEnabled(0, 0));
  // A plain volume curve becomes dB-to-linear; other curves keep theirs.
  EXPECT_EQ(curves.Curve(1, 0)->scaling, uint32_t(SnCurveScaling_dBToLin));
  EXPECT_EQ(curves.Curve(1, 0)->points[0].y, -3.0f);
  EXPECT_FALSE(curves.IsCurveEnabled(1, 0));
  EXPECT_EQ(curves.Curve(0, 2)->scaling, uint32_t(SnCurveScaling_Log));
  EXPECT_EQ(curves.Curve(0, 2)->points[0].y, 5.0f);
  EXPECT_EQ(curves.Curve(1, 2)->points[0].interpolation, 9u);
  EXPECT_EQ(curves.Curve(0, 1)->pointCount, 0u);
  EXPECT_FALSE(curves.IsCurveEnabled(0, 1));

  // A later bank's curve without points leaves the points as they are and takes its flag.
  RecordingBank later;
  ASSERT_EQ(LoadImage(Build("envcurve 0 2 0 0\n"), later), SN_Success);
  EXPECT_FALSE(curves.IsCurveEnabled(0, 2));
  EXPECT_EQ(curves.Curve(0, 2)->pointCount, 1u);
  EXPECT_EQ(curves.Curve(0, 2)->points[0].y, 5.0f);
}

TEST_F(BankGlobalSettingsTest, EveryBankNamesTheFirstBanksPlatform) {
  RecordingBank first, same, other, none;
  EXPECT_EQ(LoadImage(Build("platform Linux"), first), SN_Success);
  EXPECT_EQ(LoadImage(Build("platform Linux\nbankname Init"), same), SN_Success);
  EXPECT_EQ(same.names.size(), 1u);
  EXPECT_EQ(LoadImage(Build("platform Linuxx\nbankname Init"), other), SN_PlatformMismatch);
  EXPECT_TRUE(other.names.empty());
  EXPECT_EQ(LoadImage(Build("chunk PLAT\nbankname Init"), none), SN_Success);
  // Term forgets the first platform.
  reader_.Term();
  SoundEngine::Term();
  ASSERT_EQ(SoundEngine::Init(&settings_, nullptr), SN_Success);
  ASSERT_EQ(reader_.Init(), SN_Success);
  RecordingBank after;
  EXPECT_EQ(LoadImage(Build("platform Other"), after), SN_Success);
}

// Takes every block of the default pool there is for its lifetime.
class PoolHog {
 public:
  PoolHog() {
    for (size_t size = 1 << 20; size >= 8; size /= 2)
      while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) blocks_.push_back(block);
  }
  ~PoolHog() {
    for (void* block : blocks_) MemoryMgr::Free(g_DefaultPoolId, block);
  }
  PoolHog(const PoolHog&) = delete;
  PoolHog& operator=(const PoolHog&) = delete;

 private:
  std::vector<void*> blocks_;
};

TEST_F(BankGlobalSettingsTest, CurvesAndTheFirstPlatformWithoutMemoryGiveInsufficientMemory) {
  const std::vector<uint8_t> curves = Build("envcurve 0 1 1 0\nenvpoint 0 1 0 2 4\nenvpoint 0 1 1 3 4\n");
  const std::vector<uint8_t> linuxBank = Build("platform Linux");
  {
    PoolHog hog;
    RecordingBank curvesBank, platformBank;
    EXPECT_EQ(LoadImage(curves, curvesBank), SN_InsufficientMemory);
    EXPECT_NE(log_.Take().find("Bank chunk ENVS: no memory for the 2 points of curve 1 of group 0"), std::string::npos);
    EXPECT_EQ(LoadImage(linuxBank, platformBank), SN_InsufficientMemory);
  }
  EXPECT_EQ(g_pEnvironmentCurves->Curve(0, 1)->pointCount, 0u);
  // The platform that found no memory was not taken as the first: the next bank's is.
  RecordingBank other, again, curvesAgain;
  EXPECT_EQ(LoadImage(Build("platform Other"), other), SN_Success);
  EXPECT_EQ(LoadImage(linuxBank, again), SN_PlatformMismatch);
  EXPECT_EQ(LoadImage(curves, curvesAgain), SN_Success);
  EXPECT_EQ(g_pEnvironmentCurves->Curve(0, 1)->pointCount, 2u);
}

TEST_F(BankGlobalSettingsTest, GlobalChunksWithoutTheEngineFailAndSaySo) {
  reader_.Term();
  SoundEngine::Term();
  RecordingBank curves, settings, empty;
  EXPECT_EQ(LoadImage(Build("envcurve 0 0 1 0\nenvpoint 0 0 0 1 4\n"), curves), SN_Failure);
  EXPECT_NE(log_.Take().find("Bank chunk ENVS: the sound engine is not initialised"), std::string::npos);
  EXPECT_EQ(LoadImage(Build("stategroup @7 300\n"), settings), SN_Failure);
  EXPECT_NE(log_.Take().find("Bank chunk STMG: state group 7 could not be added"), std::string::npos);
  // An empty environment chunk fails whether or not there is an engine.
  EXPECT_EQ(LoadImage(Build("chunk ENVS"), empty), SN_Failure);
  ASSERT_EQ(SoundEngine::Init(&settings_, nullptr), SN_Success);
  ASSERT_EQ(reader_.Init(), SN_Success);
  RecordingBank emptyWithEngine;
  EXPECT_EQ(LoadImage(Build("chunk ENVS"), emptyWithEngine), SN_Failure);
  EXPECT_NE(log_.Take().find("Bank chunk ENVS is empty"), std::string::npos);
}

}  // namespace
