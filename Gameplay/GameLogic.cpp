// The game-logic system's frame step, timed in the profiler as "GameLogic" with its native and script
// halves "CPPLogicUpdate" and "LuaLogicUpdate".
#include "Gameplay/GameLogic.h"

#include "Base/DebugTimer.h"
#include "Core/GameSpace.h"

namespace Gameplay {

void GameLogic::Initialize(Core::Engine* engine) {
  if (engine) Core::RegisterFrameStep<&GameLogic::FrameStep>(*engine, this, "GameLogic::FrameStep");
}

void GameLogic::FrameStep(float dt, Core::SpaceList* spaces) {
  Base::DebugTimer& timers = Base::DebugTimer::GetInstance();
  timers.StartTimer("GameLogic");
  timers.StartTimer("CPPLogicUpdate");
  // By index: a listener may create a space, which joins the list (inactive until the next update).
  for (size_t i = 0; spaces && i < spaces->size(); ++i) {
    Core::GameSpace* space = (*spaces)[i];
    if (!space || !space->IsLoaded() || !space->IsActive()) continue;
    if (!space->Paused()) space->GetHooks().Call("LogicUpdate", dt);
    space->GetHooks().Call("FrameUpdate", dt);
  }
  timers.ChainTimer("LuaLogicUpdate");
  Core::Scripts().Call("Hook:Call", "LogicUpdate", dt);
  timers.StopTimer("LuaLogicUpdate");
  timers.StopTimer("GameLogic");
}

}  // namespace Gameplay
