// The rigid-body component: a library body on the object's physics entity, its settings kept as
// reflected copies for level files and scripts, every getter and setter going through the library.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "ZarnPhys/Entity.h"

namespace Physics {

class RigidBody : public Core::GameComponent {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_RigidBody;

  RigidBody() = default;
  RigidBody(const RigidBody&) = default;

  void Initialize() override;
  void Uninitialize() override;

  ZarnPhys::Entity* GetEntity() const { return m_entity; }
  // Called by a collider that shares this body's entity (it reports the pose from then on), and by
  // one that leaves.
  void AttachCollider(uint32_t colliderType) {
    m_hasCollider = true;
    m_colliderKind = colliderType;
  }
  void DetachCollider() { m_hasCollider = false; }
  bool HasCollider() const { return m_hasCollider; }

  // Fields after the base, in this order.
  Base::Handle m_transform = Base::kNullHandle;
  uint32_t m_colliderKind = Core::ComponentType_Count;
  bool m_hasCollider = false;
  bool m_rotationLocked = false;
  bool m_canSleep = true;
  bool m_deleted = false;
  ZarnPhys::Entity* m_entity = nullptr;
  float m_gravMod = 1.0f;
  Base::Vec3 m_velocity{0.0f, 0.0f, 0.0f};
  Base::Vec3 m_angularVelocity{0.0f, 0.0f, 0.0f};
  float m_density = 1.0f;
  bool m_static = false;
};

}  // namespace Physics
