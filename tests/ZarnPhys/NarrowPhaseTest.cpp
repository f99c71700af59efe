// GJK and EPA against contacts whose depth and normal are known by hand: spheres along each axis and
// at random, boxes meeting face to face and edge to edge, and capsules on a ground.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "Base/MathUtil.h"
#include "PhysScene.h"

namespace {

using Base::Vec3;
using PhysTest::Scene;
using ZarnPhys::CollisionPair;

float AngleDegrees(const Vec3& a, const Vec3& b) {
  const float c = a.Dot(b) / (a.Length() * b.Length());
  return std::acos(std::fmin(1.0f, std::fmax(-1.0f, c))) * 57.29578f;
}

struct Contact {
  bool hit = false;
  Vec3 normal;
  float depth = 0.0f;
  Vec3 contactA, contactB;
};

Contact Probe(ZarnPhys::Entity* a, ZarnPhys::Entity* b) {
  CollisionPair pair(a->collider, b->collider);
  Contact c;
  c.hit = pair.Collide();
  c.normal = pair.GetNormal();
  c.depth = pair.GetDepth();
  c.contactA = pair.GetContactA();
  c.contactB = pair.GetContactB();
  return c;
}

TEST(NarrowPhase, SpheresMeetingAlongEachAxis) {
  const Vec3 axes[] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (const Vec3& axis : axes) {
    Scene scene;
    const Vec3 centre(0.3f, -0.2f, 0.1f);
    ZarnPhys::Entity* a = scene.Sphere(centre, 0.5f, false);
    ZarnPhys::Entity* b = scene.Sphere(centre + axis * 0.8f, 0.4f, false);
    const Contact c = Probe(a, b);
    ASSERT_TRUE(c.hit) << axis.x << " " << axis.y << " " << axis.z;
    EXPECT_LT(AngleDegrees(c.normal, axis), 5.0f);
    EXPECT_NEAR(c.depth, 0.1f, 0.02f);
    // The contact points lie on the spheres' surfaces near the centre line.
    EXPECT_NEAR((c.contactA - centre).Length(), 0.5f, 0.02f);
  }
}

TEST(NarrowPhase, SpheresAtRandomPlacements) {
  std::mt19937 random(1234);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f), radius(0.2f, 1.5f), overlap(0.02f, 0.9f);
  int tested = 0;
  for (int i = 0; i < 300; ++i) {
    Scene scene;
    const float r1 = radius(random), r2 = radius(random);
    Vec3 direction(unit(random), unit(random), unit(random));
    if (direction.LengthSquared() < 1e-3f) continue;
    direction.Normalize();
    // Overlap as a share of the smaller radius; centres never coincide.
    const float distance = r1 + r2 - overlap(random) * std::fmin(r1, r2);
    const Vec3 ca(unit(random) * 5.0f, unit(random) * 5.0f, unit(random) * 5.0f);
    ZarnPhys::Entity* a = scene.Sphere(ca, r1, false);
    ZarnPhys::Entity* b = scene.Sphere(ca + direction * distance, r2, false);
    const Contact c = Probe(a, b);
    ASSERT_TRUE(c.hit) << "placement " << i;
    EXPECT_LT(AngleDegrees(c.normal, direction), 5.0f) << "placement " << i;
    EXPECT_GE(c.depth, 0.0f);
    EXPECT_NEAR(c.depth, r1 + r2 - distance, 0.05f * (r1 + r2)) << "placement " << i;
    ++tested;
  }
  EXPECT_GT(tested, 250);
}

TEST(NarrowPhase, SeparatedSpheresInsideTheirFatBoxesDoNotCollide) {
  Scene scene;
  ZarnPhys::Entity* a = scene.Sphere({0, 0, 0}, 0.5f, false);
  ZarnPhys::Entity* b = scene.Sphere({1.2f, 0, 0}, 0.5f, false);
  EXPECT_FALSE(Probe(a, b).hit);
  EXPECT_TRUE(scene.space.GetEvents(ZarnPhys::PhysicsSpace::EventList_Start).empty());
}

