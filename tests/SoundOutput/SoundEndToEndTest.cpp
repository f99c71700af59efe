// The whole chain heard: the game's banks as the build writes them, the engine on the null output,
// frames rendered on the test's thread, events posted by name, and the output capture read back by a
// reader of the test's own against a double-precision model of the tone, its gains and its pan.
#include <cmath>
#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <numbers>

#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/OutputDevice.h"
#include "SoundEngine/Lower/VoiceCommands.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/PlaybackInstance.h"
#include "SoundEngine/Lower/VoiceManager.h"
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

#include "OutputTestSupport.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;
using OutputTest::ReadFileBytes;

constexpr uint32_t kObject = 7;
constexpr uint32_t kFrame = 1024;
constexpr double kCentreToPair = 0.70710678118654752;  // a mono voice on a front pair, unpanned
// The engine's fast power of ten at 0 dB: its polynomial at mantissa 1 and exponent 0, worked by hand.
constexpr double kFastUnity = 0.32518977 + 0.020805772 + 0.65304345;
// A voice at 0 dB into the master bus meets it three times: for its volume, its output's and the bus's.
constexpr double kVoiceUnity = kFastUnity * kFastUnity * kFastUnity;

// The 16-bit samples of a RIFF WAVE file's "data" chunk (a capture's or a media's), in file order;
// empty when it has none.
std::vector<int16_t> DataSamples(const std::vector<uint8_t>& file) {
  auto u32 = [&](size_t at) {
    return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 | uint32_t(file[at + 3]) << 24;
  };
  std::vector<int16_t> samples;
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) || std::memcmp(file.data() + 8, "WAVE", 4)) return samples;
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = u32(at + 4);
    if (at + 8 + size > file.size()) break;
    if (!std::memcmp(&file[at], "data", 4)) {
      for (size_t i = 0; i + 1 < size; i += 2)
        samples.push_back(int16_t(uint16_t(file[at + 8 + i]) | uint16_t(file[at + 9 + i]) << 8));
      break;
    }
    at += 8 + size + (size & 1);
  }
  return samples;
}

