// The engine run end to end with its scripts: the initialisation order, the order of one frame across
// systems and scripts, logic for paused spaces, and a run ended by a script with the teardown after it.
#include <gtest/gtest.h>

#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "EngineFixture.h"
#include "Lua/LuaComponentList.h"

namespace EngineTest {
namespace {

using Base::Reflection::TypeOf;
using Base::Reflection::Variant;
using Core::GameSpace;

std::string LuaType(const char* global) {
  lua_State* state = Lua::Environment::GetInstance().GetState();
  lua_getglobal(state, global);
  std::string type = lua_typename(state, lua_type(state, -1));
  lua_pop(state, 1);
  return std::string(global) + "=" + type;
}

// What the scripts can see when each post-initialisation hook fires.
void SystemPostInit(Variant*, void*, Variant*, unsigned) {
  Events().push_back("SystemPostInit " + LuaType("core") + " " + LuaType("keyboard") + " " + LuaType("gamepad") +
                     " " + LuaType("factory") + " " + LuaType("Hook"));
}
void LuaPostInit(Variant*, void*, Variant*, unsigned) {
  Events().push_back("LuaPostInit " + LuaType("Hook") + " " + LuaType("ComponentDB") + " " + LuaType("game"));
}
void EnginePostInit(Variant*, void*, Variant*, unsigned) {
  const bool listed = Lua::LuaComponentRegistry::GetInstance().Find("Bobber") != nullptr;
  Events().push_back("EnginePostInit " + LuaType("game") + " " + LuaType("skynet") + (listed ? " Bobber" : ""));
  Lua::Environment::GetInstance().LoadScript("tests/Engine/scripts/record.lua", false);
}

// Space listeners keyed by a Transform's handle: "<event> <object name>".
void LogicUpdate(Variant*, void* transform, Variant*, unsigned) {
  Events().push_back(std::string("LogicUpdate ") + static_cast<Core::Transform*>(transform)->GetOwner()->GetName());
}
void FrameUpdate(Variant*, void* transform, Variant*, unsigned) {
  Events().push_back(std::string("FrameUpdate ") + static_cast<Core::Transform*>(transform)->GetOwner()->GetName());
}

Base::Function Listener(const char* name, Base::CallThunk thunk, unsigned argCount) {
  static Base::Reflection::TypeInfo* const kFloat[] = {TypeOf<float>()};
  return Base::Function(Base::Signature(nullptr, argCount ? kFloat : nullptr, nullptr, argCount), thunk, name);
}

bool Same(const Base::Quaternion& a, const Base::Quaternion& b) {
  return a.w == b.w && a.x == b.x && a.y == b.y && a.z == b.z;
}

Base::Quaternion Rotation(GameSpace* space, const char* object) {
  return space->FindGameObject(object)->GetComponent<Core::Transform>()->LocalRotation();
}

class EngineRunTest : public EngineFixture {
 protected:
  void Start() {
    AddSystems();
    int owner = 0;
    engine_->GetHooks().AddSystemListener("SystemPostInit", &owner, Listener("SystemPostInit", &SystemPostInit, 0));
    engine_->GetHooks().AddSystemListener("LuaPostInit", &owner, Listener("LuaPostInit", &LuaPostInit, 0));
    engine_->GetHooks().AddSystemListener("EnginePostInit", &owner, Listener("EnginePostInit", &EnginePostInit, 0));
    engine_->Init();
  }
};

TEST_F(EngineRunTest, InitAndEachFrameRunInTheirOrder) {
  Start();
  EXPECT_TRUE(engine_->IsRunning());
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{
                              "probe:init",
                              "SystemPostInit core=userdata keyboard=userdata gamepad=userdata factory=userdata "
                              "Hook=nil",
                              "LuaPostInit Hook=table ComponentDB=table game=nil",
                              "EnginePostInit game=table skynet=table Bobber",
                          }));
  {
    const std::string log = TakeLog();
    EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[Warning]"), std::string::npos) << log;
  }

  // The level requested now loads at the end of the next frame and takes part in logic from the one after.
  engine_->ChangeLevel("Sandbox");
  Step();
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"PreFrameStep 0.0167", "skynet:Update 0.0167", "LogicUpdate 0.0167",
                                                    "probe:step 0", "PostFrameStep 0.0167",
                                                    "game:NewGameSpace SandboxWorld", "game:NewGameSpace SandboxSky"}));
  GameSpace* world = engine_->GetGameSpace("SandboxWorld");
  ASSERT_NE(world, nullptr);
  Step();
  EXPECT_TRUE(Same(Rotation(world, "Turntable"), Base::Quaternion()));  // activated at the end of this frame
  EXPECT_EQ(TakeEvents()[3], "probe:step 2");
  Step();
  EXPECT_FALSE(Same(Rotation(world, "Turntable"), Base::Quaternion()));
  EXPECT_EQ(Eval("core:CurrentTime()"), "48");
  EXPECT_EQ(Eval("#core:GameSpaceList()"), "2");

  // A failing script listener is reported; the others still run.
  EXPECT_EQ(Run("Hook:Add('PreFrameStep', 'bad', function() error('boom') end)"), "");
  TakeLog();
  TakeEvents();
  Step();
  EXPECT_NE(TakeLog().find("[ Error ][Lua] Hook PreFrameStep listener bad failed: [string"), std::string::npos);
  EXPECT_EQ(TakeEvents().front(), "PreFrameStep 0.0167");
}

