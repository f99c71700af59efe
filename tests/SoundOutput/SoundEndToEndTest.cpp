// The whole chain heard: the game's banks as the build writes them, the engine on the null output,
// frames rendered on the test's thread, events posted by name, and the output capture read back by a
// reader of the test's own against a double-precision model of the tone, its gains and its pan.
#include <initializer_list>
#include <memory>
#include <numbers>

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// A suite (and a CTest entry) for each side of the chain: sounds and their containers (the fixture's
// own), placement, what shapes a voice on its way out, MIDI notes, and media whose bank goes. Some of
// the cases are outside the file's anonymous namespace: the suites' fixtures are not in it either.
namespace EndToEnd {
class PlacedSoundEndToEndTest : public SoundEndToEndTest {};
class VoiceShapingEndToEndTest : public SoundEndToEndTest {};
class MidiNoteEndToEndTest : public SoundEndToEndTest {};
class BankMediaEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// The beep's media, centred on the front pair at -3 dB, from the first sample of the frame it was
// posted in, then silence once it ended; the voice and the play are gone after it.
TEST_F(SoundEndToEndTest, ABeepIsHeardSampleForSampleFromTheFrameItWasPostedIn) {
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(8);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 10u * kFrame);
  const std::vector<double> beep = Media("Beep");
  ASSERT_EQ(beep.size(), 4800u);
  // Silence before the post.
  for (size_t i = 0; i < 2 * kFrame; ++i) ASSERT_EQ(planes[0][i], 0.0) << i;
  ExpectModel(planes, 2 * kFrame, [&](size_t t) { return At(beep, t) * kVoiceUnity * kCentreToPair; });
}

// The gained beep's sound names the game bank's shared definition of the built-in gain, 6 dB down:
// its voice makes the insert effect from it, and every sample is the beep's times that gain.
TEST_F(SoundEndToEndTest, ASoundsEffectDefinitionBecomesItsVoicesInsertEffect) {
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Gained_Beep", kObject), 0u);
  Frames(8);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 9u * kFrame);
  const std::vector<double> beep = Media("Beep");
  const double gain = std::pow(10.0, -6.0 / 20.0);
  for (size_t i = 0; i < kFrame; ++i) ASSERT_EQ(planes[0][i], 0.0) << i;
  ExpectModel(planes, kFrame, [&](size_t t) { return At(beep, t) * gain * kVoiceUnity * kCentreToPair; });
  // Not the plain beep: the loudest sample is 6 dB below it, far more than the 1 LSB of room.
  const double peak = *std::max_element(planes[0].begin(), planes[0].end());
  EXPECT_LT(peak, 0.6 * 32768.0 * kVoiceUnity * kCentreToPair);
}

// A continuous sequence with a 20 ms delay between its items, each exactly three frames long: the
// second item is heard 960 samples after the first ends, then nothing follows the last.
TEST_F(SoundEndToEndTest, AContinuousSequenceHandsOnFromItemToItemAfterItsDelay) {
  const auto planes = PlaySequence("transition 3 20", 12);
  ASSERT_GE(planes[0].size(), 13u * kFrame);
  const std::vector<double> first = OwnMedia("SeqA"), second = OwnMedia("SeqB");
  ASSERT_EQ(first.size(), 3u * kFrame);
  const size_t secondAt = kFrame + first.size() + 960;
  ExpectModel(planes, 0, [&](size_t t) {
    const double a = t >= kFrame ? At(first, t - kFrame) : 0.0;
    const double b = t >= secondAt ? At(second, t - secondAt) : 0.0;
    return (a + b) * kVoiceUnity * kCentreToPair;
  });
}

// Sample accurate and looped twice, items of whole frames: they follow one another without a gap,
// A B A B, then the performance ends.
TEST_F(SoundEndToEndTest, ASampleAccurateSequenceLoopsItsItemsBackToBack) {
  const auto planes = PlaySequence("loop 2 transition 4 0", 14);
  ASSERT_GE(planes[0].size(), 15u * kFrame);
  const std::vector<double> first = OwnMedia("SeqA"), second = OwnMedia("SeqB");
  ASSERT_EQ(first.size(), 3 * kFrame);
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < kFrame || t >= kFrame + 4 * first.size()) return 0.0;
    const size_t item = (t - kFrame) / first.size(), at = (t - kFrame) % first.size();
    return (item % 2 ? second[at] : first[at]) * kVoiceUnity * kCentreToPair;
  });
}

// The tone of each post, told by Goertzel power at the three tones' pitches over the frames after it.
std::vector<int> TonesOfPosts(const std::vector<double>& plane, size_t first, size_t spacing, size_t posts) {
  const double pitches[3] = {880.0, 220.0, 110.0};  // Beep, Chord, Hum
  std::vector<int> tones;
  for (size_t p = 0; p < posts; ++p) {
    int loudest = -1;
    double best = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double w = 2.0 * std::numbers::pi * pitches[k] / 48000.0;
      double s1 = 0.0, s2 = 0.0;
      for (size_t i = first + p * spacing; i < first + p * spacing + 4096 && i < plane.size(); ++i) {
        const double s0 = plane[i] + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      const double power = s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
      if (power > best) best = power, loudest = k;
    }
    tones.push_back(loudest);
  }
  return tones;
}

// The weighted random container of the game bank (beep 1, chord 1, hum 2, never the same twice
// running) posted eight times after a seed: the tones heard follow a model of its draws made here
// from the engine's generator formula.
TEST_F(SoundEndToEndTest, TheRandomContainerPlaysTheSeededDrawsOfItsWeights) {
  constexpr uint32_t kSeed = 4242;
  constexpr size_t kPosts = 8, kSpacing = 16 * kFrame;
  Base::SeedRand15(kSeed);
  for (size_t p = 0; p < kPosts; ++p) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Picks", kObject), 0u);
    Frames(16);
  }
  const auto planes = Capture();

  uint32_t state = kSeed;
  auto rand15 = [&] {
    state = state * 214013u + 2531011u;
    return uint64_t((state >> 16) & 0x7FFF);
  };
  const uint64_t weights[3] = {1, 1, 2};
  int blocked = -1;  // avoid-repeat 1: the last pick
  std::vector<int> expected;
  for (size_t p = 0; p < kPosts; ++p) {
    uint64_t remaining = 4 - (blocked >= 0 ? weights[blocked] : 0);
    const uint64_t r = ((rand15() << 15) + rand15()) % remaining;
    int64_t sum = -1;
    int pick = 0;
    for (int i = 0; i < 3; ++i) {
      if (i == blocked) continue;
      sum += int64_t(weights[i]);
      if (sum >= int64_t(r)) {
        pick = i;
        break;
      }
    }
    expected.push_back(pick);
    blocked = pick;
  }
  EXPECT_EQ(TonesOfPosts(planes[0], 0, kSpacing, kPosts), expected);
}

// The ping-pong sequence of the game bank stepped seven times: beep, chord, hum, chord, beep, ...
TEST_F(SoundEndToEndTest, ThePingPongSequenceStepsForthAndBack) {
  constexpr size_t kPosts = 7, kSpacing = 16 * kFrame;
  for (size_t p = 0; p < kPosts; ++p) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Steps", kObject), 0u);
    Frames(16);
  }
  const auto planes = Capture();
  EXPECT_EQ(TonesOfPosts(planes[0], 0, kSpacing, kPosts), (std::vector<int>{0, 1, 2, 1, 0, 1, 2}));
}

// The game bank's distance layers at 25 of their 0..100 crossfade: the near beep at 0.75 of its
// level and the far hum at 0.25, each found by least squares against its media within 1e-3.
TEST_F(SoundEndToEndTest, TheDistanceLayersCrossfadeByTheirCurves) {
  ASSERT_EQ(SoundEngine::SetRTPCValue("ListenerDistance", 25.0f, kObject), SN_Success);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Distance", kObject), 0u);
  Frames(8);
  const auto planes = Capture();
  const std::vector<double> beep = Media("Beep"), hum = Media("Hum");
  // Over the beep's length both tones sound: solve the 2x2 normal equations for their gains.
  double bb = 0, hh = 0, bh = 0, bc = 0, hc = 0;
  for (size_t t = 0; t < beep.size(); ++t) {
    const double b = beep[t], h = At(hum, t), c = planes[0][kFrame + t] / 32768.0;
    bb += b * b, hh += h * h, bh += b * h, bc += b * c, hc += h * c;
  }
  const double det = bb * hh - bh * bh;
  ASSERT_GT(det, 0.0);
  const double unit = kVoiceUnity * kCentreToPair;
  EXPECT_NEAR((bc * hh - hc * bh) / det / unit, 0.75, 1e-3);
  EXPECT_NEAR((hc * bb - bc * bh) / det / unit, 0.25, 1e-3);
}

