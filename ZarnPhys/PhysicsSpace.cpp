// Creation and removal of library objects, the transform exchange and the staged step of a space.
#include "ZarnPhys/PhysicsSpace.h"

#include <algorithm>
#include <cmath>

#include "Base/DebugTimer.h"
#include "ZarnPhys/DebugDrawer.h"
#include "ZarnPhys/Log.h"

namespace ZarnPhys {

namespace {

struct Callbacks {
  CollisionCallback list[PhysicsSpace::EventList_Count] = {};
};

Callbacks& GetCallbacks() {
  static Callbacks callbacks;
  return callbacks;
}

DebugDrawer*& DrawerSlot() {
  static DebugDrawer* drawer = nullptr;
  return drawer;
}

constexpr float kGravity = 6.0f;
constexpr int kSolverPasses = 10;
constexpr float kRestingSpeedSquared = 0.0144f;
constexpr int kRestingSteps = 2;
constexpr float kSupportMovedSquared = 0.025f;

void Place(Entity& entity, const EntityTransform& transform) {
  entity.position = transform.position;
  entity.orientation = transform.orientation;
  entity.userData = transform.userData;
}

bool IsImmovable(const Entity* entity) { return !entity->rigidBody || entity->rigidBody->IsImmovable(); }

Physics::SystemCollisionEvent MakeEvent(ColliderBase* a, ColliderBase* b, Physics::SystemManifold* manifoldA,
                                        Physics::SystemManifold* manifoldB) {
  Physics::SystemCollisionEvent event;
  const UserData& ua = a->GetEntity()->userData;
  event.ObjectA = ua.object;
  event.ColliderA = ua.collider;
  event.RigidBodyA = ua.rigidBody;
  if (b) {
    const UserData& ub = b->GetEntity()->userData;
    event.ObjectB = ub.object;
    event.ColliderB = ub.collider;
    event.RigidBodyB = ub.rigidBody;
  }
  event.zarnColliderA = a;
  event.zarnColliderB = b;
  event.ManifoldA = manifoldA;
  event.ManifoldB = manifoldB;
  return event;
}

// Rotation by |w| dt about w, kept orthonormal so that repeated steps do not shear the shape.
void Rotate(Base::Mat3& orientation, const Base::Vec3& w, float dt) {
  const float speed = w.Length();
  if (speed == 0.0f) return;
  orientation = Base::Mat3::BuildRotation(speed * dt, w / speed) * orientation;
  Base::Vec3 c0(orientation(0, 0), orientation(1, 0), orientation(2, 0));
  Base::Vec3 c1(orientation(0, 1), orientation(1, 1), orientation(2, 1));
  c0.Normalize();
  c1 -= c0 * c0.Dot(c1);
  c1.Normalize();
  const Base::Vec3 c2 = c0.Cross(c1);
  const Base::Vec3 columns[3] = {c0, c1, c2};
  for (int c = 0; c < 3; ++c) {
    orientation(0, c) = columns[c].x;
    orientation(1, c) = columns[c].y;
    orientation(2, c) = columns[c].z;
  }
}

}  // namespace

void RegisterCallbacks(CollisionCallback collision, CollisionCallback start, CollisionCallback persist,
                       CollisionCallback end) {
  Callbacks& callbacks = GetCallbacks();
  callbacks.list[PhysicsSpace::EventList_Collision] = collision;
  callbacks.list[PhysicsSpace::EventList_Start] = start;
  callbacks.list[PhysicsSpace::EventList_Persist] = persist;
  callbacks.list[PhysicsSpace::EventList_End] = end;
  PHYS_LOG(Verbose, "Physics Engine Callbacks Registered!");
}

void SetDebugDrawer(DebugDrawer* drawer) { DrawerSlot() = drawer; }
DebugDrawer* GetDebugDrawer() { return DrawerSlot(); }

PhysicsSpace::PhysicsSpace() = default;

PhysicsSpace::~PhysicsSpace() {
  FlushRemovals();
  ClearStep();
  // Pools destroy what is left; the tree keeps no object of its own.
}

void PhysicsSpace::Initialize(float stepTime) {
  PHYS_LOG(Verbose, "Physics Engine Initialized!");
  m_stepTime = stepTime;
}

uint32_t PhysicsSpace::GetColliderCount() const {
  return m_spheres.Count() + m_cubes.Count() + m_capsules.Count() + m_polytopes.Count() + m_slants.Count() +
         m_grounds.Count();
}

Entity* PhysicsSpace::CreateEntity(const EntityTransform* transform) {
  Entity* entity = m_entities.Create();
  if (!entity) {
    PHYS_LOG(Error, "Entity pool is full: no entity created");
    return nullptr;
  }
  if (transform) {
    entity->position = transform->position;
    entity->orientation = transform->orientation;
  }
  entity->space = this;
  // A new entity may sit where a released one was: its records are live again.
  std::erase(m_releasedEntities, entity);
  return entity;
}

ColliderBase* PhysicsSpace::CreateColliderOfKind(ColliderKind kind) {
  switch (kind) {
    case ColliderKind_Capsule: return m_capsules.Create();
    case ColliderKind_Cube: return m_cubes.Create();
    case ColliderKind_Polytope: return m_polytopes.Create();
    case ColliderKind_Slant: return m_slants.Create();
    case ColliderKind_Sphere: return m_spheres.Create();
    case ColliderKind_Ground: return m_grounds.Create();
    default: return nullptr;
  }
}

void PhysicsSpace::DestroyCollider(ColliderBase* collider) {
  switch (collider->GetKind()) {
    case ColliderKind_Capsule: m_capsules.Destroy(static_cast<ColliderCapsule*>(collider)); break;
    case ColliderKind_Cube: m_cubes.Destroy(static_cast<ColliderCube*>(collider)); break;
    case ColliderKind_Polytope: m_polytopes.Destroy(static_cast<ColliderPolytope*>(collider)); break;
    case ColliderKind_Slant: m_slants.Destroy(static_cast<ColliderSlant*>(collider)); break;
    case ColliderKind_Sphere: m_spheres.Destroy(static_cast<ColliderSphere*>(collider)); break;
    case ColliderKind_Ground: m_grounds.Destroy(static_cast<ColliderGround*>(collider)); break;
    default: break;
  }
}

// An entity that gets a collider or body again before the flush stays.
static void Revive(Entity* entity, std::vector<Entity*>& detached) {
  if (!entity->releasing) return;
  entity->releasing = false;
  std::erase(detached, entity);
}

Entity* PhysicsSpace::AddCollider(Entity** slot, const ColliderDescription& description) {
  if (description.kind > ColliderKind_Ground) {
    PHYS_LOG(Error, "Unknown collider kind %u", unsigned(description.kind));
    return nullptr;
  }
  Entity* entity = slot ? *slot : nullptr;
  const bool existed = entity != nullptr;
  if (existed && entity->colliderKind != ColliderKind_None) {
    PHYS_LOG(Warning, "Adding Duplicate Collider");
    return nullptr;
  }
  // Both are taken before anything changes, so a full pool leaves the space as it was.
  ColliderBase* collider = CreateColliderOfKind(description.kind);
  if (!collider) {
    PHYS_LOG(Error, "Collider pool of kind %u is full: no collider created", unsigned(description.kind));
    return nullptr;
  }
  if (!existed) {
    entity = CreateEntity(nullptr);
    if (!entity) {
      DestroyCollider(collider);
      return nullptr;
    }
    if (slot) *slot = entity;
  }
  Revive(entity, m_detachedEntities);
  collider->SetActive(true);
  collider->SetEntity(entity);
  collider->SetFromDescription(description);
  entity->collider = collider;
  entity->colliderKind = description.kind;
  if (existed && entity->rigidBody) entity->rigidBody->UpdateMass();
  return entity;
}

Entity* PhysicsSpace::AddRigidBody(Entity** slot, const RigidBodyDescription& description) {
  Entity* entity = slot ? *slot : nullptr;
  const bool existed = entity != nullptr;
  if (existed && entity->rigidBody) {
    PHYS_LOG(Error, "Adding Duplicate RigidBody");
    return nullptr;
  }
  RigidBody* body = m_bodies.Create();
  if (!body) {
    PHYS_LOG(Error, "Rigid body pool is full: no rigid body created");
    return nullptr;
  }
  if (!existed) {
    entity = CreateEntity(nullptr);
    if (!entity) {
      m_bodies.Destroy(body);
      return nullptr;
    }
    if (slot) *slot = entity;
  }
  Revive(entity, m_detachedEntities);
  body->Reset();
  body->inSpace = true;
  body->entity = entity;
  entity->rigidBody = body;
  body->SetFromDescription(description);
  return entity;
}

Entity* PhysicsSpace::CreateCollider(Entity** slot, const ColliderDescription& description,
                                     const EntityTransform& transform) {
  Entity* entity = AddCollider(slot, description);
  if (!entity) return nullptr;
  // The pose comes first so that the leaf is made around the collider where it really is.
  Place(*entity, transform);
  m_tree.AddCollider(entity->collider);
  return entity;
}

Entity* PhysicsSpace::CreateRigidBody(Entity** slot, const RigidBodyDescription& description,
                                      const EntityTransform& transform) {
  Entity* entity = AddRigidBody(slot, description);
  if (entity) Place(*entity, transform);
  return entity;
}

void PhysicsSpace::ReleaseEntity(Entity* entity) {
  if (entity->collider || entity->rigidBody || entity->releasing) return;
  entity->releasing = true;
  m_detachedEntities.push_back(entity);
}

void PhysicsSpace::RemoveCollider(Entity* entity) {
  if (!entity || entity->space != this) {
    PHYS_LOG(Error, "RemoveCollider: the entity does not belong to this space");
    return;
  }
  ColliderBase* collider = entity->collider;
  if (!collider) {
    PHYS_LOG(Warning, "RemoveCollider: the entity has no collider");
    return;
  }
  if (collider->tree) collider->tree->RemoveLeaf(collider->leafIndex);
  collider->SetActive(false);
  m_detachedColliders.push_back(collider);
  entity->collider = nullptr;
  entity->colliderKind = ColliderKind_None;
  ReleaseEntity(entity);
}

void PhysicsSpace::RemoveRigidBody(Entity* entity) {
  if (!entity || entity->space != this) {
    PHYS_LOG(Error, "RemoveRigidBody: the entity does not belong to this space");
    return;
  }
  RigidBody* body = entity->rigidBody;
  if (!body) {
    PHYS_LOG(Warning, "RemoveRigidBody: the entity has no rigid body");
    return;
  }
  body->inSpace = false;
  m_detachedBodies.push_back(body);
  entity->rigidBody = nullptr;
  ReleaseEntity(entity);
}

void PhysicsSpace::SetTransforms(const EntityTransform* records, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const EntityTransform& record = records[i];
    Entity* entity = record.entity;
    if (!entity || std::find(m_releasedEntities.begin(), m_releasedEntities.end(), entity) != m_releasedEntities.end())
      continue;
    entity->position = record.position;
    entity->orientation = record.orientation;
    entity->userData = record.userData;
  }
}

