// Levels far past what a sound can mean, from the game and from banks, met end to end: a game
// object's output volume that is not a number is refused and a huge one held to +24 dB; a volume
// curve, a gain effect and a modulator's depth of 3e38 in a bank (which the builder would refuse,
// so the tests write it into the bytes it built) are held to their limits as they load, and the
// voices under them are heard sample for sample as those limits say; many voices summed past full
// scale reach the float ring at full scale.
#include <cstring>
#include <limits>

#include "Platform/AudioOutput.h"
#include "SoundEngine/Lower/Output/Platform/FloatRingSink.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr float kPlus24dB = 15.848932f;  // 10^(24/20)
constexpr float kStandIn = 23.4567f;     // the level the bank is built with, then replaced

// The beep's voice at `gain`, as the output plays it: beyond full scale it is full scale.
double Heard(double sample, double gain) { return std::clamp(sample * kVoiceUnity * kCentreToPair * gain, -1.0, 1.0); }

class FiniteLevelsTest : public SoundEndToEndTest {
 protected:
  // Bank text built by the builder, its one stand-in level then overwritten with `value` in the
  // bytes it wrote, loaded from memory the fixture keeps. The own tone's samples come back.
  std::vector<double> LoadWithLevel(const std::string& text, float value, int standIns = 1) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, "FiniteBank", bank, error)) << error;
    std::vector<uint8_t>& image = Keep(Tools::WriteBank(bank));
    uint8_t standIn[4], level[4];
    std::memcpy(standIn, &kStandIn, 4);
    std::memcpy(level, &value, 4);
    int found = 0;
    for (size_t i = 0; i + 4 <= image.size(); ++i)
      if (std::memcmp(&image[i], standIn, 4) == 0) {
        std::memcpy(&image[i], level, 4);
        ++found;
      }
    EXPECT_EQ(found, standIns) << "the stand-in level is written as often as the text gives it";
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success) << log_.Take();
    std::vector<double> tone;
    for (int16_t sample : DataSamples(bank.media.at(0).bytes)) tone.push_back(sample / 32768.0);
    return tone;
  }
  // The sound S posted on the object and heard to its end.
  std::array<std::vector<double>, 2> PlayS() {
    EXPECT_NE(SoundEngine::PostEvent("Play_S", kObject), 0u);
    Frames(8);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
  }
  // The sound at `dB` on bus B under the game's Effects bus, the bus with `options`.
  static std::string SoundOnBus(const std::string& options, const std::string& dB = "-24") {
    return "tone T 48000 1 100 880\nbus B Effects " + options + "\nsound S T B volume " + dB +
           "\naction Play_S_Act 0x0403 S bank FiniteBank\nevent Play_S Play_S_Act\n";
  }
  static std::string Sound(const std::string& options, const std::string& after = "") {
    return "tone T 48000 1 100 880\n" + options + "sound S T Effects" + after +
           "\naction Play_S_Act 0x0403 S bank FiniteBank\nevent Play_S Play_S_Act\n";
  }
};

