// The rigid-body component's link to the library body of its game space's physics world: creation
// and release, the pose handed over each step, the settings forwarded in the library's mirrored
// frame, and its registration.
#include "Physics/RigidBody.h"

#include <cmath>

#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Physics/Collider.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/SolverValues.h"
#include "ZarnPhys/Log.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace Physics {

using Graphics::Listener;

namespace {

// Values from scripts: a NaN, an infinity or a value whose products overflow reaches the solver, and
// the body leaves the world for good (through the floor, never to come back).
bool Refused(ValueFit fit, const char* setter) {
  if (fit == ValueFit::Fit) return false;
  if (fit == ValueFit::Unfit)
    PHYS_LOG(Warning, "RigidBody::%s needs finite values; left unchanged.", setter);
  else
    PHYS_LOG(Warning, "RigidBody::%s needs values of at most 1e18 in magnitude; left unchanged.", setter);
  return true;
}

// Densities of 0 make a body static; below that a body would have negative mass.
ValueFit DensityFit(float density) { return FitOf(std::isfinite(density) && density >= 0.0f, {density}); }

}  // namespace

void RigidBody::ReportMissing(const char* what) {
  if (m_missingReported) return;
  m_missingReported = true;
  PHYS_LOG(Warning, "RigidBody %u has no live %s", uint32_t(m_self), what);
}

Core::GameObject* RigidBody::ResolveOwner() {
  Core::GameObject* owner = GetOwner();
  if (!owner) ReportMissing("owner");
  return owner;
}

Core::Transform* RigidBody::ResolveTransform() {
  Core::GameComponent* component = m_space ? m_space->GetComponent(m_transform) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_Transform) {
    ReportMissing("Transform");
    return nullptr;
  }
  return static_cast<Core::Transform*>(component);
}

ZarnPhys::RigidBody* RigidBody::GetLibraryBody() const {
  if (!m_entity) return nullptr;
  // The world is looked up first: once it is gone the entity pointer must not be read.
  const ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space);
  if (!world || m_entity->space != world) return nullptr;
  return m_entity->rigidBody;
}

bool RigidBody::BuildRecord(ZarnPhys::EntityTransform& record) {
  Core::GameObject* owner = ResolveOwner();
  Core::Transform* transform = owner ? ResolveTransform() : nullptr;
  if (!transform) return false;
  record.userData.object = owner;
  record.userData.collider = nullptr;
  record.userData.rigidBody = this;
  record.entity = m_entity;
  record.orientation = ToPhysicsFrame(transform->Rotation().ToMat3Transposed());
  record.position = ToPhysicsFrame(transform->Translation());
  return true;
}

void RigidBody::KeepFiniteSettings() {
  auto keep = [this](ValueFit fit, const char* field) {
    if (fit == ValueFit::Unfit)
      PHYS_LOG(Warning, "RigidBody %u: its %s is not a finite value; it takes the default", uint32_t(m_self), field);
    else if (fit == ValueFit::TooLarge)
      PHYS_LOG(Warning, "RigidBody %u: its %s is above 1e18 in magnitude; it takes the default", uint32_t(m_self),
               field);
    return fit == ValueFit::Fit;
  };
  if (!keep(FitOf(m_velocity), "m_velocity")) m_velocity = Base::Vec3(0.0f, 0.0f, 0.0f);
  if (!keep(FitOf(m_angularVelocity), "m_angularVelocity")) m_angularVelocity = Base::Vec3(0.0f, 0.0f, 0.0f);
  if (!keep(FitOf(m_gravMod), "m_gravMod")) m_gravMod = 1.0f;
  if (!keep(DensityFit(m_density), "m_density")) m_density = 1.0f;
}

