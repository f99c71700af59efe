// Resolution of argument paths: the checks a bank's tree passes before it is kept, best match with
// fall-back to default branches, the weighted draw and the probability roll.
#include "SoundEngine/DynamicDialogue/ArgumentPathTree.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "Base/MathUtil.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"

namespace SN {

namespace {

// Deeper trees are refused: resolution walks one level per call frame.
constexpr uint32_t kMaxDepth = 64;

}  // namespace

CSnArgumentPathTree::~CSnArgumentPathTree() { Free(); }

void CSnArgumentPathTree::Free() {
  if (m_nodes) MemoryMgr::Free(g_DefaultPoolId, m_nodes);
  m_nodes = nullptr;
  m_nodeCount = 0;
}

SnArgumentNode CSnArgumentPathTree::Node(uint32_t index) const {
  SnArgumentNode node;
  memcpy(&node, m_nodes + size_t(index) * sizeof node, sizeof node);
  return node;
}

SNRESULT CSnArgumentPathTree::SetTree(const void* nodes, uint32_t size, uint32_t depth) {
  Free();
  m_depth = depth;
  if (size % sizeof(SnArgumentNode) != 0 || depth > kMaxDepth) {
    SOUND_LOG(Error, "Dialogue tree: %u bytes of depth %u are not whole nodes of a tree at most %u deep", size, depth,
              kMaxDepth);
    return SN_Failure;
  }
  if (size == 0) return SN_Success;  // resolves every path to 0
  const uint32_t count = size / uint32_t(sizeof(SnArgumentNode));
  // The level of each node the root reaches (0: not reached). Children lie after their parent and
  // belong to one parent only, so one pass in index order sees every parent before its children and
  // every walk of the tree stays inside the block and ends.
  SnArray<uint8_t> level;
  if (!level.GrowBy(count)) return SN_InsufficientMemory;
  for (uint32_t i = 0; i < count; ++i) level.Add(0);
  level[0] = 1;
  const auto* bytes = static_cast<const uint8_t*>(nodes);
  for (uint32_t i = 0; i < count; ++i) {
    if (level[i] == 0 || level[i] > depth) continue;  // unreached, or a leaf
    SnArgumentNode node;
    memcpy(&node, bytes + size_t(i) * sizeof node, sizeof node);
    const uint64_t first = node.FirstChild(), end = first + node.ChildCount();
    bool whole = end <= count && (node.ChildCount() == 0 || first > i);
    for (uint64_t child = first; whole && child < end; ++child) {
      whole = level[uint32_t(child)] == 0;
      level[uint32_t(child)] = uint8_t(level[i] + 1);
    }
    if (!whole) {
      SOUND_LOG(Error, "Dialogue tree: the children of node %u lie outside its %u nodes or belong to another node", i,
                count);
      return SN_Failure;
    }
  }
  m_nodes = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, size));
  if (!m_nodes) return SN_InsufficientMemory;
  memcpy(m_nodes, nodes, size);
  m_nodeCount = count;
  return SN_Success;
}

uint32_t CSnArgumentPathTree::FindChild(const SnArgumentNode& parent, uint32_t key) const {
  return FindChild(parent.audioNodeOrChildren, key);
}

uint32_t CSnArgumentPathTree::FindChild(uint32_t children, uint32_t key) const {
  uint32_t low = children & 0xFFFFu, high = low + (children >> 16);
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    uint32_t found;  // the key alone: the first word of the node
    memcpy(&found, m_nodes + size_t(middle) * sizeof(SnArgumentNode), sizeof found);
    if (found == key) return middle;
    if (found < key)
      low = middle + 1;
    else
      high = middle;
  }
  return kNone;
}

uint32_t CSnArgumentPathTree::DefaultChild(const SnArgumentNode& parent, uint32_t key) const {
  // A path value of 0 asked for the default already.
  if (key == 0 || parent.ChildCount() == 0 || Node(parent.FirstChild()).key != 0) return kNone;
  return parent.FirstChild();
}

uint32_t CSnArgumentPathTree::BestMatch(uint32_t node, const uint32_t* path, uint32_t left) const {
  // The exact branch all the way down first: the common case, without a call per level.
  uint32_t exact = node;
  uint32_t depth = 0;
  for (; depth < left; ++depth) {
    uint32_t children;  // the second word alone
    memcpy(&children, m_nodes + size_t(exact) * sizeof(SnArgumentNode) + offsetof(SnArgumentNode, audioNodeOrChildren),
           sizeof children);
    exact = FindChild(children, path[depth]);
    if (exact == kNone) break;
  }
  if (depth == left) return exact;
  return BestMatchFrom(node, path, left);
}