class SoundEndToEndTest : public OutputFixture {
 public:
  void SetUp() override {
    OutputFixture::SetUp();
    for (const char* name : {"Init", "GeneralBank"})
      std::filesystem::copy_file(std::string("Sound/Banks/") + name + ".bnk", Path(std::string(name) + ".bnk"));
    std::string error;
    ASSERT_TRUE(Tools::ReadBankTextFile("content/banks/GeneralBank.txt", general_, error)) << error;
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Success);
    ASSERT_EQ(SoundEngine::StartOutputCapture(u"capture.wav"), SN_Success);
  }

  // Frames of the null output's clock, each rendered.
  void Frames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
      ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
    }
  }
  // Ends the capture and reads the file back: left and right planes.
  std::array<std::vector<double>, 2> Capture() {
    EXPECT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
    Frames(1);
    const std::vector<int16_t> samples = DataSamples(ReadFileBytes(Path("capture.wav")));
    std::array<std::vector<double>, 2> planes;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
      planes[0].push_back(samples[i]);
      planes[1].push_back(samples[i + 1]);
    }
    return planes;
  }
  // The samples of a tone's media, as the bank holds them, as floats in -1..1.
  std::vector<double> Media(const char* tone) const {
    std::vector<double> samples;
    for (const auto& media : general_.media)
      if (media.id == SoundEngine::GetIDFromString(tone))
        for (int16_t sample : DataSamples(media.bytes)) samples.push_back(sample / 32768.0);
    EXPECT_FALSE(samples.empty()) << tone;
    return samples;
  }
  static double At(const std::vector<double>& samples, size_t t) { return t < samples.size() ? samples[t] : 0.0; }
  // Every sample of both planes from `from` on, in 16-bit units, against `model`; 1 LSB of room.
  static void ExpectModel(const std::array<std::vector<double>, 2>& planes, size_t from,
                          const std::function<double(size_t)>& model) {
    for (int c = 0; c < 2; ++c)
      for (size_t i = from; i < planes[c].size(); ++i)
        ASSERT_NEAR(planes[c][i], model(i - from) * 32768.0, 1.0) << "channel " << c << " sample " << i;
  }

  // A bank of the test's own beside the game's, from bank text, loaded from memory it keeps.
  void LoadOwnBank(const std::string& text) {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(text, "TimingBank", bank, error)) << error;
    own_ = Tools::WriteBank(bank);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(own_.data(), uint32_t(own_.size()), id), SN_Success);
  }

  // The game bank's modulator, instantiated for the voice on the engine's own processing list and
  // attached to the voice with `request`; null when either step fails.
  static CSnModulatorInstance* AttachToVoice(CSnPlaybackInstance* voice, const char* modulator,
                                             const SnModulatorMappingRequest& request) {
    CSnModulatorObject* object = FindModulatorAndAddRef(SoundEngine::GetIDFromString(modulator));
    if (!object) return nullptr;
    SnModulatorInstantiationParams params;
    params.gameObject = g_pRegistryMgr->Find(kObject);
    params.playbackInstance = voice;
    CSnModulatorInstance* instance = nullptr;
    const SNRESULT made = object->Instantiate(params, DefaultModulatorObjects().List(), &instance);
    object->Release();
    if (made != SN_Success || voice->Modulators().AttachInstance(instance, request) != SN_Success) return nullptr;
    return instance;
  }

  Tools::BankDescription general_;
  std::vector<uint8_t> own_;
};

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
TEST_F(SoundEndToEndTest, APlacedBeepIsAttenuatedByItsCurveAndPannedByItsDirection) {
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


// The game bank's volume triangle (2 Hz, depth 0.5 faded in over a second, from a quarter period) on a beep's
// volume as 1 - value: each frame's gain steps from the last frame's factor to this frame's, the
// modulators having run first, against a model of the triangle of the test's own.
TEST_F(SoundEndToEndTest, AVolumeLfoShapesTheBeepFrameByFrame) {
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
TEST_F(SoundEndToEndTest, ReleasingAVoicesModulatorsReleasesItsHeldEnvelope) {
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
TEST_F(SoundEndToEndTest, APausedBeepIsSilentAndGoesOnWhereItStopped) {
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
TEST_F(SoundEndToEndTest, AHumStoppedWithAFadeEndsInSilence) {
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

// The loudest sample of each frame of a plane.
std::vector<double> FramePeaks(const std::vector<double>& plane) {
  std::vector<double> peaks;
  for (size_t at = 0; at + kFrame <= plane.size(); at += kFrame) {
    double peak = 0.0;
    for (size_t i = at; i < at + kFrame; ++i) peak = std::max(peak, std::fabs(plane[i]));
    peaks.push_back(peak);
  }
  return peaks;
}

// The looping hum plays on the music bus. A beep on the effects bus ducks it: 8 dB over 200 ms, but
// the beep lasts only 100 ms, so the ducking holds half way, at -4 dB, while the bus's half-second
// recovery waits; then the music comes back over 400 ms to where it was.
TEST_F(SoundEndToEndTest, TheEffectsBusDucksTheMusicBusAndItRecovers) {
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
TEST_F(SoundEndToEndTest, AMutedMusicBusIsSilent) {
  ExpectHumSilencedAndBack(*this, [] { return SoundEngine::MuteBackgroundMusic(true); },
                           [] { return SoundEngine::MuteBackgroundMusic(false); });
}

// The voices' bus mixes on a mix bus of its own, 2 dB down: the beep played there is the beep played
// on the effects bus (which has no stage of its own and mixes in the master's) at that gain, within
// the fast decibel conversion's 0.25 percent.
TEST_F(SoundEndToEndTest, ABusWithItsOwnMixStageMixesAtItsBusVolume) {
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

// The game bank's volume LFO as the factor 1 - value after `frame` frames of its life: a 2 Hz
// triangle from a quarter period, its depth of 0.5 faded in over the default second.
double VolumeLfoFactor(size_t frame) {
  if (frame == 0) return 1.0;
  const double phase = std::fmod(0.25 + double(frame * kFrame) * 2.0 / 48000.0, 1.0);
  const double triangle = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
  const double depth = 0.5 * std::min(double(frame * kFrame), 48000.0) / 48000.0;
  return 1.0 - depth * triangle;
}

// The media under the LFO, each frame's gain ramping from the factor the voice read last to the one
// it reads now; `lead` frames of the LFO's life lie before the voice's first read.
void ExpectLfoShaped(const std::array<std::vector<double>, 2>& planes, const std::vector<double>& media, size_t lead) {
  SoundEndToEndTest::ExpectModel(planes, 0, [&](size_t t) {
    const size_t frame = t / kFrame;
    const double from = VolumeLfoFactor(std::max<size_t>(frame, 1) - 1 + lead), to = VolumeLfoFactor(frame + lead);
    const double gain = from + (to - from) * double(t % kFrame) / double(kFrame);
    return SoundEndToEndTest::At(media, t) * kVoiceUnity * kCentreToPair * gain;
  });
}

}  // namespace

namespace {

// A note played on the beep through a MIDI playback context over the engine: its voice sounds from
// the note-on's sample of its frame and is cut off, without a fade, from the frame after its note-off
// came due; the note's entry and voice are given back once the note has ended.
TEST_F(SoundEndToEndTest, AMidiNoteSoundsTheBeepFromItsNoteOnToItsNoteOff) {
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
  // A stop reaches the voice at the next frame's start, as the stop of an event does.
  const size_t on = kFrame + 300, off = 4 * kFrame;
  ExpectModel(planes, 0, [&](size_t t) {
    return t < on || t >= off ? 0.0 : At(beep, t - on) * kVoiceUnity * kCentreToPair;
  });
}

}  // namespace

namespace {

// A sound whose pitch and volume follow a game parameter through curves of its bank: set on the game
// object before the play, 100 raises the whistle an octave (every other sample of its media) and
// lowers it 6 dB; the voice ends after half its media's length. A second play after the parameter is
// back at 0 is the whistle as it was made.
TEST_F(SoundEndToEndTest, AGameParameterRaisesASoundsPitchAndLowersItsVolumeThroughItsCurves) {
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
TEST_F(SoundEndToEndTest, ASoundsModulatorCurveShapesItsVoicesOnceFrameByFrame) {
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
TEST_F(SoundEndToEndTest, ASoundsPitchEnvelopeCurveRaisesItsVoice) {
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
TEST_F(SoundEndToEndTest, AVoicesInformationTellsItsEffectsHowItIsPlaced) {
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

  const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Spot_Beep", kObject), 0u);
  Frames(2);
  CSnPlaybackInstance* placed = VoiceManager::FirstActiveInstance();
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
TEST_F(SoundEndToEndTest, AnObjectsVoicesFollowItsListeners) {
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
TEST_F(SoundEndToEndTest, TheChordIsResampledToTheOutputRateAtItsVolume) {
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
TEST_F(SoundEndToEndTest, ABankUnloadedUnderAPlayingVoiceStopsItFirst) {
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
