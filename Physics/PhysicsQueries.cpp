// The scripts' queries of the physics worlds: ray casts by collision group or mask, the group
// arithmetic, and the ray-cast result as scripts see it.
#include "Base/Reflection/Registration.h"
#include "Core/GameObject.h"
#include "Lua/Convert.h"
#include "Physics/PhysicsSystem.h"

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
