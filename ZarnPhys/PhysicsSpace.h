// The world of one game space: pools of entities, bodies, colliders and pairs, the broad-phase
// tree, and the staged step that moves the bodies and reports their collisions.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "ZarnPhys/Collider.h"
#include "ZarnPhys/CollisionEvent.h"
#include "ZarnPhys/CollisionPair.h"
#include "ZarnPhys/ContactSolver.h"
#include "ZarnPhys/DynamicAABBTree.h"
#include "ZarnPhys/Entity.h"
#include "ZarnPhys/ObjectPool.h"
#include "ZarnPhys/RigidBody.h"

namespace ZarnPhys {

class PhysicsSpace : private PairSink {
 public:
  enum EventList { EventList_Collision = 0, EventList_Start, EventList_Persist, EventList_End, EventList_Count };

  PhysicsSpace();
  ~PhysicsSpace();
  PhysicsSpace(const PhysicsSpace&) = delete;
  PhysicsSpace& operator=(const PhysicsSpace&) = delete;

  void Initialize(float stepTime);
  void SetStepTime(float stepTime) { stepTime_ = stepTime; }
  float GetStepTime() const { return stepTime_; }
  // List mode (false) pairs the colliders kind by kind instead of through the tree.
  void SetTreeMode(bool on) { treeMode_ = on; }
  bool GetTreeMode() const { return treeMode_; }

  // `slot` holds the object's entity, or null to make a new one (written back into the slot).
  // Each returns the entity, or null (logged) when nothing was added.
  Entity* CreateCollider(Entity** slot, const ColliderDescription& description, const EntityTransform& transform);
  Entity* CreateRigidBody(Entity** slot, const RigidBodyDescription& description, const EntityTransform& transform);
  Entity* AddCollider(Entity** slot, const ColliderDescription& description);
  Entity* AddRigidBody(Entity** slot, const RigidBodyDescription& description);
  // Detach at once; the objects themselves are freed at the end of the step, so removing from
  // inside a collision callback is safe. An entity left with neither goes with them.
  void RemoveCollider(Entity* entity);
  void RemoveRigidBody(Entity* entity);

  void SetTransforms(const EntityTransform* records, int32_t count);
  // Skips records whose entity was released by the last step.
  void GetTransforms(EntityTransform* records, int32_t count);

  void Step();
  void DrawContacts() const;

  DynamicAABBTree& GetTree() { return tree_; }
  uint32_t GetEntityCount() const { return entities_.Count(); }
  uint32_t GetRigidBodyCount() const { return bodies_.Count(); }
  uint32_t GetColliderCount() const;
  // The events of the running step; valid only inside the callbacks.
  const CollisionEvents& GetEvents(EventList list) const { return events_[list]; }

  // Used by the narrow phase.
  void AppendPairEvent(CollisionPair& pair, EventList list);

 private:
  void AddPair(ColliderBase* a, ColliderBase* b) override;
  Entity* CreateEntity(const EntityTransform* transform);
  ColliderBase* CreateColliderOfKind(ColliderKind kind);
  void DestroyCollider(ColliderBase* collider);
  void ReleaseEntity(Entity* entity);
  template <typename F>
  void ForEachSwappingCollider(F&& f);
  void ListPairs();
  void NarrowPhase();
  void Resolve();
  void Integrate(RigidBody& body);
  void RunCallbacks();
  void ReportEndedContacts(ColliderBase& collider);
  void FlushRemovals();
  void ClearStep();
  bool ReportFullPool(bool& reported, const char* what);

  DynamicAABBTree tree_;
  bool treeMode_ = true;
  CollisionEvents events_[EventList_Count];
  ObjectPool<Entity> entities_;
  ObjectPool<RigidBody> bodies_;
  ObjectPool<ColliderSphere> spheres_;
  ObjectPool<ColliderCube> cubes_;
  ObjectPool<ColliderCapsule> capsules_;
  ObjectPool<ColliderPolytope> polytopes_;
  ObjectPool<ColliderSlant> slants_;
  ObjectPool<ColliderGround> grounds_;
  ObjectPool<CollisionPair> candidates_;
  ObjectPool<CollisionPair> colliding_;
  GjkEpaScratch scratch_;
  ContactSolver solver_;
  std::vector<ColliderBase*> detachedColliders_;
  std::vector<RigidBody*> detachedBodies_;
  std::vector<Entity*> detachedEntities_;
  // Entities the last step gave back, so that the write-back after it does not touch them.
  std::vector<Entity*> releasedEntities_;
  // The manifolds of the last step's collision events, kept for DrawContacts.
  std::vector<std::pair<Physics::SystemManifold, Physics::SystemManifold>> contactDraws_;
  float stepTime_ = 1.0f / 60.0f;
  bool candidatesFullReported_ = false;
  bool collidingFullReported_ = false;
};

}  // namespace ZarnPhys
