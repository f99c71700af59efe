// Ray casts through a space's broad-phase tree with an exact test per collider kind, and the
// classification of a collider against the six planes of a view volume.
#include "ZarnPhys/Raycast.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "Base/Assert.h"
#include "Base/MathUtil.h"
#include "ZarnPhys/Collider.h"
#include "ZarnPhys/DynamicAABBTree.h"
#include "ZarnPhys/Log.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace ZarnPhys {

namespace {

using Physics::SystemRaycastResult;

// Below this squared length a direction has no usable orientation (a ray along a capsule's axis).
constexpr float kParallelEpsilon = 1.1920929e-07f;

Base::Vec3& LastPlaneNormal() {
  static Base::Vec3 normal;
  return normal;
}

bool IsFinite(const Base::Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The engine mirrors the x and y of the normals it reports from a classification.
Base::Vec3 Mirrored(const Base::Vec3& n) { return {-n.x, -n.y, n.z}; }

SystemRaycastResult Hit(float distance) {
  SystemRaycastResult result;
  result.depth = distance;
  result.colliding = true;
  return result;
}

// Narrows [tNear, tFar] to the ray's stretch between two faces of a box on one axis; false when
// the ray runs parallel to the faces outside them.
inline bool Slab(float origin, float direction, float inverse, float min, float max, float& tNear, float& tFar) {
  // A direction so small that its inverse overflows is as parallel as a zero one.
  if (direction == 0.0f || !std::isfinite(inverse)) return origin >= min && origin <= max;
  const float t1 = (min - origin) * inverse;
  const float t2 = (max - origin) * inverse;
  tNear = std::max(tNear, std::min(t1, t2));
  tFar = std::min(tFar, std::max(t1, t2));
  return true;
}

// The ray in the frame of an entity: origin and unit direction through the inverse orientation.
Ray ToLocal(const Ray& ray, const Entity& entity) {
  const Base::Mat3 toLocal = entity.orientation.Inverse();
  return Ray(toLocal * (ray.origin - entity.position), (toLocal * ray.direction).Normalized());
}

// Where a ray leaves a sphere its line meets; false when the line passes it by.
bool SphereExit(const Ray& ray, const Base::Vec3& centre, float radius, float& t) {
  const Base::Vec3 toCentre = centre - ray.origin;
  const float tca = toCentre.Dot(ray.direction);
  const float e2 = toCentre.LengthSquared() - tca * tca;
  if (e2 > radius * radius) return false;
  t = tca + std::sqrt(std::max(radius * radius - e2, 0.0f));
  return true;
}

}  // namespace

Ray::Ray(const Base::Vec3& origin_, const Base::Vec3& direction_) : origin(origin_), direction(direction_) {
  ComputeInverse();
}

// A zero component keeps a zero inverse: the slab test treats that axis as parallel and never divides.
void Ray::ComputeInverse() {
  inverse = {direction.x != 0.0f ? 1.0f / direction.x : 0.0f, direction.y != 0.0f ? 1.0f / direction.y : 0.0f,
             direction.z != 0.0f ? 1.0f / direction.z : 0.0f};
  inverseReady = true;
}

Plane::Plane(const Base::Vec3& vector, const Base::Vec3& point) : normal(vector) {
  if (normal.LengthSquared() != 1.0f) normal.Normalize();
  distance = normal.Dot(point);
}

Base::Vec3 GetLastPlaneNormal() { return LastPlaneNormal(); }

SystemRaycastResult RayBox(const Ray& ray, const Box& box, bool insideCounts) {
  SystemRaycastResult result;
  const Base::Vec3& o = ray.origin;
  if (o.x >= box.min.x && o.x <= box.max.x && o.y >= box.min.y && o.y <= box.max.y && o.z >= box.min.z &&
      o.z <= box.max.z) {
    result.depth = 0.0f;
    result.colliding = insideCounts;
    return result;
  }

  const Base::Vec3& d = ray.direction;
  const Base::Vec3 inv = ray.inverseReady ? ray.inverse : Ray(o, d).inverse;
  float tNear = -FLT_MAX;
  float tFar = FLT_MAX;
  if (!Slab(o.x, d.x, inv.x, box.min.x, box.max.x, tNear, tFar) ||
      !Slab(o.y, d.y, inv.y, box.min.y, box.max.y, tNear, tFar) ||
      !Slab(o.z, d.z, inv.z, box.min.z, box.max.z, tNear, tFar))
    return result;
  if (tFar >= tNear && tNear >= 0.0f) return Hit(tNear);
  return result;
}

SystemRaycastResult RayCube(const Ray& ray, const ColliderBoxLike& cube) {
  const Base::Vec3& h = cube.GetHalfExtents();
  SystemRaycastResult result = RayBox(ToLocal(ray, *cube.GetEntity()), Box{-h, h}, false);
  if (result.colliding) result.entity = cube.GetEntity();
  return result;
}

// The near crossing of the ray's line with the sphere, as a distance from the origin. From inside, with
// the centre ahead, that crossing lies behind the origin and its distance is still reported: a ray is
// stopped by the sphere it starts in unless it already points away from the centre.
SystemRaycastResult RaySphere(const Ray& ray, const Base::Vec3& centre, float radius) {
  SystemRaycastResult result;
  const Base::Vec3 toCentre = centre - ray.origin;
  const float tca = toCentre.Dot(ray.direction);
  if (tca <= 0.0f) return result;
  const Base::Vec3 closest = ray.origin + ray.direction * tca;
  const float e2 = (closest - centre).LengthSquared();
  const float r2 = radius * radius;
  if (e2 > r2) return result;
  const Base::Vec3 surface = closest - ray.direction * std::sqrt(r2 - e2);
  return Hit((surface - ray.origin).Length());
}

// A ray that starts inside the sphere is stopped where it leaves, as a capsule's is: the near-surface
// distance of the outside test would lie behind the origin and name a point inside the sphere.
SystemRaycastResult RaySphere(const Ray& ray, const ColliderSphere& sphere) {
  const Base::Vec3& centre = sphere.GetEntity()->position;
  const float radius = sphere.GetRadius();
  SystemRaycastResult result;
  float exit = 0.0f;
  if ((ray.origin - centre).LengthSquared() < radius * radius) {
    if (SphereExit(ray, centre, radius, exit)) result = Hit(exit);
  } else {
    result = RaySphere(ray, centre, radius);
  }
  if (result.colliding) result.entity = sphere.GetEntity();
  return result;
}

// The side is the cylinder around the axis from (0, -h, 0) to (0, +h, 0), met where the ray first
// reaches its radius; the ends are the two cap spheres. Solving for the cylinder itself (rather than
// testing one sphere where the ray crosses the axis plane) keeps slanted rays on the surface. A ray
// that starts inside is stopped where it leaves: the capsule is convex, so that is the farthest of the
// places where it leaves the side and the two cap spheres.
SystemRaycastResult RayCapsule(const Ray& ray, const ColliderCapsule& capsule) {
  SystemRaycastResult result;
  const Ray local = ToLocal(ray, *capsule.GetEntity());
  const Base::Vec3& o = local.origin;
  const Base::Vec3& d = local.direction;
  const float h = capsule.GetHalfHeight();
  const float r = capsule.GetRadius();

  const Base::Vec3 nearestOnAxis(0.0f, Base::Clamp(o.y, -h, h), 0.0f);
  const bool inside = (o - nearestOnAxis).LengthSquared() < r * r;

  const float a = d.x * d.x + d.z * d.z;
  if (a >= kParallelEpsilon) {
    const float b = o.x * d.x + o.z * d.z;
    const float c = o.x * o.x + o.z * o.z - r * r;
    const float discriminant = b * b - a * c;
    if (discriminant >= 0.0f) {
      const float root = std::sqrt(discriminant);
      const float t = (inside ? -b + root : -b - root) / a;
      const float y = o.y + d.y * t;
      if (t >= 0.0f && y >= -h && y <= h) result = Hit(t);
    }
  }

  for (const float end : {h, -h}) {
    const Base::Vec3 centre(0.0f, end, 0.0f);
    if (inside) {
      float t = 0.0f;
      if (SphereExit(local, centre, r, t) && t >= 0.0f && (!result.colliding || t > result.depth)) result = Hit(t);
      continue;
    }
    const SystemRaycastResult cap = RaySphere(local, centre, r);
    if (cap.colliding && cap.depth < result.depth) result = cap;
  }
  if (result.colliding) result.entity = capsule.GetEntity();
  return result;
}

// A slant is invisible to rays: nothing stands behind a ramp that a ray should stop at.
SystemRaycastResult RaySlant(const Ray&, const ColliderSlant&) { return {}; }

SystemRaycastResult RayCollider(const Ray& ray, const ColliderBase& collider) {
  switch (collider.GetKind()) {
    case ColliderKind_Cube: return RayCube(ray, static_cast<const ColliderBoxLike&>(collider));
    case ColliderKind_Sphere: return RaySphere(ray, static_cast<const ColliderSphere&>(collider));
    case ColliderKind_Capsule: return RayCapsule(ray, static_cast<const ColliderCapsule&>(collider));
    case ColliderKind_Slant: return RaySlant(ray, static_cast<const ColliderSlant&>(collider));
    case ColliderKind_Polytope:
    case ColliderKind_Ground: {
      SystemRaycastResult result = RayBox(ray, collider.ComputeBounds(), false);
      if (result.colliding) result.entity = collider.GetEntity();
      return result;
    }
    default: return {};
  }
}

int32_t ColliderBase::TestPlanes(const Plane planes[6]) const {
  ORV_ASSERT(m_entity && planes);
  Base::Vec3 straddlingSum;
  int32_t straddling = 0;
  for (int i = 0; i < 6; ++i) {
    const Base::Vec3& n = planes[i].normal;
    const float delta = planes[i].distance;
    const float ahead = n.Dot(Support(n));
    const float behind = n.Dot(Support(-n));
    if (ahead < delta && behind < delta) {
      LastPlaneNormal() = Mirrored(n);
      return 1;
    }
    if (ahead > delta && behind > delta) continue;
    straddlingSum += n;
    ++straddling;
  }
  // With no plane cutting the collider there is nothing to average: the normal is zero.
  LastPlaneNormal() = straddling > 0 ? Mirrored(straddlingSum / float(straddling)) : Base::Vec3();
  return straddling > 0 ? 2 : 0;
}

Physics::SystemRaycastResult& PhysicsSpace::Raycast(Physics::SystemRaycastResult& result, const Base::Vec3& origin,
                                                    const Base::Vec3& direction, const Entity* const* ignore,
                                                    int32_t ignoreCount, uint32_t mask) {
  result = SystemRaycastResult();
  if (!IsFinite(origin) || !IsFinite(direction)) {
    PHYS_LOG(Warning, "Raycast: the origin or direction is not a finite vector; nothing is hit");
    return result;
  }
  // The exact tests need a unit direction; distances go back to the caller in units of its own.
  const float length = direction.Length();
  if (length == 0.0f) {
    PHYS_LOG(Warning, "Raycast: the direction has no length; nothing is hit");
    return result;
  }
  if (!ignore || ignoreCount < 0) ignoreCount = 0;
  if (!m_treeMode || m_tree.GetRoot() == DynamicAABBTree::kNone) return result;

  const Ray ray(origin, direction / length);
  m_tree.RaycastNodes(ray);

  // The nearest hit, the first of equals: what the first entry of a stably sorted hit list would be.
  Entity* nearest = nullptr;
  float nearestDistance = FLT_MAX;
  for (const DynamicAABBTree::RaycastCandidate& candidate : m_tree.GetRaycastCandidates()) {
    const Entity* entity = candidate.entity;
    const ColliderBase* collider = entity ? entity->collider : nullptr;
    if (!collider || collider->GetIgnoreRaycast()) continue;
    if (std::find(ignore, ignore + ignoreCount, entity) != ignore + ignoreCount) continue;
    if (mask != 0xFFFFFFFFu && (mask & collider->GetGroupMask()) == 0) continue;
    const SystemRaycastResult hit = RayCollider(ray, *collider);
    if (hit.colliding && (!nearest || hit.depth < nearestDistance)) {
      nearest = collider->GetEntity();
      nearestDistance = hit.depth;
    }
  }
  if (!nearest) return result;

  result.entity = nearest;
  result.depth = nearestDistance / length;
  result.colliding = true;
  result.collisionPoint = origin + direction * result.depth;
  result.object = nearest->userData.object;
  return result;
}

}  // namespace ZarnPhys
