// Parser of bank descriptions into what the bank writer lays out. Anything the writer could not lay
// out as meant (a number read some other way, an id given twice, a size past the format's fields) is
// refused with the line it stands on.
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicText.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/ToneMedia.h"

namespace Tools {

namespace {

struct Tone {
  std::string name;
  ToneDesc desc;
  bool loose = false;
  int line = 0;
};

// Limits that keep a bank inside its 32-bit sizes: a header chunk of a few blocks, a curve's point
// count in its 16 bits, and media a little under 4 GiB.
constexpr uint32_t kMaxHeaderBytes = 65536;
constexpr size_t kMaxCurvePoints = 0xFFFF;
constexpr uint64_t kMaxMediaBytes = 0xFFFFFFFFull - 65536;
constexpr size_t kNoMost = size_t(-1);

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
  uint64_t bytes = 256 + uint64_t(tone.frames) * tone.channels * 2 + kBankWriterMediaAlignment;
  for (const ToneMarker& marker : tone.markers) bytes += 48 + marker.label.size();
  return bytes;
}

class Parser final : public MusicTextHost {
 public:
  Parser(BankDescription& bank, std::string& error) : m_bank(bank), m_error(error), m_music(*this) {}

  bool Line(const std::vector<std::string>& words);
  bool Finish();
  void SetLine(int line) { m_line = line; }

 private:
  bool ToneMedia(const std::string& name, double& ms, uint32_t& bytes) override {
    const Tone* tone = FindTone(name);
    if (!tone) return Fail("tone \"" + name + "\" is not declared");
    ms = double(tone->desc.frames) * 1000.0 / tone->desc.sampleRate;
    bytes = uint32_t(WriteToneMedia(tone->desc).size());
    return true;
  }
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
  // Remembers the line that first gave `key`; a second time is refused, naming both lines.
  template <class Key>
  bool Once(std::map<Key, int>& seen, const Key& key, const std::string& what) {
    const auto [at, fresh] = seen.emplace(key, m_line);
    if (fresh) return true;
    return Fail(what + " is given twice (first on line " + std::to_string(at->second) + ")");
  }
  bool AddObject(uint8_t type, const std::string& name, std::vector<uint8_t> payload) override {
    uint32_t id = 0;
    memcpy(&id, payload.data(), sizeof id);
    const std::string what = std::string(type == 4 ? "event" : "object") + " \"" + name + "\"";
    if (!Once(m_objects, std::pair{ObjectListOf(type), id}, what)) return false;
    m_bank.objects.push_back(BankObject{type, std::move(payload)});
    Uses(BankChunkKind::Hierarchy);
    return true;
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
  bool Tag(const std::string& word) {
    if (word.size() == 4) return true;
    return Fail("a chunk tag has four characters");
  }

  BankDescription& m_bank;
  std::string& m_error;
  std::vector<Tone> m_tones;
  int m_line = 0;
  int m_platformLine = 0;
  std::map<std::pair<uint32_t, uint32_t>, int> m_objects;  // (object list, id)
  std::map<uint32_t, int> m_parameters, m_bankNames, m_toneIds;
  MusicText m_music;
};

bool Parser::Line(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  BankSettings& settings = m_bank.settings;
  if (op == "platform") {
    if (!Count(w, 2, 2)) return false;
    if (m_platformLine)
      return Fail("the platform is given twice (first on line " + std::to_string(m_platformLine) + ")");
    m_platformLine = m_line;
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
    if (!Count(w, 6, 7)) return false;
    Tone tone;
    tone.name = w[1];
    tone.line = m_line;
    uint32_t channels = 0, ms = 0;
    if (!Number(w[2], tone.desc.sampleRate) || !Number(w[3], channels) || !Number(w[4], ms) ||
        !Real(w[5], tone.desc.frequency))
      return false;
    if (channels < 1 || channels > 8) return Fail("a tone has 1 to 8 channels");
    if (tone.desc.sampleRate < 8000 || tone.desc.sampleRate > 192000) return Fail("a tone's rate is 8000 to 192000");
    if (ms > 60000) return Fail("a tone lasts at most a minute");
    if (w.size() == 7 && w[6] != "loose") return Fail("\"" + w[6] + "\": only \"loose\" may follow a tone");
    if (FindTone(tone.name)) return Fail("tone \"" + tone.name + "\" is given twice");
    // Names that differ only in case hash to one media id.
    if (!Once(m_toneIds, SN::SoundEngine::GetIDFromString(tone.name.c_str()), "the media id of tone \"" + w[1] + "\""))
      return false;
    tone.desc.channels = uint16_t(channels);
    tone.desc.frames = uint32_t(uint64_t(tone.desc.sampleRate) * ms / 1000);
    tone.loose = w.size() == 7;
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
  if (op == "loop") {
    if (!Count(w, 4, 4)) return false;
    Tone* tone = FindTone(w[1]);
    if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
    if (!Number(w[2], tone->desc.loopStart) || !Number(w[3], tone->desc.loopEnd)) return false;
    tone->desc.loop = true;
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

bool Parser::Finish() {
  uint64_t media = 0;
  for (Tone& tone : m_tones) {
    m_line = tone.line;
    if (tone.desc.loop && (tone.desc.loopStart > tone.desc.loopEnd || tone.desc.loopEnd >= tone.desc.frames))
      return Fail("tone \"" + tone.name + "\": the loop lies outside the tone");
    // Counted before the tone is made, so that a bank too large for its sizes is never built.
    if (!tone.loose && (media += ToneMediaBound(tone.desc)) > kMaxMediaBytes)
      return Fail("tone \"" + tone.name + "\" takes the bank's media past 4 GiB");
  }
  for (Tone& tone : m_tones)
    m_bank.media.push_back(BankMedia{SN::SoundEngine::GetIDFromString(tone.name.c_str()), WriteToneMedia(tone.desc),
                                     tone.loose});
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
