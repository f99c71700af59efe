// The node settings of the bank text read back through the engine's own nodes: a node's priority and
// its distance offset, the voice limits of nodes and buses with their policies, and a container on a
// path; and the values the builder refuses, each naming its line.
#include <string>

#include "Base/MathUtil.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/ContainerLayer.h"
#include "SoundEngine/Hierarchy/LayerContainer.h"
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"

namespace {

using BankTest::Id;
using SN::CSnHierarchyNode;

// A playing instance as the limiters see it: its priority, its age and its game object.
struct Voice final : SN::CSnPlaybackInstance {
  Voice(uint32_t sequence, SN::CSnRegisteredObj* object, float priority = 50.0f) {
    m_priority = priority;
    m_sequenceNumber = sequence;
    m_pGameObject = object;
    m_virtualBehaviour = SN::SnVirtual_Kill;
  }
  void StopNow() override {}
  void OnInstanceCommand(uint32_t, uint32_t, float) override {}
  void Term(uint32_t) override {}
  void Destroy() override {}
};

class NodeSettingsTextTest : public HierarchyTest::HierarchyFixture {
 protected:
  void TearDown() override {
    Base::SeedRand15(1);  // the generator's starting state, which random ranges draw from
    HierarchyFixture::TearDown();
  }
  SN::CSnPropertyNode* Node(const char* name) { return Find<SN::CSnPropertyNode>(Id(name), false); }
  // Counts a play of `voice` from `node` up; the voice joins the limiter that counted it when it may play.
  SN::SNRESULT Start(SN::CSnPropertyNode* node, Voice& voice, SN::SnCountRecord& record) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    record = {};
    record.priority = voice.m_priority;
    record.gameObject = voice.m_pGameObject;
    const SN::SNRESULT result = node->CountInstance(record);
    if (result == SN::SN_Success && record.limiter) record.limiter->Add(&voice);
    return result;
  }
  void End(SN::CSnPropertyNode* node, SN::CSnRegisteredObj* object) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    SN::SnCountRecord record;
    record.gameObject = object;
    node->UncountInstance(record);
  }
  static std::string Refusal(const std::string& text) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_FALSE(Tools::ParseBankText(text, "Test", bank, error)) << text;
    return error;
  }
};

constexpr const char* kHeader = "bus Master -\ntone T 48000 1 10 440\n";
const std::string kNoNode = "names no node of this bank, nor one of another bank given on an \"elsewhere\" line";

// "3d" spatialises along the game object's own rays; either can be left out on its own. The attenuation
// may come from another bank.
TEST_F(NodeSettingsTextTest, ThreeDPlacementLeavesOutSpatialisingOrTheRaysOnItsOwn) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "sound Both T Master 3d A\n"
                                 "sound Flat T Master 3d A nospatialise\n"
                                 "sound NoRays T Master 3d A norays\n"
                                 "sound Neither T Master 3d A norays nospatialise\n")),
            SN::SN_Success)
      << log_.Take();
  // Block flag bit 0 spatialises, bit 3 follows the rays.
  auto flags = [&](const char* name) {
    const SN::SnPositioningParams* positioning = Node(name) ? Node(name)->Positioning() : nullptr;
    return positioning ? int(positioning->flags & 0x09) : -1;
  };
  EXPECT_EQ(flags("Both"), 0x09);
  EXPECT_EQ(flags("Flat"), 0x08);
  EXPECT_EQ(flags("NoRays"), 0x01);
  EXPECT_EQ(flags("Neither"), 0x00);
  EXPECT_EQ(Refusal(std::string(kHeader) + "sound S T Master norays 3d A"),
            "line 3: \"norays\" follows \"3d <attenuation>\"");
  EXPECT_EQ(Refusal(std::string(kHeader) + "sound S T Master nospatialise"),
            "line 3: \"nospatialise\" follows \"3d <attenuation>\"");
}