// The output-bus volume scales the rays of a placed voice: the spot beep 10 m straight ahead, at -4 dB
// by its attenuation curve (the engine's fast power of ten of -0.2, worked by hand as the placed
// beep's own test works it) and centred on the front pair, from its second frame on.
TEST_F(FiniteLevelsTest, AnOutputVolumeThatIsNotANumberIsRefusedAndAHugeOneIsHeldToPlus24dB) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float volume : {nan, inf, -inf}) {
    EXPECT_EQ(SoundEngine::SetGameObjectOutputBusVolume(kObject, volume), SN_InvalidParameter) << volume;
    EXPECT_EQ(SoundEngine::SetSecondaryOutputVolume(1, SnOutput_SecondaryPlatform, volume), SN_InvalidParameter);
  }
  EXPECT_NE(log_.Take().find("SetGameObjectOutputBusVolume: volume nan is not a number"), std::string::npos);
  const std::vector<double> beep = Media("Beep");
  const double m = 1.0 + 2815360.0 / 8388608.0;
  const double curve = 0.5 * ((0.32518977 * m + 0.020805772) * m + 0.65304345);
  // The beep begins at sample `first` of the capture.
  auto expectPlaced = [&](const std::array<std::vector<double>, 2>& planes, size_t first, double volume, double lsb) {
    ExpectModel(planes, first + kFrame, [&](size_t t) {
      return std::clamp(At(beep, t + kFrame) * kVoiceUnity * kFastUnity * curve * kCentreToPair * volume, -1.0, 1.0);
    }, lsb);
  };
  // The object keeps its volume: the beep is heard as it always is.
  ASSERT_NE(PlayTenMetresAhead("Play_Spot_Beep"), nullptr);
  Frames(6);
  expectPlaced(Capture(), 0, 1.0, 1.0);

  ASSERT_EQ(SoundEngine::StartOutputCapture(u"loud.wav"), SN_Success);
  EXPECT_EQ(SoundEngine::SetGameObjectOutputBusVolume(kObject, 1e38f), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pRegistryMgr->Find(kObject)->OutputBusVolume(), kPlus24dB);
  EXPECT_NE(log_.Take().find("SetGameObjectOutputBusVolume: volume 1e+38 is held to 15.8489"), std::string::npos);
  ASSERT_NE(PlayTenMetresAhead("Play_Spot_Beep"), nullptr);
  Frames(6);
  // Sixteen times louder, the model's double constants drift from the engine's floats by up to 2 LSB.
  expectPlaced(Capture("loud.wav"), kFrame, kPlus24dB, 2.0);
  // Below silence is silence.
  EXPECT_EQ(SoundEngine::SetGameObjectOutputBusVolume(kObject, -2.0f), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pRegistryMgr->Find(kObject)->OutputBusVolume(), 0.0f);
}

// A volume curve of 0 dB to 3e38 dB on a modulator: loaded, its point is held to +24 dB, so the curve
// maps a value of 0 onto 0 dB. Today's curve made the voice's gain 1 - infinity x 0, every sample NaN.
TEST_F(FiniteLevelsTest, AVolumeCurveOnAModulatorFarPastTheLevelsIsHeldAsItLoads) {
  const std::vector<double> tone =
      LoadWithLevel(Sound("modulator lfo W 2=0\n", "\nrtpc S volume modulator W 0:0 100:23.4567"), 3e38f);
  EXPECT_NE(log_.Take().find("points outside -4096 to 24 are held to it"), std::string::npos);
  const auto planes = PlayS();
  // The LFO's depth of 0 keeps its value at 0 throughout.
  ExpectModel(planes, 0, [&](size_t t) { return Heard(At(tone, t), 1.0); });
}

// The built-in gain at 3e38 dB was an infinite gain: loaded, it is held to +24 dB.
TEST_F(FiniteLevelsTest, AGainEffectFarPastTheLevelsIsHeldToPlus24dBAsItLoads) {
  const std::vector<double> tone = LoadWithLevel(Sound("effect G gain 23.4567\n", " effect G"), 3e38f);
  EXPECT_NE(log_.Take().find("Gain effect: level 3e+38 dB is outside -4096 to 24 dB"), std::string::npos);
  const auto planes = PlayS();
  // Sixteen times louder, the model's double constants drift from the engine's floats by up to 2 LSB.
  ExpectModel(planes, 0, [&](size_t t) { return Heard(At(tone, t), kPlus24dB); }, 2.0);
}

// A square LFO (so slow that it stays high) whose depth of 3e38 percent made its value 3e36: loaded,
// the depth is held to 100 percent, the value is 1, and the curve gives its -6 dB.
TEST_F(FiniteLevelsTest, AModulatorsDepthFarPastItsLimitIsHeldAsItLoads) {
  const std::vector<double> tone = LoadWithLevel(
      Sound("modulator lfo W 2=23.4567 3=0 4=0 5=2 7=50\n", "\nrtpc S volume modulator W 0:0 1:-6"), 3e38f);
  EXPECT_NE(log_.Take().find("property 2 of 3e+38 is outside 0 to 100; 100 is used"), std::string::npos);
  const auto planes = PlayS();
  const double gain = std::pow(10.0, -6.0 / 20.0);
  ExpectModel(planes, 0, [&](size_t t) { return Heard(At(tone, t), gain); });
}

