// The settings of the bank text's other objects read back through the engine's own: an action's fade
// offsets and probability, an attenuation's curves over game parameters, and a plug-in definition's
// media, base values and how its curves join; and the values the builder refuses, each naming its line.
#include <cstdio>
#include <string>

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Hierarchy/Attenuation.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"

namespace {

using BankTest::Id;

class ObjectSettingsTextTest : public HierarchyTest::HierarchyFixture {
 protected:
  void TearDown() override {
    Base::SeedRand15(1);  // the generator's starting state, which the fade offsets draw from
    HierarchyFixture::TearDown();
  }
  template <typename Kind>
  static Kind* Indexed(SN::SnIndexList list, const char* name) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->List(list).FindAndAddRef(Id(name));
    if (found) found->Release();  // the bank holds one
    return static_cast<Kind*>(found);
  }
};

TEST_F(ObjectSettingsTextTest, AnActionsFadeIsDrawnWithinItsOffsets) {
  ASSERT_EQ(Load(BankTest::Build("bus Master -\ntone T 48000 1 10 440\nsound S T Master\n"
                                 "action Fade 0x0403 S fade 100 faderange 20 60 probability 100\n"
                                 "action Even 0x0403 S fade 100 probability 0\n")),
            SN::SN_Success)
      << log_.Take();
  const auto* fade = Indexed<SN::CSnEventAction>(SN::SnIndex_Actions, "Fade");
  ASSERT_NE(fade, nullptr);
  bool spread = false;
  for (int run = 0; run < 50; ++run) {
    const int32_t ms = fade->FadeTimeMs();
    EXPECT_GE(ms, 120);
    EXPECT_LE(ms, 160);
    spread = spread || ms != fade->FadeTimeMs();
  }
  EXPECT_TRUE(spread);
  ASSERT_NE(Indexed<SN::CSnEventAction>(SN::SnIndex_Actions, "Even"), nullptr);
  EXPECT_EQ(Indexed<SN::CSnEventAction>(SN::SnIndex_Actions, "Even")->FadeTimeMs(), 100);
}

TEST_F(ObjectSettingsTextTest, AnAttenuationCarriesItsCurvesOverGameParameters) {
  ASSERT_EQ(Load(BankTest::Build("attenuation A\nattcurve A 0 0\nattpoint A 0 0 0 4\nattpoint A 0 100 -20 4\n"
                                 "attrtpc A 3 Wind 0:0 100:40\nattrtpc A 63 dbtolin Rain 0:-6\n")),
            SN::SN_Success)
      << log_.Take();
  const auto* attenuation = Indexed<SN::CSnAttenuation>(SN::SnIndex_Attenuations, "A");
  ASSERT_NE(attenuation, nullptr);
  ASSERT_EQ(attenuation->RTPCCount(), 2u);
  const SN::CSnAttenuation::RTPCCurve& wind = attenuation->RTPCAt(0);
  EXPECT_EQ(wind.rtpcId, Id("Wind"));
  EXPECT_EQ(wind.parameterId, 3u);
  ASSERT_EQ(wind.curve.pointCount, 2u);
  EXPECT_EQ(wind.curve.points[1].y, 40.0f);
  const SN::CSnAttenuation::RTPCCurve& rain = attenuation->RTPCAt(1);
  EXPECT_EQ(rain.rtpcId, Id("Rain"));
  EXPECT_EQ(rain.parameterId, 63u);
  EXPECT_NE(rain.curveId, wind.curveId);
  EXPECT_EQ(rain.curve.scaling, SN::SnCurveScaling_dBToLin);
}

TEST_F(ObjectSettingsTextTest, APluginDefinitionCarriesItsMediaBaseValuesAndHowItsCurvesJoin) {
  const std::string key = std::to_string(SN::kGainEffectKey);
  ASSERT_EQ(Load(BankTest::Build("tone Impulse 48000 1 10 440\n"
                                 "effect E plugin " + key + " 0000c0bf media 2 Impulse base 7 0.5 base 0 -1 "
                                 "rtpc 7 multiply db P 0:0.5 100:1\n")),
            SN::SN_Success)
      << log_.Take();
  SN::CSnEffectDefinition* effect = SN::FindEffectDefinition(Id("E"), true);
  ASSERT_NE(effect, nullptr);
  effect->Release();  // the bank holds one
  EXPECT_EQ(effect->MediaId(2), Id("Impulse"));
  EXPECT_EQ(effect->GetPropertyValue(7), 0.5f);
  EXPECT_EQ(effect->GetPropertyValue(0), -1.0f);
  EXPECT_EQ(effect->GetCurveExtra(7), 2u);
  ASSERT_EQ(effect->CurveCount(), 1u);
  EXPECT_EQ(effect->CurveAt(0).curve.scaling, SN::SnCurveScaling_dB);
  EXPECT_EQ(effect->CurveAt(0).parameterId, Id("P"));
}

TEST_F(ObjectSettingsTextTest, ValuesPastTheirRangesAreRefusedWithTheirLine) {
  const std::string key = std::to_string(SN::kGainEffectKey);
  const std::string action = "action A 0x0403 @5 ";
  const std::pair<std::string, const char*> refused[] = {
      {action + "probability 100.5", "line 1: \"100.5\" is outside the percentages of 0 to 100"},
      {action + "probability -1", "line 1: \"-1\" is outside the percentages of 0 to 100"},
      {action + "faderange 30 20", "line 1: \"faderange\" takes its lower offset first"},
      {action + "delayrange 0 2147483648", "line 1: \"2147483648\" is past the 31 bits of an action's time"},
      {action + "delay 4294967295", "line 1: \"4294967295\" is outside the delays of 0 to 44739242 ms"},
      {action + "fade 4294967295", "line 1: \"4294967295\" is past the 31 bits of an action's time"},
      {action + "delay 5 delay 6", "line 1: \"delay\" is given twice"},
      {"tone T 48000 1 10 440\nmotionsource M T volume -3 volume -3", "line 2: \"volume\" is given twice"},
      {"attenuation A\nattrtpc A 64 P 0:0", "line 2: \"64\" is not a voice parameter (0-63)"},
      {"attenuation A\nattrtpc A 3 modulator M 0:0",
       "line 2: an attenuation's curve is added to the voice's, over a game parameter"},
      {"attrtpc A 3 P 0:0", "line 1: attenuation \"A\" is not declared"},
      {"effect E plugin " + key + " media 0 Missing", "line 1: tone \"Missing\" is not declared"},
      {"effect E plugin " + key + " base 256 1", "line 1: \"256\" is not a plug-in parameter (0-255)"},
      {"effect E plugin " + key + " base 1", "line 1: \"base\" takes 2 values"},
      {"effect E plugin " + key + " rtpc 0 add multiply P 0:0",
       "line 1: a curve is added or multiplied with the others of its parameter, not both"},
  };
  for (const auto& [text, error] : refused) {
    Tools::BankDescription bank;
    std::string got;
    EXPECT_FALSE(Tools::ParseBankText(text + "\n", "Test", bank, got)) << text;
    EXPECT_EQ(got, error) << text;
  }
  // Inside their ranges, as before.
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(
      Tools::ParseBankText(action + "probability 0 delayrange 0 2147483647 faderange 5 5 delay 44739242 "
                                    "fade 2147483647 except @1 except @2\n", "Test", bank, error))
      << error;
}

}  // namespace