// A container names the mixer of the voices below it as its own, over its parent's.
TEST_F(NodeSettingsTextTest, AContainersMixerIsItsOwnOverItsParents) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "sound Child T Master\n"
                                 "random R Master Child mixer @77\n"
                                 "sound Other T Master\n"
                                 "mixer M Master Other\n")),
            SN::SN_Success)
      << log_.Take();
  ASSERT_NE(Node("R"), nullptr);
  ASSERT_NE(Node("M"), nullptr);
  EXPECT_TRUE(Node("R")->FlagsA() & SN::CSnHierarchyNode::kOverridesAttachment);
  EXPECT_EQ(Node("R")->IntProperty(SN::SnProp_AttachedMixer), 77);
  EXPECT_FALSE(Node("M")->FlagsA() & SN::CSnHierarchyNode::kOverridesAttachment);
  EXPECT_FALSE(Node("M")->HasProperty(SN::SnProp_AttachedMixer));
  EXPECT_EQ(Refusal(std::string(kHeader) + "sound Child T Master\nrandom R Master Child mixer"),
            "line 4: \"mixer\" takes a definition");
}

TEST_F(NodeSettingsTextTest, APrioritySetOnANodeIsWhatItAndTheChildrenBelowItPlayWith) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "sound Near T Master priority 80 distanceoffset -30\n"
                                 "sound Far T Master distanceoffset 100\n"
                                 "sound Low T Master priority 0\n"
                                 "sound Child T Master\n"
                                 "sound Own T Master priority 100\n"
                                 "random R Master Child Own priority 70 maxvoices 3\n"
                                 "sound Plain T Master\n")),
            SN::SN_Success)
      << log_.Take();
  for (const char* name : {"Near", "Far", "Low", "Child", "Own", "R", "Plain"}) ASSERT_NE(Node(name), nullptr) << name;
  auto priorityOf = [&](const char* name) {
    float priority = -1.0f, offset = -1.0f;
    Node(name)->GetPriority(SN::SnRTPCKey{}, priority, offset);
    return std::pair{priority, offset};
  };
  EXPECT_EQ(priorityOf("Near"), std::pair(80.0f, -30.0f));
  // An offset alone keeps the table's priority of 50.
  EXPECT_EQ(priorityOf("Far"), std::pair(50.0f, 100.0f));
  EXPECT_EQ(priorityOf("Low"), std::pair(0.0f, 0.0f));
  // A child without its own takes its container's; one with its own keeps it.
  EXPECT_EQ(priorityOf("Child"), std::pair(70.0f, 0.0f));
  EXPECT_EQ(priorityOf("Own"), std::pair(100.0f, 0.0f));
  EXPECT_EQ(priorityOf("Plain"), std::pair(50.0f, 0.0f));
  EXPECT_TRUE(Node("R")->FlagsA() & CSnHierarchyNode::kOverridesPriority);
  EXPECT_FALSE(Node("Plain")->FlagsA() & CSnHierarchyNode::kOverridesPriority);
}

