// The collider base component: joins the owner's rigid body, puts its library collider into the
// space's physics world, hands the world its pose each step and passes its flags on. A collider that
// holds no library collider (refused, unlinked or removed) keeps its fields and touches nothing.
#include "Physics/Collider.h"

#include <cmath>

#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Physics/CameraFrustum.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "ZarnPhys/Log.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace Physics {

namespace {

using Graphics::Listener;

// The space hooks a collider listens on, with the handler each runs.
void AddSpaceListeners(Core::Hooks& hooks, Base::Handle self) {
  hooks.AddComponentListener("UpdateScale", self, Listener<&ColliderBase::UpdateScale>("ColliderBase::UpdateScale"));
  hooks.AddComponentListener("PrepareForStep", self,
                             Listener<&ColliderBase::PrepareForStep>("ColliderBase::PrepareForStep"));
  hooks.AddComponentListener("RenderShape", self, Listener<&ColliderBase::RenderShape>("ColliderBase::RenderShape"));
  hooks.AddComponentListener("DeleteZarnCollider", self,
                             Listener<&ColliderBase::DeleteZarnCollider>("ColliderBase::DeleteZarnCollider"));
}

void RemoveSpaceListeners(Core::Hooks& hooks, Base::Handle self) {
  for (const char* hook : {"RenderShape", "PrepareForStep", "UpdateScale", "DeleteZarnCollider"})
    hooks.RemoveComponentListener(hook, self);
}

const char* KindName(const Core::GameComponent& component) {
  return component.m_typeInfo ? component.m_typeInfo->name.c_str() : "Collider";
}

}  // namespace

std::nullptr_t ColliderBase::ReportMissing(Missing missing, const char* what) {
  if (!(m_missingReported & missing)) {
    m_missingReported |= missing;
    PHYS_LOG(Warning, "%s %u has no %s", KindName(*this), uint32_t(m_self), what);
  }
  return nullptr;
}

bool ColliderBase::AcceptSize(ValueFit fit, const char* setter) const {
  if (fit == ValueFit::Unfit)
    PHYS_LOG(Warning, "%s::%s needs a finite size above 0; left unchanged.", KindName(*this), setter);
  else if (fit == ValueFit::TooLarge)
    PHYS_LOG(Warning, "%s::%s needs a size of at most 1e18; left unchanged.", KindName(*this), setter);
  return fit == ValueFit::Fit;
}

bool ColliderBase::KeepSize(ValueFit fit, const char* field) const {
  if (fit == ValueFit::Unfit)
    PHYS_LOG(Warning, "%s %u: its %s is not a finite size above 0; the shape keeps its default", KindName(*this),
             uint32_t(m_self), field);
  else if (fit == ValueFit::TooLarge)
    PHYS_LOG(Warning, "%s %u: its %s is above 1e18; the shape keeps its default", KindName(*this), uint32_t(m_self),
             field);
  return fit == ValueFit::Fit;
}

Core::Transform* ColliderBase::ResolveTransform() {
  Core::GameComponent* component = m_space ? m_space->GetComponent(m_transform) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_Transform)
    return ReportMissing(Missing_Transform, "live Transform");
  return static_cast<Core::Transform*>(component);
}

RigidBody* ColliderBase::FindRigidBody() const {
  Core::GameObject* owner = GetOwner();
  Core::GameComponent* component = owner ? owner->GetComponent(int(Core::ComponentType_RigidBody)) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_RigidBody) return nullptr;
  return static_cast<RigidBody*>(component);
}

void ColliderBase::UpdateBodyMass() const {
  if (m_entity && m_entity->rigidBody) m_entity->rigidBody->UpdateMass();
}

ZarnPhys::ColliderBase* ColliderBase::GetLibraryCollider() const { return m_entity ? m_entity->collider : nullptr; }

