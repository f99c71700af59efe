// Ray casts through real spaces (nearest hit per kind, filters, rays that start inside shapes) and the
// classification of colliders against six planes with the normal it leaves behind.
#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "../Support/LogCapture.h"
#include "Base/MathUtil.h"
#include "PhysScene.h"
#include "ZarnPhys/Raycast.h"

namespace {

using Base::Vec3;
using Physics::SystemRaycastResult;
using PhysTest::Scene;
using ZarnPhys::Entity;

constexpr uint32_t kAll = 0xFFFFFFFFu;

SystemRaycastResult Cast(Scene& scene, const Vec3& origin, const Vec3& direction, uint32_t mask = kAll,
                         const Entity* const* ignore = nullptr, int32_t ignoreCount = 0) {
  SystemRaycastResult result;
  scene.space.Raycast(result, origin, direction, ignore, ignoreCount, mask);
  return result;
}

void ExpectMiss(const SystemRaycastResult& r) {
  EXPECT_FALSE(r.colliding);
  EXPECT_EQ(r.entity, nullptr);
  EXPECT_EQ(r.depth, 3.4028235e38f);
  EXPECT_EQ(r.object, nullptr);
}

void ExpectNear(const Vec3& a, const Vec3& b) {
  EXPECT_NEAR(a.x, b.x, 1e-4f);
  EXPECT_NEAR(a.y, b.y, 1e-4f);
  EXPECT_NEAR(a.z, b.z, 1e-4f);
}

bool Listed(Scene& scene, const Entity* entity) {
  const auto& candidates = scene.space.GetTree().GetRaycastCandidates();
  return std::any_of(candidates.begin(), candidates.end(), [entity](const auto& c) { return c.entity == entity; });
}

Entity* Slant(Scene& scene, const Vec3& p, const Vec3& h) {
  return scene.Collider(ZarnPhys::ColliderKind_Slant, h, h, Scene::At(p));
}

TEST(Raycast, NearestHitGivesEntityDistancePointAndObject) {
  Scene scene;
  int farTag = 0, nearTag = 0;
  scene.Box({0, 0, 20}, {1, 1, 1}, false)->userData.object = &farTag;
  Entity* sphere = scene.Sphere({0, 0, 10}, 1.0f, false);
  sphere->userData.object = &nearTag;

  const SystemRaycastResult r = Cast(scene, {0, 0, 0}, {0, 0, 1});
  ASSERT_TRUE(r.colliding);
  EXPECT_EQ(r.entity, sphere);
  EXPECT_FLOAT_EQ(r.depth, 9.0f);
  ExpectNear(r.collisionPoint, {0, 0, 9});
  EXPECT_EQ(r.object, &nearTag);

  // Away from both, and with neither ahead.
  ExpectMiss(Cast(scene, {5, 0, 0}, {0, 0, 1}));
  ExpectMiss(Cast(scene, {0, 0, 0}, {0, 0, -1}));
}

TEST(Raycast, DistanceIsInUnitsOfTheGivenDirection) {
  Scene scene;
  scene.Sphere({0, 0, 10}, 1.0f, false);
  const SystemRaycastResult r = Cast(scene, {0, 0, 0}, {0, 0, 2});
  ASSERT_TRUE(r.colliding);
  EXPECT_FLOAT_EQ(r.depth, 4.5f);
  ExpectNear(r.collisionPoint, {0, 0, 9});
}

TEST(Raycast, DegenerateRaysHitNothingAndAreReported) {
  Scene scene;
  scene.Sphere({0, 0, 0}, 5.0f, false);
  scene.Box({0, 0, 0}, {1, 1, 1}, false);
  OrvTest::LogCapture log;
  ExpectMiss(Cast(scene, {0, 0, -10}, {0, 0, 0}));
  EXPECT_NE(log.Take().find("direction has no length"), std::string::npos);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ExpectMiss(Cast(scene, {0, 0, -10}, {nan, 0, 1}));
  ExpectMiss(Cast(scene, {0, nan, -10}, {0, 0, 1}));
  EXPECT_NE(log.Take().find("not a finite vector"), std::string::npos);
}

// A component so small that its inverse overflows counts as parallel: no infinity times zero.
TEST(Raycast, BoxTestTakesAVanishingComponentAsParallel) {
  const ZarnPhys::Box slab{{-50, -1, -50}, {50, 0, 50}};
  const SystemRaycastResult onFace = ZarnPhys::RayBox(ZarnPhys::Ray({50, 10, 0}, {1e-39f, -1, 0}), slab, false);
  EXPECT_TRUE(onFace.colliding);
  EXPECT_FLOAT_EQ(onFace.depth, 10.0f);
  EXPECT_FALSE(ZarnPhys::RayBox(ZarnPhys::Ray({51, 10, 0}, {0, -1, 0}), slab, false).colliding);
  // Without a ready inverse the test works one out.
  ZarnPhys::Ray unprepared;
  unprepared.origin = {0, 10, 0};
  unprepared.direction = {0, -1, 0};
  EXPECT_FLOAT_EQ(ZarnPhys::RayBox(unprepared, slab, false).depth, 10.0f);
  const SystemRaycastResult inside = ZarnPhys::RayBox(ZarnPhys::Ray({0, -0.5f, 0}, {0, 1, 0}), slab, true);
  EXPECT_TRUE(inside.colliding);
  EXPECT_EQ(inside.depth, 0.0f);
}

TEST(Raycast, EmptySpaceOrListModeHitsNothing) {
  Scene scene;
  ExpectMiss(Cast(scene, {0, 0, 0}, {0, 0, 1}));
  scene.Sphere({0, 0, 10}, 1.0f, false);
  scene.space.SetTreeMode(false);
  ExpectMiss(Cast(scene, {0, 0, 0}, {0, 0, 1}));
}

TEST(Raycast, StartingInsideACubeIsNoHitButTheWalkListsIt) {
  Scene scene;
  Entity* cube = scene.Box({0, 0, 0}, {1, 1, 1}, false);
  Entity* sphere = scene.Sphere({0, 0, 5}, 1.0f, false);
  Entity* aside = scene.Sphere({20, 0, 0}, 1.0f, false);
  const SystemRaycastResult r = Cast(scene, {0, 0, 0}, {0, 0, 1});
  EXPECT_EQ(r.entity, sphere);
  EXPECT_FLOAT_EQ(r.depth, 4.0f);
  EXPECT_TRUE(Listed(scene, cube));
  EXPECT_TRUE(Listed(scene, sphere));
  EXPECT_FALSE(Listed(scene, aside));
}

// From inside a sphere whose centre lies ahead, the ray is stopped at the distance back to the near
// surface behind its origin; one that already points away from the centre, or starts at it, passes.
TEST(Raycast, StartingInsideASphereHitsWhereTheRayLeavesIt) {
  Scene scene;
  Entity* sphere = scene.Sphere({0, 0, 0.5f}, 1.0f, false);
  Entity* behindIt = scene.Sphere({0, 0, 10}, 1.0f, false);
  scene.Sphere({0, 0, -10}, 1.0f, false);
  // Along the centre line the far surface is at z = 1.5.
  const SystemRaycastResult r = Cast(scene, {0, 0, 0}, {0, 0, 1});
  EXPECT_EQ(r.entity, sphere);
  EXPECT_FLOAT_EQ(r.depth, 1.5f);
  ExpectNear(r.collisionPoint, {0, 0, 1.5f});
  // Off the centre line: the line passes 0.6 from the centre, meeting the surface 0.8 either side of
  // z = 0.5, so it leaves at z = 1.3.
  Scene offset;
  Entity* aside = offset.Sphere({0.6f, 0, 0.5f}, 1.0f, false);
  const SystemRaycastResult o = Cast(offset, {0, 0, 0}, {0, 0, 1});
  EXPECT_EQ(o.entity, aside);
  EXPECT_NEAR(o.depth, 1.3f, 1e-5f);

  // Pointing away from the centre, or from the centre itself, the ray still leaves through the surface:
  // 0.5 back to z = -0.5, and a radius out from the centre.
  const SystemRaycastResult away = Cast(scene, {0, 0, 0}, {0, 0, -1});
  EXPECT_EQ(away.entity, sphere);
  EXPECT_FLOAT_EQ(away.depth, 0.5f);
  const SystemRaycastResult fromCentre = Cast(offset, {0.6f, 0, 0.5f}, {1, 0, 0});
  EXPECT_EQ(fromCentre.entity, aside);
  EXPECT_NEAR(fromCentre.depth, 1.0f, 1e-6f);

  // On the surface is not inside: the hit is at the origin.
  const SystemRaycastResult touching = Cast(scene, {0, 0, 9}, {0, 0, 1});
  EXPECT_EQ(touching.entity, behindIt);
  EXPECT_NEAR(touching.depth, 0.0f, 1e-6f);
}

// From inside a capsule (radius 0.5, axis from y = -1 to y = 1), the ray is stopped where it leaves.
TEST(Raycast, StartingInsideACapsuleHitsWhereTheRayLeavesIt) {
  Scene scene;
  Entity* capsule = scene.Capsule({0, 0, 0}, 0.5f, 1.0f, false);
  // Up the axis, out through the top of the upper cap at y = 1.5.
  const SystemRaycastResult up = Cast(scene, {0, 0, 0}, {0, 1, 0});
  EXPECT_EQ(up.entity, capsule);
  EXPECT_NEAR(up.depth, 1.5f, 1e-5f);
  ExpectNear(up.collisionPoint, {0, 1.5f, 0});
  // From inside the upper cap, down the whole length to y = -1.5.
  EXPECT_NEAR(Cast(scene, {0, 1.2f, 0}, {0, -1, 0}).depth, 2.7f, 1e-5f);
  // Across the side from off the axis: out at x = -0.5.
  const SystemRaycastResult across = Cast(scene, {0.3f, -0.5f, 0}, {-1, 0, 0});
  EXPECT_NEAR(across.depth, 0.8f, 1e-5f);
  ExpectNear(across.collisionPoint, {-0.5f, -0.5f, 0});
  // Slanted from the centre: out through the side at (0.5, 0.5, 0), 0.5 * sqrt(2) away.
  const SystemRaycastResult slanted = Cast(scene, {0, 0, 0}, Vec3(1, 1, 0).Normalized());
  EXPECT_NEAR(slanted.depth, 0.70710678f, 1e-5f);
  ExpectNear(slanted.collisionPoint, {0.5f, 0.5f, 0});
  // Sideways inside the upper cap, 0.2 above the cap's centre: out through the cap sphere, sqrt(0.21)
  // away (the side's cylinder is left further out, above its top).
  EXPECT_NEAR(Cast(scene, {0, 1.2f, 0}, {1, 0, 0}).depth, 0.45825757f, 1e-5f);

  // Lying along x, it is left at x = 1.5.
  Scene lying;
  lying.Collider(ZarnPhys::ColliderKind_Capsule, {0.5f, 1.0f, 0}, {1.5f, 1.5f, 1.5f},
                 Scene::At({0, 0, 0}, Base::Mat3(Base::kPi / 2, Vec3(0, 0, 1))));
  EXPECT_NEAR(Cast(lying, {0, 0, 0}, {1, 0, 0}).depth, 1.5f, 1e-5f);
  EXPECT_NEAR(Cast(lying, {0, 0, 0}, {0, -1, 0}).depth, 0.5f, 1e-5f);
}

TEST(Raycast, CapsuleSideAndEnds) {
  Scene scene;
  Entity* capsule = scene.Capsule({0, 0, 0}, 0.5f, 1.0f, false);
  SystemRaycastResult side = Cast(scene, {5, 0.5f, 0}, {-1, 0, 0});
  EXPECT_EQ(side.entity, capsule);
  EXPECT_FLOAT_EQ(side.depth, 4.5f);
  EXPECT_FLOAT_EQ(Cast(scene, {0, 5, 0}, {0, -1, 0}).depth, 3.5f);
  EXPECT_FLOAT_EQ(Cast(scene, {0, -5, 0}, {0, 1, 0}).depth, 3.5f);
  // Just past the top of the side, a sideways ray meets the cap sphere, further in than the radius.
  const SystemRaycastResult cap = Cast(scene, {5, 1.3f, 0}, {-1, 0, 0});
  EXPECT_NEAR(cap.depth, 5.0f - 0.4f, 1e-5f);

  // Slanted down onto the side: the hit lies on the cylinder, at the radius from the axis.
  const Vec3 origin{3, 3, 0};
  const Vec3 down = Vec3(-1, -1, 0).Normalized();
  const SystemRaycastResult slanted = Cast(scene, origin, down);
  ASSERT_TRUE(slanted.colliding);
  EXPECT_NEAR(slanted.depth, 2.5f * std::sqrt(2.0f), 1e-4f);
  ExpectNear(slanted.collisionPoint, {0.5f, 0.5f, 0});

  // Lying along x, the capsule is long across and short through.
  Scene lying;
  lying.Collider(ZarnPhys::ColliderKind_Capsule, {0.5f, 1.0f, 0}, {1.5f, 1.5f, 1.5f},
                 Scene::At({0, 0, 0}, Base::Mat3(Base::kPi / 2, Vec3(0, 0, 1))));
  EXPECT_NEAR(Cast(lying, {5, 0, 0}, {-1, 0, 0}).depth, 3.5f, 1e-5f);
  EXPECT_NEAR(Cast(lying, {0.8f, 5, 0}, {0, -1, 0}).depth, 4.5f, 1e-5f);
  ExpectMiss(Cast(lying, {0, 5, 1.0f}, {0, -1, 0}));
}

TEST(Raycast, RotatedCubeIsHitAtItsCorner) {
  Scene scene;
  scene.Box({0, 0, 0}, {1, 1, 1}, false, Base::Mat3(Base::kPi / 4, Vec3(0, 1, 0)));
  EXPECT_NEAR(Cast(scene, {5, 0, 0}, {-1, 0, 0}).depth, 5.0f - std::sqrt(2.0f), 1e-5f);
  // Beyond the unrotated box's reach in z, the turned corner is still hit; past the corner, nothing.
  EXPECT_NEAR(Cast(scene, {5, 0, 1.2f}, {-1, 0, 0}).depth, 5.0f - (std::sqrt(2.0f) - 1.2f), 1e-5f);
  ExpectMiss(Cast(scene, {5, 0, 1.45f}, {-1, 0, 0}));
}

TEST(Raycast, GroundAndPolytopeAreTestedByTheirWorldBox) {
  Scene scene;
  Entity* ground = scene.Ground(0.0f);
  const SystemRaycastResult down = Cast(scene, {3, 10, 3}, {0, -1, 0});
  EXPECT_EQ(down.entity, ground);
  EXPECT_FLOAT_EQ(down.depth, 10.0f);
  ExpectMiss(Cast(scene, {3, -0.5f, 3}, {0, 1, 0}));  // inside the slab: inside does not count

  const Vec3 tetra[] = {{1, 0, 0}, {-1, 0, 0}, {0, 2, 0}, {0, 0, 1}};
  ZarnPhys::ColliderDescription d;
  d.kind = ZarnPhys::ColliderKind_Polytope;
  d.vertices = tetra;
  d.vertexCount = 4;
  Entity* slot = nullptr;
  Entity* polytope = scene.space.CreateCollider(&slot, d, Scene::At({0, 5, 0}));
  const SystemRaycastResult r = Cast(scene, {0, 5, -10}, {0, 0, 1});
  EXPECT_EQ(r.entity, polytope);
  EXPECT_FLOAT_EQ(r.depth, 9.0f);  // the spanned box reaches z = -1
}

TEST(Raycast, SlantNeverBlocks) {
  Scene scene;
  Entity* slant = Slant(scene, {0, 0, 3}, {2, 2, 2});
  Entity* sphere = scene.Sphere({0, 0, 10}, 1.0f, false);
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}).entity, sphere);
  EXPECT_TRUE(Listed(scene, slant));
}

