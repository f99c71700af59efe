// A short list of hierarchy nodes an action reaches, each holding a reference given back when the
// list goes. The first sixteen sit in the list itself: a scope of a few roots allocates nothing.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"

namespace SN {

class SnNodeRefList {
 public:
  // `holdsReferences` false: a scratch list read under the node list's lock only.
  explicit SnNodeRefList(bool holdsReferences = true) : m_holds(holdsReferences) {}
  ~SnNodeRefList() {
    if (m_holds)
      for (uint32_t i = 0; i < m_count; ++i) At(i)->Release();
  }
  SnNodeRefList(const SnNodeRefList&) = delete;
  SnNodeRefList& operator=(const SnNodeRefList&) = delete;

  // False when out of memory (the node is then left out).
  bool Add(CSnHierarchyNode* node) {
    if (m_count >= kInline && !m_more.Add(node, 16)) return false;
    if (m_count < kInline) m_inline[m_count] = node;
    ++m_count;
    if (m_holds) node->AddRef();
    return true;
  }
  bool Contains(const CSnHierarchyNode* node) const {
    for (uint32_t i = 0; i < m_count; ++i)
      if (At(i) == node) return true;
    return false;
  }
  uint32_t Count() const { return m_count; }
  CSnHierarchyNode* At(uint32_t index) const { return index < kInline ? m_inline[index] : m_more[index - kInline]; }

 private:
  static constexpr uint32_t kInline = 16;
  CSnHierarchyNode* m_inline[kInline];
  SnArray<CSnHierarchyNode*> m_more;
  uint32_t m_count = 0;
  bool m_holds;
};

}  // namespace SN
