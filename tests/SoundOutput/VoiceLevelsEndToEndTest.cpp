// A voice's whole level, pitch, priority and filter values as banks written by the builder give them:
// its volume and second volume together, and a placed voice's attenuation and output-bus volume
// with them, are heard within +24 dB, and as they are below it; a pitch or priority far past its
// range (which the tests write into the bytes the builder made) is held to it as the bank loads, with
// a logged error; a child's filter value of -1 lowers its parent's, the voice clamping only the sum.
#include <cstring>
#include <limits>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr float kStandInValue = 23.4567f;  // a value the bank is built with, then replaced

// The engine's fast power of ten of +24 dB, worked by hand from its exponent and mantissa bits.
const double kFastPlus24dBByHand = std::ldexp((0.32518977 * (1.0 + 8273792.0 / 8388608.0) + 0.020805772) *
                                                (1.0 + 8273792.0 / 8388608.0) +
                                            0.65304345,
                                        3);

// A sample at `gain` over a plain voice, as the output plays it: beyond full scale it is full scale.
double HeardOverVoice(double sample, double gain) { return std::clamp(sample * kVoiceUnity * kCentreToPair * gain, -1.0, 1.0); }

class VoiceLevelsTest : public SoundEndToEndTest {
 protected:
  // Bank text built by the builder, each stand-in value then overwritten with `value` in the bytes
  // it wrote, loaded from memory the fixture keeps. The tone's samples come back.
  std::vector<double> LoadWith(const std::string& text, float value = kStandInValue) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, "LevelsBank", bank, error)) << error;
    std::vector<uint8_t>& image = Keep(Tools::WriteBank(bank));
    for (size_t i = 0; i + 4 <= image.size(); ++i)
      if (std::memcmp(&image[i], &kStandInValue, 4) == 0) std::memcpy(&image[i], &value, 4);
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success) << log_.Take();
    std::vector<double> tone;
    for (int16_t sample : DataSamples(bank.media.at(0).bytes)) tone.push_back(sample / 32768.0);
    return tone;
  }
  // The tone T under sound S (with `options`), S's play event, then `more` lines.
  static std::string Sound(const std::string& options, const std::string& more = "") {
    return "tone T 48000 1 100 880\n" + more + "sound S T Effects" + options +
           "\naction Play_S_Act 0x0403 S bank LevelsBank\nevent Play_S Play_S_Act\n";
  }
  // S posted on the object and heard to its end.
  std::array<std::vector<double>, 2> PlayS(uint32_t frames = 8) {
    EXPECT_NE(SoundEngine::PostEvent("Play_S", kObject), 0u);
    Frames(frames);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
  }
  // A quiet steady level (0.05, a DC tone) under a sound of +20 dB whose curves give it `curveDb` more
  // volume and -10 dB of second volume, played 2D, or `placed` 10 m ahead under an attenuation of
  // -10 dB at every distance on a game object whose output-bus volume is +10 dB. Its whole level is
  // `curveDb` + 10 dB either way, held to +24 dB: each captured sample from the second frame on against
  // that level, within the engine's fast conversions (three of them, each good to 0.2 %).
  void ExpectWholeLevel(float curveDb, bool placed, double heardDb) {
    const std::string curve = std::to_string(curveDb);
    std::string text = "tone T 48000 1 100 0.05 dc\n";
    if (placed)
      text += "attenuation Low\nattuse Low 0 0\nattcurve Low 0 0\nattpoint Low 0 0 -10 4\nattpoint Low 0 100 -10 4\n";
    text += std::string("sound S T Effects volume 20") + (placed ? " 3d Low" : "") + "\n" +
            "rtpc S volume Loudness 0:" + curve + " 100:" + curve + "\n" +
            "rtpc S 36 Loudness 0:-10 100:-10\n"
            "action Play_S_Act 0x0403 S bank LevelsBank\nevent Play_S Play_S_Act\n";
    LoadWith(text);
    EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
    if (placed) {
      ASSERT_EQ(SoundEngine::SetGameObjectOutputBusVolume(kObject, float(std::pow(10.0, 10.0 / 20.0))), SN_Success);
      const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
      ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
    }
    const auto planes = PlayS(6);
    const double level = 0.05 * kCentreToPair * std::pow(10.0, heardDb / 20.0) * 32768.0;
    ASSERT_GE(planes[0].size(), 4u * kFrame);
    for (int c = 0; c < 2; ++c)
      for (size_t t = kFrame; t < 4 * kFrame; ++t)
        ASSERT_NEAR(planes[c][t], level, 0.006 * level) << "channel " << c << " sample " << t;
  }
};

