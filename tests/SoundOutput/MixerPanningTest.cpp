// The panning services of a mixer plug-in's context on the main device: a direction, the device's
// angles and mix matrix, 2D panning, and speaker sets that reproduce directions and give back every
// block they took.
#include "OutputTestSupport.h"

#include "SoundEngine/Effects/MixerPanning.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Spatial/MixerPanning.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/Spatial/SpeakerSet.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

constexpr float kPiF = 3.14159265f;
constexpr float kEqualPower = 0.70710677f;

// The context a mixer on a bus of the main device is given.
class MainDeviceMixerContext final : public CSnMixerPanningServices {
 public:
  void GetOutputID(uint32_t& deviceId, uint32_t& outputType) const override {
    deviceId = 0;
    outputType = SnOutput_Main;
  }
};

// Counts what it hands out, so that a speaker set's blocks can be seen coming back.
class CountingAllocator final : public ISnPluginMemAlloc {
 public:
  void* Malloc(size_t size) override {
    ++live;
    return std::malloc(size);
  }
  void Free(void* pointer) override {
    --live;
    std::free(pointer);
  }
  int live = 0;
};

// A mixer plug-in that pans every input it is given to one direction.
class DirectionMixer final : public ISnPlugin {
 public:
  SNRESULT Term(ISnPluginMemAlloc*) override { return SN_Success; }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Mixer, 0, 0};
    return SN_Success;
  }
  SNRESULT MixInput(ISnMixerPanning& context, float azimuth, uint32_t outputConfig, float* gains) {
    return context.ComputePanning3D(azimuth, 0.0f, outputConfig, gains);
  }
};

class MixerPanningTest : public OutputFixture {
 protected:
  uint32_t PoolBytesUsed() {
    MemoryMgr::PoolMemInfo info;
    EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info), SN_Success);
    return info.usedBytes;
  }
  MainDeviceMixerContext context_;
};

TEST_F(MixerPanningTest, AMixerPansADirectionAndReadsTheDevice) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  DirectionMixer mixer;
  SnPluginInfo info{};
  ASSERT_EQ(mixer.QueryInfo(info), SN_Success);
  ASSERT_EQ(info.type, uint32_t(SnPluginType_Mixer));
  const SnChannelConfig stereo = StandardConfig(kMaskStereo);
  float gains[2] = {-1, -1};
  ASSERT_EQ(mixer.MixInput(context_, 0.0f, stereo, gains), SN_Success);
  EXPECT_NEAR(gains[0], kEqualPower, 1e-6);
  EXPECT_NEAR(gains[1], kEqualPower, 1e-6);
  ASSERT_EQ(mixer.MixInput(context_, kPiF / 2, stereo, gains), SN_Success);  // hard right
  EXPECT_NEAR(gains[0], 0.0, 1e-6);
  EXPECT_NEAR(gains[1], 1.0, 1e-6);
  EXPECT_EQ(mixer.MixInput(context_, 0.0f, AnonymousConfig(2), gains), SN_Failure);
  EXPECT_EQ(gains[0] + gains[1], 0.0f);

  // The stereo device's angles: 45, 110 and 142.5 degrees as units give them back.
  uint32_t count = 0;
  float height = 0.0f;
  ASSERT_EQ(context_.GetSpeakerAngles(nullptr, count, height), SN_Success);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(height, 45.0f);
  float angles[2] = {};
  count = 2;
  ASSERT_EQ(context_.GetSpeakerAngles(angles, count, height), SN_Success);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(angles[0], 45.0f);
  EXPECT_EQ(angles[1], 156.0f * 360.0f / 512.0f);

  // 5.1 onto the stereo device: left speakers left, the centre split evenly, the LFE nowhere.
  const SnChannelConfig surround = StandardConfig(kMask51);
  std::vector<float> matrix(MatrixFloats(surround, stereo), -1.0f);
  ASSERT_EQ(context_.ComputeDeviceMixMatrix(surround, stereo, matrix.data()), SN_Success);
  const std::vector<float> expected = {1, 0, 0, 0, 0, 1, 0, 0, kEqualPower, kEqualPower, 0, 0,
                                       1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(matrix[i], expected[i], 1e-6) << i;
}

