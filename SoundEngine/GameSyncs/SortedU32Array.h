// A set of 32-bit ids kept sorted: which game parameters and modulators hold values for one owner.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"

namespace SN {

class SnSortedU32Array {
 public:
  // True when present or added; false when the array cannot grow.
  bool Add(uint32_t id) {
    const uint32_t index = LowerBound(id);
    if (index < m_items.Count() && m_items[index] == id) return true;
    return m_items.InsertAt(index, id) != nullptr;
  }
  bool Remove(uint32_t id) {
    const uint32_t index = LowerBound(id);
    if (index >= m_items.Count() || m_items[index] != id) return false;
    m_items.RemoveAt(index);
    return true;
  }
  bool Contains(uint32_t id) const {
    const uint32_t index = LowerBound(id);
    return index < m_items.Count() && m_items[index] == id;
  }
  uint32_t Count() const { return m_items.Count(); }
  uint32_t operator[](uint32_t index) const { return m_items[index]; }
  void Term() { m_items.Term(); }

 private:
  uint32_t LowerBound(uint32_t id) const {
    uint32_t lo = 0, hi = m_items.Count();
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      if (m_items[mid] < id) lo = mid + 1; else hi = mid;
    }
    return lo;
  }
  SnArray<uint32_t> m_items;
};

}  // namespace SN
