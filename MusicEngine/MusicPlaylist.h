// The random/sequence container's playlist tree: groups that loop and choose their children in
// sequence or at random, and the segment items at its leaves, built from the container's bank records.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/Playlist.h"

namespace SN {

class CSnMusicPlaylistGroup;

enum SnMusicPlaylistMode : uint32_t {
  SnMusicPlaylist_ContinuousSequence = 0,
  SnMusicPlaylist_StepSequence = 1,
  SnMusicPlaylist_ContinuousRandom = 2,
  SnMusicPlaylist_StepRandom = 3,
};

// One playlist record as a bank stores it.
struct SnMusicPlaylistRecord {
  uint32_t segmentId;  // non-zero: a segment item; 0: a group
  uint32_t itemId;
  uint32_t childCount;
  uint32_t playMode;
  uint16_t loopCount;  // 0: forever
  int16_t loopMinOffset;
  int16_t loopMaxOffset;
  uint32_t weight;
  uint16_t avoidRepeatCount;
  uint8_t unused;
  uint8_t shuffle;
};
constexpr uint32_t kMusicPlaylistRecordBytes = 30;

class CSnMusicPlaylistNode {
 public:
  static constexpr uint32_t kDefaultWeight = 50000;
  virtual ~CSnMusicPlaylistNode() = default;
  virtual bool IsSegmentItem() const = 0;

  CSnMusicPlaylistGroup* parent = nullptr;
  uint32_t itemId = 0;
  uint16_t loopCount = 1;
  int16_t loopMinOffset = 0;
  int16_t loopMaxOffset = 0;
  uint32_t weight = kDefaultWeight;
};

class CSnMusicPlaylistItem : public CSnMusicPlaylistNode {
 public:
  bool IsSegmentItem() const override { return true; }
  uint32_t segmentId = 0;
};

class CSnMusicPlaylistGroup : public CSnMusicPlaylistNode {
 public:
  // Groups nested deeper than this fail the load: each level is one more call of the builder.
  static constexpr uint32_t kMaxDepth = 64;

  ~CSnMusicPlaylistGroup() override { Clear(); }
  bool IsSegmentItem() const override { return false; }
  // Destroys the children.
  void Clear();
  // The fields of a group record.
  void Take(const SnMusicPlaylistRecord& record);
  // The `count` records from record `at` of the stored `records` on become this group's children,
  // depth first; `at` moves past them. SN_Failure for a child count past the records, nesting deeper
  // than kMaxDepth or out of memory.
  SNRESULT Build(const uint8_t* records, uint32_t total, uint32_t& at, uint32_t count, uint32_t depth);

  // Draws index children by 16 bits, and a sequence's last index is signed 16 bits.
  static constexpr uint32_t kMaxChildren = 0x7FFF;

  uint32_t ChildCount() const { return m_children.Count(); }
  CSnMusicPlaylistNode* Child(uint32_t index) const { return m_children[index]; }
  // The children's weights in child order, as the random draws read them.
  const CSnPlaylist& Weights() const { return m_weights; }
  // The records of this group and everything below it.
  uint32_t CountRecords() const;
  bool IsStepMode() const { return playMode == SnMusicPlaylist_StepSequence || playMode == SnMusicPlaylist_StepRandom; }
  bool IsRandomMode() const { return playMode == SnMusicPlaylist_ContinuousRandom || playMode == SnMusicPlaylist_StepRandom; }
  // A new selection state for this group's mode: null for a mode above 3 or out of memory.
  CSnPlaylistState* NewSelectionState() const;
  CSnRandomPlaylistState::Options RandomOptions() const {
    return {&m_weights, avoidRepeatCount, shuffle, usesWeights};
  }

  // What step modes remember from one play to the next; created on first use, owned.
  CSnPlaylistState* persistentState = nullptr;

  uint32_t playMode = SnMusicPlaylist_ContinuousSequence;
  uint16_t avoidRepeatCount = 0;
  bool usesWeights = false;
  bool shuffle = true;
  bool hasSegment = false;

 private:
  void MarkHasSegment();
  SnArray<CSnMusicPlaylistNode*> m_children;
  CSnWeightedPlaylist m_weights;
};

// Reads the records one by one: they are packed and need no alignment.
SnMusicPlaylistRecord PlaylistRecordAt(const uint8_t* bytes);

}  // namespace SN
