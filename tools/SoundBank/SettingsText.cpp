// The bank text's settings directives (STMG, ENVS, PLAT, STID and raw chunks) and the faults of the
// malformed corpus.
#include <string>
#include <vector>

#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

bool BankTextParser::Platform(const std::vector<std::string>& w) {
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

bool BankTextParser::Threshold(const std::vector<std::string>& w) {
  BankSettings& settings = m_bank.settings;
  Uses(BankChunkKind::Settings);
  return Count(w, 2, 2) && Real(w[1], settings.volumeThreshold);
}

bool BankTextParser::Voices(const std::vector<std::string>& w) {
  BankSettings& settings = m_bank.settings;
  uint32_t voices = 0;
  if (!Count(w, 2, 2) || !Number(w[1], voices)) return false;
  if (voices > 0xFFFF) return Fail("a voice limit fits in 16 bits");
  settings.maxVoices = uint16_t(voices);
  Uses(BankChunkKind::Settings);
  return true;
}

bool BankTextParser::StateGroupLine(const std::vector<std::string>& w) {
  BankSettings& settings = m_bank.settings;
  BankStateGroup group;
  if (!Count(w, 3, 3) || !Id(w[1], group.id) || !Number(w[2], group.defaultMs)) return false;
  if (StateGroup(group.id)) return Fail("state group \"" + w[1] + "\" is given twice");
  settings.stateGroups.push_back(group);
  Uses(BankChunkKind::Settings);
  return true;
}

bool BankTextParser::Transition(const std::vector<std::string>& w) {
  uint32_t groupId = 0;
  if (!Count(w, 5, 5) || !Id(w[1], groupId)) return false;
  BankStateGroup* group = StateGroup(groupId);
  if (!group) return Fail("state group \"" + w[1] + "\" is not declared");
  BankStateTransition transition;
  if (!Id(w[2], transition.from) || !Id(w[3], transition.to) || !Number(w[4], transition.ms)) return false;
  group->transitions.push_back(transition);
  return true;
}

bool BankTextParser::SwitchGroupLine(const std::vector<std::string>& w) {
  BankSettings& settings = m_bank.settings;
  if (!Count(w, 4, 4)) return false;
  BankSwitchGroup group;
  if (!Id(w[1], group.id) || !Id(w[2], group.parameterId) || !Byte(w[3], group.scaling)) return false;
  if (SwitchGroup(group.id)) return Fail("switch group \"" + w[1] + "\" is given twice");
  settings.switchGroups.push_back(group);
  Uses(BankChunkKind::Settings);
  return true;
}

bool BankTextParser::SwitchPoint(const std::vector<std::string>& w) {
  uint32_t groupId = 0;
  if (!Count(w, 5, 5) || !Id(w[1], groupId)) return false;
  BankSwitchGroup* group = SwitchGroup(groupId);
  if (!group) return Fail("switch group \"" + w[1] + "\" is not declared");
  BankSwitchPoint point;
  if (!Real(w[2], point.value) || !Id(w[3], point.switchId) || !Number(w[4], point.shape)) return false;
  group->points.push_back(point);
  return true;
}

bool BankTextParser::Parameter(const std::vector<std::string>& w) {
  BankSettings& settings = m_bank.settings;
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

bool BankTextParser::EnvCurve(const std::vector<std::string>& w) {
  if (!Count(w, 5, 5)) return false;
  BankEnvironmentCurve* curve = Curve(w[1], w[2]);
  return curve && Byte(w[3], curve->enabled) && Byte(w[4], curve->scaling);
}

bool BankTextParser::EnvPoint(const std::vector<std::string>& w) {
  if (!Count(w, 6, 6)) return false;
  BankEnvironmentCurve* curve = Curve(w[1], w[2]);
  BankCurvePoint point;
  if (!curve || !Real(w[3], point.x) || !Real(w[4], point.y) || !Number(w[5], point.interpolation)) return false;
  if (curve->points.size() == kMaxCurvePoints)
    return Fail("a curve holds at most " + std::to_string(kMaxCurvePoints) + " points");
  curve->points.push_back(point);
  return true;
}

bool BankTextParser::BankNameLine(const std::vector<std::string>& w) {
  BankName name{0, w.size() > 1 ? w[1] : ""};
  if (!Count(w, 2, 2) || !Id(w[1], name.bankId)) return false;
  if (w[1].size() > 255) return Fail("a bank name has at most 255 characters");
  if (!Once(m_bankNames, name.bankId, "bank name \"" + w[1] + "\"")) return false;
  m_bank.names.push_back(name);
  Uses(BankChunkKind::Names);
  return true;
}

bool BankTextParser::Chunk(const std::vector<std::string>& w) {
  if (!Count(w, 2, kNoMost) || !Tag(w[1])) return false;
  BankRawChunk raw;
  raw.tag = BankTagOf(w[1]);
  if (!Hex(w, 2, raw.payload)) return false;
  m_bank.rawChunks.push_back(raw);
  m_bank.order.push_back(BankChunkRef{BankChunkKind::Raw, m_bank.rawChunks.size() - 1});
  return true;
}

BankEnvironmentCurve* BankTextParser::Curve(const std::string& group, const std::string& curve) {
  uint32_t g = 0, c = 0;
  if (!Number(group, g) || !Number(curve, c)) return nullptr;
  if (g > 1 || c > 2) {
    Fail("environment curves are groups 0-1, curves 0-2");
    return nullptr;
  }
  Uses(BankChunkKind::Environment);
  return &m_bank.environment.curves[g * 3 + c];
}

bool BankTextParser::Fault(const std::vector<std::string>& w) {
  const std::string& op = w[0];
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
  return Count(w, 2, 2) && Number(w[1], m_bank.cut);  // cut <bytes off the end>
}


}  // namespace Tools