TEST_F(NodeSettingsTextTest, VoiceLimitsOfNodesAndBusesCountAndChooseAsTheirWordsSay) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "bus Effects Master maxvoices 3 newest virtual\n"
                                 "sound Shared T Master maxvoices 2 global newest\n"
                                 "sound Each T Master maxvoices 1 oldest\n"
                                 "sound Many T Effects maxvoices 1023 virtual\n"
                                 "sound One T Master\nsound Two T Master\n"
                                 "switch S Master switch G A A=One maxvoices 5 global\n"
                                 "layers L Master P Two maxvoices 6\n")),
            SN::SN_Success)
      << log_.Take();
  for (const char* name : {"Shared", "Each", "Many", "S", "L"}) ASSERT_NE(Node(name), nullptr) << name;
  ASSERT_NE(Bus(Id("Effects")), nullptr);
  constexpr uint8_t kOwn = CSnHierarchyNode::kEnforcesOwnLimit, kNewest = CSnHierarchyNode::kLimiterOldestFirst,
                    kVirtual = CSnHierarchyNode::kLimiterGoVirtual, kGlobal = CSnHierarchyNode::kLimitsGlobally;
  constexpr uint8_t kPolicy = kOwn | kNewest | kVirtual | kGlobal;
  EXPECT_EQ(Node("Shared")->MaxInstances(), 2);
  EXPECT_EQ(Node("Shared")->FlagsA() & kPolicy, kOwn | kNewest | kGlobal);
  EXPECT_EQ(Node("Each")->FlagsA() & kPolicy, kOwn);
  EXPECT_EQ(Node("Many")->MaxInstances(), 1023);
  EXPECT_EQ(Node("Many")->FlagsA() & kPolicy, kOwn | kVirtual);
  EXPECT_EQ(Node("S")->MaxInstances(), 5);
  EXPECT_EQ(Node("S")->FlagsA() & kPolicy, kOwn | kGlobal);
  EXPECT_EQ(Node("L")->MaxInstances(), 6);
  // A bus counts for all game objects together.
  EXPECT_EQ(Bus(Id("Effects"))->MaxInstances(), 3);
  EXPECT_EQ(Bus(Id("Effects"))->FlagsA() & kPolicy, kOwn | kNewest | kVirtual | kGlobal);

  SN::CSnRegisteredObj* seven = GameObject(7);
  SN::CSnRegisteredObj* eight = GameObject(8);
  SN::SnCountRecord record;
  // Two voices for all game objects: a third of equal priority is refused, a higher one takes the
  // place of the newest of the lowest.
  Voice a(1, seven), b(2, eight), c(3, seven), d(4, eight, 90.0f);
  ASSERT_EQ(Start(Node("Shared"), a, record), SN::SN_Success);
  ASSERT_EQ(Start(Node("Shared"), b, record), SN::SN_Success);
  EXPECT_EQ(Start(Node("Shared"), c, record), SN::SN_Failure);
  End(Node("Shared"), seven);
  EXPECT_EQ(Start(Node("Shared"), d, record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &b);
  // One voice per game object: the other object plays beside it, the same object's oldest gives way.
  Voice e(5, seven), f(6, eight), g(7, seven);
  ASSERT_EQ(Start(Node("Each"), e, record), SN::SN_Success);
  EXPECT_EQ(Start(Node("Each"), f, record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, nullptr);
  EXPECT_EQ(Start(Node("Each"), g, record), SN::SN_Success);
  EXPECT_EQ(record.giveWay, &e);
  for (SN::CSnRegisteredObj* object : {seven, eight, eight}) End(Node("Shared"), object);
  for (SN::CSnRegisteredObj* object : {seven, eight, seven}) End(Node("Each"), object);
  EXPECT_EQ(Node("Shared")->Activity(), nullptr);
  EXPECT_EQ(Node("Each")->Activity(), nullptr);
}

// The path is whole only after the container's line: the container is written with it at the end.
TEST_F(NodeSettingsTextTest, AContainerOnAPathCarriesItsVertices) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "path P loop transition 40\npathitem P\npathvertex P 1 2 3 100\n"
                                 "sound A T Master\nsound B T Master\nsequence Q Master A path P\n"
                                 "random R Master B\n"
                                 "pathvertex P 4 5 6 200\n")),
            SN::SN_Success)
      << log_.Take();
  const SN::CSnPropertyNode* sequence = Node("Q");
  ASSERT_NE(sequence, nullptr);
  ASSERT_NE(sequence->Positioning(), nullptr);
  EXPECT_EQ(SN::ThreeDTypeOf(sequence->SendFlags() & 0x0F), 2u);
  EXPECT_EQ(sequence->Positioning()->vertexCount, 2u);
  EXPECT_EQ(sequence->Positioning()->itemCount, 1u);
  EXPECT_EQ(sequence->Positioning()->pathTransitionMs, 40u);
  EXPECT_EQ(sequence->Positioning()->vertices[1].position[2], 6.0f);
  EXPECT_EQ(Node("R")->Positioning(), nullptr);
}