void PhysicsSpace::GetTransforms(EntityTransform* records, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    EntityTransform& record = records[i];
    Entity* entity = record.entity;
    if (!entity) continue;
    if (std::find(m_releasedEntities.begin(), m_releasedEntities.end(), entity) != m_releasedEntities.end()) {
      // Gone with the step: the record must not reach its pool slot again, which a new entity may take.
      record.entity = nullptr;
      continue;
    }
    record.position = entity->position;
    record.orientation = entity->orientation;
    entity->userData = record.userData;
  }
}

bool PhysicsSpace::ReportFullPool(bool& reported, const char* what) {
  if (!reported) {
    PHYS_LOG(Error, "The %s pool is full (%u): further pairs of this step are skipped", what,
             unsigned(ObjectPool<CollisionPair>::kCapacity));
    reported = true;
  }
  return false;
}

void PhysicsSpace::AddPair(ColliderBase* a, ColliderBase* b) {
  const Entity* ea = a->GetEntity();
  const Entity* eb = b->GetEntity();
  if (ea->rigidBody && eb->rigidBody && ea->rigidBody->asleep && eb->rigidBody->asleep) return;
  if (IsImmovable(ea) && IsImmovable(eb)) return;
  if (m_candidates.Full()) {
    ReportFullPool(m_candidatesFullReported, "candidate pair");
    return;
  }
  m_candidates.Create(a, b);
}