// Plays delayed off the frame grid: 10 ms comes due 480 samples into the frame it was posted in,
// 30 ms 416 samples into the frame after; each beep is heard from that sample, silence before it.
TEST_F(SoundEndToEndTest, ADelayedBeepIsHeardFromTheSampleItCameDue) {
  LoadOwnBank(
      "action Soon_Beep_Act  0x0403 Beep delay 10 bank GeneralBank\r\n"
      "action Later_Beep_Act 0x0403 Beep delay 30 bank GeneralBank\r\n"
      "event Play_SoonBeep  Soon_Beep_Act\r\n"
      "event Play_LaterBeep Later_Beep_Act\r\n");
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_SoonBeep", kObject), 0u);
  Frames(7);
  ASSERT_NE(SoundEngine::PostEvent("Play_LaterBeep", kObject), 0u);
  Frames(8);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 16u * kFrame);
  const std::vector<double> beep = Media("Beep");
  auto from = [&](size_t t, size_t start) { return t < start ? 0.0 : At(beep, t - start); };
  const size_t soon = kFrame + 480, later = 9 * kFrame + 416;
  ExpectModel(planes, 0, [&](size_t t) { return (from(t, soon) + from(t, later)) * kVoiceUnity * kCentreToPair; });
}

// What the markers' callback heard: each marker with the frame it came in.
struct HeardMarker {
  uint32_t frame;
  uint32_t identifier;
  uint32_t position;
  std::string label;
};
std::vector<HeardMarker> g_heardMarkers;
uint32_t g_renderedFrames = 0;

void RecordMarker(uint32_t type, SnCallbackInfo* info) {
  if (type != SnCallback_Marker) return;
  const auto* marker = static_cast<SnMarkerCallbackInfo*>(info);
  g_heardMarkers.push_back({g_renderedFrames, marker->identifier, marker->position, marker->label ? marker->label : ""});
}

// The hum's markers at samples 0 and 6000 reach the play's callback in the frames that hold them (the
// first and the sixth of its play), with their labels; its play position follows the frames heard.
TEST_F(SoundEndToEndTest, AHumsMarkersAndPositionReachThePlayInTheirFrames) {
  g_heardMarkers.clear();
  g_renderedFrames = 0;
  const uint32_t id = SoundEngine::PostEvent("Play_Hum", kObject, SnCallback_Marker | SnCallback_EnableGetSourcePlayPosition,
                                             &RecordMarker, nullptr);
  ASSERT_NE(id, 0u);
  uint32_t positionMs = 0;
  for (; g_renderedFrames < 3; ++g_renderedFrames) Frames(1);
  ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, false), SN_Success);
  EXPECT_EQ(positionMs, 2u * kFrame * 1000 / 48000);  // the last frame heard began at sample 2048
  for (; g_renderedFrames < 14; ++g_renderedFrames) Frames(1);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  ASSERT_EQ(g_heardMarkers.size(), 2u);
  EXPECT_EQ(g_heardMarkers[0].frame, 0u);
  EXPECT_EQ(g_heardMarkers[0].identifier, 1u);
  EXPECT_EQ(g_heardMarkers[0].position, 0u);
  EXPECT_EQ(g_heardMarkers[0].label, "Start");
  EXPECT_EQ(g_heardMarkers[1].frame, 6000u / kFrame);
  EXPECT_EQ(g_heardMarkers[1].identifier, 2u);
  EXPECT_EQ(g_heardMarkers[1].position, 6000u);
  EXPECT_EQ(g_heardMarkers[1].label, "Middle");
  g_heardMarkers.clear();
}

// The placed beep 10 m away, 22.5 degrees to the right of a listener at the origin looking ahead,
// facing the listener (inside its cone): its attenuation's distance curve, -4 dB at 10 m, on top of
// the plain beep's gains, split by the tangent law between the front pair at their default 45
// degrees: sin(pi/8) left, sin(3 pi/8) right. From the frame after the post, once the gains that
// start the voice have ramped.
TEST_F(PlacedSoundEndToEndTest, APlacedBeepIsAttenuatedByItsCurveAndPannedByItsDirection) {
  const double angle = std::numbers::pi / 8.0;
  const float x = float(10.0 * std::sin(angle)), z = float(10.0 * std::cos(angle));
  const SnSoundPosition position{{x, 0.0f, z}, {-x / 10.0f, 0.0f, -z / 10.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Spot_Beep", kObject), 0u);
  Frames(8);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 8u * kFrame);
  const std::vector<double> beep = Media("Beep");
  // The curve's -4 dB through the engine's fast power of ten, by hand: 27866352 x -0.2 + 1065353216
  // rounds in float to 1059779968, exponent field 126 (a half), mantissa bits 2815360.
  const double m = 1.0 + 2815360.0 / 8388608.0;
  const double curve = 0.5 * ((0.32518977 * m + 0.020805772) * m + 0.65304345);
  EXPECT_NEAR(curve, std::pow(10.0, -4.0 / 20.0), 0.0023 * curve);
  const double gains[2] = {std::sin(angle), std::sin(3.0 * angle)};
  double ratioWorst = 0.0;
  for (size_t t = kFrame; t < beep.size(); ++t) {
    for (int c = 0; c < 2; ++c) {
      // A placed voice meets 0 dB once more than a plain one: its volume in its rays' gains.
      const double model = beep[t] * kVoiceUnity * kFastUnity * curve * gains[c] * 32768.0;
      ASSERT_NEAR(planes[c][t], model, 1.0) << "channel " << c << " sample " << t;
    }
    if (std::fabs(planes[1][t]) > 4096.0)
      ratioWorst = std::max(ratioWorst, std::fabs(planes[0][t] / planes[1][t] - std::tan(angle)));
  }
  // Against 4096 or more, 1 LSB either side moves the ratio by under 3e-4.
  EXPECT_LT(ratioWorst, 3e-4);
  // Silence once it ended.
  for (size_t t = 6 * kFrame; t < planes[0].size(); ++t) ASSERT_EQ(planes[0][t], 0.0) << t;
}


// The tune on its path, 10 m ahead: from the left front to the right front over 20 frames (420 ms at
// 21 ms a frame), back to straight ahead over 20 more, then held there. Each frame's pan comes from
// the path's position in that frame, t = steps since the segment began / 20, as an angle in 512ths
// of a circle between the front pair at their default 45 degrees (sin(45 - a) left, sin(45 + a)
// right), ramped across the frame from the frame before's; every sample against that model.
TEST_F(PlacedSoundEndToEndTest, APathSoundsPanFollowsItsVertices) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Path_Tune", kObject), 0u);
  Frames(50);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);  // two passes of the tune: 46.9 frames
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 50u * kFrame);
  const std::vector<double> tune = Media("Drone");
  ASSERT_EQ(tune.size(), 24000u);
  // The position's x in frame k, worked in float as the path steps it: begin + delta x t.
  auto x = [](size_t k) {
    if (k <= 20) return -10.0f + 20.0f * (float(k) * (1.0f / 20.0f));
    if (k <= 40) return 10.0f + -10.0f * (float(k - 20) * (1.0f / 20.0f));
    return 0.0f;
  };
  // The path steps once in the frame it begins: frame k hears step k + 1.
  auto gains = [&](size_t k, int channel) {
    const double units = std::atan2(double(x(k + 1)), 10.0) * 512.0 / (2.0 * std::numbers::pi);
    // Rounded to whole units: no position of the path lies near a half.
    EXPECT_GT(std::fabs(units - std::floor(units) - 0.5), 0.01) << k;
    const double a = std::floor(units + 0.5) * 2.0 * std::numbers::pi / 512.0;
    return channel == 0 ? std::sin(std::numbers::pi / 4.0 - a) : std::sin(std::numbers::pi / 4.0 + a);
  };
  for (int c = 0; c < 2; ++c)
    for (size_t t = kFrame; t < 48000; ++t) {
      const size_t k = t / kFrame;
      const double from = gains(k - 1, c), to = gains(k, c);
      const double pan = from + (to - from) * double(t % kFrame) / double(kFrame);
      const double model = tune[t % 24000] * kVoiceUnity * pan * 32768.0;
      ASSERT_NEAR(planes[c][t], model, 1.0) << "channel " << c << " sample " << t;
    }
  for (size_t t = 48000 + kFrame; t < planes[0].size(); ++t) ASSERT_EQ(planes[0][t], 0.0) << t;
}

