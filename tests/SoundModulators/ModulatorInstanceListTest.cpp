// A voice's modulator list over instances of bank modulators: the factor of a parameter, the
// buffers and ramps it collects, pausing an instance two voices share, releasing, and letting go.
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundModulators/SoundTestObjects.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace {

using namespace SN;
using Tools::BankNodeProperty;

// The curves a node holds for modulators: {modulator, base, slope, parameter}.
struct CurveOwner final : ISnModulatorMappingOwner {
  struct Curve {
    uint32_t modulatorId;
    SnModulatorMapping mapping;
  };
  void AppendModulatorMappings(uint32_t modulatorId, const SnParamMask& filter,
                               SnArray<SnModulatorMapping>& mappings) override {
    for (const Curve& curve : curves)
      if (curve.modulatorId == modulatorId && filter.Has(curve.mapping.parameterId)) mappings.Add(curve.mapping);
  }
  std::vector<Curve> curves;
};

struct VoiceStops final : ISnModulatorDrivenTargets {
  void StopPlaybackInstance(CSnPlaybackInstance* instance) override { stopped.push_back(instance); }
  void StopNodeFor(CSnIndexedObject*, CSnRegisteredObj*, uint32_t) override {}
  std::vector<CSnPlaybackInstance*> stopped;
};

constexpr uint32_t kVolume = 0;
constexpr uint32_t kPitch = 40;  // in the mask's high word
constexpr uint32_t kShortEnvelope = 4100;
constexpr uint32_t kVoiceEnvelope = 4101;

SnParamMask Both() {
  SnParamMask mask = SnParamMask::Of(kVolume);
  mask.high = SnParamMask::Of(kPitch).high;
  return mask;
}

class ModulatorListTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    ModulatorDrivenTargets() = &stops_;
    ASSERT_EQ(LoadImage(BankTest::ContentBank("Init")), SN_Success) << log_.Take();
    ASSERT_EQ(LoadImage(BankTest::ContentBank("GeneralBank")), SN_Success) << log_.Take();
    // An envelope quick enough to render per sample, and one per playback instance (which stops its
    // voice when it ends).
    Tools::BankDescription bank;
    bank.bankId = 4100;
    Tools::BankModulator envelope;
    envelope.id = kShortEnvelope;
    envelope.properties = {BankNodeProperty::Float(9, 0.005f), BankNodeProperty::Float(11, 0.01f)};
    Tools::BankModulator perVoice;
    perVoice.id = kVoiceEnvelope;
    perVoice.properties = {BankNodeProperty::Int(0, 0)};
    bank.objects.push_back({22, Tools::ModulatorPayload(envelope)});
    bank.objects.push_back({22, Tools::ModulatorPayload(perVoice)});
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    ASSERT_EQ(LoadImage(Tools::WriteBank(bank)), SN_Success) << log_.Take();
    owner_.curves = {{BankTest::Id("VolumeLfo"), {0.5f, 1.0f, kVolume}},
                     {BankTest::Id("PitchEnvelope"), {2.0f, -1.0f, kPitch}},
                     {kShortEnvelope, {0.25f, 0.5f, kVolume}},
                     {kVoiceEnvelope, {1.0f, 0.0f, kVolume}}};
  }
  void TearDown() override {
    processor_.Term();
    for (uint32_t bank : loaded_) g_pBankManager->UnloadBankWait(bank, nullptr);
    ModulatorDrivenTargets() = nullptr;
    BankFixture::TearDown();
  }
  SNRESULT LoadImage(std::vector<uint8_t> image) {
    return ModulationTest::LoadKeptImage(images_, loaded_, std::move(image));
  }
  CSnModulatorInstance* Instantiate(uint32_t modulatorId, uintptr_t voice) {
    CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
    EXPECT_NE(object, nullptr);
    if (!object) return nullptr;
    SnModulatorInstantiationParams params;
    params.gameObject = g_pRegistryMgr->RegisterGameObj(5, 1);
    params.playingId = 9;
    params.playbackInstance = ModulationTest::FakeVoice(voice);
    CSnModulatorInstance* instance = nullptr;
    EXPECT_EQ(object->Instantiate(params, processor_, &instance), SN_Success);
    object->Release();
    return instance;
  }
  SNRESULT Attach(CSnModulatorInstanceList& list, CSnModulatorInstance* instance, SnParamMask filter = Both()) {
    return list.AttachInstance(instance, {&owner_, SnModulatorMapping_Node, filter});
  }
  void Frame() { ASSERT_EQ(processor_.ProcessModulators(LowerEngine::SamplesPerFrame()), SN_Success); }

  VoiceStops stops_;
  CurveOwner owner_;
  CSnModulatorProcessor processor_;
  std::vector<std::vector<uint8_t>> images_;
  std::vector<uint32_t> loaded_;
};

