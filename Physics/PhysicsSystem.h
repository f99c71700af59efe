// The per-frame physics system: one physics world per game space, stepped every frame with the poses
// of the objects copied in before the step and back into their Transforms after it. It hands the
// library's collision events to objects and scripts, and is the script global "physics" (ray casts and
// collision groups).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Base/Vector.h"
#include "Core/System.h"
#include "ZarnPhys/CollisionEvent.h"
#include "ZarnPhys/Entity.h"
#include "ZarnPhys/Raycast.h"

namespace Core {
class GameSpace;
}

namespace ZarnPhys {
class PhysicsSpace;
}

namespace Physics {

class PhysicsSystem : public Core::System {
 public:
  PhysicsSystem();
  ~PhysicsSystem() override;

  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "PhysicsSystem"; }

  // Engine hooks.
  void FrameStep(float dt, Core::SpaceList* spaces);
  void GameSpaceCreated(Core::GameSpace* space);
  void GameSpaceDeleted(Core::GameSpace* space);
  void GameSpaceLoaded(Core::GameSpace* space);
  // Also a script method.
  // While on, the library's own drawing (tree boxes, contacts) goes to the engine's debug-draw queue too.
  void SwitchDebugDraw(bool on);

  // Script queries. Points and directions are in the engine's frame; a direction need not be of unit
  // length, depths are measured along the unit direction.
  SystemRaycastResult Raycast(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction) const;
  SystemRaycastResult RaycastInCollisionGroup(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction,
                                              int32_t group) const;
  SystemRaycastResult RaycastWithCollisionMask(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction,
                                               int32_t mask) const;
  // The mask holding both groups (every bit when either is -1).
  int32_t CompositeCollisionGroups(int32_t a, int32_t b) const;
  // The normal the last camera-frustum test leaned on; (0, 0, 0) before any.
  Base::Vec3 GetLastPlaneNormal() const;
  // The nearest hit among the colliders in `mask`; the default result when the space has no world.
  static SystemRaycastResult RaycastInternal(Core::GameSpace* space, Base::Vec3 origin, Base::Vec3 direction,
                                             uint32_t mask);

  // The collision mask of a group: every bit for -1, else the group's own bit.
  static uint32_t GroupToMask(int32_t group);

  // The receivers of the library's four event arrays, registered by Initialize.
  static void OnCollision(ZarnPhys::CollisionEvents* events);
  static void OnCollisionStart(ZarnPhys::CollisionEvents* events);
  static void OnCollisionPersist(ZarnPhys::CollisionEvents* events);
  static void OnCollisionEnd(ZarnPhys::CollisionEvents* events);
  // Hands each event to both objects' hooks named `name`, then the array to the script function
  // "CollisionEventHandler".
  static void DeliverCollisionEvents(const char* name, const std::vector<SystemCollisionEvent>* events);

  // The world of a game space, or null; never adds an entry.
  static ZarnPhys::PhysicsSpace* FindSpace(Core::GameSpace* space);
  // The records the components append from their "PrepareForStep" listeners.
  static std::vector<ZarnPhys::EntityTransform>& TransformList();

  bool m_canvasBound = false;
  bool m_debugDraw = false;

 private:
  void WriteBack();

  bool m_callbacksRegistered = false;
};

// Frames: the physics library's z axis is the negative of the engine's.
Base::Vec3 ToPhysicsFrame(Base::Vec3 v);
Base::Mat3 ToPhysicsFrame(const Base::Mat3& orientation);

}  // namespace Physics
