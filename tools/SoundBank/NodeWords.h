// The words every line that makes a node sets it with (a sound, each container, each music node and a
// bus): one table of the words, the kinds of node that take each and how many times one node takes it,
// and one loop reading them. A word its line's kind does not take is refused with the line, never read
// as a child's name; a word taken once is refused the second time; one taken several times says how many.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/SoundBank/HierarchyWriter.h"
#include "tools/SoundBank/NodeParamsWriter.h"
#include "tools/SoundBank/TextValues.h"

namespace Tools {

enum class NodeKind : uint8_t {
  Sound, Mixer, Random, Sequence, Switch, Layers,
  MusicTrack, MusicSegment, MusicPlaylist, MusicSwitch,
  Bus, MotionBus,
  Count
};
constexpr uint32_t KindBit(NodeKind kind) { return 1u << uint32_t(kind); }
// The kind as its line's refusals name it ("sound", "random container", "bus", ...).
const char* NodeKindName(NodeKind kind);

// What a line lends its node words: the value readers, its failure with the line, and the effect
// definitions declared before.
class NodeWordsHost : public TextValues {
 public:
  // An effect slot's shared flag: clear for a per-node definition declared before.
  virtual uint8_t EffectShared(uint32_t effectId) const = 0;

 protected:
  ~NodeWordsHost() = default;
};

class NodeWords;

// One row of the table. `values` words at least follow the word (`takes` names them when they do
// not); a node takes it `most` times, kEachProperty once for each property it names.
struct NodeWordRow {
  const char* word;
  size_t values;
  const char* takes;
  uint32_t kinds;
  uint32_t most;
  const char* many;  // what a node has `most` of, when more than one: "four effect slots"
  bool (NodeWords::*read)(const std::vector<std::string>& w, size_t& i);
};
constexpr uint32_t kEachProperty = 0;
constexpr uint32_t kAnyTimes = 0xFFFFFFFFu;
const std::vector<NodeWordRow>& NodeWordTable();

class NodeWords {
 public:
  // The words of a node of `kind` into `params`; `path` takes the path a sound or a mixer, random or
  // sequence container moves along (its positioning is written once the path is whole).
  NodeWords(NodeWordsHost& host, NodeKind kind, BankNodeParams& params, std::string* path = nullptr);
  NodeWords(NodeWordsHost& host, NodeKind kind, BankBusParams& bus);

  // A line's own words: `taken` tells whether w[i] was one of them, `i` is left on the last it took.
  using LineOptions = std::function<bool(const std::vector<std::string>& w, size_t& i, bool& taken)>;
  // A word that is neither: a child's name, or the line's refusal.
  using LineRest = std::function<bool(const std::vector<std::string>& w, size_t& i)>;
  // The line's words from `from` on: the node words of its kind, the line's own options, a node word
  // of another kind refused, and any other word the line's rest; then Whole.
  bool Read(const std::vector<std::string>& w, size_t from, const LineOptions& options, const LineRest& rest);
  // w[i] as a node word of this kind, read (`i` left on its last value) or refused; `taken` false for
  // a word that is none.
  bool Take(const std::vector<std::string>& w, size_t& i, bool& taken);
  // Refuses a node word of another kind; true for a word that is no node word at all.
  bool NotOthers(const std::string& word);
  // At the line's end: the settings that only hold together, and the counts within their fields.
  bool Whole();
  // The rest of a line that takes no other words: each refused, "<word>" is no <kind> option.
  LineRest Refused();
  // A bus with a mix stage of its own ("ownmix"), written as a bus of its own type.
  bool OwnMix() const { return m_ownMix; }

  // The readers of the table's rows, from the word at w[i]: `i` is left on the last value taken.
  bool Effect(const std::vector<std::string>& w, size_t& i);
  bool Bypass(const std::vector<std::string>& w, size_t& i);
  bool Mixer(const std::vector<std::string>& w, size_t& i);
  bool Priority(const std::vector<std::string>& w, size_t& i);
  bool MidiPlay(const std::vector<std::string>& w, size_t& i);
  bool MidiTracking(const std::vector<std::string>& w, size_t& i);
  bool Volume(const std::vector<std::string>& w, size_t& i);
  bool Value(const std::vector<std::string>& w, size_t& i);
  bool Loop(const std::vector<std::string>& w, size_t& i);
  bool Delay(const std::vector<std::string>& w, size_t& i);
  bool Property(const std::vector<std::string>& w, size_t& i);
  bool Vary(const std::vector<std::string>& w, size_t& i);
  bool Placed(const std::vector<std::string>& w, size_t& i);
  bool LeftOut(const std::vector<std::string>& w, size_t& i);
  bool Path(const std::vector<std::string>& w, size_t& i);
  bool GameSend(const std::vector<std::string>& w, size_t& i);
  bool AuxSend(const std::vector<std::string>& w, size_t& i);
  bool MaxVoices(const std::vector<std::string>& w, size_t& i);
  bool Inaudible(const std::vector<std::string>& w, size_t& i);
  bool Motion(const std::vector<std::string>& w, size_t& i);
  bool BusFlag(const std::vector<std::string>& w, size_t& i);
  bool BusVolume(const std::vector<std::string>& w, size_t& i);
  bool Recovery(const std::vector<std::string>& w, size_t& i);
  bool MaxDuck(const std::vector<std::string>& w, size_t& i);
  bool Channels(const std::vector<std::string>& w, size_t& i);
  bool Duck(const std::vector<std::string>& w, size_t& i);

 private:
  bool IsBus() const { return m_bus != nullptr; }
  // "<word>" is no <kind> option.
  bool NoOption(const std::string& word);
  // A property the node holds once: a second value of its id is refused.
  bool AddProperty(std::vector<BankNodeProperty>& properties, const BankNodeProperty& property);
  // <property> <value>: a named or numbered node property, its value within what the engine takes.
  bool PropertyValue(const std::string& property, const std::string& word, BankNodeProperty& value);

  NodeWordsHost& m_host;
  NodeKind m_kind;
  BankNodeParams* m_node = nullptr;
  BankBusParams* m_bus = nullptr;
  std::string* m_path = nullptr;
  std::vector<uint32_t> m_times;  // of each row, on this line
  bool m_ownMix = false;
};

// The node property a word names (volume, pitch, lowpass, highpass and, where `busVolume`, busvolume);
// false for any other word.
bool NamedNodeProperty(const std::string& word, bool busVolume, uint32_t& id);

}  // namespace Tools
