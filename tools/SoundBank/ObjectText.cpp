// The bank text's objects besides nodes: events and their actions, effect and source plug-in
// definitions, raw objects, attenuations and dialogue events.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Plugins/GainEffect.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

// action <name> <type, four hex digits> <target or 0> [option values...]
bool BankTextParser::Action(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  BankAction action;
  if (!Id(w[1], action.id)) return false;
  const std::string& type = w[2];
  if (type.size() != 6 || type.compare(0, 2, "0x") != 0 ||
      type.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
    return Fail("\"" + type + "\" is not an action type such as 0x0403");
  action.type = uint16_t(strtoul(type.c_str() + 2, nullptr, 16));
  if (w[3] != "0" && !Id(w[3], action.target)) return false;
  std::set<std::string> given;  // every option once, but the exceptions
  for (size_t i = 4; i < w.size();) {
    const std::string& option = w[i];
    auto needs = [&](size_t n) {
      if (i + n < w.size()) return true;
      return Fail("action option \"" + option + "\" takes " + std::to_string(n) + " values");
    };
    if (option != "except" && option != "exceptbus" && !given.insert(option).second)
      return Fail("\"" + option + "\" is given twice");
    uint32_t number = 0;
    float real = 0.0f;
    if (option == "bus") {
      action.targetIsBus = 1;
      i += 1;
    } else if (option == "delay") {
      if (!needs(1) || !DelayMs(w[i + 1], number)) return false;
      action.properties.push_back(BankNodeProperty::Int(14, int32_t(number)));
      i += 2;
    } else if (option == "fade") {
      if (!needs(1) || !Number(w[i + 1], number)) return false;
      if (number > 0x7FFFFFFFu) return Fail("\"" + w[i + 1] + "\" is past the 31 bits of an action's time");
      action.properties.push_back(BankNodeProperty::Int(15, int32_t(number)));
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
  // The action's property and range counts are one byte each.
  if (!Fits(action.properties.size(), kByteCount, "an action", "properties") ||
      !Fits(action.ranges.size(), kByteCount, "an action", "property ranges"))
    return false;
  return AddObject(3, w[1], ActionPayload(action));
}

bool BankTextParser::Event(const std::vector<std::string>& w) {
  if (!Count(w, 2, kNoMost)) return false;
  uint32_t eventId = 0;
  std::vector<uint32_t> actions(w.size() - 2);
  if (!Id(w[1], eventId)) return false;
  for (size_t i = 2; i < w.size(); ++i)
    if (!Id(w[i], actions[i - 2])) return false;
  return AddObject(4, w[1], EventPayload(eventId, actions));
}

bool BankTextParser::ObjectLine(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  uint8_t type = 0;
  uint32_t id = 0;
  if (!Byte(w[1], type) || !Id(w[2], id)) return false;
  std::vector<uint8_t> payload(sizeof id);
  memcpy(payload.data(), &id, sizeof id);
  if (!Hex(w, 3, payload)) return false;
  return AddObject(type, w[2], std::move(payload));
}

bool BankTextParser::AttenuationLine(const std::vector<std::string>& w) {
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

bool BankTextParser::AttUse(const std::vector<std::string>& w) {
  PendingAttenuation* pending = nullptr;
  uint32_t use = 0;
  uint8_t curve = 0;
  if (!Count(w, 4, 4) || !(pending = Attenuation(w[1])) || !Small(w[2], 6, "is not a use of the seven (0-6)", use) ||
      !CurveIndex(w[3], curve))
    return false;
  pending->attenuation.curveUses[use] = curve;
  return true;
}

bool BankTextParser::AttRtpc(const std::vector<std::string>& w) {
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
  if (!Points(w, at + 1, curve.points) ||
      !Fits(pending->attenuation.rtpcs.size() + 1, kShortCount, "an attenuation", "curves over game parameters"))
    return false;
  pending->attenuation.rtpcs.push_back(std::move(curve));
  return true;
}

bool BankTextParser::AttCurve(const std::vector<std::string>& w) {
  const std::string& op = w[0];
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

bool BankTextParser::DialogueLine(const std::vector<std::string>& w) {
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

bool BankTextParser::DialoguePath(const std::vector<std::string>& w) {
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

// effect <name> gain <dB> [rtpc ...]: the built-in gain, its level in dB its whole parameter block.
// effect <name> plugin <registry key> [<block hex>] [rtpc <plug-in parameter> [modulator] <driver> <x>:<y>...]:
// a game's plug-in with the bytes of its block and a curve of one of its parameters.
bool BankTextParser::Effect(const std::vector<std::string>& words) {
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
    // The media count is one byte, the base values' two.
    if (!Fits(effect.media.size(), kByteCount, "an effect", "media") ||
        !Fits(effect.properties.size(), kShortCount, "an effect", "base values"))
      return false;
  }
  if (!PluginCurve(w, rtpc, effect)) return false;
  if (!AddObject(perNode ? kBankNodeEffectType : kBankSharedEffectType, w[1], EffectPayload(id, effect))) return false;
  if (perNode) m_nodeEffects.insert(id);
  return true;
}

bool BankTextParser::PluginCurve(const std::vector<std::string>& w, size_t at, BankEffect& effect) {
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
bool BankTextParser::SourcePlugin(const std::vector<std::string>& w) {
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

bool BankTextParser::FinishObjects() {
  for (Dialogue& dialogue : m_dialogues) {
    m_line = dialogue.line;
    std::string error;
    if (!DialogueEventPayload(dialogue.event, m_bank.objects[dialogue.object].payload, error))
      return Fail("dialogue event \"" + dialogue.name + "\": " + error);
  }
  for (PendingAttenuation& pending : m_attenuations)
    m_bank.objects[pending.object].payload = AttenuationPayload(pending.id, pending.attenuation);
  return true;
}

}  // namespace Tools
