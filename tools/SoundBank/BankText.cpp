// Parser of bank descriptions into what the bank writer lays out. Anything the writer could not lay
// out as meant (a number read some other way, an id given twice, a size past the format's fields) is
// refused with the line it stands on.
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/ContainerWriter.h"
#include "tools/SoundBank/DialogueWriter.h"
#include "tools/SoundBank/EffectWriter.h"
#include "tools/SoundBank/HierarchyWriter.h"
#include "tools/SoundBank/NodeParamsWriter.h"
#include "tools/SoundBank/ToneMedia.h"

namespace Tools {

namespace {

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

// Limits that keep a bank inside its 32-bit sizes: a header chunk of a few blocks, a curve's point
// count in its 16 bits, and media a little under 4 GiB.
constexpr uint32_t kMaxHeaderBytes = 65536;
constexpr size_t kMaxCurvePoints = 0xFFFF;
constexpr uint64_t kMaxMediaBytes = 0xFFFFFFFFull - 65536;
constexpr size_t kNoMost = size_t(-1);
// A platform is a short name every bank of a game repeats: the engine refuses a bank whose platform is
// not the first bank's, so a name past any real one is a slip of the author's.
constexpr size_t kMaxPlatformChars = 64;

// The engine's object lists, which an id enters once: hierarchy nodes, busses and modulators each
// gather several types.
uint32_t ObjectListOf(uint8_t type) {
  switch (type) {
    case 2: case 5: case 6: case 7: case 9: case 10: case 11: case 12: case 13: case 17: return 2;
    case 8: case 16: case 20: return 8;
    case 22: return 21;
    default: return type;
  }
}

// An upper bound of a tone's bytes in DATA (header and alignment included), known before it is made.
uint64_t ToneMediaBound(const ToneDesc& tone) {
  const uint64_t sampleBytes = tone.encoding == MediaEncoding::Float32 ? 4 : 2;  // ADPCM takes less than 16-bit
  uint64_t bytes = 256 + uint64_t(tone.frames) * tone.channels * sampleBytes + kBankWriterMediaAlignment;
  for (const ToneMarker& marker : tone.markers) bytes += 48 + marker.label.size();
  return bytes;
}

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
// A mixer, random or sequence container moving along a path: written again once the path is whole.
struct PathContainer {
  size_t object;
  uint32_t id;
  bool mixer;
  BankNodeParams params;
  BankRandomSequence container;
  std::string path;
  int line;
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
// is how a loop would form); checked once the bank is whole.
struct Holder {
  std::string name;
  uint32_t id = 0;
  std::vector<uint32_t> held;
  bool bus = false;
  int line = 0;
};

class Parser final : public MusicTextHost {
 public:
  Parser(BankDescription& bank, std::string& error) : m_bank(bank), m_error(error), m_music(*this) {}

  bool Line(const std::vector<std::string>& words);
  bool Finish();
  void SetLine(int line) { m_line = line; }

