// The music directives of the bank descriptions: tracks of tones, segments, playlists, switches on a
// state group and the events that play them, written through the music writer.
#include "tools/SoundBank/MusicText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "MusicEngine/MusicPlaylist.h"
#include "MusicEngine/MusicTrack.h"
#include "MusicEngine/MusicTransitionRule.h"
#include "MusicEngine/MusicTypes.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "tools/ContentWriters/Bytes.h"
#include "tools/SoundBank/MidiClipWriter.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/DialogueWriter.h"
#include "tools/SoundBank/MusicWriter.h"

namespace Tools {

namespace {
constexpr uint8_t kActionType = 3;
// The engine refuses a playlist whose groups nest deeper, its root the first level.
constexpr uint32_t kMaxPlaylistDepth = SN::CSnMusicPlaylistGroup::kMaxDepth;
constexpr uint16_t kPlayAction = 0x0403;
constexpr uint32_t kPcmCodec = 0x00010000;
// Source type 16 in bits 16 to 23: the track plays it as MIDI.
constexpr uint32_t kMidiCodec = 0x00100000;
// The node a track's MIDI plays, a track's or a music node's own when its flags say so (bit 2 as banks
// store them), a bus with bit 3.
constexpr uint8_t kMidiTargetProperty = 56;
constexpr uint8_t kOwnMidiTarget = 0x04;
constexpr uint8_t kMidiTargetIsBus = 0x08;
// 0: the clip's events go round for as long as the clip lasts.
constexpr uint8_t kLoopCountProperty = 58;
// The curve of a rule's fades: a straight line.
constexpr uint32_t kLinearFade = 4;
// A play's sub-track index is 16 bits.
constexpr uint32_t kMaxSubTracks = 0x10000;

// The word split at ':'.
std::vector<std::string> Fields(const std::string& word) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t colon; (colon = word.find(':', from)) != std::string::npos; from = colon + 1)
    fields.push_back(word.substr(from, colon - from));
  fields.push_back(word.substr(from));
  return fields;
}

// Pairs of hexadecimal digits, or false.
bool Hex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const std::string pair = text.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    bytes.push_back(uint8_t(std::stoul(pair, nullptr, 16)));
  }
  return true;
}

// "key:value", or false.
bool Split(const std::string& word, const std::string& key, std::string& value) {
  if (word.compare(0, key.size() + 1, key + ":") != 0) return false;
  value = word.substr(key.size() + 1);
  return true;
}
}  // namespace

bool MusicText::Takes(const std::string& directive) {
  return directive == "musictrack" || directive == "miditrack" || directive == "segment" || directive == "playlist" ||
         directive == "musicswitch" || directive == "musicevent";
}

bool MusicText::Line(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  if (op == "musictrack") return Track(w);
  if (op == "miditrack") return MidiTrack(w);
  if (op == "segment") return Segment(w);
  if (op == "playlist") return Playlist(w);
  if (op == "musicswitch") return Switch(w);
  return Event(w);
}

bool MusicText::Earlier(const std::string& name, const std::set<uint8_t>& kinds, uint32_t& id) {
  const auto found = m_kinds.find(name);
  if (found == m_kinds.end() || !kinds.count(found->second))
    return m_host.Fail("\"" + name + "\" is not a music object of the right kind described on an earlier line");
  return m_host.Id(name, id);
}

bool MusicText::Ms(const std::string& word, double& ms) {
  float value = 0.0f;
  if (!m_host.Real(word, value)) return false;
  if (value < 0.0f) return m_host.Fail("\"" + word + "\" is not a time");
  ms = value;
  return true;
}

