// The rigid-body component in real game spaces stepped by the physics system: bodies that fall and
// are pushed, settings forwarded to the library in its mirrored frame, and a body that has lost its
// world, its owner or its Transform left working on its own fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Base/FunctionRegistry.h"
#include "Base/Quaternion.h"
#include "Base/Reflection/TypeInfo.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/TraceLog.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Model.h"
#include "Graphics/Mesh.h"
#include "Graphics/Material.h"
#include "Base/ResourceCollection.h"
#include "Physics/ColliderKinds.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "ZarnPhys/ObjectPool.h"
#include "ZarnPhys/PhysicsSpace.h"
#include "tests/Physics/PhysicsWorlds.h"
#include "tests/Support/LogCapture.h"

namespace {

using Physics::PhysicsSystem;
using Physics::RigidBody;

using PhysicsTest::Count;

void ExpectVecEq(Base::Vec3 v, float x, float y, float z) {
  EXPECT_FLOAT_EQ(v.x, x);
  EXPECT_FLOAT_EQ(v.y, y);
  EXPECT_FLOAT_EQ(v.z, z);
}

class RigidBodyTest : public PhysicsTest::Worlds {
 protected:

  // An object at `at` with a Transform (unless told otherwise), not yet initialised.
  Core::GameObject* AddObject(Core::GameSpace* space, Base::Vec3 at, bool withTransform = true) {
    Core::GameObject* object = space->CreateObject();
    if (withTransform) Attach<Core::Transform>(object)->SetTranslation(at);
    return object;
  }


  // Such an object with a rigid body.
  RigidBody* AddBody(Core::GameSpace* space, Base::Vec3 at, bool withTransform = true) {
    return Attach<RigidBody>(AddObject(space, at, withTransform));
  }

