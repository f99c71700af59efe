// The playlist tree of the random/sequence container, built depth first from its bank records.
#include "MusicEngine/MusicPlaylist.h"

#include <cstring>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

SnMusicPlaylistRecord PlaylistRecordAt(const uint8_t* bytes) {
  SnMusicPlaylistRecord record{};
  SnBankCursor in(bytes, kMusicPlaylistRecordBytes);
  in.Take(record.segmentId);
  in.Take(record.itemId);
  in.Take(record.childCount);
  in.Take(record.playMode);
  in.Take(record.loopCount);
  in.Take(record.loopMinOffset);
  in.Take(record.loopMaxOffset);
  in.Take(record.weight);
  in.Take(record.avoidRepeatCount);
  in.Take(record.unused);
  in.Take(record.shuffle);
  return record;
}

void CSnMusicPlaylistGroup::Clear() {
  for (CSnMusicPlaylistNode* child : m_children) PoolDelete(g_DefaultPoolId, child);
  m_children.Term();
  m_weights.RemoveAll();
  if (persistentState) PoolDelete(g_DefaultPoolId, persistentState);
  persistentState = nullptr;
  usesWeights = false;
  hasSegment = false;
}

void CSnMusicPlaylistGroup::Take(const SnMusicPlaylistRecord& record) {
  itemId = record.itemId;
  loopCount = record.loopCount;
  loopMinOffset = record.loopMinOffset;
  loopMaxOffset = record.loopMaxOffset;
  weight = record.weight;
  playMode = record.playMode;
  avoidRepeatCount = record.avoidRepeatCount;
  shuffle = record.shuffle != 0;
}

void CSnMusicPlaylistGroup::MarkHasSegment() {
  for (CSnMusicPlaylistGroup* group = this; group; group = group->parent) group->hasSegment = true;
}

SNRESULT CSnMusicPlaylistGroup::Build(const uint8_t* records, uint32_t total, uint32_t& at, uint32_t count,
                                      uint32_t depth) {
  if (depth > kMaxDepth) {
    SOUND_LOG(Error, "Playlist item %u: groups nest deeper than %u levels", itemId, kMaxDepth);
    return SN_Failure;
  }
  if (count > kMaxChildren) {
    SOUND_LOG(Error, "Playlist item %u: %u children, more than %u", itemId, count, kMaxChildren);
    return SN_Failure;
  }
  if (count > total - at) {
    SOUND_LOG(Error, "Playlist item %u: %u children but %u records left", itemId, count, total - at);
    return SN_Failure;
  }
  if (count && !m_children.GrowBy(count)) return SN_Failure;
  for (uint32_t i = 0; i < count; ++i) {
    const SnMusicPlaylistRecord record = PlaylistRecordAt(records + size_t(at++) * kMusicPlaylistRecordBytes);
    CSnMusicPlaylistNode* child = nullptr;
    if (record.segmentId) {
      auto* item = PoolNew<CSnMusicPlaylistItem>(g_DefaultPoolId);
      if (!item) return SN_Failure;
      item->segmentId = record.segmentId;
      child = item;
    } else {
      auto* group = PoolNew<CSnMusicPlaylistGroup>(g_DefaultPoolId);
      if (!group) return SN_Failure;
      group->Take(record);
      child = group;
    }
    child->parent = this;
    child->itemId = record.itemId;
    child->loopCount = record.loopCount;
    child->loopMinOffset = record.loopMinOffset;
    child->loopMaxOffset = record.loopMaxOffset;
    child->weight = record.weight;
    if (!m_children.Add(child, 16)) {
      PoolDelete(g_DefaultPoolId, child);
      return SN_Failure;
    }
    if (m_weights.Add(record.itemId, record.weight) != SN_Success) return SN_Failure;
    if (record.weight != kDefaultWeight) usesWeights = true;
    if (record.segmentId) {
      MarkHasSegment();
    } else {
      auto* group = static_cast<CSnMusicPlaylistGroup*>(child);
      const SNRESULT result = group->Build(records, total, at, record.childCount, depth + 1);
      if (result != SN_Success) return result;
    }
  }
  return SN_Success;
}

uint32_t CSnMusicPlaylistGroup::CountRecords() const {
  uint32_t count = 1;
  for (const CSnMusicPlaylistNode* child : m_children)
    count += child->IsSegmentItem() ? 1 : static_cast<const CSnMusicPlaylistGroup*>(child)->CountRecords();
  return count;
}

CSnPlaylistState* CSnMusicPlaylistGroup::NewSelectionState() const {
  if (playMode > SnMusicPlaylist_StepRandom) return nullptr;
  if (!IsRandomMode()) return PoolNew<CSnSequencePlaylistState>(g_DefaultPoolId);
  auto* state = PoolNew<CSnRandomPlaylistState>(g_DefaultPoolId, uint16_t(ChildCount()));
  if (!state) return nullptr;
  if (state->Init(avoidRepeatCount) != SN_Success) {
    PoolDelete(g_DefaultPoolId, state);
    return nullptr;
  }
  if (usesWeights) state->SetTotalWeight(m_weights.TotalWeight());
  return state;
}

}  // namespace SN
