// The parser of bank descriptions, shared by the files that read its directives, each file the
// directives of one writer: the bank's settings, its tones, its buses, sounds, containers, curves and
// other objects. A line that makes a node reads its node words through NodeWords.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundBank/ContainerWriter.h"
#include "tools/SoundBank/DialogueWriter.h"
#include "tools/SoundBank/EffectWriter.h"
#include "tools/SoundBank/HierarchyWriter.h"
#include "tools/SoundBank/MusicText.h"
#include "tools/SoundBank/NodeParamsWriter.h"
#include "tools/SoundBank/NodeWords.h"
#include "tools/SoundBank/ToneMedia.h"

namespace Tools {

// A dialogue event whose tree is written once all its paths are read, into its place among the objects.
struct Dialogue {
  std::string name;
  BankDialogueEvent event;
  size_t object = 0;
  int line = 0;
};

struct Tone {
  std::string name;
  ToneDesc desc;
  bool loose = false;
  bool prepared = false;  // loose, and played from memory once a preparation has loaded it
  int line = 0;
  uint32_t prefetch = 0;  // bytes of a loose tone's file the bank holds as well
  int prefetchLine = 0;
  int musicTrackLine = 0;  // the first music track playing it, written with how it streams then
  std::string language;    // the language folder a loose file is one of; empty for none
};


// Limits that keep a bank inside its 32-bit sizes: a header chunk of a few blocks, a curve's point
// count in its 16 bits, and media a little under 4 GiB.
constexpr uint32_t kMaxHeaderBytes = 65536;
constexpr size_t kMaxCurvePoints = 0xFFFF;
constexpr uint64_t kMaxMediaBytes = 0xFFFFFFFFull - 65536;
constexpr size_t kNoMost = size_t(-1);
// A platform is a short name every bank of a game repeats: the engine refuses a bank whose platform is
// not the first bank's, so a name past any real one is a slip of the author's.
constexpr size_t kMaxPlatformChars = 64;


// A sound or an attenuation: its place among the objects is kept from its line, its payload is
// written once the bank's media and points are known.
struct PendingSound {
  size_t object;
  uint32_t id;
  std::string tone;
  BankNodeParams params;
  int line;
  bool motion = false;  // a motion source of one source, the tone
  BankMotionSource motionValues;  // its device values and starting value
  std::string path;  // empty: no path
};
// A path a sound moves along: its play-list items, each taking the vertices declared after it.
struct PendingPath {
  std::string name;
  BankNodePositioning settings;  // the path fields only
  int line = 0;
};
// A mixer, random or sequence container: one moving along a path is written again once the path is whole.
struct DeclaredContainer {
  uint32_t id;
  bool mixer;
  BankNodeParams params;
  BankRandomSequence container;
  std::string path;  // empty: no path
  int line;
};
// A node written on its line, written again at the bank's end with the bank's motion flag (the secondary
// output id is in its payload only then); `motionBus` needs that flag.
struct WrittenNode {
  size_t object;
  int line;
  NodeKind kind;
  bool motionBus;
  NodeWrite write;
};
// A bus keeps its settings, so that a curve declared after it is written into its payload again.
struct DeclaredBus {
  size_t object;
  uint32_t id;
  BankBusParams params;
};
// A modulator keeps what it was declared with, so that a curve on one of its parameters declared after
// it is written into its payload again.
struct DeclaredModulator {
  size_t object;
  bool oscillator;
  BankModulator modulator;
};
// A layer container keeps its layer, so that a curve declared after it is written into its payload again.
struct DeclaredLayers {
  size_t object;
  BankNodeParams params;
  std::vector<uint32_t> children;
  std::vector<BankLayer> layers;  // the first has the container's id
};
// A source plug-in's parameter node: its id (the source id of the sounds that play it) and its key.
struct BankSourcePlugin {
  uint32_t id = 0;
  uint32_t key = 0;
};
struct PendingAttenuation {
  size_t object;
  uint32_t id;
  std::string name;
  BankAttenuation attenuation;
};

// A node that names others it is loaded after: a container its children, a bus its parent bus. The
// engine loads what is named first, so a name of this bank declared later would be refused there (and
// is how a loop would form); checked once the bank is whole. A child is a node of this bank or one of
// another bank named on an "elsewhere" line; a parent bus may be any bank's.
struct Holder {
  std::string name;
  uint32_t id = 0;
  std::vector<uint32_t> held;
  std::vector<std::string> heldNames;  // as the line gives them
  bool bus = false;
  int line = 0;
};

class BankTextParser final : public MusicTextHost {
 public:
  BankTextParser(BankDescription& bank, std::string& error) : m_bank(bank), m_error(error), m_music(*this) {}

  bool Line(const std::vector<std::string>& words);
  bool Finish();
  void SetLine(int line) { m_line = line; }