// Sounds of the test's own placed by an attenuation of a flat 0 dB distance curve and a cone: full
// inside 90 degrees, 12 dB down outside 240, no filter of its own. A beep and a second of noise.
constexpr const char* kConeBank =
    "platform Linux\r\n"
    "tone Cone_Tone 48000 1 100 880\r\n"
    "tone Hiss 48000 1 1000 0 noise\r\n"
    "attenuation ConeOnly cone 90 240 -12 0 0\r\n"
    "attuse ConeOnly 0 0\r\n"
    "attcurve ConeOnly 0 0\r\n"
    "attpoint ConeOnly 0 0 0 4\r\n"
    "attpoint ConeOnly 0 100 0 4\r\n"
    "sound Cone_Beep Cone_Tone Effects 3d ConeOnly\r\n"
    "sound Hiss_Spot Hiss Effects 3d ConeOnly\r\n"
    "action Play_Cone_Beep_Act 0x0403 Cone_Beep\r\n"
    "action Play_Hiss_Act 0x0403 Hiss_Spot\r\n"
    "event Play_Cone_Beep Play_Cone_Beep_Act\r\n"
    "event Play_Hiss Play_Hiss_Act\r\n";

// The beep 10 m ahead three times: facing the listener, turned 82.5 degrees away (half way between
// the cone's half-angles of 45 and 120: half the outside volume) and turned away (past 120: all of
// it). Centred between the front pair; every sample against the fast conversion of its cone's dB.
TEST_F(PlacedSoundEndToEndTest, AConesOutsideVolumeLowersAnEmitterTurnedAway) {
  LoadOwnBank(kConeBank);
  const std::vector<double> beep = Media("Cone_Tone");
  ASSERT_EQ(beep.size(), 4800u);
  const double turns[3] = {0.0, 82.5, 180.0};
  for (double degrees : turns) {
    const double away = degrees * std::numbers::pi / 180.0;
    const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {float(std::sin(away)), 0.0f, -float(std::cos(away))}};
    ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
    ASSERT_NE(SoundEngine::PostEvent("Play_Cone_Beep", kObject), 0u);
    Frames(6);
  }
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 18u * kFrame);
  const float coneDb[3] = {0.0f, -6.0f, -12.0f};
  for (int play = 0; play < 3; ++play) {
    // The flat curve's 0 dB and the cone's dB, each through the fast conversion.
    const double gain = kVoiceUnity * kFastUnity * FastDb(coneDb[play]) * kCentreToPair;
    const size_t start = size_t(play) * 6 * kFrame;
    for (int c = 0; c < 2; ++c)
      for (size_t t = kFrame; t < 6 * kFrame; ++t)
        ASSERT_NEAR(planes[c][start + t], At(beep, t) * gain * 32768.0, 1.0)
            << "play " << play << " channel " << c << " sample " << t;
  }
  EXPECT_NEAR(FastDb(-12.0f), std::pow(10.0, -12.0 / 20.0), 0.0025);
}

// Energy of a block of `plane` in a band of frequencies, by a plain DFT under a Hann window.
double BandEnergy(const std::vector<double>& plane, size_t from, double lowHz, double highHz) {
  constexpr size_t kBlock = 2048;
  std::vector<double> cosines(kBlock), sines(kBlock), x(kBlock);
  for (size_t n = 0; n < kBlock; ++n) {
    cosines[n] = std::cos(2.0 * std::numbers::pi * double(n) / kBlock);
    sines[n] = std::sin(2.0 * std::numbers::pi * double(n) / kBlock);
    x[n] = plane[from + n] * (0.5 - 0.5 * cosines[n]);
  }
  double energy = 0.0;
  for (size_t k = size_t(lowHz * kBlock / 48000.0); k <= size_t(highHz * kBlock / 48000.0) && k < kBlock / 2; ++k) {
    double re = 0.0, im = 0.0;
    for (size_t n = 0; n < kBlock; ++n) {
      re += x[n] * cosines[(k * n) % kBlock];
      im -= x[n] * sines[(k * n) % kBlock];
    }
    energy += re * re + im * im;
  }
  return energy;
}

// The noise 5 m ahead, then again behind full obstruction (SetObjectObstructionAndOcclusion 1.0 on
// listener 0): Init's obstruction curves take 12 dB off its volume (a gain of 1 - 0.7488) and
// low-pass it. The same stretch of the noise in both plays: below 500 Hz, where the filter passes
// all, the level falls by that gain (within 1 percent); above 5 kHz the energy is more than 20 dB down.
TEST_F(PlacedSoundEndToEndTest, ObstructionLowersAndDarkensAPlacedSound) {
  LoadOwnBank(kConeBank);
  const SnSoundPosition position{{0.0f, 0.0f, 5.0f}, {0.0f, 0.0f, -1.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Hiss", kObject), 0u);
  Frames(48);
  ASSERT_EQ(SoundEngine::SetObjectObstructionAndOcclusion(kObject, 0, 1.0f, 0.0f), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Hiss", kObject), 0u);
  Frames(48);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 96u * kFrame);
  // From the third frame of each play: the voice's gains and filter have settled.
  const size_t open = 2 * kFrame, blocked = 50 * kFrame;
  const double lowOpen = BandEnergy(planes[0], open, 20.0, 500.0);
  const double lowBlocked = BandEnergy(planes[0], blocked, 20.0, 500.0);
  ASSERT_GT(lowOpen, 0.0);
  EXPECT_NEAR(std::sqrt(lowBlocked / lowOpen), 1.0 - 0.7488, 0.01 * (1.0 - 0.7488));
  const double highOpen = BandEnergy(planes[0], open, 5000.0, 24000.0);
  const double highBlocked = BandEnergy(planes[0], blocked, 5000.0, 24000.0);
  EXPECT_LT(10.0 * std::log10(highBlocked / highOpen), -20.0);
  ASSERT_EQ(SoundEngine::SetObjectObstructionAndOcclusion(kObject, 0, 0.0f, 0.0f), SN_Success);
}

// The game bank's volume triangle (2 Hz, depth 0.5 faded in over a second, from a quarter period) on a beep's
// volume as 1 - value: each frame's gain steps from the last frame's factor to this frame's, the
// modulators having run first, against a model of the triangle of the test's own.
TEST_F(VoiceShapingEndToEndTest, AVolumeLfoShapesTheBeepFrameByFrame) {
  struct VolumeCurve final : ISnModulatorMappingOwner {
    void AppendModulatorMappings(uint32_t, const SnParamMask& filter, SnArray<SnModulatorMapping>& mappings) override {
      if (filter.Has(kVoiceVolumeParameter)) mappings.Add({1.0f, -1.0f, kVoiceVolumeParameter});
    }
  } curve;
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(1);
  CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  ASSERT_NE(AttachToVoice(voice, "VolumeLfo",
                          {&curve, SnModulatorMapping_Node, SnParamMask::Of(kVoiceVolumeParameter)}),
            nullptr);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> beep = Media("Beep");
  auto factor = [](size_t frame) {
    if (frame == 0) return 1.0;
    const double phase = std::fmod(0.25 + double(frame * kFrame) * 2.0 / 48000.0, 1.0);
    const double triangle = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
    // Its depth fades in over the default second.
    const double depth = 0.5 * std::min(double(frame * kFrame), 48000.0) / 48000.0;
    return 1.0 - depth * triangle;
  };
  ExpectModel(planes, 0, [&](size_t t) {
    const size_t frame = t / kFrame;
    const double from = factor(frame == 0 ? 0 : frame - 1), to = factor(frame);
    const double gain = from + (to - from) * double(t % kFrame) / double(kFrame);
    return At(beep, t) * kVoiceUnity * kCentreToPair * gain;
  });
}

// A held envelope on a playing beep begins its release only when the voice is told to release its
// modulators; a voice with nothing attached only notes it.
TEST_F(VoiceShapingEndToEndTest, ReleasingAVoicesModulatorsReleasesItsHeldEnvelope) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(1);
  CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  SnInstanceActionRecord release;
  release.code = SnInstanceAction_ReleaseModulators;
  voice->ExecuteActionOnInstance(release);
  EXPECT_EQ(voice->Modulators().StateWord(), 0);
  CSnModulatorInstance* instance = AttachToVoice(voice, "PitchEnvelope", {});
  ASSERT_NE(instance, nullptr);
  Frames(2);
  EXPECT_EQ(instance->ReleaseStart(), kModulatorNever);
  voice->ExecuteActionOnInstance(release);
  EXPECT_EQ(instance->State(), uint32_t(SnModulatorState_Releasing));
  EXPECT_EQ(instance->ReleaseStart(), 2 * kFrame);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}
}  // namespace