void ColliderBase::Initialize() {
  Core::GameObject* owner = GetOwner();
  if (!owner) {
    ReportMissing(Missing_Owner, "live owner");
    return;
  }
  m_transform = owner->m_components[Core::ComponentType_Transform];
  Core::Transform* transform = ResolveTransform();
  if (!transform) return;
  m_cachedScale = transform->Scale();
  // A pose or size that is not finite would put the body where no contact ever reaches it.
  KeepValidShape();
  if (const ValueFit fit = FitOf(m_offset); fit != ValueFit::Fit) {
    PHYS_LOG(Warning, "%s %u: its m_offset is %s; it keeps no offset", KindName(*this), uint32_t(m_self),
             fit == ValueFit::Unfit ? "not finite" : "above 1e18");
    m_offset = Base::Vec3(0.0f, 0.0f, 0.0f);
  }

  RigidBody* body = FindRigidBody();
  ZarnPhys::Entity* slot = body ? body->GetEntity() : nullptr;
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space);
  if (!world) {
    ReportMissing(Missing_World, "physics world in its space; it stays out of the simulation");
  } else {
    const ZarnPhys::ColliderDescription description = BuildDescription();
    ZarnPhys::EntityTransform record;
    if (description.kind == ZarnPhys::ColliderKind_None) {
      PHYS_LOG(Warning, "%s %u has no shape to add; it stays out of the simulation", KindName(*this),
               uint32_t(m_self));
    } else if (BuildTransformRecord(record)) {
      record.entity = slot;
      // A refused collider (the entity already carries a shape) must hold no entity: the shape on it
      // is another collider's, which this one's setters and removal would otherwise change.
      m_entity = world->CreateCollider(&slot, description, record);
      if (!m_entity)
        PHYS_LOG(Warning, "%s %u was not added to the physics world; it keeps its settings only", KindName(*this),
                 uint32_t(m_self));
    }
  }
  // Only a collider that joined the body's entity (or made the entity the body will join) speaks for
  // the body: a refused one must not overwrite the kind the body recorded, though the body may have
  // taken it for its own before the refusal.
  if (body && (m_entity || !world)) {
    m_attachedToBody = true;
    body->AttachCollider(GetColliderType());
  } else if (world) {
    m_attachedToBody = false;
  }

  AddSpaceListeners(m_space->GetHooks(), m_self);
  owner->GetHooks().AddComponentListener("DrawCollider", m_self,
                                         Listener<&ColliderBase::RenderShape>("ColliderBase::RenderShape"));
}

void ColliderBase::Uninitialize() {
  if (!m_deleted && m_entity) {
    // Without a world the entity went with it: nothing left to remove.
    if (ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space)) world->RemoveCollider(m_entity);
  }
  m_entity = nullptr;
  if (m_space) RemoveSpaceListeners(m_space->GetHooks(), m_self);
  if (Core::GameObject* owner = GetOwner()) owner->GetHooks().RemoveComponentListener("DrawCollider", m_self);
  // Only the collider the body speaks through may tell it that its collider left.
  if (m_attachedToBody) {
    RigidBody* body = FindRigidBody();
    if (body && body->m_colliderKind == GetColliderType()) body->DetachCollider();
  }
}

void ColliderBase::DeleteZarnCollider() {
  m_deleted = true;
  if (!m_entity) return;
  if (ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(m_space)) world->RemoveCollider(m_entity);
  m_entity = nullptr;
}

ZarnPhys::ColliderDescription ColliderBase::FillCommonDescription() const {
  ZarnPhys::ColliderDescription description;
  description.kind = ZarnPhys::ColliderKind_None;
  description.flags = (m_ghost ? ZarnPhys::ColliderFlag_Ghost : 0u) |
                      (m_ignoreWhenRaycasting ? ZarnPhys::ColliderFlag_IgnoreRaycast : 0u) |
                      (m_ignoreCollisionEvent ? ZarnPhys::ColliderFlag_IgnoreCollisionEvent : 0u);
  description.groupMask = PhysicsSystem::GroupToMask(m_collisionGroup);
  return description;
}

ZarnPhys::ColliderDescription ColliderBase::BuildDescription() {
  ZarnPhys::ColliderDescription description;
  description.kind = ZarnPhys::ColliderKind_None;
  description.flags = 0;
  return description;
}

