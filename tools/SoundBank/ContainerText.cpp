// The bank text's containers: mixers (HIRC type 7), random and sequence containers (type 5), switch
// containers (type 6) and layer containers (type 9) with their further layers.
#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

// mixer|random|sequence <name> <bus or -> <child>[=weight]... [node word or option...]: children are
// named before.
bool BankTextParser::Container(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  const std::string& kind = w[0];
  const bool mixer = kind == "mixer";
  const NodeKind nodeKind = mixer ? NodeKind::Mixer : kind == "random" ? NodeKind::Random : NodeKind::Sequence;
  DeclaredContainer declared{0, mixer, {}, {}, {}, m_line};
  BankNodeParams& params = declared.params;
  BankRandomSequence& container = declared.container;
  if (!Id(w[1], declared.id) || (w[2] != "-" && !Id(w[2], params.outputBusId))) return false;
  container.playMode = kind == "sequence" ? 1 : 0;
  bool loopRangeLine = false;
  std::vector<std::string> names;
  std::set<std::string> given;
  NodeWords words(*this, nodeKind, params, &declared.path);
  // A random or sequence container's own words, each once: how it loops, avoids repeats, goes from item
  // to item.
  auto options = [&](const std::vector<std::string>& line, size_t& i, bool& taken) {
    const std::string& word = line[i];
    taken = !mixer;
    if (mixer) return true;
    if (word == "avoid" || word == "loop") {
      uint32_t number = 0;
      if (i + 1 == line.size()) return Fail("\"" + word + "\" takes 1 value");
      if (!Number(line[++i], number)) return false;
      if (number > 0xFFFF) return Fail("\"" + word + "\" is at most 65535");
      (word == "avoid" ? container.avoidRepeat : container.loopCount) = uint16_t(number);
    } else if (word == "looprange" || word == "transitionrange") {
      // Offsets of the loop count and the transition time, drawn at each play between the two; the
      // transition's are times the engine counts as it counts a delay, either way.
      if (i + 2 >= line.size()) return Fail("\"" + word + "\" takes a lower and an upper offset");
      float low = 0.0f, high = 0.0f;
      const bool loop = word == "looprange";
      if (loop ? !Real(line[i + 1], low) || !Real(line[i + 2], high)
               : !TransitionMs(line[i + 1], true, low) || !TransitionMs(line[i + 2], true, high))
        return false;
      if (low > high) return Fail("\"" + word + "\" takes its lower offset first");
      if (loop) {
        if (low != std::floor(low) || high != std::floor(high) || low < -32768.0f || high > 32767.0f)
          return Fail("a loop offset is a whole number of -32768 to 32767");
        container.loopMin = int16_t(low);
        container.loopMax = int16_t(high);
        loopRangeLine = true;
      } else {
        container.transitionMin = low;
        container.transitionMax = high;
      }
      i += 2;
    } else if (kind == "random" && word == "shuffle") {
      container.randomType = 1;
    } else if (kind == "sequence" && word == "pingpong") {
      container.flags |= 0x04;
    } else if (kind == "sequence" && word == "noreset") {
      container.flags &= uint8_t(~0x02);
    } else if (word == "continuous") {
      container.flags |= 0x08;
    } else if (word == "perobject") {
      container.flags &= uint8_t(~0x10);
    } else if (word == "transition") {
      // How a continuous play goes from item to item: 1 crossfade, 2 power crossfade, 3 delay, 4 sample
      // accurate, 5 trigger rate; the time in ms for 1, 2, 3 and 5.
      if (i + 2 >= line.size()) return Fail("\"transition\" takes a type and a time in ms");
      uint32_t type = 0;
      if (!Number(line[++i], type) || !TransitionMs(line[++i], false, container.transitionMs)) return false;
      if (type > 5) return Fail("a transition type is 0 to 5");
      container.transitionType = uint8_t(type);
    } else {
      taken = false;
    }
    return !taken || given.insert(word).second || Fail("\"" + word + "\" is given twice");
  };
  auto child = [&](const std::vector<std::string>& line, size_t& i) {
    const std::string& word = line[i];
    const size_t equals = word.find('=');
    BankPlaylistItem item;
    if (!Id(word.substr(0, equals), item.id)) return false;
    if (equals != std::string::npos && (kind != "random" || !Number(word.substr(equals + 1), item.weight)))
      return kind == "random" ? false : Fail("only a random container's children have weights");
    container.children.push_back(item.id);
    container.playlist.push_back(item);
    names.push_back(word.substr(0, equals));
    return true;
  };
  if (!words.Read(w, 3, options, child)) return false;
  // An endless loop has no offset: the engine would drop it.
  if (loopRangeLine && !container.loopCount) return Fail("an endless loop (\"loop 0\") has no \"looprange\"");
  // The play list's count is two bytes.
  if (!Fits(container.playlist.size(), kShortCount, std::string("a ") + NodeKindName(nodeKind), "children"))
    return false;
  Holds(w[1], declared.id, container.children, std::move(names), false);
  const uint32_t motionBus = params.secondaryOutputId;
  m_containers.push_back(std::move(declared));
  // Written again once its path is whole, and at the bank's end.
  const size_t index = m_containers.size() - 1;
  return AddNode(mixer ? kBankActorMixerType : kBankRandomSequenceType, w[1], nodeKind, motionBus,
                 [this, index](bool motionFlag) {
                   const DeclaredContainer& c = m_containers[index];
                   return c.mixer ? ActorMixerPayload(c.id, c.params, c.container.children, motionFlag)
                                  : RandomSequencePayload(c.id, c.params, c.container, motionFlag);
                 });
}

