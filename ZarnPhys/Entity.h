// The library's body record, the per-frame exchange record with the components and the two
// descriptions the components fill to create colliders and rigid bodies.
#pragma once

#include <cstdint>

#include "Base/Matrix.h"
#include "Base/Vector.h"

namespace ZarnPhys {

class ColliderBase;
class RigidBody;
class PhysicsSpace;

enum ColliderKind : uint32_t {
  ColliderKind_Capsule = 0,
  ColliderKind_Cube = 1,
  ColliderKind_Polytope = 2,
  ColliderKind_Slant = 3,
  ColliderKind_Sphere = 4,
  ColliderKind_Ground = 5,
  ColliderKind_None = 7,
};

// What the game attaches to an entity: its object, collider component and rigid-body component.
struct UserData {
  void* object = nullptr;
  void* collider = nullptr;
  void* rigidBody = nullptr;
};

struct Entity {
  Base::Vec3 position;
  Base::Mat3 orientation;  // local to world
  RigidBody* rigidBody = nullptr;
  ColliderBase* collider = nullptr;
  ColliderKind colliderKind = ColliderKind_None;
  UserData userData;
  PhysicsSpace* space = nullptr;
  // Set once the entity has neither collider nor body: it goes back to its pool at the removal flush.
  bool releasing = false;
};

struct EntityTransform {
  UserData userData;
  Entity* entity = nullptr;
  Base::Vec3 position;
  Base::Mat3 orientation;
};

enum ColliderFlags : uint32_t {
  ColliderFlag_Ghost = 0x1,
  ColliderFlag_IgnoreRaycast = 0x100,
  ColliderFlag_IgnoreCollisionEvent = 0x10000,
};

struct ColliderDescription {
  ColliderKind kind = ColliderKind_Cube;
  uint32_t reserved[3] = {};
  // Capsule: radius, half height of the cylinder part; cube, ground, slant: half extents; sphere: radius.
  float shape[3] = {};
  uint32_t flags = 0;  // ColliderFlags
  uint32_t groupMask = 0xFFFFFFFFu;
  const Base::Vec3* vertices = nullptr;  // polytope only, local space; copied by the collider
  uint32_t vertexCount = 0;
  Base::Vec3 boundingHalfExtents;  // local
};

struct RigidBodyDescription {
  Base::Vec3 velocity;
  Base::Vec3 angularVelocity;  // not applied: a new body starts without spin
  float density = 1.0f;
  float gravityModifier = 1.0f;
  uint8_t canSleep = 1;
  uint8_t rotationLocked = 0;
  uint8_t isStatic = 0;
};

}  // namespace ZarnPhys
