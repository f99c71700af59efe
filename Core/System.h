// The interface of a per-frame system: the engine initialises its systems in the order they were added,
// each registers its frame step on the engine hook "FrameStep", and the engine shuts them down and
// destroys them in that same order.
#pragma once

#include <vector>

#include "Base/function/Thunk.h"

namespace Core {

class Engine;
class GameSpace;

// What every frame step receives after dt: the engine's list of live game spaces.
using SpaceList = std::vector<GameSpace*>;

class System {
 public:
  System() = default;
  System(const System&) = delete;
  System& operator=(const System&) = delete;
  // The engine deletes its systems through this after their Shutdown.
  virtual ~System() = default;

  // Registers the frame step (see RegisterFrameStep) and whatever else the system needs from the engine.
  virtual void Initialize(Engine* engine) { (void)engine; }
  virtual const char* GetName() const = 0;
  // Runs once at the end of the run, before the system is destroyed, in the order systems were added.
  virtual void Shutdown(Engine* engine) { (void)engine; }
};

// Registers `Step`, a method `void (float dt, SpaceList* spaces)` of the system, under `name`
// ("InputManager::FrameStep") on the engine hook "FrameStep". Engine listeners run in the order they
// registered, so frame steps follow the order in which systems initialise.
template <auto Step, class S>
void RegisterFrameStep(Engine& engine, S* system, const char* name);

}  // namespace Core

#include "Core/Engine.h"

namespace Core {

template <auto Step, class S>
void RegisterFrameStep(Engine& engine, S* system, const char* name) {
  static_assert(std::is_base_of_v<System, S>);
  const Base::Function step(Base::MakeSignature<Step>(), &Base::Thunk<Step>, name);
  engine.GetHooks().AddSystemListener("FrameStep", system, step);
}

}  // namespace Core
