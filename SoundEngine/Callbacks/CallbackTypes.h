// What the game receives when the sound engine calls it back: the callback types and their records.
#pragma once

#include <cstdint>

namespace SN {

enum SnCallbackType : uint32_t {
  SnCallback_EndOfEvent = 0x1,
  SnCallback_EndOfDynamicSequenceItem = 0x2,
  SnCallback_Marker = 0x4,
  SnCallback_Duration = 0x8,
  SnCallback_SpeakerVolumeMatrix = 0x10,
  SnCallback_Starvation = 0x20,
  SnCallback_MusicPlaylistSelect = 0x40,
  SnCallback_MusicPlayStarted = 0x80,
  SnCallback_MusicSyncBeat = 0x100,
  SnCallback_MusicSyncBar = 0x200,
  SnCallback_MusicSyncEntry = 0x400,
  SnCallback_MusicSyncExit = 0x800,
  SnCallback_MusicSyncGrid = 0x1000,
  SnCallback_MusicSyncUserCue = 0x2000,
  SnCallback_MusicSyncPoint = 0x4000,
  SnCallback_MIDIEvent = 0x10000,
  SnCallback_EnableGetSourcePlayPosition = 0x100000,
  SnCallback_EnableGetSourceStreamBuffering = 0x400000,
};

constexpr uint32_t kInvalidGameObjectId = 0xFFFFFFFFu;

struct SnCallbackInfo {
  void* cookie;
  uint32_t gameObjectId;
};

struct SnEventCallbackInfo : SnCallbackInfo {
  uint32_t playingId;
  uint32_t eventId;
};

struct SnDynamicSequenceItemCallbackInfo : SnCallbackInfo {
  uint32_t playingId;
  uint32_t audioNodeId;
  void* customInfo;
};

struct SnMarkerCallbackInfo : SnEventCallbackInfo {
  uint32_t identifier;
  uint32_t position;
  const char* label;
};

struct SnDurationCallbackInfo : SnEventCallbackInfo {
  float duration;
  float estimatedDuration;
  uint32_t audioNodeId;
  uint32_t mediaId;
};

struct SnSpeakerVolumeMatrixCallbackInfo : SnEventCallbackInfo {
  void* volumeMatrix;
};

struct SnMusicPlaylistCallbackInfo : SnEventCallbackInfo {
  uint32_t playlistId;
  uint32_t numPlaylistItems;
  uint32_t playlistSelection;  // written back by the callback
  uint32_t playlistItemDone;   // written back by the callback
};

struct SnSegmentInfo {
  int32_t currentPosition;
  int32_t preEntryDuration;
  int32_t activeDuration;
  int32_t postExitDuration;
  int32_t remainingLookAheadTime;
  float beatDuration;
  float barDuration;
  float gridDuration;
  float gridOffset;
};

struct SnMusicSyncCallbackInfo : SnEventCallbackInfo {
  SnSegmentInfo segmentInfo;
  uint32_t syncType;
  uint32_t userCueId;
};

struct SnMIDIEventCallbackInfo : SnEventCallbackInfo {
  uint8_t midiEvent[4];
};

struct SnMarker {
  uint32_t identifier;
  uint32_t position;
  const char* label;
};

using SnCallbackFunc = void (*)(uint32_t type, SnCallbackInfo* info);

}  // namespace SN