uint32_t CSnArgumentPathTree::BestMatchFrom(uint32_t node, const uint32_t* path, uint32_t left) const {
  const SnArgumentNode parent = Node(node);
  const uint32_t exact = FindChild(parent, path[0]);
  if (exact != kNone) {
    if (left == 1) return exact;
    // An exact branch that ends in nothing deeper down gives way to the default branch of this level.
    const uint32_t found = BestMatchFrom(exact, path + 1, left - 1);
    if (found != kNone) return found;
  }
  const uint32_t fallback = DefaultChild(parent, path[0]);
  if (fallback == kNone || left == 1) return fallback;
  return BestMatchFrom(fallback, path + 1, left - 1);
}

template <typename Visit>
void CSnArgumentPathTree::CollectLeaves(uint32_t node, const uint32_t* path, uint32_t left, Visit&& visit) const {
  const SnArgumentNode parent = Node(node);
  for (const uint32_t child : {FindChild(parent, path[0]), DefaultChild(parent, path[0])}) {
    if (child == kNone) continue;
    if (left == 1)
      visit(child);
    else
      CollectLeaves(child, path + 1, left - 1, visit);
  }
}

uint32_t CSnArgumentPathTree::WeightedDraw(const uint32_t* path, uint32_t length) const {
  SnArray<uint32_t> candidates;
  uint32_t full = 0, none = 0, total = 0;
  bool complete = true;
  CollectLeaves(0, path, length, [&](uint32_t leaf) {
    const uint16_t weight = Node(leaf).weight;
    if (!candidates.Add(leaf, 8)) complete = false;
    full += weight >= 100;
    none += weight == 0;
    total += weight;
  });
  if (!complete || candidates.Count() == 0) return kNone;  // out of memory draws nothing
  auto nth = [&](uint32_t k, auto&& matches) {
    for (uint32_t candidate : candidates)
      if (matches(Node(candidate).weight) && k-- == 0) return candidate;
    return kNone;
  };
  if (full) return nth(uint32_t(Base::Rand15()) % full, [](uint16_t w) { return w >= 100; });
  if (none == candidates.Count()) return nth(uint32_t(Base::Rand15()) % none, [](uint16_t) { return true; });
  uint32_t r = uint32_t(Base::Rand15()) % total;
  for (uint32_t candidate : candidates) {
    const uint16_t weight = Node(candidate).weight;
    if (weight > r) return candidate;
    r -= weight;
  }
  return kNone;
}

uint32_t CSnArgumentPathTree::Resolve(const uint32_t* path, uint32_t length) const {
  if (length != m_depth || m_nodeCount == 0 || (length && !path)) return 0;
  uint32_t chosen = 0;
  if (length != 0) chosen = m_mode == SnArgumentTree_BestMatch ? BestMatch(0, path, length) : WeightedDraw(path, length);
  if (chosen == kNone) return 0;
  const SnArgumentNode node = Node(chosen);
  if (m_probability >= 100 && node.probability >= 100) return node.audioNodeOrChildren;
  const uint32_t roll = uint32_t(double(Base::Rand15()) / double(Base::kRand15Max) * 10000.0);
  return uint16_t(uint32_t(node.probability) * m_probability) > roll ? node.audioNodeOrChildren : 0;
}

uint32_t CSnArgumentPathTree::ResolveSingleArgument(uint32_t value) const {
  if (m_depth != 1 || m_nodeCount == 0) return 0;
  const SnArgumentNode root = Node(0);
  for (uint32_t i = root.FirstChild(); i < root.FirstChild() + root.ChildCount(); ++i)
    if (Node(i).key == value) return Node(i).audioNodeOrChildren;
  return 0;
}

bool CSnArgumentPathTree::CollectFirstLevel(SnKeyArray8& list) const {
  if (m_depth != 1) return false;
  if (m_nodeCount == 0) return true;
  const SnArgumentNode root = Node(0);
  for (uint32_t i = root.FirstChild(); i < root.FirstChild() + root.ChildCount(); ++i) {
    const SnArgumentNode child = Node(i);
    SnKeyValue8* entry = nullptr;
    for (SnKeyValue8& existing : list)
      if (existing.key == child.key) entry = &existing;
    if (entry)
      entry->value = child.audioNodeOrChildren;
    else if (!list.Add(SnKeyValue8{child.key, child.audioNodeOrChildren}))
      return false;
  }
  return true;
}

}  // namespace SN
