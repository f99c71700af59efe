// The end-to-end fixture of the sound output: the game's banks as the build writes them, the engine
// on the null output, frames rendered on the test's thread, the output capture read back by a reader
// of the test's own, and the gains a plain voice meets worked out by hand.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "SoundEngine/Sources/PluginSource.h"
#include "tests/SoundOutput/OutputTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

namespace EndToEnd {

using namespace SN;
using OutputTest::OutputFixture;
using OutputTest::DataSamples;
using OutputTest::ReadFileBytes;

constexpr uint32_t kObject = 7;
constexpr uint32_t kFrame = 1024;
using OrvTest::kCentreToPair;
using OrvTest::kFastUnity;
using OrvTest::kVoiceUnity;

// The engine's fast decibel conversion worked step by step in float, as its description gives it:
// the exponent trick on 10^(dB / 20) and a second-order polynomial of the mantissa.
inline double FastDb(float dB) {
  const float x = dB * 0.05f;
  if (x < -37.0f) return 0.0;
  const int64_t i = int64_t(x * 27866352.0f + 1065353216.0f);
  const uint32_t exponentBits = uint32_t(i) & ~0x7FFFFFu, mantissaBits = (uint32_t(i) & 0x7FFFFFu) | 0x3F800000u;
  float e = 0.0f, m = 0.0f;
  std::memcpy(&e, &exponentBits, sizeof e);
  std::memcpy(&m, &mantissaBits, sizeof m);
  return ((double(m) * 0.32518977 + 0.020805772) * double(m) + 0.65304345) * double(e);
}

// The loudest sample of each frame of a plane.
inline std::vector<double> FramePeaks(const std::vector<double>& plane) {
  std::vector<double> peaks;
  for (size_t at = 0; at + kFrame <= plane.size(); at += kFrame) {
    double peak = 0.0;
    for (size_t i = at; i < at + kFrame; ++i) peak = std::max(peak, std::fabs(plane[i]));
    peaks.push_back(peak);
  }
  return peaks;
}

// The whole frames a fade of `ms` lasts on the transition clock, which counts whole milliseconds of
// a frame (21 for 1024 samples at 48 kHz).
inline size_t FadeFrames(size_t ms) {
  const size_t frameMs = kFrame * 1000 / 48000;
  return (ms + frameMs - 1) / frameMs;
}
// At output sample `t`, the gain of a fade stepped once a frame from frame `from` over `frames` frames
// along `curve` (0..1 onto 0..1): each frame ramps from its start value to its end value, except a
// voice's first frame (`voiceFrame`), which has its end value throughout.
inline double SteppedFade(size_t t, size_t from, size_t frames, double (*curve)(double), size_t voiceFrame = SIZE_MAX) {
  auto step = [&](size_t frame) {
    return curve(frame <= from ? 0.0 : std::min(1.0, double(frame - from) / double(frames)));
  };
  const size_t frame = t / kFrame;
  if (frame == voiceFrame) return step(frame + 1);
  const double start = step(frame), end = step(frame + 1);
  return start + (end - start) * double(t % kFrame) / double(kFrame);
}
inline double Rising(double u) { return u; }
inline double Falling(double u) { return 1.0 - u; }

// A test's in-place effect plug-in that leaves the samples alone: what it watches is its own.
template <typename Self>
class WatchingEffect : public ISnEffectPlugin {
 public:
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, static_cast<Self*>(this));
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = {SnPluginType_Effect, 1, 0};
    return SN_Success;
  }
};

// A test's source plug-in: what every generator does alike (no duration, no seeking) is here.
template <typename Derived>
class TestSource : public ISnSourcePlugin {
 public:
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, static_cast<Derived*>(this));
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Source, 0, 0};
    return SN_Success;
  }
  SNRESULT QueryFormat(SnMediaFormat&) override { return SN_Success; }
  float GetDuration() const override { return 0.0f; }
  SNRESULT StopLooping() override { return SN_Success; }
  SNRESULT TimeSkip(uint32_t&) override { return SNRESULT(0); }
  SNRESULT Seek(float) override { return SN_Success; }
  float GetEnvelope() const override { return 1.0f; }
};

