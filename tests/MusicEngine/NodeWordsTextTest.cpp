// The node words of the bank text, walked from the builder's own table: each word, on every kind of line
// that takes it, builds a bank the engine loads and reads the value back through the node; on every kind
// that does not, it is refused with its line; a word given once too often is refused. Counts at their
// fields' widths are taken whole or refused.
#include <functional>
#include <map>
#include <string>

#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "tests/MusicEngine/MusicTestSupport.h"
#include "tools/SoundBank/NodeWords.h"

namespace {

using BankTest::Id;
using Tools::NodeKind;

// Everything the words name, in a bank with the motion flag; twelve lines. The attenuation "A" is left to another bank.
constexpr const char* kHead =
    "motion 1\nbus Master -\nmotionbus Rumble -\nbus Aux Master\ntone T 48000 1 10 440\n"
    "effect Gain gain -3\npath P\npathitem P\npathvertex P 1 2 3 100\nsound C T Master\n"
    "musictrack MT0 T\nsegment S0 120 4 4 1000 0 1000 track:MT0\n";
constexpr int kLine = 13;  // the line of the node under test

// Each kind's line making the node "N", its words in place of "%".
const std::map<NodeKind, std::string> kLines = {
    {NodeKind::Sound, "sound N T Master %"},
    {NodeKind::Mixer, "mixer N Master C %"},
    {NodeKind::Random, "random N Master C %"},
    {NodeKind::Sequence, "sequence N Master C %"},
    {NodeKind::Switch, "switch N Master switch G A A=C %"},
    {NodeKind::Layers, "layers N Master X C %"},
    {NodeKind::MusicTrack, "musictrack N T %"},
    {NodeKind::MusicSegment, "segment N 120 4 4 1000 0 1000 %"},
    {NodeKind::MusicPlaylist, "playlist N 0 % S0"},
    {NodeKind::MusicSwitch, "musicswitch N Mood % default:S0"},
    {NodeKind::Bus, "bus N Master %"},
    {NodeKind::MotionBus, "motionbus N Rumble %"},
};

std::string On(NodeKind kind, const std::string& words) {
  std::string line = kLines.at(kind);
  return kHead + line.replace(line.find('%'), 1, words) + "\n";
}

using NodeCheck = std::function<bool(const SN::CSnPropertyNode&)>;
using BusCheck = std::function<bool(const SN::CSnBusNode&)>;

// A row's words as a line gives them (`before` what it follows), what a node and a bus then hold, and
// `again` a second giving past what a node takes.
struct Sample {
  std::string before, words, again;
  NodeCheck node;
  BusCheck bus;
};

bool Priority(const SN::CSnPropertyNode& node, float priority, float offset) {
  float p = -1.0f, o = -1.0f;
  node.GetPriority(SN::SnRTPCKey{}, p, o);
  return p == priority && o == offset;
}

const std::map<std::string, Sample>& Samples() {
  using N = const SN::CSnPropertyNode&;
  using B = const SN::CSnBusNode&;
  static const std::map<std::string, Sample> kSamples = {
      {"effect", {"", "effect Gain", "effect Gain effect Gain effect Gain effect Gain",
                  [](N n) { return n.FxSlots() && n.FxSlots()->slots[0].effectId == Id("Gain"); },
                  [](B b) { return b.FxSlots() && b.FxSlots()->slots[0].effectId == Id("Gain"); }}},
      {"bypass", {"effect Gain ", "bypass 2", "bypass 2", [](N n) { return n.FxSlots() && n.FxSlots()->bypass == 2; },
                  [](B b) { return b.FxSlots() && b.FxSlots()->bypass == 2; }}},
      {"mixer", {"", "mixer Gain", "mixer Gain",
                 [](N n) { return n.IntProperty(SN::SnProp_AttachedMixer) == int32_t(Id("Gain")); },
                 [](B b) { return b.Mixer() && b.Mixer()->pluginId == Id("Gain"); }}},
      {"priority", {"", "priority 70", "priority 70", [](N n) { return Priority(n, 70.0f, 0.0f); }, {}}},
      {"distanceoffset",
       {"", "distanceoffset -20", "distanceoffset -20", [](N n) { return Priority(n, 50.0f, -20.0f); }, {}}},
      {"midiplay",
       {"", "midiplay noteoff", "midiplay none", [](N n) { return n.IntProperty(SN::SnProp_MidiPlayMode) == 2; }, {}}},
      {"miditracking", {"", "miditracking 60", "miditracking off",
                        [](N n) { return n.IntProperty(SN::SnProp_MidiTrackingRoot) == 60; }, {}}},
      {"volume", {"", "volume -3", "volume -3", [](N n) { return n.FloatProperty(0) == -3.0f; },
                  [](B b) { return b.FloatProperty(0) == -3.0f; }}},
      {"pitch", {"", "pitch 100", "pitch 100", [](N n) { return n.FloatProperty(2) == 100.0f; }, {}}},
      {"lowpass", {"", "lowpass 10", "lowpass 10", [](N n) { return n.FloatProperty(3) == 10.0f; }, {}}},
      {"highpass", {"", "highpass 20", "highpass 20", [](N n) { return n.FloatProperty(4) == 20.0f; }, {}}},
      {"loop", {"", "loop 3", "loop 3", [](N n) { return n.IntProperty(SN::SnProp_LoopCount) == 3; }, {}}},
      {"delay", {"", "delay 250", "delay 250", [](N n) { return n.FloatProperty(59) == 0.25f; }, {}}},
      {"property", {"", "property 33 -4.5", "property 33 -1", [](N n) { return n.FloatProperty(33) == -4.5f; }, {}}},
      {"vary", {"", "vary volume -2 2", "vary 0 -1 1", [](N n) { return n.Ranges().Has(0); }, {}}},
      {"3d",
       {"", "3d A", "3d A", [](N n) { return n.Positioning() && n.Positioning()->attenuationId == Id("A"); }, {}}},
      {"nospatialise", {"3d A ", "nospatialise", "nospatialise",
                        [](N n) { return n.Positioning() && (n.Positioning()->flags & 0x09) == 0x08; }, {}}},
      {"norays", {"3d A ", "norays", "norays",
                  [](N n) { return n.Positioning() && (n.Positioning()->flags & 0x09) == 0x01; }, {}}},
      {"path", {"", "path P", "path P", [](N n) { return n.Positioning() && n.Positioning()->vertexCount == 1; }, {}}},
      {"gamesend",
       {"", "gamesend -3", "gamesend -3", [](N n) { return n.FloatProperty(SN::SnProp_GameSend) == -3.0f; }, {}}},
      {"auxsend", {"", "auxsend Aux -6", "auxsend Aux -6 auxsend Aux -6 auxsend Aux -6 auxsend Aux -6",
                   [](N n) { return n.FloatProperty(SN::SnProp_UserSend0) == -6.0f; }, {}}},
      {"maxvoices", {"", "maxvoices 3", "maxvoices 3", [](N n) { return n.MaxInstances() == 3; },
                     [](B b) { return b.MaxInstances() == 3; }}},
      {"inaudible", {"", "inaudible kill", "inaudible play",
                     [](N n) {
                       uint8_t virtualBehaviour = 0;
                       return (n.FlagsA() & SN::CSnHierarchyNode::kOverridesVoiceBehaviour) &&
                              n.GetVoiceBehaviour(virtualBehaviour) == 1;
                     },
                     {}}},
      {"motion", {"", "motion Rumble", "motion Rumble",
                  [](N n) { return n.SecondaryOutput() && n.SecondaryOutput()->ID() == Id("Rumble"); }, {}}},
      {"ownmix", {"", "ownmix", "ownmix", {}, [](B b) { return b.HasOwnMixStage(); }}},
      {"music",
       {"", "music", "music", {}, [](B b) { return (b.StateByte() & SN::CSnBusNode::kBackgroundMusic) != 0; }}},
      {"mixstage", {"", "mixstage", "mixstage", {}, [](B b) { return b.HasOwnMixStage(); }}},
      {"busvolume", {"", "busvolume -6", "busvolume -6", {}, [](B b) { return b.FloatProperty(5) == -6.0f; }}},
      {"recovery", {"", "recovery 100", "recovery 100", {}, [](B b) { return b.RecoverySamples() > 0; }}},
      {"maxduck", {"", "maxduck -10", "maxduck -10", {}, [](B b) { return b.MaxDuckVolume() == -10.0f; }}},
      {"channels", {"", "channels 3", "channels 3", {}, [](B b) { return b.ChannelConfig() == 3u; }}},
      {"duck", {"", "duck Aux -6 100 100 4 0", "", {}, [](B b) { return b.DuckTargetCount() == 1u; }}},
  };
  return kSamples;
}

class NodeWordsTextTest : public MusicTest::MusicFixture {
 protected:
  // Builds the text into a bank with the project's builder and loads it whole (its header's motion
  // flag and media with it).
  SN::SNRESULT Load(const std::string& text) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, "Words", bank, error)) << error;
    image_ = Tools::WriteBank(bank);
    bankId_ = 0;
    const SN::SNRESULT result =
        SN::g_pBankManager->LoadBankImageWait(image_.data(), uint32_t(image_.size()), true, -1, &bankId_);
    if (result != SN::SN_Success) bankId_ = 0;
    return result;
  }
  // The node "N" of the text's bank, or null.
  const SN::CSnPropertyNode* LoadNode(const std::string& text, bool bus) {
    if (Load(text) != SN::SN_Success) return nullptr;
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(Id("N"), bus);
    if (found) found->Release();  // the bank holds one
    return static_cast<const SN::CSnPropertyNode*>(found);
  }
  void UnloadNode() {
    if (bankId_) {
      EXPECT_EQ(SN::g_pBankManager->UnloadBankWait(bankId_, nullptr), SN::SN_Success);
    }
    bankId_ = 0;
  }
  static std::string Refusal(const std::string& text) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_FALSE(Tools::ParseBankText(text, "Words", bank, error)) << text;
    return error;
  }

  std::vector<uint8_t> image_;
  uint32_t bankId_ = 0;
};