// A paused beep is silent from the frame the pause came in and goes on, once resumed, from the sample
// where it stopped.
TEST_F(VoiceShapingEndToEndTest, APausedBeepIsSilentAndGoesOnWhereItStopped) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(1);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Beep", SnActionOnEvent_Pause, kObject), SN_Success);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Beep", SnActionOnEvent_Resume, kObject), SN_Success);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 10u * kFrame);
  const std::vector<double> beep = Media("Beep");
  auto heard = [&](size_t t) { return At(beep, t) * kVoiceUnity * kCentreToPair; };
  ExpectModel(planes, 0, [&](size_t t) { return t < kFrame ? heard(t) : t < 4 * kFrame ? 0.0 : heard(t - 3 * kFrame); });
}

// The hum fades in, sounds while it plays, and a stop that fades out over 100 ms ends in silence:
// nothing after the fade, the voice and the play gone.
TEST_F(VoiceShapingEndToEndTest, AHumStoppedWithAFadeEndsInSilence) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Hum", kObject), 0u);
  Frames(3);
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  ASSERT_NE(SoundEngine::PostEvent("Stop_Hum", kObject), 0u);
  Frames(1);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);  // still fading out
  Frames(6);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 10u * kFrame);
  double loudest = 0.0;
  for (size_t i = kFrame; i < 3 * kFrame; ++i) loudest = std::max(loudest, std::fabs(planes[0][i]));
  EXPECT_GT(loudest, 1000.0);
  // 100 ms is 4800 samples, under five frames from the frame of the stop.
  for (size_t i = 8 * kFrame; i < planes[0].size(); ++i) ASSERT_EQ(planes[0][i], 0.0) << i;
  // Fading out: the frame after the stop is quieter at its end than at its start.
  double head = 0.0, tail = 0.0;
  for (size_t i = 4 * kFrame; i < 4 * kFrame + 256; ++i) head = std::max(head, std::fabs(planes[0][i]));
  for (size_t i = 5 * kFrame - 256; i < 5 * kFrame; ++i) tail = std::max(tail, std::fabs(planes[0][i]));
  EXPECT_LT(tail, head);
}


// The looping hum plays on the music bus. A beep on the effects bus ducks it: 8 dB over 200 ms, but
// the beep lasts only 100 ms, so the ducking holds half way, at -4 dB, while the bus's half-second
// recovery waits; then the music comes back over 400 ms to where it was.
TEST_F(VoiceShapingEndToEndTest, TheEffectsBusDucksTheMusicBusAndItRecovers) {
  ASSERT_NE(SoundEngine::PostEvent("Play_HumLoop", kObject), 0u);
  Frames(4);
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(60);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);  // the hum loops on
  const auto planes = Capture();
  const std::vector<double> peaks = FramePeaks(planes[0]);
  ASSERT_GE(peaks.size(), 64u);
  const double before = peaks[3];
  // The hum's 110 Hz at half scale, -3 dB on its bus, centred: each frame holds two of its periods.
  EXPECT_NEAR(before, 16384.0 * std::pow(10.0, -3.0 / 20.0) * kCentreToPair * kVoiceUnity, 30.0);
  // The beep sounds in frames 4 to 8 over the ducking hum; from frame 9 the hum alone, held.
  const double held = before * std::pow(10.0, -4.0 / 20.0);
  for (size_t f = 9; f <= 30; ++f) ASSERT_NEAR(peaks[f], held, 0.01 * before) << f;
  // 500 ms (23.4 frames) after the beep's end the fade in begins and rises for 400 ms (18.75 frames).
  for (size_t f = 32; f <= 50; ++f) ASSERT_GT(peaks[f], peaks[f - 1]) << f;
  for (size_t f = 52; f < 64; ++f) ASSERT_NEAR(peaks[f], before, 0.01 * before) << f;
}

// The looping hum heard for two frames, silenced by `silence` for three (all but the first of them
// silent), heard again as before two frames after `restore`.
void ExpectHumSilencedAndBack(SoundEndToEndTest& test, const std::function<SNRESULT()>& silence,
                              const std::function<SNRESULT()>& restore);

// Background music muted: the music bus's hum is silent; unmuted, it is heard again.
TEST_F(VoiceShapingEndToEndTest, AMutedMusicBusIsSilent) {
  ExpectHumSilencedAndBack(*this, [] { return SoundEngine::MuteBackgroundMusic(true); },
                           [] { return SoundEngine::MuteBackgroundMusic(false); });
}

// The voices' bus mixes on a mix bus of its own, 2 dB down: the beep played there is the beep played
// on the effects bus (which has no stage of its own and mixes in the master's) at that gain, within
// the fast decibel conversion's 0.25 percent.
TEST_F(VoiceShapingEndToEndTest, ABusWithItsOwnMixStageMixesAtItsBusVolume) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(6);
  ASSERT_NE(SoundEngine::PostEvent("Play_VoiceBeep", kObject), 0u);
  Frames(6);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 12u * kFrame);
  const double gain = std::pow(10.0, -2.0 / 20.0);
  double loudest = 0.0;
  for (int c = 0; c < 2; ++c)
    for (size_t t = 0; t < 6 * kFrame; ++t) {
      loudest = std::max(loudest, std::fabs(planes[c][6 * kFrame + t]));
      ASSERT_NEAR(planes[c][6 * kFrame + t], planes[c][t] * gain, std::fabs(planes[c][t]) * 0.0025 + 1.0) << t;
    }
  EXPECT_GT(loudest, 8000.0);
}

namespace {

// The media under the LFO, each frame's gain ramping from the factor the voice read last to the one
// it reads now; `lead` frames of the LFO's life lie before the voice's first read.
void ExpectLfoShaped(const std::array<std::vector<double>, 2>& planes, const std::vector<double>& media, size_t lead) {
  SoundEndToEndTest::ExpectModel(planes, 0, [&](size_t t) {
    const size_t frame = t / kFrame;
    const double from = OutputTest::VolumeLfoFactor(int64_t(std::max<size_t>(frame, 1) - 1 + lead));
    const double to = OutputTest::VolumeLfoFactor(int64_t(frame + lead));
    const double gain = from + (to - from) * double(t % kFrame) / double(kFrame);
    return SoundEndToEndTest::At(media, t) * kVoiceUnity * kCentreToPair * gain;
  });
}

}  // namespace

namespace {

// A note played on the beep through a MIDI playback context over the engine: its voice sounds from
// the note-on's sample of its frame and is cut off, without a fade, at the note-off's sample; the
// note's entry and voice are given back once the note has ended.
TEST_F(MidiNoteEndToEndTest, AMidiNoteSoundsTheBeepFromItsNoteOnToItsNoteOff) {
  const uint32_t entriesBefore = MidiNoteEntryPool().OutCount();
  Frames(1);  // the game object is registered
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnMidiPlaybackContext context(EngineMidiPlayback());
    CSnIndexedObject* beep = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString("Beep"), false);
    ASSERT_NE(beep, nullptr);
    CSnRegisteredObj* object = g_pRegistryMgr->Find(kObject);
    ASSERT_NE(object, nullptr);
    CSnMidiEventTarget* target = CSnMidiEventTarget::Create(5, object, 900, beep);
    beep->Release();
    ASSERT_NE(target, nullptr);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, 60, 100}, 300);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, 60, 0}, 2 * kFrame + 200);
    for (uint32_t frame = 0; frame < 6; ++frame) {
      context.Advance(kFrame);
      if (frame == 0) {
        CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
        ASSERT_NE(voice, nullptr);
        ASSERT_NE(voice->MidiNoteContext(), nullptr);
        EXPECT_EQ(voice->Key().midiNote, 60u);
        EXPECT_EQ(MidiNoteEntryPool().OutCount(), entriesBefore + 1);
      }
      Frames(1);
    }
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(context.HeldCount(), 0u);
    EXPECT_EQ(MidiNoteEntryPool().OutCount(), entriesBefore);
    target->Release();
  }
  const auto planes = Capture();
  const std::vector<double> beep = Media("Beep");
  // The note-off ends the voice at its own sample of the frame it comes due in.
  const size_t on = kFrame + 300, off = 3 * kFrame + 200;
  ExpectModel(planes, 0, [&](size_t t) {
    return t < on || t >= off ? 0.0 : At(beep, t - on) * kVoiceUnity * kCentreToPair;
  });
}

