// The broad-phase tree under random insertion, movement and removal: its links and boxes stay
// consistent and its pair search finds exactly the overlapping fat boxes.
#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "Base/MathUtil.h"
#include "PhysScene.h"

namespace {

using Base::Vec3;
using ZarnPhys::ColliderBase;
using ZarnPhys::DynamicAABBTree;

class CollectingSink : public ZarnPhys::PairSink {
 public:
  void AddPair(ColliderBase* a, ColliderBase* b) override {
    pairs.insert(std::minmax(a, b));
    ++calls;
  }
  std::set<std::pair<ColliderBase*, ColliderBase*>> pairs;
  size_t calls = 0;
};

TEST(DynamicAABBTree, FirstLeavesAndIndexReuse) {
  PhysTest::Scene scene;
  DynamicAABBTree& tree = scene.space.GetTree();
  ZarnPhys::Entity* a = scene.Sphere({0, 0, 0}, 0.5f);
  EXPECT_EQ(tree.GetRoot(), a->collider->leafIndex);
  ZarnPhys::Entity* b = scene.Sphere({5, 0, 0}, 0.5f);
  const DynamicAABBTree::Node& root = tree.GetNodes()[tree.GetRoot()];
  EXPECT_EQ(root.children[0], a->collider->leafIndex);
  EXPECT_EQ(root.children[1], b->collider->leafIndex);

  scene.space.RemoveCollider(b);
  scene.space.RemoveCollider(a);
  EXPECT_EQ(tree.GetRoot(), DynamicAABBTree::kNone);
  EXPECT_TRUE(tree.Validate());
  ZarnPhys::Entity* c = scene.Sphere({1, 1, 1}, 0.5f);
  EXPECT_EQ(c->collider->leafIndex, 0u);
}

TEST(DynamicAABBTree, RandomInsertMoveRemoveKeepsTheTreeSound) {
  PhysTest::Scene scene;
  DynamicAABBTree& tree = scene.space.GetTree();
  std::mt19937 random(77);
  std::uniform_real_distribution<float> place(-8.0f, 8.0f), nudge(-0.6f, 0.6f), size(0.1f, 1.2f);
  std::uniform_int_distribution<int> action(0, 9);
  std::vector<ZarnPhys::Entity*> live;

  for (int round = 0; round < 400; ++round) {
    const int what = action(random);
    if (what < 4 || live.size() < 3) {
      const Vec3 p(place(random), place(random), place(random));
      live.push_back(what % 2 ? scene.Sphere(p, size(random), false)
                              : scene.Box(p, {size(random), size(random), size(random)}, false));
    } else if (what < 8) {
      for (ZarnPhys::Entity* e : live) e->position += Vec3(nudge(random), nudge(random), nudge(random));
    } else {
      const size_t index = size_t(random()) % live.size();
      scene.space.RemoveCollider(live[index]);
      live.erase(live.begin() + long(index));
    }
    tree.Reinsert();
    ASSERT_TRUE(tree.Validate()) << "round " << round;

    // Every collider has its own leaf, and each leaf's fat box holds the collider where it is now.
    size_t leaves = 0;
    for (const DynamicAABBTree::Node& node : tree.GetNodes()) {
      if (!node.allocated || !node.IsLeaf()) continue;
      ++leaves;
      const ZarnPhys::Box bounds = node.collider->ComputeBounds();
      ASSERT_TRUE(DynamicAABBTree::Overlaps(node.box, bounds));
      ASSERT_LE(node.box.min.x, bounds.min.x);
      ASSERT_GE(node.box.max.y, bounds.max.y);
    }
    ASSERT_EQ(leaves, live.size());

    // The pair search equals the brute-force overlap of the leaves' fat boxes, each pair once.
    CollectingSink sink;
    tree.FindPairs(sink);
    std::set<std::pair<ColliderBase*, ColliderBase*>> expected;
    for (size_t i = 0; i < live.size(); ++i) {
      for (size_t j = i + 1; j < live.size(); ++j) {
        const auto& ni = tree.GetNodes()[live[i]->collider->leafIndex];
        const auto& nj = tree.GetNodes()[live[j]->collider->leafIndex];
        if (DynamicAABBTree::Overlaps(ni.box, nj.box)) expected.insert(std::minmax(live[i]->collider, live[j]->collider));
      }
    }
    ASSERT_EQ(sink.pairs, expected) << "round " << round;
    ASSERT_EQ(sink.calls, expected.size()) << "round " << round;
  }
}

TEST(DynamicAABBTree, SlowMovementStaysInItsLeaf) {
  PhysTest::Scene scene;
  scene.Sphere({10, 0, 0}, 0.5f, false);
  ZarnPhys::Entity* a = scene.Sphere({0, 0, 0}, 0.5f, false);
  DynamicAABBTree& tree = scene.space.GetTree();
  // Leaves 0 and 1 under the root, node 2.
  ASSERT_EQ(a->collider->leafIndex, 1u);
  ASSERT_EQ(tree.GetRoot(), 2u);
  const auto leafBox = [&] { return tree.GetNodes()[a->collider->leafIndex].box; };

  // The step's one random pick scans up from draw % node count. Seeded with 1, the draw is
  // (1 * 214013 + 2531011) >> 16 = 41, and 41 % 3 = 2 starts at the root, past every leaf: no pick.
  a->position.x += 0.15f;
  Base::SeedRand15(1);
  tree.Reinsert();
  // Still inside its box grown by 0.2 around where it was: the leaf keeps that box.
  EXPECT_FLOAT_EQ(leafBox().min.x, -0.7f);
  EXPECT_FLOAT_EQ(leafBox().max.x, 0.7f);
  EXPECT_FLOAT_EQ(leafBox().max.y, 0.7f);

  // Past the margin (its right side at 0.75): the leaf is built again around where it is.
  a->position.x += 0.1f;
  Base::SeedRand15(1);
  tree.Reinsert();
  EXPECT_FLOAT_EQ(leafBox().min.x, -0.45f);
  EXPECT_FLOAT_EQ(leafBox().max.x, 0.95f);
  EXPECT_TRUE(tree.Validate());
}

// A pair is handed on with its colliders in the order the search meets them: a leaf facing a subtree
// leads in its pairs with both of the subtree's children. Which collider comes first decides the side
// each object's collision event is told from and the way the manifold's normal points.
TEST(DynamicAABBTree, ALeafFacingASubtreeLeadsInItsPairs) {
  PhysTest::Scene scene;
  ZarnPhys::Entity* a = scene.Sphere({0, 0, 0}, 0.5f, false);
  ZarnPhys::Entity* b = scene.Sphere({0.9f, 0, 0}, 0.5f, false);
  ZarnPhys::Entity* c = scene.Sphere({0.1f, 0, 0}, 0.5f, false);
  DynamicAABBTree& tree = scene.space.GetTree();
  // c joins a, its cheaper neighbour: the root holds (a c) first and b second.
  const DynamicAABBTree::Node& root = tree.GetNodes()[tree.GetRoot()];
  ASSERT_EQ(root.children[1], b->collider->leafIndex);
  const DynamicAABBTree::Node& ac = tree.GetNodes()[root.children[0]];
  ASSERT_EQ(ac.children[0], a->collider->leafIndex);
  ASSERT_EQ(ac.children[1], c->collider->leafIndex);

  struct OrderedSink : ZarnPhys::PairSink {
    void AddPair(ColliderBase* first, ColliderBase* second) override { pairs.emplace_back(first, second); }
    std::vector<std::pair<ColliderBase*, ColliderBase*>> pairs;
  } sink;
  tree.FindPairs(sink);
  // The pairs inside (a c) first; then b, the leaf, against a and then against c.
  const std::vector<std::pair<ColliderBase*, ColliderBase*>> expected = {
      {a->collider, c->collider}, {b->collider, a->collider}, {b->collider, c->collider}};
  EXPECT_EQ(sink.pairs, expected);
}

TEST(DynamicAABBTree, PolytopeBoxSpansItsVertices) {
  PhysTest::Scene scene;
  const Vec3 corners[] = {{-1, -1, -1}, {1, -1, -1}, {0, 1.5f, 0}, {0, -1, 1}};
  ZarnPhys::ColliderDescription d;
  d.kind = ZarnPhys::ColliderKind_Polytope;
  d.vertices = corners;
  d.vertexCount = 4;
  ZarnPhys::Entity* entity = nullptr;
  scene.space.CreateCollider(&entity, d, PhysTest::Scene::At({0, 0, 0}));
  ASSERT_NE(entity, nullptr);
  const ZarnPhys::Box bounds = entity->collider->ComputeBounds();
  EXPECT_EQ(bounds.max, Vec3(1, 1.5f, 1));
  EXPECT_EQ(bounds.min, Vec3(-1, -1.5f, -1));

  // A sphere resting on its top is found by the broad phase and collides.
  scene.Sphere({0, 1.9f, 0}, 0.5f);
  scene.space.Step();
  EXPECT_EQ(PhysTest::Events(ZarnPhys::PhysicsSpace::EventList_Start).size(), 1u);
}

}  // namespace
