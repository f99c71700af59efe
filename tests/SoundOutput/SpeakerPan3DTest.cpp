// 3D panning against values worked out by hand: pair-gain tables of every layout, the headphone law,
// a mono tone panned through the memory sink, listeners without spatialisation or with their own
// speaker volumes, LFE, several rays, and curves that give spread, focus or centre out of range.
#include <array>

#include "OutputTestSupport.h"

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Spatial/PairGainTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

using OutputTest::kPi;
constexpr float kDegrees = float(kPi / 180.0);
const SnChannelConfig kMonoIn = StandardConfig(kSpeakerCenter);

std::array<uint32_t, 3> DefaultUnits(uint32_t mask) {
  float degrees[3];
  float height = 0.0f;
  CSnSpeakerPan::DefaultSpeakerAngles(StandardConfig(mask), degrees, height);
  std::array<uint32_t, 3> units{};
  uint32_t spacing = 0;
  EXPECT_EQ(CSnSpeakerPan::DegreesToAngles(degrees, 3, units.data(), spacing), SN_Success);
  return units;
}

TEST(PairGainTables, EveryEntrySharesOnePowerAndTheTangentLawHoldsBetweenSpeakers) {
  const std::array<uint32_t, 3> custom = {20, 100, 180};
  for (uint32_t mask : {0x3u, 0x7u, 0x603u, 0x607u, 0x633u, 0x637u}) {
    for (const std::array<uint32_t, 3>& angles : {DefaultUnits(mask), custom}) {
      std::vector<SnPairGain> gains(kPairGainEntries);
      CSnSpeakerPan::BuildPairGainTable(mask, angles.data(), gains.data());
      for (uint32_t a = 0; a < kPairGainEntries; ++a) {
        EXPECT_NEAR(gains[a].first + gains[a].second, 1.0, 1e-6) << std::hex << mask << std::dec << " at " << a;
        EXPECT_GE(gains[a].first, 0.0f);
      }
      // On a speaker the whole source is on it, and just past it on the next pair's first.
      EXPECT_NEAR(gains[angles[0]].second, 1.0, 1e-6);
      if (mask & 0x600) {
        EXPECT_NEAR(gains[angles[1]].second, 1.0, 1e-6) << std::hex << mask;
        EXPECT_GT(gains[angles[0] + 1].first, 0.99f) << std::hex << mask;
      }
      // Between the front speakers without a centre: sin^2(H - t) against sin^2(H + t).
      if (!(mask & kSpeakerCenter)) {
        const double h = angles[0] * kPi / 256, t = (angles[0] / 2) * kPi / 256;
        const double far = std::pow(std::sin(h - t), 2), near = std::pow(std::sin(h + t), 2);
        EXPECT_NEAR(gains[angles[0] / 2].first, far / (far + near), 1e-6);
      } else {
        // From the centre (first) to the front speaker: equal halfway.
        EXPECT_NEAR(gains[0].first, 1.0, 1e-6);
        if (angles[0] % 2 == 0) {
          EXPECT_NEAR(gains[angles[0] / 2].first, 0.5, 1e-6);
        }
      }
      // Front speakers only: behind mirrors ahead.
      if (mask == 0x3 || mask == 0x7) {
        for (uint32_t a = 0; a < angles[0]; ++a) {
          EXPECT_EQ(gains[256 - a].first, gains[a].second) << a;
          EXPECT_EQ(gains[256 - a].second, gains[a].first) << a;
        }
      } else if (!(mask & kSpeakerCenter)) {  // the rear pair meets straight behind
        EXPECT_NEAR(gains[256].first, 0.5, 1e-6) << std::hex << mask;
      }
    }
  }
}

TEST(PairGainTables, TheHeadphoneLawIsTheSquaredSine) {
  CSnSpeakerPan::InitHeadphoneTable();
  const float* table = PairGains::HeadphoneTable();
  for (uint32_t i = 0; i < kHeadphoneEntries; ++i) EXPECT_NEAR(table[i], std::pow(std::sin(i * kPi / 256), 2), 1e-7);
}

