// The game-logic system: every frame step, each active game space gets "LogicUpdate" (unless paused)
// and "FrameUpdate" on its hook table, then the scripts get one "LogicUpdate" for the whole frame.
#pragma once

#include <cstdint>

#include "Core/System.h"

namespace Gameplay {

class GameLogic : public Core::System {
 public:
  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "GameLogic"; }
  void FrameStep(float dt, Core::SpaceList* spaces);

 private:
  // Set at construction; nothing reads them.
  uint32_t m_reserved[2] = {0, 0};
  bool m_enabled = true;
};

}  // namespace Gameplay
