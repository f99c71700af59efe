// 3D voices rendered to the memory sink against worked values: a mono tone to the right of the
// listener split by the tangent law on stereo speakers and by the headphone law, an object moved
// every frame ramping without steps, obstruction darkening the voice through its filter, a path
// moving the sound along its vertices and keeping the listener's launch orientation; and the
// instance's positioning record on its own: distance values, flags, priority by distance, the
// attenuation's game-parameter curves, and the position and listener queries.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Base/MathUtil.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Lower/Pipeline/VoicePipeline.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundOutput/MonoTestSource.h"
#include "tests/SoundOutput/OutputTestSupport.h"

namespace {

using namespace SN;

constexpr uint32_t kSpatialFrames = 256;
constexpr uint32_t kSpatialObject = 40;
using OutputTest::kPi;
// The fast decibel conversion at 0 dB is its polynomial at m = 1. A 3D voice meets it three times on
// its way out: in its rays' dry gain (its volume), on its connection (its second volume) and on the
// master bus (the bus's volume).
constexpr double kZeroDb = 0.32518977 + 0.020805772 + 0.65304345;
constexpr double kThrough = kZeroDb * kZeroDb * kZeroDb;
constexpr uint8_t kGameObject3D = 1 | (1 << 2);  // positioning mode 1, positions of the game object
constexpr uint8_t kPath3D = 1;                    // positioning mode 1, positions along a path

// Mono, one value per sample of a function of the sample index.
class FunctionSource final : public OutputTest::MonoTestSource {
 public:
  explicit FunctionSource(double (*sample)(uint64_t)) : m_sample(sample) {}
  SNRESULT Prepare() override { return SN_Success; }
  SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) override {
    float* samples = Hand(buffer, frames, frames);
    for (uint32_t t = 0; t < frames; ++t) samples[t] = float(m_sample(m_position + t));
    m_position += frames;
    return SNRESULT(SnVoice_DataReady);
  }

 private:
  double (*m_sample)(uint64_t);
};

double Tone1k(uint64_t t) { return 0.5 * std::sin(2.0 * kPi * 1000.0 * double(t) / 48000.0); }
double Tone8k(uint64_t t) { return 0.5 * std::sin(2.0 * kPi * 8000.0 * double(t) / 48000.0); }
double Steady(uint64_t) { return 0.5; }

class Sources final : public ISnVoiceSourceFactory {
 public:
  ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance&, uint32_t) override { return new FunctionSource(sample); }
  double (*sample)(uint64_t) = &Tone1k;
};

// Attenuations by id, as the hierarchy would hand them out.
class Attenuations final : public ISnAttenuationDirectory {
 public:
  const SnAttenuationSettings* FindAttenuation(uint32_t id) override { return id == kId ? &settings : nullptr; }
  static constexpr uint32_t kId = 500;
  SnAttenuationSettings settings;
};

SnSoundPosition At(double x, double y, double z) {
  return SnSoundPosition{{float(x), float(y), float(z)}, {0.0f, 0.0f, 1.0f}};
}

class SpatialVoiceTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    VoiceSourceFactory() = &sources_;
    AttenuationDirectory() = &attenuations_;
    settings_.samplesPerFrame = kSpatialFrames;
    InitWithMemorySink();
    ASSERT_EQ(SoundEngine::RegisterGameObj(kSpatialObject, 1), SN_Success);
    Render();  // the registration is queued
    positioning_.flags = SnPositioning_Spatialize | SnPositioning_GameObjectRays;
  }
  void TearDown() override {
    // Voices end (and give their paths back) before the settings they play from go.
    SoundEngine::StopAll();
    Render();
    Render();
    positioning_.FreePath();
    OutputFixture::TearDown();
    VoiceSourceFactory() = nullptr;
    AttenuationDirectory() = nullptr;
    Base::SeedRand15(1);  // the generator's start-up state: paths draw from it
  }
  // A playing instance on the game object, prepared for play and queued to begin.
  CSnPlaybackInstance* Start(uint8_t positioningBits, uint32_t playingId = 7) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnPlaybackInstance::Args args;
    args.playingId = playingId;
    args.gameObject = g_pRegistryMgr->Find(kSpatialObject);
    args.positioning = &positioning_;
    args.positioningBits = positioningBits;
    auto* instance = PoolNew<CSnPlaybackInstance>(g_DefaultPoolId, args);
    EXPECT_EQ(instance->Init(nullptr, nullptr), SN_Success);
    EXPECT_EQ(instance->PrepareForPlay(0.0f, true, nullptr), SN_Success);
    EXPECT_EQ(instance->Play(TransParamsBase{}, false, true), SN_Success);
    VoiceManager::AddActiveInstance(instance);
    return instance;
  }
  static std::vector<double> Channel(uint32_t c, size_t back = 0) {
    const auto& frames = OutputTest::SinkLog().frames;
    const std::vector<float>& frame = frames[frames.size() - 1 - back];
    std::vector<double> out;
    for (size_t i = c; i < frame.size(); i += 2) out.push_back(frame[i]);
    return out;
  }
  static double Energy(const std::vector<double>& samples) {
    double sum = 0.0;
    for (double v : samples) sum += v * v;
    return sum;
  }

  Sources sources_;
  Attenuations attenuations_;
  SnPositioningParams positioning_;
};

TEST_F(SpatialVoiceTest, AVoiceToTheRightSplitsByTheTangentLawAndByTheHeadphoneLaw) {
  const double angle = 22.5 * kPi / 180.0;
  ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(10.0 * std::sin(angle), 0.0, 10.0 * std::cos(angle))),
            SN_Success);
  CSnPlaybackInstance* instance = Start(kGameObject3D);
  Render();
  Render();
  auto* pipeline = static_cast<CSnVoicePipeline*>(instance->Pipeline());
  ASSERT_NE(pipeline, nullptr);
  ASSERT_EQ(pipeline->RayCount(), 1u);
  EXPECT_NEAR(pipeline->Rays()[0].azimuth, angle, 1e-5);
  EXPECT_NEAR(pipeline->Rays()[0].distance, 10.0, 1e-4);
  // Default stereo angles (45 degrees): a source at 22.5 degrees right is t = pi / 8 into a region of
  // half-aperture pi / 4, so FL : FR = sin(pi/4 - t) : sin(pi/4 + t), whose squares add up to 1.
  const std::vector<double> left = Channel(0), right = Channel(1);
  const double dry = kThrough;
  for (uint32_t t = 0; t < kSpatialFrames; ++t) {
    const double x = Tone1k(kSpatialFrames + t);
    if (std::fabs(x) < 0.1) continue;
    EXPECT_NEAR(left[t] / right[t], std::tan(angle), 1e-4) << t;
    EXPECT_NEAR((left[t] * left[t] + right[t] * right[t]) / (x * x), dry * dry, 1e-4) << t;
  }
  // The headphone law at 45 degrees right: sin^2 of a quarter of the way round the table's half
  // circle on the left, its complement on the right.
  ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(10.0, 0.0, 10.0)), SN_Success);
  ASSERT_EQ(SoundEngine::SetPanningRule(1, SnOutput_Main, 0), SN_Success);
  Render();
  Render();
  const std::vector<double> l = Channel(0), r = Channel(1);
  for (uint32_t t = 0; t < kSpatialFrames; ++t) {
    const double x = Tone1k(3 * kSpatialFrames + t) * dry;
    if (std::fabs(x) < 0.1) continue;
    EXPECT_NEAR(l[t] / x, 0.382683, 1e-4) << t;
    EXPECT_NEAR(r[t] / x, 0.923880, 1e-4) << t;
  }
  ASSERT_EQ(SoundEngine::SetPanningRule(0, SnOutput_Main, 0), SN_Success);
}