// Any node property by its number, a random range, and the sends, as the node's accumulation gathers
// them for a voice; values at the ends of their ranges are kept.
TEST_F(NodeSettingsTextTest, PropertiesRangesAndSendsReachTheValuesAVoiceGathers) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "bus Reverb Master\n"
                                 "sound A T Master property 33 -4.5 property 23 -2 gamesend -3 auxsend Reverb -6 "
                                 "auxsend @77 -12 property 47 -127 property 45 127 property 53 65535 vary volume -2 2 "
                                 "vary 33 -1 0\n"
                                 "sound B T Master\nmixer M Master B property 33 -1 gamesend -96\n")),
            SN::SN_Success)
      << log_.Take();
  SN::CSnPropertyNode* a = Node("A");
  SN::CSnPropertyNode* b = Node("B");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  constexpr uint32_t kEveryGroup = 0x3F;
  SN::SnSoundParams params;
  a->GetSoundParams(params, kEveryGroup, SN::SnRTPCKey{}, nullptr, false, true);
  EXPECT_EQ(params.secondGain, -4.5f);
  EXPECT_EQ(params.outputBus[0], -2.0f);
  EXPECT_EQ(params.gameSend, -3.0f);
  EXPECT_EQ(params.auxBusIds[0], Id("Reverb"));
  EXPECT_EQ(params.auxBusIds[1], 77u);
  EXPECT_EQ(params.auxBusIds[2], 0u);
  EXPECT_EQ(params.userSends[0], -6.0f);
  EXPECT_EQ(params.userSends[1], -12.0f);
  EXPECT_EQ(a->IntProperty(SN::SnProp_MidiTranspose), -127);
  EXPECT_EQ(a->IntProperty(SN::SnProp_MidiTrackingRoot), 127);
  EXPECT_EQ(a->IntProperty(SN::SnProp_MidiChannelMask), 65535);
  // Each play draws its offsets within the ranges.
  bool drawn = false;
  for (int play = 0; play < 20; ++play) {
    SN::SnSoundParams each;
    SN::SnRandomOffsets random;
    a->GetSoundParams(each, kEveryGroup, SN::SnRTPCKey{}, &random, true, true);
    EXPECT_GE(random.volume, -2.0f);
    EXPECT_LE(random.volume, 2.0f);
    EXPECT_GE(random.secondGain, -1.0f);
    EXPECT_LE(random.secondGain, 0.0f);
    drawn = drawn || random.volume != 0.0f;
  }
  EXPECT_TRUE(drawn);
  // A container's values reach its child; the child without sends of its own takes the container's.
  SN::SnSoundParams child;
  b->GetSoundParams(child, kEveryGroup, SN::SnRTPCKey{}, nullptr, false, true);
  EXPECT_EQ(child.secondGain, -1.0f);
  EXPECT_EQ(child.gameSend, -96.0f);
}

// How curves join and scale, MIDI notes on the nodes, and the offsets a container draws at each play.
TEST_F(NodeSettingsTextTest, CurvesMidiAndContainerOffsetsAreWhatTheNodesPlayWith) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "sound A T Master\nrtpc A 36 multiply P 0:2 100:2\nrtpc A 36 multiply Q 0:3 100:3\n"
                                 "sound B T Master\nrtpc B 36 add P 0:2 100:2\nrtpc B 36 Q 0:3 100:3\n"
                                 "rtpc B pitch dbtolin P 0:20 100:20\n"
                                 "sound C T Master midiplay noteoff miditracking 60\n"
                                 "sound D T Master\nmixer M Master D midiplay none miditracking off\n"
                                 "sound E T Master\n"
                                 "random R Master E loop 4 looprange -2 1 transition 3 500 transitionrange -100 100\n"
                                 "sound F T Master\nmodulator lfo W\nlayers L Master modulator W F\n")),
            SN::SN_Success)
      << log_.Take();
  for (const char* name : {"A", "B", "C", "D", "R", "L"}) ASSERT_NE(Node(name), nullptr) << name;
  auto gather = [&](const char* name, uint8_t note = 255) {
    SN::SnSoundParams params;
    SN::SnRTPCKey key;
    key.midiNote = note;
    Node(name)->GetSoundParams(params, 0x3F, key, nullptr, false, true);
    return params;
  };
  // The last curve of a parameter says how its curves join.
  EXPECT_EQ(gather("A").secondGain, 6.0f);
  EXPECT_EQ(gather("B").secondGain, 5.0f);
  EXPECT_NEAR(gather("B").pitch, 10.0f, 0.02f);  // 20 dB as a linear factor, by the engine's fast power
  auto* c = static_cast<SN::CSnSoundNode*>(Node("C"));
  EXPECT_EQ(c->MidiNotePlayMode(), 1u);
  EXPECT_EQ(gather("C", 72).pitch, 1200.0f);
  EXPECT_EQ(Node("D")->MidiPlayMode(), 0u);
  EXPECT_EQ(gather("D", 72).pitch, 0.0f);
  auto* r = static_cast<SN::CSnRandomSequenceContainer*>(Node("R"));
  bool lower = false, upper = false;
  for (int play = 0; play < 200; ++play) {
    const int32_t loops = r->ComputeLoopCount();
    const float ms = r->GetTransitionDuration(nullptr);
    EXPECT_GE(loops, 2);
    EXPECT_LE(loops, 5);
    EXPECT_GE(ms, 400.0f);
    EXPECT_LE(ms, 600.0f);
    lower = lower || loops == 2;
    upper = upper || loops == 5;
  }
  EXPECT_TRUE(lower && upper);
  const SN::CSnContainerLayer* layer = static_cast<SN::CSnLayerContainer*>(Node("L"))->LayerAt(0);
  EXPECT_EQ(layer->CrossfadeRTPC(), Id("W"));
  EXPECT_EQ(layer->CrossfadeRTPCType(), 2);
}

