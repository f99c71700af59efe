// The space's step as the game sees it: event sequences, removals from inside the callbacks, the
// write-back of transforms, and full pools.
#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "../Support/LogCapture.h"
#include "PhysScene.h"

namespace {

using Base::Vec3;
using PhysTest::Events;
using PhysTest::Scene;
using ZarnPhys::PhysicsSpace;

TEST(PhysicsSpace, EmptySpaceStillCallsEveryCallback) {
  Scene scene;
  int calls = 0;
  static int* counter;
  counter = &calls;
  PhysTest::CallbackHook() = [](PhysicsSpace::EventList, ZarnPhys::CollisionEvents* events) {
    EXPECT_TRUE(events->empty());
    ++*counter;
  };
  scene.space.Step();
  EXPECT_EQ(calls, 4);
}

TEST(PhysicsSpace, StartPersistEndSequence) {
  Scene scene;
  scene.Ground(0.0f);
  int object = 0;
  ZarnPhys::Entity* ball = scene.Sphere({0, 0.45f, 0}, 0.5f);
  ball->userData.object = &object;
  scene.Steps(1);
  ASSERT_EQ(Events(PhysicsSpace::EventList_Start).size(), 1u);
  EXPECT_TRUE(Events(PhysicsSpace::EventList_Persist).empty());
  EXPECT_EQ(Events(PhysicsSpace::EventList_Collision).size(), 1u);
  const auto& start = Events(PhysicsSpace::EventList_Start)[0];
  EXPECT_TRUE(start.ObjectA == &object || start.ObjectB == &object);

  PhysTest::Record().Clear();
  scene.Steps(1);
  EXPECT_TRUE(Events(PhysicsSpace::EventList_Start).empty());
  EXPECT_EQ(Events(PhysicsSpace::EventList_Persist).size(), 1u);
  EXPECT_TRUE(Events(PhysicsSpace::EventList_End).empty());

  // Thrown upwards, it leaves the ground: one end event, then nothing.
  PhysTest::Record().Clear();
  ball->rigidBody->SetVelocity({0, 30.0f, 0});
  scene.Steps(3);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End).size(), 1u);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End)[0].ObjectA, &object);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End)[0].ManifoldA, nullptr);
}

// A new contact's start event and its collision event share their manifolds, which carry the velocity
// change the solver gave each side.
TEST(PhysicsSpace, AStartingContactSharesTheManifoldsTheSolverFills) {
  Scene scene;
  scene.Ground(0.0f);
  ZarnPhys::Entity* ball = scene.Sphere({0, 0.45f, 0}, 0.5f);
  ball->rigidBody->SetVelocity({0, -3.0f, 0});
  static float applied;
  applied = 0.0f;
  PhysTest::CallbackHook() = [](PhysicsSpace::EventList list, ZarnPhys::CollisionEvents* events) {
    if (list != PhysicsSpace::EventList_Start) return;
    for (const Physics::SystemCollisionEvent& event : *events) {
      for (const Physics::SystemManifold* m : {event.ManifoldA, event.ManifoldB})
        applied = std::max(applied, std::abs(m->appliedVelocity.y));
    }
  };
  scene.Steps(1);
  ASSERT_EQ(Events(PhysicsSpace::EventList_Start).size(), 1u);
  ASSERT_EQ(Events(PhysicsSpace::EventList_Collision).size(), 1u);
  EXPECT_EQ(Events(PhysicsSpace::EventList_Start)[0].ManifoldA, Events(PhysicsSpace::EventList_Collision)[0].ManifoldA);
  EXPECT_EQ(Events(PhysicsSpace::EventList_Start)[0].ManifoldB, Events(PhysicsSpace::EventList_Collision)[0].ManifoldB);
  EXPECT_GT(applied, 1.0f);

  PhysTest::Record().Clear();
  scene.Steps(1);
  ASSERT_EQ(Events(PhysicsSpace::EventList_Persist).size(), 1u);
  EXPECT_EQ(Events(PhysicsSpace::EventList_Persist)[0].ManifoldA,
            Events(PhysicsSpace::EventList_Collision)[0].ManifoldA);
}

