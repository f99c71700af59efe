// Collision events from the physics step to the game: each event to the hooks of both objects, then
// the array to the script function "CollisionEventHandler"; and the script-visible form of events,
// manifolds and event arrays.
#include <vector>

#include "Base/Reflection/Registration.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Lua/Arrays.h"
#include "Lua/Convert.h"
#include "Physics/Collider.h"
#include "Physics/CollisionEvents.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "ZarnPhys/Collider.h"

namespace Physics {

namespace {

using Base::Reflection::TypeInfo;
using Base::Reflection::TypeOf;
using Base::Reflection::Variant;
using Events = std::vector<SystemCollisionEvent>;

// A collider removed during the step (its object destroyed by an earlier listener) keeps its memory
// until the step ends but no longer answers for its object.
bool IsLive(const SystemCollisionEvent& event) {
  return (!event.zarnColliderA || event.zarnColliderA->IsActive()) &&
         (!event.zarnColliderB || event.zarnColliderB->IsActive());
}

// End events carry no manifolds; listeners get a zeroed one rather than nothing to read.
SystemManifold& ManifoldOrZero(SystemManifold* manifold, SystemManifold& zero) {
  if (manifold) return *manifold;
  zero = SystemManifold();
  return zero;
}

void Notify(void* object, const char* name, SystemManifold& manifold, const ObjectCollisionInfo& info) {
  if (!object) return;
  static_cast<Core::GameObject*>(object)->GetHooks().Call(name, manifold, info);
}

template <class T>
void PushField(lua_State* state, const char* field, const TypeInfo* type, T* value) {
  Lua::PushVariant(state, Variant(type, value));
  lua_setfield(state, -2, field);
}

// A script gets its own copy of a manifold: the step's storage is rewritten by the next step and freed
// with its world, and a script may keep what it was given past both.
void PushManifoldCopy(lua_State* state, const Variant& value) {
  Lua::PushValueUserdata(state, Variant(TypeOf<SystemManifold>(), value.data));
}

void PushEvent(lua_State* state, const Variant& value) {
  const auto& event = *static_cast<const SystemCollisionEvent*>(value.data);
  lua_createtable(state, 0, 8);
  PushField(state, "ObjectA", TypeOf<Core::GameObject*>(), event.GetObjectA());
  PushField(state, "ObjectB", TypeOf<Core::GameObject*>(), event.GetObjectB());
  PushField(state, "ColliderA", TypeOf<ColliderBase*>(), event.GetColliderA());
  PushField(state, "ColliderB", TypeOf<ColliderBase*>(), event.GetColliderB());
  PushField(state, "RigidBodyA", TypeOf<RigidBody>(), event.GetRigidBodyA());
  PushField(state, "RigidBodyB", TypeOf<RigidBody>(), event.GetRigidBodyB());
  PushField(state, "ManifoldA", TypeOf<SystemManifold>(), event.GetManifoldA());
  PushField(state, "ManifoldB", TypeOf<SystemManifold>(), event.GetManifoldB());
}

}  // namespace

void PhysicsSystem::OnCollision(ZarnPhys::CollisionEvents* events) { DeliverCollisionEvents("OnCollision", events); }
void PhysicsSystem::OnCollisionStart(ZarnPhys::CollisionEvents* events) {
  DeliverCollisionEvents("OnCollisionStart", events);
}
void PhysicsSystem::OnCollisionPersist(ZarnPhys::CollisionEvents* events) {
  DeliverCollisionEvents("OnCollisionPersist", events);
}
void PhysicsSystem::OnCollisionEnd(ZarnPhys::CollisionEvents* events) {
  DeliverCollisionEvents("OnCollisionEnd", events);
}

void PhysicsSystem::DeliverCollisionEvents(const char* name, const Events* events) {
  if (!events || events->empty()) return;
  SystemManifold zero;
  for (const SystemCollisionEvent& event : *events) {
    // An event whose collider went is dropped alone; the events after it still belong to live objects.
    if (!IsLive(event)) continue;
    if (event.ManifoldA) event.ManifoldA->ConvertToEngineFrame();
    if (event.ManifoldB) event.ManifoldB->ConvertToEngineFrame();
    Notify(event.ObjectA, name, ManifoldOrZero(event.ManifoldA, zero),
           {event.GetObjectB(), event.GetRigidBodyA(), event.GetRigidBodyB(), event.GetColliderA(),
            event.GetColliderB()});
    // A listener of A may have destroyed B (or A's own collider, which ends the pair).
    if (!IsLive(event)) continue;
    Notify(event.ObjectB, name, ManifoldOrZero(event.ManifoldB, zero),
           {event.GetObjectA(), event.GetRigidBodyB(), event.GetRigidBodyA(), event.GetColliderB(),
            event.GetColliderA()});
  }

  // Scripts see only the events whose colliders are still there once the hooks are done: a table
  // entry must not name an object that a listener destroyed.
  size_t live = 0;
  for (const SystemCollisionEvent& event : *events) live += IsLive(event) ? 1 : 0;
  if (live == 0) return;
  if (live == events->size()) {
    Core::Scripts().Call("CollisionEventHandler", events, name);
    return;
  }
  Events kept;
  kept.reserve(live);
  for (const SystemCollisionEvent& event : *events)
    if (IsLive(event)) kept.push_back(event);
  Core::Scripts().Call("CollisionEventHandler", &kept, name);
}

}  // namespace Physics

