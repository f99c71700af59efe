// Modulators on a sound's volume as its voices hear them, from banks written by the bank tool: a
// fast LFO scales the voice sample by sample, a curve of several points maps the LFO as the bank
// draws it, one of two points as a line in gain, and a looping sound stops when the envelope that
// shapes it has ended.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// A triangle LFO of `hertz`, depth 0.5, no fade-in, from a quarter period (its default phase): its
// value after `samples` samples of its life.
double Triangle(double hertz, int64_t samples) {
  const double phase = std::fmod(0.25 + double(samples) * hertz / 48000.0, 1.0);
  return 0.5 * (phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase));
}

// The curve "0:0 0.25:-12 0.5:-3" (linear in decibels between its points) as a gain.
double DipGain(double value) {
  const double dB = value <= 0.25 ? -48.0 * value : -12.0 + (value - 0.25) * 36.0;
  return std::pow(10.0, dB / 20.0);
}

// A gain's curve of two points, from `fromDb` at value `from` to `toDb` at `to`, as the voice reads
// it: a straight line in gain between its points, held past them.
double LineGain(double value, double from, double fromDb, double to, double toDb) {
  const double share = std::clamp((value - from) / (to - from), 0.0, 1.0);
  const double low = std::pow(10.0, fromDb / 20.0), high = std::pow(10.0, toDb / 20.0);
  return low + (high - low) * share;
}
// The curve "0:0 1:-48".
double SteepLineGain(double value) { return LineGain(value, 0.0, 0.0, 1.0, -48.0); }

class ModulatedVoiceTest : public SoundEndToEndTest {
 protected:
  // The bank's tone `Steady` under an LFO of `hertz` mapped onto its volume through `curve`, played
  // for 12 frames from the capture's first sample: the capture.
  std::array<std::vector<double>, 2> PlayUnderLfo(double hertz, const std::string& curve) {
    LoadOwnBank("tone Steady 48000 1 200 440\r\n"
                "sound Steady Steady Effects\r\n"
                "modulator lfo Tremolo 0=0 2=50 3=0 4=" + std::to_string(hertz) + " 5=1\r\n"
                "rtpc Steady volume modulator Tremolo " + curve + "\r\n"
                "action Play_Steady_Act 0x0403 Steady bank TimingBank\r\n"
                "event Play_Steady Play_Steady_Act\r\n");
    EXPECT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
    Frames(12);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
  }
};

// 30 Hz is faster than a ramp a frame can follow (a quarter of the 46.9 frames a second): the LFO
// gives the voice a value a sample, and each sample of the tone is scaled by the curve at the LFO's
// value of that sample. The LFO, made with the voice, has run a frame when the voice first reads it,
// so voice sample t meets LFO sample t.
TEST_F(ModulatedVoiceTest, AThirtyHertzLfoScalesItsVoiceSampleBySample) {
  const auto planes = PlayUnderLfo(30.0, "0:0 0.25:-12 0.5:-3");
  const std::vector<double> tone = OwnMedia("Steady");
  ASSERT_GE(planes[0].size(), 12u * kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    return At(tone, t) * kVoiceUnity * kCentreToPair * DipGain(Triangle(30.0, int64_t(t) + 1));
  });
}

// The same LFO through a curve of two points: each sample is scaled by base + slope x its value.
TEST_F(ModulatedVoiceTest, AThirtyHertzLfoScalesItsVoiceSampleBySampleAlongALineInGain) {
  const auto planes = PlayUnderLfo(30.0, "0:0 1:-48");
  const std::vector<double> tone = OwnMedia("Steady");
  ASSERT_GE(planes[0].size(), 12u * kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    return At(tone, t) * kVoiceUnity * kCentreToPair * SteepLineGain(Triangle(30.0, int64_t(t) + 1));
  });
}

