// The program's main loop in process, on a clock driven by hand: the frame time each frame step gets,
// minimised passes, and a close request that leaves the loop running.
#include "Vantor/Program.h"

#include <gtest/gtest.h>

#include "Audio/SoundSystem.h"
#include "Core/GameSpace.h"
#include "Core/Hooks.h"
#include "Core/InputManager.h"
#include "Core/System.h"
#include "Graphics/GraphicsMaster.h"
#include "Platform/Clock.h"
#include "Vantor/Win32InputBackend.h"
#include "Vantor/Window32.h"
#include "tests/Support/LogCapture.h"

namespace {

using Platform::WindowEvent;
using Vantor::Program;

int64_t g_now = 0;
int64_t HandClock() { return g_now; }
constexpr int64_t kMillisecond = Platform::kTicksPerSecond / 1000;

// Added after the program's systems: records the dt of each frame step, then lets the frame "take"
// the time the test asks for.
class FrameProbe : public Core::System {
 public:
  void Initialize(Core::Engine* engine) override {
    Core::RegisterFrameStep<&FrameProbe::FrameStep>(*engine, this, "FrameProbe::FrameStep");
  }
  const char* GetName() const override { return "FrameProbe"; }
  void FrameStep(float dt, Core::SpaceList*) {
    dts.push_back(dt);
    g_now += workTicks;
  }
  void CountStep(float) { ++steps; }

  std::vector<float> dts;
  int64_t workTicks = 0;
  int steps = 0;
};

// What the program's teardown had done when the last system shut down, and when the window went.
struct TeardownSeen {
  bool lastSystemShutDown = false;
  bool inputSystemGone = false;
  bool soundSystemGone = false;
  bool canvasGone = false;
  bool windowThereForSystems = false;
  bool devicesThereForSystems = false;
  bool windowClosed = false;
  size_t systemsLeftForWindow = 0;
  bool devicesThereForWindow = false;
};

// Added after every other system, so the engine shuts it down last.
class LastSystemProbe : public Core::System {
 public:
  LastSystemProbe(Program& program, TeardownSeen& seen) : m_program(program), m_seen(seen) {}
  const char* GetName() const override { return "LastSystemProbe"; }
  void Shutdown(Core::Engine*) override {
    m_seen.lastSystemShutDown = true;
    m_seen.inputSystemGone = Core::InputManager::GetInstance() == nullptr;
    m_seen.soundSystemGone = Audio::SoundSystem::GetInstance() == nullptr;
    Vantor::Window32* window = m_program.GetWindow();
    m_seen.windowThereForSystems = window != nullptr;
    m_seen.canvasGone = window && !Graphics::GraphicsMaster::GetInstance().GetCanvas(window->GetCanvasId());
    m_seen.devicesThereForSystems = m_program.GetInput() != nullptr;
  }

 private:
  Program& m_program;
  TeardownSeen& m_seen;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000 * kMillisecond;
    Platform::SetTickSource(&HandClock);
    program_.Init();
    probe_ = new FrameProbe();
    program_.GetEngine().AddSystem(probe_);
    probe_->Initialize(&program_.GetEngine());
    static const Base::Function step(Base::MakeSignature<&FrameProbe::CountStep>(),
                                     &Base::Thunk<&FrameProbe::CountStep>, "FrameProbe::CountStep");
    program_.GetEngine().GetHooks().AddSystemListener("Step", probe_, step);
  }
  void TearDown() override {
    EXPECT_EQ(program_.Shutdown(), 0);
    Platform::SetTickSource(nullptr);
  }
  void Inject(WindowEvent::Kind kind) {
    WindowEvent event;
    event.kind = kind;
    program_.GetWindow()->HandleEvent(event);
  }

  OrvTest::LogCapture log_;
  Program program_;
  FrameProbe* probe_ = nullptr;  // owned by the engine
};

