// The records a step hands to the game: one collision event per touching pair and the contact
// manifold of each side. They point into the step's pairs, so they are valid only during the callbacks.
#pragma once

#include <initializer_list>
#include <vector>

#include "Base/Vector.h"

namespace ZarnPhys {
class ColliderBase;
}

namespace Core {
class GameObject;
}

namespace Physics {

class ColliderBase;
class RigidBody;

struct SystemManifold {
  Base::Vec3 normal;
  Base::Vec3 contactPoint;
  Base::Vec3 appliedVelocity;   // sum of the linear velocity changes the solver gave this side
  Base::Vec3 relativeVelocity;  // the contact's relative velocity seen from this side at the last solve
  bool converted = false;       // set once the game has turned the vectors into its own frame

  // Into the game's frame (z negated), once: one manifold may sit in several arrays of a step.
  void ConvertToEngineFrame() {
    if (converted) return;
    for (Base::Vec3* v : {&normal, &contactPoint, &appliedVelocity, &relativeVelocity}) v->z = -v->z;
    converted = true;
  }
  // Copies, for scripts: the manifold goes with the step that made it.
  Base::Vec3 GetCollisionNormal() const { return normal; }
  Base::Vec3 GetContact() const { return contactPoint; }
  Base::Vec3 GetAppliedVelocity() const { return appliedVelocity; }
  Base::Vec3 GetRelativeVelocity() const { return relativeVelocity; }
};

struct SystemCollisionEvent {
  void* ObjectA = nullptr;
  void* ColliderA = nullptr;
  void* RigidBodyA = nullptr;
  void* ObjectB = nullptr;
  void* ColliderB = nullptr;
  void* RigidBodyB = nullptr;
  ZarnPhys::ColliderBase* zarnColliderA = nullptr;
  ZarnPhys::ColliderBase* zarnColliderB = nullptr;  // null when B has gone
  SystemManifold* ManifoldA = nullptr;               // null in end events
  SystemManifold* ManifoldB = nullptr;

  // The game's view of the words it attached to each side.
  Core::GameObject* GetObjectA() const { return static_cast<Core::GameObject*>(ObjectA); }
  Core::GameObject* GetObjectB() const { return static_cast<Core::GameObject*>(ObjectB); }
  Physics::ColliderBase* GetColliderA() const { return static_cast<Physics::ColliderBase*>(ColliderA); }
  Physics::ColliderBase* GetColliderB() const { return static_cast<Physics::ColliderBase*>(ColliderB); }
  Physics::RigidBody* GetRigidBodyA() const { return static_cast<Physics::RigidBody*>(RigidBodyA); }
  Physics::RigidBody* GetRigidBodyB() const { return static_cast<Physics::RigidBody*>(RigidBodyB); }
  SystemManifold* GetManifoldA() const { return ManifoldA; }
  SystemManifold* GetManifoldB() const { return ManifoldB; }

  bool operator==(const SystemCollisionEvent&) const = default;
};

}  // namespace Physics

namespace ZarnPhys {

using CollisionEvents = std::vector<Physics::SystemCollisionEvent>;
using CollisionCallback = void (*)(CollisionEvents* events);

// The four process-wide receivers, called by every space's step in this order: collision, start,
// persist, end. A null receiver is skipped.
void RegisterCallbacks(CollisionCallback collision, CollisionCallback start, CollisionCallback persist,
                       CollisionCallback end);

}  // namespace ZarnPhys
