// Mass properties and the state changes the components ask of a rigid body.
#include "ZarnPhys/RigidBody.h"

#include "ZarnPhys/Collider.h"

namespace ZarnPhys {

void RigidBody::Reset() {
  velocity = {};
  angularVelocity = {};
  inverseMassMatrix = Base::Mat3();
  inverseInertia = Base::Mat3();
  impulseAccumulator = {};
  forceAccumulator = {};
  supportPosition = {};
  rotationLocked = false;
  isStatic = false;
  savedDensity = 0.0f;
}

void RigidBody::SetFromDescription(const RigidBodyDescription& description) {
  asleep = false;
  supportEntity = nullptr;
  supportPosition = {};
  canSleep = description.canSleep != 0;
  rotationLocked = description.rotationLocked != 0;
  gravityModifier = description.gravityModifier;
  touching = false;
  sleepCounter = 0;
  wakeCounter = 0;
  velocity = description.velocity;
  angularVelocity = {};

  const bool describedStatic = description.isStatic != 0;
  isStatic = describedStatic;
  if (!isStatic) {
    density = description.density;
    if (density == 0.0f)
      isStatic = true;
    else
      savedDensity = density;
    UpdateMass();
  } else {
    density = 0.0f;
  }
  // A non-static body described with zero density ends up with density 1.
  if (isStatic != describedStatic) {
    isStatic = describedStatic;
    if (!isStatic) {
      density = savedDensity;
      if (density == 0.0f) SetDensity(1.0f);
    } else {
      density = 0.0f;
    }
    UpdateMass();
  }
  impulseAccumulator = {};
  forceAccumulator = {};
  UpdateMass();
}

void RigidBody::UpdateMass() {
  const ColliderBase* collider = entity ? entity->collider : nullptr;
  const float volume = collider ? collider->Volume() : 1.0f;
  const float mass = density * volume;
  inverseMass = mass != 0.0f ? 1.0f / mass : 0.0f;
  inverseMassMatrix = Base::Mat3();
  inverseMassMatrix(0, 0) = inverseMassMatrix(1, 1) = inverseMassMatrix(2, 2) = inverseMass;
  if (mass == 0.0f) {
    inverseInertia = Base::Mat3();
    for (float& v : inverseInertia.m) v = 0.0f;
    return;
  }
  Base::Mat3 inertia;
  if (collider) {
    inertia = collider->InertiaTensor(density);
  } else {
    for (float& v : inertia.m) v = 0.0f;
  }
  inverseInertia = inertia.Inverse();
}

void RigidBody::AddForce(const Base::Vec3& force) {
  asleep = false;
  forceAccumulator += force;
}

void RigidBody::AddImpulse(const Base::Vec3& impulse) {
  asleep = false;
  impulseAccumulator += impulse;
}

void RigidBody::SetVelocity(const Base::Vec3& v) {
  asleep = false;
  velocity = v;
}

void RigidBody::SetDensity(float d) {
  if (isStatic) {
    density = 0.0f;
  } else {
    density = d;
    if (d == 0.0f)
      isStatic = true;
    else
      savedDensity = d;
  }
  UpdateMass();
}

void RigidBody::SetStatic(bool s) {
  if (s == isStatic) return;
  isStatic = s;
  if (s) {
    density = 0.0f;
  } else {
    density = savedDensity;
    if (density == 0.0f) SetDensity(1.0f);
  }
  UpdateMass();
}

void RigidBody::SetRotationLock(bool locked) {
  rotationLocked = locked;
  if (locked) angularVelocity = {};
}

void RigidBody::Wake() {
  asleep = false;
  sleepCounter = 0;
}

void RigidBody::Sleep() {
  if (!canSleep) return;
  asleep = true;
  wakeCounter = 0;
  velocity = {};
  angularVelocity = {};
}

}  // namespace ZarnPhys