class SpeakerPan3DTest : public OutputFixture {
 protected:
  // One ray of listener 0 at `azimuth` radians, with dry gain `gain`.
  static SnEmitterListenerRay Ray(float azimuth, float gain = 1.0f, uint8_t listener = 0) {
    SnEmitterListenerRay ray{};
    ray.distance = 10.0f;
    ray.azimuth = azimuth;
    ray.factors[0] = gain;
    ray.factors[1] = ray.factors[2] = 1.0f;
    ray.listenerBit = listener;
    return ray;
  }
  SnRayPanSettings Settings(SnChannelConfig input, SnChannelConfig output) {
    SnRayPanSettings settings;
    settings.input = input;
    settings.output = output;
    settings.listenerMask = 0xFF;
    settings.outputType = SnOutput_Main;
    return settings;
  }
  std::vector<float> Matrix(const SnRayPanSettings& settings, std::vector<SnEmitterListenerRay> rays, float& gain,
                            SNRESULT expected = SN_Success) {
    std::vector<float> matrix(MatrixFloats(settings.input, settings.output), -1.0f);
    std::vector<float> scratch(2 * matrix.size());
    Platform::ReentrantGuard lock(GlobalAudioLock());
    EXPECT_EQ(CSnSpeakerPan::ComputeRayMatrices(settings, rays.data(), uint32_t(rays.size()), matrix.data(),
                                                scratch.data(), gain),
              expected);
    return matrix;
  }
  // A mono 1 kHz tone mixed through `matrix` x `gain` onto the main device; the RMS of each channel
  // of the last frame the memory sink got.
  std::vector<double> ThroughSink(const std::vector<float>& matrix, float gain, SnChannelConfig output) {
    constexpr uint16_t kFrames = 1024;
    std::vector<float> tone(kFrames);
    for (uint32_t t = 0; t < kFrames; ++t) tone[t] = 0.5f * float(std::sin(2 * kPi * 1000.0 * t / 48000.0));
    SnMixBuffer in;
    in.samples = tone.data();
    in.channelConfig = kMonoIn;
    in.maxFrames = in.validFrames = kFrames;
    OutputTest::Tone().Set(output, kFrames, [](uint32_t, uint32_t) { return 0.0f; });
    SnMixBuffer out = OutputTest::Tone().buffer;
    out.samples = OutputTest::Tone().storage.data();
    MixKernels::AddWithMatrix(out, in, matrix.data(), matrix.data(), gain, gain, kFrames);
    Render();
    const std::vector<float>& frame = OutputTest::SinkLog().frames.back();
    const uint32_t channels = ChannelCount(output);
    std::vector<double> rms(channels, 0.0);
    for (size_t i = 0; i < frame.size(); ++i) rms[i % channels] += double(frame[i]) * frame[i];
    for (double& v : rms) v = std::sqrt(v / (frame.size() / channels));
    return rms;
  }
};

TEST_F(SpeakerPan3DTest, AToneRightOfAheadFollowsTheTangentLawOnSpeakersAndTheSineLawOnHeadphones) {
  InitWithMemorySink();
  const SnChannelConfig stereo = StandardConfig(kMaskStereo);
  float gain = 0.0f;
  // 22.5 degrees right of a pair at 45: tan 22.5 between the channels, the dry gain's power in all.
  std::vector<float> m = Matrix(Settings(kMonoIn, stereo), {Ray(22.5f * kDegrees, 0.5f)}, gain);
  EXPECT_EQ(gain, 0.5f);
  EXPECT_NEAR(m[0] / m[1], 0.414214, 1e-4);
  EXPECT_NEAR(m[0] * m[0] + m[1] * m[1], 1.0, 1e-4);
  std::vector<double> rms = ThroughSink(m, gain, stereo);
  EXPECT_NEAR(rms[0] / rms[1], 0.414214, 1e-4);
  EXPECT_NEAR(rms[0] * rms[0] + rms[1] * rms[1], std::pow(0.5 * 0.5 / std::sqrt(2.0), 2), 1e-4);

  ASSERT_EQ(SoundEngine::SetPanningRule(1, 32, 0), SN_Success);
  Render();
  m = Matrix(Settings(kMonoIn, stereo), {Ray(45.0f * kDegrees)}, gain);
  EXPECT_NEAR(m[0], 0.382683, 1e-4);
  EXPECT_NEAR(m[1], 0.923880, 1e-4);
  rms = ThroughSink(m, gain, stereo);
  EXPECT_NEAR(rms[0] / rms[1], 0.382683 / 0.923880, 1e-4);
  // Straight ahead on headphones: equal power.
  m = Matrix(Settings(kMonoIn, stereo), {Ray(0.0f)}, gain);
  EXPECT_NEAR(m[0], 0.70710677, 1e-6);
  EXPECT_NEAR(m[1], 0.70710677, 1e-6);
}

