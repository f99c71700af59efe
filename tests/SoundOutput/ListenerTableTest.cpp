// The listener table through the API: defaults, a turned listener's matrix, scaling, speaker
// volumes, the pipelines, devices taking listeners, and game objects positioned again after a
// listener changes, with their rays worked out by hand.
#include "OutputTestSupport.h"

#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

class ListenerTableTest : public OutputFixture {
 protected:
  const SnListenerRecord& L(uint32_t index) { return LowerEngine::ListenerTable().Listener(index); }
};

TEST_F(ListenerTableTest, ListenersBeginAtTheOriginFacingAheadOnTheMainDevice) {
  InitWithMemorySink();
  EXPECT_EQ(LowerEngine::InstalledListenerServices(), &LowerEngine::ListenerTable());
  for (uint32_t i = 0; i < kMaxListeners; ++i) {
    EXPECT_EQ(L(i).position.front[2], 1.0f);
    EXPECT_EQ(L(i).position.top[1], 1.0f);
    EXPECT_EQ(L(i).scalingFactor, 1.0f);
    EXPECT_TRUE(L(i).spatialized);
    EXPECT_EQ(L(i).outputType, 32u);
    EXPECT_EQ(L(i).matrix[0][0], 1.0f);
    EXPECT_EQ(L(i).matrix[1][1], 1.0f);
    EXPECT_EQ(L(i).matrix[2][2], 1.0f);
  }
  EXPECT_EQ(LowerEngine::ListenerTable().AudioMask(), 0xFFFFFFFFu);
  EXPECT_EQ(LowerEngine::ListenerTable().FeedbackMask(), 0u);
  SoundEngine::Term();
  EXPECT_EQ(LowerEngine::InstalledListenerServices(), nullptr);
}

TEST_F(ListenerTableTest, SettersReachTheTableOnTheNextPass) {
  InitWithMemorySink();
  // Facing +x with +y up: the right-hand side is -z.
  ASSERT_EQ(SoundEngine::SetListenerPosition(SnListenerPosition{{1, 0, 0}, {0, 1, 0}, {5, 0, 0}}, 2), SN_Success);
  ASSERT_EQ(SoundEngine::SetListenerScalingFactor(2, 4.0f), SN_Success);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(3, false, true), SN_Success);
  const float volumes[2] = {0.0f, -6.0f};
  ASSERT_EQ(SoundEngine::SetListenerSpatialization(1, false, AnonymousConfig(2), volumes), SN_Success);
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(4, 8, 0x20), SN_Success);
  Render();
  EXPECT_EQ(L(2).matrix[0][0], 0.0f);
  EXPECT_EQ(L(2).matrix[0][2], -1.0f);
  EXPECT_EQ(L(2).matrix[2][0], 1.0f);
  EXPECT_EQ(L(2).scalingFactor, 4.0f);
  EXPECT_EQ(LowerEngine::ListenerTable().AudioMask(), 0xFFFFFFF7u);
  EXPECT_EQ(LowerEngine::ListenerTable().FeedbackMask(), 0x8u);
  EXPECT_FALSE(L(1).spatialized);
  ASSERT_NE(L(1).volumesLinear, nullptr);
  EXPECT_EQ(L(1).volumesDb[1], -6.0f);
  // 0 dB: the mantissa polynomial at 1 (0.32518977 + 0.020805772 + 0.65304345).
  EXPECT_FLOAT_EQ(L(1).volumesLinear[0], 0.99903899f);
  EXPECT_NEAR(L(1).volumesLinear[1], 0.501187, 0.005);
  // Listener 5 went to the secondary device with it.
  EXPECT_EQ(L(5).outputType, 8u);
  EXPECT_EQ(L(5).deviceId, 4u);
  EXPECT_EQ(L(4).outputType, 32u);
  EXPECT_EQ(VoiceParams::FastDbToLinear(-800.0f), 0.0f);
}