// A sound that waits 100 ms (4800 samples) before each play, played by two notes: the first note ends
// while its play still waits, and no voice comes of it; the second ends after its voice began, and
// cuts it off at the note-off's sample. No note-off is left held.
TEST_F(MidiNoteEndToEndTest, ANoteOffTakesBackTheDelayedPlayItsNoteBegan) {
  LoadOwnBank("tone Late 48000 1 200 440\n"
              "sound Late Late Effects delay 100\n");
  Frames(1);  // the game object is registered
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnMidiPlaybackContext context(EngineMidiPlayback());
    CSnIndexedObject* late = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString("Late"), false);
    ASSERT_NE(late, nullptr);
    CSnMidiEventTarget* target = CSnMidiEventTarget::Create(6, g_pRegistryMgr->Find(kObject), 901, late);
    late->Release();
    ASSERT_NE(target, nullptr);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, 60, 100}, 300);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, 60, 0}, kFrame + 500);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, 62, 100}, 3 * kFrame + 100);
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, 62, 0}, 9 * kFrame + 700);
    // Both notes begin at the first advance, each play waiting with its note's offset; the first
    // note's end takes its play back.
    for (uint32_t frame = 0; frame < 12; ++frame) {
      context.Advance(kFrame);
      if (frame < 2) {
        EXPECT_EQ(g_pAudioMgr->DuePendingCount(), 2u - frame) << frame;
      }
      Frames(1);
    }
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(context.HeldCount(), 0u);
    target->Release();
  }
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("Late");
  // The capture began a frame before the first note; the second voice begins 4800 samples after its
  // note-on and ends at its note-off.
  const size_t on = 4 * kFrame + 100 + 4800, off = 10 * kFrame + 700;
  ExpectModel(planes, 0, [&](size_t t) {
    return t < on || t >= off ? 0.0 : At(tone, t - on) * kVoiceUnity * kCentreToPair;
  });
}

// One MIDI target on the test's object for each named node of the test's bank, ids from `firstId`.
void TargetsOn(std::initializer_list<const char*> nodes, uint32_t firstId, uint32_t playingId,
               CSnMidiEventTarget** targets) {
  uint32_t id = firstId;
  for (const char* name : nodes) {
    CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString(name), false);
    ASSERT_NE(node, nullptr) << name;
    *targets = CSnMidiEventTarget::Create(id++, g_pRegistryMgr->Find(kObject), playingId, node);
    node->Release();
    ASSERT_NE(*targets++, nullptr);
  }
}

// Renders `frames` frames of the engine's MIDI playback, with a MIDI target on each of the two named
// nodes: `schedule(context, targets, frame)` schedules what a frame plays before it is rendered. Every
// voice and held note is over at the end.
template <typename Schedule>
void PlayOnTwoTargets(std::initializer_list<const char*> nodes, uint32_t firstId, uint32_t playingId,
                      uint32_t frames, Schedule&& schedule) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnMidiPlaybackContext context(EngineMidiPlayback());
  CSnMidiEventTarget* targets[2] = {};
  TargetsOn(nodes, firstId, playingId, targets);
  if (!::testing::Test::HasFatalFailure()) {
    for (uint32_t frame = 0; frame < frames; ++frame) {
      schedule(context, targets, frame);
      context.Advance(kFrame);
      if (OutputTest::RenderNullFrame() != SN_Success) {
        ADD_FAILURE() << "frame " << frame << " was not rendered";
        break;
      }
    }
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(context.HeldCount(), 0u);
  }
  for (CSnMidiEventTarget* target : targets)
    if (target) target->Release();
}

// Two notes, each on a continuous sequence of two three-frame items (A at 1 kHz, then B at 500 Hz)
// that waits a delay between them. The first note (sequence Waits, 100 ms = 4800 samples) ends after
// A but while the hand-on to B still waits: B never sounds. The second (sequence Joins, 20 ms = 960
// samples) ends while B plays: B is cut off at the note-off's sample, as A would be.
TEST_F(MidiNoteEndToEndTest, ANoteOffReachesTheNextItemOfTheContinuousPlayItsNoteBegan) {
  LoadOwnBank("tone SeqA 48000 1 64 1000\n"
              "tone SeqB 48000 1 64 500\n"
              "sound WaitA SeqA Effects\n"
              "sound WaitB SeqB Effects\n"
              "sound JoinA SeqA Effects\n"
              "sound JoinB SeqB Effects\n"
              "sequence Waits Effects WaitA WaitB continuous transition 3 100\n"
              "sequence Joins Effects JoinA JoinB continuous transition 3 20\n");
  Frames(1);  // the game object is registered
  PlayOnTwoTargets({"Waits", "Joins"}, 7, 902, 20, [](CSnMidiPlaybackContext& context, CSnMidiEventTarget** targets,
                                                      uint32_t frame) {
    if (frame == 0 || frame == 10) {
      CSnMidiEventTarget& target = *targets[frame == 0 ? 0 : 1];
      const uint8_t note = frame == 0 ? 60 : 62;
      context.Schedule(target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, note, 100}, 0);
      context.Schedule(target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, note, 0}, 5 * kFrame + (frame == 0 ? 0 : 300));
    }
  });
  ASSERT_FALSE(HasFatalFailure());
  const auto planes = Capture();
  const std::vector<double> first = OwnMedia("SeqA"), second = OwnMedia("SeqB");
  ASSERT_EQ(first.size(), 3u * kFrame);
  // The capture began a frame before the first note. Waits: A alone. Joins: A from frame 11, B 960
  // samples after A's end, until the note-off.
  const size_t joinA = 11 * kFrame, joinB = joinA + first.size() + 960, joinOff = 16 * kFrame + 300;
  ExpectModel(planes, 0, [&](size_t t) {
    double level = t >= kFrame ? At(first, t - kFrame) : 0.0;
    if (t >= joinA) level += At(first, t - joinA);
    if (t >= joinB && t < joinOff) level += At(second, t - joinB);
    return level * kVoiceUnity * kCentreToPair;
  });
}

// Two sounds played at their note's end, Now at once and Late after waiting 100 ms (4,800 samples),
// each 6 dB down under controller 7 of its MIDI target (parameter 8) at 127. The note-off's play
// carries no note, only its target: a play that waits must keep the target through the wait, so
// that Late, like Now, is heard 6 dB down on its target's controller.
TEST_F(MidiNoteEndToEndTest, APlayAtANoteOffHearsItsTargetsControllersAfterItsDelay) {
  LoadOwnBank("tone Now 48000 1 40 440\n"
              "tone Late 48000 1 40 660\n"
              "sound Now Now Effects\n"
              "sound Late Late Effects delay 100\n"
              "rtpc Now volume @8 0:0 127:-6\n"
              "rtpc Late volume @8 0:0 127:-6\n");
  Frames(1);  // the game object is registered
  PlayOnTwoTargets({"Now", "Late"}, 20, 910, 16, [](CSnMidiPlaybackContext& context, CSnMidiEventTarget** targets,
                                                    uint32_t frame) {
    for (int i = 0; i < 2; ++i) {
      CSnMidiEventTarget& target = *targets[i];
      if (frame == 0) {
        auto* sound = dynamic_cast<CSnPropertyNode*>(target.Node());
        ASSERT_NE(sound, nullptr);
        ASSERT_EQ(sound->SetIntProperty(SnProp_MidiPlayMode, 2), SN_Success);  // played at the note-off
        context.Schedule(target, SnMidiEvent{SnMidiEvent::kControlChange, 0, 7, 127}, 0);
        context.Schedule(target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, 60, 100}, 100);
      }
      // The notes end after Late's delayed note-on has run and left its play to the note-off.
      if (frame == 6) context.Schedule(target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, 60, 0}, 300);
    }
  });
  ASSERT_FALSE(HasFatalFailure());
  const auto planes = Capture();
  const std::vector<double> now = OwnMedia("Now"), late = OwnMedia("Late");
  // The capture began a frame before the note-ons; the note-offs come in its seventh frame, at sample
  // 300. Now begins there, Late 4,800 samples later.
  const size_t nowAt = 7 * kFrame + 300, lateAt = nowAt + 4800;
  const double down = std::pow(10.0, -6.0 / 20.0) * kVoiceUnity * kCentreToPair;
  ExpectModel(planes, 0, [&](size_t t) {
    const double a = t >= nowAt ? At(now, t - nowAt) : 0.0;
    const double b = t >= lateAt ? At(late, t - lateAt) : 0.0;
    return (a + b) * down;
  }, 2.0);  // the curve's gain is worked out in single precision
}

}  // namespace

