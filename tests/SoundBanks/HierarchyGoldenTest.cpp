// The bank builder's buses, sounds and attenuations against bytes laid out by hand from the bank
// format, the directives it refuses, and the game's banks read by the engine's own loaders.
#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/Hierarchy/Attenuation.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"
#include "tools/SoundBank/BankText.h"

namespace {

using BankTest::Build;
using BankTest::Bytes;

constexpr uint32_t kTestBankId = 0xC42E767B;  // the hash of "TestBank"
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
  EXPECT_EQ(error, "line 1: \"@5\" is not a sound declared before its curve");
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
  EXPECT_NE(error.find("\"3d <attenuation>\" may follow a sound's bus"), std::string::npos) << error;
  EXPECT_FALSE(Tools::ParseBankText("tone T 48000 1 10 440\nsound S T Effects pan 3\n", "Test", bank, error));
}

}  // namespace

namespace {

TEST_F(GameHierarchyTest, TheHierarchySeedsOfTheFuzzTargetLoadOrFailAsTheirLoadersSay) {
  for (const auto& [name, expected] : {std::pair{"hierarchy-buses-sounds-attenuation", SN::SN_Success},
                                       std::pair{"attenuation-eight-curves", SN::SN_Failure},
                                       std::pair{"bus-ducks-past-object", SN::SN_Failure}}) {
    std::ifstream in(std::string("tests/fuzz/corpus/sound_bank/") + name + ".bnk", std::ios::binary);
    ASSERT_TRUE(in) << name;
    std::vector<uint8_t> seed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(Load(std::move(seed)), expected) << name;
  }
  EXPECT_EQ(Bus(BankTest::Id("Music"))->MaxDuckVolume(), -12.0f);
  EXPECT_TRUE(Logged("8 curves, where one to seven are kept"));
  EXPECT_TRUE(Logged("Bus 9: duck 0 runs past the end of the object"));
}

}  // namespace
