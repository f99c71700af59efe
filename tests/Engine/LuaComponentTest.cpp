// Script components through the engine's real scripts: read from a level, created and restored by the
// scripts, updated every frame, written, copied and removed; failing script calls keep the component's
// fields; and the list of script component types, malformed entries included.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/LuaComponent.h"
#include "Core/Transform.h"
#include "EngineFixture.h"
#include "Lua/LuaComponentList.h"

namespace EngineTest {
namespace {

using Core::GameObject;
using Core::GameSpace;
using Core::LuaComponent;

// The component as the serializer writes it.
std::string Written(LuaComponent* component) {
  const std::string path = testing::TempDir() + "Bobber.txt";
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    Base::Serializer serializer;
    serializer.WriteValue(file, Base::Reflection::Variant(component->m_typeInfo, component));
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

GameObject* AddScripted(GameSpace& space, const char* name, const char* type, const char* state) {
  GameObject* object = space.CreateObject();
  object->Name(name);
  auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
  transform->SetLocalTranslation({1.0f, 2.0f, 3.0f});
  object->AttachComponent(transform);
  auto* script = static_cast<LuaComponent*>(space.CreateComponent(Core::ComponentType_LuaComponent));
  script->m_compType = type;
  script->m_loadFunction = state;
  object->AttachComponent(script);
  return object;
}

class LuaComponentTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    AddSystems();
    engine_->Init();
    TakeLog();
  }

  // A level of one space, written by the engine's own space writer: a bobbing buoy with saved state,
  // and a stray script component of a type no script defines.
  std::string WriteLevel() {
    auto space = std::make_unique<GameSpace>("Bobbing");
    AddScripted(*space, "Buoy", "Bobber", "amplitude=n1;elapsed=n2");
    AddScripted(*space, "Stray", "Nope", "keep=n1");
    const std::string spacePath = testing::TempDir() + "Bobbing.space";
    Base::File file;
    file.Open(spacePath, Base::File::Mode_Write);
    Core::SpaceLoadContext context;
    space->WriteText(file, context);
    file.Close();
    const std::string levelPath = testing::TempDir() + "Bobbing.level";
    std::ofstream(levelPath, std::ios::binary) << "Bobbing\r\n" << spacePath << "\r\n";
    return levelPath;
  }

