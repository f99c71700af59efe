// The collider components: the base every kind shares (library collider on the object's physics
// entity, pose handed to the world each step, flags and camera query for scripts) and the six kinds
// with their shapes, scaling and debug drawing.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "ZarnPhys/Entity.h"

namespace Core {
class GameObject;
class GameSpace;
}  // namespace Core

namespace Graphics {
class Camera;
}

namespace ZarnPhys {
class ColliderBase;
}

namespace Physics {

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
};

// The first live collider component of the object, tried by kind: capsule, sphere, cube, slant,
// ground, then polytope; null when there is none.
ColliderBase* FindCollider(Core::GameObject* object);

}  // namespace Physics
