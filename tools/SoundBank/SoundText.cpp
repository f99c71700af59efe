// The bank text's sounds (HIRC type 2) of a tone or a source plug-in, motion sources of a tone, and the
// paths sounds and containers move along.
#include <set>
#include <string>
#include <vector>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

// sound <name> <tone or source plug-in> <output bus> [node word...]: written once the bank's media and
// paths are known.
bool BankTextParser::Sound(const std::vector<std::string>& w) {
  if (!Count(w, 4, kNoMost)) return false;
  PendingSound sound;
  sound.tone = w[2];
  sound.line = m_line;
  if (!Id(w[1], sound.id) || !Id(w[3], sound.params.outputBusId)) return false;
  NodeWords words(*this, NodeKind::Sound, sound.params, &sound.path);
  if (!words.Read(w, 4, nullptr, words.Refused()) || !AddPending(kBankSoundType, w[1], sound.id, sound.object))
    return false;
  m_sounds.push_back(std::move(sound));
  return true;
}

// motionsource <name> <tone> [volume <dB>]: the tone drives the motion devices through the default
// motion bus (a bank with the motion flag would name one per node).
bool BankTextParser::MotionSource(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  PendingSound source;
  source.tone = w[2];
  source.line = m_line;
  source.motion = true;
  if (!Id(w[1], source.id)) return false;
  std::set<std::string> given;
  for (size_t i = 3; i < w.size(); ++i) {
    BankMotionSource& values = source.motionValues;
    uint32_t first = 0, second = 0;
    if ((w[i] == "volume" || w[i] == "device" || w[i] == "start") && !given.insert(w[i]).second)
      return Fail("\"" + w[i] + "\" is given twice");
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

bool BankTextParser::Path(const std::vector<std::string>& w) {
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
bool BankTextParser::UsePath(const std::string& name, BankNodeParams& params) {
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
bool BankTextParser::FinishSounds() {
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
  return true;
}

}  // namespace Tools