TEST_F(SpatialVoiceTest, AnObjectMovedEveryFrameRampsWithoutSteps) {
  sources_.sample = &Steady;
  ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(10.0, 0.0, 0.0)), SN_Success);
  Start(kGameObject3D);
  Render();
  // Round the front from the right to the left, a few degrees a frame.
  std::vector<double> left;
  for (int frame = 0; frame < 30; ++frame) {
    const double a = kPi / 2 - kPi * (frame + 1) / 30.0;
    ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(10.0 * std::sin(a), 0.0, 10.0 * std::cos(a))), SN_Success);
    Render();
    const std::vector<double> l = Channel(0);
    left.insert(left.end(), l.begin(), l.end());
  }
  // Within a frame the gain moves linearly; across a frame boundary it goes on from where it was.
  // No step is larger than the steepest frame's slope.
  double steepest = 0.0;
  for (size_t f = 0; f < left.size() / kSpatialFrames; ++f)
    steepest = std::max(steepest, std::fabs(left[f * kSpatialFrames + kSpatialFrames - 1] - left[f * kSpatialFrames]) /
                                      (kSpatialFrames - 1));
  ASSERT_GT(steepest, 0.0);
  for (size_t t = 1; t < left.size(); ++t) EXPECT_LE(std::fabs(left[t] - left[t - 1]), steepest * 1.01 + 1e-7) << t;
  // It ends on the left.
  EXPECT_NEAR(left.back(), 0.5 * kThrough, 1e-4);
}

TEST_F(SpatialVoiceTest, ObstructionDarkensTheVoiceThroughItsFilter) {
  sources_.sample = &Tone8k;
  // Obstruction 0 to 100 percent maps to low-pass values 0 to 100.
  const SnRTPCGraphPoint line[2] = {{0.0f, 0.0f, SnCurve_Linear}, {100.0f, 100.0f, SnCurve_Linear}};
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    ASSERT_EQ(g_pEnvironmentCurves->SetCurve(0, 1, 2, line, 0), SN_Success);
    g_pEnvironmentCurves->SetCurveEnabled(0, 1, true);
  }
  ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(0.0, 0.0, 5.0)), SN_Success);
  CSnPlaybackInstance* instance = Start(kGameObject3D);
  Render();
  Render();
  const double open = Energy(Channel(0)) + Energy(Channel(1));
  ASSERT_GT(open, 1.0);
  auto* pipeline = static_cast<CSnVoicePipeline*>(instance->Pipeline());
  EXPECT_TRUE(pipeline->Filter().LowPassState().bypassed);
  ASSERT_EQ(SoundEngine::SetObjectObstructionAndOcclusion(kSpatialObject, 0, 1.0f, 0.0f), SN_Success);
  for (int i = 0; i < 6; ++i) Render();
  const double blocked = Energy(Channel(0)) + Energy(Channel(1));
  EXPECT_EQ(pipeline->Filter().LowPassState().current, 100.0f);
  EXPECT_LT(10.0 * std::log10(blocked / open), -20.0);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    g_pEnvironmentCurves->SetCurveEnabled(0, 1, false);
  }
}

