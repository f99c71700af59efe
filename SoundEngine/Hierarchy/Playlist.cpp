// Play-lists and their selection states: weighted draws with an avoid-repeat history or shuffle
// cycles, and forward or ping-pong sequences.
#include "SoundEngine/Hierarchy/Playlist.h"

#include <algorithm>

#include "Base/MathUtil.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

bool CSnPlaylist::Contains(uint32_t id) const {
  uint16_t index;
  return IndexOf(id, index);
}

bool CSnPlaylist::IndexOf(uint32_t id, uint16_t& index) const {
  for (uint32_t i = 0; i < Length(); ++i) {
    if (IdAt(uint16_t(i)) != id) continue;
    index = uint16_t(i);
    return true;
  }
  return false;
}

uint64_t CSnPlaylist::TotalWeight() const {
  uint64_t total = 0;
  for (uint32_t i = 0; i < Length(); ++i) total += WeightAt(uint16_t(i));
  return total;
}

void CSnPlaylist::Remove(uint32_t id) {
  for (uint32_t i = m_items.Count(); i-- > 0;)
    if (m_items[i].id == id) m_items.RemoveAt(i);
}

void CSnPlaylist::RemoveAll() {
  while (m_items.Count()) m_items.RemoveAt(m_items.Count() - 1);
}

SNRESULT CSnWeightedPlaylist::Add(uint32_t id, uint32_t weight) {
  return m_items.Add(Item{id, weight}, 8) ? SN_Success : SN_Failure;
}

void CSnWeightedPlaylist::SetWeightAt(uint16_t index, uint32_t weight) {
  if (index < m_items.Count()) m_items[index].weight = weight;
}

SNRESULT CSnPlainPlaylist::Add(uint32_t id, uint32_t) {
  return m_items.Add(Item{id, kDefaultPlaylistWeight}, 16) ? SN_Success : SN_Failure;
}

bool SnLoopRecord::TakeTurn() {
  if (!(flags & kLooping)) return false;
  if (flags & kInfinite) return true;
  return --loopsLeft > 0;
}

// ---- sequences ----

CSnPlaylistState* CSnSequencePlaylistState::Clone() const {
  auto* copy = PoolNew<CSnSequencePlaylistState>(g_DefaultPoolId);
  if (copy) *copy = *this;
  return copy;
}

bool CSnSequencePlaylistState::Select(uint32_t length, bool pingPong, SnLoopRecord* loop, uint16_t& index) {
  if (!forward) {
    if (lastIndex > 0) {
      index = uint16_t(--lastIndex);
      return true;
    }
    forward = 1;
    lastIndex = length > 1 ? 1 : 0;
  } else if (uint32_t(lastIndex + 1) < length) {
    index = uint16_t(++lastIndex);
    return true;
  } else if (pingPong && length > 1) {
    // Turning back is not a new turn of the list.
    forward = 0;
    index = uint16_t(--lastIndex);
    return true;
  } else {
    // A single item in ping-pong repeats rather than stepping before the list.
    lastIndex = 0;
  }
  index = uint16_t(lastIndex);
  if (loop && !loop->TakeTurn()) {
    index = 0;
    return false;
  }
  return true;
}

// ---- random draws ----

CSnRandomPlaylistState::CSnRandomPlaylistState(uint16_t count)
    : totalWeight(uint64_t(count) * kDefaultPlaylistWeight),
      remainingWeight(totalWeight),
      selectable(count),
      itemsLeft(count),
      m_count(count),
      m_bytes(uint16_t((count + 7) / 8)) {}

CSnRandomPlaylistState::~CSnRandomPlaylistState() {
  if (m_bits) MemoryMgr::Free(g_DefaultPoolId, m_bits);
}

SNRESULT CSnRandomPlaylistState::Init(uint16_t avoidRepeat) {
  m_bits = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, std::max<size_t>(1, 2u * m_bytes)));
  if (!m_bits) return SN_Failure;
  memset(m_bits, 0, std::max<size_t>(1, 2u * m_bytes));
  if (avoidRepeat && !m_history.GrowBy(std::min<uint16_t>(avoidRepeat, 4))) return SN_InsufficientMemory;
  return SN_Success;
}

CSnPlaylistState* CSnRandomPlaylistState::Clone() const {
  auto* copy = PoolNew<CSnRandomPlaylistState>(g_DefaultPoolId, m_count);
  if (!copy) return nullptr;
  if (copy->Init(uint16_t(m_history.Count())) != SN_Success) {
    PoolDelete(g_DefaultPoolId, copy);
    return nullptr;
  }
  copy->totalWeight = totalWeight;
  copy->remainingWeight = remainingWeight;
  copy->selectable = selectable;
  copy->itemsLeft = itemsLeft;
  memcpy(copy->m_bits, m_bits, 2u * m_bytes);
  for (uint16_t entry : const_cast<SnArray<uint16_t>&>(m_history)) copy->m_history.Add(entry);
  return copy;
}

void CSnRandomPlaylistState::ResetPlayed(uint16_t count) {
  memset(m_bits, 0, std::min<uint32_t>(m_bytes, (count + 7u) / 8u));
  selectable = count;
}

bool CSnRandomPlaylistState::AppendHistory(uint16_t index) { return m_history.Add(index) != nullptr; }

