// The bank builder's buses, sounds and attenuations against bytes laid out by hand from the bank
// format, the directives it refuses, and the game's banks read by the engine's own loaders.
#include <algorithm>
#include <cstring>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/Hierarchy/Attenuation.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/EffectWriter.h"

namespace {

using BankTest::Build;
using BankTest::Bytes;

using BankTest::kTestBankId;
constexpr uint32_t kMaxDuckDefault = 0xC2C0999A;  // -96.3
constexpr uint32_t kMinus3 = 0xC0400000, kMinus6 = 0xC0C00000, kMinus1 = 0xBF800000, kMinusHalf = 0xBF000000;
constexpr uint32_t k90 = 0x42B40000, k180 = 0x43340000, k20 = 0x41A00000, k10 = 0x41200000, k100 = 0x42C80000;

Bytes Hierarchy(uint32_t size, uint32_t count) {
  return Bytes().Tag("BKHD").U32(20).U32(113).U32(kTestBankId).Zeros(12).Tag("HIRC").U32(size).U32(count);
}

TEST(HierarchyGolden, ABusAfterItsParentWithItsOptionsAndDucks) {
  const Bytes master = Bytes()
                           .U32(1).U32(0)          // id, no parent
                           .U8(0)                  // no properties
                           .U8(0).U8(0).U16(0)     // mix-stage overrides, voice flags, maximum
                           .U32(0).U8(0)           // channel configuration, state flag
                           .U32(0).U32(kMaxDuckDefault).U32(0)  // recovery, max duck, no ducks
                           .U8(0)                  // no effects
                           .U32(0).U8(0)           // no mixer
                           .U8(0).U16(0).U32(0);   // flag, no curves, no state groups
  const Bytes music = Bytes()
                          .U32(2).U32(1)
                          .U8(2).U8(0).U8(5).U32(kMinus3).U32(kMinus6)
                          .U8(0).U8(0x08).U16(0)  // background music
                          .U32(0x0000A102).U8(0)
                          .U32(100).U32(kMinus6).U32(1)
                          .U32(3).U32(kMinus6).U32(10).U32(20).U8(4).U8(5)
                          .U8(0).U32(0).U8(0).U8(0).U16(0).U32(0);
  ASSERT_EQ(master.b.size(), 43u);
  const Bytes expected = Hierarchy(4 + 5 + 43 + 5 + uint32_t(music.b.size()), 2)
                             .U8(8).U32(43).Append(master.b)
                             .U8(20).U32(uint32_t(music.b.size())).Append(music.b);
  EXPECT_EQ(Build("bus @1 -\n"
                  "bus @2 @1 ownmix music volume -3 busvolume -6 channels 41218 recovery 100 maxduck -6 "
                  "duck @3 -6 10 20 4 5\n"),
            expected.b);
}

// A curve named after a bus is written into the bus's payload, where the bus reader looks for it:
// after the last flag, before the state groups; the bus keeps its place among the objects.
TEST(HierarchyGolden, ABussCurvesAreWrittenIntoItsPayloadInItsPlace) {
  const Bytes bus = Bytes()
                        .U32(1).U32(0)
                        .U8(1).U8(0).U32(kMinus3)  // volume -3
                        .U8(0).U8(0).U16(0).U32(0).U8(0)
                        .U32(0).U32(kMaxDuckDefault).U32(0)
                        .U8(0).U32(0).U8(0).U8(0)
                        .U16(2)
                        .U32(9).U8(0).U8(0).U8(0).U32(1).U8(0).U16(2)  // volume over game parameter 9
                        .U32(0).U32(0).U32(4).U32(k100).U32(kMinus6).U32(4)
                        .U32(7).U8(0).U8(0).U8(29).U32(2).U8(0).U16(1)  // parameter 29 over game parameter 7
                        .U32(0).U32(kMinus1).U32(4)
                        .U32(0);
  const Bytes second = Bytes().U32(2).U32(1).U8(0).U8(0).U8(0).U16(0).U32(0).U8(0).U32(0).U32(kMaxDuckDefault)
                           .U32(0).U8(0).U32(0).U8(0).U8(0).U16(0).U32(0);
  const Bytes expected = Hierarchy(4 + 5 + uint32_t(bus.b.size()) + 5 + uint32_t(second.b.size()), 2)
                             .U8(16).U32(uint32_t(bus.b.size())).Append(bus.b)
                             .U8(16).U32(uint32_t(second.b.size())).Append(second.b);
  EXPECT_EQ(Build("motionbus @1 - volume -3\nmotionbus @2 @1\nrtpc @1 volume @9 0:0 100:-6\nrtpc @1 29 @7 0:-1\n"),
            expected.b);
}

TEST(HierarchyGolden, ASoundsCurvesOverAGameParameterAndAModulator) {
  const uint32_t toneId = BankTest::Id("T");
  constexpr uint32_t kMinus1200 = 0xC4960000, k1200 = 0x44960000, k1 = 0x3F800000;
  const Bytes sound = Bytes()
                          .U32(5)
                          .U32(0x00010001).U8(0).U32(toneId).U32(84).U8(0)
                          .U8(0).U8(0)
                          .U8(0).U32(1).U32(0)
                          .U8(0).U8(0).U8(0)                                // no properties, no ranges
                          .U8(0).U8(0).U8(0).U8(0).U16(0).U8(0).U8(0)
                          .U32(0)                                           // no state groups
                          .U16(2)
                          .U32(9).U8(0).U8(0).U8(2).U32(1).U8(0).U16(2)     // pitch over game parameter 9
                          .U32(0).U32(kMinus1200).U32(4).U32(k100).U32(k1200).U32(9)
                          .U32(11).U8(2).U8(0).U8(0).U32(2).U8(0).U16(2)    // volume over modulator 11
                          .U32(0).U32(0).U32(4).U32(k1).U32(kMinus6).U32(4);
  const std::vector<uint8_t> bank =
      Build("tone T 8000 1 1 1000\nsound @5 T @1\nrtpc @5 pitch @9 0:-1200 100:1200:9\n"
            "rtpc @5 volume modulator @11 0:0 1:-6\n");
  const Bytes expected = Bytes().U32(1).U8(2).U32(uint32_t(sound.b.size())).Append(sound.b);
  ASSERT_GE(bank.size(), expected.b.size() + 8);
  const std::vector<uint8_t> tail(bank.end() - long(expected.b.size()) - 8, bank.end());
  EXPECT_EQ(tail, (Bytes().Tag("HIRC").U32(4 + 5 + uint32_t(sound.b.size())).Append(expected.b).b));

  Tools::BankDescription refused;
  std::string error;
  const std::string head = "tone T 8000 1 1 1000\nsound @5 T @1\n";
  EXPECT_FALSE(Tools::ParseBankText("rtpc @5 pitch @9 0:0", "B", refused, error));
  EXPECT_EQ(error, "line 1: \"@5\" is not a sound or bus declared before its curve");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 loudness @9 0:0", "B", refused, error));
  EXPECT_EQ(error, "line 3: \"loudness\" is not a whole number");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 64 @9 0:0", "B", refused, error));
  EXPECT_EQ(error, "line 3: \"64\" is not a node parameter (volume, pitch, lowpass, highpass or 0-63)");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 pitch @9 0:0 0:1", "B", refused, error));
  EXPECT_EQ(error, "line 3: the points of a curve go from left to right");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 pitch @9 5", "B", refused, error));
  EXPECT_EQ(error, "line 3: \"5\" is not a point <x>:<y>[:<shape>]");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 pitch modulator @9", "B", refused, error));
  EXPECT_EQ(error, "line 3: a curve has at least one point <x>:<y>[:<shape>]");
  EXPECT_FALSE(Tools::ParseBankText(head + "rtpc @5 pitch @9 0:nan", "B", refused, error));
  EXPECT_EQ(error, "line 3: \"nan\" is not a number");
}

TEST(HierarchyGolden, ASoundOfAToneInTheBankAndAnAttenuation) {
  const uint32_t toneId = BankTest::Id("T");
  const Bytes sound = Bytes()
                          .U32(5)
                          .U32(0x00010001).U8(0).U32(toneId).U32(84).U8(0)  // PCM in memory, 84 bytes
                          .U8(0).U8(0)                                      // no effects
                          .U8(0).U32(1).U32(0)                              // output bus 1, no parent
                          .U8(0).U8(1).U8(0).U32(kMinus6).U8(0)             // priority flags, volume -6, no ranges
                          .U8(0).U8(0).U8(0).U8(0).U16(0).U8(0).U8(0)       // positioning to output flags
                          .U32(0).U16(0);                                   // no state groups, no curves
  const Bytes attenuation = Bytes()
                                .U32(7)
                                .U8(1).U32(k90).U32(k180).U32(kMinus6).U32(k20).U32(k10)
                                .U8(0).U8(255).U8(255).U8(1).U8(255).U8(255).U8(255)
                                .U8(2)
                                .U8(2).U16(2).U32(0).U32(kMinus1).U32(4).U32(k100).U32(kMinusHalf).U32(4)
                                .U8(0).U16(0)
                                .U16(0);
  const std::vector<uint8_t> bank = Build(
      "tone T 8000 1 1 1000\nsound @5 T @1 volume -6\n"
      "attenuation @7 cone 90 180 -6 20 10\nattuse @7 0 0\nattuse @7 3 1\nattcurve @7 0 2\n"
      "attpoint @7 0 0 -1 4\nattpoint @7 0 100 -0.5 4\nattcurve @7 1 0\n");
  const uint32_t hirc = 4 + 5 + uint32_t(sound.b.size()) + 5 + uint32_t(attenuation.b.size());
  const Bytes expected = Bytes().U32(2).U8(2).U32(uint32_t(sound.b.size())).Append(sound.b)
                             .U8(14).U32(uint32_t(attenuation.b.size())).Append(attenuation.b);
  ASSERT_GE(bank.size(), expected.b.size() + 8);
  const std::vector<uint8_t> tail(bank.end() - long(expected.b.size()) - 8, bank.end());
  EXPECT_EQ(tail, (Bytes().Tag("HIRC").U32(hirc).Append(expected.b).b));
}

// A sound moved along a path: user-defined 3D positions, its play-list of two items (the second
// offset at random around each vertex, its ranges written x, z, y), the path's mode and options.
TEST(HierarchyGolden, ASoundOnAPathCarriesItsVerticesItemsAndMode) {
  auto f = [](float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  };
  const Bytes sound = Bytes()
                          .U32(5)
                          .U32(0x00010001).U8(0).U32(BankTest::Id("T")).U32(84).U8(0)
                          .U8(0).U8(0)
                          .U8(0).U32(1).U32(0)
                          .U8(0).U8(0).U8(0)                     // no properties, no ranges
                          .U8(0x01 | 0x08 | 0x10 | 0x20 | 0x80)  // own, 3D, spatialised, looping, world
                          .U8(2).U32(7)                          // user-defined, attenuation 7
                          .U8(0x2 | 0x4).U32(250)                // continuous, relaunched; transition
                          .U32(3)
                          .U32(f(-10)).U32(0).U32(f(10)).U32(420)
                          .U32(f(10)).U32(0).U32(f(10)).U32(0)
                          .U32(f(0)).U32(f(2)).U32(f(-5)).U32(100)
                          .U32(2).U32(0).U32(2).U32(2).U32(1)
                          .U32(0).U32(0).U32(0)
                          .U32(f(1)).U32(f(3)).U32(f(2))
                          .U8(0).U8(0).U8(0).U16(0).U8(0).U8(0)
                          .U32(0).U16(0);
  const std::vector<uint8_t> bank = Build(
      "tone T 8000 1 1 1000\npath P continuous relaunch loop world transition 250\npathitem P\n"
      "pathvertex P -10 0 10 420\nsound @5 T @1 3d @7 path P\npathvertex P 10 0 10 0\npathitem P 1 2 3\n"
      "pathvertex P 0 2 -5 100\nattenuation @7\n");
  const std::vector<uint8_t> object = (Bytes().U8(2).U32(uint32_t(sound.b.size())).Append(sound.b)).b;
  EXPECT_NE(std::search(bank.begin(), bank.end(), object.begin(), object.end()), bank.end());
}

// Paths the builder refuses, each naming its line.
TEST(SoundBankText, BadPathsNameTheirLine) {
  Tools::BankDescription bank;
  std::string error;
  const std::string tone = "tone T 48000 1 10 440\n";
  EXPECT_FALSE(Tools::ParseBankText(tone + "sound S T Effects path P\n", "Test", bank, error));
  EXPECT_EQ(error, "line 2: path \"P\" is not declared");
  EXPECT_FALSE(Tools::ParseBankText(tone + "path P\nsound S T Effects path P\n", "Test", bank, error));
  EXPECT_EQ(error, "line 3: path \"P\" has no item");
  EXPECT_FALSE(Tools::ParseBankText(tone + "path P\npathitem P\npathvertex P 0 0 1 10\npathitem P\n"
                                    "sound S T Effects path P\n", "Test", bank, error));
  EXPECT_EQ(error, "line 6: path \"P\": item 2 has no vertex");
  EXPECT_FALSE(Tools::ParseBankText("path P\npathvertex P 0 0 1 10\n", "Test", bank, error));
  EXPECT_EQ(error, "line 2: path \"P\": a vertex comes after its item");
  EXPECT_FALSE(Tools::ParseBankText("path P\npath P\n", "Test", bank, error));
  EXPECT_EQ(error, "line 2: path \"P\" is declared twice (first on line 1)");
  EXPECT_FALSE(Tools::ParseBankText("path P sideways\n", "Test", bank, error));
  EXPECT_NE(error.find("a path's options are"), std::string::npos) << error;
  EXPECT_FALSE(Tools::ParseBankText("path P\npathitem P 1 2\n", "Test", bank, error));
  EXPECT_EQ(error, "line 2: \"pathitem\" takes a path, then nothing or three ranges");
  EXPECT_FALSE(Tools::ParseBankText("path P\npathitem P\npathvertex P 0 0 nan 10\n", "Test", bank, error));
  EXPECT_EQ(error, "line 3: \"nan\" is not a number");
}

TEST(HierarchyGolden, BadHierarchyDirectivesNameTheirLine) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_FALSE(Tools::ParseBankText("bus @1 - loud", "B", bank, error));
  EXPECT_EQ(error, "line 1: \"loud\" is no bus option");
  EXPECT_FALSE(Tools::ParseBankText("bus @1 - duck @2 -6 10 20 4 3", "B", bank, error));
  EXPECT_EQ(error, "line 1: a duck lowers property 0 or 5");
  EXPECT_FALSE(Tools::ParseBankText("bus @1 - duck @2 -6", "B", bank, error));
  EXPECT_EQ(error, "line 1: \"duck\" takes 6 values");
  EXPECT_FALSE(Tools::ParseBankText("\nsound @1 Missing @2", "B", bank, error));
  EXPECT_EQ(error, "line 2: tone \"Missing\" is not declared");
  EXPECT_FALSE(Tools::ParseBankText("attuse A 0 0", "B", bank, error));
  EXPECT_EQ(error, "line 1: attenuation \"A\" is not declared");
  EXPECT_FALSE(Tools::ParseBankText("attenuation A\nattcurve A 7 0", "B", bank, error));
  EXPECT_EQ(error, "line 2: \"7\" is not a curve of the seven (0-6)");
  EXPECT_FALSE(Tools::ParseBankText("bus @1 -\nbus @1 -", "B", bank, error));
  EXPECT_EQ(error, "line 2: object \"@1\" is given twice (first on line 1)");
}