// A bus's mixer and own mix stage, and the effect slots of a bus and a node bypassed from the start.
TEST_F(NodeSettingsTextTest, MixersStagesAndBypassesAreWhatTheBusesAndNodesStartWith) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "effect Gain gain -3\nbus Staged Master mixstage\nbus Plain Master\n"
                                 "bus Mixed Master mixer Gain effect Gain bypass 17\n"
                                 "sound S T Master effect Gain effect Gain bypass 2\n")),
            SN::SN_Success)
      << log_.Take();
  ASSERT_NE(Bus(Id("Staged")), nullptr);
  EXPECT_TRUE(Bus(Id("Staged"))->HasOwnMixStage());
  EXPECT_FALSE(Bus(Id("Plain"))->HasOwnMixStage());
  const SN::SnBusMixer* mixer = Bus(Id("Mixed"))->Mixer();
  ASSERT_NE(mixer, nullptr);
  EXPECT_EQ(mixer->pluginId, Id("Gain"));
  EXPECT_TRUE(mixer->shared);
  ASSERT_NE(Bus(Id("Mixed"))->FxSlots(), nullptr);
  EXPECT_EQ(Bus(Id("Mixed"))->FxSlots()->bypass, 17);
  ASSERT_NE(Node("S")->FxSlots(), nullptr);
  EXPECT_EQ(Node("S")->FxSlots()->bypass, 2);
}

// "layer" gives a layer container further layers, each with its own crossfade over the children it lists
// and its own curves.
TEST_F(NodeSettingsTextTest, FurtherLayersCrossfadeTheirOwnChildren) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "sound A T Master\nsound B T Master\nmodulator lfo W\n"
                                 "layers L Master P A=0:1:100:0 B\nlayer L2 L Q B=0:0:100:1\n"
                                 "layer L3 L modulator W A=0:0:1:1\nrtpc L2 volume R 0:0 100:-12\n")),
            SN::SN_Success)
      << log_.Take();
  auto* container = static_cast<SN::CSnLayerContainer*>(Node("L"));
  ASSERT_NE(container, nullptr);
  ASSERT_EQ(container->LayerCount(), 3u);
  const SN::CSnContainerLayer* first = container->LayerAt(0);
  const SN::CSnContainerLayer* second = container->LayerAt(1);
  const SN::CSnContainerLayer* third = container->LayerAt(2);
  EXPECT_EQ(first->ID(), Id("L"));
  EXPECT_EQ(second->ID(), Id("L2"));
  EXPECT_EQ(second->CrossfadeRTPC(), Id("Q"));
  EXPECT_EQ(third->CrossfadeRTPC(), Id("W"));
  EXPECT_EQ(third->CrossfadeRTPCType(), 2);
  // The curve is the second layer's alone.
  EXPECT_EQ(first->ParameterMask(), 0u);
  EXPECT_EQ(second->ParameterMask(), 1u);
  EXPECT_EQ(second->AttachedChild(Id("B")), Node("B"));
  EXPECT_EQ(second->AttachedChild(Id("A")), nullptr);
  SN::CSnRegisteredObj* object = GameObject(5);
  const SN::SnRTPCKey key = SN::SnRTPCKey::ForObject(object);
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(Id("Q"), 25.0f, key), SN::SN_Success);
  float gain = 0.0f;
  EXPECT_TRUE(second->CrossfadeGain(Id("B"), key, gain));
  EXPECT_NEAR(gain, 0.25f, 1e-6f);
  EXPECT_FALSE(first->CrossfadeGain(Id("B"), key, gain));  // B has no curve in the first layer
  SN::g_pRTPCMgr->SetRTPCImmediate(Id("Q"), 0.0f, {});
}

