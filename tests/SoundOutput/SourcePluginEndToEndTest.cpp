// A game's source plug-in played from a bank: the builder writes its parameter node and the sound
// that names it, the engine makes the plug-in from the node with a copy of the node's parameters, and
// a game parameter's curve reaches the live plug-in; samples it gives that are not finite or lie beyond
// +24 dB are held where they enter the voice, and a plug-in that gives nothing frame after frame is let
// go. The capture against the levels by hand.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "SoundEngine/Sources/PluginSource.h"
#include "tests/Support/WaveSamples.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kCompany = 79;
constexpr uint32_t kLevelKey = PluginKey(SnPluginType_Source, kCompany, 1);
constexpr uint32_t kLevelFrames = 8;  // how long the generator sounds

// Parameter 0: the level, from the bank's block of one float, then as its curve sets it.
class LevelParams final : public CopiedParams<LevelParams> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, const void* block, uint32_t size) override {
    if (size != sizeof level) return SN_Failure;
    std::memcpy(&level, block, sizeof level);
    return SN_Success;
  }
  SNRESULT SetParam(uint32_t paramId, const void* value, uint32_t size) override {
    if (paramId == 0 && size == sizeof level) std::memcpy(&level, value, sizeof level);
    return SN_Success;
  }
  float level = 0.0f;
};

// Mono at the rate offered, every sample at the level its parameters hold as the frame is made, once
// `Gives` says it gives: until then every buffer is ready and empty.
template <bool (*Gives)()>
class LevelSourceOf final : public TestSource<LevelSourceOf<Gives>> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnSourcePluginContext*, ISnPluginParam* params, SnMediaFormat&) override {
    m_params = static_cast<LevelParams*>(params);
    return m_params ? SN_Success : SN_Failure;
  }
  void Execute(SnVoiceBuffer& buffer) override {
    buffer.validFrames = 0;
    buffer.state = SN_DataReady;
    if (!Gives()) return;
    for (uint32_t i = 0; i < buffer.maxFrames; ++i) buffer.Plane(0)[i] = m_params->level;
    buffer.validFrames = buffer.maxFrames;
    buffer.state = ++m_buffers >= kLevelFrames ? SN_NoMoreData : SN_DataReady;
  }

 private:
  LevelParams* m_params = nullptr;
  uint32_t m_buffers = 0;
};
constexpr bool Always() { return true; }
using LevelSource = LevelSourceOf<Always>;

// A generator of the test's, its parameters those of the level generator.
template <typename Source>
SNRESULT RegisterSource(uint32_t pluginId) {
  return SoundEngine::RegisterPlugin(
      SnPluginType_Source, kCompany, pluginId,
      [](ISnPluginMemAlloc* allocator) -> ISnPlugin* { return PluginNew<Source>(allocator); },
      [](ISnPluginMemAlloc* allocator) -> ISnPluginParam* { return PluginNew<LevelParams>(allocator); });
}

class SourcePluginTest : public SoundEndToEndTest {
 public:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    ASSERT_EQ(RegisterSource<LevelSource>(1), SN_Success);
  }
  // The generator's node with `options` after its key, a sound of it on the effects bus (with
  // `soundOptions`), its event.
  void LoadLevelBank(const std::string& options, const std::string& soundOptions = "") {
    LoadOwnBank("platform Linux\n"
                "sourceplugin Level " + std::to_string(kLevelKey) + " " + options + "\n"
                "sound LevelSound Level Effects " + soundOptions + "\n"
                "action Play_Level_Act 0x0403 LevelSound\n"
                "event Play_Level Play_Level_Act\n");
  }
  // A mono level through a plain voice, in full scale.
  static double Heard(double level) { return level * kVoiceUnity * kCentreToPair; }
};