TEST_F(ListenerTableTest, AChangedListenerPositionsTheObjectsThatHearItAgain) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::RegisterGameObj(7, 0x1), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGameObj(8, 0x2), SN_Success);
  // Facing the listener from (3, 0, 4): five away, atan2(3, 4) to the right, the cone closed.
  const SnSoundPosition emitter{{3, 0, 4}, {-0.6f, 0, -0.8f}};
  ASSERT_EQ(SoundEngine::SetPosition(7, emitter), SN_Success);
  ASSERT_EQ(SoundEngine::SetPosition(8, emitter), SN_Success);
  Render();
  CSnRegisteredObj* seven = g_pRegistryMgr->GetObjAndAddref(7);
  CSnRegisteredObj* eight = g_pRegistryMgr->GetObjAndAddref(8);
  ASSERT_NE(seven, nullptr);
  ASSERT_NE(eight, nullptr);
  ASSERT_EQ(SoundEngine::SetListenerScalingFactor(0, 2.0f), SN_Success);
  Render();
  ASSERT_EQ(seven->Rays().Count(), 1u);
  EXPECT_FLOAT_EQ(seven->Rays()[0].distance, 2.5f);
  EXPECT_NEAR(seven->Rays()[0].azimuth, 0.6435011, 1e-6);
  EXPECT_FLOAT_EQ(seven->Rays()[0].elevation, 0.0f);
  EXPECT_NEAR(seven->Rays()[0].emitterAngle, 0.0, 1e-3);
  const uint32_t eightRays = eight->Rays().Count();

  // The listener steps to (3, 0, 0): the object four ahead, straight on; listener 1's object waits.
  ASSERT_EQ(SoundEngine::SetListenerPosition(SnListenerPosition{{0, 0, 1}, {0, 1, 0}, {3, 0, 0}}, 0), SN_Success);
  Render();
  EXPECT_FLOAT_EQ(seven->Rays()[0].distance, 2.0f);
  EXPECT_FLOAT_EQ(seven->Rays()[0].azimuth, 0.0f);
  EXPECT_EQ(eight->Rays().Count(), eightRays);

  // Straight above and straight to the right.
  SnEmitterListenerRay ray{};
  LowerEngine::ListenerTable().ComputeEmitterRay(1, SnSoundPosition{{0, 2, 0}, {0, 0, 1}}, 1.0f, ray);
  EXPECT_FLOAT_EQ(ray.elevation, 1.5707964f);
  EXPECT_FLOAT_EQ(ray.azimuth, 0.0f);
  LowerEngine::ListenerTable().ComputeEmitterRay(1, SnSoundPosition{{2, 0, 0}, {0, 0, 1}}, 1.0f, ray);
  EXPECT_FLOAT_EQ(ray.azimuth, 1.5707964f);
  seven->Release();
  eight->Release();
}

TEST_F(ListenerTableTest, APanningRuleMarksEveryListenerChanged) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::RegisterGameObj(9, 0x80), SN_Success);
  ASSERT_EQ(SoundEngine::SetPosition(9, SnSoundPosition{{0, 0, 3}, {0, 0, -1}}), SN_Success);
  Render();
  // Positioned once while playing (held), then left alone: only a flag shows a later change.
  CSnRegisteredObj* nine = g_pRegistryMgr->GetObjAndAddref(9);
  ASSERT_NE(nine, nullptr);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(6, true, false), SN_Success);
  Render();
  ASSERT_FALSE(nine->IsDirty());
  ASSERT_EQ(nine->Rays().Count(), 1u);
  EXPECT_FLOAT_EQ(nine->Rays()[0].distance, 3.0f);
  nine->Release();
  ASSERT_EQ(SoundEngine::SetListenerPipeline(6, true, true), SN_Success);
  Render();
  EXPECT_FALSE(nine->IsDirty());  // a pipeline change moves no listener

  ASSERT_EQ(SoundEngine::SetPanningRule(1, 32, 0), SN_Success);
  Render();
  EXPECT_TRUE(nine->IsDirty());  // listener 7 was reported changed
  uint32_t rule = 0;
  ASSERT_EQ(SoundEngine::GetPanningRule(rule, 32, 0), SN_Success);
  EXPECT_EQ(rule, 1u);
}

TEST_F(ListenerTableTest, RaysBehindToTheLeftAndFromAListenerWhoseVectorsLean) {
  InitWithMemorySink();
  CSnListenerTable& table = LowerEngine::ListenerTable();
  // Behind and to the left of a listener facing +z: x = -3, z = -3.
  SnEmitterListenerRay ray{};
  table.ComputeEmitterRay(0, SnSoundPosition{{-3, 0, -3}, {0, 0, 1}}, 1.0f, ray);
  EXPECT_FLOAT_EQ(ray.azimuth, -2.3561945f);  // -135 degrees
  EXPECT_FLOAT_EQ(ray.distance, std::sqrt(18.0f));
  // The emitter faces +z; the listener lies 45 degrees off that, ahead and to its side.
  EXPECT_NEAR(ray.emitterAngle, 0.7853982, 1e-6);
  // A top vector leaning onto the front (the back end takes what it is given): |y| / r passes 1.
  ASSERT_EQ(table.SetPosition(2, SnListenerPosition{{0, 0, 1}, {0, 1.5f, 0.2f}, {0, 0, 0}}), SN_Success);
  table.ComputeEmitterRay(2, SnSoundPosition{{0, 2, 0.01f}, {0, 0, 1}}, 1.0f, ray);
  EXPECT_FALSE(std::isnan(ray.elevation));
  EXPECT_FLOAT_EQ(ray.elevation, 1.5707964f);
}

}  // namespace
