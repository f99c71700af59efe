// Modulators loaded from banks the bank builder writes: their payload bytes, property defaults,
// ranges and curves, triggering, per-key instances by scope, the instances' bindings and releases,
// and the frame pass over the processing list.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "Base/MathUtil.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Effects/PluginParamTarget.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/PoolObject.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundModulators/SoundTestObjects.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace {

using namespace SN;
using Tools::BankNodeProperty;

// Records what ending instances stop, in order.
struct StopRecorder final : ISnModulatorDrivenTargets {
  void StopPlaybackInstance(CSnPlaybackInstance* instance) override { instances.push_back(instance); }
  void StopNodeFor(CSnIndexedObject* node, CSnRegisteredObj* object, uint32_t playingId) override {
    nodes.push_back({node, object, playingId});
  }
  struct NodeStop {
    CSnIndexedObject* node;
    CSnRegisteredObj* object;
    uint32_t playingId;
  };
  std::vector<CSnPlaybackInstance*> instances;
  std::vector<NodeStop> nodes;
};

using ModulationTest::FakeVoice;
using ModulationTest::HeldNode;

class ModulatorTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    ModulatorDrivenTargets() = &stops_;
    Base::SeedRand15(7);
  }
  void TearDown() override {
    list_.Term();
    for (uint32_t bank : loaded_) g_pBankManager->UnloadBankWait(bank, nullptr);
    ModulatorDrivenTargets() = nullptr;
    BankFixture::TearDown();
  }

  SNRESULT Load(const std::vector<std::pair<uint8_t, Tools::BankModulator>>& modulators) {
    Tools::BankDescription bank;
    bank.bankId = 3000 + uint32_t(loaded_.size());
    for (const auto& [type, modulator] : modulators) bank.objects.push_back({type, Tools::ModulatorPayload(modulator)});
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    return LoadImage(Tools::WriteBank(bank));
  }
  SNRESULT LoadImage(std::vector<uint8_t> image) {
    return ModulationTest::LoadKeptImage(images_, loaded_, std::move(image));
  }
  // The loaded modulator (the bank keeps it alive).
  CSnModulatorObject* Modulator(uint32_t id) {
    CSnModulatorObject* found = FindModulatorAndAddRef(id);
    if (found) found->Release();
    return found;
  }
  CSnModulatorInstance* Instantiate(uint32_t id, const SnModulatorInstantiationParams& params) {
    CSnModulatorInstance* instance = nullptr;
    EXPECT_EQ(Modulator(id)->Instantiate(params, list_, &instance), SN_Success);
    return instance;
  }
  SnModulatorInstantiationParams Voice(CSnRegisteredObj* object, uint32_t playingId, uintptr_t voice) {
    SnModulatorInstantiationParams params;
    params.gameObject = object;
    params.playingId = playingId;
    params.playbackInstance = FakeVoice(voice);
    return params;
  }
  CSnRegisteredObj* GameObject(uint32_t id) { return g_pRegistryMgr->RegisterGameObj(id, 1); }

  StopRecorder stops_;
  CSnModulatorProcessor list_;
  std::vector<std::vector<uint8_t>> images_;
  std::vector<uint32_t> loaded_;
  bool created_ = false;
};

Tools::BankModulator Mod(uint32_t id, std::vector<BankNodeProperty> properties = {},
                         std::vector<Tools::BankNodeRange> ranges = {}) {
  Tools::BankModulator modulator;
  modulator.id = id;
  modulator.properties = std::move(properties);
  modulator.ranges = std::move(ranges);
  return modulator;
}

