// The music directives of a bank description, each written as one object at once, so that every
// object a line names was described on an earlier line:
//
//   musictrack <name> <tone> [lookahead <ms>] [3d <attenuation>] [node setting...] [track option...]
//                                                  a track playing one tone from 0: the bank's media, a
//                                                  prepared tone from memory once prepared, or a loose
//                                                  tone's file streamed (prefetched when the bank holds its
//                                                  first bytes), its reads begun <ms> ahead; placed at its
//                                                  game object as a sound's "3d"; the settings a sound
//                                                  takes of every node kind (priority, maxvoices, ...)
//       track options: clip:<sub-track>:<tone>:<play-at ms>:<begin trim ms>:<end trim ms>   the track's clips
//       instead of its tone from 0, each tone a source once (a negative begin trim or a positive end trim
//       repeats the tone), none of no length; automation:<clip>:<volume|lowpass|highpass|fadein|fadeout>:
//       <seconds>@<value>[@<shape 0-9>]...   a curve over clip <clip> (0 the first given) from its start,
//       volume -1 to 1 (added to a gain of 1), the filters -100 to 100 (added to the voice's), fades 0 to 1;
//       subtracks:<1-65536> (one past the highest clip's by default); random | sequence   the sub-track a
//       play takes; switch|state:<group>:<default>:<value>...   a switch track, the values those of
//       sub-tracks 0, 1, ...; switchfade:<out ms>:<out curve 0-9>:<out offset ms>:<in ms>:<in curve>:<in
//       offset ms> (times 0 to 44739242 ms, offsets as much either way) and switchsync:<sync 0-7>[:<cue>]
//       how it moves between them; every option but clip: and automation: once, and one of random,
//       sequence, switch: and state:
//   miditrack <name> <ticks per quarter> <bpm> <ms> [norunning] [loop] [target:<node>|targetbus:<bus>] <event>...
//                                                  a track playing MIDI clip media of its own from 0,
//                                                  its notes played on <node> (or <bus>), its events going
//                                                  round with loop;
//       events: on|off:<delta>:<channel>:<key>:<velocity>, note:<delta>:<channel>:<key>:<velocity>:<length>,
//       cc:<delta>:<channel>:<controller>:<value>, sysex:<delta>:<hex>, meta:<delta>:<type>[:<hex>];
//       norunning writes every status byte
//   segment <name> <bpm> <beats per bar> <beat value> <ms> <entry ms> <exit ms> [cue:<name>@<ms>]...
//           [track:<track>]... [bus:<bus>] [stinger:...]... [grid:<period ms>:<offset ms>]
//                                                  markers in order; the tracks declared before
//   playlist <name> <mode 0-3> [group option...] [rule:<from>:<to>:<sync 0-7>[:<segment>][:<option>...]...] <item>...
//       items: <segment>[:<weight>[:<loops>]], or a group { <mode> [group option...] <item>... };
//       group options: loop:<n> (0 for ever; the root's default), weight:<n>, avoid:<n>, shuffle,
//       looprange:<min>:<max> (offsets of the loop count drawn at each pass);
//       before the items also stinger:..., meter:<bpm>:<beats per bar>:<beat value> (its own meter) and
//       grid:<period ms>:<offset ms> (after meter:);
//       a rule's <from> and <to> are segments or "*", <segment> the transition segment between them;
//       rule options: fade:<out ms>:<in ms>   the one left fades out over <out> ms up to the sync point, the
//       next in over <in> ms from it, along straight lines; fadeout: and fadein:<ms 0-60000>:<curve 0-9>:<offset
//       ms> the same with a curve and an offset (-44739242 to 44739242 ms); sourcecue:<cue> the user cue the
//       sync looks for; destcue:<cue> the cue the next enters at; jump:<item> the item (in the order given,
//       groups counted) a playlist <to> starts from; entry:<0-3> entry cue, the same time, a random cue, a
//       random cue but the entry; preentry, postexit, matchcue (the next's cue of the left one's cue name);
//       segfadein:, segfadeout:, segpreentry and segpostexit the same of the transition segment
//   musicswitch <name> <group>[+<group>...] [rule:...]... [restart] [treemode:<0-255>] [stinger:|meter:|grid:...]
//       <value>[/<value>...]:<node>[:<weight 0-100>[:<probability 0-100>]]...
//                                                        groups are state groups, or switch groups after
//                                                        "switch:"; a path has a value of each group in order
//                                                        ("default" for the branch of any other value), its
//                                                        leaf a weight (50) and a probability (100); rules
//                                                        and the rest as a playlist's; restart: a new
//                                                        state's path starts anew, not playing on
//       stinger:<trigger>:<segment>:<sync 0-7>[:<cue>]   a trigger's segment over the node at its sync point
//       miditarget:<node>, miditargetbus:<bus>        (segment, playlist and musicswitch) where the MIDI of
//                                                        the tracks below plays, over the node's parents'
//   musictrack, segment, playlist and musicswitch also take the words of every node (priority, maxvoices,
//     property, vary, auxsend, gamesend, volume, 3d, inaudible, delay, motion, effect, ...: NodeWords.cpp), a
//     playlist's and a music switch's before its items and paths
//   musicevent <event> <node>                      an event of one play action on the node
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/SoundBank/DialogueWriter.h"
#include "tools/SoundBank/MusicWriter.h"
#include "tools/SoundBank/NodeWords.h"

