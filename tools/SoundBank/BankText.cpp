// Parser of bank descriptions into what the bank writer lays out: each line to the directive that reads
// it, then the bank's end, which writes what waited for it. Anything the writer could not lay out as meant
// (a number read some other way, an id given twice, a size past the format's fields) is refused with the
// line it stands on.
#include "tools/SoundBank/BankText.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

namespace {

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

}  // namespace

const std::map<std::string, BankTextParser::Directive>& BankTextParser::Directives() {
  using P = BankTextParser;
  static const std::map<std::string, Directive> kDirectives = {
      {"platform", &P::Platform},         {"threshold", &P::Threshold},     {"voices", &P::Voices},
      {"stategroup", &P::StateGroupLine}, {"transition", &P::Transition},   {"switchgroup", &P::SwitchGroupLine},
      {"switchpoint", &P::SwitchPoint},   {"parameter", &P::Parameter},     {"envcurve", &P::EnvCurve},
      {"envpoint", &P::EnvPoint},         {"bankname", &P::BankNameLine},   {"chunk", &P::Chunk},
      {"headertag", &P::Fault},           {"version", &P::Fault},           {"headersize", &P::Fault},
      {"motion", &P::Fault},              {"size", &P::Fault},              {"append", &P::Fault},
      {"cut", &P::Fault},                 {"tone", &P::ToneLine},           {"marker", &P::Marker},
      {"mediafault", &P::MediaFaultLine}, {"envelope", &P::Envelope},       {"speakers", &P::Speakers},
      {"loop", &P::ToneLoop},             {"language", &P::Language},       {"prefetch", &P::Prefetch},
      {"bus", &P::Bus},                   {"motionbus", &P::Bus},           {"sound", &P::Sound},
      {"motionsource", &P::MotionSource}, {"path", &P::Path},               {"pathitem", &P::Path},
      {"pathvertex", &P::Path},           {"mixer", &P::Container},         {"random", &P::Container},
      {"sequence", &P::Container},        {"switch", &P::Switch},           {"layers", &P::Layers},
      {"layer", &P::Layer},               {"rtpc", &P::Rtpc},               {"stateprops", &P::StateProperties},
      {"statemap", &P::StateMap},         {"modulator", &P::Modulator},     {"event", &P::Event},
      {"action", &P::Action},             {"effect", &P::Effect},           {"sourceplugin", &P::SourcePlugin},
      {"object", &P::ObjectLine},         {"attenuation", &P::AttenuationLine}, {"attuse", &P::AttUse},
      {"attrtpc", &P::AttRtpc},           {"attcurve", &P::AttCurve},       {"attpoint", &P::AttCurve},
      {"dialogue", &P::DialogueLine},     {"dialoguepath", &P::DialoguePath}, {"elsewhere", &P::Elsewhere},
  };
  return kDirectives;
}

bool BankTextParser::Line(const std::vector<std::string>& w) {
  const auto directive = Directives().find(w[0]);
  if (directive != Directives().end()) return (this->*directive->second)(w);
  if (MusicText::Takes(w[0])) return m_music.Line(w);
  return Fail("unknown directive \"" + w[0] + "\"");
}

bool BankTextParser::AddObject(uint8_t type, const std::string& name, std::vector<uint8_t> payload) {
  uint32_t id = 0;
  memcpy(&id, payload.data(), sizeof id);
  const std::string what = std::string(type == 4 ? "event" : type == 3 ? "action" : "object") + " \"" + name + "\"";
  if (!Once(m_objects, std::pair{ObjectListOf(type), id}, what)) return false;
  m_bank.objects.push_back(BankObject{type, std::move(payload)});
  Uses(BankChunkKind::Hierarchy);
  return true;
}

bool BankTextParser::AddNode(uint8_t type, const std::string& name, NodeKind kind, uint32_t motionBus,
                             NodeWrite write) {
  const size_t object = m_bank.objects.size();
  if (!AddObject(type, name, write(false))) return false;
  m_nodes.push_back(WrittenNode{object, m_line, kind, motionBus != 0, std::move(write)});
  return true;
}

bool BankTextParser::AddPending(uint8_t type, const std::string& name, uint32_t id, size_t& index) {
  std::vector<uint8_t> placeholder(sizeof id);
  memcpy(placeholder.data(), &id, sizeof id);
  index = m_bank.objects.size();
  return AddObject(type, name, std::move(placeholder));
}

bool BankTextParser::CheckHolders() {
  constexpr uint32_t kMaxDepth = SN::CSnHierarchyNode::kMaxDepth;
  std::map<uint32_t, uint32_t> levels;  // of the containers so far: how many levels of nodes hang below
  for (const Holder& holder : m_holders) {
    m_line = holder.line;
    const std::string what = (holder.bus ? "bus \"" : "\"") + holder.name + "\"";
    std::set<uint32_t> seen;
    uint32_t level = 0;
    for (size_t i = 0; i < holder.held.size(); ++i) {
      const uint32_t held = holder.held[i];
      if (held == holder.id) return Fail(what + (holder.bus ? " is its own parent" : " holds itself"));
      if (!seen.insert(held).second) return Fail(what + " lists one of its children more than once");
      const auto declared = m_objects.find({holder.bus ? 8u : 2u, held});
      if (declared == m_objects.end() && !holder.bus && !m_elsewhere.count(held))
        return Fail("\"" + holder.heldNames[i] + "\" names no node of this bank, nor one of another bank given on an "
                    "\"elsewhere\" line");
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
bool BankTextParser::Finish() {
  if (!CheckElsewhere() || !CheckHolders() || !FinishObjects() || !FinishTones() || !FinishSounds() ||
      !FinishContainers())
    return false;
  // Every node is written with the bank's motion flag, which a secondary output needs.
  for (const WrittenNode& node : m_nodes) {
    m_line = node.line;
    if (node.motionBus && !m_bank.motionFlag)
      return Fail(std::string("a ") + NodeKindName(node.kind) +
                  "'s motion bus needs the bank's motion flag (\"motion 1\")");
    m_bank.objects[node.object].payload = node.write(m_bank.motionFlag != 0);
  }
  return true;
}

std::string BankNameOfPath(const std::string& path) {
  const std::string file = path.substr(path.find_last_of("/\\") + 1);
  return file.substr(0, file.rfind('.'));
}

bool ParseBankText(const std::string& text, const std::string& bankName, BankDescription& bank, std::string& error) {
  bank = BankDescription{};
  bank.bankId = SN::SoundEngine::GetIDFromString(bankName.c_str());
  BankTextParser parser(bank, error);
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