  bool Fail(const std::string& message) override {
    m_error = "line " + std::to_string(m_line) + ": " + message;
    return false;
  }
  bool ToneMedia(const std::string& name, double& ms, uint32_t& bytes, uint8_t& stream) override;
  bool AddMedia(const std::string& name, std::vector<uint8_t> bytes, uint32_t& id) override;
  uint32_t BankId() const override { return m_bank.bankId; }
  bool AddObject(uint8_t type, const std::string& name, std::vector<uint8_t> payload) override;
  bool AddNode(uint8_t type, const std::string& name, NodeKind kind, uint32_t motionBus, NodeWrite write) override;
  uint8_t EffectShared(uint32_t effectId) const override { return m_nodeEffects.count(effectId) ? 0 : 1; }

 private:
  using Directive = bool (BankTextParser::*)(const std::vector<std::string>& w);
  static const std::map<std::string, Directive>& Directives();

  // The bank's settings, names and raw chunks, and the faults of the malformed corpus (SettingsText.cpp).
  bool Platform(const std::vector<std::string>& w);
  bool Threshold(const std::vector<std::string>& w);
  bool Voices(const std::vector<std::string>& w);
  bool StateGroupLine(const std::vector<std::string>& w);
  bool Transition(const std::vector<std::string>& w);
  bool SwitchGroupLine(const std::vector<std::string>& w);
  bool SwitchPoint(const std::vector<std::string>& w);
  bool Parameter(const std::vector<std::string>& w);
  bool EnvCurve(const std::vector<std::string>& w);
  bool EnvPoint(const std::vector<std::string>& w);
  bool BankNameLine(const std::vector<std::string>& w);
  bool Chunk(const std::vector<std::string>& w);
  bool Fault(const std::vector<std::string>& w);
  // Tones and their media (ToneText.cpp).
  bool ToneLine(const std::vector<std::string>& w);
  bool Marker(const std::vector<std::string>& w);
  bool MediaFaultLine(const std::vector<std::string>& w);
  bool Envelope(const std::vector<std::string>& w);
  bool Speakers(const std::vector<std::string>& w);
  bool ToneLoop(const std::vector<std::string>& w);
  bool Language(const std::vector<std::string>& w);
  bool Prefetch(const std::vector<std::string>& w);
  bool FinishTones();
  // Buses (BusText.cpp).
  bool Bus(const std::vector<std::string>& w);
  // Sounds, motion sources and paths (SoundText.cpp).
  bool Sound(const std::vector<std::string>& w);
  bool MotionSource(const std::vector<std::string>& w);
  bool Path(const std::vector<std::string>& w);
  // The node's positioning along the path named `name`.
  bool UsePath(const std::string& name, BankNodeParams& params);
  bool FinishSounds();
  // Containers (ContainerText.cpp).
  bool Container(const std::vector<std::string>& w);
  bool Switch(const std::vector<std::string>& w);
  bool Layers(const std::vector<std::string>& w);
  bool Layer(const std::vector<std::string>& w);
  bool CrossfadeDriver(const std::vector<std::string>& w, size_t& at, BankLayer& layer);
  bool LayerChild(const std::string& word, BankLayer& layer, uint32_t& childId);
  bool FinishContainers();
  // elsewhere <node>...: nodes of banks loaded before this one, which its containers may hold.
  bool Elsewhere(const std::vector<std::string>& w);
  // No word on an "elsewhere" line names an object of this bank, declared before the line or after.
  bool CheckElsewhere();
  // Curves, state properties and modulators (CurveText.cpp).
  bool Rtpc(const std::vector<std::string>& w);
  bool StateProperties(const std::vector<std::string>& w);
  bool StateMap(const std::vector<std::string>& w);
  bool Modulator(const std::vector<std::string>& w);
  // "<property>=<value>" or "<property>~<minimum>,<maximum>" of a modulator.
  bool ModulatorSetting(const std::string& word, BankModulator& modulator);
  bool ModulatorRtpc(const std::vector<std::string>& w, DeclaredModulator& declared);
  bool Points(const std::vector<std::string>& w, size_t from, std::vector<BankCurvePoint>& points);
  // The points of a curve on a level (or another quantity `what` with a range): every y within it,
  // named by its word from `from` on.
  bool PointsWithin(const std::vector<std::string>& w, size_t from, const std::vector<BankCurvePoint>& points,
                    SN::SnValueRange range = SN::kDecibelRange, const std::string& what = "level",
                    const std::string& whats = "levels");
  // [add|multiply] [db|log|dbtolin] [modulator] <driver> from `w[at]` on: how the curve joins the
  // others of its parameter, how its values are scaled, and what drives it; `at` is left on the driver.
  bool CurveDriver(const std::vector<std::string>& w, size_t& at, BankNodeCurve& curve);
  // Events, actions, effects, source plug-ins, raw objects, attenuations and dialogue (ObjectText.cpp).
  bool Event(const std::vector<std::string>& w);
  bool Action(const std::vector<std::string>& w);
  bool Effect(const std::vector<std::string>& w);
  bool SourcePlugin(const std::vector<std::string>& w);
  // rtpc <plug-in parameter> [modulator] <driver> <x>:<y>... from `w[at]` on (nothing when `at` is the
  // end): a curve of the definition's parameter.
  bool PluginCurve(const std::vector<std::string>& w, size_t at, BankEffect& effect);
  bool ObjectLine(const std::vector<std::string>& w);
  bool AttenuationLine(const std::vector<std::string>& w);
  bool AttUse(const std::vector<std::string>& w);
  bool AttRtpc(const std::vector<std::string>& w);
  bool AttCurve(const std::vector<std::string>& w);
  bool DialogueLine(const std::vector<std::string>& w);
  bool DialoguePath(const std::vector<std::string>& w);
  bool FinishObjects();