TEST_F(EngineRunTest, PausedSpacesGetFrameUpdatesOnly) {
  Start();
  engine_->ChangeLevel("Sandbox");
  Step(2);
  GameSpace* world = engine_->GetGameSpace("SandboxWorld");
  GameSpace* sky = engine_->GetGameSpace("SandboxSky");
  ASSERT_TRUE(world && sky);
  for (auto [space, object] : {std::pair{world, "Turntable"}, std::pair{sky, "Sun"}}) {
    const Base::Handle transform = space->FindGameObject(object)->GetComponent<Core::Transform>()->GetSelf();
    space->GetHooks().AddComponentListener("LogicUpdate", transform, Listener("LogicUpdate", &LogicUpdate, 1));
    space->GetHooks().AddComponentListener("FrameUpdate", transform, Listener("FrameUpdate", &FrameUpdate, 1));
  }

  EXPECT_EQ(Run("core:GameSpaceList()[2]:Pause()"), "");  // list order: SandboxWorld, SandboxSky
  EXPECT_TRUE(sky->Paused());
  EXPECT_EQ(Eval("game.spaces.SandboxSky.paused"), "true");
  const Base::Quaternion sun = Rotation(sky, "Sun");
  const Base::Quaternion turntable = Rotation(world, "Turntable");
  TakeEvents();
  Step();
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"PreFrameStep 0.0167", "skynet:Update 0.0167", "LogicUpdate Turntable",
                                      "FrameUpdate Turntable", "FrameUpdate Sun", "LogicUpdate 0.0167", "probe:step 2",
                                      "PostFrameStep 0.0167"}));
  EXPECT_TRUE(Same(Rotation(sky, "Sun"), sun));
  EXPECT_FALSE(Same(Rotation(world, "Turntable"), turntable));

  sky->UnPause();
  EXPECT_EQ(Eval("game.spaces.SandboxSky.paused"), "false");
  Step();
  EXPECT_FALSE(Same(Rotation(sky, "Sun"), sun));
}

TEST_F(EngineRunTest, ObjectsReachScriptsWithTheirIdentity) {
  Start();
  engine_->ChangeLevel("Sandbox");
  Step();
  GameSpace* world = engine_->GetGameSpace("SandboxWorld");
  ASSERT_NE(world, nullptr);
  Core::GameObject* turntable = world->FindGameObject("Turntable");
  Core::GameObject* pillar = world->FindGameObject("PillarLeft");
  EXPECT_EQ(Run("space = core:GameSpaceList()[1]\n"
                "t = space:FindObject('Turntable')\n"
                "p = space:FindObject('PillarLeft')"),
            "");
  EXPECT_EQ(Eval("t.Self"), std::to_string(turntable->GetSelf()));
  EXPECT_EQ(Eval("t.Space == space:PointerValue()"), "true");
  EXPECT_EQ(Eval("t.Value == p:Parent().Value"), "true");  // two pushes of one object
  // Components arrive as their own class.
  EXPECT_EQ(Eval("type(t:GetCPPComponent(ComponentDB.Transform).SetLocalTranslation)"), "function");
  EXPECT_EQ(Eval("t:GetCPPComponent(ComponentDB.Camera)"), "false");  // a missing component is false, not nil
  EXPECT_EQ(Eval("factory:LoadObjectFromArchetype(space, 'Crate'):GetArchetype()"), "Crate");

  // nil and -1 are no object, silently; anything else that is not an object is reported.
  TakeLog();
  EXPECT_EQ(Run("p:SetParent(nil)"), "");
  EXPECT_EQ(pillar->Parent(), nullptr);
  EXPECT_EQ(Run("p:SetParent(t)"), "");
  EXPECT_EQ(pillar->Parent(), turntable);
  EXPECT_EQ(Run("p:SetParent(-1)"), "");
  EXPECT_EQ(pillar->Parent(), nullptr);
  EXPECT_EQ(TakeLog(), "");
  EXPECT_EQ(Run("p:SetParent(t) p:SetParent('t')"), "");
  EXPECT_EQ(pillar->Parent(), nullptr);
  EXPECT_EQ(TakeLog(),
            "[Warning][Lua] Invalid type (string) found when getting variable from lua: Try using :Func() instead of "
            ".Func()\n");
}

TEST_F(EngineRunTest, AScriptEndsTheRunAndTeardownFollowsInOrder) {
  Start();
  engine_->ChangeLevel("Sandbox");
  EXPECT_EQ(Run("skynet:After(0.03, function() core:Quit() end)"), "");
  int frames = 0;
  while (engine_->FrameStep(0.0f) && frames < 100) ++frames;
  EXPECT_EQ(frames, 1);  // the second frame reaches 0.03 s of script time
  EXPECT_FALSE(engine_->IsRunning());
  TakeEvents();

  engine_->Teardown();
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"GameSpaceDeleted SandboxWorld", "game:RemoveGameSpace SandboxWorld",
                                      "GameSpaceDeleted SandboxSky", "game:RemoveGameSpace SandboxSky", "probe:shutdown",
                                      "probe:destroyed"}));
  EXPECT_FALSE(Lua::Environment::GetInstance().IsInitialized());
  EXPECT_EQ(Core::InputManager::GetInstance(), nullptr);

  // Nothing is left to reach: a script call now does nothing, and a second teardown is harmless.
  Core::Scripts().Call("game:NewGameSpace", "Gone");
  engine_->Teardown();
  EXPECT_TRUE(TakeEvents().empty());
}

}  // namespace
}  // namespace EngineTest