// The sound's volume of +24 dB and a curve holding its second volume (property 36) at +24 dB: each
// within the levels, together +48 dB. The voice is heard at +24 dB.
TEST_F(VoiceLevelsTest, AVoicesVolumeAndSecondVolumeTogetherAreHeldToPlus24dB) {
  const std::vector<double> tone = LoadWith(Sound(" volume 24") + "rtpc S 36 Loudness 0:24 100:24\n");
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
  ExpectModel(PlayS(), 0, [&](size_t t) { return HeardOverVoice(At(tone, t), kFastPlus24dBByHand / kFastUnity); }, 2.0);
}

// A placed voice 10 m ahead whose attenuation holds it at +24 dB at every distance, on a game object
// whose output-bus volume is +24 dB: +48 dB multiplied along its ray, and its second volume of +24 dB
// on its connections besides. Heard at +24 dB from its second frame on, centred on the front pair.
TEST_F(VoiceLevelsTest, APlacedVoicesAttenuationOutputBusAndSecondVolumeTogetherAreHeldToPlus24dB) {
  const std::vector<double> tone = LoadWith(Sound(" 3d Loud",
                                                  "attenuation Loud\nattuse Loud 0 0\nattcurve Loud 0 0\n"
                                                  "attpoint Loud 0 0 24 4\nattpoint Loud 0 100 24 4\n") +
                                            "rtpc S 36 Loudness 0:24 100:24\n");
  ASSERT_EQ(SoundEngine::SetGameObjectOutputBusVolume(kObject, 15.848932f), SN_Success);
  const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  // The ray's whole product (its environment curves' unity, attenuation, output-bus volume and volume)
  // is held: the voice is heard as the 2D voice held to +24 dB is.
  ExpectModel(PlayS(), kFrame, [&](size_t t) { return HeardOverVoice(At(tone, t + kFrame), kFastPlus24dBByHand / kFastUnity); }, 2.0);
}

// +20 dB, +13.9 dB and -10 dB: a whole +23.9 dB, heard as it is. The volume alone (+33.9 dB) was held
// to +24 dB before the second volume lowered it: the voice was heard at +14 dB.
TEST_F(VoiceLevelsTest, AVoiceWholeLevelJustUnderPlus24dBIsHeardAsItIs) { ExpectWholeLevel(13.9f, false, 23.9); }

// A whole +25 dB is heard at +24 dB.
TEST_F(VoiceLevelsTest, AVoiceWholeLevelOverPlus24dBIsHeldToIt) { ExpectWholeLevel(15.0f, false, 24.0); }

// Placed, -10 dB of attenuation and +10 dB of output-bus volume join the whole: +23.9 dB heard as it
// is, where the volume held alone left +14 dB.
TEST_F(VoiceLevelsTest, APlacedVoiceWholeLevelJustUnderPlus24dBIsHeardAsItIs) {
  ExpectWholeLevel(13.9f, true, 23.9);
}

TEST_F(VoiceLevelsTest, APlacedVoiceWholeLevelOverPlus24dBIsHeldToIt) { ExpectWholeLevel(15.0f, true, 24.0); }

// A curve of the sound's priority with a point at 3e38 (the builder refuses it): held to 100 as the
// bank loads, so the voice's priority is 100, not a float that no count can hold.
TEST_F(VoiceLevelsTest, APriorityCurveFarPastItsRangeIsHeldToItAsItLoads) {
  LoadWith(Sound("", "") + "rtpc S 8 Urgency 0:50 100:23.4567\n", 3e38f);
  EXPECT_NE(log_.Take().find("on property 8: points outside 0 to 100 are held to it"), std::string::npos);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Urgency", 100.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_S", kObject), 0u);
  Frames(2);
  const CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->Priority(), 100.0f);
}

