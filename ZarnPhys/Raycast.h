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