// A test plug-in's parameters, copied whole for every slot that uses them.
template <typename Self>
class CopiedParams : public ISnPluginParam {
 public:
  ISnPluginParam* Clone(ISnPluginMemAlloc* allocator) override {
    return PluginNew<Self>(allocator, *static_cast<Self*>(this));
  }
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, static_cast<Self*>(this));
    return SN_Success;
  }
};

// Registers a test's effect plug-in and its parameters under (company, plug-in id); the engine's Term
// forgets it with every other registration.
template <typename Plugin, typename Params>
SNRESULT RegisterTestEffect(uint32_t company, uint32_t pluginId) {
  return SoundEngine::RegisterPlugin(
      SnPluginType_Effect, company, pluginId,
      [](ISnPluginMemAlloc* allocator) -> ISnPlugin* { return PluginNew<Plugin>(allocator); },
      [](ISnPluginMemAlloc* allocator) -> ISnPluginParam* { return PluginNew<Params>(allocator); });
}

// A dynamic sequence on `object` playing each of `items` (a node's name and the wait before it in ms)
// in turn: its id, 0 when it could not be set going.
inline uint32_t PlayDynamicSequence(uint32_t object, std::initializer_list<std::pair<const char*, uint32_t>> items) {
  namespace Seq = SoundEngine::DynamicSequence;
  const uint32_t id = Seq::Open(object);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(Seq::Play(id), SN_Success);
  Seq::Playlist* playlist = Seq::LockPlaylist(id);
  EXPECT_NE(playlist, nullptr);
  if (!playlist) return 0;
  for (const auto& [node, waitMs] : items) EXPECT_TRUE(playlist->Enqueue(SoundEngine::GetIDFromString(node), waitMs));
  EXPECT_EQ(Seq::UnlockPlaylist(id), SN_Success);
  return id;
}

// A bank of one looping tone, played by the event "Play_<name>".
inline std::string LoopingBankText(const std::string& name, uint32_t hz) {
  return "platform Linux\ntone " + name + " 48000 1 200 " + std::to_string(hz) + "\nsound " + name + " " + name +
         " Effects loop 0\naction Play_" + name + "_Act 0x0403 " + name + "\nevent Play_" + name + " Play_" + name +
         "_Act\n";
}

// The answers a bank call's callback got: how many, and the last result.
struct BankAnswers {
  std::atomic<int> count{0};
  std::atomic<int> result{0};
  static void Record(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto* self = static_cast<BankAnswers*>(cookie);
    self->result = int(result);
    self->count.fetch_add(1);
  }
};