TEST(Raycast, IgnoreListFlagAndMaskFilterColliders) {
  Scene scene;
  Entity* nearest = scene.Sphere({0, 0, 5}, 1.0f, false);
  Entity* middle = scene.Sphere({0, 0, 10}, 1.0f, false);
  Entity* farthest = scene.Sphere({0, 0, 15}, 1.0f, false);
  scene.Sphere({0, 0, 2}, 0.5f, false, ZarnPhys::ColliderFlag_IgnoreRaycast);
  nearest->collider->SetCollisionGroup(1u << 3);
  middle->collider->SetCollisionGroup(1u << 4);
  farthest->collider->SetCollisionGroup(0);

  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}).entity, nearest);
  const Entity* ignoreNearest[] = {nearest};
  const SystemRaycastResult next = Cast(scene, {0, 0, 0}, {0, 0, 1}, kAll, ignoreNearest, 1);
  EXPECT_EQ(next.entity, middle);
  EXPECT_FLOAT_EQ(next.depth, 9.0f);
  const Entity* ignoreTwo[] = {middle, nearest};
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, kAll, ignoreTwo, 2).entity, farthest);
  // A count without a list, or a negative count, ignores nothing.
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, kAll, nullptr, 3).entity, nearest);
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, kAll, ignoreNearest, -1).entity, nearest);

  ExpectMiss(Cast(scene, {0, 0, 0}, {0, 0, 1}, 0));
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, 1u << 4).entity, middle);
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, (1u << 4) | (1u << 3)).entity, nearest);
  // All bits take even the collider of no group.
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}, kAll, ignoreTwo, 2).entity, farthest);
  ExpectMiss(Cast(scene, {0, 0, 0}, {0, 0, 1}, 0x7FFFFFFFu, ignoreTwo, 2));
}

