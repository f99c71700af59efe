// The bank text's curves over game parameters (of sounds, buses, layers and modulators), state
// properties and the state maps of nodes, and modulators.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

// rtpc <sound, bus or layers> <property> [modulator] <game parameter or modulator> <x>:<y>[:<shape>]...
// The property is volume, pitch, lowpass, highpass or a parameter number below 64; the shape is an
// interpolation (linear when left out).
// The words from `from` on as a curve's points <x>:<y>[:<shape>], at least one, left to right.
bool BankTextParser::Points(const std::vector<std::string>& w, size_t from, std::vector<BankCurvePoint>& points) {
  if (from >= w.size()) return Fail("a curve has at least one point <x>:<y>[:<shape>]");
  for (size_t i = from; i < w.size(); ++i) {
    const size_t first = w[i].find(':');
    const size_t second = first == std::string::npos ? first : w[i].find(':', first + 1);
    BankCurvePoint point;
    point.interpolation = 4;
    if (first == std::string::npos) return Fail("\"" + w[i] + "\" is not a point <x>:<y>[:<shape>]");
    if (!Real(w[i].substr(0, first), point.x) ||
        !Real(w[i].substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1), point.y))
      return false;
    if (second != std::string::npos && !Number(w[i].substr(second + 1), point.interpolation)) return false;
    if (!points.empty() && !(point.x > points.back().x)) return Fail("the points of a curve go from left to right");
    if (points.size() == kMaxCurvePoints)
      return Fail("a curve holds at most " + std::to_string(kMaxCurvePoints) + " points");
    points.push_back(point);
  }
  return true;
}

bool BankTextParser::CurveDriver(const std::vector<std::string>& w, size_t& at, BankNodeCurve& curve) {
  static const char* const kScalings[] = {"db", "log", "dbtolin"};
  for (; at < w.size(); ++at) {
    if (w[at] == "add" || w[at] == "multiply") {
      if (curve.accumulation) return Fail("a curve is added or multiplied with the others of its parameter, not both");
      curve.accumulation = w[at] == "add" ? 1 : 2;
      continue;
    }
    const auto scaling = std::find(std::begin(kScalings), std::end(kScalings), w[at]);
    if (scaling == std::end(kScalings)) break;
    if (curve.scaling) return Fail("a curve has one scaling");
    curve.scaling = uint8_t(2 + (scaling - std::begin(kScalings)));
  }
  if (at < w.size() && w[at] == "modulator") {
    curve.rtpcType = 2;
    ++at;
  }
  if (at >= w.size()) return Fail("a curve names the game parameter or modulator that drives it");
  return Id(w[at], curve.rtpcId);
}

bool BankTextParser::Rtpc(const std::vector<std::string>& w) {
  if (!Count(w, 5, kNoMost)) return false;
  uint32_t nodeId = 0;
  if (!Id(w[1], nodeId)) return false;
  for (DeclaredModulator& declared : m_modulators)
    if (declared.modulator.id == nodeId) return ModulatorRtpc(w, declared);
  std::vector<BankNodeCurve>* curves = nullptr;
  for (PendingSound& pending : m_sounds)
    if (pending.id == nodeId) curves = &pending.params.curves;
  DeclaredBus* bus = nullptr;
  for (DeclaredBus& declared : m_buses)
    if (declared.id == nodeId) bus = &declared;
  if (bus) curves = &bus->params.curves;
  // A layer container's curves are its first layer's, a further layer's its own: they reach the children
  // the layer lists.
  DeclaredLayers* layers = nullptr;
  for (DeclaredLayers& declared : m_layers)
    for (BankLayer& layer : declared.layers)
      if (layer.id == nodeId) {
        layers = &declared;
        curves = &layer.curves;
      }
  if (!curves) return Fail("\"" + w[1] + "\" is not a sound or bus declared before its curve");
  BankNodeCurve curve;
  uint32_t number = 0;
  if (!NamedNodeProperty(w[2], false, number) &&
      !Small(w[2], 63, "is not a node parameter (volume, pitch, lowpass, highpass or 0-63)", number))
    return false;
  curve.parameterId = uint8_t(number);
  size_t at = 3;
  if (!CurveDriver(w, at, curve) || !Points(w, at + 1, curve.points)) return false;
  // The node's two decibel gains, the volume and parameter 36, take levels.
  if ((curve.parameterId == 0 || curve.parameterId == 36) && !PointsWithin(w, at + 1, curve.points)) return false;
  if (curve.parameterId == 8 && !PointsWithin(w, at + 1, curve.points, SN::kPriorityRange, "priority", "priorities"))
    return false;
  // A curve numbered after the node's others, as the bank's curve ids are unique per node; their count is
  // two bytes.
  if (!Fits(curves->size() + 1, kShortCount, "\"" + w[1] + "\"", "curves")) return false;
  curve.curveId = uint32_t(curves->size() + 1);
  curves->push_back(std::move(curve));
  // A bus is written as it is declared: its payload is written again with the curve.
  if (bus) m_bank.objects[bus->object].payload = BusPayload(bus->id, bus->params);
  if (layers)
    m_bank.objects[layers->object].payload =
        LayerContainerPayload(layers->layers[0].id, layers->params, layers->children, layers->layers);
  return true;
}