ORV_REFLECT_CLASS(Physics::SystemManifold) {
  using Physics::SystemManifold;
  type.Method<&SystemManifold::GetCollisionNormal>("GetCollisionNormal", nullptr, "Gets direction of the collision");
  type.Method<&SystemManifold::GetContact>("GetContact", nullptr, "Gets contact point of the collision");
  type.Method<&SystemManifold::GetAppliedVelocity>(
      "GetAppliedVelocity", nullptr, "Gets the velocity applied to this object as a result of this collision");
  type.Method<&SystemManifold::GetRelativeVelocity>("GetRelativeVelocity", nullptr,
                                                    "Gets relative velocity of the two objects before the collision");
}

ORV_REFLECT_CLASS(Physics::SystemCollisionEvent) {
  using Physics::SystemCollisionEvent;
  type.Method<&SystemCollisionEvent::GetObjectA>("GetObjectA", nullptr, "Gets GameObject of object A of the collision");
  type.Method<&SystemCollisionEvent::GetObjectB>("GetObjectB", nullptr, "Gets GameObject of object B of the collision");
  type.Method<&SystemCollisionEvent::GetColliderA>("GetColliderA", nullptr,
                                                   "Gets ColliderBase of object A of the collision");
  type.Method<&SystemCollisionEvent::GetColliderB>("GetColliderB", nullptr,
                                                   "Gets ColliderBase of object B of the collision");
  type.Method<&SystemCollisionEvent::GetRigidBodyA>("GetRigidBodyA", nullptr,
                                                    "Gets RigidBody of object A of the collision");
  type.Method<&SystemCollisionEvent::GetRigidBodyB>("GetRigidBodyB", nullptr,
                                                    "Gets RigidBody of object B of the collision");
  type.Method<&SystemCollisionEvent::GetManifoldA>("GetManifoldA", nullptr, "Gets Manifold of object A of the collision");
  type.Method<&SystemCollisionEvent::GetManifoldB>("GetManifoldB", nullptr, "Gets Manifold of object B of the collision");
  type->toLua = &Physics::PushEvent;
}

ORV_REFLECT_TYPE(Physics::ObjectCollisionInfo, true) {}

ORV_ON_LOAD {
  using Events = std::vector<Physics::SystemCollisionEvent>;
  Base::Reflection::RegisterType<Events>("std::vector<Physics::SystemCollisionEvent>", false);
  Base::Reflection::RegisterPointerType<Events>("std::vector<Physics::SystemCollisionEvent>*");
  Lua::InstallArrayConverters<Physics::SystemCollisionEvent>();
  Base::Reflection::TypeOf<Physics::SystemManifold>()->toLua = &Physics::PushManifoldCopy;
  Base::Reflection::TypeOf<Physics::SystemManifold*>()->toLua = &Physics::PushManifoldCopy;
}
