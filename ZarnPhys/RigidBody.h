// The library's rigid body: velocities, mass properties, accumulated forces and the sleep state.
#pragma once

#include <cstdint>

#include "Base/Matrix.h"
#include "Base/Vector.h"
#include "ZarnPhys/Entity.h"

namespace ZarnPhys {

class RigidBody {
 public:
  void Reset();
  void SetFromDescription(const RigidBodyDescription& description);
  void UpdateMass();

  void AddForce(const Base::Vec3& force);
  void AddImpulse(const Base::Vec3& impulse);
  void SetVelocity(const Base::Vec3& velocity);
  const Base::Vec3& GetVelocity() const { return velocity; }
  const Base::Vec3& GetAngularVelocity() const { return angularVelocity; }
  void SetDensity(float density);
  float GetDensity() const { return isStatic ? 0.0f : density; }
  void SetStatic(bool s);
  bool GetStatic() const { return isStatic; }
  void SetRotationLock(bool locked);
  bool GetRotationLock() const { return rotationLocked; }
  void SetGravMod(float modifier) { gravityModifier = modifier; }
  float GetGravMod() const { return gravityModifier; }
  bool IsImmovable() const { return density == 0.0f || isStatic; }
  bool IsAsleep() const { return asleep; }
  float GetInverseMass() const { return inverseMass; }
  Entity* GetEntity() const { return entity; }

  void Wake();
  void Sleep();

  Base::Vec3 velocity;
  Base::Vec3 angularVelocity;
  Base::Mat3 inverseMassMatrix;
  Base::Mat3 inverseInertia;
  Entity* entity = nullptr;
  Entity* supportEntity = nullptr;
  Base::Vec3 supportPosition;
  bool touching = false;
  bool asleep = false;
  bool canSleep = true;
  int32_t sleepCounter = 0;
  int32_t wakeCounter = 0;
  float gravityModifier = 1.0f;
  float inverseMass = 0.0f;
  bool inSpace = false;
  Base::Vec3 impulseAccumulator;
  Base::Vec3 forceAccumulator;
  bool rotationLocked = false;
  bool isStatic = false;
  float density = 0.0f;
  float savedDensity = 0.0f;
};

}  // namespace ZarnPhys