  std::string Instance(const GameObject* object, const char* field) {
    return Eval("game:GetComponent('Bobbing', " + std::to_string(object->GetSelf()) + ", 'Bobber')" + field);
  }
};

TEST_F(LuaComponentTest, ScriptComponentsLiveThroughTheScripts) {
  engine_->ChangeLevel(WriteLevel().c_str());
  Step();
  GameSpace* space = engine_->GetGameSpace("Bobbing");
  ASSERT_NE(space, nullptr);
  GameObject* buoy = space->FindGameObject("Buoy");
  auto* bobber = static_cast<LuaComponent*>(buoy->GetLuaComponent(0));
  ASSERT_NE(bobber, nullptr);

  // Created by "game:AddComponent", then restored by "game:DeserializeComponent"; defaults fill the rest.
  EXPECT_EQ(Instance(buoy, ".elapsed"), "2");
  EXPECT_EQ(Instance(buoy, ".amplitude"), "1");
  EXPECT_EQ(Instance(buoy, ".speed"), "1");

  // A type no script defines: the script error is logged, and the component keeps its name and state.
  auto* stray = static_cast<LuaComponent*>(space->FindGameObject("Stray")->GetLuaComponent(0));
  EXPECT_NE(TakeLog().find("unknown script component type \"Nope\""), std::string::npos);
  EXPECT_EQ(stray->m_compType, "Nope");
  stray->RefreshState();
  EXPECT_NE(TakeLog().find("[ Error ][Lua] Lua error: no script component Nope"), std::string::npos);
  EXPECT_EQ(stray->m_loadFunction, "keep=n1");

  // Every frame moves the buoy along its wave.
  Step(3);
  const Base::Vec3 at = buoy->GetComponent<Core::Transform>()->LocalTranslation();
  EXPECT_EQ(at.x, 1.0f);
  EXPECT_NE(at.y, 2.0f);
  EXPECT_EQ(at.z, 3.0f);

  // Writing the component pulls its state from the scripts first.
  const std::string text = Written(bobber);
  EXPECT_TRUE(bobber->m_loadFunction.starts_with("amplitude=n1;speed=n1;elapsed=n2.05")) << bobber->m_loadFunction;
  EXPECT_NE(text.find("m_loadFunction string \"" + bobber->m_loadFunction + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("m_compType string \"Bobber\""), std::string::npos) << text;

  // A copy carries the state on: its own script instance starts where the original was.
  GameObject* copy = space->CreateObject();
  copy->CopyFrom(*buoy, true);
  copy->Initialize();
  EXPECT_EQ(Eval("game:GetComponent('Bobbing', " + std::to_string(copy->GetSelf()) + ", 'Bobber').elapsed == " +
                 "game:GetComponent('Bobbing', " + std::to_string(buoy->GetSelf()) + ", 'Bobber').elapsed"),
            "true");

  // Removal tells the scripts, which drop the instance.
  buoy->RemoveLuaComponent(0);
  EXPECT_EQ(Instance(buoy, ""), "nil");
  EXPECT_EQ(Instance(copy, ".type"), "Bobber");
  EXPECT_EQ(TakeLog().find("[ Error ]"), std::string::npos);

  // A component without an owner is written as it is, without asking the scripts.
  std::unique_ptr<Core::GameComponent, void (*)(Core::GameComponent*)> detached(
      Core::ComponentRegistry::GetCreator(Core::ComponentType_LuaComponent)->CreateDetached(),
      &Core::DeleteDetachedComponent);
  auto* alone = static_cast<LuaComponent*>(detached.get());
  alone->m_compType = "Bobber";
  alone->m_loadFunction = "elapsed=n7";
  EXPECT_NE(Written(alone).find("m_loadFunction string \"elapsed=n7\""), std::string::npos);
  EXPECT_EQ(TakeLog().find("[ Error ]"), std::string::npos);
}

TEST_F(LuaComponentTest, TheComponentListKeepsWhatIsWellFormed) {
  const Lua::LuaComponentRegistry& registry = Lua::LuaComponentRegistry::GetInstance();
  const Lua::LuaComponentData* bobber = registry.Find("Bobber");
  ASSERT_NE(bobber, nullptr);
  std::string members;
  for (const auto& [name, member] : bobber->members) members += name + ":" + member.DisplayName + ";";
  EXPECT_EQ(members, "amplitude:Amplitude;elapsed:Elapsed time;speed:Cycles per second;");

  EXPECT_EQ(Run(R"(interface:SendLuaComponentList(9, {
                  { Name = "A", Members = { { Name = "x", DisplayName = "X", Type = 1 }, 7, { Name = "y" } } },
                  "junk", { Name = 3 }, { Name = "A", Members = "bad" } }))"),
            "");
  ASSERT_EQ(registry.GetComponents().size(), 2u);
  const Lua::LuaComponentData& first = registry.GetComponents()[0];
  ASSERT_EQ(first.members.size(), 2u);
  EXPECT_EQ(first.members.at("x").DisplayName, "X");
  EXPECT_EQ(first.members.at("x").Type, 1);
  EXPECT_EQ(first.members.at("y").DisplayName, "");
  EXPECT_EQ(registry.Find("A"), &registry.GetComponents()[1]);  // a repeated name points at the last
  EXPECT_TRUE(registry.GetComponents()[1].members.empty());
  EXPECT_EQ(TakeLog(),
            "[Warning][Lua] SendLuaComponentList was told of 9 components but the list holds 4\n"
            "[Warning][Lua] Lua component A: member 2 is a number, not a table; skipped\n"
            "[Warning][Lua] Lua component entry 2 has no name; skipped\n"
            "[Warning][Lua] Lua component entry 3 has no name; skipped\n"
            "[Warning][Lua] Lua component A: its Members are a string, not a table\n"
            "[Verbose][Lua] Updated Lua Component data in C++ for 2 components.\n");

  EXPECT_EQ(Run("interface:SendLuaComponentList(1, 'not a list')"), "");
  EXPECT_TRUE(registry.GetComponents().empty());
  EXPECT_NE(TakeLog().find("SendLuaComponentList expects a table of components, got a string"), std::string::npos);
}

}  // namespace
}  // namespace EngineTest
