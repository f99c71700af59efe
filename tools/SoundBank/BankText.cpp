// Parser of bank descriptions into what the bank writer lays out.
#include "tools/SoundBank/BankText.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/ToneMedia.h"

namespace Tools {

namespace {

struct Tone {
  std::string name;
  ToneDesc desc;
  bool loose = false;
};

class Parser {
 public:
  Parser(BankDescription& bank, std::string& error) : m_bank(bank), m_error(error) {}

  bool Line(const std::vector<std::string>& words);
  bool Finish();
  void SetLine(int line) { m_line = line; }

 private:
  bool Fail(const std::string& message) {
    m_error = "line " + std::to_string(m_line) + ": " + message;
    return false;
  }
  bool Count(const std::vector<std::string>& words, size_t least, size_t most) {
    if (words.size() >= least && words.size() <= most) return true;
    return Fail("\"" + words[0] + "\" takes " + std::to_string(least - 1) +
                (most == least ? "" : most > 100 ? " or more" : " to " + std::to_string(most - 1)) + " values");
  }
  bool Number(const std::string& word, uint32_t& value) {
    char* end = nullptr;
    const unsigned long number = strtoul(word.c_str(), &end, 0);
    if (word.empty() || *end || number > 0xFFFFFFFFul) return Fail("\"" + word + "\" is not a whole number");
    value = uint32_t(number);
    return true;
  }
  bool Real(const std::string& word, float& value) {
    char* end = nullptr;
    value = strtof(word.c_str(), &end);
    if (word.empty() || *end) return Fail("\"" + word + "\" is not a number");
    return true;
  }
  bool Byte(const std::string& word, uint8_t& value) {
    uint32_t number = 0;
    if (!Number(word, number)) return false;
    if (number > 255) return Fail("\"" + word + "\" does not fit in a byte");
    value = uint8_t(number);
    return true;
  }
  static uint32_t Id(const std::string& word) {
    if (word.size() > 1 && word[0] == '@') return uint32_t(strtoul(word.c_str() + 1, nullptr, 0));
    return SN::SoundEngine::GetIDFromString(word.c_str());
  }
  bool Hex(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>& out) {
    for (size_t i = first; i < words.size(); ++i) {
      const std::string& word = words[i];
      if (word.size() % 2) return Fail("\"" + word + "\" is not whole hex bytes");
      for (size_t j = 0; j < word.size(); j += 2) {
        char* end = nullptr;
        const std::string pair = word.substr(j, 2);
        const unsigned long value = strtoul(pair.c_str(), &end, 16);
        if (*end) return Fail("\"" + word + "\" is not hex");
        out.push_back(uint8_t(value));
      }
    }
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

  BankDescription& m_bank;
  std::string& m_error;
  std::vector<Tone> m_tones;
  int m_line = 0;
};

bool Parser::Line(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  BankSettings& settings = m_bank.settings;
  if (op == "platform") {
    if (!Count(w, 2, 2)) return false;
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
    group.id = Id(w.size() > 1 ? w[1] : "");
    if (!Count(w, 3, 3) || !Number(w[2], group.defaultMs)) return false;
    if (StateGroup(group.id)) return Fail("state group \"" + w[1] + "\" is given twice");
    settings.stateGroups.push_back(group);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "transition") {
    if (!Count(w, 5, 5)) return false;
    BankStateGroup* group = StateGroup(Id(w[1]));
    if (!group) return Fail("state group \"" + w[1] + "\" is not declared");
    BankStateTransition transition{Id(w[2]), Id(w[3]), 0};
    if (!Number(w[4], transition.ms)) return false;
    group->transitions.push_back(transition);
    return true;
  }
  if (op == "switchgroup") {
    if (!Count(w, 4, 4)) return false;
    BankSwitchGroup group;
    group.id = Id(w[1]);
    group.parameterId = Id(w[2]);
    if (!Byte(w[3], group.scaling)) return false;
    if (SwitchGroup(group.id)) return Fail("switch group \"" + w[1] + "\" is given twice");
    settings.switchGroups.push_back(group);
    Uses(BankChunkKind::Settings);
    return true;
  }
  if (op == "switchpoint") {
    if (!Count(w, 5, 5)) return false;
    BankSwitchGroup* group = SwitchGroup(Id(w[1]));
    if (!group) return Fail("switch group \"" + w[1] + "\" is not declared");
    BankSwitchPoint point;
    point.switchId = Id(w[3]);
    if (!Real(w[2], point.value) || !Number(w[4], point.shape)) return false;
    group->points.push_back(point);
    return true;
  }
  if (op == "parameter") {
    if (!Count(w, 7, 7)) return false;
    BankParameter parameter;
    parameter.id = Id(w[1]);
    if (!Real(w[2], parameter.defaultValue) || !Number(w[3], parameter.rampMode) || !Real(w[4], parameter.rampUp) ||
        !Real(w[5], parameter.rampDown) || !Byte(w[6], parameter.binding))
      return false;
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
    curve->points.push_back(point);
    return true;
  }
  if (op == "tone") {
    if (!Count(w, 6, 7)) return false;
    Tone tone;
    tone.name = w[1];
    uint32_t channels = 0, ms = 0;
    if (!Number(w[2], tone.desc.sampleRate) || !Number(w[3], channels) || !Number(w[4], ms) ||
        !Real(w[5], tone.desc.frequency))
      return false;
    if (channels < 1 || channels > 8) return Fail("a tone has 1 to 8 channels");
    if (tone.desc.sampleRate < 8000 || tone.desc.sampleRate > 192000) return Fail("a tone's rate is 8000 to 192000");
    if (ms > 60000) return Fail("a tone lasts at most a minute");
    if (w.size() == 7 && w[6] != "loose") return Fail("\"" + w[6] + "\": only \"loose\" may follow a tone");
    if (FindTone(tone.name)) return Fail("tone \"" + tone.name + "\" is given twice");
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
    if (!Count(w, 2, 1000)) return false;
    std::vector<uint32_t> actions;
    for (size_t i = 2; i < w.size(); ++i) actions.push_back(Id(w[i]));
    m_bank.objects.push_back(BankObject{4, EventPayload(Id(w[1]), actions)});
    Uses(BankChunkKind::Hierarchy);
    return true;
  }
  if (op == "object") {
    if (!Count(w, 3, 1000)) return false;
    BankObject object;
    if (!Byte(w[1], object.type)) return false;
    const uint32_t id = Id(w[2]);
    object.payload.resize(sizeof id);
    memcpy(object.payload.data(), &id, sizeof id);
    if (!Hex(w, 3, object.payload)) return false;
    m_bank.objects.push_back(object);
    Uses(BankChunkKind::Hierarchy);
    return true;
  }
  if (op == "bankname") {
    if (!Count(w, 2, 2)) return false;
    if (w[1].size() > 255) return Fail("a bank name has at most 255 characters");
    m_bank.names.push_back(BankName{Id(w[1]), w[1]});
    Uses(BankChunkKind::Names);
    return true;
  }
  if (op == "chunk") {
    if (!Count(w, 2, 1000)) return false;
    if (w[1].size() != 4) return Fail("a chunk tag has four characters");
    BankRawChunk raw;
    raw.tag = BankTagOf(w[1]);
    if (!Hex(w, 2, raw.payload)) return false;
    m_bank.rawChunks.push_back(raw);
    m_bank.order.push_back(BankChunkRef{BankChunkKind::Raw, m_bank.rawChunks.size() - 1});
    return true;
  }
  if (op == "headertag") {
    if (!Count(w, 2, 2)) return false;
    if (w[1].size() != 4) return Fail("a chunk tag has four characters");
    m_bank.headerTag = w[1];
    return true;
  }
  if (op == "version") return Count(w, 2, 2) && Number(w[1], m_bank.version);
  if (op == "headersize") return Count(w, 2, 2) && Number(w[1], m_bank.headerSize);
  if (op == "motion") {
    uint32_t flag = 0;
    if (!Count(w, 2, 2) || !Number(w[1], flag)) return false;
    m_bank.motionFlag = uint16_t(flag);
    return true;
  }
  if (op == "size") {
    uint32_t size = 0;
    if (!Count(w, 3, 3) || !Number(w[2], size)) return false;
    if (w[1].size() != 4) return Fail("a chunk tag has four characters");
    m_bank.declaredSizes[BankTagOf(w[1])] = size;
    return true;
  }
  if (op == "append") return Hex(w, 1, m_bank.tail);
  if (op == "cut") return Count(w, 2, 2) && Number(w[1], m_bank.cut);
  return Fail("unknown directive \"" + op + "\"");
}

bool Parser::Finish() {
  for (Tone& tone : m_tones) {
    if (tone.desc.loop && (tone.desc.loopStart > tone.desc.loopEnd || tone.desc.loopEnd >= tone.desc.frames)) {
      m_error = "tone \"" + tone.name + "\": the loop lies outside the tone";
      return false;
    }
    m_bank.media.push_back(BankMedia{SN::SoundEngine::GetIDFromString(tone.name.c_str()), WriteToneMedia(tone.desc),
                                     tone.loose});
  }
  return true;
}

}  // namespace

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
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  name = name.substr(0, name.find('.'));
  if (!ParseBankText(text, name, bank, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace Tools
