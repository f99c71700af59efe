// The one way from the engine to the scripts, as a system above the core uses it: it publishes its
// global from its own Initialize and calls a script hook by name every frame, naming no Lua type; and
// script reports that survive error objects which cannot be turned into text.
#include <gtest/gtest.h>

#include "Base/Reflection/Registration.h"
#include "Core/System.h"
#include "EngineFixture.h"

namespace EngineTest {

// Built like the renderer: its global "painter", and "Hook:Call" with "Draw" at its frame step.
class PainterSystem : public Core::System {
 public:
  void Initialize(Core::Engine* engine) override {
    Core::Scripts().SetGlobal("painter", Base::Reflection::Variant(Base::Reflection::TypeOf<PainterSystem*>(), this));
    Core::RegisterFrameStep<&PainterSystem::FrameStep>(*engine, this, "PainterSystem::FrameStep");
  }
  const char* GetName() const override { return "Painter"; }
  void FrameStep(float, Core::SpaceList*) { drawn = Core::Scripts().Call("Hook:Call", "Draw"); }
  void Stroke() { ++strokes; }

  int strokes = 0;
  bool drawn = false;
};

}  // namespace EngineTest

ORV_REFLECT_CLASS(EngineTest::PainterSystem) { ORV_METHOD(Stroke); }

namespace EngineTest {
namespace {

class ScriptSeamTest : public EngineFixture {};

TEST_F(ScriptSeamTest, ASystemAboveTheCorePublishesAndCallsThroughTheScriptHost) {
  EXPECT_EQ(&Core::Scripts(), &Lua::Environment::GetInstance());
  auto* painter = new PainterSystem;
  engine_->AddSystem(painter);
  engine_->Init();
  ASSERT_EQ(Run("Hook:Add('Draw', 'brush', function() painter:Stroke() end)"), "");
  Step(2);
  EXPECT_TRUE(painter->drawn);
  EXPECT_EQ(painter->strokes, 2);

  // Closed with the engine: the calls then reach nothing and say so.
  engine_->Teardown();
  EXPECT_FALSE(Core::Scripts().IsInitialized());
  EXPECT_FALSE(Core::Scripts().Call("Hook:Call", "Draw"));
}

TEST_F(ScriptSeamTest, ReportsSurviveErrorObjectsWithoutAText) {
  engine_->Init();
  ASSERT_EQ(Run(R"(
    local mute = setmetatable({}, { __tostring = function() error("no text") end })
    Hook:Add('Ping', 'mute', function() error(mute) end)
    Hook:Add('Ping', 'next', function() pinged = true end)
    Hook:Call('Ping')
    skynet:After(0, function() error(mute) end)
    skynet:After(0, function() scheduled = true end)
    skynet:Update(0)
  )"), "");
  EXPECT_EQ(Eval("pinged"), "true");
  EXPECT_EQ(Eval("scheduled"), "true");
  const std::string log = TakeLog();
  EXPECT_NE(log.find("[ Error ][Lua] Hook Ping listener mute failed: (table without a text form)"), std::string::npos)
      << log;
  EXPECT_NE(log.find("[ Error ][Lua] skynet task failed: (table without a text form)"), std::string::npos) << log;
}

TEST_F(ScriptSeamTest, EveryOneOfTenThousandListenersOnOneEventIsCalled) {
  engine_->Init();
  ASSERT_EQ(Run(R"(
    heard, last = 0, 0
    for i = 1, 10000 do Hook:Add('Crowd', i, function() heard = heard + 1; last = i end) end
    Hook:Call('Crowd')
  )"), "");
  EXPECT_EQ(Eval("heard"), "10000");
  EXPECT_EQ(Eval("last"), "10000");  // in the order they were added
  EXPECT_EQ(TakeLog().find("[ Error ]"), std::string::npos);
}

}  // namespace
}  // namespace EngineTest
