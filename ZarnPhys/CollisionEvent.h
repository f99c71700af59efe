// The records a step hands to the game: one collision event per touching pair and the contact
// manifold of each side. They point into the step's pairs, so they are valid only during the callbacks.
#pragma once

#include <vector>

#include "Base/Vector.h"

namespace ZarnPhys {
class ColliderBase;
}

namespace Physics {

struct SystemManifold {
  Base::Vec3 normal;
  Base::Vec3 contactPoint;
  Base::Vec3 appliedVelocity;   // sum of the linear velocity changes the solver gave this side
  Base::Vec3 relativeVelocity;  // the contact's relative velocity seen from this side at the last solve
  bool converted = false;       // set once the game has turned the vectors into its own frame
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