namespace {

// A sound with the same gain effect in its first two slots makes both insert effects of its voice:
// every sample is its tone 6 dB down, the effects' 3 dB twice.
TEST_F(VoiceShapingEndToEndTest, EachEffectSlotOfASoundBecomesAnInsertOfItsVoice) {
  const std::string text =
      "tone Chirp 48000 1 40 660\r\n"
      "effect Down3 gain -3\r\n"
      "sound Chirp Chirp Effects effect Down3 effect Down3\r\n"
      "action Play_Chirp_Act 0x0403 Chirp bank TimingBank\r\n"
      "event Play_Chirp Play_Chirp_Act\r\n";
  LoadOwnBank(text);
  const std::vector<double> chirp = Media("Chirp");
  ASSERT_EQ(chirp.size(), 1920u);
  ASSERT_NE(SoundEngine::PostEvent("Play_Chirp", kObject), 0u);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 3u * kFrame);
  const double gain = std::pow(10.0, -6.0 / 20.0);
  ExpectModel(planes, 0, [&](size_t t) { return At(chirp, t) * gain * kVoiceUnity * kCentreToPair; });
}

// A sound whose pitch and volume follow a game parameter through curves of its bank: set on the game
// object before the play, 100 raises the whistle an octave (every other sample of its media) and
// lowers it 6 dB; the voice ends after half its media's length. A second play after the parameter is
// back at 0 is the whistle as it was made.
TEST_F(VoiceShapingEndToEndTest, AGameParameterRaisesASoundsPitchAndLowersItsVolumeThroughItsCurves) {
  const std::string text =
      "tone Whistle 48000 1 60 440\r\n"
      "sound Whistle Whistle Effects\r\n"
      "rtpc Whistle pitch WhistleSpeed 0:0 100:1200\r\n"
      "rtpc Whistle volume WhistleSpeed 0:0 100:-6\r\n"
      "action Play_Whistle_Act 0x0403 Whistle bank TimingBank\r\n"
      "event Play_Whistle Play_Whistle_Act\r\n";
  LoadOwnBank(text);
  Tools::BankDescription own;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(text, "TimingBank", own, error)) << error;
  std::vector<double> whistle;
  for (const auto& media : own.media)
    for (int16_t sample : DataSamples(media.bytes)) whistle.push_back(sample / 32768.0);
  ASSERT_EQ(whistle.size(), 2880u);

  ASSERT_EQ(SoundEngine::SetRTPCValue("WhistleSpeed", 100.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Whistle", kObject), 0u);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  ASSERT_EQ(SoundEngine::SetRTPCValue("WhistleSpeed", 0.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Whistle", kObject), 0u);
  Frames(4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 7u * kFrame);
  // An octave up reads the media at twice its rate: sample n is media sample 2n.
  const double raised = std::pow(10.0, -6.0 / 20.0) * kVoiceUnity * kCentreToPair;
  for (int c = 0; c < 2; ++c) {
    for (size_t n = 0; n < 3 * kFrame; ++n) {
      const double expected = (2 * n < whistle.size() ? whistle[2 * n] : 0.0) * raised * 32768.0;
      ASSERT_NEAR(planes[c][n], expected, std::fabs(expected) * 0.0025 + 1.0) << "channel " << c << " sample " << n;
    }
  }
  ExpectModel(planes, 3 * kFrame, [&](size_t t) { return At(whistle, t) * kVoiceUnity * kCentreToPair; });
}

}  // namespace

namespace {

// The wobble's bank curve maps the volume LFO onto its volume (0 dB at rest, silence at full swing):
// each voice takes the modulator from its sound's curve, with no mapping made by hand, and shapes the
// wobble frame by frame as the LFO test's hand mapping does. Its node's values changing mid-play
// make the voice compute its parameters again: the modulation still applies once, not a second time
// frozen into its volume.
TEST_F(VoiceShapingEndToEndTest, ASoundsModulatorCurveShapesItsVoicesOnceFrameByFrame) {
  const std::string text =
      "tone Wobble 48000 1 100 880\r\n"
      "sound Wobble Wobble Effects\r\n"
      "rtpc Wobble volume modulator VolumeLfo 0:0 1:-200\r\n"
      "action Play_Wobble_Act 0x0403 Wobble bank TimingBank\r\n"
      "event Play_Wobble Play_Wobble_Act\r\n";
  LoadOwnBank(text);
  Tools::BankDescription own;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(text, "TimingBank", own, error)) << error;
  std::vector<double> wobble;
  for (int16_t sample : DataSamples(own.media.at(0).bytes)) wobble.push_back(sample / 32768.0);

  ASSERT_NE(SoundEngine::PostEvent("Play_Wobble", kObject), 0u);
  Frames(1);
  CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->Modulators().InstanceCount(), 1u);
  Frames(2);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    voice->Node()->ValuesChanged();
    // The game parameters leave the sound's modulator curve to the voice.
    SnSoundParams params;
    voice->Node()->GetSoundParams(params, SnParamGroup_Volume, voice->Key(), nullptr, false, true);
    EXPECT_EQ(params.volume, 0.0f);
    EXPECT_LT(voice->Modulators().GetFactor(SnParamMask::Of(kVoiceVolumeParameter)), 0.99f);
  }
  Frames(4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  // Attached as the voice is made, the LFO has run a frame when the voice's first frame reads it.
  ExpectLfoShaped(planes, wobble, 1);
}

// The rising sound's curve maps the pitch envelope onto up to an octave: its voice's pitch follows the
// envelope from the first frame, so the 100 ms tone ends well before 4800 samples, though no sooner
// than an octave up would end it.
TEST_F(VoiceShapingEndToEndTest, ASoundsPitchEnvelopeCurveRaisesItsVoice) {
  LoadOwnBank(
      "tone Wobble 48000 1 100 880\r\n"
      "sound Rising Wobble Effects\r\n"
      "rtpc Rising pitch modulator PitchEnvelope 0:0 1:1200\r\n"
      "action Play_Rising_Act 0x0403 Rising bank TimingBank\r\n"
      "event Play_Rising Play_Rising_Act\r\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_Rising", kObject), 0u);
  Frames(2);
  CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->Params().params[0], 0.0f);  // nothing of it in the sound's own pitch
  EXPECT_GT(voice->PitchCents(), 100.0f);
  EXPECT_LE(voice->PitchCents(), 1200.0f);
  Frames(4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  size_t last = 0;
  for (size_t i = 0; i < planes[0].size(); ++i)
    if (planes[0][i] != 0.0) last = i;
  EXPECT_LT(last, 4000u);
  EXPECT_GE(last, 2400u);
}

}  // namespace

namespace {

// What an effect on a voice learns of it through the voice information: a plain beep is neither
// positioned nor panned and has no rays; a placed one is positioned in 3D with one ray to the one
// listener the output renders, at its distance, and that listener's data; a mask naming no listener
// of the device gives no data. Matrices not yet known read as zeros.
TEST_F(PlacedSoundEndToEndTest, AVoicesInformationTellsItsEffectsHowItIsPlaced) {
  const CSnOutputDevice* device = LowerEngine::FirstOutputDevice();
  ASSERT_NE(device, nullptr);
  auto provider = [&](CSnPlaybackInstance* voice) {
    return std::make_unique<CSnVoiceInfoProvider>(voice->Pipeline(), device->OutputType(), device->DeviceId(), 7u);
  };
  ASSERT_NE(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  Frames(2);
  CSnPlaybackInstance* plain = VoiceManager::FirstActiveInstance();
  ASSERT_NE(plain, nullptr);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    auto info = provider(plain);
    EXPECT_EQ(info->GetExtraWord(), 7u);
    info->SetWordAfterOwner(3);
    EXPECT_EQ(info->GetWordAfterOwner(), 3u);
    EXPECT_FALSE(info->IsPositioned());
    EXPECT_EQ(info->GetPositioningMode(), 0u);
    EXPECT_EQ(info->Get3DType(), 0u);
    EXPECT_FLOAT_EQ(info->GetCenterPercentage(), plain->PanCentre() * 0.01f);
    float pan[3] = {9.0f, 9.0f, 9.0f};
    info->GetPanning(pan);
    EXPECT_EQ(pan[0] + pan[1] + pan[2], 0.0f);
    EXPECT_EQ(info->GetRayCount(), 0u);
    SnEmitterListenerRay ray{};
    EXPECT_EQ(info->GetRay(0, ray), SN_Failure);
    float matrices[2][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}};
    info->GetVolumeMatrices(matrices[0], matrices[1], 4);
    for (const auto& matrix : matrices)
      for (float value : matrix) EXPECT_EQ(value, 0.0f);
  }
  Frames(6);

