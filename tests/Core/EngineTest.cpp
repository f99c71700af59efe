// The engine without scripts: frame time, the frame-rate controller, game spaces from creation to
// deletion, level changes between frames, the initialisation order and teardown. Script calls are
// recorded by an installed caller instead of reaching Lua.
#include "Core/Engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Core/GameSpace.h"
#include "Core/System.h"
#include "ObjectModelSupport.h"
#include "Platform/Clock.h"

namespace {

using Base::Reflection::TypeOf;
using Base::Reflection::Variant;
using Core::Engine;
using Core::GameSpace;
using ObjectModelTest::LogCapture;

// One log of everything the tests watch: script calls, hooks and systems, in the order they happen.
std::vector<std::string>& Events() { return ObjectModelTest::ScriptCalls(); }

// Entry i of a list of events, or "" when there is none.
std::string At(const std::vector<std::string>& events, size_t i) { return i < events.size() ? events[i] : ""; }

// A system that logs its life and, at its frame step, the dt and the spaces it is given.
class ProbeSystem : public Core::System {
 public:
  explicit ProbeSystem(std::string name) : name_(std::move(name)) {}
  ~ProbeSystem() override { Events().push_back(name_ + ":destroyed"); }
  void Initialize(Engine* engine) override {
    Events().push_back(name_ + ":init");
    Core::RegisterFrameStep<&ProbeSystem::FrameStep>(*engine, this, "ProbeSystem::FrameStep");
  }
  const char* GetName() const override { return name_.c_str(); }
  void Shutdown(Engine*) override { Events().push_back(name_ + ":shutdown"); }
  void FrameStep(float dt, Core::SpaceList* spaces) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", dt);
    std::string event = name_ + ":step " + text;
    for (GameSpace* space : *spaces) event += " " + space->GetName() + (space->IsActive() ? "" : "(new)");
    Events().push_back(event);
  }

 private:
  std::string name_;
};

// Engine hook listeners: "<hook>" or "<hook> <space>". Owned by the test fixture, so that they outlive
// the engine's teardown.
struct HookProbe {
  static void Plain(Variant*, void* self, Variant*, unsigned) {
    Events().push_back(static_cast<HookProbe*>(self)->name);
  }
  static void WithSpace(Variant*, void* self, Variant* args, unsigned) {
    Events().push_back(static_cast<HookProbe*>(self)->name + " " + static_cast<GameSpace*>(args[0].data)->GetName());
  }
  void Listen(Engine& engine) {
    static Base::Reflection::TypeInfo* const kSpace[] = {TypeOf<GameSpace*>()};
    const bool withSpace = name.starts_with("GameSpace");
    const Base::Function fn(Base::Signature(nullptr, withSpace ? kSpace : nullptr, nullptr, withSpace ? 1 : 0),
                            withSpace ? &WithSpace : &Plain, name);
    engine.GetHooks().AddSystemListener(name, this, fn);
  }
  std::string name;
};

class EngineTest : public ObjectModelTest::ObjectModelTestBase {
 protected:
  void TearDown() override {
    engine_->Teardown();
    ObjectModelTestBase::TearDown();
  }
  std::vector<std::string> TakeEvents() { return std::exchange(Events(), {}); }
  void Listen(const char* hook) { probes_.emplace_back(HookProbe{hook}).Listen(*engine_); }

  std::deque<HookProbe> probes_;
  std::unique_ptr<Engine> engine_ = std::make_unique<Engine>();
};

TEST_F(EngineTest, FrameStepClampsDtAndCountsWholeMilliseconds) {
  Engine& engine = *engine_;
  engine.AddSystem(new ProbeSystem("probe"));
  engine.Init();
  TakeEvents();

  engine.SetUseFixedDt(false);
  EXPECT_TRUE(engine.FrameStep(0.5f));
  EXPECT_EQ(engine.CurrentTime(), 100u);
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"Hook:Call(\"PreFrameStep\", 0.1)", "probe:step 0.1",
                                                    "Hook:Call(\"PostFrameStep\", 0.1)"}));
  engine.FrameStep(0.1f);  // the limit itself passes
  EXPECT_EQ(engine.CurrentTime(), 200u);

  // The fraction of a millisecond is lost every frame: sixty 60 Hz frames add 960 ms, not 1000.
  for (int i = 0; i < 60; ++i) engine.FrameStep(1.0f / 60.0f);
  EXPECT_EQ(engine.CurrentTime(), 1160u);

  // A broken clock cannot run time backwards.
  engine.FrameStep(-1.0f);
  engine.FrameStep(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(engine.CurrentTime(), 1160u);

  engine.SetUseFixedDt(true);
  TakeEvents();
  engine.FrameStep(0.5f);
  EXPECT_EQ(engine.CurrentTime(), 1176u);
  EXPECT_EQ(At(TakeEvents(), 1), "probe:step 0.0167");

  engine.Quit();
  EXPECT_FALSE(engine.FrameStep(0.0f));
  EXPECT_FALSE(engine.Step(0.0f));
}