// "effect <name> node" declares a per-node definition: the slots naming it look it up among those, the
// shared ones beside it as before.
TEST_F(NodeSettingsTextTest, SlotsOfAPerNodeDefinitionAreNotShared) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "effect Own node gain -6\neffect Common gain -3\n"
                                 "bus B Master effect Own\nsound S T Master effect Common effect Own\n")),
            SN::SN_Success)
      << log_.Take();
  EXPECT_NE(SN::FindEffectDefinition(Id("Own"), false), nullptr);
  EXPECT_EQ(SN::FindEffectDefinition(Id("Own"), true), nullptr);
  EXPECT_NE(SN::FindEffectDefinition(Id("Common"), true), nullptr);
  const SN::SnNodeFxSlots* sound = Node("S") ? Node("S")->FxSlots() : nullptr;
  const SN::SnNodeFxSlots* bus = Bus(Id("B")) ? Bus(Id("B"))->FxSlots() : nullptr;
  ASSERT_TRUE(sound && bus);
  EXPECT_EQ(sound->slots[0].effectId, Id("Common"));
  EXPECT_TRUE(sound->slots[0].shared);
  EXPECT_EQ(sound->slots[1].effectId, Id("Own"));
  EXPECT_FALSE(sound->slots[1].shared);
  EXPECT_EQ(bus->slots[0].effectId, Id("Own"));
  EXPECT_FALSE(bus->slots[0].shared);
}

// "language" makes a loose tone's file a language's: its sounds ask for the file under the current language.
TEST_F(NodeSettingsTextTest, ALanguagesLooseToneIsLookedUpAsOne) {
  ASSERT_EQ(Load(BankTest::Build(std::string(kHeader) +
                                 "tone Spoken 8000 1 10 440 loose\nlanguage Spoken French\n"
                                 "tone Plain 8000 1 10 440 loose\n"
                                 "sound S Spoken Master\nsound P Plain Master\n")),
            SN::SN_Success)
      << log_.Take();
  auto language = [&](const char* name) {
    auto* sound = static_cast<SN::CSnSoundNode*>(Node(name));
    return sound ? int(sound->Source().flags & SN::CSnSourceDesc::kLanguageFile) : -1;
  };
  EXPECT_EQ(language("S"), int(SN::CSnSourceDesc::kLanguageFile));
  EXPECT_EQ(language("P"), 0);
}

