// Insertion, removal, incremental reinsertion and the pair search of the broad-phase tree.
#include "ZarnPhys/DynamicAABBTree.h"

#include <algorithm>
#include <functional>

#include "Base/Assert.h"
#include "Base/MathUtil.h"
#include "ZarnPhys/DebugDrawer.h"

namespace ZarnPhys {

bool DynamicAABBTree::Overlaps(const Box& a, const Box& b) {
  return a.min.x <= b.max.x && a.max.x >= b.min.x && a.min.y <= b.max.y && a.max.y >= b.min.y &&
         a.min.z <= b.max.z && a.max.z >= b.min.z;
}

bool DynamicAABBTree::Contains(const Box& outer, const Box& inner) {
  return outer.min.x < inner.min.x && outer.min.y < inner.min.y && outer.min.z < inner.min.z &&
         outer.max.x > inner.max.x && outer.max.y > inner.max.y && outer.max.z > inner.max.z;
}

Box DynamicAABBTree::Union(const Box& a, const Box& b) {
  return {{std::min(a.min.x, b.min.x), std::min(a.min.y, b.min.y), std::min(a.min.z, b.min.z)},
          {std::max(a.max.x, b.max.x), std::max(a.max.y, b.max.y), std::max(a.max.z, b.max.z)}};
}

float DynamicAABBTree::VolumeOf(const Box& b) {
  return (b.max.x - b.min.x) * (b.max.y - b.min.y) * (b.max.z - b.min.z);
}

Box DynamicAABBTree::FatBoxOf(const ColliderBase* collider) const {
  Box box = collider->ComputeBounds();
  const Base::Vec3 margin(ColliderBase::kFatMargin, ColliderBase::kFatMargin, ColliderBase::kFatMargin);
  box.min -= margin;
  box.max += margin;
  return box;
}

uint32_t DynamicAABBTree::AllocateNode(const Node& node) {
  uint32_t index;
  if (!m_freeHeap.empty()) {
    std::pop_heap(m_freeHeap.begin(), m_freeHeap.end(), std::greater<>());
    index = m_freeHeap.back();
    m_freeHeap.pop_back();
    m_nodes[index] = node;
  } else {
    index = uint32_t(m_nodes.size());
    m_nodes.push_back(node);
  }
  m_nodes[index].self = index;
  m_nodes[index].allocated = true;
  return index;
}

void DynamicAABBTree::FreeNode(uint32_t index) {
  Node& node = m_nodes[index];
  node = Node();
  m_freeHeap.push_back(index);
  std::push_heap(m_freeHeap.begin(), m_freeHeap.end(), std::greater<>());
}

uint32_t DynamicAABBTree::AddCollider(ColliderBase* collider) {
  Node leaf;
  leaf.box = FatBoxOf(collider);
  leaf.volume = VolumeOf(leaf.box);
  leaf.collider = collider;
  const uint32_t index = AllocateNode(leaf);
  collider->tree = this;
  collider->leafIndex = index;
  InsertLeaf(index);
  return index;
}

void DynamicAABBTree::InsertLeaf(uint32_t leaf) {
  if (m_root == kNone) {
    m_root = leaf;
    m_nodes[leaf].parent = kNone;
    return;
  }
  Insert(m_root, leaf);
}

void DynamicAABBTree::Insert(uint32_t at, uint32_t leaf) {
  uint32_t current = at;
  while (!m_nodes[current].IsLeaf()) {
    const Node& node = m_nodes[current];
    // An only child leaves its free slot to the new leaf.
    for (int slot = 0; slot < 2; ++slot) {
      if (node.children[slot] == kNone) {
        m_nodes[current].children[slot] = leaf;
        m_nodes[leaf].parent = current;
        Refit(current);
        return;
      }
    }
    const Box& box = m_nodes[leaf].box;
    const float cost0 = VolumeOf(Union(box, m_nodes[node.children[0]].box));
    const float cost1 = VolumeOf(Union(box, m_nodes[node.children[1]].box));
    current = cost1 < cost0 ? node.children[1] : node.children[0];
  }

  const uint32_t parent = m_nodes[current].parent;
  Node internal;
  internal.parent = parent;
  internal.children[0] = current;
  internal.children[1] = leaf;
  const uint32_t made = AllocateNode(internal);
  if (parent == kNone) {
    m_root = made;
  } else {
    Node& p = m_nodes[parent];
    p.children[p.children[0] == current ? 0 : 1] = made;
  }
  m_nodes[current].parent = made;
  m_nodes[leaf].parent = made;
  Refit(leaf);
}

void DynamicAABBTree::Refit(uint32_t index) {
  for (uint32_t i = index; i != kNone; i = m_nodes[i].parent) {
    Node& node = m_nodes[i];
    if (node.IsLeaf()) {
      if (node.collider) node.box = FatBoxOf(node.collider);
    } else if (node.children[0] == kNone) {
      node.box = m_nodes[node.children[1]].box;
    } else if (node.children[1] == kNone) {
      node.box = m_nodes[node.children[0]].box;
    } else {
      node.box = Union(m_nodes[node.children[0]].box, m_nodes[node.children[1]].box);
    }
    node.volume = VolumeOf(node.box);
  }
}

uint32_t DynamicAABBTree::Remove(uint32_t leaf, uint32_t* sibling) {
  *sibling = kNone;
  const uint32_t parent = m_nodes[leaf].parent;
  m_nodes[leaf].parent = kNone;
  if (parent == kNone) {
    m_root = kNone;
    return kNone;
  }
  const Node& p = m_nodes[parent];
  const uint32_t other = p.children[0] == leaf ? p.children[1] : p.children[0];
  const uint32_t grandparent = p.parent;
  if (grandparent == kNone) {
    m_root = other;
  } else {
    Node& g = m_nodes[grandparent];
    g.children[g.children[0] == parent ? 0 : 1] = other;
  }
  if (other != kNone) m_nodes[other].parent = grandparent;
  // An only child leaves its grandparent with one child less, which refitting from it handles.
  *sibling = other != kNone ? other : grandparent;
  return parent;
}

void DynamicAABBTree::RemoveLeaf(uint32_t leaf) {
  if (leaf >= m_nodes.size() || !m_nodes[leaf].allocated || !m_nodes[leaf].IsLeaf()) return;
  uint32_t sibling;
  const uint32_t parent = Remove(leaf, &sibling);
  if (sibling != kNone) Refit(sibling);
  if (ColliderBase* collider = m_nodes[leaf].collider) {
    collider->leafIndex = kNone;
    collider->tree = nullptr;
  }
  FreeNode(leaf);
  if (parent != kNone) FreeNode(parent);
}

void DynamicAABBTree::Reinsert() {
  m_testedPairs = 0;
  if (m_root == kNone) return;

  m_reinsertList.clear();
  std::vector<uint32_t> stack{m_root};
  while (!stack.empty()) {
    const uint32_t index = stack.back();
    stack.pop_back();
    const Node& node = m_nodes[index];
    if (node.IsLeaf()) {
      if (!Contains(node.box, node.collider->ComputeBounds())) m_reinsertList.push_back(index);
      continue;
    }
    if (node.children[1] != kNone) stack.push_back(node.children[1]);
    if (node.children[0] != kNone) stack.push_back(node.children[0]);
  }

  // One leaf more per step keeps improving a tree that nothing else would touch.
  if (!m_nodes[m_root].IsLeaf()) {
    for (size_t i = size_t(Base::Rand15()) % m_nodes.size(); i < m_nodes.size(); ++i) {
      if (m_nodes[i].self != kNone && m_nodes[i].IsLeaf()) {
        m_reinsertList.push_back(uint32_t(i));
        break;
      }
    }
  }

  for (const uint32_t leaf : m_reinsertList) {
    uint32_t sibling;
    const uint32_t parent = Remove(leaf, &sibling);
    if (sibling != kNone) Refit(sibling);
    if (parent != kNone) FreeNode(parent);
    if (m_root == kNone) {
      m_root = leaf;
      Refit(leaf);
    } else {
      Insert(m_root, leaf);
      Refit(leaf);
    }
  }
}

void DynamicAABBTree::FindPairs(PairSink& sink) {
  if (m_root == kNone || m_nodes[m_root].IsLeaf()) return;
  m_sink = &sink;
  m_searchNodes.resize(m_nodes.size());
  for (size_t i = 0; i < m_nodes.size(); ++i) {
    Node& node = m_nodes[i];
    node.visited = false;
    m_searchNodes[i] = {node.box, {node.children[0], node.children[1]}};
  }
  SubtreePairs(m_root);
  m_sink = nullptr;
}

// Each internal node's pairs are searched once, children first: the order in which the pairs
// reach the sink is the order of the contacts the solver works through.
void DynamicAABBTree::SubtreePairs(uint32_t index) {
  const SearchNode& node = m_searchNodes[index];
  const uint32_t first = node.children[0], second = node.children[1];
  if (first == kNone && second == kNone) return;
  if (first != kNone) SubtreePairs(first);
  if (second != kNone) SubtreePairs(second);
  m_nodes[index].visited = true;
  CrossPairs(first, second);
}

namespace {

// Overlap without early outs: the search tests some ten boxes per pair it finds, and a branch per
// axis would be mispredicted about as often as it is taken.
bool OverlapsBranchless(const Box& a, const Box& b) {
  return (a.min.x <= b.max.x) & (a.max.x >= b.min.x) & (a.min.y <= b.max.y) & (a.max.y >= b.min.y) &
         (a.min.z <= b.max.z) & (a.max.z >= b.min.z);
}

}  // namespace

// The pairs with one leaf under x and one under y. A stack stands in for the recursion: what is
// pushed last is searched first, so the pairs come in the order a depth-first recursion finds them.
// Only overlapping node pairs are pushed, so every pair taken off the stack is searched.
void DynamicAABBTree::CrossPairs(uint32_t x, uint32_t y) {
  if (x == kNone || y == kNone || !Overlaps(m_searchNodes[x].box, m_searchNodes[y].box)) return;
  using NodePair = std::pair<uint32_t, uint32_t>;
  size_t top = 0;
  if (m_crossStack.size() < 64) m_crossStack.resize(64);
  m_crossStack[top++] = {x, y};
  const auto push = [this, &top](uint32_t a, uint32_t b) {
    m_crossStack[top] = {a, b};
    top += a != kNone && b != kNone && OverlapsBranchless(m_searchNodes[a].box, m_searchNodes[b].box);
  };
  while (top > 0) {
    // Room for the four pushes below.
    if (m_crossStack.size() < top + 4) m_crossStack.resize(m_crossStack.size() * 2);
    const NodePair current = m_crossStack[--top];
    x = current.first;
    y = current.second;
    const SearchNode& nx = m_searchNodes[x];
    const SearchNode& ny = m_searchNodes[y];
    const bool leafX = nx.children[0] == kNone && nx.children[1] == kNone;
    const bool leafY = ny.children[0] == kNone && ny.children[1] == kNone;
    if (leafX && leafY) {
      ++m_testedPairs;
      m_sink->AddPair(m_nodes[x].collider, m_nodes[y].collider);
    } else if (leafX) {
      push(x, ny.children[1]);
      push(x, ny.children[0]);
    } else if (leafY) {
      // The leaf leads in its pairs with both children, as a leaf met first does: which collider is A
      // decides the side each object's event is told from and the way the manifold's normal points.
      push(y, nx.children[1]);
      push(y, nx.children[0]);
    } else {
      const uint32_t x0 = nx.children[0], x1 = nx.children[1], y0 = ny.children[0], y1 = ny.children[1];
      push(x1, y1);
      push(x1, y0);
      push(x0, y1);
      push(x0, y0);
    }
  }
}

void DynamicAABBTree::DrawNodes() const {
  DebugDrawer* drawer = GetDebugDrawer();
  if (!drawer || m_root == kNone) return;
  std::vector<uint32_t> stack{m_root};
  while (!stack.empty()) {
    const Node& node = m_nodes[stack.back()];
    stack.pop_back();
    drawer->DrawCube((node.box.min + node.box.max) * 0.5f, node.box.max - node.box.min, Base::Mat4(),
                     Base::Vec3(0.2f, 0.2f, 0.9f), false);
    if (node.children[1] != kNone) stack.push_back(node.children[1]);
    if (node.children[0] != kNone) stack.push_back(node.children[0]);
  }
}

bool DynamicAABBTree::Validate() const {
  std::vector<uint8_t> seen(m_nodes.size(), 0);
  size_t reached = 0;
  if (m_root != kNone) {
    if (m_root >= m_nodes.size() || m_nodes[m_root].parent != kNone) return false;
    std::vector<uint32_t> stack{m_root};
    while (!stack.empty()) {
      const uint32_t index = stack.back();
      stack.pop_back();
      if (index >= m_nodes.size() || seen[index]) return false;
      seen[index] = 1;
      ++reached;
      const Node& node = m_nodes[index];
      if (!node.allocated || node.self != index) return false;
      if (node.IsLeaf()) {
        if (!node.collider || node.collider->leafIndex != index || node.collider->tree != this) return false;
        continue;
      }
      if (node.children[0] == kNone || node.children[1] == kNone) return false;
      for (const uint32_t child : node.children) {
        if (child >= m_nodes.size() || m_nodes[child].parent != index) return false;
        stack.push_back(child);
      }
      const Box expected = Union(m_nodes[node.children[0]].box, m_nodes[node.children[1]].box);
      if (expected.min != node.box.min || expected.max != node.box.max) return false;
    }
  }
  for (const uint32_t index : m_freeHeap) {
    if (index >= m_nodes.size() || seen[index] || m_nodes[index].allocated) return false;
    seen[index] = 2;
  }
  return reached + m_freeHeap.size() == m_nodes.size();
}

// A stack stands in for the recursion: the second child is pushed first so that the first child's
// subtree is listed before it, as a recursive walk would list it.
void DynamicAABBTree::RaycastNodes(const Ray& ray) {
  m_raycastCandidates.clear();
  if (m_root == kNone) return;
  m_raycastStack.clear();
  m_raycastStack.push_back(m_root);
  while (!m_raycastStack.empty()) {
    const uint32_t index = m_raycastStack.back();
    m_raycastStack.pop_back();
    const Node& node = m_nodes[index];
    ORV_ASSERT(node.allocated);
    const Physics::SystemRaycastResult crossing = RayBox(ray, node.box, true);
    if (!crossing.colliding) continue;
    if (node.IsLeaf()) {
      if (node.collider) m_raycastCandidates.push_back({node.collider->GetEntity(), crossing.depth});
      continue;
    }
    if (node.children[1] != kNone) m_raycastStack.push_back(node.children[1]);
    if (node.children[0] != kNone) m_raycastStack.push_back(node.children[0]);
  }
}

}  // namespace ZarnPhys
