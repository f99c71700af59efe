// What a game object's collision listeners receive: their own side's manifold (the library's record,
// ZarnPhys/CollisionEvent.h) and who they touched, seen from the receiving object.
#pragma once

#include "ZarnPhys/CollisionEvent.h"

namespace Core {
class GameObject;
}

namespace Physics {

class ColliderBase;
class RigidBody;

// The second argument of the object hooks "OnCollision", "OnCollisionStart", "OnCollisionPersist" and
// "OnCollisionEnd" (the first is the receiver's Physics::SystemManifold). Any of the "other" words
// may be null: an end event whose other side has gone.
struct ObjectCollisionInfo {
  Core::GameObject* otherObject = nullptr;
  RigidBody* ownRigidBody = nullptr;
  RigidBody* otherRigidBody = nullptr;
  ColliderBase* ownCollider = nullptr;
  ColliderBase* otherCollider = nullptr;
};

}  // namespace Physics
