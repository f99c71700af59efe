// Rays and planes against a space's colliders: the records the ray cast and the plane
// classification work with, and the normal the last classification leaned on.
#pragma once

#include <cstdint>

#include "Base/Vector.h"

namespace ZarnPhys {

struct Entity;

struct Ray {
  Base::Vec3 origin;
  Base::Vec3 direction;
  Base::Vec3 inverse;  // 1 / direction, per component
  bool inverseReady = false;

  Ray() = default;
  Ray(const Base::Vec3& origin, const Base::Vec3& direction);
  void ComputeInverse();
};

struct Plane {
  Base::Vec3 normal;
  float distance = 0.0f;  // normal . a point of the plane

  Plane() = default;
  // The vector is normalised unless its squared length is exactly 1.
  Plane(const Base::Vec3& vector, const Base::Vec3& point);
};

// The normal written by the last plane classification (ColliderBase::TestPlanes), in the engine's
// mirrored sense; (0, 0, 0) until one ran.
Base::Vec3 GetLastPlaneNormal();

}  // namespace ZarnPhys

namespace Physics {

struct SystemRaycastResult {
  ZarnPhys::Entity* entity = nullptr;
  float depth = 3.4028235e38f;  // along the unit direction; the largest float when nothing was hit
  Base::Vec3 collisionPoint;
  bool colliding = false;
  void* object = nullptr;  // the hit entity's game object
};

}  // namespace Physics

namespace ZarnPhys {

struct Box;
class ColliderBase;
class ColliderBoxLike;
class ColliderCapsule;
class ColliderSlant;
class ColliderSphere;

// Exact tests of one ray against one shape, for a ray whose direction has unit length. Each gives the
// distance along the ray and the hit flag; the caller works out the point. A ray that starts inside an
// exact box does not hit it; one that starts inside a sphere hits it at the distance back to the near
// surface while the centre lies ahead, and one that starts inside a capsule hits it where it leaves.
Physics::SystemRaycastResult RayBox(const Ray& ray, const Box& box, bool insideCounts);
Physics::SystemRaycastResult RayCube(const Ray& ray, const ColliderBoxLike& cube);
Physics::SystemRaycastResult RaySphere(const Ray& ray, const Base::Vec3& centre, float radius);
Physics::SystemRaycastResult RaySphere(const Ray& ray, const ColliderSphere& sphere);
Physics::SystemRaycastResult RayCapsule(const Ray& ray, const ColliderCapsule& capsule);
Physics::SystemRaycastResult RaySlant(const Ray& ray, const ColliderSlant& slant);
// The test of the collider's kind; polytopes and grounds are tested by their world box.
Physics::SystemRaycastResult RayCollider(const Ray& ray, const ColliderBase& collider);

}  // namespace ZarnPhys
