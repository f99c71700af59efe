// The scripts' ray casts and collision groups through the "physics" library: hits in the engine's
// frame, groups and masks, misses, spaces without a world and calls with the wrong argument count.
#include <gtest/gtest.h>

#include <cfloat>
#include <string>

#include "ScriptedWorld.h"

namespace {

using Physics::PhysicsSystem;

class RaycastApiTest : public ScriptedWorld {
 protected:
  void SetUp() override {
    ScriptedWorld::SetUp();
    // A sphere of radius 1 in collision group 1, centred at physics z = 5: engine z = -5.
    AddSphere(AddObject("Target"), {0.0f, 0.0f, 5.0f}, false, PhysicsSystem::GroupToMask(1));
  }
};

TEST_F(RaycastApiTest, AHitComesBackInTheEngineFrameWithTheObjectAndAUnitDepth) {
  const Base::Vec3 origin(0.0f, 0.0f, 0.0f);
  const Physics::SystemRaycastResult unit = system_.Raycast(space_.get(), origin, {0.0f, 0.0f, -1.0f});
  const Physics::SystemRaycastResult twice = system_.Raycast(space_.get(), origin, {0.0f, 0.0f, -2.0f});
  for (const Physics::SystemRaycastResult& hit : {unit, twice}) {
    EXPECT_TRUE(hit.colliding);
    EXPECT_NEAR(hit.depth, 4.0f, 1e-4f);
    EXPECT_NEAR(hit.collisionPoint.z, -4.0f, 1e-4f);
    ASSERT_NE(hit.object, nullptr);
    EXPECT_STREQ(static_cast<Core::GameObject*>(hit.object)->GetName(), "Target");
  }

  ASSERT_EQ(Run("hit = physics:Raycast(space, Vector3.new(0, 0, 0), Vector3.new(0, 0, -2))"), "");
  EXPECT_EQ(Eval("hit.colliding"), "true");
  EXPECT_EQ(Eval("math.floor(hit.depth * 1000 + 0.5)"), "4000");
  EXPECT_EQ(Eval("math.floor(hit.collisionPoint.z * 1000 + 0.5)"), "-4000");
  EXPECT_EQ(Eval("hit.object:GetName()"), "Target");
}

TEST_F(RaycastApiTest, GroupsAndMasksChooseWhatARayCanHit) {
  EXPECT_EQ(Eval("physics:CompositeCollisionGroups(2, 5)"), "36");
  EXPECT_EQ(Eval("physics:CompositeCollisionGroups(-1, 3)"), "-1");
  EXPECT_EQ(Eval("physics:CompositeCollisionGroups(3, -1)"), "-1");
  // Group 33 wraps to group 1, the target's.
  const char* casts[][2] = {{"RaycastByGroup", "33"}, {"RaycastByGroup", "1"}, {"RaycastByGroup", "-1"},
                            {"RaycastByGroup", "3"},  {"RaycastByMask", "2"},  {"RaycastByMask", "6"},
                            {"RaycastByMask", "4"}};
  const char* expected[] = {"true", "true", "true", "false", "true", "true", "false"};
  for (size_t i = 0; i < std::size(casts); ++i) {
    const std::string call = std::string("physics:") + casts[i][0] + "(space, Vector3.new(0, 0, 0), Vector3.new(0, 0, -1), " +
                             casts[i][1] + ").colliding";
    EXPECT_EQ(Eval(call), expected[i]) << call;
  }
}

TEST_F(RaycastApiTest, AMissAndASpaceWithoutAWorldGiveTheDefaultResult) {
  ASSERT_EQ(Run("miss = physics:Raycast(space, Vector3.new(0, 0, 0), Vector3.new(0, 0, 1))"), "");
  EXPECT_EQ(Eval("miss.colliding"), "false");
  EXPECT_EQ(Eval("miss.object"), "nil");
  const Physics::SystemRaycastResult miss = system_.Raycast(space_.get(), {}, {0.0f, 0.0f, 1.0f});
  EXPECT_FALSE(miss.colliding);
  EXPECT_EQ(miss.depth, FLT_MAX);

  Core::GameSpace bare("Bare");
  log_.Take();
  for (int call = 0; call < 2; ++call) {
    const Physics::SystemRaycastResult none = system_.Raycast(&bare, {}, {0.0f, 0.0f, -1.0f});
    EXPECT_FALSE(none.colliding);
    EXPECT_EQ(none.depth, FLT_MAX);
    EXPECT_EQ(none.collisionPoint, Base::Vec3());
    EXPECT_EQ(none.object, nullptr);
  }
  const std::string text = log_.Take();
  const std::string line = "Null physics space pointer while raycasting!";
  const size_t first = text.find(line);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_NE(text.find(line, first + 1), std::string::npos) << text;
  EXPECT_EQ(PhysicsSystem::FindSpace(&bare), nullptr);
}

TEST_F(RaycastApiTest, AWrongArgumentCountIsReportedAndNothingIsCast) {
  EXPECT_EQ(Eval("(physics:Raycast(space, Vector3.new(0, 0, 0)))"), "nil");
  EXPECT_EQ(Eval("(physics:CompositeCollisionGroups(2))"), "nil");
  const std::string text = log_.Take();
  EXPECT_NE(text.find("Wrong argument count calling function Raycast from lua"), std::string::npos) << text;
  EXPECT_NE(text.find("Wrong argument count calling function CompositeCollisionGroups from lua"), std::string::npos)
      << text;
  ASSERT_EQ(Run("normal = physics:GetLastPlaneNormal()"), "");
  const Base::Vec3 normal = ZarnPhys::GetLastPlaneNormal();
  EXPECT_FLOAT_EQ(std::stof(Eval("normal.x")), normal.x);
  EXPECT_FLOAT_EQ(std::stof(Eval("normal.y")), normal.y);
  EXPECT_FLOAT_EQ(std::stof(Eval("normal.z")), normal.z);
}

}  // namespace