TEST_F(MixerPanningTest, TwoDimensionalPanningNormalisesBackPairsAndHoldsPositions) {
  InitWithMemorySink();
  const SnChannelConfig mono = StandardConfig(kSpeakerCenter), stereo = StandardConfig(kMaskStereo);
  const SnChannelConfig backQuad = StandardConfig(0x33);
  std::vector<float> matrix(MatrixFloats(mono, stereo));
  ASSERT_EQ(context_.ComputePanningFromPosition(SnPanPosition{5.0f, 0.0f}, 0.0f, mono, stereo, matrix.data()),
            SN_Success);
  EXPECT_NEAR(matrix[0], 0.0, 1e-6);
  EXPECT_NEAR(matrix[1], 1.0, 1e-6);
  // Without panning: a mono source spread over the front, a quad with back speakers folded as sides.
  ASSERT_EQ(context_.ComputePanning2D(mono, stereo, 0.0f, matrix.data()), SN_Success);
  EXPECT_NEAR(matrix[0], kEqualPower, 1e-6);
  std::vector<float> quad(MatrixFloats(backQuad, stereo), -1.0f);
  ASSERT_EQ(context_.ComputePanning2D(backQuad, stereo, 0.0f, quad.data()), SN_Success);
  EXPECT_EQ(quad, (std::vector<float>{1, 0, 0, 0, 0, 1, 0, 0, kEqualPower, 0, 0, 0, 0, kEqualPower, 0, 0}));
  EXPECT_EQ(NormaliseSurroundPair(StandardConfig(0x3F)), StandardConfig(0x60F));
  EXPECT_EQ(NormaliseSurroundPair(StandardConfig(0x63F)), StandardConfig(0x63F));
  // Kinds that differ: silence.
  ASSERT_EQ(context_.ComputePanning2D(AnonymousConfig(1), stereo, 0.0f, matrix.data()), SN_Success);
  EXPECT_EQ(matrix[0] + matrix[1], 0.0f);
}

TEST_F(MixerPanningTest, AFiveSpeakerSetReproducesDirectionsAndGivesEveryBlockBack) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  CountingAllocator allocator;
  const uint32_t poolBefore = PoolBytesUsed();
  // Centre, the front pair at 30 degrees, the surrounds at 110, all at ear height.
  const float degrees[5] = {0.0f, -30.0f, 30.0f, -110.0f, 110.0f};
  float angles[10];
  for (int s = 0; s < 5; ++s) angles[2 * s] = degrees[s] * kPiF / 180.0f, angles[2 * s + 1] = 0.0f;
  SnSpeakerSet* set = nullptr;
  ASSERT_EQ(context_.CreateSpeakerSet(&allocator, angles, 5, set), SN_Success);
  ASSERT_NE(set, nullptr);
  EXPECT_GT(set->lists[0].count, 0u);
  for (float azimuth = -kPiF; azimuth < kPiF; azimuth += 0.1f) {
    // At and below the ear the two speakers around the direction share it as a unit-length pair
    // pointing the same way in the horizontal plane.
    for (float elevation : {0.0f, -0.4f}) {
      float gains[5];
      ASSERT_EQ(context_.ComputeSpeakerSetGains(set, azimuth, elevation, 5, gains), SN_Success);
      float p[3] = {}, power = 0.0f;
      for (int s = 0; s < 5; ++s) {
        EXPECT_GE(gains[s], 0.0f);
        power += gains[s] * gains[s];
        for (int i = 0; i < 3; ++i) p[i] += gains[s] * set->directions[3 * s + i];
      }
      EXPECT_NEAR(power, 1.0f, 1e-5) << azimuth;
      EXPECT_NEAR(p[0] * std::sin(azimuth) - p[1] * std::cos(azimuth), 0.0, 1e-5) << azimuth;
      EXPECT_GT(p[0] * std::cos(azimuth) + p[1] * std::sin(azimuth), 0.0f) << azimuth;
    }
  }
  float gains[5];
  ASSERT_EQ(context_.ComputeSpeakerSetGains(set, 15.0f * kPiF / 180.0f, 0.0f, 5, gains), SN_Success);
  EXPECT_NEAR(gains[0] / gains[2], 1.0, 1e-5);  // halfway between centre and the pair's left-hand 30
  EXPECT_EQ(gains[1] + gains[3] + gains[4], 0.0f);
  ASSERT_EQ(context_.DestroySpeakerSet(&allocator, set), SN_Success);
  EXPECT_EQ(allocator.live, 0);
  EXPECT_EQ(PoolBytesUsed(), poolBefore);
}