void RigidBody::Initialize() {
  // Settings read from a level file have not been through the setters.
  KeepFiniteSettings();
  Core::GameObject* owner = ResolveOwner();
  if (!owner) return;
  m_transform = owner->m_components[Core::ComponentType_Transform];
  ZarnPhys::EntityTransform record;
  if (!BuildRecord(record)) return;
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space);
  if (!world) {
    PHYS_LOG(Error, "RigidBody %u: its game space has no physics space; the body stays unlinked", uint32_t(m_self));
    return;
  }

  if (ColliderBase* collider = FindCollider(owner)) {
    m_colliderKind = collider->GetColliderType();
    m_entity = collider->GetEntity();
    collider->SetAttachedToBody(true);
    // Only a collider already in the world hands over the shared pose; one that has yet to initialise
    // says so itself when it joins, and one that never joins must not silence this body's report.
    if (m_entity) m_hasCollider = true;
    // The record's pointers replace the entity's: keep the collider's in it.
    record.userData.collider = collider;
    record.entity = m_entity;
  }

  ZarnPhys::RigidBodyDescription description;
  description.velocity = ToPhysicsFrame(m_velocity);
  description.angularVelocity = Base::Vec3(0.0f, 0.0f, 0.0f);
  description.density = m_density;
  description.gravityModifier = m_gravMod;
  description.canSleep = m_canSleep;
  description.rotationLocked = m_rotationLocked;
  description.isStatic = m_static;

  ZarnPhys::Entity* slot = m_entity;
  ZarnPhys::Entity* created = world->CreateRigidBody(&slot, description, record);
  if (!m_entity) m_entity = created;
  if (!m_entity) {
    PHYS_LOG(Error, "RigidBody %u: no library body was created; the body stays unlinked", uint32_t(m_self));
    return;
  }
  m_deleted = false;

  Core::Hooks& hooks = m_space->GetHooks();
  hooks.AddComponentListener("PrepareForStep", m_self,
                             Listener<&RigidBody::PrepareForStep>("RigidBody::PrepareForStep"));
  hooks.AddComponentListener("DeleteZarnRigid", m_self,
                             Listener<&RigidBody::DeleteZarnRigid>("RigidBody::DeleteZarnRigid"));
}

void RigidBody::PrepareForStep() {
  if (m_hasCollider || !m_entity) return;
  ZarnPhys::EntityTransform record;
  if (BuildRecord(record)) PhysicsSystem::TransformList().push_back(record);
}

void RigidBody::DeleteZarnRigid() {
  m_deleted = true;
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space);
  if (world && GetLibraryBody()) world->RemoveRigidBody(m_entity);
  // The entity may go with the world: nothing may reach it from here on.
  m_entity = nullptr;
}

void RigidBody::Uninitialize() {
  if (!m_deleted && GetLibraryBody()) PhysicsSystem::FindSpace(m_space)->RemoveRigidBody(m_entity);
  m_entity = nullptr;
  if (m_space) {
    m_space->GetHooks().RemoveComponentListener("PrepareForStep", m_self);
    m_space->GetHooks().RemoveComponentListener("DeleteZarnRigid", m_self);
  }
  if (m_colliderKind >= Core::ComponentType_ColliderCube && m_colliderKind <= Core::ComponentType_ColliderPolytope) {
    Core::GameObject* owner = GetOwner();
    Core::GameComponent* component = owner ? owner->GetComponent(int(m_colliderKind)) : nullptr;
    if (component && component->m_componentType == m_colliderKind)
      static_cast<ColliderBase*>(component)->SetAttachedToBody(false);
  }
}

float RigidBody::GetDensity() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_density = body->GetDensity();
  return m_density;
}

void RigidBody::SetDensity(float density) {
  if (Refused(DensityFit(density), "SetDensity")) return;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) {
    body->SetDensity(density);
    m_static = body->IsImmovable();
  }
  m_density = density;
}

bool RigidBody::GetStatic() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_static = body->IsImmovable();
  return m_static;
}

void RigidBody::SetStatic(bool isStatic) {
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) {
    body->SetStatic(isStatic);
    m_density = body->GetDensity();
  }
  m_static = isStatic;
}

Base::Vec3 RigidBody::GetVelocity() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_velocity = ToPhysicsFrame(body->GetVelocity());
  return m_velocity;
}