  CSnPlaybackInstance* placed = PlayTenMetresAhead("Play_Spot_Beep");
  ASSERT_NE(placed, nullptr);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  auto info = provider(placed);
  EXPECT_TRUE(info->IsPositioned());
  EXPECT_EQ(info->GetPositioningMode(), 1u);
  EXPECT_EQ(info->GetListenerMask(), 1u);
  ASSERT_EQ(info->GetRayCount(), 1u);
  SnEmitterListenerRay ray{};
  ASSERT_EQ(info->GetRay(0, ray), SN_Success);
  EXPECT_NEAR(ray.distance, 10.0f, 1e-4f);
  EXPECT_EQ(info->GetRay(1, ray), SN_Failure);
  EXPECT_EQ(info->GetNumEmitterPositions(), 1u);
  SnSoundPosition emitter{};
  ASSERT_EQ(info->GetEmitterPosition(0, emitter), SN_Success);
  EXPECT_EQ(emitter.position[2], 10.0f);
  SnListenerData data{};
  EXPECT_EQ(info->GetListenerData(1, data), SN_Success);
  EXPECT_EQ(info->GetListenerData(2, data), SN_Failure);
  // A provider for a device that is not there sees no listener.
  CSnVoiceInfoProvider elsewhere(placed->Pipeline(), device->OutputType(), device->DeviceId() + 1, 0);
  EXPECT_EQ(elsewhere.GetRayCount(), 0u);
  EXPECT_EQ(elsewhere.GetListenerMask(), 0u);
  EXPECT_EQ(elsewhere.GetListenerData(1, data), SN_Failure);
}

}  // namespace

// An object no listener hears any more takes its playing voices off the output, and they come back
// when listener 0 hears it again.
TEST_F(PlacedSoundEndToEndTest, AnObjectsVoicesFollowItsListeners) {
  ExpectHumSilencedAndBack(*this, [] { return SoundEngine::SetActiveListeners(kObject, 0x0); },
                           [] { return SoundEngine::SetActiveListeners(kObject, 0x1); });
}

void ExpectHumSilencedAndBack(SoundEndToEndTest& test, const std::function<SNRESULT()>& silence,
                              const std::function<SNRESULT()>& restore) {
  ASSERT_NE(SoundEngine::PostEvent("Play_HumLoop", kObject), 0u);
  test.Frames(2);
  ASSERT_EQ(silence(), SN_Success);
  test.Frames(3);
  ASSERT_EQ(restore(), SN_Success);
  test.Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  const std::vector<double> peaks = FramePeaks(test.Capture()[0]);
  ASSERT_GE(peaks.size(), 8u);
  EXPECT_GT(peaks[1], 5000.0);
  for (size_t f = 3; f < 5; ++f) EXPECT_EQ(peaks[f], 0.0) << f;
  EXPECT_NEAR(peaks[7], peaks[1], 0.01 * peaks[1]);
}

// The chord's stereo media at 44.1 kHz, resampled to 48 kHz by linear interpolation at a 16.16 step,
// each channel to its own speaker at the sound's -6 dB: within the fast decibel conversion's 0.25
// percent and a unit of the capture.
TEST_F(VoiceShapingEndToEndTest, TheChordIsResampledToTheOutputRateAtItsVolume) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Chord", kObject), 0u);
  Frames(8);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  std::vector<double> interleaved = Media("Chord");
  ASSERT_EQ(interleaved.size(), 2u * 5292u);  // 120 ms at 44.1 kHz
  const uint64_t step = uint64_t(44100.0 / 48000.0 * 65536.0 + 0.5);
  const double gain = std::pow(10.0, -6.0 / 20.0) * kVoiceUnity;
  size_t heard = 0;
  for (int c = 0; c < 2; ++c) {
    std::vector<double> x;
    for (size_t i = c; i < interleaved.size(); i += 2) x.push_back(interleaved[i]);
    size_t n = 0;
    for (uint64_t p = 0; (p >> 16) + 1 < x.size(); p += step, ++n) {
      const double a = x[p >> 16], b = x[(p >> 16) + 1];
      const double expected = (a + (b - a) * double(p & 0xFFFF) / 65536.0) * gain * 32768.0;
      ASSERT_NEAR(planes[c][n], expected, std::fabs(expected) * 0.0025 + 1.0) << "channel " << c << " sample " << n;
    }
    heard = n;
    for (size_t t = n + 2; t < planes[c].size(); ++t) ASSERT_EQ(planes[c][t], 0.0) << t;
  }
  EXPECT_NEAR(double(heard), 5292.0 * 48000.0 / 44100.0, 2.0);
}

// Unloading the bank under a looping hum ends the voice before the bank's data goes: the frames after
// read nothing freed (the sanitiser watches), are silent, and the play is gone. The hum is heard again
// once the bank is back.
TEST_F(BankMediaEndToEndTest, ABankUnloadedUnderAPlayingVoiceStopsItFirst) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Hum", kObject), 0u);
  Frames(3);
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Hum", kObject), 0u);
  Frames(2);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), 8u * kFrame);
  double before = 0.0, after = 0.0;
  for (size_t i = kFrame; i < 3 * kFrame; ++i) before = std::max(before, std::fabs(planes[0][i]));
  for (size_t i = 6 * kFrame; i < 8 * kFrame; ++i) after = std::max(after, std::fabs(planes[0][i]));
  EXPECT_GT(before, 1000.0);
  EXPECT_GT(after, 1000.0);
  // Nothing from the frame after the unload until the hum is posted again.
  for (size_t i = 3 * kFrame; i < 6 * kFrame; ++i) ASSERT_EQ(planes[0][i], 0.0) << i;
}

// The placed beep's bank unloaded under it, with no other copy of its media: the voice ends before
// the bank's attenuation goes, and the frames after read nothing the bank held (the sanitiser watches
// the pools). With a second copy of the beep loaded, the voice moves to it and keeps the attenuation
// it plays with: every sample as an uninterrupted play of it, its curve's -4 dB at 10 m included.
TEST_F(BankMediaEndToEndTest, APlacedBeepEndsOrKeepsItsAttenuationWhenItsBankGoes) {
  ASSERT_NE(PlayTenMetresAhead("Play_Spot_Beep"), nullptr);
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);

  uint32_t gameId = 0, copyId = 0;
  std::vector<uint8_t>& game = Keep(ReadFileBytes(Path("GeneralBank.bnk")));
  ASSERT_EQ(SoundEngine::LoadBank(game.data(), uint32_t(game.size()), gameId), SN_Success);
  const std::vector<uint8_t>& copy = BankImage("tone Beep 48000 1 100 880\r\n", "BeepCopy");
  ASSERT_EQ(SoundEngine::LoadBank(copy.data(), uint32_t(copy.size()), copyId), SN_Success);
  Capture();
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"whole.wav"), SN_Success);
  ASSERT_NE(PlayTenMetresAhead("Play_Spot_Beep"), nullptr);
  Frames(6);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto whole = Capture("whole.wav");

  ASSERT_EQ(SoundEngine::StartOutputCapture(u"moved.wav"), SN_Success);
  ASSERT_NE(PlayTenMetresAhead("Play_Spot_Beep"), nullptr);
  ASSERT_EQ(SoundEngine::UnloadBank(gameId, game.data()), SN_Success);
  EXPECT_TRUE(ReadsFrom(copy));
  std::fill(game.begin(), game.end(), uint8_t(0x5A));
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto moved = Capture("moved.wav");
  for (int c = 0; c < 2; ++c) {
    ASSERT_GE(moved[c].size(), 8u * kFrame);
    for (size_t i = 0; i < 8 * kFrame; ++i) ASSERT_EQ(moved[c][i], whole[c][i]) << "channel " << c << " sample " << i;
  }
  // Attenuated, not silent: the beep's 880 Hz at -4 dB and the pan's -3 dB leave well over 1000.
  EXPECT_GT(*std::max_element(moved[0].begin() + 2 * kFrame, moved[0].begin() + 4 * kFrame), 1000.0);
  ASSERT_EQ(SoundEngine::UnloadBank(copyId, copy.data()), SN_Success);
}