class GameHierarchyTest : public HierarchyTest::HierarchyFixture {};

TEST_F(GameHierarchyTest, TheGeneralBankBringsAPlayAndAStopEventForItsTones) {
  ASSERT_EQ(Load(BankTest::ContentBank("Init")), SN::SN_Success) << log_.Take();
  ASSERT_EQ(Load(BankTest::ContentBank("GeneralBank")), SN::SN_Success) << log_.Take();
  auto firstAction = [](const char* eventName) -> SN::CSnEventAction* {
    SN::CSnIndexedObject* event =
        SN::g_pObjectIndex->List(SN::SnIndex_Events).FindAndAddRef(BankTest::Id(eventName));
    if (!event) return nullptr;
    SN::CSnEventAction* action = static_cast<SN::CSnEvent*>(event)->FirstAction();
    event->Release();  // the bank keeps both
    return action;
  };
  for (const char* tone : {"Beep", "Chord", "Hum"}) {
    SN::CSnEventAction* play = firstAction((std::string("Play_") + tone).c_str());
    ASSERT_NE(play, nullptr) << tone;
    EXPECT_EQ(play->ActionType(), SN::SnAction_Play);
    EXPECT_EQ(play->TargetId(), BankTest::Id(tone));
    EXPECT_EQ(play->NamedBankId(), BankTest::Id("GeneralBank"));
  }
  EXPECT_EQ(firstAction("Play_Hum")->FadeTimeMs(), 50);
  SN::CSnEventAction* stop = firstAction("Stop_Hum");
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->ActionType(), 0x0103);
  EXPECT_EQ(stop->FadeTimeMs(), 100);
  EXPECT_EQ(stop->FadeCurve(), 4);
}