TEST_F(ProgramTest, EachFrameGetsTheLastFramesTimeButNeverLessThanASixtieth) {
  probe_->workTicks = 40 * kMillisecond;
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  probe_->workTicks = 5 * kMillisecond;
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);  // 40 ms passed: due at once
  // 5 ms of work: the next frame is due 16 ms after this one began; until then the loop polls.
  EXPECT_EQ(program_.RunPass(), Program::Pass::Poll);
  g_now += 11 * kMillisecond;
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  ASSERT_EQ(probe_->dts.size(), 3u);
  EXPECT_FLOAT_EQ(probe_->dts[0], 1.0f / 60.0f);
  EXPECT_FLOAT_EQ(probe_->dts[1], 0.04f);
  EXPECT_FLOAT_EQ(probe_->dts[2], 1.0f / 60.0f);
  EXPECT_EQ(probe_->steps, 4);
  // The first level came with the end of the first frame step.
  EXPECT_NE(program_.GetEngine().GetGameSpace("SplashScreen"), nullptr);
}

TEST_F(ProgramTest, AMinimisedWindowSleepsThroughPassesThatStillStep) {
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  Inject(WindowEvent::FocusLost);
  ASSERT_TRUE(program_.GetWindow()->IsMinimized());
  Base::Keyboard& keyboard = *program_.GetInput()->GetKeyboard();
  program_.GetInput()->KeyEvent('A', true);
  g_now += 100 * kMillisecond;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(program_.RunPass(), Program::Pass::Sleep);
  EXPECT_EQ(probe_->dts.size(), 1u);
  EXPECT_EQ(probe_->steps, 4);
  EXPECT_TRUE(keyboard.IsKeyPressed(Base::Key_A));  // no update while minimised

  Inject(WindowEvent::FocusGained);
  EXPECT_FALSE(program_.GetWindow()->IsMinimized());
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  EXPECT_FALSE(keyboard.IsKeyPressed(Base::Key_A));
}

TEST_F(ProgramTest, ClosingTheWindowDoesNotEndTheLoopButAScriptQuitDoes) {
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  // The game's own scripts quit on a close request: without them, the loop goes on.
  Core::Scripts().Call("Hook:Remove", "GameWindowClose", "Levels");
  Inject(WindowEvent::CloseRequest);
  EXPECT_TRUE(program_.GetEngine().IsRunning());
  g_now += 20 * kMillisecond;
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);

  program_.GetInput()->KeyEvent(27, true);  // Escape, seen by the next frame's logic
  g_now += 20 * kMillisecond;
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  EXPECT_FALSE(program_.GetEngine().IsRunning());
  EXPECT_EQ(probe_->dts.size(), 3u);
}

// The six systems in the order that sets their initialisation, frame steps and shutdown; at the end
// the systems go first, each shut down and destroyed in that order, then the window, then the input
// devices.
TEST_F(ProgramTest, SystemsRunInTheirFixedOrderAndGoBeforeTheWindowAndTheDevices) {
  std::vector<std::string> names;
  for (const Core::System* system : program_.GetEngine().GetSystems()) names.push_back(system->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"InputManager", "SkyNet", "GameLogic", "PhysicsSystem", "GRAPHICS",
                                             "SoundSystem", "FrameProbe"}));

  TeardownSeen seen;
  program_.GetEngine().AddSystem(new LastSystemProbe(program_, seen));
  program_.GetWindow()->AddCloseCallback([this, &seen] {
    seen.windowClosed = true;
    seen.systemsLeftForWindow = program_.GetEngine().GetSystems().size();
    seen.devicesThereForWindow = program_.GetInput() != nullptr;
  });
  EXPECT_EQ(program_.RunPass(), Program::Pass::Frame);
  EXPECT_EQ(program_.Shutdown(), 0);

  ASSERT_TRUE(seen.lastSystemShutDown);
  // Shut down last, after the first system and the sixth had gone and the graphics had let go of the
  // window's canvas.
  EXPECT_TRUE(seen.inputSystemGone);
  EXPECT_TRUE(seen.soundSystemGone);
  EXPECT_TRUE(seen.canvasGone);
  EXPECT_TRUE(seen.windowThereForSystems);
  EXPECT_TRUE(seen.devicesThereForSystems);
  ASSERT_TRUE(seen.windowClosed);
  EXPECT_EQ(seen.systemsLeftForWindow, 0u);
  EXPECT_TRUE(seen.devicesThereForWindow);
  EXPECT_EQ(program_.GetWindow(), nullptr);
  EXPECT_EQ(program_.GetInput(), nullptr);
}

}  // namespace
