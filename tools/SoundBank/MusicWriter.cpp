// Music objects field by field, little-endian and unpadded, as the music loader reads them.
#include "tools/SoundBank/MusicWriter.h"

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

namespace {
void PutFade(std::vector<uint8_t>& out, const BankMusicFade& fade) {
  Put(out, fade.timeMs);
  Put(out, fade.curve);
  Put(out, fade.offsetMs);
}

void PutIds(std::vector<uint8_t>& out, const std::vector<uint32_t>& ids) {
  Put(out, uint32_t(ids.size()));
  for (uint32_t id : ids) Put(out, id);
}
}  // namespace

void PutMusicNode(std::vector<uint8_t>& out, uint32_t id, const BankMusicNode& node, bool motionFlag) {
  Put(out, id);
  Put(out, node.flags);
  PutNodeParams(out, node.params, motionFlag);
  PutIds(out, node.children);
  Put(out, node.gridPeriodMs);
  Put(out, node.gridOffsetMs);
  Put(out, node.tempo);
  Put(out, node.beatsPerBar);
  Put(out, node.beatValue);
  Put(out, node.overridesMeter);
  Put(out, uint32_t(node.stingers.size()));
  for (const BankMusicStinger& stinger : node.stingers) {
    Put(out, stinger.triggerId);
    Put(out, stinger.segmentId);
    Put(out, stinger.syncType);
    Put(out, stinger.cueFilter);
    Put(out, stinger.dontRepeatTime);
    Put(out, stinger.lookAheadSegments);
  }
}

void PutMusicRules(std::vector<uint8_t>& out, const std::vector<BankMusicRule>& rules) {
  Put(out, uint32_t(rules.size()));
  for (const BankMusicRule& rule : rules) {
    PutIds(out, rule.sources);
    PutIds(out, rule.destinations);
    PutFade(out, rule.fadeOut);
    Put(out, rule.syncType);
    Put(out, rule.sourceCueFilter);
    Put(out, rule.playPostExit);
    PutFade(out, rule.fadeIn);
    Put(out, rule.destinationCueFilter);
    Put(out, rule.jumpToItem);
    Put(out, rule.entryKind);
    Put(out, rule.playPreEntry);
    Put(out, rule.matchSourceCueName);
    Put(out, uint8_t(rule.hasSegment ? 1 : 0));
    if (!rule.hasSegment) continue;
    Put(out, rule.segmentId);
    PutFade(out, rule.segmentFadeIn);
    PutFade(out, rule.segmentFadeOut);
    Put(out, rule.segmentPlayPreEntry);
    Put(out, rule.segmentPlayPostExit);
  }
}

std::vector<uint8_t> MusicSegmentPayload(const BankMusicSegment& segment, bool motionFlag) {
  std::vector<uint8_t> out;
  PutMusicNode(out, segment.id, segment.node, motionFlag);
  Put(out, segment.durationMs);
  Put(out, uint32_t(segment.markers.size()));
  for (const BankMusicMarker& marker : segment.markers) {
    Put(out, marker.id);
    Put(out, marker.positionMs);
    Put(out, uint32_t(marker.name.size()));
    ContentWriters::PutBytes(out, marker.name.data(), marker.name.size());
  }
  return out;
}

std::vector<uint8_t> MusicTrackPayload(const BankMusicTrack& track, bool motionFlag) {
  std::vector<uint8_t> out;
  Put(out, track.id);
  Put(out, track.flags);
  Put(out, uint32_t(track.sources.size()));
  for (const BankMusicSource& source : track.sources) {
    Put(out, source.codecId);
    Put(out, source.kind);
    Put(out, source.sourceId);
    Put(out, source.sizeOrFileId);
    Put(out, source.flags);
    if (source.kind != 2) continue;
    Put(out, uint32_t(source.pluginParameters.size()));
    ContentWriters::PutAll(out, source.pluginParameters);
  }
  Put(out, uint32_t(track.clips.size()));
  for (const BankMusicClip& clip : track.clips) {
    Put(out, clip.subTrack);
    Put(out, clip.sourceId);
    Put(out, clip.playAtMs);
    Put(out, clip.beginTrimMs);
    Put(out, clip.endTrimMs);
    Put(out, clip.sourceDurationMs);
  }
  Put(out, track.subTrackCount);
  Put(out, uint32_t(track.automation.size()));
  for (const BankMusicAutomation& automation : track.automation) {
    Put(out, automation.clipIndex);
    Put(out, automation.type);
    Put(out, uint32_t(automation.points.size()));
    for (const BankAutomationPoint& point : automation.points) {
      Put(out, point.seconds);
      Put(out, point.value);
      Put(out, point.interpolation);
    }
  }
  PutNodeParams(out, track.params, motionFlag);
  Put(out, track.type);
  if (track.type == 3) {
    Put(out, track.groupType);
    Put(out, track.groupId);
    Put(out, track.defaultSwitch);
    PutIds(out, track.switchIds);
    for (uint32_t word : track.transition) Put(out, word);
  }
  Put(out, track.lookAheadMs);
  return out;
}

std::vector<uint8_t> MusicPlaylistPayload(const BankMusicPlaylist& playlist, bool motionFlag) {
  std::vector<uint8_t> out;
  PutMusicNode(out, playlist.id, playlist.node, motionFlag);
  PutMusicRules(out, playlist.rules);
  Put(out, uint32_t(playlist.records.size()));
  for (const BankPlaylistRecord& record : playlist.records) {
    Put(out, record.segmentId);
    Put(out, record.itemId);
    Put(out, record.childCount);
    Put(out, record.playMode);
    Put(out, record.loopCount);
    Put(out, record.loopMinOffset);
    Put(out, record.loopMaxOffset);
    Put(out, record.weight);
    Put(out, record.avoidRepeatCount);
    Put(out, record.unused);
    Put(out, record.shuffle);
  }
  return out;
}

std::vector<uint8_t> MusicSwitchPayload(const BankMusicSwitch& container, bool motionFlag) {
  std::vector<uint8_t> out;
  PutMusicNode(out, container.id, container.node, motionFlag);
  PutMusicRules(out, container.rules);
  Put(out, container.continuePlaying);
  Put(out, uint32_t(container.groupIds.size()));
  for (uint32_t id : container.groupIds) Put(out, id);
  for (size_t i = 0; i < container.groupIds.size(); ++i)
    Put(out, i < container.groupTypes.size() ? container.groupTypes[i] : uint8_t(0));
  Put(out, uint32_t(container.tree.size() * 12));
  Put(out, container.treeMode);
  for (const BankSwitchTreeNode& node : container.tree) {
    Put(out, node.key);
    if (node.leaf) {
      Put(out, node.childId);
    } else {
      Put(out, node.firstChild);
      Put(out, node.childCount);
    }
    Put(out, node.weight);
    Put(out, node.probability);
  }
  return out;
}

}  // namespace Tools