template <typename F>
void PhysicsSpace::ForEachSwappingCollider(F&& f) {
  m_cubes.ForEach([&f](ColliderCube* c) { f(*c); });
  m_spheres.ForEach([&f](ColliderSphere* c) { f(*c); });
  m_capsules.ForEach([&f](ColliderCapsule* c) { f(*c); });
  m_slants.ForEach([&f](ColliderSlant* c) { f(*c); });
}

void PhysicsSpace::ListPairs() {
  std::vector<ColliderBase*> spheres, cubes, capsules, slants;
  const auto collect = [](auto& pool, std::vector<ColliderBase*>& out) {
    pool.ForEach([&out](ColliderBase* c) {
      if (c->IsActive()) out.push_back(c);
    });
  };
  collect(m_spheres, spheres);
  collect(m_cubes, cubes);
  collect(m_capsules, capsules);
  collect(m_slants, slants);
  const auto pair = [this](ColliderBase* a, ColliderBase* b, bool checkSameEntity) {
    const Entity* ea = a->GetEntity();
    const Entity* eb = b->GetEntity();
    if (ea->rigidBody && eb->rigidBody && ea->rigidBody->asleep && eb->rigidBody->asleep) return;
    if (checkSameEntity && ea == eb) {
      PHYS_LOG(Error, "There are duplicate entities in list");
      return;
    }
    if (m_candidates.Full()) {
      ReportFullPool(m_candidatesFullReported, "candidate pair");
      return;
    }
    m_candidates.Create(a, b);
  };
  for (size_t i = 0; i < spheres.size(); ++i) {
    for (size_t j = i + 1; j < spheres.size(); ++j) pair(spheres[i], spheres[j], false);
    for (ColliderBase* other : cubes) pair(spheres[i], other, false);
    for (ColliderBase* other : capsules) pair(spheres[i], other, false);
    for (ColliderBase* other : slants) pair(spheres[i], other, false);
  }
  for (size_t i = 0; i < cubes.size(); ++i) {
    for (size_t j = i + 1; j < cubes.size(); ++j) pair(cubes[i], cubes[j], true);
    for (ColliderBase* other : capsules) pair(cubes[i], other, false);
    for (ColliderBase* other : slants) pair(cubes[i], other, false);
  }
  for (size_t i = 0; i < capsules.size(); ++i) {
    for (size_t j = i + 1; j < capsules.size(); ++j) pair(capsules[i], capsules[j], true);
    for (ColliderBase* other : slants) pair(capsules[i], other, false);
  }
  for (ColliderBase* slant : slants)
    for (ColliderBase* other : slants) pair(slant, other, false);
}

