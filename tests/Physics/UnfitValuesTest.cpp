// Values that would take a body out of the world for good: forces, velocities and gravity that are not
// finite, and collider sizes of 0, below 0 or not a number, from the script accessors and from a level
// file. They are refused or replaced, said once each, and a crate still lands on the ground.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "Base/Serialization/File.h"
#include "Core/Factory.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/SpaceComponent.h"
#include "Core/Transform.h"
#include "Physics/ColliderKinds.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "tests/Physics/PhysicsWorlds.h"

namespace {

using Base::Vec3;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using PhysicsTest::Count;

class UnfitValuesTest : public PhysicsTest::Worlds {
 protected:
  // An object at `at` with a Transform, named, not yet initialised.
  Core::GameObject* AddObject(Core::GameSpace* space, const char* name, Vec3 at) {
    Core::GameObject* object = space->CreateObject();
    object->Name(name);
    Attach<Core::Transform>(object)->SetTranslation(at);
    return object;
  }
  // A ground slab whose top is at y 0.5.
  void AddGround(Core::GameSpace* space) {
    Core::GameObject* ground = AddObject(space, "Ground", {0, 0, 0});
    Attach<Physics::ColliderGround>(ground)->m_dimensions = Vec3(20, 1, 20);
  }
  static float Height(Core::GameSpace* space, const char* name) {
    return space->FindGameObject(name)->GetComponent<Core::Transform>()->Translation().y;
  }
};

TEST_F(UnfitValuesTest, ScriptValuesThatAreNotFiniteAreRefusedAndTheCrateStillLands) {
  Core::GameSpace* space = AddSpace();
  AddGround(space);
  Core::GameObject* crate = AddObject(space, "Crate", {0, 3, 0});
  auto* body = Attach<Physics::RigidBody>(crate);
  auto* cube = Attach<Physics::ColliderCube>(crate);
  Core::GameObject* ball = AddObject(space, "Ball", {5, 3, 0});
  Attach<Physics::RigidBody>(ball);
  auto* sphere = Attach<Physics::ColliderSphere>(ball);
  Core::GameObject* pill = AddObject(space, "Pill", {-5, 3, 0});
  auto* capsule = Attach<Physics::ColliderCapsule>(pill);
  for (Core::GameObject* object : space->GetObjects()) object->Initialize();
  log_.Take();

  body->ApplyLinearForce(Vec3(kNaN, 0, 0));
  body->ApplyLinearImpulse(Vec3(0, kInf, 0));
  body->SetVelocity(Vec3(0, 0, -kInf));
  body->SetAngularVelocity(Vec3(kNaN, kNaN, kNaN));
  body->SetGravMod(kNaN);
  body->SetDensity(kNaN);
  body->SetDensity(-2.0f);
  for (Vec3 size : {Vec3(0, 1, 1), Vec3(1, -1, 1), Vec3(1, 1, kNaN)}) cube->SetDimensions(size);
  for (float radius : {0.0f, -2.0f, kNaN}) sphere->SetRadius(radius);
  capsule->SetRadius(kInf);
  capsule->SetHalfHeight(-1.0f);
  capsule->SetHalfHeight(0.0f);  // a capsule without a cylinder is a sphere: taken

  const std::string log = log_.Take();
  for (const char* setter : {"ApplyLinearForce", "ApplyLinearImpulse", "SetVelocity", "SetAngularVelocity", "SetGravMod"})
    EXPECT_EQ(Count(log, std::string("RigidBody::") + setter + " needs finite values; left unchanged."), 1u) << setter;
  EXPECT_EQ(Count(log, "RigidBody::SetDensity needs finite values; left unchanged."), 2u);
  EXPECT_EQ(Count(log, "ColliderCube::SetDimensions needs a finite size above 0; left unchanged."), 3u) << log;
  EXPECT_EQ(Count(log, "ColliderSphere::SetRadius needs a finite size above 0; left unchanged."), 3u);
  EXPECT_EQ(Count(log, "ColliderCapsule::SetRadius needs a finite size above 0; left unchanged."), 1u);
  EXPECT_EQ(Count(log, "ColliderCapsule::SetHalfHeight needs a finite size above 0; left unchanged."), 1u);
  EXPECT_EQ(body->GetGravMod(), 1.0f);
  EXPECT_EQ(body->GetDensity(), 1.0f);
  EXPECT_EQ(cube->m_dimensions, Vec3(1, 1, 1));
  EXPECT_EQ(sphere->m_radius, 1.0f);
  EXPECT_EQ(capsule->m_radius, 1.0f);
  EXPECT_EQ(capsule->m_cylinderHeight, 0.0f);

  Step(120);
  // On the ground's top at 0.5: the crate's centre half a unit above it, the ball's a whole one.
  EXPECT_NEAR(Height(space, "Crate"), 1.0f, 0.2f);
  EXPECT_NEAR(Height(space, "Ball"), 1.5f, 0.2f);
  EXPECT_EQ(body->GetVelocity().x, body->GetVelocity().x) << "a number";
}

// Values that are finite but whose squares and products overflow (1e38 squared is infinite) are refused
// as infinite ones are, from scripts and from a level file, saying how large a value may be; the bound
// itself is taken.
TEST_F(UnfitValuesTest, ValuesWhoseProductsOverflowAreRefusedAndTheCrateStillLands) {
  constexpr float kHuge = 1e38f, kJustOver = 1.01e18f;
  Core::GameSpace* space = AddSpace();
  AddGround(space);
  Core::GameObject* crate = AddObject(space, "Crate", {0, 3, 0});
  auto* body = Attach<Physics::RigidBody>(crate);
  auto* cube = Attach<Physics::ColliderCube>(crate);
  cube->m_offset = Vec3(0, kHuge, 0);
  Core::GameObject* ball = AddObject(space, "Ball", {5, 3, 0});
  Attach<Physics::RigidBody>(ball)->m_velocity = Vec3(kJustOver, 0, 0);
  auto* sphere = Attach<Physics::ColliderSphere>(ball);
  sphere->m_radius = kHuge;
  Core::GameObject* pill = AddObject(space, "Pill", {-5, 3, 0});
  auto* capsule = Attach<Physics::ColliderCapsule>(pill);
  log_.Take();
  for (Core::GameObject* object : space->GetObjects()) object->Initialize();
  std::string log = log_.Take();
  EXPECT_EQ(Count(log, "its m_offset is above 1e18; it keeps no offset"), 1u) << log;
  EXPECT_EQ(Count(log, "its m_radius is above 1e18; the shape keeps its default"), 1u) << log;
  EXPECT_EQ(Count(log, "its m_velocity is above 1e18 in magnitude; it takes the default"), 1u) << log;
  EXPECT_EQ(cube->m_offset, Vec3(0, 0, 0));
  EXPECT_EQ(sphere->m_radius, 1.0f);

  body->ApplyLinearForce(Vec3(kHuge, 0, 0));
  body->ApplyLinearImpulse(Vec3(0, -kJustOver, 0));
  body->SetVelocity(Vec3(0, 0, kHuge));
  body->SetAngularVelocity(Vec3(0, -kHuge, 0));
  body->SetGravMod(-kHuge);
  body->SetDensity(kHuge);
  cube->SetDimensions(Vec3(1, kHuge, 1));
  sphere->SetRadius(kJustOver);
  capsule->SetRadius(kHuge);
  capsule->SetHalfHeight(kHuge);
  log = log_.Take();
  for (const char* setter : {"ApplyLinearForce", "ApplyLinearImpulse", "SetVelocity", "SetAngularVelocity",
                             "SetGravMod", "SetDensity"})
    EXPECT_EQ(Count(log, std::string("RigidBody::") + setter + " needs values of at most 1e18 in magnitude; left unchanged."),
              1u)
        << setter << "\n" << log;
  for (const char* setter : {"ColliderCube::SetDimensions", "ColliderSphere::SetRadius", "ColliderCapsule::SetRadius",
                             "ColliderCapsule::SetHalfHeight"})
    EXPECT_EQ(Count(log, std::string(setter) + " needs a size of at most 1e18; left unchanged."), 1u) << setter;
  EXPECT_EQ(body->GetGravMod(), 1.0f);
  EXPECT_EQ(body->GetDensity(), 1.0f);
  EXPECT_EQ(cube->m_dimensions, Vec3(1, 1, 1));
  EXPECT_EQ(sphere->m_radius, 1.0f);
  EXPECT_EQ(capsule->m_radius, 1.0f);

  body->SetGravMod(1e18f);
  EXPECT_EQ(body->GetGravMod(), 1e18f);
  body->SetGravMod(1.0f);
  EXPECT_EQ(log_.Take().find("[Warning]"), std::string::npos);

  Step(120);
  EXPECT_NEAR(Height(space, "Crate"), 1.0f, 0.2f);
  EXPECT_NEAR(Height(space, "Ball"), 1.5f, 0.2f);
  EXPECT_NEAR(space->FindGameObject("Ball")->GetComponent<Core::Transform>()->Translation().x, 5.0f, 0.2f);
}

// A level file as the engine writes it, holding sizes, an offset and body settings no setter would
// take: each is logged as the level loads and goes back to its default, and the bodies land.
TEST_F(UnfitValuesTest, ALevelFilesUnfitSizesPosesAndSettingsAreLoggedAndTakeTheirDefaults) {
  Core::GameSpace* built = AddSpace("Unfit");
  AddGround(built);
  Core::GameObject* crate = AddObject(built, "Crate", {0, 3, 0});
  auto* body = Attach<Physics::RigidBody>(crate);
  body->m_velocity = Vec3(0, kNaN, 0);
  body->m_gravMod = kInf;
  body->m_density = -1.0f;
  auto* cube = Attach<Physics::ColliderCube>(crate);
  cube->m_dimensions = Vec3(0, 1, 1);
  cube->m_offset = Vec3(kNaN, 0, 0);
  Core::GameObject* ball = AddObject(built, "Ball", {5, 3, 0});
  Attach<Physics::RigidBody>(ball)->m_angularVelocity = Vec3(kInf, 0, 0);
  Attach<Physics::ColliderSphere>(ball)->m_radius = kNaN;
  Core::GameObject* pill = AddObject(built, "Pill", {-5, 3, 0});
  Attach<Physics::RigidBody>(pill);
  auto* capsule = Attach<Physics::ColliderCapsule>(pill);
  capsule->m_radius = -1.0f;
  capsule->m_cylinderHeight = kNaN;
  const std::string path = ::testing::TempDir() + "orv_unfit_values.space";
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    Core::SpaceLoadContext context;
    built->WriteText(file, context);
  }