// A float as the bank's block holds it: its four bytes in hexadecimal, little-endian.
std::string BlockOf(float level) {
  uint8_t bytes[sizeof level];
  std::memcpy(bytes, &level, sizeof level);
  char hex[2 * sizeof level + 1];
  for (size_t i = 0; i < sizeof level; ++i) snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
  return hex;
}

// What the bus's effect below has summed of every sample it was given: its state, which a NaN or an
// infinity would never leave.
double g_keptSum = 0.0;

// A bus effect with a memory: it leaves the samples and sums them.
class Keeper final : public WatchingEffect<Keeper> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext*, ISnPluginParam*, SnAudioFormat&) override {
    return SN_Success;
  }
  void ProcessInPlace(SnMixBuffer& mix) override {
    for (uint32_t c = 0; c < ChannelCount(mix.channelConfig); ++c)
      for (uint32_t i = 0; i < mix.validFrames; ++i) g_keptSum += mix.samples[size_t(c) * mix.maxFrames + i];
  }
};
class KeeperParams final : public CopiedParams<KeeperParams> {};

// A level of the block, the sound's volume, what is heard at the voice's unity (the level as held,
// brought down by the volume) and whether it is held (and said).
struct HeldLevel {
  float level;
  int volumeDb;
  double heard;
  bool held;
};
void PrintTo(const HeldLevel& case_, std::ostream* out) { *out << "level " << case_.level << " at " << case_.volumeDb << " dB"; }

class HeldLevelTest : public SourcePluginTest, public ::testing::WithParamInterface<HeldLevel> {};

constexpr const char* kHeldLine = "samples that are not finite are silenced and those beyond +24 dB held";

// The plug-in's level every sample of its eight frames, through the sound's volume: what is not
// finite is silence and what lies beyond +24 dB is held to it, said once for the voice; +24 dB
// itself, what lies just inside it and a plug-in written at +6 dB for a voice at -6 dB sound as they
// are, unsaid. Within 1 LSB, and where the volume is not 0 dB within the engine's fast power of ten
// (0.25 percent) too.
TEST_P(HeldLevelTest, APluginsSamplesAreHeldToPlus24DecibelsWhereTheyEnterTheVoice) {
  const HeldLevel& case_ = GetParam();
  LoadLevelBank(BlockOf(case_.level), "volume " + std::to_string(case_.volumeDb));
  log_.Take();
  ASSERT_NE(SoundEngine::PostEvent("Play_Level", kObject), 0u);
  Frames(kLevelFrames + 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::string log = log_.Take();
  size_t said = 0;
  for (size_t at = log.find(kHeldLine); at != std::string::npos; at = log.find(kHeldLine, at + 1)) ++said;
  EXPECT_EQ(said, case_.held ? 1u : 0u) << log;
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), size_t(kLevelFrames + 1) * kFrame);
  const double heard = Heard(case_.heard);
  const double room = 1.0 + (case_.volumeDb ? 0.0025 * std::fabs(heard) * 32768.0 : 0.0);
  ExpectModel(planes, 0, [&](size_t t) { return t < kLevelFrames * kFrame ? heard : 0.0; }, room);
}

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kPlus24 = 15.848932f;  // 10^(24/20)
constexpr float kPlus6 = 1.9952623f;   // 10^(6/20)
INSTANTIATE_TEST_SUITE_P(
    Levels, HeldLevelTest,
    ::testing::Values(HeldLevel{kInfinity, 0, 0.0, true}, HeldLevel{-kInfinity, 0, 0.0, true},
                      HeldLevel{std::numeric_limits<float>::quiet_NaN(), 0, 0.0, true},
                      HeldLevel{3e38f, -24, 1.0, true}, HeldLevel{-1e6f, -24, -1.0, true},
                      HeldLevel{std::nextafter(kPlus24, 20.0f), -24, 1.0, true}, HeldLevel{kPlus24, -24, 1.0, false},
                      HeldLevel{std::nextafter(kPlus24, 0.0f), -24, 1.0, false},
                      HeldLevel{-kPlus24, -24, -1.0, false}, HeldLevel{kPlus6, -6, 1.0, false},
                      HeldLevel{-kPlus6, -6, -1.0, false}, HeldLevel{1.0f, 0, 1.0, false},
                      HeldLevel{-1.0f, 0, -1.0, false}, HeldLevel{std::nextafter(1.0f, 2.0f), 0, 1.0, false}));