TEST_F(SpatialVoiceTest, APathMovesTheSoundAlongItsVerticesInTheListenersLaunchOrientation) {
  // Right, ahead, left; 60 ms a segment; no stray.
  const SnPathVertex vertices[3] = {{{10, 0, 0}, 60}, {{0, 0, 10}, 60}, {{-10, 0, 0}, 60}};
  const uint32_t ranges[2] = {0, 3};
  const float stray[3] = {0, 0, 0};
  ASSERT_EQ(positioning_.SetPath(vertices, 3, ranges, stray, 1, 60), SN_Success);
  positioning_.flags = SnPositioning_Spatialize;
  CSnPlaybackInstance* instance = Start(kPath3D);
  ASSERT_NE(instance->Path(), nullptr);
  Render();
  // Launched on the right and a frame along towards the front: FR far above FL.
  auto* pipeline = static_cast<CSnVoicePipeline*>(instance->Pipeline());
  ASSERT_NE(pipeline, nullptr);
  const float* relative = instance->Positioning()->relative;
  EXPECT_GT(relative[0], 9.0f);
  EXPECT_NEAR(pipeline->Rays()[0].azimuth, std::atan2(relative[0], relative[2]), 1e-4);
  EXPECT_GT(std::fabs(Channel(1)[kSpatialFrames - 1]), 10.0 * std::fabs(Channel(0)[kSpatialFrames - 1]));
  // Half way along the first segment the sound is 45 degrees right; at the second vertex ahead.
  bool passedAhead = false;
  for (int frame = 0; frame < 40 && !passedAhead; ++frame) {
    Render();
    passedAhead = std::fabs(pipeline->Rays()[0].azimuth) < 1e-4 && instance->Positioning()->relative[2] > 9.99f;
  }
  ASSERT_TRUE(passedAhead);
  // Ahead of the listener as it launched. The listener turns to face +x: the sound stays where the
  // path put it in the launch orientation, now on the listener's left.
  // Facing +x, the listener's right is -z and world +z lies at its left.
  const SnListenerPosition turned{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  ASSERT_EQ(SoundEngine::SetListenerPosition(turned, 0), SN_Success);
  Render();
  EXPECT_NEAR(pipeline->Rays()[0].azimuth, std::atan2(-relative[2], relative[0]), 1e-4);
  EXPECT_LT(pipeline->Rays()[0].azimuth, -kPi / 2 + 0.2);
  // At the end of the path: the left.
  for (int frame = 0; frame < 40; ++frame) Render();
  EXPECT_NEAR(instance->Positioning()->relative[0], -10.0f, 1e-4);
  const SnListenerPosition ahead{{0, 0, 1}, {0, 1, 0}, {0, 0, 0}};
  ASSERT_EQ(SoundEngine::SetListenerPosition(ahead, 0), SN_Success);
  Render();
  Render();
  EXPECT_LT(std::fabs(Channel(1)[kSpatialFrames - 1]), 1e-3);
}

TEST_F(SpatialVoiceTest, APathSeenByAListenerWhoseVectorsLeanGivesAnElevationNotANumber) {
  const SnPathVertex vertices[1] = {{{0, 7, 7}, 1000}};
  const uint32_t ranges[2] = {0, 1};
  ASSERT_EQ(positioning_.SetPath(vertices, 1, ranges, nullptr, 1, 1000), SN_Success);
  positioning_.flags = SnPositioning_Spatialize;
  CSnPlaybackInstance* instance = Start(kPath3D);
  Render();
  {
    // Top leaning into front, as only the table itself takes it: up reads y + z, 14 at a distance
    // of 9.9, above the distance itself.
    Platform::ReentrantGuard audio(GlobalAudioLock());
    ASSERT_EQ(LowerEngine::ListenerTable().SetPosition(0, SnListenerPosition{{0, 0, 1}, {0, 1, 1}, {0, 0, 0}}),
              SN_Success);
  }
  Render();
  auto* pipeline = static_cast<CSnVoicePipeline*>(instance->Pipeline());
  ASSERT_NE(pipeline, nullptr);
  ASSERT_EQ(pipeline->RayCount(), 1u);
  EXPECT_FLOAT_EQ(pipeline->Rays()[0].elevation, float(kPi / 2));
  for (float v : Channel(0)) ASSERT_TRUE(std::isfinite(v));
}

TEST_F(SpatialVoiceTest, ThePositioningRecordFollowsItsParametersCurvesAndDistance) {
  // A distance curve to 100 m, a game parameter driving the cone's outside volume.
  std::vector<SnRTPCGraphPoint> distance = {{0.0f, 0.0f, SnCurve_Linear}, {100.0f, -40.0f, SnCurve_Linear}};
  std::vector<SnRTPCGraphPoint> outside = {{0.0f, 0.0f, SnCurve_Linear}, {1.0f, -12.0f, SnCurve_Linear}};
  CSnCurveGraph distanceCurve{distance.data(), 2, 0};
  CSnCurveGraph outsideCurve{outside.data(), 2, 0};
  const SnAttenuationParamCurve followed{900, 13, 1, &outsideCurve};
  attenuations_.settings.shape.curves[SnAttenuationCurve_Volume] = &distanceCurve;
  attenuations_.settings.coneOutsideDb = -3.0f;
  attenuations_.settings.paramCurves = &followed;
  attenuations_.settings.paramCurveCount = 1;
  positioning_.attenuationId = Attenuations::kId;
  ASSERT_EQ(SoundEngine::SetPosition(kSpatialObject, At(0.0, 0.0, 50.0)), SN_Success);
  Render();
  Platform::ReentrantGuard audio(GlobalAudioLock());
  CSnPlaybackInstance::Args args;
  args.playingId = 11;
  args.gameObject = g_pRegistryMgr->Find(kSpatialObject);
  args.positioning = &positioning_;
  args.positioningBits = kGameObject3D;
  args.priority.basePriority = 50.0f;
  args.priority.offsetAtMaxDistance = -70.0f;
  CSnPlaybackInstance instance(args);
  ASSERT_EQ(instance.PrepareForPlay(0.0f, true, nullptr), SN_Success);
  const SnInstancePositioning* record = instance.Positioning();
  ASSERT_NE(record, nullptr);
  // The curve is followed for this instance (kind 4): at once, at the parameter's default 0 (0 dB)
  // over the attenuation's own -3 dB, and as the game parameter moves.
  EXPECT_EQ(record->attenuationValues[0], 0.0f);
  ASSERT_EQ(g_pRTPCMgr->SetRTPCImmediate(900, 0.5f, SnRTPCKey::ForObject(args.gameObject)), SN_Success);
  EXPECT_NEAR(record->attenuationValues[0], -6.0f, 1e-5);
  // Distance values are percentages of the curve's reach; flags and settings by id.
  instance.SetParamById(25.0f, 37);
  instance.SetParamById(50.0f, 38);
  EXPECT_FLOAT_EQ(record->distanceValues[0], 25.0f);
  EXPECT_FLOAT_EQ(record->distanceValues[1], 50.0f);
  instance.SetParamById(1.0f, 66);
  instance.SetParamById(0.0f, 65);
  EXPECT_EQ(record->flags, SnPositioning_Spatialize | SnPositioning_PathLooping);
  instance.SetParamById(3.0f, 67);
  instance.SetParamById(-2.0f, 68);
  EXPECT_EQ(record->pathMode, 3u);
  EXPECT_EQ(record->setting, -2);
  instance.SetParamById(0.0f, 10);
  EXPECT_EQ(instance.PositioningMode(), 0);
  instance.SetParamById(1.0f, 10);
  EXPECT_EQ(instance.PositioningMode(), 1);
  // Priority: half the offset at half the reach, the whole of it beyond, held at 0.
  EXPECT_EQ(instance.GetPriorityAtDistance(50.0f), 15);
  EXPECT_EQ(instance.GetPriorityAtDistance(250.0f), 0);
  instance.UpdatePriorityFromDistance(50.0f);
  EXPECT_EQ(instance.Priority(), 15.0f);
  // Queries: one position, listener 0 only.
  SnSoundPosition position;
  EXPECT_EQ(instance.GetGameObjectPosition(0, position), SN_Success);
  EXPECT_EQ(position.position[2], 50.0f);
  EXPECT_EQ(instance.GetGameObjectPosition(1, position), SN_Failure);
  EXPECT_EQ(instance.GetEmitterPosition(0, 0x2, position), SN_Failure);
  SnListenerData listener;
  EXPECT_EQ(instance.GetListenerData(0x3, listener), SN_Success);
  EXPECT_EQ(listener.position.front[2], 1.0f);
  EXPECT_EQ(listener.scalingFactor, 1.0f);
  EXPECT_EQ(instance.GetListenerData(0x2, listener), SN_Failure);
  instance.Term(0);
  // An attenuation that is not loaded refuses the play.
  positioning_.attenuationId = 501;
  args.gameObject = g_pRegistryMgr->Find(kSpatialObject);
  CSnPlaybackInstance missing(args);
  EXPECT_EQ(missing.PrepareForPlay(0.0f, true, nullptr), SN_Failure);
  EXPECT_NE(log_.Take().find("attenuation 501 is not loaded"), std::string::npos);
  missing.Term(0);
  // With nowhere to look attenuations up, the sound plays without one.
  AttenuationDirectory() = nullptr;
  args.gameObject = g_pRegistryMgr->Find(kSpatialObject);
  CSnPlaybackInstance unattenuated(args);
  EXPECT_EQ(unattenuated.PrepareForPlay(0.0f, true, nullptr), SN_Success);
  EXPECT_EQ(unattenuated.Positioning()->attenuation, nullptr);
  unattenuated.Term(0);
  log_.Take();
}

}  // namespace