TEST_F(SpeakerPan3DTest, TablesFollowTheDevicesAnglesAndHeadphonesNeedAStereoOutput) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  CSnOutputDevice& device = *LowerEngine::MainDevice();
  const SnChannelConfig stereo = StandardConfig(kMaskStereo);
  float gains[2];
  ASSERT_EQ(CSnSpeakerPan::PanDirection(device, 22.5f * kDegrees, stereo, 0.0f, gains), SN_Success);
  EXPECT_NEAR(gains[0] / gains[1], 0.414214, 1e-4);
  // The pair at 30 degrees (43 units): the tangent law of the new aperture, worked out here.
  const float thirty[3] = {30.0f, 110.0f, 142.5f};
  ASSERT_EQ(device.SetSpeakerAngles(thirty, 3, 0.0f), SN_Success);
  ASSERT_EQ(CSnSpeakerPan::PanDirection(device, 22.5f * kDegrees, stereo, 0.0f, gains), SN_Success);
  const double h = 43 * kPi / 256, t = 32 * kPi / 256;
  EXPECT_NEAR(gains[0] / gains[1], std::sin(h - t) / std::sin(h + t), 1e-4);
  // The headphone law is for two speakers only: a 5.1 layout under rule 1 pans on its speakers.
  device.SetPanningRule(1);
  ASSERT_EQ(CSnSpeakerPan::PanDirection(device, 45.0f * kDegrees, stereo, 0.0f, gains), SN_Success);
  EXPECT_NEAR(gains[0], 0.382683, 1e-4);
  const SnChannelConfig surround = StandardConfig(kMask51);
  float six[6];
  ASSERT_EQ(CSnSpeakerPan::PanDirection(device, 45.0f * kDegrees, surround, 0.0f, six), SN_Success);
  EXPECT_EQ(six[0] + six[2], 0.0f);  // nothing on the left or the centre
  EXPECT_NEAR(six[1] * six[1] + six[4] * six[4], 1.0, 1e-5);  // FR and SR share it
  EXPECT_EQ(CSnSpeakerPan::PanDirection(device, 0.0f, AnonymousConfig(2), 0.0f, gains), SN_Failure);
}