 private:
  bool ToneMedia(const std::string& name, double& ms, uint32_t& bytes, uint8_t& stream) override {
    Tone* tone = FindTone(name);
    if (!tone) return Fail("tone \"" + name + "\" is not declared");
    if (!tone->language.empty())
      return Fail("tone \"" + name + "\" is a language's: a music track streams no language's file");
    if (!tone->musicTrackLine) tone->musicTrackLine = m_line;
    ms = double(tone->desc.frames) * 1000.0 / tone->desc.sampleRate;
    bytes = uint32_t(WriteToneMedia(tone->desc).size());
    stream = !tone->loose || tone->prepared ? 0 : (tone->prefetch ? 2 : 1);
    return true;
  }
  bool AddMedia(const std::string& name, std::vector<uint8_t> bytes, uint32_t& id) override {
    id = SN::SoundEngine::GetIDFromString(name.c_str());
    if (!Once(m_toneIds, id, "the media id of \"" + name + "\"")) return false;
    m_bank.media.push_back(BankMedia{id, std::move(bytes), false, {}});
    Uses(BankChunkKind::Media);
    return true;
  }
  uint32_t BankId() const override { return m_bank.bankId; }
  bool Fail(const std::string& message) override {
    m_error = "line " + std::to_string(m_line) + ": " + message;
    return false;
  }
  bool Count(const std::vector<std::string>& words, size_t least, size_t most) {
    if (words.size() >= least && words.size() <= most) return true;
    return Fail("\"" + words[0] + "\" takes " + std::to_string(least - 1) +
                (most == least ? "" : most == kNoMost ? " or more" : " to " + std::to_string(most - 1)) + " values");
  }
  // Plain decimal digits: no sign, no base prefix and no leading zero (once read as octal).
  bool Number(const std::string& word, uint32_t& value) override {
    bool whole = !word.empty() && (word[0] != '0' || word.size() == 1);
    uint64_t number = 0;
    for (size_t i = 0; whole && i < word.size(); ++i) {
      whole = word[i] >= '0' && word[i] <= '9';
      number = number * 10 + uint64_t(word[i] - '0');
      whole = whole && number <= 0xFFFFFFFFull;
    }
    if (!whole) return Fail("\"" + word + "\" is not a whole number");
    value = uint32_t(number);
    return true;
  }
  // A finite decimal number ("-12", "0.5", "1e3"): not "nan", "inf" or hexadecimal.
  bool Real(const std::string& word, float& value) override {
    const bool decimal = !word.empty() && word.find_first_not_of("0123456789.eE+-") == std::string::npos;
    char* end = nullptr;
    value = decimal ? strtof(word.c_str(), &end) : 0.0f;
    if (!decimal || *end || !std::isfinite(value)) return Fail("\"" + word + "\" is not a number");
    return true;
  }
  // A finite number inside `range`; `what` names the range when it is not.
  bool Within(const std::string& word, SN::SnValueRange range, const std::string& what, float& value) {
    if (!Real(word, value)) return false;
    return range.Holds(value) || Fail("\"" + word + "\" is outside " + what + " of " + Shown(range.min) + " to " +
                                      Shown(range.max));
  }
  // A level in decibels (a volume, a duck, a gain effect), as the engine holds them.
  bool Level(const std::string& word, float& dB) { return Within(word, SN::kDecibelRange, "the levels", dB); }
  // The points of a curve on a level (or another quantity `what` with a range): every y within it,
  // named by its word from `from` on.
  bool PointsWithin(const std::vector<std::string>& w, size_t from, const std::vector<BankCurvePoint>& points,
                    SN::SnValueRange range = SN::kDecibelRange, const std::string& what = "level",
                    const std::string& whats = "levels") {
    for (size_t i = 0; i < points.size(); ++i)
      if (!range.Holds(points[i].y))
        return Fail("the point \"" + w[from + i] + "\" of a curve on a " + what + " is outside the " + whats +
                    " of " + Shown(range.min) + " to " + Shown(range.max));
    return true;
  }
  static std::string Shown(float value) {
    char text[32];
    snprintf(text, sizeof text, "%g", double(value));
    return text;
  }
  bool Small(const std::string& word, uint32_t most, const std::string& tooLarge, uint32_t& value) {
    if (!Number(word, value)) return false;
    return value <= most || Fail("\"" + word + "\" " + tooLarge);
  }
  bool Byte(const std::string& word, uint8_t& value) {
    uint32_t number = 0;
    if (!Small(word, 0xFF, "does not fit in a byte", number)) return false;
    value = uint8_t(number);
    return true;
  }
  // "@123" is the id 123; any other word is hashed as the engine hashes names.
  bool Id(const std::string& word, uint32_t& id) override {
    if (word.size() > 1 && word[0] == '@') return Number(word.substr(1), id);
    id = SN::SoundEngine::GetIDFromString(word.c_str());
    return true;
  }
  bool Hex(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>& out) {
    for (size_t i = first; i < words.size(); ++i) {
      const std::string& word = words[i];
      if (word.size() % 2) return Fail("\"" + word + "\" is not whole hex bytes");
      if (word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return Fail("\"" + word + "\" is not hex");
      for (size_t j = 0; j < word.size(); j += 2) out.push_back(uint8_t(strtoul(word.substr(j, 2).c_str(), nullptr, 16)));
    }
    return true;
  }
  // "<property>=<value>" or "<property>~<minimum>,<maximum>"; the scope, stop, waveform and trigger
  // mode properties are whole numbers, the others reals.
  bool ModulatorSetting(const std::string& word, BankModulator& modulator) {
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
  // The node property a value option sets: pitch in cents, the low-pass and high-pass filter values
  // (which add along the path, so a child's may be negative); 0 for a word that is none of them.
  static uint8_t NodeValueId(const std::string& option) {
    return option == "pitch" ? 2 : option == "lowpass" ? 3 : option == "highpass" ? 4 : 0;
  }
  // The node property a word names (volume, pitch, lowpass, highpass and, where `busVolume`, busvolume);
  // false for any other word.
  static bool NamedNodeProperty(const std::string& word, bool busVolume, uint32_t& id) {
    static const std::pair<const char*, uint8_t> kNamed[] = {
        {"volume", 0}, {"pitch", 2}, {"lowpass", 3}, {"highpass", 4}, {"busvolume", 5}};
    for (const auto& [name, property] : kNamed)
      if (word == name && (busVolume || property != 5)) {
        id = property;
        return true;
      }
    return false;
  }
  // The settings every node kind takes, from `w[i]` on: its priority and the offset of its priority at
  // the attenuation's farthest distance, its voice limit, any property and its random range, its sends,
  // its bypassed effects and its MIDI handling. `taken` tells whether `w[i]` was one of them; `i` is left
  // on the last word it took.
  bool NodeSetting(const std::vector<std::string>& w, size_t& i, BankNodeParams& params, bool& taken) override;
  bool Placed(const std::string& attenuation, BankNodeParams& params) override {
    // Spatialised along the object's own rays; the attenuation may come from another bank.
    BankNodePositioning& positioning = params.positioning;
    positioning.bits = 0x01 | 0x08 | 0x10 | 0x40;
    positioning.type = 1;
    return Id(attenuation, positioning.attenuationId);
  }
  // maxvoices <1-1023> [global] [newest|oldest] [virtual] from `w[i]` on; a bus counts for all game
  // objects together and has no "global".
  bool VoiceLimit(const std::vector<std::string>& w, size_t& i, uint16_t& maximum, uint8_t& flags, bool bus);
  // The settings of a node's line that only hold together: a bypass needs effects.
  bool NodeWhole(const BankNodeParams& params) {
    return !params.bypassBits || !params.effects.empty() || Fail("a node without effects has nothing to bypass");
  }
  // The effect slots bypassed from the start: bits 0-3 the four slots, bit 4 all of them.
  bool Bypass(const std::string& word, uint8_t& bits) {
    uint32_t mask = 0;
    if (!Small(word, 31, "is not a bypass mask of the four slots and all (0-31)", mask)) return false;
    bits = uint8_t(mask);
    return true;
  }
  // <property> <value>: a named or numbered node property, its value within what the engine takes.
  bool PropertyValue(const std::string& property, const std::string& word, BankNodeProperty& value);
  bool NodeValue(const std::string& option, const std::string& word, BankNodeParams& params) {
    const uint8_t id = NodeValueId(option);
    float value = 0.0f;
    if (!Within(word, SN::PropertyRange(id), "the values of \"" + option + "\"", value)) return false;
    params.properties.push_back(BankNodeProperty::Float(id, value));
    return true;
  }
  // Remembers the line that first gave `key`; a second time is refused, naming both lines.
  template <class Key>
  bool Once(std::map<Key, int>& seen, const Key& key, const std::string& what) {
    const auto [at, fresh] = seen.emplace(key, m_line);
    if (fresh) return true;
    return Fail(what + " is given twice (first on line " + std::to_string(at->second) + ")");
  }
  // action <name> <type, four hex digits> <target or 0> [option values...]
  bool ParseAction(const std::vector<std::string>& w) {
    if (!Count(w, 4, kNoMost)) return false;
    BankAction action;
    if (!Id(w[1], action.id)) return false;
    const std::string& type = w[2];
    if (type.size() != 6 || type.compare(0, 2, "0x") != 0 ||
        type.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
      return Fail("\"" + type + "\" is not an action type such as 0x0403");
    action.type = uint16_t(strtoul(type.c_str() + 2, nullptr, 16));
    if (w[3] != "0" && !Id(w[3], action.target)) return false;
    for (size_t i = 4; i < w.size();) {
      const std::string& option = w[i];
      auto needs = [&](size_t n) {
        if (i + n < w.size()) return true;
        return Fail("action option \"" + option + "\" takes " + std::to_string(n) + " values");
      };
      uint32_t number = 0;
      float real = 0.0f;
      if (option == "bus") {
        action.targetIsBus = 1;
        i += 1;
      } else if (option == "delay" || option == "fade") {
        if (!needs(1) || !Number(w[i + 1], number)) return false;
        action.properties.push_back(BankNodeProperty::Int(option == "delay" ? 14 : 15, int32_t(number)));
        i += 2;
      } else if (option == "delayrange" || option == "faderange") {
        // Offsets of the delay or the fade drawn at each run, in ms.
        uint32_t high = 0;
        if (!needs(2) || !Number(w[i + 1], number) || !Number(w[i + 2], high)) return false;
        if (number > high) return Fail("\"" + option + "\" takes its lower offset first");
        if (high > 0x7FFFFFFFu) return Fail("\"" + w[i + 2] + "\" is past the 31 bits of an action's time");
        action.ranges.push_back(BankActionRange::Int(option == "delayrange" ? 14 : 15, int32_t(number), int32_t(high)));
        i += 3;
      } else if (option == "probability") {
        if (!needs(1) || !Within(w[i + 1], SN::SnValueRange{0.0f, 100.0f}, "the percentages", real)) return false;
        action.properties.push_back(BankNodeProperty::Float(16, real));
        i += 2;
      } else if (option == "curve" || option == "flag" || option == "meaning") {
        uint8_t byte = 0;
        if (!needs(1) || !Byte(w[i + 1], byte)) return false;
        (option == "curve" ? action.fadeCurve : option == "flag" ? action.flag : action.meaning) = byte;
        i += 2;
      } else if (option == "value") {
        if (!needs(3) || !Real(w[i + 1], action.value) || !Real(w[i + 2], action.min) || !Real(w[i + 3], action.max))
          return false;
        i += 4;
      } else if (option == "seek") {
        if (!needs(2) || !Byte(w[i + 1], action.seekMode) || !Byte(w[i + 2], action.seekFlag)) return false;
        i += 3;
      } else if (option == "bypass") {
        if (!needs(2) || !Byte(w[i + 1], action.bypass) || !Byte(w[i + 2], action.bypassMask)) return false;
        i += 3;
      } else if (option == "group") {
        if (!needs(2) || !Id(w[i + 1], action.groupId) || !Id(w[i + 2], action.valueId)) return false;
        i += 3;
      } else if (option == "bank") {
        if (!needs(1) || !Id(w[i + 1], action.bankId)) return false;
        i += 2;
      } else if (option == "except" || option == "exceptbus") {
        BankActionException exception;
        exception.isBus = option == "exceptbus" ? 1 : 0;
        if (!needs(1) || !Id(w[i + 1], exception.id)) return false;
        action.exceptions.push_back(exception);
        i += 2;
      } else {
        return Fail("\"" + option + "\" is not an action option");
      }
    }
    return AddObject(3, w[1], ActionPayload(action));
  }
  bool AddObject(uint8_t type, const std::string& name, std::vector<uint8_t> payload) override {
    uint32_t id = 0;
    memcpy(&id, payload.data(), sizeof id);
    const std::string what =
        std::string(type == 4 ? "event" : type == 3 ? "action" : "object") + " \"" + name + "\"";
    if (!Once(m_objects, std::pair{ObjectListOf(type), id}, what)) return false;
    m_bank.objects.push_back(BankObject{type, std::move(payload)});
    Uses(BankChunkKind::Hierarchy);
    return true;
  }
  // An object in its line's place whose payload (its id for now) Finish writes; `index` is its place.
  bool AddPending(uint8_t type, const std::string& name, uint32_t id, size_t& index) {
    std::vector<uint8_t> placeholder(sizeof id);
    memcpy(placeholder.data(), &id, sizeof id);
    index = m_bank.objects.size();
    return AddObject(type, name, std::move(placeholder));
  }
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
  BankEnvironmentCurve* Curve(const std::string& group, const std::string& curve) {
    uint32_t g = 0, c = 0;
    if (!Number(group, g) || !Number(curve, c)) return nullptr;
    if (g > 1 || c > 2) {
      Fail("environment curves are groups 0-1, curves 0-2");
      return nullptr;
    }
    Uses(BankChunkKind::Environment);
    return &m_bank.environment.curves[g * 3 + c];
  }
  bool Bus(const std::vector<std::string>& w);
  bool Sound(const std::vector<std::string>& w);
  bool InaudibleBehaviour(const std::string& word, BankNodeParams& params);
  void Holds(const std::string& name, uint32_t id, std::vector<uint32_t> held, bool bus) {
    m_holders.push_back(Holder{name, id, std::move(held), bus, m_line});
  }
  bool CheckHolders();
  bool MotionSource(const std::vector<std::string>& w);
  bool Container(const std::vector<std::string>& w);
  bool AddEffect(const std::string& definition, BankNodeParams& params);
  // An effect slot's shared flag: clear for a per-node definition declared before.
  uint8_t Shared(uint32_t effectId) const { return m_nodeEffects.count(effectId) ? 0 : 1; }
  bool Rtpc(const std::vector<std::string>& w);
  bool StateProperties(const std::vector<std::string>& w);
  bool StateMap(const std::vector<std::string>& w);
  bool ModulatorRtpc(const std::vector<std::string>& w, DeclaredModulator& declared);
  bool Points(const std::vector<std::string>& w, size_t from, std::vector<BankCurvePoint>& points);
  // [add|multiply] [db|log|dbtolin] [modulator] <driver> from `w[at]` on: how the curve joins the
  // others of its parameter, how its values are scaled, and what drives it; `at` is left on the driver.
  bool CurveDriver(const std::vector<std::string>& w, size_t& at, BankNodeCurve& curve);
  bool Effect(const std::vector<std::string>& w);
  bool SourcePlugin(const std::vector<std::string>& w);
  // rtpc <plug-in parameter> [modulator] <driver> <x>:<y>... from `w[at]` on (nothing when `at` is the
  // end): a curve of the definition's parameter.
  bool PluginCurve(const std::vector<std::string>& w, size_t at, BankEffect& effect);
  bool Switch(const std::vector<std::string>& w);
  bool Layers(const std::vector<std::string>& w);
  bool Layer(const std::vector<std::string>& w);
  bool CrossfadeDriver(const std::vector<std::string>& w, size_t& at, BankLayer& layer);
  bool LayerChild(const std::string& word, BankLayer& layer, uint32_t& childId);
  bool Path(const std::vector<std::string>& w);
  // The node's positioning along the path named `name`.
  bool UsePath(const std::string& name, BankNodeParams& params);
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
  std::vector<DeclaredLayers> m_layers;
  std::vector<DeclaredModulator> m_modulators;
  std::vector<PendingAttenuation> m_attenuations;
  std::vector<PendingPath> m_paths;
  std::vector<PathContainer> m_pathContainers;
  std::map<std::string, BankSourcePlugin> m_sourcePlugins;  // by name
  std::set<uint32_t> m_nodeEffects;  // the per-node effect definitions' ids
  MusicText m_music;
};

bool Parser::Bus(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  uint32_t id = 0;
  BankBusParams bus;
  uint8_t type = kBankBusType;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], bus.parentId))) return false;
  if (w[0] == "motionbus") type = kBankMotionBusType;
  for (size_t i = 3; i < w.size(); ++i) {
    const std::string& option = w[i];
    auto values = [&](size_t count) {
      if (i + count < w.size()) return true;
      return Fail("\"" + option + "\" takes " + std::to_string(count) + " values");
    };
    if (option == "ownmix" && type != kBankMotionBusType) {
      type = kBankOwnMixBusType;
    } else if (option == "music") {
      bus.voiceFlags |= 0x08;
    } else if (option == "maxvoices") {
      if (!VoiceLimit(w, i, bus.maxInstances, bus.voiceFlags, true)) return false;
    } else if (option == "mixstage") {
      // A mix stage of its own, whatever its effects, channels and mixer.
      bus.mixStageFlags |= 0x01;
    } else if (option == "mixer") {
      // The shared definition that mixes the bus's inputs.
      if (!values(1) || !Id(w[++i], bus.mixerId)) return false;
      bus.mixerShared = 1;
    } else if (option == "bypass") {
      if (!values(1) || !Bypass(w[++i], bus.bypassBits)) return false;
    } else if (option == "volume" || option == "busvolume") {
      float dB = 0.0f;
      if (!values(1) || !Level(w[++i], dB)) return false;
      bus.properties.push_back(BankNodeProperty::Float(option == "volume" ? 0 : 5, dB));
    } else if (option == "recovery") {
      if (!values(1) || !Number(w[++i], bus.recoveryMs)) return false;
    } else if (option == "maxduck") {
      if (!values(1) || !Level(w[++i], bus.maxDuckVolume)) return false;
    } else if (option == "channels") {
      if (!values(1) || !Number(w[++i], bus.channelConfig)) return false;
    } else if (option == "duck") {
      BankDuck duck;
      if (!values(6) || !Id(w[i + 1], duck.targetBusId) || !Level(w[i + 2], duck.volume) ||
          !Number(w[i + 3], duck.fadeOutMs) || !Number(w[i + 4], duck.fadeInMs) || !Byte(w[i + 5], duck.curve) ||
          !Byte(w[i + 6], duck.property))
        return false;
      if (duck.property != 0 && duck.property != 5) return Fail("a duck lowers property 0 or 5");
      bus.ducks.push_back(duck);
      i += 6;
    } else if (option == "effect") {
      // The next of the bus's four insert slots, from a definition named before.
      if (!values(1)) return false;
      if (bus.effects.size() == 4) return Fail("a bus has four effect slots");
      BankNodeEffect effect;
      effect.slot = uint8_t(bus.effects.size());
      if (!Id(w[++i], effect.effectId)) return false;
      effect.shared = Shared(effect.effectId);
      bus.effects.push_back(effect);
    } else {
      return Fail("\"" + option + "\" is no bus option");
    }
  }
  if (bus.bypassBits && bus.effects.empty()) return Fail("a bus without effects has nothing to bypass");
  const size_t object = m_bank.objects.size();
  if (bus.parentId) Holds(w[1], id, {bus.parentId}, true);
  if (!AddObject(type, w[1], BusPayload(id, bus))) return false;
  m_buses.push_back(DeclaredBus{object, id, std::move(bus)});
  return true;
}

bool Parser::VoiceLimit(const std::vector<std::string>& w, size_t& i, uint16_t& maximum, uint8_t& flags, bool bus) {
  // The engine keeps ten bits of the maximum: 1024 would read as no limit at all.
  uint32_t number = 0;
  if (i + 1 == w.size()) return Fail("\"maxvoices\" takes a number of voices");
  if (!Number(w[++i], number)) return false;
  constexpr uint32_t kMost = SN::CSnHierarchyNode::kMaxInstancesMask;
  if (number < 1 || number > kMost)
    return Fail("\"" + w[i] + "\" is not a voice limit of 1 to " + std::to_string(kMost));
  maximum = uint16_t(number);
  // The node counts its voices itself (a bus's bit 2, a node's bit 3); bit 0: a newcomer loses to the
  // voices of its own priority; bit 1: over the limit a voice takes its inaudible behaviour.
  flags = uint8_t(flags | (bus ? 0x04 : 0x08));
  bool order = false;
  for (; i + 1 < w.size(); ++i) {
    const std::string& word = w[i + 1];
    if (word == "newest" || word == "oldest") {
      if (order) return Fail("a voice limit gives way to the \"newest\" or the \"oldest\", not both");
      order = true;
      flags = uint8_t(word == "newest" ? flags | 0x01 : flags & ~0x01);
    } else if (word == "virtual") {
      flags |= 0x02;
    } else if (word == "global") {
      if (bus) return Fail("a bus limits its voices for all game objects together: \"global\" is a node's");
      flags |= 0x04;
    } else {
      break;
    }
  }
  return true;
}

bool Parser::PropertyValue(const std::string& property, const std::string& word, BankNodeProperty& value) {
  uint32_t id = 0;
  if (!NamedNodeProperty(property, false, id) &&
      !Small(property, SN::SnProp_TableCount - 1, "is not a node property (volume, pitch, lowpass, highpass or 0-59)",
             id))
    return false;
  if (!SN::IsIntProperty(id)) {
    float real = 0.0f;
    if (!Within(word, SN::PropertyRange(id), "the values of property " + std::to_string(id), real)) return false;
    value = BankNodeProperty::Float(uint8_t(id), real);
    return true;
  }
  const SN::SnValueRange range = IntPropertyRange(id);
  const bool negative = word.size() > 1 && word[0] == '-';
  uint32_t magnitude = 0;
  if (!Number(negative ? word.substr(1) : word, magnitude)) return false;
  const double number = negative ? -double(magnitude) : double(magnitude);
  if (number < double(range.min) || number > double(range.max))
    return Fail("\"" + word + "\" is outside the values of property " + std::to_string(id) + " of " +
                Shown(range.min) + " to " + Shown(range.max));
  value = BankNodeProperty::Int(uint8_t(id), int32_t(number));
  return true;
}

bool Parser::NodeSetting(const std::vector<std::string>& w, size_t& i, BankNodeParams& params, bool& taken) {
  const std::string& word = w[i];
  static const std::pair<const char*, size_t> kSettings[] = {
      {"priority", 1}, {"distanceoffset", 1}, {"property", 2}, {"vary", 3}, {"auxsend", 2}, {"gamesend", 1},
      {"bypass", 1},   {"midiplay", 1},       {"miditracking", 1}};
  if (word == "nospatialise" || word == "norays") {
    // Placed at its game object, but heard unspatialised, or not along the object's own rays.
    BankNodePositioning& positioning = params.positioning;
    taken = true;
    if (!(positioning.bits & 0x08) || positioning.type != 1)
      return Fail("\"" + word + "\" follows \"3d <attenuation>\"");
    positioning.bits &= uint8_t(word == "norays" ? ~0x40 : ~0x10);
    return true;
  }
  size_t values = 0;
  for (const auto& [name, count] : kSettings)
    if (word == name) values = count;
  taken = values || word == "maxvoices";
  if (!taken) return true;
  if (word == "maxvoices") return VoiceLimit(w, i, params.maxInstances, params.advancedFlags, false);
  if (i + values >= w.size())
    return Fail("\"" + word + "\" takes " + std::to_string(values) + (values == 1 ? " value" : " values"));
  if (word == "property") {
    BankNodeProperty value;
    if (!PropertyValue(w[i + 1], w[i + 2], value)) return false;
    params.properties.push_back(value);
    i += 2;
    return true;
  }
  if (word == "vary") {
    // A random offset drawn at each play between the two, of a property that is a real number.
    BankNodeRange range;
    uint32_t id = 0;
    if (!NamedNodeProperty(w[i + 1], false, id) &&
        !Small(w[i + 1], SN::SnProp_TableCount - 1,
               "is not a node property (volume, pitch, lowpass, highpass or 0-59)", id))
      return false;
    if (SN::IsIntProperty(id)) return Fail("property " + std::to_string(id) + " is a whole number: it does not vary");
    const SN::SnValueRange offsets = SN::PropertyOffsetRange(id);
    const std::string what = "the offsets of property " + std::to_string(id);
    if (!Within(w[i + 2], offsets, what, range.min) || !Within(w[i + 3], offsets, what, range.max)) return false;
    if (range.min > range.max) return Fail("\"vary\" takes its lower offset first");
    range.id = uint8_t(id);
    params.ranges.push_back(range);
    i += 3;
    return true;
  }
  if (word == "auxsend") {
    // The next of the four auxiliary sends, its level property 18 on: the node decides its sends.
    uint32_t slot = 0;
    while (slot < 4 && params.auxBusIds[slot]) ++slot;
    if (slot == 4) return Fail("a node has four auxiliary sends");
    float dB = 0.0f;
    if (!Id(w[i + 1], params.auxBusIds[slot]) || !Level(w[i + 2], dB)) return false;
    if (!params.auxBusIds[slot]) return Fail("an auxiliary send names its bus");
    params.sendFlags |= 0x08 | 0x04;
    params.properties.push_back(BankNodeProperty::Float(uint8_t(SN::SnProp_UserSend0 + slot), dB));
    i += 2;
    return true;
  }
  if (word == "bypass") return Bypass(w[++i], params.bypassBits);
  if (word == "midiplay") {
    // What a MIDI note plays, decided here for the nodes below: nothing, its note-on or its note-off.
    static const char* const kModes[] = {"none", "noteon", "noteoff"};
    const auto mode = std::find(std::begin(kModes), std::end(kModes), w[++i]);
    if (mode == std::end(kModes)) return Fail("a MIDI note plays on \"noteon\", \"noteoff\" or \"none\"");
    params.priorityFlags |= 0x04;
    params.properties.push_back(BankNodeProperty::Int(SN::SnProp_MidiPlayMode, int32_t(mode - std::begin(kModes))));
    return true;
  }
  if (word == "miditracking") {
    // The pitch follows the note from its root key, or ("off") does not, decided here.
    params.priorityFlags |= 0x08;
    if (w[++i] == "off") return true;
    uint32_t root = 0;
    if (!Small(w[i], 127, "is not a MIDI key (0-127)", root)) return false;
    params.priorityFlags |= 0x10;
    params.properties.push_back(BankNodeProperty::Int(SN::SnProp_MidiTrackingRoot, int32_t(root)));
    return true;
  }
  if (word == "gamesend") {
    // The level of the send the game's environments take, decided by this node.
    float dB = 0.0f;
    if (!Level(w[++i], dB)) return false;
    params.sendFlags |= 0x01;
    params.properties.push_back(BankNodeProperty::Float(SN::SnProp_GameSend, dB));
    return true;
  }
  // Either gives the node its own priority settings, over its parent's; the offset only with bit 1.
  float value = 0.0f;
  constexpr SN::SnValueRange kDistanceOffsetRange{-SN::kPriorityRange.max, SN::kPriorityRange.max};
  if (word == "priority" ? !Within(w[++i], SN::kPriorityRange, "the priorities", value)
                         : !Within(w[++i], kDistanceOffsetRange, "the distance offsets", value))
    return false;
  params.priorityFlags = uint8_t(params.priorityFlags | (word == "priority" ? 0x01 : 0x03));
  params.properties.push_back(
      BankNodeProperty::Float(word == "priority" ? SN::SnProp_Priority : SN::SnProp_PriorityDistanceOffset, value));
  return true;
}

// The next of a node's four insert slots, from a shared or a per-node definition.
bool Parser::AddEffect(const std::string& definition, BankNodeParams& params) {
  if (params.effects.size() == 4) return Fail("a node has four effect slots");
  BankNodeEffect effect;
  effect.slot = uint8_t(params.effects.size());
  if (!Id(definition, effect.effectId)) return false;
  effect.shared = Shared(effect.effectId);
  params.effects.push_back(effect);
  params.overridesEffects = 1;
  return true;
}

// mixer|random|sequence <name> <bus or -> <child>[=weight]... [options]: children are named before.
bool Parser::Container(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  const std::string& kind = w[0];
  uint32_t id = 0;
  BankNodeParams params;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], params.outputBusId))) return false;
  BankRandomSequence container;
  container.playMode = kind == "sequence" ? 1 : 0;
  std::string path;
  bool loopRangeLine = false;
  for (size_t i = 3; i < w.size(); ++i) {
    const std::string& word = w[i];
    auto value = [&](uint32_t& out) {
      if (i + 1 < w.size()) return Number(w[++i], out);
      return Fail("\"" + word + "\" takes 1 value");
    };
    uint32_t number = 0;
    bool taken = false;
    if (!NodeSetting(w, i, params, taken)) return false;
    if (taken) continue;
    if (kind != "mixer" && (word == "avoid" || word == "loop")) {
      if (!value(number)) return false;
      if (number > 0xFFFF) return Fail("\"" + word + "\" is at most 65535");
      (word == "avoid" ? container.avoidRepeat : container.loopCount) = uint16_t(number);
    } else if (kind != "mixer" && (word == "looprange" || word == "transitionrange")) {
      // Offsets of the loop count and the transition time, drawn at each play between the two.
      if (i + 2 >= w.size()) return Fail("\"" + word + "\" takes a lower and an upper offset");
      float low = 0.0f, high = 0.0f;
      if (!Real(w[i + 1], low) || !Real(w[i + 2], high)) return false;
      if (low > high) return Fail("\"" + word + "\" takes its lower offset first");
      if (word == "looprange") {
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
    } else if (kind != "mixer" && word == "continuous") {
      container.flags |= 0x08;
    } else if (kind != "mixer" && word == "perobject") {
      container.flags &= uint8_t(~0x10);
    } else if (NodeValueId(word)) {
      if (i + 1 == w.size()) return Fail("\"" + word + "\" takes 1 value");
      if (!NodeValue(word, w[++i], params)) return false;
    } else if (word == "path") {
      // Its children that have no positioning of their own move along it; written once the path is whole.
      if (i + 1 == w.size()) return Fail("\"path\" takes a path");
      path = w[++i];
    } else if (word == "effect") {
      // Its children that have no effects of their own play these.
      if (i + 1 == w.size()) return Fail("\"effect\" takes a definition");
      if (!AddEffect(w[++i], params)) return false;
    } else if (word == "mixer") {
      // The mixer its children's voices name (property 57), this container's own over its parent's.
      uint32_t mixer = 0;
      if (i + 1 == w.size()) return Fail("\"mixer\" takes a definition");
      if (!Id(w[++i], mixer)) return false;
      params.attachmentFlags = 1;
      params.properties.push_back(BankNodeProperty::Int(SN::SnProp_AttachedMixer, int32_t(mixer)));
    } else if (kind != "mixer" && word == "transition") {
      // How a continuous play goes from item to item: 1 crossfade, 2 power crossfade, 3 delay, 4 sample
      // accurate, 5 trigger rate; the time in ms for 1, 2, 3 and 5.
      if (i + 2 >= w.size()) return Fail("\"transition\" takes a type and a time in ms");
      uint32_t type = 0;
      if (!Number(w[++i], type) || !Real(w[++i], container.transitionMs)) return false;
      if (type > 5) return Fail("a transition type is 0 to 5");
      container.transitionType = uint8_t(type);
    } else {
      const size_t equals = word.find('=');
      BankPlaylistItem item;
      if (!Id(word.substr(0, equals), item.id)) return false;
      if (equals != std::string::npos && (kind != "random" || !Number(word.substr(equals + 1), item.weight)))
        return kind == "random" ? false : Fail("only a random container's children have weights");
      container.children.push_back(item.id);
      container.playlist.push_back(item);
    }
  }
  // An endless loop has no offset: the engine would drop it.
  if (loopRangeLine && !container.loopCount) return Fail("an endless loop (\"loop 0\") has no \"looprange\"");
  if (!NodeWhole(params)) return false;
  Holds(w[1], id, container.children, false);
  const bool mixer = kind == "mixer";
  const size_t object = m_bank.objects.size();
  if (!AddObject(mixer ? kBankActorMixerType : kBankRandomSequenceType, w[1],
                 mixer ? ActorMixerPayload(id, params, container.children)
                       : RandomSequencePayload(id, params, container)))
    return false;
  if (!path.empty())
    m_pathContainers.push_back(PathContainer{object, id, mixer, std::move(params), std::move(container), path, m_line});
  return true;
}