TEST(Raycast, RemovedColliderIsNoLongerHit) {
  Scene scene;
  Entity* nearest = scene.Sphere({0, 0, 5}, 1.0f, false);
  Entity* farther = scene.Sphere({0, 0, 10}, 1.0f, false);
  scene.space.RemoveCollider(nearest);
  EXPECT_EQ(Cast(scene, {0, 0, 0}, {0, 0, 1}).entity, farther);
}

// Six planes bounding the cube [-10, 10]^3, normals pointing in.
class PlaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    planes_[0] = ZarnPhys::Plane({1, 0, 0}, {-10, 0, 0});
    planes_[1] = ZarnPhys::Plane({-1, 0, 0}, {10, 0, 0});
    planes_[2] = ZarnPhys::Plane({0, 1, 0}, {0, -10, 0});
    planes_[3] = ZarnPhys::Plane({0, -1, 0}, {0, 10, 0});
    planes_[4] = ZarnPhys::Plane({0, 0, 1}, {0, 0, -10});
    planes_[5] = ZarnPhys::Plane({0, 0, -1}, {0, 0, 10});
  }
  // Leaves the last plane normal at zero, as it was before any classification.
  void TearDown() override {
    Entity* inside = scene_.Sphere({0, 0, 0}, 1.0f, false);
    inside->collider->TestPlanes(planes_);
  }
  int32_t Classify(Entity* entity) const { return entity->collider->TestPlanes(planes_); }

  Scene scene_;
  ZarnPhys::Plane planes_[6];
};