TEST_F(GameHierarchyTest, TheGameBanksBringTheirBusesSoundsAndAttenuation) {
  ASSERT_EQ(Load(BankTest::ContentBank("Init")), SN::SN_Success) << log_.Take();
  ASSERT_EQ(Load(BankTest::ContentBank("GeneralBank")), SN::SN_Success) << log_.Take();
  using BankTest::Id;
  SN::CSnBusNode* master = SN::CSnBusNode::MasterBus();
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->ID(), Id("MasterBus"));
  master->Release();
  EXPECT_EQ(SN::CSnBusNode::BackgroundMusicBusCount(), 1u);
  EXPECT_TRUE(Bus(Id("Music"))->StateByte() & SN::CSnBusNode::kBackgroundMusic);
  EXPECT_EQ(Bus(Id("Effects"))->RecoverySamples(), 24000u);
  EXPECT_EQ(Bus(Id("Voices"))->NodeCategory(), 12u);
  EXPECT_EQ(Bus(Id("Voices"))->GetEffectiveProperty(5, false), -2.0f);

  SN::CSnIndexedObject* found = SN::g_pObjectIndex->List(SN::SnIndex_Attenuations).FindAndAddRef(Id("Footsteps"));
  ASSERT_NE(found, nullptr);
  const auto* footsteps = static_cast<SN::CSnAttenuation*>(found);
  EXPECT_TRUE(footsteps->ConeEnabled());
  EXPECT_EQ(footsteps->CurveForUse(0)->points[1].x, 50.0f);
  EXPECT_EQ(footsteps->CurveForUse(3)->points[1].y, 40.0f);
  found->Release();

  // A beep plays through the voice manager and ducks the music while it lasts.
  SN::CSnSoundNode* beep = Sound(Id("Beep"));
  ASSERT_NE(beep, nullptr);
  EXPECT_EQ(beep->OutputBus(), Bus(Id("Effects")));
  EXPECT_EQ(beep->Source().sourceId, Id("Beep"));
  EXPECT_GT(beep->Source().mediaSize, 9000u);  // 100 ms of 48 kHz mono 16-bit
  SN::CSnPlayParams params;
  params.playingId = 3;
  ASSERT_EQ(beep->Play(params), SN::SN_Success);
  ASSERT_EQ(player_.plays.size(), 1u);
  EXPECT_EQ(player_.plays[0].sourceId, Id("Beep"));
  SN::SnCountRecord record;
  beep->CountInstance(record);
  EXPECT_EQ(Bus(Id("Music"))->DuckingState(), SN::CSnBusNode::Duck_Idle);
  EXPECT_EQ(Bus(Id("Effects"))->DuckingState(), SN::CSnBusNode::Duck_Ducking);
  beep->UncountInstance(record);
  EXPECT_EQ(Bus(Id("Effects"))->DuckingState(), SN::CSnBusNode::Duck_Recovering);
  EXPECT_EQ(Sound(Id("Hum"))->OutputBus(), Bus(Id("Music")));

  // The placed beep: 3D at its game object's positions, spatialised, its attenuation found by voices.
  const SN::CSnSoundNode* spot = Sound(Id("Spot_Beep"));
  ASSERT_NE(spot, nullptr);
  const SN::SnPositioningParams* positioning = spot->Positioning();
  ASSERT_NE(positioning, nullptr);
  EXPECT_EQ(positioning->attenuationId, Id("Spot3D"));
  EXPECT_EQ(SN::PositioningModeOf(spot->SendFlags() & 0x0F), 1u);
  EXPECT_EQ(SN::ThreeDTypeOf(spot->SendFlags() & 0x0F), 1u);
  EXPECT_EQ(positioning->flags & (SN::SnPositioning_Spatialize | SN::SnPositioning_GameObjectRays),
            SN::SnPositioning_Spatialize | SN::SnPositioning_GameObjectRays);
  EXPECT_NE(SN::AttenuationDirectory()->FindAttenuation(Id("Spot3D")), nullptr);
}

