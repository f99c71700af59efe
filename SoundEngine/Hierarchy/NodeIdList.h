// Lists of nodes kept in id order: a bus's children and child buses.
#pragma once

#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"

namespace SN {

constexpr SNRESULT SN_AlreadyListed = SNRESULT(5);

// Inserts in id order; SN_AlreadyListed when present, SN_Failure without memory.
template <typename Node>
SNRESULT InsertById(SnArray<Node*>& array, Node* node) {
  uint32_t at = 0;
  while (at < array.Count() && array[at]->ID() < node->ID()) ++at;
  if (at < array.Count() && array[at] == node) return SN_AlreadyListed;
  return array.InsertAt(at, node) ? SN_Success : SN_Failure;
}

template <typename Node>
bool RemoveFrom(SnArray<Node*>& array, const CSnHierarchyNode* node) {
  for (uint32_t i = 0; i < array.Count(); ++i) {
    if (array[i] != node) continue;
    array.RemoveAt(i);
    return true;
  }
  return false;
}

}  // namespace SN