TEST_F(PlaneTest, PlaneIsNormalisedWithItsDistance) {
  const ZarnPhys::Plane plane({0, 3, 0}, {7, 2, 5});
  EXPECT_EQ(plane.normal, Vec3(0, 1, 0));
  EXPECT_FLOAT_EQ(plane.distance, 2.0f);
  const ZarnPhys::Plane unit({1, 0, 0}, {4, 0, 0});
  EXPECT_FLOAT_EQ(unit.distance, 4.0f);
  // No vector, no direction: a zero normal rather than a division by zero.
  const ZarnPhys::Plane none({0, 0, 0}, {1, 2, 3});
  EXPECT_EQ(none.normal, Vec3());
  EXPECT_EQ(none.distance, 0.0f);
}

TEST_F(PlaneTest, InsideOutsideAndStraddling) {
  EXPECT_EQ(Classify(scene_.Box({0, 0, 0}, {2, 2, 2}, false)), 0);
  EXPECT_EQ(ZarnPhys::GetLastPlaneNormal(), Vec3());

  // Wholly beyond the +x plane: its normal, mirrored in x and y.
  EXPECT_EQ(Classify(scene_.Sphere({20, 0, 0}, 1.0f, false)), 1);
  ExpectNear(ZarnPhys::GetLastPlaneNormal(), {1, 0, 0});

  // Across the +x and +y planes: the average of their normals, mirrored.
  EXPECT_EQ(Classify(scene_.Box({10, 10, 0}, {1, 1, 1}, false)), 2);
  ExpectNear(ZarnPhys::GetLastPlaneNormal(), {0.5f, 0.5f, 0});

  // z is not mirrored.
  EXPECT_EQ(Classify(scene_.Capsule({0, 0, 10}, 1.0f, 1.0f, false)), 2);
  ExpectNear(ZarnPhys::GetLastPlaneNormal(), {0, 0, -1});

  // Cut by the -x plane but wholly outside the +y one: outside wins.
  EXPECT_EQ(Classify(scene_.Box({-10, 20, 0}, {1, 1, 1}, false)), 1);
  ExpectNear(ZarnPhys::GetLastPlaneNormal(), {0, 1, 0});

  // A rotated cube whose corner alone crosses the +x plane.
  const Base::Mat3 turned(Base::kPi / 4, Vec3(0, 1, 0));
  EXPECT_EQ(Classify(scene_.Box({8.9f, 0, 0}, {1, 1, 1}, false, turned)), 2);
  EXPECT_EQ(Classify(scene_.Box({8.9f, 0, 0}, {1, 1, 1}, false)), 0);

  // Back inside: no plane to average, so the normal is zero rather than a division by zero.
  EXPECT_EQ(Classify(scene_.Sphere({0, 0, 0}, 1.0f, false)), 0);
  EXPECT_EQ(ZarnPhys::GetLastPlaneNormal(), Vec3());
}

}  // namespace
