// Writes the music objects of a bank: segments (10), tracks (11), switch containers (12) and
// random/sequence containers (13), with the music node block and the transition rules they carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/SoundBank/NodeParamsWriter.h"

namespace Tools {

constexpr uint8_t kBankMusicSegmentType = 10;
constexpr uint8_t kBankMusicTrackType = 11;
constexpr uint8_t kBankMusicSwitchType = 12;
constexpr uint8_t kBankMusicPlaylistType = 13;

struct BankMusicStinger {
  uint32_t triggerId = 0;
  uint32_t segmentId = 0;
  uint32_t syncType = 0;
  uint32_t cueFilter = 0;
  uint32_t dontRepeatTime = 0;
  uint32_t lookAheadSegments = 0;
};

// The block every music object but the track opens with, after its id.
struct BankMusicNode {
  uint8_t flags = 0;  // bits 1 to 3 as the bank stores them
  BankNodeParams params;
  std::vector<uint32_t> children;
  double gridPeriodMs = 0.0;
  double gridOffsetMs = 0.0;
  float tempo = 120.0f;
  uint8_t beatsPerBar = 4;
  uint8_t beatValue = 4;
  uint8_t overridesMeter = 0;
  std::vector<BankMusicStinger> stingers;
};

struct BankMusicMarker {
  uint32_t id = 0;
  double positionMs = 0.0;
  std::string name;
};

struct BankMusicSegment {
  uint32_t id = 0;
  BankMusicNode node;
  double durationMs = 0.0;
  // Entry cue first, exit cue last.
  std::vector<BankMusicMarker> markers;
};

struct BankMusicFade {
  int32_t timeMs = 0;
  uint32_t curve = 0;
  int32_t offsetMs = 0;
};

struct BankMusicRule {
  std::vector<uint32_t> sources;       // 0xFFFFFFFF: any
  std::vector<uint32_t> destinations;  // 0xFFFFFFFF: any
  BankMusicFade fadeOut;
  uint32_t syncType = 0;
  uint32_t sourceCueFilter = 0;
  uint8_t playPostExit = 0;
  BankMusicFade fadeIn;
  uint32_t destinationCueFilter = 0;
  uint32_t jumpToItem = 0;
  uint16_t entryKind = 0;
  uint8_t playPreEntry = 0;
  uint8_t matchSourceCueName = 0;
  bool hasSegment = false;
  uint32_t segmentId = 0;
  BankMusicFade segmentFadeIn;
  BankMusicFade segmentFadeOut;
  uint8_t segmentPlayPreEntry = 0;
  uint8_t segmentPlayPostExit = 0;
};

// One record of a playlist, depth first: a group's children follow it.
struct BankPlaylistRecord {
  uint32_t segmentId = 0;  // 0: a group
  uint32_t itemId = 0;
  uint32_t childCount = 0;
  uint32_t playMode = 0;
  uint16_t loopCount = 1;
  int16_t loopMinOffset = 0;
  int16_t loopMaxOffset = 0;
  uint32_t weight = 50000;
  uint16_t avoidRepeatCount = 0;
  uint8_t unused = 0;
  uint8_t shuffle = 0;
};

struct BankMusicPlaylist {
  uint32_t id = 0;
  BankMusicNode node;
  std::vector<BankMusicRule> rules;
  std::vector<BankPlaylistRecord> records;  // the root group first
};

// One node of a decision tree: a leaf's child id, or an inner node's first child and count.
struct BankSwitchTreeNode {
  uint32_t key = 0;
  uint32_t childId = 0;
  uint16_t firstChild = 0;
  uint16_t childCount = 0;
  bool leaf = true;
  uint16_t weight = 50;
  uint16_t probability = 100;
};

struct BankMusicSwitch {
  uint32_t id = 0;
  BankMusicNode node;
  std::vector<BankMusicRule> rules;
  uint8_t continuePlaying = 1;
  std::vector<uint32_t> groupIds;
  std::vector<uint8_t> groupTypes;  // 1: state group, else switch group
  uint8_t treeMode = 0;
  std::vector<BankSwitchTreeNode> tree;  // node 0 the root
};

struct BankMusicSource {
  uint32_t codecId = 0x00010000;  // PCM; a plug-in's id for a plug-in
  uint8_t kind = 0;               // 0 bank media, 1 streamed file, 2 plug-in
  uint32_t sourceId = 0;
  uint32_t sizeOrFileId = 0;      // a file id for a streamed file
  uint8_t flags = 0;              // bit 0 language file, bit 1 prefetched
  std::vector<uint8_t> pluginParameters;
};

struct BankMusicClip {
  uint32_t subTrack = 0;
  uint32_t sourceId = 0;
  double playAtMs = 0.0;
  double beginTrimMs = 0.0;
  double endTrimMs = 0.0;
  double sourceDurationMs = 0.0;
};

struct BankAutomationPoint {
  float seconds = 0.0f;
  float value = 0.0f;
  uint32_t interpolation = 0;
};

struct BankMusicAutomation {
  uint32_t clipIndex = 0;  // the bank's clip index
  uint32_t type = 0;
  std::vector<BankAutomationPoint> points;
};

struct BankMusicTrack {
  uint32_t id = 0;
  uint8_t flags = 0;  // bits 1 to 3 as the bank stores them
  std::vector<BankMusicSource> sources;
  std::vector<BankMusicClip> clips;
  uint32_t subTrackCount = 1;
  std::vector<BankMusicAutomation> automation;
  BankNodeParams params;
  uint8_t type = 0;  // 3: the switch and transition blocks follow
  uint8_t groupType = 0;
  uint32_t groupId = 0;
  uint32_t defaultSwitch = 0;
  std::vector<uint32_t> switchIds;
  // Fade-out time, curve, offset; sync type; cue filter; fade-in time, curve, offset.
  uint32_t transition[8] = {};
  uint32_t lookAheadMs = 0;
};

// The id, then the music node block.
void PutMusicNode(std::vector<uint8_t>& out, uint32_t id, const BankMusicNode& node, bool motionFlag);
// The rule count and the rules, as written: lists in the order given.
void PutMusicRules(std::vector<uint8_t>& out, const std::vector<BankMusicRule>& rules);
std::vector<uint8_t> MusicSegmentPayload(const BankMusicSegment& segment, bool motionFlag);
std::vector<uint8_t> MusicTrackPayload(const BankMusicTrack& track, bool motionFlag);
std::vector<uint8_t> MusicPlaylistPayload(const BankMusicPlaylist& playlist, bool motionFlag);
std::vector<uint8_t> MusicSwitchPayload(const BankMusicSwitch& container, bool motionFlag);

}  // namespace Tools