bool MusicText::Track(const std::vector<std::string>& w) {
  if (w.size() < 3) return m_host.Fail("\"musictrack\" takes a name and a tone");
  BankMusicTrack track;
  double ms = 0.0, ahead = 0.0;
  uint32_t toneId = 0, subTracks = 0;
  if (!m_host.Id(w[1], track.id) || !m_host.Id(w[2], toneId) || !Source(w[2], track, ms)) return false;
  bool fadeGiven = false, syncGiven = false;
  // Every option but the clips and their automation once; the sub-track a play takes is picked one way.
  std::set<std::string> given;
  std::string picked;
  auto once = [&](const std::string& option) {
    return given.insert(option).second || m_host.Fail("\"" + option + "\" is given twice");
  };
  auto picks = [&](const std::string& way) {
    if (!picked.empty() && picked != way)
      return m_host.Fail("a track picks its sub-track one way: \"" + picked + "\" and \"" + way + "\" are both given");
    picked = way;
    return once(way);
  };
  NodeWords words(m_host, NodeKind::MusicTrack, track.params);
  auto options = [&](const std::vector<std::string>& w, size_t& i, bool& taken) {
    std::string rest;
    taken = true;
    if (Split(w[i], "clip", rest)) return Clip(w[i], rest, track);
    if (Split(w[i], "automation", rest)) return Automation(w[i], rest, track);
    if (Split(w[i], "subtracks", rest)) {
      if (!once("subtracks:") || !m_host.Number(rest, subTracks)) return false;
      return (subTracks && subTracks <= kMaxSubTracks) || m_host.Fail("a track has 1 to 65536 sub-tracks");
    }
    if (w[i] == "random" || w[i] == "sequence") {
      track.type = w[i] == "random" ? SN::SnMusicTrack_Random : SN::SnMusicTrack_Sequence;
      return picks(w[i]);
    }
    if (Split(w[i], "switch", rest) || Split(w[i], "state", rest)) {
      if (!picks(w[i].substr(0, w[i].find(':') + 1))) return false;
      // The group, its default switch or state, then the one each sub-track plays on, sub-track 0 first.
      const std::vector<std::string> f = Fields(rest);
      if (f.size() < 2) return m_host.Fail("\"" + w[i] + "\" is not switch|state:<group>:<default>:<value>...");
      track.type = SN::SnMusicTrack_Switch;
      track.groupType = w[i].compare(0, 6, "state:") == 0 ? 1 : 0;
      if (!m_host.Id(f[0], track.groupId) || !m_host.Id(f[1], track.defaultSwitch)) return false;
      for (size_t k = 2; k < f.size(); ++k)
        if (!m_host.Id(f[k], track.switchIds.emplace_back())) return false;
      return true;
    }
    if (Split(w[i], "switchfade", rest)) {
      fadeGiven = true;
      return once("switchfade:") && SwitchFade(w[i], rest, track);
    }
    if (Split(w[i], "switchsync", rest)) {
      if (!once("switchsync:")) return false;
      const std::vector<std::string> f = Fields(rest);
      if (f.size() > 2) return m_host.Fail("\"" + w[i] + "\" is not switchsync:<sync 0-7>[:<cue>]");
      if (!m_host.Number(f[0], track.transition[3]) || (f.size() == 2 && !m_host.Id(f[1], track.transition[4])))
        return false;
      if (track.transition[3] >= SN::SnMusicSync_Count) return m_host.Fail("a sync type is 0 to 7");
      syncGiven = true;
      return true;
    }
    taken = w[i] == "lookahead";
    if (!taken) return true;
    if (!once(w[i])) return false;
    return i + 1 < w.size() ? Ms(w[++i], ahead) : m_host.Fail("\"lookahead\" takes 1 value");
  };
  if (!words.Read(w, 3, options, words.Refused())) return false;
  if (ahead > 0xFFFFFFFFu) return m_host.Fail("a look-ahead fits in 32 bits of milliseconds");
  track.lookAheadMs = uint32_t(ahead);
  if ((fadeGiven || syncGiven) && track.type != SN::SnMusicTrack_Switch)
    return m_host.Fail("switchfade: and switchsync: are a switch track's: give switch: or state:");
  // The tone from 0 on sub-track 0 unless the clips are given.
  if (track.clips.empty()) track.clips = {{0, toneId, 0.0, 0.0, 0.0, ms}};
  for (const BankMusicAutomation& automation : track.automation)
    if (automation.clipIndex >= track.clips.size())
      return m_host.Fail("automation of clip " + std::to_string(automation.clipIndex) + ": the track has " +
                         std::to_string(track.clips.size()) + " clips");
  uint32_t highest = 0;
  for (const BankMusicClip& clip : track.clips) highest = std::max(highest, clip.subTrack);
  track.subTrackCount = subTracks ? subTracks : highest + 1;
  if (highest >= track.subTrackCount || track.switchIds.size() > track.subTrackCount)
    return m_host.Fail("track \"" + w[1] + "\" has " + std::to_string(track.subTrackCount) +
                       " sub-tracks: its clips and switches name no other");
  if (!m_host.AddNode(kBankMusicTrackType, w[1], NodeKind::MusicTrack, track.params.secondaryOutputId,
                      [track](bool motionFlag) { return MusicTrackPayload(track, motionFlag); }))
    return false;
  m_kinds[w[1]] = kBankMusicTrackType;
  m_lookAheads[w[1]] = ahead;
  return true;
}

bool MusicText::Source(const std::string& tone, BankMusicTrack& track, double& ms) {
  uint32_t bytes = 0, toneId = 0;
  uint8_t stream = 0;
  if (!m_host.ToneMedia(tone, ms, bytes, stream) || !m_host.Id(tone, toneId)) return false;
  for (const BankMusicSource& source : track.sources)
    if (source.sourceId == toneId) return true;
  // A streamed source names its file where bank media give their size; bit 1 of its flags: prefetched.
  track.sources.push_back(
      {kPcmCodec, uint8_t(stream ? 1 : 0), toneId, stream ? toneId : bytes, uint8_t(stream == 2 ? 2 : 0), {}});
  return true;
}

