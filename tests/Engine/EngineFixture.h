// Shared by the end-to-end engine tests: an engine with the input, script-update and game-logic systems
// and the engine's own scripts, one log of what C++ and the scripts report (scripts write to it through
// EngineTest.Record), and the trace log captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/Mouse.h"
#include "Base/TraceLog.h"
#include "Core/Engine.h"
#include "Core/InputManager.h"
#include "Core/SkyNet.h"
#include "Gameplay/GameLogic.h"
#include "Lua/Environment.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/TestInput.h"

namespace EngineTest {

std::vector<std::string>& Events();

using TestInput = OrvTest::TestInput;

// The last system: logs its life and, at its frame step, the spaces it sees.
class ProbeSystem : public Core::System {
 public:
  ~ProbeSystem() override { Events().push_back("probe:destroyed"); }
  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "Probe"; }
  void Shutdown(Core::Engine*) override { Events().push_back("probe:shutdown"); }
  void FrameStep(float dt, Core::SpaceList* spaces);
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds the systems as the program does (input, script update, game logic), then the probe.
  void AddSystems();
  // Runs script text in the engine's state; returns the error, or "" when it ran.
  std::string Run(const std::string& code);
  // The value of a Lua expression as text ("nil" when it is nil).
  std::string Eval(const std::string& expression);
  std::string TakeLog() { return log_.Take(); }
  std::vector<std::string> TakeEvents();
  // Frames of the fixed dt (0.0167 s).
  void Step(int frames = 1);

  std::unique_ptr<Core::Engine> engine_ = std::make_unique<Core::Engine>();
  TestInput input_;
  OrvTest::LogCapture log_;
};

}  // namespace EngineTest
