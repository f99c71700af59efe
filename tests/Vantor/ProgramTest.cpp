// The program's main loop in process, on a clock driven by hand: the frame time each frame step gets,
// minimised passes, and a close request that leaves the loop running.
#include "Vantor/Program.h"

#include <gtest/gtest.h>

#include "Core/GameSpace.h"
#include "Core/Hooks.h"
#include "Core/System.h"
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

}  // namespace