// switch <name> <bus or -> switch|state <group> <default> <value>=<child>[+<child>]... [continuous]
//   [fade <child> <out ms> <in ms>] [first <child>] [across <child>]
bool Parser::Switch(const std::vector<std::string>& w) {
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
  for (size_t i = 6; i < w.size(); ++i) {
    const std::string& word = w[i];
    uint32_t child = 0;
    bool taken = false;
    if (!NodeSetting(w, i, params, taken)) return false;
    if (taken) continue;
    if (word == "continuous") {
      container.continuous = 1;
    } else if (word == "fade" || word == "first" || word == "across") {
      const size_t values = word == "fade" ? 3 : 1;
      if (i + values >= w.size()) return Fail("\"" + word + "\" takes " + std::to_string(values) + " values");
      if (!Id(w[i + 1], child)) return false;
      BankSwitchChild& entry = settingsOf(child);
      if (word == "fade" && (!Number(w[i + 2], entry.fadeOutMs) || !Number(w[i + 3], entry.fadeInMs))) return false;
      if (word != "fade") entry.flags |= word == "first" ? 1 : 2;
      i += values;
    } else {
      const size_t equals = word.find('=');
      if (equals == std::string::npos) return Fail("\"" + word + "\" is no switch option nor <value>=<children>");
      BankSwitchList list;
      if (!Id(word.substr(0, equals), list.value)) return false;
      std::stringstream names(word.substr(equals + 1));
      for (std::string name; std::getline(names, name, '+');) {
        if (!Id(name, child)) return false;
        list.children.push_back(child);
        if (std::find(container.children.begin(), container.children.end(), child) == container.children.end())
          container.children.push_back(child);
      }
      container.lists.push_back(list);
    }
  }
  if (!NodeWhole(params)) return false;
  Holds(w[1], id, container.children, false);
  return AddObject(kBankSwitchType, w[1], SwitchPayload(id, params, container));
}

