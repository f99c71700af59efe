// Ray gains and output-path filters worked out by hand: no attenuation, a distance curve shared by a
// send, the cone half open, obstruction and occlusion per listener, and motion players' gains.
#include "OutputTestSupport.h"

#include <cmath>
#include <limits>

#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

SnEmitterListenerRay Ray(float distance, uint8_t listener, float coneAngle = 0.0f) {
  SnEmitterListenerRay ray{};
  ray.distance = distance;
  ray.listenerBit = listener;
  ray.emitterAngle = coneAngle;
  return ray;
}

class VoiceParamsTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    InitWithMemorySink();
    lock_.emplace(GlobalAudioLock());
  }
  void TearDown() override {
    LowerEngine::InstallListenerPlayerMap(nullptr);
    lock_.reset();
    OutputFixture::TearDown();
  }
  // A straight line from (x0, y0) to (x1, y1) as a bank stores it.
  static void SetEnvironment(uint32_t group, uint32_t curve, float y0, float y1) {
    const SnRTPCGraphPoint points[2] = {{0, y0, SnCurve_Linear}, {100, y1, SnCurve_Linear}};
    ASSERT_EQ(g_pEnvironmentCurves->SetCurve(group, curve, 2, points, SnCurveScaling_None), SN_Success);
    g_pEnvironmentCurves->SetCurveEnabled(group, curve, true);
  }
  std::optional<Platform::ReentrantGuard> lock_;
};

TEST_F(VoiceParamsTest, DecibelsAboveZeroAndTheConeHalfOpen) {
  EXPECT_EQ(VoiceParams::DbToLinearFullRange(6.0f), 1.0f / VoiceParams::FastDbToLinear(-6.0f));
  EXPECT_EQ(VoiceParams::DbToLinearFullRange(-6.0f), VoiceParams::FastDbToLinear(-6.0f));
  EXPECT_EQ(VoiceParams::DbToLinearFullRange(800.0f), 65535.0f);
  float factor = -1.0f;
  EXPECT_EQ(VoiceParams::ConeGain(0.5f, 1.5f, -12.0f, 1.0f, factor), VoiceParams::FastDbToLinear(-6.0f));
  EXPECT_EQ(factor, 0.5f);
  EXPECT_EQ(VoiceParams::ConeGain(0.5f, 1.5f, -12.0f, 0.2f, factor), VoiceParams::FastDbToLinear(0.0f));
  EXPECT_EQ(factor, 0.0f);
  EXPECT_EQ(VoiceParams::ConeGain(0.5f, 1.5f, -12.0f, 3.0f, factor), VoiceParams::FastDbToLinear(-12.0f));
}

TEST_F(VoiceParamsTest, RayGainsFromTheVoiceTheCurvesAndTheCone) {
  SnVoiceGainParams voice;
  voice.volumeDb = -6.0f;
  voice.busVolume = 0.5f;
  SnEmitterListenerRay rays[2] = {Ray(10.0f, 0), Ray(80.0f, 1)};
  VoiceParams::ComputeRayVolumes(voice, rays, 2);
  for (const SnEmitterListenerRay& ray : rays) {
    EXPECT_EQ(ray.factors[0], 0.5f * VoiceParams::FastDbToLinear(-6.0f));
    EXPECT_EQ(ray.factors[1], 1.0f);
    EXPECT_EQ(ray.coneFactor, 1.0f);
  }
  // Full volume at 0 m down to none at 100 m; the game-defined send on the same curve, the
  // user-defined one on its own; the cone closing from 1 to 2 radians by 20 dB.
  SnRTPCGraphPoint fall[2] = {{0, 1, SnCurve_Linear}, {100, 0, SnCurve_Linear}};
  SnRTPCGraphPoint half[2] = {{0, 0.5f, SnCurve_Linear}, {100, 0.5f, SnCurve_Linear}};
  CSnCurveGraph dry{fall, 2}, user{half, 2};
  SnAttenuation attenuation;
  attenuation.curves[SnAttenuationCurve_Volume] = &dry;
  attenuation.curves[SnAttenuationCurve_GameSendVolume] = &dry;
  attenuation.curves[SnAttenuationCurve_UserSendVolume] = &user;
  attenuation.coneEnabled = true;
  attenuation.coneInner = 1.0f;
  attenuation.coneOuter = 2.0f;
  voice.attenuation = &attenuation;
  voice.coneOutsideDb = -20.0f;
  voice.positionsFromGameObject = false;
  rays[0] = Ray(10.0f, 0, 1.5f);
  VoiceParams::ComputeRayVolumes(voice, rays, 1);
  const float v = 0.5f * VoiceParams::FastDbToLinear(-6.0f);
  EXPECT_FLOAT_EQ(rays[0].factors[0], 0.9f * VoiceParams::FastDbToLinear(-10.0f) * v);
  EXPECT_FLOAT_EQ(rays[0].factors[1], 0.9f);  // the dry curve's value before the cone
  EXPECT_FLOAT_EQ(rays[0].factors[2], 0.5f);
  EXPECT_EQ(rays[0].coneFactor, 0.5f);
}