void PhysicsSpace::AppendPairEvent(CollisionPair& pair, EventList list) {
  m_events[list].push_back(
      MakeEvent(pair.GetColliderA(), pair.GetColliderB(), pair.GetManifoldA(), pair.GetManifoldB()));
}

void PhysicsSpace::NarrowPhase() {
  m_candidates.ForEach([this](CollisionPair* pair) {
    if (!pair->Collide(m_scratch)) return;
    if (m_colliding.Full()) {
      ReportFullPool(m_collidingFullReported, "colliding pair");
      return;
    }
    CollisionPair* copy = m_colliding.Create(*pair);
    if (!copy) return;
    // The pair's start or persist event was recorded on the candidate; it must carry the manifolds the
    // solver fills, the same ones as the pair's collision event, or its velocities stay zero.
    for (const EventList list : {EventList_Start, EventList_Persist}) {
      CollisionEvents& events = m_events[list];
      if (!events.empty() && events.back().ManifoldA == pair->GetManifoldA()) {
        events.back().ManifoldA = copy->GetManifoldA();
        events.back().ManifoldB = copy->GetManifoldB();
      }
    }
    const ColliderBase* a = copy->GetColliderA();
    const ColliderBase* b = copy->GetColliderB();
    copy->needsResolution = !(IsImmovable(a->GetEntity()) && IsImmovable(b->GetEntity())) && !a->GetGhost() &&
                            !b->GetGhost();
  });
}

