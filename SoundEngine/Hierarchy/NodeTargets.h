// The playing objects that follow a node's game parameters: keyed target links, and the sorted set
// of targets a node serves with the parameters it has curves for. Audio thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"

namespace SN {

class CSnHierarchyNode;

// Parameter n of a node's curves is bit n of a 64-bit mask.
constexpr uint64_t ParameterBit(uint32_t parameterId) { return parameterId < 64 ? uint64_t(1) << parameterId : 0; }

// A playing object's link to the node that serves its parameters. Every link is on one global list
// from construction to destruction, so a node that gains a curve can have the links register again.
class CSnTargetLink {
 public:
  explicit CSnTargetLink(const SnRTPCKey& key);
  virtual ~CSnTargetLink();
  CSnTargetLink(const CSnTargetLink&) = delete;
  CSnTargetLink& operator=(const CSnTargetLink&) = delete;

  virtual void SetParamValue(uint32_t parameterId, float value, float delta) = 0;
  virtual void Notify() {}
  // The parameters this link wants served.
  virtual uint64_t WantedMask() const = 0;

  // Registers with `node` and the nodes above it; keeps `node` as its target.
  void Attach(CSnHierarchyNode* node);
  void Detach();
  // Detaches and attaches again to the same node (and motion bus): a node on its road gained a parameter.
  void Reattach();
  // Registers also with the motion bus its play gives motion through, and the buses above it, holding
  // a reference on it until Detach. `asMotionParameters`: the buses' volume and pitch reach the play
  // as its motion's (parameters 29 and 31: a sound feeding the devices), not as its own (a motion voice,
  // which its motion bus mixes as an output bus mixes a sound).
  void AttachMotionBus(CSnHierarchyNode* bus, bool asMotionParameters);
  // The parameter a change of `parameterId` on `node` is to this link.
  uint32_t ParameterFrom(const CSnHierarchyNode& node, uint32_t parameterId) const;

  const SnRTPCKey& Key() const { return m_key; }
  CSnHierarchyNode* Target() const { return m_target; }
  CSnTargetLink* Next() const { return m_next; }
  static CSnTargetLink* First();

 private:
  CSnTargetLink* m_next = nullptr;
  CSnTargetLink** m_link = nullptr;  // what points at this link: the head or the previous link's m_next
  SnRTPCKey m_key;
  CSnHierarchyNode* m_target = nullptr;
  CSnHierarchyNode* m_motionBus = nullptr;
  bool m_motionParameters = false;
};

// A node's targets sorted by key, and the parameters it has curves for.
class CSnRTPCTargetSet {
 public:
  CSnRTPCTargetSet() { LiveSets().fetch_add(1, std::memory_order_relaxed); }
  ~CSnRTPCTargetSet() { LiveSets().fetch_sub(1, std::memory_order_relaxed); }
  CSnRTPCTargetSet(const CSnRTPCTargetSet&) = delete;
  CSnRTPCTargetSet& operator=(const CSnRTPCTargetSet&) = delete;
  // No node has a set: a link's walk up its nodes would find nothing to join or leave. A node that
  // makes its set has every link register again.
  static bool NoneLive() { return LiveSets().load(std::memory_order_relaxed) == 0; }

  struct Entry {
    SnRTPCKey key;
    uint64_t mask;
    CSnTargetLink* link;
  };

  uint64_t ParameterMask() const { return m_parameterMask; }
  void SetParameterMask(uint64_t mask) { m_parameterMask = mask; }
  // The and of every entry's mask; all ones without entries. Worked out when asked, not kept up at
  // every entry that comes or goes.
  uint64_t CommonMask() const;
  uint32_t Count() const { return m_entries.Count(); }
  // Grows with every entry added or removed: a notification that saw no change trusts its copy.
  uint32_t ChangeStamp() const { return m_changes; }
  const Entry& operator[](uint32_t index) const { return m_entries[index]; }

  // Adds the link's entry or replaces its mask. False when out of memory (nothing is kept then).
  bool SetEntry(CSnTargetLink* link, uint64_t mask);
  // False when the link has no entry.
  bool RemoveEntry(CSnTargetLink* link);
  // `link` may have been destroyed since it was seen (a copy of the entries is being told).
  bool HasEntry(const CSnTargetLink* link) const;

  // Every target of the key (its 0 and 255 fields match anything; the empty key reaches all) whose
  // mask holds the parameter. `skip` may turn a target down.
  template <typename Tell>
  void ForEachMatching(uint32_t parameterId, const SnRTPCKey& key, Tell&& tell) const {
    const uint64_t bit = ParameterBit(parameterId);
    if (key.IsGlobal()) {
      for (uint32_t i = 0; i < m_entries.Count(); ++i)
        if (m_entries[i].mask & bit) tell(m_entries[i]);
      return;
    }
    // From the first entry not below the key, over the entries of the key's leading field.
    for (uint32_t i = key.gameObject ? LowerBound(key) : 0; i < m_entries.Count(); ++i) {
      const Entry& entry = m_entries[i];
      if (key.gameObject && entry.key.gameObject != key.gameObject) break;
      if ((entry.mask & bit) && entry.key.Matches(key)) tell(entry);
    }
  }

  // Keys in the set's order: wildcards (0, or 255 for channel and note) before every real value.
  static bool KeyLess(const SnRTPCKey& a, const SnRTPCKey& b);

 private:
  static std::atomic<uint32_t>& LiveSets() {
    static std::atomic<uint32_t> live{0};
    return live;
  }
  // `link` is alive: its key places it.
  int32_t IndexOf(const CSnTargetLink* link) const;
  uint32_t LowerBound(const SnRTPCKey& key) const;

  uint64_t m_parameterMask = 0;
  SnArray<Entry> m_entries;
  uint32_t m_changes = 0;
};

}  // namespace SN