  // Loaded as the game loads a level: into a space that has its physics world from the start.
  struct Host : Core::SpaceHost {
    std::function<Core::GameSpace*(const char*)> add;
    Core::GameSpace* GetGameSpace(const char*) override { return nullptr; }
    Core::GameSpace* NewGameSpace(const char* name) override {
      Core::GameSpace* made = add(name);
      if (Core::SpaceCompCreator* creator = Core::SpaceComponentRegistry::GetCreator(0))
        made->AddSpaceComponent(creator->Create(made));
      return made;
    }
  } host;
  host.add = [this](const char* name) { return AddSpace(name); };
  log_.Take();
  Core::GameSpace* space = Core::Factory::GetInstance().LoadSpace(path.c_str(), host);
  ASSERT_NE(space, nullptr);
  system_.GameSpaceLoaded(space);
  const std::string log = log_.Take();
  for (const char* line :
       {"its m_velocity is not a finite value; it takes the default", "its m_gravMod is not a finite value",
        "its m_density is not a finite value", "its m_angularVelocity is not a finite value",
        "its m_dimensions is not a finite size above 0; the shape keeps its default",
        "its m_offset is not finite; it keeps no offset", "its m_radius is not a finite size above 0",
        "its m_cylinderHeight is not a finite size above 0"})
    EXPECT_EQ(Count(log, line), line == std::string("its m_radius is not a finite size above 0") ? 2u : 1u)
        << line << "\n" << log;

