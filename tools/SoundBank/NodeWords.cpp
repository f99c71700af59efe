// The node words' table and the loop every node's line reads them with.
#include "tools/SoundBank/NodeWords.h"

#include <algorithm>
#include <iterator>

#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"

namespace Tools {

namespace {

constexpr uint32_t kSound = KindBit(NodeKind::Sound);
constexpr uint32_t kActorMixers = KindBit(NodeKind::Mixer) | KindBit(NodeKind::Random) | KindBit(NodeKind::Sequence);
constexpr uint32_t kSoundNodes = kSound | kActorMixers | KindBit(NodeKind::Switch) | KindBit(NodeKind::Layers);
constexpr uint32_t kMusicNodes = KindBit(NodeKind::MusicTrack) | KindBit(NodeKind::MusicSegment) |
                                 KindBit(NodeKind::MusicPlaylist) | KindBit(NodeKind::MusicSwitch);
constexpr uint32_t kNodes = kSoundNodes | kMusicNodes;
constexpr uint32_t kBuses = KindBit(NodeKind::Bus) | KindBit(NodeKind::MotionBus);

// The values of the node properties held as whole numbers: MIDI keys and velocities, their offsets, a
// channel mask of sixteen channels, the loop count's 16 bits; any other is a 32-bit signed number.
SN::SnValueRange IntPropertyRange(uint32_t id) {
  switch (id) {
    case SN::SnProp_MidiTrackingRoot: case SN::SnProp_MidiKeyMin: case SN::SnProp_MidiKeyMax:
    case SN::SnProp_MidiVelocityMin: case SN::SnProp_MidiVelocityMax:
      return {0.0f, 127.0f};
    case SN::SnProp_MidiTranspose: case SN::SnProp_MidiVelocityOffset: return {-127.0f, 127.0f};
    case SN::SnProp_MidiPlayMode: return {0.0f, 2.0f};
    case SN::SnProp_MidiChannelMask: case SN::SnProp_LoopCount: return {0.0f, 65535.0f};
    default: return {-2147483648.0f, 2147483520.0f};
  }
}

// The node property a value word sets: pitch in cents, the low-pass and high-pass filter values (which
// add along the path, so a child's may be negative).
uint8_t NodeValueId(const std::string& word) { return word == "pitch" ? 2 : word == "lowpass" ? 3 : 4; }

}  // namespace

const char* NodeKindName(NodeKind kind) {
  static const char* const kNames[] = {"sound", "mixer", "random container", "sequence container",
                                       "switch container", "layer container", "music track", "music segment",
                                       "music playlist", "music switch", "bus", "bus"};
  static_assert(std::size(kNames) == size_t(NodeKind::Count), "a name for every kind");
  return kNames[size_t(kind)];
}

const std::vector<NodeWordRow>& NodeWordTable() {
  using N = NodeWords;
  static const std::vector<NodeWordRow> kTable = {
      {"effect", 1, "a definition", kNodes | kBuses, 4, "four effect slots", &N::Effect},
      {"bypass", 1, "1 value", kNodes | kBuses, 1, "", &N::Bypass},
      {"mixer", 1, "a definition", kSound | kActorMixers | kBuses, 1, "", &N::Mixer},
      {"priority", 1, "1 value", kNodes, 1, "", &N::Priority},
      {"distanceoffset", 1, "1 value", kNodes, 1, "", &N::Priority},
      {"midiplay", 1, "1 value", kNodes, 1, "", &N::MidiPlay},
      {"miditracking", 1, "1 value", kNodes, 1, "", &N::MidiTracking},
      {"volume", 1, "1 value", kNodes | kBuses, 1, "", &N::Volume},
      {"pitch", 1, "1 value", kNodes, 1, "", &N::Value},
      {"lowpass", 1, "1 value", kNodes, 1, "", &N::Value},
      {"highpass", 1, "1 value", kNodes, 1, "", &N::Value},
      {"loop", 1, "1 value", kSound, 1, "", &N::Loop},
      {"delay", 1, "1 value", kNodes, 1, "", &N::Delay},
      {"property", 2, "2 values", kNodes, kEachProperty, "", &N::Property},
      {"vary", 3, "3 values", kNodes, kEachProperty, "", &N::Vary},
      {"3d", 1, "an attenuation", kNodes, 1, "", &N::Placed},
      {"nospatialise", 0, "", kNodes, 1, "", &N::LeftOut},
      {"norays", 0, "", kNodes, 1, "", &N::LeftOut},
      {"path", 1, "a path", kSound | kActorMixers, 1, "", &N::Path},
      {"gamesend", 1, "1 value", kNodes, 1, "", &N::GameSend},
      {"auxsend", 2, "2 values", kNodes, 4, "four auxiliary sends", &N::AuxSend},
      {"maxvoices", 1, "a number of voices", kNodes | kBuses, 1, "", &N::MaxVoices},
      {"inaudible", 1, "a behaviour", kNodes, 1, "", &N::Inaudible},
      {"motion", 1, "a motion bus", kNodes, 1, "", &N::Motion},
      {"ownmix", 0, "", KindBit(NodeKind::Bus), 1, "", &N::BusFlag},
      {"music", 0, "", kBuses, 1, "", &N::BusFlag},
      {"mixstage", 0, "", kBuses, 1, "", &N::BusFlag},
      {"busvolume", 1, "1 value", kBuses, 1, "", &N::BusVolume},
      {"recovery", 1, "1 value", kBuses, 1, "", &N::Recovery},
      {"maxduck", 1, "1 value", kBuses, 1, "", &N::MaxDuck},
      {"channels", 1, "1 value", kBuses, 1, "", &N::Channels},
      {"duck", 6, "6 values", kBuses, kAnyTimes, "", &N::Duck},
  };
  return kTable;
}

bool NamedNodeProperty(const std::string& word, bool busVolume, uint32_t& id) {
  static const std::pair<const char*, uint8_t> kNamed[] = {
      {"volume", 0}, {"pitch", 2}, {"lowpass", 3}, {"highpass", 4}, {"busvolume", 5}};
  for (const auto& [name, property] : kNamed)
    if (word == name && (busVolume || property != 5)) {
      id = property;
      return true;
    }
  return false;
}

NodeWords::NodeWords(NodeWordsHost& host, NodeKind kind, BankNodeParams& params, std::string* path)
    : m_host(host), m_kind(kind), m_node(&params), m_path(path), m_times(NodeWordTable().size()) {}

NodeWords::NodeWords(NodeWordsHost& host, NodeKind kind, BankBusParams& bus)
    : m_host(host), m_kind(kind), m_bus(&bus), m_times(NodeWordTable().size()) {}

bool NodeWords::Read(const std::vector<std::string>& w, size_t from, const LineOptions& options,
                     const LineRest& rest) {
  for (size_t i = from; i < w.size(); ++i) {
    bool taken = false;
    if (!Take(w, i, taken)) return false;
    if (taken) continue;
    if (options && !options(w, i, taken)) return false;
    if (taken) continue;
    if (!NotOthers(w[i]) || !rest(w, i)) return false;
  }
  return Whole();
}

bool NodeWords::Take(const std::vector<std::string>& w, size_t& i, bool& taken) {
  const std::vector<NodeWordRow>& table = NodeWordTable();
  const auto row = std::find_if(table.begin(), table.end(), [&](const NodeWordRow& r) { return w[i] == r.word; });
  taken = row != table.end() && (row->kinds & KindBit(m_kind));
  if (!taken) return true;
  uint32_t& times = m_times[size_t(row - table.begin())];
  if (row->most != kEachProperty && times == row->most)
    return row->most == 1 ? m_host.Fail("\"" + w[i] + "\" is given twice")
                          : m_host.Fail(std::string(IsBus() ? "a bus" : "a node") + " has " + row->many);
  if (i + row->values >= w.size()) return m_host.Fail("\"" + w[i] + "\" takes " + row->takes);
  ++times;
  return (this->*row->read)(w, i);
}

bool NodeWords::NotOthers(const std::string& word) {
  for (const NodeWordRow& row : NodeWordTable())
    if (word == row.word) return NoOption(word);
  return true;
}

bool NodeWords::NoOption(const std::string& word) {
  return m_host.Fail("\"" + word + "\" is no " + NodeKindName(m_kind) + " option");
}

NodeWords::LineRest NodeWords::Refused() {
  return [this](const std::vector<std::string>& w, size_t& i) { return NoOption(w[i]); };
}

bool NodeWords::Whole() {
  if (IsBus()) {
    if (m_bus->bypassBits && m_bus->effects.empty()) return m_host.Fail("a bus without effects has nothing to bypass");
    return m_host.Fits(m_bus->properties.size(), kByteCount, "a bus", "properties");
  }
  if (m_node->bypassBits && m_node->effects.empty())
    return m_host.Fail("a node without effects has nothing to bypass");
  return m_host.Fits(m_node->properties.size(), kByteCount, "a node", "properties") &&
         m_host.Fits(m_node->ranges.size(), kByteCount, "a node", "property ranges");
}

bool NodeWords::AddProperty(std::vector<BankNodeProperty>& properties, const BankNodeProperty& property) {
  for (const BankNodeProperty& given : properties)
    if (given.id == property.id)
      return m_host.Fail("property " + std::to_string(property.id) + " is given twice");
  properties.push_back(property);
  return true;
}

// The next of the node's four insert slots, from a shared or a per-node definition declared before;
// a node's own effects win over those of the containers above it.
bool NodeWords::Effect(const std::vector<std::string>& w, size_t& i) {
  std::vector<BankNodeEffect>& effects = IsBus() ? m_bus->effects : m_node->effects;
  BankNodeEffect effect;
  effect.slot = uint8_t(effects.size());
  if (!m_host.Id(w[++i], effect.effectId)) return false;
  effect.shared = m_host.EffectShared(effect.effectId);
  effects.push_back(effect);
  if (!IsBus()) m_node->overridesEffects = 1;
  return true;
}

// The effect slots bypassed from the start: bits 0-3 the four slots, bit 4 all of them.
bool NodeWords::Bypass(const std::vector<std::string>& w, size_t& i) {
  uint32_t mask = 0;
  if (!m_host.Small(w[++i], 31, "is not a bypass mask of the four slots and all (0-31)", mask)) return false;
  (IsBus() ? m_bus->bypassBits : m_node->bypassBits) = uint8_t(mask);
  return true;
}

// The mixer the voices below name to the plug-ins on them (property 57): a container's its own over
// its parent's; a bus's the shared definition that mixes its inputs.
bool NodeWords::Mixer(const std::vector<std::string>& w, size_t& i) {
  uint32_t mixer = 0;
  if (!m_host.Id(w[++i], mixer)) return false;
  if (IsBus()) {
    m_bus->mixerId = mixer;
    m_bus->mixerShared = 1;
    return true;
  }
  if (m_kind != NodeKind::Sound) m_node->attachmentFlags = 1;
  return AddProperty(m_node->properties, BankNodeProperty::Int(SN::SnProp_AttachedMixer, int32_t(mixer)));
}

// Either gives the node its own priority settings, over its parent's; the offset only with bit 1.
bool NodeWords::Priority(const std::vector<std::string>& w, size_t& i) {
  const bool priority = w[i] == "priority";
  float value = 0.0f;
  constexpr SN::SnValueRange kDistanceOffsetRange{-SN::kPriorityRange.max, SN::kPriorityRange.max};
  if (priority ? !m_host.Within(w[++i], SN::kPriorityRange, "the priorities", value)
               : !m_host.Within(w[++i], kDistanceOffsetRange, "the distance offsets", value))
    return false;
  m_node->priorityFlags = uint8_t(m_node->priorityFlags | (priority ? 0x01 : 0x03));
  const uint8_t id = priority ? SN::SnProp_Priority : SN::SnProp_PriorityDistanceOffset;
  return AddProperty(m_node->properties, BankNodeProperty::Float(id, value));
}

// What a MIDI note plays, decided here for the nodes below: nothing, its note-on or its note-off.
bool NodeWords::MidiPlay(const std::vector<std::string>& w, size_t& i) {
  static const char* const kModes[] = {"none", "noteon", "noteoff"};
  const auto mode = std::find(std::begin(kModes), std::end(kModes), w[++i]);
  if (mode == std::end(kModes)) return m_host.Fail("a MIDI note plays on \"noteon\", \"noteoff\" or \"none\"");
  m_node->priorityFlags |= 0x04;
  return AddProperty(m_node->properties,
                     BankNodeProperty::Int(SN::SnProp_MidiPlayMode, int32_t(mode - std::begin(kModes))));
}

// The pitch follows the note from its root key, or ("off") does not, decided here.
bool NodeWords::MidiTracking(const std::vector<std::string>& w, size_t& i) {
  m_node->priorityFlags |= 0x08;
  if (w[++i] == "off") return true;
  uint32_t root = 0;
  if (!m_host.Small(w[i], 127, "is not a MIDI key (0-127)", root)) return false;
  m_node->priorityFlags |= 0x10;
  return AddProperty(m_node->properties, BankNodeProperty::Int(SN::SnProp_MidiTrackingRoot, int32_t(root)));
}

bool NodeWords::Volume(const std::vector<std::string>& w, size_t& i) {
  float dB = 0.0f;
  if (!m_host.Level(w[++i], dB)) return false;
  return AddProperty(IsBus() ? m_bus->properties : m_node->properties, BankNodeProperty::Float(0, dB));
}

bool NodeWords::Value(const std::vector<std::string>& w, size_t& i) {
  const uint8_t id = NodeValueId(w[i]);
  float value = 0.0f;
  if (!m_host.Within(w[i + 1], SN::PropertyRange(id), "the values of \"" + w[i] + "\"", value)) return false;
  ++i;
  return AddProperty(m_node->properties, BankNodeProperty::Float(id, value));
}

// The passes of a sound's tone, 0 for ever (property 58).
bool NodeWords::Loop(const std::vector<std::string>& w, size_t& i) {
  uint32_t passes = 0;
  if (!m_host.Number(w[++i], passes)) return false;
  if (passes > 0xFFFF) return m_host.Fail("a loop count fits in 16 bits");
  return AddProperty(m_node->properties, BankNodeProperty::Int(SN::SnProp_LoopCount, int32_t(passes)));
}

// Each play of the node waits this long before its voice begins (property 59, in seconds).
bool NodeWords::Delay(const std::vector<std::string>& w, size_t& i) {
  uint32_t ms = 0;
  if (!m_host.DelayMs(w[++i], ms)) return false;
  return AddProperty(m_node->properties, BankNodeProperty::Float(59, float(ms) / 1000.0f));
}

bool NodeWords::PropertyValue(const std::string& property, const std::string& word, BankNodeProperty& value) {
  uint32_t id = 0;
  if (!NamedNodeProperty(property, false, id) &&
      !m_host.Small(property, SN::SnProp_TableCount - 1,
                    "is not a node property (volume, pitch, lowpass, highpass or 0-59)", id))
    return false;
  if (!SN::IsIntProperty(id)) {
    float real = 0.0f;
    if (!m_host.Within(word, SN::PropertyRange(id), "the values of property " + std::to_string(id), real))
      return false;
    value = BankNodeProperty::Float(uint8_t(id), real);
    return true;
  }
  const SN::SnValueRange range = IntPropertyRange(id);
  const bool negative = word.size() > 1 && word[0] == '-';
  uint32_t magnitude = 0;
  if (!m_host.Number(negative ? word.substr(1) : word, magnitude)) return false;
  const double number = negative ? -double(magnitude) : double(magnitude);
  if (number < double(range.min) || number > double(range.max))
    return m_host.Fail("\"" + word + "\" is outside the values of property " + std::to_string(id) + " of " +
                       TextValues::Shown(range.min) + " to " + TextValues::Shown(range.max));
  value = BankNodeProperty::Int(uint8_t(id), int32_t(number));
  return true;
}

// Any node property within its values (the MIDI ones and the loop count whole numbers), once.
bool NodeWords::Property(const std::vector<std::string>& w, size_t& i) {
  BankNodeProperty value;
  if (!PropertyValue(w[i + 1], w[i + 2], value)) return false;
  i += 2;
  return AddProperty(m_node->properties, value);
}

// A random offset drawn at each play between the two, of a property that is a real number; one range
// a property.
bool NodeWords::Vary(const std::vector<std::string>& w, size_t& i) {
  BankNodeRange range;
  uint32_t id = 0;
  if (!NamedNodeProperty(w[i + 1], false, id) &&
      !m_host.Small(w[i + 1], SN::SnProp_TableCount - 1,
                    "is not a node property (volume, pitch, lowpass, highpass or 0-59)", id))
    return false;
  if (SN::IsIntProperty(id))
    return m_host.Fail("property " + std::to_string(id) + " is a whole number: it does not vary");
  const SN::SnValueRange offsets = SN::PropertyOffsetRange(id);
  const std::string what = "the offsets of property " + std::to_string(id);
  if (!m_host.Within(w[i + 2], offsets, what, range.min) || !m_host.Within(w[i + 3], offsets, what, range.max))
    return false;
  if (range.min > range.max) return m_host.Fail("\"vary\" takes its lower offset first");
  for (const BankNodeRange& given : m_node->ranges)
    if (given.id == id) return m_host.Fail("the range of property " + std::to_string(id) + " is given twice");
  range.id = uint8_t(id);
  m_node->ranges.push_back(range);
  i += 3;
  return true;
}

// Placed at its game object, spatialised along the object's own rays; the attenuation may come from
// another bank.
bool NodeWords::Placed(const std::vector<std::string>& w, size_t& i) {
  BankNodePositioning& positioning = m_node->positioning;
  positioning.bits = 0x01 | 0x08 | 0x10 | 0x40;
  positioning.type = 1;
  return m_host.Id(w[++i], positioning.attenuationId);
}

// Placed at its game object, but heard unspatialised, or not along the object's own rays.
bool NodeWords::LeftOut(const std::vector<std::string>& w, size_t& i) {
  BankNodePositioning& positioning = m_node->positioning;
  if (!(positioning.bits & 0x08) || positioning.type != 1)
    return m_host.Fail("\"" + w[i] + "\" follows \"3d <attenuation>\"");
  positioning.bits &= uint8_t(w[i] == "norays" ? ~0x40 : ~0x10);
  return true;
}

// Placed where its path takes it around the listener (a container's children without a positioning
// of their own with it); written once the path is whole.
bool NodeWords::Path(const std::vector<std::string>& w, size_t& i) {
  *m_path = w[++i];
  return true;
}

// The level of the send the game's environments take, decided by this node.
bool NodeWords::GameSend(const std::vector<std::string>& w, size_t& i) {
  float dB = 0.0f;
  if (!m_host.Level(w[++i], dB)) return false;
  m_node->sendFlags |= 0x01;
  return AddProperty(m_node->properties, BankNodeProperty::Float(SN::SnProp_GameSend, dB));
}

// The next of the four auxiliary sends, its level property 18 on: the node decides its sends.
bool NodeWords::AuxSend(const std::vector<std::string>& w, size_t& i) {
  uint32_t slot = 0;
  while (slot < 4 && m_node->auxBusIds[slot]) ++slot;
  float dB = 0.0f;
  if (!m_host.Id(w[i + 1], m_node->auxBusIds[slot]) || !m_host.Level(w[i + 2], dB)) return false;
  if (!m_node->auxBusIds[slot]) return m_host.Fail("an auxiliary send names its bus");
  m_node->sendFlags |= 0x08 | 0x04;
  i += 2;
  return AddProperty(m_node->properties, BankNodeProperty::Float(uint8_t(SN::SnProp_UserSend0 + slot), dB));
}

// maxvoices <1-1023> [global] [newest|oldest] [virtual]; a bus counts for all game objects together and
// has no "global".
bool NodeWords::MaxVoices(const std::vector<std::string>& w, size_t& i) {
  const bool bus = IsBus();
  uint16_t& maximum = bus ? m_bus->maxInstances : m_node->maxInstances;
  uint8_t& flags = bus ? m_bus->voiceFlags : m_node->advancedFlags;
  // The engine keeps ten bits of the maximum: 1024 would read as no limit at all.
  uint32_t number = 0;
  if (!m_host.Number(w[++i], number)) return false;
  constexpr uint32_t kMost = SN::CSnHierarchyNode::kMaxInstancesMask;
  if (number < 1 || number > kMost)
    return m_host.Fail("\"" + w[i] + "\" is not a voice limit of 1 to " + std::to_string(kMost));
  maximum = uint16_t(number);
  // The node counts its voices itself (a bus's bit 2, a node's bit 3); bit 0: a newcomer loses to the
  // voices of its own priority; bit 1: over the limit a voice takes its inaudible behaviour.
  flags = uint8_t(flags | (bus ? 0x04 : 0x08));
  bool order = false;
  for (; i + 1 < w.size(); ++i) {
    const std::string& word = w[i + 1];
    if (word == "newest" || word == "oldest") {
      if (order) return m_host.Fail("a voice limit gives way to the \"newest\" or the \"oldest\", not both");
      order = true;
      flags = uint8_t(word == "newest" ? flags | 0x01 : flags & ~0x01);
    } else if (word == "virtual") {
      flags |= 0x02;
    } else if (word == "global") {
      if (bus) return m_host.Fail("a bus limits its voices for all game objects together: \"global\" is a node's");
      flags |= 0x04;
    } else {
      break;
    }
  }
  return true;
}

// What the voices of a node do while they cannot be heard: play on, stop, or go virtual (their source
// skipped until they are heard again). The node overrides what it would take from above.
bool NodeWords::Inaudible(const std::vector<std::string>& w, size_t& i) {
  static const char* const kBehaviours[] = {"play", "kill", "virtual"};
  const std::string& word = w[++i];
  for (uint8_t behaviour = 0; behaviour < 3; ++behaviour) {
    if (word != kBehaviours[behaviour]) continue;
    m_node->advancedFlags |= 0x10;
    m_node->behaviour = behaviour;
    return true;
  }
  return m_host.Fail("a voice that cannot be heard goes on as \"play\", \"kill\" or \"virtual\", not \"" + word +
                     "\"");
}

// The motion bus the node's voices feed as well: written only where the bank's header carries the
// motion flag, which the bank's end checks.
bool NodeWords::Motion(const std::vector<std::string>& w, size_t& i) {
  return m_host.Id(w[++i], m_node->secondaryOutputId);
}

// ownmix (a bus type of its own mix stage), music (background music), mixstage (a mix stage of its
// own, whatever its effects, channels and mixer).
bool NodeWords::BusFlag(const std::vector<std::string>& w, size_t& i) {
  if (w[i] == "ownmix") m_ownMix = true;
  else if (w[i] == "music") m_bus->voiceFlags |= 0x08;
  else m_bus->mixStageFlags |= 0x01;
  return true;
}

bool NodeWords::BusVolume(const std::vector<std::string>& w, size_t& i) {
  float dB = 0.0f;
  if (!m_host.Level(w[++i], dB)) return false;
  return AddProperty(m_bus->properties, BankNodeProperty::Float(5, dB));
}

bool NodeWords::Recovery(const std::vector<std::string>& w, size_t& i) {
  return m_host.Number(w[++i], m_bus->recoveryMs);
}

bool NodeWords::MaxDuck(const std::vector<std::string>& w, size_t& i) {
  return m_host.Level(w[++i], m_bus->maxDuckVolume);
}

bool NodeWords::Channels(const std::vector<std::string>& w, size_t& i) {
  return m_host.Number(w[++i], m_bus->channelConfig);
}

// duck <bus> <dB> <fade-out ms> <fade-in ms> <curve> <property 0 or 5>
bool NodeWords::Duck(const std::vector<std::string>& w, size_t& i) {
  BankDuck duck;
  if (!m_host.Id(w[i + 1], duck.targetBusId) || !m_host.Level(w[i + 2], duck.volume) ||
      !m_host.Number(w[i + 3], duck.fadeOutMs) || !m_host.Number(w[i + 4], duck.fadeInMs) ||
      !m_host.Byte(w[i + 5], duck.curve) || !m_host.Byte(w[i + 6], duck.property))
    return false;
  if (duck.property != 0 && duck.property != 5) return m_host.Fail("a duck lowers property 0 or 5");
  m_bus->ducks.push_back(duck);
  i += 6;
  return true;
}

}  // namespace Tools