// A NaN voice and then a level on a bus whose effect keeps a sum: the NaN reaches the bus as silence,
// so the effect's state stays 0 and then sums the level alone, and the level is heard through the bus.
TEST_F(SourcePluginTest, ANaNFromASourcePluginNeverReachesTheStateOfABusEffect) {
  g_keptSum = 0.0;
  ASSERT_EQ((RegisterTestEffect<Keeper, KeeperParams>(kCompany, 3)), SN_Success);
  const std::string key = std::to_string(kLevelKey);
  LoadOwnBank("platform Linux\n"
              "sourceplugin Bad " + key + " " + BlockOf(std::numeric_limits<float>::quiet_NaN()) + "\n"
              "sourceplugin Good " + key + " " + BlockOf(0.5f) + "\n"
              "effect Keeping plugin " + std::to_string(PluginKey(SnPluginType_Effect, kCompany, 3)) + "\n"
              "bus KeepBus MasterBus effect Keeping\n"
              "sound BadSound Bad KeepBus\nsound GoodSound Good KeepBus\n"
              "action Play_Bad_Act 0x0403 BadSound\nevent Play_Bad Play_Bad_Act\n"
              "action Play_Good_Act 0x0403 GoodSound\nevent Play_Good Play_Good_Act\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_Bad", kObject), 0u);
  Frames(kLevelFrames + 2);
  EXPECT_EQ(g_keptSum, 0.0) << "the NaN reached the bus's effect";
  ASSERT_NE(SoundEngine::PostEvent("Play_Good", kObject), 0u);
  Frames(kLevelFrames + 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_TRUE(std::isfinite(g_keptSum)) << g_keptSum;
  EXPECT_GT(g_keptSum, 0.0);
  const auto planes = Capture();
  const size_t from = (kLevelFrames + 2) * kFrame;
  ASSERT_GE(planes[0].size(), from + size_t(kLevelFrames + 1) * kFrame);
  // A bus with an effect mixes in a stage of its own: its 0 dB into its parent is one more fast unity.
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < from || t >= from + kLevelFrames * kFrame) return 0.0;
    return Heard(0.5) * kFastUnity;
  });
}

// The level of the bank's block (0.5, little-endian 0x3F000000), every sample of its eight frames.
TEST_F(SourcePluginTest, ASoundPlaysItsSourcePluginWithTheNodesParameters) {
  LoadLevelBank("0000003f");
  ASSERT_NE(SoundEngine::PostEvent("Play_Level", kObject), 0u);
  Frames(kLevelFrames + 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), size_t(kLevelFrames + 1) * kFrame);
  ExpectModel(planes, 0, [](size_t t) { return t < kLevelFrames * kFrame ? Heard(0.5) : 0.0; });
}