// The engine's fast power of ten from the exponent and mantissa that 27866352 x dB / 20 + 1065353216,
// worked in floats by hand, gives.
double FastPower(int exponent, double mantissaBits) {
  const double m = 1.0 + mantissaBits / 8388608.0;
  return std::ldexp((0.32518977 * m + 0.020805772) * m + 0.65304345, exponent);
}
// +24 dB: 1098792832, exponent 130 - 127 and mantissa 8273792; -24 dB: 1032044672, 123 - 127 and 114816.
const double kFastPlus24dB = FastPower(3, 8273792.0);
const double kFastMinus24dB = FastPower(-4, 114816.0);

// The bank with its one stand-in level at 3e38 dB loaded, the load logged that `kind` `name` held its
// property `propertyId` to +24 dB.
std::string HeldLog(const char* kind, const char* name, int propertyId) {
  return std::string(kind) + " " + std::to_string(SoundEngine::GetIDFromString(name)) + ": property " +
         std::to_string(propertyId) + " of 3e+38 is outside -4096 to 24; 24 is used";
}

// A sound's own volume of 3e38 dB was an infinite gain in the voice: loaded, it is held to +24 dB and
// the voice is heard sixteen times louder, past full scale held there.
TEST_F(FiniteLevelsTest, ASoundsVolumeFarPastTheLevelsIsHeldToPlus24dBAsItLoads) {
  const std::vector<double> tone = LoadWithLevel(Sound("", " volume 23.4567"), 3e38f);
  EXPECT_NE(log_.Take().find(HeldLog("Node", "S", 0)), std::string::npos);
  const auto planes = PlayS();
  ExpectModel(planes, 0, [&](size_t t) { return Heard(At(tone, t), kFastPlus24dB / kFastUnity); }, 2.0);
}

// A bus's volume of 3e38 dB adds to the volume of every voice routed to it; the volume of a bus that
// mixes itself (its bus volume) of 3e38 dB was an infinite gain on its mix. Held to +24 dB, each lifts
// the sound's -24 dB back to about 0 dB; the bus's own mix stage meets the voice as one more gain.
TEST_F(FiniteLevelsTest, ABusVolumeFarPastTheLevelsIsHeldToPlus24dBAsItLoads) {
  const std::vector<double> tone = LoadWithLevel(SoundOnBus("volume 23.4567"), 3e38f);
  EXPECT_NE(log_.Take().find(HeldLog("Bus", "B", 0)), std::string::npos);
  ExpectModel(PlayS(), 0, [&](size_t t) { return Heard(At(tone, t), 1.0); });
}

TEST_F(FiniteLevelsTest, ABusOwnVolumeFarPastTheLevelsIsHeldToPlus24dBAsItLoads) {
  const std::vector<double> tone = LoadWithLevel(SoundOnBus("ownmix busvolume 23.4567"), 3e38f);
  EXPECT_NE(log_.Take().find(HeldLog("Bus", "B", 5)), std::string::npos);
  ExpectModel(PlayS(), 0, [&](size_t t) { return Heard(At(tone, t), kFastMinus24dB * kFastPlus24dB / kFastUnity); });
}

// Each level within +24 dB, a sound's and its bus's sum to +48 dB: the 2D voice is heard at +24 dB.
TEST_F(FiniteLevelsTest, ASoundsLevelsSummedPastPlus24dBAreHeardAtPlus24dB) {
  const std::vector<double> tone = LoadWithLevel(SoundOnBus("volume 24", "24"), 0.0f, 0);
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
  ExpectModel(PlayS(), 0, [&](size_t t) { return Heard(At(tone, t), kFastPlus24dB / kFastUnity); }, 2.0);
}

