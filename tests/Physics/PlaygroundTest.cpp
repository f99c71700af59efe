// The game's "Playground" level, built here from components so that the checked-in space is exactly
// what the engine writes (ORV_WRITE_SAMPLE_CONTENT=1 rewrites it), then played as the game plays it:
// the physics system steps the level's world every frame and the crates fall, stack and rest.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "Audio/SoundEmitter.h"
#include "Base/Quaternion.h"
#include "Base/Serialization/File.h"
#include "Core/ContentPath.h"
#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/LightComponents.h"
#include "Graphics/Components/Model.h"
#include "Physics/ColliderKinds.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "tests/Support/LevelBuilder.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/SilentScripts.h"
#include "tests/Support/TextFiles.h"

namespace {

using Base::Vec3;

class Playground : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = Core::SetScriptHost(&scripts_);
    engine_.AddSystem(new Physics::PhysicsSystem());
    engine_.Init();
  }
  void TearDown() override {
    engine_.Teardown();
    engine_.SetUseFixedDt(true);
    Core::SetScriptHost(previous_);
  }

  Core::GameObject* Add(Core::GameSpace& space, const char* name, Vec3 position, Vec3 scale = {1.0f, 1.0f, 1.0f}) {
    Core::GameObject* object = space.CreateObject();
    object->Name(name);
    auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
    object->AttachComponent(transform);
    transform->SetLocalTranslation(position);
    transform->SetLocalScale(scale);
    return object;
  }
  template <class C>
  C* Attach(Core::GameObject* object, uint32_t type) {
    auto* component = static_cast<C*>(object->GetSpace()->CreateComponent(type));
    object->AttachComponent(component);
    return component;
  }
  Graphics::Model* Look(Core::GameObject* object, const char* mesh, const char* material) {
    auto* model = Attach<Graphics::Model>(object, Core::ComponentType_Model);
    model->m_meshName = mesh;
    model->m_materialName = material;
    return model;
  }
  // A crate that falls: box collider, rigid body and the crate mesh.
  Core::GameObject* Crate(Core::GameSpace& space, const char* name, Vec3 position) {
    Core::GameObject* crate = Add(space, name, position);
    Look(crate, "Crate.cong", "Checker.mat");
    Attach<Physics::ColliderCube>(crate, Core::ComponentType_ColliderCube);
    Attach<Physics::RigidBody>(crate, Core::ComponentType_RigidBody);
    return crate;
  }

  void BuildPlayground(Core::GameSpace& space) {
    OrvTest::AddCamera(space, "PlayCamera", {0.0f, 4.5f, -13.0f}, {0.0f, 1.0f, 0.0f});
    // The sun from the front left, so the stack's shadow falls back and to the right of it.
    OrvTest::AddSun(space, "Sun", {0.4f, -0.75f, 0.55f}, {0.0f, 0.0f, 0.0f}, 18.0f);
    Core::GameObject* floor = Add(space, "Floor", {0.0f, -0.5f, 0.0f}, {16.0f, 1.0f, 16.0f});
    Look(floor, "Crate.cong", "default.mat")->SetBlendColor({215.0f, 210.0f, 200.0f});
    Attach<Physics::ColliderGround>(floor, Core::ComponentType_ColliderGround);
    for (int i = 0; i < 3; ++i) {
      const std::string name = "Tower" + std::to_string(i);
      Crate(space, name.c_str(), {0.0f, 0.5f + float(i), 0.0f});
    }
    Core::GameObject* tumbler = Crate(space, "Tumbler", {2.5f, 4.0f, 0.0f});
    Base::Quaternion tilt;
    tilt.RotateAroundAxis({0.6f, 0.0f, 0.8f}, 0.6f);
    tumbler->GetComponent<Core::Transform>()->SetLocalRotation(tilt);
    Core::GameObject* pyramid = Add(space, "Pyramid", {-3.0f, 2.0f, 1.0f});
    Look(pyramid, "Pyramid.cong", "Checker.mat");
    Attach<Physics::ColliderPolytope>(pyramid, Core::ComponentType_ColliderPolytope);
    Attach<Physics::RigidBody>(pyramid, Core::ComponentType_RigidBody);
    // Scenery without bodies: the grass the floor stands on, and the sky.
    Look(Add(space, "Field", {0.0f, -1.0f, 12.0f}, {44.0f, 1.0f, 44.0f}), "Crate.cong", "default.mat")
        ->SetBlendColor({150.0f, 185.0f, 115.0f});
    OrvTest::AddSky(space);
    // The level's voice: its scripts play the tune and the effects on it.
    Attach<Audio::SoundEmitter>(Add(space, "Speaker", {0.0f, 0.0f, 0.0f}), Core::ComponentType_SoundEmitter);
  }

  Vec3 Position(Core::GameSpace* space, const char* name) {
    Core::GameObject* object = space->FindGameObject(name);
    return object ? object->GetComponent<Core::Transform>()->Translation() : Vec3{NAN, NAN, NAN};
  }

  // Where the level's bodies are once they have had time to fall. The tower still stands where it was
  // put (contacts sink in by about the solver's allowance of 0.15 before they are pushed apart); what
  // fell has come down onto the floor where it fell. (A box meets the floor at one contact point a step,
  // so a tilted one may still rock a little.)
  void ExpectSettled(Core::GameSpace* space, float tumblerStart) {
    for (int i = 0; i < 3; ++i) {
      const std::string name = "Tower" + std::to_string(i);
      const Vec3 p = Position(space, name.c_str());
      EXPECT_NEAR(p.x, 0.0f, 0.25f) << name;
      EXPECT_NEAR(p.y, 0.5f + float(i), 0.2f) << name;
    }
    const Vec3 tumbler = Position(space, "Tumbler");
    EXPECT_LT(tumbler.y, tumblerStart - 2.5f);
    EXPECT_GT(tumbler.y, 0.25f) << "rests on the floor, not through it";
    EXPECT_LT(tumbler.y, 0.9f);
    const Vec3 pyramid = Position(space, "Pyramid");
    EXPECT_GT(pyramid.y, -0.05f);
    EXPECT_LT(pyramid.y, 1.0f);
    EXPECT_NEAR(tumbler.x, 2.5f, 1.0f) << "where it fell";
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  OrvTest::SilentScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
  OrvTest::LogCapture log_;
};