// stateprops <name> <volume|pitch|lowpass|highpass|busvolume|0-5>=<value>...: what a state gives the nodes
// that map it to these properties; the state's value of a level is a level. A bus's voices hear its
// bus volume, not its volume.
bool BankTextParser::StateProperties(const std::vector<std::string>& w) {
  if (!Count(w, 3, 8)) return false;
  uint32_t id = 0;
  if (!Id(w[1], id)) return false;
  std::vector<BankNodeProperty> properties;
  for (size_t i = 2; i < w.size(); ++i) {
    const size_t equals = w[i].find('=');
    if (equals == std::string::npos) return Fail("\"" + w[i] + "\" is not <property>=<value>");
    const std::string name = w[i].substr(0, equals);
    uint32_t property = 0;
    if (!NamedNodeProperty(name, true, property) &&
        !Small(name, 5, "is not a state property (volume, pitch, lowpass, highpass, busvolume or 0-5)", property))
      return false;
    for (const BankNodeProperty& given : properties)
      if (given.id == property) return Fail("state property \"" + name + "\" is given twice");
    float value = 0.0f;
    if (property == 0 || property == 5 ? !Level(w[i].substr(equals + 1), value) : !Real(w[i].substr(equals + 1), value))
      return false;
    properties.push_back(BankNodeProperty::Float(uint8_t(property), value));
  }
  const size_t object = m_bank.objects.size();
  if (!AddObject(kBankStatePropertiesType, w[1], StatePropertiesPayload(id, properties))) return false;
  m_stateProperties[id] = object;
  return true;
}

// statemap <sound or bus> <state group> <state>=<stateprops>...: the node takes the properties of the
// group's current state, moving to a new state's over the group's transition time. The engine looks
// each state's properties up as it reads the node: they are declared before the node.
bool BankTextParser::StateMap(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  uint32_t nodeId = 0;
  BankNodeStateGroup group;
  if (!Id(w[1], nodeId) || !Id(w[2], group.id)) return false;
  BankNodeParams* params = nullptr;
  size_t object = 0;
  for (PendingSound& pending : m_sounds)
    if (pending.id == nodeId && !pending.motion) {
      params = &pending.params;
      object = pending.object;
    }
  DeclaredBus* bus = nullptr;
  for (DeclaredBus& declared : m_buses)
    if (declared.id == nodeId) bus = &declared;
  if (bus) {
    params = nullptr;
    object = bus->object;
  }
  if (!params && !bus) return Fail("\"" + w[1] + "\" is not a sound or bus declared before its states");
  std::vector<BankNodeStateGroup>& groups = bus ? bus->params.stateGroups : params->stateGroups;
  for (const BankNodeStateGroup& given : groups)
    if (given.id == group.id) return Fail("the states of group \"" + w[2] + "\" are mapped on \"" + w[1] + "\" twice");
  if (!Fits(w.size() - 3, kShortCount, "a state group's map", "states")) return false;
  for (size_t i = 3; i < w.size(); ++i) {
    const size_t equals = w[i].find('=');
    uint32_t state = 0, properties = 0;
    if (equals == std::string::npos) return Fail("\"" + w[i] + "\" is not <state>=<state properties>");
    if (!Id(w[i].substr(0, equals), state) || !Id(w[i].substr(equals + 1), properties)) return false;
    const auto declared = m_stateProperties.find(properties);
    if (declared == m_stateProperties.end() || declared->second > object)
      return Fail("state properties \"" + w[i].substr(equals + 1) + "\" are not declared before \"" + w[1] + "\"");
    group.states.emplace_back(state, properties);
  }
  groups.push_back(std::move(group));
  // A bus is written as it is declared: its payload is written again with its states.
  if (bus) m_bank.objects[bus->object].payload = BusPayload(bus->id, bus->params);
  return true;
}