TEST(SoundBankText, A3DSoundNamesItsAttenuation) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_FALSE(Tools::ParseBankText("tone T 48000 1 10 440\nsound S T Effects 3d\n", "Test", bank, error));
  EXPECT_EQ(error, "line 2: \"3d\" takes an attenuation");
  EXPECT_FALSE(Tools::ParseBankText("tone T 48000 1 10 440\nsound S T Effects pan 3\n", "Test", bank, error));
}

// A sound's effects fill its slots in order from shared definitions of the built-in gain, whose level
// is the definition's whole parameter block; other effects, a fifth slot or a missing level are refused.
TEST(SoundBankText, ASoundsEffectsNameSharedGainDefinitions) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("effect Quiet gain -12.5\ntone T 48000 1 10 440\n"
                                   "sound S T Effects effect Quiet effect Quiet\n",
                                   "Test", bank, error))
      << error;
  ASSERT_FALSE(bank.objects.empty());
  const Tools::BankObject& effect = bank.objects[0];
  EXPECT_EQ(effect.type, Tools::kBankSharedEffectType);
  Tools::BankEffect expected;
  expected.pluginId = SN::kGainEffectKey;
  expected.params.resize(4);
  const float dB = -12.5f;
  memcpy(expected.params.data(), &dB, 4);
  EXPECT_EQ(effect.payload, Tools::EffectPayload(BankTest::Id("Quiet"), expected));
  for (const char* text : {"effect Quiet reverb 3\n", "effect Quiet gain\n",
                           "effect E gain 0\ntone T 48000 1 10 440\n"
                           "sound S T Effects effect E effect E effect E effect E effect E\n"})
    EXPECT_FALSE(Tools::ParseBankText(text, "Test", bank, error)) << text;
}

}  // namespace