TEST(PhysicsSpace, IgnoredCollisionEventsStillStartAndEnd) {
  Scene scene;
  scene.Ground(0.0f);
  scene.Body(scene.Collider(ZarnPhys::ColliderKind_Sphere, {0.5f, 0, 0}, {0.5f, 0.5f, 0.5f},
                            Scene::At({0, 0.45f, 0}), ZarnPhys::ColliderFlag_IgnoreCollisionEvent));
  scene.Steps(2);
  EXPECT_TRUE(Events(PhysicsSpace::EventList_Collision).empty());
  EXPECT_EQ(Events(PhysicsSpace::EventList_Start).size(), 1u);
  EXPECT_EQ(Events(PhysicsSpace::EventList_Persist).size(), 1u);
}

TEST(PhysicsSpace, RemovalInsideCallbacksIsDeferredAndSkippedOnWriteBack) {
  Scene scene;
  scene.Ground(0.0f);
  static ZarnPhys::Entity* doomed;
  static PhysicsSpace* space;
  doomed = scene.Sphere({0, 0.45f, 0}, 0.5f);
  space = &scene.space;
  ZarnPhys::Entity* other = scene.Sphere({5, 0.45f, 0}, 0.5f);
  const uint32_t entities = scene.space.GetEntityCount();

  PhysTest::CallbackHook() = [](PhysicsSpace::EventList list, ZarnPhys::CollisionEvents*) {
    if (list != PhysicsSpace::EventList_Collision || !doomed) return;
    space->RemoveCollider(doomed);
    space->RemoveRigidBody(doomed);
    // Still readable for the rest of the step.
    EXPECT_EQ(doomed->space, space);
    EXPECT_EQ(space->GetEntityCount(), 3u);
    doomed = nullptr;
  };
  ZarnPhys::EntityTransform records[2];
  records[0].entity = doomed;
  records[0].position = {7, 7, 7};
  records[1].entity = other;
  scene.space.SetTransforms(records, 0);
  scene.space.Step();
  EXPECT_EQ(scene.space.GetEntityCount(), entities - 1);
  scene.space.GetTransforms(records, 2);
  EXPECT_EQ(records[0].position, Vec3(7, 7, 7));
  EXPECT_EQ(records[0].entity, nullptr) << "the record lets go of the released entity";
  EXPECT_NEAR(records[1].position.x, 5.0f, 1e-4f);

  // The ground forgot the removed sphere: a new body in its slot starts its own contact.
  PhysTest::Record().Clear();
  ZarnPhys::Entity* fresh = scene.Sphere({0, 0.45f, 0}, 0.5f);
  scene.Steps(1);
  ASSERT_EQ(Events(PhysicsSpace::EventList_Start).size(), 1u);
  const auto& start = Events(PhysicsSpace::EventList_Start)[0];
  EXPECT_TRUE(start.zarnColliderA == fresh->collider || start.zarnColliderB == fresh->collider);
}

TEST(PhysicsSpace, EndEventOfAContactRemovedInsideTheCallbacksHasNoColliderB) {
  Scene scene;
  static ZarnPhys::Entity* doomed;
  static PhysicsSpace* space;
  ZarnPhys::Entity* base = scene.Box({0, 0, 0}, {1, 1, 1});
  base->rigidBody->SetGravMod(0.0f);
  doomed = scene.Box({0, 1.9f, 0}, {1, 1, 1});
  doomed->rigidBody->SetGravMod(0.0f);
  space = &scene.space;
  PhysTest::CallbackHook() = [](PhysicsSpace::EventList list, ZarnPhys::CollisionEvents*) {
    if (list != PhysicsSpace::EventList_Collision || !doomed) return;
    space->RemoveCollider(doomed);
    doomed = nullptr;
  };
  scene.Steps(1);
  PhysTest::Record().Clear();
  scene.Steps(1);
  ASSERT_EQ(Events(PhysicsSpace::EventList_End).size(), 1u);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End)[0].zarnColliderA, base->collider);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End)[0].zarnColliderB, nullptr);
  EXPECT_EQ(Events(PhysicsSpace::EventList_End)[0].ObjectB, nullptr);
}

TEST(PhysicsSpace, SleeperWakesWhenItsSupportIsRemoved) {
  Scene scene;
  ZarnPhys::Entity* floor = scene.Box({0, 0, 0}, {2, 0.5f, 2});
  floor->rigidBody->SetStatic(true);
  ZarnPhys::Entity* top = scene.Box({0, 0.9f, 0}, {0.4f, 0.4f, 0.4f});
  bool slept = false;
  for (int i = 0; i < 200 && !slept; ++i) {
    scene.space.Step();
    slept = top->rigidBody->IsAsleep();
  }
  ASSERT_TRUE(slept);
  ASSERT_EQ(top->rigidBody->supportEntity, floor);
  scene.space.RemoveCollider(floor);
  scene.space.RemoveRigidBody(floor);
  scene.space.Step();
  EXPECT_EQ(top->rigidBody->supportEntity, nullptr);
  EXPECT_FALSE(top->rigidBody->IsAsleep());
  const float y = top->position.y;
  scene.Steps(10);
  EXPECT_LT(top->position.y, y - 0.05f);
}