namespace Tools {

// A node's payload written with the bank's motion flag or without.
using NodeWrite = std::function<std::vector<uint8_t>(bool motionFlag)>;

// What the description's parser lends the music directives.
class MusicTextHost : public NodeWordsHost {
 public:
  virtual bool AddObject(uint8_t type, const std::string& name, std::vector<uint8_t> payload) = 0;
  // A node of `kind` in its line's place, written again at the bank's end with the bank's motion flag;
  // `motionBus` (its secondary output, 0 for none) needs that flag.
  virtual bool AddNode(uint8_t type, const std::string& name, NodeKind kind, uint32_t motionBus, NodeWrite write) = 0;
  // A tone's length, the bytes of its media and how a voice reads them (0 from the bank, 1 streamed
  // from its loose file, 2 the same with its first bytes from the bank); false (failed) when no tone
  // has the name.
  virtual bool ToneMedia(const std::string& name, double& ms, uint32_t& bytes, uint8_t& stream) = 0;
  // Media of the bank under the id of `name`; false (failed) when that id is taken.
  virtual bool AddMedia(const std::string& name, std::vector<uint8_t> bytes, uint32_t& id) = 0;
  // The id of the bank being described (its play actions name it).
  virtual uint32_t BankId() const = 0;

 protected:
  ~MusicTextHost() = default;
};

class MusicText {
 public:
  explicit MusicText(MusicTextHost& host) : m_host(host) {}
  static bool Takes(const std::string& directive);
  bool Line(const std::vector<std::string>& words);

 private:
  bool Track(const std::vector<std::string>& w);
  // The tone as a source of the track, once; `ms` its length.
  bool Source(const std::string& tone, BankMusicTrack& track, double& ms);
  // clip:, automation: and switchfade: of a track.
  bool Clip(const std::string& word, const std::string& rest, BankMusicTrack& track);
  bool Automation(const std::string& word, const std::string& rest, BankMusicTrack& track);
  bool SwitchFade(const std::string& word, const std::string& rest, BankMusicTrack& track);
  // <ms>:<curve>:<offset ms> from f[at], the time at most `mostMs`.
  bool Fade(const std::vector<std::string>& f, size_t at, int64_t mostMs, BankMusicFade& fade);
  // A whole number, "-" before it for a negative one.
  bool Signed(const std::string& word, int64_t& value);
  bool MidiTrack(const std::vector<std::string>& w);
  bool Segment(const std::vector<std::string>& w);
  bool Playlist(const std::vector<std::string>& w);
  bool Switch(const std::vector<std::string>& w);
  // One path of a music switch: its values, the node and the leaf's weight and probability.
  bool Path(const std::string& word, BankMusicSwitch& container, BankDialoguePath& path);
  // rule:<from>:<to>:<sync>[:<segment>][:<option>...], "*" for any node.
  bool Rule(const std::string& word, const std::string& rest, BankMusicRule& rule);
  bool Event(const std::vector<std::string>& w);
  // The id of an earlier music object of one of the kinds, or a failure naming the word.
  bool Earlier(const std::string& name, const std::set<uint8_t>& kinds, uint32_t& id);
  bool Ms(const std::string& word, double& ms);
  // The items from `w[at]` to the group's end ("}" or the line's): records depth first. The playlist's
  // own items are at depth 1; groups nested past the engine's bound are refused before they recurse.
  bool PlaylistItems(const std::vector<std::string>& w, size_t& at, uint32_t depth, std::vector<BankPlaylistRecord>& records,
                     std::vector<uint32_t>& segments, uint32_t& nextItemId);
  // stinger:, miditarget:, miditargetbus:, meter: and grid: of a segment (`meterGiven`), a playlist or a music switch; `taken` tells
  // whether the word was one of them.
  bool NodeOption(const std::string& word, BankMusicNode& node, bool meterGiven, bool& taken);
  // Group options from `w[at]` on, while the words are options.
  bool GroupOptions(const std::vector<std::string>& w, size_t& at, BankPlaylistRecord& group);

  MusicTextHost& m_host;
  std::map<std::string, uint8_t> m_kinds;  // declared music objects by name
  std::map<std::string, double> m_lookAheads;  // the look-ahead of each audio track, in ms
  std::map<std::string, uint32_t> m_playlistItems;  // the items (groups too) of each playlist
};

}  // namespace Tools
