// Collider shapes of the library: volume and inertia for the rigid body, world box for the broad
// phase, support points for GJK and EPA, and the two pair sets that carry contacts from step to step.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "Base/Matrix.h"
#include "Base/Vector.h"
#include "ZarnPhys/Entity.h"

namespace ZarnPhys {

class DynamicAABBTree;
struct Plane;

struct Box {
  Base::Vec3 min;
  Base::Vec3 max;
};

// Contacts of one step: inline while few, a map once a fifth arrives.
struct PairSet {
  struct Entry {
    ColliderBase* other = nullptr;
    float impulse = 0.0f;
  };
  static constexpr int kInline = 4;

  Entry entries[kInline];
  std::unordered_map<ColliderBase*, float> map;
  int32_t count = 0;
  bool overflowed = false;
  // Entries whose collider was destroyed: each still ends its contact once, with no collider B.
  int32_t goneCount = 0;
};

class ColliderBase {
 public:
  static constexpr float kFatMargin = 0.2f;

  explicit ColliderBase(ColliderKind kind) : m_kind(kind) {}
  virtual ~ColliderBase() = default;
  ColliderBase(const ColliderBase&) = delete;
  ColliderBase& operator=(const ColliderBase&) = delete;

  virtual void SetFromDescription(const ColliderDescription& description);
  void SetEntity(Entity* entity) { m_entity = entity; }
  virtual float Volume() const = 0;
  // Diagonal inertia in the collider's frame; kinds without a formula give the identity.
  virtual Base::Mat3 InertiaTensor(float density) const;
  // The farthest world point in the unit direction `direction` (world space).
  Base::Vec3 Support(const Base::Vec3& direction) const;
  Box ComputeBounds() const;
  // Against six planes: 0 inside every plane, 1 wholly outside one, 2 cut by one. Writes the last
  // plane normal (Raycast.h).
  int32_t TestPlanes(const Plane planes[6]) const;

  ColliderKind GetKind() const { return m_kind; }
  Entity* GetEntity() const { return m_entity; }
  bool GetGhost() const { return m_ghost; }
  void SetGhost(bool ghost) { m_ghost = ghost; }
  bool GetIgnoreRaycast() const { return m_ignoreRaycast; }
  void SetIgnoreRaycast(bool ignore) { m_ignoreRaycast = ignore; }
  bool GetIgnoreCollisionEvent() const { return m_ignoreCollisionEvent; }
  void SetIgnoreCollisionEvent(bool ignore) { m_ignoreCollisionEvent = ignore; }
  uint32_t GetGroupMask() const { return m_groupMask; }
  void SetCollisionGroup(uint32_t mask) { m_groupMask = mask; }
  bool IsActive() const { return m_active; }
  void SetActive(bool active) { m_active = active; }
  const Base::Vec3& GetBoundingHalfExtents() const { return m_boundingHalfExtents; }

  // Pair sets: index 0 or 1; the step swaps them so that "previous" holds the last step's contacts.
  void AddPair(ColliderBase* other, float impulse, uint32_t set);
  bool FindPair(const ColliderBase* other, uint32_t set, float* impulse = nullptr) const;
  void RemovePair(const ColliderBase* other, uint32_t set);
  void SwapPairSets();
  uint32_t CurrentSet() const { return m_currentSet; }
  uint32_t PreviousSet() const { return m_previousSet; }
  const PairSet& GetPairSet(uint32_t set) const { return m_sets[set]; }
  // Drops every entry naming one of `gone` (sorted); with `keepEndings`, each still reports its end.
  void PurgePairs(const std::vector<const ColliderBase*>& gone, bool keepEndings);
  // Calls f(other) for each entry of the set (other null for a destroyed collider).
  template <typename F>
  void ForEachPair(uint32_t set, F&& f) const;

  // Broad-phase leaf, 0xFFFFFFFF when none.
  uint32_t leafIndex = 0xFFFFFFFFu;
  DynamicAABBTree* tree = nullptr;

 protected:
  void ReadCommon(const ColliderDescription& description);
  Base::Vec3 LocalSupport(const Base::Vec3& d) const;

  PairSet m_sets[2];
  ColliderKind m_kind;
  bool m_ghost = false;
  Entity* m_entity = nullptr;
  uint32_t m_currentSet = 0;
  uint32_t m_previousSet = 0;
  bool m_ignoreRaycast = false;
  Base::Vec3 m_boundingHalfExtents;
  uint32_t m_groupMask = 0xFFFFFFFFu;
  bool m_active = false;
  bool m_ignoreCollisionEvent = false;
};

class ColliderCapsule : public ColliderBase {
 public:
  ColliderCapsule() : ColliderBase(ColliderKind_Capsule) {}
  void SetFromDescription(const ColliderDescription& description) override;
  float Volume() const override;
  Base::Mat3 InertiaTensor(float density) const override;
  void SetRadius(float radius) { m_radius = radius; }
  void SetHalfHeight(float halfHeight) { m_halfHeight = halfHeight; }
  float GetRadius() const { return m_radius; }
  float GetHalfHeight() const { return m_halfHeight; }

