// The music directives of the bank descriptions: tracks of tones, segments, playlists, switches on a
// state group and the events that play them, written through the music writer.
#include "tools/SoundBank/MusicText.h"

#include <algorithm>

#include "tools/ContentWriters/Bytes.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/MusicWriter.h"

namespace Tools {

namespace {
constexpr uint8_t kActionType = 3;
constexpr uint16_t kPlayAction = 0x0403;
constexpr uint32_t kPcmCodec = 0x00010000;

// "key:value", or false.
bool Split(const std::string& word, const std::string& key, std::string& value) {
  if (word.compare(0, key.size() + 1, key + ":") != 0) return false;
  value = word.substr(key.size() + 1);
  return true;
}
}  // namespace

bool MusicText::Takes(const std::string& directive) {
  return directive == "musictrack" || directive == "segment" || directive == "playlist" ||
         directive == "musicswitch" || directive == "musicevent";
}

bool MusicText::Line(const std::vector<std::string>& w) {
  const std::string& op = w[0];
  if (op == "musictrack") return Track(w);
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
  if (w.size() != 3) return m_host.Fail("\"musictrack\" takes a name and a tone");
  BankMusicTrack track;
  double ms = 0.0;
  uint32_t bytes = 0, toneId = 0;
  if (!m_host.Id(w[1], track.id) || !m_host.ToneMedia(w[2], ms, bytes) || !m_host.Id(w[2], toneId)) return false;
  track.sources = {{kPcmCodec, 0, toneId, bytes, 0, {}}};
  track.clips = {{0, toneId, 0.0, 0.0, 0.0, ms}};
  if (!m_host.AddObject(kBankMusicTrackType, w[1], MusicTrackPayload(track, false))) return false;
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
  segment.node.tempo = tempo;
  segment.node.beatsPerBar = uint8_t(beats);
  segment.node.beatValue = uint8_t(value);
  segment.node.overridesMeter = 1;
  segment.markers.push_back({1, entry, ""});
  for (size_t i = 8; i < w.size(); ++i) {
    std::string rest;
    if (Split(w[i], "track", rest)) {
      uint32_t trackId = 0;
      if (!Earlier(rest, {kBankMusicTrackType}, trackId)) return false;
      segment.node.children.push_back(trackId);
    } else if (Split(w[i], "bus", rest)) {
      if (!m_host.Id(rest, segment.node.params.outputBusId)) return false;
    } else if (Split(w[i], "cue", rest) && rest.find('@') != std::string::npos) {
      BankMusicMarker cue;
      cue.name = rest.substr(0, rest.find('@'));
      if (!m_host.Id(cue.name, cue.id) || !Ms(rest.substr(rest.find('@') + 1), cue.positionMs)) return false;
      segment.markers.push_back(cue);
    } else {
      return m_host.Fail("\"" + w[i] + "\" is neither track:<name>, bus:<bus> nor cue:<name>@<ms>");
    }
  }
  segment.markers.push_back({2, exit, ""});
  for (size_t i = 1; i < segment.markers.size(); ++i)
    if (segment.markers[i].positionMs < segment.markers[i - 1].positionMs || exit > segment.durationMs)
      return m_host.Fail("segment \"" + w[1] + "\": its cues run from the entry to the exit, inside the segment");
  std::sort(segment.node.children.begin(), segment.node.children.end());
  if (!m_host.AddObject(kBankMusicSegmentType, w[1], MusicSegmentPayload(segment, false))) return false;
  m_kinds[w[1]] = kBankMusicSegmentType;
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
  root.childCount = uint32_t(w.size() - 3);
  playlist.records.push_back(root);
  for (size_t i = 3; i < w.size(); ++i) {
    BankPlaylistRecord item;
    if (!Earlier(w[i], {kBankMusicSegmentType}, item.segmentId)) return false;
    item.itemId = uint32_t(i - 2);
    playlist.records.push_back(item);
    if (std::find(playlist.node.children.begin(), playlist.node.children.end(), item.segmentId) ==
        playlist.node.children.end())
      playlist.node.children.push_back(item.segmentId);
  }
  if (!m_host.AddObject(kBankMusicPlaylistType, w[1], MusicPlaylistPayload(playlist, false))) return false;
  m_kinds[w[1]] = kBankMusicPlaylistType;
  return true;
}

bool MusicText::Switch(const std::vector<std::string>& w) {
  if (w.size() < 4) return m_host.Fail("\"musicswitch\" takes a name, a state group and paths");
  BankMusicSwitch container;
  uint32_t group = 0;
  if (!m_host.Id(w[1], container.id) || !m_host.Id(w[2], group)) return false;
  container.groupIds = {group};
  container.groupTypes = {1};
  std::vector<std::pair<uint32_t, uint32_t>> paths;  // {state, child}
  for (size_t i = 3; i < w.size(); ++i) {
    const size_t colon = w[i].find(':');
    if (colon == std::string::npos) return m_host.Fail("\"" + w[i] + "\" is not <state>:<node>");
    uint32_t state = 0, child = 0;
    const std::string stateName = w[i].substr(0, colon);
    if ((stateName != "default" && !m_host.Id(stateName, state)) ||
        !Earlier(w[i].substr(colon + 1), {kBankMusicSegmentType, kBankMusicPlaylistType, kBankMusicSwitchType}, child))
      return false;
    for (const auto& path : paths)
      if (path.first == state) return m_host.Fail("state \"" + stateName + "\" has two paths");
    paths.push_back({state, child});
    if (std::find(container.node.children.begin(), container.node.children.end(), child) ==
        container.node.children.end())
      container.node.children.push_back(child);
  }
  // The tree: a root, then its leaves by key, the default (0) first.
  std::sort(paths.begin(), paths.end());
  BankSwitchTreeNode root;
  root.leaf = false;
  root.firstChild = 1;
  root.childCount = uint16_t(paths.size());
  container.tree.push_back(root);
  for (const auto& [state, child] : paths) {
    BankSwitchTreeNode leaf;
    leaf.key = state;
    leaf.childId = child;
    container.tree.push_back(leaf);
  }
  if (!m_host.AddObject(kBankMusicSwitchType, w[1], MusicSwitchPayload(container, false))) return false;
  m_kinds[w[1]] = kBankMusicSwitchType;
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
