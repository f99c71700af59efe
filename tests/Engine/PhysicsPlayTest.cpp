// The "Playground" level played with the engine's systems, the physics system among them, and the
// game's own scripts: bodies fall and rest, collisions reach object hooks and the scripts'
// CollisionEventHandler, scripts cast rays and push bodies, and leaving the level cleans up once.
#include <string>

#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Physics/CollisionEvents.h"
#include "Physics/PhysicsSystem.h"
#include "tests/Engine/EngineFixture.h"

namespace EngineTest {
namespace {

// Hears "OnCollisionStart" on one object's hooks.
struct Landing {
  int count = 0;
  std::string other;
  void Heard(Physics::SystemManifold& manifold, Physics::ObjectCollisionInfo info) {
    ++count;
    if (info.otherObject) other = info.otherObject->GetName();
    (void)manifold;
  }
};

class PhysicsPlayTest : public EngineFixture {
 protected:
  void Start() {
    engine_->AddSystem(new Core::InputManager(&input_));
    engine_->AddSystem(new Core::SkyNet());
    engine_->AddSystem(new Gameplay::GameLogic());
    engine_->AddSystem(new Physics::PhysicsSystem());
    engine_->Init();
    engine_->ChangeLevel("Playground");
    Step();
    space_ = engine_->GetGameSpace("Playground");
  }
  float Height(const char* name) {
    return space_->FindGameObject(name)->GetComponent<Core::Transform>()->Translation().y;
  }

  Core::GameSpace* space_ = nullptr;
};

TEST_F(PhysicsPlayTest, TheLevelPlaysWithPhysicsEndToEnd) {
  Start();
  ASSERT_NE(space_, nullptr);
  Landing landing;
  space_->FindGameObject("Tumbler")->GetHooks().AddSystemListener(
      "OnCollisionStart", &landing,
      Base::Function(Base::MakeSignature<&Landing::Heard>(), &Base::Thunk<&Landing::Heard>, "Landing::Heard"));

  const float start = Height("Tumbler");
  Step(180);
  EXPECT_LT(Height("Tumbler"), start - 2.5f) << "fell";
  EXPECT_GT(Height("Tumbler"), 0.25f) << "and rests on the floor";
  EXPECT_GE(landing.count, 1);
  EXPECT_EQ(landing.other, "Floor");
  // The game's handler counted the starts of both sides.
  EXPECT_NE(Eval("playground.touches.Tumbler"), "nil");
  EXPECT_NE(Eval("playground.touches.Floor"), "nil");
  EXPECT_EQ(Eval("playground.touches.PlayCamera"), "nil");

  // Rays from scripts: straight down onto the tower's top crate, by group and by mask.
  ASSERT_EQ(Run("space = game.spaces.Playground.space\n"
                "down = physics:Raycast(space, Vector3.new(0, 10, 0), Vector3.new(0, -1, 0))\n"
                "byOtherGroup = physics:RaycastByGroup(space, Vector3.new(0, 10, 0), Vector3.new(0, -1, 0), 3)\n"
                "byMask = physics:RaycastByMask(space, Vector3.new(0, 10, 0), Vector3.new(0, -1, 0),\n"
                "                               physics:CompositeCollisionGroups(3, 0))"),
            "");
  EXPECT_EQ(Eval("down.colliding"), "true");
  EXPECT_EQ(Eval("down.object:GetName()"), "Tower2");
  EXPECT_EQ(Eval("math.abs(down.depth + down.collisionPoint.y - 10) < 1e-3"), "true");
  EXPECT_EQ(Eval("byOtherGroup.colliding"), "false");
  EXPECT_EQ(Eval("byOtherGroup.object"), "nil");
  EXPECT_EQ(Eval("byMask.object:GetName()"), "Tower2");

  // The game's push: a ray from the camera finds the tower's middle crate and kicks it up.
  const float middle = Height("Tower1");
  EXPECT_EQ(Eval("playground.Push(space, 8)"), "Tower1");
  Step(10);
  EXPECT_GT(Height("Tower1"), middle + 0.3f);

  // A force from a script moves a body in the engine's frame.
  const Base::Vec3 before = space_->FindGameObject("Tumbler")->GetComponent<Core::Transform>()->Translation();
  ASSERT_EQ(Run("local body = space:FindObject('Tumbler'):GetCPPComponent(ComponentDB.RigidBody)\n"
                "for i = 1, 20 do body:ApplyForce(Vector3.new(0, 0, 40)) end"),
            "");
  Step();
  EXPECT_GT(space_->FindGameObject("Tumbler")->GetComponent<Core::Transform>()->Translation().z, before.z);

  // Debug shapes: switched from the scripts; the colliders then draw every step.
  ASSERT_EQ(Run("physics:SwitchDebugDraw(true)"), "");
  Step();
  ASSERT_EQ(Run("physics:SwitchDebugDraw(false)"), "");

  // Leaving the level: its world is cleaned up once, without errors.
  TakeLog();
  engine_->ChangeLevel("Splash");
  Step(2);
  const std::string log = TakeLog();
  const size_t first = log.find("Cleaning up ZARN objects");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("Cleaning up ZARN objects", first + 1), std::string::npos);
  EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
}

}  // namespace
}  // namespace EngineTest