// rtpc <sound, bus or layers> <property> [modulator] <game parameter or modulator> <x>:<y>[:<shape>]...
// The property is volume, pitch, lowpass, highpass or a parameter number below 64; the shape is an
// interpolation (linear when left out).
// The words from `from` on as a curve's points <x>:<y>[:<shape>], at least one, left to right.
bool Parser::Points(const std::vector<std::string>& w, size_t from, std::vector<BankCurvePoint>& points) {
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

bool Parser::CurveDriver(const std::vector<std::string>& w, size_t& at, BankNodeCurve& curve) {
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

bool Parser::Rtpc(const std::vector<std::string>& w) {
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
  // A curve numbered after the node's others, as the bank's curve ids are unique per node.
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
bool Parser::StateProperties(const std::vector<std::string>& w) {
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
bool Parser::StateMap(const std::vector<std::string>& w) {
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
bool Parser::ModulatorRtpc(const std::vector<std::string>& w, DeclaredModulator& declared) {
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
  curve.curveId = uint32_t(curves.size() + 1);
  curves.push_back(std::move(curve));
  m_bank.objects[declared.object].payload = ModulatorPayload(declared.modulator);
  return true;
}

// effect <name> gain <dB> [rtpc ...]: the built-in gain, its level in dB its whole parameter block.
// effect <name> plugin <registry key> [<block hex>] [rtpc <plug-in parameter> [modulator] <driver> <x>:<y>...]:
// a game's plug-in with the bytes of its block and a curve of one of its parameters.
bool Parser::Effect(const std::vector<std::string>& words) {
  // "node" after the name makes the definition a per-node one, which the slots naming it look up as such.
  const bool perNode = words.size() > 2 && words[2] == "node";
  std::vector<std::string> w = words;
  if (perNode) w.erase(w.begin() + 2);
  if (!Count(w, 4, kNoMost)) return false;
  BankEffect effect;
  uint32_t id = 0;
  if (!Id(w[1], id)) return false;
  const size_t rtpc = size_t(std::find(w.begin() + 4, w.end(), "rtpc") - w.begin());
  if (w[2] == "gain") {
    if (rtpc != 4 && !Count(w, 4, 4)) return false;
    float dB = 0.0f;
    if (!Level(w[3], dB)) return false;
    effect.pluginId = SN::kGainEffectKey;
    effect.params.resize(sizeof dB);
    memcpy(effect.params.data(), &dB, sizeof dB);
  } else {
    if (w[2] != "plugin") return Fail("\"" + w[2] + "\": an effect is \"gain <dB>\" or \"plugin <key>\"");
    if (!Number(w[3], effect.pluginId)) return false;
    // The block's hex bytes, the media the plug-in asks for by index, and parameters' base values.
    std::vector<std::string> hex(w.begin(), w.begin() + 4);
    for (size_t at = 4; at < rtpc; ++at) {
      if (w[at] != "media" && w[at] != "base") {
        hex.push_back(w[at]);
        continue;
      }
      if (at + 2 >= rtpc) return Fail("\"" + w[at] + "\" takes 2 values");
      uint32_t index = 0;
      const char* const tooLarge =
          w[at] == "media" ? "is not a media index (0-255)" : "is not a plug-in parameter (0-255)";
      if (!Small(w[at + 1], 0xFF, tooLarge, index))
        return false;
      if (w[at] == "media") {
        BankEffectMedia media;
        media.index = uint8_t(index);
        media.mediaId = SN::SoundEngine::GetIDFromString(w[at + 2].c_str());
        if (!FindTone(w[at + 2])) return Fail("tone \"" + w[at + 2] + "\" is not declared");
        effect.media.push_back(media);
      } else {
        BankEffectProperty property;
        property.id = uint8_t(index);
        if (!Real(w[at + 2], property.value)) return false;
        effect.properties.push_back(property);
      }
      at += 2;
    }
    if (!Hex(hex, 4, effect.params)) return false;
  }
  if (!PluginCurve(w, rtpc, effect)) return false;
  if (!AddObject(perNode ? kBankNodeEffectType : kBankSharedEffectType, w[1], EffectPayload(id, effect))) return false;
  if (perNode) m_nodeEffects.insert(id);
  return true;
}

bool Parser::PluginCurve(const std::vector<std::string>& w, size_t at, BankEffect& effect) {
  if (at == w.size()) return true;
  BankEffectCurve curve;
  uint32_t parameter = 0;
  if (++at + 1 >= w.size()) return Fail("\"rtpc\" takes a plug-in parameter, a driver and its points");
  if (!Small(w[at], 0xFF, "is not a plug-in parameter (0-255)", parameter)) return false;
  curve.pluginParamId = uint8_t(parameter);
  // Added to or multiplied with the parameter's base value ("base"), or the parameter's whole value.
  BankNodeCurve driver;
  if (!CurveDriver(w, ++at, driver) || !Points(w, at + 1, curve.points)) return false;
  curve.parameterId = driver.rtpcId;
  curve.kind = driver.rtpcType;
  curve.extra = driver.accumulation;
  curve.scaling = driver.scaling;
  if (effect.pluginId == SN::kGainEffectKey && curve.pluginParamId == SN::kGainEffectLevelParam &&
      !PointsWithin(w, at + 1, curve.points))
    return false;
  curve.curveId = 1;
  effect.curves.push_back(std::move(curve));
  return true;
}

// sourceplugin <name> <registry key> [<block hex>] [rtpc ...]: the parameter node of a game's source
// plug-in, which sounds name in place of a tone. The engine finds it among the per-node definitions
// by the id of the sound's source.
bool Parser::SourcePlugin(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  BankEffect definition;
  uint32_t id = 0;
  if (!Id(w[1], id) || !Number(w[2], definition.pluginId)) return false;
  if ((definition.pluginId & 0xF) != SN::SnPluginType_Source)
    return Fail("\"" + w[2] + "\" is not a source plug-in's key (" + std::to_string(unsigned(SN::SnPluginType_Source)) +
                " in its low four bits)");
  const size_t rtpc = size_t(std::find(w.begin() + 3, w.end(), "rtpc") - w.begin());
  if (!Hex(std::vector<std::string>(w.begin(), w.begin() + rtpc), 3, definition.params) ||
      !PluginCurve(w, rtpc, definition))
    return false;
  if (!AddObject(kBankNodeEffectType, w[1], EffectPayload(id, definition))) return false;
  m_sourcePlugins[w[1]] = BankSourcePlugin{id, definition.pluginId};
  return true;
}

// The crossfade of a layer follows a game parameter, or a modulator named after "modulator".
bool Parser::CrossfadeDriver(const std::vector<std::string>& w, size_t& at, BankLayer& layer) {
  if (w[at] == "modulator") {
    layer.crossfadeType = 2;
    if (++at == w.size()) return Fail("\"modulator\" names the modulator that drives the crossfade");
  }
  return Id(w[at], layer.crossfadeId);
}

// <child>[=<x0>:<y0>:<x1>:<y1>]: a child of a layer, with a linear crossfade curve between two points.
bool Parser::LayerChild(const std::string& word, BankLayer& layer, uint32_t& childId) {
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
bool Parser::Layers(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  uint32_t id = 0;
  BankNodeParams params;
  BankLayer layer;
  size_t at = 3;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], params.outputBusId)) || !CrossfadeDriver(w, at, layer)) return false;
  layer.id = id;
  std::vector<uint32_t> children;
  for (size_t i = at + 1; i < w.size(); ++i) {
    bool taken = false;
    if (!NodeSetting(w, i, params, taken)) return false;
    if (taken) continue;
    uint32_t child = 0;
    if (!LayerChild(w[i], layer, child)) return false;
    children.push_back(child);
  }
  if (!NodeWhole(params)) return false;
  Holds(w[1], id, children, false);
  const size_t object = m_bank.objects.size();
  if (!AddObject(kBankLayerType, w[1], LayerContainerPayload(id, params, children, {layer}))) return false;
  m_layers.push_back(DeclaredLayers{object, std::move(params), std::move(children), {std::move(layer)}});
  return true;
}

// layer <name> <layers> [modulator] <crossfade driver> <child>[=<x0>:<y0>:<x1>:<y1>]...: a further layer of
// a layer container declared before it, over children the container already holds.
bool Parser::Layer(const std::vector<std::string>& w) {
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
    if (std::find(container->children.begin(), container->children.end(), child) == container->children.end())
      return Fail("\"" + w[i].substr(0, w[i].find('=')) + "\" is not a child of \"" + w[2] + "\"");
  }
  container->layers.push_back(std::move(layer));
  m_bank.objects[container->object].payload =
      LayerContainerPayload(containerId, container->params, container->children, container->layers);
  return true;
}

// What the voices of a node do while they cannot be heard: play on, stop, or go virtual (their source
// skipped until they are heard again). The node overrides what it would take from above.
bool Parser::InaudibleBehaviour(const std::string& word, BankNodeParams& params) {
  static const char* const kBehaviours[] = {"play", "kill", "virtual"};
  for (uint8_t behaviour = 0; behaviour < 3; ++behaviour) {
    if (word != kBehaviours[behaviour]) continue;
    params.advancedFlags |= 0x10;
    params.behaviour = behaviour;
    return true;
  }
  return Fail("a voice that cannot be heard goes on as \"play\", \"kill\" or \"virtual\", not \"" + word + "\"");
}

bool Parser::Sound(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  PendingSound sound;
  sound.tone = w[2];
  sound.line = m_line;
  if (!Id(w[1], sound.id) || !Id(w[3], sound.params.outputBusId)) return false;
  for (size_t i = 4; i < w.size(); i += 2) {
    bool taken = false;
    if (!NodeSetting(w, i, sound.params, taken)) return false;
    if (taken) {
      --i;  // on to the word after the last it took
      continue;
    }
    if (i + 1 == w.size() || (w[i] != "volume" && w[i] != "loop" && w[i] != "3d" && w[i] != "motion" &&
                              w[i] != "path" && w[i] != "effect" && w[i] != "mixer" && w[i] != "inaudible" &&
                              w[i] != "delay" && !NodeValueId(w[i])))
      return Fail("only \"volume <dB>\", \"pitch <cents>\", \"lowpass <value>\", \"highpass <value>\", "
                  "\"loop <passes, 0 for ever>\", \"motion <motion bus>\", \"path <path>\", "
                  "\"effect <definition>\", \"mixer <definition>\", \"inaudible <play, kill or virtual>\", "
                  "\"delay <ms>\", \"priority <0-100>\", \"distanceoffset <-100-100>\", "
                  "\"maxvoices <1-1023> [global] [newest|oldest] [virtual]\" and \"3d <attenuation>\" may follow "
                  "a sound's bus");
    if (NodeValueId(w[i])) {
      if (!NodeValue(w[i], w[i + 1], sound.params)) return false;
    } else if (w[i] == "inaudible") {
      if (!InaudibleBehaviour(w[i + 1], sound.params)) return false;
    } else if (w[i] == "delay") {
      // Each play of the sound waits this long before its voice begins (property 59, in seconds).
      uint32_t ms = 0;
      if (!Number(w[i + 1], ms)) return false;
      sound.params.properties.push_back(BankNodeProperty::Float(59, float(ms) / 1000.0f));
    } else if (w[i] == "mixer") {
      // The mixer the sound's voices name to the plug-ins on them (property 57).
      uint32_t mixer = 0;
      if (!Id(w[i + 1], mixer)) return false;
      sound.params.properties.push_back(BankNodeProperty::Int(57, int32_t(mixer)));
    } else if (w[i] == "motion") {
      // Written only where the bank's header carries the motion flag; Finish checks it is there.
      if (!Id(w[i + 1], sound.params.secondaryOutputId)) return false;
    } else if (w[i] == "path") {
      // Placed where its path takes it around the listener; written once the path's vertices are known.
      sound.path = w[i + 1];
    } else if (w[i] == "effect") {
      // The sound's own effects win over those of the containers above it.
      if (!AddEffect(w[i + 1], sound.params)) return false;
    } else if (w[i] == "3d") {
      if (!Placed(w[i + 1], sound.params)) return false;
    } else if (w[i] == "volume") {
      float dB = 0.0f;
      if (!Level(w[i + 1], dB)) return false;
      sound.params.properties.push_back(BankNodeProperty::Float(0, dB));
    } else {
      uint32_t passes = 0;
      if (!Number(w[i + 1], passes)) return false;
      if (passes > 0xFFFF) return Fail("a loop count fits in 16 bits");
      sound.params.properties.push_back(BankNodeProperty::Int(58, int32_t(passes)));
    }
  }
  if (!NodeWhole(sound.params) || !AddPending(kBankSoundType, w[1], sound.id, sound.object)) return false;
  m_sounds.push_back(std::move(sound));
  return true;
}

// motionsource <name> <tone> [volume <dB>]: the tone drives the motion devices through the default
// motion bus (a bank with the motion flag would name one per node).
bool Parser::MotionSource(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  PendingSound source;
  source.tone = w[2];
  source.line = m_line;
  source.motion = true;
  if (!Id(w[1], source.id)) return false;
  for (size_t i = 3; i < w.size(); ++i) {
    BankMotionSource& values = source.motionValues;
    uint32_t first = 0, second = 0;
    if (w[i] == "volume" && i + 1 < w.size()) {
      float dB = 0.0f;
      if (!Level(w[++i], dB)) return false;
      source.params.properties.push_back(BankNodeProperty::Float(0, dB));
    } else if (w[i] == "device" && i + 2 < w.size()) {
      // The two values the motion device takes the source with.
      if (!Small(w[i + 1], 0xFFFF, "is not a device value of 0 to 65535", first) ||
          !Small(w[i + 2], 0xFFFF, "is not a device value of 0 to 65535", second))
        return false;
      values.firstValue = uint16_t(first);
      values.secondValue = uint16_t(second);
      i += 2;
    } else if (w[i] == "start" && i + 1 < w.size()) {
      if (!Real(w[++i], values.value)) return false;
    } else {
      return Fail("only \"volume <dB>\", \"device <first> <second>\" and \"start <value>\" may follow a motion "
                  "source's tone");
    }
  }
  if (!AddPending(kBankMotionSourceType, w[1], source.id, source.object)) return false;
  m_sounds.push_back(std::move(source));
  return true;
}

bool Parser::Path(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  if (op == "path") {
    if (!Count(w, 2, 9)) return false;
    for (const PendingPath& path : m_paths)
      if (path.name == w[1])
        return Fail("path \"" + w[1] + "\" is declared twice (first on line " + std::to_string(path.line) + ")");
    PendingPath path{w[1], {}, m_line};
    BankNodePositioning& settings = path.settings;
    for (size_t i = 2; i < w.size(); ++i) {
      if (w[i] == "random") settings.pathMode |= 0x1;
      else if (w[i] == "continuous") settings.pathMode |= 0x2;
      else if (w[i] == "relaunch") settings.pathMode |= 0x4;
      else if (w[i] == "loop") settings.bits |= 0x20;
      else if (w[i] == "world") settings.bits |= 0x80;
      else if (w[i] == "transition" && i + 1 < w.size()) {
        if (!Number(w[++i], settings.pathTransitionMs)) return false;
      } else {
        return Fail("\"" + w[i] + "\": a path's options are random, continuous, relaunch, loop, world and "
                    "transition <ms>");
      }
    }
    m_paths.push_back(std::move(path));
    return true;
  }
  PendingPath* path = nullptr;
  if (op == "pathitem") {
    if (!(w.size() == 2 || w.size() == 5)) return Fail("\"pathitem\" takes a path, then nothing or three ranges");
    if (!(path = FindPath(w[1]))) return false;
    BankPathItem item;
    item.firstVertex = uint32_t(path->settings.vertices.size());
    // Written in the order the engine offsets them: x, z, y.
    float ranges[3] = {};
    for (size_t i = 0; i + 2 < w.size(); ++i)
      if (!Real(w[2 + i], ranges[i])) return false;
    item.ranges[0] = ranges[0];
    item.ranges[1] = ranges[2];
    item.ranges[2] = ranges[1];
    path->settings.items.push_back(item);
    return true;
  }
  BankPathVertex vertex;
  uint32_t ms = 0;
  if (!Count(w, 6, 6) || !(path = FindPath(w[1])) || !Real(w[2], vertex.x) || !Real(w[3], vertex.y) ||
      !Real(w[4], vertex.z) || !Number(w[5], ms))
    return false;
  if (path->settings.items.empty()) return Fail("path \"" + w[1] + "\": a vertex comes after its item");
  if (ms > 0x7FFFFFFFu) return Fail("a vertex's duration fits in 31 bits");
  vertex.durationMs = int32_t(ms);
  path->settings.vertices.push_back(vertex);
  ++path->settings.items.back().vertexCount;
  return true;
}

bool Parser::Line(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  BankSettings& settings = m_bank.settings;
  if (op == "platform") {
    if (!Count(w, 2, 2)) return false;
    if (m_platformLine)
      return Fail("the platform is given twice (first on line " + std::to_string(m_platformLine) + ")");
    m_platformLine = m_line;
    if (w[1].size() > kMaxPlatformChars)
      return Fail("a platform name has at most " + std::to_string(kMaxPlatformChars) + " characters");
    m_bank.platform = w[1];
    Uses(BankChunkKind::Platform);
    return true;
  }
  if (op == "threshold") {
    Uses(BankChunkKind::Settings);
    return Count(w, 2, 2) && Real(w[1], settings.volumeThreshold);
  }
  if (op == "voices") {
    uint32_t voices = 0;
    if (!Count(w, 2, 2) || !Number(w[1], voices)) return false;
    if (voices > 0xFFFF) return Fail("a voice limit fits in 16 bits");
    settings.maxVoices = uint16_t(voices);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "stategroup") {
    BankStateGroup group;
    if (!Count(w, 3, 3) || !Id(w[1], group.id) || !Number(w[2], group.defaultMs)) return false;
    if (StateGroup(group.id)) return Fail("state group \"" + w[1] + "\" is given twice");
    settings.stateGroups.push_back(group);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "transition") {
    uint32_t groupId = 0;
    if (!Count(w, 5, 5) || !Id(w[1], groupId)) return false;
    BankStateGroup* group = StateGroup(groupId);
    if (!group) return Fail("state group \"" + w[1] + "\" is not declared");
    BankStateTransition transition;
    if (!Id(w[2], transition.from) || !Id(w[3], transition.to) || !Number(w[4], transition.ms)) return false;
    group->transitions.push_back(transition);
    return true;
  }
  if (op == "switchgroup") {
    if (!Count(w, 4, 4)) return false;
    BankSwitchGroup group;
    if (!Id(w[1], group.id) || !Id(w[2], group.parameterId) || !Byte(w[3], group.scaling)) return false;
    if (SwitchGroup(group.id)) return Fail("switch group \"" + w[1] + "\" is given twice");
    settings.switchGroups.push_back(group);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "switchpoint") {
    uint32_t groupId = 0;
    if (!Count(w, 5, 5) || !Id(w[1], groupId)) return false;
    BankSwitchGroup* group = SwitchGroup(groupId);
    if (!group) return Fail("switch group \"" + w[1] + "\" is not declared");
    BankSwitchPoint point;
    if (!Real(w[2], point.value) || !Id(w[3], point.switchId) || !Number(w[4], point.shape)) return false;
    group->points.push_back(point);
    return true;
  }
  if (op == "parameter") {
    if (!Count(w, 7, 7)) return false;
    BankParameter parameter;
    if (!Id(w[1], parameter.id) || !Real(w[2], parameter.defaultValue) || !Number(w[3], parameter.rampMode) ||
        !Real(w[4], parameter.rampUp) || !Real(w[5], parameter.rampDown) || !Byte(w[6], parameter.binding))
      return false;
    if (!Once(m_parameters, parameter.id, "parameter \"" + w[1] + "\"")) return false;
    settings.parameters.push_back(parameter);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "envcurve") {
    if (!Count(w, 5, 5)) return false;
    BankEnvironmentCurve* curve = Curve(w[1], w[2]);
    return curve && Byte(w[3], curve->enabled) && Byte(w[4], curve->scaling);
  }
  if (op == "envpoint") {
    if (!Count(w, 6, 6)) return false;
    BankEnvironmentCurve* curve = Curve(w[1], w[2]);
    BankCurvePoint point;
    if (!curve || !Real(w[3], point.x) || !Real(w[4], point.y) || !Number(w[5], point.interpolation)) return false;
    if (curve->points.size() == kMaxCurvePoints)
      return Fail("a curve holds at most " + std::to_string(kMaxCurvePoints) + " points");
    curve->points.push_back(point);
    return true;
  }
  if (op == "tone") {
    if (!Count(w, 6, 11)) return false;
    Tone tone;
    tone.name = w[1];
    tone.line = m_line;
    uint32_t channels = 0, ms = 0;
    if (!Number(w[2], tone.desc.sampleRate) || !Number(w[3], channels) || !Number(w[4], ms) ||
        !Real(w[5], tone.desc.frequency))
      return false;
    if (channels < 1 || channels > 8) return Fail("a tone has 1 to 8 channels");
    // Motion tones play at the motion rate (375 Hz at 48000 Hz and 1024 samples a frame).
    if (tone.desc.sampleRate < 100 || tone.desc.sampleRate > 192000) return Fail("a tone's rate is 100 to 192000");
    if (ms > 60000) return Fail("a tone lasts at most a minute");
    for (size_t i = 6; i < w.size(); ++i) {
      if (w[i] == "loose")
        tone.loose = true;
      else if (w[i] == "prepared")
        tone.loose = tone.prepared = true;
      else if (w[i] == "adpcm")
        tone.desc.encoding = MediaEncoding::ImaAdpcm;
      else if (w[i] == "float")
        tone.desc.encoding = MediaEncoding::Float32;
      else if (w[i] == "ramp")
        tone.desc.signal = ToneSignal::Ramp;
      else if (w[i] == "noise")
        tone.desc.signal = ToneSignal::Noise;
      else if (w[i] == "dc")
        tone.desc.signal = ToneSignal::Dc;
      else
        return Fail("\"" + w[i] + "\": a tone is followed by \"loose\", \"prepared\", \"adpcm\", \"float\", \"ramp\", "
                    "\"noise\" or \"dc\"");
    }
    if (tone.desc.encoding == MediaEncoding::Float32 && channels != 1) return Fail("float tones are mono");
    // A constant signal's number is its level rather than a frequency.
    if (tone.desc.signal == ToneSignal::Dc) {
      if (!(tone.desc.frequency >= -1.0f && tone.desc.frequency <= 1.0f)) return Fail("a dc tone's level is -1 to 1");
      tone.desc.level = tone.desc.frequency;
    }
    if (FindTone(tone.name)) return Fail("tone \"" + tone.name + "\" is given twice");
    // Names that differ only in case hash to one media id.
    if (!Once(m_toneIds, SN::SoundEngine::GetIDFromString(tone.name.c_str()), "the media id of tone \"" + w[1] + "\""))
      return false;
    tone.desc.channels = uint16_t(channels);
    tone.desc.frames = uint32_t(uint64_t(tone.desc.sampleRate) * ms / 1000);
    m_tones.push_back(tone);
    if (!tone.loose) Uses(BankChunkKind::Media);
    return true;
  }
  if (op == "marker") {
    if (!Count(w, 4, 5)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    ToneMarker marker;
    if (!Number(w[2], marker.id) || !Number(w[3], marker.frame)) return false;
    if (w.size() == 5) marker.label = w[4];
    tone->desc.markers.push_back(marker);
    return true;
  }
  if (op == "mediafault") {
    if (!Count(w, 3, 3)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!MediaFaultNamed(w[2], tone->desc.fault)) return Fail("\"" + w[2] + "\" is not a media fault");
    return true;
  }
  if (op == "envelope") {
    if (!Count(w, 5, kNoMost) || (w.size() - 3) % 2)
      return Fail("\"envelope\" takes a tone, a reference and frame and value pairs");
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!Real(w[2], tone->desc.envelopeReference)) return false;
    for (size_t i = 3; i + 1 < w.size(); i += 2) {
      EnvelopePoint point;
      uint32_t value = 0;
      if (!Number(w[i], point.frame) || !Small(w[i + 1], 0xFFFF, "does not fit in 16 bits", value)) return false;
      point.attenuation = uint16_t(value);
      tone->desc.envelope.push_back(point);
    }
    return true;
  }
  if (op == "speakers") {
    if (!Count(w, 3, 3)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    uint32_t mask = 0;
    if (!Number(w[2], mask)) return false;
    if (uint32_t(__builtin_popcount(mask)) != tone->desc.channels)
      return Fail("the speaker mask of tone \"" + w[1] + "\" does not name its channels");
    tone->desc.channelMask = mask;
    return true;
  }
  if (op == "loop") {
    if (!Count(w, 4, 4)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!Number(w[2], tone->desc.loopStart) || !Number(w[3], tone->desc.loopEnd)) return false;
    tone->desc.loop = true;
    return true;
  }
  if (op == "language") {
    // The engine looks such a file up in the current language's folder under the loose files' own.
    if (!Count(w, 3, 3)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!tone->loose) return Fail("tone \"" + w[1] + "\" is not loose: only a file of its own is a language's");
    if (tone->musicTrackLine)
      return Fail("tone \"" + w[1] + "\" is streamed by the music track of line " +
                  std::to_string(tone->musicTrackLine) + ": a music track streams no language's file");
    if (!tone->language.empty()) return Fail("tone \"" + w[1] + "\" is already a language's");
    if (w[2].size() >= 32 || w[2] == "." || w[2] == ".." || w[2].find_first_of("/\\") != std::string::npos)
      return Fail("\"" + w[2] + "\" is not a language folder (1-31 characters, no slash)");
    tone->language = w[2];
    return true;
  }
  if (op == "prefetch") {
    if (!Count(w, 3, 3)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!tone->loose)
      return Fail("tone \"" + w[1] + "\" is not loose: only a streamed tone has its first bytes prefetched");
    if (tone->prefetchLine)
      return Fail("the prefetch of tone \"" + w[1] + "\" is given twice (first on line " +
                  std::to_string(tone->prefetchLine) + ")");
    // A music track is written whole on its line: the prefetch it streams with must come before it.
    if (tone->musicTrackLine)
      return Fail("the prefetch of tone \"" + w[1] + "\" comes after the music track of line " +
                  std::to_string(tone->musicTrackLine) + " that streams it: give the prefetch first");
    if (!Number(w[2], tone->prefetch)) return false;
    if (!tone->prefetch) return Fail("a prefetch holds at least one byte");
    tone->prefetchLine = m_line;
    Uses(BankChunkKind::Media);
    return true;
  }
  if (op == "event") {
    if (!Count(w, 2, kNoMost)) return false;
    uint32_t eventId = 0;
    std::vector<uint32_t> actions(w.size() - 2);
    if (!Id(w[1], eventId)) return false;
    for (size_t i = 2; i < w.size(); ++i)
      if (!Id(w[i], actions[i - 2])) return false;
    return AddObject(4, w[1], EventPayload(eventId, actions));
  }
  if (op == "action") return ParseAction(w);
  if (op == "effect") return Effect(w);
  if (op == "sourceplugin") return SourcePlugin(w);
  if (op == "modulator") {
    if (!Count(w, 3, kNoMost)) return false;
    if (w[1] != "lfo" && w[1] != "envelope") return Fail("a modulator is an \"lfo\" or an \"envelope\"");
    BankModulator modulator;
    if (!Id(w[2], modulator.id)) return false;
    for (size_t i = 3; i < w.size(); ++i)
      if (!ModulatorSetting(w[i], modulator)) return false;
    m_modulators.push_back(DeclaredModulator{m_bank.objects.size(), w[1] == "lfo", modulator});
    return AddObject(w[1] == "lfo" ? 21 : 22, w[2], ModulatorPayload(modulator));
  }
  if (op == "object") {
    if (!Count(w, 3, kNoMost)) return false;
    uint8_t type = 0;
    uint32_t id = 0;
    if (!Byte(w[1], type) || !Id(w[2], id)) return false;
    std::vector<uint8_t> payload(sizeof id);
    memcpy(payload.data(), &id, sizeof id);
    if (!Hex(w, 3, payload)) return false;
    return AddObject(type, w[2], std::move(payload));
  }
  if (op == "bus" || op == "motionbus") return Bus(w);
  if (op == "motionsource") return MotionSource(w);
  if (op == "sound") return Sound(w);
  if (op == "path" || op == "pathitem" || op == "pathvertex") return Path(w);
  if (op == "mixer" || op == "random" || op == "sequence") return Container(w);
  if (op == "switch") return Switch(w);
  if (op == "rtpc") return Rtpc(w);
  if (op == "stateprops") return StateProperties(w);
  if (op == "statemap") return StateMap(w);
  if (op == "layers") return Layers(w);
  if (op == "layer") return Layer(w);
  if (op == "attenuation") {
    if (w.size() != 2 && w.size() != 8) return Fail("\"attenuation\" takes a name, then nothing or a cone");
    PendingAttenuation pending;
    pending.name = w[1];
    if (!Id(w[1], pending.id)) return false;
    if (w.size() == 8) {
      if (w[2] != "cone") return Fail("\"" + w[2] + "\": only \"cone\" may follow an attenuation's name");
      BankAttenuation& attenuation = pending.attenuation;
      attenuation.coneEnabled = 1;
      if (!Real(w[3], attenuation.insideDegrees) || !Real(w[4], attenuation.outsideDegrees)) return false;
      for (int i = 0; i < 3; ++i)
        if (!Real(w[5 + i], attenuation.coneValues[i])) return false;
    }
    if (!AddPending(kBankAttenuationType, w[1], pending.id, pending.object)) return false;
    m_attenuations.push_back(std::move(pending));
    return true;
  }
  if (op == "attuse") {
    PendingAttenuation* pending = nullptr;
    uint32_t use = 0;
    uint8_t curve = 0;
    if (!Count(w, 4, 4) || !(pending = Attenuation(w[1])) || !Small(w[2], 6, "is not a use of the seven (0-6)", use) ||
        !CurveIndex(w[3], curve))
      return false;
    pending->attenuation.curveUses[use] = curve;
    return true;
  }
  if (op == "attrtpc") {
    // A curve of a voice's parameter over a game parameter, which every voice of the attenuation follows
    // (added to the voice's own); numbered after the attenuation's others.
    PendingAttenuation* pending = nullptr;
    uint32_t parameter = 0;
    if (!Count(w, 5, kNoMost) || !(pending = Attenuation(w[1])) ||
        !Small(w[2], 63, "is not a voice parameter (0-63)", parameter))
      return false;
    BankNodeCurve driver;
    size_t at = 3;
    if (!CurveDriver(w, at, driver)) return false;
    if (driver.accumulation || driver.rtpcType)
      return Fail("an attenuation's curve is added to the voice's, over a game parameter");
    BankAttenuationRTPC curve;
    curve.rtpcId = driver.rtpcId;
    curve.parameterId = uint8_t(parameter);
    curve.scaling = driver.scaling;
    curve.curveId = uint32_t(pending->attenuation.rtpcs.size() + 1);
    if (!Points(w, at + 1, curve.points)) return false;
    pending->attenuation.rtpcs.push_back(std::move(curve));
    return true;
  }
  if (op == "attcurve" || op == "attpoint") {
    PendingAttenuation* pending = nullptr;
    uint8_t index = 0;
    if (!Count(w, op == "attcurve" ? 4 : 6, op == "attcurve" ? 4 : 6) || !(pending = Attenuation(w[1])) ||
        !CurveIndex(w[2], index))
      return false;
    std::vector<BankAttenuationCurve>& curves = pending->attenuation.curves;
    if (curves.size() <= index) curves.resize(index + 1u);
    if (op == "attcurve") return Byte(w[3], curves[index].scaling);
    BankCurvePoint point;
    if (!Real(w[3], point.x) || !Real(w[4], point.y) || !Number(w[5], point.interpolation)) return false;
    if (curves[index].points.size() == kMaxCurvePoints)
      return Fail("a curve holds at most " + std::to_string(kMaxCurvePoints) + " points");
    curves[index].points.push_back(point);
    return true;
  }
  if (op == "dialogue") {
    if (!Count(w, 4, kNoMost)) return false;
    Dialogue dialogue{w[1], {}, m_bank.objects.size(), m_line};
    uint32_t probability = 0;
    if (!Id(w[1], dialogue.event.id) || !Small(w[2], 100, "is not a percentage", probability) ||
        !Byte(w[3], dialogue.event.mode))
      return false;
    dialogue.event.probability = uint8_t(probability);
    dialogue.event.groups.resize(w.size() - 4);
    for (size_t i = 4; i < w.size(); ++i)
      if (!Id(w[i], dialogue.event.groups[i - 4])) return false;
    std::vector<uint8_t> payload(sizeof dialogue.event.id);
    memcpy(payload.data(), &dialogue.event.id, sizeof dialogue.event.id);
    if (!AddObject(15, w[1], std::move(payload))) return false;
    m_dialogues.push_back(std::move(dialogue));
    return true;
  }
  if (op == "dialoguepath") {
    if (!Count(w, 5, kNoMost)) return false;
    Dialogue* dialogue = nullptr;
    for (Dialogue& d : m_dialogues)
      if (d.name == w[1]) dialogue = &d;
    if (!dialogue) return Fail("dialogue event \"" + w[1] + "\" is not declared");
    if (w.size() - 5 != dialogue->event.groups.size())
      return Fail("a path of \"" + w[1] + "\" has " + std::to_string(dialogue->event.groups.size()) + " values");
    BankDialoguePath path;
    uint32_t weight = 0, probability = 0;
    if (!Id(w[2], path.audioNode) || !Small(w[3], 100, "is not a weight of 0 to 100", weight) ||
        !Small(w[4], 100, "is not a percentage", probability))
      return false;
    path.weight = uint16_t(weight);
    path.probability = uint16_t(probability);
    path.values.resize(w.size() - 5);
    for (size_t i = 5; i < w.size(); ++i) {
      if (w[i] == "*") continue;  // the default branch
      if (!Id(w[i], path.values[i - 5])) return false;
    }
    dialogue->event.paths.push_back(path);
    return true;
  }
  if (MusicText::Takes(op)) return m_music.Line(w);
  if (op == "bankname") {
    BankName name{0, w.size() > 1 ? w[1] : ""};
    if (!Count(w, 2, 2) || !Id(w[1], name.bankId)) return false;
    if (w[1].size() > 255) return Fail("a bank name has at most 255 characters");
    if (!Once(m_bankNames, name.bankId, "bank name \"" + w[1] + "\"")) return false;
    m_bank.names.push_back(name);
    Uses(BankChunkKind::Names);
    return true;
  }
  if (op == "chunk") {
    if (!Count(w, 2, kNoMost) || !Tag(w[1])) return false;
    BankRawChunk raw;
    raw.tag = BankTagOf(w[1]);
    if (!Hex(w, 2, raw.payload)) return false;
    m_bank.rawChunks.push_back(raw);
    m_bank.order.push_back(BankChunkRef{BankChunkKind::Raw, m_bank.rawChunks.size() - 1});
    return true;
  }
  if (op == "headertag") {
    if (!Count(w, 2, 2) || !Tag(w[1])) return false;
    m_bank.headerTag = w[1];
    return true;
  }
  if (op == "version") return Count(w, 2, 2) && Number(w[1], m_bank.version);
  if (op == "headersize") {
    return Count(w, 2, 2) &&
           Small(w[1], kMaxHeaderBytes, "is more than a header chunk's 65536 bytes", m_bank.headerSize);
  }
  if (op == "motion") {
    uint32_t flag = 0;
    if (!Count(w, 2, 2) || !Small(w[1], 0xFFFF, "does not fit in 16 bits", flag)) return false;
    m_bank.motionFlag = uint16_t(flag);
    return true;
  }
  if (op == "size") {
    uint32_t size = 0;
    if (!Count(w, 3, 3) || !Tag(w[1]) || !Number(w[2], size)) return false;
    m_bank.declaredSizes[BankTagOf(w[1])] = size;
    return true;
  }
  if (op == "append") return Hex(w, 1, m_bank.tail);
  if (op == "cut") return Count(w, 2, 2) && Number(w[1], m_bank.cut);
  return Fail("unknown directive \"" + op + "\"");
}

bool Parser::UsePath(const std::string& name, BankNodeParams& params) {
  const PendingPath* path = FindPath(name);
  if (!path) return false;
  const BankNodePositioning& settings = path->settings;
  if (settings.items.empty()) return Fail("path \"" + path->name + "\" has no item");
  for (size_t i = 0; i < settings.items.size(); ++i)
    if (!settings.items[i].vertexCount)
      return Fail("path \"" + path->name + "\": item " + std::to_string(i + 1) + " has no vertex");
  // Spatialised along user-defined positions; an attenuation given by "3d" stays.
  BankNodePositioning& positioning = params.positioning;
  positioning.bits = uint8_t(0x01 | 0x08 | 0x10 | (settings.bits & (0x20 | 0x80)));
  positioning.type = 2;
  positioning.pathMode = settings.pathMode;
  positioning.pathTransitionMs = settings.pathTransitionMs;
  positioning.vertices = settings.vertices;
  positioning.items = settings.items;
  return true;
}

bool Parser::CheckHolders() {
  constexpr uint32_t kMaxDepth = SN::CSnHierarchyNode::kMaxDepth;
  std::map<uint32_t, uint32_t> levels;  // of the containers so far: how many levels of nodes hang below
  for (const Holder& holder : m_holders) {
    m_line = holder.line;
    const std::string what = (holder.bus ? "bus \"" : "\"") + holder.name + "\"";
    std::set<uint32_t> seen;
    uint32_t level = 0;
    for (const uint32_t held : holder.held) {
      if (held == holder.id) return Fail(what + (holder.bus ? " is its own parent" : " holds itself"));
      if (!seen.insert(held).second) return Fail(what + " lists one of its children more than once");
      const auto declared = m_objects.find({holder.bus ? 8u : 2u, held});
      if (declared != m_objects.end() && declared->second >= holder.line)
        return Fail(what + " names the " + (holder.bus ? "bus" : "node") + " of line " +
                    std::to_string(declared->second) + ", declared after it: the engine loads " +
                    (holder.bus ? "a parent bus" : "children") + " first");
      const auto below = levels.find(held);
      level = std::max(level, below != levels.end() ? below->second + 1 : 1u);
    }
    if (holder.bus) continue;
    if (level > kMaxDepth)
      return Fail(what + ": the nodes below it nest more than " + std::to_string(kMaxDepth) + " levels deep");
    levels[holder.id] = level;
  }
  return true;
}

bool Parser::Finish() {
  if (!CheckHolders()) return false;
  for (Dialogue& dialogue : m_dialogues) {
    m_line = dialogue.line;
    std::string error;
    if (!DialogueEventPayload(dialogue.event, m_bank.objects[dialogue.object].payload, error))
      return Fail("dialogue event \"" + dialogue.name + "\": " + error);
  }
  uint64_t media = 0, made = 0;
  for (Tone& tone : m_tones) {
    m_line = tone.line;
    if (tone.desc.loop && (tone.desc.loopStart > tone.desc.loopEnd || tone.desc.loopEnd >= tone.desc.frames))
      return Fail("tone \"" + tone.name + "\": the loop lies outside the tone");
    // Counted before the tone is made, so that a bank too large for its sizes is never built.
    if ((!tone.loose || tone.prefetch) && (media += ToneMediaBound(tone.desc)) > kMaxMediaBytes)
      return Fail("tone \"" + tone.name + "\" takes the bank's media past 4 GiB");
    // Loose tones are made in memory beside the bank's before they are written: the same bound holds.
    if ((made += ToneMediaBound(tone.desc)) > kMaxMediaBytes)
      return Fail("tone \"" + tone.name + "\" takes the media made with the bank, loose files included, past 4 GiB");
  }
  for (Tone& tone : m_tones) {
    const uint32_t id = SN::SoundEngine::GetIDFromString(tone.name.c_str());
    m_bank.media.push_back(BankMedia{id, WriteToneMedia(tone.desc), tone.loose, tone.language});
    if (!tone.prefetch) continue;
    // The bank holds the file's first bytes under the same id: the voice plays them while its stream
    // reads the rest. They hold at least the media's header, which the voice reads first.
    m_line = tone.prefetchLine;
    const std::vector<uint8_t>& file = m_bank.media.back().bytes;
    const uint32_t header = MediaDataOffset(file);
    if (tone.prefetch > file.size())
      return Fail("the prefetch of tone \"" + tone.name + "\" is more than its " + std::to_string(file.size()) +
                  " bytes");
    if (tone.prefetch < header)
      return Fail("the prefetch of tone \"" + tone.name + "\" does not hold its header of " + std::to_string(header) +
                  " bytes");
    m_bank.media.push_back(BankMedia{id, std::vector<uint8_t>(file.begin(), file.begin() + tone.prefetch), false, {}});
  }
  // A sound plays its tone from the bank's media, or streamed from the tone's loose file (its first
  // bytes from the bank when prefetched), with the codec its encoding needs (float media are PCM); or
  // it plays a source plug-in. A prepared tone is held in memory like the bank's, but only once a
  // preparation has read it from its loose file.
  for (PendingSound& sound : m_sounds) {
    m_line = sound.line;
    const Tone* tone = FindTone(sound.tone);
    const auto plugin = m_sourcePlugins.find(sound.tone);
    if (tone && plugin != m_sourcePlugins.end())
      return Fail("\"" + sound.tone + "\" names both a tone and a source plug-in");
    if (!tone && (sound.motion || plugin == m_sourcePlugins.end()))
      return Fail("tone \"" + sound.tone + "\" is not declared");
    if (sound.params.secondaryOutputId && !m_bank.motionFlag)
      return Fail("a sound's motion bus needs the bank's motion flag (\"motion 1\")");
    if (!sound.path.empty() && !UsePath(sound.path, sound.params)) return false;
    BankSource source;
    if (!tone) {
      source.classId = plugin->second.key;
      source.sourceId = plugin->second.id;
      m_bank.objects[sound.object].payload = SoundPayload(sound.id, source, sound.params, m_bank.motionFlag != 0);
      continue;
    }
    const uint32_t mediaId = SN::SoundEngine::GetIDFromString(tone->name.c_str());
    source.classId = tone->desc.encoding == MediaEncoding::ImaAdpcm ? 0x00020001 : 0x00010001;
    source.sourceId = mediaId;
    const bool inMemory = !tone->loose || tone->prepared;
    source.streamType = inMemory ? 0 : (tone->prefetch ? 2 : 1);
    source.sizeOrFileId = mediaId;
    source.flags = tone->language.empty() ? 0 : 1;
    for (const BankMedia& media : m_bank.media)
      if (media.id == mediaId && inMemory) source.sizeOrFileId = uint32_t(media.bytes.size());
    if (sound.motion) {
      BankMotionSource motion = sound.motionValues;
      motion.source = source;
      m_bank.objects[sound.object].payload =
          MotionSourcePayload(sound.id, {motion}, sound.params, m_bank.motionFlag != 0);
      continue;
    }
    m_bank.objects[sound.object].payload = SoundPayload(sound.id, source, sound.params, m_bank.motionFlag != 0);
  }
  for (PathContainer& pending : m_pathContainers) {
    m_line = pending.line;
    if (!UsePath(pending.path, pending.params)) return false;
    m_bank.objects[pending.object].payload =
        pending.mixer ? ActorMixerPayload(pending.id, pending.params, pending.container.children)
                      : RandomSequencePayload(pending.id, pending.params, pending.container);
  }
  for (PendingAttenuation& pending : m_attenuations)
    m_bank.objects[pending.object].payload = AttenuationPayload(pending.id, pending.attenuation);
  return true;
}

}  // namespace

std::string BankNameOfPath(const std::string& path) {
  const std::string file = path.substr(path.find_last_of("/\\") + 1);
  return file.substr(0, file.rfind('.'));
}

bool ParseBankText(const std::string& text, const std::string& bankName, BankDescription& bank, std::string& error) {
  bank = BankDescription{};
  bank.bankId = SN::SoundEngine::GetIDFromString(bankName.c_str());
  Parser parser(bank, error);
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.resize(comment);
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    if (w.empty()) continue;
    parser.SetLine(number);
    if (!parser.Line(w)) return false;
  }
  return parser.Finish();
}

bool ReadBankTextFile(const std::string& path, BankDescription& bank, std::string& error) {
  // A folder opens as a file here and reads as nothing at all.
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    error = "\"" + path + "\" is a folder, not a bank description";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!ParseBankText(text, BankNameOfPath(path), bank, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace Tools