// switch <name> <bus or -> switch|state <group> <default> <value>=<child>[+<child>]... [continuous]
//   [fade <child> <out ms> <in ms>] [first <child>] [across <child>] [node word...]
bool BankTextParser::Switch(const std::vector<std::string>& w) {
  if (!Count(w, 6, kNoMost)) return false;
  uint32_t id = 0;
  BankNodeParams params;
  BankSwitch container;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], params.outputBusId))) return false;
  if (w[3] != "switch" && w[3] != "state") return Fail("a switch container follows a \"switch\" or a \"state\" group");
  container.groupType = w[3] == "state" ? 1 : 0;
  if (!Id(w[4], container.groupId) || !Id(w[5], container.defaultSwitch)) return false;
  auto settingsOf = [&](uint32_t child) -> BankSwitchChild& {
    for (BankSwitchChild& entry : container.settings)
      if (entry.childId == child) return entry;
    container.settings.push_back({});
    container.settings.back().childId = child;
    return container.settings.back();
  };
  std::vector<std::string> childNames;
  std::set<std::string> given;  // the options, each once (of each child)
  auto options = [&](const std::vector<std::string>& line, size_t& i, bool& taken) {
    const std::string& word = line[i];
    taken = true;
    if (word == "continuous") {
      container.continuous = 1;
      return given.insert(word).second || Fail("\"continuous\" is given twice");
    }
    taken = word == "fade" || word == "first" || word == "across";
    if (!taken) return true;
    const size_t values = word == "fade" ? 3 : 1;
    uint32_t child = 0;
    if (i + values >= line.size()) return Fail("\"" + word + "\" takes " + std::to_string(values) + " values");
    const std::string option = word + " " + line[i + 1];
    if (!given.insert(option).second) return Fail("\"" + option + "\" is given twice");
    if (!Id(line[i + 1], child)) return false;
    BankSwitchChild& entry = settingsOf(child);
    if (word == "fade" && (!Number(line[i + 2], entry.fadeOutMs) || !Number(line[i + 3], entry.fadeInMs))) return false;
    if (word != "fade") entry.flags |= word == "first" ? 1 : 2;
    i += values;
    return true;
  };
  auto list = [&](const std::vector<std::string>& line, size_t& i) {
    const std::string& word = line[i];
    const size_t equals = word.find('=');
    if (equals == std::string::npos) return Fail("\"" + word + "\" is no switch option nor <value>=<children>");
    BankSwitchList values;
    if (!Id(word.substr(0, equals), values.value)) return false;
    std::stringstream names(word.substr(equals + 1));
    for (std::string name; std::getline(names, name, '+');) {
      uint32_t child = 0;
      if (!Id(name, child)) return false;
      values.children.push_back(child);
      if (std::find(container.children.begin(), container.children.end(), child) != container.children.end())
        continue;
      container.children.push_back(child);
      childNames.push_back(name);
    }
    container.lists.push_back(values);
    return true;
  };
  NodeWords words(*this, NodeKind::Switch, params);
  if (!words.Read(w, 6, options, list)) return false;
  Holds(w[1], id, container.children, std::move(childNames), false);
  return AddNode(kBankSwitchType, w[1], NodeKind::Switch, params.secondaryOutputId,
                 [id, params, container](bool motionFlag) { return SwitchPayload(id, params, container, motionFlag); });
}

// The crossfade of a layer follows a game parameter, or a modulator named after "modulator".
bool BankTextParser::CrossfadeDriver(const std::vector<std::string>& w, size_t& at, BankLayer& layer) {
  if (w[at] == "modulator") {
    layer.crossfadeType = 2;
    if (++at == w.size()) return Fail("\"modulator\" names the modulator that drives the crossfade");
  }
  return Id(w[at], layer.crossfadeId);
}

// <child>[=<x0>:<y0>:<x1>:<y1>]: a child of a layer, with a linear crossfade curve between two points.
bool BankTextParser::LayerChild(const std::string& word, BankLayer& layer, uint32_t& childId) {
  const size_t equals = word.find('=');
  BankLayerChild child;
  if (!Id(word.substr(0, equals), child.childId)) return false;
  childId = child.childId;
  if (equals == std::string::npos) return true;
  std::stringstream numbers(word.substr(equals + 1));
  std::vector<float> values;
  for (std::string number; std::getline(numbers, number, ':');) {
    float value = 0.0f;
    if (!Real(number, value)) return false;
    values.push_back(value);
  }
  if (values.size() != 4) return Fail("a layer child's crossfade is <x0>:<y0>:<x1>:<y1>");
  child.crossfade = {{values[0], values[1], 4}, {values[2], values[3], 4}};
  layer.children.push_back(child);
  return true;
}