// A curve of parameter 0 over "SourceLevel" (0 to 1 onto 0.25 to 0.75): the voice begins at the
// object's value of 0, and the value set for its object after three frames is heard from the fourth,
// the whole frame; a value set for another object changes nothing.
TEST_F(SourcePluginTest, AGameParameterCurveReachesTheLivePlugin) {
  LoadLevelBank("0000003f rtpc 0 SourceLevel 0:0.25 1:0.75");
  ASSERT_EQ(SoundEngine::RegisterGameObj(kObject + 1), SN_Success);
  ASSERT_EQ(SoundEngine::SetRTPCValue("SourceLevel", 0.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Level", kObject), 0u);
  Frames(3);
  ASSERT_EQ(SoundEngine::SetRTPCValue("SourceLevel", 1.0f, kObject), SN_Success);
  ASSERT_EQ(SoundEngine::SetRTPCValue("SourceLevel", 0.5f, kObject + 1), SN_Success);
  Frames(kLevelFrames);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const auto planes = Capture();
  ASSERT_GE(planes[0].size(), size_t(kLevelFrames + 1) * kFrame);
  ExpectModel(planes, 0, [](size_t t) {
    if (t >= kLevelFrames * kFrame) return 0.0;
    return Heard(t < 3 * kFrame ? 0.25 : 0.75);
  });
}

constexpr uint32_t kLateKey = PluginKey(SnPluginType_Source, kCompany, 4);

// Whether the late generator gives its level yet.
bool g_lateGives = false;
bool LateGives() { return g_lateGives; }
using LateSource = LevelSourceOf<LateGives>;

class StarvingPluginTest : public SourcePluginTest {
 public:
  void SetUp() override {
    SourcePluginTest::SetUp();
    g_lateGives = false;
    ASSERT_EQ(RegisterSource<LateSource>(4), SN_Success);
    LoadOwnBank("platform Linux\nsourceplugin Late " + std::to_string(kLateKey) + " " + BlockOf(0.5f) + "\n"
                "sound LateSound Late Effects\naction Play_Late_Act 0x0403 LateSound\nevent Play_Late Play_Late_Act\n");
    log_.Take();
  }
  // How often the log says a plug-in starved.
  size_t StarvedLines() {
    const std::string log = log_.Take();
    size_t said = 0;
    for (size_t at = log.find(kStarvedLine); at != std::string::npos; at = log.find(kStarvedLine, at + 1)) ++said;
    return said;
  }
  static constexpr const char* kStarvedLine = "has given no sample for 8 frames: it starves, and its voice is let go";
};

// Four plays of the generator that gives ready buffers with nothing in them: their voices are silent
// and kept for seven frames, unsaid, and let go in the eighth, said once; had the generator something
// after that, nothing of it is heard.
TEST_F(StarvingPluginTest, APluginThatGivesNothingForEightFramesIsLetGo) {
  for (int play = 0; play < 4; ++play) ASSERT_NE(SoundEngine::PostEvent("Play_Late", kObject), 0u);
  Frames(7);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 4u);
  EXPECT_EQ(StarvedLines(), 0u);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  // Said once for the plug-in's node, the other three voices counted in it.
  const std::string line = "[Warning][Audio] Source plug-in " + std::to_string(SoundEngine::GetIDFromString("Late")) +
                           " " + kStarvedLine;
  EXPECT_EQ(log_.Take(), line + "\n" + line + " (and 3 more like it)\n");
  g_lateGives = true;
  Frames(2);
  ExpectModel(Capture(), 0, [](size_t) { return 0.0; });
}

// One that gives after seven empty frames keeps its voice: its level is heard from the eighth frame
// for its eight frames, unsaid.
TEST_F(StarvingPluginTest, APluginThatGivesAfterSevenEmptyFramesIsHeard) {
  ASSERT_NE(SoundEngine::PostEvent("Play_Late", kObject), 0u);
  Frames(7);
  g_lateGives = true;
  Frames(kLevelFrames + 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(StarvedLines(), 0u);
  ExpectModel(Capture(), 0, [](size_t t) { return t >= 7 * kFrame && t < (7 + kLevelFrames) * kFrame ? Heard(0.5) : 0.0; });
}

constexpr uint32_t kTableKey = PluginKey(SnPluginType_Source, kCompany, 2);

// What the table player's media look-ups gave it: "Nowhere", media no bank holds, and the frames it
// has played.
size_t g_tableFramesPlayed = 0;
const uint8_t* g_nowhereData = reinterpret_cast<const uint8_t*>(1);
uint32_t g_nowhereSize = 1;

// Mono at the rate offered: the samples of the media its voice finds under the id of "Table", read
// from those bytes frame by frame.
class TableSource final : public TestSource<TableSource> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnSourcePluginContext* context, ISnPluginParam*, SnMediaFormat&) override {
    context->GetMedia(SoundEngine::GetIDFromString("Table"), m_data, m_size);
    context->GetMedia(SoundEngine::GetIDFromString("Nowhere"), g_nowhereData, g_nowhereSize);
    return SN_Success;
  }
  void Execute(SnVoiceBuffer& buffer) override {
    const std::vector<int16_t> samples =
        m_data ? OrvTest::WaveDataSamples(std::vector<uint8_t>(m_data, m_data + m_size)) : std::vector<int16_t>{};
    buffer.validFrames = 0;
    for (; buffer.validFrames < buffer.maxFrames && m_at < samples.size(); ++buffer.validFrames)
      buffer.Plane(0)[buffer.validFrames] = float(samples[m_at++] / 32768.0);
    g_tableFramesPlayed = m_at;
    buffer.state = m_at >= samples.size() ? SN_NoMoreData : SN_DataReady;
  }

 private:
  const uint8_t* m_data = nullptr;
  uint32_t m_size = 0;
  size_t m_at = 0;
};

