// Attenuations read from banks: the cone in half-angle radians, the volume curves put in one form,
// game-parameter curves replaced by parameter and curve id, and the payloads that would overrun the
// seven curves or end early refused.
#include <numbers>

#include "SoundEngine/Hierarchy/Attenuation.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"

namespace {

using namespace HierarchyTest;
using SN::CSnAttenuation;

class AttenuationTest : public HierarchyFixture {
 protected:
  CSnAttenuation* Attenuation(uint32_t id) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->List(SN::SnIndex_Attenuations).FindAndAddRef(id);
    if (found) found->Release();
    return static_cast<CSnAttenuation*>(found);
  }
  static Tools::BankObject Object(uint32_t id, const Tools::BankAttenuation& attenuation) {
    return {Tools::kBankAttenuationType, Tools::AttenuationPayload(id, attenuation)};
  }
  static Tools::BankAttenuation Typical() {
    Tools::BankAttenuation attenuation;
    attenuation.coneEnabled = 1;
    attenuation.insideDegrees = 90.0f;
    attenuation.outsideDegrees = 540.0f;  // a turn and a half: half a turn
    attenuation.coneValues[0] = -6.0f;
    attenuation.coneValues[1] = 20.0f;
    attenuation.coneValues[2] = 10.0f;
    attenuation.curveUses[0] = 0;  // distance
    attenuation.curveUses[2] = 1;  // user-defined sends
    attenuation.curveUses[3] = 2;  // low-pass
    attenuation.curves = {{2, {{0.0f, -1.0f, 4}, {100.0f, -0.5f, 4}}},
                          {0, {{0.0f, 0.0f, 4}, {50.0f, -20.0f, 4}}},
                          {0, {{0.0f, 0.0f, 4}, {50.0f, 30.0f, 4}}}};
    attenuation.rtpcs = {{7, 1, 2, 3, 11, 0, {{0.0f, 1.0f, 4}}}, {7, 1, 2, 4, 11, 0, {{0.0f, 2.0f, 4}}}};
    return attenuation;
  }
  void TearDown() override {
    HierarchyFixture::TearDown();
    // Term empties the slot Init filled.
    EXPECT_EQ(SN::AttenuationDirectory(), nullptr);
  }
};

TEST_F(AttenuationTest, TheConeTheCurvesAndTheirUsesAreKeptInTheirForms) {
  Tools::BankAttenuation replaced = Typical();
  replaced.rtpcs.push_back({8, 0, 0, 3, 11, 2, {{0.0f, 5.0f, 4}, {1.0f, 6.0f, 4}}});  // replaces the first
  ASSERT_EQ(Load({Object(300, Typical()), Object(301, replaced)}), SN::SN_Success);
  const CSnAttenuation* attenuation = Attenuation(300);
  ASSERT_NE(attenuation, nullptr);
  EXPECT_TRUE(attenuation->ConeEnabled());
  EXPECT_FLOAT_EQ(attenuation->InsideHalfAngle(), std::numbers::pi_v<float> / 4.0f);
  EXPECT_FLOAT_EQ(attenuation->OutsideHalfAngle(), std::numbers::pi_v<float> / 2.0f);
  EXPECT_EQ(attenuation->OutsideVolume(), -6.0f);
  EXPECT_EQ(attenuation->ConeLowPass(), 20.0f);
  EXPECT_EQ(attenuation->ConeHighPass(), 10.0f);

  // The distance curve of decibel offsets (scaling 2) moves up by one and is read plain.
  const SN::CSnCurveGraph* distance = attenuation->CurveForUse(0);
  ASSERT_NE(distance, nullptr);
  ASSERT_EQ(distance->pointCount, 2u);
  EXPECT_EQ(distance->points[0].y, 0.0f);
  EXPECT_EQ(distance->points[1].x, 100.0f);
  EXPECT_EQ(distance->points[1].y, 0.5f);
  EXPECT_EQ(distance->scaling, uint32_t(SN::SnCurveScaling_None));
  // A volume use's plain curve is read from decibels; the low-pass curve stays as stored.
  EXPECT_EQ(attenuation->CurveForUse(2)->scaling, uint32_t(SN::SnCurveScaling_dBToLin));
  EXPECT_EQ(attenuation->CurveForUse(3)->scaling, uint32_t(SN::SnCurveScaling_None));
  EXPECT_EQ(attenuation->CurveForUse(3)->points[1].y, 30.0f);
  EXPECT_EQ(attenuation->CurveForUse(1), nullptr);
  EXPECT_EQ(attenuation->Curve(5).pointCount, 0u);

  ASSERT_EQ(attenuation->RTPCCount(), 2u);
  EXPECT_EQ(attenuation->RTPCAt(1).parameterId, 4u);
  EXPECT_EQ(attenuation->RTPCAt(1).curve.points[0].y, 2.0f);
  // The same parameter and curve id: the later entry replaces the earlier, its points its own.
  const CSnAttenuation* other = Attenuation(301);
  ASSERT_EQ(other->RTPCCount(), 2u);
  EXPECT_EQ(other->RTPCAt(1).rtpcId, 8u);
  EXPECT_EQ(other->RTPCAt(1).curve.scaling, 2u);
  ASSERT_EQ(other->RTPCAt(1).curve.pointCount, 2u);
  EXPECT_EQ(other->RTPCAt(1).curve.points[1].y, 6.0f);
}