// At 2 Hz the LFO gives a value a frame and the voice ramps from the gain the last frame ended on to
// this frame's, its first frame taking its value throughout: `gain` of the LFO's value at each
// frame's end. Within a sample of the 16-bit output.
void ExpectFrameRateLfo(const std::array<std::vector<double>, 2>& planes, const std::vector<double>& tone,
                        double (*gain)(double value)) {
  ASSERT_GE(planes[0].size(), 12u * kFrame);
  auto gainAtEnd = [&](size_t voiceFrame) { return gain(Triangle(2.0, int64_t(voiceFrame + 1) * kFrame)); };
  SoundEndToEndTest::ExpectModel(planes, 0, [&](size_t t) {
    const size_t frame = t / kFrame;
    const double to = gainAtEnd(frame), from = frame == 0 ? to : gainAtEnd(frame - 1);
    return SoundEndToEndTest::At(tone, t) * kVoiceUnity * kCentreToPair *
           (from + (to - from) * double(t % kFrame) / double(kFrame));
  });
}

// The three-point curve dips in its middle: drawn as a line through its ends it would leave the tone
// as it is.
TEST_F(ModulatedVoiceTest, ACurveOfThreePointsMapsAFrameRateLfoAsTheBankDrawsIt) {
  const auto planes = PlayUnderLfo(2.0, "0:0 0.25:-12 0.5:-3");
  ExpectFrameRateLfo(planes, OwnMedia("Steady"), DipGain);
}

// A gain's curve of two points is a straight line in gain between them: from 1 at value 0 to
// 10^(-48/20) at value 1, so that a value of 0.25 leaves three quarters of the tone (read as a line
// in decibels it would leave a quarter).
TEST_F(ModulatedVoiceTest, ATwoPointDecibelCurveIsALineInGain) {
  const auto planes = PlayUnderLfo(2.0, "0:0 1:-48");
  ExpectFrameRateLfo(planes, OwnMedia("Steady"), SteepLineGain);
}

// The line runs between the curve's own points, wherever they stand, and holds their gains past them:
// 1 up to value 0.25, 10^(-24/20) from 0.5.
TEST_F(ModulatedVoiceTest, ATwoPointDecibelCurveIsALineInGainBetweenItsPoints) {
  const auto planes = PlayUnderLfo(2.0, "0.25:0 0.5:-24");
  ExpectFrameRateLfo(planes, OwnMedia("Steady"), [](double value) { return LineGain(value, 0.25, 0.0, 0.5, -24.0); });
}

// An LFO held high whose depth a second one drives: the driver, held high at full depth, is made
// with the voice and sets the driven LFO's depth to 50 percent through the curve of its parameter 42,
// so the voice settles half way along the line in gain of the curve on its volume (0 to -12 dB). The
// driven LFO reads the driver at its making, before the driver's first frame (0, a depth of 0), and
// hears of the driver's frames at the end of each: its value is 0 in the voice's first frame and 0.5
// from the second on, which ramps from the one to the other.
TEST_F(ModulatedVoiceTest, AModulatorDrivenByAnotherFollowsItsDriver) {
  LoadOwnBank("tone Steady 48000 1 200 440\r\n"
              "sound Steady Steady Effects\r\n"
              "modulator lfo Driver 2=100 3=0 4=0 5=2 7=50\r\n"
              "modulator lfo Driven 2=0 3=0 4=0 5=2 7=50\r\n"
              "rtpc Driven 42 modulator Driver 0:0 1:50\r\n"
              "rtpc Steady volume modulator Driven 0:0 1:-12\r\n"
              "action Play_Steady_Act 0x0403 Steady bank TimingBank\r\n"
              "event Play_Steady Play_Steady_Act\r\n");
  EXPECT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(1);
  const CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->Modulators().InstanceCount(), 2u) << "the driver joins the voice with what it drives";
  Frames(11);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("Steady");
  ASSERT_GE(planes[0].size(), 12u * kFrame);
  const double first = LineGain(0.0, 0.0, 0.0, 1.0, -12.0), settled = LineGain(0.5, 0.0, 0.0, 1.0, -12.0);
  ExpectModel(planes, 0, [&](size_t t) {
    const size_t frame = t / kFrame;
    const double gain = frame == 0   ? first
                        : frame == 1 ? first + (settled - first) * double(t % kFrame) / double(kFrame)
                                     : settled;
    return At(tone, t) * kVoiceUnity * kCentreToPair * gain;
  });
}