// rtpc <modulator> <parameter> [modulator] <game parameter or modulator> <x>:<y>[:<shape>]...: a curve of
// one of the modulator's parameters (an LFO's 42 to 48, an envelope's 50 to 55), its points within the
// limits of the property the parameter sets.
bool BankTextParser::ModulatorRtpc(const std::vector<std::string>& w, DeclaredModulator& declared) {
  const uint32_t kind = declared.oscillator ? SN::SnModulator_Oscillator : SN::SnModulator_Envelope;
  // An LFO's properties 2 to 8, an envelope's 9 to 14.
  const uint32_t last = declared.oscillator ? 8 : 14;
  uint32_t parameter = 0, property = declared.oscillator ? 2 : 9;
  if (!Number(w[2], parameter)) return false;
  while (property <= last && SN::ModulatorParameterOfProperty(kind, property) != parameter) ++property;
  if (property > last)
    return Fail("\"" + w[2] + "\" is not a parameter of " +
                (declared.oscillator ? "an lfo (42 to 48)" : "an envelope (50 to 55)"));
  BankNodeCurve curve;
  curve.parameterId = uint8_t(parameter);
  size_t at = 3;
  if (!CurveDriver(w, at, curve) || !Points(w, at + 1, curve.points)) return false;
  if (curve.rtpcType == 2 && curve.rtpcId == declared.modulator.id) return Fail("a modulator does not drive itself");
  const SN::SnValueRange limits = SN::ModulatorPropertyLimits(property);
  if (!PointsWithin(w, at + 1, curve.points, limits, "modulator's property " + std::to_string(property),
                    "property's limits"))
    return false;
  std::vector<BankNodeCurve>& curves = declared.modulator.curves;
  if (!Fits(curves.size() + 1, kShortCount, "\"" + w[1] + "\"", "curves")) return false;
  curve.curveId = uint32_t(curves.size() + 1);
  curves.push_back(std::move(curve));
  m_bank.objects[declared.object].payload = ModulatorPayload(declared.modulator);
  return true;
}

bool BankTextParser::PointsWithin(const std::vector<std::string>& w, size_t from,
                                  const std::vector<BankCurvePoint>& points, SN::SnValueRange range,
                                  const std::string& what, const std::string& whats) {
  for (size_t i = 0; i < points.size(); ++i)
    if (!range.Holds(points[i].y))
      return Fail("the point \"" + w[from + i] + "\" of a curve on a " + what + " is outside the " + whats +
                  " of " + Shown(range.min) + " to " + Shown(range.max));
  return true;
}

bool BankTextParser::Modulator(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  if (w[1] != "lfo" && w[1] != "envelope") return Fail("a modulator is an \"lfo\" or an \"envelope\"");
  BankModulator modulator;
  if (!Id(w[2], modulator.id)) return false;
  for (size_t i = 3; i < w.size(); ++i)
    if (!ModulatorSetting(w[i], modulator)) return false;
  // The property and range counts are one byte each.
  if (!Fits(modulator.properties.size(), kByteCount, "a modulator", "properties") ||
      !Fits(modulator.ranges.size(), kByteCount, "a modulator", "property ranges"))
    return false;
  m_modulators.push_back(DeclaredModulator{m_bank.objects.size(), w[1] == "lfo", modulator});
  return AddObject(w[1] == "lfo" ? 21 : 22, w[2], ModulatorPayload(modulator));
}


// "<property>=<value>" or "<property>~<minimum>,<maximum>"; the scope, stop, waveform and trigger
// mode properties are whole numbers, the others reals.
bool BankTextParser::ModulatorSetting(const std::string& word, BankModulator& modulator) {
  const size_t mark = word.find_first_of("=~");
  if (mark == std::string::npos) return Fail("\"" + word + "\" is neither <property>=<value> nor <property>~<min>,<max>");
  uint8_t id = 0;
  if (!Byte(word.substr(0, mark), id)) return false;
  const std::string rest = word.substr(mark + 1);
  if (word[mark] == '~') {
    const size_t comma = rest.find(',');
    BankNodeRange range;
    range.id = id;
    if (comma == std::string::npos) return Fail("the range \"" + word + "\" has no ','");
    if (!Real(rest.substr(0, comma), range.min) || !Real(rest.substr(comma + 1), range.max)) return false;
    modulator.ranges.push_back(range);
    return true;
  }
  if (id == 0 || id == 1 || id == 5 || id == 15) {
    uint32_t value = 0;
    if (!Number(rest, value)) return false;
    modulator.properties.push_back(BankNodeProperty::Int(id, int32_t(value)));
    return true;
  }
  float value = 0.0f;
  if (!Real(rest, value)) return false;
  if (SN::HoldModulatorProperty(id, value) != value) {
    const SN::SnValueRange limits = SN::ModulatorPropertyLimits(id);
    return Fail("\"" + word + "\" is outside property " + std::to_string(id) + "'s limits of " + Shown(limits.min) +
                " to " + Shown(limits.max));
  }
  modulator.properties.push_back(BankNodeProperty::Float(id, value));
  return true;
}

}  // namespace Tools