TEST(FrameRateControllerTest, PacesInWholeMilliseconds) {
  static int64_t now = 0;
  Platform::SetTickSource([] { return now; });
  LogCapture log;
  Core::FrameRateController pacer;
  pacer.SetTargetFramerate(60);
  pacer.SetDtSway(0);
  EXPECT_EQ(log.Take(),
            "[ Debug ][Core] Set Target Framerate to 60\n[ Debug ][Core] Set dt sway amount to 0\n");

  // The first frame is due at once and reports a 60 Hz frame time.
  EXPECT_TRUE(pacer.IsFrameDue());
  EXPECT_FLOAT_EQ(pacer.GetFrameTime(), 16666.668f);

  now = 1000;
  pacer.BeginFrame();
  now += 400000;  // 40 ms of work
  pacer.EndFrame();
  EXPECT_FLOAT_EQ(pacer.GetFrameTime(), 40000.0f);

  now = 2000000;
  pacer.BeginFrame();
  now += 50000;  // 5 ms of work
  pacer.EndFrame();
  EXPECT_FLOAT_EQ(pacer.GetFrameTime(), 16666.668f);
  now = 2000000 + 159999;
  EXPECT_FALSE(pacer.IsFrameDue());
  now += 1;
  EXPECT_TRUE(pacer.IsFrameDue());

  pacer.SetDtSway(2);
  pacer.EndFrame();
  EXPECT_EQ(pacer.m_nextFrameDue, 2000000 + 140000);
  Platform::SetTickSource(nullptr);
}

TEST_F(EngineTest, SpacesJoinAtTheNextUpdateAndLeaveWithTheirNotifications) {
  Engine& engine = *engine_;
  Listen("GameSpaceCreated");
  Listen("GameSpaceDeleted");

  GameSpace* a = engine.NewGameSpace("A");
  GameSpace* b = engine.NewGameSpace("B");
  GameSpace* c = engine.NewGameSpace("C");
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"game:NewGameSpace(\"A\", space A)", "GameSpaceCreated A",
                                                    "game:NewGameSpace(\"B\", space B)", "GameSpaceCreated B",
                                                    "game:NewGameSpace(\"C\", space C)", "GameSpaceCreated C"}));
  EXPECT_NE(a->GetSpaceComponent(0), nullptr);
  log_.Take();
  EXPECT_EQ(engine.NewGameSpace("A"), a);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Attempted to create two spaces named \"A\"\n");
  EXPECT_TRUE(TakeEvents().empty());

  // Not active, so not deletable, until the engine's next space update.
  EXPECT_FALSE(a->IsActive());
  engine.MarkForDeletion(a);
  engine.UpdateSpaces();
  EXPECT_TRUE(a->IsActive());
  EXPECT_EQ(engine.GetGameSpace("A"), a);

  engine.MarkForDeletion(a);
  engine.MarkForDeletion(a);  // marked once
  EXPECT_EQ(engine.GameSpaceList(), (std::vector<GameSpace*>{a, b, c}));
  engine.UpdateSpaces();
  // The last space takes the deleted one's place; the scripts hear of the deletion after the space is
  // gone, by a name that outlived it.
  EXPECT_EQ(engine.GameSpaceList(), (std::vector<GameSpace*>{c, b}));
  EXPECT_EQ(engine.GetGameSpace("A"), nullptr);
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"GameSpaceDeleted A", "Hook:Call(\"GameSpaceDeleted\", \"A\")",
                                                    "game:RemoveGameSpace(\"A\")"}));
  EXPECT_NE(log_.Take().find("[ Info  ][Core] Deleting GameSpace: \"A\"\n"), std::string::npos);

  engine.DeleteGameSpace(a);  // no longer live: refused
  EXPECT_EQ(log_.Take(), "[ Error ][Core] Attempted to delete a game space that is not live\n");
}