  auto* loadedCrate = space->FindGameObject("Crate");
  ASSERT_NE(loadedCrate, nullptr);
  EXPECT_EQ(loadedCrate->GetComponent<Physics::ColliderCube>()->m_dimensions, Vec3(1, 1, 1));
  EXPECT_EQ(loadedCrate->GetComponent<Physics::ColliderCube>()->m_offset, Vec3(0, 0, 0));
  EXPECT_EQ(loadedCrate->GetComponent<Physics::RigidBody>()->GetGravMod(), 1.0f);
  EXPECT_EQ(loadedCrate->GetComponent<Physics::RigidBody>()->GetDensity(), 1.0f);
  EXPECT_EQ(space->FindGameObject("Ball")->GetComponent<Physics::ColliderSphere>()->m_radius, 1.0f);
  EXPECT_EQ(space->FindGameObject("Pill")->GetComponent<Physics::ColliderCapsule>()->m_radius, 1.0f);
  EXPECT_EQ(space->FindGameObject("Pill")->GetComponent<Physics::ColliderCapsule>()->m_cylinderHeight, 0.5f);

  Step(120);
  EXPECT_NEAR(Height(space, "Crate"), 1.0f, 0.2f);
  EXPECT_NEAR(Height(space, "Ball"), 1.5f, 0.2f);
  // The capsule stands on a hemisphere of radius 1 below a cylinder half 0.25 long: its centre at 1.75,
  // or lying on its side at 1.5.
  EXPECT_GT(Height(space, "Pill"), 1.3f);
  EXPECT_LT(Height(space, "Pill"), 1.95f);
}

}  // namespace