TEST_F(SpeakerPan3DTest, ListenersWithoutSpatialisationOrWithTheirOwnVolumesAndTheLfe) {
  InitWithMemorySink(StandardConfig(kMask51));
  const SnChannelConfig surround = StandardConfig(kMask51);  // FL FR FC SL SR LFE
  const SnChannelConfig stereoIn = StandardConfig(kMaskStereo);
  ASSERT_EQ(SoundEngine::SetListenerSpatialization(0, false, 0, nullptr), SN_Success);
  Render();
  float gain = 0.0f;
  std::vector<float> m = Matrix(Settings(stereoIn, surround), {Ray(1.0f)}, gain);
  const uint32_t stride = MatrixRowStride(surround);
  for (uint32_t r = 0; r < 2; ++r) {
    for (uint32_t c = 0; c < 5; ++c) EXPECT_NEAR(m[r * stride + c], 0.70710677, 1e-6) << r << "," << c;
    EXPECT_EQ(m[r * stride + 5], 0.0f);  // never the LFE
  }
  // A 5.1 voice keeps its LFE on the LFE; the listener's own volumes weigh every column.
  const float volumes[6] = {0.0f, -6.0f, 0.0f, 0.0f, 0.0f, -20.0f};
  ASSERT_EQ(SoundEngine::SetListenerSpatialization(0, true, surround, volumes), SN_Success);
  Render();
  m = Matrix(Settings(surround, surround), {Ray(0.0f)}, gain);
  EXPECT_NEAR(m[5 * stride + 5], 0.1, 0.001);
  EXPECT_EQ(m[5 * stride + 0], 0.0f);
  for (uint32_t r = 0; r < 5; ++r) EXPECT_EQ(m[r * stride + 5], 0.0f);
  // Without the volumes the same rows, FR 6 dB up.
  ASSERT_EQ(SoundEngine::SetListenerSpatialization(0, true, 0, nullptr), SN_Success);
  Render();
  std::vector<float> plain = Matrix(Settings(surround, surround), {Ray(0.0f)}, gain);
  for (uint32_t r = 0; r < 5; ++r) {
    EXPECT_NEAR(m[r * stride + 0], plain[r * stride + 0] * 0.99903899f, 1e-6);
    EXPECT_NEAR(m[r * stride + 1], plain[r * stride + 1] * VoiceParams::FastDbToLinear(-6.0f), 1e-6);
  }
  EXPECT_EQ(plain[5 * stride + 5], 1.0f);
}

TEST_F(SpeakerPan3DTest, SeveralRaysAddUpPerListenerOrKeepTheLoudest) {
  InitWithMemorySink();
  const SnChannelConfig stereo = StandardConfig(kMaskStereo);
  float gain = 0.0f;
  // Hard left and hard right on listener 0, half left on listener 1.
  const std::vector<SnEmitterListenerRay> rays = {Ray(-90.0f * kDegrees, 0.5f), Ray(90.0f * kDegrees, 0.25f),
                                                  Ray(-90.0f * kDegrees, 0.8f, 1)};
  SnRayPanSettings settings = Settings(kMonoIn, stereo);
  settings.multiPositionType = 1;
  std::vector<float> m = Matrix(settings, rays, gain);
  EXPECT_EQ(gain, 1.0f);
  EXPECT_NEAR(m[0], 0.8, 1e-6);   // listener 1 is louder on the left
  EXPECT_NEAR(m[1], 0.25, 1e-6);  // listener 0's two sources add up
  settings.multiPositionType = 0;
  m = Matrix(settings, rays, gain);
  EXPECT_NEAR(m[0], 0.8, 1e-6);
  EXPECT_NEAR(m[1], 0.25, 1e-6);
  // Listener 1 not on this path, listener 0 silenced: nothing reaches it.
  settings.listenerMask = 0x1;
  settings.kind = SnOutputPathKind::GameDefinedSend;
  m = Matrix(settings, {rays[0]}, gain);
  EXPECT_EQ(gain, 1.0f);
  ASSERT_EQ(SoundEngine::SetListenerPipeline(0, false, false), SN_Success);
  Render();
  m = Matrix(settings, {rays[0]}, gain);
  EXPECT_EQ(m[0] + m[1], 0.0f);
  settings.listenerMask = 0x4;
  m = Matrix(settings, rays, gain);
  EXPECT_EQ(gain, 0.0f);
}