TEST_F(EngineTest, ALevelChangeIsAppliedAtTheEndOfTheStep) {
  Engine& engine = *engine_;
  engine.AddSystem(new ProbeSystem("probe"));
  engine.Init();
  engine.SetUseFixedDt(false);
  engine.ChangeLevel("Splash");
  engine.ChangeLevel("Sandbox");  // the last request of a frame wins
  TakeEvents();

  engine.FrameStep(0.01f);
  std::vector<std::string> events = TakeEvents();
  EXPECT_EQ(At(events, 1), "probe:step 0.01");  // no space yet during the step
  EXPECT_EQ(engine.CurrentLevel(), "Sandbox");
  EXPECT_FALSE(engine.IsLevelChangePending());
  ASSERT_EQ(engine.GameSpaceList().size(), 2u);

  engine.FrameStep(0.01f);
  EXPECT_EQ(At(TakeEvents(), 1), "probe:step 0.01 SandboxWorld(new) SandboxSky(new)");
  engine.FrameStep(0.01f);
  EXPECT_EQ(At(TakeEvents(), 1), "probe:step 0.01 SandboxWorld SandboxSky");

  // A space made after the frame's space update of a restarting frame is not live when the level goes:
  // it survives, and the level change's own update activates it.
  engine.RestartLevel();
  ObjectModelTest::OnScriptCall() = [&](const std::string& call) {
    if (call.starts_with("Hook:Call(\"PostFrameStep\"")) engine.NewGameSpace("Late");
  };
  engine.FrameStep(0.01f);
  ObjectModelTest::OnScriptCall() = nullptr;
  std::vector<std::string> names;
  for (GameSpace* space : engine.GameSpaceList()) names.push_back(space->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"Late", "SandboxWorld", "SandboxSky"}));
  EXPECT_TRUE(engine.GetGameSpace("Late")->IsActive());
  EXPECT_FALSE(engine.GetGameSpace("SandboxWorld")->IsActive());
}

TEST_F(EngineTest, InitRunsInOrderAndTeardownUndoesItOnce) {
  Engine& engine = *engine_;
  engine.AddSystem(new ProbeSystem("first"));
  engine.AddSystem(new ProbeSystem("second"));
  for (const char* hook : {"SystemPostInit", "LuaPostInit", "EnginePostInit", "GameSpaceDeleted"}) Listen(hook);

  engine.Init();
  EXPECT_TRUE(engine.IsRunning());
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"first:init", "second:init", "SystemPostInit", "LuaPostInit",
                                                    "game:SendComponentList()", "EnginePostInit"}));
  engine.Init();  // once only
  EXPECT_TRUE(TakeEvents().empty());

  engine.NewGameSpace("Live");
  engine.FrameStep(0.0f);
  engine.NewGameSpace("Fresh");  // never activated
  TakeEvents();

  engine.Teardown();
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"GameSpaceDeleted Live", "Hook:Call(\"GameSpaceDeleted\", \"Live\")",
                                      "game:RemoveGameSpace(\"Live\")", "GameSpaceDeleted Fresh",
                                      "Hook:Call(\"GameSpaceDeleted\", \"Fresh\")", "game:RemoveGameSpace(\"Fresh\")",
                                      "first:shutdown", "first:destroyed", "second:shutdown", "second:destroyed"}));
  EXPECT_TRUE(engine.GameSpaceList().empty());
  EXPECT_EQ(Core::GetEngineHooks(), nullptr);
  engine.Teardown();
  EXPECT_TRUE(TakeEvents().empty());

  // A torn-down engine starts again from scratch.
  engine.AddSystem(new ProbeSystem("again"));
  engine.Init();
  engine.FrameStep(0.0f);
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"again:init", "game:SendComponentList()",
                                                    "Hook:Call(\"PreFrameStep\", 0.0167)", "again:step 0.0167",
                                                    "Hook:Call(\"PostFrameStep\", 0.0167)"}));
  EXPECT_EQ(engine.CurrentTime(), 16u);
}

}  // namespace
