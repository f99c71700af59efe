// One engine frame step with 5,000 spinning objects in two game spaces (2,500 each), without scripts
// and with the engine's own scripts running, against a baseline that turns the same transforms in a
// plain loop: the ratio is what the frame's machinery (hooks, handles, systems) costs on top of the work.
// The scripts see idle input devices, as the game's do when no key is pressed; a frame that logs an
// error fails the benchmark.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/Mouse.h"
#include "Base/TraceLog.h"
#include "Core/Engine.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/InputManager.h"
#include "Core/SkyNet.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "Gameplay/GameLogic.h"
#include "bench/TraceWatch.h"

namespace FrameStepBench {

constexpr int kObjectsPerSpace = 2500;
constexpr float kDt = 1.0f / 60.0f;

void Populate(Core::GameSpace& space) {
  for (int i = 0; i < kObjectsPerSpace; ++i) {
    Core::GameObject* object = space.CreateObject();
    object->AttachComponent(space.CreateComponent(Core::ComponentType_Transform));
    auto* spinner = static_cast<Core::Spinner*>(space.CreateComponent(Core::ComponentType_Spinner));
    spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
    spinner->SetRotationSpeed(30.0f + float(i % 7));
    object->AttachComponent(spinner);
    object->Initialize();
  }
}

// Devices nobody touches: the game's scripts read them every frame, as the "keyboard" and "gamepad"
// libraries the engine publishes from the input system's backend.
class IdleInput : public Base::InputBackend {
 public:
  Base::Keyboard* GetKeyboard() override { return &m_keyboard; }
  Base::Mouse* GetMouse() override { return &m_mouse; }
  Base::Gamepad* GetGamepad() override { return &m_gamepad; }

 private:
  Base::Keyboard m_keyboard;
  Base::Mouse m_mouse;
  Base::Gamepad m_gamepad;
};

IdleInput& TheInput() {
  static IdleInput input;
  return input;
}

// An engine with the game-logic system (and, with scripts, the input system, the script-update system
// and the engine's and game's scripts), two populated spaces, already activated.
std::unique_ptr<Core::Engine> MakeEngine(bool withScripts) {
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Warning);
  auto engine = std::make_unique<Core::Engine>();
  if (withScripts) {
    engine->AddSystem(new Core::InputManager(&TheInput()));
    engine->AddSystem(new Core::SkyNet());
  }
  engine->AddSystem(new Gameplay::GameLogic());
  Core::ScriptHost* host = Core::GetScriptHost();
  if (!withScripts) Core::SetScriptHost(nullptr);
  engine->Init();
  Core::SetScriptHost(host);
  Populate(*engine->NewGameSpace("First"));
  Populate(*engine->NewGameSpace("Second"));
  engine->SetUseFixedDt(false);
  engine->FrameStep(kDt);
  return engine;
}

void RunFrames(benchmark::State& state, bool withScripts) {
  OrvBench::TraceWatch watch;
  std::unique_ptr<Core::Engine> engine = MakeEngine(withScripts);
  for (auto _ : state) engine->FrameStep(kDt);
  engine->Teardown();
  watch.Check(state);
}

void BM_FrameStep(benchmark::State& state) { RunFrames(state, false); }
void BM_FrameStepWithScripts(benchmark::State& state) { RunFrames(state, true); }

// The same rotations without the engine: every transform turned in a plain loop over the objects.
void BM_BaselinePlainLoop(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  std::unique_ptr<Core::Engine> engine = MakeEngine(false);
  std::vector<std::pair<Core::Spinner*, Core::Transform*>> pairs;
  for (Core::GameSpace* space : engine->GameSpaceList())
    for (Core::GameObject* object : space->GetObjects())
      pairs.emplace_back(object->GetComponent<Core::Spinner>(), object->GetComponent<Core::Transform>());
  for (auto _ : state) {
    for (auto [spinner, transform] : pairs) {
      Base::Quaternion rotation = transform->LocalRotation();
      rotation.RotateAroundAxis(spinner->GetRotationAxis(), spinner->GetRotationSpeed() * kDt * 0.017453292f);
      transform->SetLocalRotation(rotation);
    }
    benchmark::ClobberMemory();
  }
  engine->Teardown();
  watch.Check(state);
}

BENCHMARK(BM_BaselinePlainLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameStepWithScripts)->Unit(benchmark::kMicrosecond);

}  // namespace FrameStepBench
