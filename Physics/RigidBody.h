// The rigid-body component: a library body on the object's physics entity, its settings kept as
// reflected copies for level files and scripts, every getter and setter going through the library.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "ZarnPhys/Entity.h"

namespace Core {
class GameObject;
class Transform;
}  // namespace Core

namespace ZarnPhys {
class RigidBody;
}

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

  // Script accessors. Linked, they go through the library body (getters refresh their field first);
  // unlinked (before Initialize, or once the body is gone) they work on the fields alone. A value that
  // is not finite (or a negative density) is refused with a warning and changes nothing.
  float GetDensity();
  void SetDensity(float density);
  bool GetStatic();
  void SetStatic(bool isStatic);
  Base::Vec3 GetVelocity();
  void SetVelocity(Base::Vec3 velocity);
  Base::Vec3 GetAngularVelocity();
  void SetAngularVelocity(Base::Vec3 velocity);
  bool GetRotationLock();
  void SetRotationLock(bool locked);
  bool GetSleep();
  void SetSleep(bool canSleep);
  float GetGravMod();
  void SetGravMod(float modifier);
  // Both wake the body; they act on the next step. Nothing happens without a library body.
  void ApplyLinearForce(Base::Vec3 force);
  void ApplyLinearImpulse(Base::Vec3 impulse);

  // Space hook listeners.
  void PrepareForStep();
  void DeleteZarnRigid();

  // The library body this component drives, or null while unlinked.
  ZarnPhys::RigidBody* GetLibraryBody() const;

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
  // A lost owner or Transform is logged once, not every step.
  bool m_missingReported = false;

 private:
  Core::GameObject* ResolveOwner();
  Core::Transform* ResolveTransform();
  bool BuildRecord(ZarnPhys::EntityTransform& record);
  void ReportMissing(const char* what);
  // A setting that is not finite (or a negative density), as a level file may hold, is logged and
  // goes back to its default.
  void KeepFiniteSettings();
};

}  // namespace Physics