TEST(NarrowPhase, BoxesFaceToFace) {
  Scene scene;
  ZarnPhys::Entity* a = scene.Box({0, 0, 0}, {1, 1, 1}, false);
  ZarnPhys::Entity* b = scene.Box({0.3f, 1.8f, -0.2f}, {0.5f, 0.5f, 0.5f}, false);
  EXPECT_FALSE(Probe(a, b).hit);

  Scene touching;
  a = touching.Box({0, 0, 0}, {1, 1, 1}, false);
  b = touching.Box({0.3f, 1.3f, -0.2f}, {0.5f, 0.5f, 0.5f}, false);
  const Contact c = Probe(a, b);
  ASSERT_TRUE(c.hit);
  EXPECT_LT(AngleDegrees(c.normal, {0, 1, 0}), 0.5f);
  EXPECT_NEAR(c.depth, 0.2f, 1e-3f);
  // Both contact points lie within the overlap of the two faces.
  EXPECT_NEAR(c.contactA.y, 1.0f, 1e-3f);
  EXPECT_NEAR(c.contactB.y, 0.8f, 1e-3f);
  EXPECT_LE(std::fabs(c.contactA.x - 0.3f), 0.5f + 1e-3f);
}

// Pairs of unit boxes a settling pyramid produced: each upper box rests half a width aside on the one
// below it, turned by a few thousandths of a radian, their faces 0.0001 deep at most. The simplex of
// such a touch is flat; the contact is still the vertical one, not a side face half a box deep.
TEST(NarrowPhase, BoxesJustTouchingFaceToFaceKeepTheVerticalNormal) {
  struct Pose {
    Vec3 position;
    float rows[9];
  };
  struct Case {
    Pose a, b;
    Vec3 normal;  // from A towards B
  };
  const Case cases[] = {
      {{{6.006021f, 4.481658f, 0.002690f},
        {0.999997f, -0.000460f, 0.002446f, 0.000459f, 1.0f, 0.000191f, -0.002446f, -0.000190f, 0.999997f}},
       {{6.507914f, 3.481584f, 0.002196f},
        {0.999996f, -0.000660f, 0.002663f, 0.000657f, 0.999999f, 0.000965f, -0.002663f, -0.000963f, 0.999996f}},
       {0, -1, 0}},
      {{{5.500609f, 3.342207f, 0.008994f},
        {0.999893f, -0.003781f, -0.014142f, 0.003768f, 0.999992f, -0.000985f, 0.014146f, 0.000932f, 0.999900f}},
       {{4.991294f, 4.343648f, 0.000280f},
        {0.999898f, 0.002311f, -0.014104f, -0.002313f, 0.999997f, -0.000081f, 0.014104f, 0.000113f, 0.999901f}},
       {0, 1, 0}},
      {{{6.581975f, 5.342868f, 0.014865f},
        {0.999764f, -0.006956f, 0.020560f, 0.006973f, 0.999975f, -0.000767f, -0.020554f, 0.000910f, 0.999788f}},
       {{7.062335f, 4.346047f, -0.008800f},
        {0.999764f, -0.008583f, 0.019951f, 0.008606f, 0.999962f, -0.001072f, -0.019941f, 0.001244f, 0.999800f}},
       {0, -1, 0}},
  };
  const auto matrix = [](const float* rows) {
    Base::Mat3 m;
    for (int i = 0; i < 9; ++i) m.m[i] = rows[i];
    return m;
  };
  for (const Case& test : cases) {
    Scene scene;
    ZarnPhys::Entity* a = scene.Box(test.a.position, {0.5f, 0.5f, 0.5f}, false, matrix(test.a.rows));
    ZarnPhys::Entity* b = scene.Box(test.b.position, {0.5f, 0.5f, 0.5f}, false, matrix(test.b.rows));
    const Contact c = Probe(a, b);
    ASSERT_TRUE(c.hit) << test.a.position.x;
    // The boxes are turned by up to 1.4 degrees, so their faces may be too.
    EXPECT_LT(AngleDegrees(c.normal, test.normal), 2.0f) << test.a.position.x;
    EXPECT_LT(c.depth, 0.01f) << test.a.position.x;
  }
}