TEST_F(NodeSettingsTextTest, ValuesPastTheirRangesAreRefusedWithTheirLine) {
  const std::string head = std::string(kHeader) + "sound S T Master ";
  const std::string times = "is outside the transition times of 0 to 44739242 ms";
  const std::string offsets = "is outside the transition offsets of -44739242 to 44739242 ms";
  const std::string here = " on an \"elsewhere\" line is the ", notOther = ", not a node of another bank";
  const std::pair<std::string, std::string> refused[] = {
      {head + "priority 100.5", "line 3: \"100.5\" is outside the priorities of 0 to 100"},
      {head + "priority -1", "line 3: \"-1\" is outside the priorities of 0 to 100"},
      {head + "\nrandom R Master S distanceoffset -101",
       "line 4: \"-101\" is outside the distance offsets of -100 to 100"},
      {head + "distanceoffset 100.01", "line 3: \"100.01\" is outside the distance offsets of -100 to 100"},
      {head + "maxvoices 0", "line 3: \"0\" is not a voice limit of 1 to 1023"},
      {head + "\nlayers L Master P S maxvoices 1024", "line 4: \"1024\" is not a voice limit of 1 to 1023"},
      {"bus B - maxvoices 2 global",
       "line 1: a bus limits its voices for all game objects together: \"global\" is a node's"},
      {head + "maxvoices 2 newest oldest",
       "line 3: a voice limit gives way to the \"newest\" or the \"oldest\", not both"},
      {head + "priority", "line 3: \"priority\" takes 1 value"},
      {head + "\nswitch W Master switch G A A=S maxvoices", "line 4: \"maxvoices\" takes a number of voices"},
      {head + "\nrandom R Master S path Nowhere", "line 4: path \"Nowhere\" is not declared"},
      {"path P\n" + head + "\nsequence Q Master S path P", "line 5: path \"P\" has no item"},
      {head + "property 60 1", "line 3: \"60\" is not a node property (volume, pitch, lowpass, highpass or 0-59)"},
      {head + "property 45 128", "line 3: \"128\" is outside the values of property 45 of 0 to 127"},
      {head + "property 47 -128", "line 3: \"-128\" is outside the values of property 47 of -127 to 127"},
      {head + "property 46 1.5", "line 3: \"1.5\" is not a whole number"},
      {head + "property pitch 2401", "line 3: \"2401\" is outside the values of property 2 of -2400 to 2400"},
      {head + "property 33", "line 3: \"property\" takes 2 values"},
      {head + "vary volume 2 -2", "line 3: \"vary\" takes its lower offset first"},
      {head + "vary 46 0 1", "line 3: property 46 is a whole number: it does not vary"},
      {head + "auxsend A -6 auxsend A -6 auxsend A -6 auxsend A -6 auxsend A -6",
       "line 3: a node has four auxiliary sends"},
      {head + "auxsend @0 -6", "line 3: an auxiliary send names its bus"},
      {head + "\nmixer M Master S gamesend", "line 4: \"gamesend\" takes 1 value"},
      {head + "\nrtpc S volume add multiply P 0:0", "line 4: a curve is added or multiplied with the others of its "
                                                   "parameter, not both"},
      {head + "\nrtpc S volume db log P 0:0", "line 4: a curve has one scaling"},
      {head + "\nrtpc S volume db add", "line 4: a curve names the game parameter or modulator that drives it"},
      {head + "midiplay always", "line 3: a MIDI note plays on \"noteon\", \"noteoff\" or \"none\""},
      {head + "miditracking 128", "line 3: \"128\" is not a MIDI key (0-127)"},
      {head + "\nrandom R Master S looprange 1 -1", "line 4: \"looprange\" takes its lower offset first"},
      {head + "\nsequence Q Master S looprange 0.5 1", "line 4: a loop offset is a whole number of -32768 to 32767"},
      {head + "\nsequence Q Master S looprange -32769 0", "line 4: a loop offset is a whole number of -32768 to 32767"},
      {head + "\nrandom R Master S loop 0 looprange 0 1", "line 4: an endless loop (\"loop 0\") has no \"looprange\""},
      {head + "\nrandom R Master S transitionrange 5", "line 4: \"transitionrange\" takes a lower and an upper offset"},
      {head + "bypass 32", "line 3: \"32\" is not a bypass mask of the four slots and all (0-31)"},
      {head + "bypass 1", "line 3: a node without effects has nothing to bypass"},
      {"bus B - bypass 1", "line 1: a bus without effects has nothing to bypass"},
      {head + "\nlayers L Master modulator", "line 4: \"modulator\" names the modulator that drives the crossfade"},
      {head + "\nlayer L2 S P S", "line 4: \"S\" is not a layer container declared before its layer"},
      {head + "\nlayers L Master P S\nlayer L2 L P Other", "line 5: \"Other\" is not a child of \"L\""},
      {head + "\nlayers L Master P S\nlayer L L P S", "line 5: \"L\" is already a layer"},
      {head + "\nlayers L Master P S\nlayer L2 L P S=0:1:2", "line 5: a layer child's crossfade is <x0>:<y0>:<x1>:<y1>"},
      {"language T French", "line 1: tone \"T\" is not declared"},
      {"tone T 8000 1 10 440\nlanguage T French", "line 2: tone \"T\" is not loose: only a file of its own is a language's"},
      {"tone T 8000 1 10 440 loose\nlanguage T French\nlanguage T German", "line 3: tone \"T\" is already a language's"},
      {"tone T 8000 1 10 440 loose\nlanguage T a/b", "line 2: \"a/b\" is not a language folder (1-31 characters, no slash)"},
      {"tone T 8000 1 10 440 loose\nlanguage T ..", "line 2: \"..\" is not a language folder (1-31 characters, no slash)"},
      {"tone T 8000 1 10 440 loose\nlanguage T " + std::string(32, 'x'),
       "line 2: \"" + std::string(32, 'x') + "\" is not a language folder (1-31 characters, no slash)"},
      {"tone T 8000 1 10 440 loose\nlanguage T French\nmusictrack M T", "line 3: tone \"T\" is a language's: a music track streams no language's file"},
      {"effect E node", "line 1: \"effect\" takes 3 or more values"},
      {"effect E node fast 1", "line 1: \"fast\": an effect is \"gain <dB>\" or \"plugin <key>\""},
      {head + "\nlayers L Master P S\nlayer L2 L modulator", "line 5: \"modulator\" names the modulator that drives the crossfade"},
      {head + "delay 44739243", "line 3: \"44739243\" is outside the delays of 0 to 44739242 ms"},
      {head + "volme -3", "line 3: \"volme\" is no sound option"},
      // A word the line does not take was a child's name; so was a child of no bank.
      {head + "\nrandom R Master S volme -3", "line 4: \"volme\" " + kNoNode},
      {head + "\nlayers L Master P S wobble", "line 4: \"wobble\" " + kNoNode},
      {head + "\nswitch W Master switch G A A=S+Gone", "line 4: \"Gone\" " + kNoNode},
      // A container's own options, each once.
      {head + "\nrandom R Master S avoid 1 avoid 2", "line 4: \"avoid\" is given twice"},
      {head + "\nsequence Q Master S loop 2 loop 3", "line 4: \"loop\" is given twice"},
      {head + "\nrandom R Master S transition 1 5 transition 2 5", "line 4: \"transition\" is given twice"},
      {head + "\nrandom R Master S loop 3 looprange 0 1 looprange 0 2", "line 4: \"looprange\" is given twice"},
      {head + "\nswitch W Master switch G A A=S fade S 1 1 fade S 2 2", "line 4: \"fade S\" is given twice"},
      // Transition times and their offsets within what the engine counts, as a delay.
      {head + "\nrandom R Master S transition 1 -5", "line 4: \"-5\" " + times},
      {head + "\nsequence Q Master S transition 3 44739243", "line 4: \"44739243\" " + times},
      {head + "\nrandom R Master S transitionrange -1e38 1e38", "line 4: \"-1e38\" " + offsets},
      {head + "\nrandom R Master S transitionrange 0 44739243", "line 4: \"44739243\" " + offsets},
      // An "elsewhere" word names a node of another bank, once: none of this bank's objects, before or after.
      {head + "\nelsewhere S\nrandom R Master S", "line 4: \"S\"" + here + "node of line 3" + notOther},
      {head + "\nelsewhere A\nsound A T Master\nrandom R Master S A",
       "line 4: \"A\"" + here + "node of line 5" + notOther},
      {head + "\nelsewhere Play\nevent Play", "line 4: \"Play\"" + here + "event of line 5" + notOther},
      {head + "\nelsewhere Master", "line 4: \"Master\"" + here + "bus of line 1" + notOther},
      {head + "\nelsewhere Far Far", "line 4: elsewhere node \"Far\" is given twice (first on line 4)"},
      {head + "\nelsewhere Far\nelsewhere far", "line 5: elsewhere node \"far\" is given twice (first on line 4)"},
      {head + "\nelsewhere @0\nrandom R Master S @0", "line 4: \"@0\" names no node: id 0 is none"},
  };
  for (const auto& [text, error] : refused) EXPECT_EQ(Refusal(text + "\n"), error) << text;
  // A child of a bank loaded before, named so, and the longest delay and transition times are taken.
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(Tools::ParseBankText(head + "delay 44739242\nelsewhere Far\nrandom R Master S Far transition 1 44739242 "
                                          "transitionrange -44739242 44739242\n",
                                   "Test", bank, error))
      << error;
}

}  // namespace