TEST_F(AttenuationTest, VoicesFindTheLoadedAttenuationsThroughTheDirectoryInitInstalls) {
  // Init fills the empty slot with the hierarchy's directory.
  SN::ISnAttenuationDirectory* directory = SN::AttenuationDirectory();
  ASSERT_EQ(directory, &CSnAttenuation::Directory());
  EXPECT_EQ(directory->FindAttenuation(300), nullptr);
  ASSERT_EQ(Load({Object(300, Typical())}), SN::SN_Success);
  const CSnAttenuation* attenuation = Attenuation(300);
  const SN::SnAttenuationSettings* settings = directory->FindAttenuation(300);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(directory->FindAttenuation(301), nullptr);

  // Curves by use: distance, user sends and low-pass; the unused slots absent.
  const SN::SnAttenuation& shape = settings->shape;
  EXPECT_EQ(shape.curves[SN::SnAttenuationCurve_Volume], &attenuation->Curve(0));
  EXPECT_EQ(shape.curves[SN::SnAttenuationCurve_GameSendVolume], nullptr);
  EXPECT_EQ(shape.curves[SN::SnAttenuationCurve_UserSendVolume], &attenuation->Curve(1));
  EXPECT_EQ(shape.curves[SN::SnAttenuationCurve_LowPass], &attenuation->Curve(2));
  for (uint32_t use : {4u, 5u, 6u}) EXPECT_EQ(shape.curves[use], nullptr) << use;
  EXPECT_TRUE(shape.coneEnabled);
  EXPECT_FLOAT_EQ(shape.coneInner, std::numbers::pi_v<float> / 4.0f);
  EXPECT_FLOAT_EQ(shape.coneOuter, std::numbers::pi_v<float> / 2.0f);
  EXPECT_EQ(settings->coneOutsideDb, -6.0f);
  EXPECT_EQ(settings->coneLowPass, 20.0f);
  EXPECT_EQ(settings->coneHighPass, 10.0f);

  // The game-parameter curves with their ids, pointing at the attenuation's own points.
  ASSERT_EQ(settings->paramCurveCount, 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    const SN::SnAttenuationParamCurve& curve = settings->paramCurves[i];
    EXPECT_EQ(curve.rtpcId, 7u);
    EXPECT_EQ(curve.parameterId, 3u + i);
    EXPECT_EQ(curve.curveId, 11u);
    EXPECT_EQ(curve.curve, &attenuation->RTPCAt(i).curve);
  }
  // A curve replaced at run time shows in what the voices read.
  const SN::SnRTPCGraphPoint points[] = {{0.0f, 9.0f, 4}};
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    ASSERT_EQ(const_cast<CSnAttenuation*>(attenuation)->SetRTPC(9, 0, 0, 3, 11, 0, points, 1), SN::SN_Success);
  }
  ASSERT_EQ(settings->paramCurveCount, 2u);
  EXPECT_EQ(settings->paramCurves[1].rtpcId, 9u);
  EXPECT_EQ(settings->paramCurves[1].curve->points[0].y, 9.0f);
  EXPECT_EQ(settings->paramCurves[0].curve, &attenuation->RTPCAt(0).curve);
}

// A directory put in place before Init (a test's, a tool's) stays there through Term.
class OwnAttenuationDirectoryTest : public HierarchyFixture {
 protected:
  struct NoAttenuations final : SN::ISnAttenuationDirectory {
    const SN::SnAttenuationSettings* FindAttenuation(uint32_t) override { return nullptr; }
  };
  void SetUp() override {
    SN::AttenuationDirectory() = &own_;
    HierarchyFixture::SetUp();
  }
  void TearDown() override {
    HierarchyFixture::TearDown();
    EXPECT_EQ(SN::AttenuationDirectory(), &own_);
    SN::AttenuationDirectory() = nullptr;
  }
  bool Mine() { return SN::AttenuationDirectory() == &own_; }
  NoAttenuations own_;
};

TEST_F(OwnAttenuationDirectoryTest, ADirectoryInPlaceBeforeInitIsKept) { EXPECT_TRUE(Mine()); }

TEST_F(AttenuationTest, PayloadsThatWouldOverrunTheSevenCurvesFailTheBank) {
  Tools::BankAttenuation none = Typical();
  none.curves.clear();
  none.curveUses[0] = none.curveUses[2] = none.curveUses[3] = 255;
  Tools::BankAttenuation eight = Typical();
  eight.curves.resize(8, {0, {{0.0f, 0.0f, 4}}});
  Tools::BankAttenuation useSeven = Typical();
  useSeven.curveUses[6] = 7;
  Tools::BankAttenuation useTwoHundred = Typical();
  useTwoHundred.curveUses[4] = 200;
  uint32_t id = 310;
  for (const Tools::BankAttenuation& bad : {none, eight, useSeven, useTwoHundred}) {
    EXPECT_EQ(Load({Object(id, bad)}), SN::SN_Failure) << id;
    EXPECT_EQ(Attenuation(id), nullptr);
    ++id;
  }
  EXPECT_TRUE(Logged("0 curves, where one to seven are kept"));
  EXPECT_TRUE(Logged("8 curves, where one to seven are kept"));
  EXPECT_TRUE(Logged("names curve 7 of the seven"));
  // Seven curves are the most an attenuation keeps.
  Tools::BankAttenuation seven = Typical();
  seven.curves.resize(7, {0, {{0.0f, 0.0f, 4}}});
  seven.curveUses[6] = 6;
  EXPECT_EQ(Load({Object(320, seven)}), SN::SN_Success);
  EXPECT_EQ(Attenuation(320)->CurveForUse(6)->pointCount, 1u);
}

TEST_F(AttenuationTest, APayloadEndingAnywhereEarlyFailsTheBank) {
  const Tools::BankObject whole = Object(330, Typical());
  ExpectEveryCutFails(whole, [this] { return Attenuation(330) == nullptr; });
  EXPECT_EQ(Load({whole}), SN::SN_Success);
}

}  // namespace