TEST_F(ModulatorListTest, FactorsMultiplyTheMappingsOfEveryInstanceInTheMask) {
  CSnModulatorInstanceList list;
  EXPECT_EQ(list.GetFactor(Both()), 1.0f);
  EXPECT_EQ(list.StateWord(), -1);
  CSnModulatorInstance* lfo = Instantiate(BankTest::Id("VolumeLfo"), 1);
  CSnModulatorInstance* envelope = Instantiate(BankTest::Id("PitchEnvelope"), 1);
  CSnModulatorInstance* flat = Instantiate(kVoiceEnvelope, 1);
  ASSERT_TRUE(lfo && envelope && flat);
  ASSERT_EQ(Attach(list, lfo), SN_Success);
  ASSERT_EQ(Attach(list, envelope), SN_Success);
  ASSERT_EQ(Attach(list, flat), SN_Success);
  // Attaching again adds mappings, not a node.
  ASSERT_EQ(Attach(list, lfo, SnParamMask{}), SN_Success);
  EXPECT_EQ(list.InstanceCount(), 3u);
  for (int i = 0; i < 5; ++i) Frame();
  const double a = lfo->CurrentValue(), e = envelope->CurrentValue();
  ASSERT_NE(a, 0.0);
  ASSERT_NE(e, 0.0);
  EXPECT_NEAR(list.GetFactor(SnParamMask::Of(kVolume)), 0.5 + a, 1e-6);
  EXPECT_NEAR(list.GetFactor(SnParamMask::Of(kPitch)), 2.0 - e, 1e-6);
  EXPECT_NEAR(list.GetFactor(Both()), (0.5 + a) * (2.0 - e), 1e-6);
  EXPECT_NEAR(list.GetFactorWithBuffers(Both()), (0.5 + a) * (2.0 - e), 1e-6);
  EXPECT_EQ(list.GetFactor(SnParamMask::Of(3)), 1.0f);
  // Pitch and filters take the same mappings as offsets: summed (the flat envelope's volume mapping
  // of 1 counts now), and exactly 0 where none match.
  EXPECT_NEAR(list.GetOffset(SnParamMask::Of(kVolume)), (0.5 + a) + 1.0, 1e-6);
  EXPECT_NEAR(list.GetOffset(Both()), (0.5 + a) + 1.0 + (2.0 - e), 1e-6);
  EXPECT_EQ(list.GetOffset(SnParamMask::Of(3)), 0.0f);
  // A second list filtered to volume only never sees the pitch mapping.
  CSnModulatorInstanceList volumeOnly;
  ASSERT_EQ(Attach(volumeOnly, envelope, SnParamMask::Of(kVolume)), SN_Success);
  EXPECT_EQ(volumeOnly.GetFactor(Both()), 1.0f);
  list.ClearMappings();
  EXPECT_EQ(list.GetFactor(Both()), 1.0f);
  EXPECT_EQ(list.InstanceCount(), 3u);
  // Without an owner nothing is mapped, and a missing instance is refused.
  CSnModulatorInstanceList bare;
  EXPECT_EQ(bare.AttachInstance(lfo, {nullptr, SnModulatorMapping_Node, Both()}), SN_Success);
  EXPECT_EQ(bare.GetFactor(Both()), 1.0f);
  EXPECT_EQ(bare.AttachInstance(nullptr, {}), SN_InvalidParameter);
  EXPECT_NE(log_.Take().find("no instance"), std::string::npos);
}

