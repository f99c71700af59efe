// What a plug-in inserted on a voice reads through its voice information while the voice plays from
// a bank: the parameters of the mixer its sound names, following the voice's game parameters and
// modulators; the volume matrices of its mix; and the play and game object it belongs to.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kVoiceInfoCompany = 77;
constexpr uint32_t kReaderKey = PluginKey(SnPluginType_Effect, kVoiceInfoCompany, 1);
constexpr uint32_t kBlendKey = PluginKey(SnPluginType_Mixer, kVoiceInfoCompany, 2);

// A mixer's parameters: the level its block holds and the last value a game parameter set.
class BlendParams final : public CopiedParams<BlendParams> {
 public:
  static inline int live = 0;
  BlendParams() { ++live; }
  BlendParams(const BlendParams& other) : CopiedParams(other), level(other.level) { ++live; }
  ~BlendParams() { --live; }
  SNRESULT Init(ISnPluginMemAlloc*, const void* block, uint32_t size) override {
    if (size == sizeof level) std::memcpy(&level, block, sizeof level);
    return SN_Success;
  }
  SNRESULT SetParam(uint32_t paramId, const void* value, uint32_t size) override {
    if (size == sizeof(float)) {
      lastParam = paramId;
      std::memcpy(&lastValue, value, sizeof lastValue);
      ++sets;
    }
    return SN_Success;
  }

  float level = 0.0f;
  uint32_t lastParam = 0xFFFFFFFFu;
  float lastValue = 0.0f;
  uint32_t sets = 0;
};

// The reader's own parameters: none.
class ReaderParams final : public CopiedParams<ReaderParams> {};

// One frame of what the reader saw.
struct Reading {
  ISnPluginParam* mixer = nullptr;
  float mixerLevel = 0.0f, mixerValue = 0.0f;
  uint32_t mixerSets = 0;
  uint32_t matrixFloats = 0;
  std::array<float, 8> first{}, second{};
  uint32_t playingId = 0, objectId = 0, nodeId = 0, positions = 0;
  uint8_t positioningType = 0xFF;
  SNRESULT secondPosition = SN_Success;
  uint32_t voiceModulators = 0;
};
std::vector<Reading>& VoiceReadings() {
  static std::vector<Reading> readings;
  return readings;
}

// An effect that reads its voice's information each frame and leaves the samples alone.
class Reader final : public WatchingEffect<Reader> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext* context, ISnPluginParam*, SnAudioFormat&) override {
    m_context = context;
    return SN_Success;
  }
  void ProcessInPlace(SnMixBuffer&) override {
    auto* info = static_cast<ISnVoiceInformation*>(m_context->GetVoiceInformation());
    Reading r;
    r.mixer = info->GetInputMixerParams();
    if (const auto* blend = static_cast<const BlendParams*>(r.mixer)) {
      r.mixerLevel = blend->level;
      r.mixerValue = blend->lastValue;
      r.mixerSets = blend->sets;
    }
    r.matrixFloats = info->GetVolumeMatrixFloats();
    r.first.fill(9.0f);
    r.second.fill(9.0f);
    info->GetVolumeMatrices(r.first.data(), r.second.data(), uint32_t(r.first.size()));
    r.playingId = info->GetPlayingId();
    r.objectId = info->GetGameObjectId();
    r.nodeId = info->GetNodeId();
    r.positions = info->GetNumGameObjectPositions();
    r.positioningType = info->GetPositioningType();
    SnSoundPosition position{};
    r.secondPosition = info->GetGameObjectPosition(1, position);
    if (CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance())
      r.voiceModulators = voice->Modulators().InstanceCount();
    VoiceReadings().push_back(r);
  }

 private:
  ISnEffectPluginContext* m_context = nullptr;
};

class VoiceInfoMixerTest : public SoundEndToEndTest {
 public:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    VoiceReadings().clear();
    ASSERT_EQ((RegisterTestEffect<Reader, ReaderParams>(kVoiceInfoCompany, 1)), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterPlugin(
                  SnPluginType_Mixer, kVoiceInfoCompany, 2, [](ISnPluginMemAlloc*) -> ISnPlugin* { return nullptr; },
                  [](ISnPluginMemAlloc* allocator) -> ISnPluginParam* { return PluginNew<BlendParams>(allocator); }),
              SN_Success);
  }
  void TearDown() override {
    SoundEndToEndTest::TearDown();
    VoiceReadings().clear();
  }

  // A tone whose sound carries the reader and names the mixer `blend` (its block the level 1.0).
  void LoadReaderBank(const std::string& blendCurve) {
    LoadOwnBank("platform Linux\n"
                "tone ReadTone 48000 1 100 440\n"
                "effect Reading plugin " + std::to_string(kReaderKey) + "\n"
                "effect Blend plugin " + std::to_string(kBlendKey) + " 0000803f " + blendCurve + "\n"
                "sound ReadTone ReadTone Effects effect Reading mixer Blend\n"
                "action Play_Read_Act 0x0403 ReadTone\n"
                "event Play_Read Play_Read_Act\n");
  }
};

