// The collider components: the base every kind shares (library collider on the object's physics
// entity, pose handed to the world each step, flags and camera query for scripts) and the six kinds
// with their shapes, scaling and debug drawing.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Matrix.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "Physics/SolverValues.h"
#include "ZarnPhys/Entity.h"

namespace Core {
class GameObject;
class GameSpace;
class Transform;
}  // namespace Core

namespace Graphics {
class Camera;
}

namespace ZarnPhys {
class ColliderBase;
}

namespace Physics {

class RigidBody;

class ColliderBase : public Core::GameComponent {
 public:
  ColliderBase() = default;
  ColliderBase(const ColliderBase&) = default;

  void Initialize() override;
  void Uninitialize() override;

  // The debug shape of the kind, queued to the debug-draw queue.
  virtual void RenderShape() {}
  // The library description of the kind's shape from the fields and the cached scale.
  virtual ZarnPhys::ColliderDescription BuildDescription();
  // Sizes read from a level file have not been through the setters: one that is not a finite size
  // above 0 is logged and the shape keeps its default there.
  virtual void KeepValidShape() {}
  // The kind's component type id.
  virtual uint32_t GetColliderType() const { return Core::ComponentType_ColliderPolytope; }

  // The physics entity carrying this collider (shared with the object's rigid body), or null.
  ZarnPhys::Entity* GetEntity() const { return m_entity; }
  // The library collider on that entity, or null.
  ZarnPhys::ColliderBase* GetLibraryCollider() const;
  // m_offset turned and scaled with the object (no translation).
  Base::Vec3 GetWorldOffset() const;
  bool IsAttachedToBody() const { return m_attachedToBody; }
  void SetAttachedToBody(bool attached) { m_attachedToBody = attached; }

  // Hook handlers on the game space's table.
  void UpdateScale();
  void PrepareForStep();
  void DeleteZarnCollider();

  // Script methods. The setters store the field and write the library collider when there is one.
  bool GetGhost();
  void SetGhost(bool ghost);
  bool GetIgnoreWhenRaycasting() const { return m_ignoreWhenRaycasting; }
  void SetIgnoreWhenRaycasting(bool ignore);
  int32_t GetCollisionGroup() const { return m_collisionGroup; }
  void SetCollisionGroup(int32_t group);
  bool GetIgnoreCollisionEvent();
  void SetIgnoreCollisionEvent(bool ignore);
  // 0 outside the camera's view, 1 cut by its edge, 2 inside; -1 without a camera or library collider.
  int32_t QueryAgainstCamera(Core::GameSpace* space, Graphics::Camera* camera);
  void SetDDColour(Base::Vec3 colour) { m_debugDrawColour = colour; }

  // The pose record handed to the world: owner pointers, entity, position and orientation in the
  // library's frame. False (nothing filled) when the owner's Transform is gone.
  bool BuildTransformRecord(ZarnPhys::EntityTransform& record);
  // The empty description with this collider's flags and collision mask.
  ZarnPhys::ColliderDescription FillCommonDescription() const;

  // Fields after the base, in this order (see the .cpp for their meaning).
  Base::Vec3 m_debugDrawColour{0.1f, 0.7f, 0.1f};
  Base::Handle m_transform = Base::kNullHandle;
  bool m_attachedToBody = false;
  bool m_drawAsSolid = false;
  bool m_deleted = false;
  ZarnPhys::Entity* m_entity = nullptr;
  Base::Vec3 m_cachedScale{0.0f, 0.0f, 0.0f};
  Base::Vec3 m_offset{0.0f, 0.0f, 0.0f};
  bool m_ghost = false;
  bool m_ignoreWhenRaycasting = false;
  bool m_ignoreCollisionEvent = false;
  int32_t m_collisionGroup = 0;

 protected:
  // What a collider found missing; each is reported once per collider.
  enum Missing : uint8_t { Missing_Owner = 1, Missing_Transform = 2, Missing_Model = 4, Missing_World = 8 };
  // Logs "<kind> <handle> has no <what>" the first time `missing` is reported; always returns null.
  std::nullptr_t ReportMissing(Missing missing, const char* what);
  // The live Transform behind m_transform, or null (reported).
  Core::Transform* ResolveTransform();
  // The owner's live rigid body, or null.
  RigidBody* FindRigidBody() const;
  // After a shape change: the entity's library body recomputes its mass.
  void UpdateBodyMass() const;
  // Where the debug shape goes: the Transform's translation plus the world offset, and its rotation.
  // False when the Transform is gone.
  bool DebugPose(Base::Vec3& centre, Base::Mat3& rotation);
  // For the setters: false, after the warning "<kind>::<setter> needs a finite size above 0; left
  // unchanged." (or "... a size of at most 1e18 ..."), unless `fit` is Fit.
  bool AcceptSize(ValueFit fit, const char* setter) const;
  // For KeepValidShape: false, after a warning naming the field, unless `fit` is Fit.
  bool KeepSize(ValueFit fit, const char* field) const;

  uint8_t m_missingReported = 0;
};

// The first live collider component of the object, tried by kind: capsule, sphere, cube, slant,
// ground, then polytope; null when there is none.
ColliderBase* FindCollider(Core::GameObject* object);

}  // namespace Physics