Base::Vec3 ColliderBase::GetWorldOffset() const {
  Core::GameComponent* component = m_space ? m_space->GetComponent(m_transform) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_Transform) return {};
  const Base::Vec4 offset = static_cast<Core::Transform*>(component)->GetWorldMatrix() * Base::Vec4(m_offset, 0.0f);
  return {offset.x, offset.y, offset.z};
}

bool ColliderBase::BuildTransformRecord(ZarnPhys::EntityTransform& record) {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return false;
  record.userData.object = GetOwner();
  record.userData.collider = this;
  record.userData.rigidBody = FindRigidBody();
  record.entity = m_entity;
  record.orientation = ToPhysicsFrame(transform->Rotation().ToMat3Transposed());
  record.position = ToPhysicsFrame(transform->Translation() + GetWorldOffset());
  return true;
}

bool ColliderBase::DebugPose(Base::Vec3& centre, Base::Mat3& rotation) {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return false;
  centre = transform->Translation() + GetWorldOffset();
  rotation = transform->Rotation().ToMat3();
  return true;
}

void ColliderBase::UpdateScale() {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return;
  const Base::Vec3 scale = transform->Scale();
  if (!(scale != m_cachedScale)) return;
  m_cachedScale = scale;
  ZarnPhys::ColliderBase* collider = GetLibraryCollider();
  if (!collider) return;
  const ZarnPhys::ColliderDescription description = BuildDescription();
  // A polytope that lost its mesh describes no shape: the library keeps the last one.
  if (description.kind != collider->GetKind()) return;
  collider->SetFromDescription(description);
  UpdateBodyMass();
}

void ColliderBase::PrepareForStep() {
  if (!m_entity) return;
  ZarnPhys::EntityTransform record;
  if (BuildTransformRecord(record)) PhysicsSystem::TransformList().push_back(record);
}

bool ColliderBase::GetGhost() {
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider()) m_ghost = collider->GetGhost();
  return m_ghost;
}

void ColliderBase::SetGhost(bool ghost) {
  m_ghost = ghost;
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider()) collider->SetGhost(ghost);
}

void ColliderBase::SetIgnoreWhenRaycasting(bool ignore) {
  m_ignoreWhenRaycasting = ignore;
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider()) collider->SetIgnoreRaycast(ignore);
}

void ColliderBase::SetCollisionGroup(int32_t group) {
  m_collisionGroup = group;
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider())
    collider->SetCollisionGroup(PhysicsSystem::GroupToMask(group));
}

bool ColliderBase::GetIgnoreCollisionEvent() {
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider()) m_ignoreCollisionEvent = collider->GetIgnoreCollisionEvent();
  return m_ignoreCollisionEvent;
}

void ColliderBase::SetIgnoreCollisionEvent(bool ignore) {
  m_ignoreCollisionEvent = ignore;
  if (ZarnPhys::ColliderBase* collider = GetLibraryCollider()) collider->SetIgnoreCollisionEvent(ignore);
}

int32_t ColliderBase::QueryAgainstCamera(Core::GameSpace*, Graphics::Camera* camera) {
  if (!camera) {
    PHYS_LOG(Warning, "%s %u: QueryAgainstCamera needs a camera", KindName(*this), uint32_t(m_self));
    return -1;
  }
  ZarnPhys::ColliderBase* collider = GetLibraryCollider();
  if (!collider) return -1;
  const CameraFrustum frustum = BuildCameraFrustum(*camera);
  switch (collider->TestPlanes(frustum.planes)) {
    case 1: return 0;  // outside
    case 2: return 1;  // overlaps
    case 0: return 2;  // inside
    default: return -1;
  }
}

}  // namespace Physics

ORV_REFLECT_CLASS(Physics::ColliderBase) { Core::InstallComponentOps(type.Record()); }

// Scripts always see a collider as its own kind: the push of component pointers, looked up when a
// collider is pushed, since the script layer may register it after this runs.
ORV_ON_LOAD {
  using Base::Reflection::TypeOf;
  TypeOf<Physics::ColliderBase*>()->toLua = [](lua_State* state, const Base::Reflection::Variant& value) {
    const Base::Reflection::TypeInfo* component = TypeOf<Core::GameComponent*>();
    if (component->toLua) component->toLua(state, Base::Reflection::Variant(component, value.data));
  };
}