TEST(PhysicsSpace, DuplicatesAndBadRemovalsAreLoggedAndRefused) {
  Scene scene;
  OrvTest::LogCapture log;
  ZarnPhys::Entity* e = scene.Sphere({0, 0, 0}, 0.5f);
  ZarnPhys::ColliderDescription d;
  d.kind = ZarnPhys::ColliderKind_Cube;
  EXPECT_EQ(scene.space.AddCollider(&e, d), nullptr);
  EXPECT_EQ(scene.space.AddRigidBody(&e, ZarnPhys::RigidBodyDescription()), nullptr);
  scene.space.RemoveCollider(nullptr);
  const std::string text = log.Take();
  EXPECT_NE(text.find("[Warning][Physics] Adding Duplicate Collider"), std::string::npos);
  EXPECT_NE(text.find("[ Error ][Physics] Adding Duplicate RigidBody"), std::string::npos);
  EXPECT_NE(text.find("RemoveCollider"), std::string::npos);
}

TEST(PhysicsSpace, AddingAColliderToABodyRecomputesItsMass) {
  Scene scene;
  ZarnPhys::Entity* e = nullptr;
  ZarnPhys::RigidBodyDescription body;
  body.density = 2.0f;
  scene.space.CreateRigidBody(&e, body, Scene::At({0, 0, 0}));
  EXPECT_FLOAT_EQ(e->rigidBody->GetInverseMass(), 0.5f);
  ZarnPhys::ColliderDescription cube;
  cube.kind = ZarnPhys::ColliderKind_Cube;
  cube.shape[0] = cube.shape[1] = cube.shape[2] = 1.0f;
  ASSERT_EQ(scene.space.CreateCollider(&e, cube, Scene::At({0, 0, 0})), e);
  EXPECT_FLOAT_EQ(e->rigidBody->GetInverseMass(), 1.0f / 16.0f);
  // Without the collider the entity stays for its body; without both it goes at the next step.
  scene.space.RemoveCollider(e);
  scene.Steps(1);
  EXPECT_EQ(scene.space.GetEntityCount(), 1u);
  scene.space.RemoveRigidBody(e);
  scene.Steps(1);
  EXPECT_EQ(scene.space.GetEntityCount(), 0u);
}

TEST(PhysicsSpace, FullPoolsReturnNullAndSkipPairsWithOneLinePerStep) {
  Scene scene;
  OrvTest::LogCapture log;
  const uint32_t capacity = ZarnPhys::ObjectPool<ZarnPhys::Entity>::kCapacity;
  for (uint32_t i = 0; i < capacity; ++i)
    ASSERT_NE(scene.Collider(ZarnPhys::ColliderKind_Sphere, {0.1f, 0, 0}, {0.1f, 0.1f, 0.1f},
                             Scene::At({float(i % 50) * 3.0f, float(i / 50) * 3.0f, 0})),
              nullptr);
  EXPECT_EQ(scene.Collider(ZarnPhys::ColliderKind_Cube, {1, 1, 1}, {1, 1, 1}, Scene::At({0, 0, 0})), nullptr);
  EXPECT_NE(log.Take().find("pool is full"), std::string::npos);
  EXPECT_EQ(scene.space.GetEntityCount(), capacity);
}

TEST(PhysicsSpace, TooManyPairsAreSkippedWithOneLinePerStep) {
  Scene scene;
  // 70 ghosts in one place make 2,415 pairs, more than the pair pool holds.
  for (int i = 0; i < 70; ++i) scene.Sphere({0, 0, 0}, 0.5f, true, ZarnPhys::ColliderFlag_Ghost);
  OrvTest::LogCapture log;
  scene.Steps(2);
  const std::string text = log.Take();
  size_t lines = 0;
  for (size_t at = text.find("candidate pair pool is full"); at != std::string::npos;
       at = text.find("candidate pair pool is full", at + 1))
    ++lines;
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(text.find("[Base]"), std::string::npos);
  EXPECT_EQ(Events(PhysicsSpace::EventList_Collision).size(), 2u * ZarnPhys::ObjectPool<ZarnPhys::CollisionPair>::kCapacity);
}

}  // namespace