void PhysicsSpace::Resolve() {
  m_colliding.ForEach([this](CollisionPair* pair) {
    if (pair->needsResolution && !pair->GetColliderA()->GetGhost() && !pair->GetColliderB()->GetGhost())
      m_solver.Add(*pair, m_stepTime);
  });
  for (int pass = 0; pass < kSolverPasses; ++pass) m_solver.Pass();
  m_solver.Finish();
  m_colliding.ForEach([](CollisionPair* pair) {
    ColliderBase* a = pair->GetColliderA();
    ColliderBase* b = pair->GetColliderB();
    a->AddPair(b, pair->GetAccumulatedImpulse(), a->CurrentSet());
    b->AddPair(a, pair->GetAccumulatedImpulse(), b->CurrentSet());
  });
}

void PhysicsSpace::Integrate(RigidBody& body) {
  if (!body.inSpace) return;
  const float dt = m_stepTime;
  if (body.supportEntity && body.asleep &&
      (body.supportPosition - body.supportEntity->position).LengthSquared() > kSupportMovedSquared) {
    body.Wake();
    body.AddImpulse(Base::Vec3(0.0f, -0.1f, 0.0f));
  }
  if (body.asleep) return;
  Entity& entity = *body.entity;
  if (body.GetDensity() == 0.0f) {
    entity.position += body.velocity * dt;
    Rotate(entity.orientation, body.angularVelocity, dt);
    return;
  }
  body.impulseAccumulator += body.forceAccumulator * dt;
  body.velocity += body.impulseAccumulator;
  body.impulseAccumulator = {};
  body.forceAccumulator = {};
  body.velocity.y -= body.gravityModifier * dt * kGravity;
  entity.position += body.velocity * dt;
  if (!body.rotationLocked) {
    Rotate(entity.orientation, body.angularVelocity, dt);
    body.angularVelocity *= 0.999f;
  }
  if (body.angularVelocity.LengthSquared() < kRestingSpeedSquared &&
      body.velocity.LengthSquared() < kRestingSpeedSquared && body.touching) {
    if (body.sleepCounter < kRestingSteps)
      ++body.sleepCounter;
    else
      body.Sleep();
  } else {
    body.Wake();
  }
  body.touching = false;
}

void PhysicsSpace::ReportEndedContacts(ColliderBase& collider) {
  collider.ForEachPair(collider.PreviousSet(), [&](ColliderBase* other) {
    const bool live = other && other->IsActive();
    m_events[EventList_End].push_back(MakeEvent(&collider, live ? other : nullptr, nullptr, nullptr));
    if (live) other->RemovePair(&collider, other->PreviousSet());
  });
}

