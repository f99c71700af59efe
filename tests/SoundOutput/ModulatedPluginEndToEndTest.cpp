// Modulators reaching plug-in parameters while sounds play from banks: an LFO on a bus's gain effect
// shapes the bus frame by frame, and an envelope on a voice's insert gives each voice its own value.
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kModulatedCompany = 78;
constexpr uint32_t kProbeKey = PluginKey(SnPluginType_Effect, kModulatedCompany, 1);

// A 3 Hz triangle from a quarter period at full depth, no fade-in: its value after `frames` frames of
// its life, worked out here from the waveform alone.
double TriangleAfter(int64_t frames) {
  if (frames <= 0) return 0.0;
  const double phase = std::fmod(0.25 + double(frames * int64_t(kFrame)) * 3.0 / 48000.0, 1.0);
  return phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
}

// The level the probe's parameter 0 holds, as its curve last set it.
class ProbeParams final : public CopiedParams<ProbeParams> {
 public:
  SNRESULT SetParam(uint32_t paramId, const void* value, uint32_t size) override {
    if (paramId == 0 && size == sizeof level) std::memcpy(&level, value, sizeof level);
    return SN_Success;
  }
  float level = -1.0f;
};

// What each voice's probe read, frame by frame, by playing id.
std::map<uint32_t, std::vector<float>>& Readings() {
  static std::map<uint32_t, std::vector<float>> readings;
  return readings;
}

// An insert that notes its parameter each frame under its voice's playing id and leaves the samples.
class Probe final : public WatchingEffect<Probe> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext* context, ISnPluginParam* params, SnAudioFormat&) override {
    m_context = context;
    m_params = static_cast<ProbeParams*>(params);
    return SN_Success;
  }
  void ProcessInPlace(SnMixBuffer&) override {
    auto* info = static_cast<ISnVoiceInformation*>(m_context->GetVoiceInformation());
    Readings()[info->GetPlayingId()].push_back(m_params->level);
  }

 private:
  ISnEffectPluginContext* m_context = nullptr;
  ProbeParams* m_params = nullptr;
};

class ModulatedPluginTest : public SoundEndToEndTest {
 public:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    Readings().clear();
    ASSERT_EQ((RegisterTestEffect<Probe, ProbeParams>(kModulatedCompany, 1)), SN_Success);
  }
  void TearDown() override {
    SoundEndToEndTest::TearDown();
    Readings().clear();
  }
};

// A global triangle on the bus's built-in gain (0 dB at rest, -12 dB at full swing): every frame of the
// bus is the tone times the gain of the triangle's value that frame, sample for sample. Played twice,
// the second play meets the same single instance, still running.
TEST_F(ModulatedPluginTest, AnLfoOnABusGainEffectShapesTheBusFrameByFrame) {
  LoadOwnBank("platform Linux\n"
              "tone LfoTone 48000 1 200 1000\n"
              "modulator lfo BusLfo 0=3 2=100 3=0 4=3 5=1\n"
              "effect BusGain gain 0 rtpc 0 modulator BusLfo 0:0 1:-12\n"
              "bus LfoBus MasterBus effect BusGain\n"
              "sound LfoTone LfoTone LfoBus\n"
              "action Play_LfoTone_Act 0x0403 LfoTone\n"
              "event Play_LfoTone Play_LfoTone_Act\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_LfoTone", kObject), 0u);
  Frames(12);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("LfoTone");
  ASSERT_EQ(tone.size(), 9600u);
  // The bus's effect and the triangle's instance are made in the voice's first frame, which keeps the
  // effect's own 0 dB; every later frame hears the value the triangle had reached as it began. A bus
  // with an effect mixes in a stage of its own: its 0 dB into its parent is one more fast unity.
  ExpectModel(planes, 0, [&](size_t t) {
    const double dB = -12.0 * TriangleAfter(int64_t(t / kFrame));
    return At(tone, t) * kVoiceUnity * kFastUnity * kCentreToPair * std::pow(10.0, dB / 20.0);
  });
}

// Per voice, an envelope on each voice's insert: two plays of the sound a few frames apart each get
// their own instance from their own start, so at the same moment they read different values, and
// frame for frame of their own lives the same ones, rising through the attack to the held sustain.
TEST_F(ModulatedPluginTest, AnEnvelopeOnAVoiceInsertGivesEachVoiceItsOwnValue) {
  LoadOwnBank("platform Linux\n"
              "tone ProbeTone 48000 1 400 500\n"
              "modulator envelope ProbeEnvelope 0=0 9=0.1 10=50 11=0.05 12=40 13=-1 14=0.1\n"
              "effect Probing plugin " + std::to_string(kProbeKey) +
              " rtpc 0 modulator ProbeEnvelope 0:0 1:100\n"
              "sound ProbeTone ProbeTone Effects effect Probing\n"
              "action Play_Probe_Act 0x0403 ProbeTone\n"
              "event Play_Probe Play_Probe_Act\n");
  const uint32_t first = SoundEngine::PostEvent("Play_Probe", kObject);
  ASSERT_NE(first, 0u);
  Frames(3);
  const uint32_t second = SoundEngine::PostEvent("Play_Probe", kObject);
  ASSERT_NE(second, 0u);
  Frames(10);
  const std::vector<float> a = Readings()[first];
  const std::vector<float> b = Readings()[second];
  ASSERT_GE(a.size(), 12u);
  ASSERT_GE(b.size(), 9u);
  // Its own life: the same values frame for frame.
  for (size_t f = 0; f < b.size() && f < a.size(); ++f) EXPECT_FLOAT_EQ(a[f], b[f]) << "frame " << f;
  // The same moment: the earlier voice is further on. The attack (4800 samples) rises over five frames
  // and the decay (2400) falls to the sustain of 40 within three more.
  EXPECT_GT(a[3], b[0]);
  EXPECT_GT(a[1], a[0]);
  EXPECT_GT(a[0], 0.0f);
  EXPECT_LE(a[0], 100.0f);
  EXPECT_NEAR(a[4], 100.0f, 100.0f * 1024.0f / 4800.0f);
  for (size_t f = 9; f < a.size(); ++f) EXPECT_FLOAT_EQ(a[f], 40.0f) << "frame " << f;
  // Two voices, two instances.
  CSnModulatorObject* envelope = static_cast<CSnModulatorObject*>(FindModulatorAndAddRef(
      SoundEngine::GetIDFromString("ProbeEnvelope")));
  ASSERT_NE(envelope, nullptr);
  EXPECT_EQ(envelope->InstanceCount(), 2u);
  EXPECT_EQ(envelope->SubscriptionCount(), 2u);
  envelope->Release();
}

}  // namespace