TEST(NarrowPhase, BoxesEdgeToEdge) {
  Scene scene;
  const float root2 = std::sqrt(2.0f);
  // A stands on an edge along z, B on an edge along x: the two edges cross, 0.1 deep.
  const Base::Mat3 aboutZ = Base::Mat3::BuildRotation(0.25f * Base::kPi, Vec3(0, 0, 1));
  const Base::Mat3 aboutX = Base::Mat3::BuildRotation(0.25f * Base::kPi, Vec3(1, 0, 0));
  ZarnPhys::Entity* a = scene.Box({0, 0, 0}, {1, 1, 1}, false, aboutZ);
  ZarnPhys::Entity* b = scene.Box({0, 2.0f * root2 - 0.1f, 0}, {1, 1, 1}, false, aboutX);
  const Contact c = Probe(a, b);
  ASSERT_TRUE(c.hit);
  EXPECT_LT(AngleDegrees(c.normal, {0, 1, 0}), 1.0f);
  EXPECT_NEAR(c.depth, 0.1f, 2e-3f);
  EXPECT_NEAR(c.contactA.y, root2, 1e-2f);
  EXPECT_NEAR(c.contactA.x, 0.0f, 1e-2f);
  EXPECT_NEAR(c.contactA.z, 0.0f, 1e-2f);
}

TEST(NarrowPhase, CapsuleOnGroundThroughGjk) {
  Scene scene;
  ZarnPhys::Entity* ground = scene.Ground(0.0f);
  // Radius 0.3, cylinder half height 0.5: the lowest point sits 0.8 under the centre.
  ZarnPhys::Entity* capsule = scene.Capsule({1.0f, 0.75f, 2.0f}, 0.3f, 0.5f);
  const Contact c = Probe(ground, capsule);
  ASSERT_TRUE(c.hit);
  // The pair turns the capsule into collider A: the normal points from it down into the ground.
  EXPECT_LT(AngleDegrees(c.normal, {0, -1, 0}), 1.0f);
  EXPECT_NEAR(c.depth, 0.05f, 1e-3f);
  EXPECT_NEAR(c.contactA.y, -0.05f, 1e-2f);
}

TEST(NarrowPhase, RotationLockedCapsuleOnGroundReportsItsRealDepth) {
  Scene scene;
  ZarnPhys::Entity* ground = scene.Ground(0.0f);
  ZarnPhys::Entity* capsule = scene.Capsule({0.0f, 0.7f, 0.0f}, 0.3f, 0.5f, true, true);
  CollisionPair pair(ground->collider, capsule->collider);
  ASSERT_TRUE(pair.Collide());
  EXPECT_EQ(pair.GetColliderA(), capsule->collider);
  EXPECT_EQ(pair.GetNormal(), Vec3(0, -1, 0));
  EXPECT_NEAR(pair.GetDepth(), 0.1f, 1e-5f);
  EXPECT_NEAR(pair.GetContactA().y, -0.1f, 1e-5f);
}

TEST(NarrowPhase, GhostPairsCollideWithoutContactData) {
  Scene scene;
  ZarnPhys::Entity* a = scene.Sphere({0, 0, 0}, 0.5f, true, ZarnPhys::ColliderFlag_Ghost);
  ZarnPhys::Entity* b = scene.Sphere({0.5f, 0, 0}, 0.5f);
  const Contact c = Probe(a, b);
  EXPECT_TRUE(c.hit);
  EXPECT_EQ(c.normal, Vec3());
  EXPECT_EQ(scene.space.GetEvents(ZarnPhys::PhysicsSpace::EventList_Start).size(), 1u);
}

}  // namespace

namespace {

TEST(NarrowPhase, DeepSphereInBoxFallsBackToThePolytopeSearch) {
  PhysTest::Scene scene;
  ZarnPhys::Entity* box = scene.Box({0, 0, 0}, {1, 1, 1}, false);
  ZarnPhys::Entity* sphere = scene.Sphere({0.1f, 0.9f, -0.1f}, 0.3f, false);
  const Contact c = Probe(box, sphere);
  ASSERT_TRUE(c.hit);
  // Ten vertices approximate the curve: a sound depth and a normal near the true one, never dropped.
  EXPECT_GT(c.depth, 0.3f);
  EXPECT_LT(c.depth, 0.45f);
  EXPECT_LT(AngleDegrees(c.normal, {0, 1, 0}), 25.0f);
}

}  // namespace