void PhysicsSpace::RunCallbacks() {
  m_colliding.ForEach([this](CollisionPair* pair) {
    ColliderBase* a = pair->GetColliderA();
    ColliderBase* b = pair->GetColliderB();
    if (a->GetIgnoreCollisionEvent() || b->GetIgnoreCollisionEvent()) return;
    m_events[EventList_Collision].push_back(MakeEvent(a, b, pair->GetManifoldA(), pair->GetManifoldB()));
  });
  ForEachSwappingCollider([this](ColliderBase& c) {
    if (c.IsActive()) ReportEndedContacts(c);
  });
  // Drawn after the step, when the pairs the events point into are gone.
  m_contactDraws.clear();
  if (GetDebugDrawer()) {
    for (const Physics::SystemCollisionEvent& event : m_events[EventList_Collision])
      m_contactDraws.push_back({*event.ManifoldA, *event.ManifoldB});
  }
  const Callbacks& callbacks = GetCallbacks();
  for (int list = 0; list < EventList_Count; ++list) {
    if (callbacks.list[list]) callbacks.list[list](&m_events[list]);
  }
}

void PhysicsSpace::FlushRemovals() {
  if (!m_detachedColliders.empty()) {
    std::vector<const ColliderBase*> gone(m_detachedColliders.begin(), m_detachedColliders.end());
    std::sort(gone.begin(), gone.end());
    const auto purge = [&gone](ColliderBase* c, bool swapping) {
      if (c->IsActive()) c->PurgePairs(gone, swapping);
    };
    ForEachSwappingCollider([&](ColliderBase& c) { purge(&c, true); });
    m_polytopes.ForEach([&](ColliderBase* c) { purge(c, false); });
    m_grounds.ForEach([&](ColliderBase* c) { purge(c, false); });
    for (ColliderBase* collider : m_detachedColliders) DestroyCollider(collider);
    m_detachedColliders.clear();
  }
  for (RigidBody* body : m_detachedBodies) m_bodies.Destroy(body);
  m_detachedBodies.clear();

  if (m_detachedEntities.empty()) return;
  std::sort(m_detachedEntities.begin(), m_detachedEntities.end());
  // A body resting on an entity that goes must not keep its address: it wakes and falls instead.
  m_bodies.ForEach([this](RigidBody* body) {
    if (body->supportEntity &&
        std::binary_search(m_detachedEntities.begin(), m_detachedEntities.end(), body->supportEntity)) {
      body->supportEntity = nullptr;
      body->Wake();
    }
  });
  for (Entity* entity : m_detachedEntities) {
    m_entities.Destroy(entity);
    m_releasedEntities.push_back(entity);
  }
  m_detachedEntities.clear();
}

void PhysicsSpace::ClearStep() {
  m_candidates.DestroyAll();
  m_colliding.DestroyAll();
  for (CollisionEvents& events : m_events) events.clear();
}

void PhysicsSpace::Step() {
  m_releasedEntities.clear();
  m_candidatesFullReported = m_collidingFullReported = false;
  Base::DebugTimer& timer = Base::DebugTimer::GetInstance();

  timer.StartTimer("Run Step");
  ForEachSwappingCollider([](ColliderBase& c) { c.SwapPairSets(); });

  timer.ChainTimer("Broad Phase");
  if (m_treeMode) {
    m_tree.Reinsert();
    m_tree.FindPairs(*this);
  } else {
    ListPairs();
  }

  timer.ChainTimer("Narrow Phase");
  NarrowPhase();

  timer.ChainTimer("Resolution");
  Resolve();

  timer.ChainTimer("Integration");
  m_bodies.ForEach([this](RigidBody* body) { Integrate(*body); });

  timer.ChainTimer("Callbacks");
  RunCallbacks();
  timer.StopTimer("Callbacks");

  FlushRemovals();
  ClearStep();
}

void PhysicsSpace::DrawContacts() const {
  DebugDrawer* drawer = GetDebugDrawer();
  if (!drawer) return;
  const Base::Vec3 white(1.0f, 1.0f, 1.0f), grey(0.7f, 0.7f, 0.7f);
  for (const auto& [a, b] : m_contactDraws) {
    drawer->DrawPoint(a.contactPoint, white, false);
    drawer->DrawPoint(b.contactPoint, grey, false);
    drawer->DrawLine(a.contactPoint, a.contactPoint + a.normal, white);
    drawer->DrawLine(b.contactPoint, b.contactPoint + b.normal, grey);
  }
}

}  // namespace ZarnPhys