  bool Count(const std::vector<std::string>& words, size_t least, size_t most) {
    if (words.size() >= least && words.size() <= most) return true;
    return Fail("\"" + words[0] + "\" takes " + std::to_string(least - 1) +
                (most == least ? "" : most == kNoMost ? " or more" : " to " + std::to_string(most - 1)) + " values");
  }
  // Remembers the line that first gave `key`; a second time is refused, naming both lines.
  template <class Key>
  bool Once(std::map<Key, int>& seen, const Key& key, const std::string& what) {
    const auto [at, fresh] = seen.emplace(key, m_line);
    if (fresh) return true;
    return Fail(what + " is given twice (first on line " + std::to_string(at->second) + ")");
  }
  // An object in its line's place whose payload (its id for now) Finish writes; `index` is its place.
  bool AddPending(uint8_t type, const std::string& name, uint32_t id, size_t& index);
  void Uses(BankChunkKind kind) {
    for (const BankChunkRef& chunk : m_bank.order)
      if (chunk.kind == kind) return;
    m_bank.order.push_back(BankChunkRef{kind, 0});
  }
  BankStateGroup* StateGroup(uint32_t id) {
    for (BankStateGroup& group : m_bank.settings.stateGroups)
      if (group.id == id) return &group;
    return nullptr;
  }
  BankSwitchGroup* SwitchGroup(uint32_t id) {
    for (BankSwitchGroup& group : m_bank.settings.switchGroups)
      if (group.id == id) return &group;
    return nullptr;
  }
  Tone* FindTone(const std::string& name) {
    for (Tone& tone : m_tones)
      if (tone.name == name) return &tone;
    return nullptr;
  }
  BankEnvironmentCurve* Curve(const std::string& group, const std::string& curve);
  void Holds(const std::string& name, uint32_t id, std::vector<uint32_t> held, std::vector<std::string> names,
             bool bus) {
    m_holders.push_back(Holder{name, id, std::move(held), std::move(names), bus, m_line});
  }
  bool CheckHolders();
  PendingPath* FindPath(const std::string& name) {
    for (PendingPath& path : m_paths)
      if (path.name == name) return &path;
    Fail("path \"" + name + "\" is not declared");
    return nullptr;
  }
  PendingAttenuation* Attenuation(const std::string& name) {
    for (PendingAttenuation& pending : m_attenuations)
      if (pending.name == name) return &pending;
    Fail("attenuation \"" + name + "\" is not declared");
    return nullptr;
  }
  bool CurveIndex(const std::string& word, uint8_t& index) {
    uint32_t value = 0;
    if (!Small(word, 6, "is not a curve of the seven (0-6)", value)) return false;
    index = uint8_t(value);
    return true;
  }
  bool Tag(const std::string& word) {
    if (word.size() == 4) return true;
    return Fail("a chunk tag has four characters");
  }

  BankDescription& m_bank;
  std::string& m_error;
  std::vector<Tone> m_tones;
  std::vector<Dialogue> m_dialogues;
  int m_line = 0;
  int m_platformLine = 0;
  std::map<std::pair<uint32_t, uint32_t>, int> m_objects;  // (object list, id)
  std::map<uint32_t, int> m_parameters, m_bankNames, m_toneIds;
  std::vector<PendingSound> m_sounds;
  std::vector<DeclaredBus> m_buses;
  std::map<uint32_t, size_t> m_stateProperties;  // id -> place among the objects
  std::vector<Holder> m_holders;  // in the order of their lines
  std::map<uint32_t, int> m_elsewhere;  // nodes of other banks: the line naming each
  std::map<uint32_t, std::string> m_elsewhereWords;  // and the word naming it
  std::vector<DeclaredContainer> m_containers;
  std::vector<DeclaredLayers> m_layers;
  std::vector<WrittenNode> m_nodes;
  std::vector<DeclaredModulator> m_modulators;
  std::vector<PendingAttenuation> m_attenuations;
  std::vector<PendingPath> m_paths;
  std::map<std::string, BankSourcePlugin> m_sourcePlugins;  // by name
  std::set<uint32_t> m_nodeEffects;  // the per-node effect definitions' ids
  MusicText m_music;
};

}  // namespace Tools
