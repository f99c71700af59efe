// The broad phase: a binary tree of fat boxes over the colliders, kept up to date by reinserting
// the leaves that escaped their boxes, and walked for pairs of overlapping leaves.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "ZarnPhys/Collider.h"
#include "ZarnPhys/Raycast.h"

namespace ZarnPhys {

// Receives each pair of colliders whose fat boxes overlap.
class PairSink {
 public:
  virtual void AddPair(ColliderBase* a, ColliderBase* b) = 0;

 protected:
  ~PairSink() = default;
};

class DynamicAABBTree {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  struct Node {
    bool allocated = false;
    bool visited = false;
    float volume = 0.0f;
    uint32_t parent = kNone;
    uint32_t self = kNone;
    uint32_t children[2] = {kNone, kNone};
    Box box;
    ColliderBase* collider = nullptr;

    bool IsLeaf() const { return children[0] == kNone && children[1] == kNone; }
  };

  // Inserts the collider's fat box; returns its leaf index (also stored in the collider).
  uint32_t AddCollider(ColliderBase* collider);
  void RemoveLeaf(uint32_t leaf);
  // Re-homes the leaves whose collider left its fat box, plus one leaf picked at random.
  void Reinsert();
  void FindPairs(PairSink& sink);
  // A leaf whose fat box a ray crosses or starts in, and the distance to that box.
  struct RaycastCandidate {
    Entity* entity = nullptr;
    float distance = 0.0f;
  };
  // Replaces the candidate list with the leaves the ray reaches, in depth-first order, first child first.
  void RaycastNodes(const Ray& ray);
  const std::vector<RaycastCandidate>& GetRaycastCandidates() const { return m_raycastCandidates; }
  // Draws every node's box through the installed debug drawer.
  void DrawNodes() const;

  uint32_t GetRoot() const { return m_root; }
  const std::vector<Node>& GetNodes() const { return m_nodes; }
  uint32_t GetTestedPairCount() const { return m_testedPairs; }
  // Checks links, boxes and the free list; true when the tree is consistent.
  bool Validate() const;

  static bool Overlaps(const Box& a, const Box& b);
  static bool Contains(const Box& outer, const Box& inner);
  static Box Union(const Box& a, const Box& b);
  static float VolumeOf(const Box& b);

 private:
  uint32_t AllocateNode(const Node& node);
  void FreeNode(uint32_t index);
  void InsertLeaf(uint32_t leaf);
  void Insert(uint32_t at, uint32_t leaf);
  void Refit(uint32_t index);
  // Detaches the leaf; returns the freed former parent (kNone when the leaf was the root) and
  // stores the sibling that took the parent's place.
  uint32_t Remove(uint32_t leaf, uint32_t* sibling);
  // The pairs inside a subtree: those of each child's subtree, then those across the two children.
  void SubtreePairs(uint32_t index);
  void CrossPairs(uint32_t x, uint32_t y);
  Box FatBoxOf(const ColliderBase* collider) const;

  std::vector<Node> m_nodes;
  uint32_t m_testedPairs = 0;
  uint32_t m_root = kNone;
  std::vector<uint32_t> m_freeHeap;  // min-heap: the smallest free index is reused first
  std::vector<uint32_t> m_reinsertList;
  PairSink* m_sink = nullptr;
  // What the pair search reads of each node, copied from the nodes before each search: half a
  // cache line per node instead of a whole one, so that more of the tree stays in the first cache.
  struct SearchNode {
    Box box;
    uint32_t children[2];
  };
  std::vector<SearchNode> m_searchNodes;
  std::vector<std::pair<uint32_t, uint32_t>> m_crossStack;
  std::vector<RaycastCandidate> m_raycastCandidates;
  std::vector<uint32_t> m_raycastStack;
};

}  // namespace ZarnPhys