// A sound's own pitch that is not a number silenced its voice without a word: loaded, it is the
// default 0 cents with a logged error, and the tone is heard as it is.
TEST_F(VoiceLevelsTest, ASoundsPitchThatIsNotANumberIsLoggedAndHeardAsNoPitch) {
  const std::vector<double> tone = LoadWith(Sound(" pitch 23.4567"), std::numeric_limits<float>::quiet_NaN());
  const std::string id = std::to_string(SoundEngine::GetIDFromString("S"));
  EXPECT_NE(log_.Take().find("Node " + id + ": property 2 of nan is outside -2400 to 2400; 0 is used"),
            std::string::npos);
  ExpectModel(PlayS(), 0, [&](size_t t) { return HeardOverVoice(At(tone, t), 1.0); });
}

// A pitch curve at a million cents read the media a full resampling step at a time, 256 samples a
// sample: the voice was gone in a frame. Held to two octaves as it loads, the voice reads media sample
// 4n at its sample n, within the resampler's interpolation.
TEST_F(VoiceLevelsTest, APitchCurveFarPastItsRangeIsHeldToTwoOctaves) {
  const std::vector<double> tone = LoadWith(Sound("") + "rtpc S pitch Bend 0:1e6 100:1e6\n");
  EXPECT_NE(log_.Take().find("on property 2: points outside -2400 to 2400 are held to it"), std::string::npos);
  const auto planes = PlayS(4);
  for (int c = 0; c < 2; ++c)
    for (size_t n = 0; n < tone.size() / 4; ++n) {
      const double expected = HeardOverVoice(tone[4 * n], 1.0) * 32768.0;
      ASSERT_NEAR(planes[c][n], expected, std::fabs(expected) * 0.0025 + 1.0) << "channel " << c << " sample " << n;
    }
}

// A child's low-pass of -1 under a mixer's 30 filters as one sound's 29: the bank's -1 is kept, and
// only the path's sum meets the voice's 0 to 100. Under a mixer's 0 the sum of -1 is no filter at all.
TEST_F(VoiceLevelsTest, AChildsNegativeFilterValueLowersItsParentsAndOnlyTheSumIsClamped) {
  const std::vector<double> tone = LoadWith(
      "tone T 48000 1 100 880\n"
      "sound Child T Effects lowpass -1\nmixer Parent - Child lowpass 30\n"
      "sound Alone T Effects lowpass 29\n"
      "sound Clear T Effects lowpass -1\nmixer Open - Clear lowpass 0\n"
      "action Play_Child_Act 0x0403 Child bank LevelsBank\nevent Play_Child Play_Child_Act\n"
      "action Play_Alone_Act 0x0403 Alone bank LevelsBank\nevent Play_Alone Play_Alone_Act\n"
      "action Play_Clear_Act 0x0403 Clear bank LevelsBank\nevent Play_Clear Play_Clear_Act\n");
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
  for (const char* event : {"Play_Child", "Play_Alone", "Play_Clear"}) {
    ASSERT_NE(SoundEngine::PostEvent(event, kObject), 0u);
    Frames(8);
  }
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 24u * kFrame);
  double filtered = 0.0;
  for (int c = 0; c < 2; ++c)
    for (size_t t = 0; t < 8 * kFrame; ++t) {
      ASSERT_EQ(planes[c][t], planes[c][8 * kFrame + t]) << "channel " << c << " sample " << t;
      filtered = std::max(filtered, std::fabs(planes[c][t] - HeardOverVoice(At(tone, t), 1.0) * 32768.0));
    }
  EXPECT_GT(filtered, 100.0) << "a low-pass of 29 is heard";
  ExpectModel(planes, 16 * kFrame, [&](size_t t) { return HeardOverVoice(At(tone, t), 1.0); });
}

}  // namespace