TEST_F(ModulatorListTest, BufferedInstancesGiveBuffersAndTheRestRampsFromTheirLastValue) {
  CSnModulatorInstanceList list;
  CSnModulatorInstance* envelope = Instantiate(kShortEnvelope, 1);
  CSnModulatorInstance* lfo = Instantiate(BankTest::Id("VolumeLfo"), 1);
  ASSERT_TRUE(envelope && lfo);
  envelope->SetSamplesWanted(true);
  ASSERT_EQ(Attach(list, envelope), SN_Success);
  ASSERT_EQ(Attach(list, lfo), SN_Success);
  Frame();
  Frame();
  uint32_t buffered = 9, scalar = 9;
  list.CountModulations(SnParamMask::Of(kVolume), buffered, scalar);
  EXPECT_EQ(buffered, 1u);
  EXPECT_EQ(scalar, 1u);
  SnModulatorBuffer buffers[2];
  SnModulatorRamp ramps[2];
  uint32_t bufferCount = 2, rampCount = 2;
  list.CollectModulations(SnParamMask::Of(kVolume), buffers, bufferCount, ramps, rampCount);
  ASSERT_EQ(bufferCount, 1u);
  ASSERT_EQ(rampCount, 1u);
  EXPECT_EQ(buffers[0].samples, envelope->Output()->samples);
  EXPECT_EQ(buffers[0].frameSamples, LowerEngine::SamplesPerFrame());
  EXPECT_EQ(buffers[0].base, 0.25f);
  EXPECT_EQ(buffers[0].slope, 0.5f);
  // The buffer ends on the value the factor reads.
  EXPECT_EQ(buffers[0].samples[LowerEngine::SamplesPerFrame() - 1], envelope->CurrentValue());
  EXPECT_NEAR(ramps[0].from, 0.5 + lfo->LastValue(), 1e-6);
  EXPECT_NEAR(ramps[0].to, 0.5 + lfo->CurrentValue(), 1e-6);
  EXPECT_NE(ramps[0].from, ramps[0].to);
  // No room: nothing is written past the counts given.
  bufferCount = 0;
  rampCount = 0;
  list.CollectModulations(SnParamMask::Of(kVolume), buffers, bufferCount, ramps, rampCount);
  EXPECT_EQ(bufferCount + rampCount, 0u);
}

TEST_F(ModulatorListTest, AnInstanceSharedByTwoVoicesFreezesOnlyWhenBothPause) {
  CSnModulatorInstanceList first, second;
  CSnModulatorInstance* lfo = Instantiate(BankTest::Id("VolumeLfo"), 1);
  ASSERT_NE(lfo, nullptr);
  ASSERT_EQ(Attach(first, lfo), SN_Success);
  ASSERT_EQ(Attach(second, lfo), SN_Success);
  Frame();
  first.Pause();
  ASSERT_NE(lfo->Output(), nullptr);
  Frame();
  const uint64_t elapsed = lfo->ElapsedSamples();
  second.Pause();
  const float held = lfo->CurrentValue();
  EXPECT_EQ(lfo->Output(), nullptr);
  Frame();
  Frame();
  EXPECT_EQ(lfo->ElapsedSamples(), elapsed);
  EXPECT_EQ(first.GetFactor(Both()), 0.5f + held);
  second.Resume();
  Frame();
  EXPECT_EQ(lfo->ElapsedSamples(), elapsed + LowerEngine::SamplesPerFrame());
  first.Resume();
}

TEST_F(ModulatorListTest, ReleaseSchedulesOnceFromTheSamplesPlayed) {
  CSnModulatorInstanceList list;
  CSnModulatorInstance* envelope = Instantiate(BankTest::Id("PitchEnvelope"), 1);
  ASSERT_NE(envelope, nullptr);
  ASSERT_EQ(Attach(list, envelope), SN_Success);
  Frame();
  EXPECT_EQ(envelope->ReleaseStart(), kModulatorNever);
  list.Release(300);
  EXPECT_EQ(envelope->ReleaseStart(), LowerEngine::SamplesPerFrame() + 300);
  EXPECT_EQ(envelope->State(), uint32_t(SnModulatorState_Releasing));
  list.Release(5);
  EXPECT_EQ(envelope->ReleaseStart(), LowerEngine::SamplesPerFrame() + 300);
}

TEST_F(ModulatorListTest, TheLastOwnerToLetGoReleasesTheInstancesAndNoVoiceIsStoppedAfterIt) {
  CSnModulatorInstance* first = Instantiate(kVoiceEnvelope, 7);
  ASSERT_NE(first, nullptr);
  {
    CSnModulatorInstanceList voice;
    CSnModulatorInstanceList handedOn;
    ASSERT_EQ(Attach(voice, first), SN_Success);
    // More than the record's pool of four.
    std::vector<CSnModulatorInstance*> more;
    for (uintptr_t v = 10; v < 15; ++v) {
      more.push_back(Instantiate(kVoiceEnvelope, v));
      ASSERT_EQ(Attach(voice, more.back()), SN_Success);
    }
    EXPECT_EQ(voice.InstanceCount(), 6u);
    voice.ShareWith(handedOn);
    voice.Detach();
    EXPECT_FALSE(voice.HasRecord());
    EXPECT_EQ(handedOn.InstanceCount(), 6u);
    processor_.ReleaseInactive();
    EXPECT_EQ(processor_.Count(), 6u);
  }
  // Every user gone: the frame's end lets the instances go without stopping the voices they drove,
  // which may be gone before them.
  processor_.ReleaseInactive();
  EXPECT_EQ(processor_.Count(), 0u);
  EXPECT_TRUE(stops_.stopped.empty());
}

}  // namespace