// The mixer's copy is made once, for this voice: its block's level, the game parameter's value on
// the voice's object through the curve (0, 0)-(10, 20), not another object's. It goes with the voice.
TEST_F(VoiceInfoMixerTest, APluginOnAVoiceReadsItsMixersParametersForThatVoice) {
  LoadReaderBank("rtpc 3 Blend_Amount 0:0 10:20");
  const int before = BlendParams::live;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kObject + 1), SN_Success);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Blend_Amount", 2.5f, kObject), SN_Success);
  const uint32_t playingId = SoundEngine::PostEvent("Play_Read", kObject);
  ASSERT_NE(playingId, 0u);
  Frames(2);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Blend_Amount", 9.0f, kObject + 1), SN_Success);
  Frames(1);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Blend_Amount", 4.0f, kObject), SN_Success);
  Frames(1);
  ASSERT_GE(VoiceReadings().size(), 4u);
  const std::vector<Reading> readings = VoiceReadings();
  ASSERT_NE(readings[0].mixer, nullptr);
  EXPECT_EQ(BlendParams::live, before + 1);  // one copy, beside the definition's own
  CSnEffectDefinition* definition = FindEffectDefinition(SoundEngine::GetIDFromString("Blend"), true);
  ASSERT_NE(definition, nullptr);
  EXPECT_NE(readings[0].mixer, definition->Params());
  definition->Release();
  for (const Reading& r : readings) {
    EXPECT_EQ(r.mixer, readings[0].mixer);
    EXPECT_EQ(r.mixerLevel, 1.0f);
  }
  EXPECT_FLOAT_EQ(readings[0].mixerValue, 5.0f);
  EXPECT_FLOAT_EQ(readings[2].mixerValue, 5.0f);  // the other object's value is not this voice's
  EXPECT_FLOAT_EQ(readings[3].mixerValue, 8.0f);

  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(BlendParams::live, before);
  // Nothing is driven once the voice is gone (the sanitiser watches the freed copy).
  EXPECT_EQ(SoundEngine::SetRTPCValue("Blend_Amount", 1.0f, kObject), SN_Success);
  Frames(1);
}

// A modulator on the mixer's curve is made for the voice and joins its modulators (its only one: the
// sound has no curve of its own), so that the voice's pause and release reach it.
TEST_F(VoiceInfoMixerTest, AMixersModulatorJoinsTheVoiceItIsMadeFor) {
  LoadReaderBank("rtpc 3 modulator VolumeLfo 0:0 100:1");
  ASSERT_NE(SoundEngine::PostEvent("Play_Read", kObject), 0u);
  Frames(3);
  const std::vector<Reading> readings = VoiceReadings();
  ASSERT_GE(readings.size(), 3u);
  ASSERT_NE(readings[0].mixer, nullptr);
  for (size_t f = 1; f < readings.size(); ++f) EXPECT_EQ(readings[f].voiceModulators, 1u) << f;
  // And the mixer's parameter follows it through the curve: each frame the value the game object's
  // triangle had reached as the frame began, one hundredth of it.
  for (size_t f = 1; f < readings.size(); ++f) {
    EXPECT_GT(readings[f].mixerSets, readings[f - 1].mixerSets) << f;
    EXPECT_NEAR(readings[f].mixerValue, OutputTest::VolumeLfoValue(int64_t(f)) / 100.0, 1e-7) << f;
  }
}

// A sound that names no mixer gives none, and the voice's play: its playing id, object, sound and
// the object's one position. A mono voice centred on the stereo output: no matrix on its first
// frame, then the last frame's, each channel at the centre's share, the padding zero, the same
// before it (no ramp into a first frame); past the 4 floats the mix holds, zeros.
TEST_F(VoiceInfoMixerTest, APluginOnAVoiceReadsItsPlayAndTheMatricesOfItsMix) {
  LoadOwnBank("platform Linux\n"
              "tone ReadTone 48000 1 100 440\n"
              "effect Reading plugin " + std::to_string(kReaderKey) + "\n"
              "sound ReadTone ReadTone Effects effect Reading\n"
              "action Play_Read_Act 0x0403 ReadTone\n"
              "event Play_Read Play_Read_Act\n");
  const uint32_t playingId = SoundEngine::PostEvent("Play_Read", kObject);
  ASSERT_NE(playingId, 0u);
  Frames(3);
  const std::vector<Reading> readings = VoiceReadings();
  ASSERT_GE(readings.size(), 3u);
  const Reading& first = readings[0];
  EXPECT_EQ(first.mixer, nullptr);
  EXPECT_EQ(first.playingId, playingId);
  EXPECT_EQ(first.objectId, kObject);
  EXPECT_EQ(first.nodeId, SoundEngine::GetIDFromString("ReadTone"));
  EXPECT_EQ(first.positions, 1u);
  EXPECT_EQ(first.secondPosition, SN_Failure);
  EXPECT_EQ(first.positioningType, 0u);
  EXPECT_EQ(first.matrixFloats, 0u);
  for (size_t i = 0; i < first.first.size(); ++i) {
    EXPECT_EQ(first.first[i], 0.0f) << i;
    EXPECT_EQ(first.second[i], 0.0f) << i;
  }
  for (size_t f = 1; f < 3; ++f) {
    const Reading& r = readings[f];
    ASSERT_EQ(r.matrixFloats, 4u) << f;
    const float expected[8] = {float(kCentreToPair), float(kCentreToPair), 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_NEAR(r.first[i], expected[i], 1e-6) << "frame " << f << " float " << i;
      EXPECT_NEAR(r.second[i], expected[i], 1e-6) << "frame " << f << " float " << i;
    }
  }
}

}  // namespace