class SoundEndToEndTest : public OutputFixture {
 public:
  void SetUp() override {
    OutputFixture::SetUp();
    for (const char* name : {"Init", "GeneralBank"})
      std::filesystem::copy_file(std::string("Sound/Banks/") + name + ".bnk", Path(std::string(name) + ".bnk"));
    std::string error;
    ASSERT_TRUE(Tools::ReadBankTextFile("content/banks/GeneralBank.txt", general_, error)) << error;
    BeforeInit();
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Success);
    ASSERT_EQ(SoundEngine::StartOutputCapture(u"capture.wav"), SN_Success);
  }

  // A fixture's changes to the settings the engine starts with (another sink, a smaller pool).
  virtual void BeforeInit() {}

  // Frames of the null output's clock, each rendered.
  void Frames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(OutputTest::RenderNullFrame(), SN_Success);
    }
  }
  // The event posted on the object placed 10 m ahead of the listener, two frames rendered: the voice
  // it plays, or null.
  CSnPlaybackInstance* PlayTenMetresAhead(const char* event) {
    const SnSoundPosition position{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
    EXPECT_EQ(SoundEngine::SetPosition(kObject, position), SN_Success);
    EXPECT_NE(SoundEngine::PostEvent(event, kObject), 0u);
    Frames(2);
    return VoiceManager::FirstActiveInstance();
  }
  // Ends the capture and reads the file back: left and right planes.
  std::array<std::vector<double>, 2> Capture(const char* name = "capture.wav") {
    EXPECT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
    Frames(1);
    const std::vector<int16_t> samples = DataSamples(ReadFileBytes(Path(name)));
    std::array<std::vector<double>, 2> planes;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
      planes[0].push_back(samples[i]);
      planes[1].push_back(samples[i + 1]);
    }
    return planes;
  }
  // The samples of a tone's media, as the bank holds them, as floats in -1..1.
  std::vector<double> Media(const char* tone) const {
    std::vector<double> samples = OrvTest::ToneSamples(general_, tone);
    if (samples.empty()) samples = OrvTest::ToneSamples(ownDescription_, tone);
    EXPECT_FALSE(samples.empty()) << tone;
    return samples;
  }
  // The same of the test's own bank.
  std::vector<double> OwnMedia(const char* tone) const {
    std::vector<double> samples = OrvTest::ToneSamples(ownDescription_, tone);
    EXPECT_FALSE(samples.empty()) << tone;
    return samples;
  }
  static double At(const std::vector<double>& samples, size_t t) { return t < samples.size() ? samples[t] : 0.0; }
  // Every sample of both planes from `from` on, in 16-bit units, against `model`; 1 LSB of room
  // unless told.
  static void ExpectModel(const std::array<std::vector<double>, 2>& planes, size_t from,
                          const std::function<double(size_t)>& model, double lsb = 1.0) {
    for (int c = 0; c < 2; ++c)
      for (size_t i = from; i < planes[c].size(); ++i)
        ASSERT_NEAR(planes[c][i], model(i - from) * 32768.0, lsb) << "channel " << c << " sample " << i;
  }

  // A bank of the test's own beside the game's, from bank text, loaded from memory it keeps.
  void LoadOwnBank(const std::string& text) {
    Tools::BankDescription& bank = ownDescription_;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(text, "TimingBank", bank, error)) << error;
    own_ = Tools::WriteBank(bank);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(own_.data(), uint32_t(own_.size()), id), SN_Success) << log_.Take();
  }

  // A continuous sequence of two tones, SeqA (1 kHz, three frames unless told) then SeqB (500 Hz), with
  // the given options, posted after one frame and rendered for `frames` more: the capture's planes.
  std::array<std::vector<double>, 2> PlaySequence(const std::string& options, uint32_t frames, uint32_t msA = 64,
                                                  uint32_t msB = 64) {
    LoadOwnBank("platform Linux\n"
                "tone SeqA 48000 1 " + std::to_string(msA) + " 1000\n"
                "tone SeqB 48000 1 " + std::to_string(msB) + " 500\n"
                "sound SeqA SeqA Effects\n"
                "sound SeqB SeqB Effects\n"
                "sequence Seq Effects SeqA SeqB continuous " + options + "\n"
                "action Play_Seq_Act 0x0403 Seq\n"
                "event Play_Seq Play_Seq_Act\n");
    Frames(1);
    EXPECT_NE(SoundEngine::PostEvent("Play_Seq", kObject), 0u);
    Frames(frames);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    return Capture();
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

  // A bank image from bank text, for loading in place: the fixture keeps it until the engine is gone.
  std::vector<uint8_t>& BankImage(const std::string& text, const char* name) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, name, bank, error)) << error;
    return Keep(Tools::WriteBank(bank));
  }
  std::vector<uint8_t>& Keep(std::vector<uint8_t> image) { return images_.emplace_back(std::move(image)); }

  // The playing voice's media lies in `image`.
  static bool ReadsFrom(const std::vector<uint8_t>& image) {
    const CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
    if (!voice || !voice->MediaData()) return false;
    const uint8_t* media = voice->MediaData();
    return media >= image.data() && media + voice->MediaSize() <= image.data() + image.size();
  }

  Tools::BankDescription general_;
  Tools::BankDescription ownDescription_;
  std::vector<uint8_t> own_;
  std::deque<std::vector<uint8_t>> images_;
};

// Each captured frame's loudest sample of a steady level of 0.5 from the centre against the summed
// gains `at` gives it, within `room` of the level: the engine's fast power of ten.
inline void ExpectPeaks(SoundEndToEndTest& test, size_t frames, const std::function<double(size_t)>& at, double room) {
  const std::vector<double> peaks = FramePeaks(test.Capture()[0]);
  ASSERT_GE(peaks.size(), frames);
  const double full = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
  for (size_t f = 0; f < frames; ++f) ASSERT_NEAR(peaks[f], full * at(f), room * full) << "frame " << f;
}

}  // namespace EndToEnd