// Many nodes, each held to +24 dB, may still sum past it; the voice is heard at +24 dB, also with the
// game object's bus volume of +24 dB on top of that.
TEST_F(VoiceParamsTest, AVoiceSummedPastPlus24dBIsHeardAtPlus24dB) {
  SnVoiceGainParams voice;
  voice.busVolume = 15.848932f;
  SnEmitterListenerRay rays[1] = {Ray(1.0f, 0)};
  for (float dB : {24.0f, 240.0f, 3e38f}) {
    voice.volumeDb = dB;
    VoiceParams::ComputeRayVolumes(voice, rays, 1);
    EXPECT_EQ(rays[0].factors[0], VoiceParams::FastDbToLinear(24.0f)) << dB;
  }
}

// A voice's gain and its connections' (which carry its second volume, held alone) multiply to its
// whole level, held to +24 dB only as a whole: a second volume past +24 dB leaves its excess to the
// voice, a volume past it is heard where the second volume brings it back under. Connections that
// carry nothing leave the voice nothing, never a gain past the floats' reach. Within the fast
// conversions of the two (0.2 % each).
TEST_F(VoiceParamsTest, AVoicesGainAndItsConnectionsHoldOnlyTheirWholeLevel) {
  auto whole = [](float volumeDb, float secondDb) {
    return double(VoiceParams::VoiceVolumeToLinear(volumeDb, secondDb) * VoiceParams::VoiceLevelToLinear(secondDb));
  };
  const struct {
    float volume, second;
    double heard;
  } cases[] = {{-10.0f, 30.0f, 20.0}, {40.0f, -30.0f, 10.0}, {33.9f, -10.0f, 23.9}, {40.0f, -10.0f, 24.0}};
  for (const auto& c : cases) {
    const double expected = std::pow(10.0, c.heard / 20.0);
    EXPECT_NEAR(whole(c.volume, c.second), expected, 0.004 * expected) << c.volume << " " << c.second;
  }
  // Placed, the rays take the excess of the second volume too: -10 dB and +6 dB past +24 dB.
  SnVoiceGainParams voice;
  voice.volumeDb = -10.0f;
  voice.secondVolumeDb = 30.0f;
  SnEmitterListenerRay rays[1] = {Ray(1.0f, 0)};
  VoiceParams::ComputeRayVolumes(voice, rays, 1);
  EXPECT_NEAR(rays[0].factors[0], std::pow(10.0, -4.0 / 20.0), 0.002 * std::pow(10.0, -4.0 / 20.0));
  for (float volume : {3e38f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_EQ(VoiceParams::VoiceVolumeToLinear(volume, -1e30f), 0.0f) << volume;
    EXPECT_TRUE(std::isfinite(VoiceParams::VoiceVolumeToLinear(volume, -700.0f))) << volume;
  }
}

TEST_F(VoiceParamsTest, ObstructionAndOcclusionActPerListener) {
  // Obstruction: volume 0 dB to -20 dB, low-pass 0 to 80; occlusion: volume to -40 dB, low-pass 0 to
  // 60, high-pass 0 to 30.
  SetEnvironment(0, 0, 0.0f, -20.0f);
  SetEnvironment(0, 1, 0.0f, 80.0f);
  SetEnvironment(1, 0, 0.0f, -40.0f);
  SetEnvironment(1, 1, 0.0f, 60.0f);
  SetEnvironment(1, 2, 0.0f, 30.0f);
  uint8_t obstruction[8] = {255, 0}, occlusion[8] = {0, 128};
  SnVoiceGainParams voice;
  voice.obstruction = obstruction;
  voice.occlusion = occlusion;
  SnEmitterListenerRay rays[2] = {Ray(5.0f, 0), Ray(5.0f, 1)};
  VoiceParams::ComputeRayVolumes(voice, rays, 2);
  const float unit = VoiceParams::FastDbToLinear(0.0f);
  EXPECT_NEAR(rays[0].factors[0], 0.1 * unit, 0.001);  // fully obstructed
  EXPECT_NEAR(rays[0].factors[1], 1.0, 0.003);         // sends pass obstruction
  const double occluded = std::pow(10.0, -40.0 * 128 / 255 / 20);
  EXPECT_NEAR(rays[1].factors[0], occluded * unit, 0.003 * occluded);
  EXPECT_NEAR(rays[1].factors[2], occluded, 0.003 * occluded);

  // Listener 1's occlusion puts a floor under both filters; the smaller obstruction (listener 1's
  // none) sets the obstruction filters.
  SnRTPCGraphPoint lowPassPoints[2] = {{0, 10, SnCurve_Linear}, {100, 10, SnCurve_Linear}};
  CSnCurveGraph lowPass{lowPassPoints, 2};
  SnAttenuation attenuation;
  attenuation.curves[SnAttenuationCurve_LowPass] = &lowPass;
  voice.attenuation = &attenuation;
  voice.baseHighPass = 5.0f;
  SnOutputPathFilters filters;
  VoiceParams::ComputeFilters(voice, rays, 2, 0x3, filters);
  EXPECT_FLOAT_EQ(filters.lowPass, 10.0f);  // listener 0: curve 10 above its floor of 0
  EXPECT_FLOAT_EQ(filters.highPass, 5.0f);  // the voice's own value over listener 0's 0
  EXPECT_FLOAT_EQ(filters.obstructionLowPass, 0.0f);
  VoiceParams::ComputeFilters(voice, rays, 2, 0x2, filters);
  EXPECT_NEAR(filters.lowPass, 60.0 * 128 / 255, 1e-4);
  EXPECT_NEAR(filters.highPass, 30.0 * 128 / 255, 1e-4);
  VoiceParams::ComputeFilters(voice, rays, 2, 0x1, filters);
  EXPECT_FLOAT_EQ(filters.obstructionLowPass, 80.0f);
  // Behind a closed cone the cone's own low-pass rules.
  attenuation.coneEnabled = true;
  voice.coneLowPass = 50.0f;
  rays[0].coneFactor = 1.0f;
  VoiceParams::ComputeFilters(voice, rays, 2, 0x1, filters);
  EXPECT_FLOAT_EQ(filters.lowPass, 50.0f);
}

TEST_F(VoiceParamsTest, MotionPlayersTakeTheLoudestRayOfTheirListeners) {
  struct Map final : ISnListenerPlayerMap {
    uint32_t PlayersOfListener(uint32_t listener) const override { return listener == 0 ? 0x5u : 0x2u; }
  } map;
  LowerEngine::InstallListenerPlayerMap(&map);
  ASSERT_EQ(LowerEngine::ListenerTable().SetPipeline(0, true, true), SN_Success);
  SnFeedbackGains feedback;
  feedback.players[3] = 9.0f;  // cleared first
  SnVoiceGainParams voice;
  voice.busVolume = 0.25f;
  voice.feedback = &feedback;
  SnEmitterListenerRay rays[2] = {Ray(1.0f, 0), Ray(1.0f, 1)};
  VoiceParams::ComputeRayVolumes(voice, rays, 2);
  EXPECT_EQ(feedback.players[0], rays[0].factors[0]);
  EXPECT_EQ(feedback.players[2], rays[0].factors[0]);
  EXPECT_EQ(feedback.players[1], 0.0f);  // listener 1 feeds no motion pipeline
  EXPECT_EQ(feedback.players[3], 0.0f);
  feedback.firstValue = 6.0f;
  EXPECT_FLOAT_EQ(VoiceParams::PlayerGain(feedback, 0), VoiceParams::DbToLinearFullRange(6.0f) * feedback.players[0]);
  EXPECT_EQ(VoiceParams::PlayerGain(feedback, 4), 0.0f);
  ASSERT_EQ(LowerEngine::ListenerTable().SetPipeline(0, true, false), SN_Success);
}

TEST_F(VoiceParamsTest, TheGameSeesAMatrixOnlyWhenItsPlayingIdAskedForIt) {
  struct Seen {
    int calls = 0;
    SnSpeakerVolumeMatrixRecord* record = nullptr;
  } seen;
  auto callback = [](uint32_t type, SnCallbackInfo* info) {
    auto* matrixInfo = static_cast<SnSpeakerVolumeMatrixCallbackInfo*>(info);
    auto* into = static_cast<Seen*>(info->cookie);
    EXPECT_EQ(type, uint32_t(SnCallback_SpeakerVolumeMatrix));
    ++into->calls;
    into->record = static_cast<SnSpeakerVolumeMatrixRecord*>(matrixInfo->volumeMatrix);
    into->record->currentGains[1] = 0.25f;  // the game may change what is mixed
  };
  SnPlayingIdParams asks, silent;
  asks.playingId = 41, silent.playingId = 42;
  ASSERT_EQ(g_pPlayingIDCallbackMgr->AddPlayingID(asks, callback, &seen, SnCallback_SpeakerVolumeMatrix, 1), SN_Success);
  ASSERT_EQ(g_pPlayingIDCallbackMgr->AddPlayingID(silent, callback, &seen, SnCallback_EndOfEvent, 1), SN_Success);
  float gains[8] = {1, 1, 0, 0, 0, 0, 0, 0};
  SnSpeakerVolumeMatrixRecord record{StandardConfig(kSpeakerCenter), StandardConfig(kMaskStereo), gains, gains + 4,
                                     nullptr, nullptr};
  VoiceParams::NotifyVolumeMatrix(42, record);
  EXPECT_EQ(seen.calls, 0);
  VoiceParams::NotifyVolumeMatrix(41, record);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.record, &record);
  EXPECT_EQ(gains[1], 0.25f);
}

}  // namespace
