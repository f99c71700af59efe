// Test helper: a physics space with shorthand for making bodies, and a recorder of the four
// collision callbacks that is unregistered again when the scene goes. The broad phase's tree picks a
// leaf at random each step: a scene starts the engine's generator from its start-up state, so that it
// plays the same in any order and run, and puts the generator back when it goes.
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "Base/MathUtil.h"
#include "Base/TraceLog.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace PhysTest {

struct Recorded {
  std::vector<Physics::SystemCollisionEvent> events[ZarnPhys::PhysicsSpace::EventList_Count];
  void Clear() {
    for (auto& list : events) list.clear();
  }
};

inline Recorded& Record() {
  static Recorded recorded;
  return recorded;
}

// Runs inside each callback after it was recorded; tests set it to act from within the step.
using Hook = void (*)(ZarnPhys::PhysicsSpace::EventList list, ZarnPhys::CollisionEvents* events);
inline Hook& CallbackHook() {
  static Hook hook = nullptr;
  return hook;
}

template <int List>
void RecordCallback(ZarnPhys::CollisionEvents* events) {
  auto& out = Record().events[List];
  out.insert(out.end(), events->begin(), events->end());
  if (CallbackHook()) CallbackHook()(ZarnPhys::PhysicsSpace::EventList(List), events);
}

class Scene {
 public:
  Scene() : previousLevel_(Base::TraceLog::GetInstance().GetLevel()), previousRandom_(Base::Rand15State()) {
    Base::SeedRand15(1);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Warning);
    Record().Clear();
    ZarnPhys::RegisterCallbacks(RecordCallback<0>, RecordCallback<1>, RecordCallback<2>, RecordCallback<3>);
    space.Initialize(1.0f / 60.0f);
  }
  ~Scene() {
    ZarnPhys::RegisterCallbacks(nullptr, nullptr, nullptr, nullptr);
    CallbackHook() = nullptr;
    Record().Clear();
    Base::TraceLog::GetInstance().SetLevel(previousLevel_);
    Base::SeedRand15(previousRandom_);
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  static ZarnPhys::EntityTransform At(const Base::Vec3& position, const Base::Mat3& orientation = Base::Mat3()) {
    ZarnPhys::EntityTransform t;
    t.position = position;
    t.orientation = orientation;
    return t;
  }

  ZarnPhys::Entity* Collider(ZarnPhys::ColliderKind kind, const Base::Vec3& shape, const Base::Vec3& bounds,
                             const ZarnPhys::EntityTransform& at, uint32_t flags = 0) {
    ZarnPhys::ColliderDescription d;
    d.kind = kind;
    d.shape[0] = shape.x, d.shape[1] = shape.y, d.shape[2] = shape.z;
    d.boundingHalfExtents = bounds;
    d.flags = flags;
    ZarnPhys::Entity* entity = nullptr;
    return space.CreateCollider(&entity, d, at);
  }
  ZarnPhys::Entity* Body(ZarnPhys::Entity* entity, float density = 1.0f, bool rotationLocked = false) {
    ZarnPhys::RigidBodyDescription d;
    d.density = density;
    d.rotationLocked = rotationLocked;
    return space.AddRigidBody(&entity, d);
  }

  ZarnPhys::Entity* Sphere(const Base::Vec3& p, float r, bool body = true, uint32_t flags = 0) {
    ZarnPhys::Entity* e = Collider(ZarnPhys::ColliderKind_Sphere, {r, 0, 0}, {r, r, r}, At(p), flags);
    return body ? Body(e) : e;
  }
  ZarnPhys::Entity* Box(const Base::Vec3& p, const Base::Vec3& h, bool body = true,
                        const Base::Mat3& orientation = Base::Mat3(), uint32_t flags = 0) {
    ZarnPhys::Entity* e = Collider(ZarnPhys::ColliderKind_Cube, h, h, At(p, orientation), flags);
    return body ? Body(e) : e;
  }
  ZarnPhys::Entity* Capsule(const Base::Vec3& p, float r, float halfHeight, bool body = true, bool locked = false) {
    ZarnPhys::Entity* e =
        Collider(ZarnPhys::ColliderKind_Capsule, {r, halfHeight, 0}, {r, r + halfHeight, r}, At(p));
    return body ? Body(e, 1.0f, locked) : e;
  }
  // A ground slab whose top face is at height `top`.
  ZarnPhys::Entity* Ground(float top = 0.0f, const Base::Vec3& h = {50.0f, 0.5f, 50.0f}) {
    return Collider(ZarnPhys::ColliderKind_Ground, h, h, At({0.0f, top - h.y, 0.0f}));
  }

  void Steps(int count) {
    for (int i = 0; i < count; ++i) space.Step();
  }

  ZarnPhys::PhysicsSpace space;

 private:
  Base::TraceLevel previousLevel_;
  uint32_t previousRandom_;
};

inline const std::vector<Physics::SystemCollisionEvent>& Events(ZarnPhys::PhysicsSpace::EventList list) {
  return Record().events[list];
}

}  // namespace PhysTest
