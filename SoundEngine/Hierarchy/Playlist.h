// The ordered item lists of random and sequence containers and the selection states that walk them;
// the music engine's random/sequence containers share them. Audio thread; built on the bank thread
// under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

constexpr uint32_t kDefaultPlaylistWeight = 50000;

// The items of a container in play order; a plain list weighs every item the same. The kinds differ
// in what they keep and how they grow; the draws read items through the base without a call.
class CSnPlaylist {
 public:
  virtual ~CSnPlaylist() = default;
  uint32_t Length() const { return m_items.Count(); }
  uint32_t IdAt(uint16_t index) const { return m_items[index].id; }
  uint32_t WeightAt(uint16_t index) const { return m_weighted ? m_items[index].weight : kDefaultPlaylistWeight; }
  // Appends: SN_Success, or SN_Failure when the list cannot grow.
  virtual SNRESULT Add(uint32_t id, uint32_t weight) = 0;
  // Every entry of the id goes, the others keep their order.
  void Remove(uint32_t id);
  void RemoveAll();
  bool Contains(uint32_t id) const;
  // The first index of the id; false when absent.
  bool IndexOf(uint32_t id, uint16_t& index) const;
  virtual void SetWeightAt(uint16_t, uint32_t) {}
  // Summed in 64 bits: many heavy items never wrap.
  uint64_t TotalWeight() const;

  struct Item {
    uint32_t id;
    uint32_t weight;  // meaningful only in a weighted list
  };
  // For the draws' walks, which read every item on every play.
  const Item* Items() const { return m_items.Data(); }
  bool Weighted() const { return m_weighted; }

 protected:
  explicit CSnPlaylist(bool weighted) : m_weighted(weighted) {}
  SnArray<Item> m_items;
  const bool m_weighted;
};

class CSnWeightedPlaylist final : public CSnPlaylist {
 public:
  CSnWeightedPlaylist() : CSnPlaylist(true) {}
  SNRESULT Add(uint32_t id, uint32_t weight) override;
  void SetWeightAt(uint16_t index, uint32_t weight) override;
};

// Weight at any index is the default; setting one changes nothing.
class CSnPlainPlaylist final : public CSnPlaylist {
 public:
  CSnPlainPlaylist() : CSnPlaylist(false) {}
  SNRESULT Add(uint32_t id, uint32_t weight) override;
};

// Passed to the selection steps by a continuous play.
struct SnLoopRecord {
  static constexpr uint8_t kLooping = 0x01;
  static constexpr uint8_t kInfinite = 0x02;
  int16_t loopsLeft = 1;
  uint8_t flags = 0;
  // A new turn of the list: false when the play has none left.
  bool TakeTurn();
};

class CSnPlaylistState {
 public:
  virtual ~CSnPlaylistState() = default;
  virtual bool IsSequence() const = 0;
  // A copy from the default pool; null when out of memory.
  virtual CSnPlaylistState* Clone() const = 0;
};

class CSnSequencePlaylistState final : public CSnPlaylistState {
 public:
  bool IsSequence() const override { return true; }
  CSnPlaylistState* Clone() const override;

  // The next index, or false when the loop record has no turn left (index 0).
  bool Select(uint32_t length, bool pingPong, SnLoopRecord* loop, uint16_t& index);

  uint8_t forward = 1;
  int16_t lastIndex = -1;
};

class CSnRandomPlaylistState final : public CSnPlaylistState {
 public:
  // For `count` items, every one weighing the default.
  explicit CSnRandomPlaylistState(uint16_t count);
  ~CSnRandomPlaylistState() override;
  bool IsSequence() const override { return false; }
  CSnPlaylistState* Clone() const override;

  // The bit arrays, and history room for min(avoid, 4): SN_Failure or SN_InsufficientMemory.
  SNRESULT Init(uint16_t avoidRepeat);
  void SetTotalWeight(uint64_t weight) { totalWeight = remainingWeight = weight; }

  struct Options {
    const CSnPlaylist* list;
    uint16_t avoidRepeat;
    bool shuffle;
    bool weighted;
  };
  // The next item; false when nothing more plays (the loop record's turns are spent) or when no
  // candidate is left to draw (all blocked, or weighing nothing).
  bool Select(const Options& options, SnLoopRecord* loop, uint16_t& index);
  bool IsCandidate(const Options& options, uint16_t index) const;
  // What a draw of `index` changes (played marks, history, weights), for a choice made elsewhere.
  void RecordChoice(const Options& options, uint16_t index);
  // Takes the item out of the history, unblocked, as if it had aged out of it.
  void ForgetHistoryEntry(const Options& options, uint16_t index);
  // Standard mode: the item joins the avoid-repeat history; SN_Failure ends the cycle early.
  SNRESULT UpdateHistory(const Options& options, uint16_t index);

  bool Played(uint16_t index) const { return m_bits[index >> 3] & (1u << (index & 7)); }
  bool Blocked(uint16_t index) const { return m_bits[m_bytes + (index >> 3)] & (1u << (index & 7)); }
  uint32_t HistoryLength() const { return m_history.Count(); }
  uint16_t HistoryAt(uint32_t i) const { return m_history[i]; }

  uint64_t totalWeight;
  uint64_t remainingWeight;
  uint16_t selectable;
  uint16_t itemsLeft;

 private:
  void SetPlayed(uint16_t index, bool on) { SetBit(index >> 3, uint8_t(1u << (index & 7)), on); }
  void SetBlocked(uint16_t index, bool on) { SetBit(m_bytes + (index >> 3), uint8_t(1u << (index & 7)), on); }
  void SetBit(uint32_t byte, uint8_t bit, bool on) { m_bits[byte] = uint8_t(on ? m_bits[byte] | bit : m_bits[byte] & ~bit); }
  void ResetPlayed(uint16_t count);
  bool AppendHistory(uint16_t index);
  uint16_t PopHistory();

  SnArray<uint16_t> m_history;
  uint8_t* m_bits = nullptr;  // the played bits, then the blocked bits
  uint16_t m_count;
  uint16_t m_bytes;
};

}  // namespace SN
