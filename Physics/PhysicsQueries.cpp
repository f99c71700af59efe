// The scripts' queries of the physics worlds: ray casts by collision group or mask, the group
// arithmetic, and the ray-cast result as scripts see it.
#include "Base/Reflection/Registration.h"
#include "Core/GameObject.h"
#include "Lua/Convert.h"
#include "Physics/PhysicsSystem.h"
#include "ZarnPhys/Log.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace Physics {

namespace {

using Base::Reflection::TypeOf;
using Base::Reflection::Variant;

// The reflected members, then the object that was hit (nil when none).
void PushRaycastResult(lua_State* state, const Variant& value) {
  Lua::PushMembersToTable(state, value);
  auto* object = static_cast<Core::GameObject*>(static_cast<const SystemRaycastResult*>(value.data)->object);
  Lua::PushVariant(state, Variant(TypeOf<Core::GameObject*>(), object));
  lua_setfield(state, -2, "object");
}

}  // namespace

SystemRaycastResult PhysicsSystem::RaycastInternal(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction,
                                                   uint32_t mask) {
  if (direction.Length() != 1.0f) direction.Normalize();
  // A space without a world gets no entry: a script asking about it must not add one.
  ZarnPhys::PhysicsSpace* world = FindSpace(space);
  SystemRaycastResult result;
  if (!world) {
    PHYS_LOG(Verbose, "Null physics space pointer while raycasting!");
    return result;
  }
  world->Raycast(result, ToPhysicsFrame(origin), ToPhysicsFrame(direction), nullptr, 0, mask);
  result.collisionPoint = ToPhysicsFrame(result.collisionPoint);
  return result;
}

SystemRaycastResult PhysicsSystem::Raycast(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction) const {
  return RaycastInternal(space, origin, direction, 0xFFFFFFFFu);
}

SystemRaycastResult PhysicsSystem::RaycastInCollisionGroup(Core::GameSpace* space, Base::Vec3 origin,
                                                           Base::Vec3 direction, int32_t group) const {
  return RaycastInternal(space, origin, direction, GroupToMask(group));
}

SystemRaycastResult PhysicsSystem::RaycastWithCollisionMask(Core::GameSpace* space, Base::Vec3 origin,
                                                            Base::Vec3 direction, int32_t mask) const {
  return RaycastInternal(space, origin, direction, uint32_t(mask));
}

Base::Vec3 PhysicsSystem::GetLastPlaneNormal() const { return ZarnPhys::GetLastPlaneNormal(); }

int32_t PhysicsSystem::CompositeCollisionGroups(int32_t a, int32_t b) const {
  return int32_t(GroupToMask(a) | GroupToMask(b));
}

}  // namespace Physics

ORV_REFLECT_CLASS(Physics::SystemRaycastResult) {
  using Physics::SystemRaycastResult;
  type.Field(&SystemRaycastResult::colliding, "colliding");
  type.Field(&SystemRaycastResult::depth, "depth");
  type.Field(&SystemRaycastResult::collisionPoint, "collisionPoint");
  type->toLua = &Physics::PushRaycastResult;
}
