// The end-to-end fixture: the engine's systems and scripts, the shared log and its script binding.
#include "EngineFixture.h"

#include "Base/Reflection/Registration.h"
#include "Core/System.h"

namespace EngineTest {

std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}

namespace {

void Record(const char* text) { Events().push_back(text ? text : "(nil)"); }

}  // namespace

void ProbeSystem::Initialize(Core::Engine* engine) {
  Events().push_back("probe:init");
  Core::RegisterFrameStep<&ProbeSystem::FrameStep>(*engine, this, "ProbeSystem::FrameStep");
}

void ProbeSystem::FrameStep(float, Core::SpaceList* spaces) {
  Events().push_back("probe:step " + std::to_string(spaces->size()));
}

void EngineFixture::SetUp() { Events().clear(); }

void EngineFixture::TearDown() { engine_->Teardown(); }

void EngineFixture::AddSystems() {
  engine_->AddSystem(new Core::InputManager(&input_));
  engine_->AddSystem(new Core::SkyNet());
  engine_->AddSystem(new Gameplay::GameLogic());
  engine_->AddSystem(new ProbeSystem());
}

std::string EngineFixture::Run(const std::string& code) {
  lua_State* state = Lua::Environment::GetInstance().GetState();
  if (!state) return "no lua state";
  const int top = lua_gettop(state);
  std::string error;
  if (luaL_loadstring(state, code.c_str()) != 0 || lua_pcall(state, 0, 0, 0) != 0) {
    const char* message = lua_tostring(state, -1);
    error = message ? message : "(error)";
  }
  lua_settop(state, top);
  return error;
}

std::string EngineFixture::Eval(const std::string& expression) {
  if (const std::string error = Run("__eval = tostring(" + expression + ")"); !error.empty()) return error;
  lua_State* state = Lua::Environment::GetInstance().GetState();
  lua_getglobal(state, "__eval");
  std::string value = lua_tostring(state, -1) ? lua_tostring(state, -1) : "";
  lua_pop(state, 1);
  return value;
}

std::vector<std::string> EngineFixture::TakeEvents() { return std::exchange(Events(), {}); }

void EngineFixture::Step(int frames) {
  for (int i = 0; i < frames; ++i) engine_->FrameStep(0.0f);
}

}  // namespace EngineTest

// Scripts report to the test's log as EngineTest.Record(text).
ORV_ON_LOAD { Base::Bind<&EngineTest::Record>("EngineTest::Record"); }