TEST_F(MixerPanningTest, HeightSpeakersReproduceDirectionsAboveTheEar) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  CountingAllocator allocator;
  // 5.1 at ear height and a pair 45 degrees up at 45 degrees either side.
  const float degrees[7][2] = {{0, 0}, {-30, 0}, {30, 0}, {-110, 0}, {110, 0}, {-45, 45}, {45, 45}};
  float angles[14];
  for (int s = 0; s < 7; ++s)
    angles[2 * s] = degrees[s][0] * kPiF / 180.0f, angles[2 * s + 1] = degrees[s][1] * kPiF / 180.0f;
  SnSpeakerSet* set = nullptr;
  ASSERT_EQ(context_.CreateSpeakerSet(&allocator, angles, 7, set), SN_Success);
  for (float azimuth = -0.6f; azimuth <= 0.6f; azimuth += 0.1f)
    for (float elevation = 0.1f; elevation <= 0.7f; elevation += 0.2f) {
      float gains[7];
      ASSERT_EQ(context_.ComputeSpeakerSetGains(set, azimuth, elevation, 7, gains), SN_Success);
      float p[3] = {};
      for (int s = 0; s < 7; ++s) {
        EXPECT_GE(gains[s], 0.0f);
        for (int i = 0; i < 3; ++i) p[i] += gains[s] * set->directions[3 * s + i];
      }
      EXPECT_NEAR(p[0], std::cos(elevation) * std::cos(azimuth), 1e-5) << azimuth << " " << elevation;
      EXPECT_NEAR(p[1], std::cos(elevation) * std::sin(azimuth), 1e-5) << azimuth << " " << elevation;
      EXPECT_NEAR(p[2], std::sin(elevation), 1e-5) << azimuth << " " << elevation;
    }
  ASSERT_EQ(context_.DestroySpeakerSet(&allocator, set), SN_Success);
  EXPECT_EQ(allocator.live, 0);
}

TEST_F(MixerPanningTest, ATriangleOnAGreatCircleThroughTheListenerIsSkipped) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  CountingAllocator allocator;
  // Two speakers up in the plane x = 0 and the virtual one below it: three directions of one plane,
  // around the listener, with no inverse.
  const float angles[4] = {kPiF / 2, kPiF / 3, -kPiF / 2, kPiF / 3};
  SnSpeakerSet* set = nullptr;
  ASSERT_EQ(context_.CreateSpeakerSet(&allocator, angles, 2, set), SN_Success);
  ASSERT_GT(set->lists[0].count, 0u);
  for (float azimuth : {0.0f, kPiF, 0.3f, kPiF - 0.3f}) {
    float gains[2] = {-1, -1};
    ASSERT_EQ(context_.ComputeSpeakerSetGains(set, azimuth, 0.0f, 2, gains), SN_Success);
    EXPECT_EQ(gains[0], 0.0f) << azimuth;
    EXPECT_EQ(gains[1], 0.0f) << azimuth;
  }
  ASSERT_EQ(context_.DestroySpeakerSet(&allocator, set), SN_Success);
  EXPECT_EQ(allocator.live, 0);
  EXPECT_EQ(context_.CreateSpeakerSet(&allocator, angles, 0, set), SN_InvalidParameter);
  EXPECT_EQ(set, nullptr);
}

}  // namespace