TEST_F(Playground, TheLevelIsWhatTheEngineWritesAndItsCratesFallStackAndRest) {
  Core::GameSpace& built = *engine_.NewGameSpace("Playground");
  BuildPlayground(built);
  const std::string content = std::string(Core::kSpaceFolder) + "Playground" + std::string(Core::kSpaceExtension);
  const bool rewrite = std::getenv("ORV_WRITE_SAMPLE_CONTENT") != nullptr;
  const std::string path = rewrite ? content : ::testing::TempDir() + "orv_sample_Playground.space";
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    Core::SpaceLoadContext context;
    built.WriteText(file, context);
  }
  EXPECT_EQ(OrvTest::ReadFile(path), OrvTest::ReadFile(content));
  engine_.DeleteGameSpace(&built);
  engine_.FrameStep(1.0f / 60.0f);

  engine_.ChangeLevel("Playground");
  engine_.FrameStep(1.0f / 60.0f);
  Core::GameSpace* space = engine_.GetGameSpace("Playground");
  ASSERT_NE(space, nullptr);
  const float tumblerStart = Position(space, "Tumbler").y;
  for (int frame = 0; frame < 480; ++frame) engine_.FrameStep(1.0f / 60.0f);

  ExpectSettled(space, tumblerStart);

  // Leaving the level takes its world with it, once.
  log_.Take();
  engine_.ChangeLevel("Playground");
  engine_.FrameStep(1.0f / 60.0f);
  const std::string log = log_.Take();
  const size_t first = log.find("Cleaning up ZARN objects");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("Cleaning up ZARN objects", first + 1), std::string::npos);
  EXPECT_NE(engine_.GetGameSpace("Playground"), nullptr);
}

// On a slow machine the engine's frame time reaches its cap of 0.1 s; the physics system cuts such a
// frame into short steps, so the level plays as it does at 60 frames a second.
TEST_F(Playground, AtTenFramesASecondTheLevelPlaysTheSame) {
  engine_.SetUseFixedDt(false);
  engine_.ChangeLevel("Playground");
  engine_.FrameStep(0.1f);
  Core::GameSpace* space = engine_.GetGameSpace("Playground");
  ASSERT_NE(space, nullptr);
  const float tumblerStart = Position(space, "Tumbler").y;
  for (int frame = 0; frame < 80; ++frame) engine_.FrameStep(0.1f);
  ExpectSettled(space, tumblerStart);
}

}  // namespace