TEST_F(NodeWordsTextTest, EveryNodeWordReachesItsReaderOnTheKindsThatTakeItAndIsRefusedOnTheRest) {
  const std::string at = "line " + std::to_string(kLine) + ": ";
  for (const Tools::NodeWordRow& row : Tools::NodeWordTable()) {
    const auto sample = Samples().find(row.word);
    ASSERT_NE(sample, Samples().end()) << "no sample of \"" << row.word << "\"";
    const Sample& s = sample->second;
    for (const auto& [kind, line] : kLines) {
      const std::string name = std::string(row.word) + " on " + line;
      const bool bus = kind == NodeKind::Bus || kind == NodeKind::MotionBus;
      if (!(row.kinds & Tools::KindBit(kind))) {
        // A random or sequence container's own loop count goes by the node word's name, not its property.
        if (std::string(row.word) == "loop" && (kind == NodeKind::Random || kind == NodeKind::Sequence)) {
          const SN::CSnPropertyNode* container = LoadNode(On(kind, s.words), false);
          EXPECT_TRUE(container && !container->HasProperty(SN::SnProp_LoopCount)) << name << "\n" << log_.Take();
          UnloadNode();
          continue;
        }
        EXPECT_EQ(Refusal(On(kind, s.words)),
                  at + "\"" + row.word + "\" is no " + Tools::NodeKindName(kind) + " option") << name;
        continue;
      }
      const SN::CSnPropertyNode* node = LoadNode(On(kind, s.before + s.words), bus);
      if (!node) {
        ADD_FAILURE() << name << " is not loaded\n" << log_.Take();
        UnloadNode();
        continue;
      }
      if (bus) {
        ASSERT_TRUE(s.bus) << name;
        EXPECT_TRUE(s.bus(static_cast<const SN::CSnBusNode&>(*node))) << name;
      } else {
        ASSERT_TRUE(s.node) << name;
        EXPECT_TRUE(s.node(*node)) << name;
      }
      UnloadNode();
      // Once too often: the second giving of a word taken once, the fifth of one taken four times,
      // the second value of one property.
      if (row.most == Tools::kAnyTimes) continue;
      const std::string twice = On(kind, s.before + s.words + " " + s.again);
      const std::string holder = bus ? "a bus" : "a node";
      const std::string expected =
          row.most == 1 ? "\"" + std::string(row.word) + "\" is given twice"
          : row.most == 4 ? holder + " has " + row.many
          : std::string(row.word) == "property" ? "property 33 is given twice"
                                                : "the range of property 0 is given twice";
      EXPECT_EQ(Refusal(twice), at + expected) << name;
    }
  }
  EXPECT_EQ(Samples().size(), Tools::NodeWordTable().size()) << "a sample of a word the table no longer has";
}

// An effect definition's media count is one byte: 255 media are written and read whole, 256 refused.
TEST_F(NodeWordsTextTest, ACountAtItsFieldsWidthIsTakenWholeAndOnePastItRefused) {
  auto definition = [](int media) {
    std::string text = "tone T 48000 1 10 440\neffect E plugin " + std::to_string(SN::kGainEffectKey) + " 00000000";
    for (int i = 0; i < media; ++i) text += " media " + std::to_string(i) + " T";
    return text + "\n";
  };
  ASSERT_EQ(Load(definition(255)), SN::SN_Success) << log_.Take();
  const SN::CSnEffectDefinition* effect = SN::FindEffectDefinition(Id("E"), true);
  ASSERT_NE(effect, nullptr) << log_.Take();
  EXPECT_EQ(effect->MediaCount(), 255u);
  EXPECT_EQ(effect->MediaAt(254).index, 254);
  UnloadNode();
  EXPECT_EQ(Refusal(definition(256)), "line 2: an effect holds at most 255 media");
}

}  // namespace
