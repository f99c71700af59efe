// Script references kept past the end of what they name: a destroyed object and its components, a slot
// taken over by a newer object, and a space kept across a level change. Each use is refused with an
// error and returns nil; nothing reads freed memory (the tests run under the address sanitizer).
#include <gtest/gtest.h>

#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "EngineFixture.h"

namespace EngineTest {
namespace {

using Core::GameObject;
using Core::GameSpace;

constexpr const char* kGoneObject = "[ Error ][Lua] Attempted to use a GameObject that no longer exists from lua";
constexpr const char* kGoneSpace = "[ Error ][Lua] Attempted to use a GameSpace that no longer exists from lua";

bool Has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

class ScriptReferenceTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    AddSystems();
    engine_->Init();
    engine_->ChangeLevel("Sandbox");
    Step(2);
    world_ = engine_->GetGameSpace("SandboxWorld");
    ASSERT_NE(world_, nullptr);
    ASSERT_EQ(Run("world = game.spaces.SandboxWorld.space"), "");
    TakeLog();
  }

  GameSpace* world_ = nullptr;
};

TEST_F(ScriptReferenceTest, ADestroyedObjectAndItsComponentsAreRefused) {
  ASSERT_EQ(Run("ground = world:FindObject('Ground'); place = ground:GetCPPComponent(0); world:Destroy(ground)"), "");
  // Marked only: the object lives to the end of the frame.
  EXPECT_EQ(Eval("ground:GetName()"), "Ground");
  Step();
  ASSERT_EQ(world_->FindGameObject("Ground"), nullptr);

  EXPECT_EQ(Eval("(ground:GetName())"), "nil");
  EXPECT_TRUE(Has(TakeLog(), kGoneObject));
  EXPECT_EQ(Eval("ground.Self"), "nil");
  EXPECT_EQ(Eval("(place:Translation())"), "nil");
  EXPECT_TRUE(Has(TakeLog(), "[ Error ][Lua] Attempted to use a Transform that no longer exists from lua"));

  // As an argument it refuses the whole call: the lamp is not unparented by a parent that is gone.
  ASSERT_EQ(Run("lamp = world:FindObject('Lamp'); lamp:SetParent(ground)"), "");
  EXPECT_TRUE(Has(TakeLog(), kGoneObject));
  EXPECT_EQ(world_->FindGameObject("Lamp")->Parent(), world_->FindGameObject("PillarRight"));
}

TEST_F(ScriptReferenceTest, AnOldReferenceNeverReachesTheObjectInItsSlot) {
  ASSERT_EQ(Run("old = world:FindObject('Ground'); oldSelf = old.Self; world:Destroy(old)"), "");
  const auto oldSlot = Base::HandleIndex(Base::Handle(static_cast<uint32_t>(std::stod(Eval("oldSelf")))));
  Step();

  // Freed slots are reused last-in first-out: the slot comes back within the handles just released.
  GameObject* fresh = nullptr;
  for (int i = 0; i < 16 && !fresh; ++i) {
    GameObject* made = world_->CreateObject();
    ASSERT_NE(made, nullptr);
    made->Name("Fresh");
    if (Base::HandleIndex(made->GetSelf()) == oldSlot) fresh = made;
  }
  ASSERT_NE(fresh, nullptr);

  EXPECT_EQ(Eval("(old:Name('Renamed'))"), "nil");
  EXPECT_TRUE(Has(TakeLog(), kGoneObject));
  EXPECT_STREQ(fresh->GetName(), "Fresh");
  EXPECT_EQ(Eval("world:GetObject(" + std::to_string(fresh->GetSelf()) + "):GetName()"), "Fresh");
}

TEST_F(ScriptReferenceTest, ASpaceKeptAcrossALevelChangeIsRefused) {
  ASSERT_EQ(Run("sky = game.spaces.SandboxSky.space; sun = sky:FindObject('Sun'); core:LoadLevel('Sandbox')"), "");
  Step(2);
  ASSERT_NE(engine_->GetGameSpace("SandboxSky"), nullptr);  // a new space of the same name

  EXPECT_EQ(Eval("(sky:FindObject('Sun'))"), "nil");
  EXPECT_TRUE(Has(TakeLog(), kGoneSpace));
  EXPECT_EQ(Eval("(sun:GetName())"), "nil");
  EXPECT_TRUE(Has(TakeLog(), kGoneObject));
  EXPECT_EQ(Eval("game.spaces.SandboxSky.space:FindObject('Sun'):GetName()"), "Sun");
  EXPECT_EQ(TakeLog().find("[ Error ]"), std::string::npos);
}

}  // namespace
}  // namespace EngineTest