TEST(ModulatorBankText, ModulatorLinesWriteTheirPayloadBytes) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("modulator lfo @77 0=2 4=2.5 5=1 2~-1,3\nmodulator envelope @78\n", "Test", bank,
                                    error))
      << error;
  ASSERT_EQ(bank.objects.size(), 2u);
  EXPECT_EQ(bank.objects[0].type, 21);
  EXPECT_EQ(bank.objects[1].type, 22);
  // id; values {count 3; ids 0 4 5; 2 (int), 2.5f, 1 (int)}; ranges {count 1; id 2; -1.0f 3.0f}; no curves.
  const std::vector<uint8_t> lfo = {77, 0, 0, 0, 3, 0, 4, 5, 2, 0, 0, 0, 0x00, 0x00, 0x20, 0x40, 1, 0, 0, 0,
                                    1, 2, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x40, 0x40, 0, 0};
  EXPECT_EQ(bank.objects[0].payload, lfo);
  EXPECT_EQ(bank.objects[1].payload, (std::vector<uint8_t>{78, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(Tools::ParseBankText("modulator lfo @79 4:2\n", "Test", bank, error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(Tools::ParseBankText("modulator sine @79\n", "Test", bank, error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
}

TEST(ModulatorBankText, CurvesFollowTheRangesInTheNodeCurveForm) {
  Tools::BankModulator modulator = Mod(5);
  modulator.curves.push_back({9, 0, 1, 44, 3, 0, {{0.0f, 0.0f, 4}, {1.0f, 2.0f, 4}}});
  const std::vector<uint8_t> bytes = Tools::ModulatorPayload(modulator);
  const std::vector<uint8_t> expected = {5, 0, 0, 0, 0, 0, 1, 0, 9, 0, 0, 0, 0, 1, 44, 3, 0, 0, 0, 0, 2, 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, 4, 0, 0, 0};
  EXPECT_EQ(bytes, expected);
}

TEST_F(ModulatorTest, TheGameBankBringsItsLfoAndEnvelope) {
  // Its sounds play on Init's buses.
  ASSERT_EQ(LoadImage(BankTest::ContentBank("Init")), SN_Success) << log_.Take();
  ASSERT_EQ(LoadImage(BankTest::ContentBank("GeneralBank")), SN_Success) << log_.Take();
  CSnModulatorObject* lfo = Modulator(BankTest::Id("VolumeLfo"));
  CSnModulatorObject* envelope = Modulator(BankTest::Id("PitchEnvelope"));
  ASSERT_TRUE(lfo && envelope);
  EXPECT_EQ(lfo->Kind(), uint32_t(SnModulator_Oscillator));
  EXPECT_EQ(lfo->Scope(), uint32_t(SnModulatorScope_GameObject));
  EXPECT_EQ(envelope->Kind(), uint32_t(SnModulator_Envelope));
  auto* instance = static_cast<CSnOscillatorInstance*>(Instantiate(lfo->ID(), Voice(GameObject(3), 1, 1)));
  ASSERT_NE(instance, nullptr);
  EXPECT_FLOAT_EQ(instance->Params().depth, 0.5f);
  EXPECT_FLOAT_EQ(instance->Params().frequency, 2.0f);
  EXPECT_EQ(instance->Params().waveform, uint32_t(SnWaveform_Triangle));
}

TEST_F(ModulatorTest, AnEnvelopeWithoutPropertiesTakesTheDefaultsAndHoldsItsSustain) {
  ASSERT_EQ(Load({{22, Mod(40)}}), SN_Success);
  auto* instance = static_cast<CSnEnvelopeInstance*>(Instantiate(40, Voice(GameObject(1), 1, 1)));
  ASSERT_NE(instance, nullptr);
  const uint32_t rate = LowerEngine::SampleRate();
  EXPECT_EQ(instance->Params().attackSamples, 100 * rate);
  EXPECT_EQ(instance->Params().decaySamples, 200 * rate);
  EXPECT_EQ(instance->Params().releaseSamples, 1000 * rate);
  EXPECT_FLOAT_EQ(instance->Params().curve, 0.005f);
  EXPECT_FLOAT_EQ(instance->Params().sustain, 0.003f);
  EXPECT_EQ(instance->ReleaseStart(), kModulatorNever);
}

TEST_F(ModulatorTest, RangesOffsetAndClampAndTheLongestTimesSaturate) {
  ASSERT_EQ(Load({{22, Mod(41, {BankNodeProperty::Float(9, 2.0f), BankNodeProperty::Float(13, 3.0e38f)},
                      {{9, -5.0f, -5.0f}, {11, 0.0f, 0.0f}})},
                 {21, Mod(42, {}, {{4, 100.0f, 200.0f}})}}),
            SN_Success);
  auto* envelope = static_cast<CSnEnvelopeInstance*>(Instantiate(41, Voice(GameObject(1), 1, 1)));
  ASSERT_NE(envelope, nullptr);
  EXPECT_EQ(envelope->Params().attackSamples, 0u);                         // 2 - 5 clamped to 0
  EXPECT_EQ(envelope->Params().decaySamples, 200 * LowerEngine::SampleRate());  // {0, 0} leaves it
  EXPECT_EQ(envelope->ReleaseStart(), kModulatorMaxSamples);               // saturated, not "never"
  for (int i = 0; i < 20; ++i) {
    const float hertz = Modulator(42)->ResolveProperty(SnModProp_Frequency, SnRTPCKey{});
    EXPECT_GE(hertz, 101.0f);
    EXPECT_LE(hertz, 201.0f);
  }
}

TEST_F(ModulatorTest, CurvesSubscribeAndEveryOneIsLetGoWithTheObject) {
  Tools::BankModulator modulator = Mod(43);
  modulator.curves.push_back({900, 0, 0, 44, 1, 0, {{0.0f, 1.0f, 4}, {100.0f, 20.0f, 4}}});
  modulator.curves.push_back({901, 0, 0, 74, 2, 0, {{0.0f, 0.0f, 4}, {1.0f, 1.0f, 4}}});
  ASSERT_EQ(Load({{21, modulator}}), SN_Success);
  EXPECT_EQ(Modulator(43)->ParameterMask(), 1u << 2);
  EXPECT_EQ(g_pRTPCMgr->ActiveSubscriptionCount(900), 1u);
  EXPECT_EQ(g_pRTPCMgr->ActiveSubscriptionCount(901), 1u);
  // The curve's value replaces the frequency of a new instance: 50 on the game parameter gives 10.5.
  ASSERT_EQ(g_pRTPCMgr->SetRTPCImmediate(900, 50.0f, SnRTPCKey{}), SN_Success);
  auto* instance = static_cast<CSnOscillatorInstance*>(Instantiate(43, Voice(GameObject(1), 1, 1)));
  ASSERT_NE(instance, nullptr);
  EXPECT_FLOAT_EQ(instance->Params().frequency, 10.5f);
  // A change reaches the instance through its parameter setter.
  ASSERT_EQ(g_pRTPCMgr->SetRTPCImmediate(900, 100.0f, SnRTPCKey{}), SN_Success);
  EXPECT_FLOAT_EQ(instance->Params().frequency, 20.0f);
  g_pBankManager->UnloadBankWait(loaded_.back(), nullptr);
  loaded_.pop_back();
  // Parameter 74 has no mask bit; its subscription once outlived the object.
  EXPECT_EQ(g_pRTPCMgr->ActiveSubscriptionCount(900), 0u);
  EXPECT_EQ(g_pRTPCMgr->ActiveSubscriptionCount(901), 0u);
  EXPECT_EQ(instance->State(), uint32_t(SnModulatorState_Finished));
  EXPECT_EQ(instance->Owner(), nullptr);
}

TEST_F(ModulatorTest, TriggersFollowKindModeAndMidiEvent) {
  ASSERT_EQ(Load({{21, Mod(50)}, {22, Mod(51)}, {22, Mod(52, {BankNodeProperty::Int(15, 2)})},
                  {22, Mod(53, {BankNodeProperty::Int(15, 0)})}}),
            SN_Success);
  auto params = [](uint8_t status, uint8_t velocity, int32_t mode = 1) {
    SnModulatorInstantiationParams p;
    p.midi = {status, 0, 60, velocity};
    p.mode = mode;
    return p;
  };
  CSnModulatorObject* lfo = Modulator(50);
  EXPECT_TRUE(lfo->ShouldTrigger(params(0, 0)));
  EXPECT_TRUE(lfo->ShouldTrigger(params(0x90, 64)));
  EXPECT_FALSE(lfo->ShouldTrigger(params(0x90, 0)));
  EXPECT_FALSE(lfo->ShouldTrigger(params(0x80, 64)));
  CSnModulatorObject* onTrigger = Modulator(51);
  EXPECT_TRUE(onTrigger->ShouldTrigger(params(0, 0)));
  EXPECT_TRUE(onTrigger->ShouldTrigger(params(0x80, 0)));
  EXPECT_FALSE(onTrigger->ShouldTrigger(params(0x90, 64, 3)));
  CSnModulatorObject* onRelease = Modulator(52);
  EXPECT_FALSE(onRelease->ShouldTrigger(params(0, 0)));
  EXPECT_FALSE(onRelease->ShouldTrigger(params(0x90, 64)));
  EXPECT_TRUE(onRelease->ShouldTrigger(params(0x90, 0)));
  EXPECT_TRUE(onRelease->ShouldTrigger(params(0x80, 30)));
  EXPECT_FALSE(Modulator(53)->ShouldTrigger(params(0x90, 64)));
  EXPECT_FALSE(Modulator(53)->ShouldTrigger(params(0, 0)));
}

TEST_F(ModulatorTest, ScopesDecideWhichKeysShareAnInstance) {
  ASSERT_EQ(Load({{21, Mod(60)},
                  {21, Mod(61, {BankNodeProperty::Int(0, 1)})},
                  {21, Mod(62, {BankNodeProperty::Int(0, 2)})},
                  {21, Mod(63, {BankNodeProperty::Int(0, 3)})}}),
            SN_Success);
  CSnRegisteredObj* one = GameObject(1);
  CSnRegisteredObj* two = GameObject(2);
  // Per playback instance: two voices, two instances.
  EXPECT_NE(Instantiate(60, Voice(one, 10, 1)), Instantiate(60, Voice(one, 11, 2)));
  // Per game object: different playing ids share.
  EXPECT_EQ(Instantiate(62, Voice(one, 10, 1)), Instantiate(62, Voice(one, 11, 2)));
  EXPECT_NE(Instantiate(62, Voice(one, 10, 1)), Instantiate(62, Voice(two, 10, 3)));
  // Per note: the key keeps object, target, channel and note, not the playing id or the voice.
  SnModulatorInstantiationParams note = Voice(one, 10, 1);
  note.midi = {0x90, 0, 60, 100};
  note.midiTargetId = 5;
  CSnModulatorInstance* perNote = Instantiate(61, note);
  ASSERT_NE(perNote, nullptr);
  EXPECT_EQ(perNote->Key().gameObject, one);
  EXPECT_EQ(perNote->Key().midiTargetId, 5u);
  EXPECT_EQ(perNote->Key().midiChannel, 0u);
  EXPECT_EQ(perNote->Key().midiNote, 60u);
  EXPECT_EQ(perNote->Key().playingId, 0u);
  EXPECT_EQ(perNote->Key().playbackInstance, nullptr);
  // Global: every voice of every object, and any read rewrites the key to wildcards.
  CSnModulatorInstance* global = Instantiate(63, Voice(one, 10, 1));
  EXPECT_EQ(global, Instantiate(63, Voice(two, 12, 4)));
  EXPECT_EQ(global->EffectiveScope(), uint32_t(SnModulatorScope_Global));
  SnRTPCKey read = SnRTPCKey::ForObjectAndPlayingId(two, 99);
  float value = -1.0f;
  EXPECT_TRUE(Modulator(63)->GetCurrentValue(read, value));
  EXPECT_TRUE(read.IsGlobal());
  // Only the exact reduced key is read: a per-voice modulator has nothing at the object's level.
  SnRTPCKey general = SnRTPCKey::ForObject(one);
  EXPECT_FALSE(Modulator(60)->GetCurrentValue(general, value));
  EXPECT_EQ(general.gameObject, one);
}

TEST_F(ModulatorTest, AnEnvelopeRestartsOnANewTriggerAndAnOscillatorCarriesOn) {
  ASSERT_EQ(Load({{21, Mod(70, {BankNodeProperty::Int(0, 2)})}, {22, Mod(71, {BankNodeProperty::Int(0, 2)})}}),
            SN_Success);
  CSnRegisteredObj* one = GameObject(1);
  CSnModulatorInstance* envelope = Instantiate(71, Voice(one, 10, 1));
  CSnModulatorInstance* oscillator = Instantiate(70, Voice(one, 10, 1));
  envelope->AddUser();
  oscillator->AddUser();
  ASSERT_EQ(list_.ProcessModulators(256), SN_Success);
  ASSERT_EQ(list_.ProcessModulators(256), SN_Success);
  EXPECT_EQ(envelope->ElapsedSamples(), 512u);
  bool created = true;
  EXPECT_EQ(Modulator(71)->GetOrCreateInstance(envelope, Voice(one, 10, 1), created), envelope);
  EXPECT_FALSE(created);
  EXPECT_EQ(envelope->ElapsedSamples(), 0u);
  EXPECT_EQ(Modulator(70)->GetOrCreateInstance(oscillator, Voice(one, 10, 1), created), oscillator);
  EXPECT_EQ(oscillator->ElapsedSamples(), 512u);
  // Without a trigger of its own (mode 0) a wider scope makes nothing new.
  SnModulatorInstantiationParams quiet = Voice(GameObject(2), 10, 1);
  quiet.mode = 0;
  EXPECT_EQ(Modulator(70)->GetOrCreateInstance(nullptr, quiet, created), nullptr);
  EXPECT_EQ(Modulator(70)->Instantiate(quiet, list_), SN_Failure);
  EXPECT_EQ(Modulator(70)->InstanceCount(), 1u);
  envelope->RemoveUser();
  oscillator->RemoveUser();
}

TEST_F(ModulatorTest, TheListKeepsTheActiveAndReleasesTheRestLastFirst) {
  ASSERT_EQ(Load({{22, Mod(80)}}), SN_Success);
  CSnRegisteredObj* one = GameObject(1);
  CSnModulatorInstance* first = Instantiate(80, Voice(one, 10, 1));
  CSnModulatorInstance* second = Instantiate(80, Voice(one, 11, 2));
  CSnModulatorInstance* third = Instantiate(80, Voice(one, 12, 3));
  second->AddUser();
  ASSERT_EQ(list_.Count(), 3u);
  list_.ReleaseInactive();
  ASSERT_EQ(list_.Count(), 1u);
  EXPECT_EQ(list_.Head(), second);
  // Envelopes stop what they drive: the third voice before the first.
  EXPECT_EQ(stops_.instances, (std::vector<CSnPlaybackInstance*>{FakeVoice(3), FakeVoice(1)}));
  // The tree holds them until the frame's end finds them inactive.
  EXPECT_EQ(Modulator(80)->InstanceCount(), 3u);
  Modulator(80)->NotifyInstances();
  EXPECT_EQ(Modulator(80)->InstanceCount(), 1u);
  (void)first;
  (void)third;
  second->RemoveUser();
}

TEST_F(ModulatorTest, SeventeenJobsTakeTwoChunksAndOneJobGivesTheSecondBack) {
  ASSERT_EQ(Load({{22, Mod(90)}}), SN_Success);
  CSnRegisteredObj* one = GameObject(1);
  std::vector<CSnModulatorInstance*> instances;
  for (uintptr_t v = 1; v <= 17; ++v) {
    instances.push_back(Instantiate(90, Voice(one, 10, v)));
    instances.back()->AddUser();
  }
  ASSERT_EQ(list_.ProcessModulators(512), SN_Success);
  EXPECT_EQ(list_.ChunkCount(SnModulator_Envelope), 2u);
  EXPECT_EQ(list_.ChunkCount(SnModulator_Oscillator), 0u);
  for (size_t i = 1; i < instances.size(); ++i) instances[i]->RemoveUser();
  list_.ReleaseInactive();
  ASSERT_EQ(list_.ProcessModulators(512), SN_Success);
  EXPECT_EQ(list_.ChunkCount(SnModulator_Envelope), 1u);
  instances[0]->RemoveUser();
}

TEST_F(ModulatorTest, PausedUsersHoldAnInstanceUnlessItIsGlobal) {
  ASSERT_EQ(Load({{21, Mod(100)}, {21, Mod(101, {BankNodeProperty::Int(0, 3)})}}), SN_Success);
  CSnModulatorInstance* voice = Instantiate(100, Voice(GameObject(1), 10, 1));
  CSnModulatorInstance* global = Instantiate(101, Voice(GameObject(1), 10, 1));
  for (CSnModulatorInstance* instance : {voice, global}) {
    instance->AddUser();
    instance->PauseUser();
  }
  ASSERT_EQ(list_.ProcessModulators(256), SN_Success);
  EXPECT_EQ(voice->ElapsedSamples(), 0u);
  EXPECT_EQ(voice->Output(), nullptr);
  EXPECT_EQ(global->ElapsedSamples(), 256u);
  EXPECT_NE(global->Output(), nullptr);
  voice->ResumeUser();
  ASSERT_EQ(list_.ProcessModulators(256), SN_Success);
  EXPECT_EQ(voice->ElapsedSamples(), 256u);
  voice->RemoveUser();
  global->RemoveUser();
}

TEST_F(ModulatorTest, AnEndedEnvelopeLeavesTreeAndListAtTheEndOfTheNextFrame) {
  // Attack, decay and release of 0 s, sustain of 0.01 s (480 samples): over inside the first frame.
  ASSERT_EQ(Load({{22, Mod(110, {BankNodeProperty::Float(9, 0.0f), BankNodeProperty::Float(11, 0.0f),
                                 BankNodeProperty::Float(13, 0.01f), BankNodeProperty::Float(14, 0.0f)})}}),
            SN_Success);
  CSnModulatorProcessor& service = DefaultModulatorObjects().List();
  CSnModulatorInstance* instance = nullptr;
  ASSERT_EQ(Modulator(110)->Instantiate(Voice(GameObject(1), 10, 1), service, &instance), SN_Success);
  instance->AddUser();
  instance->SetSamplesWanted(true);
  DefaultModulatorObjects().ProcessFrame();
  ASSERT_NE(instance->Output(), nullptr);
  EXPECT_EQ(instance->Output()->state, int32_t(SnModulatorState_Finished));
  EXPECT_EQ(instance->Output()->samples[479], 0.3f * 0.01f);
  EXPECT_EQ(instance->Output()->samples[480], 0.0f);
  EXPECT_EQ(instance->State(), uint32_t(SnModulatorState_Running));
  EXPECT_EQ(Modulator(110)->InstanceCount(), 1u);
  EXPECT_EQ(service.Count(), 1u);
  DefaultModulatorObjects().ProcessFrame();
  EXPECT_EQ(Modulator(110)->InstanceCount(), 0u);
  EXPECT_EQ(service.Count(), 0u);
  EXPECT_EQ(stops_.instances, (std::vector<CSnPlaybackInstance*>{FakeVoice(1)}));
}

// An instance its owner's tree let go while bound waits on its list for the end of the frame; its
// bank goes meanwhile. The owner outlives the instance: the instance's end still stops the voice its
// envelope drove, through the owner, and the owner goes with the instance's end. Before the instance
// held its owner: a member call on the freed modulator (UBSan, ASan use-after-poison), every run. A
// list whose instances are bound and in the tree lets the bank take its modulator as before.
TEST_F(ModulatorTest, AnInstanceLetGoByItsOwnersTreeKeepsTheOwnerWhoseBankWent) {
  ASSERT_EQ(Load({{22, Mod(125)}}), SN_Success);
  CSnModulatorInstance* instance = Instantiate(125, Voice(GameObject(1), 10, 1));
  ASSERT_NE(instance, nullptr);
  instance->AddUser();
  ASSERT_TRUE(Modulator(125)->RemoveInstancesForKey(instance->Key()));
  EXPECT_EQ(Modulator(125)->InstanceCount(), 0u);
  EXPECT_EQ(list_.Count(), 1u);
  const uint32_t bank = loaded_.back();
  loaded_.pop_back();
  ASSERT_EQ(g_pBankManager->UnloadBankWait(bank, nullptr), SN_Success);
  EXPECT_TRUE(stops_.instances.empty());
  list_.ReleaseInactive();
  EXPECT_EQ(list_.Count(), 0u);
  EXPECT_EQ(stops_.instances, (std::vector<CSnPlaybackInstance*>{FakeVoice(1)}));
  EXPECT_EQ(Modulator(125), nullptr);

  // Just inside: an instance still in the tree is unbound when the bank takes its modulator.
  ASSERT_EQ(Load({{22, Mod(126)}}), SN_Success);
  CSnModulatorInstance* kept = Instantiate(126, Voice(GameObject(1), 11, 2));
  ASSERT_NE(kept, nullptr);
  kept->AddUser();
  const uint32_t second = loaded_.back();
  loaded_.pop_back();
  ASSERT_EQ(g_pBankManager->UnloadBankWait(second, nullptr), SN_Success);
  EXPECT_EQ(Modulator(126), nullptr);
  EXPECT_EQ(kept->Owner(), nullptr);
  EXPECT_EQ(stops_.instances, (std::vector<CSnPlaybackInstance*>{FakeVoice(1), FakeVoice(2)}));
  list_.ReleaseInactive();
  EXPECT_EQ(list_.Count(), 0u);
}

// A modulator's last reference goes while a flood of plays has filled the pool; an instance of it,
// bound, read by a voice and in its tree, waits on a list. The modulator's end reaches the instance
// through its own link, without memory: the instance is unbound and stops the voice its envelope
// drove, and the list lets it go once its reader has. Before: the end gathered its instances in an
// array it could not grow, cleared the tree and left the instance bound; the list's release called
// the freed modulator (UBSan, ASan use-after-poison).
TEST_F(ModulatorTest, AModulatorEndingWithThePoolFullUnbindsEveryInstanceBoundToIt) {
  ASSERT_EQ(Load({{22, Mod(127)}}), SN_Success);
  CSnModulatorInstance* instance = Instantiate(127, Voice(GameObject(1), 12, 3));
  ASSERT_NE(instance, nullptr);
  // Read: the unload's frame keeps it in the tree.
  instance->AddUser();
  // A reader's reference, the last to go.
  CSnModulatorObject* owner = FindModulatorAndAddRef(127);
  const uint32_t bank = loaded_.back();
  loaded_.pop_back();
  ASSERT_EQ(g_pBankManager->UnloadBankWait(bank, nullptr), SN_Success);
  // The bank thread's pass may still run the unload's frame when the wait returns: the rest is the
  // audio thread's side, under its lock.
  Platform::ReentrantGuard audio(GlobalAudioLock());
  ASSERT_EQ(owner->RefCount(), 1u);
  ASSERT_EQ(instance->Owner(), owner);
  std::vector<void*> filler;
  for (size_t size : {size_t(4096), size_t(256), size_t(16)})
    while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) filler.push_back(block);
  owner->Release();
  for (void* block : filler) MemoryMgr::Free(g_DefaultPoolId, block);
  EXPECT_EQ(instance->Owner(), nullptr);
  instance->RemoveUser();
  list_.ReleaseInactive();
  EXPECT_EQ(stops_.instances, (std::vector<CSnPlaybackInstance*>{FakeVoice(3)}));
  EXPECT_EQ(list_.Count(), 0u);
}

TEST_F(ModulatorTest, BindingKeepsTheNodesOfTheSameObjectAndPlayingId) {
  ASSERT_EQ(Load({{22, Mod(120, {BankNodeProperty::Int(0, 1)})}}), SN_Success);
  auto* a = PoolNew<HeldNode>(g_DefaultPoolId, 1u);
  auto* b = PoolNew<HeldNode>(g_DefaultPoolId, 2u);
  // A note's instance belongs to its game object, which keeps it.
  SnModulatorInstantiationParams trigger = Voice(GameObject(1), 10, 1);
  trigger.midi = {0x90, 2, 64, 90};
  trigger.node = a;
  CSnModulatorInstance* instance = Instantiate(120, trigger);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(a->RefCount(), 2u);
  Modulator(120)->GetOrCreateInstance(instance, trigger, created_);
  trigger.node = b;
  Modulator(120)->GetOrCreateInstance(instance, trigger, created_);
  EXPECT_EQ(instance->HeldNodeCount(), 2u);
  EXPECT_EQ(a->RefCount(), 2u);
  // Another playing id stops the instance first: its nodes are stopped and let go.
  trigger.playingId = 11;
  Modulator(120)->GetOrCreateInstance(instance, trigger, created_);
  ASSERT_EQ(stops_.nodes.size(), 2u);
  EXPECT_EQ(stops_.nodes[0].node, a);
  EXPECT_EQ(stops_.nodes[0].playingId, 10u);
  EXPECT_EQ(instance->HeldNodeCount(), 1u);
  EXPECT_EQ(a->RefCount(), 1u);
  a->Release();
  b->Release();
}

TEST_F(ModulatorTest, ReleasesAndParameterSettersOfBothKinds) {
  ASSERT_EQ(Load({{22, Mod(130, {BankNodeProperty::Float(9, 0.1f), BankNodeProperty::Float(11, 0.2f)})},
                  {21, Mod(131)}}),
            SN_Success);
  CSnModulatorInstance* envelope = Instantiate(130, Voice(GameObject(1), 10, 1));
  envelope->AddUser();
  EXPECT_TRUE(envelope->SetParam(54, -1.0f));
  EXPECT_EQ(envelope->ReleaseStart(), kModulatorNever);
  EXPECT_TRUE(envelope->SetParam(54, 1.0f));
  EXPECT_EQ(envelope->ReleaseStart(), 48000u + 4800u + 9600u);
  EXPECT_TRUE(envelope->SetParam(54, -1.0f));
  for (int frame = 0; frame < 100; ++frame) list_.ProcessModulators(1024);
  envelope->ScheduleRelease(64);
  EXPECT_EQ(envelope->ReleaseStart(), 100u * 1024u + 64u);
  EXPECT_EQ(envelope->State(), uint32_t(SnModulatorState_Releasing));
  envelope->ScheduleRelease(5);
  EXPECT_EQ(envelope->ReleaseStart(), 100u * 1024u + 64u);
  EXPECT_FALSE(envelope->SetParam(44, 1.0f));
  // Per-sample need: 3 Hz is below a quarter of the frame rate (11.7 Hz at 1024 samples), 20 Hz above.
  auto* oscillator = static_cast<CSnOscillatorInstance*>(Instantiate(131, Voice(GameObject(1), 10, 1)));
  oscillator->AddUser();
  oscillator->SetSamplesWanted(true);
  EXPECT_TRUE(oscillator->SetParam(44, 3.0f));
  EXPECT_EQ(oscillator->SamplesPerFrameWanted(), 0u);
  EXPECT_TRUE(oscillator->SetParam(44, 20.0f));
  EXPECT_EQ(oscillator->SamplesPerFrameWanted(), LowerEngine::SamplesPerFrame());
  EXPECT_TRUE(oscillator->SetParam(45, 2.9f));
  EXPECT_TRUE(oscillator->SetParam(42, 50.0f));
  EXPECT_FALSE(oscillator->SetParam(50, 1.0f));
  list_.ProcessModulators(1024);
  EXPECT_EQ(oscillator->OscillatorState().waveform, uint32_t(SnWaveform_Square));
  EXPECT_FLOAT_EQ(oscillator->Params().depth, 0.5f);
  envelope->RemoveUser();
  oscillator->RemoveUser();
}

TEST_F(ModulatorTest, TheGameParameterManagerReadsASineThroughItsCurve) {
  // Full depth at once (the default fade-in is a second).
  ASSERT_EQ(Load({{21, Mod(140, {BankNodeProperty::Int(0, 2), BankNodeProperty::Float(2, 100.0f),
                                 BankNodeProperty::Float(3, 0.0f), BankNodeProperty::Float(4, 46.875f)})}}),
            SN_Success);
  int subscriber = 0;
  const SnRTPCGraphPoint identity[] = {{0.0f, 0.0f, SnCurve_Linear}, {1.0f, 1.0f, SnCurve_Linear}};
  ASSERT_EQ(g_pRTPCMgr->AddCurveSubscription(&subscriber, 140, kParameterTypeModulator, 0, 3, 1, 0, identity, 2,
                                             SnRTPCKey{}, SnSubscription_Instance, true),
            SN_Success);
  CSnRegisteredObj* one = GameObject(1);
  const SnRTPCKey key = SnRTPCKey::ForObjectAndPlayingId(one, 10);
  EXPECT_EQ(g_pRTPCMgr->EvaluateSubscription(&subscriber, 3, key), 0.0f);
  auto* instance = static_cast<CSnModulatorInstance*>(ModulatorObjects::GetOrCreateContext(140, key));
  ASSERT_NE(instance, nullptr);
  instance->AddUser();
  // 256 samples of 46.875 Hz: a quarter period, the sine's top.
  DefaultModulatorObjects().List().ProcessModulators(256);
  EXPECT_NEAR(g_pRTPCMgr->EvaluateSubscription(&subscriber, 3, key), 1.0f, 1e-5);
  DefaultModulatorObjects().List().ProcessModulators(512);
  EXPECT_NEAR(g_pRTPCMgr->EvaluateSubscription(&subscriber, 3, key), 0.0f, 1e-5);
  instance->RemoveUser();
  g_pRTPCMgr->RemoveSubscription(&subscriber, 3);
}

// A plug-in parameter that keeps every value it is given.
struct RecordingParam final : ISnPluginParamTarget {
  float GetParamBaseValue(uint32_t) override { return 0.0f; }
  void SetParam(uint32_t, const void* value, uint32_t size) override {
    float v = 0.0f;
    if (size == sizeof v) std::memcpy(&v, value, sizeof v);
    values.push_back(v);
  }
  std::vector<float> values;
};
// A node that keeps the properties it is told of.
struct RecordingNode final : ISnNodeRTPCSubscriber {
  void UpdateRTPC(uint32_t propertyId, const SnRTPCKey&, float, float, const void*) override {
    properties.push_back(propertyId);
  }
  std::vector<uint32_t> properties;
};

// Each frame's end tells every subscription that reads the modulator each instance's value for the
// instance's key: a plug-in parameter of one voice follows that voice's own instance only, another
// voice's follows the instance every voice shares, and a parameter of no voice in particular only
// that shared one. Subscriptions made before the modulator loads are found when it does; nodes are
// not told of the properties their voices read from their own modulators.
TEST_F(ModulatorTest, EveryFramesEndTellsTheSubscriptionsTheirOwnInstancesValue) {
  const SnRTPCGraphPoint identity[] = {{0.0f, 0.0f, SnCurve_Linear}, {1.0f, 1.0f, SnCurve_Linear}};
  CSnRegisteredObj* one = GameObject(1);
  SnRTPCKey firstVoice = SnRTPCKey::ForObjectAndPlayingId(one, 10);
  firstVoice.playbackInstance = FakeVoice(1);
  SnRTPCKey secondVoice = SnRTPCKey::ForObjectAndPlayingId(one, 11);
  secondVoice.playbackInstance = FakeVoice(2);
  RecordingParam early, first, second, global;
  RecordingNode node;
  auto subscribe = [&](void* subscriber, uint32_t property, const SnRTPCKey& key, uint32_t kind) {
    return g_pRTPCMgr->AddCurveSubscription(subscriber, 150, kParameterTypeModulator, 0, property, 1, 0, identity, 2,
                                            key, kind, true);
  };
  ASSERT_EQ(subscribe(static_cast<ISnPluginParamTarget*>(&early), 0, firstVoice, SnSubscription_PluginParam),
            SN_Success);
  // Per playback instance, full depth at once, a quarter period in 256 samples.
  ASSERT_EQ(Load({{21, Mod(150, {BankNodeProperty::Int(0, 0), BankNodeProperty::Float(2, 100.0f),
                                 BankNodeProperty::Float(3, 0.0f), BankNodeProperty::Float(4, 46.875f)})}}),
            SN_Success);
  CSnModulatorObject* lfo = Modulator(150);
  EXPECT_EQ(lfo->SubscriptionCount(), 1u);
  ASSERT_EQ(subscribe(static_cast<ISnPluginParamTarget*>(&first), 0, firstVoice, SnSubscription_PluginParam),
            SN_Success);
  ASSERT_EQ(subscribe(static_cast<ISnPluginParamTarget*>(&second), 0, secondVoice, SnSubscription_PluginParam),
            SN_Success);
  ASSERT_EQ(subscribe(static_cast<ISnPluginParamTarget*>(&global), 0, SnRTPCKey{}, SnSubscription_PluginParam),
            SN_Success);
  ASSERT_EQ(subscribe(static_cast<ISnNodeRTPCSubscriber*>(&node), 2, SnRTPCKey{}, SnSubscription_Node), SN_Success);
  ASSERT_EQ(subscribe(static_cast<ISnNodeRTPCSubscriber*>(&node), 9, SnRTPCKey{}, SnSubscription_Node), SN_Success);
  EXPECT_EQ(lfo->SubscriptionCount(), 6u);
  // The parameter of no particular voice made the shared instance, a quarter period before the first
  // voice made its own.
  CSnModulatorInstance* shared = Instantiate(150, SnModulatorInstantiationParams{});
  ASSERT_NE(shared, nullptr);
  shared->AddUser();
  list_.ProcessModulators(256);
  CSnModulatorInstance* own = Instantiate(150, Voice(one, 10, 1));
  ASSERT_NE(own, nullptr);
  own->AddUser();
  list_.ProcessModulators(256);
  ASSERT_NEAR(shared->CurrentValue(), 0.5f, 1e-5);
  ASSERT_NEAR(own->CurrentValue(), 1.0f, 1e-5);
  lfo->NotifyInstances();
  ASSERT_EQ(first.values.size(), 1u);
  EXPECT_NEAR(first.values[0], 1.0f, 1e-5);
  EXPECT_EQ(early.values, first.values);
  ASSERT_EQ(second.values.size(), 1u);
  EXPECT_NEAR(second.values[0], 0.5f, 1e-5);
  ASSERT_EQ(global.values.size(), 1u);
  EXPECT_NEAR(global.values[0], 0.5f, 1e-5);
  // The pitch is the voice's own to read; property 9 is told of both instances.
  EXPECT_EQ(node.properties, (std::vector<uint32_t>{9, 9}));
  // Ended subscriptions are no longer told (the sanitiser watches their freed records).
  g_pRTPCMgr->RemoveSubscription(static_cast<ISnPluginParamTarget*>(&first), 0);
  g_pRTPCMgr->RemoveSubscription(static_cast<ISnPluginParamTarget*>(&early), 0);
  EXPECT_EQ(lfo->SubscriptionCount(), 4u);
  list_.ProcessModulators(256);
  lfo->NotifyInstances();
  EXPECT_EQ(first.values.size(), 1u);
  EXPECT_EQ(second.values.size(), 2u);
  for (void* subscriber : {static_cast<void*>(static_cast<ISnPluginParamTarget*>(&second)),
                           static_cast<void*>(static_cast<ISnPluginParamTarget*>(&global))})
    g_pRTPCMgr->RemoveSubscription(subscriber, 0);
  for (uint32_t property : {2u, 9u}) g_pRTPCMgr->RemoveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&node), property);
  EXPECT_EQ(lfo->SubscriptionCount(), 0u);
  shared->RemoveUser();
  own->RemoveUser();
}

// Every number finite, yet a depth of 3e38 percent once made the modulator's value 3e36: a value the
// bank stores, one a range draws and one a curve sets later are all held to the property's limits.
TEST_F(ModulatorTest, StoredDrawnAndCurveDrivenValuesAreHeldToTheirLimits) {
  Tools::BankModulator lfo = Mod(44, {BankNodeProperty::Float(2, 3e38f), BankNodeProperty::Float(7, -5.0f)},
                                 {{4, 30000.0f, 30000.0f}});
  lfo.curves.push_back({902, 0, 0, 42, 1, 0, {{0.0f, 50.0f, 4}, {100.0f, 3e38f, 4}}});
  Tools::BankModulator envelope = Mod(45, {BankNodeProperty::Float(12, 1e30f), BankNodeProperty::Float(13, -1.0f)});
  ASSERT_EQ(Load({{21, lfo}, {22, envelope}}), SN_Success);
  const std::string said = log_.Take();
  EXPECT_NE(said.find("Modulator 44: property 2 of 3e+38 is outside 0 to 100; 100 is used"), std::string::npos);
  EXPECT_NE(said.find("Modulator 44: property 7 of -5 is outside 0 to 100; 0 is used"), std::string::npos);
  EXPECT_NE(said.find("Modulator 45: property 12 of 1e+30 is outside 0 to 100; 100 is used"), std::string::npos);
  ASSERT_EQ(g_pRTPCMgr->SetRTPCImmediate(902, 0.0f, SnRTPCKey{}), SN_Success);
  auto* oscillator = static_cast<CSnOscillatorInstance*>(Instantiate(44, Voice(GameObject(1), 1, 1)));
  ASSERT_NE(oscillator, nullptr);
  EXPECT_FLOAT_EQ(oscillator->Params().depth, 0.5f);  // the curve's 50 at 0
  EXPECT_EQ(oscillator->Params().pulseWidth, 0.0f);
  EXPECT_EQ(oscillator->Params().frequency, 20000.0f);  // the drawn 30000 Hz
  ASSERT_EQ(g_pRTPCMgr->SetRTPCImmediate(902, 100.0f, SnRTPCKey{}), SN_Success);
  EXPECT_EQ(oscillator->Params().depth, 1.0f);
  auto* held = static_cast<CSnEnvelopeInstance*>(Instantiate(45, Voice(GameObject(1), 1, 2)));
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->Params().sustain, 1.0f);
  EXPECT_EQ(held->ReleaseStart(), kModulatorNever) << "a negative sustain time still holds";
}

}  // namespace
