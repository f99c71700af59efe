// The six collider kinds: capsule, box, ground, polytope (a hull from the object's model mesh), slant
// (a wedge) and sphere. Each describes its shape to the library, draws it, and binds its shape setters.
#pragma once

#include <cstdint>
#include <vector>

#include "Base/Vector.h"
#include "Graphics/Mesh.h"
#include "Physics/Collider.h"

namespace Physics {

class ColliderCapsule : public ColliderBase {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderCapsule;

  void RenderShape() override;
  ZarnPhys::ColliderDescription BuildDescription() override;
  void KeepValidShape() override;
  uint32_t GetColliderType() const override { return kComponentType; }

  // Both refuse a size that is not finite, a radius of 0 or less and a negative height (a height of
  // 0 leaves a sphere).
  void SetRadius(float radius);
  // The full length of the cylinder part before scaling.
  void SetHalfHeight(float height);

  float m_radius = 1.0f;
  float m_cylinderHeight = 0.5f;

 private:
  // Scaled radius and half length of the cylinder part, as the library takes them.
  float ScaledRadius() const { return m_radius * m_cachedScale.x; }
  float ScaledHalfHeight() const { return m_cachedScale.y * 0.5f * m_cylinderHeight; }
  void WriteDimensions();
};

// Box, ground and slant: a box of full size m_dimensions before scaling.
class BoxShapedCollider : public ColliderBase {
 public:
  // Draws the box; the slant draws its wedge instead.
  void RenderShape() override;
  void KeepValidShape() override;
  // Refuses any edge that is not a finite length above 0.
  void SetDimensions(Base::Vec3 dimensions);

  Base::Vec3 m_dimensions{1.0f, 1.0f, 1.0f};

 protected:
  Base::Vec3 ScaledHalfExtents() const {
    return {0.5f * m_cachedScale.x * m_dimensions.x, 0.5f * m_cachedScale.y * m_dimensions.y,
            0.5f * m_cachedScale.z * m_dimensions.z};
  }
  ZarnPhys::ColliderDescription DescribeBox(ZarnPhys::ColliderKind kind) const;
};

class ColliderCube : public BoxShapedCollider {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderCube;

  ZarnPhys::ColliderDescription BuildDescription() override { return DescribeBox(ZarnPhys::ColliderKind_Cube); }
  uint32_t GetColliderType() const override { return kComponentType; }
};

class ColliderGround : public BoxShapedCollider {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderGround;

  ZarnPhys::ColliderDescription BuildDescription() override { return DescribeBox(ZarnPhys::ColliderKind_Ground); }
  uint32_t GetColliderType() const override { return kComponentType; }
};

class ColliderSlant : public BoxShapedCollider {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderSlant;

  void RenderShape() override;
  ZarnPhys::ColliderDescription BuildDescription() override { return DescribeBox(ZarnPhys::ColliderKind_Slant); }
  uint32_t GetColliderType() const override { return kComponentType; }
};

class ColliderSphere : public ColliderBase {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderSphere;

  void RenderShape() override;
  ZarnPhys::ColliderDescription BuildDescription() override;
  void KeepValidShape() override;
  uint32_t GetColliderType() const override { return kComponentType; }

  // Refuses a radius that is not a finite size above 0.
  void SetRadius(float radius);

  float m_radius = 1.0f;
};

class ColliderPolytope : public ColliderBase {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ColliderPolytope;

  void RenderShape() override;
  // The hull of the owner's model mesh, unscaled; the empty description without a usable mesh.
  ZarnPhys::ColliderDescription BuildDescription() override;
  uint32_t GetColliderType() const override { return kComponentType; }

  // Copies of the mesh's lists, refreshed by every BuildDescription.
  std::vector<Base::Vec3> m_points;
  std::vector<Graphics::MeshFace> m_faces;

 private:
  // The points in the library's frame, which the last description pointed at.
  std::vector<Base::Vec3> m_hull;
};

}  // namespace Physics