// Two looping drones, each shaped by an envelope that ends 2880 samples into its life (attack, decay,
// sustain and release of 480, 480, 960 and 960 samples) and stops what it drives: one per voice, one
// per play of the sound. Each voice is heard while its envelope holds and then gives its place back.
TEST_F(ModulatedVoiceTest, AFinishedEnvelopeStopsTheLoopingSoundItShapes) {
  LoadOwnBank("tone Drone 48000 1 100 330\r\n"
              "sound VoiceDrone Drone Effects loop 0\r\n"
              "sound PlayDrone Drone Effects loop 0\r\n"
              "modulator envelope VoiceSwell 0=0 9=0.01 11=0.01 12=100 13=0.02 14=0.02\r\n"
              "modulator envelope PlaySwell 0=1 9=0.01 11=0.01 12=100 13=0.02 14=0.02\r\n"
              "rtpc VoiceDrone volume modulator VoiceSwell 0:-96 1:0\r\n"
              "rtpc PlayDrone volume modulator PlaySwell 0:-96 1:0\r\n"
              "action Play_VoiceDrone_Act 0x0403 VoiceDrone bank TimingBank\r\n"
              "action Play_PlayDrone_Act 0x0403 PlayDrone bank TimingBank\r\n"
              "event Play_VoiceDrone Play_VoiceDrone_Act\r\n"
              "event Play_PlayDrone Play_PlayDrone_Act\r\n");
  for (const char* event : {"Play_VoiceDrone", "Play_PlayDrone"}) {
    ASSERT_NE(SoundEngine::PostEvent(event, kObject), 0u);
    Frames(2);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u) << event;
    Frames(6);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << event;
  }
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 16u * kFrame);
  const std::vector<double> peaks = FramePeaks(planes[0]);
  for (size_t play : {0u, 8u}) {
    EXPECT_GT(peaks[play + 1], 1000.0) << play;
    for (size_t frame = play + 3; frame < play + 8; ++frame) EXPECT_EQ(peaks[frame], 0.0) << frame;
  }
}

// An envelope of one voice ends that voice, not the play: the event plays the drone now and again
// 200 ms later (sample 9600), and the first voice's end leaves the second play waiting. Each voice is
// heard for the 2880 samples of its envelope, and nothing outside them.
TEST_F(ModulatedVoiceTest, AVoicesFinishedEnvelopeLeavesTheDelayedPlayOfItsSound) {
  LoadOwnBank("tone Drone 48000 1 100 330\r\n"
              "sound VoiceDrone Drone Effects loop 0\r\n"
              "modulator envelope VoiceSwell 0=0 9=0.01 11=0.01 12=100 13=0.02 14=0.02\r\n"
              "rtpc VoiceDrone volume modulator VoiceSwell 0:-96 1:0\r\n"
              "action Play_Drone_Now 0x0403 VoiceDrone bank TimingBank\r\n"
              "action Play_Drone_Later 0x0403 VoiceDrone bank TimingBank delay 200\r\n"
              "event Play_Drone_Twice Play_Drone_Now Play_Drone_Later\r\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_Drone_Twice", kObject), 0u);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  Frames(4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 16u * kFrame);
  for (size_t start : {size_t(0), size_t(9600)}) {
    double loudest = 0.0;
    for (size_t i = start; i < start + 2880; ++i) loudest = std::max(loudest, std::fabs(planes[0][i]));
    EXPECT_GT(loudest, 1000.0) << start;
  }
  for (size_t i = 2880; i < planes[0].size(); ++i) {
    const bool secondVoice = i >= 9600 && i < 9600 + 2880;
    ASSERT_TRUE(secondVoice || planes[0][i] == 0.0) << i;
  }
}

}  // namespace