  RigidBody* AddLiveBody(Core::GameSpace* space, Base::Vec3 at) {
    RigidBody* body = AddBody(space, at);
    body->GetOwner()->Initialize();
    return body;
  }


};

TEST_F(RigidBodyTest, ABodyFallsWithItsTransformAndAForcePushesItInTheEngineFrame) {
  Core::GameSpace* space = AddSpace();
  RigidBody* dropped = AddLiveBody(space, Base::Vec3(1, 10, -4));
  RigidBody* pushed = AddLiveBody(space, Base::Vec3(20, 10, 0));
  ASSERT_NE(dropped->GetEntity(), nullptr);
  EXPECT_NE(dropped->GetEntity(), pushed->GetEntity());

  for (int i = 0; i < 10; ++i) {
    pushed->ApplyLinearForce(Base::Vec3(30, 0, -30));
    Step();
    // Each body without a collider hands over exactly its own pose, once per step.
    EXPECT_EQ(PhysicsSystem::TransformList().size(), 2u);
  }

  const Base::Vec3 fell = dropped->GetOwnerTransform()->Translation();
  EXPECT_LT(fell.y, 10.0f);
  EXPECT_FLOAT_EQ(fell.x, 1.0f);
  EXPECT_FLOAT_EQ(fell.z, -4.0f);
  EXPECT_LT(dropped->GetVelocity().y, 0.0f);
  const Base::Vec3 moved = pushed->GetOwnerTransform()->Translation();
  EXPECT_GT(moved.x, 20.0f);
  EXPECT_LT(moved.z, 0.0f);
  EXPECT_LT(pushed->GetVelocity().z, 0.0f);
  EXPECT_GT(pushed->GetLibraryBody()->GetVelocity().z, 0.0f);

  // An impulse acts on the next step alone.
  const float before = pushed->GetVelocity().x;
  pushed->ApplyLinearImpulse(Base::Vec3(2, 0, 0));
  Step();
  EXPECT_NEAR(pushed->GetVelocity().x, before + 2.0f, 1e-4f);
}

TEST_F(RigidBodyTest, FieldsSetBeforeInitializeDescribeTheNewBodyExceptItsSpin) {
  Core::GameSpace* space = AddSpace();
  RigidBody* body = AddBody(space, Base::Vec3(0, 0, 0));
  // Unlinked, every accessor works on the fields: level files and copies set them this way.
  body->SetVelocity(Base::Vec3(0, 0, 4));
  body->SetGravMod(0.5f);
  body->SetSleep(false);
  body->SetRotationLock(true);
  body->SetDensity(2.0f);
  body->SetAngularVelocity(Base::Vec3(0, 3, 0));
  body->ApplyLinearForce(Base::Vec3(100, 0, 0));
  ExpectVecEq(body->GetVelocity(), 0, 0, 4);
  EXPECT_FLOAT_EQ(body->GetDensity(), 2.0f);
  ExpectVecEq(body->GetAngularVelocity(), 0, 3, 0);

  body->GetOwner()->Initialize();
  const ZarnPhys::RigidBody* library = body->GetLibraryBody();
  ASSERT_NE(library, nullptr);
  ExpectVecEq(library->GetVelocity(), 0, 0, -4);
  EXPECT_FLOAT_EQ(library->GetGravMod(), 0.5f);
  EXPECT_FALSE(library->canSleep);
  EXPECT_TRUE(library->GetRotationLock());
  EXPECT_FLOAT_EQ(library->GetDensity(), 2.0f);
  ExpectVecEq(library->forceAccumulator, 0, 0, 0);
  // The level's spin is not handed over; the getter says so and refreshes the field.
  ExpectVecEq(library->GetAngularVelocity(), 0, 0, 0);
  ExpectVecEq(body->GetAngularVelocity(), 0, 0, 0);
  ExpectVecEq(body->m_angularVelocity, 0, 0, 0);

  // Velocity crosses the mirrored frame both ways.
  body->SetVelocity(Base::Vec3(1, 2, 3));
  ExpectVecEq(library->GetVelocity(), 1, 2, -3);
  ExpectVecEq(body->GetVelocity(), 1, 2, 3);
  // Spin does not: it is written as it stands, at once.
  body->SetRotationLock(false);
  body->SetAngularVelocity(Base::Vec3(0, 1, 2));
  ExpectVecEq(library->GetAngularVelocity(), 0, 1, 2);
  EXPECT_FALSE(body->GetSleep());
  body->SetSleep(true);
  EXPECT_TRUE(library->canSleep);
}

TEST_F(RigidBodyTest, DensityAndTheStaticStateFollowTheLibraryBody) {
  Core::GameSpace* space = AddSpace();
  RigidBody* body = AddLiveBody(space, Base::Vec3(0, 0, 0));

  body->SetDensity(0.0f);
  EXPECT_TRUE(body->m_static);
  EXPECT_TRUE(body->GetStatic());
  EXPECT_FLOAT_EQ(body->GetDensity(), 0.0f);
  // Not static again: the last non-zero density comes back.
  body->SetStatic(false);
  EXPECT_FLOAT_EQ(body->m_density, 1.0f);

  body->SetDensity(3.0f);
  body->SetStatic(true);
  EXPECT_FLOAT_EQ(body->m_density, 0.0f);
  EXPECT_TRUE(body->GetStatic());
  // A density set while static is kept in the field only; the body stays static with density 0.
  body->SetDensity(5.0f);
  EXPECT_FLOAT_EQ(body->m_density, 5.0f);
  EXPECT_TRUE(body->m_static);
  EXPECT_FLOAT_EQ(body->GetDensity(), 0.0f);
  EXPECT_FLOAT_EQ(body->m_density, 0.0f);
  body->SetStatic(false);
  EXPECT_FLOAT_EQ(body->GetDensity(), 3.0f);
  EXPECT_FALSE(body->GetStatic());

  // A body that starts static has no density to go back to: it gets 1.
  RigidBody* still = AddBody(space, Base::Vec3(5, 0, 0));
  still->SetStatic(true);
  still->GetOwner()->Initialize();
  EXPECT_TRUE(still->GetStatic());
  still->SetStatic(false);
  EXPECT_FLOAT_EQ(still->GetDensity(), 1.0f);

  // A static body stays where it is.
  still->SetStatic(true);
  Step(5);
  ExpectVecEq(still->GetOwnerTransform()->Translation(), 5, 0, 0);
}

TEST_F(RigidBodyTest, PushesWakeASleeperSpinDoesNotAndTheLockStopsSpin) {
  Core::GameSpace* space = AddSpace();
  RigidBody* body = AddLiveBody(space, Base::Vec3(0, 0, 0));
  ZarnPhys::RigidBody* library = body->GetLibraryBody();
  ASSERT_NE(library, nullptr);

  library->Sleep();
  body->SetAngularVelocity(Base::Vec3(1, 0, 0));
  EXPECT_TRUE(library->IsAsleep());
  // Pushed through the script binding, as a script's ApplyForce reaches it.
  const Base::Function* bound = nullptr;
  for (const auto& [function, name] : Base::Reflection::TypeOf<RigidBody>()->methods)
    if (name == "ApplyForce") bound = function;
  ASSERT_NE(bound, nullptr);
  Base::Function push = *bound;
  push.SetObject(Base::Reflection::MakeVariant(*body));
  Base::Vec3 force(0, 1, 2);
  Base::Reflection::Variant arg = Base::Reflection::MakeVariant(force), none;
  push.Invoke(none, &arg, 1);
  EXPECT_FALSE(library->IsAsleep());
  ExpectVecEq(library->forceAccumulator, 0, 1, -2);
  library->Sleep();
  body->ApplyLinearImpulse(Base::Vec3(0, 1, 0));
  EXPECT_FALSE(library->IsAsleep());
  library->Sleep();
  body->SetVelocity(Base::Vec3(0, 1, 0));
  EXPECT_FALSE(library->IsAsleep());

  body->SetAngularVelocity(Base::Vec3(1, 2, 3));
  body->SetRotationLock(true);
  ExpectVecEq(library->GetAngularVelocity(), 0, 0, 0);
  EXPECT_TRUE(body->GetRotationLock());
  const Base::Quaternion before = body->GetOwnerTransform()->Rotation();
  Step(3);
  EXPECT_NEAR(std::fabs(body->GetOwnerTransform()->Rotation().Dot(before)), 1.0f, 1e-6f);
}

TEST_F(RigidBodyTest, ABodyIsReleasedOnceWhetherItsWorldGoesFirstOrItDoes) {
  Core::GameSpace* space = AddSpace();
  RigidBody* leaving = AddLiveBody(space, Base::Vec3(0, 0, 0));
  RigidBody* staying = AddLiveBody(space, Base::Vec3(3, 0, 0));
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(space);
  EXPECT_EQ(world->GetRigidBodyCount(), 2u);

  // Removed from a live world: the body, its entity and its step listener go.
  leaving->GetOwner()->RemoveComponent(Core::ComponentType_RigidBody);
  Step();
  EXPECT_EQ(world->GetRigidBodyCount(), 1u);
  EXPECT_EQ(world->GetEntityCount(), 1u);
  EXPECT_EQ(PhysicsSystem::TransformList().size(), 1u);

  // The world goes first: the body is released through the hook and the component lets go of it.
  staying->SetVelocity(Base::Vec3(0, 0, 2));
  log_.Take();
  system_.GameSpaceDeleted(space);
  EXPECT_EQ(staying->GetEntity(), nullptr);
  EXPECT_EQ(staying->GetLibraryBody(), nullptr);
  EXPECT_TRUE(staying->m_deleted);
  // Its accessors now work on the fields alone.
  staying->SetGravMod(3.0f);
  EXPECT_FLOAT_EQ(staying->GetGravMod(), 3.0f);
  ExpectVecEq(staying->GetVelocity(), 0, 0, 2);
  staying->ApplyLinearImpulse(Base::Vec3(1, 1, 1));
  // Uninitialize does not reach for the released body a second time.
  staying->GetOwner()->RemoveComponent(Core::ComponentType_RigidBody);
  const std::string text = log_.Take();
  EXPECT_EQ(text.find("RemoveRigidBody"), std::string::npos) << text;
}

TEST_F(RigidBodyTest, ABodyWithoutAWorldOwnerOrTransformStaysOnItsFieldsAndSaysSoOnce) {
  // No physics world for the space.
  Core::GameSpace* bare = AddSpace("Bare", false);
  RigidBody* worldless = AddLiveBody(bare, Base::Vec3(0, 1, 0));
  EXPECT_EQ(worldless->GetEntity(), nullptr);
  EXPECT_NE(log_.Take().find("has no physics space"), std::string::npos);
  worldless->SetDensity(4.0f);
  EXPECT_FLOAT_EQ(worldless->GetDensity(), 4.0f);
  worldless->ApplyLinearForce(Base::Vec3(1, 0, 0));

  Core::GameSpace* space = AddSpace();
  // No Transform on the object.
  RigidBody* placeless = AddBody(space, Base::Vec3(), false);
  placeless->GetOwner()->Initialize();
  EXPECT_EQ(placeless->GetEntity(), nullptr);
  // No owner: the component was never attached.
  auto* orphan = static_cast<RigidBody*>(space->CreateComponent(Core::ComponentType_RigidBody));
  orphan->Initialize();
  orphan->Initialize();
  EXPECT_EQ(orphan->GetEntity(), nullptr);
  orphan->Uninitialize();
  std::string text = log_.Take();
  EXPECT_EQ(Count(text, "has no live Transform"), 1u) << text;
  EXPECT_EQ(Count(text, "has no live owner"), 1u) << text;

  // The Transform goes after the body was made: the steps skip its pose and say so once.
  RigidBody* stranded = AddLiveBody(space, Base::Vec3(0, 5, 0));
  ASSERT_NE(stranded->GetEntity(), nullptr);
  stranded->GetOwner()->RemoveComponent(Core::ComponentType_Transform);
  Step(3);
  EXPECT_TRUE(PhysicsSystem::TransformList().empty());
  text = log_.Take();
  EXPECT_EQ(Count(text, "has no live Transform"), 1u) << text;
}

TEST_F(RigidBodyTest, AFullBodyPoolLeavesTheComponentUnlinked) {
  Core::GameSpace* space = AddSpace();
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(space);
  for (uint32_t i = 0; i < ZarnPhys::ObjectPool<ZarnPhys::RigidBody>::kCapacity; ++i) {
    ZarnPhys::Entity* entity = nullptr;
    world->CreateRigidBody(&entity, {}, {});
  }
  RigidBody* body = AddLiveBody(space, Base::Vec3(0, 0, 0));
  EXPECT_EQ(body->GetEntity(), nullptr);
  EXPECT_NE(log_.Take().find("no library body was created"), std::string::npos);
  body->SetVelocity(Base::Vec3(1, 0, 0));
  ExpectVecEq(body->GetVelocity(), 1, 0, 0);
  Step();
  EXPECT_TRUE(PhysicsSystem::TransformList().empty());
}

TEST_F(RigidBodyTest, ABodyAndACubeShareOneEntityWhicheverInitialisesFirst) {
  Core::GameSpace* space = AddSpace();
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(space);
  // The object's own order: the body first, then its collider joins it.
  RigidBody* bodyFirst = AddBody(space, Base::Vec3(0, 10, 0));
  auto* joiningCube = Attach<Physics::ColliderCube>(bodyFirst->GetOwner());
  bodyFirst->GetOwner()->Initialize();
  ASSERT_NE(bodyFirst->GetEntity(), nullptr);
  EXPECT_EQ(joiningCube->GetEntity(), bodyFirst->GetEntity());
  EXPECT_TRUE(bodyFirst->HasCollider());
  EXPECT_EQ(bodyFirst->m_colliderKind, uint32_t(Core::ComponentType_ColliderCube));
  EXPECT_TRUE(joiningCube->IsAttachedToBody());

  // The collider first, the body joining it later.
  Core::GameObject* later = AddObject(space, Base::Vec3(5, 10, 0));
  auto* waitingCube = Attach<Physics::ColliderCube>(later);
  later->Initialize();
  ASSERT_NE(waitingCube->GetEntity(), nullptr);
  RigidBody* bodyLater = Attach<RigidBody>(later);
  bodyLater->Initialize();
  EXPECT_EQ(bodyLater->GetEntity(), waitingCube->GetEntity());
  EXPECT_TRUE(bodyLater->HasCollider());
  EXPECT_TRUE(waitingCube->IsAttachedToBody());
  // Joining keeps the collider on the entity's owner pointers.
  EXPECT_EQ(bodyLater->GetEntity()->userData.collider, static_cast<Physics::ColliderBase*>(waitingCube));
  EXPECT_EQ(world->GetEntityCount(), 2u);

  // The colliders hand over the poses; the bodies stay quiet.
  Step();
  EXPECT_EQ(PhysicsSystem::TransformList().size(), 2u);
  for (const ZarnPhys::EntityTransform& record : PhysicsSystem::TransformList())
    EXPECT_NE(record.userData.collider, nullptr);

  // Without its collider a body reports its own pose again.
  bodyFirst->GetOwner()->RemoveComponent(Core::ComponentType_ColliderCube);
  EXPECT_FALSE(bodyFirst->HasCollider());
  Step();
  EXPECT_EQ(PhysicsSystem::TransformList().size(), 2u);
  const Base::Vec3 before = bodyFirst->GetOwnerTransform()->Translation();
  Step();
  EXPECT_LT(bodyFirst->GetOwnerTransform()->Translation().y, before.y);

  // A body that leaves lets its collider know.
  later->RemoveComponent(Core::ComponentType_RigidBody);
  EXPECT_FALSE(waitingCube->IsAttachedToBody());
}

TEST_F(RigidBodyTest, ABodyInitialisedAfterAPolytopeJoinsItsEntity) {
  Core::GameSpace* space = AddSpace();
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(space);
  Core::GameObject* object = AddObject(space, Base::Vec3(0, 0, 0));
  Attach<Graphics::Model>(object)->m_meshName = "Pyramid.cong";
  auto* hull = Attach<Physics::ColliderPolytope>(object);
  object->Initialize();
  ASSERT_NE(hull->GetEntity(), nullptr) << log_.Take();
  const uint32_t entities = world->GetEntityCount();

  RigidBody* body = Attach<RigidBody>(object);
  body->Initialize();
  EXPECT_EQ(body->GetEntity(), hull->GetEntity());
  EXPECT_EQ(world->GetEntityCount(), entities);
  EXPECT_EQ(body->m_colliderKind, uint32_t(Core::ComponentType_ColliderPolytope));
  EXPECT_TRUE(hull->IsAttachedToBody());
  Step();
  EXPECT_EQ(PhysicsSystem::TransformList().size(), 1u);

}

TEST_F(RigidBodyTest, AColliderThatNeverJoinsLeavesTheBodyReportingItsOwnPose) {
  Core::GameSpace* space = AddSpace();
  // A polytope without a model to take its hull from has no shape and stays out of the world.
  RigidBody* body = AddBody(space, Base::Vec3(0, 10, 0));
  auto* hull = Attach<Physics::ColliderPolytope>(body->GetOwner());
  body->GetOwner()->Initialize();
  ASSERT_NE(body->GetEntity(), nullptr);
  EXPECT_EQ(hull->GetEntity(), nullptr);
  EXPECT_FALSE(body->HasCollider());

  Step(3);
  EXPECT_EQ(PhysicsSystem::TransformList().size(), 1u);
  EXPECT_LT(body->GetOwnerTransform()->Translation().y, 10.0f);
}

TEST(RigidBodyRegistration, MembersInOrderWithTheirAccessorsAndThePushesUnderTheirScriptNames) {
  const Base::Reflection::TypeInfo* record = Base::Reflection::TypeOf<RigidBody>();
  ASSERT_EQ(record->name, "RigidBody");
  std::vector<std::string> members;
  for (const auto& member : record->members) members.push_back(member.name);
  const std::vector<std::string> expected = {"m_density",      "m_static",   "m_velocity", "m_angularVelocity",
                                             "m_rotationLocked", "m_canSleep", "m_gravMod"};
  EXPECT_EQ(members, expected);
  const auto& density = record->members[0];
  ASSERT_TRUE(density.setter && density.getter);
  EXPECT_EQ(density.setter->GetName(), "SetDensity");
  EXPECT_EQ(density.getter->GetName(), "GetDensity");

  std::vector<std::string> methods;
  for (const auto& method : record->methods) methods.push_back(method.second);
  EXPECT_NE(std::find(methods.begin(), methods.end(), "ApplyForce"), methods.end());
  EXPECT_NE(std::find(methods.begin(), methods.end(), "ApplyImpulse"), methods.end());

  const auto* entries = Base::FunctionRegistry::GetInstance().GetCategoryEntries("RigidBody");
  ASSERT_NE(entries, nullptr);
  std::string getterText, forceText;
  for (const auto& entry : *entries) {
    if (entry.function == density.getter) getterText = entry.description;
    if (entry.name == "ApplyForce") forceText = entry.description;
  }
  EXPECT_EQ(getterText, "\"Get the density of the rigid body\"");
  EXPECT_EQ(forceText, "\"Apply a linear force to a rigid body\"");
}

}  // namespace
