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
#include "ZarnPhys/Raycast.h"
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
  void SetStepTime(float stepTime) { m_stepTime = stepTime; }
  float GetStepTime() const { return m_stepTime; }
  // List mode (false) pairs the colliders kind by kind instead of through the tree.
  void SetTreeMode(bool on) { m_treeMode = on; }
  bool GetTreeMode() const { return m_treeMode; }

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
  // Skips records whose entity was released by the last step, and clears their entity.
  void GetTransforms(EntityTransform* records, int32_t count);

  void Step();
  // The nearest collider the ray hits, skipping colliders that ignore rays, the listed entities and
  // (unless the mask is all bits) colliders outside the mask. Distances are in units of `direction`.
  Physics::SystemRaycastResult& Raycast(Physics::SystemRaycastResult& result, const Base::Vec3& origin,
                                        const Base::Vec3& direction, const Entity* const* ignore,
                                        int32_t ignoreCount, uint32_t mask);
  void DrawContacts() const;

  DynamicAABBTree& GetTree() { return m_tree; }
  uint32_t GetEntityCount() const { return m_entities.Count(); }
  uint32_t GetRigidBodyCount() const { return m_bodies.Count(); }
  uint32_t GetColliderCount() const;
  // The events of the running step; valid only inside the callbacks.
  const CollisionEvents& GetEvents(EventList list) const { return m_events[list]; }

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

  DynamicAABBTree m_tree;
  bool m_treeMode = true;
  CollisionEvents m_events[EventList_Count];
  ObjectPool<Entity> m_entities;
  ObjectPool<RigidBody> m_bodies;
  ObjectPool<ColliderSphere> m_spheres;
  ObjectPool<ColliderCube> m_cubes;
  ObjectPool<ColliderCapsule> m_capsules;
  ObjectPool<ColliderPolytope> m_polytopes;
  ObjectPool<ColliderSlant> m_slants;
  ObjectPool<ColliderGround> m_grounds;
  ObjectPool<CollisionPair> m_candidates;
  ObjectPool<CollisionPair> m_colliding;
  GjkEpaScratch m_scratch;
  ContactSolver m_solver;
  std::vector<ColliderBase*> m_detachedColliders;
  std::vector<RigidBody*> m_detachedBodies;
  std::vector<Entity*> m_detachedEntities;
  // Entities the last step gave back, so that the write-back after it does not touch them.
  std::vector<Entity*> m_releasedEntities;
  // The manifolds of the last step's collision events, kept for DrawContacts.
  std::vector<std::pair<Physics::SystemManifold, Physics::SystemManifold>> m_contactDraws;
  float m_stepTime = 1.0f / 60.0f;
  bool m_candidatesFullReported = false;
  bool m_collidingFullReported = false;
};

}  // namespace ZarnPhys