// An event posted every frame while its bank is away: its warning is said in the first frame, counted
// in the four after it, and the count said once a frame passed without it. A post after that is new.
TEST_F(BankMediaEndToEndTest, AnEventPostedFrameAfterFrameWhileItsBankIsAwayIsSaidOnceWithACount) {
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  log_.Take();
  for (int frame = 0; frame < 5; ++frame) {
    EXPECT_EQ(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
    Frames(1);
  }
  Frames(2);
  const std::string line =
      "[Warning][Audio] PostEvent: event " + std::to_string(SoundEngine::GetIDFromString("Play_Beep")) + " is not loaded";
  EXPECT_EQ(log_.Take(), line + "\n" + line + " (and 4 more like it)\n");
  EXPECT_EQ(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  EXPECT_EQ(log_.Take(), line + "\n");
}

// The hum's and the chord's media held twice, by the game's bank (loaded in place from memory the
// test keeps) and by a bank of the test's that holds nothing else. Unloading the game's bank under
// the looping hum and the resampled chord moves both voices to the other copies, the chord's held
// input with them; the game bank's bytes are overwritten, and the voices go on sample for sample as
// uninterrupted plays of them do. Unloading the copies too, with no holder left, ends the hum.
TEST_F(BankMediaEndToEndTest, VoicesMoveToAnotherBanksCopyOfTheirMediaWhenTheirBankGoes) {
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  std::vector<uint8_t>& game = Keep(ReadFileBytes(Path("GeneralBank.bnk")));
  uint32_t gameId = 0, copyId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(game.data(), uint32_t(game.size()), gameId), SN_Success);
  const std::vector<uint8_t>& copy =
      BankImage("tone Hum 48000 1 250 110\r\nmarker Hum 1 0 Start\r\nmarker Hum 2 6000 Middle\r\n"
                "loop Hum 2400 9599\r\ntone Chord 44100 2 120 220\r\n",
                "MediaCopy");
  ASSERT_EQ(SoundEngine::LoadBank(copy.data(), uint32_t(copy.size()), copyId), SN_Success);
  auto play = [] {
    const uint32_t hum = SoundEngine::PostEvent("Play_HumLoop", kObject);
    EXPECT_NE(SoundEngine::PostEvent("Play_Chord", kObject), 0u);
    return hum;
  };
  const uint32_t hum = play();
  ASSERT_NE(hum, 0u);
  Frames(8);
  EXPECT_TRUE(ReadsFrom(game));  // the first holder hands them out
  const auto uninterrupted = Capture();
  SoundEngine::StopPlayingID(hum);
  Frames(64);  // the chord's ducking of the music bus has recovered: the second play meets the same buses
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 0u);

  ASSERT_EQ(SoundEngine::StartOutputCapture(u"moved.wav"), SN_Success);
  ASSERT_NE(play(), 0u);
  Frames(3);
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 2u);
  ASSERT_EQ(SoundEngine::UnloadBank(gameId, game.data()), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 2u);
  EXPECT_TRUE(ReadsFrom(copy));
  std::fill(game.begin(), game.end(), uint8_t(0x5A));
  Frames(5);
  const auto moved = Capture("moved.wav");
  for (int c = 0; c < 2; ++c) {
    ASSERT_GE(moved[c].size(), 8u * kFrame);
    for (size_t i = 0; i < 8 * kFrame; ++i) ASSERT_EQ(moved[c][i], uninterrupted[c][i]) << "channel " << c << " sample " << i;
  }
  EXPECT_GT(*std::max_element(moved[0].begin() + 4 * kFrame, moved[0].begin() + 8 * kFrame), 1000.0);

  ASSERT_EQ(SoundEngine::UnloadBank(copyId, copy.data()), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

// The looping hum's media set by the game twice over, each copy on the heap where a read after it is
// freed is seen, beside the game's bank. Playing from the first copy (set before the bank, it is the
// one handed out), the voice moves to the bank's copy when the game takes it back, and goes on; with
// the bank gone it moves to the second copy, and when the game takes that one back too there is
// nothing left: the voice stops before the call returns, says so, and the frames after are silent.
TEST_F(BankMediaEndToEndTest, AVoiceLetsGoOfTheGamesCopyOfItsMediaBeforeTheGameTakesItBack) {
  const uint32_t humId = SoundEngine::GetIDFromString("Hum");
  const auto media = std::find_if(general_.media.begin(), general_.media.end(),
                                  [&](const Tools::BankMedia& m) { return m.id == humId; });
  ASSERT_NE(media, general_.media.end());
  auto first = std::make_unique<std::vector<uint8_t>>(media->bytes);
  auto second = std::make_unique<std::vector<uint8_t>>(media->bytes);
  const SnMediaItem firstItem{humId, first->data(), uint32_t(first->size())};
  const SnMediaItem secondItem{humId, second->data(), uint32_t(second->size())};
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  ASSERT_EQ(SoundEngine::SetMedia(&firstItem, 1), SN_Success);
  std::vector<uint8_t>& game = Keep(ReadFileBytes(Path("GeneralBank.bnk")));
  uint32_t gameId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(game.data(), uint32_t(game.size()), gameId), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_HumLoop", kObject), 0u);
  Frames(3);
  ASSERT_NE(VoiceManager::FirstActiveInstance(), nullptr);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->MediaData(), first->data());

  ASSERT_EQ(SoundEngine::UnsetMedia(&firstItem, 1), SN_Success);
  EXPECT_TRUE(ReadsFrom(game));
  first.reset();
  Frames(2);
  ASSERT_EQ(SoundEngine::SetMedia(&secondItem, 1), SN_Success);
  ASSERT_EQ(SoundEngine::UnloadBank(gameId, game.data()), SN_Success);
  ASSERT_NE(VoiceManager::FirstActiveInstance(), nullptr);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->MediaData(), second->data());
  std::fill(game.begin(), game.end(), uint8_t(0x5A));
  Frames(2);
  log_.Take();

  ASSERT_EQ(SoundEngine::UnsetMedia(&secondItem, 1), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_NE(log_.Take().find("Media went from under 1 playing voices"), std::string::npos);
  EXPECT_EQ(g_pBankManager->MediaReferences(humId), 0u);
  second.reset();
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  // Heard through both moves, up to the seventh frame, and nothing after.
  ASSERT_GE(planes[0].size(), 9u * kFrame);
  EXPECT_GT(*std::max_element(planes[0].begin() + 5 * kFrame, planes[0].begin() + 7 * kFrame), 1000.0);
  for (size_t i = 7 * kFrame; i < planes[0].size(); ++i) ASSERT_EQ(planes[0][i], 0.0) << i;
}

// Media of the same id but another size are other media: a voice is not moved onto them (it would
// read its old offsets past their end) but stops before its bank's data goes, and says why.
TEST_F(BankMediaEndToEndTest, AVoiceIsNotMovedOntoOtherMediaOfItsId) {
  const std::vector<uint8_t>& other = BankImage("tone Hum 48000 1 100 110\r\n", "ShortHum");
  uint32_t otherId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(other.data(), uint32_t(other.size()), otherId), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_HumLoop", kObject), 0u);
  Frames(2);
  log_.Take();
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_NE(log_.Take().find("the voice cannot move to it"), std::string::npos);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

// Stereo IMA-ADPCM media at 44.1 kHz: the decoder's cursor and the resampler's held input move with
// the media. The bank that played it goes and its bytes are overwritten; the voice, reading the other
// bank's copy, goes on as an uninterrupted play does.
TEST_F(BankMediaEndToEndTest, AnAdpcmVoiceMovedToAnotherCopyDecodesOnExactly) {
  const char* tone = "tone Buzz 44100 2 200 330 adpcm\r\n";
  std::vector<uint8_t>& played = BankImage(std::string(tone) +
                                              "sound Buzz Buzz Effects\r\n"
                                              "action Play_Buzz_Act 0x0403 Buzz bank BuzzBank\r\n"
                                              "event Play_Buzz Play_Buzz_Act\r\n",
                                          "BuzzBank");
  const std::vector<uint8_t>& copy = BankImage(tone, "BuzzCopy");
  uint32_t playedId = 0, copyId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(played.data(), uint32_t(played.size()), playedId), SN_Success);
  ASSERT_EQ(SoundEngine::LoadBank(copy.data(), uint32_t(copy.size()), copyId), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Buzz", kObject), 0u);
  Frames(10);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto uninterrupted = Capture();

  ASSERT_EQ(SoundEngine::StartOutputCapture(u"moved.wav"), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Buzz", kObject), 0u);
  Frames(3);
  EXPECT_TRUE(ReadsFrom(played));
  ASSERT_EQ(SoundEngine::UnloadBank(playedId, played.data()), SN_Success);
  EXPECT_TRUE(ReadsFrom(copy));
  std::fill(played.begin(), played.end(), uint8_t(0x5A));
  Frames(7);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto moved = Capture("moved.wav");
  double loudest = 0.0;
  for (int c = 0; c < 2; ++c) {
    ASSERT_GE(moved[c].size(), 10u * kFrame);
    for (size_t i = 0; i < 10 * kFrame; ++i) {
      ASSERT_EQ(moved[c][i], uninterrupted[c][i]) << "channel " << c << " sample " << i;
      if (i >= 3 * kFrame) loudest = std::max(loudest, std::fabs(moved[c][i]));
    }
  }
  EXPECT_GT(loudest, 1000.0);
  ASSERT_EQ(SoundEngine::UnloadBank(copyId, copy.data()), SN_Success);
}

