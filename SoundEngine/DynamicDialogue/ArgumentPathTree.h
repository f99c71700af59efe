// The decision tree of a dialogue event: a path of argument values (one switch or state value per
// argument) leads through nodes of 12 bytes to the audio node to play, by best match or by weighted
// draw among the matching leaves.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

// One node as banks store it. An inner node's second word holds its first child's index (low 16 bits)
// and its child count (high 16 bits); children lie together, sorted by key, a default child (key 0)
// first.
struct SnArgumentNode {
  uint32_t key;
  uint32_t audioNodeOrChildren;
  uint16_t weight;
  uint16_t probability;

  uint32_t FirstChild() const { return audioNodeOrChildren & 0xFFFFu; }
  uint32_t ChildCount() const { return audioNodeOrChildren >> 16; }
};
static_assert(sizeof(SnArgumentNode) == 12, "dialogue nodes are 12 bytes in banks");

// A key and the id it leads to; a key appears once in its array.
struct SnKeyValue8 {
  uint32_t key;
  uint32_t value;
};
using SnKeyArray8 = SnArray<SnKeyValue8>;

enum SnArgumentTreeMode : uint8_t {
  SnArgumentTree_BestMatch = 0,
  // Any other value: a weighted draw among every leaf the path reaches.
};

class CSnArgumentPathTree {
 public:
  CSnArgumentPathTree() = default;
  ~CSnArgumentPathTree();
  CSnArgumentPathTree(const CSnArgumentPathTree&) = delete;
  CSnArgumentPathTree& operator=(const CSnArgumentPathTree&) = delete;

  // Copies `size` bytes of nodes into a block of its own. SN_Failure when they are not whole nodes or
  // an inner node's children lie outside them (the tree is left empty); SN_InsufficientMemory when
  // there is no room (empty too).
  SNRESULT SetTree(const void* nodes, uint32_t size, uint32_t depth);
  void SetProbability(uint16_t percent) { m_probability = percent; }
  void SetMode(uint8_t mode) { m_mode = mode; }

  // Any thread: the audio node the path leads to, or 0. A path must be as long as the tree is deep.
  // Weighted draws and probability rolls take Base::Rand15.
  uint32_t Resolve(const uint32_t* path, uint32_t length) const;
  // Depth 1 only: the audio node of the root's child with this key, or 0.
  uint32_t ResolveSingleArgument(uint32_t value) const;
  // Depth 1 only: {key, audio node} of each of the root's children into `list`, a key already there
  // taking the new node. False for another depth, or when the list cannot grow (what fitted stays).
  bool CollectFirstLevel(SnKeyArray8& list) const;

  uint32_t Depth() const { return m_depth; }
  uint32_t NodeCount() const { return m_nodeCount; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  SnArgumentNode Node(uint32_t index) const;
  // The child of `parent` whose key is `key`, or kNone.
  uint32_t FindChild(const SnArgumentNode& parent, uint32_t key) const;
  // The same from a parent's second word.
  uint32_t FindChild(uint32_t children, uint32_t key) const;
  uint32_t DefaultChild(const SnArgumentNode& parent, uint32_t key) const;
  uint32_t BestMatch(uint32_t node, const uint32_t* path, uint32_t left) const;
  uint32_t BestMatchFrom(uint32_t node, const uint32_t* path, uint32_t left) const;
  template <typename Visit>
  void CollectLeaves(uint32_t node, const uint32_t* path, uint32_t left, Visit&& visit) const;
  uint32_t WeightedDraw(const uint32_t* path, uint32_t length) const;
  void Free();

  uint32_t m_depth = 0;
  uint8_t* m_nodes = nullptr;  // default pool; read with memcpy, whole nodes
  uint32_t m_nodeCount = 0;
  uint16_t m_probability = 100;
  uint8_t m_mode = SnArgumentTree_BestMatch;
};

}  // namespace SN