TEST_F(SpeakerPan3DTest, SpreadFocusAndCentreOutOfRangeActAsTheirLimits) {
  InitWithMemorySink(StandardConfig(kMask51));
  const SnChannelConfig surround = StandardConfig(kMask51);
  float gain = 0.0f;
  SnRayPanSettings settings = Settings(kMonoIn, surround);
  settings.centre = 1.5f;
  std::vector<float> over = Matrix(settings, {Ray(0.0f)}, gain);
  settings.centre = 1.0f;
  std::vector<float> full = Matrix(settings, {Ray(0.0f)}, gain);
  EXPECT_EQ(over, full);
  EXPECT_NEAR(full[2], 1.0, 1e-6);  // all of it on the centre
  settings.centre = std::nanf("");
  std::vector<float> none = Matrix(settings, {Ray(0.0f)}, gain);
  EXPECT_NEAR(none[0], 0.70710677, 1e-6);
  EXPECT_EQ(none[2], 0.0f);
  // The 2D panner clamps the same way.
  std::vector<float> pan(MatrixFloats(kMonoIn, surround)), pan100(pan.size());
  CSnSpeakerPan::Pan2D(0.5f, 1.0f, 1.5f, true, kMonoIn, surround, pan.data());
  CSnSpeakerPan::Pan2D(0.5f, 1.0f, 1.0f, true, kMonoIn, surround, pan100.data());
  EXPECT_EQ(pan, pan100);
  for (float v : pan) EXPECT_FALSE(std::isnan(v));

  // Spread and focus from curves: 250 percent is 100, -40 is 0; every row keeps its power.
  SnRTPCGraphPoint wide[2] = {{0, 250, SnCurve_Linear}, {100, 250, SnCurve_Linear}};
  SnRTPCGraphPoint unfocused[2] = {{0, -40, SnCurve_Linear}, {100, -40, SnCurve_Linear}};
  SnRTPCGraphPoint full100[2] = {{0, 100, SnCurve_Linear}, {100, 100, SnCurve_Linear}};
  SnRTPCGraphPoint zero[2] = {{0, 0, SnCurve_Linear}, {100, 0, SnCurve_Linear}};
  CSnCurveGraph spread{wide, 2}, focus{unfocused, 2}, spread100{full100, 2}, focus0{zero, 2};
  const SnChannelConfig stereoIn = StandardConfig(kMaskStereo);
  settings = Settings(stereoIn, surround);
  settings.spreadCurve = &spread;
  settings.focusCurve = &focus;
  std::vector<float> clamped = Matrix(settings, {Ray(0.3f)}, gain);
  settings.spreadCurve = &spread100;
  settings.focusCurve = &focus0;
  std::vector<float> limit = Matrix(settings, {Ray(0.3f)}, gain);
  EXPECT_EQ(clamped, limit);
  const uint32_t stride = MatrixRowStride(surround);
  for (uint32_t r = 0; r < 2; ++r) {
    double power = 0.0;
    for (uint32_t c = 0; c < 6; ++c) power += double(limit[r * stride + c]) * limit[r * stride + c];
    EXPECT_NEAR(power, 0.5, 1e-5) << r;
  }
  // Spread over half a circle: the left channel lies left of the right one.
  EXPECT_GT(limit[0] + limit[3], limit[1] + limit[4]);
  EXPECT_GT(limit[stride + 1] + limit[stride + 4], limit[stride + 0] + limit[stride + 3]);
}

TEST_F(SpeakerPan3DTest, TheListenerBackEndsRefuseListenersPastSevenAndInfiniteScaling) {
  InitWithMemorySink();
  Platform::ReentrantGuard lock(GlobalAudioLock());
  CSnListenerTable& table = LowerEngine::ListenerTable();
  EXPECT_EQ(table.SetPipeline(8, false, true), SN_InvalidParameter);
  EXPECT_EQ(table.AudioMask(), 0xFFFFFFFFu);
  EXPECT_EQ(table.FeedbackMask(), 0u);
  EXPECT_EQ(table.SetScalingFactor(1, std::numeric_limits<float>::infinity()), SN_InvalidParameter);
  EXPECT_EQ(table.Listener(1).scalingFactor, 1.0f);
  EXPECT_EQ(table.SetPosition(8, SnListenerPosition{}), SN_InvalidParameter);
  EXPECT_EQ(table.SetScalingFactor(8, 2.0f), SN_InvalidParameter);
  EXPECT_EQ(table.SetSpatialization(8, true, 0, nullptr), SN_InvalidParameter);
  // A first speaker angle under one unit leaves nothing for spread to divide by.
  const float tooNarrow[3] = {0.3f, 110.0f, 142.5f};
  uint32_t units[3];
  uint32_t spacing = 0;
  EXPECT_EQ(CSnSpeakerPan::DegreesToAngles(tooNarrow, 3, units, spacing), SN_Failure);
  EXPECT_EQ(LowerEngine::MainDevice()->SetSpeakerAngles(tooNarrow, 3, 0.0f), SN_Failure);
}

}  // namespace