bool MusicText::Signed(const std::string& word, int64_t& value) {
  const bool negative = word.size() > 1 && word[0] == '-';
  uint32_t magnitude = 0;
  if (!m_host.Number(negative ? word.substr(1) : word, magnitude)) return false;
  value = negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

bool MusicText::Clip(const std::string& word, const std::string& rest, BankMusicTrack& track) {
  const std::vector<std::string> f = Fields(rest);
  if (f.size() != 5)
    return m_host.Fail("\"" + word + "\" is not clip:<sub-track>:<tone>:<play-at ms>:<begin trim ms>:<end trim ms>");
  BankMusicClip clip;
  float playAt = 0.0f, begin = 0.0f, end = 0.0f;
  if (!m_host.Number(f[0], clip.subTrack) || !m_host.Id(f[1], clip.sourceId) ||
      !Source(f[1], track, clip.sourceDurationMs) || !m_host.Real(f[2], playAt) || !m_host.Real(f[3], begin) ||
      !m_host.Real(f[4], end))
    return false;
  if (clip.subTrack >= kMaxSubTracks) return m_host.Fail("a track has 1 to 65536 sub-tracks");
  clip.playAtMs = playAt;
  clip.beginTrimMs = begin;
  clip.endTrimMs = end;
  // The engine keeps the clip's times in samples; one that does not last plays nothing.
  const double length = clip.endTrimMs + clip.sourceDurationMs - clip.beginTrimMs;
  int32_t samples = 0;
  if (length <= 0.0) return m_host.Fail("\"" + word + "\": its trims leave nothing of the clip");
  for (double ms : {clip.playAtMs + clip.beginTrimMs, length, clip.beginTrimMs})
    if (!SN::MusicMsToSamples(ms, SN::kMusicHighestSampleRate, samples))
      return m_host.Fail("\"" + word + "\": its times are beyond the engine's sample counts");
  track.clips.push_back(clip);
  return true;
}

bool MusicText::Automation(const std::string& word, const std::string& rest, BankMusicTrack& track) {
  static const char* const kTypes[] = {"volume", "lowpass", "highpass", "fadein", "fadeout"};
  // Volume as an offset of the clip's gain, the filters as offsets of the voice's, fades as gains.
  static const float kLowest[] = {-1.0f, -100.0f, -100.0f, 0.0f, 0.0f};
  static const float kHighest[] = {1.0f, 100.0f, 100.0f, 1.0f, 1.0f};
  const std::vector<std::string> f = Fields(rest);
  const std::string form = "\"" + word +
                           "\" is not automation:<clip>:<volume|lowpass|highpass|fadein|fadeout>:"
                           "<seconds>@<value>[@<shape 0-9>]...";
  if (f.size() < 3) return m_host.Fail(form);
  BankMusicAutomation automation;
  if (!m_host.Number(f[0], automation.clipIndex)) return false;
  const auto type = std::find(std::begin(kTypes), std::end(kTypes), f[1]);
  if (type == std::end(kTypes)) return m_host.Fail(form);
  automation.type = uint32_t(type - std::begin(kTypes));
  for (size_t k = 2; k < f.size(); ++k) {
    std::vector<std::string> p;
    for (size_t from = 0, at; from <= f[k].size(); from = at + 1) {
      at = std::min(f[k].find('@', from), f[k].size());
      p.push_back(f[k].substr(from, at - from));
    }
    BankAutomationPoint point;
    point.interpolation = kLinearFade;
    if (p.size() < 2 || p.size() > 3) return m_host.Fail(form);
    if (!m_host.Real(p[0], point.seconds) || !m_host.Real(p[1], point.value) ||
        (p.size() == 3 && !m_host.Number(p[2], point.interpolation)))
      return false;
    // Times in samples at the highest rate within a signed 32-bit count, in order from the clip's start.
    if (point.seconds < 0.0f || double(point.seconds) * SN::kMusicHighestSampleRate >= 2147483648.0 ||
        (!automation.points.empty() && point.seconds < automation.points.back().seconds))
      return m_host.Fail("\"" + f[k] + "\": automation points go on in time from 0 to 44739 seconds");
    if (point.value < kLowest[automation.type] || point.value > kHighest[automation.type]) {
      char text[160];
      snprintf(text, sizeof text, "\"%s\": %s automation is %g to %g", f[k].c_str(), f[1].c_str(),
               double(kLowest[automation.type]), double(kHighest[automation.type]));
      return m_host.Fail(text);
    }
    if (point.interpolation > SN::SnCurve_Constant) return m_host.Fail("a curve's shape is 0 to 9");
    automation.points.push_back(point);
  }
  track.automation.push_back(automation);
  return true;
}

bool MusicText::Fade(const std::vector<std::string>& f, size_t at, int64_t mostMs, BankMusicFade& fade) {
  // Offsets in samples at the highest rate within a signed 32-bit count.
  constexpr int64_t kMostOffsetMs = INT32_MAX / (SN::kMusicHighestSampleRate / 1000);
  int64_t time = 0, curve = 0, offset = 0;
  if (!Signed(f[at], time) || !Signed(f[at + 1], curve) || !Signed(f[at + 2], offset)) return false;
  if (time < 0 || time > mostMs) return m_host.Fail("a fade is 0 to " + std::to_string(mostMs) + " ms");
  if (curve < 0 || curve > SN::SnCurve_Constant) return m_host.Fail("a curve's shape is 0 to 9");
  if (offset < -kMostOffsetMs || offset > kMostOffsetMs)
    return m_host.Fail("a fade's offset is -" + std::to_string(kMostOffsetMs) + " to " + std::to_string(kMostOffsetMs) +
                       " ms");
  fade = {int32_t(time), uint32_t(curve), int32_t(offset)};
  return true;
}

bool MusicText::SwitchFade(const std::string& word, const std::string& rest, BankMusicTrack& track) {
  // The times too in samples at the highest rate within a signed 32-bit count.
  constexpr int64_t kMostMs = INT32_MAX / (SN::kMusicHighestSampleRate / 1000);
  const std::vector<std::string> f = Fields(rest);
  if (f.size() != 6)
    return m_host.Fail("\"" + word + "\" is not switchfade:<out ms>:<out curve>:<out offset ms>:<in ms>:<in curve>:"
                       "<in offset ms>");
  BankMusicFade out, in;
  if (!Fade(f, 0, kMostMs, out) || !Fade(f, 3, kMostMs, in)) return false;
  const uint32_t transition[] = {uint32_t(out.timeMs), out.curve, uint32_t(out.offsetMs), track.transition[3],
                                 track.transition[4], uint32_t(in.timeMs),  in.curve,     uint32_t(in.offsetMs)};
  std::copy(std::begin(transition), std::end(transition), track.transition);
  return true;
}

bool MusicText::MidiTrack(const std::vector<std::string>& w) {
  if (w.size() < 6) return m_host.Fail("\"miditrack\" takes a name, ticks per quarter, tempo, length and events");
  BankMusicTrack track;
  MidiClipMedia clip;
  uint32_t ticks = 0;
  double ms = 0.0;
  if (!m_host.Id(w[1], track.id) || !m_host.Number(w[2], ticks) || !m_host.Real(w[3], clip.tempo) || !Ms(w[4], ms))
    return false;
  if (ticks == 0 || ticks > 0xFFFF || clip.tempo <= 0.0f || ms <= 0.0)
    return m_host.Fail("a MIDI clip has 1 to 65535 ticks per quarter, a tempo above 0 and a length");
  clip.ticksPerQuarter = uint16_t(ticks);
  for (size_t i = 5; i < w.size(); ++i) {
    if (w[i] == "norunning") {
      clip.runningStatus = false;
      continue;
    }
    if (w[i] == "loop") {
      for (const BankNodeProperty& given : track.params.properties)
        if (given.id == kLoopCountProperty) return m_host.Fail("\"loop\" is given twice");
      track.params.properties.push_back(BankNodeProperty::Int(kLoopCountProperty, 0));
      continue;
    }
    std::string aim;
    const bool toBus = Split(w[i], "targetbus", aim);
    if (toBus || Split(w[i], "target", aim)) {
      uint32_t node = 0;
      if (track.flags & kOwnMidiTarget) return m_host.Fail("the MIDI target is given twice");
      if (!m_host.Id(aim, node)) return false;
      track.flags |= uint8_t(kOwnMidiTarget | (toBus ? kMidiTargetIsBus : 0));
      track.params.properties.push_back(BankNodeProperty::Int(kMidiTargetProperty, int32_t(node)));
      continue;
    }
    const std::vector<std::string> f = Fields(w[i]);
    // The numbers of the event: every field after the kind but a trailing hexadecimal one.
    const bool hexTail = (f[0] == "sysex" && f.size() == 3) || (f[0] == "meta" && f.size() == 4);
    std::vector<uint32_t> n;
    for (size_t k = 1; k + (hexTail ? 1 : 0) < f.size(); ++k)
      if (!m_host.Number(f[k], n.emplace_back())) return false;
    std::vector<uint8_t> data;
    if (hexTail && !Hex(f.back(), data)) return m_host.Fail("\"" + f.back() + "\" is not hexadecimal bytes");
    // Deltas and lengths fit a four-byte quantity, channels are 0 to 15, data bytes 0 to 127.
    auto valid = [&](size_t count, bool channel) {
      if (n.size() != count || n[0] > 0x0FFFFFFF || (channel && n[1] > 15)) return false;
      for (size_t k = channel ? 2 : 1; k < std::min<size_t>(count, 4); ++k)
        if (n[k] > 127) return false;
      return count < 5 || n[4] <= 0x0FFFFFFF;
    };
    if ((f[0] == "on" || f[0] == "off" || f[0] == "cc") && valid(4, true)) {
      const uint8_t status = f[0] == "on" ? 0x90 : f[0] == "off" ? 0x80 : 0xB0;
      clip.events.push_back({n[0], {uint8_t(status | n[1]), uint8_t(n[2]), uint8_t(n[3])}});
    } else if (f[0] == "note" && valid(5, true)) {
      AddMidiNote(clip, n[0], uint8_t(n[1]), uint8_t(n[2]), uint8_t(n[3]), n[4]);
    } else if (f[0] == "sysex" && hexTail && valid(1, false)) {
      clip.events.push_back(MidiSysEx(n[0], data));
    } else if (f[0] == "meta" && (n.size() == 2 && n[0] <= 0x0FFFFFFF && n[1] <= 0xFF)) {
      clip.events.push_back(MidiMeta(n[0], uint8_t(n[1]), data));
    } else {
      return m_host.Fail("\"" + w[i] + "\" is no MIDI event of a clip");
    }
  }
  uint32_t mediaId = 0;
  std::vector<uint8_t> media = WriteMidiClip(clip);
  const uint32_t size = uint32_t(media.size());
  if (!m_host.AddMedia(w[1], std::move(media), mediaId)) return false;
  track.sources = {{kMidiCodec, 0, mediaId, size, 0, {}}};
  track.clips = {{0, mediaId, 0.0, 0.0, 0.0, ms}};
  if (!m_host.AddNode(kBankMusicTrackType, w[1], NodeKind::MusicTrack, 0,
                      [track](bool motionFlag) { return MusicTrackPayload(track, motionFlag); }))
    return false;
  m_kinds[w[1]] = kBankMusicTrackType;
  return true;
}

bool MusicText::Segment(const std::vector<std::string>& w) {
  if (w.size() < 8) return m_host.Fail("\"segment\" takes a name, tempo, time signature, length, entry and exit");
  BankMusicSegment segment;
  float tempo = 0.0f;
  uint32_t beats = 0, value = 0;
  double entry = 0.0, exit = 0.0;
  if (!m_host.Id(w[1], segment.id) || !m_host.Real(w[2], tempo) || !m_host.Number(w[3], beats) ||
      !m_host.Number(w[4], value) || !Ms(w[5], segment.durationMs) || !Ms(w[6], entry) || !Ms(w[7], exit))
    return false;
  if (tempo <= 0.0f || !beats || beats > 255 || !value || value > 255)
    return m_host.Fail("a segment's tempo is above 0 and its time signature two numbers of 1 to 255");
  uint32_t beatSamples = 0, barSamples = 0;
  if (!SN::MusicMeterSamples(tempo, uint8_t(beats), uint8_t(value), SN::kMusicHighestSampleRate, beatSamples,
                             barSamples))
    return m_host.Fail("segment \"" + w[1] + "\": a bar at " + w[2] +
                       " bpm is longer than the engine counts in samples");
  segment.node.tempo = tempo;
  segment.node.beatsPerBar = uint8_t(beats);
  segment.node.beatValue = uint8_t(value);
  segment.node.overridesMeter = 1;
  segment.markers.push_back({1, entry, ""});
  NodeWords words(m_host, NodeKind::MusicSegment, segment.node.params);
  auto options = [&](const std::vector<std::string>& w, size_t& i, bool& taken) {
    std::string rest;
    taken = true;
    if (Split(w[i], "track", rest)) {
      uint32_t trackId = 0;
      if (!Earlier(rest, {kBankMusicTrackType}, trackId)) return false;
      // The engine starts a segment one look-ahead before it: one longer than the segment would hold
      // it back past its own end.
      const auto ahead = m_lookAheads.find(rest);
      if (ahead != m_lookAheads.end() && ahead->second > segment.durationMs) {
        char text[512];
        snprintf(text, sizeof text, "segment \"%s\": track \"%s\" looks ahead %.10g ms, longer than the segment's %.10g ms",
                 w[1].c_str(), rest.c_str(), ahead->second, segment.durationMs);
        return m_host.Fail(text);
      }
      segment.node.children.push_back(trackId);
      return true;
    }
    if (Split(w[i], "bus", rest)) return m_host.Id(rest, segment.node.params.outputBusId);
    if (!NodeOption(w[i], segment.node, true, taken)) return false;
    if (taken) return true;
    taken = Split(w[i], "cue", rest) && rest.find('@') != std::string::npos;
    if (!taken) return true;
    BankMusicMarker cue;
    cue.name = rest.substr(0, rest.find('@'));
    if (!m_host.Id(cue.name, cue.id) || !Ms(rest.substr(rest.find('@') + 1), cue.positionMs)) return false;
    segment.markers.push_back(cue);
    return true;
  };
  auto refused = [&](const std::vector<std::string>& w, size_t& i) {
    return m_host.Fail("\"" + w[i] + "\" is neither track:<name>, bus:<bus>, cue:<name>@<ms>, stinger:, meter: nor "
                       "grid:");
  };
  if (!words.Read(w, 8, options, refused)) return false;
  segment.markers.push_back({2, exit, ""});
  for (size_t i = 1; i < segment.markers.size(); ++i)
    if (segment.markers[i].positionMs < segment.markers[i - 1].positionMs || exit > segment.durationMs)
      return m_host.Fail("segment \"" + w[1] + "\": its cues run from the entry to the exit, inside the segment");
  std::sort(segment.node.children.begin(), segment.node.children.end());
  if (!m_host.AddNode(kBankMusicSegmentType, w[1], NodeKind::MusicSegment, segment.node.params.secondaryOutputId,
                      [segment](bool motionFlag) { return MusicSegmentPayload(segment, motionFlag); }))
    return false;
  m_kinds[w[1]] = kBankMusicSegmentType;
  return true;
}

bool MusicText::NodeOption(const std::string& word, BankMusicNode& node, bool meterGiven, bool& taken) {
  std::string rest;
  taken = true;
  if (Split(word, "stinger", rest)) {
    // A trigger's segment played over the node at the sync point, a user cue's name for sync 5.
    const std::vector<std::string> f = Fields(rest);
    BankMusicStinger stinger;
    const std::string form = "\"" + word + "\" is not stinger:<trigger>:<segment>:<sync 0-7>[:<cue>]";
    if (f.size() < 3 || f.size() > 4) return m_host.Fail(form);
    if (!m_host.Id(f[0], stinger.triggerId) || !Earlier(f[1], {kBankMusicSegmentType}, stinger.segmentId) ||
        !m_host.Number(f[2], stinger.syncType))
      return false;
    if (stinger.syncType >= SN::SnMusicSync_Count) return m_host.Fail("a sync type is 0 to 7");
    if (f.size() == 4 && !m_host.Id(f[3], stinger.cueFilter)) return false;
    for (const BankMusicStinger& given : node.stingers)
      if (given.triggerId == stinger.triggerId) return m_host.Fail("trigger \"" + f[0] + "\" has two stingers");
    node.stingers.push_back(stinger);
    return true;
  }
  const bool toBus = Split(word, "miditargetbus", rest);
  if (toBus || Split(word, "miditarget", rest)) {
    // The node or bus the MIDI of the tracks below plays on, the node's own over its parents'.
    uint32_t target = 0;
    if (node.flags & kOwnMidiTarget) return m_host.Fail("the MIDI target is given twice");
    if (!m_host.Id(rest, target)) return false;
    node.flags |= uint8_t(kOwnMidiTarget | (toBus ? kMidiTargetIsBus : 0));
    node.params.properties.push_back(BankNodeProperty::Int(kMidiTargetProperty, int32_t(target)));
    return true;
  }
  if (Split(word, "meter", rest)) {
    // The node's own tempo and time signature, over its parent's.
    const std::vector<std::string> f = Fields(rest);
    uint32_t beats = 0, value = 0, beatSamples = 0, barSamples = 0;
    if (f.size() != 3) return m_host.Fail("\"" + word + "\" is not meter:<bpm>:<beats per bar>:<beat value>");
    if (!m_host.Real(f[0], node.tempo) || !m_host.Number(f[1], beats) || !m_host.Number(f[2], value)) return false;
    if (node.tempo <= 0.0f || !beats || beats > 255 || !value || value > 255 ||
        !SN::MusicMeterSamples(node.tempo, uint8_t(beats), uint8_t(value), SN::kMusicHighestSampleRate, beatSamples,
                               barSamples))
      return m_host.Fail("a meter's tempo is above 0, its bar within the engine's counts, and its time signature two "
                         "numbers of 1 to 255");
    node.beatsPerBar = uint8_t(beats);
    node.beatValue = uint8_t(value);
    node.overridesMeter = 1;
    return true;
  }
  if (Split(word, "grid", rest)) {
    // The grid the next-grid sync points fall on, part of the node's own meter.
    const std::vector<std::string> f = Fields(rest);
    if (f.size() != 2) return m_host.Fail("\"" + word + "\" is not grid:<period ms>:<offset ms>");
    if (!Ms(f[0], node.gridPeriodMs) || !Ms(f[1], node.gridOffsetMs)) return false;
    if (!meterGiven && !node.overridesMeter) return m_host.Fail("a grid is part of a meter: give meter: first");
    return true;
  }
  taken = false;
  return true;
}

bool MusicText::GroupOptions(const std::vector<std::string>& w, size_t& at, BankPlaylistRecord& group) {
  for (; at < w.size(); ++at) {
    std::string value;
    uint32_t number = 0;
    if (w[at] == "shuffle") {
      group.shuffle = 1;
    } else if (Split(w[at], "loop", value)) {
      if (!m_host.Number(value, number)) return false;
      if (number > 0xFFFF) return m_host.Fail("a loop count is 0 to 65535");
      group.loopCount = uint16_t(number);
    } else if (Split(w[at], "avoid", value)) {
      if (!m_host.Number(value, number)) return false;
      if (number > 0xFFFF) return m_host.Fail("an avoid-repeat count is 0 to 65535");
      group.avoidRepeatCount = uint16_t(number);
    } else if (Split(w[at], "weight", value)) {
      if (!m_host.Number(value, group.weight)) return false;
    } else if (Split(w[at], "looprange", value)) {
      // Offsets of the loop count drawn at each pass; a played group loops at least once.
      const std::vector<std::string> f = Fields(value);
      int64_t min = 0, max = 0;
      if (f.size() != 2) return m_host.Fail("\"" + w[at] + "\" is not looprange:<min>:<max>");
      if (!Signed(f[0], min) || !Signed(f[1], max)) return false;
      if (min < -32768 || max > 32767 || min > max)
        return m_host.Fail("a loop range is two offsets of -32768 to 32767, the lower first");
      if (!group.loopCount) return m_host.Fail("an endless loop (loop:0) has no loop range");
      group.loopMinOffset = int16_t(min);
      group.loopMaxOffset = int16_t(max);
    } else {
      return true;
    }
  }
  return true;
}

bool MusicText::PlaylistItems(const std::vector<std::string>& w, size_t& at, uint32_t depth,
                              std::vector<BankPlaylistRecord>& records, std::vector<uint32_t>& segments,
                              uint32_t& nextItemId) {
  const size_t group = records.size() - 1;
  for (; at < w.size(); ++at) {
    if (w[at] == "}") {
      if (depth == 1) return m_host.Fail("a \"}\" closes no group");
      break;
    }
    ++records[group].childCount;
    if (w[at] == "{") {
      if (depth + 1 > kMaxPlaylistDepth)
        return m_host.Fail("playlist groups nest at most " + std::to_string(kMaxPlaylistDepth) +
                           " deep, the playlist's own level counted");
      BankPlaylistRecord inner;
      inner.itemId = nextItemId++;
      uint32_t mode = 0;
      if (++at >= w.size() || !m_host.Number(w[at], mode)) return at < w.size() ? false : m_host.Fail("a group takes a mode");
      if (mode > 3) return m_host.Fail("a playlist's mode is 0 to 3");
      inner.playMode = mode;
      ++at;
      if (!GroupOptions(w, at, inner)) return false;
      records.push_back(inner);
      if (!PlaylistItems(w, at, depth + 1, records, segments, nextItemId)) return false;
      if (at >= w.size()) return m_host.Fail("a group \"{\" is not closed");
      continue;
    }
    const std::vector<std::string> f = Fields(w[at]);
    BankPlaylistRecord item;
    item.itemId = nextItemId++;
    uint32_t loops = 1;
    if (f.size() > 3 || !Earlier(f[0], {kBankMusicSegmentType}, item.segmentId) ||
        (f.size() > 1 && !m_host.Number(f[1], item.weight)) || (f.size() > 2 && !m_host.Number(f[2], loops)))
      return f.size() > 3 ? m_host.Fail("\"" + w[at] + "\" is not <segment>[:<weight>[:<loops>]]") : false;
    if (loops > 0xFFFF) return m_host.Fail("a loop count is 0 to 65535");
    item.loopCount = uint16_t(loops);
    records.push_back(item);
    if (std::find(segments.begin(), segments.end(), item.segmentId) == segments.end())
      segments.push_back(item.segmentId);
  }
  return true;
}

bool MusicText::Playlist(const std::vector<std::string>& w) {
  if (w.size() < 4) return m_host.Fail("\"playlist\" takes a name, a mode and segments");
  BankMusicPlaylist playlist;
  uint32_t mode = 0;
  if (!m_host.Id(w[1], playlist.id) || !m_host.Number(w[2], mode)) return false;
  if (mode > 3) return m_host.Fail("a playlist's mode is 0 to 3");
  BankPlaylistRecord root;
  root.playMode = mode;
  root.loopCount = 0;
  size_t at = 3;
  if (!GroupOptions(w, at, root)) return false;
  NodeWords words(m_host, NodeKind::MusicPlaylist, playlist.node.params);
  for (std::string rest; at < w.size(); ++at) {
    bool taken = false;
    if (!NodeOption(w[at], playlist.node, false, taken) || (!taken && !words.Take(w, at, taken))) return false;
    if (taken) continue;
    if (!Split(w[at], "rule", rest)) {
      if (!words.NotOthers(w[at])) return false;
      break;
    }
    BankMusicRule rule;
    if (!Rule(w[at], rest, rule)) return false;
    playlist.rules.push_back(rule);
  }
  if (!words.Whole()) return false;
  playlist.records.push_back(root);
  uint32_t nextItemId = 1;
  if (!PlaylistItems(w, at, 1, playlist.records, playlist.node.children, nextItemId)) return false;
  if (playlist.records.size() == 1) return m_host.Fail("playlist \"" + w[1] + "\" has no items");
  for (const BankMusicRule& rule : playlist.rules)
    if (rule.hasSegment && std::find(playlist.node.children.begin(), playlist.node.children.end(), rule.segmentId) ==
                               playlist.node.children.end())
      playlist.node.children.push_back(rule.segmentId);
  if (!m_host.AddNode(kBankMusicPlaylistType, w[1], NodeKind::MusicPlaylist, playlist.node.params.secondaryOutputId,
                      [playlist](bool motionFlag) { return MusicPlaylistPayload(playlist, motionFlag); }))
    return false;
  m_kinds[w[1]] = kBankMusicPlaylistType;
  m_playlistItems[w[1]] = nextItemId - 1;
  return true;
}

bool MusicText::Rule(const std::string& word, const std::string& rest, BankMusicRule& rule) {
  // The options after the rule's nodes, sync and segment, with the fields each takes.
  static const std::map<std::string, size_t> kOptions = {
      {"fade", 2},      {"fadeout", 3},  {"fadein", 3},   {"sourcecue", 1},   {"destcue", 1},
      {"jump", 1},      {"entry", 1},    {"preentry", 0}, {"postexit", 0},    {"matchcue", 0},
      {"segfadein", 3}, {"segfadeout", 3}, {"segpreentry", 0}, {"segpostexit", 0}};
  constexpr int64_t kMostFadeMs = 60000;
  std::vector<std::string> f = Fields(rest);
  uint32_t from = 0xFFFFFFFFu, to = 0xFFFFFFFFu;
  const std::string form = "\"" + word + "\" is not rule:<from>:<to>:<sync>[:<segment>][:<option>...]";
  const auto options = std::find_if(f.begin(), f.end(), [](const std::string& field) { return kOptions.count(field); });
  const std::vector<std::string> tail(options, f.end());
  f.erase(options, f.end());
  if (f.size() < 3 || f.size() > 4) return m_host.Fail(form);
  const std::set<uint8_t> nodes = {kBankMusicSegmentType, kBankMusicPlaylistType, kBankMusicSwitchType};
  if ((f[0] != "*" && !Earlier(f[0], nodes, from)) || (f[1] != "*" && !Earlier(f[1], nodes, to)) ||
      !m_host.Number(f[2], rule.syncType))
    return false;
  if (rule.syncType >= SN::SnMusicSync_Count) return m_host.Fail("a sync type is 0 to 7");
  if (f.size() == 4) {
    if (!Earlier(f[3], {kBankMusicSegmentType}, rule.segmentId)) return false;
    rule.hasSegment = true;
  }
  for (size_t at = 0; at < tail.size();) {
    const auto option = kOptions.find(tail[at]);
    if (option == kOptions.end() || tail.size() - at - 1 < option->second) return m_host.Fail(form);
    const std::string& name = option->first;
    const size_t value = at + 1;
    at = value + option->second;
    if (name.compare(0, 3, "seg") == 0 && !rule.hasSegment)
      return m_host.Fail("\"" + name + "\" is a transition segment's: give the rule one");
    if (name == "fade") {
      // The old one fades out up to the sync point, the new one in from it, along straight lines.
      uint32_t out = 0, in = 0;
      if (!m_host.Number(tail[value], out) || !m_host.Number(tail[value + 1], in)) return false;
      if (out > kMostFadeMs || in > kMostFadeMs) return m_host.Fail("a rule's fades last at most a minute");
      rule.fadeOut = {int32_t(out), kLinearFade, 0};
      rule.fadeIn = {int32_t(in), kLinearFade, 0};
    } else if (option->second == 3) {
      BankMusicFade& fade = name == "fadeout"  ? rule.fadeOut
                            : name == "fadein" ? rule.fadeIn
                            : name == "segfadein" ? rule.segmentFadeIn
                                                  : rule.segmentFadeOut;
      if (!Fade(tail, value, kMostFadeMs, fade)) return false;
    } else if (name == "sourcecue" || name == "destcue") {
      if (!m_host.Id(tail[value], name == "sourcecue" ? rule.sourceCueFilter : rule.destinationCueFilter)) return false;
    } else if (name == "jump") {
      // An item of the playlist the rule goes to, by its number in the playlist's order.
      const auto items = m_playlistItems.find(f[1]);
      if (!m_host.Number(tail[value], rule.jumpToItem)) return false;
      if (items == m_playlistItems.end()) return m_host.Fail("a rule jumps only into a playlist it goes to");
      if (!rule.jumpToItem || rule.jumpToItem > items->second)
        return m_host.Fail("playlist \"" + f[1] + "\" has items 1 to " + std::to_string(items->second));
    } else if (name == "entry") {
      uint32_t kind = 0;
      if (!m_host.Number(tail[value], kind)) return false;
      if (kind > SN::SnMusicRuleDestination::kRandomCueNotEntry)
        return m_host.Fail("an entry is 0 (entry cue) to 3 (a random cue but the entry)");
      rule.entryKind = uint16_t(kind);
    } else {
      (name == "preentry"      ? rule.playPreEntry
       : name == "postexit"    ? rule.playPostExit
       : name == "matchcue"    ? rule.matchSourceCueName
       : name == "segpreentry" ? rule.segmentPlayPreEntry
                               : rule.segmentPlayPostExit) = 1;
    }
  }
  rule.sources = {from};
  rule.destinations = {to};
  return true;
}

bool MusicText::Switch(const std::vector<std::string>& w) {
  if (w.size() < 4) return m_host.Fail("\"musicswitch\" takes a name, its groups and paths");
  BankMusicSwitch container;
  if (!m_host.Id(w[1], container.id)) return false;
  // The groups, '+' between them: a state group, or a switch group after "switch:".
  for (size_t from = 0, at; from <= w[2].size(); from = at + 1) {
    at = std::min(w[2].find('+', from), w[2].size());
    std::string group = w[2].substr(from, at - from);
    const bool switchGroup = Split(group, "switch", group);
    if (!m_host.Id(group, container.groupIds.emplace_back())) return false;
    container.groupTypes.push_back(switchGroup ? 0 : 1);
  }
  std::vector<BankDialoguePath> paths;
  NodeWords words(m_host, NodeKind::MusicSwitch, container.node.params);
  for (size_t i = 3; i < w.size(); ++i) {
    std::string rest;
    if (Split(w[i], "rule", rest)) {
      BankMusicRule rule;
      if (!Rule(w[i], rest, rule)) return false;
      container.rules.push_back(rule);
      continue;
    }
    if (w[i] == "restart") {
      // A new state starts its path anew, even where the path plays on the node already playing.
      container.continuePlaying = 0;
      continue;
    }
    if (Split(w[i], "treemode", rest)) {
      uint32_t mode = 0;
      if (!m_host.Number(rest, mode)) return false;
      if (mode > 0xFF) return m_host.Fail("a tree mode is 0 to 255");
      container.treeMode = uint8_t(mode);
      continue;
    }
    bool taken = false;
    if (!NodeOption(w[i], container.node, false, taken) || (!taken && !words.Take(w, i, taken))) return false;
    if (taken) continue;
    if (!words.NotOthers(w[i]) || !Path(w[i], container, paths.emplace_back())) return false;
  }
  if (!words.Whole()) return false;
  std::vector<BankTreeNode> tree;
  std::string error;
  if (!ArgumentTree(paths, tree, error)) return m_host.Fail("music switch \"" + w[1] + "\": " + error);
  for (const BankTreeNode& node : tree) {
    BankSwitchTreeNode laid;
    laid.key = node.key;
    laid.leaf = node.leaf != nullptr;
    laid.firstChild = node.firstChild;
    laid.childCount = node.childCount;
    if (node.leaf) {
      laid.childId = node.leaf->audioNode;
      laid.weight = node.leaf->weight;
      laid.probability = node.leaf->probability;
    }
    container.tree.push_back(laid);
  }
  if (!m_host.AddNode(kBankMusicSwitchType, w[1], NodeKind::MusicSwitch, container.node.params.secondaryOutputId,
                      [container](bool motionFlag) { return MusicSwitchPayload(container, motionFlag); }))
    return false;
  m_kinds[w[1]] = kBankMusicSwitchType;
  return true;
}

bool MusicText::Path(const std::string& word, BankMusicSwitch& container, BankDialoguePath& path) {
  // <value>[/<value>...]:<node>[:<weight 0-100>[:<probability 0-100>]], a value for each group.
  const std::vector<std::string> f = Fields(word);
  const size_t groups = container.groupIds.size();
  if (f.size() < 2 || f.size() > 4)
    return m_host.Fail("\"" + word + "\" is not <value>[/<value>...]:<node>[:<weight>[:<probability>]]");
  for (size_t from = 0, at; from <= f[0].size(); from = at + 1) {
    at = std::min(f[0].find('/', from), f[0].size());
    const std::string value = f[0].substr(from, at - from);
    // "default" is the branch of any value the others do not name.
    if (!m_host.Id(value, path.values.emplace_back())) return false;
    if (value == "default") path.values.back() = 0;
  }
  if (path.values.size() != groups)
    return m_host.Fail("\"" + word + "\" names " + std::to_string(path.values.size()) + " values for " +
                       std::to_string(groups) + " groups");
  uint32_t weight = 50, probability = 100;
  if (!Earlier(f[1], {kBankMusicSegmentType, kBankMusicPlaylistType, kBankMusicSwitchType}, path.audioNode) ||
      (f.size() > 2 && !m_host.Number(f[2], weight)) || (f.size() > 3 && !m_host.Number(f[3], probability)))
    return false;
  if (weight > 100 || probability > 100) return m_host.Fail("a path's weight and probability are 0 to 100");
  path.weight = uint16_t(weight);
  path.probability = uint16_t(probability);
  if (std::find(container.node.children.begin(), container.node.children.end(), path.audioNode) ==
      container.node.children.end())
    container.node.children.push_back(path.audioNode);
  return true;
}

bool MusicText::Event(const std::vector<std::string>& w) {
  if (w.size() != 3) return m_host.Fail("\"musicevent\" takes an event and a music object");
  uint32_t eventId = 0, target = 0, actionId = 0;
  const std::string action = w[1] + ".Play";
  if (!m_host.Id(w[1], eventId) || !m_host.Id(action, actionId) ||
      !Earlier(w[2], {kBankMusicSegmentType, kBankMusicPlaylistType, kBankMusicSwitchType}, target))
    return false;
  // A whole play action, as the engine reads one: the bare id, type and target are not enough.
  BankAction play;
  play.id = actionId;
  play.type = kPlayAction;
  play.target = target;
  play.bankId = m_host.BankId();
  return m_host.AddObject(kActionType, action, ActionPayload(play)) &&
         m_host.AddObject(4, w[1], EventPayload(eventId, {actionId}));
}

}  // namespace Tools