uint16_t CSnRandomPlaylistState::PopHistory() {
  // At most a few entries: shifted in place, cheaper than a call to move them.
  const uint16_t oldest = m_history[0];
  const uint32_t count = m_history.Count();
  for (uint32_t i = 1; i < count; ++i) m_history[i - 1] = m_history[i];
  m_history.RemoveAt(count - 1);
  return oldest;
}

bool CSnRandomPlaylistState::IsCandidate(const Options& options, uint16_t index) const {
  if (!options.shuffle) return options.avoidRepeat == 0 || !Blocked(index);
  return !Played(index) && !Blocked(index);
}

bool CSnRandomPlaylistState::Select(const Options& options, SnLoopRecord* loop, uint16_t& index) {
  const uint32_t length = std::min<uint32_t>(options.list->Length(), m_count);
  if (itemsLeft == 0) {
    if (loop && !loop->TakeTurn()) return false;
    itemsLeft = uint16_t(length);
    ResetPlayed(uint16_t(length));
    if (options.shuffle) {
      remainingWeight = totalWeight;
      for (uint16_t entry : m_history) remainingWeight -= options.list->WeightAt(entry);
    }
    selectable = uint16_t(selectable - std::min<uint32_t>(selectable, m_history.Count()));
  }
  // No candidate left to draw from (every one blocked or weighing nothing): no pick rather than a
  // division by zero; a walk never runs past the list.
  int64_t chosen = -1;
  // The exclusion bits read byte by byte, the per-call choices taken once: the walk is the draw's cost.
  const uint8_t* played = options.shuffle ? m_bits : nullptr;
  const uint8_t* blocked = options.shuffle || options.avoidRepeat ? m_bits + m_bytes : nullptr;
  auto excluded = [&](uint32_t i) {
    const uint8_t bits = uint8_t((played ? played[i >> 3] : 0) | (blocked ? blocked[i >> 3] : 0));
    return (bits >> (i & 7)) & 1;
  };
  if (!options.weighted) {
    if (selectable == 0) return false;
    const uint16_t r = uint16_t(uint32_t(Base::Rand15()) % selectable);
    int32_t counted = -1;
    for (uint32_t i = 0; i < length; ++i) {
      if (excluded(i)) continue;
      if (++counted == r) {
        chosen = i;
        break;
      }
    }
  } else {
    if (remainingWeight == 0) return false;
    const uint64_t draw = (uint64_t(Base::Rand15()) << 15) + uint64_t(Base::Rand15());
    const int64_t r = int64_t(draw % remainingWeight);
    // The items and their kind read once: the walk's loads are then the items' own.
    const CSnPlaylist::Item* items = options.list->Items();
    const bool weighted = options.list->Weighted();
    int64_t sum = -1;
    for (uint32_t i = 0; i < length; ++i) {
      if (excluded(i)) continue;
      sum += weighted ? items[i].weight : kDefaultPlaylistWeight;
      if (sum >= r) {
        chosen = i;
        break;
      }
    }
  }
  if (chosen < 0) return false;
  index = uint16_t(chosen);
  RecordChoice(options, index);
  return true;
}

void CSnRandomPlaylistState::RecordChoice(const Options& options, uint16_t index) {
  const uint32_t length = std::min<uint32_t>(options.list->Length(), m_count);
  if (!options.shuffle) {
    if (!Played(index)) {
      SetPlayed(index, true);
      if (itemsLeft) --itemsLeft;
    }
    UpdateHistory(options, index);
    return;
  }
  const uint32_t keep = std::min<uint32_t>(options.avoidRepeat ? options.avoidRepeat : 1, length - 1);
  remainingWeight -= std::min<uint64_t>(remainingWeight, options.list->WeightAt(index));
  if (selectable) --selectable;
  if (itemsLeft) --itemsLeft;
  SetPlayed(index, true);
  if (!AppendHistory(index)) {
    itemsLeft = 0;
    return;
  }
  SetBlocked(index, true);
  while (m_history.Count() > keep) {
    const uint16_t oldest = PopHistory();
    SetBlocked(oldest, false);
    if (!Played(oldest)) {
      remainingWeight += options.list->WeightAt(oldest);
      ++selectable;
    }
  }
}

void CSnRandomPlaylistState::ForgetHistoryEntry(const Options& options, uint16_t index) {
  for (uint32_t i = 0; i < m_history.Count(); ++i) {
    if (m_history[i] != index) continue;
    m_history.RemoveAt(i);
    SetBlocked(index, false);
    // What leaving the history gives back, as when the oldest entry leaves it.
    if (!options.shuffle || !Played(index)) {
      remainingWeight += options.list->WeightAt(index);
      ++selectable;
    }
    return;
  }
}

SNRESULT CSnRandomPlaylistState::UpdateHistory(const Options& options, uint16_t index) {
  if (options.avoidRepeat == 0) return SN_Success;
  const uint32_t length = std::min<uint32_t>(options.list->Length(), m_count);
  if (selectable) --selectable;
  if (!AppendHistory(index)) {
    itemsLeft = 0;
    return SN_Failure;
  }
  SetBlocked(index, true);
  remainingWeight -= std::min<uint64_t>(remainingWeight, options.list->WeightAt(index));
  const uint32_t keep = std::min<uint32_t>(options.avoidRepeat, length - 1);
  while (m_history.Count() > keep) {
    const uint16_t oldest = PopHistory();
    SetBlocked(oldest, false);
    remainingWeight += options.list->WeightAt(oldest);
    ++selectable;
  }
  return SN_Success;
}

}  // namespace SN