// layers <name> <bus or -> <parameter> <child>=<x0>:<y0>:<x1>:<y1>...: one layer whose crossfade
// parameter gives each child a linear curve between two points.
bool BankTextParser::Layers(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  uint32_t id = 0;
  DeclaredLayers declared{};
  BankLayer layer;
  size_t at = 3;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], declared.params.outputBusId)) || !CrossfadeDriver(w, at, layer))
    return false;
  layer.id = id;
  NodeWords words(*this, NodeKind::Layers, declared.params);
  std::vector<std::string> names;
  auto child = [&](const std::vector<std::string>& line, size_t& i) {
    uint32_t childId = 0;
    if (!LayerChild(line[i], layer, childId)) return false;
    declared.children.push_back(childId);
    names.push_back(line[i].substr(0, line[i].find('=')));
    return true;
  };
  if (!words.Read(w, at + 1, nullptr, child)) return false;
  Holds(w[1], id, declared.children, std::move(names), false);
  declared.object = m_bank.objects.size();
  declared.layers.push_back(std::move(layer));
  const uint32_t motionBus = declared.params.secondaryOutputId;
  m_layers.push_back(std::move(declared));
  // Written again with each further layer and curve, and at the bank's end.
  const size_t index = m_layers.size() - 1;
  return AddNode(kBankLayerType, w[1], NodeKind::Layers, motionBus, [this, index](bool motionFlag) {
    const DeclaredLayers& layers = m_layers[index];
    return LayerContainerPayload(layers.layers[0].id, layers.params, layers.children, layers.layers, motionFlag);
  });
}

// layer <name> <layers> [modulator] <crossfade driver> <child>[=<x0>:<y0>:<x1>:<y1>]...: a further layer of
// a layer container declared before it, over children the container already holds.
bool BankTextParser::Layer(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  BankLayer layer;
  uint32_t containerId = 0;
  size_t at = 3;
  if (!Id(w[1], layer.id) || !Id(w[2], containerId) || !CrossfadeDriver(w, at, layer)) return false;
  DeclaredLayers* container = nullptr;
  for (DeclaredLayers& declared : m_layers)
    if (declared.layers[0].id == containerId) container = &declared;
  if (!container) return Fail("\"" + w[2] + "\" is not a layer container declared before its layer");
  for (const DeclaredLayers& declared : m_layers)
    for (const BankLayer& other : declared.layers)
      if (other.id == layer.id) return Fail("\"" + w[1] + "\" is already a layer");
  for (size_t i = at + 1; i < w.size(); ++i) {
    uint32_t child = 0;
    if (!LayerChild(w[i], layer, child)) return false;
    if (std::find(container->children.begin(), container->children.end(), child) == container->children.end()) {
      std::string said = "\"";
      said.append(w[i], 0, w[i].find('=')).append("\" is not a child of \"").append(w[2]).append("\"");
      return Fail(said);
    }
  }
  container->layers.push_back(std::move(layer));
  m_bank.objects[container->object].payload =
      LayerContainerPayload(containerId, container->params, container->children, container->layers);
  return true;
}
// elsewhere <node>...: a container may hold a node of a bank loaded before its own, which the engine
// finds as the container loads; any other child names a node of the container's bank. Each is named
// once, and is none of this bank's objects (CheckElsewhere, once they are all known).
bool BankTextParser::Elsewhere(const std::vector<std::string>& w) {
  if (!Count(w, 2, kNoMost)) return false;
  for (size_t i = 1; i < w.size(); ++i) {
    uint32_t id = 0;
    if (!Id(w[i], id)) return false;
    // Id 0 is no node: a container would list a child the engine never finds.
    if (!id) return Fail("\"" + w[i] + "\" names no node: id 0 is none");
    if (!Once(m_elsewhere, id, "elsewhere node \"" + w[i] + "\"")) return false;
    m_elsewhereWords[id] = w[i];
  }
  return true;
}

bool BankTextParser::CheckElsewhere() {
  // Of the words naming an object of this bank, the one on the earliest line.
  int line = 0, declared = 0;
  uint32_t list = 0, id = 0;
  for (const auto& [key, at] : m_objects) {
    const auto named = m_elsewhere.find(key.second);
    if (named == m_elsewhere.end() || (line && named->second >= line)) continue;
    line = named->second;
    declared = at;
    list = key.first;
    id = key.second;
  }
  if (!line) return true;
  m_line = line;
  const char* kind = list == 2 ? "node" : list == 8 ? "bus" : list == 4 ? "event" : list == 3 ? "action" : "object";
  return Fail("\"" + m_elsewhereWords[id] + "\" on an \"elsewhere\" line is the " + kind + " of line " +
              std::to_string(declared) + ", not a node of another bank");
}

bool BankTextParser::FinishContainers() {
  for (DeclaredContainer& declared : m_containers) {
    m_line = declared.line;
    if (!declared.path.empty() && !UsePath(declared.path, declared.params)) return false;
  }
  return true;
}

}  // namespace Tools