namespace {

TEST_F(GameHierarchyTest, TheHierarchySeedsOfTheFuzzTargetLoadOrFailAsTheirLoadersSay) {
  for (const auto& [name, expected] : {std::pair{"hierarchy-buses-sounds-attenuation", SN::SN_Success},
                                       std::pair{"attenuation-eight-curves", SN::SN_Failure},
                                       std::pair{"bus-ducks-past-object", SN::SN_Failure},
                                       std::pair{"motion-objects", SN::SN_Success},
                                       std::pair{"motion-source-count-past-object", SN::SN_Failure}}) {
    std::ifstream in(std::string("tests/fuzz/corpus/sound_bank/") + name + ".bnk", std::ios::binary);
    ASSERT_TRUE(in) << name;
    std::vector<uint8_t> seed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(Load(std::move(seed)), expected) << name;
  }
  EXPECT_EQ(Bus(BankTest::Id("Music"))->MaxDuckVolume(), -12.0f);
  EXPECT_TRUE(Logged("8 curves, where one to seven are kept"));
  EXPECT_TRUE(Logged("Bus 9: duck 0 runs past the end of the object"));
  EXPECT_TRUE(Logged("Motion source 3: 268435456 sources cannot fit in the 8 bytes left"));
}

// A bus takes up to four shared effects, and the built-in gain's level may be followed by a curve
// alone (the end-to-end tests play both); a fifth effect or other words are refused.
TEST(SoundBankText, ABusNamesSharedEffectsAndTheGainTakesACurve) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(Tools::ParseBankText("effect E gain -3 rtpc 0 modulator W 0:0 1:-12\nbus B - effect E effect E\n", "Test",
                                   bank, error))
      << error;
  for (const char* text : {"effect E gain 0\nbus B - effect E effect E effect E effect E effect E\n",
                           "effect E gain 0 1\n", "effect E gain 0\nbus B - effect\n"})
    EXPECT_FALSE(Tools::ParseBankText(text, "Test", bank, error)) << text;
}

}  // namespace