// Forty beeps at once sum far past full scale in the float frame: the float ring plays them held to
// full scale, sample for sample what the capture (the 16-bit frames of the same mix) holds.
class FloatRingLevelsTest : public SoundEndToEndTest {
 protected:
  void BeforeInit() override {
    rememberedKinds_ = SinkFactory::RememberedKinds();
    SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
    Platform::SetNullAudioPullOutputs(true);
    settings_.mainOutputKind = SnSinkKind_Engine;
  }
  void TearDown() override {
    SoundEndToEndTest::TearDown();
    Platform::SetNullAudioPullOutputs(false);
    SinkFactory::SetRememberedKinds(rememberedKinds_);
  }
  uint32_t rememberedKinds_ = 0;
};

TEST_F(FloatRingLevelsTest, ManyVoicesSummedPastFullScaleArePlayedAtFullScale) {
  auto* ring = static_cast<CSnFloatRingSink*>(LowerEngine::MainDevice()->Sink());
  ASSERT_EQ(ring->Kind(), uint32_t(SnSinkKind_Engine));
  ASSERT_EQ(ring->ChannelConfig(), StandardConfig(kMaskStereo));
  for (int i = 0; i < 40; ++i) ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  // The ring renders as many frames as it has room for: each pass's frames are taken at once.
  std::vector<float> played;
  while (played.size() < size_t(8) * kFrame * 2) {
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    for (uint32_t slots = ring->FilledSlots(); slots; --slots) {
      played.resize(played.size() + size_t(kFrame) * 2);
      ring->Output()->Pull(played.data() + played.size() - size_t(kFrame) * 2, kFrame);
    }
  }
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 8u * kFrame);
  size_t atFullScale = 0;
  for (size_t t = 0; t < 8 * kFrame; ++t)
    for (int c = 0; c < 2; ++c) {
      const float sample = played[2 * t + size_t(c)];
      ASSERT_TRUE(sample >= -1.0f && sample <= 1.0f) << t;
      ASSERT_EQ(planes[c][t], double(lrintf(sample * 32767.0f))) << "channel " << c << " sample " << t;
      atFullScale += std::fabs(sample) == 1.0f;
    }
  // Forty beeps of -3 dB on each side: much of the beep lies past a fortieth of full scale.
  EXPECT_GT(atFullScale, size_t(kFrame));
}

// A scaled curve is held only as it is evaluated: 10^(y / 20) of 3e38 is held to the range it drives.
TEST(FiniteCurves, ACurveGivesNothingOutsideItsRangeAndHoldsItsUnscaledPointsToIt) {
  SnRTPCGraphPoint points[] = {{0.0f, 0.0f, SnCurve_Linear}, {100.0f, 3e38f, SnCurve_Linear}};
  CSnCurveGraph scaled{points, 2, SnCurveScaling_dBToLin};
  EXPECT_TRUE(scaled.HoldPointsTo(kDecibelRange)) << "a scaled curve's points are in its own units";
  EXPECT_EQ(scaled.Evaluate(0.0f), SnFastMath::Pow10(0.0f));
  EXPECT_EQ(scaled.Evaluate(100.0f), 24.0f);
  EXPECT_EQ(points[1].y, 3e38f);
  CSnCurveGraph plain{points, 2, SnCurveScaling_None};
  EXPECT_FALSE(plain.HoldPointsTo(kDecibelRange));
  EXPECT_EQ(points[1].y, 24.0f);
  EXPECT_EQ(plain.Evaluate(50.0f), 12.0f);
  // Points that are not numbers become 0 whatever the scaling; every value given is a number.
  points[0].y = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(scaled.HoldPointsTo(kAnyFiniteValue));
  EXPECT_EQ(points[0].y, 0.0f);
  EXPECT_EQ(CSnCurveGraph{}.Evaluate(5.0f), 0.0f);
}

}  // namespace