 private:
  friend class ColliderBase;
  float m_radius = 0.0f;
  float m_halfHeight = 0.0f;
};

// Cube, ground and slant are all described by half extents.
class ColliderBoxLike : public ColliderBase {
 public:
  using ColliderBase::ColliderBase;
  void SetFromDescription(const ColliderDescription& description) override;
  void SetHalfExtents(const Base::Vec3& halfExtents) { m_halfExtents = halfExtents; }
  const Base::Vec3& GetHalfExtents() const { return m_halfExtents; }

 protected:
  friend class ColliderBase;
  Base::Vec3 m_halfExtents;
};

class ColliderCube : public ColliderBoxLike {
 public:
  ColliderCube() : ColliderBoxLike(ColliderKind_Cube) {}
  float Volume() const override;
  Base::Mat3 InertiaTensor(float density) const override;
};

class ColliderGround : public ColliderBoxLike {
 public:
  ColliderGround() : ColliderBoxLike(ColliderKind_Ground) {}
  float Volume() const override { return 1.0f; }
};

// A wedge: a box whose top face slopes from +hy at z = -hz down to -hy at z = +hz.
class ColliderSlant : public ColliderBoxLike {
 public:
  ColliderSlant() : ColliderBoxLike(ColliderKind_Slant) {}
  float Volume() const override;
};

class ColliderSphere : public ColliderBase {
 public:
  ColliderSphere() : ColliderBase(ColliderKind_Sphere) {}
  void SetFromDescription(const ColliderDescription& description) override;
  float Volume() const override;
  Base::Mat3 InertiaTensor(float density) const override;
  void SetRadius(float radius) { m_radius = radius; }
  float GetRadius() const { return m_radius; }

 private:
  friend class ColliderBase;
  float m_radius = 0.0f;
};

class ColliderPolytope : public ColliderBase {
 public:
  ColliderPolytope() : ColliderBase(ColliderKind_Polytope) {}
  void SetFromDescription(const ColliderDescription& description) override;
  float Volume() const override;
  const std::vector<Base::Vec3>& GetVertices() const { return m_vertices; }
  const Base::Vec3& GetHalfExtents() const { return m_halfExtents; }

 private:
  friend class ColliderBase;
  std::vector<Base::Vec3> m_vertices;  // the collider's own copy, local space
  Base::Vec3 m_halfExtents;
};

// Inline: GJK and EPA ask for a support point a few dozen times per pair.
inline Base::Vec3 ColliderBase::LocalSupport(const Base::Vec3& d) const {
  switch (m_kind) {
    case ColliderKind_Capsule: {
      const auto* c = static_cast<const ColliderCapsule*>(this);
      Base::Vec3 p = d * c->m_radius;
      p.y += d.y > 0.0f ? c->m_halfHeight : -c->m_halfHeight;
      return p;
    }
    case ColliderKind_Cube:
    case ColliderKind_Ground: {
      const Base::Vec3& h = static_cast<const ColliderBoxLike*>(this)->m_halfExtents;
      return {d.x < 0.0f ? -h.x : h.x, d.y < 0.0f ? -h.y : h.y, d.z < 0.0f ? -h.z : h.z};
    }
    case ColliderKind_Polytope: {
      const auto& vertices = static_cast<const ColliderPolytope*>(this)->m_vertices;
      if (vertices.empty()) return {};
      size_t best = 0;
      float bestDot = vertices[0].Dot(d);
      for (size_t i = 1; i < vertices.size(); ++i) {
        const float dot = vertices[i].Dot(d);
        if (dot > bestDot) {
          bestDot = dot;
          best = i;
        }
      }
      return vertices[best];
    }
    case ColliderKind_Slant: {
      const Base::Vec3& h = static_cast<const ColliderBoxLike*>(this)->m_halfExtents;
      Base::Vec3 p{h.x * (d.x < 0.0f ? -1.0f : 1.0f), -h.y, h.z};
      if (d.y > 0.0f) {
        if (d.Dot(Base::Vec3(0.0f, 2.0f * h.y, -2.0f * h.z)) >= 0.0f) p = {p.x, h.y, -h.z};
      } else if (d.z < 0.0f) {
        p.z = -h.z;
      }
      return p;
    }
    case ColliderKind_Sphere: return d * static_cast<const ColliderSphere*>(this)->m_radius;
    default:
      return {};
  }
}

inline Base::Vec3 ColliderBase::Support(const Base::Vec3& direction) const {
  const Base::Mat3& r = m_entity->orientation;
  // Transpose(r) * direction without building the transpose.
  const Base::Vec3 local{r.m[0] * direction.x + r.m[3] * direction.y + r.m[6] * direction.z,
                         r.m[1] * direction.x + r.m[4] * direction.y + r.m[7] * direction.z,
                         r.m[2] * direction.x + r.m[5] * direction.y + r.m[8] * direction.z};
  return r * LocalSupport(local) + m_entity->position;
}

template <typename F>
void ColliderBase::ForEachPair(uint32_t set, F&& f) const {
  const PairSet& s = m_sets[set];
  if (s.overflowed) {
    for (const auto& [other, impulse] : s.map) f(other);
  } else {
    for (int i = 0; i < s.count; ++i) f(s.entries[i].other);
  }
  for (int i = 0; i < s.goneCount; ++i) f(static_cast<ColliderBase*>(nullptr));
}

}  // namespace ZarnPhys