// A 64 ms tone no sound plays, in the bank with the table player's node: the player finds the
// tone's bytes by its media id and plays them sample for sample; media of an id no bank holds is
// null and empty.
class TablePluginTest : public SourcePluginTest {
 public:
  void SetUp() override {
    SourcePluginTest::SetUp();
    g_tableFramesPlayed = 0;
    ASSERT_EQ(RegisterSource<TableSource>(2), SN_Success);
  }
  // The table player's sound and event, with `tone` in the same bank.
  void LoadPlayerBank(const std::string& tone) {
    LoadOwnBank("platform Linux\n" + tone + "sourceplugin Player " + std::to_string(kTableKey) + " 00000000\n"
                "sound PlayerSound Player Effects\n"
                "action Play_Player_Act 0x0403 PlayerSound\nevent Play_Player Play_Player_Act\n");
  }
};

TEST_F(TablePluginTest, ASourcePluginFindsTheBanksMediaByItsId) {
  LoadPlayerBank("tone Table 48000 1 64 440\n");
  ASSERT_NE(SoundEngine::PostEvent("Play_Player", kObject), 0u);
  Frames(5);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_nowhereData, nullptr);
  EXPECT_EQ(g_nowhereSize, 0u);
  const std::vector<double> table = OwnMedia("Table");
  ASSERT_EQ(table.size(), 3u * kFrame);
  const auto planes = Capture();
  ExpectModel(planes, 0, [&](size_t t) { return Heard(At(table, t)); });
}

// The table in a bank of its own, unloaded after the player's first frame, its bytes then written
// over: the player cannot follow its media elsewhere, so its voice ends before the bytes go, and
// nothing of them is heard.
TEST_F(TablePluginTest, APluginsMediaThatGoesEndsItsVoiceFirst) {
  Tools::BankDescription tables;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("platform Linux\ntone Table 48000 1 64 440\n", "TableBank", tables, error)) << error;
  std::vector<uint8_t> image = Tools::WriteBank(tables);
  uint32_t tableBank = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), tableBank), SN_Success);
  LoadPlayerBank("");
  ASSERT_NE(SoundEngine::PostEvent("Play_Player", kObject), 0u);
  Frames(1);
  ASSERT_EQ(g_tableFramesPlayed, size_t(kFrame));
  ASSERT_EQ(SoundEngine::UnloadBank(tableBank, image.data()), SN_Success);
  std::fill(image.begin(), image.end(), uint8_t(0x5A));
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_tableFramesPlayed, size_t(kFrame));
  const std::vector<double> table = OrvTest::ToneSamples(tables, "Table");
  ExpectModel(Capture(), 0, [&](size_t t) { return t < kFrame ? Heard(At(table, t)) : 0.0; });
}

}  // namespace