void RigidBody::SetVelocity(Base::Vec3 velocity) {
  if (Refused(FitOf(velocity), "SetVelocity")) return;
  m_velocity = velocity;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->SetVelocity(ToPhysicsFrame(velocity));
}

Base::Vec3 RigidBody::GetAngularVelocity() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_angularVelocity = body->GetAngularVelocity();
  return m_angularVelocity;
}

void RigidBody::SetAngularVelocity(Base::Vec3 velocity) {
  if (Refused(FitOf(velocity), "SetAngularVelocity")) return;
  m_angularVelocity = velocity;
  // Written as it stands: a sleeping body keeps sleeping.
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->angularVelocity = velocity;
}

bool RigidBody::GetRotationLock() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_rotationLocked = body->GetRotationLock();
  return m_rotationLocked;
}

void RigidBody::SetRotationLock(bool locked) {
  m_rotationLocked = locked;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->SetRotationLock(locked);
}

bool RigidBody::GetSleep() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_canSleep = body->canSleep;
  return m_canSleep;
}

void RigidBody::SetSleep(bool canSleep) {
  m_canSleep = canSleep;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->canSleep = canSleep;
}

float RigidBody::GetGravMod() {
  if (const ZarnPhys::RigidBody* body = GetLibraryBody()) m_gravMod = body->GetGravMod();
  return m_gravMod;
}

void RigidBody::SetGravMod(float modifier) {
  if (Refused(FitOf(modifier), "SetGravMod")) return;
  m_gravMod = modifier;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->SetGravMod(modifier);
}

void RigidBody::ApplyLinearForce(Base::Vec3 force) {
  if (Refused(FitOf(force), "ApplyLinearForce")) return;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->AddForce(ToPhysicsFrame(force));
}

void RigidBody::ApplyLinearImpulse(Base::Vec3 impulse) {
  if (Refused(FitOf(impulse), "ApplyLinearImpulse")) return;
  if (ZarnPhys::RigidBody* body = GetLibraryBody()) body->AddImpulse(ToPhysicsFrame(impulse));
}

}  // namespace Physics

ORV_ON_LOAD { Core::RegisterComponentCreator<Physics::RigidBody>(Core::ComponentType_RigidBody); }

ORV_REFLECT_CLASS(Physics::RigidBody) {
  using Physics::RigidBody;
  Core::InstallComponentOps(type.Record());
  ORV_PROPERTY(m_density, SetDensity, "Set the density of the rigid body", GetDensity,
               "Get the density of the rigid body");
  ORV_PROPERTY(m_static, SetStatic, "Set whether the rigid body is static or not", GetStatic,
               "Get whether the rigid body is static or not");
  ORV_PROPERTY(m_velocity, SetVelocity, "Set the linear velocity of the rigid body", GetVelocity,
               "Get the linear velocity of the rigid body");
  ORV_PROPERTY(m_angularVelocity, SetAngularVelocity, "Set the angular velocity of the rigid body",
               GetAngularVelocity, "Get the angular velocity of the rigid body");
  ORV_PROPERTY(m_rotationLocked, SetRotationLock, "Set the rotation lock status of a rigid body", GetRotationLock,
               "Get the rotation lock status of a rigid body");
  ORV_PROPERTY(m_canSleep, SetSleep, "Set whether a rigid body is allowed to sleep or not", GetSleep,
               "Get whether a rigid body is allowed to sleep or not");
  ORV_PROPERTY(m_gravMod, SetGravMod, "Set a rigid body's gravity modifier", GetGravMod,
               "Get a rigid body's gravity modifier");
  type.Method<&RigidBody::ApplyLinearForce>("ApplyLinearForce", "ApplyForce", "Apply a linear force to a rigid body");
  type.Method<&RigidBody::ApplyLinearImpulse>("ApplyLinearImpulse", "ApplyImpulse",
                                              "Apply a linear impulse to a rigid body");
}
